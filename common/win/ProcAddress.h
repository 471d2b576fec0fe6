// Typed GetProcAddress. FARPROC has no real signature, so the cast goes through void* once, here,
// instead of silencing -Wcast-function-type at every call site.
#pragma once

#include <windows.h>

namespace kvx {

template <typename T>
T GetProc(HMODULE module, const char* name) noexcept
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

} // namespace kvx
