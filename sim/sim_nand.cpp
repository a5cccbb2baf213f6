#include "sim/sim_nand.h"

#include "sim/sim_files.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace sim {
namespace {

struct GeometryRow {
    std::uint8_t device;
    NandGeometry geometry;
};

// The chips this player's firmware knows, by device code; makers 0x45, 0xEC and 0x98 only.
// clang-format off
constexpr GeometryRow kGeometry[] = {
    {0xE6, {64, 16, false}},   {0x73, {128, 32, false}},  {0x75, {256, 32, false}},
    {0x76, {512, 32, false}},  {0x79, {1024, 32, false}}, {0xF1, {1024, 256, true}},
    {0xDA, {2048, 256, true}}, {0xDC, {4096, 256, true}},
};
// clang-format on

// Chip image file, little-endian:
//   ImageHeader, then recordCount records of { ImageRecord, sectorsPerBlock x 528 bytes }, the bytes being
//   each sector's 512 data bytes followed by its 16 spare bytes. Blocks that are erased and carry no
//   flags have no record; every other block has exactly one.
struct ImageHeader {
    char magic[8];          // "KWEPNAND"
    std::uint32_t version;  // 1
    std::uint8_t maker;
    std::uint8_t device;
    std::uint16_t reserved;  // 0
    std::uint32_t sectorsPerBlock;
    std::uint32_t blockCount;
    std::uint32_t recordCount;
};
static_assert(sizeof(ImageHeader) == 28);

struct ImageRecord {
    std::uint32_t block;
    std::uint32_t flags;  // BlockFlag bits
};
static_assert(sizeof(ImageRecord) == 8);

constexpr char kImageMagic[8] = {'K', 'W', 'E', 'P', 'N', 'A', 'N', 'D'};
constexpr std::uint32_t kImageVersion = 1;

}  // namespace

std::optional<NandGeometry> GeometryForId(std::uint8_t maker, std::uint8_t device)
{
    if (maker != 0x45 && maker != 0xEC && maker != 0x98)
        return std::nullopt;
    for (const auto& row : kGeometry)
        if (row.device == device)
            return row.geometry;
    return std::nullopt;
}

SimNandChip::SimNandChip(std::uint8_t maker, std::uint8_t device, const NandGeometry& geometry)
    : maker_(maker), device_(device), geometry_(geometry), blocks_(BlockCount()), flags_(BlockCount(), 0)
{}

SectorBytes SimNandChip::Read(std::uint32_t sector) const
{
    SectorBytes out;
    out.fill(0xFF);
    if (sector >= SectorCount())
        return out;
    const auto& block = blocks_[sector / geometry_.sectorsPerBlock];
    if (!block.empty())
        std::memcpy(out.data(), block.data() + (sector % geometry_.sectorsPerBlock) * kSectorBytes, kSectorBytes);
    return out;
}

std::array<std::uint8_t, kSpareBytes> SimNandChip::Spare(std::uint32_t sector) const
{
    std::array<std::uint8_t, kSpareBytes> out;
    out.fill(0xFF);
    if (sector >= SectorCount())
        return out;
    const auto& block = blocks_[sector / geometry_.sectorsPerBlock];
    if (!block.empty())
        std::memcpy(out.data(), block.data() + (sector % geometry_.sectorsPerBlock) * kSectorBytes + kSectorDataBytes,
                    kSpareBytes);
    return out;
}

std::uint8_t* SimNandChip::SectorPtr(std::uint32_t sector)
{
    auto& block = blocks_[sector / geometry_.sectorsPerBlock];
    if (block.empty())
        block.assign(std::size_t{geometry_.sectorsPerBlock} * kSectorBytes, 0xFF);
    return block.data() + (sector % geometry_.sectorsPerBlock) * kSectorBytes;
}

bool SimNandChip::Program(std::uint32_t sector, const std::uint8_t* data, const std::uint8_t* spare)
{
    if (sector >= SectorCount())
        return false;
    if (flags_[sector / geometry_.sectorsPerBlock] & kBlockProgramFails)
        return false;
    std::uint8_t* p = SectorPtr(sector);
    for (std::size_t i = 0; i < kSectorDataBytes; ++i)
        p[i] &= data[i];
    for (std::size_t i = 0; i < kSpareBytes; ++i)
        p[kSectorDataBytes + i] &= spare[i];
    dirty_ = true;
    return true;
}

