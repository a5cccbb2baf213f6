#include "device/fs/card/format_builder.h"

#include "device/fs/card/card_volume.h"
#include "device/transport/byte_order.h"

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

constexpr std::uint32_t kSectorBytes = 512;
constexpr std::uint32_t kMbrBootCodeBytes = 446;
// The FAT size settles in two or three rounds; the bound only guards against a pair of sizes that
// keep producing each other.
constexpr int kMaxLayoutRounds = 8;

// The master boot record every card format starts from: four empty partition entries and the
// signature. Its boot code is ours and does one thing: a PC that tries to start from the card gets
// INT 18h ("no bootable disk") and halts, instead of running whatever bytes happen to be there.
constexpr std::array<std::uint8_t, kSectorBytes> MakeMbrTemplate()
{
    std::array<std::uint8_t, kSectorBytes> mbr{};
    constexpr std::uint8_t kBootCode[] = {
        0xCD, 0x18,  // int 18h
        0xF4,        // hlt
        0xEB, 0xFD,  // jmp back to the hlt
    };
    for (std::size_t i = 0; i < sizeof kBootCode; ++i)
        mbr[i] = kBootCode[i];
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    return mbr;
}
constexpr std::array<std::uint8_t, kSectorBytes> kMbrTemplate = MakeMbrTemplate();
static_assert(kMbrBootCodeBytes + 4 * 16 + 2 == kSectorBytes);

std::uint32_t CeilDiv(std::uint64_t a, std::uint64_t b)
{
    return static_cast<std::uint32_t>((a + b - 1) / b);
}

// FAT sectors that index entries 0 .. clusterBound.
std::uint32_t FatSectorsFor(std::uint64_t clusterBound, std::uint32_t bits)
{
    return CeilDiv((clusterBound + 1) * bits, std::uint64_t{kSectorBytes} * 8);
}

// A CHS triple in the partition entry's three bytes; cylinders past 1023 are given as 1023, as is
// usual for addresses that CHS cannot reach.
void PutChs(std::uint8_t* p, std::uint32_t head, std::uint32_t sector, std::uint32_t cylinder)
{
    cylinder = std::min<std::uint32_t>(cylinder, 1023);
    p[0] = static_cast<std::uint8_t>(head);
    p[1] = static_cast<std::uint8_t>((sector & 63) | ((cylinder >> 8) << 6));
    p[2] = static_cast<std::uint8_t>(cylinder);
}

}  // namespace

const FormatGeometry& SelectFormatGeometry(std::uint32_t capacityBytes)
{
    for (const FormatGeometry& row : kFormatGeometry) {
        if (row.capacityLimit >= capacityBytes)
            return row;
    }
    return kFormatGeometry.back();
}

bool FatFormatBuilder::PlaceSystemArea(std::uint32_t bits)
{
    const std::uint32_t spc = sectorsPerCluster;
    const std::uint32_t unit = geometry.boundaryUnit;
    std::uint32_t fat = CeilDiv(std::uint64_t{totalSectors / spc} * bits, std::uint64_t{kSectorBytes} * 8);
    // Reserved sector, FATs and root, then the partition start that puts the data area on a boundary.
    auto place = [&](std::uint32_t f) {
        systemSectors = reservedSectors + 2 * f + rootSectors;
        std::uint32_t p = unit * (systemSectors / unit + 1) - systemSectors;
        if (p != unit)
            p += unit;
        partitionStart = p;
        std::uint64_t used = std::uint64_t{p} + systemSectors;
        if (totalSectors < used + spc)
            return false;
        clusterBound = static_cast<std::uint32_t>((totalSectors - used) / spc + 1);
        return true;
    };
    for (int round = 0; round < kMaxLayoutRounds; ++round) {
        if (!place(fat))
            return false;
        std::uint32_t need = FatSectorsFor(clusterBound, bits);
        if (need == fat) {
            fatSectors = fat;
            return true;
        }
        // Without a fixed point the last round takes the larger size: a larger FAT only moves the data
        // area on and leaves no more clusters, so it still indexes every one.
        fat = round + 1 < kMaxLayoutRounds ? need : std::max(fat, need);
    }
    fatSectors = fat;
    return place(fat);
}

