#include "core/tasks/TaskDeactivateFilter.h"

const DWORD CTaskDeactivateFilter::s_dwFactoryRegistration = CTaskDeactivateFilter::PerformFactoryRegistration();

void CTaskDeactivateFilter::ReportOutcome(IReporter& reporter, const std::string& strService, bool bSucceeded)
{
    if (bSucceeded) {
        reporter.Report("Filter %s deactivated.", strService.c_str());
    } else {
        reporter.Report("Failed to deactivate filter %s.", strService.c_str());
    }
}
