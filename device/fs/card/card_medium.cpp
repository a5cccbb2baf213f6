// The two kinds of card behind the volume's one medium interface.
#include "device/fs/card/card_medium.h"

#include "device/flash/card_spare.h"
#include "device/flash/card_translation.h"
#include "device/fs/card/card_volume.h"
#include "device/transport/device_pipes.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace engine {

namespace {

std::uint32_t ClusterBytesOf(const FatVolume& v)
{
    return std::uint32_t{v.card.sectorsPerBlock} * kCardSectorBytes;
}

bool IsDataCluster(const FatVolume& v, std::uint32_t cluster)
{
    return v.IsMounted() && cluster >= 2 && cluster <= v.MaxCluster();
}

}  // namespace

// ---- NAND-type card ----

CardBlockImage::CardBlockImage(std::uint32_t pages) : pages_(pages), units_(new (std::nothrow) UsbTransferUnit[pages])
{}

void CardBlockImage::Fill(std::uint8_t fill, const std::uint8_t* data, std::size_t bytes)
{
    std::memset(units_.get(), 0, sizeof(UsbTransferUnit) * pages_);
    for (std::uint32_t p = 0; p < pages_; ++p) {
        std::memset(units_[p].data, fill, kCardSectorBytes);
        const std::size_t at = std::size_t{p} * kCardSectorBytes;
        if (at < bytes)
            std::memcpy(units_[p].data, data + at, std::min(kCardSectorBytes, bytes - at));
    }
}

EngineStatus NandCardMedium::TransferFailed()
{
    volume_.MarkSpareRecordsStale();
    return kStatusUsbError;
}

EngineStatus NandCardMedium::ProgramBlock(std::uint32_t logical, CardBlockImage& image)
{
    NandChip& card = volume_.card;
    if (image.Pages() != card.sectorsPerBlock)
        return kStatusUsbError;
    for (std::uint32_t p = 0; p < image.Pages(); ++p)
        BuildCardSpare(image.units_[p].data, logical, image.units_[p].spare);
    const std::span<const std::uint8_t> units{reinterpret_cast<const std::uint8_t*>(image.units_.get()),
                                              sizeof(UsbTransferUnit) * image.Pages()};
    if (card.BeginWrite() != kTransportOk || card.WriteData(units) != kTransportOk || card.EndWrite() != kTransportOk)
        return TransferFailed();
    return kStatusOk;
}

EngineStatus NandCardMedium::ProgramPage(std::uint32_t logical, const std::uint8_t* data)
{
    std::uint8_t spare[kUnitSpareBytes];
    BuildCardSpare(data, logical, spare);
    return ProgramPage(data, spare);
}

EngineStatus NandCardMedium::ProgramPage(const std::uint8_t* data, const std::uint8_t* spare)
{
    if (volume_.card.WritePage({data, kCardSectorBytes}, {spare, kUnitSpareBytes}) != kTransportOk)
        return TransferFailed();
    return kStatusOk;
}

EngineStatus NandCardMedium::EraseBlock(bool& erased)
{
    NandChip& card = volume_.card;
    std::uint8_t status = 0;
    if (card.EraseBlock(status) != kTransportOk)
        return TransferFailed();
    erased = (status & 1) == 0;
    return erased ? kStatusOk : RetireBlock();
}

EngineStatus NandCardMedium::RetireBlock()
{
    return RetireCardBlock(volume_.card) ? kStatusOk : TransferFailed();
}

EngineStatus NandCardMedium::EraseBlock()
{
    bool erased = false;
    return EraseBlock(erased);
}

EngineStatus NandCardMedium::ReadCluster(std::uint32_t cluster, std::uint8_t* out)
{
    FatVolume& v = volume_;
    if (!IsDataCluster(v, cluster) || v.RefreshSpareRecords() != kStatusOk)
        return kStatusUsbError;
    // The search stays inside the cluster's zone; no block there means a damaged card.
    if (v.SeekCluster(cluster) != kCardBlockFound)
        return kStatusUsbError;
    if (v.card.ReadBlock({out, ClusterBytesOf(v)}) != kTransportOk)
        return TransferFailed();
    return kStatusOk;
}

