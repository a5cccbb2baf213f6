// Skin and language packs on a fixture tree that make_packs.py writes: the INI file search compared with
// `find` (nesting, case variants, a link loop, the depth limit), the pack descriptions read from real and
// broken files, the sorted pack menu, the pack queries, validation and the skin broadcast, and the "Skin"
// value across two runs of a program placed beside its own SKINS folder (read back with Wine's reg tool).
#include "manager/framework/packs/cx_pack_list.h"
#include "tests/manager/registry_tool.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::RunShell;
using test_support::ShellQuote;
using test_support::ShellResult;
using test_support::TempFolder;
using test_support::UnixPath;

constexpr char kPython[] = "/usr/bin/python3";

std::string Narrow(const std::wstring& text)
{
    return registry_tool::Narrow(text);
}

// The fixture tree, written once per test into a fresh folder.
class PackTree {
public:
    PackTree()
    {
        const ShellResult r = RunShell(ShellQuote(kPython) + " " + ShellQuote(KWEP_MAKE_PACKS_SCRIPT) + " " +
                                       ShellQuote(UnixPath(m_folder.Path())));
        m_made = r.finished && r.exitCode == 0;
        m_error = r.err;
    }
    bool Made() const { return m_made; }
    const std::string& Error() const { return m_error; }
    std::wstring Path(const std::wstring& relative) const { return (m_folder.Path() / relative).wstring(); }
    const std::filesystem::path& Root() const { return m_folder.Path(); }

private:
    TempFolder m_folder;
    bool m_made = false;
    std::string m_error;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

std::vector<std::wstring> ToVector(const CxArray<CxString>& files)
{
    std::vector<std::wstring> out;
    for (int i = 0; i < files.GetCount(); ++i)
        out.emplace_back(static_cast<const wchar_t*>(files.ElementAt(i)));
    return out;
}

std::wstring Text(const wchar_t* text)
{
    return text != nullptr ? text : L"";
}

// ---- The INI file search ----

TEST(CxPackFilesTest, FindsWhatFindFindsThroughNestingCaseVariantsAndALinkLoop)
{
    PackTree tree;
    ASSERT_TRUE(tree.Made()) << tree.Error();
    const std::wstring skins = tree.Path(L"SKINS");
    ASSERT_EQ(RunShell("test -L " + ShellQuote(UnixPath(skins) + "/Blue/back")).exitCode, 0) << "no link loop made";

    CxArray<CxString> files;
    ASSERT_EQ(CxEnumIniFiles(skins.c_str(), files), S_OK);
    std::vector<std::string> ours;
    for (const std::wstring& file : ToVector(files))
        ours.push_back(UnixPath(file));
    const ShellResult found = RunShell("find " + ShellQuote(UnixPath(skins)) + " -type f -name '*.INI'");
    ASSERT_TRUE(found.finished && found.exitCode == 0) << found.err;
    std::vector<std::string> expected = Lines(found.out);
    ASSERT_FALSE(expected.empty());
    std::sort(ours.begin(), ours.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ours, expected);  // each once, whatever the loop offers again

    // Depth first in the order the search returns the entries: a folder's files come together.
    const std::vector<std::wstring> listed = ToVector(files);
    auto at = [&](const std::wstring& tail) {
        for (size_t i = 0; i < listed.size(); ++i) {
            if (listed[i].size() >= tail.size() &&
                listed[i].compare(listed[i].size() - tail.size(), tail.size(), tail) == 0)
                return static_cast<int>(i);
        }
        return -1;
    };
    const int zulu = at(L"\\Plain\\ZULU.INI");
    const int alpha = at(L"\\Plain\\ALPHA.INI");
    ASSERT_GE(zulu, 0);
    ASSERT_GE(alpha, 0);
    EXPECT_EQ(std::abs(zulu - alpha), 1);

    EXPECT_EQ(CxEnumIniFiles(L"", files), E_INVALIDARG);
    CxArray<CxString> none;
    EXPECT_EQ(CxEnumIniFiles(tree.Path(L"no such folder").c_str(), none), S_OK);
    EXPECT_EQ(none.GetCount(), 0);
}

TEST(CxPackFilesTest, StopsAtTheDepthLimit)
{
    PackTree tree;
    ASSERT_TRUE(tree.Made()) << tree.Error();
    CxArray<CxString> files;
    ASSERT_EQ(CxEnumIniFiles(tree.Path(L"DEEP").c_str(), files), S_OK);
    std::vector<int> depths;
    for (const std::wstring& file : ToVector(files)) {
        const size_t l = file.rfind(L"\\L");
        depths.push_back(std::stoi(file.substr(l + 2)));
    }
    std::sort(depths.begin(), depths.end());
    std::vector<int> expected;
    for (int d = 0; d <= CX_PACK_MAX_DEPTH; ++d)
        expected.push_back(d);
    EXPECT_EQ(depths, expected);
}

TEST(CxPackFilesTest, PackFolderIsBesideTheProgram)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring beside = std::filesystem::path(self).parent_path().wstring();
    CxString folder;
    ASSERT_EQ(CxGetPackFolder(&folder, TRUE), S_OK);
    EXPECT_EQ(Text(folder), beside + L"\\SKINS");
    ASSERT_EQ(CxGetPackFolder(&folder, FALSE), S_OK);
    EXPECT_EQ(Text(folder), beside + L"\\LANGUAGES");
}

