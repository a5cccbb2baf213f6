// The skinned dialog with menus and the main dialog base, on a dialog with a menu bar: menu prompts, the
// status bar's one owner of every hover text, the border under the menu bar, item states from the
// command handlers, the pack items and the tool-tip switch of every window.
#include "manager/dialogs/cx_main_dlg.h"
#include "manager/framework/windows/cx_app.h"
#include "tests/manager/registry_tool.h"
#include "tests/manager/test_window_class.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr UINT kTemplate = 301;
constexpr UINT kHandled = 4241;
constexpr UINT kUnhandled = 4242;
constexpr UINT kStatusBar = 1001;
const wchar_t kKey[] = L"software\\KwepTest\\MainDlg";

// {6B0D1E42-8C55-4A2B-9E71-3D5F0A1B2C3E}
const GUID kGuid = {0x6b0d1e42, 0x8c55, 0x4a2b, {0x9e, 0x71, 0x3d, 0x5f, 0x0a, 0x1b, 0x2c, 0x3e}};

class TestApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override { return &kGuid; }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override { SetRegistryKey(L"KwepTest"); }
    BOOL GetString(CxString& text, UINT id) override
    {
        text.Empty();
        if (id == kHandled)
            return SUCCEEDED(text.Assign(L"Does something\nSomething"));
        if (id == 0xEF06)
            return SUCCEEDED(text.Assign(L"Closes the window"));
        return FALSE;
    }
};

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Every CXM_ENABLETOOLTIPS a child got.
std::vector<std::pair<HWND, WPARAM>> g_tips;

LRESULT CALLBACK ChildProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == CXM_ENABLETOOLTIPS) {
        g_tips.emplace_back(hWnd, wParam);
        return 1;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

const wchar_t* ChildClass()
{
    static const wchar_t* name = RegisterTestWindowClass(L"KwepMainDlgChild", ChildProc);
    return name;
}

class TestMainDlg : public CxMainDlg {
public:
    TestMainDlg() : CxMainDlg(kTemplate, nullptr)
    {
        SetBuiltInPackFile(CX_BUILTIN_SKIN_SPEC);
        ModifyFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS, 0, 0, 0);
    }
    ~TestMainDlg() override
    {
        if (m_hWnd != nullptr)
            DestroyWindow();
    }

    HRESULT GetPersistKeyPath(CxKeyPath& path) override
    {
        for (const wchar_t* c : {L"software", L"KwepTest", L"MainDlg"})
            CxKeyPathAdd(path, c);
        return S_OK;
    }

    BOOL OnInitDialog() override
    {
        CxMainDlg::OnInitDialog();
        const RECT bar{0, 100, 200, 118};
        m_textBar.Create(m_hWnd, bar, kStatusBar);
        return TRUE;
    }

    void SetFlags(DWORD setLow, DWORD setHigh, DWORD clearLow, DWORD clearHigh)
    {
        ModifyFlags(setLow, setHigh, clearLow, clearHigh);
    }
    int handled = 0;

protected:
    void OnHandled() { ++handled; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestMainDlg, CxMainDlg)
ON_COMMAND(kHandled, OnHandled)
END_MESSAGE_MAP()

class CxMainDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry_tool::DeleteTree(HKEY_CURRENT_USER, kKey);
        ASSERT_TRUE(dlg.Create(kTemplate, nullptr));
        g_tips.clear();
    }
    void TearDown() override
    {
        dlg.DestroyWindow();
        Pump();
        registry_tool::DeleteTree(HKEY_CURRENT_USER, kKey);
    }

    HMENU Popup(int index) { return GetSubMenu(GetMenu(dlg.m_hWnd), index); }
    UINT State(HMENU menu, UINT id) { return GetMenuState(menu, id, MF_BYCOMMAND); }

    TestMainDlg dlg;
};

