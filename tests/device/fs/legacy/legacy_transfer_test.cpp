// Download and upload through the flat store on every older model: byte-identical round trips, the
// MP3 tag in front of the audio, the block records on the chip.
#include "tests/device/fs/legacy/legacy_fixture.h"

#include "device/fs/pc/id3_tag.h"
#include "device/fs/card/card_volume.h"
#include "device/fs/engine_status.h"

#include <cstring>

using namespace engine;
using namespace legacytest;

class LegacyModelTest : public ::testing::TestWithParam<int> {};

TEST_P(LegacyModelTest, DownloadAndUploadRoundTrip)
{
    LegacyPlayer p(GetParam());
    ASSERT_TRUE(p.Ready());
    test_support::TempFolder temp;
    const std::uint32_t blockBytes = p.device.GetBlockBytes();
    ASSERT_NE(blockBytes, 0u);

    DirRecord record;
    EXPECT_EQ(p.device.LegacyFindFirst(record), -1) << "a fresh store lists nothing";
    // The root directory block was made at the first block of chip 0.
    Bytes rootRecord = p.Spare(0, 0);
    const Bytes expectedRoot = {0xAA, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 'R', 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 'P', 'C'};
    EXPECT_EQ(rootRecord, expectedRoot);
    const std::uint32_t freeBefore = LegacyStore.freeBlockCount;

    const Bytes content = Pattern(2 * blockBytes + 100, 1);
    WriteFile(temp.File("Long file name.bin"), content);
    WriteFile(temp.File("one.dat"), Pattern(blockBytes, 2));
    ASSERT_EQ(p.device.LegacyDownload(0, temp.File("Long file name.bin").string().c_str(), 0), 0u);
    ASSERT_EQ(p.device.LegacyDownload(0, temp.File("one.dat").string().c_str(), 0), 0u);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeBefore - 4);

    ASSERT_EQ(p.device.LegacyFindFirst(record), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.name), "Long file name.bin");
    EXPECT_EQ(record.size, content.size());
    EXPECT_EQ(record.attributes, 0x80);
    EXPECT_EQ(record.firstCluster, 6u);
    ASSERT_EQ(p.device.LegacyFindNext(record), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.name), "one.dat");
    EXPECT_EQ(record.firstCluster, 7u);
    EXPECT_EQ(p.device.LegacyFindNext(record), -1);

    // Blocks 1-3 hold the first file, block 4 the second: records and links as the player reads them.
    const NandChip& chip0 = NandChips[0];
    for (std::uint32_t b = 1; b <= 3; ++b) {
        Bytes first = p.Spare(0, b, 0);
        Bytes other = p.Spare(0, b, chip0.sectorsPerBlock - 1);
        EXPECT_EQ(first[0], b == 1 ? 0xAA : 0xEE) << "block " << b;
        EXPECT_EQ(other[0], 0xEE);
        EXPECT_EQ(first[1], 6);
        EXPECT_EQ(first[3], 3);
        if (b < 3) {
            auto [row, sector] = BlockAddress(chip0, b + 1);
            EXPECT_EQ(first[7], chip0.chipSelect);
            EXPECT_EQ(first[8] << 8 | first[9], static_cast<int>(row));
            EXPECT_EQ(first[10], sector);
        }
        EXPECT_EQ(first[14], 'P');
        EXPECT_EQ(first[15], 'C');
    }
    const Bytes one = p.Spare(0, 4);
    EXPECT_EQ(one[0], 0xAA);
    EXPECT_EQ(one[7], 0xFF);
    EXPECT_EQ(one[8], 0xFF);
    EXPECT_EQ(one[9], 0xFF);
    EXPECT_EQ(one[10], 0xFF);
    EXPECT_EQ(p.Spare(0, 4, 1)[0], 0xEE);

    ASSERT_EQ(p.device.LegacyUpload(0, 6, temp.File("back.bin").string().c_str()), 0u);
    EXPECT_EQ(ReadFile(temp.File("back.bin")), content);
    ASSERT_EQ(p.device.LegacyUpload(0, 7, temp.File("back.dat").string().c_str()), 0u);
    EXPECT_EQ(ReadFile(temp.File("back.dat")), Pattern(blockBytes, 2));

    // What a later identification reads back from the chips.
    LegacyResetState();
    DeviceInfoBlock info;
    ASSERT_EQ(p.device.Initialize(info), 0u);
    EXPECT_EQ(ListNames(p.device), (std::vector<std::string>{"Long file name.bin", "one.dat"}));
    ASSERT_EQ(p.device.LegacyUpload(0, 6, temp.File("again.bin").string().c_str()), 0u);
    EXPECT_EQ(ReadFile(temp.File("again.bin")), content);
}

INSTANTIATE_TEST_SUITE_P(Models, LegacyModelTest, ::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 8),
                         [](const auto& info) { return "Model" + std::to_string(info.param); });

