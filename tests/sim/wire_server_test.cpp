// The simulator's pipe server, driven by plain Win32 pipe calls as the host's transport makes them.
#include "sim/wire_server.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Answers opcode 1 with one 64-byte reply and opcode 2 with three 18432-byte replies.
// Keeps the size and the last byte of every host message.
struct ScriptedDevice : sim::WireDevice {
    int closes = 0;
    std::mutex lock;
    std::vector<std::pair<std::size_t, std::uint8_t>> taken;
    void HostWrite(std::span<const std::uint8_t> m, std::vector<sim::Message>& r) override
    {
        {
            std::lock_guard g(lock);
            taken.emplace_back(m.size(), m.empty() ? 0 : m.back());
        }
        if (m.size() != 64)
            return;
        if (m[0] == 1)
            r.emplace_back(64, 0xAB);
        if (m[0] == 2)
            for (int i = 0; i < 3; ++i)
                r.emplace_back(18432, static_cast<std::uint8_t>(i));
    }
    void HostClosed() override { ++closes; }
};

struct Handle {
    HANDLE h;
    explicit Handle(const std::string& path)
        : h(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr))
    {}
    ~Handle()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

// The host's open: a pipe between instances answers "busy" for a moment, and the host waits for one.
HANDLE OpenAsHost(const std::string& path)
{
    for (int attempt = 0;; ++attempt) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE || attempt == 4 || GetLastError() != ERROR_PIPE_BUSY)
            return h;
        WaitNamedPipeA(path.c_str(), 2000);
    }
}

// One bracket of the host: every pipe opened after a presence check of the interface, in the host's
// order, and closed in the host's order at the end.
struct Bracket {
    HANDLE pipes[3];  // PIPE02, PIPE00, PIPE01
    explicit Bracket(const std::string& base)
    {
        const char* names[] = {"\\PIPE02", "\\PIPE00", "\\PIPE01"};
        for (int i = 0; i < 3; ++i) {
            HANDLE presence = OpenAsHost(base);
            if (presence != INVALID_HANDLE_VALUE)
                CloseHandle(presence);
            pipes[i] = OpenAsHost(base + names[i]);
        }
    }
    ~Bracket()
    {
        for (HANDLE h : pipes)
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
    }
    bool Open() const
    {
        return pipes[0] != INVALID_HANDLE_VALUE && pipes[1] != INVALID_HANDLE_VALUE && pipes[2] != INVALID_HANDLE_VALUE;
    }
    bool Write(std::uint8_t opcode) const
    {
        std::uint8_t block[64] = {opcode};
        DWORD n = 0;
        return WriteFile(pipes[1], block, 64, &n, nullptr) && n == 64;
    }
    DWORD Read(std::vector<std::uint8_t>& into) const
    {
        DWORD n = 0;
        return ReadFile(pipes[2], into.data(), static_cast<DWORD>(into.size()), &n, nullptr) ? n : 0;
    }
};

// Busy threads that compete with the server thread for the processors, so that it falls behind the host.
class Load {
public:
    explicit Load(unsigned threads)
    {
        for (unsigned i = 0; i < threads; ++i)
            workers_.emplace_back([this] {
                volatile std::uint64_t x = 0;
                while (!stop_.load(std::memory_order_relaxed))
                    x = x + 1;
            });
    }
    ~Load()
    {
        stop_ = true;
        for (auto& t : workers_)
            t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> workers_;
};

bool Write(const Handle& p, std::uint8_t opcode)
{
    std::uint8_t block[64] = {opcode};
    DWORD n = 0;
    return WriteFile(p.h, block, 64, &n, nullptr) && n == 64;
}

DWORD Read(const Handle& p, std::vector<std::uint8_t>& into)
{
    DWORD n = 0;
    return ReadFile(p.h, into.data(), static_cast<DWORD>(into.size()), &n, nullptr) ? n : 0;
}

class WireServerTest : public ::testing::Test {
protected:
    ScriptedDevice device;
    sim::WireServer server{sim::UniquePipeBaseName("wiretest"), device};
    std::string base;
    void SetUp() override
    {
        ASSERT_TRUE(server.Start());
        base = server.InterfacePath();
    }
};

TEST_F(WireServerTest, ServesRepeatedOperationsWithTheirPresenceChecks)
{
    std::vector<std::uint8_t> small(64), big(18432);
    for (int round = 0; round < 100; ++round) {
        for (int k = 0; k < 6; ++k)
            ASSERT_TRUE(Handle(base).ok()) << "round " << round;
        Handle p2(base + "\\PIPE02"), p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
        ASSERT_TRUE(p2.ok() && p0.ok() && p1.ok());
        ASSERT_TRUE(Write(p0, 1));
        ASSERT_EQ(Read(p1, small), 64u);
        EXPECT_EQ(small[0], 0xAB);
        ASSERT_TRUE(Write(p0, 2));
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(Read(p1, big), 18432u);
            EXPECT_EQ(big[0], i);
        }
    }
    auto c = server.Counters();
    EXPECT_EQ(c.hostWrites, 200u);
    EXPECT_EQ(c.hostReads, 400u);
    EXPECT_EQ(c.bytesOut, 200u * 64);
    EXPECT_EQ(c.bytesIn, 100u * (64 + 3 * 18432));
}

