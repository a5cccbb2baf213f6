// The line under a menu bar: where the group box lies against its dialog's client area (its top edge
// half a text line above the client top, the rest of the frame outside the dialog), when it shows, and
// that it asks its parent for the registry place of its values.
#include "manager/controls/bars/cx_menu_border.h"
#include "tests/manager/test_window_class.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

LRESULT CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == CXM_GETPERSISTKEYPATH && wParam != 0) {
        auto* path = reinterpret_cast<CxKeyPath*>(wParam);
        for (const wchar_t* c : {L"software", L"KwepTest", L"Border"})
            CxKeyPathAdd(*path, c);
        return 1;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

const wchar_t* DialogClass()
{
    static const wchar_t* name = RegisterTestWindowClass(L"KwepMenuBorderDialog", DialogProc);
    return name;
}

// A top-level window, with a menu bar when asked.
HWND MakeDialog(bool withMenu)
{
    HMENU menu = nullptr;
    if (withMenu) {
        menu = CreateMenu();
        AppendMenuW(menu, MF_STRING, 1, L"&File");
    }
    return CreateWindowExW(0, DialogClass(), L"dialog", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 320, 200, nullptr,
                           menu, GetModuleHandleW(nullptr), nullptr);
}

// The border's rectangle in its dialog's client coordinates.
std::vector<int> Placed(HWND border, HWND dialog)
{
    RECT r{};
    GetWindowRect(border, &r);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

int HalfTextHeight(HWND border)
{
    HDC dc = GetDC(border);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(border, WM_GETFONT, 0, 0));
    HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    if (old != nullptr)
        SelectObject(dc, old);
    ReleaseDC(border, dc);
    return tm.tmHeight / 2;
}

TEST(CxMenuBorderTest, LiesUnderTheMenuBarWithOnlyItsTopEdgeInTheDialog)
{
    struct Case {
        const char* what;
        bool menu;
        BOOL show;
        bool visible;
    };
    const Case cases[] = {
        {"menu, shown", true, TRUE, true},
        {"menu, not shown", true, FALSE, false},
        {"no menu", false, TRUE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWND dialog = MakeDialog(c.menu);
        ASSERT_NE(dialog, nullptr);
        RECT client{};
        GetClientRect(dialog, &client);
        CxMenuBorder border;
        ASSERT_EQ(border.Create(dialog, c.show), S_OK);
        HWND hWnd = border.m_hWnd;
        ASSERT_NE(hWnd, nullptr);
        EXPECT_EQ(GetParent(hWnd), dialog);
        EXPECT_EQ(GetDlgCtrlID(hWnd), static_cast<int>(CX_MENUBORDER_ID));
        EXPECT_EQ(GetWindowLongW(hWnd, GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX);
        EXPECT_TRUE(GetWindowLongW(hWnd, GWL_EXSTYLE) & WS_EX_TRANSPARENT);
        wchar_t className[16] = {};
        GetClassNameW(hWnd, className, 16);
        EXPECT_EQ(CompareStringOrdinal(className, -1, L"button", -1, TRUE), CSTR_EQUAL);
        const int top = c.menu ? -HalfTextHeight(hWnd) : 0;
        EXPECT_EQ(Placed(hWnd, dialog),
                  (std::vector<int>{-CX_MENUBORDER_OVERHANG, top, client.right + 2 * CX_MENUBORDER_OVERHANG,
                                    client.bottom + CX_MENUBORDER_OVERHANG}));
        EXPECT_EQ(IsWindowVisible(hWnd) != FALSE, c.visible);

        // A second creation keeps the first window.
        EXPECT_EQ(border.Create(dialog, TRUE), E_ACCESSDENIED);
        EXPECT_EQ(border.m_hWnd, hWnd);
        DestroyWindow(dialog);
    }
    CxMenuBorder orphan;
    EXPECT_EQ(orphan.Create(nullptr, TRUE), E_OUTOFMEMORY);
    EXPECT_EQ(orphan.m_hWnd, nullptr);
}

TEST(CxMenuBorderTest, KeepsItsValuesUnderItsDialogsKey)
{
    HWND dialog = MakeDialog(true);
    CxMenuBorder border;
    ASSERT_EQ(border.Create(dialog, TRUE), S_OK);
    CxKeyPath path;
    ASSERT_EQ(border.GetPersistKeyPath(path), S_OK);
    ASSERT_EQ(path.GetCount(), 3);
    EXPECT_STREQ(path.ElementAt(2), L"Border");
    CxKeyPath asked;
    EXPECT_EQ(SendMessageW(border.m_hWnd, CXM_GETPERSISTKEYPATH, reinterpret_cast<WPARAM>(&asked), 0), 1);
    EXPECT_EQ(asked.GetCount(), 3);
    DestroyWindow(dialog);
}

}  // namespace