// ---- A window with the pack list ----

// Every CXM_APPLYSKINFILE, in the order the windows got it.
struct Applied {
    HWND window;
    std::wstring file;
};
std::vector<Applied> g_applied;

LRESULT CALLBACK RecordingProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == CXM_APPLYSKINFILE) {
        g_applied.push_back({hWnd, Text(reinterpret_cast<const wchar_t*>(wParam))});
        return 1;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

// The class of every test window: it records CXM_APPLYSKINFILE.
const wchar_t* RecordingClass()
{
    static const wchar_t* name = RegisterTestWindowClass(L"KwepPackRecordingClass", RecordingProc);
    return name;
}

class PackWnd : public CxWindowProcT<CWnd>, public CxPackList {
public:
    PackWnd() { CxWndLink::Attach(&m_hWnd); }
    ~PackWnd() override
    {
        if (m_hWnd != nullptr)
            DestroyWindow();
    }

    // Files the window adds to the scanned list (the built-in pack is added by the pack list itself).
    std::vector<std::wstring> extraFiles;

    bool Create()
    {
        return CreateEx(0, RecordingClass(), L"packs", WS_OVERLAPPEDWINDOW, 10, 10, 200, 120, nullptr, nullptr) !=
               FALSE;
    }
    void SetLow(DWORD set, DWORD clear) { ModifyFlags(set, 0, clear, 0); }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (message == CXM_PACKLISTBUILT && wParam != 0) {
            auto* files = reinterpret_cast<CxArray<CxString>*>(wParam);
            for (const std::wstring& f : extraFiles)
                files->Add(CxString(f.c_str()));
        }
        if (message == CXM_APPLYSKINFILE) {
            g_applied.push_back({hWnd, Text(reinterpret_cast<const wchar_t*>(wParam))});
            lResult = 1;
            return TRUE;
        }
        return CxPackList::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
    }
};

// ---- Pack descriptions ----

TEST(CxPackEntryTest, ReadsDescriptionsAndResolvesTheirFoldersWithoutMovingTheCurrentDirectory)
{
    PackTree tree;
    ASSERT_TRUE(tree.Made()) << tree.Error();
    PackWnd owner;
    ASSERT_TRUE(owner.Create());
    const std::wstring images = tree.Path(L"SKINS\\Amber");
    SetEnvironmentVariableW(L"KWEP_PACK_IMAGES", images.c_str());
    // Another current directory: packs resolve against their own folder, and it stays where it is.
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    ASSERT_TRUE(SetCurrentDirectoryW(tree.Path(L"elsewhere").c_str()));

    struct Case {
        const wchar_t* file;
        HRESULT result;
        std::wstring name;
        std::wstring dscr;
        std::wstring folder;  // path element 0
        std::wstring icon0;
        std::wstring icon1;
    };
    const Case cases[] = {
        {L"SKINS\\Blue\\BLUE.INI", S_OK, L"Blue", L"Deep blue skin", tree.Path(L"SKINS\\Blue\\img"),
         tree.Path(L"SKINS\\Blue\\off.ico"), tree.Path(L"SKINS\\Blue\\on.ico")},
        {L"SKINS\\Amber\\nested\\deeper\\AMBER.INI", S_OK, L"Amber", L"Warm amber skin", images, L"", L""},
        {L"SKINS\\Plain\\ZULU.INI", S_OK, L"", L"Without a name", tree.Path(L"SKINS\\Plain"), L"", L""},
        {L"SKINS\\Broken\\NOCOMMON.INI", E_FAIL, L"", L"", L"", L"", L""},
        {L"SKINS\\Broken\\BADNUM.INI", S_OK, L"Bad numbers", L"", L"", tree.Path(L"SKINS\\Broken\\missing.ico"),
         L"?99999,ICON"},
        {L"SKINS\\Broken\\GONE.INI", E_FAIL, L"", L"", L"", L"", L""},
        {L"LANGUAGES\\DEUTSCH.INI", S_OK, L"Deutsch", L"German texts", tree.Path(L"LANGUAGES"), L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.file));
        CxPackEntry entry;
        const std::wstring file = tree.Path(c.file);
        ASSERT_EQ(CxReadPackEntry(owner.m_hWnd, file.c_str(), &entry), c.result);
        if (FAILED(c.result))
            continue;
        EXPECT_EQ(Text(entry.Name()), c.name);
        EXPECT_EQ(Text(entry.Text(CX_PACKKEY_DSCR, 0)), c.dscr);
        EXPECT_EQ(Text(entry.Text(CX_PACKKEY_PATH, 0)), c.folder);
        EXPECT_EQ(Text(entry.IniPath()), file);
        EXPECT_EQ(Text(entry.Text(CX_PACKKEY_ICON, 0)), c.icon0);
        EXPECT_EQ(Text(entry.Text(CX_PACKKEY_ICON, 1)), c.icon1);
        EXPECT_EQ(entry.Text(CX_PACKKEY_NAME, 1), nullptr);  // one part of the name is read
    }

    // An over-long name is cut to what the reader holds; a folder that does not exist is no folder.
    CxPackEntry longEntry;
    ASSERT_EQ(CxReadPackEntry(owner.m_hWnd, tree.Path(L"SKINS\\Broken\\LONG.INI").c_str(), &longEntry), S_OK);
    EXPECT_EQ(CxStrLen(longEntry.Name()), static_cast<int>(CX_INI_VALUE_CHARS - 1));
    EXPECT_EQ(Text(longEntry.Text(CX_PACKKEY_PATH, 0)), L"");

    // The built-in pack is a resource: it has no folder, and its location is its identity.
    CxPackEntry builtIn;
    ASSERT_EQ(CxReadPackEntry(owner.m_hWnd, CX_BUILTIN_SKIN_SPEC, &builtIn), S_OK);
    EXPECT_FALSE(Text(builtIn.Name()).empty());
    EXPECT_EQ(Text(builtIn.Text(CX_PACKKEY_PATH, 0)), L"");
    EXPECT_EQ(Text(builtIn.IniPath()), CX_BUILTIN_SKIN_SPEC);

    wchar_t after[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_EQ(std::wstring(after), tree.Path(L"elsewhere"));
    SetCurrentDirectoryW(before);
    SetEnvironmentVariableW(L"KWEP_PACK_IMAGES", nullptr);

    EXPECT_EQ(CxReadPackEntry(nullptr, tree.Path(L"SKINS\\Blue\\BLUE.INI").c_str(), &longEntry), E_INVALIDARG);
}

