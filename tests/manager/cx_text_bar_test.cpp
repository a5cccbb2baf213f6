// The text bar on a parent that names its skin section, hands out its skin file and font and paints a
// plain background: the marquee driven tick by tick (the timer message is sent, never waited for), its
// copies found in the painted pixels, the font fitted to the bar, placement under a buddy, the override
// text, and the skin colour against system colour changes.
#include "manager/controls/bars/cx_text_bar.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr COLORREF kBackground = RGB(0, 0, 64);
constexpr int kBarWidth = 200;
constexpr int kBarHeight = 18;

// What the parent answers: the section of control 300, the skin file, its font, and its background.
struct ParentState {
    std::wstring skinFile;
    HFONT font = nullptr;
    std::vector<std::vector<int>> painted;  // the parts CXM_PAINTBKGND asked for
};
ParentState g_parent;

LRESULT CALLBACK ParentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case CXM_GETSKINSECTION:
        if (wParam == 300 + 2 && lParam != 0)
            *reinterpret_cast<const wchar_t**>(lParam) = L"bar";
        return 1;
    case CXM_GETSKINFILE:
        if (g_parent.skinFile.empty())
            return 0;
        CxStrDup(reinterpret_cast<wchar_t**>(wParam), g_parent.skinFile.c_str());
        return 1;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(g_parent.font);
    case CXM_PAINTBKGND: {
        const int* part = reinterpret_cast<const int*>(lParam);
        g_parent.painted.push_back(part != nullptr ? std::vector<int>(part, part + 4) : std::vector<int>());
        HBRUSH brush = CreateSolidBrush(kBackground);
        RECT all{0, 0, part != nullptr ? part[2] : 0, part != nullptr ? part[3] : 0};
        FillRect(reinterpret_cast<HDC>(wParam), &all, brush);
        DeleteObject(brush);
        return TRUE;
    }
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

const wchar_t* ParentClass()
{
    static const wchar_t* name = RegisterTestWindowClass(L"KwepTextBarParent", ParentProc);
    return name;
}

class TextBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_parent = ParentState();
        g_parent.font =
            CreateFontW(-MulDiv(8, 96, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
        parent = CreateWindowExW(0, ParentClass(), L"parent", WS_OVERLAPPEDWINDOW, 30, 30, 400, 300, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(parent);
        DeleteObject(g_parent.font);
    }

    // A skin file with the bar's section.
    void WriteSkin(const std::string& section)
    {
        const std::filesystem::path file = folder.File("skin.ini");
        std::ofstream(file, std::ios::binary) << "[bar]\r\n" << section;
        g_parent.skinFile = file.wstring();
    }

    bool CreateBar(CxTextBarCtrl& bar, int height = kBarHeight, int id = 300)
    {
        const RECT rect{10, 20, 10 + kBarWidth, 20 + height};
        return bar.Create(parent, rect, static_cast<UINT>(id)) != FALSE;
    }

    test_support::TempFolder folder;
    HWND parent = nullptr;
};

int CharHeight(HFONT font)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    DeleteDC(dc);
    return tm.tmHeight - tm.tmInternalLeading;
}

// The pixels a bar paints (0xRRGGBB, top row first).
std::vector<DWORD> Painted(CxTextBarCtrl& bar)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kBarWidth;
    info.bmiHeader.biHeight = -kBarHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP target = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, target);
    EXPECT_EQ(bar.Paint(dc), S_OK);
    GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    std::vector<DWORD> out(pixels, pixels + kBarWidth * kBarHeight);
    for (DWORD& p : out)
        p &= 0xFFFFFF;
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(target);
    return out;
}

