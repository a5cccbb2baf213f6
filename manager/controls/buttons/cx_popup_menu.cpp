#include "manager/controls/buttons/cx_popup_menu.h"

HRESULT CxShowPopupMenu(HWND owner, POINT screen, HMENU menu, int defaultItem, BOOL byPosition, UINT flags,
                        TPMPARAMS* params)
{
    if (owner == nullptr || !IsWindow(owner) || menu == nullptr || !IsMenu(menu))
        return E_INVALIDARG;
    if (defaultItem != CX_NO_DEFAULT_ITEM)
        SetMenuDefaultItem(menu, static_cast<UINT>(defaultItem), byPosition);
    SetForegroundWindow(owner);
    TrackPopupMenuEx(menu, flags, screen.x, screen.y, owner, params);
    return S_OK;
}
