// The window class: attaching at creation and by subclassing, the message map (messages, commands
// with ranges, control notifications, WM_NOTIFY, registered messages), default processing, and
// detaching at WM_NCDESTROY.
#include "platform/afx/afx.h"
#include "tests/platform/dialog_template.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_log;

// The class procedure under the objects: the "default processing" of these tests.
LRESULT CALLBACK ClassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_APP && message < WM_APP + 100) {
        g_log.push_back("default");
        return 1000 + (message - WM_APP);
    }
    if (message == WM_COMMAND) {
        g_log.push_back("default command");
        return 0;
    }
    if (message == WM_NOTIFY) {
        g_log.push_back("default notify");
        return 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

const wchar_t* TestClass()
{
    static const wchar_t* name = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = ClassProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KwepAfxTestClass";
        RegisterClassW(&wc);
        return L"KwepAfxTestClass";
    }();
    return name;
}

UINT RegisteredMessage()
{
    static const UINT message = RegisterWindowMessageW(L"KwepAfxTestRegistered");
    return message;
}
UINT g_registered = 0;

class RecordingWnd : public CWnd {
public:
    UINT lastId = 0;
    int createResult = 0;
    bool attachedInCreate = false;
    int postNcDestroyCalls = 0;

protected:
    int OnCreate(LPCREATESTRUCT cs)
    {
        attachedInCreate = FromHandlePermanent(m_hWnd) == this && cs != nullptr;
        g_log.push_back("create");
        return createResult;
    }
    void OnDestroy()
    {
        g_log.push_back("destroy");
        Default();
    }
    LRESULT OnApp1(WPARAM, LPARAM)
    {
        g_log.push_back("map app1");
        return 42;
    }
    LRESULT OnApp2(WPARAM, LPARAM)
    {
        g_log.push_back("map app2");
        return Default() + 1;
    }
    LRESULT OnRegistered(WPARAM wParam, LPARAM)
    {
        g_log.push_back("map registered");
        return static_cast<LRESULT>(wParam) * 2;
    }
    void OnCommand100() { g_log.push_back("command 100"); }
    void OnCommandRange(UINT id)
    {
        lastId = id;
        g_log.push_back("command range");
    }
    void OnEditChange() { g_log.push_back("edit change"); }
    void OnClick(NMHDR* header, LRESULT* result)
    {
        lastId = static_cast<UINT>(header->idFrom);
        g_log.push_back("notify click");
        *result = 7;
    }
    void OnDoubleClickRange(UINT id, NMHDR*, LRESULT* result)
    {
        lastId = id;
        g_log.push_back("notify range");
        *result = 8;
    }
    void PostNcDestroy() override
    {
        ++postNcDestroyCalls;
        g_log.push_back("post nc destroy");
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(RecordingWnd, CWnd)
ON_WM_CREATE()
ON_WM_DESTROY()
ON_MESSAGE(WM_APP + 1, OnApp1)
ON_MESSAGE(WM_APP + 2, OnApp2)
ON_REGISTERED_MESSAGE(g_registered, OnRegistered)
ON_COMMAND(100, OnCommand100)
ON_COMMAND_RANGE(200, 210, OnCommandRange)
ON_CONTROL(EN_CHANGE, 300, OnEditChange)
ON_NOTIFY(NM_CLICK, 400, OnClick)
ON_NOTIFY_RANGE(NM_DBLCLK, 500, 510, OnDoubleClickRange)
END_MESSAGE_MAP()

// A derived map: its own entry wins, the base entries still answer.
class DerivedWnd : public RecordingWnd {
protected:
    LRESULT OnApp1Derived(WPARAM, LPARAM)
    {
        g_log.push_back("derived app1");
        return 43;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DerivedWnd, RecordingWnd)
ON_MESSAGE(WM_APP + 1, OnApp1Derived)
END_MESSAGE_MAP()

class AfxWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_registered = RegisteredMessage();
        g_log.clear();
    }
};

TEST_F(AfxWindowTest, CreateExAttachesBeforeCreateAndDetachesAtNcDestroy)
{
    RecordingWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, TestClass(), L"t", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr));
    HWND hWnd = wnd.m_hWnd;
    EXPECT_TRUE(wnd.attachedInCreate);
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), &wnd);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hWnd, GWLP_WNDPROC)), &AfxWndProc);

    g_log.clear();
    EXPECT_TRUE(wnd.DestroyWindow());
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
    EXPECT_EQ(wnd.postNcDestroyCalls, 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"destroy", "post nc destroy"}));
}

TEST_F(AfxWindowTest, CreateFailsWhenOnCreateRefuses)
{
    RecordingWnd wnd;
    wnd.createResult = -1;
    EXPECT_FALSE(wnd.CreateEx(0, TestClass(), L"t", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr));
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_EQ(wnd.postNcDestroyCalls, 1);
}

