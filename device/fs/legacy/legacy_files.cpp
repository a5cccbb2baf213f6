#include "device/fs/legacy/legacy_files.h"

#include "device/fs/pc/pc_transfer.h"
#include "device/flash/nand_chip.h"
#include "device/fs/engine_status.h"
#include "device/fs/fat_entry.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"
#include "platform/win/file_util.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <optional>
#include <string>

namespace engine {

namespace {

std::uint16_t RecordBlockCount(std::uint64_t blocks)
{
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(blocks, 0xFFFF));
}

// The block physically after p on the same chip; false past the chip's end.
bool PhysicalNext(const BlockPosition& p, BlockPosition& next)
{
    const NandChip& chip = NandChips[p.chip];
    next = p;
    const unsigned sector = unsigned{p.sector} + chip.sectorsPerBlock;
    if (sector >= 256) {
        next.row = static_cast<std::uint16_t>(p.row + 1);
        next.sector = 0;
    } else {
        next.sector = static_cast<std::uint8_t>(sector);
    }
    return next.row < chip.rowCount;
}

bool SamePosition(const BlockPosition& a, const BlockPosition& b)
{
    return a.chip == b.chip && a.row == b.row && a.sector == b.sector;
}

EngineStatus FreeRunStart(std::uint32_t count, std::uint32_t& start)
{
    const std::int32_t last = FindFreeEntryRun(count, LegacyStore.root.data(), LegacyRootEntryCount());
    if (last < 0)
        return kStatusFolderError;
    start = static_cast<std::uint32_t>(last) + 1 - count;
    return kStatusOk;
}

// Room in the root for a new entry set of `name`: its slot count, the first slot of a free run and a
// short name unique in the root. kStatusOk, or kStatusFolderError when there is no room or no short name
// left.
EngineStatus ReserveRootEntry(const char* name, std::uint32_t& entries, std::uint32_t& slot, char* shortText,
                              std::uint32_t shortBytes)
{
    entries = CountLongNameEntries(name);
    if (FreeRunStart(entries, slot) != kStatusOk ||
        MakeShortName(name, shortText, shortBytes, LegacyStore.root.data(), LegacyRootEntryCount()) != 0)
        return kStatusFolderError;
    return kStatusOk;
}

// The head every file and folder operation of the store shares, held for the whole operation: refused
// (kStatusFileError) while a stream is open; the cancel flag cleared for an operation that can be
// cancelled; `refusal` when the caller found its arguments wrong; kStatusStorageFull without chip 0;
// then the pipes bracketed until the operation ends and the root loaded.
class StoreOperation {
public:
    enum Cancel { kNotCancellable, kCancellable };
    StoreOperation(bool streamOpen, Cancel cancel, EngineStatus refusal = kStatusOk)
    {
        if (streamOpen) {
            status_ = kStatusFileError;
            return;
        }
        if (cancel == kCancellable)
            Engine.CancelRequested.store(0);
        if (refusal != kStatusOk) {
            status_ = refusal;
            return;
        }
        if (!LegacyChipZeroPresent()) {
            status_ = kStatusStorageFull;
            return;
        }
        bracket_.emplace(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
        status_ = LegacyEnsureRoot();
    }
    StoreOperation(const StoreOperation&) = delete;
    StoreOperation& operator=(const StoreOperation&) = delete;
    EngineStatus Status() const { return status_; }

private:
    std::optional<ScopedPipes> bracket_;
    EngineStatus status_ = kStatusOk;
};

}  // namespace

// ---- Listing ----

std::int32_t LegacyFiles::FindFirst(DirRecord& record)
{
    if (stream_.open)
        return kStatusFileError;
    std::memset(&record, 0, sizeof record);
    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    LegacyStore.walkCounted = 0;
    LegacyStore.walkReturned = 0;
    LegacyStore.walkIndex = -1;
    if (!LegacyChipZeroPresent())
        return -1;
    if (LegacyStore.rootLoaded && LegacyStore.rootDirty) {
        // The chip lost its directory in a failed write-back: the buffer is the only copy left.
        if (LegacyWriteBackRoot() != kStatusOk)
            return kStatusUsbError;
    } else if (const EngineStatus status = LegacyLoadRoot()) {
        return static_cast<std::int32_t>(status);
    }
    LegacyStore.walkCounted = 0;
    LegacyStore.walkReturned = 0;
    LegacyStore.walkIndex = -1;

    const std::uint32_t count = LegacyRootEntryCount();
    std::int32_t first = -1;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (LegacyIsUsedEntry(LegacyStore.root[i])) {
            if (first < 0)
                first = static_cast<std::int32_t>(i);
            ++LegacyStore.walkCounted;
        }
    }
    if (first < 0)
        return -1;
    LegacyFillRecord(static_cast<std::uint32_t>(first), record);
    LegacyStore.walkIndex = first;
    LegacyStore.walkReturned = 1;
    return 0;
}

