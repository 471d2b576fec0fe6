// Task 4: Sets a driver service's start type to disabled (4), so that the driver stays out
// of the next boots.
#pragma once

#include "core/tasks/ServiceStartTask.h"
#include "core/tasks/TaskIds.h"

class CTaskDeactivateFilter : public kvx::CServiceStartTask<CTaskDeactivateFilter> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_DEACTIVATE_FILTER;
    static constexpr const char* KVXTASK_CLASS = "CTaskDeactivateFilter";
    static constexpr DWORD KVXTASK_START_VALUE = 4;

    static void ReportOutcome(IReporter& reporter, const std::string& strService, bool bSucceeded);

private:
    static const DWORD s_dwFactoryRegistration;
};
