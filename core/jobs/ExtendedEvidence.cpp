// The "Extended Data" section: the items and their bounds. Programs are started by full quoted path
// from the native system directory, so that a 32-bit build on 64-bit Windows sees the 64-bit Winsock
// catalog, filter manager and firewall state rather than their WoW64 views.
#include "core/jobs/ExtendedEvidence.h"

#include "common/log/GuardedOperation.h"
#include "common/win/UniqueHandles.h"
#include "core/helpers/HelperRef.h"
#include "core/report/IReporter.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

constexpr const char* KVXEXTENDED_NOT_AVAILABLE = "not available on this system";
// wevtutil's time queries count milliseconds: seven days.
constexpr const char* KVXEXTENDED_LAST_WEEK = "TimeCreated[timediff(@SystemTime) <= 604800000]";
constexpr size_t KVXEXTENDED_COPY_PIECE = 1024 * 1024;

std::string Format(const char* pszFormat, ...) KVXDIAG_PRINTF(1, 2);
std::string Format(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    char buffer[1024];
    const int length = std::vsnprintf(buffer, sizeof buffer, pszFormat, args);
    va_end(args);
    return length < 0 ? std::string() : std::string(buffer, std::min<size_t>(length, sizeof buffer - 1));
}

std::string WithBackslash(std::string path)
{
    if (path.empty() || path.back() != '\\') {
        path += '\\';
    }
    return path;
}

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string LocalTimeText(const FILETIME& utc)
{
    FILETIME local;
    SYSTEMTIME st;
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &st)) {
        return "unknown time";
    }
    return Format("%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

ULONGLONG ToUlong64(DWORD high, DWORD low) { return (static_cast<ULONGLONG>(high) << 32) | low; }

std::string CutLine(ULONGLONG cbLimit)
{
    return Format("[cut here: the text was longer than %llu bytes]\r\n", static_cast<unsigned long long>(cbLimit));
}

bool WriteWhole(const std::string& path, const std::string& data)
{
    kvx::UniqueFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    size_t at = 0;
    while (at < data.size()) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(data.size() - at, KVXEXTENDED_COPY_PIECE));
        if (!::WriteFile(file.get(), data.data() + at, piece, &written, nullptr) || written == 0) {
            return false;
        }
        at += written;
    }
    return true;
}

// Reads up to cbCount bytes from cbOffset of a file that its owner may still be writing.
bool ReadRange(const std::string& path, ULONGLONG cbOffset, ULONGLONG cbCount, std::string& data)
{
    kvx::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(cbOffset);
    if (!::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) {
        return false;
    }
    data.clear();
    std::vector<char> piece(KVXEXTENDED_COPY_PIECE);
    while (data.size() < cbCount) {
        DWORD read = 0;
        const DWORD want = static_cast<DWORD>(std::min<ULONGLONG>(piece.size(), cbCount - data.size()));
        if (!::ReadFile(file.get(), piece.data(), want, &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        data.append(piece.data(), read);
    }
    return true;
}

bool FileSize(const std::string& path, ULONGLONG& cbSize, FILETIME* pWritten = nullptr)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    cbSize = ToUlong64(data.nFileSizeHigh, data.nFileSizeLow);
    if (pWritten != nullptr) {
        *pWritten = data.ftLastWriteTime;
    }
    return true;
}

std::string Quoted(const std::string& text) { return '"' + text + '"'; }

} // namespace

CExtendedEvidence::CExtendedEvidence(IReporter* pReporter, std::string directory, std::function<bool()> isCancelled,
                                     SExtendedEvidenceSettings settings)
    : m_pReporter(pReporter), m_strDirectory(WithBackslash(std::move(directory))),
      m_isCancelled(std::move(isCancelled)), m_settings(std::move(settings))
{
}

