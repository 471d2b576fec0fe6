// The task factory and the task-id table.
#include "core/tasks/TaskIds.h"
#include "core/tasks/TaskRunConsoleProgram.h"
#include "core/tasks/TasksFactory.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
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

TEST(TaskIds, ThirtyFourIdsWithDistinctNames)
{
    std::set<std::string> names;
    for (DWORD id = 1; id <= 34; ++id) {
        const std::string name = GetTaskIdName(id);
        EXPECT_EQ(name.rfind("KVXDIAG2_TASKID_", 0), 0u) << id;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 34u);
    EXPECT_STREQ(GetTaskIdName(KVXDIAG2_TASKID_REBOOT), "KVXDIAG2_TASKID_REBOOT");
    EXPECT_STREQ(GetTaskIdName(KVXDIAG2_TASKID_ACTIVATE_FILTER), "KVXDIAG2_TASKID_ACTIVATE_FILTER");
    EXPECT_STREQ(GetTaskIdName(KVXDIAG2_TASKID_COPY_MOVE_FILE_WILDCARDS), "KVXDIAG2_TASKID_COPY_MOVE_FILE_WILDCARDS");
    EXPECT_EQ(KVXDIAG2_TASKID_UNMARK_TDI_MANAGER_SUSPICIOUS, 34u);
    EXPECT_STREQ(GetTaskIdName(0), "KVXDIAG2_TASKID_UNKNOWN");
    EXPECT_STREQ(GetTaskIdName(35), "KVXDIAG2_TASKID_UNKNOWN");
}
