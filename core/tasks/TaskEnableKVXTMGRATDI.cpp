#include "core/tasks/TaskEnableKVXTMGRATDI.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskEnableKVXTMGRATDI::s_dwFactoryRegistration = CTaskEnableKVXTMGRATDI::PerformFactoryRegistration();

DWORD CTaskEnableKVXTMGRATDI::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskEnableKVXTMGRATDI::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        return kvx::CTaskConfigReader(kvxFunctionName_)
            .ReadFields(params, {kvx::CTaskField::Text(m_strFileName), kvx::CTaskField::Long(m_dwMaxSize),
                                 kvx::CTaskField::Bool(m_bOnRestart)});
    });
}

DWORD CTaskEnableKVXTMGRATDI::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskEnableKVXTMGRATDI::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        const DWORD dwResult = WithAdapter(kvxFunctionName_, [&](CKVXApiHelper& api) {
            return api.EnableATDICap(m_strFileName, m_dwMaxSize, m_bOnRestart);
        });
        LogOutcome(kvxFunctionName_, dwResult, "Activación de las capturas ATDI");
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report(
                    "ATDI captures enabled on filter TDI Manager. File Base Name: %s. Enable on restart: %s",
                    m_strFileName.c_str(), kvx::BoolText(m_bOnRestart));
            } else {
                pReporter->Report("Failed to enable captures on filter TDI Manager. Error: 0x%lX",
                                  static_cast<unsigned long>(dwResult));
            }
        }
        return dwResult;
    });
}
