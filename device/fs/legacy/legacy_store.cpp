#include "device/fs/legacy/legacy_store.h"

#include "device/flash/nand_chip.h"
#include "device/fs/engine_status.h"
#include "device/transport/byte_order.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <string>

namespace engine {

LegacyStoreState LegacyStore;

namespace {

constexpr std::uint32_t kMaxRootEntries = 1024;
constexpr std::uint8_t kErasedRecord[kSpareRecordBytes] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

bool FolderObjectIds()
{
    return Engine.FolderSchemeOn != 0 && Engine.FolderDepthLimit == -1;
}

// Puts CurrentChip on a block of a present chip, moving to the next chip (rewound) while the cursor
// lies past the end of the current one or the chip is absent. false when the chips run out.
bool SettleCursor()
{
    const std::uint32_t limit = LegacyChipLimit();
    while (Engine.CurrentChip < limit) {
        const NandChip& chip = NandChips[Engine.CurrentChip];
        if (chip.present && chip.sectorsPerBlock != 0 && chip.row < chip.rowCount)
            return true;
        ++Engine.CurrentChip;
        if (Engine.CurrentChip < limit)
            NandChips[Engine.CurrentChip].Rewind();
    }
    return false;
}

const std::uint8_t* CursorRecord()
{
    return NandChips[Engine.CurrentChip].CursorRecord();
}

bool RecordErased(const std::uint8_t* record)
{
    return record != nullptr && std::memcmp(record, kErasedRecord, kSpareRecordBytes) == 0;
}

std::uint32_t RootCapacity()
{
    // The directory sits in the first pages of one block: never more entries than the smallest
    // present chip's block holds.
    std::uint32_t smallest = 0;
    for (std::uint32_t i = 0; i < LegacyChipLimit(); ++i) {
        const NandChip& chip = NandChips[i];
        if (chip.present && chip.sectorsPerBlock != 0 && (smallest == 0 || chip.sectorsPerBlock < smallest))
            smallest = chip.sectorsPerBlock;
    }
    std::uint32_t entries = std::min({Engine.InternalRootEntries, kMaxRootEntries, smallest * 16});
    return entries - entries % 16;
}

EngineStatus EraseAtCursor()
{
    std::uint8_t status = 0;
    NandChip& chip = NandChips[Engine.CurrentChip];
    std::uint8_t kept[kSpareRecordBytes] = {};
    if (const std::uint8_t* record = chip.CursorRecord())
        std::memcpy(kept, record, sizeof kept);
    PlayerPipes.Need();
    if (chip.EraseBlock(status) != kTransportOk || (status & 1) != 0) {
        // The host copy already reads erased; a block that did not erase (or may not have) must not
        // look free, or the next write would program over its old bits.
        if (std::uint8_t* record = chip.CursorRecord())
            std::memcpy(record, kept, sizeof kept);
        return kStatusUsbError;
    }
    return kStatusOk;
}

std::string UpperExtension(const char* name)
{
    const char* slash = std::strrchr(name, '\\');
    if (slash)
        name = slash + 1;
    const char* dot = std::strrchr(name, '.');
    if (!dot)
        return {};
    std::string ext;
    for (const char* p = dot + 1; *p && ext.size() < 3; ++p)
        ext += char(*p >= 'a' && *p <= 'z' ? *p - 'a' + 'A' : *p);
    // More than three characters after the dot is no extension of the table.
    if (std::strlen(dot + 1) > 3)
        ext += '?';
    return ext;
}

}  // namespace

void LegacyResetState()
{
    LegacyStore.root.clear();
    LegacyStore.rootLoaded = 0;
    LegacyStore.rootDirty = 0;
    LegacyStore.rootBlock = {};
    LegacyStore.walkCounted = 0;
    LegacyStore.walkReturned = 0;
    LegacyStore.walkIndex = -1;
    LegacyStore.walkerId = 0;
    LegacyStore.walkerType = 0;
    LegacyStore.usedBlocksPassed = 0;
    LegacyStore.freeBlockCount = 0;
}

std::uint32_t LegacyChipLimit()
{
    return std::min<std::uint32_t>(Engine.ChipCount, 7);
}

std::uint32_t LegacyIdLimit()
{
    return FolderObjectIds() ? 0x10000u : 0x100u;
}

std::uint32_t LegacyBlockId(const std::uint8_t* record)
{
    if (FolderObjectIds() && !(record[14] == 'P' && record[15] == 'C'))
        return LoadLe16(record + 14);
    return record[1];
}

void LegacyAdvanceBlock()
{
    if (Engine.CurrentChip < LegacyChipLimit())
        NandChips[Engine.CurrentChip].AdvanceBlock();
}

BlockPosition LegacyCursor()
{
    BlockPosition p;
    p.chip = Engine.CurrentChip;
    if (p.chip < NandChips.size()) {
        p.row = NandChips[p.chip].row;
        p.sector = NandChips[p.chip].sector;
    }
    return p;
}

void LegacySetCursor(const BlockPosition& position)
{
    Engine.CurrentChip = position.chip;
    if (position.chip < NandChips.size()) {
        NandChip& chip = NandChips[position.chip];
        chip.row = position.row;
        chip.sector = position.sector;
        chip.column = 0;
    }
}

WalkResult LegacyNextFileStart()
{
    while (SettleCursor()) {
        const std::uint8_t* record = CursorRecord();
        if (record && record[0] == kFileStartMark && (Engine.BadBlockByteIgnored || record[5] == 0xFF)) {
            LegacyStore.walkerId = LegacyBlockId(record);
            LegacyStore.walkerType = record[6];
            return kWalkFound;
        }
        LegacyAdvanceBlock();
    }
    return kWalkEnd;
}

WalkResult LegacyNextFileBlock()
{
    while (SettleCursor()) {
        const std::uint8_t* record = CursorRecord();
        if (record && record[0] == kFileBlockMark) {
            LegacyStore.walkerId = LegacyBlockId(record);
            return kWalkFound;
        }
        LegacyAdvanceBlock();
    }
    return kWalkEnd;
}

WalkResult LegacyNextFreeBlock()
{
    while (SettleCursor()) {
        if (RecordErased(CursorRecord()))
            return kWalkFound;
        ++LegacyStore.usedBlocksPassed;
        LegacyAdvanceBlock();
    }
    return kWalkNoFree;
}

bool LegacyFindFileStart(std::uint32_t id)
{
    Engine.CurrentChip = 0;
    NandChips[0].Rewind();
    while (LegacyNextFileStart() == kWalkFound) {
        if (LegacyStore.walkerId == id)
            return true;
        LegacyAdvanceBlock();
    }
    return false;
}

std::uint32_t LegacyCountFreeBlocks()
{
    std::uint32_t free = 0;
    for (std::uint32_t i = 0; i < LegacyChipLimit(); ++i) {
        const NandChip& chip = NandChips[i];
        if (!chip.present || chip.sectorsPerBlock == 0 || 256 % chip.sectorsPerBlock != 0)
            continue;
        const std::uint32_t perRow = 256u / chip.sectorsPerBlock;
        const std::uint32_t rows = std::min<std::uint32_t>(chip.rowCount, kSpareTableRows);
        for (std::uint32_t r = 0; r < rows; ++r) {
            for (std::uint32_t b = 0; b < perRow; ++b) {
                if (RecordErased(chip.spareTable.data() + r * kSpareRowSlot + b * kSpareRecordBytes))
                    ++free;
            }
        }
    }
    return free;
}

std::uint8_t LegacyTypeCode(const char* ansiName, const char* shortText)
{
    std::uint8_t code = kTypeOther;
    const std::string ext = ansiName ? UpperExtension(ansiName) : std::string();
    if (ext == "MP3")
        code = kTypeMp3;
    else if (ext == "WMA")
        code = kTypeWma;
    else if (ext == "AAC")
        code = kTypeAac;
    else if (ext == "FON")
        code = kTypeFont;
    else if (ext == "WAV")
        code = kTypeWav;
    else if (ext == "MEM")
        code = kTypeMemo;
    if (shortText) {
        for (const char* name : {"CONFIG.DAT", "FMCONFIG.DAT", "IMAGE.DAT", "CSOUND.MTA"}) {
            if (std::strcmp(shortText, name) == 0)
                code = kTypeConfig;
        }
        if (std::strcmp(shortText, "KEY.DAT") == 0)
            code = kTypeKey;
    }
    return code;
}

void BuildFileBlockRecord(std::uint8_t* record, bool firstPage, std::uint32_t id, std::uint16_t blockCount,
                          std::uint8_t typeCode, const BlockLink& link)
{
    record[0] = firstPage ? kFileStartMark : kFileBlockMark;
    record[1] = static_cast<std::uint8_t>(id);
    StoreBe16(record + 2, blockCount);
    record[4] = 0xFF;
    record[5] = 0xFF;
    record[6] = typeCode;
    record[7] = link.chipSelect;
    StoreBe16(record + 8, link.row);
    record[10] = link.sector;
    record[11] = record[12] = record[13] = 0;
    if (FolderObjectIds()) {
        StoreLe16(record + 14, static_cast<std::uint16_t>(id));
    } else {
        record[14] = 'P';
        record[15] = 'C';
    }
}

void BuildRootBlockRecord(std::uint8_t* record)
{
    static constexpr std::uint8_t kHead[14] = {0xAA, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, kTypeRoot,
                                               0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF};
    std::memcpy(record, kHead, sizeof kHead);
    if (FolderObjectIds()) {
        record[14] = 0x01;
        record[15] = 0x00;
    } else {
        record[14] = 'P';
        record[15] = 'C';
    }
}

EngineStatus LegacyWriteFileBlock(std::vector<std::uint8_t>& units, const std::uint8_t* data, std::uint32_t dataBytes,
                                  bool firstBlock, std::uint32_t id, std::uint16_t blockCount, std::uint8_t typeCode,
                                  const BlockLink& link)
{
    NandChip& chip = NandChips[Engine.CurrentChip];
    const std::size_t pages = chip.sectorsPerBlock;
    units.assign(pages * kUnitBytes, 0);
    for (std::size_t i = 0; i < pages; ++i) {
        std::uint8_t* unit = units.data() + i * kUnitBytes;
        const std::size_t offset = i * kUnitDataBytes;
        if (data && offset < dataBytes)
            std::memcpy(unit, data + offset, std::min<std::size_t>(kUnitDataBytes, dataBytes - offset));
        BuildFileBlockRecord(unit + kUnitDataBytes, firstBlock && i == 0, id, blockCount, typeCode, link);
    }
    PlayerPipes.Need();
    const bool wasFree = RecordErased(chip.CursorRecord());
    const int begin = chip.BeginWrite();
    const int body = begin == kTransportOk ? chip.WriteData(units) : kTransportFailed;
    const int end = body == kTransportOk ? chip.EndWrite() : kTransportFailed;
    // The count follows the host copy of the records, which takes the block as used once its data
    // went out, whether the write then succeeded or not.
    if (wasFree && !RecordErased(chip.CursorRecord()) && LegacyStore.freeBlockCount != 0)
        --LegacyStore.freeBlockCount;
    return end == kTransportOk ? kStatusOk : kStatusUsbError;
}

std::uint32_t LegacyRootEntryCount()
{
    return static_cast<std::uint32_t>(LegacyStore.root.size());
}

bool LegacyIsUsedEntry(const FatDirSlot& slot)
{
    return slot.raw[0] != 0 && slot.raw[11] != kAttrLongName;
}

EngineStatus LegacyLoadRoot()
{
    LegacyStore.rootLoaded = 0;
    LegacyStore.walkCounted = 0;
    LegacyStore.walkReturned = 0;
    LegacyStore.walkIndex = -1;
    if (Engine.ChipCount == 0 || !NandChips[0].present)
        return kStatusStorageFull;
    const std::uint32_t entries = RootCapacity();
    if (entries == 0)
        return kStatusStorageFull;
    try {
        LegacyStore.root.assign(entries, FatDirSlot{});
    } catch (const std::bad_alloc&) {
        LegacyStore.root.clear();
        return kStatusStorageFull;
    }
    const std::uint32_t sectors = entries / 16;

    Engine.CurrentChip = 0;
    NandChips[0].Rewind();
    bool found = false;
    while (LegacyNextFileStart() == kWalkFound) {
        if (LegacyStore.walkerId == kRootFileId && LegacyStore.walkerType == kTypeRoot) {
            found = true;
            break;
        }
        LegacyAdvanceBlock();
    }

    if (found) {
        LegacyStore.rootBlock = LegacyCursor();
        NandChip& chip = NandChips[Engine.CurrentChip];
        std::vector<std::uint8_t> block;
        try {
            block.assign(std::size_t{chip.sectorsPerBlock} * kUnitDataBytes, 0);
        } catch (const std::bad_alloc&) {
            return kStatusStorageFull;
        }
        PlayerPipes.Need();
        if (chip.ReadBlock(block) != kTransportOk)
            return kStatusUsbError;
        std::memcpy(LegacyStore.root.data(), block.data(), std::size_t{sectors} * kUnitDataBytes);
        // The block is programmed page by page: after a cut its last pages read erased, and their
        // slots are free, not entries of 0xFF bytes.
        for (FatDirSlot& slot : LegacyStore.root) {
            if (std::all_of(std::begin(slot.raw), std::end(slot.raw), [](std::uint8_t b) { return b == 0xFF; }))
                slot = FatDirSlot{};
        }
    } else {
        Engine.CurrentChip = 0;
        NandChips[0].Rewind();
        if (LegacyNextFreeBlock() != kWalkFound)
            return kStatusStorageFull;
        LegacyStore.rootBlock = LegacyCursor();
        NandChip& chip = NandChips[Engine.CurrentChip];
        std::uint8_t zero[kUnitDataBytes] = {};
        std::uint8_t record[kSpareRecordBytes];
        BuildRootBlockRecord(record);
        PlayerPipes.Need();
        for (std::uint32_t i = 0; i < sectors; ++i) {
            if (chip.WritePage(zero, record) != kTransportOk)
                return kStatusUsbError;
            ++chip.sector;
        }
        chip.sector = LegacyStore.rootBlock.sector;
    }
    LegacyStore.rootLoaded = 1;
    LegacyStore.freeBlockCount = LegacyCountFreeBlocks();
    return kStatusOk;
}

EngineStatus LegacyEnsureRoot()
{
    if (LegacyStore.rootLoaded && !LegacyStore.root.empty())
        return kStatusOk;
    return LegacyLoadRoot();
}

namespace {

EngineStatus WriteRootBlock()
{
    LegacySetCursor(LegacyStore.rootBlock);
    if (Engine.CurrentChip >= LegacyChipLimit())
        return kStatusUsbError;
    NandChip& chip = NandChips[Engine.CurrentChip];
    if (EraseAtCursor() != kStatusOk)
        return kStatusUsbError;
    std::uint8_t record[kSpareRecordBytes];
    BuildRootBlockRecord(record);
    const std::uint32_t sectors = LegacyRootEntryCount() / 16;
    const std::uint8_t* bytes = LegacyStore.root.front().raw;
    EngineStatus status = kStatusOk;
    for (std::uint32_t i = 0; i < sectors && status == kStatusOk; ++i) {
        if (chip.WritePage({bytes + std::size_t{i} * kUnitDataBytes, kUnitDataBytes}, record) != kTransportOk)
            status = kStatusUsbError;
        ++chip.sector;
    }
    chip.sector = LegacyStore.rootBlock.sector;
    return status;
}

}  // namespace

EngineStatus LegacyWriteBackRoot()
{
    if (!LegacyStore.rootLoaded || LegacyStore.root.empty())
        return kStatusUsbError;
    const EngineStatus status = WriteRootBlock();
    LegacyStore.rootDirty = status == kStatusOk ? 0 : 1;
    return status;
}

std::int32_t LegacyFindEntryById(std::uint32_t id, int folders)
{
    const std::uint32_t count = LegacyRootEntryCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        const FatDirSlot& slot = LegacyStore.root[i];
        if (!LegacyIsUsedEntry(slot) || slot.entry.firstCluster != id)
            continue;
        const bool folder = (slot.entry.attributes & kAttrDirectory) != 0;
        if (folders == -1 || (folders == 1) == folder)
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

void LegacyRemoveEntrySet(std::uint32_t shortIndex)
{
    const std::uint32_t count = LegacyRootEntryCount();
    if (shortIndex >= count)
        return;
    const std::uint32_t start = EntrySetStart(LegacyStore.root.data(), shortIndex);
    const std::uint32_t removed = shortIndex - start + 1;
    std::copy(LegacyStore.root.begin() + shortIndex + 1, LegacyStore.root.end(), LegacyStore.root.begin() + start);
    std::fill(LegacyStore.root.end() - removed, LegacyStore.root.end(), FatDirSlot{});
}

void LegacyFillRecord(std::uint32_t shortIndex, DirRecord& record)
{
    std::memset(&record, 0, sizeof record);
    if (shortIndex >= LegacyRootEntryCount())
        return;
    const FatDirSlot* entries = LegacyStore.root.data();
    const std::uint32_t start = EntrySetStart(entries, shortIndex);
    wchar_t name[kMaxLongEntries * kLongEntryChars + 1];
    ReadEntrySetName(entries, start, shortIndex, name, static_cast<std::uint32_t>(std::size(name)));
    WideToAnsi(name, reinterpret_cast<char*>(record.name), sizeof record.name);
    const FatShortEntry& e = entries[shortIndex].entry;
    CopyEntryFieldsToRecord(e, record);
}

bool LegacyChipZeroPresent()
{
    return Engine.ChipCount != 0 && NandChips[0].present && NandChips[0].sectorsPerBlock != 0;
}

std::uint32_t LegacyBlockBytes()
{
    return LegacyChipZeroPresent() ? std::uint32_t{NandChips[0].sectorsPerBlock} * 512u : 0;
}

BlockLink LegacyLinkTo(const BlockPosition& p)
{
    return BlockLink{NandChips[p.chip].chipSelect, p.row, p.sector};
}

EngineStatus LegacyEraseAtCursor()
{
    return EraseAtCursor();
}

EngineStatus LegacyEraseFileBlocks(std::uint32_t id, bool progress)
{
    if (!LegacyFindFileStart(id))
        return kStatusOk;
    // Every continuation block with the id after the start block, then the start block: until it goes
    // the file can be found, so a delete cut short and done again leaves no block with the id behind
    // for the next file that takes it.
    const BlockPosition start = LegacyCursor();
    auto erase = [&] {
        if (EraseAtCursor() != kStatusOk)
            return false;
        ++LegacyStore.freeBlockCount;
        if (progress)
            NotifyProgress(kProgressStep,
                           static_cast<std::int32_t>(NandChips[Engine.CurrentChip].sectorsPerBlock * 512u));
        return true;
    };
    LegacyAdvanceBlock();
    while (LegacyNextFileBlock() == kWalkFound) {
        if (LegacyStore.walkerId == id && !erase())
            return kStatusUsbError;
        LegacyAdvanceBlock();
    }
    LegacySetCursor(start);
    return erase() ? kStatusOk : kStatusUsbError;
}

EngineStatus LegacyPurgeUnreferenced(std::uint32_t& newId)
{
    newId = 0;
    // With folder objects the root names only its own entries: every block of a subfolder would
    // look unreferenced. Only the id is wanted then.
    if (FolderObjectIds()) {
        const EngineStatus status = LegacyFindUnusedId(newId);
        return status == kStatusFolderError ? kStatusStorageFull : status;
    }
    const std::uint32_t limit = LegacyIdLimit();
    std::vector<std::uint8_t> marked;
    try {
        marked.assign(limit, 0);
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }
    for (std::uint32_t id = 0; id < kFirstFreeFileId; ++id)
        marked[id] = 1;
    // An entry whose id does not fit the blocks still refers to the blocks that carry its low bits.
    for (const FatDirSlot& slot : LegacyStore.root) {
        if (LegacyIsUsedEntry(slot))
            marked[slot.entry.firstCluster % limit] = 1;
    }

    Engine.CurrentChip = 0;
    NandChips[0].Rewind();
    while (LegacyNextFileStart() == kWalkFound) {
        const std::uint32_t id = LegacyStore.walkerId % limit;
        if (!marked[id]) {
            const BlockPosition resume = LegacyCursor();
            // The first file-start block with that id is the one under the cursor: earlier ones
            // were purged when the walk met them.
            if (EraseAtCursor() != kStatusOk)
                return kStatusUsbError;
            ++LegacyStore.freeBlockCount;
            LegacyAdvanceBlock();
            while (LegacyNextFileBlock() == kWalkFound) {
                if (LegacyStore.walkerId % limit == id) {
                    if (EraseAtCursor() != kStatusOk)
                        return kStatusUsbError;
                    ++LegacyStore.freeBlockCount;
                }
                LegacyAdvanceBlock();
            }
            LegacySetCursor(resume);
        }
        LegacyAdvanceBlock();
    }

    for (std::uint32_t id = kFirstFreeFileId; id < limit; ++id) {
        if (!marked[id]) {
            newId = id;
            LegacyStore.walkerId = id;
            return kStatusOk;
        }
    }
    return kStatusStorageFull;
}

EngineStatus LegacyFindUnusedId(std::uint32_t& newId, const std::vector<std::uint32_t>* alsoUsed)
{
    newId = 0;
    const std::uint32_t size = std::min(Engine.InternalBlockCount, LegacyIdLimit());
    std::vector<std::uint8_t> marked;
    try {
        marked.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return kStatusStorageFull;
    }
    for (std::uint32_t id = 0; id < kFirstFreeFileId && id < size; ++id)
        marked[id] = 1;
    if (alsoUsed) {
        for (std::uint32_t id : *alsoUsed) {
            if (id < size)
                marked[id] = 1;
        }
    }
    Engine.CurrentChip = 0;
    NandChips[0].Rewind();
    while (LegacyNextFileStart() == kWalkFound) {
        if (LegacyStore.walkerId < size)
            marked[LegacyStore.walkerId] = 1;
        LegacyAdvanceBlock();
    }
    for (std::uint32_t id = 0; id < size; ++id) {
        if (!marked[id]) {
            newId = id;
            LegacyStore.walkerId = id;
            return kStatusOk;
        }
    }
    return kStatusFolderError;
}

void LegacyProgressStep()
{
    NotifyProgress(kProgressStep, static_cast<std::int32_t>(LegacyBlockBytes()));
}

EngineStatus LegacyReadFile(std::uint32_t id, std::uint32_t size,
                            const std::function<bool(const std::uint8_t*, std::uint32_t)>& sink, bool& cancelled)
{
    cancelled = false;
    if (size == 0)
        return kStatusOk;
    std::vector<std::uint8_t> data;
    if (!LegacyFindFileStart(id))
        return kStatusFolderError;
    for (std::uint32_t remaining = size;;) {
        NandChip& chip = NandChips[Engine.CurrentChip];
        const std::uint32_t bytes = std::uint32_t{chip.sectorsPerBlock} * 512u;
        try {
            data.resize(bytes);
        } catch (const std::bad_alloc&) {
            return kStatusStorageFull;
        }
        PlayerPipes.Need();
        if (chip.ReadBlock({data.data(), bytes}) != kTransportOk)
            return kStatusUsbError;
        const std::uint32_t take = std::min(remaining, bytes);
        if (!sink(data.data(), take))
            return kStatusFileError;
        remaining -= take;
        if (Engine.CancelRequested.load()) {
            cancelled = remaining != 0;
            return kStatusOk;
        }
        LegacyProgressStep();
        if (remaining == 0)
            return kStatusOk;
        LegacyAdvanceBlock();
        bool found = false;
        while (!found && LegacyNextFileBlock() == kWalkFound) {
            found = LegacyStore.walkerId == id;
            if (!found)
                LegacyAdvanceBlock();
        }
        // Fewer blocks than the size needs: the file on the player is damaged.
        if (!found)
            return kStatusFileError;
    }
}

}  // namespace engine
