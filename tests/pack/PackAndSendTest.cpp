// Pack and send through the exports: the package's notifications, its contents read back from the
// archive's central directory (names, sizes and CRC-32 against the results directory), the copy
// directory of each run, personal data planted and removed, and cancellation. Decryption, inflation and the manifest are checked from the
// host by check-package.sh (Info-ZIP, 7-Zip, Python, sha256sum), on the packages this test leaves.
#include "common/win/RegistryView.h"
#include "common/win/UniqueHandles.h"
#include "core/interface/Exports.h"
#include "core/interface/ResumeState.h"
#include "core/jobs/ExtendedEvidence.h"
#include "core/jobs/Foreman.h"
#include "core/privacy/PrivacyCleaner.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD PACK_TIMEOUT_MS = 300000;

// A CRC-32 of our own (bit by bit), so that the archive writer's table-driven one is checked against
// something it does not share code with.
uint32_t Crc32(const std::string& data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

uint32_t U32(const std::string& data, size_t offset)
{
    return static_cast<uint32_t>(static_cast<unsigned char>(data[offset])) |
        static_cast<uint32_t>(static_cast<unsigned char>(data[offset + 1])) << 8 |
        static_cast<uint32_t>(static_cast<unsigned char>(data[offset + 2])) << 16 |
        static_cast<uint32_t>(static_cast<unsigned char>(data[offset + 3])) << 24;
}
uint16_t U16(const std::string& data, size_t offset)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(data[offset]) |
                                 static_cast<unsigned char>(data[offset + 1]) << 8);
}

struct SZipEntry {
    std::string name;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint32_t uncompressedSize = 0;
};

// The central directory, found through the end record (no archive comment is written).
bool ReadCentralDirectory(const std::string& zip, std::vector<SZipEntry>& entries)
{
    if (zip.size() < 22 || U32(zip, zip.size() - 22) != 0x06054b50u) {
        return false;
    }
    const size_t end = zip.size() - 22;
    const size_t count = U16(zip, end + 10);
    size_t offset = U32(zip, end + 16);
    for (size_t i = 0; i < count; ++i) {
        if (offset + 46 > zip.size() || U32(zip, offset) != 0x02014b50u) {
            return false;
        }
        SZipEntry entry;
        entry.flags = U16(zip, offset + 8);
        entry.crc = U32(zip, offset + 16);
        entry.uncompressedSize = U32(zip, offset + 24);
        const size_t nameLength = U16(zip, offset + 28);
        const size_t extraLength = U16(zip, offset + 30);
        const size_t commentLength = U16(zip, offset + 32);
        if (offset + 46 + nameLength > zip.size()) {
            return false;
        }
        entry.name = zip.substr(offset + 46, nameLength);
        entries.push_back(entry);
        offset += 46 + nameLength + extraLength + commentLength;
    }
    return true;
}

// Every file below a directory, by its path relative to it with "/" separators.
void ListFiles(const std::string& root, const std::string& relative, std::map<std::string, std::string>& files)
{
    WIN32_FIND_DATAA data;
    const std::string dir = relative.empty() ? root : root + "\\" + relative;
    kvx::UniqueFindHandle find(::FindFirstFileA((dir + "\\*").c_str(), &data));
    if (!find) {
        return;
    }
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string child = relative.empty() ? name : relative + "\\" + name;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ListFiles(root, child, files);
        } else {
            std::string key = child;
            std::replace(key.begin(), key.end(), '\\', '/');
            files[key] = kvxtest::ReadFileText(root + "\\" + child);
        }
    } while (::FindNextFileA(find.get(), &data));
}

bool WriteTree(const std::map<std::string, std::string>& files, const std::string& to)
{
    ::CreateDirectoryA(to.c_str(), nullptr);
    for (const auto& file : files) {
        std::string path = to;
        std::string relative = file.first;
        for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/')) {
            path += "\\" + relative.substr(0, slash);
            ::CreateDirectoryA(path.c_str(), nullptr);
            relative.erase(0, slash + 1);
        }
        if (!kvxtest::WriteFileText(path + "\\" + relative, file.second)) {
            return false;
        }
    }
    return true;
}