std::int32_t LegacyFiles::FindNext(DirRecord& record)
{
    if (stream_.open)
        return kStatusFileError;
    std::memset(&record, 0, sizeof record);
    if (LegacyStore.walkReturned >= LegacyStore.walkCounted)
        return -1;
    const std::uint32_t count = LegacyRootEntryCount();
    for (std::uint32_t i = static_cast<std::uint32_t>(LegacyStore.walkIndex + 1); i < count; ++i) {
        if (LegacyIsUsedEntry(LegacyStore.root[i])) {
            LegacyFillRecord(i, record);
            LegacyStore.walkIndex = static_cast<std::int32_t>(i);
            ++LegacyStore.walkReturned;
            return 0;
        }
    }
    return -1;
}

// ---- Download and upload ----

EngineStatus LegacyFiles::Download(const char* pcPath, std::uint32_t folderId)
{
    const StoreOperation operation(stream_.open, StoreOperation::kCancellable, pcPath ? kStatusOk : kStatusFileError);
    if (operation.Status() != kStatusOk)
        return operation.Status();
    const std::uint32_t blockBytes = LegacyBlockBytes();

    const char* name = NamePart(pcPath);
    std::uint32_t entries = 0, slot = 0;
    char shortText[kShortTextBytes];
    if (ReserveRootEntry(name, entries, slot, shortText, sizeof shortText) != kStatusOk)
        return kStatusFolderError;
    const std::uint8_t typeCode = LegacyTypeCode(name, shortText);

    std::uint32_t fileId = 0;
    if (const EngineStatus status = LegacyPurgeUnreferenced(fileId))
        return status;

    PcSource source;
    if (const EngineStatus status = source.Prepare(pcPath, typeCode == kTypeMp3); status != kStatusOk)
        return status;
    const std::uint32_t stored = source.StoredBytes();
    const std::uint64_t blocks = source.PieceCount(blockBytes);
    if (blocks > LegacyStore.freeBlockCount)
        return kStatusStorageFull;
    if (source.Open(blockBytes) != kStatusOk)
        return kStatusFileError;

    std::vector<std::uint8_t> units;
    std::vector<std::uint8_t> data;
    try {
        data.assign(blockBytes, 0);
        units.reserve(std::size_t{NandChips[0].sectorsPerBlock} * kUnitBytes);
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }

    if (BuildFileEntrySet(slot + entries - 1, entries, static_cast<std::uint16_t>(fileId), name, shortText, typeCode,
                          stored, source.Created(), source.Accessed(), source.Written(), LegacyStore.root.data(),
                          LegacyRootEntryCount(), static_cast<std::uint16_t>(folderId)) != 0)
        return kStatusFolderError;
    const std::uint32_t shortSlot = slot + entries - 1;
    // Nothing of a failed download reaches the chip's directory; its blocks go at the next purge.
    auto fail = [&](EngineStatus status) {
        LegacyRemoveEntrySet(shortSlot);
        NotifyProgressEnd();
        return status;
    };

    Engine.CurrentChip = 0;
    NandChips[0].Rewind();
    if (blocks != 0 && LegacyNextFreeBlock() != kWalkFound)
        return fail(kStatusStorageFull);
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(blocks));

    bool cancelled = false;
    for (std::uint64_t i = 0; i < blocks; ++i) {
        const BlockPosition here = LegacyCursor();
        BlockPosition next;
        BlockLink link;
        if (i + 1 < blocks) {
            LegacyAdvanceBlock();
            if (LegacyNextFreeBlock() != kWalkFound)
                return fail(kStatusStorageFull);
            next = LegacyCursor();
            link = LegacyLinkTo(next);
            LegacySetCursor(here);
        }
        std::uint32_t want = 0;
        if (source.NextPiece(data.data(), &want) != kStatusOk)
            return fail(kStatusFileError);
        if (LegacyWriteFileBlock(units, data.data(), want, i == 0, fileId, RecordBlockCount(blocks), typeCode, link) !=
            kStatusOk)
            return fail(kStatusUsbError);
        if (source.PieceStored()) {
            cancelled = true;
            break;
        }
        if (i + 1 < blocks)
            LegacySetCursor(next);
    }
    source.Close();

    if (cancelled) {
        // The directory on the chip never saw the file: drop the entry and erase what was written.
        LegacyRemoveEntrySet(shortSlot);
        const EngineStatus status = LegacyEraseFileBlocks(fileId, false);
        NotifyProgressEnd();
        return status;
    }
    if (LegacyWriteBackRoot() != kStatusOk)
        return fail(kStatusUsbError);
    NotifyProgressEnd();
    return kStatusOk;
}

