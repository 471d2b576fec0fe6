// Task 2: stops a plug-in filter at once through the product SDK.
#pragma once

#include "core/tasks/FilterTask.h"
#include "core/tasks/TaskIds.h"

class CTaskDisableFilter : public kvx::CFilterTask<CTaskDisableFilter> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_DISABLE_FILTER;
    static constexpr const char* KVXTASK_CLASS = "CTaskDisableFilter";

    // Answers the adapter's code (4301 without an adapter): a stop that failed must not let the
    // analysis judge the filter as if it had been stopped.
    DWORD Execute(IReporter* pReporter) override;

private:
    static const DWORD s_dwFactoryRegistration;
};