// The tasks of a run append their outcome lines to the report in the results directory while it is
// being copied and packed; every other file must be the same in both listings.
void ExpectSameButTheGrowingReport(const std::map<std::string, std::string>& older,
                                   const std::map<std::string, std::string>& newer)
{
    ASSERT_EQ(older.size(), newer.size());
    for (const auto& file : older) {
        SCOPED_TRACE(file.first);
        const auto other = newer.find(file.first);
        ASSERT_NE(other, newer.end());
        if (file.first == "KVXDiagReport.txt") {
            EXPECT_EQ(other->second.compare(0, file.second.size(), file.second), 0) << "the report is only appended to";
        } else {
            EXPECT_TRUE(other->second == file.second);
        }
    }
}

std::string TempPath()
{
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(MAX_PATH, temp);
    return temp;
}

// A copy directory's name: the tick count in decimal, "_" appended while taken.
bool IsCopyDirectoryName(const std::string& name)
{
    const size_t digits = name.find_first_not_of("0123456789");
    return digits != 0 && (digits == std::string::npos || name.find_first_not_of('_', digits) == std::string::npos);
}

std::set<std::string> CopyDirectories()
{
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    kvx::UniqueFindHandle find(::FindFirstFileA((TempPath() + "*").c_str(), &data));
    if (!find) {
        return names;
    }
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && IsCopyDirectoryName(data.cFileName)) {
            names.insert(data.cFileName);
        }
    } while (::FindNextFileA(find.get(), &data));
    return names;
}

