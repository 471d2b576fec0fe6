// Raw deflate (RFC 1951) encoder at the level-8 settings: a hash-chain match finder with one-step lazy
// evaluation (good 32, lazy 128, nice 258, chain 1024, 32 KiB window), blocks cut where the symbol
// statistics change, and each block sent as stored, fixed or dynamic, whichever is exactly shortest.
#pragma once

#include "core/archive/ByteStreams.h"

#include <cstddef>
#include <cstdint>
#include <memory>

enum EDeflateStatus {
    eDeflateStatus_OK = 0,
    eDeflateStatus_READ_FAILED = 1,
    eDeflateStatus_WRITE_FAILED = 2,
    eDeflateStatus_INTERNAL_FAULT = 3,
};

class CDeflateEncoder {
public:
    // The largest piece handed to the sink in one Write call.
    static constexpr size_t OUTPUT_PIECE_SIZE = 16384;
    // The first read asks for this much, and every later read as well.
    static constexpr size_t INPUT_PIECE_SIZE = 65536;

    // Allocates the tables and windows (about 1.4 MB) once; they are reused by every Compress call.
    // Throws std::bad_alloc.
    CDeflateEncoder();
    ~CDeflateEncoder();
    CDeflateEncoder(const CDeflateEncoder&) = delete;
    CDeflateEncoder& operator=(const CDeflateEncoder&) = delete;

    // Compresses everything the source yields, until it reports end of data, into one complete raw
    // deflate stream written to the sink.
    EDeflateStatus Compress(IByteSource& source, IByteSink& sink) { return Compress(source, sink, nullptr, 0, true); }

    // One piece of a stream cut into pieces that are compressed apart. The dictionary (at most
    // MAX_DICTIONARY bytes, the input just before this piece) primes the match finder, so matches may
    // reach back into it as they would in one stream, but it is not sent. A piece that is not final
    // ends on a byte boundary (with an empty stored block when its last block does not), so the
    // pieces' outputs put one after another are one valid raw deflate stream.
    EDeflateStatus Compress(IByteSource& source, IByteSink& sink, const uint8_t* pDictionary, size_t cbDictionary,
                            bool final);
    static constexpr size_t MAX_DICTIONARY = 32768;

    // After eDeflateStatus_INTERNAL_FAULT: which consistency check failed. Empty otherwise.
    const char* GetFaultMessage() const { return m_pszFault; }

private:
    // One position being searched: its chain heads as distances (0 or more than the window: none).
    struct SSearch {
        uint32_t m_pos = 0;
        uint32_t m_avail = 0;
        uint32_t m_dist4 = 0;
        uint32_t m_dist3 = 0;
    };

    struct SBlockCounts {
        uint32_t m_lit[288];
        uint32_t m_dist[32];
    };

    void ResetStream();
    bool Fill();
    void MoveWindow();
    void CleanHeads(uint64_t streamPos);
    void Insert(uint32_t p, uint16_t now, SSearch& search);
    void InsertHashed(uint32_t p, uint16_t now, uint32_t h4, uint32_t h3, SSearch& search);
    uint32_t LongestMatch(const SSearch& search, uint32_t best, uint32_t& dist) const;
    uint32_t WalkChain(uint32_t pos, uint32_t d, uint32_t offset, uint32_t best, uint32_t& dist, uint32_t& chain,
                       uint32_t maxLen, uint32_t nice) const;
    uint32_t LongestMatchInRuns(uint32_t pos, uint32_t d, uint32_t best, uint32_t chain, uint32_t maxLen,
                                uint32_t nice, uint32_t& dist) const;
    bool EndSegment(bool streamEnd);
    bool FlushBlock(uint32_t numSyms, const SBlockCounts& counts, uint64_t inputStart, uint64_t inputLength,
                    bool last);
    void WriteSymbols(uint32_t numSyms, const uint16_t* litCodes, const uint8_t* litLens, const uint16_t* distCodes,
                      const uint8_t* distLens);
    bool WriteStored(uint64_t inputStart, uint64_t inputLength, bool last);
    void PutBits(uint32_t bits, unsigned count);
    void FlushBits();
    bool DrainOutput();
    bool Fault(const char* pszMessage);

    // Input window: up to WINDOW_BUFFER bytes of the stream starting at stream offset m_windowBase.
    std::unique_ptr<uint8_t[]> m_window;
    // Hash heads and chain links hold stream offsets modulo 65536, so that they stay valid when the
    // window moves and the tables are half the size of 32-bit ones (they live in L1/L2 during chain
    // walks). Heads older than the window are rewritten periodically (CleanHeads) before they can
    // wrap around; chain links are only followed while the distance strictly grows.
    std::unique_ptr<uint16_t[]> m_head4;
    std::unique_ptr<uint16_t[]> m_head3;
    std::unique_ptr<uint16_t[]> m_prev;
    // Pending symbols of the current block: a literal byte, or (distance << 8) | (length - 3).
    std::unique_ptr<uint32_t[]> m_syms;
    std::unique_ptr<uint8_t[]> m_out;

    IByteSource* m_pSource = nullptr;
    IByteSink* m_pSink = nullptr;
    EDeflateStatus m_status = eDeflateStatus_OK;
    bool m_final = true; // the piece being compressed ends the stream
    const char* m_pszFault = "";

    uint32_t m_pos = 0;
    uint32_t m_end = 0;
    bool m_eof = false;
    uint64_t m_windowBase = 0; // a multiple of the 32 KiB window
    uint64_t m_nextClean = 0;  // stream offset at which CleanHeads is due
    uint64_t m_consumed = 0; // stream offset up to which symbols have been recorded

    uint32_t m_numSyms = 0;
    uint32_t m_segSymStart = 0;
    uint64_t m_blockInputStart = 0;
    uint64_t m_segInputStart = 0;
    SBlockCounts m_block;
    SBlockCounts m_segment;
    double m_blockCost = 0;

    uint64_t m_bitBuf = 0;
    unsigned m_bitCount = 0;
    size_t m_outPos = 0;
};
