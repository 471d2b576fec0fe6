// Owners for the window-system resources the wizard holds: GDI objects, image lists, memory DCs,
// windows and critical sections. They complete common/win/UniqueHandles.h for the GUI side.
#pragma once

#include "common/win/UniqueHandles.h"

#include <windows.h>
#include <commctrl.h>

namespace kvx {

struct SGdiObjectCloser {
    static void Close(HGDIOBJ h) noexcept { ::DeleteObject(h); }
};
struct SImageListCloser {
    static void Close(HIMAGELIST h) noexcept { ::ImageList_Destroy(h); }
};
struct SMemoryDcCloser {
    static void Close(HDC h) noexcept { ::DeleteDC(h); }
};
struct SWindowCloser {
    static void Close(HWND h) noexcept { ::DestroyWindow(h); }
};

using UniqueFont = CUniqueResource<HFONT, nullptr, SGdiObjectCloser>;
using UniqueBrush = CUniqueResource<HBRUSH, nullptr, SGdiObjectCloser>;
using UniqueBitmap = CUniqueResource<HBITMAP, nullptr, SGdiObjectCloser>;
using UniqueImageList = CUniqueResource<HIMAGELIST, nullptr, SImageListCloser>;
using UniqueMemoryDc = CUniqueResource<HDC, nullptr, SMemoryDcCloser>;
// Only for a top-level window whose life the holder decides; child windows die with their parent.
using UniqueWindow = CUniqueResource<HWND, nullptr, SWindowCloser>;

// A critical section that lives exactly as long as its owner.
class CCriticalSection {
public:
    CCriticalSection() noexcept { ::InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { ::DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    CRITICAL_SECTION& get() noexcept { return m_cs; }

private:
    CRITICAL_SECTION m_cs;
};

// A screen DC borrowed for one scope.
class CWindowDc {
public:
    explicit CWindowDc(HWND hwnd) noexcept : m_hwnd(hwnd), m_hdc(::GetDC(hwnd)) {}
    ~CWindowDc()
    {
        if (m_hdc != nullptr) {
            ::ReleaseDC(m_hwnd, m_hdc);
        }
    }
    CWindowDc(const CWindowDc&) = delete;
    CWindowDc& operator=(const CWindowDc&) = delete;
    HDC get() const noexcept { return m_hdc; }

private:
    HWND m_hwnd;
    HDC m_hdc;
};

// Selects an object into a DC for one scope and puts the previous one back.
class CSelectObject {
public:
    CSelectObject(HDC hdc, HGDIOBJ object) noexcept : m_hdc(hdc), m_old(::SelectObject(hdc, object)) {}
    ~CSelectObject() { ::SelectObject(m_hdc, m_old); }
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;

private:
    HDC m_hdc;
    HGDIOBJ m_old;
};

} // namespace kvx
