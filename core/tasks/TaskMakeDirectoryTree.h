// Task 29: makes a directory with every missing parent.
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

class CTaskMakeDirectoryTree : public kvx::CSysUtilsTask<CTaskMakeDirectoryTree> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_MAKE_DIRECTORY_TREE;
    static constexpr const char* KVXTASK_CLASS = "CTaskMakeDirectoryTree";

    // Parameter: the full path of the directory (one text).
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;
    // The path as configured.
    DWORD GetResults(ITaskData** ppResult) override;

private:
    std::string m_strPath;
    CTaskDataString m_path;

    static const DWORD s_dwFactoryRegistration;
};
