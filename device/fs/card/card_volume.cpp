#include "device/fs/card/card_volume.h"

#include "device/fs/engine_status.h"
#include "device/transport/byte_order.h"
#include "device/transport/device_pipes.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace engine {

FatVolume CardVolume;

EngineStatus ParseCardMbr(const std::uint8_t* sector, CardPartition& out)
{
    if (sector[510] != 0x55 || sector[511] != 0xAA)
        return kStatusMbrError;
    const std::uint8_t* entry = sector + 446;
    std::memcpy(out.chs, entry + 1, sizeof out.chs);
    out.start = LoadLe32(entry + 8);
    out.sectors = LoadLe32(entry + 12);
    return kStatusOk;
}

EngineStatus ParseCardBootSector(const std::uint8_t* s, std::uint32_t partitionSectors, CardBootFields& out)
{
    if (s[510] != 0x55 || s[511] != 0xAA)
        return kStatusPartitionError;
    CardBootFields f;
    f.sectorsPerCluster = s[13];
    f.reservedSectors = LoadLe16(s + 14);
    f.rootEntries = LoadLe16(s + 17);
    f.sectorsPerFat = LoadLe16(s + 22);
    f.sectorsPerTrack = LoadLe16(s + 24);
    f.heads = LoadLe16(s + 26);
    f.totalSectors = LoadLe16(s + 19);
    if (f.totalSectors == 0)
        f.totalSectors = LoadLe32(s + 32);
    if (f.totalSectors == 0)
        f.totalSectors = partitionSectors;

    unsigned spc = f.sectorsPerCluster;
    if (LoadLe16(s + 11) != kCardSectorBytes || s[16] != 2 || f.reservedSectors == 0 || f.sectorsPerFat == 0 ||
        f.rootEntries == 0 || f.rootEntries % 16 != 0 || f.rootEntries > kCardMaxRootEntries || spc == 0 || spc > 128 ||
        (spc & (spc - 1)) != 0)
        return kStatusPartitionError;
    // A volume that claims more sectors than its partition would reach past it.
    if (partitionSectors != 0 && f.totalSectors > partitionSectors)
        return kStatusPartitionError;

    f.rootSectors = f.rootEntries / 16;
    std::uint64_t systemSectors = std::uint64_t{f.reservedSectors} + 2u * f.sectorsPerFat + f.rootSectors;
    if (f.totalSectors <= systemSectors)
        return kStatusPartitionError;
    f.clusterCount = static_cast<std::uint32_t>((f.totalSectors - systemSectors) / spc);
    if (f.clusterCount == 0 || f.clusterCount > kFat16MaxClusters)
        return kStatusPartitionError;
    f.fatType = f.clusterCount <= kFat12MaxClusters ? 12 : 16;
    std::uint64_t fatEntries = f.fatType == 12 ? std::uint64_t{f.sectorsPerFat} * kCardSectorBytes * 2 / 3
                                               : std::uint64_t{f.sectorsPerFat} * kCardSectorBytes / 2;
    if (std::uint64_t{f.clusterCount} + 2 > fatEntries)
        return kStatusPartitionError;
    out = f;
    return kStatusOk;
}

std::uint32_t ReadFatEntry(const std::uint8_t* fat, std::size_t fatBytes, std::uint8_t fatType, std::uint32_t n)
{
    if (!fat)
        return 0xFFFFFFFFu;
    if (fatType == 12) {
        std::size_t at = std::size_t{n} * 3 / 2;
        if (at + 1 >= fatBytes)
            return 0xFFFFFFFFu;
        unsigned v = fat[at] | (fat[at + 1] << 8);
        return (n & 1) ? v >> 4 : v & 0xFFF;
    }
    std::size_t at = std::size_t{n} * 2;
    if (at + 1 >= fatBytes)
        return 0xFFFFFFFFu;
    return LoadLe16(fat + at);
}

