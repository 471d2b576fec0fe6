// The files of a package as they are copied into the stable copy, handed one by one from the thread
// that copies to the thread that packs: a file is compressed as soon as it is copied (and, when a
// transform is set, transformed), while the next one is being copied.
//
// The order of a file is: copy, then the transform on the copy (the privacy cleaning plugs in here),
// then packing with its digest. A file whose copy or transform failed is handed over with the reason
// and is listed in the manifest as unreadable instead of being packed; a copy that the transform
// could not finish is removed, so that no file escapes it.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

class CPackageCopyFeed {
public:
    // Called on the copying thread with the copy's full path and the file's path relative to the
    // package root (backslashes); 0, or a Windows error code that keeps the file out of the package.
    using FileTransform = std::function<DWORD(const std::string& copiedPath, const std::string& relativePath)>;
    // What a transform answers for a file that is left out of the package on purpose (a file that
    // cannot be cleaned, the table of tokens): its copy is removed, and it is neither packed nor listed
    // as unreadable. A code with the customer bit, so no Windows error is taken for it.
    static constexpr DWORD LEFT_OUT = 0x20000001;

    struct SItem {
        std::string m_relativePath;
        std::string m_copiedPath;
        DWORD m_dwError = 0; // not 0: not copied, or not transformed, for this reason
    };

    explicit CPackageCopyFeed(FileTransform transform = FileTransform()) : m_transform(std::move(transform)) {}
    CPackageCopyFeed(const CPackageCopyFeed&) = delete;
    CPackageCopyFeed& operator=(const CPackageCopyFeed&) = delete;

    // The copying side. Each file once; a file already handed over is not handed over again.
    void Copied(const std::string& relativePath, const std::string& copiedPath);
    void NotCopied(const std::string& relativePath, DWORD dwError);
    bool Has(const std::string& relativePath);
    // No more files; the packing side gets false from Next once it has taken every file.
    void Finish();
    // The files that are not in the package, with the reason (after Finish).
    std::vector<std::pair<std::string, DWORD>> Failures();

    // The packing side: waits for the next file, in the order of copying.
    bool Next(SItem& item);

    // The feed that a copy or a packing on this thread works with, for as long as the scope lives.
    class CScope {
    public:
        explicit CScope(CPackageCopyFeed& feed);
        ~CScope();
        CScope(const CScope&) = delete;
        CScope& operator=(const CScope&) = delete;

    private:
        CPackageCopyFeed* m_previous;
    };
    static CPackageCopyFeed* OfThisThread();

private:
    void Publish(SItem item);

    FileTransform m_transform;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<SItem> m_items;
    std::set<std::string> m_handedOver;
    std::vector<std::pair<std::string, DWORD>> m_failures;
    bool m_finished = false;
};
