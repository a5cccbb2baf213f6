// The folder monitor against changes that a host shell makes under the watched folder (touch, mv, rm,
// mkdir): a window on a thread of its own receives the posted messages and answers them, and, as the main
// window does, starts and stops the monitor itself.
#include "manager/device/folder_monitor.h"
#include "platform/win/win_platform.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using test_support::RunShell;
using test_support::ShellQuote;
using test_support::ShellResult;
using test_support::TempFolder;
using test_support::UnixPath;

// A safety net only: every wait below ends on an event long before.
constexpr auto kSafety = std::chrono::seconds(60);

constexpr UINT kStartMsg = WM_APP + 1;    // 0 / StartRequest*   -> Start's result
constexpr UINT kStopMsg = WM_APP + 2;     // 0 / FolderMonitor*
constexpr UINT kHoldMsg = WM_APP + 3;     // 1 holds the answers, 0 gives the held ones / 0
constexpr UINT kFlushMsg = WM_APP + 4;    // posted: every message posted before it has been handled
constexpr UINT kBusyStopMsg = WM_APP + 5; // shell script / FolderMonitor*  -> 1 when a message came

struct StartRequest {
    FolderMonitor* monitor;
    const wchar_t* folder;
    UINT_PTR watch;
};

// A message-only window on its own thread: it counts WM_PC_FOLDER_CHANGED by watch and acknowledges each
// to the monitor of that watch, unless told to hold its answers (a window busy refreshing).
class WatchingWindow {
public:
    WatchingWindow() : thread_([this] { Run(); })
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kSafety, [this] { return ready_; });
    }
    ~WatchingWindow()
    {
        if (Handle() != nullptr)
            SendMessageW(Handle(), WM_CLOSE, 0, 0);
        thread_.join();
    }
    WatchingWindow(const WatchingWindow&) = delete;
    WatchingWindow& operator=(const WatchingWindow&) = delete;

    HWND Handle()
    {
        std::lock_guard lock(mutex_);
        return window_;
    }
    BOOL Start(FolderMonitor& monitor, const std::filesystem::path& folder, UINT_PTR watch)
    {
        const std::wstring path = folder.wstring();
        StartRequest request{&monitor, path.c_str(), watch};
        return static_cast<BOOL>(SendMessageW(Handle(), kStartMsg, 0, reinterpret_cast<LPARAM>(&request)));
    }
    void Stop(FolderMonitor& monitor) { SendMessageW(Handle(), kStopMsg, 0, reinterpret_cast<LPARAM>(&monitor)); }
    void Hold(bool hold) { SendMessageW(Handle(), kHoldMsg, hold ? 1 : 0, 0); }
    // Returns once every message posted to the window before the call has been handled.
    bool Flush()
    {
        int token;
        {
            std::lock_guard lock(mutex_);
            token = ++flushesAsked_;
        }
        if (!PostMessageW(Handle(), kFlushMsg, static_cast<WPARAM>(token), 0))
            return false;
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kSafety, [&] { return flushesDone_ >= token; });
    }
    int Count(UINT_PTR watch)
    {
        std::lock_guard lock(mutex_);
        return counts_[watch];
    }
    bool WaitForCount(UINT_PTR watch, int count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kSafety, [&] { return counts_[watch] >= count; });
    }
    LPARAM LastLParam()
    {
        std::lock_guard lock(mutex_);
        return lastLParam_;
    }

