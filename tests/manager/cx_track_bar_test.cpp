// Track bars with the built-in skin: shape and state images read back against the skin's resources,
// program positions ignored while the thumb is held (by messages and by a real drag), the arrow and page
// keys swallowed where a plain slider moves, the colours painted inside the rectangles the system's
// slider reports, and the seek bar on the X display, dumped with xwd and measured with Pillow.
#include "manager/controls/bars/cx_track_bar.h"
#include "manager/framework/skin/cx_skin_file.h"
#include "tests/manager/cx_bars_host.h"
#include "tests/manager/pointer.h"

namespace {

using cx_bars_test::Host;

constexpr int kSeekId = 4220;
constexpr int kVolumeId = 4231;
// The colours the player panel gives its volume bar.
constexpr COLORREF kPanelBackground = 0xD1593D;
constexpr COLORREF kPanelChannel = 0x80FFFF;
constexpr COLORREF kPanelThumb = 0x535353;

uint32_t Rgb(COLORREF c)
{
    return static_cast<uint32_t>(GetRValue(c)) << 16 | static_cast<uint32_t>(GetGValue(c)) << 8 | GetBValue(c);
}

std::string Hex(COLORREF c)
{
    char text[8];
    snprintf(text, sizeof text, "%06x", static_cast<unsigned>(Rgb(c)));
    return text;
}

// Records the messages the slider's window procedure gets.
class TestTrackBar : public CxSkinTrackBarCtrl {
public:
    bool Create(HWND parent, int id, DWORD extra = 0)
    {
        const RECT rect{5, 5, 105, 25};
        return CxTrackBarCtrl::Create(parent, rect, static_cast<UINT>(id),
                                      WS_CHILD | WS_VISIBLE | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | extra) != FALSE;
    }
    RECT Thumb() const
    {
        RECT r{};
        ::SendMessageW(m_hWnd, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&r));
        return r;
    }
    RECT Channel() const
    {
        RECT r{};
        ::SendMessageW(m_hWnd, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&r));
        return r;
    }
    LRESULT Pos() const { return ::SendMessageW(m_hWnd, TBM_GETPOS, 0, 0); }
};

class TrackBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.skinFile = CX_BUILTIN_SKIN_SPEC;
        host.sections[kSeekId] = L"player.rewind.bar";
        host.sections[kVolumeId] = L"player.panel.volume.bar";
        ASSERT_NE(cx_bars_test::CreateHostWindow(host, L"KwepTrackHost", 30, 30, 420, 460), nullptr);
        RECT r{};
        GetWindowRect(host.hWnd, &r);
        MovePointerTo({r.right + 40, r.bottom + 40});
    }
    void TearDown() override
    {
        cx_bars_test::DestroyHostWindow(host);
        cx_bars_test::Pump();
    }

    static POINT Centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

    Host host;
};

// What the slider paints on WM_PAINT's work and on WM_ERASEBKGND, into a picture of its client size.
cx_test::Pixels Painted(CxSkinTrackBarCtrl& bar, bool erase)
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
    if (erase)
        EXPECT_EQ(SendMessageW(bar.m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), TRUE);
    else
        EXPECT_EQ(bar.Paint(dc), S_OK);
    GdiFlush();
    SelectObject(dc, old);
    DeleteDC(dc);
    cx_test::Pixels pixels = cx_test::ReadBitmap(target);
    DeleteObject(target);
    return pixels;
}

// ---- Skin ----

