// The application object's services in this process: translated texts from any thread through the
// registered lookup, the message box and its answers, translated dialog items, the web-site command,
// msimg32's functions, the common controls' check and the player mutex. Boxes are answered by a hook on
// the showing thread that reads them back and presses a chosen button.
#include "manager/main/app/kwep_manager_app.h"
#include "manager/main/language/text_lookup.h"
#include "manager/framework/windows/cx_msgbox.h"
#include "manager/framework/windows/cx_platform.h"
#include "tests/manager/registry_tool.h"
#include "tests/manager/test_window_class.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

const wchar_t kPlayerInUse[] =
    L"Another copy of KWEP Manager or program that uses KWEP\nis being executed. Please close all programs that "
    L"use KWEP player and start again.";

constexpr UINT kTestDialog = 500;

// A lookup with fixed texts; an id it holds with an empty text answers TRUE and an empty text.
class TestLookup : public CTextLookup {
public:
    explicit TestLookup(std::map<UINT, std::wstring> texts) : m_texts(std::move(texts)) {}

    BOOL LookupTranslation(CxString& text, UINT id) override
    {
        text.Empty();
        ++calls;
        const auto found = m_texts.find(id);
        if (found == m_texts.end())
            return FALSE;
        return SUCCEEDED(text.Assign(found->second.c_str()));
    }

    std::atomic<int> calls{0};

private:
    std::map<UINT, std::wstring> m_texts;
};

// The lookup is registered for the scope.
class Registered {
public:
    Registered(CKwepManagerApp& app, CTextLookup& lookup) : m_app(app), m_lookup(lookup)
    {
        m_app.RegisterTextLookup(&m_lookup);
    }
    ~Registered() { m_app.UnregisterTextLookup(&m_lookup); }
    Registered(const Registered&) = delete;
    Registered& operator=(const Registered&) = delete;

private:
    CKwepManagerApp& m_app;
    CTextLookup& m_lookup;
};

// ---- Boxes answered on the showing thread ----

struct SeenBox {
    std::wstring caption;
    std::wstring text;  // the texts of its statics, joined by "|"
    std::vector<int> buttons;
    std::vector<std::wstring> buttonTexts;
    HWND owner = nullptr;
};

class BoxAnswerer;
thread_local BoxAnswerer* t_answerer = nullptr;

// While it lives, every dialog box that comes up on this thread is read and then ended with `answer`.
class BoxAnswerer {
public:
    explicit BoxAnswerer(int answer) : m_answer(answer)
    {
        t_answerer = this;
        m_hook = SetWindowsHookExW(WH_CALLWNDPROCRET, &BoxAnswerer::Hook, nullptr, GetCurrentThreadId());
    }
    ~BoxAnswerer()
    {
        UnhookWindowsHookEx(m_hook);
        t_answerer = nullptr;
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    bool Hooked() const { return m_hook != nullptr; }
    const std::vector<SeenBox>& Seen() const { return m_seen; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        const auto* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && msg->message == WM_INITDIALOG && t_answerer != nullptr)
            t_answerer->Answer(msg->hwnd);
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    void Answer(HWND box)
    {
        SeenBox seen;
        wchar_t text[1024] = {};
        GetWindowTextW(box, text, 1024);
        seen.caption = text;
        seen.owner = GetWindow(box, GW_OWNER);
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t cls[64] = {};
            GetClassNameW(child, cls, 64);
            GetWindowTextW(child, text, 1024);
            if (_wcsicmp(cls, L"Static") == 0 && text[0] != 0)
                seen.text += (seen.text.empty() ? L"" : L"|") + std::wstring(text);
            if (_wcsicmp(cls, L"Button") == 0 && GetDlgCtrlID(child) != CXID_CHECKBOX) {
                seen.buttons.push_back(GetDlgCtrlID(child));
                seen.buttonTexts.push_back(text);
            }
        }
        m_seen.push_back(seen);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(m_answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, m_answer)));
    }

    int m_answer;
    HHOOK m_hook = nullptr;
    std::vector<SeenBox> m_seen;
};