// Collects the notifications of the exports' callback; set() when a pack-and-send job has ended.
struct SPackCalls {
    std::mutex lock;
    std::vector<std::pair<DWORD, std::string>> calls;
    std::vector<DWORD> values;
    kvx::UniqueHandle ended{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
};
SPackCalls* g_calls = nullptr;

int WINAPI PackCallback(DWORD code, KVXDIAG2_CONTEXT, const char* text, DWORD, ULONG_PTR data)
{
    std::lock_guard<std::mutex> guard(g_calls->lock);
    g_calls->calls.emplace_back(code, text != nullptr ? text : "");
    g_calls->values.push_back(static_cast<DWORD>(data));
    if (code == eKVXDIAG2Notify_PACKANDSEND_SUCCESS_FINISHED ||
        code == eKVXDIAG2Notify_PACKANDSEND_UNSUCCESS_FINISHED || code == eKVXDIAG2Notify_PACKANDSEND_CANCEL) {
        ::SetEvent(g_calls->ended.get());
    }
    return 0;
}

class PackAndSendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls = &m_calls;
        m_copiesBefore = CopyDirectories();
        int pending = -1;
        int step = -1;
        ASSERT_EQ(_0003_(&pending, &step), 0u);
        ASSERT_EQ(pending, 0) << "a stale resume state in the test prefix";
        ASSERT_EQ(_0002_(&PackCallback, 0x55), 0u);
        m_results = NewestResultsDirectory();
        ASSERT_FALSE(m_results.empty());
        FillResults();
    }
    void TearDown() override
    {
        _0002_(nullptr, 0);
        _0001_();
        for (const std::string& name : CopyDirectories()) {
            if (m_copiesBefore.count(name) == 0) {
                kvxtest::CScopedTempDir::RemoveTree(TempPath() + name);
            }
        }
        kvxtest::RemoveResultsDirectories();
        g_calls = nullptr;
    }

    static std::string NewestResultsDirectory()
    {
        WIN32_FIND_DATAA data;
        kvx::UniqueFindHandle find(::FindFirstFileA((TempPath() + "KVXDIAG2-Results*").c_str(), &data));
        std::string best;
        FILETIME bestTime = {};
        if (!find) {
            return best;
        }
        do {
            if (best.empty() || ::CompareFileTime(&data.ftCreationTime, &bestTime) > 0) {
                best = TempPath() + data.cFileName;
                bestTime = data.ftCreationTime;
            }
        } while (::FindNextFileA(find.get(), &data));
        return best;
    }

    // Evidence of the kinds an analysis leaves: report text with CRLF, a binary hive, an empty file,
    // nested folders, an empty folder, a file larger than the deflate window, incompressible data.
    void FillResults()
    {
        std::string binary;
        uint32_t seed = 12345;
        for (int i = 0; i < 300000; ++i) {
            seed = seed * 1103515245u + 12345u;
            binary += static_cast<char>(seed >> 24);
        }
        std::string text;
        for (int i = 0; i < 5000; ++i) {
            text += "Interface " + std::to_string(i % 17) + ": 10.0.0." + std::to_string(i % 250) + " 100%\r\n";
        }
        const std::vector<std::pair<std::string, std::string>> files = {
            {"KVXDiagReport.txt", text},
            {"DataGathering\\StaticData\\SYSTEM.hiv", binary.substr(0, 70000)},
            {"DataGathering\\StaticData\\empty.log", ""},
            {"BasicAnalisys\\KVXFLTA\\Pre\\KVXSnapshot.txt", text.substr(0, 1000)},
            {"BasicAnalisys\\KVXFLTA\\Post\\capture.KVXPcapTmp", binary},
            {"DeepAnalisys\\Previous-Data\\one.txt", "x"},
        };
        for (const auto& file : files) {
            std::string path = m_results;
            std::string relative = file.first;
            for (size_t slash = relative.find('\\'); slash != std::string::npos; slash = relative.find('\\')) {
                path += "\\" + relative.substr(0, slash);
                ::CreateDirectoryA(path.c_str(), nullptr);
                relative.erase(0, slash + 1);
            }
            ASSERT_TRUE(kvxtest::WriteFileText(path + "\\" + relative, file.second)) << file.first;
        }
        ::CreateDirectoryA((m_results + "\\DeepAnalisys\\KVXFLTE").c_str(), nullptr);
    }

    // Starts a job through _0008_ and waits for its last notification.
    void Pack(const std::string& destination)
    {
        {
            std::lock_guard<std::mutex> guard(m_calls.lock);
            m_calls.calls.clear();
            m_calls.values.clear();
        }
        int jobId = 0;
        ASSERT_EQ(_0008_(destination.c_str(), &jobId), 0u);
        ASSERT_EQ(::WaitForSingleObject(m_calls.ended.get(), PACK_TIMEOUT_MS), WAIT_OBJECT_0);
        EXPECT_EQ(_0005_(jobId), 0u) << "releases the ended job";
    }
    std::vector<DWORD> Codes()
    {
        std::lock_guard<std::mutex> guard(m_calls.lock);
        std::vector<DWORD> codes;
        for (const auto& call : m_calls.calls) {
            codes.push_back(call.first);
        }
        return codes;
    }
    std::string Text(size_t index)
    {
        std::lock_guard<std::mutex> guard(m_calls.lock);
        return index < m_calls.calls.size() ? m_calls.calls[index].second : std::string();
    }
    DWORD Value(size_t index)
    {
        std::lock_guard<std::mutex> guard(m_calls.lock);
        return index < m_calls.values.size() ? m_calls.values[index] : 0xFFFFFFFF;
    }

    SPackCalls m_calls;
    std::set<std::string> m_copiesBefore;
    std::string m_results;
};

// The host-side check reads the packages and the expected files from the build tree (drive Z: is the
// host's root under Wine).
std::string InteropDirectory()
{
    std::string interop = KVX_PACK_INTEROP_DIR;
    std::replace(interop.begin(), interop.end(), '/', '\\');
    return "Z:" + interop;
}

