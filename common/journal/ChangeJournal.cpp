#include "common/journal/ChangeJournal.h"

#include "common/log/KVXDiagObject.h"
#include "common/win/UniqueHandles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kvx {

namespace {

constexpr const wchar_t* JOURNAL_KEY = L"SOFTWARE\\Orvex Software\\Orvex Network Manager\\KVXDIAG2Journal";
constexpr const wchar_t* ENTRIES = L"Entries";
constexpr const wchar_t* BOOT_MARKER = L"BootMarker";
constexpr const wchar_t* VALUE_VERSION = L"FormatVersion";
constexpr const wchar_t* VALUE_AWAITING = L"AwaitingReboot";
constexpr const wchar_t* VALUE_NEXT_SEQUENCE = L"NextSequence";
// Both builds share one journal; on a 32-bit system the flag is ignored.
constexpr REGSAM JOURNAL_VIEW = KEY_WOW64_32KEY;

void LogJournal(DWORD dwLevel, const char* pszFormat, const std::wstring& text, DWORD dwError)
{
    std::string narrow;
    for (wchar_t c : text) {
        narrow += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
    }
    CKVXDiagObject::WriteLog(dwLevel, KVXDIAG_LOG_MODULE, "kvx::CChangeJournal", pszFormat, narrow.c_str(),
                             static_cast<unsigned long>(dwError));
}

// Registry key names cannot hold a backslash; paths are targets too.
std::wstring EntryName(DWORD kind, const std::wstring& target)
{
    std::wstring name = std::to_wstring(kind) + L".";
    for (wchar_t c : target) {
        name += c == L'\\' ? L'/' : c;
    }
    return name;
}

DWORD OpenJournal(bool bCreate, REGSAM access, UniqueHkey& key)
{
    if (!bCreate) {
        return static_cast<DWORD>(
            ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, JOURNAL_KEY, 0, access | JOURNAL_VIEW, key.put()));
    }
    DWORD dwDisposition = 0;
    DWORD dwResult = static_cast<DWORD>(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, JOURNAL_KEY, 0, nullptr,
                                                          REG_OPTION_NON_VOLATILE, access | JOURNAL_VIEW, nullptr,
                                                          key.put(), &dwDisposition));
    if (dwResult == ERROR_SUCCESS && dwDisposition == REG_CREATED_NEW_KEY) {
        const DWORD dwVersion = CChangeJournal::FORMAT_VERSION;
        dwResult = static_cast<DWORD>(::RegSetValueExW(key.get(), VALUE_VERSION, 0, REG_DWORD,
                                                       reinterpret_cast<const BYTE*>(&dwVersion), sizeof dwVersion));
    }
    return dwResult;
}

// A journal written by a newer version of the tool is not ours to interpret or to undo.
bool IsReadableVersion(HKEY journal)
{
    DWORD dwVersion = 0;
    DWORD dwSize = sizeof dwVersion;
    DWORD dwType = 0;
    if (::RegQueryValueExW(journal, VALUE_VERSION, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwVersion), &dwSize) !=
            ERROR_SUCCESS ||
        dwType != REG_DWORD) {
        return true; // a key being created by a concurrent writer; its entries follow our layout
    }
    return dwVersion <= CChangeJournal::FORMAT_VERSION;
}

bool ReadDword(HKEY key, const wchar_t* pszName, DWORD& value)
{
    DWORD dwType = 0;
    DWORD dwSize = sizeof value;
    return ::RegQueryValueExW(key, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&value), &dwSize) ==
               ERROR_SUCCESS &&
           dwType == REG_DWORD && dwSize == sizeof value;
}

bool ReadText(HKEY key, const wchar_t* pszName, std::wstring& value)
{
    DWORD dwType = 0;
    DWORD dwSize = 0;
    if (::RegQueryValueExW(key, pszName, nullptr, &dwType, nullptr, &dwSize) != ERROR_SUCCESS || dwType != REG_SZ) {
        return false;
    }
    std::wstring buffer(dwSize / sizeof(wchar_t) + 1, L'\0');
    DWORD dwRead = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&buffer[0]), &dwRead) !=
        ERROR_SUCCESS) {
        return false;
    }
    buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
    value = buffer;
    return true;
}

