// The parameter-list patterns of SetConfig, seen through the tasks that use them.
#include "core/tasks/TaskCloneDirectory.h"
#include "core/tasks/TaskCopyMoveFileWildcards.h"
#include "core/tasks/TaskDataBool.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataLong64.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskExportRegistryKey.h"
#include "core/tasks/TaskGetProcessFullPath.h"
#include "core/tasks/TaskMakeDirectoryTree.h"
#include "core/tasks/TaskMakeKVXDIAG2TempDir.h"
#include "core/tasks/TaskRunConsoleProgram.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// A value whose record says whatever the test wants it to say.
class CRawValue : public ITaskData {
public:
    CRawValue(LONG type, DWORD length, const void* value) : m_tlv{type, length, value} {}
    DWORD SetData(const TaskDataTLV&) override { return 0; }
    DWORD GetData(TaskDataTLV& tlv) override
    {
        tlv = m_tlv;
        return 0;
    }
    DWORD GetDataAsString(std::string& text) override
    {
        text.clear();
        return 0;
    }
    LONG GetType() const override { return m_tlv.type; }

private:
    TaskDataTLV m_tlv;
};

std::string ConfiguredPath(CTaskMakeDirectoryTree& task)
{
    ITaskData* pResult = nullptr;
    EXPECT_EQ(task.GetResults(&pResult), 0u);
    std::string text;
    if (pResult != nullptr) {
        pResult->GetDataAsString(text);
    }
    return text;
}

} // namespace

