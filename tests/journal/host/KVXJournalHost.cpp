// The caller of the exports in one run of a crash-consistency scenario: it loads the core beside it by
// full path (the copy with kill points), answers every question from a script on its command line and
// writes what happened to a file, line by line and flushed, because the run may be ended at any change.
// A console program, so that the end of session a deep step's reboot causes under Wine leaves it alone.
//
//   kvxjournalhost.exe init  --out FILE
//       _0003_ then _0001_: the start that replays what an ended run left behind
//   kvxjournalhost.exe basic --out FILE --answers 4,4,3 [--cancel 1]
//       a basic analysis; each question (1) takes the next answer, 4 once the list is used up
//   kvxjournalhost.exe deep  --out FILE --ask 3:3,8:4 [--reboot 1] [--cancel 1]
//       one deep-analysis run; the user question (14) is answered by the step _0003_ reported (4 when
//       the step is not listed), the reboot question (13) with --reboot
//   kvxjournalhost.exe resume --out FILE --ask ... [--ask-default N] [--reboot N] [--cancel 1]
//       the same run, but only when _0003_ reports a pending deep analysis; otherwise _0001_ alone
//   --cancel 1 calls _0005_ for the job once it has ended, as the wizard's Cancel does after answering 5
//
// Output lines: "INIT rc=R pending=P step=S", "JOB rc=R id=I", "NOTIFY code=C answer=A text=T",
// "CANCEL rc=R", "END rc=R". Exit code 0 once the run got through, 2 when the core could not be used.
#include <windows.h>

#include "common/win/ProcAddress.h"
#include "common/win/UniqueHandles.h"
#include "core/interface/KVXDiagTypes.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>

namespace {

constexpr DWORD HOST_FIRST_NOTIFY_TIMEOUT_MS = 60000;
constexpr DWORD HOST_JOB_TIMEOUT_MS = 600000;

struct SOptions {
    std::string mode;
    std::string out;
    std::deque<int> answers;
    std::map<int, int> askByStep;
    int askDefault = eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED;
    int reboot = eKVXDIAG2NotifyRet_REBOOT_ACCEPTED;
    bool cancel = false;
};

struct SHost {
    FILE* out = nullptr;
    SOptions options;
    int step = 0;
    CRITICAL_SECTION lock;
    kvx::UniqueHandle firstNotify;
    kvx::UniqueHandle jobThread; // the job's own thread, taken in its first notification
};

SHost g_host;

void WriteLine(const std::string& line)
{
    kvx::CCriticalSectionLock guard(g_host.lock);
    if (g_host.out != nullptr) {
        std::fputs(line.c_str(), g_host.out);
        std::fputc('\n', g_host.out);
        std::fflush(g_host.out);
    }
}

std::string Number(unsigned long value)
{
    return std::to_string(value);
}

int WINAPI Callback(DWORD dwCode, KVXDIAG2_CONTEXT, const char* pszText, DWORD, ULONG_PTR)
{
    int answer = 0;
    {
        kvx::CCriticalSectionLock guard(g_host.lock);
        if (!g_host.jobThread) {
            ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                              g_host.jobThread.put(), SYNCHRONIZE, FALSE, 0);
            ::SetEvent(g_host.firstNotify.get());
        }
        if (dwCode == eKVXDIAG2Notify_FILTER_DISABLED) {
            answer = eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED;
            if (!g_host.options.answers.empty()) {
                answer = g_host.options.answers.front();
                g_host.options.answers.pop_front();
            }
        } else if (dwCode == eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK) {
            const auto found = g_host.options.askByStep.find(g_host.step);
            answer = found != g_host.options.askByStep.end() ? found->second : g_host.options.askDefault;
        } else if (dwCode == eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT) {
            answer = g_host.options.reboot;
        }
    }
    WriteLine("NOTIFY code=" + Number(dwCode) + " answer=" + std::to_string(answer) +
              " text=" + (pszText != nullptr ? pszText : ""));
    return answer;
}

// "a,b,c" as integers; "s:a,t:b" as pairs.
bool ParseList(const char* text, std::deque<int>& values)
{
    for (const char* p = text; *p != '\0';) {
        char* end = nullptr;
        values.push_back(static_cast<int>(std::strtol(p, &end, 10)));
        if (end == p) {
            return false;
        }
        p = *end == ',' ? end + 1 : end;
    }
    return true;
}

bool ParsePairs(const char* text, std::map<int, int>& pairs)
{
    for (const char* p = text; *p != '\0';) {
        char* end = nullptr;
        const int key = static_cast<int>(std::strtol(p, &end, 10));
        if (end == p || *end != ':') {
            return false;
        }
        p = end + 1;
        pairs[key] = static_cast<int>(std::strtol(p, &end, 10));
        if (end == p) {
            return false;
        }
        p = *end == ',' ? end + 1 : end;
    }
    return true;
}

