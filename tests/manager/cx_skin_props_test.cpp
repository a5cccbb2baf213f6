// Skin properties with real windows: registered keys read section by section, the parsers' per-state
// values and their fallback to the pack file, and the position component moving a child window.
#include "manager/framework/skin/cx_skin_file.h"
#include "manager/framework/skin/cx_skin_props.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using test_support::TempFolder;

std::wstring Text(const wchar_t* text)
{
    return text != nullptr ? text : L"";
}

void WriteIni(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());  // drop any cached copy
}

// The owner of the values: names a pack file and answers whether a key may be read from it.
struct Owner {
    std::wstring packFile;
    LRESULT packAnswer = 1;
    LRESULT agree = 1;
    std::vector<std::wstring> asked;
};

LRESULT CALLBACK OwnerProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (owner != nullptr && message == CXM_GETPACKFILE) {
        reinterpret_cast<CxString*>(wParam)->Assign(owner->packFile.c_str());
        return owner->packAnswer;
    }
    if (owner != nullptr && message == CXM_ASKOWNER) {
        owner->asked.push_back(Text(reinterpret_cast<const wchar_t*>(wParam)) + L"/" +
                               Text(reinterpret_cast<const wchar_t*>(lParam)));
        return owner->agree;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

const wchar_t* OwnerClass()
{
    static const wchar_t* name = RegisterTestWindowClass(L"KwepSkinOwner", OwnerProc);
    return name;
}

class OwnerWindow {
public:
    explicit OwnerWindow(Owner* owner)
    {
        hWnd = CreateWindowExW(0, OwnerClass(), L"owner", WS_OVERLAPPEDWINDOW, 20, 20, 400, 300, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    }
    ~OwnerWindow() { DestroyWindow(hWnd); }
    HWND hWnd;
};

std::wstring Positions(const CxSkinPositions& list)
{
    std::wstring text;
    for (int i = 0; i < list.GetCount(); ++i) {
        const CxSkinPosition& p = list.ElementAt(i);
        text += (i > 0 ? L";" : L"") + std::to_wstring(p.x) + L"," + std::to_wstring(p.y) + L"," +
                std::to_wstring(p.w) + L"," + std::to_wstring(p.h) + (p.set ? L"" : L"?");
    }
    return text;
}

class CxSkinPropsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        file = folder.File(L"skin.ini").wstring();
        pack = folder.File(L"pack.ini").wstring();
        WriteIni(file,
                 "[ctl]\r\n"
                 "pos=0,1,-10,18\r\n"
                 "short=299,155\r\n"
                 "three=1,2,3,4|5,6,7,8|9,10,11,12\r\n"
                 "holes=1,2|3,4,5,6|x\r\n"
                 ";hidden=1,2,3,4\r\n"
                 "grip=15,15,99\r\n"
                 "frgnd=255,255,255|0,128,0|0,255,0\r\n"
                 "name=Standard|Other\r\n"
                 "[other]\r\n"
                 "pos=50,60,70,80\r\n");
        WriteIni(pack,
                 "[ctl]\r\n"
                 "holes=21,22,23,24|31,32,33,34|41,42,43,44\r\n"
                 "short=1,1,1,1\r\n"
                 "hidden=5,6,7,8\r\n");
    }

    HRESULT ReadPos(const wchar_t* key, int count, CxSkinPositions& list, HWND owner, const std::wstring& from)
    {
        return CxIniRead(from.c_str(), L"ctl", key, nullptr, CxSkinParsePos, owner, count, &list, nullptr);
    }

    TempFolder folder;
    std::wstring file;
    std::wstring pack;
};

