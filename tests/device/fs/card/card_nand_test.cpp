// The NAND-type card's volume against the simulated player: mount through the block-address map, the
// root's file operations, and the exported card checked by fsck.fat and read back by mtools, after
// successful, failed and cancelled operations alike.
#include "tests/device/fs/card/card_fixture.h"

#include "device/flash/card_translation.h"
#include "device/fs/engine_status.h"

#include <functional>

#include <gtest/gtest.h>

using namespace engine;
using namespace cardtest;

namespace {

// The volume's free clusters; false when nothing is mounted.
bool CountFreeClusters(std::uint32_t& freeCount)
{
    std::uint32_t total = 0;
    return CardVolume.CountFreeClusters(total, freeCount);
}

struct CardCase {
    const char* name;
    std::uint8_t device;  // maker 0xEC
    std::uint8_t fatType;
};

class NandCardTest : public ::testing::TestWithParam<CardCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(player.Ok());
        ASSERT_TRUE(player.Player().InsertNandCard(0xEC, GetParam().device, true));
        ASSERT_EQ(Identify(), kStatusOk);
        ASSERT_TRUE(CardVolume.IsMounted());
        ASSERT_EQ(CardVolume.FatType(), GetParam().fatType);
        SetProgressSink(&progress);
    }
    void TearDown() override
    {
        SetProgressSink(nullptr);
        Engine.CancelRequested = 0;
        player.Server().ClearFault();
    }

    std::uint32_t Identify()
    {
        DeviceInfoBlock info;
        return device.Initialize(info);
    }
    std::uint32_t ClusterBytes() const { return CardVolume.card.sectorsPerBlock * 512u; }

    std::uint32_t Download(const std::string& name, const Bytes& content)
    {
        WriteFile(temp.File(name), content);
        return CardVolume.DownloadFileNandCard(temp.File(name).string().c_str());
    }

    // The card as the tools see it now: clean, holding exactly `files` and nothing else.
    // Stale copies of system blocks may stay behind an interrupted rewrite until the next one.
    void ExpectCard(const std::map<std::string, Bytes>& files, bool staleCopiesAllowed = false)
    {
        SyncWithPlayer();
        sim::CardImageAudit audit;
        auto card = player.Player().ExportCard(&audit);
        ASSERT_TRUE(card);
        EXPECT_EQ(audit.eccMismatches, 0u);
        EXPECT_EQ(audit.malformedFields, 0u);
        if (!staleCopiesAllowed) {
            EXPECT_EQ(audit.duplicateBlocks, 0u);
        }
        CardImage image(temp, *card);
        EXPECT_EQ(image.Fsck(), "");
        std::vector<std::string> names = image.Names();
        std::sort(names.begin(), names.end());
        std::vector<std::string> expected;
        for (const auto& [name, content] : files) {
            expected.push_back(name);
            auto read = image.Read(name);
            ASSERT_TRUE(read) << name;
            EXPECT_TRUE(*read == content) << name;
        }
        EXPECT_EQ(names, expected);
    }

    sim::TestPlayer player{WithoutInternalChips(1)};
    PlayerDevice device;
    test_support::TempFolder temp;
    ProgressRecorder progress;
};

}  // namespace

