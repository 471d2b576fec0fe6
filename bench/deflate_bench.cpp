// Side-by-side benchmark on a corpus folder: this code base's deflate encoder against zlib's raw
// deflate at level 8 and libdeflate at level 8, per file and in total, plus CRC-32 throughput.
// Every file compressed by our encoder is inflated back with zlib and compared before it counts.
//   kvx_deflate_bench [-r RUNS] [-q] CORPUS_DIR
// Times are thread CPU times (the median of RUNS interleaved runs), so that other processes on a
// shared machine disturb them less than wall-clock times would.
#include "core/archive/Crc32.h"
#include "core/archive/DeflateEncoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

class CMemoryReader : public IByteSource {
public:
    CMemoryReader(const std::vector<uint8_t>& data) : m_data(data) {}
    bool Read(void* pBuffer, size_t cb, size_t& cbRead) override
    {
        cbRead = std::min(cb, m_data.size() - m_offset);
        std::memcpy(pBuffer, m_data.data() + m_offset, cbRead);
        m_offset += cbRead;
        return true;
    }

private:
    const std::vector<uint8_t>& m_data;
    size_t m_offset = 0;
};

class CMemoryWriter : public IByteSink {
public:
    bool Write(const void* pData, size_t cb) override
    {
        const uint8_t* p = static_cast<const uint8_t*>(pData);
        m_data.insert(m_data.end(), p, p + cb);
        return true;
    }
    std::vector<uint8_t> m_data;
};

double ThreadSeconds()
{
    timespec ts = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void ListFiles(const std::string& dir, const std::string& rel, std::vector<std::string>& out)
{
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") {
            names.push_back(n);
        }
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        struct stat st = {};
        const std::string path = dir + "/" + n;
        if (stat(path.c_str(), &st) != 0) {
            continue;
        }
        const std::string r = rel.empty() ? n : rel + "/" + n;
        if (S_ISDIR(st.st_mode)) {
            ListFiles(path, r, out);
        } else if (S_ISREG(st.st_mode) && n != "MANIFEST.sha256") {
            out.push_back(r);
        }
    }
}

