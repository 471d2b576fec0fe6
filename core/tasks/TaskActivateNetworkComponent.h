// Task 15: Enables every binding of a network component (puts the product's intermediate
// driver back into the network stack).
#pragma once

#include "core/tasks/NetworkComponentTask.h"
#include "core/tasks/TaskIds.h"

class CTaskActivateNetworkComponent : public kvx::CNetworkComponentTask<CTaskActivateNetworkComponent> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_ACTIVATE_NETWORK_COMPONENT;
    static constexpr const char* KVXTASK_CLASS = "CTaskActivateNetworkComponent";
    static constexpr bool KVXTASK_ENABLE = true;

    static void ReportOutcome(IReporter& reporter, const std::string& strComponentId, bool bSucceeded);

private:
    static const DWORD s_dwFactoryRegistration;
};
