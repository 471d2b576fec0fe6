// A tiny anti-aliased canvas for the wizard's own pictures (logo, header, step images) and for the
// application icon, which a host tool draws with the same code at build time. GDI draws shapes
// without anti-aliasing, which looks rough at 48 x 48; here every pixel is sampled 4 x 4 times.
// Only the conversion to a bitmap needs Windows.
#pragma once

#ifdef _WIN32
#include "wizard/GuiHandles.h"

#include <windows.h>
#endif

#include <vector>

namespace kvxui {

struct SColor {
    float r, g, b, a; // 0..1, straight (not premultiplied)
};

SColor Rgb(int r, int g, int b, float a = 1.0f);
SColor Mix(const SColor& from, const SColor& to, float t);

struct SPoint {
    float x, y;
};

class CIconCanvas {
public:
    // width and height in pixels. Shapes are given in design units that are multiplied by scale, so a
    // picture drawn for 48 x 48 comes out sharp on a 72 x 72 canvas with scale 1.5.
    CIconCanvas(int width, int height, float scale = 1.0f);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    float ScaleFactor() const { return m_scale; }

    void Clear(const SColor& color);
    void VerticalGradient(const SColor& top, const SColor& bottom);
    void HorizontalGradient(const SColor& left, const SColor& right);

    void FillCircle(float cx, float cy, float radius, const SColor& color);
    // A circle filled with a top-to-bottom gradient.
    void FillCircleGradient(float cx, float cy, float radius, const SColor& top, const SColor& bottom);
    void FillRing(float cx, float cy, float outer, float inner, const SColor& color);
    void FillRoundRect(float left, float top, float right, float bottom, float radius, const SColor& color);
    // A line with round ends.
    void StrokeLine(float x0, float y0, float x1, float y1, float width, const SColor& color);
    void StrokePolyline(const std::vector<SPoint>& points, float width, const SColor& color);
    void FillPolygon(const std::vector<SPoint>& points, const SColor& color);
    void FillPolygonGradient(const std::vector<SPoint>& points, const SColor& top, const SColor& bottom);

    // The same picture in grey, lighter, for a step that is not the current one.
    CIconCanvas Greyed() const;

    // One pixel as 8-bit premultiplied blue, green, red and alpha, the order of a 32-bit DIB.
    void PixelBgra(int x, int y, unsigned char out[4]) const;

#ifdef _WIN32
    // A 32-bit top-down DIB with premultiplied alpha, as image lists and AlphaBlend want it.
    kvx::UniqueBitmap ToBitmap() const;
#endif

private:
    template <typename TInside, typename TColor>
    void Fill(float left, float top, float right, float bottom, TInside inside, TColor colorAt);
    void Blend(int x, int y, const SColor& color, float coverage);
    std::vector<SPoint> Scaled(const std::vector<SPoint>& points) const;

    int m_width;
    int m_height;
    float m_scale;
    std::vector<SColor> m_pixels; // premultiplied
};

} // namespace kvxui
