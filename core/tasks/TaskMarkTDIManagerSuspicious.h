// Marks the TDI manager as suspicious, so that the runs after the next reboots know which branch of the
// analysis they are in.
#pragma once

#include "core/tasks/TaskIds.h"
#include "core/tasks/TaskResumeMark.h"

class CTaskMarkTDIManagerSuspicious : public kvx::CTaskResumeMark<CTaskMarkTDIManagerSuspicious> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_MARK_TDI_MANAGER_SUSPICIOUS;
    static constexpr const char* KVXTASK_CLASS = "CTaskMarkTDIManagerSuspicious";
    static constexpr const char* KVXTASK_VALUE = KVXDIAG2_RESUME_TDI_SUSPICIOUS;
    static constexpr bool KVXTASK_MARK = true;

private:
    static const DWORD s_dwFactoryRegistration;
};
