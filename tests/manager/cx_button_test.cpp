// Skinned buttons with real windows: state images read back against the image files, the shape cut
// from the image, the check state kept for owner-drawn check boxes, three-state boxes and radio groups
// (by message, mouse and keyboard), the menu button's menu, the popup menu's refusals, the shapes
// skinned controls add to a shaped dialog's region, and the main dialog's answer for the skin sections
// of controls it does not know.
#include "manager/controls/bars/cx_text_bar.h"
#include "manager/controls/buttons/cx_menu_button.h"
#include "manager/controls/buttons/cx_popup_menu.h"
#include "manager/controls/buttons/cx_skin_button.h"
#include "manager/dialogs/cx_main_dlg.h"
#include "manager/framework/skin/cx_dialog.h"
#include "manager/framework/skin/cx_skin_file.h"
#include "manager/framework/windows/cx_app.h"
#include "tests/manager/cx_test_pixels.h"
#include "tests/manager/pointer.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using test_support::TempFolder;

// The state images: 24 x 16, the left four columns in the key colour, the rest one colour per state.
constexpr int kImageWidth = 24;
constexpr int kImageHeight = 16;
constexpr int kKeyColumns = 4;
constexpr uint32_t kKey = 0xFF00FF;
constexpr uint32_t kStateColours[8] = {0x404040, 0x2060A0, 0x30A050, 0xC03020, 0x808080, 0x1040F0, 0x10D0D0, 0xF0A000};
// Where the skin puts the centre of every button.
constexpr POINT kCentre{100, 50};

constexpr int kCheckBoxId = 100;
constexpr int kFourImageId = 101;
constexpr int kPushId = 102;
constexpr int kRadioFirstId = 110;
constexpr int kMenuButtonId = 120;
constexpr int kUnknownId = 130;

constexpr UINT kMenuResource = 500;
constexpr UINT kSeparatorOnlyMenu = 501;

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// The state's image: the left columns in the key colour, the rest in the state's colour.
void WriteStateImage(const std::wstring& path, uint32_t colour)
{
    cx_test::WriteBmp24(path, kImageWidth, kImageHeight,
                        [colour](int x, int) { return x < kKeyColumns ? kKey : colour; });
}

// The skin file and its images, and the window that holds the buttons and answers their questions.
struct Host {
    std::wstring skinFile;
    // The pack whose images stand in for those a skin file lacks; empty for none.
    std::wstring packFile;
    std::map<int, const wchar_t*> sections;
    LRESULT noKeyClick = 0;
    // The check state the parent read when a button told it of a click.
    std::vector<LRESULT> clickedChecks;
    // Popups shown, their first item, and where the menu window stood.
    std::vector<UINT> popupFirstItems;
    std::vector<RECT> menuWindows;
    // Hover texts posted by the controls ("-" for a null text), with their flags.
    std::vector<std::pair<std::wstring, LPARAM>> hoverTexts;
    HWND hWnd = nullptr;
};
Host* g_host = nullptr;

LRESULT CALLBACK HostProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Host* host = g_host;
    if (host == nullptr)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    switch (message) {
    case CXM_GETSKINSECTION: {
        auto found = host->sections.find(static_cast<int>(wParam) - 2);
        if (found != host->sections.end() && lParam != 0)
            *reinterpret_cast<const wchar_t**>(lParam) = found->second;
        return 1;
    }
    case CXM_GETSKINFILE:
        return SUCCEEDED(CxStrDup(reinterpret_cast<wchar_t**>(wParam), host->skinFile.c_str())) ? 1 : 0;
    case CXM_GETPACKFILE:
        if (host->packFile.empty() || wParam == 0)
            return 0;
        return SUCCEEDED(reinterpret_cast<CxString*>(wParam)->Assign(host->packFile.c_str())) ? 1 : 0;
    case CXM_ASKOWNER:
        return 1;
    case CXM_DISABLEKEYCLICK:
        return host->noKeyClick;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0)
            host->clickedChecks.push_back(SendMessageW(reinterpret_cast<HWND>(lParam), BM_GETCHECK, 0, 0));
        return 0;
    case WM_INITMENUPOPUP:
        host->popupFirstItems.push_back(GetMenuItemID(reinterpret_cast<HMENU>(wParam), 0));
        return 0;
    case WM_ENTERIDLE:
        // The menu is up: note where it stands and close it.
        if (wParam == MSGF_MENU) {
            RECT r{};
            GetWindowRect(reinterpret_cast<HWND>(lParam), &r);
            host->menuWindows.push_back(r);
            EndMenu();
        }
        return 0;
    case CXM_SETTEXT: {
        auto* text = reinterpret_cast<wchar_t*>(wParam);
        host->hoverTexts.emplace_back(text != nullptr ? text : L"-", lParam);
        CxFree(text);
        return 1;
    }
    case WM_DRAWITEM:
        return TRUE;
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

const wchar_t* HostClass()
{
    static const wchar_t* name =
        RegisterTestWindowClass(L"KwepButtonTestHost", HostProc, nullptr, LoadCursorW(nullptr, IDC_ARROW));
    return name;
}

// Exposes what the button keeps and what the native button holds underneath.
class TestSkinButton : public CxSkinButton {
public:
    bool Create(HWND parent, int id, DWORD type, DWORD extraStyle = 0)
    {
        const RECT rect{5, 5, 35, 25};
        return CxButton::Create(parent, rect, static_cast<UINT>(id), WS_CHILD | WS_VISIBLE | type | extraStyle) !=
               FALSE;
    }
    LRESULT NativeCheck() { return CWnd::WindowProc(BM_GETCHECK, 0, 0); }
    HBITMAP Background() const { return GetBackground(); }

    // The messages that reached the native button.
    std::vector<UINT> reachedNative;

protected:
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        reachedNative.push_back(message);
        return CxSkinButton::DefWindowProc(message, wParam, lParam);
    }
};

class TestMenuButton : public CxMenuButton {
public:
    bool Create(HWND parent, int id)
    {
        const RECT rect{5, 5, 35, 25};
        return CxButton::Create(parent, rect, static_cast<UINT>(id), WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX) != FALSE;
    }
};

class CxSkinButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring eight;
        std::wstring four;
        for (int i = 0; i < 8; ++i) {
            const std::wstring path = folder.File(L"state" + std::to_wstring(i) + L".bmp").wstring();
            WriteStateImage(path, kStateColours[i]);
            const std::wstring spec = path + L",/cut";
            eight += (i ? L"|" : L"") + spec;
            if (i < 4)
                four += (i ? L"|" : L"") + spec;
        }
        const std::wstring ini =
            L"[eight]\r\nimg=" + eight + L"\r\npos=100,50\r\n[four]\r\nimg=" + four + L"\r\npos=100,50\r\n";
        host.skinFile = folder.File(L"skin.ini").wstring();
        WriteBytes(host.skinFile, std::vector<uint8_t>(ini.begin(), ini.end()));
        for (int id : {kCheckBoxId, kPushId, kRadioFirstId, kRadioFirstId + 1, kRadioFirstId + 2, kMenuButtonId})
            host.sections[id] = L"eight";
        host.sections[kFourImageId] = L"four";
        g_host = &host;
        host.hWnd = CreateWindowExW(0, HostClass(), L"buttons", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 320, 220,
                                    nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(host.hWnd, nullptr);
        MoveMouseAway();
    }
    void TearDown() override
    {
        DestroyWindow(host.hWnd);
        Pump();
        g_host = nullptr;
    }

    void MoveMouseAway()
    {
        RECT r{};
        GetWindowRect(host.hWnd, &r);
        MovePointerTo({r.right + 50, r.bottom + 50});
    }
    // The mouse over the button's middle; false when the display does not move the pointer.
    bool MoveMouseOver(HWND button)
    {
        RECT r{};
        GetWindowRect(button, &r);
        return MovePointerTo({r.left + kImageWidth * 3 / 4, (r.top + r.bottom) / 2});
    }
    void MouseClick(HWND button)
    {
        const LPARAM at = MAKELPARAM(kImageWidth * 3 / 4, kImageHeight / 2);
        SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(button, WM_LBUTTONUP, 0, at);
    }
    void KeyClick(HWND button, WPARAM key = VK_SPACE)
    {
        SendMessageW(button, WM_KEYDOWN, key, 0x00390001);
        SendMessageW(button, WM_KEYUP, key, static_cast<LPARAM>(0xC0390001));
    }

    TempFolder folder;
    Host host;
};

// What the button paints on WM_ERASEBKGND, read back from a memory bitmap filled with black first.
cx_test::Pixels Painted(HWND button)
{
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = kImageWidth;
    bi.bmiHeader.biHeight = kImageHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP target = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, target);
    PatBlt(dc, 0, 0, kImageWidth, kImageHeight, BLACKNESS);
    EXPECT_EQ(SendMessageW(button, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), TRUE);
    SelectObject(dc, old);
    DeleteDC(dc);
    cx_test::Pixels pixels = cx_test::ReadBitmap(target);
    DeleteObject(target);
    return pixels;
}

// ---- Images, place and shape ----

TEST_F(CxSkinButtonTest, EachStateIsDrawnFromItsImage)
{
    TestSkinButton button;
    ASSERT_TRUE(button.Create(host.hWnd, kCheckBoxId, BS_AUTOCHECKBOX));
    ASSERT_TRUE(button.GetLow() & CXFL_SKINREGION) << "no image applied";
    EXPECT_EQ(GetWindowLongW(button.m_hWnd, GWL_STYLE) & 0xF, BS_OWNERDRAW);

    struct Case {
        const char* name;
        std::function<void()> step;
        int state;
    };
    auto flags = [&](DWORD set, DWORD clear) {
        CxModifyFlagsParams params{set, 0, clear, 0, 0, 1, 0};
        SendMessageW(button.m_hWnd, CXM_MODIFYFLAGS, reinterpret_cast<WPARAM>(&params), 0);
    };
    const Case cases[] = {
        {"normal", [] {}, 1},
        {"disabled", [&] { EnableWindow(button.m_hWnd, FALSE); }, 0},
        {"enabled again", [&] { EnableWindow(button.m_hWnd, TRUE); }, 1},
        {"mouse over", [&] { flags(CXFL_CAPTURED, 0); }, 2},
        {"pressed wins over mouse over", [&] { flags(CXFL_MOUSEPRESSED, 0); }, 3},
        {"checked and pressed", [&] { SendMessageW(button.m_hWnd, BM_SETCHECK, 1, 0); }, 7},
        {"pressed with a key", [&] { flags(CXFL_KEYPRESSED, CXFL_MOUSEPRESSED); }, 7},
        {"checked, mouse over", [&] { flags(0, CXFL_KEYPRESSED); }, 6},
        {"checked", [&] { flags(0, CXFL_CAPTURED); }, 5},
        {"indeterminate", [&] { SendMessageW(button.m_hWnd, BM_SETCHECK, 2, 0); }, 5},
        {"disabled and checked, whatever the flags",
         [&] {
             flags(CXFL_MOUSEPRESSED | CXFL_CAPTURED, 0);
             EnableWindow(button.m_hWnd, FALSE);
         },
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.step();
        EXPECT_EQ(button.GetStateIndex(), c.state);
        EXPECT_EQ(button.GetImageList().m_state, c.state);
        const cx_test::Pixels shown = cx_test::ReadBitmap(button.Background());
        ASSERT_EQ(shown.width, kImageWidth);
        EXPECT_EQ(shown.At(kImageWidth - 1, 0), kStateColours[c.state]);
        const cx_test::Pixels painted = Painted(button.m_hWnd);
        EXPECT_EQ(painted.At(kImageWidth / 2, kImageHeight / 2), kStateColours[c.state]);
        EXPECT_EQ(painted.At(1, 1), 0u) << "painted outside the shape";
    }
}

TEST_F(CxSkinButtonTest, SitsCentredOnItsPointAndTakesTheShapeOfItsImage)
{
    TestSkinButton button;
    ASSERT_TRUE(button.Create(host.hWnd, kCheckBoxId, BS_AUTOCHECKBOX));
    RECT placed{};
    GetWindowRect(button.m_hWnd, &placed);
    MapWindowPoints(HWND_DESKTOP, host.hWnd, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, kCentre.x - kImageWidth / 2);
    EXPECT_EQ(placed.top, kCentre.y - kImageHeight / 2);
    EXPECT_EQ(placed.right - placed.left, kImageWidth);
    EXPECT_EQ(placed.bottom - placed.top, kImageHeight);

    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(button.m_hWnd, region), ERROR);
    RECT box{};
    GetRgnBox(region, &box);
    EXPECT_EQ(box.left, kKeyColumns);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right, kImageWidth);
    EXPECT_EQ(box.bottom, kImageHeight);
    EXPECT_FALSE(PtInRegion(region, 1, 5));
    EXPECT_TRUE(PtInRegion(region, kKeyColumns, 5));
    DeleteObject(region);

    // A layout's offsets move the point.
    const POINT move{7, -3};
    EXPECT_EQ(SendMessageW(button.m_hWnd, CXM_ADDOFFSETS, reinterpret_cast<WPARAM>(&move), 0), 1);
    EXPECT_EQ(SendMessageW(button.m_hWnd, CXM_FLAGSCHANGED, 0, 0), 1);
    GetWindowRect(button.m_hWnd, &placed);
    MapWindowPoints(HWND_DESKTOP, host.hWnd, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, kCentre.x - kImageWidth / 2 + 7);
    EXPECT_EQ(placed.top, kCentre.y - kImageHeight / 2 - 3);
}

