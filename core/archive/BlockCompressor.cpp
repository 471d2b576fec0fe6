// Worker pool of CBlockCompressor: one encoder per worker, made on its first piece and reused.
#include "core/archive/BlockCompressor.h"

#include "core/archive/Crc32.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace {

class CMemorySource : public IByteSource {
public:
    CMemorySource(const uint8_t* p, size_t cb) : m_p(p), m_left(cb) {}
    bool Read(void* pBuffer, size_t cb, size_t& cbRead) override
    {
        cbRead = std::min(cb, m_left);
        if (cbRead > 0) {
            std::memcpy(pBuffer, m_p, cbRead);
        }
        m_p += cbRead;
        m_left -= cbRead;
        return true;
    }

private:
    const uint8_t* m_p;
    size_t m_left;
};

class CVectorSink : public IByteSink {
public:
    explicit CVectorSink(std::vector<uint8_t>& out) : m_out(out) {}
    bool Write(const void* pData, size_t cb) override
    {
        const uint8_t* p = static_cast<const uint8_t*>(pData);
        m_out.insert(m_out.end(), p, p + cb);
        return true;
    }

private:
    std::vector<uint8_t>& m_out;
};

} // namespace

unsigned CBlockCompressor::DefaultThreads()
{
    const unsigned processors = std::thread::hardware_concurrency();
    return std::max(1u, std::min(processors, KVXZIP_MAX_THREADS));
}

CBlockCompressor::CBlockCompressor(unsigned threads)
{
    threads = std::min(threads, KVXZIP_MAX_THREADS);
    if (threads < 2) {
        return;
    }
    for (unsigned i = 0; i < threads; ++i) {
        try {
            m_workers.emplace_back(&CBlockCompressor::WorkerMain, this);
        } catch (const std::system_error&) {
            break; // the workers there are will do; with none the caller's thread does the work
        }
    }
}

CBlockCompressor::~CBlockCompressor()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_queued.notify_all();
    for (std::thread& worker : m_workers) {
        worker.join();
    }
}

void CBlockCompressor::Process(SDataBlock& block, std::unique_ptr<CDeflateEncoder>& encoder)
{
    const uint8_t* const data = block.m_input.data() + block.m_dictionary;
    const size_t length = block.Length();
    block.m_crc = CCrc32::Update(0, data, length);
    block.m_length = length;
    block.m_status = eDeflateStatus_OK;
    try {
        if (!block.m_deflate) {
            // A stored piece has no dictionary: its input is its output.
            block.m_output.swap(block.m_input);
        } else {
            if (!encoder) {
                encoder = std::make_unique<CDeflateEncoder>();
            }
            // Incompressible input grows by a few bytes per 64 KiB stored block.
            block.m_output.clear();
            block.m_output.reserve(length + length / 64 + 64);
            CMemorySource source(data, length);
            CVectorSink sink(block.m_output);
            block.m_status = encoder->Compress(source, sink, block.m_input.data(), block.m_dictionary, block.m_final);
        }
    } catch (...) {
        // Out of memory: a thread of a pool must not end by an exception, and the entry fails instead.
        block.m_status = eDeflateStatus_INTERNAL_FAULT;
    }
    // The input is not needed any more; its memory goes back at once.
    m_buffers.Give(block.m_input);
    block.m_dictionary = 0;
}

void CBlockCompressor::Submit(SDataBlock& block)
{
    block.m_done = false;
    if (m_workers.empty()) {
        Process(block, m_callerEncoder);
        block.m_done = true;
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_queue.push_back(&block);
    }
    m_queued.notify_one();
}

void CBlockCompressor::Wait(SDataBlock& block)
{
    if (m_workers.empty()) {
        return;
    }
    std::unique_lock<std::mutex> guard(m_lock);
    m_finished.wait(guard, [&] { return block.m_done; });
}

bool CBlockCompressor::IsDone(SDataBlock& block)
{
    if (m_workers.empty()) {
        return true;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    return block.m_done;
}

void CBlockCompressor::WorkerMain()
{
    std::unique_ptr<CDeflateEncoder> encoder;
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        m_queued.wait(guard, [&] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty()) {
            return; // stopping, and nothing left that anyone could wait for
        }
        SDataBlock* block = m_queue.front();
        m_queue.pop_front();
        guard.unlock();
        Process(*block, encoder);
        guard.lock();
        block->m_done = true;
        m_finished.notify_all();
    }
}
