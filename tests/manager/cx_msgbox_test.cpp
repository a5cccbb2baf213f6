// The framework's message box, shown for real on a thread of its own while this thread reads the
// created dialog back (styles, ids, classes, positions), presses its buttons, and keeps a capture of it
// from the X display (xwd) beside the test's output.
#include "manager/framework/windows/cx_app.h"
#include "manager/framework/windows/cx_msgbox.h"
#include "tests/manager/cx_test_pixels.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// {6E2D1C3B-4A59-4F68-9E7D-8C0B1A2F3E4D}
const GUID kGuid = {0x6e2d1c3b, 0x4a59, 0x4f68, {0x9e, 0x7d, 0x8c, 0x0b, 0x1a, 0x2f, 0x3e, 0x4d}};

// Translates Yes and nothing else.
class BoxTestApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override { return &kGuid; }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override {}
    BOOL GetString(CxString& text, UINT id) override
    {
        text.Empty();
        return id == 9007 && SUCCEEDED(text.Assign(L"&Ja"));
    }
};

struct Item {
    std::wstring cls;
    int id;
    DWORD style;
    RECT rect;  // client coordinates of the box
    std::wstring text;
};

HANDLE g_shown = nullptr;
HWND g_box = nullptr;

LRESULT CALLBACK InitHook(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && msg->message == WM_INITDIALOG) {
        g_box = msg->hwnd;
        SetEvent(g_shown);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Runs the box on its own thread; the test acts on it once it is up, then gets its result.
class ShownBox {
public:
    ShownBox(const wchar_t* text, const wchar_t* caption, UINT style, DWORD help = 0)
    {
        g_box = nullptr;
        g_shown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([=, this] {
            HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROCRET, InitHook, nullptr, GetCurrentThreadId());
            m_result = ExtMessageBox(nullptr, text, caption, style, help);
            UnhookWindowsHookEx(hook);
            SetEvent(g_shown);  // also when no box came up
        });
        WaitForSingleObject(g_shown, 60000);
        m_box = g_box;
        // Answered once the box's thread is in its loop, when the box has been shown.
        if (m_box != nullptr)
            SendMessageW(m_box, WM_NULL, 0, 0);
    }
    ~ShownBox()
    {
        if (m_thread.joinable()) {
            if (m_box != nullptr && IsWindow(m_box))
                EndDialog(m_box, 0);
            m_thread.join();
        }
        CloseHandle(g_shown);
    }
    ShownBox(const ShownBox&) = delete;
    ShownBox& operator=(const ShownBox&) = delete;

    HWND Box() const { return m_box; }
    int Result()
    {
        m_thread.join();
        return m_result;
    }

    std::vector<Item> Items() const
    {
        std::vector<Item> items;
        for (HWND c = GetWindow(m_box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            wchar_t cls[64] = {};
            GetClassNameW(c, cls, 64);
            wchar_t text[256] = {};
            GetWindowTextW(c, text, 256);
            RECT r{};
            GetWindowRect(c, &r);
            MapWindowPoints(nullptr, m_box, reinterpret_cast<POINT*>(&r), 2);
            items.push_back({cls, GetDlgCtrlID(c), static_cast<DWORD>(GetWindowLongPtrW(c, GWL_STYLE)), r, text});
        }
        return items;
    }
    std::vector<int> ButtonIds() const
    {
        std::vector<int> ids;
        for (const Item& i : Items()) {
            if (_wcsicmp(i.cls.c_str(), L"Button") == 0 && i.id != CXID_CHECKBOX)
                ids.push_back(i.id);
        }
        return ids;
    }
    void Click(int id) const { SendMessageW(GetDlgItem(m_box, id), BM_CLICK, 0, 0); }
    // Esc and the Close item send this.
    void Cancel() const { SendMessageW(m_box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

private:
    std::thread m_thread;
    HWND m_box = nullptr;
    int m_result = -100;
};

std::wstring Text(HWND box, int id)
{
    wchar_t text[256] = {};
    GetDlgItemTextW(box, id, text, 256);
    return text;
}

TEST(ExtMessageBoxTest, ButtonSetsAndDefaults)
{
    BoxTestApp app;
    struct Case {
        const char* name;
        UINT style;
        std::vector<int> buttons;
        int defaultId;
    };
    const Case cases[] = {
        {"OK", MB_OK, {IDOK}, IDOK},
        {"OK Cancel", MB_OKCANCEL, {IDOK, IDCANCEL}, IDOK},
        {"Abort Retry Ignore, third default",
         MB_ABORTRETRYIGNORE | MB_DEFBUTTON3,
         {IDABORT, IDRETRY, IDIGNORE},
         IDIGNORE},
        {"Yes No Cancel with both to-all",
         MB_YESNOCANCEL | CXMB_YESTOALL | CXMB_NOTOALL,
         {IDYES, CXID_YESTOALL, IDNO, CXID_NOTOALL, IDCANCEL},
         IDYES},
        {"Yes No with both to-all, fourth default",
         MB_YESNO | CXMB_YESTOALL | CXMB_NOTOALL | MB_DEFBUTTON4,
         {IDYES, CXID_YESTOALL, IDNO, CXID_NOTOALL},
         CXID_NOTOALL},
        {"Retry Cancel", MB_RETRYCANCEL, {IDRETRY, IDCANCEL}, IDRETRY},
        {"Continue Abort", CXMB_CONTINUEABORT, {IDCONTINUE, IDABORT}, IDCONTINUE},
        {"unknown set", 7, {IDOK}, IDOK},
        {"OK Help", MB_OK | CXMB_HELP, {IDOK, CXID_HELP}, IDOK},
        {"default beyond the buttons", MB_YESNO | 0x00000500, {IDYES, IDNO}, IDYES},
        {"to-all on OK Cancel is ignored", MB_OKCANCEL | CXMB_YESTOALL, {IDOK, IDCANCEL}, IDOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShownBox box(L"Which one?", L"Buttons", c.style | CXMB_NOBEEP);
        ASSERT_NE(box.Box(), nullptr);
        EXPECT_EQ(box.ButtonIds(), c.buttons);
        for (const Item& i : box.Items()) {
            if (_wcsicmp(i.cls.c_str(), L"Button") == 0 && i.id != CXID_CHECKBOX) {
                EXPECT_EQ(i.style & BS_TYPEMASK, i.id == c.defaultId ? DWORD(BS_DEFPUSHBUTTON) : DWORD(BS_PUSHBUTTON))
                    << i.id;
            }
        }
        box.Click(c.defaultId);
        EXPECT_EQ(box.Result(), c.defaultId);
    }
}

TEST(ExtMessageBoxTest, CancelCloseAndHelp)
{
    BoxTestApp app;
    {
        // OK only: Esc ends with OK; Help keeps the box open and asks for the keyword search.
        AfxTakeHelpCalls();
        ShownBox box(L"Help?", L"Help", MB_OK | CXMB_HELP | CXMB_NOBEEP);
        ASSERT_NE(box.Box(), nullptr);
        box.Click(CXID_HELP);
        EXPECT_TRUE(IsWindow(box.Box()));
        const auto calls = AfxTakeHelpCalls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].command, static_cast<UINT>(HELP_PARTIALKEY));
        EXPECT_EQ(std::filesystem::path(calls[0].file).extension(), L".hlp");
        box.Cancel();
        EXPECT_EQ(box.Result(), IDOK);
    }
    {
        // With a context id the help opens by context.
        ShownBox box(L"Help?", L"Help", MB_OK | CXMB_HELP | CXMB_NOBEEP, 4711);
        ASSERT_NE(box.Box(), nullptr);
        box.Click(CXID_HELP);
        const auto calls = AfxTakeHelpCalls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].command, static_cast<UINT>(HELP_CONTEXT));
        EXPECT_EQ(calls[0].data, 4711u);
        box.Click(IDOK);
        EXPECT_EQ(box.Result(), IDOK);
    }
    {
        // Yes/No: Close greyed, Esc ignored.
        ShownBox box(L"Sure?", L"Close", MB_YESNO | CXMB_NOBEEP);
        ASSERT_NE(box.Box(), nullptr);
        const UINT state = GetMenuState(GetSystemMenu(box.Box(), FALSE), SC_CLOSE, MF_BYCOMMAND);
        EXPECT_TRUE(state & MF_GRAYED);
        box.Cancel();
        EXPECT_TRUE(IsWindow(box.Box()));
        box.Click(IDNO);
        EXPECT_EQ(box.Result(), IDNO);
    }
    {
        // Yes/No/Cancel: Esc ends with Cancel.
        ShownBox box(L"Sure?", L"Close", MB_YESNOCANCEL | CXMB_NOBEEP);
        ASSERT_NE(box.Box(), nullptr);
        const UINT state = GetMenuState(GetSystemMenu(box.Box(), FALSE), SC_CLOSE, MF_BYCOMMAND);
        EXPECT_FALSE(state & MF_GRAYED);
        box.Cancel();
        EXPECT_EQ(box.Result(), IDCANCEL);
    }
}

