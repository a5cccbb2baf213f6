// The application object: the start-up around WinMain, the exit code, the main window pointer, and the
// run-time class test.
#include "platform/afx/afx.h"
#include "tests/platform/dialog_template.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class TestApp : public CWinApp {
public:
    using CWinApp::CWinApp;

    std::function<BOOL(TestApp&)> init;
    int exitCalls = 0;

    BOOL InitInstance() override { return init(*this); }
    int ExitInstance() override
    {
        ++exitCalls;
        return CWinApp::ExitInstance();
    }
};

TEST(AfxAppTest, OneApplicationPerProcess)
{
    {
        TestApp app(L"First");
        TestApp second(L"Second");
        EXPECT_EQ(AfxGetApp(), &app);
        EXPECT_STREQ(app.m_pszAppName, L"First");
    }
    EXPECT_EQ(AfxGetApp(), nullptr);
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
    EXPECT_EQ(AfxGetInstanceHandle(), GetModuleHandleW(nullptr));
    EXPECT_EQ(AfxWinMain(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW), -1);  // no application
}

TEST(AfxAppTest, FailedStartUpReturnsTheExitCode)
{
    // A program whose main window is a modal dialog: the dialog's loop takes the quit message, the
    // start-up ends with FALSE, and the quit message's code becomes the exit code.
    TestApp app;
    app.init = [](TestApp& self) {
        DialogTemplate dt(WS_POPUP | WS_CAPTION, 100, 50, L"main");
        CDialog dialog;
        dialog.InitModalIndirect(dt.Get());
        self.m_pMainWnd = &dialog;
        EXPECT_EQ(AfxGetMainWnd(), &dialog);
        PostQuitMessage(-777);
        EXPECT_EQ(dialog.DoModal(), -1);
        EXPECT_EQ(self.m_pMainWnd, nullptr);  // forgotten when the window went
        return FALSE;
    };
    EXPECT_EQ(AfxWinMain(GetModuleHandleW(nullptr), nullptr, const_cast<LPWSTR>(L"-x"), SW_SHOW), -777);
    EXPECT_EQ(app.exitCalls, 1);
    EXPECT_STREQ(app.m_lpCmdLine, L"-x");
    ASSERT_NE(app.m_pszAppName, nullptr);  // the program file's title
    EXPECT_NE(app.m_pszAppName[0], L'\0');
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST(AfxAppTest, RunEndsWhenTheMainWindowIsDestroyed)
{
    TestApp app;
    CWnd main;
    app.init = [&](TestApp& self) {
        if (!main.CreateEx(0, AfxRegisterWndClass(0), L"main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr))
            return FALSE;
        self.m_pMainWnd = &main;
        main.PostMessage(WM_CLOSE);  // DefWindowProc destroys the window
        return TRUE;
    };
    EXPECT_EQ(AfxWinMain(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW), 0);
    EXPECT_EQ(app.exitCalls, 1);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    EXPECT_EQ(main.m_hWnd, nullptr);
    EXPECT_EQ(AfxGetCurrentMessage()->message, static_cast<UINT>(WM_QUIT));
}

TEST(AfxAppTest, RunTimeClassTest)
{
    CDialog dialog;
    CWnd wnd;
    CObject* objects[] = {&dialog, &wnd};
    EXPECT_TRUE(objects[0]->IsKindOf<CDialog>());
    EXPECT_TRUE(objects[0]->IsKindOf<CWnd>());
    EXPECT_FALSE(objects[1]->IsKindOf<CDialog>());
    EXPECT_EQ(DYNAMIC_DOWNCAST(CDialog, objects[0]), &dialog);
    EXPECT_EQ(DYNAMIC_DOWNCAST(CDialog, objects[1]), nullptr);
    EXPECT_FALSE(objects[1]->IsKindOf<CWinApp>());
}

}  // namespace
