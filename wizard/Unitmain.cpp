// The main form: construction from the layout, the frame that changes with the page, the step
// indicator, and the handlers of the buttons and of the page changes.
#include "wizard/Unitmain.h"

#include "common/win/LibraryLoading.h"

#include "wizard/DpiScale.h"
#include "wizard/FormLayout.h"
#include "wizard/PackChoice.h"
#include "wizard/WizardImages.h"
#include "wizard/WizardResources.h"

#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>

#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

using namespace kvxui;

namespace {

constexpr UINT_PTR KVXDIAG2_TIMER_REBOOT = 1;
constexpr COLORREF KVXDIAG2_NAVY = RGB(0, 0, 128);
constexpr int KVXDIAG2_INCIDENT_NUMBER_LIMIT = 64;

std::wstring WindowText(HWND hwnd)
{
    const int length = ::GetWindowTextLengthW(hwnd);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(hwnd, &text[0], length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

// The core takes narrow paths in the system code page. A path that the code page cannot represent
// would name a different file, so it is refused rather than silently changed.
bool ToSystemCodePage(const std::wstring& text, std::string& out)
{
    out.clear();
    if (text.empty()) {
        return true;
    }
    BOOL usedDefault = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, &usedDefault);
    if (size <= 0 || usedDefault) {
        return false;
    }
    out.resize(static_cast<size_t>(size));
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), &out[0], size,
                          nullptr, &usedDefault);
    return usedDefault == FALSE;
}

// Line ends as the C library's text mode wants them: every CR, CR LF or LF becomes one LF.
std::string NormaliseLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            out += text[i];
        }
    }
    return out;
}

bool HasStyle(HWND hwnd, LONG_PTR style) { return (::GetWindowLongPtrW(hwnd, GWL_STYLE) & style) == style; }

bool IsChecked(HWND hwnd) { return ::SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED; }

} // namespace

// ---------------------------------------------------------------------------------------------------
// Construction and the window

TMainForm::TMainForm(HINSTANCE hInstance) : m_hInstance(hInstance)
{
    // The log configuration is written before the log object is made, so that the object's reset
    // reads it and the very first line below is already written.
    m_b64BitSystem = Is64BitSO();
    ::OutputDebugStringA(m_b64BitSystem ? "TMainForm()-> S.O de 64bits" : "TMainForm()-> S.O de 32bits");
    ::OutputDebugStringA("TMainForm()-> Escribimos las claves de registro del sistema de logs");
    ActivateLogs();

    ::OutputDebugStringA("TMainForm()-> Creando objeto CKVXDiagObject");
    m_pObject.reset(new (std::nothrow) CKVXDiagObject());
    if (!m_pObject) {
        ::OutputDebugStringA("TMainForm()-> Error: Creando objeto CKVXDiagObject");
        throw std::runtime_error("Can't create KVXDiag Base Object...");
    }
    KVX_FUNCTION_QUIET("TMainForm::TMainForm");
    KVX_LOG(eKVXDiagLog_TRACE, "%s", "Inicio función. (Primer log de m_pObject)");

    // The texts the code shows before the language is chosen officially must already be right.
    m_eLanguage = ChooseLanguage(::GetSystemDefaultLangID());
    m_bSpanishInterface = m_eLanguage == eLanguage_SPANISH;

    if (!CreateFormWindow() || !CreateControls()) {
        // The half-built window must not call back into a form that is being unwound.
        if (m_hwnd != nullptr) {
            ::SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
            ::DestroyWindow(m_hwnd);
            m_hwnd = nullptr;
        }
        throw std::runtime_error("Can't create the KVXDiag2 window...");
    }
    ApplyLanguage();
    LayoutFrame();
    SetPageIndex(KVXDIAG2_GUI_PAGE_INITIAL);
    Initializations();
    KVX_LOG(eKVXDiagLog_TRACE, "%s", "Fin función.");
}

TMainForm::~TMainForm()
{
    {
        KVX_FUNCTION("TMainForm::~TMainForm");
        if (m_hwnd != nullptr && !m_bDestroyed) {
            StopRunningWork();
            ::DestroyWindow(m_hwnd);
        }
    }
    m_pObject.reset();
}

