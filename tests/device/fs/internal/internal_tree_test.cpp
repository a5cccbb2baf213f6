// Folder trees of the internal folder objects: subfolders several levels deep, rename, moves allowed
// and refused, the recording folder, play order, deleting a folder with its contents, and directory
// write-backs whose erase fails.
#include "tests/device/fs/internal/internal_fixture.h"

#include <filesystem>

using namespace engine;
using namespace internaltest;

namespace {

class InternalTree : public ::testing::Test {
protected:
    void Start(int model)
    {
        p = std::make_unique<InternalPlayer>(model);
        ASSERT_TRUE(p->ready);
    }
    std::uint32_t Download(InternalFolder& folder, const std::string& name, std::size_t size, std::uint32_t seed)
    {
        WriteFile(temp.File(name), Pattern(size, seed));
        return folder.DownloadFile(temp.File(name).wstring().c_str());
    }
    std::uint32_t Make(InternalFolder& parent, const wchar_t* name)
    {
        std::uint32_t id = 0;
        EXPECT_EQ(parent.CreateSubfolder(name, &id), kStatusOk);
        return id;
    }
    Bytes Upload(InternalFolder& folder, std::uint32_t id)
    {
        const auto path = temp.File("upload.out");
        EXPECT_EQ(folder.UploadFile(id, path.wstring().c_str()), kStatusOk);
        return ReadFile(path);
    }
    // The block index of the folder's directory block on chip 0.
    std::uint32_t DirectoryBlock(std::uint32_t id)
    {
        Engine.CurrentChip = 0;
        NandChips[0].Rewind();
        while (LegacyNextFileStart() == kWalkFound) {
            if (LegacyStore.walkerId == id && LegacyStore.walkerType == 'R') {
                const NandChip& c = NandChips[0];
                return c.row * (256u / c.sectorsPerBlock) + c.sector / c.sectorsPerBlock;
            }
            LegacyAdvanceBlock();
        }
        ADD_FAILURE() << "no directory block of " << id;
        return 0;
    }

    std::unique_ptr<InternalPlayer> p;
    test_support::TempFolder temp;
};

TEST_F(InternalTree, FoldersSeveralLevelsDeep)
{
    Start(9);
    const std::uint32_t freeStart = LegacyStore.freeBlockCount;
    const std::uint32_t a = Make(*p->root, L"Albums");
    auto fa = p->Open(a);
    const std::uint32_t b = Make(*fa, L"Second level folder");
    auto fb = p->Open(b);
    const std::uint32_t c = Make(*fb, L"c");
    auto fc = p->Open(c);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeStart - 3);

    // ".", ".." (0 below the root, else the parent's id) and the folder's own name entry.
    struct Case {
        InternalFolder* folder;
        std::uint32_t id;
        std::int64_t parent;
        const wchar_t* name;
    };
    for (const Case& k :
         {Case{fa.get(), a, 0, L"Albums"}, Case{fb.get(), b, a, L"Second level folder"}, Case{fc.get(), c, b, L"c"}}) {
        EXPECT_EQ(k.folder->ParentId(), k.parent);
        const std::vector<Entry> entries = List(*k.folder);
        ASSERT_GE(entries.size(), 3u);
        EXPECT_EQ(entries[0].id, k.id);
        EXPECT_EQ(entries[2].name, k.name);
        EXPECT_EQ(entries[2].attributes, 0x1A);
        EXPECT_EQ(entries[2].id, k.id);
    }
    EXPECT_EQ(List(*p->root).at(0).attributes, 0x10);

    ASSERT_EQ(Download(*fc, "deep.bin", 5000, 1), kStatusOk);
    ASSERT_EQ(Download(*fb, "middle.bin", 5000, 2), kStatusOk);
    EXPECT_EQ(Upload(*p->Open(c), IdOf(*fc, L"deep.bin")), Pattern(5000, 1));