// The package against the files the results directory held before the run: each one packed with its
// size and CRC-32, plus the manifest, once and last. The report grows while the job writes its own lines, so it
// is only required to have kept what it held.
void ExpectPackageOf(const std::string& package, std::map<std::string, std::string> expected)
{
    std::vector<SZipEntry> entries;
    ASSERT_TRUE(ReadCentralDirectory(kvxtest::ReadFileText(package), entries));
    int manifests = 0;
    for (const SZipEntry& entry : entries) {
        SCOPED_TRACE(entry.name);
        if (!entry.name.empty() && entry.name.back() == '/') {
            continue; // a folder entry
        }
        EXPECT_EQ(entry.flags & 1u, 1u) << "encrypted";
        if (entry.name == "KVXManifest.sha256") {
            ++manifests;
            EXPECT_EQ(&entry, &entries.back()) << "the manifest is packed once every file it lists is";
            continue;
        }
        const auto file = expected.find(entry.name);
        ASSERT_NE(file, expected.end()) << "not in the results directory";
        if (entry.name == "KVXDiagReport.txt") {
            EXPECT_GE(entry.uncompressedSize, file->second.size());
        } else {
            EXPECT_EQ(entry.uncompressedSize, file->second.size());
            EXPECT_EQ(entry.crc, Crc32(file->second));
        }
        expected.erase(file);
    }
    EXPECT_EQ(manifests, 1);
    EXPECT_TRUE(expected.empty()) << expected.size() << " files missing";
}

TEST_F(PackAndSendTest, PackageHoldsEveryFileOfTheResultsDirectory)
{
    const std::string interop = InteropDirectory();
    kvxtest::CScopedTempDir::RemoveTree(interop);
    ASSERT_TRUE(::CreateDirectoryA(interop.c_str(), nullptr)) << interop;
    const std::string destination = interop + "\\KVXDiag2 Results.zip";

    std::map<std::string, std::string> before;
    ListFiles(m_results, "", before);
    const std::set<std::string> copiesBefore = CopyDirectories();
    Pack(destination);
    ASSERT_EQ(Codes(), (std::vector<DWORD>{17, 19, 20}));
    EXPECT_EQ(Text(0), "Job started");
    EXPECT_EQ(Text(1), "Building results file package...");
    EXPECT_EQ(Text(2), destination);
    EXPECT_EQ(Value(2), 0u);

    std::map<std::string, std::string> after;
    ListFiles(m_results, "", after);
    ExpectSameButTheGrowingReport(before, after);
    EXPECT_EQ(CopyDirectories(), copiesBefore) << "the copy directory is removed once the package is written";
    ExpectPackageOf(destination, before);

    ASSERT_TRUE(WriteTree(before, interop + "\\expected"));
    EXPECT_TRUE(kvxtest::WriteFileText(interop + "\\password.txt", "tarsk-708"));
}

