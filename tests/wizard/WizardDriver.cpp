// Cross-process automation of the wizard. Every message goes through SendMessageTimeout so that a
// hung wizard fails the test instead of hanging it; page changes are awaited by polling the form.
#include "tests/wizard/WizardDriver.h"

#include "wizard/GuiHandles.h"
#include "wizard/WizardControls.h"

#include <commctrl.h>

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace kvxtest {

namespace {

constexpr UINT KVX_SEND_TIMEOUT_MS = 5000;
constexpr DWORD KVX_POLL_MS = 5;

struct SFindMain {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND hwnd, LPARAM lParam)
{
    auto* find = reinterpret_cast<SFindMain*>(lParam);
    wchar_t className[64];
    if (::GetClassNameW(hwnd, className, 64) == 0 || lstrcmpW(className, kvxui::KVXDIAG2_FORM_CLASS) != 0) {
        return TRUE;
    }
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (find->processId != 0 && pid != find->processId) {
        return TRUE;
    }
    find->found = hwnd;
    return FALSE;
}

struct SFindChild {
    int id;
    HWND found;
};

BOOL CALLBACK FindChildById(HWND hwnd, LPARAM lParam)
{
    auto* find = reinterpret_cast<SFindChild*>(lParam);
    if (::GetDlgCtrlID(hwnd) == find->id) {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

struct SFindBox {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMessageBox(HWND hwnd, LPARAM lParam)
{
    auto* find = reinterpret_cast<SFindBox*>(lParam);
    wchar_t className[16];
    if (::GetClassNameW(hwnd, className, 16) == 0 || lstrcmpW(className, L"#32770") != 0 || !::IsWindowVisible(hwnd)) {
        return TRUE;
    }
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    // A driver that started nothing looks at every process (a wizard that something else started).
    if (find->processId != 0 && pid != find->processId) {
        return TRUE;
    }
    find->found = hwnd;
    return FALSE;
}

struct SLongestStatic {
    std::wstring text;
};

BOOL CALLBACK FindLongestStatic(HWND hwnd, LPARAM lParam)
{
    auto* longest = reinterpret_cast<SLongestStatic*>(lParam);
    wchar_t className[16];
    if (::GetClassNameW(hwnd, className, 16) == 0 || lstrcmpiW(className, L"Static") != 0) {
        return TRUE;
    }
    const std::wstring text = CWizardDriver::TextOf(hwnd);
    if (text.size() > longest->text.size()) {
        longest->text = text;
    }
    return TRUE;
}

// The environment of this process with some entries added or replaced, as a Unicode block.
std::vector<wchar_t> EnvironmentBlock(const std::vector<std::wstring>& extra)
{
    std::map<std::wstring, std::wstring> entries;
    auto nameOf = [](const std::wstring& entry) {
        const size_t equals = entry.find(L'=', 1);
        std::wstring name = entry.substr(0, equals);
        for (wchar_t& c : name) {
            c = static_cast<wchar_t>(::towupper(c));
        }
        return name;
    };
    wchar_t* current = ::GetEnvironmentStringsW();
    if (current != nullptr) {
        for (const wchar_t* p = current; *p != L'\0'; p += wcslen(p) + 1) {
            entries[nameOf(p)] = p;
        }
        ::FreeEnvironmentStringsW(current);
    }
    for (const std::wstring& entry : extra) {
        entries[nameOf(entry)] = entry;
    }
    std::vector<wchar_t> block;
    for (const auto& entry : entries) {
        block.insert(block.end(), entry.second.begin(), entry.second.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

// Writes 32-bit bottom-up pixels (as GetDIBits gives them) as a 24-bit BMP file.
bool SaveBitmap(const std::vector<BYTE>& pixels, int width, int height, const std::wstring& path)
{
    const int stride = (width * 3 + 3) & ~3;
    std::vector<BYTE> bits(static_cast<size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const BYTE* in = &pixels[(static_cast<size_t>(y) * width + x) * 4];
            BYTE* out = &bits[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3];
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(header) + sizeof(info);
    header.bfSize = header.bfOffBits + static_cast<DWORD>(bits.size());
    std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path.c_str(), L"wb"), &std::fclose);
    return file && std::fwrite(&header, sizeof(header), 1, file.get()) == 1 &&
           std::fwrite(&info, sizeof(info), 1, file.get()) == 1 &&
           std::fwrite(bits.data(), 1, bits.size(), file.get()) == bits.size();
}

// The window's pixels as they are on the screen now: 32 bits each, bottom-up rows.
bool CaptureWindow(HWND window, std::vector<BYTE>& pixels, int& width, int& height)
{
    RECT rc;
    if (!::GetWindowRect(window, &rc)) {
        return false;
    }
    width = rc.right - rc.left;
    height = rc.bottom - rc.top;
    const kvx::CWindowDc screen(nullptr);
    const kvx::UniqueMemoryDc memory(::CreateCompatibleDC(screen.get()));
    const kvx::UniqueBitmap bitmap(::CreateCompatibleBitmap(screen.get(), width, height));
    if (!memory || !bitmap) {
        return false;
    }
    BOOL copied = FALSE;
    {
        kvx::CSelectObject select(memory.get(), bitmap.get());
        copied = ::BitBlt(memory.get(), 0, 0, width, height, screen.get(), rc.left, rc.top, SRCCOPY);
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    pixels.assign(static_cast<size_t>(width) * height * 4, 0);
    return copied != FALSE && ::GetDIBits(memory.get(), bitmap.get(), 0, height, pixels.data(), &info, DIB_RGB_COLORS) != 0;
}

} // namespace

CWizardDriver::~CWizardDriver()
{
    if (m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
        Close(5000);
        if (::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
            Terminate();
        }
    }
}

double CWizardDriver::NowMs()
{
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool CWizardDriver::Launch(const std::wstring& exePath, const std::vector<std::wstring>& environment,
                           const std::wstring& workingDirectory)
{
    std::vector<wchar_t> block = EnvironmentBlock(environment);
    std::wstring commandLine = L"\"" + exePath + L"\"";
    const size_t slash = exePath.find_last_of(L"\\/");
    std::wstring directory = slash == std::wstring::npos ? std::wstring() : exePath.substr(0, slash);
    if (!workingDirectory.empty()) {
        directory = workingDirectory;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                          block.data(), directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
        return false;
    }
    kvx::UniqueHandle thread(info.hThread); // not needed: only the process is waited for
    m_process.reset(info.hProcess);
    m_processId = info.dwProcessId;
    m_window = nullptr;
    return true;
}

bool CWizardDriver::Attach(DWORD timeoutMs)
{
    // A process this driver started before (one that a reboot ended, say) must not end the wait.
    m_processId = 0;
    m_process.reset();
    m_window = nullptr;
    if (!WaitForWindow(timeoutMs)) {
        return false;
    }
    ::GetWindowThreadProcessId(m_window, &m_processId);
    m_process.reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_READ |
                                      PROCESS_VM_WRITE | PROCESS_TERMINATE,
                                  FALSE, m_processId));
    return static_cast<bool>(m_process);
}

bool CWizardDriver::WaitForWindow(DWORD timeoutMs)
{
    const double end = NowMs() + timeoutMs;
    do {
        SFindMain find{m_processId, nullptr};
        ::EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&find));
        if (find.found != nullptr && ::IsWindowVisible(find.found)) {
            m_window = find.found;
            // The form answers queries once its message loop runs.
            if (Query(kvxui::eFormQuery_PAGE_INDEX) >= 0) {
                return true;
            }
        }
        if (m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_OBJECT_0) {
            return false;
        }
        ::Sleep(KVX_POLL_MS);
    } while (NowMs() < end);
    return false;
}

HWND CWizardDriver::Control(int id) const
{
    if (m_window == nullptr) {
        return nullptr;
    }
    SFindChild find{id, nullptr};
    ::EnumChildWindows(m_window, FindChildById, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

HWND CWizardDriver::PageWindow(int page) const { return Control(kvxui::KVXDIAG2_PAGE_ID_BASE + page); }

LRESULT CWizardDriver::Query(WPARAM what) const
{
    DWORD_PTR result = 0;
    if (m_window == nullptr ||
        ::SendMessageTimeoutW(m_window, kvxui::KVXDIAG2_WM_QUERY, what, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                              KVX_SEND_TIMEOUT_MS, &result) == 0) {
        return -1;
    }
    return static_cast<LRESULT>(result);
}

int CWizardDriver::PageIndex() const { return static_cast<int>(Query(kvxui::eFormQuery_PAGE_INDEX)); }

bool CWizardDriver::WaitForPage(int page, DWORD timeoutMs) const
{
    return WaitForQuery(kvxui::eFormQuery_PAGE_INDEX, page, timeoutMs);
}

bool CWizardDriver::WaitForQuery(WPARAM what, LRESULT value, DWORD timeoutMs) const
{
    const double end = NowMs() + timeoutMs;
    for (;;) {
        if (Query(what) == value) {
            return true;
        }
        if (NowMs() >= end) {
            return false;
        }
        if (m_process && ::WaitForSingleObject(m_process.get(), KVX_POLL_MS) == WAIT_OBJECT_0) {
            return false;
        }
        if (!m_process) {
            ::Sleep(KVX_POLL_MS);
        }
    }
}

std::wstring CWizardDriver::TextOf(HWND hwnd)
{
    if (hwnd == nullptr) {
        return std::wstring();
    }
    DWORD_PTR length = 0;
    if (::SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, KVX_SEND_TIMEOUT_MS,
                              &length) == 0) {
        return std::wstring();
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    if (::SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                              SMTO_NORMAL | SMTO_ABORTIFHUNG, KVX_SEND_TIMEOUT_MS, &copied) == 0) {
        return std::wstring();
    }
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::wstring CWizardDriver::Text(int id) const { return TextOf(Control(id)); }

bool CWizardDriver::IsVisible(int id) const
{
    const HWND hwnd = Control(id);
    return hwnd != nullptr && ::IsWindowVisible(hwnd);
}

bool CWizardDriver::IsEnabled(int id) const
{
    const HWND hwnd = Control(id);
    return hwnd != nullptr && ::IsWindowEnabled(hwnd);
}

bool CWizardDriver::IsChecked(int id) const
{
    DWORD_PTR state = 0;
    const HWND hwnd = Control(id);
    return hwnd != nullptr &&
           ::SendMessageTimeoutW(hwnd, BM_GETCHECK, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, KVX_SEND_TIMEOUT_MS,
                                 &state) != 0 &&
           state == BST_CHECKED;
}

bool CWizardDriver::Click(int id) const { return TimedClick(id) >= 0.0; }

double CWizardDriver::TimedClick(int id) const
{
    const HWND hwnd = Control(id);
    if (hwnd == nullptr || !::IsWindowVisible(hwnd) || !::IsWindowEnabled(hwnd)) {
        return -1.0;
    }
    DWORD_PTR result = 0;
    const double start = NowMs();
    if (::SendMessageTimeoutW(hwnd, BM_CLICK, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, KVX_SEND_TIMEOUT_MS, &result) == 0) {
        return -1.0;
    }
    return NowMs() - start;
}

bool CWizardDriver::PostClick(int id) const
{
    const HWND hwnd = Control(id);
    if (hwnd == nullptr || !::IsWindowVisible(hwnd) || !::IsWindowEnabled(hwnd)) {
        return false;
    }
    return ::PostMessageW(hwnd, BM_CLICK, 0, 0) != FALSE;
}

bool CWizardDriver::SetText(int id, const std::wstring& text) const
{
    const HWND hwnd = Control(id);
    DWORD_PTR result = 0;
    return hwnd != nullptr &&
           ::SendMessageTimeoutW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                 SMTO_NORMAL | SMTO_ABORTIFHUNG, KVX_SEND_TIMEOUT_MS, &result) != 0;
}

std::wstring CWizardDriver::ListViewColumn(int id, int column) const
{
    // The column record and its text buffer must live in the wizard's address space.
    const HWND hwnd = Control(id);
    if (hwnd == nullptr || !m_process) {
        return std::wstring();
    }
    constexpr size_t kChars = 256;
    const size_t size = sizeof(LVCOLUMNW) + kChars * sizeof(wchar_t);
    BYTE* remote = static_cast<BYTE*>(::VirtualAllocEx(m_process.get(), nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    if (remote == nullptr) {
        return std::wstring();
    }
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT;
    col.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVCOLUMNW));
    col.cchTextMax = static_cast<int>(kChars);
    std::wstring text;
    DWORD_PTR ok = 0;
    if (::WriteProcessMemory(m_process.get(), remote, &col, sizeof(col), nullptr) &&
        ::SendMessageTimeoutW(hwnd, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(remote),
                              SMTO_NORMAL | SMTO_ABORTIFHUNG, KVX_SEND_TIMEOUT_MS, &ok) != 0 &&
        ok != 0) {
        wchar_t buffer[kChars] = {};
        if (::ReadProcessMemory(m_process.get(), remote + sizeof(LVCOLUMNW), buffer, sizeof(buffer) - sizeof(wchar_t),
                                nullptr)) {
            text = buffer;
        }
    }
    ::VirtualFreeEx(m_process.get(), remote, 0, MEM_RELEASE);
    return text;
}

HWND CWizardDriver::WaitForMessageBox(DWORD timeoutMs) const
{
    const double end = NowMs() + timeoutMs;
    do {
        SFindBox find{m_processId, nullptr};
        ::EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&find));
        if (find.found != nullptr) {
            return find.found;
        }
        ::Sleep(KVX_POLL_MS);
    } while (NowMs() < end);
    return nullptr;
}

std::wstring CWizardDriver::MessageBoxText(HWND box)
{
    SLongestStatic longest;
    ::EnumChildWindows(box, FindLongestStatic, reinterpret_cast<LPARAM>(&longest));
    return longest.text;
}

bool CWizardDriver::AnswerMessageBox(HWND box, int buttonId)
{
    const HWND button = ::GetDlgItem(box, buttonId);
    return button != nullptr && ::PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

void CWizardDriver::ShowPageDirectly(int page)
{
    const int current = PageIndex();
    if (current >= 0 && current != page) {
        ::ShowWindow(PageWindow(current), SW_HIDE);
    }
    ::ShowWindow(PageWindow(page), SW_SHOW);
}

void CWizardDriver::RestorePage(int page)
{
    const int current = PageIndex();
    if (current != page) {
        ::ShowWindow(PageWindow(page), SW_HIDE);
    }
    if (current >= 0) {
        ::ShowWindow(PageWindow(current), SW_SHOW);
    }
}

bool CWizardDriver::Screenshot(const std::wstring& path) const
{
    if (m_window == nullptr) {
        return false;
    }
    // The picture is taken once it stops changing: painting happens whenever the wizard's queue is
    // empty, so two equal captures in a row mean it has caught up.
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(m_window, WM_NULL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, KVX_SEND_TIMEOUT_MS, &ignored);
    ::RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    std::vector<BYTE> previous;
    std::vector<BYTE> pixels;
    int width = 0, height = 0;
    int equal = 0;
    for (int attempt = 0; attempt < 12 && equal < 3; ++attempt) {
        ::SendMessageTimeoutW(m_window, WM_NULL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, KVX_SEND_TIMEOUT_MS, &ignored);
        if (!CaptureWindow(m_window, pixels, width, height)) {
            return false;
        }
        equal = attempt > 0 && pixels == previous ? equal + 1 : 0;
        previous.swap(pixels);
        ::Sleep(40);
    }
    return SaveBitmap(previous, width, height, path);
}

bool CWizardDriver::Close(DWORD timeoutMs)
{
    if (m_window != nullptr) {
        ::PostMessageW(m_window, WM_CLOSE, 0, 0);
    }
    return WaitForExit(timeoutMs);
}

bool CWizardDriver::WaitForExit(DWORD timeoutMs)
{
    return m_process && ::WaitForSingleObject(m_process.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD CWizardDriver::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (m_process) {
        ::GetExitCodeProcess(m_process.get(), &code);
    }
    return code;
}

void CWizardDriver::Terminate()
{
    if (m_process) {
        ::TerminateProcess(m_process.get(), 99);
        ::WaitForSingleObject(m_process.get(), 5000);
    }
}

} // namespace kvxtest
