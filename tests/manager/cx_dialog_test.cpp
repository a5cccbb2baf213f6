// The skin dialogs and the skinned dialog with real windows: the erase with and without a skin, the hover
// texts handed to the owner (freed exactly once), the hand cursor; the frame keys of a skin section, the
// stretch lines moved by the layout, the background stretched on them (compared pixel for pixel with what
// Pillow computes by the same cell rules), and a shaped dialog with the built-in skin captured from the X
// display and checked for its outline and frame.
#include "manager/framework/skin/cx_dialog.h"
#include "tests/manager/cx_test_pixels.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using cx_test::ArtefactFolder;
using cx_test::Pixels;
using cx_test::ReadBitmap;
using test_support::RunShell;
using test_support::ShellQuote;
using test_support::ShellResult;
using test_support::TempFolder;
using test_support::UnixPath;

constexpr char kPython[] = "/usr/bin/python3";
constexpr char kScript[] = KWEP_STRETCH_SCRIPT;
constexpr char kBuiltInMain[] = KWEP_SKIN_DIR "/main.bmp";
constexpr UINT kDialogTemplate = 201;

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

ShellResult Python(const std::string& arguments)
{
    return RunShell(ShellQuote(kPython) + " " + ShellQuote(kScript) + " " + arguments);
}

// "image:current" pairs, "-" for none.
std::string LineArg(const CxArray<CxSkinGridLine>& lines, bool vertical)
{
    std::string text;
    for (int i = 0; i < lines.GetCount(); ++i) {
        const CxSkinGridLine& l = lines.GetAt(i);
        text +=
            (i ? "," : "") + std::to_string(vertical ? l.skinX : l.skinY) + ":" + std::to_string(vertical ? l.x : l.y);
    }
    return text.empty() ? "-" : text;
}

