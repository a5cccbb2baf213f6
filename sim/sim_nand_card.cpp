#include "sim/sim_nand_card.h"

#include "sim/sim_bytes.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace sim {
namespace {

constexpr std::uint32_t kLogicalBlocksPerZone = 1000;
constexpr std::uint32_t kZoneRows = 128;

// Everything that depends on the card's size: where cluster 2 starts, the disk geometry, and the
// partition and FAT of the system's own card format.
struct CardRow {
    std::uint32_t rows, dataStart, heads, sectorsPerTrack;
    std::uint8_t startHead, startSector, type, endHead, endSectorByte, endCylinderByte;
    std::uint16_t fatSectors;
    bool fat16;
};
// clang-format off
constexpr CardRow kCardRows[] = {
    {64, 48, 4, 16, 1, 10, 1, 3, 0x10, 0xF9, 3, false},
    {128, 64, 4, 16, 2, 10, 1, 3, 0x50, 0xF3, 3, false},
    {256, 64, 8, 16, 2, 4, 1, 7, 0x50, 0xF3, 6, false},
    {512, 96, 8, 32, 1, 24, 1, 7, 0x60, 0xF3, 12, false},
    {1024, 128, 16, 32, 1, 16, 6, 15, 0x60, 0xF3, 32, true},
};
// clang-format on

const CardRow* RowFor(std::uint32_t rows)
{
    for (const auto& row : kCardRows)
        if (row.rows == rows)
            return &row;
    return nullptr;
}

bool Usable(const SimNandChip& chip, std::uint32_t block)
{
    return (chip.Flags(block) & (kBlockBad | kBlockEraseFails | kBlockProgramFails)) == 0;
}

std::uint16_t GetBe16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void PutBe16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void PutEccs(std::array<std::uint8_t, kSpareBytes>& spare, const std::uint8_t* data)
{
    const auto first = Ecc256(data), second = Ecc256(data + 256);
    std::copy(second.begin(), second.end(), spare.begin() + 8);
    std::copy(first.begin(), first.end(), spare.begin() + 13);
}

}  // namespace

const std::array<std::uint8_t, 110> kCardInformationStructure = {
    0x01, 0x03, 0xD9, 0x01, 0xFF, 0x18, 0x02, 0xDF, 0x01, 0x20, 0x04, 0x00, 0x00, 0x00, 0x00, 0x21, 0x02, 0x04, 0x01,
    0x22, 0x02, 0x01, 0x01, 0x22, 0x03, 0x02, 0x04, 0x07, 0x1A, 0x05, 0x01, 0x03, 0x00, 0x02, 0x0F, 0x1B, 0x08, 0xC0,
    0xC0, 0xA1, 0x01, 0x55, 0x08, 0x00, 0x20, 0x1B, 0x0A, 0xC1, 0x41, 0x99, 0x01, 0x55, 0x64, 0xF0, 0xFF, 0xFF, 0x20,
    0x1B, 0x0C, 0x82, 0x41, 0x18, 0xEA, 0x61, 0xF0, 0x01, 0x07, 0xF6, 0x03, 0x01, 0xEE, 0x1B, 0x0C, 0x83, 0x41, 0x18,
    0xEA, 0x61, 0x70, 0x01, 0x07, 0x76, 0x03, 0x01, 0xEE, 0x15, 0x14, 0x05, 0x00, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x00, 0x20, 0x20, 0x20, 0x20, 0x00, 0x30, 0x2E, 0x30, 0x00, 0xFF, 0x14, 0x00, 0xFF,
};

std::array<std::uint8_t, 3> Ecc256(const std::uint8_t* data)
{
    // Line parity: bit 2k+1 collects the parities of the bytes whose index has bit k set, bit 2k the others.
    std::uint32_t lines = 0;
    std::uint8_t columns = 0;
    for (std::uint32_t i = 0; i < 256; ++i) {
        columns ^= data[i];
        if (std::popcount(data[i]) & 1)
            for (std::uint32_t k = 0; k < 8; ++k)
                lines ^= 1u << (2 * k + ((i >> k) & 1));
    }
    auto bit = [columns](int n) {
        return (columns >> n) & 1;
    };
    const int cp0 = bit(0) ^ bit(2) ^ bit(4) ^ bit(6), cp1 = bit(1) ^ bit(3) ^ bit(5) ^ bit(7);
    const int cp2 = bit(0) ^ bit(1) ^ bit(4) ^ bit(5), cp3 = bit(2) ^ bit(3) ^ bit(6) ^ bit(7);
    const int cp4 = bit(0) ^ bit(1) ^ bit(2) ^ bit(3), cp5 = bit(4) ^ bit(5) ^ bit(6) ^ bit(7);
    const int columnBits = (cp5 << 7) | (cp4 << 6) | (cp3 << 5) | (cp2 << 4) | (cp1 << 3) | (cp0 << 2);
    return {static_cast<std::uint8_t>(~lines), static_cast<std::uint8_t>(~(lines >> 8)),
            static_cast<std::uint8_t>(~columnBits)};
}

