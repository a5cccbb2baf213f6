#include "manager/controls/bars/cx_menu_border.h"

CxMenuBorder::CxMenuBorder()
{
    CxWndLink::Attach(&m_hWnd);
}

CxMenuBorder::~CxMenuBorder()
{
    if (m_hWnd != nullptr)
        DestroyWindow();
}

HRESULT CxMenuBorder::Create(HWND parent, BOOL show)
{
    if (GetWnd() != nullptr)
        return E_ACCESSDENIED;
    RECT rect{};
    if (!IsWindow(parent) || !GetClientRect(parent, &rect))
        return E_OUTOFMEMORY;
    rect.left -= CX_MENUBORDER_OVERHANG;
    rect.right += CX_MENUBORDER_OVERHANG;
    rect.bottom += CX_MENUBORDER_OVERHANG;
    if (!CreateEx(WS_EX_TRANSPARENT, L"button", L"", WS_CHILD | BS_GROUPBOX, rect.left, rect.top,
                  rect.right - rect.left, rect.bottom - rect.top, parent,
                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(CX_MENUBORDER_ID))))
        return E_OUTOFMEMORY;
    if (GetMenu(parent) == nullptr)
        return S_OK;
    TEXTMETRICW metrics{};
    HDC dc = GetDC(m_hWnd);
    if (dc == nullptr)
        return E_UNEXPECTED;
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
    const BOOL measured = GetTextMetricsW(dc, &metrics);
    if (old != nullptr)
        SelectObject(dc, old);
    ReleaseDC(m_hWnd, dc);
    if (!measured)
        return E_UNEXPECTED;
    ::SetWindowPos(m_hWnd, nullptr, rect.left, rect.top - metrics.tmHeight / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_HIDEWINDOW);
    if (show)
        ShowWindow(SW_SHOW);
    return S_OK;
}

BOOL CxMenuBorder::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    return CxPersistChild::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
}
