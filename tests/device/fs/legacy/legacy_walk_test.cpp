// The block walkers over chips with gaps, bad blocks and every block size, the id allocation and the
// purge of blocks that no entry refers to.
#include "tests/device/fs/legacy/legacy_fixture.h"

#include "device/fs/engine_status.h"

#include <cstring>

using namespace engine;
using namespace legacytest;

namespace {

struct WalkCase {
    const char* name;
    int model;
};

void GoTo(std::uint32_t chip, std::uint32_t block)
{
    auto [row, sector] = BlockAddress(NandChips[chip], block);
    LegacySetCursor({chip, static_cast<std::uint16_t>(row), static_cast<std::uint8_t>(sector)});
}

std::uint32_t BlockOfCursor()
{
    const NandChip& chip = NandChips[Engine.CurrentChip];
    return chip.row * (256u / chip.sectorsPerBlock) + chip.sector / chip.sectorsPerBlock;
}

std::uint32_t BlocksOf(std::uint32_t chip)
{
    return NandChips[chip].rowCount * (256u / NandChips[chip].sectorsPerBlock);
}

}  // namespace

class LegacyWalkTest : public ::testing::TestWithParam<WalkCase> {};

TEST_P(LegacyWalkTest, WalkersSkipAbsentChipsAndStopAtTheChipCount)
{
    sim::PlayerConfig config = sim::DefaultConfig(GetParam().model);
    for (int i = 0; i < sim::ModelChipSlots(GetParam().model); ++i)
        config.nandIds[i] = config.nandIds[0];
    config.nandIds[1] = {0, 0};  // chip 1 absent
    config.factoryBadBlocks.push_back({0, 3});
    LegacyPlayer p(config);
    ASSERT_TRUE(p.Ready());
    const std::uint32_t last0 = BlocksOf(0) - 1;
    const std::uint32_t lastChip = Engine.ChipCount - 1;
    p.PokeRecord(0, 2, FileRecord(0xAA, 7));
    p.PokeRecord(0, last0, FileRecord(0xEE, 7));
    p.PokeRecord(2, 0, FileRecord(0xAA, 9, 1));
    p.PokeRecord(2, 1, FileRecord(0xEE, 9, 1));
    Bytes badStart = FileRecord(0xAA, 10);
    badStart[5] = 0x00;  // the bad-block byte
    p.PokeRecord(lastChip, 5, badStart);
    p.PokeRecord(lastChip, BlocksOf(lastChip) - 1, FileRecord(0xEE, 10));
    ASSERT_EQ(p.device.Initialize(p.info), 0u);  // the host reads the records again
    ASSERT_EQ(NandChips[1].present, 0);
    ScopedPipes bracket(PlayerPipes);

    struct Stop {
        std::uint32_t chip, block, id;
    };
    for (std::uint32_t ignored : {1u, 0u}) {
        Engine.BadBlockByteIgnored = ignored;
        std::vector<Stop> starts;
        Engine.CurrentChip = 0;
        NandChips[0].Rewind();
        for (int guard = 0; guard < 10 && LegacyNextFileStart() == kWalkFound; ++guard) {
            starts.push_back({Engine.CurrentChip, BlockOfCursor(), LegacyStore.walkerId});
            LegacyAdvanceBlock();
        }
        EXPECT_EQ(LegacyNextFileStart(), kWalkEnd);
        EXPECT_EQ(Engine.CurrentChip, Engine.ChipCount);
        ASSERT_EQ(starts.size(), ignored ? 3u : 2u) << "bad-block byte ignored: " << ignored;
        EXPECT_EQ(starts[0].chip, 0u);
        EXPECT_EQ(starts[0].block, 2u);
        EXPECT_EQ(starts[0].id, 7u);
        EXPECT_EQ(starts[1].chip, 2u);
        EXPECT_EQ(starts[1].block, 0u);
        EXPECT_EQ(starts[1].id, 9u);
        if (ignored) {
            EXPECT_EQ(starts[2].chip, lastChip);
        }
    }
    Engine.BadBlockByteIgnored = 1;

    // Continuation blocks: the last block of chip 0, then chip 2 (chip 1 skipped).
    GoTo(0, 3);
    ASSERT_EQ(LegacyNextFileBlock(), kWalkFound);
    EXPECT_EQ(Engine.CurrentChip, 0u);
    EXPECT_EQ(BlockOfCursor(), last0);
    EXPECT_EQ(LegacyStore.walkerId, 7u);
    LegacyAdvanceBlock();
    ASSERT_EQ(LegacyNextFileBlock(), kWalkFound);
    EXPECT_EQ(Engine.CurrentChip, 2u);
    EXPECT_EQ(BlockOfCursor(), 1u);

    // Free blocks: the bad block and the used one count as passed over.
    GoTo(0, 2);
    LegacyStore.usedBlocksPassed = 0;
    ASSERT_EQ(LegacyNextFreeBlock(), kWalkFound);
    EXPECT_EQ(BlockOfCursor(), 4u);
    EXPECT_EQ(LegacyStore.usedBlocksPassed, 2u);
    GoTo(0, last0);
    ASSERT_EQ(LegacyNextFreeBlock(), kWalkFound);
    EXPECT_EQ(Engine.CurrentChip, 2u);
    EXPECT_EQ(BlockOfCursor(), 2u);
    GoTo(lastChip, BlocksOf(lastChip) - 1);
    EXPECT_EQ(LegacyNextFreeBlock(), kWalkNoFree);
    EXPECT_EQ(Engine.CurrentChip, Engine.ChipCount);
}

