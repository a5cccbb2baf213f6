#include "device/fs/card/external_folder.h"

#include "device/flash/card_spare.h"
#include "device/flash/card_translation.h"
#include "device/fs/card/card_volume.h"
#include "device/fs/engine_status.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace engine {

namespace {

// Deeper than any tree a player's menus reach; a ".." loop ends here too.
constexpr std::uint32_t kMaxTreeDepth = 64;

bool AllZero(const std::uint8_t* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] != 0)
            return false;
    }
    return true;
}

// A PC's delete leaves the entry set in place with 0xE5 in front; this system closes entries up
// instead. Dropping those slots on load keeps a deleted file out of walks, play positions and the
// slots an id names.
void DropDeletedSlots(FatDirSlot* entries, std::uint32_t count)
{
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (entries[i].raw[0] != kSlotDeleted)
            entries[kept++] = entries[i];
    }
    std::memset(entries + kept, 0, std::size_t{count - kept} * sizeof(FatDirSlot));
}

// Whether the slot after a folder's entries holds one: not free, and not the 0xFF fill that older
// software left in directory clusters past their entries.
bool SlotInUse(const std::uint8_t* slot)
{
    return slot[0] != kSlotFree &&
           !std::all_of(slot, slot + sizeof(FatDirSlot), [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

ExternalFolder::EntriesUndo::EntriesUndo(ExternalFolder& folder)
    : folder_(folder), copy_(new (std::nothrow) FatDirSlot[folder.capacity_])
{
    if (copy_ && folder_.entries_)
        std::memcpy(copy_.get(), folder_.entries_.get(), folder_.capacity_ * sizeof(FatDirSlot));
}

void ExternalFolder::EntriesUndo::Restore()
{
    if (copy_ && folder_.entries_)
        std::memcpy(folder_.entries_.get(), copy_.get(), folder_.capacity_ * sizeof(FatDirSlot));
}

ExternalFolder::ExternalFolder(std::uint32_t capacity, std::uint32_t folderId, std::uint32_t flagWord,
                               std::uint32_t rootFlag)
    : FatFolder(capacity, folderId, flagWord, rootFlag)
{}

ExternalFolder::~ExternalFolder()
{
    EndStream(true);
}

bool ExternalFolder::SectorCardModel()
{
    return Engine.ModelGroupFlag != 0;
}

std::uint32_t ExternalFolder::ClusterBytes()
{
    return std::uint32_t{CardVolume.card.sectorsPerBlock} * kCardSectorBytes;
}

EngineStatus ExternalFolder::CheckWritable()
{
    if (Engine.CardWriteProtect || CardVolume.WriteProtected())
        return kStatusWriteProtected;
    if (!CardVolume.IsMounted() || CardVolume.IsSectorCard() != SectorCardModel() || ClusterBytes() == 0)
        return kStatusNoStorage;
    return kStatusOk;
}

// ---- clusters ----

EngineStatus ExternalFolder::UnlinkChains(const std::vector<std::uint32_t>& firsts, std::vector<std::uint32_t>& freed)
{
    FatVolume& v = CardVolume;
    // Every chain is walked before any is changed, so a refused delete leaves the FAT as it was.
    std::vector<std::vector<std::uint32_t>> chains(firsts.size());
    for (std::size_t i = 0; i < firsts.size(); ++i) {
        if (EngineStatus status = ListChain(v, firsts[i], UINT32_MAX, chains[i]); status != kStatusOk)
            return status;
    }
    for (const std::vector<std::uint32_t>& chain : chains) {
        for (std::uint32_t cluster : chain) {
            if (v.GetFatEntry(cluster) == 0)
                break;  // not allocated: not this chain's to free
            v.SetFatEntry(cluster, 0);
            freed.push_back(cluster);
        }
    }
    return kStatusOk;
}

void ExternalFolder::ReleaseTaken(const std::vector<std::uint32_t>& taken, bool erase)
{
    FatVolume& v = CardVolume;
    for (std::uint32_t c : taken) {
        if (erase && CardVolume.Medium().EraseCluster(c) != kStatusOk)
            erase = false;
        v.SetFatEntry(c, 0);
    }
}

void ExternalFolder::WriteBack()
{
    ScopedPipes bracket(PlayerPipes);
    if (StoreDirectory(false) == kStatusOk)
        FlushVolume();
}

// ---- directories ----

EngineStatus ExternalFolder::Load()
{
    if (!entries_)
        return kStatusStorageFull;
    FatVolume& v = CardVolume;
    if (!v.IsMounted() || v.IsSectorCard() != SectorCardModel())
        return kStatusNoStorage;
    const std::size_t window = std::size_t{capacity_} * sizeof(FatDirSlot);
    std::memset(entries_.get(), 0, window);
    ScopedPipes bracket(PlayerPipes);
    longer_ = false;
    if (rootFlag_) {
        if (SectorCardModel() && v.LoadRootDirectory() != kStatusOk)
            return kStatusUsbError;
        std::memcpy(entries_.get(), v.Root().data(),
                    std::min<std::size_t>(window, std::size_t{v.RootSlots()} * sizeof(FatDirSlot)));
        longer_ = v.RootSlots() > capacity_ && SlotInUse(v.Root().data() + window);
        if (!longer_)
            DropDeletedSlots(entries_.get(), capacity_);
        return kStatusOk;
    }
    const std::uint32_t cb = ClusterBytes();
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[cb]);
    if (!buffer)
        return kStatusStorageFull;
    // The whole chain is checked, also past the clusters read here: a directory that comes back on
    // itself is damaged wherever the loop lies.
    std::vector<std::uint32_t> chain;
    if (EngineStatus status = ListChain(v, folderId_, UINT32_MAX, chain); status != kStatusOk)
        return status;
    auto* bytes = reinterpret_cast<std::uint8_t*>(entries_.get());
    std::uint32_t cluster = folderId_;
    for (std::size_t at = 0, k = 0; at < window; at += cb, ++k) {
        if (EngineStatus status = CardVolume.Medium().ReadCluster(cluster, buffer.get()); status != kStatusOk)
            return status;
        const std::size_t part = std::min<std::size_t>(cb, window - at);
        std::memcpy(bytes + at, buffer.get(), part);
        if (part < cb) {
            longer_ = SlotInUse(buffer.get() + part);
            break;
        }
        if (k + 1 >= chain.size())
            break;  // the entries past the chain read as free
        cluster = chain[k + 1];
        if (at + cb >= window) {
            // The chain goes on past the entries held here: is the directory longer? A cluster that
            // cannot be read leaves the directory as it stands.
            longer_ = CardVolume.Medium().ReadCluster(cluster, buffer.get()) != kStatusOk || SlotInUse(buffer.get());
        }
    }
    // A directory begins with its own "." entry: clusters of a folder that was deleted (by another
    // program, or another object) and taken for something else are not written as this folder's.
    const FatShortEntry& self = entries_[0].entry;
    if (std::memcmp(entries_[0].raw, ".          ", 11) != 0 || (self.attributes & kAttrDirectory) == 0 ||
        self.firstCluster != folderId_) {
        std::memset(entries_.get(), 0, window);
        return kStatusFolderError;
    }
    if (!longer_)
        DropDeletedSlots(entries_.get(), capacity_);
    return kStatusOk;
}

EngineStatus ExternalFolder::StoreDirectory(bool fresh)
{
    if (longer_)
        return kStatusFolderError;
    FatVolume& v = CardVolume;
    const std::size_t window = std::size_t{capacity_} * sizeof(FatDirSlot);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(entries_.get());
    if (rootFlag_) {
        std::memcpy(v.RootSlotsPtr(), bytes,
                    std::min<std::size_t>(window, std::size_t{v.RootSlots()} * sizeof(FatDirSlot)));
        return kStatusOk;
    }
    const std::uint32_t cb = ClusterBytes();
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[cb]);
    if (!buffer)
        return kStatusStorageFull;
    ChainWalker walk(v);
    if (!walk.Ok())
        return kStatusStorageFull;
    std::uint32_t cluster = folderId_;
    std::uint32_t previous = 0;
    walk.Start(cluster);
    for (std::size_t at = 0; at < window; at += cb) {
        const std::uint32_t part = static_cast<std::uint32_t>(std::min<std::size_t>(cb, window - at));
        bool newCluster = fresh;
        if (cluster == 0) {
            // The chain ends before the entries do: it grows only for entries that are in use.
            if (AllZero(bytes + at, window - at))
                break;
            if (EngineStatus status = CardVolume.Medium().TakeCluster(cluster, false); status != kStatusOk)
                return status;
            v.SetFatEntry(previous, cluster);
            newCluster = true;
        }
        // Directory space past the entries reads as free; on a longer cluster of an existing directory
        // whatever lies there is kept.
        std::memset(buffer.get(), 0, cb);
        if (!newCluster && part < cb) {
            if (EngineStatus status = CardVolume.Medium().ReadCluster(cluster, buffer.get()); status != kStatusOk)
                return status;
        }
        std::memcpy(buffer.get(), bytes + at, part);
        if (EngineStatus status = CardVolume.Medium().WriteCluster(cluster, buffer.get(), cb, 0); status != kStatusOk)
            return status;
        previous = cluster;
        if (at + cb >= window)
            break;
        // From the cluster just written (perhaps taken to grow the chain), each cluster once.
        std::uint32_t next = 0;
        switch (FollowChain(v.GetFatEntry(cluster), v.FatType(), v.MaxCluster(), next)) {
        case ChainStep::Next:
            if (!walk.Mark(next))
                return kStatusFileError;
            cluster = fresh ? 0 : next;
            break;
        case ChainStep::End:
            cluster = 0;
            break;
        case ChainStep::Broken:
        case ChainStep::Loop:
            return kStatusFolderError;
        }
    }
    return kStatusOk;
}

EngineStatus ExternalFolder::FlushVolume(bool freeing)
{
    return CardVolume.Flush(freeing);
}

EngineStatus ExternalFolder::Commit(bool freeing)
{
    if (longer_)
        return kStatusFolderError;  // before anything is flushed
    ScopedPipes bracket(PlayerPipes);
    if (rootFlag_) {
        StoreDirectory(false);
        // The root lets go of freed clusters before the FAT does, so a cut between leaves lost clusters
        // rather than an entry on free ones.
        return FlushVolume(freeing);
    }
    if (freeing) {
        if (EngineStatus status = StoreDirectory(false); status != kStatusOk)
            return status;
        return FlushVolume();
    }
    // Clusters are allocated on the card before an entry refers to them.
    if (EngineStatus status = FlushVolume(); status != kStatusOk)
        return status;
    const std::uint32_t freeBefore = CardVolume.FreeClusters();
    if (EngineStatus status = StoreDirectory(false); status != kStatusOk)
        return status;
    return CardVolume.FreeClusters() != freeBefore ? FlushVolume() : kStatusOk;
}

EngineStatus ExternalFolder::WriteNewDirectory()
{
    if (!entries_)
        return kStatusStorageFull;
    if (rootFlag_)
        return kStatusOk;
    if (EngineStatus status = CheckWritable(); status != kStatusOk)
        return status;
    ScopedPipes bracket(PlayerPipes);
    CardVolume.SetFatEntry(folderId_, EndOfChainMark(CardVolume.FatType()));
    if (EngineStatus status = StoreDirectory(true); status != kStatusOk)
        return status;
    return FlushVolume();
}

EngineStatus ExternalFolder::RewriteDirectory()
{
    if (!entries_)
        return kStatusStorageFull;
    if (!CardVolume.IsMounted() || CardVolume.IsSectorCard() != SectorCardModel())
        return kStatusNoStorage;
    ScopedPipes bracket(PlayerPipes);
    if (rootFlag_)
        return Commit(true);
    const std::uint32_t freeBefore = CardVolume.FreeClusters();
    if (EngineStatus status = StoreDirectory(false); status != kStatusOk)
        return status;
    return CardVolume.FreeClusters() != freeBefore ? FlushVolume() : kStatusOk;
}

EngineStatus ExternalFolder::CreateSubfolder(const wchar_t* name, std::uint32_t* newId)
{
    if (EngineStatus status = CheckWritable(); status != kStatusOk)
        return status;
    if (!entries_)
        return kStatusStorageFull;
    if (CardVolume.FreeClusters() < 1)
        return kStatusStorageFull;
    const std::uint32_t n = EntryCountForName(name);
    const std::int32_t slot = n == 0 ? -1 : FindFreeRun(n);
    char shortText[kShortTextBytes];
    if (slot < 0 || MakeShortName(name, shortText, sizeof shortText) != 0)
        return kStatusFolderError;

    VolumeSnapshot snapshot(CardVolume);
    if (!snapshot.Ok())
        return kStatusStorageFull;
    ScopedPipes bracket(PlayerPipes);
    std::uint32_t cluster = 0;
    if (EngineStatus status = CardVolume.Medium().TakeCluster(cluster, true); status != kStatusOk) {
        snapshot.Restore();
        return status;
    }
    std::unique_ptr<ExternalFolder> child(new (std::nothrow) ExternalFolder(kCardRootSlots, cluster, 1, 0));
    if (!child || !child->Entries()) {
        snapshot.Restore();
        return kStatusStorageFull;
    }
    const std::time_t now = std::time(nullptr);
    // FAT gives ".." of a folder in the root cluster 0.
    child->InitDirectory(static_cast<std::uint16_t>(cluster), static_cast<std::uint16_t>(rootFlag_ ? 0 : folderId_),
                         now, name);
    EngineStatus status = child->StoreDirectory(true);
    if (status == kStatusOk && WriteEntrySet(std::uint32_t(slot), n, static_cast<std::uint16_t>(cluster), name,
                                             shortText, kAttrDirectory, 0, now, now, now) != 0)
        status = kStatusFolderError;
    if (status == kStatusOk) {
        status = Commit(false);
        if (status != kStatusOk) {
            RemoveEntrySetAt(std::uint32_t(slot));
            snapshot.Restore();
            WriteBack();
            return status;
        }
    }
    if (status != kStatusOk) {
        snapshot.Restore();
        if (rootFlag_)
            StoreDirectory(false);
        return status;
    }
    if (newId)
        *newId = cluster;
    return kStatusOk;
}

EngineStatus ExternalFolder::RenameEntry(std::uint32_t id, const wchar_t* newName, std::uint32_t innerFlag)
{
    if (EngineStatus status = CheckWritable(); status != kStatusOk)
        return status;
    if (!entries_)
        return kStatusStorageFull;
    EntriesUndo undo(*this);
    if (!undo.Ok())
        return kStatusStorageFull;
    FatDirSlot old{};
    if (RenameEntrySet(id, newName, &old) != kStatusOk)
        return kStatusFolderError;

    ScopedPipes bracket(PlayerPipes);
    auto undoRename = [&](EngineStatus status) {
        undo.Restore();
        WriteBack();
        return status;
    };
    if (EngineStatus status = RewriteDirectory(); status != kStatusOk)
        return undoRename(status);
    if (innerFlag == 0 && old.entry.attributes == kAttrDirectory) {
        // The folder's own name entry inside its directory follows; a folder made elsewhere has none.
        std::unique_ptr<ExternalFolder> inner(new (std::nothrow) ExternalFolder(kCardRootSlots, id, 1, 0));
        if (!inner || !inner->Entries())
            return undoRename(kStatusStorageFull);
        if (inner->Load() == kStatusOk && inner->FindEntryById(id) >= 0) {
            // A transfer failure takes the rename back; an inner directory with no room for the longer
            // name keeps the old one there.
            if (EngineStatus status = inner->RenameEntry(id, newName, 1); status == kStatusUsbError)
                return undoRename(status);
        }
    }
    return kStatusOk;
}

EngineStatus ExternalFolder::CollectTree(std::uint32_t folder, std::uint32_t depth, std::vector<std::uint32_t>& folders,
                                         std::vector<std::uint32_t>& chains)
{
    if (depth > kMaxTreeDepth)
        return kStatusFolderError;
    if (std::find(folders.begin(), folders.end(), folder) != folders.end())
        return kStatusOk;  // a loop of folders: each is taken once
    folders.push_back(folder);
    chains.push_back(folder);
    std::unique_ptr<ExternalFolder> dir(new (std::nothrow) ExternalFolder(kCardRootSlots, folder, 1, 0));
    if (!dir || !dir->Entries())
        return kStatusStorageFull;
    if (EngineStatus status = dir->Load(); status != kStatusOk)
        return static_cast<EngineStatus>(status);
    if (dir->longer_)
        return kStatusFolderError;  // the files past its entries would stay allocated
    const FatDirSlot* e = dir->Entries();
    for (std::uint32_t i = 0; i < dir->Capacity(); ++i) {
        const FatDirSlot& s = e[i];
        if (s.raw[0] == kSlotFree || s.raw[0] == kSlotDeleted || s.raw[0] == '.' || s.raw[11] == kAttrLongName)
            continue;
        const std::uint32_t id = s.entry.firstCluster;
        if (id == 0 || id == folder || (s.entry.attributes & 0x08))
            continue;  // empty files, the folder's own name entry, labels
        if (s.entry.attributes & kAttrDirectory) {
            if (EngineStatus status = CollectTree(id, depth + 1, folders, chains); status != kStatusOk)
                return status;
        } else {
            chains.push_back(id);
        }
    }
    return kStatusOk;
}

EngineStatus ExternalFolder::DeleteFile(std::uint32_t id)
{
    if (EngineStatus status = CheckWritable(); status != kStatusOk)
        return status;
    if (!entries_)
        return kStatusStorageFull;
    const std::int32_t slot = FindEntryById(id);
    if (slot < 0) {
        NotifyProgressEnd();
        return kStatusFolderError;
    }
    const FatShortEntry entry = entries_[slot].entry;
    if (entry.attributes & 0x08) {
        NotifyProgressEnd();
        return kStatusFileError;
    }
    VolumeSnapshot snapshot(CardVolume);
    EntriesUndo undo(*this);
    if (!snapshot.Ok() || !undo.Ok())
        return kStatusStorageFull;
    auto fail = [&](EngineStatus status) {
        snapshot.Restore();
        undo.Restore();
        NotifyProgressEnd();
        return status;
    };

    ScopedPipes bracket(PlayerPipes);
    // A folder goes with everything below it, so nothing it held stays allocated.
    std::vector<std::uint32_t> chains;
    if ((entry.attributes & kAttrDirectory) && id >= 2) {
        std::vector<std::uint32_t> folders;
        if (EngineStatus status = CollectTree(id, 0, folders, chains); status != kStatusOk)
            return fail(status);
    } else if (id != 0) {
        chains.push_back(id);
    }
    std::vector<std::uint32_t> freed;
    if (EngineStatus status = UnlinkChains(chains, freed); status != kStatusOk)
        return fail(status);
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(freed.size()));
    RemoveEntrySetAt(std::uint32_t(slot));
    if (EngineStatus status = Commit(true); status != kStatusOk) {
        const EngineStatus result = fail(status);
        WriteBack();
        return result;
    }
    // The blocks are erased only once no entry refers to them, so a cut before that loses nothing;
    // a block left behind is erased when its cluster is taken again.
    for (std::uint32_t c : freed) {
        if (CardVolume.Medium().EraseCluster(c) != kStatusOk)
            break;
        NotifyProgress(kProgressStep, static_cast<std::int32_t>(ClusterBytes()));
    }
    NotifyProgressEnd();
    return kStatusOk;
}

