// The player panel with real windows: a host that stands in for the main window (it names the skin
// sections, hands out the built-in skin, takes the player commands and drags as the framework drags),
// real input through SendInput (a click on Mute, a press and move on the background, Escape), a language
// change, and the panel captured from the X display with xwd and measured with Pillow.
#include "manager/framework/skin/cx_skin_file.h"
#include "manager/framework/windows/cx_app.h"
#include "manager/player/player_panel.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/message_pump.h"
#include "tests/support/unix_shell.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---- Texts ----

// Two translations of the panel's texts ("prompt\ntip"), by id 4231-4234.
const wchar_t* const kEnglish[4] = {L"\nVolume Bar", L"\nShuffle", L"\nMute", L"\nRepeat"};
const wchar_t* const kSecond[4] = {L"Lautst\u00e4rke\nLautst\u00e4rke", L"Zufall\nZufallswiedergabe", L"Stumm\nTon aus",
                                   L"Wiederholen\nEndlos wiederholen"};

class TestApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override
    {
        static const GUID guid = {0x2f6c1a90, 0x7d3e, 0x4b52, {0x8e, 0x19, 0x5a, 0x60, 0x3c, 0x21, 0x74, 0x0d}};
        return &guid;
    }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override {}
    BOOL GetString(CxString& text, UINT id) override
    {
        text.Empty();
        if (id < IDC_PLAYER_PANEL_VOLUME || id > IDC_PLAYER_PANEL_REPEAT)
            return FALSE;
        return SUCCEEDED(text.Assign(table[id - IDC_PLAYER_PANEL_VOLUME]));
    }

    const wchar_t* const* table = kEnglish;
};

// ---- Messages ----

// Key-ups seen by the pump (the end of a key press the test made).
std::vector<WPARAM>& KeyUps()
{
    static std::vector<WPARAM> keys;
    return keys;
}