TEST_F(WireServerTest, HostMessagesOfEverySizeArriveWhole)
{
    // Around the longest message a host sends, and far past it.
    const std::size_t sizes[] = {1, 63, 18431, 18432, 18433, 70000};
    Handle p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
    ASSERT_TRUE(p0.ok() && p1.ok());
    for (std::size_t size : sizes) {
        std::vector<std::uint8_t> message(size, 0x11);
        message.back() = 0x5A;
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(p0.h, message.data(), static_cast<DWORD>(size), &n, nullptr) && n == size) << size;
    }
    // Messages are taken in order: once this one is answered, every one before it has been taken.
    ASSERT_TRUE(Write(p0, 1));
    std::vector<std::uint8_t> reply(64);
    ASSERT_EQ(Read(p1, reply), 64u);
    std::lock_guard g(device.lock);
    ASSERT_EQ(device.taken.size(), std::size(sizes) + 1);
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        EXPECT_EQ(device.taken[i].first, sizes[i]);
        EXPECT_EQ(device.taken[i].second, 0x5A) << sizes[i];
    }
}

TEST_F(WireServerTest, FaultsHitExactlyTheTransferNamed)
{
    std::vector<std::uint8_t> reply(64);
    {  // the reply (second transfer) fails, and so does everything after it on those pipes
        Handle p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
        server.InjectFault(sim::FaultKind::Fail, 2);
        EXPECT_TRUE(Write(p0, 1));
        EXPECT_EQ(Read(p1, reply), 0u);
        EXPECT_FALSE(Write(p0, 1));
    }
    {  // a host write fails before the player takes it
        Handle p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
        server.InjectFault(sim::FaultKind::Fail, 1);
        EXPECT_FALSE(Write(p0, 1));
    }
    {  // a shortened reply
        Handle p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
        server.InjectFault(sim::FaultKind::Shorten, 2, 63);
        EXPECT_TRUE(Write(p0, 1));
        EXPECT_EQ(Read(p1, reply), 63u);
    }
    {  // the plan is spent; a host that opens its IN pipe only after writing still gets its reply
        Handle p0(base + "\\PIPE00");
        EXPECT_TRUE(Write(p0, 1));
        Handle p1(base + "\\PIPE01");
        EXPECT_EQ(Read(p1, reply), 64u);
    }
    EXPECT_EQ(server.Counters().failedTransfers, 3u);
}

TEST_F(WireServerTest, StaleRepliesNeverReachTheNextOperation)
{
    std::vector<std::uint8_t> big(18432), small(64);
    {  // the host reads one of three pieces and gives up
        Handle p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
        ASSERT_TRUE(Write(p0, 2));
        ASSERT_EQ(Read(p1, big), 18432u);
    }
    Handle p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
    ASSERT_TRUE(Write(p0, 1));
    ASSERT_EQ(Read(p1, small), 64u);
    EXPECT_EQ(small[0], 0xAB);
    EXPECT_GE(device.closes, 1);
}