EngineStatus LegacyFiles::Upload(std::uint32_t fileId, const char* pcPath)
{
    const StoreOperation operation(stream_.open, StoreOperation::kCancellable, pcPath ? kStatusOk : kStatusFileError);
    if (operation.Status() != kStatusOk)
        return operation.Status();
    const std::uint32_t blockBytes = LegacyBlockBytes();
    const std::int32_t index = LegacyFindEntryById(fileId, 0);
    if (index < 0)
        return kStatusFileError;
    const std::uint32_t size = LegacyStore.root[static_cast<std::uint32_t>(index)].entry.size;
    const std::uint32_t blocks = static_cast<std::uint32_t>((std::uint64_t{size} + blockBytes - 1) / blockBytes);

    PcSink sink;
    if (sink.Create(pcPath) != kStatusOk)
        return kStatusFileError;
    // A PC file that did not get the whole file is removed again.
    auto fail = [&](EngineStatus status) {
        sink.Discard();
        NotifyProgressEnd();
        return status;
    };

    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(blocks));
    bool cancelled = false;
    const EngineStatus status = LegacyReadFile(
        fileId, size, [&](const std::uint8_t* data, std::uint32_t bytes) { return sink.Write(data, bytes); },
        cancelled);
    if (status != kStatusOk)
        return fail(status);
    if (cancelled)
        sink.Discard();
    else if (sink.Finish() != kStatusOk)
        return fail(kStatusFileError);
    NotifyProgressEnd();
    return kStatusOk;
}

// ---- Delete, folders, rename, play order ----

EngineStatus LegacyFiles::DeleteFileLocked(std::uint32_t fileId)
{
    const std::int32_t index = LegacyFindEntryById(fileId, 0);
    if (index < 0)
        return kStatusFileError;
    const std::uint32_t blockBytes = LegacyBlockBytes();
    const std::uint32_t size = LegacyStore.root[static_cast<std::uint32_t>(index)].entry.size;
    const std::uint64_t blocks = blockBytes ? (std::uint64_t{size} + blockBytes - 1) / blockBytes : 0;
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(blocks));
    if (LegacyEraseFileBlocks(fileId) != kStatusOk) {
        NotifyProgressEnd();
        return kStatusUsbError;
    }
    LegacyRemoveEntrySet(static_cast<std::uint32_t>(index));
    const EngineStatus status = LegacyWriteBackRoot();
    NotifyProgressEnd();
    return status;
}

EngineStatus LegacyFiles::DeleteFile(std::uint32_t fileId)
{
    const StoreOperation operation(stream_.open, StoreOperation::kNotCancellable);
    if (operation.Status() != kStatusOk)
        return operation.Status();
    return DeleteFileLocked(fileId);
}

EngineStatus LegacyFiles::DeleteFolder(std::uint32_t folderId)
{
    // Id 0 is the root itself (every entry carries it) and 1 the root directory block.
    const StoreOperation operation(stream_.open, StoreOperation::kNotCancellable,
                                   folderId <= kRootFileId ? kStatusFolderError : kStatusOk);
    if (operation.Status() != kStatusOk)
        return operation.Status();
    if (LegacyFindEntryById(folderId, 1) < 0)
        return kStatusFileError;

    std::vector<std::uint16_t> members;
    try {
        for (const FatDirSlot& slot : LegacyStore.root) {
            if (LegacyIsUsedEntry(slot) && (slot.entry.attributes & kAttrDirectory) == 0 &&
                slot.entry.firstClusterHigh == folderId)
                members.push_back(slot.entry.firstCluster);
        }
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }
    for (std::uint16_t id : members) {
        if (const EngineStatus status = DeleteFileLocked(id))
            return status;
    }
    const std::int32_t index = LegacyFindEntryById(folderId, 1);
    if (index < 0)
        return kStatusFileError;
    LegacyRemoveEntrySet(static_cast<std::uint32_t>(index));
    return LegacyWriteBackRoot();
}

