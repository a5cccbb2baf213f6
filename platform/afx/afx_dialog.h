// The dialog class of our MFC-like layer: modal dialogs with a message loop of their own (so idle
// processing gets WM_KICKIDLE) and modeless dialogs, from a resource template or an in-memory one.
#pragma once

#include "platform/afx/afx_wnd.h"

#include <string>

class CDialog : public CWnd {
public:
    CDialog() = default;
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    explicit CDialog(LPCWSTR lpszTemplateName, CWnd* pParentWnd = nullptr);

    // An in-memory template for DoModal; the caller keeps it alive until DoModal returns.
    BOOL InitModalIndirect(LPCDLGTEMPLATEW lpDialogTemplate, CWnd* pParentWnd = nullptr);
    // Runs the dialog modally: the owner is disabled meanwhile, and the window is shown when its queue
    // first goes idle. Returns the EndDialog result, or -1 when the dialog could not be created.
    virtual int DoModal();

    // Modeless dialogs.
    BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    BOOL Create(LPCWSTR lpszTemplateName, CWnd* pParentWnd = nullptr);
    BOOL CreateIndirect(LPCDLGTEMPLATEW lpDialogTemplate, CWnd* pParentWnd = nullptr);

    // Ends the modal loop with the result (and hides a modeless dialog).
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog();

    // The template's resource id (0 for a named or in-memory template).
    UINT GetTemplateId() const { return static_cast<UINT>(m_nTemplateId); }

    BOOL PreTranslateMessage(MSG* pMsg) override;
    // Commands the dialog does not handle go on to its owner window and then to the application.
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;

protected:
    virtual void OnOK();
    virtual void OnCancel();

    // The modal run of DoModal with the loop flags chosen by the caller (DS_NOIDLEMSG adds
    // MLF_NOIDLEMSG).
    int RunModalDialog(DWORD dwLoopFlags);
    // The owner that a modal run disables, and the hook after the run.
    virtual HWND PreModal();
    virtual void PostModal();
    BOOL CreateDlgIndirect(LPCDLGTEMPLATEW lpDialogTemplate, HWND hWndParent, HINSTANCE hInstance);

    CWnd* m_pParentWnd = nullptr;

private:
    LPCDLGTEMPLATEW FindTemplate(HINSTANCE hInstance) const;
    void SetTemplateName(LPCWSTR lpszTemplateName);
    LPCWSTR TemplateName() const;

    UINT_PTR m_nTemplateId = 0;   // resource id, when the template is named by a number
    std::wstring m_templateName;  // resource name otherwise
    LPCDLGTEMPLATEW m_lpDialogTemplate = nullptr;

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};
