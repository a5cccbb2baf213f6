// Identification of the player from its information block: model, firmware rules, root count, the
// chip scan with the card slot, the sector card's figures, and the single-command operations.
#include "tests/device/transport/recording_wire.h"
#include "tests/device/api/player/scripted_info.h"

#include "device/api/player/player_device.h"
#include "device/flash/nand_chip.h"
#include "device/fs/engine_status.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace engine;
using playertest::InfoBytes;
using wiretest::Bytes;

TEST(IdentifyModelTest, FirstMatchingPrefixWins)
{
    struct Case {
        const char* id;
        PlayerModel model;
        // clang-format off
    } cases[] = {
        {"KWEP-1", PlayerModel::KWEP_1},     {"KWEP-1X  v2", PlayerModel::KWEP_1}, {"KWEP-2", PlayerModel::KWEP_2},
        {"KWEP-3", PlayerModel::KWEP_3},     {"KWEP-4", PlayerModel::KWEP_4},      {"KWEP-5", PlayerModel::KWEP_5},
        {"KWEP-6", PlayerModel::KWEP_6},     {"KWEP07", PlayerModel::KWEP07},      {"KWEP08", PlayerModel::KWEP08},
        {"TN510", PlayerModel::TN510},       {"TN520", PlayerModel::TN520},        {"KWEP 9", PlayerModel::TN520},
        {"KWEP 9 PLUS", PlayerModel::TN520}, {"TN530", PlayerModel::TN530},        {"TN540", PlayerModel::TN540},
        {"TN550", PlayerModel::TN550},       {"BRIX", PlayerModel::BRIX},          {"SQ-21", PlayerModel::SQ21},
        {"SQ-22", PlayerModel::SQ22},        {"kwep-1", PlayerModel::Unknown},     {"KWEP-", PlayerModel::Unknown},
        {"TN52", PlayerModel::Unknown},      {"KWEP-7", PlayerModel::Unknown},     {"", PlayerModel::Unknown},
        {" TN510", PlayerModel::Unknown},
    };
    // clang-format on
    PlayerDevice device;
    for (const Case& c : cases) {
        Engine.CurrentModel = PlayerModel::SQ22;
        device.IdentifyModel(c.id);
        EXPECT_EQ(device.GetModel(), c.model) << '"' << c.id << '"';
    }
}

namespace {

// Sets a CSD field bit by bit, as the register is laid out: w[0] holds bits 127..96.
void SetCsdField(std::array<std::uint32_t, 4>& w, unsigned start, unsigned width, std::uint32_t value)
{
    for (unsigned i = 0; i < width; ++i) {
        unsigned bit = start + i;
        std::uint32_t& word = w[3 - bit / 32];
        std::uint32_t mask = 1u << (bit % 32);
        word = (value >> i) & 1 ? word | mask : word & ~mask;
    }
}

std::uint32_t CsdFieldBitByBit(const std::array<std::uint32_t, 4>& w, unsigned start, unsigned width)
{
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
        unsigned bit = start + i;
        value |= ((w[3 - bit / 32] >> (bit % 32)) & 1u) << i;
    }
    return value;
}

}  // namespace

TEST(ReadCsdBitsTest, FieldsInsideAndAcrossWords)
{
    const std::array<std::uint32_t, 4> w = {0x8E0F3259, 0xC3A17B04, 0x5D96E0F1, 0x2B7C48DA};
    struct Field {
        unsigned start, width;
    } fields[] = {{80, 4}, {47, 3}, {62, 12}, {26, 3}, {0, 32}, {96, 32}, {30, 4}, {127, 1}, {100, 28}, {1, 31}};
    for (const Field& f : fields)
        EXPECT_EQ(ReadCsdBits(w, f.start, f.width), CsdFieldBitByBit(w, f.start, f.width)) << f.start << "/" << f.width;
    // Fields that do not lie inside the register, or are wider than a word.
    EXPECT_EQ(ReadCsdBits(w, 120, 16), 0u);
    EXPECT_EQ(ReadCsdBits(w, 128, 1), 0u);
    EXPECT_EQ(ReadCsdBits(w, 0, 33), 0u);
    EXPECT_EQ(ReadCsdBits(w, 5, 0), 0u);
}

class ScriptedPlayerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(player.Ok()); }
    void TearDown() override { PlayerPipes.Close(); }

    std::uint32_t Identify(const InfoBytes& info)
    {
        player.device.SetResponder(playertest::Identification(info));
        player.device.ClearMessages();
        DeviceInfoBlock block;
        return device.Initialize(block);
    }

    // Opcodes of the blocks the host sent (data messages left out).
    std::vector<std::uint8_t> OpcodesSent()
    {
        std::vector<std::uint8_t> ops;
        for (const Bytes& m : player.device.Messages())
            if (m.size() == 64)
                ops.push_back(m[0]);
        return ops;
    }

    wiretest::RecordedPlayer player;
    PlayerDevice device;
};

TEST_F(ScriptedPlayerTest, RootEntryCount)
{
    struct Case {
        const char* model;
        std::uint16_t count;
        std::uint32_t entries;
    } cases[] = {
        {"TN510", 0x0000, 256},
        {"TN510", 0xFFFF, 256},
        {"TN510", 0x6F78, 256},  // "xo": the echoed signature
        {"TN510", 512, 512},
        {"TN510", 16, 16},
        {"TN510", 4096, 4096},
        // Counts that are no whole number of sectors, or more than an erase block holds.
        {"TN510", 5, 256},
        {"TN510", 0xFFF0, 256},
        {"TN510", 4112, 256},
        // Models with a fixed root.
        {"KWEP-1", 512, 256},
        {"KWEP07", 512, 256},
        {"QX-900", 512, 256},
        {"KWEP-4", 512, 512},
        {"KWEP08", 1024, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.model << " " << c.count);
        ASSERT_EQ(Identify(InfoBytes(c.model, "0100").Root(c.count)), 0u);
        EXPECT_EQ(Engine.InternalRootEntries, c.entries);
        EXPECT_EQ(Engine.InternalRootSectors, c.entries / 16);
        bool folderObjects = device.UsesFolderObjects();
        EXPECT_EQ(Engine.InternalFolderEntries, folderObjects ? c.entries : 0u);
        EXPECT_EQ(Engine.ExternalRootEntries, 256u);
        EXPECT_EQ(Engine.ExternalFolderEntries, folderObjects ? 256u : 0u);
    }
}

TEST_F(ScriptedPlayerTest, FirmwareRules)
{
    struct Case {
        const char* model;
        const char* firmware;
        std::uint32_t on;
        std::int32_t depth;
        std::uint32_t header, badBlockByteIgnored;
        // clang-format off
    } cases[] = {
        {"KWEP-2", "0216", 1, 1, 1, 1}, {"KWEP-2", "1216", 1, 1, 1, 1}, {"KWEP-2", "1300", 1, 1, 1, 1},
        {"KWEP-2", "N100", 1, 1, 1, 1}, {"KWEP-2", "1215", 0, 0, 0, 1}, {"KWEP-2", "0300", 0, 0, 0, 1},
        {"KWEP-2", "0215", 0, 0, 0, 1}, {"TN540", "1.00", 1, -1, 1, 1}, {"TN540", "1.07", 1, -1, 1, 1},
        {"TN540", "1.08", 1, -1, 1, 0}, {"TN550", "1.05", 1, -1, 1, 1}, {"TN550", "0100", 1, -1, 1, 0},
        {"TN530", "0100", 1, -1, 1, 1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.model << " " << c.firmware);
        ASSERT_EQ(Identify(InfoBytes(c.model, c.firmware)), 0u);
        EXPECT_EQ(Engine.FolderSchemeOn, c.on);
        EXPECT_EQ(Engine.FolderDepthLimit, c.depth);
        EXPECT_EQ(Engine.HeaderQueryAllowed, c.header);
        EXPECT_EQ(Engine.BadBlockByteIgnored, c.badBlockByteIgnored);
        EXPECT_STREQ(device.FirmwareVersion(), c.firmware);
    }
}

