#include "core/tasks/TaskGetFilterState.h"

const DWORD CTaskGetFilterState::s_dwFactoryRegistration = CTaskGetFilterState::PerformFactoryRegistration();

DWORD CTaskGetFilterState::Execute(IReporter*)
{
    KVX_FUNCTION("CTaskGetFilterState::Execute");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        m_bKnown = false;
        if (ApiMissing(kvxFunctionName_)) {
            return KVXDIAG2_ERR_NO_LIBRARY;
        }
        DWORD dwState = 0;
        const DWORD dwResult = m_api->GetFilterState(m_strFilter, dwState);
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo obtener el estado del filtro %s. Error: 0x%lX",
                    m_strFilter.c_str(), static_cast<unsigned long>(dwResult));
            return dwResult;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Estado del filtro %s: %lu", m_strFilter.c_str(), static_cast<unsigned long>(dwState));
        m_state.SetData(dwState);
        m_bKnown = true;
        return KVXDIAG2_OK;
    });
}

DWORD CTaskGetFilterState::GetResults(ITaskData** ppResult)
{
    KVX_FUNCTION("CTaskGetFilterState::GetResults");
    return m_bKnown ? HandOut(m_state, ppResult) : NoResult(ppResult);
}
