#include "platform/afx/afx_app.h"

#include <atomic>
#include <mutex>

namespace {

std::atomic<CWinApp*> g_app{nullptr};
std::atomic<HINSTANCE> g_resourceHandle{nullptr};

}  // namespace

CWinApp::CWinApp(LPCWSTR lpszAppName)
{
    if (lpszAppName != nullptr) {
        m_appName = lpszAppName;
        m_pszAppName = m_appName.c_str();
    }
    CWinApp* none = nullptr;
    g_app.compare_exchange_strong(none, this);
}

CWinApp::~CWinApp()
{
    CWinApp* self = this;
    g_app.compare_exchange_strong(self, nullptr);
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::Run()
{
    m_running = true;
    while (AfxPumpMessage()) {
    }
    m_running = false;
    return ExitInstance();
}

int CWinApp::ExitInstance()
{
    return static_cast<int>(AfxGetCurrentMessage()->wParam);
}

BOOL CWinApp::PreTranslateMessage(MSG* pMsg)
{
    return AfxWalkPreTranslateTree(m_pMainWnd != nullptr ? m_pMainWnd->m_hWnd : nullptr, pMsg);
}

void CWinApp::OnMainWindowDestroyed()
{
    m_pMainWnd = nullptr;
    if (m_running)
        PostQuitMessage(0);
}

void CWinApp::SetCurrentHandles(HINSTANCE hInstance, LPWSTR lpCmdLine, int nCmdShow)
{
    m_hInstance = hInstance;
    m_lpCmdLine = lpCmdLine != nullptr ? lpCmdLine : L"";
    m_nCmdShow = nCmdShow;
    if (m_appName.empty()) {
        wchar_t path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(hInstance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const wchar_t* title = path;
            for (const wchar_t* p = path; *p != 0; ++p) {
                if (*p == L'\\' || *p == L'/')
                    title = p + 1;
            }
            m_appName = title;
            const size_t dot = m_appName.rfind(L'.');
            if (dot != std::wstring::npos && dot > 0)
                m_appName.resize(dot);
        }
    }
    m_pszAppName = m_appName.empty() ? nullptr : m_appName.c_str();
}

void CWinApp::SetRegistryKey(LPCWSTR lpszRegistryKey)
{
    m_registryKey = lpszRegistryKey != nullptr ? lpszRegistryKey : L"";
    m_pszRegistryKey = m_registryKey.c_str();
    m_profileName = m_pszAppName != nullptr ? m_pszAppName : L"";
    m_pszProfileName = m_profileName.c_str();
}

void CWinApp::WinHelp(DWORD_PTR dwData, UINT nCmd)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(m_hInstance, path, MAX_PATH);
    std::wstring file = length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
    const size_t dot = file.rfind(L'.');
    if (dot != std::wstring::npos && file.find_first_of(L"\\/", dot) == std::wstring::npos)
        file.resize(dot);
    file += L".hlp";
    AfxWinHelp(m_pMainWnd != nullptr ? m_pMainWnd->m_hWnd : nullptr, file.c_str(), nCmd, dwData);
}

void CWinApp::OnHelp()
{
    WinHelp(0, HELP_FINDER);
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

namespace {

std::mutex g_helpLock;
std::vector<AfxHelpCall> g_helpCalls;

}  // namespace

BOOL AfxWinHelp(HWND hWnd, LPCWSTR lpszHelpFile, UINT uCommand, DWORD_PTR dwData)
{
    std::lock_guard<std::mutex> guard(g_helpLock);
    g_helpCalls.push_back(AfxHelpCall{hWnd, lpszHelpFile != nullptr ? lpszHelpFile : L"", uCommand, dwData});
    return TRUE;
}

std::vector<AfxHelpCall> AfxTakeHelpCalls()
{
    std::lock_guard<std::mutex> guard(g_helpLock);
    std::vector<AfxHelpCall> calls;
    calls.swap(g_helpCalls);
    return calls;
}

void AfxEnableControlContainer() {}

CWinApp* AfxGetApp()
{
    return g_app.load();
}

CWnd* AfxGetMainWnd()
{
    CWinApp* app = g_app.load();
    return app != nullptr ? app->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle()
{
    CWinApp* app = g_app.load();
    if (app != nullptr && app->m_hInstance != nullptr)
        return app->m_hInstance;
    return GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle()
{
    HINSTANCE handle = g_resourceHandle.load();
    return handle != nullptr ? handle : AfxGetInstanceHandle();
}

void AfxSetResourceHandle(HINSTANCE hInstance)
{
    g_resourceHandle.store(hInstance);
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int nCmdShow)
{
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return -1;
    app->SetCurrentHandles(hInstance, lpCmdLine, nCmdShow);
    if (!app->InitInstance()) {
        if (app->m_pMainWnd != nullptr && app->m_pMainWnd->m_hWnd != nullptr)
            app->m_pMainWnd->DestroyWindow();
        return app->ExitInstance();
    }
    return app->Run();
}
