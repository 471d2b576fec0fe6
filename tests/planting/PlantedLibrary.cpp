// A stand-in for a library that someone planted in a download folder: built
// under the names the wizard and the system load (msftedit.dll, UxTheme.dll,
// kvxapi.dll, ...), it leaves "<its path>.loaded" beside itself the moment any
// process loads it, and does nothing else.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(hInstance, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return TRUE;
    }
    path.resize(length);
    path += L".loaded";
    const HANDLE marker = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE) {
        ::CloseHandle(marker);
    }
    return TRUE;
}