// As the main window's loop does: each message is offered to the windows' translation first.
void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_KEYUP)
            KeyUps().push_back(msg.wParam);
        if (!AfxWalkPreTranslateTree(nullptr, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// Handles this thread's messages, as the main window's loop does, until done() holds.
bool PumpUntil(const std::function<bool()>& done)
{
    return test_support::PumpUntil(done, Pump);
}

// ---- The stand-in for the main window ----

const wchar_t* SectionOf(WPARAM key)
{
    switch (key) {
    case IDD_PLAYER_PANEL + 2:
        return L"player.panel";
    case IDC_PLAYER_PANEL_VOLUME + 2:
        return L"player.panel.volume.bar";
    case IDC_PLAYER_PANEL_SHUFFLE + 2:
        return L"player.panel.shuffle";
    case IDC_PLAYER_PANEL_MUTE + 2:
        return L"player.panel.mute";
    case IDC_PLAYER_PANEL_REPEAT + 2:
        return L"player.panel.repeat";
    case IDC_PLAYER_PANEL_DISPLAY + 2:
        return L"player.panel.display";
    default:
        return nullptr;
    }
}

constexpr COLORREF kHostFace = RGB(236, 240, 245);

// A framework window (the link's map drags it on CXM_DRAGWINDOW) that takes the player commands: the
// panel's and its own, as the main window's Mute menu entry sends them.
class PanelHost : public CxWindowProcT<CWnd>, public CxWndLink, public CPlayerPanelOwner {
public:
    PanelHost() { CxWndLink::Attach(&m_hWnd); }
    ~PanelHost() override
    {
        if (moving != nullptr)
            CloseHandle(moving);
    }

    bool Create(const wchar_t* title, int x, int y)
    {
        return CreateEx(0, AfxRegisterWndClass(0, LoadCursorW(nullptr, IDC_ARROW)), title,
                        WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, x, y, 380, 170, nullptr, nullptr) != FALSE;
    }

    void OnPlayerCommand(UINT id) override
    {
        commands.push_back(id);
        if (id == IDC_PLAYER_PANEL_MUTE)
            muted = !muted;
    }
    void OnUpdatePlayerCommand(CCmdUI* ui) override
    {
        updates.push_back(ui->m_nID);
        ui->Enable(TRUE);
        if (ui->m_nID == IDC_PLAYER_PANEL_MUTE)
            ui->SetCheck(muted ? 1 : 0);
    }

    bool skinned = true;
    bool muted = false;
    std::vector<UINT> commands;
    std::vector<UINT> updates;
    std::vector<WPARAM> sectionKeys;
    std::vector<WPARAM> drags;
    int cancels = 0;
    int closes = 0;
    // Set when the host's move loop starts; the loop's end is recorded.
    HANDLE moving = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> moved{false};

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        switch (message) {
        case CXM_GETSKINSECTION:
            sectionKeys.push_back(wParam);
            if (lParam != 0)
                *reinterpret_cast<const wchar_t**>(lParam) = skinned ? SectionOf(wParam) : nullptr;
            lResult = lParam != 0;
            return TRUE;
        case CXM_GETSKINFILE:
            lResult = skinned && SUCCEEDED(CxStrDup(reinterpret_cast<wchar_t**>(wParam), CX_BUILTIN_SKIN_SPEC));
            return TRUE;
        case CXM_DRAGWINDOW:
            drags.push_back(wParam);
            break;  // the framework's drag
        case WM_ENTERSIZEMOVE:
            SetEvent(moving);
            break;
        case WM_EXITSIZEMOVE:
            moved = true;
            break;
        case WM_CLOSE:
            ++closes;  // recorded, never closed
            lResult = 0;
            return TRUE;
        case WM_ERASEBKGND: {
            RECT client{};
            ::GetClientRect(hWnd, &client);
            HBRUSH brush = CreateSolidBrush(kHostFace);
            FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
            DeleteObject(brush);
            lResult = TRUE;
            return TRUE;
        }
        default:
            break;
        }
        return CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
    }

    void OnMenuPlayerCommand(UINT id) { OnPlayerCommand(id); }
    void OnCancelCommand() { ++cancels; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PanelHost, CWnd)
ON_COMMAND_RANGE(4220, 4234, OnMenuPlayerCommand)
ON_COMMAND(IDCANCEL, OnCancelCommand)
END_MESSAGE_MAP()

// The host with the panel in it, shown, as the main window makes it.
class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KeyUps().clear();
        title = L"KwepPlayerPanel" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(host.Create(title.c_str(), 40, 40));
        panel = std::make_unique<CPlayerPanelDlg>(&host);
    }
    void TearDown() override
    {
        if (panel != nullptr && panel->m_hWnd != nullptr)
            panel->DestroyWindow();
        panel.reset();
        host.DestroyWindow();
    }
    void CreatePanel()
    {
        ASSERT_TRUE(panel->Create(IDD_PLAYER_PANEL, &host));
        panel->ShowWindow(SW_SHOW);
        SetForegroundWindow(host.m_hWnd);
        RedrawWindow(host.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Pump();
    }
    HWND Item(UINT id) const { return GetDlgItem(panel->m_hWnd, static_cast<int>(id)); }

    TestApp app;
    PanelHost host;
    std::unique_ptr<CPlayerPanelDlg> panel;
    std::wstring title;
};

// A child's window rectangle in its parent's client coordinates.
RECT PlaceInParent(HWND child)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string Text(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// ---- Real input ----

void SendMouse(DWORD flags)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
}

void SendKey(WORD key)
{
    INPUT inputs[2]{};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = inputs[1].ki.wVk = key;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

POINT ScreenCentre(HWND wnd)
{
    RECT r{};
    GetWindowRect(wnd, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// A left click at a screen point: the pointer goes there, then the button goes down and up.
void ClickAt(POINT at)
{
    SetCursorPos(at.x, at.y);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
}

// ---- Template, members and skin ----

TEST_F(PanelTest, TemplateMembersAndTheirSkinSections)
{
    CreatePanel();
    EXPECT_EQ(panel->GetTemplateId(), IDD_PLAYER_PANEL);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(panel->m_hWnd, GWL_STYLE));
    EXPECT_EQ(style & (WS_CHILD | DS_CONTROL | WS_CLIPSIBLINGS),
              static_cast<DWORD>(WS_CHILD | DS_CONTROL | WS_CLIPSIBLINGS));
    EXPECT_EQ(GetParent(panel->m_hWnd), host.m_hWnd);
    struct Member {
        CWnd* member;
        UINT id;
        const wchar_t* windowClass;
    };
    const Member members[] = {
        {&panel->GetVolumeBar(), IDC_PLAYER_PANEL_VOLUME, L"msctls_trackbar32"},
        {&panel->GetShuffleButton(), IDC_PLAYER_PANEL_SHUFFLE, L"Button"},
        {&panel->GetRepeatButton(), IDC_PLAYER_PANEL_REPEAT, L"Button"},
        {&panel->GetMuteButton(), IDC_PLAYER_PANEL_MUTE, L"Button"},
    };
    for (const Member& m : members) {
        SCOPED_TRACE(m.id);
        ASSERT_NE(Item(m.id), nullptr);
        EXPECT_EQ(m.member->m_hWnd, Item(m.id));
        wchar_t name[64] = {};
        GetClassNameW(Item(m.id), name, 64);
        EXPECT_EQ(_wcsicmp(name, m.windowClass), 0);
    }
    // The volume bar starts hidden and disabled; the toggles are auto check boxes.
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PLAYER_PANEL_VOLUME)));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_PLAYER_PANEL_VOLUME)));
    EXPECT_EQ(panel->GetMuteButton().GetKeptStyle() & BS_TYPEMASK, BS_AUTOCHECKBOX);

    // The panel asks for its own section first, then each member for its own in the members' order.
    std::vector<WPARAM> firsts;
    for (WPARAM key : host.sectionKeys)
        if (std::find(firsts.begin(), firsts.end(), key) == firsts.end())
            firsts.push_back(key);
    const std::vector<WPARAM> order = {382, 4233, 4234, 4236, 4235};
    EXPECT_EQ(firsts, order);

    EXPECT_EQ(panel->GetVolumeBar().GetBackgroundColour(), RGB(61, 89, 209));
    EXPECT_EQ(panel->GetVolumeBar().GetChannelColour(), RGB(255, 255, 128));
    EXPECT_EQ(panel->GetVolumeBar().GetThumbColour(), RGB(83, 83, 83));

    // Where the built-in skin puts the panel (its frame image's size) and its children (each image
    // centred on its point).
    struct Place {
        HWND wnd;
        RECT rect;
    };
    const Place places[] = {
        {panel->m_hWnd, {17, 80, 17 + 322, 80 + 56}},
        {Item(IDC_PLAYER_PANEL_SHUFFLE), {221 - 16, 35 - 9, 221 + 16, 35 + 9}},
        {Item(IDC_PLAYER_PANEL_REPEAT), {259 - 16, 35 - 9, 259 + 16, 35 + 9}},
        {Item(IDC_PLAYER_PANEL_MUTE), {294 - 16, 35 - 9, 294 + 16, 35 + 9}},
        {Item(IDC_PLAYER_PANEL_VOLUME), {250 - 47, 17 - 5, 250 + 47, 17 + 5}},
    };
    for (const Place& p : places) {
        const RECT at = PlaceInParent(p.wnd);
        EXPECT_EQ(Text(at), Text(p.rect)) << GetDlgCtrlID(p.wnd);
    }
    EXPECT_EQ(panel->GetGrip().set, 0);
    EXPECT_EQ(panel->GetGrip().cx, -100);
}