struct Dispatch {
    const char* name;
    UINT message;
    WPARAM wParam;
    int lParamKind;  // 0: lParam as given, 1: the control window, 2: an NMHDR
    UINT notifyId;
    UINT notifyCode;
    LRESULT result;
    std::vector<std::string> log;
    UINT lastId;
};

TEST_F(AfxWindowTest, MessageMapDispatchTable)
{
    RecordingWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, TestClass(), L"t", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr));
    HWND control = CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 0, 0, 10, 10, wnd.m_hWnd, reinterpret_cast<HMENU>(300),
                                   nullptr, nullptr);
    ASSERT_NE(control, nullptr);

    // clang-format off
    const Dispatch cases[] = {
        {"message handled", WM_APP + 1, 0, 0, 0, 0, 42, {"map app1"}, 0},
        {"handler calls Default", WM_APP + 2, 0, 0, 0, 0, 1003, {"map app2", "default"}, 0},
        {"not in the map", WM_APP + 3, 0, 0, 0, 0, 1003, {"default"}, 0},
        {"registered message", RegisteredMessage(), 21, 0, 0, 0, 42, {"map registered"}, 0},
        {"menu command", WM_COMMAND, MAKEWPARAM(100, 0), 0, 0, 0, 1, {"command 100"}, 0},
        {"accelerator in a range", WM_COMMAND, MAKEWPARAM(205, 1), 0, 0, 0, 1, {"command range"}, 205},
        {"range end", WM_COMMAND, MAKEWPARAM(210, 0), 0, 0, 0, 1, {"command range"}, 210},
        {"past the range", WM_COMMAND, MAKEWPARAM(211, 0), 0, 0, 0, 0, {"default command"}, 0},
        {"control notification", WM_COMMAND, MAKEWPARAM(300, EN_CHANGE), 1, 0, 0, 1, {"edit change"}, 0},
        {"other notification code", WM_COMMAND, MAKEWPARAM(300, EN_SETFOCUS), 1, 0, 0, 0, {"default command"}, 0},
        {"WM_NOTIFY", WM_NOTIFY, 400, 2, 400, static_cast<UINT>(NM_CLICK), 7, {"notify click"}, 400},
        {"WM_NOTIFY range", WM_NOTIFY, 505, 2, 505, static_cast<UINT>(NM_DBLCLK), 8, {"notify range"}, 505},
        {"WM_NOTIFY other id", WM_NOTIFY, 401, 2, 401, static_cast<UINT>(NM_CLICK), 0, {"default notify"}, 0},
    };
    // clang-format on
    for (const Dispatch& c : cases) {
        SCOPED_TRACE(c.name);
        g_log.clear();
        wnd.lastId = 0;
        NMHDR header{control, c.notifyId, c.notifyCode};
        LPARAM lParam = 0;
        if (c.lParamKind == 1)
            lParam = reinterpret_cast<LPARAM>(control);
        else if (c.lParamKind == 2)
            lParam = reinterpret_cast<LPARAM>(&header);
        EXPECT_EQ(SendMessageW(wnd.m_hWnd, c.message, c.wParam, lParam), c.result);
        EXPECT_EQ(g_log, c.log);
        EXPECT_EQ(wnd.lastId, c.lastId);
    }
}

TEST_F(AfxWindowTest, DerivedMapOverridesAndChainsToBase)
{
    DerivedWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, TestClass(), L"t", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr));
    EXPECT_EQ(wnd.SendMessage(WM_APP + 1), 43);
    EXPECT_EQ(wnd.SendMessage(WM_APP + 2), 1003);
    EXPECT_EQ(wnd.SendMessage(WM_COMMAND, 100), 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"create", "derived app1", "map app2", "default", "command 100"}));
    EXPECT_TRUE(wnd.IsKindOf<RecordingWnd>());
    EXPECT_TRUE(wnd.IsKindOf<CWnd>());
}

TEST_F(AfxWindowTest, SubclassAndUnsubclassAnExistingWindow)
{
    HWND hWnd =
        CreateWindowExW(0, TestClass(), L"t", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hWnd, nullptr);
    const auto original = GetWindowLongPtrW(hWnd, GWLP_WNDPROC);

    RecordingWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(hWnd));
    EXPECT_EQ(SendMessageW(hWnd, WM_APP + 1, 0, 0), 42);
    EXPECT_EQ(SendMessageW(hWnd, WM_APP + 4, 0, 0), 1004);  // default processing is the original procedure

    RecordingWnd other;
    EXPECT_FALSE(other.SubclassWindow(hWnd));  // one object per window
    EXPECT_FALSE(other.Attach(hWnd));

    EXPECT_EQ(wnd.UnsubclassWindow(), hWnd);
    EXPECT_EQ(GetWindowLongPtrW(hWnd, GWLP_WNDPROC), original);
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
    g_log.clear();
    EXPECT_EQ(SendMessageW(hWnd, WM_APP + 1, 0, 0), 1001);
    EXPECT_EQ(g_log, (std::vector<std::string>{"default"}));

    // Now the other object may take it, and its destructor destroys the window.
    {
        RecordingWnd last;
        EXPECT_TRUE(last.SubclassWindow(hWnd));
    }
    EXPECT_FALSE(IsWindow(hWnd));
}

