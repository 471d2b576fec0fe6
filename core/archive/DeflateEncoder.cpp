// Deflate encoder. Overview:
//  - Match finding: chains of earlier positions that share a 4-byte hash, walked newest first, plus a
//    one-entry table of the newest position per 3-byte hash for matches of length 3 (and as proof
//    that no longer match exists). A candidate is rejected by one 4-byte compare at the end of the
//    best match so far before it is extended 8 bytes at a time. Chains over 4 bytes hold far fewer
//    false candidates than chains over 3, so the chain limit is spent on real matches.
//  - Positions in the tables are stream offsets modulo 65536, so the tables are small and survive
//    moves of the window buffer; stale heads are rewritten before they could wrap around.
//  - Three shortcuts keep walks short, and a walk that the chain limit does not cut off finds exactly
//    what the plain walk finds. A winner must agree with the best match so far on all of its bytes and
//    one more, so it lies on the chain of every position in that span: a walk starts on the chain of
//    the span's last four bytes when that one is sparser, and moves to the sparsest chain under the
//    best match each time it improves. And whole stretches of a run of one byte are evaluated at once
//    (zero-filled areas of dumps, indentation).
//  - Parsing: the level-8 lazy rule. A match found at p is only taken if p+1 does not start a longer
//    one; no search follows a match of 128 or more; the chain is cut to a quarter after a match of 32
//    or more; a search stops at 258; a 3-byte match farther than 4096 is dropped. One addition: in a
//    long stretch of literals only some positions are searched (see LITERAL_RUN_SPARSE).
//  - Blocks: symbols are gathered in segments of SEGMENT_SYMBOLS. At each segment end the entropy of
//    the block with and without the segment decides whether the segment starts a new block. Each
//    block is then costed exactly in all three forms and sent in the cheapest.
//  - Bits go out least significant first through a 64-bit accumulator that is stored 8 bytes at a
//    time, which needs 8 bytes of slack at the end of the output buffer.
#include "core/archive/DeflateEncoder.h"

#include "core/archive/HuffmanCode.h"
#include "core/archive/ProcessorFeatures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the match finder and the bit writer assume a little-endian processor"
#endif