TEST(CxMenuPromptTest, PromptIds)
{
    struct Case {
        UINT id;
        UINT flags;
        DWORD high;
        UINT expected;
    };
    const Case cases[] = {
        {0xF060, 0, 0, 0xEF06},  // SC_CLOSE
        {0xF000, 0, 0, 0xEF00},
        {0xF1E0, 0, 0, 0xEF1E},
        {4242, MF_STRING, 0, 4242},
        {60003, MF_STRING, 0, 60003},
        {2, MF_POPUP, 0, 0},
        {0, MF_SEPARATOR, 0, 0},
        {0, 0, 0, 0},
        {0, 0xFFFF, 0, CX_IDS_IDLEMESSAGE},
        {0, 0xFFFF, CXFH_NOIDLEPROMPT, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CxMenuPromptId(c.id, c.flags, c.high), c.expected) << c.id << "/" << c.flags;
}

TEST_F(CxMainDlgTest, HoverAndPromptTextsEndInTheStatusBarAndAreFreedOnce)
{
    TestApp app;
    CxTextBarCtrl& bar = *dlg.GetStatusBar();
    ASSERT_NE(bar.m_hWnd, nullptr);
    Pump();
    const long before = CxAllocCount();
    ASSERT_EQ(CxPostText(dlg.m_hWnd, CXM_SETTEXT, L"hover"), S_OK);
    Pump();
    EXPECT_STREQ(bar.GetMainText(), L"hover");
    EXPECT_EQ(CxAllocCount(), before + 1);  // the bar's copy
    wchar_t* sent = nullptr;
    ASSERT_EQ(CxStrDup(&sent, L"sent"), S_OK);
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, CXM_SETTEXT, reinterpret_cast<WPARAM>(sent), 0), 1);  // taken
    EXPECT_STREQ(bar.GetMainText(), L"sent");
    EXPECT_EQ(CxAllocCount(), before + 1);

    struct Case {
        const char* what;
        UINT id;
        UINT flags;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {"a translated prompt keeps the part before its short name", kHandled, MF_STRING, L"Does something"},
        {"a system command", 0xF060, MF_STRING | MF_SYSMENU, L"Closes the window"},
        {"an item without a prompt", kUnhandled, MF_STRING, nullptr},
        {"a pack item without a translation: the pack's description", CX_ID_PACK_FIRST, MF_STRING,
         L"The built-in skin"},
        {"a pop-up", 0, MF_POPUP, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bar.SetText(L"stale", FALSE);
        SendMessageW(dlg.m_hWnd, WM_MENUSELECT, MAKEWPARAM(c.id, c.flags),
                     reinterpret_cast<LPARAM>(GetMenu(dlg.m_hWnd)));
        Pump();
        EXPECT_EQ(std::wstring(bar.GetMainText() != nullptr ? bar.GetMainText() : L""),
                  std::wstring(c.shown != nullptr ? c.shown : L""));
    }

    // Without a status bar window the text is freed all the same.
    bar.DestroyWindow();
    const long without = CxAllocCount();
    ASSERT_EQ(CxPostText(dlg.m_hWnd, CXM_SETTEXT, L"lost"), S_OK);
    Pump();
    EXPECT_EQ(CxAllocCount(), without);
}

TEST_F(CxMainDlgTest, TheBorderHidesWhileAFrameImageShapesTheDialog)
{
    HWND border = dlg.GetMenuBorder().m_hWnd;
    ASSERT_NE(border, nullptr);
    EXPECT_TRUE(GetWindowLongW(border, GWL_STYLE) & WS_VISIBLE);
    SendMessageW(dlg.m_hWnd, CXM_FRAMEIMAGESET, 1, 0);
    EXPECT_FALSE(GetWindowLongW(border, GWL_STYLE) & WS_VISIBLE);
    SendMessageW(dlg.m_hWnd, CXM_FRAMEIMAGESET, 0, 0);
    EXPECT_TRUE(GetWindowLongW(border, GWL_STYLE) & WS_VISIBLE);
}

