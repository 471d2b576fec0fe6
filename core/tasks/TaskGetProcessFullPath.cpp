#include "core/tasks/TaskGetProcessFullPath.h"

const DWORD CTaskGetProcessFullPath::s_dwFactoryRegistration = CTaskGetProcessFullPath::PerformFactoryRegistration();

DWORD CTaskGetProcessFullPath::SetConfig(const TaskDataList&)
{
    KVX_FUNCTION("CTaskGetProcessFullPath::SetConfig");
    return ERROR_NOT_SUPPORTED;
}

DWORD CTaskGetProcessFullPath::Execute(IReporter*)
{
    KVX_FUNCTION("CTaskGetProcessFullPath::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (SysUtilsMissing(kvxFunctionName_)) {
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        return m_sysUtils->GetCurrentProcessFullPath(m_strPath);
    });
}

DWORD CTaskGetProcessFullPath::GetResults(ITaskData** ppResult)
{
    KVX_FUNCTION("CTaskGetProcessFullPath::GetResults");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (m_strPath.empty()) {
            return NoResult(ppResult);
        }
        m_path.SetData(m_strPath);
        return HandOut(m_path, ppResult);
    });
}
