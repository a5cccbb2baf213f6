#include "manager/device/folder_monitor.h"

#include "platform/win/win_platform.h"

namespace {

// A change notification on the folder: the wide call on the NT family, else the ANSI one on the path in
// the ANSI code page. A path that does not fit MAX_PATH bytes or has characters the code page lacks is
// refused rather than watched under a wrong name.
HANDLE OpenChangeNotification(const wchar_t* folder, BOOL watchSubtree, DWORD filter)
{
    HANDLE change;
    if (WinIsNtPlatform()) {
        change = FindFirstChangeNotificationW(folder, watchSubtree, filter);
    } else {
        char ansi[MAX_PATH];
        BOOL usedDefault = FALSE;
        if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, folder, -1, ansi, MAX_PATH, nullptr, &usedDefault) <= 0 ||
            usedDefault)
            return INVALID_HANDLE_VALUE;
        change = FindFirstChangeNotificationA(ansi, watchSubtree, filter);
    }
    return change == nullptr ? INVALID_HANDLE_VALUE : change;
}

void CloseAndClear(HANDLE& handle)
{
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

}  // namespace

FolderMonitor::~FolderMonitor()
{
    Stop();
}

BOOL FolderMonitor::Start(const wchar_t* folder, BOOL watchSubtree, DWORD filter, HWND window, UINT message,
                          WPARAM wParam, LPARAM lParam)
{
    Stop();
    stop_ = 0;
    pending_ = false;
    threadResult_ = 0;
    window_ = window;
    message_ = message;
    wParam_ = wParam;
    lParam_ = lParam;
    if (folder == nullptr || folder[0] == L'\0')
        return FALSE;
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent_ == nullptr)
        return FALSE;
    handledEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (handledEvent_ == nullptr)
        return FALSE;
    change_ = OpenChangeNotification(folder, watchSubtree, filter);
    if (change_ == INVALID_HANDLE_VALUE)
        return FALSE;
    thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, &threadId_);
    if (thread_ == nullptr) {
        threadId_ = 0;
        return FALSE;
    }
    return TRUE;
}

void FolderMonitor::Stop()
{
    stop_ = 1;
    if (stopEvent_ != nullptr)
        SetEvent(stopEvent_);
    if (thread_ != nullptr) {
        // The thread waits on nothing without the stop event, and posts rather than sends, so it ends at
        // once even when this thread is the window's.
        if (WaitForSingleObject(thread_, kStopWaitMs) != WAIT_OBJECT_0) {
            TerminateThread(thread_, 0xDEAD);
            WaitForSingleObject(thread_, kStopWaitMs);
        }
        DWORD code = 0;
        if (GetExitCodeThread(thread_, &code))
            threadResult_ = code;
        CloseAndClear(thread_);
        threadId_ = 0;
    }
    CloseAndClear(stopEvent_);
    CloseAndClear(handledEvent_);
    if (change_ != INVALID_HANDLE_VALUE) {
        FindCloseChangeNotification(change_);
        change_ = INVALID_HANDLE_VALUE;
    }
    pending_ = false;
    window_ = nullptr;
    message_ = 0;
    wParam_ = 0;
    lParam_ = 0;
}

void FolderMonitor::Acknowledge()
{
    // Only a posted message opens the way for the next one; a second answer to it does nothing.
    if (pending_.exchange(false) && handledEvent_ != nullptr)
        SetEvent(handledEvent_);
}

DWORD WINAPI FolderMonitor::ThreadProc(void* parameter)
{
    auto* monitor = static_cast<FolderMonitor*>(parameter);
    return monitor != nullptr ? monitor->Run() : kNoMonitor;
}

DWORD FolderMonitor::Run()
{
    while (stop_ == 0) {
        if (change_ == INVALID_HANDLE_VALUE || stopEvent_ == nullptr || handledEvent_ == nullptr)
            return kWaitFailed;
        // The stop event first: when both are set, stopping wins.
        const HANDLE changed[2] = {stopEvent_, change_};
        const DWORD woken = WaitForMultipleObjects(2, changed, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0 || stop_ != 0)
            return kStopped;
        if (woken != WAIT_OBJECT_0 + 1)
            return kWaitFailed;
        // Renewed before the window hears of it, so that what changes while it refreshes is not lost.
        if (!FindNextChangeNotification(change_))
            return kRenewFailed;
        // A window that is gone hears nothing; the folder stays watched until Stop.
        if (!IsWindow(window_))
            continue;
        pending_ = true;
        if (!PostMessageW(window_, message_, wParam_, lParam_)) {
            pending_ = false;
            continue;
        }
        const HANDLE answered[2] = {stopEvent_, handledEvent_};
        const DWORD handled = WaitForMultipleObjects(2, answered, FALSE, INFINITE);
        if (handled == WAIT_OBJECT_0 || stop_ != 0)
            return kStopped;
        if (handled != WAIT_OBJECT_0 + 1)
            return kWaitFailed;
    }
    return kStopped;
}
