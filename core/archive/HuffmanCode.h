// Length-limited Huffman code construction for the deflate block writer.
#pragma once

#include <cstdint>

class CHuffmanCode {
public:
    static constexpr unsigned MAX_SYMBOLS = 288;

    // Code lengths for the counts freq[0..n), none longer than maxBits. Unused symbols get 0. Fewer
    // than two used symbols are topped up with zero-count symbols of length 1, so that every code is
    // complete: some inflaters refuse a lone 1-bit code.
    static void BuildLengths(const uint32_t* freq, unsigned n, unsigned maxBits, uint8_t* lens);
    // Canonical codes for the lengths, bit-reversed because deflate sends codes from the top bit down
    // while everything else goes out least significant bit first.
    static void BuildCodes(const uint8_t* lens, unsigned n, uint16_t* codes);
};
