// Downloads, uploads, deletes and the block stream of the internal folder objects against simulated
// folder-object players: a 32-sector model, a 256-sector model and a two-chip model.
#include "tests/device/fs/internal/internal_fixture.h"

#include "device/fs/pc/id3_tag.h"

#include <cstring>
#include <filesystem>

using namespace engine;
using namespace internaltest;

namespace {

class InternalModelTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        p = std::make_unique<InternalPlayer>(GetParam());
        ASSERT_TRUE(p->ready);
    }
    std::uint32_t Download(InternalFolder& folder, const std::string& name, const Bytes& content)
    {
        WriteFile(temp.File(name), content);
        return folder.DownloadFile(temp.File(name).wstring().c_str());
    }
    Bytes Upload(InternalFolder& folder, std::uint32_t id, std::uint32_t expectStatus = kStatusOk)
    {
        const auto path = temp.File("upload.out");
        std::filesystem::remove(path);
        EXPECT_EQ(folder.UploadFile(id, path.wstring().c_str()), expectStatus);
        return ReadFile(path);
    }

    std::unique_ptr<InternalPlayer> p;
    test_support::TempFolder temp;
};

TEST_P(InternalModelTest, RoundTripsRecordsAndFreeCount)
{
    InternalFolder& root = *p->root;
    const std::uint32_t b = p->blockBytes;
    const std::uint32_t freeStart = LegacyStore.freeBlockCount;
    EXPECT_EQ(freeStart, p->FreeBlocks());

    // Sizes around the block: exactly k blocks fills the last one, one byte more takes another.
    struct Case {
        const char* name;
        std::size_t size;
        std::uint8_t type;
        std::uint8_t attributes;
    };
    // clang-format off
    const Case cases[] = {
        {"exact two blocks.bin", 2 * std::size_t{b}, 0, 0x80},
        {"one more byte.wav", 2 * std::size_t{b} + 1, 'V', 0x80},
        {"song.wma", 100, 2, 0x80},
        {"config.dat", 3000, 'C', 0x06},
    };
    // clang-format on
    std::uint32_t used = 0;
    std::vector<std::uint32_t> ids;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const Bytes content = Pattern(c.size, std::uint32_t(i + 1));
        ASSERT_EQ(Download(root, c.name, content), kStatusOk) << c.name;
        used += p->Blocks(c.size);
        EXPECT_EQ(LegacyStore.freeBlockCount, freeStart - used) << c.name;
        const std::uint32_t id = IdOf(root, std::wstring(c.name, c.name + std::strlen(c.name)));
        ids.push_back(id);
        EXPECT_GE(id, 6u);

        // The first block's record as the player reads it.
        ASSERT_TRUE(LegacyFindFileStart(id));
        const BlockPosition at = LegacyCursor();
        p->lp.Sync();
        const auto page = p->lp.Sim().PeekPage(int(at.chip), at.row, at.sector);
        EXPECT_EQ(page[512 + 0], 0xAA);
        EXPECT_EQ(page[512 + 1], id & 0xFF);
        EXPECT_EQ(page[512 + 2] << 8 | page[512 + 3], int(p->Blocks(c.size)));
        EXPECT_EQ(page[512 + 6], c.type) << c.name;
        EXPECT_EQ(page[512 + 14] | page[512 + 15] << 8, int(id));
        const auto second = p->lp.Sim().PeekPage(int(at.chip), at.row, at.sector + 1);
        EXPECT_EQ(second[512], 0xEE);
        if (p->Blocks(c.size) == 1) {
            EXPECT_EQ(page[512 + 7], 0xFF);
            EXPECT_EQ(page[512 + 8], 0xFF);
            EXPECT_EQ(page[512 + 10], 0xFF);
        }
        EXPECT_EQ(List(root).back().attributes, c.attributes) << c.name;
        EXPECT_EQ(List(root).back().size, c.size);
        EXPECT_EQ(Upload(root, id), content) << c.name;
    }

    // A later session sees the same folder, reads the same bytes.
    auto again = p->ReloadRoot();
    EXPECT_EQ(List(*again), List(root));
    EXPECT_EQ(Upload(*again, ids[1]), Pattern(cases[1].size, 2));

    // Deleting gives back exactly the blocks of the file; the first entry set of the root (slots
    // 0 and 1) is found too.
    EXPECT_EQ(root.DeleteFile(ids[0]), kStatusOk);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeStart - used + 2);
    EXPECT_EQ(root.DeleteFile(ids[0]), kStatusFolderError);
    for (std::size_t i = 1; i < ids.size(); ++i)
        EXPECT_EQ(root.DeleteFile(ids[i]), kStatusOk);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeStart);
    EXPECT_EQ(p->FreeBlocks(), freeStart);
    EXPECT_TRUE(List(*p->ReloadRoot()).empty());
}

