#include "core/tasks/TaskDisableModuleLog.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskDisableModuleLog::s_dwFactoryRegistration = CTaskDisableModuleLog::PerformFactoryRegistration();

DWORD CTaskDisableModuleLog::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskDisableModuleLog::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        return kvx::CTaskConfigReader(kvxFunctionName_).ReadFields(params, {kvx::CTaskField::Long(m_dwModuleId)});
    });
}

DWORD CTaskDisableModuleLog::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskDisableModuleLog::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        const DWORD dwResult = WithAdapter(
            kvxFunctionName_, [&](CKVXApiHelper& api) { return api.DisableLogModule(m_dwModuleId); });
        LogOutcome(kvxFunctionName_, dwResult, "Desactivación del log de módulo");
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("Log disabled for 0x%lX module.", static_cast<unsigned long>(m_dwModuleId));
            } else {
                pReporter->Report("Failed to disable log for 0x%lX module. Error: 0x%lX",
                                  static_cast<unsigned long>(m_dwModuleId), static_cast<unsigned long>(dwResult));
            }
        }
        return dwResult;
    });
}
