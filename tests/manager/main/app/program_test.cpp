// KwepManager2.exe from outside: this test process holds the player mutex as another program would, and
// reads the manager's windows and box back through messages; two managers started together; the
// registry key as Wine's `reg` tool shows it after a run.
#include "tests/manager/registry_tool.h"
#include "tests/support/host_process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const wchar_t kPlayerMutex[] = L"USB_managerDlgG";
const wchar_t kPlayerInUse[] =
    L"Another copy of KWEP Manager or program that uses KWEP\nis being executed. Please close all programs that "
    L"use KWEP player and start again.";
const wchar_t kProfileKey[] = L"Software\\Orvande\\KWEP Manager 2";
const char kProfileKeyTool[] = "HKCU\\Software\\Orvande\\KWEP Manager 2";
constexpr DWORD kBound = 120000;  // a bound on a hang, not a wait for time

std::wstring ManagerPath()
{
    return test_support::BuildTreeProgram(KWEP_MANAGER_EXE);
}

struct WindowsOf {
    DWORD process;
    std::vector<HWND> dialogs;
};

BOOL CALLBACK CollectDialog(HWND hWnd, LPARAM lParam)
{
    auto* found = reinterpret_cast<WindowsOf*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(hWnd, &owner);
    wchar_t cls[64] = {};
    GetClassNameW(hWnd, cls, 64);
    if (owner == found->process && std::wstring(cls) == L"#32770")
        found->dialogs.push_back(hWnd);
    return TRUE;
}

// The top-level dialog windows of a process, shown or not yet.
std::vector<HWND> DialogsOf(HANDLE process)
{
    WindowsOf found{GetProcessId(process), {}};
    EnumWindows(&CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found.dialogs;
}

// Top-level dialogs of other processes as they are made, told by an out-of-context event hook (Wine
// reports the creation of windows, not their showing): the events wait in this thread's queue until it
// takes them.
class CreatedDialogs;
thread_local CreatedDialogs* t_created = nullptr;

class CreatedDialogs {
public:
    CreatedDialogs()
    {
        t_created = this;
        m_hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, &CreatedDialogs::Event, 0, 0,
                                 WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    }
    ~CreatedDialogs()
    {
        if (m_hook != nullptr)
            UnhookWinEvent(m_hook);
        t_created = nullptr;
    }
    CreatedDialogs(const CreatedDialogs&) = delete;
    CreatedDialogs& operator=(const CreatedDialogs&) = delete;

    bool Hooked() const { return m_hook != nullptr; }

    // The next dialog the process made, once its thread has shown it; null when the process ended first.
    HWND Next(HANDLE process)
    {
        const DWORD id = GetProcessId(process);
        for (;;) {
            for (size_t i = 0; i < m_created.size(); ++i) {
                DWORD owner = 0;
                GetWindowThreadProcessId(m_created[i], &owner);
                if (owner == id) {
                    HWND found = m_created[i];
                    m_created.erase(m_created.begin() + static_cast<std::ptrdiff_t>(i));
                    return Shown(found) ? found : nullptr;
                }
            }
            if (MsgWaitForMultipleObjects(1, &process, FALSE, kBound, QS_ALLINPUT) != WAIT_OBJECT_0 + 1)
                return nullptr;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        }
    }

private:
    // A dialog is shown by its modal loop once it is idle: every sent message is answered when its thread
    // next looks at its queue, so each round trip moves it on by one pass of its loop.
    static bool Shown(HWND dialog)
    {
        for (int pass = 0; pass < 100 && IsWindow(dialog) && !IsWindowVisible(dialog); ++pass) {
            DWORD_PTR answer = 0;
            if (!SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, kBound, &answer))
                return false;
        }
        return IsWindowVisible(dialog) != FALSE;
    }

    static void CALLBACK Event(HWINEVENTHOOK, DWORD, HWND hWnd, LONG object, LONG child, DWORD, DWORD)
    {
        wchar_t cls[64] = {};
        if (t_created == nullptr || object != OBJID_WINDOW || child != CHILDID_SELF || hWnd == nullptr ||
            GetAncestor(hWnd, GA_PARENT) != GetDesktopWindow() || GetClassNameW(hWnd, cls, 64) == 0 ||
            std::wstring(cls) != L"#32770")
            return;
        t_created->m_created.push_back(hWnd);
    }

    HWINEVENTHOOK m_hook = nullptr;
    std::vector<HWND> m_created;
};

