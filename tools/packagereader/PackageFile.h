// The package's bytes through a read-only file mapping: the parser stays a plain bounds-checked walk
// over one range, the pages come from the file as they are read, and none of it counts against the
// reading's memory budget, so a genuine package of a gigabyte reads as well as one of a megabyte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include "common/win/UniqueHandles.h"
#endif

class CPackageFile {
public:
    CPackageFile() = default;
    ~CPackageFile();
    CPackageFile(const CPackageFile&) = delete;
    CPackageFile& operator=(const CPackageFile&) = delete;

    // path: UTF-8.
    bool Load(const std::string& path, std::string& why);
    const uint8_t* Data() const { return m_pView; }
    size_t Size() const { return m_cb; }

private:
    void Unmap();
    const uint8_t* m_pView = nullptr;
    size_t m_cb = 0;
#ifdef _WIN32
    kvx::UniqueHandle m_mapping;
#endif
};
