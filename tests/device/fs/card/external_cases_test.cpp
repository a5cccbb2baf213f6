// The card's folder object on both card kinds, case by case: what FAT asks of the folders it makes,
// the refusals a folder operation owes (no card, a write-protected card, a move into itself), and the
// clusters a failed, cancelled, empty or deleted file must not keep.
#include "tests/device/fs/card/external_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace engine;
using namespace exttest;

namespace {

// The bytes of one data cluster of the exported partition, from its own boot sector.
Bytes ClusterOf(const Bytes& card, std::uint32_t cluster)
{
    const std::uint8_t* part = card.data() + std::size_t{Le32(card.data() + 454)} * 512;
    const std::uint32_t spc = part[13];
    const std::uint32_t reserved = part[14] | (part[15] << 8);
    const std::uint32_t fats = part[16];
    const std::uint32_t rootEntries = part[17] | (part[18] << 8);
    const std::uint32_t perFat = part[22] | (part[23] << 8);
    const std::size_t first = reserved + fats * perFat + rootEntries / 16 + std::size_t{cluster - 2} * spc;
    const std::uint8_t* at = part + first * 512;
    return Bytes(at, at + spc * 512);
}

std::uint32_t FreeAfterMount(CardPlayer& card)
{
    EXPECT_EQ(card.Identify(), kStatusOk);
    return CardVolume.FreeClusters();
}

// Free clusters as the card holds them in its first FAT, read from the exported card.
std::uint32_t FreeOnCard(CardPlayer& card)
{
    auto image = card.Export();
    if (!image) {
        ADD_FAILURE() << "no card to export";
        return 0;
    }
    const std::uint8_t* part = image->data() + std::size_t{Le32(image->data() + 454)} * 512;
    const std::uint32_t spc = part[13];
    const std::uint32_t reserved = part[14] | (part[15] << 8);
    const std::uint32_t rootEntries = part[17] | (part[18] << 8);
    const std::uint32_t perFat = part[22] | (part[23] << 8);
    const std::uint32_t total = (part[19] | (part[20] << 8)) ? (part[19] | (part[20] << 8)) : Le32(part + 32);
    const std::uint32_t clusters = (total - reserved - 2 * perFat - rootEntries / 16) / spc;
    const std::uint8_t type = clusters <= kFat12MaxClusters ? 12 : 16;
    std::uint32_t free = 0;
    for (std::uint32_t n = 2; n < clusters + 2; ++n)
        free += ReadFatEntry(part + std::size_t{reserved} * 512, std::size_t{perFat} * 512, type, n) == 0 ? 1 : 0;
    return free;
}

class ExternalCasesTest : public ::testing::TestWithParam<CardKindCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test_support::HostHasProgram("fsck.fat"));
        ASSERT_TRUE(card.Start());
        SetProgressSink(&progress);
    }
    void TearDown() override
    {
        SetProgressSink(nullptr);
        Engine.CancelRequested = 0;
        card.Test().Server().ClearFault();
    }
    std::uint32_t MakeFolder(ExternalFolder& in, const char* name)
    {
        std::uint32_t id = 0;
        EXPECT_EQ(in.CreateSubfolder(Wide(name).c_str(), &id), kStatusOk) << name;
        return id;
    }
    std::uint32_t Download(ExternalFolder& in, const std::string& name, std::size_t size)
    {
        EXPECT_EQ(in.DownloadFile(Wide(card.PcFile(name, RandomBytes(size, 7))).c_str()), kStatusOk) << name;
        for (const Entry& e : List(in))
            if (e.name == name)
                return e.id;
        return 0xFFFFFFFF;
    }
    void ExpectClean()
    {
        auto image = card.Export();
        ASSERT_TRUE(image);
        CardImage part(card.Temp(), *image);
        // A folder's own name entry is the only finding (fsck.fat deletes entries pointing at their own
        // directory); none is made by the cases that call this with folders inside a subfolder.
        std::string findings = part.Fsck();
        EXPECT_EQ(findings.find("Reclaimed"), std::string::npos) << findings;
        EXPECT_EQ(findings.find("differ"), std::string::npos) << findings;
        EXPECT_EQ(findings.find("lost"), std::string::npos) << findings;
    }
    CardPlayer card{GetParam()};
    ProgressRecorder progress;
};

