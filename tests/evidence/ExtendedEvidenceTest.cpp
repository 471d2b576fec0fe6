// The "Extended Data" section against the console stand-ins of the test prefix: every item, and each
// way a program or a folder can let it down.
#include "core/jobs/ExtendedEvidence.h"
#include "core/jobs/ExtendedEvidenceDrivers.h"
#include "core/jobs/ExtendedEvidenceProgram.h"
#include "tests/support/CoreTestSupport.h"
#include "tests/support/SimWmi.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Every item in the section's fixed order; the lines must come in this order.
const char* const ITEMS[] = {
    "Windows version", "Processor architecture", "Boot time", "System information (systeminfo)",
    "WFP state (netsh wfp show state)", "WFP filters (netsh wfp show filters)",
    "WFP drop events (netsh wfp show netevents)", "Filtering Platform audit policy (auditpol)",
    "WFP audit events 5152, 5157, 5159 and 5447, last 24 hours (wevtutil qe Security)",
    "Winsock catalog (netsh winsock show catalog)", "File system filters (fltmc filters)",
    "File system filter instances (fltmc instances)", "Antivirus products (root\\SecurityCenter2)",
    "Firewall products (root\\SecurityCenter2)", "Product drivers", "Network configuration (ipconfig /all)",
    "DNS client cache (ipconfig /displaydns)", "WinHTTP proxy (netsh winhttp show proxy)",
    "Firewall profiles (netsh advfirewall show allprofiles)", "Hosts file", "Tcpip parameters key",
    "Tcpip6 parameters key", "Dnscache parameters key", "System event log, last 7 days (wevtutil epl)",
    "Application event log, last 7 days (wevtutil epl)",
    "System errors and warnings of the network drivers, last 7 days (wevtutil qe)",
    "Service, bugcheck and power-loss events, last 30 days (wevtutil qe)", "Minidumps", "Minidump bugcheck codes",
    "Kernel dump", "Live kernel reports", "Device setup log (setupapi.dev.log)",
    "Application setup log (setupapi.app.log)",
};
// The items that start a program, and whether the program writes its own file.
const struct {
    const char* label;
    bool writesFile;
} PROGRAM_ITEMS[] = {
    {"System information (systeminfo)", false}, {"WFP state (netsh wfp show state)", true},
    {"WFP drop events (netsh wfp show netevents)", true}, {"Filtering Platform audit policy (auditpol)", false},
    {"WFP audit events 5152, 5157, 5159 and 5447, last 24 hours (wevtutil qe Security)", false},
    {"Winsock catalog (netsh winsock show catalog)", false}, {"File system filters (fltmc filters)", false},
    {"File system filter instances (fltmc instances)", false}, {"Network configuration (ipconfig /all)", false},
    {"DNS client cache (ipconfig /displaydns)", false}, {"WinHTTP proxy (netsh winhttp show proxy)", false},
    {"Firewall profiles (netsh advfirewall show allprofiles)", false},
    {"System event log, last 7 days (wevtutil epl)", true}, {"Application event log, last 7 days (wevtutil epl)", true},
    {"System errors and warnings of the network drivers, last 7 days (wevtutil qe)", false},
    {"Service, bugcheck and power-loss events, last 30 days (wevtutil qe)", false},
};
const char* const TEST_CONTROL_SET = "Software\\KVXTest\\ExtendedEvidence";

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
        for (const char* name : {"KVX_STANDIN_MODE", "KVX_STANDIN_TARGET", "KVX_STANDIN_FLOOD_BYTES",
                                 "KVX_STANDIN_EVTX_BYTES_PER_DAY", "KVX_STANDIN_AUDIT", "KVX_STANDIN_PID_FILE",
                                 "KVX_STANDIN_PROBE_HANDLE", "KVX_SIMWMI_NEXT"}) {
            ::SetEnvironmentVariableA(name, nullptr);
        }
    }

    std::string Out() const { return m_results.Path() + "\\ExtendedData\\"; }

    // Settings whose CrashControl and Services keys are the fixture's own.
    static SExtendedEvidenceSettings TestSettings()
    {
        SExtendedEvidenceSettings settings;
        settings.hControlSetRoot = HKEY_CURRENT_USER;
        settings.strControlSet = std::wstring(TEST_CONTROL_SET, TEST_CONTROL_SET + strlen(TEST_CONTROL_SET));
        return settings;
    }

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

    // The item's outcome without the time that ends its line.
    static std::string LineOf(const std::vector<std::string>& lines, const std::string& item)
    {
        for (const std::string& line : lines) {
            if (line.compare(0, item.size() + 2, item + ": ") == 0) {
                const size_t time = line.rfind(" [");
                const bool bTimed = time != std::string::npos && line.compare(line.size() - 3, 3, " s]") == 0;
                return line.substr(item.size() + 2, bTimed ? time - item.size() - 2 : std::string::npos);
            }
        }
        return "(missing)";
    }
    static size_t IndexOf(const std::vector<std::string>& lines, const std::string& item)
    {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].compare(0, item.size() + 2, item + ": ") == 0) {
                return i;
            }
        }
        return lines.size();
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

    kvxtest::CScopedRegistryTree m_controlSet{HKEY_CURRENT_USER, TEST_CONTROL_SET};
    kvxtest::CScopedTempDir m_results{"kvxextended"};
    kvxtest::CRecordingReporter m_reporter;
    SExtendedEvidenceSettings m_settings = TestSettings();
    DWORD m_elapsedMs = 0;
    ULONGLONG m_bytes = 0;
};

