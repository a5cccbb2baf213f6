#include "manager/framework/skin/cx_skin_dlg.h"

// ---- CxSkinDlg ----

CxSkinDlg::CxSkinDlg() = default;

CxSkinDlg::CxSkinDlg(UINT nIDTemplate, CWnd* pParentWnd) : CxBaseDlg(nIDTemplate, pParentWnd) {}

CxSkinDlg::CxSkinDlg(LPCWSTR lpszTemplateName, CWnd* pParentWnd) : CxBaseDlg(lpszTemplateName, pParentWnd) {}

BOOL CxSkinDlg::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    if (CxBaseDlg::PreMap(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    return CxWndRegion::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN);
}

LRESULT CxSkinDlg::OnEraseBkgnd(WPARAM wParam, LPARAM lParam)
{
    if (!(m_flagsLow & CXFL_SKINREGION))
        return CxBaseDlg::OnEraseBkgnd(wParam, lParam);
    if (!(m_flagsLow & CXFL_BKGNDBLOCKED))
        Paint(reinterpret_cast<HDC>(wParam));
    return TRUE;
}

BEGIN_MESSAGE_MAP(CxSkinDlg, CxBaseDlg)
ON_MESSAGE(WM_ERASEBKGND, OnEraseBkgnd)
END_MESSAGE_MAP()

// ---- CxSkinDlgEx ----

BOOL CxSkinDlgEx::OnInitDialog()
{
    CxBaseDlg::OnInitDialog();
    UseHandCursor();
    CxSkinPropEntries list;
    GetSkinProps(list);
    return TRUE;
}

BOOL CxSkinDlgEx::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    if (CxSkinDlg::PreMap(hWnd, message, wParam, lParam, lResult, mapId) ||
        CxCursor::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN))
        return TRUE;
    if (message == CXM_SETTEXT) {
        HWND parent = ::GetParent(hWnd);
        const LRESULT taken = parent != nullptr ? ::SendMessageW(parent, CXM_SETTEXT, wParam, lParam) : 0;
        if (taken != 0) {
            lResult = taken;
            return TRUE;
        }
    }
    return CxToolTipText::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN);
}
