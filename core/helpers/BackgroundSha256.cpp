#include "core/helpers/BackgroundSha256.h"

#include "core/interface/KVXDiagTypes.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Four blocks of 1 MiB: the thread hashes several times faster than the writer compresses, so the
// writer waits for a free block only when the machine has no second core to give.
constexpr size_t KVX_DIGEST_BLOCK_COUNT = 4;
constexpr size_t KVX_DIGEST_BLOCK_SIZE = 1024 * 1024;

} // namespace

CBackgroundSha256::~CBackgroundSha256()
{
    Fail(ERROR_CANCELLED);
    Stop();
}

DWORD CBackgroundSha256::Start()
{
    DWORD dwResult = m_hash.Begin();
    if (dwResult != KVXDIAG2_OK) {
        return dwResult;
    }
    try {
        m_blocks.assign(KVX_DIGEST_BLOCK_COUNT, std::vector<unsigned char>(KVX_DIGEST_BLOCK_SIZE));
        m_used.assign(KVX_DIGEST_BLOCK_COUNT, 0);
        for (size_t i = 0; i < KVX_DIGEST_BLOCK_COUNT; ++i) {
            m_free.push_back(i);
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    m_thread.reset(::CreateThread(nullptr, 0, &CBackgroundSha256::ThreadMain, this, 0, nullptr));
    return m_thread ? KVXDIAG2_OK : ::GetLastError();
}

DWORD WINAPI CBackgroundSha256::ThreadMain(LPVOID pParameter)
{
    static_cast<CBackgroundSha256*>(pParameter)->HashBlocks();
    return 0;
}

void CBackgroundSha256::HashBlocks()
{
    for (;;) {
        size_t block = 0;
        bool failed = false;
        {
            kvx::CSrwExclusiveLock lock(m_lock);
            while (m_full.empty() && !m_ending) {
                ::SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
            }
            if (m_full.empty()) {
                return;
            }
            block = m_full.front();
            m_full.pop_front();
            failed = m_dwError != 0;
        }
        // The block is the thread's alone until it goes back to the free list.
        const DWORD dwHashed =
            failed ? KVXDIAG2_OK : m_hash.Add(m_blocks[block].data(), static_cast<ULONG>(m_used[block]));
        {
            kvx::CSrwExclusiveLock lock(m_lock);
            if (dwHashed != KVXDIAG2_OK && m_dwError == 0) {
                m_dwError = dwHashed;
            }
            m_used[block] = 0;
            m_free.push_back(block);
        }
        ::WakeAllConditionVariable(&m_changed);
    }
}

void CBackgroundSha256::Appended(const void* pData, size_t cb)
{
    if (!m_thread) {
        return;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(pData);
    while (cb > 0) {
        if (m_filling == SIZE_MAX) {
            kvx::CSrwExclusiveLock lock(m_lock);
            while (m_free.empty() && m_dwError == 0) {
                ::SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
            }
            if (m_dwError != 0) {
                return;
            }
            m_filling = m_free.back();
            m_free.pop_back();
        }
        const size_t piece = std::min(cb, KVX_DIGEST_BLOCK_SIZE - m_used[m_filling]);
        std::memcpy(m_blocks[m_filling].data() + m_used[m_filling], bytes, piece);
        m_used[m_filling] += piece;
        bytes += piece;
        cb -= piece;
        if (m_used[m_filling] == KVX_DIGEST_BLOCK_SIZE) {
            {
                kvx::CSrwExclusiveLock lock(m_lock);
                m_full.push_back(m_filling);
            }
            m_filling = SIZE_MAX;
            ::WakeAllConditionVariable(&m_changed);
        }
    }
}

void CBackgroundSha256::Diverged()
{
    Fail(ERROR_INVALID_DATA);
}

void CBackgroundSha256::Fail(DWORD dwError)
{
    {
        kvx::CSrwExclusiveLock lock(m_lock);
        if (m_dwError == 0) {
            m_dwError = dwError;
        }
    }
    ::WakeAllConditionVariable(&m_changed);
}

void CBackgroundSha256::Stop()
{
    if (!m_thread) {
        return;
    }
    {
        kvx::CSrwExclusiveLock lock(m_lock);
        if (m_filling != SIZE_MAX && m_used[m_filling] > 0) {
            m_full.push_back(m_filling);
            m_filling = SIZE_MAX;
        }
        m_ending = true;
    }
    ::WakeAllConditionVariable(&m_changed);
    ::WaitForSingleObject(m_thread.get(), INFINITE);
    m_thread.reset();
}

DWORD CBackgroundSha256::Finish(std::string& hexDigest)
{
    if (!m_thread) {
        return m_dwError != 0 ? m_dwError : KVXDIAG2_ERR_NOT_INITIALISED;
    }
    Stop();
    return m_dwError != 0 ? m_dwError : m_hash.Finish(hexDigest);
}
