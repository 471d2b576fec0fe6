// Key schedule and stream cipher of the traditional encryption.
#include "core/archive/ZipCrypto.h"

#include "core/archive/Crc32.h"

namespace {
constexpr uint32_t ZIPCRYPTO_KEY0 = 0x12345678u;
constexpr uint32_t ZIPCRYPTO_KEY1 = 0x23456789u;
constexpr uint32_t ZIPCRYPTO_KEY2 = 0x34567890u;
constexpr uint32_t ZIPCRYPTO_MULTIPLIER = 134775813u;
} // namespace

void CZipCrypto::UpdateKeys(uint8_t plain)
{
    m_keys[0] = CCrc32::UpdateRawByte(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * ZIPCRYPTO_MULTIPLIER + 1;
    m_keys[2] = CCrc32::UpdateRawByte(m_keys[2], static_cast<uint8_t>(m_keys[1] >> 24));
}

void CZipCrypto::Init(const char* pszPassword, size_t cchPassword)
{
    m_keys[0] = ZIPCRYPTO_KEY0;
    m_keys[1] = ZIPCRYPTO_KEY1;
    m_keys[2] = ZIPCRYPTO_KEY2;
    for (size_t i = 0; i < cchPassword; ++i) {
        UpdateKeys(static_cast<uint8_t>(pszPassword[i]));
    }
}

// Both directions step the keys by the plain byte, so they share one loop; the direction is a template
// argument to keep the per-byte branch out of the hot loop. The keys live in locals: the stores through
// p could otherwise alias them and force reloads.
template <bool bEncrypt>
void CZipCrypto::Transform(uint8_t* p, size_t cb)
{
    const uint32_t* table = CCrc32::ByteTable();
    uint32_t k0 = m_keys[0], k1 = m_keys[1], k2 = m_keys[2];
    for (size_t i = 0; i < cb; ++i) {
        const uint32_t t = (k2 | 2) & 0xFFFF;
        const uint8_t mask = static_cast<uint8_t>((t * (t ^ 1)) >> 8);
        const uint8_t plain = bEncrypt ? p[i] : static_cast<uint8_t>(p[i] ^ mask);
        p[i] = static_cast<uint8_t>(p[i] ^ mask);
        k0 = table[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
        k1 = (k1 + (k0 & 0xFF)) * ZIPCRYPTO_MULTIPLIER + 1;
        k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
    }
    m_keys[0] = k0;
    m_keys[1] = k1;
    m_keys[2] = k2;
}

void CZipCrypto::Encrypt(uint8_t* p, size_t cb) { Transform<true>(p, cb); }

void CZipCrypto::Decrypt(uint8_t* p, size_t cb) { Transform<false>(p, cb); }