// A server that falls behind the host sees a finished operation's pipes and the next operation's pipes
// connected at one wake, in any order. The command after them must be served whole, whether the
// operation before it moved nothing or left replies unread, idle and under load alike.
TEST_F(WireServerTest, OperationRightAfterAnotherIsServedWhole)
{
    struct Before {
        const char* name;
        bool abandonsReplies;  // writes opcode 2 and reads one of its three replies
    };
    const Before cases[] = {{"empty operation", false}, {"abandoned replies", true}};
    std::vector<std::uint8_t> small(64), big(18432);
    for (const Before& before : cases)
        for (unsigned busy : {0u, 4u}) {
            Load load(busy);
            for (int round = 0; round < 50; ++round) {
                const auto where = ::testing::Message() << before.name << ", " << busy << " busy, round " << round;
                {
                    Bracket first(base);
                    ASSERT_TRUE(first.Open()) << where;
                    if (before.abandonsReplies) {
                        ASSERT_TRUE(first.Write(2)) << where;
                        ASSERT_EQ(first.Read(big), 18432u) << where;
                    }
                }
                Bracket bracket(base);
                ASSERT_TRUE(bracket.Open()) << where;
                ASSERT_TRUE(bracket.Write(1)) << where;
                ASSERT_EQ(bracket.Read(small), 64u) << where;
                EXPECT_EQ(small[0], 0xAB) << where;
            }
        }
    auto c = server.Counters();
    EXPECT_EQ(c.hostWrites, 300u);
    EXPECT_EQ(c.hostReads, 300u);
    EXPECT_EQ(c.failedTransfers, 0u);
}

// A safety net only: the server listens again as soon as it runs.
constexpr DWORD kInstanceWaitMs = 60000;

// A host may open an instance before the server has made its connect on it: the connect then finds the
// host there already, or gone again. Such a host is served like any other, and no instance is lost.
TEST_F(WireServerTest, HostsThatOpenBeforeTheServerConnectsAreServed)
{
    std::vector<std::uint8_t> small(64);
    const std::string outName = base + "\\PIPE00";
    for (int round = 0; round < 40 && !HasFatalFailure(); ++round) {
        const bool closesAtOnce = round % 2 == 0;
        const auto where = ::testing::Message() << "round " << round << (closesAtOnce ? ", closed at once" : "");
        // Every listening OUT instance is taken by a host that holds it. This host tries without pause, so
        // it takes the instance that replaces a released one the moment that is made.
        std::vector<std::unique_ptr<Handle>> held;
        for (auto h = std::make_unique<Handle>(outName); h->ok(); h = std::make_unique<Handle>(outName))
            held.push_back(std::move(h));
        ASSERT_FALSE(held.empty()) << where << ", error " << GetLastError();
        std::thread release([&] {
            Sleep(5);
            held.front().reset();
        });
        HANDLE out = INVALID_HANDLE_VALUE;
        for (DWORD start = GetTickCount(); out == INVALID_HANDLE_VALUE && GetTickCount() - start < 5000;)
            out = CreateFileA(outName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (closesAtOnce && out != INVALID_HANDLE_VALUE) {
            CloseHandle(out);
            out = INVALID_HANDLE_VALUE;
        }
        release.join();
        held.clear();
        if (closesAtOnce) {
            // Every instance this round took is closed now, and none listens until the server has seen
            // the closes. The next round takes every listening instance, so it first waits, as a careful
            // client does, until the server listens again.
            ASSERT_TRUE(WaitNamedPipeA(outName.c_str(), kInstanceWaitMs)) << where << ", error " << GetLastError();
            continue;
        }
        ASSERT_NE(out, INVALID_HANDLE_VALUE) << where;
        Handle in(base + "\\PIPE01");
        std::uint8_t block[64] = {1};
        DWORD n = 0;
        EXPECT_TRUE(WriteFile(out, block, 64, &n, nullptr)) << where << ", error " << GetLastError();
        EXPECT_EQ(Read(in, small), 64u) << where;
        CloseHandle(out);
    }
    Bracket bracket(base);
    ASSERT_TRUE(bracket.Open());
    ASSERT_TRUE(bracket.Write(1));
    EXPECT_EQ(bracket.Read(small), 64u);
    EXPECT_EQ(server.Counters().failedTransfers, 0u);
}

TEST_F(WireServerTest, UnpluggedPlayerIsNotThere)
{
    server.Unplug();
    EXPECT_FALSE(server.Plugged());
    EXPECT_FALSE(Handle(base).ok());
    EXPECT_FALSE(Handle(base + "\\PIPE00").ok());
    server.Plug();
    EXPECT_TRUE(Handle(base).ok());
    Handle p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
    std::vector<std::uint8_t> reply(64);
    ASSERT_TRUE(Write(p0, 1));
    EXPECT_EQ(Read(p1, reply), 64u);
}

}  // namespace
