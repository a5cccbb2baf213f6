#include "device/fs/internal/internal_folder.h"

#include "device/fs/pc/device_file_util.h"
#include "device/fs/pc/pc_transfer.h"
#include "device/flash/nand_chip.h"
#include "device/fs/engine_status.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"
#include "platform/win/file_util.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

namespace engine {

namespace {

// The folder object whose write stream is open: it holds blocks and an id that no entry names yet,
// so nothing else may take new blocks or ids until it ends.
const InternalFolder* openWriteStream = nullptr;

// Folders nest no deeper than this in any tree the system makes; a deeper chain is damaged data.
constexpr std::uint32_t kMaxTreeDepth = 256;

std::uint32_t BlocksFor(std::uint64_t bytes)
{
    const std::uint32_t blockBytes = LegacyBlockBytes();
    return blockBytes ? static_cast<std::uint32_t>((bytes + blockBytes - 1) / blockBytes) : 0;
}

void RewindChipZero()
{
    Engine.CurrentChip = 0;
    NandChips[0].Rewind();
}

// The next erased block from the cursor on, with the cursor left on it.
bool NextFree(BlockPosition& at)
{
    if (LegacyNextFreeBlock() != kWalkFound)
        return false;
    at = LegacyCursor();
    return true;
}

std::uint16_t RecordBlockCount(std::uint32_t blocks)
{
    return static_cast<std::uint16_t>(std::min<std::uint32_t>(blocks, 0xFFFF));
}

// Name, slots, short name, type code and attribute of a new file entry.
struct NewEntry {
    const wchar_t* name = nullptr;
    std::uint32_t slots = 0;
    std::uint32_t shortSlot = 0;
    char shortText[kShortTextBytes] = {};
    std::uint8_t typeCode = 0;
    std::uint8_t attribute = 0;
};

}  // namespace

InternalFolder::InternalFolder(std::uint32_t capacity, std::uint32_t folderId, std::uint32_t flagWord,
                               std::uint32_t rootFlag)
    : FatFolder(capacity, folderId, flagWord, rootFlag)
{
    // A directory never spans more than one erase block.
    if (LegacyChipZeroPresent())
        capacity_ = std::min<std::uint32_t>(capacity_, LegacyBlockBytes() / std::uint32_t(sizeof(FatDirSlot)));
}

InternalFolder::~InternalFolder()
{
    if (streamOpen_)
        EndStream(true);
}

bool InternalFolder::IsRecordingFolder() const
{
    return IsRecordingFolderId(FolderId());
}

bool InternalFolder::IsRecordingFolderId(std::uint32_t id) const
{
    return Engine.RecordFolderId >= 0 && id == static_cast<std::uint32_t>(Engine.RecordFolderId);
}

bool InternalFolder::FindDirectoryBlock()
{
    RewindChipZero();
    while (LegacyNextFileStart() == kWalkFound) {
        if (LegacyStore.walkerId == FolderId() && LegacyStore.walkerType == kTypeRoot)
            return true;
        LegacyAdvanceBlock();
    }
    return false;
}

EngineStatus InternalFolder::WriteDirectoryBlock()
{
    std::vector<std::uint8_t> units;
    const std::uint32_t bytes = capacity_ * static_cast<std::uint32_t>(sizeof(FatDirSlot));
    const std::uint32_t blocks = std::max<std::uint32_t>(BlocksFor(bytes), 1);
    try {
        return LegacyWriteFileBlock(units, Entries()[0].raw, bytes, true, FolderId(), RecordBlockCount(blocks),
                                    kTypeRoot, BlockLink{});
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }
}

EngineStatus InternalFolder::AllocateId(std::uint32_t& newId) const
{
    // Empty files have no blocks, so the walk alone would hand their ids out again.
    std::vector<std::uint32_t> held;
    try {
        for (std::uint32_t slot = 0; slot < capacity_; ++slot) {
            const FatDirSlot& s = Entries()[slot];
            if (s.raw[0] != kSlotFree && s.raw[11] != kAttrLongName)
                held.push_back(s.entry.firstCluster);
        }
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }
    return LegacyFindUnusedId(newId, &held);
}

// ---- Directory ----

EngineStatus InternalFolder::Load()
{
    if (!Entries() || capacity_ == 0)
        return kStatusStorageFull;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    if (!FindDirectoryBlock())
        return kStatusFolderError;
    const BlockPosition at = LegacyCursor();
    NandChip& chip = NandChips[at.chip];
    std::vector<std::uint8_t> block;
    try {
        block.assign(std::size_t{chip.sectorsPerBlock} * kUnitDataBytes, 0);
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }
    PlayerPipes.Need();
    if (chip.ReadBlock(block) != kTransportOk)
        return kStatusUsbError;
    std::memset(Entries(), 0, capacity_ * sizeof(FatDirSlot));
    std::memcpy(Entries(), block.data(), std::min<std::size_t>(capacity_ * sizeof(FatDirSlot), block.size()));
    dirBlock_ = at;
    dirBlockKnown_ = true;

    if (RootFlag()) {
        try {
            LegacyStore.root.assign(Entries(), Entries() + capacity_);
        } catch (const std::bad_alloc&) {
            LegacyStore.root.clear();
            LegacyStore.rootLoaded = 0;
            return kStatusStorageFull;
        }
        LegacyStore.rootBlock = at;
        LegacyStore.rootLoaded = 1;
        LegacyStore.rootDirty = 0;
        LegacyStore.freeBlockCount = LegacyCountFreeBlocks();

        recordFolderId_ = -1;
        const wchar_t* recordName = RecordFolderName(Engine.SpecialBuildNumber);
        DirRecord record;
        for (std::int32_t r = FindFirst(&record); r == 0; r = FindNext(&record)) {
            // Only a folder of that name is the recording folder; a file may carry any name.
            if ((record.attributes & kAttrDirectory) != 0 &&
                std::wcscmp(reinterpret_cast<const wchar_t*>(record.name), recordName) == 0) {
                recordFolderId_ = record.firstCluster;
                break;
            }
        }
        Engine.RecordFolderId = recordFolderId_;
    }
    return kStatusOk;
}

EngineStatus InternalFolder::WriteNewDirectory()
{
    if (!Entries() || capacity_ == 0 || !LegacyChipZeroPresent())
        return kStatusStorageFull;
    if (LegacyStore.freeBlockCount < 1)
        return kStatusStorageFull;
    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    RewindChipZero();
    BlockPosition at;
    if (!NextFree(at))
        return kStatusStorageFull;
    if (const EngineStatus status = WriteDirectoryBlock()) {
        // Whatever reached the block goes again: no directory half written stays behind.
        LegacySetCursor(at);
        if (LegacyEraseAtCursor() == kStatusOk)
            ++LegacyStore.freeBlockCount;
        return status;
    }
    dirBlock_ = at;
    dirBlockKnown_ = true;
    return kStatusOk;
}

EngineStatus InternalFolder::RewriteDirectory()
{
    if (!Entries() || capacity_ == 0 || !LegacyChipZeroPresent())
        return kStatusStorageFull;
    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    if (!FindDirectoryBlock()) {
        // An earlier rewrite may have erased the block and then failed to write it.
        if (!dirBlockKnown_)
            return kStatusFolderError;
        LegacySetCursor(dirBlock_);
        const std::uint8_t* record = NandChips[dirBlock_.chip].CursorRecord();
        if (record == nullptr || record[0] != 0xFF)
            return kStatusFolderError;
    } else {
        dirBlock_ = LegacyCursor();
        dirBlockKnown_ = true;
        // Programming over a block that did not erase would mix old and new entries.
        if (LegacyEraseAtCursor() != kStatusOk)
            return kStatusUsbError;
        ++LegacyStore.freeBlockCount;  // the write below takes it again
    }
    if (const EngineStatus status = WriteDirectoryBlock())
        return status;
    if (RootFlag()) {
        try {
            LegacyStore.root.assign(Entries(), Entries() + capacity_);
            LegacyStore.rootBlock = dirBlock_;
            LegacyStore.rootLoaded = 1;
            LegacyStore.rootDirty = 0;
        } catch (const std::bad_alloc&) {
            LegacyStore.root.clear();
            LegacyStore.rootLoaded = 0;
        }
    }
    return kStatusOk;
}

// ---- Folders and entries ----

EngineStatus InternalFolder::CreateSubfolder(const wchar_t* name, std::uint32_t* newId)
{
    if (IsRecordingFolder())
        return kStatusFolderError;
    if (openWriteStream)
        return kStatusFileError;
    if (name == nullptr || !Entries())
        return kStatusFolderError;
    const wchar_t* part = NamePart(name);
    const std::uint32_t slots = EntryCountForName(part);
    const std::int32_t run = FindFreeRun(slots);
    char shortText[kShortTextBytes];
    if (slots == 0 || run < 0 || MakeShortName(part, shortText, sizeof shortText) != 0)
        return kStatusFolderError;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;

    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    std::uint32_t id = 0;
    if (const EngineStatus status = AllocateId(id))
        return status;

    std::unique_ptr<InternalFolder> sub(new (std::nothrow) InternalFolder(Engine.InternalFolderEntries, id, 1, 0));
    if (!sub || !sub->Entries() || sub->Capacity() < 2)
        return kStatusStorageFull;
    const std::time_t now = std::time(nullptr);
    sub->InitDirectory(static_cast<std::uint16_t>(id), static_cast<std::uint16_t>(RootFlag() ? 0 : FolderId()), now,
                       part);
    // The new directory first: an entry never names a folder whose block was not written.
    if (const EngineStatus status = sub->WriteNewDirectory())
        return status;
    // Best effort: a directory block that stays behind names no entry and is erased by the next delete of
    // its id or a format.
    auto undoDirectory = [&] {
        LegacyEraseFileBlocks(id, false);
    };
    if (WriteEntrySet(std::uint32_t(run), slots, static_cast<std::uint16_t>(id), part, shortText, kAttrDirectory, 0,
                      now, now, now) != 0) {
        undoDirectory();
        return kStatusFolderError;
    }
    if (const EngineStatus status = RewriteDirectory()) {
        // A write-back that failed after its erase left the block without the old entries.
        RemoveEntrySetAt(std::uint32_t(run));
        RewriteDirectory();
        undoDirectory();
        return status;
    }
    if (newId)
        *newId = id;
    return kStatusOk;
}

EngineStatus InternalFolder::RenameEntry(std::uint32_t id, const wchar_t* newName, std::uint32_t innerFlag)
{
    if (IsRecordingFolderId(id))
        return kStatusRecordFolder;
    if (newName == nullptr || !Entries())
        return kStatusFolderError;
    const wchar_t* part = NamePart(newName);
    FatDirSlot old{};
    if (RenameEntrySet(id, part, &old) != kStatusOk)
        return kStatusFolderError;
    // RenameEntrySet left the former entries in the scratch buffer.
    std::vector<FatDirSlot> undo;
    try {
        undo.assign(scratch_.get(), scratch_.get() + capacity_);
    } catch (const std::bad_alloc&) {
        std::memcpy(Entries(), scratch_.get(), capacity_ * sizeof(FatDirSlot));
        return kStatusStorageFull;
    }
    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    if (const EngineStatus status = RewriteDirectory()) {
        std::copy(undo.begin(), undo.end(), Entries());
        RewriteDirectory();
        return status;
    }
    if (innerFlag == 0 && old.entry.attributes == kAttrDirectory) {
        // The folder's own name entry inside its directory follows.
        std::unique_ptr<InternalFolder> sub(new (std::nothrow) InternalFolder(Engine.InternalFolderEntries, id, 1, 0));
        if (!sub || !sub->Entries())
            return kStatusStorageFull;
        if (const EngineStatus status = sub->Load())
            return status;
        const EngineStatus inner = sub->RenameEntry(id, part, 1);
        // A folder made elsewhere may have no name entry of its own: nothing to follow then.
        if (inner != kStatusOk && sub->FindEntryById(id) >= 0)
            return inner;
    }
    return kStatusOk;
}

EngineStatus InternalFolder::EraseTree(std::uint32_t folderId, std::uint32_t depth)
{
    if (depth >= kMaxTreeDepth)
        return kStatusFolderError;
    std::unique_ptr<InternalFolder> sub(new (std::nothrow)
                                            InternalFolder(Engine.InternalFolderEntries, folderId, 1, 0));
    if (!sub || !sub->Entries())
        return kStatusStorageFull;
    const EngineStatus loaded = sub->Load();
    if (loaded == kStatusOk) {
        for (std::uint32_t slot = 0; slot < sub->Capacity(); ++slot) {
            const FatDirSlot& s = sub->Entries()[slot];
            if (s.raw[0] == kSlotFree || s.raw[0] == kSlotDeleted || s.raw[0] == '.' || s.raw[11] == kAttrLongName ||
                s.raw[11] == kAttrFolderSelf)
                continue;
            const std::uint32_t child = s.entry.firstCluster;
            if (child == folderId || child < kFirstFreeFileId)
                continue;
            EngineStatus status = kStatusOk;
            if ((s.entry.attributes & kAttrDirectory) != 0)
                status = EraseTree(child, depth + 1);
            else if (s.entry.size != 0)
                status = LegacyEraseFileBlocks(child, false);
            if (status != kStatusOk)
                return status;
        }
    } else if (loaded != kStatusFolderError) {
        return loaded;
    }
    // The directory block last: until then the folder still names what is left of it.
    return LegacyEraseFileBlocks(folderId, false);
}

EngineStatus InternalFolder::DeleteFile(std::uint32_t id)
{
    if (IsRecordingFolderId(id))
        return kStatusRecordFolder;
    if (!Entries() || id == FolderId())
        return kStatusFolderError;
    const std::int32_t slot = FindEntryById(id);
    if (slot < 0)
        return kStatusFolderError;
    const FatShortEntry entry = Entries()[slot].entry;
    const bool folder = (entry.attributes & kAttrDirectory) != 0;
    const std::uint32_t blocks = folder ? 1 : BlocksFor(entry.size);

    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(blocks));
    EngineStatus status = kStatusOk;
    if (folder) {
        status = EraseTree(id, 0);
        if (status == kStatusOk)
            LegacyProgressStep();
    } else if (blocks != 0) {
        status = LegacyEraseFileBlocks(id, true);
    }
    NotifyProgressEnd();
    if (status != kStatusOk)
        return status;

