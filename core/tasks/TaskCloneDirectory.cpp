#include "core/tasks/TaskCloneDirectory.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskCloneDirectory::s_dwFactoryRegistration = CTaskCloneDirectory::PerformFactoryRegistration();

DWORD CTaskCloneDirectory::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskCloneDirectory::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        return kvx::CTaskConfigReader(kvxFunctionName_).ReadTexts(params, {&m_strSource, &m_strDestination});
    });
}

DWORD CTaskCloneDirectory::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskCloneDirectory::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (SysUtilsMissing(kvxFunctionName_)) {
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        const DWORD dwResult = m_sysUtils->CloneDirectory(m_strSource, m_strDestination);
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("Directory %s cloned at %s", m_strSource.c_str(), m_strDestination.c_str());
            } else {
                pReporter->Report("Error! Fail to clone directory from %s to %s", m_strSource.c_str(),
                                  m_strDestination.c_str());
            }
        }
        return dwResult;
    });
}
