#include "manager/controls/bars/cx_indicator.h"

#include "manager/controls/bars/cx_bar_drawing.h"

CxIndicatorCtrl::CxIndicatorCtrl()
{
    CxWndLink::Attach(&m_hWnd);
}

CxIndicatorCtrl::~CxIndicatorCtrl()
{
    if (m_hWnd != nullptr)
        DestroyWindow();
}

BOOL CxIndicatorCtrl::Create(HWND parent, const RECT& rect, UINT id, DWORD style)
{
    return CreateEx(0, L"STATIC", L"", style, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                    parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

int CxIndicatorCtrl::GetStateIndex()
{
    HWND hWnd = GetWnd();
    return hWnd != nullptr && !IsWindowEnabled(hWnd) ? 0 : 1;
}

HRESULT CxIndicatorCtrl::LoadSkinOnce()
{
    if (m_flagsLow & CXFL_SKINLOADED)
        return S_FALSE;
    HWND hWnd = GetWnd();
    if (hWnd != nullptr && (m_flagsHigh & CXFH_PARENTFONT))
        CreateFont(CxParentFont(hWnd));
    return CxSkinImageCtrl::LoadSkinOnce();
}

BOOL CxIndicatorCtrl::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    if (message == WM_NCHITTEST) {
        // Clicks and moves over the lamp become non-client messages nobody acts on.
        lResult = HTNOWHERE;
        return TRUE;
    }
    if (CxStaticLayerT<CWnd>::PreMap(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    if (CxSkinImageCtrl::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN))
        return TRUE;
    if (CxPersistWnd::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN))
        return TRUE;
    if (CxMouseHover::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN))
        return TRUE;
    if (CxToolTipText::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN))
        return TRUE;
    // Without a skin image the static control draws its template look.
    if (GetBackground() == nullptr)
        return FALSE;
    switch (message) {
    case WM_ERASEBKGND:
        lResult = TRUE;
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps{};
        HDC dc = BeginPaint(hWnd, &ps);
        if (dc != nullptr)
            PaintGuarded(dc);
        EndPaint(hWnd, &ps);
        lResult = 0;
        return TRUE;
    }
    default:
        return FALSE;
    }
}

BOOL CxIndicatorCtrl::PostMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT&, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    return ProcessPressMessage(hWnd, message, wParam, lParam);
}
