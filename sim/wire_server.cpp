#include "sim/wire_server.h"

#include "sim/cost_model.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace sim {
namespace {

enum class Role { Interface, Pipe02, Out, In };
constexpr Role kRoles[] = {Role::Interface, Role::Pipe02, Role::Out, Role::In};
constexpr const char* kSuffix[] = {"", "\\PIPE02", "\\PIPE00", "\\PIPE01"};

// Idle instances kept listening per name. The host opens and closes the interface several times in a
// row for every operation, and each open must find an instance ready before the server thread has put a
// new one in place; the data pipes are opened once per operation, but a server that falls behind can
// still hold the previous operation's instances when the next one opens.
constexpr int Listeners(Role r)
{
    return r == Role::Interface ? 8 : 4;
}

// The longest message a host sends: a command block's data of 32 units of 576 bytes.
constexpr DWORD kLongestHostMessage = 18432;
// Commands, status answers and spare records travel in one packet; anything longer carries data.
constexpr std::size_t kCommandBlockBytes = kUsbPacketBytes;

struct Event {
    HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event()
    {
        if (h)
            CloseHandle(h);
    }
};

// One server end of a named pipe. `op` carries the connect, then the zero-byte read that reports
// either a waiting host write (ERROR_MORE_DATA, nothing consumed) or the host's close.
struct Instance {
    Role role;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    Event opEvent, writeEvent;
    OVERLAPPED op{}, write{};
    bool opPending = false, writePending = false, connected = false;
    // The connect found the host there already: no I/O was started, so `op` holds no result to ask for.
    bool connectedAtOnce = false;
    DWORD opError = 0;  // a zero-byte read that failed at once (the host had already closed)
    Message writing;

    explicit Instance(Role r) : role(r)
    {
        op.hEvent = opEvent.h;
        write.hEvent = writeEvent.h;
    }
    ~Instance() { Close(); }

    void Close()
    {
        if (pipe == INVALID_HANDLE_VALUE)
            return;
        CancelIoEx(pipe, nullptr);
        DWORD n;
        if (opPending)
            GetOverlappedResult(pipe, &op, &n, TRUE);
        if (writePending)
            GetOverlappedResult(pipe, &write, &n, TRUE);
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
        pipe = INVALID_HANDLE_VALUE;
        // Nothing of the old connection may leak into the next one.
        opPending = writePending = connected = connectedAtOnce = false;
        opError = 0;
        writing.clear();
        op = OVERLAPPED{};
        write = OVERLAPPED{};
        op.hEvent = opEvent.h;
        write.hEvent = writeEvent.h;
        ResetEvent(opEvent.h);
        ResetEvent(writeEvent.h);
    }

    // Asking an operation's event is a round trip to the system, made for every pending operation at
    // every wake; an operation whose status still reads pending cannot be done, so it is not asked.
    // (The system stores the status before it signals the event.) The connect that found its host and
    // the read that failed at once were never started: their status says nothing, only their event.
    bool OpMayBeDone() const
    {
        return opError != 0 || (!connected && connectedAtOnce) || op.Internal != STATUS_PENDING;
    }
    bool WriteMayBeDone() const { return write.Internal != STATUS_PENDING; }

    // Posts the zero-byte read; it completes when the host writes or closes. Starting a read or a write
    // resets its event, so no transfer here resets one first.
    void Arm()
    {
        DWORD n;
        opPending = true;
        opError = 0;
        if (!ReadFile(pipe, nullptr, 0, &n, &op) && GetLastError() != ERROR_IO_PENDING &&
            GetLastError() != ERROR_MORE_DATA) {
            opError = GetLastError();
            SetEvent(op.hEvent);
        }
    }
};

}  // namespace

struct WireServer::Impl {
    std::string base;
    WireDevice& device;

    std::thread thread;
    Event stop, wake;

    // Requests from other threads, run on the server thread.
    std::mutex lock;
    std::condition_variable done;
    std::deque<std::function<void()>> requests;
    std::uint64_t requestsRun = 0, requestsQueued = 0;