bool SimNandChip::Erase(std::uint32_t block)
{
    if (block >= BlockCount())
        return false;
    if (flags_[block] & (kBlockBad | kBlockEraseFails))
        return false;
    std::vector<std::uint8_t>().swap(blocks_[block]);
    dirty_ = true;
    return true;
}

void SimNandChip::Poke(std::uint32_t sector, const SectorBytes& bytes)
{
    if (sector >= SectorCount())
        return;
    std::memcpy(SectorPtr(sector), bytes.data(), kSectorBytes);
    dirty_ = true;
}

std::uint8_t SimNandChip::Flags(std::uint32_t block) const
{
    return block < BlockCount() ? flags_[block] : 0;
}

void SimNandChip::SetFlags(std::uint32_t block, std::uint8_t flags)
{
    if (block >= BlockCount())
        return;
    flags_[block] = flags & (kBlockBad | kBlockEraseFails | kBlockProgramFails);
    dirty_ = true;
}

void SimNandChip::MarkBad(std::uint32_t block)
{
    if (block >= BlockCount())
        return;
    flags_[block] |= kBlockBad;
    const std::uint32_t first = block * geometry_.sectorsPerBlock;
    for (std::uint32_t s = 0; s < geometry_.sectorsPerBlock; ++s)
        SectorPtr(first + s)[kSectorDataBytes + 5] = 0x00;
    dirty_ = true;
}

bool SimNandChip::WriteImage(const std::filesystem::path& file) const
{
    ImageHeader header{};
    std::memcpy(header.magic, kImageMagic, sizeof header.magic);
    header.version = kImageVersion;
    header.maker = maker_;
    header.device = device_;
    header.sectorsPerBlock = geometry_.sectorsPerBlock;
    header.blockCount = BlockCount();
    for (std::uint32_t b = 0; b < BlockCount(); ++b)
        if (!blocks_[b].empty() || flags_[b])
            ++header.recordCount;

    return WriteFileReplacing(file, [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(&header), sizeof header);
        const std::vector<std::uint8_t> erased(std::size_t{geometry_.sectorsPerBlock} * kSectorBytes, 0xFF);
        for (std::uint32_t b = 0; b < BlockCount() && out; ++b) {
            if (blocks_[b].empty() && !flags_[b])
                continue;
            const ImageRecord record{b, flags_[b]};
            out.write(reinterpret_cast<const char*>(&record), sizeof record);
            const auto& bytes = blocks_[b].empty() ? erased : blocks_[b];
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        return true;
    });
}

std::unique_ptr<SimNandChip> SimNandChip::ReadImage(const std::filesystem::path& file, std::uint8_t maker,
                                                    std::uint8_t device)
{
    const auto geometry = GeometryForId(maker, device);
    if (!geometry)
        return nullptr;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return nullptr;
    ImageHeader header{};
    if (!in.read(reinterpret_cast<char*>(&header), sizeof header))
        return nullptr;
    auto chip = std::make_unique<SimNandChip>(maker, device, *geometry);
    if (std::memcmp(header.magic, kImageMagic, sizeof header.magic) != 0 || header.version != kImageVersion ||
        header.maker != maker || header.device != device || header.sectorsPerBlock != geometry->sectorsPerBlock ||
        header.blockCount != chip->BlockCount() || header.recordCount > chip->BlockCount())
        return nullptr;
    const std::size_t blockBytes = std::size_t{geometry->sectorsPerBlock} * kSectorBytes;
    for (std::uint32_t i = 0; i < header.recordCount; ++i) {
        ImageRecord record{};
        if (!in.read(reinterpret_cast<char*>(&record), sizeof record))
            return nullptr;
        if (record.block >= chip->BlockCount() || !chip->blocks_[record.block].empty())
            return nullptr;
        auto& block = chip->blocks_[record.block];
        block.resize(blockBytes);
        if (!in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(blockBytes)))
            return nullptr;
        if (std::all_of(block.begin(), block.end(), [](std::uint8_t v) { return v == 0xFF; }))
            std::vector<std::uint8_t>().swap(block);
        chip->flags_[record.block] =
            static_cast<std::uint8_t>(record.flags & (kBlockBad | kBlockEraseFails | kBlockProgramFails));
    }
    if (in.peek() != std::ifstream::traits_type::eof())
        return nullptr;  // trailing bytes: not our image
    chip->dirty_ = false;
    return chip;
}

}  // namespace sim