// A plain top-level window standing for the main dialog; it counts WM_CLOSE.
std::atomic<int> g_closes{0};
LRESULT CALLBACK CountingProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        ++g_closes;
        return 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

class TopWindow {
public:
    TopWindow()
    {
        m_hWnd = CreateWindowExW(0, RegisterTestWindowClass(L"KwepAppTestTop", CountingProc), L"main", WS_OVERLAPPED,
                                 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    }
    ~TopWindow() { DestroyWindow(m_hWnd); }
    TopWindow(const TopWindow&) = delete;
    TopWindow& operator=(const TopWindow&) = delete;
    HWND Handle() const { return m_hWnd; }

private:
    HWND m_hWnd = nullptr;
};

// ---- Texts ----

TEST(KwepAppTest, GetStringAnswersOnlyThroughTheRegisteredLookup)
{
    CKwepManagerApp app;
    ASSERT_EQ(KwepGetApp(), &app);
    CxString text;
    ASSERT_EQ(text.Assign(L"stale"), S_OK);
    EXPECT_FALSE(app.GetString(text, 1));
    EXPECT_TRUE(text.IsEmpty());

    TestLookup lookup({{1, L"one"}, {2, L""}});
    TestLookup other({{1, L"other"}});
    {
        Registered registered(app, lookup);
        EXPECT_TRUE(app.GetString(text, 1));
        EXPECT_STREQ(text, L"one");
        ASSERT_EQ(text.Assign(L"stale"), S_OK);
        EXPECT_FALSE(app.GetString(text, 3));  // missing
        EXPECT_TRUE(text.IsEmpty());
        EXPECT_TRUE(app.GetString(text, 2));  // present but empty
        EXPECT_TRUE(text.IsEmpty());
        // Only the registered lookup is cleared.
        app.UnregisterTextLookup(&other);
        EXPECT_TRUE(app.GetString(text, 1));
        EXPECT_STREQ(text, L"one");
    }
    ASSERT_EQ(text.Assign(L"stale"), S_OK);
    EXPECT_FALSE(app.GetString(text, 1));
    EXPECT_TRUE(text.IsEmpty());
}

TEST(KwepAppTest, WorkerThreadsGetTheTexts)
{
    CKwepManagerApp app;
    std::map<UINT, std::wstring> texts;
    for (UINT id = 100; id < 164; ++id)
        texts[id] = L"text " + std::to_wstring(id);
    TestLookup lookup(texts);
    Registered registered(app, lookup);

    constexpr int kThreads = 8;
    std::atomic<int> wrong{0};
    std::atomic<int> answered{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&] {
            for (int round = 0; round < 50; ++round) {
                for (const auto& [id, expected] : texts) {
                    CxString text;
                    if (!app.GetString(text, id) || expected != static_cast<const wchar_t*>(text))
                        ++wrong;
                    else
                        ++answered;
                }
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(answered.load(), kThreads * 50 * static_cast<int>(texts.size()));
}

// A lookup whose first caller stays inside until released, as a lookup busy copying a long text does;
// later callers get their text at once.
class BlockingLookup : public CTextLookup {
public:
    BlockingLookup()
        : entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)), release(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~BlockingLookup()
    {
        CloseHandle(entered);
        CloseHandle(release);
    }
    BOOL LookupTranslation(CxString& text, UINT) override
    {
        if (!m_first.exchange(false))
            return SUCCEEDED(text.Assign(L"quick"));
        SetEvent(entered);
        WaitForSingleObject(release, INFINITE);
        const BOOL found = SUCCEEDED(text.Assign(L"late"));
        finished = true;
        return found;
    }

    HANDLE entered;
    HANDLE release;
    std::atomic<bool> finished{false};

private:
    std::atomic<bool> m_first{true};
};

TEST(KwepAppTest, UnregisteringWaitsForLookupsInFlight)
{
    CKwepManagerApp app;
    BlockingLookup lookup;
    app.RegisterTextLookup(&lookup);
    BOOL workerFound = FALSE;
    CxString workerText;
    std::thread worker([&] { workerFound = app.GetString(workerText, 7); });
    ASSERT_EQ(WaitForSingleObject(lookup.entered, 60000), WAIT_OBJECT_0);

    std::atomic<bool> returned{false};
    std::atomic<bool> lookupDoneAtReturn{false};
    std::thread window([&] {
        app.UnregisterTextLookup(&lookup);
        lookupDoneAtReturn = lookup.finished.load();
        returned = true;
    });
    // Other callers are answered while the window waits, and once it has begun unregistering they get
    // nothing (without waiting for the call in flight).
    CxString text;
    while (app.GetString(text, 7)) {
        EXPECT_STREQ(text, L"quick");
    }
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_FALSE(returned.load()) << "unregistered while a worker is inside the lookup";
    SetEvent(lookup.release);
    window.join();
    worker.join();
    EXPECT_TRUE(workerFound);
    EXPECT_STREQ(workerText, L"late");
    EXPECT_TRUE(lookupDoneAtReturn.load()) << "the lookup could be destroyed while a worker is inside it";
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

TEST(KwepAppTest, TranslateDialogItemsSetsOnlyFoundTexts)
{
    CKwepManagerApp app;
    TestLookup lookup({{kTestDialog, L"Caption T"}, {501, L"One T"}, {502, L""}, {504, L"Ghost"}});
    Registered registered(app, lookup);
    struct Case {
        const char* name;
        std::vector<UINT> ids;
        const wchar_t* caption;
        const wchar_t* texts[3];  // controls 501, 502, 503
    };
    const Case cases[] = {
        {"caption first, empty and missing texts kept, absent control skipped",
         {kTestDialog, 501, 502, 503, 504},
         L"Caption T",
         {L"One T", L"Res two", L"Res three"}},
        // The first id is the caption's whatever it is: 501 names the caption here, not control 501.
        {"first id is the caption", {501, 503}, L"One T", {L"Res one", L"Res two", L"Res three"}},
        {"missing caption text", {503, 501}, L"Res caption", {L"One T", L"Res two", L"Res three"}},
        {"no ids", {}, L"Res caption", {L"Res one", L"Res two", L"Res three"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HWND dialog =
            CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kTestDialog), nullptr, &PlainDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        app.TranslateDialogItems(dialog, c.ids.empty() ? nullptr : c.ids.data(), static_cast<int>(c.ids.size()));
        wchar_t text[256] = {};
        GetWindowTextW(dialog, text, 256);
        EXPECT_STREQ(text, c.caption);
        for (int i = 0; i < 3; ++i) {
            GetDlgItemTextW(dialog, 501 + i, text, 256);
            EXPECT_STREQ(text, c.texts[i]) << 501 + i;
        }
        DestroyWindow(dialog);
    }
    app.TranslateDialogItems(nullptr, nullptr, 3);  // nothing to do, nothing touched
}

// ---- The message box ----

TEST(KwepAppTest, ShowMessageBoxCaptionAndAnswers)
{
    CKwepManagerApp app;
    // The box's button texts come through GetString too.
    TestLookup lookup({{9012, L"Ja zu &allen"}});
    Registered registered(app, lookup);
    const UINT style = MB_YESNOCANCEL | CXMB_YESTOALL | CXMB_NOTOALL | CXMB_NOBEEP;
    for (const int answer : {IDYES, IDNO, IDCANCEL, CXID_YESTOALL, CXID_NOTOALL}) {
        SCOPED_TRACE(answer);
        BoxAnswerer answerer(answer);
        ASSERT_TRUE(answerer.Hooked());
        EXPECT_EQ(app.ShowMessageBox(nullptr, L"Replace the file?", nullptr, style), answer);
        ASSERT_EQ(answerer.Seen().size(), 1u);
        const SeenBox& seen = answerer.Seen()[0];
        EXPECT_EQ(seen.caption, L"KWEP Manager 2");
        EXPECT_EQ(seen.text, L"Replace the file?");
        EXPECT_EQ(seen.buttons, (std::vector<int>{IDYES, CXID_YESTOALL, IDNO, CXID_NOTOALL, IDCANCEL}));
        ASSERT_EQ(seen.buttonTexts.size(), 5u);
        EXPECT_EQ(seen.buttonTexts[1], L"Ja zu &allen");
        EXPECT_EQ(seen.buttonTexts[3], L"No to A&ll");
    }
    TopWindow owner;
    struct Case {
        const wchar_t* caption;
        const wchar_t* shown;
    };
    for (const Case& c : {Case{L"", L"KWEP Manager 2"}, Case{L"Delete", L"Delete"}}) {
        BoxAnswerer answerer(IDOK);
        EXPECT_EQ(app.ShowMessageBox(owner.Handle(), L"Done.", c.caption, MB_OK | CXMB_NOBEEP), IDOK);
        ASSERT_EQ(answerer.Seen().size(), 1u);
        EXPECT_EQ(answerer.Seen()[0].caption, c.shown);
        EXPECT_EQ(answerer.Seen()[0].owner, owner.Handle());
    }
}

// ---- Commands ----

struct ShellCall {
    int count = 0;
    bool verbNull = false;
    bool parametersNull = false;
    std::wstring file;
    int show = -1;
};
ShellCall g_shell;

HINSTANCE WINAPI RecordShellExecute(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT show)
{
    ++g_shell.count;
    g_shell.verbNull = verb == nullptr;
    g_shell.parametersNull = parameters == nullptr;
    g_shell.file = file != nullptr ? file : L"<null>";
    g_shell.show = show;
    return reinterpret_cast<HINSTANCE>(42);
}

TEST(KwepAppTest, VisitWebSiteAndExitCommands)
{
    CKwepManagerApp app;
    app.SetShellExecute(&RecordShellExecute);
    g_shell = ShellCall{};
    // No address known: the shell is not asked.
    EXPECT_TRUE(app.OnCmdMsg(ID_KWEP_VISIT_WEB_SITE, CN_COMMAND, nullptr, nullptr));
    EXPECT_EQ(g_shell.count, 0);

    TestLookup lookup({{IDS_KWEP_WEB_ADDRESS, L"https://www.orvande.example/"}});
    {
        Registered registered(app, lookup);
        EXPECT_TRUE(app.OnCmdMsg(ID_KWEP_VISIT_WEB_SITE, CN_COMMAND, nullptr, nullptr));
    }
    EXPECT_EQ(g_shell.count, 1);
    EXPECT_TRUE(g_shell.verbNull);
    EXPECT_TRUE(g_shell.parametersNull);
    EXPECT_EQ(g_shell.file, L"https://www.orvande.example/");
    EXPECT_EQ(g_shell.show, SW_HIDE);

    // Exit closes the main window, as its close box does.
    TopWindow top;
    CWnd main;
    ASSERT_TRUE(main.Attach(top.Handle()));
    app.m_pMainWnd = &main;
    g_closes = 0;
    EXPECT_TRUE(app.OnCmdMsg(ID_KWEP_APP_EXIT, CN_COMMAND, nullptr, nullptr));
    EXPECT_EQ(g_closes.load(), 1);
    app.m_pMainWnd = nullptr;
    main.Detach();
}

// ---- msimg32 ----

TEST(KwepAppTest, Msimg32LoadedOnceAndFreed)
{
    ASSERT_EQ(GetModuleHandleW(L"msimg32.dll"), nullptr) << "another module of the test holds msimg32";
    {
        CKwepManagerApp app;
        HMODULE loaded = GetModuleHandleW(L"msimg32.dll");
        ASSERT_NE(loaded, nullptr);
        ASSERT_NE(app.GetAlphaBlend(), nullptr);
        EXPECT_EQ(reinterpret_cast<void*>(app.GetAlphaBlend()), reinterpret_cast<void*>(GetProcAddress(loaded, "AlphaBlend")));
        EXPECT_EQ(reinterpret_cast<void*>(app.GetGradientFill()),
                  reinterpret_cast<void*>(GetProcAddress(loaded, "GradientFill")));
        EXPECT_EQ(reinterpret_cast<void*>(app.GetTransparentBlt()),
                  reinterpret_cast<void*>(GetProcAddress(loaded, "TransparentBlt")));
        const auto alphaBlend = app.GetAlphaBlend();

        EXPECT_EQ(app.LoadMsimg32Functions(), S_FALSE);
        EXPECT_EQ(app.GetAlphaBlend(), alphaBlend);
        // One reference held: freeing it unloads the library.
        EXPECT_EQ(app.FreeMsimg32(), S_OK);
        EXPECT_EQ(GetModuleHandleW(L"msimg32.dll"), nullptr);
        EXPECT_EQ(app.GetAlphaBlend(), nullptr);
        EXPECT_EQ(app.GetGradientFill(), nullptr);
        EXPECT_EQ(app.GetTransparentBlt(), nullptr);
        EXPECT_EQ(app.FreeMsimg32(), E_INVALIDARG);

        EXPECT_EQ(app.LoadMsimg32Functions(L"kwep_no_such_library.dll"), E_ACCESSDENIED);
        EXPECT_EQ(app.FreeMsimg32(), E_INVALIDARG);
        // A library without the functions: held, but the functions stay null.
        EXPECT_EQ(app.LoadMsimg32Functions(L"version.dll"), E_NOTIMPL);
        EXPECT_EQ(app.GetAlphaBlend(), nullptr);
        EXPECT_EQ(app.LoadMsimg32Functions(L"version.dll"), S_FALSE);
        EXPECT_EQ(app.FreeMsimg32(), S_OK);

        // Windows 98: through the ANSI call, and no TransparentBlt (broken there).
        CxForcePlatform(CX_PLATFORM_WIN98);
        EXPECT_EQ(app.LoadMsimg32Functions(), S_OK);
        CxClearForcedPlatform();
        EXPECT_NE(app.GetAlphaBlend(), nullptr);
        EXPECT_NE(app.GetGradientFill(), nullptr);
        EXPECT_EQ(app.GetTransparentBlt(), nullptr);
    }
    // The destructor freed it.
    EXPECT_EQ(GetModuleHandleW(L"msimg32.dll"), nullptr);

    HMODULE none = nullptr;
    EXPECT_EQ(CxFreeLibrary(none), E_INVALIDARG);
    // A handle of no loaded module: the failure is reported, and the handle is forgotten all the same.
    HMODULE stale = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10000));
    EXPECT_EQ(CxFreeLibrary(stale), E_UNEXPECTED);
    EXPECT_EQ(stale, nullptr);
    EXPECT_EQ(CxLoadLibrary(nullptr), nullptr);
}

// ---- Common controls ----

struct VersionCalls {
    int count = 0;
    std::wstring dll;
    DWORD answer = 0;
};
VersionCalls g_version;

DWORD FakeVersion(LPCWSTR dll)
{
    ++g_version.count;
    g_version.dll = dll != nullptr ? dll : L"<null>";
    return g_version.answer;
}

TEST(KwepAppTest, CommonControlsCheckTable)
{
    CKwepManagerApp app;
    TestLookup lookup({{IDS_KWEP_COMCTL_VERSION, L"install Internet Explorer 4.01"},
                       {IDS_KWEP_OLD_PLATFORM, L"needs Windows 98 or 2000"}});
    Registered registered(app, lookup);
    TopWindow main;
    struct Case {
        DWORD platform;
        DWORD version;
        UINT shown;  // text id, 0 none
        bool asked;  // the version was read
    };
    const Case cases[] = {
        {CX_PLATFORM_WIN95, 0x00060000, IDS_KWEP_OLD_PLATFORM, false},
        {CX_PLATFORM_WIN95, 0x00040047, IDS_KWEP_OLD_PLATFORM, false},
        {CX_PLATFORM_WIN98, 0x00040047, IDS_KWEP_COMCTL_VERSION, true},
        {CX_PLATFORM_NT4, 0x00040047, IDS_KWEP_COMCTL_VERSION, true},
        {CX_PLATFORM_NT5, 0, IDS_KWEP_COMCTL_VERSION, true},  // no version could be read
        {CX_PLATFORM_WIN98, 0x00040048, 0, true},
        {CX_PLATFORM_NT4, 0x00040048, 0, true},
        {CX_PLATFORM_NT5, 0x00060051, 0, true},
        {CX_PLATFORM_OTHER, 0x00060000, IDS_KWEP_OLD_PLATFORM, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.platform << " " << c.version);
        g_version = VersionCalls{};
        g_version.answer = c.version;
        BoxAnswerer answerer(IDOK);
        EXPECT_EQ(app.CheckCommonControlsVersion(main.Handle(), c.platform, &FakeVersion), c.shown);
        EXPECT_EQ(g_version.count, c.asked ? 1 : 0);
        if (c.asked) {
            EXPECT_EQ(g_version.dll, L"comctl32.dll");
        }
        ASSERT_EQ(answerer.Seen().size(), c.shown != 0 ? 1u : 0u);
        if (c.shown != 0) {
            const SeenBox& seen = answerer.Seen()[0];
            CxString expected;
            ASSERT_TRUE(lookup.LookupTranslation(expected, c.shown));
            EXPECT_EQ(seen.text, static_cast<const wchar_t*>(expected));
            EXPECT_EQ(seen.caption, L"KWEP Manager 2");
            EXPECT_EQ(seen.owner, main.Handle());
            EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
        }
    }
}

TEST(KwepAppTest, DllVersionsAsTheSystemReportsThem)
{
    // Wine's comctl32 reports 5.80 or 6.x: new enough.
    const DWORD comctl = GetDllVersionPacked(L"comctl32.dll");
    EXPECT_GE(comctl, KWEP_MIN_COMCTL_VERSION);
    EXPECT_TRUE(comctl >> 16 == 5 || comctl >> 16 == 6) << std::hex << comctl;
    EXPECT_EQ(GetDllVersionPacked(L"kwep_no_such_library.dll"), 0u);
    EXPECT_EQ(GetDllVersionPacked(L"version.dll"), 0u);  // no DllGetVersion
    EXPECT_EQ(GetDllVersionPacked(nullptr), 0u);
    // Each call frees what it loaded.
    EXPECT_EQ(GetModuleHandleW(L"kwep_no_such_library.dll"), nullptr);
}

// ---- The player mutex ----

TEST(KwepAppTest, PlayerMutexRefusesASecondHolder)
{
    {
        CKwepManagerApp first;
        BoxAnswerer answerer(IDOK);
        ASSERT_TRUE(first.CheckSingleInstance());
        EXPECT_TRUE(answerer.Seen().empty());
        {
            CKwepManagerApp second;
            EXPECT_FALSE(second.CheckSingleInstance());
        }
        ASSERT_EQ(answerer.Seen().size(), 1u);
        const SeenBox& seen = answerer.Seen()[0];
        EXPECT_EQ(seen.text, kPlayerInUse);
        EXPECT_EQ(seen.caption, L"KWEP Manager 2");
        EXPECT_EQ(seen.owner, nullptr);
        EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
    }
    // The first holder's end released it.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, KWEP_PLAYER_MUTEX);
    const DWORD error = GetLastError();
    ASSERT_NE(mutex, nullptr);
    EXPECT_NE(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(mutex);
}

// ---- Start-up ----

// What the main dialog found when it came up, and the boxes it showed while it came up (answered OK);
// once up, it posts the quit message with the code the main dialog gives when the device API is missing.
struct MainDialogSeen {
    int dialogs = 0;
    bool isMainWindow = false;
    HWND main = nullptr;
    bool playerHeld = false;
    HRESULT comState = E_FAIL;
    std::vector<std::wstring> boxTexts;
    std::vector<HWND> boxOwners;
};
thread_local MainDialogSeen* t_mainSeen = nullptr;

LRESULT CALLBACK MainDialogHook(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && msg->message == WM_INITDIALOG && t_mainSeen != nullptr) {
        MainDialogSeen& seen = *t_mainSeen;
        CWnd* main = AfxGetMainWnd();
        if (main == nullptr || main->m_hWnd != msg->hwnd) {
            wchar_t text[256] = {};
            GetDlgItemTextW(msg->hwnd, CXID_TEXT, text, 256);
            seen.boxTexts.push_back(text);
            seen.boxOwners.push_back(GetWindow(msg->hwnd, GW_OWNER));
            PostMessageW(msg->hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return CallNextHookEx(nullptr, code, wParam, lParam);
        }
        ++seen.dialogs;
        seen.isMainWindow = true;
        seen.main = msg->hwnd;
        HANDLE player = OpenMutexW(SYNCHRONIZE, FALSE, KWEP_PLAYER_MUTEX);
        seen.playerHeld = player != nullptr;
        if (player != nullptr)
            CloseHandle(player);
        // S_FALSE: the thread's apartment is set up already.
        seen.comState = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(seen.comState))
            CoUninitialize();
        PostQuitMessage(-777);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(KwepAppTest, StartUpRunsTheMainDialogAndEndsWithItsQuitCode)
{
    const wchar_t profileKey[] = L"Software\\Orvande\\KWEP Manager 2";
    registry_tool::DeleteTree(HKEY_CURRENT_USER, profileKey);
    {
        CKwepManagerApp app;
        ASSERT_EQ(AfxGetApp(), &app);
        // As on Windows 95: the main dialog's set-up warns, owning the box.
        TestLookup lookup({{IDS_KWEP_OLD_PLATFORM, L"needs Windows 98 or 2000"}});
        Registered registered(app, lookup);
        CxForcePlatform(CX_PLATFORM_WIN95);
        MainDialogSeen seen;
        t_mainSeen = &seen;
        HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROCRET, &MainDialogHook, nullptr, GetCurrentThreadId());
        ASSERT_NE(hook, nullptr);
        EXPECT_FALSE(app.InitInstance());
        UnhookWindowsHookEx(hook);
        CxClearForcedPlatform();
        t_mainSeen = nullptr;
        EXPECT_EQ(seen.dialogs, 1);
        EXPECT_TRUE(seen.isMainWindow);
        EXPECT_EQ(seen.boxTexts, std::vector<std::wstring>{L"needs Windows 98 or 2000"});
        EXPECT_EQ(seen.boxOwners, std::vector<HWND>{seen.main});
        EXPECT_TRUE(seen.playerHeld);
        EXPECT_EQ(seen.comState, S_FALSE);
        EXPECT_EQ(AfxGetMainWnd(), nullptr);
        // The modal loop handed the quit message on; its code is the program's.
        EXPECT_EQ(app.ExitInstance(), -777);
        // No quit message left for the loops of later cases.
        MSG quit;
        PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        // The player is free again once the application has ended.
        HANDLE player = OpenMutexW(SYNCHRONIZE, FALSE, KWEP_PLAYER_MUTEX);
        EXPECT_EQ(player, nullptr);
        if (player != nullptr)
            CloseHandle(player);
    }
    // The registry key is "Orvande" and the profile "KWEP Manager 2".
    EXPECT_EQ(registry_tool::Query("HKCU\\Software\\Orvande\\KWEP Manager 2", "ToolTips"), "0");
    registry_tool::DeleteTree(HKEY_CURRENT_USER, profileKey);
}

}  // namespace