TEST(LegacyMp3Test, TagThenAudioFromTheFrameSync)
{
    LegacyPlayer p(3);
    ASSERT_TRUE(p.Ready());
    test_support::TempFolder temp;

    // ID3v2.3 with a title, junk, then MPEG frames.
    Bytes mp3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 17};
    const Bytes frame = {'T', 'I', 'T', '2', 0, 0, 0, 7, 0, 0, 0, 'S', 'o', 'n', 'g', ' ', '1'};
    mp3.insert(mp3.end(), frame.begin(), frame.end());
    const Bytes junk = {1, 2, 3, 0xFF, 0x00, 4};
    mp3.insert(mp3.end(), junk.begin(), junk.end());
    const std::size_t sync = mp3.size();
    Bytes audio = Pattern(40000, 3);
    audio[0] = 0xFF;
    audio[1] = 0xFB;
    mp3.insert(mp3.end(), audio.begin(), audio.end());
    const auto path = temp.File("song.Mp3");
    WriteFile(path, mp3);

    TagRecord builder;
    std::int64_t offset = 0;
    std::unique_ptr<std::uint8_t[]> tag;
    const std::uint32_t tagLength = builder.BuildTagFromFile(path.string().c_str(), &offset, &tag);
    ASSERT_GT(tagLength, 0u);

    ASSERT_EQ(p.device.LegacyDownload(0, path.string().c_str(), 0), 0u);
    DirRecord record;
    ASSERT_EQ(p.device.LegacyFindFirst(record), 0);
    EXPECT_EQ(record.size, tagLength + mp3.size() - sync);
    EXPECT_EQ(record.attributes, 0x80);
    EXPECT_EQ(p.Spare(0, 1)[6], 1) << "type code of an MP3 file";

    ASSERT_EQ(p.device.LegacyUpload(0, record.firstCluster, temp.File("back.mp3").string().c_str()), 0u);
    Bytes expected(tag.get(), tag.get() + tagLength);
    expected.insert(expected.end(), mp3.begin() + static_cast<std::ptrdiff_t>(sync), mp3.end());
    EXPECT_EQ(ReadFile(temp.File("back.mp3")), expected);

    // Without a frame sync nothing is stored.
    WriteFile(temp.File("nosync.mp3"), Pattern(3000, 4));
    Bytes noSync = Pattern(3000, 4);
    for (auto& b : noSync)
        b &= 0x7F;
    WriteFile(temp.File("nosync.mp3"), noSync);
    EXPECT_EQ(p.device.LegacyDownload(0, temp.File("nosync.mp3").string().c_str(), 0), kStatusFileError);
    EXPECT_EQ(ListNames(p.device), std::vector<std::string>{"song.Mp3"});
}

// Storage 1 of the older models is the NAND-type card: its files go to and come from the card volume's
// root, and internal memory is left alone.
TEST(LegacyCardTest, TransfersOnStorageOneUseTheCardVolume)
{
    LegacyPlayer lp(3);
    ASSERT_TRUE(lp.player.Ok());
    ASSERT_TRUE(lp.Sim().InsertNandCard(0xEC, 0x73));
    lp.status = lp.device.Initialize(lp.info);
    ASSERT_TRUE(lp.Ready());
    ASSERT_TRUE(CardVolume.IsMounted());

    test_support::TempFolder temp;
    const Bytes content = Pattern(40000, 11);
    WriteFile(temp.File("song.bin"), content);
    ASSERT_EQ(lp.device.LegacyDownload(1, temp.File("song.bin").string().c_str(), 0), kStatusOk);
    EXPECT_TRUE(ListNames(lp.device).empty()) << "nothing written to internal memory";

    DirRecord record;
    std::int32_t found = CardVolume.FindFirst(record);
    while (found == 0 && record.size != content.size())
        found = CardVolume.FindNext(record);
    ASSERT_EQ(found, 0) << "the file is in the card's root";

    const auto back = temp.File("back.bin");
    ASSERT_EQ(lp.device.LegacyUpload(1, record.firstCluster, back.string().c_str()), kStatusOk);
    EXPECT_EQ(ReadFile(back), content);
    EXPECT_EQ(lp.device.LegacyUpload(1, 0x12345, back.string().c_str()), kStatusFileError);
    EXPECT_EQ(lp.device.LegacyDownload(1, nullptr, 0), kStatusFileError);
}