EngineStatus LegacyFiles::CreateFolder(const char* name, std::uint32_t* newId)
{
    const StoreOperation operation(stream_.open, StoreOperation::kCancellable, name ? kStatusOk : kStatusFolderError);
    if (operation.Status() != kStatusOk)
        return operation.Status();
    const char* part = NamePart(name);
    std::uint32_t entries = 0, slot = 0;
    char shortText[kShortTextBytes];
    if (ReserveRootEntry(part, entries, slot, shortText, sizeof shortText) != kStatusOk)
        return kStatusFolderError;
    std::uint32_t folderId = 0;
    if (const EngineStatus status = LegacyPurgeUnreferenced(folderId))
        return status;
    if (BuildFolderEntrySet(slot + entries - 1, entries, static_cast<std::uint16_t>(folderId), part, shortText,
                            LegacyStore.root.data(), LegacyRootEntryCount()) != 0)
        return kStatusFolderError;
    if (LegacyWriteBackRoot() != kStatusOk) {
        LegacyRemoveEntrySet(slot + entries - 1);
        return kStatusUsbError;
    }
    if (newId)
        *newId = folderId;
    return kStatusOk;
}

EngineStatus LegacyFiles::MoveEntry(std::uint32_t fileId, std::uint32_t folderId)
{
    const StoreOperation operation(stream_.open, StoreOperation::kNotCancellable);
    if (operation.Status() != kStatusOk)
        return operation.Status();
    FatShortEntry* target = nullptr;
    for (FatDirSlot& slot : LegacyStore.root) {
        if (slot.raw[0] != 0 && slot.entry.attributes != kAttrLongName && (slot.entry.attributes & 0xA0) != 0 &&
            slot.entry.firstCluster == fileId) {
            target = &slot.entry;
            break;
        }
    }
    if (target == nullptr)
        return kStatusFileError;
    // A file moved into a folder that does not exist would vanish from every listing.
    if (folderId != 0 && LegacyFindEntryById(folderId, 1) < 0)
        return kStatusFolderError;
    const std::uint16_t old = target->firstClusterHigh;
    target->firstClusterHigh = static_cast<std::uint16_t>(folderId);
    if (LegacyWriteBackRoot() != kStatusOk) {
        target->firstClusterHigh = old;
        return kStatusUsbError;
    }
    return kStatusOk;
}

EngineStatus LegacyFiles::RenameEntry(std::uint32_t fileId, const char* newName)
{
    // The cancel flag is cleared once the old entry is out, just before the new one is written.
    const StoreOperation operation(stream_.open, StoreOperation::kNotCancellable,
                                   newName ? kStatusOk : kStatusFolderError);
    if (operation.Status() != kStatusOk)
        return operation.Status();
    std::vector<FatDirSlot> copy;
    try {
        copy = LegacyStore.root;
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }
    auto restore = [&](EngineStatus status) {
        LegacyStore.root.swap(copy);
        return status;
    };
    const std::int32_t index = LegacyFindEntryById(fileId);
    if (index < 0)
        return kStatusFolderError;
    const FatDirSlot old = LegacyStore.root[static_cast<std::uint32_t>(index)];
    LegacyRemoveEntrySet(static_cast<std::uint32_t>(index));
    Engine.CancelRequested.store(0);

    const char* part = NamePart(newName);
    std::uint32_t entries = 0, slot = 0;
    char shortText[kShortTextBytes];
    if (ReserveRootEntry(part, entries, slot, shortText, sizeof shortText) != kStatusOk)
        return restore(kStatusFolderError);
    if (BuildRenamedEntrySet(slot + entries - 1, entries, part, shortText, old, LegacyStore.root.data(),
                             LegacyRootEntryCount()) != 0)
        return restore(kStatusFolderError);
    if (LegacyWriteBackRoot() != kStatusOk)
        return restore(kStatusUsbError);
    return kStatusOk;
}

