// The state that carries a deep analysis across a reboot: the registry tasks that write and remove it,
// and the foreman operations that compose them.
#include "common/win/RegistryView.h"
#include "core/interface/ResumeState.h"
#include "core/jobs/Foreman.h"
#include "core/jobs/ScopedTask.h"
#include "core/tasks/ResumeStateRegistry.h"
#include "core/tasks/TaskDataBool.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"
#include "tests/support/CoreDriver.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kvxtest::ReadResumeState;

constexpr REGSAM VENDOR_VIEW = kvx::KVX_REGVIEW_VENDOR;

// A 32-bit value that claims another width, as a foreign ITaskData could.
class CLongOfLength : public ITaskData {
public:
    explicit CLongOfLength(DWORD length) : m_length(length) { }
    DWORD SetData(const TaskDataTLV&) override { return 0; }
    DWORD GetData(TaskDataTLV& tlv) override
    {
        tlv.type = eKVXDiagTLVType_LONG;
        tlv.length = m_length;
        tlv.value = &m_value;
        return 0;
    }
    DWORD GetDataAsString(std::string& text) override
    {
        text = "0x1";
        return 0;
    }
    LONG GetType() const override { return eKVXDiagTLVType_LONG; }

private:
    DWORD m_length;
    unsigned long long m_value = 1;
};

// Records what the foreman notifies; answers nothing in particular.
class CRecordingNotifier : public INotify {
public:
    int Notify(DWORD code, KVXDIAG2_CONTEXT, const std::string& text, const TaskDataList&) override
    {
        codes.push_back(code);
        texts.push_back(text);
        return 0;
    }
    int Notify(DWORD code, KVXDIAG2_CONTEXT, const std::string& text, DWORD) override
    {
        codes.push_back(code);
        texts.push_back(text);
        return 0;
    }
    std::vector<DWORD> codes;
    std::vector<std::string> texts;
};

class ResumeStateTest : public ::testing::Test {
protected:
    static DWORD Execute(DWORD taskId, const TaskDataList* params = nullptr, DWORD* configResult = nullptr)
    {
        kvx::UniqueTask task = kvx::MakeTask(taskId);
        if (!task) {
            ADD_FAILURE() << "task " << taskId << " not created";
            return 0xFFFFFFFF;
        }
        if (params != nullptr) {
            const DWORD rc = task->SetConfig(*params);
            if (configResult != nullptr) {
                *configResult = rc;
            }
            if (rc != 0) {
                return rc;
            }
        }
        return task->Execute(nullptr);
    }
    static bool CreateResumeKey()
    {
        kvx::UniqueHkey key;
        return ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, nullptr, 0, KEY_ALL_ACCESS | VENDOR_VIEW,
                                 nullptr, key.put(), nullptr) == ERROR_SUCCESS;
    }
    // Type and byte count of a value as stored.
    static bool RawValue(HKEY root, const char* subKey, const wchar_t* name, REGSAM view, DWORD& type, DWORD& bytes)
    {
        kvx::UniqueHkey key;
        std::wstring wideKey(subKey, subKey + strlen(subKey));
        if (::RegOpenKeyExW(root, wideKey.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) {
            return false;
        }
        bytes = 0;
        return ::RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS;
    }

    kvxtest::CScopedResumeState m_state;
};

TEST_F(ResumeStateTest, ParameterlessTasksAnswerTheirConfigurationCodeAndHaveNoResult)
{
    const struct {
        DWORD id;
        DWORD configResult;
    } cases[] = {
        {KVXDIAG2_TASKID_REBOOT, 50},
        {KVXDIAG2_TASKID_DISABLE_PROCESS_REBOOT, 0},
        {KVXDIAG2_TASKID_DISABLE_CORE_REBOOT, 0},
        {KVXDIAG2_TASKID_MARK_NDIS_MANAGER_SUSPICIOUS, 50},
        {KVXDIAG2_TASKID_UNMARK_NDIS_MANAGER_SUSPICIOUS, 50},
        {KVXDIAG2_TASKID_MARK_TDI_MANAGER_SUSPICIOUS, 50},
        {KVXDIAG2_TASKID_UNMARK_TDI_MANAGER_SUSPICIOUS, 50},
    };
    CTaskDataString ignored("ignored");
    for (const auto& c : cases) {
        SCOPED_TRACE(GetTaskIdName(c.id));
        kvx::UniqueTask task = kvx::MakeTask(c.id);
        ASSERT_TRUE(task);
        EXPECT_EQ(task->SetConfig({}), c.configResult);
        EXPECT_EQ(task->SetConfig({&ignored}), c.configResult);
        ITaskData* result = reinterpret_cast<ITaskData*>(0x1);
        EXPECT_EQ(task->GetResults(&result), 232u);
        EXPECT_EQ(result, nullptr);
    }
    // The two tasks with parameters have no result either.
    for (DWORD id : {KVXDIAG2_TASKID_PREPARE_PROCESS_REBOOT, KVXDIAG2_TASKID_PREPARE_CORE_REBOOT}) {
        SCOPED_TRACE(GetTaskIdName(id));
        kvx::UniqueTask task = kvx::MakeTask(id);
        ASSERT_TRUE(task);
        ITaskData* result = reinterpret_cast<ITaskData*>(0x1);
        EXPECT_EQ(task->GetResults(&result), 232u);
        EXPECT_EQ(result, nullptr);
    }
}

