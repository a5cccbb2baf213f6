// Drawing helpers the bars share: a window's DC and a selected GDI object held for a scope, one line of
// text drawn with the call of the platform family, the answer to WM_PAINT and the parent's font.
#pragma once

#include "manager/framework/windows/cx_platform.h"
#include "manager/framework/windows/cx_string.h"

#include <windows.h>

// The DC of a window for the length of a scope.
class CxWindowDC {
public:
    explicit CxWindowDC(HWND hWnd) : m_hWnd(hWnd), m_hDC(GetDC(hWnd)) {}
    ~CxWindowDC()
    {
        if (m_hDC != nullptr)
            ReleaseDC(m_hWnd, m_hDC);
    }
    CxWindowDC(const CxWindowDC&) = delete;
    CxWindowDC& operator=(const CxWindowDC&) = delete;
    HDC Get() const { return m_hDC; }

private:
    HWND m_hWnd;
    HDC m_hDC;
};

// Selects an object into a DC for the length of a scope; a null object selects nothing.
class CxDcSelection {
public:
    CxDcSelection(HDC dc, HGDIOBJ object) : m_hDC(dc), m_hOld(object != nullptr ? SelectObject(dc, object) : nullptr) {}
    ~CxDcSelection()
    {
        if (m_hOld != nullptr && m_hOld != HGDI_ERROR)
            SelectObject(m_hDC, m_hOld);
    }
    CxDcSelection(const CxDcSelection&) = delete;
    CxDcSelection& operator=(const CxDcSelection&) = delete;

private:
    HDC m_hDC;
    HGDIOBJ m_hOld;
};

// DrawText of the whole text: the wide call on the NT family, an ANSI copy on the Windows 95 family.
inline void CxDrawTextLine(HDC dc, const wchar_t* text, RECT& rect, UINT format)
{
    if (CxIsNtPlatform()) {
        DrawTextW(dc, text, -1, &rect, format);
        return;
    }
    CxHeapPtr<char> ansi(CxW2ANew(text));
    if (ansi)
        DrawTextA(dc, ansi.get(), -1, &rect, format);
}

// WM_PAINT: the update region painted by paint(dc) between BeginPaint and EndPaint.
template <class Paint>
void CxPaintUpdate(HWND hWnd, Paint&& paint)
{
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(hWnd, &ps);
    if (dc != nullptr)
        paint(dc);
    EndPaint(hWnd, &ps);
}

// The font of the window's parent (WM_GETFONT); null when there is no parent or it has no font.
inline HFONT CxParentFont(HWND hWnd)
{
    HWND parent = hWnd != nullptr ? GetParent(hWnd) : nullptr;
    return parent != nullptr ? reinterpret_cast<HFONT>(::SendMessageW(parent, WM_GETFONT, 0, 0)) : nullptr;
}
