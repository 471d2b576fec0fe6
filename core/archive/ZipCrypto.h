// Traditional PKWARE encryption: three 32-bit keys stepped by every plain byte, one keystream byte
// taken from the third key before each step.
#pragma once

#include <cstddef>
#include <cstdint>

class CZipCrypto {
public:
    // Sets the three keys from the password (length given: the text need not be terminated).
    void Init(const char* pszPassword, size_t cchPassword);
    void Encrypt(uint8_t* p, size_t cb);
    void Decrypt(uint8_t* p, size_t cb);

private:
    template <bool bEncrypt>
    void Transform(uint8_t* p, size_t cb);
    void UpdateKeys(uint8_t plain);

    uint32_t m_keys[3] = {};
};
