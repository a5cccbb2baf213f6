#include "manager/dialogs/cx_main_dlg.h"

#include "manager/framework/windows/cx_app.h"

namespace {

BOOL CALLBACK TellToolTips(HWND child, LPARAM on)
{
    ::SendMessageW(child, CXM_ENABLETOOLTIPS, static_cast<WPARAM>(on), 0);
    return TRUE;
}

}  // namespace

BEGIN_MESSAGE_MAP(CxMainDlg, CxDialogEx)
ON_COMMAND(CX_ID_PACK_ANCHOR, OnRebuildPacks)
ON_COMMAND(CX_ID_TOOLTIPS, OnToolTips)
ON_UPDATE_COMMAND_UI(CX_ID_TOOLTIPS, OnUpdateToolTips)
END_MESSAGE_MAP()

HRESULT CxMainDlg::GetPersistProps(CxPersistEntries& list)
{
    if (!list.Add(CxPackList::SkinEntry(m_hWnd)))
        return E_OUTOFMEMORY;
    return CxDialogEx::GetPersistProps(list);
}

HRESULT CxMainDlg::CanLoad(BOOL allowed)
{
    if (GetPacks().GetCount() == 0 && m_hWnd != nullptr)
        BuildPackMenu(GetMenu(m_hWnd), -1);
    return CxDialogEx::CanLoad(allowed);
}

HRESULT CxMainDlg::GetSkinProps(CxSkinPropEntries& list)
{
    const HRESULT hr = CxAppendPackKeys(list, m_hWnd);
    if (FAILED(hr))
        return hr;
    return CxDialogEx::GetSkinProps(list);
}

const wchar_t* CxMainDlg::GetSkinSectionName(WPARAM)
{
    return nullptr;
}

void CxMainDlg::OnRebuildPacks()
{
    BuildPackMenu(GetMenu(m_hWnd), -1);
}

void CxMainDlg::ToggleToolTips()
{
    CxWinApp* app = CxGetApp();
    if (app == nullptr)
        return;
    const bool wasOff = (app->GetFlagsLow() & CXFL_NOTOOLTIPS) != 0;
    if (wasOff)
        app->ModifyAppFlags(0, CXFL_NOTOOLTIPS);
    else
        app->ModifyAppFlags(CXFL_NOTOOLTIPS, 0);
    const WPARAM on = wasOff ? TRUE : FALSE;
    ::SendMessageW(m_hWnd, CXM_ENABLETOOLTIPS, on, 0);
    EnumChildWindows(m_hWnd, &TellToolTips, static_cast<LPARAM>(on));
}

void CxMainDlg::OnToolTips()
{
    ToggleToolTips();
}

void CxMainDlg::OnUpdateToolTips(CCmdUI* ui)
{
    CxWinApp* app = CxGetApp();
    CxUpdateCmdUI(ui, TRUE, app != nullptr && !(app->GetFlagsLow() & CXFL_NOTOOLTIPS));
}

BOOL CxMainDlg::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo)
{
    // The pack items: a choice is posted, so the menu closes before the skin is applied.
    if (nID >= CX_ID_PACK_FIRST && nID <= CX_ID_PACK_LAST) {
        if (nCode == CN_COMMAND) {
            if (pHandlerInfo == nullptr)
                ::PostMessageW(m_hWnd, CXM_APPLYSELECTEDSKIN, 0, static_cast<LPARAM>(nID));
            return TRUE;
        }
        if (nCode == CN_UPDATE_COMMAND_UI) {
            CxUpdateCmdUI(static_cast<CCmdUI*>(pExtra), (m_flagsHigh & CXFH_MENUSLOCKED) == 0,
                          static_cast<int>(nID) == GetCurrentPackId());
            return TRUE;
        }
    }
    return CxDialogEx::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

BOOL CxMainDlg::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    if (CxDialogEx::PreMap(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    if (CxPackList::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN))
        return TRUE;
    const UINT probe = CxWinApp::GetInstanceMessage();
    if (probe != 0 && message == probe) {
        lResult = static_cast<LRESULT>(probe);
        return TRUE;
    }
    if (message == CXM_GETSKINSECTION) {
        // The answer is the window's text, kept alive by it; nothing is stored without a place for it.
        if (lParam != 0)
            *reinterpret_cast<const wchar_t**>(lParam) = GetSkinSectionName(wParam);
        lResult = lParam != 0;
        return TRUE;
    }
    return FALSE;
}
