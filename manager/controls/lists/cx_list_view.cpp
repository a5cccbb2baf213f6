#include "manager/controls/lists/cx_list_view.h"

#include "manager/controls/buttons/cx_popup_menu.h"
#include "manager/framework/windows/cx_platform.h"
#include "manager/framework/windows/cx_string.h"

#include <windowsx.h>

#include <climits>
#include <cstdlib>

namespace {

HRESULT LastError()
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The two families of menu calls: the Unicode ones on NT, the ANSI ones elsewhere.
struct WideMenuCalls {
    using Char = wchar_t;
    using Info = MENUITEMINFOW;
    static BOOL Get(HMENU menu, UINT item, Info* info) { return GetMenuItemInfoW(menu, item, TRUE, info); }
    static BOOL Insert(HMENU menu, UINT item, const Info* info) { return InsertMenuItemW(menu, item, TRUE, info); }
};
struct AnsiMenuCalls {
    using Char = char;
    using Info = MENUITEMINFOA;
    static BOOL Get(HMENU menu, UINT item, Info* info) { return GetMenuItemInfoA(menu, item, TRUE, info); }
    static BOOL Insert(HMENU menu, UINT item, const Info* info) { return InsertMenuItemA(menu, item, TRUE, info); }
};

template <class Calls>
HRESULT CopyItems(HMENU target, HMENU source)
{
    const int count = GetMenuItemCount(source);
    if (count < 0)
        return LastError();
    // Windows 95 and NT 4 know only the combined type field.
    const UINT textMask = (CxGetPlatform() & 1) != 0 ? MIIM_TYPE : (MIIM_STRING | MIIM_BITMAP | MIIM_FTYPE);
    HRESULT result = S_OK;
    for (int position = 0; position < count; ++position) {
        typename Calls::Info info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_CHECKMARKS | MIIM_DATA | textMask;
        if (!Calls::Get(source, static_cast<UINT>(position), &info)) {
            result = LastError();
            continue;
        }
        // With the combined field, a bitmap, separator or owner-drawn item has no text: its type data
        // (a bitmap handle, the owner's value) is copied as it is.
        const bool hasText =
            info.cch > 0 &&
            (textMask != MIIM_TYPE || (info.fType & (MFT_BITMAP | MFT_SEPARATOR | MFT_OWNERDRAW)) == 0);
        CxHeapPtr<typename Calls::Char> text;
        if (hasText) {
            // The length counts characters of the call's own type, the terminator not included.
            const UINT length = info.cch;
            text.reset(static_cast<typename Calls::Char*>(CxAlloc((static_cast<size_t>(length) + 1) *
                                                                  sizeof(typename Calls::Char))));
            if (!text) {
                result = E_OUTOFMEMORY;
                continue;
            }
            info.dwTypeData = text.get();
            info.cch = length + 1;
            if (!Calls::Get(source, static_cast<UINT>(position), &info)) {
                result = LastError();
                continue;
            }
            text.get()[length] = 0;
        }
        // The copy gets a sub-menu of its own: the source's goes with the source.
        HMENU subMenu = nullptr;
        if (info.hSubMenu != nullptr) {
            subMenu = CreatePopupMenu();
            if (subMenu == nullptr) {
                result = E_OUTOFMEMORY;
                continue;
            }
            const HRESULT subResult = CopyItems<Calls>(subMenu, info.hSubMenu);
            if (FAILED(subResult))
                result = subResult;
            // A popup loaded from a resource carries its sub-menu's handle as its id as well.
            if (info.wID == static_cast<UINT>(reinterpret_cast<UINT_PTR>(info.hSubMenu)))
                info.wID = static_cast<UINT>(reinterpret_cast<UINT_PTR>(subMenu));
            info.hSubMenu = subMenu;
        }
        const int at = GetMenuItemCount(target);
        if (at < 0 || !Calls::Insert(target, static_cast<UINT>(at), &info)) {
            result = LastError();
            if (subMenu != nullptr)
                DestroyMenu(subMenu);
        }
    }
    return result;
}

}  // namespace

