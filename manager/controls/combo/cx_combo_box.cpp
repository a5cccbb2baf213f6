#include "manager/controls/combo/cx_combo_box.h"

#include <commctrl.h>

CxComboBox::CxComboBox()
{
    CxWndLink::Attach(&m_hWnd);
}

CxComboBox::~CxComboBox()
{
    if (m_hWnd != nullptr)
        DestroyWindow();
}

BOOL CxComboBox::Create(HWND parent, const RECT& rect, UINT id, DWORD style)
{
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_USEREX_CLASSES};
    if (!InitCommonControlsEx(&init))
        return FALSE;
    return CreateEx(0, WC_COMBOBOXEXW, L"", style, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                    parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

BOOL CxComboBox::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    return CxSkinCtrl::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN);
}
