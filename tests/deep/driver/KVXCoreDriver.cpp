// A console stand-in for the wizard, one process per "boot": it loads KVXDiagCore.dll by name, reads
// the resume state through _0003_, runs one job, answers the questions from its command line and
// writes every notification to a file, which the chain tests read after each boot. Being a console
// program without windows, it survives the end of session that a reboot causes under Wine.
//
//   kvxcoredriver.exe deep --out FILE [--ask N] [--reboot N]
//       one deep-analysis run; N answers the user question (14) and the reboot question (13)
//   kvxcoredriver.exe pack --out FILE --dest PACKAGE [--seed DIR]
//       pack and send into PACKAGE; --seed first copies DIR's files into the results directory
//   kvxcoredriver.exe init --out FILE
//       _0003_ only
//   kvxcoredriver.exe basic --out FILE --hold N
//       a basic analysis answered "not fixed"; at the Nth question it sets the event
//       "KVXCoreDriverHolding" and never answers, so that the test can kill the process there
//   --cancel 1 (deep, pack) releases the ended job with _0005_ (the user's cancel) before _0001_
//   kvxcoredriver.exe --autostarted
//       what the autostart batch file runs after a "reboot": signals the waiting test and ends
//
// Output lines: "INIT rc=R pending=P step=S", "RESULTS dir=D", "JOB rc=R id=I",
// "NOTIFY code=C size=Z value=V answer=A text=T", "ELAPSED ms=M", "END rc=R".
#include <windows.h>

#include "common/win/ProcAddress.h"
#include "common/win/UniqueHandles.h"
#include "core/interface/KVXDiagTypes.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* KVXDRIVER_AUTOSTART_EVENT = "KVXCoreDriverAutostarted";
constexpr const char* KVXDRIVER_HOLDING_EVENT = "KVXCoreDriverHolding";
constexpr DWORD KVXDRIVER_FIRST_NOTIFY_TIMEOUT_MS = 60000;
constexpr DWORD KVXDRIVER_JOB_TIMEOUT_MS = 600000;

struct SOptions {
    std::string mode;
    std::string out;
    std::string dest;
    std::string seed;
    int ask = eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED;
    int reboot = eKVXDIAG2NotifyRet_REBOOT_ACCEPTED;
    int hold = 0;
    int cancel = 0;
};

struct SDriverState {
    FILE* out = nullptr;
    SOptions options;
    CRITICAL_SECTION lock;
    kvx::UniqueHandle firstNotify;
    kvx::UniqueHandle jobThread; // duplicated by the callback on the job's own thread
    DWORD startTick = 0;
    int questions = 0;
};

SDriverState g_state;

void WriteLine(const std::string& line)
{
    kvx::CCriticalSectionLock guard(g_state.lock);
    if (g_state.out != nullptr) {
        fputs(line.c_str(), g_state.out);
        fputc('\n', g_state.out);
        fflush(g_state.out);
    }
}