INSTANTIATE_TEST_SUITE_P(Geometries, LegacyWalkTest,
                         ::testing::Values(WalkCase{"Blocks16", 1}, WalkCase{"Blocks32", 0}, WalkCase{"Blocks256", 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LegacyIdTest, PurgeErasesUnreferencedFilesAndGivesTheSmallestFreeId)
{
    LegacyPlayer p(5);
    ASSERT_TRUE(p.Ready());
    // Blocks of ids 6 and 9 (with a continuation block), and of id 7, which an entry for 263 refers
    // to through the low 8 bits the blocks carry.
    p.PokeRecord(0, 10, FileRecord(0xAA, 6));
    p.PokeRecord(0, 11, FileRecord(0xAA, 9));
    p.PokeRecord(0, 12, FileRecord(0xEE, 9));
    p.PokeRecord(0, 13, FileRecord(0xAA, 7));
    ASSERT_EQ(p.device.Initialize(p.info), 0u);

    ScopedPipes bracket(PlayerPipes);
    ASSERT_EQ(LegacyEnsureRoot(), 0u);
    const std::uint32_t freeBefore = LegacyStore.freeBlockCount;
    std::uint32_t unused = 0;
    ASSERT_EQ(LegacyFindUnusedId(unused), 0u);
    EXPECT_EQ(unused, 8u);
    LegacyStore.root[0].entry = {};
    std::memcpy(LegacyStore.root[0].entry.name, "A       BIN", 11);
    LegacyStore.root[0].entry.attributes = 0x80;
    LegacyStore.root[0].entry.firstCluster = 6;
    LegacyStore.root[1] = LegacyStore.root[0];
    LegacyStore.root[1].entry.name[0] = 'B';
    LegacyStore.root[1].entry.firstCluster = 263;

    std::uint32_t id = 0;
    ASSERT_EQ(LegacyPurgeUnreferenced(id), 0u);
    EXPECT_EQ(id, 8u);
    EXPECT_EQ(p.Spare(0, 10)[1], 6);
    EXPECT_EQ(p.Spare(0, 13)[1], 7);
    EXPECT_EQ(p.Spare(0, 11), Bytes(16, 0xFF));
    EXPECT_EQ(p.Spare(0, 12), Bytes(16, 0xFF));
    EXPECT_EQ(LegacyStore.freeBlockCount, freeBefore + 2);
    EXPECT_EQ(p.Spare(0, 0)[6], 'R') << "the root directory block stays";

    // Every id the blocks can carry is taken: storage full, never an id past 255.
    for (std::uint32_t i = 0; i < 250; ++i) {
        LegacyStore.root[i] = LegacyStore.root[0];
        LegacyStore.root[i].entry.firstCluster = static_cast<std::uint16_t>(6 + i);
    }
    EXPECT_EQ(LegacyPurgeUnreferenced(id), kStatusStorageFull);
    LegacyStore.root[100].entry.firstCluster = 6;
    ASSERT_EQ(LegacyPurgeUnreferenced(id), 0u);
    EXPECT_EQ(id, 106u);
}
