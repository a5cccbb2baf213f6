// A small program on the framework's application base, started twice by the single-instance test:
// its main window answers the instance query, and it signals "KwepInstanceReady-<tag>" once its
// window is up (tag = the command line). A start refused by the guard ends with exit code 2.
#include "manager/framework/windows/cx_app.h"

namespace {

UINT g_instanceMessage = 0;

class MainWnd : public CWnd {
protected:
    LRESULT OnInstanceQuery(WPARAM, LPARAM) { return static_cast<LRESULT>(g_instanceMessage); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MainWnd, CWnd)
ON_REGISTERED_MESSAGE(g_instanceMessage, OnInstanceQuery)
END_MESSAGE_MAP()

// {5A0C7E21-3B44-4F19-9D2A-6C81E0F3B7D5}
const GUID kGuid = {0x5a0c7e21, 0x3b44, 0x4f19, {0x9d, 0x2a, 0x6c, 0x81, 0xe0, 0xf3, 0xb7, 0xd5}};

class InstanceApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override { return &kGuid; }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override { SetRegistryKey(L"KwepTest"); }
    BOOL GetString(CxString& text, UINT) override
    {
        text.Empty();
        return FALSE;
    }

    BOOL InitInstance() override
    {
        if (!CxWinApp::InitInstance()) {
            m_refused = true;
            return FALSE;
        }
        g_instanceMessage = GetInstanceMessage();
        std::wstring title = L"KwepInstanceTest ";
        title += m_lpCmdLine;
        if (!m_main.CreateEx(0, AfxRegisterWndClass(0, nullptr, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)),
                             title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200, nullptr, nullptr))
            return FALSE;
        m_pMainWnd = &m_main;
        std::wstring eventName = L"KwepInstanceReady-";
        eventName += m_lpCmdLine;
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str());
        if (ready != nullptr) {
            SetEvent(ready);
            CloseHandle(ready);
        }
        return TRUE;
    }

    int ExitInstance() override
    {
        const int code = CxWinApp::ExitInstance();
        return m_refused ? 2 : code;
    }

private:
    MainWnd m_main;
    bool m_refused = false;
};

InstanceApp theApp;

}  // namespace