DWORD WriteDword(HKEY key, const wchar_t* pszName, DWORD value)
{
    return static_cast<DWORD>(
        ::RegSetValueExW(key, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
}

DWORD WriteText(HKEY key, const wchar_t* pszName, const std::wstring& value)
{
    return static_cast<DWORD>(::RegSetValueExW(key, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

bool ReadEntry(HKEY key, SJournalEntry& entry)
{
    DWORD dwHad = 1;
    DWORD dwKept = 0;
    if (!ReadDword(key, L"Kind", entry.kind) || !ReadDword(key, L"Owner", entry.owner) ||
        !ReadText(key, L"Target", entry.target) || !ReadDword(key, L"HadOriginal", dwHad)) {
        return false;
    }
    entry.hadOriginal = dwHad != 0;
    ReadDword(key, L"Original", entry.original);
    ReadText(key, L"OriginalText", entry.originalText);
    ReadText(key, L"Detail", entry.detail);
    ReadDword(key, L"Kept", dwKept);
    entry.kept = dwKept != 0;
    ReadText(key, L"KeptOn", entry.keptOn);
    ReadDword(key, L"Sequence", entry.sequence);
    return true;
}

DWORD NextSequence(HKEY journal)
{
    DWORD dwNext = 1;
    ReadDword(journal, VALUE_NEXT_SEQUENCE, dwNext);
    WriteDword(journal, VALUE_NEXT_SEQUENCE, dwNext + 1);
    return dwNext;
}

// The journal key goes once it holds nothing: a run that put everything back leaves no trace.
void RemoveJournalIfEmpty()
{
    UniqueHkey journal;
    if (OpenJournal(false, KEY_READ, journal) != ERROR_SUCCESS) {
        return;
    }
    UniqueHkey entries;
    DWORD dwEntries = 0;
    if (::RegOpenKeyExW(journal.get(), ENTRIES, 0, KEY_READ | JOURNAL_VIEW, entries.put()) == ERROR_SUCCESS) {
        if (::RegQueryInfoKeyW(entries.get(), nullptr, nullptr, nullptr, &dwEntries, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return;
        }
    }
    DWORD dwAwaiting = 0;
    if (dwEntries != 0 || (ReadDword(journal.get(), VALUE_AWAITING, dwAwaiting) && dwAwaiting != 0)) {
        return;
    }
    entries.reset();
    journal.reset();
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(JOURNAL_KEY) + L"\\" + ENTRIES).c_str(), JOURNAL_VIEW, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(JOURNAL_KEY) + L"\\" + BOOT_MARKER).c_str(), JOURNAL_VIEW, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, JOURNAL_KEY, JOURNAL_VIEW, 0);
}

} // namespace

std::wstring WidenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

DWORD CChangeJournal::Record(const SJournalEntry& entry, bool* pbCreated)
{
    if (pbCreated != nullptr) {
        *pbCreated = false;
    }
    UniqueHkey journal;
    DWORD dwResult = OpenJournal(true, KEY_ALL_ACCESS, journal);
    if (dwResult == ERROR_SUCCESS && !IsReadableVersion(journal.get())) {
        dwResult = ERROR_REVISION_MISMATCH;
    }
    UniqueHkey key;
    DWORD dwDisposition = 0;
    if (dwResult == ERROR_SUCCESS) {
        const std::wstring path = std::wstring(ENTRIES) + L"\\" + EntryName(entry.kind, entry.target);
        dwResult = static_cast<DWORD>(::RegCreateKeyExW(journal.get(), path.c_str(), 0, nullptr,
                                                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | JOURNAL_VIEW,
                                                        nullptr, key.put(), &dwDisposition));
    }
    if (dwResult == ERROR_SUCCESS) {
        SJournalEntry existing;
        if (dwDisposition == REG_OPENED_EXISTING_KEY && ReadEntry(key.get(), existing)) {
            // The first record holds the machine's own state, and its owner is the one to put it back.
            // Recording the same change again renews only its detail, and a kept change that is
            // changed again is no longer kept.
            WriteText(key.get(), L"Detail", entry.detail);
            WriteDword(key.get(), L"Kept", 0);
        } else {
            const DWORD dwSequence = NextSequence(journal.get());
            const DWORD results[] = {
                WriteDword(key.get(), L"Kind", entry.kind),
                WriteDword(key.get(), L"Owner", entry.owner),
                WriteText(key.get(), L"Target", entry.target),
                WriteDword(key.get(), L"Original", entry.original),
                WriteText(key.get(), L"OriginalText", entry.originalText),
                WriteText(key.get(), L"Detail", entry.detail),
                WriteDword(key.get(), L"Kept", entry.kept ? 1 : 0),
                WriteText(key.get(), L"KeptOn", entry.keptOn),
                WriteDword(key.get(), L"Sequence", dwSequence),
                // Written last: an entry without it was cut short and is never undone from.
                WriteDword(key.get(), L"HadOriginal", entry.hadOriginal ? 1 : 0),
            };
            for (DWORD r : results) {
                if (r != ERROR_SUCCESS) {
                    dwResult = r;
                    break;
                }
            }
            if (pbCreated != nullptr && dwResult == ERROR_SUCCESS) {
                *pbCreated = true;
            }
        }
    }
    if (dwResult == ERROR_SUCCESS) {
        dwResult = static_cast<DWORD>(::RegFlushKey(key.get()));
    }
    if (dwResult != ERROR_SUCCESS) {
        LogJournal(eKVXDiagLog_ERROR, "Error! No se pudo registrar en el diario el cambio de %s. Error devuelto: %lu",
                   entry.target, dwResult);
    }
    return dwResult;
}

DWORD CChangeJournal::Forget(DWORD kind, const std::wstring& target)
{
    UniqueHkey entries;
    const std::wstring path = std::wstring(JOURNAL_KEY) + L"\\" + ENTRIES;
    DWORD dwResult = static_cast<DWORD>(
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | JOURNAL_VIEW, entries.put()));
    if (dwResult == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (dwResult == ERROR_SUCCESS) {
        dwResult = static_cast<DWORD>(
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (path + L"\\" + EntryName(kind, target)).c_str(), JOURNAL_VIEW, 0));
        if (dwResult == ERROR_FILE_NOT_FOUND) {
            dwResult = ERROR_SUCCESS;
        }
        ::RegFlushKey(entries.get());
    }
    if (dwResult != ERROR_SUCCESS) {
        LogJournal(eKVXDiagLog_ERROR, "Error! No se pudo borrar del diario el cambio de %s. Error devuelto: %lu",
                   target, dwResult);
        return dwResult;
    }
    entries.reset();
    RemoveJournalIfEmpty();
    return ERROR_SUCCESS;
}

DWORD CChangeJournal::SetKept(DWORD kind, const std::wstring& target, bool bKept)
{
    UniqueHkey key;
    const std::wstring path = std::wstring(JOURNAL_KEY) + L"\\" + ENTRIES + L"\\" + EntryName(kind, target);
    DWORD dwResult = static_cast<DWORD>(
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | JOURNAL_VIEW, key.put()));
    if (dwResult == ERROR_SUCCESS) {
        dwResult = WriteDword(key.get(), L"Kept", bKept ? 1 : 0);
    }
    if (dwResult == ERROR_SUCCESS) {
        dwResult = WriteText(key.get(), L"KeptOn", bKept ? Today() : std::wstring());
    }
    if (dwResult == ERROR_SUCCESS) {
        dwResult = static_cast<DWORD>(::RegFlushKey(key.get()));
    }
    return dwResult;
}

