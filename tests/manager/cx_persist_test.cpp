// Persisted properties with real windows and the real registry: the save and load gates, what lands in
// the registry (read back with Wine's reg tool), malformed values planted before a load, the branches of
// the placement property, and values of child windows under their parent's key.
#include "manager/framework/windows/cx_persist.h"
#include "tests/manager/registry_tool.h"
#include "tests/manager/test_window_class.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const wchar_t kRoot[] = L"software\\KwepTest\\Persist";
const char kRootTool[] = "HKCU\\software\\KwepTest\\Persist";

const wchar_t* TestClass()
{
    static const wchar_t* name = RegisterTestWindowClass(L"KwepPersistTestClass", DefWindowProcW);
    return name;
}

// A top-level framework window with the persisted-properties component: "Placement" plus the entries a
// test adds, kept under software\KwepTest\Persist\<leaf>.
class PersistWnd : public CxWindowProcT<CWnd>, public CxPersistWnd {
public:
    explicit PersistWnd(const wchar_t* leaf = L"w") : m_leaf(leaf) { CxWndLink::Attach(&m_hWnd); }

    std::vector<CxPersistEntry> extra;
    bool withPlacement = true;
    struct Applied {
        WPARAM show;
        bool hadPlacement;
        RECT rect;
    };
    std::vector<Applied> applied;

    bool Create(int x, int y, int cx, int cy, DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE)
    {
        return CreateEx(0, TestClass(), L"persist", style, x, y, cx, cy, nullptr, nullptr) != FALSE;
    }

    HRESULT GetPersistKeyPath(CxKeyPath& path) override
    {
        for (const wchar_t* c : {L"software", L"KwepTest", L"Persist"})
            CxKeyPathAdd(path, c);
        return CxKeyPathAdd(path, m_leaf);
    }

    HRESULT GetPersistProps(CxPersistEntries& list) override
    {
        if (withPlacement)
            list.Add(CxPlacementEntry(m_hWnd));
        for (const CxPersistEntry& e : extra)
            list.Add(e);
        return CxPersistProps::GetPersistProps(list);
    }

    void SetFlags(DWORD low, DWORD high) { ModifyFlags(low, high, ~low, ~high); }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (message == CXM_APPLYPLACEMENT) {
            Applied a{wParam, lParam != 0, {}};
            if (lParam != 0)
                a.rect = reinterpret_cast<const WINDOWPLACEMENT*>(lParam)->rcNormalPosition;
            applied.push_back(a);
            lResult = 1;
            return TRUE;
        }
        return CxPersistWnd::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
    }

private:
    const wchar_t* m_leaf;
};

RECT NormalRect(HWND hWnd)
{
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    GetWindowPlacement(hWnd, &wp);
    return wp.rcNormalPosition;
}

std::string RectText(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

class CxPersistTest : public ::testing::Test {
protected:
    void SetUp() override { registry_tool::DeleteTree(HKEY_CURRENT_USER, kRoot); }
    void TearDown() override
    {
        CxClearForcedPlatform();
        registry_tool::DeleteTree(HKEY_CURRENT_USER, kRoot);
    }
};

TEST_F(CxPersistTest, NothingIsReadOrWrittenWithoutTheReadyFlags)
{
    PersistWnd wnd;
    ASSERT_TRUE(wnd.Create(40, 50, 300, 200));
    int setCalls = 0;
    static int* s_calls;
    s_calls = &setCalls;
    wnd.extra.push_back(CxPersistEntry{L"Counted", L"%s", 1, L"saved", nullptr, nullptr, L"default",
                                       [](CxPersistCall&) -> HRESULT {
                                           ++*s_calls;
                                           return S_OK;
                                       },
                                       nullptr, nullptr});
    wnd.SetFlags(0, 0);
    CxPersistEntries list;
    ASSERT_HRESULT_SUCCEEDED(wnd.GetPersistProps(list));
    EXPECT_EQ(wnd.GetRecordCount(), 2);
    EXPECT_EQ(wnd.Save(), E_ACCESSDENIED);
    EXPECT_EQ(wnd.Load(), E_ACCESSDENIED);
    EXPECT_EQ(setCalls, 0);
    EXPECT_EQ(registry_tool::Query(std::string(kRootTool) + "\\w", "Counted"), "<missing>");

    // A dialog's destruction saves through the message: still nothing without the flag.
    EXPECT_EQ(wnd.SendMessage(CXM_SAVEPROPS), 1);
    EXPECT_EQ(registry_tool::Query(std::string(kRootTool) + "\\w", "Placement"), "<missing>");

    wnd.SetFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS, 0);
    EXPECT_EQ(wnd.SendMessage(CXM_LOADPROPS), 1);
    EXPECT_EQ(setCalls, 1);
    EXPECT_EQ(wnd.SendMessage(CXM_SAVEPROPS), 1);
    EXPECT_EQ(registry_tool::Query(std::string(kRootTool) + "\\w", "Counted"), "saved");
    wnd.DestroyWindow();
}

