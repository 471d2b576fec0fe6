// System DPI and the scaling of the form's design pixels.
#include "wizard/DpiScale.h"

#include "common/win/ProcAddress.h"

namespace kvxui {

namespace {

int ReadSystemDpi()
{
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (user32 != nullptr) {
        using PFNGETDPIFORSYSTEM = UINT(WINAPI*)();
        const auto getDpiForSystem = kvx::GetProc<PFNGETDPIFORSYSTEM>(user32, "GetDpiForSystem");
        if (getDpiForSystem != nullptr) {
            const UINT dpi = getDpiForSystem();
            if (dpi > 0) {
                return static_cast<int>(dpi);
            }
        }
    }
    const HDC screen = ::GetDC(nullptr);
    if (screen == nullptr) {
        return KVXDIAG2_DESIGN_DPI;
    }
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : KVXDIAG2_DESIGN_DPI;
}

} // namespace

int SystemDpi()
{
    // The system DPI of a system-aware process does not change while it runs.
    static const int dpi = ReadSystemDpi();
    return dpi;
}

int ScaleForDpi(int value, int dpi) { return ::MulDiv(value, dpi, KVXDIAG2_DESIGN_DPI); }

int Scale(int value) { return ScaleForDpi(value, SystemDpi()); }

float ScaleFactor() { return static_cast<float>(SystemDpi()) / KVXDIAG2_DESIGN_DPI; }

RECT ScaleRect(int x, int y, int width, int height)
{
    return RECT{Scale(x), Scale(y), Scale(x + width), Scale(y + height)};
}

} // namespace kvxui
