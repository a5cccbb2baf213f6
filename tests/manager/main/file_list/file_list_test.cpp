// The file list pane with real windows: the three lists (PC, player, playlist) on a host that stands in
// for the main window (it names their skin sections, hands out the built-in skin and forwards their
// custom-draw notifications), with the program's own icons and a translated-string service of the test.
// A second program reads the status cell and the progress bar back while a worker thread drives the
// progress; the panes are captured from the X display with xwd and measured with Pillow.
#include "manager/framework/skin/cx_skin_file.h"
#include "manager/framework/windows/cx_app.h"
#include "manager/main/panes/file_list_pane.h"
#include "manager/main/panes/pane_images.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/message_pump.h"
#include "tests/support/host_process.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Rectangles compare by their edges (found by the checks' argument lookup, so not in the unnamed namespace).
inline bool operator==(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

namespace {

using test_support::PumpUntil;
void Pump()
{
    test_support::PumpMessages();
}

using test_support::TempFolder;

// Text ids of the test's string service.
constexpr int kErased = 62294;
constexpr int kDownloaded = 62295;
constexpr int kEmptyText = 62990;    // found, but empty
constexpr int kUnknownText = 62991;  // not found

class TestApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override
    {
        static const GUID guid = {0x6b1e2f40, 0x3c5d, 0x4e61, {0x9a, 0x07, 0x21, 0x44, 0x5e, 0x73, 0x10, 0x26}};
        return &guid;
    }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override {}
    BOOL GetString(CxString& text, UINT id) override
    {
        text.Empty();
        switch (static_cast<int>(id)) {
        case kErased:
            return SUCCEEDED(text.Assign(L"erased"));
        case kDownloaded:
            return SUCCEEDED(text.Assign(L"downloaded"));
        case kEmptyText:
            return TRUE;
        default:
            return FALSE;
        }
    }
};

// ---- The stand-in for the main window ----

struct Host {
    HWND hWnd = nullptr;
    bool skinned = true;
    std::vector<UINT> commands;
};

Host*& CurrentHost()
{
    static Host* host = nullptr;
    return host;
}

const wchar_t* SectionOf(int id)
{
    switch (id) {
    case IDC_PC_LIST:
        return L"pc.list";
    case IDC_PLAYER_LIST:
        return L"kwep.list";
    case IDC_PLAYLIST:
        return L"playlist";
    case IDC_PC_LIST_STATUS:
        return L"pc.list.status";
    case IDC_PLAYER_LIST_STATUS:
        return L"kwep.list.status";
    case IDC_PLAYLIST_STATUS:
        return L"playlist.status";
    default:
        return nullptr;
    }
}

constexpr COLORREF kFace = RGB(236, 240, 245);

LRESULT CALLBACK HostProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Host* host = CurrentHost();
    if (host == nullptr)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    switch (message) {
    case CXM_GETSKINSECTION:
        if (host->skinned && lParam != 0)
            *reinterpret_cast<const wchar_t**>(lParam) = SectionOf(static_cast<int>(wParam) - 2);
        return 1;
    case CXM_GETSKINFILE:
        if (!host->skinned)
            return 0;
        return SUCCEEDED(CxStrDup(reinterpret_cast<wchar_t**>(wParam), CX_BUILTIN_SKIN_SPEC)) ? 1 : 0;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        // As the main window does: each list draws its own cells.
        if (header != nullptr && header->code == static_cast<UINT>(NM_CUSTOMDRAW))
            return SendMessageW(header->hwndFrom, CXM_CUSTOMDRAW, static_cast<WPARAM>(lParam), 0);
        return 0;
    }
    case WM_COMMAND:
        if (lParam == 0)
            host->commands.push_back(LOWORD(wParam));
        return 0;
    case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(hWnd, &client);
        HBRUSH brush = CreateSolidBrush(kFace);
        FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
        DeleteObject(brush);
        return TRUE;
    }
    case CXM_SETTEXT:
        CxFree(reinterpret_cast<void*>(wParam));
        return 1;
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

