#include "core/tasks/TaskMakeDirectoryTree.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskMakeDirectoryTree::s_dwFactoryRegistration = CTaskMakeDirectoryTree::PerformFactoryRegistration();

DWORD CTaskMakeDirectoryTree::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskMakeDirectoryTree::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        const DWORD dwResult = kvx::CTaskConfigReader(kvxFunctionName_).ReadOneText(params, m_strPath);
        m_path.SetData(m_strPath);
        return dwResult;
    });
}

DWORD CTaskMakeDirectoryTree::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskMakeDirectoryTree::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (SysUtilsMissing(kvxFunctionName_)) {
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        const DWORD dwResult = m_sysUtils->MakeDirectoryTree(m_strPath);
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("Directory tree created: %s", m_strPath.c_str());
            } else {
                pReporter->Report("Error! Fail to create directory tree: %s", m_strPath.c_str());
            }
        }
        return dwResult;
    });
}

DWORD CTaskMakeDirectoryTree::GetResults(ITaskData** ppResult)
{
    KVX_FUNCTION("CTaskMakeDirectoryTree::GetResults");
    return HandOut(m_path, ppResult);
}
