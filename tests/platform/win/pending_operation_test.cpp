// The pending-operation runner: work then done on a worker thread of its own, cancel by the parameter
// set, the bounded stop, start failures and a busy start, the handles of ended runs, and the manager's
// stop that answers what its workers send to the stopping thread. Every wait is for an event the
// callbacks set, never for a time.
#include "platform/win/pending_operation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE h = nullptr) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }
    void Reset(HANDLE h = nullptr)
    {
        if (h_)
            CloseHandle(h_);
        h_ = h;
    }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

HANDLE ManualEvent()
{
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

void Await(HANDLE event)
{
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, INFINITE));
}

// The owner of an operation as the callbacks see it: what they were called with, where and in which
// order, and events that let the test hold the work or the done callback.
struct Probe {
    CPendingOperation* op = nullptr;
    bool holdWork = false;
    bool holdDone = false;
    bool cancelReleasesWork = false;
    bool stopFromDone = false;
    bool keepWorker = true;

    UniqueHandle workEntered{ManualEvent()};
    UniqueHandle releaseWork{ManualEvent()};
    UniqueHandle doneEntered{ManualEvent()};
    UniqueHandle releaseDone{ManualEvent()};
    UniqueHandle doneLeft{ManualEvent()};
    UniqueHandle cancelled{ManualEvent()};
    UniqueHandle worker;  // the worker thread, duplicated by the work so its exit code can be read

    std::atomic<int> workCalls{0};
    std::atomic<int> cancelCalls{0};
    std::atomic<int> doneCalls{0};
    std::atomic<bool> doneReturned{false};
    DWORD workThread = 0;
    DWORD doneThread = 0;
    void* doneContext = nullptr;
    bool finishedSeenByDone = false;
    bool eventSetBeforeDone = false;
    HRESULT stopFromDoneResult = E_UNEXPECTED;

    DWORD WorkerExitCode()
    {
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(worker.get(), &code));
        return code;
    }
};

HRESULT Work(void* context)
{
    auto* p = static_cast<Probe*>(context);
    p->workThread = GetCurrentThreadId();
    if (p->keepWorker) {
        HANDLE h = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &h, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        p->worker.Reset(h);
    }
    ++p->workCalls;
    SetEvent(p->workEntered.get());
    if (p->holdWork)
        WaitForSingleObject(p->releaseWork.get(), INFINITE);
    return S_OK;
}

HRESULT Cancel(void* context)
{
    auto* p = static_cast<Probe*>(context);
    ++p->cancelCalls;
    SetEvent(p->cancelled.get());
    if (p->cancelReleasesWork)
        SetEvent(p->releaseWork.get());
    return S_OK;
}

HRESULT Done(void* context)
{
    auto* p = static_cast<Probe*>(context);
    p->doneThread = GetCurrentThreadId();
    p->doneContext = context;
    p->finishedSeenByDone = p->op->Finished();
    p->eventSetBeforeDone = WaitForSingleObject(p->op->CompletionEvent(), 0) == WAIT_OBJECT_0;
    ++p->doneCalls;
    SetEvent(p->doneEntered.get());
    if (p->holdDone)
        WaitForSingleObject(p->releaseDone.get(), INFINITE);
    if (p->stopFromDone)
        p->stopFromDoneResult = p->op->Stop();
    p->doneReturned = true;
    SetEvent(p->doneLeft.get());
    return E_FAIL;  // the class does not look at the result
}

// Waits until the run's worker has ended (its done callback has returned and the thread is gone).
void AwaitWorkerEnd(Probe& p)
{
    Await(p.doneLeft.get());
    Await(p.worker.get());
}

// A handle of an ended run is closed: it no longer names an object, or its value has been reused by the
// new run's own handle of another object.
bool ThreadHandleClosed(HANDLE h, DWORD oldId)
{
    DWORD flags = 0;
    return !GetHandleInformation(h, &flags) || GetThreadId(h) != oldId;
}
bool EventHandleClosed(HANDLE h, const CPendingOperation& next)
{
    DWORD flags = 0;
    return !GetHandleInformation(h, &flags) || h == next.CompletionEvent();
}