TEST_F(ResumeStateTest, CoreStateParametersAreCheckedInOrder)
{
    CTaskDataLong step(5);
    CTaskDataString dir("C:\\results");
    CTaskDataBool flag(true);
    CLongOfLength shortStep(2);
    const struct {
        const char* name;
        TaskDataList params;
        DWORD expected;
    } cases[] = {
        {"empty", {}, 87},
        {"null element", {nullptr}, 87},
        {"step not a 32-bit value", {&flag}, 1629},
        {"step of two bytes", {&shortStep, &dir}, 13},
        {"directory not a text", {&step, &step}, 1629},
        {"third element", {&step, &dir, &dir}, 87},
        {"null directory", {&step, nullptr}, 87},
        {"step alone", {&step}, 0},
        {"step and directory", {&step, &dir}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kvx::UniqueTask task = kvx::MakeTask(KVXDIAG2_TASKID_PREPARE_CORE_REBOOT);
        ASSERT_TRUE(task);
        EXPECT_EQ(task->SetConfig(c.params), c.expected);
    }
}

TEST_F(ResumeStateTest, CoreStateIsStoredWithTheKeyCreated)
{
    ASSERT_FALSE(ReadResumeState().keyExists);
    CTaskDataLong step(8);
    CTaskDataString dir("C:\\users\\x\\Temp\\KVXDIAG2-Results_");
    const TaskDataList params = {&step, &dir};
    ASSERT_EQ(Execute(KVXDIAG2_TASKID_PREPARE_CORE_REBOOT, &params), 0u);

    const kvxtest::SResumeState state = ReadResumeState();
    ASSERT_TRUE(state.step.has_value());
    EXPECT_EQ(*state.step, 8u);
    ASSERT_TRUE(state.resultsDir.has_value());
    EXPECT_EQ(*state.resultsDir, "C:\\users\\x\\Temp\\KVXDIAG2-Results_");
    DWORD type = 0;
    DWORD bytes = 0;
    ASSERT_TRUE(RawValue(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, L"ResultsDir", VENDOR_VIEW, type, bytes));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_TRUE(RawValue(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, L"CurrentStep", VENDOR_VIEW, type, bytes));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(bytes, 4u);
}

TEST_F(ResumeStateTest, CoreStateOfOneElementLeavesTheDirectoryEmptyAndIsNotPending)
{
    CTaskDataLong step(3);
    const TaskDataList params = {&step};
    ASSERT_EQ(Execute(KVXDIAG2_TASKID_PREPARE_CORE_REBOOT, &params), 0u);
    const kvxtest::SResumeState state = ReadResumeState();
    EXPECT_EQ(state.step.value_or(0), 3u);
    EXPECT_EQ(state.resultsDir.value_or("missing"), "");
}

TEST_F(ResumeStateTest, AutostartEntryNamesTheBatchFileBesideTheProgram)
{
    kvxtest::CScopedTempDir dir("autostart");
    const struct {
        const char* file;
        const char* expected; // below the directory, between the quotes
    } cases[] = {
        {"KVXDiag2.exe", "KVXDiag2.bat"},
        {"KVXDiag2", "KVXDiag2"}, // no ".exe": written unchanged
        {"KVXDiag2.EXE", "KVXDiag2.EXE"}, // the search is case-sensitive
        {"a.exe.dir.exe", "a.exe.dir.bat"}, // only the last one
        {"name with spaces.exe", "name with spaces.bat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir.Path() + "\\" + c.file;
        ASSERT_TRUE(kvxtest::WriteFileText(path, "MZ"));
        CTaskDataString processPath(path);
        const TaskDataList params = {&processPath};
        ASSERT_EQ(Execute(KVXDIAG2_TASKID_PREPARE_PROCESS_REBOOT, &params), 0u);
        EXPECT_EQ(ReadResumeState().autostart.value_or("missing"), "\"" + dir.Path() + "\\" + c.expected + "\"");
        DWORD type = 0;
        DWORD bytes = 0;
        ASSERT_TRUE(RawValue(HKEY_LOCAL_MACHINE, KVXDIAG2_RUN_KEY, L"KVXDIAG2_AUTOSTART", 0, type, bytes));
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        ::DeleteFileA(path.c_str());
    }
}

TEST_F(ResumeStateTest, AutostartEntryNeedsAnExistingProgram)
{
    kvxtest::CScopedTempDir dir("autostart");
    const std::string missing = dir.Path() + "\\gone.exe";
    for (const std::string& path : {std::string(), missing}) {
        SCOPED_TRACE(path);
        CTaskDataString processPath(path);
        const TaskDataList params = {&processPath};
        EXPECT_EQ(Execute(KVXDIAG2_TASKID_PREPARE_PROCESS_REBOOT, &params), 1168u);
        EXPECT_FALSE(ReadResumeState().autostart.has_value());
    }
    CTaskDataLong notText(1);
    const TaskDataList wrongType = {&notText};
    EXPECT_EQ(Execute(KVXDIAG2_TASKID_PREPARE_PROCESS_REBOOT, &wrongType), 87u);
    EXPECT_EQ(Execute(KVXDIAG2_TASKID_PREPARE_PROCESS_REBOOT), 1168u) << "never configured: empty path";
}

TEST_F(ResumeStateTest, RemovingTheCoreStateStopsAtAMissingStep)
{
    EXPECT_EQ(Execute(KVXDIAG2_TASKID_DISABLE_CORE_REBOOT), 2u) << "no key";

    ASSERT_TRUE(
        kvxtest::SetString(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, KVXDIAG2_RESUME_RESULTS_DIR, "C:\\r", VENDOR_VIEW));
    EXPECT_EQ(Execute(KVXDIAG2_TASKID_DISABLE_CORE_REBOOT), 2u);
    EXPECT_EQ(ReadResumeState().resultsDir.value_or("gone"), "C:\\r") << "the directory stays";

    ASSERT_TRUE(kvxtest::StoreResumeState(4, "C:\\r", true));
    ASSERT_TRUE(
        kvxtest::SetDword(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, KVXDIAG2_RESUME_NDIS_SUSPICIOUS, 0, VENDOR_VIEW));
    EXPECT_EQ(Execute(KVXDIAG2_TASKID_DISABLE_CORE_REBOOT), 0u);
    const kvxtest::SResumeState state = ReadResumeState();
    EXPECT_FALSE(state.step.has_value());
    EXPECT_FALSE(state.resultsDir.has_value());
    EXPECT_TRUE(state.tdiSuspicious) << "the marks are left alone";
    EXPECT_TRUE(state.ndisSuspicious);
}

TEST_F(ResumeStateTest, RemovingTheAutostartEntry)
{
    ASSERT_TRUE(kvxtest::SetString(HKEY_LOCAL_MACHINE, KVXDIAG2_RUN_KEY, KVXDIAG2_AUTOSTART_VALUE, "\"x.bat\""));
    EXPECT_EQ(Execute(KVXDIAG2_TASKID_DISABLE_PROCESS_REBOOT), 0u);
    EXPECT_FALSE(ReadResumeState().autostart.has_value());
    EXPECT_EQ(Execute(KVXDIAG2_TASKID_DISABLE_PROCESS_REBOOT), 2u);
}

TEST_F(ResumeStateTest, SuspiciousMarksNeedTheResumeKeyAndArePresenceOnly)
{
    const struct {
        DWORD mark;
        DWORD unmark;
        const char* value;
    } cases[] = {
        {KVXDIAG2_TASKID_MARK_TDI_MANAGER_SUSPICIOUS, KVXDIAG2_TASKID_UNMARK_TDI_MANAGER_SUSPICIOUS,
         KVXDIAG2_RESUME_TDI_SUSPICIOUS},
        {KVXDIAG2_TASKID_MARK_NDIS_MANAGER_SUSPICIOUS, KVXDIAG2_TASKID_UNMARK_NDIS_MANAGER_SUSPICIOUS,
         KVXDIAG2_RESUME_NDIS_SUSPICIOUS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        kvxtest::ClearResumeState();
        EXPECT_EQ(Execute(c.mark), 2u) << "the mark does not create the key";
        EXPECT_FALSE(ReadResumeState().keyExists);
        EXPECT_EQ(Execute(c.unmark), 2u);

        ASSERT_TRUE(CreateResumeKey());
        EXPECT_EQ(Execute(c.mark), 0u);
        DWORD value = 0xDEADBEEF;
        EXPECT_TRUE(kvxtest::GetDword(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, c.value, value, VENDOR_VIEW));
        EXPECT_EQ(value, 0u);
        EXPECT_EQ(Execute(c.mark), 0u) << "marking twice";
        EXPECT_EQ(Execute(c.unmark), 0u);
        EXPECT_FALSE(kvxtest::GetDword(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, c.value, value, VENDOR_VIEW));
        EXPECT_EQ(Execute(c.unmark), 2u) << "removing an absent mark fails with the registry's code";
    }
}

class ResumeForemanTest : public ResumeStateTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_foreman.Init(5, false, m_results.Path()), 0u);
        ASSERT_EQ(m_foreman.RegisterNotifier(&m_notifier, 7), 0u);
    }
    void TearDown() override { m_foreman.Finish(); }

    kvxtest::CScopedTempDir m_results{"resume"};
    CRecordingNotifier m_notifier;
    CForeman m_foreman;
};

