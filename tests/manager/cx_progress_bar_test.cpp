// The self-painted progress bar: the bar's length over a range (lower bounds other than 0 included),
// frame, background, gradient or solid bar and text read back from the pixels it paints, the skin's
// colours against the system's, msimg32's functions withheld through the control's seam, and the bar
// on the X display, dumped with xwd and measured with Pillow (bars_capture.py).
#include "manager/controls/bars/cx_progress_bar.h"
#include "manager/framework/windows/cx_platform.h"
#include "tests/manager/cx_bars_host.h"

#include <algorithm>
#include <climits>
#include <fstream>

namespace {

using cx_bars_test::Host;
using test_support::TempFolder;

constexpr int kBarId = 301;
constexpr COLORREF kText = RGB(10, 10, 10);
constexpr COLORREF kBackground = RGB(250, 250, 240);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kFrame = RGB(0, 128, 0);
// The client area of the bars painted here: an inner width of 101 pixels.
constexpr SIZE kClient{105, 20};

uint32_t Rgb(COLORREF c)
{
    return static_cast<uint32_t>(GetRValue(c)) << 16 | static_cast<uint32_t>(GetGValue(c)) << 8 | GetBValue(c);
}

// Counts the calls of the seam's functions, which then do what the system's do.
int g_alphaBlendCalls = 0;
int g_gradientFillCalls = 0;
BOOL WINAPI CountedAlphaBlend(HDC a, int b, int c, int d, int e, HDC f, int g, int h, int i, int j, BLENDFUNCTION k)
{
    ++g_alphaBlendCalls;
    return CxSystemMsimg32Functions().alphaBlend(a, b, c, d, e, f, g, h, i, j, k);
}
BOOL WINAPI CountedGradientFill(HDC a, PTRIVERTEX b, ULONG c, PVOID d, ULONG e, ULONG f)
{
    ++g_gradientFillCalls;
    return CxSystemMsimg32Functions().gradientFill(a, b, c, d, e, f);
}
const CxMsimg32Functions kBoth{CountedAlphaBlend, CountedGradientFill};
const CxMsimg32Functions kNoGradient{CountedAlphaBlend, nullptr};
const CxMsimg32Functions kNoAlphaBlend{nullptr, CountedGradientFill};
const CxMsimg32Functions kNeither{nullptr, nullptr};

class ProgressBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(CxSystemMsimg32Functions().alphaBlend, nullptr) << "the system's msimg32 has AlphaBlend";
        ASSERT_NE(CxSystemMsimg32Functions().gradientFill, nullptr) << "and GradientFill";
        host.sections[kBarId] = L"bar";
        ASSERT_NE(cx_bars_test::CreateHostWindow(host, L"KwepProgressHost", 40, 40, 360, 260), nullptr);
        g_alphaBlendCalls = g_gradientFillCalls = 0;
    }
    void TearDown() override { cx_bars_test::DestroyHostWindow(host); }

    // The skin file with the bar's section.
    void WriteSkin(const std::string& section)
    {
        const std::filesystem::path file = folder.File("skin.ini");
        std::ofstream(file, std::ios::binary) << "[bar]\r\n" << section;
        host.skinFile = file.wstring();
    }
    static std::string FullSection()
    {
        return "frgnd=10,10,10\r\nbkgnd=250,250,240\r\nstatus=255,0,0|0,0,255\r\nframe=0,128,0\r\n";
    }

    // A bar of range 0..100 at the position, its client area of the size.
    bool CreateBar(CxProgressBarCtrl& bar, int position, SIZE client = kClient, DWORD style = 0, int id = kBarId)
    {
        const RECT rect{10, 10, 10 + client.cx, 10 + client.cy};
        if (!bar.Create(host.hWnd, rect, static_cast<UINT>(id), WS_CHILD | WS_VISIBLE | style))
            return false;
        // The system's progress control may give itself an edge: the client area is what is measured.
        RECT window{}, inside{};
        GetWindowRect(bar.m_hWnd, &window);
        GetClientRect(bar.m_hWnd, &inside);
        SetWindowPos(bar.m_hWnd, nullptr, 0, 0, client.cx + (window.right - window.left) - inside.right,
                     client.cy + (window.bottom - window.top) - inside.bottom, SWP_NOMOVE | SWP_NOZORDER);
        SendMessageW(bar.m_hWnd, PBM_SETRANGE32, 0, 100);
        SendMessageW(bar.m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        GetClientRect(bar.m_hWnd, &inside);
        return inside.right == client.cx && inside.bottom == client.cy;
    }

    // What the bar paints, on a picture filled with black first.
    static cx_test::Pixels Painted(CxProgressBarCtrl& bar)
    {
        RECT client{};
        GetClientRect(bar.m_hWnd, &client);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = client.right;
        bi.bmiHeader.biHeight = client.bottom;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP target = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(dc, target);
        PatBlt(dc, 0, 0, client.right, client.bottom, BLACKNESS);
        EXPECT_EQ(bar.Paint(dc), S_OK);
        GdiFlush();
        SelectObject(dc, old);
        DeleteDC(dc);
        cx_test::Pixels pixels = cx_test::ReadBitmap(target);
        DeleteObject(target);
        return pixels;
    }

    TempFolder folder;
    Host host;
};

