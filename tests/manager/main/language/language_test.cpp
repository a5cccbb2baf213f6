// The language tables and menus: the INI reading of language files, the key tables, the format guard,
// the menu helpers and the manager in this process (no LANGUAGES folder beside this program), then the
// test host started from a copy beside a LANGUAGES fixture: the Language menu, switching, the tables
// compared with Python's configparser, the remembered "Language" read with Wine's `reg`, and lookups
// from worker threads while the languages change.
#include "manager/main/language/ini_text.h"
#include "manager/main/language/language_keys.h"
#include "manager/main/language/language_manager.h"
#include "tests/manager/registry_tool.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
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

std::wstring Text(const wchar_t* text)
{
    return text != nullptr ? text : L"";
}

// ---- INI reading ----

struct KeyCase {
    const wchar_t* name;  // the case, for failure messages
    const wchar_t* text;  // the file's text as IniLoadText leaves it
    const wchar_t* section;
    UINT number;
    const wchar_t* key;  // a named key instead of the number
    HRESULT result;
    const wchar_t* value;
};

TEST(LanguageIniTest, SectionsAndKeysAreFoundByTheReadersOwnRules)
{
    const wchar_t* file =
        L"\n[common]\nname=English\n1=common one\n"
        L"\n[translation]\n1=one\n11=eleven\n2=\n3= blanks kept \n4=first\n4=second\n65=end of line"
        L"\n[menu.main]\nfile.newfolder=&New Folder\nfile=&File\n5=five";
    const KeyCase cases[] = {
        {L"numeric key", file, L"translation", 1, nullptr, S_OK, L"one"},
        {L"a longer number is another key", file, L"translation", 11, nullptr, S_OK, L"eleven"},
        {L"only the low 16 bits of a number", file, L"translation", 0x10000 + 11, nullptr, S_OK, L"eleven"},
        {L"empty value", file, L"translation", 2, nullptr, E_FAIL, nullptr},
        {L"blanks kept", file, L"translation", 3, nullptr, S_OK, L" blanks kept "},
        {L"first of duplicates", file, L"translation", 4, nullptr, S_OK, L"first"},
        {L"value ends at the line feed", file, L"translation", 65, nullptr, S_OK, L"end of line"},
        {L"section ends at the next section", file, L"translation", 5, nullptr, E_FAIL, nullptr},
        {L"key of another section", file, L"common", 11, nullptr, E_FAIL, nullptr},
        {L"named key", file, L"menu.main", 0, L"file.newfolder", S_OK, L"&New Folder"},
        {L"named key that is a prefix of another", file, L"menu.main", 0, L"file", S_OK, L"&File"},
        {L"last section runs to the end", file, L"menu.main", 5, nullptr, S_OK, L"five"},
        {L"section names match whole", file, L"menu", 5, nullptr, E_FAIL, nullptr},
        {L"missing section", file, L"menu.pc.list", 5, nullptr, E_FAIL, nullptr},
        {L"key on the first line needs the leading line feed", L"1=x\n2=y", nullptr, 1, nullptr, E_FAIL, nullptr},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(testing::Message() << Text(c.name));
        std::wstring_view body = c.text;
        HRESULT hr = S_OK;
        if (c.section != nullptr)
            hr = IniFindSection(c.text, c.section, &body);
        CxString value;
        if (SUCCEEDED(hr))
            hr = c.key != nullptr ? IniFindKey(body, c.key, &value) : IniFindKey(body, c.number, &value);
        EXPECT_EQ(hr, c.result);
        EXPECT_EQ(Text(value), Text(c.value));
    }
    CxString value;
    EXPECT_EQ(IniFindKey(L"\n1=" + std::wstring(kIniMaxValueChars, L'x'), 1, &value), S_OK);
    EXPECT_EQ(value.GetLength(), static_cast<int>(kIniMaxValueChars));
    EXPECT_EQ(IniFindKey(L"\n1=" + std::wstring(kIniMaxValueChars + 1, L'x'), 1, &value), E_FAIL);
    EXPECT_TRUE(value.IsEmpty());
}

TEST(LanguageIniTest, EscapesAreRewrittenOnlyInAValueThatHasOne)
{
    const struct {
        const wchar_t* value;
        const wchar_t* expected;
    } cases[] = {
        {L"Go to parent folder\\nUp Level", L"Go to parent folder\nUp Level"},
        {L"KWEP\\t&Internal Memory", L"KWEP\t&Internal Memory"},
        {L"C:\\Program Files\\KWEP", L"C:\\Program Files\\KWEP"},  // no escape: kept as written
        {L"\\\\server\\share", L"\\\\server\\share"},
        {L"a\\\\b\\nc", L"a\\b\nc"},  // with an escape, a backslash keeps the character after it
        {L"C:\\new\\dir", L"C:\newdir"},
        {L"x\\ty\\", L"x\ty\\"},  // a last lone backslash stays
        {L"plain", L"plain"},
    };
    for (const auto& c : cases) {
        CxString out;
        EXPECT_EQ(IniUnescape(c.value, &out), S_OK) << Text(c.value);
        EXPECT_EQ(Text(out), Text(c.expected)) << Text(c.value);
    }
}

