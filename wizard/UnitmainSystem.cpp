// The form's own work on the machine: the 64-bit check, the log configuration that both deliverables
// read, the incident file, the registry clean-up, the antivirus shield and its conflicting module, the
// autostart entry, and the reboot with its two questions.
#include "wizard/Unitmain.h"

#include "common/win/ProcAddress.h"
#include "core/interface/ResumeState.h"
#include "common/journal/ChangeJournal.h"

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

// The antivirus's shield driver: the first of these service keys that exists is the one in use.
// Services and the Run key are the system's own keys, read in the process's default view, as the
// core reads and writes them.
constexpr const char* KVXDIAG2_SHIELD_KEYS[2] = {"SYSTEM\\CurrentControlSet\\Services\\AVGUARD1",
                                                 "SYSTEM\\CurrentControlSet\\Services\\AVGUARD2"};
constexpr const char* KVXDIAG2_SHIELD_START = "Start";
constexpr DWORD KVXDIAG2_SHIELD_OFF = SERVICE_DISABLED;   // 4
constexpr DWORD KVXDIAG2_SHIELD_ON = SERVICE_SYSTEM_START; // 1
// The antivirus's installation directory, and the service executable that gets in the way.
constexpr const char* KVXDIAG2_AV_SETUP_KEY = "\\Setup";
constexpr const char* KVXDIAG2_AV_PATH_VALUE = "PATH";
constexpr DWORD KVXDIAG2_AV_PATH_SIZE = 1024;
constexpr const char* KVXDIAG2_CONFLICTIVE_MODULE = "HOSTGUARD.exe";
constexpr const char* KVXDIAG2_CONFLICTIVE_MODULE_ASIDE = "HOSTGUARD.exe.kvxdiag2";
constexpr const char* KVXDIAG2_RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* KVXDIAG2_AUTOSTART_VALUE = "KVXDIAG2_AUTOSTART";
constexpr const wchar_t* KVXDIAG2_AUTOSTART_VALUE_W = L"KVXDIAG2_AUTOSTART";
// The wizard's own path: 519 characters and the terminator.
constexpr DWORD KVXDIAG2_EXE_PATH_SIZE = 520;

using UniqueFile = std::unique_ptr<FILE, int (*)(FILE*)>;

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
// The antivirus shield and its conflicting module

namespace {

// Opens the shield's service key, AVGUARD1 or else AVGUARD2. The start-up check tells the debugger
// why each attempt failed; the restore at the end only logs the outcome.
LONG OpenShieldKey(kvx::UniqueHkey& key, const char* pszDebugPrefix)
{
    LONG rc = ERROR_SUCCESS;
    for (size_t index = 0; index < 2; ++index) {
        rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_SHIELD_KEYS[index], 0, KEY_ALL_ACCESS, key.put());
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
    return ::RegQueryValueExA(key, KVXDIAG2_SHIELD_START, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(value);
}

// Opens whichever shield key exists and reads its start type. Each failure is logged under the caller's
// name; the key is then left alone.
bool OpenAndReadShield(const char* pszFunction, const char* pszDebugPrefix, kvx::UniqueHkey& key, DWORD& start)
{
    if (OpenShieldKey(key, pszDebugPrefix) != ERROR_SUCCESS) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                 "Error: La clave del escudo no existe!!!");
        return false;
    }
    CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                             "La clave del escudo ha sido abierta con exito. Se procede a leer el valor START");
    // A start type that cannot be read is left alone: writing one would invent a value that the
    // restore at the end would then turn into "started at boot".
    if (!ReadShieldStart(key.get(), start)) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "%s",
                                 "Error: No se puede leer el valor START");
        return false;
    }
    return true;
}

LONG WriteShieldStart(HKEY key, DWORD value)
{
    return ::RegSetValueExA(key, KVXDIAG2_SHIELD_START, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof(value));
}

// One direction of the shield switch: the start type wanted and what is said about it.
struct SShieldSwitch {
    DWORD target;
    const char* pszDebugPrefix; // debugger lines while opening the keys, or none
    const char* pszAlreadyDebug; // debugger line when the shield is already so, or none
    const char* pszFailure;
    const char* pszDone;
};

