// The base dialog with real dialogs: placement kept under the dialog's key, translated tooltips,
// idle command-UI update, accelerators in the modal loop, dragging and end-by-click, the size grip,
// and the anchored layout with its minimum-size clamp.
#include "manager/framework/windows/cx_app.h"
#include "manager/framework/windows/cx_basedlg.h"
#include "tests/manager/registry_tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

const wchar_t kKeyPath[] = L"software\\KwepTest\\DlgTest";
const char kDialogKeyTool[] = "HKCU\\software\\KwepTest\\DlgTest\\d_00000066";

// {0B7F4A12-6C35-4E8D-A1F2-3D4C5B6A7988}
const GUID kGuid = {0x0b7f4a12, 0x6c35, 0x4e8d, {0xa1, 0xf2, 0x3d, 0x4c, 0x5b, 0x6a, 0x79, 0x88}};

class DlgTestApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override { return &kGuid; }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override
    {
        SetRegistryKey(L"KwepTest");
        m_pszProfileName = L"DlgTest";
    }
    BOOL GetString(CxString& text, UINT id) override
    {
        text.Empty();
        switch (id) {
        case 1:
            return SUCCEEDED(text.Assign(L"Prompt one\nTip one"));
        case 2:
            return SUCCEEDED(text.Assign(L"Whole tip"));
        case 4:
            return SUCCEEDED(text.Assign(L"Prompt\nTip\nwith two breaks"));
        default:
            return FALSE;
        }
    }
};

class TestDlg : public CxBaseDlg {
public:
    TestDlg() : CxBaseDlg(102u, nullptr) {}

    std::function<void(TestDlg&)> onInit;
    std::function<void(TestDlg&)> onFirstIdle;
    std::vector<UINT> edges;  // edge flags of every layout
    std::vector<UINT> seen;   // private messages offered to the pre-map
    int handledCalls = 0;
    BOOL updateEnable = FALSE;
    bool noHandlerEnabledAtAccel = true;

    BOOL OnInitDialog() override
    {
        CxBaseDlg::OnInitDialog();
        if (onInit)
            onInit(*this);
        return TRUE;
    }

    HRESULT RepositionControls(UINT edgeFlags, RECT& base, RECT& newRect) override
    {
        edges.push_back(edgeFlags);
        return CxBaseDlg::RepositionControls(edgeFlags, base, newRect);
    }

    void UpdateCommandUI() override
    {
        CxBaseDlg::UpdateCommandUI();
        if (onFirstIdle) {
            auto once = std::move(onFirstIdle);
            onFirstIdle = nullptr;
            once(*this);
        }
    }

    void SetFlags(DWORD low, DWORD high) { ModifyFlags(low, high, ~low, ~high); }
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (message >= CXM_FIRST && message <= CXM_LAST)
            seen.push_back(message);
        return CxBaseDlg::PreMap(hWnd, message, wParam, lParam, lResult, mapId);
    }

    void OnHandled() { ++handledCalls; }
    void OnUpdateUpdated(CCmdUI* ui) { ui->Enable(updateEnable); }
    void OnAccelerator()
    {
        noHandlerEnabledAtAccel = IsWindowEnabled(Item(1101)) != FALSE;
        EndDialog(4242);
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDlg, CxBaseDlg)
ON_COMMAND(1100, OnHandled)
ON_UPDATE_COMMAND_UI(1104, OnUpdateUpdated)
ON_COMMAND(5000, OnAccelerator)
END_MESSAGE_MAP()

class CxBaseDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry_tool::DeleteTree(HKEY_CURRENT_USER, kKeyPath);
        app.InitRegistry();
    }
    void TearDown() override { registry_tool::DeleteTree(HKEY_CURRENT_USER, kKeyPath); }

    DlgTestApp app;
};

RECT WindowRect(HWND hWnd)
{
    RECT r{};
    GetWindowRect(hWnd, &r);
    return r;
}

