// The parameters of a new FAT12/FAT16 volume on an MMC/SD card: a geometry row chosen by the card's
// capacity, the FAT size and the partition start, the master boot record with partition entry 1, and
// the boot sector.
//
// The FAT type always agrees with the cluster count, which is what every FAT reader goes by: a row's
// FAT12 turns into FAT16 at 4085 clusters or more, and a volume that fits neither type with the row's
// cluster size is trimmed to the largest cluster count its type allows. Capacities past 2 GiB are
// formatted as 2 GiB (the largest FAT16 volume of 64-sector clusters); capacities too small for the
// system area and one cluster are refused.
#pragma once

#include <array>
#include <cstdint>

namespace engine {

struct FormatGeometry {
    std::uint32_t capacityLimit;  // bytes
    std::uint16_t heads;
    std::uint16_t sectorsPerTrack;
    std::uint16_t sectorsPerCluster;
    std::uint16_t boundaryUnit;  // sectors; the data area starts on a multiple of it
    std::uint8_t fatBits;
};

inline constexpr std::array<FormatGeometry, 11> kFormatGeometry = {{
    {2097152u, 2, 16, 16, 16, 12},
    {4194304u, 2, 32, 16, 16, 12},
    {8388608u, 2, 32, 16, 16, 12},
    {16777216u, 2, 32, 32, 32, 12},
    {33554432u, 4, 32, 32, 32, 12},
    {67108864u, 8, 32, 32, 32, 12},
    {134217728u, 8, 32, 32, 64, 16},
    {268435456u, 16, 32, 32, 64, 16},
    {536870912u, 32, 63, 32, 128, 16},
    {1073741824u, 64, 63, 32, 128, 16},
    {2147483648u, 128, 63, 64, 128, 16},
}};

// The first row whose limit is at least the capacity; the last row past every limit.
const FormatGeometry& SelectFormatGeometry(std::uint32_t capacityBytes);

inline constexpr std::uint32_t kMaxFormatBytes = 2147483648u;
inline constexpr std::uint32_t kFormatSerialNumber = 0xA1B2C3D4u;

class FatFormatBuilder {
public:
    // Fills every field, the master boot record and the boot sector. false when the capacity cannot
    // hold the system area and one cluster (the fields are then not to be used).
    bool ComputeParameters(std::uint32_t capacityBytes, std::uint32_t rootEntryCount);

    const std::uint8_t* PartitionEntry() const { return mbr.data() + 446; }
    const std::uint8_t* BootSector() const { return bootSector.data(); }
    // Sectors of the volume (from the partition start to its end) and its data clusters.
    std::uint32_t VolumeSectors() const { return totalSectors - partitionStart; }
    std::uint32_t ClusterCount() const { return clusterBound - 1; }

    std::uint32_t capacity = 0;      // bytes formatted (the card's capacity, at most kMaxFormatBytes)
    std::uint32_t totalSectors = 0;  // the card's sectors the volume ends within
    std::uint32_t rootEntries = 0;
    std::uint32_t reservedSectors = 1;
    std::uint32_t cylinders = 0;
    std::uint32_t heads = 0;
    std::uint32_t sectorsPerTrack = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t fatSectors = 0;
    std::uint32_t rootSectors = 0;
    std::uint32_t systemSectors = 0;  // boot sector, both FATs and the root directory
    std::uint32_t partitionStart = 0;
    std::uint32_t clusterBound = 0;  // highest cluster number
    std::uint32_t fatBits = 0;       // 12 or 16, as the volume is laid out
    std::array<std::uint8_t, 512> mbr{};
    std::array<std::uint8_t, 512> bootSector{};
    FormatGeometry geometry{};

private:
    // Lays the volume out for a FAT width: FAT size, partition start and cluster bound; false when no
    // cluster fits.
    bool PlaceSystemArea(std::uint32_t bits);
    void LoadMbrTemplate();
    void BuildPartitionEntry();
    void BuildBootSector();
};

}  // namespace engine
