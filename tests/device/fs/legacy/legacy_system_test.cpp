// System files written as runs of physically consecutive blocks, and the store's block stream.
#include "tests/device/fs/legacy/legacy_fixture.h"

#include "device/fs/engine_status.h"

#include <cstring>

using namespace engine;
using namespace legacytest;

namespace {

struct RunCase {
    const char* name;
    int model;
};

std::uint32_t BlocksPerRow()
{
    return 256u / NandChips[0].sectorsPerBlock;
}

}  // namespace

class LegacyRunTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(LegacyRunTest, FontTakesTheFirstRunOfConsecutiveFreeBlocks)
{
    LegacyPlayer p(GetParam().model);
    ASSERT_TRUE(p.Ready());
    const std::uint32_t perRow = BlocksPerRow();
    // Used blocks 1..x-1 but a gap of one at block 3: a run of three starts at x, and on blocks of
    // 16 and 32 sectors it crosses from the last block of row 0 into row 1.
    const std::uint32_t x = perRow >= 4 ? perRow - 1 : 6;
    for (std::uint32_t b = 1; b < x; ++b) {
        if (b != 3)
            p.PokeRecord(0, b, FileRecord(0xAA, 250));
    }
    ASSERT_EQ(p.device.Initialize(p.info), 0u);
    DirRecord record;
    ASSERT_EQ(p.device.LegacyFindFirst(record), -1);  // the root goes to the free block 0

    const std::uint32_t blockBytes = p.device.GetBlockBytes();
    const Bytes font = Pattern(2 * blockBytes + 300, 7);
    const std::uint32_t freeBefore = LegacyStore.freeBlockCount;
    ASSERT_EQ(
        p.device.WriteFontFile("C:\\fonts\\Player Font.fon", static_cast<std::uint32_t>(font.size()), font.data()), 0u);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeBefore - 3);

    for (std::uint32_t i = 0; i < 3; ++i) {
        const Bytes r = p.Spare(0, x + i);
        EXPECT_EQ(r[0], i == 0 ? 0xAA : 0xEE) << "block " << x + i;
        EXPECT_EQ(r[1], 4);
        EXPECT_EQ(r[2] << 8 | r[3], 3);
        EXPECT_EQ(r[6], 'F');
        if (i < 2) {
            auto [row, sector] = BlockAddress(NandChips[0], x + i + 1);
            EXPECT_EQ(r[7], NandChips[0].chipSelect);
            EXPECT_EQ(r[8] << 8 | r[9], static_cast<int>(row));
            EXPECT_EQ(r[10], sector);
        } else {
            EXPECT_EQ(Bytes(r.begin() + 7, r.begin() + 11), Bytes(4, 0xFF));
        }
    }
    EXPECT_EQ(p.Spare(0, 3), Bytes(16, 0xFF)) << "the one-block gap stays free";

    ASSERT_EQ(p.device.LegacyFindFirst(record), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.name), "Player Font.fon");
    EXPECT_EQ(record.attributes, 6);
    EXPECT_EQ(record.firstCluster, 4);
    EXPECT_EQ(record.size, font.size());
    test_support::TempFolder temp;
    ASSERT_EQ(p.device.LegacyUpload(0, 4, temp.File("font").string().c_str()), 0u);
    EXPECT_EQ(ReadFile(temp.File("font")), font);

    EXPECT_EQ(p.device.WriteFontFile("FONT.FON", 10, font.data()), kStatusFileError) << "the font is there";
}

INSTANTIATE_TEST_SUITE_P(Geometries, LegacyRunTest,
                         ::testing::Values(RunCase{"Blocks16", 1}, RunCase{"Blocks32", 3}, RunCase{"Blocks256", 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LegacySystemFileTest, OneEntryPerIdAndNothingLeftAfterAFailure)
{
    LegacyPlayer p(2);
    ASSERT_TRUE(p.Ready());
    const Bytes font = Pattern(100, 1);
    const Bytes data = Pattern(1024, 2);
    ASSERT_EQ(p.device.WriteFontFile("font.fon", 100, font.data()), 0u);
    // A font does not keep other system files out; a second file with the same id is refused.
    ASSERT_EQ(p.device.WriteSystemFile("sysdata.dat", 1024, data.data(), 5), 0u);
    EXPECT_EQ(p.device.WriteSystemFile("other.dat", 1024, data.data(), 5), kStatusFileError);
    EXPECT_EQ(p.device.WriteSystemFile("root.dat", 1024, data.data(), 1), kStatusFileError);
    EXPECT_EQ(p.device.WriteSystemFile("wide.dat", 1024, data.data(), 256), kStatusFileError);

    DirRecord record;
    ASSERT_EQ(p.device.LegacyFindFirst(record), 0);
    ASSERT_EQ(p.device.LegacyFindNext(record), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.name), "sysdata.dat");
    EXPECT_EQ(record.attributes, 6);
    EXPECT_EQ(record.firstCluster, 5);
    EXPECT_EQ(
        std::memcmp(LegacyStore.root[static_cast<std::size_t>(LegacyFindEntryById(5))].entry.name, "SYSDATA DAT", 11),
        0);

    // A transfer failure: 4, no entry, and the next write of the id reads back whole.
    p.player.Server().InjectFault(sim::FaultKind::Fail, 2);
    EXPECT_EQ(p.device.WriteSystemFile("memo.mem", 1024, data.data(), 9), kStatusUsbError);
    p.player.Server().ClearFault();
    EXPECT_EQ(ListNames(p.device), (std::vector<std::string>{"font.fon", "sysdata.dat"}));
    const Bytes second = Pattern(1024, 3);
    ASSERT_EQ(p.device.WriteSystemFile("memo.mem", 1024, second.data(), 9), 0u);
    test_support::TempFolder temp;
    ASSERT_EQ(p.device.LegacyUpload(0, 9, temp.File("memo").string().c_str()), 0u);
    EXPECT_EQ(ReadFile(temp.File("memo")), second);
}

TEST(LegacySystemFileTest, NoRunLongEnoughGivesStorageFull)
{
    // Model 5's one chip, in its smallest size: the case writes half of it.
    sim::PlayerConfig config = sim::DefaultConfig(5);
    config.nandIds[0] = {0xEC, 0xE6};
    LegacyPlayer p(config);
    ASSERT_TRUE(p.Ready());
    ASSERT_EQ(NandChips[0].rowCount, 64u);
    // A bad block in the middle of the only chip: enough free blocks, but no run of all but one.
    const std::uint32_t blocks = NandChips[0].rowCount * BlocksPerRow();
    Bytes bad(16, 0xFF);
    bad[5] = 0x00;
    p.PokeRecord(0, blocks / 2, bad);
    ASSERT_EQ(p.device.Initialize(p.info), 0u);
    DirRecord record;
    ASSERT_EQ(p.device.LegacyFindFirst(record), -1);

    const std::uint32_t freeBefore = LegacyStore.freeBlockCount;
    ASSERT_GT(freeBefore, 4u);
    const Bytes data = Pattern(std::size_t(freeBefore - 1) * p.device.GetBlockBytes(), 4);
    EXPECT_EQ(p.device.WriteSystemFile("huge.dat", static_cast<std::uint32_t>(data.size()), data.data(), 10),
              kStatusStorageFull);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeBefore);
    EXPECT_TRUE(ListNames(p.device).empty());
    // Half the chip fits in the first run.
    const std::uint32_t half = (blocks / 2 - 2) * p.device.GetBlockBytes();
    EXPECT_EQ(p.device.WriteSystemFile("half.dat", half, data.data(), 10), kStatusOk);
}

