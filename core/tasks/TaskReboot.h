// Restarts Windows through the system-utilities helper, so that a driver whose start type the deep
// analysis changed is really in or out of the network stack when the user tries again.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskIds.h"

class CTaskReboot : public kvx::CSysUtilsTask<CTaskReboot> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_REBOOT;
    static constexpr const char* KVXTASK_CLASS = "CTaskReboot";

    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    static const DWORD s_dwFactoryRegistration;
};
