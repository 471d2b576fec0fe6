// Stores the resume state before a reboot: the deep-analysis step to run next and the results
// directory of the run, so that the next start carries on where this one stopped.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskPrepareCoreReboot : public kvx::CTaskImpl<CTaskPrepareCoreReboot> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_PREPARE_CORE_REBOOT;
    static constexpr const char* KVXTASK_CLASS = "CTaskPrepareCoreReboot";

    // Step (32-bit), then results directory (text); one element is enough.
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    DWORD m_dwStep = 0;
    std::string m_strResultsDirectory;

    static const DWORD s_dwFactoryRegistration;
};
