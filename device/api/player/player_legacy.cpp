// The flat store of internal memory on the models without folder objects: listing, file and folder
// operations, the block stream, and the system files written as runs of consecutive blocks.
#include "device/api/player/player_device.h"

#include "device/fs/pc/id3_tag.h"
#include "device/flash/nand_chip.h"
#include "device/fs/card/card_volume.h"
#include "device/fs/engine_status.h"
#include "device/fs/fat_entry.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

namespace engine {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

const char* NamePart(const char* path)
{
    const char* slash = std::strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

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

std::uint32_t FreeRunStart(std::uint32_t count, std::uint32_t& start)
{
    const std::int32_t last = FindFreeEntryRun(count, LegacyStore.root.data(), LegacyRootEntryCount());
    if (last < 0)
        return kStatusFolderError;
    start = static_cast<std::uint32_t>(last) + 1 - count;
    return kStatusOk;
}

// Room in the root for a new entry set of `name`: its slot count, the first slot of a free run and a
// short name unique in the root. 0, or 1 when there is no room or no short name left.
std::uint32_t ReserveRootEntry(const char* name, std::uint32_t& entries, std::uint32_t& slot, char* shortText,
                               std::uint32_t shortBytes)
{
    entries = CountLongNameEntries(name);
    if (FreeRunStart(entries, slot) != kStatusOk ||
        MakeShortName(name, shortText, shortBytes, LegacyStore.root.data(), LegacyRootEntryCount()) != 0)
        return kStatusFolderError;
    return kStatusOk;
}

}  // namespace

// ---- Listing ----

std::int32_t PlayerDevice::LegacyFindFirst(DirRecord& record)
{
    if (legacyStream_.open)
        return kStatusFileError;
    std::memset(&record, 0, sizeof record);
    LegacyPipes bracket;
    LegacyStore.walkCounted = 0;
    LegacyStore.walkReturned = 0;
    LegacyStore.walkIndex = -1;
    if (!LegacyChipZeroPresent())
        return -1;
    if (LegacyStore.rootLoaded && LegacyStore.rootDirty) {
        // The chip lost its directory in a failed write-back: the buffer is the only copy left.
        if (LegacyWriteBackRoot() != kStatusOk)
            return kStatusUsbError;
    } else if (const std::uint32_t status = LegacyLoadRoot()) {
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

std::int32_t PlayerDevice::LegacyFindNext(DirRecord& record)
{
    if (legacyStream_.open)
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

std::uint32_t PlayerDevice::LegacyDownload(std::uint32_t storage, const char* pcPath, std::uint32_t folderId)
{
    if (legacyStream_.open)
        return kStatusFileError;
    if (storage != 0)  // the card keeps its files in the root of its own volume
        return pcPath ? CardVolume.DownloadFileNandCard(pcPath) : kStatusFileError;
    Engine.CancelRequested.store(0);
    if (pcPath == nullptr)
        return kStatusFileError;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    const std::uint32_t blockBytes = LegacyBlockBytes();

    LegacyPipes bracket;
    if (const std::uint32_t status = LegacyEnsureRoot())
        return status;

    const char* name = NamePart(pcPath);
    std::uint32_t entries = 0, slot = 0;
    char shortText[kShortTextBytes];
    if (ReserveRootEntry(name, entries, slot, shortText, sizeof shortText) != kStatusOk)
        return kStatusFolderError;
    const std::uint8_t typeCode = LegacyTypeCode(name, shortText);

    std::uint32_t fileId = 0;
    if (const std::uint32_t status = LegacyPurgeUnreferenced(fileId))
        return status;

    struct _stat64 info;
    if (_stat64(pcPath, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG)
        return kStatusFileError;
    const std::int64_t pcSize = info.st_size;
    const std::time_t created = info.st_ctime == -1 ? 0 : info.st_ctime;
    const std::time_t accessed = info.st_atime == -1 ? 0 : info.st_atime;
    const std::time_t written = info.st_mtime == -1 ? 0 : info.st_mtime;

    std::unique_ptr<std::uint8_t[]> tag;
    std::uint32_t tagLength = 0;
    std::int64_t offset = 0;
    if (typeCode == kTypeMp3) {
        TagRecord builder;
        tagLength = builder.BuildTagFromFile(pcPath, &offset, &tag);
        if (!tag)
            tagLength = 0;
        if (!FindMp3FrameSync(pcPath, &offset))
            return kStatusFileError;
    }
    if (offset < 0 || offset > pcSize)
        return kStatusFileError;
    const std::uint64_t stored = static_cast<std::uint64_t>(pcSize - offset) + tagLength;
    if (stored > 0xFFFFFFFFu)
        return kStatusStorageFull;
    const std::uint64_t blocks = (stored + blockBytes - 1) / blockBytes;
    if (blocks > LegacyStore.freeBlockCount)
        return kStatusStorageFull;

    FileHandle file(std::fopen(pcPath, "rb"));
    if (!file || _fseeki64(file.get(), offset, SEEK_SET) != 0)
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
                          static_cast<std::uint32_t>(stored), created, accessed, written, LegacyStore.root.data(),
                          LegacyRootEntryCount(), static_cast<std::uint16_t>(folderId)) != 0)
        return kStatusFolderError;
    const std::uint32_t shortSlot = slot + entries - 1;
    // Nothing of a failed download reaches the chip's directory; its blocks go at the next purge.
    auto fail = [&](std::uint32_t status) {
        LegacyRemoveEntrySet(shortSlot);
        LegacyProgressEnd();
        return status;
    };

    Engine.CurrentChip = 0;
    NandChips[0].Rewind();
    if (blocks != 0 && LegacyNextFreeBlock() != kWalkFound)
        return fail(kStatusStorageFull);
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(blocks));

    std::uint64_t done = 0;
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

        const std::uint32_t want = static_cast<std::uint32_t>(std::min<std::uint64_t>(blockBytes, stored - done));
        std::uint32_t filled = 0;
        if (done < tagLength) {
            filled = static_cast<std::uint32_t>(std::min<std::uint64_t>(want, tagLength - done));
            std::memcpy(data.data(), tag.get() + done, filled);
        }
        if (filled < want && std::fread(data.data() + filled, 1, want - filled, file.get()) != want - filled)
            return fail(kStatusFileError);

        if (LegacyWriteFileBlock(units, data.data(), want, i == 0, fileId, RecordBlockCount(blocks), typeCode, link) !=
            kStatusOk)
            return fail(kStatusUsbError);
        done += want;
        if (Engine.CancelRequested.load()) {
            cancelled = true;
            break;
        }
        LegacyProgressStep();
        if (i + 1 < blocks)
            LegacySetCursor(next);
    }
    file.reset();

    if (cancelled) {
        // The directory on the chip never saw the file: drop the entry and erase what was written.
        LegacyRemoveEntrySet(shortSlot);
        const std::uint32_t status = LegacyEraseFileBlocks(fileId, false);
        LegacyProgressEnd();
        return status;
    }
    if (LegacyWriteBackRoot() != kStatusOk)
        return fail(kStatusUsbError);
    LegacyProgressEnd();
    return kStatusOk;
}

std::uint32_t PlayerDevice::LegacyUpload(std::uint32_t storage, std::uint32_t fileId, const char* pcPath)
{
    if (legacyStream_.open)
        return kStatusFileError;
    if (storage != 0)
        return pcPath && fileId <= 0xFFFF ? CardVolume.UploadFile(static_cast<std::uint16_t>(fileId), pcPath)
                                          : kStatusFileError;
    Engine.CancelRequested.store(0);
    if (pcPath == nullptr)
        return kStatusFileError;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    const std::uint32_t blockBytes = LegacyBlockBytes();

    LegacyPipes bracket;
    if (const std::uint32_t status = LegacyEnsureRoot())
        return status;
    const std::int32_t index = LegacyFindEntryById(fileId, 0);
    if (index < 0)
        return kStatusFileError;
    const std::uint32_t size = LegacyStore.root[static_cast<std::uint32_t>(index)].entry.size;
    const std::uint32_t blocks = static_cast<std::uint32_t>((std::uint64_t{size} + blockBytes - 1) / blockBytes);

    FileHandle file(std::fopen(pcPath, "wb"));
    if (!file)
        return kStatusFileError;
    // A PC file that did not get the whole file is removed again.
    auto fail = [&](std::uint32_t status) {
        file.reset();
        std::remove(pcPath);
        LegacyProgressEnd();
        return status;
    };

    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(blocks));
    bool cancelled = false;
    const std::uint32_t status = LegacyReadFile(
        fileId, size,
        [&](const std::uint8_t* data, std::uint32_t bytes) { return std::fwrite(data, 1, bytes, file.get()) == bytes; },
        cancelled);
    if (status != kStatusOk)
        return fail(status);
    if (std::fclose(file.release()) != 0)
        return fail(kStatusFileError);
    if (cancelled)
        std::remove(pcPath);
    LegacyProgressEnd();
    return kStatusOk;
}

