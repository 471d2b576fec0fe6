// Task 5: Sets a driver service's start type to system start (1), so that the driver loads
// from the next boot on.
#pragma once

#include "core/tasks/ServiceStartTask.h"
#include "core/tasks/TaskIds.h"

class CTaskActivateFilter : public kvx::CServiceStartTask<CTaskActivateFilter> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_ACTIVATE_FILTER;
    static constexpr const char* KVXTASK_CLASS = "CTaskActivateFilter";
    static constexpr DWORD KVXTASK_START_VALUE = 1;

    static void ReportOutcome(IReporter& reporter, const std::string& strService, bool bSucceeded);

private:
    static const DWORD s_dwFactoryRegistration;
};
