// The form's own work on the machine: the 64-bit check, the log configuration that both deliverables
// read, the incident file, the registry clean-up, the antivirus shield and its conflicting module, the
// autostart entry, and the reboot with its two questions.
#include "wizard/Unitmain.h"

#include "common/journal/ChangeJournal.h"
#include "common/win/ProcAddress.h"
#include "core/interface/ResumeState.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr const char* KVXDIAG2_RESULTS_DIRECTORY = "KVXDIAG2-Results";
constexpr const char* KVXDIAG2_LOG_FILE = "KVXDiagLog.dat";
constexpr const char* KVXDIAG2_INCIDENT_FILE = "KVXIncidenceFile.txt";
constexpr const char* KVXDIAG2_LOG_KEYS[2] = {"\\Orvex Network Manager\\KVXDIAG2\\Log\\DD000001",
                                              "\\Orvex Network Manager\\KVXDIAG2\\Log\\DD000002"};
constexpr DWORD KVXDIAG2_LOG_LEVEL = 85000;
constexpr DWORD KVXDIAG2_LOG_MAX_SIZE_KB = 65536;
constexpr size_t KVXDIAG2_HEADER_SIZE = 260;
constexpr DWORD KVXDIAG2_KEY_NAME_SIZE = 1024;
// Step 1 is a fresh analysis; the core refuses anything above 10.
constexpr DWORD KVXDIAG2_FIRST_RESUMED_STEP = 2;
constexpr DWORD KVXDIAG2_LAST_RESUMED_STEP = 10;
// The 32-bit view, from either build; a 32-bit system ignores the flag.
constexpr REGSAM KVXDIAG2_VENDOR_VIEW = KEY_WOW64_32KEY;

// Services and the Run key are the system's own keys, opened in the process's default view, as the
// core opens them. The antivirus's shield driver is off at 4 and started by the system at boot at 1.
constexpr DWORD KVXDIAG2_SHIELD_OFF = SERVICE_DISABLED;   // 4
constexpr DWORD KVXDIAG2_SHIELD_ON = SERVICE_SYSTEM_START; // 1
// The antivirus's installation directory (1024 characters at most, with the terminator), and the
// service executable that gets in the way.
constexpr const wchar_t* KVXDIAG2_AV_SETUP_KEY_W = L"SOFTWARE\\Orvex Software\\Setup";
constexpr const char* KVXDIAG2_AV_PATH_VALUE = "PATH";
constexpr const wchar_t* KVXDIAG2_AV_PATH_VALUE_W = L"PATH";
constexpr size_t KVXDIAG2_AV_PATH_SIZE = 1024;
constexpr const wchar_t* KVXDIAG2_CONFLICTIVE_MODULE_W = L"HOSTGUARD.exe";
constexpr const wchar_t* KVXDIAG2_CONFLICTIVE_MODULE_ASIDE_W = L"HOSTGUARD.exe.kvxdiag2";
constexpr const char* KVXDIAG2_RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* KVXDIAG2_RUN_KEY_W = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* KVXDIAG2_AUTOSTART_VALUE_W = L"KVXDIAG2_AUTOSTART";
// The wizard's own path: 519 characters and the terminator.
constexpr DWORD KVXDIAG2_EXE_PATH_SIZE = 520;

using UniqueFile = std::unique_ptr<FILE, int (*)(FILE*)>;

// A string value of any length; false when it is missing or not a string.
bool ReadRegistryText(HKEY key, const wchar_t* pszName, std::wstring& value)
{
    DWORD type = 0;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key, pszName, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key, pszName, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &bytes) != ERROR_SUCCESS) {
        return false;
    }
    text.resize(wcsnlen(text.c_str(), text.size()));
    value = text;
    return true;
}

// The core's resume state: a step from 2 on with a results directory is a run that continues.
bool PendingResultsDirectory(std::string& directory)
{
    kvx::UniqueHkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_READ | KVXDIAG2_VENDOR_VIEW, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD step = 0;
    DWORD type = 0;
    DWORD size = sizeof(step);
    if (::RegQueryValueExA(key.get(), KVXDIAG2_RESUME_CURRENT_STEP, nullptr, &type, reinterpret_cast<BYTE*>(&step),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(step) || step < KVXDIAG2_FIRST_RESUMED_STEP ||
        step > KVXDIAG2_LAST_RESUMED_STEP) {
        return false;
    }
    // The core takes a value of one byte or less for no directory at all.
    DWORD bytes = 0;
    if (::RegQueryValueExA(key.get(), KVXDIAG2_RESUME_RESULTS_DIR, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ || bytes < 2) {
        return false;
    }
    std::string text(static_cast<size_t>(bytes) + 1, '\0');
    if (::RegQueryValueExA(key.get(), KVXDIAG2_RESUME_RESULTS_DIR, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]),
                           &bytes) != ERROR_SUCCESS) {
        return false;
    }
    text.resize(strlen(text.c_str()));
    while (!text.empty() && text.back() == '\\') {
        text.pop_back();
    }
    if (text.empty()) {
        return false;
    }
    directory = text;
    return true;
}

} // namespace

