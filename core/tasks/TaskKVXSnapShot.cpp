#include "core/tasks/TaskKVXSnapShot.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskKVXSnapShot::s_dwFactoryRegistration = CTaskKVXSnapShot::PerformFactoryRegistration();

CTaskKVXSnapShot::CTaskKVXSnapShot() : m_api(KVXDIAG2_HELPER_KVXAPI) {}

DWORD CTaskKVXSnapShot::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskKVXSnapShot::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_,
                                 [&] { return kvx::CTaskConfigReader(kvxFunctionName_).ReadOneText(params, m_strPath); });
}

DWORD CTaskKVXSnapShot::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskKVXSnapShot::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        DWORD dwResult = KVXDIAG2_ERR_NO_LIBRARY;
        if (!m_api) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", kvx::KVXTASK_KVXAPI_MISSING);
        } else {
            // The adapter's own code is passed on: a snapshot the product did not write is not evidence.
            dwResult = m_api->SnapShot(m_strPath);
        }
        LogOutcome(kvxFunctionName_, dwResult, "Obtención del snapshot");
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("Snapshot generated at %s", m_strPath.c_str());
            } else {
                pReporter->Report("Failed to generate snapshot at %s.", m_strPath.c_str());
            }
        }
        return dwResult;
    });
}
