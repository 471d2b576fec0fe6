// The "Extended Data" section against the console stand-ins of the test prefix: every item, and each
// way a program or a folder can let it down.
#include "core/jobs/ExtendedEvidence.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/SimWmi.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const ITEMS[] = {
    "Windows version", "Processor architecture", "Boot time", "System information (systeminfo)",
    "WFP state (netsh wfp show state)", "WFP filters (netsh wfp show filters)",
    "Winsock catalog (netsh winsock show catalog)", "File system filters (fltmc filters)",
    "File system filter instances (fltmc instances)", "Antivirus products (root\\SecurityCenter2)",
    "Firewall products (root\\SecurityCenter2)", "Network configuration (ipconfig /all)",
    "DNS client cache (ipconfig /displaydns)", "WinHTTP proxy (netsh winhttp show proxy)", "Hosts file",
    "Tcpip parameters key", "Dnscache parameters key", "System event log, last 7 days (wevtutil epl)",
    "Application event log, last 7 days (wevtutil epl)",
    "System errors and warnings of the network drivers, last 7 days (wevtutil qe)", "Minidumps", "Kernel dump",
    "Device setup log (setupapi.dev.log)", "Application setup log (setupapi.app.log)",
};
// The items that start a program.
const char* const PROGRAM_ITEMS[] = {
    "System information (systeminfo)", "WFP state (netsh wfp show state)", "WFP filters (netsh wfp show filters)",
    "Winsock catalog (netsh winsock show catalog)", "File system filters (fltmc filters)",
    "File system filter instances (fltmc instances)", "Network configuration (ipconfig /all)",
    "DNS client cache (ipconfig /displaydns)", "WinHTTP proxy (netsh winhttp show proxy)",
    "System event log, last 7 days (wevtutil epl)", "Application event log, last 7 days (wevtutil epl)",
    "System errors and warnings of the network drivers, last 7 days (wevtutil qe)",
};

ULONGLONG SizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class ExtendedEvidenceTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const char* name : {"KVX_STANDIN_MODE", "KVX_STANDIN_TARGET", "KVX_STANDIN_FLOOD_BYTES"}) {
            ::SetEnvironmentVariableA(name, nullptr);
        }
    }

    std::string Out() const { return m_results.Path() + "\\ExtendedData\\"; }

    // Runs the whole section, or one group of it, and returns the report lines (without "REPORT ").
    std::vector<std::string> Run(void (CExtendedEvidence::*group)() = nullptr)
    {
        m_reporter = kvxtest::CRecordingReporter();
        CExtendedEvidence evidence(&m_reporter, Out(), {}, m_settings);
        const DWORD start = ::GetTickCount();
        if (group == nullptr) {
            evidence.Gather();
        } else {
            ::CreateDirectoryA(Out().c_str(), nullptr);
            (evidence.*group)();
        }
        m_elapsedMs = ::GetTickCount() - start;
        m_bytes = evidence.BytesWritten();
        std::vector<std::string> lines;
        for (const std::string& call : m_reporter.Calls()) {
            if (call.compare(0, 7, "REPORT ") == 0) {
                lines.push_back(call.substr(7));
            }
        }
        return lines;
    }

    static std::string LineOf(const std::vector<std::string>& lines, const std::string& item)
    {
        for (const std::string& line : lines) {
            if (line.compare(0, item.size() + 2, item + ": ") == 0) {
                return line.substr(item.size() + 2);
            }
        }
        return "(missing)";
    }

    static void MakeSizedFile(const std::string& path, ULONGLONG size, int ageMinutes)
    {
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        ::SetEndOfFile(file);
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
        t.QuadPart -= static_cast<ULONGLONG>(ageMinutes) * 60ull * 10000000ull;
        const FILETIME written{t.LowPart, t.HighPart};
        ::SetFileTime(file, nullptr, nullptr, &written);
        ::CloseHandle(file);
    }

    kvxtest::CScopedTempDir m_results{"kvxextended"};
    kvxtest::CRecordingReporter m_reporter;
    SExtendedEvidenceSettings m_settings;
    DWORD m_elapsedMs = 0;
    ULONGLONG m_bytes = 0;
};