bool TMainForm::IsDeepAnalysisPending()
{
    std::string directory;
    return PendingResultsDirectory(directory);
}

bool TMainForm::AreCoreChangesLeft()
{
    // What the core changed and was not kept: its jobs have ended, so only its next start can put it back.
    for (const kvx::SJournalEntry& entry : kvx::CChangeJournal::Entries()) {
        if (entry.owner != kvx::eJournalOwner_WIZARD && !entry.kept) {
            return true;
        }
    }
    return false;
}

bool TMainForm::Is64BitSO()
{
    KVX_FUNCTION("TMainForm::Is64BitSO");
    using PFN_GETNATIVESYSTEMINFO = void(WINAPI*)(LPSYSTEM_INFO);
    // Looked up at run time: older systems do not have it, and then the system is 32-bit.
    const HMODULE kernel = ::GetModuleHandleA("Kernel32.dll");
    const auto pfn =
        kernel != nullptr ? kvx::GetProc<PFN_GETNATIVESYSTEMINFO>(kernel, "GetNativeSystemInfo") : nullptr;
    if (pfn == nullptr) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "ERROR: No se ha podido obtener el puntero a la funcion -GetNativeSystemInfo-.");
        return false;
    }
    SYSTEM_INFO info{};
    pfn(&info);
    const bool is64 = info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
                      info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
    KVX_LOG(eKVXDiagLog_SYSTEM, "%s", is64 ? "Es un S.O de 64 Bits." : "Es un S.O de 32 Bits.");
    return is64;
}

std::string TMainForm::VendorKey() const
{
    // The vendor's keys live in the 32-bit view of the registry. Both builds reach it by asking for
    // that view (KEY_WOW64_32KEY on every open) rather than by naming Wow6432Node in the path: a
    // 32-bit process that names it is redirected a second time on some systems (Wine among them)
    // and would miss the keys that the core and the log read.
    return "SOFTWARE\\Orvex Software";
}

std::string TMainForm::GetKVXDiagTmpPath(bool bTrailingSeparator)
{
    KVX_FUNCTION("TMainForm::GetKVXDiagTmpPath");
    try {
        const DWORD size = ::GetTempPathA(0, nullptr);
        std::string path(static_cast<size_t>(size) + 1, '\0');
        const DWORD length = size == 0 ? 0 : ::GetTempPathA(size + 1, &path[0]);
        if (length == 0 || length > size) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                    "No se ha podido obtener el path temporal de windows... Dejamos el fichero de logs en - C: - raiz.");
            return "C:\\";
        }
        path.resize(length);
        path += KVXDIAG2_RESULTS_DIRECTORY;
        if (bTrailingSeparator) {
            path += '\\';
        }
        return path;
    } catch (const std::bad_alloc&) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "%s",
                "ERROR: No hay suficiente memoria como para reservar un buffer para la obtencion del path temporal de "
                "windows.");
        return std::string();
    }
}

void TMainForm::ActivateLogs()
{
    KVX_FUNCTION("TMainForm::ActivateLogs");
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Creando las claves de registro necesarias para los LOGS por primera vez...");
    // The core gives its new results directory the first free name of this series; predicting it
    // puts the log file (and the incident file) where the core's report will be. A deep analysis that
    // resumes after a reboot keeps the directory it stored instead, and so does its log: the next free
    // name would be a directory that nobody creates, and every line of the run would be lost.
    std::string directory;
    if (PendingResultsDirectory(directory)) {
        KVX_LOG(eKVXDiagLog_INFO, "Análisis en profundidad pendiente. Los LOGS continúan en %s", directory.c_str());
    } else {
        directory = GetKVXDiagTmpPath(false);
        while (!directory.empty() && ::GetFileAttributesA(directory.c_str()) != INVALID_FILE_ATTRIBUTES) {
            directory += '_';
        }
    }
    m_strResultsDirectory = directory;
    const std::string file = directory + "\\" + KVXDIAG2_LOG_FILE;

    const DWORD cypher = 0;
    const DWORD enabled = 1;
    const DWORD maxSize = KVXDIAG2_LOG_MAX_SIZE_KB;
    const DWORD level = KVXDIAG2_LOG_LEVEL;
    const DWORD device = 1;
    RegSetValueA("LOG_Cypher", reinterpret_cast<const BYTE*>(&cypher), REG_DWORD, sizeof(DWORD));
    RegSetValueA("LOG_Enabled", reinterpret_cast<const BYTE*>(&enabled), REG_DWORD, sizeof(DWORD));
    RegSetValueA("LOG_FileMaxSizeKB", reinterpret_cast<const BYTE*>(&maxSize), REG_DWORD, sizeof(DWORD));
    RegSetValueA("LOG_FilePath", reinterpret_cast<const BYTE*>(file.c_str()), REG_SZ, static_cast<DWORD>(file.size()));
    RegSetValueA("LOG_Level", reinterpret_cast<const BYTE*>(&level), REG_DWORD, sizeof(DWORD));
    RegSetValueA("LOG_OutputDevice", reinterpret_cast<const BYTE*>(&device), REG_DWORD, sizeof(DWORD));
}

