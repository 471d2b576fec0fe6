// Optimal code lengths by Moffat and Katajainen's in-place method over the counts sorted ascending,
// then, when a length exceeds the limit, the length histogram is repaired (deepest leaves moved up,
// shallower ones pushed down one level) and lengths are handed out again from the rarest symbol on.
#include "core/archive/HuffmanCode.h"

#include <algorithm>

namespace {

// On entry a[0..n) are the counts in ascending order; on exit a[i] is the code length of the symbol
// with the i-th smallest count. n >= 2.
void MinimumRedundancyLengths(uint32_t* a, unsigned n)
{
    // Pass 1: build the tree, leaving parent indices in the internal nodes.
    a[0] += a[1];
    unsigned root = 0;
    unsigned leaf = 2;
    for (unsigned next = 1; next < n - 1; ++next) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = next;
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = next;
        } else {
            a[next] += a[leaf++];
        }
    }
    // Pass 2: depths of the internal nodes, root first.
    a[n - 2] = 0;
    for (int next = static_cast<int>(n) - 3; next >= 0; --next) {
        a[next] = a[a[next]] + 1;
    }
    // Pass 3: leaf depths from the count of internal nodes at each depth.
    int available = 1;
    int used = 0;
    uint32_t depth = 0;
    int rootIndex = static_cast<int>(n) - 2;
    int nextLeaf = static_cast<int>(n) - 1;
    while (available > 0) {
        while (rootIndex >= 0 && a[rootIndex] == depth) {
            ++used;
            --rootIndex;
        }
        while (available > used) {
            a[nextLeaf--] = depth;
            --available;
        }
        available = 2 * used;
        ++depth;
        used = 0;
    }
}

} // namespace

void CHuffmanCode::BuildLengths(const uint32_t* freq, unsigned n, unsigned maxBits, uint8_t* lens)
{
    // Sort keys: count in the high bits, symbol in the low 9, so equal counts keep symbol order.
    uint32_t keys[MAX_SYMBOLS];
    unsigned used = 0;
    for (unsigned s = 0; s < n; ++s) {
        lens[s] = 0;
        if (freq[s] != 0) {
            keys[used++] = (std::min<uint32_t>(freq[s], (1u << 22) - 1) << 9) | s;
        }
    }
    for (unsigned s = 0; used < 2 && s < n; ++s) {
        if (freq[s] == 0) {
            keys[used++] = s; // count 0
        }
    }
    if (used < 2) {
        for (unsigned i = 0; i < used; ++i) {
            lens[keys[i] & 511] = 1;
        }
        return;
    }
    std::sort(keys, keys + used);

    uint32_t a[MAX_SYMBOLS];
    for (unsigned i = 0; i < used; ++i) {
        a[i] = keys[i] >> 9;
    }
    MinimumRedundancyLengths(a, used);

    // a[] is non-increasing, so a[0] is the longest length.
    if (a[0] <= maxBits) {
        for (unsigned i = 0; i < used; ++i) {
            lens[keys[i] & 511] = static_cast<uint8_t>(a[i]);
        }
        return;
    }
    unsigned count[32] = {};
    for (unsigned i = 0; i < used; ++i) {
        ++count[std::min<uint32_t>(a[i], maxBits)];
    }
    uint32_t kraft = 0; // in units of 2^-maxBits
    for (unsigned len = 1; len <= maxBits; ++len) {
        kraft += count[len] << (maxBits - len);
    }
    while (kraft > (1u << maxBits)) {
        --count[maxBits];
        for (unsigned len = maxBits - 1; len > 0; --len) {
            if (count[len] != 0) {
                --count[len];
                count[len + 1] += 2;
                break;
            }
        }
        --kraft;
    }
    unsigned i = 0;
    for (unsigned len = maxBits; len > 0; --len) {
        for (unsigned k = 0; k < count[len]; ++k) {
            lens[keys[i++] & 511] = static_cast<uint8_t>(len);
        }
    }
}

void CHuffmanCode::BuildCodes(const uint8_t* lens, unsigned n, uint16_t* codes)
{
    unsigned count[16] = {};
    for (unsigned s = 0; s < n; ++s) {
        ++count[lens[s]];
    }
    count[0] = 0;
    unsigned next[16] = {};
    unsigned code = 0;
    for (unsigned len = 1; len < 16; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (unsigned s = 0; s < n; ++s) {
        const unsigned len = lens[s];
        if (len == 0) {
            codes[s] = 0;
            continue;
        }
        unsigned c = next[len]++;
        unsigned reversed = 0;
        for (unsigned b = 0; b < len; ++b) {
            reversed = (reversed << 1) | (c & 1);
            c >>= 1;
        }
        codes[s] = static_cast<uint16_t>(reversed);
    }
}
