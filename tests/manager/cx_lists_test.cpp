// The list view and tree view bases with real comctl32 controls: the data of rows and items deleted
// every way a control deletes them, read back from another program through the controls' own
// messages; the context menu copied under each platform family; the menu shown by a real right click
// (xdotool) and found from another program by its system class while the list's selection stays as it
// was; and scrolling an item into view.
#include "manager/controls/lists/cx_list_view.h"
#include "manager/controls/lists/cx_tree_view.h"
#include "manager/framework/windows/cx_platform.h"
#include "manager/framework/windows/cx_string.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/host_process.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using test_support::TempFolder;

constexpr UINT kListId = 4020;
constexpr UINT kTreeId = 4030;
constexpr UINT kContextMenu = 700;
constexpr UINT kSmallMenu = 701;
constexpr UINT kOpenCommand = 7001;

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Handles this thread's messages until done() holds or the bound passes (false then).
bool PumpUntil(const std::function<bool()>& done, DWORD boundMs = 60000)
{
    const ULONGLONG giveUp = GetTickCount64() + boundMs;
    while (!done()) {
        if (GetTickCount64() > giveUp)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 200, QS_ALLINPUT);
        Pump();
    }
    return true;
}

// What reaches the parent window.
struct Host {
    HWND hWnd = nullptr;
    std::vector<UINT> notifications;  // WM_NOTIFY codes of its children
    std::vector<HMENU> popups;        // WM_INITMENUPOPUP
    std::vector<UINT> commands;       // WM_COMMAND from menus
    HANDLE probe = nullptr;           // the menu probe: once it has ended, an idle menu is closed
};

template <class Char>
LRESULT HostProcT(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    constexpr bool wide = sizeof(Char) == sizeof(wchar_t);
    auto* host = reinterpret_cast<Host*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (host != nullptr) {
        switch (message) {
        case WM_NOTIFY: {
            const UINT code = reinterpret_cast<const NMHDR*>(lParam)->code;
            host->notifications.push_back(code);
            // Would keep the list from reporting each row: the list's own answer must win.
            if (code == LVN_DELETEALLITEMS)
                return TRUE;
            return 0;
        }
        case WM_INITMENUPOPUP:
            host->popups.push_back(reinterpret_cast<HMENU>(wParam));
            return 0;
        case WM_COMMAND:
            if (lParam == 0)
                host->commands.push_back(LOWORD(wParam));
            return 0;
        case WM_ENTERIDLE:
            if (wParam == MSGF_MENU && host->probe != nullptr && WaitForSingleObject(host->probe, 0) == WAIT_OBJECT_0)
                EndMenu();
            return 0;
        default:
            break;
        }
    }
    return wide ? DefWindowProcW(hWnd, message, wParam, lParam) : DefWindowProcA(hWnd, message, wParam, lParam);
}

LRESULT CALLBACK HostProcW(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HostProcT<wchar_t>(hWnd, message, wParam, lParam);
}

LRESULT CALLBACK HostProcA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HostProcT<char>(hWnd, message, wParam, lParam);
}

// A top-level parent; an ANSI window makes its children send the ANSI forms of their notifications.
HWND MakeHost(Host& host, bool ansi = false, const std::wstring& title = L"KwepListsHost")
{
    if (ansi) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = HostProcA;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = "KwepListsAnsiHost";
        RegisterClassA(&wc);
        host.hWnd = CreateWindowExA(0, "KwepListsAnsiHost", "ansi host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 60, 60, 420,
                                    320, nullptr, nullptr, GetModuleHandleW(nullptr), &host);
    } else {
        static const wchar_t* name = RegisterTestWindowClass(L"KwepListsHost", HostProcW,
                                                             reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1),
                                                             LoadCursorW(nullptr, IDC_ARROW));
        host.hWnd = CreateWindowExW(0, name, title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 60, 60, 420, 320,
                                    nullptr, nullptr, GetModuleHandleW(nullptr), &host);
    }
    return host.hWnd;
}

struct HostWindow {
    explicit HostWindow(bool ansi = false, const std::wstring& title = L"KwepListsHost") { MakeHost(host, ansi, title); }
    ~HostWindow()
    {
        if (IsWindow(host.hWnd))
            DestroyWindow(host.hWnd);
    }
    Host host;
};

