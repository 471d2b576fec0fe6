// Tasks 7, 28, 29, 31 and 32: the running program's path, the results directory, directory trees,
// wildcard copies and moves, and directory clones.
#include "core/tasks/TaskCloneDirectory.h"
#include "core/tasks/TaskCopyMoveFileWildcards.h"
#include "core/tasks/TaskDataBool.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskGetProcessFullPath.h"
#include "core/tasks/TaskMakeDirectoryTree.h"
#include "core/tasks/TaskMakeKVXDIAG2TempDir.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using kvxtest::CRecordingReporter;
using kvxtest::DirectoryExists;
using kvxtest::FileExists;
using kvxtest::MakeFile;
using kvxtest::ReadFileText;

std::string ResultText(ITask& task)
{
    ITaskData* pResult = nullptr;
    EXPECT_EQ(task.GetResults(&pResult), 0u);
    std::string text = "<none>";
    if (pResult != nullptr) {
        EXPECT_EQ(pResult->GetType(), eKVXDiagTLVType_CHARSTRING);
        pResult->GetDataAsString(text);
    }
    return text;
}

class CTaskMakeDirectoryTreeWithoutHelper : public CTaskMakeDirectoryTree {
public:
    CTaskMakeDirectoryTreeWithoutHelper() { m_sysUtils.reset(); }
};

class FileTasksTest : public ::testing::Test {
protected:
    DWORD RunCopy(const std::string& source, const std::string& destination, bool bDelete,
                  CRecordingReporter* pReporter)
    {
        CTaskDataString sourceValue(source);
        CTaskDataString destinationValue(destination);
        CTaskDataBool deleteValue(bDelete);
        CTaskCopyMoveFileWildcards task;
        EXPECT_EQ(task.SetConfig({&sourceValue, &destinationValue, &deleteValue}), 0u);
        return task.Execute(pReporter);
    }

    kvxtest::CScopedTempDir m_dir{"kvxfiletasks"};
};

} // namespace

TEST_F(FileTasksTest, TempDirTaskTwiceWithOneNameMakesTheNameAndTheNameWithAnUnderscore)
{
    kvxtest::CScopedTempVariables temp(m_dir.Path());
    CTaskDataString name("KVXDIAG2-Results");
    CRecordingReporter reporter;
    std::vector<std::string> paths;
    for (int run = 0; run < 2; ++run) {
        CTaskMakeKVXDIAG2TempDir task;
        ASSERT_EQ(task.SetConfig({&name}), 0u);
        EXPECT_EQ(task.Execute(&reporter), 0u);
        paths.push_back(ResultText(task));
    }
    EXPECT_EQ(paths[0], m_dir.Path() + "\\KVXDIAG2-Results");
    EXPECT_EQ(paths[1], m_dir.Path() + "\\KVXDIAG2-Results_");
    EXPECT_TRUE(DirectoryExists(paths[1]));
    EXPECT_EQ(reporter.Calls(),
              (std::vector<std::string>{"REPORT Temp path for KVXDIAG2 results created: " + paths[0],
                                        "REPORT Temp path for KVXDIAG2 results created: " + paths[1]}));
}