    // Server-thread state. A server that falls behind can see a closed operation's pipes and the next
    // operation's pipes connected at one wake, in any order, so no connection displaces another:
    // every connected OUT instance stays armed and the one the host last wrote on is `out`; replies go to
    // the newest connected IN instance that still has its host.
    std::vector<std::unique_ptr<Instance>> instances;
    Instance* out = nullptr;
    std::vector<Instance*> ins;  // connected IN instances, oldest first
    std::deque<Message> replies;
    bool plugged = true;

    // Shared under `lock`.
    WireCounters counters;
    FaultKind faultKind = FaultKind::Fail;
    std::uint64_t faultCountdown = 0;  // 0: no fault pending
    std::size_t faultBytes = 0;
    std::atomic<std::uint32_t> paceMs{0};

    Impl(std::string b, WireDevice& d) : base(std::move(b)), device(d) {}

    std::string Name(Role r) const { return "\\\\.\\pipe\\" + base + kSuffix[static_cast<int>(r)]; }

    bool Listen(Instance& inst)
    {
        inst.pipe = CreateNamedPipeA(Name(inst.role).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 0,
                                     0, 0, nullptr);
        if (inst.pipe == INVALID_HANDLE_VALUE)
            return false;
        // A host may open a fresh instance before the connect below is made: the connect then answers at
        // once, "connected" if the host is still there, "no data" if it has closed again (the interface's
        // presence checks do). A closed one is freed to listen again; given up, the instance would be lost
        // for good, and with every instance lost the name is gone.
        for (int attempt = 0;; ++attempt) {
            ResetEvent(inst.op.hEvent);
            if (ConnectNamedPipe(inst.pipe, &inst.op) || GetLastError() == ERROR_PIPE_CONNECTED) {
                inst.connectedAtOnce = true;
                SetEvent(inst.op.hEvent);
                break;
            }
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING)
                break;
            if (error != ERROR_NO_DATA || attempt == 16) {
                inst.Close();
                return false;
            }
            DisconnectNamedPipe(inst.pipe);
        }
        inst.opPending = true;
        return true;
    }

    bool ListenAll()
    {
        for (Role r : kRoles)
            for (int i = 0; i < Listeners(r); ++i) {
                auto inst = std::make_unique<Instance>(r);
                if (!Listen(*inst))
                    return false;
                instances.push_back(std::move(inst));
            }
        return true;
    }

    // A connection ended or was dropped: the instance listens again for the next host open.
    void Recycle(Instance& inst)
    {
        // A reply the host took before it closed still counts; one it did not take is kept aside.
        std::optional<Message> unread;
        if (inst.writePending) {
            if (WaitForSingleObject(inst.write.hEvent, 0) != WAIT_OBJECT_0)
                CancelIoEx(inst.pipe, &inst.write);
            DWORD n = 0;
            if (GetOverlappedResult(inst.pipe, &inst.write, &n, TRUE) && n == inst.writing.size())
                CountRead(n);
            else
                unread = std::move(inst.writing);
            inst.writePending = false;
        }
        if (&inst == out) {
            out = nullptr;
            replies.clear();
            device.HostClosed();
        }
        if (inst.role == Role::In) {
            std::erase(ins, &inst);
            if (unread)
                GiveBack(std::move(*unread));
        }
        inst.Close();
        if (plugged)
            Listen(inst);
    }

    // A reply that did not reach an IN instance whose host has gone goes to the next one, as long as the
    // host that asked for it still holds its OUT pipe.
    void GiveBack(Message piece)
    {
        if (OutStillOpen())
            replies.push_front(std::move(piece));
        else
            replies.clear();  // nobody is left to read this exchange's replies
    }

    // True while the host of the current exchange has its OUT pipe open (a zero-byte peek fails once
    // the host has closed it, even before the server has seen the close).
    bool OutStillOpen() const { return out && PeekNamedPipe(out->pipe, nullptr, 0, nullptr, nullptr, nullptr); }

    // Withdraws every reply not yet read: a cancelled pipe write leaves nothing for the host to read.
    void WithdrawReplies()
    {
        replies.clear();
        for (Instance* inst : ins) {
            if (!inst->writePending)
                continue;
            CancelIoEx(inst->pipe, &inst->write);
            DWORD n = 0;
            const bool read = GetOverlappedResult(inst->pipe, &inst->write, &n, TRUE) && n == inst->writing.size();
            inst->writePending = false;
            inst->writing.clear();
            if (read)
                CountRead(n);  // the host took it before the cancel
        }
    }

    // The player drops both data pipes: every transfer the host has under way or starts fails.
    void DropDataPipes()
    {
        std::vector<Instance*> data;
        for (auto& inst : instances)
            if (inst->connected && (inst->role == Role::Out || inst->role == Role::In))
                data.push_back(inst.get());
        for (Instance* inst : data)
            Recycle(*inst);
        replies.clear();  // nothing of a failed exchange is sent again
    }

    // Counts one transfer and says which fault, if any, hits it.
    bool TakeFault(FaultKind& kind, std::size_t& bytes)
    {
        std::lock_guard g(lock);
        if (faultCountdown == 0 || --faultCountdown != 0)
            return false;
        kind = faultKind;
        bytes = faultBytes;
        ++counters.failedTransfers;
        return true;
    }

    void OnConnected(Instance& inst)
    {
        inst.connected = true;
        if (inst.role == Role::Interface) {  // an open of the interface carries nothing: listen again at once
            Recycle(inst);
            return;
        }
        // An OUT instance becomes current only when the host writes on it; an IN instance joins the list.
        if (inst.role == Role::In)
            ins.push_back(&inst);
        inst.Arm();
    }

    // The host has a message waiting on the OUT pipe; nothing is taken yet.
    void OnHostWriteWaiting(Instance& inst)
    {
        FaultKind kind;
        std::size_t bytes;
        if (TakeFault(kind, bytes)) {  // a failed host write (a shortened one fails too)
            DropDataPipes();
            return;
        }
        // A host that writes again has given up on any reply it did not read. It is still waiting for
        // this write to be taken, so it cannot be reading a reply withdrawn here.
        WithdrawReplies();
        if (&inst != out) {
            // A write on another OUT instance: the host has begun a new operation, and whatever the old
            // one left half done is void.
            device.HostClosed();
            out = &inst;
        }
        Message msg;
        if (!TakeMessage(inst, msg)) {
            Recycle(inst);
            return;
        }
        const std::size_t got = msg.size();
        {
            std::lock_guard g(lock);
            ++counters.hostWrites;
            counters.bytesOut += got;
            counters.packetsOut += UsbPackets(got);
        }
        std::vector<Message> answer;
        device.HostWrite(msg, answer);
        Pace(msg, answer);
        for (auto& m : answer)
            replies.push_back(std::move(m));
        inst.Arm();
    }

    void Pace(const Message& written, const std::vector<Message>& answer)
    {
        const std::uint32_t ms = paceMs.load();
        if (ms == 0)
            return;
        bool data = written.size() > kCommandBlockBytes;
        for (const Message& m : answer)
            data = data || m.size() > kCommandBlockBytes;
        if (data)
            WaitForSingleObject(stop.h, ms);  // a stop ends the wait at once
    }

    // Reads the message that waits whole in the pipe: one read of the longest message a host sends, and
    // for a longer one (which no host sends) a look at what is left and a second read. False when the
    // host has gone.
    bool TakeMessage(Instance& inst, Message& msg)
    {
        msg.resize(kLongestHostMessage);
        DWORD got = 0;
        DWORD error = ReadWaiting(inst, msg.data(), kLongestHostMessage, got);
        if (error == ERROR_MORE_DATA) {
            DWORD size = 0, left = 0;
            if (!PeekNamedPipe(inst.pipe, nullptr, 0, nullptr, &size, &left) || left == 0)
                return false;
            msg.resize(std::size_t{got} + left);
            DWORD rest = 0;
            error = ReadWaiting(inst, msg.data() + got, left, rest);
            if (rest != left)
                return false;
            got += rest;
        }
        if (error != ERROR_SUCCESS)
            return false;
        msg.resize(got);
        return true;
    }

    // One read on the instance's `op`; answers the read's error (ERROR_MORE_DATA: the message goes on).
    DWORD ReadWaiting(Instance& inst, std::uint8_t* data, DWORD size, DWORD& got)
    {
        got = 0;
        if (!ReadFile(inst.pipe, data, size, nullptr, &inst.op) && GetLastError() != ERROR_IO_PENDING &&
            GetLastError() != ERROR_MORE_DATA)
            return GetLastError();
        return GetOverlappedResult(inst.pipe, &inst.op, &got, TRUE) ? ERROR_SUCCESS : GetLastError();
    }

    // Starts the next reply write when the host can take it: one at a time, on the newest IN instance.
    // An instance whose host has gone refuses the write at once; it is recycled and the next one tried.
    void Pump()
    {
        if (replies.empty() || ins.empty())
            return;
        for (Instance* inst : ins)
            if (inst->writePending)
                return;
        FaultKind kind;
        std::size_t bytes;
        if (TakeFault(kind, bytes)) {
            if (kind == FaultKind::Fail) {
                DropDataPipes();
                return;
            }
            replies.front().resize(std::min(bytes, replies.front().size()));
        }
        while (!ins.empty()) {
            Instance& in = *ins.back();
            in.writing = std::move(replies.front());
            replies.pop_front();
            DWORD n;
            const bool started =
                WriteFile(in.pipe, in.writing.data(), static_cast<DWORD>(in.writing.size()), &n, &in.write) ||
                GetLastError() == ERROR_IO_PENDING;
            if (started) {
                in.writePending = true;
                return;
            }
            GiveBack(std::move(in.writing));
            Recycle(in);
            if (replies.empty())
                return;  // the host of this exchange has gone too
        }
    }

    void CountRead(DWORD bytes)
    {
        std::lock_guard g(lock);
        ++counters.hostReads;
        counters.bytesIn += bytes;
        counters.packetsIn += UsbPackets(bytes);
    }

    void OnWriteDone(Instance& inst)
    {
        DWORD n = 0;
        BOOL ok = GetOverlappedResult(inst.pipe, &inst.write, &n, FALSE);
        if (!ok || n != inst.writing.size()) {
            Recycle(inst);  // still pending: the piece goes back to the queue if its host is still there
            return;
        }
        inst.writePending = false;
        inst.writing.clear();
        CountRead(n);
    }

    void OnOpDone(Instance& inst)
    {
        DWORD n = 0;
        if (!inst.connected && inst.connectedAtOnce) {
            inst.opPending = false;
            OnConnected(inst);
            return;
        }
        BOOL ok = inst.opError ? FALSE : GetOverlappedResult(inst.pipe, &inst.op, &n, FALSE);
        DWORD err = inst.opError ? inst.opError : ok ? 0 : GetLastError();
        inst.opPending = false;
        inst.opError = 0;
        if (!inst.connected) {
            if (ok || err == ERROR_PIPE_CONNECTED)
                OnConnected(inst);
            else
                Recycle(inst);
            return;
        }
        if (inst.role == Role::Out && (err == ERROR_MORE_DATA || ok)) {
            if (ok) {  // an empty message: nothing to take
                inst.Arm();
                return;
            }
            OnHostWriteWaiting(inst);
            return;
        }
        if (ok || err == ERROR_MORE_DATA) {  // the host wrote where it never writes: ignore, keep waiting
            std::vector<char> sink(65536);
            DWORD got;
            if (ReadFile(inst.pipe, sink.data(), static_cast<DWORD>(sink.size()), &got, &inst.op) ||
                GetOverlappedResult(inst.pipe, &inst.op, &got, TRUE) || GetLastError() == ERROR_MORE_DATA) {
                inst.Arm();
                return;
            }
        }
        Recycle(inst);  // the host closed its end
    }

    void SetPlugged(bool on)
    {
        if (on == plugged)
            return;
        plugged = on;
        if (!on) {
            out = nullptr;
            ins.clear();
            replies.clear();
            device.HostClosed();
            instances.clear();
        } else {
            ListenAll();
        }
    }

    void RunRequests()
    {
        std::unique_lock g(lock);
        while (!requests.empty()) {
            auto fn = std::move(requests.front());
            requests.pop_front();
            g.unlock();
            fn();
            g.lock();
            ++requestsRun;
        }
        done.notify_all();
    }

    // Runs `fn` on the server thread and waits for it.
    void Call(std::function<void()> fn)
    {
        std::unique_lock g(lock);
        if (!thread.joinable()) {
            g.unlock();
            fn();
            return;
        }
        requests.push_back(std::move(fn));
        std::uint64_t ticket = ++requestsQueued;
        SetEvent(wake.h);
        done.wait(g, [&] { return requestsRun >= ticket; });
    }

    // Connections first (a host that opened its IN pipe before writing a command gets the reply on that
    // pipe), then finished replies (the host read them before it closed), then closes and host writes.
    void ProcessSignalled()
    {
        for (int pass = 0; pass < 3; ++pass) {
            for (std::size_t i = 0; i < instances.size(); ++i) {
                Instance& inst = *instances[i];
                bool isWrite = pass == 1;
                if (isWrite ? !inst.writePending : !inst.opPending || (pass == 0) == inst.connected)
                    continue;
                if (isWrite ? !inst.WriteMayBeDone() : !inst.OpMayBeDone())
                    continue;
                if (WaitForSingleObject(isWrite ? inst.write.hEvent : inst.op.hEvent, 0) != WAIT_OBJECT_0)
                    continue;
                if (isWrite)
                    OnWriteDone(inst);
                else
                    OnOpDone(inst);
            }
        }
    }

    void Loop()
    {
        std::vector<HANDLE> handles;
        for (;;) {
            handles.assign({stop.h, wake.h});
            for (auto& inst : instances) {
                if (inst->opPending)
                    handles.push_back(inst->op.hEvent);
                if (inst->writePending)
                    handles.push_back(inst->write.hEvent);
            }
            DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
            if (r == WAIT_OBJECT_0)
                break;
            if (r == WAIT_OBJECT_0 + 1) {
                ResetEvent(wake.h);
                RunRequests();
                Pump();
                continue;
            }
            if (r == WAIT_FAILED || r >= WAIT_OBJECT_0 + handles.size())
                continue;
            ProcessSignalled();
            Pump();
        }
        instances.clear();
        out = nullptr;
        ins.clear();
    }
};

