// Tests of the archive subsystem: CRC-32, traditional encryption, the deflate encoder (by property:
// round trips through an independent inflater, and through zlib where the build has it), the records
// of CZipWriter, the handle interface and the folder walk.
#include "core/archive/Crc32.h"
#include "core/archive/DeflateEncoder.h"
#include "core/archive/TappedSink.h"
#include "core/archive/ZipArchive.h"
#include "core/archive/ZipCrypto.h"
#include "core/archive/ZipFolderPacker.h"
#include "core/archive/ZipTime.h"
#include "core/archive/ZipWriter.h"
#include "tests/archive/ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifdef KVX_TEST_HAVE_ZLIB
#include <zlib.h>
#endif

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/time.h>
#endif

using namespace kvxtest;

namespace {

// 2008-05-03 10:15:37 UTC
constexpr int64_t SAMPLE_UNIX_TIME = 1209809737;

class CVectorSource : public IByteSource {
public:
    explicit CVectorSource(const std::vector<uint8_t>& data, size_t piece = SIZE_MAX) : m_data(data), m_piece(piece) {}
    bool Read(void* pBuffer, size_t cb, size_t& cbRead) override
    {
        if (m_offset >= m_failAt && m_failAt != SIZE_MAX) {
            return false;
        }
        cbRead = std::min({cb, m_piece, m_data.size() - m_offset});
        if (cbRead != 0) {
            std::memcpy(pBuffer, m_data.data() + m_offset, cbRead);
        }
        m_offset += cbRead;
        return true;
    }
    size_t m_failAt = SIZE_MAX;

private:
    const std::vector<uint8_t>& m_data;
    size_t m_piece;
    size_t m_offset = 0;
};

class CVectorSink : public IByteSink {
public:
    bool Write(const void* pData, size_t cb) override
    {
        if (m_data.size() + cb > m_failAfter) {
            return false;
        }
        m_largest = std::max(m_largest, cb);
        const uint8_t* p = static_cast<const uint8_t*>(pData);
        m_data.insert(m_data.end(), p, p + cb);
        return true;
    }
    std::vector<uint8_t> m_data;
    size_t m_largest = 0;
    size_t m_failAfter = SIZE_MAX;
};

std::vector<uint8_t> Bytes(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// Compresses with a fresh or given encoder and checks the stream decodes back, with the test
// inflater and, where available, with zlib.
std::vector<uint8_t> CompressAndCheck(CDeflateEncoder& encoder, const std::vector<uint8_t>& input, size_t piece = SIZE_MAX)
{
    CVectorSource source(input, piece);
    CVectorSink sink;
    EXPECT_EQ(eDeflateStatus_OK, encoder.Compress(source, sink)) << encoder.GetFaultMessage();
    EXPECT_LE(sink.m_largest, CDeflateEncoder::OUTPUT_PIECE_SIZE);
    std::vector<uint8_t> decoded;
    size_t consumed = 0;
    EXPECT_TRUE(Inflate(sink.m_data.data(), sink.m_data.size(), decoded, &consumed));
    EXPECT_EQ(sink.m_data.size(), consumed) << "bytes after the final block";
    EXPECT_TRUE(decoded == input) << "test inflater: " << decoded.size() << " bytes decoded, " << input.size()
                                  << " expected";
#ifdef KVX_TEST_HAVE_ZLIB
    z_stream z = {};
    EXPECT_EQ(Z_OK, inflateInit2(&z, -15));
    std::vector<uint8_t> out(input.size() + 1);
    z.next_in = sink.m_data.data();
    z.avail_in = static_cast<uInt>(sink.m_data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(Z_STREAM_END, inflate(&z, Z_FINISH));
    EXPECT_EQ(input.size(), z.total_out);
    EXPECT_EQ(0u, z.avail_in);
    out.resize(z.total_out);
    EXPECT_TRUE(out == input) << "zlib inflate differs";
    inflateEnd(&z);
#endif
    return sink.m_data;
}

SEntryInfo SampleInfo(uint64_t size)
{
    SEntryInfo info;
    info.m_attributes = 0x20;
    info.m_size = size;
    CZipTime::CivilFromUnix(SAMPLE_UNIX_TIME, info);
    info.m_lastWriteUnix = SAMPLE_UNIX_TIME;
    info.m_lastAccessUnix = SAMPLE_UNIX_TIME + 60;
    info.m_creationUnix = SAMPLE_UNIX_TIME - 3600;
    return info;
}

SArchive ParseOrFail(const std::vector<uint8_t>& bytes)
{
    SArchive archive;
    std::string error;
    EXPECT_TRUE(ParseArchive(bytes, archive, error)) << error;
    return archive;
}

const SCentralRecord* FindEntry(const SArchive& archive, const std::string& name)
{
    for (const auto& e : archive.m_entries) {
        if (e.m_name == name) {
            return &e;
        }
    }
    return nullptr;
}

void SetFileTimeUtc(const std::string& path, int64_t unixTime)
{
#ifdef _WIN32
    HANDLE h = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    const uint64_t ticks = static_cast<uint64_t>(unixTime) * 10000000ull + 116444736000000000ull;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    EXPECT_TRUE(::SetFileTime(h, nullptr, nullptr, &ft));
    ::CloseHandle(h);
#else
    struct timeval times[2] = {{static_cast<time_t>(unixTime), 0}, {static_cast<time_t>(unixTime), 0}};
    ASSERT_EQ(0, ::utimes(path.c_str(), times));
#endif
}

void MakeReadOnly(const std::string& path)
{
#ifdef _WIN32
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
#else
    ASSERT_EQ(0, ::chmod(path.c_str(), 0444));
#endif
}

} // namespace

// ---------------------------------------------------------------------------------------------- CRC

TEST(Crc32, KnownValues)
{
    EXPECT_EQ(0u, CCrc32::Update(0, "", 0));
    EXPECT_EQ(0xE8B7BE43u, CCrc32::Update(0, "a", 1));
    EXPECT_EQ(0xCBF43926u, CCrc32::Update(0, "123456789", 9));
    const std::vector<uint8_t> zeros(1 << 20, 0);
    EXPECT_EQ(ReferenceCrc32(zeros.data(), zeros.size()), CCrc32::Update(0, zeros.data(), zeros.size()));
}

TEST(Crc32, CombiningPiecesGivesTheCrcOfTheWhole)
{
    const std::vector<uint8_t> data = PseudoRandomBytes(3 * 65536 + 17, 11);
    const uint32_t whole = CCrc32::Update(0, data.data(), data.size());
    for (size_t split : {size_t(0), size_t(1), size_t(4095), size_t(65536), data.size() - 1, data.size()}) {
        SCOPED_TRACE(split);
        const uint32_t a = CCrc32::Update(0, data.data(), split);
        const uint32_t b = CCrc32::Update(0, data.data() + split, data.size() - split);
        EXPECT_EQ(whole, CCrc32::Combine(a, b, data.size() - split));
    }
}

TEST(Crc32, BothPathsAgreeWithTheReferenceAtEveryLengthAlignmentAndSplit)
{
    RecordProperty("carryless", CCrc32::HasCarrylessMultiply() ? "yes" : "no");
    RecordProperty("wide_carryless", CCrc32::HasWideCarrylessMultiply() ? "yes" : "no");
    const std::vector<uint8_t> data = PseudoRandomBytes(70000, 11);
    std::vector<size_t> lengths;
    // Every length around the table, 64-byte and 128-byte folding thresholds, and larger ones.
    for (size_t n = 0; n <= 300; ++n) {
        lengths.push_back(n);
    }
    for (size_t n = 500; n <= 660; ++n) {
        lengths.push_back(n);
    }
    for (size_t n : {1023u, 4096u, 4103u, 65536u, 65549u}) {
        lengths.push_back(n);
    }
    for (size_t n : lengths) {
        for (size_t offset : {0u, 1u, 3u, 7u, 15u}) {
            SCOPED_TRACE("length " + std::to_string(n) + " offset " + std::to_string(offset));
            const uint8_t* p = data.data() + offset;
            const uint32_t expected = ReferenceCrc32(p, n);
            ASSERT_EQ(expected, CCrc32::Update(0, p, n));
            ASSERT_EQ(expected, CCrc32::UpdateTables(0, p, n));
            const size_t split = n / 3;
            ASSERT_EQ(expected, CCrc32::Update(CCrc32::Update(0, p, split), p + split, n - split));
        }
    }
}

// ------------------------------------------------------------------------------------- encryption

TEST(ZipCrypto, EncryptionIsUndoneByTheApplicationNoteKeySchedule)
{
    const std::vector<uint8_t> plain = TextLikeBytes(5000, 3);
    for (const std::string& password : std::vector<std::string>{"x", "KVXDiag2-Pa$$", std::string(80, 'p')}) {
        SCOPED_TRACE(password);
        std::vector<uint8_t> cipher = plain;
        CZipCrypto crypto;
        crypto.Init(password.data(), password.size());
        crypto.Encrypt(cipher.data(), cipher.size());
        EXPECT_NE(plain, cipher);
        EXPECT_EQ(plain, ReferenceDecrypt(password, cipher.data(), cipher.size()));
        CZipCrypto decrypter;
        decrypter.Init(password.data(), password.size());
        decrypter.Decrypt(cipher.data(), cipher.size());
        EXPECT_EQ(plain, cipher);
    }
}

// ---------------------------------------------------------------------------------------- deflate

TEST(Deflate, RoundTripsInputsAtBlockAndWindowBoundaries)
{
    struct SCase {
        const char* m_name;
        std::vector<uint8_t> m_data;
    };
    std::vector<uint8_t> allBytes;
    for (int r = 0; r < 40; ++r) {
        for (int b = 0; b < 256; ++b) {
            allBytes.push_back(static_cast<uint8_t>(b));
        }
    }
    std::vector<uint8_t> runs;
    for (int b = 0; b < 256; b += 5) {
        runs.insert(runs.end(), static_cast<size_t>(b * 7 + 1), static_cast<uint8_t>(b));
    }
    std::vector<uint8_t> periodic;
    for (size_t i = 0; i < 200000; ++i) {
        periodic.push_back(static_cast<uint8_t>("ab\0c"[i % 4]));
    }
    const std::vector<uint8_t> random = PseudoRandomBytes(300000, 5);
    // Repeats just inside and just outside the 32 KiB window.
    const std::vector<uint8_t> nearWindow =
        Concat({std::vector<uint8_t>(random.begin(), random.begin() + 32767), std::vector<uint8_t>(random.begin(), random.begin() + 2000),
                std::vector<uint8_t>(random.begin() + 5000, random.begin() + 40000),
                std::vector<uint8_t>(random.begin() + 5000, random.begin() + 6000)});
    // Shaped like a registry hive or a memory dump: zero-filled areas and repeated records with small
    // differences, long enough for runs to span whole chain stretches and for the window to move.
    std::vector<uint8_t> hiveLike;
    const std::vector<uint8_t> noise = PseudoRandomBytes(4096, 12);
    for (uint32_t record = 0; hiveLike.size() < (3u << 20); ++record) {
        const size_t zeros = (record * 2654435761u >> 7) % 700;
        hiveLike.insert(hiveLike.end(), zeros, 0);
        const std::string text = "nk\\Software\\Orvex\\KVXDIAG2\\Key" + std::to_string(record % 97) + "\\Value";
        hiveLike.insert(hiveLike.end(), text.begin(), text.end());
        for (int k = 0; k < 8; ++k) {
            hiveLike.push_back(static_cast<uint8_t>(record >> (k % 4 * 8)));
        }
        hiveLike.insert(hiveLike.end(), noise.begin() + record % 4000, noise.begin() + record % 4000 + record % 40);
    }
    // Indentation of every depth before a few words: the walk starts in runs of spaces and leaves them
    // for the chains of the words after them, also on the second look one byte after a match.
    std::vector<uint8_t> indented;
    const std::vector<uint8_t> picks = PseudoRandomBytes(60000, 13);
    for (size_t i = 0; indented.size() < 700000; ++i) {
        indented.insert(indented.end(), {'\r', '\n'});
        indented.insert(indented.end(), picks[i % picks.size()] % 40, ' ');
        const std::string words = "key" + std::to_string(picks[(i * 7 + 1) % picks.size()] % 50) + " = value" +
                                  std::to_string(i % 300);
        indented.insert(indented.end(), words.begin(), words.end());
    }
    // Stretches of short periods, each a little different from the last: matches overlap the bytes
    // being matched, so the nearest candidates lie within the match itself.
    std::vector<uint8_t> periods;
    for (uint32_t stretch = 0; periods.size() < 250000; ++stretch) {
        const std::vector<uint8_t> unit = PseudoRandomBytes(1 + stretch % 23, stretch / 3);
        for (size_t i = 0; i < 500 + stretch * 37 % 3000; ++i) {
            periods.push_back(unit[i % unit.size()]);
        }
    }
    const SCase cases[] = {
        {"empty", {}},
        {"one byte", {0x41}},
        {"two bytes", {0x41, 0x41}},
        {"three equal bytes", {7, 7, 7}},
        {"258 equal bytes", std::vector<uint8_t>(258, 'z')},
        {"259 equal bytes", std::vector<uint8_t>(259, 'z')},
        {"65535 random", PseudoRandomBytes(65535, 1)},
        {"65536 random", PseudoRandomBytes(65536, 2)},
        {"65537 random", PseudoRandomBytes(65537, 3)},
        {"65536 zeros", std::vector<uint8_t>(65536, 0)},
        {"3 MiB of one byte", std::vector<uint8_t>(3 << 20, 'x')},
        {"every byte value", allBytes},
        {"runs of every length", runs},
        {"period four", periodic},
        {"text 1 MiB", TextLikeBytes(1 << 20, 9)},
        {"random then text then random", Concat({PseudoRandomBytes(70000, 4), TextLikeBytes(200000, 4), PseudoRandomBytes(70000, 6)})},
        {"repeats at the window edge", nearWindow},
        {"hive-like records and zero areas", hiveLike},
        {"indented lines", indented},
        {"short periods", periods},
    };
    CDeflateEncoder encoder;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.m_name);
        CompressAndCheck(encoder, c.m_data);
    }
}

