// Every change either program makes to the machine is written down here before it is made, and put
// back from what was written down. The journal lives in a key of its own beside the tool's key
// (which a finished run deletes whole, and older versions of the tool too), in the 32-bit view so that
// both builds share it:
//
//   <vendor>\Orvex Network Manager\KVXDIAG2Journal
//       FormatVersion   REG_DWORD  layout of what follows; a newer layout is left alone
//       AwaitingReboot  REG_DWORD  the programs whose run waits for its reboot (bits of EJournalParty)
//       BootMarker\     volatile key made with that mark: it does not survive a boot
//       Entries\<kind>.<target>
//           Kind, Owner, Sequence                    REG_DWORD
//           Target, OriginalText, Detail, KeptOn     REG_SZ
//           HadOriginal, Original, Kept              REG_DWORD
//
// Write-ahead: an entry is flushed to disk before the change it describes is made, because a filter
// driver under test can stop the machine at any moment. It is forgotten only once its undo succeeded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvx {

enum EJournalKind : DWORD {
    eJournalKind_SERVICE_START = 1,     // Target: service name. Original: its "Start" value.
    eJournalKind_FILE_NAME = 2,         // Target: the file's own path. Detail: the name it was moved to.
    eJournalKind_AUTOSTART = 3,         // Target: the Run value's name. OriginalText: its data, if any.
    eJournalKind_BINDING = 4,           // Target: component and binding path. Original: 1 enabled, 0 not.
    eJournalKind_PLUGIN_FILTER = 5,     // Target: filter name. Original: 1 enabled, 0 not.
    eJournalKind_LOGS_AND_CAPTURES = 6, // Target: fixed name. Detail: the directory the files go to.
};

// Who makes a change, and therefore who can put it back: the wizard owns the antivirus's and its own
// autostart changes; the core owns the product's, by the analysis that made them.
enum EJournalOwner : DWORD {
    eJournalOwner_WIZARD = 1,
    eJournalOwner_BASIC_ANALYSIS = 2,
    eJournalOwner_DEEP_ANALYSIS = 3,
};

// The two programs, as bits of the reboot mark.
enum EJournalParty : DWORD {
    eJournalParty_WIZARD = 1,
    eJournalParty_CORE = 2,
    eJournalParty_BOTH = 3,
};

enum EJournalRebootOutcome {
    eJournalReboot_NONE,        // no run of this program was waiting for a reboot
    eJournalReboot_HAPPENED,    // it was, and the machine has booted since
    eJournalReboot_INTERRUPTED, // it was, but no boot came: the reboot was refused or failed
};

struct SJournalEntry {
    DWORD kind = 0;
    DWORD owner = 0;
    std::wstring target;
    bool hadOriginal = true; // false: the changed thing did not exist before (a value, a file)
    DWORD original = 0;
    std::wstring originalText;
    std::wstring detail;
    bool kept = false;       // the user keeps this change; it is not put back by a replay
    std::wstring keptOn;     // when it was kept, dd-mm-yyyy
    DWORD sequence = 0;      // order of recording: undone newest first
};

class CChangeJournal {
public:
    static constexpr DWORD FORMAT_VERSION = 1;

    // Writes the entry and flushes it. An entry already journaled for the same kind and target keeps its
    // original (the first record is the machine's own state; a later one would be the tool's), and then
    // bCreated is false. Fails when the journal cannot be written; the change must then not be made.
    static DWORD Record(const SJournalEntry& entry, bool* pbCreated = nullptr);
    static DWORD Forget(DWORD kind, const std::wstring& target);
    static DWORD SetKept(DWORD kind, const std::wstring& target, bool bKept);
    static bool Find(DWORD kind, const std::wstring& target, SJournalEntry& entry);
    // Every readable entry, newest first. A damaged entry is left where it is and skipped.
    static std::vector<SJournalEntry> Entries();

    // Record, then the change; a change that fails leaves no entry of its own behind. pbRecorded tells a
    // caller whether a failure came from the journal (the change was then not attempted).
    template <typename TChange>
    static DWORD Apply(const SJournalEntry& entry, TChange change, bool* pbRecorded = nullptr)
    {
        bool bCreated = false;
        DWORD dwResult = Record(entry, &bCreated);
        if (pbRecorded != nullptr) {
            *pbRecorded = dwResult == ERROR_SUCCESS;
        }
        if (dwResult != ERROR_SUCCESS) {
            return dwResult;
        }
        KillPoint("before change");
        dwResult = change();
        KillPoint("after change");
        if (dwResult != ERROR_SUCCESS && bCreated) {
            Forget(entry.kind, entry.target);
        }
        return dwResult;
    }

    // Puts one entry back with the caller's undo, and forgets it only when that succeeded.
    template <typename TUndo>
    static DWORD Undo(const SJournalEntry& entry, TUndo undo)
    {
        KillPoint("before undo");
        const DWORD dwResult = undo(entry);
        KillPoint("after undo");
        if (dwResult == ERROR_SUCCESS) {
            return Forget(entry.kind, entry.target);
        }
        return dwResult;
    }

    // Called just before ExitWindowsEx: the named programs' runs now wait for that boot.
    static DWORD MarkAwaitingReboot(DWORD dwParties);
    // Called once at the start of a program: what became of its run's reboot. The program's bit of the
    // mark is cleared, so the answer is given once.
    static EJournalRebootOutcome TakeRebootOutcome(DWORD dwParty);
    // Whether the program's run still waits for a reboot that has not come.
    static bool IsAwaitingReboot(DWORD dwParty);

    // Today, as the kept entries' date.
    static std::wstring Today();

    // The test build's way to end the process at every change point; nothing in the shipped build.
    static void KillPoint(const char* pszWhere);
};

std::wstring WidenAscii(const std::string& text);

} // namespace kvx