TEST(CxPackEntryTest, ResolvesPackPaths)
{
    PackTree tree;
    ASSERT_TRUE(tree.Made()) << tree.Error();
    const std::wstring blue = tree.Path(L"SKINS\\Blue");
    struct Case {
        const wchar_t* value;
        BOOL folder;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"", TRUE, blue},
        {L"img", TRUE, blue + L"\\img"},
        {L"img\\", TRUE, blue + L"\\img"},
        {L".\\img\\..\\img", TRUE, blue + L"\\img"},
        {L"..", TRUE, tree.Path(L"SKINS")},
        {L"nothing", TRUE, L""},
        {L"on.ico", TRUE, L""},  // a file is no folder
        {L"on.ico", FALSE, blue + L"\\on.ico"},
        {L"?139,INI", TRUE, L""},
        {L"?139,INI", FALSE, L"?139,INI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.value));
        CxString out;
        ASSERT_TRUE(SUCCEEDED(CxResolvePackPath(c.value, blue.c_str(), c.folder, &out)));
        EXPECT_EQ(Text(out), c.expected);
    }
}

// ---- The menu ----

CxPackEntry* MakePack(const wchar_t* name, const std::wstring& ini)
{
    auto* entry = new CxPackEntry;
    entry->keys[CX_PACKKEY_NAME].Add(CxString(name));
    entry->keys[CX_PACKKEY_DSCR].Add(CxString(L""));
    entry->keys[CX_PACKKEY_PATH].Add(CxString(L""));
    entry->keys[CX_PACKKEY_PATH].Add(CxString(ini.c_str()));
    return entry;
}

struct MenuItem {
    UINT id;
    std::wstring text;
    bool separator;
    bool radio;
    HBITMAP unchecked;
    HBITMAP checked;
};

std::vector<MenuItem> Items(HMENU menu)
{
    std::vector<MenuItem> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[512] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING | MIIM_CHECKMARKS;
        info.dwTypeData = text;
        info.cch = 511;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        items.push_back({info.wID, text, (info.fType & MFT_SEPARATOR) != 0, (info.fType & MFT_RADIOCHECK) != 0,
                         info.hbmpUnchecked, info.hbmpChecked});
    }
    return items;
}

std::vector<std::wstring> Names(const std::vector<MenuItem>& items)
{
    std::vector<std::wstring> names;
    for (const MenuItem& item : items) {
        if (item.id >= CX_ID_PACK_FIRST && item.id <= CX_ID_PACK_LAST)
            names.push_back(item.text);
    }
    return names;
}

// A menu with the anchor (and one item before and after it, which stay where they are).
HMENU AnchorMenu()
{
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 100, L"before");
    AppendMenuW(menu, MF_STRING, CX_ID_PACK_ANCHOR, L"Refresh");
    AppendMenuW(menu, MF_STRING, 101, L"after");
    return menu;
}

