#include "device/fs/fat_folder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace engine {

namespace {

constexpr std::uint32_t kNameChars = kMaxLongEntries * kLongEntryChars + 1;
constexpr std::uint32_t kAnsiNameBytes = 1024;

}  // namespace

FatFolder::FatFolder(std::uint32_t capacity, std::uint32_t folderId, std::uint32_t flagWord, std::uint32_t rootFlag)
    : rootFlag_(rootFlag), flagWord_(flagWord), folderId_(rootFlag ? 1 : folderId)
{
    if (capacity == 0)
        return;
    entries_.reset(new (std::nothrow) FatDirSlot[capacity]());
    scratch_.reset(new (std::nothrow) FatDirSlot[capacity]());
    if (entries_ && scratch_) {
        capacity_ = capacity;
    } else {
        entries_.reset();
        scratch_.reset();
    }
}

FatFolder::~FatFolder() = default;

bool FatFolder::IsVisible(std::uint32_t slot) const
{
    const FatDirSlot& s = entries_[slot];
    return s.raw[0] != kSlotFree && s.raw[11] != kAttrLongName;
}

std::uint32_t FatFolder::CountVisible() const
{
    std::uint32_t visible = 0;
    for (std::uint32_t i = 0; i < capacity_; ++i)
        visible += IsVisible(i) ? 1 : 0;
    return visible;
}

std::int32_t FatFolder::NextVisible(std::uint32_t from) const
{
    for (std::uint32_t i = from; i < capacity_; ++i) {
        if (IsVisible(i))
            return std::int32_t(i);
    }
    return -1;
}

void FatFolder::FillRecord(std::uint32_t slot, DirRecord* record) const
{
    wchar_t name[kNameChars];
    ReadEntrySetName(entries_.get(), EntrySetStart(entries_.get(), slot), slot, name, kNameChars);
    std::memset(record->name, 0, sizeof record->name);
    std::memcpy(record->name, name, (std::wcslen(name) + 1) * sizeof(wchar_t));

    const FatShortEntry& e = entries_[slot].entry;
    record->attributes = e.attributes;
    record->reserved = e.reserved;
    record->createTenths = e.createTenths;
    record->createTime = e.createTime;
    record->createDate = e.createDate;
    record->accessDate = e.accessDate;
    record->firstClusterHigh = e.firstClusterHigh;
    record->writeTime = e.writeTime;
    record->writeDate = e.writeDate;
    record->firstCluster = e.firstCluster;
    record->size = e.size;
}

std::int32_t FatFolder::FindFirst(DirRecord* record)
{
    visibleCount_ = CountVisible();
    returnedCount_ = 0;
    lastIndex_ = 0;
    const std::int32_t slot = NextVisible(0);
    if (slot < 0 || record == nullptr)
        return -1;
    FillRecord(std::uint32_t(slot), record);
    lastIndex_ = std::uint32_t(slot);
    ++returnedCount_;
    return 0;
}

std::int32_t FatFolder::FindNext(DirRecord* record)
{
    if (returnedCount_ >= visibleCount_ || record == nullptr)
        return -1;
    const std::int32_t slot = NextVisible(lastIndex_ + 1);
    if (slot < 0)
        return -1;
    FillRecord(std::uint32_t(slot), record);
    lastIndex_ = std::uint32_t(slot);
    ++returnedCount_;
    return 0;
}

std::int32_t FatFolder::FindFreeRun(std::uint32_t count) const
{
    return FindFreeEntryRun(count, entries_.get(), capacity_);
}

std::uint32_t FatFolder::EntryCountForName(const wchar_t* name) const
{
    return EntryCountForWideName(name);
}

EngineStatus FatFolder::MakeShortName(const wchar_t* name, char* out, std::uint32_t outSize) const
{
    char ansi[kAnsiNameBytes];
    if (name == nullptr || (WideToAnsi(name, ansi, sizeof ansi) == 0 && name[0] != L'\0')) {
        if (out != nullptr && outSize > 0)
            out[0] = '\0';
        return kStatusFolderError;
    }
    return engine::MakeShortName(ansi, out, outSize, entries_.get(), capacity_);
}

EngineStatus FatFolder::WriteEntrySet(std::uint32_t index, std::uint32_t count, std::uint16_t firstCluster,
                                      const wchar_t* longName, const char* shortText, std::uint8_t attributes,
                                      std::uint32_t size, std::time_t created, std::time_t accessed,
                                      std::time_t written)
{
    return WriteEntrySetAt(entries_.get(), capacity_, index, count, firstCluster, 0, longName, shortText, attributes,
                           size, created, accessed, written);
}