TEST(PendingOperation, Win32ErrorsBecomeFailureHResults)
{
    struct Case {
        DWORD error;
        HRESULT hr;
    };
    const Case cases[] = {
        {0, E_FAIL},  // a call that failed without saying why is still a failure
        {ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005)},
        {ERROR_NOT_ENOUGH_MEMORY, static_cast<HRESULT>(0x80070008)},
        {0x12345, static_cast<HRESULT>(0x80072345)},
        {0x80004005, static_cast<HRESULT>(0x80004005)},  // already an HRESULT
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.hr, PendingHResultFromWin32(c.error)) << "error " << c.error;
}

TEST(PendingOperation, StopOnAnIdleObjectCallsNothing)
{
    CPendingOperation op;
    EXPECT_FALSE(op.Finished());
    EXPECT_EQ(S_OK, op.Stop());
    EXPECT_TRUE(op.Finished());
    EXPECT_TRUE(op.StopRequested());
    EXPECT_EQ(nullptr, op.ThreadHandle());
    EXPECT_EQ(nullptr, op.CompletionEvent());
    EXPECT_EQ(S_OK, op.Stop());
}

TEST(PendingOperation, StartReturnsAtOnceAndRunsWorkThenDoneOnTheWorker)
{
    CPendingOperation op;
    Probe p;
    p.op = &op;
    p.holdWork = true;
    ASSERT_EQ(S_OK, op.Start(&p, Work, Cancel, Done));
    EXPECT_FALSE(op.StopRequested());
    Await(p.workEntered.get());
    // The work is held: Start has returned before it could end.
    EXPECT_FALSE(op.Finished());
    EXPECT_TRUE(op.Running());
    EXPECT_EQ(0, p.doneCalls.load());
    SetEvent(p.releaseWork.get());
    AwaitWorkerEnd(p);

    EXPECT_EQ(1, p.workCalls.load());
    EXPECT_EQ(1, p.doneCalls.load());
    EXPECT_EQ(0, p.cancelCalls.load());
    EXPECT_EQ(&p, p.doneContext);
    EXPECT_NE(GetCurrentThreadId(), p.workThread);
    EXPECT_EQ(p.workThread, p.doneThread);
    EXPECT_EQ(op.ThreadId(), p.doneThread);
    EXPECT_TRUE(p.finishedSeenByDone) << "the finished flag is set before done";
    EXPECT_TRUE(p.eventSetBeforeDone) << "the completion event is signalled before done";
    EXPECT_EQ(0u, p.WorkerExitCode());
    // The ended thread's handle is kept until Stop.
    EXPECT_NE(nullptr, op.ThreadHandle());
    EXPECT_FALSE(op.Running());
    EXPECT_TRUE(op.Finished());
    EXPECT_EQ(S_OK, op.Stop());
}

