// The card folder's file transfers: whole PC files down to the card (with the player's MP3 tag) and
// back, and the block stream, one cluster per block.
#include "device/fs/card/external_folder.h"

#include "device/fs/pc/pc_transfer.h"
#include "device/fs/card/card_volume.h"
#include "device/fs/engine_status.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"
#include "platform/win/file_util.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <new>

namespace engine {

namespace {

constexpr std::uint8_t kAttrArchive = 0x20;
constexpr std::uint8_t kAttrNotAFile = 0x18;  // directory or volume label

bool IsMp3Name(const wchar_t* name)
{
    const wchar_t* dot = std::wcsrchr(name, L'.');
    return dot != nullptr && _wcsicmp(dot + 1, L"mp3") == 0;
}

}  // namespace

EngineStatus ExternalFolder::DownloadFile(const wchar_t* pcPath)
{
    Engine.CancelRequested = 0;
    if (EngineStatus status = CheckWritable(); status != kStatusOk)
        return status;
    if (!entries_)
        return kStatusStorageFull;
    if (pcPath == nullptr)
        return kStatusFileError;
    const wchar_t* name = NamePart(pcPath);
    const std::uint32_t n = EntryCountForName(name);
    const std::int32_t slot = n == 0 ? -1 : FindFreeRun(n);
    char shortText[kShortTextBytes];
    if (slot < 0 || MakeShortName(name, shortText, sizeof shortText) != 0)
        return kStatusFolderError;

    PcSource source;
    if (EngineStatus status = source.Prepare(pcPath, IsMp3Name(name)); status != kStatusOk)
        return status;
    const std::uint32_t cb = ClusterBytes();
    const std::uint32_t clusters = source.PieceCount(cb);
    if (clusters > CardVolume.FreeClusters())
        return kStatusStorageFull;
    if (source.Open(cb) != kStatusOk)
        return kStatusFileError;
    VolumeSnapshot snapshot(CardVolume);
    EntriesUndo undo(*this);
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[cb]);
    if (!snapshot.Ok() || !undo.Ok() || !buffer)
        return kStatusStorageFull;

    ScopedPipes bracket(PlayerPipes);
    std::vector<std::uint32_t> taken;
    // Nothing of a download that does not finish stays behind: its entry and clusters go before
    // anything is flushed.
    auto undoAll = [&](EngineStatus status, bool erase) {
        source.Close();
        if (erase)
            ReleaseTaken(taken, true);
        snapshot.Restore();
        undo.Restore();
        return status;
    };
    auto fail = [&](EngineStatus status) {
        NotifyProgressEnd();
        return undoAll(status, status != kStatusUsbError);
    };

    std::uint32_t cluster = 0;
    if (clusters > 0) {
        if (EngineStatus status = CardVolume.Medium().TakeCluster(cluster, true); status != kStatusOk)
            return undoAll(status, false);
        taken.push_back(cluster);
    }
    if (WriteEntrySet(std::uint32_t(slot), n, static_cast<std::uint16_t>(cluster), name, shortText, kAttrArchive,
                      source.StoredBytes(), source.Created(), source.Accessed(), source.Written()) != 0)
        return undoAll(kStatusFolderError, true);

    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(clusters));
    bool cancelled = false;
    for (std::uint32_t k = 0; k < clusters; ++k) {
        std::memset(buffer.get(), 0xFF, cb);
        if (source.NextPiece(buffer.get(), nullptr) != kStatusOk)
            return fail(kStatusFileError);
        if (EngineStatus status = CardVolume.Medium().WriteCluster(cluster, buffer.get(), cb, 0xFF);
            status != kStatusOk)
            return fail(status);
        if (source.PieceStored()) {
            cancelled = true;
            break;
        }
        if (k + 1 < clusters) {
            std::uint32_t next = 0;
            if (EngineStatus status = CardVolume.Medium().TakeCluster(next, false); status != kStatusOk)
                return fail(status);
            taken.push_back(next);
            CardVolume.SetFatEntry(cluster, next);
            cluster = next;
        }
    }
    if (cancelled)
        return undoAll(kStatusOk, true);
    source.Close();
    NotifyProgressEnd();
    if (EngineStatus status = Commit(false); status != kStatusOk) {
        undoAll(status, false);
        WriteBack();
        return status;
    }
    return kStatusOk;
}