TEST_F(CxSkinButtonTest, AStateWithoutAnImageKeepsTheImageShownBefore)
{
    TestSkinButton button;
    ASSERT_TRUE(button.Create(host.hWnd, kFourImageId, BS_AUTOCHECKBOX));
    EXPECT_EQ(button.GetImageList().m_state, 1);
    SendMessageW(button.m_hWnd, BM_SETCHECK, 1, 0);
    EXPECT_EQ(button.GetStateIndex(), 5);
    EXPECT_EQ(button.GetImageList().m_state, 1);
    EXPECT_EQ(Painted(button.m_hWnd).At(kImageWidth / 2, kImageHeight / 2), kStateColours[1]);
}

// The image of a state as the built-in skin's resource holds it.
cx_test::Pixels BuiltInImage(HWND window, UINT id)
{
    HBITMAP bitmap = nullptr;
    EXPECT_EQ(CxLoadSkinImage(CX_IMAGE_RESOURCE, nullptr, id, L"IMG", window, nullptr, &bitmap), S_OK);
    cx_test::Pixels pixels = cx_test::ReadBitmap(bitmap);
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    return pixels;
}

TEST_F(CxSkinButtonTest, TheBuiltInSkinDrawsTheArrowButtonsAndStandsInForAPackThatLacksThem)
{
    const std::wstring pack = folder.File(L"pack.ini").wstring();
    const std::string packText = "[player.track.next]\r\nimg=" + folder.File(L"missing.bmp").string() +
                                 "|missing.bmp|missing.bmp|missing.bmp\r\n";
    WriteBytes(pack, std::vector<uint8_t>(packText.begin(), packText.end()));
    struct Case {
        const char* name;
        const wchar_t* skinFile;
        const wchar_t* section;
        UINT firstImage;
    };
    const Case cases[] = {
        {"previous track", CX_BUILTIN_SKIN_SPEC, L"player.track.previos", 1300},
        {"next track", CX_BUILTIN_SKIN_SPEC, L"player.track.next", 1310},
        {"move to the player", CX_BUILTIN_SKIN_SPEC, L"playlist.move2kwep", 1320},
        {"a pack without the images", pack.c_str(), L"player.track.next", 1310},
    };
    host.packFile = CX_BUILTIN_SKIN_SPEC;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.skinFile = c.skinFile;
        host.sections[kPushId] = c.section;
        TestSkinButton button;
        ASSERT_TRUE(button.Create(host.hWnd, kPushId, BS_PUSHBUTTON));
        // Four images and four empty states: a plain button of the built-in skin is never checked.
        ASSERT_EQ(button.GetImageList().GetCount(), 8);
        for (int state = 4; state < 8; ++state) {
            HBITMAP none = nullptr;
            EXPECT_EQ(button.GetImageList().GetImage(state, &none, TRUE), E_FAIL) << "state " << state;
        }
        for (int state = 0; state < 4; ++state) {
            HBITMAP image = nullptr;
            ASSERT_EQ(button.GetImageList().GetImage(state, &image, TRUE), S_OK);
            const cx_test::Pixels held = cx_test::ReadBitmap(image);
            EXPECT_EQ(held.rgb, BuiltInImage(button.m_hWnd, c.firstImage + state).rgb) << "state " << state;
        }
        EXPECT_EQ(button.GetImageList().m_state, 1);
        // The rounded corners are cut away.
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        ASSERT_NE(GetWindowRgn(button.m_hWnd, region), ERROR);
        EXPECT_FALSE(PtInRegion(region, 0, 0));
        EXPECT_TRUE(PtInRegion(region, 20, 16));
        DeleteObject(region);
    }
}

TEST_F(CxSkinButtonTest, AControlWhoseIdTheParentDoesNotKnowKeepsItsTemplateLook)
{
    TestSkinButton button;
    ASSERT_TRUE(button.Create(host.hWnd, kUnknownId, BS_AUTOCHECKBOX));
    EXPECT_EQ(button.GetSkinRecords().GetCount(), 0);
    EXPECT_FALSE(button.GetLow() & CXFL_SKINREGION);
    EXPECT_EQ(GetWindowLongW(button.m_hWnd, GWL_STYLE) & 0xF, BS_AUTOCHECKBOX);
    // The native check box keeps its own check state.
    SendMessageW(button.m_hWnd, BM_SETCHECK, 1, 0);
    EXPECT_EQ(button.NativeCheck(), 1);
    EXPECT_EQ(button.GetKeptCheck(), 0);
}

// ---- Hover and press ----