namespace {

constexpr uint32_t WSIZE = 32768;
constexpr uint32_t WMASK = WSIZE - 1;
constexpr uint32_t MIN_MATCH = 3;
constexpr uint32_t MAX_MATCH = 258;
// Enough lookahead for a full match at the next position plus the hash bytes after it.
constexpr uint32_t MIN_LOOKAHEAD = MAX_MATCH + MIN_MATCH + 1;
// One less than the window, so that the chain slot of the farthest candidate can never have been
// overwritten by the position being searched.
constexpr uint32_t MAX_DIST = WSIZE - 1;

// The level-8 row of the usual parameter table.
constexpr uint32_t GOOD_LENGTH = 32;
constexpr uint32_t MAX_LAZY = 128;
constexpr uint32_t NICE_LENGTH = 258;
constexpr uint32_t MAX_CHAIN = 1024;
// A length-3 match this far away costs more than three literals.
constexpr uint32_t TOO_FAR = 4096;
// After this many literals in a row (compressed files, encrypted or random data), only every
// LITERAL_SEARCH_STEP-th position is searched: there the searches nearly all fail, and a match that a
// skipped position would have started is mostly found one to three bytes later. Every position is
// still put into the chains. On the benchmark corpus 5 % fewer instructions, 0.04 % more output.
constexpr uint32_t LITERAL_RUN_SPARSE = 128;
constexpr uint32_t LITERAL_SEARCH_STEP = 4;

// Table sizes, measured on the benchmark corpus: with 2^17 heads a 4-byte head is rarely a collision
// that must be followed, and with 2^15 heads the 3-byte table often proves that no 4-byte match can
// exist (see LongestMatch); larger tables lose more to cache misses than they save.
constexpr uint32_t HASH4_BITS = 17;
constexpr uint32_t HASH3_BITS = 15;
// A chain stretch through one run is taken as a whole only when at least this many equal bytes
// precede the candidate (checked with one 8-byte load).
constexpr uint32_t RUN_STRETCH_MIN = 8;

// Heads are kept between one window and STALE_AGE + CLEAN_INTERVAL + MAX_MATCH < 65536 old.
constexpr uint32_t STALE_AGE = WSIZE;
constexpr uint32_t CLEAN_INTERVAL = 32000;
static_assert(STALE_AGE + CLEAN_INTERVAL + MAX_MATCH < 65536, "a head could wrap around before it is cleaned");

// A large window buffer makes moves rare and keeps a whole poorly compressible block in memory, so
// that it can still be sent stored.
constexpr uint32_t WINDOW_BUFFER = 1u << 19;
constexpr uint32_t WINDOW_PAD = MAX_MATCH + 16; // over-reads of the 8-byte compares
constexpr uint32_t READ_PIECE = static_cast<uint32_t>(CDeflateEncoder::INPUT_PIECE_SIZE);

// Block splitting: a check every SEGMENT_SYMBOLS symbols; a split must save more than the estimated
// cost of one more dynamic header.
constexpr uint32_t SEGMENT_SYMBOLS = 4096;
// 65535 literals fill exactly one stored block.
constexpr uint32_t MAX_BLOCK_SYMBOLS = 65535;
constexpr double SPLIT_PENALTY_BITS = 600.0;

// Worst case of a fixed block is 31 bits per symbol; the chosen form is never longer.
constexpr size_t OUT_BUFFER = MAX_BLOCK_SYMBOLS * 4 + 4096;
constexpr size_t OUT_SLACK = 16;

constexpr unsigned LITLEN_SYMBOLS = 286;
constexpr unsigned DIST_SYMBOLS = 30;
constexpr unsigned PRECODE_SYMBOLS = 19;
constexpr unsigned END_OF_BLOCK = 256;
constexpr unsigned MAX_CODE_BITS = 15;
constexpr unsigned MAX_PRECODE_BITS = 7;
constexpr uint32_t STORED_MAX = 65535;

constexpr unsigned BTYPE_STORED = 0;
constexpr unsigned BTYPE_FIXED = 1;
constexpr unsigned BTYPE_DYNAMIC = 2;

constexpr uint8_t PRECODE_ORDER[PRECODE_SYMBOLS] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Length codes 257..285 as 0..28: extra bits and base length minus 3.
constexpr uint8_t LEN_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct SCodeTables {
    uint8_t m_lenCode[256];  // length - 3 -> length code 0..28
    uint16_t m_lenBase[29];  // base length - 3
    uint16_t m_distBase[30]; // base distance
    uint16_t m_fixedLitCodes[288];
    uint8_t m_fixedLitLens[288];
    uint16_t m_fixedDistCodes[30];
    uint8_t m_fixedDistLens[30];

    SCodeTables()
    {
        uint32_t base = 0;
        for (unsigned code = 0; code < 28; ++code) {
            m_lenBase[code] = static_cast<uint16_t>(base);
            for (uint32_t k = 0; k < (1u << LEN_EXTRA[code]); ++k) {
                m_lenCode[base + k] = static_cast<uint8_t>(code);
            }
            base += 1u << LEN_EXTRA[code];
        }
        // Length 258 has its own code, although 227 + 31 would also reach it through code 27.
        m_lenBase[28] = 255;
        m_lenCode[255] = 28;
        uint32_t dist = 1;
        for (unsigned code = 0; code < 30; ++code) {
            m_distBase[code] = static_cast<uint16_t>(dist);
            dist += 1u << DIST_EXTRA[code];
        }
        for (unsigned s = 0; s < 288; ++s) {
            m_fixedLitLens[s] = s < 144 ? 8 : (s < 256 ? 9 : (s < 280 ? 7 : 8));
        }
        CHuffmanCode::BuildCodes(m_fixedLitLens, 288, m_fixedLitCodes);
        for (unsigned s = 0; s < 30; ++s) {
            m_fixedDistLens[s] = 5;
        }
        CHuffmanCode::BuildCodes(m_fixedDistLens, 30, m_fixedDistCodes);
    }
};

const SCodeTables& Tables()
{
    static const SCodeTables s_tables;
    return s_tables;
}

inline uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

inline void Store64(uint8_t* p, uint64_t v)
{
    std::memcpy(p, &v, sizeof(v));
}

inline uint32_t Hash4(uint32_t fourBytes)
{
    return (fourBytes * 0x9E3779B1u) >> (32 - HASH4_BITS);
}

inline uint64_t Load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

inline uint32_t Hash3(uint32_t fourBytes)
{
    return ((fourBytes << 8) * 0x9E3779B1u) >> (32 - HASH3_BITS);
}

inline unsigned CountTrailingZeros(uint64_t v)
{
#if defined(__i386__)
    // The 64-bit builtin is a library call on a 32-bit processor, in the innermost loop of the search.
    const uint32_t low = static_cast<uint32_t>(v);
    return low != 0 ? static_cast<unsigned>(__builtin_ctz(low))
                    : 32 + static_cast<unsigned>(__builtin_ctz(static_cast<uint32_t>(v >> 32)));
#else
    return static_cast<unsigned>(__builtin_ctzll(v));
#endif
}

// Number of equal leading bytes of a and b, at most max. Reads up to 8 bytes past max.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t max)
{
    uint32_t len = 0;
    for (;;) {
        uint64_t x, y;
        std::memcpy(&x, a + len, 8);
        std::memcpy(&y, b + len, 8);
        const uint64_t diff = x ^ y;
        if (diff != 0) {
            len += CountTrailingZeros(diff) >> 3;
            return len < max ? len : max;
        }
        len += 8;
        if (len >= max) {
            return max;
        }
    }
}

inline uint32_t DistCode(uint32_t dist)
{
    const uint32_t d = dist - 1;
    if (d < 4) {
        return d;
    }
    const uint32_t lg = 31 - static_cast<uint32_t>(__builtin_clz(d));
    return 2 * lg + ((d >> (lg - 1)) & 1);
}

// log2 of a positive count to about 1e-5, from the position of the top bit and a 256-entry table of
// the mantissa with linear interpolation: the block-splitting estimate needs hundreds per segment.
struct SLog2Table {
    float m_value[257];
    SLog2Table()
    {
        for (int i = 0; i <= 256; ++i) {
            m_value[i] = static_cast<float>(std::log2(1.0 + i / 256.0));
        }
    }
};

inline float Log2Count(uint32_t n)
{
    static const SLog2Table s_table;
    const int top = 31 - __builtin_clz(n);
    // The 16 bits below the top bit: 8 select the table entry, 8 interpolate.
    const uint32_t frac = top >= 16 ? (n >> (top - 16)) & 0xFFFF : (n << (16 - top)) & 0xFFFF;
    const uint32_t index = frac >> 8;
    const float t = static_cast<float>(frac & 0xFF) * (1.0f / 256.0f);
    return static_cast<float>(top) + s_table.m_value[index] + t * (s_table.m_value[index + 1] - s_table.m_value[index]);
}

// The offset k, from 0 to limit, at which the position of a candidate plus k (the candidate at stream
// offset atNow, window index at) links farthest back on its chain. Whatever beats the best match agrees
// with it on the bytes k to k + 3 for every such k, so each of these chains holds all of it; limit
// keeps the positions before the one being searched, whose chains are complete.
inline uint32_t FarthestLinkOffset(const uint16_t* prev, uint32_t at, uint16_t atNow, uint32_t limit)
{
    uint32_t offset = 0;
    uint32_t farthest = 0;
    for (uint32_t k = 0; k <= limit; ++k) {
        const uint32_t link = static_cast<uint16_t>(atNow + k - prev[(at + k) & WMASK]);
        if (link > farthest) {
            farthest = link;
            offset = k;
        }
    }
    return offset;
}

// Sets every head older than the window to exactly one window old. Branch-free over a size known at
// compile time, so that the compiler can do it 8 heads at a time.
template <size_t N>
__attribute__((always_inline)) inline void CleanTable(uint16_t* table, uint16_t now)
{
    const uint16_t stale = static_cast<uint16_t>(now - STALE_AGE);
    for (size_t i = 0; i < N; ++i) {
        const uint16_t value = table[i];
        const uint16_t age = static_cast<uint16_t>(now - value);
        const uint16_t old = static_cast<uint16_t>(0u - static_cast<uint16_t>(age > MAX_DIST));
        table[i] = static_cast<uint16_t>((value & ~old) | (stale & old));
    }
}

#if defined(__i386__) && !defined(__SSE2__)
// The 32-bit build targets processors without SSE2 as well, where the cleaning goes one head at a time
// and takes a tenth of the encoder's time; where SSE2 is there, the same loop is compiled for it (on a
// stack realigned to 16 bytes, as the 32-bit Windows ABI promises only 4).
template <size_t N>
__attribute__((target("sse2"), force_align_arg_pointer)) void CleanTableSse2(uint16_t* table, uint16_t now)
{
    CleanTable<N>(table, now);
}
#endif

template <size_t N>
void CleanTableFastest(uint16_t* table, uint16_t now)
{
#if defined(__i386__) && !defined(__SSE2__)
    if (CProcessorFeatures::Sse2()) {
        CleanTableSse2<N>(table, now);
        return;
    }
#endif
    CleanTable<N>(table, now);
}

// Sum of c * log2(total / c) over the counts: the entropy-coded size in bits.
double EntropyBits(const uint32_t* counts, unsigned n)
{
    uint32_t total = 0;
    double sum = 0;
    for (unsigned i = 0; i < n; ++i) {
        const uint32_t c = counts[i];
        if (c != 0) {
            total += c;
            sum += c * Log2Count(c);
        }
    }
    return total == 0 ? 0.0 : total * static_cast<double>(Log2Count(total)) - sum;
}

double BlockCost(const uint32_t* lit, const uint32_t* dist)
{
    return EntropyBits(lit, LITLEN_SYMBOLS) + EntropyBits(dist, DIST_SYMBOLS);
}

// The code-length sequence of a dynamic header, run-length coded with symbols 16, 17 and 18.
struct SPrecodeItems {
    uint8_t m_sym[LITLEN_SYMBOLS + DIST_SYMBOLS];
    uint8_t m_extra[LITLEN_SYMBOLS + DIST_SYMBOLS];
    unsigned m_count = 0;