bool TMainForm::CreateFormWindow()
{
    if (!RegisterPanelClass(m_hInstance)) {
        return false;
    }
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WndProc;
    wc.hInstance = m_hInstance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    // The program's own icon at the sizes the system asks for (shared: it lives as long as the process).
    wc.hIcon = static_cast<HICON>(::LoadImageW(m_hInstance, MAKEINTRESOURCEW(KVXDIAG2_IDI_APPLICATION), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                               LR_SHARED));
    wc.hIconSm = static_cast<HICON>(::LoadImageW(m_hInstance, MAKEINTRESOURCEW(KVXDIAG2_IDI_APPLICATION),
                                                 IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = KVXDIAG2_FORM_CLASS;
    if (::RegisterClassExW(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }

    // A fixed dialog border around a client area of exactly 626 x 368 design pixels (scaled by the
    // system DPI), centred on the work area.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT rc{0, 0, Scale(KVXDIAG2_CLIENT_WIDTH), Scale(KVXDIAG2_CLIENT_HEIGHT)};
    ::AdjustWindowRectEx(&rc, style, FALSE, exStyle);
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + ((work.right - work.left) - width) / 2;
    const int y = work.top + ((work.bottom - work.top) - height) / 2;

    m_hwnd = ::CreateWindowExW(exStyle, KVXDIAG2_FORM_CLASS, KVXDIAG2_FORM_TITLE, style, x, y, width, height, nullptr,
                               nullptr, m_hInstance, this);
    return m_hwnd != nullptr;
}

bool TMainForm::CreateControls()
{
    m_hRichEditLibrary.reset(kvx::LoadSystemLibrary(L"msftedit.dll"));
    if (!CreateFonts(m_fonts)) {
        return false;
    }

    // Pages first need their parent, nbMain; the layout lists nbMain before any page row, so pages
    // are made as soon as nbMain exists.
    size_t count = 0;
    const SControlLayout* layout = FormLayout(count);
    for (size_t i = 0; i < count; ++i) {
        const SControlLayout& row = layout[i];
        HWND parent = m_hwnd;
        if (row.parent >= KVXDIAG2_PAGE_ID_BASE && row.parent < KVXDIAG2_PAGE_ID_BASE + KVXDIAG2_PAGE_COUNT) {
            parent = m_pages[row.parent - KVXDIAG2_PAGE_ID_BASE];
        } else if (row.parent != KVXDIAG2_PARENT_FORM) {
            parent = Ctl(row.parent);
        }
        if (parent == nullptr) {
            return false;
        }
        const RECT rc = ScaleRect(row.x, row.y, row.width, row.height);
        const HWND hwnd = CreateFormControl(row.kind, parent, row.id, rc, row.style, m_fonts, m_hInstance);
        if (hwnd == nullptr) {
            return false;
        }
        m_controls[row.id - KVXDIAG2_CONTROL_FIRST] = hwnd;
        if (row.id == nbMain) {
            for (int page = 0; page < KVXDIAG2_PAGE_COUNT; ++page) {
                m_pages[page] = CreatePanel(hwnd, KVXDIAG2_PAGE_ID_BASE + page, 0, 0, 0, 0, m_hInstance, false);
                if (m_pages[page] == nullptr) {
                    return false;
                }
            }
        }
        if (row.id == panelBotton) {
            // The etched line between the pages and the buttons.
            const RECT line = ScaleRect(0, 0, KVXDIAG2_CLIENT_WIDTH, 2);
            CreateFormControl(eKind_SEPARATOR, hwnd, -1, line, 0, m_fonts, m_hInstance);
        }
    }

    // The step panels lie over the logo; the logo shows where they are hidden.
    ::SetWindowPos(Ctl(panelSteps), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // Colours: the notebook and its pages follow nbMain; the frame panels have their own.
    SetPanelColor(Ctl(nbMain), ::GetSysColor(COLOR_BTNFACE));
    SetPanelColor(Ctl(panelLeft), ::GetSysColor(COLOR_BTNFACE));
    SetPanelColor(Ctl(panelTop), ::GetSysColor(COLOR_BTNFACE));
    SetPanelColor(Ctl(panelBotton), ::GetSysColor(COLOR_BTNFACE));

    // Pictures.
    CreateStepImageLists(ilStatus, ilStatusBlackAndWhite);
    m_hLogo = CreateLogoBitmap(m_fonts.header.get(), m_fonts.normal.get());

    // Controls that need more than a style.
    ::SendMessageW(Ctl(edIssueNumber), EM_LIMITTEXT, KVXDIAG2_INCIDENT_NUMBER_LIMIT, 0);
    ::SendMessageW(Ctl(ProgressBar1), PBM_SETMARQUEE, TRUE, 40);
    ::SendMessageW(Ctl(pbBasicAnalysisProgress), PBM_SETRANGE32, 0, 100);
    ::SendMessageW(Ctl(pbTimeToReboot), PBM_SETRANGE32, 0, 100);
    const HWND bar = Ctl(ttKitBar);
    ::SendMessageW(bar, TBM_SETRANGE, FALSE, MAKELPARAM(0, 100));
    ::SendMessageW(bar, TBM_SETSEL, TRUE, MAKELPARAM(0, 10));
    // The themed trackbar does not draw its selection range, which is all this bar shows.
    // UxTheme is not one of the system's known libraries, so it is not imported (a copy beside the
    // program would win): it comes from the system directory. Comctl32 keeps it loaded anyway.
    using PFN_SETWINDOWTHEME = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    const kvx::UniqueModule uxtheme(kvx::LoadSystemLibrary(L"uxtheme.dll"));
    if (const auto pfnSetWindowTheme = kvx::GetProc<PFN_SETWINDOWTHEME>(uxtheme.get(), "SetWindowTheme")) {
        pfnSetWindowTheme(bar, L" ", L" ");
    }
    ::SendMessageW(Ctl(rbBAUserResponseFixed), BM_SETCHECK, BST_CHECKED, 0);

    const HWND listView = Ctl(ListView1);
    ::SendMessageW(listView, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const int columnWidths[] = {120, 170, 178};
    for (int column = 0; column < 3; ++column) {
        LVCOLUMNW col{};
        col.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        col.cx = Scale(columnWidths[column]);
        col.pszText = const_cast<wchar_t*>(L"");
        col.iSubItem = column;
        ::SendMessageW(listView, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&col));
    }
    const HWND grid = Ctl(StringGrid1);
    ::SendMessageW(grid, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES, LVS_EX_GRIDLINES);
    for (int column = 0; column < 2; ++column) {
        LVCOLUMNW col{};
        col.mask = LVCF_WIDTH | LVCF_SUBITEM;
        col.cx = Scale(column == 0 ? 200 : 264);
        col.iSubItem = column;
        ::SendMessageW(grid, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&col));
    }
    return true;
}

HWND TMainForm::Ctl(int id) const
{
    if (id <= KVXDIAG2_CONTROL_FIRST || id >= KVXDIAG2_CONTROL_END) {
        return nullptr;
    }
    return m_controls[id - KVXDIAG2_CONTROL_FIRST];
}

HWND TMainForm::PageWindow(int page) const
{
    return page >= 0 && page < KVXDIAG2_PAGE_COUNT ? m_pages[page] : nullptr;
}

void TMainForm::LayoutFrame()
{
    // Like a form with aligned panels: the buttons along the bottom, the left column (when shown)
    // over the rest of the height, the header over the rest of the width, and the notebook filling
    // what remains.
    const bool leftShown = HasStyle(Ctl(panelLeft), WS_VISIBLE);
    const bool topShown = HasStyle(Ctl(panelTop), WS_VISIBLE);
    // Widths and heights are design pixels until here (m_iLeftWidth too), pixels from here on.
    const int clientWidth = Scale(KVXDIAG2_CLIENT_WIDTH);
    const int bodyHeight = Scale(KVXDIAG2_CLIENT_HEIGHT - KVXDIAG2_BOTTOM_HEIGHT);
    const int left = leftShown ? Scale(m_iLeftWidth) : 0;
    const int topHeight = Scale(KVXDIAG2_TOP_HEIGHT);
    const int top = topShown ? topHeight : 0;
    const int width = clientWidth - left;
    const int height = bodyHeight - top;

    ::MoveWindow(Ctl(panelBotton), 0, bodyHeight, clientWidth, Scale(KVXDIAG2_CLIENT_HEIGHT) - bodyHeight, TRUE);
    ::MoveWindow(Ctl(panelLeft), 0, 0, left, bodyHeight, TRUE);
    ::MoveWindow(Ctl(panelSteps), 0, 0, Scale(KVXDIAG2_LEFT_WIDTH), bodyHeight, TRUE);
    ::MoveWindow(Ctl(panelTop), left, 0, width, topHeight, TRUE);
    ::MoveWindow(Ctl(imgHeader), 0, 0, width, topHeight, TRUE);
    ::MoveWindow(Ctl(nbMain), left, top, width, height, TRUE);
    for (HWND page : m_pages) {
        ::MoveWindow(page, 0, 0, width, height, TRUE);
    }
    RECT wait;
    ::GetWindowRect(Ctl(panelCancelWait), &wait);
    ::MoveWindow(Ctl(panelCancelWait), 0, 0, width, wait.bottom - wait.top, TRUE);
}

void TMainForm::LayoutStepLabels()
{
    // Each step label sits beside its image, centred on it vertically, however many lines it needs.
    const int labels[] = {lbInitialCheck, lbDataObtain, lbBasicAnalysis, lbDeepAnalysis, lbSendToOrvex};
    const kvx::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    if (!dc) {
        return;
    }
    kvx::CSelectObject selectFont(dc.get(), m_fonts.normal.get());
    for (int id : labels) {
        const HWND label = Ctl(id);
        RECT rc;
        ::GetWindowRect(label, &rc);
        const int width = rc.right - rc.left;
        const std::wstring text = WindowText(label);
        RECT measure{0, 0, width, 0};
        ::DrawTextW(dc.get(), text.c_str(), -1, &measure, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        const int height = measure.bottom - measure.top;
        const int top = Scale(4) + (Scale(KVXDIAG2_STEP_IMAGE_SIZE) - height) / 2;
        ::MoveWindow(label, Scale(57), top < 0 ? 0 : top, width, height, TRUE);
    }
}

void TMainForm::ApplyLanguage()
{
    // Every control with a text in the tables, in the chosen language.
    std::vector<int> done;
    auto apply = [this, &done](const STextTable& table) {
        for (size_t i = 0; i < table.count; ++i) {
            const int id = table.rows[i].control;
            if (id == ListView1) {
                continue;
            }
            bool seen = false;
            for (int d : done) {
                seen = seen || d == id;
            }
            if (!seen) {
                done.push_back(id);
                SetText(Ctl(id), ControlText(id, m_eLanguage).c_str());
            }
        }
    };
    const bool cancelCloses = CancelReadsClose();
    apply(FrameTexts());
    for (int page = 0; page < KVXDIAG2_PAGE_COUNT; ++page) {
        apply(PageTexts(page));
    }
    if (cancelCloses) {
        SetCancelCaptionClose();
    }

    const STextTable page4 = PageTexts(KVXDIAG2_GUI_PAGE_FILTERSSTATUS);
    for (size_t i = 0; i < page4.count; ++i) {
        const STextRow& row = page4.rows[i];
        if (row.control != ListView1 || row.item > eListView_COLUMN_SOLUTION) {
            continue;
        }
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT;
        col.pszText = const_cast<wchar_t*>(RowText(row, m_eLanguage));
        ::SendMessageW(Ctl(ListView1), LVM_SETCOLUMNW, row.item, reinterpret_cast<LPARAM>(&col));
    }
    SetText(Ctl(reLicense), AgreementText(m_eLanguage));
    LayoutStepLabels();
}

const wchar_t* TMainForm::Text(ECodeText text) const { return CodeText(text, m_eLanguage); }

void TMainForm::SetCancelCaptionClose() { SetText(Ctl(btCancel), Text(eCodeText_CLOSE)); }

bool TMainForm::CancelReadsClose() const
{
    return WindowText(Ctl(btCancel)) == Text(eCodeText_CLOSE);
}

void TMainForm::SetNotebookBusy(bool busy)
{
    m_bNotebookBusy = busy;
    // The cursor changes at once, not at the next mouse move.
    POINT pt;
    if (::GetCursorPos(&pt)) {
        ::SetCursorPos(pt.x, pt.y);
    }
}

bool TMainForm::ProcessMessages() { return kvxui::ProcessMessages(m_hwnd); }

void TMainForm::PumpFor(DWORD milliseconds)
{
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) {
            return;
        }
        const DWORD r = ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT,
                                                      MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0 && ProcessMessages()) {
            return;
        }
        if (r == WAIT_FAILED) {
            return;
        }
    }
}

int TMainForm::Run(int nCmdShow)
{
    FormCreate();
    FormShow();
    ::ShowWindow(m_hwnd, nCmdShow);
    ::UpdateWindow(m_hwnd);

    MSG msg{};
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageW(m_hwnd, &msg)) {
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK TMainForm::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    TMainForm* form = nullptr;
    if (message == WM_NCCREATE) {
        form = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        form->m_hwnd = hwnd;
    } else {
        form = reinterpret_cast<TMainForm*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (form == nullptr) {
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    LRESULT result = 0;
    ++form->m_iHandlerDepth;
    try {
        result = form->HandleMessage(message, wParam, lParam);
    } catch (...) {
        KVX_FUNCTION_QUIET("TMainForm::WndProc");
        KVX_LOG(eKVXDiagLog_EXCEPTION, "Excepción no controlada!! Mensaje 0x%X. LastError=%lu", message,
                static_cast<unsigned long>(::GetLastError()));
    }
    --form->m_iHandlerDepth;
    if (form->m_iHandlerDepth == 0 && form->m_bClosePending && !form->m_bDestroyed) {
        form->m_bClosePending = false;
        ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
    }
    return result;
}

LRESULT TMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_DRAWITEM:
        OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_MEASUREITEM:
        reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = static_cast<UINT>(Scale(16));
        return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_TIMER:
        if (wParam == KVXDIAG2_TIMER_REBOOT) {
            timeRebootTimer();
        }
        return 0;
    case KVXDIAG2_WM_SYNCNOTIFY:
        return SynchronizedNotifyCallback();
    case KVXDIAG2_WM_CANCELREQUEST:
        CancelRequest(static_cast<ECancelRequest>(wParam), lParam);
        return 0;
    case KVXDIAG2_WM_PANELCLICK: {
        const int id = static_cast<int>(wParam);
        if (id == nbMain || (id >= KVXDIAG2_PAGE_ID_BASE && id < KVXDIAG2_PAGE_ID_BASE + KVXDIAG2_PAGE_COUNT)) {
            nbMainClick();
        }
        return 0;
    }
    case KVXDIAG2_WM_PANELCURSOR: {
        const HWND panel = reinterpret_cast<HWND>(wParam);
        if (m_bNotebookBusy && (panel == Ctl(nbMain) || ::IsChild(Ctl(nbMain), panel))) {
            return reinterpret_cast<LRESULT>(::LoadCursorW(nullptr, IDC_WAIT));
        }
        return 0;
    }
    case KVXDIAG2_WM_QUERY:
        switch (wParam) {
        case eFormQuery_PAGE_INDEX:
            return m_iPageIndex;
        case eFormQuery_LAST_NOTIFICATION:
            return static_cast<LRESULT>(m_dwLastHandledCode.load());
        case eFormQuery_ANSWER_TO_CORE:
            return m_iAnswerToCore.load();
        case eFormQuery_NOTIFY_DEPTH:
            return m_iNotifyDepth;
        default:
            return -1;
        }
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_ENDSESSION:
        // The session ends (a restart, a log-off): the process is ended without a close. Whatever is
        // switched off stays so, and the autostart value starts the wizard again to finish the run.
        if (wParam != FALSE) {
            m_bRestarting = true;
        }
        return 0;
    case WM_DESTROY:
        m_bDestroyed = true;
        FormDestroy();
        Releases();
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(m_hwnd, message, wParam, lParam);
}

void TMainForm::OnCommand(int id, int code)
{
    if (code != BN_CLICKED) {
        return;
    }
    const HWND control = Ctl(id);
    // A hidden or disabled button cannot be pressed; some window systems still deliver the click.
    if (control == nullptr || !HasStyle(control, WS_VISIBLE) || !::IsWindowEnabled(control)) {
        return;
    }
    switch (id) {
    case btNext:
        btNextClick();
        break;
    case btBack:
        btBackClick();
        break;
    case btCancel:
        btCancelClick();
        break;
    case cbLicenseAccept:
        cbLicenseAcceptClick();
        break;
    case btBrowse:
        btBrowseClick();
        break;
    case Button1:
        Button1Click();
        break;
    default:
        break;
    }
}

void TMainForm::OnDrawItem(const DRAWITEMSTRUCT& item)
{
    const HDC hdc = item.hDC;
    const RECT& rc = item.rcItem;
    const int id = static_cast<int>(item.CtlID);
    ::SetDCBrushColor(hdc, PanelColor(::GetParent(item.hwndItem)));
    ::FillRect(hdc, &rc, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));

    auto blit = [hdc, &rc](HBITMAP bitmap) {
        if (bitmap == nullptr) {
            return;
        }
        const kvx::UniqueMemoryDc memory(::CreateCompatibleDC(hdc));
        if (!memory) {
            return;
        }
        kvx::CSelectObject select(memory.get(), bitmap);
        ::BitBlt(hdc, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, memory.get(), 0, 0, SRCCOPY);
    };

    const int steps[] = {imgInitialCheck, imgDataObtain, imgBasicAnalysis, imgDeepAnalysis, imgSendToOrvex};
    for (int index = 0; index < KVXDIAG2_STEP_COUNT; ++index) {
        if (steps[index] == id) {
            const HIMAGELIST list = m_iStep == index + 1 ? ilStatus.get() : ilStatusBlackAndWhite.get();
            ::ImageList_Draw(list, index, hdc, rc.left, rc.top, ILD_TRANSPARENT);
            return;
        }
    }
    if (id == Image3) {
        blit(m_hLogo.get());
    } else if (id == imgHeader) {
        BITMAP info{};
        const int width = rc.right - rc.left;
        const int height = rc.bottom - rc.top;
        if (!m_hHeader || ::GetObjectW(m_hHeader.get(), sizeof(info), &info) == 0 || info.bmWidth != width ||
            info.bmHeight != height) {
            m_hHeader = CreateHeaderBitmap(width, height, m_fonts.header.get(), m_fonts.normal.get());
        }
        blit(m_hHeader.get());
    }
    // The owner-drawn list boxes hold no items; their background is all there is to draw.
}

LRESULT TMainForm::OnCtlColor(HDC hdc, HWND control)
{
    const COLORREF color = PanelColor(::GetParent(control));
    const int id = ::GetDlgCtrlID(control);
    const bool title = id == Label3 || id == Label28 || id == Label21 || id == Label23 || id == Label30 ||
                       id == Label39;
    ::SetTextColor(hdc, title ? KVXDIAG2_NAVY : ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(hdc, color);
    ::SetDCBrushColor(hdc, color);
    return reinterpret_cast<LRESULT>(::GetStockObject(DC_BRUSH));
}

void TMainForm::OnClose()
{
    if (m_bDestroyed || m_bClosing) {
        return;
    }
    // A handler below on the stack (a question, a progress animation) still uses the form: let it
    // unwind first. The exit event ends any question at once; the close is retried afterwards.
    if (m_iHandlerDepth > 1) {
        m_bClosePending = true;
        m_bCancelRequested = true;
        if (m_hExitEvent) {
            ::SetEvent(m_hExitEvent.get());
        }
        return;
    }
    StopRunningWork();
    ::DestroyWindow(m_hwnd);
}

// ---------------------------------------------------------------------------------------------------
// Pages and navigation

void TMainForm::SetPageIndex(int page)
{
    if (page < 0 || page >= KVXDIAG2_PAGE_COUNT || page == m_iPageIndex) {
        return;
    }
    const int previous = m_iPageIndex;
    m_iPageIndex = page;
    ::ShowWindow(m_pages[page], SW_SHOW);
    if (previous >= 0) {
        ::ShowWindow(m_pages[previous], SW_HIDE);
    }
    nbMainPageChanged();
}

void TMainForm::nbMainPageChanged()
{
    KVX_FUNCTION("TMainForm::nbMainPageChanged");
    kvx::CCriticalSectionLock lock(m_csControlManage.get());
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Adquirida sección crítica (Control Manage).");

    SetNotebookBusy(false);
    const int page = PageIndex();
    if (page == KVXDIAG2_GUI_PAGE_INITIAL) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Inicio asistente. Pagina KVXDIAG2_GUI_PAGE_INITIAL.");
        ::ShowWindow(Ctl(panelTop), SW_HIDE);
        m_iLeftWidth = KVXDIAG2_LOGO_WIDTH + 1;
        ::MoveWindow(Ctl(Image3), Scale(1), Scale(1), Scale(KVXDIAG2_LOGO_WIDTH), Scale(KVXDIAG2_LOGO_HEIGHT), TRUE);
        SetPanelColor(Ctl(panelLeft), KVXDIAG2_NAVY);
        SetPanelColor(Ctl(nbMain), ::GetSysColor(COLOR_WINDOW));
        SetStep(eStep_DISABLED);
    } else if (page == KVXDIAG2_GUI_PAGE_FINAL) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Fin del asistente. Pagina KVXDIAG2_GUI_PAGE_FINAL.");
        ::ShowWindow(Ctl(panelTop), SW_HIDE);
        m_iLeftWidth = KVXDIAG2_LEFT_WIDTH_FINAL;
        SetPanelColor(Ctl(panelLeft), KVXDIAG2_NAVY);
        SetPanelColor(Ctl(nbMain), ::GetSysColor(COLOR_WINDOW));
        SetStep(eStep_DISABLED);
    } else {
        KVX_LOG(eKVXDiagLog_INFO, "Seleccionada pagina %d del asistente", page);
        ::ShowWindow(Ctl(panelTop), SW_SHOW);
        m_iLeftWidth = KVXDIAG2_LEFT_WIDTH;
        SetPanelColor(Ctl(panelLeft), ::GetSysColor(COLOR_BTNFACE));
        SetPanelColor(Ctl(nbMain), ::GetSysColor(COLOR_BTNFACE));
    }
    LayoutFrame();

    if (page >= 1 && page <= 4) {
        KVX_LOG(eKVXDiagLog_INFO, "Se establece paso eStep_INITIALCHECK(0x%X).", static_cast<unsigned>(eStep_INITIALCHECK));
        SetStep(eStep_INITIALCHECK);
    } else if (page >= 5 && page <= 7) {
        if (page == KVXDIAG2_GUI_PAGE_DIAGNOSTICNORESULTS) {
            RECT rc;
            ::GetWindowRect(Ctl(lbDiagnosisEnd), &rc);
            ::MapWindowPoints(nullptr, m_pages[page], reinterpret_cast<POINT*>(&rc), 2);
            RECT own;
            ::GetWindowRect(Ctl(lbBasicAnalysisPresentation), &own);
            ::MoveWindow(Ctl(lbBasicAnalysisPresentation), rc.left, rc.top, own.right - own.left, own.bottom - own.top,
                         TRUE);
            ::ShowWindow(Ctl(lbDiagnosisEnd), SW_HIDE);
        }
        KVX_LOG(eKVXDiagLog_INFO, "Se establece paso eStep_DIAGNOSTICS(0x%X).", static_cast<unsigned>(eStep_DIAGNOSTICS));
        SetStep(eStep_DIAGNOSTICS);
    } else if (page >= 8 && page <= 11) {
        KVX_LOG(eKVXDiagLog_INFO, "Se establece paso eStep_BASICANALYSIS(0x%X).", static_cast<unsigned>(eStep_BASICANALYSIS));
        SetStep(eStep_BASICANALYSIS);
        ManageBasicAnalysis(page);
    } else if (page >= 12 && page <= 15) {
        KVX_LOG(eKVXDiagLog_INFO, "Se establece paso eStep_DEEPANALYSIS(0x%X).", static_cast<unsigned>(eStep_DEEPANALYSIS));
        SetStep(eStep_DEEPANALYSIS);
        ManageDeepAnalysis(page);
    } else if (page == KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS) {
        if (m_bBasicAnalysisRunning) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Se trata del análisis básico...");
            ManageBasicAnalysis(page);
        } else if (m_bDeepAnalysisRunning) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Se trata del análisis en profundidad...");
            ManageDeepAnalysis(page);
        } else {
            KVX_LOG(eKVXDiagLog_INFO, "%s",
                    "Error: Se trata de un análisis finalizado correctamente, pero no es posible determinar el tipo.");
        }
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Liberada sección crítica (Control Manage).");
}

