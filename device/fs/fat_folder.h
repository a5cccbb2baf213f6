// The folder object of the folder-object models: one folder's directory entries held in memory, its
// walk into DirRecords, entry-set editing and reordering, and the ten storage operations that each
// kind of storage (internal memory, memory card) implements.
#pragma once

// windows.h comes first so that the DeleteFile member below carries the same (macro) name in every
// file that sees this class.
#include <windows.h>

#include "device/fs/dir_record.h"
#include "device/fs/engine_status.h"
#include "device/fs/fat_entry.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>

namespace engine {

class FatFolder {
public:
    // Allocates and zeroes the entry buffer and the scratch buffer of `capacity` slots each; when that
    // fails, the capacity reads 0. A root folder always has folder id 1.
    FatFolder(std::uint32_t capacity, std::uint32_t folderId, std::uint32_t flagWord, std::uint32_t rootFlag);
    virtual ~FatFolder();
    FatFolder(const FatFolder&) = delete;
    FatFolder& operator=(const FatFolder&) = delete;

    // Storage operations, each returning an engine status.
    virtual EngineStatus Load() = 0;
    virtual EngineStatus WriteNewDirectory() = 0;
    virtual EngineStatus RewriteDirectory() = 0;
    virtual EngineStatus CreateSubfolder(const wchar_t* name, std::uint32_t* newId) = 0;
    virtual EngineStatus RenameEntry(std::uint32_t id, const wchar_t* newName, std::uint32_t innerFlag) = 0;
    virtual EngineStatus DeleteFile(std::uint32_t id) = 0;
    virtual EngineStatus DownloadFile(const wchar_t* pcPath) = 0;
    virtual EngineStatus UploadFile(std::uint32_t id, const wchar_t* pcPath) = 0;
    // Called on the target folder: moves an entry set of another folder into this one.
    virtual EngineStatus MoveEntry(std::uint32_t sourceFolderId, std::uint32_t sourceRootFlag, std::uint32_t id) = 0;
    virtual EngineStatus SetPlayIndex(std::uint32_t id, std::uint32_t position) = 0;

    // Walk of the visible entries (first byte not 0, attribute not 0x0F; deleted entries included):
    // 0 with the record filled, -1 at the end.
    std::int32_t FindFirst(DirRecord* record);
    std::int32_t FindNext(DirRecord* record);

    // Last slot of the first run of `count` free or deleted slots, or -1.
    std::int32_t FindFreeRun(std::uint32_t count) const;
    // Slots for a name; 0 (no run will be found) for a name of more than 255 characters.
    std::uint32_t EntryCountForName(const wchar_t* name) const;
    // Short name text NAME.EXT with a tail unique in this folder; kStatusOk, or kStatusFolderError when
    // none is left.
    EngineStatus MakeShortName(const wchar_t* name, char* out, std::uint32_t outSize) const;

    // The short entry at `index` and count - 1 long-name entries before it; kStatusOk, or
    // kStatusFolderError (nothing written) when the set does not fit or the long name has more than 255
    // characters.
    EngineStatus WriteEntrySet(std::uint32_t index, std::uint32_t count, std::uint16_t firstCluster,
                               const wchar_t* longName, const char* shortText, std::uint8_t attributes,
                               std::uint32_t size, std::time_t created, std::time_t accessed, std::time_t written);
    // Slots 0 and 1 become "." and ".." of a new folder; with a name, the folder's own name entry is
    // added where there is room (left out silently when there is none).
    void InitDirectory(std::uint16_t firstCluster, std::uint16_t parentCluster, std::time_t time, const wchar_t* name);
    // The entry set of an existing entry under a new name: the old short entry with new name bytes and
    // access and write times of now. kStatusOk, or kStatusFolderError as WriteEntrySet.
    EngineStatus WriteRenamedEntrySet(std::uint32_t index, std::uint32_t count, const wchar_t* longName,
                                      const char* shortText, const FatDirSlot& oldEntry);