bool WriteFatEntry(std::uint8_t* fat, std::size_t fatBytes, std::uint8_t fatType, std::uint32_t n, std::uint32_t value)
{
    if (!fat)
        return false;
    if (fatType == 12) {
        std::size_t at = std::size_t{n} * 3 / 2;
        if (at + 1 >= fatBytes)
            return false;
        value &= 0xFFF;
        if (n & 1) {
            fat[at] = static_cast<std::uint8_t>((fat[at] & 0x0F) | (value << 4));
            fat[at + 1] = static_cast<std::uint8_t>(value >> 4);
        } else {
            fat[at] = static_cast<std::uint8_t>(value);
            fat[at + 1] = static_cast<std::uint8_t>((fat[at + 1] & 0xF0) | (value >> 8));
        }
        return true;
    }
    std::size_t at = std::size_t{n} * 2;
    if (at + 1 >= fatBytes)
        return false;
    StoreLe16(fat + at, static_cast<std::uint16_t>(value));
    return true;
}

bool IsEndOfChain(std::uint32_t value, std::uint8_t fatType)
{
    return fatType == 12 ? value >= 0xFF8 && value <= 0xFFF : value >= 0xFFF8 && value <= 0xFFFF;
}

ChainStep FollowChain(std::uint32_t value, std::uint8_t fatType, std::uint32_t maxCluster, std::uint32_t& next)
{
    if (IsEndOfChain(value, fatType))
        return ChainStep::End;
    if (value < 2 || value > maxCluster)
        return ChainStep::Broken;
    next = value;
    return ChainStep::Next;
}

ChainWalker::ChainWalker(const FatVolume& volume) : volume_(volume), max_(volume.MaxCluster())
{
    visited_.reset(new (std::nothrow) std::uint64_t[Words()]());
}

std::size_t ChainWalker::Words() const
{
    return std::size_t{max_} / 64 + 1;
}

void ChainWalker::Start(std::uint32_t first)
{
    if (visited_)
        std::memset(visited_.get(), 0, Words() * sizeof(std::uint64_t));
    cluster_ = first;
    Mark(first);
}

bool ChainWalker::Mark(std::uint32_t cluster)
{
    if (!visited_ || cluster < 2 || cluster > max_)
        return false;
    std::uint64_t& word = visited_[cluster / 64];
    const std::uint64_t bit = std::uint64_t{1} << (cluster % 64);
    if (word & bit)
        return false;
    word |= bit;
    return true;
}

ChainStep ChainWalker::Advance()
{
    if (!visited_)
        return ChainStep::Broken;
    std::uint32_t next = 0;
    const ChainStep step = FollowChain(volume_.GetFatEntry(cluster_), volume_.FatType(), max_, next);
    if (step != ChainStep::Next)
        return step;
    if (!Mark(next))
        return ChainStep::Loop;
    cluster_ = next;
    return ChainStep::Next;
}

EngineStatus ListChain(const FatVolume& volume, std::uint32_t first, std::uint32_t limit,
                       std::vector<std::uint32_t>& out)
{
    out.clear();
    if (first < 2 || first > volume.MaxCluster() || limit == 0)
        return kStatusOk;
    ChainWalker walk(volume);
    if (!walk.Ok())
        return kStatusStorageFull;
    walk.Start(first);
    out.push_back(first);
    while (out.size() < limit) {
        switch (walk.Advance()) {
        case ChainStep::Next:
            out.push_back(walk.Cluster());
            break;
        case ChainStep::Loop:
            out.clear();
            return kStatusFileError;
        case ChainStep::End:
        case ChainStep::Broken:
            return kStatusOk;
        }
    }
    return kStatusOk;
}

FatVolume::FatVolume() : card(CardChip) {}

CardMedium& FatVolume::Medium()
{
    if (sectorCard_)
        return sectorMedium_;
    return nandMedium_;
}

FatVolume::~FatVolume() = default;

void FatVolume::Unmount()
{
    ReleaseVolume();
    card.present = 0;
}