TEST_F(ScriptedPlayerTest, NFirmwareSendsIdsComplemented)
{
    // (0xEC, 0xE6) arrives as 0x1913; (0xEC, 0x75) as 0x8A13.
    for (const char* firmware : {"N100", "0100"}) {
        SCOPED_TRACE(firmware);
        bool n = firmware[0] == 'N';
        ASSERT_EQ(Identify(InfoBytes("TN510", firmware).Word(0, 0x1913).Word(1, 0).Word(2, 0xFFFF).Word(3, 0x8A13)),
                  0u);
        EXPECT_EQ(NandChips[0].present, n ? 1 : 0);
        EXPECT_EQ(NandChips[1].present, 0);
        EXPECT_EQ(NandChips[2].present, 0);
        EXPECT_EQ(NandChips[3].present, n ? 1 : 0);
        if (n) {
            EXPECT_EQ(NandChips[0].rowCount, 64);
            EXPECT_EQ(NandChips[0].sectorsPerBlock, 16);
            EXPECT_EQ(NandChips[3].rowCount, 256);
        }
        EXPECT_EQ(Engine.InternalBlockCount, n ? 1024u + 2048u : 0u);
    }
}

TEST_F(ScriptedPlayerTest, ChipScanAndCardSlot)
{
    struct Case {
        const char* name;
        InfoBytes info;
        std::uint32_t chipCount, blocks, largePage;
        std::uint8_t presentMask;  // internal chips found
        bool card;
        std::uint32_t cardBlocks;
        std::uint8_t cardSelect;
    } cases[] = {
        {"unknown model: seven slots, card after them",
         InfoBytes("QX-900", "0100")
             .Chip(0, 0xEC, 0x75)
             .Chip(1, 0xEC, 0x99)
             .Chip(2, 0x98, 0xDA)
             .Chip(6, 0x45, 0xE6)
             .Chip(7, 0xEC, 0x75)
             .Byte(56, 0x03),
         7, 2048 + 2048 + 1024, 1, 0x45, true, 2048, 0x80},
        {"large-page chip in the card slot is no card",
         InfoBytes("QX-900", "0100").Chip(0, 0xEC, 0xE6).Chip(7, 0xEC, 0xDA), 7, 1024, 0, 0x01, false, 0, 0},
        {"one-chip model: slot 1 is the card",
         InfoBytes("KWEP-5", "0100").Chip(0, 0xEC, 0x73).Chip(1, 0x98, 0xE6).Chip(2, 0xEC, 0x75), 1, 1024, 0, 0x01,
         true, 1024, 0x02},
        {"four-chip model", InfoBytes("KWEP-3", "0100").Chip(3, 0xEC, 0x73).Chip(4, 0xEC, 0x73).Chip(5, 0xEC, 0x75), 4,
         1024, 0, 0x08, true, 1024, 0x10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The scripted card slot holds an erased chip with no card information: its mount fails, which
        // ends identification with that code after every chip has been scanned.
        EXPECT_EQ(Identify(c.info), c.card ? std::uint32_t{kStatusMbrError} : std::uint32_t{kStatusOk});
        EXPECT_EQ(Engine.ChipCount, c.chipCount);
        EXPECT_EQ(Engine.InternalBlockCount, c.blocks);
        EXPECT_EQ(Engine.LargePageFlag, c.largePage);
        for (std::uint32_t i = 0; i < 7; ++i) {
            bool expected = (c.presentMask >> i) & 1;
            EXPECT_EQ(NandChips[i].present, expected ? 1 : 0) << "chip " << i;
            if (expected) {
                EXPECT_EQ(NandChips[i].chipSelect, 1u << i);
                EXPECT_EQ(NandChips[i].pipes, &PlayerPipes);
                EXPECT_TRUE(NandChips[i].IsBlockUnused()) << "spare table loaded";
            }
        }
        EXPECT_EQ(CardChip.present, c.card ? 1 : 0);
        EXPECT_EQ(Engine.CardBlockCount, c.cardBlocks);
        if (c.card) {
            EXPECT_EQ(CardChip.chipSelect, c.cardSelect);
            EXPECT_EQ(CardChip.largePage, 0u);
        }
        EXPECT_FALSE(PlayerPipes.IsOpen(DevicePipes::kPipeOut));
    }
    // The card's write-protect bit comes with the card.
    EXPECT_EQ(Identify(InfoBytes("QX-900", "0100").Chip(7, 0xEC, 0x75).Byte(56, 0x01)), std::uint32_t{kStatusMbrError});
    EXPECT_EQ(Engine.CardWriteProtect, 1u);
}

TEST_F(ScriptedPlayerTest, SpareTableLoadFailureEndsIdentification)
{
    player.device.SetResponder(
        playertest::Identification(InfoBytes("TN510", "0100").Chip(0, 0xEC, 0x75).Chip(1, 0xEC, 0x75)));
    // Transfers: 1 the information request, 2 its reply, 3 chip 0's spare request, 4 onwards its 512
    // records: the tenth fails inside chip 0's table.
    player.server.InjectFault(sim::FaultKind::Fail, 10);
    DeviceInfoBlock block;
    EXPECT_EQ(device.Initialize(block), 4u);
    player.server.ClearFault();
    EXPECT_FALSE(PlayerPipes.IsOpen(DevicePipes::kPipeOut));
    EXPECT_FALSE(PlayerPipes.IsOpen(DevicePipes::kPipeIn));
    EXPECT_EQ(device.GetModel(), PlayerModel::TN510);
    EXPECT_EQ(NandChips[0].present, 1);  // chips scanned so far stay marked
    EXPECT_EQ(NandChips[1].present, 0);
}

TEST_F(ScriptedPlayerTest, SectorCardModels)
{
    std::array<std::uint32_t, 4> csd{};
    SetCsdField(csd, 80, 4, 9);      // READ_BL_LEN
    SetCsdField(csd, 47, 3, 7);      // C_SIZE_MULT
    SetCsdField(csd, 62, 12, 2047);  // C_SIZE
    InfoBytes base("SQ-22", "0100");
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b)
            base.Byte(40 + 4 * i + b, static_cast<std::uint8_t>(csd[i] >> (8 * b)));

    struct Case {
        const char* name;
        InfoBytes info;
        std::uint32_t present;
        bool unformatted, acknowledged;
        // clang-format off
    } cases[] = {
        {"present, changed, mountable", InfoBytes(base).Byte(58, 1).Byte(57, 1).Byte(59, 1), 1, false, true},
        {"present, unformatted", InfoBytes(base).Byte(58, 1).Byte(59, 0), 1, true, false},
        {"absent: nothing acknowledged", InfoBytes(base).Byte(58, 0).Byte(57, 1).Byte(60, 1), 0, false, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Identify(c.info), 0u);
        EXPECT_EQ(device.GetModelGroupFlag(), 1u);
        EXPECT_EQ(Engine.CardPresent, c.present);
        EXPECT_EQ(device.CardUnformatted(), c.unformatted);
        EXPECT_EQ(Engine.CardCapacityBytes, 2048u * 512 * 512);
        player.device.WaitForMessages(c.acknowledged ? 2 : 1);
        std::vector<std::uint8_t> sent = OpcodesSent();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(std::find(sent.begin(), sent.end(), 0xAC) != sent.end(), c.acknowledged);
    }
    // "N" firmware reads the card's presence from byte 60.
    InfoBytes n = InfoBytes(base).Byte(58, 0).Byte(60, 1).Byte(59, 1);
    std::memcpy(n.bytes.data() + 12, "N120", 4);
    ASSERT_EQ(Identify(n), 0u);
    EXPECT_EQ(Engine.CardPresent, 1u);
}

