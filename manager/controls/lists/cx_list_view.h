// The list view base of the application's file lists: an owned context menu that a right click drops
// at the cursor, and the item data of every deleted row handed to OnDeleteItemData, so that derived
// lists free what they keep per row.
#pragma once

#include "manager/controls/lists/cx_notify_reflect.h"

class CxListViewCtrl : public CxNotifyReflectWnd {
public:
    CxListViewCtrl() = default;
    ~CxListViewCtrl() override;

    // A child list view of the parent.
    BOOL Create(HWND parent, const RECT& rect, UINT id, DWORD style = WS_CHILD | WS_VISIBLE | LVS_REPORT);

    // Loads the program's menu resource and holds a popup menu with copies of its top-level items
    // (sub-menus copied whole) as the context menu, in place of the one held before. The loaded menu's
    // error when it cannot be loaded (the held menu stays); otherwise the menu is replaced and the
    // result is the copy's (the error of an item that could not be copied).
    HRESULT SetContextMenu(UINT menuId);
    HMENU GetContextMenu() const { return m_contextMenu; }

    // The item data of a row (0 when there is none).
    DWORD_PTR GetItemData(int item) const;

protected:
    // A deleted row's nonzero item data; nothing here.
    virtual void OnDeleteItemData(DWORD_PTR data);

    // LVN_DELETEITEM reports the row's data; LVN_DELETEALLITEMS is answered 0 so that every row is
    // reported.
    BOOL OnNotifyReflect(NMHDR* header, LRESULT* pResult) override;

    // With a context menu, shows it at the click (owner: the parent) instead of the list's own handling.
    LRESULT OnRButtonDown(WPARAM wParam, LPARAM lParam);

private:
    HMENU m_contextMenu = nullptr;

    DECLARE_MESSAGE_MAP()
};

// Copies every item of source to the end of target, each sub-menu as a new popup filled the same way;
// item texts are read with the system calls of the platform family. An item that cannot be copied is
// left out and the last such error returned after the others were copied; S_OK otherwise.
HRESULT CxCopyMenuItems(HMENU target, HMENU source);

// Scrolls a report list so that the item comes into view: down until it is the last row of the page,
// or up until it is the top row; 1 when the list scrolled, 0 when the item was in view already (or the
// list could not tell its row height, or did not scroll).
int CxListViewScrollToItem(HWND list, int item);
