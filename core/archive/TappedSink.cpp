#include "core/archive/TappedSink.h"

#include <algorithm>
#include <cstring>
#include <new>

void CTappedSink::Diverge()
{
    if (!m_diverged) {
        m_diverged = true;
        m_pending.clear();
        m_pending.shrink_to_fit();
        m_tap.Diverged();
    }
}

void CTappedSink::Keep(const void* pData, size_t cb)
{
    // A rewrite of what the tap saw, or a write past a gap, cannot be shown to it in file order.
    if (m_position < m_settled || m_position - m_settled > m_pending.size()) {
        Diverge();
        return;
    }
    const size_t at = static_cast<size_t>(m_position - m_settled);
    if (at + cb > KVXZIP_TAP_MAX_PENDING) {
        Diverge();
        return;
    }
    try {
        if (at + cb > m_pending.size()) {
            m_pending.resize(at + cb);
        }
    } catch (const std::bad_alloc&) {
        Diverge();
        return;
    }
    std::memcpy(m_pending.data() + at, pData, cb);
}

bool CTappedSink::Write(const void* pData, size_t cb)
{
    if (!m_output->Write(pData, cb)) {
        // Part of the data may be on the disk and the tap cannot know how much.
        Diverge();
        return false;
    }
    if (!m_diverged && cb > 0) {
        Keep(pData, cb);
    }
    m_position += cb;
    return true;
}

bool CTappedSink::Seek(uint64_t offset)
{
    if (!m_output->Seek(offset)) {
        Diverge();
        return false;
    }
    m_position = offset;
    return true;
}

void CTappedSink::Settled(uint64_t offset)
{
    if (m_diverged || offset <= m_settled) {
        return;
    }
    const size_t count = static_cast<size_t>(std::min<uint64_t>(offset - m_settled, m_pending.size()));
    if (count == 0) {
        return;
    }
    m_tap.Appended(m_pending.data(), count);
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(count));
    m_settled += count;
}

bool CTappedSink::Close()
{
    Settled(m_settled + m_pending.size());
    return m_output->Close();
}