// What Pillow makes of the image file stretched to the size on the lines.
Pixels Reference(const TempFolder& folder, const std::string& source, SIZE size,
                 const CxArray<CxSkinGridLine>& vertical, const CxArray<CxSkinGridLine>& horizontal)
{
    const std::string out = folder.UnixFile(L"reference.rgb");
    const ShellResult r =
        Python("stretch " + ShellQuote(source) + " " + ShellQuote(out) + " " + std::to_string(size.cx) + " " +
               std::to_string(size.cy) + " " + LineArg(vertical, true) + " " + LineArg(horizontal, false));
    Pixels p;
    if (!r.finished || r.exitCode != 0) {
        ADD_FAILURE() << "the reference script failed (python3-pil must be installed): " << r.err;
        return p;
    }
    std::ifstream in(folder.File(L"reference.rgb"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    p.width = size.cx;
    p.height = size.cy;
    for (size_t i = 0; i + 2 < bytes.size(); i += 3)
        p.rgb.push_back(static_cast<uint32_t>(static_cast<BYTE>(bytes[i])) << 16 |
                        static_cast<uint32_t>(static_cast<BYTE>(bytes[i + 1])) << 8 | static_cast<BYTE>(bytes[i + 2]));
    return p;
}

void ExpectSamePixels(const Pixels& got, const Pixels& want)
{
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    ASSERT_EQ(got.rgb.size(), want.rgb.size());
    for (size_t i = 0; i < got.rgb.size(); ++i)
        ASSERT_EQ(got.rgb[i], want.rgb[i]) << "first difference at " << i % got.width << "," << i / got.width;
}

void AddLine(CxArray<CxSkinGridLine>& lines, int skinX, int skinY, int x, int y)
{
    lines.Add(CxSkinGridLine{skinX, skinY, x, y, 1, 1});
}

// ---- Spreading ----

TEST(CxDialogStretchTest, SpreadLandsTheLastLineOnTheDelta)
{
    struct Case {
        int delta;
        std::vector<int> offsets;
    };
    const Case cases[] = {
        {10, {4, 7, 10}},  // 10 = 3 * 3 + 1: the remainder goes to the first line
        {-5, {-3, -5}},   {9, {3, 6, 9}}, {2, {1, 2, 2}}, {-7, {-2, -4, -6, -7}}, {0, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delta);
        const int n = static_cast<int>(c.offsets.size());
        for (int k = 1; k <= n; ++k)
            EXPECT_EQ(CxSpreadOffset(c.delta, n, k), c.offsets[k - 1]) << "line " << k;
    }
}

// ---- Stretched images against Pillow ----

class CxStretchImageTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::string pattern;
    HBITMAP image = nullptr;

    void SetUp() override
    {
        pattern = folder.UnixFile(L"pattern.bmp");
        const ShellResult r = Python("pattern " + ShellQuote(pattern) + " 100 60");
        ASSERT_TRUE(r.finished && r.exitCode == 0) << r.err;
        ASSERT_EQ(
            CxLoadSkinImage(CX_IMAGE_FILE, folder.File(L"pattern.bmp").c_str(), 0, nullptr, nullptr, nullptr, &image),
            S_OK);
    }
    void TearDown() override { DeleteObject(image); }
};

TEST_F(CxStretchImageTest, CellsAreCopiedAndTheirLastColumnsAndRowsRepeated)
{
    struct Line {
        int skin;
        int current;
    };
    struct Case {
        const char* name;
        std::vector<Line> vertical;
        std::vector<Line> horizontal;
        SIZE target;
    };
    const Case cases[] = {
        // Columns 50-99 go to 60-109, column 49 fills 50-59.
        {"one line moved with the edge", {{50, 60}}, {}, {110, 60}},
        {"wider and taller: the corners grow too", {{30, 40}, {70, 95}}, {{20, 20}, {40, 55}}, {125, 75}},
        {"a narrower cell is overdrawn by the next", {{50, 45}}, {}, {95, 60}},
        {"taller only, as wide as the image", {}, {{30, 45}}, {100, 75}},
        {"no lines: the image itself", {}, {}, {100, 60}},
        {"no lines, larger: the last column and row repeated", {}, {}, {104, 63}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CxArray<CxSkinGridLine> vertical, horizontal;
        for (const Line& l : c.vertical)
            AddLine(vertical, l.skin, 0, l.current, 0);
        for (const Line& l : c.horizontal)
            AddLine(horizontal, 0, l.skin, 0, l.current);
        HBITMAP stretched = nullptr;
        ASSERT_EQ(CxStretchFrameImage(image, vertical, horizontal, c.target, nullptr, &stretched), S_OK);
        ExpectSamePixels(ReadBitmap(stretched), Reference(folder, pattern, c.target, vertical, horizontal));
        DeleteObject(stretched);
    }
    // The edge case as the numbers have it: source column 49 repeated, 50 moved to 60.
    CxArray<CxSkinGridLine> one, none;
    AddLine(one, 50, 0, 60, 0);
    HBITMAP stretched = nullptr;
    ASSERT_EQ(CxStretchFrameImage(image, one, none, SIZE{110, 60}, nullptr, &stretched), S_OK);
    const Pixels got = ReadBitmap(stretched);
    const Pixels source = ReadBitmap(image);
    for (int y : {0, 33, 59}) {
        for (int x = 50; x < 60; ++x)
            EXPECT_EQ(got.At(x, y), source.At(49, y)) << x << "," << y;
        EXPECT_EQ(got.At(60, y), source.At(50, y));
        EXPECT_EQ(got.At(109, y), source.At(99, y));
    }
    DeleteObject(stretched);
    EXPECT_EQ(CxStretchFrameImage(image, one, none, SIZE{0, 60}, nullptr, &stretched), E_INVALIDARG);
    EXPECT_EQ(CxStretchFrameImage(nullptr, one, none, SIZE{10, 10}, nullptr, &stretched), E_INVALIDARG);
}

TEST_F(CxStretchImageTest, TheBuiltInFrameStretchedOnItsGrid)
{
    HBITMAP frame = nullptr;
    ASSERT_EQ(CxLoadSkinImage(CX_IMAGE_RESOURCE, nullptr, 310, L"IMG", nullptr, nullptr, &frame), S_OK);
    CxArray<CxSkinGridLine> vertical, horizontal;
    AddLine(vertical, 495, 0, 595, 0);
    AddLine(horizontal, 0, 68, 0, 68);
    AddLine(horizontal, 0, 339, 0, 389);
    HBITMAP stretched = nullptr;
    ASSERT_EQ(CxStretchFrameImage(frame, vertical, horizontal, SIZE{860, 490}, nullptr, &stretched), S_OK);
    ExpectSamePixels(ReadBitmap(stretched), Reference(folder, kBuiltInMain, SIZE{860, 490}, vertical, horizontal));
    DeleteObject(stretched);
    DeleteObject(frame);
}

// ---- Dialogs ----

class TestSkinDlgEx : public CxSkinDlgEx {
public:
    TestSkinDlgEx() : CxSkinDlgEx(kDialogTemplate, nullptr) {}
    BOOL Map(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, DWORD mapId)
    {
        return PreMap(m_hWnd, message, wParam, lParam, result, mapId);
    }
    int skinPropsCalls = 0;
    HRESULT GetSkinProps(CxSkinPropEntries& list) override
    {
        ++skinPropsCalls;
        return CxSkinDlgEx::GetSkinProps(list);
    }
    void SetGrip(BOOL draw) { m_drawGrip = draw; }
};

// An owner that takes hover texts (answering 1) or leaves them (answering 0).
struct TextOwner {
    HWND hWnd = nullptr;
    LRESULT answer = 1;
    std::vector<std::wstring> texts;

    static LRESULT CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<TextOwner*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (self != nullptr && message == CXM_SETTEXT) {
            auto* text = reinterpret_cast<wchar_t*>(wParam);
            self->texts.push_back(text != nullptr ? text : L"<null>");
            if (self->answer != 0)
                CxFree(text);
            return self->answer;
        }
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
    TextOwner()
    {
        static const wchar_t* cls = RegisterTestWindowClass(L"KwepTextOwner", Proc);
        hWnd = CreateWindowExW(0, cls, L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~TextOwner() { DestroyWindow(hWnd); }
};

TEST(CxSkinDlgTest, HoverTextsGoToTheOwnerAndAreFreedOnce)
{
    TextOwner owner;
    TestSkinDlgEx dlg;
    CWnd ownerWnd;
    ownerWnd.Attach(owner.hWnd);
    ASSERT_TRUE(dlg.Create(kDialogTemplate, &ownerWnd));
    ownerWnd.Detach();
    ASSERT_EQ(GetParent(dlg.m_hWnd), owner.hWnd);
    // Set up: the hand cursor and the skin keys.
    EXPECT_EQ(dlg.GetCursor(), LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));
    EXPECT_GE(dlg.skinPropsCalls, 1);

    const long blocks = CxAllocCount();
    for (LRESULT answer : {1, 0}) {
        SCOPED_TRACE(answer);
        owner.answer = answer;
        wchar_t* copy = nullptr;
        ASSERT_EQ(CxStrDup(&copy, L"hover"), S_OK);
        ASSERT_EQ(CxPostMessage(dlg.m_hWnd, CXM_SETTEXT, reinterpret_cast<WPARAM>(copy), 7), S_OK);
        Pump();
        // The owner saw it either way; whoever took it freed it, and nothing else did.
        ASSERT_FALSE(owner.texts.empty());
        EXPECT_EQ(owner.texts.back(), L"hover");
        EXPECT_EQ(CxAllocCount(), blocks);
    }
    // The answer is nonzero in both cases: the dialog took the text.
    for (LRESULT answer : {5, 0}) {
        owner.answer = answer;
        wchar_t* copy = nullptr;
        ASSERT_EQ(CxStrDup(&copy, L"sent"), S_OK);
        EXPECT_EQ(SendMessageW(dlg.m_hWnd, CXM_SETTEXT, reinterpret_cast<WPARAM>(copy), 0), answer != 0 ? answer : 1);
        EXPECT_EQ(CxAllocCount(), blocks);
    }
    // Only map id 0 handles anything.
    LRESULT result = 99;
    EXPECT_FALSE(dlg.Map(CXM_SETTEXT, 0, 0, result, CX_MAPID_OWN));
    EXPECT_FALSE(dlg.Map(CXM_GETREGION, 0, 0, result, CX_MAPID_SKIN));
    EXPECT_EQ(result, 99);
    dlg.DestroyWindow();
}

TEST(CxSkinDlgTest, WithoutASkinTheDialogErasesLikeAPlainOneAndDrawsItsGrip)
{
    TestSkinDlgEx dlg;
    ASSERT_TRUE(dlg.Create(kDialogTemplate, nullptr));
    dlg.SetGrip(TRUE);
    RECT client{};
    GetClientRect(dlg.m_hWnd, &client);
    CxMemDC target(dlg.m_hWnd);
    ASSERT_EQ(target.CreateDIB(SIZE{client.right, client.bottom}, 32, RGB(1, 2, 3)), S_OK);
    EXPECT_NE(SendMessageW(dlg.m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(target.GetSafeHdc()), 0), 0);
    GdiFlush();
    const Pixels erased = ReadBitmap(target.GetBitmap());
    const uint32_t face = GetSysColor(COLOR_3DFACE);
    const uint32_t faceRgb = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
    EXPECT_EQ(erased.At(5, 5), faceRgb);  // the dialog's own background, not the target's colour
    // The grip's corner differs from the face somewhere.
    bool gripDrawn = false;
    for (int y = client.bottom - 12; y < client.bottom; ++y)
        for (int x = client.right - 12; x < client.right; ++x)
            gripDrawn |= erased.At(x, y) != faceRgb;
    EXPECT_TRUE(gripDrawn);
    dlg.DestroyWindow();
}

// A skinned dialog over the test resources.
class TestDialog : public CxDialog {
public:
    TestDialog() : CxDialog(kDialogTemplate, nullptr) {}
    int stretchLayouts = 0;
    HRESULT stretchResult = S_OK;
    HRESULT OnStretchLayout(UINT edges, const RECT& newRect) override
    {
        ++stretchLayouts;
        CxDialog::OnStretchLayout(edges, newRect);
        return stretchResult;
    }
    void SetFlags(DWORD setLow, DWORD setHigh, DWORD clearLow = 0, DWORD clearHigh = 0)
    {
        ModifyFlags(setLow, setHigh, clearLow, clearHigh);
    }
    RECT& BaseRect() { return m_baseRect; }
};

std::vector<int> Positions(const CxArray<CxSkinGridLine>& lines, bool vertical, bool current = true)
{
    std::vector<int> out;
    for (int i = 0; i < lines.GetCount(); ++i) {
        const CxSkinGridLine& l = lines.GetAt(i);
        out.push_back(vertical ? (current ? l.x : l.skinX) : (current ? l.y : l.skinY));
    }
    return out;
}

class CxDialogTest : public ::testing::Test {
protected:
    TempFolder folder;
    TestDialog dlg;

    void SetUp() override
    {
        const ShellResult r = Python("pattern " + ShellQuote(folder.UnixFile(L"frame.bmp")) + " 100 60");
        ASSERT_TRUE(r.finished && r.exitCode == 0) << r.err;
        const std::string frame = folder.File(L"frame.bmp").string();
        std::ofstream(folder.File(L"skin.ini"))
            << "[lines]\nimg=" << frame << "\ngrip=15,15\ngrid=70,0,1,1|0,40,0,1|30,0,0,1|0,0,1,1|0,20,1,0\n"
            << "[equal]\nimg=" << frame << "\ngrid=30,0,1,0|30,0,0,1|20,0,1,1\n"
            << "[plain]\nimg=" << frame << "\n"
            << "[three]\nimg=" << frame << "\ngrid=20,0,1,1|40,0,1,1|60,0,1,1\n"
            << "[close]\nimg=" << frame << "\ngrid=40,0,0,1|50,0,1,0\n";
        dlg.SetFlags(0, CXFH_STRETCH);
        ASSERT_TRUE(dlg.Create(kDialogTemplate, nullptr));
    }
    void TearDown() override { dlg.DestroyWindow(); }

    HRESULT Apply(const wchar_t* section)
    {
        dlg.SetSkinSection(section);
        CxSkinPropEntries list;
        dlg.GetSkinProps(list);
        const std::wstring file = folder.File(L"skin.ini").wstring();
        return dlg.ApplySkinSection(file.c_str());
    }
    RECT WindowRect()
    {
        RECT r{};
        GetWindowRect(dlg.m_hWnd, &r);
        return r;
    }
    RECT Grown(int dx, int dy)
    {
        RECT r = WindowRect();
        r.right += dx;
        r.bottom += dy;
        return r;
    }
};

TEST_F(CxDialogTest, FrameKeysGiveTheImageTheGripAndSortedLines)
{
    ASSERT_EQ(Apply(L"lines"), S_OK);
    // "0,0,1,1" is dropped; vertical lines sorted by x, horizontal by y.
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{30, 70}));
    EXPECT_EQ(Positions(dlg.GetHorizontalLines(), false), (std::vector<int>{20, 40}));
    // 30,0,0,1 moves only with the second edge.
    EXPECT_EQ(dlg.GetVerticalLines().GetAt(0).a, 0);
    EXPECT_EQ(dlg.GetVerticalLines().GetAt(0).b, 1);
    EXPECT_EQ(dlg.GetGrip().set, 1);
    EXPECT_EQ(dlg.GetGrip().cx, 15);
    // The window is the image's size, and its frame styles are gone.
    RECT client{};
    GetClientRect(dlg.m_hWnd, &client);
    EXPECT_EQ(client.right, 100);
    EXPECT_EQ(client.bottom, 60);
    EXPECT_EQ(GetWindowLongW(dlg.m_hWnd, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);
    EXPECT_EQ(dlg.GetRequestedFrameSize().cx, 100);  // CXM_PRESIZE came first
    // Equal positions keep their order.
    ASSERT_EQ(Apply(L"equal"), S_OK);
    ASSERT_EQ(dlg.GetVerticalLines().GetCount(), 3);
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{20, 30, 30}));
    EXPECT_EQ(dlg.GetVerticalLines().GetAt(1).a, 1);
    EXPECT_EQ(dlg.GetVerticalLines().GetAt(2).b, 1);
    // Without "grid" and "grip": no lines, no grip, and only the base layout runs.
    ASSERT_EQ(Apply(L"plain"), S_OK);
    EXPECT_EQ(dlg.GetVerticalLines().GetCount() + dlg.GetHorizontalLines().GetCount(), 0);
    EXPECT_EQ(dlg.GetGrip().set, 0);
    EXPECT_EQ(dlg.GetGrip().cx, -100);
    RECT grown = Grown(10, 0);
    EXPECT_EQ(dlg.RepositionControls(CX_EDGE_RIGHT, dlg.BaseRect(), grown), CX_E_NOTREGISTERED);
    EXPECT_EQ(dlg.stretchLayouts, 0);
    // Through the skin-file message.
    const std::wstring file = folder.File(L"skin.ini").wstring();
    dlg.SetSkinSection(L"three");
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, CXM_INITSKIN, 0, 0), 1);  // the keys of the new section
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(file.c_str()), 0), 1);
    EXPECT_EQ(dlg.GetVerticalLines().GetCount(), 3);
}

