#include "core/tasks/TaskDisableFilter.h"

#include "core/report/IReporter.h"

const DWORD CTaskDisableFilter::s_dwFactoryRegistration = CTaskDisableFilter::PerformFactoryRegistration();

DWORD CTaskDisableFilter::Execute(IReporter* pReporter)
{
    KVX_FUNCTION("CTaskDisableFilter::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        const DWORD dwResult = ApiMissing(kvxFunctionName_)
                                   ? KVXDIAG2_ERR_NO_LIBRARY
                                   : m_api->SetFilterState(m_strFilter, kvx::KVXAPI_ACTION_STOP);
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo detener el filtro %s. Error: 0x%lX", m_strFilter.c_str(),
                    static_cast<unsigned long>(dwResult));
        }
        if (pReporter != nullptr) {
            if (dwResult == KVXDIAG2_OK) {
                pReporter->Report("Filter %s disabled.", m_strFilter.c_str());
            } else {
                pReporter->Report("Failed to disable filter %s.", m_strFilter.c_str());
            }
        }
        return dwResult;
    });
}
