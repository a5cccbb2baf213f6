// Against the simulated player, which keeps its own reading of the protocol: after writes, erases
// and bad-block marks, the host copy of the spare records is what the chip itself holds.
#include "device/flash/nand_chip.h"
#include "device/flash/nand_geometry.h"
#include "device/transport/engine_state.h"

#include "sim/simulated_player.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct ChipCase {
    const char* name;
    int position;
    std::uint8_t maker, device;
};

Bytes BlockUnits(const NandChip& chip, std::uint8_t seed, std::uint8_t firstSpare)
{
    Bytes units(std::size_t{chip.sectorsPerBlock} * 576, 0);
    for (std::size_t i = 0; i < chip.sectorsPerBlock; ++i) {
        std::uint8_t* u = units.data() + i * 576;
        for (std::size_t b = 0; b < 512; ++b)
            u[b] = static_cast<std::uint8_t>(seed + i * 3 + b);
        std::memset(u + 512, 0xFF, 16);
        u[512] = i == 0 ? firstSpare : 0xEE;
        u[513] = seed;
    }
    return units;
}

void GoToBlock(NandChip& chip, std::uint32_t block)
{
    std::uint32_t perRow = 256 / chip.sectorsPerBlock;
    chip.Rewind();
    chip.row = static_cast<std::uint16_t>(block / perRow);
    chip.sector = static_cast<std::uint8_t>(block % perRow * chip.sectorsPerBlock);
}

int WriteBlock(NandChip& chip, const Bytes& units)
{
    int header = chip.BeginWrite();
    int data = chip.WriteData(units);
    return header | data | chip.EndWrite();
}

}  // namespace

class NandChipPlayerTest : public ::testing::TestWithParam<ChipCase> {};

TEST_P(NandChipPlayerTest, SpareTableStaysCoherent)
{
    const ChipCase& c = GetParam();
    Engine.CurrentModel = PlayerModel::Unknown;
    sim::PlayerConfig config = sim::DefaultConfig(0);
    config.nandIds = {};
    config.nandIds[c.position] = {c.maker, c.device};
    sim::TestPlayer player(config);
    ASSERT_TRUE(player.Ok());
    player.Player().FailErase(c.position, 4);

    auto chip = std::make_unique<NandChip>();
    std::optional<NandGeometry> g = LookupNandGeometry(c.maker, c.device);
    ASSERT_TRUE(g);
    chip->rowCount = g->rowCount;
    chip->sectorsPerBlock = g->sectorsPerBlock;
    chip->largePage = g->largePage;
    chip->chipSelect = static_cast<std::uint8_t>(1u << c.position);
    chip->present = 1;
    chip->pipes = &PlayerPipes;

    ScopedPipes bracket(PlayerPipes);
    ASSERT_EQ(chip->LoadSpareTable(), 0);

    // Block 0: a whole-block write, read back.
    Bytes block0 = BlockUnits(*chip, 0x10, 0xAA);
    GoToBlock(*chip, 0);
    ASSERT_EQ(WriteBlock(*chip, block0), 0);
    Bytes data(std::size_t{chip->sectorsPerBlock} * 512);
    GoToBlock(*chip, 0);
    ASSERT_EQ(chip->ReadBlock(data), 0);
    for (std::size_t i = 0; i < chip->sectorsPerBlock; ++i)
        ASSERT_EQ(0, std::memcmp(data.data() + i * 512, block0.data() + i * 576, 512)) << "page " << i;

    // Block 1: one page at its first sector.
    GoToBlock(*chip, 1);
    Bytes spare(16, 0xFF);
    spare[0] = 0xAA;
    spare[1] = 0x31;
    ASSERT_EQ(chip->WritePage(Bytes(512, 0x5C), spare), 0);
    Bytes page(512), pageSpare(16);
    ASSERT_EQ(chip->ReadPage(page, pageSpare), 0);
    EXPECT_EQ(page, Bytes(512, 0x5C));
    EXPECT_EQ(pageSpare, spare);

    // Block 2: written, then erased.
    GoToBlock(*chip, 2);
    ASSERT_EQ(WriteBlock(*chip, BlockUnits(*chip, 0x20, 0xAA)), 0);
    std::uint8_t status = 0xFF;
    ASSERT_EQ(chip->EraseBlock(status), 0);
    EXPECT_EQ(status & 1, 0);

    // Block 3: marked bad.
    GoToBlock(*chip, 3);
    chip->MarkBadBlock();
    EXPECT_TRUE(chip->IsBadBlock());

    // Block 4: written, its erase fails, and the caller retires it as the callers do.
    GoToBlock(*chip, 4);
    ASSERT_EQ(WriteBlock(*chip, BlockUnits(*chip, 0x40, 0xAA)), 0);
    ASSERT_EQ(chip->EraseBlock(status), 0);
    EXPECT_EQ(status & 1, 1);
    chip->MarkBadBlock();

    // Last block of the chip: the cursor arithmetic reaches the end of the table.
    GoToBlock(*chip, chip->rowCount * (256u / chip->sectorsPerBlock) - 1);
    ASSERT_EQ(WriteBlock(*chip, BlockUnits(*chip, 0x50, 0xAA)), 0);

    std::vector<std::uint8_t> cached(chip->spareTable.begin(), chip->spareTable.end());
    ASSERT_EQ(chip->LoadSpareTable(), 0);
    EXPECT_TRUE(std::equal(cached.begin(), cached.end(), chip->spareTable.begin()))
        << "cached records differ from the chip's";
    EXPECT_EQ(player.Player().Counters().rejected, 0u);
}

INSTANTIATE_TEST_SUITE_P(Chips, NandChipPlayerTest,
                         ::testing::Values(ChipCase{"small pages, 32-sector blocks", 0, 0xEC, 0x75},
                                           ChipCase{"small pages, 16-sector blocks", 2, 0x98, 0xE6},
                                           ChipCase{"large pages", 1, 0xEC, 0xF1}),
                         [](const auto& info) {
                             return std::string(info.param.position == 1   ? "LargePages"
                                                : info.param.maker == 0x98 ? "Blocks16"
                                                                           : "Blocks32");
                         });