void TMainForm::SetStep(int step)
{
    KVX_FUNCTION("TMainForm::SetStep");
    static const char* const kStepLogs[KVXDIAG2_STEP_COUNT] = {
        "Establecido Step eStep_INITIALCHECK.", "Establecido Step eStep_DIAGNOSTICS.",
        "Establecido Step eStep_BASICANALYSIS.", "Establecido Step eStep_DEEPANALYSIS.",
        "Establecido Step eStep_SENDTOORVEX."};
    const int labels[KVXDIAG2_STEP_COUNT] = {lbInitialCheck, lbDataObtain, lbBasicAnalysis, lbDeepAnalysis,
                                             lbSendToOrvex};
    const int images[KVXDIAG2_STEP_COUNT] = {imgInitialCheck, imgDataObtain, imgBasicAnalysis, imgDeepAnalysis,
                                             imgSendToOrvex};
    if (step >= eStep_INITIALCHECK && step <= eStep_SENDTOORVEX) {
        m_iStep = step;
        ::ShowWindow(Ctl(panelSteps), SW_SHOW);
        for (int index = 0; index < KVXDIAG2_STEP_COUNT; ++index) {
            ::EnableWindow(Ctl(labels[index]), index == step - 1);
        }
        KVX_LOG(step == eStep_INITIALCHECK ? eKVXDiagLog_TRACE : eKVXDiagLog_INFO, "%s", kStepLogs[step - 1]);
    } else if (step == eStep_DISABLED) {
        m_iStep = step;
        ::ShowWindow(Ctl(panelSteps), SW_HIDE);
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Establecido Step eStep_DISABLED");
    }
    for (int id : images) {
        ::InvalidateRect(Ctl(id), nullptr, TRUE);
    }
}

