// An archive output that shows its final bytes to a tap (see IOutputTap) on their way to the real
// output. Bytes the writer has not yet declared settled are kept back, so that a header it rewrites
// reaches the tap in its final form; the writer of an encrypted entry settles its data as it goes, so
// little is ever kept back.
#pragma once

#include "core/archive/ByteStreams.h"

#include <memory>
#include <vector>

class CTappedSink : public ISeekableSink {
public:
    // Beyond this many unsettled bytes the tap is given up rather than the memory spent.
    static constexpr size_t KVXZIP_TAP_MAX_PENDING = 16u << 20;

    // The tap must outlive the sink.
    CTappedSink(std::unique_ptr<ISeekableSink> output, IOutputTap& tap) : m_output(std::move(output)), m_tap(tap) {}
    CTappedSink(const CTappedSink&) = delete;
    CTappedSink& operator=(const CTappedSink&) = delete;

    bool Write(const void* pData, size_t cb) override;
    bool Seek(uint64_t offset) override;
    bool Tell(uint64_t& offset) override { return m_output->Tell(offset); }
    // What is written when the output closes is final.
    bool Close() override;
    void Settled(uint64_t offset) override;

private:
    void Diverge();
    void Keep(const void* pData, size_t cb);

    std::unique_ptr<ISeekableSink> m_output;
    IOutputTap& m_tap;
    uint64_t m_position = 0;
    uint64_t m_settled = 0;              // everything below has gone to the tap
    std::vector<unsigned char> m_pending; // the bytes from m_settled on
    bool m_diverged = false;
};