TEST(LanguageIniTest, FilesAndResourcesLoadAsOneTextWithLineFeeds)
{
    CIniText text;
    EXPECT_EQ(IniLoadText(L"", &text), E_UNEXPECTED);
    EXPECT_EQ(IniLoadText(nullptr, &text), E_UNEXPECTED);
    TempFolder folder;
    EXPECT_EQ(IniLoadText(folder.File(L"missing.ini").c_str(), &text), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    {
        std::ofstream out(folder.File(L"crlf.ini"), std::ios::binary);
        out << "[translation]\r\n1=one\r\n2=two\rlast=x";
    }
    ASSERT_EQ(IniLoadText(folder.File(L"crlf.ini").c_str(), &text), S_OK);
    EXPECT_EQ(std::wstring(text.View()), L"\n[translation]\n\n1=one\n\n2=two\nlast=x");
    {
        std::ofstream out(folder.File(L"big.ini"), std::ios::binary);
        out << std::string(kIniMaxFileBytes + 1, 'x');
    }
    EXPECT_EQ(IniLoadText(folder.File(L"big.ini").c_str(), &text), HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
    // This program's built-in language file.
    CxString location;
    ASSERT_EQ(CLanguageManager::BuildResourceLocation(kBuiltInLanguageResource, L"INI", &location, nullptr), S_OK);
    ASSERT_EQ(IniLoadText(location, &text), S_OK);
    std::wstring_view body;
    ASSERT_EQ(IniFindSection(text.View(), L"common", &body), S_OK);
    CxString name;
    EXPECT_EQ(IniFindKey(body, L"name", &name), S_OK);
    EXPECT_EQ(Text(name), L"English (U.K.)");
    EXPECT_EQ(text.View().find(L'\r'), std::wstring_view::npos);
    EXPECT_TRUE(FAILED(IniLoadText(L"?9999,INI", &text)));
}

TEST(LanguageIniTest, ResourceLocationsNameTheProgramIdAndType)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    CxString location;
    EXPECT_EQ(CLanguageManager::BuildResourceLocation(140, L"INI", &location, nullptr), S_OK);
    EXPECT_EQ(Text(location), std::wstring(self) + L"?140,INI");
    EXPECT_EQ(CLanguageManager::BuildResourceLocation(7, 23u, &location, L"C:\\x.dll"), S_OK);
    EXPECT_EQ(Text(location), L"C:\\x.dll?7,23");
}

// ---- Key tables ----

TEST(LanguageKeysTest, GroupsHoldTheTextIdsAndMenuKeys)
{
    CLanguageKeyTables tables;
    ASSERT_EQ(BuildLanguageKeyTables(&tables), S_OK);
    const struct {
        const wchar_t* section;
        UINT menu;
        int count;
        int popups;
    } groups[] = {{L"translation", 0, 303, 0},
                  {L"menu.main", kMainMenuId, 35, 9},
                  {L"menu.pc.list", kPcListMenuId, 10, 0},
                  {L"menu.kwep.list", kPlayerListMenuId, 10, 0},
                  {L"menu.play.list", kPlayListMenuId, 19, 1}};
    for (int g = 0; g < kLanguageGroupCount; ++g) {
        const CLanguageKeyGroup& group = tables.groups[g];
        EXPECT_EQ(Text(group.section), Text(groups[g].section));
        EXPECT_EQ(group.menu, groups[g].menu);
        ASSERT_EQ(group.keys.GetCount(), groups[g].count) << Text(group.section);
        std::set<UINT> items;
        int popups = 0;
        for (int i = 0; i < group.keys.GetCount(); ++i) {
            const CLanguageKey& key = group.keys.ElementAt(i);
            items.insert(key.item);
            if (key.item >= kPopupItemBase) {
                EXPECT_EQ(key.item, kPopupItemBase + static_cast<UINT>(popups)) << "popups in depth-first order";
                EXPECT_NE(key.name, nullptr);
                ++popups;
            } else if (g != 0) {
                EXPECT_EQ(key.number, key.item);
            }
        }
        EXPECT_EQ(popups, groups[g].popups);
        EXPECT_EQ(static_cast<int>(items.size()), groups[g].count) << "one entry per item";
    }
    const CLanguageKeyGroup& text = tables.groups[0];
    EXPECT_EQ(text.keys.ElementAt(0).item, 1u);
    EXPECT_EQ(text.keys.ElementAt(302).item, 4234u);
    const std::vector<std::pair<UINT, UINT>> remapped = {{1131, 62362}, {1190, 1188}, {1196, 1191}, {1197, 1189},
                                                         {1198, 1192},  {1199, 1193}, {1200, 1194}, {1201, 1195}};
    std::vector<std::pair<UINT, UINT>> found;
    for (int i = 0; i < text.keys.GetCount(); ++i) {
        const CLanguageKey& key = text.keys.ElementAt(i);
        EXPECT_EQ(key.name, nullptr);
        if (key.number != key.item)
            found.emplace_back(key.item, key.number);
    }
    EXPECT_EQ(found, remapped);
    const CLanguageKeyGroup& main = tables.groups[1];
    EXPECT_EQ(Text(main.keys.ElementAt(6).name), L"options.language");
    EXPECT_EQ(Text(tables.groups[4].keys.ElementAt(0).name), L"volume");
}

// ---- The format guard ----

TEST(LanguageFormatTest, APackFormatIsTakenOnlyWithTheBuiltInConversions)
{
    const struct {
        UINT id;
        const wchar_t* builtIn;
        const wchar_t* pack;
        BOOL taken;
    } cases[] = {
        {62319, L"Copying %s to %s", L"Kopiere %s nach %s", TRUE},
        {62319, L"Copying %s to %s", L"Kopiere %s", FALSE},
        {62319, L"Copying %s to %s", L"Kopiere %s nach %s %n", FALSE},
        {62320, L"%d of %d files", L"%s von %d", FALSE},
        {62320, L"%d of %d files", L"%d von %d (100%%)", TRUE},
        {62530, L"%lu KB", L"%u KB", FALSE},
        {62530, L"%lu KB", L"%-8lu KB", FALSE},              // conversions compared as written
        {62521, L"no conversion in English", L"%s", FALSE},  // a named format id
        {62521, L"no conversion in English", L"keine", TRUE},
        {1000, L"%d files", L"%d Dateien", TRUE},  // any id whose built-in text is a format
        {1000, L"%d files", L"%s Dateien", FALSE},
        {1000, L"%d files", L"% Dateien", FALSE},     // an unfinished conversion
        {1000, L"plain text", L"100% sicher", TRUE},  // a plain text may hold a '%'
        {1000, nullptr, L"%s", FALSE},                // no built-in text to compare with
        {1000, nullptr, L"frei", TRUE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSafeTranslation(c.id, c.builtIn, c.pack), c.taken) << c.id << " " << Text(c.pack);
}

// ---- Menus ----

class MenuTest : public testing::Test {
protected:
    void SetUp() override { m_menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMainMenuId)); }
    void TearDown() override { DestroyMenu(m_menu); }
    static std::wstring ItemText(HMENU menu, UINT item, UINT flags)
    {
        wchar_t text[256] = {};
        GetMenuStringW(menu, item, text, 255, flags);
        return text;
    }
    HMENU m_menu = nullptr;
};

