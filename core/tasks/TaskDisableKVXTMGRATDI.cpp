#include "core/tasks/TaskDisableKVXTMGRATDI.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskDisableKVXTMGRATDI::s_dwFactoryRegistration =
    CTaskDisableKVXTMGRATDI::PerformFactoryRegistration();

DWORD CTaskDisableKVXTMGRATDI::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskDisableKVXTMGRATDI::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        return kvx::CTaskConfigReader(kvxFunctionName_).ReadFields(params, {kvx::CTaskField::Bool(m_bOnRestart)});
    });
}

DWORD CTaskDisableKVXTMGRATDI::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskDisableKVXTMGRATDI::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        const DWORD dwResult =
            WithAdapter(kvxFunctionName_, [&](CKVXApiHelper& api) { return api.DisableATDIcap(m_bOnRestart); });
        LogOutcome(kvxFunctionName_, dwResult, "Desactivación de las capturas ATDI");
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("Captures disabled on filter TDI Manager. Enable on restart: %s",
                                  kvx::BoolText(m_bOnRestart));
            } else {
                pReporter->Report("Failed to disable captures on filter TDI Manager. Error: 0x%lX",
                                  static_cast<unsigned long>(dwResult));
            }
        }
        return dwResult;
    });
}
