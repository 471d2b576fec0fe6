// Nothing below the temporary folder existed before it, so anything found there that this object did
// not create (a folder, a file, a link) is a race with another program, and the extraction stops.
#include "tools/packagereader/TargetFolder.h"

#include <string_view>

#ifdef _WIN32
#include "tools/packagereader/NativePath.h"
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
constexpr int TEMPORARY_NAME_TRIES = 100;

std::vector<std::string> Components(const std::string& relative)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos) {
            end = relative.size();
        }
        if (end > start) {
            parts.push_back(relative.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

std::string StripTrailingSeparators(std::string path)
{
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
        path.pop_back();
    }
    return path;
}
} // namespace

CTargetFolder::~CTargetFolder()
{
    if (m_begun && !m_committed) {
        RemoveTemporary();
    }
#ifndef _WIN32
    if (m_fileFd >= 0) {
        ::close(m_fileFd);
    }
    if (m_rootFd >= 0) {
        ::close(m_rootFd);
    }
    if (m_parentFd >= 0) {
        ::close(m_parentFd);
    }
#endif
}

bool CTargetFolder::IsOurFolder(const std::string& relative) const { return m_folders.count(relative) != 0; }

#ifdef _WIN32

namespace {
std::wstring Join(const std::wstring& base, const std::string& relative, bool& ok)
{
    std::wstring wide;
    ok = CNativePath::ToWide(relative, wide);
    for (wchar_t& c : wide) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return base + L"\\" + wide;
}

bool IsEmptyFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    kvx::UniqueFindHandle find(::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                                  nullptr, 0));
    if (!find) {
        return false;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            return false;
        }
    } while (::FindNextFileW(find.get(), &data));
    return true;
}
} // namespace

bool CTargetFolder::Begin(const std::string& target, std::string& problem)
{
    m_target = target;
    if (!CNativePath::Extended(StripTrailingSeparators(target), m_wideTarget)) {
        problem = "the folder name " + target + " cannot be used";
        return false;
    }
    while (m_wideTarget.size() > 7 && m_wideTarget.back() == L'\\') {
        m_wideTarget.pop_back();
    }
    const size_t slash = m_wideTarget.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 >= m_wideTarget.size() || m_wideTarget.back() == L':') {
        problem = target + " names no folder that could be created";
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(m_wideTarget.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            problem = "cannot look at " + target + " (" + CNativePath::ErrorText(error) + ")";
            return false;
        }
    } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        problem = target + " exists and is a link or junction";
        return false;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        problem = target + " exists and is not a folder";
        return false;
    } else if (!IsEmptyFolder(m_wideTarget)) {
        problem = target + " exists and is not empty";
        return false;
    } else {
        m_targetExists = true;
    }
    const std::wstring parent = m_wideTarget.substr(0, slash);
    for (int i = 0; i < TEMPORARY_NAME_TRIES; ++i) {
        m_wideTemporary = parent + L"\\.kvxinspect-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(i) +
            L".tmp";
        if (::CreateDirectoryW(m_wideTemporary.c_str(), nullptr)) {
            m_begun = true;
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            problem = "cannot create a folder beside " + target + " (" + CNativePath::ErrorText(error) + ")";
            return false;
        }
    }
    problem = "cannot create a folder beside " + target + " (every temporary name is taken)";
    return false;
}

size_t CTargetFolder::NameRoom() const
{
    // Extended paths reach 32,767 UTF-16 units; a UTF-8 name never has fewer bytes than units.
    const size_t limit = 32767;
    const size_t used = (m_wideTemporary.size() > m_wideTarget.size() ? m_wideTemporary.size() : m_wideTarget.size()) + 1;
    return used < limit ? limit - used : 0;
}

bool CTargetFolder::MakeFolders(const std::string& relative, std::string& problem)
{
    std::string sofar;
    for (const std::string& part : Components(relative)) {
        sofar += sofar.empty() ? part : "/" + part;
        if (IsOurFolder(sofar)) {
            continue;
        }
        bool ok = false;
        const std::wstring path = Join(m_wideTemporary, sofar, ok);
        if (!ok) {
            problem = "the name " + sofar + " is not valid UTF-8";
            return false;
        }
        if (!::CreateDirectoryW(path.c_str(), nullptr)) {
            problem = "cannot create the folder " + sofar + " (" + CNativePath::ErrorText(::GetLastError()) + ")";
            return false;
        }
        m_created.push_back({sofar, true});
        m_folders.insert(sofar);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
            (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            problem = "the folder " + sofar + " changed while it was being made";
            return false;
        }
    }
    return true;
}