TEST_F(MenuTest, PopupsAreCountedDepthFirst)
{
    ASSERT_NE(m_menu, nullptr);
    const wchar_t* names[] = {L"File", L"New Folder", L"Memory", L"Tools", L"Option",
                              L"Skin", L"Language",   L"Layout", L"Help"};
    for (int i = 0; i < 9; ++i) {
        int position = -1;
        HMENU holder = CLanguageManager::FindPopupByIndex(m_menu, i, &position);
        ASSERT_NE(holder, nullptr) << i;
        EXPECT_EQ(ItemText(holder, static_cast<UINT>(position), MF_BYPOSITION), names[i]);
    }
    int position = 5;
    EXPECT_EQ(CLanguageManager::FindPopupByIndex(m_menu, 9, &position), nullptr);
    EXPECT_EQ(position, -1);
    EXPECT_EQ(CLanguageManager::FindPopupByIndex(m_menu, -1, &position), nullptr);
    EXPECT_EQ(CLanguageManager::FindPopupByIndex(nullptr, 0, &position), nullptr);
}

TEST_F(MenuTest, ItemTextsAreSetByCommandOrPositionKeepingTheirType)
{
    ASSERT_NE(m_menu, nullptr);
    EXPECT_EQ(CLanguageManager::SetMenuItemText(m_menu, 4121, FALSE, L"KWEP\t&Internal Memory"), S_OK);
    EXPECT_EQ(ItemText(m_menu, 4121, MF_BYCOMMAND), L"KWEP\t&Internal Memory");
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE;
    info.fType = MFT_STRING | MFT_RADIOCHECK;
    ASSERT_TRUE(SetMenuItemInfoW(m_menu, 32923, FALSE, &info));
    EXPECT_EQ(CLanguageManager::SetMenuItemText(m_menu, 32923, FALSE, L"Karte"), S_OK);
    info.fType = 0;
    ASSERT_TRUE(GetMenuItemInfoW(m_menu, 32923, FALSE, &info));
    EXPECT_TRUE(info.fType & MFT_RADIOCHECK);
    EXPECT_EQ(ItemText(m_menu, 32923, MF_BYCOMMAND), L"Karte");
    EXPECT_EQ(CLanguageManager::SetMenuItemText(m_menu, 1, TRUE, L"Speicher"), S_OK);
    EXPECT_EQ(ItemText(m_menu, 1, MF_BYPOSITION), L"Speicher");
    EXPECT_NE(GetSubMenu(m_menu, 1), nullptr) << "the popup keeps its submenu";
    HMENU file = GetSubMenu(m_menu, 0);
    EXPECT_EQ(CLanguageManager::SetMenuItemText(file, 2, TRUE, L"x"), E_FAIL) << "a separator has no text";
    EXPECT_EQ(CLanguageManager::SetMenuItemText(m_menu, 999, FALSE, L"x"), E_FAIL);
    EXPECT_EQ(CLanguageManager::SetMenuItemText(m_menu, 4121, FALSE, nullptr), E_INVALIDARG);
    EXPECT_EQ(CLanguageManager::SetMenuItemText(nullptr, 4121, FALSE, L"x"), E_INVALIDARG);
}

// ---- The manager in this process ----