TEST_P(ExternalCasesTest, NewFoldersFollowFat)
{
    auto root = card.Open(0);
    ASSERT_TRUE(root);
    const std::uint32_t a = MakeFolder(*root, "Alpha");
    auto alpha = card.Open(a);
    ASSERT_TRUE(alpha);
    const std::uint32_t b = MakeFolder(*alpha, "Beta");
    auto beta = card.Open(b);
    ASSERT_TRUE(beta);

    // ".." names the parent's first cluster, and 0 for the root.
    struct DotCase {
        std::uint32_t folder;
        std::uint32_t parent;
    } dots[] = {{a, 0}, {b, a}};
    for (const DotCase& c : dots) {
        auto listed = List(*card.Open(c.folder));
        ASSERT_GE(listed.size(), 2u);
        EXPECT_EQ(listed[0].id, c.folder);
        EXPECT_EQ(listed[1].name.rfind("..", 0), 0u);
        EXPECT_EQ(listed[1].id, c.parent) << "folder " << c.folder;
    }
    // Past its entries a new directory cluster reads as free slots (zero), never as 0xFF.
    auto image = card.Export();
    ASSERT_TRUE(image);
    for (std::uint32_t folder : {a, b}) {
        Bytes cluster = ClusterOf(*image, folder);
        std::size_t used = 0;
        while (used < cluster.size() && cluster[used] != 0)
            used += 32;
        ASSERT_GE(used, 64u);
        EXPECT_EQ(std::count(cluster.begin() + used, cluster.end(), 0), std::ptrdiff_t(cluster.size() - used))
            << "folder " << folder;
    }
}

// Every operation that changes the card refuses a card that is gone (5) or write-protected (8), and
// leaves it as it was.
TEST_P(ExternalCasesTest, ChangesNeedAWritableCard)
{
    auto root = card.Open(0);
    ASSERT_TRUE(root);
    const std::uint32_t a = MakeFolder(*root, "Alpha");
    const std::uint32_t b = MakeFolder(*root, "Beta");
    const std::uint32_t f = Download(*root, "song.bin", 3000);
    const std::string pc = card.PcFile("new.bin", RandomBytes(100, 1));
    auto before = List(*card.Open(0));

    struct OpCase {
        const char* name;
        std::function<std::uint32_t(ExternalFolder&)> run;
    };
    const OpCase ops[] = {
        {"create",
         [&](ExternalFolder& r) {
             std::uint32_t id;
             return r.CreateSubfolder(L"Gamma", &id);
         }},
        {"rename",
         [&](ExternalFolder& r) {
             return r.RenameEntry(f, L"other.bin", 0);
         }},
        {"delete",
         [&](ExternalFolder& r) {
             return r.DeleteFile(a);
         }},
        {"download",
         [&](ExternalFolder& r) {
             return r.DownloadFile(Wide(pc).c_str());
         }},
        {"move",
         [&](ExternalFolder&) {
             ExternalFolder target(256, b, 1, 0);
             target.Load();
             return target.MoveEntry(0, 1, f);
         }},
        {"play order",
         [&](ExternalFolder& r) {
             return r.SetPlayIndex(f, 0);
         }},
        {"stream",
         [&](ExternalFolder& r) {
             return r.Create(L"s.bin");
         }},
    };
    struct StateCase {
        const char* name;
        std::uint32_t expected;
        std::function<void()> enter, leave;
    };
    const StateCase states[] = {
        {"no card", kStatusNoStorage, [&] { card.Test().Player().SetCardInserted(false); },
         [&] {
             card.Test().Player().SetCardInserted(true);
         }},
        {"write-protected", kStatusWriteProtected,
         [&] { card.Test().Player().EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = true; }); },
         [&] {
             card.Test().Player().EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = false; });
         }},
    };
    for (const StateCase& s : states) {
        auto r = card.Open(0);
        ASSERT_TRUE(r);
        s.enter();
        card.Identify();
        for (const OpCase& op : ops) {
            // Without a card the stream cannot size its block buffer and says so first.
            const std::uint32_t expected =
                s.expected == kStatusNoStorage && std::string(op.name) == "stream" ? kStatusStorageFull : s.expected;
            EXPECT_EQ(op.run(*r), expected) << s.name << ": " << op.name;
        }
        s.leave();
        ASSERT_EQ(card.Identify(), kStatusOk);
        EXPECT_EQ(List(*card.Open(0)), before) << s.name;
    }
}