private:
    void Run()
    {
        const wchar_t* name = RegisterTestWindowClass(L"KwepFolderWatcher", Proc);
        HWND window = CreateWindowExW(0, name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                                      this);
        {
            std::lock_guard lock(mutex_);
            window_ = window;
            ready_ = true;
        }
        changed_.notify_all();
        if (window == nullptr)
            return;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        std::lock_guard lock(mutex_);
        window_ = nullptr;
    }

    static LRESULT CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(hWnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<WatchingWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        return self != nullptr ? self->Handle(hWnd, message, wParam, lParam)
                               : DefWindowProcW(hWnd, message, wParam, lParam);
    }

    LRESULT Handle(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        switch (message) {
        case WM_PC_FOLDER_CHANGED: {
            const PcFolderChange change = DecodePcFolderChange(wParam, lParam);
            {
                std::lock_guard lock(mutex_);
                ++counts_[change.watch];
                lastLParam_ = lParam;
            }
            changed_.notify_all();
            if (holding_)
                held_.push_back(change.watch);
            else
                Acknowledge(change.watch);
            return 0;
        }
        case kStartMsg: {
            const auto* request = reinterpret_cast<const StartRequest*>(lParam);
            monitors_[request->watch] = request->monitor;
            return request->monitor->StartPcFolderWatch(request->folder, hWnd, PcFolderChange{request->watch});
        }
        case kStopMsg: {
            auto* monitor = reinterpret_cast<FolderMonitor*>(lParam);
            std::erase_if(monitors_, [&](const auto& entry) { return entry.second == monitor; });
            monitor->Stop();
            return 0;
        }
        case kBusyStopMsg:
            return BusyStop(reinterpret_cast<const std::string*>(wParam), reinterpret_cast<FolderMonitor*>(lParam));
        case kHoldMsg:
            holding_ = wParam != 0;
            if (!holding_) {
                for (const UINT_PTR watch : held_)
                    Acknowledge(watch);
                held_.clear();
            }
            return 0;
        case kFlushMsg: {
            std::lock_guard lock(mutex_);
            flushesDone_ = static_cast<int>(wParam);
        }
            changed_.notify_all();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hWnd, message, wParam, lParam);
        }
    }

    // Busy as a refreshing window is, this thread runs the script, waits until the monitor has a message
    // for it, and stops the monitor before handling anything (as the main window replaces its monitor).
    LRESULT BusyStop(const std::string* script, FolderMonitor* monitor)
    {
        const ShellResult made = RunShell(*script);
        bool came = made.finished && made.exitCode == 0;
        constexpr DWORD kTypes = QS_POSTMESSAGE | QS_SENDMESSAGE;
        while (came && (HIWORD(GetQueueStatus(kTypes)) & kTypes) == 0)
            came = MsgWaitForMultipleObjects(0, nullptr, FALSE, 60000, kTypes) == WAIT_OBJECT_0;
        std::erase_if(monitors_, [&](const auto& entry) { return entry.second == monitor; });
        monitor->Stop();
        return came ? 1 : 0;
    }

    // A watch that has been stopped or replaced is not answered.
    void Acknowledge(UINT_PTR watch)
    {
        const auto found = monitors_.find(watch);
        if (found != monitors_.end())
            found->second->Acknowledge();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool ready_ = false;
    HWND window_ = nullptr;
    std::map<UINT_PTR, int> counts_;
    LPARAM lastLParam_ = -1;
    int flushesAsked_ = 0;
    int flushesDone_ = 0;
    // The window thread's own.
    std::map<UINT_PTR, FolderMonitor*> monitors_;
    std::vector<UINT_PTR> held_;
    bool holding_ = false;

    std::thread thread_;  // last: starts once the rest is made
};

// The watched folder and a sibling beside it, in a fresh temporary folder.
struct Folders {
    TempFolder root;
    std::filesystem::path watched = root.File(L"watched");
    std::filesystem::path sibling = root.File(L"sibling");
    Folders()
    {
        std::filesystem::create_directory(watched);
        std::filesystem::create_directory(sibling);
    }
};

void WriteFile(const std::filesystem::path& path)
{
    std::ofstream(path, std::ios::binary) << "x";
}

// Runs a shell script in which $W and $S are the watched and sibling folders.
ShellResult Shell(const Folders& folders, const std::string& script)
{
    return RunShell("W=" + ShellQuote(UnixPath(folders.watched)) + "; S=" + ShellQuote(UnixPath(folders.sibling)) +
                    "; " + script);
}

class FolderMonitorTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!test_support::RunningUnderWine())
            GTEST_SKIP() << "the changes are made by a host shell";
        ASSERT_NE(window_.Handle(), nullptr);
    }

    WatchingWindow window_;
};

struct ChangeCase {
    const char* name;
    void (*prepare)(const Folders&);
    const char* action;
};

void Nothing(const Folders&) {}
void OneFile(const Folders& f)
{
    WriteFile(f.watched / L"a.txt");
}
void SiblingFile(const Folders& f)
{
    WriteFile(f.sibling / L"in.txt");
}
void SubFolder(const Folders& f)
{
    std::filesystem::create_directory(f.watched / L"sub");
}

// Each kind of change the filter names reaches the window, with the watch it was started with.
TEST_F(FolderMonitorTest, EachChangeReachesTheWindow)
{
    const ChangeCase cases[] = {
        {"new file", Nothing, "touch \"$W/new.txt\""},
        {"write time", OneFile, "touch -d '2001-02-03 04:05:06' \"$W/a.txt\""},
        {"size", OneFile, "printf 'more' >>\"$W/a.txt\""},
        {"rename", OneFile, "mv \"$W/a.txt\" \"$W/b.txt\""},
        {"moved in from the sibling", SiblingFile, "mv \"$S/in.txt\" \"$W/in.txt\""},
        {"moved out to the sibling", OneFile, "mv \"$W/a.txt\" \"$S/a.txt\""},
        {"delete", OneFile, "rm \"$W/a.txt\""},
        {"new folder", Nothing, "mkdir \"$W/sub\""},
        {"folder removed", SubFolder, "rmdir \"$W/sub\""},
        {"attributes", OneFile, "chmod a-w \"$W/a.txt\""},
    };
    UINT_PTR watch = 100;
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Folders folders;
        c.prepare(folders);
        FolderMonitor monitor;
        ++watch;
        ASSERT_TRUE(window_.Start(monitor, folders.watched, watch));
        const ShellResult made = Shell(folders, c.action);
        ASSERT_TRUE(made.finished && made.exitCode == 0) << made.err;
        EXPECT_TRUE(window_.WaitForCount(watch, 1));
        EXPECT_EQ(window_.LastLParam(), 0);
        window_.Stop(monitor);
        EXPECT_EQ(monitor.ThreadResult(), FolderMonitor::kStopped);
    }
}

// A change in the sibling folder reaches a monitor of the sibling and not the watched folder's, which
// still hears of the next change in its own folder.
TEST_F(FolderMonitorTest, SiblingChangeDoesNotReachTheWatchedFolder)
{
    Folders folders;
    WriteFile(folders.sibling / L"s.txt");
    FolderMonitor watched, sibling;
    ASSERT_TRUE(window_.Start(watched, folders.watched, 1));
    ASSERT_TRUE(window_.Start(sibling, folders.sibling, 2));
    const char* inSibling[] = {"touch \"$S/new.txt\"", "mv \"$S/s.txt\" \"$S/t.txt\"", "mkdir \"$S/d\"",
                               "rm \"$S/t.txt\""};
    int seen = 0;
    for (const char* action : inSibling) {
        SCOPED_TRACE(action);
        ASSERT_TRUE(Shell(folders, action).exitCode == 0);
        ASSERT_TRUE(window_.WaitForCount(2, ++seen));
        seen = window_.Count(2);
        ASSERT_TRUE(window_.Flush());
        EXPECT_EQ(window_.Count(1), 0);
    }
    ASSERT_EQ(Shell(folders, "touch \"$W/mine.txt\"").exitCode, 0);
    EXPECT_TRUE(window_.WaitForCount(1, 1));
    window_.Stop(watched);
    window_.Stop(sibling);
}