// ---- A second program ----

std::filesystem::path ProbeProgram()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (std::filesystem::path(self).parent_path() / KWEP_LIST_PROBE_RELATIVE).lexically_normal();
}

std::wstring Decimal(HWND hWnd)
{
    return std::to_wstring(reinterpret_cast<UINT_PTR>(hWnd));
}

// The answers the probe wrote, by first word.
std::map<std::string, std::string> ReadAnswers(const std::filesystem::path& file)
{
    std::map<std::string, std::string> answers;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        answers[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    return answers;
}

struct ProbeRun {
    bool ended = false;
    DWORD code = STILL_ACTIVE;
    std::map<std::string, std::string> answers;
};

// Runs the probe while this thread answers the messages it sends (bounded).
ProbeRun RunProbe(const std::wstring& arguments, const std::filesystem::path& out)
{
    ProbeRun run;
    test_support::HostProcess probe(ProbeProgram().wstring(), arguments + L" \"" + out.wstring() + L"\"");
    if (!probe.Started())
        return run;
    HANDLE process = probe.Handle();
    run.ended = PumpUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; });
    if (run.ended)
        GetExitCodeProcess(process, &run.code);
    run.answers = ReadAnswers(out);
    return run;
}

ProbeRun ReadList(HWND list, const TempFolder& folder)
{
    return RunProbe(L"list " + Decimal(list), folder.File("list.txt"));
}

int TreeCountSeenFromOutside(HWND tree, const TempFolder& folder)
{
    const ProbeRun run = RunProbe(L"tree " + Decimal(tree), folder.File("tree.txt"));
    if (!run.ended || run.code != 0 || run.answers.count("count") == 0)
        return -1;
    return std::stoi(run.answers.at("count"));
}

// ---- The list view base ----

// Keeps the data of every deleted row.
class RecordingList : public CxListViewCtrl {
public:
    explicit RecordingList(std::vector<DWORD_PTR>* sink = nullptr) : m_sink(sink != nullptr ? sink : &deleted) {}
    std::vector<DWORD_PTR> deleted;

protected:
    void OnDeleteItemData(DWORD_PTR data) override { m_sink->push_back(data); }

private:
    std::vector<DWORD_PTR>* m_sink;
};

// A list object that goes with its window.
class SelfDeletingList : public RecordingList {
public:
    using RecordingList::RecordingList;

protected:
    void PostNcDestroy() override { delete this; }
};

void AddRows(HWND list, const std::vector<DWORD_PTR>& data)
{
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH | LVCF_TEXT;
    column.cx = 200;
    wchar_t heading[] = L"Name";
    column.pszText = heading;
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    for (size_t i = 0; i < data.size(); ++i) {
        std::wstring text = L"Row " + std::to_wstring(i);
        LVITEMW row{};
        row.mask = LVIF_TEXT | LVIF_PARAM;
        row.iItem = static_cast<int>(i);
        row.pszText = text.data();
        row.lParam = static_cast<LPARAM>(data[i]);
        ASSERT_EQ(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)), static_cast<LRESULT>(i));
    }
}

std::vector<DWORD_PTR> Sorted(std::vector<DWORD_PTR> values)
{
    std::sort(values.begin(), values.end());
    return values;
}