TEST_P(ExternalCasesTest, FilesThatDoNotFinishKeepNoCluster)
{
    auto root = card.Open(0);
    ASSERT_TRUE(root);
    const std::uint32_t a = MakeFolder(*root, "Alpha");
    const std::uint32_t cb = card.ClusterBytes();
    const std::string pc = card.PcFile("big.bin", RandomBytes(4 * cb + 10, 3));
    // The transfers of one whole download, to place the failures inside it.
    auto transfers = [&] {
        auto c = card.Test().Server().Counters();
        return c.hostWrites + c.hostReads;
    };
    std::uint64_t whole = transfers();
    ASSERT_EQ(card.Open(a)->DownloadFile(Wide(pc).c_str()), kStatusOk);
    whole = transfers() - whole;
    ASSERT_EQ(card.Open(a)->DeleteFile(List(*card.Open(a)).back().id), kStatusOk);
    const std::uint32_t freeBefore = FreeAfterMount(card);

    struct Case {
        const char* name;
        std::uint32_t folder;
        bool cancel;
        std::uint64_t failTransfer;  // 0: none
        // clang-format off
    } cases[] = {
        {"cancelled in the root", 0, true, 0},
        {"cancelled in a folder", a, true, 0},
        {"failed early in the root", 0, false, whole / 4},
        {"failed late in a folder", a, false, whole * 3 / 4},
    };
    // clang-format on
    for (const Case& c : cases) {
        auto f = card.Open(c.folder);
        ASSERT_TRUE(f);
        auto listed = List(*f);
        progress.cancelAfter = c.cancel ? 2 : 0;
        if (c.failTransfer)
            card.Test().Server().InjectFault(sim::FaultKind::Fail, c.failTransfer);
        std::uint32_t status = f->DownloadFile(Wide(pc).c_str());
        card.Test().Server().ClearFault();
        progress.cancelAfter = 0;
        Engine.CancelRequested = 0;
        EXPECT_EQ(status, c.cancel ? kStatusOk : kStatusUsbError) << c.name;
        // Neither the card nor the volume in memory keeps anything of it.
        EXPECT_EQ(FreeOnCard(card), freeBefore) << c.name;
        EXPECT_EQ(CardVolume.FreeClusters(), freeBefore) << c.name;
        EXPECT_EQ(List(*card.Open(c.folder)), listed) << c.name;
    }
    // An empty file written through the stream has first cluster 0 and takes nothing.
    auto folder = card.Open(a);
    ASSERT_EQ(folder->Create(L"empty.bin"), kStatusOk);
    ASSERT_EQ(folder->Close(), kStatusOk);
    auto listed = List(*card.Open(a));
    ASSERT_EQ(listed.back().name, "empty.bin");
    EXPECT_EQ(listed.back().id, 0u);
    EXPECT_EQ(listed.back().size, 0u);
    EXPECT_EQ(FreeAfterMount(card), freeBefore);
    ExpectClean();
}

// In a folder of the root ".." holds cluster 0 as an empty file does: lookups by id find the file.
TEST_P(ExternalCasesTest, LookupsByIdSkipTheDotEntries)
{
    auto root = card.Open(0);
    const std::uint32_t a = MakeFolder(*root, "Alpha");
    auto folder = card.Open(a);
    ASSERT_EQ(folder->Create(L"first.bin"), kStatusOk);
    ASSERT_EQ(folder->Close(), kStatusOk);
    folder = card.Open(a);
    ASSERT_EQ(folder->RenameEntry(0, L"renamed.bin", 0), kStatusOk);
    auto listed = List(*card.Open(a));
    ASSERT_EQ(listed.size(), 4u);  // ".", "..", the folder's own name, the file
    EXPECT_EQ(listed[1].name.rfind("..", 0), 0u);
    EXPECT_EQ(listed[3].name, "renamed.bin");

    folder = card.Open(a);
    EXPECT_EQ(folder->SetPlayIndex(0, 2), kStatusOk);
    listed = List(*card.Open(a));
    EXPECT_EQ(listed[1].name.rfind("..", 0), 0u);
    EXPECT_EQ(listed[2].name, "renamed.bin");

    folder = card.Open(a);
    ASSERT_EQ(folder->DeleteFile(0), kStatusOk);
    listed = List(*card.Open(a));
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[1].name.rfind("..", 0), 0u);
    EXPECT_EQ(listed[1].id, 0u);
}

