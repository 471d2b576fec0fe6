// Drawing of the logo, the header band and the step images. The emblem is shared by the logo, the
// header and the application icon. Everything is drawn at the system DPI's pixel size, from the same
// design coordinates, so that the pictures stay sharp where the form is scaled.
#include "wizard/WizardImages.h"

#include "wizard/DpiScale.h"
#include "wizard/IconCanvas.h"
#include "wizard/WizardEmblem.h"

#include <cmath>
#include <vector>

namespace kvxui {

namespace {

const SColor kWhite = Rgb(255, 255, 255);
const SColor kNavy = Rgb(0, 0, 128);

// A step image's canvas: 48 design units square, at the system DPI's pixel size.
CIconCanvas StepCanvas()
{
    const int pixels = Scale(KVXDIAG2_STEP_IMAGE_SIZE);
    return CIconCanvas(pixels, pixels, static_cast<float>(pixels) / KVXDIAG2_STEP_IMAGE_SIZE);
}

// The coloured disc every step image sits on.
void DrawDisc(CIconCanvas& canvas, const SColor& base)
{
    canvas.FillCircle(24.0f, 25.2f, 22.0f, Rgb(0, 0, 0, 0.18f));
    canvas.FillCircleGradient(24.0f, 24.0f, 21.5f, Mix(base, kWhite, 0.28f), Mix(base, Rgb(0, 0, 0), 0.18f));
}

CIconCanvas StepInitialCheck()
{
    CIconCanvas canvas = StepCanvas();
    DrawDisc(canvas, Rgb(46, 158, 79));
    canvas.StrokePolyline({{14.0f, 24.5f}, {21.0f, 31.5f}, {34.0f, 17.0f}}, 5.0f, kWhite);
    return canvas;
}

CIconCanvas StepDataObtain()
{
    CIconCanvas canvas = StepCanvas();
    DrawDisc(canvas, Rgb(47, 111, 208));
    canvas.FillRing(21.0f, 21.0f, 10.5f, 6.5f, kWhite);
    canvas.StrokeLine(28.5f, 28.5f, 35.0f, 35.0f, 5.5f, kWhite);
    return canvas;
}

CIconCanvas StepBasicAnalysis()
{
    CIconCanvas canvas = StepCanvas();
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
    CIconCanvas canvas = StepCanvas();
    DrawDisc(canvas, Rgb(122, 79, 192));
    // Stacked layers: the top one filled, two below as outlines.
    canvas.StrokePolyline({{12.5f, 30.5f}, {24.0f, 37.0f}, {35.5f, 30.5f}}, 3.2f, kWhite);
    canvas.StrokePolyline({{12.5f, 24.5f}, {24.0f, 31.0f}, {35.5f, 24.5f}}, 3.2f, kWhite);
    canvas.FillPolygon({{24.0f, 10.5f}, {36.0f, 17.5f}, {24.0f, 24.5f}, {12.0f, 17.5f}}, kWhite);
    return canvas;
}

CIconCanvas StepSendToOrvex()
{
    CIconCanvas canvas = StepCanvas();
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
    const int pixels = Scale(KVXDIAG2_STEP_IMAGE_SIZE);
    colour.reset(::ImageList_Create(pixels, pixels, ILC_COLOR32, KVXDIAG2_STEP_COUNT, 0));
    grey.reset(::ImageList_Create(pixels, pixels, ILC_COLOR32, KVXDIAG2_STEP_COUNT, 0));
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
    CIconCanvas canvas(Scale(KVXDIAG2_LOGO_WIDTH), Scale(KVXDIAG2_LOGO_HEIGHT), ScaleFactor());
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
        DrawTextOn(dc.get(), titleFont, RGB(255, 255, 255), L"KVXDiag2", ScaleRect(0, 184, KVXDIAG2_LOGO_WIDTH, 28),
                   DT_CENTER | DT_VCENTER);
        DrawTextOn(dc.get(), textFont, RGB(176, 196, 255), L"Orvex Network Manager",
                   ScaleRect(0, 210, KVXDIAG2_LOGO_WIDTH, 18), DT_CENTER | DT_VCENTER);
        DrawTextOn(dc.get(), textFont, RGB(140, 160, 220), L"Orvex Security",
                   ScaleRect(0, KVXDIAG2_LOGO_HEIGHT - 30, KVXDIAG2_LOGO_WIDTH, 18), DT_CENTER | DT_VCENTER);
        ::GdiFlush();
    }
    return bitmap;
}

kvx::UniqueBitmap CreateHeaderBitmap(int width, int height, HFONT titleFont, HFONT textFont)
{
    if (width <= 0 || height <= 0) {
        return kvx::UniqueBitmap();
    }
    // The band is drawn in pixels: its size is the control's, which the form has already scaled.
    CIconCanvas canvas(width, height);
    const float factor = ScaleFactor();
    canvas.HorizontalGradient(Rgb(255, 255, 255), Rgb(214, 226, 246));
    canvas.StrokeLine(0.0f, height - 1.5f * factor, static_cast<float>(width), height - 1.5f * factor, 2.0f * factor,
                      kNavy);
    const float emblemSize = height - 14.0f * factor;
    DrawEmblem(canvas, width - 16.0f * factor - emblemSize * 0.42f, 6.0f * factor, emblemSize);

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
        DrawTextOn(dc.get(), titleFont, RGB(0, 0, 128), L"KVXDiag2",
                   RECT{Scale(16), Scale(10), width - Scale(80), Scale(36)}, DT_LEFT | DT_VCENTER);
        DrawTextOn(dc.get(), textFont, RGB(60, 70, 110), L"Orvex Network Manager",
                   RECT{Scale(16), Scale(36), width - Scale(80), Scale(54)}, DT_LEFT | DT_VCENTER);
        ::GdiFlush();
    }
    return bitmap;
}

} // namespace kvxui