void FatVolume::ReleaseVolume()
{
    fat_.reset();
    fatShadow_.reset();
    fatBytes_ = 0;
    root_.fill(0);
    rootShadow_.fill(0);
    walkCount_ = walkReturned_ = walkIndex_ = 0;
    boot_.clusterCount = 0;
    sectorCard_ = false;
}

std::uint32_t FatVolume::MaxCluster() const
{
    std::uint32_t last = boot_.clusterCount + 1;
    if (!sectorCard_ && card.sectorsPerBlock != 0) {
        // The card's zones hold 1000 logical blocks each; cluster c lives in block c + D/S - 2.
        std::uint32_t zones = std::max<std::uint32_t>(1, card.rowCount / 128);
        std::uint32_t systemBlocks = dataStartSector_ / card.sectorsPerBlock;
        std::uint32_t byZones = zones * 1000 + 1 >= systemBlocks ? zones * 1000 + 1 - systemBlocks : 0;
        last = std::min(last, byZones);
    }
    return last;
}

std::uint32_t FatVolume::RootSlots() const
{
    return sectorCard_ ? std::min<std::uint32_t>(boot_.rootEntries, kCardMaxRootEntries) : kCardRootSlots;
}

void FatVolume::SetFatEntry(std::uint32_t cluster, std::uint32_t value)
{
    WriteFatEntry(fat_.get(), fatBytes_, boot_.fatType, cluster, value);
}

std::uint32_t FatVolume::GetFatEntry(std::uint32_t cluster) const
{
    return ReadFatEntry(fat_.get(), fatBytes_, boot_.fatType, cluster);
}

// ---- root walk ----

std::int32_t FatVolume::WalkFrom(std::uint32_t first, DirRecord& record)
{
    const FatDirSlot* slots = reinterpret_cast<const FatDirSlot*>(root_.data());
    for (std::uint32_t i = first; i < RootSlots(); ++i) {
        const FatDirSlot& slot = slots[i];
        if (slot.raw[0] == kSlotFree || slot.raw[0] == kSlotDeleted || slot.raw[11] == kAttrLongName)
            continue;
        wchar_t wide[kMaxLongEntries * kLongEntryChars + 1];
        ReadEntrySetName(slots, EntrySetStart(slots, i), i, wide, sizeof wide / sizeof wide[0]);
        std::memset(record.name, 0, sizeof record.name);
        WideToAnsi(wide, reinterpret_cast<char*>(record.name), sizeof record.name);
        const FatShortEntry& e = slot.entry;
        CopyEntryFieldsToRecord(e, record);
        walkIndex_ = i;
        ++walkReturned_;
        return 0;
    }
    return -1;
}

std::int32_t FatVolume::FindFirst(DirRecord& record)
{
    if (!IsMounted())
        return -1;
    const FatDirSlot* slots = reinterpret_cast<const FatDirSlot*>(root_.data());
    walkCount_ = 0;
    walkReturned_ = 0;
    for (std::uint32_t i = 0; i < RootSlots(); ++i) {
        if (slots[i].raw[0] != kSlotFree && slots[i].raw[11] != kAttrLongName)
            ++walkCount_;
    }
    if (walkCount_ == 0)
        return -1;
    return WalkFrom(0, record);
}

std::int32_t FatVolume::FindNext(DirRecord& record)
{
    if (!IsMounted() || walkReturned_ >= walkCount_)
        return -1;
    return WalkFrom(walkIndex_ + 1, record);
}

// ---- MMC/SD card ----

TransportStatus FatVolume::ReadSector(std::uint32_t sector, std::uint8_t* buffer)
{
    return PlayerPipes.CardReadSector(sector, {buffer, kCardSectorBytes});
}

TransportStatus FatVolume::ReadSectors(std::uint32_t sector, std::uint8_t* buffer)
{
    std::uint32_t count = card.sectorsPerBlock;
    return PlayerPipes.CardReadSectors(sector, {buffer, std::size_t{count} * kCardSectorBytes}, count);
}