TEST(PendingOperation, StopCallsCancelByTheParameterSet)
{
    struct Case {
        const char* name;
        PendingOperationParams params;
        bool workStillRunning;
        int cancels;
    };
    const Case cases[] = {
        {"device API, work returned", kDeviceApiPendingParams, false, 1},
        {"device API, work running", kDeviceApiPendingParams, true, 1},
        {"manager, work returned", kManagerPendingParams, false, 0},
        {"manager, work running", kManagerPendingParams, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPendingOperation op(c.params);
        Probe p;
        p.op = &op;
        p.holdWork = c.workStillRunning;
        p.cancelReleasesWork = true;
        ASSERT_EQ(S_OK, op.Start(&p, Work, Cancel, Done));
        if (c.workStillRunning)
            Await(p.workEntered.get());
        else
            AwaitWorkerEnd(p);
        EXPECT_EQ(S_OK, op.Stop());
        EXPECT_EQ(c.cancels, p.cancelCalls.load());
        // A work that heeds the cancel returns in time: its done callback runs and its thread ends itself.
        EXPECT_EQ(1, p.doneCalls.load());
        EXPECT_TRUE(p.doneReturned.load());
        EXPECT_EQ(0u, p.WorkerExitCode());
        EXPECT_TRUE(op.Finished());
        EXPECT_EQ(nullptr, op.ThreadHandle());
        EXPECT_EQ(nullptr, op.CompletionEvent());
    }
}

TEST(PendingOperation, AWorkThatIgnoresCancelIsEndedAfterTheTimeOut)
{
    CPendingOperation op({0, false});
    Probe p;
    p.op = &op;
    p.holdWork = true;  // the cancel does not release it
    ASSERT_EQ(S_OK, op.Start(&p, Work, Cancel, Done));
    Await(p.workEntered.get());
    EXPECT_EQ(S_OK, op.Stop());
    EXPECT_EQ(1, p.cancelCalls.load());
    Await(p.worker.get());
    EXPECT_EQ(kPendingThreadEnded, p.WorkerExitCode());
    EXPECT_EQ(0, p.doneCalls.load());
    EXPECT_TRUE(op.Finished());
    EXPECT_EQ(nullptr, op.ThreadHandle());
}

TEST(PendingOperation, AWorkerThatSignalledCompletionIsNeverEnded)
{
    // A time-out of 0: Stop gives the worker no time at all, yet its work has returned, so the worker
    // inside its done callback must be waited for, not ended.
    CPendingOperation op({0, false});
    Probe p;
    p.op = &op;
    p.holdDone = true;
    ASSERT_EQ(S_OK, op.Start(&p, Work, Cancel, Done));
    Await(p.doneEntered.get());
    std::thread stopper([&] { EXPECT_EQ(S_OK, op.Stop()); });
    Await(p.cancelled.get());  // Stop is under way
    SetEvent(p.releaseDone.get());
    stopper.join();
    EXPECT_TRUE(p.doneReturned.load()) << "Stop returned before the done callback had";
    Await(p.worker.get());
    EXPECT_EQ(0u, p.WorkerExitCode());
}

TEST(PendingOperation, StopFromTheDoneCallbackLetsTheWorkerEndItself)
{
    CPendingOperation op;
    Probe p;
    p.op = &op;
    p.stopFromDone = true;
    ASSERT_EQ(S_OK, op.Start(&p, Work, Cancel, Done));
    AwaitWorkerEnd(p);
    EXPECT_EQ(S_OK, p.stopFromDoneResult);
    EXPECT_EQ(0u, p.WorkerExitCode());
    EXPECT_EQ(nullptr, op.ThreadHandle());
    EXPECT_EQ(nullptr, op.CompletionEvent());
}

// Creation calls that fail with a chosen last error while armed.
struct FailingSystem {
    static inline bool failEvent = false;
    static inline bool failThread = false;
    static inline DWORD error = 0;
    static HANDLE CreateEvent_()
    {
        if (failEvent) {
            SetLastError(error);
            return nullptr;
        }
        return DefaultPendingOperationSystem().createEvent();
    }
    static HANDLE CreateThread_(LPTHREAD_START_ROUTINE proc, void* param, DWORD* id)
    {
        if (failThread) {
            SetLastError(error);
            return nullptr;
        }
        return DefaultPendingOperationSystem().createThread(proc, param, id);
    }
};
const PendingOperationSystem kFailingSystem{FailingSystem::CreateEvent_, FailingSystem::CreateThread_};

TEST(PendingOperation, AFailedStartIsNeverReportedAsSuccess)
{
    struct Case {
        const char* name;
        bool failEvent;
        bool failThread;
        DWORD error;
        HRESULT hr;
    };
    const Case cases[] = {
        {"event, no error code", true, false, 0, E_FAIL},
        {"event, out of memory", true, false, ERROR_NOT_ENOUGH_MEMORY, static_cast<HRESULT>(0x80070008)},
        {"thread, no error code", false, true, 0, E_FAIL},
        {"thread, access denied", false, true, ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPendingOperation op(kDeviceApiPendingParams, kFailingSystem);
        Probe p;
        p.op = &op;
        FailingSystem::failEvent = c.failEvent;
        FailingSystem::failThread = c.failThread;
        FailingSystem::error = c.error;
        EXPECT_EQ(c.hr, op.Start(&p, Work, Cancel, Done));
        EXPECT_EQ(nullptr, op.ThreadHandle());
        EXPECT_FALSE(op.Running());
        // Only a failed thread leaves the event it made; the next start closes it.
        const HANDLE leftEvent = op.CompletionEvent();
        EXPECT_EQ(c.failThread, leftEvent != nullptr);
        EXPECT_EQ(0, p.workCalls.load());
        EXPECT_EQ(0, p.doneCalls.load());
        EXPECT_EQ(0, p.cancelCalls.load());

        FailingSystem::failEvent = FailingSystem::failThread = false;
        p.keepWorker = false;  // no handle of the test's own may take the old event's value
        ASSERT_EQ(S_OK, op.Start(&p, Work, Cancel, Done));
        if (leftEvent) {
            EXPECT_TRUE(EventHandleClosed(leftEvent, op));
        }
        Await(p.doneLeft.get());
        EXPECT_EQ(1, p.workCalls.load());
        EXPECT_EQ(S_OK, op.Stop());
    }
}

TEST(PendingOperation, ASecondStartWhileOneRunsIsRefused)
{
    struct Case {
        const char* name;
        bool holdWork;  // else the done callback is held
    };
    for (const Case& c : {Case{"in the work", true}, Case{"in the done callback", false}}) {
        SCOPED_TRACE(c.name);
        CPendingOperation op;
        Probe first;
        first.op = &op;
        first.holdWork = c.holdWork;
        first.holdDone = !c.holdWork;
        ASSERT_EQ(S_OK, op.Start(&first, Work, Cancel, Done));
        Await(c.holdWork ? first.workEntered.get() : first.doneEntered.get());
        const HANDLE thread = op.ThreadHandle();
        const HANDLE event = op.CompletionEvent();

        Probe second;
        second.op = &op;
        second.keepWorker = false;
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BUSY), op.Start(&second, Work, Cancel, Done));
        EXPECT_EQ(thread, op.ThreadHandle());
        EXPECT_EQ(event, op.CompletionEvent());

        SetEvent(first.releaseWork.get());
        SetEvent(first.releaseDone.get());
        AwaitWorkerEnd(first);
        EXPECT_EQ(&first, first.doneContext) << "the refused start left the running one alone";
        EXPECT_EQ(0, second.workCalls.load());

        // Once the first run's thread has ended, the next start is taken and closes its handles.
        const DWORD firstId = GetThreadId(thread);
        ASSERT_EQ(S_OK, op.Start(&second, Work, Cancel, Done));
        EXPECT_TRUE(ThreadHandleClosed(thread, firstId));
        EXPECT_TRUE(EventHandleClosed(event, op));
        Await(second.doneLeft.get());
        EXPECT_EQ(&second, second.doneContext);
        EXPECT_EQ(S_OK, op.Stop());
    }
}