    // The blocks are gone: the entry stays removed whatever the write-back gives, and a write-back
    // that failed is tried once more so that the block holds a directory.
    RemoveEntrySetAt(std::uint32_t(slot));
    if (const EngineStatus rewrite = RewriteDirectory()) {
        RewriteDirectory();
        return rewrite;
    }
    return kStatusOk;
}

EngineStatus InternalFolder::MoveEntry(std::uint32_t sourceFolderId, std::uint32_t sourceRootFlag, std::uint32_t id)
{
    if (IsRecordingFolder())
        return kStatusFolderError;
    if (IsRecordingFolderId(id))
        return kStatusRecordFolder;
    if (!Entries())
        return kStatusFolderError;
    const std::uint32_t sourceId = sourceRootFlag ? 1 : sourceFolderId;
    if (sourceId == FolderId() || id == FolderId())
        return kStatusFolderError;

    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    std::unique_ptr<InternalFolder> source(new (std::nothrow) InternalFolder(
        sourceRootFlag ? Engine.InternalRootEntries : Engine.InternalFolderEntries, sourceId, 1, sourceRootFlag));
    if (!source || !source->Entries())
        return kStatusStorageFull;
    if (source->Load() != kStatusOk)
        return kStatusFolderError;
    const std::int32_t slot = source->FindEntryById(id);
    if (slot < 0)
        return kStatusFolderError;
    const bool folder = (source->Entries()[slot].entry.attributes & kAttrDirectory) != 0;
    // One id names one entry of a folder; a folder never goes below itself.
    if (FindEntryById(id) >= 0)
        return kStatusFolderError;
    if (folder) {
        auto parentOf = [](std::uint32_t f) -> std::int64_t {
            InternalFolder up(Engine.InternalFolderEntries, f, 1, 0);
            return up.Load() == kStatusOk ? up.ParentId() : -1;
        };
        if (LiesWithin(id, parentOf))
            return kStatusFolderError;
    }

    const std::uint32_t copied = CopyEntrySetFrom(*source, id);
    if (copied != kStatusOk)
        return copied == kStatusStorageFull ? kStatusStorageFull : kStatusFolderError;
    // The target first: should the source then fail, the entry is in both folders, never in none.
    if (RewriteDirectory() != kStatusOk) {
        RemoveEntrySetAt(std::uint32_t(FindEntryById(id)));
        RewriteDirectory();
        return kStatusFolderError;
    }
    std::vector<FatDirSlot> sourceUndo;
    try {
        sourceUndo.assign(source->Entries(), source->Entries() + source->Capacity());
    } catch (const std::bad_alloc&) {
        RemoveEntrySetAt(std::uint32_t(FindEntryById(id)));
        RewriteDirectory();
        return kStatusStorageFull;
    }
    source->RemoveEntrySetAt(std::uint32_t(slot));
    if (source->RewriteDirectory() != kStatusOk) {
        std::copy(sourceUndo.begin(), sourceUndo.end(), source->Entries());
        if (source->RewriteDirectory() == kStatusOk) {
            RemoveEntrySetAt(std::uint32_t(FindEntryById(id)));
            RewriteDirectory();
        }
        return kStatusFolderError;
    }
    if (folder) {
        InternalFolder moved(Engine.InternalFolderEntries, id, 1, 0);
        if (moved.Load() != kStatusOk || !moved.SetParentId(static_cast<std::uint16_t>(RootFlag() ? 0 : FolderId())) ||
            moved.RewriteDirectory() != kStatusOk)
            return kStatusFolderError;
    }
    return kStatusOk;
}