TEST_F(CxDialogTest, TheSkinBackgroundIsTheEraseOfAShapedDialog)
{
    ASSERT_EQ(Apply(L"plain"), S_OK);
    ASSERT_TRUE(dlg.GetLow() & CXFL_SKINREGION);
    const Pixels image = ReadBitmap(dlg.GetBackground());
    CxMemDC target(dlg.m_hWnd);
    ASSERT_EQ(target.CreateDIB(SIZE{100, 60}, 32, RGB(1, 2, 3)), S_OK);
    // Not while a new background is being stored.
    dlg.SetFlags(CXFL_BKGNDBLOCKED, 0);
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(target.GetSafeHdc()), 0), TRUE);
    GdiFlush();
    EXPECT_EQ(ReadBitmap(target.GetBitmap()).At(50, 30), 0x010203u);
    dlg.SetFlags(0, 0, CXFL_BKGNDBLOCKED);
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(target.GetSafeHdc()), 0), TRUE);
    GdiFlush();
    ExpectSamePixels(ReadBitmap(target.GetBitmap()), image);
    // A flags change applies the frame image again only when its state changed: the size stays.
    SetWindowPos(dlg.m_hWnd, nullptr, 0, 0, 120, 70, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, CXM_FLAGSCHANGED, 0, 0), 1);
    RECT client{};
    GetClientRect(dlg.m_hWnd, &client);
    EXPECT_EQ(client.right, 120);
}

