// Formatting the NAND-type card of the simulated player when things go wrong: bad blocks are passed
// over; a locked, missing or vanishing card and a failing transfer are reported, and the next format
// makes the card whole.
#include "tests/device/fs/card/nand_format_fixture.h"

using namespace engine;
using namespace cardtest;

namespace {

// Bad blocks where the information structure and the system area would go, and blocks that refuse to
// erase, are passed over; the card mounts and works, and a second format empties it.
TEST_F(NandFormatTest, BadBlocksArePassedOver)
{
    ASSERT_TRUE(player.Player().InsertNandCard(0xEC, 0xE6, false));
    player.Player().MarkBadBlock(Position(), 1);
    player.Player().FailErase(Position(), 3);
    player.Player().MarkBadBlock(Position(), 5);
    Identify();
    ASSERT_EQ(device.FormatNandCard(), kStatusOk);
    ASSERT_TRUE(CardVolume.IsMounted());
    CleanCard();
    // The information structure went to block 2, the first usable one after block 0.
    EXPECT_EQ(player.Player().PeekPage(Position(), 0, 2 * 16)[0], 0x01);
    Bytes a = RandomBytes(5000, 3);
    ASSERT_EQ(Download("a.bin", a), kStatusOk);
    CardImage image(temp, CleanCard());
    EXPECT_TRUE(image.Read("a.bin") == a);

    // Formatting a card that holds files empties it.
    ASSERT_EQ(device.FormatNandCard(), kStatusOk);
    EXPECT_TRUE(Walk().empty());
    CardImage empty(temp, CleanCard());
    EXPECT_TRUE(empty.Names().empty());
}

// A locked card and an absent card are refused before anything is erased; a card pulled during the
// erase pass gives 5.
TEST_F(NandFormatTest, LockedMissingAndVanishingCards)
{
    ASSERT_TRUE(player.Player().InsertNandCard(0xEC, 0xE6, true));
    player.Player().EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = true; });
    ASSERT_EQ(Identify(), kStatusOk);
    player.Player().ResetCounters();
    EXPECT_EQ(device.FormatNandCard(), kStatusWriteProtected);
    // Locked after identification.
    player.Player().EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = false; });
    ASSERT_EQ(Identify(), kStatusOk);
    player.Player().EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = true; });
    EXPECT_EQ(device.FormatNandCard(), kStatusWriteProtected);
    player.Player().EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = false; });
    EXPECT_EQ(player.Player().Counters().blockErases, 0u);

    // Out of the slot at identification, or taken out after it.
    ASSERT_TRUE(player.Player().SetCardInserted(false));
    ASSERT_EQ(Identify(), kStatusOk);
    EXPECT_EQ(device.FormatNandCard(), kStatusNoStorage);
    ASSERT_TRUE(player.Player().SetCardInserted(true));
    ASSERT_EQ(Identify(), kStatusOk);
    ASSERT_TRUE(player.Player().SetCardInserted(false));
    EXPECT_EQ(device.FormatNandCard(), kStatusNoStorage);
    EXPECT_EQ(player.Player().Counters().blockErases, 0u);

    // Taken out during the erase pass.
    ASSERT_TRUE(player.Player().SetCardInserted(true));
    ASSERT_EQ(Identify(), kStatusOk);
    struct PullCard : ProgressRecorder {
        sim::SimulatedPlayer* player = nullptr;
        void FireProgress() override
        {
            if (++fired == 100)
                player->SetCardInserted(false);
        }
    } pull;
    pull.player = &player.Player();
    SetProgressSink(&pull);
    EXPECT_EQ(device.FormatNandCard(), kStatusNoStorage);
    EXPECT_FALSE(CardVolume.IsMounted());
    SetProgressSink(&progress);

    // Back in: a format makes it whole again.
    ASSERT_TRUE(player.Player().SetCardInserted(true));
    Identify();
    ASSERT_EQ(device.FormatNandCard(), kStatusOk);
    CleanCard();
}

// A transfer that fails in the erase pass, in the system area or in the mount is reported; the next
// format succeeds.
TEST_F(NandFormatTest, FailingTransfersAreReported)
{
    ASSERT_TRUE(player.Player().InsertNandCard(0xEC, 0xE6, true));
    ASSERT_EQ(Identify(), kStatusOk);
    player.Server().ResetCounters();
    ASSERT_EQ(device.FormatNandCard(), kStatusOk);
    auto counters = player.Server().Counters();
    const std::uint64_t transfers = counters.hostWrites + counters.hostReads;
    ASSERT_GT(transfers, 200u);

    for (std::uint64_t nth : {std::uint64_t{5}, transfers / 2, transfers - 100, transfers - 30}) {
        SCOPED_TRACE(nth);
        player.Server().InjectFault(sim::FaultKind::Fail, nth);
        EXPECT_NE(device.FormatNandCard(), kStatusOk);
        player.Server().ClearFault();
    }
    ASSERT_EQ(device.FormatNandCard(), kStatusOk);
    CleanCard();
}

}  // namespace