EngineStatus InternalFolder::SetPlayIndex(std::uint32_t id, std::uint32_t position)
{
    if (!Entries())
        return kStatusFolderError;
    std::vector<FatDirSlot> undo;
    try {
        undo.assign(Entries(), Entries() + capacity_);
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }
    if (ReorderEntry(id, position) != kStatusOk)
        return kStatusFolderError;
    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    if (const EngineStatus status = RewriteDirectory()) {
        std::copy(undo.begin(), undo.end(), Entries());
        RewriteDirectory();
        return status;
    }
    return kStatusOk;
}

// ---- Download and upload ----

EngineStatus InternalFolder::DownloadFile(const wchar_t* pcPath)
{
    if (IsRecordingFolder())
        return kStatusFolderError;
    Engine.CancelRequested.store(0);
    if (openWriteStream)
        return kStatusFileError;
    if (!LegacyChipZeroPresent()) {
        NotifyProgressEnd();
        return kStatusStorageFull;
    }
    if (pcPath == nullptr || !Entries())
        return kStatusFileError;
    const std::uint32_t blockBytes = LegacyBlockBytes();

    NewEntry e;
    e.name = NamePart(pcPath);
    e.slots = EntryCountForName(e.name);
    const std::int32_t run = FindFreeRun(e.slots);
    if (e.slots == 0 || run < 0 || MakeShortName(e.name, e.shortText, sizeof e.shortText) != 0) {
        NotifyProgressEnd();
        return kStatusFolderError;
    }
    e.shortSlot = std::uint32_t(run);
    char ansi[1024];
    WideToAnsi(e.name, ansi, sizeof ansi);
    e.typeCode = LegacyTypeCode(ansi, e.shortText);
    e.attribute = FileAttributeForTypeCode(e.typeCode);

    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    std::uint32_t id = 0;
    if (const EngineStatus status = AllocateId(id))
        return status;

    PcSource source;
    if (const EngineStatus status = source.Prepare(pcPath, e.typeCode == kTypeMp3); status != kStatusOk) {
        NotifyProgressEnd();
        return status;
    }
    const std::uint32_t length = source.StoredBytes();
    const std::uint32_t blocks = BlocksFor(length);
    if (blocks > LegacyStore.freeBlockCount) {
        NotifyProgressEnd();
        return kStatusStorageFull;
    }
    if (source.Open(blockBytes) != kStatusOk) {
        NotifyProgressEnd();
        return kStatusFileError;
    }
    std::vector<std::uint8_t> data;
    try {
        data.assign(blockBytes, 0);
        units_.reserve(std::size_t{NandChips[0].sectorsPerBlock} * kUnitBytes);
    } catch (const std::bad_alloc&) {
        NotifyProgressEnd();
        return kStatusStorageFull;
    }
    if (WriteEntrySet(e.shortSlot, e.slots, static_cast<std::uint16_t>(id), e.name, e.shortText, e.attribute, length,
                      source.Created(), source.Accessed(), source.Written()) != 0) {
        NotifyProgressEnd();
        return kStatusFolderError;
    }
    // Undo of a download that did not finish: the entry goes before anything is written back, and
    // the blocks written so far are erased (each erase gives its block back to the free count).
    auto undo = [&](EngineStatus status) {
        RemoveEntrySetAt(e.shortSlot);
        source.Close();
        LegacyEraseFileBlocks(id, false);
        NotifyProgressEnd();
        return status;
    };

    RewindChipZero();
    BlockPosition here;
    if (blocks != 0 && !NextFree(here))
        return undo(kStatusStorageFull);
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(blocks));

    bool cancelled = false;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        BlockLink link;
        BlockPosition next;
        if (b + 1 < blocks) {
            LegacyAdvanceBlock();
            if (!NextFree(next))
                return undo(kStatusStorageFull);
            link = LegacyLinkTo(next);
            LegacySetCursor(here);
        }
        std::uint32_t want = 0;
        if (source.NextPiece(data.data(), &want) != kStatusOk)
            return undo(kStatusFileError);
        if (LegacyWriteFileBlock(units_, data.data(), want, b == 0, id, RecordBlockCount(blocks), e.typeCode, link) !=
            kStatusOk)
            return undo(kStatusUsbError);
        if (source.PieceStored()) {
            cancelled = true;
            break;
        }
        if (b + 1 < blocks) {
            here = next;
            LegacySetCursor(here);
        }
    }
    source.Close();
    if (cancelled) {
        // The directory on the chip never saw the file.
        RemoveEntrySetAt(e.shortSlot);
        const EngineStatus status = LegacyEraseFileBlocks(id, false);
        NotifyProgressEnd();
        return status;
    }
    NotifyProgressEnd();
    if (const EngineStatus status = RewriteDirectory()) {
        RemoveEntrySetAt(e.shortSlot);
        LegacyEraseFileBlocks(id, false);
        RewriteDirectory();
        return status;
    }
    return kStatusOk;
}

