// Removes the autostart entry once the deep analysis has ended, so the wizard no longer starts at logon.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskIds.h"

class CTaskDisableProcessReboot : public kvx::CTaskImpl<CTaskDisableProcessReboot> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_DISABLE_PROCESS_REBOOT;
    static constexpr const char* KVXTASK_CLASS = "CTaskDisableProcessReboot";

    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    static const DWORD s_dwFactoryRegistration;
};