void TMainForm::RegSetValueA(const char* pszValueName, const BYTE* pData, DWORD dwType, DWORD dwSize)
{
    KVX_FUNCTION("TMainForm::RegSetValueA");
    for (int index = 0; index < 2; ++index) {
        const std::string path = VendorKey() + KVXDIAG2_LOG_KEYS[index];
        kvx::UniqueHkey key;
        LONG rc = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS | KVXDIAG2_VENDOR_VIEW, nullptr, key.put(), nullptr);
        if (rc != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR al crear clave de registro para los LOGS %d", index + 1);
            continue;
        }
        if (dwType != REG_SZ && dwType != REG_DWORD) {
            continue;
        }
        rc = ::RegSetValueExA(key.get(), pszValueName, 0, dwType, pData, dwSize);
        if (rc != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR al establecer el valor de las claves de registro %d", index + 1);
        }
    }
}

void TMainForm::SaveIncidenceData(const std::string& incidentNumber, const std::string& description, size_t length)
{
    KVX_FUNCTION("TMainForm::SaveIncidenceData");
    // The incident file belongs with this run's results, so that it travels in this run's package;
    // the directory is normally there already (the core made it), but a missing one is created.
    const std::string directory = m_strResultsDirectory.empty() ? GetKVXDiagTmpPath(false) : m_strResultsDirectory;
    ::CreateDirectoryA(directory.c_str(), nullptr);
    const std::string path = directory + "\\" + KVXDIAG2_INCIDENT_FILE;

    UniqueFile file(std::fopen(path.c_str(), "at"), &std::fclose);
    if (!file) {
        KVX_LOG(eKVXDiagLog_INFO, "Error de apertura de fichero %s", KVXDIAG2_INCIDENT_FILE);
        return;
    }
    char header[KVXDIAG2_HEADER_SIZE];
    snprintf(header, sizeof(header), "\n############### Incidence Number: %s  ################# \n\n",
             incidentNumber.c_str());
    std::fputs(header, file.get());
    const size_t toWrite = length < description.size() ? length : description.size();
    const size_t written = toWrite == 0 ? 0 : std::fwrite(description.data(), 1, toWrite, file.get());
    if (written < length) {
        KVX_LOG(eKVXDiagLog_INFO, "Error de escritura en el fichero de incidencia. Bytes escritos: %d",
                static_cast<int>(written));
    }
}

DWORD TMainForm::RegDeleteKeyRecursively(HKEY hRoot, const char* pszKeyPath)
{
    KVX_FUNCTION("TMainForm::RegDeleteKeyRecursively");
    if (pszKeyPath == nullptr || *pszKeyPath == '\0') {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Error: Se está intentando abrir una clave de registro nula o no valida");
        return ERROR_BADKEY;
    }
    kvx::UniqueHkey key;
    LONG rc = ::RegOpenKeyExA(hRoot, pszKeyPath, 0, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE |
                                                        KVXDIAG2_VENDOR_VIEW,
                              key.put());
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO, "Error! No se pudo abrir la clave de registro. Clave: %s. Error devuelto: %ld",
                pszKeyPath, static_cast<long>(rc));
        return static_cast<DWORD>(rc);
    }
    for (;;) {
        char name[KVXDIAG2_KEY_NAME_SIZE];
        DWORD nameLength = KVXDIAG2_KEY_NAME_SIZE;
        rc = ::RegEnumKeyExA(key.get(), 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) {
            rc = ::RegDeleteKeyExA(hRoot, pszKeyPath, KVXDIAG2_VENDOR_VIEW, 0);
            break;
        }
        if (rc != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_INFO, "Error %ld: Intentando RegEnumKeyEx de las subclaves de la rama %s!!",
                    static_cast<long>(rc), pszKeyPath);
            break;
        }
        rc = static_cast<LONG>(RegDeleteKeyRecursively(key.get(), name));
        if (rc != ERROR_SUCCESS) {
            break;
        }
    }
    return static_cast<DWORD>(rc);
}

