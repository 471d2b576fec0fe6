// A stand-in for KVXDiagCore.dll that the wizard's tests load instead of the real library. It sends
// the notification sequences of the three jobs the way the core does, takes its scenario from the
// environment, and writes a journal of every call and every answer that a test reads back.
//
// Environment:
//   KVXFAKE_JOURNAL        file the journal lines are appended to
//   KVXFAKE_PENDING_STEP   a deep analysis is pending at this step (initialisation answers pending 1)
//   KVXFAKE_DEEP           the deep job's notifications, comma-separated codes (13 and 14 are questions);
//                          "wN" pauses N ms (a cancel ends the job there)
//   KVXFAKE_ANSWER_DELAY_MS the job pauses this long after each answered question
//   KVXFAKE_BASIC_HOLD_MS  the basic job waits this long (cancellable) before its first question
//   KVXFAKE_PARALLEL       "1": the first question of the basic job comes from two threads at once
//   KVXFAKE_PACK_FAIL      "1": pack and send ends with notification 21
//
// Like the core, its start and its end put back (here: forget) every change of the machine's journal
// that the product's analyses made and that is not kept, and journal "replay at=... target=...".
#include "common/win/UniqueHandles.h"
#include "core/interface/KVXDiagTypes.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD FAKE_CANCEL_WAIT_MS = 30000;

struct SJob {
    int id = 0;
    int type = 0;
    std::string destination;
    kvx::UniqueHandle thread;
    kvx::UniqueHandle cancel;
};

std::mutex g_lock;
std::map<int, std::unique_ptr<SJob>> g_jobs;
int g_nextJobId = 0;
PFN_KVXDIAG2_NOTIFY g_callback = nullptr;
KVXDIAG2_CONTEXT g_context = 0;
bool g_initialised = false;

std::string Env(const char* name)
{
    char buffer[2048];
    const DWORD length = ::GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    return length > 0 && length < sizeof(buffer) ? std::string(buffer, length) : std::string();
}

double NowMs()
{
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Journal(const std::string& line)
{
    static std::mutex journalLock;
    const std::string path = Env("KVXFAKE_JOURNAL");
    if (path.empty()) {
        return;
    }
    std::lock_guard<std::mutex> guard(journalLock);
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "ab"), &std::fclose);
    if (!file) {
        return;
    }
    std::fprintf(file.get(), "%.3f %s thread=%lu\n", NowMs(), line.c_str(),
                 static_cast<unsigned long>(::GetCurrentThreadId()));
}

int Notify(const SJob& job, DWORD code, const std::string& text, DWORD size = 4, ULONG_PTR data = 0)
{
    std::ostringstream send;
    send << "send id=" << job.id << " code=" << code << " text=" << text;
    Journal(send.str());
    int answer = KVXDIAG2_NOTIFY_NOT_DELIVERED;
    if (g_callback != nullptr) {
        answer = g_callback(code, g_context, text.c_str(), size, data);
    }
    std::ostringstream got;
    got << "answer id=" << job.id << " code=" << code << " answer=" << answer;
    Journal(got.str());
    const bool question = code == eKVXDIAG2Notify_FILTER_DISABLED || code == eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK ||
                          code == eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT;
    const std::string delay = Env("KVXFAKE_ANSWER_DELAY_MS");
    if (question && !delay.empty()) {
        ::Sleep(static_cast<DWORD>(std::atoi(delay.c_str())));
    }
    return answer;
}

bool Cancelled(const SJob& job, DWORD waitMs)
{
    return ::WaitForSingleObject(job.cancel.get(), waitMs) == WAIT_OBJECT_0;
}

struct SParallelAsk {
    const SJob* job;
    std::string filter;
};

DWORD WINAPI ParallelAsk(LPVOID parameter)
{
    const auto* ask = static_cast<const SParallelAsk*>(parameter);
    Notify(*ask->job, eKVXDIAG2Notify_FILTER_DISABLED, ask->filter);
    return 0;
}