std::uint16_t BlockAddressField(std::uint32_t logicalBlock)
{
    std::uint16_t field = static_cast<std::uint16_t>(0x1000 | ((logicalBlock % kLogicalBlocksPerZone) << 1));
    if (std::popcount(field) & 1)
        field |= 1;
    return field;
}

std::optional<std::uint32_t> ParseBlockAddressField(std::uint16_t field)
{
    const std::uint32_t number = (field >> 1) & 0x3FF;
    if ((field & 0xF800) != 0x1000 || (std::popcount(field) & 1) || number >= kLogicalBlocksPerZone)
        return std::nullopt;
    return number;
}

std::array<std::uint8_t, kSpareBytes> CardSpare(std::uint32_t logicalBlock, const std::uint8_t* data)
{
    std::array<std::uint8_t, kSpareBytes> spare;
    spare.fill(0xFF);
    const std::uint16_t field = BlockAddressField(logicalBlock);
    PutBe16(&spare[6], field);
    PutBe16(&spare[11], field);
    PutEccs(spare, data);
    return spare;
}

std::optional<NandCardLayout> CardLayout(const NandGeometry& geometry)
{
    const CardRow* row = RowFor(geometry.rows);
    if (!row || geometry.largePage || (geometry.sectorsPerBlock != 16 && geometry.sectorsPerBlock != 32))
        return std::nullopt;
    NandCardLayout l;
    l.rows = geometry.rows;
    l.sectorsPerBlock = geometry.sectorsPerBlock;
    l.zones = std::max<std::uint32_t>(1, geometry.rows / kZoneRows);
    l.zoneBlocks = std::min(geometry.rows, kZoneRows) * (kSectorsPerRow / geometry.sectorsPerBlock);
    if (l.zoneBlocks != 1024)
        return std::nullopt;  // a zone is 1024 physical blocks
    l.dataStart = row->dataStart;
    l.heads = row->heads;
    l.sectorsPerTrack = row->sectorsPerTrack;
    return l;
}

