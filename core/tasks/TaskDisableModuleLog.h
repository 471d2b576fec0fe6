// Switches one of the product's module logs off.
#pragma once

#include "core/tasks/KVXApiTask.h"
#include "core/tasks/TaskIds.h"

class CTaskDisableModuleLog : public kvx::CKVXApiTask<CTaskDisableModuleLog> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_DISABLE_MODULE_LOG;
    static constexpr const char* KVXTASK_CLASS = "CTaskDisableModuleLog";

    // Helper module id [4].
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    DWORD m_dwModuleId = 0;

    static const DWORD s_dwFactoryRegistration;
};
