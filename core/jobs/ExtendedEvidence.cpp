// The "Extended Data" section: the items and their bounds. Programs are started by full quoted path
// from the native system directory, so that a 32-bit build on 64-bit Windows sees the 64-bit Winsock
// catalog, filter manager and firewall state rather than their WoW64 views.
#include "core/jobs/ExtendedEvidence.h"

#include "common/log/GuardedOperation.h"
#include "common/win/ProcAddress.h"
#include "common/win/UniqueHandles.h"
#include "core/helpers/HelperRef.h"
#include "core/helpers/KVXApiFactory.h"
#include "core/jobs/ExtendedEvidenceDrivers.h"
#include "core/jobs/ExtendedEvidenceProgram.h"
#include "core/report/IReporter.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr const char* KVXEXTENDED_NOT_AVAILABLE = "not available on this system";
constexpr size_t KVXEXTENDED_COPY_PIECE = 1024 * 1024;
// What a file-writing program printed is quoted in its line up to this length.
constexpr size_t KVXEXTENDED_SAID_LIMIT = 300;
// Event queries return at most this many events, newest first.
constexpr unsigned KVXEXTENDED_EVENT_COUNT = 2000;
// The event log refuses an XPath with more expressions than this.
constexpr size_t KVXEXTENDED_XPATH_EXPRESSIONS = 20;

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

std::string StoppedLine(DWORD dwLimitMs)
{
    return Format("[the program did not finish within %lu s and was stopped; the text above is what it had written]\r\n",
                  static_cast<unsigned long>((dwLimitMs + 999) / 1000));
}

// The error is taken before the file's handle is closed, which may change it.
DWORD WriteWhole(const std::string& path, const std::string& data)
{
    kvx::UniqueFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    size_t at = 0;
    while (at < data.size()) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(data.size() - at, KVXEXTENDED_COPY_PIECE));
        if (!::WriteFile(file.get(), data.data() + at, piece, &written, nullptr) || written == 0) {
            const DWORD dwError = ::GetLastError();
            return dwError != ERROR_SUCCESS ? dwError : ERROR_WRITE_FAULT;
        }
        at += written;
    }
    return ERROR_SUCCESS;
}

// Reads up to cbCount bytes from cbOffset of a file that its owner may still be writing.
DWORD ReadRange(const std::string& path, ULONGLONG cbOffset, ULONGLONG cbCount, std::string& data)
{
    kvx::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(cbOffset);
    if (!::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) {
        return ::GetLastError();
    }
    data.clear();
    std::vector<char> piece(KVXEXTENDED_COPY_PIECE);
    while (data.size() < cbCount) {
        DWORD read = 0;
        const DWORD want = static_cast<DWORD>(std::min<ULONGLONG>(piece.size(), cbCount - data.size()));
        if (!::ReadFile(file.get(), piece.data(), want, &read, nullptr)) {
            return ::GetLastError();
        }
        if (read == 0) {
            break;
        }
        data.append(piece.data(), read);
    }
    return ERROR_SUCCESS;
}

// Cuts a file to cbKeep bytes and appends the line, without reading it: the WFP state may be large.
DWORD CutFileInPlace(const std::string& path, ULONGLONG cbKeep, const std::string& line)
{
    kvx::UniqueFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(cbKeep);
    DWORD written = 0;
    if (!::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get()) ||
        !::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        return ::GetLastError();
    }
    return written == line.size() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
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

// A program's text on one line, for the item's report line.
std::string Said(const std::string& output)
{
    std::string said;
    for (char c : output) {
        if (said.size() >= KVXEXTENDED_SAID_LIMIT) {
            said += "...";
            break;
        }
        if (c == '\r' || c == '\n') {
            if (!said.empty() && said.compare(said.size() - std::min<size_t>(said.size(), 3), 3, " / ") != 0) {
                said += " / ";
            }
        } else if (static_cast<unsigned char>(c) >= 0x20) {
            said += c;
        }
    }
    while (said.size() >= 3 && said.compare(said.size() - 3, 3, " / ") == 0) {
        said.resize(said.size() - 3);
    }
    return said;
}

std::string ReadRegistryText(HKEY root, const std::wstring& subKey, const char* pszValue, REGSAM view = KEY_WOW64_64KEY)
{
    kvx::UniqueHkey key;
    if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
        return std::string();
    }
    std::vector<char> value(MAX_PATH + 1);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = static_cast<DWORD>(value.size() - 1);
        DWORD type = 0;
        const LONG rc = ::RegQueryValueExA(key.get(), pszValue, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
        if (rc == ERROR_MORE_DATA) {
            value.assign(size + 2, '\0');
            continue;
        }
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
            return std::string();
        }
        value[std::min<size_t>(size, value.size() - 1)] = '\0';
        std::string text(value.data());
        if (type == REG_EXPAND_SZ) {
            const DWORD length = ::ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
            std::vector<char> expanded(length + 1);
            if (length > 0 && ::ExpandEnvironmentStringsA(text.c_str(), expanded.data(), length + 1) <= length + 1) {
                text = expanded.data();
            }
        }
        return text;
    }
    return std::string();
}

// Event ids and how often each occurs in wevtutil's text output ("Event ID: 7000").
std::string CountEventIds(const std::string& text, unsigned& uTotal)
{
    std::map<unsigned long, unsigned> counts;
    uTotal = 0;
    const std::string marker = "Event ID: ";
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + marker.size())) {
        counts[std::strtoul(text.c_str() + at + marker.size(), nullptr, 10)]++;
        ++uTotal;
    }
    std::string summary;
    for (const auto& entry : counts) {
        summary += Format("%s%lu x%u", summary.empty() ? "" : ", ", entry.first, entry.second);
    }
    return summary;
}