TEST_F(CxSkinButtonTest, HoverTextsFollowTheMouseOverAPushButton)
{
    CxButton button;
    const RECT rect{10, 10, 60, 40};
    ASSERT_TRUE(button.Create(host.hWnd, rect, 140));
    EXPECT_EQ(button.GetCursor(), LoadCursorW(nullptr, MAKEINTRESOURCEW(32649))) << "the hand cursor";
    EXPECT_EQ(SendMessageW(button.m_hWnd, CXM_SETTOOLTIP, reinterpret_cast<WPARAM>(L"Tip"), 7), 1);
    if (!MoveMouseOver(button.m_hWnd))
        GTEST_SKIP() << "the display does not move the pointer";
    auto move = [&] {
        SendMessageW(button.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    };

    // Without the tooltip flag nothing is posted, but the mouse is followed.
    move();
    EXPECT_TRUE(button.GetLow() & CXFL_CAPTURED);
    EXPECT_TRUE(button.GetLow() & CXFL_HOVER);
    EXPECT_NE(button.GetTimer(), 0u);
    EXPECT_EQ(GetCapture(), button.m_hWnd);
    MoveMouseAway();
    move();
    EXPECT_FALSE(button.GetLow() & CXFL_CAPTURED);
    EXPECT_NE(GetCapture(), button.m_hWnd);
    Pump();
    EXPECT_TRUE(host.hoverTexts.empty());

    // With it: the text on the way in, a null text on the way out, whichever way the mouse leaves.
    CxModifyFlagsParams tip{CXFL_HASTOOLTIP, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(SendMessageW(button.m_hWnd, CXM_MODIFYFLAGS, reinterpret_cast<WPARAM>(&tip), 0), 1);
    struct Leave {
        const char* name;
        std::function<void()> step;
    };
    const Leave leaves[] = {
        {"a move outside",
         [&] {
             MoveMouseAway();
             move();
         }},
        {"gone without a move: the hover timer",
         [&] {
             MoveMouseAway();
             SendMessageW(button.m_hWnd, WM_TIMER, CX_HOVER_TIMER, 0);
             EXPECT_FALSE(button.GetLow() & CXFL_HOVER);
             EXPECT_EQ(button.GetTimer(), 0u);
         }},
        {"the window deactivated",
         [&] {
             SendMessageW(button.m_hWnd, WM_NCACTIVATE, FALSE, 0);
         }},
        {"the button disabled",
         [&] {
             EnableWindow(button.m_hWnd, FALSE);
         }},
    };
    for (const Leave& leave : leaves) {
        SCOPED_TRACE(leave.name);
        EnableWindow(button.m_hWnd, TRUE);
        host.hoverTexts.clear();
        ASSERT_TRUE(MoveMouseOver(button.m_hWnd));
        move();
        // Still over: the timer keeps the capture.
        EXPECT_EQ(SendMessageW(button.m_hWnd, WM_TIMER, CX_HOVER_TIMER, 0), 0);
        EXPECT_TRUE(button.GetLow() & CXFL_CAPTURED);
        leave.step();
        // Away for good, so that a tick of the real hover timer finds nothing to do.
        MoveMouseAway();
        EXPECT_FALSE(button.GetLow() & CXFL_CAPTURED);
        EXPECT_NE(GetCapture(), button.m_hWnd);
        Pump();
        ASSERT_EQ(host.hoverTexts.size(), 2u);
        EXPECT_EQ(host.hoverTexts[0].first, L"Tip");
        EXPECT_EQ(host.hoverTexts[0].second, 7);
        EXPECT_EQ(host.hoverTexts[1].first, L"-");
    }
}

TEST_F(CxSkinButtonTest, APressDraggedOutsideAndReleasedDoesNotClick)
{
    TestSkinButton button;
    ASSERT_TRUE(button.Create(host.hWnd, kCheckBoxId, BS_AUTOCHECKBOX));
    if (!MoveMouseOver(button.m_hWnd))
        GTEST_SKIP() << "the display does not move the pointer";
    const LPARAM inside = MAKELPARAM(kImageWidth * 3 / 4, kImageHeight / 2);
    SendMessageW(button.m_hWnd, WM_MOUSEMOVE, 0, inside);
    SendMessageW(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, inside);
    EXPECT_TRUE(button.GetLow() & CXFL_MOUSEPRESSED);
    MoveMouseAway();
    SendMessageW(button.m_hWnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-80, -80));
    EXPECT_FALSE(button.GetLow() & CXFL_HOVER) << "the hover timer stops while the button is held";
    host.clickedChecks.clear();
    SendMessageW(button.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(-80, -80));
    EXPECT_FALSE(button.GetLow() & (CXFL_MOUSEPRESSED | CXFL_CAPTURED));
    EXPECT_NE(GetCapture(), button.m_hWnd);
    EXPECT_EQ(SendMessageW(button.m_hWnd, BM_GETCHECK, 0, 0), 0);
    EXPECT_TRUE(host.clickedChecks.empty());
    EXPECT_EQ(button.GetImageList().m_state, 1);
}

// ---- The check state ----

TEST_F(CxSkinButtonTest, ClicksAdvanceTheCheckStateByTheButtonType)
{
    struct Case {
        const char* name;
        DWORD type;
        int checks[3];  // after each of three clicks
    };
    const Case cases[] = {
        {"push button", BS_PUSHBUTTON, {0, 0, 0}},          {"check box", BS_CHECKBOX, {1, 0, 1}},
        {"auto check box", BS_AUTOCHECKBOX, {1, 0, 1}},     {"three-state box", BS_3STATE, {1, 2, 0}},
        {"auto three-state box", BS_AUTO3STATE, {1, 2, 0}}, {"lone radio button", BS_AUTORADIOBUTTON, {1, 1, 1}},
    };
    enum class By { Message, Mouse, Keyboard };
    for (By by : {By::Message, By::Mouse, By::Keyboard}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (by == By::Message ? " by message"
                                                : by == By::Mouse ? " by mouse"
                                                                  : " by keyboard"));
            TestSkinButton button;
            ASSERT_TRUE(button.Create(host.hWnd, kCheckBoxId, c.type));
            EXPECT_EQ(button.GetKeptStyle() & 0xF, c.type == BS_PUSHBUTTON ? 0 : static_cast<int>(c.type));
            if (by == By::Mouse && !MoveMouseOver(button.m_hWnd))
                GTEST_SKIP() << "the display does not move the pointer";
            host.clickedChecks.clear();
            for (int i = 0; i < 3; ++i) {
                if (by == By::Message)
                    EXPECT_EQ(SendMessageW(button.m_hWnd, CXM_BUTTONCLICK, 0, 0), 1);
                else if (by == By::Mouse)
                    MouseClick(button.m_hWnd);
                else
                    KeyClick(button.m_hWnd);
                EXPECT_EQ(SendMessageW(button.m_hWnd, BM_GETCHECK, 0, 0), c.checks[i]) << "click " << i + 1;
                EXPECT_EQ(SendMessageW(button.m_hWnd, BM_GETSTATE, 0, 0) & 3, c.checks[i]) << "click " << i + 1;
            }
            if (by != By::Message) {
                // The parent is told after the state changed.
                ASSERT_EQ(host.clickedChecks.size(), 3u);
                for (int i = 0; i < 3; ++i)
                    EXPECT_EQ(host.clickedChecks[i], c.checks[i]) << "click " << i + 1;
            }
            MoveMouseAway();
            EXPECT_EQ(button.GetStateIndex(), c.checks[2] != 0 ? 5 : 1) << "the mouse is away";
        }
    }
}

