// The carry-less folding paths of CCrc32. Four 128-bit accumulators each fold 64 bytes ahead per step
// (PCLMULQDQ), or four 256-bit ones, two 16-byte lanes each, fold 128 bytes ahead (VPCLMULQDQ); they
// are merged into one 16-byte value, and that remainder plus the tail are finished by the tables,
// because a 16-byte value congruent to the message has the message's CRC.
//
// Bit order: in a little-endian 128-bit load, bit j is the coefficient of x^(127-j) of that chunk, so
// the low quadword is the high-degree half. Folding a chunk D bits forward multiplies its low half by
// x^(64+D) and its high half by x^D modulo P. A carry-less product of two bit-reversed 64-bit values
// comes out shifted down by one degree, so the constants are x^(64+D-1) and x^(D-1) mod P, bit-reversed
// into 64 bits. They are derived below rather than typed in.
#include "core/archive/Crc32.h"

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

namespace {

constexpr uint32_t CRC32_POLY_NORMAL = 0x04C11DB7u;

constexpr uint32_t XPowModP(unsigned e)
{
    uint32_t r = 1;
    for (unsigned i = 0; i < e; ++i) {
        const bool carry = (r & 0x80000000u) != 0;
        r <<= 1;
        if (carry) {
            r ^= CRC32_POLY_NORMAL;
        }
    }
    return r;
}

constexpr uint64_t Reverse64(uint64_t v)
{
    uint64_t r = 0;
    for (int i = 0; i < 64; ++i) {
        r = (r << 1) | ((v >> i) & 1);
    }
    return r;
}

constexpr uint64_t FoldLow(unsigned distanceBits) { return Reverse64(XPowModP(64 + distanceBits - 1)); }
constexpr uint64_t FoldHigh(unsigned distanceBits) { return Reverse64(XPowModP(distanceBits - 1)); }

constexpr uint64_t FOLD512_LOW = FoldLow(512);
constexpr uint64_t FOLD512_HIGH = FoldHigh(512);
constexpr uint64_t FOLD128_LOW = FoldLow(128);
constexpr uint64_t FOLD128_HIGH = FoldHigh(128);
constexpr uint64_t FOLD1024_LOW = FoldLow(1024);
constexpr uint64_t FOLD1024_HIGH = FoldHigh(1024);

#if defined(__i386__)
// The 32-bit Windows ABI only promises 4-byte stack alignment; realign for the vector spills.
#define KVX_CLMUL_TARGET __attribute__((target("sse2,pclmul"), force_align_arg_pointer))
#define KVX_WIDE_CLMUL_TARGET __attribute__((target("avx2,pclmul,vpclmulqdq"), force_align_arg_pointer))
#else
#define KVX_CLMUL_TARGET __attribute__((target("sse2,pclmul")))
#define KVX_WIDE_CLMUL_TARGET __attribute__((target("avx2,pclmul,vpclmulqdq")))
#endif

KVX_CLMUL_TARGET inline __m128i Fold(__m128i acc, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(acc, k, 0x00), _mm_clmulepi64_si128(acc, k, 0x11));
}