TEST_F(FileTasksTest, TempDirTaskFailureReportsAnEmptyPath)
{
    MakeFile(m_dir.Path() + "\\file", "x");
    kvxtest::CScopedTempVariables temp(m_dir.Path() + "\\file\\below");
    CTaskDataString name("R");
    CTaskMakeKVXDIAG2TempDir task;
    ASSERT_EQ(task.SetConfig({&name}), 0u);
    CRecordingReporter reporter;
    EXPECT_EQ(task.Execute(&reporter), static_cast<DWORD>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(reporter.Calls(), (std::vector<std::string>{"REPORT Error! Fail to create temp path: "}));
    EXPECT_EQ(ResultText(task), "") << "GetResults answers 0 with the empty path";
}

TEST_F(FileTasksTest, DirectoryTreeTaskReportsAndHandsOutTheConfiguredPath)
{
    const std::string path = m_dir.Path() + "\\x\\y\\z";
    CTaskDataString value(path);
    CTaskMakeDirectoryTree task;
    ASSERT_EQ(task.SetConfig({&value}), 0u);
    CRecordingReporter reporter;
    EXPECT_EQ(task.Execute(&reporter), 0u);
    EXPECT_TRUE(DirectoryExists(path));
    EXPECT_EQ(reporter.Calls(), (std::vector<std::string>{"REPORT Directory tree created: " + path}));
    EXPECT_EQ(ResultText(task), path);

    const std::string overlong = m_dir.Path() + "\\" + std::string(300, 'q');
    CTaskDataString longValue(overlong);
    CTaskMakeDirectoryTree longTask;
    ASSERT_EQ(longTask.SetConfig({&longValue}), 0u);
    CRecordingReporter failure;
    EXPECT_EQ(longTask.Execute(&failure), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(failure.Calls(), (std::vector<std::string>{"REPORT Error! Fail to create directory tree: " + overlong}));
    EXPECT_EQ(ResultText(longTask), overlong) << "the configured path, also after a failure";
}

TEST_F(FileTasksTest, TasksWithoutTheirHelperAnswer4301)
{
    CTaskDataString value(m_dir.Path() + "\\never");
    CTaskMakeDirectoryTreeWithoutHelper task;
    ASSERT_EQ(task.SetConfig({&value}), 0u);
    CRecordingReporter reporter;
    EXPECT_EQ(task.Execute(&reporter), static_cast<DWORD>(ERROR_INVALID_LIBRARY));
    EXPECT_TRUE(reporter.Calls().empty());
    EXPECT_FALSE(DirectoryExists(m_dir.Path() + "\\never"));
}

TEST_F(FileTasksTest, WildcardMoveCopiesMatchesAndDeletesTheOriginals)
{
    const std::string drivers = m_dir.Path() + "\\Drivers";
    const std::string results = m_dir.Path() + "\\Res\\";
    ASSERT_TRUE(::CreateDirectoryA(drivers.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA(results.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((drivers + "\\folder.cap").c_str(), nullptr));
    MakeFile(drivers + "\\one.cap", "1");
    MakeFile(drivers + "\\two.cap", "2");
    MakeFile(drivers + "\\other.txt", "t");

    CRecordingReporter reporter;
    EXPECT_EQ(RunCopy(drivers + "\\*.cap", results, true, &reporter), 0u);
    EXPECT_EQ(ReadFileText(results + "one.cap"), "1");
    EXPECT_EQ(ReadFileText(results + "two.cap"), "2");
    EXPECT_FALSE(FileExists(drivers + "\\one.cap"));
    EXPECT_FALSE(FileExists(drivers + "\\two.cap"));
    EXPECT_TRUE(FileExists(drivers + "\\other.txt"));
    EXPECT_TRUE(DirectoryExists(drivers + "\\folder.cap")) << "a matching directory is passed over";
    EXPECT_FALSE(FileExists(results + "folder.cap"));
    EXPECT_EQ(reporter.Calls(), (std::vector<std::string>{"REPORT File copied from " + drivers + "\\*.cap to " +
                                                          results + ". Source file deleted: True."}));
}

TEST_F(FileTasksTest, WildcardCopyWithoutDeleteKeepsTheOriginals)
{
    MakeFile(m_dir.Path() + "\\a1.log", "a");
    ASSERT_TRUE(::CreateDirectoryA((m_dir.Path() + "\\out").c_str(), nullptr));
    EXPECT_EQ(RunCopy(m_dir.Path() + "\\a?.log", m_dir.Path() + "\\out\\", false, nullptr), 0u);
    EXPECT_TRUE(FileExists(m_dir.Path() + "\\a1.log"));
    EXPECT_EQ(ReadFileText(m_dir.Path() + "\\out\\a1.log"), "a");
}

TEST_F(FileTasksTest, PrefixWithoutABackslashBecomesPartOfTheTargetName)
{
    MakeFile(m_dir.Path() + "\\data.bin", "d");
    EXPECT_EQ(RunCopy(m_dir.Path() + "\\data.bin", m_dir.Path() + "\\copy_", false, nullptr), 0u);
    EXPECT_EQ(ReadFileText(m_dir.Path() + "\\copy_data.bin"), "d");
}

TEST_F(FileTasksTest, NoMatchAnswers2AndReportsTheFailureWithTheFlag)
{
    for (bool bDelete : {false, true}) {
        SCOPED_TRACE(bDelete);
        CRecordingReporter reporter;
        const std::string source = m_dir.Path() + "\\*.none";
        EXPECT_EQ(RunCopy(source, m_dir.Path() + "\\", bDelete, &reporter), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(reporter.Calls(),
                  (std::vector<std::string>{"REPORT Failed to copy file from " + source + " to " + m_dir.Path() +
                                            "\\. Delete source flag: " + (bDelete ? "True" : "False")}));
    }
}

TEST_F(FileTasksTest, FailedCopyAnswers266AndKeepsTheSource)
{
    MakeFile(m_dir.Path() + "\\keep.cap", "k");
    CRecordingReporter reporter;
    EXPECT_EQ(RunCopy(m_dir.Path() + "\\*.cap", m_dir.Path() + "\\missing\\", true, &reporter),
              static_cast<DWORD>(ERROR_CANNOT_COPY));
    EXPECT_TRUE(FileExists(m_dir.Path() + "\\keep.cap")) << "a source is deleted only after its copy";
    ASSERT_EQ(reporter.Calls().size(), 1u);
    EXPECT_EQ(reporter.Calls()[0].rfind("REPORT Failed to copy file from ", 0), 0u);
}

TEST_F(FileTasksTest, EmptySourceOrDestinationAnswers87WithoutAReportLine)
{
    CRecordingReporter reporter;
    EXPECT_EQ(RunCopy("", m_dir.Path() + "\\", false, &reporter), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RunCopy(m_dir.Path() + "\\*", "", false, &reporter), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(reporter.Calls().empty());
}

TEST_F(FileTasksTest, CloneTaskReportsSuccessAndFailure)
{
    const std::string source = m_dir.Path() + "\\src";
    ASSERT_TRUE(::CreateDirectoryA(source.c_str(), nullptr));
    MakeFile(source + "\\a.txt", "A");
    CTaskDataString sourceValue(source);
    CTaskDataString targetValue(m_dir.Path() + "\\dst");
    CTaskCloneDirectory task;
    ASSERT_EQ(task.SetConfig({&sourceValue, &targetValue}), 0u);
    CRecordingReporter reporter;
    EXPECT_EQ(task.Execute(&reporter), 0u);
    EXPECT_EQ(ReadFileText(m_dir.Path() + "\\dst\\a.txt"), "A");

    CTaskDataString missing(m_dir.Path() + "\\missing");
    CTaskCloneDirectory failing;
    ASSERT_EQ(failing.SetConfig({&missing, &targetValue}), 0u);
    EXPECT_EQ(failing.Execute(&reporter), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_EQ(reporter.Calls(),
              (std::vector<std::string>{"REPORT Directory " + source + " cloned at " + m_dir.Path() + "\\dst",
                                        "REPORT Error! Fail to clone directory from " + m_dir.Path() + "\\missing to " +
                                            m_dir.Path() + "\\dst"}));
}

TEST_F(FileTasksTest, ProcessPathTaskHandsOutThisProgramsPath)
{
    CTaskGetProcessFullPath task;
    CRecordingReporter reporter;
    EXPECT_EQ(task.Execute(&reporter), 0u);
    EXPECT_TRUE(reporter.Calls().empty()) << "nothing is reported";
    EXPECT_EQ(ResultText(task), kvxtest::TestProgramDirectory() + "kvx_tasks_tests.exe");
}