TransportStatus FatVolume::WriteSector(std::uint32_t sector, const std::uint8_t* buffer)
{
    if (sector >= cardSectors_)
        return kTransportFailed;
    return PlayerPipes.CardWriteSector(sector, {buffer, kCardSectorBytes});
}

TransportStatus FatVolume::WriteSectors(std::uint32_t sector, const std::uint8_t* buffer)
{
    std::uint32_t count = card.sectorsPerBlock;
    if (count == 0 || std::uint64_t{sector} + count > cardSectors_)
        return kTransportFailed;
    return PlayerPipes.CardWriteSectors(sector, {buffer, std::size_t{count} * kCardSectorBytes}, count);
}

TransportStatus FatVolume::EraseSectors(std::uint32_t sector)
{
    std::uint32_t count = card.sectorsPerBlock;
    if (count == 0 || std::uint64_t{sector} + count > cardSectors_)
        return kTransportFailed;
    return PlayerPipes.CardErase(sector);
}

EngineStatus FatVolume::ReadMbr()
{
    std::uint8_t sector[kCardSectorBytes];
    if (ReadSector(0, sector) != kTransportOk)
        return kStatusUsbError;
    CardPartition p;
    if (ParseCardMbr(sector, p) != kStatusOk)
        return kStatusMbrError;
    // The sector card keeps the CHS values decoded: sector numbers without the cylinder's high bits.
    const std::uint8_t* e = sector + 446;
    partition_ = p;
    partition_.chs[1] = e[2] & 63;
    partition_.chs[2] = static_cast<std::uint8_t>(LoadLe16(e + 2) >> 6);
    partition_.chs[5] = e[6] & 63;
    partition_.chs[6] = static_cast<std::uint8_t>(LoadLe16(e + 6) >> 6);
    bootLocation_ = p.start;
    mbrLocation_ = 0;
    return kStatusOk;
}

EngineStatus FatVolume::ReadBootSector()
{
    if (ReadSector(bootLocation_, bootSector_.data()) != kTransportOk)
        return kStatusUsbError;
    CardBootFields f;
    if (ParseCardBootSector(bootSector_.data(), partition_.sectors, f) != kStatusOk)
        return kStatusPartitionError;
    card.sectorsPerBlock = f.sectorsPerCluster;
    boot_ = f;
    return kStatusOk;
}

EngineStatus FatVolume::LoadFat()
{
    fatBytes_ = std::size_t{boot_.sectorsPerFat} * kCardSectorBytes;
    fat_.reset(new (std::nothrow) std::uint8_t[fatBytes_]);
    fatShadow_.reset(new (std::nothrow) std::uint8_t[fatBytes_]);
    if (!fat_ || !fatShadow_) {
        fat_.reset();
        fatShadow_.reset();
        fatBytes_ = 0;
        return kStatusStorageFull;
    }
    fat1Location_ = bootLocation_ + boot_.reservedSectors;
    fat2Location_ = fat1Location_ + boot_.sectorsPerFat;
    shadowUnsure_ = false;
    for (std::uint32_t i = 0; i < boot_.sectorsPerFat; ++i) {
        std::uint8_t* at = fat_.get() + std::size_t{i} * kCardSectorBytes;
        if (ReadSector(fat1Location_ + i, at) != kTransportOk)
            return kStatusUsbError;
        std::memcpy(fatShadow_.get() + std::size_t{i} * kCardSectorBytes, at, kCardSectorBytes);
    }
    return kStatusOk;
}

EngineStatus FatVolume::LoadRootDirectory()
{
    rootLocation_ = fat1Location_ + 2u * boot_.sectorsPerFat;
    dataLocation_ = rootLocation_ + boot_.rootEntries / 16;
    root_.fill(0);
    for (std::uint32_t j = 0; j < boot_.rootEntries / 16u; ++j) {
        if (ReadSector(rootLocation_ + j, root_.data() + std::size_t{j} * kCardSectorBytes) != kTransportOk)
            return kStatusUsbError;
    }
    rootShadow_ = root_;
    return kStatusOk;
}