// ---------------------------------------------------------------------------------------------------
// The antivirus shield, its conflicting module and the autostart value: every change goes through the
// journal (recorded and flushed first), and comes back from what was recorded.

namespace {

using kvx::CChangeJournal;
using kvx::SJournalEntry;

// The shield's service: the first of these that exists is the one in use.
constexpr const wchar_t* KVXDIAG2_SHIELD_SERVICES[2] = {L"AVGUARD1", L"AVGUARD2"};
constexpr const wchar_t* KVXDIAG2_SERVICES_KEY = L"SYSTEM\\CurrentControlSet\\Services\\";

std::string Narrow(const std::wstring& text) { return kvxui::NarrowText(text, CP_ACP); }

// Opens the shield's service key, AVGUARD1 or else AVGUARD2. The start-up check tells the debugger
// why each attempt failed.
LONG OpenShieldKey(kvx::UniqueHkey& key, size_t& index, const char* pszDebugPrefix)
{
    LONG rc = ERROR_SUCCESS;
    for (index = 0; index < 2; ++index) {
        const std::wstring path = std::wstring(KVXDIAG2_SERVICES_KEY) + KVXDIAG2_SHIELD_SERVICES[index];
        rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key.put());
        if (rc == ERROR_SUCCESS) {
            return rc;
        }
        if (pszDebugPrefix != nullptr) {
            const std::string message =
                std::string(pszDebugPrefix) +
                (index == 0 ? "La clave del escudo AVGUARD1 no se ha podido abrir. Se intenta con AVGUARD2..."
                            : "La clave del escudo AVGUARD2 tampoco se ha podido abrir...");
            ::OutputDebugStringA(message.c_str());
            char code[32];
            snprintf(code, sizeof(code), "Error: %ld", static_cast<long>(rc));
            ::OutputDebugStringA(code);
        }
    }
    return rc;
}

// "Start" as a 32-bit value; any other type or size counts as unreadable.
bool ReadShieldStart(HKEY key, DWORD& value)
{
    DWORD type = 0;
    DWORD size = sizeof(value);
    return ::RegQueryValueExW(key, L"Start", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(value);
}

LONG WriteShieldStart(HKEY key, DWORD value)
{
    return ::RegSetValueExW(key, L"Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Puts the shield's start type back to what the journal says it was. The texts of the usual case
// (started at boot) are kept; another start type is named.
DWORD UndoShield(const SJournalEntry& entry, bool& bChanged)
{
    KVX_FUNCTION_QUIET("TMainForm::ActivateShield");
    kvx::UniqueHkey key;
    const std::wstring path = KVXDIAG2_SERVICES_KEY + entry.target;
    const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (opened != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Error: La clave del escudo no existe!!!");
        // A service that is gone has no start type left to put back; anything else is tried again.
        return opened == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(opened);
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "La clave del escudo ha sido abierta con exito. Se procede a leer el valor START");
    DWORD start = 0;
    if (!ReadShieldStart(key.get(), start)) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Error: No se puede leer el valor START");
    } else if (start == entry.original) {
        return ERROR_SUCCESS;
    }
    const LONG rc = WriteShieldStart(key.get(), entry.original);
    const bool bOn = entry.original == KVXDIAG2_SHIELD_ON;
    if (rc != ERROR_SUCCESS) {
        if (bOn) {
            KVX_LOG(eKVXDiagLog_INFO, "Error %ld: No se puede activar el escudo", static_cast<long>(rc));
        } else {
            KVX_LOG(eKVXDiagLog_INFO, "Error %ld: No se puede restablecer el valor START del escudo a %lu",
                    static_cast<long>(rc), static_cast<unsigned long>(entry.original));
        }
        return static_cast<DWORD>(rc);
    }
    if (bOn) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Se ha activado el escudo OK...");
    } else {
        KVX_LOG(eKVXDiagLog_INFO, "Se ha restablecido el valor START del escudo a %lu OK...",
                static_cast<unsigned long>(entry.original));
    }
    bChanged = true;
    return ERROR_SUCCESS;
}

// Moves the conflicting module back to its own name from the one it was given.
DWORD UndoModuleRename(const SJournalEntry& entry, bool& bChanged)
{
    KVX_FUNCTION_QUIET("TMainForm::ActivateConflictiveModules");
    KVX_LOG(eKVXDiagLog_INFO, "Fichero a renombrar: %s", Narrow(entry.detail).c_str());
    KVX_LOG(eKVXDiagLog_INFO, "por este nuevo: %s", Narrow(entry.target).c_str());
    if (!FileExists(entry.detail)) {
        // Back already, or removed with the antivirus: either way nothing is left to move. A file
        // under its own name is never overwritten.
        KVX_LOG(eKVXDiagLog_INFO, "El fichero %s ya no existe, no hay nada que renombrar.",
                Narrow(entry.detail).c_str());
        return ERROR_SUCCESS;
    }
    if (!::MoveFileW(entry.detail.c_str(), entry.target.c_str())) {
        const DWORD error = ::GetLastError();
        KVX_LOG(eKVXDiagLog_INFO, "Error %lu: Renombrando fichero", static_cast<unsigned long>(error));
        return error != ERROR_SUCCESS ? error : ERROR_FUNCTION_FAILED;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Fichero renombrado OK");
    bChanged = true;
    return ERROR_SUCCESS;
}

// The autostart value goes from both views of the Run key: each view starts its own wizard at logon,
// and the other build's value would start a wizard of a run that is over.
DWORD DeleteAutostartEverywhere()
{
    KVX_FUNCTION_QUIET("TMainForm::UnmarkAppToAutoLunch");
    DWORD result = ERROR_SUCCESS;
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        kvx::UniqueHkey key;
        LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KVXDIAG2_RUN_KEY_W, 0, KEY_SET_VALUE | view, key.put());
        if (rc == ERROR_FILE_NOT_FOUND) {
            continue;
        }
        if (rc != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_INFO,
                    "Error! No se pudo abrir la clave de registro para RunOnce. Clave: %s. Error devuelto: %ld",
                    KVXDIAG2_RUN_KEY, static_cast<long>(rc));
            result = static_cast<DWORD>(rc);
            continue;
        }
        rc = ::RegDeleteValueW(key.get(), KVXDIAG2_AUTOSTART_VALUE_W);
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            KVX_LOG(eKVXDiagLog_INFO, "Error! Al eliminar la clave de registro RunOnce. Error devuelto: %ld",
                    static_cast<long>(rc));
            result = static_cast<DWORD>(rc);
        }
    }
    if (result == ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Autorranque -RunOnce- eliminado OK");
    }
    return result;
}