    // Renaming a folder renames its own entry inside it; a file rename touches its folder only.
    ASSERT_EQ(fb->RenameEntry(c, L"Third", 0), kStatusOk);
    EXPECT_TRUE(Has(*p->Open(b), L"Third"));
    EXPECT_FALSE(Has(*p->Open(b), L"c"));
    fc = p->Open(c);
    EXPECT_TRUE(Has(*fc, L"Third"));
    EXPECT_FALSE(Has(*fc, L"c"));
    EXPECT_EQ(List(*fc).at(0).id, c);
    const std::vector<Entry> bBefore = List(*p->Open(b));
    ASSERT_EQ(fc->RenameEntry(IdOf(*fc, L"deep.bin"), L"deeper.bin", 0), kStatusOk);
    EXPECT_TRUE(Has(*p->Open(c), L"deeper.bin"));
    EXPECT_EQ(List(*p->Open(b)), bBefore);
    // Names that do not fit are refused and change nothing.
    const std::wstring tooLong(300, L'x');
    EXPECT_EQ(fb->RenameEntry(c, tooLong.c_str(), 0), kStatusFolderError);
    EXPECT_EQ(fb->RenameEntry(999, L"x", 0), kStatusFolderError);
    EXPECT_EQ(List(*p->Open(b)), List(*fb));

    // Deleting a folder takes everything below it; the blocks come back.
    ASSERT_EQ(p->root->DeleteFile(a), kStatusOk);
    EXPECT_TRUE(List(*p->ReloadRoot()).empty());
    EXPECT_EQ(LegacyStore.freeBlockCount, freeStart);
    EXPECT_EQ(p->FreeBlocks(), freeStart);
    InternalFolder gone(Engine.InternalFolderEntries, b, 1, 0);
    EXPECT_EQ(gone.Load(), kStatusFolderError);
}

TEST_F(InternalTree, MovesAllowedAndRefused)
{
    Start(14);
    const std::uint32_t a = Make(*p->root, L"A");
    auto fa = p->Open(a);
    const std::uint32_t b = Make(*fa, L"B");
    auto fb = p->Open(b);
    const std::uint32_t c = Make(*fb, L"C");
    ASSERT_EQ(Download(*p->root, "song.bin", 3 * std::size_t{p->blockBytes}, 3), kStatusOk);
    const std::uint32_t song = IdOf(*p->root, L"song.bin");

    // A file from the root into A keeps its id and its blocks. (The source folder is read afresh by
    // the move, so a root object held from before is stale afterwards.)
    ASSERT_EQ(fa->MoveEntry(1, 1, song), kStatusOk);
    p->root = p->ReloadRoot();
    EXPECT_EQ(Names(*p->ReloadRoot()), std::vector<std::wstring>{L"A"});
    EXPECT_EQ(IdOf(*p->Open(a), L"song.bin"), song);
    EXPECT_EQ(Upload(*fa, song), Pattern(3 * std::size_t{p->blockBytes}, 3));

    // Refused, nothing changed: into the folder it is in, into its own subtree, a folder into itself,
    // an id the source does not hold.
    const std::vector<Entry> rootBefore = List(*p->ReloadRoot());
    const std::vector<Entry> aBefore = List(*p->Open(a));
    const std::vector<Entry> bBefore = List(*p->Open(b));
    auto fc = p->Open(c);
    struct Refusal {
        InternalFolder* target;
        std::uint32_t sourceId, sourceRoot, id;
    };
    for (const Refusal& r : {Refusal{fa.get(), a, 0, song}, Refusal{fb.get(), 1, 1, a}, Refusal{fc.get(), 1, 1, a},
                             Refusal{fc.get(), a, 0, b}, Refusal{fb.get(), a, 0, b}, Refusal{p->root.get(), 1, 1, a},
                             Refusal{fb.get(), 1, 1, 999}}) {
        EXPECT_EQ(r.target->MoveEntry(r.sourceId, r.sourceRoot, r.id), kStatusFolderError) << r.sourceId << " " << r.id;
    }
    EXPECT_EQ(List(*p->ReloadRoot()), rootBefore);
    EXPECT_EQ(List(*p->Open(a)), aBefore);
    EXPECT_EQ(List(*p->Open(b)), bBefore);

    // B (with C inside) up into the root: its ".." follows; C still hangs below B.
    ASSERT_EQ(p->root->MoveEntry(a, 0, b), kStatusOk);
    EXPECT_EQ(p->Open(b)->ParentId(), 0);
    EXPECT_EQ(p->Open(c)->ParentId(), b);
    EXPECT_EQ(Names(*p->ReloadRoot()), (std::vector<std::wstring>{L"A", L"B"}));
    // ... and down into C's sibling level again: A goes below C.
    fc = p->Open(c);
    ASSERT_EQ(fc->MoveEntry(1, 1, a), kStatusOk);
    EXPECT_EQ(p->Open(a)->ParentId(), c);
    EXPECT_EQ(Upload(*p->Open(a), song), Pattern(3 * std::size_t{p->blockBytes}, 3));
}