void TMainForm::btNextClick()
{
    KVX_FUNCTION("TMainForm::btNextClick");
    const int page = PageIndex();
    switch (page) {
    case KVXDIAG2_GUI_PAGE_INITIAL:
        ::EnableWindow(Ctl(btNext), FALSE);
        ::SendMessageW(Ctl(cbLicenseAccept), BM_SETCHECK, BST_UNCHECKED, 0);
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Pagina actual KVXDIAG2_GUI_PAGE_INIT. Se avanza hasta KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT.");
        SetPageIndex(KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT);
        break;
    case KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK:
        m_iUserAnswer = IsChecked(Ctl(rbBAUserResponseNotFixed)) ? eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED
                                                                  : eKVXDIAG2NotifyRet_PROBLEM_FIXED;
        KVX_LOG(eKVXDiagLog_INFO,
                "Actualmente el asistente se encuentra en BASIC ANALISYS ASK USER. La respuesta del usuario a sido: 0x%X",
                static_cast<unsigned>(m_iUserAnswer));
        if (m_iUserAnswer == eKVXDIAG2NotifyRet_PROBLEM_FIXED) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Se salta a la página KVXDIAG2_GUI_PAGE_BASICANALYSISPROBLEMFIXED");
            SetPageIndex(KVXDIAG2_GUI_PAGE_BASICANALYSISPROBLEMFIXED);
        }
        ::SetEvent(m_hUserResponseEvent.get());
        SetNotebookBusy(true);
        break;
    case KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK:
        ::EnableWindow(Ctl(btNext), FALSE);
        ::EnableWindow(Ctl(btBack), FALSE);
        m_iUserAnswer = IsChecked(Ctl(rbDAUserResponseNotFixed)) ? eKVXDIAG2NotifyRet_PROBLEM_NOT_FIXED
                                                                  : eKVXDIAG2NotifyRet_PROBLEM_FIXED;
        KVX_LOG(eKVXDiagLog_INFO,
                "Actualmente el asistente se encuentra en DEEP ANALISYS ASK USER. La respuesta del usuario a sido: 0x%X",
                static_cast<unsigned>(m_iUserAnswer));
        if (m_iUserAnswer == eKVXDIAG2NotifyRet_PROBLEM_FIXED) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Se salta a la página KVXDIAG2_GUI_PAGE_DEEPANALYSISPROBLEMFIXED");
        }
        ::SetEvent(m_hUserResponseEvent.get());
        SetNotebookBusy(true);
        break;
    case KVXDIAG2_GUI_PAGE_BASICANALYSISUNSUCCESS:
        KVX_LOG(eKVXDiagLog_INFO, "%s", "El análisis básico ha terminado sin éxito y se lanza el análisis en profundidad.");
        SetNotebookBusy(true);
        if (m_pKVXDiagCore) {
            ::EnableWindow(Ctl(btNext), FALSE);
            RecordStartedJob(m_pKVXDiagCore->DeepAnalysis(&m_iJobId), eKVXDiag2Job_DEEP_ANALYSIS);
        } else {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "Error! El KVXDiag Core no esta disponible.");
        }
        break;
    case KVXDIAG2_GUI_PAGE_SAVETODISK: {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Se procede a generar el paquete de resultado en el directorio indicado.");
        if (!m_pKVXDiagCore) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "Error! El KVXDiag Core no esta disponible.");
            break;
        }
        const std::wstring destination = WindowText(Ctl(edResultsPackDestination));
        if (destination.empty()) {
            break;
        }
        std::string narrow;
        if (!ToSystemCodePage(destination, narrow)) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s",
                    "Error! La ruta de destino contiene caracteres que no admite la página de códigos del sistema.");
            break;
        }
        ::EnableWindow(Ctl(btNext), FALSE);
        // A choice the core cannot read would pack personal data the user asked to remove.
        if (CPackChoice::Record(IsChecked(Ctl(cbRemovePersonalData))) != ERROR_SUCCESS &&
            IsChecked(Ctl(cbRemovePersonalData))) {
            ::EnableWindow(Ctl(btNext), TRUE);
            break;
        }
        RecordStartedJob(m_pKVXDiagCore->PackAndSendResults(narrow, &m_iJobId), eKVXDiag2Job_PACK_RESULTS);
        break;
    }
    case KVXDIAG2_GUI_PAGE_BASICANALYSISPROBLEMFIXED:
        // The result page waits for the core's verdict; the question page after it would show a
        // question that nobody asked.
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Pagina KVXDIAG2_GUI_PAGE_BASICANALYSISPROBLEMFIXED: se espera el veredicto del análisis.");
        break;
    case KVXDIAG2_GUI_PAGE_DEEPANALYSISUNSUCCESS:
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Pagina actual KVXDIAG2_GUI_PAGE_DEEPANALYSISUNSUCCESS. Se avanza hasta  KVXDIAG2_GUI_PAGE_SAVETODISK.");
        SetPageIndex(KVXDIAG2_GUI_PAGE_SAVETODISK);
        break;
    case KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS:
        SetPageIndex(KVXDIAG2_GUI_PAGE_SAVETODISK);
        break;
    default:
        KVX_LOG(eKVXDiagLog_INFO, "Página actual: %d. Se avanza a la siguiente, si no es la pagina final.", page);
        if (page < KVXDIAG2_GUI_PAGE_FINAL) {
            if (page == KVXDIAG2_GUI_PAGE_USERINFO) {
                SetPageIndex(KVXDIAG2_GUI_PAGE_DIAGNOSTICNORESULTS);
                const std::string number = NarrowText(WindowText(Ctl(edIssueNumber)), CP_UTF8);
                const std::string description =
                    NormaliseLineEnds(NarrowText(WindowText(Ctl(reUserIssueDescription)), CP_UTF8));
                SaveIncidenceData(number, description, description.size());
            } else {
                SetPageIndex(page + 1);
            }
        }
        break;
    }
    ProcessMessages();
}

