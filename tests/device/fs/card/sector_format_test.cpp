// Formatting the MMC/SD card of the simulated player: the new volume is clean for fsck.fat, read by
// mtools and mounted by the engine, on card sizes around the FAT12/FAT16 boundary; a full format clears
// the data area; a locked, missing, too small or vanishing card and a failing write are reported.
#include "tests/device/fs/card/card_fixture.h"

#include "device/fs/card/format_builder.h"
#include "device/fs/engine_status.h"

#include <gtest/gtest.h>

using namespace engine;
using namespace cardtest;

namespace {

// The one remark fsck.fat has about a fresh volume: the label is in the boot sector only.
std::string FsckFindings(const CardImage& image)
{
    std::string out = image.Fsck();
    const std::string label =
        "Label in boot sector is 'KWEP VOLUME', but there is no volume label in root directory.\n";
    if (std::size_t at = out.find(label); at != std::string::npos)
        out.erase(at, label.size());
    return out;
}

class SectorFormatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"fsck.fat", "mcopy", "mdir"})
            ASSERT_TRUE(test_support::HostHasProgram(tool)) << tool;
        ASSERT_TRUE(player.Ok());
        SetProgressSink(&progress);
    }
    void TearDown() override
    {
        SetProgressSink(nullptr);
        player.Server().ClearFault();
    }
    std::uint32_t Identify()
    {
        DeviceInfoBlock info;
        return device.Initialize(info);
    }
    Bytes Card()
    {
        SyncWithPlayer();
        auto card = player.Player().ExportCard();
        EXPECT_TRUE(card);
        return card ? *card : Bytes();
    }

    sim::TestPlayer player{WithoutInternalChips(10)};
    PlayerDevice device;
    test_support::TempFolder temp;
    ProgressRecorder progress;
};

struct SizeCase {
    const char* name;
    std::uint32_t sectors;
    std::uint8_t fatType;
};

class SectorFormatSizeTest : public SectorFormatTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(SectorFormatSizeTest, NewVolumeIsCleanAndUsable)
{
    const SizeCase& c = GetParam();
    ASSERT_TRUE(player.Player().InsertSectorCard(c.sectors, false));
    ASSERT_EQ(Identify(), kStatusOk);
    EXPECT_TRUE(device.CardUnformatted());

    ASSERT_EQ(device.FormatSectorCard(1), kStatusOk);
    EXPECT_FALSE(device.CardUnformatted());
    ASSERT_TRUE(CardVolume.IsMounted());
    EXPECT_EQ(CardVolume.FatType(), c.fatType);
    FatFormatBuilder b;
    ASSERT_TRUE(b.ComputeParameters(c.sectors * 512, 512));
    EXPECT_EQ(progress.counters.total, b.partitionStart + 2 * b.fatSectors + b.rootSectors + 1);
    EXPECT_EQ(progress.counters.done, progress.counters.total);
    std::uint32_t total = 0, freeCount = 0;
    ASSERT_TRUE(CardVolume.CountFreeClusters(total, freeCount));
    EXPECT_EQ(total, b.ClusterCount());
    EXPECT_EQ(freeCount, total);

    // What PCs make of it, and a file they put there comes back through the engine.
    Bytes card = Card();
    CardImage image(temp, card);
    EXPECT_EQ(FsckFindings(image), "");
    EXPECT_TRUE(image.Names().empty());
    Bytes content = RandomBytes(3 * 512 * b.sectorsPerCluster + 100, c.sectors);
    WriteFile(temp.File("in.bin"), content);
    ASSERT_TRUE(image.Tool("mcopy -i " + ShellQuote(image.Path()) + " " + ShellQuote(temp.UnixFile("in.bin")) +
                           " ::/copied\\ from\\ a\\ PC.bin"));
    image.StoreInto(card);
    ASSERT_TRUE(player.Player().ImportCard(card));
    ASSERT_EQ(Identify(), kStatusOk);
    auto listed = Walk();
    ASSERT_EQ(listed.count("copied from a PC.bin"), 1u);
    EXPECT_EQ(listed["copied from a PC.bin"].size, content.size());
    ASSERT_TRUE(CardVolume.CountFreeClusters(total, freeCount));
    EXPECT_EQ(freeCount, total - 4);