bool ExternalFolder::ShortNameTaken(const FatDirSlot& entry, std::uint32_t except) const
{
    for (std::uint32_t i = 0; i < capacity_; ++i) {
        const FatDirSlot& s = entries_[i];
        if (i != except && s.raw[0] != kSlotFree && s.raw[0] != kSlotDeleted && s.raw[11] != kAttrLongName &&
            std::memcmp(s.raw, entry.raw, 11) == 0)
            return true;
    }
    return false;
}

std::int64_t ExternalFolder::ReadParentId(std::uint32_t folder, EngineStatus& status)
{
    std::unique_ptr<ExternalFolder> dir(new (std::nothrow) ExternalFolder(kCardRootSlots, folder, 1, 0));
    status = dir && dir->Entries() ? dir->Load() : kStatusStorageFull;
    return status == kStatusOk ? dir->ParentId() : -1;
}

EngineStatus ExternalFolder::MoveEntry(std::uint32_t sourceFolderId, std::uint32_t sourceRootFlag, std::uint32_t id)
{
    if (EngineStatus status = CheckWritable(); status != kStatusOk)
        return status;
    if (!entries_)
        return kStatusStorageFull;
    if ((sourceRootFlag && rootFlag_) || (!sourceRootFlag && !rootFlag_ && sourceFolderId == folderId_))
        return kStatusFolderError;  // the same folder
    std::unique_ptr<ExternalFolder> source(
        new (std::nothrow) ExternalFolder(kCardRootSlots, sourceFolderId, 1, sourceRootFlag ? 1 : 0));
    if (!source || !source->Entries())
        return kStatusStorageFull;
    ScopedPipes bracket(PlayerPipes);
    if (EngineStatus status = source->Load(); status != kStatusOk)
        return status;
    const std::int32_t sourceSlot = source->FindEntryById(id);
    if (sourceSlot < 0)
        return kStatusFolderError;
    const bool folder = (source->Entries()[sourceSlot].entry.attributes & kAttrDirectory) != 0 && id >= 2;
    // A folder never goes into itself or below itself.
    // A folder whose parent cannot be read counts as below it; a read that failed is reported as such.
    EngineStatus walkStatus = kStatusOk;
    if (folder && LiesWithin(id, [&walkStatus](std::uint32_t f) {
            EngineStatus status = kStatusOk;
            const std::int64_t parent = ReadParentId(f, status);
            if (walkStatus == kStatusOk)
                walkStatus = status;
            return parent;
        }))
        return walkStatus != kStatusOk ? walkStatus : kStatusFolderError;

    EntriesUndo undo(*this);
    if (!undo.Ok())
        return kStatusStorageFull;
    // The set found above is the one copied: a lookup of id 0 in a subfolder of the root would
    // otherwise find "..".
    const std::uint32_t setStart = EntrySetStart(source->Entries(), std::uint32_t(sourceSlot));
    const std::uint32_t setCount = std::uint32_t(sourceSlot) - setStart + 1;
    const FatDirSlot moving = source->Entries()[sourceSlot];
    if (!ShortNameTaken(moving)) {
        const std::int32_t run = FindFreeRun(setCount);
        if (run < 0)
            return kStatusFolderError;
        std::memcpy(&entries_[std::uint32_t(run) + 1 - setCount], &source->Entries()[setStart],
                    setCount * sizeof(FatDirSlot));
    } else {
        // No two entries of a folder share a short name: the entry comes in under a new one, keeping
        // its long name, id, size and times. A name whose short form is the name itself is refused,
        // since the folder holds that name already.
        wchar_t name[kMaxLongEntries * kLongEntryChars + 1];
        ReadEntrySetName(source->Entries(), setStart, std::uint32_t(sourceSlot), name,
                         kMaxLongEntries * kLongEntryChars + 1);
        const std::uint32_t count = EntryCountForName(name);
        const std::int32_t run = FindFreeRun(count);
        char shortText[kShortTextBytes];
        if (run < 0 || MakeShortName(name, shortText, sizeof shortText) != 0 ||
            WriteRenamedEntrySet(std::uint32_t(run), count, name, shortText, moving) != 0 ||
            ShortNameTaken(entries_[run], std::uint32_t(run))) {
            undo.Restore();
            return kStatusFolderError;
        }
        FatShortEntry& e = entries_[run].entry;
        e.accessDate = moving.entry.accessDate;
        e.writeDate = moving.entry.writeDate;
        e.writeTime = moving.entry.writeTime;
    }

    // ".." follows the folder. The entry is written into this folder before it leaves the source, so a
    // failure on the way loses nothing.
    std::unique_ptr<ExternalFolder> moved;
    std::int64_t oldParent = -1;
    if (folder) {
        moved.reset(new (std::nothrow) ExternalFolder(kCardRootSlots, id, 1, 0));
        if (!moved || !moved->Entries()) {
            undo.Restore();
            return kStatusStorageFull;
        }
        // A folder without ".." (made elsewhere) has nothing to follow; one that cannot be read stops
        // the move.
        if (EngineStatus status = moved->Load(); status != kStatusOk) {
            undo.Restore();
            return status;
        }
        if ((oldParent = moved->ParentId()) >= 0) {
            moved->SetParentId(static_cast<std::uint16_t>(rootFlag_ ? 0 : folderId_));
            if (EngineStatus status = moved->StoreDirectory(false); status != kStatusOk) {
                undo.Restore();
                moved->SetParentId(static_cast<std::uint16_t>(oldParent));
                moved->StoreDirectory(false);
                return status;
            }
        }
    }
    auto undoParent = [&] {
        if (moved && oldParent >= 0) {
            moved->SetParentId(static_cast<std::uint16_t>(oldParent));
            moved->StoreDirectory(false);
        }
    };
    if (EngineStatus status = RewriteDirectory(); status != kStatusOk) {
        undo.Restore();
        WriteBack();
        undoParent();
        return status;
    }
    std::unique_ptr<FatDirSlot[]> sourceUndo(new (std::nothrow) FatDirSlot[source->Capacity()]);
    if (!sourceUndo) {
        undo.Restore();
        WriteBack();
        undoParent();
        return kStatusStorageFull;
    }
    std::memcpy(sourceUndo.get(), source->Entries(), source->Capacity() * sizeof(FatDirSlot));
    source->RemoveEntrySetAt(std::uint32_t(sourceSlot));
    if (EngineStatus status = source->RewriteDirectory(); status != kStatusOk) {
        // Back as it was: the source keeps the entry, this folder drops its copy.
        std::memcpy(source->Entries(), sourceUndo.get(), source->Capacity() * sizeof(FatDirSlot));
        source->WriteBack();
        undo.Restore();
        WriteBack();
        undoParent();
        return status;
    }
    return kStatusOk;
}

EngineStatus ExternalFolder::SetPlayIndex(std::uint32_t id, std::uint32_t position)
{
    if (EngineStatus status = CheckWritable(); status != kStatusOk)
        return status;
    if (!entries_)
        return kStatusStorageFull;
    EntriesUndo undo(*this);
    if (!undo.Ok())
        return kStatusStorageFull;
    // The entry is found as every lookup by id finds it ("." and ".." never match), and nothing goes in
    // front of a subfolder's "." and "..".
    const std::int32_t slot = FindEntryById(id);
    if (slot < 0 || (!rootFlag_ && position < 2) || position > std::uint32_t(INT32_MAX))
        return kStatusFolderError;
    std::int32_t from = 0;
    for (std::int32_t i = 0; i < slot; ++i)
        from += IsVisible(std::uint32_t(i)) ? 1 : 0;
    if (MoveToPosition(from, std::int32_t(position)) != kStatusOk)
        return kStatusFolderError;
    if (EngineStatus status = RewriteDirectory(); status != kStatusOk) {
        undo.Restore();
        WriteBack();
        return status;
    }
    return kStatusOk;
}

}  // namespace engine
