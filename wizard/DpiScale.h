// The form is designed in pixels at 96 DPI. On a screen with more dots per inch every position, size,
// font height and picture is scaled by the system DPI, so that the wizard keeps its proportions and
// its pictures are drawn sharp at their real size instead of being stretched by the system.
#pragma once

#include <windows.h>

namespace kvxui {

constexpr int KVXDIAG2_DESIGN_DPI = 96;

// The system DPI, read once per process: GetDpiForSystem where the system has it (looked up at run
// time, it is missing before Windows 10), else the screen's LOGPIXELSX.
int SystemDpi();

// A length at 96 DPI in pixels at the given DPI, rounded to the nearest pixel (negative lengths such
// as font heights keep their sign).
int ScaleForDpi(int value, int dpi);
// The same at the system DPI.
int Scale(int value);
// Pixels per design pixel at the system DPI.
float ScaleFactor();
// A rectangle given at 96 DPI. Its edges are scaled, not its size, so that controls that touch at
// 96 DPI still touch after rounding.
RECT ScaleRect(int x, int y, int width, int height);

} // namespace kvxui
