// The tree view base: the data of every deleted item with nonzero data goes to DeleteItemData, so that
// a tree keeping heap data in its items frees it exactly when the control deletes the item.
#pragma once

#include "manager/controls/lists/cx_notify_reflect.h"

class CxTreeViewCtrl : public CxNotifyReflectWnd {
public:
    CxTreeViewCtrl() = default;
    ~CxTreeViewCtrl() override = default;

    // A child tree view of the parent.
    BOOL Create(HWND parent, const RECT& rect, UINT id,
                DWORD style = WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT);

protected:
    // A deleted item's nonzero data; nothing here.
    virtual void DeleteItemData(LPARAM data);

    // TVN_DELETEITEM (either character set) reports the old item's data.
    BOOL OnNotifyReflect(NMHDR* header, LRESULT* pResult) override;
};