void SelectOnly(HWND list, int row)
{
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = 0;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

const std::vector<DWORD_PTR> kRowData = {0, 11, 0, 22, 33};

TEST(CxListViewCtrlTest, EveryDeletedRowWithDataReachesOnDeleteItemDataOnce)
{
    struct Case {
        const char* name;
        std::function<void(HWND list)> remove;
        std::vector<DWORD_PTR> reported;
        int rowsLeft;  // as another program reads the list afterwards (-1: the list is gone)
    };
    const std::vector<Case> cases = {
        {"one row with data", [](HWND list) { SendMessageW(list, LVM_DELETEITEM, 3, 0); }, {22}, 4},
        {"one row without data", [](HWND list) { SendMessageW(list, LVM_DELETEITEM, 2, 0); }, {}, 4},
        {"all rows", [](HWND list) { SendMessageW(list, LVM_DELETEALLITEMS, 0, 0); }, {11, 22, 33}, 0},
        {"the window", [](HWND list) { DestroyWindow(list); }, {11, 22, 33}, -1},
        {"the parent", [](HWND list) { DestroyWindow(GetParent(list)); }, {11, 22, 33}, -1},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostWindow window;
        RecordingList list;
        ASSERT_TRUE(list.Create(window.host.hWnd, RECT{5, 5, 300, 200}, kListId));
        AddRows(list.m_hWnd, kRowData);
        const ProbeRun before = ReadList(list.m_hWnd, folder);
        ASSERT_TRUE(before.ended);
        EXPECT_EQ(before.answers.count("count") ? before.answers.at("count") : "", "5");

        HWND hList = list.m_hWnd;
        c.remove(hList);
        EXPECT_EQ(Sorted(list.deleted), c.reported);
        if (c.rowsLeft >= 0) {
            const ProbeRun after = ReadList(hList, folder);
            ASSERT_TRUE(after.ended);
            EXPECT_EQ(after.code, 0u);
            EXPECT_EQ(after.answers.count("count") ? after.answers.at("count") : "", std::to_string(c.rowsLeft));
        } else {
            EXPECT_FALSE(IsWindow(hList));
        }
        // The list handled its own deletions; its other notifications still reach the parent.
        const auto& seen = window.host.notifications;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), static_cast<UINT>(LVN_DELETEITEM)), 0);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), static_cast<UINT>(LVN_DELETEALLITEMS)), 0);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), static_cast<UINT>(LVN_INSERTITEM)), 5);
    }
}

TEST(CxListViewCtrlTest, ListsSharingAParentAndListsSubclassedLaterReportOnlyTheirOwnRows)
{
    HostWindow window;
    RecordingList first;
    ASSERT_TRUE(first.Create(window.host.hWnd, RECT{5, 5, 200, 150}, kListId));
    // A list view made by the system and subclassed afterwards, as a dialog's control is.
    HWND plain = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 205, 5, 200, 150,
                                 window.host.hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kListId + 1)),
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(plain, nullptr);
    AddRows(first.m_hWnd, {1, 2});
    AddRows(plain, {7, 8, 9});
    RecordingList second;
    ASSERT_TRUE(second.SubclassWindow(plain));

    SendMessageW(plain, LVM_DELETEALLITEMS, 0, 0);
    EXPECT_EQ(Sorted(second.deleted), (std::vector<DWORD_PTR>{7, 8, 9}));
    EXPECT_TRUE(first.deleted.empty());
    SendMessageW(first.m_hWnd, LVM_DELETEITEM, 0, 0);
    EXPECT_EQ(first.deleted, (std::vector<DWORD_PTR>{1}));
    EXPECT_EQ(second.deleted.size(), 3u);

    // A list object that goes with its window still hears of the rows that go with it.
    std::vector<DWORD_PTR> gone;
    auto* transient = new SelfDeletingList(&gone);
    ASSERT_TRUE(transient->Create(window.host.hWnd, RECT{5, 160, 200, 300}, kListId + 2));
    AddRows(transient->m_hWnd, {4, 0, 5});
    DestroyWindow(transient->m_hWnd);
    EXPECT_EQ(Sorted(gone), (std::vector<DWORD_PTR>{4, 5}));
}

// ---- The context menu ----

struct MenuItem {
    UINT id = 0;
    UINT type = 0;
    UINT state = 0;
    ULONG_PTR data = 0;
    std::wstring text;
    HMENU subMenu = nullptr;
    std::vector<MenuItem> children;
};

std::vector<MenuItem> ReadMenu(HMENU menu)
{
    std::vector<MenuItem> items;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MenuItem item;
        wchar_t text[2048] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_DATA | MIIM_STRING | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = 2048;
        EXPECT_TRUE(GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info));
        item.id = info.wID;
        item.type = info.fType;
        item.state = info.fState;
        item.data = info.dwItemData;
        item.text = text;
        item.subMenu = info.hSubMenu;
        if (info.hSubMenu != nullptr)
            item.children = ReadMenu(info.hSubMenu);
        items.push_back(std::move(item));
    }
    return items;
}