// A plain top-level window with the test main menu.
class PlainHost : public CLanguageHost {
public:
    PlainHost(UINT menuId)
    {
        const wchar_t* cls = RegisterTestWindowClass(L"KwepLanguagePlainHost", &DefWindowProcW);
        m_menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId));
        m_wnd = CreateWindowExW(0, cls, L"plain", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, m_menu,
                                GetModuleHandleW(nullptr), nullptr);
    }
    ~PlainHost()
    {
        DestroyWindow(m_wnd);
        if (m_context != nullptr)
            DestroyMenu(m_context);
    }
    HWND GetLanguageWindow() override { return m_wnd; }
    HMENU GetLanguageMenu(UINT menuId) override
    {
        if (menuId == kMainMenuId)
            return GetMenu(m_wnd);
        if (menuId != kPlayListMenuId)
            return nullptr;
        if (m_context == nullptr)
            m_context = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPlayListMenuId));
        return m_context;
    }
    BOOL AreMenusLocked() override { return FALSE; }
    void TranslateWindowTexts() override { m_order += L"w"; }
    void RebuildPaneTexts() override { m_order += L"p"; }

    HWND m_wnd = nullptr;
    HMENU m_menu = nullptr;
    HMENU m_context = nullptr;
    std::wstring m_order;
};

TEST(LanguageManagerTest, WithoutPacksTheLanguageMenuHoldsTheBuiltInFile)
{
    std::error_code error;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_FALSE(std::filesystem::exists(std::filesystem::path(self).parent_path() / L"LANGUAGES", error));
    PlainHost host(kMainMenuId);
    ASSERT_NE(host.m_wnd, nullptr);
    CLanguageManager language(host);
    ASSERT_EQ(language.InitLanguage(), S_OK);
    // Nothing loaded: the string table answers, or nothing.
    CxString text;
    EXPECT_TRUE(language.LookupTranslation(text, 5000));
    EXPECT_EQ(Text(text), L"From the string table");
    EXPECT_FALSE(language.LookupTranslation(text, 1190));
    EXPECT_TRUE(text.IsEmpty());

    ASSERT_EQ(language.RebuildLanguageMenu(), S_OK);
    int position = -1;
    HMENU holder = CLanguageManager::FindPopupByIndex(host.m_menu, 6, &position);
    ASSERT_NE(holder, nullptr);
    HMENU popup = GetSubMenu(holder, position);
    ASSERT_EQ(GetMenuItemCount(popup), 3);
    EXPECT_EQ(GetMenuItemID(popup, 0), CX_ID_LANGUAGE_FIRST);
    wchar_t name[64] = {};
    GetMenuStringW(popup, 0, name, 63, MF_BYPOSITION);
    EXPECT_STREQ(name, L"English (U.K.)");
    EXPECT_EQ(GetMenuItemID(popup, 1), kIdLanguageSeparator);
    EXPECT_TRUE(GetMenuState(popup, 1, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(GetMenuItemID(popup, 2), kIdRebuildLanguageList);
    // A second rebuild replaces the items instead of adding to them.
    ASSERT_EQ(language.RebuildLanguageMenu(), S_OK);
    EXPECT_EQ(GetMenuItemCount(popup), 3);

    // Selecting the built-in file translates the menus, the window's texts first and the panes last.
    EXPECT_EQ(language.SelectLanguage(nullptr, static_cast<int>(CX_ID_LANGUAGE_FIRST)), 1);
    LRESULT result = 0;
    CxString location;
    ASSERT_TRUE(language.ProcessLanguageMessage(CXM_GETLANGUAGE, reinterpret_cast<WPARAM>(&location), 0, result));
    EXPECT_EQ(Text(location), Text(language.GetBuiltInLanguage()));
    EXPECT_EQ(language.GetCurrentLanguageCommand(), static_cast<int>(CX_ID_LANGUAGE_FIRST));
    // CXM_TRANSLATE reaches only the window here: nothing answers it, so translate directly.
    ASSERT_TRUE(language.ProcessLanguageMessage(CXM_TRANSLATE, reinterpret_cast<WPARAM>(language.GetBuiltInLanguage()),
                                                0, result));
    EXPECT_EQ(host.m_order, L"wp");
    EXPECT_TRUE(language.LookupTranslation(text, 1190));
    EXPECT_EQ(Text(text), L"Play Mode") << "1190 reads key 1188";
    EXPECT_TRUE(language.LookupTranslation(text, 1131));
    EXPECT_EQ(Text(text), L"Update") << "1131 reads key 62362";
    EXPECT_TRUE(language.LookupTranslation(text, 62264));
    EXPECT_EQ(Text(text), L"Go to parent folder\nUp Level");
    EXPECT_TRUE(language.LookupTranslation(text, 62265));
    EXPECT_EQ(Text(text), L"C:\\Program Files\\KWEP");
    wchar_t title[64] = {};
    GetWindowTextW(host.m_wnd, title, 63);
    EXPECT_STREQ(title, L"KWEP Manager 2");
    wchar_t item[64] = {};
    GetMenuStringW(host.m_menu, 4121, item, 63, MF_BYCOMMAND);
    EXPECT_STREQ(item, L"KWEP\t&Internal Memory");
    GetMenuStringW(holder, static_cast<UINT>(position), item, 63, MF_BYPOSITION);
    EXPECT_STREQ(item, L"&Language");
    ASSERT_NE(GetSubMenu(host.GetLanguageMenu(kPlayListMenuId), 1), nullptr);
    GetMenuStringW(host.GetLanguageMenu(kPlayListMenuId), 1, item, 63, MF_BYPOSITION);
    EXPECT_STREQ(item, L"&Volume") << "popup 0 of a context menu";

    // The pack text request.
    const struct {
        CxPackTextRequest request;
        HRESULT result;
        const wchar_t* text;
    } asks[] = {
        {{CX_PACKKEY_NAME, 0, static_cast<int>(CX_ID_LANGUAGE_FIRST), 0}, S_OK, L"English (U.K.)"},
        {{CX_PACKKEY_DSCR, 0, static_cast<int>(CX_ID_LANGUAGE_FIRST), 0}, S_OK, L"The built-in language"},
        {{CX_PACKKEY_NAME, 0, -1, 0}, E_INVALIDARG, nullptr},
        {{CX_PACKKEY_NAME, 0, 60300, 0}, S_FALSE, nullptr},
        {{CX_PACKKEY_NAME, 0, -1, 1}, S_OK, L"English (U.K.)"},  // the current language's
        {{CX_PACKKEY_NAME, 0, -1, 2}, S_FALSE, nullptr},         // the built-in index, 0: no pack has that id
        {{CX_PACKKEY_PATH, 1, static_cast<int>(CX_ID_LANGUAGE_FIRST), 0}, S_OK, language.GetBuiltInLanguage()},
    };
    for (const auto& a : asks) {
        CxString answer(L"stale");
        ASSERT_TRUE(language.ProcessLanguageMessage(CXM_GETLANGUAGETEXT, reinterpret_cast<WPARAM>(&a.request),
                                                    reinterpret_cast<LPARAM>(&answer), result));
        EXPECT_EQ(static_cast<HRESULT>(result), a.result) << a.request.packId << " " << a.request.selector;
        EXPECT_EQ(Text(answer), Text(a.text)) << a.request.packId << " " << a.request.selector;
    }
}

TEST(LanguageManagerTest, AMenuWithoutRebuildListIsNotALanguageMenu)
{
    PlainHost host(kPcListMenuId);
    CLanguageManager language(host);
    ASSERT_EQ(language.InitLanguage(), S_OK);
    EXPECT_EQ(language.RebuildLanguageMenu(), E_NOTIMPL);
    EXPECT_EQ(language.LoadLanguageFile(L"", CLanguageKeyTables{}, FALSE), E_UNEXPECTED);
    CLanguageKeyTables keys;
    ASSERT_EQ(BuildLanguageKeyTables(&keys), S_OK);
    // A missing file leaves the tables as they were.
    ASSERT_EQ(language.LoadLanguageFile(language.GetBuiltInLanguage(), keys, FALSE), S_OK);
    EXPECT_TRUE(FAILED(language.LoadLanguageFile(L"C:\\no such folder\\NONE.INI", keys, FALSE)));
    CxString text;
    EXPECT_TRUE(language.FindLoadedText(text, 62622));
    EXPECT_EQ(Text(text), L"KWEP Manager 2");
}

// ---- The test host beside the fixture packs ----

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

std::vector<std::string> Prefixed(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line.substr(prefix.size()));
    }
    return out;
}