void TMainForm::btBackClick()
{
    KVX_FUNCTION("TMainForm::btBackClick");
    const int page = PageIndex();
    if (page == KVXDIAG2_GUI_PAGE_DIAGNOSTICNORESULTS) {
        SetPageIndex(KVXDIAG2_GUI_PAGE_USERINFO);
    } else if (page != KVXDIAG2_GUI_PAGE_INITIAL && page != KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT &&
               page != KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK) {
        SetPageIndex(page - 1);
    }
    KVX_LOG(eKVXDiagLog_INFO, "El usuario pulso \"Back\". Nuevo Page Index: %d", PageIndex());
}

void TMainForm::cbLicenseAcceptClick()
{
    KVX_FUNCTION("TMainForm::cbLicenseAcceptClick");
    if (PageIndex() == KVXDIAG2_GUI_PAGE_LICENSEAGREEMENT) {
        ::EnableWindow(Ctl(btNext), IsChecked(Ctl(cbLicenseAccept)));
    }
}

void TMainForm::btBrowseClick()
{
    KVX_FUNCTION("TMainForm::btBrowseClick");
    // The file name buffer grows with the path the user picks; 32 K characters is the longest path.
    std::vector<wchar_t> file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_hwnd;
    ofn.lpstrFilter = L"TextZip files (*.zip)\0*.ZIP\0";
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = L"zip";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (::GetSaveFileNameW(&ofn)) {
        SetText(Ctl(edResultsPackDestination), file.data());
    }
}

