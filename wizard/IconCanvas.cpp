// Shapes are described by an "inside" test; coverage is the share of 16 sample points inside, which
// gives smooth edges without a real rasteriser. The pictures are tiny, so the cost does not matter.
// The public drawing calls take design units and scale them here, once, before rasterising.
#include "wizard/IconCanvas.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kvxui {

namespace {

constexpr int KVX_SAMPLES = 4; // per axis

float Clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

float SegmentDistance(float px, float py, float x0, float y0, float x1, float y1)
{
    const float dx = x1 - x0;
    const float dy = y1 - y0;
    const float lengthSquared = dx * dx + dy * dy;
    float t = 0.0f;
    if (lengthSquared > 0.0f) {
        t = Clamp01(((px - x0) * dx + (py - y0) * dy) / lengthSquared);
    }
    const float cx = x0 + t * dx - px;
    const float cy = y0 + t * dy - py;
    return std::sqrt(cx * cx + cy * cy);
}

bool InsidePolygon(const std::vector<SPoint>& points, float x, float y)
{
    bool inside = false;
    const size_t n = points.size();
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const SPoint& a = points[i];
        const SPoint& b = points[j];
        if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) {
            inside = !inside;
        }
    }
    return inside;
}

void Bounds(const std::vector<SPoint>& points, float& left, float& top, float& right, float& bottom)
{
    left = top = 1e9f;
    right = bottom = -1e9f;
    for (const SPoint& p : points) {
        left = std::min(left, p.x);
        top = std::min(top, p.y);
        right = std::max(right, p.x);
        bottom = std::max(bottom, p.y);
    }
}

} // namespace

SColor Rgb(int r, int g, int b, float a) { return SColor{r / 255.0f, g / 255.0f, b / 255.0f, a}; }

SColor Mix(const SColor& from, const SColor& to, float t)
{
    t = Clamp01(t);
    return SColor{from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t,
                  from.a + (to.a - from.a) * t};
}

CIconCanvas::CIconCanvas(int width, int height, float scale)
    : m_width(width), m_height(height), m_scale(scale > 0.0f ? scale : 1.0f),
      m_pixels(static_cast<size_t>(width) * height, SColor{0, 0, 0, 0})
{
}

std::vector<SPoint> CIconCanvas::Scaled(const std::vector<SPoint>& points) const
{
    std::vector<SPoint> out;
    out.reserve(points.size());
    for (const SPoint& p : points) {
        out.push_back({p.x * m_scale, p.y * m_scale});
    }
    return out;
}

void CIconCanvas::Clear(const SColor& color)
{
    const SColor premultiplied{color.r * color.a, color.g * color.a, color.b * color.a, color.a};
    std::fill(m_pixels.begin(), m_pixels.end(), premultiplied);
}

void CIconCanvas::VerticalGradient(const SColor& top, const SColor& bottom)
{
    for (int y = 0; y < m_height; ++y) {
        const SColor c = Mix(top, bottom, m_height > 1 ? static_cast<float>(y) / (m_height - 1) : 0.0f);
        for (int x = 0; x < m_width; ++x) {
            m_pixels[static_cast<size_t>(y) * m_width + x] = SColor{c.r * c.a, c.g * c.a, c.b * c.a, c.a};
        }
    }
}

void CIconCanvas::HorizontalGradient(const SColor& left, const SColor& right)
{
    for (int x = 0; x < m_width; ++x) {
        const SColor c = Mix(left, right, m_width > 1 ? static_cast<float>(x) / (m_width - 1) : 0.0f);
        for (int y = 0; y < m_height; ++y) {
            m_pixels[static_cast<size_t>(y) * m_width + x] = SColor{c.r * c.a, c.g * c.a, c.b * c.a, c.a};
        }
    }
}

void CIconCanvas::Blend(int x, int y, const SColor& color, float coverage)
{
    const float a = color.a * coverage;
    if (a <= 0.0f) {
        return;
    }
    SColor& d = m_pixels[static_cast<size_t>(y) * m_width + x];
    d.r = color.r * a + d.r * (1.0f - a);
    d.g = color.g * a + d.g * (1.0f - a);
    d.b = color.b * a + d.b * (1.0f - a);
    d.a = a + d.a * (1.0f - a);
}

template <typename TInside, typename TColor>
void CIconCanvas::Fill(float left, float top, float right, float bottom, TInside inside, TColor colorAt)
{
    const int x0 = std::max(0, static_cast<int>(std::floor(left)) - 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(top)) - 1);
    const int x1 = std::min(m_width - 1, static_cast<int>(std::ceil(right)) + 1);
    const int y1 = std::min(m_height - 1, static_cast<int>(std::ceil(bottom)) + 1);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            int hits = 0;
            for (int sy = 0; sy < KVX_SAMPLES; ++sy) {
                for (int sx = 0; sx < KVX_SAMPLES; ++sx) {
                    const float px = x + (sx + 0.5f) / KVX_SAMPLES;
                    const float py = y + (sy + 0.5f) / KVX_SAMPLES;
                    if (inside(px, py)) {
                        ++hits;
                    }
                }
            }
            if (hits > 0) {
                Blend(x, y, colorAt(x + 0.5f, y + 0.5f), static_cast<float>(hits) / (KVX_SAMPLES * KVX_SAMPLES));
            }
        }
    }
}

void CIconCanvas::FillCircle(float cx, float cy, float radius, const SColor& color)
{
    cx *= m_scale;
    cy *= m_scale;
    radius *= m_scale;
    Fill(cx - radius, cy - radius, cx + radius, cy + radius,
         [=](float x, float y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius; },
         [=](float, float) { return color; });
}

