// The simulated NAND-type memory card in SmartMedia layout: spare records with block-address fields
// and Hamming ECC, zones of 1024 physical and 1000 logical blocks, the Card Information Structure, and
// the logical image (the card's FAT volume as sectors) written into the chip and read back out of it
// through the block-address map. The player's firmware keeps its own reading of this layout: nothing
// here is shared with the engine. Internal to sim/.
#pragma once

#include "sim/sim_nand.h"
#include "sim/simulated_player.h"  // CardImageAudit

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sim {

// The SmartMedia ECC of 256 data bytes: line parities in bytes 0 and 1, column parities in byte 2,
// all inverted.
std::array<std::uint8_t, 3> Ecc256(const std::uint8_t* data);

// The 16-bit block-address field of a logical block (taken modulo 1000): 0x1000 + 2 x number + parity.
std::uint16_t BlockAddressField(std::uint32_t logicalBlock);
// The block number of a well-formed field (fixed bits 00010, even parity, number below 1000).
std::optional<std::uint32_t> ParseBlockAddressField(std::uint16_t field);

// The spare record of a page of logical block `logicalBlock` holding `data` (512 bytes).
std::array<std::uint8_t, kSpareBytes> CardSpare(std::uint32_t logicalBlock, const std::uint8_t* data);

// The first 110 bytes of the first page of the card's CIS block.
extern const std::array<std::uint8_t, 110> kCardInformationStructure;

struct NandCardLayout {
    std::uint32_t rows = 0;
    std::uint32_t sectorsPerBlock = 0;  // 16 or 32
    std::uint32_t zones = 0;            // of 1000 logical blocks each
    std::uint32_t zoneBlocks = 0;       // physical blocks per zone (1024)
    std::uint32_t dataStart = 0;        // logical sector of cluster 2
    std::uint32_t heads = 0, sectorsPerTrack = 0;
    std::uint32_t LogicalSectors() const { return zones * 1000 * sectorsPerBlock; }
};

// The layout of a card chip: only chips of 16- or 32-sector blocks and 64 to 1024 rows can be cards.
std::optional<NandCardLayout> CardLayout(const NandGeometry& geometry);

// Writes a logical image (at most LogicalSectors() x 512 bytes, whole sectors) into the card: every
// usable block is erased, block 0 is retired (its first page programmed with zeros), the first usable
// block after it gets the CIS, and logical block L of each zone goes to the next usable physical block
// of that zone (zone 0: after the CIS) with every page carrying its spare record. Blocks past the
// image's end stay erased. Blocks that are bad or set to fail are skipped. False, with the chip
// unchanged, when the chip cannot be a card, the image does not fit, or a zone lacks usable blocks.
bool ImportCardImage(SimNandChip& chip, std::span<const std::uint8_t> image);

// The logical image (LogicalSectors() x 512 bytes): each logical block is the first valid block of its
// zone (block-status bytes 4 and 5 both 0xFF) whose address fields name it; blocks that no physical
// block holds read 0xFF. Nothing when the chip cannot be a card.
std::optional<std::vector<std::uint8_t>> ExportCardImage(const SimNandChip& chip, CardImageAudit* audit = nullptr);

// The system area of a freshly formatted card (logical sectors 0 .. dataStart - 1): master boot
// record, 0xFF sectors up to the partition, boot sector, two FATs and a 256-entry root directory, laid
// out as the system's own card format lays them.
std::vector<std::uint8_t> FormattedNandCardHead(const NandCardLayout& layout);

}  // namespace sim
