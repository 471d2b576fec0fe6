// Switches the TDI manager's capture off; its file stays where the capture wrote it.
#pragma once

#include "core/tasks/KVXApiTask.h"
#include "core/tasks/TaskIds.h"

class CTaskDisableKVXTMGRATDI : public kvx::CKVXApiTask<CTaskDisableKVXTMGRATDI> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_DISABLE_KVXTMGR_ATDI;
    static constexpr const char* KVXTASK_CLASS = "CTaskDisableKVXTMGRATDI";

    // From next restart [1].
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    bool m_bOnRestart = false;

    static const DWORD s_dwFactoryRegistration;
};
