// SHA-256 from the platform: libcrypto on the Linux host, CNG (bcrypt.dll) on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // False when the platform could not give a hash object (then every result is empty).
    bool Valid() const;
    void Update(const void* pData, size_t cb);
    // The digest as 64 lower-case hex digits; the object starts over afterwards.
    std::string FinishHex();

    static std::string OfBuffer(const void* pData, size_t cb);

private:
    struct SState;
    std::unique_ptr<SState> m_state;
    void Start();
};