// Sets the shield's start type; true when it was changed.
bool SwitchShield(const char* pszFunction, const SShieldSwitch& step)
{
    kvx::UniqueHkey key;
    DWORD start = 0;
    if (!OpenAndReadShield(pszFunction, step.pszDebugPrefix, key, start)) {
        return false;
    }
    if (start == step.target) {
        if (step.pszAlreadyDebug != nullptr) {
            ::OutputDebugStringA(step.pszAlreadyDebug);
        }
        return false;
    }
    const LONG rc = WriteShieldStart(key.get(), step.target);
    if (rc != ERROR_SUCCESS) {
        CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "Error %ld: %s",
                                 static_cast<long>(rc), step.pszFailure);
        return false;
    }
    CKVXDiagObject::WriteLog(eKVXDiagLog_INFO, KVXDIAG_LOG_MODULE, pszFunction, "%s", step.pszDone);
    return true;
}

// Renames the conflicting module inside the antivirus's directory, out of the way (bAside) or back.
// kvxFunctionName_ is the caller's name, which its log lines carry.
BOOL MoveConflictiveModule(const char* kvxFunctionName_, const std::string& directory, bool bAside, bool& bChanged)
{
    const std::string original = directory + KVXDIAG2_CONFLICTIVE_MODULE;
    const std::string aside = directory + KVXDIAG2_CONFLICTIVE_MODULE_ASIDE;
    const std::string& source = bAside ? original : aside;
    const std::string& target = bAside ? aside : original;
    KVX_LOG(eKVXDiagLog_INFO, "Fichero a renombrar: %s", source.c_str());
    KVX_LOG(eKVXDiagLog_INFO, "por este nuevo: %s", target.c_str());
    // Both names must fit the same 1024 bytes the directory came in; a longer one is refused rather
    // than cut into the name of some other file.
    if (source.size() >= KVXDIAG2_AV_PATH_SIZE || target.size() >= KVXDIAG2_AV_PATH_SIZE) {
        KVX_LOG(eKVXDiagLog_INFO, "Error %d: Renombrando fichero", static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    if (!::MoveFileA(source.c_str(), target.c_str())) {
        const DWORD error = ::GetLastError();
        KVX_LOG(eKVXDiagLog_INFO, "Error %lu: Renombrando fichero", static_cast<unsigned long>(error));
        ::SetLastError(error);
        return FALSE;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Fichero renombrado OK");
    bChanged = true;
    return TRUE;
}

} // namespace

void TMainForm::DeactivateShield(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::DeactivateShield");
    bChanged = SwitchShield(kvxFunctionName_, {KVXDIAG2_SHIELD_OFF, "TMainForm::DeactivateShield()-> ",
                                               "TMainForm::DeactivateShield()-> El escudo ya esta desactivado, salimos "
                                               "sin mas...",
                                               "No se puede establecer el valor de START a 4",
                                               "Se ha desactivado el escudo OK..."});
}

void TMainForm::ActivateShield(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::ActivateShield");
    bChanged = SwitchShield(kvxFunctionName_, {KVXDIAG2_SHIELD_ON, nullptr, nullptr, "No se puede activar el escudo",
                                               "Se ha activado el escudo OK..."});
}

bool TMainForm::GetPathAV(char* pszBuffer, DWORD dwSize)
{
    KVX_FUNCTION("TMainForm::GetPathAV");
    if (pszBuffer == nullptr || dwSize < 2) {
        return false;
    }
    pszBuffer[0] = '\0';
    const std::string keyPath = VendorKey() + KVXDIAG2_AV_SETUP_KEY;
    kvx::UniqueHkey key;
    LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | KVXDIAG2_VENDOR_VIEW, key.put());
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO, "Error %ld: Al intentar abrir la clave de registro KVXDIAG2_REG_KEY_AVPATH",
                static_cast<long>(rc));
        return false;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "La clave del escudo KVXDIAG2_REG_KEY_AVPATH ha sido abierta con exito");

    // One byte stays free for the terminator, which the registry does not promise. A value that does
    // not fit is refused (ERROR_MORE_DATA) instead of being cut into a different directory.
    DWORD type = 0;
    DWORD size = dwSize - 1;
    rc = ::RegQueryValueExA(key.get(), KVXDIAG2_AV_PATH_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(pszBuffer),
                            &size);
    if (rc == ERROR_SUCCESS && type != REG_SZ) {
        rc = ERROR_DATATYPE_MISMATCH;
    }
    size_t length = 0;
    if (rc == ERROR_SUCCESS) {
        pszBuffer[size] = '\0';
        length = strlen(pszBuffer);
        // The directory is joined with file names, so it must end in a separator; an empty one would
        // name files in whatever the current directory happens to be.
        if (length == 0) {
            rc = ERROR_INVALID_DATA;
        } else if (pszBuffer[length - 1] != '\\') {
            if (length + 1 < dwSize) {
                pszBuffer[length++] = '\\';
                pszBuffer[length] = '\0';
            } else {
                rc = ERROR_MORE_DATA;
            }
        }
    }
    if (rc != ERROR_SUCCESS) {
        pszBuffer[0] = '\0';
        KVX_LOG(eKVXDiagLog_INFO, "Error %ld: Al intentar leer el valor de %s.", static_cast<long>(rc),
                KVXDIAG2_AV_PATH_VALUE);
        return false;
    }
    KVX_LOG(eKVXDiagLog_INFO, "Path del AV obtenido OK: %s", pszBuffer);
    return true;
}