// Shaped by the built-in frame, the dialog keeps its menu bar: inside the window's region, under the
// mouse, and painted by the system. A press on a caption button of the frame is that button's system
// command, and the buttons follow the frame's right edge when the window grows.
TEST_F(CxMainDlgTest, AShapedDialogKeepsItsMenuBarAndItsCaptionButtons)
{
    dlg.GetStatusBar()->DestroyWindow();  // the frame's region is checked here, not what children add to it
    dlg.SetSkinSection(L"main");
    ASSERT_EQ(SendMessageW(dlg.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(CX_BUILTIN_SKIN_SPEC), 0), 1);
    ASSERT_TRUE(dlg.GetLow() & CXFL_SKINREGION);
    SetWindowPos(dlg.m_hWnd, HWND_TOP, 60, 50, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    Pump();

    // The caption and borders are gone: the menu bar is all there is above the client area.
    RECT window{};
    GetWindowRect(dlg.m_hWnd, &window);
    POINT client{0, 0};
    ClientToScreen(dlg.m_hWnd, &client);
    ASSERT_EQ(client.x, window.left);
    ASSERT_EQ(client.y - window.top, GetSystemMetrics(SM_CYMENU));
    const POINT onBar{window.left + 40, window.top + GetSystemMetrics(SM_CYMENU) / 2};
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(dlg.m_hWnd, region), ERROR);
    EXPECT_TRUE(PtInRegion(region, onBar.x - window.left, onBar.y - window.top));
    EXPECT_FALSE(PtInRegion(region, client.x - window.left, client.y - window.top));  // the frame's cut corner
    EXPECT_TRUE(PtInRegion(region, client.x - window.left + 100, client.y - window.top + 100));
    DeleteObject(region);
    EXPECT_EQ(WindowFromPoint(onBar), dlg.m_hWnd);
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, WM_NCHITTEST, 0, MAKELPARAM(onBar.x, onBar.y)), HTMENU);
    // The system paints the bar, and the frame's outline (its left edge, in the client area) runs on
    // along its sides and top.
    RedrawWindow(dlg.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
    SendMessageW(dlg.m_hWnd, WM_NCPAINT, 1, 0);
    GdiFlush();
    HDC dc = GetWindowDC(dlg.m_hWnd);
    const int menu = GetSystemMetrics(SM_CYMENU);
    const COLORREF edge = GetPixel(dc, 0, menu + 100);
    const COLORREF left = GetPixel(dc, 0, menu / 2);
    const COLORREF top = GetPixel(dc, 300, 0);
    const COLORREF right = GetPixel(dc, window.right - window.left - 1, menu / 2);
    const COLORREF inside = GetPixel(dc, window.right - window.left - 40, menu / 2);  // right of the items
    ReleaseDC(dlg.m_hWnd, dc);
    EXPECT_EQ(left, edge);
    EXPECT_EQ(top, edge);
    EXPECT_EQ(right, edge);
    EXPECT_TRUE(inside == GetSysColor(COLOR_MENU) || inside == GetSysColor(COLOR_MENUBAR))
        << std::hex << inside << " " << GetSysColor(COLOR_MENU) << " " << GetSysColor(COLOR_MENUBAR);

    // The built-in frame's boxes: x counted from the client's right edge (minimize 72,4,30,22, close
    // 38,4,30,22).
    struct Case {
        const char* what;
        int fromRight;
        int y;
        UINT command;
    };
    const Case cases[] = {
        {"close, middle", 38 - 15, 15, SC_CLOSE},
        {"close, top-left pixel", 38, 4, SC_CLOSE},
        {"close, just past its right edge", 38 - 30, 15, 0},
        {"minimize, middle", 72 - 15, 15, SC_MINIMIZE},
        {"minimize, bottom-right pixel", 72 - 29, 25, SC_MINIMIZE},
        {"between them", 40, 15, 0},
        {"below them", 38 - 15, 27, 0},
        {"the caption's title", 600, 15, 0},
    };
    for (int grow : {0, 100}) {
        SetWindowPos(dlg.m_hWnd, nullptr, 0, 0, window.right - window.left + grow, window.bottom - window.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT area{};
        GetClientRect(dlg.m_hWnd, &area);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << ", grown by " << grow);
            EXPECT_EQ(dlg.CaptionButtonAt(POINT{area.right - c.fromRight, c.y}), c.command);
        }
    }
    // A press on the close box posts the command (taken from the queue here, so the window stays).
    RECT area{};
    GetClientRect(dlg.m_hWnd, &area);
    SendMessageW(dlg.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(area.right - 23, 15));
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, dlg.m_hWnd, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE));
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(SC_CLOSE));

    // A skin whose section names no boxes has none.
    dlg.SetSkinSection(L"waiting");
    ASSERT_EQ(SendMessageW(dlg.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(CX_BUILTIN_SKIN_SPEC), 0), 1);
    GetClientRect(dlg.m_hWnd, &area);
    EXPECT_EQ(dlg.CaptionButtonAt(POINT{area.right - 23, 15}), 0u);
}