    // A second format empties it again.
    ASSERT_EQ(device.FormatSectorCard(1), kStatusOk);
    EXPECT_TRUE(Walk().empty());
    CardImage again(temp, Card());
    EXPECT_EQ(FsckFindings(again), "");
    EXPECT_TRUE(again.Names().empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, SectorFormatSizeTest,
                         ::testing::Values(SizeCase{"TwoMiB", 4096, 12}, SizeCase{"FortyEightMiB", 98304, 12},
                                           SizeCase{"JustUnder64MiB", 130816, 12}, SizeCase{"Exactly64MiB", 131072, 16},
                                           SizeCase{"Above64MiB", 131136, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

// A full format also erases every cluster of the data area.
TEST_F(SectorFormatTest, FullFormatClearsTheDataArea)
{
    const std::uint32_t sectors = 4096;
    ASSERT_TRUE(player.Player().InsertSectorCard(sectors));
    ASSERT_TRUE(player.Player().ImportCard(Bytes(std::size_t{sectors} * 512, 0xAB)));
    ASSERT_EQ(Identify(), kStatusOk);
    ASSERT_EQ(device.FormatSectorCard(0), kStatusOk);
    FatFormatBuilder b;
    ASSERT_TRUE(b.ComputeParameters(sectors * 512, 512));
    const std::uint32_t dataStart = b.partitionStart + b.systemSectors;
    EXPECT_EQ(progress.counters.total, dataStart + b.ClusterCount());
    EXPECT_EQ(progress.counters.done, progress.counters.total);
    Bytes card = Card();
    const std::size_t dataEnd = (std::size_t{dataStart} + std::size_t{b.ClusterCount()} * b.sectorsPerCluster) * 512;
    for (std::size_t i = std::size_t{dataStart} * 512; i < dataEnd; ++i)
        ASSERT_EQ(card[i], 0) << i;
    CardImage image(temp, card);
    EXPECT_EQ(FsckFindings(image), "");
}

// Locked, missing and too small cards: refused before anything is written.
TEST_F(SectorFormatTest, RefusedCardsAreLeftAlone)
{
    ASSERT_TRUE(player.Player().InsertSectorCard(4096));
    ASSERT_EQ(Identify(), kStatusOk);
    const Bytes before = Card();

    player.Player().EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = true; });
    ASSERT_EQ(Identify(), kStatusOk);
    player.Player().ResetCounters();
    EXPECT_EQ(device.FormatSectorCard(1), kStatusWriteProtected);
    // Locked after identification: the format asks the player first.
    player.Player().EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = false; });
    ASSERT_EQ(Identify(), kStatusOk);
    player.Player().EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = true; });
    EXPECT_EQ(device.FormatSectorCard(1), kStatusWriteProtected);
    player.Player().EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = false; });

    // Taken out after identification.
    ASSERT_EQ(Identify(), kStatusOk);
    ASSERT_TRUE(player.Player().SetCardInserted(false));
    EXPECT_EQ(device.FormatSectorCard(1), kStatusNoStorage);
    EXPECT_FALSE(CardVolume.IsMounted());
    ASSERT_EQ(Identify(), kStatusOk);
    EXPECT_EQ(device.FormatSectorCard(1), kStatusNoStorage);
    ASSERT_TRUE(player.Player().SetCardInserted(true));
    EXPECT_EQ(player.Player().Counters().cardSectorsWritten, 0u);
    EXPECT_TRUE(Card() == before);

    // 64 sectors cannot hold the system area and one cluster.
    ASSERT_TRUE(player.Player().InsertSectorCard(64, false));
    ASSERT_EQ(Identify(), kStatusOk);
    player.Player().ResetCounters();
    EXPECT_EQ(device.FormatSectorCard(1), kStatusInvalidCard);
    EXPECT_EQ(player.Player().Counters().cardSectorsWritten, 0u);

    // Not a sector-card model.
    sim::TestPlayer nandModel(WithoutInternalChips(9));
    ASSERT_TRUE(nandModel.Ok());
    ASSERT_EQ(Identify(), kStatusOk);
    EXPECT_EQ(device.FormatSectorCard(1), kStatusNoStorage);
}

// A write that fails is reported, a card pulled half-way gives 5, and the next format mends the card.
TEST_F(SectorFormatTest, FailuresAreReported)
{
    ASSERT_TRUE(player.Player().InsertSectorCard(4096));
    ASSERT_EQ(Identify(), kStatusOk);
    player.Server().ResetCounters();
    ASSERT_EQ(device.FormatSectorCard(1), kStatusOk);
    auto counters = player.Server().Counters();
    const std::uint64_t transfers = counters.hostWrites + counters.hostReads;

    for (std::uint64_t nth : {std::uint64_t{3}, transfers / 2, transfers - 8}) {
        SCOPED_TRACE(nth);
        player.Server().InjectFault(sim::FaultKind::Fail, nth);
        EXPECT_EQ(device.FormatSectorCard(1), kStatusUsbError);
        player.Server().ClearFault();
    }
    // The card leaves the slot while the system area is written.
    struct PullCard : ProgressRecorder {
        sim::SimulatedPlayer* player = nullptr;
        void FireProgress() override
        {
            if (++fired == 10)
                player->EditConfig([](sim::PlayerConfig& c) { c.cardPresent = false; });
        }
    } pull;
    pull.player = &player.Player();
    SetProgressSink(&pull);
    EXPECT_EQ(device.FormatSectorCard(1), kStatusNoStorage);
    EXPECT_FALSE(CardVolume.IsMounted());
    SetProgressSink(&progress);
    player.Player().EditConfig([](sim::PlayerConfig& c) { c.cardPresent = true; });

    ASSERT_EQ(Identify(), kStatusOk);
    ASSERT_EQ(device.FormatSectorCard(1), kStatusOk);
    CardImage image(temp, Card());
    EXPECT_EQ(FsckFindings(image), "");
}

}  // namespace