void FatFolder::InitDirectory(std::uint16_t firstCluster, std::uint16_t parentCluster, std::time_t time,
                              const wchar_t* name)
{
    if (capacity_ < 2)
        return;
    for (std::uint32_t slot = 0; slot < 2; ++slot) {
        FatShortEntry& e = entries_[slot].entry;
        std::memset(&entries_[slot], 0, sizeof(FatDirSlot));
        std::memset(e.name, ' ', sizeof e.name);
        std::memset(e.extension, ' ', sizeof e.extension);
        e.name[0] = '.';
        if (slot == 1)
            e.name[1] = '.';
        e.attributes = kAttrDirectory;
        StoreEntryTimes(e, time, time, time);
        e.firstCluster = slot == 0 ? firstCluster : parentCluster;
        e.firstClusterHigh = 0;
    }

    if (name == nullptr)
        return;
    const std::int32_t run = FindFreeRun(EntryCountForName(name));
    char shortText[kShortTextBytes];
    if (run < 0 || MakeShortName(name, shortText, sizeof shortText) != 0)
        return;
    WriteEntrySet(std::uint32_t(run), EntryCountForName(name), firstCluster, name, shortText, kAttrFolderSelf, 0, time,
                  time, time);
}

EngineStatus FatFolder::WriteRenamedEntrySet(std::uint32_t index, std::uint32_t count, const wchar_t* longName,
                                             const char* shortText, const FatDirSlot& oldEntry)
{
    return WriteRenamedEntrySetAt(entries_.get(), capacity_, index, count, longName, shortText, oldEntry);
}

EngineStatus FatFolder::CopyEntrySetById(std::uint32_t id, std::uint32_t* count,
                                         std::unique_ptr<FatDirSlot[]>* buffer) const
{
    if (count == nullptr || buffer == nullptr)
        return kStatusFolderError;
    *count = 0;
    for (std::uint32_t slot = 0; slot < capacity_; ++slot) {
        if (!IsVisible(slot) || entries_[slot].entry.firstCluster != id)
            continue;
        const std::uint32_t start = EntrySetStart(entries_.get(), slot);
        const std::uint32_t slots = slot - start + 1;
        std::unique_ptr<FatDirSlot[]> copy(new (std::nothrow) FatDirSlot[slots]);
        if (!copy)
            return kStatusStorageFull;
        std::memcpy(copy.get(), &entries_[start], slots * sizeof(FatDirSlot));
        *buffer = std::move(copy);
        *count = slots;
        return kStatusOk;
    }
    return kStatusOk;
}

EngineStatus FatFolder::FindEntrySetByPosition(std::int32_t position, std::uint32_t* firstSlot,
                                               std::uint32_t* slotCount) const
{
    if (position < 0)
        return kStatusFolderError;
    std::int32_t seen = 0;
    for (std::uint32_t slot = 0; slot < capacity_; ++slot) {
        if (!IsVisible(slot))
            continue;
        if (seen++ == position) {
            const std::uint32_t start = EntrySetStart(entries_.get(), slot);
            if (firstSlot)
                *firstSlot = start;
            if (slotCount)
                *slotCount = slot - start + 1;
            return kStatusOk;
        }
    }
    return kStatusFolderError;
}

std::int32_t FatFolder::GetEntryOrdinal(std::uint32_t id) const
{
    std::int32_t position = 0;
    for (std::uint32_t slot = 0; slot < capacity_; ++slot) {
        if (!IsVisible(slot))
            continue;
        if (entries_[slot].entry.firstCluster == id)
            return position;
        ++position;
    }
    return -1;
}

EngineStatus FatFolder::RemoveEntrySetById(std::uint32_t id)
{
    for (std::uint32_t slot = 0; slot < capacity_; ++slot) {
        const FatDirSlot& s = entries_[slot];
        if (s.raw[0] == kSlotFree || s.raw[11] == kAttrLongName || s.entry.firstCluster != id)
            continue;
        RemoveEntrySetAt(slot);
        return kStatusOk;
    }
    return kStatusFolderError;
}

void FatFolder::RemoveEntrySetAt(std::uint32_t slot)
{
    if (slot >= capacity_)
        return;
    // Only the long-name slots directly in front belong to the set.
    const std::uint32_t start = EntrySetStart(entries_.get(), slot);
    const std::uint32_t size = slot - start + 1;
    std::memmove(&entries_[start], &entries_[slot + 1], (capacity_ - slot - 1) * sizeof(FatDirSlot));
    std::memset(&entries_[capacity_ - size], 0, size * sizeof(FatDirSlot));
}

std::int32_t FatFolder::FindEntryById(std::uint32_t id, std::uint32_t from) const
{
    for (std::uint32_t slot = from; slot < capacity_; ++slot) {
        const FatDirSlot& s = entries_[slot];
        if (s.raw[0] == kSlotFree || s.raw[0] == kSlotDeleted || s.raw[0] == '.' || s.raw[11] == kAttrLongName)
            continue;
        if (s.entry.firstCluster == id)
            return std::int32_t(slot);
    }
    return -1;
}

