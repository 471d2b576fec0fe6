// Removes the TDI manager's suspicious mark when the deep analysis ends.
#pragma once

#include "core/tasks/TaskIds.h"
#include "core/tasks/TaskResumeMark.h"

class CTaskUnmarkTDIManagerSuspicious : public kvx::CTaskResumeMark<CTaskUnmarkTDIManagerSuspicious> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_UNMARK_TDI_MANAGER_SUSPICIOUS;
    static constexpr const char* KVXTASK_CLASS = "CTaskUnmarkTDIManagerSuspicious";
    static constexpr const char* KVXTASK_VALUE = KVXDIAG2_RESUME_TDI_SUSPICIOUS;
    static constexpr bool KVXTASK_MARK = false;

private:
    static const DWORD s_dwFactoryRegistration;
};