// The copy holds what the source holds, with sub-menus of its own.
void ExpectSameItems(const std::vector<MenuItem>& copy, const std::vector<MenuItem>& source)
{
    ASSERT_EQ(copy.size(), source.size());
    for (size_t i = 0; i < copy.size(); ++i) {
        SCOPED_TRACE("item " + std::to_string(i));
        // A popup whose id is its sub-menu's handle (as loaded from a resource) names its own sub-menu.
        const auto handleId = [](const MenuItem& item) {
            return item.subMenu != nullptr && item.id == static_cast<UINT>(reinterpret_cast<UINT_PTR>(item.subMenu));
        };
        if (handleId(source[i])) {
            EXPECT_TRUE(handleId(copy[i]));
        } else {
            EXPECT_EQ(copy[i].id, source[i].id);
        }
        EXPECT_EQ(copy[i].type, source[i].type);
        EXPECT_EQ(copy[i].state, source[i].state);
        EXPECT_EQ(copy[i].data, source[i].data);
        EXPECT_EQ(copy[i].text, source[i].text);
        EXPECT_EQ(copy[i].subMenu != nullptr, source[i].subMenu != nullptr);
        if (copy[i].subMenu != nullptr) {
            EXPECT_NE(copy[i].subMenu, source[i].subMenu);
        }
        ExpectSameItems(copy[i].children, source[i].children);
    }
}

class ForcedPlatform {
public:
    explicit ForcedPlatform(DWORD code) { CxForcePlatform(code); }
    ~ForcedPlatform() { CxClearForcedPlatform(); }
};

void AppendItem(HMENU menu, UINT id, const std::wstring& text, UINT type = MFT_STRING, UINT state = 0,
                ULONG_PTR data = 0, HMENU subMenu = nullptr)
{
    std::wstring copy = text;
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_DATA | MIIM_STRING | (subMenu != nullptr ? MIIM_SUBMENU : 0);
    info.fType = type;
    info.fState = state;
    info.wID = id;
    info.dwItemData = data;
    info.dwTypeData = copy.data();
    info.hSubMenu = subMenu;
    ASSERT_TRUE(InsertMenuItemW(menu, static_cast<UINT>(GetMenuItemCount(menu)), TRUE, &info));
}

TEST(CxListViewCtrlTest, MenuCopiesHoldEveryTextWholeUnderEachPlatformFamily)
{
    // Texts of many lengths (each read into a buffer of exactly its length plus the terminator, in the
    // call's own characters), a non-ASCII letter of the ANSI code page, types, states, item data and
    // nested sub-menus.
    HMENU source = CreatePopupMenu();
    for (int length : {1, 2, 3, 63, 64, 255, 256, 1000}) {
        std::wstring text(static_cast<size_t>(length), L'x');
        text[0] = L'\u00e9';
        AppendItem(source, static_cast<UINT>(100 + length), text);
    }
    AppendItem(source, 0, L"", MFT_SEPARATOR);
    AppendItem(source, 201, L"Radio", MFT_STRING | MFT_RADIOCHECK, MFS_CHECKED, 0x1234);
    AppendItem(source, 202, L"Default and grey", MFT_STRING, MFS_DEFAULT | MFS_GRAYED);
    HMENU inner = CreatePopupMenu();
    AppendItem(inner, 301, L"Inner \u00e9t\u00e9");
    HMENU deeper = CreatePopupMenu();
    AppendItem(deeper, 401, L"Deepest");
    AppendItem(inner, 0, L"Deeper", MFT_STRING, 0, 0, deeper);
    AppendItem(source, 0, L"More", MFT_STRING, 0, 0, inner);
    const std::vector<MenuItem> expected = ReadMenu(source);

    for (DWORD platform : {CX_PLATFORM_NT5, CX_PLATFORM_NT4, CX_PLATFORM_WIN98, CX_PLATFORM_WIN95}) {
        SCOPED_TRACE("platform " + std::to_string(platform));
        ForcedPlatform forced(platform);
        HMENU copy = CreatePopupMenu();
        const long blocks = CxAllocCount();
        EXPECT_EQ(CxCopyMenuItems(copy, source), S_OK);
        EXPECT_EQ(CxAllocCount(), blocks);  // every text buffer freed
        ExpectSameItems(ReadMenu(copy), expected);
        DestroyMenu(copy);
    }
    EXPECT_EQ(CxCopyMenuItems(nullptr, source), E_INVALIDARG);
    EXPECT_EQ(CxCopyMenuItems(source, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(0x7777))), E_INVALIDARG);
    DestroyMenu(source);
}

