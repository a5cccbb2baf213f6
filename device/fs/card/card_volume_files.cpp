// Download, upload, delete and rename in the root of a NAND-type card: one erase block per cluster,
// the FAT and the root changed in memory and written back once at the end.
#include "device/fs/card/card_volume.h"

#include "device/fs/pc/pc_transfer.h"
#include "device/flash/card_translation.h"
#include "device/fs/engine_status.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"

#include <windows.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace engine {

namespace {

constexpr std::uint8_t kAttrVolume = 0x08;
// Attribute bits a PC file may carry into a FAT entry: read-only, hidden, system, archive.
constexpr std::uint8_t kStorableAttributes = 0x27;
constexpr std::uint8_t kAttrArchive = 0x20;

bool HasMp3Extension(const char* name)
{
    const char* dot = std::strrchr(name, '.');
    return dot && _stricmp(dot + 1, "mp3") == 0;
}

}  // namespace

int FatVolume::FindFileRecord(std::uint16_t recordId) const
{
    const FatDirSlot* slots = reinterpret_cast<const FatDirSlot*>(root_.data());
    for (std::uint32_t i = 0; i < kCardRootSlots; ++i) {
        const FatDirSlot& s = slots[i];
        if (s.raw[0] == kSlotFree || s.raw[0] == kSlotDeleted || s.raw[11] == kAttrLongName)
            continue;
        if (s.entry.firstCluster == recordId)
            return (s.entry.attributes & (kAttrVolume | kAttrDirectory)) ? -1 : static_cast<int>(i);
    }
    return -1;
}

void FatVolume::RemoveEntrySet(std::uint32_t start, std::uint32_t shortSlot)
{
    std::uint32_t count = shortSlot - start + 1;
    std::uint8_t* base = root_.data();
    std::memmove(base + std::size_t{start} * 32, base + std::size_t{shortSlot + 1} * 32,
                 std::size_t{kCardRootSlots - shortSlot - 1} * 32);
    std::memset(base + std::size_t{kCardRootSlots - count} * 32, 0, std::size_t{count} * 32);
}

EngineStatus FatVolume::DownloadFileNandCard(const char* path)
{
    if (writeProtected_)
        return kStatusWriteProtected;
    if (!IsMounted() || sectorCard_)
        return kStatusNoStorage;
    Engine.CancelRequested = 0;
    const std::uint32_t s = card.sectorsPerBlock;
    const std::uint32_t clusterBytes = s * kCardSectorBytes;

    const std::uint32_t freeClusters = FreeClusters();
    const char* name = NamePart(path);
    std::uint32_t n = CountLongNameEntries(name);
    std::int32_t slot = FindFreeEntryRun(n, RootSlotsPtr(), kCardRootSlots);
    if (slot < 0)
        return kStatusFolderError;
    char shortText[kShortTextBytes];
    if (MakeShortName(name, shortText, sizeof shortText, RootSlotsPtr(), kCardRootSlots) != 0)
        return kStatusFolderError;
    PcSource source;
    if (EngineStatus status = source.Prepare(path, HasMp3Extension(name)); status != kStatusOk)
        return status;
    const std::uint32_t clusters = source.PieceCount(clusterBytes);
    if (clusters > freeClusters)
        return kStatusStorageFull;
    if (source.Open(clusterBytes) != kStatusOk)
        return kStatusFileError;
    VolumeSnapshot snapshot(*this);
    CardBlockImage image(s);
    if (!snapshot.Ok() || !image.Ok())
        return kStatusStorageFull;

    ScopedPipes bracket(PlayerPipes);
    auto fail = [&](EngineStatus status) {
        snapshot.Restore();
        NotifyProgressEnd();
        if (status == kStatusUsbError)
            spareRecordsStale_ = true;
        return status;
    };
    if (RefreshSpareRecords() != kStatusOk)
        return fail(kStatusUsbError);
    // A free cluster with an erased block for it; a cluster whose block cannot be had is marked bad.
    auto takeCluster = [&](std::uint32_t& cluster) {
        return nandMedium_.TakeCluster(cluster, true);
    };

    std::uint32_t first = 0;
    if (clusters > 0) {
        if (EngineStatus status = takeCluster(first); status != kStatusOk)
            return fail(status);
    }
    if (BuildFileEntrySet(static_cast<std::uint32_t>(slot), n, static_cast<std::uint16_t>(first), name, shortText, 0,
                          source.StoredBytes(), source.Created(), source.Accessed(), source.Written(), RootSlotsPtr(),
                          kCardRootSlots, 0) != 0)
        return fail(kStatusFolderError);
    DWORD pcAttributes = GetFileAttributesA(path);
    RootSlotsPtr()[slot].entry.attributes = pcAttributes == INVALID_FILE_ATTRIBUTES
                                                ? kAttrArchive
                                                : static_cast<std::uint8_t>(pcAttributes & kStorableAttributes);

    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(clusters));
    std::uint32_t cluster = first;
    bool cancelled = false;
    for (std::uint32_t k = 0; k < clusters; ++k) {
        std::uint32_t logical = LogicalBlockOf(cluster);
        blockNumber_ = logical;
        image.Fill(0xFF);
        for (std::uint32_t p = 0; p < s; ++p) {
            // The new tag first, then the audio from the first frame on.
            const auto part = static_cast<std::uint32_t>(std::min<std::uint64_t>(kCardSectorBytes, source.Remaining()));
            if (part > 0 && source.Read(image.Page(p), part) != kStatusOk)
                return fail(kStatusFileError);  // the PC file is shorter than it was
        }
        // AllocateBlock left the cursor on the cluster's block.
        if (EngineStatus status = nandMedium_.ProgramBlock(logical, image); status != kStatusOk)
            return fail(status);

        if (source.PieceStored()) {
            cancelled = true;
            break;
        }
        if (k + 1 < clusters) {
            std::uint32_t next = 0;
            if (EngineStatus status = takeCluster(next); status != kStatusOk)
                return fail(status);
            SetFatEntry(cluster, next);
            cluster = next;
        }
    }
    source.Close();
    NotifyProgressEnd();
    if (cancelled) {
        // Nothing of the file reached the FAT or root on the card: forgetting it leaves the card as it was.
        snapshot.Restore();
        return kStatusOk;
    }
    if (EngineStatus status = FlushNandSystemArea(false); status != kStatusOk) {
        snapshot.Restore();
        return status;
    }
    return kStatusOk;
}

