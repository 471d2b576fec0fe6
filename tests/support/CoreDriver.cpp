#include "tests/support/CoreDriver.h"


#include "common/win/RegistryView.h"
#include "core/interface/KVXDiagTypes.h"
#include "core/interface/ResumeState.h"
#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <sstream>

namespace kvxtest {

namespace {

constexpr const char* DRIVER_AUTOSTART_EVENT = "KVXCoreDriverAutostarted";
constexpr const char* RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* AUTOSTART_VALUE = "KVXDIAG2_AUTOSTART";

std::string ProgramDir()
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    const size_t slash = dir.find_last_of('\\');
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

std::string Quote(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    return "\"" + arg + "\"";
}

// "key=value key=value ... text=rest": the text runs to the end of the line.
std::string Field(const std::string& line, const std::string& name)
{
    const std::string token = " " + name + "=";
    const size_t start = line.find(token);
    if (start == std::string::npos) {
        return std::string();
    }
    const size_t from = start + token.size();
    if (name == "text" || name == "dir") {
        return line.substr(from);
    }
    const size_t end = line.find(' ', from);
    return line.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

DWORD Number(const std::string& text) { return static_cast<DWORD>(strtoul(text.c_str(), nullptr, 10)); }

void Parse(const std::string& contents, SDriverRun& run)
{
    std::istringstream stream(contents);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        run.lines.push_back(line);
        if (line.rfind("INIT ", 0) == 0) {
            run.initRc = Number(Field(line, "rc"));
            run.pending = atoi(Field(line, "pending").c_str());
            run.step = atoi(Field(line, "step").c_str());
        } else if (line.rfind("JOB ", 0) == 0) {
            run.jobRc = Number(Field(line, "rc"));
            run.jobId = atoi(Field(line, "id").c_str());
        } else if (line.rfind("NOTIFY ", 0) == 0) {
            SDriverNotification notification;
            notification.code = Number(Field(line, "code"));
            notification.size = Number(Field(line, "size"));
            notification.value = Number(Field(line, "value"));
            notification.answer = atoi(Field(line, "answer").c_str());
            notification.text = Field(line, "text");
            // The extension code (the Extended Data item begun) is not part of the documented sequence.
            if (notification.code != eKVXDIAG2Notify_EXTENDEDDATA_ITEM) {
                run.notifications.push_back(notification);
            }
        } else if (line.rfind("ELAPSED ", 0) == 0) {
            run.elapsedMs = Number(Field(line, "ms"));
        } else if (line.rfind("RESULTS ", 0) == 0) {
            run.resultsDir = Field(line, "dir");
        } else if (line.rfind("END ", 0) == 0) {
            run.endRc = Number(Field(line, "rc"));
            run.finished = true;
        }
    }
}

} // namespace

std::vector<DWORD> SDriverRun::Codes() const
{
    std::vector<DWORD> codes;
    for (const SDriverNotification& notification : notifications) {
        codes.push_back(notification.code);
    }
    return codes;
}

const SDriverNotification* SDriverRun::Find(DWORD code) const
{
    for (const SDriverNotification& notification : notifications) {
        if (notification.code == code) {
            return &notification;
        }
    }
    return nullptr;
}

std::string CoreDriverPath() { return ProgramDir() + "kvxcoredriver.exe"; }
std::string CoreDriverBatchPath() { return ProgramDir() + "kvxcoredriver.bat"; }

SDriverRun RunCoreDriver(const std::vector<std::string>& args, DWORD timeoutMs)
{
    // Every driver run stands for a boot. Wine's reboot keeps the wineserver, and so the volatile
    // registry keys a real boot clears; the journal's boot marker is one.
    SimulateBoot();
    SDriverRun run;
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(MAX_PATH, temp);
    std::ostringstream outName;
    outName << temp << "kvxcoredriver-" << ::GetCurrentProcessId() << "-" << ::GetTickCount() << ".txt";
    const std::string outFile = outName.str();
    ::DeleteFileA(outFile.c_str());

    std::string commandLine = Quote(CoreDriverPath());
    for (const std::string& arg : args) {
        commandLine += " " + Quote(arg);
    }
    commandLine += " --out " + Quote(outFile);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    if (!::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return run;
    }
    run.started = true;
    kvx::UniqueHandle processHandle(process.hProcess);
    kvx::UniqueHandle threadHandle(process.hThread);
    if (::WaitForSingleObject(processHandle.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(processHandle.get(), 259);
        ::WaitForSingleObject(processHandle.get(), 10000);
    }
    ::GetExitCodeProcess(processHandle.get(), &run.exitCode);
    Parse(ReadFileText(outFile), run);
    ::DeleteFileA(outFile.c_str());
    return run;
}

SResumeState ReadResumeState()
{
    SResumeState state;
    const REGSAM view = kvx::KVX_REGVIEW_VENDOR;
    state.keyExists = KeyExists(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, view);
    DWORD value = 0;
    if (GetDword(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, KVXDIAG2_RESUME_CURRENT_STEP, value, view)) {
        state.step = value;
    }
    std::string text;
    if (GetString(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, KVXDIAG2_RESUME_RESULTS_DIR, text, view)) {
        state.resultsDir = text;
    }
    state.tdiSuspicious =
        GetDword(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, KVXDIAG2_RESUME_TDI_SUSPICIOUS, value, view);
    state.ndisSuspicious =
        GetDword(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, KVXDIAG2_RESUME_NDIS_SUSPICIOUS, value, view);
    if (GetString(HKEY_LOCAL_MACHINE, RUN_KEY, AUTOSTART_VALUE, text)) {
        state.autostart = text;
    }
    return state;
}

void ClearResumeState()
{
    // The resume key is also the parent of the diagnostic log's configuration ("KVXDiag2\Log", the same
    // key to the case-blind registry), so only its own values go, and the key itself only when empty.
    kvx::UniqueHkey resume;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_ALL_ACCESS | kvx::KVX_REGVIEW_VENDOR,
                        resume.put()) == ERROR_SUCCESS) {
        for (const char* name : {KVXDIAG2_RESUME_CURRENT_STEP, KVXDIAG2_RESUME_RESULTS_DIR,
                                 KVXDIAG2_RESUME_TDI_SUSPICIOUS, KVXDIAG2_RESUME_NDIS_SUSPICIOUS,
                                 KVXDIAG2_RESUME_PENDING_STEP, KVXDIAG2_RESUME_PENDING_REACTIVATE,
                                 KVXDIAG2_RESUME_PENDING_DEACTIVATE}) {
            ::RegDeleteValueA(resume.get(), name);
        }
        resume.reset();
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, kvx::KVX_REGVIEW_VENDOR, 0);
    }
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        kvx::UniqueHkey run;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, RUN_KEY, 0, KEY_SET_VALUE | view, run.put()) == ERROR_SUCCESS) {
            ::RegDeleteValueA(run.get(), AUTOSTART_VALUE);
        }
    }
    ClearJournal();
}

