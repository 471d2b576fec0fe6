// The chain tests' side of kvxcoredriver.exe (tests/deep/driver): one boot per process, its output
// parsed, and the resume state and autostart signal that the boots leave behind.
#pragma once

#include "common/journal/ChangeJournal.h"

#include "common/win/UniqueHandles.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kvxtest {

struct SDriverNotification {
    DWORD code = 0;
    DWORD size = 0;
    DWORD value = 0;
    int answer = 0;
    std::string text;
};

struct SDriverRun {
    bool started = false; // the process could be created
    bool finished = false; // it ended within the time-out and wrote its last line
    DWORD exitCode = 0;
    DWORD initRc = 0xFFFFFFFF;
    int pending = -1;
    int step = -1;
    DWORD jobRc = 0xFFFFFFFF;
    int jobId = 0;
    DWORD endRc = 0xFFFFFFFF;
    DWORD elapsedMs = 0;
    std::string resultsDir; // only with --seed
    std::vector<SDriverNotification> notifications;
    std::vector<std::string> lines;

    std::vector<DWORD> Codes() const;
    // The first notification with the code, or none.
    const SDriverNotification* Find(DWORD code) const;
};

std::string CoreDriverPath();
std::string CoreDriverBatchPath();

// Runs the driver with the arguments (the output file is added) and waits for it.
SDriverRun RunCoreDriver(const std::vector<std::string>& args, DWORD timeoutMs = 900000);

// The state a deep analysis keeps across reboots, as the registry holds it.
struct SResumeState {
    bool keyExists = false;
    std::optional<DWORD> step;
    std::optional<std::string> resultsDir;
    bool tdiSuspicious = false;
    bool ndisSuspicious = false;
    std::optional<std::string> autostart;
};
SResumeState ReadResumeState();
// Removes the resume key and the autostart value.
void ClearResumeState();
// The change journal: removed whole, or written as a deep analysis would have written it.
void ClearJournal();
// What a boot does to the journal: its volatile boot marker is gone.
void SimulateBoot();
DWORD RecordDriver(const std::string& service, DWORD dwStart);
std::vector<kvx::SJournalEntry> OpenDeepEntries();
bool HasJournalEntries(DWORD dwOwner);
// Writes a resume state as a run before a reboot would have left it.
bool StoreResumeState(DWORD step, const std::string& resultsDir, bool tdiSuspicious = false);

// Clears the resume state on construction and on destruction.
class CScopedResumeState {
public:
    CScopedResumeState() { ClearResumeState(); }
    ~CScopedResumeState() { ClearResumeState(); }
    CScopedResumeState(const CScopedResumeState&) = delete;
    CScopedResumeState& operator=(const CScopedResumeState&) = delete;
};

// The event the autostart batch file sets (through the driver) when a "reboot" ran the Run entries.
class CAutostartWatch {
public:
    CAutostartWatch();
    bool Valid() const { return m_event.valid(); }
    void Reset();
    bool Wait(DWORD timeoutMs);

private:
    kvx::UniqueHandle m_event;
};

// "Start" of a driver service, or none when the service key or value is missing.
std::optional<DWORD> ServiceStart(const std::string& service);

} // namespace kvxtest
