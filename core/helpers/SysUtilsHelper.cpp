// System utilities: privileges, restart, directories and registry hives. The console-program runner
// lives in SysUtilsHelperProgram.cpp and the ZIP packing in SysUtilsHelperCompress.cpp.
#include "core/helpers/SysUtilsHelper.h"

#include "common/log/GuardedOperation.h"
#include "common/win/UniqueHandles.h"
#include "core/helpers/PackageCopyFeed.h"
#include "core/interface/KVXDiagTypes.h"

#include <new>

const DWORD CSysUtilsHelper::s_dwFactoryRegistration = CSysUtilsHelper::PerformFactoryRegistration();

namespace {

// The directory walker works on MAX_PATH buffers in the platform's A calls; the path, the separator
// appended to it and the terminator must fit.
constexpr size_t KVX_MAX_TREE_PATH = MAX_PATH - 2;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool PathExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string WithTrailingBackslash(const std::string& path)
{
    if (!path.empty() && IsSeparator(path.back())) {
        return path;
    }
    return path + '\\';
}

// Splits off the part of the path that is never created: "C:\", "\\server\share\" or a lone "\".
// Keeping a leading backslash keeps the tree rooted where the caller meant it; dropping it (as a
// drive-only split would) makes the tree relative to the current directory.
size_t SplitRoot(const std::string& path, std::string& root)
{
    if (path.size() >= 2 && path[1] == ':') {
        root = path.substr(0, 2) + '\\';
        return 2;
    }
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        size_t pos = 2;
        for (int part = 0; part < 2 && pos < path.size(); ++part) {
            size_t end = pos;
            while (end < path.size() && !IsSeparator(path[end])) {
                ++end;
            }
            pos = end < path.size() ? end + 1 : end;
        }
        root = path.substr(0, pos);
        if (root.empty() || !IsSeparator(root.back())) {
            root += '\\';
        }
        return pos;
    }
    if (!path.empty() && IsSeparator(path[0])) {
        root = "\\";
        return 1;
    }
    root.clear();
    return 0;
}

} // namespace

DWORD CSysUtilsHelper::Reboot()
{
    KVX_FUNCTION("CSysUtilsHelper::Reboot");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        kvx::UniqueHandle token;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Ha fallado la apertura del token 0x%08lx", dwError);
            return dwError;
        }
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!::LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Ha fallado la obtencion de LUID del privilegio '%s' 0x%08lx", SE_SHUTDOWN_NAME,
                    dwError);
            return dwError;
        }
        if (!::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) {
            KVX_LOG(eKVXDiagLog_ERROR, "No se ha podido ajustar el privilegio '%s' 0x%08lx", SE_SHUTDOWN_NAME,
                    ::GetLastError());
            return 0xFFFFFFFFu;
        }
        // A refused restart must not look like one under way: the deep analysis would wait for a
        // reboot that never comes.
        if (!::ExitWindowsEx(EWX_REBOOT, 0)) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_SYSTEM, "ExitWindowsEx ha fallado 0x%08lx", dwError);
            return dwError;
        }
        return KVXDIAG2_OK;
    });
}

DWORD CSysUtilsHelper::IsPrivilegeEnabled(const std::string& strPrivilege, bool& bEnabled)
{
    KVX_FUNCTION("CSysUtilsHelper::IsPrivilegeEnabled");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        kvx::UniqueHandle token;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, token.put())) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Ha fallado la apertura del token 0x%08lx", dwError);
            return dwError;
        }
        // PrivilegeCheck wants an impersonation token; Windows refuses the primary token of the
        // process with ERROR_NO_IMPERSONATION_TOKEN, so ask about an impersonation copy of it.
        kvx::UniqueHandle impersonation;
        if (!::DuplicateToken(token.get(), SecurityImpersonation, impersonation.put())) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Ha fallado la apertura del token 0x%08lx", dwError);
            return dwError;
        }
        PRIVILEGE_SET set = {};
        set.PrivilegeCount = 1;
        set.Control = PRIVILEGE_SET_ALL_NECESSARY;
        set.Privilege[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!::LookupPrivilegeValueA(nullptr, strPrivilege.c_str(), &set.Privilege[0].Luid)) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Ha fallado la obtencion de LUID del privilegio '%s' 0x%08lx",
                    strPrivilege.c_str(), dwError);
            return dwError;
        }
        BOOL bResult = FALSE;
        if (!::PrivilegeCheck(impersonation.get(), &set, &bResult)) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Ha fallado la comprobacion de privilegios para el privilegio '%s' 0x%08lx",
                    strPrivilege.c_str(), dwError);
            return dwError;
        }
        bEnabled = bResult != FALSE;
        return KVXDIAG2_OK;
    });
}

