#include "core/tasks/TaskActivateFilter.h"

const DWORD CTaskActivateFilter::s_dwFactoryRegistration = CTaskActivateFilter::PerformFactoryRegistration();

void CTaskActivateFilter::ReportOutcome(IReporter& reporter, const std::string& strService, bool bSucceeded)
{
    if (bSucceeded) {
        reporter.Report("Filter %s activated.", strService.c_str());
    } else {
        reporter.Report("Failed to activate filter %s.", strService.c_str());
    }
}