bool ImportCardImage(SimNandChip& chip, std::span<const std::uint8_t> image)
{
    const auto layout = CardLayout(chip.Geometry());
    if (!layout || image.size() % kSectorDataBytes != 0 || image.size() / kSectorDataBytes > layout->LogicalSectors())
        return false;
    const std::uint32_t spb = layout->sectorsPerBlock;
    const std::size_t blockBytes = std::size_t{spb} * kSectorDataBytes;
    const std::uint32_t logicalBlocks = static_cast<std::uint32_t>((image.size() + blockBytes - 1) / blockBytes);

    // Choose every physical block before anything changes.
    std::optional<std::uint32_t> cis;
    std::vector<std::uint32_t> physical(logicalBlocks);
    for (std::uint32_t zone = 0; zone < layout->zones; ++zone) {
        std::uint32_t next = zone * layout->zoneBlocks;
        const std::uint32_t end = next + layout->zoneBlocks;
        if (zone == 0) {
            for (next = 1; next < end && !Usable(chip, next); ++next) {
            }
            if (next == end)
                return false;
            cis = next++;
        }
        for (std::uint32_t l = zone * kLogicalBlocksPerZone;
             l < std::min(logicalBlocks, (zone + 1) * kLogicalBlocksPerZone); ++l) {
            while (next < end && !Usable(chip, next))
                ++next;
            if (next == end)
                return false;
            physical[l] = next++;
        }
    }

    for (std::uint32_t b = 0; b < chip.BlockCount(); ++b)
        chip.Erase(b);
    if (Usable(chip, 0)) {  // block 0 is retired, as the system's format leaves it
        const std::array<std::uint8_t, kSectorDataBytes> zeros{};
        const std::array<std::uint8_t, kSpareBytes> zeroSpare{};
        chip.Program(0, zeros.data(), zeroSpare.data());
    }
    std::array<std::uint8_t, kSectorDataBytes> page{};
    std::copy(kCardInformationStructure.begin(), kCardInformationStructure.end(), page.begin());
    std::copy(kCardInformationStructure.begin(), kCardInformationStructure.end(), page.begin() + 256);
    std::array<std::uint8_t, kSpareBytes> cisSpare;
    cisSpare.fill(0xFF);
    cisSpare[6] = cisSpare[7] = cisSpare[11] = cisSpare[12] = 0;
    PutEccs(cisSpare, page.data());
    for (std::uint32_t s = 0; s < 2; ++s)
        chip.Program(*cis * spb + s, page.data(), cisSpare.data());

    for (std::uint32_t l = 0; l < logicalBlocks; ++l) {
        for (std::uint32_t s = 0; s < spb; ++s) {
            const std::size_t at = (std::size_t{l} * spb + s) * kSectorDataBytes;
            page.fill(0xFF);
            if (at < image.size())
                std::memcpy(page.data(), image.data() + at, kSectorDataBytes);
            const auto spare = CardSpare(l, page.data());
            chip.Program(physical[l] * spb + s, page.data(), spare.data());
        }
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> ExportCardImage(const SimNandChip& chip, CardImageAudit* audit)
{
    const auto layout = CardLayout(chip.Geometry());
    if (!layout)
        return std::nullopt;
    CardImageAudit found;
    const std::uint32_t spb = layout->sectorsPerBlock;
    std::vector<std::uint8_t> image(std::size_t{layout->LogicalSectors()} * kSectorDataBytes, 0xFF);
    std::vector<bool> seen(std::size_t{layout->zones} * kLogicalBlocksPerZone, false);
    for (std::uint32_t zone = 0; zone < layout->zones; ++zone) {
        for (std::uint32_t b = zone * layout->zoneBlocks; b < (zone + 1) * layout->zoneBlocks; ++b) {
            const auto spare = chip.Spare(b * spb);
            if (spare[4] != 0xFF || spare[5] != 0xFF)
                continue;  // data or block status: not a valid block
            const std::uint16_t first = GetBe16(&spare[6]), second = GetBe16(&spare[11]);
            if (first == 0xFFFF && second == 0xFFFF)
                continue;  // erased
            if (spare[6] == 0 && spare[7] == 0)
                continue;  // the CIS block
            const auto number = ParseBlockAddressField(first);
            if (!number || first != second) {
                ++found.malformedFields;
                continue;
            }
            const std::uint32_t logical = zone * kLogicalBlocksPerZone + *number;
            if (seen[logical]) {
                ++found.duplicateBlocks;
                continue;
            }
            seen[logical] = true;
            for (std::uint32_t s = 0; s < spb; ++s) {
                const SectorBytes bytes = chip.Read(b * spb + s);
                std::memcpy(image.data() + (std::size_t{logical} * spb + s) * kSectorDataBytes, bytes.data(),
                            kSectorDataBytes);
                const auto first256 = Ecc256(bytes.data()), second256 = Ecc256(bytes.data() + 256);
                if (!std::equal(first256.begin(), first256.end(), bytes.begin() + kSectorDataBytes + 13) ||
                    !std::equal(second256.begin(), second256.end(), bytes.begin() + kSectorDataBytes + 8))
                    ++found.eccMismatches;
            }
        }
    }
    if (audit)
        *audit = found;
    return image;
}

std::vector<std::uint8_t> FormattedNandCardHead(const NandCardLayout& layout)
{
    const CardRow& row = *RowFor(layout.rows);
    const std::uint32_t spt = row.sectorsPerTrack, heads = row.heads;
    const std::uint32_t start = spt * row.startHead + row.startSector - 1;
    const std::uint32_t endCylinder = row.endCylinderByte + (row.endSectorByte & 0xC0) * 4u;
    const std::uint32_t sectors = ((endCylinder * heads + row.endHead) * spt + (row.endSectorByte & 63)) - start;
    std::vector<std::uint8_t> head(std::size_t{row.dataStart} * kSectorDataBytes, 0);

    std::uint8_t* mbr = head.data();
    const std::uint8_t entry[8] = {0x80,     row.startHead, row.startSector,   0,
                                   row.type, row.endHead,   row.endSectorByte, row.endCylinderByte};
    std::memcpy(mbr + 446, entry, sizeof entry);
    PutLe32(mbr + 454, start);
    PutLe32(mbr + 458, sectors);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    std::fill(head.begin() + kSectorDataBytes, head.begin() + std::size_t{start} * kSectorDataBytes, 0xFF);

    std::uint8_t* boot = head.data() + std::size_t{start} * kSectorDataBytes;
    boot[0] = 0xE9;
    std::memcpy(boot + 3, "MSDOS5.0", 8);
    PutLe16(boot + 11, kSectorDataBytes);
    boot[13] = static_cast<std::uint8_t>(layout.sectorsPerBlock);
    PutLe16(boot + 14, 1);
    boot[16] = 2;
    PutLe16(boot + 17, 256);
    if (sectors < 0x10000)
        PutLe16(boot + 19, static_cast<std::uint16_t>(sectors));
    boot[21] = 0xF8;
    PutLe16(boot + 22, row.fatSectors);
    PutLe16(boot + 24, static_cast<std::uint16_t>(spt));
    PutLe16(boot + 26, static_cast<std::uint16_t>(heads));
    PutLe32(boot + 28, start);
    if (sectors >= 0x10000)
        PutLe32(boot + 32, sectors);
    std::memcpy(boot + 54, row.fat16 ? "FAT16" : "FAT12", 5);
    boot[510] = 0x55;
    boot[511] = 0xAA;
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        std::uint8_t* fat = boot + std::size_t{1 + copy * row.fatSectors} * kSectorDataBytes;
        fat[0] = 0xF8;
        fat[1] = fat[2] = 0xFF;
        if (row.fat16)
            fat[3] = 0xFF;
    }
    return head;
}

}  // namespace sim