bool ParseOptions(int argc, char** argv, SOptions& options)
{
    if (argc < 2) {
        return false;
    }
    options.mode = argv[1];
    for (int index = 2; index + 1 < argc; index += 2) {
        const std::string name = argv[index];
        const char* value = argv[index + 1];
        bool ok = true;
        if (name == "--out") {
            options.out = value;
        } else if (name == "--answers") {
            ok = ParseList(value, options.answers);
        } else if (name == "--ask") {
            ok = ParsePairs(value, options.askByStep);
        } else if (name == "--ask-default") {
            options.askDefault = std::atoi(value);
        } else if (name == "--reboot") {
            options.reboot = std::atoi(value);
        } else if (name == "--cancel") {
            options.cancel = std::atoi(value) != 0;
        } else {
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    return (argc % 2) == 0 && !options.out.empty() &&
           (options.mode == "init" || options.mode == "basic" || options.mode == "deep" || options.mode == "resume");
}

std::wstring CoreBesideThisProgram()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"KVXDiagCore.dll";
}

int Run()
{
    const std::wstring corePath = CoreBesideThisProgram();
    kvx::UniqueModule core(::LoadLibraryExW(corePath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!core) {
        WriteLine("END rc=" + Number(::GetLastError()));
        return 2;
    }
    const auto finish = kvx::GetProc<PFN_KVXDIAG2_FINISH>(core.get(), "_0001_");
    const auto registerCallback = kvx::GetProc<PFN_KVXDIAG2_REGISTER>(core.get(), "_0002_");
    const auto init = kvx::GetProc<PFN_KVXDIAG2_INIT>(core.get(), "_0003_");
    const auto deep = kvx::GetProc<PFN_KVXDIAG2_DEEP>(core.get(), "_0004_");
    const auto cancel = kvx::GetProc<PFN_KVXDIAG2_CANCEL>(core.get(), "_0005_");
    const auto basic = kvx::GetProc<PFN_KVXDIAG2_BASIC>(core.get(), "_0006_");
    if (!finish || !registerCallback || !init || !deep || !cancel || !basic) {
        WriteLine("END rc=127");
        return 2;
    }
    int pending = -1;
    int step = -1;
    const DWORD initRc = init(&pending, &step);
    g_host.step = step;
    WriteLine("INIT rc=" + Number(initRc) + " pending=" + std::to_string(pending) + " step=" + std::to_string(step));
    if (initRc != ERROR_SUCCESS || g_host.options.mode == "init" || (g_host.options.mode == "resume" && pending != 1)) {
        const DWORD endRc = finish();
        WriteLine("END rc=" + Number(initRc != ERROR_SUCCESS ? initRc : endRc));
        return 0;
    }
    registerCallback(&Callback, 0x4B56);
    int jobId = 0;
    const DWORD jobRc = g_host.options.mode == "basic" ? basic(&jobId) : deep(&jobId);
    WriteLine("JOB rc=" + Number(jobRc) + " id=" + std::to_string(jobId));
    DWORD endRc = jobRc;
    if (jobRc == ERROR_SUCCESS) {
        if (::WaitForSingleObject(g_host.firstNotify.get(), HOST_FIRST_NOTIFY_TIMEOUT_MS) != WAIT_OBJECT_0 ||
            ::WaitForSingleObject(g_host.jobThread.get(), HOST_JOB_TIMEOUT_MS) != WAIT_OBJECT_0) {
            endRc = WAIT_TIMEOUT;
        }
        if (g_host.options.cancel) {
            WriteLine("CANCEL rc=" + Number(cancel(jobId)));
        }
    }
    registerCallback(nullptr, 0);
    const DWORD finishRc = finish();
    WriteLine("END rc=" + Number(endRc != ERROR_SUCCESS ? endRc : finishRc));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    ::InitializeCriticalSection(&g_host.lock);
    if (!ParseOptions(argc, argv, g_host.options)) {
        std::fprintf(
            stderr,
            "usage: kvxjournalhost.exe init|basic|deep|resume --out FILE [--answers a,b] [--ask step:answer,...] "
            "[--reboot N] [--cancel 1]\n");
        return 1;
    }
    g_host.out = std::fopen(g_host.options.out.c_str(), "w");
    if (g_host.out == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", g_host.options.out.c_str());
        return 1;
    }
    g_host.firstNotify.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const int rc = Run();
    g_host.jobThread.reset();
    std::fclose(g_host.out);
    return rc;
}