// A file the product holds without sharing cannot be copied. The clone stops there; the files after it
// are still packed, and the manifest names the one left out and why.
TEST_F(PackAndSendTest, FileHeldWithoutSharingIsNamedInTheManifest)
{
    const std::string interop = InteropDirectory() + "\\locked";
    ::CreateDirectoryA(InteropDirectory().c_str(), nullptr);
    kvxtest::CScopedTempDir::RemoveTree(interop);
    ASSERT_TRUE(::CreateDirectoryA(interop.c_str(), nullptr)) << interop;
    const std::string destination = interop + "\\KVXDiag2 Results.zip";
    const std::string held = "DataGathering/StaticData/SYSTEM.hiv";

    std::map<std::string, std::string> before;
    ListFiles(m_results, "", before);
    before.erase(held);
    {
        kvx::UniqueFileHandle lock(::CreateFileA((m_results + "\\DataGathering\\StaticData\\SYSTEM.hiv").c_str(),
                                                 GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock.valid());
        Pack(destination);
    }
    ASSERT_EQ(Codes(), (std::vector<DWORD>{17, 19, 20}));
    ExpectPackageOf(destination, before);

    ASSERT_TRUE(WriteTree(before, interop + "\\expected"));
    EXPECT_TRUE(kvxtest::WriteFileText(interop + "\\password.txt", "tarsk-708"));
    EXPECT_TRUE(kvxtest::WriteFileText(interop + "\\unreadable.txt",
                                       "UNREADABLE (error 32: in use by another program)  " + held + "\n"));
}

// The personal data of a machine, planted where the evidence finds it: the console stand-ins' outputs
// (systeminfo, ipconfig, the DNS cache, the event log), the profile list, the hosts file, and a product
// log. Everything is put back when it goes.
class CPlantedMachine {
public:
    static constexpr const char* SID = "S-1-5-21-1234567890-2345678901-3456789012-1107";

    CPlantedMachine()
    {
        for (const auto& value : kEnvironment) {
            ::SetEnvironmentVariableA(value.first, value.second);
        }
        const std::string profile = std::string(kProfileList) + "\\" + SID;
        if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, profile.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                              nullptr, m_profile.put(), nullptr) == ERROR_SUCCESS) {
            const char path[] = "C:\\Users\\plantuser";
            ::RegSetValueExA(m_profile.get(), "ProfileImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path),
                             sizeof path);
        }
        m_hostsPath = CExtendedEvidence::NativeSystemDirectory() + "\\drivers\\etc\\hosts";
        m_hadHosts = kvxtest::FileExists(m_hostsPath);
        m_hosts = kvxtest::ReadFileText(m_hostsPath);
        kvxtest::WriteFileText(m_hostsPath, m_hosts + "\r\n10.77.5.30  nas-plant.home.example\r\n");
        HKEY key = nullptr;
        m_hadResumeKey = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_READ | kvx::KVX_REGVIEW_VENDOR,
                                         &key) == ERROR_SUCCESS;
        kvx::UniqueHkey owner(key);
    }
    ~CPlantedMachine()
    {
        for (const auto& value : kEnvironment) {
            ::SetEnvironmentVariableA(value.first, nullptr);
        }
        m_profile.reset();
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(kProfileList) + "\\" + SID).c_str(), KEY_WOW64_64KEY, 0);
        if (m_hadHosts) {
            kvxtest::WriteFileText(m_hostsPath, m_hosts);
        } else {
            ::DeleteFileA(m_hostsPath.c_str());
        }
        SetChoice(-1);
    }
    // 1 or 0 as the wizard writes it; -1 removes it (and the key, when the test made it).
    void SetChoice(int choice) const
    {
        kvx::UniqueHkey key;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, nullptr, 0,
                                    KEY_ALL_ACCESS | kvx::KVX_REGVIEW_VENDOR, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        if (choice < 0) {
            ::RegDeleteValueA(key.get(), KVXDIAG2_PACK_REMOVE_PERSONAL_DATA);
            key.reset();
            if (!m_hadResumeKey) {
                ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, kvx::KVX_REGVIEW_VENDOR, 0);
            }
            return;
        }
        const DWORD value = static_cast<DWORD>(choice);
        ASSERT_EQ(::RegSetValueExA(key.get(), KVXDIAG2_PACK_REMOVE_PERSONAL_DATA, 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&value), sizeof value),
                  ERROR_SUCCESS);
    }
    // Every planted value, as the byte-for-byte search of the extracted package looks for it.
    static std::string Values()
    {
        std::string values;
        for (const auto& value : kEnvironment) {
            if (std::strcmp(value.first, "KVX_STANDIN_DNS") != 0) {
                values += std::string(value.second) + "\n";
            }
        }
        return values + "secret-clinic.example\n203.0.113.66\nmail.plantcorp.example\n10.77.5.25\n"
                        "nas-plant.home.example\n10.77.5.30\n10.77.5.41\n1234567890-2345678901-3456789012\n";
    }