// The XPath of one Select: "*[System[(a or b ...) and rest]]". Each comparison counts as one of the
// log's expressions.
std::string Select(const char* pszChannel, const std::vector<std::string>& alternatives, const std::string& rest)
{
    std::string either;
    for (const std::string& alternative : alternatives) {
        either += (either.empty() ? "" : " or ") + alternative;
    }
    std::string path = "*[System[";
    if (!either.empty()) {
        path += "(" + either + ")";
    }
    if (!rest.empty()) {
        path += (either.empty() ? "" : " and ") + rest;
    }
    path += "]]";
    return Format("    <Select Path=\"%s\">", pszChannel) + path + "</Select>\r\n";
}

std::string WithinMs(unsigned long long ms)
{
    return Format("TimeCreated[timediff(@SystemTime) &lt;= %llu]", ms);
}

std::string ProviderTest(const char* pszName) { return std::string("Provider[@Name='") + pszName + "']"; }

std::string QueryList(const std::string& selects)
{
    return "<QueryList>\r\n  <Query Id=\"0\">\r\n" + selects + "  </Query>\r\n</QueryList>\r\n";
}

constexpr unsigned long long KVXEXTENDED_DAY_MS = 86400000ull;

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
        std::vector<SExtendedItem> items;
        for (auto group : {&CExtendedEvidence::SystemItems, &CExtendedEvidence::FilterItems,
                           &CExtendedEvidence::NetworkItems, &CExtendedEvidence::EventLogItems,
                           &CExtendedEvidence::CrashItems, &CExtendedEvidence::SetupLogItems}) {
            std::vector<SExtendedItem> more = (this->*group)();
            std::move(more.begin(), more.end(), std::back_inserter(items));
        }
        RunItems(std::move(items));
    });
    m_pReporter->Report("%u items, %llu bytes written to %s in %llu s", m_uItems,
                        static_cast<unsigned long long>(m_cbWritten), m_strDirectory.c_str(),
                        static_cast<unsigned long long>(m_started == 0 ? 0 : (::GetTickCount64() - m_started) / 1000));
    m_pReporter->EndSection("%s", "Extended data gathering, finished.");
}

void CExtendedEvidence::RunItems(std::vector<SExtendedItem> items)
{
    KVX_FUNCTION("CExtendedEvidence::RunItems");
    if (m_pReporter == nullptr) {
        return;
    }
    m_uItems += static_cast<unsigned>(items.size());
    m_started = ::GetTickCount64();
    CExtendedEvidenceQueue queue(m_settings.uConcurrency, m_settings.dwSectionDeadlineMs, m_isCancelled,
                                 m_settings.onItemStart);
    queue.Run(std::move(items), *m_pReporter);
}

bool CExtendedEvidence::Proceed(IReporter& out, const char* pszLabel)
{
    std::lock_guard<std::mutex> guard(m_budgetLock);
    if (m_cbWritten >= m_settings.cbSectionLimit) {
        out.Report("%s: not written, the section's limit of %llu bytes has been reached", pszLabel,
                   static_cast<unsigned long long>(m_settings.cbSectionLimit));
        return false;
    }
    return true;
}

// Bytes are claimed when they are written, under the lock, so that items running side by side can
// never together pass the section's limit; a claim that is not used after all is given back.
ULONGLONG CExtendedEvidence::Claim(ULONGLONG cbWanted)
{
    std::lock_guard<std::mutex> guard(m_budgetLock);
    const ULONGLONG cbGranted =
        std::min(cbWanted, m_settings.cbSectionLimit - std::min(m_cbWritten, m_settings.cbSectionLimit));
    m_cbWritten += cbGranted;
    return cbGranted;
}

void CExtendedEvidence::Release(ULONGLONG cbClaimed)
{
    std::lock_guard<std::mutex> guard(m_budgetLock);
    m_cbWritten -= std::min(cbClaimed, m_cbWritten);
}

ULONGLONG CExtendedEvidence::Left(ULONGLONG cbLimit)
{
    std::lock_guard<std::mutex> guard(m_budgetLock);
    return std::min(cbLimit, m_settings.cbSectionLimit - std::min(m_cbWritten, m_settings.cbSectionLimit));
}

DWORD CExtendedEvidence::ProgramTimeLimit() const
{
    const ULONGLONG spent = ::GetTickCount64() - m_started;
    const DWORD left = spent >= m_settings.dwSectionDeadlineMs ? 0 : static_cast<DWORD>(m_settings.dwSectionDeadlineMs - spent);
    return std::max<DWORD>(1, std::min(m_settings.dwProgramTimeoutMs, left));
}

bool CExtendedEvidence::NeedsSysnative(USHORT processMachine, USHORT nativeMachine)
{
    // A 32-bit x86 or ARM process on a 64-bit system is redirected; on ARM64 an x86 process is one too.
    const bool bProcess32 = processMachine == IMAGE_FILE_MACHINE_I386 || processMachine == 0x01c4; // ARMNT
    const bool bNative64 = nativeMachine == IMAGE_FILE_MACHINE_AMD64 || nativeMachine == 0xAA64;  // ARM64
    return bProcess32 && bNative64;
}