TEST_F(ExtendedEvidenceTest, WritesEveryItemAndTheRealVersion)
{
    std::vector<std::string> heard;
    bool bOnCallersThread = true;
    const DWORD caller = ::GetCurrentThreadId();
    m_settings.onItemStart = [&](const std::string& label) {
        heard.push_back(label);
        bOnCallersThread &= ::GetCurrentThreadId() == caller;
    };
    const std::vector<std::string> lines = Run();
    EXPECT_EQ(heard.size(), sizeof ITEMS / sizeof ITEMS[0]);
    EXPECT_TRUE(bOnCallersThread) << "a notification built on the hook must stay on the job's thread";
    std::cout << "extended data section: " << m_elapsedMs << " ms, " << m_bytes << " bytes\n";
    for (const char* item : ITEMS) {
        SCOPED_TRACE(item);
        const std::string outcome = LineOf(lines, item);
        EXPECT_NE(outcome, "(missing)");
        std::cout << "  " << lines[std::min(IndexOf(lines, item), lines.size() - 1)] << "\n";
    }
    size_t previous = 0;
    for (const char* item : ITEMS) {
        const size_t index = IndexOf(lines, item);
        EXPECT_TRUE(index < lines.size() && index >= previous) << item << " out of the fixed order";
        EXPECT_EQ(lines[std::min(index, lines.size() - 1)].back(), ']') << item << ": no time";
        previous = index;
    }
    for (const auto& item : PROGRAM_ITEMS) {
        EXPECT_EQ(LineOf(lines, item.label).compare(0, 11, "written to "), 0) << item.label << ": " << LineOf(lines, item.label);
    }
    for (const char* file : {"systeminfo.txt", "wfpstate.xml", "wfpnetevents.xml", "auditpol-wfp.csv",
                             "WfpAuditEvents.txt", "winsock-catalog.txt", "fltmc-filters.txt", "fltmc-instances.txt",
                             "ipconfig-all.txt", "dns-cache.txt", "winhttp-proxy.txt", "advfirewall-profiles.txt",
                             "hosts.txt", "Tcpip-Parameters.txt", "System.evtx", "Application.evtx",
                             "SystemNetworkEvents.txt", "FailureEvents.txt"}) {
        EXPECT_GT(SizeOf(Out() + file), 0u) << file;
    }
    EXPECT_FALSE(kvxtest::FileExists(Out() + "wfpfilters.xml")) << "the filters are in the state's dump";

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
    for (const char* mode : {"", "hang"}) {
        const bool bHang = mode[0] != '\0';
        SCOPED_TRACE(bHang ? "hanging" : "missing");
        m_settings = TestSettings();
        m_settings.dwProgramTimeoutMs = 1000;
        if (!bHang) {
            m_settings.strProgramDirectory = empty.Path();
        }
        ::SetEnvironmentVariableA("KVX_STANDIN_MODE", bHang ? mode : nullptr);
        const std::vector<std::string> lines = Run();
        for (const auto& item : PROGRAM_ITEMS) {
            // A stopped program's output is kept and marked; a file a stopped program was writing is not.
            const std::string expected =
                !bHang ? "not available on this system"
                : item.writesFile ? "not written, the program did not finish within 1 s and was stopped; it said: working..."
                                  : "the program did not finish within 1 s and was stopped";
            const std::string outcome = LineOf(lines, item.label);
            EXPECT_TRUE(item.writesFile || !bHang ? outcome == expected : outcome.find(expected) != std::string::npos)
                << item.label << ": " << outcome;
        }
        if (bHang) {
            const std::string text = kvxtest::ReadFileText(Out() + "systeminfo.txt");
            EXPECT_EQ(text.compare(0, 10, "working..."), 0) << text;
            EXPECT_NE(text.find("[the program did not finish within 1 s and was stopped"), std::string::npos) << text;
        }
        EXPECT_EQ(LineOf(lines, "Hosts file").compare(0, 11, "written to "), 0) << "later items still run";
        EXPECT_NE(LineOf(lines, "Kernel dump"), "(missing)");
        EXPECT_FALSE(kvxtest::FileExists(Out() + "wfpstate.xml")) << "no half-written file stays";
        kvxtest::CScopedTempDir::RemoveTree(Out());
    }

    // Scaled limits: every text is cut at its limit and, once the section's budget is spent, the
    // remaining items say so.
    m_settings = TestSettings();
    m_settings.cbTextLimit = 1000000;
    m_settings.cbSectionLimit = 5000000;
    m_settings.uConcurrency = 1; // the order in which the budget is spent, fixed
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

// With every program hanging, the section ends at its deadline (plus the few seconds its last
// programs take to be ended), the items not started by then say so, and the order holds.
TEST_F(ExtendedEvidenceTest, HangingProgramsEndWithTheSectionDeadline)
{
    ::SetEnvironmentVariableA("KVX_STANDIN_MODE", "hang");
    m_settings.dwSectionDeadlineMs = 4000;
    const std::vector<std::string> lines = Run();
    std::cout << "all programs hanging, deadline 4 s: section took " << m_elapsedMs << " ms\n";
    EXPECT_LT(m_elapsedMs, 4000u + 10000u);
    size_t skipped = 0;
    size_t previous = 0;
    for (const char* item : ITEMS) {
        const size_t index = IndexOf(lines, item);
        ASSERT_LT(index, lines.size()) << item;
        EXPECT_GE(index, previous) << item;
        previous = index;
        skipped += LineOf(lines, item) == "skipped, the section's time limit of 4 s had passed" ? 1 : 0;
    }
    EXPECT_GT(skipped, 0u);
    EXPECT_NE(LineOf(lines, "Windows version").compare(0, 8, "skipped,"), 0) << "the first items ran";
}

// The children of the section get their pipe and nothing else, start in the system directory, and end
// with everything they started at their time limit, keeping what they had printed.
TEST_F(ExtendedEvidenceTest, ProgramsGetOnlyTheirPipeTheSystemDirectoryAndOneJob)
{
    const std::string ipconfig = CExtendedEvidence::NativeSystemDirectory() + "\\ipconfig.exe";
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE event = ::CreateEventA(&inheritable, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    ::SetEnvironmentVariableA("KVX_STANDIN_MODE", "probe");
    ::SetEnvironmentVariableA("KVX_STANDIN_PROBE_HANDLE", std::to_string(reinterpret_cast<uintptr_t>(event)).c_str());
    const SExtendedProgramResult probe = CExtendedEvidenceProgram::Run(ipconfig, "/all", 30000, 4096);
    ::CloseHandle(event);
    if (probe.strOutput.find("directory=") == std::string::npos) {
        GTEST_SKIP() << "the stand-in does not answer from " << ipconfig << ": " << probe.strOutput;
    }
    char system[MAX_PATH + 1] = {};
    ::GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_NE(probe.strOutput.find(std::string("directory=") + system + "\r"), std::string::npos) << probe.strOutput;
    EXPECT_NE(probe.strOutput.find("handle=closed"), std::string::npos) << probe.strOutput;

    const std::string pidFile = m_results.Path() + "\\child.pid";
    ::SetEnvironmentVariableA("KVX_STANDIN_MODE", "hang-child");
    ::SetEnvironmentVariableA("KVX_STANDIN_PID_FILE", pidFile.c_str());
    const SExtendedProgramResult hung = CExtendedEvidenceProgram::Run(ipconfig, "/all", 2000, 4096);
    EXPECT_TRUE(hung.bStopped);
    EXPECT_EQ(hung.strOutput.compare(0, 10, "working..."), 0) << hung.strOutput;
    ASSERT_TRUE(hung.bInJob) << "job objects are there on every supported system and under Wine";
    const DWORD pid = std::strtoul(kvxtest::ReadFileText(pidFile).c_str(), nullptr, 10);
    ASSERT_NE(pid, 0u);
    HANDLE child = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (child != nullptr) {
        EXPECT_EQ(::WaitForSingleObject(child, 5000), WAIT_OBJECT_0) << "the program's own child outlived it";
        ::CloseHandle(child);
    }

    // The bare path is the application name, so that nothing is searched for; the command line quotes it.
    std::string application;
    std::string commandLine;
    CExtendedEvidenceProgram::BuildStart("\"C:\\Program Files\\x\\tool.exe\"", "/a", application, commandLine);
    EXPECT_EQ(application, "C:\\Program Files\\x\\tool.exe");
    EXPECT_EQ(commandLine, "\"C:\\Program Files\\x\\tool.exe\" /a");
}

// Event digests: the queries pass the log's limit of expressions, the WFP audit events come from
// Security, the failures digest names SCM, bugcheck and power-loss events, and drop auditing that is
// off is said to be.
TEST_F(ExtendedEvidenceTest, EventDigestsAskTheRightLogsWithinItsLimits)
{
    for (const std::string& query : {CExtendedEvidence::NetworkEventQuery(), CExtendedEvidence::FailureEventQuery(),
                                     CExtendedEvidence::WfpAuditEventQuery()}) {
        for (size_t at = query.find("<Select"); at != std::string::npos; at = query.find("<Select", at + 1)) {
            const std::string select = query.substr(at, query.find("</Select>", at) - at);
            EXPECT_LE(std::count(select.begin(), select.end(), '=') - 1, 20) << select; // minus Path=
        }
    }
    EXPECT_NE(CExtendedEvidence::WfpAuditEventQuery().find("<Select Path=\"Security\">"), std::string::npos);

    const std::vector<std::string> lines = Run();
    const struct {
        const char* item;
        const char* file;
        const char* summary;
    } cases[] = {
        {"System errors and warnings of the network drivers, last 7 days (wevtutil qe)", "SystemNetworkEvents.txt",
         "; 1 events: 4 x1"},
        {"Service, bugcheck and power-loss events, last 30 days (wevtutil qe)", "FailureEvents.txt",
         "; 3 events: 41 x1, 1001 x1, 7000 x1"},
        {"WFP audit events 5152, 5157, 5159 and 5447, last 24 hours (wevtutil qe Security)", "WfpAuditEvents.txt",
         "; 2 events: 5152 x1, 5157 x1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        const std::string outcome = LineOf(lines, c.item);
        EXPECT_EQ(outcome.size() > strlen(c.summary) ? outcome.substr(outcome.size() - strlen(c.summary)) : outcome,
                  c.summary);
        EXPECT_NE(kvxtest::ReadFileText(Out() + c.file).find("Event ID: "), std::string::npos);
    }
    EXPECT_NE(LineOf(lines, "Filtering Platform audit policy (auditpol)")
                  .find("Filtering Platform Packet Drop: No Auditing, Filtering Platform Connection: No Auditing; packet "
                        "drop auditing is off"),
              std::string::npos);
    ::SetEnvironmentVariableA("KVX_STANDIN_AUDIT", "on");
    kvxtest::CScopedTempDir::RemoveTree(Out());
    const std::string on = LineOf(Run(&CExtendedEvidence::GatherFiltersAndSecurity), "Filtering Platform audit policy (auditpol)");
    EXPECT_NE(on.find("Packet Drop: Failure, Filtering Platform Connection: Success and Failure"), std::string::npos) << on;
    EXPECT_EQ(on.find("is off"), std::string::npos) << on;
}

// A file-writing program's output over its limit is cut with a cut line; an event log export that does
// not fit is taken over a shorter time, and gets its display information.
TEST_F(ExtendedEvidenceTest, LargeDumpsAreCutVisiblyAndExportsShrinkToFit)
{
    ::SetEnvironmentVariableA("KVX_STANDIN_MODE", "flood");
    ::SetEnvironmentVariableA("KVX_STANDIN_TARGET", "netsh");
    ::SetEnvironmentVariableA("KVX_STANDIN_FLOOD_BYTES", "300000");
    m_settings.cbWfpLimit = 100000;
    const std::string wfp = LineOf(Run(&CExtendedEvidence::GatherFiltersAndSecurity), "WFP state (netsh wfp show state)");
    EXPECT_NE(wfp.find("(100000 bytes, cut at the limit)"), std::string::npos) << wfp;
    const std::string text = kvxtest::ReadFileText(Out() + "wfpstate.xml");
    EXPECT_EQ(text.size(), 100000u);
    const std::string cut = "[cut here: the text was longer than 100000 bytes]\r\n";
    EXPECT_EQ(text.substr(text.size() - cut.size()), cut);

    ::SetEnvironmentVariableA("KVX_STANDIN_MODE", nullptr);
    ::SetEnvironmentVariableA("KVX_STANDIN_EVTX_BYTES_PER_DAY", "1000000");
    m_settings.cbSectionLimit = 3000000;
    kvxtest::CScopedTempDir::RemoveTree(Out());
    const std::string system = LineOf(Run(&CExtendedEvidence::GatherEventLogs), "System event log, last 7 days (wevtutil epl)");
    EXPECT_NE(system.find("(1000000 bytes); the last 7 days did not fit what was left of the section, so only the last 1 day"),
              std::string::npos) << system;
    EXPECT_NE(system.find("; display information added (wevtutil al, "), std::string::npos) << system;
    EXPECT_EQ(SizeOf(Out() + "System.evtx"), 1000000u);
    EXPECT_TRUE(kvxtest::DirectoryExists(Out() + "LocaleMetaData"));
}

// Crash evidence: MinidumpDir is honoured, the bugcheck codes come from the dumps' headers, a dump that
// does not fit the section says so (not the dumps' own limit), and live kernel reports are listed.
TEST_F(ExtendedEvidenceTest, CrashEvidenceFollowsCrashControlAndReadsTheHeaders)
{
    kvxtest::CScopedTempDir windows("kvxwindows");
    kvxtest::CScopedTempDir dumps("kvxdumps");
    m_settings.strWindowsDirectory = windows.Path();
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(TEST_CONTROL_SET) + "\\Control\\CrashControl").c_str(), 0,
                                nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExA(key, "MinidumpDir", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(dumps.Path().c_str()),
                     static_cast<DWORD>(dumps.Path().size() + 1));
    ::RegCloseKey(key);
    std::string header(0x2000, '\0');
    header.replace(0, 8, "PAGEDU64");
    const DWORD code = 0xD1;
    const ULONGLONG parameter = 0xFFFFF8012345ABCDull;
    memcpy(&header[0x38], &code, 4);
    memcpy(&header[0x58], &parameter, 8);
    ASSERT_TRUE(kvxtest::MakeFile(dumps.Path() + "\\Mini120926-01.dmp", header));
    ASSERT_TRUE(kvxtest::MakeFile(dumps.Path() + "\\odd.dmp", "MDMP"));
    ASSERT_TRUE(::CreateDirectoryA((windows.Path() + "\\LiveKernelReports").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((windows.Path() + "\\LiveKernelReports\\WATCHDOG").c_str(), nullptr));
    ASSERT_TRUE(kvxtest::MakeFile(windows.Path() + "\\LiveKernelReports\\WATCHDOG\\WD-20261209.dmp", "x"));
    m_settings.cbSectionLimit = 0x1000;

    const std::vector<std::string> lines = Run(&CExtendedEvidence::GatherCrashDumps);
    const std::string minidumps = LineOf(lines, "Minidumps");
    EXPECT_NE(minidumps.find("copied from " + dumps.Path() + "\\"), std::string::npos) << minidumps;
    EXPECT_NE(minidumps.find("Mini120926-01.dmp (8192 bytes) not copied, over what is left of the section's 4096 bytes"),
              std::string::npos) << minidumps;
    const std::string codes = kvxtest::ReadFileText(Out() + "minidump-bugchecks.txt");
    EXPECT_NE(codes.find("0x000000D1 (0x0000000000000000, 0x0000000000000000, 0x0000000000000000, 0xFFFFF8012345ABCD)"),
              std::string::npos) << codes;
    EXPECT_NE(codes.find("odd.dmp\t"), std::string::npos);
    EXPECT_NE(LineOf(lines, "Minidump bugcheck codes").find("Mini120926-01.dmp 0x000000D1"), std::string::npos);
    EXPECT_NE(LineOf(lines, "Live kernel reports").find("; 1 files, WATCHDOG 1"), std::string::npos)
        << LineOf(lines, "Live kernel reports");
}

// Security Center answers that fail or time out are not "none registered".
TEST_F(ExtendedEvidenceTest, WmiFailuresAreNotAnEmptyList)
{
    kvxtest::CSimWmiRegistration wmi;
    ASSERT_EQ(wmi.Result(), 0u);
    const struct {
        const char* mode;
        const char* expected;
    } cases[] = {
        {"timeout", "not read, WMI gave no answer within 10 s after 0 products"},
        {"fail", "not read (WMI error 0x80041001 after 0 products)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        ::SetEnvironmentVariableA("KVX_SIMWMI_NEXT", c.mode);
        const std::vector<std::string> lines = Run(&CExtendedEvidence::GatherFiltersAndSecurity);
        EXPECT_EQ(LineOf(lines, "Antivirus products (root\\SecurityCenter2)"), c.expected);
    }
}

// What the system reports, named without guessing: Server 2025 is no Windows 11, empty fields are left
// out, and on ARM64 an x86 process is told the native machine.
TEST_F(ExtendedEvidenceTest, SystemDescriptions)
{
    EXPECT_EQ(CExtendedEvidence::WindowsName(10, 26100, false), " (Windows Server 2025)");
    EXPECT_EQ(CExtendedEvidence::WindowsName(10, 26100, true), " (Windows 11)");
    EXPECT_EQ(CExtendedEvidence::WindowsName(10, 19045, true), "");
    EXPECT_EQ(CExtendedEvidence::WindowsName(10, 17763, false), " (Windows Server 2019)");
    EXPECT_EQ(CExtendedEvidence::DescribeCurrentVersion("Windows 10 Pro", "", "", "19045", "3803"),
              "Windows 10 Pro, build 19045.3803");
    EXPECT_EQ(CExtendedEvidence::DescribeCurrentVersion("", "", "", "", ""), "no fields");
    EXPECT_EQ(CExtendedEvidence::DescribeArchitecture(IMAGE_FILE_MACHINE_I386, 0xAA64, 8),
              "ARM64, 8 logical processors; this program runs as x86 under WoW64");
    EXPECT_EQ(CExtendedEvidence::DescribeArchitecture(0, IMAGE_FILE_MACHINE_AMD64, 4),
              "x64, 4 logical processors; this program runs as x64");
    EXPECT_TRUE(CExtendedEvidence::NeedsSysnative(IMAGE_FILE_MACHINE_I386, 0xAA64));
    EXPECT_TRUE(CExtendedEvidence::NeedsSysnative(IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_AMD64));
    EXPECT_FALSE(CExtendedEvidence::NeedsSysnative(0, 0xAA64));
    EXPECT_EQ(CExtendedEvidence::DescribeDumpHeader("MDMP"), "");
}

// The driver facts table: a service whose ImagePath names an unsigned file, one without a key, the
// SDK's file.
TEST_F(ExtendedEvidenceTest, ProductDriverFactsNameFileSignatureAndStart)
{
    kvxtest::CScopedTempDir files("kvxdrivers");
    // An unsigned image: the stand-in programs are built without a signature or version resource.
    const std::string driver = files.Path() + "\\kvxtmgr.sys";
    ASSERT_TRUE(::CopyFileA((CExtendedEvidence::NativeSystemDirectory() + "\\fltmc.exe").c_str(), driver.c_str(), FALSE));
    ASSERT_TRUE(kvxtest::MakeFile(files.Path() + "\\kvxapi.dll", "sdk"));
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(TEST_CONTROL_SET) + "\\Services\\KVXTMGR").c_str(), 0,
                                nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string image = "\\??\\" + driver;
    const DWORD start = 1;
    ::RegSetValueExA(key, "ImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(image.c_str()),
                     static_cast<DWORD>(image.size() + 1));
    ::RegSetValueExA(key, "Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&start), sizeof start);
    ::RegCloseKey(key);
    m_settings.strSdkPath = files.Path() + "\\kvxapi.dll";

    const std::string outcome = LineOf(Run(&CExtendedEvidence::GatherFiltersAndSecurity), "Product drivers");
    EXPECT_NE(outcome.find("; KVXTMGR none not signed, "), std::string::npos) << outcome;
    EXPECT_NE(outcome.find(", system; SDK none "), std::string::npos) << outcome;
    EXPECT_NE(outcome.find("; not installed: KVXNMGR, KVXIMD, KVXMON"), std::string::npos)
        << outcome;
    const std::string table = kvxtest::ReadFileText(Out() + "product-drivers.txt");
    EXPECT_NE(table.find("KVXTMGR\t" + driver + "\tnone\t" + std::to_string(SizeOf(driver)) + "\t"), std::string::npos)
        << table;
    EXPECT_NE(table.find("KVXFLTF\tnot installed\r\n"), std::string::npos);

    EXPECT_EQ(CExtendedEvidenceDrivers::ResolveImagePath("\\SystemRoot\\System32\\drivers\\a.sys", "C:\\Windows",
                                                          "C:\\Windows\\Sysnative"),
              "C:\\Windows\\Sysnative\\drivers\\a.sys");
    EXPECT_EQ(CExtendedEvidenceDrivers::ResolveImagePath("System32\\DRIVERS\\b.sys", "C:\\Windows", ""),
              "C:\\Windows\\System32\\DRIVERS\\b.sys");
}

} // namespace
