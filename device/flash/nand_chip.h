// One NAND chip behind the player: geometry, the cursor where the next command goes, the chip's
// chip-select mask, and a host copy of the 16-byte spare record of every erase block.
//
// Operations answer kTransportOk or kTransportFailed (the pipes are then closed).
#pragma once

#include "device/transport/command_block.h"
#include "device/transport/device_pipes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace engine {

inline constexpr std::size_t kSpareRecordBytes = 16;
inline constexpr std::size_t kSpareTableRows = 4096;  // 512 MB, the largest chip
inline constexpr std::size_t kSpareRowSlot = 256;     // room for 16 records per row
inline constexpr std::size_t kSpareTableBytes = kSpareTableRows * kSpareRowSlot;

struct NandChip {
    // Cursor; packs into the chip address row x 65536 + sector x 256 + column.
    std::uint16_t row = 0;
    std::uint8_t column = 0;
    std::uint8_t sector = 0;  // within the 256-sector row

    std::uint8_t present = 0;
    std::uint16_t rowCount = 0;
    std::uint16_t sectorsPerBlock = 0;
    std::uint8_t chipSelect = 0;
    // Record of erase block j of row r at r x 256 + j x 16.
    std::array<std::uint8_t, kSpareTableBytes> spareTable{};
    DevicePipes* pipes = nullptr;  // not owned
    std::uint32_t largePage = 0;

    void Rewind();
    std::uint32_t GetAddress() const;
    void SetAddress(std::uint32_t address);
    // Next erase block; a step past the end of the row carries into the next row.
    void AdvanceBlock();

    TransportStatus ReadPage(std::span<std::uint8_t> data, std::span<std::uint8_t> spare);
    // sectorsPerBlock pages from the cursor, their 512-byte data parts back to back.
    TransportStatus ReadBlock(std::span<std::uint8_t> data);
    TransportStatus WritePage(std::span<const std::uint8_t> data, std::span<const std::uint8_t> spare);
    // Block write of one erase block from its first sector: BeginWrite, WriteData with
    // sectorsPerBlock units of 576 bytes, EndWrite.
    TransportStatus BeginWrite();
    TransportStatus WriteData(std::span<const std::uint8_t> units);
    TransportStatus EndWrite();
    // Status bit 0 set: the erase failed.
    TransportStatus EraseBlock(std::uint8_t& status);
    void MarkBadBlock();
    TransportStatus LoadSpareTable();

    // Tests of the cursor block's record. A cursor outside the table reads as a record of zeros: used,
    // bad and not valid.
    // Bytes 4 and 5 erased: no file and no bad mark.
    bool IsBlockUnused() const;
    // Byte 5 (the bad-block mark) not erased.
    bool IsBadBlock() const;
    // A record the store can use: a file's block (byte 0 0xAA or 0xEE) or an erased record.
    bool CheckSpareRecord() const;

    // The cursor block's record in the spare table; null when the cursor lies outside the table.
    std::uint8_t* CursorRecord();
    const std::uint8_t* CursorRecord() const;

    // The row as the player takes it: chips of fewer than 512 rows get 0xFF as the high byte.
    std::uint16_t WireRow() const;
};

// The internal chips (positions 0..6 of a player) and the record of a NAND-type memory card.
extern std::array<NandChip, 8> NandChips;
extern NandChip CardChip;

}  // namespace engine
