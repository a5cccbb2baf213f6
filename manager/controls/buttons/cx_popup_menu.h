// Shows a popup menu for a window: the chosen command reaches the window as WM_COMMAND.
#pragma once

#include <windows.h>

// No default item.
constexpr int CX_NO_DEFAULT_ITEM = -2;

// Makes the default item bold unless it is CX_NO_DEFAULT_ITEM (by position when byPosition), brings the
// owner to the front and tracks the menu at the screen point with the TrackPopupMenuEx flags and
// parameters (null for none). E_INVALIDARG for a dead owner or an invalid menu; S_OK otherwise.
HRESULT CxShowPopupMenu(HWND owner, POINT screen, HMENU menu, int defaultItem, BOOL byPosition, UINT flags,
                        TPMPARAMS* params);
