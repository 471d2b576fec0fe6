// Asks the product for a snapshot of its configuration, written to the given file.
#pragma once

#include "core/tasks/KVXApiTask.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskKVXSnapShot : public kvx::CKVXApiTask<CTaskKVXSnapShot> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_SNAPSHOT;
    static constexpr const char* KVXTASK_CLASS = "CTaskKVXSnapShot";

    // Unlike the switches, the snapshot holds the adapter for its whole life.
    CTaskKVXSnapShot();

    // Snapshot file path [6].
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    kvx::CHelperRef<CKVXApiHelper> m_api;
    std::string m_strPath;

    static const DWORD s_dwFactoryRegistration;
};
