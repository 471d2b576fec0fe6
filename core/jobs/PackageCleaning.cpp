#include "core/jobs/PackageCleaning.h"

#include "common/log/KVXDiagObject.h"
#include "common/win/RegistryView.h"
#include "common/win/UniqueHandles.h"
#include "core/interface/KVXDiagTypes.h"
#include "core/interface/ResumeState.h"
#include "core/privacy/PrivacyCleaner.h"
#include "core/report/IReporter.h"

#include <ntsecapi.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

constexpr const char* KVXDIAG2_PROFILE_LIST = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

std::string Environment(const char* name)
{
    char value[512] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string LastComponent(const std::string& path)
{
    std::string trimmed = path;
    while (!trimmed.empty() && (trimmed.back() == '\\' || trimmed.back() == '/')) {
        trimmed.pop_back();
    }
    const size_t slash = trimmed.find_last_of("\\/");
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string ComputerName(COMPUTER_NAME_FORMAT format)
{
    char name[512] = {};
    DWORD size = sizeof name;
    return ::GetComputerNameExA(format, name, &size) ? std::string(name, size) : std::string();
}

bool ReadWhole(const std::string& path, std::string& text)
{
    kvx::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    char buffer[65536];
    DWORD dwRead = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &dwRead, nullptr) && dwRead > 0) {
        text.append(buffer, dwRead);
        if (text.size() > (64u << 20)) {
            return false; // no table of tokens is that large
        }
    }
    return true;
}

bool WriteWhole(const std::string& path, const std::string& text)
{
    kvx::UniqueFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    DWORD dwWritten = 0;
    return ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &dwWritten, nullptr) &&
        dwWritten == text.size();
}

// A file of the copy that must not be packed; a read-only one is made writable first.
bool RemoveFile(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        ::SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    return ::DeleteFileA(path.c_str()) != 0;
}

std::string ArchiveName(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

} // namespace

bool CPackageCleaning::Requested(IReporter* pReporter)
{
    KVX_FUNCTION("CPackageCleaning::Requested");
    DWORD dwValue = 0;
    DWORD dwSize = sizeof dwValue;
    DWORD dwType = 0;
    kvx::UniqueHkey key;
    bool bRecorded = false;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_RESUME_KEY, 0, KEY_QUERY_VALUE | kvx::KVX_REGVIEW_VENDOR,
                        key.put()) == ERROR_SUCCESS &&
        ::RegQueryValueExA(key.get(), KVXDIAG2_PACK_REMOVE_PERSONAL_DATA, nullptr, &dwType,
                           reinterpret_cast<BYTE*>(&dwValue), &dwSize) == ERROR_SUCCESS &&
        dwType == REG_DWORD && dwSize == sizeof dwValue) {
        bRecorded = true;
    }
    const bool bRemove = bRecorded && dwValue != 0;
    KVX_LOG(eKVXDiagLog_INFO, "Eliminar datos personales del paquete: %s", bRemove ? "sí" : "no");
    if (pReporter != nullptr) {
        pReporter->Report("%s", !bRecorded ? "Personal data: kept in the package (no choice was recorded)"
                                : bRemove  ? "Personal data: removed from the package, as the user chose"
                                           : "Personal data: kept in the package, as the user chose");
    }
    return bRemove;
}

bool CPackageCleaning::LeaveOutTable(const std::string& copyDirectory)
{
    KVX_FUNCTION_QUIET("CPackageCleaning::LeaveOutTable");
    if (RemoveFile(copyDirectory + "\\" + CPrivacyCleaner::KVX_PRIVACY_MAP_NAME)) {
        return true;
    }
    KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible quitar la tabla de sustituciones de la copia 0x%08lx",
            ::GetLastError());
    return false;
}

CPackageCleaning::CPackageCleaning(std::string resultsDirectory, std::string copyDirectory)
    : m_resultsDirectory(std::move(resultsDirectory)), m_copyDirectory(std::move(copyDirectory))
{
}

void CPackageCleaning::CollectMachineValues(CPrivacyCleaner& cleaner) const
{
    cleaner.AddValue(ePrivacy_USER, Environment("USERNAME"));
    cleaner.AddValue(ePrivacy_USER, LastComponent(Environment("USERPROFILE")));
    cleaner.AddValue(ePrivacy_COMPUTER, Environment("COMPUTERNAME"));
    cleaner.AddValue(ePrivacy_COMPUTER, ComputerName(ComputerNameNetBIOS));
    cleaner.AddValue(ePrivacy_COMPUTER, ComputerName(ComputerNameDnsHostname));
    cleaner.AddValue(ePrivacy_DOMAIN, ComputerName(ComputerNameDnsDomain));
    cleaner.AddValue(ePrivacy_DOMAIN, Environment("USERDOMAIN"));
    cleaner.AddValue(ePrivacy_DOMAIN, Environment("USERDNSDOMAIN"));
    std::string logonServer = Environment("LOGONSERVER");
    logonServer.erase(0, logonServer.find_first_not_of('\\'));
    cleaner.AddValue(ePrivacy_COMPUTER, logonServer);

    // Every local profile of a user account, whoever is logged on.
    kvx::UniqueHkey list;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KVXDIAG2_PROFILE_LIST, 0, KEY_READ | KEY_WOW64_64KEY, list.put()) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        char sid[256] = {};
        DWORD sidLength = sizeof sid;
        if (::RegEnumKeyExA(list.get(), index, sid, &sidLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        const std::string name(sid, sidLength);
        if (name.compare(0, 9, "S-1-5-21-") != 0 && name.compare(0, 9, "S-1-12-1-") != 0) {
            continue; // the system's own accounts
        }
        kvx::UniqueHkey profile;
        if (::RegOpenKeyExA(list.get(), name.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, profile.put()) !=
            ERROR_SUCCESS) {
            continue;
        }
        char path[1024] = {};
        DWORD size = sizeof path - 1;
        DWORD type = 0;
        if (::RegQueryValueExA(profile.get(), "ProfileImagePath", nullptr, &type, reinterpret_cast<BYTE*>(path),
                               &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
            path[std::min<DWORD>(size, sizeof path - 1)] = '\0';
            std::string folder = LastComponent(path);
            // A second profile of the same user ("jdoe.CORP") keeps the name before the dot.
            cleaner.AddValue(ePrivacy_USER, folder.substr(0, folder.find('.')));
        }
    }
}

void CPackageCleaning::ListFiles(const std::string& directory, const std::string& archivePrefix)
{
    WIN32_FIND_DATAA data = {};
    kvx::UniqueFindHandle find(::FindFirstFileA((directory + "\\*").c_str(), &data));
    if (!find) {
        return;
    }
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = directory + "\\" + name;
        const std::string archiveName = archivePrefix.empty() ? name : archivePrefix + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                ListFiles(path, archiveName);
            }
        } else {
            m_files.emplace_back(archiveName, path);
        }
    } while (::FindNextFileA(find.get(), &data));
}