    void Add(unsigned sym, unsigned extra)
    {
        m_sym[m_count] = static_cast<uint8_t>(sym);
        m_extra[m_count] = static_cast<uint8_t>(extra);
        ++m_count;
    }
};

void RunLengthCode(const uint8_t* lens, unsigned n, SPrecodeItems& items)
{
    unsigned i = 0;
    while (i < n) {
        const uint8_t v = lens[i];
        unsigned run = 1;
        while (i + run < n && lens[i + run] == v) {
            ++run;
        }
        i += run;
        if (v == 0) {
            while (run >= 11) {
                const unsigned r = std::min(run, 138u);
                items.Add(18, r - 11);
                run -= r;
            }
            if (run >= 3) {
                items.Add(17, run - 3);
                run = 0;
            }
        } else {
            items.Add(v, 0);
            --run;
            while (run >= 3) {
                const unsigned r = std::min(run, 6u);
                items.Add(16, r - 3);
                run -= r;
            }
        }
        while (run > 0) {
            items.Add(v, 0);
            --run;
        }
    }
}

constexpr unsigned PRECODE_EXTRA_BITS[PRECODE_SYMBOLS] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

} // namespace

CDeflateEncoder::CDeflateEncoder()
    : m_window(new uint8_t[WINDOW_BUFFER + WINDOW_PAD]()),
      m_head4(new uint16_t[1u << HASH4_BITS]()),
      m_head3(new uint16_t[1u << HASH3_BITS]()),
      m_prev(new uint16_t[WSIZE]()),
      m_syms(new uint32_t[MAX_BLOCK_SYMBOLS]),
      m_out(new uint8_t[OUT_BUFFER + OUT_SLACK])
{
    Tables();
}

CDeflateEncoder::~CDeflateEncoder() = default;

bool CDeflateEncoder::Fault(const char* pszMessage)
{
    m_status = eDeflateStatus_INTERNAL_FAULT;
    m_pszFault = pszMessage;
    return false;
}

void CDeflateEncoder::ResetStream()
{
    // Every head starts out one window old, i.e. empty.
    std::fill_n(m_head4.get(), size_t(1) << HASH4_BITS, static_cast<uint16_t>(0u - STALE_AGE));
    std::fill_n(m_head3.get(), size_t(1) << HASH3_BITS, static_cast<uint16_t>(0u - STALE_AGE));
    // m_prev needs no reset: a chain only reaches slots written for positions of this stream.
    m_nextClean = CLEAN_INTERVAL;
    m_status = eDeflateStatus_OK;
    m_pszFault = "";
    m_pos = 0;
    m_end = 0;
    m_eof = false;
    m_windowBase = 0;
    m_consumed = 0;
    m_numSyms = 0;
    m_segSymStart = 0;
    m_blockInputStart = 0;
    m_segInputStart = 0;
    std::memset(&m_block, 0, sizeof(m_block));
    std::memset(&m_segment, 0, sizeof(m_segment));
    m_blockCost = 0;
    m_bitBuf = 0;
    m_bitCount = 0;
    m_outPos = 0;
}

void CDeflateEncoder::CleanHeads(uint64_t streamPos)
{
    // A head older than the window is set to exactly one window old. Cleaning every CLEAN_INTERVAL
    // positions keeps every head younger than 65536 (STALE_AGE + CLEAN_INTERVAL + a match), so no
    // 16-bit value is ever mistaken for a recent one.
    const uint16_t now = static_cast<uint16_t>(streamPos);
    CleanTableFastest<size_t(1) << HASH4_BITS>(m_head4.get(), now);
    CleanTableFastest<size_t(1) << HASH3_BITS>(m_head3.get(), now);
    m_nextClean = streamPos + CLEAN_INTERVAL;
}

bool CDeflateEncoder::Fill()
{
    while (!m_eof && m_end - m_pos < MIN_LOOKAHEAD) {
        if (WINDOW_BUFFER - m_end < READ_PIECE) {
            MoveWindow();
        }
        size_t got = 0;
        if (!m_pSource->Read(m_window.get() + m_end, READ_PIECE, got)) {
            m_status = eDeflateStatus_READ_FAILED;
            return false;
        }
        if (got == 0) {
            m_eof = true;
        }
        m_end += static_cast<uint32_t>(std::min<size_t>(got, READ_PIECE));
    }
    return true;
}

void CDeflateEncoder::MoveWindow()
{
    // Keep the match window, and the current block's input while it is not too old, so that the block
    // can still be sent stored. Moving by whole windows keeps the window base a multiple of 32 KiB.
    uint32_t keep = m_pos - WSIZE;
    if (m_blockInputStart >= m_windowBase) {
        const uint64_t blockIndex = m_blockInputStart - m_windowBase;
        if (blockIndex < keep && m_pos - blockIndex <= WINDOW_BUFFER / 2) {
            keep = static_cast<uint32_t>(blockIndex);
        }
    }
    keep &= ~WMASK;
    if (keep == 0) {
        return;
    }
    std::memmove(m_window.get(), m_window.get() + keep, m_end - keep);
    m_pos -= keep;
    m_end -= keep;
    m_windowBase += keep;
}