TEST(CxPackMenuTest, SortsByNameKeepsThePinnedPackAndCutsAt255)
{
    struct Case {
        std::vector<const wchar_t*> names;
        int pinned;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {{L"b", L"C", L"a"}, -1, {L"C", L"a", L"b"}},  // case-sensitive: upper case first
        {{L"m", L"z", L"a", L"k"}, 1, {L"a", L"z", L"k", L"m"}},
        {{L"d", L"c", L"b", L"a"}, 0, {L"d", L"a", L"b", L"c"}},
        {{L"", L"b"}, -1, {L"TITLE0", L"b"}},  // no name: the INI file's title
    };
    for (const Case& c : cases) {
        CxPackEntries packs;
        for (size_t i = 0; i < c.names.size(); ++i)
            packs.Add(MakePack(c.names[i], L"C:\\packs\\TITLE" + std::to_wstring(i) + L".INI"));
        HMENU menu = AnchorMenu();
        EXPECT_EQ(CxAppendPackMenu(menu, packs, CX_ID_PACK_ANCHOR, c.pinned, CX_ID_PACK_FIRST, CX_ID_PACK_SEPARATOR),
                  S_OK);
        const std::vector<MenuItem> items = Items(menu);
        EXPECT_EQ(Names(items), c.expected);
        // Ids by position, each item a radio item, then the separator, all before the anchor.
        ASSERT_EQ(items.size(), c.names.size() + 4);
        EXPECT_EQ(items.front().id, 100u);
        for (size_t i = 0; i < c.names.size(); ++i) {
            EXPECT_EQ(items[i + 1].id, CX_ID_PACK_FIRST + i);
            EXPECT_TRUE(items[i + 1].radio);
            EXPECT_EQ(packs.ElementAt(static_cast<int>(i)).id, static_cast<int>(CX_ID_PACK_FIRST + i));
        }
        EXPECT_TRUE(items[c.names.size() + 1].separator);
        EXPECT_EQ(items[c.names.size() + 1].id, CX_ID_PACK_SEPARATOR);
        EXPECT_EQ(items[c.names.size() + 2].id, CX_ID_PACK_ANCHOR);
        CxRemovePackMenu(menu, CX_ID_PACK_FIRST, CX_ID_PACK_LAST, CX_ID_PACK_SEPARATOR);
        EXPECT_EQ(GetMenuItemCount(menu), 3);
        DestroyMenu(menu);
    }

    CxPackEntries many;
    for (int i = 0; i < 300; ++i) {
        wchar_t name[16];
        swprintf(name, 16, L"p%03d", 299 - i);
        many.Add(MakePack(name, L"C:\\p" + std::to_wstring(i) + L".INI"));
    }
    HMENU menu = AnchorMenu();
    ASSERT_EQ(CxAppendPackMenu(menu, many, CX_ID_PACK_ANCHOR, -1, CX_ID_PACK_FIRST, CX_ID_PACK_SEPARATOR), S_OK);
    const std::vector<std::wstring> names = Names(Items(menu));
    ASSERT_EQ(names.size(), static_cast<size_t>(CX_MAX_PACKS));
    EXPECT_EQ(names.front(), L"p045");  // the first 255 of the list are offered: p299 down to p045
    EXPECT_EQ(names.back(), L"p299");
    EXPECT_EQ(many.ElementAt(CX_MAX_PACKS).id, -1);
    DestroyMenu(menu);

    CxPackEntries empty;
    menu = AnchorMenu();
    EXPECT_EQ(CxAppendPackMenu(menu, empty, CX_ID_PACK_ANCHOR, -1, CX_ID_PACK_FIRST, CX_ID_PACK_SEPARATOR), S_FALSE);
    EXPECT_EQ(CxAppendPackMenu(menu, many, 4242, -1, CX_ID_PACK_FIRST, CX_ID_PACK_SEPARATOR), E_FAIL);
    DestroyMenu(menu);
    EXPECT_EQ(CxAppendPackMenu(menu, many, CX_ID_PACK_ANCHOR, -1, CX_ID_PACK_FIRST, CX_ID_PACK_SEPARATOR),
              E_INVALIDARG);
    EXPECT_EQ(CxAppendPackMenu(nullptr, many, CX_ID_PACK_ANCHOR, -1, CX_ID_PACK_FIRST, CX_ID_PACK_SEPARATOR),
              E_INVALIDARG);
}

TEST(CxPackMenuTest, ItemsAreDescribedByPlatform)
{
    for (DWORD platform : {CX_PLATFORM_NT5, CX_PLATFORM_NT4, CX_PLATFORM_WIN95, CX_PLATFORM_WIN98}) {
        CxForcePlatform(platform);
        CxPackEntries packs;
        packs.Add(MakePack(L"Gr\u00fcn", L"C:\\g.INI"));
        HMENU menu = AnchorMenu();
        EXPECT_EQ(CxAppendPackMenu(menu, packs, CX_ID_PACK_ANCHOR, -1, CX_ID_PACK_FIRST, CX_ID_PACK_SEPARATOR), S_OK);
        const std::vector<MenuItem> items = Items(menu);
        ASSERT_GE(items.size(), 2u);
        EXPECT_EQ(items[1].text, L"Gr\u00fcn");  // through the ANSI code page (1252 here)
        EXPECT_TRUE(items[1].radio);
        DestroyMenu(menu);
    }
    CxClearForcedPlatform();
}

// ---- The pack list on a window ----

class CxPackListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tree.Made()) << tree.Error();
        ASSERT_TRUE(wnd.Create());
        wnd.SetBuiltInPackFile(CX_BUILTIN_SKIN_SPEC);
        for (const wchar_t* f : {L"SKINS\\Blue\\BLUE.INI", L"SKINS\\Broken\\NOCOMMON.INI", L"SKINS\\Plain\\ZULU.INI",
                                 L"SKINS\\Plain\\ALPHA.INI", L"SKINS\\upper\\SKIN.INI"})
            wnd.extraFiles.push_back(tree.Path(f));
        g_applied.clear();
    }

    std::wstring Ini(const wchar_t* relative) const { return tree.Path(relative); }

    PackTree tree;
    PackWnd wnd;
};