void CIconCanvas::FillCircleGradient(float cx, float cy, float radius, const SColor& top, const SColor& bottom)
{
    cx *= m_scale;
    cy *= m_scale;
    radius *= m_scale;
    Fill(cx - radius, cy - radius, cx + radius, cy + radius,
         [=](float x, float y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius; },
         [=](float, float y) { return Mix(top, bottom, (y - (cy - radius)) / (2.0f * radius)); });
}

void CIconCanvas::FillRing(float cx, float cy, float outer, float inner, const SColor& color)
{
    cx *= m_scale;
    cy *= m_scale;
    outer *= m_scale;
    inner *= m_scale;
    Fill(cx - outer, cy - outer, cx + outer, cy + outer,
         [=](float x, float y) {
             const float d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
             return d <= outer * outer && d >= inner * inner;
         },
         [=](float, float) { return color; });
}

void CIconCanvas::FillRoundRect(float left, float top, float right, float bottom, float radius, const SColor& color)
{
    left *= m_scale;
    top *= m_scale;
    right *= m_scale;
    bottom *= m_scale;
    radius *= m_scale;
    Fill(left, top, right, bottom,
         [=](float x, float y) {
             if (x < left || x > right || y < top || y > bottom) {
                 return false;
             }
             const float nx = std::min(std::max(x, left + radius), right - radius);
             const float ny = std::min(std::max(y, top + radius), bottom - radius);
             return (x - nx) * (x - nx) + (y - ny) * (y - ny) <= radius * radius;
         },
         [=](float, float) { return color; });
}

void CIconCanvas::StrokeLine(float x0, float y0, float x1, float y1, float width, const SColor& color)
{
    x0 *= m_scale;
    y0 *= m_scale;
    x1 *= m_scale;
    y1 *= m_scale;
    const float half = width * m_scale / 2.0f;
    Fill(std::min(x0, x1) - half, std::min(y0, y1) - half, std::max(x0, x1) + half, std::max(y0, y1) + half,
         [=](float x, float y) { return SegmentDistance(x, y, x0, y0, x1, y1) <= half; },
         [=](float, float) { return color; });
}

void CIconCanvas::StrokePolyline(const std::vector<SPoint>& designPoints, float width, const SColor& color)
{
    if (designPoints.size() < 2) {
        return;
    }
    const std::vector<SPoint> points = Scaled(designPoints);
    // One pass over the union of the segments, so that joints are not blended twice.
    float left, top, right, bottom;
    Bounds(points, left, top, right, bottom);
    const float half = width * m_scale / 2.0f;
    Fill(left - half, top - half, right + half, bottom + half,
         [&points, half](float x, float y) {
             for (size_t i = 1; i < points.size(); ++i) {
                 if (SegmentDistance(x, y, points[i - 1].x, points[i - 1].y, points[i].x, points[i].y) <= half) {
                     return true;
                 }
             }
             return false;
         },
         [=](float, float) { return color; });
}

void CIconCanvas::FillPolygon(const std::vector<SPoint>& points, const SColor& color)
{
    FillPolygonGradient(points, color, color);
}

void CIconCanvas::FillPolygonGradient(const std::vector<SPoint>& designPoints, const SColor& top,
                                      const SColor& bottom)
{
    if (designPoints.size() < 3) {
        return;
    }
    const std::vector<SPoint> points = Scaled(designPoints);
    float left, topEdge, right, bottomEdge;
    Bounds(points, left, topEdge, right, bottomEdge);
    const float height = std::max(1.0f, bottomEdge - topEdge);
    Fill(left, topEdge, right, bottomEdge, [&points](float x, float y) { return InsidePolygon(points, x, y); },
         [=](float, float y) { return Mix(top, bottom, (y - topEdge) / height); });
}

CIconCanvas CIconCanvas::Greyed() const
{
    CIconCanvas grey(m_width, m_height, m_scale);
    for (size_t i = 0; i < m_pixels.size(); ++i) {
        const SColor& p = m_pixels[i];
        // Luminance of the premultiplied colour, pulled towards a light grey so that the current step's
        // colour stands out; alpha is kept.
        const float luminance = 0.299f * p.r + 0.587f * p.g + 0.114f * p.b;
        const float lighter = luminance * 0.45f + 0.5f * p.a;
        grey.m_pixels[i] = SColor{lighter, lighter, lighter, p.a};
    }
    return grey;
}

void CIconCanvas::PixelBgra(int x, int y, unsigned char out[4]) const
{
    const SColor& p = m_pixels[static_cast<size_t>(y) * m_width + x];
    out[0] = static_cast<unsigned char>(std::lround(Clamp01(p.b) * 255.0f));
    out[1] = static_cast<unsigned char>(std::lround(Clamp01(p.g) * 255.0f));
    out[2] = static_cast<unsigned char>(std::lround(Clamp01(p.r) * 255.0f));
    out[3] = static_cast<unsigned char>(std::lround(Clamp01(p.a) * 255.0f));
}

#ifdef _WIN32
kvx::UniqueBitmap CIconCanvas::ToBitmap() const
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = m_width;
    info.bmiHeader.biHeight = -m_height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    kvx::UniqueBitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || bits == nullptr) {
        return kvx::UniqueBitmap();
    }
    auto* out = static_cast<BYTE*>(bits);
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            PixelBgra(x, y, out + (static_cast<size_t>(y) * m_width + x) * 4);
        }
    }
    ::GdiFlush();
    return bitmap;
}
#endif

} // namespace kvxui