TEST(Deflate, FindsEveryRepeatedLineBehindAPrefixThatAllLinesShare)
{
    // Hundreds of lines in the window begin alike and only the copy of the line itself matches past
    // that prefix; it is always within the window. Missing it costs a line its 40 random letters.
    constexpr size_t LINES = 150;
    constexpr size_t ROUNDS = 40;
    const std::vector<uint8_t> letters = PseudoRandomBytes(LINES * 40, 41);
    std::vector<std::string> lines;
    for (size_t i = 0; i < LINES; ++i) {
        std::string line = "2024-03-14 10:15:37.123 [KVXFLTA] request ";
        for (size_t k = 0; k < 40; ++k) {
            line += static_cast<char>('a' + letters[i * 40 + k] % 26);
        }
        lines.push_back(line + "\r\n");
    }
    // Every round is a shuffle of all lines, so the previous copy of a line is at most two rounds
    // (25 KB) back. The first rounds put long matches into the first window, where a chain followed at
    // an offset can lead to before the start of the stream.
    const std::vector<uint8_t> shuffle = PseudoRandomBytes(LINES * ROUNDS * 2, 42);
    std::vector<size_t> order(LINES);
    for (size_t i = 0; i < LINES; ++i) {
        order[i] = i;
    }
    std::vector<uint8_t> input;
    size_t r = 0;
    for (size_t round = 0; round < ROUNDS; ++round) {
        for (size_t i = LINES - 1; round > 0 && i > 0; --i) {
            std::swap(order[i], order[(shuffle[r] | shuffle[r + 1] << 8) % (i + 1)]);
            r += 2;
        }
        for (size_t i : order) {
            input.insert(input.end(), lines[i].begin(), lines[i].end());
        }
    }
    CDeflateEncoder encoder;
    const size_t out = CompressAndCheck(encoder, input).size();
    // About 2 bytes per repeated line (one match) and 45 per first one; 25 or more per line when the
    // copies are missed.
    EXPECT_LT(out, LINES * 60 + LINES * (ROUNDS - 1) * 3);
}

