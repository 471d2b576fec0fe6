// Task 3: asks the product SDK for a plug-in filter's state (1 stopped, 2 running, 3 not loaded,
// 4 not installed). Registered for completeness; the analyses do not request it.
#pragma once

#include "core/tasks/FilterTask.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskIds.h"

class CTaskGetFilterState : public kvx::CFilterTask<CTaskGetFilterState> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_GET_FILTER_STATE;
    static constexpr const char* KVXTASK_CLASS = "CTaskGetFilterState";

    // Answers the adapter's code (4301 without an adapter).
    DWORD Execute(IReporter* pReporter) override;
    // The state after a successful query; otherwise 232.
    DWORD GetResults(ITaskData** ppResult) override;

private:
    bool m_bKnown = false;
    CTaskDataLong m_state;

    static const DWORD s_dwFactoryRegistration;
};