TEST_P(NandCardTest, FilesGoThereAndBackExactly)
{
    const std::uint32_t cb = ClusterBytes();
    std::map<std::string, Bytes> files = {
        {"a.txt", RandomBytes(100, 1)},
        {"Long file name number one.bin", RandomBytes(3 * cb + 17, 2)},
        {"empty.dat", {}},
        {"EXACT.BIN", RandomBytes(2 * cb, 3)},
    };
    std::uint32_t freeBefore = 0;
    ASSERT_TRUE(CountFreeClusters(freeBefore));
    for (const auto& [name, content] : files)
        ASSERT_EQ(Download(name, content), kStatusOk) << name;
    std::uint32_t freeAfter = 0;
    ASSERT_TRUE(CountFreeClusters(freeAfter));
    EXPECT_EQ(freeBefore - freeAfter, 1u + 4u + 0u + 2u);
    // Progress: the cluster count first, then one step per cluster.
    progress.fired = 0;
    files["progress.bin"] = RandomBytes(3 * cb - 1, 15);
    ASSERT_EQ(Download("progress.bin", files["progress.bin"]), kStatusOk);
    EXPECT_EQ(progress.counters.total, 3u);
    EXPECT_EQ(progress.counters.done, 3u);
    EXPECT_EQ(progress.fired, 4);
    ExpectCard(files);

    // The walk lists every file with its size; the empty one has no cluster.
    auto listed = Walk();
    ASSERT_EQ(listed.size(), files.size());
    for (const auto& [name, content] : files) {
        ASSERT_TRUE(listed.count(name)) << name;
        EXPECT_EQ(listed[name].size, content.size());
    }
    EXPECT_EQ(listed["empty.dat"].id, 0);

    // Uploads give the same bytes back, also after a fresh mount.
    ASSERT_EQ(Identify(), kStatusOk);
    for (const auto& [name, content] : files) {
        std::string out = temp.File("up.bin").string();
        ASSERT_EQ(CardVolume.UploadFile(Walk()[name].id, out.c_str()), kStatusOk) << name;
        EXPECT_TRUE(ReadFile(out) == content) << name;
    }
}

TEST_P(NandCardTest, DeleteAndRename)
{
    std::map<std::string, Bytes> files = {
        {"first.bin", RandomBytes(ClusterBytes() + 5, 4)},
        {"second file with a long name.bin", RandomBytes(2 * ClusterBytes(), 5)},
        {"third.bin", RandomBytes(700, 6)},
    };
    for (const char* name : {"first.bin", "second file with a long name.bin", "third.bin"})
        ASSERT_EQ(Download(name, files[name]), kStatusOk);
    std::uint32_t freeBefore = 0;
    CountFreeClusters(freeBefore);

    // Deleting the second moves the third's entries forward; no deleted marks are left.
    auto listed = Walk();
    std::uint32_t secondIndex = 0, thirdIndex = 0;
    DirRecord r;
    for (std::int32_t k = CardVolume.FindFirst(r); k == 0; k = CardVolume.FindNext(r)) {
        if (std::string(reinterpret_cast<char*>(r.name)) == "third.bin")
            thirdIndex = CardVolume.WalkIndex();
        if (r.firstCluster == listed["second file with a long name.bin"].id)
            secondIndex = CardVolume.WalkIndex();
    }
    ASSERT_EQ(CardVolume.DeleteFile(listed["second file with a long name.bin"].id), kStatusOk);
    files.erase("second file with a long name.bin");
    std::uint32_t freeAfter = 0;
    CountFreeClusters(freeAfter);
    EXPECT_EQ(freeAfter, freeBefore + 2);
    ExpectCard(files);
    for (std::int32_t k = CardVolume.FindFirst(r); k == 0; k = CardVolume.FindNext(r)) {
        if (std::string(reinterpret_cast<char*>(r.name)) == "third.bin") {
            // The second's set of four entries (three long-name pieces) is gone from in front of it.
            EXPECT_EQ(CardVolume.WalkIndex(), thirdIndex - 4);
            EXPECT_LT(CardVolume.WalkIndex(), secondIndex);
        }
    }
    for (std::uint32_t i = 0; i < kCardRootSlots; ++i)
        EXPECT_NE(CardVolume.Root()[i * 32], 0xE5) << i;

    // Rename to a long name keeps cluster, size, attributes and content.
    Listed old = Walk()["first.bin"];
    ASSERT_EQ(CardVolume.Rename(old.id, "C:\\ignored\\A much longer name for the first file.bin"), kStatusOk);
    Listed renamed = Walk()["A much longer name for the first file.bin"];
    EXPECT_EQ(renamed.id, old.id);
    EXPECT_EQ(renamed.size, old.size);
    EXPECT_EQ(renamed.attributes, old.attributes);
    files["A much longer name for the first file.bin"] = files["first.bin"];
    files.erase("first.bin");
    ExpectCard(files);

    // A rename that needs more free entries than the root has leaves the root as it was.
    ASSERT_EQ(Identify(), kStatusOk);
    auto before = CardVolume.Root();
    FatDirSlot* slots = CardVolume.RootSlotsPtr();
    for (std::uint32_t i = 0; i < kCardRootSlots; ++i) {
        if (slots[i].raw[0] == 0) {
            std::memcpy(slots[i].raw, "FILLER  BIN\x20", 12);
            slots[i].raw[0] = static_cast<std::uint8_t>('A' + i % 26);
        }
    }
    auto full = CardVolume.Root();
    EXPECT_EQ(CardVolume.Rename(Walk()["third.bin"].id, std::string(200, 'n').c_str()), kStatusFolderError);
    EXPECT_TRUE(CardVolume.Root() == full);
    ASSERT_EQ(Identify(), kStatusOk);
    EXPECT_TRUE(CardVolume.Root() == before);
}