// ---- Length ----

TEST(ProgressBarLengthTest, ThePercentOfTheRangeReachedGivesTheLength)
{
    struct Case {
        const char* name;
        int position, lower, upper, inner, length;
    };
    const Case cases[] = {
        {"half of 0..100 over 101 pixels: 5050 / 100 leaves 50, which rounds up", 50, 0, 100, 101, 51},
        {"at the lower bound nothing", 0, 0, 100, 101, 0},
        {"full", 100, 0, 100, 101, 101},
        {"past the upper bound still full, never longer", 150, 0, 100, 101, 101},
        {"below the lower bound nothing", -5, 0, 100, 101, 0},
        {"a remainder of 49 rounds down", 1, 0, 100, 49, 0},
        {"a remainder of 50 rounds up", 1, 0, 100, 50, 1},
        {"whole percents only: 2 of 0..300 is 0 percent", 2, 0, 300, 1000, 0},
        {"the lower bound counts: 60 of 10..110 is half", 60, 10, 110, 100, 50},
        {"negative bounds", -50, -100, 0, 100, 50},
        {"an empty range", 5, 5, 5, 100, 0},
        {"a reversed range", 5, 10, 0, 100, 0},
        {"the widest range does not overflow", INT_MAX, INT_MIN, INT_MAX, 1000, 1000},
        {"half of the widest range", 0, INT_MIN, INT_MAX, 1000, 500},
        {"no inner length", 50, 0, 100, 0, 0},
        {"a negative inner length (a control smaller than its margins)", 50, 0, 100, -3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CxProgressBarLength(c.position, c.lower, c.upper, c.inner), c.length);
    }
}

// ---- Painting ----