// Inlined into the parsing loop: it runs at nearly every position of poorly compressible data, where
// the call itself would be a good part of the cost.
__attribute__((always_inline)) inline uint32_t CDeflateEncoder::LongestMatch(const SSearch& search, uint32_t best,
                                                                             uint32_t& dist) const
{
    const uint32_t pos = search.m_pos;
    const uint8_t* const scan = m_window.get() + pos;
    const uint32_t maxLen = std::min(MAX_MATCH, search.m_avail);
    if (best >= maxLen) {
        return best;
    }
    const uint32_t nice = std::min(NICE_LENGTH, maxLen);
    uint32_t chain = best >= GOOD_LENGTH ? MAX_CHAIN >> 2 : MAX_CHAIN;

    // A 3-byte match farther than TOO_FAR is dropped anyway, and a longer one is on the 4-byte chain,
    // so the 3-byte candidate is only looked at when it is near. Distances run from 1 to MAX_DIST;
    // "d - 1 < limit" also rejects 0.
    const uint32_t dist3 = search.m_dist3;
    if (best < MIN_MATCH && dist3 - 1 < TOO_FAR && (Load32(scan - dist3) << 8) == (Load32(scan) << 8)) {
        best = MIN_MATCH + MatchLength(scan - dist3 + MIN_MATCH, scan + MIN_MATCH, maxLen - MIN_MATCH);
        dist = dist3;
        if (best >= nice) {
            return best;
        }
    }
    // Any position with the same first four bytes has the same first three, so when even the newest
    // position of that 3-byte hash is outside the window, the 4-byte chain holds only collisions.
    if (maxLen < 4 || search.m_dist4 - 1 >= MAX_DIST || dist3 - 1 >= MAX_DIST) {
        return best;
    }
    const uint32_t first = Load32(scan);
    if (first == (first & 0xFF) * 0x01010101u) {
        return LongestMatchInRuns(pos, search.m_dist4, best, chain, maxLen, nice, dist);
    }
    uint32_t d = search.m_dist4;
    uint32_t offset = 0;
    if (best >= 4 && d >= best - 3) {
        // A winner must also agree on the four bytes that end one past the best so far, so the walk
        // may as well start on their chain when its newest candidate is older, and need not start at
        // all when there is none. This is mostly the second look of the lazy rule, one byte after a
        // match: its first bytes have just been seen, often many times over. That chain only holds
        // positions up to this one, i.e. winners at least best - 3 back; nearer ones cannot exist
        // when the newest candidate on this position's own chain is not nearer.
        const uint16_t now = static_cast<uint16_t>(pos + static_cast<uint32_t>(m_windowBase));
        const uint32_t last = best - 3;
        const uint32_t dLast = static_cast<uint16_t>(now + last - m_head4[Hash4(Load32(scan + last))]);
        if (dLast > std::min(MAX_DIST, pos)) {
            return best;
        }
        if (dLast > d) {
            d = dLast;
            offset = last;
        }
    }
    return WalkChain(pos, d, offset, best, dist, chain, maxLen, nice);
}

// Walks from the candidate at distance d along the chain of position pos + offset, newest first.
// A candidate can only beat the best match so far if it agrees with it on every byte, so it is on the
// chain of every position inside that match: each new best moves the walk to the one of those chains
// whose next link reaches farthest back. The candidates skipped that way could not have won, so
// unless the chain limit cuts it off, the walk finds what the plain walk would, in fewer steps; in logs
// and text, whose lines share long prefixes or indentation, the plain chain holds hundreds of them.
__attribute__((always_inline)) inline uint32_t CDeflateEncoder::WalkChain(uint32_t pos, uint32_t d, uint32_t offset,
                                                                          uint32_t best, uint32_t& dist,
                                                                          uint32_t& chain, uint32_t maxLen,
                                                                          uint32_t nice) const
{
    const uint8_t* const scan = m_window.get() + pos;
    const uint32_t first = Load32(scan);
    const uint16_t* const prev = m_prev.get();
    const uint16_t now = static_cast<uint16_t>(pos + static_cast<uint32_t>(m_windowBase));
    // A longer match must agree on the four bytes that end one past the best so far.
    uint32_t check = best > 3 ? best - 3 : 0;
    uint32_t checkBytes = Load32(scan + check);
    uint32_t bestDist = dist;
    uint32_t chainPos = pos + offset;
    uint16_t chainNow = static_cast<uint16_t>(now + offset);
    // A chain followed at an offset can lead to a position that, moved back by the offset, lies before
    // the start of the stream. Once the window has moved, pos is at least a window into the buffer.
    const uint32_t maxDist = std::min(MAX_DIST, pos);
    for (;;) {
        const uint8_t* const match = scan - d;
        if (Load32(match + check) == checkBytes && Load32(match) == first) {
            const uint32_t len = 4 + MatchLength(match + 4, scan + 4, maxLen - 4);
            if (len > best) {
                best = len;
                bestDist = d;
                if (len >= nice) {
                    break;
                }
                check = best - 3;
                checkBytes = Load32(scan + check);
                offset = FarthestLinkOffset(prev, pos - d, static_cast<uint16_t>(now - d), std::min(best - 4, d - 1));
                chainPos = pos + offset;
                chainNow = static_cast<uint16_t>(now + offset);
            }
        }
        if (--chain == 0) {
            break;
        }
        // Links are stored as true distances below 65536 (see Insert), so they only lead farther back.
        d = static_cast<uint16_t>(chainNow - prev[(chainPos - d) & WMASK]);
        if (d > maxDist) {
            break;
        }
    }
    dist = bestDist;
    return best;
}