TEST(Deflate, EmptyInputIsOneFixedBlockAndRunsCollapse)
{
    CDeflateEncoder encoder;
    EXPECT_EQ((std::vector<uint8_t>{0x03, 0x00}), CompressAndCheck(encoder, {}));
    EXPECT_LT(CompressAndCheck(encoder, std::vector<uint8_t>(3 << 20, 'x')).size(), 5000u);
}

TEST(Deflate, IncompressibleDataGrowsOnlyByStoredBlockHeaders)
{
    CDeflateEncoder encoder;
    for (size_t n : {1000u, 65535u, 65536u, 1000000u}) {
        SCOPED_TRACE(n);
        const std::vector<uint8_t> data = PseudoRandomBytes(n, static_cast<uint32_t>(n));
        const size_t out = CompressAndCheck(encoder, data).size();
        // A block of 65535 symbols can span a few bytes more than one stored block when chance
        // matches occur, so allow two stored headers per 64 KiB.
        EXPECT_LE(out, n + 10 * ((n + 65534) / 65535) + 1);
    }
}

TEST(Deflate, ALongStretchOfLiteralsDoesNotCostTheMatchesAfterIt)
{
    // Only some positions of a long stretch of literals are searched, until the next match: text
    // compresses as well after random data as on its own (where it would lose a third if the sparse
    // search went on past its first match).
    CDeflateEncoder encoder;
    const std::vector<uint8_t> random = PseudoRandomBytes(70000, 21);
    const std::vector<uint8_t> text = TextLikeBytes(200000, 22);
    const size_t randomAlone = CompressAndCheck(encoder, random).size();
    const size_t textAlone = CompressAndCheck(encoder, text).size();
    EXPECT_LT(textAlone, text.size() / 5);
    EXPECT_LE(CompressAndCheck(encoder, Concat({random, text})).size(), randomAlone + textAlone + textAlone / 100);
}

TEST(Deflate, OutputDoesNotDependOnHowTheSourceDeliversOrOnEarlierStreams)
{
    const std::vector<uint8_t> text = TextLikeBytes(300000, 21);
    const std::vector<uint8_t> other = PseudoRandomBytes(100000, 22);
    CDeflateEncoder encoder;
    const std::vector<uint8_t> whole = CompressAndCheck(encoder, text);
    CompressAndCheck(encoder, other);
    EXPECT_EQ(whole, CompressAndCheck(encoder, text)) << "state left over from an earlier stream";
    for (size_t piece : {1u, 7u, 4096u}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(whole, CompressAndCheck(encoder, text, piece));
    }
}

TEST(Deflate, ReportsReadAndWriteFailuresAndRecovers)
{
    const std::vector<uint8_t> text = TextLikeBytes(400000, 31);
    CDeflateEncoder encoder;
    {
        CVectorSource source(text);
        source.m_failAt = 200000;
        CVectorSink sink;
        EXPECT_EQ(eDeflateStatus_READ_FAILED, encoder.Compress(source, sink));
    }
    {
        CVectorSource source(text);
        CVectorSink sink;
        sink.m_failAfter = 1000;
        EXPECT_EQ(eDeflateStatus_WRITE_FAILED, encoder.Compress(source, sink));
    }
    CompressAndCheck(encoder, text);
}

// -------------------------------------------------------------------------------- archive records

class ZipWriterTest : public ::testing::Test {
protected:
    std::unique_ptr<CZipWriter> MakeWriter(const char* password)
    {
        m_output = SMemoryOutput();
        return std::make_unique<CZipWriter>(std::make_unique<CMemorySink>(m_output), password);
    }
    ZRESULT AddMemoryFile(CZipWriter& writer, const char* name, const std::vector<uint8_t>& data,
                          SEntryInfo info = SampleInfo(0))
    {
        info.m_size = data.size();
        CMemoryEntrySource source(data, info);
        return writer.AddFileEntry(name, source);
    }
    SMemoryOutput m_output;
};

