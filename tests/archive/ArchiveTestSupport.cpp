// Test-only decoder, record reader and helpers; written from RFC 1951 and PKWARE's application note,
// independently of the code under test.
#include "tests/archive/ArchiveTestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kvxtest {

namespace {

class CBitReader {
public:
    CBitReader(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
    // Returns -1 when the input runs out.
    int Bits(unsigned count)
    {
        uint32_t v = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (m_byte >= m_n) {
                return -1;
            }
            v |= static_cast<uint32_t>((m_p[m_byte] >> m_bit) & 1) << i;
            if (++m_bit == 8) {
                m_bit = 0;
                ++m_byte;
            }
        }
        return static_cast<int>(v);
    }
    void Align()
    {
        if (m_bit != 0) {
            m_bit = 0;
            ++m_byte;
        }
    }
    size_t BytePos() const { return m_byte; }
    bool TakeBytes(size_t n, std::vector<uint8_t>& out)
    {
        if (m_bit != 0 || m_byte + n > m_n) {
            return false;
        }
        out.insert(out.end(), m_p + m_byte, m_p + m_byte + n);
        m_byte += n;
        return true;
    }

private:
    const uint8_t* m_p;
    size_t m_n;
    size_t m_byte = 0;
    unsigned m_bit = 0;
};

// Canonical decoding table: how many codes of each length, and the symbols in code order.
struct SHuffman {
    uint16_t m_count[16] = {};
    uint16_t m_symbol[320] = {};
};

// Returns false for an over-subscribed set or an incomplete one (one lone code is allowed).
bool BuildHuffman(SHuffman& h, const uint8_t* lens, unsigned n)
{
    std::memset(h.m_count, 0, sizeof(h.m_count));
    for (unsigned s = 0; s < n; ++s) {
        ++h.m_count[lens[s]];
    }
    if (h.m_count[0] == n) {
        return true; // no codes: only valid if never used
    }
    int left = 1;
    for (unsigned len = 1; len < 16; ++len) {
        left <<= 1;
        left -= h.m_count[len];
        if (left < 0) {
            return false;
        }
    }
    uint16_t offs[16] = {};
    for (unsigned len = 1; len < 15; ++len) {
        offs[len + 1] = static_cast<uint16_t>(offs[len] + h.m_count[len]);
    }
    for (unsigned s = 0; s < n; ++s) {
        if (lens[s] != 0) {
            h.m_symbol[offs[lens[s]]++] = static_cast<uint16_t>(s);
        }
    }
    const unsigned used = n - h.m_count[0];
    return left == 0 || used == 1;
}

int Decode(CBitReader& br, const SHuffman& h)
{
    int code = 0;
    int first = 0;
    int index = 0;
    for (unsigned len = 1; len < 16; ++len) {
        const int bit = br.Bits(1);
        if (bit < 0) {
            return -1;
        }
        code |= bit;
        const int count = h.m_count[len];
        if (code - count < first) {
            return h.m_symbol[index + (code - first)];
        }
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
    }
    return -1;
}

const uint16_t LEN_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LEN_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DIST_BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool DecodeBlock(CBitReader& br, const SHuffman& lit, const SHuffman& dist, std::vector<uint8_t>& out)
{
    for (;;) {
        const int sym = Decode(br, lit);
        if (sym < 0) {
            return false;
        }
        if (sym < 256) {
            out.push_back(static_cast<uint8_t>(sym));
            continue;
        }
        if (sym == 256) {
            return true;
        }
        if (sym > 285) {
            return false;
        }
        const int extra = br.Bits(LEN_EXTRA[sym - 257]);
        if (extra < 0) {
            return false;
        }
        const size_t len = LEN_BASE[sym - 257] + static_cast<size_t>(extra);
        const int dsym = Decode(br, dist);
        if (dsym < 0 || dsym > 29) {
            return false;
        }
        const int dextra = br.Bits(DIST_EXTRA[dsym]);
        if (dextra < 0) {
            return false;
        }
        const size_t d = DIST_BASE[dsym] + static_cast<size_t>(dextra);
        if (d > out.size()) {
            return false;
        }
        for (size_t i = 0; i < len; ++i) {
            out.push_back(out[out.size() - d]);
        }
    }
}

} // namespace