TEST(PendingOperation, StopClosesTheHandlesOfAnEndedRun)
{
    CPendingOperation op;
    Probe p;
    p.op = &op;
    ASSERT_EQ(S_OK, op.Start(&p, Work, Cancel, Done));
    AwaitWorkerEnd(p);
    const HANDLE thread = op.ThreadHandle();
    const HANDLE event = op.CompletionEvent();
    ASSERT_NE(nullptr, thread);
    ASSERT_NE(nullptr, event);
    const DWORD id = GetThreadId(thread);
    EXPECT_EQ(S_OK, op.Stop());
    EXPECT_TRUE(ThreadHandleClosed(thread, id));
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(event, &flags));
}

TEST(PendingOperation, DestroyingTheOwnerOfARunningOperationStopsIt)
{
    Probe p;
    {
        CPendingOperation op;
        p.op = &op;
        p.holdWork = true;
        p.cancelReleasesWork = true;
        ASSERT_EQ(S_OK, op.Start(&p, Work, Cancel, Done));
        Await(p.workEntered.get());
    }
    EXPECT_EQ(1, p.cancelCalls.load());
    EXPECT_TRUE(p.doneReturned.load());
    EXPECT_EQ(0u, p.WorkerExitCode());
}

// A window of the stopping thread that the worker sends to, as the manager's workers send to its
// user-interface thread; it counts what it was given.
struct Receiver {
    static constexpr UINT kSent = WM_APP + 1;
    static constexpr UINT kPosted = WM_APP + 2;
    static inline std::atomic<int> sent{0};
    static inline std::atomic<int> posted{0};
    HWND hwnd = nullptr;

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        if (msg == kSent) {
            ++sent;
            return 42;
        }
        if (msg == kPosted) {
            ++posted;
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    Receiver()
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"PendingOperationReceiver";
        RegisterClassW(&wc);
        hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        sent = 0;
        posted = 0;
    }
    ~Receiver() { DestroyWindow(hwnd); }
};

