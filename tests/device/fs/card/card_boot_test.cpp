// The card volume's on-card records on byte fixtures: master boot record and boot sector checks
// (hostile values are refused, never used), the FAT12/FAT16 entry codec and chain steps.
#include "device/fs/card/card_volume.h"
#include "device/fs/engine_status.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>

using namespace engine;

namespace {

using Sector = std::array<std::uint8_t, 512>;

void Le16(std::uint8_t* p, unsigned v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Le32(std::uint8_t* p, std::uint32_t v)
{
    Le16(p, v & 0xFFFF);
    Le16(p + 2, v >> 16);
}

// A FAT16 boot sector as mkfs.fat lays out a 64 MB partition: 4 sectors per cluster.
Sector Boot(unsigned spc = 4, unsigned reserved = 4, unsigned fats = 2, unsigned rootEntries = 512,
            std::uint32_t total = 131072, unsigned spf = 128, const char* label = "FAT16   ")
{
    Sector s{};
    s[0] = 0xEB;
    s[1] = 0x3C;
    s[2] = 0x90;
    std::memcpy(s.data() + 3, "mkfs.fat", 8);
    Le16(s.data() + 11, 512);
    s[13] = static_cast<std::uint8_t>(spc);
    Le16(s.data() + 14, reserved);
    s[16] = static_cast<std::uint8_t>(fats);
    Le16(s.data() + 17, rootEntries);
    if (total < 0x10000)
        Le16(s.data() + 19, total);
    else
        Le32(s.data() + 32, total);
    s[21] = 0xF8;
    Le16(s.data() + 22, spf);
    Le16(s.data() + 24, 32);
    Le16(s.data() + 26, 8);
    std::memcpy(s.data() + 54, label, 8);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

}  // namespace

TEST(CardBootSector, AcceptsAndComputesClusterCount)
{
    CardBootFields f;
    ASSERT_EQ(ParseCardBootSector(Boot().data(), 131072, f), kStatusOk);
    // (131072 - 4 - 2 x 128 - 32) / 4
    EXPECT_EQ(f.clusterCount, 32695u);
    EXPECT_EQ(f.fatType, 16);
    EXPECT_EQ(f.rootSectors, 32u);
    EXPECT_EQ(f.heads, 8);
    EXPECT_EQ(f.sectorsPerTrack, 32);

    // FAT12 or FAT16 follows the cluster count whatever the label says.
    ASSERT_EQ(ParseCardBootSector(Boot(16, 1, 2, 256, 16000, 3, "FAT16   ").data(), 16000, f), kStatusOk);
    EXPECT_EQ(f.fatType, 12);
    EXPECT_EQ(f.clusterCount, (16000u - 1 - 6 - 16) / 16);
    ASSERT_EQ(ParseCardBootSector(Boot(4, 4, 2, 512, 131072, 128, "FAT     ").data(), 131072, f), kStatusOk);
    EXPECT_EQ(f.fatType, 16);

    // Totals: 16-bit field, else 32-bit field, else the partition's count.
    Sector s = Boot(16, 1, 2, 256, 16000, 3);
    Le16(s.data() + 19, 0);
    Le32(s.data() + 32, 0);
    ASSERT_EQ(ParseCardBootSector(s.data(), 15000, f), kStatusOk);
    EXPECT_EQ(f.totalSectors, 15000u);
}

TEST(CardBootSector, RefusesHostileValues)
{
    struct Case {
        const char* what;
        std::function<void(Sector&)> spoil;
    };
    // clang-format off
    const Case cases[] = {
        {"no signature", [](Sector& s) { s[511] = 0; }},
        {"1024-byte sectors", [](Sector& s) { Le16(s.data() + 11, 1024); }},
        {"one FAT", [](Sector& s) { s[16] = 1; }},
        {"three FATs", [](Sector& s) { s[16] = 3; }},
        {"no reserved sector", [](Sector& s) { Le16(s.data() + 14, 0); }},
        {"FAT of 0 sectors", [](Sector& s) { Le16(s.data() + 22, 0); }},
        {"root not a multiple of 16", [](Sector& s) { Le16(s.data() + 17, 500); }},
        {"root over 512", [](Sector& s) { Le16(s.data() + 17, 528); }},
        {"root of 65535", [](Sector& s) { Le16(s.data() + 17, 0xFFFF); }},
        {"0 sectors per cluster", [](Sector& s) { s[13] = 0; }},
        {"3 sectors per cluster", [](Sector& s) { s[13] = 3; }},
        {"FAT too small for the clusters", [](Sector& s) { Le16(s.data() + 22, 60); }},
        {"volume smaller than its system area", [](Sector& s) { Le32(s.data() + 32, 200); }},
        {"volume larger than its partition", [](Sector& s) { Le32(s.data() + 32, 131073); }},
        {"too many clusters for FAT16", [](Sector& s) { s[13] = 1; }},
    };
    // clang-format on
    for (const Case& c : cases) {
        Sector s = Boot();
        c.spoil(s);
        CardBootFields f;
        f.clusterCount = 12345;
        EXPECT_EQ(ParseCardBootSector(s.data(), 131072, f), kStatusPartitionError) << c.what;
        EXPECT_EQ(f.clusterCount, 12345u) << c.what;
    }
    // Exactly as many clusters as the FAT indexes (count + 2 entries) is accepted, one more is not.
    // FAT12, 1 sector: 341 entries, so 339 clusters.
    CardBootFields f;
    EXPECT_EQ(ParseCardBootSector(Boot(1, 1, 2, 16, 1 + 2 + 1 + 339, 1).data(), 0, f), kStatusOk);
    EXPECT_EQ(ParseCardBootSector(Boot(1, 1, 2, 16, 1 + 2 + 1 + 340, 1).data(), 0, f), kStatusPartitionError);
}

TEST(CardBootSector, RandomBytesNeverPassUnchecked)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 5000; ++round) {
        Sector s;
        for (auto& b : s)
            b = static_cast<std::uint8_t>(rng());
        s[510] = 0x55;
        s[511] = 0xAA;
        if (round % 2)
            Le16(s.data() + 11, 512), s[16] = 2;
        CardBootFields f;
        if (ParseCardBootSector(s.data(), rng(), f) != kStatusOk)
            continue;
        // Whatever was accepted is consistent.
        EXPECT_LE(f.rootEntries, 512);
        EXPECT_GE(f.clusterCount, 1u);
        std::uint64_t entries = f.fatType == 12 ? f.sectorsPerFat * 1024ull / 3 : f.sectorsPerFat * 256ull;
        EXPECT_LE(f.clusterCount + 2ull, entries);
    }
}

