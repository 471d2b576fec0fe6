// Task 22: a registry key saved as a hive, with the backup privilege switched on only for the save.
#include "core/helpers/HelperRef.h"
#include "core/helpers/SysUtilsHelper.h"
#include "core/tasks/TaskDataLong64.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskExportRegistryKey.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* KVXTEST_KEY_ROOT = "Software\\KVXDiag2Tests";
constexpr const char* KVXTEST_KEY = "Software\\KVXDiag2Tests\\Export";
constexpr const char* KVXTEST_CHILD_FLAG = "KVXTEST_DROP_BACKUP_PRIVILEGE";
// HKEY_CURRENT_USER (0x80000001) sign-extended, as the foreman passes a root key.
constexpr ULONGLONG KVXTEST_HKCU_64 = 0xFFFFFFFF80000001ull;

class ExportRegistryKeyTaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_helper);
        ASSERT_TRUE(kvxtest::SetString(HKEY_CURRENT_USER, KVXTEST_KEY, "Marker", "exported"));
    }

    DWORD RunExport(const std::string& subKey, const std::string& file, kvxtest::CRecordingReporter& reporter)
    {
        CTaskDataLong64 root(KVXTEST_HKCU_64);
        CTaskDataString subKeyValue(subKey);
        CTaskDataString fileValue(file);
        CTaskExportRegistryKey task;
        EXPECT_EQ(task.SetConfig({&root, &subKeyValue, &fileValue}), 0u);
        return task.Execute(&reporter);
    }

    bool BackupPrivilegeEnabled()
    {
        bool bEnabled = false;
        EXPECT_EQ(m_helper->IsPrivilegeEnabled("SeBackupPrivilege", bEnabled), 0u);
        return bEnabled;
    }

    kvxtest::CScopedRegistryTree m_tree{HKEY_CURRENT_USER, KVXTEST_KEY_ROOT};
    kvxtest::CScopedTempDir m_dir{"kvxexport"};
    kvx::CHelperRef<CSysUtilsHelper> m_helper{"SYSUTILS"};
};

// Removes a privilege from this process's token for good (it cannot be enabled again).
bool RemovePrivilege(const char* name)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_REMOVED;
    bool ok = ::LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid) &&
              ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
              ::GetLastError() == ERROR_SUCCESS;
    ::CloseHandle(token);
    return ok;
}

} // namespace

TEST_F(ExportRegistryKeyTaskTest, ExportsAHiveAndLeavesThePrivilegeAsItWas)
{
    m_helper->SetPrivilegeState("SeBackupPrivilege", false);
    const std::string file = m_dir.Path() + "\\export.hiv";
    kvxtest::CRecordingReporter reporter;
    EXPECT_EQ(RunExport(KVXTEST_KEY, file, reporter), 0u);
    EXPECT_TRUE(kvxtest::FileExists(file));
    EXPECT_GT(kvxtest::ReadFileText(file).size(), 0u);
    EXPECT_FALSE(BackupPrivilegeEnabled()) << "the privilege was switched on for the save only";
    EXPECT_EQ(reporter.Calls(), (std::vector<std::string>{"REPORT Key 0x80000001, SubKey '" + std::string(KVXTEST_KEY) +
                                                          "' successfully exported into file '" + file + "'"}));

    // Enabled before: it stays enabled.
    ASSERT_EQ(m_helper->SetPrivilegeState("SeBackupPrivilege", true), 0u);
    kvxtest::CRecordingReporter again;
    EXPECT_EQ(RunExport(KVXTEST_KEY, file, again), 0u);
    EXPECT_TRUE(BackupPrivilegeEnabled());
    m_helper->SetPrivilegeState("SeBackupPrivilege", false);
}

TEST_F(ExportRegistryKeyTaskTest, MissingKeyIsReportedAsAFailure)
{
    const std::string subKey = std::string(KVXTEST_KEY) + "\\Missing";
    const std::string file = m_dir.Path() + "\\missing.hiv";
    kvxtest::CRecordingReporter reporter;
    EXPECT_EQ(RunExport(subKey, file, reporter), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(kvxtest::FileExists(file));
    EXPECT_EQ(reporter.Calls(), (std::vector<std::string>{"REPORT Failed to export Key 0x80000001, SubKey '" + subKey +
                                                          "' into file '" + file + "'"}));
    EXPECT_FALSE(BackupPrivilegeEnabled());
}

TEST_F(ExportRegistryKeyTaskTest, WithoutTheBackupPrivilegeAnswers1300AndLeavesTheFileAlone)
{
    char flag[8] = {};
    if (::GetEnvironmentVariableA(KVXTEST_CHILD_FLAG, flag, sizeof flag) == 0) {
        // The privilege cannot be given back once removed, so the removal happens in a child
        // process that runs only this test.
        const std::string exe = kvxtest::TestProgramDirectory() + "kvx_tasks_tests.exe";
        std::string commandLine = "\"" + exe + "\" --gtest_filter=" +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "." +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ::SetEnvironmentVariableA(KVXTEST_CHILD_FLAG, "1");
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        const BOOL started =
            ::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
        ::SetEnvironmentVariableA(KVXTEST_CHILD_FLAG, nullptr);
        ASSERT_TRUE(started) << ::GetLastError();
        const DWORD wait = ::WaitForSingleObject(info.hProcess, 120000);
        DWORD exitCode = 0xDEADBEEF;
        ::GetExitCodeProcess(info.hProcess, &exitCode);
        if (wait != WAIT_OBJECT_0) {
            ::TerminateProcess(info.hProcess, 1);
        }
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        ASSERT_EQ(wait, WAIT_OBJECT_0) << "the child did not finish in 120 s";
        EXPECT_EQ(exitCode, 0u) << "the child's test failed (its output is above)";
        return;
    }

    ASSERT_TRUE(RemovePrivilege("SeBackupPrivilege"));
    if (m_helper->SetPrivilegeState("SeBackupPrivilege", true) == 0) {
        GTEST_SKIP() << "this platform keeps a removed privilege enable-able";
    }
    const std::string file = m_dir.Path() + "\\untouched.hiv";
    ASSERT_TRUE(kvxtest::MakeFile(file, "old content"));
    kvxtest::CRecordingReporter reporter;
    EXPECT_EQ(RunExport(KVXTEST_KEY, file, reporter), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
    EXPECT_EQ(kvxtest::ReadFileText(file), "old content") << "the export is not attempted";
    EXPECT_EQ(reporter.Calls(), (std::vector<std::string>{"REPORT Failed to export Key 0x80000001, SubKey '" +
                                                          std::string(KVXTEST_KEY) + "' into file '" + file + "'"}));
}