TEST_F(CxDialogTest, LinesMoveWithTheirEdgesAndKeepTheirDistances)
{
    ASSERT_EQ(Apply(L"lines"), S_OK);
    SIZE delta{};
    RECT same = WindowRect();
    EXPECT_EQ(dlg.GetFrameDelta(&delta, same), S_FALSE);  // the image's size: nothing moves
    RECT grown = Grown(10, 6);
    ASSERT_EQ(dlg.GetFrameDelta(&delta, grown), S_OK);
    EXPECT_EQ(delta.cx, 10);
    EXPECT_EQ(delta.cy, 6);

    // Right and bottom edges: lines with b move (x 30 and 70; y 40 but not 20).
    ASSERT_EQ(dlg.RepositionControls(CX_EDGE_RIGHT | CX_EDGE_BOTTOM, dlg.BaseRect(), grown), CX_E_NOTREGISTERED);
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{40, 80}));
    EXPECT_EQ(Positions(dlg.GetHorizontalLines(), false), (std::vector<int>{20, 46}));
    EXPECT_EQ(dlg.stretchLayouts, 1);
    EXPECT_TRUE(dlg.GetHigh() & CXFH_BKGNDSTALE);
    // The same size again (the window's WM_SIZE after the drag) moves nothing a second time.
    RECT again = grown;
    dlg.RepositionControls(CX_EDGES_RESTORED, dlg.BaseRect(), again);
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{40, 80}));
    EXPECT_EQ(Positions(dlg.GetHorizontalLines(), false), (std::vector<int>{20, 46}));
    EXPECT_EQ(dlg.stretchLayouts, 1);

    // The painted background is rebuilt on the lines, against Pillow's.
    SetWindowPos(dlg.m_hWnd, nullptr, 0, 0, grown.right - grown.left, grown.bottom - grown.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    dlg.SetFlags(0, CXFH_BKGNDSTALE);  // the move above laid out nothing new
    CxMemDC target(dlg.m_hWnd);
    ASSERT_EQ(target.CreateDIB(SIZE{110, 66}, 32, RGB(0, 0, 0)), S_OK);
    ASSERT_EQ(dlg.OnPaintBackground(target.GetSafeHdc()), S_OK);
    EXPECT_FALSE(dlg.GetHigh() & CXFH_BKGNDSTALE);
    ExpectSamePixels(ReadBitmap(dlg.GetBackground()), Reference(folder, folder.UnixFile(L"frame.bmp"), SIZE{110, 66},
                                                                dlg.GetVerticalLines(), dlg.GetHorizontalLines()));
    // Now the background is the reference: shrinking back moves the lines home.
    RECT home = Grown(-10, -6);
    dlg.RepositionControls(CX_EDGE_RIGHT | CX_EDGE_BOTTOM, dlg.BaseRect(), home);
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{30, 70}));

    // The left edge moves only the line with a (70), and a failing stretch hook keeps the background.
    ASSERT_EQ(Apply(L"lines"), S_OK);
    dlg.stretchResult = E_FAIL;
    RECT left = Grown(5, 0);
    dlg.RepositionControls(CX_EDGE_LEFT, dlg.BaseRect(), left);
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{30, 75}));
    EXPECT_FALSE(dlg.GetHigh() & CXFH_BKGNDSTALE);
}

