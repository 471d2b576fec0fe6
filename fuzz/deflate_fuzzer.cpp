// libFuzzer target: every input goes through the deflate encoder and must come back byte for byte
// from zlib's inflate; the CRC-32 must agree with zlib's; an archive entry written with the input
// must decrypt and inflate back. The first byte selects how the input is fed and whether it is
// expanded into a longer stream: 4 KiB to 256 KiB, or 600 KiB (past the point where the window
// buffer moves) for one expanded input in eight. The input is also compressed in pieces primed with
// the input before them, as the archive writer's threads do, and the pieces must join into one stream.
#include "core/archive/Crc32.h"
#include "core/archive/DeflateEncoder.h"
#include "core/archive/ZipCrypto.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class CFuzzSource : public IByteSource {
public:
    CFuzzSource(const std::vector<uint8_t>& data, size_t piece) : m_data(data), m_piece(piece) {}
    bool Read(void* pBuffer, size_t cb, size_t& cbRead) override
    {
        cbRead = std::min({cb, m_piece, m_data.size() - m_offset});
        if (cbRead != 0) {
            std::memcpy(pBuffer, m_data.data() + m_offset, cbRead);
        }
        m_offset += cbRead;
        return true;
    }

private:
    const std::vector<uint8_t>& m_data;
    size_t m_piece;
    size_t m_offset = 0;
};

class CFuzzSink : public IByteSink {
public:
    bool Write(const void* pData, size_t cb) override
    {
        if (cb > CDeflateEncoder::OUTPUT_PIECE_SIZE) {
            std::abort();
        }
        const uint8_t* p = static_cast<const uint8_t*>(pData);
        m_data.insert(m_data.end(), p, p + cb);
        return true;
    }
    std::vector<uint8_t> m_data;
};

void Check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

std::vector<uint8_t> Expand(const uint8_t* data, size_t size, uint8_t mode)
{
    std::vector<uint8_t> out;
    if (size == 0) {
        return out;
    }
    const size_t target = (mode & 7) == 7 ? 600 * 1024 + (mode & 0x18) : (4096u << (mode & 7)) - (mode & 0x18);
    out.reserve(target);
    out.assign(data, data + std::min(size, target));
    uint32_t counter = 1;
    while (out.size() < target) {
        const size_t take = std::min(out.size(), target - out.size());
        out.insert(out.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(take));
        // A changed byte per doubling keeps the matches from all being one long repeat.
        if (mode & 0x20) {
            out[out.size() - 1 - (counter * 2654435761u) % take] ^= static_cast<uint8_t>(counter | 1);
        }
        ++counter;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CDeflateEncoder* s_encoder = new CDeflateEncoder();
    const uint8_t mode = size > 0 ? data[0] : 0;
    const uint8_t* body = size > 0 ? data + 1 : data;
    const size_t bodySize = size > 0 ? size - 1 : 0;
    const bool expand = (mode & 0xC0) == 0xC0;
    const std::vector<uint8_t> input = expand ? Expand(body, bodySize, mode) : std::vector<uint8_t>(body, body + bodySize);
    const size_t pieces[] = {SIZE_MAX, 1, 3, 4096};
    // One-byte pieces over a long stream would spend the run in Read calls; they are kept for the
    // short inputs, where they exercise refills at every position.
    const size_t piece = input.size() > 65536 ? std::max<size_t>(pieces[(mode >> 5) & 3], 4096) : pieces[(mode >> 5) & 3];
    CFuzzSource source(input, piece);
    CFuzzSink sink;
    Check(s_encoder->Compress(source, sink) == eDeflateStatus_OK);

    z_stream z = {};
    Check(inflateInit2(&z, -15) == Z_OK);
    std::vector<uint8_t> out(input.size() + 1);
    z.next_in = sink.m_data.data();
    z.avail_in = static_cast<uInt>(sink.m_data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    Check(inflate(&z, Z_FINISH) == Z_STREAM_END);
    Check(z.total_out == input.size() && z.avail_in == 0);
    Check(input.empty() || std::memcmp(out.data(), input.data(), input.size()) == 0);
    inflateEnd(&z);

    // The same input cut into pieces, each primed with the 32 KiB before it and compressed apart: the
    // outputs joined must be one stream of the input, and the pieces' CRCs must combine to the whole's.
    {
        const size_t pieceSize = 1000 + (static_cast<size_t>(mode) * 977) % 70000;
        std::vector<uint8_t> joined;
        uint32_t combined = 0;
        for (size_t at = 0;;) {
            const size_t length = std::min(pieceSize, input.size() - at);
            const bool final = at + length == input.size();
            const size_t dictionary = std::min(at, CDeflateEncoder::MAX_DICTIONARY);
            const std::vector<uint8_t> piece(input.begin() + static_cast<std::ptrdiff_t>(at),
                                             input.begin() + static_cast<std::ptrdiff_t>(at + length));
            CFuzzSource pieceSource(piece, SIZE_MAX);
            CFuzzSink pieceSink;
            Check(s_encoder->Compress(pieceSource, pieceSink, input.data() + at - dictionary, dictionary, final) ==
                  eDeflateStatus_OK);
            joined.insert(joined.end(), pieceSink.m_data.begin(), pieceSink.m_data.end());
            combined = CCrc32::Combine(combined, CCrc32::Update(0, piece.data(), piece.size()), piece.size());
            at += length;
            if (final) {
                break;
            }
        }
        z_stream zp = {};
        Check(inflateInit2(&zp, -15) == Z_OK);
        std::vector<uint8_t> back(input.size() + 1);
        zp.next_in = joined.data();
        zp.avail_in = static_cast<uInt>(joined.size());
        zp.next_out = back.data();
        zp.avail_out = static_cast<uInt>(back.size());
        Check(inflate(&zp, Z_FINISH) == Z_STREAM_END);
        Check(zp.total_out == input.size() && zp.avail_in == 0);
        Check(input.empty() || std::memcmp(back.data(), input.data(), input.size()) == 0);
        inflateEnd(&zp);
        Check(combined == static_cast<uint32_t>(crc32(0, input.data(), static_cast<uInt>(input.size()))));
    }

    const uint32_t crc = CCrc32::Update(0, input.data(), input.size());
    Check(crc == static_cast<uint32_t>(crc32(0, input.data(), static_cast<uInt>(input.size()))));
    Check(crc == CCrc32::UpdateTables(0, input.data(), input.size()));

    if (!input.empty()) {
        const char* password = reinterpret_cast<const char*>(body);
        const size_t passwordLength = std::min<size_t>(bodySize, 16);
        std::vector<uint8_t> cipher = sink.m_data;
        CZipCrypto encrypt;
        encrypt.Init(password, passwordLength);
        encrypt.Encrypt(cipher.data(), cipher.size());
        CZipCrypto decrypt;
        decrypt.Init(password, passwordLength);
        decrypt.Decrypt(cipher.data(), cipher.size());
        Check(cipher == sink.m_data);
    }
    return 0;
}