EngineStatus InternalFolder::UploadFile(std::uint32_t id, const wchar_t* pcPath)
{
    Engine.CancelRequested.store(0);
    if (pcPath == nullptr || !Entries())
        return kStatusFileError;
    const std::int32_t slot = FindEntryById(id);
    if (slot < 0) {
        NotifyProgressEnd();
        return kStatusFolderError;
    }
    const std::uint32_t size = Entries()[slot].entry.size;
    const std::uint32_t blocks = BlocksFor(size);
    PcSink sink;
    if (sink.Create(pcPath) != kStatusOk) {
        NotifyProgressEnd();
        return kStatusFileError;
    }
    // A PC file that did not get the whole file is removed again.
    auto fail = [&](EngineStatus status) {
        sink.Discard();
        NotifyProgressEnd();
        return status;
    };

    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(blocks));
    bool cancelled = false;
    const EngineStatus status = LegacyReadFile(
        id, size, [&](const std::uint8_t* data, std::uint32_t bytes) { return sink.Write(data, bytes); }, cancelled);
    if (status != kStatusOk)
        return fail(static_cast<EngineStatus>(status));
    if (cancelled)
        sink.Discard();
    else if (sink.Finish() != kStatusOk)
        return fail(kStatusFileError);
    NotifyProgressEnd();
    return kStatusOk;
}

