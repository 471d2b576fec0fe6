// Win32 (CreateFileA / WriteFile / SetFilePointerEx) and POSIX implementations of CFileSink.
#include "core/archive/FileSink.h"

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
constexpr size_t WIN32_MAX_IO = 1u << 30;
}

CFileSink::~CFileSink() = default;

bool CFileSink::Create(const char* pszPath)
{
    m_file.reset(::CreateFileA(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_file.valid();
}

bool CFileSink::Close()
{
    m_file.reset();
    return true;
}

bool CFileSink::Write(const void* pData, size_t cb)
{
    if (!m_file.valid()) {
        return false;
    }
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    while (cb > 0) {
        const DWORD piece = static_cast<DWORD>(std::min(cb, WIN32_MAX_IO));
        DWORD written = 0;
        if (!::WriteFile(m_file.get(), p, piece, &written, nullptr) || written != piece) {
            return false;
        }
        p += piece;
        cb -= piece;
    }
    return true;
}

bool CFileSink::Seek(uint64_t offset)
{
    LARGE_INTEGER target = {};
    target.QuadPart = static_cast<LONGLONG>(offset);
    return m_file.valid() && ::SetFilePointerEx(m_file.get(), target, nullptr, FILE_BEGIN) != FALSE;
}

bool CFileSink::Tell(uint64_t& offset)
{
    LARGE_INTEGER zero = {};
    LARGE_INTEGER current = {};
    if (!m_file.valid() || !::SetFilePointerEx(m_file.get(), zero, &current, FILE_CURRENT)) {
        return false;
    }
    offset = static_cast<uint64_t>(current.QuadPart);
    return true;
}

#else // POSIX

CFileSink::~CFileSink()
{
    Close();
}

bool CFileSink::Create(const char* pszPath)
{
    Close();
    m_fd = ::open(pszPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return m_fd >= 0;
}

bool CFileSink::Close()
{
    if (m_fd < 0) {
        return true;
    }
    const int rc = ::close(m_fd);
    m_fd = -1;
    return rc == 0;
}

bool CFileSink::Write(const void* pData, size_t cb)
{
    if (m_fd < 0) {
        return false;
    }
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    while (cb > 0) {
        const ssize_t written = ::write(m_fd, p, std::min<size_t>(cb, INT_MAX));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            return false;
        }
        p += written;
        cb -= static_cast<size_t>(written);
    }
    return true;
}

bool CFileSink::Seek(uint64_t offset)
{
    return m_fd >= 0 && ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool CFileSink::Tell(uint64_t& offset)
{
    if (m_fd < 0) {
        return false;
    }
    const off_t current = ::lseek(m_fd, 0, SEEK_CUR);
    if (current < 0) {
        return false;
    }
    offset = static_cast<uint64_t>(current);
    return true;
}

#endif