BOOL TMainForm::DeactivateConflictiveModules(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::DeactivateConflictiveModules");
    bChanged = false;
    char path[KVXDIAG2_AV_PATH_SIZE];
    // Without the antivirus's directory there is nothing to move; a guess would move some other file.
    if (!GetPathAV(path, sizeof(path))) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return MoveConflictiveModule(kvxFunctionName_, path, true, bChanged);
}

BOOL TMainForm::ActivateConflictiveModules(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::ActivateConflictiveModules");
    bChanged = false;
    char path[KVXDIAG2_AV_PATH_SIZE];
    if (!GetPathAV(path, sizeof(path))) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return MoveConflictiveModule(kvxFunctionName_, path, false, bChanged);
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
    KVX_LOG(eKVXDiagLog_INFO, "Comprobada accesibilidad al path de proceso actual: %s",
            kvxui::NarrowText(program, CP_ACP).c_str());

    kvx::UniqueHkey key;
    LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RUN_KEY, 0, KEY_ALL_ACCESS, key.put());
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO,
                "Error! No se pudo abrir la clave de registro para RunOnce. Clave: %s. Error devuelto: %ld",
                KVXDIAG2_RUN_KEY, static_cast<long>(rc));
        return static_cast<DWORD>(rc);
    }
    // Quoted, as the core quotes its own entry: a path with spaces would otherwise be read at logon as
    // a shorter program name followed by arguments.
    const std::wstring command = L"\"" + program + L"\"";
    rc = ::RegSetValueExW(key.get(), KVXDIAG2_AUTOSTART_VALUE_W, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(command.c_str()),
                          static_cast<DWORD>(command.size() * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO,
                "Error! Al establecer la nueva clave de registro RunOnce. Clave: %s. Error devuelto: %ld",
                KVXDIAG2_RUN_KEY, static_cast<long>(rc));
        return static_cast<DWORD>(rc);
    }
    KVX_LOG(eKVXDiagLog_INFO, "Autorranque preparado con éxito. Creado valor en el RunOnce para el proceso: %s",
            kvxui::NarrowText(program, CP_ACP).c_str());
    return ERROR_SUCCESS;
}

DWORD TMainForm::UnmarkAppToAutoLunch()
{
    KVX_FUNCTION("TMainForm::UnmarkAppToAutoLunch");
    kvx::UniqueHkey key;
    LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RUN_KEY, 0, KEY_ALL_ACCESS, key.put());
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO,
                "Error! No se pudo abrir la clave de registro para RunOnce. Clave: %s. Error devuelto: %ld",
                KVXDIAG2_RUN_KEY, static_cast<long>(rc));
        return static_cast<DWORD>(rc);
    }
    rc = ::RegDeleteValueA(key.get(), KVXDIAG2_AUTOSTART_VALUE);
    if (rc != ERROR_SUCCESS) {
        KVX_LOG(eKVXDiagLog_INFO, "Error! Al eliminar la clave de registro RunOnce. Error devuelto: %ld",
                static_cast<long>(rc));
        return static_cast<DWORD>(rc);
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Autorranque -RunOnce- eliminado OK");
    return ERROR_SUCCESS;
}

int TMainForm::Reboot()
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
        m_bRestarting = Reboot() == 0;
        return;
    }
    // Without the reboot the changes would never take effect, so they are undone; only what this start
    // changed, so that a shield the user had switched off stays off.
    bool changed = false;
    if (m_bShieldDeactivated) {
        ActivateShield(changed);
        m_bShieldDeactivated = false;
    }
    if (m_bModulesDeactivated) {
        ActivateConflictiveModules(changed);
        m_bModulesDeactivated = false;
    }
}

void TMainForm::AskClosingReboot()
{
    KVX_FUNCTION("TMainForm::AskClosingReboot");
    // Asked while the form's window is going away: the box has no owner and holds the whole thread.
    const int choice =
        ::MessageBoxW(nullptr, Text(kvxui::eCodeText_CLOSING_REBOOT_QUESTION), kvxui::KVXDIAG2_FORM_TITLE,
                      MB_OKCANCEL | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND);
    if (choice == IDOK) {
        Reboot();
    }
}