TEST(CardMbr, PartitionEntryAndSignature)
{
    Sector s{};
    const std::uint8_t entry[16] = {0x80, 1, 10, 0, 1, 3, 0x10, 0xF9, 25, 0, 0, 0, 0x67, 0x3E, 0, 0};
    std::memcpy(s.data() + 446, entry, 16);
    CardPartition p;
    EXPECT_EQ(ParseCardMbr(s.data(), p), kStatusMbrError);
    s[510] = 0x55;
    s[511] = 0xAA;
    ASSERT_EQ(ParseCardMbr(s.data(), p), kStatusOk);
    const std::uint8_t chs[7] = {1, 10, 0, 1, 3, 0x10, 0xF9};
    EXPECT_EQ(0, std::memcmp(p.chs, chs, 7));
    EXPECT_EQ(p.start, 25u);
    EXPECT_EQ(p.sectors, 0x3E67u);
}

TEST(CardFat, Fat12AndFat16Entries)
{
    // Entry 3 of a FAT12 volume: the high nibble of byte 4 and all of byte 5.
    std::uint8_t fat[12];
    std::memset(fat, 0, sizeof fat);
    fat[4] = 0x0A;
    ASSERT_TRUE(WriteFatEntry(fat, sizeof fat, 12, 3, 0xFFF));
    EXPECT_EQ(fat[4], 0xFA);
    EXPECT_EQ(fat[5], 0xFF);
    EXPECT_EQ(ReadFatEntry(fat, sizeof fat, 12, 3), 0xFFFu);
    EXPECT_EQ(ReadFatEntry(fat, sizeof fat, 12, 2), 0xA00u);

    struct Case {
        std::uint8_t type;
        std::uint32_t n, value, stored;
    };
    const Case cases[] = {
        {12, 0, 0xFF8, 0xFF8}, {12, 1, 0x123, 0x123},   {12, 6, 0xFFF7, 0xFF7},  // masked to 12 bits
        {12, 7, 0x456, 0x456}, {16, 2, 0xFFF8, 0xFFF8}, {16, 5, 0x12345, 0x2345},
    };
    for (const Case& c : cases) {
        std::uint8_t buf[12];
        std::memset(buf, 0x5A, sizeof buf);
        std::uint8_t before[12];
        std::memcpy(before, buf, sizeof buf);
        ASSERT_TRUE(WriteFatEntry(buf, sizeof buf, c.type, c.n, c.value));
        EXPECT_EQ(ReadFatEntry(buf, sizeof buf, c.type, c.n), c.stored);
        // Neighbouring entries keep their values.
        if (c.n > 0) {
            EXPECT_EQ(ReadFatEntry(buf, sizeof buf, c.type, c.n - 1),
                      ReadFatEntry(before, sizeof buf, c.type, c.n - 1));
        }
        EXPECT_EQ(ReadFatEntry(buf, sizeof buf, c.type, c.n + 1), ReadFatEntry(before, sizeof buf, c.type, c.n + 1));
    }
    // Entries outside the buffer are neither read nor written.
    std::uint8_t buf[12] = {};
    EXPECT_FALSE(WriteFatEntry(buf, sizeof buf, 12, 8, 1));
    EXPECT_FALSE(WriteFatEntry(buf, sizeof buf, 16, 6, 1));
    EXPECT_EQ(ReadFatEntry(buf, sizeof buf, 16, 6), 0xFFFFFFFFu);
    EXPECT_TRUE(WriteFatEntry(buf, sizeof buf, 12, 7, 1));
}

TEST(CardFat, ChainSteps)
{
    struct Case {
        std::uint8_t type;
        std::uint32_t value;
        ChainStep step;
    };
    // clang-format off
    const Case cases[] = {
        {12, 0xFF8, ChainStep::End},   {12, 0xFFF, ChainStep::End},    {12, 0xFF7, ChainStep::Broken},
        {12, 0, ChainStep::Broken},    {12, 1, ChainStep::Broken},     {12, 2, ChainStep::Next},
        {12, 100, ChainStep::Next},    {12, 101, ChainStep::Broken},   {16, 0xFFF8, ChainStep::End},
        {16, 0xFFFF, ChainStep::End},  {16, 0xFFF7, ChainStep::Broken}, {16, 0xFF8, ChainStep::Broken},
        {16, 0xFFFFFFFF, ChainStep::Broken},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::uint32_t next = 0;
        EXPECT_EQ(FollowChain(c.value, c.type, 100, next), c.step) << c.value;
        if (c.step == ChainStep::Next) {
            EXPECT_EQ(next, c.value);
        }
    }
}
