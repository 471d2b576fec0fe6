#include "core/tasks/TaskDeactivateNetworkComponent.h"

const DWORD CTaskDeactivateNetworkComponent::s_dwFactoryRegistration = CTaskDeactivateNetworkComponent::PerformFactoryRegistration();

void CTaskDeactivateNetworkComponent::ReportOutcome(IReporter& reporter, const std::string& strComponentId, bool bSucceeded)
{
    if (bSucceeded) {
        reporter.Report("Network component %s deactivated.", strComponentId.c_str());
    } else {
        reporter.Report("Failed to deactivate network component %s.", strComponentId.c_str());
    }
}
