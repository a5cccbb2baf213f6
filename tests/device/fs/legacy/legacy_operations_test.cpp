// The operations of the flat store and their result codes: delete, folders, move, rename, play order,
// injected transfer and erase failures, cancel, and the directory loaded before any edit.
#include "tests/device/fs/legacy/legacy_fixture.h"

#include "device/fs/engine_status.h"

#include <algorithm>
#include <cstring>

using namespace engine;
using namespace legacytest;

namespace {

// Sets the cancel flag at the given progress step, as CancelOperation would from another thread.
class CancelAtStep : public ProgressRecorder {
public:
    explicit CancelAtStep(std::uint32_t step) : step_(step) {}
    void FireProgress() override
    {
        if (counters_.done >= step_)
            Engine.CancelRequested.store(1);
    }

private:
    std::uint32_t step_;
};

struct SinkScope {
    explicit SinkScope(ProgressSink* sink) { SetProgressSink(sink); }
    ~SinkScope() { SetProgressSink(nullptr); }
};

// The model with chip 0 alone: every identification reads the spare records of every chip, and a
// few files stay on the first.
sim::PlayerConfig FirstChipOnly(int model)
{
    sim::PlayerConfig config = sim::DefaultConfig(model);
    for (std::size_t i = 1; i < config.nandIds.size(); ++i)
        config.nandIds[i] = {0, 0};
    return config;
}

class LegacyOps : public ::testing::Test {
protected:
    void Start(int model) { Start(sim::DefaultConfig(model)); }
    void Start(const sim::PlayerConfig& config)
    {
        p = std::make_unique<LegacyPlayer>(config);
        ASSERT_TRUE(p->Ready());
        blockBytes = p->device.GetBlockBytes();
        DirRecord record;
        ASSERT_EQ(p->device.LegacyFindFirst(record), -1);
    }
    std::string Pc(const std::string& name, std::size_t size, std::uint32_t seed)
    {
        const auto path = temp.File(name);
        WriteFile(path, Pattern(size, seed));
        return path.string();
    }
    std::uint32_t Download(const std::string& name, std::size_t size, std::uint32_t folder = 0)
    {
        return p->device.LegacyDownload(0, Pc(name, size, static_cast<std::uint32_t>(size)).c_str(), folder);
    }
    Bytes RootOnChip()
    {
        Bytes bytes;
        for (std::uint32_t page = 0; page < Engine.InternalRootSectors; ++page) {
            Page pg = p->PeekBlockPage(0, 0, page);
            bytes.insert(bytes.end(), pg.begin(), pg.begin() + 512);
        }
        return bytes;
    }
    // Offset of the first byte where the two differ, -1 when they are equal.
    static std::ptrdiff_t FirstDifference(const Bytes& a, const Bytes& b)
    {
        if (a == b)
            return -1;
        auto m = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        return m.first - a.begin();
    }
    Bytes RootBuffer()
    {
        const auto* raw = reinterpret_cast<const std::uint8_t*>(LegacyStore.root.data());
        return Bytes(raw, raw + LegacyStore.root.size() * sizeof(FatDirSlot));
    }

    test_support::TempFolder temp;
    std::unique_ptr<LegacyPlayer> p;
    std::uint32_t blockBytes = 0;
};

}  // namespace

TEST_F(LegacyOps, DeleteFreesTheBlocksAndKeepsTheOthers)
{
    Start(5);
    const std::uint32_t freeStart = LegacyStore.freeBlockCount;
    {
        ProgressRecorder progress;
        SinkScope scope(&progress);
        ASSERT_EQ(Download("first.bin", 3 * blockBytes), 0u);
        EXPECT_EQ(progress.counters_.total, 3u);
        EXPECT_EQ(progress.counters_.done, 3u);
    }
    ASSERT_EQ(Download("second.bin", 2 * blockBytes), 0u);
    ASSERT_EQ(LegacyStore.freeBlockCount, freeStart - 5);

    {
        // One step per erased block after the total, and the closing notice changes nothing.
        ProgressRecorder progress;
        SinkScope scope(&progress);
        EXPECT_EQ(p->device.DeleteFile(0, 6), 0u);
        EXPECT_EQ(progress.counters_.total, 3u);
        EXPECT_EQ(progress.counters_.done, 3u);
        EXPECT_EQ(progress.fired, 4);
    }
    EXPECT_EQ(LegacyStore.freeBlockCount, freeStart - 2);
    for (std::uint32_t b = 1; b <= 3; ++b)
        EXPECT_EQ(p->Spare(0, b), Bytes(16, 0xFF)) << "block " << b;
    EXPECT_EQ(ListNames(p->device), std::vector<std::string>{"second.bin"});
    ASSERT_EQ(p->device.LegacyUpload(0, 7, temp.File("back").string().c_str()), 0u);
    EXPECT_EQ(ReadFile(temp.File("back")), Pattern(2 * blockBytes, 2 * blockBytes));

    // Ids without an entry remove nothing.
    const Bytes before = RootOnChip();
    EXPECT_EQ(p->device.DeleteFile(0, 6), kStatusFileError);
    EXPECT_EQ(p->device.DeleteFile(0, 1), kStatusFileError);
    EXPECT_EQ(p->device.LegacyUpload(0, 6, temp.File("none").string().c_str()), kStatusFileError);
    EXPECT_EQ(p->device.SetPlayIndex(0, 6, 0), kStatusFileError);
    EXPECT_EQ(RootOnChip(), before);

    // A failed erase: 4, and the entry stays.
    p->Sim().FailErase(0, 5);
    EXPECT_EQ(p->device.DeleteFile(0, 7), kStatusUsbError);
    p->Sim().ClearFailures();
    EXPECT_EQ(ListNames(p->device), std::vector<std::string>{"second.bin"});
}

