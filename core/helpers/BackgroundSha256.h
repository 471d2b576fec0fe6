// The SHA-256 of a stream while it is being written, computed on a thread of its own. The writer only
// copies each piece into one of a few blocks, so on a machine with a second core the digest of a
// package costs pack and send next to nothing, where reading the finished file again would cost a
// full pass at the speed of the hash.
#pragma once

#include "common/win/UniqueHandles.h"
#include "core/archive/ByteStreams.h"
#include "core/helpers/CngSha256.h"

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

class CBackgroundSha256 : public IOutputTap {
public:
    // The hasher must be open and outlive this object.
    explicit CBackgroundSha256(const CCngSha256& hasher) : m_hash(hasher) {}
    ~CBackgroundSha256() override;
    CBackgroundSha256(const CBackgroundSha256&) = delete;
    CBackgroundSha256& operator=(const CBackgroundSha256&) = delete;

    // Takes the blocks and starts the thread; 0 or a Windows error code, and then nothing is hashed.
    DWORD Start();
    // Waits for the thread to hash what is left. The digest of every byte appended, or an error code
    // when the stream diverged from what was appended (ERROR_INVALID_DATA) or could not be hashed.
    DWORD Finish(std::string& hexDigest);

    void Appended(const void* pData, size_t cb) override;
    void Diverged() override;

private:
    static DWORD WINAPI ThreadMain(LPVOID pParameter);
    void HashBlocks();
    void Fail(DWORD dwError);
    void Stop();

    CCngSha256::CRunningHash m_hash;
    std::vector<std::vector<unsigned char>> m_blocks;
    std::vector<size_t> m_used;  // bytes filled, per block
    std::vector<size_t> m_free;  // blocks the writer may fill
    std::deque<size_t> m_full;   // blocks waiting for the thread, oldest first
    size_t m_filling = SIZE_MAX; // the block the writer is filling
    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
    bool m_ending = false;
    DWORD m_dwError = 0; // the first failure; nothing is hashed after it
    kvx::UniqueHandle m_thread;
};