// ---- Delete, folders, rename, play order ----

std::uint32_t PlayerDevice::DeleteFileLocked(std::uint32_t fileId)
{
    const std::int32_t index = LegacyFindEntryById(fileId, 0);
    if (index < 0)
        return kStatusFileError;
    const std::uint32_t blockBytes = LegacyBlockBytes();
    const std::uint32_t size = LegacyStore.root[static_cast<std::uint32_t>(index)].entry.size;
    const std::uint64_t blocks = blockBytes ? (std::uint64_t{size} + blockBytes - 1) / blockBytes : 0;
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(blocks));
    if (LegacyEraseFileBlocks(fileId) != kStatusOk) {
        LegacyProgressEnd();
        return kStatusUsbError;
    }
    LegacyRemoveEntrySet(static_cast<std::uint32_t>(index));
    const std::uint32_t status = LegacyWriteBackRoot();
    LegacyProgressEnd();
    return status;
}

std::uint32_t PlayerDevice::DeleteFile(std::uint32_t storage, std::uint32_t fileId)
{
    if (storage != 0)
        return kStatusNoStorage;  // the card volume takes these once it exists
    if (legacyStream_.open)
        return kStatusFileError;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    LegacyPipes bracket;
    if (const std::uint32_t status = LegacyEnsureRoot())
        return status;
    return DeleteFileLocked(fileId);
}