DWORD UndoWizardEntry(const SJournalEntry& entry, bool& bChanged)
{
    switch (entry.kind) {
    case kvx::eJournalKind_SERVICE_START:
        return UndoShield(entry, bChanged);
    case kvx::eJournalKind_FILE_NAME:
        return UndoModuleRename(entry, bChanged);
    case kvx::eJournalKind_AUTOSTART:
        return DeleteAutostartEverywhere();
    default:
        // Not a kind the wizard makes: left for whoever can put it back.
        return ERROR_NOT_SUPPORTED;
    }
}

bool OneOf(DWORD kind, std::initializer_list<DWORD> kinds)
{
    for (DWORD k : kinds) {
        if (k == kind) {
            return true;
        }
    }
    return false;
}

} // namespace

bool TMainForm::PutBackWizardChanges(std::initializer_list<DWORD> kinds, bool& bChanged)
{
    KVX_FUNCTION("TMainForm::PutBackWizardChanges");
    bool bAllBack = true;
    for (const SJournalEntry& entry : CChangeJournal::Entries()) {
        if (entry.owner != kvx::eJournalOwner_WIZARD || entry.kept || !OneOf(entry.kind, kinds)) {
            continue;
        }
        bool changed = false;
        const DWORD rc = CChangeJournal::Undo(
            entry, [&changed](const SJournalEntry& recorded) { return UndoWizardEntry(recorded, changed); });
        bChanged = bChanged || changed;
        if (rc != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo deshacer el cambio de %s. Se conserva en el diario. Error "
                                       "devuelto: %lu",
                    Narrow(entry.target).c_str(), static_cast<unsigned long>(rc));
            bAllBack = false;
        }
    }
    return bAllBack;
}

bool TMainForm::HasWizardChanges()
{
    for (const SJournalEntry& entry : CChangeJournal::Entries()) {
        if (entry.owner == kvx::eJournalOwner_WIZARD && !entry.kept && entry.kind != kvx::eJournalKind_AUTOSTART) {
            return true;
        }
    }
    return false;
}