// ---- The block stream ----

std::uint32_t InternalFolder::GetBlockBytes()
{
    return LegacyBlockBytes();
}

std::uint32_t InternalFolder::GetFileSize()
{
    return streamFileSize_;
}

void InternalFolder::EndStream(bool eraseWritten)
{
    if (!streamOpen_)
        return;
    if (streamWrite_ && eraseWritten && blocksWritten_ != 0) {
        ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
        LegacyEraseFileBlocks(streamId_, false);
    }
    if (openWriteStream == this)
        openWriteStream = nullptr;
    streamOpen_ = false;
    streamWrite_ = false;
    units_.clear();
    units_.shrink_to_fit();
    PlayerPipes.Release();
}

EngineStatus InternalFolder::OpenEntry()
{
    // A stream left open by its owner ends here; what it wrote goes.
    if (streamOpen_)
        EndStream(true);
    streamWrite_ = writeMode_ != 0;
    streamFileSize_ = 0;
    blocksWritten_ = 0;
    linkValid_ = false;
    if (!Entries())
        return kStatusFolderError;

    if (!streamWrite_) {
        const std::int32_t slot = FindEntryById(recordId_);
        if (slot < 0) {
            NotifyProgressEnd();
            return kStatusFolderError;
        }
        if (!LegacyChipZeroPresent())
            return kStatusStorageFull;
        streamId_ = recordId_;
        streamFileSize_ = Entries()[slot].entry.size;
        PlayerPipes.Hold();
        streamOpen_ = true;
        NotifyProgress(kProgressBegin, static_cast<std::int32_t>(BlocksFor(streamFileSize_)));
        // An empty file has no block to stand on.
        if (streamFileSize_ != 0) {
            if (!LegacyFindFileStart(streamId_)) {
                NotifyProgressEnd();
                EndStream(false);
                return kStatusFolderError;
            }
            current_ = LegacyCursor();
        }
        return kStatusOk;
    }

    if (IsRecordingFolder())
        return kStatusFolderError;
    if (openWriteStream)
        return kStatusFileError;
    if (!LegacyChipZeroPresent()) {
        NotifyProgressEnd();
        return kStatusStorageFull;
    }
    try {
        units_.reserve(std::size_t{NandChips[0].sectorsPerBlock} * kUnitBytes);
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }
    const wchar_t* part = NamePart(name_.c_str());
    const std::uint32_t slots = EntryCountForName(part);
    char shortText[kShortTextBytes];
    if (slots == 0 || FindFreeRun(slots) < 0 || MakeShortName(part, shortText, sizeof shortText) != 0) {
        NotifyProgressEnd();
        return kStatusFolderError;
    }
    char ansi[1024];
    WideToAnsi(part, ansi, sizeof ansi);
    typeCode_ = LegacyTypeCode(ansi, shortText);
    attribute_ = FileAttributeForTypeCode(typeCode_);

    PlayerPipes.Hold();
    streamOpen_ = true;
    openWriteStream = this;
    if (const EngineStatus status = AllocateId(streamId_)) {
        EndStream(false);
        return status;
    }
    if (LegacyStore.freeBlockCount < 1) {
        NotifyProgressEnd();
        EndStream(false);
        return kStatusStorageFull;
    }
    RewindChipZero();
    if (!NextFree(current_)) {
        NotifyProgressEnd();
        EndStream(false);
        return kStatusStorageFull;
    }
    NotifyProgress(kProgressBegin, 0);
    LegacyAdvanceBlock();
    linkValid_ = NextFree(link_);
    return kStatusOk;
}

