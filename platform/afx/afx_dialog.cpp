#include "platform/afx/afx_dialog.h"

#include "platform/afx/afx_app.h"

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_pParentWnd(pParentWnd), m_nTemplateId(nIDTemplate) {}

CDialog::CDialog(LPCWSTR lpszTemplateName, CWnd* pParentWnd) : m_pParentWnd(pParentWnd)
{
    SetTemplateName(lpszTemplateName);
}

void CDialog::SetTemplateName(LPCWSTR lpszTemplateName)
{
    if (IS_INTRESOURCE(lpszTemplateName)) {
        m_nTemplateId = reinterpret_cast<UINT_PTR>(lpszTemplateName);
        m_templateName.clear();
    } else {
        m_nTemplateId = 0;
        m_templateName = lpszTemplateName;
    }
}

LPCWSTR CDialog::TemplateName() const
{
    if (m_nTemplateId != 0)
        return MAKEINTRESOURCEW(m_nTemplateId);
    return m_templateName.empty() ? nullptr : m_templateName.c_str();
}

LPCDLGTEMPLATEW CDialog::FindTemplate(HINSTANCE hInstance) const
{
    if (m_lpDialogTemplate != nullptr)
        return m_lpDialogTemplate;
    LPCWSTR name = TemplateName();
    if (name == nullptr)
        return nullptr;
    HRSRC resource = FindResourceW(hInstance, name, RT_DIALOG);
    if (resource == nullptr)
        return nullptr;
    HGLOBAL loaded = LoadResource(hInstance, resource);
    if (loaded == nullptr)
        return nullptr;
    return static_cast<LPCDLGTEMPLATEW>(LockResource(loaded));
}

BOOL CDialog::InitModalIndirect(LPCDLGTEMPLATEW lpDialogTemplate, CWnd* pParentWnd)
{
    if (lpDialogTemplate == nullptr)
        return FALSE;
    m_lpDialogTemplate = lpDialogTemplate;
    m_nTemplateId = 0;
    m_templateName.clear();
    m_pParentWnd = pParentWnd;
    return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM)
{
    // Everything else reaches the object through its window procedure before the system dialog
    // procedure runs; only the initialisation's answer (set the focus or not) goes through here.
    if (message == WM_INITDIALOG) {
        auto* dialog = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hWnd));
        return dialog != nullptr ? dialog->OnInitDialog() : TRUE;
    }
    return FALSE;
}

BOOL CDialog::CreateDlgIndirect(LPCDLGTEMPLATEW lpDialogTemplate, HWND hWndParent, HINSTANCE hInstance)
{
    if (lpDialogTemplate == nullptr || m_hWnd != nullptr)
        return FALSE;
    HookWindowCreate(this);
    HWND hWnd = CreateDialogIndirectParamW(hInstance, lpDialogTemplate, hWndParent, &CDialog::DialogProc, 0);
    UnhookWindowCreate();
    if (hWnd != nullptr && m_hWnd != hWnd) {
        ::DestroyWindow(hWnd);  // not attached: not left behind
        return FALSE;
    }
    return hWnd != nullptr;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    return Create(MAKEINTRESOURCEW(nIDTemplate), pParentWnd);
}

BOOL CDialog::Create(LPCWSTR lpszTemplateName, CWnd* pParentWnd)
{
    if (lpszTemplateName == nullptr)
        return FALSE;
    SetTemplateName(lpszTemplateName);
    m_lpDialogTemplate = nullptr;
    m_pParentWnd = pParentWnd;
    HINSTANCE instance = AfxGetResourceHandle();
    return CreateDlgIndirect(FindTemplate(instance), pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr, instance);
}

BOOL CDialog::CreateIndirect(LPCDLGTEMPLATEW lpDialogTemplate, CWnd* pParentWnd)
{
    m_pParentWnd = pParentWnd;
    return CreateDlgIndirect(lpDialogTemplate, pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr,
                             AfxGetInstanceHandle());
}

HWND CDialog::PreModal()
{
    // The top-level window above the given parent, or the main window when none was given.
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    if (owner == nullptr) {
        CWnd* main = AfxGetMainWnd();
        if (main != nullptr && main != this)
            owner = main->m_hWnd;
    }
    while (owner != nullptr && (GetWindowLongPtrW(owner, GWL_STYLE) & WS_CHILD))
        owner = GetParent(owner);
    return owner;
}

void CDialog::PostModal() {}

int CDialog::DoModal()
{
    return RunModalDialog(MLF_SHOWONIDLE);
}

int CDialog::RunModalDialog(DWORD dwLoopFlags)
{
    HINSTANCE instance = AfxGetResourceHandle();
    LPCDLGTEMPLATEW dialogTemplate = FindTemplate(instance);
    if (dialogTemplate == nullptr)
        return -1;

    HWND owner = PreModal();
    bool enableOwner = false;
    if (owner != nullptr && IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        enableOwner = true;
    }

    m_nModalResult = -1;
    m_nFlags |= WF_CONTINUEMODAL;
    if (CreateDlgIndirect(dialogTemplate, owner, m_lpDialogTemplate != nullptr ? AfxGetInstanceHandle() : instance)) {
        if (m_nFlags & WF_CONTINUEMODAL) {
            DWORD flags = dwLoopFlags;
            if (GetStyle() & DS_NOIDLEMSG)
                flags |= MLF_NOIDLEMSG;
            RunModalLoop(flags);
        }
        if (m_hWnd != nullptr)
            SetWindowPos(nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    }
    m_nFlags &= ~WF_CONTINUEMODAL;
    const int result = m_nModalResult;

    if (enableOwner)
        ::EnableWindow(owner, TRUE);
    if (owner != nullptr && GetActiveWindow() == m_hWnd)
        SetActiveWindow(owner);
    DestroyWindow();
    PostModal();
    return result;
}

void CDialog::EndDialog(int nResult)
{
    if (m_nFlags & (WF_MODALLOOP | WF_CONTINUEMODAL))
        EndModalLoop(nResult);
    if (m_hWnd != nullptr)
        ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnInitDialog()
{
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg)
{
    if (CWnd::PreTranslateMessage(pMsg))
        return TRUE;
    // Keyboard and mouse input for the dialog or its controls goes through the dialog manager
    // (tabbing, default button, Esc).
    const UINT message = pMsg->message;
    if ((message < WM_KEYFIRST || message > WM_KEYLAST) && (message < WM_MOUSEFIRST || message > WM_MOUSELAST))
        return FALSE;
    return m_hWnd != nullptr && IsDialogMessageW(m_hWnd, pMsg);
}

BOOL CDialog::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo)
{
    if (CWnd::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo))
        return TRUE;
    // Only menu and accelerator commands (ids 0x8000-0xEFFF) go further; control notifications and
    // system commands stay with the dialog.
    if ((nCode != CN_COMMAND && nCode != CN_UPDATE_COMMAND_UI) || nID < 0x8000 || nID >= 0xF000)
        return FALSE;
    CWnd* owner = CWnd::FromHandlePermanent(GetParent(m_hWnd));
    if (owner != nullptr && owner != this && owner->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo))
        return TRUE;
    CWinApp* app = AfxGetApp();
    return app != nullptr && app->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()