TEST_F(CxDialogTest, ShrinkingStopsAtTheImagesDistances)
{
    // 40 moves with the right edge, 50 with the left: shrinking by the right edge would bring 40 to 20.
    ASSERT_EQ(Apply(L"close"), S_OK);
    RECT shrunk = Grown(-20, 0);
    const LONG right = shrunk.right;
    dlg.RepositionControls(CX_EDGE_RIGHT, dlg.BaseRect(), shrunk);
    // The first line may not come closer than 40 to the left edge, so the window grows back by 20; the
    // second, not moving, keeps its 10 from the first.
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{40, 50}));
    EXPECT_EQ(shrunk.right, right + 20);
}

TEST_F(CxDialogTest, SpreadingMovesTheLastLineExactlyWithTheWindow)
{
    ASSERT_EQ(Apply(L"three"), S_OK);
    RECT grown = Grown(10, 0);
    dlg.RepositionControls(CX_EDGE_RIGHT | 0x20, dlg.BaseRect(), grown);
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{24, 47, 70}));
    // The last cell keeps its width: the last line moved by exactly the growth.
    EXPECT_EQ(100 + 10 - dlg.GetVerticalLines().GetAt(2).x, 100 - 60);
    // The window never took that size: the next paint lays the lines out against the size it has, then
    // rebuilds the background, which is the image again.
    CxMemDC target(dlg.m_hWnd);
    ASSERT_EQ(target.CreateDIB(SIZE{100, 60}, 32, RGB(0, 0, 0)), S_OK);
    ASSERT_EQ(dlg.OnPaintBackground(target.GetSafeHdc()), S_OK);
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{20, 40, 60}));
    ExpectSamePixels(ReadBitmap(dlg.GetBackground()), Reference(folder, folder.UnixFile(L"frame.bmp"), SIZE{100, 60},
                                                                dlg.GetVerticalLines(), dlg.GetHorizontalLines()));
    // CXM_REPOSITION lays out with every edge and spreading; a null rectangle does nothing.
    ASSERT_EQ(Apply(L"three"), S_OK);
    RECT shrunk = Grown(-5, 0);
    SendMessageW(dlg.m_hWnd, CXM_REPOSITION, 0, 0);
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{20, 40, 60}));
    SendMessageW(dlg.m_hWnd, CXM_REPOSITION, reinterpret_cast<WPARAM>(&shrunk), 0);
    // -5 over three: -2, -4, -5; no line comes closer to the one before than in the image, so the first
    // stops at 20 and the rest keep their 20 from it.
    EXPECT_EQ(Positions(dlg.GetVerticalLines(), true), (std::vector<int>{20, 40, 60}));
}