TEST_P(InternalModelTest, StreamsInterleavedWithOtherOperations)
{
    InternalFolder& root = *p->root;
    const std::uint32_t b = p->blockBytes;
    const std::uint32_t freeStart = LegacyStore.freeBlockCount;
    const Bytes kept = Pattern(b + 10, 7);
    ASSERT_EQ(Download(root, "kept.bin", kept), kStatusOk);
    const std::uint32_t keptId = IdOf(root, L"kept.bin");

    // A write stream of one block and one byte, with other operations between its calls.
    const Bytes streamed = Pattern(b + 1, 8);
    ASSERT_EQ(root.Create(L"streamed.bin"), kStatusOk);
    ASSERT_EQ(root.Write(streamed.data(), 100), kStatusOk);
    // New blocks and ids wait for the stream; the rest goes on.
    EXPECT_EQ(Download(root, "waits.bin", Pattern(10, 9)), kStatusFileError);
    EXPECT_EQ(root.RenameEntry(keptId, L"kept renamed.bin", 0), kStatusOk);
    EXPECT_EQ(Upload(root, keptId), kept);
    ASSERT_EQ(root.Write(streamed.data() + 100, std::uint32_t(streamed.size() - 100)), kStatusOk);
    EXPECT_EQ(root.SetPlayIndex(keptId, 0), kStatusOk);
    ASSERT_EQ(root.Close(), kStatusOk);
    EXPECT_EQ(root.Close(), kStatusFileError);
    const std::uint32_t streamId = IdOf(root, L"streamed.bin");
    EXPECT_NE(streamId, keptId);
    EXPECT_EQ(Upload(root, streamId), streamed);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeStart - 4);

    // A read stream, with a download and a listing between its reads.
    ASSERT_EQ(root.OpenRead(streamId), kStatusOk);
    Bytes back(streamed.size());
    std::uint32_t count = 0;
    ASSERT_EQ(root.Read(back.data(), 50, &count), kStatusOk);
    EXPECT_EQ(count, 50u);
    ASSERT_EQ(Download(root, "between.bin", Pattern(2 * b, 10)), kStatusOk);
    EXPECT_EQ(Names(root).size(), 3u);
    ASSERT_EQ(root.Read(back.data() + 50, std::uint32_t(back.size()), &count), kStatusOk);
    EXPECT_EQ(count, streamed.size() - 50);
    EXPECT_EQ(back, streamed);
    EXPECT_EQ(root.Close(), kStatusOk);

    // An empty stream leaves an entry of size 0 and no block.
    const std::uint32_t freeBefore = LegacyStore.freeBlockCount;
    ASSERT_EQ(root.Create(L"empty.txt"), kStatusOk);
    ASSERT_EQ(root.Close(), kStatusOk);
    EXPECT_EQ(List(root).back().size, 0u);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeBefore);
    EXPECT_EQ(p->FreeBlocks(), freeBefore);

    // The listing of a later session: the play order and the names survived.
    EXPECT_EQ(Names(*p->ReloadRoot()),
              (std::vector<std::wstring>{L"kept renamed.bin", L"streamed.bin", L"between.bin", L"empty.txt"}));
}

