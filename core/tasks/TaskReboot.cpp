#include "core/tasks/TaskReboot.h"

const DWORD CTaskReboot::s_dwFactoryRegistration = CTaskReboot::PerformFactoryRegistration();

DWORD CTaskReboot::SetConfig(const TaskDataList&)
{
    KVX_FUNCTION("CTaskReboot::SetConfig");
    return ERROR_NOT_SUPPORTED;
}

DWORD CTaskReboot::Execute(IReporter*)
{
    KVX_FUNCTION("CTaskReboot::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (SysUtilsMissing(kvxFunctionName_)) {
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        const DWORD dwResult = m_sysUtils->Reboot();
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo lanzar el reinicio del sistema. Error devuelto: 0x%lX",
                    static_cast<unsigned long>(dwResult));
        }
        return dwResult;
    });
}