DWORD CSysUtilsHelper::SetPrivilegeState(const std::string& strPrivilege, bool bEnable)
{
    KVX_FUNCTION("CSysUtilsHelper::SetPrivilegeState");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        kvx::UniqueHandle token;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Ha fallado la apertura del token 0x%08lx", dwError);
            return dwError;
        }
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = bEnable ? SE_PRIVILEGE_ENABLED : 0;
        if (!::LookupPrivilegeValueA(nullptr, strPrivilege.c_str(), &privileges.Privileges[0].Luid)) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Ha fallado la obtencion de LUID del privilegio '%s' 0x%08lx",
                    strPrivilege.c_str(), dwError);
            return dwError;
        }
        // AdjustTokenPrivileges succeeds also when the account lacks the privilege; only the last
        // error (ERROR_NOT_ALL_ASSIGNED) tells, so it is read at once.
        ::SetLastError(ERROR_SUCCESS);
        if (!::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "No se ha podido ajustar el privilegio '%s' 0x%08lx", strPrivilege.c_str(),
                    dwError);
            return dwError;
        }
        return ::GetLastError();
    });
}

DWORD CSysUtilsHelper::MakeDirectoryTree(const std::string& strPath)
{
    KVX_FUNCTION("CSysUtilsHelper::MakeDirectoryTree");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        if (strPath.empty()) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! La ruta del directorio a crear esta vacia.");
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        if (strPath.size() > KVX_MAX_TREE_PATH) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! La ruta del directorio a crear es demasiado larga (%u caracteres): %s",
                    static_cast<unsigned>(strPath.size()), strPath.c_str());
            return ERROR_FILENAME_EXCED_RANGE;
        }
        std::string prefix;
        size_t pos = SplitRoot(strPath, prefix);
        while (pos < strPath.size()) {
            size_t end = pos;
            while (end < strPath.size() && !IsSeparator(strPath[end])) {
                ++end;
            }
            if (end > pos) {
                prefix.append(strPath, pos, end - pos);
                // Existing directories (and a concurrent creator's) are passed over, so making an
                // existing tree succeeds.
                if (!PathExists(prefix) && !::CreateDirectoryA(prefix.c_str(), nullptr)) {
                    const DWORD dwError = ::GetLastError();
                    if (dwError != ERROR_ALREADY_EXISTS) {
                        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo crear el directorio %s 0x%08lx", prefix.c_str(),
                                dwError);
                        return dwError;
                    }
                }
                prefix += '\\';
            }
            pos = end + 1;
        }
        return KVXDIAG2_OK;
    });
}

DWORD CSysUtilsHelper::GetCurrentProcessFullPath(std::string& strPath)
{
    KVX_FUNCTION("CSysUtilsHelper::GetCurrentProcessFullPath");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        char buffer[MAX_PATH] = {};
        const DWORD dwLength = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
        if (dwLength == 0) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Error! GetModuleFileNameA ha fallado 0x%08lx", dwError);
            return dwError;
        }
        // A full buffer means a cut path (older systems do not even terminate it); a cut path would
        // name another file, so it is refused.
        if (dwLength >= sizeof buffer) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! La ruta del programa no cabe en MAX_PATH.");
            return ERROR_FILENAME_EXCED_RANGE;
        }
        strPath.assign(buffer, dwLength);
        return KVXDIAG2_OK;
    });
}

DWORD CSysUtilsHelper::MakeTempDirectory(const std::string& strName, std::string& strPath)
{
    KVX_FUNCTION("CSysUtilsHelper::MakeTempDirectory");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        // An empty name would make the candidate the temporary directory itself.
        if (strName.empty()) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El nombre del directorio temporal esta vacio.");
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        const DWORD dwNeeded = ::GetTempPathA(0, nullptr);
        if (dwNeeded == 0) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Error! GetTempPathA ha fallado 0x%08lx", dwError);
            return dwError;
        }
        std::string temp;
        try {
            temp.resize(dwNeeded + 1);
        } catch (const std::bad_alloc&) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        const DWORD dwLength = ::GetTempPathA(static_cast<DWORD>(temp.size()), &temp[0]);
        if (dwLength == 0) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "Error! GetTempPathA ha fallado 0x%08lx", dwError);
            return dwError;
        }
        if (dwLength >= temp.size()) {
            return ERROR_BUFFER_OVERFLOW; // the variable changed between the two calls
        }
        temp.resize(dwLength);

        std::string candidate = temp + strName;
        for (;;) {
            // CreateDirectoryA is the existence test and the creation in one step, so two runs started
            // together cannot both take the same name; it also answers "exists" for a file.
            if (candidate.size() <= KVX_MAX_TREE_PATH && ::CreateDirectoryA(candidate.c_str(), nullptr)) {
                break;
            }
            const DWORD dwError = candidate.size() <= KVX_MAX_TREE_PATH ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
            if (dwError == ERROR_ALREADY_EXISTS) {
                candidate += '_';
                continue;
            }
            // The temporary directory itself may be missing: make the whole tree.
            const DWORD dwTree = MakeDirectoryTree(candidate);
            if (dwTree != KVXDIAG2_OK) {
                KVX_LOG(eKVXDiagLog_ERROR, "Error! No fue posible crear el directorio temporal %s 0x%08lx",
                        candidate.c_str(), dwTree);
                return KVXDIAG2_ERR_FAILED;
            }
            break;
        }
        strPath = candidate;
        return KVXDIAG2_OK;
    });
}

