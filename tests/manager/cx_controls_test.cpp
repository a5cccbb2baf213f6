// Skinned control layers and components with real windows: the order of the maps and whose result wins,
// who owns a posted text, tooltips of dialog items, the cursor and the hit test, the child region, the
// frame metrics, the static layer's name and font, and the control skin bundle.
#include "manager/controls/cx_ctrl_layers.h"
#include "manager/controls/cx_skin_ctrl.h"
#include "manager/framework/skin/cx_components.h"
#include "manager/framework/windows/cx_app.h"
#include "manager/framework/windows/cx_platform.h"
#include "tests/manager/pointer.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using test_support::TempFolder;

std::vector<std::string> g_log;

LRESULT CALLBACK ClassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_APP && message < WM_APP + 100) {
        g_log.push_back("default");
        return 30;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

const wchar_t* TestClass()
{
    static const wchar_t* name =
        RegisterTestWindowClass(L"KwepCtrlTestClass", ClassProc, nullptr, LoadCursorW(nullptr, IDC_ARROW));
    return name;
}

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

constexpr UINT kPreHandles = WM_APP + 1;
constexpr UINT kNobody = WM_APP + 2;
constexpr UINT kPostHandles = WM_APP + 3;
constexpr UINT kPreAndPost = WM_APP + 4;

// A top-level window to hold the controls.
class Parent {
public:
    explicit Parent(DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE)
    {
        hWnd = CreateWindowExW(0, TestClass(), L"parent", style, 40, 40, 300, 200, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    }
    ~Parent() { DestroyWindow(hWnd); }
    HWND hWnd;
};

// A button of the button family with the components of a skinned button.
class TestButton : public CxButtonLayerT<CWnd>,
                   public CxCursor,
                   public CxChildRegion,
                   public CxToolTipText,
                   public CxWndComponent {
public:
    TestButton() { CxWndLink::Attach(&m_hWnd); }

    bool Create(HWND parent, int id, int x = 10, int y = 10, int w = 40, int h = 20, DWORD style = WS_VISIBLE)
    {
        return CreateEx(0, TestClass(), L"", WS_CHILD | style, x, y, w, h, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id))) != FALSE;
    }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (message >= WM_APP && message < WM_APP + 100)
            g_log.push_back("pre");
        if (message == kPreHandles || message == kPreAndPost) {
            lResult = 11;
            return TRUE;
        }
        if (CxToolTipText::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
            return TRUE;
        if (CxCursor::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN))
            return TRUE;
        return CxChildRegion::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN);
    }

    BOOL PostMap(HWND, UINT message, WPARAM, LPARAM, LRESULT& lResult, DWORD) override
    {
        if (message >= WM_APP && message < WM_APP + 100)
            g_log.push_back("post");
        if (message == kPostHandles || message == kPreAndPost) {
            lResult = 40;
            return TRUE;
        }
        return FALSE;
    }
};

// The innermost static layer: no post-map, and no component takes posted texts.
class TestStatic : public CxStaticLayerT<CWnd, false> {
public:
    bool Create(HWND parent, int id)
    {
        return CreateEx(0, TestClass(), L"", WS_CHILD | WS_VISIBLE, 0, 0, 20, 20, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id))) != FALSE;
    }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (message >= WM_APP && message < WM_APP + 100)
            g_log.push_back("pre");
        if (message == kPreHandles) {
            lResult = 11;
            return TRUE;
        }
        return CxStaticLayerT<CWnd, false>::PreMap(hWnd, message, wParam, lParam, lResult, mapId);
    }
    BOOL PostMap(HWND, UINT message, WPARAM, LPARAM, LRESULT&, DWORD) override
    {
        if (message >= WM_APP && message < WM_APP + 100)
            g_log.push_back("post");
        return FALSE;
    }
};