bool Inflate(const uint8_t* pData, size_t cb, std::vector<uint8_t>& out, size_t* pConsumed)
{
    CBitReader br(pData, cb);
    out.clear();
    for (;;) {
        const int final = br.Bits(1);
        const int type = br.Bits(2);
        if (final < 0 || type < 0) {
            return false;
        }
        if (type == 0) {
            br.Align();
            std::vector<uint8_t> lenBytes;
            if (!br.TakeBytes(4, lenBytes)) {
                return false;
            }
            const unsigned len = lenBytes[0] | lenBytes[1] << 8;
            const unsigned nlen = lenBytes[2] | lenBytes[3] << 8;
            if (len != (~nlen & 0xFFFF) || !br.TakeBytes(len, out)) {
                return false;
            }
        } else if (type == 1) {
            uint8_t lens[288 + 30];
            for (unsigned s = 0; s < 288; ++s) {
                lens[s] = s < 144 ? 8 : (s < 256 ? 9 : (s < 280 ? 7 : 8));
            }
            for (unsigned s = 0; s < 30; ++s) {
                lens[288 + s] = 5;
            }
            SHuffman lit, dist;
            BuildHuffman(lit, lens, 288);
            BuildHuffman(dist, lens + 288, 30);
            if (!DecodeBlock(br, lit, dist, out)) {
                return false;
            }
        } else if (type == 2) {
            const int hlit = br.Bits(5);
            const int hdist = br.Bits(5);
            const int hclen = br.Bits(4);
            if (hlit < 0 || hdist < 0 || hclen < 0 || hlit + 257 > 286 || hdist + 1 > 30) {
                return false;
            }
            static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
            uint8_t preLens[19] = {};
            for (int i = 0; i < hclen + 4; ++i) {
                const int v = br.Bits(3);
                if (v < 0) {
                    return false;
                }
                preLens[order[i]] = static_cast<uint8_t>(v);
            }
            SHuffman pre;
            if (!BuildHuffman(pre, preLens, 19)) {
                return false;
            }
            uint8_t lens[316] = {};
            const int total = hlit + 257 + hdist + 1;
            for (int i = 0; i < total;) {
                const int sym = Decode(br, pre);
                if (sym < 0) {
                    return false;
                }
                if (sym < 16) {
                    lens[i++] = static_cast<uint8_t>(sym);
                    continue;
                }
                int repeat;
                uint8_t value = 0;
                if (sym == 16) {
                    if (i == 0) {
                        return false;
                    }
                    value = lens[i - 1];
                    repeat = 3 + br.Bits(2);
                } else if (sym == 17) {
                    repeat = 3 + br.Bits(3);
                } else {
                    repeat = 11 + br.Bits(7);
                }
                if (repeat < 3 || i + repeat > total) {
                    return false;
                }
                while (repeat--) {
                    lens[i++] = value;
                }
            }
            if (lens[256] == 0) {
                return false;
            }
            SHuffman lit, dist;
            if (!BuildHuffman(lit, lens, static_cast<unsigned>(hlit + 257)) ||
                !BuildHuffman(dist, lens + hlit + 257, static_cast<unsigned>(hdist + 1))) {
                return false;
            }
            if (!DecodeBlock(br, lit, dist, out)) {
                return false;
            }
        } else {
            return false;
        }
        if (final) {
            break;
        }
    }
    br.Align();
    if (pConsumed != nullptr) {
        *pConsumed = br.BytePos();
    }
    return true;
}

uint32_t ReferenceCrc32(const uint8_t* p, size_t cb)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < cb; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
    }
    return ~crc;
}

