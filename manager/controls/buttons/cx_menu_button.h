// A skinned toggle button that drops a popup menu under itself when it becomes checked, and unchecks
// itself once the menu has closed.
#pragma once

#include "manager/controls/buttons/cx_skin_button.h"

class CxMenuButton : public CxSkinButton {
public:
    CxMenuButton() = default;
    ~CxMenuButton() override = default;

    // The menu resource of the program whose sub-menu at position drops down (-1: the last; a menu id of
    // -1: none), and the window that owns it and receives its WM_COMMAND.
    void SetMenu(int menuId, int subMenuPosition, HWND owner)
    {
        m_menuId = menuId;
        m_subMenuPosition = subMenuPosition;
        m_hOwner = owner;
    }
    int GetMenuId() const { return m_menuId; }
    int GetSubMenuPosition() const { return m_subMenuPosition; }
    HWND GetOwner() const { return m_hOwner; }

protected:
    // After BM_SETCHECK: a check drops the menu at the button's lower-left corner and, once the menu has
    // closed, unchecks the button; a missing menu or owner shows nothing and still unchecks it.
    BOOL PostMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

    // Loads the menu, shows its sub-menu and destroys it again.
    void DropMenu(HWND hWnd);

private:
    int m_menuId = -1;
    int m_subMenuPosition = 0;
    HWND m_hOwner = nullptr;
};
