// Task 1: starts a plug-in filter at once through the product SDK.
#pragma once

#include "core/tasks/FilterTask.h"
#include "core/tasks/TaskIds.h"

class CTaskEnableFilter : public kvx::CFilterTask<CTaskEnableFilter> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_ENABLE_FILTER;
    static constexpr const char* KVXTASK_CLASS = "CTaskEnableFilter";

    // Answers the adapter's code (4301 without an adapter).
    DWORD Execute(IReporter* pReporter) override;

private:
    static const DWORD s_dwFactoryRegistration;
};
