// The framework's combo boxes: extended combo boxes ("ComboBoxEx32") placed by the "pos" key of the
// skin section their parent names for them.
#pragma once

#include "manager/controls/cx_skin_ctrl.h"
#include "manager/framework/windows/cx_wnd.h"

// The combo layer family: a pre-map and no post-map. Its map is the layer's own entries, then the
// control skin bundle's.
template <class T>
class CxComboLayerT : public CxWindowProcT<T, false> {
public:
    using CxWindowProcT<T, false>::CxWindowProcT;
};

class CxComboBox : public CxComboLayerT<CWnd>, public CxSkinCtrl {
public:
    CxComboBox();
    ~CxComboBox() override;

    // A child extended combo box of the parent; the height includes the drop-down list.
    BOOL Create(HWND parent, const RECT& rect, UINT id,
                DWORD style = WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST);

    int GetPosIndex() override { return 0; }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;
};

// The class applications derive their combo boxes from.
class CxSkinComboBox : public CxComboBox {
public:
    CxSkinComboBox() = default;
    ~CxSkinComboBox() override = default;
};