    // A copy of the entry set of the visible entry with that first cluster: kStatusOk (count 0 when
    // none matches), or kStatusStorageFull when the copy could not be allocated.
    EngineStatus CopyEntrySetById(std::uint32_t id, std::uint32_t* count, std::unique_ptr<FatDirSlot[]>* buffer) const;
    // kStatusOk with the set's first slot and slot count when the visible entry at that position exists,
    // else kStatusFolderError.
    EngineStatus FindEntrySetByPosition(std::int32_t position, std::uint32_t* firstSlot,
                                        std::uint32_t* slotCount) const;
    // Position of the first visible entry with that first cluster, or -1.
    std::int32_t GetEntryOrdinal(std::uint32_t id) const;
    // Takes the entry set out and moves the later slots up; kStatusOk, or kStatusFolderError when no
    // entry has that first cluster.
    EngineStatus RemoveEntrySetById(std::uint32_t id);
    // Moves the entry at position `from` to position `to`, packing the sets from slot 0; kStatusOk, or
    // kStatusFolderError (entries unchanged) when a position lies outside the visible entries.
    EngineStatus MoveToPosition(std::int32_t from, std::int32_t to);

    // The editing steps that every store's operations share.
    // Slot of the short entry of the live entry with that first cluster, searching from `from`; free,
    // deleted and long-name slots and the "." and ".." entries never match. -1 when none does.
    std::int32_t FindEntryById(std::uint32_t id, std::uint32_t from = 0) const;
    // Takes out the entry set whose short entry is at `slot`; later slots move up, the freed tail is zeroed.
    void RemoveEntrySetAt(std::uint32_t slot);
    // Gives the entry with that id a new name in a free run: kStatusOk with *oldEntry the former short
    // slot, or kStatusFolderError with the entries unchanged when no entry has that id, the name does
    // not fit or no short name is left.
    EngineStatus RenameEntrySet(std::uint32_t id, const wchar_t* newName, FatDirSlot* oldEntry);
    // Play order: the entry with that id goes to `position` among the visible entries; kStatusOk, or
    // kStatusFolderError when there is no such entry or position.
    EngineStatus ReorderEntry(std::uint32_t id, std::uint32_t position);
    // Copies the entry set of `id` in `source` into the first free run of this folder: kStatusOk,
    // kStatusFolderError when the source has no such entry or this folder no room, kStatusStorageFull
    // when no memory.
    EngineStatus CopyEntrySetFrom(const FatFolder& source, std::uint32_t id);
    // The parent id in this folder's ".." entry (0 for a folder in the root), or -1 when there is none.
    std::int64_t ParentId() const;
    // Points this folder's ".." entry at another parent; false when the folder has no ".." entry.
    bool SetParentId(std::uint16_t parentId);
    // Whether this folder is the folder `id` or lies below it. parentOf reads a subfolder's parent id
    // (as ParentId does) from the store; a parent that cannot be read or a walk deeper than any real
    // tree counts as "within", so a caller refusing moves into a subtree stays on the safe side.
    bool LiesWithin(std::uint32_t id, const std::function<std::int64_t(std::uint32_t)>& parentOf) const;

    FatDirSlot* Entries() { return entries_.get(); }
    const FatDirSlot* Entries() const { return entries_.get(); }
    std::uint32_t Capacity() const { return capacity_; }
    std::uint32_t FolderId() const { return folderId_; }
    std::uint32_t RootFlag() const { return rootFlag_; }

protected:
    bool IsVisible(std::uint32_t slot) const;
    std::uint32_t CountVisible() const;
    std::int32_t NextVisible(std::uint32_t from) const;
    void FillRecord(std::uint32_t slot, DirRecord* record) const;

    std::unique_ptr<FatDirSlot[]> entries_;
    std::unique_ptr<FatDirSlot[]> scratch_;  // reorder work area
    std::uint32_t capacity_ = 0;
    std::uint32_t rootFlag_ = 0;
    std::uint32_t flagWord_ = 0;
    std::uint32_t folderId_ = 0;
    std::uint32_t visibleCount_ = 0;
    std::uint32_t returnedCount_ = 0;
    std::uint32_t lastIndex_ = 0;
};

}  // namespace engine
