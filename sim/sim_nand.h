// The simulated player's NAND chips: geometry by (maker, device) id, page storage with a 16-byte spare
// per 512-byte sector, program that only clears bits, block erase, bad and failing blocks, and the
// chip image file. Internal to sim/.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace sim {

inline constexpr std::size_t kSectorDataBytes = 512;
inline constexpr std::size_t kSpareBytes = 16;
inline constexpr std::size_t kSectorBytes = kSectorDataBytes + kSpareBytes;  // 528
inline constexpr std::uint32_t kSectorsPerRow = 256;                         // a row is 128 KB

using SectorBytes = std::array<std::uint8_t, kSectorBytes>;

struct NandGeometry {
    std::uint32_t rows = 0;             // 128 KB rows
    std::uint32_t sectorsPerBlock = 0;  // 16, 32 or 256
    bool largePage = false;             // 2112-byte chip pages (four sectors each)
};

// The chip the player finds behind a (maker, device) pair; nothing for a pair it does not know.
std::optional<NandGeometry> GeometryForId(std::uint8_t maker, std::uint8_t device);

// Per-block state kept beside the pages.
enum BlockFlag : std::uint8_t {
    kBlockBad = 1,           // worn out: the bad-block byte is cleared and erases fail
    kBlockEraseFails = 2,    // erases report failure and change nothing
    kBlockProgramFails = 4,  // programs change nothing
};

class SimNandChip {
public:
    SimNandChip(std::uint8_t maker, std::uint8_t device, const NandGeometry& geometry);

    std::uint8_t Maker() const { return maker_; }
    std::uint8_t Device() const { return device_; }
    const NandGeometry& Geometry() const { return geometry_; }
    std::uint32_t SectorCount() const { return geometry_.rows * kSectorsPerRow; }
    std::uint32_t BlockCount() const { return SectorCount() / geometry_.sectorsPerBlock; }

    // One sector (data then spare); 0xFF beyond the chip.
    SectorBytes Read(std::uint32_t sector) const;
    // The spare bytes of one sector; 0xFF beyond the chip.
    std::array<std::uint8_t, kSpareBytes> Spare(std::uint32_t sector) const;

    // Programs one sector: every stored bit is ANDed with the new one. False when the block's
    // programs fail or the sector is beyond the chip (nothing changes then).
    bool Program(std::uint32_t sector, const std::uint8_t* data, const std::uint8_t* spare);
    // Erases one block to 0xFF. False when the block is bad or set to fail (nothing changes then).
    bool Erase(std::uint32_t block);
    // Stores one sector exactly as given (test set-up, bypassing the chip rules).
    void Poke(std::uint32_t sector, const SectorBytes& bytes);

    std::uint8_t Flags(std::uint32_t block) const;
    void SetFlags(std::uint32_t block, std::uint8_t flags);
    // A factory or grown bad block: byte 5 of every sector's spare cleared, erases fail from now on.
    void MarkBad(std::uint32_t block);

    bool Dirty() const { return dirty_; }
    void SetDirty(bool dirty) { dirty_ = dirty; }

    // Chip image file (layout in sim_nand.cpp). ReadImage gives null when the file is not an image
    // of a chip with this id and geometry.
    bool WriteImage(const std::filesystem::path& file) const;
    static std::unique_ptr<SimNandChip> ReadImage(const std::filesystem::path& file, std::uint8_t maker,
                                                  std::uint8_t device);

private:
    std::uint8_t* SectorPtr(std::uint32_t sector);  // allocates the block (erased) on first use

    std::uint8_t maker_, device_;
    NandGeometry geometry_;
    std::vector<std::vector<std::uint8_t>> blocks_;  // empty = erased; else sectorsPerBlock x 528 bytes
    std::vector<std::uint8_t> flags_;                // BlockFlag bits per block
    bool dirty_ = true;
};

}  // namespace sim
