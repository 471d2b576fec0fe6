// Entry point of KVXDiag2.exe: the library search restricted, common controls and COM for the
// dialogs, then the main form.
#include "common/win/LibraryLoading.h"
#include "wizard/Unitmain.h"

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

#include <exception>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int nCmdShow)
{
    // Before any other load: the program runs elevated from wherever it was unpacked.
    kvx::HardenLibrarySearch();

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                     ICC_LISTVIEW_CLASSES;
    ::InitCommonControlsEx(&controls);
    // The save dialog and the rich edit controls want an OLE apartment on the interface thread.
    const HRESULT ole = ::OleInitialize(nullptr);

    int exitCode = 1;
    try {
        TMainForm form(hInstance);
        exitCode = form.Run(nCmdShow);
    } catch (const std::exception& error) {
        // The form could not be built: show why, as the application would for any start-up error.
        ::MessageBoxA(nullptr, error.what(), "KVXDiag2", MB_OK | MB_ICONERROR);
    } catch (...) {
        ::MessageBoxA(nullptr, "Unexpected error", "KVXDiag2", MB_OK | MB_ICONERROR);
    }
    if (SUCCEEDED(ole)) {
        ::OleUninitialize();
    }
    return exitCode;
}