TEST(CxListViewCtrlTest, SetContextMenuHoldsACopyOfTheResourceAndFreesTheMenuItReplaces)
{
    HostWindow window;
    RecordingList list;
    ASSERT_TRUE(list.Create(window.host.hWnd, RECT{5, 5, 300, 200}, kListId));
    EXPECT_EQ(list.GetContextMenu(), nullptr);

    ASSERT_EQ(list.SetContextMenu(kContextMenu), S_OK);
    HMENU first = list.GetContextMenu();
    ASSERT_TRUE(IsMenu(first));
    HMENU resource = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kContextMenu));
    ExpectSameItems(ReadMenu(first), ReadMenu(resource));
    DestroyMenu(resource);

    ASSERT_EQ(list.SetContextMenu(kSmallMenu), S_OK);
    EXPECT_FALSE(IsMenu(first));
    HMENU second = list.GetContextMenu();
    ASSERT_TRUE(IsMenu(second));
    EXPECT_EQ(GetMenuItemCount(second), 1);
    EXPECT_EQ(GetMenuItemID(second, 0), 7101u);

    // A menu that does not exist leaves the held one.
    EXPECT_TRUE(FAILED(list.SetContextMenu(999)));
    EXPECT_EQ(list.GetContextMenu(), second);
    EXPECT_TRUE(IsMenu(second));

    // The list's menu goes with the list.
    HMENU held = nullptr;
    {
        RecordingList other;
        ASSERT_TRUE(other.Create(window.host.hWnd, RECT{5, 210, 300, 300}, kListId + 1));
        ASSERT_EQ(other.SetContextMenu(kSmallMenu), S_OK);
        held = other.GetContextMenu();
        ASSERT_TRUE(IsMenu(held));
    }
    EXPECT_FALSE(IsMenu(held));
}

// ---- A real right click ----

POINT RowCentre(HWND list, int row)
{
    RECT r{};
    r.left = LVIR_LABEL;
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(list, &p);
    return p;
}

std::string ClickScript(const std::wstring& title, POINT at)
{
    // A synchronous move to where the pointer is already waits for a motion that never comes: the
    // pointer goes one pixel aside first (clicks land only on the point itself).
    std::string name(title.begin(), title.end());
    return "xdotool search --sync --onlyvisible --name " + test_support::ShellQuote(name) +
           " >/dev/null && xdotool mousemove --sync " + std::to_string(at.x + 1) + " " + std::to_string(at.y + 1) +
           " mousemove --sync " + std::to_string(at.x) + " " + std::to_string(at.y) + " click 3";
}

std::vector<int> SelectedInProcess(HWND list)
{
    std::vector<int> rows;
    int at = -1;
    while ((at = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(at),
                                               MAKELPARAM(LVNI_SELECTED, 0)))) >= 0)
        rows.push_back(at);
    return rows;
}

class CxListViewClickTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test_support::RunningUnderWine() || !test_support::HostHasProgram("xdotool"))
            GTEST_SKIP() << "needs Wine's X display and xdotool";
        title = L"KwepListsClick" + std::to_wstring(GetCurrentProcessId());
        window = std::make_unique<HostWindow>(false, title);
        ASSERT_TRUE(list.Create(window->host.hWnd, RECT{5, 5, 380, 260}, kListId,
                                WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS));
        AddRows(list.m_hWnd, kRowData);
        SelectOnly(list.m_hWnd, 0);
        SetForegroundWindow(window->host.hWnd);
        UpdateWindow(window->host.hWnd);
        Pump();
    }
    void TearDown() override
    {
        list.DestroyWindow();
        window.reset();
    }

    std::wstring title;
    std::unique_ptr<HostWindow> window;
    RecordingList list;
    TempFolder folder;
};