std::uint32_t PlayerDevice::DeleteFolder(std::uint32_t storage, std::uint32_t folderId)
{
    if (storage != 0)
        return kStatusFolderError;
    if (legacyStream_.open)
        return kStatusFileError;
    // Id 0 is the root itself (every entry carries it) and 1 the root directory block.
    if (folderId <= kRootFileId)
        return kStatusFolderError;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    LegacyPipes bracket;
    if (const std::uint32_t status = LegacyEnsureRoot())
        return status;
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
        if (const std::uint32_t status = DeleteFileLocked(id))
            return status;
    }
    const std::int32_t index = LegacyFindEntryById(folderId, 1);
    if (index < 0)
        return kStatusFileError;
    LegacyRemoveEntrySet(static_cast<std::uint32_t>(index));
    return LegacyWriteBackRoot();
}

std::uint32_t PlayerDevice::CreateFolder(const char* name, std::uint32_t* newId)
{
    if (legacyStream_.open)
        return kStatusFileError;
    Engine.CancelRequested.store(0);
    if (name == nullptr)
        return kStatusFolderError;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    LegacyPipes bracket;
    if (const std::uint32_t status = LegacyEnsureRoot())
        return status;
    const char* part = NamePart(name);
    std::uint32_t entries = 0, slot = 0;
    char shortText[kShortTextBytes];
    if (ReserveRootEntry(part, entries, slot, shortText, sizeof shortText) != kStatusOk)
        return kStatusFolderError;
    std::uint32_t folderId = 0;
    if (const std::uint32_t status = LegacyPurgeUnreferenced(folderId))
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

std::uint32_t PlayerDevice::MoveEntry(std::uint32_t storage, std::uint32_t fileId, std::uint32_t folderId)
{
    if (storage != 0)
        return kStatusFolderError;
    if (legacyStream_.open)
        return kStatusFileError;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    LegacyPipes bracket;
    if (const std::uint32_t status = LegacyEnsureRoot())
        return status;
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

std::uint32_t PlayerDevice::RenameEntry(std::uint32_t storage, std::uint32_t fileId, const char* newName)
{
    if (storage != 0)
        return kStatusNoStorage;  // the card volume takes these once it exists
    if (legacyStream_.open)
        return kStatusFileError;
    if (newName == nullptr)
        return kStatusFolderError;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    LegacyPipes bracket;
    if (const std::uint32_t status = LegacyEnsureRoot())
        return status;
    std::vector<FatDirSlot> copy;
    try {
        copy = LegacyStore.root;
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }
    auto restore = [&](std::uint32_t status) {
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

std::uint32_t PlayerDevice::SetPlayIndex(std::uint32_t storage, std::uint32_t fileId, std::uint32_t newIndex)
{
    if (storage == 1)
        return fileId <= 0xFFFF ? CardVolume.SetPlayIndex(static_cast<std::uint16_t>(fileId), newIndex)
                                : kStatusFileError;
    if (storage != 0)
        return kStatusNoStorage;
    if (legacyStream_.open)
        return kStatusFileError;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    LegacyPipes bracket;
    if (const std::uint32_t status = LegacyEnsureRoot())
        return status;

    const std::vector<FatDirSlot> before = LegacyStore.root;
    if (!MoveEntrySetToIndex(LegacyStore.root.data(), LegacyRootEntryCount(), fileId, newIndex))
        return kStatusFileError;
    if (LegacyWriteBackRoot() != kStatusOk) {
        LegacyStore.root = before;
        return kStatusUsbError;
    }
    return kStatusOk;
}

// ---- Storage sizes ----

namespace {

std::uint32_t Bytes(std::uint64_t units, std::uint32_t sectorsPerUnit)
{
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(units * sectorsPerUnit * 512u, 0xFFFFFFFFu));
}

}  // namespace

std::uint32_t PlayerDevice::QueryStorageSizes(std::uint32_t& internalTotal, std::uint32_t& internalFree,
                                              std::uint32_t& externalTotal, std::uint32_t& externalFree)
{
    // The spare tables loaded at identification know every erased block; no transfer is needed.
    const std::uint32_t chipSectors = LegacyChipZeroPresent() ? NandChips[0].sectorsPerBlock : 0;
    LegacyStore.freeBlockCount = LegacyCountFreeBlocks();
    internalTotal = Bytes(Engine.InternalBlockCount, chipSectors);
    internalFree = Bytes(LegacyStore.freeBlockCount, chipSectors);

    externalTotal = externalFree = 0;
    const std::uint32_t cardSectors = CardVolume.card.sectorsPerBlock;
    if (!Engine.ModelGroupFlag) {
        std::uint32_t clusters = 0, freeClusters = 0;
        if (CardVolume.CountFreeClusters(clusters, freeClusters)) {
            externalTotal = Bytes(Engine.CardBlockCount, cardSectors);
            externalFree = Bytes(freeClusters, cardSectors);
        }
    } else if (cardUnformatted_) {
        externalTotal = Engine.CardCapacityBytes;
    } else {
        std::uint32_t clusters = 0, freeClusters = 0;
        if (CardVolume.CountFreeClusters(clusters, freeClusters)) {
            externalTotal = Bytes(clusters, cardSectors);
            externalFree = Bytes(freeClusters, cardSectors);
        }
    }
    return kStatusOk;
}

// ---- System files ----

void PlayerDevice::InternalRootChanged()
{
    // A root InternalFolder holds its own copy of this directory and would write the new entry away at
    // its next rewrite: the root folder object that folder selection keeps must be reloaded here. Until
    // the device keeps one, every root folder object is loaded after the write and sees the entry.
}

std::uint32_t PlayerDevice::WriteFontFile(const char* name, std::uint32_t size, const std::uint8_t* data)
{
    return WriteRunFile(name, size, data, kFontFileId, true);
}

std::uint32_t PlayerDevice::WriteSystemFile(const char* name, std::uint32_t size, const std::uint8_t* data,
                                            std::uint32_t fileId)
{
    return WriteRunFile(name, size, data, fileId, false);
}

std::uint32_t PlayerDevice::WriteRunFile(const char* name, std::uint32_t size, const std::uint8_t* data,
                                         std::uint32_t fileId, bool font)
{
    if (legacyStream_.open)
        return kStatusFileError;
    if (name == nullptr || (data == nullptr && size != 0))
        return kStatusFileError;
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    const std::uint32_t blockBytes = LegacyBlockBytes();
    LegacyPipes bracket;
    if (const std::uint32_t status = LegacyEnsureRoot())
        return status;

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
    auto fail = [&](std::uint32_t status) {
        LegacyRemoveEntrySet(shortSlot);
        LegacyProgressEnd();
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
    LegacyProgressEnd();
    if (LegacyWriteBackRoot() != kStatusOk)
        return fail(kStatusUsbError);
    InternalRootChanged();
    return kStatusOk;
}

// ---- The block stream ----

void PlayerDevice::EndLegacyStream()
{
    if (legacyStream_.open)
        LegacyReleasePipes();
    legacyStream_.open = 0;
    legacyStream_.write = 0;
    legacyStream_.units.clear();
    legacyStream_.units.shrink_to_fit();
}

std::uint32_t PlayerDevice::GetBlockBytes()
{
    return LegacyBlockBytes();
}

std::uint32_t PlayerDevice::GetFileSize()
{
    return legacyStream_.fileSize;
}

std::uint32_t PlayerDevice::OpenEntry()
{
    // A stream left open (never closed by its owner) ends here; its blocks go at the next purge.
    if (legacyStream_.open)
        EndLegacyStream();
    LegacyStream& s = legacyStream_;
    s.write = writeMode_ ? 1 : 0;
    s.blocksWritten = 0;
    s.fileSize = 0;
    s.recordBlockCount = 0;
    std::fill(std::begin(s.times), std::end(s.times), 0u);
    s.linkValid = 0;

    if (s.write && streamStorage_ != 0)
        return kStatusFileError;
    if (!s.write && streamStorage_ != 0)
        return kStatusFileError;  // the card volume's streams are its own
    if (!LegacyChipZeroPresent())
        return kStatusStorageFull;
    try {
        s.units.reserve(std::size_t{NandChips[0].sectorsPerBlock} * kUnitBytes);
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }

    LegacyAcquirePipes();
    s.open = 1;
    auto fail = [&](std::uint32_t status) {
        EndLegacyStream();
        return status;
    };
    if (const std::uint32_t status = LegacyEnsureRoot())
        return fail(status);

    if (!s.write) {
        const std::int32_t index = LegacyFindEntryById(recordId_, 0);
        if (index < 0)
            return fail(kStatusFolderError);
        s.fileId = recordId_;
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

    if (WideToAnsi(name_.c_str(), s.ansiName, sizeof s.ansiName) == 0)
        return fail(kStatusFolderError);
    const char* part = NamePart(s.ansiName);
    if (ReserveRootEntry(part, s.entryCount, s.slot, s.shortName, sizeof s.shortName) != kStatusOk)
        return fail(kStatusFolderError);
    s.typeCode = LegacyTypeCode(part, s.shortName);
    s.attribute = FileAttributeForTypeCode(s.typeCode);
    if (const std::uint32_t status = LegacyPurgeUnreferenced(s.fileId))
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

std::uint32_t PlayerDevice::WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes)
{
    LegacyStream& s = legacyStream_;
    if (!s.open || !s.write)
        return kStatusFileError;
    BlockLink link;
    if (!lastBlock_) {
        // A further block will follow and there is no free block for it.
        if (!s.linkValid) {
            EndLegacyStream();
            return kStatusStorageFull;
        }
        link = LegacyLinkTo(s.link);
    }
    LegacySetCursor(s.current);
    if (LegacyWriteFileBlock(s.units, buffer, buffer ? bytes : 0, s.blocksWritten == 0, s.fileId, s.recordBlockCount,
                             s.typeCode, link) != kStatusOk) {
        LegacyProgressEnd();
        EndLegacyStream();
        return kStatusUsbError;
    }
    LegacyProgressStep();
    ++s.blocksWritten;
    return kStatusOk;
}

std::uint32_t PlayerDevice::ReadNextBlock()
{
    LegacyStream& s = legacyStream_;
    if (!s.open)
        return kStatusFileError;
    if (s.write) {
        if (!s.linkValid) {
            EndLegacyStream();
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
    EndLegacyStream();
    return kStatusFileError;
}

std::uint32_t PlayerDevice::ReadFirstBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out)
{
    LegacyStream& s = legacyStream_;
    if (!s.open || s.write || buffer == nullptr)
        return kStatusFileError;
    LegacySetCursor(s.current);
    NandChip& chip = NandChips[Engine.CurrentChip];
    LegacyNeedPipes();
    if (chip.ReadBlock({buffer, bytes}) != kTransportOk) {
        EndLegacyStream();
        return kStatusUsbError;
    }
    if (out)
        *out = std::min<std::uint32_t>(bytes, std::uint32_t{chip.sectorsPerBlock} * 512u);
    return kStatusOk;
}

std::uint32_t PlayerDevice::CommitEntry()
{
    LegacyStream& s = legacyStream_;
    if (!s.open)
        return kStatusFileError;
    std::uint32_t status = kStatusOk;
    if (s.write) {
        // The stream gives no times of its own: the entry carries the time it was made.
        const std::time_t now = std::time(nullptr);
        if (BuildFileEntrySet(s.slot + s.entryCount - 1, s.entryCount, static_cast<std::uint16_t>(s.fileId),
                              NamePart(s.ansiName), s.shortName, s.typeCode, transferred_, now, now, now,
                              LegacyStore.root.data(), LegacyRootEntryCount(),
                              static_cast<std::uint16_t>(newFileFolderId_)) != 0) {
            status = kStatusFolderError;
        } else if (LegacyWriteBackRoot() != kStatusOk) {
            LegacyRemoveEntrySet(s.slot + s.entryCount - 1);
            status = kStatusUsbError;
        }
    }
    LegacyProgressEnd();
    EndLegacyStream();
    return status;
}

}  // namespace engine
