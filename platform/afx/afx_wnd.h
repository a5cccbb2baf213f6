// The window class of our MFC-like layer: a C++ object attached to one window handle.
//
// A CWnd is attached to windows it creates (hooked at creation, so it sees WM_NCCREATE and
// WM_CREATE) or subclasses. Attached windows run AfxWndProc, which finds the object through the
// process-wide handle map and calls its virtual WindowProc; what the message map does not handle goes
// to the window's previous procedure (default processing). At WM_NCDESTROY the object is detached
// and PostNcDestroy runs last; a window may delete itself there.
#pragma once

#include "platform/afx/afx_msgmap.h"

#include <string>

// Sent by the modal loop to the window each time its message queue goes idle (wParam MSGF_DIALOGBOX,
// lParam the idle count since the last message); a nonzero answer asks for more idle calls.
constexpr UINT WM_KICKIDLE = 0x036A;

// Flags of RunModalLoop.
constexpr DWORD MLF_NOIDLEMSG = 0x0001;   // no WM_ENTERIDLE to the owner
constexpr DWORD MLF_NOKICKIDLE = 0x0002;  // no WM_KICKIDLE to the window
constexpr DWORD MLF_SHOWONIDLE = 0x0004;  // show a hidden window when the queue first goes idle

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The object attached to a window, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // Attach enters the handle in the map without subclassing; Detach removes it.
    BOOL Attach(HWND hWndNew);
    HWND Detach();
    // Subclassing routes the window's messages through this object.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();

    BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, int x, int y,
                  int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam = nullptr);
    BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT nID, LPVOID lpParam = nullptr);
    // A child window.
    virtual BOOL Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID);
    virtual BOOL DestroyWindow();

    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    int GetDlgCtrlID() const;
    BOOL ShowWindow(int nCmdShow);
    void UpdateWindow();
    BOOL IsWindowVisible() const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Idle update of the child controls: each control's id is offered to the target's update handlers;
    // a push button whose id has neither an update nor a command handler is disabled when asked.
    void UpdateDialogControls(CCmdTarget* pTarget, BOOL bDisableIfNoHandler);

    // Runs a modal message loop on this window until EndModalLoop; -1 when WM_QUIT arrives (the quit
    // message is posted again for the outer loop).
    int RunModalLoop(DWORD dwFlags = 0);
    virtual BOOL ContinueModal();
    virtual void EndModalLoop(int nResult);

    // Offered every message that the loops of this layer take from the queue, from the target window
    // up through its parents; TRUE keeps it from being dispatched.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Default processing: the window's previous procedure.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Default processing of the message being handled.
    LRESULT Default();
    // Called last for a window, after it was detached.
    virtual void PostNcDestroy();

    void OnNcDestroy();

    enum : UINT { WF_MODALLOOP = 0x0008, WF_CONTINUEMODAL = 0x0010 };
    UINT m_nFlags = 0;
    int m_nModalResult = -1;

private:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend class CDialog;

    static LRESULT CALLBACK CbtFilterHook(int code, WPARAM wParam, LPARAM lParam);
    static void HookWindowCreate(CWnd* pWnd);
    static bool UnhookWindowCreate();
    static void FinishNcDestroy(HWND hWnd);

    BOOL AttachSubclassed(HWND hWnd);
    void CleanUpAfterNcDestroy();

    WNDPROC m_pfnSuper = nullptr;

    DECLARE_MESSAGE_MAP()
};

// A window class registered once per set of arguments, with DefWindowProc as its procedure; the name
// stays valid for the life of the process. Null when registration fails.
LPCWSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor = nullptr, HBRUSH hbrBackground = nullptr,
                            HICON hIcon = nullptr);

// Takes one message from the queue, offers it to PreTranslateMessage and dispatches it; FALSE at WM_QUIT.
BOOL AfxPumpMessage();
// The last message AfxPumpMessage took on this thread (WM_QUIT after the loop ended on it).
const MSG* AfxGetCurrentMessage();
// Offers a message to PreTranslateMessage of its window and of each parent up to hWndStop.
BOOL AfxWalkPreTranslateTree(HWND hWndStop, MSG* pMsg);

// The state a command-UI update handler sets for one control (a child window of a dialog).
class CCmdUI {
public:
    UINT m_nID = 0;
    CWnd* m_pOther = nullptr;  // the control
    BOOL m_bEnableChanged = FALSE;

    virtual ~CCmdUI() = default;
    virtual void Enable(BOOL bOn = TRUE);
    // 0 unchecked, 1 checked, 2 indeterminate (buttons only).
    virtual void SetCheck(int nCheck = 1);
    virtual void SetText(LPCWSTR lpszText);

    // Offers the id to the target's update handlers; without one, and when asked, enables the control
    // exactly when the target has a command handler for the id. TRUE when an update handler ran.
    BOOL DoUpdate(CCmdTarget* pTarget, BOOL bDisableIfNoHandler);
};

// The tooltip control: one tool per control window, shown when the mouse rests on it.
class CToolTipCtrl : public CWnd {
public:
    // A tooltip window owned by the parent's top-level window.
    BOOL Create(CWnd* pParentWnd, DWORD dwStyle = 0);
    // A tool for a control window, the tooltip subclassing it to see its mouse messages.
    BOOL AddTool(CWnd* pWnd, LPCWSTR lpszText, UINT uFlags = TTF_SUBCLASS);
    BOOL AddTool(HWND hWndTool, LPCWSTR lpszText, UINT uFlags = TTF_SUBCLASS);
    void UpdateTipText(LPCWSTR lpszText, HWND hWndTool);
    // TRUE when a tool exists for the control window.
    BOOL HasTool(HWND hWndTool) const;
    // The tool's text (empty when there is no such tool).
    std::wstring GetText(HWND hWndTool) const;
    int GetToolCount() const;
    void Activate(BOOL bActivate);

private:
    TTTOOLINFOW ToolInfo(HWND hWndTool) const;
};
