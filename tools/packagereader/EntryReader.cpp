// zlib inflates a raw deflate stream (window bits -15): the writer emits no zlib wrapper.
#include "tools/packagereader/EntryReader.h"

#include "core/archive/Crc32.h"
#include "core/archive/ZipCrypto.h"
#include "core/archive/ZipFormat.h"
#include "tools/packagereader/Sha256.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Pieces of input and output: large enough that zlib and the hashes run at full speed, small enough
// that any number of entries costs the same memory.
constexpr size_t ENTRY_PIECE_SIZE = 256 * 1024;

std::string Hex32(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", v);
    return text;
}

// The byte the encryption header must end with: with a data descriptor (flag bit 3) the high byte of
// the MS-DOS time, otherwise the high byte of the CRC.
uint8_t ExpectedCheckByte(const SZipEntryRecord& entry)
{
    return (entry.m_flags & ZIP_FLAG_DATA_DESCRIPTOR) != 0 ? static_cast<uint8_t>(entry.m_dosTime >> 8)
                                                           : static_cast<uint8_t>(entry.m_crc >> 24);
}

class CInflateStream {
public:
    CInflateStream() { m_ok = inflateInit2(&m_z, -MAX_WBITS) == Z_OK; }
    ~CInflateStream()
    {
        if (m_ok) {
            inflateEnd(&m_z);
        }
    }
    CInflateStream(const CInflateStream&) = delete;
    CInflateStream& operator=(const CInflateStream&) = delete;
    bool Ok() const { return m_ok; }
    z_stream& Z() { return m_z; }

private:
    z_stream m_z = {};
    bool m_ok = false;
};

} // namespace

bool CEntryReader::PasswordOpens(const uint8_t* pData, size_t cb, const SZipEntryRecord& entry,
                                 const std::string& password)
{
    if (!entry.m_encrypted) {
        return true;
    }
    if (entry.m_compressedSize < ZIP_ENCRYPTION_HEADER_SIZE || entry.m_dataOffset > cb ||
        cb - entry.m_dataOffset < ZIP_ENCRYPTION_HEADER_SIZE) {
        return false;
    }
    uint8_t header[ZIP_ENCRYPTION_HEADER_SIZE];
    std::memcpy(header, pData + entry.m_dataOffset, sizeof header);
    CZipCrypto crypto;
    crypto.Init(password.data(), password.size());
    crypto.Decrypt(header, sizeof header);
    return header[ZIP_ENCRYPTION_HEADER_SIZE - 1] == ExpectedCheckByte(entry);
}

