// Task 16: Disables every binding of a network component (takes the product's intermediate
// driver out of the network stack).
#pragma once

#include "core/tasks/NetworkComponentTask.h"
#include "core/tasks/TaskIds.h"

class CTaskDeactivateNetworkComponent : public kvx::CNetworkComponentTask<CTaskDeactivateNetworkComponent> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_DEACTIVATE_NETWORK_COMPONENT;
    static constexpr const char* KVXTASK_CLASS = "CTaskDeactivateNetworkComponent";
    static constexpr bool KVXTASK_ENABLE = false;

    static void ReportOutcome(IReporter& reporter, const std::string& strComponentId, bool bSucceeded);

private:
    static const DWORD s_dwFactoryRegistration;
};