bool CTargetFolder::CreateFile(const std::string& relative, std::string& problem)
{
    const size_t slash = relative.rfind('/');
    if (slash != std::string::npos && !MakeFolders(relative.substr(0, slash), problem)) {
        return false;
    }
    bool ok = false;
    const std::wstring path = Join(m_wideTemporary, relative, ok);
    if (!ok) {
        problem = "the name " + relative + " is not valid UTF-8";
        return false;
    }
    // CREATE_NEW fails on anything already there, a link included; FILE_FLAG_OPEN_REPARSE_POINT keeps
    // a link that appeared in a race from being followed.
    m_file.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_file) {
        problem = "cannot create " + relative + " (" + CNativePath::ErrorText(::GetLastError()) + ")";
        return false;
    }
    m_created.push_back({relative, false});
    m_currentFile = relative;
    return true;
}

bool CTargetFolder::Write(const uint8_t* p, size_t cb, std::string& problem)
{
    while (cb > 0) {
        const DWORD piece = cb > 0x10000000 ? 0x10000000 : static_cast<DWORD>(cb);
        DWORD written = 0;
        if (!::WriteFile(m_file.get(), p, piece, &written, nullptr) || written == 0) {
            const DWORD error = ::GetLastError();
            problem = "cannot write " + m_currentFile + " (" +
                (error == ERROR_DISK_FULL ? std::string("the disk is full") : CNativePath::ErrorText(error)) + ")";
            return false;
        }
        p += written;
        cb -= written;
    }
    return true;
}

bool CTargetFolder::CloseFile(std::string& problem)
{
    const bool flushed = ::FlushFileBuffers(m_file.get()) != 0;
    const DWORD error = ::GetLastError();
    m_file.reset();
    if (!flushed) {
        problem = "cannot finish " + m_currentFile + " (" + CNativePath::ErrorText(error) + ")";
        return false;
    }
    return true;
}

bool CTargetFolder::Commit(std::string& problem)
{
    m_file.reset();
    if (m_targetExists && !::RemoveDirectoryW(m_wideTarget.c_str())) {
        problem = "cannot replace the empty folder " + m_target + " (" + CNativePath::ErrorText(::GetLastError()) + ")";
        return false;
    }
    if (!::MoveFileExW(m_wideTemporary.c_str(), m_wideTarget.c_str(), 0)) {
        problem = "cannot rename the finished extraction to " + m_target + " (" + CNativePath::ErrorText(::GetLastError()) + ")";
        return false;
    }
    m_committed = true;
    return true;
}

void CTargetFolder::RemoveTemporary()
{
    m_file.reset();
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
        bool ok = false;
        const std::wstring path = Join(m_wideTemporary, it->m_relative, ok);
        if (it->m_isFolder) {
            ::RemoveDirectoryW(path.c_str());
        } else {
            ::DeleteFileW(path.c_str());
        }
    }
    ::RemoveDirectoryW(m_wideTemporary.c_str());
}

#else

namespace {
std::string ErrorText(int error) { return std::strerror(error); }

bool IsEmptyFolder(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return false;
    }
    bool empty = true;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    return empty;
}

// An owner of a folder descriptor opened along the way.
class CFolderFd {
public:
    explicit CFolderFd(int fd) : m_fd(fd) {}
    ~CFolderFd()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CFolderFd(const CFolderFd&) = delete;
    CFolderFd& operator=(const CFolderFd&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd)
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

private:
    int m_fd;
};
} // namespace

bool CTargetFolder::Begin(const std::string& target, std::string& problem)
{
    m_target = target;
    const std::string path = StripTrailingSeparators(target);
    const size_t slash = path.rfind('/');
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (leaf.empty() || leaf == "." || leaf == ".." || leaf == "/") {
        problem = target + " names no folder that could be created";
        return false;
    }
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            problem = "cannot look at " + target + " (" + ErrorText(errno) + ")";
            return false;
        }
    } else if (S_ISLNK(st.st_mode)) {
        problem = target + " exists and is a link";
        return false;
    } else if (!S_ISDIR(st.st_mode)) {
        problem = target + " exists and is not a folder";
        return false;
    } else if (!IsEmptyFolder(path)) {
        problem = target + " exists and is not empty";
        return false;
    } else {
        m_targetExists = true;
    }
    m_parentFd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_parentFd < 0) {
        problem = "cannot open the folder " + parent + " (" + ErrorText(errno) + ")";
        return false;
    }
    m_leaf = leaf;
    for (int i = 0; i < TEMPORARY_NAME_TRIES; ++i) {
        m_temporaryName = ".kvxinspect-" + std::to_string(::getpid()) + "-" + std::to_string(i) + ".tmp";
        if (::mkdirat(m_parentFd, m_temporaryName.c_str(), 0755) == 0) {
            m_begun = true;
            m_rootFd = ::openat(m_parentFd, m_temporaryName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (m_rootFd < 0) {
                problem = "cannot open the folder made beside " + target + " (" + ErrorText(errno) + ")";
                return false;
            }
            return true;
        }
        if (errno != EEXIST) {
            problem = "cannot create a folder beside " + target + " (" + ErrorText(errno) + ")";
            return false;
        }
    }
    problem = "cannot create a folder beside " + target + " (every temporary name is taken)";
    return false;
}

