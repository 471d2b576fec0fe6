// Drives a running KVXDiag2 window from another process, the way a user would: finds the window,
// reads and clicks its controls (only visible, enabled ones: some window systems deliver clicks to
// disabled buttons), answers its message boxes, and photographs it.
#pragma once

#include "common/win/UniqueHandles.h"

#include <windows.h>

#include <string>
#include <vector>

namespace kvxtest {

class CWizardDriver {
public:
    CWizardDriver() = default;
    ~CWizardDriver();
    CWizardDriver(const CWizardDriver&) = delete;
    CWizardDriver& operator=(const CWizardDriver&) = delete;

    // Starts the program with extra environment entries ("NAME=value"), in its own directory unless
    // another current directory is given.
    bool Launch(const std::wstring& exePath, const std::vector<std::wstring>& environment,
                const std::wstring& workingDirectory = std::wstring());
    // Attaches to an already running wizard (the first main window found).
    bool Attach(DWORD timeoutMs);
    bool WaitForWindow(DWORD timeoutMs);
    HWND Window() const { return m_window; }
    HANDLE Process() const { return m_process.get(); }

    HWND Control(int id) const;
    HWND PageWindow(int page) const;
    int PageIndex() const;
    LRESULT Query(WPARAM what) const;
    bool WaitForPage(int page, DWORD timeoutMs) const;
    // Waits until the form answers a query with the given value.
    bool WaitForQuery(WPARAM what, LRESULT value, DWORD timeoutMs) const;

    std::wstring Text(int id) const;
    static std::wstring TextOf(HWND hwnd);
    bool IsVisible(int id) const;
    bool IsEnabled(int id) const;
    bool IsChecked(int id) const;
    // BM_CLICK sent and handled before the call returns; false when the control cannot be clicked.
    bool Click(int id) const;
    // The same, timed: the milliseconds the form took to handle it, or a negative value on failure.
    double TimedClick(int id) const;
    // BM_CLICK posted, for handlers that open a modal box.
    bool PostClick(int id) const;
    bool SetText(int id, const std::wstring& text) const;
    std::wstring ListViewColumn(int id, int column) const;

    // A message box of the wizard's process (of any process when the driver has none), its text, and a
    // click on one of its buttons.
    HWND WaitForMessageBox(DWORD timeoutMs) const;
    static std::wstring MessageBoxText(HWND box);
    static bool AnswerMessageBox(HWND box, int buttonId);

    // Shows a page's window without going through the form, for a picture of a page that the normal
    // path never reaches; the previous page is hidden and comes back with RestorePage.
    void ShowPageDirectly(int page);
    void RestorePage(int page);

    // A 24-bit BMP of the window as it is on the screen.
    bool Screenshot(const std::wstring& path) const;

    bool Close(DWORD timeoutMs);
    bool WaitForExit(DWORD timeoutMs);
    DWORD ExitCode() const;
    void Terminate();

    static double NowMs();

private:
    DWORD m_processId = 0;
    kvx::UniqueHandle m_process;
    HWND m_window = nullptr;
};

} // namespace kvxtest
