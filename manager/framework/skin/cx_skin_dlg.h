// The skin dialogs: CxSkinDlg, the base dialog that shows a skin background and a window region, and
// CxSkinDlgEx, the skinned secondary dialog with the hand cursor, tooltip texts and the hover texts of
// its controls handed on to its owner.
#pragma once

#include "manager/framework/images/cx_skin_image.h"
#include "manager/framework/skin/cx_components.h"
#include "manager/framework/skin/cx_skin_props.h"
#include "manager/framework/windows/cx_basedlg.h"

class CxSkinDlg : public CxBaseDlg, public CxSkinFrame {
public:
    CxSkinDlg();
    CxSkinDlg(UINT nIDTemplate, CWnd* pParentWnd);
    CxSkinDlg(LPCWSTR lpszTemplateName, CWnd* pParentWnd);
    ~CxSkinDlg() override = default;

protected:
    // Map id 0: the base dialog's map, then the region component's; other ids handle nothing.
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

    // Without a skin region the base dialog's erase (with its size grip); with one the skin background
    // is painted (not while a new bitmap is being stored) and the erase is done.
    LRESULT OnEraseBkgnd(WPARAM wParam, LPARAM lParam);

private:
    DECLARE_MESSAGE_MAP()
};

class CxSkinDlgEx : public CxSkinDlg, public CxCursor, public CxToolTipText, public CxWndComponent {
public:
    CxSkinDlgEx() = default;
    CxSkinDlgEx(UINT nIDTemplate, CWnd* pParentWnd) : CxSkinDlg(nIDTemplate, pParentWnd) {}
    CxSkinDlgEx(LPCWSTR lpszTemplateName, CWnd* pParentWnd) : CxSkinDlg(lpszTemplateName, pParentWnd) {}
    ~CxSkinDlgEx() override = default;

    // The base dialog's set-up, then the hand cursor and the dialog's skin keys.
    BOOL OnInitDialog() override;

protected:
    // Map id 0 only: the skin dialog's map and the cursor; a hover text goes to the parent, and when the
    // parent does not take it (answer 0) the tooltip text component frees it. Either way the answer is
    // nonzero, so the text has been taken here.
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;
};
