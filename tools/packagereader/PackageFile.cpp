// Read with the C library, whose 64-bit seek forms differ per platform.
#include "tools/packagereader/PackageFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
// Larger than any package the 32-bit ZIP fields can describe.
constexpr uint64_t PACKAGE_MAX_BYTES = 0x100000000ull;
} // namespace

bool CPackageFile::Load(const std::string& path, std::string& why)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        why = std::string("cannot open it (") + std::strerror(errno) + ")";
        return false;
    }
    m_bytes.clear();
    uint8_t piece[1 << 16];
    size_t n = 0;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) {
        if (m_bytes.size() + n > PACKAGE_MAX_BYTES) {
            std::fclose(f);
            why = "larger than 4 GB: not a KVXDiag2 package";
            return false;
        }
        m_bytes.insert(m_bytes.end(), piece, piece + n);
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        why = "read error";
        return false;
    }
    return true;
}
