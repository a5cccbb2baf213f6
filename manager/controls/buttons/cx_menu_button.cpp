#include "manager/controls/buttons/cx_menu_button.h"

#include "manager/controls/buttons/cx_popup_menu.h"

void CxMenuButton::DropMenu(HWND hWnd)
{
    RECT rect{};
    GetWindowRect(hWnd, &rect);
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_menuId));
    if (menu == nullptr)
        return;
    int position = m_subMenuPosition;
    if (position == -1)
        position = GetMenuItemCount(menu) - 1;
    HMENU popup = position >= 0 ? GetSubMenu(menu, position) : nullptr;
    CxShowPopupMenu(m_hOwner, POINT{rect.left, rect.bottom}, popup, CX_NO_DEFAULT_ITEM, FALSE, 0, nullptr);
    DestroyMenu(menu);
}

BOOL CxMenuButton::PostMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    const BOOL handled = CxSkinButton::PostMap(hWnd, message, wParam, lParam, lResult, mapId);
    if (mapId != CX_MAPID_CHAIN || message != BM_SETCHECK || (m_flagsHigh & CXFH_BUTTONBUSY))
        return handled;
    m_flagsHigh |= CXFH_BUTTONBUSY;
    if (::SendMessageW(hWnd, BM_GETCHECK, 0, 0) == 1 && m_menuId != -1) {
        DropMenu(hWnd);
        if (IsWindow(hWnd))
            ::SendMessageW(hWnd, BM_SETCHECK, 0, 0);
    }
    m_flagsHigh &= ~CXFH_BUTTONBUSY;
    return handled;
}