TEST_F(LegacyOps, FailedAndCancelledDownloadsLeaveNothingBehind)
{
    Start(3);
    ASSERT_EQ(Download("keep.bin", 100), 0u);
    const std::uint32_t freeStart = LegacyStore.freeBlockCount;
    const Bytes rootBefore = RootOnChip();

    // Transfer failures in the blocks and in the write-back of the directory (which leaves the chip
    // without one until the next write).
    for (std::uint64_t nth : {2u, 5u, 8u, 12u}) {
        p->player.Server().InjectFault(sim::FaultKind::Fail, nth);
        EXPECT_EQ(Download("broken.bin", 3 * blockBytes), kStatusUsbError) << nth;
        p->player.Server().ClearFault();
        EXPECT_EQ(ListNames(p->device), std::vector<std::string>{"keep.bin"}) << nth;
        EXPECT_EQ(FirstDifference(RootOnChip(), rootBefore), -1) << nth;
    }

    // Cancel after the first block: the partial file is erased and the count comes back.
    {
        CancelAtStep sink(1);
        SinkScope scope(&sink);
        EXPECT_EQ(Download("cancelled.bin", 4 * blockBytes), 0u);
    }
    EXPECT_EQ(FirstDifference(RootOnChip(), rootBefore), -1);
    EXPECT_EQ(ListNames(p->device), std::vector<std::string>{"keep.bin"});

    // The blocks of the failed download go at the next purge; the count then matches the chips.
    ASSERT_EQ(Download("next.bin", blockBytes), 0u);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeStart - 1);
    EXPECT_EQ(LegacyStore.freeBlockCount, LegacyCountFreeBlocks());
    EXPECT_EQ(ListNames(p->device), (std::vector<std::string>{"keep.bin", "next.bin"}));

    // Checks before any block: missing PC file, not enough free blocks, no room in the directory.
    EXPECT_EQ(p->device.LegacyDownload(0, temp.File("missing.bin").string().c_str(), 0), kStatusFileError);
    LegacyStore.freeBlockCount = 1;
    EXPECT_EQ(Download("big.bin", 2 * blockBytes), kStatusStorageFull);
    LegacyStore.freeBlockCount = LegacyCountFreeBlocks();
    EXPECT_EQ(ListNames(p->device), (std::vector<std::string>{"keep.bin", "next.bin"}));
}

TEST_F(LegacyOps, UploadFailuresAndCancelRemoveThePcFile)
{
    Start(3);
    ASSERT_EQ(Download("data.bin", 3 * blockBytes + 7), 0u);
    const auto out = temp.File("out.bin");

    p->player.Server().InjectFault(sim::FaultKind::Fail, 3);
    EXPECT_EQ(p->device.LegacyUpload(0, 6, out.string().c_str()), kStatusUsbError);
    p->player.Server().ClearFault();
    EXPECT_FALSE(std::filesystem::exists(out));

    {
        CancelAtStep sink(1);
        SinkScope scope(&sink);
        EXPECT_EQ(p->device.LegacyUpload(0, 6, out.string().c_str()), 0u);
    }
    EXPECT_FALSE(std::filesystem::exists(out));

    ASSERT_EQ(p->device.LegacyUpload(0, 6, out.string().c_str()), 0u);
    EXPECT_EQ(ReadFile(out), Pattern(3 * blockBytes + 7, 3 * blockBytes + 7));
}

