// How data moves: chunking, the large-page repack, failures that close all three pipes, the
// driver lookup with no player, and the transport lock between brackets.
#include "tests/device/transport/recording_wire.h"

#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"
#include "device/transport/usb_descriptors.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

using namespace engine;
using wiretest::Block;
using wiretest::Bytes;

namespace {

bool AllPipesClosed(const DevicePipes& p)
{
    return !p.IsOpen(DevicePipes::kPipeUnused) && !p.IsOpen(DevicePipes::kPipeOut) && !p.IsOpen(DevicePipes::kPipeIn);
}

// Units whose bytes tell where they came from: data (i + 1), spare 0x80 | i, padding 0xEE.
Bytes NumberedUnits(std::size_t count)
{
    Bytes units(count * 576);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* u = units.data() + i * 576;
        std::memset(u, static_cast<int>(i + 1), 512);
        std::memset(u + 512, 0x80 | static_cast<int>(i & 0x7F), 16);
        std::memset(u + 528, 0xEE, 48);
    }
    return units;
}

}  // namespace

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Engine.CurrentModel = PlayerModel::Unknown;
        ASSERT_TRUE(player.Ok());
    }
    void TearDown() override { PlayerPipes.Close(); }

    wiretest::RecordedPlayer player;
};

TEST_F(TransferTest, ReadOfFortyUnitsIsThirtyTwoThenEight)
{
    player.device.SetResponder([](std::span<const std::uint8_t>, std::vector<sim::Message>& out) {
        out.emplace_back(32 * 576, 0x32);
        out.emplace_back(8 * 576, 0x08);
    });
    Bytes out(40 * 576);
    PlayerPipes.Open();
    player.server.ResetCounters();
    EXPECT_EQ(PlayerPipes.NandReadPages(1, 0, 0, 0, out, 40), 0);
    EXPECT_EQ(player.server.Counters().hostReads, 2u);
    EXPECT_EQ(out[32 * 576 - 1], 0x32);
    EXPECT_EQ(out[32 * 576], 0x08);
    EXPECT_EQ(out.back(), 0x08);
}

TEST_F(TransferTest, WriteOfFortyUnitsIsThirtyTwoThenEight)
{
    Bytes units = NumberedUnits(40);
    PlayerPipes.Open();
    ASSERT_EQ(PlayerPipes.NandBeginWrite(1, 0, 0, 0xFF00, 40, 0), 0);
    ASSERT_EQ(PlayerPipes.NandWriteData(units, 0), 0);
    std::vector<Bytes> m = player.device.WaitForMessages(3);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[1], Bytes(units.begin(), units.begin() + 18432));
    EXPECT_EQ(m[2], Bytes(units.begin() + 18432, units.end()));
}

TEST_F(TransferTest, LargePageRepack)
{
    // 256 units of 576 bytes become 64 chip pages of 2112: four data parts, then their four spares.
    Bytes units = NumberedUnits(256);
    PlayerPipes.Open();
    ASSERT_EQ(PlayerPipes.NandBeginWrite(1, 0, 0, 0x0000, 256, 1), 0);
    ASSERT_EQ(PlayerPipes.NandWriteData(units, 1), 0);
    std::vector<Bytes> m = player.device.WaitForMessages(1 + 8);
    ASSERT_EQ(m.size(), 1u + 8u);
    Bytes pages;
    for (std::size_t i = 1; i < m.size(); ++i) {
        ASSERT_EQ(m[i].size(), 16896u);
        pages.insert(pages.end(), m[i].begin(), m[i].end());
    }
    ASSERT_EQ(pages.size(), 135168u);
    for (std::size_t i = 0; i < 256; ++i) {
        const std::uint8_t* page = pages.data() + (i / 4) * 2112;
        std::size_t slot = i % 4;
        EXPECT_EQ(Bytes(page + slot * 512, page + slot * 512 + 512),
                  Bytes(units.begin() + i * 576, units.begin() + i * 576 + 512))
            << "data of unit " << i;
        EXPECT_EQ(Bytes(page + 2048 + slot * 16, page + 2048 + slot * 16 + 16),
                  Bytes(units.begin() + i * 576 + 512, units.begin() + i * 576 + 528))
            << "spare of unit " << i;
    }
}

