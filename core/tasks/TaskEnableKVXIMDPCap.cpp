#include "core/tasks/TaskEnableKVXIMDPCap.h"

#include "core/report/IReporter.h"
#include "core/tasks/TaskConfigReader.h"

const DWORD CTaskEnableKVXIMDPCap::s_dwFactoryRegistration = CTaskEnableKVXIMDPCap::PerformFactoryRegistration();

DWORD CTaskEnableKVXIMDPCap::SetConfig(const TaskDataList& params)
{
    KVX_FUNCTION("CTaskEnableKVXIMDPCap::SetConfig");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        return kvx::CTaskConfigReader(kvxFunctionName_)
            .ReadFields(params, {kvx::CTaskField::Text(m_strBaseName), kvx::CTaskField::Long(m_dwMaxSize),
                                 kvx::CTaskField::Bool(m_bOnRestart)});
    });
}

DWORD CTaskEnableKVXIMDPCap::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskEnableKVXIMDPCap::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&] {
        const DWORD dwResult = WithAdapter(kvxFunctionName_, [&](CKVXApiHelper& api) {
            return api.EnableIMPCap(m_strBaseName, m_dwMaxSize, m_bOnRestart);
        });
        LogOutcome(kvxFunctionName_, dwResult, "Activación de las capturas PCap");
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("NDIS Manager's PCap captures enabled. File Base Name: %s. Enable on restart: %s",
                                  m_strBaseName.c_str(), kvx::BoolText(m_bOnRestart));
            } else {
                pReporter->Report("Failed to enable  NDIS Manager's PCap captures. Error: 0x%lX",
                                  static_cast<unsigned long>(dwResult));
            }
        }
        return dwResult;
    });
}
