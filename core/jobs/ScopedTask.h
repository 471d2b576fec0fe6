// Owner of a task obtained from the task factory: "create, configure, execute, read, destroy" with the
// destroy guaranteed on every path.
#pragma once

#include "core/tasks/ITask.h"
#include "core/tasks/TasksFactory.h"

#include <memory>

namespace kvx {

using UniqueTask = std::unique_ptr<ITask>;

inline UniqueTask MakeTask(DWORD dwTaskId) { return UniqueTask(CTasksFactory::GetTask(dwTaskId)); }

} // namespace kvx