void TMainForm::DeactivateShield(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::DeactivateShield");
    bChanged = false;
    kvx::UniqueHkey key;
    size_t index = 0;
    if (OpenShieldKey(key, index, "TMainForm::DeactivateShield()-> ") != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Error: La clave del escudo no existe!!!");
        return;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "La clave del escudo ha sido abierta con exito. Se procede a leer el valor START");
    // A start type that cannot be read is left alone: there would be nothing true to put back.
    DWORD start = 0;
    if (!ReadShieldStart(key.get(), start)) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Error: No se puede leer el valor START");
        return;
    }
    SJournalEntry entry;
    entry.kind = kvx::eJournalKind_SERVICE_START;
    entry.owner = kvx::eJournalOwner_WIZARD;
    entry.target = KVXDIAG2_SHIELD_SERVICES[index];
    if (start == KVXDIAG2_SHIELD_OFF) {
        ::OutputDebugStringA("TMainForm::DeactivateShield()-> El escudo ya esta desactivado, salimos sin mas...");
        // Off without a record of this tool is how its own start-up reboot leaves the shield when the
        // record is lost (an older version kept none): protection on is the safe side to return to.
        SJournalEntry existing;
        if (!CChangeJournal::Find(entry.kind, entry.target, existing)) {
            entry.original = KVXDIAG2_SHIELD_ON;
            const DWORD rc = CChangeJournal::Record(entry);
            KVX_LOG(eKVXDiagLog_INFO, "El escudo ya estaba desactivado sin registro propio; se activará al terminar. "
                                      "Resultado del diario: %lu",
                    static_cast<unsigned long>(rc));
        }
        return;
    }
    entry.original = start;
    bool bRecorded = false;
    const DWORD rc = CChangeJournal::Apply(entry, [&]() {
        bRecorded = true;
        return static_cast<DWORD>(WriteShieldStart(key.get(), KVXDIAG2_SHIELD_OFF));
    });
    if (!bRecorded) {
        KVX_LOG(eKVXDiagLog_ERROR,
                "Error %lu: No se pudo anotar en el diario el valor START del escudo. El escudo no se modifica.",
                static_cast<unsigned long>(rc));
        return;
    }
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO, "Error %lu: No se puede establecer el valor de START a 4",
                static_cast<unsigned long>(rc));
        return;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Se ha desactivado el escudo OK...");
    bChanged = true;
}

bool TMainForm::ActivateShield(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::ActivateShield");
    bChanged = false;
    return PutBackWizardChanges({kvx::eJournalKind_SERVICE_START}, bChanged);
}

bool TMainForm::GetPathAV(std::wstring& path)
{
    KVX_FUNCTION("TMainForm::GetPathAV");
    path.clear();
    const std::wstring keyPath = KVXDIAG2_AV_SETUP_KEY_W;
    kvx::UniqueHkey key;
    LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | KVXDIAG2_VENDOR_VIEW, key.put());
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO, "Error %ld: Al intentar abrir la clave de registro KVXDIAG2_REG_KEY_AVPATH",
                static_cast<long>(rc));
        return false;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "La clave del escudo KVXDIAG2_REG_KEY_AVPATH ha sido abierta con exito");

    // At most 1024 characters with the terminator, which the registry does not promise. A value that
    // does not fit is refused (ERROR_MORE_DATA) instead of being cut into a different directory.
    std::wstring buffer(KVXDIAG2_AV_PATH_SIZE, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    rc = ::RegQueryValueExW(key.get(), KVXDIAG2_AV_PATH_VALUE_W, nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]),
                            &size);
    if (rc == ERROR_SUCCESS && type != REG_SZ) {
        rc = ERROR_DATATYPE_MISMATCH;
    }
    if (rc == ERROR_SUCCESS) {
        buffer.resize(wcsnlen(buffer.c_str(), size / sizeof(wchar_t)));
        // The directory is joined with file names, so it must end in a separator; an empty one would
        // name files in whatever the current directory happens to be.
        if (buffer.empty()) {
            rc = ERROR_INVALID_DATA;
        } else if (buffer.back() != L'\\') {
            if (buffer.size() + 1 < KVXDIAG2_AV_PATH_SIZE) {
                buffer += L'\\';
            } else {
                rc = ERROR_MORE_DATA;
            }
        }
    }
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO, "Error %ld: Al intentar leer el valor de %s.", static_cast<long>(rc),
                KVXDIAG2_AV_PATH_VALUE);
        return false;
    }
    path = buffer;
    KVX_LOG(eKVXDiagLog_INFO, "Path del AV obtenido OK: %s", Narrow(path).c_str());
    return true;
}

