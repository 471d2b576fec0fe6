#include "core/jobs/UndoRecords.h"

#include <cstring>

#include "common/win/UniqueHandles.h"
#include "common/win/RegistryView.h"
#include "core/interface/KVXDiagTypes.h"
#include "core/interface/ResumeState.h"

namespace kvx {

bool ReadServiceStart(const std::string& service, DWORD& dwStart)
{
    bool bKeyMissing = false;
    return QueryServiceStart(service, dwStart, bKeyMissing) == ERROR_SUCCESS;
}

DWORD QueryServiceStart(const std::string& service, DWORD& dwStart, bool& bKeyMissing)
{
    UniqueHkey key;
    const LONG rc =
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, (KVXDIAG2_SERVICES_KEY + service).c_str(), 0, KEY_READ, key.put());
    bKeyMissing = rc == ERROR_FILE_NOT_FOUND;
    if (rc != ERROR_SUCCESS) {
        return static_cast<DWORD>(rc);
    }
    DWORD dwType = 0;
    DWORD dwValue = 0;
    DWORD dwSize = sizeof dwValue;
    const LONG query =
        ::RegQueryValueExA(key.get(), "Start", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &dwSize);
    if (query != ERROR_SUCCESS) {
        return static_cast<DWORD>(query);
    }
    if (dwType != REG_DWORD || dwSize != sizeof dwValue) {
        return ERROR_INVALID_DATA;
    }
    dwStart = dwValue;
    return ERROR_SUCCESS;
}

DWORD WriteServiceStart(const std::string& service, DWORD dwStart)
{
    UniqueHkey key;
    DWORD dwResult = static_cast<DWORD>(
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, (KVXDIAG2_SERVICES_KEY + service).c_str(), 0, KEY_SET_VALUE, key.put()));
    if (dwResult == ERROR_SUCCESS) {
        dwResult = static_cast<DWORD>(
            ::RegSetValueExA(key.get(), "Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwStart), sizeof dwStart));
    }
    if (dwResult == ERROR_SUCCESS) {
        dwResult = static_cast<DWORD>(::RegFlushKey(key.get()));
    }
    return dwResult;
}

SJournalEntry DriverEntry(const std::string& service, DWORD dwOriginal)
{
    SJournalEntry entry;
    entry.kind = service == KVXDIAG2_JOURNAL_INTERMEDIATE ? eJournalKind_BINDING : eJournalKind_SERVICE_START;
    entry.owner = eJournalOwner_DEEP_ANALYSIS;
    entry.target = WidenAscii(service);
    entry.original = dwOriginal;
    return entry;
}

SJournalEntry FilterEntry(const std::string& filter, DWORD dwOriginalState)
{
    SJournalEntry entry;
    entry.kind = eJournalKind_PLUGIN_FILTER;
    entry.owner = eJournalOwner_BASIC_ANALYSIS;
    entry.target = WidenAscii(filter);
    entry.original = dwOriginalState;
    return entry;
}

SJournalEntry LogsEntry(DWORD dwOwner, const std::string& directory)
{
    SJournalEntry entry;
    entry.kind = eJournalKind_LOGS_AND_CAPTURES;
    entry.owner = dwOwner;
    entry.target = KVXDIAG2_JOURNAL_LOGS_TARGET;
    entry.original = 0; // off
    entry.detail = WidenAscii(directory);
    return entry;
}

bool FindDriverEntry(const std::string& service, SJournalEntry& entry)
{
    const SJournalEntry probe = DriverEntry(service, 0);
    return CChangeJournal::Find(probe.kind, probe.target, entry);
}

std::vector<SJournalEntry> OpenEntries(DWORD dwOwner)
{
    std::vector<SJournalEntry> open;
    for (const SJournalEntry& entry : CChangeJournal::Entries()) {
        if (entry.owner == dwOwner && !entry.kept) {
            open.push_back(entry);
        }
    }
    return open;
}

void KeepOpenEntries(DWORD dwOwner)
{
    for (const SJournalEntry& entry : OpenEntries(dwOwner)) {
        CChangeJournal::SetKept(entry.kind, entry.target, true);
    }
}

SJournalEntry AutostartEntry(DWORD dwOwner)
{
    SJournalEntry entry;
    entry.kind = eJournalKind_AUTOSTART;
    entry.owner = dwOwner;
    entry.target = KVXDIAG2_JOURNAL_AUTOSTART;
    entry.hadOriginal = false;
    return entry;
}

DWORD DeleteAutostartFromBothViews()
{
    DWORD dwResult = ERROR_SUCCESS;
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        UniqueHkey run;
        LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                                  KEY_SET_VALUE | view, run.put());
        if (rc == ERROR_SUCCESS) {
            rc = ::RegDeleteValueW(run.get(), KVXDIAG2_JOURNAL_AUTOSTART);
        }
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            dwResult = static_cast<DWORD>(rc);
        }
    }
    return dwResult;
}