EngineStatus ExternalFolder::UploadFile(std::uint32_t id, const wchar_t* pcPath)
{
    Engine.CancelRequested = 0;
    if (!entries_)
        return kStatusStorageFull;
    if (!CardVolume.IsMounted() || CardVolume.IsSectorCard() != SectorCardModel() || ClusterBytes() == 0)
        return kStatusNoStorage;
    const std::int32_t slot = FindEntryById(id);
    if (slot < 0) {
        NotifyProgressEnd();
        return kStatusFolderError;
    }
    const FatShortEntry entry = entries_[slot].entry;
    if (entry.attributes & kAttrNotAFile)
        return kStatusFileError;
    const std::uint32_t cb = ClusterBytes();
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[cb]);
    if (!buffer)
        return kStatusStorageFull;
    PcSink sink;
    if (sink.Create(pcPath) != kStatusOk)
        return kStatusFileError;

    ScopedPipes bracket(PlayerPipes);
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>((std::uint64_t{entry.size} + cb - 1) / cb));
    // Whatever does not end with the whole file leaves no partial PC file behind.
    auto fail = [&](EngineStatus status) {
        sink.Discard();
        NotifyProgressEnd();
        return status;
    };
    ChainWalker walk(CardVolume);
    if (!walk.Ok())
        return fail(kStatusStorageFull);
    std::uint32_t remaining = entry.size;
    std::uint32_t cluster = id;
    walk.Start(cluster);
    while (remaining > 0) {
        if (EngineStatus status = CardVolume.Medium().ReadCluster(cluster, buffer.get()); status != kStatusOk)
            return fail(status);
        const std::uint32_t part = std::min(remaining, cb);
        if (!sink.Write(buffer.get(), part))
            return fail(kStatusFileError);
        remaining -= part;
        if (remaining == 0)
            break;
        // The chain must carry every cluster the size needs, each once.
        if (walk.Advance() != ChainStep::Next)
            return fail(kStatusFileError);
        cluster = walk.Cluster();
        if (Engine.CancelRequested)
            return fail(kStatusOk);
        NotifyProgress(kProgressStep, static_cast<std::int32_t>(cb));
    }
    if (sink.Finish() != kStatusOk)
        return fail(kStatusFileError);
    NotifyProgressEnd();
    return kStatusOk;
}

// ---- stream ----

std::uint32_t ExternalFolder::GetBlockBytes()
{
    return CardVolume.IsMounted() && CardVolume.IsSectorCard() == SectorCardModel() ? ClusterBytes() : 0;
}

std::uint32_t ExternalFolder::GetFileSize()
{
    return readSize_;
}

void ExternalFolder::EndStream(bool release)
{
    streamBracket_.reset();
    if (release) {
        if (!taken_.empty())
            ReleaseTaken(taken_, false);
        taken_.clear();
        clusterBuffer_.reset();
        streamWalk_.reset();
    }
}

EngineStatus ExternalFolder::FailStream(EngineStatus status)
{
    ReleaseTaken(taken_, status != kStatusUsbError);
    taken_.clear();
    streamFailed_ = true;
    NotifyProgressEnd();
    EndStream(false);
    return status;
}

EngineStatus ExternalFolder::OpenEntry()
{
    EndStream(true);
    streamFailed_ = false;
    readSize_ = 0;
    streamSize_ = 0;
    const std::uint32_t cb = GetBlockBytes();
    if (cb == 0)
        return kStatusNoStorage;
    if (!entries_)
        return kStatusStorageFull;
    if (!writeMode_) {
        clusterBuffer_.reset(new (std::nothrow) std::uint8_t[cb]);
        if (!clusterBuffer_)
            return kStatusStorageFull;
        const std::int32_t slot = FindEntryById(recordId_);
        if (slot < 0) {
            NotifyProgressEnd();
            clusterBuffer_.reset();
            return kStatusFolderError;
        }
        if (entries_[slot].entry.attributes & kAttrNotAFile) {
            clusterBuffer_.reset();
            return kStatusFileError;
        }
        readSize_ = entries_[slot].entry.size;
        blockCount_ =
            static_cast<std::uint16_t>(std::min<std::uint64_t>((std::uint64_t{readSize_} + cb - 1) / cb, 0xFFFF));
        streamWalk_.reset(new (std::nothrow) ChainWalker(CardVolume));
        if (!streamWalk_ || !streamWalk_->Ok()) {
            EndStream(true);
            return kStatusStorageFull;
        }
        streamBracket_.reset(new (std::nothrow) ScopedPipes(PlayerPipes));
        NotifyProgress(kProgressBegin, blockCount_);
        currentCluster_ = recordId_;
        streamWalk_->Start(currentCluster_);
        return kStatusOk;
    }

    if (EngineStatus status = CheckWritable(); status != kStatusOk)
        return status;
    clusterBuffer_.reset(new (std::nothrow) std::uint8_t[cb]);
    if (!clusterBuffer_)
        return kStatusStorageFull;
    const std::uint32_t n = EntryCountForName(name_.c_str());
    const std::int32_t slot = n == 0 ? -1 : FindFreeRun(n);
    if (slot < 0 || MakeShortName(name_.c_str(), shortName_, sizeof shortName_) != 0) {
        clusterBuffer_.reset();
        return kStatusFolderError;
    }
    entrySlot_ = std::uint32_t(slot);
    entryCount_ = n;
    attribute_ = kAttrArchive;
    if (CardVolume.FreeClusters() < 1) {
        clusterBuffer_.reset();
        return kStatusStorageFull;
    }
    streamBracket_.reset(new (std::nothrow) ScopedPipes(PlayerPipes));
    std::uint32_t cluster = 0;
    if (EngineStatus status = CardVolume.Medium().TakeCluster(cluster, true); status != kStatusOk) {
        EndStream(true);
        return status;
    }
    taken_.push_back(cluster);
    firstCluster_ = currentCluster_ = cluster;
    NotifyProgress(kProgressBegin, 0);
    std::memset(clusterBuffer_.get(), 0, cb);
    return kStatusOk;
}