BOOL TMainForm::DeactivateConflictiveModules(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::DeactivateConflictiveModules");
    bChanged = false;
    std::wstring directory;
    // Without the antivirus's directory there is nothing to move; a guess would move some other file.
    if (!GetPathAV(directory)) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    SJournalEntry entry;
    entry.kind = kvx::eJournalKind_FILE_NAME;
    entry.owner = kvx::eJournalOwner_WIZARD;
    entry.target = directory + KVXDIAG2_CONFLICTIVE_MODULE_W;
    entry.detail = directory + KVXDIAG2_CONFLICTIVE_MODULE_ASIDE_W;
    KVX_LOG(eKVXDiagLog_INFO, "Fichero a renombrar: %s", Narrow(entry.target).c_str());
    KVX_LOG(eKVXDiagLog_INFO, "por este nuevo: %s", Narrow(entry.detail).c_str());
    // Both names must fit the same 1024 characters the directory came in; a longer one is refused
    // rather than cut into the name of some other file.
    if (entry.target.size() >= KVXDIAG2_AV_PATH_SIZE || entry.detail.size() >= KVXDIAG2_AV_PATH_SIZE) {
        KVX_LOG(eKVXDiagLog_INFO, "Error %d: Renombrando fichero", static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    if (!FileExists(entry.target) && FileExists(entry.detail)) {
        // Already aside: like a shield found off, it comes back at the end even without a record.
        SJournalEntry existing;
        if (!CChangeJournal::Find(entry.kind, entry.target, existing)) {
            const DWORD rc = CChangeJournal::Record(entry);
            KVX_LOG(eKVXDiagLog_INFO, "El fichero ya estaba renombrado sin registro propio; se restaurará al terminar. "
                                      "Resultado del diario: %lu",
                    static_cast<unsigned long>(rc));
        }
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    bool bRecorded = false;
    const DWORD rc = CChangeJournal::Apply(entry, [&]() -> DWORD {
        bRecorded = true;
        if (::MoveFileW(entry.target.c_str(), entry.detail.c_str())) {
            return ERROR_SUCCESS;
        }
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_FUNCTION_FAILED;
    });
    if (!bRecorded) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error %lu: No se pudo anotar en el diario el renombrado. El fichero no se mueve.",
                static_cast<unsigned long>(rc));
        ::SetLastError(rc);
        return FALSE;
    }
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO, "Error %lu: Renombrando fichero", static_cast<unsigned long>(rc));
        ::SetLastError(rc);
        return FALSE;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Fichero renombrado OK");
    bChanged = true;
    return TRUE;
}

BOOL TMainForm::ActivateConflictiveModules(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::ActivateConflictiveModules");
    bChanged = false;
    return PutBackWizardChanges({kvx::eJournalKind_FILE_NAME}, bChanged) ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------------------------------
// Autostart and reboot

DWORD TMainForm::MarkAppToAutoLunch()
{
    KVX_FUNCTION("TMainForm::MarkAppToAutoLunch");
    // Read and written in UTF-16: a narrow copy of a path with characters outside the code page
    // would name a program that does not exist.
    wchar_t path[KVXDIAG2_EXE_PATH_SIZE] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, KVXDIAG2_EXE_PATH_SIZE);
    if (length == 0) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Error! El path al proceso actual no es correcto ya que esta vacio");
        return ERROR_NOT_FOUND;
    }
    // A path that filled the whole buffer was cut: starting it at logon would start nothing, or
    // something else.
    if (length >= KVXDIAG2_EXE_PATH_SIZE) {
        KVX_LOG(eKVXDiagLog_INFO, "Error! El path al proceso actual supera los %lu caracteres. Error devuelto: %d",
                static_cast<unsigned long>(KVXDIAG2_EXE_PATH_SIZE - 1), static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
        return ERROR_FILENAME_EXCED_RANGE;
    }
    const std::wstring program(path, length);
    KVX_LOG(eKVXDiagLog_INFO, "Comprobada accesibilidad al path de proceso actual: %s", Narrow(program).c_str());

    // Written in this build's own view of the Run key, which is the one that starts this build.
    kvx::UniqueHkey key;
    LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KVXDIAG2_RUN_KEY_W, 0, KEY_ALL_ACCESS, key.put());
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO,
                "Error! No se pudo abrir la clave de registro para RunOnce. Clave: %s. Error devuelto: %ld",
                KVXDIAG2_RUN_KEY, static_cast<long>(rc));
        return static_cast<DWORD>(rc);
    }
    SJournalEntry entry;
    entry.kind = kvx::eJournalKind_AUTOSTART;
    entry.owner = kvx::eJournalOwner_WIZARD;
    entry.target = KVXDIAG2_AUTOSTART_VALUE_W;
    entry.hadOriginal = ReadRegistryText(key.get(), KVXDIAG2_AUTOSTART_VALUE_W, entry.originalText);
    // Quoted, as the core quotes its own entry: a path with spaces would otherwise be read at logon as
    // a shorter program name followed by arguments.
    const std::wstring command = L"\"" + program + L"\"";
    bool bRecorded = false;
    const DWORD result = CChangeJournal::Apply(entry, [&]() {
        bRecorded = true;
        return static_cast<DWORD>(::RegSetValueExW(key.get(), KVXDIAG2_AUTOSTART_VALUE_W, 0, REG_SZ,
                                                   reinterpret_cast<const BYTE*>(command.c_str()),
                                                   static_cast<DWORD>(command.size() * sizeof(wchar_t))));
    });
    if (!bRecorded) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo anotar el autorranque en el diario. Error devuelto: %lu",
                static_cast<unsigned long>(result));
        return result;
    }
    if (result != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO,
                "Error! Al establecer la nueva clave de registro RunOnce. Clave: %s. Error devuelto: %lu",
                KVXDIAG2_RUN_KEY, static_cast<unsigned long>(result));
        return result;
    }
    KVX_LOG(eKVXDiagLog_INFO, "Autorranque preparado con éxito. Creado valor en el RunOnce para el proceso: %s",
            Narrow(program).c_str());
    return ERROR_SUCCESS;
}

