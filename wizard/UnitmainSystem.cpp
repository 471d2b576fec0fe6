// The form's own work on the machine: the 64-bit check, the log configuration that both deliverables
// read, the incident file, and the registry clean-up. The antivirus shield, the conflicting module,
// the autostart entry and the reboot questions have their places here too.
#include "wizard/Unitmain.h"


#include <cstdio>
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
// The 32-bit view, from either build; a 32-bit system ignores the flag.
constexpr REGSAM KVXDIAG2_VENDOR_VIEW = KEY_WOW64_32KEY;

using UniqueFile = std::unique_ptr<FILE, int (*)(FILE*)>;

} // namespace

bool TMainForm::Is64BitSO()
{
    KVX_FUNCTION("TMainForm::Is64BitSO");
    using PFN_GETNATIVESYSTEMINFO = void(WINAPI*)(LPSYSTEM_INFO);
    // Looked up at run time: older systems do not have it, and then the system is 32-bit.
    const HMODULE kernel = ::GetModuleHandleA("Kernel32.dll");
    const auto pfn = kernel != nullptr ? reinterpret_cast<PFN_GETNATIVESYSTEMINFO>(
                                             reinterpret_cast<void*>(::GetProcAddress(kernel, "GetNativeSystemInfo")))
                                       : nullptr;
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
    // puts the log file (and the incident file) where the core's report will be.
    std::string directory = GetKVXDiagTmpPath(false);
    while (!directory.empty() && ::GetFileAttributesA(directory.c_str()) != INVALID_FILE_ATTRIBUTES) {
        directory += '_';
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

// The antivirus shield, the conflicting module, the autostart entry and the reboots come with the
// wizard's machine changes; until then these leave the machine as it is and report no change, so
// that no reboot question is asked.

void TMainForm::DeactivateShield(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::DeactivateShield");
    bChanged = false;
}

void TMainForm::ActivateShield(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::ActivateShield");
    bChanged = false;
}

bool TMainForm::GetPathAV(char* pszBuffer, DWORD dwSize)
{
    KVX_FUNCTION("TMainForm::GetPathAV");
    if (pszBuffer != nullptr && dwSize > 0) {
        pszBuffer[0] = '\0';
    }
    return false;
}

BOOL TMainForm::DeactivateConflictiveModules(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::DeactivateConflictiveModules");
    bChanged = false;
    return FALSE;
}

BOOL TMainForm::ActivateConflictiveModules(bool& bChanged)
{
    KVX_FUNCTION("TMainForm::ActivateConflictiveModules");
    bChanged = false;
    return FALSE;
}

DWORD TMainForm::MarkAppToAutoLunch()
{
    KVX_FUNCTION("TMainForm::MarkAppToAutoLunch");
    return ERROR_SUCCESS;
}

DWORD TMainForm::UnmarkAppToAutoLunch()
{
    KVX_FUNCTION("TMainForm::UnmarkAppToAutoLunch");
    return ERROR_SUCCESS;
}

int TMainForm::Reboot()
{
    KVX_FUNCTION("TMainForm::Reboot");
    return -1;
}

void TMainForm::AskStartupReboot()
{
    KVX_FUNCTION("TMainForm::AskStartupReboot");
}

void TMainForm::AskClosingReboot()
{
    KVX_FUNCTION("TMainForm::AskClosingReboot");
}
