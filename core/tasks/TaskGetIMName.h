// Task 14: finds the service name of the product's NDIS intermediate driver, which is also the id
// under which its network component is switched.
#pragma once

#include "core/tasks/NetCfgTask.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

class CTaskGetIMName : public kvx::CNetCfgTask<CTaskGetIMName> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_GET_IM_NAME;
    static constexpr const char* KVXTASK_CLASS = "CTaskGetIMName";

    // Takes no parameters: answers 50.
    DWORD SetConfig(const TaskDataList& params) override;
    // Answers 0, 1168 when no intermediate driver is installed, or the registry's error.
    DWORD Execute(IReporter* pReporter) override;
    // The service name, once one was found; otherwise 232.
    DWORD GetResults(ITaskData** ppResult) override;

private:
    std::string m_strName;
    CTaskDataString m_name;

    static const DWORD s_dwFactoryRegistration;
};