TEST_P(ExternalCasesTest, DeletingAFolderFreesItsWholeTree)
{
    const std::uint32_t freeBefore = FreeAfterMount(card);
    auto root = card.Open(0);
    const std::uint32_t a = MakeFolder(*root, "Alpha");
    auto alpha = card.Open(a);
    const std::uint32_t b = MakeFolder(*alpha, "Beta");
    Download(*card.Open(a), "one.bin", 2 * card.ClusterBytes() + 5);
    auto beta = card.Open(b);
    MakeFolder(*beta, "Gamma");
    Download(*card.Open(b), "two.bin", 3 * card.ClusterBytes());
    ASSERT_LT(FreeOnCard(card), freeBefore - 6);

    root = card.Open(0);
    ASSERT_EQ(root->DeleteFile(a), kStatusOk);
    EXPECT_EQ(FreeAfterMount(card), freeBefore);
    EXPECT_TRUE(List(*card.Open(0)).empty());
    ExpectClean();
}

// A folder object made for a folder that is gone, whose cluster a file took since, does not load (so
// the storage's dispatch never installs it, and nothing writes a directory over the file).
TEST_P(ExternalCasesTest, FolderWhoseClusterAFileTookDoesNotLoad)
{
    auto root = card.Open(0);
    const std::uint32_t a = MakeFolder(*root, "Alpha");
    ASSERT_EQ(card.Open(0)->DeleteFile(a), kStatusOk);
    const Bytes content = RandomBytes(card.ClusterBytes(), 7);
    const std::uint32_t file = Download(*card.Open(0), "file.bin", content.size());
    ASSERT_EQ(file, a);

    ExternalFolder gone(256, a, 1, 0);
    EXPECT_EQ(gone.Load(), kStatusFolderError);
    const std::filesystem::path back = card.Temp().File("back.bin");
    ASSERT_EQ(card.Open(0)->UploadFile(file, back.wstring().c_str()), kStatusOk);
    EXPECT_TRUE(ReadFile(back) == content);
    ExpectClean();
}

TEST_P(ExternalCasesTest, MovesRefuseTheFolderItselfAndItsSubtree)
{
    auto root = card.Open(0);
    const std::uint32_t a = MakeFolder(*root, "Alpha");
    const std::uint32_t c = MakeFolder(*root, "Gamma");
    const std::uint32_t b = MakeFolder(*card.Open(a), "Beta");
    const std::uint32_t f = Download(*card.Open(a), "song.bin", 700);

    struct Refused {
        const char* name;
        std::uint32_t target, source, id;
        // clang-format off
    } refused[] = {
        {"into its own folder", a, a, f},
        {"a folder into itself", a, 0, a},
        {"a folder below itself", b, 0, a},
    };
    // clang-format on
    for (const Refused& r : refused) {
        ExternalFolder target(256, r.target, 1, r.target == 0 ? 1 : 0);
        ASSERT_EQ(target.Load(), kStatusOk);
        EXPECT_EQ(target.MoveEntry(r.source, r.source == 0 ? 1 : 0, r.id), kStatusFolderError) << r.name;
    }
    // ".." follows a moved folder: to another folder, then to the root.
    struct Move {
        std::uint32_t target, source, parentAfter;
    } moves[] = {{c, a, c}, {0, c, 0}};
    for (const Move& m : moves) {
        ExternalFolder target(256, m.target, 1, m.target == 0 ? 1 : 0);
        ASSERT_EQ(target.Load(), kStatusOk);
        ASSERT_EQ(target.MoveEntry(m.source, m.source == 0 ? 1 : 0, b), kStatusOk);
        auto listed = List(*card.Open(b));
        EXPECT_EQ(listed[1].id, m.parentAfter);
        bool there = false;
        for (const Entry& e : List(*card.Open(m.target)))
            there |= e.id == b;
        EXPECT_TRUE(there);
    }
    EXPECT_EQ(List(*card.Open(a)).size(), 4u);  // ".", "..", its own name, the song
}

