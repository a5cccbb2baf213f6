// Watches one PC folder on a thread of its own and tells a window, by a posted message, that the folder
// changed. The window answers each message with Acknowledge; until then nothing new is posted, so a
// burst of changes while the window refreshes gives a few messages, not one per file.
#pragma once

#include <windows.h>

#include <atomic>

// The main window's message for a change in the watched PC folder.
constexpr UINT WM_PC_FOLDER_CHANGED = 0x83B;
// File names, folder names, attributes, sizes and write times.
constexpr DWORD kPcFolderChangeFilter = 0x1F;

// What WM_PC_FOLDER_CHANGED carries: the number the window gave the watch when it started it, so that a
// message still queued from a watch it has since replaced is told apart. wParam = watch, lParam = 0.
struct PcFolderChange {
    UINT_PTR watch = 0;
};

inline WPARAM PcFolderChangeWParam(PcFolderChange change)
{
    return static_cast<WPARAM>(change.watch);
}

inline PcFolderChange DecodePcFolderChange(WPARAM wParam, LPARAM /*lParam*/)
{
    return PcFolderChange{static_cast<UINT_PTR>(wParam)};
}

class FolderMonitor {
public:
    // What the thread procedure returns.
    static constexpr DWORD kRenewFailed = 1;   // the watch could not be renewed
    static constexpr DWORD kWaitFailed = 2;    // a handle was missing or a wait failed
    static constexpr DWORD kStopped = 3;
    static constexpr DWORD kNoMonitor = 4;
    // How long Stop waits for the thread. The thread only ever waits with the stop event in the set, so it
    // ends at once; the bound only guards against a thread that cannot end.
    static constexpr DWORD kStopWaitMs = 10000;

    FolderMonitor() = default;
    ~FolderMonitor();
    FolderMonitor(const FolderMonitor&) = delete;
    FolderMonitor& operator=(const FolderMonitor&) = delete;

    // Watches `folder` (and its subfolders when watchSubtree) for the changes in `filter` and posts
    // message (wParam, lParam) to window on each one. TRUE when the thread runs; FALSE when a step failed
    // (what was made stays until Stop). A monitor that still runs is stopped first. Start, Stop and
    // Acknowledge run on the window's thread.
    BOOL Start(const wchar_t* folder, BOOL watchSubtree, DWORD filter, HWND window, UINT message, WPARAM wParam,
               LPARAM lParam);
    // Watches the main window's PC folder: no subfolders, kPcFolderChangeFilter, WM_PC_FOLDER_CHANGED.
    BOOL StartPcFolderWatch(const wchar_t* folder, HWND window, PcFolderChange change)
    {
        return Start(folder, FALSE, kPcFolderChangeFilter, window, WM_PC_FOLDER_CHANGED, PcFolderChangeWParam(change),
                     0);
    }
    // Ends the thread and releases everything; safe to repeat.
    void Stop();
    // The window has handled the last message: the next change may be posted.
    void Acknowledge();

    // What the last thread returned once Stop has ended it (0 before that).
    DWORD ThreadResult() const { return threadResult_; }

private:
    static DWORD WINAPI ThreadProc(void* parameter);
    DWORD Run();

    HWND window_ = nullptr;
    UINT message_ = 0;
    WPARAM wParam_ = 0;
    LPARAM lParam_ = 0;
    HANDLE change_ = INVALID_HANDLE_VALUE;
    HANDLE stopEvent_ = nullptr;     // manual reset
    HANDLE handledEvent_ = nullptr;  // auto reset: set by Acknowledge for a posted message
    std::atomic<LONG> stop_{0};
    std::atomic<bool> pending_{false};  // a message was posted and not yet acknowledged
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    DWORD threadResult_ = 0;
};
