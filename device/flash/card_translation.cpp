#include "device/flash/card_translation.h"

#include "device/flash/card_spare.h"

#include <algorithm>

namespace engine {

std::optional<CardLayout> LookupCardLayout(std::uint32_t rowCount)
{
    switch (rowCount) {
    case 64:
        return CardLayout{48, 4, 16};
    case 128:
        return CardLayout{64, 4, 16};
    case 256:
        return CardLayout{64, 8, 16};
    case 512:
        return CardLayout{96, 8, 32};
    case 1024:
        return CardLayout{128, 16, 32};
    default:
        return std::nullopt;
    }
}

std::uint32_t LogicalBlockOfCluster(std::uint32_t cluster, std::uint32_t dataStartSector, std::uint32_t sectorsPerBlock)
{
    return cluster + dataStartSector / sectorsPerBlock - 2;
}

bool IsValidCardRecord(const std::uint8_t* r)
{
    return r && r[kSpareDataStatus] == 0xFF && r[kSpareBlockStatus] == 0xFF;
}

bool IsErasedCardRecord(const std::uint8_t* r)
{
    return IsValidCardRecord(r) && r[6] == 0xFF && r[7] == 0xFF && r[11] == 0xFF && r[12] == 0xFF;
}

bool IsCisCardRecord(const std::uint8_t* r)
{
    return IsValidCardRecord(r) && r[6] == 0 && r[7] == 0;
}

bool HoldsLogicalBlock(const std::uint8_t* r)
{
    return IsValidCardRecord(r) && !(r[6] == 0xFF && r[7] == 0xFF) && !(r[6] == 0 && r[7] == 0);
}

std::uint32_t ZoneSearchStart(std::uint32_t zone)
{
    return zone == 0 ? kCardZone0FirstSector << 8 : (zone * kCardZoneRows) << 16;
}

std::uint32_t ZoneEndRow(const NandChip& chip, std::uint32_t zone)
{
    return std::min<std::uint32_t>((zone + 1) * kCardZoneRows, chip.rowCount);
}

CardBlockSearch FindCardBlock(NandChip& chip, std::uint32_t blockInZone, std::uint32_t endRow)
{
    if (chip.sectorsPerBlock == 0)
        return kCardBlockNone;
    for (; chip.row < endRow; chip.AdvanceBlock()) {
        const std::uint8_t* r = chip.CursorRecord();
        if (HoldsLogicalBlock(r) && DecodeBlockAddress(r + kSpareAddress1) == blockInZone)
            return kCardBlockFound;
    }
    return kCardBlockNone;
}

CardBlockSearch SeekLogicalBlock(NandChip& chip, std::uint32_t logical)
{
    std::uint32_t zone = logical / kCardZoneBlocks;
    chip.Rewind();
    chip.SetAddress(ZoneSearchStart(zone));
    return FindCardBlock(chip, logical % kCardZoneBlocks, ZoneEndRow(chip, zone));
}

CardBlockSearch AllocateCardBlock(NandChip& chip, std::uint32_t logical)
{
    if (!chip.present || chip.sectorsPerBlock == 0)
        return kCardBlockNone;
    std::uint32_t zone = logical / kCardZoneBlocks;
    std::uint32_t end = ZoneEndRow(chip, zone);
    std::uint16_t field = BlockAddressField(logical);
    auto hi = static_cast<std::uint8_t>(field >> 8);
    auto lo = static_cast<std::uint8_t>(field);

    chip.SetAddress(ZoneSearchStart(zone));
    for (; chip.row < end; chip.AdvanceBlock()) {
        const std::uint8_t* r = chip.CursorRecord();
        if (!IsValidCardRecord(r) || r[6] != hi || r[7] != lo || r[11] != hi || r[12] != lo)
            continue;
        std::uint8_t status = 0;
        if (chip.EraseBlock(status) != kTransportOk)
            return kCardBlockTransport;
        if ((status & 1) == 0)
            return kCardBlockFound;
        if (!RetireCardBlock(chip))
            return kCardBlockTransport;
    }
    chip.SetAddress(ZoneSearchStart(zone));
    for (; chip.row < end; chip.AdvanceBlock()) {
        if (IsErasedCardRecord(chip.CursorRecord()))
            return kCardBlockFound;
    }
    chip.Rewind();
    return kCardBlockNone;
}

CardBlockSearch FindErasedCardBlock(NandChip& chip, std::uint32_t from, std::uint32_t endRow)
{
    if (chip.sectorsPerBlock == 0)
        return kCardBlockNone;
    chip.SetAddress(from);
    for (; chip.row < endRow; chip.AdvanceBlock()) {
        if (IsErasedCardRecord(chip.CursorRecord()))
            return kCardBlockFound;
    }
    return kCardBlockNone;
}

bool RetireCardBlock(NandChip& chip)
{
    chip.MarkBadBlock();
    return !chip.pipes || chip.pipes->IsOpen(DevicePipes::kPipeOut);
}

bool AdvanceToGoodBlock(NandChip& chip)
{
    if (chip.sectorsPerBlock == 0)
        return false;
    while (chip.row < chip.rowCount) {
        if (IsValidCardRecord(chip.CursorRecord()))
            return true;
        chip.AdvanceBlock();
    }
    return false;
}

}  // namespace engine
