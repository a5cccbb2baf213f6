// The NAND-type card's side of the volume: mounting through the block-address map, the blocks of
// clusters, the rewrite of the system area (logical blocks 1 .. D/S - 1: boot sector, both FATs and
// the root directory; block 0 holds the master boot record and is never rewritten), and the format
// that lays the card out afresh.
#include "device/fs/card/card_volume.h"

#include "device/flash/card_spare.h"
#include "device/flash/card_translation.h"
#include "device/fs/engine_status.h"
#include "device/transport/byte_order.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

namespace engine {

namespace {

constexpr std::uint8_t kCardInformationStructure[110] = {
    0x01, 0x03, 0xD9, 0x01, 0xFF, 0x18, 0x02, 0xDF, 0x01, 0x20, 0x04, 0x00, 0x00, 0x00, 0x00, 0x21, 0x02, 0x04, 0x01,
    0x22, 0x02, 0x01, 0x01, 0x22, 0x03, 0x02, 0x04, 0x07, 0x1A, 0x05, 0x01, 0x03, 0x00, 0x02, 0x0F, 0x1B, 0x08, 0xC0,
    0xC0, 0xA1, 0x01, 0x55, 0x08, 0x00, 0x20, 0x1B, 0x0A, 0xC1, 0x41, 0x99, 0x01, 0x55, 0x64, 0xF0, 0xFF, 0xFF, 0x20,
    0x1B, 0x0C, 0x82, 0x41, 0x18, 0xEA, 0x61, 0xF0, 0x01, 0x07, 0xF6, 0x03, 0x01, 0xEE, 0x1B, 0x0C, 0x83, 0x41, 0x18,
    0xEA, 0x61, 0x70, 0x01, 0x07, 0x76, 0x03, 0x01, 0xEE, 0x15, 0x14, 0x05, 0x00, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x00, 0x20, 0x20, 0x20, 0x20, 0x00, 0x30, 0x2E, 0x30, 0x00, 0xFF, 0x14, 0x00, 0xFF,
};

constexpr std::uint32_t kNandRootBytes = kCardRootSlots * 32;
constexpr std::uint32_t kNandRootSectors = kNandRootBytes / kCardSectorBytes;

}  // namespace

void BuildNandBootSector(std::uint8_t* boot, std::uint32_t sectorsPerBlock, std::uint32_t partitionStart,
                         std::uint32_t volumeSectors, std::uint16_t sectorsPerFat, std::uint32_t sectorsPerTrack,
                         std::uint32_t heads, std::uint8_t fatType)
{
    std::memset(boot, 0, kCardSectorBytes);
    boot[0] = 0xE9;
    std::memcpy(boot + 3, "MSDOS5.0", 8);
    StoreLe16(boot + 11, kCardSectorBytes);
    boot[13] = static_cast<std::uint8_t>(sectorsPerBlock);
    StoreLe16(boot + 14, 1);
    boot[16] = 2;
    StoreLe16(boot + 17, static_cast<std::uint16_t>(kCardRootSlots));
    if (volumeSectors < 0x10000)
        StoreLe16(boot + 19, static_cast<std::uint16_t>(volumeSectors));
    else
        StoreLe32(boot + 32, volumeSectors);
    boot[21] = 0xF8;
    StoreLe16(boot + 22, sectorsPerFat);
    StoreLe16(boot + 24, static_cast<std::uint16_t>(sectorsPerTrack));
    StoreLe16(boot + 26, static_cast<std::uint16_t>(heads));
    StoreLe32(boot + 28, partitionStart);
    std::memcpy(boot + 54, fatType == 16 ? "FAT16" : "FAT12", 5);
    boot[510] = 0x55;
    boot[511] = 0xAA;
}

std::uint32_t FatVolume::LogicalBlockOf(std::uint32_t cluster) const
{
    return LogicalBlockOfCluster(cluster, dataStartSector_, card.sectorsPerBlock);
}

std::uint32_t FatVolume::NandLocation(std::uint32_t logicalSector) const
{
    std::uint32_t s = card.sectorsPerBlock;
    std::uint32_t n = logicalSector / s;
    if (n >= systemBlockAddress_.size())
        return 0;
    return systemBlockAddress_[n] + ((logicalSector % s) << 8);
}

EngineStatus FatVolume::RefreshSpareRecords()
{
    if (!spareRecordsStale_)
        return kStatusOk;
    if (card.LoadSpareTable() != kTransportOk)
        return kStatusUsbError;
    spareRecordsStale_ = false;
    return kStatusOk;
}

CardBlockSearch FatVolume::SeekSystemBlock(std::uint32_t n)
{
    card.Rewind();
    return FindCardBlock(card, n, ZoneEndRow(card, 0));
}

EngineStatus FatVolume::MountNandCard()
{
    ReleaseVolume();
    if (!card.present)
        return kStatusNoStorage;
    std::optional<CardLayout> layout = LookupCardLayout(card.rowCount);
    if (!layout) {
        // A card of a size this system does not know is not mounted.
        Unmount();
        return kStatusOk;
    }
    // A card that does not mount stays marked present (the chip is there) but holds no volume.
    auto fail = [this](EngineStatus status) {
        ReleaseVolume();
        return status;
    };
    spareRecordsStale_ = false;
    if (card.LoadSpareTable() != kTransportOk)
        return fail(kStatusUsbError);
    const std::uint32_t s = card.sectorsPerBlock;
    dataStartSector_ = layout->dataStartSector;
    boot_.heads = layout->heads;
    boot_.sectorsPerTrack = layout->sectorsPerTrack;
    const std::uint32_t systemBlocks = dataStartSector_ / s;
    if (s == 0 || dataStartSector_ % s != 0 || systemBlocks < 2 || systemBlocks > systemBlockAddress_.size())
        return fail(kStatusPartitionError);

    UsbTransferUnit page{};
    // The information structure: the first valid block from the second erase block on whose address
    // field is zero.
    card.Rewind();
    card.sector = static_cast<std::uint8_t>(s);
    bool found = false;
    for (; card.row < card.rowCount; card.AdvanceBlock()) {
        if (IsCisCardRecord(card.CursorRecord())) {
            found = true;
            break;
        }
    }
    if (!found)
        return fail(kStatusMbrError);
    if (card.ReadPage(page.data, page.spare) != kTransportOk)
        return fail(kStatusUsbError);
    if (std::memcmp(page.data, kCardInformationStructure, sizeof kCardInformationStructure) != 0)
        return fail(kStatusMbrError);
    card.AdvanceBlock();

    // Master boot record: logical block 0 after the information structure.
    if (FindCardBlock(card, 0, card.rowCount) != kCardBlockFound)
        return fail(kStatusMbrError);
    mbrLocation_ = card.GetAddress();
    systemBlockAddress_.fill(0);
    systemBlockAddress_[0] = mbrLocation_;
    if (card.ReadPage(page.data, page.spare) != kTransportOk)
        return fail(kStatusUsbError);
    if (ParseCardMbr(page.data, partition_) != kStatusOk)
        return fail(kStatusMbrError);
    std::uint64_t chsStart =
        (std::uint64_t{partition_.chs[2]} * boot_.heads + partition_.chs[0]) * boot_.sectorsPerTrack +
        partition_.chs[1];
    // The boot sector must lie in logical block 1, where it is searched and rewritten.
    if (chsStart != std::uint64_t{partition_.start} + 1 || partition_.start / s != 1)
        return fail(kStatusMbrError);

    // Logical blocks 1 .. D/S - 1 hold the rest of the system area.
    std::unique_ptr<std::uint8_t[]> area(new (std::nothrow)
                                             std::uint8_t[std::size_t{dataStartSector_} * kCardSectorBytes]);
    if (!area)
        return fail(kStatusStorageFull);
    for (std::uint32_t n = 1; n < systemBlocks; ++n) {
        if (SeekSystemBlock(n) != kCardBlockFound)
            return fail(kStatusPartitionError);
        systemBlockAddress_[n] = card.GetAddress();
        if (card.ReadBlock({area.get() + std::size_t{n} * s * kCardSectorBytes, std::size_t{s} * kCardSectorBytes}) !=
            kTransportOk)
            return fail(kStatusUsbError);
    }

    const std::uint8_t* boot = area.get() + std::size_t{partition_.start} * kCardSectorBytes;
    CardBootFields f;
    if (boot[0] != 0xE9 || ParseCardBootSector(boot, partition_.sectors, f) != kStatusOk)
        return fail(kStatusPartitionError);
    // The block map puts cluster 2 at sector D: the volume must be laid out so (one cluster per erase
    // block, the FATs right after the boot sector, a root of 256 entries ending at D).
    std::uint32_t rootStart = partition_.start + 1 + 2u * f.sectorsPerFat;
    if (f.sectorsPerCluster != s || f.reservedSectors != 1 || f.rootEntries != kCardRootSlots ||
        rootStart + kNandRootSectors != dataStartSector_)
        return fail(kStatusPartitionError);

    std::memcpy(bootSector_.data(), boot, kCardSectorBytes);
    boot_ = f;

    fatBytes_ = std::size_t{boot_.sectorsPerFat} * kCardSectorBytes;
    fat_.reset(new (std::nothrow) std::uint8_t[fatBytes_]);
    if (!fat_)
        return fail(kStatusStorageFull);
    std::memcpy(fat_.get(), area.get() + std::size_t{partition_.start + 1} * kCardSectorBytes, fatBytes_);
    root_.fill(0);
    std::memcpy(root_.data(), area.get() + std::size_t{rootStart} * kCardSectorBytes, kNandRootBytes);
    rootShadow_ = root_;

    bootLocation_ = NandLocation(partition_.start);
    fat1Location_ = NandLocation(partition_.start + 1);
    fat2Location_ = NandLocation(partition_.start + 1 + boot_.sectorsPerFat);
    rootLocation_ = NandLocation(rootStart);
    rootLogicalBlock_ = (dataStartSector_ - 1) / s;
    dataLocation_ = NandLocation(dataStartSector_ - 1) + (1u << 8);
    walkCount_ = walkReturned_ = walkIndex_ = 0;
    card.present = 1;
    return kStatusOk;
}

CardBlockSearch FatVolume::AllocateBlock(std::uint32_t cluster)
{
    if (!IsMounted() || sectorCard_ || cluster < 2 || cluster > MaxCluster())
        return kCardBlockNone;
    return AllocateCardBlock(card, LogicalBlockOf(cluster));
}

CardBlockSearch FatVolume::SeekCluster(std::uint32_t cluster)
{
    if (!IsMounted() || sectorCard_ || cluster < 2 || cluster > MaxCluster())
        return kCardBlockNone;
    return SeekLogicalBlock(card, LogicalBlockOf(cluster)) == kCardBlockFound ? kCardBlockFound : kCardBlockNone;
}

bool FatVolume::AdvanceToGoodBlock()
{
    return engine::AdvanceToGoodBlock(card);
}

EngineStatus FatVolume::FlushNandSystemArea(bool rootFirst)
{
    if (!IsMounted() || sectorCard_)
        return kStatusNoStorage;
    const std::uint32_t s = card.sectorsPerBlock;
    const std::uint32_t systemBlocks = dataStartSector_ / s;
    const std::size_t areaBytes = std::size_t{dataStartSector_} * kCardSectorBytes;
    std::unique_ptr<std::uint8_t[]> area(new (std::nothrow) std::uint8_t[areaBytes]);
    CardBlockImage image(s);
    if (!area || !image.Ok())
        return kStatusStorageFull;
    // Every block is chosen by the spare records: after a failed transfer the copy held here may call a
    // block erased that still holds data, and a program into it would spoil both.
    if (RefreshSpareRecords() != kStatusOk)
        return kStatusUsbError;

    // The sectors before the boot sector read as erased.
    std::memset(area.get(), 0xFF, std::size_t{partition_.start + 1} * kCardSectorBytes);
    std::uint8_t* boot = area.get() + std::size_t{partition_.start} * kCardSectorBytes;
    // The volume's own size: a boot sector never claims more than the volume that was mounted.
    BuildNandBootSector(boot, s, partition_.start, boot_.totalSectors, boot_.sectorsPerFat, boot_.sectorsPerTrack,
                        boot_.heads, boot_.fatType);
    std::uint8_t* fat1 = boot + kCardSectorBytes;
    std::memcpy(fat1, fat_.get(), fatBytes_);
    std::memcpy(fat1 + fatBytes_, fat_.get(), fatBytes_);
    std::memcpy(fat1 + 2 * fatBytes_, root_.data(), kNandRootBytes);

    // Each block's new copy is written before its old copy is erased, into an erased block after the old
    // one: until the old copies go, a mount still finds the old system area whole (the first copy found
    // wins), so an interrupted rewrite never leaves the card without its boot sector, FAT or root.
    std::array<std::uint32_t, 8> oldAddress{};
    std::array<bool, 8> hasOld{};  // the first copy a mount finds
    std::array<std::uint32_t, 8> newAddress{};
    const std::uint32_t zoneEnd = ZoneEndRow(card, 0);
    for (std::uint32_t n = 1; n < systemBlocks; ++n) {
        hasOld[n] = SeekSystemBlock(n) == kCardBlockFound;
        oldAddress[n] = card.GetAddress();
    }
    for (std::uint32_t n = 1; n < systemBlocks; ++n) {
        const std::size_t blockBytes = std::size_t{s} * kCardSectorBytes;
        image.Fill(0, area.get() + n * blockBytes, blockBytes);
        bool placed = false;
        if (hasOld[n]) {
            card.SetAddress(oldAddress[n]);
            card.AdvanceBlock();
            std::uint32_t from = std::max(card.GetAddress(), ZoneSearchStart(0));
            placed = FindErasedCardBlock(card, from, zoneEnd) == kCardBlockFound;
        }
        if (!placed)
            placed = FindErasedCardBlock(card, ZoneSearchStart(0), zoneEnd) == kCardBlockFound;
        if (!placed && hasOld[n]) {
            // No erased block left: rewrite the old copy in place.
            card.SetAddress(oldAddress[n]);
            if (nandMedium_.EraseBlock(placed) != kStatusOk)
                return kStatusUsbError;
            hasOld[n] = false;
        }
        if (!placed) {
            spareRecordsStale_ = true;
            return kStatusUsbError;
        }
        newAddress[n] = card.GetAddress();
        if (nandMedium_.ProgramBlock(n, image) != kStatusOk)
            return kStatusUsbError;
    }
    // Then every other copy goes, the old ones and any left by an earlier interrupted rewrite.
    for (std::uint32_t k = 1; k < systemBlocks; ++k) {
        const std::uint32_t n = rootFirst ? systemBlocks - k : k;
        systemBlockAddress_[n] = newAddress[n];
        if (nandMedium_.EraseCopies(n, 0, zoneEnd, newAddress[n]) != kStatusOk)
            return kStatusUsbError;
    }
    std::uint32_t rootStart = partition_.start + 1 + 2u * boot_.sectorsPerFat;
    bootLocation_ = NandLocation(partition_.start);
    fat1Location_ = NandLocation(partition_.start + 1);
    fat2Location_ = NandLocation(partition_.start + 1 + boot_.sectorsPerFat);
    rootLocation_ = NandLocation(rootStart);
    dataLocation_ = NandLocation(dataStartSector_ - 1) + (1u << 8);
    std::memcpy(bootSector_.data(), boot, kCardSectorBytes);
    rootShadow_ = root_;
    return kStatusOk;
}

// ---- format ----
// Block 0 retired, the card information structure, then the system area as logical blocks
// 0 .. D/S - 1 (master boot record, boot sector, both FATs, root directory), every page with its spare
// record and ECC, laid out as the mount expects it (cluster 2 at sector D).

namespace {

// Partition entry 1 and FAT size of each card size.
struct NandPartitionRow {
    std::uint16_t rows;
    std::uint8_t startHead, startSector, type, endHead, endSectorByte, endCylinderByte;
    std::uint16_t fatSectors;
    std::uint8_t fatType;
};
// clang-format off
constexpr NandPartitionRow kNandPartitions[] = {
    {64, 1, 10, 0x01, 3, 0x10, 0xF9, 3, 12},   {128, 2, 10, 0x01, 3, 0x50, 0xF3, 3, 12},
    {256, 2, 4, 0x01, 7, 0x50, 0xF3, 6, 12},   {512, 1, 24, 0x01, 7, 0x60, 0xF3, 12, 12},
    {1024, 1, 16, 0x06, 15, 0x60, 0xF3, 32, 16},
};
// clang-format on

const NandPartitionRow* LookupNandPartition(std::uint32_t rows)
{
    for (const NandPartitionRow& row : kNandPartitions) {
        if (row.rows == rows)
            return &row;
    }
    return nullptr;
}

}  // namespace

// Zone 0 is where the mount looks for the system area.
EngineStatus FatVolume::TakeGoodBlock()
{
    card.sector = static_cast<std::uint8_t>(card.sector - card.sector % card.sectorsPerBlock);
    const std::uint32_t zoneEnd = ZoneEndRow(card, 0);
    for (;;) {
        if (!engine::AdvanceToGoodBlock(card) || card.row >= zoneEnd)
            return kStatusInvalidCard;
        bool erased = false;
        if (nandMedium_.EraseBlock(erased) != kStatusOk)
            return kStatusUsbError;
        if (erased)
            return kStatusOk;
        card.AdvanceBlock();
    }
}

// From the page written last to the next one, and writes it. At the end of a block the system area
// goes on in the next good block (erased first) as the next logical block.
EngineStatus FatVolume::WriteFollowingPage(const std::uint8_t* data)
{
    const std::uint32_t s = card.sectorsPerBlock;
    if (card.sector % s != s - 1) {
        ++card.sector;
    } else {
        card.sector = static_cast<std::uint8_t>(card.sector - (s - 1));
        card.AdvanceBlock();
        if (EngineStatus status = TakeGoodBlock(); status != kStatusOk)
            return status;
        ++blockNumber_;
    }
    return nandMedium_.ProgramPage(blockNumber_, data);
}

EngineStatus FatVolume::FormatNandTables()
{
    const NandPartitionRow* row = LookupNandPartition(card.rowCount);
    std::optional<CardLayout> layout = LookupCardLayout(card.rowCount);
    if (!row || !layout || card.sectorsPerBlock == 0)
        return kStatusNoStorage;
    sectorCard_ = false;
    dataStartSector_ = layout->dataStartSector;
    boot_.heads = layout->heads;
    boot_.sectorsPerTrack = layout->sectorsPerTrack;
    const std::uint8_t chs[7] = {row->startHead,     row->startSector,    0, row->type, row->endHead,
                                 row->endSectorByte, row->endCylinderByte};
    std::memcpy(partition_.chs, chs, sizeof chs);
    partition_.start = boot_.sectorsPerTrack * row->startHead + row->startSector - 1;
    const std::uint32_t endCylinder = row->endCylinderByte + (row->endSectorByte & 0xC0) * 4u;
    partition_.sectors =
        ((endCylinder * boot_.heads + row->endHead) * boot_.sectorsPerTrack + (row->endSectorByte & 63)) -
        partition_.start;
    boot_.sectorsPerFat = row->fatSectors;
    boot_.fatType = row->fatType;

    // Block 0 is always retired.
    card.Rewind();
    bool erased = false;
    if (nandMedium_.EraseBlock(erased) != kStatusOk || (erased && nandMedium_.RetireBlock() != kStatusOk))
        return kStatusUsbError;

    // The information structure, twice in its page, in the first two pages of the next good block.
    card.AdvanceBlock();
    if (EngineStatus taken = TakeGoodBlock(); taken != kStatusOk)
        return taken;
    std::uint8_t page[kCardSectorBytes] = {};
    std::memcpy(page, kCardInformationStructure, sizeof kCardInformationStructure);
    std::memcpy(page + kCardEccSpan, kCardInformationStructure, sizeof kCardInformationStructure);
    std::uint8_t spare[kUnitSpareBytes];
    std::memset(spare, 0xFF, sizeof spare);
    spare[kSpareAddress1] = spare[kSpareAddress1 + 1] = 0;
    spare[kSpareAddress2] = spare[kSpareAddress2 + 1] = 0;
    ComputeEcc256(page, spare + kSpareEccLow);
    ComputeEcc256(page + kCardEccSpan, spare + kSpareEccHigh);
    for (int i = 0; i < 2; ++i) {
        if (EngineStatus written = nandMedium_.ProgramPage(page, spare); written != kStatusOk)
            return written;
        ++card.sector;
    }

    // Logical block 0: the master boot record, then erased-looking sectors up to the partition.
    card.sector = static_cast<std::uint8_t>(card.sector - 2);
    card.AdvanceBlock();
    if (EngineStatus taken = TakeGoodBlock(); taken != kStatusOk)
        return taken;
    mbrLocation_ = card.GetAddress();
    blockNumber_ = 0;
    std::memset(page, 0, sizeof page);
    std::uint8_t* entry = page + 446;
    entry[0] = 0x80;
    std::memcpy(entry + 1, partition_.chs, sizeof partition_.chs);
    StoreLe32(entry + 8, partition_.start);
    StoreLe32(entry + 12, partition_.sectors);
    page[510] = 0x55;
    page[511] = 0xAA;
    if (EngineStatus written = nandMedium_.ProgramPage(blockNumber_, page); written != kStatusOk)
        return written;
    std::memset(page, 0xFF, sizeof page);
    for (std::uint32_t sector = 1; sector < partition_.start; ++sector) {
        if (EngineStatus written = WriteFollowingPage(page); written != kStatusOk)
            return written;
    }
    return kStatusOk;
}

EngineStatus FatVolume::FormatNandBootRecords()
{
    std::uint8_t boot[kCardSectorBytes];
    BuildNandBootSector(boot, card.sectorsPerBlock, partition_.start, partition_.sectors, boot_.sectorsPerFat,
                        boot_.sectorsPerTrack, boot_.heads, boot_.fatType);
    if (EngineStatus written = WriteFollowingPage(boot); written != kStatusOk)
        return written;
    bootLocation_ = card.GetAddress();
    std::memcpy(bootSector_.data(), boot, sizeof boot);
    return kStatusOk;
}

EngineStatus FatVolume::FormatNandFatAndRoot()
{
    const std::size_t bytes = std::size_t{boot_.sectorsPerFat} * kCardSectorBytes;
    std::unique_ptr<std::uint8_t[]> table(new (std::nothrow) std::uint8_t[bytes]());
    if (!table)
        return kStatusStorageFull;
    table[0] = 0xF8;
    table[1] = table[2] = 0xFF;
    if (boot_.fatType == 16)
        table[3] = 0xFF;
    fat_ = std::move(table);
    fatShadow_.reset();
    fatBytes_ = bytes;

    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        for (std::uint32_t i = 0; i < boot_.sectorsPerFat; ++i) {
            if (EngineStatus written = WriteFollowingPage(fat_.get() + std::size_t{i} * kCardSectorBytes);
                written != kStatusOk)
                return written;
            if (i == 0)
                (copy == 0 ? fat1Location_ : fat2Location_) = card.GetAddress();
        }
    }
    root_.fill(0);
    rootShadow_.fill(0);
    const std::uint8_t zero[kCardSectorBytes] = {};
    for (std::uint32_t i = 0; i < kCardRootSlots * 32 / kCardSectorBytes; ++i) {
        if (EngineStatus written = WriteFollowingPage(zero); written != kStatusOk)
            return written;
        if (i == 0)
            rootLocation_ = card.GetAddress();
    }
    rootLogicalBlock_ = blockNumber_;
    dataLocation_ = card.GetAddress() + (1u << 8);
    boot_.reservedSectors = 1;
    boot_.rootEntries = static_cast<std::uint16_t>(kCardRootSlots);
    boot_.totalSectors = partition_.sectors;
    const std::uint32_t system = 1 + 2u * boot_.sectorsPerFat + kCardRootSlots / 16;
    boot_.clusterCount = boot_.totalSectors > system ? (boot_.totalSectors - system) / card.sectorsPerBlock : 0;
    return kStatusOk;
}

}  // namespace engine