TEST_F(CxListViewClickTest, WithoutAContextMenuARightClickSelectsTheRowAsAPlainListDoes)
{
    const test_support::ShellResult click = test_support::RunShell(ClickScript(title, RowCentre(list.m_hWnd, 2)));
    ASSERT_TRUE(click.finished) << click.err;
    ASSERT_EQ(click.exitCode, 0) << click.err;
    const auto& seen = window->host.notifications;
    ASSERT_TRUE(PumpUntil([&] { return std::count(seen.begin(), seen.end(), static_cast<UINT>(NM_RCLICK)) > 0; }));

    const ProbeRun outside = ReadList(list.m_hWnd, folder);
    ASSERT_TRUE(outside.ended);
    EXPECT_EQ(outside.answers.count("selected") ? outside.answers.at("selected") : "?", "2");
    EXPECT_TRUE(window->host.popups.empty());
}

TEST_F(CxListViewClickTest, WithAContextMenuARightClickShowsItAtThePointAndLeavesTheSelection)
{
    ASSERT_EQ(list.SetContextMenu(kContextMenu), S_OK);
    const POINT at = RowCentre(list.m_hWnd, 2);
    const std::filesystem::path out = folder.File("menu.txt");
    test_support::HostProcess probe(ProbeProgram().wstring(), L"menu " + Decimal(list.m_hWnd) + L" " +
                                                                  std::to_wstring(GetCurrentProcessId()) + L" \"" +
                                                                  out.wstring() + L"\"");
    ASSERT_TRUE(probe.Started());
    window->host.probe = probe.Handle();
    // Should the probe end without closing the menu, its end wakes the menu's loop, which then closes.
    const DWORD uiThread = GetCurrentThreadId();
    std::thread watcher([&] {
        WaitForSingleObject(probe.Handle(), INFINITE);
        PostThreadMessageW(uiThread, WM_NULL, 0, 0);
    });

    const test_support::ShellResult click = test_support::RunShell(ClickScript(title, at));
    const bool ended = PumpUntil([&] { return WaitForSingleObject(probe.Handle(), 0) == WAIT_OBJECT_0; });
    if (!ended)
        TerminateProcess(probe.Handle(), 1);
    watcher.join();
    window->host.probe = nullptr;
    ASSERT_TRUE(click.finished) << click.err;
    ASSERT_EQ(click.exitCode, 0) << click.err;
    ASSERT_TRUE(ended);
    Pump();

    const auto answers = ReadAnswers(out);
    ASSERT_EQ(answers.count("menu"), 1u);
    // Found by its class while up, at the click point, with the selection as it was.
    std::istringstream place(answers.at("menu"));
    int left = 0, top = 0;
    ASSERT_TRUE(place >> left >> top) << answers.at("menu");
    EXPECT_EQ(left, at.x);
    EXPECT_EQ(top, at.y);
    EXPECT_EQ(answers.count("selected") ? answers.at("selected") : "?", "0");
    EXPECT_EQ(SelectedInProcess(list.m_hWnd), std::vector<int>{0});
    // The parent owned the menu and received the command picked in it.
    EXPECT_EQ(window->host.popups, std::vector<HMENU>{list.GetContextMenu()});
    EXPECT_EQ(window->host.commands, std::vector<UINT>{kOpenCommand});
    const auto& seen = window->host.notifications;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), static_cast<UINT>(NM_RCLICK)), 0);
}

// ---- Scrolling an item into view ----