struct SendingProbe {
    CPendingOperation* op = nullptr;
    HWND target = nullptr;
    bool sendFromDone = false;  // else the work sends once Stop has asked it to cancel
    UniqueHandle entered{ManualEvent()};
    UniqueHandle cancelled{ManualEvent()};
    UniqueHandle doneEntered{ManualEvent()};
    UniqueHandle releaseDone{ManualEvent()};
    UniqueHandle worker;
    LRESULT answer = 0;
    std::atomic<bool> doneReturned{false};
};

HRESULT SendingWork(void* context)
{
    auto* p = static_cast<SendingProbe*>(context);
    HANDLE h = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &h, 0, FALSE, DUPLICATE_SAME_ACCESS);
    p->worker.Reset(h);
    SetEvent(p->entered.get());
    if (!p->sendFromDone) {
        WaitForSingleObject(p->cancelled.get(), INFINITE);
        p->answer = SendMessageW(p->target, Receiver::kSent, 0, 0);
    }
    return S_OK;
}

HRESULT SendingCancel(void* context)
{
    SetEvent(static_cast<SendingProbe*>(context)->cancelled.get());
    return S_OK;
}

HRESULT SendingDone(void* context)
{
    auto* p = static_cast<SendingProbe*>(context);
    if (p->sendFromDone) {
        // The done step starts before Stop: Stop waits for it while it sends.
        SetEvent(p->doneEntered.get());
        WaitForSingleObject(p->releaseDone.get(), INFINITE);
        p->answer = SendMessageW(p->target, Receiver::kSent, 0, 0);
    }
    p->doneReturned = true;
    return S_OK;
}

TEST(PendingOperation, TheManagersStopAnswersSentMessagesAndLeavesPostedOnesQueued)
{
    struct Case {
        const char* name;
        bool sendFromDone;
    };
    const Case cases[] = {
        {"the work sends while Stop waits for it", false},
        {"the done step sends while Stop waits for it", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Receiver receiver;
        ASSERT_NE(nullptr, receiver.hwnd);
        CPendingOperation op(kManagerPendingParams);
        SendingProbe p;
        p.op = &op;
        p.target = receiver.hwnd;
        p.sendFromDone = c.sendFromDone;
        ASSERT_EQ(S_OK, op.Start(&p, SendingWork, SendingCancel, SendingDone));
        Await(c.sendFromDone ? p.doneEntered.get() : p.entered.get());
        ASSERT_TRUE(PostMessageW(receiver.hwnd, Receiver::kPosted, 0, 0));
        if (c.sendFromDone)
            SetEvent(p.releaseDone.get());
        EXPECT_EQ(S_OK, op.Stop());
        // Answered on this thread inside Stop: the worker was never ended and finished its done step.
        EXPECT_EQ(1, Receiver::sent.load());
        EXPECT_EQ(42, p.answer);
        EXPECT_TRUE(p.doneReturned.load());
        Await(p.worker.get());
        DWORD code = kPendingThreadEnded;
        EXPECT_TRUE(GetExitCodeThread(p.worker.get(), &code));
        EXPECT_EQ(0u, code);
        // The posted message is still waiting for the caller's own loop.
        EXPECT_EQ(0, Receiver::posted.load());
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, receiver.hwnd, Receiver::kPosted, Receiver::kPosted, PM_REMOVE));
        DispatchMessageW(&msg);
        EXPECT_EQ(1, Receiver::posted.load());
    }
}

}  // namespace