TEST_F(TrackBarTest, TheBuiltInSkinShapesEachBarFromItsImagesAndKeepsItsThumbImages)
{
    struct Case {
        const char* name;
        int id;
        UINT firstImage;
        UINT firstThumb;
        SIZE size;
        POINT centre;
    };
    const Case cases[] = {
        {"seek bar", kSeekId, 1270, 1274, {200, 14}, {150, 400}},
        {"volume bar", kVolumeId, 1280, 1284, {94, 10}, {250, 17}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestTrackBar bar;
        ASSERT_TRUE(bar.Create(host.hWnd, c.id));
        ASSERT_TRUE(bar.GetLow() & CXFL_SKINREGION) << "no image applied";
        ASSERT_EQ(bar.GetImageList().GetCount(), 4);
        for (int state = 0; state < 4; ++state)
            EXPECT_EQ(cx_bars_test::ListImage(bar.GetImageList(), state).rgb,
                      cx_bars_test::BuiltInImage(bar.m_hWnd, c.firstImage + state).rgb)
                << "state " << state;
        // Eight thumb images are read: the skin gives four, the other four stay empty.
        ASSERT_EQ(bar.GetThumbImages().GetCount(), 8);
        for (int i = 0; i < 8; ++i) {
            const cx_test::Pixels thumb = cx_bars_test::ListImage(bar.GetThumbImages(), i);
            if (i < 4)
                EXPECT_EQ(thumb.rgb, cx_bars_test::BuiltInImage(bar.m_hWnd, c.firstThumb + i).rgb) << "thumb " << i;
            else
                EXPECT_TRUE(thumb.rgb.empty()) << "thumb " << i;
        }
        RECT placed{};
        GetWindowRect(bar.m_hWnd, &placed);
        MapWindowPoints(HWND_DESKTOP, host.hWnd, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(placed.right - placed.left, c.size.cx);
        EXPECT_EQ(placed.bottom - placed.top, c.size.cy);
        EXPECT_EQ(placed.left, c.centre.x - c.size.cx / 2);
        EXPECT_EQ(placed.top, c.centre.y - c.size.cy / 2);
        // The rounded ends are cut away.
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        ASSERT_NE(GetWindowRgn(bar.m_hWnd, region), ERROR);
        EXPECT_FALSE(PtInRegion(region, 0, 0));
        EXPECT_TRUE(PtInRegion(region, c.size.cx / 2, c.size.cy / 2));
        DeleteObject(region);
    }
}

TEST_F(TrackBarTest, TheStateImageFollowsEnablingHoverAndPress)
{
    TestTrackBar bar;
    ASSERT_TRUE(bar.Create(host.hWnd, kSeekId));
    auto flags = [&](DWORD set, DWORD clear) {
        CxModifyFlagsParams params{set, 0, clear, 0, 0, 1, 0};
        SendMessageW(bar.m_hWnd, CXM_MODIFYFLAGS, reinterpret_cast<WPARAM>(&params), 0);
    };
    struct Case {
        const char* name;
        std::function<void()> step;
        int state;
    };
    const Case cases[] = {
        {"normal", [] {}, 1},
        {"disabled", [&] { EnableWindow(bar.m_hWnd, FALSE); }, 0},
        {"enabled again", [&] { EnableWindow(bar.m_hWnd, TRUE); }, 1},
        {"mouse over", [&] { flags(CXFL_CAPTURED, 0); }, 2},
        {"pressed", [&] { flags(CXFL_MOUSEPRESSED, 0); }, 3},
        {"disabled while pressed", [&] { EnableWindow(bar.m_hWnd, FALSE); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.step();
        EXPECT_EQ(bar.GetStateIndex(), c.state);
        EXPECT_EQ(bar.GetImageList().m_state, c.state);
        EXPECT_EQ(cx_test::ReadBitmap(bar.GetBackground()).rgb,
                  cx_bars_test::BuiltInImage(bar.m_hWnd, 1270 + c.state).rgb);
    }
}

// ---- The thumb under the user's hand ----

TEST_F(TrackBarTest, ProgramPositionsWaitWhileTheThumbIsHeld)
{
    TestTrackBar bar;
    ASSERT_TRUE(bar.Create(host.hWnd, kSeekId));
    SendMessageW(bar.m_hWnd, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
    SendMessageW(bar.m_hWnd, TBM_SETPOS, TRUE, 20);
    ASSERT_EQ(bar.Pos(), 20);
    host.resetOnRelease = true;

    // Pressed on the thumb: the player's updates are swallowed.
    const POINT thumb = Centre(bar.Thumb());
    SendMessageW(bar.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(thumb.x, thumb.y));
    ASSERT_TRUE(bar.GetLow() & CXFL_MOUSEPRESSED);
    EXPECT_EQ(bar.GetStateIndex(), 3);
    EXPECT_EQ(SendMessageW(bar.m_hWnd, TBM_SETPOS, TRUE, 70), TRUE);
    EXPECT_EQ(bar.Pos(), 20);
    // The user drags it; the program still cannot move it.
    SendMessageW(bar.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(thumb.x + 40, thumb.y));
    const LRESULT dragged = bar.Pos();
    EXPECT_GT(dragged, 20) << "the system's slider follows the drag";
    SendMessageW(bar.m_hWnd, TBM_SETPOS, TRUE, 5);
    EXPECT_EQ(bar.Pos(), dragged);

    // Let go: the owner hears of it with the dragged position and, as the main window does when nothing
    // plays, sets the bar back to 0, which already goes through.
    SendMessageW(bar.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(thumb.x + 40, thumb.y));
    ASSERT_EQ(host.releasedAt.size(), 1u);
    EXPECT_EQ(host.releasedAt[0], dragged);
    EXPECT_EQ(bar.Pos(), 0);
    EXPECT_FALSE(bar.GetLow() & CXFL_MOUSEPRESSED);
    EXPECT_FALSE(bar.GetLow() & CXFL_CAPTURED);
    EXPECT_NE(GetCapture(), bar.m_hWnd);
    SendMessageW(bar.m_hWnd, TBM_SETPOS, TRUE, 70);
    EXPECT_EQ(bar.Pos(), 70);
}

TEST_F(TrackBarTest, ARealDragHoldsTheThumbUntilTheButtonIsReleased)
{
    TestTrackBar bar;
    ASSERT_TRUE(bar.Create(host.hWnd, kSeekId));
    SendMessageW(bar.m_hWnd, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
    SendMessageW(bar.m_hWnd, TBM_SETPOS, TRUE, 20);
    cx_bars_test::Settle(host.hWnd);
    RECT thumb = bar.Thumb();
    MapWindowPoints(bar.m_hWnd, HWND_DESKTOP, reinterpret_cast<POINT*>(&thumb), 2);
    const POINT on = Centre(thumb);
    if (!MovePointerTo(on))
        GTEST_SKIP() << "the display does not move the pointer";

    cx_bars_test::LeftButton(true);
    ASSERT_TRUE(cx_bars_test::PumpUntil([&] { return (bar.GetLow() & CXFL_MOUSEPRESSED) != 0; }));
    SendMessageW(bar.m_hWnd, TBM_SETPOS, TRUE, 90);
    EXPECT_EQ(bar.Pos(), 20);
    cx_bars_test::MouseTo(POINT{on.x + 50, on.y});
    ASSERT_TRUE(cx_bars_test::PumpUntil([&] { return bar.Pos() > 20; })) << "the drag never reached the slider";
    SendMessageW(bar.m_hWnd, TBM_SETPOS, TRUE, 90);
    EXPECT_LT(bar.Pos(), 90);
    const LRESULT dragged = bar.Pos();

    cx_bars_test::LeftButton(false);
    ASSERT_TRUE(cx_bars_test::PumpUntil([&] { return !host.releasedAt.empty(); }));
    EXPECT_EQ(host.releasedAt[0], dragged);
    EXPECT_FALSE(bar.GetLow() & CXFL_MOUSEPRESSED);
    SendMessageW(bar.m_hWnd, TBM_SETPOS, TRUE, 90);
    EXPECT_EQ(bar.Pos(), 90);
}

TEST_F(TrackBarTest, ArrowAndPageKeysMoveAPlainSliderButNotASkinnedOne)
{
    CxTrackBarCtrl plain;
    const RECT rect{5, 5, 205, 35};
    ASSERT_TRUE(plain.Create(host.hWnd, rect, 500));
    TestTrackBar skinned;
    ASSERT_TRUE(skinned.Create(host.hWnd, kSeekId));
    for (HWND bar : {plain.m_hWnd, skinned.m_hWnd}) {
        SendMessageW(bar, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
        SendMessageW(bar, TBM_SETPAGESIZE, 0, 10);
    }
    for (WPARAM key = VK_PRIOR; key <= VK_DOWN; ++key) {
        SCOPED_TRACE(testing::Message() << "virtual key " << key);
        for (HWND bar : {plain.m_hWnd, skinned.m_hWnd})
            SendMessageW(bar, TBM_SETPOS, TRUE, 50);
        SendMessageW(plain.m_hWnd, WM_KEYDOWN, key, 1);
        SendMessageW(plain.m_hWnd, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001));
        EXPECT_NE(SendMessageW(plain.m_hWnd, TBM_GETPOS, 0, 0), 50) << "the system's slider moves";
        EXPECT_EQ(SendMessageW(skinned.m_hWnd, WM_KEYDOWN, key, 1), 0);
        EXPECT_EQ(SendMessageW(skinned.m_hWnd, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001)), 0);
        EXPECT_EQ(skinned.Pos(), 50);
    }
}

// ---- Painting ----

TEST_F(TrackBarTest, PaintsBackgroundChannelAndThumbInItsColours)
{
    struct Case {
        const char* name;
        bool panelColours;
        COLORREF background, channel, thumb;
    };
    const Case cases[] = {
        {"its own colours", false, CxSkinTrackBarCtrl::kBackground, CxSkinTrackBarCtrl::kChannel,
         CxSkinTrackBarCtrl::kThumb},
        {"the player panel's", true, kPanelBackground, kPanelChannel, kPanelThumb},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestTrackBar bar;
        ASSERT_TRUE(bar.Create(host.hWnd, kSeekId));
        if (c.panelColours)
            bar.SetColours(kPanelBackground, kPanelChannel, kPanelThumb);
        SendMessageW(bar.m_hWnd, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
        SendMessageW(bar.m_hWnd, TBM_SETPOS, TRUE, 25);
        const RECT thumb = bar.Thumb();
        const RECT channel = bar.Channel();
        ASSERT_LT(thumb.left, thumb.right);
        ASSERT_LT(channel.left, channel.right);
        const cx_test::Pixels p = Painted(bar, false);
        EXPECT_EQ(p.At(0, 0), Rgb(c.background));
        EXPECT_EQ(p.At(Centre(thumb).x, Centre(thumb).y), Rgb(c.thumb));
        EXPECT_EQ(p.At(channel.right - 2, Centre(channel).y), Rgb(c.channel));
        // Every pixel is one of the three, each inside its own rectangle.
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                const POINT at{x, y};
                const uint32_t want = PtInRect(&thumb, at)     ? Rgb(c.thumb)
                                      : PtInRect(&channel, at) ? Rgb(c.channel)
                                                               : Rgb(c.background);
                ASSERT_EQ(p.At(x, y), want) << x << "," << y;
            }
        }
        // Erasing fills with the slider's first colour whatever the owner set.
        EXPECT_EQ(Painted(bar, true).At(Centre(thumb).x, Centre(thumb).y), Rgb(CxSkinTrackBarCtrl::kBackground));
    }
}

// ---- On the display ----

TEST_F(TrackBarTest, OnTheDisplayThumbAndChannelLieInsideTheRectanglesTheSliderReports)
{
    ASSERT_TRUE(test_support::HostHasProgram("xwd"));
    ASSERT_TRUE(test_support::HostHasProgram("xdotool"));
    TestTrackBar bar;
    ASSERT_TRUE(bar.Create(host.hWnd, kSeekId));
    bar.SetColours(kPanelBackground, kPanelChannel, RGB(250, 200, 0));
    SendMessageW(bar.m_hWnd, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
    SendMessageW(bar.m_hWnd, TBM_SETPOS, TRUE, 30);
    SetWindowTextW(host.hWnd, L"KwepTrackScreen");
    cx_bars_test::Settle(host.hWnd);
    const RECT thumb = bar.Thumb();
    const RECT channel = bar.Channel();
    std::vector<std::string> args;
    for (int v : cx_bars_test::ClientPlace(bar.m_hWnd))
        args.push_back(std::to_string(v));
    for (LONG v : {thumb.left, thumb.top, thumb.right, thumb.bottom, channel.left, channel.top, channel.right,
                   channel.bottom})
        args.push_back(std::to_string(v));
    args.push_back(Hex(RGB(250, 200, 0)));
    args.push_back(Hex(kPanelChannel));
    const auto m = cx_bars_test::CaptureAndMeasure("track_bar", "KwepTrackScreen", "track", args);
    ASSERT_EQ(m.count("thumb_in"), 1u);
    const std::vector<int> thumbIn = m.find("thumb_in")->second;
    const std::vector<int> channelIn = m.find("channel_in")->second;
    ASSERT_EQ(thumbIn.size(), 2u);
    ASSERT_EQ(channelIn.size(), 2u);
    EXPECT_EQ(m.find("thumb_out")->second, std::vector<int>{0});
    EXPECT_EQ(m.find("channel_out")->second, std::vector<int>{0});
    // Inside its rectangle only the rounded ends of the shape may take pixels away.
    EXPECT_GT(thumbIn[1], 0);
    EXPECT_GE(thumbIn[0] * 10, thumbIn[1] * 8);
    EXPECT_GT(channelIn[1], 0);
    EXPECT_GE(channelIn[0] * 10, channelIn[1] * 8);
}

}  // namespace
