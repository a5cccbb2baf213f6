// The simulator's pipe server, driven by plain Win32 pipe calls as the host's transport makes them.
#include "wire_server.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

namespace {

// Answers opcode 1 with one 64-byte reply and opcode 2 with three 18432-byte replies.
struct ScriptedDevice : sim::WireDevice {
    int closes = 0;
    void HostWrite(std::span<const std::uint8_t> m, std::vector<sim::Message>& r) override {
        if (m.size() != 64) return;
        if (m[0] == 1) r.emplace_back(64, 0xAB);
        if (m[0] == 2)
            for (int i = 0; i < 3; ++i) r.emplace_back(18432, static_cast<std::uint8_t>(i));
    }
    void HostClosed() override { ++closes; }
};

struct Handle {
    HANDLE h;
    explicit Handle(const std::string& path)
        : h(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr)) {}
    ~Handle() { if (h != INVALID_HANDLE_VALUE) CloseHandle(h); }
    bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

bool Write(const Handle& p, std::uint8_t opcode) {
    std::uint8_t block[64] = {opcode};
    DWORD n = 0;
    return WriteFile(p.h, block, 64, &n, nullptr) && n == 64;
}

DWORD Read(const Handle& p, std::vector<std::uint8_t>& into) {
    DWORD n = 0;
    return ReadFile(p.h, into.data(), static_cast<DWORD>(into.size()), &n, nullptr) ? n : 0;
}

class WireServerTest : public ::testing::Test {
protected:
    ScriptedDevice device;
    sim::WireServer server{sim::UniquePipeBaseName("wiretest"), device};
    std::string base;
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        base = server.InterfacePath();
    }
};

TEST_F(WireServerTest, ServesRepeatedOperationsWithTheirPresenceChecks) {
    std::vector<std::uint8_t> small(64), big(18432);
    for (int round = 0; round < 100; ++round) {
        for (int k = 0; k < 6; ++k) ASSERT_TRUE(Handle(base).ok()) << "round " << round;
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

TEST_F(WireServerTest, FaultsHitExactlyTheTransferNamed) {
    std::vector<std::uint8_t> reply(64);
    {   // the reply (second transfer) fails, and so does everything after it on those pipes
        Handle p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
        server.InjectFault(sim::FaultKind::Fail, 2);
        EXPECT_TRUE(Write(p0, 1));
        EXPECT_EQ(Read(p1, reply), 0u);
        EXPECT_FALSE(Write(p0, 1));
    }
    {   // a host write fails before the player takes it
        Handle p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
        server.InjectFault(sim::FaultKind::Fail, 1);
        EXPECT_FALSE(Write(p0, 1));
    }
    {   // a shortened reply
        Handle p0(base + "\\PIPE00"), p1(base + "\\PIPE01");
        server.InjectFault(sim::FaultKind::Shorten, 2, 63);
        EXPECT_TRUE(Write(p0, 1));
        EXPECT_EQ(Read(p1, reply), 63u);
    }
    {   // the plan is spent; a host that opens its IN pipe only after writing still gets its reply
        Handle p0(base + "\\PIPE00");
        EXPECT_TRUE(Write(p0, 1));
        Handle p1(base + "\\PIPE01");
        EXPECT_EQ(Read(p1, reply), 64u);
    }
    EXPECT_EQ(server.Counters().failedTransfers, 3u);
}

TEST_F(WireServerTest, StaleRepliesNeverReachTheNextOperation) {
    std::vector<std::uint8_t> big(18432), small(64);
    {   // the host reads one of three pieces and gives up
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

TEST_F(WireServerTest, UnpluggedPlayerIsNotThere) {
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