void CExtendedEvidence::Gather()
{
    KVX_FUNCTION("CExtendedEvidence::Gather");
    if (m_pReporter == nullptr) {
        return;
    }
    m_pReporter->BeginSection("%s", "Extended Data");
    kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, [&]() {
        kvx::CHelperRef<CSysUtilsHelper> sysUtils(KVXDIAG2_HELPER_SYSUTILS);
        if (!sysUtils || sysUtils->MakeDirectoryTree(m_strDirectory) != KVXDIAG2_OK) {
            m_pReporter->Report("Extended data directory %s could not be made; nothing gathered.", m_strDirectory.c_str());
            return;
        }
        // Each group answers for itself, so that one that fails in an unforeseen way leaves the rest.
        const std::function<void()> groups[] = {
            [this] { GatherSystem(); },    [this] { GatherFiltersAndSecurity(); }, [this] { GatherNetwork(); },
            [this] { GatherEventLogs(); }, [this] { GatherCrashDumps(); },         [this] { GatherSetupLogs(); },
        };
        for (const auto& group : groups) {
            kvx::GuardedProcedure(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, group);
        }
    });
    m_pReporter->Report("%u items, %llu bytes written to %s", m_uItems, static_cast<unsigned long long>(m_cbWritten),
                        m_strDirectory.c_str());
    m_pReporter->EndSection("%s", "Extended data gathering, finished.");
}

bool CExtendedEvidence::Proceed(const char* pszLabel)
{
    ++m_uItems;
    if (m_isCancelled && m_isCancelled()) {
        m_pReporter->Report("%s: skipped, the analysis was cancelled", pszLabel);
        return false;
    }
    if (m_cbWritten >= m_settings.cbSectionLimit) {
        m_pReporter->Report("%s: not written, the section's limit of %llu bytes has been reached", pszLabel,
                            static_cast<unsigned long long>(m_settings.cbSectionLimit));
        return false;
    }
    return true;
}

ULONGLONG CExtendedEvidence::Budget(ULONGLONG cbLimit) const
{
    return std::min(cbLimit, m_settings.cbSectionLimit - std::min(m_cbWritten, m_settings.cbSectionLimit));
}