TEST_F(ExtendedEvidenceTest, WritesEveryItemAndTheRealVersion)
{
    const std::vector<std::string> lines = Run();
    std::cout << "extended data section: " << m_elapsedMs << " ms, " << m_bytes << " bytes\n";
    for (const char* item : ITEMS) {
        SCOPED_TRACE(item);
        const std::string outcome = LineOf(lines, item);
        EXPECT_NE(outcome, "(missing)");
        std::cout << "  " << item << ": " << outcome << "\n";
    }
    for (const char* item : PROGRAM_ITEMS) {
        EXPECT_EQ(LineOf(lines, item).compare(0, 11, "written to "), 0) << item << ": " << LineOf(lines, item);
    }
    for (const char* file : {"systeminfo.txt", "wfpstate.xml", "wfpfilters.xml", "winsock-catalog.txt",
                             "fltmc-filters.txt", "fltmc-instances.txt", "ipconfig-all.txt", "dns-cache.txt",
                             "winhttp-proxy.txt", "hosts.txt", "Tcpip-Parameters.txt",
                             "System.evtx", "Application.evtx", "SystemNetworkEvents.txt"}) {
        EXPECT_GT(SizeOf(Out() + file), 0u) << file;
    }

    using PFN = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    const auto rtlGetVersion = reinterpret_cast<PFN>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(rtlGetVersion, nullptr);
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_EQ(rtlGetVersion(&version), 0);
    const std::string expected = std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
                                 "." + std::to_string(version.dwBuildNumber);
    const std::string line = LineOf(lines, "Windows version");
    EXPECT_EQ(line.compare(0, expected.size(), expected), 0) << line;
    EXPECT_NE(line.compare(0, 4, "6.2."), 0) << "the manifest's version must not show through";
}

TEST_F(ExtendedEvidenceTest, ProgramsMissingHangingOrFloodingLeaveTheRestGoingOn)
{
    kvxtest::CScopedTempDir empty("kvxnoprograms");
    struct SCase {
        const char* name;
        const char* mode;
        const char* expected;
    };
    for (const SCase& c : {SCase{"missing", "", "not available on this system"},
                           SCase{"hanging", "hang", "not written, the program did not finish within 1 s and was stopped"}}) {
        SCOPED_TRACE(c.name);
        m_settings = SExtendedEvidenceSettings();
        m_settings.dwProgramTimeoutMs = 1000;
        if (std::string(c.mode).empty()) {
            m_settings.strProgramDirectory = empty.Path();
        }
        ::SetEnvironmentVariableA("KVX_STANDIN_MODE", c.mode[0] != '\0' ? c.mode : nullptr);
        const std::vector<std::string> lines = Run();
        for (const char* item : PROGRAM_ITEMS) {
            EXPECT_EQ(LineOf(lines, item), c.expected) << item;
        }
        EXPECT_EQ(LineOf(lines, "Hosts file").compare(0, 11, "written to "), 0) << "later items still run";
        EXPECT_NE(LineOf(lines, "Kernel dump"), "(missing)");
        EXPECT_FALSE(kvxtest::FileExists(Out() + "wfpstate.xml")) << "no half-written file stays";
    }

    // Scaled limits: every text is cut at its limit and, once the section's budget is spent, the
    // remaining items say so.
    m_settings = SExtendedEvidenceSettings();
    m_settings.cbTextLimit = 1000000;
    m_settings.cbSectionLimit = 5000000;
    ::SetEnvironmentVariableA("KVX_STANDIN_MODE", "flood");
    ::SetEnvironmentVariableA("KVX_STANDIN_FLOOD_BYTES", "2000000");
    const std::vector<std::string> lines = Run();
    EXPECT_LE(m_bytes, m_settings.cbSectionLimit);
    EXPECT_NE(LineOf(lines, "System information (systeminfo)").find("cut at the limit"), std::string::npos);
    EXPECT_EQ(SizeOf(Out() + "systeminfo.txt"), 1000000u);
    EXPECT_NE(kvxtest::ReadFileText(Out() + "systeminfo.txt").find("[cut here"), std::string::npos);
    EXPECT_EQ(LineOf(lines, "Application setup log (setupapi.app.log)"),
              "not written, the section's limit of 5000000 bytes has been reached");
}

TEST_F(ExtendedEvidenceTest, TwentyMegabytesOfOutputAreCutAtTenMegabytes)
{
    ::SetEnvironmentVariableA("KVX_STANDIN_MODE", "flood");
    ::SetEnvironmentVariableA("KVX_STANDIN_TARGET", "ipconfig");
    const std::vector<std::string> lines = Run(&CExtendedEvidence::GatherNetwork);
    EXPECT_EQ(SizeOf(Out() + "ipconfig-all.txt"), 10u * 1024u * 1024u);
    EXPECT_NE(LineOf(lines, "Network configuration (ipconfig /all)").find("cut at the limit"), std::string::npos);
    EXPECT_EQ(LineOf(lines, "WinHTTP proxy (netsh winhttp show proxy)").compare(0, 11, "written to "), 0);
}

