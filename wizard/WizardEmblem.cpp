// Drawing of the emblem and of the application icon.
#include "wizard/WizardEmblem.h"

#include <cmath>
#include <vector>

namespace kvxui {

namespace {

// A shield outline: straight shoulders, sides that curve into a point at the bottom.
std::vector<SPoint> ShieldOutline(float cx, float top, float width, float height)
{
    std::vector<SPoint> points;
    const float half = width / 2.0f;
    const float shoulder = top + height * 0.10f;
    const float side = top + height * 0.52f;
    // Top edge, slightly raised in the middle.
    for (int i = 0; i <= 8; ++i) {
        const float t = i / 8.0f;
        const float x = cx - half + width * t;
        const float lift = std::sin(t * 3.14159265f) * height * 0.07f;
        points.push_back({x, shoulder - lift});
    }
    // Right side, then a quadratic curve to the point.
    points.push_back({cx + half, side});
    for (int i = 1; i <= 12; ++i) {
        const float t = i / 12.0f;
        const float x0 = cx + half, y0 = side;
        const float xc = cx + half, yc = top + height * 0.86f;
        const float x1 = cx, y1 = top + height;
        const float u = 1.0f - t;
        points.push_back({u * u * x0 + 2 * u * t * xc + t * t * x1, u * u * y0 + 2 * u * t * yc + t * t * y1});
    }
    for (int i = 1; i <= 12; ++i) {
        const float t = i / 12.0f;
        const float x0 = cx, y0 = top + height;
        const float xc = cx - half, yc = top + height * 0.86f;
        const float x1 = cx - half, y1 = side;
        const float u = 1.0f - t;
        points.push_back({u * u * x0 + 2 * u * t * xc + t * t * x1, u * u * y0 + 2 * u * t * yc + t * t * y1});
    }
    return points;
}

std::vector<SPoint> Scaled(const std::vector<SPoint>& points, float cx, float cy, float factor)
{
    std::vector<SPoint> out;
    out.reserve(points.size());
    for (const SPoint& p : points) {
        out.push_back({cx + (p.x - cx) * factor, cy + (p.y - cy) * factor});
    }
    return out;
}

void DrawEmblemWithLine(CIconCanvas& canvas, float cx, float top, float size, float lineWidth)
{
    const float width = size * 0.84f;
    const std::vector<SPoint> outer = ShieldOutline(cx, top, width, size);
    const float cy = top + size * 0.5f;
    canvas.FillPolygon(outer, Rgb(255, 255, 255, 0.95f));
    canvas.FillPolygonGradient(Scaled(outer, cx, cy, 0.86f), Rgb(64, 140, 235), Rgb(18, 60, 160));
    // The pulse line: flat, a sharp rise and fall, flat again.
    const float u = size / 100.0f;
    const float base = top + size * 0.48f;
    const std::vector<SPoint> pulse = {
        {cx - 30 * u, base},        {cx - 14 * u, base}, {cx - 8 * u, base - 16 * u}, {cx + 0 * u, base + 20 * u},
        {cx + 7 * u, base - 8 * u}, {cx + 12 * u, base}, {cx + 30 * u, base},
    };
    canvas.StrokePolyline(pulse, lineWidth, Rgb(255, 255, 255));
}

} // namespace

void DrawEmblem(CIconCanvas& canvas, float cx, float top, float size)
{
    DrawEmblemWithLine(canvas, cx, top, size, 6.5f * size / 100.0f);
}

void DrawApplicationIcon(CIconCanvas& canvas, int size)
{
    const float s = static_cast<float>(size);
    if (size < 24) {
        // Below 24 pixels a tile leaves the emblem too small, and the pulse line of the normal weight
        // would be thinner than a pixel; a line of about a pixel keeps the spike readable.
        DrawEmblemWithLine(canvas, s / 2.0f, 0.0f, s, 1.25f);
        return;
    }
    // The navy tile of the side logo with its glow, rounded like the system's own icons.
    const float margin = s / 32.0f;
    canvas.FillRoundRect(margin, margin, s - margin, s - margin, s * 0.18f, Rgb(0, 0, 128));
    canvas.FillCircle(s / 2.0f, s / 2.0f, s * 0.40f, Rgb(40, 70, 190, 0.35f));
    canvas.FillCircle(s / 2.0f, s / 2.0f, s * 0.31f, Rgb(60, 100, 220, 0.30f));
    const float emblem = s * 0.74f;
    DrawEmblem(canvas, s / 2.0f, (s - emblem) / 2.0f, emblem);
}

} // namespace kvxui