TEST(ExtMessageBoxTest, CheckBoxAddsItsBit)
{
    BoxTestApp app;
    struct Case {
        UINT style;
        bool tick;
        int press;
        int result;
        const wchar_t* text;
    };
    const Case cases[] = {
        {MB_YESNOCANCEL | CXMB_DONTASKAGAIN, true, IDYES, 0x01000006, L"Don't ask me again"},
        {MB_YESNOCANCEL | CXMB_DONTASKAGAIN, false, IDYES, IDYES, L"Don't ask me again"},
        {MB_OK | CXMB_DONTTELLAGAIN, true, IDOK, 0x02000001, L"Don't tell me again"},
        {MB_OK | CXMB_DONTASKAGAIN | CXMB_DONTTELLAGAIN, true, IDOK, 0x01000001, L"Don't ask me again"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        ShownBox box(L"Again?", L"Check", c.style | CXMB_NOBEEP);
        ASSERT_NE(box.Box(), nullptr);
        EXPECT_EQ(Text(box.Box(), CXID_CHECKBOX), c.text);
        EXPECT_EQ(IsDlgButtonChecked(box.Box(), CXID_CHECKBOX), static_cast<UINT>(BST_UNCHECKED));
        if (c.tick)
            box.Click(CXID_CHECKBOX);
        EXPECT_TRUE(IsWindow(box.Box()));  // the check box ends nothing
        box.Click(c.press);
        EXPECT_EQ(box.Result(), c.result);
    }
}

TEST(ExtMessageBoxTest, TranslatedTextsFallBackToEnglish)
{
    BoxTestApp app;
    {
        ShownBox box(L"Translated", L"Texts", MB_YESNO | CXMB_YESTOALL | CXMB_NOBEEP);
        ASSERT_NE(box.Box(), nullptr);
        EXPECT_EQ(Text(box.Box(), IDYES), L"&Ja");
        EXPECT_EQ(Text(box.Box(), IDNO), L"&No");  // no translation: the English text, never an empty label
        EXPECT_EQ(Text(box.Box(), CXID_YESTOALL), L"Yes to &All");
        box.Click(IDYES);
        EXPECT_EQ(box.Result(), IDYES);
    }
    {
        ShownBox box(L"English", L"Texts", MB_YESNO | CXMB_ENGLISH | CXMB_NOBEEP);
        ASSERT_NE(box.Box(), nullptr);
        EXPECT_EQ(Text(box.Box(), IDYES), L"&Yes");
        box.Click(IDYES);
        EXPECT_EQ(box.Result(), IDYES);
    }
}

TEST(ExtMessageBoxTest, StopIconOnASystemModalBoxIsTheSystemsBox)
{
    BoxTestApp app;
    {
        // The system's box with its own buttons only: the extension bits do not reach it.
        ShownBox box(L"Stopped", L"System",
                     MB_YESNO | MB_ICONHAND | MB_SYSTEMMODAL | CXMB_YESTOALL | CXMB_DONTASKAGAIN | CXMB_NOBEEP);
        ASSERT_NE(box.Box(), nullptr);
        EXPECT_EQ(box.ButtonIds().size(), 2u);
        EXPECT_EQ(GetDlgItem(box.Box(), CXID_YESTOALL), nullptr);
        EXPECT_EQ(GetDlgItem(box.Box(), CXID_CHECKBOX), nullptr);
        EXPECT_EQ(GetDlgItem(box.Box(), CXID_TEXT), nullptr);
        SendMessageW(box.Box(), WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
        EXPECT_EQ(box.Result(), IDNO);
    }
    {
        // Continue/Abort has no system equivalent: the framework's own system-modal box.
        ShownBox box(L"Stopped", L"Own", CXMB_CONTINUEABORT | MB_ICONHAND | MB_SYSTEMMODAL | CXMB_NOBEEP);
        ASSERT_NE(box.Box(), nullptr);
        EXPECT_EQ(box.ButtonIds(), (std::vector<int>{IDCONTINUE, IDABORT}));
        EXPECT_NE(GetDlgItem(box.Box(), CXID_ICON), nullptr);
        box.Click(IDABORT);
        EXPECT_EQ(box.Result(), IDABORT);
    }
}

TEST(ExtMessageBoxTest, TemplateReadBackAndCapture)
{
    BoxTestApp app;
    const wchar_t* text = L"The player's memory is almost full.\nDownload the remaining 12 files anyway?";
    ShownBox box(text, L"KwepBoxCapture",
                 MB_YESNOCANCEL | MB_ICONQUESTION | CXMB_YESTOALL | CXMB_NOTOALL | CXMB_DONTASKAGAIN | MB_DEFBUTTON2 |
                     CXMB_NOBEEP);
    HWND h = box.Box();
    ASSERT_NE(h, nullptr);

    const DWORD dialogStyle = static_cast<DWORD>(GetWindowLongPtrW(h, GWL_STYLE));
    // Popup, visible, caption, system menu, modal frame, centred (the system may add clipping).
    EXPECT_EQ(dialogStyle & 0x90C80880u, 0x90C80880u);
    EXPECT_FALSE(dialogStyle & DS_SYSMODAL);
    wchar_t caption[64] = {};
    GetWindowTextW(h, caption, 64);
    EXPECT_STREQ(caption, L"KwepBoxCapture");

    const std::vector<Item> items = box.Items();
    ASSERT_EQ(items.size(), 8u);  // icon, text, five buttons, check box
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    // Icon and text statics.
    EXPECT_EQ(_wcsicmp(items[0].cls.c_str(), L"Static"), 0);
    EXPECT_EQ(items[0].id, CXID_ICON);
    EXPECT_EQ(items[0].style, 0x50000080u);
    EXPECT_NEAR(items[0].rect.left, 8, 3);
    EXPECT_NEAR(items[0].rect.top, 8, 3);
    EXPECT_EQ(_wcsicmp(items[1].cls.c_str(), L"Static"), 0);
    EXPECT_EQ(items[1].id, CXID_TEXT);
    EXPECT_EQ(items[1].style, 0x50000080u);
    EXPECT_EQ(items[1].text, text);
    EXPECT_NEAR(items[1].rect.left, 16 + cxIcon + 8, 3);
    EXPECT_NEAR(items[1].rect.top, 16, 3);
    // Buttons: one row, 100 x 30, 106 apart, centred; the second is the default.
    const int ids[] = {IDYES, CXID_YESTOALL, IDNO, CXID_NOTOALL, IDCANCEL};
    RECT client{};
    GetClientRect(h, &client);
    for (int i = 0; i < 5; ++i) {
        const Item& b = items[2 + i];
        SCOPED_TRACE(b.id);
        EXPECT_EQ(_wcsicmp(b.cls.c_str(), L"Button"), 0);
        EXPECT_EQ(b.id, ids[i]);
        EXPECT_EQ(b.style, i == 1 ? 0x50010001u : 0x50010000u);
        EXPECT_NEAR(b.rect.right - b.rect.left, 100, 4);
        EXPECT_NEAR(b.rect.bottom - b.rect.top, 30, 4);
        EXPECT_EQ(b.rect.top, items[2].rect.top);
        if (i > 0) {
            EXPECT_NEAR(b.rect.left - items[1 + i].rect.left, 106, 4);
        }
        EXPECT_GE(b.rect.top, items[1].rect.bottom);
    }
    EXPECT_NEAR(items[2].rect.left, client.right - items[6].rect.right, 6);
    // The check box under the row, wide enough for its text.
    const Item& check = items[7];
    EXPECT_EQ(check.id, CXID_CHECKBOX);
    EXPECT_EQ(check.style, 0x50010003u);
    EXPECT_NEAR(check.rect.left, 17, 3);
    EXPECT_NEAR(check.rect.top - items[2].rect.top, 42, 4);
    EXPECT_GE(client.bottom - check.rect.bottom, 14);
    EXPECT_LE(check.rect.right, client.right);

    // A capture of the box from the X display, kept as an artefact of the run.
    ASSERT_TRUE(test_support::HostHasProgram("xwd"));
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageW(h, WM_NULL, 0, 0);  // the box's thread has handled everything before this
    const std::filesystem::path folder = cx_test::ArtefactFolder();
    const std::string xwd = test_support::UnixPath(folder / "ext_message_box.xwd");
    const std::string png = test_support::UnixPath(folder / "ext_message_box.png");
    const test_support::ShellResult shot = test_support::RunShell(
        "id=$(xdotool search --onlyvisible --name KwepBoxCapture | head -n1) && test -n \"$id\" && xwd -silent -id "
        "\"$id\" -out " +
        test_support::ShellQuote(xwd) + " && (convert " + test_support::ShellQuote("xwd:" + xwd) + " " +
        test_support::ShellQuote(png) + " || true) && xwdsize=$(stat -c %s " + test_support::ShellQuote(xwd) +
        ") && echo \"$xwdsize\"");
    ASSERT_TRUE(shot.finished) << shot.err;
    EXPECT_EQ(shot.exitCode, 0) << shot.err;
    RECT window{};
    GetWindowRect(h, &window);
    // An XWD image holds at least its pixels (24-bit display: four bytes each).
    EXPECT_GE(std::atol(shot.out.c_str()), static_cast<long>(client.right) * static_cast<long>(client.bottom) * 4);

    box.Click(CXID_NOTOALL);
    EXPECT_EQ(box.Result(), CXID_NOTOALL);
}

}  // namespace