DWORD CSysUtilsHelper::SaveRegistryKey(HKEY hRoot, const std::string& strSubKey, const std::string& strFile)
{
    KVX_FUNCTION("CSysUtilsHelper::SaveRegistryKey");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        // RegSaveKeyA refuses to replace a file, so an older export is removed first.
        ::DeleteFileA(strFile.c_str());
        kvx::UniqueHkey key;
        const LONG lOpen = ::RegOpenKeyExA(hRoot, strSubKey.c_str(), 0, MAXIMUM_ALLOWED, key.put());
        if (lOpen != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo abrir la clave '%s' 0x%08lx", strSubKey.c_str(),
                    static_cast<unsigned long>(lOpen));
            return static_cast<DWORD>(lOpen);
        }
        const LONG lSave = ::RegSaveKeyA(key.get(), strFile.c_str(), nullptr);
        if (lSave != ERROR_SUCCESS) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo guardar la clave '%s' en '%s' 0x%08lx", strSubKey.c_str(),
                    strFile.c_str(), static_cast<unsigned long>(lSave));
        }
        return static_cast<DWORD>(lSave);
    });
}

bool CSysUtilsHelper::AddFilesToVector(const std::string& strDirectory, std::vector<std::string>& files)
{
    KVX_FUNCTION("CSysUtilsHelper::AddFilesToVector");
    return kvx::GuardedCall(kvxFunctionName_, kvx::KVX_EXCEPTION_TEXT, false, [&]() -> bool {
        const std::string directory = WithTrailingBackslash(strDirectory);
        WIN32_FIND_DATAA data = {};
        kvx::UniqueFindHandle find(::FindFirstFileA((directory + "*.*").c_str(), &data));
        if (!find) {
            KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo recorrer el directorio %s 0x%08lx", directory.c_str(),
                    ::GetLastError());
            return false;
        }
        do {
            const std::string name = data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (name == "." || name == "..") {
                    continue;
                }
                // A junction can point back up the tree; following it would never end.
                if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    KVX_LOG(eKVXDiagLog_EVENT, "Se omite el punto de reanálisis %s%s", directory.c_str(), name.c_str());
                    continue;
                }
                if (!AddFilesToVector(directory + name + '\\', files)) {
                    return false;
                }
            } else {
                files.push_back(directory + name);
            }
        } while (::FindNextFileA(find.get(), &data));
        return true;
    });
}

DWORD CSysUtilsHelper::CloneDirectory(const std::string& strSource, const std::string& strDestination)
{
    KVX_FUNCTION("CSysUtilsHelper::CloneDirectory");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        // An empty source would become "\" and clone the root of the current drive.
        if (strSource.empty() || strDestination.empty()) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El directorio origen o destino esta vacio.");
            return KVXDIAG2_ERR_BAD_PARAMETER;
        }
        const std::string source = WithTrailingBackslash(strSource);
        const std::string destination = WithTrailingBackslash(strDestination);
        std::vector<std::string> files;
        if (!AddFilesToVector(source, files)) {
            return ERROR_DIRECTORY;
        }
        // Pack and send packs each file as soon as it is here (see CPackageCopyFeed).
        CPackageCopyFeed* pFeed = CPackageCopyFeed::OfThisThread();
        for (const std::string& file : files) {
            const std::string target = destination + file.substr(source.size());
            const std::string targetDirectory = target.substr(0, target.find_last_of("\\/"));
            if (!PathExists(targetDirectory)) {
                MakeDirectoryTree(targetDirectory); // a failure shows in the copy below
            }
            if (!::CopyFileA(file.c_str(), target.c_str(), FALSE)) {
                const DWORD dwError = ::GetLastError();
                KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo copiar %s en %s 0x%08lx", file.c_str(), target.c_str(),
                        dwError);
                return dwError;
            }
            if (pFeed != nullptr) {
                pFeed->Copied(file.substr(source.size()), target);
            }
        }
        return KVXDIAG2_OK;
    });
}