TEST(LegacyCardTest, PlayOrderAndSizesOfTheCardRoot)
{
    LegacyPlayer lp(3);
    ASSERT_TRUE(lp.player.Ok());
    ASSERT_TRUE(lp.Sim().InsertNandCard(0xEC, 0x73));
    lp.status = lp.device.Initialize(lp.info);
    ASSERT_TRUE(lp.Ready());

    std::uint32_t internalTotal = 0, internalFree = 0, externalTotal = 0, externalFree = 0;
    ASSERT_EQ(lp.device.QueryStorageSizes(internalTotal, internalFree, externalTotal, externalFree), 0u);
    const std::uint32_t blockBytes = lp.device.GetBlockBytes();
    const std::uint32_t clusterBytes = CardVolume.card.sectorsPerBlock * 512u;
    EXPECT_EQ(internalTotal, Engine.InternalBlockCount * blockBytes);
    EXPECT_EQ(internalFree, LegacyStore.freeBlockCount * blockBytes);
    EXPECT_GT(internalFree, 0u);
    EXPECT_LE(internalFree, internalTotal);
    EXPECT_EQ(externalTotal, Engine.CardBlockCount * clusterBytes);
    EXPECT_GT(externalFree, 0u);
    EXPECT_LT(externalFree, externalTotal);

    test_support::TempFolder temp;
    std::vector<std::uint16_t> ids;
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
        WriteFile(temp.File(name), Pattern(clusterBytes + 1, 3));
        ASSERT_EQ(lp.device.LegacyDownload(1, temp.File(name).string().c_str(), 0), kStatusOk);
    }
    std::uint32_t unused = 0, freeAfter = 0;
    ASSERT_EQ(lp.device.QueryStorageSizes(unused, unused, unused, freeAfter), 0u);
    EXPECT_EQ(freeAfter, externalFree - 6 * clusterBytes);
    EXPECT_EQ(unused, externalTotal);

    const auto cardNames = [] {
        std::vector<std::string> names;
        std::vector<std::uint16_t> clusters;
        DirRecord record;
        for (std::int32_t r = CardVolume.FindFirst(record); r == 0; r = CardVolume.FindNext(record)) {
            names.emplace_back(reinterpret_cast<const char*>(record.name));
            clusters.push_back(record.firstCluster);
        }
        return std::make_pair(names, clusters);
    };
    const auto [before, clusters] = cardNames();
    ASSERT_EQ(before, (std::vector<std::string>{"a.bin", "b.bin", "c.bin"}));

    ASSERT_EQ(lp.device.SetPlayIndex(1, clusters[2], 0), kStatusOk);
    EXPECT_EQ(cardNames().first, (std::vector<std::string>{"c.bin", "a.bin", "b.bin"}));
    EXPECT_EQ(lp.device.SetPlayIndex(1, clusters[2], 3), kStatusFileError);
    EXPECT_EQ(lp.device.SetPlayIndex(1, 0x7777, 0), kStatusFileError);
    // The new order is on the card: it survives a new identification and mount.
    ASSERT_EQ(lp.device.Initialize(lp.info), 0u);
    EXPECT_EQ(cardNames().first, (std::vector<std::string>{"c.bin", "a.bin", "b.bin"}));

    // A failed system-area rewrite leaves the order as it was.
    lp.player.Server().InjectFault(sim::FaultKind::Fail, 3);
    EXPECT_EQ(lp.device.SetPlayIndex(1, clusters[1], 0), kStatusUsbError);
    lp.player.Server().ClearFault();
    EXPECT_EQ(cardNames().first, (std::vector<std::string>{"c.bin", "a.bin", "b.bin"}));
    ASSERT_EQ(lp.device.Initialize(lp.info), 0u);
    EXPECT_EQ(cardNames().first, (std::vector<std::string>{"c.bin", "a.bin", "b.bin"}));
    ASSERT_EQ(lp.device.SetPlayIndex(1, clusters[1], 0), kStatusOk);
    EXPECT_EQ(cardNames().first, (std::vector<std::string>{"b.bin", "c.bin", "a.bin"}));
}

TEST(LegacyCardTest, SizesOfAMissingOrUnformattedCard)
{
    LegacyPlayer noCard(3);
    ASSERT_TRUE(noCard.Ready());
    std::uint32_t sizes[4] = {1, 1, 1, 1};
    ASSERT_EQ(noCard.device.QueryStorageSizes(sizes[0], sizes[1], sizes[2], sizes[3]), 0u);
    EXPECT_GT(sizes[0], 0u);
    EXPECT_EQ(sizes[2], 0u);
    EXPECT_EQ(sizes[3], 0u);
    EXPECT_EQ(noCard.device.SetPlayIndex(1, 2, 0), kStatusNoStorage);

    // A sector card of 32 MiB, unformatted and then formatted.
    for (const bool formatted : {false, true}) {
        SCOPED_TRACE(formatted ? "formatted" : "unformatted");
        LegacyPlayer lp(10);
        ASSERT_TRUE(lp.player.Ok());
        ASSERT_TRUE(lp.Sim().InsertSectorCard(65536, formatted));
        lp.status = lp.device.Initialize(lp.info);
        ASSERT_TRUE(lp.Ready());
        ASSERT_EQ(lp.device.QueryStorageSizes(sizes[0], sizes[1], sizes[2], sizes[3]), 0u);
        if (!formatted) {
            EXPECT_EQ(sizes[2], 32u << 20);
            EXPECT_EQ(sizes[3], 0u);
            continue;
        }
        const std::uint32_t clusterBytes = CardVolume.card.sectorsPerBlock * 512u;
        EXPECT_EQ(sizes[2], CardVolume.ClusterCount() * clusterBytes);
        EXPECT_EQ(sizes[3], CardVolume.FreeClusters() * clusterBytes);
        EXPECT_GT(sizes[3], 30u << 20);
    }
}