// A hundred files made while the window is busy with the first message give that one message; a change
// made after it signals the watch renewed before posting, so it is not lost, and comes as one more once
// the window has answered.
TEST_F(FolderMonitorTest, BurstGivesFewMessages)
{
    Folders folders;
    FolderMonitor monitor;
    window_.Hold(true);
    ASSERT_TRUE(window_.Start(monitor, folders.watched, 7));
    const ShellResult made = Shell(folders, "for i in $(seq 1 100); do touch \"$W/f$i.txt\"; done");
    ASSERT_TRUE(made.finished && made.exitCode == 0) << made.err;
    ASSERT_TRUE(window_.WaitForCount(7, 1));
    ASSERT_EQ(Shell(folders, "touch \"$W/after.txt\"").exitCode, 0);
    ASSERT_TRUE(window_.Flush());
    EXPECT_EQ(window_.Count(7), 1) << "posted again before the window answered";

    window_.Hold(false);
    ASSERT_TRUE(window_.WaitForCount(7, 2));
    window_.Stop(monitor);
    ASSERT_TRUE(window_.Flush());
    EXPECT_LT(window_.Count(7), 10);
    EXPECT_EQ(monitor.ThreadResult(), FolderMonitor::kStopped);
}

// Stop, run on the window's own thread, returns with the thread ended by itself, while a shell keeps
// changing the folder: with the window answering, with a message waiting for its answer, and idle.
TEST_F(FolderMonitorTest, StopEndsTheThreadWhileChangesKeepComing)
{
    struct StopCase {
        const char* name;
        bool hold;
        bool changing;
    } cases[] = {
        {"window answering", false, true},
        {"message unanswered", true, true},
        {"idle", false, false},
    };
    UINT_PTR watch = 200;
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        Folders folders;
        const std::filesystem::path stopFile = folders.root.File(L"stop");
        FolderMonitor monitor;
        ++watch;
        window_.Hold(c.hold);
        ASSERT_TRUE(window_.Start(monitor, folders.watched, watch));
        std::thread changer;
        ShellResult changed;
        if (c.changing) {
            changer = std::thread([&] {
                changed = Shell(folders, "i=0; while [ ! -e " + ShellQuote(UnixPath(stopFile)) +
                                             " ] && [ $i -lt 20000 ]; do touch \"$W/f\"; rm \"$W/f\"; i=$((i+1)); "
                                             "done");
            });
            EXPECT_TRUE(window_.WaitForCount(watch, c.hold ? 1 : 3));
        }
        window_.Stop(monitor);
        EXPECT_EQ(monitor.ThreadResult(), FolderMonitor::kStopped);
        window_.Hold(false);
        if (changer.joinable()) {
            WriteFile(stopFile);
            changer.join();
            EXPECT_TRUE(changed.finished) << changed.err;
        }
    }
}

// The window's thread, busy when the change comes, stops the monitor while the monitor's message waits for
// it: the thread still ends by itself.
TEST_F(FolderMonitorTest, StopOnTheBusyWindowThread)
{
    Folders folders;
    FolderMonitor monitor;
    ASSERT_TRUE(window_.Start(monitor, folders.watched, 250));
    const std::string script = "touch " + ShellQuote(UnixPath(folders.watched / L"busy.txt"));
    EXPECT_EQ(SendMessageW(window_.Handle(), kBusyStopMsg, reinterpret_cast<WPARAM>(&script),
                           reinterpret_cast<LPARAM>(&monitor)),
              1);
    EXPECT_EQ(monitor.ThreadResult(), FolderMonitor::kStopped);
    ASSERT_TRUE(window_.Flush());
    EXPECT_EQ(window_.Count(250), 1);
}