TEST_F(LegacyOps, TheDirectoryIsLoadedBeforeAnyEdit)
{
    Start(FirstChipOnly(6));
    ASSERT_EQ(Download("one.bin", 10), 0u);
    ASSERT_EQ(Download("two.bin", 10), 0u);
    // A new session edits before it lists: the purge must see the files on the chip.
    DeviceInfoBlock info;
    ASSERT_EQ(p->device.Initialize(info), 0u);
    ASSERT_EQ(Download("three.bin", 10), 0u);
    EXPECT_EQ(ListNames(p->device), (std::vector<std::string>{"one.bin", "two.bin", "three.bin"}));
    ASSERT_EQ(p->device.Initialize(info), 0u);
    ASSERT_EQ(p->device.DeleteFile(0, 7), 0u);
    EXPECT_EQ(ListNames(p->device), (std::vector<std::string>{"one.bin", "three.bin"}));
}

TEST_F(LegacyOps, RenameWithoutRoomRestoresTheDirectory)
{
    Start(5);
    ASSERT_EQ(Download("a.bin", 10), 0u);
    ASSERT_EQ(p->device.RenameEntry(0, 6, "C:\\any\\A much longer name.bin"), 0u);
    EXPECT_EQ(ListNames(p->device), std::vector<std::string>{"A much longer name.bin"});
    EXPECT_EQ(p->device.RenameEntry(0, 9, "x.bin"), kStatusFolderError);

    // Every other slot used but one, so only two free slots gather at the end once the set moves out.
    {
        ScopedPipes bracket(PlayerPipes);
        const std::uint32_t count = LegacyRootEntryCount();
        for (std::uint32_t i = 3; i < count; ++i) {
            if (i == 100)
                continue;
            FatDirSlot& s = LegacyStore.root[i];
            s = {};
            std::memcpy(s.entry.name, "FILL    BIN", 11);
            s.entry.name[4] = static_cast<std::uint8_t>('A' + i % 26);
            s.entry.attributes = 0x80;
            s.entry.firstCluster = static_cast<std::uint16_t>(200 + i % 50);
        }
        ASSERT_EQ(LegacyWriteBackRoot(), 0u);
    }
    const Bytes chipBefore = RootOnChip();
    const Bytes bufferBefore = RootBuffer();
    EXPECT_EQ(p->device.RenameEntry(0, 6, "a name of forty characters, more or less.txt"), kStatusFolderError);
    EXPECT_EQ(RootBuffer(), bufferBefore);
    EXPECT_EQ(RootOnChip(), chipBefore);

    // The write-back fails: 4, and the buffer is what it was.
    p->Sim().FailErase(0, 0);
    EXPECT_EQ(p->device.RenameEntry(0, 6, "b.bin"), kStatusUsbError);
    p->Sim().ClearFailures();
    EXPECT_EQ(RootBuffer(), bufferBefore);
}

TEST_F(LegacyOps, PlayIndexCountsUsedEntries)
{
    Start(7);
    for (const char* name : {"a.mp3x", "b.bin", "c.wav", "d.txt"})
        ASSERT_EQ(Download(name, 10), 0u);
    struct Move {
        std::uint32_t id, index;
        std::vector<std::string> order;
        // clang-format off
    } moves[] = {
        {8, 0, {"c.wav", "a.mp3x", "b.bin", "d.txt"}},
        {8, 3, {"a.mp3x", "b.bin", "d.txt", "c.wav"}},
        {6, 1, {"b.bin", "a.mp3x", "d.txt", "c.wav"}},
        {9, 2, {"b.bin", "a.mp3x", "d.txt", "c.wav"}},
    };
    // clang-format on
    for (const Move& m : moves) {
        ASSERT_EQ(p->device.SetPlayIndex(0, m.id, m.index), 0u) << m.id << " to " << m.index;
        EXPECT_EQ(ListNames(p->device), m.order) << m.id << " to " << m.index;
    }
    EXPECT_EQ(p->device.SetPlayIndex(0, 6, 4), kStatusFileError);
    EXPECT_EQ(ListNames(p->device), moves[3].order);
    ASSERT_EQ(p->device.LegacyUpload(0, 8, temp.File("c").string().c_str()), 0u);
    EXPECT_EQ(ReadFile(temp.File("c")), Pattern(10, 10));
}

