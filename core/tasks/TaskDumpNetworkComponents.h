// Task 21: writes the network configuration into the report: the components of the four network
// classes, each with its fields, characteristics and binding paths, as nested sections.
#pragma once

#include "core/tasks/NetCfgTask.h"
#include "core/tasks/TaskIds.h"

class CTaskDumpNetworkComponents : public kvx::CNetCfgTask<CTaskDumpNetworkComponents> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_DUMP_NETWORK_COMPONENTS;
    static constexpr const char* KVXTASK_CLASS = "CTaskDumpNetworkComponents";

    // Takes no parameters; answers 0 and ignores the list.
    DWORD SetConfig(const TaskDataList& params) override;
    // Needs the reporter (87 without one). Answers 0 or the code of the class that failed.
    DWORD Execute(IReporter* pReporter) override;

private:
    DWORD DumpComponentClass(const GUID& classGuid, IReporter& reporter);

    static const DWORD s_dwFactoryRegistration;
};
