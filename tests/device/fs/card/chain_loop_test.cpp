// FAT chains that come back on themselves, planted in both FAT copies of an exported card: every walk
// along such a chain (uploads and streams, deletes, directory reads and moves on the folder-object
// models; uploads and deletes in the root of the older models) ends with 2, leaves no PC file behind
// and changes nothing on the card.
#include "tests/device/fs/card/external_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace engine;
using namespace exttest;

namespace {

// Sets FAT entry `cluster` to `value` in both FAT copies of partition 1 of a card image.
void PlantFatEntry(Bytes& card, std::uint32_t cluster, std::uint32_t value)
{
    std::uint8_t* part = card.data() + std::size_t{Le32(card.data() + 454)} * 512;
    const std::uint32_t spc = part[13];
    const std::uint32_t reserved = part[14] | (part[15] << 8);
    const std::uint32_t rootEntries = part[17] | (part[18] << 8);
    const std::uint32_t perFat = part[22] | (part[23] << 8);
    const std::uint32_t total = (part[19] | (part[20] << 8)) ? (part[19] | (part[20] << 8)) : Le32(part + 32);
    const std::uint32_t clusters = (total - reserved - 2 * perFat - rootEntries / 16) / spc;
    const std::uint8_t type = clusters <= kFat12MaxClusters ? 12 : 16;
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        std::uint8_t* fat = part + (reserved + std::size_t{copy} * perFat) * 512;
        ASSERT_TRUE(WriteFatEntry(fat, std::size_t{perFat} * 512, type, cluster, value));
    }
}

// The chain of a file as the mounted volume holds it, up to its end mark (bounded).
std::vector<std::uint32_t> ChainOf(std::uint32_t first)
{
    std::vector<std::uint32_t> chain;
    for (std::uint32_t c = first; c >= 2 && c <= CardVolume.MaxCluster() && chain.size() < 100;
         c = CardVolume.GetFatEntry(c))
        chain.push_back(c);
    return chain;
}

// The entry of cluster `from` of a six-cluster chain names cluster `to` (indexes into the chain). Every
// loop lies within the clusters the file's size needs.
struct LoopCase {
    const char* name;
    int from;
    int to;
};
// clang-format off
const LoopCase kLoops[] = {
    {"FirstClusterNamesItself", 0, 0},
    {"ALaterClusterNamesItself", 2, 2},
    {"BackToTheFirstCluster", 3, 0},
    {"ALongerCycle", 4, 1},
};
// clang-format on
constexpr std::size_t kFileClusters = 6;

struct Setting {
    CardKindCase kind;
    LoopCase loop;
};
void PrintTo(const Setting& s, std::ostream* os)
{
    *os << s.kind.name << "/" << s.loop.name;
}

class ChainLoopTest : public ::testing::TestWithParam<Setting> {
protected:
    void SetUp() override { ASSERT_TRUE(card.Start()); }
    void TearDown() override { Engine.CancelRequested = 0; }

    // Plants the case's loop into the chain starting at `first`, and mounts the card again.
    void PlantLoop(std::uint32_t first)
    {
        const std::vector<std::uint32_t> chain = ChainOf(first);
        ASSERT_EQ(chain.size(), kFileClusters);
        auto image = card.Export();
        ASSERT_TRUE(image);
        const LoopCase& loop = GetParam().loop;
        PlantFatEntry(*image, chain[loop.from], chain[loop.to]);
        ASSERT_TRUE(card.Test().Player().ImportCard(*image));
        ASSERT_EQ(card.Identify(), kStatusOk);
        planted = *image;
    }
    // Runs a refused operation: 2, no PC file, and the card as it was planted.
    void ExpectRefused(const char* what, const std::function<std::uint32_t()>& run, const std::string& pcFile = "")
    {
        SCOPED_TRACE(what);
        EXPECT_EQ(run(), kStatusFileError);
        if (!pcFile.empty()) {
            EXPECT_FALSE(std::filesystem::exists(pcFile));
        }
        auto now = card.Export();
        ASSERT_TRUE(now);
        EXPECT_TRUE(*now == planted) << "the card changed";
        // The next operation finds the volume as the card holds it.
        ASSERT_EQ(card.Identify(), kStatusOk);
    }
    std::uint32_t Download(ExternalFolder& in, const std::string& name, std::size_t size)
    {
        EXPECT_EQ(in.DownloadFile(Wide(card.PcFile(name, RandomBytes(size, 9))).c_str()), kStatusOk) << name;
        for (const Entry& e : List(in))
            if (e.name == name)
                return e.id;
        return 0;
    }
    std::uint32_t ReadThroughStream(ExternalFolder& f, std::uint32_t id)
    {
        std::uint32_t status = f.OpenRead(id);
        std::vector<std::uint8_t> chunk(1000);
        for (std::uint32_t n = 1; status == kStatusOk && n > 0;)
            status = f.Read(chunk.data(), std::uint32_t(chunk.size()), &n);
        f.Close();
        return status;
    }

