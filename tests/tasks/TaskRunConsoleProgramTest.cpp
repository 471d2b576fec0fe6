// Task 18: a console program's output in its own report section, its exit code as the result.
#include "core/report/ReporterPlainText.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskRunConsoleProgram.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using kvxtest::ReadReportLines;
using kvxtest::SReportLine;

// The task as it behaves when "SYSUTILS" could not be obtained.
class CTaskRunConsoleProgramWithoutHelper : public CTaskRunConsoleProgram {
public:
    CTaskRunConsoleProgramWithoutHelper() { m_sysUtils.reset(); }
};

class RunConsoleProgramTaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kvxtest::FileExists(kvxtest::ConsoleProbePath()));
        m_reporter.SetOutputFile(m_file);
    }

    DWORD Configure(ITask& task, const std::string& program, const std::string& arguments, const std::string& section)
    {
        CTaskDataString programValue(program);
        CTaskDataString argumentsValue(arguments);
        CTaskDataString sectionValue(section);
        return task.SetConfig({&programValue, &argumentsValue, &sectionValue});
    }

    kvxtest::CScopedTempDir m_dir{"kvxruntask"};
    std::string m_file = m_dir.Path() + "\\KVXDiagReport.txt";
    CReporterPlainText m_reporter;
};

} // namespace

TEST_F(RunConsoleProgramTaskTest, OutputGoesIntoATitledSectionAndTheExitCodeIsTheResult)
{
    const std::string probe = kvxtest::ConsoleProbePath();
    CTaskRunConsoleProgram task;
    ASSERT_EQ(Configure(task, probe, "lines 3", "Network"), 0u);
    EXPECT_EQ(task.Execute(&m_reporter), 0u);

    const std::string title = "Network (" + probe + " lines 3)";
    const std::vector<SReportLine> lines = ReadReportLines(m_file);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "-> " + title);
    EXPECT_EQ(lines[0].tabs, 0u);
    EXPECT_EQ(lines[1].text, "first line");
    EXPECT_EQ(lines[1].tabs, 1u);
    EXPECT_EQ(lines[2].text, "second line");
    EXPECT_EQ(lines[2].tabs, 1u);
    EXPECT_EQ(lines[3].text, "<- " + title);
    EXPECT_EQ(lines[3].tabs, 0u);
    EXPECT_EQ(m_reporter.GetDepth(), 0u);

    ITaskData* pResult = nullptr;
    ASSERT_EQ(task.GetResults(&pResult), 0u);
    ASSERT_NE(pResult, nullptr);
    ASSERT_EQ(pResult->GetType(), eKVXDiagTLVType_LONG);
    DWORD dwExitCode = 0;
    static_cast<CTaskDataLong*>(pResult)->GetData(dwExitCode);
    EXPECT_EQ(dwExitCode, 3u);
}

TEST_F(RunConsoleProgramTaskTest, PercentSignsInOutputAndTitleAreWrittenUnchanged)
{
    CTaskRunConsoleProgram task;
    ASSERT_EQ(Configure(task, kvxtest::ConsoleProbePath(), "text 100%", "Usage %s %n"), 0u);
    EXPECT_EQ(task.Execute(&m_reporter), 0u);
    const std::vector<SReportLine> lines = ReadReportLines(m_file);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text.rfind("-> Usage %s %n (", 0), 0u) << lines[0].text;
    EXPECT_EQ(lines[1].text, "100%");
}

TEST_F(RunConsoleProgramTaskTest, LongOutputReachesTheReportWhole)
{
    // More than three format buffers of output: no line may be lost, cut or merged.
    constexpr unsigned long size = 350000;
    CTaskRunConsoleProgram task;
    ASSERT_EQ(Configure(task, kvxtest::ConsoleProbePath(), "bytes " + std::to_string(size), "Big"), 0u);
    EXPECT_EQ(task.Execute(&m_reporter), 0u);

    const std::string expected = kvxtest::ProbeNumberedLines(size);
    const std::vector<SReportLine> lines = ReadReportLines(m_file);
    ASSERT_EQ(lines.size(), size / 100 + 2);
    for (size_t i = 0; i < size / 100; ++i) {
        const SReportLine& line = lines[i + 1];
        if (line.text != expected.substr(i * 100, 98) || line.tabs != 1) {
            ADD_FAILURE() << "line " << i << " is '" << line.text << "'";
            break;
        }
    }
}

TEST_F(RunConsoleProgramTaskTest, ProgramThatCannotStartIsReportedAsAFailure)
{
    CTaskRunConsoleProgram task;
    ASSERT_EQ(Configure(task, m_dir.Path() + "\\missing.exe", "", "Missing"), 0u);
    const DWORD dwResult = task.Execute(&m_reporter);
    EXPECT_NE(dwResult, 0u);
    const std::vector<SReportLine> lines = ReadReportLines(m_file);
    ASSERT_EQ(lines.size(), 3u);
    char expected[64];
    snprintf(expected, sizeof expected, "Failed to execute program, error 0x%08lx", dwResult);
    EXPECT_EQ(lines[1].text, expected);
    EXPECT_EQ(lines[2].text.rfind("<- Missing (", 0), 0u);

    ITaskData* pResult = reinterpret_cast<ITaskData*>(static_cast<ULONG_PTR>(1));
    EXPECT_EQ(task.GetResults(&pResult), static_cast<DWORD>(ERROR_NO_DATA));
    EXPECT_EQ(pResult, nullptr);
}

TEST_F(RunConsoleProgramTaskTest, WithoutAReporterNothingIsWritten)
{
    CTaskRunConsoleProgram task;
    ASSERT_EQ(Configure(task, kvxtest::ConsoleProbePath(), "lines 0", "S"), 0u);
    EXPECT_EQ(task.Execute(nullptr), 0u);
    EXPECT_FALSE(kvxtest::FileExists(m_file));
    ITaskData* pResult = nullptr;
    EXPECT_EQ(task.GetResults(&pResult), 0u);
}

TEST_F(RunConsoleProgramTaskTest, MissingHelperAnswers4301AndReportsNothing)
{
    CTaskRunConsoleProgramWithoutHelper task;
    ASSERT_EQ(Configure(task, kvxtest::ConsoleProbePath(), "lines 0", "S"), 0u);
    kvxtest::CRecordingReporter reporter;
    EXPECT_EQ(task.Execute(&reporter), static_cast<DWORD>(ERROR_INVALID_LIBRARY));
    EXPECT_TRUE(reporter.Calls().empty());
}
