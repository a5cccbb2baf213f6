// The application object of our MFC-like layer: one per process, started by AfxWinMain.
#pragma once

#include "platform/afx/afx_wnd.h"

#include <string>
#include <vector>

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
    LPCWSTR m_pszAppName = nullptr;      // the constructor's name, else the program file's title
    CWnd* m_pMainWnd = nullptr;          // the main window, for every thread of the process
    LPCWSTR m_pszRegistryKey = nullptr;  // set by SetRegistryKey
    LPCWSTR m_pszProfileName = nullptr;  // the application's name once SetRegistryKey ran

    // Start-up; FALSE ends the program at once (after ExitInstance).
    virtual BOOL InitInstance();
    // The message loop; returns ExitInstance's result after WM_QUIT.
    virtual int Run();
    // Clean-up; the result is the program's exit code (by default the last message's wParam, which
    // is the exit code of WM_QUIT when a loop ended on it).
    virtual int ExitInstance();
    // Offered every message that the loops take, before it is dispatched.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    // Settings go to HKEY_CURRENT_USER\Software\<key>\<application name>; the profile name becomes the
    // application's name.
    void SetRegistryKey(LPCWSTR lpszRegistryKey);
    // Help for the program: handed to the help stand-in (no help files exist here).
    virtual void WinHelp(DWORD_PTR dwData, UINT nCmd = HELP_CONTEXT);

protected:
    // ID_HELP: the program's help contents.
    void OnHelp();

    DECLARE_MESSAGE_MAP()

private:
    friend class CWnd;
    friend int AfxWinMain(HINSTANCE, HINSTANCE, LPWSTR, int);

    // The main window is gone: forget it, and end Run's loop when it runs.
    void OnMainWindowDestroyed();
    void SetCurrentHandles(HINSTANCE hInstance, LPWSTR lpCmdLine, int nCmdShow);

    std::wstring m_appName;
    std::wstring m_registryKey;
    std::wstring m_profileName;
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

// ID_HELP: the command of the help key and the Help menu item.
constexpr UINT ID_HELP = 0xE146;

// ---- Help stand-in ----
// No help file can be authored here: every help request of the program is recorded instead of opening
// a help viewer.
struct AfxHelpCall {
    HWND hWnd;
    std::wstring file;
    UINT command;
    DWORD_PTR data;
};
// Records one help request (what WinHelp would have been given); always succeeds.
BOOL AfxWinHelp(HWND hWnd, LPCWSTR lpszHelpFile, UINT uCommand, DWORD_PTR dwData);
// Hands over the requests recorded so far and forgets them.
std::vector<AfxHelpCall> AfxTakeHelpCalls();

// ---- Obsolete start-up switches ----
// ActiveX hosting: nothing to prepare in this layer (a hosted control brings its own site).
void AfxEnableControlContainer();
// The 3-D look of dialog controls: the system draws it today.
inline BOOL Enable3dControlsStatic()
{
    return TRUE;
}