TEST_F(CxPackListTest, BuildsTheListWithTheBuiltInPackFirstAndTheMenuAgainOnEachRebuild)
{
    ASSERT_EQ(wnd.Rebuild(FALSE), S_OK);
    std::vector<std::wstring> identities;
    for (int i = 0; i < wnd.GetPacks().GetCount(); ++i)
        identities.push_back(Text(wnd.GetPacks().ElementAt(i).IniPath()));
    // The built-in pack swaps places with the first file; the file without a description is left out.
    const std::vector<std::wstring> expected = {CX_BUILTIN_SKIN_SPEC, Ini(L"SKINS\\Plain\\ZULU.INI"),
                                                Ini(L"SKINS\\Plain\\ALPHA.INI"), Ini(L"SKINS\\upper\\SKIN.INI"),
                                                Ini(L"SKINS\\Blue\\BLUE.INI")};
    EXPECT_EQ(identities, expected);

    HMENU bar = CreateMenu();
    HMENU skins = AnchorMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(skins), L"Skins");
    EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_BUILDPACKMENU, reinterpret_cast<WPARAM>(bar), -1), 0);
    std::vector<MenuItem> items = Items(skins);
    const std::vector<std::wstring> sorted = {L"ALPHA", L"Blue", L"Default", L"Upper", L"ZULU"};
    EXPECT_EQ(Names(items), sorted);
    // The icons of a pack are its check marks.
    ASSERT_EQ(items[2].text, L"Blue");
    const HBITMAP blueOff = items[2].unchecked;
    ASSERT_NE(blueOff, nullptr);
    EXPECT_NE(items[2].checked, nullptr);
    BITMAP bm{};
    ASSERT_EQ(GetObjectW(blueOff, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(bm.bmBitsPixel, 32);
    EXPECT_EQ(items[1].unchecked, nullptr);  // ALPHA has no icons

    // A rebuild replaces the items (and frees their bitmaps) instead of adding more.
    EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_BUILDPACKMENU, reinterpret_cast<WPARAM>(bar), -1), 0);
    items = Items(skins);
    EXPECT_EQ(Names(items), sorted);
    EXPECT_EQ(items.size(), sorted.size() + 4);
    EXPECT_EQ(GetObjectType(blueOff), 0u) << "the old check-mark bitmap was not deleted";

    // The pinned position (low flag 0x40 and the second pack number) keeps its pack in place.
    wnd.SetSecondPack(0);
    wnd.SetLow(CXFL_PINSECONDPACK, 0);
    EXPECT_EQ(wnd.GetPinnedPosition(), 0);
    SendMessageW(wnd.m_hWnd, CXM_BUILDPACKMENU, reinterpret_cast<WPARAM>(bar), -1);
    EXPECT_EQ(Names(Items(skins)), (std::vector<std::wstring>{L"Default", L"ALPHA", L"Blue", L"Upper", L"ZULU"}));
    wnd.SetLow(0, CXFL_PINSECONDPACK);
    EXPECT_EQ(wnd.GetPinnedPosition(), -1);
    DestroyMenu(bar);
}

TEST_F(CxPackListTest, AnswersThePackQueries)
{
    HMENU skins = AnchorMenu();
    ASSERT_EQ(wnd.BuildPackMenu(skins, -1), S_OK);
    const CxPackEntries& packs = wnd.GetPacks();
    const std::wstring blue = Ini(L"SKINS\\Blue\\BLUE.INI");
    const int blueId = CxPackList::FindByText(packs, blue.c_str());
    EXPECT_EQ(blueId, static_cast<int>(CX_ID_PACK_FIRST + 1));  // second in the sorted menu
    std::wstring shouting = blue;
    std::transform(shouting.begin(), shouting.end(), shouting.begin(), ::towupper);
    EXPECT_EQ(CxPackList::FindByText(packs, shouting.c_str()), blueId);
    EXPECT_EQ(CxPackList::FindByText(packs, L"C:\\nothing.INI"), -1);
    EXPECT_EQ(CxPackList::FindByText(packs, nullptr), -1);
    wchar_t* text = CxPackList::GetTextById(packs, blueId);
    EXPECT_EQ(Text(text), blue);
    CxFree(text);
    EXPECT_EQ(CxPackList::GetTextById(packs, 4711), nullptr);
    EXPECT_EQ(CxPackList::GetTextById(packs, -1), nullptr);

    ASSERT_EQ(wnd.ApplySelectedSkin(blue.c_str(), -1), S_OK);
    EXPECT_EQ(wnd.GetCurrentPackId(), blueId);
    wnd.SetSecondPack(blueId);
    struct Case {
        CxPackTextRequest request;
        std::wstring expected;
    };
    const Case cases[] = {
        {{CX_PACKKEY_NAME, 0, blueId, 0}, L"Blue"},
        {{CX_PACKKEY_DSCR, 0, blueId, 0}, L"Deep blue skin"},
        {{CX_PACKKEY_PATH, 0, 0, CX_PACK_CURRENT}, tree.Path(L"SKINS\\Blue\\img")},
        {{CX_PACKKEY_PATH, 1, 0, CX_PACK_BUILTIN}, blue},
        {{CX_PACKKEY_ICON, 1, blueId, 0}, tree.Path(L"SKINS\\Blue\\on.ico")},
        {{CX_PACKKEY_ICON, 2, blueId, 0}, L""},   // past the elements
        {{CX_PACKKEY_COUNT, 0, blueId, 0}, L""},  // past the keys
        {{-1, 0, blueId, 0}, L""},
        {{CX_PACKKEY_NAME, -1, blueId, 0}, L""},
        {{CX_PACKKEY_NAME, 0, -1, 0}, L""},
        {{CX_PACKKEY_NAME, 0, 4711, 0}, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.request.key) + "/" + std::to_string(c.request.element) + "/" +
                     std::to_string(c.request.packId) + "/" + std::to_string(c.request.selector));
        CxString out(L"stale");
        EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_GETPACKTEXT, reinterpret_cast<WPARAM>(&c.request),
                               reinterpret_cast<LPARAM>(&out)),
                  1);
        EXPECT_EQ(Text(out), c.expected);
    }
    CxString out(L"stale");
    EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_GETPACKTEXT, 0, reinterpret_cast<LPARAM>(&out)), 1);
    EXPECT_TRUE(out.IsEmpty());
    wnd.SetSecondPack(-1);
    CxPackTextRequest second{CX_PACKKEY_NAME, 0, blueId, CX_PACK_BUILTIN};
    EXPECT_EQ(
        SendMessageW(wnd.m_hWnd, CXM_GETPACKTEXT, reinterpret_cast<WPARAM>(&second), reinterpret_cast<LPARAM>(&out)),
        1);
    EXPECT_TRUE(out.IsEmpty());

    wchar_t* skinFile = nullptr;
    EXPECT_NE(SendMessageW(wnd.m_hWnd, CXM_GETSKINFILE, reinterpret_cast<WPARAM>(&skinFile), 0), 0);
    EXPECT_EQ(Text(skinFile), blue);
    CxFree(skinFile);
    CxString builtIn;
    EXPECT_NE(SendMessageW(wnd.m_hWnd, CXM_GETPACKFILE, reinterpret_cast<WPARAM>(&builtIn), 0), 0);
    EXPECT_EQ(Text(builtIn), CX_BUILTIN_SKIN_SPEC);
    EXPECT_NE(
        SendMessageW(wnd.m_hWnd, CXM_ASKOWNER, reinterpret_cast<WPARAM>(L"main"), reinterpret_cast<LPARAM>(L"img")), 0);
    EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_ASKOWNER, reinterpret_cast<WPARAM>(L""), reinterpret_cast<LPARAM>(L"img")),
              0);
    DestroyMenu(skins);
}