TEST_F(ZipWriterTest, FlagsMethodsAndDescriptorsFollowPasswordAndEntryKind)
{
    struct SCase {
        const char* m_password;
        const char* m_name;
        bool m_folder;
        uint16_t m_localFlags;
        uint16_t m_centralFlags;
        uint16_t m_method;
        bool m_descriptor;
    };
    const SCase cases[] = {
        {nullptr, "report.txt", false, 0x0002, 0x0002, 8, false},
        {nullptr, "old.zip", false, 0x0000, 0x0000, 0, false},
        {nullptr, "sub", true, 0x0000, 0x0000, 0, false},
        {"", "report.txt", false, 0x0002, 0x0002, 8, false}, // an empty password is none
        {"secret", "report.txt", false, 0x0009, 0x0009, 8, true},
        {"secret", "old.zip", false, 0x0009, 0x0009, 0, true},
        {"secret", "sub", true, 0x0000, 0x0000, 0, false},
    };
    const std::vector<uint8_t> data = TextLikeBytes(20000, 1);
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::string(c.m_name) + " password " + (c.m_password ? c.m_password : "(none)"));
        auto writer = MakeWriter(c.m_password);
        ASSERT_EQ(KVXZIP_OK, c.m_folder ? writer->AddFolderEntry(c.m_name) : AddMemoryFile(*writer, c.m_name, data));
        ASSERT_EQ(KVXZIP_OK, writer->Close());
        const SArchive archive = ParseOrFail(m_output.m_bytes);
        ASSERT_EQ(1u, archive.m_entries.size());
        const SCentralRecord& e = archive.m_entries[0];
        EXPECT_EQ(c.m_localFlags, e.m_local.m_flags);
        EXPECT_EQ(c.m_centralFlags, e.m_flags);
        EXPECT_EQ(c.m_method, e.m_method);
        EXPECT_EQ(c.m_method, e.m_local.m_method);
        EXPECT_EQ(c.m_descriptor, e.m_hasDescriptor);
        const bool encrypted = (c.m_localFlags & 1) != 0;
        if (encrypted) {
            // The local header of an encrypted entry keeps CRC 0 and, when deflated, size 0; the
            // descriptor and the central record carry the final values.
            EXPECT_EQ(0u, e.m_local.m_crc);
            EXPECT_EQ(e.m_crc, e.m_descriptorCrc);
            EXPECT_EQ(e.m_compressedSize, e.m_descriptorCompressed);
            EXPECT_EQ(e.m_uncompressedSize, e.m_descriptorUncompressed);
            if (c.m_method == 0) {
                EXPECT_EQ(data.size() + 12, e.m_compressedSize);
                EXPECT_EQ(e.m_compressedSize, e.m_local.m_compressedSize);
            }
        } else {
            EXPECT_EQ(e.m_crc, e.m_local.m_crc);
            EXPECT_EQ(e.m_compressedSize, e.m_local.m_compressedSize);
            EXPECT_EQ(e.m_uncompressedSize, e.m_local.m_uncompressedSize);
        }
        std::vector<uint8_t> extracted;
        std::string error;
        ASSERT_TRUE(ExtractEntry(archive, e, c.m_password ? c.m_password : "", extracted, error)) << error;
        EXPECT_EQ(c.m_folder ? std::vector<uint8_t>() : data, extracted);
    }
}

TEST_F(ZipWriterTest, StoredSuffixesAreTakenFromTheLastDotOfTheWholeName)
{
    const std::pair<const char*, uint16_t> cases[] = {
        {"report.txt", 8}, {"backup.zip/notes", 8}, {"old.zip", 0}, {"logs.GZ", 0}, {"a.tgz", 0}, {"x.Z", 0},
        {"x.z", 0},        {"a.ZOO", 0},            {"b.arc", 0},   {"c.LZH", 0},   {"d.arj", 0}, {"e.zipx", 8},
        {"noextension", 8}, {"dir.gz\\file", 8},     {"archive.tar.gz", 0},
    };
    auto writer = MakeWriter(nullptr);
    for (const auto& c : cases) {
        ASSERT_EQ(KVXZIP_OK, AddMemoryFile(*writer, c.first, Bytes("some text some text some text")));
    }
    ASSERT_EQ(KVXZIP_OK, writer->Close());
    const SArchive archive = ParseOrFail(m_output.m_bytes);
    ASSERT_EQ(sizeof(cases) / sizeof(cases[0]), archive.m_entries.size());
    for (size_t i = 0; i < archive.m_entries.size(); ++i) {
        SCOPED_TRACE(cases[i].first);
        EXPECT_EQ(cases[i].second, archive.m_entries[i].m_method);
    }
}

TEST_F(ZipWriterTest, NamesUseSlashesAndFolderEntriesAreEmptyDirectories)
{
    auto writer = MakeWriter("pw");
    ASSERT_EQ(KVXZIP_OK, AddMemoryFile(*writer, "a\\b\\c.txt", Bytes("abc")));
    ASSERT_EQ(KVXZIP_OK, writer->AddFolderEntry("sub"));
    ASSERT_EQ(KVXZIP_OK, writer->AddFolderEntry("already\\slashed/"));
    ASSERT_EQ(KVXZIP_OK, writer->Close());
    const SArchive archive = ParseOrFail(m_output.m_bytes);
    ASSERT_EQ(3u, archive.m_entries.size());
    EXPECT_EQ("a/b/c.txt", archive.m_entries[0].m_name);
    EXPECT_EQ("a/b/c.txt", archive.m_entries[0].m_local.m_name);
    EXPECT_EQ("already/slashed/", archive.m_entries[2].m_name);
    const SCentralRecord& folder = archive.m_entries[1];
    EXPECT_EQ("sub/", folder.m_name);
    EXPECT_EQ(0u, folder.m_uncompressedSize);
    EXPECT_EQ(0u, folder.m_compressedSize);
    EXPECT_EQ(0u, folder.m_crc);
    EXPECT_EQ(0u, folder.m_method);
    EXPECT_EQ(0x41C00010u, folder.m_externalAttributes);
    // A folder's times are "now": the UT field must be recent and agree with the MS-DOS words.
    ASSERT_EQ(9u, folder.m_extra.size());
    SEntryInfo civil;
    CZipTime::CivilFromUnix(LoadLe32(&folder.m_extra[5]), civil);
    uint16_t dosTime = 0, dosDate = 0;
    CZipTime::ToDos(civil, dosTime, dosDate);
    EXPECT_EQ(dosDate, folder.m_date);
    EXPECT_NEAR(dosTime, folder.m_time, 2.0);
}

