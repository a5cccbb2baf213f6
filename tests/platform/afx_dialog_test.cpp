// The dialog class: modal runs with their own loop (idle kicks, show on idle, owner disabled, WM_QUIT),
// the ways a modal run ends, modeless dialogs, templates from resources and from memory, and the
// routing of commands from a dialog to its owner and the application.
#include "platform/afx/afx.h"
#include "tests/platform/dialog_template.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr UINT kResourceDialog = 101;
constexpr UINT kResourceEdit = 1001;

std::vector<std::string> g_log;

class TestDialog : public CDialog {
public:
    using CDialog::CDialog;
    using CDialog::EndDialog;

    std::function<BOOL(TestDialog&)> onInit;
    std::function<LRESULT(TestDialog&, WPARAM, LPARAM)> onKick;
    std::vector<std::pair<WPARAM, LPARAM>> kicks;
    int initCalls = 0;

    BOOL OnInitDialog() override
    {
        ++initCalls;
        return onInit ? onInit(*this) : TRUE;
    }

protected:
    LRESULT OnKickIdle(WPARAM wParam, LPARAM lParam)
    {
        kicks.emplace_back(wParam, lParam);
        return onKick ? onKick(*this, wParam, lParam) : 0;
    }
    void OnOwnCommand() { g_log.push_back("dialog 8003"); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
ON_MESSAGE(WM_KICKIDLE, OnKickIdle)
ON_COMMAND(0x8003, OnOwnCommand)
END_MESSAGE_MAP()

// A dialog template with an edit control, not visible until the modal loop shows it.
LPCDLGTEMPLATEW EditDialogTemplate(DialogTemplate& dt)
{
    dt.AddItem(0x0081, 1001, ES_AUTOHSCROLL | WS_TABSTOP, 5, 5, 60, 12, L"");
    return dt.Get();
}

struct EndCase {
    const char* name;
    std::function<void(TestDialog&)> action;  // in OnInitDialog
    int result;
};

TEST(AfxDialogTest, ModalRunEndsTable)
{
    const EndCase cases[] = {
        {"OK command", [](TestDialog& d) { d.PostMessage(WM_COMMAND, IDOK); }, IDOK},
        {"Cancel command", [](TestDialog& d) { d.PostMessage(WM_COMMAND, IDCANCEL); }, IDCANCEL},
        {"WM_CLOSE", [](TestDialog& d) { d.PostMessage(WM_CLOSE); }, IDCANCEL},
        {"Esc to the focused edit",
         [](TestDialog& d) {
             HWND edit = GetDlgItem(d.m_hWnd, 1001);
             PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
         },
         IDCANCEL},
        {"EndDialog during initialisation", [](TestDialog& d) { d.EndDialog(7); }, 7},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        DialogTemplate dt(WS_POPUP, 120, 60, L"modal");
        TestDialog dialog;
        ASSERT_TRUE(dialog.InitModalIndirect(EditDialogTemplate(dt)));
        HWND seen = nullptr;
        dialog.onInit = [&](TestDialog& d) {
            seen = d.m_hWnd;
            c.action(d);
            return TRUE;
        };
        EXPECT_EQ(dialog.DoModal(), c.result);
        EXPECT_EQ(dialog.initCalls, 1);
        EXPECT_NE(seen, nullptr);
        EXPECT_FALSE(IsWindow(seen));
        EXPECT_EQ(dialog.m_hWnd, nullptr);
        EXPECT_TRUE(dialog.kicks.empty());  // every case ended before the queue went idle
    }
}

TEST(AfxDialogTest, ModalLoopKicksIdleAndShowsTheWindow)
{
    DialogTemplate dt(WS_POPUP, 120, 60, L"idle");
    TestDialog dialog;
    ASSERT_TRUE(dialog.InitModalIndirect(dt.Get()));
    bool visibleAtFirstKick = false;
    bool posted = false;
    dialog.onKick = [&](TestDialog& d, WPARAM, LPARAM count) -> LRESULT {
        if (d.kicks.size() == 1)
            visibleAtFirstKick = d.IsWindowVisible() != FALSE;
        if (posted && count == 0) {
            d.EndDialog(5);  // a new round began after the posted message
            return 0;
        }
        if (count < 2)
            return 1;  // asks for more idle calls
        d.PostMessage(WM_APP);
        posted = true;
        return 0;
    };
    EXPECT_EQ(dialog.DoModal(), 5);
    EXPECT_TRUE(visibleAtFirstKick);
    const std::vector<std::pair<WPARAM, LPARAM>> expected = {
        {MSGF_DIALOGBOX, 0}, {MSGF_DIALOGBOX, 1}, {MSGF_DIALOGBOX, 2}, {MSGF_DIALOGBOX, 0}};
    EXPECT_EQ(dialog.kicks, expected);
}

// An owner window that records WM_ENTERIDLE.
class OwnerWnd : public CWnd {
public:
    std::vector<std::pair<WPARAM, LPARAM>> enterIdle;

protected:
    LRESULT OnEnterIdle(WPARAM wParam, LPARAM lParam)
    {
        enterIdle.emplace_back(wParam, lParam);
        return 0;
    }
    void OnCommand8001() { g_log.push_back("owner 8001"); }
    void OnCommand8003() { g_log.push_back("owner 8003"); }
    void OnCommand7001() { g_log.push_back("owner 7001"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(OwnerWnd, CWnd)
ON_MESSAGE(WM_ENTERIDLE, OnEnterIdle)
ON_COMMAND(0x8001, OnCommand8001)
ON_COMMAND(0x8003, OnCommand8003)
ON_COMMAND(0x7001, OnCommand7001)
END_MESSAGE_MAP()

TEST(AfxDialogTest, OwnerIsDisabledDuringTheRunAndToldOfIdle)
{
    struct Case {
        DWORD style;
        bool enterIdle;
    } const cases[] = {{0, true}, {DS_NOIDLEMSG, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.style);
        OwnerWnd owner;
        ASSERT_TRUE(
            owner.CreateEx(0, AfxRegisterWndClass(0), L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr, nullptr));
        DialogTemplate dt(WS_POPUP | c.style, 120, 60, L"owned");
        TestDialog dialog;
        ASSERT_TRUE(dialog.InitModalIndirect(dt.Get(), &owner));
        BOOL enabledDuringRun = TRUE;
        HWND ownerSeen = nullptr;
        dialog.onInit = [&](TestDialog& d) {
            enabledDuringRun = IsWindowEnabled(owner.m_hWnd);
            ownerSeen = GetWindow(d.m_hWnd, GW_OWNER);
            return TRUE;
        };
        HWND dialogWindow = nullptr;
        dialog.onKick = [&](TestDialog& d, WPARAM, LPARAM) -> LRESULT {
            dialogWindow = d.m_hWnd;
            d.EndDialog(IDOK);
            return 0;
        };
        EXPECT_EQ(dialog.DoModal(), IDOK);
        EXPECT_FALSE(enabledDuringRun);
        EXPECT_EQ(ownerSeen, owner.m_hWnd);
        EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
        if (c.enterIdle) {
            ASSERT_EQ(owner.enterIdle.size(), 1u);
            EXPECT_EQ(owner.enterIdle[0].first, static_cast<WPARAM>(MSGF_DIALOGBOX));
            EXPECT_EQ(owner.enterIdle[0].second, reinterpret_cast<LPARAM>(dialogWindow));
        } else {
            EXPECT_TRUE(owner.enterIdle.empty());
        }
    }
}

TEST(AfxDialogTest, QuitMessageEndsTheRunAndStaysPosted)
{
    DialogTemplate dt(WS_POPUP, 120, 60, L"quit");
    TestDialog dialog;
    ASSERT_TRUE(dialog.InitModalIndirect(dt.Get()));
    dialog.onInit = [](TestDialog&) {
        PostQuitMessage(-777);
        return TRUE;
    };
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(AfxGetCurrentMessage()->message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(static_cast<int>(AfxGetCurrentMessage()->wParam), -777);
    MSG msg;
    bool quitAgain = false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quitAgain = true;
            EXPECT_EQ(static_cast<int>(msg.wParam), -777);
        }
    }
    EXPECT_TRUE(quitAgain);
}

bool g_rescued = false;
void CALLBACK Rescue(HWND, UINT, UINT_PTR, DWORD)
{
    g_rescued = true;
    PostQuitMessage(0);
}

TEST(AfxDialogTest, DestroyingTheWindowEndsItsModalRun)
{
    DialogTemplate dt(WS_POPUP, 120, 60, L"destroyed");
    TestDialog dialog;
    ASSERT_TRUE(dialog.InitModalIndirect(dt.Get()));
    dialog.onKick = [](TestDialog& d, WPARAM, LPARAM) -> LRESULT {
        d.DestroyWindow();
        return 0;
    };
    // Should the run go on, a thread timer ends it through the quit message after a while.
    g_rescued = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 3000, &Rescue);
    EXPECT_EQ(dialog.DoModal(), -1);
    KillTimer(nullptr, timer);
    EXPECT_FALSE(g_rescued);
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST(AfxDialogTest, TemplatesFromResources)
{
    {
        TestDialog dialog(kResourceDialog);
        HWND edit = nullptr;
        dialog.onInit = [&](TestDialog& d) {
            edit = GetDlgItem(d.m_hWnd, kResourceEdit);
            d.PostMessage(WM_COMMAND, IDOK);
            return TRUE;
        };
        EXPECT_EQ(dialog.DoModal(), IDOK);
        EXPECT_NE(edit, nullptr);
    }
    {
        TestDialog missing(999);
        EXPECT_EQ(missing.DoModal(), -1);
        EXPECT_EQ(missing.initCalls, 0);
        EXPECT_FALSE(missing.Create(999));
    }
    {
        TestDialog modeless;
        ASSERT_TRUE(modeless.Create(kResourceDialog));
        EXPECT_EQ(modeless.initCalls, 1);
        EXPECT_NE(GetDlgItem(modeless.m_hWnd, kResourceEdit), nullptr);
        EXPECT_EQ(CWnd::FromHandlePermanent(modeless.m_hWnd), &modeless);
        EXPECT_TRUE(modeless.DestroyWindow());
        EXPECT_EQ(modeless.m_hWnd, nullptr);
    }
    {
        DialogTemplate dt(WS_POPUP, 80, 40, L"modeless");
        TestDialog modeless;
        ASSERT_TRUE(modeless.CreateIndirect(EditDialogTemplate(dt)));
        EXPECT_NE(GetDlgItem(modeless.m_hWnd, 1001), nullptr);
        // EndDialog outside a modal run hides the dialog and leaves it alive.
        modeless.ShowWindow(SW_SHOWNA);
        modeless.EndDialog(3);
        EXPECT_TRUE(IsWindow(modeless.m_hWnd));
        EXPECT_FALSE(modeless.IsWindowVisible());
    }
}

class RoutingApp : public CWinApp {
protected:
    void OnCommand8002() { g_log.push_back("app 8002"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(RoutingApp, CWinApp)
ON_COMMAND(0x8002, OnCommand8002)
END_MESSAGE_MAP()

TEST(AfxDialogTest, CommandsGoFromTheDialogToItsOwnerAndTheApplication)
{
    RoutingApp app;
    ASSERT_EQ(AfxGetApp(), &app);
    OwnerWnd owner;
    ASSERT_TRUE(
        owner.CreateEx(0, AfxRegisterWndClass(0), L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr, nullptr));
    DialogTemplate dt(WS_POPUP, 80, 40, L"routing");
    dt.AddItem(0x0080, 0x8001, BS_PUSHBUTTON, 5, 5, 30, 12, L"b");
    TestDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(dt.Get(), &owner));
    HWND button = GetDlgItem(dialog.m_hWnd, 0x8001);

    struct Case {
        const char* name;
        WPARAM wParam;
        LPARAM lParam;
        std::vector<std::string> log;
        // clang-format off
    } const cases[] = {
        {"the dialog's own handler first", 0x8003, 0, {"dialog 8003"}},
        {"then the owner", 0x8001, 0, {"owner 8001"}},
        {"then the application", 0x8002, 0, {"app 8002"}},
        {"a control notification is not routed", MAKEWPARAM(0x8001, BN_DOUBLECLICKED), reinterpret_cast<LPARAM>(button), {}},
        {"ids below 0x8000 are not routed", 0x7001, 0, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_log.clear();
        dialog.SendMessage(WM_COMMAND, c.wParam, c.lParam);
        EXPECT_EQ(g_log, c.log);
    }
    AFX_CMDHANDLERINFO info{};
    EXPECT_TRUE(dialog.OnCmdMsg(0x8002, CN_COMMAND, nullptr, &info));
    EXPECT_EQ(info.pTarget, &app);
    EXPECT_FALSE(dialog.OnCmdMsg(0x8004, CN_COMMAND, nullptr, &info));
}

}  // namespace
