// A tiny anti-aliased canvas for the wizard's own pictures (logo, header, step images). GDI draws
// shapes without anti-aliasing, which looks rough at 48 x 48; here every pixel is sampled 4 x 4 times.
#pragma once

#include "wizard/GuiHandles.h"

#include <windows.h>

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
    CIconCanvas(int width, int height);

    int Width() const { return m_width; }
    int Height() const { return m_height; }

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

    // A 32-bit top-down DIB with premultiplied alpha, as image lists and AlphaBlend want it.
    kvx::UniqueBitmap ToBitmap() const;

private:
    template <typename TInside, typename TColor>
    void Fill(float left, float top, float right, float bottom, TInside inside, TColor colorAt);
    void Blend(int x, int y, const SColor& color, float coverage);

    int m_width;
    int m_height;
    std::vector<SColor> m_pixels; // premultiplied
};

} // namespace kvxui
