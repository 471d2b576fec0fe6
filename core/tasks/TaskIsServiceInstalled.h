// Task 17: tells whether a service (a driver of the product, typically) is installed, by the presence
// of its key under the services key.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskDataBool.h"
#include "core/tasks/TaskIds.h"

class CTaskIsServiceInstalled : public kvx::CTaskImpl<CTaskIsServiceInstalled> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_IS_SERVICE_INSTALLED;
    static constexpr const char* KVXTASK_CLASS = "CTaskIsServiceInstalled";

    // Parameter: the service name (one text).
    DWORD SetConfig(const TaskDataList& params) override;
    // Answers 0 when it could tell, else the registry's error (the answer then keeps its last value).
    DWORD Execute(IReporter* pReporter) override;
    // Always 0, with the installed flag (false until known).
    DWORD GetResults(ITaskData** ppResult) override;

private:
    std::string m_strService;
    CTaskDataBool m_installed;

    static const DWORD s_dwFactoryRegistration;
};