bool IsDeepAnalysisPending()
{
    UniqueHkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_READ | KVX_REGVIEW_VENDOR, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD dwStep = 0;
    DWORD dwType = 0;
    DWORD dwSize = sizeof dwStep;
    if (::RegQueryValueExA(key.get(), KVXDIAG2_RESUME_CURRENT_STEP, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwStep),
                           &dwSize) != ERROR_SUCCESS ||
        dwType != REG_DWORD || dwStep < 2 || dwStep > 10) {
        return false;
    }
    DWORD dwBytes = 0;
    return ::RegQueryValueExA(key.get(), KVXDIAG2_RESUME_RESULTS_DIR, nullptr, &dwType, nullptr, &dwBytes) ==
               ERROR_SUCCESS &&
           dwBytes > 1;
}

void ForgetResumeState()
{
    UniqueHkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_ALL_ACCESS | KVX_REGVIEW_VENDOR, key.put()) !=
        ERROR_SUCCESS) {
        return;
    }
    for (const char* pszValue :
         {KVXDIAG2_RESUME_CURRENT_STEP, KVXDIAG2_RESUME_RESULTS_DIR, KVXDIAG2_RESUME_TDI_SUSPICIOUS,
          KVXDIAG2_RESUME_PENDING_STEP, KVXDIAG2_RESUME_PENDING_REACTIVATE, KVXDIAG2_RESUME_PENDING_DEACTIVATE}) {
        ::RegDeleteValueA(key.get(), pszValue);
    }
    ::RegFlushKey(key.get());
}

DWORD StorePendingSwitch(DWORD dwStep, const std::string& reactivate, const std::string& deactivate)
{
    UniqueHkey key;
    DWORD dwResult = static_cast<DWORD>(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, nullptr,
                                                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | KVX_REGVIEW_VENDOR,
                                                          nullptr, key.put(), nullptr));
    const auto text = [&](const char* pszName, const std::string& value) {
        return static_cast<DWORD>(::RegSetValueExA(key.get(), pszName, 0, REG_SZ,
                                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                                   static_cast<DWORD>(value.size() + 1)));
    };
    if (dwResult == ERROR_SUCCESS) {
        dwResult = text(KVXDIAG2_RESUME_PENDING_REACTIVATE, reactivate);
    }
    if (dwResult == ERROR_SUCCESS) {
        dwResult = text(KVXDIAG2_RESUME_PENDING_DEACTIVATE, deactivate);
    }
    if (dwResult == ERROR_SUCCESS) {
        dwResult = static_cast<DWORD>(::RegSetValueExA(key.get(), KVXDIAG2_RESUME_PENDING_STEP, 0, REG_DWORD,
                                                       reinterpret_cast<const BYTE*>(&dwStep), sizeof dwStep));
    }
    if (dwResult == ERROR_SUCCESS) {
        dwResult = static_cast<DWORD>(::RegFlushKey(key.get()));
    }
    return dwResult;
}

bool ReadPendingSwitch(DWORD dwStep, std::string& reactivate, std::string& deactivate)
{
    UniqueHkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_READ | KVX_REGVIEW_VENDOR, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD dwPending = 0;
    DWORD dwType = 0;
    DWORD dwSize = sizeof dwPending;
    if (::RegQueryValueExA(key.get(), KVXDIAG2_RESUME_PENDING_STEP, nullptr, &dwType,
                           reinterpret_cast<BYTE*>(&dwPending), &dwSize) != ERROR_SUCCESS ||
        dwType != REG_DWORD || dwPending != dwStep) {
        return false;
    }
    const auto text = [&](const char* pszName, std::string& value) {
        DWORD dwBytes = 0;
        if (::RegQueryValueExA(key.get(), pszName, nullptr, &dwType, nullptr, &dwBytes) != ERROR_SUCCESS ||
            dwType != REG_SZ) {
            return false;
        }
        std::string buffer(dwBytes + 1, '\0');
        if (::RegQueryValueExA(key.get(), pszName, nullptr, nullptr, reinterpret_cast<BYTE*>(&buffer[0]), &dwBytes) !=
            ERROR_SUCCESS) {
            return false;
        }
        buffer.resize(strnlen(buffer.c_str(), buffer.size()));
        value = buffer;
        return true;
    };
    return text(KVXDIAG2_RESUME_PENDING_REACTIVATE, reactivate) && text(KVXDIAG2_RESUME_PENDING_DEACTIVATE, deactivate);
}

void ForgetPendingSwitch()
{
    UniqueHkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_ALL_ACCESS | KVX_REGVIEW_VENDOR, key.put()) !=
        ERROR_SUCCESS) {
        return;
    }
    for (const char* pszValue :
         {KVXDIAG2_RESUME_PENDING_STEP, KVXDIAG2_RESUME_PENDING_REACTIVATE, KVXDIAG2_RESUME_PENDING_DEACTIVATE}) {
        ::RegDeleteValueA(key.get(), pszValue);
    }
    ::RegFlushKey(key.get());
}

std::string NarrowAscii(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text) {
        narrow += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
    }
    return narrow;
}

} // namespace kvx