namespace {
uint32_t CrcStep(uint32_t crc, uint8_t b)
{
    crc ^= b;
    for (int k = 0; k < 8; ++k) {
        crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return crc;
}
} // namespace

std::vector<uint8_t> ReferenceDecrypt(const std::string& password, const uint8_t* pData, size_t cb)
{
    uint32_t k0 = 305419896u, k1 = 591751049u, k2 = 878082192u;
    auto update = [&](uint8_t c) {
        k0 = CrcStep(k0, c);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = CrcStep(k2, static_cast<uint8_t>(k1 >> 24));
    };
    for (char c : password) {
        update(static_cast<uint8_t>(c));
    }
    std::vector<uint8_t> out(cb);
    for (size_t i = 0; i < cb; ++i) {
        const uint32_t t = (k2 | 2) & 0xFFFF;
        out[i] = static_cast<uint8_t>(pData[i] ^ ((t * (t ^ 1)) >> 8));
        update(out[i]);
    }
    return out;
}

uint16_t LoadLe16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t LoadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool ParseArchive(const std::vector<uint8_t>& bytes, SArchive& archive, std::string& error)
{
    archive = SArchive();
    archive.m_bytes = bytes;
    const size_t n = bytes.size();
    if (n < 22 || LoadLe32(&bytes[n - 22]) != 0x06054B50) {
        error = "no end record in the last 22 bytes";
        return false;
    }
    const uint8_t* end = &bytes[n - 22];
    archive.m_entriesOnDisk = LoadLe16(end + 8);
    archive.m_entriesTotal = LoadLe16(end + 10);
    archive.m_directorySize = LoadLe32(end + 12);
    archive.m_directoryOffset = LoadLe32(end + 16);
    if (LoadLe16(end + 20) != 0 || LoadLe16(end + 4) != 0 || LoadLe16(end + 6) != 0) {
        error = "unexpected disk numbers or comment";
        return false;
    }
    if (static_cast<size_t>(archive.m_directoryOffset) + archive.m_directorySize != n - 22) {
        error = "central directory does not end at the end record";
        return false;
    }
    size_t at = archive.m_directoryOffset;
    for (unsigned i = 0; i < archive.m_entriesTotal; ++i) {
        if (at + 46 > n || LoadLe32(&bytes[at]) != 0x02014B50) {
            error = "bad central header " + std::to_string(i);
            return false;
        }
        const uint8_t* c = &bytes[at];
        SCentralRecord e;
        e.m_versionMadeBy = LoadLe16(c + 4);
        e.m_versionNeeded = LoadLe16(c + 6);
        e.m_flags = LoadLe16(c + 8);
        e.m_method = LoadLe16(c + 10);
        e.m_time = LoadLe16(c + 12);
        e.m_date = LoadLe16(c + 14);
        e.m_crc = LoadLe32(c + 16);
        e.m_compressedSize = LoadLe32(c + 20);
        e.m_uncompressedSize = LoadLe32(c + 24);
        const uint16_t nameLen = LoadLe16(c + 28);
        const uint16_t extraLen = LoadLe16(c + 30);
        e.m_commentLength = LoadLe16(c + 32);
        e.m_diskStart = LoadLe16(c + 34);
        e.m_internalAttributes = LoadLe16(c + 36);
        e.m_externalAttributes = LoadLe32(c + 38);
        e.m_localOffset = LoadLe32(c + 42);
        if (at + 46 + nameLen + extraLen + e.m_commentLength > n) {
            error = "central header runs past the end";
            return false;
        }
        e.m_name.assign(reinterpret_cast<const char*>(c + 46), nameLen);
        e.m_extra.assign(c + 46 + nameLen, c + 46 + nameLen + extraLen);
        at += 46 + nameLen + extraLen + e.m_commentLength;

        size_t lo = e.m_localOffset;
        if (lo + 30 > n || LoadLe32(&bytes[lo]) != 0x04034B50) {
            error = "bad local header for " + e.m_name;
            return false;
        }
        const uint8_t* l = &bytes[lo];
        SLocalRecord& r = e.m_local;
        r.m_versionNeeded = LoadLe16(l + 4);
        r.m_flags = LoadLe16(l + 6);
        r.m_method = LoadLe16(l + 8);
        r.m_time = LoadLe16(l + 10);
        r.m_date = LoadLe16(l + 12);
        r.m_crc = LoadLe32(l + 14);
        r.m_compressedSize = LoadLe32(l + 18);
        r.m_uncompressedSize = LoadLe32(l + 22);
        const uint16_t lNameLen = LoadLe16(l + 26);
        const uint16_t lExtraLen = LoadLe16(l + 28);
        if (lo + 30 + lNameLen + lExtraLen > n) {
            error = "local header runs past the end";
            return false;
        }
        r.m_name.assign(reinterpret_cast<const char*>(l + 30), lNameLen);
        r.m_extra.assign(l + 30 + lNameLen, l + 30 + lNameLen + lExtraLen);
        r.m_dataOffset = lo + 30 + lNameLen + lExtraLen;
        const size_t dataEnd = r.m_dataOffset + e.m_compressedSize;
        if (dataEnd > n) {
            error = "data of " + e.m_name + " runs past the end";
            return false;
        }
        if (dataEnd + 16 <= n && LoadLe32(&bytes[dataEnd]) == 0x08074B50) {
            e.m_hasDescriptor = true;
            e.m_descriptorCrc = LoadLe32(&bytes[dataEnd + 4]);
            e.m_descriptorCompressed = LoadLe32(&bytes[dataEnd + 8]);
            e.m_descriptorUncompressed = LoadLe32(&bytes[dataEnd + 12]);
        }
        archive.m_entries.push_back(std::move(e));
    }
    if (at != n - 22) {
        error = "central directory size does not match its headers";
        return false;
    }
    return true;
}

bool ExtractEntry(const SArchive& archive, const SCentralRecord& entry, const std::string& password,
                  std::vector<uint8_t>& data, std::string& error)
{
    const uint8_t* p = archive.m_bytes.data() + entry.m_local.m_dataOffset;
    std::vector<uint8_t> raw(p, p + entry.m_compressedSize);
    if (entry.m_flags & 1) {
        if (raw.size() < 12) {
            error = "encrypted entry shorter than its header";
            return false;
        }
        std::vector<uint8_t> plain = ReferenceDecrypt(password, raw.data(), raw.size());
        if (plain[11] != static_cast<uint8_t>(entry.m_time >> 8)) {
            error = "password check byte does not match";
            return false;
        }
        raw.assign(plain.begin() + 12, plain.end());
    }
    if (entry.m_method == 0) {
        data = raw;
    } else if (entry.m_method == 8) {
        size_t consumed = 0;
        if (!Inflate(raw.data(), raw.size(), data, &consumed) || consumed != raw.size()) {
            error = "deflate stream of " + entry.m_name + " does not decode to its end";
            return false;
        }
    } else {
        error = "unknown method";
        return false;
    }
    if (data.size() != entry.m_uncompressedSize) {
        error = "size of " + entry.m_name + " differs from the record";
        return false;
    }
    if (ReferenceCrc32(data.data(), data.size()) != entry.m_crc) {
        error = "CRC of " + entry.m_name + " differs from the record";
        return false;
    }
    return true;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

std::vector<uint8_t> PseudoRandomBytes(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        v[i] = static_cast<uint8_t>(x >> 24);
    }
    return v;
}

std::vector<uint8_t> TextLikeBytes(size_t n, uint32_t seed)
{
    static const char* const words[] = {"connection ", "request ", "filter ", "adapter ", "timeout ", "\r\n",
                                        "2024-03-14 ", "10:15:37 ", "KVXFLTA ", "status=0x", "00000000 ",
                                        "route ", "gateway ", "192.168.1.", "the ", "of ", "and "};
    std::vector<uint8_t> v;
    v.reserve(n + 32);
    const std::vector<uint8_t> r = PseudoRandomBytes(n / 2 + 16, seed);
    size_t k = 0;
    while (v.size() < n) {
        const char* w = words[r[k++ % r.size()] % (sizeof(words) / sizeof(words[0]))];
        v.insert(v.end(), w, w + std::strlen(w));
        if (r[k++ % r.size()] < 40) {
            v.push_back(static_cast<uint8_t>('0' + r[k % r.size()] % 10));
        }
    }
    v.resize(n);
    return v;
}

CTempDirectory::CTempDirectory()
{
    static std::atomic<unsigned> s_counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("kvx-archive-test-" + std::to_string(static_cast<unsigned long long>(stamp)) +
                                        "-" + std::to_string(s_counter++));
    std::filesystem::create_directories(path);
    m_path = path.string();
}

CTempDirectory::~CTempDirectory()
{
    std::error_code ec;
    // Read-only files left by a test must not keep the directory alive.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, ec)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(m_path, ec);
}

std::string CTempDirectory::Join(const std::string& name) const
{
    return (std::filesystem::path(m_path) / name).string();
}

bool CMemoryEntrySource::Read(void* pBuffer, size_t cb, size_t& cbRead)
{
    cbRead = 0;
    const size_t n = std::min({cb, m_data.size() - m_offset, m_pieceLimit});
    if (m_offset + n > m_failReadAt || (n == 0 && m_offset >= m_failReadAt && m_failReadAt != SIZE_MAX)) {
        return false;
    }
    if (n != 0) {
        std::memcpy(pBuffer, m_data.data() + m_offset, n);
    }
    m_offset += n;
    cbRead = n;
    return true;
}

bool CMemoryEntrySource::ReadAt(uint64_t offset, void* pBuffer, size_t cb, size_t& cbRead)
{
    cbRead = 0;
    if (offset >= m_data.size()) {
        return true;
    }
    cbRead = std::min<size_t>(cb, m_data.size() - static_cast<size_t>(offset));
    std::memcpy(pBuffer, m_data.data() + offset, cbRead);
    return true;
}

bool CMemorySink::Write(const void* pData, size_t cb)
{
    ++m_output.m_writes;
    m_output.m_largestWrite = std::max(m_output.m_largestWrite, cb);
    const size_t room = m_output.m_position < m_output.m_budget ? m_output.m_budget - m_output.m_position : 0;
    const size_t n = std::min(cb, room);
    if (m_output.m_bytes.size() < m_output.m_position + n) {
        m_output.m_bytes.resize(m_output.m_position + n);
    }
    if (n != 0) {
        std::memcpy(m_output.m_bytes.data() + m_output.m_position, pData, n);
    }
    m_output.m_position += n;
    return n == cb;
}

bool CMemorySink::Seek(uint64_t offset)
{
    if (m_output.m_failSeek || m_output.m_seeks++ >= m_output.m_failSeekFrom || offset > m_output.m_bytes.size()) {
        return false;
    }
    m_output.m_position = static_cast<size_t>(offset);
    return true;
}

} // namespace kvxtest