std::string Format(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
        vsnprintf(&text[0], text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

int WINAPI Callback(DWORD dwCode, KVXDIAG2_CONTEXT, const char* pszText, DWORD dwSize, ULONG_PTR data)
{
    {
        kvx::CCriticalSectionLock guard(g_state.lock);
        if (!g_state.jobThread) {
            ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                              g_state.jobThread.put(), SYNCHRONIZE, FALSE, 0);
            ::SetEvent(g_state.firstNotify.get());
        }
    }
    int answer = 0;
    if (dwCode == eKVXDIAG2Notify_FILTER_DISABLED) {
        answer = eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED;
        if (++g_state.questions == g_state.options.hold) {
            WriteLine("HOLD");
            kvx::UniqueHandle holding(::CreateEventA(nullptr, TRUE, FALSE, KVXDRIVER_HOLDING_EVENT));
            ::SetEvent(holding.get());
            kvx::UniqueHandle never(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
            ::WaitForSingleObject(never.get(), INFINITE);
        }
    } else if (dwCode == eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK) {
        answer = g_state.options.ask;
    } else if (dwCode == eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT) {
        answer = g_state.options.reboot;
    }
    const unsigned long value = dwSize == sizeof(DWORD) ? static_cast<unsigned long>(data) : 0;
    WriteLine(Format("NOTIFY code=%lu size=%lu value=%lu answer=%d text=%s", static_cast<unsigned long>(dwCode),
                     static_cast<unsigned long>(dwSize), value, answer, pszText != nullptr ? pszText : ""));
    if (dwCode == eKVXDIAG2Notify_PACKANDSEND_SUCCESS_FINISHED ||
        dwCode == eKVXDIAG2Notify_PACKANDSEND_UNSUCCESS_FINISHED) {
        WriteLine(Format("ELAPSED ms=%lu", static_cast<unsigned long>(::GetTickCount() - g_state.startTick)));
    }
    return answer;
}

bool ParseOptions(int argc, char** argv, SOptions& options)
{
    if (argc < 2) {
        return false;
    }
    options.mode = argv[1];
    for (int index = 2; index < argc; ++index) {
        const std::string name = argv[index];
        if (index + 1 >= argc) {
            return false;
        }
        const char* value = argv[++index];
        if (name == "--out") {
            options.out = value;
        } else if (name == "--dest") {
            options.dest = value;
        } else if (name == "--seed") {
            options.seed = value;
        } else if (name == "--ask") {
            options.ask = atoi(value);
        } else if (name == "--reboot") {
            options.reboot = atoi(value);
        } else if (name == "--hold") {
            options.hold = atoi(value);
        } else if (name == "--cancel") {
            options.cancel = atoi(value);
        } else {
            return false;
        }
    }
    return !options.out.empty();
}

// Copies a tree below the results directory for the pack benchmark (files only; the packer does the
// rest). Answers false when something could not be copied.
bool CopyTree(const std::string& from, const std::string& to)
{
    ::CreateDirectoryA(to.c_str(), nullptr);
    WIN32_FIND_DATAA data;
    kvx::UniqueFindHandle find(::FindFirstFileA((from + "\\*").c_str(), &data));
    if (!find) {
        return false;
    }
    bool ok = true;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string source = from + "\\" + name;
        const std::string target = to + "\\" + name;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ok = CopyTree(source, target) && ok;
        } else {
            ok = ::CopyFileA(source.c_str(), target.c_str(), FALSE) != FALSE && ok;
        }
    } while (::FindNextFileA(find.get(), &data));
    return ok;
}

// The results directory of this run: the one stored for a pending analysis, else the newest
// "KVXDIAG2-Results*" of the temporary directory (the one _0003_ has just made).
std::string NewestResultsDirectory()
{
    char temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) {
        return std::string();
    }
    WIN32_FIND_DATAA data;
    kvx::UniqueFindHandle find(::FindFirstFileA((std::string(temp) + "KVXDIAG2-Results*").c_str(), &data));
    if (!find) {
        return std::string();
    }
    std::string best;
    FILETIME bestTime = {};
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (best.empty() || ::CompareFileTime(&data.ftCreationTime, &bestTime) > 0)) {
            best = std::string(temp) + data.cFileName;
            bestTime = data.ftCreationTime;
        }
    } while (::FindNextFileA(find.get(), &data));
    return best;
}

int SignalAutostart()
{
    kvx::UniqueHandle event(::OpenEventA(EVENT_MODIFY_STATE, FALSE, KVXDRIVER_AUTOSTART_EVENT));
    if (event) {
        ::SetEvent(event.get());
    }
    return 0;
}