EngineStatus InternalFolder::ReadNextBlock()
{
    if (!streamOpen_)
        return kStatusFileError;
    if (streamWrite_) {
        if (lastBlock_)
            return kStatusOk;
        if (!linkValid_) {
            NotifyProgressEnd();
            EndStream(true);
            return kStatusStorageFull;
        }
        current_ = link_;
        LegacySetCursor(current_);
        LegacyAdvanceBlock();
        linkValid_ = NextFree(link_);
        return kStatusOk;
    }
    LegacyProgressStep();
    LegacySetCursor(current_);
    LegacyAdvanceBlock();
    while (LegacyNextFileBlock() == kWalkFound) {
        if (LegacyStore.walkerId == streamId_) {
            current_ = LegacyCursor();
            return kStatusOk;
        }
        LegacyAdvanceBlock();
    }
    return kStatusFileError;
}

EngineStatus InternalFolder::WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes)
{
    if (!streamOpen_ || !streamWrite_)
        return kStatusFileError;
    BlockLink link;
    if (!lastBlock_) {
        // Another block follows and no free block is left for it.
        if (!linkValid_) {
            NotifyProgressEnd();
            EndStream(true);
            return kStatusStorageFull;
        }
        link = LegacyLinkTo(link_);
    }
    LegacySetCursor(current_);
    // The block is free until this write: should the write fail, its record is the file's all the same.
    const std::uint32_t written = blocksWritten_;
    ++blocksWritten_;
    if (LegacyWriteFileBlock(units_, buffer, buffer ? bytes : 0, written == 0, streamId_, 0, typeCode_, link) !=
        kStatusOk) {
        NotifyProgressEnd();
        EndStream(true);
        return kStatusUsbError;
    }
    LegacyProgressStep();
    return kStatusOk;
}