EngineStatus FatVolume::UploadFile(std::uint16_t recordId, const char* path)
{
    if (!IsMounted() || sectorCard_)
        return kStatusNoStorage;
    Engine.CancelRequested = 0;
    const int index = FindFileRecord(recordId);
    if (index < 0)
        return kStatusFileError;
    const FatShortEntry entry = RootSlotsPtr()[index].entry;
    const std::uint32_t clusterBytes = card.sectorsPerBlock * kCardSectorBytes;
    std::uint32_t remaining = entry.size;
    std::uint32_t clusters = static_cast<std::uint32_t>((std::uint64_t{remaining} + clusterBytes - 1) / clusterBytes);
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[clusterBytes]);
    if (!block)
        return kStatusStorageFull;

    ScopedPipes bracket(PlayerPipes);
    if (RefreshSpareRecords() != kStatusOk)
        return kStatusUsbError;
    PcSink sink;
    if (sink.Create(path) != kStatusOk) {
        NotifyProgressEnd();
        return kStatusFileError;
    }
    auto fail = [&](EngineStatus status) {
        sink.Discard();
        NotifyProgressEnd();
        return status;
    };
    ChainWalker walk(*this);
    if (!walk.Ok())
        return fail(kStatusStorageFull);
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(clusters));
    std::uint32_t cluster = recordId;
    bool cancelled = false;
    if (cluster != 0) {
        walk.Start(cluster);
        for (std::uint32_t k = 0; k < clusters; ++k) {
            if (SeekCluster(cluster) != kCardBlockFound)
                return fail(kStatusFileError);
            if (card.ReadBlock({block.get(), clusterBytes}) != kTransportOk)
                return fail(kStatusUsbError);
            std::uint32_t part = std::min(remaining, clusterBytes);
            if (!sink.Write(block.get(), part))
                return fail(kStatusFileError);
            remaining -= part;
            if (remaining == 0)
                break;
            // The chain must carry every cluster that the size needs, each once.
            if (walk.Advance() != ChainStep::Next)
                return fail(kStatusFileError);
            cluster = walk.Cluster();
            if (Engine.CancelRequested) {
                cancelled = true;
                break;
            }
            NotifyProgress(kProgressStep, static_cast<std::int32_t>(clusterBytes));
        }
    } else if (remaining != 0) {
        return fail(kStatusFileError);
    }
    if (cancelled)
        return fail(kStatusOk);
    if (sink.Finish() != kStatusOk)
        return fail(kStatusFileError);
    NotifyProgressEnd();
    return kStatusOk;
}