EngineStatus LegacyFiles::SetPlayIndex(std::uint32_t fileId, std::uint32_t newIndex)
{
    const StoreOperation operation(stream_.open, StoreOperation::kNotCancellable);
    if (operation.Status() != kStatusOk)
        return operation.Status();

    const std::vector<FatDirSlot> before = LegacyStore.root;
    if (!MoveEntrySetToIndex(LegacyStore.root.data(), LegacyRootEntryCount(), fileId, newIndex))
        return kStatusFileError;
    if (LegacyWriteBackRoot() != kStatusOk) {
        LegacyStore.root = before;
        return kStatusUsbError;
    }
    return kStatusOk;
}

// ---- System files ----

void LegacyFiles::InternalRootChanged()
{
    // A root InternalFolder holds its own copy of this directory and would write the new entry away at
    // its next rewrite: the root folder object that folder selection keeps must be reloaded here. Until
    // the device keeps one, every root folder object is loaded after the write and sees the entry.
}

EngineStatus LegacyFiles::WriteFontFile(const char* name, std::uint32_t size, const std::uint8_t* data)
{
    return WriteRunFile(name, size, data, kFontFileId, true);
}

EngineStatus LegacyFiles::WriteSystemFile(const char* name, std::uint32_t size, const std::uint8_t* data,
                                          std::uint32_t fileId)
{
    return WriteRunFile(name, size, data, fileId, false);
}

EngineStatus LegacyFiles::WriteRunFile(const char* name, std::uint32_t size, const std::uint8_t* data,
                                       std::uint32_t fileId, bool font)
{
    const StoreOperation operation(stream_.open, StoreOperation::kNotCancellable,
                                   name == nullptr || (data == nullptr && size != 0) ? kStatusFileError : kStatusOk);
    if (operation.Status() != kStatusOk)
        return operation.Status();
    const std::uint32_t blockBytes = LegacyBlockBytes();

    // One id, one file: the blocks are found by id alone. Id 1 is the root directory block.
    if (fileId == kRootFileId || fileId >= LegacyIdLimit() || LegacyFindEntryById(fileId) >= 0)
        return kStatusFileError;

    std::vector<std::uint8_t> units;
    try {
        units.reserve(std::size_t{NandChips[0].sectorsPerBlock} * kUnitBytes);
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }

    const char* part = NamePart(name);
    const std::uint32_t entries = CountLongNameEntries(part);
    std::uint32_t slot = 0;
    if (FreeRunStart(entries, slot) != kStatusOk)
        return kStatusFolderError;
    const std::uint32_t blocks = static_cast<std::uint32_t>((std::uint64_t{size} + blockBytes - 1) / blockBytes);

    // A run of physically consecutive free blocks on one chip: the firmware reads these files
    // block after block without following links.
    BlockPosition start;
    if (blocks != 0) {
        Engine.CurrentChip = 0;
        NandChips[0].Rewind();
        if (LegacyNextFreeBlock() != kWalkFound)
            return kStatusStorageFull;
        start = LegacyCursor();
        BlockPosition previous = start;
        std::uint32_t length = 1;
        while (length < blocks) {
            LegacyAdvanceBlock();
            if (LegacyNextFreeBlock() != kWalkFound)
                return kStatusStorageFull;
            const BlockPosition here = LegacyCursor();
            BlockPosition expected;
            if (PhysicalNext(previous, expected) && SamePosition(expected, here)) {
                ++length;
            } else {
                start = here;
                length = 1;
            }
            previous = here;
        }
    }

    // No entry has this id, so blocks that carry it are what a failed write left: gone before the new
    // blocks come, or the next read would find the old chain first.
    if (LegacyEraseFileBlocks(fileId, false) != kStatusOk)
        return kStatusUsbError;

    const std::time_t now = std::time(nullptr);
    std::uint32_t built = 1;
    if (font) {
        built = BuildFileEntrySet(slot + entries - 1, entries, static_cast<std::uint16_t>(fileId), part, "FONT.FON",
                                  kTypeFont, size, now, now, now, LegacyStore.root.data(), LegacyRootEntryCount(), 0);
    } else {
        // The short name as the firmware looks it up: upper case, split at the first dot.
        std::string upper(part);
        for (char& c : upper)
            c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        const std::size_t dot = upper.find('.');
        std::string shortText = upper.substr(0, std::min<std::size_t>(dot, 8));
        if (dot != std::string::npos) {
            std::string ext = upper.substr(dot + 1, 3);
            std::replace(ext.begin(), ext.end(), '.', '_');
            shortText += '.' + ext;
        }
        wchar_t wide[kMaxLongNameChars + 1] = {};
        if (AnsiToWide(part, wide, kMaxLongNameChars + 1) != 0 || part[0] == '\0') {
            std::memset(LegacyStore.root[slot + entries - 1].raw, 0, sizeof(FatDirSlot));
            built = WriteEntrySetAt(LegacyStore.root.data(), LegacyRootEntryCount(), slot + entries - 1, entries,
                                    static_cast<std::uint16_t>(fileId), 0, wide, shortText.c_str(), kAttrSystemFile,
                                    size, now, now, now);
        }
    }
    if (built != 0)
        return kStatusFolderError;
    const std::uint32_t shortSlot = slot + entries - 1;
    auto fail = [&](EngineStatus status) {
        LegacyRemoveEntrySet(shortSlot);
        NotifyProgressEnd();
        return status;
    };

    LegacySetCursor(start);
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(blocks));
    for (std::uint32_t i = 0; i < blocks; ++i) {
        const BlockPosition here = LegacyCursor();
        BlockPosition next;
        BlockLink link;
        if (i + 1 < blocks) {
            PhysicalNext(here, next);
            link = LegacyLinkTo(next);
        }
        const std::uint64_t offset = std::uint64_t{i} * blockBytes;
        const std::uint32_t bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(blockBytes, size - offset));
        if (LegacyWriteFileBlock(units, data + offset, bytes, i == 0, fileId, RecordBlockCount(blocks), kTypeFont,
                                 link) != kStatusOk)
            return fail(kStatusUsbError);
        LegacyProgressStep();
        if (i + 1 < blocks)
            LegacySetCursor(next);
    }
    NotifyProgressEnd();
    if (LegacyWriteBackRoot() != kStatusOk)
        return fail(kStatusUsbError);
    InternalRootChanged();
    return kStatusOk;
}