DWORD CPackageCleaning::Run(IReporter* pReporter)
{
    KVX_FUNCTION("CPackageCleaning::Run");
    // The copy may be half cleaned when memory runs out: the job must fail, not pack it.
    try {
        return Clean(pReporter);
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "%s", "Excepción al eliminar los datos personales de la copia");
        return KVXDIAG2_ERR_EXCEPTION;
    }
}

DWORD CPackageCleaning::Clean(IReporter* pReporter)
{
    KVX_FUNCTION_QUIET("CPackageCleaning::Run");
    std::array<uint8_t, 16> key = {};
    if (!RtlGenRandom(key.data(), static_cast<ULONG>(key.size()))) {
        KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible generar la clave de sustitución 0x%08lx", ::GetLastError());
        return static_cast<DWORD>(NTE_FAIL);
    }
    const DWORD dwStart = ::GetTickCount();
    CPrivacyCleaner cleaner(key);
    const std::string tablePath = m_resultsDirectory + "\\" + CPrivacyCleaner::KVX_PRIVACY_MAP_NAME;
    std::string table;
    if (ReadWhole(tablePath, table) && cleaner.LoadMap(table)) {
        KVX_LOG(eKVXDiagLog_INFO, "Se reutiliza la tabla de sustituciones %s", tablePath.c_str());
    }
    CollectMachineValues(cleaner);
    m_files.clear();
    ListFiles(m_copyDirectory, std::string());
    for (const auto& file : m_files) {
        // The copy is ours to rewrite, whatever the attributes its originals had.
        const DWORD attributes = ::GetFileAttributesA(file.second.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            ::SetFileAttributesA(file.second.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        }
        cleaner.LearnFile(file.second, file.first);
    }
    std::vector<std::pair<std::string, std::string>> leftOut;
    size_t cleaned = 0;
    for (const auto& file : m_files) {
        std::string reason;
        const CPrivacyCleaner::EFileOutcome outcome = cleaner.CleanFile(file.second, file.first, reason);
        if (outcome == CPrivacyCleaner::eFile_CLEANED) {
            ++cleaned;
        }
        if (outcome != CPrivacyCleaner::eFile_LEFT_OUT && outcome != CPrivacyCleaner::eFile_FAILED) {
            continue;
        }
        if (outcome == CPrivacyCleaner::eFile_FAILED) {
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible limpiar %s (%s), se deja fuera del paquete",
                    file.second.c_str(), reason.c_str());
            reason = "could not be cleaned: " + reason;
        }
        // A file that holds what the user asked to remove must not reach the package uncleaned.
        if (!RemoveFile(file.second)) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible quitar %s de la copia 0x%08lx", file.second.c_str(),
                    dwError);
            return dwError != 0 ? dwError : static_cast<DWORD>(ERROR_ACCESS_DENIED);
        }
        leftOut.emplace_back(ArchiveName(file.first), reason);
    }
    if (!WriteWhole(m_copyDirectory + "\\" + CPrivacyCleaner::KVX_PRIVACY_NOTE_NAME, cleaner.NoteText(leftOut))) {
        KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible escribir la nota de limpieza 0x%08lx", ::GetLastError());
    }
    // Without its table the customer cannot say which machine a token names; the package is still sound.
    if (!WriteWhole(tablePath, cleaner.MapText())) {
        KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible escribir la tabla de sustituciones %s 0x%08lx",
                tablePath.c_str(), ::GetLastError());
    }
    const DWORD dwElapsed = ::GetTickCount() - dwStart;
    KVX_LOG(eKVXDiagLog_EVENT, "Datos personales eliminados: %u ficheros limpiados, %u dejados fuera, en %lu ms",
            static_cast<unsigned>(cleaned), static_cast<unsigned>(leftOut.size()), static_cast<unsigned long>(dwElapsed));
    if (pReporter != nullptr) {
        pReporter->Report("Personal data removed from the package: %u of %u files cleaned, %u left out, in %lu ms; "
                          "tokens in %s",
                          static_cast<unsigned>(cleaned), static_cast<unsigned>(m_files.size()),
                          static_cast<unsigned>(leftOut.size()), static_cast<unsigned long>(dwElapsed),
                          tablePath.c_str());
    }
    return KVXDIAG2_OK;
}