TEST(CxListViewScrollToItemTest, ScrollsByWholeRowsUntilTheItemIsInView)
{
    HostWindow window;
    RecordingList list;
    ASSERT_TRUE(list.Create(window.host.hWnd, RECT{5, 5, 300, 200}, kListId));
    HWND hList = list.m_hWnd;

    // An empty list has no row to measure.
    EXPECT_EQ(CxListViewScrollToItem(hList, 5), 0);
    EXPECT_EQ(CxListViewScrollToItem(nullptr, 5), 0);

    AddRows(hList, std::vector<DWORD_PTR>(60, 0));
    const int perPage = static_cast<int>(SendMessageW(hList, LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(perPage, 2);
    ASSERT_LT(perPage + 10, 60);
    RECT row{};
    row.left = LVIR_BOUNDS;
    ASSERT_TRUE(SendMessageW(hList, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row)));
    const int rowHeight = row.bottom - row.top;

    struct Case {
        const char* name;
        int top;
        int item;
        int result;
        int topAfter;
    };
    const std::vector<Case> cases = {
        {"the top row", 0, 0, 0, 0},
        {"the last fully shown row", 0, perPage - 1, 0, 0},
        {"the row just below", 0, perPage, 1, 1},
        {"further below", 0, perPage + 5, 1, 6},
        {"a row above the top", 10, 3, 1, 3},
        {"the row above the top", 10, 9, 1, 9},
        {"a row inside the page", 10, 12, 0, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int now = static_cast<int>(SendMessageW(hList, LVM_GETTOPINDEX, 0, 0));
        SendMessageW(hList, LVM_SCROLL, 0, (c.top - now) * rowHeight);
        ASSERT_EQ(SendMessageW(hList, LVM_GETTOPINDEX, 0, 0), c.top);
        EXPECT_EQ(CxListViewScrollToItem(hList, c.item), c.result);
        EXPECT_EQ(SendMessageW(hList, LVM_GETTOPINDEX, 0, 0), c.topAfter);
    }
}

// ---- The tree view base ----

class RecordingTree : public CxTreeViewCtrl {
public:
    std::vector<LPARAM> deleted;

protected:
    void DeleteItemData(LPARAM data) override { deleted.push_back(data); }
};

HTREEITEM AddItem(HWND tree, HTREEITEM parent, const wchar_t* text, LPARAM data)
{
    std::wstring copy = text;
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = copy.data();
    insert.item.lParam = data;
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

TEST(CxTreeViewCtrlTest, EveryDeletedItemWithDataReachesDeleteItemDataOnce)
{
    // Folders a (1) with b (0) and c (2), c holding d (3) and e (0); f (0) at the root.
    struct Items {
        HTREEITEM a, b, c, d, e, f;
    };
    struct Case {
        const char* name;
        bool ansiParent;
        std::function<void(HWND tree, const Items& items)> remove;
        std::vector<LPARAM> reported;
        int itemsLeft;  // as another program reads the tree afterwards (-1: the tree is gone)
    };
    const std::vector<Case> cases = {
        {"every item", false, [](HWND t, const Items&) { SendMessageW(t, TVM_DELETEITEM, 0, LPARAM(TVI_ROOT)); },
         {1, 2, 3}, 0},
        {"a sub-tree", false, [](HWND t, const Items& i) { SendMessageW(t, TVM_DELETEITEM, 0, LPARAM(i.c)); }, {2, 3},
         3},
        {"an item without data", false, [](HWND t, const Items& i) { SendMessageW(t, TVM_DELETEITEM, 0, LPARAM(i.b)); },
         {}, 5},
        {"the window", false, [](HWND t, const Items&) { DestroyWindow(t); }, {1, 2, 3}, -1},
        {"every item, ANSI parent", true,
         [](HWND t, const Items&) { SendMessageW(t, TVM_DELETEITEM, 0, LPARAM(TVI_ROOT)); }, {1, 2, 3}, 0},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostWindow window(c.ansiParent);
        RecordingTree tree;
        ASSERT_TRUE(tree.Create(window.host.hWnd, RECT{5, 5, 300, 250}, kTreeId));
        HWND hTree = tree.m_hWnd;
        Items items{};
        items.a = AddItem(hTree, TVI_ROOT, L"a", 1);
        items.b = AddItem(hTree, items.a, L"b", 0);
        items.c = AddItem(hTree, items.a, L"c", 2);
        items.d = AddItem(hTree, items.c, L"d", 3);
        items.e = AddItem(hTree, items.c, L"e", 0);
        items.f = AddItem(hTree, TVI_ROOT, L"f", 0);
        EXPECT_EQ(TreeCountSeenFromOutside(hTree, folder), 6);

        c.remove(hTree, items);
        std::vector<LPARAM> reported = tree.deleted;
        std::sort(reported.begin(), reported.end());
        EXPECT_EQ(reported, c.reported);
        if (c.itemsLeft >= 0) {
            EXPECT_EQ(TreeCountSeenFromOutside(hTree, folder), c.itemsLeft);
        } else {
            EXPECT_FALSE(IsWindow(hTree));
        }
        const auto& seen = window.host.notifications;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), static_cast<UINT>(TVN_DELETEITEMW)) +
                      std::count(seen.begin(), seen.end(), static_cast<UINT>(TVN_DELETEITEMA)),
                  0);
    }
}

}  // namespace
