#include "core/tasks/TaskEnableModuleLog.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskEnableModuleLog::s_dwFactoryRegistration = CTaskEnableModuleLog::PerformFactoryRegistration();

DWORD CTaskEnableModuleLog::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskEnableModuleLog::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        return kvx::CTaskConfigReader(kvxFunctionName_)
            .ReadFields(params, {kvx::CTaskField::Long(m_dwModuleId), kvx::CTaskField::Text(m_strLogFile),
                                 kvx::CTaskField::Long(m_dwMaxSize), kvx::CTaskField::Bool(m_bPersistent)});
    });
}

DWORD CTaskEnableModuleLog::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskEnableModuleLog::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        const DWORD dwResult = WithAdapter(kvxFunctionName_, [&](CKVXApiHelper& api) {
            return api.EnableModuleLog(m_dwModuleId, m_strLogFile, m_dwMaxSize, m_bPersistent);
        });
        LogOutcome(kvxFunctionName_, dwResult, "Activación del log de módulo");
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("Log enabled for 0x%lX module. File Base Name: %s. Persistent configuration: %s",
                                  static_cast<unsigned long>(m_dwModuleId), m_strLogFile.c_str(),
                                  kvx::BoolText(m_bPersistent));
            } else {
                pReporter->Report("Failed to enable log for 0x%lX module. Error: 0x%lX",
                                  static_cast<unsigned long>(m_dwModuleId), static_cast<unsigned long>(dwResult));
            }
        }
        return dwResult;
    });
}
