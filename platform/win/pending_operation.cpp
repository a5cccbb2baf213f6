// The worker thread of one pending operation.
#include "platform/win/pending_operation.h"

namespace {

HANDLE CreateCompletionEvent()
{
    // Auto-reset, not signalled, unnamed.
    return CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

HANDLE CreateWorkerThread(LPTHREAD_START_ROUTINE proc, void* param, DWORD* id)
{
    return CreateThread(nullptr, 0, proc, param, 0, id);
}

}  // namespace

const PendingOperationSystem& DefaultPendingOperationSystem()
{
    static const PendingOperationSystem system{CreateCompletionEvent, CreateWorkerThread};
    return system;
}

HRESULT PendingHResultFromWin32(DWORD error)
{
    if (error == 0)
        return E_FAIL;
    if (static_cast<LONG>(error) > 0)
        return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
    return static_cast<HRESULT>(error);
}

CPendingOperation::CPendingOperation(const PendingOperationParams& params, const PendingOperationSystem& system)
    : params_(params), system_(system)
{}

CPendingOperation::~CPendingOperation()
{
    Stop();
}

bool CPendingOperation::Running() const
{
    return thread_ && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT;
}

void CPendingOperation::CloseEndedRun()
{
    if (thread_)
        CloseHandle(thread_);
    if (event_)
        CloseHandle(event_);
    thread_ = nullptr;
    threadId_ = 0;
    event_ = nullptr;
}

HRESULT CPendingOperation::Start(void* context, PendingCallback work, PendingCallback cancel, PendingCallback done)
{
    // The running worker reads this object's fields until it ends: a second run waits for it.
    if (Running())
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    CloseEndedRun();

    context_ = context;
    finished_ = 0;
    work_ = work;
    cancel_ = cancel;
    done_ = done;
    event_ = system_.createEvent();
    if (!event_)
        return PendingHResultFromWin32(GetLastError());
    stopFlag_ = 0;
    state_ = kWorking;
    thread_ = system_.createThread(ThreadProc, this, &threadId_);
    if (!thread_) {
        HRESULT hr = PendingHResultFromWin32(GetLastError());
        state_ = kIdle;
        threadId_ = 0;
        return hr;
    }
    return S_OK;
}

DWORD CPendingOperation::WaitFor(HANDLE handle, DWORD milliseconds) const
{
    if (!params_.answerSentMessages)
        return WaitForSingleObject(handle, milliseconds);
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        // Only sent messages are taken: a posted message, a timer or input never re-enters the caller's
        // windows from inside Stop.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD remaining = INFINITE;
        if (milliseconds != INFINITE) {
            const ULONGLONG elapsed = GetTickCount64() - start;
            remaining = elapsed >= milliseconds ? 0 : static_cast<DWORD>(milliseconds - elapsed);
        }
        const DWORD result = MsgWaitForMultipleObjectsEx(1, &handle, remaining, QS_SENDMESSAGE, 0);
        if (result != WAIT_OBJECT_0 + 1)
            return result;
    }
}

HRESULT CPendingOperation::Stop()
{
    stopFlag_ = 1;
    if (cancel_ && !(params_.cancelOnlyWhileRunning && Finished()))
        cancel_(context_);
    if (event_ && thread_ && state_.load() == kWorking)
        WaitFor(event_, params_.stopWaitMs);  // the outcome is settled with the worker below
    if (thread_) {
        // Called from a callback on the worker itself, it can neither wait for nor end its own thread.
        const bool onWorker = GetCurrentThreadId() == threadId_;
        LONG expected = kWorking;
        if (state_.compare_exchange_strong(expected, kAbandoned)) {
            // The work ignored the request past the time-out; from here on the worker skips its done
            // callback even if its work returns before it is ended.
            if (!onWorker) {
                TerminateThread(thread_, kPendingThreadEnded);
                WaitFor(thread_, INFINITE);
            }
        } else if (!onWorker) {
            // The work has returned: the done callback is let run to its end.
            WaitFor(thread_, INFINITE);
        }
    }
    CloseEndedRun();
    finished_ = 1;
    state_ = kIdle;
    context_ = nullptr;
    work_ = nullptr;
    cancel_ = nullptr;
    done_ = nullptr;
    return S_OK;
}

DWORD WINAPI CPendingOperation::ThreadProc(void* param)
{
    if (!param)
        return kPendingThreadEnded;
    auto* op = static_cast<CPendingOperation*>(param);
    // Stop may clear the fields while done runs (when it is called from done itself): work from copies.
    const PendingCallback work = op->work_;
    const PendingCallback done = op->done_;
    void* const context = op->context_;
    const HANDLE event = op->event_;
    if (work)
        work(context);
    LONG expected = kWorking;
    if (!op->state_.compare_exchange_strong(expected, kWorkReturned))
        return kPendingThreadEnded;  // Stop gave up on this run
    op->finished_ = 1;
    if (event)
        SetEvent(event);
    if (done)
        done(context);
    return 0;
}
