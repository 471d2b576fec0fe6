// Compresses the pieces of entries on worker threads. A large entry is cut into pieces of
// KVXZIP_BLOCK_SIZE input bytes; each piece carries the 32 KiB of input before it as its dictionary
// and ends on a byte boundary unless it is the entry's last, so the pieces' outputs joined in order
// are the entry's deflate stream. A piece's output depends only on its own bytes, never on which
// thread compressed it or what that thread did before, and the writer uses the same pieces whatever
// the number of threads: the archive is the same with one thread as with four.
#pragma once

#include "core/archive/BufferPool.h"
#include "core/archive/DeflateEncoder.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// 1 MiB: the dictionary's 32 KiB are hashed again for each piece (3 % more work) and each cut costs
// a block header and the matches that would have crossed it (+0.007 % of output on the benchmark
// corpus); smaller pieces share one large file better between threads but pay both more often.
constexpr size_t KVXZIP_BLOCK_SIZE = size_t(1) << 20;
// More threads than this gain little on the results folder (a few large logs and dumps) and cost
// 1.4 MB of encoder state each.
constexpr unsigned KVXZIP_MAX_THREADS = 4;

// One piece of an entry's data and, once done, its output.
struct SDataBlock {
    std::vector<uint8_t> m_input; // the dictionary, then the piece itself
    size_t m_dictionary = 0;      // leading bytes of m_input that only prime the encoder
    bool m_deflate = true;        // false: the piece is stored as it is
    bool m_final = true;          // the entry's last piece
    // Results, valid once m_done is set (under the compressor's lock).
    std::vector<uint8_t> m_output;
    uint32_t m_crc = 0;           // of the piece without its dictionary
    size_t m_length = 0;          // of the piece without its dictionary
    EDeflateStatus m_status = eDeflateStatus_OK;
    bool m_done = false;

    size_t Length() const { return m_input.size() - m_dictionary; }
};

class CBlockCompressor {
public:
    // min(processors, KVXZIP_MAX_THREADS): what the writer uses unless told otherwise.
    static unsigned DefaultThreads();

    // One thread compresses each piece on the caller's thread as it is submitted; more start that
    // many workers (fewer if the system refuses some, down to none, which again works on the caller's
    // thread).
    explicit CBlockCompressor(unsigned threads);
    ~CBlockCompressor();
    CBlockCompressor(const CBlockCompressor&) = delete;
    CBlockCompressor& operator=(const CBlockCompressor&) = delete;

    // The block must stay alive until Wait has returned for it. Pieces are taken in the order given.
    void Submit(SDataBlock& block);
    void Wait(SDataBlock& block);
    bool IsDone(SDataBlock& block);
    unsigned Workers() const { return static_cast<unsigned>(m_workers.size()); }
    // Where a piece's buffers come from; a piece's input goes back as soon as it is compressed.
    CBufferPool& Buffers() { return m_buffers; }

private:
    void Process(SDataBlock& block, std::unique_ptr<CDeflateEncoder>& encoder);
    void WorkerMain();

    std::mutex m_lock;
    std::condition_variable m_queued;
    std::condition_variable m_finished;
    std::deque<SDataBlock*> m_queue;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
    std::unique_ptr<CDeflateEncoder> m_callerEncoder;
    // Inputs waiting for reuse: at most two per thread of the largest pool, 8 buffers or about 8.5 MB.
    CBufferPool m_buffers{2 * KVXZIP_MAX_THREADS};
};