std::string CExtendedEvidence::NativeSystemDirectory()
{
    char system[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryA(system, MAX_PATH);
    std::string directory = length > 0 && length < MAX_PATH ? system : "";
#ifndef _WIN64
    // Sysnative exists only for 32-bit processes on 64-bit Windows (and vanishes while redirection is
    // switched off, when System32 is already the native one).
    BOOL bWow64 = FALSE;
    char windows[MAX_PATH + 1] = {};
    const UINT windowsLength = ::GetWindowsDirectoryA(windows, MAX_PATH);
    if (::IsWow64Process(::GetCurrentProcess(), &bWow64) && bWow64 && windowsLength > 0 && windowsLength < MAX_PATH) {
        const std::string sysnative = WithBackslash(windows) + "Sysnative";
        if (IsDirectory(sysnative)) {
            directory = sysnative;
        }
    }
#endif
    return directory;
}

std::string CExtendedEvidence::ProgramPath(const char* pszProgram) const
{
    const std::string directory =
        m_settings.strProgramDirectory.empty() ? NativeSystemDirectory() : m_settings.strProgramDirectory;
    return WithBackslash(directory) + pszProgram;
}

std::string CExtendedEvidence::WindowsDirectory() const
{
    if (!m_settings.strWindowsDirectory.empty()) {
        return WithBackslash(m_settings.strWindowsDirectory);
    }
    char windows[MAX_PATH + 1] = {};
    const UINT length = ::GetWindowsDirectoryA(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH ? WithBackslash(windows) : std::string();
}

// Starts one program with the section's time limit; false (with the item's line written) when there
// is no output to keep.
bool CExtendedEvidence::RunProgram(const char* pszLabel, const std::string& program, const std::string& args,
                                   size_t cbKeep, std::string& output, DWORD& dwExitCode)
{
    KVX_FUNCTION_QUIET("CExtendedEvidence::RunProgram");
    ULONGLONG cbIgnored = 0;
    if (!FileSize(program, cbIgnored)) {
        m_pReporter->Report("%s: %s", pszLabel, KVXEXTENDED_NOT_AVAILABLE);
        return false;
    }
    kvx::CHelperRef<CSysUtilsHelper> sysUtils(KVXDIAG2_HELPER_SYSUTILS);
    if (!sysUtils) {
        m_pReporter->Report("%s: not run, the system utilities are missing", pszLabel);
        return false;
    }
    const DWORD rc = sysUtils->ExecuteProgramAndGetOutput(Quoted(program), args, output, dwExitCode,
                                                          m_settings.dwProgramTimeoutMs, cbKeep);
    if (rc == STILL_ACTIVE || rc == ERROR_TIMEOUT) {
        m_pReporter->Report("%s: not written, the program did not finish within %lu s and was stopped", pszLabel,
                            static_cast<unsigned long>(m_settings.dwProgramTimeoutMs / 1000));
        return false;
    }
    if (rc != KVXDIAG2_OK) {
        m_pReporter->Report("%s: not written, the program could not be started (error %lu)", pszLabel,
                            static_cast<unsigned long>(rc));
        return false;
    }
    return true;
}

void CExtendedEvidence::RunToFile(const char* pszLabel, const char* pszProgram, const std::string& args,
                                  const char* pszFile)
{
    KVX_FUNCTION("CExtendedEvidence::RunToFile");
    if (!Proceed(pszLabel)) {
        return;
    }
    const ULONGLONG cbLimit = Budget(m_settings.cbTextLimit);
    std::string output;
    DWORD dwExitCode = 0;
    if (!RunProgram(pszLabel, ProgramPath(pszProgram), args, static_cast<size_t>(cbLimit), output, dwExitCode)) {
        return;
    }
    WriteText(pszLabel, pszFile, std::move(output), cbLimit, false,
              dwExitCode == 0 ? std::string() : Format(", exit code %lu", static_cast<unsigned long>(dwExitCode)));
}

// For the programs that write their own file (netsh's WFP dumps, wevtutil's exports). A text file over
// its limit is cut in place; an export that does not fit what is left of the section is removed.
void CExtendedEvidence::RunWritingFile(const char* pszLabel, const char* pszProgram, const std::string& args,
                                       const char* pszFile, bool bText)
{
    KVX_FUNCTION("CExtendedEvidence::RunWritingFile");
    if (!Proceed(pszLabel)) {
        return;
    }
    const std::string target = Target(pszFile);
    ::DeleteFileA(target.c_str());
    std::string output;
    DWORD dwExitCode = 0;
    if (!RunProgram(pszLabel, ProgramPath(pszProgram), args, 4096, output, dwExitCode)) {
        ::DeleteFileA(target.c_str()); // a stopped program may have left half a file
        return;
    }
    ULONGLONG cbSize = 0;
    if (!FileSize(target, cbSize)) {
        m_pReporter->Report("%s: not written, the program wrote no file (exit code %lu)", pszLabel,
                            static_cast<unsigned long>(dwExitCode));
        return;
    }
    const ULONGLONG cbLimit = Budget(bText ? m_settings.cbTextLimit : m_settings.cbSectionLimit);
    if (cbSize > cbLimit && !bText) {
        ::DeleteFileA(target.c_str());
        m_pReporter->Report("%s: not kept, its %llu bytes exceed the %llu bytes left to the section", pszLabel,
                            static_cast<unsigned long long>(cbSize), static_cast<unsigned long long>(cbLimit));
        return;
    }
    if (cbSize > cbLimit) {
        std::string head;
        if (!ReadRange(target, 0, cbLimit, head)) {
            ::DeleteFileA(target.c_str());
            m_pReporter->Report("%s: not kept, the file could not be cut (error %lu)", pszLabel, ::GetLastError());
            return;
        }
        WriteText(pszLabel, pszFile, std::move(head), cbLimit, false, std::string());
        return;
    }
    m_cbWritten += cbSize;
    m_pReporter->Report("%s: written to %s (%llu bytes)%s", pszLabel, target.c_str(),
                        static_cast<unsigned long long>(cbSize),
                        dwExitCode == 0 ? "" : Format(", exit code %lu", static_cast<unsigned long>(dwExitCode)).c_str());
}

// Writes a text of at most cbLimit bytes, the cut line included: the head is kept for program output,
// the tail for logs, whose newest lines are at the end.
void CExtendedEvidence::WriteText(const char* pszLabel, const char* pszFile, std::string text, ULONGLONG cbLimit,
                                  bool bKeepTail, const std::string& suffix)
{
    const std::string target = Target(pszFile);
    bool bCut = false;
    if (text.size() > cbLimit) {
        const std::string line = CutLine(cbLimit);
        const size_t keep = cbLimit > line.size() ? static_cast<size_t>(cbLimit - line.size()) : 0;
        text = bKeepTail ? line + text.substr(text.size() - keep) : text.substr(0, keep) + line;
        bCut = true;
    }
    if (!WriteWhole(target, text)) {
        m_pReporter->Report("%s: not written to %s (error %lu)", pszLabel, target.c_str(), ::GetLastError());
        return;
    }
    m_cbWritten += text.size();
    m_pReporter->Report("%s: written to %s (%llu bytes%s)%s", pszLabel, target.c_str(),
                        static_cast<unsigned long long>(text.size()), bCut ? ", cut at the limit" : "", suffix.c_str());
}

void CExtendedEvidence::CopyTextFile(const char* pszLabel, const std::string& source, const char* pszFile)
{
    KVX_FUNCTION("CExtendedEvidence::CopyTextFile");
    if (!Proceed(pszLabel)) {
        return;
    }
    ULONGLONG cbSize = 0;
    if (!FileSize(source, cbSize)) {
        m_pReporter->Report("%s: not present at %s", pszLabel, source.c_str());
        return;
    }
    const ULONGLONG cbLimit = Budget(m_settings.cbTextLimit);
    // Only the part that can be kept is read: the tail when the file is longer than the limit.
    const ULONGLONG cbRead = std::min(cbSize, cbLimit + 1);
    std::string text;
    if (!ReadRange(source, cbSize - cbRead, cbRead, text)) {
        m_pReporter->Report("%s: not read from %s (error %lu)", pszLabel, source.c_str(), ::GetLastError());
        return;
    }
    WriteText(pszLabel, pszFile, std::move(text), cbLimit, true, "");
}

void CExtendedEvidence::GatherFiltersAndSecurity()
{
    KVX_FUNCTION("CExtendedEvidence::GatherFiltersAndSecurity");
    RunWritingFile("WFP state (netsh wfp show state)", "netsh.exe",
                   "wfp show state file=" + Quoted(Target("wfpstate.xml")), "wfpstate.xml", true);
    RunWritingFile("WFP filters (netsh wfp show filters)", "netsh.exe",
                   "wfp show filters file=" + Quoted(Target("wfpfilters.xml")), "wfpfilters.xml", true);
    RunToFile("Winsock catalog (netsh winsock show catalog)", "netsh.exe", "winsock show catalog", "winsock-catalog.txt");
    RunToFile("File system filters (fltmc filters)", "fltmc.exe", "filters", "fltmc-filters.txt");
    RunToFile("File system filter instances (fltmc instances)", "fltmc.exe", "instances", "fltmc-instances.txt");
    ReportSecurityProducts("Antivirus products (root\\SecurityCenter2)", L"AntiVirusProduct", "antivirus-products.txt",
                           true);
    ReportSecurityProducts("Firewall products (root\\SecurityCenter2)", L"FirewallProduct", "firewall-products.txt",
                           false);
}

void CExtendedEvidence::GatherNetwork()
{
    KVX_FUNCTION("CExtendedEvidence::GatherNetwork");
    RunToFile("Network configuration (ipconfig /all)", "ipconfig.exe", "/all", "ipconfig-all.txt");
    RunToFile("DNS client cache (ipconfig /displaydns)", "ipconfig.exe", "/displaydns", "dns-cache.txt");
    RunToFile("WinHTTP proxy (netsh winhttp show proxy)", "netsh.exe", "winhttp show proxy", "winhttp-proxy.txt");

    // The hosts file lives where Tcpip's DataBasePath says; under WoW64 that System32 is the native one.
    std::string hosts = NativeSystemDirectory() + "\\drivers\\etc\\hosts";
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        kvx::UniqueHkey owner(key);
        char value[MAX_PATH + 1] = {};
        DWORD size = MAX_PATH;
        DWORD type = 0;
        if (::RegQueryValueExA(key, "DataBasePath", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                ERROR_SUCCESS &&
            (type == REG_EXPAND_SZ || type == REG_SZ)) {
            char expanded[MAX_PATH + 1] = {};
            const DWORD length = ::ExpandEnvironmentStringsA(value, expanded, MAX_PATH);
            std::string path = length > 0 && length <= MAX_PATH ? expanded : "";
            char system[MAX_PATH + 1] = {};
            const UINT systemLength = ::GetSystemDirectoryA(system, MAX_PATH);
            if (systemLength > 0 && systemLength < MAX_PATH && path.size() >= systemLength &&
                ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(), systemLength, system, systemLength) ==
                    CSTR_EQUAL) {
                path = NativeSystemDirectory() + path.substr(systemLength);
            }
            if (!path.empty()) {
                hosts = WithBackslash(path) + "hosts";
            }
        }
    }
    CopyTextFile("Hosts file", hosts, "hosts.txt");
    ExportKeyText("Tcpip parameters key", L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                  "Tcpip-Parameters.txt");
    ExportKeyText("Dnscache parameters key", L"SYSTEM\\CurrentControlSet\\Services\\Dnscache\\Parameters",
                  "Dnscache-Parameters.txt");
}

void CExtendedEvidence::GatherEventLogs()
{
    KVX_FUNCTION("CExtendedEvidence::GatherEventLogs");
    const std::string lastWeek = Quoted(std::string("/q:*[System[") + KVXEXTENDED_LAST_WEEK + "]]");
    RunWritingFile("System event log, last 7 days (wevtutil epl)", "wevtutil.exe",
                   "epl System " + Quoted(Target("System.evtx")) + " " + lastWeek + " /ow:true", "System.evtx", false);
    RunWritingFile("Application event log, last 7 days (wevtutil epl)", "wevtutil.exe",
                   "epl Application " + Quoted(Target("Application.evtx")) + " " + lastWeek + " /ow:true",
                   "Application.evtx", false);

    // The product's drivers log under their service names; NDIS, TCP/IP and the filtering platform
    // under both their classic and their manifest provider names.
    static const char* const sources[] = {
        "KVXTMGR", "KVXNMGR", "KVXIMD", "KVXMON", "KVXFLTA", "KVXFLTB", "KVXFLTC", "KVXFLTD", "KVXFLTE", "KVXFLTF",
        "NDIS", "Microsoft-Windows-NDIS", "Tcpip", "Microsoft-Windows-TCPIP", "BFE",
        "Microsoft-Windows-Base-Filtering-Engine-Connections", "Microsoft-Windows-Base-Filtering-Engine-Resource-Flows",
        "Microsoft-Windows-WFP",
    };
    std::string providers;
    for (const char* source : sources) {
        providers += std::string(providers.empty() ? "" : " or ") + "@Name='" + source + "'";
    }
    const std::string query = Quoted("/q:*[System[Provider[" + providers + "] and (Level=1 or Level=2 or Level=3) and " +
                                     KVXEXTENDED_LAST_WEEK + "]]");
    RunToFile("System errors and warnings of the network drivers, last 7 days (wevtutil qe)", "wevtutil.exe",
              "qe System " + query + " /f:text /rd:true", "SystemNetworkEvents.txt");
}

void CExtendedEvidence::GatherCrashDumps()
{
    KVX_FUNCTION("CExtendedEvidence::GatherCrashDumps");
    const char* label = "Minidumps";
    const std::string windows = WindowsDirectory();
    if (Proceed(label)) {
        const std::string folder = windows + "Minidump\\";
        struct SDump {
            std::string name;
            ULONGLONG cbSize;
            FILETIME written;
        };
        std::vector<SDump> dumps;
        WIN32_FIND_DATAA data;
        kvx::UniqueFindHandle find(::FindFirstFileA((folder + "*.dmp").c_str(), &data));
        if (!IsDirectory(folder)) {
            m_pReporter->Report("%s: no folder %s", label, folder.c_str());
        } else {
            if (find) {
                do {
                    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                        dumps.push_back({data.cFileName, ToUlong64(data.nFileSizeHigh, data.nFileSizeLow), data.ftLastWriteTime});
                    }
                } while (::FindNextFileA(find.get(), &data));
            }
            std::sort(dumps.begin(), dumps.end(), [](const SDump& a, const SDump& b) {
                return ::CompareFileTime(&a.written, &b.written) > 0;
            });
            ULONGLONG cbCopied = 0;
            unsigned copied = 0;
            std::string notes;
            const size_t considered = std::min<size_t>(dumps.size(), m_settings.dwMinidumpCount);
            for (size_t i = 0; i < considered; ++i) {
                const SDump& dump = dumps[i];
                if (cbCopied + dump.cbSize > m_settings.cbDumpLimit || dump.cbSize > Budget(m_settings.cbSectionLimit)) {
                    notes += Format("; %s (%llu bytes) not copied, over the %llu bytes allowed for dumps", dump.name.c_str(),
                                    static_cast<unsigned long long>(dump.cbSize),
                                    static_cast<unsigned long long>(m_settings.cbDumpLimit));
                    continue;
                }
                if (!::CopyFileA((folder + dump.name).c_str(), Target(dump.name.c_str()).c_str(), FALSE)) {
                    notes += Format("; %s not copied (error %lu)", dump.name.c_str(), ::GetLastError());
                    continue;
                }
                cbCopied += dump.cbSize;
                m_cbWritten += dump.cbSize;
                ++copied;
            }
            m_pReporter->Report("%s: %u of the newest %u of %u copied from %s (%llu bytes)%s", label, copied,
                                static_cast<unsigned>(considered), static_cast<unsigned>(dumps.size()), folder.c_str(),
                                static_cast<unsigned long long>(cbCopied), notes.c_str());
        }
    }

    label = "Kernel dump";
    if (Proceed(label)) {
        // CrashControl names the file; only its size and date are reported, never the file itself.
        std::string file = windows + "MEMORY.DMP";
        HKEY key = nullptr;
        if (m_settings.strWindowsDirectory.empty() &&
            ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\CrashControl", 0,
                            KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
            kvx::UniqueHkey owner(key);
            char value[MAX_PATH + 1] = {};
            DWORD size = MAX_PATH;
            DWORD type = 0;
            char expanded[MAX_PATH + 1] = {};
            if (::RegQueryValueExA(key, "DumpFile", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                    ERROR_SUCCESS &&
                (type == REG_EXPAND_SZ || type == REG_SZ)) {
                const DWORD length = ::ExpandEnvironmentStringsA(value, expanded, MAX_PATH);
                if (length > 0 && length <= MAX_PATH) {
                    file = expanded;
                }
            }
        }
        ULONGLONG cbSize = 0;
        FILETIME written;
        if (FileSize(file, cbSize, &written)) {
            m_pReporter->Report("%s: %s, %llu bytes, written %s (not copied)", label, file.c_str(),
                                static_cast<unsigned long long>(cbSize), LocalTimeText(written).c_str());
        } else {
            m_pReporter->Report("%s: none at %s", label, file.c_str());
        }
    }
}

void CExtendedEvidence::GatherSetupLogs()
{
    KVX_FUNCTION("CExtendedEvidence::GatherSetupLogs");
    const std::string inf = WindowsDirectory() + "INF\\";
    CopyTextFile("Device setup log (setupapi.dev.log)", inf + "setupapi.dev.log", "setupapi.dev.log");
    CopyTextFile("Application setup log (setupapi.app.log)", inf + "setupapi.app.log", "setupapi.app.log");
}