TEST_F(CxSkinPropsTest, ParsesPositionsPerState)
{
    Owner owner;  // names no pack file
    OwnerWindow window(&owner);
    struct Case {
        const wchar_t* key;
        int count;
        HRESULT hr;
        const wchar_t* positions;
    };
    const Case cases[] = {
        {L"pos", 1, S_OK, L"0,1,-10,18"},
        {L"short", 1, E_ACCESSDENIED, L"0,0,0,0?"},  // two numbers leave the position unset
        {L"three", 1, S_OK, L"1,2,3,4"},             // only the first state is wanted
        {L"three", -1, S_OK, L"1,2,3,4;5,6,7,8;9,10,11,12"},
        {L"pos", 3, E_ACCESSDENIED, L"0,1,-10,18;0,0,0,0?;0,0,0,0?"},  // padded with empty states
        {L"hidden", 1, E_ACCESSDENIED, L"0,0,0,0?"},                   // commented out
        {L"missing", -1, E_ACCESSDENIED, L"0,0,0,0?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::wstring(c.key) + L" " + std::to_wstring(c.count));
        CxSkinPositions list;
        EXPECT_EQ(ReadPos(c.key, c.count, list, window.hWnd, file), c.hr);
        EXPECT_EQ(Positions(list), c.positions);
    }
    EXPECT_TRUE(owner.asked.empty());

    // The owner must be alive when the value is parsed.
    CxSkinPositions list;
    EXPECT_EQ(ReadPos(L"pos", 1, list, nullptr, file), E_ACCESSDENIED);
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(CxSkinPropsTest, ParsesSizesColoursAndTexts)
{
    Owner owner;
    OwnerWindow window(&owner);
    CxSkinSizes sizes;
    EXPECT_EQ(CxIniRead(file.c_str(), L"ctl", L"grip", nullptr, CxSkinParseSize, window.hWnd, 1, &sizes, nullptr),
              S_OK);
    ASSERT_EQ(sizes.GetCount(), 1);
    EXPECT_TRUE(sizes.ElementAt(0).set);
    EXPECT_EQ(sizes.ElementAt(0).cx, 15);
    EXPECT_EQ(sizes.ElementAt(0).cy, 15);

    CxSkinColors colours;
    EXPECT_EQ(CxIniRead(file.c_str(), L"ctl", L"frgnd", nullptr, CxSkinParseColor, window.hWnd, 3, &colours, nullptr),
              S_OK);
    ASSERT_EQ(colours.GetCount(), 3);
    EXPECT_EQ(colours.ElementAt(0).color, RGB(255, 255, 255));
    EXPECT_EQ(colours.ElementAt(1).color, RGB(0, 128, 0));
    EXPECT_EQ(colours.ElementAt(2).color, RGB(0, 255, 0));

    CxSkinTexts texts;
    CxString raw;
    EXPECT_EQ(CxIniRead(file.c_str(), L"ctl", L"name", &raw, CxSkinParseText, window.hWnd, -1, &texts, nullptr), S_OK);
    EXPECT_EQ(Text(raw), L"Standard|Other");
    ASSERT_EQ(texts.GetCount(), 2);
    EXPECT_EQ(Text(texts.ElementAt(0)), L"Standard");
    EXPECT_EQ(Text(texts.ElementAt(1)), L"Other");

    EXPECT_EQ(CxIniRead(L"", L"ctl", L"name", nullptr, nullptr, window.hWnd, 1, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(CxIniRead(file.c_str(), L"", L"name", nullptr, nullptr, window.hWnd, 1, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(CxIniRead(file.c_str(), L"ctl", nullptr, nullptr, nullptr, window.hWnd, 1, nullptr, nullptr),
              E_INVALIDARG);
}

// A part that does not parse is taken from the pack file when the owner names another file and agrees.
TEST_F(CxSkinPropsTest, TakesFailedPartsFromThePackFile)
{
    struct Case {
        const char* name;
        std::wstring packFile;
        LRESULT packAnswer;
        LRESULT agree;
        const wchar_t* key;
        HRESULT hr;
        const wchar_t* positions;
        bool asked;
    };
    const Case cases[] = {
        {"pack agrees", pack, 1, 1, L"holes", S_OK, L"21,22,23,24;3,4,5,6;41,42,43,44", true},
        {"owner refuses", pack, 1, 0, L"holes", E_ACCESSDENIED, L"0,0,0,0?;3,4,5,6;0,0,0,0?", true},
        {"no pack file", L"", 1, 1, L"holes", E_ACCESSDENIED, L"0,0,0,0?;3,4,5,6;0,0,0,0?", false},
        {"not answered", pack, 0, 1, L"holes", E_ACCESSDENIED, L"0,0,0,0?;3,4,5,6;0,0,0,0?", false},
        {"the same file", file, 1, 1, L"holes", E_ACCESSDENIED, L"0,0,0,0?;3,4,5,6;0,0,0,0?", false},
        // The pack's value has one part: the second state has none there.
        {"fewer parts", pack, 1, 1, L"short", S_OK, L"1,1,1,1", true},
        {"a commented key", pack, 1, 1, L"hidden", S_OK, L"5,6,7,8", true},
        {"the built-in skin", CX_BUILTIN_SKIN_SPEC, 1, 1, L"holes", E_ACCESSDENIED, L"0,0,0,0?;3,4,5,6;0,0,0,0?", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Owner owner;
        owner.packFile = c.packFile;
        owner.packAnswer = c.packAnswer;
        owner.agree = c.agree;
        OwnerWindow window(&owner);
        CxSkinPositions list;
        EXPECT_EQ(ReadPos(c.key, -1, list, window.hWnd, file), c.hr);
        EXPECT_EQ(Positions(list), c.positions);
        EXPECT_EQ(!owner.asked.empty(), c.asked);
        if (!owner.asked.empty()) {
            EXPECT_EQ(owner.asked.front(), std::wstring(L"ctl/") + c.key);
        }
    }

    // A second state the pack file does not have: E_NOTIMPL, through the reader as a failed parse.
    Owner owner;
    owner.packFile = pack;
    OwnerWindow window(&owner);
    CxSkinPositions list;
    const CxSkinValue value{L"ctl", L"short", 2, window.hWnd, file.c_str(), nullptr, L"299,155|1,2", &list};
    EXPECT_EQ(CxSkinParsePos(value), E_NOTIMPL);
    EXPECT_EQ(Positions(list), L"1,1,1,1;0,0,0,0?");
    CxString part;
    EXPECT_EQ(CxSkinReadFallbackPart(value, 1, &part), E_NOTIMPL);
    EXPECT_EQ(CxSkinReadFallbackPart(value, 0, &part), S_OK);
    EXPECT_EQ(Text(part), L"1,1,1,1");

    // A temporary copy is compared by the spec it was made from.
    owner.packFile = CX_BUILTIN_SKIN_SPEC;
    const CxSkinValue fromBuiltIn{L"ctl", L"short", 1, window.hWnd, L"C:\\temp\\TMP0.ini", CX_BUILTIN_SKIN_SPEC,
                                  L"",    &list};
    EXPECT_EQ(CxSkinReadFallbackPart(fromBuiltIn, 0, &part), E_ACCESSDENIED);
}

// Pack data handed down with a skin file stands in for the owner's answers: the owner, which names no
// pack file and would refuse, is not asked, and the values are those the answers give.
TEST_F(CxSkinPropsTest, PackDataStandsInForTheOwnersAnswers)
{
    struct Permission {
        BOOL agree;
        std::vector<std::wstring> asked;
    };
    struct Case {
        const char* name;
        const wchar_t* packFile;
        BOOL agree;
        HRESULT hr;
        const wchar_t* positions;
        bool asked;
    };
    const wchar_t* kUnset = L"0,0,0,0?;3,4,5,6;0,0,0,0?";
    const Case cases[] = {
        {"pack agrees", pack.c_str(), TRUE, S_OK, L"21,22,23,24;3,4,5,6;41,42,43,44", true},
        {"pack refuses", pack.c_str(), FALSE, E_ACCESSDENIED, kUnset, true},
        {"no pack file", nullptr, TRUE, E_ACCESSDENIED, kUnset, false},
        {"the same file", file.c_str(), TRUE, E_ACCESSDENIED, kUnset, false},
    };
    Owner owner;
    owner.agree = 0;
    OwnerWindow window(&owner);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Permission permission{c.agree, {}};
        CxSkinPackData data;
        data.owner = window.hWnd;
        data.packFile = c.packFile;
        data.allowFallback = [](void* context, const wchar_t* section, const wchar_t* key) -> BOOL {
            auto* p = static_cast<Permission*>(context);
            p->asked.push_back(Text(section) + L"/" + Text(key));
            return p->agree;
        };
        data.context = &permission;
        CxSkinPositions list;
        EXPECT_EQ(
            CxIniRead(file.c_str(), L"ctl", L"holes", nullptr, CxSkinParsePos, window.hWnd, -1, &list, nullptr, &data),
            c.hr);
        EXPECT_EQ(Positions(list), c.positions);
        // Asked once for each of the two parts that fail.
        const std::vector<std::wstring> asked{L"ctl/holes", L"ctl/holes"};
        EXPECT_EQ(permission.asked, c.asked ? asked : std::vector<std::wstring>{});
        EXPECT_TRUE(owner.asked.empty());
    }

    // Only a record of its own size is taken from a message.
    CxSkinPackData data;
    EXPECT_EQ(CxSkinPackDataFrom(reinterpret_cast<LPARAM>(&data)), &data);
    EXPECT_EQ(CxSkinPackDataFrom(0), nullptr);
    data.size = sizeof(data) - 1;
    EXPECT_EQ(CxSkinPackDataFrom(reinterpret_cast<LPARAM>(&data)), nullptr);
}

class Keys : public CxSkinProps {
public:
    HRESULT Register(std::initializer_list<CxSkinPropEntry> entries)
    {
        CxSkinPropEntries list;
        for (const CxSkinPropEntry& e : entries)
            list.Add(e);
        return GetSkinProps(list);
    }
};

TEST_F(CxSkinPropsTest, ReadsTheRegisteredKeysOfASection)
{
    Owner owner;
    OwnerWindow window(&owner);
    Keys keys;
    CxSkinPositions a;
    CxSkinPositions b;
    CxSkinColors c;
    void* targets[] = {&a, &b, &c};

    // Nothing registered yet.
    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"ctl", file.c_str(), targets, 3, 0, nullptr),
              CX_E_NOTREGISTERED);

    ASSERT_EQ(keys.Register({{L"ctl", L"pos", 1, window.hWnd, CxSkinParsePos},
                             {L"other", L"pos", 1, window.hWnd, CxSkinParsePos},
                             {L"CTL", L"three", -1, window.hWnd, CxSkinParsePos},
                             {L"ctl", L"frgnd", 3, window.hWnd, CxSkinParseColor}}),
              S_OK);
    EXPECT_EQ(keys.GetSkinRecords().GetCount(), 4);
    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"ctl", file.c_str(), targets, 3, 0, nullptr), S_FALSE);
    EXPECT_EQ(Positions(a), L"0,1,-10,18");
    EXPECT_EQ(Positions(b), L"1,2,3,4;5,6,7,8;9,10,11,12");  // section names compare without case
    EXPECT_EQ(c.GetCount(), 3);

    // From a later target; the targets run out before the last key.
    CxSkinPositions d;
    void* fewer[] = {&a, &d};
    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"ctl", file.c_str(), fewer, 2, 1, nullptr), E_ABORT);
    EXPECT_EQ(Positions(d), L"0,1,-10,18");

    // One key only.
    CxSkinPositions e;
    void* one[] = {&e};
    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"ctl", file.c_str(), one, 1, 0, L"three"), S_FALSE);
    EXPECT_EQ(Positions(e), L"1,2,3,4;5,6,7,8;9,10,11,12");

    // A failing key is the result, and the walk goes on.
    ASSERT_EQ(keys.Register({{L"ctl", L"short", 1, window.hWnd, CxSkinParsePos},
                             {L"ctl", L"pos", 1, window.hWnd, CxSkinParsePos}}),
              S_OK);
    CxSkinPositions f;
    CxSkinPositions g;
    void* two[] = {&f, &g};
    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"ctl", file.c_str(), two, 2, 0, nullptr), E_ACCESSDENIED);
    EXPECT_EQ(Positions(g), L"0,1,-10,18");

    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"", file.c_str(), two, 2, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"ctl", L"", two, 2, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"ctl", file.c_str(), nullptr, 2, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"ctl", L"?999,INI", two, 2, 0, nullptr), E_INVALIDARG);
}

