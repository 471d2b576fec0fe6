// The little form toolkit the wizard is built on: coloured panels that host controls and pass their
// notifications up to the form, the control kinds of the form's layout, fonts, and the message pump
// that long handlers use to keep the window alive.
#pragma once

#include "wizard/GuiHandles.h"

#include <windows.h>

#include <string>

namespace kvxui {

// Messages a panel sends to the top-level form.
constexpr UINT KVXDIAG2_WM_PANELCLICK = WM_APP + 0x0E01;  // wParam: the panel's id, left button released on it
constexpr UINT KVXDIAG2_WM_PANELCURSOR = WM_APP + 0x0E02; // wParam: the panel; result: an HCURSOR or 0

constexpr const wchar_t* KVXDIAG2_PANEL_CLASS = L"KVXDiag2Panel";

// Panel colours: either inherited from the parent panel or a fixed colour.
constexpr LONG_PTR KVXDIAG2_PANEL_INHERIT = 0;

bool RegisterPanelClass(HINSTANCE hInstance);
HWND CreatePanel(HWND parent, int id, int x, int y, int width, int height, HINSTANCE hInstance, bool visible = true);
void SetPanelColor(HWND panel, COLORREF color);
void SetPanelColorInherited(HWND panel);
// The colour a panel paints, following inherited colours up to the first panel with its own colour;
// button face when none has one.
COLORREF PanelColor(HWND panel);

// Kinds of controls in the form's layout.
enum EControlKind : int {
    eKind_PANEL,
    eKind_LABEL,
    eKind_TITLE,     // a label in the title font
    eKind_BIGTITLE,  // a label in the welcome font
    eKind_IMAGE,     // owner-drawn picture
    eKind_BUTTON,
    eKind_CHECK,
    eKind_RADIO,     // the first of a group carries WS_GROUP in its extra style
    eKind_EDIT,
    eKind_RICHEDIT,  // plain-text rich edit, read-only unless the extra style says ES_WANTRETURN
    eKind_LISTVIEW,
    eKind_LISTBOX,   // owner-drawn list box
    eKind_PROGRESS,
    eKind_TRACKBAR,
    eKind_SEPARATOR,
};

struct SFonts {
    kvx::UniqueFont normal;
    kvx::UniqueFont title;
    kvx::UniqueFont bigTitle;
    kvx::UniqueFont header;
    kvx::UniqueFont small;
};
bool CreateFonts(SFonts& fonts);

HWND CreateFormControl(EControlKind kind, HWND parent, int id, const RECT& rc, DWORD extraStyle, const SFonts& fonts,
                       HINSTANCE hInstance);

// Hands every pending message to its window, the way a long handler lets the interface breathe.
// A WM_QUIT found on the way is put back so that the main loop still sees it; the result says
// whether one was found, so that a waiting loop can stop.
bool ProcessMessages(HWND form);

// Text of a window as UTF-16.
void SetText(HWND hwnd, const wchar_t* text);

// UTF-16 text in a narrow code page (CP_UTF8 for files, CP_ACP for the log); characters the code page
// lacks become its default character.
std::string NarrowText(const std::wstring& text, UINT codePage);

} // namespace kvxui
