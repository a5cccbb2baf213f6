// The thin line under a dialog's menu bar: a transparent group box whose top edge alone lies inside the
// dialog, half a text line above the client area, where the group box draws its frame line.
#pragma once

#include "manager/framework/skin/cx_skin_props.h"
#include "manager/framework/windows/cx_persist.h"

// How far the group box reaches past the dialog's client area to the left, right and bottom.
constexpr int CX_MENUBORDER_OVERHANG = 1000;
// The border's child id.
constexpr UINT CX_MENUBORDER_ID = 0xFFFF;

class CxMenuBorder : public CxWindowProcT<CWnd>, public CxPersistChild, public CxSkinPos {
public:
    CxMenuBorder();
    ~CxMenuBorder() override;

    // Creates the border in the parent: E_ACCESSDENIED when it exists already, E_OUTOFMEMORY when it
    // cannot be made. Under a menu bar it moves up by half its font's text height and is shown with
    // show; without a menu it stays hidden (S_OK). E_UNEXPECTED when the text metrics cannot be read.
    HRESULT Create(HWND parent, BOOL show);

    int GetPosIndex() override { return 0; }

protected:
    // The persisted-properties entries of a child window.
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;
};
