// The package's bytes, read once into memory (packages are tens of megabytes; reading them whole keeps
// the parser a plain bounds-checked walk over one buffer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CPackageFile {
public:
    bool Load(const std::string& path, std::string& why);
    const uint8_t* Data() const { return m_bytes.empty() ? nullptr : m_bytes.data(); }
    size_t Size() const { return m_bytes.size(); }

private:
    std::vector<uint8_t> m_bytes;
};
