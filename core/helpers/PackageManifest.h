// The package's list of contents, "KVXManifest.sha256": one line per packed file in packing order,
// "<SHA-256>  <path with forward slashes>", so that `sha256sum -c` checks an extracted package. It is
// written at the root of the folder being packed once every other file is packed, and packed last; it
// does not list itself (its digest would have to cover its own text).
//
// The files are hashed on a thread of the manifest's own while the packer compresses them, so on a
// machine with a second core the manifest costs the packing next to nothing: the packer only queues
// each file before adding it.
//
// A file that could not be read is listed as "UNREADABLE (error <code>: <reason>)  <path>": never a
// digest that could pass for the file's, and a line that checkers report as improperly formatted.
#pragma once

#include "common/win/UniqueHandles.h"
#include "core/helpers/CngSha256.h"

#include <windows.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

class CPackageManifest {
public:
    static constexpr const char* KVX_MANIFEST_FILE_NAME = "KVXManifest.sha256";

    CPackageManifest() = default;
    ~CPackageManifest();
    CPackageManifest(const CPackageManifest&) = delete;
    CPackageManifest& operator=(const CPackageManifest&) = delete;

    // Opens the system's SHA-256 and starts the hashing thread; 0 or a Windows error code, and then
    // nothing can be listed. Without the thread (it could not be created) Write hashes everything.
    DWORD Start();
    // The next file in packing order; relativePath uses backslashes.
    void AddFile(const std::string& relativePath, const std::string& path);
    // Every file below the directory in packing order, for a folder that is not being packed.
    DWORD AddDirectory(const std::string& directory);
    // A file that is not packed because it could not be copied; listed after the packed files.
    void AddUnreadable(const std::string& relativePath, DWORD dwError);
    // Waits for every digest, hashing what is still queued on the calling thread as well, writes the
    // manifest file into the directory and logs how that went.
    DWORD Write(const std::string& directory);
    // The folder's own file of the manifest's name (at the root) is never listed or packed as one of
    // its files: the manifest takes its place.
    static bool IsManifest(const std::string& archiveName);

    bool Written() const { return m_written; }
    size_t Listed() const { return m_listed; }
    size_t Unreadable() const { return m_unreadable; }

    static std::string UnreadableLine(const std::string& relativePath, DWORD dwError);

    // The manifest that a packing of a folder on this thread completes, for as long as the scope
    // lives. Pack and send opens one around its compress task, which runs on the job's own thread.
    class CScope {
    public:
        explicit CScope(CPackageManifest& manifest);
        ~CScope();
        CScope(const CScope&) = delete;
        CScope& operator=(const CScope&) = delete;

    private:
        CPackageManifest* m_previous;
    };
    static CPackageManifest* OfThisThread();

private:
    struct SFile {
        std::string m_relativePath;
        std::string m_path;
        std::string m_digest;
        DWORD m_dwError = ERROR_NOT_READY;
    };
    static DWORD WINAPI ThreadMain(LPVOID pParameter);
    // Hashes queued files until none is left; the manifest's thread waits for more until told to end.
    void HashQueued(CCngSha256& hasher, bool waitForMore);
    void Stop();

    CCngSha256 m_threadHasher;
    CCngSha256 m_callerHasher;
    std::deque<SFile> m_files; // references stay valid while files are added
    size_t m_nextToHash = 0;
    std::vector<std::pair<std::string, DWORD>> m_notPacked;
    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
    bool m_ending = false;
    kvx::UniqueHandle m_thread;
    bool m_started = false;
    bool m_written = false;
    size_t m_listed = 0;
    size_t m_unreadable = 0;
};