private:
    static constexpr const char* kProfileList = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    static constexpr std::pair<const char*, const char*> kEnvironment[] = {
        {"KVX_STANDIN_HOST", "PLANTPC7"},
        {"KVX_STANDIN_DOMAIN", "plantcorp.example"},
        {"KVX_STANDIN_OWNER", "Planted Owner"},
        {"KVX_STANDIN_MAC", "00-1B-21-AA-BB-CC"},
        {"KVX_STANDIN_IPV4", "10.77.5.9"},
        {"KVX_STANDIN_IPV6", "fe80::21b:21ff:feaa:bbcc"},
        {"KVX_STANDIN_USER", "plantuser"},
        {"KVX_STANDIN_SID", SID},
        {"KVX_STANDIN_DNS", "secret-clinic.example=203.0.113.66,mail.plantcorp.example=10.77.5.25"},
    };
    kvx::UniqueHkey m_profile;
    std::string m_hostsPath;
    std::string m_hosts;
    bool m_hadHosts = false;
    bool m_hadResumeKey = false;
};

// Packed with the box checked, no planted value is left in the package: check-package.sh extracts it
// and searches every file byte for byte. The binaries are left out and named in the package's note,
// which the manifest lists; the table of tokens stays in the results directory and out of every
// package, and without the box the package is the results directory as it is.
TEST_F(PackAndSendTest, PersonalDataIsRemovedWhenTheUserAsks)
{
    const std::string interop = InteropDirectory() + "\\cleaned";
    ::CreateDirectoryA(InteropDirectory().c_str(), nullptr);
    kvxtest::CScopedTempDir::RemoveTree(interop);
    ASSERT_TRUE(::CreateDirectoryA(interop.c_str(), nullptr)) << interop;
    CPlantedMachine machine;
    kvxtest::CRecordingReporter reporter;
    CExtendedEvidence(&reporter, m_results + "\\DataGathering\\ExtendedData").Gather();
    ASSERT_TRUE(kvxtest::WriteFileText(m_results + "\\BasicAnalisys\\KVXFLTA\\Pre\\KVXApiSrvLog.txt",
                                       "09:00:01 rule hit 10.77.5.9:51234 -> 10.77.5.41:445 by C:\\Users\\plantuser\\app.exe "
                                       "on PLANTPC7 (S-1-5-21-1234567890-2345678901-3456789012-1107)\r\n"));
    const std::string dns = kvxtest::ReadFileText(m_results + "\\DataGathering\\ExtendedData\\dns-cache.txt");
    ASSERT_NE(dns.find("secret-clinic.example"), std::string::npos) << "the stand-ins planted nothing";

    machine.SetChoice(1);
    Pack(interop + "\\KVXDiag2 Results.zip");
    ASSERT_EQ(Codes(), (std::vector<DWORD>{17, 19, 20}));
    std::vector<SZipEntry> entries;
    ASSERT_TRUE(ReadCentralDirectory(kvxtest::ReadFileText(interop + "\\KVXDiag2 Results.zip"), entries));
    std::set<std::string> names;
    for (const SZipEntry& entry : entries) {
        names.insert(entry.name);
    }
    for (const char* out : {"DataGathering/StaticData/SYSTEM.hiv", "BasicAnalisys/KVXFLTA/Post/capture.KVXPcapTmp",
                            "DataGathering/ExtendedData/System.evtx", "KVXPrivacyMap.txt"}) {
        EXPECT_EQ(names.count(out), 0u) << out;
    }
    EXPECT_EQ(names.count("KVXPrivacy.txt"), 1u);
    EXPECT_EQ(names.count("DataGathering/ExtendedData/SystemNetworkEvents.txt"), 1u) << "the text digest stays";
    const std::string table = kvxtest::ReadFileText(m_results + "\\KVXPrivacyMap.txt");
    for (const char* value : {"plantuser", "PLANTPC7", "secret-clinic.example", "10.77.5.9"}) {
        EXPECT_NE(table.find(value), std::string::npos) << value << " is not in the table of tokens";
    }

    machine.SetChoice(0);
    std::map<std::string, std::string> before;
    ListFiles(m_results, "", before);
    EXPECT_EQ(before.erase("KVXPrivacyMap.txt"), 1u);
    ::CreateDirectoryA((interop + "\\unchecked").c_str(), nullptr);
    Pack(interop + "\\unchecked\\KVXDiag2 Results.zip");
    ASSERT_EQ(Codes(), (std::vector<DWORD>{17, 19, 20}));
    ExpectPackageOf(interop + "\\unchecked\\KVXDiag2 Results.zip", before);
    ASSERT_TRUE(WriteTree(before, interop + "\\unchecked\\expected"));
    EXPECT_TRUE(kvxtest::WriteFileText(interop + "\\planted.txt", CPlantedMachine::Values()));
}

