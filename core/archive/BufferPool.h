// Buffers of whole pieces, kept for the next pieces. Windows' heap gives every block of a piece's size
// a virtual allocation of its own, so a new buffer for each piece is a new set of pages for the system
// to fault in and zero, and freeing it unmaps them from every thread: on the benchmark folder a third
// of pack and send's page faults. Smaller buffers are never kept: a folder of small files may queue
// many pieces, and each would hold a full piece's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// Any thread may give back while another takes.
class CBufferPool {
public:
    // Room for a piece's input: its dictionary, then the piece. A stored piece's output is its input.
    static const size_t BUFFER_BYTES;

    // At most kept buffers wait for reuse; more are freed.
    explicit CBufferPool(size_t kept) : m_kept(kept) {}
    CBufferPool(const CBufferPool&) = delete;
    CBufferPool& operator=(const CBufferPool&) = delete;

    // An empty buffer for about cb bytes: a kept one, a new one of BUFFER_BYTES, or for small sizes a
    // plain empty vector that grows as usual. Throws std::bad_alloc like any allocation.
    std::vector<uint8_t> Take(size_t cb);
    // Takes the buffer's memory for reuse, or frees it; the buffer is left empty either way.
    void Give(std::vector<uint8_t>& buffer);

private:
    std::mutex m_lock;
    std::vector<std::vector<uint8_t>> m_spare;
    size_t m_kept;
};
