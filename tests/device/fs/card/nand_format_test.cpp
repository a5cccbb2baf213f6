// Formatting the NAND-type card of the simulated player, on every card size it offers: the new system
// area is the one the player's own reading of the format expects, clean for fsck.fat and mtools, mounted
// by the engine and usable for a download and upload.
#include "tests/device/fs/card/nand_format_fixture.h"

using namespace engine;
using namespace cardtest;

namespace {

struct CardSize {
    const char* name;
    std::uint8_t device;  // maker 0xEC
    std::uint8_t fatType;
};

class NandFormatSizeTest : public NandFormatTest, public ::testing::WithParamInterface<CardSize> {};

TEST_P(NandFormatSizeTest, NewVolumeIsTheExpectedOneAndUsable)
{
    // The system area the player's side expects of a freshly formatted card.
    ASSERT_TRUE(player.Player().InsertNandCard(0xEC, GetParam().device, true));
    auto reference = player.Player().ExportCard();
    ASSERT_TRUE(reference);

    // An erased card holds no volume: identification reports it, the format lays one out.
    ASSERT_TRUE(player.Player().InsertNandCard(0xEC, GetParam().device, false));
    EXPECT_NE(Identify(), kStatusOk);
    EXPECT_FALSE(CardVolume.IsMounted());
    ASSERT_EQ(device.FormatNandCard(), kStatusOk);
    ASSERT_TRUE(CardVolume.IsMounted());
    EXPECT_EQ(CardVolume.FatType(), GetParam().fatType);
    EXPECT_EQ(progress.counters.total, Engine.CardBlockCount);
    EXPECT_EQ(progress.counters.done, Engine.CardBlockCount);
    SyncWithPlayer();
    auto formatted = player.Player().ExportCard();
    ASSERT_TRUE(formatted);
    const std::size_t systemBytes = std::size_t{CardVolume.DataStartSector()} * 512;
    EXPECT_TRUE(std::equal(formatted->begin(), formatted->begin() + systemBytes, reference->begin()));

    // Block 0 is retired; the next block holds the information structure twice in its first two pages.
    auto block0 = player.Player().PeekPage(Position(), 0, 0);
    for (std::size_t i = 512; i < 528; ++i)
        EXPECT_EQ(block0[i], 0) << i;
    const std::uint32_t s = CardVolume.card.sectorsPerBlock;
    for (std::uint32_t page = 0; page < 2; ++page) {
        auto cis = player.Player().PeekPage(Position(), 0, s + page);
        EXPECT_EQ(cis[0], 0x01);
        EXPECT_EQ(cis[256 + 109], 0xFF);
        EXPECT_EQ(cis[512 + 6], 0);
        EXPECT_EQ(cis[512 + 12], 0);
        EXPECT_EQ(cis[512 + 4], 0xFF);
    }

    // A file goes there, PC tools read it back, and so does the engine after a fresh identification.
    Bytes a = RandomBytes(2 * s * 512 + 7, 1);
    ASSERT_EQ(Download("first file.bin", a), kStatusOk);
    CardImage image(temp, CleanCard());
    EXPECT_EQ(image.Names(), std::vector<std::string>{"first file.bin"});
    EXPECT_TRUE(image.Read("first file.bin") == a);
    ASSERT_EQ(Identify(), kStatusOk);
    std::string out = temp.File("up.bin").string();
    ASSERT_EQ(CardVolume.UploadFile(Walk()["first file.bin"].id, out.c_str()), kStatusOk);
    EXPECT_TRUE(ReadFile(out) == a);
}

INSTANTIATE_TEST_SUITE_P(Cards, NandFormatSizeTest,
                         ::testing::Values(CardSize{"Card8MB", 0xE6, 12}, CardSize{"Card16MB", 0x73, 12},
                                           CardSize{"Card32MB", 0x75, 12}, CardSize{"Card64MB", 0x76, 12},
                                           CardSize{"Card128MB", 0x79, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
