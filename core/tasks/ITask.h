// A task: one unit of work on the machine, created by id, configured with typed values, executed once
// and asked for at most one result value.
#pragma once

#include "core/tasks/ITaskData.h"

#include <windows.h>

class IReporter;

class ITask {
public:
    virtual ~ITask() = default;
    // Copies what the task needs from the caller's values; the caller may destroy them afterwards.
    virtual DWORD SetConfig(const TaskDataList& params) = 0;
    // pReporter may be none: the task then writes nothing to the report.
    virtual DWORD Execute(IReporter* pReporter) = 0;
    // Hands out the task's own result value (valid until the task is destroyed), or none and 232.
    virtual DWORD GetResults(ITaskData** ppResult) = 0;
};