TEST_F(CxMainDlgTest, MenuItemsFollowTheirHandlers)
{
    TestApp app;
    HMENU options = Popup(1);
    SendMessageW(dlg.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(options), MAKELPARAM(1, FALSE));
    EXPECT_FALSE(State(options, kHandled) & MF_GRAYED);
    EXPECT_TRUE(State(options, kUnhandled) & MF_GRAYED);
    EXPECT_TRUE(State(options, CX_ID_TOOLTIPS) & MF_CHECKED);  // tool tips are on
    EXPECT_FALSE(State(options, CX_ID_TOOLTIPS) & MF_GRAYED);

    // The system menu is left as it is.
    HMENU system = GetSystemMenu(dlg.m_hWnd, FALSE);
    const UINT close = State(system, SC_CLOSE);
    SendMessageW(dlg.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(system), MAKELPARAM(0, TRUE));
    EXPECT_EQ(State(system, SC_CLOSE), close);
}

TEST_F(CxMainDlgTest, PackItemsApplyTheirPackAndShowTheCurrentOne)
{
    HMENU skins = Popup(0);
    // The first load built the pack menu: the built-in pack and the separator before "Refresh".
    ASSERT_EQ(GetMenuItemCount(skins), 3);
    EXPECT_EQ(GetMenuItemID(skins, 0), CX_ID_PACK_FIRST);
    EXPECT_EQ(GetMenuItemID(skins, 1), CX_ID_PACK_SEPARATOR);
    EXPECT_EQ(dlg.GetCurrentPackId(), static_cast<int>(CX_ID_PACK_FIRST));  // nothing remembered: built-in

    // Command 60000 builds the menu again, in place.
    SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(CX_ID_PACK_ANCHOR, 0), 0);
    EXPECT_EQ(GetMenuItemCount(skins), 3);

    dlg.ApplySelectedSkin(L"C:\\gone.INI", -1);  // replaced by the built-in pack
    SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(CX_ID_PACK_FIRST, 0), 0);
    Pump();  // the choice is posted
    EXPECT_STREQ(dlg.GetCurrentSkinFile(), CX_BUILTIN_SKIN_SPEC);
    SendMessageW(dlg.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(skins), MAKELPARAM(0, FALSE));
    EXPECT_TRUE(State(skins, CX_ID_PACK_FIRST) & MF_CHECKED);
    EXPECT_FALSE(State(skins, CX_ID_PACK_FIRST) & MF_GRAYED);
    dlg.SetFlags(0, CXFH_MENUSLOCKED, 0, 0);
    SendMessageW(dlg.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(skins), MAKELPARAM(0, FALSE));
    EXPECT_TRUE(State(skins, CX_ID_PACK_FIRST) & MF_GRAYED);

    // "Skin" is saved with the window, "Skin" before "Placement".
    SendMessageW(dlg.m_hWnd, CXM_SAVEPROPS, 0, 0);
    EXPECT_EQ(registry_tool::Query("HKCU\\software\\KwepTest\\MainDlg", "Skin"), "?139,INI");
}

TEST_F(CxMainDlgTest, ToolTipSwitchReachesEveryWindowAndTwiceRestoresIt)
{
    TestApp app;
    HWND child = CreateWindowExW(0, ChildClass(), L"", WS_CHILD, 0, 0, 10, 10, dlg.m_hWnd, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    HWND grandChild =
        CreateWindowExW(0, ChildClass(), L"", WS_CHILD, 0, 0, 5, 5, child, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(grandChild, nullptr);
    const DWORD first = app.GetFlagsLow() & CXFL_NOTOOLTIPS;
    SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(CX_ID_TOOLTIPS, 0), 0);
    EXPECT_NE(app.GetFlagsLow() & CXFL_NOTOOLTIPS, first);
    std::vector<std::pair<HWND, WPARAM>> expected = {{child, FALSE}, {grandChild, FALSE}};
    EXPECT_EQ(g_tips, expected);
    HMENU options = Popup(1);
    SendMessageW(dlg.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(options), MAKELPARAM(1, FALSE));
    EXPECT_FALSE(State(options, CX_ID_TOOLTIPS) & MF_CHECKED);

    g_tips.clear();
    SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(CX_ID_TOOLTIPS, 0), 0);
    EXPECT_EQ(app.GetFlagsLow() & CXFL_NOTOOLTIPS, first);
    expected = {{child, TRUE}, {grandChild, TRUE}};
    EXPECT_EQ(g_tips, expected);
    SendMessageW(dlg.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(options), MAKELPARAM(1, FALSE));
    EXPECT_TRUE(State(options, CX_ID_TOOLTIPS) & MF_CHECKED);
}