SEntryCheck CEntryReader::Read(const uint8_t* pData, size_t cb, const SZipEntryRecord& entry,
                               const std::string& password, std::string* pKeep, size_t cbKeepLimit, const CSink& sink)
{
    SEntryCheck check;
    const std::string who = "entry " + entry.m_name + ": ";
    if (entry.m_method != ZIP_METHOD_STORED && entry.m_method != ZIP_METHOD_DEFLATED) {
        check.m_problem = who + "compression method " + std::to_string(entry.m_method) +
            " is not one KVXDiag2 writes (stored or deflate)";
        return check;
    }
    if (entry.m_dataOffset > cb || entry.m_compressedSize > cb - entry.m_dataOffset) {
        check.m_problem = who + "its data runs past the end of the file";
        return check;
    }
    const uint8_t* in = pData + entry.m_dataOffset;
    uint64_t inLeft = entry.m_compressedSize;
    CZipCrypto crypto;
    if (entry.m_encrypted) {
        if (inLeft < ZIP_ENCRYPTION_HEADER_SIZE) {
            check.m_problem = who + "encrypted, but shorter than the 12-byte encryption header";
            return check;
        }
        uint8_t header[ZIP_ENCRYPTION_HEADER_SIZE];
        std::memcpy(header, in, sizeof header);
        crypto.Init(password.data(), password.size());
        crypto.Decrypt(header, sizeof header);
        if (header[ZIP_ENCRYPTION_HEADER_SIZE - 1] != ExpectedCheckByte(entry)) {
            check.m_problem = who + "the password does not open it (encryption check byte differs)";
            return check;
        }
        in += ZIP_ENCRYPTION_HEADER_SIZE;
        inLeft -= ZIP_ENCRYPTION_HEADER_SIZE;
    }

    CSha256 sha;
    uint32_t crc = 0;
    uint64_t produced = 0;
    bool overrun = false;
    bool sinkRefused = false;
    // Pieces no larger than the entry needs: a package of 65,535 small files must not cost 65,535
    // large buffers. One byte more than declared lets an entry that inflates past its size show it.
    const size_t inSize = entry.m_encrypted ? static_cast<size_t>(inLeft < ENTRY_PIECE_SIZE ? inLeft : ENTRY_PIECE_SIZE) : 0;
    const size_t outSize = entry.m_uncompressedSize < ENTRY_PIECE_SIZE ? static_cast<size_t>(entry.m_uncompressedSize) + 1
                                                                       : ENTRY_PIECE_SIZE;
    std::unique_ptr<uint8_t[]> inPiece(new uint8_t[inSize > 0 ? inSize : 1]);
    std::unique_ptr<uint8_t[]> outPiece(new uint8_t[outSize]);
    if (pKeep != nullptr) {
        pKeep->clear();
    }
    // Everything produced goes through here: it is cut at the declared size so that an entry lying about
    // its size can neither exhaust memory nor pass for good.
    auto consume = [&](const uint8_t* p, size_t n) {
        if (produced + n > entry.m_uncompressedSize) {
            n = static_cast<size_t>(entry.m_uncompressedSize - produced);
            overrun = true;
        }
        crc = CCrc32::Update(crc, p, n);
        sha.Update(p, n);
        if (pKeep != nullptr && pKeep->size() < cbKeepLimit) {
            pKeep->append(reinterpret_cast<const char*>(p), n < cbKeepLimit - pKeep->size() ? n : cbKeepLimit - pKeep->size());
        }
        produced += n;
        if (sink && n > 0 && !sink(p, n)) {
            sinkRefused = true;
        }
    };
    // Next piece of (decrypted) input.
    auto nextInput = [&](const uint8_t*& p, size_t& n) {
        n = inLeft > ENTRY_PIECE_SIZE ? ENTRY_PIECE_SIZE : static_cast<size_t>(inLeft);
        if (entry.m_encrypted) {
            std::memcpy(inPiece.get(), in, n);
            crypto.Decrypt(inPiece.get(), n);
            p = inPiece.get();
        } else {
            p = in;
        }
        in += n;
        inLeft -= n;
    };

    if (entry.m_method == ZIP_METHOD_STORED) {
        while (inLeft > 0 && !overrun && !sinkRefused) {
            const uint8_t* p = nullptr;
            size_t n = 0;
            nextInput(p, n);
            consume(p, n);
        }
    } else {
        CInflateStream stream;
        if (!stream.Ok()) {
            check.m_problem = who + "zlib could not start (out of memory)";
            return check;
        }
        z_stream& z = stream.Z();
        bool ended = false;
        while (!ended && !overrun && !sinkRefused) {
            if (z.avail_in == 0) {
                if (inLeft == 0) {
                    check.m_problem = who + "its compressed data ends before the deflate stream does (cut short)";
                    break;
                }
                const uint8_t* p = nullptr;
                size_t n = 0;
                nextInput(p, n);
                z.next_in = const_cast<Bytef*>(p);
                z.avail_in = static_cast<uInt>(n);
            }
            z.next_out = outPiece.get();
            z.avail_out = static_cast<uInt>(outSize);
            const int rc = inflate(&z, Z_NO_FLUSH);
            consume(outPiece.get(), outSize - z.avail_out);
            if (rc == Z_STREAM_END) {
                ended = true;
            } else if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT) {
                check.m_problem = who + "damaged compressed data (" + (z.msg != nullptr ? z.msg : "invalid deflate data") +
                    ") after " + std::to_string(produced) + " bytes";
                break;
            } else if (rc == Z_MEM_ERROR) {
                check.m_problem = who + "zlib ran out of memory";
                break;
            } else if (rc == Z_BUF_ERROR && z.avail_in != 0) {
                check.m_problem = who + "zlib stopped making progress";
                break;
            }
        }
    }
    check.m_bytesOut = produced;
    check.m_sha256 = sha.FinishHex();
    if (sinkRefused) {
        check.m_problem = who + "its content could not be written";
        return check;
    }
    if (overrun) {
        check.m_problem = who + "inflates to more than the " + std::to_string(entry.m_uncompressedSize) +
            " bytes it declares; cut there";
        return check;
    }
    if (!check.m_problem.empty()) {
        return check;
    }
    if (produced != entry.m_uncompressedSize) {
        check.m_problem = who + "gives " + std::to_string(produced) + " bytes, the directory declares " +
            std::to_string(entry.m_uncompressedSize);
        return check;
    }
    if (crc != entry.m_crc) {
        check.m_problem = who + "CRC " + Hex32(crc) + ", expected " + Hex32(entry.m_crc);
        return check;
    }
    check.m_ok = true;
    return check;
}