std::string RectText(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// A child's rectangle in its dialog's client coordinates.
RECT ChildRect(HWND dialog, HWND child)
{
    RECT r = WindowRect(child);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST_F(CxBaseDlgTest, PlacementIsKeptUnderTheDialogsKey)
{
    {
        TestDlg dlg;
        dlg.SetFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS | CXFL_RESTOREPLACEMENT, 0);
        ASSERT_TRUE(dlg.Create(102u, nullptr));
        CxKeyPath path;
        ASSERT_EQ(dlg.GetPersistKeyPath(path), S_OK);
        ASSERT_EQ(path.GetCount(), 4);
        EXPECT_STREQ(path.GetAt(3), L"d_00000066");
        ASSERT_TRUE(SetWindowPos(dlg, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
        const RECT saved = WindowRect(dlg);
        dlg.DestroyWindow();
        const std::string expected = std::to_string(saved.left) + "," + std::to_string(saved.top) + "," +
                                     std::to_string(saved.right) + "," + std::to_string(saved.bottom) + ",1,0";
        EXPECT_EQ(registry_tool::Query(kDialogKeyTool, "Placement"), expected);
    }
    {
        TestDlg dlg;
        dlg.SetFlags(CXFL_CANLOADPROPS | CXFL_RESTOREPLACEMENT, 0);
        ASSERT_TRUE(dlg.Create(102u, nullptr));
        EXPECT_EQ(WindowRect(dlg).left, 123);
        EXPECT_EQ(WindowRect(dlg).top, 77);
        // Without the save flag its destruction leaves the value as it was.
        ASSERT_TRUE(SetWindowPos(dlg, nullptr, 300, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
        dlg.DestroyWindow();
        EXPECT_EQ(registry_tool::Query(kDialogKeyTool, "Placement").rfind("123,77,", 0), 0u);
    }
}

TEST_F(CxBaseDlgTest, SkinInitialisationOnlyOnce)
{
    {
        TestDlg fresh;
        EXPECT_TRUE(fresh.GetLow() & CXFL_KEEPENABLED);  // set at construction
    }
    for (const bool loaded : {false, true}) {
        SCOPED_TRACE(loaded);
        TestDlg dlg;
        dlg.SetFlags(loaded ? CXFL_SKINLOADED : 0, 0);
        ASSERT_TRUE(dlg.Create(102u, nullptr));
        EXPECT_EQ(std::count(dlg.seen.begin(), dlg.seen.end(), CXM_INITSKIN), loaded ? 0 : 1);
        EXPECT_TRUE(dlg.GetLow() & CXFL_SKINLOADED);
        dlg.DestroyWindow();
    }
}

TEST_F(CxBaseDlgTest, TranslatedToolTips)
{
    TestDlg dlg;
    ASSERT_TRUE(dlg.Create(102u, nullptr));
    const CxControlText table[] = {{1100, 1}, {1101, 2}, {1102, 3}, {9999, 1}, {1104, 4}};
    dlg.TranslateControls(table, 5);
    CToolTipCtrl& tip = dlg.GetToolTip();
    EXPECT_EQ(tip.GetText(dlg.Item(1100)), L"Tip one");
    EXPECT_EQ(tip.GetText(dlg.Item(1101)), L"Whole tip");
    EXPECT_FALSE(tip.HasTool(dlg.Item(1102)));  // no translation
    EXPECT_EQ(tip.GetText(dlg.Item(1104)), L"Tip\nwith two breaks");
    EXPECT_EQ(tip.GetToolCount(), 3);
    // Translated again: the existing tool's text changes, no second tool.
    const CxControlText again[] = {{1100, 2}};
    dlg.TranslateControls(again, 1);
    EXPECT_EQ(tip.GetText(dlg.Item(1100)), L"Whole tip");
    EXPECT_EQ(tip.GetToolCount(), 3);
    dlg.DestroyWindow();
}

// Records TTM_ACTIVATE sent on this thread.
std::vector<WPARAM> g_activations;
LRESULT CALLBACK ActivateHook(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && msg->message == TTM_ACTIVATE)
        g_activations.push_back(msg->wParam);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(CxBaseDlgTest, ToolTipsFollowTheApplicationSwitch)
{
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, ActivateHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    for (const bool off : {false, true}) {
        SCOPED_TRACE(off);
        g_activations.clear();
        app.ModifyAppFlags(off ? CXFL_NOTOOLTIPS : 0, off ? 0 : CXFL_NOTOOLTIPS);
        TestDlg dlg;
        ASSERT_TRUE(dlg.Create(102u, nullptr));
        ASSERT_EQ(g_activations.size(), 1u);
        EXPECT_EQ(g_activations[0], off ? 0u : 1u);
        EXPECT_EQ(dlg.SendMessage(CXM_ENABLETOOLTIPS, off ? TRUE : FALSE), 1);
        ASSERT_EQ(g_activations.size(), 2u);
        EXPECT_EQ(g_activations[1], off ? 1u : 0u);
        dlg.DestroyWindow();
    }
    UnhookWindowsHookEx(hook);
}

TEST_F(CxBaseDlgTest, IdleUpdateOfControls)
{
    struct Case {
        bool keepEnabled;
        BOOL updateEnable;
        bool noHandler;  // the push button without a handler
        bool updated;    // the one with an update handler
    };
    const Case cases[] = {{false, FALSE, false, false}, {true, FALSE, true, false}, {false, TRUE, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.keepEnabled << c.updateEnable);
        TestDlg dlg;
        dlg.SetFlags(c.keepEnabled ? CXFL_KEEPENABLED : 0, 0);
        dlg.updateEnable = c.updateEnable;
        ASSERT_TRUE(dlg.Create(102u, nullptr));
        EXPECT_EQ(dlg.SendMessage(WM_KICKIDLE, MSGF_DIALOGBOX, 0), 0);
        EXPECT_TRUE(IsWindowEnabled(dlg.Item(1100)));  // has a command handler
        EXPECT_EQ(IsWindowEnabled(dlg.Item(1101)) != FALSE, c.noHandler);
        EXPECT_TRUE(IsWindowEnabled(dlg.Item(1102)));  // check boxes work without a handler
        EXPECT_TRUE(IsWindowEnabled(dlg.Item(1103)));  // not a button
        EXPECT_EQ(IsWindowEnabled(dlg.Item(1104)) != FALSE, c.updated);
        EXPECT_TRUE(IsWindowEnabled(dlg.Item(IDOK)));  // the dialog's own OK handler
        dlg.DestroyWindow();
    }
}

TEST_F(CxBaseDlgTest, AcceleratorsInTheModalLoop)
{
    TestDlg dlg;
    dlg.SetFlags(0, 0);
    dlg.onInit = [](TestDlg& d) {
        ACCEL accel{FVIRTKEY, VK_F5, 5000};
        d.SetAccelerators(CreateAcceleratorTable(&accel, 1));
    };
    // Pressed in the edit control once the loop went idle: the dialog's table still takes it.
    dlg.onFirstIdle = [](TestDlg& d) {
        PostMessageW(d.Item(1103), WM_KEYDOWN, VK_F5, 0);
    };
    EXPECT_EQ(dlg.DoModal(), 4242);
    // The modal loop went idle before the key: the control without a handler had been disabled.
    EXPECT_FALSE(dlg.noHandlerEnabledAtAccel);
    EXPECT_EQ(dlg.GetAccelerators(), nullptr);  // destroyed with the window
    EXPECT_EQ(dlg.DestroyAccelerators(), E_INVALIDARG);
}

TEST_F(CxBaseDlgTest, ClickDragsOrEnds)
{
    struct Case {
        DWORD low;
        bool shift;
        UINT posted;
        LPARAM lParam;
    };
    const Case cases[] = {
        {0, false, CXM_DRAGWINDOW, 0},
        {CXFL_CLICKENDS, false, CXM_ENDDIALOG, 1},
        {CXFL_CLICKENDS, true, CXM_DRAGWINDOW, 0},
    };
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.low << c.shift);
        TestDlg dlg;
        dlg.SetFlags(c.low, 0);
        ASSERT_TRUE(dlg.Create(102u, nullptr));
        BYTE state[256];
        std::copy(std::begin(keys), std::end(keys), state);
        state[VK_SHIFT] = c.shift ? 0x80 : 0;
        SetKeyboardState(state);
        dlg.SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(5, 5));
        SetKeyboardState(keys);
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, dlg, CXM_FIRST, CXM_LAST, PM_REMOVE));
        EXPECT_EQ(msg.message, c.posted);
        if (c.posted == CXM_DRAGWINDOW) {
            EXPECT_EQ(msg.wParam, reinterpret_cast<WPARAM>(dlg.m_hWnd));
        } else {
            EXPECT_EQ(msg.lParam, c.lParam);
        }
        dlg.DestroyWindow();
    }

    // End-by-click in a modal run ends with 1.
    TestDlg dlg;
    dlg.SetFlags(CXFL_CLICKENDS, 0);
    dlg.onInit = [](TestDlg& d) {
        PostMessageW(d, WM_LBUTTONDOWN, 0, MAKELPARAM(5, 5));
    };
    EXPECT_EQ(dlg.DoModal(), 1);
}