// ---- The block stream ----

void LegacyFiles::EndStream()
{
    if (stream_.open)
        PlayerPipes.Release();
    stream_.open = 0;
    stream_.write = 0;
    stream_.units.clear();
    stream_.units.shrink_to_fit();
}

std::uint32_t LegacyFiles::BlockBytes() const
{
    return LegacyBlockBytes();
}

void LegacyFiles::ResetStream()
{
    // A stream left open (never closed by its owner) ends here; its blocks go at the next purge.
    if (stream_.open)
        EndStream();
    Stream& s = stream_;
    s.write = 0;
    s.blocksWritten = 0;
    s.fileSize = 0;
    s.recordBlockCount = 0;
    std::fill(std::begin(s.times), std::end(s.times), 0u);
    s.linkValid = 0;
}

EngineStatus LegacyFiles::OpenStream(bool write, std::uint32_t recordId, const std::wstring& name)
{
    ResetStream();
    Stream& s = stream_;
    s.write = write ? 1 : 0;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    try {
        s.units.reserve(std::size_t{NandChips[0].sectorsPerBlock} * kUnitBytes);
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }

    PlayerPipes.Hold();
    s.open = 1;
    auto fail = [&](EngineStatus status) {
        EndStream();
        return status;
    };
    if (const EngineStatus status = LegacyEnsureRoot())
        return fail(status);

    if (!s.write) {
        const std::int32_t index = LegacyFindEntryById(recordId, 0);
        if (index < 0)
            return fail(kStatusFolderError);
        s.fileId = recordId;
        s.fileSize = LegacyStore.root[static_cast<std::uint32_t>(index)].entry.size;
        const std::uint32_t blockBytes = LegacyBlockBytes();
        NotifyProgress(kProgressBegin,
                       static_cast<std::int32_t>((std::uint64_t{s.fileSize} + blockBytes - 1) / blockBytes));
        // An empty file has no blocks to stand on.
        if (s.fileSize != 0 && !LegacyFindFileStart(s.fileId))
            return fail(kStatusFolderError);
        s.current = LegacyCursor();
        return kStatusOk;
    }

    if (WideToAnsi(name.c_str(), s.ansiName, sizeof s.ansiName) == 0)
        return fail(kStatusFolderError);
    const char* part = NamePart(s.ansiName);
    if (ReserveRootEntry(part, s.entryCount, s.slot, s.shortName, sizeof s.shortName) != kStatusOk)
        return fail(kStatusFolderError);
    s.typeCode = LegacyTypeCode(part, s.shortName);
    s.attribute = FileAttributeForTypeCode(s.typeCode);
    if (const EngineStatus status = LegacyPurgeUnreferenced(s.fileId))
        return fail(status);
    if (LegacyStore.freeBlockCount < 1)
        return fail(kStatusStorageFull);
    Engine.CurrentChip = 0;
    NandChips[0].Rewind();
    if (LegacyNextFreeBlock() != kWalkFound)
        return fail(kStatusStorageFull);
    s.current = LegacyCursor();
    NotifyProgress(kProgressBegin, 0);
    LegacyAdvanceBlock();
    if (LegacyNextFreeBlock() == kWalkFound) {
        s.link = LegacyCursor();
        s.linkValid = 1;
    }
    return kStatusOk;
}