void RunBasic(const SJob& job)
{
    static const char* const kFilters[] = {"KVXFLTA", "KVXFLTB", "KVXFLTC", "KVXFLTD", "KVXFLTE", "KVXFLTF"};
    Notify(job, eKVXDIAG2Notify_BASICANALYSIS_BEGUN, "Job started");
    const std::string hold = Env("KVXFAKE_BASIC_HOLD_MS");
    if (!hold.empty() && Cancelled(job, static_cast<DWORD>(std::atoi(hold.c_str())))) {
        // Cancelled at the job's one cancellation point: nothing more is sent.
        Journal("cancelled-before-loop id=" + std::to_string(job.id));
        return;
    }
    if (Env("KVXFAKE_PARALLEL") == "1") {
        SParallelAsk first{&job, "KVXFLTA"};
        SParallelAsk second{&job, "KVXFLTB"};
        kvx::UniqueHandle threads[2] = {kvx::UniqueHandle(::CreateThread(nullptr, 0, ParallelAsk, &first, 0, nullptr)),
                                        kvx::UniqueHandle(::CreateThread(nullptr, 0, ParallelAsk, &second, 0, nullptr))};
        for (const kvx::UniqueHandle& thread : threads) {
            ::WaitForSingleObject(thread.get(), INFINITE);
        }
        Notify(job, eKVXDIAG2Notify_BASICANALYSIS_UNSUCCESS_FINISHED, "Job completed unsuccessed");
        Notify(job, eKVXDIAG2Notify_BASICANALYSIS_ENDED, "Job ended");
        return;
    }
    for (int index = 0; index < 6; ++index) {
        const int answer = Notify(job, eKVXDIAG2Notify_FILTER_DISABLED, kFilters[index]);
        if (answer == eKVXDIAG2NotifyRet_PROBLEM_FIXED) {
            Notify(job, eKVXDIAG2Notify_BASICANALYSIS_SUCCESS_FINISHED, kFilters[index]);
            Notify(job, eKVXDIAG2Notify_BASICANALYSIS_ENDED, "Job ended");
            return;
        }
        if (answer == eKVXDIAG2NotifyRet_EXITING) {
            ::Sleep(100);
            Notify(job, eKVXDIAG2Notify_BASICANALYSIS_CANCELLED, "Job cancelled by user");
            Notify(job, eKVXDIAG2Notify_BASICANALYSIS_ENDED, "Job ended");
            return;
        }
        SKVXDiag2Progress progress{sizeof(SKVXDiag2Progress), 6, static_cast<DWORD>(index + 1)};
        Notify(job, eKVXDIAG2Notify_BASICANALYSIS_IN_PROGRESS, "Progress", sizeof(progress),
               reinterpret_cast<ULONG_PTR>(&progress));
    }
    Notify(job, eKVXDIAG2Notify_BASICANALYSIS_UNSUCCESS_FINISHED, "Job completed unsuccessed");
    Notify(job, eKVXDIAG2Notify_BASICANALYSIS_ENDED, "Job ended");
}

void RunDeep(const SJob& job)
{
    std::stringstream codes(Env("KVXFAKE_DEEP"));
    std::string token;
    while (std::getline(codes, token, ',')) {
        if (!token.empty() && token[0] == 'w') {
            if (Cancelled(job, static_cast<DWORD>(std::atoi(token.c_str() + 1)))) {
                Journal("cancelled-while-waiting id=" + std::to_string(job.id));
                return;
            }
            continue;
        }
        const DWORD code = static_cast<DWORD>(std::atoi(token.c_str()));
        const char* text = code == eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK ? "KVXTMGR" : "Deep analysis";
        const int answer = Notify(job, code, text);
        const bool question = code == eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK ||
                              code == eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT;
        if (question && answer == eKVXDIAG2NotifyRet_EXITING) {
            Notify(job, eKVXDIAG2Notify_DEEPANALYSIS_CANCELLED, "Deep analysis cancelled", 4, ERROR_INVALID_PARAMETER);
            return;
        }
    }
}

