// Task 28: makes a uniquely named directory in the temporary directory ("_" appended while taken).
#pragma once

#include "core/tasks/TaskBase.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

class CTaskMakeKVXDIAG2TempDir : public kvx::CSysUtilsTask<CTaskMakeKVXDIAG2TempDir> {
public:
    static constexpr DWORD KVXTASK_ID = KVXDIAG2_TASKID_MAKE_TEMP_DIR;
    static constexpr const char* KVXTASK_CLASS = "CTaskMakeKVXDIAG2TempDir";

    // Parameter: the directory name (one text).
    DWORD SetConfig(const TaskDataList& params) override;
    DWORD Execute(IReporter* pReporter) override;
    // The path of the directory made; empty when none was made.
    DWORD GetResults(ITaskData** ppResult) override;

private:
    std::string m_strName;
    CTaskDataString m_path;

    static const DWORD s_dwFactoryRegistration;
};