    CardPlayer card{GetParam().kind};
    Bytes planted;
};

using FolderModelTest = ChainLoopTest;

// A file whose chain loops, in a subfolder: uploads, streams, its delete and the delete of the folder
// holding it are refused.
TEST_P(FolderModelTest, FileChainsThatLoopAreRefused)
{
    std::uint32_t music = 0;
    ASSERT_EQ(card.Open(0)->CreateSubfolder(L"Music", &music), kStatusOk);
    auto folder = card.Open(music);
    ASSERT_TRUE(folder);
    const std::uint32_t id = Download(*folder, "song.bin", kFileClusters * card.ClusterBytes() - 100);
    ASSERT_NO_FATAL_FAILURE(PlantLoop(id));
    const std::string out = card.Temp().File("back.bin").string();

    ExpectRefused(
        "upload", [&] { return card.Open(music)->UploadFile(id, Wide(out).c_str()); }, out);
    ExpectRefused("stream", [&] { return ReadThroughStream(*card.Open(music), id); });
    ExpectRefused("delete", [&] { return card.Open(music)->DeleteFile(id); });
    ExpectRefused("delete of the folder", [&] { return card.Open(0)->DeleteFile(music); });
}

std::vector<Setting> Settings(std::initializer_list<CardKindCase> kinds)
{
    std::vector<Setting> out;
    for (const CardKindCase& k : kinds)
        for (const LoopCase& l : kLoops)
            out.push_back({k, l});
    return out;
}

std::string Name(const ::testing::TestParamInfo<Setting>& info)
{
    return std::string(info.param.kind.name) + "_" + info.param.loop.name;
}

INSTANTIATE_TEST_SUITE_P(Cards, FolderModelTest, ::testing::ValuesIn(Settings({kCardKinds[0], kCardKinds[1]})), Name);

// A folder whose directory names itself as its next cluster: reading it, deleting it, moving it and
// moving an entry out of it are refused.
class DirectoryLoopTest : public ChainLoopTest {};

TEST_P(DirectoryLoopTest, DirectoryChainsThatLoopAreRefused)
{
    auto root = card.Open(0);
    std::uint32_t looped = 0, other = 0;
    ASSERT_EQ(root->CreateSubfolder(L"Looped", &looped), kStatusOk);
    ASSERT_EQ(root->CreateSubfolder(L"Other", &other), kStatusOk);
    const std::uint32_t file = Download(*card.Open(looped), "inside.bin", 10);
    auto image = card.Export();
    ASSERT_TRUE(image);
    PlantFatEntry(*image, looped, looped);
    ASSERT_TRUE(card.Test().Player().ImportCard(*image));
    ASSERT_EQ(card.Identify(), kStatusOk);
    planted = *image;

    ExpectRefused("directory read", [&] {
        ExternalFolder f(256, looped, 1, 0);
        return f.Load();
    });
    ExpectRefused("delete", [&] { return card.Open(0)->DeleteFile(looped); });
    ExpectRefused("move of the folder", [&] { return card.Open(other)->MoveEntry(0, 1, looped); });
    ExpectRefused("move of an entry out of it", [&] { return card.Open(other)->MoveEntry(looped, 0, file); });
}

// The directory's loop is the same on every row: one row per card kind.
INSTANTIATE_TEST_SUITE_P(Cards, DirectoryLoopTest,
                         ::testing::Values(Setting{kCardKinds[0], kLoops[0]}, Setting{kCardKinds[1], kLoops[0]}),
                         [](const auto& info) { return std::string(info.param.kind.name); });

// The root of a NAND-type card on an older model: uploads and deletes are refused.
using OlderModelTest = ChainLoopTest;

TEST_P(OlderModelTest, FileChainsThatLoopAreRefused)
{
    const std::string in = card.PcFile("song.bin", RandomBytes(kFileClusters * card.ClusterBytes() - 1, 10));
    ASSERT_EQ(CardVolume.DownloadFileNandCard(in.c_str()), kStatusOk);
    const std::uint16_t id = Walk()["song.bin"].id;
    ASSERT_NO_FATAL_FAILURE(PlantLoop(id));
    const std::string out = card.Temp().File("back.bin").string();

    ExpectRefused(
        "upload", [&] { return CardVolume.UploadFile(id, out.c_str()); }, out);
    ExpectRefused("delete", [&] { return CardVolume.DeleteFile(id); });
    EXPECT_EQ(Walk().count("song.bin"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cards, OlderModelTest, ::testing::ValuesIn(Settings({{"OlderModelNandCard", 1, 0xE6, 0}})),
                         Name);

}  // namespace
