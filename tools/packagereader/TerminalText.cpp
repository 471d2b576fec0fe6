// The UTF-8 check is the strict one (no overlong forms, no surrogates): anything else is escaped.
#include "tools/packagereader/TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace {
void Hex(std::string& out, unsigned char c)
{
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", c);
    out += text;
}

// Length of the valid UTF-8 sequence at p (1 to 4), or 0.
size_t SequenceLength(const unsigned char* p, size_t left)
{
    const unsigned char c = p[0];
    size_t n = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (left < n) {
        return 0;
    }
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0x80 && cp <= 0x9F)) {
        return 0;
    }
    return n;
}
} // namespace

std::string CTerminalText::Escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const size_t n = c >= 0x80 ? SequenceLength(p + i, text.size() - i) : 0;
        if (n == 0) {
            Hex(out, c);
            ++i;
            continue;
        }
        out.append(text.data() + i, n);
        i += n;
    }
    return out;
}
