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

EngineStatus NandCardMedium::ReadCluster(std::uint32_t cluster, std::uint8_t* out)
{
    FatVolume& v = volume_;
    if (!IsDataCluster(v, cluster) || v.RefreshSpareRecords() != kStatusOk)
        return kStatusUsbError;
    // The search stays inside the cluster's zone; no block there means a damaged card.
    if (v.SeekCluster(cluster) != kCardBlockFound)
        return kStatusUsbError;
    if (v.card.ReadBlock({out, ClusterBytesOf(v)}) != kTransportOk) {
        v.MarkSpareRecordsStale();
        return kStatusUsbError;
    }
    return kStatusOk;
}

EngineStatus NandCardMedium::WriteCluster(std::uint32_t cluster, const std::uint8_t* data, std::uint32_t bytes,
                                          std::uint8_t fill)
{
    FatVolume& v = volume_;
    if (!IsDataCluster(v, cluster) || bytes > ClusterBytesOf(v))
        return kStatusUsbError;
    const std::uint32_t s = v.card.sectorsPerBlock;
    std::unique_ptr<UsbTransferUnit[]> units(new (std::nothrow) UsbTransferUnit[s]);
    if (!units)
        return kStatusStorageFull;
    const std::uint32_t logical = LogicalBlockOfCluster(cluster, v.dataStartSector_, s);
    v.blockNumber_ = logical;
    std::memset(units.get(), 0, sizeof(UsbTransferUnit) * s);
    for (std::uint32_t p = 0; p < s; ++p) {
        std::uint8_t* unit = units[p].data;
        std::memset(unit, fill, kCardSectorBytes);
        std::uint32_t at = p * kCardSectorBytes;
        if (at < bytes)
            std::memcpy(unit, data + at, std::min<std::uint32_t>(kCardSectorBytes, bytes - at));
        BuildCardSpare(unit, logical, units[p].spare);
    }
    if (v.RefreshSpareRecords() != kStatusOk)
        return kStatusUsbError;
    auto failed = [&v] {
        v.MarkSpareRecordsStale();
        return kStatusUsbError;
    };

    // The new copy goes into an erased block of the zone before any old copy is erased, so a cut
    // leaves either the old or the new cluster on the card, never neither.
    const std::uint32_t zone = logical / kCardZoneBlocks;
    const std::uint32_t endRow = ZoneEndRow(v.card, zone);
    if (FindErasedCardBlock(v.card, ZoneSearchStart(zone), endRow) != kCardBlockFound) {
        const CardBlockSearch r = v.AllocateBlock(cluster);  // no erased block left: the old copy is erased in place
        if (r == kCardBlockTransport)
            return failed();
        if (r != kCardBlockFound)
            return kStatusStorageFull;
    }
    const std::uint32_t written = v.card.GetAddress();
    if (v.card.BeginWrite() != kTransportOk ||
        v.card.WriteData({reinterpret_cast<const std::uint8_t*>(units.get()), sizeof(UsbTransferUnit) * s}) !=
            kTransportOk ||
        v.card.EndWrite() != kTransportOk)
        return failed();
    v.card.SetAddress(ZoneSearchStart(zone));
    while (FindCardBlock(v.card, logical % kCardZoneBlocks, endRow) == kCardBlockFound) {
        if (v.card.GetAddress() != written) {
            std::uint8_t status = 0;
            if (v.card.EraseBlock(status) != kTransportOk || ((status & 1) && !RetireCardBlock(v.card)))
                return failed();
        }
        v.card.AdvanceBlock();
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
    std::uint8_t status = 0;
    if (v.card.EraseBlock(status) != kTransportOk || ((status & 1) && !RetireCardBlock(v.card))) {
        v.MarkSpareRecordsStale();
        return kStatusUsbError;
    }
    return kStatusOk;
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
