// The foreman's single-task evidence operations, end to end through the factory and the tasks.
#include "core/jobs/Foreman.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

class ForemanEvidenceTest : public ::testing::Test {
protected:
    kvxtest::CScopedTempDir m_dir{"kvxevidence"};
    CForeman m_foreman;
};

} // namespace

TEST_F(ForemanEvidenceTest, MakeTempDirectoryHandsBackTheDirectoryMade)
{
    kvxtest::CScopedTempVariables temp(m_dir.Path());
    std::string first;
    std::string second;
    EXPECT_EQ(m_foreman.MakeTempDirectory("KVXDIAG2-Results", first), 0u);
    EXPECT_EQ(m_foreman.MakeTempDirectory("KVXDIAG2-Results", second), 0u);
    EXPECT_EQ(first, m_dir.Path() + "\\KVXDIAG2-Results");
    EXPECT_EQ(second, m_dir.Path() + "\\KVXDIAG2-Results_");
    EXPECT_TRUE(kvxtest::DirectoryExists(second));
}

TEST_F(ForemanEvidenceTest, MakeDirectoryTreePassesTheTasksCodeOn)
{
    EXPECT_EQ(m_foreman.MakeDirectoryTree(m_dir.Path() + "\\DataGathering\\StaticData\\"), 0u);
    EXPECT_TRUE(kvxtest::DirectoryExists(m_dir.Path() + "\\DataGathering\\StaticData"));
    EXPECT_EQ(m_foreman.MakeDirectoryTree(""), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ForemanEvidenceTest, ExecuteProgramWritesTheExitCode)
{
    int exitCode = -1;
    EXPECT_EQ(m_foreman.ExecuteProgram(kvxtest::ConsoleProbePath(), "lines 9", "Probe", &exitCode), 0u);
    EXPECT_EQ(exitCode, 9);
    EXPECT_EQ(m_foreman.ExecuteProgram(kvxtest::ConsoleProbePath(), "lines 4", "Probe"), 0u) << "no exit code wanted";

    exitCode = -1;
    EXPECT_NE(m_foreman.ExecuteProgram(m_dir.Path() + "\\missing.exe", "", "Missing", &exitCode), 0u);
    EXPECT_EQ(exitCode, -1) << "written only after a run";
}

TEST_F(ForemanEvidenceTest, ExportRegistryKeyOfAPredefinedRoot)
{
    kvxtest::CScopedRegistryTree tree(HKEY_CURRENT_USER, "Software\\KVXDiag2Tests");
    ASSERT_TRUE(kvxtest::SetString(HKEY_CURRENT_USER, "Software\\KVXDiag2Tests\\Foreman", "Marker", "x"));
    const std::string file = m_dir.Path() + "\\foreman.hiv";
    EXPECT_EQ(m_foreman.ExportRegistryKey(HKEY_CURRENT_USER, "Software\\KVXDiag2Tests\\Foreman", file), 0u);
    EXPECT_TRUE(kvxtest::FileExists(file));
    EXPECT_EQ(m_foreman.ExportRegistryKey(HKEY_CURRENT_USER, "Software\\KVXDiag2Tests\\None", file),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ForemanEvidenceTest, FreshStartMakesTheResultsDirectoryAndReportInANonAsciiTemporaryDirectory)
{
    const std::string accented = m_dir.Path() + "\\Se\xF1" "al";
    ASSERT_TRUE(::CreateDirectoryA(accented.c_str(), nullptr));
    kvxtest::CScopedTempVariables temp(accented);
    ASSERT_TRUE(::CreateDirectoryA((accented + "\\KVXDIAG2-Results").c_str(), nullptr)) << "a taken name";

    CForeman foreman;
    ASSERT_EQ(foreman.Init(1, false, ""), 0u);
    EXPECT_EQ(foreman.GetResultsDirectory(), accented + "\\KVXDIAG2-Results_");
    EXPECT_EQ(foreman.ExecuteProgram(kvxtest::ConsoleProbePath(), "lines 0", "Probe"), 0u);
    foreman.Finish();

    const std::vector<kvxtest::SReportLine> lines =
        kvxtest::ReadReportLines(accented + "\\KVXDIAG2-Results_\\KVXDiagReport.txt");
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 3].text, "first line");
    EXPECT_EQ(lines.back().text, "<- Probe (" + kvxtest::ConsoleProbePath() + " lines 0)");
}