TEST_F(TransferTest, LargePageRefusesPartialPages)
{
    // Five units cannot make whole chip pages; sending them would drop the fifth unit's spare.
    Bytes units = NumberedUnits(5);
    PlayerPipes.Open();
    ASSERT_EQ(PlayerPipes.NandBeginWrite(1, 0, 0, 0x0000, 5, 1), 0);
    EXPECT_EQ(PlayerPipes.NandWriteData(units, 1), 1);
    EXPECT_TRUE(AllPipesClosed(PlayerPipes));
    EXPECT_EQ(player.device.WaitForMessages(2, 300).size(), 1u);  // the header only
}

TEST_F(TransferTest, SpareRecordsComeInReadsOfSixtyFourBytes)
{
    player.device.SetResponder([](std::span<const std::uint8_t>, std::vector<sim::Message>& out) {
        for (int i = 0; i < 4; ++i)
            out.emplace_back(64, static_cast<std::uint8_t>(i));
    });
    Bytes out(256);
    PlayerPipes.Open();
    player.server.ResetCounters();
    EXPECT_EQ(PlayerPipes.NandReadSpare(4, out, 8, 2), 0);
    EXPECT_EQ(player.server.Counters().hostReads, 4u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[255], 3);
}

// A failed or short transfer in any phase closes all three pipes and answers 1; a 64-byte reply
// buffer is then zeroed.
TEST_F(TransferTest, FailedOrShortTransferClosesAllPipes)
{
    static DeviceInfoBlock info;
    static UsbTransferUnit unit;
    static Bytes pages(40 * 576), header(64), units = NumberedUnits(256);
    struct Case {
        const char* name;
        sim::FaultKind kind;
        std::uint64_t nth;
        std::size_t bytes;
        std::function<int()> send;
        int expected;
        std::uint8_t* replyBuffer;  // zeroed on failure, when not null
    } cases[] = {
        {"command block write fails", sim::FaultKind::Fail, 1, 0, [] { return PlayerPipes.ReadDeviceInfo(info); }, 1,
         reinterpret_cast<std::uint8_t*>(&info)},
        {"63-byte device information", sim::FaultKind::Shorten, 2, 63, [] { return PlayerPipes.ReadDeviceInfo(info); },
         1, reinterpret_cast<std::uint8_t*>(&info)},
        {"page read fails", sim::FaultKind::Fail, 2, 0, [] { return PlayerPipes.NandReadPage(1, 0, 0, 0, unit); }, 1,
         nullptr},
        {"second chunk of a read is short", sim::FaultKind::Shorten, 3, 100,
         [] { return PlayerPipes.NandReadPages(1, 0, 0, 0, pages, 40); }, 1, nullptr},
        {"page data write fails", sim::FaultKind::Fail, 2, 0,
         [] { return PlayerPipes.NandWritePage(1, 0, 0, 0, unit); }, 1, nullptr},
        {"third large-page write fails", sim::FaultKind::Fail, 3, 0, [] { return PlayerPipes.NandWriteData(units, 1); },
         1, nullptr},
        {"file header reply short", sim::FaultKind::Shorten, 2, 10,
         [] { return PlayerPipes.QueryFileHeader(0, 1, header); }, 1, header.data()},
        {"status block cannot be sent", sim::FaultKind::Fail, 1, 0, [] { return PlayerPipes.QueryStatusA0(); }, 1,
         nullptr},
        {"status reply cannot be read", sim::FaultKind::Fail, 2, 0, [] { return PlayerPipes.QueryStatusA0(); }, 10,
         nullptr},
    };
    player.device.SetResponder([](std::span<const std::uint8_t> m, std::vector<sim::Message>& out) {
        if (m.size() != 64)
            return;
        switch (m[0]) {
        case 0x02:
            out.emplace_back(32 * 576, 0xAB);
            out.emplace_back(8 * 576, 0xAB);
            break;
        case 0x06:
            out.emplace_back(576, 0xAB);
            break;
        default:
            out.emplace_back(64, 0xAB);
            break;
        }
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlayerPipes.Open();
        ASSERT_TRUE(PlayerPipes.IsOpen(DevicePipes::kPipeOut));
        if (c.replyBuffer)
            std::memset(c.replyBuffer, 0xCC, 64);
        player.server.InjectFault(c.kind, c.nth, c.bytes);
        EXPECT_EQ(c.send(), c.expected);
        EXPECT_TRUE(AllPipesClosed(PlayerPipes));
        if (c.replyBuffer) {
            EXPECT_EQ(Bytes(c.replyBuffer, c.replyBuffer + 64), Bytes(64, 0));
        }
        player.server.ClearFault();

        // The next sender of the same bracket reopens what it needs.
        EXPECT_EQ(PlayerPipes.ReadDeviceInfo(info), 0);
        EXPECT_EQ(info.modelId[0], '\xAB');
        PlayerPipes.Close();
    }
}

TEST_F(TransferTest, ProbeFindsThePlayer)
{
    EXPECT_EQ(PlayerPipes.Probe(), DevicePipes::kProbeAttached);
    EXPECT_EQ(PlayerPipes.IsPresent(), 1);
}

TEST(NoPlayerTest, DriverEnumerationFindsNothing)
{
    // No simulated player: the real driver enumeration runs and finds no interface.
    wiretest::ScopedPlayerPath path(std::nullopt);
    EXPECT_EQ(PlayerPipes.Probe(), DevicePipes::kProbeNoPlayer);
    EXPECT_EQ(PlayerPipes.IsPresent(), 0);
    DeviceInfoBlock info;
    std::memset(&info, 0xCC, sizeof info);
    PlayerPipes.Open();
    EXPECT_TRUE(AllPipesClosed(PlayerPipes));
    EXPECT_EQ(PlayerPipes.ReadDeviceInfo(info), 1);
    EXPECT_EQ(info.modelId[0], 0);
    PlayerPipes.Close();
}

TEST(NoPlayerTest, SimulatedPathThatIsMissingOrTooLong)
{
    const std::string missing = "\\\\.\\pipe\\kwep-nobody-serves-this";
    const std::string tooLong = "\\\\.\\pipe\\" + std::string(600, 'x');
    const std::string noRoomForPipeName = "\\\\.\\pipe\\" + std::string(DevicePipes::kPathBufferSize - 12, 'y');
    for (const std::string& value : {missing, tooLong, noRoomForPipeName}) {
        wiretest::ScopedPlayerPath path(value);
        EXPECT_EQ(PlayerPipes.Probe(), DevicePipes::kProbeNoPlayer) << value.size();
        PlayerPipes.Open();
        EXPECT_TRUE(AllPipesClosed(PlayerPipes));
        EXPECT_EQ(PlayerPipes.SendCommand(0x20), 1);
        PlayerPipes.Close();
    }
}

TEST(SimulatedPlayerVariableTest, SameNameAsTheSimulator)
{
    EXPECT_STREQ(kSimulatedPlayerVariable, sim::kPlayerPathVariable);
}

TEST(DescriptorWalkTest, BoundedByBytesAndLengths)
{
    // Configuration (9 bytes, total 32), interface (9), two endpoints (7 each).
    const Bytes good = {9, 2, 32, 0, 1,    1, 0,  0x80, 50, 9, 4, 0,    0, 2,  0xFF, 0,
                        0, 0, 7,  5, 0x81, 2, 64, 0,    0,  7, 5, 0x02, 2, 64, 0,    0};
    Bytes zeroLength = good;
    zeroLength[18] = 0;  // first endpoint claims length 0: the walk must not loop on it
    Bytes overrun = good;
    overrun[25] = 200;  // second endpoint runs past the bytes returned
    Bytes shortTotal = good;
    shortTotal[2] = 18;  // the set ends after the interface
    Bytes padded = good;
    padded[2] = 0xFF;     // a total larger than what came back
    padded.push_back(1);  // and one stray byte
    struct Case {
        const char* name;
        Bytes bytes;
        std::uint32_t interfaces, endpoints;
        bool wellFormed;
        // clang-format off
    } cases[] = {
        {"whole configuration", good, 1, 2, true},
        {"zero length", zeroLength, 1, 0, false},
        {"descriptor past the end", overrun, 1, 1, false},
        {"total length ends the walk", shortTotal, 1, 0, true},
        {"stray last byte", padded, 1, 2, false},
        {"nothing returned", {}, 0, 0, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        DescriptorWalk walk = WalkConfigurationDescriptor(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(walk.interfaces, c.interfaces) << c.name;
        EXPECT_EQ(walk.endpoints, c.endpoints) << c.name;
        EXPECT_EQ(walk.wellFormed, c.wellFormed) << c.name;
    }
}

// Two brackets on two threads: the second waits until the first has closed, so their blocks never
// interleave and the second's Close never closes the first's pipes.
TEST_F(TransferTest, BracketsOfTwoThreadsDoNotInterleave)
{
    HANDLE firstOpen = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(firstOpen, nullptr);
    int firstResults[2] = {-1, -1};
    int secondResult = -1;
    std::thread first([&] {
        PlayerPipes.Open();
        SetEvent(firstOpen);
        Sleep(200);  // the second thread tries its bracket meanwhile
        firstResults[0] = PlayerPipes.SendCommand(0x11);
        Sleep(50);
        firstResults[1] = PlayerPipes.SendCommand(0x12);
        PlayerPipes.Close();
    });
    std::thread second([&] {
        WaitForSingleObject(firstOpen, INFINITE);
        PlayerPipes.Open();
        secondResult = PlayerPipes.SendCommand(0x21);
        PlayerPipes.Close();
    });
    first.join();
    second.join();
    CloseHandle(firstOpen);
    EXPECT_EQ(firstResults[0], 0);
    EXPECT_EQ(firstResults[1], 0);
    EXPECT_EQ(secondResult, 0);
    std::vector<Bytes> m = player.device.WaitForMessages(3);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0][0], 0x11);
    EXPECT_EQ(m[1][0], 0x12);
    EXPECT_EQ(m[2][0], 0x21);
}

// The name of the lock that spans processes: no backslash, one name whatever the case of the path,
// different names for different players, and within the length of an object name.
TEST(TransportLockNameTest, NamedAfterThePlayerPath)
{
    const std::string longA = "\\\\.\\pipe\\" + std::string(400, 'a') + "1";
    const std::string longB = "\\\\.\\pipe\\" + std::string(400, 'a') + "2";
    const std::string paths[] = {"\\\\.\\pipe\\player-1",
                                 "\\\\.\\PIPE\\Player-1",
                                 "\\\\.\\pipe\\player-2",
                                 "\\\\?\\usb#vid_1234&pid_5678#0001#{4c6edc82-1751-11d3-871e-00105a612537}",
                                 longA,
                                 longB,
                                 ""};
    std::vector<std::string> names;
    for (const std::string& path : paths) {
        names.push_back(TransportLockName(path.c_str()));
        EXPECT_EQ(names.back().find('\\'), std::string::npos) << path;
        EXPECT_LE(names.back().size(), 200u) << path;
        EXPECT_FALSE(names.back().empty()) << path;
    }
    EXPECT_EQ(names[0], names[1]);
    for (std::size_t i = 2; i < names.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_NE(names[i], names[j]) << i << " " << j;
}
