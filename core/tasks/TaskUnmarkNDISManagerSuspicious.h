// Removes the NDIS manager's suspicious mark. Registered with the factory, though no operation of the
// core asks for it.
#pragma once

#include "core/tasks/TaskIds.h"
#include "core/tasks/TaskResumeMark.h"

class CTaskUnmarkNDISManagerSuspicious : public kvx::CTaskResumeMark<CTaskUnmarkNDISManagerSuspicious> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_UNMARK_NDIS_MANAGER_SUSPICIOUS;
    static constexpr const char* KVXTASK_CLASS = "CTaskUnmarkNDISManagerSuspicious";
    static constexpr const char* KVXTASK_VALUE = KVXDIAG2_RESUME_NDIS_SUSPICIOUS;
    static constexpr bool KVXTASK_MARK = false;

private:
    static const DWORD s_dwFactoryRegistration;
};
