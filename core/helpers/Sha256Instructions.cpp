#include "core/helpers/Sha256Instructions.h"

#include <cstring>

#include <immintrin.h>

namespace {

constexpr uint32_t SHA256_INITIAL[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

alignas(16) constexpr uint32_t SHA256_ROUND_CONSTANTS[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

} // namespace

void CSha256Instructions::Begin()
{
    std::memcpy(m_state, SHA256_INITIAL, sizeof(m_state));
    m_cbPending = 0;
    m_cbTotal = 0;
}

void CSha256Instructions::Add(const void* pData, size_t cb)
{
    const unsigned char* p = static_cast<const unsigned char*>(pData);
    m_cbTotal += cb;
    if (m_cbPending > 0) {
        const size_t take = cb < BLOCK_SIZE - m_cbPending ? cb : BLOCK_SIZE - m_cbPending;
        std::memcpy(m_pending + m_cbPending, p, take);
        m_cbPending += take;
        p += take;
        cb -= take;
        if (m_cbPending < BLOCK_SIZE) {
            return;
        }
        Compress(m_state, m_pending, 1);
        m_cbPending = 0;
    }
    if (cb >= BLOCK_SIZE) {
        Compress(m_state, p, cb / BLOCK_SIZE);
        p += cb - cb % BLOCK_SIZE;
        cb %= BLOCK_SIZE;
    }
    std::memcpy(m_pending, p, cb);
    m_cbPending = cb;
}

void CSha256Instructions::Finish(unsigned char (&digest)[DIGEST_SIZE])
{
    // The message, a one bit, zeros up to 8 bytes before a block's end, and the length in bits.
    const uint64_t bits = m_cbTotal * 8;
    unsigned char tail[2 * BLOCK_SIZE] = {};
    std::memcpy(tail, m_pending, m_cbPending);
    tail[m_cbPending] = 0x80;
    const size_t tailSize = m_cbPending + 1 + 8 <= BLOCK_SIZE ? BLOCK_SIZE : 2 * BLOCK_SIZE;
    for (size_t i = 0; i < 8; ++i) {
        tail[tailSize - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    }
    Compress(m_state, tail, tailSize / BLOCK_SIZE);
    for (size_t i = 0; i < 8; ++i) {
        for (size_t b = 0; b < 4; ++b) {
            digest[4 * i + b] = static_cast<unsigned char>(m_state[i] >> (24 - 8 * b));
        }
    }
    m_cbPending = 0;
}

#if defined(__i386__)
// The 32-bit Windows ABI only promises 4-byte stack alignment; realign for the vector spills.
#define KVX_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1"), force_align_arg_pointer))
#else
#define KVX_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))
#endif

// The rounds keep the state as two halves, ABEF and CDGH, and each instruction does two rounds; the
// message schedule runs four words ahead in the four registers of w.
KVX_SHA_TARGET void CSha256Instructions::Compress(uint32_t (&state)[8], const unsigned char* pBlocks,
                                                 size_t numBlocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    const __m128i hgfe = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4])), 0x1B);
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i abef = _mm_alignr_epi8(cdab, hgfe, 8);
    __m128i cdgh = _mm_blend_epi16(hgfe, cdab, 0xF0);

    for (; numBlocks > 0; --numBlocks, pBlocks += BLOCK_SIZE) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        __m128i w[4];
#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            __m128i& words = w[group & 3];
            if (group < 4) {
                words = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBlocks + 16 * group)), byteSwap);
            } else {
                // words holds the group four back; w[(group + 1) & 3] three back, and so on.
                const __m128i& last = w[(group + 3) & 3];
                __m128i next = _mm_sha256msg1_epu32(words, w[(group + 1) & 3]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(last, w[(group + 2) & 3], 4));
                words = _mm_sha256msg2_epu32(next, last);
            }
            const __m128i wk = _mm_add_epi32(
                words, _mm_load_si128(reinterpret_cast<const __m128i*>(&SHA256_ROUND_CONSTANTS[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}
