// The product's changes as journal entries: what the analyses switch on a customer's machine is written
// down in the change journal before it is switched, so that whichever way a run ends (a verdict, a
// cancel, a crash or a kill of the process) this run or the next one can put it back.
#pragma once

#include "common/journal/ChangeJournal.h"

#include <windows.h>

#include <string>
#include <vector>

namespace kvx {

constexpr const char* KVXDIAG2_JOURNAL_INTERMEDIATE = "KVXIMD";
constexpr const wchar_t* KVXDIAG2_JOURNAL_LOGS_TARGET = L"ModuleLogsAndCaptures";

// The "Start" value of a driver service; false when the key or the value is missing.
bool ReadServiceStart(const std::string& service, DWORD& dwStart);
// The same with the registry's code; bKeyMissing tells a service that is not installed.
DWORD QueryServiceStart(const std::string& service, DWORD& dwStart, bool& bKeyMissing);
DWORD WriteServiceStart(const std::string& service, DWORD dwStart);

// The entry for a driver the deep analysis switches: its service's start type, or for the intermediate
// driver its bindings (original 1: they were on).
SJournalEntry DriverEntry(const std::string& service, DWORD dwOriginal);
// The entry of a plug-in filter the basic analysis switches through the SDK, with its state before.
SJournalEntry FilterEntry(const std::string& filter, DWORD dwOriginalState);
SJournalEntry LogsEntry(DWORD dwOwner, const std::string& directory);

bool FindDriverEntry(const std::string& service, SJournalEntry& entry);
// The product's entries of one owner that a replay would put back (not kept), newest first.
std::vector<SJournalEntry> OpenEntries(DWORD dwOwner);
// The verdict keeps what is still off: the entries stay, marked kept, so a later run can put them back.
void KeepOpenEntries(DWORD dwOwner);

std::string NarrowAscii(const std::wstring& text);

// A stored step from 2 to 10 with a results directory: a deep analysis that continues at the next start.
bool IsDeepAnalysisPending();
// Removes the stored step, directory and TDI mark of a deep analysis that will not continue.
void ForgetResumeState();

// The switches of a step, written (and flushed) before its step is stored and removed once both are
// done; read back only for the step they were written for.
DWORD StorePendingSwitch(DWORD dwStep, const std::string& reactivate, const std::string& deactivate);
bool ReadPendingSwitch(DWORD dwStep, std::string& reactivate, std::string& deactivate);
void ForgetPendingSwitch();

constexpr const wchar_t* KVXDIAG2_JOURNAL_AUTOSTART = L"KVXDIAG2_AUTOSTART";
// The entry for the autostart value the core writes before a reboot; written in one registry view,
// it is deleted from both, since each view's Run key starts its own wizard at logon.
SJournalEntry AutostartEntry(DWORD dwOwner);
DWORD DeleteAutostartFromBothViews();

} // namespace kvx
