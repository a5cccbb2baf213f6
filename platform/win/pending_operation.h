// One operation run on a worker thread of its own: the work, then a done callback on that thread, with a
// cancel request and a bounded stop. The device API's format and font operations hold one each; the
// manager's transfer and poll runners use the same class with their own parameters.
#pragma once

#include <windows.h>

#include <atomic>

// The callbacks of an operation; each is given the owner's context pointer. Their results are the
// owner's business: the class does not look at them.
using PendingCallback = HRESULT (*)(void* context);

// What differs between the device API and the manager.
struct PendingOperationParams {
    DWORD stopWaitMs;             // how long Stop waits for the work to return before ending the thread
    bool cancelOnlyWhileRunning;  // Stop calls cancel only when the work has not returned yet
    // Stop answers messages sent to the calling thread while it waits (the manager's workers send to the
    // user-interface thread that stops them); posted messages, timers and input stay queued.
    bool answerSentMessages = false;
};
inline constexpr PendingOperationParams kDeviceApiPendingParams{2000, false, false};
inline constexpr PendingOperationParams kManagerPendingParams{10000, true, true};

// The system calls that make an operation's event and thread; tests put failing ones in their place.
struct PendingOperationSystem {
    HANDLE (*createEvent)();
    HANDLE (*createThread)(LPTHREAD_START_ROUTINE proc, void* param, DWORD* id);
};
const PendingOperationSystem& DefaultPendingOperationSystem();

// The HRESULT of a Win32 error code. An error of 0 (a call that failed without saying why) is E_FAIL,
// never success.
HRESULT PendingHResultFromWin32(DWORD error);

// The exit code of a worker thread that was ended before its work returned.
inline constexpr DWORD kPendingThreadEnded = 0xDEAD;

class CPendingOperation {
public:
    explicit CPendingOperation(const PendingOperationParams& params = kDeviceApiPendingParams,
                               const PendingOperationSystem& system = DefaultPendingOperationSystem());
    CPendingOperation(const CPendingOperation&) = delete;
    CPendingOperation& operator=(const CPendingOperation&) = delete;
    virtual ~CPendingOperation();

    // Starts work(context) on a new worker thread, then done(context) there; returns at once. Refused with
    // HRESULT_FROM_WIN32(ERROR_BUSY) while an earlier run's thread has not ended; the handles of an ended
    // run are closed first.
    HRESULT Start(void* context, PendingCallback work, PendingCallback cancel, PendingCallback done);
    // Asks the work to stop (cancel), waits up to the parameters' time for it to return and ends a worker
    // whose work has not returned by then. A worker whose work has returned is waited for until its done
    // callback has returned, never ended. Always S_OK.
    HRESULT Stop();

    // The work has returned (or the operation was stopped).
    bool Finished() const { return finished_.load() != 0; }
    // Set by Stop, cleared by Start: long work may poll it.
    bool StopRequested() const { return stopFlag_.load() != 0; }
    // An operation whose thread has not ended yet.
    bool Running() const;

    // The run's handles as they are held (null when none), for owners that wait on them.
    HANDLE CompletionEvent() const { return event_; }
    HANDLE ThreadHandle() const { return thread_; }
    DWORD ThreadId() const { return threadId_; }

private:
    // Where the worker is; the worker and Stop settle who wins when the time-out meets the work's end.
    enum State : LONG { kIdle, kWorking, kWorkReturned, kAbandoned };

    static DWORD WINAPI ThreadProc(void* param);
    void CloseEndedRun();
    // Waits for the handle; with answerSentMessages, messages sent to this thread are answered meanwhile.
    DWORD WaitFor(HANDLE handle, DWORD milliseconds) const;

    const PendingOperationParams params_;
    const PendingOperationSystem& system_;
    PendingCallback work_ = nullptr;
    PendingCallback cancel_ = nullptr;
    PendingCallback done_ = nullptr;
    void* context_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    std::atomic<LONG> stopFlag_{0};
    HANDLE event_ = nullptr;
    std::atomic<LONG> finished_{0};
    std::atomic<LONG> state_{kIdle};
};