TEST_F(ExtendedEvidenceTest, MinidumpCopyRules)
{
    struct SCase {
        const char* name;
        std::vector<std::pair<ULONGLONG, int>> dumps; // size, age in minutes; empty: no folder
        std::string outcomeStart;
        std::vector<std::string> copied;
    };
    const ULONGLONG MB = 1024 * 1024;
    const std::vector<SCase> cases = {
        {"no folder", {}, "no folder ", {}},
        {"twelve dumps", {{1000, 120}, {1000, 110}, {1000, 100}, {1000, 90}, {1000, 80}, {1000, 70}, {1000, 60},
                          {1000, 50}, {1000, 40}, {1000, 30}, {1000, 20}, {1000, 10}},
         "5 of the newest 5 of 12 copied", {"dump11.dmp", "dump10.dmp", "dump9.dmp", "dump8.dmp", "dump7.dmp"}},
        {"one of 60 MB", {{60 * MB, 5}, {2000, 30}, {3000, 20}}, "2 of the newest 3 of 3 copied",
         {"dump1.dmp", "dump2.dmp"}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        kvxtest::CScopedTempDir windows("kvxwindows");
        m_settings.strWindowsDirectory = windows.Path();
        if (!c.dumps.empty()) {
            ASSERT_TRUE(::CreateDirectoryA((windows.Path() + "\\Minidump").c_str(), nullptr));
        }
        for (size_t i = 0; i < c.dumps.size(); ++i) {
            MakeSizedFile(windows.Path() + "\\Minidump\\dump" + std::to_string(i) + ".dmp", c.dumps[i].first,
                          c.dumps[i].second);
        }
        MakeSizedFile(windows.Path() + "\\MEMORY.DMP", 123456, 1);
        const std::vector<std::string> lines = Run(&CExtendedEvidence::GatherCrashDumps);
        const std::string outcome = LineOf(lines, "Minidumps");
        EXPECT_EQ(outcome.compare(0, c.outcomeStart.size(), c.outcomeStart), 0) << outcome;
        for (const std::string& name : c.copied) {
            EXPECT_TRUE(kvxtest::FileExists(Out() + name)) << name;
        }
        if (c.name == std::string("one of 60 MB")) {
            EXPECT_FALSE(kvxtest::FileExists(Out() + "dump0.dmp"));
            EXPECT_NE(outcome.find("dump0.dmp (62914560 bytes) not copied"), std::string::npos) << outcome;
        }
        EXPECT_NE(LineOf(lines, "Kernel dump").find(", 123456 bytes, written "), std::string::npos);
        EXPECT_FALSE(kvxtest::FileExists(Out() + "MEMORY.DMP")) << "the kernel dump is never copied";
        kvxtest::CScopedTempDir::RemoveTree(Out());
    }
}

TEST_F(ExtendedEvidenceTest, SecurityCenterProductsWithTheDoubleAndWithout)
{
    const std::string antivirus = "Antivirus products (root\\SecurityCenter2)";
    const std::string firewall = "Firewall products (root\\SecurityCenter2)";
    {
        kvxtest::CSimWmiRegistration wmi;
        ASSERT_EQ(wmi.Result(), 0u);
        const std::vector<std::string> lines = Run(&CExtendedEvidence::GatherFiltersAndSecurity);
        const struct {
            const std::string& item;
            const char* file;
            const char* summary;
            const char* text;
        } cases[] = {
            {antivirus, "antivirus-products.txt",
             "; Windows Defender (state 0x60100: off, up to date); Orvex HostGuard (state 0x41000: on, up to date)",
             "Windows Defender\r\n  productState = 0x60100: off, up to date\r\n"
             "  pathToSignedProductExe = windowsdefender://\r\n"
             "Orvex HostGuard\r\n  productState = 0x41000: on, up to date\r\n"
             "  pathToSignedProductExe = C:\\Program Files (x86)\\Orvex Software\\Orvex HostGuard\\HOSTGUARD.exe\r\n"},
            {firewall, "firewall-products.txt", "; Orvex HostGuard Firewall (state 0x41010: on)",
             "Orvex HostGuard Firewall\r\n  productState = 0x41010: on\r\n"
             "  pathToSignedProductExe = C:\\Program Files (x86)\\Orvex Software\\Orvex HostGuard\\HOSTGUARD.exe\r\n"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.item);
            const std::string text = kvxtest::ReadFileText(Out() + c.file);
            EXPECT_EQ(text, c.text);
            EXPECT_EQ(LineOf(lines, c.item), "written to " + Out() + c.file + " (" + std::to_string(text.size()) +
                                                 " bytes)" + c.summary);
        }
    }
    // Wine has no Security Center: once the double is gone the items say so again.
    kvxtest::CScopedTempDir::RemoveTree(Out());
    const std::vector<std::string> lines = Run(&CExtendedEvidence::GatherFiltersAndSecurity);
    for (const std::string& item : {antivirus, firewall}) {
        EXPECT_EQ(LineOf(lines, item), "not available on this system") << item;
    }
    EXPECT_FALSE(kvxtest::FileExists(Out() + "antivirus-products.txt"));
}

TEST_F(ExtendedEvidenceTest, ProductStatesAreDecoded)
{
    struct SCase {
        DWORD state;
        bool signatures;
        const char* text;
    };
    for (const SCase& c : {SCase{0x61100, true, "0x61100: on, up to date"}, SCase{0x60110, true, "0x60110: off, out of date"},
                           SCase{0x73000, false, "0x73000: expired"},
                           SCase{0x52000, false, "0x52000: snoozed"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CExtendedEvidence::DescribeProductState(c.state, c.signatures), c.text);
    }
}

} // namespace