// The chain of a position that starts with four equal bytes b runs through every earlier position that
// does, and inside one run of b's those are consecutive: c, c-1, ..., s. With R the length of the run
// at the scan position, a candidate whose own run is shorter than R matches exactly that run, one whose
// run is longer matches R, and only the one whose run is exactly R can go on past it. So a whole
// stretch of the chain gives the same result as walking it entry by entry (lengths grow with age up to
// that one), and the walk resumes at the link below s with the chain budget reduced by the stretch.
// Stretches shorter than RUN_STRETCH_MIN (indentation, short padding) are cheaper to step through.
uint32_t CDeflateEncoder::LongestMatchInRuns(uint32_t pos, uint32_t d, uint32_t best, uint32_t chain, uint32_t maxLen,
                                             uint32_t nice, uint32_t& dist) const
{
    const uint8_t* const scan = m_window.get() + pos;
    const uint32_t first = Load32(scan);
    const uint8_t b = scan[0];
    const uint64_t pattern = 0x0101010101010101ull * b;
    const uint32_t runLen = 1 + MatchLength(scan + 1, scan, maxLen - 1);
    const uint16_t* const prev = m_prev.get();
    const uint16_t now = static_cast<uint16_t>(pos + static_cast<uint32_t>(m_windowBase));
    if (best >= runLen) {
        // Typically the second look at indentation, after a match that ended in it: a winner must
        // go on past the run, so it is on the chain of the last three bytes of the run and the one
        // after it, which starts at that position's hash head.
        const uint32_t offset = runLen - 3;
        const uint32_t d0 = static_cast<uint16_t>(now + offset - m_head4[Hash4(Load32(scan + offset))]);
        if (d0 > std::min(MAX_DIST, pos)) {
            return best;
        }
        return WalkChain(pos, d0, offset, best, dist, chain, maxLen, nice);
    }
    uint32_t check = best > 3 ? best - 3 : 0;
    uint32_t checkBytes = Load32(scan + check);
    uint32_t bestDist = dist;
    for (;;) {
        const uint8_t* const match = scan - d;
        uint32_t last = d; // distance of the oldest entry handled in this step
        uint32_t len = 0;
        uint32_t lenDist = d;
        if (Load32(match) != first) {
            // a hash collision
        } else if (pos - d < RUN_STRETCH_MIN || Load64(match - RUN_STRETCH_MIN) != pattern) {
            if (Load32(match + check) == checkBytes) {
                len = 4 + MatchLength(match + 4, scan + 4, maxLen - 4);
            }
        } else {
            // Equal bytes from the candidate on (capped at runLen + 1), and before it within budget
            // and window.
            const uint32_t ownRun = 1 + MatchLength(match + 1, match, runLen);
            const uint32_t maxBack = std::min(std::min(chain - 1, MAX_DIST - d), pos - d);
            uint32_t back = RUN_STRETCH_MIN;
            for (;;) {
                if (back + 8 > maxBack) {
                    while (back < maxBack && match[-1 - static_cast<int32_t>(back)] == b) {
                        ++back;
                    }
                    break;
                }
                const uint64_t diff = Load64(match - back - 8) ^ pattern;
                if (diff != 0) {
                    back += static_cast<uint32_t>(__builtin_clzll(diff)) >> 3;
                    break;
                }
                back += 8;
            }
            back = std::min(back, maxBack);
            if (ownRun > runLen) {
                len = runLen;
            } else if (runLen - ownRun <= back) {
                const uint32_t k = runLen - ownRun;
                len = runLen + MatchLength(match - k + runLen, scan + runLen, maxLen - runLen);
                lenDist = d + k;
            } else {
                len = ownRun + back;
                lenDist = d + back;
            }
            chain -= back;
            last = d + back;
            if (back == maxBack && chain > 1) {
                chain = 1; // the stretch reached the window's end: nothing older is left
            }
        }
        if (len > best) {
            best = len;
            bestDist = lenDist;
            if (len >= nice) {
                break;
            }
            check = best - 3;
            checkBytes = Load32(scan + check);
            if (best > runLen) {
                // Only candidates that go on past the run as this one does can still win, and the
                // chains through the bytes after the run are far sparser than the run's own.
                const uint32_t offset = FarthestLinkOffset(prev, pos - lenDist, static_cast<uint16_t>(now - lenDist),
                                                           std::min(best - 4, lenDist - 1));
                best = WalkChain(pos, lenDist, offset, best, bestDist, chain, maxLen, nice);
                break;
            }
        }
        if (--chain == 0) {
            break;
        }
        d = static_cast<uint16_t>(now - prev[(pos - last) & WMASK]);
        if (d > MAX_DIST) {
            break;
        }
    }
    dist = bestDist;
    return best;
}

// Puts position p at the head of its chains and returns the previous heads as distances. A previous
// head outside the window is linked as exactly one window old, so that every stored link is a true
// distance below 65536 and a walk needs no check for wrapped values.
__attribute__((always_inline)) inline void CDeflateEncoder::Insert(uint32_t p, uint16_t now, SSearch& search)
{
    const uint32_t bytes = Load32(m_window.get() + p);
    InsertHashed(p, now, Hash4(bytes), Hash3(bytes), search);
}

__attribute__((always_inline)) inline void CDeflateEncoder::InsertHashed(uint32_t p, uint16_t now, uint32_t h4,
                                                                         uint32_t h3, SSearch& search)
{
    const uint16_t stale = static_cast<uint16_t>(now - STALE_AGE);
    const uint16_t cand4 = m_head4[h4];
    search.m_dist4 = static_cast<uint16_t>(now - cand4);
    search.m_dist3 = static_cast<uint16_t>(now - m_head3[h3]);
    m_prev[p & WMASK] = search.m_dist4 > MAX_DIST ? stale : cand4;
    m_head4[h4] = now;
    m_head3[h3] = now;
}

