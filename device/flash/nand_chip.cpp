#include "device/flash/nand_chip.h"

#include <cstring>
#include <memory>
#include <new>

namespace engine {

std::array<NandChip, 8> NandChips;
NandChip CardChip;

namespace {
constexpr std::size_t kSpareWorkBytes = 256 * 1024;
constexpr std::uint8_t kZeroRecord[kSpareRecordBytes] = {};
}  // namespace

void NandChip::Rewind()
{
    row = 0;
    column = 0;
    sector = 0;
}

std::uint32_t NandChip::GetAddress() const
{
    return (std::uint32_t{row} << 16) | (std::uint32_t{sector} << 8) | column;
}

void NandChip::SetAddress(std::uint32_t address)
{
    column = static_cast<std::uint8_t>(address);
    sector = static_cast<std::uint8_t>(address >> 8);
    row = static_cast<std::uint16_t>(address >> 16);
}

void NandChip::AdvanceBlock()
{
    unsigned next = unsigned{sector} + sectorsPerBlock;
    if (next >= 256)
        ++row;
    sector = static_cast<std::uint8_t>(next);
}

std::uint16_t NandChip::WireRow() const
{
    return rowCount < 512 ? static_cast<std::uint16_t>(0xFF00 | (row & 0xFF)) : row;
}

std::uint8_t* NandChip::CursorRecord()
{
    return const_cast<std::uint8_t*>(static_cast<const NandChip*>(this)->CursorRecord());
}

const std::uint8_t* NandChip::CursorRecord() const
{
    if (sectorsPerBlock == 0 || row >= kSpareTableRows)
        return nullptr;
    std::size_t offset = std::size_t{row} * kSpareRowSlot + std::size_t{sector} / sectorsPerBlock * kSpareRecordBytes;
    if (offset + kSpareRecordBytes > (std::size_t{row} + 1) * kSpareRowSlot)
        return nullptr;
    return spareTable.data() + offset;
}

TransportStatus NandChip::ReadPage(std::span<std::uint8_t> data, std::span<std::uint8_t> spare)
{
    if (!pipes || data.size() < kUnitDataBytes || spare.size() < kUnitSpareBytes)
        return kTransportFailed;
    UsbTransferUnit unit;
    if (pipes->NandReadPage(chipSelect, column, sector, WireRow(), unit) != kTransportOk)
        return kTransportFailed;
    std::memcpy(data.data(), unit.data, kUnitDataBytes);
    std::memcpy(spare.data(), unit.spare, kUnitSpareBytes);
    return kTransportOk;
}

TransportStatus NandChip::ReadBlock(std::span<std::uint8_t> data)
{
    std::size_t pages = sectorsPerBlock;
    if (!pipes || pages == 0 || data.size() < pages * kUnitDataBytes)
        return kTransportFailed;
    std::unique_ptr<std::uint8_t[]> units(new (std::nothrow) std::uint8_t[pages * kUnitBytes]);
    if (!units)
        return kTransportFailed;
    if (pipes->NandReadPages(chipSelect, column, sector, WireRow(), {units.get(), pages * kUnitBytes},
                             static_cast<std::uint32_t>(pages)) != kTransportOk)
        return kTransportFailed;
    for (std::size_t i = 0; i < pages; ++i)
        std::memcpy(data.data() + i * kUnitDataBytes, units.get() + i * kUnitBytes, kUnitDataBytes);
    return kTransportOk;
}

TransportStatus NandChip::WritePage(std::span<const std::uint8_t> data, std::span<const std::uint8_t> spare)
{
    if (!pipes || data.size() < kUnitDataBytes || spare.size() < kUnitSpareBytes)
        return kTransportFailed;
    UsbTransferUnit unit{};
    std::memcpy(unit.data, data.data(), kUnitDataBytes);
    std::memcpy(unit.spare, spare.data(), kUnitSpareBytes);
    if (pipes->NandWritePage(chipSelect, column, sector, WireRow(), unit) != kTransportOk)
        return kTransportFailed;
    if (sectorsPerBlock && sector % sectorsPerBlock == 0) {
        if (std::uint8_t* record = CursorRecord())
            std::memcpy(record, unit.spare, kSpareRecordBytes);
    }
    return kTransportOk;
}

TransportStatus NandChip::BeginWrite()
{
    if (!pipes)
        return kTransportFailed;
    return pipes->NandBeginWrite(chipSelect, column, sector, WireRow(), sectorsPerBlock, largePage);
}

TransportStatus NandChip::WriteData(std::span<const std::uint8_t> units)
{
    if (!pipes)
        return kTransportFailed;
    TransportStatus result = pipes->NandWriteData(units, largePage);
    // The block's record is cached whatever the transfer gave; a failed write ends the operation.
    if (sectorsPerBlock && sector % sectorsPerBlock == 0 && units.size() >= kUnitDataBytes + kUnitSpareBytes) {
        if (std::uint8_t* record = CursorRecord())
            std::memcpy(record, units.data() + kUnitDataBytes, kSpareRecordBytes);
    }
    return result;
}

TransportStatus NandChip::EndWrite()
{
    return pipes ? pipes->NandEndWrite() : kTransportOk;
}

TransportStatus NandChip::EraseBlock(std::uint8_t& status)
{
    if (std::uint8_t* record = CursorRecord())
        std::memset(record, 0xFF, kSpareRecordBytes);
    if (!pipes)
        return kTransportFailed;
    return pipes->NandEraseBlock(chipSelect, column, sector, WireRow(), status);
}

void NandChip::MarkBadBlock()
{
    if (std::uint8_t* record = CursorRecord())
        std::memset(record, 0, kSpareRecordBytes);
    if (!pipes)
        return;
    UsbTransferUnit unit{};
    pipes->NandWritePage(chipSelect, column, sector, WireRow(), unit);
}

TransportStatus NandChip::LoadSpareTable()
{
    if (!pipes || sectorsPerBlock == 0 || 256 % sectorsPerBlock != 0 || rowCount > kSpareTableRows)
        return kTransportFailed;
    std::size_t perRow = 256 / sectorsPerBlock;
    std::size_t bytes = std::size_t{rowCount} * perRow * kSpareRecordBytes;
    if (bytes > kSpareWorkBytes)
        return kTransportFailed;
    std::unique_ptr<std::uint8_t[]> work(new (std::nothrow) std::uint8_t[kSpareWorkBytes]);
    if (!work)
        return kTransportFailed;

    Rewind();
    // The whole table: nothing of a larger chip loaded earlier survives, and rows the chip lacks read as bad.
    spareTable.fill(0);
    for (std::size_t r = 0; r < rowCount; ++r)
        std::memset(spareTable.data() + r * kSpareRowSlot, 0xFF, perRow * kSpareRecordBytes);
    if (pipes->NandReadSpare(chipSelect, {work.get(), kSpareWorkBytes}, static_cast<std::uint32_t>(perRow), rowCount) !=
        kTransportOk)
        return kTransportFailed;
    // The player sends the records packed, row after row.
    for (std::size_t r = 0; r < rowCount; ++r)
        std::memcpy(spareTable.data() + r * kSpareRowSlot, work.get() + r * perRow * kSpareRecordBytes,
                    perRow * kSpareRecordBytes);
    return kTransportOk;
}

bool NandChip::IsBlockUnused() const
{
    const std::uint8_t* record = CursorRecord();
    if (!record)
        record = kZeroRecord;
    return record[4] == 0xFF && record[5] == 0xFF;
}

bool NandChip::IsBadBlock() const
{
    const std::uint8_t* record = CursorRecord();
    if (!record)
        record = kZeroRecord;
    return record[5] != 0xFF;
}

bool NandChip::CheckSpareRecord() const
{
    const std::uint8_t* record = CursorRecord();
    if (!record)
        record = kZeroRecord;
    if (record[0] == 0xAA || record[0] == 0xEE)
        return true;
    for (std::size_t i = 0; i < kSpareRecordBytes; ++i) {
        if (record[i] != 0xFF)
            return false;
    }
    return true;
}

}  // namespace engine