TEST_F(ProgressBarTest, PaintsFrameBackgroundGradientAndNothingPastTheBar)
{
    WriteSkin(FullSection());
    CxProgressBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar, 50));
    EXPECT_TRUE(bar.GetHigh() & CXFH_SKINCOLOURS);
    EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kStatusStart).color, kRed);
    EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kStatusEnd).color, kBlue);
    const cx_test::Pixels p = Painted(bar);
    ASSERT_EQ(p.width, kClient.cx);
    // The frame: the whole outline of the client area.
    for (int x = 0; x < p.width; ++x) {
        EXPECT_EQ(p.At(x, 0), Rgb(kFrame)) << x;
        EXPECT_EQ(p.At(x, p.height - 1), Rgb(kFrame)) << x;
    }
    for (int y = 0; y < p.height; ++y) {
        EXPECT_EQ(p.At(0, y), Rgb(kFrame)) << y;
        EXPECT_EQ(p.At(p.width - 1, y), Rgb(kFrame)) << y;
    }
    // The bar: 51 columns from the inner left edge over the inner height, red to blue.
    const int middle = p.height / 2;
    EXPECT_EQ(p.At(1, middle), Rgb(kBackground));
    EXPECT_EQ(p.At(2, middle), Rgb(kRed));
    EXPECT_NE(p.At(2 + 50, middle), Rgb(kBackground));
    EXPECT_EQ(p.At(2 + 51, middle), Rgb(kBackground));
    EXPECT_EQ(p.At(2, 1), Rgb(kBackground));
    EXPECT_EQ(p.At(2, 2), Rgb(kRed));
    EXPECT_EQ(p.At(2, p.height - 3), Rgb(kRed));
    EXPECT_EQ(p.At(2, p.height - 2), Rgb(kBackground));
    const uint32_t last = p.At(2 + 50, middle);
    EXPECT_LT(last >> 16, 16u) << std::hex << last;
    EXPECT_GT(last & 0xFF, 239u) << std::hex << last;
    // Red falls and blue rises column by column.
    for (int x = 3; x < 2 + 51; ++x) {
        EXPECT_LE(p.At(x, middle) >> 16, p.At(x - 1, middle) >> 16) << x;
        EXPECT_GE(p.At(x, middle) & 0xFF, p.At(x - 1, middle) & 0xFF) << x;
    }
    EXPECT_EQ(g_gradientFillCalls, 0) << "the system's functions, not the counting ones";
}

TEST_F(ProgressBarTest, AVerticalBarGrowsFromTheBottomWithTheFirstColourThere)
{
    WriteSkin(FullSection());
    CxProgressBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar, 50, SIZE{20, 105}, PBS_VERTICAL));
    const cx_test::Pixels p = Painted(bar);
    const int centre = p.width / 2;
    const int bottom = p.height - 3;  // the inner bottom row
    // A vertical gradient runs from the top vertex down: the bar's top row is the second colour and its
    // bottom row all but reaches the first.
    const uint32_t start = p.At(centre, bottom);
    EXPECT_GT(start >> 16, 239u) << std::hex << start;
    EXPECT_LT(start & 0xFF, 16u) << std::hex << start;
    EXPECT_EQ(p.At(centre, bottom + 1), Rgb(kBackground));
    EXPECT_EQ(p.At(centre, bottom - 50), Rgb(kBlue));
    EXPECT_EQ(p.At(centre, bottom - 51), Rgb(kBackground));
    EXPECT_EQ(p.At(1, bottom), Rgb(kBackground));
    EXPECT_EQ(p.At(2, bottom), start);
    for (int y = bottom - 49; y <= bottom; ++y)
        EXPECT_GE(p.At(centre, y) >> 16, p.At(centre, y - 1) >> 16) << y;
}

TEST_F(ProgressBarTest, WithoutAMarginTheBarCoversTheFrameFromTheLeftEdge)
{
    WriteSkin(FullSection());
    CxProgressBarCtrl bar;
    bar.ModifyFlags(0, CXFH_PROGRESS_NOMARGIN, 0, 0);
    ASSERT_TRUE(CreateBar(bar, 50));
    const cx_test::Pixels p = Painted(bar);
    // Inner length 105: 5250 / 100 leaves 50, so 53 columns from column 0.
    EXPECT_EQ(p.At(0, 0), Rgb(kRed));
    EXPECT_NE(p.At(52, 10), Rgb(kBackground));
    EXPECT_EQ(p.At(53, 10), Rgb(kBackground));
    EXPECT_EQ(p.At(104, 0), Rgb(kFrame));
}

