// Task 7: the full path of the running program (the wizard's, for its autostart entry).
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

class CTaskGetProcessFullPath : public kvx::CSysUtilsTask<CTaskGetProcessFullPath> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_GET_PROCESS_FULL_PATH;
    static constexpr const char* KVXTASK_CLASS = "CTaskGetProcessFullPath";

    // Takes no parameters: answers 50.
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;
    // The path, once known.
    DWORD GetResults(ITaskData** ppResult) override;

private:
    std::string m_strPath;
    CTaskDataString m_path;

    static const DWORD s_dwFactoryRegistration;
};