DWORD Rgb(COLORREF colour)
{
    return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

// The columns of a painted bar that hold text pixels (any pixel that is not the background).
std::set<int> TextColumns(CxTextBarCtrl& bar, COLORREF background = kBackground)
{
    const std::vector<DWORD> pixels = Painted(bar);
    std::set<int> columns;
    for (int y = 0; y < kBarHeight; ++y) {
        for (int x = 0; x < kBarWidth; ++x) {
            if (pixels[y * kBarWidth + x] != Rgb(background))
                columns.insert(x);
        }
    }
    return columns;
}

TEST_F(TextBarTest, MarqueeMovesTwoPixelsATickAndRepeatsAcrossTheBar)
{
    WriteSkin("pos=10,20,200,18\r\nfrgnd=255,255,255\r\n");
    CxTextBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar));
    ASSERT_EQ(bar.SetText(L"Wi", TRUE), S_OK);  // far narrower than the bar: it scrolls all the same
    EXPECT_TRUE(bar.IsScrollTimerRunning());
    const int width = bar.GetTextWidth();
    ASSERT_GT(width, 0);
    ASSERT_LT(width + CX_TEXTBAR_GAP, kBarWidth / 2);
    EXPECT_EQ(bar.GetTextColor(), RGB(255, 255, 255));

    // The copies: one every width + 20 pixels from the offset on, as many as start inside the bar.
    auto check = [&](const char* when) -> std::set<int> {
        SCOPED_TRACE(when);
        const std::set<int> columns = TextColumns(bar);
        EXPECT_FALSE(columns.empty());
        const int step = width + CX_TEXTBAR_GAP;
        std::set<int> copies;
        for (int x : columns) {
            const int k = (x - bar.GetScrollOffset()) / step;
            const int inCopy = (x - bar.GetScrollOffset()) % step;
            EXPECT_LE(inCopy, width) << "column " << x << " lies in a gap";
            copies.insert(k);
        }
        int expected = 0;
        for (int left = bar.GetScrollOffset(); left < kBarWidth; left += step)
            ++expected;
        EXPECT_EQ(static_cast<int>(copies.size()), expected);
        return columns;
    };
    const std::set<int> first = check("at the start");
    ASSERT_EQ(bar.GetScrollOffset(), 0);

    SendMessageW(bar.m_hWnd, WM_TIMER, CX_TEXTBAR_TIMER, 0);
    EXPECT_EQ(bar.GetScrollOffset(), -CX_TEXTBAR_STEP);
    EXPECT_TRUE(bar.IsScrollTimerRunning());
    const std::set<int> second = check("after one tick");
    // Every column of the second picture is one of the first, two pixels to the left.
    for (int x : second) {
        if (x + CX_TEXTBAR_STEP < kBarWidth) {
            EXPECT_TRUE(first.count(x + CX_TEXTBAR_STEP)) << x;
        }
    }

    // Once the text has left the bar it comes back 20 pixels from the left edge.
    std::vector<int> offsets;
    for (int tick = 0; tick < width; ++tick) {
        SendMessageW(bar.m_hWnd, WM_TIMER, CX_TEXTBAR_TIMER, 0);
        offsets.push_back(bar.GetScrollOffset());
        if (offsets.back() > 0)
            break;
    }
    ASSERT_GE(offsets.size(), 2u);
    EXPECT_EQ(offsets.back(), CX_TEXTBAR_GAP);
    EXPECT_GT(offsets[offsets.size() - 2], -width);
    EXPECT_LE(offsets[offsets.size() - 2] - CX_TEXTBAR_STEP, -width);
    check("after the wrap");

    // Other timers are not the marquee's.
    SendMessageW(bar.m_hWnd, WM_TIMER, 77, 0);
    EXPECT_EQ(bar.GetScrollOffset(), CX_TEXTBAR_GAP);

    // The background is the parent's, asked for the bar's place in the parent.
    ASSERT_FALSE(g_parent.painted.empty());
    EXPECT_EQ(g_parent.painted.back(), (std::vector<int>{10, 20, kBarWidth, kBarHeight}));

    bar.DestroyWindow();
    EXPECT_FALSE(bar.IsScrollTimerRunning());
}

TEST_F(TextBarTest, ScrollFlagChangesTheFormatForGoodAndAnEmptyTextStartsNoTimer)
{
    CxTextBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar));
    EXPECT_EQ(bar.GetFormat(), CX_TEXTBAR_FORMAT);
    EXPECT_EQ(bar.SetText(L"plain", FALSE), S_OK);
    EXPECT_EQ(bar.GetFormat(), CX_TEXTBAR_FORMAT);
    EXPECT_FALSE(bar.IsScrollTimerRunning());
    EXPECT_EQ(bar.SetText(L"", TRUE), S_FALSE);
    EXPECT_FALSE(bar.IsScrollTimerRunning());
    EXPECT_EQ(bar.GetFormat(), CX_TEXTBAR_FORMAT & ~static_cast<UINT>(DT_VCENTER | DT_END_ELLIPSIS));
    EXPECT_EQ(bar.SetText(L"moving", TRUE), S_OK);
    EXPECT_TRUE(bar.IsScrollTimerRunning());
    SendMessageW(bar.m_hWnd, WM_TIMER, CX_TEXTBAR_TIMER, 0);
    EXPECT_EQ(bar.SetText(L"still", FALSE), S_OK);  // stops the marquee and starts over at 0
    EXPECT_FALSE(bar.IsScrollTimerRunning());
    EXPECT_EQ(bar.GetScrollOffset(), 0);
    EXPECT_EQ(bar.GetFormat(), CX_TEXTBAR_FORMAT & ~static_cast<UINT>(DT_VCENTER | DT_END_ELLIPSIS));
    SendMessageW(bar.m_hWnd, WM_TIMER, CX_TEXTBAR_TIMER, 0);  // a late tick moves nothing
    EXPECT_EQ(bar.GetScrollOffset(), 0);
    EXPECT_FALSE(bar.IsScrollTimerRunning());
}

