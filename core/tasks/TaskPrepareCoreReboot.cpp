#include "core/tasks/TaskPrepareCoreReboot.h"

#include "core/interface/ResumeState.h"
#include "core/tasks/ResumeStateRegistry.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskPrepareCoreReboot::s_dwFactoryRegistration = CTaskPrepareCoreReboot::PerformFactoryRegistration();

DWORD CTaskPrepareCoreReboot::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskPrepareCoreReboot::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        // A step of the wrong width is bad data rather than a bad type: it is answered with 13, unlike the
        // other mixed lists, before the shared reader looks at the list.
        if (!params.empty() && params[0] != nullptr && params[0]->GetType() == eKVXDiagTLVType_LONG) {
            TaskDataTLV tlv = {};
            params[0]->GetData(tlv);
            if (tlv.type == eKVXDiagTLVType_LONG && tlv.length != sizeof(DWORD)) {
                KVX_LOG(eKVXDiagLog_ERROR, "Error! El tamaño no corresponde al tipo. Esperado: %d. Recibido: %d.",
                        static_cast<int>(sizeof(DWORD)), static_cast<int>(tlv.length));
                return static_cast<DWORD>(ERROR_INVALID_DATA);
            }
        }
        return kvx::CTaskConfigReader(kvxFunctionName_)
            .ReadFields(params, {kvx::CTaskField::Long(m_dwStep), kvx::CTaskField::Text(m_strResultsDirectory)});
    });
}

DWORD CTaskPrepareCoreReboot::Execute(IReporter*)
{
    KVX_FUNCTION("CTaskPrepareCoreReboot::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        kvx::UniqueHkey key;
        DWORD dwResult = kvx::OpenResumeKey(true, key);
        if (dwResult != ERROR_SUCCESS) {
            kvx::LogRegistryFailure(kvxFunctionName_,
                                    std::string("Error! No se pudo crear la clave ") + KVXDIAG2_RESUME_KEY, dwResult);
            return dwResult;
        }
        // Only the directory decides whether the analysis resumes, so a failed step is logged and the
        // directory's outcome is the task's.
        dwResult = static_cast<DWORD>(::RegSetValueExA(key.get(), KVXDIAG2_RESUME_CURRENT_STEP, 0, REG_DWORD,
                                                       reinterpret_cast<const BYTE*>(&m_dwStep), sizeof m_dwStep));
        if (dwResult != ERROR_SUCCESS) {
            kvx::LogRegistryFailure(kvxFunctionName_,
                                    std::string("Error! No se pudo escribir el valor ") + KVXDIAG2_RESUME_CURRENT_STEP,
                                    dwResult);
        }
        dwResult = kvx::SetStringValue(key.get(), KVXDIAG2_RESUME_RESULTS_DIR, m_strResultsDirectory);
        if (dwResult != ERROR_SUCCESS) {
            kvx::LogRegistryFailure(kvxFunctionName_,
                                    std::string("Error! No se pudo escribir el valor ") + KVXDIAG2_RESUME_RESULTS_DIR,
                                    dwResult);
            return dwResult;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Estado almacenado. Paso: 0x%lX. Directorio: %s",
                static_cast<unsigned long>(m_dwStep), m_strResultsDirectory.c_str());
        return KVXDIAG2_OK;
    });
}