// ---- The built-in skin on the X display ----

// A plain window of one colour behind the dialog, so that what the region leaves out shows.
class Backdrop {
public:
    static constexpr COLORREF kColour = RGB(0, 255, 0);
    Backdrop()
    {
        static const wchar_t* cls = RegisterTestWindowClass(L"KwepBackdrop", DefWindowProcW, CreateSolidBrush(kColour));
        hWnd = CreateWindowExW(0, cls, L"backdrop", WS_POPUP | WS_VISIBLE, 0, 0, 1100, 800, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        UpdateWindow(hWnd);
    }
    ~Backdrop() { DestroyWindow(hWnd); }
    HWND hWnd;
};

// The pixels at the points of a dump of an X window (the root, or the window of that name), kept as an
// artefact of the run.
std::vector<uint32_t> Capture(const std::string& name, const std::string& window, const std::vector<POINT>& points)
{
    const std::filesystem::path folder = ArtefactFolder();
    const std::string xwd = UnixPath(folder / (name + ".xwd"));
    const std::string png = UnixPath(folder / (name + ".png"));
    std::string args;
    for (const POINT& p : points)
        args += " " + std::to_string(p.x) + " " + std::to_string(p.y);
    const std::string dump = window.empty() ? "xwd -silent -root -out " + ShellQuote(xwd)
                                            : "id=$(xdotool search --onlyvisible --name " + ShellQuote(window) +
                                                  " | head -n1) && test -n \"$id\" && xwd -silent -id \"$id\" -out " +
                                                  ShellQuote(xwd);
    const ShellResult r = RunShell(dump + " && " + ShellQuote(kPython) + " " + ShellQuote(kScript) + " xwd_probe " +
                                   ShellQuote(xwd) + " " + ShellQuote(png) + args);
    std::vector<uint32_t> colours;
    if (!r.finished || r.exitCode != 0) {
        ADD_FAILURE() << "capture failed: " << r.err;
        return colours;
    }
    std::istringstream in(r.out);
    int red, green, blue;
    while (in >> red >> green >> blue)
        colours.push_back(static_cast<uint32_t>(red) << 16 | static_cast<uint32_t>(green) << 8 | blue);
    return colours;
}

void Settle(HWND hWnd)
{
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
    Pump();
    SendMessageW(hWnd, WM_NULL, 0, 0);
}

// On the screen the backdrop shows where the region cuts the frame (its key colour) and nowhere else; the
// window holds the stretched frame where the skin puts it. Two dumps: under Xvfb a dump of the root shows
// the outline of Wine's windows but not what they drew (a plain dialog reads back black there too), so
// the frame's pixels are read from the window's own dump.
void ExpectOnScreen(const std::string& name, HWND dialog, const TempFolder& folder, const CxDialog& dlg)
{
    ASSERT_TRUE(test_support::HostHasProgram("xwd"));
    ASSERT_TRUE(test_support::HostHasProgram("xdotool"));
    RECT window{};
    GetWindowRect(dialog, &window);
    const SIZE size{window.right - window.left, window.bottom - window.top};
    const Pixels frame = Reference(folder, kBuiltInMain, size, dlg.GetVerticalLines(), dlg.GetHorizontalLines());
    ASSERT_EQ(frame.width, size.cx);
    const int w = size.cx, h = size.cy;
    // Corners, edges and caption, the status band, the grip and the middle.
    const std::vector<POINT> local = {{0, 0},         {w - 1, 0},       {0, h - 1},     {w - 1, h - 1},
                                      {2, 1},         {w / 2, 0},       {0, h / 2},     {w - 1, h / 2},
                                      {w / 2, h - 1}, {w / 2, 30},      {20, 30},       {w / 2, 67},
                                      {w / 2, h / 3}, {w - 10, h - 10}, {w - 7, h - 7}, {w / 2, h - 20}};
    // The dialog's button is drawn over the frame (its top-left corner, inside its border).
    RECT button{};
    GetWindowRect(GetDlgItem(dialog, IDOK), &button);
    const POINT onButton{button.left - window.left + 1, button.top - window.top + 1};
    std::vector<POINT> screen;
    for (const POINT& p : local)
        screen.push_back(POINT{window.left + p.x, window.top + p.y});
    const std::vector<uint32_t> onScreen = Capture(name + "_screen", "", screen);
    wchar_t title[64] = {};
    GetWindowTextW(dialog, title, 64);
    std::vector<POINT> windowPoints = local;
    windowPoints.push_back(onButton);
    const std::vector<uint32_t> inWindow = Capture(name, std::string(title, title + wcslen(title)), windowPoints);
    ASSERT_EQ(onScreen.size(), local.size());
    ASSERT_EQ(inWindow.size(), local.size() + 1);
    EXPECT_NE(inWindow.back(), frame.At(onButton.x, onButton.y));
    const uint32_t key = 0xFF00FF;
    const uint32_t backdrop = 0x00FF00;
    // The first four points are the corners, which the rounding cuts.
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(frame.At(local[i].x, local[i].y), key) << i;
    for (size_t i = 0; i < local.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "at " << local[i].x << "," << local[i].y);
        const uint32_t want = frame.At(local[i].x, local[i].y);
        if (want == key) {
            EXPECT_EQ(onScreen[i], backdrop);
        } else {
            EXPECT_NE(onScreen[i], backdrop);
            EXPECT_EQ(inWindow[i], want);
        }
    }
}