EngineStatus NandCardMedium::WriteCluster(std::uint32_t cluster, const std::uint8_t* data, std::uint32_t bytes,
                                          std::uint8_t fill)
{
    FatVolume& v = volume_;
    if (!IsDataCluster(v, cluster) || bytes > ClusterBytesOf(v))
        return kStatusUsbError;
    CardBlockImage image(v.card.sectorsPerBlock);
    if (!image.Ok())
        return kStatusStorageFull;
    image.Fill(fill, data, bytes);
    const std::uint32_t logical = LogicalBlockOfCluster(cluster, v.dataStartSector_, v.card.sectorsPerBlock);
    v.blockNumber_ = logical;
    if (v.RefreshSpareRecords() != kStatusOk)
        return kStatusUsbError;

    // The new copy goes into an erased block of the zone before any old copy is erased, so a cut
    // leaves either the old or the new cluster on the card, never neither.
    const std::uint32_t zone = logical / kCardZoneBlocks;
    if (FindErasedCardBlock(v.card, ZoneSearchStart(zone), ZoneEndRow(v.card, zone)) != kCardBlockFound) {
        const CardBlockSearch r = v.AllocateBlock(cluster);  // no erased block left: the old copy is erased in place
        if (r == kCardBlockTransport)
            return TransferFailed();
        if (r != kCardBlockFound)
            return kStatusStorageFull;
    }
    const std::uint32_t written = v.card.GetAddress();
    if (EngineStatus status = ProgramBlock(logical, image); status != kStatusOk)
        return status;
    return EraseCopies(logical % kCardZoneBlocks, ZoneSearchStart(zone), ZoneEndRow(v.card, zone), written);
}

EngineStatus NandCardMedium::EraseCopies(std::uint32_t blockInZone, std::uint32_t from, std::uint32_t endRow,
                                         std::uint32_t keep)
{
    NandChip& card = volume_.card;
    card.SetAddress(from);
    while (FindCardBlock(card, blockInZone, endRow) == kCardBlockFound) {
        if (card.GetAddress() != keep) {
            if (EngineStatus status = EraseBlock(); status != kStatusOk)
                return status;
        }
        card.AdvanceBlock();
    }
    return kStatusOk;
}

EngineStatus NandCardMedium::TakeCluster(std::uint32_t& cluster, bool retry)
{
    FatVolume& v = volume_;
    cluster = 0;
    if (v.RefreshSpareRecords() != kStatusOk)
        return kStatusUsbError;
    for (std::uint32_t tries = 0; tries <= v.MaxCluster(); ++tries) {
        std::uint32_t c = v.FindFreeCluster();
        if (c < 2)
            return kStatusStorageFull;
        const CardBlockSearch r = v.AllocateBlock(c);
        if (r == kCardBlockFound) {
            cluster = c;
            return kStatusOk;
        }
        if (r == kCardBlockTransport) {
            v.SetFatEntry(c, 0);
            v.MarkSpareRecordsStale();
            return kStatusUsbError;
        }
        if (!retry) {
            v.SetFatEntry(c, 0);
            return kStatusStorageFull;
        }
        v.SetFatEntry(c, kFatBadCluster);
    }
    return kStatusStorageFull;
}

EngineStatus NandCardMedium::EraseCluster(std::uint32_t cluster)
{
    FatVolume& v = volume_;
    if (v.SeekCluster(cluster) != kCardBlockFound)
        return kStatusOk;  // no block holds it
    return EraseBlock();
}

EngineStatus NandCardMedium::Flush(bool rootFirst)
{
    return volume_.FlushNandSystemArea(rootFirst);
}

// ---- MMC/SD card ----

EngineStatus SectorCardMedium::ReadCluster(std::uint32_t cluster, std::uint8_t* out)
{
    FatVolume& v = volume_;
    if (!IsDataCluster(v, cluster))
        return kStatusUsbError;
    const std::uint64_t sector = v.dataLocation_ + std::uint64_t{cluster - 2} * v.card.sectorsPerBlock;
    if (sector > 0xFFFFFFFFu || v.ReadSectors(static_cast<std::uint32_t>(sector), out) != kTransportOk)
        return kStatusUsbError;
    return kStatusOk;
}

EngineStatus SectorCardMedium::WriteCluster(std::uint32_t cluster, const std::uint8_t* data, std::uint32_t bytes,
                                            std::uint8_t fill)
{
    FatVolume& v = volume_;
    const std::uint32_t cb = ClusterBytesOf(v);
    if (!IsDataCluster(v, cluster) || bytes > cb)
        return kStatusUsbError;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[cb]);
    if (!buffer)
        return kStatusStorageFull;
    std::memset(buffer.get(), fill, cb);
    std::memcpy(buffer.get(), data, bytes);
    const std::uint64_t sector = v.dataLocation_ + std::uint64_t{cluster - 2} * v.card.sectorsPerBlock;
    if (sector > 0xFFFFFFFFu || v.WriteSectors(static_cast<std::uint32_t>(sector), buffer.get()) != kTransportOk)
        return kStatusUsbError;
    return kStatusOk;
}

EngineStatus SectorCardMedium::TakeCluster(std::uint32_t& cluster, bool)
{
    cluster = volume_.FindFreeCluster();
    return cluster >= 2 ? kStatusOk : kStatusStorageFull;
}

EngineStatus SectorCardMedium::EraseCluster(std::uint32_t)
{
    return kStatusOk;  // a sector card's free clusters are simply written over
}

EngineStatus SectorCardMedium::Flush(bool rootFirst)
{
    return volume_.FlushFatSectorCard(rootFirst);
}

}  // namespace engine