TEST_F(ProgressBarTest, AtItsLowerBoundOnlyFrameBackgroundAndTextArePainted)
{
    WriteSkin(FullSection());
    CxProgressBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar, 0));
    {
        const cx_test::Pixels p = Painted(bar);
        for (int y = 1; y < p.height - 1; ++y)
            for (int x = 1; x < p.width - 1; ++x)
                ASSERT_EQ(p.At(x, y), Rgb(kBackground)) << x << "," << y;
    }
    // A range from 20: its lower bound is the empty bar too.
    SendMessageW(bar.m_hWnd, PBM_SETRANGE32, 20, 120);
    SendMessageW(bar.m_hWnd, PBM_SETPOS, 20, 0);
    EXPECT_EQ(Painted(bar).At(2, 10), Rgb(kBackground));
    SendMessageW(bar.m_hWnd, PBM_SETPOS, 70, 0);
    const cx_test::Pixels half = Painted(bar);
    EXPECT_NE(half.At(2 + 50, 10), Rgb(kBackground));
    EXPECT_EQ(half.At(2 + 51, 10), Rgb(kBackground)) << "70 of 20..120 is half the bar";
}

TEST_F(ProgressBarTest, TheTextIsCentredInTheTextColourAndAnEmptyTextDrawsNothing)
{
    WriteSkin(FullSection());
    CxProgressBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar, 0));
    auto textColumns = [&](std::vector<int>* rows) {
        std::vector<int> columns;
        const cx_test::Pixels p = Painted(bar);
        for (int y = 1; y < p.height - 1; ++y)
            for (int x = 1; x < p.width - 1; ++x)
                if (p.At(x, y) != Rgb(kBackground)) {
                    columns.push_back(x);
                    if (rows != nullptr)
                        rows->push_back(y);
                }
        return columns;
    };
    EXPECT_TRUE(textColumns(nullptr).empty());
    ASSERT_EQ(bar.SetText(L"WWW"), S_OK);
    std::vector<int> rows;
    const std::vector<int> columns = textColumns(&rows);
    ASSERT_FALSE(columns.empty());
    const auto [left, right] = std::minmax_element(columns.begin(), columns.end());
    // Centred in the inner area 2..102, give or take the glyphs' side bearings.
    EXPECT_NEAR((*left + *right) / 2.0, 52.0, 2.5);
    const auto [top, bottom] = std::minmax_element(rows.begin(), rows.end());
    EXPECT_NEAR((*top + *bottom) / 2.0, 9.5, 3.0);
    // Every text pixel is the text colour or a blend towards the background (no other colour).
    const cx_test::Pixels p = Painted(bar);
    bool sawTextColour = false;
    for (size_t i = 0; i < columns.size(); ++i)
        sawTextColour = sawTextColour || p.At(columns[i], rows[i]) == Rgb(kText);
    EXPECT_TRUE(sawTextColour);
}

