// Task 32: copies every file of a directory tree into another directory (empty directories are not
// recreated).
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskIds.h"

#include <string>

class CTaskCloneDirectory : public kvx::CSysUtilsTask<CTaskCloneDirectory> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_CLONE_DIRECTORY;
    static constexpr const char* KVXTASK_CLASS = "CTaskCloneDirectory";

    // Parameters: source directory, destination directory (two texts).
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;

private:
    std::string m_strSource;
    std::string m_strDestination;

    static const DWORD s_dwFactoryRegistration;
};
