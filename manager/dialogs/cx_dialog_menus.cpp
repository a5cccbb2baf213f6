#include "manager/dialogs/cx_dialog_menus.h"

#include "manager/framework/packs/cx_pack_list.h"
#include "manager/framework/windows/cx_app.h"

UINT CxMenuPromptId(UINT id, UINT flags, DWORD highFlags)
{
    if (flags == 0xFFFF)
        return (highFlags & CXFH_NOIDLEPROMPT) ? 0 : CX_IDS_IDLEMESSAGE;
    if (id >= 0xF000 && id < 0xF1F0)
        return 0xEF00 + (id - 0xF000) / 16;
    if (id != 0 && !(flags & (MF_POPUP | MF_SEPARATOR)))
        return id;
    return 0;
}

void CxMenuCmdUI::Enable(BOOL bOn)
{
    m_bEnableChanged = TRUE;
    EnableMenuItem(m_hMenu, m_nIndex, MF_BYPOSITION | (bOn ? MF_ENABLED : MF_GRAYED));
}

void CxMenuCmdUI::SetCheck(int nCheck)
{
    CheckMenuItem(m_hMenu, m_nIndex, MF_BYPOSITION | (nCheck ? MF_CHECKED : MF_UNCHECKED));
}

void CxUpdateCmdUI(CCmdUI* ui, BOOL enable, BOOL check)
{
    if (ui == nullptr)
        return;
    if (dynamic_cast<CxMenuCmdUI*>(ui) != nullptr)
        ui->SetCheck(check ? 1 : 0);
    ui->Enable(enable);
}

HRESULT CxGetWindowFont(HWND hWnd, LOGFONTA* font)
{
    if (font == nullptr)
        return E_INVALIDARG;
    *font = LOGFONTA{};
    HGDIOBJ source = IsWindow(hWnd) ? reinterpret_cast<HGDIOBJ>(::SendMessageW(hWnd, WM_GETFONT, 0, 0)) : nullptr;
    if (source == nullptr)
        source = GetStockObject(SYSTEM_FONT);
    if (source == nullptr)
        return E_UNEXPECTED;
    if (GetObjectA(source, sizeof(*font), font) != sizeof(*font))
        return E_ACCESSDENIED;
    return S_OK;
}

HRESULT CxCreateFont(HWND hWnd, HFONT* font, const LOGFONTA* logFont)
{
    if (font == nullptr)
        return E_INVALIDARG;
    *font = nullptr;
    LOGFONTA windowFont{};
    if (logFont == nullptr) {
        const HRESULT hr = CxGetWindowFont(hWnd, &windowFont);
        if (FAILED(hr))
            return hr;
        logFont = &windowFont;
    }
    *font = CreateFontIndirectA(logFont);
    return *font != nullptr ? S_OK : E_FAIL;
}

BOOL CxSkinQueryForwarder::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                                DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId, true);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (run == CxMapRun::BaseAndOwn && CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    switch (message) {
    case CXM_GETSKINFILE:
    case CXM_GETPACKTEXT:
    case CXM_ASKOWNER:
    case CXM_GETPACKFILE: {
        HWND parent = GetParent(hWnd);
        lResult = parent != nullptr ? ::SendMessageW(parent, message, wParam, lParam) : 0;
        return TRUE;
    }
    default:
        return FALSE;
    }
}

BOOL CxDialogEx::OnInitDialog()
{
    CxDialog::OnInitDialog();
    m_menuBorder.Create(m_hWnd, (m_flagsLow & CXFL_SKINREGION) == 0);
    return TRUE;
}

void CxDialogEx::OnMenuSelect(UINT id, UINT flags)
{
    CxString text;
    const UINT prompt = CxMenuPromptId(id, flags, m_flagsHigh);
    if (prompt != 0) {
        CxWinApp* app = CxGetApp();
        if (app != nullptr && app->GetString(text, prompt) && !text.IsEmpty()) {
            text.Attach(CxStrSplitAt(text, TRUE, L'\n'));  // the description before the short name
        } else {
            text.Empty();
            CxPackTextRequest request{CX_PACKKEY_DSCR, 0, static_cast<int>(prompt), 0};
            if (prompt >= CX_ID_PACK_FIRST && prompt <= CX_ID_PACK_LAST)
                ::SendMessageW(m_hWnd, CXM_GETPACKTEXT, reinterpret_cast<WPARAM>(&request),
                               reinterpret_cast<LPARAM>(&text));
            else if (prompt >= CX_ID_LANGUAGE_FIRST && prompt <= CX_ID_LANGUAGE_LAST)
                ::SendMessageW(m_hWnd, CXM_GETLANGUAGETEXT, reinterpret_cast<WPARAM>(&request),
                               reinterpret_cast<LPARAM>(&text));
        }
    }
    CxPostText(m_hWnd, CXM_SETTEXT, text);
}

void CxDialogEx::OnInitMenuPopup(HMENU popup, BOOL systemMenu)
{
    if (systemMenu || popup == nullptr)
        return;
    const int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
        const UINT id = GetMenuItemID(popup, i);
        if (id == 0 || id == static_cast<UINT>(-1))
            continue;  // separators and sub-menus
        CxMenuCmdUI ui(popup, static_cast<UINT>(i));
        ui.m_nID = id;
        ui.DoUpdate(this, TRUE);
    }
}

BOOL CxDialogEx::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    if (CxDialog::PreMap(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    switch (message) {
    case CXM_SETTEXT: {
        // The text is the dialog's now, shown or not.
        auto* text = reinterpret_cast<wchar_t*>(wParam);
        if (m_pStatusBar != nullptr && m_pStatusBar->GetWnd() != nullptr)
            m_pStatusBar->SetText(text, FALSE);
        CxFree(text);
        lResult = 1;
        return TRUE;
    }
    case CXM_FRAMEIMAGESET:
        if (m_menuBorder.m_hWnd != nullptr && IsWindow(m_menuBorder.m_hWnd))
            ::ShowWindow(m_menuBorder.m_hWnd, wParam != 0 ? SW_HIDE : SW_SHOW);
        lResult = 0;
        return TRUE;
    case WM_MENUSELECT:
        OnMenuSelect(LOWORD(wParam), HIWORD(wParam));
        break;  // the default handling goes on
    default:
        break;
    }
    return CxToolTipText::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN);
}

BOOL CxDialogEx::PostMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (message == WM_INITMENUPOPUP)
        OnInitMenuPopup(reinterpret_cast<HMENU>(wParam), HIWORD(lParam));
    return CxDialog::PostMap(hWnd, message, wParam, lParam, lResult, mapId);
}