HRESULT CxCopyMenuItems(HMENU target, HMENU source)
{
    if (target == nullptr || source == nullptr || !IsMenu(target) || !IsMenu(source))
        return E_INVALIDARG;
    return CxIsNtPlatform() ? CopyItems<WideMenuCalls>(target, source) : CopyItems<AnsiMenuCalls>(target, source);
}

int CxListViewScrollToItem(HWND list, int item)
{
    if (list == nullptr || !IsWindow(list))
        return 0;
    const auto top = static_cast<long long>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    if (item == top)
        return 0;
    long long lines = 0;
    if (item > top) {
        const long long last = top + static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0)) - 1;
        if (item > last)
            lines = item - last;
    } else {
        lines = item - top;
    }
    if (lines == 0)
        return 0;
    RECT bounds{};
    bounds.top = 0;  // sub-item
    bounds.left = LVIR_BOUNDS;
    if (SendMessageW(list, LVM_GETSUBITEMRECT, 0, reinterpret_cast<LPARAM>(&bounds)) == 0)
        return 0;
    const long long rowHeight = std::llabs(static_cast<long long>(bounds.bottom) - bounds.top);
    if (rowHeight == 0)
        return 0;
    long long dy = lines * rowHeight;
    if (dy > INT_MAX)
        dy = INT_MAX;
    if (dy < INT_MIN)
        dy = INT_MIN;
    return SendMessageW(list, LVM_SCROLL, 0, static_cast<LPARAM>(static_cast<int>(dy))) != 0 ? 1 : 0;
}

BEGIN_MESSAGE_MAP(CxListViewCtrl, CxNotifyReflectWnd)
ON_MESSAGE(WM_RBUTTONDOWN, OnRButtonDown)
END_MESSAGE_MAP()

CxListViewCtrl::~CxListViewCtrl()
{
    if (m_contextMenu != nullptr)
        DestroyMenu(m_contextMenu);
}

BOOL CxListViewCtrl::Create(HWND parent, const RECT& rect, UINT id, DWORD style)
{
    return CreateEx(0, WC_LISTVIEWW, L"", style | WS_CHILD, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

HRESULT CxListViewCtrl::SetContextMenu(UINT menuId)
{
    HMENU loaded = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId));
    if (loaded == nullptr)
        return LastError();
    HMENU popup = CreatePopupMenu();
    if (popup == nullptr) {
        DestroyMenu(loaded);
        return E_OUTOFMEMORY;
    }
    const HRESULT result = CxCopyMenuItems(popup, loaded);
    DestroyMenu(loaded);
    if (m_contextMenu != nullptr)
        DestroyMenu(m_contextMenu);
    m_contextMenu = popup;
    return result;
}

DWORD_PTR CxListViewCtrl::GetItemData(int item) const
{
    if (m_hWnd == nullptr)
        return 0;
    LVITEMW row{};
    row.mask = LVIF_PARAM;
    row.iItem = item;
    if (::SendMessageW(m_hWnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&row)) == 0)
        return 0;
    return static_cast<DWORD_PTR>(row.lParam);
}

void CxListViewCtrl::OnDeleteItemData(DWORD_PTR) {}

BOOL CxListViewCtrl::OnNotifyReflect(NMHDR* header, LRESULT* pResult)
{
    if (header->code == LVN_DELETEITEM) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
        if (change->iItem != -1 && change->iSubItem == 0) {
            const DWORD_PTR data = GetItemData(change->iItem);
            if (data != 0)
                OnDeleteItemData(data);
        }
        *pResult = 0;
        return TRUE;
    }
    if (header->code == LVN_DELETEALLITEMS) {
        *pResult = 0;
        return TRUE;
    }
    return CxNotifyReflectWnd::OnNotifyReflect(header, pResult);
}

LRESULT CxListViewCtrl::OnRButtonDown(WPARAM, LPARAM lParam)
{
    if (m_contextMenu == nullptr)
        return Default();
    POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ::ClientToScreen(m_hWnd, &at);
    CxShowPopupMenu(::GetParent(m_hWnd), at, m_contextMenu, CX_NO_DEFAULT_ITEM, FALSE, 0, nullptr);
    return 0;
}