EngineStatus FatFolder::RenameEntrySet(std::uint32_t id, const wchar_t* newName, FatDirSlot* oldEntry)
{
    const std::int32_t slot = FindEntryById(id);
    if (slot < 0 || newName == nullptr)
        return kStatusFolderError;
    std::memcpy(scratch_.get(), entries_.get(), capacity_ * sizeof(FatDirSlot));  // the undo copy
    const FatDirSlot old = entries_[slot];
    RemoveEntrySetAt(std::uint32_t(slot));

    const std::uint32_t count = EntryCountForName(newName);
    const std::int32_t run = FindFreeRun(count);
    char shortText[kShortTextBytes];
    if (run < 0 || MakeShortName(newName, shortText, sizeof shortText) != 0 ||
        WriteRenamedEntrySet(std::uint32_t(run), count, newName, shortText, old) != 0) {
        std::memcpy(entries_.get(), scratch_.get(), capacity_ * sizeof(FatDirSlot));
        return kStatusFolderError;
    }
    if (oldEntry != nullptr)
        *oldEntry = old;
    return kStatusOk;
}

EngineStatus FatFolder::ReorderEntry(std::uint32_t id, std::uint32_t position)
{
    const std::int32_t from = GetEntryOrdinal(id);
    if (from < 0 || position > std::uint32_t(INT32_MAX))
        return kStatusFolderError;
    return MoveToPosition(from, std::int32_t(position));
}

EngineStatus FatFolder::CopyEntrySetFrom(const FatFolder& source, std::uint32_t id)
{
    std::uint32_t count = 0;
    std::unique_ptr<FatDirSlot[]> set;
    if (const EngineStatus status = source.CopyEntrySetById(id, &count, &set); status != kStatusOk)
        return status;
    if (count == 0)
        return kStatusFolderError;
    const std::int32_t last = FindFreeRun(count);
    if (last < 0)
        return kStatusFolderError;
    std::memcpy(&entries_[std::uint32_t(last) + 1 - count], set.get(), count * sizeof(FatDirSlot));
    return kStatusOk;
}

namespace {

bool IsDotDot(const FatDirSlot& s)
{
    return s.raw[0] == '.' && s.raw[1] == '.' && s.raw[2] == ' ' && (s.entry.attributes & kAttrDirectory) != 0;
}

}  // namespace

std::int64_t FatFolder::ParentId() const
{
    if (capacity_ < 2 || !IsDotDot(entries_[1]))
        return -1;
    return entries_[1].entry.firstCluster;
}

bool FatFolder::SetParentId(std::uint16_t parentId)
{
    if (capacity_ < 2 || !IsDotDot(entries_[1]))
        return false;
    entries_[1].entry.firstCluster = parentId;
    return true;
}

bool FatFolder::LiesWithin(std::uint32_t id, const std::function<std::int64_t(std::uint32_t)>& parentOf) const
{
    if (rootFlag_)
        return false;
    // No real tree is deeper than the number of folders a directory can name; a loop in the ".."
    // chain ends here too.
    constexpr std::uint32_t kMaxDepth = 4096;
    std::uint32_t folder = folderId_;
    for (std::uint32_t depth = 0; depth < kMaxDepth; ++depth) {
        if (folder == id)
            return true;
        const std::int64_t parent = depth == 0 ? ParentId() : parentOf(folder);
        if (parent < 0)
            return true;
        if (parent == 0)
            return false;
        folder = std::uint32_t(parent);
    }
    return true;
}

EngineStatus FatFolder::MoveToPosition(std::int32_t from, std::int32_t to)
{
    const std::int32_t visible = std::int32_t(CountVisible());
    if (from < 0 || to < 0 || from >= visible || to >= visible)
        return kStatusFolderError;
    if (from == to)
        return kStatusOk;

    std::uint32_t movedStart = 0, movedSlots = 0;
    FindEntrySetByPosition(from, &movedStart, &movedSlots);

    std::memset(scratch_.get(), 0, capacity_ * sizeof(FatDirSlot));
    std::uint32_t used = 0;
    auto append = [&](std::uint32_t start, std::uint32_t slots) {
        if (slots > capacity_ - used)
            return false;
        std::memcpy(&scratch_[used], &entries_[start], slots * sizeof(FatDirSlot));
        used += slots;
        return true;
    };

    // Target positions are filled in order: the moved set at `to`, every other set in source order.
    std::int32_t target = 0, source = 0;
    for (std::uint32_t slot = 0; slot < capacity_; ++slot) {
        if (!IsVisible(slot))
            continue;
        if (target == to) {
            if (!append(movedStart, movedSlots))
                return kStatusFolderError;
            ++target;
        }
        if (source++ != from) {
            const std::uint32_t start = EntrySetStart(entries_.get(), slot);
            if (!append(start, slot - start + 1))
                return kStatusFolderError;
            ++target;
        }
    }
    if (target == to && !append(movedStart, movedSlots))
        return kStatusFolderError;

    std::memcpy(entries_.get(), scratch_.get(), capacity_ * sizeof(FatDirSlot));
    return kStatusOk;
}

}  // namespace engine