TEST_F(ZipWriterTest, RecordsCarryVersionsExtraFieldsAndAttributes)
{
    auto writer = MakeWriter(nullptr);
    SEntryInfo readOnly = SampleInfo(0);
    readOnly.m_attributes = 0x21;
    ASSERT_EQ(KVXZIP_OK, AddMemoryFile(*writer, "plain.txt", Bytes("plain")));
    ASSERT_EQ(KVXZIP_OK, AddMemoryFile(*writer, "locked.txt", Bytes("locked"), readOnly));
    ASSERT_EQ(KVXZIP_OK, writer->Close());
    const SArchive archive = ParseOrFail(m_output.m_bytes);
    ASSERT_EQ(2u, archive.m_entries.size());
    EXPECT_EQ(2u, archive.m_entriesOnDisk);
    const SCentralRecord& e = archive.m_entries[0];
    EXPECT_EQ(0x0B17, e.m_versionMadeBy);
    EXPECT_EQ(20, e.m_versionNeeded);
    EXPECT_EQ(20, e.m_local.m_versionNeeded);
    EXPECT_EQ(0, e.m_commentLength);
    EXPECT_EQ(0, e.m_diskStart);
    EXPECT_EQ(0, e.m_internalAttributes);
    EXPECT_EQ(0x81800020u, e.m_externalAttributes);
    EXPECT_EQ(0x81000021u, archive.m_entries[1].m_externalAttributes);
    const std::vector<uint8_t> localExtra = {'U', 'T', 13, 0, 7};
    ASSERT_EQ(17u, e.m_local.m_extra.size());
    EXPECT_TRUE(std::equal(localExtra.begin(), localExtra.end(), e.m_local.m_extra.begin()));
    EXPECT_EQ(static_cast<uint32_t>(SAMPLE_UNIX_TIME), LoadLe32(&e.m_local.m_extra[5]));
    EXPECT_EQ(static_cast<uint32_t>(SAMPLE_UNIX_TIME + 60), LoadLe32(&e.m_local.m_extra[9]));
    EXPECT_EQ(static_cast<uint32_t>(SAMPLE_UNIX_TIME - 3600), LoadLe32(&e.m_local.m_extra[13]));
    const std::vector<uint8_t> centralExtra = {'U', 'T', 5, 0, 7};
    ASSERT_EQ(9u, e.m_extra.size());
    EXPECT_TRUE(std::equal(centralExtra.begin(), centralExtra.end(), e.m_extra.begin()));
    EXPECT_EQ(static_cast<uint32_t>(SAMPLE_UNIX_TIME), LoadLe32(&e.m_extra[5]));
    // 10:15:37 UTC on 3 May 2008, taken as it is.
    EXPECT_EQ(0x51F2, e.m_time);
    EXPECT_EQ(0x38A3, e.m_date);
    EXPECT_EQ(0x51F2, e.m_local.m_time);
    EXPECT_EQ(0x38A3, e.m_local.m_date);
}

TEST(ZipTime, DosWordsAndOutOfRangeYears)
{
    struct SCase {
        int64_t m_unix;
        uint16_t m_time;
        uint16_t m_date;
    };
    const SCase cases[] = {
        {SAMPLE_UNIX_TIME, 0x51F2, 0x38A3},
        {315532800, 0x0000, 0x0021},            // 1980-01-01 00:00:00
        {0, 0x0000, 0x0021},                    // 1970 is clamped to the first MS-DOS date
        {4354819199, 0xBF7D, 0xFF9F},           // 2107-12-31 23:59:59
        {4354819200 + 86400 * 400LL, 0xBF7D, 0xFF9F}, // beyond 2107 is clamped to the last
        {951782400, 0x0000, 0x285D},            // 2000-02-29
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.m_unix);
        SEntryInfo info;
        CZipTime::CivilFromUnix(c.m_unix, info);
        EXPECT_EQ(c.m_unix, CZipTime::UnixFromCivil(info.m_year, info.m_month, info.m_day, info.m_hour,
                                                     info.m_minute, info.m_second));
        uint16_t t = 0, d = 0;
        CZipTime::ToDos(info, t, d);
        EXPECT_EQ(c.m_time, t);
        EXPECT_EQ(c.m_date, d);
    }
}

TEST_F(ZipWriterTest, ExecutablesAreRecognisedByTheirHeaders)
{
    auto image = [](uint32_t newHeaderOffset, const char* sig, size_t size) {
        std::vector<uint8_t> v(size, 0);
        v[0] = 'M';
        v[1] = 'Z';
        std::memcpy(&v[60], &newHeaderOffset, 4);
        if (newHeaderOffset + 4 <= size) {
            std::memcpy(&v[newHeaderOffset], sig, 4);
        }
        return v;
    };
    struct SCase {
        const char* m_name;
        std::vector<uint8_t> m_data;
        bool m_executable;
    };
    const SCase cases[] = {
        {"pe.exe", image(128, "PE\0\0", 1024), true},
        {"ne.exe", image(128, "NE??", 1024), true},
        {"le.exe", image(128, "LE??", 1024), true},
        {"mz.exe", image(128, "MZ??", 1024), true},
        {"pe-without-zeros.exe", image(128, "PEx\0", 1024), false},
        {"offset-too-far.exe", image(1024 - 52, "PE\0\0", 1024), false},
        {"unknown-signature.exe", image(128, "XX\0\0", 1024), false},
        {"forty-bytes.exe", std::vector<uint8_t>{'M', 'Z', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                 0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         false},
        {"text.txt", Bytes(std::string(500, 'M')), false},
    };
    auto writer = MakeWriter(nullptr);
    for (const SCase& c : cases) {
        ASSERT_EQ(KVXZIP_OK, AddMemoryFile(*writer, c.m_name, c.m_data));
    }
    ASSERT_EQ(KVXZIP_OK, writer->Close());
    const SArchive archive = ParseOrFail(m_output.m_bytes);
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.m_name);
        const SCentralRecord* e = FindEntry(archive, c.m_name);
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(c.m_executable ? 0x81C00020u : 0x81800020u, e->m_externalAttributes);
    }
}

TEST_F(ZipWriterTest, RefusesBadNamesAndAdditionsAfterTheDirectoryIsWritten)
{
    auto writer = MakeWriter(nullptr);
    EXPECT_EQ(KVXZIP_ERR_ARGUMENTS, AddMemoryFile(*writer, "", Bytes("x")));
    EXPECT_EQ(KVXZIP_ERR_ARGUMENTS, writer->AddFolderEntry(""));
    EXPECT_EQ(KVXZIP_ERR_ARGUMENTS, writer->AddFolderEntry(nullptr));
    EXPECT_TRUE(m_output.m_bytes.empty()) << "a refused entry wrote bytes";
    // The name fields hold 259 bytes; a folder's own "/" counts.
    EXPECT_EQ(KVXZIP_ERR_ARGUMENTS, AddMemoryFile(*writer, std::string(260, 'n').c_str(), Bytes("x")));
    EXPECT_EQ(KVXZIP_ERR_ARGUMENTS, writer->AddFolderEntry(std::string(259, 'd').c_str()));
    EXPECT_EQ(KVXZIP_OK, AddMemoryFile(*writer, std::string(259, 'n').c_str(), Bytes("x")));
    EXPECT_EQ(KVXZIP_OK, writer->AddFolderEntry(std::string(258, 'd').c_str()));
    EXPECT_EQ(2u, writer->GetEntryCount());
    EXPECT_EQ(KVXZIP_OK, writer->Close());
    EXPECT_EQ(KVXZIP_ERR_ENDED, writer->AddFolderEntry("late"));
    EXPECT_EQ(KVXZIP_ERR_ENDED, AddMemoryFile(*writer, "late.txt", Bytes("x")));
    EXPECT_EQ(KVXZIP_OK, writer->Close()) << "a second close has nothing left to write";
    EXPECT_EQ(2u, ParseOrFail(m_output.m_bytes).m_entries.size());
}