DWORD TMainForm::UnmarkAppToAutoLunch()
{
    KVX_FUNCTION("TMainForm::UnmarkAppToAutoLunch");
    SJournalEntry entry;
    if (!CChangeJournal::Find(kvx::eJournalKind_AUTOSTART, KVXDIAG2_AUTOSTART_VALUE_W, entry)) {
        // No record (an older version's value, or the core's): the run is over all the same.
        return DeleteAutostartEverywhere();
    }
    return CChangeJournal::Undo(entry, [](const SJournalEntry&) { return DeleteAutostartEverywhere(); });
}

int TMainForm::Reboot(bool bRunWaits)
{
    KVX_FUNCTION("TMainForm::Reboot");
    kvx::UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Error! No fue posible abrir el token del proceso");
        return -1;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No fue posible obtener el privilegio de apagado. Error devuelto: %lu",
                static_cast<unsigned long>(::GetLastError()));
        return -1;
    }
    // AdjustTokenPrivileges succeeds even when it could not enable the privilege; only the last error
    // tells.
    ::SetLastError(ERROR_SUCCESS);
    if (!::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) ||
        ::GetLastError() != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No fue posible habilitar el privilegio de apagado. Error devuelto: %lu",
                static_cast<unsigned long>(::GetLastError()));
        return -1;
    }
    // The mark comes before the request: a boot that follows it at once must still find it. A mark
    // that cannot be written leaves the next start to put everything back, the safe side.
    if (bRunWaits) {
        kvx::CChangeJournal::MarkAwaitingReboot(kvx::eJournalParty_BOTH);
    }
    // A refused restart is a failure, not a restart under way: the caller must not act as if one were.
    if (!::ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_RECONFIG |
                                         SHTDN_REASON_FLAG_PLANNED)) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No fue posible reiniciar el sistema. Error devuelto: %lu",
                static_cast<unsigned long>(::GetLastError()));
        return -1;
    }
    KVX_LOG(eKVXDiagLog_EVENT, "%s", "Reinicio del sistema solicitado.");
    return 0;
}

void TMainForm::AskStartupReboot()
{
    KVX_FUNCTION("TMainForm::AskStartupReboot");
    const int choice = ::MessageBoxW(m_hwnd, Text(kvxui::eCodeText_STARTUP_REBOOT_QUESTION), kvxui::KVXDIAG2_FORM_TITLE,
                                     MB_OKCANCEL | MB_ICONQUESTION);
    if (choice == IDOK) {
        m_bRestarting = Reboot(true) == 0;
        return;
    }
    // Without the reboot the changes would never take effect, so they are put back from the journal
    // (a failure stays recorded for the end of the run).
    bool changed = false;
    ActivateShield(changed);
    ActivateConflictiveModules(changed);
    m_bShieldDeactivated = false;
    m_bModulesDeactivated = false;
}

void TMainForm::AskClosingReboot()
{
    KVX_FUNCTION("TMainForm::AskClosingReboot");
    // Asked while the form's window is going away: the box has no owner and holds the whole thread.
    const int choice =
        ::MessageBoxW(nullptr, Text(kvxui::eCodeText_CLOSING_REBOOT_QUESTION), kvxui::KVXDIAG2_FORM_TITLE,
                      MB_OKCANCEL | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND);
    // The run is over: nothing waits for this boot, and whatever could not be put back is retried by
    // the next start.
    if (choice == IDOK) {
        Reboot(false);
    }
}
