// Drawing of the logo, the header band and the step images. The emblem (a shield carrying a pulse
// line: the product protects, the wizard diagnoses) is shared by the logo and the header.
#include "wizard/WizardImages.h"

#include "wizard/IconCanvas.h"

#include <cmath>
#include <vector>

namespace kvxui {

namespace {

const SColor kWhite = Rgb(255, 255, 255);
const SColor kNavy = Rgb(0, 0, 128);

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

void DrawEmblem(CIconCanvas& canvas, float cx, float top, float size)
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
        {cx - 30 * u, base},      {cx - 14 * u, base},      {cx - 8 * u, base - 16 * u}, {cx + 0 * u, base + 20 * u},
        {cx + 7 * u, base - 8 * u}, {cx + 12 * u, base},    {cx + 30 * u, base},
    };
    canvas.StrokePolyline(pulse, 6.5f * u, kWhite);
}

// The coloured disc every step image sits on.
void DrawDisc(CIconCanvas& canvas, const SColor& base)
{
    canvas.FillCircle(24.0f, 25.2f, 22.0f, Rgb(0, 0, 0, 0.18f));
    canvas.FillCircleGradient(24.0f, 24.0f, 21.5f, Mix(base, kWhite, 0.28f), Mix(base, Rgb(0, 0, 0), 0.18f));
}

CIconCanvas StepInitialCheck()
{
    CIconCanvas canvas(KVXDIAG2_STEP_IMAGE_SIZE, KVXDIAG2_STEP_IMAGE_SIZE);
    DrawDisc(canvas, Rgb(46, 158, 79));
    canvas.StrokePolyline({{14.0f, 24.5f}, {21.0f, 31.5f}, {34.0f, 17.0f}}, 5.0f, kWhite);
    return canvas;
}

CIconCanvas StepDataObtain()
{
    CIconCanvas canvas(KVXDIAG2_STEP_IMAGE_SIZE, KVXDIAG2_STEP_IMAGE_SIZE);
    DrawDisc(canvas, Rgb(47, 111, 208));
    canvas.FillRing(21.0f, 21.0f, 10.5f, 6.5f, kWhite);
    canvas.StrokeLine(28.5f, 28.5f, 35.0f, 35.0f, 5.5f, kWhite);
    return canvas;
}

CIconCanvas StepBasicAnalysis()
{
    CIconCanvas canvas(KVXDIAG2_STEP_IMAGE_SIZE, KVXDIAG2_STEP_IMAGE_SIZE);
    const SColor base = Rgb(224, 138, 30);
    DrawDisc(canvas, base);
    // A gear: eight teeth around a ring.
    for (int i = 0; i < 8; ++i) {
        const float angle = i * 3.14159265f / 4.0f;
        const float c = std::cos(angle);
        const float s = std::sin(angle);
        const float r0 = 8.0f;
        const float r1 = 14.5f;
        const float hw = 2.7f;
        canvas.FillPolygon({{24 + c * r0 - s * hw, 24 + s * r0 + c * hw},
                            {24 + c * r1 - s * hw, 24 + s * r1 + c * hw},
                            {24 + c * r1 + s * hw, 24 + s * r1 - c * hw},
                            {24 + c * r0 + s * hw, 24 + s * r0 - c * hw}},
                           kWhite);
    }
    canvas.FillCircle(24.0f, 24.0f, 10.5f, kWhite);
    canvas.FillCircle(24.0f, 24.0f, 4.5f, Mix(base, Rgb(0, 0, 0), 0.05f));
    return canvas;
}

CIconCanvas StepDeepAnalysis()
{
    CIconCanvas canvas(KVXDIAG2_STEP_IMAGE_SIZE, KVXDIAG2_STEP_IMAGE_SIZE);
    DrawDisc(canvas, Rgb(122, 79, 192));
    // Stacked layers: the top one filled, two below as outlines.
    canvas.StrokePolyline({{12.5f, 30.5f}, {24.0f, 37.0f}, {35.5f, 30.5f}}, 3.2f, kWhite);
    canvas.StrokePolyline({{12.5f, 24.5f}, {24.0f, 31.0f}, {35.5f, 24.5f}}, 3.2f, kWhite);
    canvas.FillPolygon({{24.0f, 10.5f}, {36.0f, 17.5f}, {24.0f, 24.5f}, {12.0f, 17.5f}}, kWhite);
    return canvas;
}

CIconCanvas StepSendToOrvex()
{
    CIconCanvas canvas(KVXDIAG2_STEP_IMAGE_SIZE, KVXDIAG2_STEP_IMAGE_SIZE);
    const SColor base = Rgb(19, 154, 154);
    DrawDisc(canvas, base);
    canvas.FillRoundRect(11.5f, 15.5f, 36.5f, 33.5f, 2.5f, kWhite);
    canvas.StrokePolyline({{12.5f, 17.0f}, {24.0f, 26.5f}, {35.5f, 17.0f}}, 2.6f, Mix(base, Rgb(0, 0, 0), 0.1f));
    return canvas;
}

// Draws a line of text on a bitmap, horizontally centred in [left, right) when centred is set.
void DrawTextOn(HDC hdc, HFONT font, COLORREF color, const wchar_t* text, RECT rc, UINT format)
{
    kvx::CSelectObject selectFont(hdc, font);
    ::SetBkMode(hdc, TRANSPARENT);
    ::SetTextColor(hdc, color);
    ::DrawTextW(hdc, text, -1, &rc, format | DT_NOPREFIX | DT_SINGLELINE);
}

} // namespace

