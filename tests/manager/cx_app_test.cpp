// The application base: the instance name, the start-up steps, the "ToolTips" property in the
// registry, help, and the single-instance guard both inside this process and with two real processes
// of a small program on the base (checked from outside with xdotool).
#include "manager/framework/windows/cx_app.h"
#include "tests/manager/registry_tool.h"
#include "tests/manager/test_window_class.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

// {12345678-9ABC-DEF0-0102-030405060708}
const GUID kGuid = {0x12345678, 0x9abc, 0xdef0, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}};
const wchar_t kProfile[] = L"AppTest";
const wchar_t kKeyPath[] = L"software\\KwepTest\\AppTest";
const char kKeyTool[] = "HKCU\\software\\KwepTest\\AppTest";

class TestApp : public CxWinApp {
public:
    int scope = 0;
    int initRegistryCalls = 0;

    const GUID* GetAppGuid() override { return &kGuid; }
    int GetInstanceScope() override { return scope; }
    void InitRegistry() override
    {
        ++initRegistryCalls;
        SetRegistryKey(L"KwepTest");
        m_pszProfileName = kProfile;
    }
    BOOL GetString(CxString& text, UINT id) override
    {
        text.Empty();
        return id == 1 && SUCCEEDED(text.Assign(L"one"));
    }
};

std::wstring ProgramTitleLower()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring title = std::filesystem::path(path).stem().wstring();
    for (wchar_t& c : title)
        c = static_cast<wchar_t>(towlower(c));
    return title;
}

class CxAppTest : public ::testing::Test {
protected:
    void SetUp() override { registry_tool::DeleteTree(HKEY_CURRENT_USER, kKeyPath); }
    void TearDown() override { registry_tool::DeleteTree(HKEY_CURRENT_USER, kKeyPath); }
};

TEST_F(CxAppTest, ExclusionNameByScope)
{
    const std::wstring prefix = ProgramTitleLower() + L"-12345678-9ABC-DEF0-0403020108070605";
    CxString name;
    ASSERT_EQ(CxWinApp::MakeExclusionName(&kGuid, 0, &name), S_OK);
    EXPECT_EQ(std::wstring(name), prefix);

    wchar_t desktop[256] = {};
    DWORD needed = 0;
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop, sizeof desktop, &needed);
    ASSERT_EQ(CxWinApp::MakeExclusionName(&kGuid, 1, &name), S_OK);
    EXPECT_EQ(std::wstring(name), prefix + L"-" + desktop);

    ASSERT_EQ(CxWinApp::MakeExclusionName(&kGuid, 2, &name), S_OK);
    const std::wstring session = std::wstring(name).substr(prefix.size());
    ASSERT_EQ(session.size(), 17u);  // "-" and sixteen hexadecimal digits
    EXPECT_EQ(session.find_first_not_of(L"0123456789ABCDEF", 1), std::wstring::npos);

    // Scope 3 names domain and user; the separator is no backslash, which a kernel object name refuses.
    wchar_t user[256] = {};
    DWORD userLength = 256;
    GetUserNameW(user, &userLength);
    ASSERT_EQ(CxWinApp::MakeExclusionName(&kGuid, 3, &name), S_OK);
    const std::wstring scoped(name);
    EXPECT_EQ(scoped.find(L'\\'), std::wstring::npos);
    EXPECT_EQ(scoped.substr(scoped.size() - wcslen(user) - 1), std::wstring(L"/") + user);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, std::string(registry_tool::Narrow(scoped)).c_str());
    EXPECT_NE(mutex, nullptr);
    if (mutex != nullptr)
        CloseHandle(mutex);

    EXPECT_EQ(CxWinApp::MakeExclusionName(&kGuid, 4, &name), E_INVALIDARG);
    EXPECT_TRUE(name.IsEmpty());
    EXPECT_EQ(CxWinApp::MakeExclusionName(nullptr, 0, &name), E_ABORT);
    EXPECT_TRUE(name.IsEmpty());
}

