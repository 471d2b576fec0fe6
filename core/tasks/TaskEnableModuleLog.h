// Switches one of the product's module logs on, writing to the given file.
#pragma once

#include "core/tasks/KVXApiTask.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskEnableModuleLog : public kvx::CKVXApiTask<CTaskEnableModuleLog> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_ENABLE_MODULE_LOG;
    static constexpr const char* KVXTASK_CLASS = "CTaskEnableModuleLog";

    // Helper module id [4], log file path [6], maximum size [4], persistent configuration [1].
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    DWORD m_dwModuleId = 0;
    std::string m_strLogFile;
    DWORD m_dwMaxSize = 0;
    bool m_bPersistent = false;

    static const DWORD s_dwFactoryRegistration;
};