EDeflateStatus CDeflateEncoder::Compress(IByteSource& source, IByteSink& sink, const uint8_t* pDictionary,
                                         size_t cbDictionary, bool final)
{
    ResetStream();
    m_pSource = &source;
    m_pSink = &sink;
    m_final = final;
    if (cbDictionary > MAX_DICTIONARY || (cbDictionary > 0 && pDictionary == nullptr)) {
        Fault("invalid dictionary");
        return m_status;
    }
    if (cbDictionary > 0) {
        // The dictionary is the start of the window, as if it had just been parsed: its positions are
        // in the chains, and the symbols start after it.
        const uint32_t dictionary = static_cast<uint32_t>(cbDictionary);
        std::memcpy(m_window.get(), pDictionary, dictionary);
        m_end = dictionary;
        m_pos = dictionary;
        m_consumed = dictionary;
        m_blockInputStart = dictionary;
        m_segInputStart = dictionary;
        // The last positions hash bytes of the piece itself; they must be read first, or stale bytes
        // of an earlier piece would decide the chains (and the output would depend on which encoder
        // compressed what before).
        if (!Fill()) {
            return m_status;
        }
        SSearch unused;
        for (uint32_t p = 0; p < dictionary && m_end - p >= 4; ++p) {
            if (p >= m_nextClean) {
                CleanHeads(p);
            }
            Insert(p, static_cast<uint16_t>(p), unused);
        }
    }

    const SCodeTables& tables = Tables();
    uint8_t* const window = m_window.get();
    uint32_t* const syms = m_syms.get();
    uint32_t* const segLit = m_segment.m_lit;
    uint32_t* const segDist = m_segment.m_dist;

    uint32_t numSyms = 0;
    uint64_t consumed = m_consumed;
    uint32_t segmentEnd = SEGMENT_SYMBOLS;
    auto sync = [&]() {
        m_numSyms = numSyms;
        m_consumed = consumed;
    };

    uint32_t matchLen = MIN_MATCH - 1;
    uint32_t matchDist = 0;
    bool matchAvailable = false;
    uint32_t pos = m_pos;
    uint32_t cleanAt = 0;
    uint32_t base16 = 0; // the window base modulo 65536
    auto windowIndexes = [&]() {
        base16 = static_cast<uint32_t>(m_windowBase);
        cleanAt = static_cast<uint32_t>(m_nextClean - m_windowBase);
    };
    windowIndexes();
    // Filling and head cleaning fall due at known positions; one compare per position finds the next
    // of them.
    uint32_t nextEvent = 0;
    auto scheduleEvents = [&]() {
        const uint32_t fillAt = m_eof ? m_end : (m_end >= MIN_LOOKAHEAD ? m_end - MIN_LOOKAHEAD + 1 : 0);
        nextEvent = std::min(fillAt, cleanAt);
    };
    // The hashes of the next position, computed for the prefetch and used again when the parse
    // moves on by one.
    uint32_t hashedPos = UINT32_MAX;
    uint32_t nextH4 = 0;
    uint32_t nextH3 = 0;
    SSearch search;
    uint32_t literalRun = 0; // literals since the last match, in this piece
    for (;;) {
        if (pos >= nextEvent) {
            if (m_end - pos < MIN_LOOKAHEAD && !m_eof) {
                m_pos = pos;
                sync();
                if (!Fill()) {
                    return m_status;
                }
                pos = m_pos;
                hashedPos = UINT32_MAX; // the window may have moved
                windowIndexes();
            }
            if (pos >= m_end) {
                break;
            }
            if (pos >= cleanAt) {
                CleanHeads(m_windowBase + pos);
                windowIndexes();
            }
            scheduleEvents();
        }
        const uint32_t end = m_end;
        search.m_pos = pos;
        search.m_avail = end - pos;
        search.m_dist4 = 0;
        search.m_dist3 = 0;
        if (search.m_avail > 4) {
            uint32_t h4;
            uint32_t h3;
            if (hashedPos == pos) {
                h4 = nextH4;
                h3 = nextH3;
            } else {
                const uint32_t bytes = Load32(window + pos);
                h4 = Hash4(bytes);
                h3 = Hash3(bytes);
            }
            // The next position's buckets are fetched while this one is searched: the table loads are
            // random and would otherwise cost a cache miss each.
            const uint32_t nextBytes = Load32(window + pos + 1);
            nextH4 = Hash4(nextBytes);
            nextH3 = Hash3(nextBytes);
            hashedPos = pos + 1;
            __builtin_prefetch(&m_head4[nextH4]);
            __builtin_prefetch(&m_head3[nextH3]);
            InsertHashed(pos, static_cast<uint16_t>(pos + base16), h4, h3, search);
        } else if (search.m_avail == 4) {
            Insert(pos, static_cast<uint16_t>(pos + base16), search);
        }
        const uint32_t prevLen = matchLen;
        const uint32_t prevDist = matchDist;
        matchLen = MIN_MATCH - 1;
        if (literalRun >= LITERAL_RUN_SPARSE && prevLen < MIN_MATCH && literalRun % LITERAL_SEARCH_STEP != 0) {
            // not searched: see LITERAL_RUN_SPARSE
        } else if (prevLen < MAX_LAZY) {
            matchLen = LongestMatch(search, prevLen, matchDist);
            if (matchLen == MIN_MATCH && matchDist > TOO_FAR) {
                matchLen = MIN_MATCH - 1;
            }
        }
        if (prevLen >= MIN_MATCH && matchLen <= prevLen) {
            // The match that started at pos - 1 wins.
            syms[numSyms++] = (prevDist << 8) | (prevLen - MIN_MATCH);
            ++segLit[257 + tables.m_lenCode[prevLen - MIN_MATCH]];
            ++segDist[DistCode(prevDist)];
            consumed += prevLen;
            const uint32_t next = pos - 1 + prevLen;
            const uint32_t insertEnd = std::min(next, end - 4);
            uint32_t p = pos + 1;
            SSearch unused;
            for (; p < insertEnd; ++p) {
                __builtin_prefetch(&m_head4[Hash4(Load32(window + p + 1))]);
                Insert(p, static_cast<uint16_t>(p + base16), unused);
            }
            // The last position that has four bytes has no next one to fetch ahead for.
            for (const uint32_t tailEnd = std::min(next, end - 3); p < tailEnd; ++p) {
                Insert(p, static_cast<uint16_t>(p + base16), unused);
            }
            pos = next;
            literalRun = 0;
            matchAvailable = false;
            matchLen = MIN_MATCH - 1;
        } else if (matchAvailable) {
            const uint8_t c = window[pos - 1];
            syms[numSyms++] = c;
            ++segLit[c];
            ++consumed;
            ++pos;
            ++literalRun;
        } else {
            matchAvailable = true;
            ++pos;
            continue;
        }
        if (numSyms >= segmentEnd) {
            m_pos = pos;
            sync();
            if (!EndSegment(false)) {
                return m_status;
            }
            numSyms = m_numSyms;
            segmentEnd = std::min(numSyms + SEGMENT_SYMBOLS, MAX_BLOCK_SYMBOLS);
        }
    }
    if (matchAvailable) {
        const uint8_t c = window[pos - 1];
        syms[numSyms++] = c;
        ++segLit[c];
        ++consumed;
    }
    m_pos = pos;
    sync();
    if (!EndSegment(true)) {
        return m_status;
    }
    if (!m_final && m_bitCount > 0) {
        // An empty stored block: the next piece starts on a byte boundary.
        PutBits(BTYPE_STORED << 1, 3);
        m_bitCount = (m_bitCount + 7) & ~7u;
        FlushBits();
        PutBits(0xFFFFu << 16, 32);
    }
    if (m_bitCount > 0) {
        m_out[m_outPos++] = static_cast<uint8_t>(m_bitBuf);
        m_bitBuf = 0;
        m_bitCount = 0;
    }
    if (!DrainOutput()) {
        return m_status;
    }
    return eDeflateStatus_OK;
}

