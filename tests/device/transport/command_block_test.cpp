// What goes on the wire: every command block byte for byte, the data phases that follow them, and
// the CRC that card writes carry.
#include "tests/device/transport/recording_wire.h"

#include "device/transport/crc16_xmodem.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

using namespace engine;
using wiretest::Block;
using wiretest::Bytes;

TEST(Crc16XmodemTest, CheckValues)
{
    const std::string text = "123456789";
    const Bytes zeros(512, 0x00), ones(512, 0xFF);
    struct Case {
        const char* name;
        const std::uint8_t* data;
        std::size_t size;
        std::uint16_t crc;
        // clang-format off
    } cases[] = {
        {"123456789", reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), 0x31C3},
        {"512 x 00", zeros.data(), zeros.size(), 0x0000},
        {"512 x FF", ones.data(), ones.size(), 0x7FA1},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(Crc16Xmodem(c.data, c.size), c.crc) << c.name;
}

namespace {

struct LayoutCase {
    const char* name;
    std::function<int(DevicePipes&)> send;
    Bytes block;                         // the command block expected first
    std::vector<std::size_t> replies;    // what the player answers, one host read each
    std::vector<std::size_t> dataPhase;  // sizes of the host messages expected after the block
};

}  // namespace

class CommandBlockLayoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Engine.CurrentModel = PlayerModel::Unknown;
        ASSERT_TRUE(player.Ok());
    }
    void TearDown() override { Engine.CurrentModel = PlayerModel::Unknown; }

    wiretest::RecordedPlayer player;
};