EngineStatus FatVolume::DeleteFile(std::uint16_t recordId)
{
    if (writeProtected_)
        return kStatusWriteProtected;
    if (!IsMounted() || sectorCard_)
        return kStatusNoStorage;
    Engine.CancelRequested = 0;
    const int index = FindFileRecord(recordId);
    if (index < 0)
        return kStatusFileError;
    const FatShortEntry entry = RootSlotsPtr()[index].entry;
    const std::uint32_t clusterBytes = card.sectorsPerBlock * kCardSectorBytes;
    std::uint32_t clusters = static_cast<std::uint32_t>((std::uint64_t{entry.size} + clusterBytes - 1) / clusterBytes);
    // At most the clusters the size needs (one for a chain with a size of 0); a broken chain ends the
    // walk. A chain that comes back on itself is refused before anything changes.
    std::vector<std::uint32_t> chain;
    if (EngineStatus status = ListChain(*this, recordId, clusters == 0 ? 1 : clusters, chain); status != kStatusOk)
        return status;
    VolumeSnapshot snapshot(*this);
    if (!snapshot.Ok())
        return kStatusStorageFull;

    ScopedPipes bracket(PlayerPipes);
    if (RefreshSpareRecords() != kStatusOk)
        return kStatusUsbError;
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(clusters));
    for (std::size_t k = 0; k < chain.size(); ++k) {
        const std::uint32_t cluster = chain[k];
        if (nandMedium_.EraseCluster(cluster) != kStatusOk) {
            snapshot.Restore();
            NotifyProgressEnd();
            return kStatusUsbError;
        }
        SetFatEntry(cluster, 0);
        if (k + 1 < chain.size())
            NotifyProgress(kProgressStep, static_cast<std::int32_t>(clusterBytes));
    }
    NotifyProgressEnd();
    RemoveEntrySet(EntrySetStart(RootSlotsPtr(), static_cast<std::uint32_t>(index)), static_cast<std::uint32_t>(index));
    if (EngineStatus status = FlushNandSystemArea(false); status != kStatusOk) {
        snapshot.Restore();
        return status;
    }
    return kStatusOk;
}

EngineStatus FatVolume::Rename(std::uint16_t recordId, const char* newName)
{
    if (writeProtected_)
        return kStatusWriteProtected;
    if (!IsMounted() || sectorCard_)
        return kStatusNoStorage;
    const int index = FindFileRecord(recordId);
    if (index < 0)
        return kStatusFileError;
    const FatDirSlot old = RootSlotsPtr()[index];
    std::uint32_t start = EntrySetStart(RootSlotsPtr(), static_cast<std::uint32_t>(index));

    ScopedPipes bracket(PlayerPipes);
    if (RefreshSpareRecords() != kStatusOk)
        return kStatusUsbError;
    rootBackup_ = root_;
    RemoveEntrySet(start, static_cast<std::uint32_t>(index));
    const char* name = NamePart(newName);
    std::uint32_t n = CountLongNameEntries(name);
    std::int32_t slot = FindFreeEntryRun(n, RootSlotsPtr(), kCardRootSlots);
    char shortText[kShortTextBytes];
    if (slot < 0 || MakeShortName(name, shortText, sizeof shortText, RootSlotsPtr(), kCardRootSlots) != 0 ||
        BuildRenamedEntrySet(static_cast<std::uint32_t>(slot), n, name, shortText, old, RootSlotsPtr(),
                             kCardRootSlots) != 0) {
        root_ = rootBackup_;
        return kStatusFolderError;
    }
    if (EngineStatus status = FlushNandSystemArea(false); status != kStatusOk) {
        root_ = rootBackup_;
        return status;
    }
    return kStatusOk;
}

EngineStatus FatVolume::SetPlayIndex(std::uint16_t recordId, std::uint32_t newIndex)
{
    if (writeProtected_)
        return kStatusWriteProtected;
    if (!IsMounted() || sectorCard_)
        return kStatusNoStorage;
    rootBackup_ = root_;
    if (!MoveEntrySetToIndex(RootSlotsPtr(), kCardRootSlots, recordId, newIndex))
        return kStatusFileError;

    ScopedPipes bracket(PlayerPipes);
    EngineStatus status = RefreshSpareRecords();
    if (status == kStatusOk)
        status = FlushNandSystemArea(false);
    if (status != kStatusOk)
        root_ = rootBackup_;
    return status;
}

}  // namespace engine
