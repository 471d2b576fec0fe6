// The task factory and the task-id table.
#include "core/tasks/TaskIds.h"
#include "core/tasks/TaskRunConsoleProgram.h"
#include "core/tasks/TasksFactory.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

ITask* NeverCalled()
{
    ADD_FAILURE() << "a refused registration's creation function was called";
    return nullptr;
}

} // namespace

TEST(TasksFactory, UnknownIdsGiveNone)
{
    for (DWORD id : {0u, 35u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(CTasksFactory::GetTask(id), nullptr);
    }
}

TEST(TasksFactory, TheseTasksAreRegisteredAtStartUp)
{
    for (DWORD id : {KVXDIAG2_TASKID_GET_PROCESS_FULL_PATH, KVXDIAG2_TASKID_RUN_CONSOLE_PROGRAM,
                     KVXDIAG2_TASKID_EXPORT_REGISTRY_KEY, KVXDIAG2_TASKID_MAKE_TEMP_DIR,
                     KVXDIAG2_TASKID_MAKE_DIRECTORY_TREE, KVXDIAG2_TASKID_COPY_MOVE_FILE_WILDCARDS,
                     KVXDIAG2_TASKID_CLONE_DIRECTORY}) {
        SCOPED_TRACE(GetTaskIdName(id));
        std::unique_ptr<ITask> task(CTasksFactory::GetTask(id));
        EXPECT_NE(task, nullptr);
        // Each call makes a new task that the caller owns.
        std::unique_ptr<ITask> other(CTasksFactory::GetTask(id));
        EXPECT_NE(other.get(), task.get());
    }
}

TEST(TasksFactory, DuplicateIdIsRefusedAndTheFirstStays)
{
    EXPECT_EQ(CTasksFactory::Subscribe(KVXDIAG2_TASKID_RUN_CONSOLE_PROGRAM, &NeverCalled),
              static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    std::unique_ptr<ITask> task(CTasksFactory::GetTask(KVXDIAG2_TASKID_RUN_CONSOLE_PROGRAM));
    EXPECT_NE(dynamic_cast<CTaskRunConsoleProgram*>(task.get()), nullptr);
}

TEST(TasksFactory, MissingOrBrokenCreationFunctionGivesNone)
{
    EXPECT_EQ(CTasksFactory::Subscribe(900, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CTasksFactory::GetTask(900), nullptr);
    CTasksFactory::GetSubscriptionMap()[901] = nullptr;
    EXPECT_EQ(CTasksFactory::GetTask(901), nullptr);
    CTasksFactory::GetSubscriptionMap().erase(901);
}
