// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320, inverted before and after). Large inputs
// are folded with carry-less multiplication: 128 bytes per step with 256-bit VPCLMULQDQ where the
// processor and the system support it, else 64 bytes per step with PCLMULQDQ; short inputs, and
// processors without either, go through slice-by-16 tables.
#pragma once

#include <cstddef>
#include <cstdint>

class CCrc32 {
public:
    // Extends a finished CRC value (0 to start) with cb bytes and returns the finished value.
    static uint32_t Update(uint32_t crc, const void* pData, size_t cb);
    // The CRC of A followed by B from the CRCs of A and B and the length of B: pieces of one input
    // checked on different threads give the input's CRC without a second pass.
    static uint32_t Combine(uint32_t crcA, uint32_t crcB, uint64_t cbB);
    // The table path alone, whatever the processor; tests compare the two paths through it.
    static uint32_t UpdateTables(uint32_t crc, const void* pData, size_t cb);
    // One step of the bare register (no inversions), as the traditional encryption's key update uses it.
    static uint32_t UpdateRawByte(uint32_t raw, uint8_t b) { return ByteTable()[(raw ^ b) & 0xFF] ^ (raw >> 8); }
    static const uint32_t* ByteTable();
    static bool HasCarrylessMultiply();
    static bool HasWideCarrylessMultiply();

private:
    static uint32_t UpdateRawTables(uint32_t raw, const uint8_t* p, size_t cb);
    // Folds whole 16-byte chunks (cb >= 64) and finishes the remainder with the tables.
    static uint32_t UpdateRawCarryless(uint32_t raw, const uint8_t* p, size_t cb);
    // The same with four 256-bit accumulators (cb >= 256).
    static uint32_t UpdateRawCarrylessWide(uint32_t raw, const uint8_t* p, size_t cb);
};