TEST_F(CxAppTest, StartUpRestoresAndExitSavesTheToolTipsSwitch)
{
    struct Case {
        const char* stored;  // null: nothing stored
        DWORD before;
        DWORD after;
    };
    const Case cases[] = {
        {"8000000", 0, CXFL_NOTOOLTIPS},
        {"0", CXFL_NOTOOLTIPS, 0},
        {"ffffffff", 0x10, CXFL_NOTOOLTIPS | 0x10},  // only the masked bit is taken
        {"100000000", CXFL_NOTOOLTIPS, 0},           // a high-half bit outside the mask
        {"zz", CXFL_NOTOOLTIPS, CXFL_NOTOOLTIPS},    // refused: the flags stay
        {"8000000 junk", 0, 0},
        {nullptr, CXFL_NOTOOLTIPS, CXFL_NOTOOLTIPS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored != nullptr ? c.stored : "<none>");
        registry_tool::DeleteTree(HKEY_CURRENT_USER, kKeyPath);
        if (c.stored != nullptr) {
            ASSERT_TRUE(registry_tool::Add(kKeyTool, "ToolTips", "REG_SZ", c.stored));
        }
        TestApp app;
        ASSERT_EQ(AfxGetApp(), &app);
        EXPECT_EQ(CxGetApp(), &app);
        app.ModifyAppFlags(c.before, 0);
        ASSERT_TRUE(app.InitInstance());
        EXPECT_EQ(app.initRegistryCalls, 1);
        EXPECT_EQ(app.GetFlagsLow(), c.after | CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS);
        EXPECT_NE(CxWinApp::GetInstanceMessage(), 0u);
        app.ExitInstance();
        const bool off = (c.after & CXFL_NOTOOLTIPS) != 0;
        EXPECT_EQ(registry_tool::Query(kKeyTool, "ToolTips"), off ? "8000000" : "0");
    }
}

TEST_F(CxAppTest, ToolTipsContextsSurviveRepeatedSavesAndLoads)
{
    TestApp app;
    ASSERT_TRUE(app.InitInstance());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        app.ModifyAppFlags(round % 2 ? CXFL_NOTOOLTIPS : 0, round % 2 ? 0 : CXFL_NOTOOLTIPS);
        ASSERT_EQ(app.Save(), S_OK);
        ASSERT_EQ(app.Save(), S_OK);
        app.ModifyAppFlags(0, CXFL_NOTOOLTIPS);
        ASSERT_EQ(app.Load(), S_OK);
        ASSERT_EQ(app.Load(), S_OK);
        EXPECT_EQ((app.GetFlagsLow() & CXFL_NOTOOLTIPS) != 0, round % 2 == 1);
        ASSERT_EQ(app.Restore(), S_OK);  // a rebuilt list frees the old contexts and makes new ones
    }
    EXPECT_EQ(app.GetRecordCount(), 1);
    app.ExitInstance();
}

TEST_F(CxAppTest, KeyPathAndHelp)
{
    TestApp app;
    app.InitRegistry();
    CxKeyPath path;
    ASSERT_EQ(app.GetPersistKeyPath(path), S_OK);
    ASSERT_EQ(path.GetCount(), 3);
    EXPECT_STREQ(path.GetAt(0), L"software");
    EXPECT_STREQ(path.GetAt(1), L"KwepTest");
    EXPECT_STREQ(path.GetAt(2), kProfile);

    AfxTakeHelpCalls();
    EXPECT_TRUE(app.OnCmdMsg(ID_HELP, CN_COMMAND, nullptr, nullptr));
    const auto calls = AfxTakeHelpCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].command, static_cast<UINT>(HELP_FINDER));
    EXPECT_EQ(std::filesystem::path(calls[0].file).extension(), L".hlp");
}

// A window answering the instance query as the main window of a running instance does.
LRESULT CALLBACK AnsweringProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const UINT query = CxWinApp::GetInstanceMessage();
    if (query != 0 && message == query)
        return static_cast<LRESULT>(query);
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

