// Identification of every model against the simulated player, which builds its information block
// and answers the chip scan from its own reading of the protocol.
#include "tests/device/transport/recording_wire.h"

#include "device/api/player/player_device.h"
#include "device/flash/nand_chip.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"

#include "sim/simulated_player.h"

#include <gtest/gtest.h>

#include <map>

using namespace engine;

namespace {

// What the model table says, written out here on its own.
struct ModelRow {
    int model;
    std::uint32_t chips;
    bool rootFromInfo;
    std::uint32_t schemeOn;
    std::int32_t depth;
    std::uint32_t headerQuery;
    bool sectorCard;
    bool noMediaPoll;
    const char* firmware;
    std::uint32_t badBlockByteIgnored;
};

// clang-format off
constexpr ModelRow kRows[] = {
    {0, 7, false, 0, 0, 0, false, false, "0100", 1},   {1, 4, false, 0, 0, 0, false, false, "0100", 1},
    {2, 7, true, 0, 0, 0, false, false, "0100", 1},    {3, 4, false, 0, 0, 0, false, false, "0100", 1},
    {4, 7, true, 0, 0, 0, false, false, "0100", 1},    {5, 1, false, 0, 0, 0, false, false, "0100", 1},
    {6, 4, false, 0, 0, 0, false, false, "0100", 1},   {7, 7, false, 0, 0, 0, false, false, "0100", 1},
    {8, 7, true, 1, 1, 1, false, false, "0100", 1},    {9, 7, true, 1, -1, 1, false, false, "0100", 1},
    {10, 7, true, 1, -1, 1, true, false, "0100", 1},   {11, 7, true, 1, -1, 1, false, false, "0100", 1},
    {12, 7, true, 1, -1, 1, false, true, "1.03", 1},   {13, 7, true, 1, -1, 1, false, true, "1.10", 0},
    {14, 7, true, 1, -1, 1, true, false, "0100", 1},   {15, 7, true, 1, -1, 1, false, false, "0100", 1},
    {16, 7, true, 1, -1, 1, true, false, "N120", 1},
};
// clang-format on

struct Chip {
    std::uint32_t blocks;
    bool largePage;
};

// Erase blocks per device code.
const std::map<std::uint8_t, Chip> kChips = {
    {0xE6, {1024, false}}, {0x73, {1024, false}}, {0x75, {2048, false}}, {0x76, {4096, false}},
    {0x79, {8192, false}}, {0xF1, {1024, true}},  {0xDA, {2048, true}},  {0xDC, {4096, true}},
};

}  // namespace

class SimulatedModelTest : public ::testing::TestWithParam<ModelRow> {};