EngineStatus FatVolume::Mount()
{
    Unmount();
    sectorCard_ = true;
    EngineStatus status = ReadMbr();
    // A partition that does not lie on the card is refused before anything of it is read.
    if (status == kStatusOk && cardSectors_ != 0 &&
        (partition_.start == 0 || std::uint64_t{partition_.start} + partition_.sectors > cardSectors_))
        status = kStatusPartitionError;
    if (status == kStatusOk)
        status = ReadBootSector();
    if (status == kStatusOk)
        status = LoadFat();
    if (status == kStatusOk)
        status = LoadRootDirectory();
    if (status != kStatusOk) {
        Unmount();
        return status;
    }
    card.present = 1;
    return kStatusOk;
}

std::uint32_t FatVolume::FindFreeCluster()
{
    if (!IsMounted())
        return 0;
    for (std::uint32_t c = 2; c <= MaxCluster(); ++c) {
        if (GetFatEntry(c) == 0) {
            SetFatEntry(c, EndOfChainMark(boot_.fatType));
            return c;
        }
    }
    return 0;
}

std::uint32_t FatVolume::FreeClusters() const
{
    std::uint32_t n = 0;
    for (std::uint32_t c = 2; c <= MaxCluster(); ++c) {
        if (GetFatEntry(c) == 0)
            ++n;
    }
    return n;
}

bool FatVolume::CountFreeClusters(std::uint32_t& total, std::uint32_t& freeCount) const
{
    if (!IsMounted())
        return false;
    total = boot_.clusterCount;
    freeCount = FreeClusters();
    return true;
}

EngineStatus FatVolume::FlushFatSectorCard(bool rootFirst)
{
    if (!IsMounted() || !sectorCard_)
        return kStatusNoStorage;
    if (rootFirst && fatShadow_) {
        // The root's sectors go with the FAT as the card holds it; the changed FAT follows.
        std::unique_ptr<std::uint8_t[]> changed(new (std::nothrow) std::uint8_t[fatBytes_]);
        if (changed) {
            std::memcpy(changed.get(), fat_.get(), fatBytes_);
            std::memcpy(fat_.get(), fatShadow_.get(), fatBytes_);
            const EngineStatus status = FlushFatSectorCard(false);
            std::memcpy(fat_.get(), changed.get(), fatBytes_);
            if (status != kStatusOk)
                return status;
        }
    }
    // After a flush that failed part-way the card may hold either copy of a sector (FAT1 written, FAT2
    // not), whatever the shadow says: everything is written again.
    const bool rewriteAll = shadowUnsure_;
    shadowUnsure_ = true;
    for (std::uint32_t i = 0; i < boot_.sectorsPerFat; ++i) {
        std::size_t at = std::size_t{i} * kCardSectorBytes;
        if (!rewriteAll && std::memcmp(fat_.get() + at, fatShadow_.get() + at, kCardSectorBytes) == 0)
            continue;
        if (WriteSector(fat1Location_ + i, fat_.get() + at) != kTransportOk ||
            WriteSector(fat2Location_ + i, fat_.get() + at) != kTransportOk)
            return kStatusUsbError;
        std::memcpy(fatShadow_.get() + at, fat_.get() + at, kCardSectorBytes);
    }
    for (std::uint32_t j = 0; j < boot_.rootEntries / 16u; ++j) {
        std::size_t at = std::size_t{j} * kCardSectorBytes;
        if (!rewriteAll && std::memcmp(root_.data() + at, rootShadow_.data() + at, kCardSectorBytes) == 0)
            continue;
        if (WriteSector(rootLocation_ + j, root_.data() + at) != kTransportOk)
            return kStatusUsbError;
        std::memcpy(rootShadow_.data() + at, root_.data() + at, kCardSectorBytes);
    }
    shadowUnsure_ = false;
    return kStatusOk;
}

}  // namespace engine