bool CreateStepImageLists(kvx::UniqueImageList& colour, kvx::UniqueImageList& grey)
{
    colour.reset(::ImageList_Create(KVXDIAG2_STEP_IMAGE_SIZE, KVXDIAG2_STEP_IMAGE_SIZE, ILC_COLOR32,
                                    KVXDIAG2_STEP_COUNT, 0));
    grey.reset(::ImageList_Create(KVXDIAG2_STEP_IMAGE_SIZE, KVXDIAG2_STEP_IMAGE_SIZE, ILC_COLOR32,
                                  KVXDIAG2_STEP_COUNT, 0));
    if (!colour || !grey) {
        return false;
    }
    const CIconCanvas steps[KVXDIAG2_STEP_COUNT] = {StepInitialCheck(), StepDataObtain(), StepBasicAnalysis(),
                                                     StepDeepAnalysis(), StepSendToOrvex()};
    for (const CIconCanvas& step : steps) {
        // The image list copies the bitmaps; the owners free the originals.
        kvx::UniqueBitmap colourBitmap = step.ToBitmap();
        kvx::UniqueBitmap greyBitmap = step.Greyed().ToBitmap();
        if (!colourBitmap || !greyBitmap) {
            return false;
        }
        if (::ImageList_Add(colour.get(), colourBitmap.get(), nullptr) < 0 ||
            ::ImageList_Add(grey.get(), greyBitmap.get(), nullptr) < 0) {
            return false;
        }
    }
    return true;
}

kvx::UniqueBitmap CreateLogoBitmap(HFONT titleFont, HFONT textFont)
{
    CIconCanvas canvas(KVXDIAG2_LOGO_WIDTH, KVXDIAG2_LOGO_HEIGHT);
    canvas.Clear(kNavy);
    // A soft glow behind the emblem, and two thin rules framing the name.
    canvas.FillCircle(KVXDIAG2_LOGO_WIDTH / 2.0f, 92.0f, 64.0f, Rgb(40, 70, 190, 0.35f));
    canvas.FillCircle(KVXDIAG2_LOGO_WIDTH / 2.0f, 92.0f, 50.0f, Rgb(60, 100, 220, 0.30f));
    DrawEmblem(canvas, KVXDIAG2_LOGO_WIDTH / 2.0f, 44.0f, 96.0f);
    canvas.StrokeLine(24.0f, 176.0f, KVXDIAG2_LOGO_WIDTH - 24.0f, 176.0f, 1.0f, Rgb(120, 150, 230, 0.8f));
    canvas.StrokeLine(24.0f, 232.0f, KVXDIAG2_LOGO_WIDTH - 24.0f, 232.0f, 1.0f, Rgb(120, 150, 230, 0.8f));

    kvx::UniqueBitmap bitmap = canvas.ToBitmap();
    if (!bitmap) {
        return bitmap;
    }
    kvx::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    if (!dc) {
        return bitmap;
    }
    {
        kvx::CSelectObject selectBitmap(dc.get(), bitmap.get());
        DrawTextOn(dc.get(), titleFont, RGB(255, 255, 255), L"KVXDiag2", RECT{0, 184, KVXDIAG2_LOGO_WIDTH, 212},
                   DT_CENTER | DT_VCENTER);
        DrawTextOn(dc.get(), textFont, RGB(176, 196, 255), L"Orvex Network Manager",
                   RECT{0, 210, KVXDIAG2_LOGO_WIDTH, 228}, DT_CENTER | DT_VCENTER);
        DrawTextOn(dc.get(), textFont, RGB(140, 160, 220), L"Orvex Security",
                   RECT{0, KVXDIAG2_LOGO_HEIGHT - 30, KVXDIAG2_LOGO_WIDTH, KVXDIAG2_LOGO_HEIGHT - 12},
                   DT_CENTER | DT_VCENTER);
        ::GdiFlush();
    }
    return bitmap;
}

kvx::UniqueBitmap CreateHeaderBitmap(int width, int height, HFONT titleFont, HFONT textFont)
{
    if (width <= 0 || height <= 0) {
        return kvx::UniqueBitmap();
    }
    CIconCanvas canvas(width, height);
    canvas.HorizontalGradient(Rgb(255, 255, 255), Rgb(214, 226, 246));
    canvas.StrokeLine(0.0f, height - 1.5f, static_cast<float>(width), height - 1.5f, 2.0f, kNavy);
    const float emblemSize = height - 14.0f;
    DrawEmblem(canvas, width - 16.0f - emblemSize * 0.42f, 6.0f, emblemSize);

    kvx::UniqueBitmap bitmap = canvas.ToBitmap();
    if (!bitmap) {
        return bitmap;
    }
    kvx::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    if (!dc) {
        return bitmap;
    }
    {
        kvx::CSelectObject selectBitmap(dc.get(), bitmap.get());
        DrawTextOn(dc.get(), titleFont, RGB(0, 0, 128), L"KVXDiag2", RECT{16, 10, width - 80, 36}, DT_LEFT | DT_VCENTER);
        DrawTextOn(dc.get(), textFont, RGB(60, 70, 110), L"Orvex Network Manager", RECT{16, 36, width - 80, 54},
                   DT_LEFT | DT_VCENTER);
        ::GdiFlush();
    }
    return bitmap;
}

} // namespace kvxui