TEST_F(CommandBlockLayoutTest, EveryOpcode)
{
    static std::uint8_t buffer[32 * 576];
    static DeviceInfoBlock info;
    static UsbTransferUnit unit;
    static std::uint8_t status;
    const Bytes sectorZeros(512, 0x00), sectorOnes(512, 0xFF), twoSectors(1024, 0x5A);
    const Bytes units32(32 * 576, 0x11), units256(256 * 576, 0x22);

    const LayoutCase cases[] = {
        {"0x01 device info", [](DevicePipes& p) { return p.ReadDeviceInfo(info); }, Block({{0, 0x01}}, true), {64}, {}},
        {"0x02 read pages",
         [](DevicePipes& p) { return p.NandReadPages(0x04, 0x00, 0x20, 0x0105, buffer, 1); },
         Block({{0, 0x02}, {1, 0x04}, {3, 0x20}, {4, 0x05}, {5, 0x01}}, true),
         {576},
         {}},
        {"0x03 write page",
         [](DevicePipes& p) { return p.NandWritePage(0x02, 0x07, 0x10, 0xFF05, unit); },
         Block({{0, 0x03}, {1, 0x02}, {2, 0x07}, {3, 0x10}, {4, 0x05}, {5, 0xFF}}, false),
         {},
         {576}},
        {"0x04 erase",
         [](DevicePipes& p) { return p.NandEraseBlock(0x01, 0x00, 0x40, 0x0203, status); },
         Block({{0, 0x04}, {1, 0x01}, {3, 0x40}, {4, 0x03}, {5, 0x02}}, true),
         {64},
         {}},
        {"0x06 read page",
         [](DevicePipes& p) { return p.NandReadPage(0x80, 0x00, 0xFF, 0x0FFF, unit); },
         Block({{0, 0x06}, {1, 0x80}, {3, 0xFF}, {4, 0xFF}, {5, 0x0F}}, true),
         {576},
         {}},
        {"0x07 read spare",
         [](DevicePipes& p) { return p.NandReadSpare(0x08, buffer, 8, 2); },
         Block({{0, 0x07}, {1, 0x08}}, true),
         {64, 64, 64, 64},
         {}},
        {"0x08 block write, 32 pages",
         [&](DevicePipes& p) {
             int header = p.NandBeginWrite(0x01, 0, 0x20, 0xFF03, 32, 0);
             int data = p.NandWriteData(units32, 0);
             return header | data | p.NandEndWrite();
         },
         Block({{0, 0x08}, {1, 0x01}, {3, 0x20}, {4, 0x03}, {5, 0xFF}, {6, 0x48}}, false),
         {},
         {18432}},
        {"0x30 large-page block write, 256 pages",
         [&](DevicePipes& p) {
             int header = p.NandBeginWrite(0x02, 0, 0, 0x0007, 256, 1);
             int data = p.NandWriteData(units256, 1);
             return header | data | p.NandEndWrite();
         },
         Block({{0, 0x30}, {1, 0x02}, {4, 0x07}, {6, 0x10}, {8, 0x02}}, false),
         {},
         {16896, 16896, 16896, 16896, 16896, 16896, 16896, 16896}},
        {"0x20 prepare format", [](DevicePipes& p) { return p.SendCommand20(); }, Block({{0, 0x20}}, true), {}, {}},
        {"0xA0 status", [](DevicePipes& p) { return p.QueryStatusA0(); }, Block({{0, 0xA0}}, true), {64}, {}},
        {"0xAA file header",
         [](DevicePipes& p) { return p.QueryFileHeader(1, 0x1234, buffer); },
         Block({{0, 0xAA}, {1, 0x01}, {2, 0x34}, {3, 0x12}}, false),
         {64},
         {}},
        {"0xAC media change",
         [](DevicePipes& p) { return p.AcknowledgeMediaChange(); },
         Block({{0, 0xAC}}, true),
         {},
         {}},
        {"card 17 read",
         [](DevicePipes& p) { return p.CardReadSector(0x01020304, buffer); },
         Block({{0, 17}, {1, 0x01}, {2, 0x02}, {3, 0x03}, {4, 0x04}}, false),
         {512},
         {}},
        {"card 18 read run",
         [](DevicePipes& p) { return p.CardReadSectors(0x10, buffer, 3); },
         Block({{0, 18}, {4, 0x10}}, false),
         {1536},
         {}},
        {"card 24 write, zeros",
         [&](DevicePipes& p) { return p.CardWriteSector(5, sectorZeros); },
         Block({{0, 24}, {4, 0x05}, {5, 0x00}, {6, 0x00}}, false),
         {},
         {512}},
        {"card 24 write, ones",
         [&](DevicePipes& p) { return p.CardWriteSector(0x00010000, sectorOnes); },
         Block({{0, 24}, {2, 0x01}, {5, 0x7F}, {6, 0xA1}}, false),
         {},
         {512}},
        {"card 25 write run",
         [&](DevicePipes& p) { return p.CardWriteSectors(7, twoSectors, 2); },
         Block({{0, 25}, {4, 0x07}}, false),
         {},
         {1024}},
        {"card 38 erase",
         [](DevicePipes& p) { return p.CardErase(0x00ABCDEF); },
         Block({{0, 38}, {2, 0xAB}, {3, 0xCD}, {4, 0xEF}}, false),
         {},
         {}},
    };

    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::size_t> replies = c.replies;
        player.device.SetResponder([replies](std::span<const std::uint8_t> m, std::vector<sim::Message>& out) {
            if (m.size() == 64)
                for (std::size_t size : replies)
                    out.emplace_back(size, 0);
        });
        player.device.ClearMessages();
        PlayerPipes.Open();
        int result = c.send(PlayerPipes);
        PlayerPipes.Close();
        EXPECT_EQ(result, 0);
        std::vector<Bytes> messages = player.device.WaitForMessages(1 + c.dataPhase.size());
        ASSERT_EQ(messages.size(), 1 + c.dataPhase.size());
        EXPECT_EQ(messages[0], c.block);
        for (std::size_t i = 0; i < c.dataPhase.size(); ++i)
            EXPECT_EQ(messages[1 + i].size(), c.dataPhase[i]) << "data message " << i;
    }
}

// The first model's firmware takes no repacked pages: 0x08 with 576-byte units, sent unchanged.
TEST_F(CommandBlockLayoutTest, FirstModelNeverUsesLargePages)
{
    Engine.CurrentModel = PlayerModel::KWEP_4;
    Bytes units(256 * 576);
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<std::uint8_t>(i * 7);
    PlayerPipes.Open();
    EXPECT_EQ(PlayerPipes.NandBeginWrite(0x01, 0, 0, 0x0002, 256, 1), 0);
    EXPECT_EQ(PlayerPipes.NandWriteData(units, 1), 0);
    PlayerPipes.Close();
    std::vector<Bytes> messages = player.device.WaitForMessages(1 + 8);
    ASSERT_EQ(messages.size(), 1u + 8u);
    // 256 x 576 = 147456 = 0x024000.
    EXPECT_EQ(messages[0], Block({{0, 0x08}, {1, 0x01}, {4, 0x02}, {6, 0x40}, {8, 0x02}}, false));
    Bytes sent;
    for (std::size_t i = 1; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].size(), 18432u);
        sent.insert(sent.end(), messages[i].begin(), messages[i].end());
    }
    EXPECT_EQ(sent, units);
}