TEST_F(ScriptedPlayerTest, CardCapacityFromTheCsd)
{
    struct Case {
        std::uint32_t size, multiplier, blockLength, bytes;
        // clang-format off
    } cases[] = {
        {2047, 7, 9, 536870912u},
        {3959, 5, 9, 259522560u},
        {0, 0, 0, 4u},
        {4095, 7, 11, 0xFFFFFFFFu},  // 4 GB does not fit: the largest figure instead of 0
    };
    // clang-format on
    for (const Case& c : cases) {
        std::array<std::uint32_t, 4> csd{};
        SetCsdField(csd, 80, 4, c.blockLength);
        SetCsdField(csd, 47, 3, c.multiplier);
        SetCsdField(csd, 62, 12, c.size);
        InfoBytes info("BRIX", "0100");
        for (int i = 0; i < 4; ++i)
            for (int b = 0; b < 4; ++b)
                info.Byte(40 + 4 * i + b, static_cast<std::uint8_t>(csd[i] >> (8 * b)));
        ASSERT_EQ(Identify(info), 0u);
        EXPECT_EQ(Engine.CardCapacityBytes, c.bytes) << c.size << "/" << c.multiplier << "/" << c.blockLength;
    }
}

TEST_F(ScriptedPlayerTest, PollMediaChange)
{
    struct Case {
        const char* model;
        std::uint8_t changed;
        bool acknowledged;
    } cases[] = {{"TN520", 1, true}, {"TN520", 0, false}, {"TN510", 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        ASSERT_EQ(Identify(InfoBytes(c.model, "0100")), 0u);
        player.device.SetResponder(playertest::Identification(InfoBytes(c.model, "0100").Byte(57, c.changed)));
        player.device.ClearMessages();
        EXPECT_EQ(device.PollMediaChange(), c.changed);
        player.device.WaitForMessages(c.acknowledged ? 2 : 1);
        std::vector<std::uint8_t> expected = {0x01};
        if (c.acknowledged)
            expected.push_back(0xAC);
        EXPECT_EQ(OpcodesSent(), expected);
    }
    // A failed read reports no change.
    player.server.InjectFault(sim::FaultKind::Fail, 2);
    EXPECT_EQ(device.PollMediaChange(), 0);
    player.server.ClearFault();
}

TEST_F(ScriptedPlayerTest, SingleCommandOperations)
{
    ASSERT_EQ(Identify(InfoBytes("TN510", "0100")), 0u);
    player.device.ClearMessages();
    EXPECT_EQ(device.PrepareFormat(), 0u);
    std::vector<Bytes> m = player.device.WaitForMessages(1);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0], wiretest::Block({{0, 0x20}}, true));

    std::uint8_t header[64];
    std::memset(header, 0xCC, sizeof header);
    player.device.ClearMessages();
    EXPECT_EQ(device.QueryFileHeader(1, 0x0203, header), 0u);
    m = player.device.WaitForMessages(1);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0], wiretest::Block({{0, 0xAA}, {1, 0x01}, {2, 0x03}, {3, 0x02}}, false));
    EXPECT_EQ(header[0], 0);

    EXPECT_EQ(device.QueryFileHeader(0, 1, nullptr), 9u);
    player.server.InjectFault(sim::FaultKind::Fail, 2);
    EXPECT_EQ(device.QueryFileHeader(0, 1, header), 4u);
    player.server.ClearFault();
    EXPECT_FALSE(PlayerPipes.IsOpen(DevicePipes::kPipeOut));

    ASSERT_EQ(Identify(InfoBytes("KWEP-1", "0100")), 0u);
    EXPECT_EQ(device.QueryFileHeader(0, 1, header), 9u);
}

TEST(CancelOperationTest, SetFromAnotherThread)
{
    PlayerDevice device;
    Engine.CancelRequested.store(0);
    std::thread([&device] { device.CancelOperation(); }).join();
    EXPECT_EQ(Engine.CancelRequested.load(), 1u);
    Engine.CancelRequested.store(0);
}