TEST_F(InternalTree, RecordingFolderIsKeptAndPlayOrder)
{
    Start(16);
    const std::uint32_t rec = Make(*p->root, L"KWEP RECORD");
    ASSERT_EQ(Download(*p->root, "one.bin", 10, 1), kStatusOk);
    ASSERT_EQ(Download(*p->root, "two.bin", 10, 2), kStatusOk);
    const std::uint32_t other = Make(*p->root, L"other");
    // The recording folder is learnt when the root loads.
    p->root = p->ReloadRoot();
    EXPECT_EQ(p->root->RecordFolderId(), std::int32_t(rec));
    EXPECT_EQ(Engine.RecordFolderId, std::int32_t(rec));

    auto fr = p->Open(rec);
    auto fo = p->Open(other);
    EXPECT_EQ(p->root->RenameEntry(rec, L"x", 0), kStatusRecordFolder);
    EXPECT_EQ(p->root->DeleteFile(rec), kStatusRecordFolder);
    EXPECT_EQ(fo->MoveEntry(1, 1, rec), kStatusRecordFolder);
    EXPECT_EQ(fr->MoveEntry(1, 1, IdOf(*p->root, L"one.bin")), kStatusFolderError);
    EXPECT_EQ(fr->CreateSubfolder(L"sub", nullptr), kStatusFolderError);
    EXPECT_EQ(Download(*fr, "in.bin", 10, 3), kStatusFolderError);
    EXPECT_EQ(fr->Create(L"stream.bin"), kStatusFolderError);
    EXPECT_EQ(Names(*p->Open(rec)).size(), 3u);

    // Play order: positions among the visible entries, kept on the medium.
    const std::uint32_t two = IdOf(*p->root, L"two.bin");
    ASSERT_EQ(p->root->SetPlayIndex(two, 0), kStatusOk);
    ASSERT_EQ(p->root->SetPlayIndex(rec, 3), kStatusOk);
    EXPECT_EQ(Names(*p->ReloadRoot()), (std::vector<std::wstring>{L"two.bin", L"one.bin", L"other", L"KWEP RECORD"}));
    EXPECT_EQ(p->root->SetPlayIndex(two, 4), kStatusFolderError);
    EXPECT_EQ(p->root->SetPlayIndex(999, 0), kStatusFolderError);

    // Another name is no recording folder.
    LegacyStore.freeBlockCount = LegacyCountFreeBlocks();
    Engine.SpecialBuildNumber = 3;
    p->root = p->ReloadRoot();
    EXPECT_EQ(Engine.RecordFolderId, -1);
    Engine.SpecialBuildNumber = 0;
}