TEST_P(InternalModelTest, FailedAndCancelledTransfersLeaveNothingBehind)
{
    InternalFolder& root = *p->root;
    const std::uint32_t b = p->blockBytes;
    ASSERT_EQ(Download(root, "keep.bin", Pattern(100, 1)), kStatusOk);
    const std::uint32_t freeStart = LegacyStore.freeBlockCount;
    const std::vector<Entry> before = List(root);

    // A transfer failure at every point of a three-block download, from its first block to the
    // directory write-back: an error, and no entry, no block left behind.
    int failures = 0;
    for (std::uint64_t nth = 1; nth < 200; ++nth) {
        p->lp.player.Server().InjectFault(sim::FaultKind::Fail, nth);
        const std::uint32_t status = Download(root, "broken.bin", Pattern(3 * std::size_t{b}, 2));
        p->lp.player.Server().ClearFault();
        if (status == kStatusOk) {
            ASSERT_EQ(root.DeleteFile(IdOf(root, L"broken.bin")), kStatusOk);
            break;
        }
        ++failures;
        EXPECT_EQ(List(root), before) << nth;
        EXPECT_EQ(List(*p->ReloadRoot()), before) << nth;
        EXPECT_EQ(LegacyStore.freeBlockCount, freeStart) << nth;
        EXPECT_EQ(p->FreeBlocks(), freeStart) << nth;
    }
    EXPECT_GT(failures, 8);
    EXPECT_EQ(List(*p->ReloadRoot()), before);

    // Cancel after the first block: no entry, no blocks, status 0.
    {
        CancelAtStep sink(1);
        SinkScope scope(&sink);
        EXPECT_EQ(Download(root, "cancelled.bin", Pattern(4 * std::size_t{b}, 4)), kStatusOk);
    }
    EXPECT_EQ(List(*p->ReloadRoot()), before);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeStart);
    EXPECT_EQ(p->FreeBlocks(), freeStart);

    // The free count is an estimate: when the chips run out of erased blocks before the file does,
    // the download stops with 3 and gives back what it took.
    {
        std::vector<std::uint8_t> saved(NandChips[0].spareTable.begin(), NandChips[0].spareTable.end());
        std::uint32_t leave = 2;
        for (std::uint32_t c = 0; c < LegacyChipLimit(); ++c) {
            NandChip& chip = NandChips[c];
            if (!chip.present)
                continue;
            chip.Rewind();
            for (std::uint32_t r = 0; r < chip.rowCount; ++r) {
                for (std::uint32_t s = 0; s < 256; s += chip.sectorsPerBlock) {
                    chip.row = std::uint16_t(r);
                    chip.sector = std::uint8_t(s);
                    std::uint8_t* rec = chip.CursorRecord();
                    if (rec && rec[0] == 0xFF && rec[1] == 0xFF) {
                        if (leave > 0)
                            --leave;
                        else
                            rec[0] = 0x00;  // taken by something this host does not know
                    }
                }
            }
            chip.Rewind();
        }
        LegacyStore.freeBlockCount = 100;
        EXPECT_EQ(Download(root, "too big.bin", Pattern(3 * std::size_t{b}, 5)), kStatusStorageFull);
        EXPECT_EQ(p->FreeBlocks(), 2u);
        EXPECT_EQ(List(root), before);
        // A stream meets the same end at its third block.
        ASSERT_EQ(root.Create(L"stream too big.bin"), kStatusOk);
        const Bytes data = Pattern(3 * std::size_t{b}, 6);
        EXPECT_EQ(root.Write(data.data(), std::uint32_t(data.size())), kStatusStorageFull);
        EXPECT_EQ(p->FreeBlocks(), 2u);
        EXPECT_EQ(List(root), before);
        std::copy(saved.begin(), saved.end(), NandChips[0].spareTable.begin());
        for (std::uint32_t c = 1; c < LegacyChipLimit(); ++c) {
            NandChip& chip = NandChips[c];
            if (!chip.present)
                continue;
            for (auto& byte : chip.spareTable) {
                if (byte == 0x00)
                    byte = 0xFF;
            }
        }
        LegacyStore.freeBlockCount = LegacyCountFreeBlocks();
        EXPECT_EQ(LegacyStore.freeBlockCount, freeStart);
    }

    // Upload: a failed read and a cancel remove the PC file.
    const std::uint32_t bigId = [&] {
        EXPECT_EQ(Download(root, "big.bin", Pattern(3 * std::size_t{b}, 7)), kStatusOk);
        return IdOf(root, L"big.bin");
    }();
    const auto out = temp.File("partial.out");
    p->lp.player.Server().InjectFault(sim::FaultKind::Fail, 3);
    EXPECT_EQ(root.UploadFile(bigId, out.wstring().c_str()), kStatusUsbError);
    p->lp.player.Server().ClearFault();
    EXPECT_FALSE(std::filesystem::exists(out));
    {
        CancelAtStep sink(1);
        SinkScope scope(&sink);
        EXPECT_EQ(root.UploadFile(bigId, out.wstring().c_str()), kStatusOk);
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(root.UploadFile(999, out.wstring().c_str()), kStatusFolderError);
    // A PC file that cannot be made.
    EXPECT_EQ(root.UploadFile(bigId, temp.File("no such folder\\x.out").wstring().c_str()), kStatusFileError);
    EXPECT_EQ(root.DownloadFile(temp.File("missing.bin").wstring().c_str()), kStatusFileError);
}