std::string Hex(const std::string& utf8)
{
    std::string out;
    char pair[3];
    for (unsigned char c : utf8) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        out += pair;
    }
    return out;
}

std::string Narrow(const std::wstring& text)
{
    return registry_tool::Narrow(text);
}

class LanguageHostTest : public testing::Test {
protected:
    static constexpr wchar_t kKey[] = L"software\\KwepTest\\LanguageHost";
    static constexpr char kToolKey[] = "HKCU\\software\\KwepTest\\LanguageHost\\d_00000066";

    void SetUp() override
    {
        const ShellResult r = RunShell(ShellQuote(kPython) + " " + ShellQuote(KWEP_LANGUAGE_PACKS_SCRIPT) + " packs " +
                                       ShellQuote(UnixPath(m_folder.Path())));
        ASSERT_TRUE(r.finished && r.exitCode == 0) << r.err;
        registry_tool::DeleteTree(HKEY_CURRENT_USER, kKey);
        m_deutsch = (m_folder.Path() / L"LANGUAGES\\Deutsch\\DEUTSCH.INI").wstring();
        m_menus = (m_folder.Path() / L"LANGUAGES\\MENUS.INI").wstring();
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        const std::filesystem::path source =
            (std::filesystem::path(self).parent_path() / KWEP_LANGUAGE_HOST_RELATIVE).lexically_normal();
        m_exe = m_folder.Path() / source.filename();
        ASSERT_TRUE(CopyFileW(source.c_str(), m_exe.c_str(), TRUE));
        const std::filesystem::path resSource =
            (std::filesystem::path(self).parent_path() / KWEP_LANGUAGE_HOST_RES_RELATIVE).lexically_normal();
        m_exeRes = m_folder.Path() / resSource.filename();
        ASSERT_TRUE(CopyFileW(resSource.c_str(), m_exeRes.c_str(), TRUE));
    }
    void TearDown() override { registry_tool::DeleteTree(HKEY_CURRENT_USER, kKey); }

