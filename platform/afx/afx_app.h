// The application object of our MFC-like layer: one per process, started by AfxWinMain.
#pragma once

#include "platform/afx/afx_wnd.h"

#include <string>

class CWinApp : public CCmdTarget {
public:
    // The first application object constructed is the process's application.
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    HINSTANCE m_hInstance = nullptr;
    LPCWSTR m_lpCmdLine = L"";
    int m_nCmdShow = SW_SHOWNORMAL;
    LPCWSTR m_pszAppName = nullptr;  // the constructor's name, else the program file's title
    CWnd* m_pMainWnd = nullptr;      // the main window, for every thread of the process

    // Start-up; FALSE ends the program at once (after ExitInstance).
    virtual BOOL InitInstance();
    // The message loop; returns ExitInstance's result after WM_QUIT.
    virtual int Run();
    // Clean-up; the result is the program's exit code (by default the last message's wParam, which
    // is the exit code of WM_QUIT when a loop ended on it).
    virtual int ExitInstance();
    // Offered every message that the loops take, before it is dispatched.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

private:
    friend class CWnd;
    friend int AfxWinMain(HINSTANCE, HINSTANCE, LPWSTR, int);

    // The main window is gone: forget it, and end Run's loop when it runs.
    void OnMainWindowDestroyed();
    void SetCurrentHandles(HINSTANCE hInstance, LPWSTR lpCmdLine, int nCmdShow);

    std::wstring m_appName;
    bool m_running = false;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// Where dialog templates and other resources are looked up (the program by default).
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE hInstance);

// The program's start-up around WinMain: InitInstance, then Run unless it failed, then the exit code.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);
