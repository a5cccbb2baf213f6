#include "platform/afx/afx_wnd.h"

// ---- CCmdUI ----

void CCmdUI::Enable(BOOL bOn)
{
    m_bEnableChanged = TRUE;
    if (m_pOther == nullptr || m_pOther->m_hWnd == nullptr)
        return;
    HWND control = m_pOther->m_hWnd;
    // Focus on a control being disabled would be stranded: hand it to the next control first.
    if (!bOn && GetFocus() == control) {
        HWND parent = GetParent(control);
        if (parent != nullptr)
            SendMessageW(parent, WM_NEXTDLGCTL, 0, FALSE);
    }
    ::EnableWindow(control, bOn);
}

void CCmdUI::SetCheck(int nCheck)
{
    if (m_pOther == nullptr || m_pOther->m_hWnd == nullptr)
        return;
    if (SendMessageW(m_pOther->m_hWnd, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON)
        SendMessageW(m_pOther->m_hWnd, BM_SETCHECK, static_cast<WPARAM>(nCheck), 0);
}

void CCmdUI::SetText(LPCWSTR lpszText)
{
    if (m_pOther != nullptr && m_pOther->m_hWnd != nullptr)
        SetWindowTextW(m_pOther->m_hWnd, lpszText != nullptr ? lpszText : L"");
}

BOOL CCmdUI::DoUpdate(CCmdTarget* pTarget, BOOL bDisableIfNoHandler)
{
    if (pTarget == nullptr || m_nID == 0)
        return FALSE;
    m_bEnableChanged = FALSE;
    if (pTarget->OnCmdMsg(m_nID, CN_UPDATE_COMMAND_UI, this, nullptr))
        return TRUE;
    if (bDisableIfNoHandler && !m_bEnableChanged) {
        AFX_CMDHANDLERINFO info{nullptr, nullptr};
        Enable(pTarget->OnCmdMsg(m_nID, CN_COMMAND, this, &info));
    }
    return FALSE;
}

// ---- Idle update of dialog controls ----

void CWnd::UpdateDialogControls(CCmdTarget* pTarget, BOOL bDisableIfNoHandler)
{
    // A stand-in object per control: the handlers see a CWnd, the control keeps its own procedure.
    CWnd control;
    CCmdUI state;
    state.m_pOther = &control;
    for (HWND child = GetWindow(m_hWnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        control.m_hWnd = child;
        state.m_nID = static_cast<UINT>(::GetDlgCtrlID(child)) & 0xFFFF;
        if (state.m_nID == 0)
            continue;
        BOOL disable = bDisableIfNoHandler;
        if (disable) {
            // Only push-type buttons are disabled for want of a handler: check boxes, radio buttons,
            // group boxes and non-buttons work without one.
            if (!(::SendMessageW(child, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON)) {
                disable = FALSE;
            } else {
                const DWORD type = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE)) & BS_TYPEMASK;
                if (type == BS_AUTOCHECKBOX || type == BS_AUTO3STATE || type == BS_GROUPBOX ||
                    type == BS_AUTORADIOBUTTON)
                    disable = FALSE;
            }
        }
        state.DoUpdate(pTarget, disable);
    }
    control.m_hWnd = nullptr;  // never owned
}

// ---- CToolTipCtrl ----

BOOL CToolTipCtrl::Create(CWnd* pParentWnd, DWORD dwStyle)
{
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    HWND owner = pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr;
    if (!CreateEx(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | dwStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                  CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr))
        return FALSE;
    SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return TRUE;
}

TTTOOLINFOW CToolTipCtrl::ToolInfo(HWND hWndTool) const
{
    TTTOOLINFOW info{};
    info.cbSize = sizeof(info);
    info.uFlags = TTF_IDISHWND;
    info.hwnd = GetParent(hWndTool);
    info.uId = reinterpret_cast<UINT_PTR>(hWndTool);
    return info;
}

BOOL CToolTipCtrl::AddTool(CWnd* pWnd, LPCWSTR lpszText, UINT uFlags)
{
    return pWnd != nullptr && AddTool(pWnd->m_hWnd, lpszText, uFlags);
}

BOOL CToolTipCtrl::AddTool(HWND hWndTool, LPCWSTR lpszText, UINT uFlags)
{
    if (m_hWnd == nullptr || hWndTool == nullptr)
        return FALSE;
    TTTOOLINFOW info = ToolInfo(hWndTool);
    info.uFlags |= uFlags;
    info.lpszText = const_cast<LPWSTR>(lpszText != nullptr ? lpszText : L"");
    return ::SendMessageW(m_hWnd, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info)) != 0;
}

void CToolTipCtrl::UpdateTipText(LPCWSTR lpszText, HWND hWndTool)
{
    if (m_hWnd == nullptr)
        return;
    TTTOOLINFOW info = ToolInfo(hWndTool);
    info.lpszText = const_cast<LPWSTR>(lpszText != nullptr ? lpszText : L"");
    ::SendMessageW(m_hWnd, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

BOOL CToolTipCtrl::HasTool(HWND hWndTool) const
{
    if (m_hWnd == nullptr)
        return FALSE;
    TTTOOLINFOW info = ToolInfo(hWndTool);
    return ::SendMessageW(m_hWnd, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&info)) != 0;
}

std::wstring CToolTipCtrl::GetText(HWND hWndTool) const
{
    if (!HasTool(hWndTool))
        return {};
    wchar_t text[1024] = {};
    TTTOOLINFOW info = ToolInfo(hWndTool);
    info.lpszText = text;
    ::SendMessageW(m_hWnd, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&info));
    text[1023] = 0;
    return text;
}

int CToolTipCtrl::GetToolCount() const
{
    return m_hWnd != nullptr ? static_cast<int>(::SendMessageW(m_hWnd, TTM_GETTOOLCOUNT, 0, 0)) : 0;
}

void CToolTipCtrl::Activate(BOOL bActivate)
{
    if (m_hWnd != nullptr)
        ::SendMessageW(m_hWnd, TTM_ACTIVATE, bActivate, 0);
}
