#include "core/tasks/TaskMakeKVXDIAG2TempDir.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskMakeKVXDIAG2TempDir::s_dwFactoryRegistration = CTaskMakeKVXDIAG2TempDir::PerformFactoryRegistration();

DWORD CTaskMakeKVXDIAG2TempDir::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskMakeKVXDIAG2TempDir::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_,
                                 [&] { return kvx::CTaskConfigReader(kvxFunctionName_).ReadOneText(params, m_strName); });
}

DWORD CTaskMakeKVXDIAG2TempDir::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskMakeKVXDIAG2TempDir::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (SysUtilsMissing(kvxFunctionName_)) {
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        std::string path;
        const DWORD dwResult = m_sysUtils->MakeTempDirectory(m_strName, path);
        if (dwResult != KVXDIAG2_OK) {
            path.clear();
        }
        m_path.SetData(path);
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("Temp path for KVXDIAG2 results created: %s", path.c_str());
            } else {
                pReporter->Report("Error! Fail to create temp path: %s", path.c_str());
            }
        }
        return dwResult;
    });
}

DWORD CTaskMakeKVXDIAG2TempDir::GetResults(ITaskData** ppResult)
{
    KVX_FUNCTION("CTaskMakeKVXDIAG2TempDir::GetResults");
    return HandOut(m_path, ppResult);
}