TEST_F(InternalTree, DirectoryWritesThatFail)
{
    Start(11);
    const std::uint32_t a = Make(*p->root, L"A");
    ASSERT_EQ(Download(*p->root, "keep.bin", 10, 1), kStatusOk);
    const std::vector<Entry> before = List(*p->root);
    const std::uint32_t freeStart = LegacyStore.freeBlockCount;

    // The root's block does not erase: 4, and the block still holds the old directory.
    const std::uint32_t rootBlock = DirectoryBlock(1);
    ASSERT_TRUE(p->lp.Sim().FailErase(0, rootBlock));
    EXPECT_EQ(Download(*p->root, "new.bin", 10, 2), kStatusUsbError);
    EXPECT_EQ(p->root->RenameEntry(a, L"B", 0), kStatusUsbError);
    EXPECT_EQ(p->root->SetPlayIndex(a, 1), kStatusUsbError);
    EXPECT_EQ(p->root->CreateSubfolder(L"new folder", nullptr), kStatusUsbError);
    p->lp.Sim().ClearFailures();
    EXPECT_EQ(List(*p->root), before);
    EXPECT_EQ(List(*p->ReloadRoot()), before);
    EXPECT_EQ(LegacyStore.freeBlockCount, freeStart);
    EXPECT_EQ(p->FreeBlocks(), freeStart);

    // The new folder's directory cannot be written: no entry names it.
    for (std::uint64_t nth : {1u, 2u, 3u}) {
        p->lp.player.Server().InjectFault(sim::FaultKind::Fail, nth);
        EXPECT_NE(p->root->CreateSubfolder(L"never", nullptr), kStatusOk) << nth;
        p->lp.player.Server().ClearFault();
        EXPECT_EQ(List(*p->ReloadRoot()), before) << nth;
    }

    // A block erase that fails during a delete keeps the entry.
    const std::uint32_t keep = IdOf(*p->root, L"keep.bin");
    ASSERT_TRUE(LegacyFindFileStart(keep));
    const NandChip& chip = NandChips[0];
    const std::uint32_t keepBlock = chip.row * (256u / chip.sectorsPerBlock) + chip.sector / chip.sectorsPerBlock;
    ASSERT_TRUE(p->lp.Sim().FailErase(0, keepBlock));
    EXPECT_EQ(p->root->DeleteFile(keep), kStatusUsbError);
    p->lp.Sim().ClearFailures();
    EXPECT_EQ(List(*p->ReloadRoot()), before);
}

// A tree copied file by file, cancelled in the middle of one file: the files before it stay whole,
// the cancelled one leaves nothing, and the tree goes on afterwards.
TEST_F(InternalTree, CancelInTheMiddleOfATree)
{
    Start(9);
    const std::uint32_t b = p->blockBytes;
    std::vector<std::unique_ptr<InternalFolder>> folders;
    std::uint32_t parent = 1;
    for (const wchar_t* name : {L"one", L"two", L"three"}) {
        InternalFolder& at = folders.empty() ? *p->root : *folders.back();
        const std::uint32_t id = Make(at, name);
        folders.push_back(p->Open(id));
        EXPECT_EQ(folders.back()->ParentId(), parent == 1 ? 0 : std::int64_t(parent));
        parent = id;
    }
    ASSERT_EQ(Download(*folders[0], "a.bin", 2 * std::size_t{b}, 1), kStatusOk);
    ASSERT_EQ(Download(*folders[1], "b.bin", 3 * std::size_t{b}, 2), kStatusOk);
    const std::uint32_t freeBefore = LegacyStore.freeBlockCount;
    {
        CancelAtStep sink(2);
        SinkScope scope(&sink);
        EXPECT_EQ(Download(*folders[2], "c.bin", 4 * std::size_t{b}, 3), kStatusOk);
    }
    EXPECT_EQ(LegacyStore.freeBlockCount, freeBefore);
    EXPECT_EQ(p->FreeBlocks(), freeBefore);
    EXPECT_FALSE(Has(*p->Open(List(*folders[1]).at(3).id), L"c.bin"));
    EXPECT_EQ(Upload(*p->Open(List(*folders[0]).at(3).id), IdOf(*folders[1], L"b.bin")),
              Pattern(3 * std::size_t{b}, 2));
    ASSERT_EQ(Download(*folders[2], "d.bin", 10, 4), kStatusOk);
    EXPECT_EQ(Names(*p->Open(List(*folders[1]).at(3).id)).back(), L"d.bin");

    // No free block for a new directory: 3, nothing named.
    LegacyStore.freeBlockCount = 0;
    EXPECT_EQ(folders[2]->CreateSubfolder(L"four", nullptr), kStatusStorageFull);
    EXPECT_EQ(Download(*folders[2], "e.bin", 10, 5), kStatusStorageFull);
    LegacyStore.freeBlockCount = LegacyCountFreeBlocks();
    EXPECT_FALSE(Has(*folders[2], L"four"));

    // While a write stream is open nothing else takes blocks or ids, in any folder.
    ASSERT_EQ(folders[0]->Create(L"streaming.bin"), kStatusOk);
    EXPECT_EQ(folders[1]->CreateSubfolder(L"waits", nullptr), kStatusFileError);
    EXPECT_EQ(folders[1]->Create(L"second stream.bin"), kStatusFileError);
    EXPECT_EQ(Download(*folders[2], "waits.bin", 10, 6), kStatusFileError);
    EXPECT_EQ(Upload(*folders[1], IdOf(*folders[1], L"b.bin")), Pattern(3 * std::size_t{b}, 2));
    const Bytes data = Pattern(100, 7);
    ASSERT_EQ(folders[0]->Write(data.data(), 100), kStatusOk);
    ASSERT_EQ(folders[0]->Close(), kStatusOk);
    EXPECT_EQ(folders[1]->CreateSubfolder(L"now", nullptr), kStatusOk);
}

