#include "core/tasks/TaskDisableProcessReboot.h"

#include "core/tasks/ResumeStateRegistry.h"

const DWORD CTaskDisableProcessReboot::s_dwFactoryRegistration =
    CTaskDisableProcessReboot::PerformFactoryRegistration();

DWORD CTaskDisableProcessReboot::SetConfig(const TaskDataList&)
{
    KVX_FUNCTION("CTaskDisableProcessReboot::SetConfig");
    return KVXDIAG2_OK;
}

DWORD CTaskDisableProcessReboot::Execute(IReporter*)
{
    KVX_FUNCTION("CTaskDisableProcessReboot::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        kvx::UniqueHkey key;
        DWORD dwResult = kvx::OpenRunKey(key);
        if (dwResult != ERROR_SUCCESS) {
            kvx::LogRegistryFailure(kvxFunctionName_,
                                    std::string("Error! No se pudo abrir la clave ") + KVXDIAG2_RUN_KEY, dwResult);
            return dwResult;
        }
        dwResult = static_cast<DWORD>(::RegDeleteValueA(key.get(), KVXDIAG2_AUTOSTART_VALUE));
        if (dwResult != ERROR_SUCCESS) {
            kvx::LogRegistryFailure(kvxFunctionName_,
                                    std::string("Error! No se pudo eliminar el valor ") + KVXDIAG2_AUTOSTART_VALUE,
                                    dwResult);
            return dwResult;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Eliminado el valor %s.", KVXDIAG2_AUTOSTART_VALUE);
        return KVXDIAG2_OK;
    });
}