void TMainForm::btCancelClick()
{
    KVX_FUNCTION("TMainForm::btCancelClick");
    ::EnableWindow(Ctl(btCancel), FALSE);

    if (CancelReadsClose()) {
        m_bCancelRequested = true;
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Se procede al cierre del formulario...");
        ::PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        return;
    }

    const SStartedJob* job = JobToCancel();
    if (job != nullptr) {
        const int choice =
            ::MessageBoxW(m_hwnd, Text(eCodeText_CANCEL_QUESTION), KVXDIAG2_FORM_TITLE, MB_YESNO | MB_ICONQUESTION);
        if (choice != IDYES) {
            ::EnableWindow(Ctl(btCancel), TRUE);
            return;
        }
        // The job is chosen here, before the question is released: a job that ends once released must
        // still reach the core's cancel, which is what puts back what a deep analysis switched off.
        m_iCancelJobId = job->id;
        m_iCancelJobType = job->type;
        m_bCancelRequested = true;
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Hay un análisis en curso se procede a su interrupción para permitir el cierre del asistente.");
        if (m_bDeepAnalysisRunning && PageIndex() == KVXDIAG2_GUI_PAGE_DEEPANALYSISREBOOT) {
            m_iUserAnswer = eKVXDIAG2NotifyRet_EXITING;
        }
        ::SetEvent(m_hExitEvent.get());
        ::SendMessageW(Ctl(ttKitBar), TBM_SETSEL, TRUE, MAKELPARAM(0, 10));
        ::SetWindowLongPtrW(Ctl(ttKitBar), GWLP_USERDATA, 0);
        ::ShowWindow(Ctl(panelCancelWait), SW_SHOW);
        SetPageIndex(KVXDIAG2_GUI_PAGE_USERCANCEL);
        ::ShowWindow(Ctl(btBack), SW_HIDE);
        ::ShowWindow(Ctl(btNext), SW_HIDE);
        ProcessMessages();
        // The run is ended once the core's cancel has returned (the cancel thread reports it): until
        // then the resume state holds what the core needs to put the drivers back.
        StartCancelThread();
        return;
    }

    m_bCancelRequested = true;
    ::ShowWindow(Ctl(panelSteps), SW_HIDE);
    ::ShowWindow(Ctl(panelLeft), SW_HIDE);
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Se procede al cierre del formulario, se lanza la página de cancelación...");
    ::ShowWindow(Ctl(panelCancelWait), SW_HIDE);
    SetPageIndex(KVXDIAG2_GUI_PAGE_USERCANCEL);
    LayoutFrame();
    SetCancelCaptionClose();
    ::EnableWindow(Ctl(btCancel), TRUE);
    ::ShowWindow(Ctl(btBack), SW_HIDE);
    ::ShowWindow(Ctl(btNext), SW_HIDE);
    ProcessMessages();
    // A pending deep analysis that no job of this run can cancel stays for the next start, which can:
    // only the core knows how to put its drivers back, and forgetting the state would leave them off.
    EndRun("Cancelar sin análisis en curso");
}

