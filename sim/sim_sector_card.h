// The simulated MMC/SD sector card: 512-byte sectors kept sparsely, the CSD register that tells its size,
// the CRC-16 that guards single-sector writes, the cluster size the player reads off the card's FAT
// volume, a freshly formatted system area, and the card image file. Internal to sim/.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace sim {

inline constexpr std::uint32_t kCardSectorBytes = 512;
// The host computes the capacity in 32 bits, so 2 GiB is the largest card it can be told about.
inline constexpr std::uint32_t kSectorCardMaxSectors = 4194304;
// The largest cluster a FAT volume of 512-byte sectors has, and so the largest multi-sector transfer.
inline constexpr std::uint32_t kCardMaxRunSectors = 128;

// CRC-16 as XMODEM computes it: polynomial 0x1021, initial value 0, most significant bit first.
std::uint16_t Crc16Xmodem(const std::uint8_t* data, std::size_t n);

// Bytes 40-55 of the information block for a card of `sectors` sectors: a version 1.0 CSD whose
// READ_BL_LEN, C_SIZE_MULT and C_SIZE give (C_SIZE + 1) x 2^(C_SIZE_MULT + 2) x 2^READ_BL_LEN bytes,
// sent as four little-endian 32-bit words, most significant word first. Nothing when no such fields
// give exactly that size (zero, above 2 GiB, or not a multiple of 4 sectors).
std::optional<std::array<std::uint8_t, 16>> CsdForSectors(std::uint32_t sectors);

class SimSectorCard {
public:
    explicit SimSectorCard(std::uint32_t sectors);

    std::uint32_t Sectors() const { return sectors_; }

    // `count` sectors from `first` into out (count x 512 bytes); false (nothing read) past the card's end.
    bool Read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) const;
    // Writes `count` sectors; false (nothing written) past the card's end.
    bool Write(std::uint32_t first, std::uint32_t count, const std::uint8_t* data);
    // Sets `count` sectors to zero, the value an erased sector reads; false past the card's end.
    bool Erase(std::uint32_t first, std::uint32_t count);

    bool Dirty() const { return dirty_; }
    void SetDirty(bool dirty) { dirty_ = dirty; }

    // Card image file (layout in sim_sector_card.cpp). ReadImage gives null when the file is not an
    // image of a card of `sectors` sectors.
    bool WriteImage(const std::filesystem::path& file) const;
    static std::unique_ptr<SimSectorCard> ReadImage(const std::filesystem::path& file, std::uint32_t sectors);

private:
    static constexpr std::uint32_t kChunkSectors = 128;
    std::uint8_t* ChunkFor(std::uint32_t sector);  // allocates the chunk (zeroed) on first use

    std::uint32_t sectors_;
    std::vector<std::vector<std::uint8_t>> chunks_;  // empty = all zero; else kChunkSectors x 512 bytes
    bool dirty_ = true;
};

// Sectors per cluster of the FAT volume the player finds on the card, the way the host mounts it:
// sector 0 ends in 0x55 0xAA, partition entry 1 gives the first sector of the volume, and the boot
// sector there ends in 0x55 0xAA with 1 to 128 sectors per cluster. 0 when there is no such volume.
std::uint32_t VolumeClusterSectors(const SimSectorCard& card);

// The first sectors of a freshly formatted card of `sectors` sectors (master boot record, boot
// sector, two FATs and a 512-entry root directory; the data area is not included), or nothing when
// the card is too small to hold a volume.
std::optional<std::vector<std::uint8_t>> FormattedSectorCardHead(std::uint32_t sectors);

}  // namespace sim