EngineStatus LegacyFiles::WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes, bool lastBlock)
{
    Stream& s = stream_;
    if (!s.open || !s.write)
        return kStatusFileError;
    BlockLink link;
    if (!lastBlock) {
        // A further block will follow and there is no free block for it.
        if (!s.linkValid) {
            EndStream();
            return kStatusStorageFull;
        }
        link = LegacyLinkTo(s.link);
    }
    LegacySetCursor(s.current);
    if (LegacyWriteFileBlock(s.units, buffer, buffer ? bytes : 0, s.blocksWritten == 0, s.fileId, s.recordBlockCount,
                             s.typeCode, link) != kStatusOk) {
        NotifyProgressEnd();
        EndStream();
        return kStatusUsbError;
    }
    LegacyProgressStep();
    ++s.blocksWritten;
    return kStatusOk;
}

EngineStatus LegacyFiles::NextBlock()
{
    Stream& s = stream_;
    if (!s.open)
        return kStatusFileError;
    if (s.write) {
        if (!s.linkValid) {
            EndStream();
            return kStatusStorageFull;
        }
        s.current = s.link;
        s.linkValid = 0;
        LegacySetCursor(s.current);
        LegacyAdvanceBlock();
        if (LegacyNextFreeBlock() == kWalkFound) {
            s.link = LegacyCursor();
            s.linkValid = 1;
        }
        return kStatusOk;
    }
    LegacyProgressStep();
    LegacySetCursor(s.current);
    LegacyAdvanceBlock();
    while (LegacyNextFileBlock() == kWalkFound) {
        if (LegacyStore.walkerId == s.fileId) {
            s.current = LegacyCursor();
            return kStatusOk;
        }
        LegacyAdvanceBlock();
    }
    EndStream();
    return kStatusFileError;
}

EngineStatus LegacyFiles::ReadBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out)
{
    Stream& s = stream_;
    if (!s.open || s.write || buffer == nullptr)
        return kStatusFileError;
    LegacySetCursor(s.current);
    NandChip& chip = NandChips[Engine.CurrentChip];
    PlayerPipes.Need();
    if (chip.ReadBlock({buffer, bytes}) != kTransportOk) {
        EndStream();
        return kStatusUsbError;
    }
    if (out)
        *out = std::min<std::uint32_t>(bytes, std::uint32_t{chip.sectorsPerBlock} * 512u);
    return kStatusOk;
}

EngineStatus LegacyFiles::CommitStream(std::uint32_t transferred)
{
    Stream& s = stream_;
    if (!s.open)
        return kStatusFileError;
    EngineStatus status = kStatusOk;
    if (s.write) {
        // The stream gives no times of its own: the entry carries the time it was made.
        const std::time_t now = std::time(nullptr);
        if (BuildFileEntrySet(s.slot + s.entryCount - 1, s.entryCount, static_cast<std::uint16_t>(s.fileId),
                              NamePart(s.ansiName), s.shortName, s.typeCode, transferred, now, now, now,
                              LegacyStore.root.data(), LegacyRootEntryCount(),
                              static_cast<std::uint16_t>(newFileFolderId_)) != 0) {
            status = kStatusFolderError;
        } else if (LegacyWriteBackRoot() != kStatusOk) {
            LegacyRemoveEntrySet(s.slot + s.entryCount - 1);
            status = kStatusUsbError;
        }
    }
    NotifyProgressEnd();
    EndStream();
    return status;
}

}  // namespace engine