TEST_F(CxPackListTest, AppliesAValidatedSkinToEveryDescendantAndThenToItself)
{
    HWND child = CreateWindowExW(0, RecordingClass(), L"", WS_CHILD, 0, 0, 10, 10, wnd.m_hWnd, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    HWND grandChild = CreateWindowExW(0, RecordingClass(), L"", WS_CHILD, 0, 0, 5, 5, child, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(grandChild, nullptr);
    HMENU skins = AnchorMenu();
    ASSERT_EQ(wnd.BuildPackMenu(skins, -1), S_OK);
    const std::wstring blue = Ini(L"SKINS\\Blue\\BLUE.INI");
    const std::wstring upper = Ini(L"SKINS\\upper\\SKIN.INI");

    struct Case {
        const char* what;
        std::wstring text;
        int id;
        std::wstring expected;
    };
    const Case cases[] = {
        {"a pack file", blue, -1, blue},
        {"menu item 60004 by id", L"", static_cast<int>(CX_ID_PACK_FIRST + 3), upper},  // fourth of the sorted menu
        {"a file that is gone", Ini(L"SKINS\\Blue\\GONE.INI"), -1, CX_BUILTIN_SKIN_SPEC},
        {"nothing", L"", -1, CX_BUILTIN_SKIN_SPEC},
        {"an unknown id", L"", 4711, CX_BUILTIN_SKIN_SPEC},
        {"a folder", Ini(L"SKINS\\Blue"), -1, CX_BUILTIN_SKIN_SPEC},
        {"a wildcard", Ini(L"SKINS\\Blue\\*.INI"), -1, CX_BUILTIN_SKIN_SPEC},
        {"another resource", L"?310,IMG", -1, CX_BUILTIN_SKIN_SPEC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_applied.clear();
        wnd.SetLow(CXFL_RESTOREPLACEMENT, 0);
        SendMessageW(wnd.m_hWnd, CXM_APPLYSELECTEDSKIN, reinterpret_cast<WPARAM>(c.text.c_str()), c.id);
        EXPECT_EQ(Text(wnd.GetCurrentSkinFile()), c.expected);
        EXPECT_EQ(wnd.GetCurrentPackId(), CxPackList::FindByText(wnd.GetPacks(), c.expected.c_str()));
        ASSERT_EQ(g_applied.size(), 3u);
        EXPECT_EQ(g_applied[0].window, child);
        EXPECT_EQ(g_applied[1].window, grandChild);
        EXPECT_EQ(g_applied[2].window, wnd.m_hWnd);
        for (const Applied& a : g_applied)
            EXPECT_EQ(a.file, c.expected);
        DWORD flags[2] = {};
        SendMessageW(wnd.m_hWnd, CXM_GETFLAGS, reinterpret_cast<WPARAM>(flags), 0);
        EXPECT_EQ(flags[0] & CXFL_RESTOREPLACEMENT, 0u);
    }
    EXPECT_EQ(wnd.GetCurrentPackId(), static_cast<int>(CX_ID_PACK_FIRST + 2));  // "Default"

    // Without a built-in pack an invalid file changes nothing and nothing is sent.
    wnd.SetBuiltInPackFile(nullptr);
    ASSERT_EQ(wnd.ApplySelectedSkin(blue.c_str(), -1), S_OK);
    g_applied.clear();
    EXPECT_EQ(wnd.ApplySelectedSkin(L"C:\\gone\\GONE.INI", -1), E_FAIL);
    EXPECT_EQ(Text(wnd.GetCurrentSkinFile()), blue);
    EXPECT_TRUE(g_applied.empty());
    DestroyMenu(skins);
}

TEST_F(CxPackListTest, AcceptsASkinFileWhateverItsAttributeBits)
{
    const std::wstring file = Ini(L"SKINS\\Blue\\BLUE.INI");
    const DWORD cases[] = {
        FILE_ATTRIBUTE_NORMAL,   FILE_ATTRIBUTE_ARCHIVE,
        FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN,
        FILE_ATTRIBUTE_SYSTEM,   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE};
    for (DWORD attributes : cases) {
        SCOPED_TRACE(attributes);
        ASSERT_TRUE(SetFileAttributesW(file.c_str(), attributes));
        CxString text(file.c_str());
        EXPECT_EQ(wnd.ValidateSkinFile(text), S_OK);
        EXPECT_EQ(Text(text), file);
        EXPECT_EQ(CxPackList::HasFiles(file.c_str(), ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)), S_OK);
    }
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(CxPackList::HasFiles(file.c_str(), FILE_ATTRIBUTE_READONLY), E_NOTIMPL);
    EXPECT_EQ(CxPackList::HasFiles(Ini(L"SKINS\\Blue").c_str(), FILE_ATTRIBUTE_DIRECTORY), S_OK);
    EXPECT_EQ(CxPackList::HasFiles(Ini(L"SKINS\\Blue\\*.ico").c_str(), ~0u), S_OK);
    EXPECT_EQ(CxPackList::HasFiles(Ini(L"SKINS\\Blue\\*.bmp").c_str(), ~0u), E_NOTIMPL);
    EXPECT_EQ(CxPackList::HasFiles(nullptr, ~0u), E_NOTIMPL);
    EXPECT_EQ(CxPackList::HasFiles(L"", ~0u), E_NOTIMPL);
}

// ---- The remembered skin across runs of a program ----

// Runs a program copied into the fixture tree (so its SKINS and LANGUAGES are the fixture's) with the
// report file as its second argument, and returns its report lines; empty when it could not run.
std::vector<std::string> RunBeside(const PackTree& tree, const char* relative, const std::wstring& before,
                                   const std::wstring& after)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path source = (std::filesystem::path(self).parent_path() / relative).lexically_normal();
    const std::filesystem::path exe = tree.Root() / source.filename();
    if (!std::filesystem::exists(exe) && !CopyFileW(source.c_str(), exe.c_str(), TRUE))
        return {};
    const std::filesystem::path report = tree.Root() / L"report.txt";
    DeleteFileW(report.c_str());
    std::wstring commandLine = L"\"" + exe.wstring() + L"\" " + before + L" \"" + report.wstring() + L"\"" + after;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return {};
    CloseHandle(info.hThread);
    if (WaitForSingleObject(info.hProcess, 120000) != WAIT_OBJECT_0)
        TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hProcess);
    std::ifstream in(report, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return Lines(text.str());
}

std::vector<std::string> RunPackApp(const PackTree& tree, const std::wstring& key, const std::wstring& choice)
{
    return RunBeside(tree, KWEP_PACK_APP_RELATIVE, key, choice.empty() ? L"" : L" \"" + choice + L"\"");
}

std::vector<std::string> Prefixed(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line.substr(prefix.size()));
    }
    return out;
}

