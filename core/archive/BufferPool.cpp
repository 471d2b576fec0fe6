#include "core/archive/BufferPool.h"

#include "core/archive/BlockCompressor.h"
#include "core/archive/DeflateEncoder.h"

#include <utility>

const size_t CBufferPool::BUFFER_BYTES = CDeflateEncoder::MAX_DICTIONARY + KVXZIP_BLOCK_SIZE;

std::vector<uint8_t> CBufferPool::Take(size_t cb)
{
    std::vector<uint8_t> buffer;
    if (cb < KVXZIP_BLOCK_SIZE / 2 || cb > BUFFER_BYTES) {
        return buffer;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_spare.empty()) {
            buffer.swap(m_spare.back());
            m_spare.pop_back();
            return buffer;
        }
    }
    buffer.reserve(BUFFER_BYTES);
    return buffer;
}

void CBufferPool::Give(std::vector<uint8_t>& buffer)
{
    std::vector<uint8_t> taken;
    taken.swap(buffer);
    if (taken.capacity() != BUFFER_BYTES) {
        return;
    }
    taken.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_spare.size() < m_kept) {
        m_spare.push_back(std::move(taken));
    }
}