void TMainForm::nbMainClick()
{
    KVX_FUNCTION("TMainForm::nbMainClick");
    if (m_hCancelEvent) {
        ::SetEvent(m_hCancelEvent.get());
    }
}

// ---------------------------------------------------------------------------------------------------
// Start-up and release

void TMainForm::Initializations()
{
    KVX_FUNCTION("TMainForm::Initializations");
    m_pKVXDiagCore.reset(new (std::nothrow) CKVXDiagCore());
    if (!m_pKVXDiagCore) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "Error! No se pudo crear el KVXDIAG Core.");
        ::MessageBoxW(m_hwnd, Text(eCodeText_CORE_MISSING), KVXDIAG2_FORM_TITLE, MB_OK | MB_ICONERROR);
        ::PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
    } else {
        m_pKVXDiagCore->RegisterNotifyCallback(&TMainForm::NotifyCallback, reinterpret_cast<KVXDIAG2_CONTEXT>(this));
    }

    // Auto-reset events, none signalled: each signal releases exactly one wait.
    struct SEventToCreate {
        kvx::UniqueHandle* handle;
        const char* log;
    };
    const SEventToCreate events[] = {
        {&m_hUserResponseEvent, "Evento USER RESPONSE WAIT creado con éxito."},
        {&m_hCancelEvent, "Evento CANCEL creado con éxito."},
        {&m_hRebootTimeEvent, "Evento REBOOT TIME EVENT creado con éxito."},
        {&m_hExitEvent, "Evento EXIT EVENT creado con éxito."},
    };
    for (const SEventToCreate& event : events) {
        event.handle->reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (*event.handle) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", event.log);
        }
    }
}

void TMainForm::FormCreate()
{
    KVX_FUNCTION("TMainForm::FormCreate");
    DeactivateShield(m_bShieldDeactivated);
    DeactivateConflictiveModules(m_bModulesDeactivated);
    if (!m_pKVXDiagCore) {
        KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "Error! El KVXDiag Core no esta disponible.");
        return;
    }
    int step = 0;
    m_bPendingAtStart = m_pKVXDiagCore->IsPendingDeepAnalysis(&step);
    if (!m_bPendingAtStart) {
        ::OutputDebugStringA("TMainForm::FormCreate()-> No hay análisis en profundidad pendiente.");
        return;
    }
    KVX_LOG(eKVXDiagLog_INFO, "Hay un análisis en profundidad pendiente, en estado: 0x%X. Se relanza.",
            static_cast<unsigned>(step));
    if (step == eKVXDiag2CoreStep_FIRST_STEP) {
        SetPageIndex(KVXDIAG2_GUI_PAGE_DIAGNOSTICINPROGRESS);
        ::EnableWindow(Ctl(btNext), FALSE);
        SetNotebookBusy(true);
        SetStep(eStep_DEEPANALYSIS);
        ManageDeepAnalysis(KVXDIAG2_GUI_PAGE_DIAGNOSTICINPROGRESS);
    }
    RecordStartedJob(m_pKVXDiagCore->DeepAnalysis(&m_iJobId), eKVXDiag2Job_DEEP_ANALYSIS);
}