TEST_F(ProgressBarTest, WithheldDrawingFunctionsGiveASolidBarOrAPlainCopy)
{
    WriteSkin(FullSection());
    struct Case {
        const char* name;
        const CxMsimg32Functions* functions;
        DWORD flags;
        bool gradient;
        bool alphaBlended;
    };
    const Case cases[] = {
        {"both there", &kBoth, 0, true, true},
        {"no GradientFill: one colour", &kNoGradient, CXFH_PROGRESS_SOLID, false, true},
        {"no AlphaBlend: BitBlt", &kNoAlphaBlend, CXFH_PROGRESS_BITBLT, true, false},
        {"neither", &kNeither, CXFH_PROGRESS_SOLID | CXFH_PROGRESS_BITBLT, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_alphaBlendCalls = g_gradientFillCalls = 0;
        CxProgressBarCtrl bar;
        bar.SetGraphicsFunctions(c.functions);
        ASSERT_TRUE(CreateBar(bar, 50));
        const cx_test::Pixels p = Painted(bar);
        EXPECT_EQ(bar.GetHigh() & (CXFH_PROGRESS_SOLID | CXFH_PROGRESS_BITBLT), c.flags);
        EXPECT_EQ(g_gradientFillCalls > 0, c.gradient);
        EXPECT_EQ(g_alphaBlendCalls > 0, c.alphaBlended);
        // Either way the picture arrives whole: frame, background and 51 columns of bar.
        EXPECT_EQ(p.At(0, 0), Rgb(kFrame));
        EXPECT_EQ(p.At(1, 10), Rgb(kBackground));
        EXPECT_EQ(p.At(2, 10), Rgb(kRed));
        EXPECT_EQ(p.At(2 + 51, 10), Rgb(kBackground));
        const uint32_t last = p.At(2 + 50, 10);
        if (c.gradient)
            EXPECT_GT(last & 0xFF, 239u);
        else
            EXPECT_EQ(last, Rgb(kRed)) << "a solid block of the first status colour";
    }
}

// ---- Skin and system colours ----

TEST_F(ProgressBarTest, TheSkinSetsColoursAndPlaceAndLeavesTheRestToTheSystem)
{
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    const COLORREF windowText = GetSysColor(COLOR_WINDOWTEXT);
    const COLORREF active = GetSysColor(COLOR_ACTIVECAPTION);
    const COLORREF firstSystem =
        GetSysColor((CxGetPlatform() & 2) ? COLOR_GRADIENTINACTIVECAPTION : COLOR_INACTIVECAPTION);
    struct Case {
        const char* name;
        std::string section;
        DWORD highFlags;
        bool moved;
        COLORREF text, background, start, end, frame;
    };
    const Case cases[] = {
        {"every key", "pos=30,40,120,24\r\n" + FullSection(), 0, true, kText, kBackground, kRed, kBlue, kFrame},
        {"every key, placed by its owner", "pos=30,40,120,24\r\n" + FullSection(), CXFH_PROGRESS_NOMOVE, false, kText,
         kBackground, kRed, kBlue, kFrame},
        {"no position: coloured where it stands", FullSection(), 0, false, kText, kBackground, kRed, kBlue, kFrame},
        {"a status colour of two numbers and no text colour",
         "pos=30,40,120,24\r\nbkgnd=1,2,3\r\nstatus=255,0,0|0,0\r\nframe=4,5,6\r\n", 0, false, windowText, RGB(1, 2, 3),
         kRed, active, RGB(4, 5, 6)},
        {"colours only in part", "bkgnd=1,2,3\r\n", 0, false, windowText, RGB(1, 2, 3), firstSystem, active, window},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSkin(c.section);
        CxProgressBarCtrl bar;
        bar.ModifyFlags(0, c.highFlags, 0, 0);
        ASSERT_TRUE(CreateBar(bar, 50));
        EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kText).color, c.text);
        EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kBackground).color, c.background);
        EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kStatusStart).color, c.start);
        EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kStatusEnd).color, c.end);
        EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kFrame).color, c.frame);
        // CreateBar sized the bar after its skin was applied; apply it again to see where it goes.
        SetWindowPos(bar.m_hWnd, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        const std::wstring file = host.skinFile;
        EXPECT_EQ(SendMessageW(bar.m_hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(file.c_str()), 0), 1);
        RECT placed{};
        GetWindowRect(bar.m_hWnd, &placed);
        MapWindowPoints(HWND_DESKTOP, host.hWnd, reinterpret_cast<POINT*>(&placed), 2);
        if (c.moved) {
            EXPECT_EQ(placed.left, 30);
            EXPECT_EQ(placed.top, 40);
            EXPECT_EQ(placed.right - placed.left, 120);
            EXPECT_EQ(placed.bottom - placed.top, 24);
        } else {
            EXPECT_EQ(placed.left, 10);
            EXPECT_EQ(placed.top, 10);
        }
    }
}