TEST(CxPackSkinTest, TheChosenSkinIsRememberedAcrossRunsAndReplacedWhenItsFileIsGone)
{
    PackTree tree;
    ASSERT_TRUE(tree.Made()) << tree.Error();
    const wchar_t kKey[] = L"software\\KwepTest\\Packs\\remember";
    const std::string toolKey = "HKCU\\software\\KwepTest\\Packs\\remember";
    registry_tool::DeleteTree(HKEY_CURRENT_USER, kKey);
    const std::string blue = Narrow(tree.Path(L"SKINS\\Blue\\BLUE.INI"));

    // First run: nothing remembered, so the built-in skin; the user picks "Blue" from the menu.
    std::vector<std::string> report = RunPackApp(tree, L"remember", L"Blue");
    ASSERT_FALSE(report.empty());
    const std::vector<std::string> menu = Prefixed(report, "menu ");
    std::vector<std::string> names;
    for (const std::string& item : menu)
        names.push_back(item.substr(item.find(' ') + 1).substr(0, 12));
    EXPECT_EQ(names, (std::vector<std::string>{"ALPHA", "Amber", "Bad numbers", "Blue", "Default", std::string(12, 'L'),
                                               "Upper", "ZULU"}));
    EXPECT_EQ(menu.front().substr(0, 6), "60001 ");
    EXPECT_EQ(Prefixed(report, "language "), (std::vector<std::string>{"Deutsch"}));
    EXPECT_EQ(Prefixed(report, "current "), (std::vector<std::string>{"?139,INI", blue}));
    EXPECT_EQ(Prefixed(report, "id "), (std::vector<std::string>{"60005", "60004"}));
    EXPECT_EQ(Prefixed(report, "probe "), (std::vector<std::string>{"", "11,12,13,14"}));
    EXPECT_EQ(report.back(), "exit");
    EXPECT_EQ(registry_tool::Query(toolKey, "Skin"), blue);

    // Second run: the remembered skin is applied at start.
    report = RunPackApp(tree, L"remember", L"");
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(Prefixed(report, "current "), (std::vector<std::string>{blue}));
    EXPECT_EQ(Prefixed(report, "id "), (std::vector<std::string>{"60004"}));
    EXPECT_EQ(Prefixed(report, "probe "), (std::vector<std::string>{"11,12,13,14"}));

    // Third run: the pack is gone, so the built-in skin takes its place and is remembered instead.
    ASSERT_TRUE(DeleteFileW(tree.Path(L"SKINS\\Blue\\BLUE.INI").c_str()));
    report = RunPackApp(tree, L"remember", L"");
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(Prefixed(report, "current "), (std::vector<std::string>{"?139,INI"}));
    EXPECT_EQ(Prefixed(report, "probe "), (std::vector<std::string>{""}));
    EXPECT_EQ(registry_tool::Query(toolKey, "Skin"), "?139,INI");
    registry_tool::DeleteTree(HKEY_CURRENT_USER, kKey);
}

