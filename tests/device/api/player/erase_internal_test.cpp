// Erasing internal memory on the simulated player: every usable block is erased and the empty root
// record written, on a flat-store model and a folder-object model; which blocks count as usable follows
// the model's bad-block rule; a missing chip 0 and a failing root write are reported.
#include "device/api/player/player_device.h"
#include "device/flash/nand_chip.h"
#include "device/fs/engine_status.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/engine_state.h"
#include "sim/simulated_player.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using namespace engine;

namespace {

using Record = std::array<std::uint8_t, 16>;

class Progress : public ProgressSink {
public:
    ProgressCounters& Counters() override { return counters; }
    void FireProgress() override {}
    ProgressCounters counters;
};

struct EraseCase {
    const char* name;
    int model;
    const char* firmware;
    std::vector<int> chips;  // internal positions that hold a chip (64 rows, 16-sector blocks)
    std::uint16_t rootEntries;
    std::uint8_t rootIdLow, rootIdHigh;  // root record bytes 14-15
    bool badByteIgnored;
};

const EraseCase kEraseCases[] = {
    // A flat-store model with chips at positions 0 and 3 (1 and 2 empty): 256 root entries.
    {"FlatStore", 1, "0100", {0, 3}, 0, 'P', 'C', true},
    // A folder-object model with a smaller root, whose firmware looks at the bad-block byte.
    {"FolderObjects", 12, "1.10", {0}, 128, 0x01, 0x00, false},
};

class EraseInternalTest : public ::testing::TestWithParam<EraseCase> {
protected:
    static sim::PlayerConfig Config(const EraseCase& c)
    {
        sim::PlayerConfig config = sim::DefaultConfig(c.model);
        config.firmware = c.firmware;
        config.rootEntries = c.rootEntries;
        config.nandIds = {};
        for (int p : c.chips)
            config.nandIds[p] = {0xEC, 0xE6};
        config.factoryBadBlocks = {{0, 7}};
        return config;
    }
    void SetUp() override
    {
        ASSERT_TRUE(player.Ok());
        LegacyResetState();
        DeviceInfoBlock info;
        ASSERT_EQ(device.Initialize(info), kStatusOk);
        ASSERT_EQ(Engine.BadBlockByteIgnored, GetParam().badByteIgnored ? 1u : 0u);
        SetProgressSink(&progress);
    }
    void TearDown() override
    {
        SetProgressSink(nullptr);
        player.Server().ClearFault();
    }
    void Sync()
    {
        ScopedPipes bracket(PlayerPipes);
        DeviceInfoBlock info{};
        PlayerPipes.ReadDeviceInfo(info);
    }
    std::array<std::uint8_t, 528> Page(int chip, std::uint32_t block, std::uint32_t page)
    {
        return player.Player().PeekPage(chip, block / 16, block % 16 * 16 + page);
    }
    Record Spare(int chip, std::uint32_t block, std::uint32_t page = 0)
    {
        auto p = Page(chip, block, page);
        Record r;
        std::copy(p.begin() + 512, p.end(), r.begin());
        return r;
    }
    void Poke(int chip, std::uint32_t block, const Record& record)
    {
        std::array<std::uint8_t, 528> p{};
        std::copy(record.begin(), record.end(), p.begin() + 512);
        ASSERT_TRUE(player.Player().PokePage(chip, block / 16, block % 16 * 16, p));
    }

