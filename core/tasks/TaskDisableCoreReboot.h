// Removes the stored step and results directory once the deep analysis has ended. The suspicious
// marks are left to their own tasks.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskIds.h"

class CTaskDisableCoreReboot : public kvx::CTaskImpl<CTaskDisableCoreReboot> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_DISABLE_CORE_REBOOT;
    static constexpr const char* KVXTASK_CLASS = "CTaskDisableCoreReboot";

    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    static const DWORD s_dwFactoryRegistration;
};