bool CDeflateEncoder::EndSegment(bool streamEnd)
{
    const uint32_t segSyms = m_numSyms - m_segSymStart;
    if (m_segSymStart == 0) {
        m_block = m_segment;
        m_blockCost = BlockCost(m_block.m_lit, m_block.m_dist);
    } else if (segSyms > 0) {
        SBlockCounts merged;
        for (unsigned i = 0; i < 288; ++i) {
            merged.m_lit[i] = m_block.m_lit[i] + m_segment.m_lit[i];
        }
        for (unsigned i = 0; i < 32; ++i) {
            merged.m_dist[i] = m_block.m_dist[i] + m_segment.m_dist[i];
        }
        const double segmentCost = BlockCost(m_segment.m_lit, m_segment.m_dist);
        const double mergedCost = BlockCost(merged.m_lit, merged.m_dist);
        if (m_blockCost + segmentCost + SPLIT_PENALTY_BITS < mergedCost) {
            if (!FlushBlock(m_segSymStart, m_block, m_blockInputStart, m_segInputStart - m_blockInputStart, false)) {
                return false;
            }
            std::memmove(m_syms.get(), m_syms.get() + m_segSymStart, segSyms * sizeof(uint32_t));
            m_numSyms = segSyms;
            m_block = m_segment;
            m_blockCost = segmentCost;
            m_blockInputStart = m_segInputStart;
        } else {
            m_block = merged;
            m_blockCost = mergedCost;
        }
    }
    std::memset(&m_segment, 0, sizeof(m_segment));
    m_segSymStart = m_numSyms;
    m_segInputStart = m_consumed;
    if (streamEnd || m_numSyms >= MAX_BLOCK_SYMBOLS) {
        if (!FlushBlock(m_numSyms, m_block, m_blockInputStart, m_consumed - m_blockInputStart, streamEnd && m_final)) {
            return false;
        }
        m_numSyms = 0;
        m_segSymStart = 0;
        std::memset(&m_block, 0, sizeof(m_block));
        m_blockCost = 0;
        m_blockInputStart = m_consumed;
        m_segInputStart = m_consumed;
    }
    return true;
}

inline void CDeflateEncoder::PutBits(uint32_t bits, unsigned count)
{
    m_bitBuf |= static_cast<uint64_t>(bits) << m_bitCount;
    m_bitCount += count;
    FlushBits();
}

inline void CDeflateEncoder::FlushBits()
{
    Store64(m_out.get() + m_outPos, m_bitBuf);
    m_outPos += m_bitCount >> 3;
    m_bitBuf = (m_bitCount & ~7u) == 64 ? 0 : m_bitBuf >> (m_bitCount & ~7u);
    m_bitCount &= 7;
}

bool CDeflateEncoder::DrainOutput()
{
    const uint8_t* p = m_out.get();
    size_t left = m_outPos;
    while (left > 0) {
        const size_t piece = std::min(left, OUTPUT_PIECE_SIZE);
        if (!m_pSink->Write(p, piece)) {
            m_status = eDeflateStatus_WRITE_FAILED;
            return false;
        }
        p += piece;
        left -= piece;
    }
    m_outPos = 0;
    return true;
}

void CDeflateEncoder::WriteSymbols(uint32_t numSyms, const uint16_t* litCodes, const uint8_t* litLens,
                                   const uint16_t* distCodes, const uint8_t* distLens)
{
    const SCodeTables& tables = Tables();
    // Length code and extra bits joined once per block: one shift and add per match instead of two.
    uint32_t lenBits[256];
    uint8_t lenCount[256];
    for (unsigned l = 0; l < 256; ++l) {
        const unsigned code = tables.m_lenCode[l];
        lenBits[l] = litCodes[257 + code] | ((l - tables.m_lenBase[code]) << litLens[257 + code]);
        lenCount[l] = static_cast<uint8_t>(litLens[257 + code] + LEN_EXTRA[code]);
    }
    const uint32_t* const syms = m_syms.get();
    uint8_t* out = m_out.get() + m_outPos;
#if defined(__i386__)
    // A 64-bit shift is several instructions and a branch on a 32-bit processor, so there the bits go
    // through a 32-bit accumulator that is emptied to below a byte after each code: at most 7 + 20
    // bits are ever in it (a length code's 15 with its 5 extra; a literal's or a distance code's 15, a
    // distance's 13 extra). 2.4 % fewer instructions for the encoder there, the same bits.
    uint32_t bits = static_cast<uint32_t>(m_bitBuf);
    unsigned count = m_bitCount;
    auto put = [&](uint32_t code, unsigned length) {
        bits |= code << count;
        count += length;
        std::memcpy(out, &bits, sizeof(bits));
        out += count >> 3;
        bits >>= count & ~7u;
        count &= 7;
    };
    for (uint32_t i = 0; i < numSyms; ++i) {
        const uint32_t s = syms[i];
        if (s < 256) {
            put(litCodes[s], litLens[s]);
        } else {
            const uint32_t l = s & 0xFF;
            const uint32_t dist = s >> 8;
            put(lenBits[l], lenCount[l]);
            const uint32_t dc = DistCode(dist);
            put(distCodes[dc], distLens[dc]);
            put(dist - tables.m_distBase[dc], DIST_EXTRA[dc]);
        }
    }
    m_bitBuf = bits;
    m_bitCount = count;
#else
    uint64_t bitBuf = m_bitBuf;
    unsigned bitCount = m_bitCount;
    for (uint32_t i = 0; i < numSyms; ++i) {
        const uint32_t s = syms[i];
        if (s < 256) {
            bitBuf |= static_cast<uint64_t>(litCodes[s]) << bitCount;
            bitCount += litLens[s];
        } else {
            const uint32_t l = s & 0xFF;
            const uint32_t dist = s >> 8;
            bitBuf |= static_cast<uint64_t>(lenBits[l]) << bitCount;
            bitCount += lenCount[l];
            const uint32_t dc = DistCode(dist);
            const uint32_t distBits = distCodes[dc] | ((dist - tables.m_distBase[dc]) << distLens[dc]);
            bitBuf |= static_cast<uint64_t>(distBits) << bitCount;
            bitCount += distLens[dc] + DIST_EXTRA[dc];
        }
        Store64(out, bitBuf);
        out += bitCount >> 3;
        bitBuf >>= bitCount & ~7u;
        bitCount &= 7;
    }
    m_bitBuf = bitBuf;
    m_bitCount = bitCount;
#endif
    m_outPos = static_cast<size_t>(out - m_out.get());
}

bool CDeflateEncoder::WriteStored(uint64_t inputStart, uint64_t inputLength, bool last)
{
    const uint8_t* p = m_window.get() + (inputStart - m_windowBase);
    uint64_t left = inputLength;
    do {
        const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(left, STORED_MAX));
        const bool final = last && piece == left;
        PutBits((final ? 1u : 0u) | (BTYPE_STORED << 1), 3);
        m_bitCount = (m_bitCount + 7) & ~7u;
        FlushBits();
        PutBits(piece | ((~piece & 0xFFFFu) << 16), 32);
        if (!DrainOutput()) {
            return false;
        }
        for (uint32_t done = 0; done < piece;) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(piece - done, OUTPUT_PIECE_SIZE));
            if (!m_pSink->Write(p + done, n)) {
                m_status = eDeflateStatus_WRITE_FAILED;
                return false;
            }
            done += n;
        }
        p += piece;
        left -= piece;
    } while (left > 0);
    return true;
}