TEST_F(ProgressBarTest, SkinColoursOutlastAColourSchemeChangeThatSystemColoursFollow)
{
    WriteSkin(FullSection());
    CxProgressBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar, 50));
    SendMessageW(bar.m_hWnd, WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kBackground).color, kBackground);
    EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kStatusStart).color, kRed);
    EXPECT_EQ(Painted(bar).At(2, 10), Rgb(kRed));
    // Without skin colours in force every colour is the system's again, set or not.
    CxModifyFlagsParams clear{0, 0, 0, CXFH_SKINCOLOURS, 0, 0, 0};
    ASSERT_EQ(SendMessageW(bar.m_hWnd, CXM_MODIFYFLAGS, reinterpret_cast<WPARAM>(&clear), 0), 1);
    SendMessageW(bar.m_hWnd, WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kText).color, GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kBackground).color, GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kStatusEnd).color, GetSysColor(COLOR_ACTIVECAPTION));
    EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kFrame).color, GetSysColor(COLOR_WINDOW));
    const int first = (CxGetPlatform() & 2) ? COLOR_GRADIENTINACTIVECAPTION : COLOR_INACTIVECAPTION;
    EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kStatusStart).color, GetSysColor(first));
    EXPECT_EQ(Painted(bar).At(1, 10), Rgb(GetSysColor(COLOR_WINDOW)));
}

TEST_F(ProgressBarTest, ABarWithoutASectionKeepsTheSystemColours)
{
    WriteSkin(FullSection());
    CxProgressBarCtrl bar;
    ASSERT_TRUE(CreateBar(bar, 50, kClient, 0, kBarId + 50));
    EXPECT_FALSE(bar.GetHigh() & CXFH_SKINCOLOURS);
    EXPECT_EQ(bar.GetSkinRecords().GetCount(), 0);
    EXPECT_EQ(bar.GetColour(CxProgressBarCtrl::kBackground).color, GetSysColor(COLOR_WINDOW));
}

// ---- On the display ----

TEST_F(ProgressBarTest, OnTheDisplayTheBarEndsAtItsColumnInTheSkinsColours)
{
    ASSERT_TRUE(test_support::HostHasProgram("xwd"));
    ASSERT_TRUE(test_support::HostHasProgram("xdotool"));
    WriteSkin(FullSection());
    host.sections[kBarId + 1] = L"bar";
    CxProgressBarCtrl gradient;
    CxProgressBarCtrl solid;
    solid.SetGraphicsFunctions(&kNoGradient);
    ASSERT_TRUE(CreateBar(gradient, 50));
    ASSERT_TRUE(CreateBar(solid, 50, kClient, 0, kBarId + 1));
    SetWindowPos(solid.m_hWnd, nullptr, 10, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetWindowTextW(host.hWnd, L"KwepProgressScreen");
    cx_bars_test::Settle(host.hWnd);

    struct Case {
        const char* name;
        CxProgressBarCtrl* bar;
        bool gradient;
    };
    const Case cases[] = {{"progress_gradient", &gradient, true}, {"progress_solid", &solid, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int> place = cx_bars_test::ClientPlace(c.bar->m_hWnd);
        std::vector<std::string> args;
        for (int v : place)
            args.push_back(std::to_string(v));
        args.push_back(std::to_string(CX_PROGRESS_MARGIN));
        const auto m = cx_bars_test::CaptureAndMeasure(c.name, "KwepProgressScreen", "progress", args);
        ASSERT_EQ(m.count("bar_length"), 1u);
        EXPECT_EQ(m.find("bar_length")->second, std::vector<int>{51});
        EXPECT_EQ(m.find("background")->second, (std::vector<int>{250, 250, 240}));
        ASSERT_EQ(m.count("outline"), 1u) << "one colour all round";
        EXPECT_EQ(m.find("outline")->second, (std::vector<int>{0, 128, 0}));
        EXPECT_EQ(m.find("bar_first")->second, (std::vector<int>{255, 0, 0}));
        const std::vector<int> last = m.find("bar_last")->second;
        ASSERT_EQ(last.size(), 3u);
        if (c.gradient) {
            EXPECT_LT(last[0], 16);
            EXPECT_GT(last[2], 239);
            EXPECT_GT(m.find("bar_colours")->second.at(0), 20);
            EXPECT_EQ(m.find("bar_monotonic")->second, std::vector<int>{1});
        } else {
            EXPECT_EQ(last, (std::vector<int>{255, 0, 0}));
            EXPECT_EQ(m.find("bar_colours")->second, std::vector<int>{1});
        }
    }
}

}  // namespace
