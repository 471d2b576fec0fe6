// The system-utilities helper: directories, the temporary directory, privileges, registry hives and
// directory clones. The console-program runner has its own file.
#include "core/helpers/HelperRef.h"
#include "core/helpers/SysUtilsHelper.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using kvxtest::DirectoryExists;
using kvxtest::FileExists;
using kvxtest::MakeFile;
using kvxtest::ReadFileText;

class SysUtilsHelperTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_helper) << "SYSUTILS is not registered"; }

    kvx::CHelperRef<CSysUtilsHelper> m_helper{"SYSUTILS"};
    kvxtest::CScopedTempDir m_dir{"kvxsysutils"};
};

// Restores the current directory on the way out.
class CScopedCurrentDirectory {
public:
    explicit CScopedCurrentDirectory(const std::string& directory)
    {
        char saved[MAX_PATH] = {};
        ::GetCurrentDirectoryA(sizeof saved, saved);
        m_saved = saved;
        ::SetCurrentDirectoryA(directory.c_str());
    }
    ~CScopedCurrentDirectory() { ::SetCurrentDirectoryA(m_saved.c_str()); }

private:
    std::string m_saved;
};

} // namespace

TEST_F(SysUtilsHelperTest, MakeDirectoryTreeCreatesOnlyWhatIsMissing)
{
    const std::string base = m_dir.Path();
    ASSERT_TRUE(::CreateDirectoryA((base + "\\a").c_str(), nullptr));
    MakeFile(base + "\\a\\keep.txt", "kept");

    EXPECT_EQ(m_helper->MakeDirectoryTree(base + "\\a\\b"), 0u);
    EXPECT_TRUE(DirectoryExists(base + "\\a\\b"));
    EXPECT_EQ(ReadFileText(base + "\\a\\keep.txt"), "kept") << "an existing parent was touched";

    struct SCase {
        const char* label;
        std::string path;
        std::string expectDir;
    };
    const SCase cases[] = {
        {"existing tree", base + "\\a\\b", base + "\\a\\b"},
        {"trailing backslash", base + "\\t1\\", base + "\\t1"},
        {"doubled separators", base + "\\\\t2\\\\x", base + "\\t2\\x"},
        {"forward slashes", base + "/t3/y/z", base + "\\t3\\y\\z"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(m_helper->MakeDirectoryTree(c.path), 0u);
        EXPECT_TRUE(DirectoryExists(c.expectDir));
    }
}

TEST_F(SysUtilsHelperTest, MakeDirectoryTreeRefusesEmptyAndOverlongPaths)
{
    EXPECT_EQ(m_helper->MakeDirectoryTree(""), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // A path that fits no MAX_PATH buffer is refused before anything is created.
    const std::string first = m_dir.Path() + "\\first";
    const std::string overlong = first + "\\" + std::string(300, 'x');
    EXPECT_EQ(m_helper->MakeDirectoryTree(overlong), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(DirectoryExists(first));
}

TEST_F(SysUtilsHelperTest, MakeDirectoryTreeKeepsTheRootOfADrivelessPath)
{
    // "\dir\..." must be made at the root of the current drive, not below the current directory.
    const std::string cwd = m_dir.Path() + "\\cwd";
    ASSERT_TRUE(::CreateDirectoryA(cwd.c_str(), nullptr));
    CScopedCurrentDirectory inCwd(cwd);
    const std::string full = m_dir.Path() + "\\rooted\\x";
    ASSERT_EQ(full[1], ':');
    EXPECT_EQ(m_helper->MakeDirectoryTree(full.substr(2)), 0u);
    EXPECT_TRUE(DirectoryExists(full));
    EXPECT_FALSE(DirectoryExists(cwd + full.substr(2)));
}

TEST_F(SysUtilsHelperTest, MakeTempDirectoryAppendsUnderscoresWhileTheNameIsTaken)
{
    kvxtest::CScopedTempVariables temp(m_dir.Path());
    ASSERT_TRUE(::CreateDirectoryA((m_dir.Path() + "\\X").c_str(), nullptr));
    ASSERT_TRUE(MakeFile(m_dir.Path() + "\\X_", "a file also takes the name"));

    std::string path = "poison";
    EXPECT_EQ(m_helper->MakeTempDirectory("X", path), 0u);
    EXPECT_EQ(path, m_dir.Path() + "\\X__");
    EXPECT_TRUE(DirectoryExists(path));

    std::string again;
    EXPECT_EQ(m_helper->MakeTempDirectory("X", again), 0u);
    EXPECT_EQ(again, m_dir.Path() + "\\X___");
}

TEST_F(SysUtilsHelperTest, MakeTempDirectoryWorksInANonAsciiTemporaryDirectory)
{
    // "Señal" in the ANSI code page (1252), as GetTempPathA hands it out.
    const std::string accented = m_dir.Path() + "\\Se\xF1" "al";
    ASSERT_TRUE(::CreateDirectoryA(accented.c_str(), nullptr));
    kvxtest::CScopedTempVariables temp(accented);

    std::string path;
    ASSERT_EQ(m_helper->MakeTempDirectory("KVXDIAG2-Results", path), 0u);
    EXPECT_EQ(path, accented + "\\KVXDIAG2-Results");

    // The same directory seen through the wide API: the bytes really name "Señal".
    wchar_t wide[MAX_PATH] = {};
    ASSERT_GT(::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH), 0);
    const std::wstring widePath(wide);
    EXPECT_NE(widePath.find(L"Se\u00F1al\\KVXDIAG2-Results"), std::wstring::npos);
    const DWORD attributes = ::GetFileAttributesW(wide);
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
}

TEST_F(SysUtilsHelperTest, MakeTempDirectoryCreatesAMissingTemporaryDirectory)
{
    const std::string missing = m_dir.Path() + "\\not\\yet";
    kvxtest::CScopedTempVariables temp(missing);
    std::string path;
    EXPECT_EQ(m_helper->MakeTempDirectory("R", path), 0u);
    EXPECT_EQ(path, missing + "\\R");
    EXPECT_TRUE(DirectoryExists(path));
}

TEST_F(SysUtilsHelperTest, MakeTempDirectoryFailsWithoutWritingTheOutPath)
{
    // A temporary directory below a file cannot be made.
    ASSERT_TRUE(MakeFile(m_dir.Path() + "\\file", "x"));
    kvxtest::CScopedTempVariables temp(m_dir.Path() + "\\file\\sub");
    std::string path = "untouched";
    EXPECT_EQ(m_helper->MakeTempDirectory("R", path), static_cast<DWORD>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(path, "untouched");
    EXPECT_EQ(m_helper->MakeTempDirectory("", path), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SysUtilsHelperTest, GetCurrentProcessFullPathNamesThisProgram)
{
    std::string path;
    ASSERT_EQ(m_helper->GetCurrentProcessFullPath(path), 0u);
    EXPECT_EQ(path, kvxtest::TestProgramDirectory() + "kvx_helpers_tests.exe");
}

TEST_F(SysUtilsHelperTest, PrivilegeCanBeSwitchedOnAndOff)
{
    bool bInitially = false;
    ASSERT_EQ(m_helper->IsPrivilegeEnabled("SeBackupPrivilege", bInitially), 0u);

    ASSERT_EQ(m_helper->SetPrivilegeState("SeBackupPrivilege", true), 0u);
    bool bEnabled = false;
    EXPECT_EQ(m_helper->IsPrivilegeEnabled("SeBackupPrivilege", bEnabled), 0u);
    EXPECT_TRUE(bEnabled);

    EXPECT_EQ(m_helper->SetPrivilegeState("SeBackupPrivilege", false), 0u);
    EXPECT_EQ(m_helper->IsPrivilegeEnabled("SeBackupPrivilege", bEnabled), 0u);
    EXPECT_FALSE(bEnabled);

    m_helper->SetPrivilegeState("SeBackupPrivilege", bInitially);
}

TEST_F(SysUtilsHelperTest, UnknownPrivilegeNameGivesTheLookupError)
{
    bool bEnabled = true;
    EXPECT_EQ(m_helper->IsPrivilegeEnabled("SeNoSuchPrivilege", bEnabled), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
    EXPECT_TRUE(bEnabled) << "the flag is written only on success";
    EXPECT_EQ(m_helper->SetPrivilegeState("SeNoSuchPrivilege", true), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
}

TEST_F(SysUtilsHelperTest, SaveRegistryKeyWritesAHiveAndReplacesAnOldFile)
{
    const std::string subKey = "Software\\KVXDiag2Tests\\Hive";
    kvxtest::CScopedRegistryTree tree(HKEY_CURRENT_USER, "Software\\KVXDiag2Tests");
    ASSERT_TRUE(kvxtest::SetString(HKEY_CURRENT_USER, subKey, "Marker", "hive-content"));
    ASSERT_EQ(m_helper->SetPrivilegeState("SeBackupPrivilege", true), 0u);

    const std::string file = m_dir.Path() + "\\hive.dat";
    ASSERT_TRUE(MakeFile(file, "stale"));
    EXPECT_EQ(m_helper->SaveRegistryKey(HKEY_CURRENT_USER, subKey, file), 0u);
    const std::string content = ReadFileText(file);
    EXPECT_NE(content, "stale");
    EXPECT_GT(content.size(), 5u);

    EXPECT_EQ(m_helper->SaveRegistryKey(HKEY_CURRENT_USER, subKey + "\\Missing", m_dir.Path() + "\\none.dat"),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(FileExists(m_dir.Path() + "\\none.dat"));
    m_helper->SetPrivilegeState("SeBackupPrivilege", false);
}

TEST_F(SysUtilsHelperTest, CloneDirectoryCopiesFilesButNotEmptyDirectories)
{
    const std::string source = m_dir.Path() + "\\src";
    const std::string target = m_dir.Path() + "\\dst\\deeper";
    ASSERT_EQ(m_helper->MakeDirectoryTree(source + "\\s\\t"), 0u);
    ASSERT_EQ(m_helper->MakeDirectoryTree(source + "\\empty"), 0u);
    MakeFile(source + "\\a.txt", "A");
    MakeFile(source + "\\s\\b.txt", "B");
    MakeFile(source + "\\s\\t\\c.txt", "C");

    EXPECT_EQ(m_helper->CloneDirectory(source, target), 0u);
    EXPECT_EQ(ReadFileText(target + "\\a.txt"), "A");
    EXPECT_EQ(ReadFileText(target + "\\s\\b.txt"), "B");
    EXPECT_EQ(ReadFileText(target + "\\s\\t\\c.txt"), "C");
    EXPECT_FALSE(DirectoryExists(target + "\\empty"));

    // Cloning again overwrites the earlier copies.
    MakeFile(source + "\\a.txt", "A2");
    EXPECT_EQ(m_helper->CloneDirectory(source + "\\", target + "\\"), 0u);
    EXPECT_EQ(ReadFileText(target + "\\a.txt"), "A2");
}

TEST_F(SysUtilsHelperTest, CloneDirectoryRefusesMissingAndEmptySources)
{
    EXPECT_EQ(m_helper->CloneDirectory(m_dir.Path() + "\\missing", m_dir.Path() + "\\t"),
              static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_FALSE(DirectoryExists(m_dir.Path() + "\\t"));
    EXPECT_EQ(m_helper->CloneDirectory("", m_dir.Path() + "\\t"), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(m_helper->CloneDirectory(m_dir.Path(), ""), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SysUtilsHelperTest, CloneDirectoryStopsAtTheFirstFailedCopy)
{
    const std::string source = m_dir.Path() + "\\src";
    ASSERT_EQ(m_helper->MakeDirectoryTree(source), 0u);
    MakeFile(source + "\\a.txt", "A");
    // The destination is a file, so no directory can be made below it.
    MakeFile(m_dir.Path() + "\\blocker", "x");
    EXPECT_NE(m_helper->CloneDirectory(source, m_dir.Path() + "\\blocker\\t"), 0u);
}

TEST_F(SysUtilsHelperTest, AddFilesToVectorListsFilesOfEveryLevel)
{
    const std::string source = m_dir.Path() + "\\list\\";
    ASSERT_EQ(m_helper->MakeDirectoryTree(source + "d"), 0u);
    MakeFile(source + "one", "1");
    MakeFile(source + "d\\two", "2");
    std::vector<std::string> files;
    ASSERT_TRUE(m_helper->AddFilesToVector(source, files));
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{source + "d\\two", source + "one"}));
    EXPECT_FALSE(m_helper->AddFilesToVector(m_dir.Path() + "\\nothing\\", files));
}