TEST_F(PackAndSendTest, MissingDestinationFolderFailsWithTheCopyDirectory)
{
    const std::string destination = TempPath() + "no-such-folder-" + std::to_string(::GetTickCount()) + "\\r.zip";
    Pack(destination);
    ASSERT_EQ(Codes(), (std::vector<DWORD>{17, 19, 21}));
    const std::string copy = Text(2);
    EXPECT_NE(Value(2), 0u) << "the compress task's code";
    ASSERT_EQ(copy.compare(0, TempPath().size(), TempPath()), 0) << copy;
    EXPECT_TRUE(IsCopyDirectoryName(copy.substr(TempPath().size()))) << copy;
    std::map<std::string, std::string> results;
    std::map<std::string, std::string> cloned;
    ListFiles(m_results, "", results);
    ListFiles(copy, "", cloned);
    EXPECT_EQ(cloned.erase("KVXManifest.sha256"), 1u) << "the copy stays as it was to be packed";
    ExpectSameButTheGrowingReport(cloned, results);
    EXPECT_FALSE(kvxtest::FileExists(destination));
}

// The names that two runs will draw are taken already, by directories made for the ticks of the coming
// moment; each run must still get a fresh directory of its own, "_" appended, and leave the other alone.
TEST_F(PackAndSendTest, CopyDirectoryOfATakenTickIsAFreshOne)
{
    // Making a directory costs milliseconds under Wine, so the names are made for ticks far enough ahead;
    // how far is measured first. Only the first run must fall into the window.
    constexpr DWORD WINDOW_MS = 400;
    constexpr DWORD PROBES = 40;
    const DWORD probeStart = ::GetTickCount();
    for (DWORD i = 0; i < PROBES; ++i) {
        const std::string probe = TempPath() + "kvxprobe-" + std::to_string(i);
        ::CreateDirectoryA(probe.c_str(), nullptr);
        ::RemoveDirectoryA(probe.c_str());
    }
    const DWORD lead = (::GetTickCount() - probeStart) * WINDOW_MS / PROBES + 1000;
    const DWORD start = ::GetTickCount() + lead;
    std::set<std::string> taken;
    for (DWORD tick = start; tick < start + WINDOW_MS; ++tick) {
        if (::CreateDirectoryA((TempPath() + std::to_string(tick)).c_str(), nullptr)) {
            taken.insert(std::to_string(tick));
        }
    }
    const DWORD now = ::GetTickCount();
    if (now >= start) {
        for (const std::string& name : taken) {
            ::RemoveDirectoryA((TempPath() + name).c_str());
        }
        GTEST_SKIP() << "making " << WINDOW_MS << " directories took longer than " << lead << " ms";
    }
    // Waiting for the clock to reach the prepared names is the point of this wait.
    kvx::UniqueHandle never(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ::WaitForSingleObject(never.get(), start - now);

    const std::string destination = TempPath() + "no-such-folder\\r.zip";
    std::vector<std::string> copies;
    for (int run = 0; run < 2; ++run) {
        Pack(destination);
        ASSERT_EQ(Codes(), (std::vector<DWORD>{17, 19, 21}));
        copies.push_back(Text(2).substr(TempPath().size()));
    }
    EXPECT_NE(copies[0], copies[1]);
    bool collided = false;
    for (const std::string& copy : copies) {
        SCOPED_TRACE(copy);
        const std::string tick = copy.substr(0, copy.find('_'));
        if (taken.count(tick) != 0) {
            collided = true;
            EXPECT_NE(copy, tick) << "a taken name was used again";
        }
        EXPECT_TRUE(kvxtest::FileExists(TempPath() + copy + "\\KVXDiagReport.txt"));
    }
    EXPECT_TRUE(collided) << "the first run did not draw a prepared name";
    for (const std::string& name : taken) {
        EXPECT_TRUE(::RemoveDirectoryA((TempPath() + name).c_str())) << name << " is no longer empty";
    }
}

// The job's own thread holds its first notification while another thread cancels the job; a run on the
// test's thread for that job then meets the cancellation point with the event set.
class CHoldingNotifier : public INotify {
public:
    int Notify(DWORD code, KVXDIAG2_CONTEXT, const std::string&, const TaskDataList&) override { return Record(code); }
    int Notify(DWORD code, KVXDIAG2_CONTEXT, const std::string&, DWORD) override { return Record(code); }
    std::vector<DWORD> Codes()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_codes;
    }
    kvx::UniqueHandle held{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    kvx::UniqueHandle release{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    DWORD testThread = ::GetCurrentThreadId();

private:
    int Record(DWORD code)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_codes.push_back(code);
        }
        if (::GetCurrentThreadId() != testThread) {
            ::SetEvent(held.get());
            EXPECT_EQ(::WaitForSingleObject(release.get(), 60000), WAIT_OBJECT_0);
        }
        return 0;
    }
    std::mutex m_lock;
    std::vector<DWORD> m_codes;
};

