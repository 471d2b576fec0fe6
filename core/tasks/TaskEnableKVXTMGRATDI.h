// Switches the TDI manager's capture on, into the given file.
#pragma once

#include "core/tasks/KVXApiTask.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskEnableKVXTMGRATDI : public kvx::CKVXApiTask<CTaskEnableKVXTMGRATDI> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_ENABLE_KVXTMGR_ATDI;
    static constexpr const char* KVXTASK_CLASS = "CTaskEnableKVXTMGRATDI";

    // Capture file name [6], maximum size [4], from next restart [1].
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    std::string m_strFileName;
    DWORD m_dwMaxSize = 0;
    bool m_bOnRestart = false;

    static const DWORD s_dwFactoryRegistration;
};