EngineStatus InternalFolder::ReadFirstBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out)
{
    if (!streamOpen_ || streamWrite_ || buffer == nullptr || out == nullptr)
        return kStatusFileError;
    LegacySetCursor(current_);
    NandChip& chip = NandChips[Engine.CurrentChip];
    const std::uint32_t blockBytes = std::uint32_t{chip.sectorsPerBlock} * 512u;
    if (bytes < blockBytes)
        return kStatusFileError;
    PlayerPipes.Need();
    if (chip.ReadBlock({buffer, blockBytes}) != kTransportOk) {
        NotifyProgressEnd();
        EndStream(false);
        return kStatusUsbError;
    }
    *out = blockBytes;
    return kStatusOk;
}

EngineStatus InternalFolder::CommitEntry()
{
    if (!streamOpen_)
        return kStatusFileError;
    NotifyProgressEnd();
    if (!streamWrite_) {
        EndStream(false);
        return kStatusOk;
    }
    // An empty file keeps no block: the zero block that closed the stream goes again.
    if (transferred_ == 0 && blocksWritten_ != 0) {
        if (LegacyEraseFileBlocks(streamId_, false) != kStatusOk) {
            EndStream(true);
            return kStatusUsbError;
        }
        blocksWritten_ = 0;
    }
    // The slots are found again: other operations may have changed this folder since the open.
    const wchar_t* part = NamePart(name_.c_str());
    const std::uint32_t slots = EntryCountForName(part);
    const std::int32_t run = FindFreeRun(slots);
    char shortText[kShortTextBytes];
    if (slots == 0 || run < 0 || MakeShortName(part, shortText, sizeof shortText) != 0) {
        EndStream(true);
        return kStatusFolderError;
    }
    // The stream brings no times of its own: the entry carries the time it was made.
    const std::time_t now = std::time(nullptr);
    if (WriteEntrySet(std::uint32_t(run), slots, static_cast<std::uint16_t>(streamId_), part, shortText, attribute_,
                      transferred_, now, now, now) != 0) {
        EndStream(true);
        return kStatusFolderError;
    }
    if (const EngineStatus status = RewriteDirectory()) {
        RemoveEntrySetAt(std::uint32_t(run));
        RewriteDirectory();
        EndStream(true);
        return status;
    }
    EndStream(false);
    return kStatusOk;
}

}  // namespace engine
