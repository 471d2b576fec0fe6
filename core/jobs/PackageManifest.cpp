#include "core/jobs/PackageManifest.h"

#include "common/win/UniqueHandles.h"
#include "core/archive/ZipFolderPacker.h"
#include "core/helpers/CngSha256.h"
#include "core/interface/KVXDiagTypes.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

namespace {

struct SFileDigest {
    std::string m_digest;
    DWORD m_dwError = KVXDIAG2_OK;
};

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

// The hash is the whole cost of a manifest, and on a machine with more than one core the files are
// hashed on as many threads (up to four: beyond that the disk, not the hash, sets the pace). The
// calling thread takes part with the manifest's own hasher; each other thread opens its own.
struct SHashingWork {
    const std::vector<SPackedItem>& m_files;
    std::vector<SFileDigest>& m_digests;
    std::atomic<size_t> m_next{0};

    void Run(CCngSha256& hasher)
    {
        for (size_t i = m_next++; i < m_files.size(); i = m_next++) {
            try {
                m_digests[i].m_dwError = hasher.HashFile(m_files[i].m_path, m_digests[i].m_digest);
            } catch (const std::bad_alloc&) {
                m_digests[i].m_dwError = ERROR_NOT_ENOUGH_MEMORY;
            }
        }
    }
};

DWORD WINAPI HashOnOwnThread(LPVOID pParameter)
{
    SHashingWork& work = *static_cast<SHashingWork*>(pParameter);
    CCngSha256 hasher;
    if (hasher.Open() == KVXDIAG2_OK) {
        work.Run(hasher);
    }
    return 0;
}

constexpr size_t KVX_MANIFEST_MAX_THREADS = 4;

void HashFiles(CCngSha256& hasher, const std::vector<SPackedItem>& files, std::vector<SFileDigest>& digests)
{
    SYSTEM_INFO system = {};
    ::GetSystemInfo(&system);
    const size_t threads = std::min({static_cast<size_t>(std::max<DWORD>(system.dwNumberOfProcessors, 1)),
                                     KVX_MANIFEST_MAX_THREADS, std::max<size_t>(files.size(), 1)});
    SHashingWork work{files, digests};
    std::vector<kvx::UniqueHandle> helpers;
    helpers.reserve(threads); // no reallocation once a thread holds the work
    for (size_t i = 1; i < threads; ++i) {
        kvx::UniqueHandle thread(::CreateThread(nullptr, 0, &HashOnOwnThread, &work, 0, nullptr));
        if (thread) {
            helpers.push_back(std::move(thread));
        }
    }
    work.Run(hasher);
    for (const kvx::UniqueHandle& thread : helpers) {
        ::WaitForSingleObject(thread.get(), INFINITE);
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
    std::vector<SPackedItem> files;
    const ZRESULT walked = CZipFolderPacker::Walk(directory, std::string(), [&files](const SPackedItem& item) {
        if (!item.m_isDirectory) {
            files.push_back(item);
        }
        return KVXZIP_OK;
    });
    if (walked != KVXZIP_OK) {
        return static_cast<DWORD>(ERROR_DIRECTORY);
    }
    std::vector<SFileDigest> digests(files.size());
    HashFiles(m_hasher, files, digests);
    for (size_t i = 0; i < files.size(); ++i) {
        if (digests[i].m_dwError == KVXDIAG2_OK) {
            m_text += digests[i].m_digest + "  " + ManifestPath(files[i].m_archiveName) + "\n";
            ++m_listed;
        } else {
            AddUnreadable(files[i].m_archiveName, digests[i].m_dwError);
        }
    }
    return KVXDIAG2_OK;
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