TEST_F(CxAppTest, SecondStartInTheSameProcessFrontsTheFirstWindow)
{
    TestApp app;
    ASSERT_TRUE(app.InitInstance());
    RegisterTestWindowClass(L"KwepAnsweringClass", AnsweringProc);
    HWND first = CreateWindowExW(0, L"KwepAnsweringClass", L"first", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 150,
                                 nullptr, nullptr, nullptr, nullptr);
    HWND other = CreateWindowExW(0, L"KwepAnsweringClass", L"other", WS_POPUP | WS_VISIBLE, 300, 10, 100, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(first, nullptr);
    // The other window does not answer with the id: only the first is found.
    SetWindowLongPtrW(other, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    ShowWindow(first, SW_MINIMIZE);
    SetForegroundWindow(other);
    ASSERT_TRUE(IsIconic(first));

    EXPECT_FALSE(app.CheckSingleInstance(&kGuid, 0));
    EXPECT_FALSE(IsIconic(first));
    EXPECT_EQ(GetForegroundWindow(), first);
    // Another scope is another guard.
    EXPECT_TRUE(app.CheckSingleInstance(&kGuid, 2));
    DestroyWindow(first);
    DestroyWindow(other);
    app.ExitInstance();
}

// ---- Two real processes ----

std::filesystem::path InstanceAppPath()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (std::filesystem::path(self).parent_path() / KWEP_INSTANCE_APP_RELATIVE).lexically_normal();
}

// A process of the instance program; its handle is closed when it goes.
class InstanceProcess {
public:
    InstanceProcess(const std::filesystem::path& exe, const std::wstring& tag) : m_tag(tag)
    {
        m_ready = CreateEventW(nullptr, TRUE, FALSE, (L"KwepInstanceReady-" + tag).c_str());
        std::wstring commandLine = L"\"" + exe.wstring() + L"\" " + tag;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info)) {
            CloseHandle(info.hThread);
            m_process = info.hProcess;
        }
    }
    ~InstanceProcess()
    {
        if (m_process != nullptr) {
            if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_process, 99);
            CloseHandle(m_process);
        }
        if (m_ready != nullptr)
            CloseHandle(m_ready);
    }
    InstanceProcess(const InstanceProcess&) = delete;
    InstanceProcess& operator=(const InstanceProcess&) = delete;

    bool Started() const { return m_process != nullptr && m_ready != nullptr; }
    // Waits until the program's window is up (true) or the program ended (false).
    bool WaitReady()
    {
        HANDLE handles[] = {m_ready, m_process};
        return WaitForMultipleObjects(2, handles, FALSE, 120000) == WAIT_OBJECT_0;
    }
    // Waits for the end; the exit code, or -1.
    int WaitExit()
    {
        if (WaitForSingleObject(m_process, 120000) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        return static_cast<int>(code);
    }
    HWND Window() const { return FindWindowW(nullptr, (L"KwepInstanceTest " + m_tag).c_str()); }

private:
    std::wstring m_tag;
    HANDLE m_ready = nullptr;
    HANDLE m_process = nullptr;
};

// Window ids xdotool finds by name on the X display.
int XWindowsNamed(const std::string& name)
{
    const test_support::ShellResult r =
        test_support::RunShell("xdotool search --onlyvisible --name " + test_support::ShellQuote(name));
    if (!r.finished)
        return -1;
    int lines = 0;
    for (char c : r.out)
        lines += c == '\n';
    return lines;
}

TEST(CxAppInstanceTest, SecondProcessEndsAndBringsTheFirstToTheFront)
{
    ASSERT_TRUE(test_support::HostHasProgram("xdotool"));
    const std::filesystem::path exe = InstanceAppPath();
    ASSERT_TRUE(std::filesystem::exists(exe)) << exe;
    const std::string profileKey = "HKCU\\software\\KwepTest\\cx_instance_app";
    registry_tool::DeleteTree(HKEY_CURRENT_USER, L"software\\KwepTest\\cx_instance_app");
    registry_tool::DeleteTree(HKEY_CURRENT_USER, L"software\\KwepTest\\renamed_copy");

    InstanceProcess first(exe, L"first");
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(first.WaitReady());
    HWND firstWindow = first.Window();
    ASSERT_NE(firstWindow, nullptr);
    EXPECT_EQ(XWindowsNamed("KwepInstanceTest first"), 1);

    // Minimised and behind a window of ours: the second start must restore and front it.
    HWND mine = CreateWindowExW(0, L"STATIC", L"in front", WS_POPUP | WS_VISIBLE, 400, 400, 80, 60, nullptr, nullptr,
                                nullptr, nullptr);
    ShowWindow(firstWindow, SW_MINIMIZE);
    SetForegroundWindow(mine);
    ASSERT_TRUE(IsIconic(firstWindow));

    InstanceProcess second(exe, L"second");
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.WaitExit(), 2);  // refused by the guard
    EXPECT_FALSE(IsIconic(firstWindow));
    EXPECT_EQ(GetForegroundWindow(), firstWindow);
    EXPECT_EQ(XWindowsNamed("KwepInstanceTest second"), 0);
    EXPECT_EQ(XWindowsNamed("KwepInstanceTest first"), 1);

    // The same program under another file name is another application.
    test_support::TempFolder folder;
    const std::filesystem::path copy = folder.File("renamed_copy.exe");
    ASSERT_TRUE(CopyFileW(exe.c_str(), copy.c_str(), FALSE));
    {
        InstanceProcess third(copy, L"third");
        ASSERT_TRUE(third.Started());
        ASSERT_TRUE(third.WaitReady());
        EXPECT_EQ(XWindowsNamed("KwepInstanceTest"), 2);
        PostMessageW(third.Window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(third.WaitExit(), 0);
    }
    PostMessageW(firstWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.WaitExit(), 0);
    DestroyWindow(mine);

    // Each saved its properties at exit, under its own profile.
    EXPECT_EQ(registry_tool::Query(profileKey, "ToolTips"), "0");
    EXPECT_EQ(registry_tool::Query("HKCU\\software\\KwepTest\\renamed_copy", "ToolTips"), "0");
}

}  // namespace