    // Runs the host with the steps and returns its report lines; the last is "exit" when it ended well.
    std::vector<std::string> Run(const std::wstring& steps) { return Run(steps, m_exe); }
    std::vector<std::string> Run(const std::wstring& steps, const std::filesystem::path& exe)
    {
        const std::filesystem::path report = m_folder.Path() / L"report.txt";
        DeleteFileW(report.c_str());
        std::wstring commandLine = L"\"" + exe.wstring() + L"\" \"" + report.wstring() + L"\" " + steps;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &info))
            return {};
        CloseHandle(info.hThread);
        if (WaitForSingleObject(info.hProcess, 300000) != WAIT_OBJECT_0)
            TerminateProcess(info.hProcess, 99);
        CloseHandle(info.hProcess);
        std::ifstream in(report, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return Lines(text.str());
    }

    // The tables of the report's dump number `which` against configparser's reading of the files.
    void CheckTables(const std::vector<std::string>& report, int which, const std::wstring& pack,
                     const char* english = KWEP_LANGUAGE_ENGLISH_INI)
    {
        int dump = -1;
        std::string lines;
        for (const std::string& line : report) {
            if (line.rfind("current ", 0) == 0)
                ++dump;
            if (dump == which && (line.rfind("text ", 0) == 0 || line.rfind("menu ", 0) == 0))
                lines += line + "\n";
        }
        ASSERT_FALSE(lines.empty());
        const std::filesystem::path file = m_folder.Path() / L"dump.txt";
        std::ofstream(file, std::ios::binary) << lines;
        const ShellResult r = RunShell(
            ShellQuote(kPython) + " " + ShellQuote(KWEP_LANGUAGE_CHECK_SCRIPT) + " " + ShellQuote(english) + " " +
            (pack.empty() ? std::string("-") : ShellQuote(UnixPath(pack))) + " " + ShellQuote(UnixPath(file)));
        ASSERT_TRUE(r.finished) << r.err;
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("rows 377 differing 0"), std::string::npos) << r.out;
    }

    TempFolder m_folder;
    std::filesystem::path m_exe;
    std::filesystem::path m_exeRes;
    std::wstring m_deutsch;
    std::wstring m_menus;
};

std::string LangItem(int id, bool checked, const std::string& text)
{
    return std::to_string(id) + (checked ? " 1 1 " : " 0 1 ") + Hex(text);
}

TEST_F(LanguageHostTest, PacksAreListedChosenTranslatedAndRemembered)
{
    std::vector<std::string> report = Run(L"dump choose Deutsch dump");
    ASSERT_FALSE(report.empty());
    ASSERT_EQ(report.back(), "exit");
    const std::string english = Narrow(m_exe.wstring()) + "?140,INI";
    EXPECT_EQ(Prefixed(report, "current "), (std::vector<std::string>{english, Narrow(m_deutsch)}));
    // Sorted by name, ids from 60258; the file without [common] is no pack.
    const std::vector<std::string> menu = Prefixed(report, "langmenu ");
    ASSERT_EQ(menu.size(), 10u);
    EXPECT_EQ(std::vector<std::string>(menu.begin(), menu.begin() + 5),
              (std::vector<std::string>{LangItem(60258, false, "Deutsch"), LangItem(60259, true, "English (U.K.)"),
                                        LangItem(60260, false, "Menus Only"), "60513 sep",
                                        LangItem(60257, false, "Rebuild List\tF10")}));
    EXPECT_EQ(std::vector<std::string>(menu.begin() + 5, menu.end()),
              (std::vector<std::string>{LangItem(60258, true, "Deutsch"), LangItem(60259, false, "English (U.K.)"),
                                        LangItem(60260, false, "Menus Only"), "60513 sep",
                                        LangItem(60257, false, "Liste neu aufbauen")}));
    EXPECT_EQ(Prefixed(report, "command "), (std::vector<std::string>{"60259", "60258"}));
    EXPECT_EQ(Prefixed(report, "title "), (std::vector<std::string>{"KWEP Manager 2", "KWEP Verwalter 2"}));
    const std::vector<std::string> popups = Prefixed(report, "popup ");
    ASSERT_EQ(popups.size(), 18u);
    EXPECT_EQ(popups[0], "0 " + Hex("&File"));
    EXPECT_EQ(popups[6], "6 " + Hex("&Language"));
    EXPECT_EQ(popups[9], "0 " + Hex("&Datei"));
    EXPECT_EQ(popups[15], "6 " + Hex("&Sprache"));
    EXPECT_EQ(popups[17], "8 " + Hex("&Hilfe"));
    EXPECT_EQ(Prefixed(report, "item 133 4121 "),
              (std::vector<std::string>{Hex("KWEP\t&Internal Memory"), Hex("KWEP\t&Interner Speicher")}));
    // Every child was told, with the location in use.
    EXPECT_EQ(Prefixed(report, "probe "), (std::vector<std::string>{"1 " + english, "2 " + Narrow(m_deutsch)}));
    CheckTables(report, 0, L"");
    CheckTables(report, 1, m_deutsch);
    EXPECT_EQ(registry_tool::Query(kToolKey, "Language"), Narrow(m_deutsch));

    // The next start restores it; a pack of menus only keeps every other text in English.
    report = Run(L"dump choose \"Menus Only\" dump");
    ASSERT_FALSE(report.empty());
    ASSERT_EQ(report.back(), "exit");
    EXPECT_EQ(Prefixed(report, "current "), (std::vector<std::string>{Narrow(m_deutsch), Narrow(m_menus)}));
    CheckTables(report, 0, m_deutsch);
    CheckTables(report, 1, m_menus);
    const std::vector<std::string> popupsNow = Prefixed(report, "popup ");
    ASSERT_EQ(popupsNow.size(), 18u);
    EXPECT_EQ(popupsNow[15], "6 " + Hex("Lan&gues"));
    EXPECT_EQ(popupsNow[17], "8 " + Hex("&Help")) << "the built-in text, not the last pack's";
    EXPECT_EQ(Prefixed(report, "title "), (std::vector<std::string>{"KWEP Verwalter 2", "KWEP Manager 2"}));
    EXPECT_EQ(registry_tool::Query(kToolKey, "Language"), Narrow(m_menus));
}

