// A package is mapped whole: the ZIP fields are 32-bit, so 4 GB bounds it, and even the 32-bit build
// finds room for a view of the largest package a customer sends. An empty file maps to nothing.
#include "tools/packagereader/PackageFile.h"

#ifdef _WIN32
#include "tools/packagereader/NativePath.h"
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
constexpr uint64_t PACKAGE_MAX_BYTES = 0x100000000ull;
constexpr const char* TOO_LARGE = "larger than 4 GB: not a KVXDiag2 package";
} // namespace

CPackageFile::~CPackageFile() { Unmap(); }

#ifdef _WIN32

void CPackageFile::Unmap()
{
    if (m_pView != nullptr) {
        ::UnmapViewOfFile(m_pView);
    }
    m_pView = nullptr;
    m_cb = 0;
    m_mapping.reset();
}

bool CPackageFile::Load(const std::string& path, std::string& why)
{
    Unmap();
    std::wstring wide;
    if (!CNativePath::Extended(path, wide)) {
        why = "cannot open it (the name is not valid UTF-8)";
        return false;
    }
    kvx::UniqueFileHandle file(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        why = "cannot open it (" + CNativePath::ErrorText(::GetLastError()) + ")";
        return false;
    }
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size)) {
        why = "cannot read its size (" + CNativePath::ErrorText(::GetLastError()) + ")";
        return false;
    }
    if (static_cast<uint64_t>(size.QuadPart) > PACKAGE_MAX_BYTES || static_cast<uint64_t>(size.QuadPart) > SIZE_MAX) {
        why = TOO_LARGE;
        return false;
    }
    if (size.QuadPart == 0) {
        return true;
    }
    m_mapping.reset(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!m_mapping) {
        why = "cannot map it (" + CNativePath::ErrorText(::GetLastError()) + ")";
        return false;
    }
    m_pView = static_cast<const uint8_t*>(::MapViewOfFile(m_mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (m_pView == nullptr) {
        why = "cannot map it (" + CNativePath::ErrorText(::GetLastError()) + ")";
        m_mapping.reset();
        return false;
    }
    m_cb = static_cast<size_t>(size.QuadPart);
    return true;
}

#else

void CPackageFile::Unmap()
{
    if (m_pView != nullptr) {
        ::munmap(const_cast<uint8_t*>(m_pView), m_cb);
    }
    m_pView = nullptr;
    m_cb = 0;
}

bool CPackageFile::Load(const std::string& path, std::string& why)
{
    Unmap();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("cannot open it (") + std::strerror(errno) + ")";
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = "not a regular file";
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > PACKAGE_MAX_BYTES) {
        ::close(fd);
        why = TOO_LARGE;
        return false;
    }
    if (st.st_size == 0) {
        ::close(fd);
        return true;
    }
    void* view = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    const int mapError = errno;
    ::close(fd);
    if (view == MAP_FAILED) {
        why = std::string("cannot map it (") + std::strerror(mapError) + ")";
        return false;
    }
    m_pView = static_cast<const uint8_t*>(view);
    m_cb = static_cast<size_t>(st.st_size);
    return true;
}

#endif