// ---- The main dialog base on the X display ----

// The main dialog program driven through its menus: the "Blue" skin paints its frame where the pack's
// image says and its status colour in the status bar, the tool tips go off, and the language's greeting
// shows in that colour; every step is captured from the X display into artefacts/. A restart finds the
// skin and the tool-tip switch where the first run left them.
TEST(CxMainDialogScreenTest, MenusSwitchSkinToolTipsAndLanguageAndARestartKeepsThem)
{
    ASSERT_TRUE(test_support::HostHasProgram("xwd"));
    ASSERT_TRUE(test_support::HostHasProgram("xdotool"));
    PackTree tree;
    ASSERT_TRUE(tree.Made()) << tree.Error();
    const wchar_t kKey[] = L"software\\KwepTest\\MainApp";
    const std::string toolKey = "HKCU\\software\\KwepTest\\MainApp";
    registry_tool::DeleteTree(HKEY_CURRENT_USER, kKey);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path artefacts = std::filesystem::path(self).parent_path() / L"artefacts";
    std::filesystem::create_directories(artefacts);
    const std::wstring where = L" \"" + artefacts.wstring() + L"\"";
    const std::string blue = Narrow(tree.Path(L"SKINS\\Blue\\BLUE.INI"));

    std::vector<std::string> report = RunBeside(tree, KWEP_MAIN_APP_RELATIVE, L"first", where + L" drive");
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.back(), "exit");
    EXPECT_EQ(Prefixed(report, "tooltips "), (std::vector<std::string>{"on", "off"}));
    EXPECT_EQ(Prefixed(report, "skin "), (std::vector<std::string>{"?139,INI", blue}));
    EXPECT_EQ(Prefixed(report, "status "), (std::vector<std::string>{"Hallo Welt, hier bin ich"}));
    EXPECT_EQ(Prefixed(report, "probe "), (std::vector<std::string>{"answered"}));
    auto step = [&](const std::string& name) {
        const std::vector<std::string> found = Prefixed(report, "capture " + name + " ");
        std::vector<int> values;
        if (found.size() == 1) {
            std::istringstream in(found[0]);
            for (int v; in >> v;)
                values.push_back(v);
        }
        EXPECT_EQ(values.size(), 4u) << name << ": " << (found.empty() ? "no capture" : found[0]);
        values.resize(4);
        return values;
    };
    const std::vector<int> start = step("start");
    const std::vector<int> skin = step("skin");
    const std::vector<int> tips = step("tooltips");
    const std::vector<int> language = step("language");
    // The built-in frame's face is not the pack's blue; after the switch the centre is the pack's face.
    EXPECT_NE((std::vector<int>{start[0], start[1], start[2]}), (std::vector<int>{0, 0, 200}));
    EXPECT_EQ((std::vector<int>{skin[0], skin[1], skin[2]}), (std::vector<int>{0, 0, 200}));
    EXPECT_EQ((std::vector<int>{tips[0], tips[1], tips[2]}), (std::vector<int>{0, 0, 200}));
    // No text in the status colour until the greeting is shown.
    EXPECT_EQ(start[3], 0);
    EXPECT_EQ(skin[3], 0);
    EXPECT_GT(language[3], 20);
    EXPECT_EQ(registry_tool::Query(toolKey, "ToolTips").find("8000000"), 0u);
    EXPECT_EQ(registry_tool::Query(toolKey + "\\d_0000012e", "Skin"), blue);

    report = RunBeside(tree, KWEP_MAIN_APP_RELATIVE, L"second", where);
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(Prefixed(report, "tooltips "), (std::vector<std::string>{"off"}));
    EXPECT_EQ(Prefixed(report, "skin "), (std::vector<std::string>{blue}));
    registry_tool::DeleteTree(HKEY_CURRENT_USER, kKey);
}

}  // namespace
