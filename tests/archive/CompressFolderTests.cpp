// Folder packing through the system-utilities helper (CompressFolder) and task 19, on Windows: the
// archive's contents, the current directory around the call, and the codes of the failure paths.
#include "core/archive/ProcessorFeatures.h"
#include "core/helpers/CngSha256.h"
#include "core/helpers/HelperRef.h"
#include "core/helpers/SysUtilsHelper.h"
#include "core/interface/KVXDiagTypes.h"
#include "core/tasks/TaskCompressFolder.h"
#include "core/tasks/TaskDataString.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <vector>

using namespace kvxtest;

namespace {

std::string CurrentDirectory()
{
    char buffer[MAX_PATH * 2] = {};
    ::GetCurrentDirectoryA(sizeof(buffer), buffer);
    return buffer;
}

class CTaskCompressFolderWithoutHelper : public CTaskCompressFolder {
public:
    CTaskCompressFolderWithoutHelper() { m_sysUtils.reset(); }
};

class CompressFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_tree = m_dir.Join("KVXDIAG2-Results");
        ASSERT_TRUE(::CreateDirectoryA(m_tree.c_str(), nullptr));
        for (const char* sub : {"\\DataGathering", "\\DataGathering\\StaticData", "\\BasicAnalisys", "\\Empty"}) {
            ASSERT_TRUE(::CreateDirectoryA((m_tree + sub).c_str(), nullptr));
        }
        m_files = {
            {"KVXDiagReport.txt", TextLikeBytes(40000, 1)},
            {"DataGathering\\StaticData\\SYSTEM", PseudoRandomBytes(30000, 2)},
            {"BasicAnalisys\\capture.zip", PseudoRandomBytes(5000, 3)},
        };
        for (const auto& f : m_files) {
            ASSERT_TRUE(WriteFileBytes(m_tree + "\\" + f.first, f.second));
        }
        // The caller's own current directory, which the packing must give back.
        m_callerDir = m_dir.Join("caller");
        ASSERT_TRUE(::CreateDirectoryA(m_callerDir.c_str(), nullptr));
        m_savedDir = CurrentDirectory();
        ASSERT_TRUE(::SetCurrentDirectoryA(m_callerDir.c_str()));
    }
    void TearDown() override { ::SetCurrentDirectoryA(m_savedDir.c_str()); }

    CTempDirectory m_dir;
    std::string m_tree;
    std::string m_callerDir;
    std::string m_savedDir;
    std::map<std::string, std::vector<uint8_t>> m_files;
    kvx::CHelperRef<CSysUtilsHelper> m_helper{KVXDIAG2_HELPER_SYSUTILS};
};

} // namespace

TEST_F(CompressFolderTest, PacksTheTreeFoldersFirstAndGivesTheCurrentDirectoryBack)
{
    ASSERT_TRUE(m_helper);
    const std::string zip = m_dir.Join("package.zip");
    EXPECT_EQ(KVXDIAG2_OK, m_helper->CompressFolder(m_tree, "Orvex-pw", zip));
    EXPECT_EQ(m_callerDir, CurrentDirectory());

    SArchive archive;
    std::string error;
    ASSERT_TRUE(ParseArchive(ReadFileBytes(zip), archive, error)) << error;
    std::vector<std::string> names;
    for (const SCentralRecord& e : archive.m_entries) {
        names.push_back(e.m_name);
        if (e.m_name.back() == '/') {
            EXPECT_EQ(0, e.m_flags) << e.m_name;
            continue;
        }
        EXPECT_EQ(0x0009, e.m_flags) << e.m_name;
        std::string key = e.m_name;
        std::replace(key.begin(), key.end(), '/', '\\');
        std::vector<uint8_t> data;
        ASSERT_TRUE(ExtractEntry(archive, e, "Orvex-pw", data, error)) << error;
        EXPECT_TRUE(m_files.at(key) == data) << e.m_name;
    }
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ((std::vector<std::string>{"BasicAnalisys/", "BasicAnalisys/capture.zip", "DataGathering/",
                                        "DataGathering/StaticData/", "DataGathering/StaticData/SYSTEM", "Empty/",
                                        "KVXDiagReport.txt"}),
              sorted);
    auto indexOf = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_LT(indexOf("DataGathering/"), indexOf("DataGathering/StaticData/"));
    EXPECT_LT(indexOf("DataGathering/StaticData/"), indexOf("DataGathering/StaticData/SYSTEM"));
    EXPECT_LT(indexOf("BasicAnalisys/"), indexOf("BasicAnalisys/capture.zip"));
}