    sim::TestPlayer player{Config(GetParam())};
    PlayerDevice device;
    Progress progress;
};

const Record kErased = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

TEST_P(EraseInternalTest, ErasesEverythingAndWritesTheEmptyRoot)
{
    const EraseCase& c = GetParam();
    // Blocks in use, and two foreign records: a file block whose bad-block byte is cleared, and a
    // record that is neither a file's nor erased but keeps the bad-block byte.
    for (std::uint32_t block : {0u, 1u, 20u, 1000u})
        Poke(0, block, {0xAA, 9, 0, 1, 0xFF, 0xFF, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 'P', 'C'});
    Poke(c.chips.back(), 30, {0xAA, 9, 0, 1, 0xFF, 0xFF, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 'P', 'C'});
    const Record markedFile = {0xAA, 3, 0, 1, 0xFF, 0x00, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 'P', 'C'};
    const Record foreign = {0x12, 0x34, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Poke(0, 40, markedFile);
    Poke(0, 41, foreign);
    DeviceInfoBlock info;
    ASSERT_EQ(device.Initialize(info), kStatusOk);

    ASSERT_EQ(device.EraseInternal(), kStatusOk);
    Sync();
    EXPECT_EQ(progress.counters.total, Engine.InternalBlockCount);
    EXPECT_EQ(progress.counters.done, Engine.InternalBlockCount);
    EXPECT_EQ(Engine.InternalBlockCount, c.chips.size() * 1024u);

    // The root record: the first usable block of chip 0, on its first InternalRootSectors pages.
    const Record root = {0xAA, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 'R',         0,
                         0,    0,    0,    0xFF, 0xFF, 0xFF, c.rootIdLow, c.rootIdHigh};
    for (std::uint32_t page = 0; page < 16; ++page) {
        auto p = Page(0, 0, page);
        if (page < Engine.InternalRootSectors) {
            EXPECT_EQ(Spare(0, 0, page), root) << page;
            for (std::size_t i = 0; i < 512; ++i)
                ASSERT_EQ(p[i], 0) << page << " " << i;
        } else {
            EXPECT_EQ(Spare(0, 0, page), kErased) << page;
        }
    }
    // Every other block is erased, except the factory bad block and what the model's rule leaves.
    for (int chip : c.chips) {
        for (std::uint32_t block = chip == 0 ? 1 : 0; block < 1024; ++block) {
            Record r = Spare(chip, block);
            if (chip == 0 && block == 7)
                EXPECT_EQ(r[5], 0) << "factory bad block";
            else if (chip == 0 && block == 40)
                EXPECT_EQ(r, c.badByteIgnored ? kErased : markedFile);
            else if (chip == 0 && block == 41)
                EXPECT_EQ(r, c.badByteIgnored ? foreign : kErased);
            else
                ASSERT_EQ(r, kErased) << chip << " " << block;
        }
    }

    // The root is read back as it stands (nothing written) and is empty.
    LegacyResetState();
    player.Player().ResetCounters();
    {
        ScopedPipes bracket(PlayerPipes);
        ASSERT_EQ(LegacyLoadRoot(), kStatusOk);
    }
    EXPECT_EQ(player.Player().Counters().pagePrograms, 0u);
    EXPECT_EQ(LegacyStore.rootBlock.chip, 0u);
    EXPECT_EQ(LegacyStore.rootBlock.row, 0u);
    EXPECT_EQ(LegacyStore.rootBlock.sector, 0u);
    for (const FatDirSlot& slot : LegacyStore.root)
        ASSERT_EQ(slot.raw[0], 0);
}

TEST_P(EraseInternalTest, FailuresAreReported)
{
    // A root page that cannot be written: the root's pages are the erase's last transfers, two each.
    player.Server().ResetCounters();
    ASSERT_EQ(device.EraseInternal(), kStatusOk);
    auto counters = player.Server().Counters();
    const std::uint64_t transfers = counters.hostWrites + counters.hostReads;
    ASSERT_GT(Engine.InternalRootSectors, 4u);
    player.Server().InjectFault(sim::FaultKind::Fail, transfers - 4);
    EXPECT_EQ(device.EraseInternal(), kStatusUsbError);
    player.Server().ClearFault();
    // A failure in the erase pass.
    player.Server().InjectFault(sim::FaultKind::Fail, transfers / 2);
    EXPECT_EQ(device.EraseInternal(), kStatusUsbError);
    player.Server().ClearFault();
    ASSERT_EQ(device.EraseInternal(), kStatusOk);
}

INSTANTIATE_TEST_SUITE_P(Models, EraseInternalTest, ::testing::ValuesIn(kEraseCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Without chip 0 nothing is erased or written.
TEST(EraseInternal, NoChipZero)
{
    sim::PlayerConfig config = sim::DefaultConfig(1);
    config.nandIds = {};
    config.nandIds[1] = {0xEC, 0xE6};
    sim::TestPlayer player(config);
    ASSERT_TRUE(player.Ok());
    PlayerDevice device;
    DeviceInfoBlock info;
    ASSERT_EQ(device.Initialize(info), kStatusOk);
    player.Player().ResetCounters();
    EXPECT_EQ(device.EraseInternal(), kStatusStorageFull);
    auto counters = player.Player().Counters();
    EXPECT_EQ(counters.blockErases, 0u);
    EXPECT_EQ(counters.pagePrograms, 0u);
}

}  // namespace