TEST(OneTextPattern, ListChecks)
{
    CTaskDataString text("C:\\first");
    CTaskDataString second("C:\\second");
    CTaskDataLong number(5);
    struct SCase {
        const char* label;
        TaskDataList list;
        DWORD expected;
        const char* path;
    };
    const SCase cases[] = {
        {"empty list", {}, ERROR_INVALID_PARAMETER, ""},
        {"first element not text", {&number, &text}, ERROR_INVALID_PARAMETER, ""},
        {"missing element", {nullptr}, ERROR_INVALID_PARAMETER, ""},
        {"one text", {&text}, 0, "C:\\first"},
        {"second element ignored", {&text, &number}, 0, "C:\\first"},
        {"second text ignored", {&text, &second}, 0, "C:\\first"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        CTaskMakeDirectoryTree task;
        EXPECT_EQ(task.SetConfig(c.list), c.expected);
        EXPECT_EQ(ConfiguredPath(task), c.path);
    }
}

TEST(OneTextPattern, DeclaredLengthBoundsTheTextAndAZeroEndsIt)
{
    const char bytes[] = {'a', 'b', '\0', 'c', 'd'};
    CRawValue withZero(eKVXDiagTLVType_CHARSTRING, sizeof bytes, bytes);
    CTaskMakeDirectoryTree task;
    EXPECT_EQ(task.SetConfig({&withZero}), 0u);
    EXPECT_EQ(ConfiguredPath(task), "ab");

    // Only the declared three bytes are taken, though more follow.
    CRawValue shorter(eKVXDiagTLVType_CHARSTRING, 3, "abcdef");
    EXPECT_EQ(task.SetConfig({&shorter}), 0u);
    EXPECT_EQ(ConfiguredPath(task), "abc");

    CRawValue nowhere(eKVXDiagTLVType_CHARSTRING, 4, nullptr);
    EXPECT_EQ(task.SetConfig({&nowhere}), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(FixedTextsPattern, ExactCountAndFirstFailureEndsTheReading)
{
    CTaskDataString a("C:\\src1");
    CTaskDataString b("C:\\dst1");
    CTaskDataString c("C:\\dst2");
    CTaskDataLong number(1);
    CTaskCloneDirectory task;
    EXPECT_EQ(task.SetConfig({&a}), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(task.SetConfig({&a, &b, &c}), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_EQ(task.SetConfig({&a, &b}), 0u);

    // The first element fails, so the second is not read: the destination stays dst1.
    EXPECT_EQ(task.SetConfig({&number, &c}), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    kvxtest::CRecordingReporter reporter;
    task.Execute(&reporter);
    ASSERT_EQ(reporter.Calls().size(), 1u);
    EXPECT_NE(reporter.Calls()[0].find("C:\\dst1"), std::string::npos) << reporter.Calls()[0];

    CTaskRunConsoleProgram program;
    EXPECT_EQ(program.SetConfig({&a, &b}), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "three texts needed";
    EXPECT_EQ(program.SetConfig({&a, &b, &number}), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(program.SetConfig({&a, &b, &c}), 0u);
}

TEST(MixedPattern, PartialListsKeepTheFieldsTheyDoNotReach)
{
    kvxtest::CScopedTempDir dir("kvxconfig");
    CTaskDataString source(dir.Path() + "\\none*.x");
    CTaskDataString destination(dir.Path() + "\\");
    CTaskDataBool yes(true);
    CTaskCopyMoveFileWildcards task;

    // Only the source: the destination stays empty, which Execute refuses.
    EXPECT_EQ(task.SetConfig({&source}), 0u);
    EXPECT_EQ(task.Execute(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // A full list, then a shorter one: the flag set earlier stays.
    EXPECT_EQ(task.SetConfig({&source, &destination, &yes}), 0u);
    EXPECT_EQ(task.SetConfig({&source, &destination}), 0u);
    kvxtest::CRecordingReporter reporter;
    EXPECT_EQ(task.Execute(&reporter), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(reporter.Calls().size(), 1u);
    EXPECT_NE(reporter.Calls()[0].find("Delete source flag: True"), std::string::npos) << reporter.Calls()[0];
}

TEST(MixedPattern, TypeLengthCountAndMissingElementChecks)
{
    CTaskDataString text("x");
    CTaskDataBool yes(true);
    CTaskDataLong number(1);
    const DWORD four = 1;
    CRawValue wideBool(eKVXDiagTLVType_BOOL, 4, &four);
    CRawValue boolNowhere(eKVXDiagTLVType_BOOL, 1, nullptr);
    struct SCase {
        const char* label;
        TaskDataList list;
        DWORD expected;
    };
    const SCase cases[] = {
        {"empty list", {}, ERROR_INVALID_PARAMETER},
        {"missing element", {&text, nullptr}, ERROR_INVALID_PARAMETER},
        {"text where a text belongs", {&text, &text, &yes}, 0},
        {"LONG where a BOOL belongs", {&text, &text, &number}, ERROR_DATATYPE_MISMATCH},
        {"BOOL where a text belongs", {&yes}, ERROR_DATATYPE_MISMATCH},
        {"BOOL of four bytes", {&text, &text, &wideBool}, ERROR_DATATYPE_MISMATCH},
        {"BOOL pointing nowhere", {&text, &text, &boolNowhere}, ERROR_INVALID_PARAMETER},
        {"element beyond the last field", {&text, &text, &yes, &yes}, ERROR_INVALID_PARAMETER},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        CTaskCopyMoveFileWildcards task;
        EXPECT_EQ(task.SetConfig(c.list), c.expected);
    }
}

TEST(RootKeyPattern, ExactlyARootKeyAndTwoTexts)
{
    CTaskDataLong64 root(0xFFFFFFFF80000001ull);
    CTaskDataLong narrowRoot(0x80000001u);
    CTaskDataString subKey("Software");
    CTaskDataString file("C:\\x.dat");
    CTaskDataLong number(1);
    struct SCase {
        const char* label;
        TaskDataList list;
        DWORD expected;
    };
    const SCase cases[] = {
        {"two elements", {&root, &subKey}, ERROR_INVALID_PARAMETER},
        {"four elements", {&root, &subKey, &file, &file}, ERROR_INVALID_PARAMETER},
        {"root as LONG", {&narrowRoot, &subKey, &file}, ERROR_INVALID_PARAMETER},
        {"subkey not text", {&root, &number, &file}, ERROR_INVALID_PARAMETER},
        {"file not text", {&root, &subKey, &number}, ERROR_INVALID_PARAMETER},
        {"missing element", {&root, nullptr, &file}, ERROR_INVALID_PARAMETER},
        {"well formed", {&root, &subKey, &file}, 0},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        CTaskExportRegistryKey task;
        EXPECT_EQ(task.SetConfig(c.list), c.expected);
    }
}

TEST(NoParametersPattern, ProcessPathTaskAnswers50)
{
    CTaskDataString text("x");
    CTaskGetProcessFullPath task;
    EXPECT_EQ(task.SetConfig({}), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(task.SetConfig({&text}), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(TaskResults, NoResultBeforeExecute)
{
    struct SCase {
        const char* label;
        ITask* task;
    };
    CTaskRunConsoleProgram program;
    CTaskGetProcessFullPath path;
    CTaskCloneDirectory clone;
    CTaskCopyMoveFileWildcards copy;
    CTaskExportRegistryKey exportKey;
    for (const SCase& c : {SCase{"run console program", &program}, SCase{"process path", &path},
                           SCase{"clone", &clone}, SCase{"copy", &copy}, SCase{"export", &exportKey}}) {
        SCOPED_TRACE(c.label);
        ITaskData* pResult = reinterpret_cast<ITaskData*>(static_cast<ULONG_PTR>(0xDEADBEEF));
        EXPECT_EQ(c.task->GetResults(&pResult), static_cast<DWORD>(ERROR_NO_DATA));
        EXPECT_EQ(pResult, nullptr);
    }
}