// Two entries of one folder never share a short name: a moved entry whose short name is taken in the
// target comes in under a new one, and one whose whole name is its short name is refused.
TEST_P(ExternalCasesTest, MovesKeepShortNamesUnique)
{
    auto root = card.Open(0);
    const std::uint32_t a = MakeFolder(*root, "Alpha");
    MakeFolder(*card.Open(0), "Folder one");  // FOLDER~1 in the root
    Download(*card.Open(0), "SAME.BIN", 100);
    const std::uint32_t two = MakeFolder(*card.Open(a), "Folder two");  // FOLDER~1 in Alpha
    const std::uint32_t same = Download(*card.Open(a), "SAME.BIN", 200);

    struct Case {
        const char* name;
        std::uint32_t id;
        std::uint32_t expected;
    } cases[] = {{"long name", two, kStatusOk}, {"short name only", same, kStatusFolderError}};
    for (const Case& c : cases) {
        auto target = card.Open(0);
        ASSERT_TRUE(target);
        EXPECT_EQ(target->MoveEntry(a, 0, c.id), c.expected) << c.name;
        bool inRoot = false, inAlpha = false;
        for (const Entry& e : List(*card.Open(0)))
            inRoot |= e.id == c.id && e.name != "SAME.BIN";
        for (const Entry& e : List(*card.Open(a)))
            inAlpha |= e.id == c.id;
        EXPECT_EQ(inRoot, c.expected == kStatusOk) << c.name;
        EXPECT_EQ(inAlpha, c.expected != kStatusOk) << c.name;
    }
    auto listed = List(*card.Open(0));
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(),
                            [&](const Entry& e) { return e.name == "Folder two" && e.id == two; }));
    auto image = card.Export();
    ASSERT_TRUE(image);
    const std::string findings = CardImage(card.Temp(), *image).Fsck();
    EXPECT_EQ(findings.find("Duplicate"), std::string::npos) << findings;
}

TEST_P(ExternalCasesTest, AFullCardGivesStorageFull)
{
    auto root = card.Open(0);
    const std::uint32_t a = MakeFolder(*root, "Alpha");
    {
        // The card is filled on the PC but for two clusters, which a download then takes.
        const std::uint64_t bytes = std::uint64_t{FreeAfterMount(card) - 2} * card.ClusterBytes();
        auto image = card.Export();
        ASSERT_TRUE(image);
        CardImage part(card.Temp(), *image);
        const std::string fill = card.Temp().UnixFile("fill.bin");
        ASSERT_EQ(RunShell("truncate -s " + std::to_string(bytes) + " " + ShellQuote(fill)).exitCode, 0);
        ASSERT_TRUE(part.Tool("mcopy -i " + ShellQuote(part.Path()) + " " + ShellQuote(fill) + " ::/Alpha/fill.bin"));
        part.StoreInto(*image);
        ASSERT_TRUE(card.Test().Player().ImportCard(*image));
    }
    ASSERT_EQ(FreeAfterMount(card), 2u);
    Download(*card.Open(a), "last.bin", 2 * std::size_t{card.ClusterBytes()});
    ASSERT_EQ(FreeAfterMount(card), 0u);

    auto listed = List(*card.Open(a));
    const std::string one = card.PcFile("one.bin", RandomBytes(1, 2));
    struct Case {
        const char* name;
        std::function<std::uint32_t(ExternalFolder&)> run;
        // clang-format off
    } cases[] = {
        {"folder", [](ExternalFolder& f) { std::uint32_t id; return f.CreateSubfolder(L"More", &id); }},
        {"download", [&](ExternalFolder& f) { return f.DownloadFile(Wide(one).c_str()); }},
        {"stream", [](ExternalFolder& f) { return f.Create(L"s.bin"); }},
    };
    // clang-format on
    for (const Case& c : cases) {
        auto f = card.Open(a);
        EXPECT_EQ(c.run(*f), kStatusStorageFull) << c.name;
        EXPECT_EQ(List(*card.Open(a)), listed) << c.name;
    }
    ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(Cards, ExternalCasesTest, ::testing::ValuesIn(kCardKinds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