TEST_F(CxPersistTest, PlacementRoundTripThroughTheRegistry)
{
    PersistWnd wnd;
    ASSERT_TRUE(wnd.Create(60, 70, 320, 240));
    wnd.SetFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS | CXFL_RESTOREPLACEMENT, 0);
    ASSERT_HRESULT_SUCCEEDED(wnd.Restore());  // nothing stored yet: the window stays
    const RECT before = NormalRect(wnd);
    EXPECT_EQ(before.left, 60);
    EXPECT_EQ(before.top, 70);
    ASSERT_EQ(wnd.Save(), S_OK);

    // Read back by the outside tool.
    EXPECT_EQ(registry_tool::Query(std::string(kRootTool) + "\\w", "Placement"), RectText(before) + ",1,0");

    // Moved and loaded again: back where it was saved.
    ASSERT_TRUE(SetWindowPos(wnd, nullptr, 200, 210, 100, 90, SWP_NOZORDER));
    ASSERT_EQ(wnd.Load(), S_OK);
    EXPECT_EQ(RectText(NormalRect(wnd)), RectText(before));
    EXPECT_TRUE(IsWindowVisible(wnd));
    wnd.DestroyWindow();
}

TEST_F(CxPersistTest, MalformedPlacementsPlantedBeforeALoad)
{
    struct Case {
        const char* name;
        const char* type;
        const char* data;
        HRESULT load;    // Load's result
        bool keepsRect;  // the window keeps its rectangle (else it takes 30,40,330,260)
        int show;        // show state afterwards: 1 normal, 3 maximised
    };
    const Case cases[] = {
        {"five numbers", "REG_SZ", "30,40,330,260,1", E_ACCESSDENIED, true, 1},
        {"seven numbers", "REG_SZ", "30,40,330,260,1,0,7", E_ACCESSDENIED, true, 1},
        {"trailing text", "REG_SZ", "30,40,330,260,1,0x", E_ACCESSDENIED, true, 1},
        {"not numbers", "REG_SZ", "left,top", E_ACCESSDENIED, true, 1},
        {"hidden show command", "REG_SZ", "30,40,330,260,0,0", S_OK, false, 1},
        {"unknown show command", "REG_SZ", "30,40,330,260,11,0", S_OK, false, 1},
        {"inverted rectangle", "REG_SZ", "330,260,30,40,3,0", S_OK, true, 1},
        {"empty rectangle", "REG_SZ", "30,40,30,40,1,0", S_OK, true, 1},
        {"a number value", "REG_DWORD", "12345", S_OK, true, 1},
        {"a binary value", "REG_BINARY", "3300300031002c0032", S_OK, true, 1},
        {"maximised", "REG_SZ", "30,40,330,260,3,0", S_OK, false, 3},
    };
    const std::string key = std::string(kRootTool) + "\\w";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PersistWnd wnd;
        ASSERT_TRUE(wnd.Create(100, 110, 250, 180));
        const RECT before = NormalRect(wnd);
        ASSERT_TRUE(registry_tool::Add(key, "Placement", c.type, c.data));
        wnd.SetFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS | CXFL_RESTOREPLACEMENT, 0);
        EXPECT_EQ(wnd.Restore(), c.load);
        EXPECT_TRUE(IsWindowVisible(wnd));
        EXPECT_EQ(RectText(NormalRect(wnd)), c.keepsRect ? RectText(before) : "30,40,330,260");
        EXPECT_EQ(IsZoomed(wnd) != FALSE, c.show == 3);
        wnd.DestroyWindow();
    }
}