void RunPack(const SJob& job)
{
    Notify(job, eKVXDIAG2Notify_PACKANDSEND_BEGUN, "Job started");
    Notify(job, eKVXDIAG2Notify_PACKANDSEND_IN_PROGRESS, "Building results file package...");
    if (Env("KVXFAKE_PACK_FAIL") == "1") {
        Notify(job, eKVXDIAG2Notify_PACKANDSEND_UNSUCCESS_FINISHED, "C:\\copy", 4, ERROR_WRITE_FAULT);
    } else {
        Notify(job, eKVXDIAG2Notify_PACKANDSEND_SUCCESS_FINISHED, job.destination);
    }
}

DWORD WINAPI JobThread(LPVOID parameter)
{
    const auto* job = static_cast<const SJob*>(parameter);
    Journal("job-start id=" + std::to_string(job->id) + " type=" + std::to_string(job->type));
    switch (job->type) {
    case eKVXDiag2Job_BASIC_ANALYSIS:
        RunBasic(*job);
        break;
    case eKVXDiag2Job_DEEP_ANALYSIS:
        RunDeep(*job);
        break;
    case eKVXDiag2Job_PACK_RESULTS:
        RunPack(*job);
        break;
    default:
        break;
    }
    Journal("job-end id=" + std::to_string(job->id));
    return 0;
}

DWORD Schedule(int type, int* pJobId, const std::string& destination)
{
    if (!g_initialised) {
        return KVXDIAG2_ERR_NOT_INITIALISED;
    }
    std::lock_guard<std::mutex> guard(g_lock);
    std::unique_ptr<SJob> job(new SJob);
    job->id = ++g_nextJobId;
    job->type = type;
    job->destination = destination;
    job->cancel.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (pJobId != nullptr) {
        *pJobId = job->id;
    }
    // The record is complete before its thread starts reading it.
    SJob* record = job.get();
    g_jobs[record->id] = std::move(job);
    record->thread.reset(::CreateThread(nullptr, 0, JobThread, record, 0, nullptr));
    return record->thread ? KVXDIAG2_OK : KVXDIAG2_ERR_CREATE_FAILED;
}

int RunningJobs()
{
    std::lock_guard<std::mutex> guard(g_lock);
    int running = 0;
    for (const auto& entry : g_jobs) {
        if (entry.second->thread && ::WaitForSingleObject(entry.second->thread.get(), 0) == WAIT_TIMEOUT) {
            ++running;
        }
    }
    return running;
}

// The journal's layout (a key per entry with "Owner", "Kept" and "Target"); the wizard owns 1.
void ReplayProductEntries(const char* pszWhen)
{
    const wchar_t* entriesKey = L"SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2Journal\\Entries";
    kvx::UniqueHkey entries;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, entriesKey, 0, KEY_READ | KEY_WOW64_32KEY, entries.put()) != ERROR_SUCCESS) {
        return;
    }
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[512];
        DWORD length = 512;
        if (::RegEnumKeyExW(entries.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    entries.reset();
    for (const std::wstring& name : names) {
        const std::wstring path = std::wstring(entriesKey) + L"\\" + name;
        DWORD owner = 0;
        DWORD kept = 0;
        kvx::UniqueHkey entry;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, entry.put()) !=
            ERROR_SUCCESS) {
            continue;
        }
        DWORD size = sizeof(DWORD);
        ::RegQueryValueExW(entry.get(), L"Owner", nullptr, nullptr, reinterpret_cast<BYTE*>(&owner), &size);
        size = sizeof(DWORD);
        ::RegQueryValueExW(entry.get(), L"Kept", nullptr, nullptr, reinterpret_cast<BYTE*>(&kept), &size);
        entry.reset();
        if (owner == 1 || kept != 0) {
            continue;
        }
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_32KEY, 0);
        Journal("replay at=" + std::string(pszWhen) + " target=" + std::string(name.begin(), name.end()));
    }
}

} // namespace