// A child window that hands the skin and pack queries on to its parent.
class ForwardingChild : public CxWindowProcT<CWnd>, public CxSkinQueryForwarder {
public:
    ForwardingChild() { CxWndLink::Attach(&m_hWnd); }
    bool Create(HWND parent)
    {
        return CreateEx(0, ChildClass(), L"", WS_CHILD, 0, 0, 10, 10, parent, nullptr) != FALSE;
    }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        return CxSkinQueryForwarder::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
    }
};

TEST_F(CxMainDlgTest, ChildrenAskTheirParentForSkinAndPackTexts)
{
    ForwardingChild child;
    ASSERT_TRUE(child.Create(dlg.m_hWnd));
    CxString builtIn;
    EXPECT_NE(SendMessageW(child.m_hWnd, CXM_GETPACKFILE, reinterpret_cast<WPARAM>(&builtIn), 0), 0);
    EXPECT_STREQ(builtIn, CX_BUILTIN_SKIN_SPEC);
    wchar_t* skin = nullptr;
    EXPECT_NE(SendMessageW(child.m_hWnd, CXM_GETSKINFILE, reinterpret_cast<WPARAM>(&skin), 0), 0);
    EXPECT_STREQ(skin, CX_BUILTIN_SKIN_SPEC);
    CxFree(skin);
    CxPackTextRequest request{CX_PACKKEY_NAME, 0, 0, CX_PACK_CURRENT};
    CxString name;
    EXPECT_EQ(SendMessageW(child.m_hWnd, CXM_GETPACKTEXT, reinterpret_cast<WPARAM>(&request),
                           reinterpret_cast<LPARAM>(&name)),
              1);
    EXPECT_STREQ(name, L"Default");
    EXPECT_NE(SendMessageW(child.m_hWnd, CXM_ASKOWNER, reinterpret_cast<WPARAM>(L"main"), 0), 0);
    // A window without a parent answers nothing.
    ForwardingChild orphan;
    ASSERT_TRUE(orphan.CreateEx(0, ChildClass(), L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    EXPECT_EQ(SendMessageW(orphan.m_hWnd, CXM_GETPACKFILE, reinterpret_cast<WPARAM>(&builtIn), 0), 0);
    orphan.DestroyWindow();
}

TEST(CxWindowFontTest, TheWindowsFontOrTheSystemFont)
{
    HWND plain = CreateWindowExW(0, ChildClass(), L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    HWND label = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleW(nullptr),
                                 nullptr);
    LOGFONTA wanted{};
    wanted.lfHeight = -19;
    lstrcpyA(wanted.lfFaceName, "Tahoma");
    HFONT given = CreateFontIndirectA(&wanted);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(given), FALSE);

    LOGFONTA system{};
    ASSERT_EQ(GetObjectA(GetStockObject(SYSTEM_FONT), sizeof system, &system), static_cast<int>(sizeof system));
    LOGFONTA read{};
    read.lfHeight = 1234;
    EXPECT_EQ(CxGetWindowFont(plain, &read), S_OK);  // no font of its own: the system's
    EXPECT_EQ(read.lfHeight, system.lfHeight);
    EXPECT_STREQ(read.lfFaceName, system.lfFaceName);
    EXPECT_EQ(CxGetWindowFont(label, &read), S_OK);
    EXPECT_EQ(read.lfHeight, -19);
    EXPECT_EQ(CxGetWindowFont(label, nullptr), E_INVALIDARG);

    HFONT copy = nullptr;
    EXPECT_EQ(CxCreateFont(label, &copy, nullptr), S_OK);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, given);
    LOGFONTA copied{};
    GetObjectA(copy, sizeof copied, &copied);
    EXPECT_EQ(copied.lfHeight, -19);
    DeleteObject(copy);
    LOGFONTA other = wanted;
    other.lfHeight = -7;
    EXPECT_EQ(CxCreateFont(label, &copy, &other), S_OK);
    GetObjectA(copy, sizeof copied, &copied);
    EXPECT_EQ(copied.lfHeight, -7);
    DeleteObject(copy);
    DestroyWindow(plain);
    DestroyWindow(label);
    DeleteObject(given);
}

}  // namespace