std::string CExtendedEvidence::NativeSystemDirectory()
{
    char system[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryA(system, MAX_PATH);
    std::string directory = length > 0 && length < MAX_PATH ? system : "";
#ifndef _WIN64
    // Sysnative exists only for 32-bit processes on 64-bit Windows (and vanishes while redirection is
    // switched off, when System32 is already the native one). IsWow64Process2 also knows ARM64, where
    // the older calls describe an emulated x86 machine.
    bool bRedirected = false;
    using PFN_ISWOW64PROCESS2 = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const auto isWow64Process2 =
        kvx::GetProc<PFN_ISWOW64PROCESS2>(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2");
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (isWow64Process2 != nullptr && isWow64Process2(::GetCurrentProcess(), &processMachine, &nativeMachine)) {
        bRedirected = NeedsSysnative(processMachine, nativeMachine);
    } else {
        BOOL bWow64 = FALSE;
        bRedirected = ::IsWow64Process(::GetCurrentProcess(), &bWow64) && bWow64;
    }
    char windows[MAX_PATH + 1] = {};
    const UINT windowsLength = ::GetWindowsDirectoryA(windows, MAX_PATH);
    if (bRedirected && windowsLength > 0 && windowsLength < MAX_PATH) {
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

std::wstring CExtendedEvidence::ControlSetKey(const wchar_t* pszSubKey) const
{
    return m_settings.strControlSet + L"\\" + pszSubKey;
}

// Starts one program with what is left of its time; false (with the item's line written) when there
// is no output to keep.
bool CExtendedEvidence::RunProgram(IReporter& out, const char* pszLabel, const std::string& program,
                                   const std::string& args, size_t cbKeep, SExtendedProgramResult& result)
{
    KVX_FUNCTION_QUIET("CExtendedEvidence::RunProgram");
    ULONGLONG cbIgnored = 0;
    if (!FileSize(program, cbIgnored)) {
        out.Report("%s: %s", pszLabel, KVXEXTENDED_NOT_AVAILABLE);
        return false;
    }
    const DWORD dwLimitMs = ProgramTimeLimit();
    result = CExtendedEvidenceProgram::Run(program, args, dwLimitMs, cbKeep);
    if (result.dwStartError != ERROR_SUCCESS) {
        out.Report("%s: not written, the program could not be started (error %lu)", pszLabel,
                   static_cast<unsigned long>(result.dwStartError));
        return false;
    }
    if (result.bStopped && result.strOutput.empty()) {
        out.Report("%s: not written, the program did not finish within %lu s and was stopped", pszLabel,
                   static_cast<unsigned long>((dwLimitMs + 999) / 1000));
        return false;
    }
    return true;
}

void CExtendedEvidence::RunToFile(IReporter& out, const char* pszLabel, const char* pszProgram,
                                  const std::string& args, const char* pszFile, const FDescribe& describe)
{
    KVX_FUNCTION("CExtendedEvidence::RunToFile");
    if (!Proceed(out, pszLabel)) {
        return;
    }
    const DWORD dwLimitMs = ProgramTimeLimit();
    SExtendedProgramResult result;
    if (!RunProgram(out, pszLabel, ProgramPath(pszProgram), args,
                    static_cast<size_t>(Left(m_settings.cbTextLimit)), result)) {
        return;
    }
    std::string suffix;
    std::string tail;
    if (result.bStopped) {
        // What a stopped program had printed is kept and marked.
        tail = StoppedLine(dwLimitMs);
        suffix = Format(", the program did not finish within %lu s and was stopped",
                        static_cast<unsigned long>((dwLimitMs + 999) / 1000));
    } else if (result.dwExitCode != 0) {
        suffix = Format(", exit code %lu", static_cast<unsigned long>(result.dwExitCode));
    }
    if (describe) {
        suffix += describe(result.strOutput);
    }
    WriteText(out, pszLabel, pszFile, std::move(result.strOutput), m_settings.cbTextLimit, false, suffix, tail);
}

// For the programs that write their own file (netsh's WFP dumps, wevtutil's exports). A text file over
// its limit is cut in place with a cut line; a binary export that does not fit is removed. What the
// program printed is quoted in the line.
bool CExtendedEvidence::RunWritingFile(IReporter& out, const char* pszLabel, const char* pszProgram,
                                       const std::string& args, const char* pszFile, ULONGLONG cbLimit, bool bText,
                                       bool bReportTooLarge, const std::function<std::string()>& finish)
{
    KVX_FUNCTION("CExtendedEvidence::RunWritingFile");
    const std::string target = Target(pszFile);
    ::DeleteFileA(target.c_str());
    const DWORD dwLimitMs = ProgramTimeLimit();
    SExtendedProgramResult result;
    if (!RunProgram(out, pszLabel, ProgramPath(pszProgram), args, 4096, result)) {
        ::DeleteFileA(target.c_str()); // a stopped program may have left half a file
        return true;
    }
    const std::string said = Said(result.strOutput);
    const std::string saidText = said.empty() ? std::string() : "; it said: " + said;
    ULONGLONG cbSize = 0;
    if (result.bStopped && (!bText || !FileSize(target, cbSize))) {
        ::DeleteFileA(target.c_str());
        out.Report("%s: not written, the program did not finish within %lu s and was stopped%s", pszLabel,
                   static_cast<unsigned long>((dwLimitMs + 999) / 1000), saidText.c_str());
        return true;
    }
    if (!FileSize(target, cbSize)) {
        out.Report("%s: not written, the program wrote no file (exit code %lu)%s", pszLabel,
                   static_cast<unsigned long>(result.dwExitCode), saidText.c_str());
        return true;
    }
    const std::string stopped = result.bStopped ? StoppedLine(dwLimitMs) : std::string();
    const ULONGLONG cbWanted = cbSize + stopped.size();
    const ULONGLONG cbGranted = Claim(std::min(cbWanted, cbLimit));
    if (cbGranted < cbWanted && !bText) {
        Release(cbGranted);
        if (!bReportTooLarge) {
            ::DeleteFileA(target.c_str());
            return false;
        }
        ::DeleteFileA(target.c_str());
        out.Report("%s: not kept, its %llu bytes exceed the %llu bytes left to the section", pszLabel,
                   static_cast<unsigned long long>(cbSize), static_cast<unsigned long long>(cbGranted));
        return true;
    }
    std::string notes;
    if (cbGranted < cbWanted || result.bStopped) {
        const std::string line = cbGranted < cbWanted ? CutLine(cbGranted) + stopped : stopped;
        const ULONGLONG keep = std::min(cbSize, cbGranted > line.size() ? cbGranted - line.size() : 0);
        const DWORD rc = CutFileInPlace(target, keep, line);
        if (rc != ERROR_SUCCESS) {
            Release(cbGranted);
            ::DeleteFileA(target.c_str());
            out.Report("%s: not kept, the file could not be cut (error %lu)", pszLabel, static_cast<unsigned long>(rc));
            return true;
        }
        Release(cbGranted - std::min(cbGranted, keep + line.size()));
        cbSize = keep + line.size();
        notes = cbGranted < cbWanted ? ", cut at the limit" : "";
        if (result.bStopped) {
            notes += Format(", the program did not finish within %lu s and was stopped",
                            static_cast<unsigned long>((dwLimitMs + 999) / 1000));
        }
    }
    const std::string finished = finish ? finish() : std::string();
    out.Report("%s: written to %s (%llu bytes%s)%s%s%s", pszLabel, target.c_str(), static_cast<unsigned long long>(cbSize),
               notes.c_str(),
               result.dwExitCode == 0 || result.bStopped ? ""
                                                         : Format(", exit code %lu", static_cast<unsigned long>(result.dwExitCode)).c_str(),
               saidText.c_str(), finished.c_str());
    return true;
}

// Writes a text of at most cbLimit bytes (and what is left of the section), the cut line included:
// the head is kept for program output, the tail for logs, whose newest lines are at the end. The tail
// line (a stopped program's mark) always stays.
bool CExtendedEvidence::WriteText(IReporter& out, const char* pszLabel, const char* pszFile, std::string text,
                                  ULONGLONG cbLimit, bool bKeepTail, const std::string& suffix, const std::string& tail)
{
    const std::string target = Target(pszFile);
    const ULONGLONG cbWanted = text.size() + tail.size();
    const ULONGLONG cbGranted = Claim(std::min(cbWanted, cbLimit));
    bool bCut = false;
    if (cbGranted < cbWanted) {
        const std::string line = CutLine(cbGranted);
        const size_t room = cbGranted > line.size() + tail.size() ? static_cast<size_t>(cbGranted - line.size() - tail.size()) : 0;
        const size_t keep = std::min(room, text.size());
        text = bKeepTail ? line + text.substr(text.size() - keep) : text.substr(0, keep) + line;
        bCut = true;
    }
    text += tail;
    Release(cbGranted - std::min<ULONGLONG>(cbGranted, text.size()));
    const DWORD rc = WriteWhole(target, text);
    if (rc != ERROR_SUCCESS) {
        Release(std::min<ULONGLONG>(cbGranted, text.size()));
        out.Report("%s: not written to %s (error %lu)", pszLabel, target.c_str(), static_cast<unsigned long>(rc));
        return false;
    }
    out.Report("%s: written to %s (%llu bytes%s)%s", pszLabel, target.c_str(), static_cast<unsigned long long>(text.size()),
               bCut ? ", cut at the limit" : "", suffix.c_str());
    return true;
}

void CExtendedEvidence::CopyTextFile(IReporter& out, const char* pszLabel, const std::string& source, const char* pszFile)
{
    KVX_FUNCTION("CExtendedEvidence::CopyTextFile");
    if (!Proceed(out, pszLabel)) {
        return;
    }
    ULONGLONG cbSize = 0;
    if (!FileSize(source, cbSize)) {
        out.Report("%s: not present at %s", pszLabel, source.c_str());
        return;
    }
    // Only the part that can be kept is read: the tail when the file is longer than the limit.
    const ULONGLONG cbRead = std::min(cbSize, Left(m_settings.cbTextLimit) + 1);
    std::string text;
    const DWORD rc = ReadRange(source, cbSize - cbRead, cbRead, text);
    if (rc != ERROR_SUCCESS) {
        out.Report("%s: not read from %s (error %lu)", pszLabel, source.c_str(), static_cast<unsigned long>(rc));
        return;
    }
    WriteText(out, pszLabel, pszFile, std::move(text), m_settings.cbTextLimit, true, "", "");
}

std::vector<SExtendedItem> CExtendedEvidence::FilterItems()
{
    const std::string wfpState = Target("wfpstate.xml");
    return {
        {"WFP state (netsh wfp show state)",
         [this, wfpState](IReporter& out) {
             const char* label = "WFP state (netsh wfp show state)";
             if (Proceed(out, label)) {
                 RunWritingFile(out, label, "netsh.exe", "wfp show state file=" + Quoted(wfpState), "wfpstate.xml",
                                m_settings.cbWfpLimit, true);
             }
         }},
        // The state's XML holds every filter with its layer, sublayer, weight and provider; a second dump
        // of the same filters would double the largest file of the package and its time.
        {"WFP filters (netsh wfp show filters)",
         [](IReporter& out) {
             out.Report("WFP filters (netsh wfp show filters): not run, the filters are part of wfpstate.xml "
                        "(netsh wfp show state)");
         }},
        {"WFP drop events (netsh wfp show netevents)",
         [this](IReporter& out) {
             const char* label = "WFP drop events (netsh wfp show netevents)";
             if (Proceed(out, label)) {
                 RunWritingFile(out, label, "netsh.exe", "wfp show netevents file=" + Quoted(Target("wfpnetevents.xml")),
                                "wfpnetevents.xml", m_settings.cbTextLimit, true);
             }
         }},
        {"Filtering Platform audit policy (auditpol)", [this](IReporter& out) { ReportAuditPolicy(out); }},
        {"WFP audit events 5152, 5157, 5159 and 5447, last 24 hours (wevtutil qe Security)",
         [this](IReporter& out) {
             QueryEvents(out, "WFP audit events 5152, 5157, 5159 and 5447, last 24 hours (wevtutil qe Security)",
                         WfpAuditEventQuery(), "WfpAuditQuery.xml", "WfpAuditEvents.txt");
         }},
        {"Winsock catalog (netsh winsock show catalog)",
         [this](IReporter& out) {
             RunToFile(out, "Winsock catalog (netsh winsock show catalog)", "netsh.exe", "winsock show catalog",
                       "winsock-catalog.txt");
         }},
        {"File system filters (fltmc filters)",
         [this](IReporter& out) {
             RunToFile(out, "File system filters (fltmc filters)", "fltmc.exe", "filters", "fltmc-filters.txt");
         }},
        {"File system filter instances (fltmc instances)",
         [this](IReporter& out) {
             RunToFile(out, "File system filter instances (fltmc instances)", "fltmc.exe", "instances",
                       "fltmc-instances.txt");
         }},
        {"Antivirus products (root\\SecurityCenter2)",
         [this](IReporter& out) {
             ReportSecurityProducts(out, "Antivirus products (root\\SecurityCenter2)", L"AntiVirusProduct",
                                    "antivirus-products.txt", true);
         }},
        {"Firewall products (root\\SecurityCenter2)",
         [this](IReporter& out) {
             ReportSecurityProducts(out, "Firewall products (root\\SecurityCenter2)", L"FirewallProduct",
                                    "firewall-products.txt", false);
         }},
        {"Product drivers", [this](IReporter& out) { ReportProductDrivers(out); }},
    };
}

// The two subcategories by their GUIDs, which, unlike their names, are the same in every language.
void CExtendedEvidence::ReportAuditPolicy(IReporter& out)
{
    static const struct {
        const char* guid;
        const char* name;
    } subcategories[] = {
        {"{0CCE9225-69AE-11D9-BED3-505054503030}", "Filtering Platform Packet Drop"},
        {"{0CCE9226-69AE-11D9-BED3-505054503030}", "Filtering Platform Connection"},
    };
    RunToFile(out, "Filtering Platform audit policy (auditpol)", "auditpol.exe",
              std::string("/get /subcategory:") + subcategories[0].guid + "," + subcategories[1].guid + " /r",
              "auditpol-wfp.csv", [](const std::string& output) {
                  // CSV: machine, target, subcategory, GUID, inclusion setting, exclusion setting.
                  std::string summary;
                  bool bDropOff = false;
                  for (const auto& subcategory : subcategories) {
                      const size_t at = output.find(subcategory.guid);
                      std::string setting = "not listed";
                      if (at != std::string::npos) {
                          const size_t begin = output.find(',', at);
                          const size_t end = begin == std::string::npos ? begin : output.find_first_of(",\r\n", begin + 1);
                          if (begin != std::string::npos) {
                              setting = output.substr(begin + 1, end == std::string::npos ? std::string::npos : end - begin - 1);
                          }
                      }
                      if (subcategory.guid == subcategories[0].guid && setting == "No Auditing") {
                          bDropOff = true;
                      }
                      summary += std::string(summary.empty() ? "; " : ", ") + subcategory.name + ": " + setting;
                  }
                  if (bDropOff) {
                      summary += "; packet drop auditing is off, so the Security log records no WFP drops";
                  }
                  return summary;
              });
}

std::string CExtendedEvidence::WfpAuditEventQuery()
{
    return QueryList(Select("Security", {"EventID=5152", "EventID=5157", "EventID=5159", "EventID=5447"},
                            WithinMs(KVXEXTENDED_DAY_MS)));
}

std::string CExtendedEvidence::NetworkEventQuery()
{
    // The product's drivers log under their service names; NDIS, TCP/IP and the filtering platform
    // under both their classic and their manifest provider names. Each Select stays within the
    // log's limit of expressions: providers, three levels and the time.
    static const char* const sources[] = {
        "KVXTMGR", "KVXNMGR", "KVXIMD", "KVXMON", "KVXFLTA", "KVXFLTB", "KVXFLTC", "KVXFLTD", "KVXFLTE", "KVXFLTF",
        "NDIS", "Microsoft-Windows-NDIS", "Tcpip", "Microsoft-Windows-TCPIP", "BFE",
        "Microsoft-Windows-Base-Filtering-Engine-Connections", "Microsoft-Windows-Base-Filtering-Engine-Resource-Flows",
        "Microsoft-Windows-WFP",
    };
    const std::string rest = "(Level=1 or Level=2 or Level=3) and " + WithinMs(7 * KVXEXTENDED_DAY_MS);
    const size_t perSelect = KVXEXTENDED_XPATH_EXPRESSIONS - 4;
    std::string selects;
    std::vector<std::string> providers;
    for (size_t i = 0; i < sizeof sources / sizeof sources[0]; ++i) {
        providers.push_back(ProviderTest(sources[i]));
        if (providers.size() == perSelect || i + 1 == sizeof sources / sizeof sources[0]) {
            selects += Select("System", providers, rest);
            providers.clear();
        }
    }
    return QueryList(selects);
}

std::string CExtendedEvidence::FailureEventQuery()
{
    const std::string month = WithinMs(30 * KVXEXTENDED_DAY_MS);
    return QueryList(
        Select("System", {ProviderTest("Service Control Manager")}, "EventID&gt;=7000 and EventID&lt;=7045 and " + month) +
        Select("System", {ProviderTest("Microsoft-Windows-WER-SystemErrorReporting"), ProviderTest("BugCheck")},
               "EventID=1001 and " + month) +
        Select("System", {ProviderTest("Microsoft-Windows-Kernel-Power")}, "EventID=41 and " + month));
}

// The query goes in a file of its own (structured queries are read from one), which also shows
// support what was asked.
void CExtendedEvidence::QueryEvents(IReporter& out, const char* pszLabel, const std::string& query,
                                    const char* pszQueryFile, const char* pszFile)
{
    if (!Proceed(out, pszLabel)) {
        return;
    }
    const std::string queryFile = Target(pszQueryFile);
    const DWORD rc = WriteWhole(queryFile, query);
    if (rc != ERROR_SUCCESS) {
        out.Report("%s: not run, the query could not be written to %s (error %lu)", pszLabel, queryFile.c_str(),
                   static_cast<unsigned long>(rc));
        return;
    }
    RunToFile(out, pszLabel, "wevtutil.exe",
              "qe " + Quoted(queryFile) + Format(" /sq:true /f:text /rd:true /c:%u", KVXEXTENDED_EVENT_COUNT), pszFile,
              [](const std::string& output) {
                  unsigned uTotal = 0;
                  const std::string ids = CountEventIds(output, uTotal);
                  return uTotal == 0 ? std::string("; no events") : Format("; %u events: ", uTotal) + ids;
              });
}

std::vector<SExtendedItem> CExtendedEvidence::NetworkItems()
{
    return {
        {"Network configuration (ipconfig /all)",
         [this](IReporter& out) {
             RunToFile(out, "Network configuration (ipconfig /all)", "ipconfig.exe", "/all", "ipconfig-all.txt");
         }},
        {"DNS client cache (ipconfig /displaydns)",
         [this](IReporter& out) {
             RunToFile(out, "DNS client cache (ipconfig /displaydns)", "ipconfig.exe", "/displaydns", "dns-cache.txt");
         }},
        {"WinHTTP proxy (netsh winhttp show proxy)",
         [this](IReporter& out) {
             RunToFile(out, "WinHTTP proxy (netsh winhttp show proxy)", "netsh.exe", "winhttp show proxy",
                       "winhttp-proxy.txt");
         }},
        {"Firewall profiles (netsh advfirewall show allprofiles)",
         [this](IReporter& out) {
             RunToFile(out, "Firewall profiles (netsh advfirewall show allprofiles)", "netsh.exe",
                       "advfirewall show allprofiles", "advfirewall-profiles.txt");
         }},
        {"Hosts file",
         [this](IReporter& out) {
             // The hosts file lives where Tcpip's DataBasePath says; under WoW64 that System32 is the native one.
             std::string hosts = NativeSystemDirectory() + "\\drivers\\etc\\hosts";
             std::string path =
                 ReadRegistryText(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", "DataBasePath");
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
             CopyTextFile(out, "Hosts file", hosts, "hosts.txt");
         }},
        {"Tcpip parameters key",
         [this](IReporter& out) {
             ExportKeyText(out, "Tcpip parameters key", L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                           "Tcpip-Parameters.txt");
         }},
        {"Tcpip6 parameters key",
         [this](IReporter& out) {
             ExportKeyText(out, "Tcpip6 parameters key", L"SYSTEM\\CurrentControlSet\\Services\\Tcpip6\\Parameters",
                           "Tcpip6-Parameters.txt");
         }},
        {"Dnscache parameters key",
         [this](IReporter& out) {
             ExportKeyText(out, "Dnscache parameters key", L"SYSTEM\\CurrentControlSet\\Services\\Dnscache\\Parameters",
                           "Dnscache-Parameters.txt");
         }},
    };
}

// An export that does not fit what is left of the section is tried again over a shorter time, and
// the kept one gets the display information that support's machines lack for the product's events.
void CExtendedEvidence::ExportEventLog(IReporter& out, const char* pszLabel, const char* pszChannel, const char* pszFile)
{
    if (!Proceed(out, pszLabel)) {
        return;
    }
    static const struct {
        unsigned long long ms;
        const char* text;
    } windows[] = {{7 * KVXEXTENDED_DAY_MS, "7 days"}, {KVXEXTENDED_DAY_MS, "1 day"}, {3600000ull, "1 hour"}};
    const std::string target = Target(pszFile);
    for (size_t i = 0; i < sizeof windows / sizeof windows[0]; ++i) {
        const bool bLast = i + 1 == sizeof windows / sizeof windows[0];
        const std::string query = Format("/q:*[System[TimeCreated[timediff(@SystemTime) <= %llu]]]", windows[i].ms);
        const std::string args = std::string("epl ") + pszChannel + " " + Quoted(target) + " " + Quoted(query) + " /ow:true";
        auto finish = [&, i]() {
            std::string note;
            if (i > 0) {
                note = Format("; the last %s did not fit what was left of the section, so only the last %s",
                              windows[0].text, windows[i].text);
            }
            wchar_t localeW[LOCALE_NAME_MAX_LENGTH] = {};
            std::string locale = "en-US";
            if (::GetUserDefaultLocaleName(localeW, LOCALE_NAME_MAX_LENGTH) > 0) {
                locale.clear();
                for (const wchar_t* c = localeW; *c != L'\0'; ++c) {
                    locale += static_cast<char>(*c < 0x80 ? *c : '_');
                }
            }
            const SExtendedProgramResult archived =
                CExtendedEvidenceProgram::Run(ProgramPath("wevtutil.exe"), "al " + Quoted(target) + " /l:" + locale,
                                              ProgramTimeLimit(), 4096);
            if (archived.dwStartError != ERROR_SUCCESS || archived.bStopped || archived.dwExitCode != 0) {
                note += Format("; display information not added (wevtutil al: %s)",
                               archived.bStopped ? "stopped at its time limit"
                                                 : Format("error %lu", static_cast<unsigned long>(archived.dwStartError != 0 ? archived.dwStartError : archived.dwExitCode)).c_str());
            } else {
                note += "; display information added (wevtutil al, " + locale + ")";
            }
            return note;
        };
        if (RunWritingFile(out, pszLabel, "wevtutil.exe", args, pszFile, m_settings.cbSectionLimit, false, bLast, finish)) {
            return;
        }
    }
}

std::vector<SExtendedItem> CExtendedEvidence::EventLogItems()
{
    return {
        {"System event log, last 7 days (wevtutil epl)",
         [this](IReporter& out) {
             ExportEventLog(out, "System event log, last 7 days (wevtutil epl)", "System", "System.evtx");
         }},
        {"Application event log, last 7 days (wevtutil epl)",
         [this](IReporter& out) {
             ExportEventLog(out, "Application event log, last 7 days (wevtutil epl)", "Application", "Application.evtx");
         }},
        {"System errors and warnings of the network drivers, last 7 days (wevtutil qe)",
         [this](IReporter& out) {
             QueryEvents(out, "System errors and warnings of the network drivers, last 7 days (wevtutil qe)",
                         NetworkEventQuery(), "SystemNetworkQuery.xml", "SystemNetworkEvents.txt");
         }},
        {"Service, bugcheck and power-loss events, last 30 days (wevtutil qe)",
         [this](IReporter& out) {
             QueryEvents(out, "Service, bugcheck and power-loss events, last 30 days (wevtutil qe)", FailureEventQuery(),
                         "FailureQuery.xml", "FailureEvents.txt");
         }},
    };
}

std::vector<SExtendedItem> CExtendedEvidence::CrashItems()
{
    return {
        {"Minidumps", [this](IReporter& out) { ReportMinidumps(out); }},
        {"Minidump bugcheck codes", [this](IReporter& out) { ReportDumpBugchecks(out); }},
        {"Kernel dump", [this](IReporter& out) { ReportKernelDump(out); }},
        {"Live kernel reports", [this](IReporter& out) { ReportLiveKernelReports(out); }},
    };
}

std::string CExtendedEvidence::MinidumpFolder() const
{
    const std::string configured = ReadRegistryText(m_settings.hControlSetRoot, ControlSetKey(L"Control\\CrashControl"),
                                                    "MinidumpDir");
    return configured.empty() ? WindowsDirectory() + "Minidump\\" : WithBackslash(configured);
}

namespace {

struct SDump {
    std::string name;
    ULONGLONG cbSize;
    FILETIME written;
};

// The folder's dumps, newest first.
std::vector<SDump> ListDumps(const std::string& folder)
{
    std::vector<SDump> dumps;
    WIN32_FIND_DATAA data;
    kvx::UniqueFindHandle find(::FindFirstFileA((folder + "*.dmp").c_str(), &data));
    if (find) {
        do {
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                dumps.push_back({data.cFileName, ToUlong64(data.nFileSizeHigh, data.nFileSizeLow), data.ftLastWriteTime});
            }
        } while (::FindNextFileA(find.get(), &data));
    }
    std::sort(dumps.begin(), dumps.end(),
              [](const SDump& a, const SDump& b) { return ::CompareFileTime(&a.written, &b.written) > 0; });
    return dumps;
}

} // namespace

void CExtendedEvidence::ReportMinidumps(IReporter& out)
{
    const char* label = "Minidumps";
    if (!Proceed(out, label)) {
        return;
    }
    const std::string folder = MinidumpFolder();
    if (!IsDirectory(folder)) {
        out.Report("%s: no folder %s", label, folder.c_str());
        return;
    }
    const std::vector<SDump> dumps = ListDumps(folder);
    ULONGLONG cbCopied = 0;
    unsigned copied = 0;
    std::string notes;
    const size_t considered = std::min<size_t>(dumps.size(), m_settings.dwMinidumpCount);
    for (size_t i = 0; i < considered; ++i) {
        const SDump& dump = dumps[i];
        if (cbCopied + dump.cbSize > m_settings.cbDumpLimit) {
            notes += Format("; %s (%llu bytes) not copied, over the %llu bytes allowed for dumps", dump.name.c_str(),
                            static_cast<unsigned long long>(dump.cbSize),
                            static_cast<unsigned long long>(m_settings.cbDumpLimit));
            continue;
        }
        const ULONGLONG cbGranted = Claim(dump.cbSize);
        if (cbGranted < dump.cbSize) {
            Release(cbGranted);
            notes += Format("; %s (%llu bytes) not copied, over what is left of the section's %llu bytes",
                            dump.name.c_str(), static_cast<unsigned long long>(dump.cbSize),
                            static_cast<unsigned long long>(m_settings.cbSectionLimit));
            continue;
        }
        if (!::CopyFileA((folder + dump.name).c_str(), Target(dump.name.c_str()).c_str(), FALSE)) {
            const DWORD dwError = ::GetLastError();
            Release(dump.cbSize);
            notes += Format("; %s not copied (error %lu)", dump.name.c_str(), static_cast<unsigned long>(dwError));
            continue;
        }
        cbCopied += dump.cbSize;
        ++copied;
    }
    out.Report("%s: %u of the newest %u of %u copied from %s (%llu bytes)%s", label, copied,
               static_cast<unsigned>(considered), static_cast<unsigned>(dumps.size()), folder.c_str(),
               static_cast<unsigned long long>(cbCopied), notes.c_str());
}

std::string CExtendedEvidence::DescribeDumpHeader(const std::string& header)
{
    auto u32 = [&](size_t at) {
        DWORD value = 0;
        memcpy(&value, header.data() + at, 4);
        return static_cast<unsigned long>(value);
    };
    auto u64 = [&](size_t at) {
        ULONGLONG value = 0;
        memcpy(&value, header.data() + at, 8);
        return static_cast<unsigned long long>(value);
    };
    // The kernel's dump header: "PAGE" then "DU64" (64-bit) or "DUMP" (32-bit), the bugcheck code and
    // its four parameters at fixed offsets.
    if (header.size() >= 0x60 && header.compare(0, 8, "PAGEDU64") == 0) {
        return Format("0x%08lX (0x%016llX, 0x%016llX, 0x%016llX, 0x%016llX)", u32(0x38), u64(0x40), u64(0x48), u64(0x50),
                      u64(0x58));
    }
    if (header.size() >= 0x3C && header.compare(0, 8, "PAGEDUMP") == 0) {
        return Format("0x%08lX (0x%08lX, 0x%08lX, 0x%08lX, 0x%08lX)", u32(0x28), u32(0x2C), u32(0x30), u32(0x34), u32(0x38));
    }
    return std::string();
}

void CExtendedEvidence::ReportDumpBugchecks(IReporter& out)
{
    const char* label = "Minidump bugcheck codes";
    if (!Proceed(out, label)) {
        return;
    }
    const std::string folder = MinidumpFolder();
    const std::vector<SDump> dumps = ListDumps(folder);
    if (dumps.empty()) {
        out.Report("%s: no dumps in %s", label, folder.c_str());
        return;
    }
    std::string text;
    std::string summary;
    for (size_t i = 0; i < dumps.size() && i < 50; ++i) {
        std::string header;
        std::string described;
        if (ReadRange(folder + dumps[i].name, 0, 0x60, header) == ERROR_SUCCESS) {
            described = DescribeDumpHeader(header);
        }
        if (described.empty()) {
            described = "no kernel dump header";
        }
        text += dumps[i].name + "\t" + LocalTimeText(dumps[i].written) + "\t" + described + "\r\n";
        if (i < 5 && described.compare(0, 2, "0x") == 0) {
            summary += "; " + dumps[i].name + " " + described.substr(0, described.find(' '));
        }
    }
    WriteText(out, label, "minidump-bugchecks.txt", std::move(text), m_settings.cbTextLimit, false, summary, "");
}

void CExtendedEvidence::ReportKernelDump(IReporter& out)
{
    const char* label = "Kernel dump";
    if (!Proceed(out, label)) {
        return;
    }
    // CrashControl names the file; only its size and date are reported, never the file itself.
    std::string file = ReadRegistryText(m_settings.hControlSetRoot, ControlSetKey(L"Control\\CrashControl"), "DumpFile");
    if (file.empty()) {
        file = WindowsDirectory() + "MEMORY.DMP";
    }
    ULONGLONG cbSize = 0;
    FILETIME written;
    if (FileSize(file, cbSize, &written)) {
        out.Report("%s: %s, %llu bytes, written %s (not copied)", label, file.c_str(),
                   static_cast<unsigned long long>(cbSize), LocalTimeText(written).c_str());
    } else {
        out.Report("%s: none at %s", label, file.c_str());
    }
}

void CExtendedEvidence::ReportLiveKernelReports(IReporter& out)
{
    const char* label = "Live kernel reports";
    if (!Proceed(out, label)) {
        return;
    }
    const std::string root = WindowsDirectory() + "LiveKernelReports\\";
    if (!IsDirectory(root)) {
        out.Report("%s: no folder %s", label, root.c_str());
        return;
    }
    // Only listed: each report is a dump of up to hundreds of megabytes; the folder names (WATCHDOG,
    // NDIS, USBHUB3...) say which component asked for it.
    std::string text;
    std::map<std::string, unsigned> perFolder;
    unsigned files = 0;
    std::vector<std::string> pending{""};
    while (!pending.empty() && text.size() < m_settings.cbTextLimit) {
        const std::string relative = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAA data;
        kvx::UniqueFindHandle find(::FindFirstFileA((root + relative + "*").c_str(), &data));
        if (!find) {
            continue;
        }
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                pending.push_back(relative + name + "\\");
                continue;
            }
            text += relative + name + "\t" +
                    std::to_string(static_cast<unsigned long long>(ToUlong64(data.nFileSizeHigh, data.nFileSizeLow))) +
                    " bytes\t" + LocalTimeText(data.ftLastWriteTime) + "\r\n";
            ++files;
            perFolder[relative.empty() ? std::string("(top)") : relative.substr(0, relative.find('\\'))]++;
        } while (::FindNextFileA(find.get(), &data));
    }
    std::string summary = Format("; %u files", files);
    for (const auto& entry : perFolder) {
        summary += Format(", %s %u", entry.first.c_str(), entry.second);
    }
    if (files == 0) {
        out.Report("%s: none in %s", label, root.c_str());
        return;
    }
    WriteText(out, label, "LiveKernelReports.txt", std::move(text), m_settings.cbTextLimit, false, summary, "");
}

std::vector<SExtendedItem> CExtendedEvidence::SetupLogItems()
{
    const std::string inf = WindowsDirectory() + "INF\\";
    return {
        {"Device setup log (setupapi.dev.log)",
         [this, inf](IReporter& out) {
             CopyTextFile(out, "Device setup log (setupapi.dev.log)", inf + "setupapi.dev.log", "setupapi.dev.log");
         }},
        {"Application setup log (setupapi.app.log)",
         [this, inf](IReporter& out) {
             CopyTextFile(out, "Application setup log (setupapi.app.log)", inf + "setupapi.app.log", "setupapi.app.log");
         }},
    };
}

void CExtendedEvidence::ReportProductDrivers(IReporter& out)
{
    const char* label = "Product drivers";
    if (!Proceed(out, label)) {
        return;
    }
    static const char* const drivers[] = {"KVXTMGR", "KVXNMGR", "KVXIMD", "KVXMON", "KVXFLTA",
                                          "KVXFLTB", "KVXFLTC", "KVXFLTD", "KVXFLTE", "KVXFLTF"};
    std::string windows = WindowsDirectory();
    if (!windows.empty()) {
        windows.pop_back();
    }
    std::vector<SDriverFacts> facts;
    for (const char* driver : drivers) {
        facts.push_back(CExtendedEvidenceDrivers::Service(driver, m_settings.hControlSetRoot, ControlSetKey(L"Services"),
                                                          windows, NativeSystemDirectory()));
    }
    // The SDK is the file the SDK adapters load.
    std::string sdk = m_settings.strSdkPath;
    if (sdk.empty() && CKVXApiFactory::GetLibraryPath(sdk) != KVXDIAG2_OK) {
        sdk.clear();
    }
    facts.push_back(CExtendedEvidenceDrivers::File("SDK", sdk));
    WriteText(out, label, "product-drivers.txt", CExtendedEvidenceDrivers::Table(facts), m_settings.cbTextLimit, false,
              CExtendedEvidenceDrivers::Summary(facts), "");
}