extern "C" {

DWORD WINAPI _0003_(int* pPending, int* pStep)
{
    if (g_initialised) {
        return KVXDIAG2_OK;
    }
    const std::string pending = Env("KVXFAKE_PENDING_STEP");
    const int step = pending.empty() ? 1 : std::atoi(pending.c_str());
    if (pPending != nullptr) {
        *pPending = pending.empty() ? 0 : 1;
    }
    if (pStep != nullptr) {
        *pStep = step;
    }
    g_initialised = true;
    ReplayProductEntries("init");
    // Like the core, a fresh start makes the results directory: the first free name of the series.
    if (pending.empty()) {
        char temp[MAX_PATH + 1];
        const DWORD length = ::GetTempPathA(sizeof(temp), temp);
        if (length > 0 && length < sizeof(temp)) {
            std::string directory = std::string(temp, length) + "KVXDIAG2-Results";
            while (::GetFileAttributesA(directory.c_str()) != INVALID_FILE_ATTRIBUTES) {
                directory += '_';
            }
            ::CreateDirectoryA(directory.c_str(), nullptr);
            Journal("results dir=" + directory);
        }
    }
    Journal("init pending=" + std::string(pending.empty() ? "0" : "1") + " step=" + std::to_string(step));
    return KVXDIAG2_OK;
}

DWORD WINAPI _0001_(void)
{
    Journal("end running=" + std::to_string(RunningJobs()));
    std::lock_guard<std::mutex> guard(g_lock);
    for (auto& entry : g_jobs) {
        if (entry.second->thread) {
            ::WaitForSingleObject(entry.second->thread.get(), FAKE_CANCEL_WAIT_MS);
        }
    }
    g_jobs.clear();
    g_initialised = false;
    ReplayProductEntries("end");
    return KVXDIAG2_OK;
}

DWORD WINAPI _0002_(PFN_KVXDIAG2_NOTIFY pfnCallback, KVXDIAG2_CONTEXT context)
{
    g_callback = pfnCallback;
    g_context = context;
    Journal(std::string("register callback=") + (pfnCallback != nullptr ? "1" : "0"));
    return KVXDIAG2_OK;
}

DWORD WINAPI _0006_(int* pJobId) { return Schedule(eKVXDiag2Job_BASIC_ANALYSIS, pJobId, std::string()); }

DWORD WINAPI _0004_(int* pJobId) { return Schedule(eKVXDiag2Job_DEEP_ANALYSIS, pJobId, std::string()); }

DWORD WINAPI _0008_(const char* pszDestination, int* pJobId)
{
    const std::string destination = pszDestination != nullptr ? pszDestination : "<null>";
    Journal("pack destination=" + destination);
    return Schedule(eKVXDiag2Job_PACK_RESULTS, pJobId, destination);
}

DWORD WINAPI _0005_(int jobId)
{
    std::unique_ptr<SJob> job;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        const auto found = g_jobs.find(jobId);
        if (found != g_jobs.end()) {
            job = std::move(found->second);
            g_jobs.erase(found);
        }
    }
    if (!job) {
        Journal("cancel id=" + std::to_string(jobId) + " rc=1168");
        return KVXDIAG2_ERR_NOT_FOUND;
    }
    ::SetEvent(job->cancel.get());
    const DWORD waited = ::WaitForSingleObject(job->thread.get(), FAKE_CANCEL_WAIT_MS);
    Journal("cancel id=" + std::to_string(jobId) + " rc=0 ended=" + (waited == WAIT_OBJECT_0 ? "1" : "0"));
    if (waited != WAIT_OBJECT_0) {
        // A job that did not stop keeps its record: its thread still reads it.
        static_cast<void>(job.release());
    }
    return KVXDIAG2_OK;
}

DWORD WINAPI _0007_(DWORD) { return static_cast<DWORD>(-1); }

} // extern "C"