size_t ZlibDeflate(const std::vector<uint8_t>& in, std::vector<uint8_t>& out)
{
    z_stream s = {};
    deflateInit2(&s, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    out.resize(deflateBound(&s, in.size()) + 64);
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    const size_t n = s.total_out;
    deflateEnd(&s);
    return n;
}

bool InflatesTo(const std::vector<uint8_t>& compressed, const std::vector<uint8_t>& original)
{
    z_stream s = {};
    inflateInit2(&s, -15);
    std::vector<uint8_t> out(original.size() + 1);
    s.next_in = const_cast<Bytef*>(compressed.data());
    s.avail_in = static_cast<uInt>(compressed.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&s, Z_FINISH);
    const bool ok = rc == Z_STREAM_END && s.total_out == original.size() && s.avail_in == 0 &&
                    std::memcmp(out.data(), original.data(), original.size()) == 0;
    inflateEnd(&s);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    bool quiet = false;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; ++arg) {
        if (std::strcmp(argv[arg], "-r") == 0 && arg + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++arg]));
        } else if (std::strcmp(argv[arg], "-q") == 0) {
            quiet = true;
        }
    }
    if (arg + 1 != argc) {
        std::fprintf(stderr, "usage: kvx_deflate_bench [-r RUNS] [-q] CORPUS_DIR\n");
        return 2;
    }
    const std::string root = argv[arg];
    std::vector<std::string> files;
    ListFiles(root, "", files);
    if (files.empty()) {
        std::fprintf(stderr, "no files under %s\n", root.c_str());
        return 2;
    }

    CDeflateEncoder encoder;
    libdeflate_compressor* ld = libdeflate_alloc_compressor(8);
    uint64_t totalIn = 0, totalOurs = 0, totalZlib = 0, totalLd = 0;
    double timeOurs = 0, timeZlib = 0, timeLd = 0;
    double worstRatio = 0;
    std::string worstFile;
    int failures = 0;
    if (!quiet) {
        std::printf("%-34s %11s %11s %11s %11s %8s %7s %7s %7s\n", "file", "bytes", "ours", "zlib-8", "libdefl-8",
                    "vs zlib", "MB/s", "zMB/s", "ldMB/s");
    }
    for (const std::string& rel : files) {
        std::ifstream f(root + "/" + rel, std::ios::binary);
        const std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        std::vector<double> tOurs, tZlib, tLd;
        size_t ours = 0, zl = 0, ldSize = 0;
        std::vector<uint8_t> zout;
        std::vector<uint8_t> ldout(libdeflate_deflate_compress_bound(ld, data.size()));
        CMemoryWriter lastOurs;
        for (int r = 0; r < runs; ++r) {
            CMemoryReader reader(data);
            CMemoryWriter writer;
            writer.m_data.reserve(data.size() / 2 + 1024);
            double t0 = ThreadSeconds();
            const EDeflateStatus st = encoder.Compress(reader, writer);
            double t1 = ThreadSeconds();
            tOurs.push_back(t1 - t0);
            if (st != eDeflateStatus_OK) {
                std::fprintf(stderr, "%s: encoder status %d\n", rel.c_str(), static_cast<int>(st));
                ++failures;
            }
            ours = writer.m_data.size();
            if (r == 0) {
                lastOurs.m_data.swap(writer.m_data);
            }
            t0 = ThreadSeconds();
            zl = ZlibDeflate(data, zout);
            t1 = ThreadSeconds();
            tZlib.push_back(t1 - t0);
            t0 = ThreadSeconds();
            ldSize = libdeflate_deflate_compress(ld, data.data(), data.size(), ldout.data(), ldout.size());
            t1 = ThreadSeconds();
            tLd.push_back(t1 - t0);
        }
        if (!InflatesTo(lastOurs.m_data, data)) {
            std::fprintf(stderr, "%s: round trip through zlib inflate FAILED\n", rel.c_str());
            ++failures;
        }
        const double mo = Median(tOurs), mz = Median(tZlib), ml = Median(tLd);
        totalIn += data.size();
        totalOurs += ours;
        totalZlib += zl;
        totalLd += ldSize;
        timeOurs += mo;
        timeZlib += mz;
        timeLd += ml;
        const double ratio = zl ? 100.0 * (static_cast<double>(ours) / zl - 1.0) : 0.0;
        if (ratio > worstRatio || worstFile.empty()) {
            worstRatio = ratio;
            worstFile = rel;
        }
        if (!quiet) {
            std::printf("%-34s %11zu %11zu %11zu %11zu %+7.3f%% %7.1f %7.1f %7.1f\n", rel.c_str(), data.size(), ours, zl,
                        ldSize, ratio, data.size() / 1e6 / mo, data.size() / 1e6 / mz, data.size() / 1e6 / ml);
        }
    }
    libdeflate_free_compressor(ld);

    std::printf("\n%-26s %14s %9s %9s %8s\n", "codec", "total bytes", "% input", "MB/s", "speed");
    auto row = [&](const char* name, uint64_t bytes, double secs) {
        std::printf("%-26s %14llu %8.2f%% %9.1f %7.2fx\n", name, static_cast<unsigned long long>(bytes),
                    100.0 * bytes / totalIn, totalIn / 1e6 / secs, timeZlib / secs);
    };
    std::printf("input: %llu bytes in %zu files, median of %d runs\n", static_cast<unsigned long long>(totalIn),
                files.size(), runs);
    row("kvx deflate (level 8)", totalOurs, timeOurs);
    row("zlib raw deflate level 8", totalZlib, timeZlib);
    row("libdeflate level 8", totalLd, timeLd);
    std::printf("largest per-file excess over zlib-8: %+.3f%% (%s)\n", worstRatio, worstFile.c_str());

    // CRC-32 throughput on a cache-resident 1 MiB buffer.
    std::vector<uint8_t> buffer(1 << 20);
    for (size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    }
    const int crcReps = 2000;
    auto crcRate = [&](auto fn) {
        std::vector<double> t;
        uint32_t c = 0;
        for (int r = 0; r < 5; ++r) {
            const double t0 = ThreadSeconds();
            for (int i = 0; i < crcReps; ++i) {
                c = fn(c, buffer.data(), buffer.size());
            }
            t.push_back(ThreadSeconds() - t0);
        }
        if (c == 0x12345678) {
            std::printf(" ");
        }
        return buffer.size() * static_cast<double>(crcReps) / 1e6 / Median(t);
    };
    const double crcOurs = crcRate([](uint32_t c, const uint8_t* p, size_t n) { return CCrc32::Update(c, p, n); });
    const double crcTables =
        crcRate([](uint32_t c, const uint8_t* p, size_t n) { return CCrc32::UpdateTables(c, p, n); });
    const double crcZlib = crcRate([](uint32_t c, const uint8_t* p, size_t n) {
        return static_cast<uint32_t>(crc32(c, p, static_cast<uInt>(n)));
    });
    const double crcLd = crcRate([](uint32_t c, const uint8_t* p, size_t n) { return libdeflate_crc32(c, p, n); });
    std::printf("CRC-32 MB/s: kvx %.0f (%s), kvx tables %.0f, zlib %.0f, libdeflate %.0f\n", crcOurs,
                CCrc32::HasWideCarrylessMultiply() ? "256-bit carry-less"
                : CCrc32::HasCarrylessMultiply()   ? "128-bit carry-less"
                                                   : "tables",
                crcTables, crcZlib, crcLd);
    return failures == 0 ? 0 : 1;
}