void TMainForm::FormShow()
{
    KVX_FUNCTION("TMainForm::FormShow");
    const LANGID langId = ::GetSystemDefaultLangID();
    KVX_LOG(eKVXDiagLog_INFO, "Obtenido LANG ID: 0x%X", static_cast<unsigned>(langId));
    char debug[64];
    snprintf(debug, sizeof(debug), "CP2-> Lenguaje ID: 0x%X", static_cast<unsigned>(langId & 0xFF));
    ::OutputDebugStringA(debug);
    m_eLanguage = ChooseLanguage(langId);
    m_bSpanishInterface = m_eLanguage == eLanguage_SPANISH;
    KVX_LOG(eKVXDiagLog_INFO, "%s", m_bSpanishInterface ? "Seleccionado idioma SPANISH." : "Seleccionado idioma ENGLISH.");
    ApplyLanguage();

    MarkAppToAutoLunch();
    if (m_bShieldDeactivated || m_bModulesDeactivated) {
        AskStartupReboot();
    }
}

void TMainForm::FormDestroy()
{
    KVX_FUNCTION("TMainForm::FormDestroy");
    CPackChoice::Forget();
    // Every job has stopped by now (StopRunningWork), so what the resume state says is final.
    EndRun("Cierre del asistente");
    // The last page always offers the restart; any other ending when it put something back.
    if ((PageIndex() == KVXDIAG2_GUI_PAGE_FINAL || m_bOfferClosingReboot) && !m_bRestarting) {
        m_bOfferClosingReboot = false;
        AskClosingReboot();
    }
}

bool TMainForm::RestoreMachineAndForgetRun()
{
    KVX_FUNCTION("TMainForm::RestoreMachineAndForgetRun");
    // A cancelled or abandoned run ends as a finished one does: once the autostart value and the resume
    // state are gone, no later start would know that the shield and the antivirus module are still
    // switched off.
    bool shield = false;
    bool module = false;
    ActivateShield(shield);
    ActivateConflictiveModules(module);
    UnmarkAppToAutoLunch();
    const std::string wizardKey = VendorKey() + "\\Orvex Network Manager\\KVXDIAG2";
    RegDeleteKeyRecursively(HKEY_LOCAL_MACHINE, wizardKey.c_str());
    return shield || module;
}

void TMainForm::EndRun(const char* pszHow)
{
    KVX_FUNCTION("TMainForm::EndRun");
    if (m_bRunEnded) {
        return;
    }
    m_bRunEnded = true;
    if (m_bRestarting) {
        KVX_LOG(eKVXDiagLog_INFO, "%s: hay un reinicio en curso, se conservan los cambios.", pszHow);
        return;
    }
    if (IsDeepAnalysisPending()) {
        KVX_LOG(eKVXDiagLog_INFO, "%s: hay un análisis en profundidad pendiente, se conserva todo para reanudarlo.",
                pszHow);
        return;
    }
    if (AreCoreChangesLeft()) {
        // The records live in the wizard's key, and the autostart value is what brings the core back to
        // read them: both stay. The wizard's own changes are put back all the same.
        KVX_LOG(eKVXDiagLog_ERROR,
                "%s: quedan cambios del núcleo sin deshacer. Se conservan el autoarranque y su registro.", pszHow);
        bool shield = false;
        bool module = false;
        ActivateShield(shield);
        ActivateConflictiveModules(module);
        m_bOfferClosingReboot = shield || module;
        return;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s: no hay análisis pendiente, se restaura el equipo.", pszHow);
    if (RestoreMachineAndForgetRun()) {
        m_bOfferClosingReboot = true;
    }
}

void TMainForm::RecordStartedJob(DWORD rc, int type)
{
    // A job that the core refused does not exist; the id field may hold anything.
    if (rc != KVXDIAG2_OK || m_iJobId == 0) {
        return;
    }
    m_startedJobs.push_back({m_iJobId, type, false});
    // Running from the moment it exists, not from its first notification: a Cancel in between must
    // stop it, and the page that starts the basic analysis must not start a second one.
    if (type == eKVXDiag2Job_BASIC_ANALYSIS) {
        m_bBasicAnalysisRunning = true;
    } else if (type == eKVXDiag2Job_DEEP_ANALYSIS) {
        m_bDeepAnalysisRunning = true;
    }
}

TMainForm::SStartedJob* TMainForm::StartedJob(int type)
{
    for (auto it = m_startedJobs.rbegin(); it != m_startedJobs.rend(); ++it) {
        if (it->type == type) {
            return &*it;
        }
    }
    return nullptr;
}

const TMainForm::SStartedJob* TMainForm::JobToCancel()
{
    if (m_bBasicAnalysisRunning) {
        if (const SStartedJob* job = StartedJob(eKVXDiag2Job_BASIC_ANALYSIS)) {
            return job;
        }
    }
    // A deep analysis that ended without a verdict (a refused reboot, a failure) still has its resume
    // state, and only its cancel puts its drivers back.
    const SStartedJob* deep = StartedJob(eKVXDiag2Job_DEEP_ANALYSIS);
    if (deep != nullptr && !deep->cancelled && (m_bDeepAnalysisRunning || IsDeepAnalysisPending())) {
        return deep;
    }
    return nullptr;
}

void TMainForm::Releases()
{
    KVX_FUNCTION("TMainForm::Releases");
    struct SEventToFree {
        kvx::UniqueHandle* handle;
        const char* log;
    };
    const SEventToFree events[] = {
        {&m_hUserResponseEvent, "Liberado evento USER RESPONSE WAIT."},
        {&m_hCancelEvent, "Liberado evento CANCEL WAIT."},
        {&m_hRebootTimeEvent, "Liberado evento REBOOT TIME."},
        {&m_hExitEvent, "Liberado evento EXIT."},
    };
    for (const SEventToFree& event : events) {
        if (*event.handle) {
            ::SetEvent(event.handle->get());
            event.handle->reset();
            KVX_LOG(eKVXDiagLog_INFO, "%s", event.log);
        }
    }
    if (m_pKVXDiagCore) {
        m_pKVXDiagCore->RegisterNotifyCallback(nullptr, 0);
        m_pKVXDiagCore.reset();
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Liberado el KVXDiag Core.");
    }
    // The two locks themselves live as long as the form object, so that nothing can reach a deleted
    // critical section; after this point no thread takes them any more.
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Liberada sección crítica NOTIFICATION.");
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Liberada sección crítica MANAGE CONTROL.");
}
