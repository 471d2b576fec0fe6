// Packing a folder into a ZIP archive: the folder becomes the current directory for the time of the
// walk, the archive writer (core/archive) writes the records. A package (a packing inside the scope of
// a manifest) also gets its manifest, packed last, and the diagnostic log gets the archive's digest.
#include "core/helpers/SysUtilsHelper.h"

#include "common/log/GuardedOperation.h"
#include "core/archive/ZipArchive.h"
#include "core/archive/ZipFolderPacker.h"
#include "core/helpers/BackgroundSha256.h"
#include "core/helpers/CngSha256.h"
#include "core/helpers/PackageCopyFeed.h"
#include "core/helpers/PackageManifest.h"
#include "core/interface/KVXDiagTypes.h"

#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD KVXSYSUTILS_ERR_ADD_TO_ARCHIVE = 1127; // 0x467
constexpr unsigned KVXSYSUTILS_ZIP_TEXT_SIZE = 1024;

// Current directory of any length: the A call reports the size it needs when the buffer is short.
bool GetCurrentDirectoryString(std::string& path)
{
    std::vector<char> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD n = ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n == 0) {
            return false;
        }
        if (n < buffer.size()) {
            path.assign(buffer.data(), n);
            return true;
        }
        buffer.resize(n + 1);
    }
    return false;
}

// A relative path made absolute against the current directory, before that directory changes.
std::string FullPath(const std::string& path)
{
    std::vector<char> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (n == 0) {
            return path;
        }
        if (n < buffer.size()) {
            return std::string(buffer.data(), n);
        }
        buffer.resize(n + 1);
    }
    return path;
}

// Puts the remembered current directory back on every way out of CompressFolder.
class CCurrentDirectoryRestorer {
public:
    explicit CCurrentDirectoryRestorer(std::string path) : m_path(std::move(path)) {}
    ~CCurrentDirectoryRestorer()
    {
        if (!m_path.empty()) {
            ::SetCurrentDirectoryA(m_path.c_str());
        }
    }
    CCurrentDirectoryRestorer(const CCurrentDirectoryRestorer&) = delete;
    CCurrentDirectoryRestorer& operator=(const CCurrentDirectoryRestorer&) = delete;

private:
    std::string m_path;
};

std::string ZipResultText(ZRESULT result)
{
    char text[KVXSYSUTILS_ZIP_TEXT_SIZE] = {};
    DescribeZipResult(result, text, sizeof(text));
    return text;
}

// Support compares this digest with the file they receive. It was taken from the bytes on their way
// to the disk; when that view was lost (a failed write, or an entry of an archive without a password
// too large to hold back until its header is rewritten) or never existed, the finished file is read
// again.
void LogArchiveDigest(CCngSha256& sha256, DWORD dwOpened, CBackgroundSha256* pStreamed, const std::string& archivePath)
{
    KVX_FUNCTION_QUIET("CSysUtilsHelper::CompressFolder");
    std::string digest;
    DWORD dwResult = dwOpened;
    if (dwResult == KVXDIAG2_OK && (pStreamed == nullptr || pStreamed->Finish(digest) != KVXDIAG2_OK)) {
        dwResult = sha256.HashFile(archivePath, digest);
    }
    if (dwResult == KVXDIAG2_OK) {
        KVX_LOG(eKVXDiagLog_EVENT, "SHA-256 del paquete %s: %s", archivePath.c_str(), digest.c_str());
    } else {
        KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible calcular el SHA-256 del paquete %s 0x%08lx",
                archivePath.c_str(), dwResult);
    }
}

// The files of a copy being made, packed in the order they arrive. The copy holds no directory
// without a file (the clone makes only the parents of files), so each folder entry is made just before
// the first file below it: where a walk of the finished copy would put it.
ZRESULT AddCopiedFiles(HZIPARCHIVE hZip, CPackageCopyFeed& feed, CPackageManifest* pManifest)
{
    std::set<std::string> folders;
    CPackageCopyFeed::SItem item;
    while (feed.Next(item)) {
        const std::string& name = item.m_relativePath;
        if (item.m_dwError != 0) {
            if (pManifest != nullptr) {
                pManifest->AddUnreadable(name, item.m_dwError);
            }
            continue;
        }
        if (pManifest != nullptr && CPackageManifest::IsManifest(name)) {
            continue;
        }
        for (size_t slash = name.find('\\'); slash != std::string::npos; slash = name.find('\\', slash + 1)) {
            const std::string folder = name.substr(0, slash);
            if (folders.insert(folder).second) {
                const ZRESULT result = AddFolderEntry(hZip, folder.c_str());
                if (result != KVXZIP_OK) {
                    return result;
                }
            }
        }
        if (pManifest != nullptr) {
            pManifest->AddFile(name, item.m_copiedPath);
        }
        const ZRESULT result = AddFileEntry(hZip, name.c_str(), item.m_copiedPath.c_str());
        if (result != KVXZIP_OK) {
            return result;
        }
    }
    return KVXZIP_OK;
}

} // namespace

