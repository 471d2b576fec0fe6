#include "core/tasks/TaskIsServiceInstalled.h"

#include "common/win/UniqueHandles.h"
#include "core/report/IReporter.h"
#include "core/tasks/ServiceStartTask.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskIsServiceInstalled::s_dwFactoryRegistration = CTaskIsServiceInstalled::PerformFactoryRegistration();

DWORD CTaskIsServiceInstalled::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskIsServiceInstalled::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_,
                                 [&] { return kvx::CTaskConfigReader(kvxFunctionName_).ReadOneText(params, m_strService); });
}

DWORD CTaskIsServiceInstalled::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskIsServiceInstalled::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        DWORD dwResult = KVXDIAG2_OK;
        if (m_strService.empty()) {
            // The services key itself exists; it must not pass for a service with no name.
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! No se ha indicado el nombre del servicio.");
            dwResult = KVXDIAG2_ERR_BAD_PARAMETER;
        } else {
            const std::string keyPath = std::string(KVXDIAG2_SERVICES_KEY) + m_strService;
            kvx::UniqueHkey key;
            const LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.put());
            if (rc == ERROR_SUCCESS) {
                m_installed.SetData(true);
            } else if (rc == ERROR_FILE_NOT_FOUND) {
                m_installed.SetData(false);
            } else {
                KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo abrir la clave %s. Error: %ld", keyPath.c_str(),
                        static_cast<long>(rc));
                dwResult = static_cast<DWORD>(rc);
            }
        }
        if (pReporter != nullptr) {
            bool bInstalled = false;
            m_installed.GetData(bInstalled);
            if (dwResult != KVXDIAG2_OK) {
                pReporter->Report("Failed to determine if service '%s' is installed.", m_strService.c_str());
            } else if (bInstalled) {
                pReporter->Report("Service '%s' is installed.", m_strService.c_str());
            } else {
                pReporter->Report("Service '%s' is not installed.", m_strService.c_str());
            }
        }
        return dwResult;
    });
}

DWORD CTaskIsServiceInstalled::GetResults(ITaskData** ppResult)
{
    KVX_FUNCTION("CTaskIsServiceInstalled::GetResults");
    return HandOut(m_installed, ppResult);
}