size_t CTargetFolder::NameRoom() const
{
    const size_t limit = 4095; // PATH_MAX less its terminator: the finished folder must stay usable by path
    const size_t used = m_target.size() + 1;
    return used < limit ? limit - used : 0;
}

bool CTargetFolder::MakeFolders(const std::string& relative, std::string& problem)
{
    CFolderFd folder(::dup(m_rootFd));
    std::string sofar;
    for (const std::string& part : Components(relative)) {
        sofar += sofar.empty() ? part : "/" + part;
        if (!IsOurFolder(sofar)) {
            if (::mkdirat(folder.Get(), part.c_str(), 0755) != 0) {
                problem = "cannot create the folder " + sofar + " (" + ErrorText(errno) + ")";
                return false;
            }
            m_created.push_back({sofar, true});
            m_folders.insert(sofar);
        }
        const int next = ::openat(folder.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            problem = "cannot open the folder " + sofar + " (" + ErrorText(errno) + ")";
            return false;
        }
        folder.Reset(next);
    }
    return true;
}

bool CTargetFolder::CreateFile(const std::string& relative, std::string& problem)
{
    const size_t slash = relative.rfind('/');
    if (slash != std::string::npos && !MakeFolders(relative.substr(0, slash), problem)) {
        return false;
    }
    CFolderFd folder(::dup(m_rootFd));
    const std::vector<std::string> parts = Components(relative);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const int next = ::openat(folder.Get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            problem = "cannot open the folder of " + relative + " (" + ErrorText(errno) + ")";
            return false;
        }
        folder.Reset(next);
    }
    m_fileFd = ::openat(folder.Get(), parts.back().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (m_fileFd < 0) {
        problem = "cannot create " + relative + " (" + ErrorText(errno) + ")";
        return false;
    }
    m_created.push_back({relative, false});
    m_currentFile = relative;
    return true;
}

bool CTargetFolder::Write(const uint8_t* p, size_t cb, std::string& problem)
{
    while (cb > 0) {
        const ssize_t n = ::write(m_fileFd, p, cb);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            problem = "cannot write " + m_currentFile + " (" + (error == ENOSPC ? "the disk is full" : ErrorText(error)) + ")";
            return false;
        }
        p += n;
        cb -= static_cast<size_t>(n);
    }
    return true;
}

bool CTargetFolder::CloseFile(std::string& problem)
{
    const int rc = ::close(m_fileFd);
    const int error = errno;
    m_fileFd = -1;
    if (rc != 0) {
        problem = "cannot finish " + m_currentFile + " (" + ErrorText(error) + ")";
        return false;
    }
    return true;
}

bool CTargetFolder::Commit(std::string& problem)
{
    if (m_fileFd >= 0) {
        ::close(m_fileFd);
        m_fileFd = -1;
    }
    // An empty folder at the target is replaced in the same step; one that filled up meanwhile is not.
    if (::renameat(m_parentFd, m_temporaryName.c_str(), m_parentFd, m_leaf.c_str()) != 0) {
        problem = "cannot rename the finished extraction to " + m_target + " (" + ErrorText(errno) + ")";
        return false;
    }
    m_committed = true;
    return true;
}

void CTargetFolder::RemoveTemporary()
{
    if (m_fileFd >= 0) {
        ::close(m_fileFd);
        m_fileFd = -1;
    }
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
        ::unlinkat(m_rootFd, it->m_relative.c_str(), it->m_isFolder ? AT_REMOVEDIR : 0);
    }
    ::unlinkat(m_parentFd, m_temporaryName.c_str(), AT_REMOVEDIR);
}

#endif