// An owner that names its skin file (CXM_GETSKINFILE, a heap copy the asker frees).
LRESULT CALLBACK SkinOwnerProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == CXM_GETSKINFILE) {
        CxStrDup(reinterpret_cast<wchar_t**>(wParam), CX_BUILTIN_SKIN_SPEC);
        return 1;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST(CxDialogSkinFileTest, ADialogTakesItsOwnersSkinWhenCreated)
{
    HWND owner = CreateWindowExW(0, RegisterTestWindowClass(L"KwepSkinOwner", SkinOwnerProc), L"", WS_POPUP, 0, 0, 10,
                                 10, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(owner, nullptr);
    const long blocks = CxAllocCount();
    {
        TestDialog dlg;
        dlg.SetSkinSection(L"main");
        CWnd ownerWnd;
        ownerWnd.Attach(owner);
        ASSERT_TRUE(dlg.Create(kDialogTemplate, &ownerWnd));
        ownerWnd.Detach();
        EXPECT_TRUE(dlg.GetLow() & CXFL_SKINREGION);
        RECT client{};
        GetClientRect(dlg.m_hWnd, &client);
        EXPECT_EQ(client.right, 760);
        EXPECT_EQ(client.bottom, 440);
        EXPECT_EQ(dlg.GetVerticalLines().GetCount(), 1);
        dlg.DestroyWindow();
    }
    EXPECT_EQ(CxAllocCount(), blocks);  // the owner's copy was freed
    DestroyWindow(owner);
}

TEST(CxDialogScreenTest, TheBuiltInSkinShapesAndStretchesTheDialog)
{
    TempFolder folder;
    Backdrop backdrop;
    TestDialog dlg;
    dlg.SetFlags(0, CXFH_STRETCH);
    dlg.SetSkinSection(L"main");
    ASSERT_TRUE(dlg.Create(kDialogTemplate, nullptr));
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(CX_BUILTIN_SKIN_SPEC), 0), 1);
    EXPECT_EQ(dlg.GetGrip().set, 1);
    ASSERT_EQ(dlg.GetVerticalLines().GetCount(), 1);
    ASSERT_EQ(dlg.GetHorizontalLines().GetCount(), 2);
    SetWindowPos(dlg.m_hWnd, HWND_TOP, 100, 80, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    RECT window{};
    GetWindowRect(dlg.m_hWnd, &window);
    EXPECT_EQ(window.right - window.left, 760);
    EXPECT_EQ(window.bottom - window.top, 440);
    Settle(dlg.m_hWnd);
    ExpectOnScreen("skinned_dialog", dlg.m_hWnd, folder, dlg);

    // Dragged larger by the bottom-right corner: the frame stretches on its lines and keeps its outline.
    RECT drag = window;
    drag.right += 100;
    drag.bottom += 50;
    SendMessageW(dlg.m_hWnd, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&drag));
    SetWindowPos(dlg.m_hWnd, nullptr, drag.left, drag.top, drag.right - drag.left, drag.bottom - drag.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(dlg.GetVerticalLines().GetAt(0).x, 595);
    EXPECT_EQ(dlg.GetHorizontalLines().GetAt(0).y, 68);
    EXPECT_EQ(dlg.GetHorizontalLines().GetAt(1).y, 389);
    Settle(dlg.m_hWnd);
    ExpectOnScreen("skinned_dialog_stretched", dlg.m_hWnd, folder, dlg);
    dlg.DestroyWindow();
}

}  // namespace
