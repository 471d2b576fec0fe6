// The product emblem: a shield carrying a pulse line (the product protects, the wizard diagnoses).
// The side logo, the header band and the application icon all draw it, the icon from a host tool at
// build time, so this file needs nothing of Windows.
#pragma once

#include "wizard/IconCanvas.h"

namespace kvxui {

// The emblem centred on cx, from top down, size design units high (and 0.84 of that wide).
void DrawEmblem(CIconCanvas& canvas, float cx, float top, float size);

// The application icon at one of its sizes, on a canvas of size x size pixels with scale 1: the emblem
// on the navy tile of the side logo, or, at 16 pixels where a tile would leave no room, the emblem alone.
void DrawApplicationIcon(CIconCanvas& canvas, int size);

} // namespace kvxui
