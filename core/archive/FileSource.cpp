// Win32 (CreateFileA / GetFileInformationByHandle) and POSIX implementations of CFileSource.
#include "core/archive/FileSource.h"

#include "core/archive/ZipTime.h"

#include <algorithm>
#include <climits>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

namespace {

// 100 ns ticks between 1601-01-01 and 1970-01-01.
constexpr int64_t FILETIME_UNIX_EPOCH = 116444736000000000LL;
constexpr int64_t FILETIME_TICKS_PER_SECOND = 10000000LL;
// ReadFile takes a DWORD count; stay well inside it.
constexpr size_t WIN32_MAX_IO = 1u << 30;

int64_t UnixFromFileTime(const FILETIME& ft)
{
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    const int64_t delta = ticks - FILETIME_UNIX_EPOCH;
    // Floor division, so that times before 1970 round down like the tick count does.
    return delta >= 0 ? delta / FILETIME_TICKS_PER_SECOND : -((-delta + FILETIME_TICKS_PER_SECOND - 1) / FILETIME_TICKS_PER_SECOND);
}

} // namespace

CFileSource::~CFileSource() = default;

bool CFileSource::Open(const char* pszPath)
{
    m_file.reset(::CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return m_file.valid();
}

void CFileSource::Close()
{
    m_file.reset();
}

bool CFileSource::Read(void* pBuffer, size_t cb, size_t& cbRead)
{
    DWORD got = 0;
    const BOOL ok = ::ReadFile(m_file.get(), pBuffer, static_cast<DWORD>(std::min(cb, WIN32_MAX_IO)), &got, nullptr);
    cbRead = got;
    return ok != FALSE;
}

bool CFileSource::ReadAt(uint64_t offset, void* pBuffer, size_t cb, size_t& cbRead)
{
    cbRead = 0;
    LARGE_INTEGER zero = {};
    LARGE_INTEGER current = {};
    if (!::SetFilePointerEx(m_file.get(), zero, &current, FILE_CURRENT)) {
        return false;
    }
    LARGE_INTEGER target = {};
    target.QuadPart = static_cast<LONGLONG>(offset);
    bool ok = ::SetFilePointerEx(m_file.get(), target, nullptr, FILE_BEGIN) != FALSE;
    if (ok) {
        ok = Read(pBuffer, cb, cbRead);
    }
    // The sequential reader must find the pointer where it left it, whatever happened above.
    const bool restored = ::SetFilePointerEx(m_file.get(), current, nullptr, FILE_BEGIN) != FALSE;
    return ok && restored;
}

bool CFileSource::GetInfo(SEntryInfo& info)
{
    BY_HANDLE_FILE_INFORMATION fi = {};
    if (!::GetFileInformationByHandle(m_file.get(), &fi)) {
        return false;
    }
    info.m_attributes = fi.dwFileAttributes;
    info.m_isDirectory = (fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.m_size = (static_cast<uint64_t>(fi.nFileSizeHigh) << 32) | fi.nFileSizeLow;
    // The MS-DOS fields take the last-write time in UTC as it is, without conversion to local time.
    SYSTEMTIME st = {};
    if (!::FileTimeToSystemTime(&fi.ftLastWriteTime, &st)) {
        return false;
    }
    info.m_year = st.wYear;
    info.m_month = st.wMonth;
    info.m_day = st.wDay;
    info.m_hour = st.wHour;
    info.m_minute = st.wMinute;
    info.m_second = st.wSecond;
    info.m_lastWriteUnix = UnixFromFileTime(fi.ftLastWriteTime);
    info.m_lastAccessUnix = UnixFromFileTime(fi.ftLastAccessTime);
    info.m_creationUnix = UnixFromFileTime(fi.ftCreationTime);
    return true;
}

#else // POSIX

CFileSource::~CFileSource()
{
    Close();
}

bool CFileSource::Open(const char* pszPath)
{
    Close();
    m_fd = ::open(pszPath, O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        return false;
    }
    // Windows cannot open a directory as a file without backup semantics; behave the same.
    struct stat st = {};
    if (::fstat(m_fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        Close();
        return false;
    }
    return true;
}

void CFileSource::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool CFileSource::Read(void* pBuffer, size_t cb, size_t& cbRead)
{
    cbRead = 0;
    for (;;) {
        const ssize_t got = ::read(m_fd, pBuffer, std::min<size_t>(cb, INT_MAX));
        if (got >= 0) {
            cbRead = static_cast<size_t>(got);
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool CFileSource::ReadAt(uint64_t offset, void* pBuffer, size_t cb, size_t& cbRead)
{
    cbRead = 0;
    for (;;) {
        const ssize_t got = ::pread(m_fd, pBuffer, std::min<size_t>(cb, INT_MAX), static_cast<off_t>(offset));
        if (got >= 0) {
            cbRead = static_cast<size_t>(got);
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool CFileSource::GetInfo(SEntryInfo& info)
{
    struct stat st = {};
    if (::fstat(m_fd, &st) != 0) {
        return false;
    }
    // POSIX has no attribute word: a new Windows file carries the archive bit, and a file its owner
    // may not write is read-only.
    info.m_isDirectory = S_ISDIR(st.st_mode);
    info.m_attributes = info.m_isDirectory ? 0x10u : 0x20u;
    if ((st.st_mode & S_IWUSR) == 0) {
        info.m_attributes |= 0x01u;
    }
    info.m_size = static_cast<uint64_t>(st.st_size);
    info.m_lastWriteUnix = static_cast<int64_t>(st.st_mtime);
    info.m_lastAccessUnix = static_cast<int64_t>(st.st_atime);
    // No portable creation time: the last-write time stands in for it.
    info.m_creationUnix = static_cast<int64_t>(st.st_mtime);
    CZipTime::CivilFromUnix(info.m_lastWriteUnix, info);
    return true;
}

#endif
