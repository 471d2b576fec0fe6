#include "core/tasks/TaskGetIMName.h"

#include "core/report/IReporter.h"

const DWORD CTaskGetIMName::s_dwFactoryRegistration = CTaskGetIMName::PerformFactoryRegistration();

DWORD CTaskGetIMName::SetConfig(const TaskDataList&)
{
    KVX_FUNCTION("CTaskGetIMName::SetConfig");
    return ERROR_NOT_SUPPORTED;
}

DWORD CTaskGetIMName::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskGetIMName::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        std::string strName;
        const DWORD dwResult = NetCfgMissing(kvxFunctionName_) ? KVXDIAG2_ERR_NO_LIBRARY : m_netCfg->GetIMName(strName);
        // A failed search leaves no stale name from an earlier run of the task behind.
        m_strName = dwResult == KVXDIAG2_OK ? strName : std::string();
        m_name.SetData(m_strName);
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo obtener el nombre del IM. Error: 0x%08lX",
                    static_cast<unsigned long>(dwResult));
        }
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("NDIS Intermediate Driver name is %s.", m_strName.c_str());
            } else {
                pReporter->Report("%s", "Failed to get NDIS Intermediate Driver name.");
            }
        }
        return dwResult;
    });
}

DWORD CTaskGetIMName::GetResults(ITaskData** ppResult)
{
    KVX_FUNCTION("CTaskGetIMName::GetResults");
    if (m_strName.empty()) {
        return NoResult(ppResult);
    }
    return HandOut(m_name, ppResult);
}
