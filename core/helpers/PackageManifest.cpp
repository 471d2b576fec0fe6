#include "core/helpers/PackageManifest.h"

#include "common/log/KVXDiagObject.h"
#include "core/archive/ZipFolderPacker.h"
#include "core/interface/KVXDiagTypes.h"

#include <algorithm>
#include <new>
#include <utility>

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

thread_local CPackageManifest* t_current = nullptr;

DWORD WriteText(const std::string& path, const std::string& text)
{
    kvx::UniqueFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    size_t written = 0;
    while (written < text.size()) {
        const DWORD dwPiece = static_cast<DWORD>(std::min<size_t>(text.size() - written, 1u << 20));
        DWORD dwDone = 0;
        if (!::WriteFile(file.get(), text.data() + written, dwPiece, &dwDone, nullptr) || dwDone == 0) {
            const DWORD dwError = ::GetLastError();
            file.reset();
            ::DeleteFileA(path.c_str()); // half a manifest would name files as missing that are not
            return dwError != 0 ? dwError : static_cast<DWORD>(ERROR_WRITE_FAULT);
        }
        written += dwDone;
    }
    return KVXDIAG2_OK;
}

} // namespace

CPackageManifest::CScope::CScope(CPackageManifest& manifest) : m_previous(t_current)
{
    t_current = &manifest;
}

CPackageManifest::CScope::~CScope()
{
    t_current = m_previous;
}

CPackageManifest* CPackageManifest::OfThisThread()
{
    return t_current;
}

CPackageManifest::~CPackageManifest()
{
    Stop();
}

DWORD CPackageManifest::Start()
{
    DWORD dwResult = m_callerHasher.Open();
    if (dwResult == KVXDIAG2_OK) {
        dwResult = m_threadHasher.Open();
    }
    if (dwResult != KVXDIAG2_OK) {
        return dwResult;
    }
    m_started = true;
    m_thread.reset(::CreateThread(nullptr, 0, &CPackageManifest::ThreadMain, this, 0, nullptr));
    return KVXDIAG2_OK;
}

DWORD WINAPI CPackageManifest::ThreadMain(LPVOID pParameter)
{
    CPackageManifest& manifest = *static_cast<CPackageManifest*>(pParameter);
    manifest.HashQueued(manifest.m_threadHasher, true);
    return 0;
}

void CPackageManifest::HashQueued(CCngSha256& hasher, bool waitForMore)
{
    for (;;) {
        SFile* pFile = nullptr;
        {
            kvx::CSrwExclusiveLock lock(m_lock);
            while (waitForMore && m_nextToHash == m_files.size() && !m_ending) {
                ::SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
            }
            if (m_nextToHash == m_files.size()) {
                return;
            }
            pFile = &m_files[m_nextToHash++];
        }
        // The file is this thread's alone from here on; its result is read once both threads are done.
        try {
            pFile->m_dwError = hasher.HashFile(pFile->m_path, pFile->m_digest);
        } catch (const std::bad_alloc&) {
            pFile->m_dwError = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
}

void CPackageManifest::Stop()
{
    if (!m_thread) {
        return;
    }
    {
        kvx::CSrwExclusiveLock lock(m_lock);
        m_ending = true;
    }
    ::WakeAllConditionVariable(&m_changed);
    ::WaitForSingleObject(m_thread.get(), INFINITE);
    m_thread.reset();
}

void CPackageManifest::AddFile(const std::string& relativePath, const std::string& path)
{
    {
        kvx::CSrwExclusiveLock lock(m_lock);
        SFile file;
        file.m_relativePath = relativePath;
        file.m_path = path;
        m_files.push_back(std::move(file));
    }
    ::WakeAllConditionVariable(&m_changed);
}

DWORD CPackageManifest::AddDirectory(const std::string& directory)
{
    const ZRESULT walked = CZipFolderPacker::Walk(directory, std::string(), [this](const SPackedItem& item) {
        if (!item.m_isDirectory && !IsManifest(item.m_archiveName)) {
            AddFile(item.m_archiveName, item.m_path);
        }
        return KVXZIP_OK;
    });
    return walked == KVXZIP_OK ? KVXDIAG2_OK : static_cast<DWORD>(ERROR_DIRECTORY);
}

void CPackageManifest::AddUnreadable(const std::string& relativePath, DWORD dwError)
{
    m_notPacked.emplace_back(relativePath, dwError);
}

DWORD CPackageManifest::Write(const std::string& directory)
{
    KVX_FUNCTION_QUIET("CPackageManifest::Write");
    if (!m_started) {
        return KVXDIAG2_ERR_NOT_INITIALISED;
    }
    {
        kvx::CSrwExclusiveLock lock(m_lock);
        m_ending = true;
    }
    ::WakeAllConditionVariable(&m_changed);
    HashQueued(m_callerHasher, false);
    Stop();
    std::string text;
    m_listed = 0;
    m_unreadable = 0;
    for (const SFile& file : m_files) {
        if (file.m_dwError == KVXDIAG2_OK) {
            text += file.m_digest + "  " + ManifestPath(file.m_relativePath) + "\n";
            ++m_listed;
        } else {
            text += UnreadableLine(file.m_relativePath, file.m_dwError);
            ++m_unreadable;
        }
    }
    for (const auto& file : m_notPacked) {
        text += UnreadableLine(file.first, file.second);
        ++m_unreadable;
    }
    const DWORD dwResult = WriteText(directory + "\\" + KVX_MANIFEST_FILE_NAME, text);
    m_written = dwResult == KVXDIAG2_OK;
    if (m_written) {
        KVX_LOG(eKVXDiagLog_INFO, "Manifiesto escrito: %lu ficheros, %lu ilegibles.", static_cast<unsigned long>(m_listed),
                static_cast<unsigned long>(m_unreadable));
    } else {
        KVX_LOG(eKVXDiagLog_ERROR, "ERROR! No fue posible escribir el manifiesto en %s 0x%08lx", directory.c_str(),
                dwResult);
    }
    return dwResult;
}

bool CPackageManifest::IsManifest(const std::string& archiveName)
{
    return archiveName == KVX_MANIFEST_FILE_NAME;
}

std::string CPackageManifest::UnreadableLine(const std::string& relativePath, DWORD dwError)
{
    return "UNREADABLE (error " + std::to_string(dwError) + ": " + ReasonText(dwError) + ")  " +
        ManifestPath(relativePath) + "\n";
}