// The playlist of the tests: it records the timer messages that reach its default handling.
class RecordingList : public CFileListViewCtrl {
public:
    std::vector<WPARAM> defaultTimers;

protected:
    LRESULT OnTimerSeen(WPARAM wParam, LPARAM)
    {
        defaultTimers.push_back(wParam);
        return Default();
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(RecordingList, CFileListViewCtrl)
ON_MESSAGE(WM_TIMER, OnTimerSeen)
END_MESSAGE_MAP()

// A row holder that counts its deletions.
std::atomic<int>& DeletedHolders()
{
    static std::atomic<int> count{0};
    return count;
}

struct CountedHolder : CFileItemHolder {
    ~CountedHolder() override { ++DeletedHolders(); }
};

// Small icon indexes of the system image list.
int SystemIcon(const wchar_t* name, DWORD attributes)
{
    SHFILEINFOW info{};
    SHGetFileInfoW(name, attributes, &info, sizeof(info),
                   SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    return info.iIcon;
}

int AddRow(HWND list, const wchar_t* name, int image, CFileItemHolder* holder)
{
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t*>(name);
    item.iImage = image;
    item.lParam = reinterpret_cast<LPARAM>(holder);
    const int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMW size{};
    size.iSubItem = 2;
    size.pszText = const_cast<wchar_t*>(L"4 KB");
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&size));
    return row;
}

CFileItemHolder* Holder(FileItemKind kind, bool subfolders)
{
    auto* holder = new CountedHolder;
    holder->item.kind = kind;
    holder->item.hasSubfolders = subfolders ? 1 : 0;
    return holder;
}

std::wstring CellText(HWND list, int row, int column)
{
    wchar_t text[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

RECT CellRect(HWND list, int row, int column, int part = LVIR_LABEL)
{
    RECT cell{};
    cell.top = column;
    cell.left = part;
    SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
    return cell;
}

// A child's window rectangle in its parent's client coordinates.
RECT PlaceInParent(HWND child)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::vector<int> SelectedRows(HWND list)
{
    std::vector<int> rows;
    const auto count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    int at = -1;
    for (int n = 0; n < count; ++n) {
        at = static_cast<int>(
            SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(at), MAKELPARAM(LVNI_SELECTED, 0)));
        if (at < 0)
            break;
        rows.push_back(at);
    }
    return rows;
}

std::string Text(const RECT& r)
{
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

constexpr UINT kListIds[3] = {IDC_PC_LIST, IDC_PLAYER_LIST, IDC_PLAYLIST};
constexpr UINT kProgressIds[3] = {IDC_PC_LIST_PROGRESS, IDC_PLAYER_LIST_PROGRESS, IDC_PLAYLIST_PROGRESS};
constexpr UINT kStatusIds[3] = {IDC_PC_LIST_STATUS, IDC_PLAYER_LIST_STATUS, IDC_PLAYLIST_STATUS};
const wchar_t* const kColumnTitles[5] = {L"Name", L"Status", L"Size", L"Modified", L"Attribute"};
constexpr int kColumnWidths[5] = {150, 120, 60, 80, 60};

// The three panes on a host of the main window's size, as the main window builds them: the PC list with
// all five columns, the others with the first three. Without the skin the host names no sections.
class Panes {
public:
    explicit Panes(bool skinned = true, const wchar_t* title = L"KwepFileListPanes")
    {
        host.skinned = skinned;
        static const wchar_t* cls =
            RegisterTestWindowClass(L"KwepFileListHost", HostProc, nullptr, LoadCursorW(nullptr, IDC_ARROW));
        CurrentHost() = &host;
        host.hWnd = CreateWindowExW(0, cls, title, WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 760, 440, nullptr,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
        lists[0] = std::make_unique<CFileListViewCtrl>(1);
        lists[1] = std::make_unique<CFileListViewCtrl>(1);
        auto recording = std::make_unique<RecordingList>();
        playlist = recording.get();
        lists[2] = std::move(recording);
        // Where the skin gives no place (the playlist) the host's stays.
        const RECT places[3] = {{301, 36, 745, 125}, {301, 180, 745, 269}, {16, 36, 276, 380}};
        for (int i = 0; i < 3; ++i) {
            CFileListViewCtrl& list = *lists[i];
            list.SetPaneImages(&images);
            list.Create(host.hWnd, places[i], kListIds[i], WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS);
            list.InitPane();
            for (int c = 0; c < (i == 0 ? 5 : 3); ++c) {
                LVCOLUMNW column{};
                column.mask = LVCF_TEXT | LVCF_WIDTH;
                column.pszText = const_cast<wchar_t*>(kColumnTitles[c]);
                column.cx = kColumnWidths[c];
                SendMessageW(list.m_hWnd, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
            }
        }
    }
    ~Panes()
    {
        for (auto& list : lists)
            list.reset();
        if (host.hWnd != nullptr)
            DestroyWindow(host.hWnd);
        CurrentHost() = nullptr;
    }
    Panes(const Panes&) = delete;
    Panes& operator=(const Panes&) = delete;

    CFileListViewCtrl& Pc() { return *lists[0]; }
    CFileListViewCtrl& Player() { return *lists[1]; }

    // Rows named "<prefix> NN" with file icons.
    void Fill(CFileListViewCtrl& list, int count, const wchar_t* prefix)
    {
        const int file = SystemIcon(L"track.mp3", FILE_ATTRIBUTE_NORMAL);
        for (int n = 0; n < count; ++n) {
            wchar_t name[64];
            swprintf(name, 64, L"%ls %02d", prefix, n);
            AddRow(list.m_hWnd, name, file, Holder(kFileItemFile, false));
        }
    }

    TestApp app;
    Host host;
    CPaneImages images;
    std::unique_ptr<CFileListViewCtrl> lists[3];
    RecordingList* playlist = nullptr;
};

// ---- Texts and progress in the list's own process ----

TEST(FileListPane, ProgressTextsByLabel)
{
    TestApp app;
    struct Case {
        int percent;
        int label;
        const wchar_t* text;
    };
    const Case cases[] = {
        {37, kErased, L"37% erased "}, {100, -1, L"100%"},       {0, kDownloaded, L"0% downloaded "},
        {64, kEmptyText, L"64%"},      {5, kUnknownText, L"5%"},
    };
    for (const Case& c : cases) {
        CxString text;
        EXPECT_EQ(CFileListViewCtrl::FormatProgressText(text, c.percent, c.label), S_OK);
        EXPECT_STREQ(static_cast<const wchar_t*>(text), c.text) << c.percent << " " << c.label;
    }
}

TEST(FileListPane, ProgressRowAndStatusCell)
{
    Panes panes;
    CFileListViewCtrl& list = panes.Pc();
    panes.Fill(list, 6, L"Track");
    HWND bar = list.GetProgressBar().m_hWnd;
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(GetDlgCtrlID(bar), static_cast<int>(IDC_PC_LIST_PROGRESS));
    EXPECT_FALSE(IsWindowVisible(bar));
    EXPECT_EQ(list.GetProgressRow(), -1);

    struct Case {
        int row;
        int percent;
        int label;
        const wchar_t* cell;
    };
    // The last case moves the bar to another row while it shows.
    const Case cases[] = {
        {2, 37, kErased, L"37% erased   "},
        {2, 100, -1, L"100%  "},
        {2, 50, kEmptyText, L"50%  "},
        {4, 12, kDownloaded, L"12% downloaded   "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        EXPECT_EQ(list.SetItemProgress(c.row, c.percent, c.label), S_OK);
        EXPECT_EQ(CellText(list.m_hWnd, c.row, 1), c.cell);
        EXPECT_TRUE(IsWindowVisible(bar));
        EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), c.percent);
        EXPECT_EQ(list.GetProgressRow(), c.row);
        EXPECT_NE(GetWindowLongW(list.m_hWnd, GWL_STYLE) & WS_CLIPCHILDREN, 0);
        EXPECT_EQ(PlaceInParent(bar), CellRect(list.m_hWnd, c.row, 1)) << Text(PlaceInParent(bar));
    }
    // Ending the progress hides the bar and empties the cell.
    EXPECT_EQ(list.SetItemStatus(4, FALSE, -1), S_OK);
    EXPECT_FALSE(IsWindowVisible(bar));
    EXPECT_EQ(CellText(list.m_hWnd, 4, 1), L"");
    EXPECT_EQ(list.GetProgressRow(), -1);
    EXPECT_EQ(GetWindowLongW(list.m_hWnd, GWL_STYLE) & WS_CLIPCHILDREN, 0);
    // A finished row keeps its translated text; a new progress starts at 0.
    EXPECT_EQ(list.SetItemStatus(2, FALSE, kDownloaded), S_OK);
    EXPECT_EQ(CellText(list.m_hWnd, 2, 1), L"downloaded");
    EXPECT_EQ(list.SetItemStatus(3, TRUE, kErased), S_OK);
    EXPECT_EQ(CellText(list.m_hWnd, 3, 1), L"0% erased   ");
    EXPECT_TRUE(IsWindowVisible(bar));
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
    // A row the list does not have is refused, not reported done.
    EXPECT_EQ(list.SetStatusText(99, L"x"), E_FAIL);
}

// ---- Keys ----

void SendKey(HWND list, UINT key, bool control)
{
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    const BYTE before = keys[VK_CONTROL];
    keys[VK_CONTROL] = control ? 0x80 : 0;
    SetKeyboardState(keys);
    SendMessageW(list, WM_KEYDOWN, key, 1);
    keys[VK_CONTROL] = before;
    SetKeyboardState(keys);
}

TEST(FileListPane, KeysOnlyWhileNoRowShowsProgress)
{
    Panes panes;
    CFileListViewCtrl& list = panes.Pc();
    panes.Fill(list, 5, L"Track");
    struct Case {
        const char* name;
        UINT key;
        bool control;
        UINT command;  // 0: none
        bool selectsAll;
    };
    const Case cases[] = {
        {"Delete", VK_DELETE, false, ID_FILE_ERASE, false},
        {"F2", VK_F2, false, ID_FILE_RENAME, false},
        {"Ctrl+A", 'A', true, 0, true},
        {"A alone", 'A', false, 0, false},
    };
    for (const Case& c : cases) {
        for (const bool busy : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (busy ? " busy" : " idle"));
            panes.host.commands.clear();
            list.SelectSingleItem(1);
            if (busy)
                list.SetItemProgress(3, 10, kErased);
            else
                list.SetItemStatus(3, FALSE, -1);
            SendKey(list.m_hWnd, c.key, c.control);
            const bool acts = !busy;
            if (c.command != 0 && acts)
                EXPECT_EQ(panes.host.commands, std::vector<UINT>{c.command});
            else
                EXPECT_TRUE(panes.host.commands.empty());
            const std::vector<int> expected =
                (c.selectsAll && acts) ? std::vector<int>{0, 1, 2, 3, 4} : std::vector<int>{1};
            EXPECT_EQ(SelectedRows(list.m_hWnd), expected);
        }
    }
    list.SetItemStatus(3, FALSE, -1);
}

TEST(FileListPane, SelectionAndSearch)
{
    Panes panes;
    CFileListViewCtrl& list = panes.Player();
    panes.Fill(list, 6, L"Song");
    list.SelectAll();
    EXPECT_EQ(SelectedRows(list.m_hWnd).size(), 6u);
    EXPECT_TRUE(list.IsItemSelected(0));
    EXPECT_TRUE(list.IsItemSelected(5));
    list.SelectSingleItem(3);
    EXPECT_EQ(SelectedRows(list.m_hWnd), std::vector<int>{3});
    EXPECT_EQ(SendMessageW(list.m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_FOCUSED, 0)), 3);
    EXPECT_FALSE(list.IsItemSelected(2));
    EXPECT_TRUE(list.IsItemSelected(3));
    list.SelectSingleItem(-1);
    EXPECT_TRUE(SelectedRows(list.m_hWnd).empty());
    EXPECT_FALSE(list.IsItemSelected(3));

    struct Case {
        const wchar_t* text;
        int row;
    };
    const Case cases[] = {{L"Song 04", 4}, {L"Song 00", 0}, {L"Song 0", -1}, {L"ong 04", -1}, {L"", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(list.FindItemByText(c.text), c.row) << static_cast<const void*>(c.text);
}

// ---- Status lines, skin colours and fonts ----

TEST(FileListPane, StatusLinesUnderTheLists)
{
    Panes panes;
    struct Case {
        UINT format;
        RECT margins;  // the skin's "pos" of the status section, {0, 0, 0, 18} without one
    };
    const Case cases[3] = {{0x8826, {0, 1, -10, 18}}, {0x8826, {0, 1, -10, 18}}, {0x8824, {0, 0, 0, 18}}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(kListIds[i]);
        CFileListViewCtrl& list = *panes.lists[i];
        HWND status = GetDlgItem(panes.host.hWnd, static_cast<int>(kStatusIds[i]));
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(status, list.GetStatusBar().m_hWnd);
        EXPECT_EQ(GetParent(status), panes.host.hWnd);
        EXPECT_TRUE(IsWindowVisible(status));
        EXPECT_EQ(list.GetStatusBar().GetFormat(), cases[i].format);
        const RECT under = PlaceInParent(list.m_hWnd);
        const RECT& m = cases[i].margins;
        const RECT expected{under.left + m.left, under.bottom + 1 + m.top, under.right + m.right,
                            under.bottom + 1 + m.top + m.bottom};
        EXPECT_EQ(PlaceInParent(status), expected) << Text(PlaceInParent(status));
        // A resized list takes its status line along.
        SetWindowPos(list.m_hWnd, nullptr, 0, 0, under.right - under.left - 20, under.bottom - under.top - 10,
                     SWP_NOMOVE | SWP_NOZORDER);
        const RECT moved = PlaceInParent(list.m_hWnd);
        EXPECT_EQ(PlaceInParent(status).top, moved.bottom + 1 + m.top);
        EXPECT_EQ(PlaceInParent(status).right, moved.right + m.right);
    }
    // The font message reaches the status line, which makes its own copy.
    HFONT font = CreateFontW(-20, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(SendMessageW(panes.Pc().m_hWnd, CXM_SETFONT, reinterpret_cast<WPARAM>(font), 0), 1);
    HFONT taken = panes.Pc().GetStatusBar().GetFont();
    ASSERT_NE(taken, nullptr);
    EXPECT_NE(taken, font);
    LOGFONTW logFont{};
    GetObjectW(taken, sizeof(logFont), &logFont);
    EXPECT_EQ(logFont.lfHeight, -20);
    EXPECT_EQ(logFont.lfWeight, FW_BOLD);
    DeleteObject(font);
}

TEST(FileListPane, ListOfAnotherIdGetsNoChildren)
{
    Panes panes;
    CFileListViewCtrl other(1);
    ASSERT_TRUE(other.Create(panes.host.hWnd, RECT{10, 390, 200, 420}, 4025));
    other.InitPane();
    EXPECT_EQ(other.CreateStatusBar(), CX_E_NOTREGISTERED);
    EXPECT_EQ(other.GetStatusBar().m_hWnd, nullptr);
    EXPECT_EQ(other.GetProgressBar().m_hWnd, nullptr);
    // The status line of a known list is made once.
    EXPECT_EQ(panes.Pc().CreateStatusBar(), S_FALSE);
}

// "r,g,b|r,g,b|r,g,b" of the built skin's INI, read by the system's profile reader.
std::vector<COLORREF> IniColours(const wchar_t* section, const wchar_t* key)
{
    wchar_t value[256] = {};
    GetPrivateProfileStringW(section, key, L"", value, 256, test_support::BuildTreeProgram(KWEP_SKIN_INI).c_str());
    std::vector<COLORREF> colours;
    std::wstringstream in(value);
    std::wstring part;
    while (std::getline(in, part, L'|')) {
        int r = -1, g = -1, b = -1;
        if (swscanf(part.c_str(), L"%d,%d,%d", &r, &g, &b) == 3)
            colours.push_back(RGB(r, g, b));
    }
    return colours;
}

TEST(FileListPane, SkinColoursAndDefaults)
{
    {
        Panes panes;
        const wchar_t* sections[3] = {L"pc.list", L"kwep.list", L"playlist"};
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(kListIds[i]);
            const std::vector<COLORREF> text = IniColours(sections[i], L"frgnd");
            const std::vector<COLORREF> back = IniColours(sections[i], L"bkgnd");
            ASSERT_EQ(text.size(), 3u);
            ASSERT_EQ(back.size(), 3u);
            for (int state = 0; state < 3; ++state) {
                EXPECT_TRUE(panes.lists[i]->GetTextColour(state).set);
                EXPECT_EQ(panes.lists[i]->GetTextColour(state).color, text[state]);
                EXPECT_EQ(panes.lists[i]->GetBackColour(state).color, back[state]);
            }
            EXPECT_EQ(static_cast<COLORREF>(SendMessageW(panes.lists[i]->m_hWnd, LVM_GETBKCOLOR, 0, 0)), back[0]);
        }
    }
    Panes bare(false);
    const int back[3] = {COLOR_WINDOW, COLOR_INACTIVECAPTION, COLOR_ACTIVECAPTION};
    for (int state = 0; state < 3; ++state) {
        EXPECT_FALSE(bare.Pc().GetTextColour(state).set);
        EXPECT_EQ(bare.Pc().GetTextColour(state).color, GetSysColor(COLOR_WINDOWTEXT));
        EXPECT_EQ(bare.Pc().GetBackColour(state).color, GetSysColor(back[state]));
    }
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(bare.Pc().m_hWnd, LVM_GETBKCOLOR, 0, 0)), GetSysColor(COLOR_WINDOW));
}

// ---- Timer, drops, row data ----

TEST(FileListPane, TimerActsOnlyOnTheAutoScrollId)
{
    Panes panes;
    RecordingList& list = *panes.playlist;
    panes.Fill(list, 40, L"Entry");
    // No tick of a real timer comes while the test runs.
    list.m_autoScrollInterval = 600000;
    struct Case {
        const char* name;
        WPARAM id;
        BOOL active;
        BOOL up;
        bool passedOn;
        int lines;
    };
    const Case cases[] = {
        {"hover timer while active", 0x2128507, TRUE, FALSE, true, 0},
        {"list's own timer while active", 1, TRUE, TRUE, true, 0},
        {"auto-scroll down", FILE_LIST_AUTOSCROLL_TIMER, TRUE, FALSE, false, 1},
        {"auto-scroll up", FILE_LIST_AUTOSCROLL_TIMER, TRUE, TRUE, false, -1},
        {"auto-scroll not active", FILE_LIST_AUTOSCROLL_TIMER, FALSE, FALSE, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SendMessageW(list.m_hWnd, LVM_ENSUREVISIBLE, 0, FALSE);
        SendMessageW(list.m_hWnd, WM_VSCROLL, SB_LINEDOWN, 0);
        SendMessageW(list.m_hWnd, WM_VSCROLL, SB_LINEDOWN, 0);
        const auto top = static_cast<int>(SendMessageW(list.m_hWnd, LVM_GETTOPINDEX, 0, 0));
        ASSERT_EQ(top, 2);
        list.defaultTimers.clear();
        list.m_autoScrollActive = c.active;
        list.m_autoScrollUp = c.up;
        SendMessageW(list.m_hWnd, WM_TIMER, c.id, 0);
        EXPECT_EQ(SendMessageW(list.m_hWnd, LVM_GETTOPINDEX, 0, 0), top + c.lines);
        EXPECT_EQ(list.defaultTimers, c.passedOn ? std::vector<WPARAM>{c.id} : std::vector<WPARAM>{});
        if (c.id == FILE_LIST_AUTOSCROLL_TIMER) {
            EXPECT_EQ(list.m_autoScrollTimer, c.active ? FILE_LIST_AUTOSCROLL_TIMER : 0u);
        }
    }
    list.m_autoScrollActive = FALSE;
    SendMessageW(list.m_hWnd, WM_TIMER, FILE_LIST_AUTOSCROLL_TIMER, 0);
}

struct RecordingDrop : CFileListDropHandler {
    void OnFilesDropped(CFileListViewCtrl& list, HDROP drop) override
    {
        lists.push_back(&list);
        const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            wchar_t path[MAX_PATH] = {};
            DragQueryFileW(drop, i, path, MAX_PATH);
            paths.push_back(path);
        }
    }
    std::vector<CFileListViewCtrl*> lists;
    std::vector<std::wstring> paths;
};

HDROP MakeDrop(const std::vector<std::wstring>& paths)
{
    size_t chars = 1;
    for (const std::wstring& path : paths)
        chars += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    if (memory == nullptr)
        return nullptr;
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* text = reinterpret_cast<wchar_t*>(header + 1);
    for (const std::wstring& path : paths) {
        std::copy(path.begin(), path.end(), text);
        text += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

TEST(FileListPane, DroppedFilesGoToTheHandlerAndAreFinished)
{
    Panes panes;
    RecordingDrop handler;
    const std::vector<std::wstring> paths = {L"C:\\music\\one.mp3", L"C:\\music\\two.wma"};
    for (const bool withHandler : {true, false}) {
        SCOPED_TRACE(withHandler);
        panes.Player().SetDropHandler(withHandler ? &handler : nullptr);
        HDROP drop = MakeDrop(paths);
        ASSERT_NE(drop, nullptr);
        ASSERT_NE(GlobalSize(drop), 0u);
        EXPECT_EQ(SendMessageW(panes.Player().m_hWnd, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0), 0);
        // Finished by the list: the drop's memory is gone.
        EXPECT_EQ(GlobalSize(drop), 0u);
    }
    EXPECT_EQ(handler.lists, std::vector<CFileListViewCtrl*>{&panes.Player()});
    EXPECT_EQ(handler.paths, paths);
}

TEST(FileListPane, DeletedRowsFreeTheirHolders)
{
    Panes panes;
    const int before = DeletedHolders().load();
    {
        CFileListViewCtrl& list = panes.Player();
        panes.Fill(list, 5, L"Song");
        SendMessageW(list.m_hWnd, LVM_DELETEITEM, 2, 0);
        EXPECT_EQ(DeletedHolders().load() - before, 1);
        SendMessageW(list.m_hWnd, LVM_DELETEALLITEMS, 0, 0);
        EXPECT_EQ(DeletedHolders().load() - before, 5);
        // A row without a holder is left alone.
        AddRow(list.m_hWnd, L"bare", 0, nullptr);
        SendMessageW(list.m_hWnd, LVM_DELETEALLITEMS, 0, 0);
        EXPECT_EQ(DeletedHolders().load() - before, 5);
    }
    panes.Fill(panes.Pc(), 3, L"Track");
    panes.lists[0].reset();
    EXPECT_EQ(DeletedHolders().load() - before, 8);
}

// ---- From another process, while a worker drives the progress ----

struct ProbeAnswers {
    DWORD code = STILL_ACTIVE;
    std::map<std::string, std::string> lines;
};

ProbeAnswers ReadFromOutside(HWND list, int row, int column, UINT barId, const TempFolder& folder)
{
    ProbeAnswers answers;
    const std::filesystem::path out = folder.File("probe.txt");
    std::filesystem::remove(out);
    test_support::HostProcess probe(test_support::BuildTreeProgram(KWEP_FILE_LIST_PROBE),
                                    std::to_wstring(reinterpret_cast<UINT_PTR>(list)) + L" " + std::to_wstring(row) +
                                        L" " + std::to_wstring(column) + L" " + std::to_wstring(barId) + L" \"" +
                                        out.wstring() + L"\"");
    if (!probe.Started())
        return answers;
    HANDLE process = probe.Handle();
    if (!PumpUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }))
        return answers;
    GetExitCodeProcess(process, &answers.code);
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        answers.lines[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    return answers;
}

// Runs the call on a worker thread while this thread handles the messages it sends.
HRESULT OnWorker(const std::function<HRESULT()>& call)
{
    std::atomic<bool> done{false};
    HRESULT result = E_PENDING;
    std::thread worker([&] {
        result = call();
        done = true;
    });
    const bool ended = PumpUntil([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(ended);
    return result;
}

TEST(FileListPane, ProgressSeenFromAnotherProcess)
{
    Panes panes;
    TempFolder folder;
    CFileListViewCtrl& list = panes.Pc();
    panes.Fill(list, 14, L"Track");
    constexpr int kRow = 3;
    struct Step {
        int percent;
        int label;
        const char* text;
    };
    const Step steps[] = {
        {37, kErased, "[37% erased   ]"},
        {100, -1, "[100%  ]"},
        {64, kEmptyText, "[64%  ]"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.text);
        EXPECT_EQ(OnWorker([&] { return list.SetItemProgress(kRow, s.percent, s.label); }), S_OK);
        const ProbeAnswers a = ReadFromOutside(list.m_hWnd, kRow, 1, IDC_PC_LIST_PROGRESS, folder);
        ASSERT_EQ(a.code, 0u);
        EXPECT_EQ(a.lines.at("text"), s.text);
        EXPECT_EQ(a.lines.at("bar"), a.lines.at("cell"));
        EXPECT_EQ(a.lines.at("visible"), "1");
        EXPECT_EQ(a.lines.at("pos"), std::to_string(s.percent));
    }
    const auto rowHeight =
        CellRect(list.m_hWnd, 0, 0, LVIR_BOUNDS).bottom - CellRect(list.m_hWnd, 0, 0, LVIR_BOUNDS).top;
    struct Move {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool toHeader;  // sent to the list's header, as a drag of a divider changes it
    };
    HDITEMW dragged{};
    dragged.mask = HDI_WIDTH;
    dragged.cxy = 170;
    const Move moves[] = {
        {"first column wider", LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(190, 0), false},
        {"status column narrower", LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(90, 0), false},
        {"status column wider", LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(140, 0), false},
        {"first column in the header", HDM_SETITEMW, 0, reinterpret_cast<LPARAM>(&dragged), true},
        {"line down", WM_VSCROLL, SB_LINEDOWN, 0, false},
        {"line right", WM_HSCROLL, SB_LINERIGHT, 0, false},
        {"scrolled by code", LVM_SCROLL, 0, rowHeight, false},
        {"wheel", WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), MAKELPARAM(500, 80), false},
        {"back to the top", LVM_ENSUREVISIBLE, 0, FALSE, false},
    };
    HWND header = reinterpret_cast<HWND>(SendMessageW(list.m_hWnd, LVM_GETHEADER, 0, 0));
    for (const Move& m : moves) {
        SCOPED_TRACE(m.name);
        const std::string cellBefore = Text(CellRect(list.m_hWnd, kRow, 1));
        SendMessageW(m.toHeader ? header : list.m_hWnd, m.message, m.wParam, m.lParam);
        EXPECT_NE(Text(CellRect(list.m_hWnd, kRow, 1)), cellBefore);  // the cell did move
        const ProbeAnswers a = ReadFromOutside(list.m_hWnd, kRow, 1, IDC_PC_LIST_PROGRESS, folder);
        ASSERT_EQ(a.code, 0u);
        EXPECT_EQ(a.lines.at("bar"), a.lines.at("cell"));
        EXPECT_EQ(a.lines.at("text"), "[64%  ]");
    }
    EXPECT_EQ(OnWorker([&] { return list.SetItemStatus(kRow, FALSE, -1); }), S_OK);
    const ProbeAnswers a = ReadFromOutside(list.m_hWnd, kRow, 1, IDC_PC_LIST_PROGRESS, folder);
    ASSERT_EQ(a.code, 0u);
    EXPECT_EQ(a.lines.at("text"), "[]");
    EXPECT_EQ(a.lines.at("visible"), "0");
}

// ---- On the X display ----

std::string Rgb(COLORREF c)
{
    return std::to_string(GetRValue(c)) + " " + std::to_string(GetGValue(c)) + " " + std::to_string(GetBValue(c));
}

// The host's client coordinates of a rectangle of a list's client area, as "x y w h".
std::string InHost(HWND list, RECT r)
{
    MapWindowPoints(list, GetParent(list), reinterpret_cast<POINT*>(&r), 2);
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + " " +
           std::to_string(r.bottom - r.top);
}

RECT Inset(RECT r, int by)
{
    return RECT{r.left + by, r.top + by, r.right - by, r.bottom - by};
}

TEST(FileListPane, PanesOnTheDisplay)
{
    ASSERT_TRUE(test_support::HostHasProgram("xwd"));
    ASSERT_TRUE(test_support::HostHasProgram("xdotool"));
    const wchar_t* title = L"KwepFileListCapture";
    Panes panes(true, title);
    CFileListViewCtrl& pc = panes.Pc();
    CFileListViewCtrl& player = panes.Player();
    RecordingList& playlist = *panes.playlist;
    panes.Fill(pc, 3, L"Track");
    panes.Fill(player, 3, L"Song");
    // The playlist's rows: a file, a folder with subfolders, one without, a file marked as having
    // subfolders (only folders carry the overlay), then two files, the first under label editing.
    const int file = SystemIcon(L"track.mp3", FILE_ATTRIBUTE_NORMAL);
    const int folderIcon = SystemIcon(L"folder", FILE_ATTRIBUTE_DIRECTORY);
    AddRow(playlist.m_hWnd, L"plain file", file, Holder(kFileItemFile, false));
    AddRow(playlist.m_hWnd, L"folder with subfolders", folderIcon, Holder(kFileItemFolder, true));
    AddRow(playlist.m_hWnd, L"folder without", folderIcon, Holder(kFileItemFolder, false));
    AddRow(playlist.m_hWnd, L"flagged file", file, Holder(kFileItemFile, true));
    AddRow(playlist.m_hWnd, L"Edited row", file, Holder(kFileItemFile, false));
    AddRow(playlist.m_hWnd, L"Shown row", file, Holder(kFileItemFile, false));
    CFileListCell edited{4, 0};
    EXPECT_EQ(SendMessageW(playlist.m_hWnd, CXM_SETEDITCELL, reinterpret_cast<WPARAM>(&edited), 0), 1);
    for (auto& list : panes.lists)
        list->GetStatusBar().SetText(L"Status line 12 files", FALSE);
    pc.SelectSingleItem(1);
    player.SelectSingleItem(1);
    SetForegroundWindow(panes.host.hWnd);
    SetFocus(pc.m_hWnd);
    ASSERT_EQ(GetFocus(), pc.m_hWnd);
    ASSERT_NE(pc.GetLow() & CXFL_CLASSSTATE, 0u);
    ASSERT_EQ(player.GetLow() & CXFL_CLASSSTATE, 0u);
    ASSERT_NE(panes.images.SystemSmallImageList(), nullptr);
    ASSERT_NE(panes.images.FolderOverlayIcon(), nullptr);

    RedrawWindow(panes.host.hWnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
    Pump();

    // Queries: the background of each row's status cell by its colour state, the icon boxes of the
    // playlist's first rows, the text of the edited and of a shown name, and the status lines' text.
    const CxSkinColor backPc[3] = {pc.GetBackColour(0), pc.GetBackColour(1), pc.GetBackColour(2)};
    const COLORREF text0 = playlist.GetTextColour(0).color;
    const SIZE icon = panes.images.SmallIconSize();
    std::vector<std::string> queries;
    auto add = [&](const std::string& q) {
        queries.push_back(q);
    };
    add("mode pc0 " + InHost(pc.m_hWnd, Inset(CellRect(pc.m_hWnd, 0, 1, LVIR_BOUNDS), 1)));
    add("mode pc2 " + InHost(pc.m_hWnd, Inset(CellRect(pc.m_hWnd, 1, 1, LVIR_BOUNDS), 1)));
    add("mode player0 " + InHost(player.m_hWnd, Inset(CellRect(player.m_hWnd, 0, 1, LVIR_BOUNDS), 1)));
    add("mode player1 " + InHost(player.m_hWnd, Inset(CellRect(player.m_hWnd, 1, 1, LVIR_BOUNDS), 1)));
    add("mode playlist0 " + InHost(playlist.m_hWnd, Inset(CellRect(playlist.m_hWnd, 0, 1, LVIR_BOUNDS), 1)));
    auto iconBox = [&](int row) {
        const RECT cell = CellRect(playlist.m_hWnd, row, 0, LVIR_BOUNDS);
        const int top = cell.top + ((cell.bottom - cell.top) - icon.cy) / 2;
        return RECT{cell.left, top, cell.left + icon.cx, top + icon.cy};
    };
    auto origin = [&](int row) {
        const std::string box = InHost(playlist.m_hWnd, iconBox(row));
        return box.substr(0, box.find(' ', box.find(' ') + 1));
    };
    const std::string size = std::to_string(icon.cx) + " " + std::to_string(icon.cy);
    add("diff overlay " + origin(1) + " " + origin(2) + " " + size);
    add("diff flagged " + origin(3) + " " + origin(0) + " " + size);
    const std::string accent = "0 102 180 8";  // the overlay badge's colour
    for (int row = 0; row < 4; ++row)
        add("near badge" + std::to_string(row) + " " + InHost(playlist.m_hWnd, iconBox(row)) + " " + accent);
    auto nameText = [&](int row) {
        RECT cell = CellRect(playlist.m_hWnd, row, 0, LVIR_BOUNDS);
        cell.right = cell.left + kColumnWidths[0];
        cell.left += icon.cx + 6;
        return InHost(playlist.m_hWnd, cell);
    };
    add("near edited " + nameText(4) + " " + Rgb(text0) + " 40");
    add("near shown " + nameText(5) + " " + Rgb(text0) + " 40");
    for (int i = 0; i < 3; ++i) {
        HWND status = panes.lists[i]->GetStatusBar().m_hWnd;
        const RECT r = PlaceInParent(status);
        add("near status" + std::to_string(i) + " " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
            std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top) + " " +
            Rgb(panes.lists[i]->GetTextColour(0).color) + " 40");
        // The status line lies right under its list.
        EXPECT_EQ(r.top, PlaceInParent(panes.lists[i]->m_hWnd).bottom + (i == 2 ? 1 : 2));
    }

    const test_support::WindowCapture capture = test_support::CaptureWindow(
        "KwepFileListCapture", KWEP_ARTEFACT_DIR, "file_list_panes", KWEP_FILE_LIST_CAPTURE_SCRIPT, queries);
    ASSERT_TRUE(capture.ok) << capture.error;
    std::map<std::string, std::vector<int>> m = capture.values;
    auto expectBackground = [&](const char* name, COLORREF colour) {
        ASSERT_EQ(m[name].size(), 4u) << name;
        EXPECT_EQ(RGB(m[name][0], m[name][1], m[name][2]), colour)
            << name << " " << m[name][0] << "," << m[name][1] << "," << m[name][2];
        EXPECT_GE(m[name][3], 90) << name;
    };
    expectBackground("pc0", backPc[0].color);
    expectBackground("pc2", backPc[2].color);
    expectBackground("player0", player.GetBackColour(0).color);
    expectBackground("player1", player.GetBackColour(1).color);
    expectBackground("playlist0", playlist.GetBackColour(0).color);
    EXPECT_GT(m["overlay"].at(0), 0);
    EXPECT_EQ(m["flagged"].at(0), 0);
    EXPECT_GT(m["badge1"].at(0), 0);
    EXPECT_EQ(m["badge0"].at(0), 0);
    EXPECT_EQ(m["badge2"].at(0), 0);
    EXPECT_EQ(m["badge3"].at(0), 0);
    EXPECT_EQ(m["edited"].at(0), 0);
    EXPECT_GT(m["shown"].at(0), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_GT(m["status" + std::to_string(i)].at(0), 0) << i;
}

}  // namespace