TEST_P(SimulatedModelTest, Identified)
{
    const ModelRow& row = GetParam();
    sim::PlayerConfig config = sim::DefaultConfig(row.model);
    config.firmware = row.firmware;
    config.rootEntries = 512;
    if (row.sectorCard) {
        // A sector card the player cannot mount.
        config.cardPresent = true;
        config.cardMountable = false;
        config.mediaChanged = true;
    }
    sim::TestPlayer player(config);
    ASSERT_TRUE(player.Ok());
    if (!row.sectorCard) {  // a formatted 16 MB NAND-type card in the slot after the chips
        ASSERT_TRUE(player.Player().InsertNandCard(0xEC, 0x73));
    }

    PlayerDevice device;
    DeviceInfoBlock info;
    ASSERT_EQ(device.Initialize(info), 0u);
    EXPECT_EQ(static_cast<int>(device.GetModel()), row.model);
    EXPECT_EQ(std::string(device.ModelId()), config.modelId);
    EXPECT_EQ(std::string(device.FirmwareVersion()), row.firmware);
    EXPECT_EQ(std::string(info.modelId, config.modelId.size()), config.modelId);

    EXPECT_EQ(Engine.ChipCount, row.chips);
    EXPECT_EQ(Engine.FolderSchemeOn, row.schemeOn);
    EXPECT_EQ(Engine.FolderDepthLimit, row.depth);
    EXPECT_EQ(Engine.HeaderQueryAllowed, row.headerQuery);
    EXPECT_EQ(device.UsesFolderObjects(), row.depth == -1);
    EXPECT_EQ(device.GetModelGroupFlag(), row.sectorCard ? 1u : 0u);
    EXPECT_EQ(Engine.NoMediaPoll, row.noMediaPoll ? 1u : 0u);
    EXPECT_EQ(Engine.BadBlockByteIgnored, row.badBlockByteIgnored);
    std::uint32_t root = row.rootFromInfo ? 512 : 256;
    EXPECT_EQ(Engine.InternalRootEntries, root);
    EXPECT_EQ(Engine.InternalRootSectors, root / 16);
    EXPECT_EQ(Engine.InternalFolderEntries, row.depth == -1 ? root : 0u);
    EXPECT_EQ(Engine.ExternalRootEntries, 256u);
    EXPECT_EQ(Engine.ExternalFolderEntries, row.depth == -1 ? 256u : 0u);

    std::uint32_t blocks = 0, largePage = 0;
    for (std::uint32_t i = 0; i < 7; ++i) {
        const auto [maker, device_] = config.nandIds[i];
        bool expected = i < row.chips && (maker | device_) != 0;
        EXPECT_EQ(NandChips[i].present, expected ? 1 : 0) << "chip " << i;
        if (!expected)
            continue;
        const Chip& chip = kChips.at(device_);
        blocks += chip.blocks;
        largePage |= chip.largePage ? 1 : 0;
        EXPECT_EQ(NandChips[i].largePage, chip.largePage ? 1u : 0u) << "chip " << i;
        // A fresh player: every block erased.
        NandChips[i].Rewind();
        EXPECT_TRUE(NandChips[i].IsBlockUnused()) << "chip " << i;
    }
    EXPECT_EQ(Engine.InternalBlockCount, blocks);
    EXPECT_EQ(Engine.LargePageFlag, largePage);

    if (row.sectorCard) {
        EXPECT_EQ(CardChip.present, 0);
        EXPECT_EQ(Engine.CardPresent, 1u);
        EXPECT_TRUE(device.CardUnformatted());
    } else {
        EXPECT_EQ(CardChip.present, 1);
        EXPECT_EQ(CardChip.chipSelect, 1u << row.chips);
        EXPECT_EQ(Engine.CardBlockCount, 1024u);
    }
    EXPECT_EQ(player.Player().Counters().rejected, 0u);
}

INSTANTIATE_TEST_SUITE_P(Models, SimulatedModelTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return "Model" + std::to_string(info.param.model); });

TEST(SimulatedPlayerTest, SingleCommandOperations)
{
    sim::PlayerConfig config = sim::DefaultConfig(9);
    config.nandIds = {};  // no chips needed here
    config.upgradeStatus = 5;
    config.audioHeaders.push_back({0, 7, 2, 44100, 128000});
    sim::TestPlayer player(config);
    ASSERT_TRUE(player.Ok());
    PlayerDevice device;
    DeviceInfoBlock info;
    ASSERT_EQ(device.Initialize(info), 0u);
    EXPECT_EQ(device.ProbeDriver(), 0u);

    std::uint8_t header[64];
    ASSERT_EQ(device.QueryFileHeader(0, 7, header), 0u);
    EXPECT_EQ(header[0] | header[1] << 8, 2);
    EXPECT_EQ(header[2] | header[3] << 8 | header[4] << 16 | header[5] << 24, 44100);
    EXPECT_EQ(header[6] | header[7] << 8 | header[8] << 16 | header[9] << 24, 128000);
    EXPECT_EQ(device.QueryStatusByte(), 5);
    EXPECT_EQ(device.PrepareFormat(), 0u);
    EXPECT_EQ(player.Player().Counters().rejected, 0u);
}

TEST(NoPlayerTest, NothingAttached)
{
    PlayerDevice device;
    {
        sim::PlayerConfig config = sim::DefaultConfig(9);
        config.nandIds = {};
        sim::TestPlayer player(config);
        ASSERT_TRUE(player.Ok());
        DeviceInfoBlock info;
        ASSERT_EQ(device.Initialize(info), 0u);
        ASSERT_EQ(device.GetModel(), PlayerModel::TN510);
    }
    wiretest::ScopedPlayerPath path(std::nullopt);  // the real driver enumeration
    DeviceInfoBlock info;
    EXPECT_EQ(device.Initialize(info), 4u);
    EXPECT_EQ(device.GetModel(), PlayerModel::Unknown);
    EXPECT_EQ(device.ProbeDriver(), 4u);
    EXPECT_EQ(device.QueryStatusByte(), 1);
    EXPECT_EQ(device.PrepareFormat(), 4u);
    EXPECT_FALSE(PlayerPipes.IsOpen(DevicePipes::kPipeOut));
}
