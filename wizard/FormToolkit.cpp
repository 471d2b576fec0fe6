// Panels are plain windows of our own class. Controls send their notifications to their parent, so a
// panel passes everything a control sends up to the form: the form's handlers then see every control
// as if it were its own child.
#include "wizard/FormToolkit.h"

#include "wizard/DpiScale.h"

#include <commctrl.h>
#include <richedit.h>

namespace kvxui {

namespace {

constexpr LONG_PTR KVX_OWN_COLOR_FLAG = 0x01000000;

HWND FormOf(HWND hwnd) { return ::GetAncestor(hwnd, GA_ROOT); }

LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: {
        RECT rc;
        ::GetClientRect(hwnd, &rc);
        const HDC hdc = reinterpret_cast<HDC>(wParam);
        ::SetDCBrushColor(hdc, PanelColor(hwnd));
        ::FillRect(hdc, &rc, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
        return 1;
    }
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_HSCROLL:
    case WM_VSCROLL: {
        const HWND form = FormOf(hwnd);
        if (form != nullptr && form != hwnd) {
            return ::SendMessageW(form, message, wParam, lParam);
        }
        break;
    }
    case WM_LBUTTONUP: {
        const HWND form = FormOf(hwnd);
        if (form != nullptr && form != hwnd) {
            ::SendMessageW(form, KVXDIAG2_WM_PANELCLICK, static_cast<WPARAM>(::GetDlgCtrlID(hwnd)), 0);
        }
        return 0;
    }
    case WM_SETCURSOR: {
        const HWND form = FormOf(hwnd);
        if (form != nullptr && form != hwnd) {
            const auto cursor = reinterpret_cast<HCURSOR>(
                ::SendMessageW(form, KVXDIAG2_WM_PANELCURSOR, reinterpret_cast<WPARAM>(hwnd), 0));
            if (cursor != nullptr) {
                ::SetCursor(cursor);
                return TRUE;
            }
        }
        break;
    }
    default:
        break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

bool RegisterPanelClass(HINSTANCE hInstance)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PanelProc;
    wc.hInstance = hInstance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = KVXDIAG2_PANEL_CLASS;
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CreatePanel(HWND parent, int id, int x, int y, int width, int height, HINSTANCE hInstance, bool visible)
{
    return ::CreateWindowExW(WS_EX_CONTROLPARENT, KVXDIAG2_PANEL_CLASS, L"",
                             WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | (visible ? WS_VISIBLE : 0), x, y, width,
                             height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), hInstance, nullptr);
}

void SetPanelColor(HWND panel, COLORREF color)
{
    ::SetWindowLongPtrW(panel, GWLP_USERDATA, static_cast<LONG_PTR>(color & 0x00FFFFFF) | KVX_OWN_COLOR_FLAG);
    ::InvalidateRect(panel, nullptr, TRUE);
}

void SetPanelColorInherited(HWND panel)
{
    ::SetWindowLongPtrW(panel, GWLP_USERDATA, KVXDIAG2_PANEL_INHERIT);
    ::InvalidateRect(panel, nullptr, TRUE);
}

COLORREF PanelColor(HWND panel)
{
    wchar_t className[32];
    for (HWND hwnd = panel; hwnd != nullptr; hwnd = ::GetParent(hwnd)) {
        if (::GetClassNameW(hwnd, className, 32) == 0 || lstrcmpW(className, KVXDIAG2_PANEL_CLASS) != 0) {
            break;
        }
        const LONG_PTR value = ::GetWindowLongPtrW(hwnd, GWLP_USERDATA);
        if ((value & KVX_OWN_COLOR_FLAG) != 0) {
            return static_cast<COLORREF>(value & 0x00FFFFFF);
        }
    }
    return ::GetSysColor(COLOR_BTNFACE);
}

bool CreateFonts(SFonts& fonts)
{
    // The system's message font already has the system DPI's height; the form's own heights are
    // design pixels and are scaled like the rest of the form.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    LOGFONTW base{};
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        base = metrics.lfMessageFont;
    } else {
        base.lfHeight = Scale(-11);
        base.lfWeight = FW_NORMAL;
        lstrcpynW(base.lfFaceName, L"Tahoma", LF_FACESIZE);
    }
    base.lfQuality = CLEARTYPE_QUALITY;
    fonts.normal.reset(::CreateFontIndirectW(&base));

    LOGFONTW title = base;
    title.lfWeight = FW_BOLD;
    title.lfHeight = base.lfHeight < 0 ? base.lfHeight - Scale(3) : Scale(-14);
    fonts.title.reset(::CreateFontIndirectW(&title));

