// The indicator lamps with the built-in skin: the image by enabled state read back against the skin's
// resources, the place from the skin's point, a real click that never reaches the lamp as a mouse
// message, and a lamp whose parent names no section.
#include "manager/controls/bars/cx_indicator.h"
#include "manager/framework/skin/cx_skin_file.h"
#include "tests/manager/cx_bars_host.h"
#include "tests/manager/pointer.h"

#include <algorithm>

namespace {

using cx_bars_test::Host;

constexpr int kShuffleId = 4400;
constexpr SIZE kLamp{20, 14};

// Records the messages that reach the lamp's window procedure.
class TestIndicator : public CxIndicatorCtrl {
public:
    bool Create(HWND parent, int id, DWORD extra = 0)
    {
        const RECT rect{5, 5, 25, 19};
        return CxIndicatorCtrl::Create(parent, rect, static_cast<UINT>(id), WS_CHILD | WS_VISIBLE | extra) != FALSE;
    }
    bool Got(UINT message) const { return std::find(messages.begin(), messages.end(), message) != messages.end(); }
    // A WM_SETCURSOR that stands for the mouse message.
    bool GotCursorFor(UINT mouseMessage) const
    {
        return std::find(cursorFor.begin(), cursorFor.end(), mouseMessage) != cursorFor.end();
    }

    std::vector<UINT> messages;
    std::vector<UINT> cursorFor;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        messages.push_back(message);
        if (message == WM_SETCURSOR && LOWORD(lParam) == HTNOWHERE)
            cursorFor.push_back(HIWORD(lParam));
        return CxIndicatorCtrl::WindowProc(message, wParam, lParam);
    }
};

class IndicatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.skinFile = CX_BUILTIN_SKIN_SPEC;
        host.sections[kShuffleId] = L"player.indicator.shuffle";
        host.sections[kShuffleId + 1] = L"player.indicator.repeat";
        host.sections[kShuffleId + 2] = L"player.indicator.mute";
        host.sections[kShuffleId + 3] = L"player.indicator.stereo";
        ASSERT_NE(cx_bars_test::CreateHostWindow(host, L"KwepIndicatorHost", 50, 50, 320, 240), nullptr);
        RECT r{};
        GetWindowRect(host.hWnd, &r);
        MovePointerTo({r.right + 40, r.bottom + 40});
    }
    void TearDown() override
    {
        cx_bars_test::DestroyHostWindow(host);
        cx_bars_test::Pump();
    }

    Host host;
};

TEST_F(IndicatorTest, ShowsItsSecondImageWhileEnabledAndItsFirstWhileDisabled)
{
    struct Case {
        const char* name;
        int id;
        UINT firstImage;
        POINT centre;
        bool startDisabled;
    };
    const Case cases[] = {
        {"shuffle, created enabled", kShuffleId, 1260, {170, 160}, false},
        {"repeat, created disabled", kShuffleId + 1, 1262, {194, 160}, true},
        {"mute, created disabled", kShuffleId + 2, 1264, {218, 160}, true},
        {"stereo, created enabled", kShuffleId + 3, 1266, {242, 160}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestIndicator lamp;
        ASSERT_TRUE(lamp.Create(host.hWnd, c.id, c.startDisabled ? WS_DISABLED : 0));
        ASSERT_TRUE(lamp.GetLow() & CXFL_SKINREGION) << "no image applied";
        ASSERT_EQ(lamp.GetImageList().GetCount(), 2);
        auto expectShown = [&](int state) {
            EXPECT_EQ(lamp.GetStateIndex(), state);
            EXPECT_EQ(lamp.GetImageList().m_state, state);
            EXPECT_EQ(cx_test::ReadBitmap(lamp.GetBackground()).rgb,
                      cx_bars_test::BuiltInImage(lamp.m_hWnd, c.firstImage + state).rgb);
        };
        // Right after the skin is applied, then through enabling and disabling.
        expectShown(c.startDisabled ? 0 : 1);
        EnableWindow(lamp.m_hWnd, c.startDisabled);
        expectShown(c.startDisabled ? 1 : 0);
        EnableWindow(lamp.m_hWnd, !c.startDisabled);
        expectShown(c.startDisabled ? 0 : 1);

        RECT placed{};
        GetWindowRect(lamp.m_hWnd, &placed);
        MapWindowPoints(HWND_DESKTOP, host.hWnd, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(placed.left, c.centre.x - kLamp.cx / 2);
        EXPECT_EQ(placed.top, c.centre.y - kLamp.cy / 2);
        EXPECT_EQ(placed.right - placed.left, kLamp.cx);
        EXPECT_EQ(placed.bottom - placed.top, kLamp.cy);
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        ASSERT_NE(GetWindowRgn(lamp.m_hWnd, region), ERROR);
        EXPECT_FALSE(PtInRegion(region, 0, 0)) << "the rounded corner is cut away";
        EXPECT_TRUE(PtInRegion(region, kLamp.cx / 2, kLamp.cy / 2));
        DeleteObject(region);
    }
}

TEST_F(IndicatorTest, AClickOnTheLampNeverReachesItAsAMouseMessage)
{
    TestIndicator lamp;
    ASSERT_TRUE(lamp.Create(host.hWnd, kShuffleId));
    EXPECT_EQ(SendMessageW(lamp.m_hWnd, WM_NCHITTEST, 0, 0), HTNOWHERE);
    cx_bars_test::Settle(host.hWnd);
    RECT r{};
    GetWindowRect(lamp.m_hWnd, &r);
    if (!MovePointerTo(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}))
        GTEST_SKIP() << "the display does not move the pointer";
    lamp.messages.clear();
    cx_bars_test::LeftButton(true);
    cx_bars_test::LeftButton(false);
    // Over a window that is nowhere the system only sets the cursor: the click ends there.
    ASSERT_TRUE(cx_bars_test::PumpUntil([&] { return lamp.GotCursorFor(WM_LBUTTONUP); }));
    EXPECT_TRUE(lamp.GotCursorFor(WM_LBUTTONDOWN));
    for (UINT message : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_NCMOUSEMOVE, WM_NCLBUTTONDOWN, WM_NCLBUTTONUP})
        EXPECT_FALSE(lamp.Got(message)) << "message " << std::hex << message;
    EXPECT_FALSE(lamp.GetLow() & (CXFL_CAPTURED | CXFL_MOUSEPRESSED | CXFL_HOVER));
    EXPECT_NE(GetCapture(), lamp.m_hWnd);
    EXPECT_EQ(lamp.GetImageList().m_state, 1);
}

TEST_F(IndicatorTest, ALampWhoseParentNamesNoSectionKeepsItsTemplateLook)
{
    TestIndicator lamp;
    ASSERT_TRUE(lamp.Create(host.hWnd, 4410));
    EXPECT_EQ(lamp.GetSkinRecords().GetCount(), 0);
    EXPECT_FALSE(lamp.GetLow() & CXFL_SKINREGION);
    EXPECT_EQ(lamp.GetBackground(), nullptr);
    RECT placed{};
    GetWindowRect(lamp.m_hWnd, &placed);
    EXPECT_EQ(placed.right - placed.left, 20);
    EXPECT_EQ(placed.bottom - placed.top, 14);
    EnableWindow(lamp.m_hWnd, FALSE);
    EXPECT_EQ(lamp.GetStateIndex(), 0);
}

}  // namespace