TEST_P(NandCardTest, RefusalsAndWriteProtect)
{
    Bytes content = RandomBytes(10, 7);
    ASSERT_EQ(Download("x.bin", content), kStatusOk);
    std::uint16_t id = Walk()["x.bin"].id;
    CardVolume.SetWriteProtected(true);
    EXPECT_EQ(Download("y.bin", content), kStatusWriteProtected);
    EXPECT_EQ(CardVolume.DeleteFile(id), kStatusWriteProtected);
    EXPECT_EQ(CardVolume.Rename(id, "z.bin"), kStatusWriteProtected);
    CardVolume.SetWriteProtected(false);
    EXPECT_EQ(CardVolume.DeleteFile(0x7777), kStatusFileError);
    EXPECT_EQ(CardVolume.UploadFile(0x7777, temp.File("no.bin").string().c_str()), kStatusFileError);
    EXPECT_EQ(CardVolume.UploadFile(id, temp.File("no such folder\\x.bin").string().c_str()), kStatusFileError);
    EXPECT_EQ(CardVolume.DownloadFileNandCard(temp.File("missing.bin").string().c_str()), kStatusFileError);
    // More than the card holds.
    std::uint32_t freeClusters = 0;
    CountFreeClusters(freeClusters);
    if (GetParam().fatType == 12) {
        EXPECT_EQ(Download("big.bin", Bytes(std::size_t{freeClusters + 1} * ClusterBytes())), kStatusStorageFull);
    }
    ExpectCard({{"x.bin", content}});
    CardVolume.Unmount();
    EXPECT_EQ(Download("y.bin", content), kStatusNoStorage);
    EXPECT_EQ(CardVolume.DeleteFile(id), kStatusNoStorage);
}