// The older models' purge keeps only what the root names; on these models it must leave every
// subfolder alone.
TEST_F(InternalTree, LegacyPurgeErasesNothingHere)
{
    Start(9);
    const std::uint32_t a = Make(*p->root, L"A");
    auto fa = p->Open(a);
    const std::uint32_t b = Make(*fa, L"B");
    ASSERT_EQ(Download(*fa, "inside.bin", 3000, 4), kStatusOk);
    const std::uint32_t freeBefore = p->FreeBlocks();
    std::uint32_t newId = 0;
    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    ASSERT_EQ(LegacyPurgeUnreferenced(newId), kStatusOk);
    EXPECT_GE(newId, 6u);
    EXPECT_EQ(p->FreeBlocks(), freeBefore);
    EXPECT_EQ(Names(*p->Open(b)).size(), 3u);
    EXPECT_EQ(Upload(*p->Open(a), IdOf(*fa, L"inside.bin")), Pattern(3000, 4));
}

TEST_F(InternalTree, SystemFilesJoinTheRootFolder)
{
    Start(9);
    ASSERT_EQ(Download(*p->root, "song.bin", 3000, 1), kStatusOk);
    const Bytes data = Pattern(5000, 2);
    ASSERT_EQ(p->lp.device.WriteSystemFile("sysdata.dat", static_cast<std::uint32_t>(data.size()), data.data(), 5),
              kStatusOk);

    // A root folder loaded afterwards holds both, and its own rewrites keep the system file.
    auto root = p->ReloadRoot();
    EXPECT_TRUE(Has(*root, L"song.bin"));
    ASSERT_TRUE(Has(*root, L"sysdata.dat"));
    EXPECT_EQ(IdOf(*root, L"sysdata.dat"), 5u);
    ASSERT_EQ(Download(*root, "later.bin", 100, 3), kStatusOk);
    root = p->ReloadRoot();
    EXPECT_EQ(Names(*root), (std::vector<std::wstring>{L"song.bin", L"sysdata.dat", L"later.bin"}));
    EXPECT_EQ(Upload(*root, 5), data);
    EXPECT_EQ(Upload(*root, IdOf(*root, L"song.bin")), Pattern(3000, 1));
}

}  // namespace