TEST_F(CxPersistTest, StringValuesAreReadTerminatedAndBounded)
{
    CxKeyPath path;
    for (const wchar_t* c : {L"software", L"KwepTest", L"Persist", L"raw"})
        CxKeyPathAdd(path, c);
    HKEY key = nullptr;
    ASSERT_EQ(CxRegOpenKeyPath(HKEY_CURRENT_USER, path, &key), S_OK);
    // A string value stored without its terminator, and one of an odd byte count.
    const wchar_t text[] = {L'1', L'2', L'3'};
    ASSERT_EQ(RegSetValueExW(key, L"NoEnd", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), 0);
    ASSERT_EQ(RegSetValueExW(key, L"Odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 5), 0);
    std::wstring huge(CX_MAX_PERSIST_TEXT + 10, L'x');
    ASSERT_EQ(RegSetValueExW(key, L"Huge", 0, REG_SZ, reinterpret_cast<const BYTE*>(huge.c_str()),
                             static_cast<DWORD>((huge.size() + 1) * sizeof(wchar_t))),
              0);
    RegCloseKey(key);

    CxString value;
    EXPECT_EQ(CxRegQueryValue(HKEY_CURRENT_USER, path, L"NoEnd", L"d", &value), S_OK);
    EXPECT_STREQ(value, L"123");
    EXPECT_EQ(CxRegQueryValue(HKEY_CURRENT_USER, path, L"Odd", L"d", &value), S_OK);
    EXPECT_STREQ(value, L"12");
    EXPECT_EQ(CxRegQueryValue(HKEY_CURRENT_USER, path, L"Huge", L"d", &value), S_FALSE);
    EXPECT_STREQ(value, L"d");
    EXPECT_EQ(CxRegQueryValue(HKEY_CURRENT_USER, path, L"Absent", nullptr, &value), S_FALSE);
    EXPECT_TRUE(value.IsEmpty());

    // A query of a key that is not there answers the default and leaves no key behind.
    CxKeyPath missing;
    for (const wchar_t* c : {L"software", L"KwepTest", L"Persist", L"never", L"made"})
        CxKeyPathAdd(missing, c);
    EXPECT_EQ(CxRegQueryValue(HKEY_CURRENT_USER, missing, L"x", L"d", &value), S_FALSE);
    EXPECT_STREQ(value, L"d");
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"software\\KwepTest\\Persist\\never", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);

    CxKeyPath empty;
    EXPECT_EQ(CxRegOpenKeyPath(HKEY_CURRENT_USER, empty, &key), E_INVALIDARG);
    EXPECT_EQ(CxRegSetValue(HKEY_CURRENT_USER, empty, L"x", L"y"), E_INVALIDARG);
}

TEST_F(CxPersistTest, AnsiCallsOnTheWindows95Family)
{
    CxForcePlatform(CX_PLATFORM_WIN98);
    CxKeyPath path;
    for (const wchar_t* c : {L"software", L"KwepTest", L"Persist", L"ansi"})
        CxKeyPathAdd(path, c);
    ASSERT_EQ(CxRegSetValue(HKEY_CURRENT_USER, path, L"Skin", L"C:\\Skins\\Blue.ini"), S_OK);
    CxString value;
    EXPECT_EQ(CxRegQueryValue(HKEY_CURRENT_USER, path, L"Skin", nullptr, &value), S_OK);
    EXPECT_STREQ(value, L"C:\\Skins\\Blue.ini");
    CxClearForcedPlatform();
    EXPECT_EQ(registry_tool::Query(std::string(kRootTool) + "\\ansi", "Skin"), "C:\\Skins\\Blue.ini");
    // An empty text deletes the value.
    CxForcePlatform(CX_PLATFORM_WIN95);
    EXPECT_EQ(CxRegSetValue(HKEY_CURRENT_USER, path, L"Skin", L""), S_OK);
    CxClearForcedPlatform();
    EXPECT_EQ(registry_tool::Query(std::string(kRootTool) + "\\ansi", "Skin"), "<missing>");
}

HRESULT FailingGet(CxPersistCall&)
{
    return E_FAIL;
}
HRESULT EmptyGet(CxPersistCall& call)
{
    call.text.Empty();
    return S_OK;
}
HRESULT WordGet(CxPersistCall& call)
{
    return call.text.Assign(static_cast<const wchar_t*>(call.context));
}

TEST_F(CxPersistTest, SaveKeepsAValueWhoseGetterFailedAndDeletesAnEmptyOne)
{
    PersistWnd wnd;
    ASSERT_TRUE(wnd.Create(10, 10, 200, 150));
    wnd.withPlacement = false;
    const std::string key = std::string(kRootTool) + "\\w";
    ASSERT_TRUE(registry_tool::Add(key, "Failing", "REG_SZ", "kept"));
    ASSERT_TRUE(registry_tool::Add(key, "Emptied", "REG_SZ", "old"));
    wnd.extra = {
        {L"Failing", L"%s", 1, L"save text", &FailingGet, nullptr, nullptr, nullptr, nullptr, nullptr},
        {L"Emptied", L"%s", 1, nullptr, &EmptyGet, nullptr, nullptr, nullptr, nullptr, nullptr},
        {L"Fixed", L"%s", 1, L"constant", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        {L"Word", L"%s", 1, nullptr, &WordGet, const_cast<wchar_t*>(L"blue"), nullptr, nullptr, nullptr, nullptr},
    };
    wnd.SetFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS, 0);
    ASSERT_HRESULT_SUCCEEDED(wnd.Restore());
    EXPECT_EQ(wnd.Save(), E_FAIL);  // every record runs; the failure is reported
    EXPECT_EQ(registry_tool::Query(key, "Failing"), "kept");
    EXPECT_EQ(registry_tool::Query(key, "Emptied"), "<missing>");
    EXPECT_EQ(registry_tool::Query(key, "Fixed"), "constant");
    EXPECT_EQ(registry_tool::Query(key, "Word"), "blue");
    wnd.DestroyWindow();
}

TEST_F(CxPersistTest, LoadUsesTheDefaultAndReportsAFailingSetter)
{
    static std::wstring s_seen;
    PersistWnd wnd;
    ASSERT_TRUE(wnd.Create(10, 10, 200, 150));
    wnd.withPlacement = false;
    wnd.extra = {
        {L"Missing", L"%s", 1, nullptr, nullptr, nullptr, L"fallback",
         [](CxPersistCall& call) -> HRESULT {
             s_seen = call.text.IsEmpty() ? L"" : static_cast<const wchar_t*>(call.text);
             EXPECT_STREQ(call.name, L"Missing");
             EXPECT_EQ(call.path->GetCount(), 4);
             return S_OK;
         },
         nullptr, nullptr},
        {L"NoSetter", L"%s", 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    wnd.SetFlags(CXFL_CANLOADPROPS, 0);
    EXPECT_EQ(wnd.Restore(), S_OK);
    EXPECT_EQ(s_seen, L"fallback");
    wnd.extra.push_back({L"Refused", L"%s", 1, nullptr, nullptr, nullptr, L"x",
                         [](CxPersistCall&) -> HRESULT { return E_INVALIDARG; }, nullptr, nullptr});
    EXPECT_EQ(wnd.Restore(), E_ACCESSDENIED);
    wnd.DestroyWindow();
}

TEST_F(CxPersistTest, PlacementBranchesByFlag)
{
    const std::string key = std::string(kRootTool) + "\\w";
    struct Case {
        const char* name;
        DWORD low;
        DWORD high;
        const char* stored;  // null: nothing stored
        HRESULT set;
        int appliedShow;  // -1: no CXM_APPLYPLACEMENT
        bool appliedWithPlacement;
        const char* rectAfter;  // null: unchanged
        bool zoomed;
    };
    const Case cases[] = {
        {"not restored", 0, 0, "30,40,330,260,1,0", S_OK, -1, false, nullptr, false},
        {"not restored, self placement", 0, CXFH_SELFPLACEMENT, "30,40,330,260,1,0", S_OK, SW_SHOW, false, nullptr,
         false},
        {"self placement", CXFL_RESTOREPLACEMENT, CXFH_SELFPLACEMENT, "30,40,330,260,3,0", S_OK, SW_SHOWMAXIMIZED, true,
         nullptr, false},
        {"stretch layout maximised", CXFL_RESTOREPLACEMENT, CXFH_STRETCH, "30,40,330,260,3,0", S_OK, -1, false, nullptr,
         true},
        {"stretch layout normal", CXFL_RESTOREPLACEMENT, CXFH_STRETCH, "30,40,330,260,1,0", S_OK, -1, false,
         "30,40,330,260", false},
        {"plain", CXFL_RESTOREPLACEMENT, 0, "30,40,330,260,1,0", S_OK, -1, false, "30,40,330,260", false},
        {"nothing stored", CXFL_RESTOREPLACEMENT, 0, nullptr, S_FALSE, -1, false, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        registry_tool::DeleteTree(HKEY_CURRENT_USER, kRoot);
        if (c.stored != nullptr) {
            ASSERT_TRUE(registry_tool::Add(key, "Placement", "REG_SZ", c.stored));
        }
        PersistWnd wnd;
        ASSERT_TRUE(wnd.Create(100, 110, 250, 180));
        const RECT before = NormalRect(wnd);
        wnd.SetFlags(c.low | CXFL_CANLOADPROPS, c.high);
        CxPersistEntries list;
        ASSERT_HRESULT_SUCCEEDED(wnd.GetPersistProps(list));
        ASSERT_EQ(wnd.Load(), S_OK);
        // Load ran the callback already; run it once more on the stored text to see its own result.
        CxPersistCall call{CxString(), L"", 6, wnd.m_hWnd, nullptr, L""};
        CxRegQueryValue(HKEY_CURRENT_USER, wnd.GetStoredPath(), L"Placement", nullptr, &call.text);
        wnd.applied.clear();
        EXPECT_EQ(CxPlacementSet(call), c.set);
        if (c.appliedShow < 0) {
            EXPECT_TRUE(wnd.applied.empty());
        } else {
            ASSERT_FALSE(wnd.applied.empty());
            EXPECT_EQ(wnd.applied.back().show, static_cast<WPARAM>(c.appliedShow));
            EXPECT_EQ(wnd.applied.back().hadPlacement, c.appliedWithPlacement);
            if (c.appliedWithPlacement) {
                EXPECT_EQ(RectText(wnd.applied.back().rect), "30,40,330,260");
            }
        }
        EXPECT_EQ(RectText(NormalRect(wnd)), c.rectAfter != nullptr ? c.rectAfter : RectText(before));
        EXPECT_EQ(IsZoomed(wnd) != FALSE, c.zoomed);
        wnd.DestroyWindow();
    }
}

TEST_F(CxPersistTest, FirstRunFitsToNineTenthsOfTheWorkArea)
{
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    const int limit = MulDiv(9, work.bottom - work.top, 10);
    PersistWnd wnd;
    ASSERT_TRUE(wnd.Create(80, 90, 260, 200));
    wnd.SetFlags(CXFL_RESTOREPLACEMENT | CXFL_CANLOADPROPS, CXFH_FITWORKAREA | CXFH_SELFPLACEMENT);
    ASSERT_EQ(wnd.Restore(), S_OK);
    RECT r{};
    GetWindowRect(wnd, &r);
    EXPECT_EQ(r.left, 80);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right - r.left, 260);
    EXPECT_EQ(r.bottom - r.top, limit);
    ASSERT_EQ(wnd.applied.size(), 1u);
    EXPECT_EQ(wnd.applied[0].show, static_cast<WPARAM>(SW_SHOW));

    // Already that tall: left alone.
    CxPersistCall call{CxString(), L"", 6, wnd.m_hWnd, nullptr, L""};
    EXPECT_EQ(CxPlacementSet(call), S_FALSE);
    // Without the option nothing is done either.
    wnd.SetFlags(CXFL_RESTOREPLACEMENT, 0);
    ASSERT_TRUE(SetWindowPos(wnd, nullptr, 80, 90, 260, 200, SWP_NOZORDER));
    EXPECT_EQ(CxPlacementSet(call), S_FALSE);
    GetWindowRect(wnd, &r);
    EXPECT_EQ(r.top, 90);
    wnd.DestroyWindow();

    // Not a window, a window that does not answer the flag query.
    call.context = nullptr;
    EXPECT_EQ(CxPlacementSet(call), E_INVALIDARG);
    EXPECT_EQ(CxPlacementGet(call), E_INVALIDARG);
    HWND plain = CreateWindowExW(0, TestClass(), L"plain", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    call.context = plain;
    EXPECT_EQ(CxPlacementSet(call), E_NOTIMPL);
    DestroyWindow(plain);
}

// A child window whose values live under its parent's key.
class PersistChild : public CxWindowProcT<CWnd>, public CxPersistChild {
public:
    PersistChild() { CxWndLink::Attach(&m_hWnd); }

    bool Create(HWND parent)
    {
        return CreateEx(0, TestClass(), L"child", WS_CHILD | WS_VISIBLE, 0, 0, 20, 20, parent, nullptr) != FALSE;
    }
    HRESULT GetPersistProps(CxPersistEntries& list) override
    {
        list.Add(CxPersistEntry{L"ChildValue", L"%s", 1, L"from child", nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr});
        return CxPersistProps::GetPersistProps(list);
    }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        return CxPersistWnd::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
    }
};

TEST_F(CxPersistTest, ChildValuesLiveUnderTheParentsKey)
{
    PersistWnd parent(L"parent");
    ASSERT_TRUE(parent.Create(10, 10, 200, 150));
    PersistChild child;
    ASSERT_TRUE(child.Create(parent));
    EXPECT_EQ(child.GetRootKey(), HKEY_CURRENT_USER);
    child.ModifyFlags(CXFL_CANSAVEPROPS, 0, 0, 0);
    CxPersistEntries list;
    ASSERT_EQ(child.GetPersistProps(list), S_OK);
    ASSERT_EQ(child.GetStoredPath().GetCount(), 4);
    EXPECT_STREQ(child.GetStoredPath().GetAt(3), L"parent");
    ASSERT_EQ(child.Save(), S_OK);
    EXPECT_EQ(registry_tool::Query(std::string(kRootTool) + "\\parent", "ChildValue"), "from child");
    // A null array is refused by the parent.
    EXPECT_EQ(parent.SendMessage(CXM_GETPERSISTKEYPATH, 0), 0);
    parent.DestroyWindow();
}

}  // namespace