TEST_P(NandCardTest, CancelLeavesNoFile)
{
    Bytes keep = RandomBytes(1000, 8);
    ASSERT_EQ(Download("keep.bin", keep), kStatusOk);
    progress.cancelAfter = 1;
    EXPECT_EQ(Download("cancelled.bin", RandomBytes(3 * ClusterBytes(), 9)), kStatusOk);
    progress.cancelAfter = 0;
    EXPECT_EQ(Walk().count("cancelled.bin"), 0u);
    ExpectCard({{"keep.bin", keep}});
    // The volume in memory is as it was: the next download goes through cleanly.
    Bytes next = RandomBytes(2 * ClusterBytes() + 1, 10);
    ASSERT_EQ(Download("next.bin", next), kStatusOk);
    ExpectCard({{"keep.bin", keep}, {"next.bin", next}});

    // A cancelled upload leaves no PC file.
    progress.cancelAfter = 1;
    std::string out = temp.File("cancelled-upload.bin").string();
    EXPECT_EQ(CardVolume.UploadFile(Walk()["next.bin"].id, out.c_str()), kStatusOk);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_P(NandCardTest, BadAndFailingBlocksAreSkipped)
{
    // The zone's first erased blocks go bad or refuse to erase: the allocation retires them and moves on.
    const std::uint32_t perRow = 256 / CardVolume.card.sectorsPerBlock;
    const int position = sim::CardPosition(player.Player().Config());
    for (std::uint32_t b = perRow; b < perRow * 2; b += 2)
        player.Player().MarkBadBlock(position, b);
    for (std::uint32_t b = perRow * 2 + 1; b < perRow * 3; b += 2)
        player.Player().FailErase(position, b);
    ASSERT_EQ(Identify(), kStatusOk);
    Bytes a = RandomBytes(3 * ClusterBytes(), 11);
    ASSERT_EQ(Download("a.bin", a), kStatusOk);
    ExpectCard({{"a.bin", a}});

    // The file's blocks now refuse to erase: the delete retires them, and the next file goes elsewhere.
    std::uint16_t id = Walk()["a.bin"].id;
    for (std::uint32_t c = id, k = 0; k < 3; ++k, c = CardVolume.GetFatEntry(c)) {
        ASSERT_EQ(CardVolume.SeekCluster(c), kCardBlockFound);
        player.Player().FailErase(
            position, CardVolume.card.row * perRow + CardVolume.card.sector / CardVolume.card.sectorsPerBlock);
    }
    ASSERT_EQ(CardVolume.DeleteFile(id), kStatusOk);
    ExpectCard({});
    EXPECT_EQ(CardVolume.SeekCluster(id), kCardBlockNone);
    Bytes b = RandomBytes(3 * ClusterBytes() - 1, 12);
    ASSERT_EQ(Download("b.bin", b), kStatusOk);
    ExpectCard({{"b.bin", b}});
}

TEST_P(NandCardTest, TransferFailuresKeepTheCardConsistent)
{
    Bytes keep = RandomBytes(ClusterBytes() + 3, 12);
    ASSERT_EQ(Download("keep.bin", keep), kStatusOk);
    // How many transfers a whole download takes.
    Bytes body = RandomBytes(2 * ClusterBytes() + 9, 13);
    player.Server().ResetCounters();
    ASSERT_EQ(Download("probe.bin", body), kStatusOk);
    auto counters = player.Server().Counters();
    std::uint64_t transfers = counters.hostWrites + counters.hostReads;
    ASSERT_GT(transfers, 4u);
    ASSERT_EQ(CardVolume.DeleteFile(Walk()["probe.bin"].id), kStatusOk);

    // A failure during the data phase leaves the card as it was, and the volume in memory too.
    for (std::uint64_t nth : {std::uint64_t{1}, std::uint64_t{2}, transfers / 3, transfers / 2}) {
        SCOPED_TRACE(nth);
        player.Server().InjectFault(sim::FaultKind::Fail, nth);
        EXPECT_EQ(Download("failed.bin", body), kStatusUsbError);
        player.Server().ClearFault();
        EXPECT_EQ(Walk().count("failed.bin"), 0u);
        ExpectCard({{"keep.bin", keep}});
    }
    // A delete or rename whose first transfer fails changes nothing, on the card or in memory.
    std::uint16_t keepId = Walk()["keep.bin"].id;
    player.Server().InjectFault(sim::FaultKind::Fail, 1);
    EXPECT_EQ(CardVolume.DeleteFile(keepId), kStatusUsbError);
    player.Server().ClearFault();
    ExpectCard({{"keep.bin", keep}});
    player.Server().InjectFault(sim::FaultKind::Fail, 1);
    EXPECT_EQ(CardVolume.Rename(keepId, "renamed.bin"), kStatusUsbError);
    player.Server().ClearFault();
    EXPECT_EQ(Walk().count("keep.bin"), 1u);
    ExpectCard({{"keep.bin", keep}});

    // A failure anywhere in the system-area rewrite at the end: the card still mounts, clean, with the
    // file either wholly there or not there at all.
    const std::uint64_t stride = GetParam().fatType == 12 ? 1 : 3;  // the larger card's rewrite is slower
    for (std::uint64_t nth = transfers > 16 ? transfers - 16 : 1; nth <= transfers; nth += stride) {
        SCOPED_TRACE(nth);
        player.Server().InjectFault(sim::FaultKind::Fail, nth);
        EXPECT_EQ(Download("failed.bin", body), kStatusUsbError);
        player.Server().ClearFault();
        ASSERT_EQ(Identify(), kStatusOk);
        std::map<std::string, Bytes> expected = {{"keep.bin", keep}};
        if (Walk().count("failed.bin"))
            expected["failed.bin"] = body;
        ExpectCard(expected, true);
        if (Walk().count("failed.bin")) {
            ASSERT_EQ(CardVolume.DeleteFile(Walk()["failed.bin"].id), kStatusOk);
        }
    }

    Bytes next = RandomBytes(ClusterBytes() / 2, 14);
    ASSERT_EQ(Download("next.bin", next), kStatusOk);
    // The next complete rewrite leaves one copy of each block.
    ExpectCard({{"keep.bin", keep}, {"next.bin", next}});
    // A fresh mount agrees.
    ASSERT_EQ(Identify(), kStatusOk);
    EXPECT_EQ(Walk().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Cards, NandCardTest,
                         ::testing::Values(CardCase{"Fat12Card8MB", 0xE6, 12}, CardCase{"Fat16Card128MB", 0x79, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

// Chain ends as other systems write them: the lowest end mark (0xFF8 or 0xFFF8) in both FAT copies.
void LowerChainEnds(Bytes& part)
{
    const std::uint8_t* boot = part.data();
    std::uint32_t reserved = boot[14] | (boot[15] << 8);
    std::uint32_t spf = boot[22] | (boot[23] << 8);
    std::uint32_t rootEntries = boot[17] | (boot[18] << 8);
    std::uint32_t total = boot[19] | (boot[20] << 8);
    if (total == 0)
        total = Le32(boot + 32);
    std::uint32_t clusters = (total - reserved - 2 * spf - rootEntries / 16) / boot[13];
    bool fat12 = clusters <= 4084;
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        std::size_t fatBytes = std::size_t{spf} * 512;
        std::uint8_t* fat = part.data() + (reserved + std::size_t{copy} * spf) * 512;
        for (std::uint32_t n = 2; n < clusters + 2; ++n) {
            std::uint32_t v = ReadFatEntry(fat, fatBytes, fat12 ? 12 : 16, n);
            if (v == (fat12 ? 0xFFFu : 0xFFFFu))
                WriteFatEntry(fat, fatBytes, fat12 ? 12 : 16, n, fat12 ? 0xFF8 : 0xFFF8);
        }
    }
}

}  // namespace

// Files that mtools put on the card (long names, a deleted file's entries, the lowest chain-end marks)
// are listed and read back exactly, and the card stays clean when the system adds to it.
TEST_P(NandCardTest, ToolsImagesAreReadExactly)
{
    auto card = player.Player().ExportCard();
    ASSERT_TRUE(card);
    CardImage image(temp, *card);
    const std::uint32_t cb = ClusterBytes();
    std::map<std::string, Bytes> files = {
        {"README.TXT", RandomBytes(300, 20)},
        {"A rather long name, with spaces.bin", RandomBytes(2 * cb + 100, 21)},
        {"exactly two clusters.dat", RandomBytes(2 * cb, 22)},
        {"gone.bin", RandomBytes(cb + 1, 23)},
        {"after the deleted one.bin", RandomBytes(5 * cb / 2, 24)},
    };
    for (const char* name :
         {"README.TXT", "A rather long name, with spaces.bin", "gone.bin", "exactly two clusters.dat"}) {
        WriteFile(temp.File("in.bin"), files[name]);
        ASSERT_TRUE(image.Tool("mcopy -i " + ShellQuote(image.Path()) + " " + ShellQuote(temp.UnixFile("in.bin")) +
                               " " + ShellQuote(std::string("::/") + name)));
    }
    ASSERT_TRUE(image.Tool("mdel -i " + ShellQuote(image.Path()) + " ::/gone.bin"));
    files.erase("gone.bin");
    WriteFile(temp.File("in.bin"), files["after the deleted one.bin"]);
    ASSERT_TRUE(image.Tool("mcopy -i " + ShellQuote(image.Path()) + " " + ShellQuote(temp.UnixFile("in.bin")) +
                           " ::/after\\ the\\ deleted\\ one.bin"));
    Bytes part = ReadFile(temp.File("part.img"));
    LowerChainEnds(part);
    WriteFile(temp.File("part.img"), part);
    image.StoreInto(*card);
    ASSERT_TRUE(player.Player().ImportCard(*card));

    ASSERT_EQ(Identify(), kStatusOk);
    auto listed = Walk();
    ASSERT_EQ(listed.size(), files.size());
    for (const auto& [name, content] : files) {
        ASSERT_TRUE(listed.count(name)) << name;
        EXPECT_EQ(listed[name].size, content.size()) << name;
        std::string out = temp.File("up.bin").string();
        ASSERT_EQ(CardVolume.UploadFile(listed[name].id, out.c_str()), kStatusOk) << name;
        EXPECT_TRUE(ReadFile(out) == content) << name;
    }
    Bytes added = RandomBytes(3 * cb + 7, 25);
    ASSERT_EQ(Download("added by the system.bin", added), kStatusOk);
    files["added by the system.bin"] = added;
    ASSERT_EQ(CardVolume.DeleteFile(Walk()["README.TXT"].id), kStatusOk);
    files.erase("README.TXT");
    ExpectCard(files);
}

// Hostile master boot records and boot sectors end the mount with 6 or 7, and nothing is mounted.
TEST_P(NandCardTest, HostileSystemAreasAreRefused)
{
    if (GetParam().fatType != 12)
        GTEST_SKIP() << "the checks do not depend on the card's size; one size keeps the test short";
    auto formatted = player.Player().ExportCard();
    ASSERT_TRUE(formatted);
    const std::uint32_t start = Le32(formatted->data() + 454);
    struct Case {
        const char* what;
        std::uint32_t status;
        std::function<void(Bytes&)> spoil;
    };
    auto boot = [start](Bytes& c, std::size_t at) -> std::uint8_t& {
        return c[std::size_t{start} * 512 + at];
    };
    const Case cases[] = {
        {"no MBR signature", kStatusMbrError,
         [](Bytes& c) {
             c[510] = 0;
         }},
        {"partition start disagrees with its CHS", kStatusMbrError,
         [](Bytes& c) {
             c[454] += 1;
         }},
        {"partition start outside block 1", kStatusMbrError,
         [](Bytes& c) {
             c[454] = 0;
             c[447] = 0;
             c[448] = 1;
         }},
        {"boot jump 0xEB", kStatusPartitionError,
         [&](Bytes& c) {
             boot(c, 0) = 0xEB;
         }},
        {"no boot signature", kStatusPartitionError,
         [&](Bytes& c) {
             boot(c, 511) = 0;
         }},
        {"0 sectors per cluster", kStatusPartitionError,
         [&](Bytes& c) {
             boot(c, 13) = 0;
         }},
        {"cluster not an erase block", kStatusPartitionError,
         [&](Bytes& c) {
             boot(c, 13) /= 2;
         }},
        {"one FAT", kStatusPartitionError,
         [&](Bytes& c) {
             boot(c, 16) = 1;
         }},
        {"root of 65535 entries", kStatusPartitionError,
         [&](Bytes& c) {
             boot(c, 17) = 0xFF;
             boot(c, 18) = 0xFF;
         }},
        {"FAT of 0 sectors", kStatusPartitionError,
         [&](Bytes& c) {
             boot(c, 22) = 0;
             boot(c, 23) = 0;
         }},
        {"1024-byte sectors", kStatusPartitionError,
         [&](Bytes& c) {
             boot(c, 12) = 4;
         }},
        {"no reserved sector", kStatusPartitionError,
         [&](Bytes& c) {
             boot(c, 14) = 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes image = *formatted;
        c.spoil(image);
        ASSERT_TRUE(player.Player().ImportCard(image));
        EXPECT_EQ(Identify(), c.status);
        EXPECT_FALSE(CardVolume.IsMounted());
        DirRecord r;
        EXPECT_EQ(CardVolume.FindFirst(r), -1);
        EXPECT_EQ(CardVolume.DownloadFileNandCard(temp.File("x").string().c_str()), kStatusNoStorage);
    }
    // The information structure must match to the byte.
    ASSERT_TRUE(player.Player().ImportCard(*formatted));
    const int position = sim::CardPosition(player.Player().Config());
    auto cis = player.Player().PeekPage(position, 0, CardVolume.card.sectorsPerBlock);
    ASSERT_EQ(cis[0], 0x01);
    cis[100] ^= 1;
    ASSERT_TRUE(player.Player().PokePage(position, 0, CardVolume.card.sectorsPerBlock, cis));
    EXPECT_EQ(Identify(), kStatusMbrError);
    EXPECT_FALSE(CardVolume.IsMounted());
    // And the card mounts again once it is sound.
    ASSERT_TRUE(player.Player().ImportCard(*formatted));
    EXPECT_EQ(Identify(), kStatusOk);
    EXPECT_TRUE(CardVolume.IsMounted());
}

// An MP3 file goes to the card with the player's own tag in front of its first audio frame, in place of
// the file's tag.
TEST_P(NandCardTest, Mp3GetsThePlayersTagInFrontOfItsAudio)
{
    Bytes mp3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x07, 0x5E};  // tag of 990 bytes after the header
    auto frame = [&mp3](const char* id, const char* text) {
        std::size_t len = std::strlen(text) + 1;
        mp3.insert(mp3.end(), id, id + 4);
        mp3.insert(mp3.end(), {0, 0, 0, static_cast<std::uint8_t>(len), 0, 0, 0});
        mp3.insert(mp3.end(), text, text + len - 1);
    };
    frame("TIT2", "Title");
    frame("TPE1", "Artist");
    mp3.resize(1000, 0);
    Bytes audio = RandomBytes(3 * ClusterBytes() / 2, 60);
    audio[0] = 0xFF;
    audio[1] = 0xFB;
    mp3.insert(mp3.end(), audio.begin(), audio.end());
    ASSERT_EQ(Download("song.mp3", mp3), kStatusOk);

    auto listed = Walk();
    ASSERT_TRUE(listed.count("song.mp3"));
    std::string out = temp.File("song-back.mp3").string();
    ASSERT_EQ(CardVolume.UploadFile(listed["song.mp3"].id, out.c_str()), kStatusOk);
    Bytes back = ReadFile(out);
    ASSERT_EQ(back.size(), listed["song.mp3"].size);
    ASSERT_GT(back.size(), audio.size() + 10);
    const std::size_t tagLength = back.size() - audio.size();
    EXPECT_EQ(tagLength, 23u + 2u * std::strlen("Title - Artist"));
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 3), (Bytes{'I', 'D', '3'}));
    EXPECT_TRUE(Bytes(back.begin() + tagLength, back.end()) == audio);
    ExpectCard({{"song.mp3", back}});
}

// Chains are checked where they are followed: a broken chain ends an upload with 2 and no PC file, and a
// delete walks no further than the file's size needs.
TEST_P(NandCardTest, BrokenChainsAreNotFollowed)
{
    if (GetParam().fatType != 12)
        GTEST_SKIP() << "the chain checks do not depend on the FAT's width beyond the codec's own tests";
    Bytes content = RandomBytes(3 * ClusterBytes(), 70);
    ASSERT_EQ(Download("chain.bin", content), kStatusOk);
    const std::uint16_t first = Walk()["chain.bin"].id;
    const std::uint32_t second = CardVolume.GetFatEntry(first);
    struct Case {
        const char* what;
        std::uint32_t firstNext;
    };
    // clang-format off
    const Case cases[] = {
        {"free entry", 0},
        {"reserved value 1", 1},
        {"past the last cluster", CardVolume.MaxCluster() + 1},
        {"bad-cluster mark", 0xFF7},
        {"ends after one cluster", 0xFF8},
    };
    // clang-format on
    const std::string out = temp.File("chain-back.bin").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CardVolume.SetFatEntry(first, c.firstNext);
        EXPECT_EQ(CardVolume.UploadFile(first, out.c_str()), kStatusFileError);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // A chain that runs in a circle: the delete stops after the clusters of the file's size.
    CardVolume.SetFatEntry(first, second);
    CardVolume.SetFatEntry(CardVolume.GetFatEntry(second), first);
    ASSERT_EQ(CardVolume.DeleteFile(first), kStatusOk);
    EXPECT_EQ(Walk().count("chain.bin"), 0u);
    std::uint32_t freeClusters = 0;
    CountFreeClusters(freeClusters);
    EXPECT_EQ(freeClusters, CardVolume.MaxCluster() - 1);
    ExpectCard({});
}