TEST_F(LegacyOps, FoldersOfTheOneLevelScheme)
{
    Start(8);
    std::uint32_t folder = 0;
    ASSERT_EQ(p->device.CreateFolder("Music", &folder), 0u);
    EXPECT_EQ(folder, 6u);
    ASSERT_EQ(Download("in.bin", 2 * blockBytes, folder), 0u);
    ASSERT_EQ(Download("out.bin", 10), 0u);
    ASSERT_EQ(Download("moved.bin", 10), 0u);
    EXPECT_EQ(p->device.MoveEntry(0, 9, folder), 0u);
    EXPECT_EQ(p->device.MoveEntry(0, 9, 77), kStatusFolderError) << "no such folder";
    EXPECT_EQ(p->device.MoveEntry(0, 42, folder), kStatusFileError);
    EXPECT_EQ(p->device.MoveEntry(1, 9, folder), kStatusFolderError);

    DirRecord record;
    std::vector<std::pair<std::string, std::uint16_t>> seen;
    for (std::int32_t r = p->device.LegacyFindFirst(record); r == 0; r = p->device.LegacyFindNext(record))
        seen.emplace_back(reinterpret_cast<const char*>(record.name), record.firstClusterHigh);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::uint16_t>>{
                        {"Music", 0}, {"in.bin", 6}, {"out.bin", 0}, {"moved.bin", 6}}));

    const std::uint32_t freeBefore = LegacyStore.freeBlockCount;
    EXPECT_EQ(p->device.DeleteFolder(0, 0), kStatusFolderError);
    EXPECT_EQ(p->device.DeleteFolder(0, 1), kStatusFolderError);
    EXPECT_EQ(p->device.DeleteFolder(0, 8), kStatusFileError) << "a file, not a folder";
    EXPECT_EQ(p->device.DeleteFolder(1, folder), kStatusFolderError);
    EXPECT_EQ(ListNames(p->device).size(), 4u);
    EXPECT_EQ(p->device.DeleteFolder(0, folder), 0u);
    EXPECT_EQ(ListNames(p->device), std::vector<std::string>{"out.bin"});
    EXPECT_EQ(LegacyStore.freeBlockCount, freeBefore + 3);
    ASSERT_EQ(p->device.LegacyUpload(0, 8, temp.File("o").string().c_str()), 0u);
    EXPECT_EQ(ReadFile(temp.File("o")), Pattern(10, 10));
}

TEST_F(LegacyOps, FailedWriteBacksLeaveTheDirectoryAsItWas)
{
    Start(8);
    std::uint32_t folder = 0;
    ASSERT_EQ(p->device.CreateFolder("Music", &folder), 0u);
    ASSERT_EQ(Download("a.bin", 10), 0u);
    ASSERT_EQ(Download("b.bin", 10), 0u);
    const std::vector<std::string> names = ListNames(p->device);
    const Bytes buffer = RootBuffer();
    const Bytes chip = RootOnChip();

    // The root block's erase fails, so no edit reaches the chip.
    p->Sim().FailErase(0, 0);
    std::uint32_t second = 0;
    EXPECT_EQ(p->device.CreateFolder("Other", &second), kStatusUsbError);
    EXPECT_EQ(p->device.MoveEntry(0, 7, folder), kStatusUsbError);
    EXPECT_EQ(p->device.SetPlayIndex(0, 8, 0), kStatusUsbError);
    EXPECT_EQ(RootBuffer(), buffer);
    p->Sim().ClearFailures();
    EXPECT_EQ(RootOnChip(), chip);
    EXPECT_EQ(ListNames(p->device), names);

    // Nothing of the failed edits lingers: the same edits succeed afterwards.
    EXPECT_EQ(p->device.CreateFolder("Other", &second), 0u);
    EXPECT_EQ(p->device.MoveEntry(0, 7, folder), 0u);
    EXPECT_EQ(p->device.SetPlayIndex(0, 8, 0), 0u);
    EXPECT_EQ(ListNames(p->device), (std::vector<std::string>{"b.bin", "Music", "a.bin", "Other"}));
}

TEST(LegacySchemeTest, ModelTwoHasFoldersOnlyWithTheNewerFirmware)
{
    struct Case {
        const char* firmware;
        bool folders;
    };
    for (const Case c : {Case{"0100", false}, Case{"0216", true}, Case{"1216", true}, Case{"1215", false}}) {
        SCOPED_TRACE(c.firmware);
        sim::PlayerConfig config = FirstChipOnly(2);
        config.firmware = c.firmware;
        LegacyPlayer lp(config);
        ASSERT_TRUE(lp.Ready());
        EXPECT_EQ(Engine.FolderSchemeOn, c.folders ? 1u : 0u);
        EXPECT_EQ(Engine.FolderDepthLimit, c.folders ? 1 : 0);
        if (!c.folders)
            continue;
        std::uint32_t folder = 0;
        ASSERT_EQ(lp.device.CreateFolder("Music", &folder), kStatusOk);
        test_support::TempFolder temp;
        WriteFile(temp.File("in.bin"), Pattern(10, 1));
        ASSERT_EQ(lp.device.LegacyDownload(0, temp.File("in.bin").string().c_str(), folder), kStatusOk);
        DirRecord record;
        ASSERT_EQ(lp.device.LegacyFindFirst(record), 0);
        ASSERT_EQ(lp.device.LegacyFindNext(record), 0);
        EXPECT_STREQ(reinterpret_cast<const char*>(record.name), "in.bin");
        EXPECT_EQ(record.firstClusterHigh, folder);
    }
}
