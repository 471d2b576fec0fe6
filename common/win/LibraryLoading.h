// Where the deliverables take code from. The wizard runs elevated, often from a
// download folder that anybody could have dropped a DLL into, so no library is
// ever looked up by the system's ordinary search: system libraries come from
// the system directory, everything else from one full path.
#pragma once

#include "common/win/ProcAddress.h"

#include <windows.h>

#include <string>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace kvx {

// True where LoadLibraryEx understands the LOAD_LIBRARY_SEARCH_* flags (Windows
// 8, and Windows 7 with KB2533623); AddDllDirectory arrived with them, which is
// the documented way to tell.
inline bool HasSearchFlags() noexcept
{
    return ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "AddDllDirectory") != nullptr;
}

// Restricts the process's library search before anything else is loaded: the
// system directory alone where the system can, and at least no current
// directory where it cannot (there, every load of this code base names a full
// path anyway). Returns whether the system-directory-only default is in force.
inline bool HardenLibrarySearch() noexcept
{
    using PFN_SETDEFAULTDLLDIRECTORIES = BOOL(WINAPI*)(DWORD);
    const auto pfnSetDefault =
        GetProc<PFN_SETDEFAULTDLLDIRECTORIES>(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    // Also with the default directories set: a load with
    // LOAD_WITH_ALTERED_SEARCH_PATH (the SDK's) follows the older search order,
    // which would otherwise include the current directory.
    ::SetDllDirectoryW(L"");
    return pfnSetDefault != nullptr && pfnSetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

// A library of the system, e.g. L"msftedit.dll", from the system directory only
// (the directory of the process's own bitness; WoW64 redirects it for a 32-bit
// process).
inline HMODULE LoadSystemLibrary(const wchar_t* name) noexcept
{
    if (HasSearchFlags()) {
        // A bare name still goes through the manifest's side-by-side redirection
        // first.
        return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    try {
        std::wstring path(MAX_PATH, L'\0');
        UINT length = ::GetSystemDirectoryW(&path[0], static_cast<UINT>(path.size()));
        if (length >= path.size()) {
            path.resize(length + 1);
            length = ::GetSystemDirectoryW(&path[0], static_cast<UINT>(path.size()));
        }
        if (length == 0 || length >= path.size()) {
            return nullptr;
        }
        path.resize(length);
        path += L'\\';
        path += name;
        // The altered order makes the library's own dependencies come from the
        // system directory too.
        return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } catch (...) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

// A library that is not the system's, by its full path only: a relative path
// would be resolved against the current directory (LoadLibraryEx leaves its
// meaning with this flag undefined), so it is refused with ERROR_BAD_PATHNAME.
// The library's dependencies are searched from its own folder first.
inline HMODULE LoadLibraryByFullPath(const std::wstring& path) noexcept
{
    const bool bDrive = path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool bUnc = path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
    if (!bDrive && !bUnc) {
        ::SetLastError(ERROR_BAD_PATHNAME);
        return nullptr;
    }
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The same for a path in the ANSI code page (the product's install path is read
// with the A API).
inline HMODULE LoadLibraryByFullPath(const std::string& path) noexcept
{
    try {
        const int count = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), static_cast<int>(path.size()), nullptr, 0);
        if (count <= 0) {
            ::SetLastError(ERROR_BAD_PATHNAME);
            return nullptr;
        }
        std::wstring wide(static_cast<size_t>(count), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), static_cast<int>(path.size()), &wide[0], count);
        return LoadLibraryByFullPath(wide);
    } catch (...) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

} // namespace kvx