TEST_F(CxSkinPropsTest, ReadsSectionsOfTheBuiltInSkin)
{
    Owner owner;
    OwnerWindow window(&owner);
    Keys keys;
    ASSERT_EQ(keys.Register({{L"pc.list", L"pos", 1, window.hWnd, CxSkinParsePos},
                             {L"pc.list", L"bkgnd", 3, window.hWnd, CxSkinParseColor},
                             {L"pc.list.status", L"pos", 1, window.hWnd, CxSkinParsePos}}),
              S_OK);
    CxSkinPositions pos;
    CxSkinColors bkgnd;
    void* targets[] = {&pos, &bkgnd};
    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"pc.list", CX_BUILTIN_SKIN_SPEC, targets, 2, 0, nullptr),
              S_FALSE);
    EXPECT_EQ(Positions(pos), L"301,36,444,89");
    ASSERT_EQ(bkgnd.GetCount(), 3);
    EXPECT_EQ(bkgnd.ElementAt(1).color, RGB(64, 64, 64));
    CxSkinPositions status;
    void* one[] = {&status};
    EXPECT_EQ(CxIniReadSection(keys.GetSkinRecords(), L"pc.list.status", CX_BUILTIN_SKIN_SPEC, one, 1, 0, nullptr),
              S_FALSE);
    EXPECT_EQ(Positions(status), L"0,1,-10,18");
}