TEST_F(CxSkinButtonTest, AMouseClickShowsThePressedImageWhileTheButtonIsDown)
{
    TestSkinButton button;
    ASSERT_TRUE(button.Create(host.hWnd, kCheckBoxId, BS_AUTOCHECKBOX));
    if (!MoveMouseOver(button.m_hWnd))
        GTEST_SKIP() << "the display does not move the pointer";
    const LPARAM at = MAKELPARAM(kImageWidth * 3 / 4, kImageHeight / 2);
    SendMessageW(button.m_hWnd, WM_MOUSEMOVE, 0, at);
    EXPECT_EQ(button.GetImageList().m_state, 2);
    SendMessageW(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    EXPECT_EQ(button.GetImageList().m_state, 3);
    SendMessageW(button.m_hWnd, WM_LBUTTONUP, 0, at);
    EXPECT_EQ(SendMessageW(button.m_hWnd, BM_GETCHECK, 0, 0), 1);
    // Released: no longer pressed, and the capture is given back.
    EXPECT_FALSE(button.GetLow() & CXFL_MOUSEPRESSED);
    EXPECT_NE(GetCapture(), button.m_hWnd);
    EXPECT_EQ(button.GetImageList().m_state, 5);
    SendMessageW(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    EXPECT_EQ(button.GetImageList().m_state, 7);
    SendMessageW(button.m_hWnd, WM_LBUTTONUP, 0, at);
    MoveMouseAway();
    SendMessageW(button.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(-50, -50));
    EXPECT_EQ(button.GetImageList().m_state, 1);
}

TEST_F(CxSkinButtonTest, KeysClickOnceUnlessTheParentSaysNo)
{
    for (LRESULT noKeyClick : {0, 1}) {
        SCOPED_TRACE(noKeyClick ? "the parent disables key clicks" : "key clicks");
        host.noKeyClick = noKeyClick;
        TestSkinButton button;
        ASSERT_TRUE(button.Create(host.hWnd, kCheckBoxId, BS_AUTOCHECKBOX));
        EXPECT_EQ((button.GetHigh() & CXFH_NOKEYCLICK) != 0, noKeyClick != 0);
        host.clickedChecks.clear();
        SendMessageW(button.m_hWnd, WM_KEYDOWN, VK_SPACE, 0x00390001);
        EXPECT_EQ(button.GetImageList().m_state, noKeyClick ? 1 : 3) << "pressed while the key is down";
        SendMessageW(button.m_hWnd, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0390001));
        EXPECT_EQ(SendMessageW(button.m_hWnd, BM_GETCHECK, 0, 0), noKeyClick ? 0 : 1);
        KeyClick(button.m_hWnd, VK_RETURN);
        EXPECT_EQ(SendMessageW(button.m_hWnd, BM_GETCHECK, 0, 0), 0);
        EXPECT_EQ(host.clickedChecks.size(), noKeyClick ? 0u : 1u) << "Space tells the parent, Enter does not";
    }
}

TEST_F(CxSkinButtonTest, StyleMessagesChangeTheKeptStyleOfCheckBoxesAndReachThePushButton)
{
    TestSkinButton box;
    ASSERT_TRUE(box.Create(host.hWnd, kCheckBoxId, BS_CHECKBOX));
    EXPECT_EQ(CxGetButtonStyle(box.m_hWnd) & (0xF | BS_PUSHLIKE), BS_CHECKBOX | BS_PUSHLIKE);
    // BS_CHECKBOX | BS_RADIOBUTTON bits make a three-state type.
    EXPECT_EQ(SendMessageW(box.m_hWnd, BM_SETSTYLE, BS_RADIOBUTTON, TRUE), 0);
    EXPECT_EQ(CxGetButtonStyle(box.m_hWnd) & 0xF, BS_AUTO3STATE);
    EXPECT_EQ(GetWindowLongW(box.m_hWnd, GWL_STYLE) & 0xF, BS_OWNERDRAW) << "the window stays owner-drawn";
    for (int expected : {1, 2, 0}) {
        SendMessageW(box.m_hWnd, CXM_BUTTONCLICK, 0, 0);
        EXPECT_EQ(box.GetKeptCheck(), expected);
    }

    TestSkinButton push;
    ASSERT_TRUE(push.Create(host.hWnd, kPushId, BS_PUSHBUTTON));
    EXPECT_TRUE(push.GetLow() & CXFL_NOCHECKEMULATION);
    EXPECT_EQ(CxGetButtonStyle(push.m_hWnd), 0);
    // Told again that an image is applied, it stays a push button.
    EXPECT_EQ(SendMessageW(push.m_hWnd, CXM_FRAMEIMAGESET, 1, 0), 1);
    EXPECT_TRUE(push.GetLow() & CXFL_NOCHECKEMULATION);
    EXPECT_EQ(CxGetButtonStyle(push.m_hWnd), 0);
    EXPECT_EQ(GetWindowLongW(push.m_hWnd, GWL_STYLE) & 0xF, BS_OWNERDRAW);
    SendMessageW(push.m_hWnd, BM_SETCHECK, 1, 0);
    EXPECT_EQ(push.GetKeptCheck(), 0);
    EXPECT_EQ(SendMessageW(push.m_hWnd, BM_GETCHECK, 0, 0), push.NativeCheck());
    SendMessageW(push.m_hWnd, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EXPECT_EQ(GetWindowLongW(push.m_hWnd, GWL_STYLE) & 0xF, BS_DEFPUSHBUTTON) << "the native button took it";
}

TEST_F(CxSkinButtonTest, WhatTheButtonHandlesNeverReachesTheNativeButton)
{
    struct Case {
        const char* name;
        DWORD type;
        DWORD highFlags;
        UINT message;
        WPARAM wParam;
        bool reaches;
    };
    const Case cases[] = {
        {"check box: set check", BS_AUTOCHECKBOX, 0, BM_SETCHECK, 1, false},
        {"check box: get check", BS_AUTOCHECKBOX, 0, BM_GETCHECK, 0, false},
        {"check box: set style", BS_AUTOCHECKBOX, 0, BM_SETSTYLE, BS_PUSHLIKE, false},
        {"check box: kept style", BS_AUTOCHECKBOX, 0, CXM_GETBUTTONSTYLE, 0, false},
        {"check box: get state, asked underneath", BS_AUTOCHECKBOX, 0, BM_GETSTATE, 0, true},
        {"push button: set check", BS_PUSHBUTTON, 0, BM_SETCHECK, 1, true},
        {"push button: get check", BS_PUSHBUTTON, 0, BM_GETCHECK, 0, true},
        {"push button: set style", BS_PUSHBUTTON, 0, BM_SETSTYLE, BS_DEFPUSHBUTTON, true},
        {"Space", BS_AUTOCHECKBOX, 0, WM_KEYDOWN, VK_SPACE, true},
        {"Space without key clicks", BS_AUTOCHECKBOX, CXFH_NOKEYCLICK, WM_KEYDOWN, VK_SPACE, false},
        {"Enter without key clicks", BS_AUTOCHECKBOX, CXFH_NOKEYCLICK, WM_KEYUP, VK_RETURN, false},
        {"Escape", BS_AUTOCHECKBOX, 0, WM_KEYDOWN, VK_ESCAPE, true},
        {"Escape swallowed", BS_AUTOCHECKBOX, CXFH_SWALLOWESCAPE, WM_KEYDOWN, VK_ESCAPE, false},
        {"Escape swallowed on release", BS_AUTOCHECKBOX, CXFH_SWALLOWESCAPE, WM_KEYUP, VK_ESCAPE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestSkinButton button;
        ASSERT_TRUE(button.Create(host.hWnd, kCheckBoxId, c.type));
        button.ModifyFlags(0, c.highFlags, 0, 0);
        button.reachedNative.clear();
        SendMessageW(button.m_hWnd, c.message, c.wParam, 0);
        bool reached = false;
        for (UINT m : button.reachedNative)
            reached = reached || m == c.message;
        EXPECT_EQ(reached, c.reaches);
    }
}

TEST_F(CxSkinButtonTest, OwnerDrawnTypesAreReplacedAndComeBackWithTheirCheck)
{
    for (DWORD type : {BS_CHECKBOX, BS_RADIOBUTTON, BS_3STATE, BS_AUTO3STATE, BS_AUTORADIOBUTTON}) {
        SCOPED_TRACE("type " + std::to_string(type));
        TestSkinButton button;
        ASSERT_TRUE(button.Create(host.hWnd, kCheckBoxId, type));
        EXPECT_EQ(GetWindowLongW(button.m_hWnd, GWL_STYLE) & 0xF, BS_OWNERDRAW);
        EXPECT_TRUE(button.GetLow() & CXFL_OWNERDRAWSET);
        SendMessageW(button.m_hWnd, BM_SETCHECK, 1, 0);
        // The image removed: the button's own type and check again.
        EXPECT_EQ(SendMessageW(button.m_hWnd, CXM_FRAMEIMAGESET, 0, 0), 1);
        EXPECT_EQ(GetWindowLongW(button.m_hWnd, GWL_STYLE) & 0xF, static_cast<LONG>(type));
        EXPECT_FALSE(button.GetLow() & CXFL_OWNERDRAWSET);
        EXPECT_EQ(button.NativeCheck(), 1);
    }
}

TEST_F(CxSkinButtonTest, ARadioGroupKeepsOneMemberChecked)
{
    TestSkinButton radios[3];
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(
            radios[i].Create(host.hWnd, kRadioFirstId + i, BS_AUTORADIOBUTTON, i == 0 ? WS_GROUP | WS_TABSTOP : 0));
    // The next group starts here.
    TestSkinButton other;
    ASSERT_TRUE(other.Create(host.hWnd, kPushId, BS_AUTORADIOBUTTON, WS_GROUP));
    SendMessageW(other.m_hWnd, BM_SETCHECK, 1, 0);

    auto checks = [&] {
        std::string s;
        for (auto& r : radios)
            s += std::to_string(SendMessageW(r.m_hWnd, BM_GETCHECK, 0, 0));
        return s;
    };
    struct Case {
        const char* name;
        int button;
        WPARAM check;
        const char* after;
    };
    const Case cases[] = {
        {"check the first", 0, 1, "100"},
        {"check the second", 1, 1, "010"},
        {"uncheck it: the next is checked", 1, 0, "001"},
        {"uncheck the last: the first is checked", 2, 0, "100"},
        {"check the last", 2, 1, "001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SendMessageW(radios[c.button].m_hWnd, BM_SETCHECK, c.check, 0);
        EXPECT_EQ(checks(), c.after);
    }
    // A click on the checked radio leaves it checked; a click on another moves the check.
    SendMessageW(radios[2].m_hWnd, CXM_BUTTONCLICK, 0, 0);
    EXPECT_EQ(checks(), "001");
    SendMessageW(radios[0].m_hWnd, CXM_BUTTONCLICK, 0, 0);
    EXPECT_EQ(checks(), "100");
    EXPECT_EQ(SendMessageW(other.m_hWnd, BM_GETCHECK, 0, 0), 1) << "another group was touched";

    // A disabled member, which the group walk skips, still checks itself alone.
    EnableWindow(radios[1].m_hWnd, FALSE);
    SendMessageW(radios[1].m_hWnd, BM_SETCHECK, 1, 0);
    EXPECT_EQ(checks(), "010");
}

// ---- The menu button ----

TEST_F(CxSkinButtonTest, AMenuButtonDropsItsMenuAndUnchecksWhenItCloses)
{
    TestMenuButton button;
    ASSERT_TRUE(button.Create(host.hWnd, kMenuButtonId));
    EXPECT_EQ(button.GetMenuId(), -1);

    // No menu: the check stays and nothing drops.
    SendMessageW(button.m_hWnd, BM_SETCHECK, 1, 0);
    EXPECT_EQ(SendMessageW(button.m_hWnd, BM_GETCHECK, 0, 0), 1);
    SendMessageW(button.m_hWnd, BM_SETCHECK, 0, 0);
    EXPECT_TRUE(host.popupFirstItems.empty());

    struct Case {
        const char* name;
        int menuId;
        int position;
        bool withOwner;
        UINT firstItem;  // 0: no menu shows
    };
    const Case cases[] = {
        {"the sub-menu at its position", kMenuResource, 1, true, 5201},
        {"the last sub-menu", kMenuResource, -1, true, 5301},
        {"a menu the program lacks", 999, 0, true, 0},
        {"a position without a sub-menu", kSeparatorOnlyMenu, 0, true, 0},
        {"a position past the end", kMenuResource, 7, true, 0},
        {"no owner", kMenuResource, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.popupFirstItems.clear();
        host.menuWindows.clear();
        button.SetMenu(c.menuId, c.position, c.withOwner ? host.hWnd : nullptr);
        SendMessageW(button.m_hWnd, BM_SETCHECK, 1, 0);
        EXPECT_EQ(SendMessageW(button.m_hWnd, BM_GETCHECK, 0, 0), 0) << "unchecked once the menu closed";
        EXPECT_EQ(button.GetImageList().m_state, 1);
        if (c.firstItem == 0) {
            EXPECT_TRUE(host.popupFirstItems.empty());
            continue;
        }
        ASSERT_EQ(host.popupFirstItems.size(), 1u);
        EXPECT_EQ(host.popupFirstItems[0], c.firstItem);
        ASSERT_EQ(host.menuWindows.size(), 1u);
        RECT own{};
        GetWindowRect(button.m_hWnd, &own);
        EXPECT_EQ(host.menuWindows[0].left, own.left) << "under the lower-left corner";
        EXPECT_EQ(host.menuWindows[0].top, own.bottom) << "under the lower-left corner";
    }

    // A click drops it the same way.
    host.popupFirstItems.clear();
    button.SetMenu(kMenuResource, 0, host.hWnd);
    EXPECT_EQ(SendMessageW(button.m_hWnd, CXM_BUTTONCLICK, 0, 0), 1);
    ASSERT_EQ(host.popupFirstItems.size(), 1u);
    EXPECT_EQ(host.popupFirstItems[0], 5101u);
    EXPECT_EQ(SendMessageW(button.m_hWnd, BM_GETCHECK, 0, 0), 0);
}

TEST(CxShowPopupMenuTest, RefusesADeadOwnerOrAnInvalidMenu)
{
    HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleW(nullptr),
                                 nullptr);
    ASSERT_NE(owner, nullptr);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 1, L"item");
    HMENU gone = CreatePopupMenu();
    DestroyMenu(gone);
    const POINT at{10, 10};
    EXPECT_EQ(CxShowPopupMenu(nullptr, at, menu, CX_NO_DEFAULT_ITEM, FALSE, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(CxShowPopupMenu(owner, at, nullptr, CX_NO_DEFAULT_ITEM, FALSE, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(CxShowPopupMenu(owner, at, gone, 0, TRUE, 0, nullptr), E_INVALIDARG);
    DestroyWindow(owner);
    EXPECT_EQ(CxShowPopupMenu(owner, at, menu, 0, TRUE, 0, nullptr), E_INVALIDARG);
    // Nothing was changed on the refused menu.
    EXPECT_EQ(GetMenuDefaultItem(menu, TRUE, 0), static_cast<UINT>(-1));
    DestroyMenu(menu);
}

// ---- Skinned controls inside a shaped dialog ----

constexpr UINT kShapedTemplate = 602;

// A shaped dialog that names the skin file and the sections of its controls.
class ShapedDialog : public CxDialog {
public:
    ShapedDialog() : CxDialog(kShapedTemplate, nullptr) {}
    ~ShapedDialog() override
    {
        if (m_hWnd != nullptr)
            DestroyWindow();
    }
    std::wstring skinFile;
    std::map<int, const wchar_t*> sections;

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (mapId == CX_MAPID_CHAIN && message == CXM_GETSKINSECTION && lParam != 0) {
            auto found = sections.find(static_cast<int>(wParam) - 2);
            *reinterpret_cast<const wchar_t**>(lParam) = found != sections.end() ? found->second : nullptr;
            lResult = 1;
            return TRUE;
        }
        if (mapId == CX_MAPID_CHAIN && message == CXM_GETSKINFILE) {
            lResult = SUCCEEDED(CxStrDup(reinterpret_cast<wchar_t**>(wParam), skinFile.c_str())) ? 1 : 0;
            return TRUE;
        }
        return CxDialog::PreMap(hWnd, message, wParam, lParam, lResult, mapId);
    }
};

// The frame is cut by its key colour, with a hole in the middle where the controls sit: the dialog's
// region is the frame and what its visible children add, each by its own shape.
TEST(CxShapedDialogTest, SkinnedChildrenAddTheirShapesWhenTheFrameIsApplied)
{
    TempFolder folder;
    constexpr int kWidth = 200, kHeight = 120;
    constexpr RECT kHole{60, 30, 140, 90};
    const std::wstring frame = folder.File(L"frame.bmp").wstring();
    cx_test::WriteBmp24(frame, kWidth, kHeight, [&](int x, int y) {
        const POINT p{x, y};
        return (x == 0 && y == 0) || PtInRect(&kHole, p) ? kKey : 0x406080u;
    });
    const std::wstring state = folder.File(L"state.bmp").wstring();
    WriteStateImage(state, kStateColours[0]);
    std::wstring states;
    for (int i = 0; i < 8; ++i)
        states += (i ? L"|" : L"") + state + L",/cut";
    const std::wstring ini = L"[frame]\r\nimg=" + frame + L",/cut\r\n[button]\r\nimg=" + states + L"\r\npos=100,50\r\n";
    ShapedDialog dlg;
    dlg.skinFile = folder.File(L"skin.ini").wstring();
    WriteBytes(dlg.skinFile, std::vector<uint8_t>(ini.begin(), ini.end()));
    dlg.sections[kPushId] = L"button";
    ASSERT_TRUE(dlg.Create(kShapedTemplate, nullptr));

    TestSkinButton button;
    ASSERT_TRUE(button.Create(dlg.m_hWnd, kPushId, BS_PUSHBUTTON));
    ASSERT_TRUE(button.GetLow() & CXFL_SKINREGION) << "the button has no shape";
    CxTextBarCtrl shown;
    ASSERT_TRUE(shown.Create(dlg.m_hWnd, RECT{70, 70, 90, 80}, 300));
    CxTextBarCtrl hidden;
    ASSERT_TRUE(hidden.Create(dlg.m_hWnd, RECT{115, 70, 135, 80}, 301, WS_CHILD));

    dlg.SetSkinSection(L"frame");
    ASSERT_EQ(dlg.ApplySkinSection(dlg.skinFile.c_str()), S_OK);
    ASSERT_TRUE(dlg.GetLow() & CXFL_SKINREGION);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_EQ(GetWindowRgn(dlg.m_hWnd, region), COMPLEXREGION);
    RECT window{};
    GetWindowRect(dlg.m_hWnd, &window);
    // A point of a child, in the dialog's window coordinates.
    auto inChild = [&](HWND child, int x, int y) {
        RECT r{};
        GetWindowRect(child, &r);
        return POINT{r.left - window.left + x, r.top - window.top + y};
    };
    struct Case {
        const char* what;
        POINT at;
        bool inside;
    };
    const Case cases[] = {
        {"the frame", {10, 10}, true},
        {"the frame's key corner", {0, 0}, false},
        {"the hole", {kHole.left + 2, kHole.top + 2}, false},
        {"the button's face", inChild(button.m_hWnd, kImageWidth - 2, kImageHeight / 2), true},
        {"the button's key columns", inChild(button.m_hWnd, 1, kImageHeight / 2), false},
        {"the shown bar", inChild(shown.m_hWnd, 5, 5), true},
        {"the hidden bar", inChild(hidden.m_hWnd, 5, 5), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PtInRegion(region, c.at.x, c.at.y) != FALSE, c.inside) << c.what << " at " << c.at.x << "," << c.at.y;
    DeleteObject(region);
}

// ---- The main dialog's skin sections ----

// {0E4C9B1D-5A77-4C61-8D0F-2B9E6A3C7D14}
const GUID kGuid = {0x0e4c9b1d, 0x5a77, 0x4c61, {0x8d, 0x0f, 0x2b, 0x9e, 0x6a, 0x3c, 0x7d, 0x14}};

class TestApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override { return &kGuid; }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override { SetRegistryKey(L"KwepTest"); }
    BOOL GetString(CxString& text, UINT) override
    {
        text.Empty();
        return FALSE;
    }
};

constexpr UINT kMainTemplate = 601;
constexpr int kTemplateButton = 700;
constexpr int kKnownId = 300;

class SectionsMainDlg : public CxMainDlg {
public:
    SectionsMainDlg() : CxMainDlg(kMainTemplate, nullptr) {}
    ~SectionsMainDlg() override
    {
        if (m_hWnd != nullptr)
            DestroyWindow();
    }
    const wchar_t* GetSkinSectionName(WPARAM key) override
    {
        if (key == kKnownId + 2)
            return L"known";
        return CxMainDlg::GetSkinSectionName(key);
    }
};

TEST(CxMainDlgSectionsTest, ControlsTheWindowDoesNotKnowGetNoSection)
{
    TestApp app;
    SectionsMainDlg dlg;
    ASSERT_TRUE(dlg.Create(kMainTemplate, nullptr));
    const wchar_t* section = L"untouched";
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, CXM_GETSKINSECTION, kKnownId + 2, reinterpret_cast<LPARAM>(&section)), 1);
    EXPECT_STREQ(section, L"known");
    section = L"untouched";
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, CXM_GETSKINSECTION, 4242 + 2, reinterpret_cast<LPARAM>(&section)), 1);
    EXPECT_EQ(section, nullptr);
    EXPECT_EQ(SendMessageW(dlg.m_hWnd, CXM_GETSKINSECTION, kKnownId + 2, 0), 0) << "no place for the answer";

    // A skinned button of the template whose id the window does not know keeps its place and look.
    TestSkinButton button;
    HWND item = GetDlgItem(dlg.m_hWnd, kTemplateButton);
    ASSERT_NE(item, nullptr);
    RECT before{};
    GetWindowRect(item, &before);
    ASSERT_TRUE(button.SubclassWindow(item));
    EXPECT_EQ(SendMessageW(item, CXM_INITCONTROL, 0, 0), 1);
    EXPECT_TRUE(button.GetLow() & CXFL_SKINLOADED);
    EXPECT_EQ(button.GetSkinRecords().GetCount(), 0);
    RECT after{};
    GetWindowRect(item, &after);
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_EQ(GetWindowLongW(item, GWL_STYLE) & 0xF, BS_PUSHBUTTON);
    button.UnsubclassWindow();
    dlg.DestroyWindow();
    Pump();
}

}  // namespace