bool CChangeJournal::Find(DWORD kind, const std::wstring& target, SJournalEntry& entry)
{
    UniqueHkey key;
    const std::wstring path = std::wstring(JOURNAL_KEY) + L"\\" + ENTRIES + L"\\" + EntryName(kind, target);
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | JOURNAL_VIEW, key.put()) ==
               ERROR_SUCCESS &&
           ReadEntry(key.get(), entry) && entry.kind == kind;
}

std::vector<SJournalEntry> CChangeJournal::Entries()
{
    std::vector<SJournalEntry> result;
    UniqueHkey journal;
    if (OpenJournal(false, KEY_READ, journal) != ERROR_SUCCESS || !IsReadableVersion(journal.get())) {
        return result;
    }
    UniqueHkey entries;
    if (::RegOpenKeyExW(journal.get(), ENTRIES, 0, KEY_READ | JOURNAL_VIEW, entries.put()) != ERROR_SUCCESS) {
        return result;
    }
    for (DWORD index = 0;; ++index) {
        DWORD dwLength = 0;
        DWORD dwMaxLength = 0;
        if (::RegQueryInfoKeyW(entries.get(), nullptr, nullptr, nullptr, nullptr, &dwMaxLength, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        std::wstring name(dwMaxLength + 1, L'\0');
        dwLength = static_cast<DWORD>(name.size());
        const LONG rc = ::RegEnumKeyExW(entries.get(), index, &name[0], &dwLength, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS) {
            continue;
        }
        name.resize(dwLength);
        UniqueHkey key;
        SJournalEntry entry;
        if (::RegOpenKeyExW(entries.get(), name.c_str(), 0, KEY_READ | JOURNAL_VIEW, key.put()) != ERROR_SUCCESS ||
            !ReadEntry(key.get(), entry) || EntryName(entry.kind, entry.target) != name) {
            LogJournal(eKVXDiagLog_ERROR, "Entrada del diario dañada: %s, se ignora. (%lu)", name, 0);
            continue;
        }
        result.push_back(entry);
    }
    std::sort(result.begin(), result.end(),
              [](const SJournalEntry& a, const SJournalEntry& b) { return a.sequence > b.sequence; });
    return result;
}

DWORD CChangeJournal::MarkAwaitingReboot(DWORD dwParties)
{
    UniqueHkey journal;
    DWORD dwResult = OpenJournal(true, KEY_ALL_ACCESS, journal);
    UniqueHkey marker;
    if (dwResult == ERROR_SUCCESS) {
        // Volatile: the key lives in memory only, so its absence at the next start proves a boot.
        dwResult = static_cast<DWORD>(::RegCreateKeyExW(journal.get(), BOOT_MARKER, 0, nullptr, REG_OPTION_VOLATILE,
                                                        KEY_ALL_ACCESS | JOURNAL_VIEW, nullptr, marker.put(),
                                                        nullptr));
    }
    if (dwResult == ERROR_SUCCESS) {
        DWORD dwAwaiting = 0;
        ReadDword(journal.get(), VALUE_AWAITING, dwAwaiting);
        dwResult = WriteDword(journal.get(), VALUE_AWAITING, dwAwaiting | dwParties);
    }
    if (dwResult == ERROR_SUCCESS) {
        dwResult = static_cast<DWORD>(::RegFlushKey(journal.get()));
    }
    if (dwResult != ERROR_SUCCESS) {
        LogJournal(eKVXDiagLog_ERROR, "Error! No se pudo anotar el reinicio pendiente en el diario%s. Error: %lu",
                   std::wstring(), dwResult);
    }
    return dwResult;
}

bool CChangeJournal::IsAwaitingReboot(DWORD dwParty)
{
    UniqueHkey journal;
    DWORD dwAwaiting = 0;
    return OpenJournal(false, KEY_READ, journal) == ERROR_SUCCESS &&
           ReadDword(journal.get(), VALUE_AWAITING, dwAwaiting) && (dwAwaiting & dwParty) != 0;
}

EJournalRebootOutcome CChangeJournal::TakeRebootOutcome(DWORD dwParty)
{
    UniqueHkey journal;
    DWORD dwAwaiting = 0;
    if (OpenJournal(false, KEY_ALL_ACCESS, journal) != ERROR_SUCCESS ||
        !ReadDword(journal.get(), VALUE_AWAITING, dwAwaiting) || (dwAwaiting & dwParty) == 0) {
        return eJournalReboot_NONE;
    }
    UniqueHkey marker;
    const bool bBooted = ::RegOpenKeyExW(journal.get(), BOOT_MARKER, 0, KEY_READ | JOURNAL_VIEW, marker.put()) !=
                         ERROR_SUCCESS;
    marker.reset();
    dwAwaiting &= ~dwParty;
    if (dwAwaiting == 0) {
        ::RegDeleteValueW(journal.get(), VALUE_AWAITING);
        ::RegDeleteKeyExW(journal.get(), BOOT_MARKER, JOURNAL_VIEW, 0);
    } else {
        WriteDword(journal.get(), VALUE_AWAITING, dwAwaiting);
    }
    ::RegFlushKey(journal.get());
    journal.reset();
    RemoveJournalIfEmpty();
    return bBooted ? eJournalReboot_HAPPENED : eJournalReboot_INTERRUPTED;
}

std::wstring CChangeJournal::Today()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t text[16] = {};
    swprintf(text, sizeof text / sizeof text[0], L"%02u-%02u-%04u", now.wDay, now.wMonth, now.wYear);
    return text;
}

#ifdef KVX_JOURNAL_KILL_POINTS
// KVX_KILL_AT=N ends the process at the N-th change point it passes; KVX_KILL_LOG names a file that
// gets one line per point passed, so a harness learns how many there are.
void CChangeJournal::KillPoint(const char* pszWhere)
{
    // The wizard and the core each link a journal; the count lives in the process's environment, which
    // both share, so that one run's points are numbered once whichever module passes them.
    char counter[32] = {};
    const LONG lPoint =
        (::GetEnvironmentVariableA("KVX_KILL_COUNTER", counter, sizeof counter) > 0 ? std::atol(counter) : 0) + 1;
    std::snprintf(counter, sizeof counter, "%ld", static_cast<long>(lPoint));
    ::SetEnvironmentVariableA("KVX_KILL_COUNTER", counter);
    char log[MAX_PATH * 4] = {};
    if (::GetEnvironmentVariableA("KVX_KILL_LOG", log, sizeof log) > 0 && log[0] != '\0') {
        if (FILE* file = std::fopen(log, "a")) {
            std::fprintf(file, "%ld %s\n", static_cast<long>(lPoint), pszWhere);
            std::fclose(file);
        }
    }
    char at[32] = {};
    if (::GetEnvironmentVariableA("KVX_KILL_AT", at, sizeof at) > 0 && std::atol(at) == lPoint) {
        ::TerminateProcess(::GetCurrentProcess(), 77);
    }
}
#else
void CChangeJournal::KillPoint(const char*) {}
#endif

} // namespace kvx