TEST(CxControlLayersTest, RunsThePreMapTheControlAndThePostMapInOrder)
{
    Parent parent;
    TestButton button;
    ASSERT_TRUE(button.Create(parent.hWnd, 100));
    TestStatic label;
    ASSERT_TRUE(label.Create(parent.hWnd, 101));
    struct Case {
        const char* name;
        HWND target;
        UINT message;
        LRESULT result;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"pre-map handles: the default is skipped", button.m_hWnd, kPreHandles, 11, {"pre", "post"}},
        {"nobody handles", button.m_hWnd, kNobody, 30, {"pre", "default", "post"}},
        {"post-map replaces the result", button.m_hWnd, kPostHandles, 40, {"pre", "default", "post"}},
        {"post-map after the pre-map", button.m_hWnd, kPreAndPost, 40, {"pre", "post"}},
        {"no post-map in the innermost static layer", label.m_hWnd, kNobody, 30, {"pre", "default"}},
        {"pre-map of the static layer", label.m_hWnd, kPreHandles, 11, {"pre"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_log.clear();
        EXPECT_EQ(SendMessageW(c.target, c.message, 0, 0), c.result);
        EXPECT_EQ(g_log, c.log);
    }
}

std::vector<std::wstring> g_traces;

TEST(CxControlLayersTest, AnotherMapIdHandlesNothing)
{
    Parent parent;
    TestButton button;
    ASSERT_TRUE(button.Create(parent.hWnd, 100));
    g_traces.clear();
    const CxTraceHook previous = CxSetTraceHook([](const wchar_t* text) { g_traces.push_back(text); });
    LRESULT result = 99;
    EXPECT_FALSE(button.CxToolTipText::ProcessWindowMessage(button.m_hWnd, CXM_SETTOOLTIP,
                                                            reinterpret_cast<WPARAM>(L"tip"), 3, result, 5));
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    EXPECT_FALSE(button.CxChildRegion::ProcessWindowMessage(button.m_hWnd, CXM_ADDCHILDREGION,
                                                            reinterpret_cast<WPARAM>(&region), RGN_OR, result, 5));
    EXPECT_FALSE(button.CxCursor::ProcessWindowMessage(button.m_hWnd, WM_SETCURSOR, 0, 0, result, 5));
    CxSetTraceHook(previous);
    DeleteObject(region);
    EXPECT_EQ(result, 99);
    EXPECT_EQ(button.GetToolTip(), nullptr);
    EXPECT_EQ(g_traces, (std::vector<std::wstring>(3, L"Invalid message map ID (5)\n")));
}

// ---- Posted texts ----

// A text posted with CXM_SETTEXT is freed exactly once: by the component that takes it (answering 1),
// or by the control's window procedure when nobody does.
TEST(CxControlLayersTest, APostedTextIsFreedExactlyOnce)
{
    Parent parent;
    TestButton button;
    ASSERT_TRUE(button.Create(parent.hWnd, 100));
    TestStatic label;
    ASSERT_TRUE(label.Create(parent.hWnd, 101));
    const long blocks = CxAllocCount();
    for (HWND target : {button.m_hWnd, label.m_hWnd}) {
        wchar_t* copy = nullptr;
        ASSERT_EQ(CxStrDup(&copy, L"hover"), S_OK);
        ASSERT_EQ(CxPostMessage(target, CXM_SETTEXT, reinterpret_cast<WPARAM>(copy), 0), S_OK);
        EXPECT_EQ(CxAllocCount(), blocks + 1);
        Pump();
        EXPECT_EQ(CxAllocCount(), blocks);
    }
    // The taking component answers nonzero.
    wchar_t* copy = nullptr;
    ASSERT_EQ(CxStrDup(&copy, L"sent"), S_OK);
    EXPECT_EQ(SendMessageW(button.m_hWnd, CXM_SETTEXT, reinterpret_cast<WPARAM>(copy), 0), 1);
    EXPECT_EQ(CxAllocCount(), blocks);
    // Texts still queued when the control goes are freed with it.
    ASSERT_EQ(CxStrDup(&copy, L"late"), S_OK);
    ASSERT_EQ(CxPostMessage(label.m_hWnd, CXM_SETTEXT, reinterpret_cast<WPARAM>(copy), 0), S_OK);
    label.DestroyWindow();
    EXPECT_EQ(CxAllocCount(), blocks);
}

struct HoverSeen {
    std::vector<std::wstring> texts;
    std::vector<LPARAM> params;
};
HoverSeen g_hover;

LRESULT CALLBACK HoverParentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == CXM_SETTEXT) {
        auto* text = reinterpret_cast<wchar_t*>(wParam);
        g_hover.texts.push_back(text != nullptr ? text : L"<null>");
        g_hover.params.push_back(lParam);
        CxFree(text);
        return 1;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST(CxControlLayersTest, PostsHoverTextsOnlyWithATooltip)
{
    RegisterTestWindowClass(L"KwepHoverParent", HoverParentProc);
    HWND parent = CreateWindowExW(0, L"KwepHoverParent", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    TestButton button;
    ASSERT_TRUE(button.Create(parent, 100));
    const long blocks = CxAllocCount();
    g_hover = HoverSeen();

    EXPECT_EQ(CxPostHoverText(&button, parent, L"tip", 5), E_ACCESSDENIED);  // no tooltip text
    EXPECT_EQ(CxAllocCount(), blocks);
    button.ModifyFlags(CXFL_HASTOOLTIP, 0, 0, 0);
    EXPECT_EQ(CxPostHoverText(&button, parent, L"tip", 5), S_OK);
    EXPECT_EQ(CxPostHoverText(&button, parent, nullptr, 6), S_OK);  // the mouse left
    Pump();
    EXPECT_EQ(g_hover.texts, (std::vector<std::wstring>{L"tip", L"<null>"}));
    EXPECT_EQ(g_hover.params, (std::vector<LPARAM>{5, 6}));
    EXPECT_EQ(CxAllocCount(), blocks);

    HWND gone = CreateWindowExW(0, L"KwepHoverParent", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    DestroyWindow(gone);
    EXPECT_EQ(CxPostHoverText(&button, gone, L"tip", 0), E_INVALIDARG);
    EXPECT_EQ(CxAllocCount(), blocks);  // the copy was freed at once
    EXPECT_EQ(CxPostHoverText(nullptr, parent, L"tip", 0), E_ACCESSDENIED);
    button.DestroyWindow();
    EXPECT_EQ(CxPostHoverText(&button, parent, L"tip", 0), E_ACCESSDENIED);  // the control is gone
    DestroyWindow(parent);
}

// ---- Tooltips of dialog items ----

// {3D1B6E40-9A2C-4F71-8B53-6E0A4C2D1F97}
const GUID kGuid = {0x3d1b6e40, 0x9a2c, 0x4f71, {0x8b, 0x53, 0x6e, 0x0a, 0x4c, 0x2d, 0x1f, 0x97}};

class TipsApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override { return &kGuid; }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override {}
    BOOL GetString(CxString& text, UINT id) override
    {
        text.Empty();
        switch (id) {
        case 1:
            return SUCCEEDED(text.Assign(L"Upload\nSends the files"));
        case 2:
            return SUCCEEDED(text.Assign(L"Whole tip"));
        case 3:
            return TRUE;  // found, but empty
        case 4:
            return SUCCEEDED(text.Assign(L"\nOnly a second line"));
        default:
            return FALSE;
        }
    }
};

class TipsDialog : public CxWindowProcT<CWnd>, public CxToolTipText {
public:
    TipsDialog() { CxWndLink::Attach(&m_hWnd); }
};

TEST(CxControlLayersTest, SetsTheTooltipsOfDialogItemsOneByOne)
{
    TipsApp app;
    TipsDialog dialog;
    ASSERT_TRUE(dialog.CreateEx(0, TestClass(), L"dialog", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr));
    TestButton buttons[5];
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(buttons[i].Create(dialog.m_hWnd, 200 + i, 0, 25 * i));
    // A control that does not answer CXM_MODIFYFLAGS.
    HWND plain = CreateWindowExW(0, TestClass(), L"", WS_CHILD, 0, 0, 5, 5, dialog.m_hWnd, reinterpret_cast<HMENU>(210),
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(plain, nullptr);
    const CxDlgItemTip table[] = {
        {200, 1, 7},                // the part before the line break
        {210, 2, 0},                // does not answer: skipped
        {201, 99, 0},               // no such text
        {202, 2, 9},  {203, 3, 0},  // empty text
        {299, 1, 0},                // no such control
        {204, 4, 0},                // nothing before the line break
    };
    dialog.SetDlgItemTips(table, static_cast<int>(std::size(table)));
    struct Expect {
        const wchar_t* tip;
        int flags;
        bool flagged;
    };
    const Expect expected[] = {
        {L"Upload", 7, true}, {nullptr, 0, false}, {L"Whole tip", 9, true}, {nullptr, 0, false}, {nullptr, 0, false}};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const wchar_t* tip = buttons[i].GetToolTip();
        if (expected[i].tip == nullptr) {
            EXPECT_EQ(tip, nullptr);
        } else {
            EXPECT_STREQ(tip, expected[i].tip);
        }
        EXPECT_EQ(buttons[i].GetToolTipFlags(), expected[i].flags);
        EXPECT_EQ((buttons[i].GetLow() & CXFL_HASTOOLTIP) != 0, expected[i].flagged);
    }
    EXPECT_EQ(SendMessageW(buttons[1].m_hWnd, CXM_SETTOOLTIP, reinterpret_cast<WPARAM>(L"direct"), 4), 1);
    EXPECT_STREQ(buttons[1].GetToolTip(), L"direct");
    EXPECT_EQ(buttons[1].GetToolTipFlags(), 4);
    dialog.DestroyWindow();
}

// ---- Cursor ----

std::vector<HCURSOR> g_destroyed;

BOOL CountDestroy(HCURSOR cursor)
{
    g_destroyed.push_back(cursor);
    return DestroyCursor(cursor);
}

HCURSOR NewCursor()
{
    const BYTE andMask[128] = {};
    BYTE xorMask[128];
    memset(xorMask, 0xFF, sizeof(xorMask));
    return CreateCursor(GetModuleHandleW(nullptr), 0, 0, 32, 32, andMask, xorMask);
}

class CursorScope {
public:
    CursorScope() { previous = CxSetDestroyCursorHook(CountDestroy); }
    ~CursorScope() { CxSetDestroyCursorHook(previous); }
    CxDestroyCursorHook previous;
};

// The component destroys the cursors it was given, and never the shared hand cursor.
TEST(CxControlComponentsTest, DestroysOwnedCursorsOnlyNeverTheSharedHand)
{
    CursorScope scope;
    g_destroyed.clear();
    HCURSOR hand = LoadCursorW(nullptr, MAKEINTRESOURCEW(32649));
    ASSERT_NE(hand, nullptr);
    HCURSOR owned = nullptr;
    {
        TestButton button;
        HCURSOR none = nullptr;
        EXPECT_EQ(button.SetCursor(none, TRUE), E_INVALIDARG);
        EXPECT_EQ(button.UseHandCursor(), S_OK);
        EXPECT_EQ(button.GetCursor(), hand);
        owned = NewCursor();
        ASSERT_NE(owned, nullptr);
        HCURSOR given = owned;
        EXPECT_EQ(button.SetCursor(given, TRUE), S_OK);  // the hand is let go, not destroyed
        EXPECT_EQ(given, nullptr);
        EXPECT_EQ(button.GetCursor(), owned);
        EXPECT_TRUE(g_destroyed.empty());
        EXPECT_EQ(button.UseHandCursor(), S_OK);  // the owned cursor is destroyed
        EXPECT_EQ(g_destroyed, std::vector<HCURSOR>{owned});
        EXPECT_EQ(button.UseHandCursor(), S_OK);  // the same shared cursor again
    }
    EXPECT_EQ(g_destroyed, std::vector<HCURSOR>{owned});  // the hand stayed
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(hand, &info));
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
    {
        TestButton button;
        HCURSOR given = NewCursor();
        HCURSOR kept = given;
        EXPECT_EQ(button.SetCursor(given, FALSE), S_OK);
        HCURSOR none = nullptr;
        EXPECT_EQ(button.SetCursor(none, FALSE), S_OK);  // not required: the cursor is dropped
        EXPECT_EQ(button.GetCursor(), nullptr);
        EXPECT_EQ(g_destroyed.back(), kept);
        given = NewCursor();
        kept = given;
        EXPECT_EQ(button.SetCursor(given, FALSE), S_OK);
        g_destroyed.clear();
    }
    EXPECT_EQ(g_destroyed.size(), 1u);  // the one held went with the component
}

TEST(CxControlComponentsTest, TakesTheHandFromTheProgramOnWindows95)
{
    CxForcePlatform(CX_PLATFORM_WIN95);
    TestButton button;
    EXPECT_EQ(button.UseHandCursor(), E_INVALIDARG);  // this program carries no cursor 32649
    EXPECT_EQ(button.GetCursor(), nullptr);
    CxClearForcedPlatform();
    EXPECT_EQ(button.UseHandCursor(), S_OK);
}

TEST(CxControlComponentsTest, FindsWhetherAPointIsOverTheControl)
{
    Parent parent;
    TestButton button;
    ASSERT_TRUE(button.Create(parent.hWnd, 100, 10, 10, 40, 20));
    TestButton partly;  // reaches past the parent's client area
    RECT client{};
    GetClientRect(parent.hWnd, &client);
    ASSERT_TRUE(partly.Create(parent.hWnd, 101, client.right - 10, 50, 40, 20));
    TestButton shaped;  // a region of its left half only
    ASSERT_TRUE(shaped.Create(parent.hWnd, 102, 100, 10, 40, 20));
    SetWindowRgn(shaped.m_hWnd, CreateRectRgn(0, 0, 20, 20), FALSE);
    auto at = [&](int x, int y) {
        POINT p{x, y};
        ClientToScreen(parent.hWnd, &p);
        return p;
    };
    struct Case {
        const char* name;
        HWND control;
        POINT point;
        BOOL over;
    };
    const Case cases[] = {
        {"inside", button.m_hWnd, at(30, 20), TRUE},
        {"top left corner", button.m_hWnd, at(10, 10), TRUE},
        {"right of it", button.m_hWnd, at(50, 20), FALSE},
        {"above it", button.m_hWnd, at(30, 9), FALSE},
        {"inside the parent's client area", partly.m_hWnd, at(client.right - 5, 55), TRUE},
        {"outside the parent's client area", partly.m_hWnd, at(client.right + 5, 55), FALSE},
        {"in its region", shaped.m_hWnd, at(110, 15), TRUE},
        {"in its rectangle, not its region", shaped.m_hWnd, at(130, 15), FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CxIsPointOver(c.control, c.point), c.over);
    }
    EXPECT_FALSE(CxIsPointOver(nullptr, at(30, 20)));
}

TEST(CxControlComponentsTest, SetsItsCursorWhileTheMouseIsOver)
{
    Parent parent;
    TestButton button;
    ASSERT_TRUE(button.Create(parent.hWnd, 100, 10, 10, 40, 20));
    LRESULT unhandled = SendMessageW(button.m_hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(button.m_hWnd),
                                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(button.UseHandCursor(), S_OK);
    POINT inside{30, 20};
    ClientToScreen(parent.hWnd, &inside);
    if (!MovePointerTo(inside))
        GTEST_SKIP() << "the display does not move the pointer";
    EXPECT_EQ(SendMessageW(button.m_hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(button.m_hWnd),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), button.GetCursor());
    EXPECT_EQ(button.Apply(), S_OK);
    POINT outside{200, 150};
    ClientToScreen(parent.hWnd, &outside);
    ASSERT_TRUE(MovePointerTo(outside));
    EXPECT_EQ(SendMessageW(button.m_hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(button.m_hWnd),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              unhandled);  // left to the default handling
    EXPECT_EQ(button.Apply(), E_FAIL);
}

// ---- Regions and frames ----

RECT RegionBox(HRGN region)
{
    RECT box{};
    GetRgnBox(region, &box);
    return box;
}

std::string Text(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// The child's rectangle in its parent's window coordinates, from the two window rectangles.
RECT InParentWindow(HWND child, HWND parent, int left = 0, int top = 0, int right = -1, int bottom = -1)
{
    RECT c{};
    RECT p{};
    GetWindowRect(child, &c);
    GetWindowRect(parent, &p);
    RECT r{c.left - p.left, c.top - p.top, c.right - p.left, c.bottom - p.top};
    if (right >= 0)
        r = RECT{r.left + left, r.top + top, r.left + right, r.top + bottom};
    return r;
}

TEST(CxControlComponentsTest, AddsTheVisibleChildRegionToTheParents)
{
    Parent parent;  // with a caption and a sizing frame
    TestButton visible;
    ASSERT_TRUE(visible.Create(parent.hWnd, 100, 10, 10, 40, 20));
    TestButton hidden;
    ASSERT_TRUE(hidden.Create(parent.hWnd, 101, 60, 10, 40, 20, 0));
    TestButton shaped;
    ASSERT_TRUE(shaped.Create(parent.hWnd, 102, 120, 30, 40, 20));
    SetWindowRgn(shaped.m_hWnd, CreateRectRgn(5, 5, 15, 12), FALSE);

    EXPECT_EQ(SendMessageW(visible.m_hWnd, CXM_ADDCHILDREGION, 0, RGN_OR), 0);  // no record

    HRGN region = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(SendMessageW(visible.m_hWnd, CXM_ADDCHILDREGION, reinterpret_cast<WPARAM>(&region), RGN_OR), 1);
    EXPECT_EQ(Text(RegionBox(region)), Text(InParentWindow(visible.m_hWnd, parent.hWnd)));
    SetRectRgn(region, 0, 0, 0, 0);
    EXPECT_EQ(SendMessageW(hidden.m_hWnd, CXM_ADDCHILDREGION, reinterpret_cast<WPARAM>(&region), RGN_OR), 1);
    EXPECT_EQ(Text(RegionBox(region)), "0,0,0,0");  // an invisible child adds nothing
    EXPECT_EQ(SendMessageW(shaped.m_hWnd, CXM_ADDCHILDREGION, reinterpret_cast<WPARAM>(&region), RGN_OR), 1);
    EXPECT_EQ(Text(RegionBox(region)), Text(InParentWindow(shaped.m_hWnd, parent.hWnd, 5, 5, 15, 12)));
    // Cutting a child out of a region.
    SetRectRgn(region, 0, 0, 1000, 1000);
    SendMessageW(visible.m_hWnd, CXM_ADDCHILDREGION, reinterpret_cast<WPARAM>(&region), RGN_DIFF);
    const RECT child = InParentWindow(visible.m_hWnd, parent.hWnd);
    EXPECT_FALSE(PtInRegion(region, child.left + 1, child.top + 1));
    EXPECT_TRUE(PtInRegion(region, child.left - 1, child.top));
    DeleteObject(region);

    // A record without a region starts from the parent's window rectangle.
    HRGN started = nullptr;
    EXPECT_EQ(SendMessageW(hidden.m_hWnd, CXM_ADDCHILDREGION, reinterpret_cast<WPARAM>(&started), RGN_OR), 1);
    ASSERT_NE(started, nullptr);
    RECT window{};
    GetWindowRect(parent.hWnd, &window);
    EXPECT_EQ(Text(RegionBox(started)), Text(RECT{0, 0, window.right - window.left, window.bottom - window.top}));
    DeleteObject(started);

    // A window without a parent adds nothing.
    TestButton alone;
    ASSERT_TRUE(alone.CreateEx(0, TestClass(), L"", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr));
    region = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(SendMessageW(alone.m_hWnd, CXM_ADDCHILDREGION, reinterpret_cast<WPARAM>(&region), RGN_OR), 1);
    EXPECT_EQ(Text(RegionBox(region)), "0,0,0,0");
    DeleteObject(region);
}

TEST(CxControlComponentsTest, MeasuresTheFrameOfAWindow)
{
    HMENU menu = CreateMenu();
    AppendMenuW(menu, MF_STRING, 1, L"&File");
    HWND framed = CreateWindowExW(WS_EX_CLIENTEDGE, TestClass(), L"framed", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                  300, 200, nullptr, menu, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(framed, nullptr);
    HWND bare = CreateWindowExW(0, TestClass(), L"", WS_CHILD | WS_VISIBLE, 5, 5, 50, 50, framed, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    CxFrameMetrics metrics{};
    ASSERT_EQ(CxGetFrameMetrics(framed, &metrics), S_OK);
    RECT window{};
    RECT client{};
    GetWindowRect(framed, &window);
    GetClientRect(framed, &client);
    POINT origin{0, 0};
    ClientToScreen(framed, &origin);
    EXPECT_EQ(metrics.left, origin.x - window.left);
    EXPECT_EQ(metrics.extraWidth, (window.right - window.left) - client.right);
    // A menu bar that wraps would make the client smaller than the frame says; this one does not.
    EXPECT_EQ(metrics.top, origin.y - window.top);
    EXPECT_EQ(metrics.extraHeight, (window.bottom - window.top) - client.bottom);
    ASSERT_EQ(CxGetFrameMetrics(bare, &metrics), S_OK);
    EXPECT_EQ(metrics.left, 0);
    EXPECT_EQ(metrics.top, 0);
    EXPECT_EQ(metrics.extraWidth, 0);
    EXPECT_EQ(metrics.extraHeight, 0);
    DestroyWindow(framed);
    EXPECT_EQ(CxGetFrameMetrics(framed, &metrics), E_INVALIDARG);
    EXPECT_EQ(CxGetFrameMetrics(nullptr, &metrics), E_INVALIDARG);
}

// ---- The static layer's name and font ----

TEST(CxControlLayersTest, NamesFromTheIdAndKeepsItsOwnFont)
{
    Parent parent;
    TestStatic label;
    ASSERT_TRUE(label.Create(parent.hWnd, 4004));
    const wchar_t* name = label.NameFromId(L"Path.");
    EXPECT_STREQ(name, L"Path.4004");
    EXPECT_EQ(label.NameFromId(L"Other."), name);  // made once and kept

    EXPECT_EQ(label.CreateFont(nullptr), S_OK);  // a copy of the window's font
    HFONT first = label.GetFont();
    ASSERT_NE(first, nullptr);
    LOGFONTW wanted{};
    wanted.lfHeight = -17;
    wcscpy(wanted.lfFaceName, L"Tahoma");
    HFONT given = CreateFontIndirectW(&wanted);
    EXPECT_EQ(SendMessageW(label.m_hWnd, CXM_SETFONT, reinterpret_cast<WPARAM>(given), 0), 1);
    HFONT second = label.GetFont();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, given);  // its own copy
    EXPECT_EQ(GetObjectType(first), 0u) << "the font held before was not deleted";
    LOGFONTW held{};
    ASSERT_EQ(GetObjectW(second, sizeof(held), &held), static_cast<int>(sizeof(held)));
    EXPECT_EQ(held.lfHeight, -17);
    DeleteObject(given);
    EXPECT_EQ(label.CreateFont(given), E_FAIL);  // unreadable now
    EXPECT_EQ(label.GetFont(), second);
}

// ---- The control skin bundle ----

struct SkinParent {
    std::wstring file;
    int fileAsked = 0;
};

LRESULT CALLBACK SkinParentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<SkinParent*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (state != nullptr && message == CXM_GETSKINSECTION) {
        if (wParam == 300 + 2 && lParam != 0)
            *reinterpret_cast<const wchar_t**>(lParam) = L"ctl";
        return 1;
    }
    if (state != nullptr && message == CXM_GETSKINFILE) {
        ++state->fileAsked;
        CxStrDup(reinterpret_cast<wchar_t**>(wParam), state->file.c_str());
        return 1;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

class TestSkinCtrl : public CxButtonLayerT<CWnd>, public CxSkinCtrl {
public:
    TestSkinCtrl() { CxWndLink::Attach(&m_hWnd); }
    int GetPosIndex() override { return 0; }
    bool Create(HWND parent, int id)
    {
        return CreateEx(0, TestClass(), L"", WS_CHILD | WS_VISIBLE, 1, 2, 10, 10, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id))) != FALSE;
    }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        return CxSkinCtrl::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
    }
};

RECT Placed(HWND child)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void WriteText(const std::wstring& path, const char* text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(file);
}

TEST(CxSkinCtrlTest, TakesItsPositionFromTheParentsSkinFile)
{
    TempFolder folder;
    const std::wstring first = folder.File(L"first.ini").wstring();
    const std::wstring second = folder.File(L"second.ini").wstring();
    const std::wstring broken = folder.File(L"broken.ini").wstring();
    WriteText(first, "[ctl]\r\npos=30,40,50,20\r\n");
    WriteText(second, "[CTL]\r\npos=70,80,20,25|1,1,1,1\r\n");
    WriteText(broken, "[ctl]\r\npos=299,155\r\n");

    RegisterTestWindowClass(L"KwepSkinCtrlParent", SkinParentProc);
    SkinParent state{first, 0};
    HWND parent = CreateWindowExW(0, L"KwepSkinCtrlParent", L"", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(parent, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));

    // Created by the framework: the keys are registered and the parent's skin file applied at WM_CREATE.
    TestSkinCtrl ctl;
    ASSERT_TRUE(ctl.Create(parent, 300));
    EXPECT_TRUE(ctl.GetLow() & CXFL_SKINLOADED);
    ASSERT_EQ(ctl.GetSkinRecords().GetCount(), 1);
    EXPECT_STREQ(ctl.GetSkinRecords().ElementAt(0).key, L"pos");
    EXPECT_EQ(state.fileAsked, 1);
    EXPECT_EQ(Text(Placed(ctl.m_hWnd)), "30,40,80,60");

    // Loaded once only.
    EXPECT_EQ(SendMessageW(ctl.m_hWnd, CXM_INITCONTROL, 0, 0), 1);
    EXPECT_EQ(ctl.LoadSkinOnce(), S_FALSE);

    // Offsets from a layout, applied when the flags change.
    const POINT move{5, 6};
    const SIZE grow{1, 2};
    EXPECT_EQ(
        SendMessageW(ctl.m_hWnd, CXM_ADDOFFSETS, reinterpret_cast<WPARAM>(&move), reinterpret_cast<LPARAM>(&grow)), 1);
    EXPECT_EQ(SendMessageW(ctl.m_hWnd, CXM_FLAGSCHANGED, 0, 0), 1);
    EXPECT_EQ(Text(Placed(ctl.m_hWnd)), "35,46,86,68");

    // Another skin: the offsets start again from zero.
    EXPECT_EQ(SendMessageW(ctl.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(second.c_str()), 0), 1);
    EXPECT_EQ(Text(Placed(ctl.m_hWnd)), "70,80,90,105");
    EXPECT_EQ(ctl.GetPositions().GetCount(), 1);  // one state registered

    // A position without its size leaves the control where it is.
    EXPECT_EQ(ctl.ApplySection(broken.c_str()), E_ACCESSDENIED);
    EXPECT_EQ(Text(Placed(ctl.m_hWnd)), "70,80,90,105");
    EXPECT_EQ(SendMessageW(ctl.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(L""), 0), 0);
    EXPECT_EQ(SendMessageW(ctl.m_hWnd, CXM_APPLYSKINFILE, 0, 0), 0);

    // The built-in skin by its resource spec.
    EXPECT_EQ(SendMessageW(ctl.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(CX_BUILTIN_SKIN_SPEC), 0), 1);
    EXPECT_EQ(Text(Placed(ctl.m_hWnd)), "70,80,90,105");  // it has no section "ctl"

    const wchar_t* section = L"untouched";
    EXPECT_EQ(SendMessageW(ctl.m_hWnd, CXM_GETSKINSECTION, 2, reinterpret_cast<LPARAM>(&section)), 1);
    EXPECT_EQ(section, nullptr);  // it holds no controls of its own
    LRESULT result = 0;
    EXPECT_FALSE(ctl.ProcessWindowMessage(ctl.m_hWnd, CXM_INITCONTROL, 0, 0, result, 5));
    // Map id -2 has no offsets entry.
    EXPECT_FALSE(ctl.ProcessWindowMessage(ctl.m_hWnd, CXM_ADDOFFSETS, reinterpret_cast<WPARAM>(&move), 0, result,
                                          CX_MAPID_SKIN));
    EXPECT_TRUE(ctl.ProcessWindowMessage(ctl.m_hWnd, CXM_INITCONTROL, 0, 0, result, CX_MAPID_SKIN));

    // A control whose id the parent does not know keeps its template place and registers nothing.
    TestSkinCtrl unknown;
    ASSERT_TRUE(unknown.Create(parent, 301));
    EXPECT_EQ(Text(Placed(unknown.m_hWnd)), "1,2,11,12");
    EXPECT_EQ(unknown.GetSkinRecords().GetCount(), 0);
    EXPECT_EQ(unknown.ApplySection(first.c_str()), S_FALSE);

    // With a skin region applied already, creation does not apply the file.
    TestSkinCtrl shaped;
    shaped.ModifyFlags(CXFL_SKINREGION, 0, 0, 0);
    ASSERT_TRUE(shaped.Create(parent, 300));
    EXPECT_EQ(Text(Placed(shaped.m_hWnd)), "1,2,11,12");
    EXPECT_EQ(SendMessageW(shaped.m_hWnd, CXM_INITSKIN, 0, 0), 1);
    EXPECT_EQ(shaped.GetSkinRecords().GetCount(), 1);
    DestroyWindow(parent);
}

}  // namespace