TEST_P(InternalModelTest, EmptyFilesGetTheirOwnIds)
{
    InternalFolder& root = *p->root;
    const std::uint32_t freeStart = LegacyStore.freeBlockCount;
    ASSERT_EQ(Download(root, "first empty.txt", {}), kStatusOk);
    ASSERT_EQ(Download(root, "second empty.txt", {}), kStatusOk);
    ASSERT_EQ(Download(root, "full.bin", Pattern(10, 1)), kStatusOk);
    const std::uint32_t a = IdOf(root, L"first empty.txt");
    const std::uint32_t b = IdOf(root, L"second empty.txt");
    const std::uint32_t c = IdOf(root, L"full.bin");
    EXPECT_NE(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(b, c);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeStart - 1);

    // An empty file comes back as an empty PC file.
    const auto out = temp.File("empty.out");
    ASSERT_EQ(root.UploadFile(a, out.wstring().c_str()), kStatusOk);
    ASSERT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(std::filesystem::file_size(out), 0u);

    // Each id acts on its own entry.
    EXPECT_EQ(root.RenameEntry(b, L"renamed.txt", 0), kStatusOk);
    EXPECT_EQ(root.DeleteFile(a), kStatusOk);
    EXPECT_EQ(Names(*p->ReloadRoot()), (std::vector<std::wstring>{L"full.bin", L"renamed.txt"}));
    EXPECT_EQ(Upload(root, c), Pattern(10, 1));
}

INSTANTIATE_TEST_SUITE_P(Models, InternalModelTest, ::testing::Values(9, 11, 14),
                         [](const auto& info) { return "Model" + std::to_string(info.param); });

TEST(InternalMp3Test, TagThenAudioFromTheFrameSync)
{
    InternalPlayer p(12);
    ASSERT_TRUE(p.ready);
    test_support::TempFolder temp;
    Bytes mp3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 17};
    const Bytes frame = {'T', 'I', 'T', '2', 0, 0, 0, 7, 0, 0, 0, 'S', 'o', 'n', 'g', ' ', '1'};
    mp3.insert(mp3.end(), frame.begin(), frame.end());
    const Bytes junk = {1, 2, 3, 0xFF, 0x00, 4};
    mp3.insert(mp3.end(), junk.begin(), junk.end());
    const std::size_t sync = mp3.size();
    Bytes audio = Pattern(300000, 3);
    audio[0] = 0xFF;
    audio[1] = 0xFB;
    mp3.insert(mp3.end(), audio.begin(), audio.end());
    const auto path = temp.File("song.Mp3");
    WriteFile(path, mp3);

    TagRecord builder;
    std::int64_t offset = 0;
    std::unique_ptr<std::uint8_t[]> tag;
    const std::uint32_t tagLength = builder.BuildTagFromFile(path.wstring().c_str(), &offset, &tag);
    ASSERT_GT(tagLength, 0u);

    ASSERT_EQ(p.root->DownloadFile(path.wstring().c_str()), kStatusOk);
    const Entry e = List(*p.root).at(0);
    EXPECT_EQ(e.size, tagLength + mp3.size() - sync);
    ASSERT_TRUE(LegacyFindFileStart(e.id));
    EXPECT_EQ(LegacyStore.walkerType, 1);

    ASSERT_EQ(p.root->UploadFile(e.id, temp.File("back.mp3").wstring().c_str()), kStatusOk);
    Bytes expected(tag.get(), tag.get() + tagLength);
    expected.insert(expected.end(), mp3.begin() + static_cast<std::ptrdiff_t>(sync), mp3.end());
    EXPECT_EQ(ReadFile(temp.File("back.mp3")), expected);

    Bytes noSync = Pattern(3000, 4);
    for (auto& byte : noSync)
        byte &= 0x7F;
    WriteFile(temp.File("nosync.mp3"), noSync);
    EXPECT_EQ(p.root->DownloadFile(temp.File("nosync.mp3").wstring().c_str()), kStatusFileError);
    EXPECT_EQ(Names(*p.ReloadRoot()), std::vector<std::wstring>{L"song.Mp3"});
}

}  // namespace