TEST_F(ResumeForemanTest, PrepareRebootStoresTheStateAndStartsThisProgramAgain)
{
    ASSERT_EQ(m_foreman.PrepareReboot(9), 0u);
    const kvxtest::SResumeState state = ReadResumeState();
    EXPECT_EQ(state.step.value_or(0), 9u);
    EXPECT_EQ(state.resultsDir.value_or(""), m_results.Path());
    char program[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string expected = program;
    expected.replace(expected.rfind(".exe"), 4, ".bat");
    EXPECT_EQ(state.autostart.value_or(""), "\"" + expected + "\"");
    EXPECT_TRUE(m_notifier.codes.empty());

    // A later preparation overwrites the step.
    ASSERT_EQ(m_foreman.PrepareReboot(10), 0u);
    EXPECT_EQ(ReadResumeState().step.value_or(0), 10u);
}

TEST_F(ResumeForemanTest, ClearRebootRemovesEverythingAndAnswersTheCoreStateRemoval)
{
    ASSERT_EQ(m_foreman.PrepareReboot(9), 0u);
    ASSERT_EQ(m_foreman.MarkTDIManagerSuspicious(), 0u);
    EXPECT_TRUE(ReadResumeState().tdiSuspicious);
    EXPECT_EQ(m_foreman.ClearReboot(), 0u);
    kvxtest::SResumeState state = ReadResumeState();
    EXPECT_FALSE(state.step || state.resultsDir || state.autostart || state.tdiSuspicious);

    // Never marked: the failed unmark is only logged.
    ASSERT_EQ(m_foreman.PrepareReboot(4), 0u);
    EXPECT_EQ(m_foreman.ClearReboot(), 0u);
    state = ReadResumeState();
    EXPECT_FALSE(state.step || state.resultsDir || state.autostart);

    // Nothing stored any more: the core state's removal fails with the registry's code.
    EXPECT_EQ(m_foreman.ClearReboot(), 2u);
    EXPECT_TRUE(m_notifier.codes.empty());
}

TEST_F(ResumeForemanTest, TDIMarkOperationsAnswerFailedWhenTheRegistryRefuses)
{
    EXPECT_EQ(m_foreman.MarkTDIManagerSuspicious(), 1627u) << "no resume key yet";
    EXPECT_EQ(m_foreman.UnmarkTDIManagerSuspicious(), 1627u);
    ASSERT_TRUE(CreateResumeKey());
    EXPECT_EQ(m_foreman.MarkTDIManagerSuspicious(), 0u);
    EXPECT_TRUE(ReadResumeState().tdiSuspicious);
    EXPECT_EQ(m_foreman.UnmarkTDIManagerSuspicious(), 0u);
    EXPECT_FALSE(ReadResumeState().tdiSuspicious);
    EXPECT_EQ(m_foreman.UnmarkTDIManagerSuspicious(), 1627u);
}

} // namespace