// Stop twice, and destruction after Stop, close nothing again: handles made in between take the numbers
// that Stop freed, and stay open. The same after a Start that failed on a missing folder.
TEST_F(FolderMonitorTest, RepeatedStopClosesNothingTwice)
{
    struct RepeatCase {
        const char* name;
        bool missing;
    } cases[] = {{"started", false}, {"start failed", true}};
    UINT_PTR watch = 300;
    for (const RepeatCase& c : cases) {
        SCOPED_TRACE(c.name);
        Folders folders;
        auto monitor = std::make_unique<FolderMonitor>();
        const BOOL started =
            window_.Start(*monitor, c.missing ? folders.root.File(L"missing") : folders.watched, ++watch);
        EXPECT_EQ(started, c.missing ? FALSE : TRUE);
        window_.Stop(*monitor);
        std::vector<HANDLE> fresh;
        for (int i = 0; i < 16; ++i)
            fresh.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        window_.Stop(*monitor);
        monitor.reset();
        for (HANDLE h : fresh) {
            EXPECT_EQ(WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
            CloseHandle(h);
        }
    }
}

// A monitor whose window is gone posts nothing and keeps watching until it is stopped; a second monitor
// on the same folder shows that the change came.
TEST_F(FolderMonitorTest, GoneWindowHearsNothing)
{
    Folders folders;
    FolderMonitor orphan, witness;
    {
        WatchingWindow gone;
        ASSERT_TRUE(gone.Start(orphan, folders.watched, 1));
    }
    ASSERT_TRUE(window_.Start(witness, folders.watched, 2));
    ASSERT_EQ(Shell(folders, "touch \"$W/a\"; mkdir \"$W/b\"").exitCode, 0);
    EXPECT_TRUE(window_.WaitForCount(2, 1));
    orphan.Stop();
    EXPECT_EQ(orphan.ThreadResult(), FolderMonitor::kStopped);
    window_.Stop(witness);
}

// On the ANSI platforms the path goes to the ANSI call; one the code page cannot hold is refused rather
// than watched under another name (a best-fit letter would name the folder beside it). The wide call
// takes it.
TEST_F(FolderMonitorTest, AnsiAndWidePaths)
{
    struct PathCase {
        const char* name;
        DWORD platform;
        const wchar_t* folder;
        bool starts;
    } cases[] = {
        {"ANSI, code page name", WIN_PLATFORM_WIN98, L"caf\u00e9", true},
        {"ANSI, name outside the code page", WIN_PLATFORM_WIN98, L"\u0416\u0443\u043a", false},
        {"ANSI, best-fit letter", WIN_PLATFORM_WIN98, L"caf\u0101", false},
        {"wide, name outside the code page", WIN_PLATFORM_NT5, L"\u0416\u0443\u043a", true},
        {"wide, best-fit letter", WIN_PLATFORM_NT5, L"caf\u0101", true},
    };
    UINT_PTR watch = 400;
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder root;
        const std::filesystem::path folder = root.File(c.folder);
        std::filesystem::create_directory(folder);
        std::filesystem::create_directory(root.File(L"cafa"));
        FolderMonitor monitor;
        WinForcePlatform(c.platform);
        const BOOL started = window_.Start(monitor, folder, ++watch);
        WinClearForcedPlatform();
        ASSERT_EQ(started, c.starts ? TRUE : FALSE);
        if (started) {
            ASSERT_EQ(RunShell("touch " + ShellQuote(UnixPath(folder / L"n.txt"))).exitCode, 0);
            EXPECT_TRUE(window_.WaitForCount(watch, 1));
        }
        window_.Stop(monitor);
    }
}

// Bad arguments fail Start without a thread.
TEST(FolderMonitorStart, RefusesNoFolder)
{
    for (const wchar_t* folder : {static_cast<const wchar_t*>(nullptr), L""}) {
        FolderMonitor monitor;
        EXPECT_FALSE(monitor.Start(folder, FALSE, kPcFolderChangeFilter, nullptr, WM_PC_FOLDER_CHANGED, 0, 0));
        monitor.Stop();
        EXPECT_EQ(monitor.ThreadResult(), 0u);
    }
}

}  // namespace