KVX_CLMUL_TARGET inline __m128i Load(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

KVX_WIDE_CLMUL_TARGET inline __m256i FoldWide(__m256i acc, __m256i k)
{
    return _mm256_xor_si256(_mm256_clmulepi64_epi128(acc, k, 0x00), _mm256_clmulepi64_epi128(acc, k, 0x11));
}

KVX_WIDE_CLMUL_TARGET inline __m256i LoadWide(const uint8_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

} // namespace

KVX_WIDE_CLMUL_TARGET uint32_t CCrc32::UpdateRawCarrylessWide(uint32_t raw, const uint8_t* p, size_t cb)
{
    // Every 16-byte lane moves 128 bytes ahead per step, so both lanes use the 1024-bit constants.
    const __m256i k1024 = _mm256_set_epi64x(static_cast<long long>(FOLD1024_HIGH), static_cast<long long>(FOLD1024_LOW),
                                            static_cast<long long>(FOLD1024_HIGH), static_cast<long long>(FOLD1024_LOW));
    __m256i x0 = _mm256_xor_si256(LoadWide(p), _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(raw))));
    __m256i x1 = LoadWide(p + 32);
    __m256i x2 = LoadWide(p + 64);
    __m256i x3 = LoadWide(p + 96);
    p += 128;
    cb -= 128;
    while (cb >= 128) {
        x0 = _mm256_xor_si256(FoldWide(x0, k1024), LoadWide(p));
        x1 = _mm256_xor_si256(FoldWide(x1, k1024), LoadWide(p + 32));
        x2 = _mm256_xor_si256(FoldWide(x2, k1024), LoadWide(p + 64));
        x3 = _mm256_xor_si256(FoldWide(x3, k1024), LoadWide(p + 96));
        p += 128;
        cb -= 128;
    }
    // The eight lanes are consecutive 16-byte chunks; fold them into one in order.
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(FOLD128_HIGH), static_cast<long long>(FOLD128_LOW));
    const __m128i lanes[8] = {_mm256_castsi256_si128(x0), _mm256_extracti128_si256(x0, 1),
                              _mm256_castsi256_si128(x1), _mm256_extracti128_si256(x1, 1),
                              _mm256_castsi256_si128(x2), _mm256_extracti128_si256(x2, 1),
                              _mm256_castsi256_si128(x3), _mm256_extracti128_si256(x3, 1)};
    __m128i x = lanes[0];
    for (int i = 1; i < 8; ++i) {
        x = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k128, 0x00), _mm_clmulepi64_si128(x, k128, 0x11)),
                          lanes[i]);
    }
    while (cb >= 16) {
        x = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k128, 0x00), _mm_clmulepi64_si128(x, k128, 0x11)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        p += 16;
        cb -= 16;
    }
    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
    // Leave the 256-bit state clean for any SSE code that follows.
    _mm256_zeroupper();
    return UpdateRawTables(UpdateRawTables(0, rest, sizeof(rest)), p, cb);
}

KVX_CLMUL_TARGET uint32_t CCrc32::UpdateRawCarryless(uint32_t raw, const uint8_t* p, size_t cb)
{
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(FOLD512_HIGH), static_cast<long long>(FOLD512_LOW));
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(FOLD128_HIGH), static_cast<long long>(FOLD128_LOW));

    // The running register enters as the first four message bytes XORed with it.
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(raw)));
    __m128i x1 = Load(p + 16);
    __m128i x2 = Load(p + 32);
    __m128i x3 = Load(p + 48);
    p += 64;
    cb -= 64;
    while (cb >= 64) {
        x0 = _mm_xor_si128(Fold(x0, k512), Load(p));
        x1 = _mm_xor_si128(Fold(x1, k512), Load(p + 16));
        x2 = _mm_xor_si128(Fold(x2, k512), Load(p + 32));
        x3 = _mm_xor_si128(Fold(x3, k512), Load(p + 48));
        p += 64;
        cb -= 64;
    }
    __m128i x = _mm_xor_si128(Fold(x0, k128), x1);
    x = _mm_xor_si128(Fold(x, k128), x2);
    x = _mm_xor_si128(Fold(x, k128), x3);
    while (cb >= 16) {
        x = _mm_xor_si128(Fold(x, k128), Load(p));
        p += 16;
        cb -= 16;
    }
    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
    return UpdateRawTables(UpdateRawTables(0, rest, sizeof(rest)), p, cb);
}

#else

uint32_t CCrc32::UpdateRawCarryless(uint32_t raw, const uint8_t* p, size_t cb)
{
    return UpdateRawTables(raw, p, cb);
}

uint32_t CCrc32::UpdateRawCarrylessWide(uint32_t raw, const uint8_t* p, size_t cb)
{
    return UpdateRawTables(raw, p, cb);
}

#endif
