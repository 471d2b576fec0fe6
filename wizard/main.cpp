// Entry point of KVXDiag2.exe: the library search restricted, one wizard per machine, common controls
// and COM for the dialogs, then the main form.
#include "common/journal/InstanceMutex.h"
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

    // Before anything touches the machine, the log configuration included: a second wizard would put
    // back what the running one has just switched off, and both would resume the same analysis. The
    // mutex outlives the form, whose end releases the core, so the next wizard starts only after the
    // core has finished with the journal.
    kvx::CInstanceMutex instance;
    if (!instance.Acquire()) {
        const kvxui::ELanguage language = kvxui::ChooseLanguage(::GetSystemDefaultLangID());
        ::MessageBoxW(nullptr, kvxui::CodeText(kvxui::eCodeText_ANOTHER_INSTANCE, language),
                      kvxui::KVXDIAG2_FORM_TITLE, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
        return static_cast<int>(kvx::KVXDIAG2_ERR_ANOTHER_INSTANCE);
    }

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