// The manager's own menus and built-in file (resources/manager), read by the manager and by configparser.
TEST_F(LanguageHostTest, TheManagersBuiltInFileAndMenusAreReadAsConfigparserReadsThem)
{
    const std::vector<std::string> report = Run(L"dump choose \"Menus Only\" dump", m_exeRes);
    ASSERT_FALSE(report.empty());
    ASSERT_EQ(report.back(), "exit");
    EXPECT_EQ(Prefixed(report, "chose "), (std::vector<std::string>{"Menus Only"}));
    EXPECT_EQ(Prefixed(report, "title "), (std::vector<std::string>{"KWEP Manager 2", "KWEP Manager 2"}));
    CheckTables(report, 0, L"", KWEP_MANAGER_ENGLISH_INI);
    CheckTables(report, 1, m_menus, KWEP_MANAGER_ENGLISH_INI);
    const std::vector<std::string> popups = Prefixed(report, "popup ");
    ASSERT_EQ(popups.size(), 18u);
    EXPECT_EQ(popups[6], "6 " + Hex("&Language"));
    EXPECT_EQ(popups[9], "0 " + Hex("&Fichier"));
    EXPECT_EQ(popups[15], "6 " + Hex("Lan&gues"));
    EXPECT_EQ(popups[17], "8 " + Hex("&Help"));
}

TEST_F(LanguageHostTest, ADeletedPackGivesTheBuiltInLanguageWithItsItemChecked)
{
    const std::wstring steps = L"delete \"" + m_deutsch + L"\" choose Deutsch dump";
    const std::vector<std::string> report = Run(steps);
    ASSERT_FALSE(report.empty());
    ASSERT_EQ(report.back(), "exit");
    EXPECT_EQ(Prefixed(report, "chose "), (std::vector<std::string>{"Deutsch"}));
    const std::string english = Narrow(m_exe.wstring()) + "?140,INI";
    EXPECT_EQ(Prefixed(report, "current "), (std::vector<std::string>{english}));
    EXPECT_EQ(Prefixed(report, "command "), (std::vector<std::string>{"60259"}));
    const std::vector<std::string> menu = Prefixed(report, "langmenu ");
    ASSERT_EQ(menu.size(), 5u);
    EXPECT_EQ(menu[0], LangItem(60258, false, "Deutsch"));
    EXPECT_EQ(menu[1], LangItem(60259, true, "English (U.K.)"));
    EXPECT_EQ(registry_tool::Query(kToolKey, "Language"), english);
}

TEST_F(LanguageHostTest, APackTooLargeToReadGivesTheBuiltInLanguage)
{
    {
        std::ofstream out(m_folder.Path() / L"LANGUAGES\\HUGE.INI", std::ios::binary);
        out << "[common]\r\nname=Huge\r\n[translation]\r\n62622=" << std::string(kIniMaxFileBytes, 'x') << "\r\n";
    }
    const std::vector<std::string> report = Run(L"choose Huge dump");
    ASSERT_FALSE(report.empty());
    ASSERT_EQ(report.back(), "exit");
    EXPECT_EQ(Prefixed(report, "chose "), (std::vector<std::string>{"Huge"}));
    const std::string english = Narrow(m_exe.wstring()) + "?140,INI";
    EXPECT_EQ(Prefixed(report, "current "), (std::vector<std::string>{english}));
    EXPECT_EQ(Prefixed(report, "command "), (std::vector<std::string>{"60259"}));
    EXPECT_EQ(Prefixed(report, "title "), (std::vector<std::string>{"KWEP Manager 2"}));
    EXPECT_EQ(registry_tool::Query(kToolKey, "Language"), english);
}