WireServer::WireServer(std::string baseName, WireDevice& device)
    : impl_(std::make_unique<Impl>(std::move(baseName), device))
{}

WireServer::~WireServer()
{
    Stop();
}

bool WireServer::Start()
{
    if (impl_->thread.joinable())
        return true;
    if (!impl_->stop.h || !impl_->wake.h || !impl_->ListenAll()) {
        impl_->instances.clear();
        return false;
    }
    ResetEvent(impl_->stop.h);
    impl_->thread = std::thread([this] { impl_->Loop(); });
    return true;
}

void WireServer::Stop()
{
    if (!impl_->thread.joinable())
        return;
    SetEvent(impl_->stop.h);
    impl_->thread.join();
    // Wake any caller still waiting on a request.
    std::lock_guard g(impl_->lock);
    impl_->requestsRun = impl_->requestsQueued;
    impl_->requests.clear();
    impl_->done.notify_all();
}

std::string WireServer::InterfacePath() const
{
    return impl_->Name(Role::Interface);
}

void WireServer::InjectFault(FaultKind kind, std::uint64_t nth, std::size_t bytes)
{
    std::lock_guard g(impl_->lock);
    impl_->faultKind = kind;
    impl_->faultCountdown = nth;
    impl_->faultBytes = bytes;
}

void WireServer::ClearFault()
{
    InjectFault(FaultKind::Fail, 0);
}

void WireServer::Unplug()
{
    impl_->Call([this] { impl_->SetPlugged(false); });
}
void WireServer::Plug()
{
    impl_->Call([this] { impl_->SetPlugged(true); });
}

bool WireServer::SetPace(std::uint32_t milliseconds)
{
    if (milliseconds > kMaxPaceMs)
        return false;
    impl_->paceMs = milliseconds;
    return true;
}

bool WireServer::Plugged() const
{
    bool on = false;
    impl_->Call([&] { on = impl_->plugged; });
    return on;
}

WireCounters WireServer::Counters() const
{
    impl_->Call([this] { impl_->ProcessSignalled(); });  // count what the host has already done
    std::lock_guard g(impl_->lock);
    return impl_->counters;
}

void WireServer::ResetCounters()
{
    // What the host has already done belongs to the time before the reset.
    impl_->Call([this] { impl_->ProcessSignalled(); });
    std::lock_guard g(impl_->lock);
    impl_->counters = {};
}

std::string UniquePipeBaseName(const char* prefix)
{
    static std::atomic<unsigned> serial{0};
    return std::string(prefix) + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
}

}  // namespace sim