TEST_F(ZipWriterTest, EmptyFileIsADeflatedEntryOfSizeZero)
{
    for (const char* password : {static_cast<const char*>(nullptr), "pw"}) {
        SCOPED_TRACE(password ? password : "(none)");
        auto writer = MakeWriter(password);
        ASSERT_EQ(KVXZIP_OK, AddMemoryFile(*writer, "empty.log", {}));
        ASSERT_EQ(KVXZIP_OK, writer->Close());
        const SArchive archive = ParseOrFail(m_output.m_bytes);
        ASSERT_EQ(1u, archive.m_entries.size());
        const SCentralRecord& e = archive.m_entries[0];
        EXPECT_EQ(8, e.m_method);
        EXPECT_EQ(0u, e.m_uncompressedSize);
        EXPECT_EQ(0u, e.m_crc);
        EXPECT_EQ(password ? 14u : 2u, e.m_compressedSize);
        std::vector<uint8_t> data;
        std::string error;
        EXPECT_TRUE(ExtractEntry(archive, e, password ? password : "", data, error)) << error;
    }
}

TEST_F(ZipWriterTest, AFullVolumeFailsTheEntryAndLeavesEarlierAndLaterEntriesValid)
{
    const std::vector<uint8_t> big = PseudoRandomBytes(200000, 8);
    for (const char* password : {static_cast<const char*>(nullptr), "pw"}) {
        SCOPED_TRACE(password ? password : "(none)");
        auto writer = MakeWriter(password);
        ASSERT_EQ(KVXZIP_OK, AddMemoryFile(*writer, "first.txt", TextLikeBytes(30000, 1)));
        m_output.m_budget = m_output.m_position + 100000;
        EXPECT_EQ(KVXZIP_ERR_WRITE, AddMemoryFile(*writer, "big.bin", big));
        EXPECT_EQ(1u, writer->GetEntryCount());
        // Space comes back: the next entry starts after the bytes the failed one left behind.
        m_output.m_budget = SIZE_MAX;
        ASSERT_EQ(KVXZIP_OK, AddMemoryFile(*writer, "third.txt", TextLikeBytes(30000, 3)));
        ASSERT_EQ(KVXZIP_OK, writer->Close());
        const SArchive archive = ParseOrFail(m_output.m_bytes);
        ASSERT_EQ(2u, archive.m_entries.size());
        for (const SCentralRecord& e : archive.m_entries) {
            std::vector<uint8_t> data;
            std::string error;
            EXPECT_TRUE(ExtractEntry(archive, e, password ? password : "", data, error)) << error;
        }
    }
    // A volume that fills up while the directory is written: close reports the failure.
    auto writer = MakeWriter(nullptr);
    ASSERT_EQ(KVXZIP_OK, AddMemoryFile(*writer, "only.txt", Bytes("only")));
    m_output.m_budget = m_output.m_position + 10;
    EXPECT_EQ(KVXZIP_ERR_WRITE, writer->Close());
    EXPECT_TRUE(m_output.m_closed);
}

TEST_F(ZipWriterTest, SeekReadSizeAndCloseFailuresHaveTheirOwnCodes)
{
    const std::vector<uint8_t> text = TextLikeBytes(50000, 2);
    {
        auto writer = MakeWriter(nullptr);
        m_output.m_failSeek = true;
        EXPECT_EQ(KVXZIP_ERR_SEEK, AddMemoryFile(*writer, "a.txt", text));
        EXPECT_EQ(0u, writer->GetEntryCount());
    }
    for (const char* name : {"deflated.txt", "stored.zip"}) {
        SCOPED_TRACE(name);
        auto writer = MakeWriter(nullptr);
        SEntryInfo info = SampleInfo(text.size());
        CMemoryEntrySource source(text, info);
        source.m_failReadAt = 20000;
        EXPECT_EQ(KVXZIP_ERR_READ, writer->AddFileEntry(name, source));
        EXPECT_EQ(0u, writer->GetEntryCount());
    }
    {
        // An encrypted stored entry announces its size before the data; a source that turns out
        // longer cannot be described any more.
        auto writer = MakeWriter("pw");
        SEntryInfo info = SampleInfo(text.size() - 100);
        CMemoryEntrySource source(text, info);
        EXPECT_EQ(KVXZIP_ERR_CHANGED_MIND, writer->AddFileEntry("grown.zip", source));
        EXPECT_EQ(0u, writer->GetEntryCount());
    }
    {
        // Without a password the header is rewritten, so a changed size is simply recorded.
        auto writer = MakeWriter(nullptr);
        SEntryInfo info = SampleInfo(text.size() - 100);
        CMemoryEntrySource source(text, info);
        EXPECT_EQ(KVXZIP_OK, writer->AddFileEntry("grown.zip", source));
        EXPECT_EQ(KVXZIP_OK, writer->Close());
        EXPECT_EQ(text.size(), ParseOrFail(m_output.m_bytes).m_entries[0].m_uncompressedSize);
    }
    {
        auto writer = MakeWriter(nullptr);
        m_output.m_failClose = true;
        EXPECT_EQ(KVXZIP_ERR_WRITE, writer->Close());
    }
    {
        // The seek back behind a rewritten header fails: the output stands inside the entry, so
        // nothing more may be written and the archive must not be reported as complete.
        auto writer = MakeWriter(nullptr);
        m_output.m_failSeek = false;
        m_output.m_seeks = 0;
        m_output.m_failSeekFrom = 1;
        EXPECT_EQ(KVXZIP_ERR_SEEK, AddMemoryFile(*writer, "a.txt", text));
        m_output.m_failSeekFrom = SIZE_MAX;
        EXPECT_NE(KVXZIP_OK, AddMemoryFile(*writer, "b.txt", text));
        EXPECT_EQ(KVXZIP_ERR_SEEK, writer->Close());
    }
}

TEST_F(ZipWriterTest, DataGoesOutInPiecesOf16KiBAndEveryEntryRoundTrips)
{
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"text.log", TextLikeBytes(600000, 4)},
        {"random.bin", PseudoRandomBytes(300000, 5)},
        {"random.zip", PseudoRandomBytes(70000, 6)},
        {"zeros.dat", std::vector<uint8_t>(1 << 20, 0)},
        {"tiny.txt", Bytes("x")},
    };
    for (const char* password : {static_cast<const char*>(nullptr), "Orvex-2024"}) {
        SCOPED_TRACE(password ? password : "(none)");
        auto writer = MakeWriter(password);
        for (const auto& f : files) {
            ASSERT_EQ(KVXZIP_OK, AddMemoryFile(*writer, f.first.c_str(), f.second));
        }
        ASSERT_EQ(KVXZIP_OK, writer->Close());
        EXPECT_LE(m_output.m_largestWrite, 16384u);
        const SArchive archive = ParseOrFail(m_output.m_bytes);
        ASSERT_EQ(files.size(), archive.m_entries.size());
        for (size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(files[i].first);
            std::vector<uint8_t> data;
            std::string error;
            ASSERT_TRUE(ExtractEntry(archive, archive.m_entries[i], password ? password : "", data, error)) << error;
            EXPECT_TRUE(data == files[i].second);
        }
    }
}