TEST_F(CxBaseDlgTest, SizeGripHitTestAndIcon)
{
    TestDlg dlg;
    HICON icon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    dlg.SetIcon(icon);
    ASSERT_TRUE(dlg.Create(102u, nullptr));
    EXPECT_EQ(reinterpret_cast<HICON>(dlg.SendMessage(WM_GETICON, ICON_BIG)), icon);
    EXPECT_EQ(reinterpret_cast<HICON>(dlg.SendMessage(WM_QUERYDRAGICON)), icon);

    RECT client{};
    GetClientRect(dlg, &client);
    POINT corner{client.right - 2, client.bottom - 2};
    ClientToScreen(dlg, &corner);
    const LPARAM at = MAKELPARAM(corner.x, corner.y);
    EXPECT_EQ(dlg.SendMessage(WM_NCHITTEST, 0, at), HTCLIENT);
    ASSERT_EQ(dlg.SetAnchors(nullptr, 0, TRUE, TRUE), S_OK);
    EXPECT_EQ(dlg.SendMessage(WM_NCHITTEST, 0, at), HTBOTTOMRIGHT);
    POINT middle{client.right / 2, client.bottom / 2};
    ClientToScreen(dlg, &middle);
    EXPECT_EQ(dlg.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(middle.x, middle.y)), HTCLIENT);
    dlg.DestroyWindow();
}

