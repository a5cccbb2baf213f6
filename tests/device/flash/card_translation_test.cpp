// Block translation of the NAND-type card on a host copy of the spare records (no player needed): the
// layout table, the logical block of a cluster, and searches that stay inside their zone and the chip.
#include "device/flash/card_spare.h"
#include "device/flash/card_translation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace engine;

namespace {

std::unique_ptr<NandChip> Card(std::uint16_t rows, std::uint16_t sectorsPerBlock)
{
    auto chip = std::make_unique<NandChip>();
    chip->rowCount = rows;
    chip->sectorsPerBlock = sectorsPerBlock;
    chip->present = 1;
    chip->spareTable.fill(0xFF);
    return chip;
}

std::uint8_t* Record(NandChip& chip, std::uint32_t row, std::uint32_t block)
{
    return chip.spareTable.data() + row * kSpareRowSlot + block * kSpareRecordBytes;
}

void Claim(NandChip& chip, std::uint32_t row, std::uint32_t block, std::uint32_t logical)
{
    EncodeBlockAddress(logical, Record(chip, row, block));
}

}  // namespace

TEST(CardLayout, ByRowCount)
{
    struct Case {
        std::uint32_t rows, d, heads, spt;
    };
    const Case cases[] = {{64, 48, 4, 16}, {128, 64, 4, 16}, {256, 64, 8, 16}, {512, 96, 8, 32}, {1024, 128, 16, 32}};
    for (const Case& c : cases) {
        auto layout = LookupCardLayout(c.rows);
        ASSERT_TRUE(layout) << c.rows;
        EXPECT_EQ(layout->dataStartSector, c.d);
        EXPECT_EQ(layout->heads, c.heads);
        EXPECT_EQ(layout->sectorsPerTrack, c.spt);
    }
    for (std::uint32_t rows : {0u, 32u, 96u, 2048u, 4096u})
        EXPECT_FALSE(LookupCardLayout(rows)) << rows;
}

TEST(CardLayout, LogicalBlockAndZoneOfCluster)
{
    // 8 MB: cluster 2 is logical block 3 of zone 0, searched from row 0, sector 64.
    EXPECT_EQ(LogicalBlockOfCluster(2, 48, 16), 3u);
    EXPECT_EQ(ZoneSearchStart(0), 64u << 8);
    // 64 MB: cluster 999 is logical block 1000, zone 1 (rows 128..255), field 0x1001.
    EXPECT_EQ(LogicalBlockOfCluster(999, 96, 32), 1000u);
    EXPECT_EQ(ZoneSearchStart(1), 128u << 16);
    EXPECT_EQ(BlockAddressField(1000), 0x1001);
    auto card64 = Card(512, 32);
    EXPECT_EQ(ZoneEndRow(*card64, 1), 256u);
    // An 8 MB card is one zone of 64 rows; its search never reaches rows it lacks.
    auto card8 = Card(64, 16);
    EXPECT_EQ(ZoneEndRow(*card8, 0), 64u);
    EXPECT_EQ(ZoneEndRow(*card8, 1), 64u);
}

TEST(CardSearch, FindsTheBlockOnlyInsideItsZone)
{
    auto chip = Card(512, 32);  // 8 blocks per row
    // Logical 5 of zone 0 in row 3; a bad block and the information structure that decode to 0 and a
    // zone-1 block carrying 5 as well.
    Claim(*chip, 3, 2, 5);
    std::memset(Record(*chip, 1, 0), 0, 16);     // retired: decodes to 0
    std::memset(Record(*chip, 0, 1) + 6, 0, 2);  // information structure
    Claim(*chip, 130, 4, 1005);

    ASSERT_EQ(SeekLogicalBlock(*chip, 5), kCardBlockFound);
    EXPECT_EQ(chip->GetAddress(), (3u << 16) | (64u << 8));
    ASSERT_EQ(SeekLogicalBlock(*chip, 1005), kCardBlockFound);
    EXPECT_EQ(chip->GetAddress(), (130u << 16) | (128u << 8));
    // Logical 0 is not the bad block nor the information structure.
    EXPECT_EQ(SeekLogicalBlock(*chip, 0), kCardBlockNone);
    // Zone 2's logical 5 exists nowhere: the search ends at the zone's end, not in zone 3.
    Claim(*chip, 400, 0, 3005);
    EXPECT_EQ(SeekLogicalBlock(*chip, 2005), kCardBlockNone);
    EXPECT_LE(chip->row, 384u);
}

TEST(CardSearch, AllocationTakesTheFirstErasedBlockOfTheZone)
{
    auto chip = Card(64, 16);  // 16 blocks per row, one zone
    // Zone 0 starts at sector 64 (block 4 of row 0); blocks 4 and 5 are taken, block 6 is bad.
    Claim(*chip, 0, 4, 10);
    Claim(*chip, 0, 5, 11);
    std::memset(Record(*chip, 0, 6), 0, 16);
    // Block 2 is erased but lies in the first 64 sectors, which are never chosen.
    ASSERT_EQ(AllocateCardBlock(*chip, 12), kCardBlockFound);
    EXPECT_EQ(chip->GetAddress(), 7u * 16 << 8);

    // A full zone: nothing, and nothing past the chip's rows.
    for (std::uint32_t row = 0; row < 64; ++row)
        for (std::uint32_t b = 0; b < 16; ++b)
            std::memset(Record(*chip, row, b), 0, 16);
    EXPECT_EQ(AllocateCardBlock(*chip, 12), kCardBlockNone);
    chip->present = 0;
    EXPECT_EQ(AllocateCardBlock(*chip, 12), kCardBlockNone);
}

TEST(CardSearch, AdvanceToGoodBlockStopsAtTheChipsEnd)
{
    auto chip = Card(64, 16);
    std::memset(Record(*chip, 0, 0), 0, 16);
    std::memset(Record(*chip, 0, 1), 0, 16);
    chip->Rewind();
    ASSERT_TRUE(AdvanceToGoodBlock(*chip));
    EXPECT_EQ(chip->sector, 32);
    for (std::uint32_t row = 0; row < 64; ++row)
        for (std::uint32_t b = 0; b < 16; ++b)
            std::memset(Record(*chip, row, b), 0, 16);
    chip->Rewind();
    EXPECT_FALSE(AdvanceToGoodBlock(*chip));
    EXPECT_EQ(chip->row, 64);
}
