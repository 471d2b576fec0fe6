// Slice-by-16 CRC-32 and the run-time choice of the carry-less path.
#include "core/archive/Crc32.h"

#include <cstring>

#include "core/archive/ProcessorFeatures.h"

namespace {

constexpr uint32_t CRC32_POLY_REFLECTED = 0xEDB88320u;
// Below these sizes the folding set-up costs more than it saves.
constexpr size_t CRC32_CARRYLESS_MIN_BYTES = 128;
constexpr size_t CRC32_WIDE_CARRYLESS_MIN_BYTES = 512;

// Table k holds the effect of a byte followed by k zero bytes, so sixteen lookups advance 16 bytes.
struct SCrc32Tables {
    uint32_t m_table[16][256];

    constexpr SCrc32Tables() : m_table()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i;
            for (int bit = 0; bit < 8; ++bit) {
                r = (r & 1) ? (r >> 1) ^ CRC32_POLY_REFLECTED : r >> 1;
            }
            m_table[0][i] = r;
        }
        for (int k = 1; k < 16; ++k) {
            for (uint32_t i = 0; i < 256; ++i) {
                const uint32_t prev = m_table[k - 1][i];
                m_table[k][i] = (prev >> 8) ^ m_table[0][prev & 0xFF];
            }
        }
    }
};

constexpr SCrc32Tables s_crcTables;

inline uint32_t LoadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

const uint32_t* CCrc32::ByteTable()
{
    return s_crcTables.m_table[0];
}

bool CCrc32::HasCarrylessMultiply()
{
    return CProcessorFeatures::CarrylessMultiply();
}

bool CCrc32::HasWideCarrylessMultiply()
{
    return CProcessorFeatures::WideCarrylessMultiply();
}

uint32_t CCrc32::UpdateRawTables(uint32_t raw, const uint8_t* p, size_t cb)
{
    const auto& t = s_crcTables.m_table;
    while (cb >= 16) {
        const uint32_t a = LoadLe32(p) ^ raw;
        const uint32_t b = LoadLe32(p + 4);
        const uint32_t c = LoadLe32(p + 8);
        const uint32_t d = LoadLe32(p + 12);
        raw = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
              t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
              t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
              t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
        p += 16;
        cb -= 16;
    }
    while (cb--) {
        raw = t[0][(raw ^ *p++) & 0xFF] ^ (raw >> 8);
    }
    return raw;
}

uint32_t CCrc32::UpdateTables(uint32_t crc, const void* pData, size_t cb)
{
    return ~UpdateRawTables(~crc, static_cast<const uint8_t*>(pData), cb);
}

uint32_t CCrc32::Update(uint32_t crc, const void* pData, size_t cb)
{
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    if (cb >= CRC32_WIDE_CARRYLESS_MIN_BYTES && HasWideCarrylessMultiply()) {
        return ~UpdateRawCarrylessWide(~crc, p, cb);
    }
    if (cb >= CRC32_CARRYLESS_MIN_BYTES && HasCarrylessMultiply()) {
        return ~UpdateRawCarryless(~crc, p, cb);
    }
    return ~UpdateRawTables(~crc, p, cb);
}

namespace {

// Polynomials over GF(2) in the reflected order of the CRC: bit 31 is x^0, bit 0 is x^31.
constexpr uint32_t CRC32_X0 = 1u << 31;

// a * b modulo the CRC polynomial.
uint32_t MultiplyModP(uint32_t a, uint32_t b)
{
    uint32_t product = 0;
    for (uint32_t m = CRC32_X0; m != 0; m >>= 1) {
        if (a & m) {
            product ^= b;
        }
        b = (b & 1) ? (b >> 1) ^ CRC32_POLY_REFLECTED : b >> 1;
    }
    return product;
}

// x^(2^k) modulo the polynomial for k = 0..63, so that x^n takes one multiplication per set bit of n.
struct SCrc32Powers {
    uint32_t m_power[64];
    SCrc32Powers()
    {
        m_power[0] = CRC32_X0 >> 1; // x^1
        for (int k = 1; k < 64; ++k) {
            m_power[k] = MultiplyModP(m_power[k - 1], m_power[k - 1]);
        }
    }
};

} // namespace

uint32_t CCrc32::Combine(uint32_t crcA, uint32_t crcB, uint64_t cbB)
{
    // Appending cbB bytes multiplies A's register by x^(8 cbB); the inversions before and after cancel
    // out in the sum with B's CRC (they are the same for B alone as for B after A).
    static const SCrc32Powers s_powers;
    uint32_t shift = CRC32_X0;
    uint64_t bits = cbB;
    for (int k = 3; bits != 0 && k < 64; ++k, bits >>= 1) {
        if (bits & 1) {
            shift = MultiplyModP(s_powers.m_power[k], shift);
        }
    }
    return MultiplyModP(shift, crcA) ^ crcB;
}