TEST(PackAndSendCancel, CancelledBeforeTheCancellationPointSendsNothingAfterBegun)
{
    kvxtest::CScopedTempDir results("KVXDIAG2-Results-pack");
    ASSERT_TRUE(kvxtest::WriteFileText(results.Path() + "\\KVXDiagReport.txt", "report"));
    const std::set<std::string> copiesBefore = CopyDirectories();
    CHoldingNotifier notifier;
    CForeman foreman;
    ASSERT_EQ(foreman.Init(5, false, results.Path()), 0u);
    ASSERT_EQ(foreman.RegisterNotifier(&notifier, 1), 0u);
    const std::string destination = results.Path() + "\\never.zip";
    ASSERT_EQ(foreman.SetPackedResultsDestinationFilePath(destination), 0u);

    const DWORD jobId = 77;
    ASSERT_EQ(foreman.ScheduleJob(eKVXDiag2Job_PACK_RESULTS, jobId), 0u);
    ASSERT_EQ(::WaitForSingleObject(notifier.held.get(), 30000), WAIT_OBJECT_0);
    std::thread canceller([&] { EXPECT_EQ(foreman.CancelJob(jobId), 0u); });
    bool cancelled = false;
    for (int i = 0; i < 3000 && !(cancelled = foreman.IsThisJobCancelled(jobId)); ++i) {
        ::Sleep(1);
    }
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(foreman.PackAndSendResults(jobId, destination), 1223u);
    ::SetEvent(notifier.release.get());
    canceller.join();
    EXPECT_EQ(notifier.Codes(), (std::vector<DWORD>{17, 17})) << "the job's thread and the direct run each begun";
    EXPECT_FALSE(kvxtest::FileExists(destination));
    EXPECT_EQ(CopyDirectories(), copiesBefore) << "no copy directory made";
    foreman.Finish();
}

TEST(PackAndSendCancel, WithoutNotifierNothingIsSent)
{
    kvxtest::CScopedTempDir results("KVXDIAG2-Results-pack");
    CForeman foreman;
    ASSERT_EQ(foreman.Init(5, false, results.Path()), 0u);
    EXPECT_EQ(foreman.PackAndSendResults(1, results.Path() + "\\x.zip"), 4312u);
    EXPECT_FALSE(kvxtest::FileExists(results.Path() + "\\x.zip"));
    foreman.Finish();
}

} // namespace