TEST_F(CompressFolderTest, AnEmptyPasswordMeansNoEncryption)
{
    ASSERT_TRUE(m_helper);
    const std::string zip = m_dir.Join("plain.zip");
    EXPECT_EQ(KVXDIAG2_OK, m_helper->CompressFolder(m_tree, "", zip));
    SArchive archive;
    std::string error;
    ASSERT_TRUE(ParseArchive(ReadFileBytes(zip), archive, error)) << error;
    for (const SCentralRecord& e : archive.m_entries) {
        EXPECT_EQ(0, e.m_flags & 1) << e.m_name;
        EXPECT_FALSE(e.m_hasDescriptor) << e.m_name;
    }
}

TEST_F(CompressFolderTest, TheLogNamesTheArchivesDigestWithOrWithoutAPassword)
{
    // With a password the digest comes from the bytes on their way to the disk, several blocks of
    // them; without one the headers are rewritten and the finished file is read again.
    ASSERT_TRUE(WriteFileBytes(m_tree + "\\BasicAnalisys\\large.zip", PseudoRandomBytes(5 << 20, 4)));
    ASSERT_TRUE(m_helper);
    CCngSha256 sha256;
    ASSERT_EQ(KVXDIAG2_OK, sha256.Open());
    for (const char* password : {"tarsk-708", ""}) {
        SCOPED_TRACE(*password != '\0' ? "with a password" : "without");
        CLogCapture log;
        ASSERT_TRUE(log.Ok());
        const std::string zip = m_dir.Join("digest.zip");
        ASSERT_EQ(KVXDIAG2_OK, m_helper->CompressFolder(m_tree, password, zip));
        std::string digest;
        ASSERT_EQ(KVXDIAG2_OK, sha256.HashFile(zip, digest));
        EXPECT_NE(std::string::npos, log.Contents().find("SHA-256 del paquete " + zip + ": " + digest + "]"));
    }
}

TEST_F(CompressFolderTest, AMissingFolderReturnsTheChangeOfDirectoryErrorAndCreatesNothing)
{
    ASSERT_TRUE(m_helper);
    const std::string zip = m_dir.Join("never.zip");
    const DWORD dwResult = m_helper->CompressFolder(m_dir.Join("no-such-folder"), "pw", zip);
    EXPECT_TRUE(dwResult == ERROR_FILE_NOT_FOUND || dwResult == ERROR_PATH_NOT_FOUND) << dwResult;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(zip.c_str()));
    EXPECT_EQ(m_callerDir, CurrentDirectory());
}

TEST_F(CompressFolderTest, AnUnwritableDestinationFailsWithCreateFailed)
{
    ASSERT_TRUE(m_helper);
    EXPECT_EQ(KVXDIAG2_ERR_CREATE_FAILED, m_helper->CompressFolder(m_tree, "pw", m_dir.Join("no-dir\\x.zip")));
    const std::string directory = m_dir.Join("taken.zip");
    ASSERT_TRUE(::CreateDirectoryA(directory.c_str(), nullptr));
    EXPECT_EQ(KVXDIAG2_ERR_CREATE_FAILED, m_helper->CompressFolder(m_tree, "pw", directory));
    EXPECT_EQ(m_callerDir, CurrentDirectory());

    // A read-only destination is left as it was, where the system enforces the attribute.
    const std::string readOnly = m_dir.Join("readonly.zip");
    ASSERT_TRUE(WriteFileBytes(readOnly, {1, 2, 3}));
    ASSERT_TRUE(::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE probe = ::CreateFileA(readOnly.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
        ::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
        GTEST_SKIP() << "the read-only attribute is not enforced here (Wine running as root opens the file for writing)";
    }
    EXPECT_EQ(KVXDIAG2_ERR_CREATE_FAILED, m_helper->CompressFolder(m_tree, "pw", readOnly));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), ReadFileBytes(readOnly));
    ::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(CompressFolderTest, AFileThatCannotBeReadFailsThePackageAndLeavesNoHalfArchive)
{
    ASSERT_TRUE(m_helper);
    // Held open without sharing, as a log file of a running product can be.
    const std::string locked = m_tree + "\\KVXDiagReport.txt";
    HANDLE h = ::CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    const std::string zip = m_dir.Join("failed.zip");
    EXPECT_EQ(1127u, m_helper->CompressFolder(m_tree, "pw", zip));
    ::CloseHandle(h);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(zip.c_str()));
    EXPECT_EQ(m_callerDir, CurrentDirectory());
}