// ---- The position component ----

std::vector<UINT> g_moveFlags;

LRESULT CALLBACK ChildProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_WINDOWPOSCHANGING) {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!(pos->flags & SWP_NOMOVE))
            g_moveFlags.push_back(pos->flags);
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

class PosWindow : public CxSkinPos {
public:
    PosWindow() { CxWndLink::Attach(&m_hWnd); }
    int GetPosIndex() override { return index; }
    void SetLow(DWORD set, DWORD clear) { ModifyFlags(set, 0, clear, 0); }
    HWND m_hWnd = nullptr;
    int index = 0;
};

RECT InParent(HWND child)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST_F(CxSkinPropsTest, PlacesTheWindowAtItsPositionPlusTheOffsets)
{
    Owner owner;
    OwnerWindow parent(&owner);
    RegisterTestWindowClass(L"KwepSkinPosChild", ChildProc);
    PosWindow pos;
    pos.m_hWnd = CreateWindowExW(0, L"KwepSkinPosChild", L"", WS_CHILD | WS_VISIBLE, 5, 5, 20, 20, parent.hWnd, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(pos.m_hWnd, nullptr);

    EXPECT_EQ(pos.Apply(FALSE), E_ABORT);  // nothing parsed yet
    EXPECT_EQ(pos.GetAppliedIndex(), -1);

    CxSkinPositions& list = pos.GetPositions();
    list.Add(CxSkinPosition{0, 1, 50, 18, TRUE});
    list.Add(CxSkinPosition{0, 0, 0, 0, FALSE});
    list.Add(CxSkinPosition{30, 40, 60, 70, TRUE});
    pos.AddOffsets(nullptr, nullptr);
    const POINT move{10, 20};
    const SIZE grow{-10, 2};
    pos.AddOffsets(&move, &grow);
    pos.AddOffsets(&move, nullptr);

    g_moveFlags.clear();
    EXPECT_EQ(pos.Apply(TRUE), S_OK);
    RECT r = InParent(pos.m_hWnd);
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.top, 41);
    EXPECT_EQ(r.right - r.left, 40);
    EXPECT_EQ(r.bottom - r.top, 20);
    ASSERT_EQ(g_moveFlags.size(), 1u);
    EXPECT_EQ(g_moveFlags[0] & (SWP_NOREDRAW | SWP_NOCOPYBITS), 0u);
    EXPECT_EQ(pos.GetAppliedIndex(), 0);

    EXPECT_EQ(pos.Apply(TRUE), S_FALSE);   // the same index
    EXPECT_EQ(pos.Apply(FALSE), S_FALSE);  // already there
    EXPECT_EQ(g_moveFlags.size(), 1u);

    pos.index = 1;  // not set: the window stays, and the index applied before is kept
    EXPECT_EQ(pos.Apply(TRUE), E_FAIL);
    EXPECT_EQ(pos.GetAppliedIndex(), 0);
    pos.index = 7;
    EXPECT_EQ(pos.Apply(TRUE), E_INVALIDARG);
    EXPECT_EQ(pos.GetAppliedIndex(), 0);
    EXPECT_EQ(InParent(pos.m_hWnd).left, 20);

    pos.index = 2;
    pos.ZeroOffsets();
    pos.SetLow(CXFL_NOREDRAWMOVE, 0);
    EXPECT_EQ(pos.Apply(TRUE), S_OK);
    r = InParent(pos.m_hWnd);
    EXPECT_EQ(r.left, 30);
    EXPECT_EQ(r.top, 40);
    EXPECT_EQ(r.right - r.left, 60);
    ASSERT_EQ(g_moveFlags.size(), 2u);
    EXPECT_EQ(g_moveFlags[1] & (SWP_NOREDRAW | SWP_NOCOPYBITS), static_cast<UINT>(SWP_NOREDRAW | SWP_NOCOPYBITS));

    CxSkinPosition got{};
    EXPECT_EQ(pos.GetPos(1, &got, FALSE), S_OK);
    EXPECT_EQ(pos.GetPos(1, &got, TRUE), E_FAIL);
    EXPECT_EQ(pos.GetPos(3, &got, FALSE), E_INVALIDARG);
    EXPECT_EQ(pos.GetPos(-1, &got, FALSE), E_INVALIDARG);

    DestroyWindow(pos.m_hWnd);
    pos.index = 0;
    EXPECT_EQ(pos.Apply(TRUE), E_UNEXPECTED);  // the window is gone
    EXPECT_EQ(pos.GetAppliedIndex(), 2);
    pos.ForgetPositions();
    EXPECT_EQ(pos.GetPositions().GetCount(), 0);
    EXPECT_EQ(pos.GetAppliedIndex(), -1);
}

}  // namespace