TEST_F(PanelTest, WithoutASkinTheTemplatesLookStays)
{
    host.skinned = false;
    CreatePanel();
    EXPECT_EQ(panel->GetLow() & CXFL_SKINREGION, 0u);
    // The buttons keep the template's place (dialog units of "MS Sans Serif" 8) and their own drawing.
    RECT origin{7, 7, 0, 0};
    RECT size{0, 0, 22, 10};
    MapDialogRect(panel->m_hWnd, &origin);
    MapDialogRect(panel->m_hWnd, &size);
    const RECT mute{origin.left, origin.top, origin.left + size.right, origin.top + size.bottom};
    EXPECT_EQ(Text(PlaceInParent(Item(IDC_PLAYER_PANEL_MUTE))), Text(mute));
    EXPECT_EQ(GetWindowLongW(Item(IDC_PLAYER_PANEL_MUTE), GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
}

TEST_F(PanelTest, OnlyTheFirstSkinApplicationKeepsTheLayoutsOffsets)
{
    // Offsets a layout added before the panel was made stay for its first skin; a later skin switch
    // places it from the skin alone.
    const POINT move{10, 6};
    panel->AddOffsets(&move, nullptr);
    CreatePanel();
    EXPECT_EQ(Text(PlaceInParent(panel->m_hWnd)), Text(RECT{27, 86, 27 + 322, 86 + 56}));
    panel->AddOffsets(&move, nullptr);
    EXPECT_EQ(SendMessageW(panel->m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(CX_BUILTIN_SKIN_SPEC), 0), 1);
    EXPECT_EQ(Text(PlaceInParent(panel->m_hWnd)), Text(RECT{17, 80, 17 + 322, 80 + 56}));
    EXPECT_NE(panel->GetLow() & CXFL_SKINREGION, 0u);
}

// ---- Commands ----

TEST_F(PanelTest, AClickOnMuteReachesTheHostsPlayerCommandAsItsMenuEntryDoes)
{
    CreatePanel();
    RECT before{};
    GetWindowRect(host.m_hWnd, &before);
    HWND mute = Item(IDC_PLAYER_PANEL_MUTE);
    ClickAt(ScreenCentre(mute));
    ASSERT_TRUE(PumpUntil([&] { return !host.commands.empty(); }));
    EXPECT_EQ(host.commands, std::vector<UINT>{IDC_PLAYER_PANEL_MUTE});
    EXPECT_TRUE(host.muted);
    EXPECT_EQ(SendMessageW(mute, BM_GETCHECK, 0, 0), BST_CHECKED);
    // A press on a button is the button's: the host stays where it was.
    EXPECT_TRUE(host.drags.empty());
    RECT after{};
    GetWindowRect(host.m_hWnd, &after);
    EXPECT_EQ(Text(after), Text(before));

    // The host's own Mute entry lands in the same handler with the same id.
    host.SendMessage(WM_COMMAND, IDC_PLAYER_PANEL_MUTE, 0);
    EXPECT_EQ(host.commands, (std::vector<UINT>{IDC_PLAYER_PANEL_MUTE, IDC_PLAYER_PANEL_MUTE}));
    EXPECT_FALSE(host.muted);

    // The idle update asks the host about the three toggles, and the host's state shows on Mute.
    host.updates.clear();
    panel->SendMessage(WM_KICKIDLE, 0, 0);
    std::vector<UINT> asked = host.updates;
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<UINT>{IDC_PLAYER_PANEL_SHUFFLE, IDC_PLAYER_PANEL_MUTE, IDC_PLAYER_PANEL_REPEAT}));
    EXPECT_EQ(SendMessageW(mute, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

// A parent that is a window but takes no player commands.
LRESULT CALLBACK PlainProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) {
        auto* seen = reinterpret_cast<std::vector<UINT>*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (seen != nullptr)
            seen->push_back(LOWORD(wParam));
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST(PlayerPanelWithoutOwner, CommandsAndUpdatesDoNothing)
{
    TestApp app;
    HWND plain = CreateWindowExW(0, RegisterTestWindowClass(L"KwepPanelPlainParent", PlainProc), L"", WS_POPUP, 0, 0,
                                 300, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(plain, nullptr);
    std::vector<UINT> seen;
    SetWindowLongPtrW(plain, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seen));
    {
        CWnd parent;
        parent.Attach(plain);
        CPlayerPanelDlg panel(&parent);
        ASSERT_TRUE(panel.Create(IDD_PLAYER_PANEL, &parent));
        parent.Detach();
        EXPECT_EQ(panel.GetOwner(), nullptr);
        HWND mute = GetDlgItem(panel.m_hWnd, IDC_PLAYER_PANEL_MUTE);
        SendMessageW(mute, BM_CLICK, 0, 0);
        panel.SendMessage(WM_KICKIDLE, 0, 0);
        // The click checked the button and went nowhere else.
        EXPECT_EQ(SendMessageW(mute, BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_TRUE(seen.empty());
        panel.DestroyWindow();
    }
    DestroyWindow(plain);
}

// ---- Dragging ----

TEST_F(PanelTest, APressOnTheBackgroundDragsTheHost)
{
    CreatePanel();
    RECT before{};
    GetWindowRect(host.m_hWnd, &before);
    // Left of the display, below the note.
    POINT press{8, 46};
    ClientToScreen(panel->m_hWnd, &press);
    ASSERT_EQ(WindowFromPoint(press), panel->m_hWnd);
    const POINT by{60, 35};
    std::atomic<bool> done{false};
    SetCursorPos(press.x, press.y);
    // Another thread moves the mouse once the host's move loop runs, as a hand would.
    std::thread hand([&] {
        SendMouse(MOUSEEVENTF_LEFTDOWN);
        WaitForSingleObject(host.moving, 30000);
        for (int step = 1; step <= 4; ++step) {
            INPUT input{};
            input.type = INPUT_MOUSE;
            input.mi.dx = by.x / 4;
            input.mi.dy = by.y / 4;
            input.mi.dwFlags = MOUSEEVENTF_MOVE;
            SendInput(1, &input, sizeof(input));
        }
        SetCursorPos(press.x + by.x, press.y + by.y);
        SendMouse(MOUSEEVENTF_LEFTUP);
        done = true;
    });
    const bool ended = PumpUntil([&] { return done && host.moved; });
    hand.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(host.drags, std::vector<WPARAM>{reinterpret_cast<WPARAM>(host.m_hWnd)});
    RECT after{};
    GetWindowRect(host.m_hWnd, &after);
    EXPECT_EQ(after.left - before.left, by.x);
    EXPECT_EQ(after.top - before.top, by.y);
    // The panel went along inside its host.
    EXPECT_EQ(Text(PlaceInParent(panel->m_hWnd)), Text(RECT{17, 80, 17 + 322, 80 + 56}));
}

// ---- Escape ----

// A child that wants keys: it records the key-downs and characters it gets.
struct KeyChild {
    LRESULT code = 0;
    std::vector<WPARAM> keyDowns;
    std::vector<WPARAM> chars;
};

LRESULT CALLBACK KeyChildProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* child = reinterpret_cast<KeyChild*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (child != nullptr) {
        if (message == WM_GETDLGCODE)
            return child->code;
        if (message == WM_KEYDOWN)
            child->keyDowns.push_back(wParam);
        if (message == WM_CHAR)
            child->chars.push_back(wParam);
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST_F(PanelTest, EscapeClosesNothingAndReachesAChildThatWantsIt)
{
    CreatePanel();
    HWND volume = Item(IDC_PLAYER_PANEL_VOLUME);
    ShowWindow(volume, SW_SHOW);
    EnableWindow(volume, TRUE);
    struct Case {
        const char* name;
        LRESULT code;  // 0: the volume bar has the focus
        bool reaches;
    };
    const Case cases[] = {
        {"volume bar", 0, false},
        {"child wanting every key", DLGC_WANTALLKEYS, true},
        {"child wanting characters", DLGC_WANTCHARS, true},
        {"child wanting arrows", DLGC_WANTARROWS, false},
    };
    const wchar_t* cls = RegisterTestWindowClass(L"KwepPanelKeyChild", KeyChildProc);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeyChild record;
        record.code = c.code;
        HWND child = nullptr;
        if (c.code != 0) {
            child = CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 70, 20, 40, 20, panel->m_hWnd,
                                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(4300)), GetModuleHandleW(nullptr),
                                    nullptr);
            ASSERT_NE(child, nullptr);
            SetWindowLongPtrW(child, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&record));
        }
        SetForegroundWindow(host.m_hWnd);
        SetFocus(child != nullptr ? child : volume);
        ASSERT_EQ(GetFocus(), child != nullptr ? child : volume);
        KeyUps().clear();
        SendKey(VK_ESCAPE);
        ASSERT_TRUE(PumpUntil([] {
            return std::find(KeyUps().begin(), KeyUps().end(), static_cast<WPARAM>(VK_ESCAPE)) != KeyUps().end();
        }));
        EXPECT_TRUE(IsWindow(panel->m_hWnd));
        EXPECT_TRUE(IsWindowVisible(panel->m_hWnd));
        EXPECT_EQ(host.cancels, 0);
        EXPECT_EQ(host.closes, 0);
        EXPECT_EQ(record.keyDowns, c.reaches ? std::vector<WPARAM>{VK_ESCAPE} : std::vector<WPARAM>{});
        // The key-down was never translated into a character.
        EXPECT_TRUE(record.chars.empty());
        if (child != nullptr)
            DestroyWindow(child);
    }
}

// ---- Language ----

std::vector<std::wstring> Tips(CPlayerPanelDlg& panel)
{
    std::vector<std::wstring> tips;
    for (UINT id = IDC_PLAYER_PANEL_VOLUME; id <= IDC_PLAYER_PANEL_REPEAT; ++id)
        tips.push_back(panel.GetToolTip().GetText(GetDlgItem(panel.m_hWnd, static_cast<int>(id))));
    return tips;
}

TEST_F(PanelTest, ANewLanguageSetsTheTooltipsAgainInTheSamePanel)
{
    CreatePanel();
    ASSERT_NE(panel->GetToolTip().m_hWnd, nullptr);
    EXPECT_EQ(Tips(*panel), (std::vector<std::wstring>{L"Volume Bar", L"Shuffle", L"Mute", L"Repeat"}));
    EXPECT_EQ(panel->GetToolTip().GetToolCount(), 4);
    const HWND window = panel->m_hWnd;
    const HWND mute = Item(IDC_PLAYER_PANEL_MUTE);
    app.table = kSecond;
    EXPECT_EQ(SendMessageW(panel->m_hWnd, CXM_TRANSLATE, reinterpret_cast<WPARAM>(L"second.ini"), 0), 1);
    EXPECT_EQ(Tips(*panel),
              (std::vector<std::wstring>{L"Lautst\u00e4rke", L"Zufallswiedergabe", L"Ton aus", L"Endlos wiederholen"}));
    EXPECT_EQ(panel->GetToolTip().GetToolCount(), 4);
    EXPECT_EQ(panel->m_hWnd, window);
    EXPECT_EQ(Item(IDC_PLAYER_PANEL_MUTE), mute);
}

// ---- On the X display ----

std::string Rgb(COLORREF c)
{
    return std::to_string(GetRValue(c)) + " " + std::to_string(GetGValue(c)) + " " + std::to_string(GetBValue(c));
}

// "x y w h" of a rectangle of the panel's client area, in the host's client coordinates.
std::string InHost(HWND panel, RECT r)
{
    MapWindowPoints(panel, GetParent(panel), reinterpret_cast<POINT*>(&r), 2);
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + " " +
           std::to_string(r.bottom - r.top);
}

std::string ChildBox(HWND child, int inset)
{
    RECT r = PlaceInParent(child);
    InflateRect(&r, -inset, -inset);
    MapWindowPoints(GetParent(child), GetParent(GetParent(child)), reinterpret_cast<POINT*>(&r), 2);
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + " " +
           std::to_string(r.bottom - r.top);
}

TEST_F(PanelTest, ThePanelOnTheDisplay)
{
    ASSERT_TRUE(test_support::HostHasProgram("xwd"));
    ASSERT_TRUE(test_support::HostHasProgram("xdotool"));
    CreatePanel();
    HWND volume = Item(IDC_PLAYER_PANEL_VOLUME);
    ShowWindow(volume, SW_SHOW);
    EnableWindow(volume, TRUE);
    SendMessageW(volume, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
    SendMessageW(volume, TBM_SETPOS, TRUE, 60);
    SendMessageW(Item(IDC_PLAYER_PANEL_MUTE), BM_SETCHECK, BST_CHECKED, 0);
    RedrawWindow(host.m_hWnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
    Pump();
    host.SendMessage(WM_NULL);

    std::vector<std::string> queries = {
        "mode plate " + InHost(panel->m_hWnd, RECT{6, 42, 20, 50}),
        "mode well " + InHost(panel->m_hWnd, RECT{70, 22, 180, 44}),
        "mode host 350 10 20 150",
        "mode corner " + InHost(panel->m_hWnd, RECT{0, 0, 2, 2}),
        "mode shuffle " + ChildBox(Item(IDC_PLAYER_PANEL_SHUFFLE), 3),
        "mode mute " + ChildBox(Item(IDC_PLAYER_PANEL_MUTE), 3),
        "near volume_channel " + ChildBox(volume, 0) + " 255 255 128 8",
        "near volume_thumb " + ChildBox(volume, 0) + " 83 83 83 8",
    };
    const test_support::WindowCapture capture = test_support::CaptureWindow(
        std::string(title.begin(), title.end()), KWEP_ARTEFACT_DIR, "player_panel", KWEP_CAPTURE_SCRIPT, queries);
    ASSERT_TRUE(capture.ok) << capture.error;
    std::map<std::string, std::vector<int>> m = capture.values;
    auto expectMode = [&](const char* key, COLORREF colour, int share) {
        ASSERT_EQ(m[key].size(), 4u) << key;
        EXPECT_EQ(Rgb(RGB(m[key][0], m[key][1], m[key][2])), Rgb(colour)) << key;
        EXPECT_GE(m[key][3], share) << key;
    };
    // The skin's palette: the plate ("footer"), the display's well ("caption"), a checked toggle
    // ("accent") and an unchecked one ("panel").
    expectMode("plate", RGB(222, 228, 236), 90);
    expectMode("well", RGB(28, 42, 58), 90);
    expectMode("host", kHostFace, 90);
    // The rounded corner is cut away: the host shows through.
    expectMode("corner", kHostFace, 50);
    expectMode("shuffle", RGB(255, 255, 255), 50);
    expectMode("mute", RGB(0, 102, 180), 50);
    EXPECT_GT(m["volume_channel"].at(0), 0);
    EXPECT_GT(m["volume_thumb"].at(0), 0);
}

}  // namespace
