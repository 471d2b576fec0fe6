#include "core/tasks/TaskPrepareProcessReboot.h"

#include "core/tasks/ResumeStateRegistry.h"
#include "core/tasks/TaskConfigReader.h"

#include <io.h>

const DWORD CTaskPrepareProcessReboot::s_dwFactoryRegistration =
    CTaskPrepareProcessReboot::PerformFactoryRegistration();

std::string CTaskPrepareProcessReboot::MakeAutostartCommand(const std::string& processPath)
{
    std::string command = processPath;
    const std::string::size_type position = command.rfind(".exe");
    if (position != std::string::npos) {
        command.replace(position, 4, ".bat");
    }
    return "\"" + command + "\"";
}

DWORD CTaskPrepareProcessReboot::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskPrepareProcessReboot::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        return kvx::CTaskConfigReader(kvxFunctionName_).ReadOneText(params, m_strProcessPath);
    });
}

DWORD CTaskPrepareProcessReboot::Execute(IReporter*)
{
    KVX_FUNCTION("CTaskPrepareProcessReboot::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (m_strProcessPath.empty()) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El path al proceso actual no es correcto ya que esta vacio.");
            return KVXDIAG2_ERR_NOT_FOUND;
        }
        if (::_access(m_strProcessPath.c_str(), 0) != 0) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! El path al proceso actual no es correcto: %s", m_strProcessPath.c_str());
            return KVXDIAG2_ERR_NOT_FOUND;
        }
        kvx::UniqueHkey key;
        DWORD dwResult = kvx::OpenRunKey(key);
        if (dwResult != ERROR_SUCCESS) {
            kvx::LogRegistryFailure(kvxFunctionName_,
                                    std::string("Error! No se pudo abrir la clave ") + KVXDIAG2_RUN_KEY, dwResult);
            return dwResult;
        }
        const std::string command = MakeAutostartCommand(m_strProcessPath);
        dwResult = kvx::SetStringValue(key.get(), KVXDIAG2_AUTOSTART_VALUE, command);
        if (dwResult != ERROR_SUCCESS) {
            kvx::LogRegistryFailure(kvxFunctionName_,
                                    std::string("Error! No se pudo escribir el valor ") + KVXDIAG2_AUTOSTART_VALUE,
                                    dwResult);
            return dwResult;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Autoarranque preparado: %s", command.c_str());
        return KVXDIAG2_OK;
    });
}
