// Geometry of the NAND chips the players carry, by (maker, device) id.
#pragma once

#include <cstdint>
#include <optional>

namespace engine {

struct NandGeometry {
    std::uint16_t rowCount;         // 128 KB rows
    std::uint16_t sectorsPerBlock;  // 16, 32 or 256
    std::uint32_t largePage;        // 1: 2112-byte chip pages
};

// Any chip of the table in an internal position.
std::optional<NandGeometry> LookupNandGeometry(std::uint8_t maker, std::uint8_t device);

// The card slot takes 16- and 32-sector chips only, never with large pages: the card layer's buffers
// and block arithmetic are made for those. Any other id there means no card.
std::optional<NandGeometry> LookupCardGeometry(std::uint8_t maker, std::uint8_t device);

// Erase blocks of a chip: rows x blocks per row.
inline std::uint32_t EraseBlocksOf(const NandGeometry& g)
{
    return std::uint32_t{g.rowCount} * (256u / g.sectorsPerBlock);
}

}  // namespace engine