class LegacyStreamTest : public ::testing::TestWithParam<int> {};

TEST_P(LegacyStreamTest, WriteThenReadBackAndOtherOperationsWait)
{
    LegacyPlayer p(GetParam());
    ASSERT_TRUE(p.Ready());
    test_support::TempFolder temp;
    const std::uint32_t blockBytes = p.device.GetBlockBytes();
    WriteFile(temp.File("x.bin"), Pattern(10, 1));
    ASSERT_EQ(p.device.LegacyDownload(0, temp.File("x.bin").string().c_str(), 0), 0u);

    const Bytes content = Pattern(2 * blockBytes + 333, 5);
    p.device.SetStreamStorage(0);
    ASSERT_EQ(p.device.Create(L"Streamed file.wav"), 0u);
    // While the stream is open the store refuses everything else.
    DirRecord record;
    EXPECT_EQ(p.device.LegacyFindFirst(record), static_cast<std::int32_t>(kStatusFileError));
    EXPECT_EQ(p.device.LegacyDownload(0, temp.File("x.bin").string().c_str(), 0), kStatusFileError);
    EXPECT_EQ(p.device.DeleteFile(0, 6), kStatusFileError);
    EXPECT_EQ(p.device.WriteSystemFile("s.dat", 4, content.data(), 5), kStatusFileError);
    std::size_t at = 0;
    for (std::size_t piece : {100u, 5000u, 1u, 70000u, 300000u}) {
        const std::size_t n = std::min(piece, content.size() - at);
        ASSERT_EQ(p.device.Write(content.data() + at, static_cast<std::uint32_t>(n)), 0u);
        at += n;
    }
    ASSERT_EQ(at, content.size());
    ASSERT_EQ(p.device.Close(), 0u);

    ASSERT_EQ(p.device.LegacyFindFirst(record), 0);
    ASSERT_EQ(p.device.LegacyFindNext(record), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.name), "Streamed file.wav");
    EXPECT_EQ(record.size, content.size());
    const std::uint32_t id = record.firstCluster;
    EXPECT_EQ(id, 7u);

    ASSERT_EQ(p.device.OpenRead(id), 0u);
    Bytes back(content.size() + 10);
    std::uint32_t got = 0;
    ASSERT_EQ(p.device.Read(back.data(), static_cast<std::uint32_t>(back.size()), &got), 0u);
    EXPECT_EQ(got, content.size());
    back.resize(got);
    EXPECT_EQ(back, content);
    ASSERT_EQ(p.device.Close(), 0u);

    // The stream's file is an ordinary file afterwards.
    ASSERT_EQ(p.device.LegacyUpload(0, id, temp.File("back").string().c_str()), 0u);
    EXPECT_EQ(ReadFile(temp.File("back")), content);
    ASSERT_EQ(p.device.DeleteFile(0, id), 0u);
    EXPECT_EQ(ListNames(p.device), std::vector<std::string>{"x.bin"});

    // Wrong storage or mode.
    p.device.SetStreamStorage(1);
    EXPECT_EQ(p.device.Create(L"card.bin"), kStatusFileError);
    p.device.SetStreamStorage(0);
    EXPECT_EQ(p.device.OpenRead(99), kStatusFolderError);
    EXPECT_EQ(ListNames(p.device), std::vector<std::string>{"x.bin"});
}

INSTANTIATE_TEST_SUITE_P(Models, LegacyStreamTest, ::testing::Values(1, 4, 8),
                         [](const auto& info) { return "Model" + std::to_string(info.param); });