DWORD CSysUtilsHelper::CompressFolder(const std::string& strFolder, const std::string& strPassword,
                                      const std::string& strArchivePath)
{
    KVX_FUNCTION("CSysUtilsHelper::CompressFolder");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        KVX_LOG(eKVXDiagLog_INFO, "Comprimiendo directorio '%s' en el archivo '%s'.", strFolder.c_str(),
                strArchivePath.c_str());
        // Both paths are made absolute first: a relative archive path or folder would otherwise be
        // taken relative to the folder once it is the current directory.
        const std::string archivePath = FullPath(strArchivePath);
        const std::string folder = FullPath(strFolder);
        std::string previous;
        GetCurrentDirectoryString(previous);
        if (!::SetCurrentDirectoryA(strFolder.c_str())) {
            const DWORD dwError = ::GetLastError();
            KVX_LOG(eKVXDiagLog_ERROR, "No se ha podido acceder al directorio a comprimir, error 0x%08lx", dwError);
            return dwError;
        }
        CCurrentDirectoryRestorer restorer(previous);

        CCngSha256 sha256;
        const DWORD dwOpened = sha256.Open();
        CBackgroundSha256 streamed(sha256);
        const bool tapped = dwOpened == KVXDIAG2_OK && streamed.Start() == KVXDIAG2_OK;
        HZIPARCHIVE hZip = CreateArchive(archivePath.c_str(), strPassword.empty() ? nullptr : strPassword.c_str(),
                                         tapped ? &streamed : nullptr);
        if (hZip == nullptr) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "No se ha podido crear el archivo ZIP.");
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        const DWORD dwAdded = AddDirectoryToArchive(hZip, folder, std::string());
        const ZRESULT closed = CloseArchive(hZip);
        DWORD dwResult = KVXDIAG2_OK;
        if (dwAdded != KVXZIP_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "No se ha podido añadir el directorio al archivo, resultado de ZIP %d. (%s)",
                    static_cast<int>(dwAdded), ZipResultText(dwAdded).c_str());
            dwResult = KVXSYSUTILS_ERR_ADD_TO_ARCHIVE;
        } else if (closed != KVXZIP_OK) {
            // The central directory did not make it to the disk (a volume that filled up at the end):
            // the package cannot be opened, so this is a failure like any other.
            KVX_LOG(eKVXDiagLog_ERROR, "No se ha podido cerrar el archivo ZIP, resultado de ZIP %d. (%s)",
                    static_cast<int>(closed), ZipResultText(closed).c_str());
            dwResult = KVXSYSUTILS_ERR_ADD_TO_ARCHIVE;
        }
        if (dwResult == KVXDIAG2_OK) {
            LogArchiveDigest(sha256, dwOpened, tapped ? &streamed : nullptr, archivePath);
        } else if (!::DeleteFileA(archivePath.c_str())) {
            // A half-written package left at the destination could be sent as if it were complete.
            KVX_LOG(eKVXDiagLog_ERROR, "No se ha podido borrar el archivo ZIP incompleto, error 0x%08lx",
                    ::GetLastError());
        }
        return dwResult;
    });
}

DWORD CSysUtilsHelper::AddDirectoryToArchive(HANDLE hArchive, const std::string& strBaseFolder,
                                             const std::string& strRelativePath)
{
    KVX_FUNCTION("CSysUtilsHelper::AddDirectoryToArchive");
    try {
        // Folder entries ahead of their contents, names relative to the base folder with backslashes
        // (the writer turns them into slashes); the first failing entry ends the walk with its code.
        const HZIPARCHIVE hZip = static_cast<HZIPARCHIVE>(hArchive);
        CPackageManifest* pManifest = CPackageManifest::OfThisThread();
        CPackageCopyFeed* pFeed = CPackageCopyFeed::OfThisThread();
        if (pManifest == nullptr || !strRelativePath.empty()) {
            return pFeed != nullptr && strRelativePath.empty() ? AddCopiedFiles(hZip, *pFeed, nullptr)
                                                               : CZipFolderPacker::AddDirectory(hZip, strBaseFolder,
                                                                                                strRelativePath);
        }
        // A package: each file is queued for its digest as it is packed, and the manifest goes last,
        // in place of any file of that name the folder already held.
        const ZRESULT added =
            pFeed != nullptr ? AddCopiedFiles(hZip, *pFeed, pManifest)
                             : CZipFolderPacker::Walk(strBaseFolder, std::string(), [&](const SPackedItem& item) {
                                   if (item.m_isDirectory) {
                                       return AddFolderEntry(hZip, item.m_archiveName.c_str());
                                   }
                                   if (CPackageManifest::IsManifest(item.m_archiveName)) {
                                       return KVXZIP_OK;
                                   }
                                   pManifest->AddFile(item.m_archiveName, item.m_path);
                                   return AddFileEntry(hZip, item.m_archiveName.c_str(), item.m_path.c_str());
                               });
        if (added != KVXZIP_OK) {
            return added;
        }
        if (pManifest->Write(strBaseFolder) != KVXDIAG2_OK) {
            return KVXZIP_OK; // without a manifest the package is still worth sending
        }
        const std::string manifestPath = strBaseFolder + "\\" + CPackageManifest::KVX_MANIFEST_FILE_NAME;
        return AddFileEntry(hZip, CPackageManifest::KVX_MANIFEST_FILE_NAME, manifestPath.c_str());
    } catch (...) {
        KVX_LOG(eKVXDiagLog_EXCEPTION, "Excepción no controlada!! LastError: %lu", ::GetLastError());
        return KVXZIP_ERR_FLATE;
    }
}