// Large entries are cut into pieces compressed on several threads: the pieces join into one stream
// that inflates to the input, at the piece boundaries too, and the archive does not depend on the
// number of threads.
TEST_F(ZipWriterTest, TheArchiveIsTheSameWhateverTheNumberOfThreads)
{
    const size_t piece = KVXZIP_BLOCK_SIZE;
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"logs/service.log", TextLikeBytes(2 * piece + piece / 2, 7)},
        {"dumps/exact.dmp", TextLikeBytes(piece, 8)}, // a full last piece, then nothing
        {"random.bin", PseudoRandomBytes(piece + 1, 9)},
        {"empty.txt", {}},
        {"old.zip", PseudoRandomBytes(piece + 7, 10)},
        {"zeros.dat", std::vector<uint8_t>(piece + 5, 0)},
    };
    for (const char* password : {static_cast<const char*>(nullptr), "tarsk-708"}) {
        SCOPED_TRACE(password ? password : "(none)");
        std::vector<uint8_t> first;
        for (unsigned threads : {1u, 2u, 4u}) {
            SCOPED_TRACE(threads);
            m_output = SMemoryOutput();
            CZipWriter writer(std::make_unique<CMemorySink>(m_output), password, threads);
            writer.SetRandomSeed(25);
            // (No folder entry: it carries the time of adding.)
            for (const auto& f : files) {
                ASSERT_EQ(KVXZIP_OK, AddMemoryFile(writer, f.first.c_str(), f.second));
            }
            ASSERT_EQ(KVXZIP_OK, writer.Close());
            if (first.empty()) {
                first = m_output.m_bytes;
                const SArchive archive = ParseOrFail(first);
                ASSERT_EQ(files.size(), archive.m_entries.size());
                for (size_t i = 0; i < files.size(); ++i) {
                    SCOPED_TRACE(files[i].first);
                    std::vector<uint8_t> data;
                    std::string error;
                    ASSERT_TRUE(ExtractEntry(archive, archive.m_entries[i], password ? password : "", data, error))
                        << error;
                    EXPECT_TRUE(data == files[i].second);
                }
            } else {
                EXPECT_TRUE(m_output.m_bytes == first);
            }
        }
    }
}

// ------------------------------------------------------------------------------ the output's tap

// What a tap saw: the package's digest is taken from it, so it must be the file byte for byte, or say
// that it is not.
struct SRecordingTap : IOutputTap {
    void Appended(const void* pData, size_t cb) override
    {
        m_bytes.insert(m_bytes.end(), static_cast<const uint8_t*>(pData), static_cast<const uint8_t*>(pData) + cb);
    }
    void Diverged() override { ++m_diverged; }
    std::vector<uint8_t> m_bytes;
    int m_diverged = 0;
};

TEST_F(ZipWriterTest, TheTapSeesTheFinishedArchiveOrIsToldItCannot)
{
    // Stored ".zip" entries cost no compression time, so the one too large to keep back is cheap.
    const std::vector<uint8_t> beyondPending = PseudoRandomBytes(CTappedSink::KVXZIP_TAP_MAX_PENDING + 1000, 4);
    struct SCase {
        const char* name;
        const char* password;
        bool large;       // one entry larger than the sink keeps back
        size_t budget;    // the volume fills up after this many bytes
        bool diverges;
    };
    const SCase cases[] = {
        {"encrypted, headers never rewritten", "pw", true, SIZE_MAX, false},
        {"plain, headers rewritten once settled", nullptr, false, SIZE_MAX, false},
        {"plain, an entry too large to keep back", nullptr, true, SIZE_MAX, true},
        {"a write that fails", "pw", false, 3000, true},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_output = SMemoryOutput();
        SRecordingTap tap;
        CZipWriter writer(std::make_unique<CTappedSink>(std::make_unique<CMemorySink>(m_output), tap), c.password);
        m_output.m_budget = c.budget;
        std::vector<ZRESULT> results = {writer.AddFolderEntry("logs"),
                                        AddMemoryFile(writer, "logs\\agent.log", TextLikeBytes(60000, 1)),
                                        AddMemoryFile(writer, "empty.txt", {})};
        if (c.large) {
            results.push_back(AddMemoryFile(writer, "capture.zip", beyondPending));
        }
        results.push_back(AddMemoryFile(writer, "KVXDiagReport.txt", TextLikeBytes(5000, 2)));
        results.push_back(writer.Close());
        if (c.budget == SIZE_MAX) {
            EXPECT_EQ(std::vector<ZRESULT>(results.size(), KVXZIP_OK), results);
        }
        EXPECT_EQ(c.diverges ? 1 : 0, tap.m_diverged);
        if (!c.diverges) {
            EXPECT_TRUE(tap.m_bytes == m_output.m_bytes) << tap.m_bytes.size() << " of " << m_output.m_bytes.size();
        }
    }
}

// ------------------------------------------------------------------------- handle interface, files

class ZipArchiveApiTest : public ::testing::Test {
protected:
    CTempDirectory m_dir;
};

TEST_F(ZipArchiveApiTest, WritesAnArchiveOfFilesOnDiskWithTheirUtcTimesAndAttributes)
{
    const std::string text = m_dir.Join("report.txt");
    const std::string locked = m_dir.Join("locked.txt");
    ASSERT_TRUE(WriteFileBytes(text, TextLikeBytes(100000, 7)));
    ASSERT_TRUE(WriteFileBytes(locked, Bytes("read only")));
    SetFileTimeUtc(text, SAMPLE_UNIX_TIME);
    MakeReadOnly(locked);
    const std::string zip = m_dir.Join("out.zip");
    HZIPARCHIVE h = CreateArchive(zip.c_str(), "pw");
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(KVXZIP_OK, AddFileEntry(h, "report.txt", text.c_str()));
    EXPECT_EQ(KVXZIP_OK, AddFileEntry(h, "sub\\locked.txt", locked.c_str()));
    EXPECT_EQ(KVXZIP_OK, AddFolderEntry(h, "sub"));
    EXPECT_EQ(KVXZIP_OK, CloseArchive(h));
    EXPECT_EQ(KVXZIP_OK, GetMostRecentZipResult());

    const SArchive archive = ParseOrFail(ReadFileBytes(zip));
    ASSERT_EQ(3u, archive.m_entries.size());
    const SCentralRecord* e = FindEntry(archive, "report.txt");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(0x51F2, e->m_time) << "the MS-DOS time is the UTC last-write time, not local time";
    EXPECT_EQ(0x38A3, e->m_date);
    EXPECT_EQ(static_cast<uint32_t>(SAMPLE_UNIX_TIME), LoadLe32(&e->m_extra[5]));
    EXPECT_EQ(ReadFileBytes(text).size(), e->m_uncompressedSize);
    const SCentralRecord* r = FindEntry(archive, "sub/locked.txt");
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(0x01u, r->m_externalAttributes & 0x01u);
    EXPECT_EQ(0x81000000u, r->m_externalAttributes & 0xFFFF0000u);
    for (const SCentralRecord& entry : archive.m_entries) {
        std::vector<uint8_t> data;
        std::string error;
        EXPECT_TRUE(ExtractEntry(archive, entry, "pw", data, error)) << error;
    }
}