TEST_F(AfxWindowTest, SubclassDlgItemRoutesTheControl)
{
    DialogTemplate dt(WS_POPUP, 100, 60, L"d");
    dt.AddItem(0x0081, 1001, ES_AUTOHSCROLL, 5, 5, 50, 12, L"");
    HWND dialog = CreateDialogIndirectParamW(nullptr, dt.Get(), nullptr, nullptr, 0);
    ASSERT_NE(dialog, nullptr);
    CWnd parent;
    ASSERT_TRUE(parent.Attach(dialog));

    RecordingWnd edit;
    EXPECT_FALSE(edit.SubclassDlgItem(999, &parent));
    ASSERT_TRUE(edit.SubclassDlgItem(1001, &parent));
    EXPECT_EQ(edit.m_hWnd, GetDlgItem(dialog, 1001));
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, 1001), WM_APP + 1, 0, 0), 42);
    // The edit control's own procedure is still its default processing.
    SetWindowTextW(edit.m_hWnd, L"abc");
    EXPECT_EQ(GetWindowTextLengthW(edit.m_hWnd), 3);

    parent.Detach();
    DestroyWindow(dialog);
    EXPECT_EQ(edit.m_hWnd, nullptr);
}

// A window that keeps WM_NCDESTROY from the map, and one that deletes itself at the end.
class SwallowingWnd : public CWnd {
public:
    int postNcDestroyCalls = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_NCDESTROY)
            return 0;
        return CWnd::WindowProc(message, wParam, lParam);
    }
    void PostNcDestroy() override { ++postNcDestroyCalls; }
};

class SelfDeletingWnd : public CWnd {
public:
    explicit SelfDeletingWnd(bool* deleted) : m_deleted(deleted) {}
    ~SelfDeletingWnd() override { *m_deleted = true; }

protected:
    void PostNcDestroy() override { delete this; }

private:
    bool* m_deleted;
};

TEST_F(AfxWindowTest, DetachedAtNcDestroyEvenWhenAnOverrideKeepsIt)
{
    SwallowingWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, TestClass(), L"t", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr));
    HWND hWnd = wnd.m_hWnd;
    DestroyWindow(hWnd);
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
    EXPECT_EQ(wnd.postNcDestroyCalls, 1);
}

TEST_F(AfxWindowTest, WindowMayDeleteItselfInPostNcDestroy)
{
    bool deleted = false;
    auto* wnd = new SelfDeletingWnd(&deleted);
    ASSERT_TRUE(wnd->CreateEx(0, TestClass(), L"t", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr));
    HWND hWnd = wnd->m_hWnd;
    DestroyWindow(hWnd);
    EXPECT_TRUE(deleted);
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
}

// PreTranslateMessage is offered from the target window up through its parents.
class FilteringWnd : public CWnd {
public:
    std::vector<UINT> seen;
    BOOL PreTranslateMessage(MSG* msg) override
    {
        if (msg->message >= WM_APP + 10 && msg->message < WM_APP + 20)
            seen.push_back(msg->message);
        return msg->message == WM_APP + 11;  // eats this one
    }
};

TEST_F(AfxWindowTest, PumpOffersMessagesToParentsBeforeDispatch)
{
    FilteringWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, TestClass(), L"p", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr));
    RecordingWnd child;
    const RECT rect{0, 0, 20, 20};
    ASSERT_TRUE(child.Create(TestClass(), L"c", WS_VISIBLE, rect, &parent, 7));

    g_log.clear();
    PostMessageW(child.m_hWnd, WM_APP + 11, 0, 0);
    PostMessageW(child.m_hWnd, WM_APP + 12, 0, 0);
    MSG waiting;
    for (int i = 0; i < 100 && PeekMessageW(&waiting, nullptr, 0, 0, PM_NOREMOVE); ++i)
        ASSERT_TRUE(AfxPumpMessage());
    EXPECT_EQ(parent.seen, (std::vector<UINT>{WM_APP + 11, WM_APP + 12}));
    EXPECT_EQ(g_log, (std::vector<std::string>{"default"}));  // only the second reached the child
}

TEST_F(AfxWindowTest, RegisteredClassIsReused)
{
    LPCWSTR first = AfxRegisterWndClass(CS_DBLCLKS);
    LPCWSTR second = AfxRegisterWndClass(CS_DBLCLKS);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_NE(std::wstring(first), std::wstring(AfxRegisterWndClass(0)));
    CWnd wnd;
    EXPECT_TRUE(wnd.CreateEx(0, first, L"x", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr));
}

}  // namespace
