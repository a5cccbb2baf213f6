// The base of the application's main window: the skinned dialog with menus plus the skin pack list and
// its menu, the tool-tip switch of every window, the remembered skin, and the answer to the
// application's single-instance probe.
#pragma once

#include "manager/dialogs/cx_dialog_menus.h"
#include "manager/framework/packs/cx_pack_list.h"

class CxMainDlg : public CxDialogEx, public CxPackList {
public:
    CxMainDlg() = default;
    CxMainDlg(UINT nIDTemplate, CWnd* pParentWnd) : CxDialogEx(nIDTemplate, pParentWnd) {}
    CxMainDlg(LPCWSTR lpszTemplateName, CWnd* pParentWnd) : CxDialogEx(lpszTemplateName, pParentWnd) {}
    ~CxMainDlg() override = default;

    // "Skin", then the base dialog's "Placement".
    HRESULT GetPersistProps(CxPersistEntries& list) override;
    // The pack menu is built before anything loads (so the remembered skin finds its pack), then the
    // base test.
    HRESULT CanLoad(BOOL allowed) override;
    // The pack description keys, then the skinned dialog's.
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;

    // Switches the application's tool tips (low flag 0x08000000 set = off) and tells this window and
    // every window below it (CXM_ENABLETOOLTIPS).
    void ToggleToolTips();
    // The skin section of a control by its key (control id + 2), for CXM_GETSKINSECTION: the derived
    // window answers the controls it knows and leaves the rest to this one, which names none, so such a
    // control keeps its template look.
    virtual const wchar_t* GetSkinSectionName(WPARAM key);
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;

protected:
    // Map id 0: the skinned dialog with menus, the pack list, then the window part (the link's entries
    // and the single-instance probe, answered with its own number) and the skin sections of controls.
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

    void OnRebuildPacks();
    void OnToolTips();
    void OnUpdateToolTips(CCmdUI* ui);

    DECLARE_MESSAGE_MAP()
};