int Run(const SOptions& options)
{
    kvx::UniqueModule core(::LoadLibraryA("KVXDiagCore.dll"));
    if (!core) {
        WriteLine(Format("END rc=%lu", static_cast<unsigned long>(::GetLastError())));
        return 2;
    }
    const auto finish = kvx::GetProc<PFN_KVXDIAG2_FINISH>(core.get(), "_0001_");
    const auto registerCallback = kvx::GetProc<PFN_KVXDIAG2_REGISTER>(core.get(), "_0002_");
    const auto init = kvx::GetProc<PFN_KVXDIAG2_INIT>(core.get(), "_0003_");
    const auto deep = kvx::GetProc<PFN_KVXDIAG2_DEEP>(core.get(), "_0004_");
    const auto cancel = kvx::GetProc<PFN_KVXDIAG2_CANCEL>(core.get(), "_0005_");
    const auto pack = kvx::GetProc<PFN_KVXDIAG2_PACK>(core.get(), "_0008_");
    const auto basic = kvx::GetProc<PFN_KVXDIAG2_BASIC>(core.get(), "_0006_");
    if (!finish || !registerCallback || !init || !deep || !cancel || !pack || !basic) {
        WriteLine("END rc=127");
        return 2;
    }
    int pending = -1;
    int step = -1;
    const DWORD initRc = init(&pending, &step);
    WriteLine(Format("INIT rc=%lu pending=%d step=%d", static_cast<unsigned long>(initRc), pending, step));
    if (initRc != 0 || options.mode == "init") {
        finish();
        WriteLine(Format("END rc=%lu", static_cast<unsigned long>(initRc)));
        return 0;
    }
    registerCallback(&Callback, 0x4B56);
    if (options.mode == "pack" && !options.seed.empty()) {
        const std::string results = NewestResultsDirectory();
        WriteLine(Format("RESULTS dir=%s", results.c_str()));
        if (results.empty() || !CopyTree(options.seed, results + "\\seed")) {
            WriteLine("END rc=3");
            finish();
            return 2;
        }
    }
    int jobId = 0;
    g_state.startTick = ::GetTickCount();
    const DWORD jobRc = options.mode == "pack"    ? pack(options.dest.c_str(), &jobId)
                        : options.mode == "basic" ? basic(&jobId)
                                                  : deep(&jobId);
    WriteLine(Format("JOB rc=%lu id=%d", static_cast<unsigned long>(jobRc), jobId));
    DWORD endRc = jobRc;
    if (jobRc == 0) {
        // The job's end is seen on its own thread, whose handle the first notification hands over.
        if (::WaitForSingleObject(g_state.firstNotify.get(), KVXDRIVER_FIRST_NOTIFY_TIMEOUT_MS) != WAIT_OBJECT_0) {
            endRc = WAIT_TIMEOUT;
        } else if (::WaitForSingleObject(g_state.jobThread.get(), KVXDRIVER_JOB_TIMEOUT_MS) != WAIT_OBJECT_0) {
            endRc = WAIT_TIMEOUT;
        }
        // A cancel of a deep analysis undoes it; an ended boot is released by _0001_ alone.
        if (options.cancel != 0) {
            cancel(jobId);
        }
    }
    registerCallback(nullptr, 0);
    finish();
    WriteLine(Format("END rc=%lu", static_cast<unsigned long>(endRc)));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "--autostarted") == 0) {
        return SignalAutostart();
    }
    ::InitializeCriticalSection(&g_state.lock);
    if (!ParseOptions(argc, argv, g_state.options)) {
        fprintf(stderr,
                "usage: kvxcoredriver.exe deep|pack|init --out FILE [--ask N] [--reboot N] [--dest F] "
                "[--seed DIR]\n");
        return 1;
    }
    g_state.out = fopen(g_state.options.out.c_str(), "w");
    if (g_state.out == nullptr) {
        fprintf(stderr, "cannot write %s\n", g_state.options.out.c_str());
        return 1;
    }
    g_state.firstNotify.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const int rc = Run(g_state.options);
    g_state.jobThread.reset();
    fclose(g_state.out);
    return rc;
}
