#include "core/jobs/PackageManifest.h"

#include "common/win/UniqueHandles.h"
#include "core/archive/ZipFolderPacker.h"
#include "core/helpers/CngSha256.h"
#include "core/interface/KVXDiagTypes.h"

#include <algorithm>

namespace {

std::string ManifestPath(std::string relativePath)
{
    std::replace(relativePath.begin(), relativePath.end(), '\\', '/');
    return relativePath;
}

// Plain English words, never the system's localised message: support reads these on another machine.
const char* ReasonText(DWORD dwError)
{
    switch (dwError) {
    case ERROR_SHARING_VIOLATION:
        return "in use by another program";
    case ERROR_LOCK_VIOLATION:
        return "locked by another program";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "gone before it could be read";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "no space left to copy it";
    default:
        return "could not be read";
    }
}

} // namespace

std::string CPackageManifest::UnreadableLine(const std::string& relativePath, DWORD dwError)
{
    return "UNREADABLE (error " + std::to_string(dwError) + ": " + ReasonText(dwError) + ")  " +
        ManifestPath(relativePath) + "\n";
}

DWORD CPackageManifest::AddDirectory(const std::string& directory)
{
    const ZRESULT walked = CZipFolderPacker::Walk(directory, std::string(), [this](const SPackedItem& item) {
        if (item.m_isDirectory) {
            return KVXZIP_OK;
        }
        std::string digest;
        const DWORD dwHashed = m_hasher.HashFile(item.m_path, digest);
        if (dwHashed == KVXDIAG2_OK) {
            m_text += digest + "  " + ManifestPath(item.m_archiveName) + "\n";
            ++m_listed;
        } else {
            AddUnreadable(item.m_archiveName, dwHashed);
        }
        return KVXZIP_OK;
    });
    return walked == KVXZIP_OK ? KVXDIAG2_OK : static_cast<DWORD>(ERROR_DIRECTORY);
}

void CPackageManifest::AddUnreadable(const std::string& relativePath, DWORD dwError)
{
    m_text += UnreadableLine(relativePath, dwError);
    ++m_unreadable;
}

DWORD CPackageManifest::Write(const std::string& directory) const
{
    const std::string path = directory + "\\" + KVX_MANIFEST_FILE_NAME;
    kvx::UniqueFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    size_t written = 0;
    while (written < m_text.size()) {
        const DWORD dwPiece = static_cast<DWORD>(std::min<size_t>(m_text.size() - written, 1u << 20));
        DWORD dwDone = 0;
        if (!::WriteFile(file.get(), m_text.data() + written, dwPiece, &dwDone, nullptr) || dwDone == 0) {
            const DWORD dwError = ::GetLastError();
            file.reset();
            ::DeleteFileA(path.c_str()); // half a manifest would name files as missing that are not
            return dwError != 0 ? dwError : static_cast<DWORD>(ERROR_WRITE_FAULT);
        }
        written += dwDone;
    }
    return KVXDIAG2_OK;
}