void SimulateBoot()
{
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE,
                      L"SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2Journal\\BootMarker",
                      KEY_WOW64_32KEY, 0);
}

void ClearJournal()
{
    kvx::UniqueHkey product;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvex Software\\Orvex Network Manager", 0,
                        KEY_ALL_ACCESS | KEY_WOW64_32KEY, product.put()) == ERROR_SUCCESS) {
        ::RegDeleteTreeW(product.get(), L"KVXDIAG2Journal");
    }
}

DWORD RecordDriver(const std::string& service, DWORD dwStart)
{
    kvx::SJournalEntry entry;
    entry.kind = service == "KVXIMD" ? kvx::eJournalKind_BINDING : kvx::eJournalKind_SERVICE_START;
    entry.owner = kvx::eJournalOwner_DEEP_ANALYSIS;
    entry.target = kvx::WidenAscii(service);
    entry.original = dwStart;
    return kvx::CChangeJournal::Record(entry);
}

std::vector<kvx::SJournalEntry> OpenDeepEntries()
{
    std::vector<kvx::SJournalEntry> open;
    for (const kvx::SJournalEntry& entry : kvx::CChangeJournal::Entries()) {
        if (entry.owner == kvx::eJournalOwner_DEEP_ANALYSIS && !entry.kept) {
            open.push_back(entry);
        }
    }
    return open;
}

bool HasJournalEntries(DWORD dwOwner)
{
    for (const kvx::SJournalEntry& entry : kvx::CChangeJournal::Entries()) {
        if (entry.owner == dwOwner) {
            return true;
        }
    }
    return false;
}

bool StoreResumeState(DWORD step, const std::string& resultsDir, bool tdiSuspicious)
{
    const REGSAM view = kvx::KVX_REGVIEW_VENDOR;
    bool ok = SetDword(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, KVXDIAG2_RESUME_CURRENT_STEP, step, view) &&
        SetString(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, KVXDIAG2_RESUME_RESULTS_DIR, resultsDir, view);
    if (ok && tdiSuspicious) {
        ok = SetDword(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, KVXDIAG2_RESUME_TDI_SUSPICIOUS, 0, view);
    }
    return ok;
}

CAutostartWatch::CAutostartWatch() : m_event(::CreateEventA(nullptr, TRUE, FALSE, DRIVER_AUTOSTART_EVENT)) { }

void CAutostartWatch::Reset() { ::ResetEvent(m_event.get()); }

bool CAutostartWatch::Wait(DWORD timeoutMs) { return ::WaitForSingleObject(m_event.get(), timeoutMs) == WAIT_OBJECT_0; }

std::optional<DWORD> ServiceStart(const std::string& service)
{
    DWORD value = 0;
    if (!GetDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" + service, "Start", value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace kvxtest