CxAnchor Anchor(int id)
{
    CxAnchor a{};
    a.id = id;
    return a;
}

TEST_F(CxBaseDlgTest, AnchoredLayoutTable)
{
    struct Case {
        const char* name;
        UINT edges;
        int dLeft, dTop, dRight, dBottom;  // the new rectangle against the base
        int index;                         // the factor pair set for the control
        int move, size;
        int dx, dy, dw, dh;  // expected change of the control
    };
    const Case cases[] = {
        {"right grew, moves", CX_EDGE_RIGHT, 0, 0, 40, 0, 5, 1, 0, 40, 0, 0, 0},
        {"right grew, stretches", CX_EDGE_RIGHT, 0, 0, 40, 0, 5, 0, 1, 0, 0, 40, 0},
        {"right shrank, follows", CX_EDGE_RIGHT, 0, 0, -20, 0, 4, -1, 0, -20, 0, 0, 0},
        {"left shrank, stays on screen", CX_EDGE_LEFT, 30, 0, 0, 0, 1, 0, 0, -30, 0, 0, 0},
        {"left grew, stays on screen", CX_EDGE_LEFT, -20, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0},
        {"left grew, factor -1 stays in the client", CX_EDGE_LEFT, -20, 0, 0, 0, 0, -1, 0, 0, 0, 0, 0},
        {"left shrank, factor 1 stays in the client", CX_EDGE_LEFT, 30, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0},
        {"top shrank", CX_EDGE_TOP, 0, 10, 0, 0, 3, 0, 0, 0, -10, 0, 0},
        {"bottom grew, stretches", CX_EDGE_BOTTOM, 0, 0, 0, 25, 7, 0, 1, 0, 0, 0, 25},
        {"bottom shrank, moves", CX_EDGE_BOTTOM, 0, 0, 0, -15, 6, -1, 0, 0, -15, 0, 0},
        {"edge not in the flags", CX_EDGE_TOP, 0, 0, 40, 0, 5, 1, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDlg dlg;
        dlg.SetFlags(0, CXFH_STRETCH);
        ASSERT_TRUE(dlg.Create(102u, nullptr));
        CxAnchor a = Anchor(1103);
        a.factors[c.index][0] = c.move;
        a.factors[c.index][1] = c.size;
        ASSERT_EQ(dlg.SetAnchors(&a, 1, FALSE, FALSE), S_OK);
        const RECT before = ChildRect(dlg, dlg.Item(1103));
        RECT base = WindowRect(dlg);
        RECT next{base.left + c.dLeft, base.top + c.dTop, base.right + c.dRight, base.bottom + c.dBottom};
        EXPECT_EQ(dlg.RepositionControls(c.edges, base, next), S_OK);
        const RECT after = ChildRect(dlg, dlg.Item(1103));
        EXPECT_EQ(after.left - before.left, c.dx);
        EXPECT_EQ(after.top - before.top, c.dy);
        EXPECT_EQ((after.right - after.left) - (before.right - before.left), c.dw);
        EXPECT_EQ((after.bottom - after.top) - (before.bottom - before.top), c.dh);
        EXPECT_EQ(RectText(base), RectText(next));  // the next layout measures from here
        dlg.DestroyWindow();
    }
}

TEST_F(CxBaseDlgTest, MinimumSizeClampAppliesToEveryChild)
{
    TestDlg dlg;
    dlg.SetFlags(0, CXFH_STRETCH);
    ASSERT_TRUE(dlg.Create(102u, nullptr));
    // The first control follows the right edge; the second shrinks with it and would fall below its
    // registered width, so the window keeps its width and neither control changes.
    CxAnchor anchors[2] = {Anchor(IDOK), Anchor(1103)};
    anchors[0].factors[4][0] = -1;
    anchors[1].factors[4][1] = -1;
    ASSERT_EQ(dlg.SetAnchors(anchors, 2, FALSE, FALSE), S_OK);
    const RECT ok = ChildRect(dlg, dlg.Item(IDOK));
    const RECT edit = ChildRect(dlg, dlg.Item(1103));
    RECT base = WindowRect(dlg);
    const RECT original = base;
    RECT next = base;
    next.right -= 30;
    EXPECT_EQ(dlg.RepositionControls(CX_EDGE_RIGHT, base, next), S_OK);
    EXPECT_EQ(next.right, original.right);  // narrowed back to the base width
    EXPECT_EQ(RectText(ChildRect(dlg, dlg.Item(IDOK))), RectText(ok));
    EXPECT_EQ(RectText(ChildRect(dlg, dlg.Item(1103))), RectText(edit));

    // Growing first, then shrinking back to where it was, is allowed and lays both out alike.
    next = base;
    next.right += 50;
    EXPECT_EQ(dlg.RepositionControls(CX_EDGE_RIGHT, base, next), S_OK);
    next = base;
    next.right -= 50;
    EXPECT_EQ(dlg.RepositionControls(CX_EDGE_RIGHT, base, next), S_OK);
    EXPECT_EQ(RectText(ChildRect(dlg, dlg.Item(IDOK))), RectText(ok));
    EXPECT_EQ(RectText(ChildRect(dlg, dlg.Item(1103))), RectText(edit));

    // Dragging the left edge is held at the left edge.
    next = base;
    next.left += 30;
    EXPECT_EQ(dlg.RepositionControls(CX_EDGE_LEFT, base, next), S_OK);
    dlg.DestroyWindow();

    TestDlg none;
    ASSERT_TRUE(none.Create(102u, nullptr));
    RECT b = WindowRect(none);
    RECT n = b;
    EXPECT_EQ(none.RepositionControls(CX_EDGE_RIGHT, b, n), CX_E_NOTREGISTERED);
    none.DestroyWindow();
}

TEST_F(CxBaseDlgTest, SizingAndSizeMessagesPickTheEdges)
{
    TestDlg dlg;
    dlg.SetFlags(0, CXFH_STRETCH);
    ASSERT_TRUE(dlg.Create(102u, nullptr));
    CxAnchor a = Anchor(1103);
    ASSERT_EQ(dlg.SetAnchors(&a, 1, TRUE, FALSE), S_OK);
    dlg.edges.clear();
    for (WPARAM edge = WMSZ_LEFT; edge <= WMSZ_BOTTOMRIGHT; ++edge) {
        RECT r = WindowRect(dlg);
        EXPECT_EQ(dlg.SendMessage(WM_SIZING, edge, reinterpret_cast<LPARAM>(&r)), TRUE);
    }
    EXPECT_EQ(dlg.edges, (std::vector<UINT>{1, 4, 2, 3, 6, 8, 9, 12}));

    dlg.edges.clear();
    ShowWindow(dlg, SW_SHOWMAXIMIZED);
    ShowWindow(dlg, SW_RESTORE);
    ShowWindow(dlg, SW_MINIMIZE);
    ASSERT_GE(dlg.edges.size(), 2u);
    EXPECT_EQ(dlg.edges[0], CX_EDGES_MAXIMIZED);
    EXPECT_EQ(dlg.edges.back(), CX_EDGES_RESTORED);  // minimising lays nothing out
    ShowWindow(dlg, SW_RESTORE);

    // The minimum track size is the size at initialisation.
    MINMAXINFO info{};
    dlg.SendMessage(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    RECT r = WindowRect(dlg);
    EXPECT_EQ(info.ptMinTrackSize.x, r.right - r.left);
    EXPECT_EQ(info.ptMinTrackSize.y, r.bottom - r.top);
    dlg.DestroyWindow();

    // Without the stretch option sizing lays nothing out.
    TestDlg plain;
    ASSERT_TRUE(plain.Create(102u, nullptr));
    ASSERT_EQ(plain.SetAnchors(&a, 1, FALSE, FALSE), S_OK);
    plain.edges.clear();
    RECT s = WindowRect(plain);
    plain.SendMessage(WM_SIZING, WMSZ_RIGHT, reinterpret_cast<LPARAM>(&s));
    ShowWindow(plain, SW_SHOWMAXIMIZED);
    EXPECT_TRUE(plain.edges.empty());
    plain.DestroyWindow();
}

}  // namespace
