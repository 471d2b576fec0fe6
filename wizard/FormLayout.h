// Where every control of the main form sits. Page controls are placed in page coordinates; the frame
// panels are placed by the form itself, because their sizes change from page to page.
#pragma once

#include "wizard/FormToolkit.h"
#include "wizard/WizardControls.h"

#include <cstddef>

namespace kvxui {

// The fixed frame of the form, in pixels at 96 DPI.
constexpr int KVXDIAG2_CLIENT_WIDTH = 626;
constexpr int KVXDIAG2_CLIENT_HEIGHT = 368;
constexpr int KVXDIAG2_TOP_HEIGHT = 65;
constexpr int KVXDIAG2_LEFT_WIDTH = 121;
constexpr int KVXDIAG2_LEFT_WIDTH_FINAL = 200;
constexpr int KVXDIAG2_BOTTOM_HEIGHT = 52;

// Parent of a row: 0 for the form, a page (KVXDIAG2_PAGE_ID_BASE + index), or a control id.
constexpr int KVXDIAG2_PARENT_FORM = 0;
constexpr int Page(int index) { return KVXDIAG2_PAGE_ID_BASE + index; }

struct SControlLayout {
    int id;
    int parent;
    EControlKind kind;
    int x, y, width, height;
    DWORD style; // extra window style
};

// The rows in creation order, which is also the tab order within each parent.
const SControlLayout* FormLayout(size_t& count);

} // namespace kvxui