TEST_F(TextBarTest, ScrollAskedBeforeTheWindowStartsWhenTheFontIsSetUp)
{
    CxTextBarCtrl bar;
    EXPECT_EQ(bar.SetText(L"early", TRUE), S_FALSE);
    EXPECT_FALSE(bar.IsScrollTimerRunning());
    ASSERT_TRUE(CreateBar(bar));  // WM_CREATE loads the skin, and the parent's font with it
    EXPECT_TRUE(bar.IsScrollTimerRunning());
    EXPECT_GT(bar.GetTextWidth(), 0);
    LOGFONTW held{};
    ASSERT_NE(bar.GetFont(), nullptr);
    ASSERT_EQ(GetObjectW(bar.GetFont(), sizeof held, &held), static_cast<int>(sizeof held));
    EXPECT_EQ(held.lfHeight, -MulDiv(8, 96, 72));
}

TEST_F(TextBarTest, FontShrinksToTheBarsHeight)
{
    const int parentHeight = CharHeight(g_parent.font);
    struct Case {
        int height;
        HRESULT result;
        int charHeight;  // of the bar's font afterwards
    };
    const Case cases[] = {
        {18, S_OK, parentHeight},  // room enough: kept
        {10, S_OK, 8},
        {2, CX_E_NOTREGISTERED, parentHeight},  // no room at all: nothing changes
        {1, CX_E_NOTREGISTERED, parentHeight},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        CxTextBarCtrl bar;
        ASSERT_TRUE(CreateBar(bar, c.height));
        EXPECT_EQ(bar.SetFont(g_parent.font), c.result);
        ASSERT_NE(bar.GetFont(), nullptr);
        EXPECT_NE(bar.GetFont(), g_parent.font);
        if (c.charHeight == 8)
            EXPECT_LE(CharHeight(bar.GetFont()), 8);
        else
            EXPECT_EQ(CharHeight(bar.GetFont()), c.charHeight);
    }
}

TEST_F(TextBarTest, PlacesItselfUnderItsBuddy)
{
    HWND list = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 40, 50, 120, 60, parent, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    CxTextBarCtrl bar;
    EXPECT_EQ(bar.PlaceUnderBuddy(), S_FALSE);  // no window yet
    ASSERT_TRUE(CreateBar(bar));
    EXPECT_EQ(bar.PlaceUnderBuddy(), S_FALSE);  // no buddy
    bar.SetBuddy(list);
    EXPECT_EQ(bar.PlaceUnderBuddy(), S_OK);
    auto placed = [&] {
        RECT r{};
        GetWindowRect(bar.m_hWnd, &r);
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
        return std::vector<int>{r.left, r.top, r.right - r.left, r.bottom - r.top};
    };
    EXPECT_EQ(placed(), (std::vector<int>{40, 111, 120, 18}));

    // With the skin's margins, and on every skin applied while high flag 0x100 is set.
    WriteSkin("pos=2,3,-10,16\r\nfrgnd=1,2,3\r\n");
    SendMessageW(bar.m_hWnd, CXM_INITSKIN, 0, 0);
    CxModifyFlagsParams under{0, CXFH_UNDERBUDDY, 0, 0, 0, 0, 0};
    SendMessageW(bar.m_hWnd, CXM_MODIFYFLAGS, reinterpret_cast<WPARAM>(&under), 0);
    SendMessageW(bar.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(g_parent.skinFile.c_str()), 0);
    EXPECT_EQ(placed(), (std::vector<int>{42, 114, 110, 16}));

    HWND topLevel = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    GetModuleHandleW(nullptr), nullptr);
    bar.SetBuddy(topLevel);
    EXPECT_EQ(bar.PlaceUnderBuddy(), E_FAIL);
    DestroyWindow(topLevel);
}