TEST_F(LanguageHostTest, ARememberedPackIsFoundWhateverTheCaseOfItsPath)
{
    std::string upper = Narrow(m_deutsch);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_NE(upper, Narrow(m_deutsch));
    ASSERT_TRUE(registry_tool::Add(kToolKey, "Language", "REG_SZ", upper));
    const std::vector<std::string> report = Run(L"dump");
    ASSERT_FALSE(report.empty());
    ASSERT_EQ(report.back(), "exit");
    EXPECT_EQ(Prefixed(report, "current "), (std::vector<std::string>{upper}));
    EXPECT_EQ(Prefixed(report, "command "), (std::vector<std::string>{"60258"}));
    EXPECT_EQ(Prefixed(report, "title "), (std::vector<std::string>{"KWEP Verwalter 2"}));
    const std::vector<std::string> menu = Prefixed(report, "langmenu ");
    ASSERT_EQ(menu.size(), 5u);
    EXPECT_EQ(menu[0], LangItem(60258, true, "Deutsch"));
}

TEST_F(LanguageHostTest, ARememberedValueThatIsNoLanguageFileGivesTheBuiltInLanguage)
{
    const std::string folder = Narrow(m_folder.Path().wstring());
    const std::string english = Narrow(m_exe.wstring()) + "?140,INI";
    const struct {
        const char* name;
        std::string value;
    } planted[] = {
        {"over-long", folder + "\\" + std::string(20000, 'L') + ".INI"},
        {"missing file", folder + "\\LANGUAGES\\GONE.INI"},
        {"a folder", folder + "\\LANGUAGES\\Deutsch"},
        {"a pattern", folder + "\\LANGUAGES\\*.INI"},
        {"another module's resource", "C:\\windows\\system32\\user32.dll?1,INI"},
    };
    for (const auto& p : planted) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(registry_tool::Add(kToolKey, "Language", "REG_SZ", p.value));
        const std::vector<std::string> report = Run(L"dump");
        ASSERT_FALSE(report.empty());
        EXPECT_EQ(report.back(), "exit");
        EXPECT_EQ(Prefixed(report, "current "), (std::vector<std::string>{english}));
        EXPECT_EQ(Prefixed(report, "title "), (std::vector<std::string>{"KWEP Manager 2"}));
        EXPECT_EQ(registry_tool::Query(kToolKey, "Language"), english);
    }
}

TEST_F(LanguageHostTest, TheMenuOffersAtMost255LanguagesTheBuiltInAmongThem)
{
    const ShellResult r = RunShell(ShellQuote(kPython) + " " + ShellQuote(KWEP_LANGUAGE_PACKS_SCRIPT) + " packs " +
                                   ShellQuote(UnixPath(m_folder.Path())) + " 300");
    ASSERT_TRUE(r.finished && r.exitCode == 0) << r.err;
    const std::vector<std::string> report = Run(L"dump");
    ASSERT_FALSE(report.empty());
    ASSERT_EQ(report.back(), "exit");
    const std::vector<std::string> menu = Prefixed(report, "langmenu ");
    ASSERT_EQ(menu.size(), 257u);
    int checked = 0;
    for (int i = 0; i < 255; ++i) {
        EXPECT_EQ(menu[static_cast<size_t>(i)].substr(0, 6), std::to_string(60258 + i) + " ");
        if (menu[static_cast<size_t>(i)].substr(6, 2) == "1 ") {
            ++checked;
            EXPECT_EQ(menu[static_cast<size_t>(i)].substr(10), Hex("English (U.K.)"));
        }
    }
    EXPECT_EQ(checked, 1) << "the built-in language is offered and checked";
    EXPECT_EQ(menu[255], "60513 sep");
    EXPECT_EQ(menu[256].substr(0, 6), "60257 ");
}

TEST_F(LanguageHostTest, LockedMenusDisableTheLanguageItemsAndRequestsAreAnswered)
{
    const std::vector<std::string> report =
        Run(L"lock dump ask 0,0,-1,0 ask 0,0,60258,0 ask 1,0,-1,1 "
            L"ask 0,0,60400,0 string 5000 string 62319 string 7777");
    ASSERT_FALSE(report.empty());
    ASSERT_EQ(report.back(), "exit");
    const std::vector<std::string> menu = Prefixed(report, "langmenu ");
    ASSERT_EQ(menu.size(), 5u);
    EXPECT_EQ(menu[0], "60258 0 0 " + Hex("Deutsch"));
    EXPECT_EQ(menu[1], "60259 1 0 " + Hex("English (U.K.)"));
    EXPECT_EQ(Prefixed(report, "ask "),
              (std::vector<std::string>{"80070057 -", "00000000 " + Hex("Deutsch"),
                                        "00000000 " + Hex("The built-in language"), "00000001 -"}));
    EXPECT_EQ(Prefixed(report, "string "), (std::vector<std::string>{"5000 " + Hex("From the string table"),
                                                                     "62319 " + Hex("Copying %s to %s"), "7777 -"}));
}

TEST_F(LanguageHostTest, WorkerLookupsWhileLanguagesLoadAndTheMenuIsRebuiltGetWholeTexts)
{
    const std::vector<std::string> report = Run(L"threads");
    ASSERT_FALSE(report.empty());
    ASSERT_EQ(report.back(), "exit");
    const std::vector<std::string> threads = Prefixed(report, "threads ");
    ASSERT_EQ(threads.size(), 1u);
    std::istringstream in(threads[0]);
    long during = 0, bad = -1, rounds = 0;
    in >> during >> bad >> rounds;
    EXPECT_GE(during, 2 * 3 * 303);
    EXPECT_EQ(bad, 0);
    EXPECT_GE(rounds, 10);
}

}  // namespace