TEST_F(ZipArchiveApiTest, FailuresLeaveCodesAndWriteNothing)
{
    const std::string zip = m_dir.Join("out.zip");
    EXPECT_EQ(nullptr, CreateArchive(m_dir.Join("no-such-dir/out.zip").c_str(), nullptr));
    EXPECT_EQ(KVXZIP_ERR_OPEN, GetMostRecentZipResult());

    HZIPARCHIVE h = CreateArchive(zip.c_str(), nullptr);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(KVXZIP_ERR_OPEN, AddFileEntry(h, "missing.txt", m_dir.Join("missing.txt").c_str()));
    EXPECT_EQ(KVXZIP_ERR_OPEN, GetMostRecentZipResult());
    EXPECT_EQ(KVXZIP_ERR_ARGUMENTS, AddFolderEntry(h, ""));
    EXPECT_EQ(KVXZIP_ERR_ARGUMENTS, AddFolderEntry(nullptr, "x"));
    EXPECT_EQ(KVXZIP_ERR_ARGUMENTS, CloseArchive(nullptr));
    SZipHandle reader;
    reader.m_kind = KVXZIP_HANDLE_KIND_FILE_READER;
    reader.m_pWriter = h->m_pWriter;
    EXPECT_EQ(KVXZIP_ERR_WRONG_MODE, AddFolderEntry(&reader, "x"));
    EXPECT_EQ(KVXZIP_ERR_WRONG_MODE, CloseArchive(&reader));
    EXPECT_EQ(KVXZIP_OK, CloseArchive(h));
    EXPECT_EQ(22u, ReadFileBytes(zip).size()) << "only the end record";
}

TEST(ZipResultText, LengthsTruncationAndTheMostRecentResult)
{
    char buffer[6];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(21u, DescribeZipResult(KVXZIP_ERR_WRITE, buffer, sizeof(buffer)));
    EXPECT_STREQ("Error", buffer);
    EXPECT_EQ(23u, DescribeZipResult(0x1234, nullptr, 0));
    char one[1] = {'#'};
    EXPECT_EQ(7u, DescribeZipResult(KVXZIP_OK, one, 1));
    EXPECT_EQ('\0', one[0]);
    char untouched[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(7u, DescribeZipResult(KVXZIP_OK, untouched, 0));
    EXPECT_EQ('#', untouched[0]);

    const std::map<ZRESULT, std::string> texts = {
        {0x00000000, "Success"},
        {0x00000100, "Culdn't duplicate handle"},
        {0x00000200, "Couldn't create/open file"},
        {0x00000300, "Failed to allocate memory"},
        {0x00000400, "Error writing to file"},
        {0x00000500, "File not found in the zipfile"},
        {0x00000600, "Still more data to unzip"},
        {0x00000700, "Zipfile is corrupt or not a zipfile"},
        {0x00000800, "Error reading file"},
        {0x00010000, "Caller: faulty arguments"},
        {0x00020000, "Caller: can only get memory of a memory zipfile"},
        {0x00030000, "Caller: not enough space allocated for memory zipfile"},
        {0x00040000, "Caller: there was a previous error"},
        {0x00050000, "Caller: additions to the zip have already been ended"},
        {0x00060000, "Zip-bug: the anticipated size turned out wrong"},
        {0x00070000, "Caller: the file had already been partially unzipped"},
        {0x00080000, "Caller: mixing creation and opening of zip"},
        {0x01000000, "Zip-bug: internal initialisation not completed"},
        {0x02000000, "Zip-bug: trying to seek the unseekable"},
        {0x04000000, "Zip-bug: tried to change mind, but not allowed"},
        {0x05000000, "Zip-bug: an internal error during flation"},
        {0x00000002, "unknown zip result code"},
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(t.first);
        char text[128];
        EXPECT_EQ(t.second.size(), DescribeZipResult(t.first, text, sizeof(text)));
        EXPECT_EQ(t.second, text);
    }
    // Code 1 names the result of the last operation.
    AddFolderEntry(nullptr, "x");
    char text[128];
    DescribeZipResult(KVXZIP_MOST_RECENT_RESULT, text, sizeof(text));
    EXPECT_STREQ("Caller: faulty arguments", text);
}

// ------------------------------------------------------------------------------------ folder walk

TEST(ZipFolderPacker, FoldersPrecedeTheirContentsAndNamesAreRelative)
{
    CTempDirectory dir;
    const std::filesystem::path root = std::filesystem::path(dir.Path()) / "results";
    std::filesystem::create_directories(root / "sub" / "deep");
    std::filesystem::create_directories(root / "empty");
    const std::map<std::string, std::vector<uint8_t>> files = {
        {"a.txt", TextLikeBytes(5000, 1)},
        {"sub/b.log", TextLikeBytes(7000, 2)},
        {"sub/deep/c.bin", PseudoRandomBytes(3000, 3)},
        {"sub/deep/d.zip", PseudoRandomBytes(100, 4)},
    };
    for (const auto& f : files) {
        ASSERT_TRUE(WriteFileBytes((root / f.first).string(), f.second));
    }
    const std::string zip = dir.Join("pack.zip");
    HZIPARCHIVE h = CreateArchive(zip.c_str(), "pw");
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(KVXZIP_OK, CZipFolderPacker::AddDirectory(h, root.string(), std::string()));
    EXPECT_EQ(KVXZIP_OK, CloseArchive(h));

    const SArchive archive = ParseOrFail(ReadFileBytes(zip));
    std::vector<std::string> names;
    for (const SCentralRecord& e : archive.m_entries) {
        names.push_back(e.m_name);
        if (e.m_name.back() == '/') {
            continue;
        }
        std::vector<uint8_t> data;
        std::string error;
        ASSERT_TRUE(ExtractEntry(archive, e, "pw", data, error)) << error;
        EXPECT_TRUE(files.at(e.m_name) == data) << e.m_name;
    }
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ((std::vector<std::string>{"a.txt", "empty/", "sub/", "sub/b.log", "sub/deep/", "sub/deep/c.bin",
                                        "sub/deep/d.zip"}),
              sorted);
    auto indexOf = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_LT(indexOf("sub/"), indexOf("sub/b.log"));
    EXPECT_LT(indexOf("sub/"), indexOf("sub/deep/"));
    EXPECT_LT(indexOf("sub/deep/"), indexOf("sub/deep/c.bin"));
    EXPECT_LT(indexOf("sub/deep/"), indexOf("sub/deep/d.zip"));
}

TEST(ZipFolderPacker, StopsAtTheFirstFailingEntry)
{
    CTempDirectory dir;
    const std::filesystem::path root = std::filesystem::path(dir.Path()) / "tree";
    std::filesystem::create_directories(root);
    ASSERT_TRUE(WriteFileBytes((root / "a.txt").string(), Bytes("a")));
    ASSERT_TRUE(WriteFileBytes((root / "b.txt").string(), Bytes("b")));
    const std::string zip = dir.Join("pack.zip");
    HZIPARCHIVE h = CreateArchive(zip.c_str(), nullptr);
    ASSERT_NE(nullptr, h);
    h->m_pWriter->Close(); // every addition now fails with "ended"
    EXPECT_EQ(KVXZIP_ERR_ENDED, CZipFolderPacker::AddDirectory(h, root.string(), std::string()));
    EXPECT_EQ(KVXZIP_OK, CloseArchive(h));
}