TEST_F(CompressFolderTest, RelativePathsAreTakenFromTheCallersDirectory)
{
    ASSERT_TRUE(m_helper);
    ASSERT_TRUE(::SetCurrentDirectoryA(m_dir.Path().c_str()));
    EXPECT_EQ(KVXDIAG2_OK, m_helper->CompressFolder("KVXDIAG2-Results", "pw", "relative.zip"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(m_dir.Join("relative.zip").c_str()));
    EXPECT_EQ(m_dir.Path(), CurrentDirectory());
    ::SetCurrentDirectoryA(m_callerDir.c_str());
}

TEST_F(CompressFolderTest, TaskReportsOutcomeAndPassesCodesThrough)
{
    struct SCase {
        const char* m_name;
        std::string m_folder;
        std::string m_archive;
        DWORD m_expected;
    };
    const SCase cases[] = {
        {"success", m_tree, m_dir.Join("task.zip"), KVXDIAG2_OK},
        {"missing destination directory", m_tree, m_dir.Join("none\\task.zip"), KVXDIAG2_ERR_CREATE_FAILED},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.m_name);
        CTaskDataString folder(c.m_folder);
        CTaskDataString archive(c.m_archive);
        CTaskDataString password("pw");
        CTaskCompressFolder task;
        ASSERT_EQ(KVXDIAG2_OK, task.SetConfig({&folder, &archive, &password}));
        CRecordingReporter reporter;
        EXPECT_EQ(c.m_expected, task.Execute(&reporter));
        ASSERT_EQ(1u, reporter.Calls().size());
        char expected[1024];
        if (c.m_expected == KVXDIAG2_OK) {
            snprintf(expected, sizeof(expected), "REPORT Folder '%s' successfully compressed into file '%s'",
                     c.m_folder.c_str(), c.m_archive.c_str());
        } else {
            snprintf(expected, sizeof(expected), "REPORT Failed to compress folder '%s' into file '%s', error 0x%08lx",
                     c.m_folder.c_str(), c.m_archive.c_str(), static_cast<unsigned long>(c.m_expected));
        }
        EXPECT_EQ(expected, reporter.Calls()[0]);
        ITaskData* pResult = reinterpret_cast<ITaskData*>(1);
        EXPECT_EQ(KVXDIAG2_ERR_NO_DATA, task.GetResults(&pResult));
        EXPECT_EQ(nullptr, pResult);
    }
}

TEST_F(CompressFolderTest, TaskRefusesOtherParameterListsAndAMissingHelper)
{
    CTaskDataString a("a"), b("b"), c("c"), d("d");
    CTaskCompressFolder task;
    EXPECT_EQ(KVXDIAG2_ERR_BAD_PARAMETER, task.SetConfig({&a, &b}));
    EXPECT_EQ(KVXDIAG2_ERR_BAD_PARAMETER, task.SetConfig({&a, &b, &c, &d}));

    CTaskDataString folder(m_tree);
    CTaskDataString archive(m_dir.Join("nohelper.zip"));
    CTaskDataString password("pw");
    CTaskCompressFolderWithoutHelper orphan;
    ASSERT_EQ(KVXDIAG2_OK, orphan.SetConfig({&folder, &archive, &password}));
    CRecordingReporter reporter;
    EXPECT_EQ(KVXDIAG2_ERR_NO_LIBRARY, orphan.Execute(&reporter));
    EXPECT_TRUE(reporter.Calls().empty());
}

namespace {

std::string Sha256Of(const CCngSha256& owner, bool instructions, const std::vector<uint8_t>& data, size_t piece)
{
    CCngSha256::CRunningHash hash(owner, instructions);
    std::string digest;
    if (hash.Begin() != KVXDIAG2_OK) {
        return "Begin failed";
    }
    for (size_t at = 0; at < data.size(); at += piece) {
        const size_t size = std::min(piece, data.size() - at);
        if (hash.Add(data.data() + at, static_cast<ULONG>(size)) != KVXDIAG2_OK) {
            return "Add failed";
        }
    }
    return hash.Finish(digest) == KVXDIAG2_OK ? digest : "Finish failed";
}

} // namespace

// Where the processor has SHA extensions the digests are computed with them; they must be the
// provider's: the standard's examples, every length across the padding's block boundaries, and data
// added in uneven pieces.
TEST(Sha256Test, TheProcessorsInstructionsGiveTheProvidersDigests)
{
    if (!CProcessorFeatures::ShaExtensions()) {
        GTEST_SKIP() << "this processor has no SHA extensions";
    }
    CCngSha256 owner;
    ASSERT_EQ(KVXDIAG2_OK, owner.Open());
    const struct {
        std::string text;
        const char* digest;
    } examples[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& example : examples) {
        const std::vector<uint8_t> data(example.text.begin(), example.text.end());
        for (const bool instructions : {true, false}) {
            EXPECT_EQ(example.digest, Sha256Of(owner, instructions, data, 4096)) << data.size() << " bytes";
        }
    }
    const std::vector<uint8_t> random = PseudoRandomBytes(1 << 20, 5);
    for (size_t length = 0; length <= 200; ++length) {
        const std::vector<uint8_t> data(random.begin(), random.begin() + length);
        ASSERT_EQ(Sha256Of(owner, false, data, 4096), Sha256Of(owner, true, data, 7)) << length << " bytes";
    }
    for (const size_t piece : {size_t(1), size_t(63), size_t(64), size_t(65), size_t(100000)}) {
        EXPECT_EQ(Sha256Of(owner, false, random, 1 << 20), Sha256Of(owner, true, random, piece)) << piece;
    }
}