bool CDeflateEncoder::FlushBlock(uint32_t numSyms, const SBlockCounts& counts, uint64_t inputStart,
                                 uint64_t inputLength, bool last)
{
    const SCodeTables& tables = Tables();
    uint32_t litFreq[288];
    std::memcpy(litFreq, counts.m_lit, sizeof(litFreq));
    litFreq[END_OF_BLOCK] = 1;
    const uint32_t* const distFreq = counts.m_dist;

    uint8_t litLens[288] = {};
    uint8_t distLens[32] = {};
    uint16_t litCodes[288];
    uint16_t distCodes[32];
    CHuffmanCode::BuildLengths(litFreq, LITLEN_SYMBOLS, MAX_CODE_BITS, litLens);
    CHuffmanCode::BuildLengths(distFreq, DIST_SYMBOLS, MAX_CODE_BITS, distLens);

    unsigned hlit = LITLEN_SYMBOLS;
    while (hlit > 257 && litLens[hlit - 1] == 0) {
        --hlit;
    }
    unsigned hdist = DIST_SYMBOLS;
    while (hdist > 1 && distLens[hdist - 1] == 0) {
        --hdist;
    }
    uint8_t allLens[LITLEN_SYMBOLS + DIST_SYMBOLS];
    std::memcpy(allLens, litLens, hlit);
    std::memcpy(allLens + hlit, distLens, hdist);
    SPrecodeItems items;
    RunLengthCode(allLens, hlit + hdist, items);
    uint32_t preFreq[PRECODE_SYMBOLS] = {};
    for (unsigned i = 0; i < items.m_count; ++i) {
        ++preFreq[items.m_sym[i]];
    }
    uint8_t preLens[PRECODE_SYMBOLS];
    uint16_t preCodes[PRECODE_SYMBOLS];
    CHuffmanCode::BuildLengths(preFreq, PRECODE_SYMBOLS, MAX_PRECODE_BITS, preLens);
    unsigned hclen = PRECODE_SYMBOLS;
    while (hclen > 4 && preLens[PRECODE_ORDER[hclen - 1]] == 0) {
        --hclen;
    }

    // Exact sizes in bits of the three forms.
    uint64_t extraBits = 0;
    uint64_t dynamicBits = 3 + 5 + 5 + 4 + 3 * hclen;
    uint64_t fixedBits = 3;
    for (unsigned s = 0; s < PRECODE_SYMBOLS; ++s) {
        dynamicBits += static_cast<uint64_t>(preFreq[s]) * (preLens[s] + PRECODE_EXTRA_BITS[s]);
    }
    for (unsigned s = 0; s < LITLEN_SYMBOLS; ++s) {
        dynamicBits += static_cast<uint64_t>(litFreq[s]) * litLens[s];
        fixedBits += static_cast<uint64_t>(litFreq[s]) * tables.m_fixedLitLens[s];
        if (s > END_OF_BLOCK) {
            extraBits += static_cast<uint64_t>(litFreq[s]) * LEN_EXTRA[s - 257];
        }
    }
    for (unsigned s = 0; s < DIST_SYMBOLS; ++s) {
        dynamicBits += static_cast<uint64_t>(distFreq[s]) * distLens[s];
        fixedBits += static_cast<uint64_t>(distFreq[s]) * 5;
        extraBits += static_cast<uint64_t>(distFreq[s]) * DIST_EXTRA[s];
    }
    dynamicBits += extraBits;
    fixedBits += extraBits;

    uint64_t storedBits = UINT64_MAX;
    if (inputStart >= m_windowBase && inputStart + inputLength <= m_windowBase + m_end) {
        const uint64_t pieces = inputLength == 0 ? 1 : (inputLength + STORED_MAX - 1) / STORED_MAX;
        const unsigned pad = (8 - ((m_bitCount + 3) & 7)) & 7;
        storedBits = pieces * (3 + 32) + (pieces - 1) * 5 + pad + 8 * inputLength;
    }

    const uint64_t startBits = static_cast<uint64_t>(m_outPos) * 8 + m_bitCount;
    uint64_t expectedBits;
    if (storedBits <= fixedBits && storedBits <= dynamicBits) {
        if (!WriteStored(inputStart, inputLength, last)) {
            return false;
        }
        return true;
    }
    if (std::min(fixedBits, dynamicBits) / 8 + OUT_SLACK > OUT_BUFFER - m_outPos) {
        return Fault("bad compressed size");
    }
    if (fixedBits <= dynamicBits) {
        expectedBits = fixedBits;
        PutBits((last ? 1u : 0u) | (BTYPE_FIXED << 1), 3);
        WriteSymbols(numSyms, tables.m_fixedLitCodes, tables.m_fixedLitLens, tables.m_fixedDistCodes,
                     tables.m_fixedDistLens);
        PutBits(tables.m_fixedLitCodes[END_OF_BLOCK], tables.m_fixedLitLens[END_OF_BLOCK]);
    } else {
        expectedBits = dynamicBits;
        CHuffmanCode::BuildCodes(litLens, LITLEN_SYMBOLS, litCodes);
        CHuffmanCode::BuildCodes(distLens, DIST_SYMBOLS, distCodes);
        CHuffmanCode::BuildCodes(preLens, PRECODE_SYMBOLS, preCodes);
        PutBits((last ? 1u : 0u) | (BTYPE_DYNAMIC << 1), 3);
        PutBits((hlit - 257) | ((hdist - 1) << 5) | ((hclen - 4) << 10), 14);
        for (unsigned i = 0; i < hclen; ++i) {
            PutBits(preLens[PRECODE_ORDER[i]], 3);
        }
        for (unsigned i = 0; i < items.m_count; ++i) {
            const unsigned sym = items.m_sym[i];
            PutBits(preCodes[sym] | (static_cast<uint32_t>(items.m_extra[i]) << preLens[sym]),
                    preLens[sym] + PRECODE_EXTRA_BITS[sym]);
        }
        WriteSymbols(numSyms, litCodes, litLens, distCodes, distLens);
        PutBits(litCodes[END_OF_BLOCK], litLens[END_OF_BLOCK]);
    }
    const uint64_t writtenBits = static_cast<uint64_t>(m_outPos) * 8 + m_bitCount - startBits;
    if (writtenBits != expectedBits) {
        return Fault("bad compressed size");
    }
    return DrainOutput();
}