bool FatFormatBuilder::ComputeParameters(std::uint32_t capacityBytes, std::uint32_t rootEntryCount)
{
    *this = FatFormatBuilder{};
    geometry = SelectFormatGeometry(capacityBytes);
    capacity = std::min(capacityBytes, kMaxFormatBytes);
    totalSectors = capacity / kSectorBytes;
    rootEntries = rootEntryCount;
    reservedSectors = 1;
    heads = geometry.heads;
    sectorsPerTrack = geometry.sectorsPerTrack;
    sectorsPerCluster = geometry.sectorsPerCluster;
    rootSectors = CeilDiv(std::uint64_t{rootEntries} * 32, kSectorBytes);

    fatBits = geometry.fatBits;
    if (!PlaceSystemArea(fatBits))
        return false;
    if (fatBits == 12 && ClusterCount() > kFat12MaxClusters) {
        fatBits = 16;
        if (!PlaceSystemArea(fatBits))
            return false;
    }
    // Neither width fits the cluster count exactly (a few sizes just under 64 MiB): FAT12 with the
    // volume ending after its largest cluster count.
    std::uint32_t maxClusters = 0;
    if (fatBits == 16 && ClusterCount() <= kFat12MaxClusters) {
        fatBits = 12;
        if (!PlaceSystemArea(fatBits))
            return false;
        maxClusters = kFat12MaxClusters;
    } else if (fatBits == 16 && ClusterCount() > kFat16MaxClusters) {
        maxClusters = kFat16MaxClusters;
    }
    if (maxClusters != 0 && ClusterCount() > maxClusters) {
        totalSectors = partitionStart + systemSectors + maxClusters * sectorsPerCluster;
        clusterBound = maxClusters + 1;
    }

    cylinders = totalSectors / sectorsPerTrack / heads;
    BuildPartitionEntry();
    BuildBootSector();
    return true;
}

void FatFormatBuilder::LoadMbrTemplate()
{
    mbr = kMbrTemplate;
}

void FatFormatBuilder::BuildPartitionEntry()
{
    LoadMbrTemplate();
    std::uint8_t* e = mbr.data() + kMbrBootCodeBytes;
    e[0] = 0x80;
    // CHS sectors count from 1.
    std::uint32_t track = partitionStart / sectorsPerTrack;
    PutChs(e + 1, track % heads, partitionStart % sectorsPerTrack + 1, track / heads);
    std::uint32_t n = VolumeSectors();
    // The type goes by the sector count alone, as the players expect it (a 48 MiB FAT12 volume is 0x06).
    e[4] = n < 32680 ? 0x01 : n < 65536 ? 0x04 : 0x06;
    PutChs(e + 5, heads - 1, sectorsPerTrack & 63, cylinders != 0 ? cylinders - 1 : 0);
    StoreLe32(e + 8, partitionStart);
    StoreLe32(e + 12, n);
}

void FatFormatBuilder::BuildBootSector()
{
    std::uint8_t* b = bootSector.data();
    bootSector.fill(0);
    b[0] = 0xE9;
    std::memcpy(b + 3, "KWEPCTRL", 8);
    StoreLe16(b + 11, kSectorBytes);
    b[13] = static_cast<std::uint8_t>(sectorsPerCluster);
    StoreLe16(b + 14, static_cast<std::uint16_t>(reservedSectors));
    b[16] = 2;
    StoreLe16(b + 17, static_cast<std::uint16_t>(rootEntries));
    b[21] = 0xF8;
    StoreLe16(b + 22, static_cast<std::uint16_t>(fatSectors));
    StoreLe16(b + 24, static_cast<std::uint16_t>(sectorsPerTrack));
    StoreLe16(b + 26, static_cast<std::uint16_t>(heads));
    StoreLe32(b + 28, partitionStart);
    StoreLe32(b + 32, VolumeSectors());
    b[36] = 0x80;
    b[38] = 0x29;
    StoreLe32(b + 39, kFormatSerialNumber);
    std::memcpy(b + 43, "KWEP VOLUME", 11);
    std::memcpy(b + 54, fatBits == 16 ? "FAT16   " : "FAT12   ", 8);
    b[510] = 0x55;
    b[511] = 0xAA;
}

}  // namespace engine
