// kvxicongen: draws the wizard's application icon with the wizard's own drawing code and writes it as
// a Windows icon file with the 16, 32, 48 and 256 pixel images. It runs on the build host (the icon is
// needed before the Windows resources are compiled), so it uses only the portable part of the canvas.
//
//   kvxicongen OUTPUT.ico [PREVIEW.png]    the optional PNG is the 256-pixel image, for people to look at
//
// The small images are 32-bit DIBs with an AND mask, as every Windows version reads them; the 256-pixel
// one is a PNG, as Windows Vista and later expect at that size (a DIB would be 260 KB instead of a few).
#include "core/archive/Crc32.h"
#include "core/archive/DeflateEncoder.h"
#include "wizard/IconCanvas.h"
#include "wizard/WizardEmblem.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void Put32BigEndian(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

// Straight (not premultiplied) blue, green, red, alpha: icons and PNG files keep colour and coverage
// apart, while the canvas keeps them multiplied.
void StraightBgra(const kvxui::CIconCanvas& canvas, int x, int y, uint8_t out[4])
{
    unsigned char p[4];
    canvas.PixelBgra(x, y, p);
    for (int i = 0; i < 3; ++i) {
        out[i] = p[3] == 0 ? 0 : static_cast<uint8_t>((p[i] * 255 + p[3] / 2) / p[3]);
    }
    out[3] = p[3];
}

// The icon image of the small sizes: BITMAPINFOHEADER with twice the height (colour and mask), the
// colour rows bottom-up, then the AND mask, 1 bit per pixel, rows padded to 32 bits.
Bytes DibImage(const kvxui::CIconCanvas& canvas)
{
    const int size = canvas.Width();
    Bytes out;
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(size));
    Put32(out, static_cast<uint32_t>(size * 2));
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, 0); // BI_RGB
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            uint8_t p[4];
            StraightBgra(canvas, x, y, p);
            out.insert(out.end(), p, p + 4);
        }
    }
    const int maskStride = ((size + 31) / 32) * 4;
    for (int y = size - 1; y >= 0; --y) {
        Bytes row(static_cast<size_t>(maskStride), 0);
        for (int x = 0; x < size; ++x) {
            uint8_t p[4];
            StraightBgra(canvas, x, y, p);
            if (p[3] == 0) {
                row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

class CMemorySource : public IByteSource {
public:
    explicit CMemorySource(const Bytes& data) : m_data(data) {}
    bool Read(void* pBuffer, size_t cb, size_t& cbRead) override
    {
        cbRead = std::min(cb, m_data.size() - m_offset);
        if (cbRead > 0) {
            std::memcpy(pBuffer, m_data.data() + m_offset, cbRead);
        }
        m_offset += cbRead;
        return true;
    }

private:
    const Bytes& m_data;
    size_t m_offset = 0;
};

class CMemorySink : public IByteSink {
public:
    bool Write(const void* pData, size_t cb) override
    {
        const auto* p = static_cast<const uint8_t*>(pData);
        m_data.insert(m_data.end(), p, p + cb);
        return true;
    }
    Bytes m_data;
};

uint32_t Adler32(const Bytes& data)
{
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void PngChunk(Bytes& out, const char* type, const Bytes& data)
{
    Put32BigEndian(out, static_cast<uint32_t>(data.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    Put32BigEndian(out, CCrc32::Update(0, typed.data(), typed.size()));
}

// An RGBA PNG: the zlib stream around the project's own deflate encoder.
bool PngImage(const kvxui::CIconCanvas& canvas, Bytes& png)
{
    const int width = canvas.Width();
    const int height = canvas.Height();
    Bytes raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // filter: none
        for (int x = 0; x < width; ++x) {
            uint8_t p[4];
            StraightBgra(canvas, x, y, p);
            raw.push_back(p[2]);
            raw.push_back(p[1]);
            raw.push_back(p[0]);
            raw.push_back(p[3]);
        }
    }
    CMemorySource source(raw);
    CMemorySink sink;
    CDeflateEncoder encoder;
    if (encoder.Compress(source, sink) != eDeflateStatus_OK) {
        return false;
    }
    Bytes zlib = {0x78, 0xDA};
    zlib.insert(zlib.end(), sink.m_data.begin(), sink.m_data.end());
    Put32BigEndian(zlib, Adler32(raw));

    png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    Put32BigEndian(header, static_cast<uint32_t>(width));
    Put32BigEndian(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA, deflate, no filter variants, no interlace
    PngChunk(png, "IHDR", header);
    PngChunk(png, "IDAT", zlib);
    PngChunk(png, "IEND", Bytes());
    return true;
}

bool WriteFile(const std::string& path, const Bytes& data)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: kvxicongen OUTPUT.ico [PREVIEW.png]\n");
        return 2;
    }
    const int sizes[] = {16, 32, 48, 256};
    std::vector<Bytes> images;
    Bytes preview;
    for (int size : sizes) {
        kvxui::CIconCanvas canvas(size, size);
        kvxui::DrawApplicationIcon(canvas, size);
        if (size < 256) {
            images.push_back(DibImage(canvas));
        } else {
            images.emplace_back();
            if (!PngImage(canvas, images.back())) {
                std::fprintf(stderr, "kvxicongen: the deflate encoder failed\n");
                return 1;
            }
            preview = images.back();
        }
    }

    // ICONDIR, one ICONDIRENTRY per image, then the images.
    Bytes ico;
    Put16(ico, 0);
    Put16(ico, 1);
    Put16(ico, static_cast<uint32_t>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const int size = sizes[i];
        ico.push_back(static_cast<uint8_t>(size >= 256 ? 0 : size)); // 0 means 256
        ico.push_back(static_cast<uint8_t>(size >= 256 ? 0 : size));
        ico.push_back(0); // no palette
        ico.push_back(0);
        Put16(ico, 1);  // planes
        Put16(ico, 32); // bits per pixel
        Put32(ico, static_cast<uint32_t>(images[i].size()));
        Put32(ico, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const Bytes& image : images) {
        ico.insert(ico.end(), image.begin(), image.end());
    }
    if (!WriteFile(argv[1], ico)) {
        std::fprintf(stderr, "kvxicongen: cannot write %s\n", argv[1]);
        return 1;
    }
    if (argc == 3 && !WriteFile(argv[2], preview)) {
        std::fprintf(stderr, "kvxicongen: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
