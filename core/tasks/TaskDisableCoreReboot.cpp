#include "core/tasks/TaskDisableCoreReboot.h"

#include "core/interface/ResumeState.h"
#include "core/tasks/ResumeStateRegistry.h"

const DWORD CTaskDisableCoreReboot::s_dwFactoryRegistration = CTaskDisableCoreReboot::PerformFactoryRegistration();

DWORD CTaskDisableCoreReboot::SetConfig(const TaskDataList&)
{
    KVX_FUNCTION("CTaskDisableCoreReboot::SetConfig");
    return KVXDIAG2_OK;
}

DWORD CTaskDisableCoreReboot::Execute(IReporter*)
{
    KVX_FUNCTION("CTaskDisableCoreReboot::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        kvx::UniqueHkey key;
        DWORD dwResult = kvx::OpenResumeKey(false, key);
        if (dwResult != ERROR_SUCCESS) {
            kvx::LogRegistryFailure(kvxFunctionName_,
                                    std::string("Error! No se pudo abrir la clave ") + KVXDIAG2_RESUME_KEY, dwResult);
            return dwResult;
        }
        // The step goes first: without it nothing is pending, whatever happens to the directory.
        for (const char* pszValue : {KVXDIAG2_RESUME_CURRENT_STEP, KVXDIAG2_RESUME_RESULTS_DIR}) {
            dwResult = static_cast<DWORD>(::RegDeleteValueA(key.get(), pszValue));
            if (dwResult != ERROR_SUCCESS) {
                kvx::LogRegistryFailure(kvxFunctionName_,
                                        std::string("Error! No se pudo eliminar el valor ") + pszValue, dwResult);
                return dwResult;
            }
        }
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Eliminado con éxito los restos de análisis en profundidad pendientes.");
        return KVXDIAG2_OK;
    });
}