// WM_GETTEXT, answered by the window's own process.
std::wstring TextOf(HWND hWnd)
{
    wchar_t text[1024] = {};
    SendMessageW(hWnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

std::vector<std::wstring> StaticTexts(HWND dialog)
{
    std::vector<std::wstring> texts;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(child, cls, 64);
        if (_wcsicmp(cls, L"Static") == 0) {
            const std::wstring text = TextOf(child);
            if (!text.empty())
                texts.push_back(text);
        }
    }
    return texts;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { registry_tool::DeleteTree(HKEY_CURRENT_USER, kProfileKey); }
    void TearDown() override { registry_tool::DeleteTree(HKEY_CURRENT_USER, kProfileKey); }
};

// The mutex held by this process for the scope, as another program that drives the player holds it.
class HeldMutex {
public:
    explicit HeldMutex(const wchar_t* name)
    {
        m_handle = CreateMutexW(nullptr, TRUE, name);
        m_existed = GetLastError() == ERROR_ALREADY_EXISTS;
    }
    ~HeldMutex()
    {
        if (m_handle != nullptr) {
            ReleaseMutex(m_handle);
            CloseHandle(m_handle);
        }
    }
    HeldMutex(const HeldMutex&) = delete;
    HeldMutex& operator=(const HeldMutex&) = delete;
    bool Ours() const { return m_handle != nullptr && !m_existed; }

private:
    HANDLE m_handle = nullptr;
    bool m_existed = false;
};

TEST_F(ProgramTest, PlayerHeldByAnotherProgramGivesTheBoxAndNoMainWindow)
{
    HeldMutex held(kPlayerMutex);
    ASSERT_TRUE(held.Ours()) << "a manager runs already";
    CreatedDialogs created;
    ASSERT_TRUE(created.Hooked());

    test_support::HostProcess manager(ManagerPath(), L"");
    ASSERT_TRUE(manager.Started());
    HWND box = created.Next(manager.Handle());
    ASSERT_NE(box, nullptr) << "no box shown";
    EXPECT_EQ(TextOf(box), L"KWEP Manager 2");
    EXPECT_EQ(StaticTexts(box), std::vector<std::wstring>{kPlayerInUse});
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
    EXPECT_EQ(DialogsOf(manager.Handle()), std::vector<HWND>{box}) << "the box alone, no main window";

    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    // It ends by itself: a main window would have kept it running.
    EXPECT_NE(manager.Wait(kBound), static_cast<DWORD>(STILL_ACTIVE));
}

TEST_F(ProgramTest, TwoStartedTogetherOneRunsAndAThirdFrontsIt)
{
    CreatedDialogs created;
    ASSERT_TRUE(created.Hooked());
    const std::wstring path = ManagerPath();
    test_support::HostProcess a(path, L"");
    test_support::HostProcess b(path, L"");
    ASSERT_TRUE(a.Started());
    ASSERT_TRUE(b.Started());
    HANDLE both[] = {a.Handle(), b.Handle()};
    const DWORD ended = WaitForMultipleObjects(2, both, FALSE, kBound);
    ASSERT_LT(ended, WAIT_OBJECT_0 + 2) << "neither ended";
    const test_support::HostProcess& survivor = ended == WAIT_OBJECT_0 ? b : a;
    EXPECT_EQ((ended == WAIT_OBJECT_0 ? a : b).Wait(0), 0u);  // refused quietly

    HWND main = created.Next(survivor.Handle());
    ASSERT_NE(main, nullptr) << "no main window shown";
    EXPECT_EQ(DialogsOf(survivor.Handle()), std::vector<HWND>{main});
    EXPECT_NE(GetMenu(main), nullptr);
    for (const std::wstring& text : StaticTexts(main))
        EXPECT_NE(text, kPlayerInUse);
    // The survivor holds the player.
    HANDLE player = OpenMutexW(SYNCHRONIZE, FALSE, kPlayerMutex);
    EXPECT_NE(player, nullptr);
    if (player != nullptr)
        CloseHandle(player);

    HWND mine = CreateWindowExW(0, L"STATIC", L"in front", WS_POPUP | WS_VISIBLE, 400, 400, 80, 60, nullptr, nullptr,
                                nullptr, nullptr);
    SetForegroundWindow(mine);
    ASSERT_EQ(GetForegroundWindow(), mine);
    {
        test_support::HostProcess third(path, L"");
        ASSERT_TRUE(third.Started());
        EXPECT_EQ(third.Wait(kBound), 0u);
    }
    EXPECT_EQ(GetForegroundWindow(), main);
    DestroyWindow(mine);

    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_NE(survivor.Wait(kBound), static_cast<DWORD>(STILL_ACTIVE));

    // The run left the application's key, with the framework's value in it.
    const test_support::ShellResult query = registry_tool::Reg("query " + test_support::ShellQuote(kProfileKeyTool));
    ASSERT_TRUE(query.finished);
    EXPECT_EQ(query.exitCode, 0) << query.out << query.err;
    EXPECT_EQ(registry_tool::Query(kProfileKeyTool, "ToolTips"), "0");
}

}  // namespace
