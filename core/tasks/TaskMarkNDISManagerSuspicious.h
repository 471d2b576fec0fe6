// Marks the NDIS manager as suspicious in the resume state. Registered with the factory, though no
// operation of the core asks for it.
#pragma once

#include "core/tasks/TaskIds.h"
#include "core/tasks/TaskResumeMark.h"

class CTaskMarkNDISManagerSuspicious : public kvx::CTaskResumeMark<CTaskMarkNDISManagerSuspicious> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_MARK_NDIS_MANAGER_SUSPICIOUS;
    static constexpr const char* KVXTASK_CLASS = "CTaskMarkNDISManagerSuspicious";
    static constexpr const char* KVXTASK_VALUE = KVXDIAG2_RESUME_NDIS_SUSPICIOUS;
    static constexpr bool KVXTASK_MARK = true;

private:
    static const DWORD s_dwFactoryRegistration;
};
