#include "core/tasks/TaskActivateNetworkComponent.h"

const DWORD CTaskActivateNetworkComponent::s_dwFactoryRegistration = CTaskActivateNetworkComponent::PerformFactoryRegistration();

void CTaskActivateNetworkComponent::ReportOutcome(IReporter& reporter, const std::string& strComponentId, bool bSucceeded)
{
    if (bSucceeded) {
        reporter.Report("Network component %s activated.", strComponentId.c_str());
    } else {
        reporter.Report("Failed to activate network component %s.", strComponentId.c_str());
    }
}