TEST_F(TextBarTest, OverrideTextStaysOnScreenWhileTheMainTextChanges)
{
    CxTextBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar));
    bar.SetText(L"main", FALSE);
    EXPECT_STREQ(bar.GetShownText(), L"main");
    bar.SetOverrideText(L"hover");
    bar.SetText(L"changed", FALSE);
    EXPECT_STREQ(bar.GetShownText(), L"hover");
    EXPECT_STREQ(bar.GetMainText(), L"changed");
    bar.SetOverrideText(nullptr);
    EXPECT_STREQ(bar.GetShownText(), L"changed");
}

TEST_F(TextBarTest, SkinColourHoldsAgainstSystemColourChanges)
{
    CxTextBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar));
    EXPECT_EQ(bar.GetTextColor(), GetSysColor(COLOR_WINDOWTEXT));
    SendMessageW(bar.m_hWnd, WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(bar.GetTextColor(), GetSysColor(COLOR_WINDOWTEXT));

    struct Case {
        const char* frgnd;
        COLORREF expected;
    };
    const Case cases[] = {
        {"frgnd=12,34,56\r\n", RGB(12, 34, 56)},
        {"frgnd=300,0,0\r\n", GetSysColor(COLOR_WINDOWTEXT)},  // not a colour: the system's
        {"", GetSysColor(COLOR_WINDOWTEXT)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frgnd);
        WriteSkin(std::string("pos=10,20,200,18\r\n") + c.frgnd);
        SendMessageW(bar.m_hWnd, CXM_INITSKIN, 0, 0);
        SendMessageW(bar.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(g_parent.skinFile.c_str()), 0);
        EXPECT_EQ(bar.GetTextColor(), c.expected);
    }
    // Skin colours are in force now: a system colour change leaves the bar's colour alone.
    WriteSkin("frgnd=12,34,56\r\n");
    SendMessageW(bar.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(g_parent.skinFile.c_str()), 0);
    SendMessageW(bar.m_hWnd, WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(bar.GetTextColor(), RGB(12, 34, 56));
}

TEST_F(TextBarTest, EachBarNamesItselfFromItsOwnId)
{
    CxTextBarCtrl first;
    CxTextBarCtrl second;
    ASSERT_TRUE(CreateBar(first, kBarHeight, 4004));
    ASSERT_TRUE(CreateBar(second, kBarHeight, 4005));
    EXPECT_STREQ(first.NameFromId(L"Path."), L"Path.4004");
    EXPECT_STREQ(second.NameFromId(L"Path."), L"Path.4005");
    EXPECT_STREQ(first.NameFromId(L"Path."), L"Path.4004");
}

TEST_F(TextBarTest, AHoverTextPostedToTheBarIsFreedOnce)
{
    CxTextBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar));
    const long before = CxAllocCount();
    wchar_t* text = nullptr;
    ASSERT_EQ(CxStrDup(&text, L"hover"), S_OK);
    ASSERT_EQ(CxAllocCount(), before + 1);
    // Nobody at the bar takes the text, so it ends there.
    EXPECT_EQ(SendMessageW(bar.m_hWnd, CXM_SETTEXT, reinterpret_cast<WPARAM>(text), 0), 0);
    EXPECT_EQ(CxAllocCount(), before);
    EXPECT_STREQ(bar.GetShownText(), nullptr);
}

// A bar whose parent paints no skin background (before a skin is applied) shows the system's face with
// its text in the system's text colour, never black on black.
TEST_F(TextBarTest, WithoutASkinBackgroundTheBarShowsTheSystemFace)
{
    HWND plain = CreateWindowExW(0, RegisterTestWindowClass(L"KwepPlainParent", DefWindowProcW), L"plain",
                                 WS_OVERLAPPEDWINDOW, 30, 30, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr),
                                 nullptr);
    ASSERT_NE(plain, nullptr);
    {
        CxTextBarCtrl bar;
        const RECT rect{10, 20, 10 + kBarWidth, 20 + kBarHeight};
        ASSERT_TRUE(bar.Create(plain, rect, 300));
        ASSERT_EQ(bar.SetText(L"Ready", FALSE), S_OK);
        EXPECT_EQ(bar.GetTextColor(), GetSysColor(COLOR_WINDOWTEXT));
        const std::vector<DWORD> pixels = Painted(bar);
        EXPECT_EQ(pixels.front(), Rgb(GetSysColor(COLOR_3DFACE)));
        EXPECT_EQ(pixels.back(), Rgb(GetSysColor(COLOR_3DFACE)));
        const std::set<int> text = TextColumns(bar, GetSysColor(COLOR_3DFACE));
        EXPECT_GT(text.size(), 10u);
        EXPECT_LT(*text.rbegin(), kBarWidth / 2);  // "Ready" at the left, the rest face
    }
    DestroyWindow(plain);
}

}  // namespace
