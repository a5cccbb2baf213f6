// Block translation of a NAND-type memory card: the card layout by size, zones of 1000 logical blocks
// in 128 rows, and the searches that find the erase block of a logical block by the address field
// that its spare record carries. Every walk stays inside the chip's rows.
#pragma once

#include "device/flash/nand_chip.h"

#include <cstdint>
#include <optional>

namespace engine {

inline constexpr std::uint32_t kCardZoneRows = 128;
inline constexpr std::uint32_t kCardZone0FirstSector = 64;  // the card's first 64 sectors hold no data

struct CardLayout {
    std::uint32_t dataStartSector;  // sector of cluster 2
    std::uint32_t heads;
    std::uint32_t sectorsPerTrack;
};

// Layout of a card of 64, 128, 256, 512 or 1024 rows; nothing for any other size.
std::optional<CardLayout> LookupCardLayout(std::uint32_t rowCount);

// Logical block of a cluster (one erase block per cluster): cluster + dataStart / sectorsPerBlock - 2.
std::uint32_t LogicalBlockOfCluster(std::uint32_t cluster, std::uint32_t dataStartSector,
                                    std::uint32_t sectorsPerBlock);

// Tests of a cached spare record.
bool IsValidCardRecord(const std::uint8_t* record);   // bytes 4 and 5 are 0xFF
bool IsErasedCardRecord(const std::uint8_t* record);  // 0xFF at 4, 5 and both address fields
bool IsCisCardRecord(const std::uint8_t* record);     // valid, 0x00 at 6 and 7
// Valid and carrying a block address (neither an erased field nor the information structure's).
bool HoldsLogicalBlock(const std::uint8_t* record);

// Results of the searches.
enum CardBlockSearch : int {
    kCardBlockFound = 0,
    kCardBlockNone = -1,
    kCardBlockTransport = -2,  // a transfer failed; the pipes are closed
};

// Cursor address at which the search of zone `zone` starts, and the row after the zone's last (never
// past the chip's rows).
std::uint32_t ZoneSearchStart(std::uint32_t zone);
std::uint32_t ZoneEndRow(const NandChip& chip, std::uint32_t zone);

// From the cursor, block by block up to endRow: leaves the cursor on the first block that holds logical
// block `blockInZone` (0..999) and answers kCardBlockFound, else kCardBlockNone (cursor at the end).
CardBlockSearch FindCardBlock(NandChip& chip, std::uint32_t blockInZone, std::uint32_t endRow);

// The block of logical block `logical` within its zone (cursor on its first sector).
CardBlockSearch SeekLogicalBlock(NandChip& chip, std::uint32_t logical);

// Chooses the erase block that logical block `logical` is to be written to and erases it when it held
// the block before: first the zone's block carrying exactly this address field (a failed erase retires
// it and the search goes on), else the zone's first erased block. Cursor on the block's first sector.
CardBlockSearch AllocateCardBlock(NandChip& chip, std::uint32_t logical);

// From the chip address `from`, block by block up to endRow: cursor on the first erased block.
CardBlockSearch FindErasedCardBlock(NandChip& chip, std::uint32_t from, std::uint32_t endRow);

// Retires the cursor block; false when the mark could not be sent (the pipes were closed by the failure).
bool RetireCardBlock(NandChip& chip);

// Moves the cursor block by block until the cursor block is valid or the chip's rows end (false).
bool AdvanceToGoodBlock(NandChip& chip);

}  // namespace engine
