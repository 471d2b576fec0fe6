// The wizard's pictures, drawn at start from code: the side logo, the header band and the images of
// the five steps in colour and in grey. Nothing is loaded from files.
#pragma once

#include "wizard/GuiHandles.h"

#include <windows.h>

namespace kvxui {

// Sizes in design pixels (96 DPI); the pictures themselves are made at the system DPI's size.
constexpr int KVXDIAG2_STEP_IMAGE_SIZE = 48;
constexpr int KVXDIAG2_STEP_COUNT = 5;
constexpr int KVXDIAG2_LOGO_WIDTH = 164;
constexpr int KVXDIAG2_LOGO_HEIGHT = 314;

// Fills both image lists with the five step images (index 0 = initial check ... 4 = send to Orvex).
bool CreateStepImageLists(kvx::UniqueImageList& colour, kvx::UniqueImageList& grey);

// The side logo: an opaque picture on the navy of the welcome and final pages.
kvx::UniqueBitmap CreateLogoBitmap(HFONT titleFont, HFONT textFont);

// The header band, opaque, at the given size in pixels.
kvx::UniqueBitmap CreateHeaderBitmap(int width, int height, HFONT titleFont, HFONT textFont);

} // namespace kvxui