    LOGFONTW bigTitle = title;
    bigTitle.lfHeight = base.lfHeight < 0 ? base.lfHeight * 2 : Scale(-22);
    fonts.bigTitle.reset(::CreateFontIndirectW(&bigTitle));

    LOGFONTW header = title;
    header.lfHeight = Scale(-20);
    fonts.header.reset(::CreateFontIndirectW(&header));

    LOGFONTW small = base;
    fonts.small.reset(::CreateFontIndirectW(&small));
    return fonts.normal && fonts.title && fonts.bigTitle && fonts.header && fonts.small;
}

HWND CreateFormControl(EControlKind kind, HWND parent, int id, const RECT& rc, DWORD extraStyle, const SFonts& fonts,
                       HINSTANCE hInstance)
{
    const wchar_t* className = L"STATIC";
    // Clipped by their siblings, so that a panel laid over a control (the step panels over the
    // logo) is never painted over by it.
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | extraStyle;
    DWORD exStyle = 0;
    HFONT font = fonts.normal.get();
    switch (kind) {
    case eKind_PANEL:
        return CreatePanel(parent, id, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, hInstance, true);
    case eKind_LABEL:
        style |= SS_LEFT | SS_NOPREFIX;
        break;
    case eKind_TITLE:
        style |= SS_LEFT | SS_NOPREFIX;
        font = fonts.title.get();
        break;
    case eKind_BIGTITLE:
        style |= SS_LEFT | SS_NOPREFIX;
        font = fonts.bigTitle.get();
        break;
    case eKind_IMAGE:
        style |= SS_OWNERDRAW;
        break;
    case eKind_SEPARATOR:
        style |= SS_ETCHEDHORZ;
        break;
    case eKind_BUTTON:
        className = L"BUTTON";
        style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
    case eKind_CHECK:
        className = L"BUTTON";
        style |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
    case eKind_RADIO:
        className = L"BUTTON";
        style |= BS_AUTORADIOBUTTON | WS_TABSTOP;
        break;
    case eKind_EDIT:
        className = L"EDIT";
        style |= ES_AUTOHSCROLL | WS_TABSTOP;
        exStyle = WS_EX_CLIENTEDGE;
        break;
    case eKind_RICHEDIT:
        className = MSFTEDIT_CLASS;
        style |= ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP;
        if ((extraStyle & ES_WANTRETURN) == 0) {
            style |= ES_READONLY;
        }
        exStyle = WS_EX_CLIENTEDGE;
        break;
    case eKind_LISTVIEW:
        className = WC_LISTVIEWW;
        style |= LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP;
        exStyle = WS_EX_CLIENTEDGE;
        break;
    case eKind_LISTBOX:
        className = L"LISTBOX";
        style |= LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | WS_VSCROLL | WS_TABSTOP;
        exStyle = WS_EX_CLIENTEDGE;
        break;
    case eKind_PROGRESS:
        className = PROGRESS_CLASSW;
        break;
    case eKind_TRACKBAR:
        className = TRACKBAR_CLASSW;
        style |= TBS_HORZ | TBS_ENABLESELRANGE | TBS_NOTICKS | TBS_NOTHUMB;
        break;
    }
    const HWND hwnd = ::CreateWindowExW(exStyle, className, L"", style, rc.left, rc.top, rc.right - rc.left,
                                        rc.bottom - rc.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                        hInstance, nullptr);
    if (hwnd == nullptr) {
        return nullptr;
    }
    ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (kind == eKind_RICHEDIT) {
        // Plain text: what the user types is what the incident file gets, and nothing is parsed as RTF.
        ::SendMessageW(hwnd, EM_SETTEXTMODE, TM_PLAINTEXT | TM_MULTILEVELUNDO | TM_MULTICODEPAGE, 0);
        ::SendMessageW(hwnd, EM_EXLIMITTEXT, 0, 1024 * 1024);
    }
    return hwnd;
}

bool ProcessMessages(HWND form)
{
    MSG msg;
    bool quit = false;
    WPARAM exitCode = 0;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit = true;
            exitCode = msg.wParam;
            break;
        }
        if (form != nullptr && ::IsDialogMessageW(form, &msg)) {
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (quit) {
        ::PostQuitMessage(static_cast<int>(exitCode));
    }
    return quit;
}

void SetText(HWND hwnd, const wchar_t* text)
{
    if (hwnd != nullptr) {
        ::SetWindowTextW(hwnd, text != nullptr ? text : L"");
    }
}

std::string NarrowText(const std::wstring& text, UINT codePage)
{
    if (text.empty()) {
        return std::string();
    }
    const int size =
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) {
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    }
    return out;
}

} // namespace kvxui
