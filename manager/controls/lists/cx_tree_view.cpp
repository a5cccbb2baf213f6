#include "manager/controls/lists/cx_tree_view.h"

BOOL CxTreeViewCtrl::Create(HWND parent, const RECT& rect, UINT id, DWORD style)
{
    return CreateEx(0, WC_TREEVIEWW, L"", style | WS_CHILD, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

void CxTreeViewCtrl::DeleteItemData(LPARAM) {}

BOOL CxTreeViewCtrl::OnNotifyReflect(NMHDR* header, LRESULT* pResult)
{
    // Both records hold the old item at the same place; only its data is read.
    if (header->code == TVN_DELETEITEMW || header->code == TVN_DELETEITEMA) {
        const LPARAM data = reinterpret_cast<const NMTREEVIEWW*>(header)->itemOld.lParam;
        if (data != 0)
            DeleteItemData(data);
        *pResult = 0;
        return TRUE;
    }
    return CxNotifyReflectWnd::OnNotifyReflect(header, pResult);
}
