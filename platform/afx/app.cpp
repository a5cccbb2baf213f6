#include "platform/afx/afx_app.h"

#include <atomic>

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