EngineStatus ExternalFolder::ReadNextBlock()
{
    if (!open_ || streamFailed_ || !clusterBuffer_)
        return kStatusFileError;
    if (!writeMode_) {
        // Each cluster of the file once: a chain that comes back on itself ends the stream.
        if (!streamWalk_ || streamWalk_->Advance() != ChainStep::Next)
            return kStatusFileError;
        currentCluster_ = streamWalk_->Cluster();
        NotifyProgress(kProgressStep, static_cast<std::int32_t>(ClusterBytes()));
        return kStatusOk;
    }
    if (lastBlock_)
        return kStatusOk;
    std::uint32_t next = 0;
    if (EngineStatus status = CardVolume.Medium().TakeCluster(next, false); status != kStatusOk)
        return FailStream(status);
    taken_.push_back(next);
    CardVolume.SetFatEntry(currentCluster_, next);
    currentCluster_ = next;
    return kStatusOk;
}

EngineStatus ExternalFolder::WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes)
{
    if (!open_ || !writeMode_ || streamFailed_ || !clusterBuffer_ || buffer == nullptr)
        return kStatusFileError;
    const std::uint32_t cb = ClusterBytes();
    if (EngineStatus status = CardVolume.Medium().WriteCluster(currentCluster_, buffer, std::min(bytes, cb), 0);
        status != kStatusOk)
        return FailStream(status);
    NotifyProgress(kProgressStep, static_cast<std::int32_t>(cb));
    return kStatusOk;
}

EngineStatus ExternalFolder::ReadFirstBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out)
{
    if (!open_ || writeMode_ || streamFailed_ || !clusterBuffer_ || buffer == nullptr)
        return kStatusFileError;
    if (EngineStatus status = CardVolume.Medium().ReadCluster(currentCluster_, clusterBuffer_.get());
        status != kStatusOk) {
        streamFailed_ = true;
        NotifyProgressEnd();
        EndStream(false);
        return status;
    }
    std::memcpy(buffer, clusterBuffer_.get(), std::min(bytes, ClusterBytes()));
    if (out)
        *out = bytes;
    return kStatusOk;
}

EngineStatus ExternalFolder::CommitEntry()
{
    if (!open_)
        return kStatusFileError;
    if (streamFailed_) {
        EndStream(true);
        return kStatusUsbError;
    }
    NotifyProgressEnd();
    if (!writeMode_) {
        EndStream(true);
        return kStatusOk;
    }
    streamSize_ = transferred_;
    std::uint32_t first = firstCluster_;
    if (streamSize_ == 0) {
        // An empty file has no cluster.
        ReleaseTaken(taken_, true);
        taken_.clear();
        first = 0;
    }
    // Another operation may have used the slots reserved at the open.
    std::uint32_t slot = entrySlot_;
    bool stillFree = entrySlot_ + 1 >= entryCount_ && entrySlot_ < capacity_;
    for (std::uint32_t i = 0; stillFree && i < entryCount_; ++i) {
        const std::uint8_t b = entries_[entrySlot_ - i].raw[0];
        stillFree = b == kSlotFree || b == kSlotDeleted;
    }
    if (!stillFree || MakeShortName(name_.c_str(), shortName_, sizeof shortName_) != 0) {
        const std::int32_t run = FindFreeRun(entryCount_);
        if (run < 0 || MakeShortName(name_.c_str(), shortName_, sizeof shortName_) != 0)
            return FailStream(kStatusFolderError);
        slot = std::uint32_t(run);
    }
    const std::time_t now = std::time(nullptr);
    if (WriteEntrySet(slot, entryCount_, static_cast<std::uint16_t>(first), name_.c_str(), shortName_, attribute_,
                      streamSize_, now, now, now) != 0)
        return FailStream(kStatusFolderError);
    if (EngineStatus status = Commit(false); status != kStatusOk) {
        RemoveEntrySetAt(slot);
        FailStream(status);
        WriteBack();
        return status;
    }
    taken_.clear();
    EndStream(true);
    return kStatusOk;
}

}  // namespace engine
