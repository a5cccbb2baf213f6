#include "sim/sim_sector_card.h"

#include "sim/sim_bytes.h"
#include "sim/sim_files.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace sim {
namespace {

// The 128-bit register as four words, word 0 holding bits 127-96.
using Register = std::array<std::uint32_t, 4>;

void SetBits(Register& r, unsigned start, unsigned width, std::uint32_t value)
{
    for (unsigned i = 0; i < width; ++i) {
        const unsigned bit = start + i;
        const std::uint32_t mask = 1u << (bit % 32);
        std::uint32_t& word = r[3 - bit / 32];
        word = (value >> i) & 1 ? word | mask : word & ~mask;
    }
}

// Card image file, little-endian: ImageHeader, then recordCount records of { ImageRecord, 128 x 512 bytes }.
// Chunks of 128 sectors that are all zero have no record; the last chunk is stored whole even when the
// card ends inside it.
struct ImageHeader {
    char magic[8];          // "KWEPCARD"
    std::uint32_t version;  // 1
    std::uint32_t sectors;
    std::uint32_t chunkSectors;  // 128
    std::uint32_t recordCount;
};
static_assert(sizeof(ImageHeader) == 24);

struct ImageRecord {
    std::uint32_t chunk;
    std::uint32_t reserved;  // 0
};
static_assert(sizeof(ImageRecord) == 8);

constexpr char kImageMagic[8] = {'K', 'W', 'E', 'P', 'C', 'A', 'R', 'D'};
constexpr std::uint32_t kImageVersion = 1;

// Rows of the format table the system uses for sector cards, by capacity.
struct FormatRow {
    std::uint64_t capacityLimit;
    std::uint32_t heads, sectorsPerTrack, sectorsPerCluster, boundary, fatBits;
};
// clang-format off
constexpr FormatRow kFormatRows[] = {
    {2097152, 2, 16, 16, 16, 12},        {4194304, 2, 32, 16, 16, 12},    {8388608, 2, 32, 16, 16, 12},
    {16777216, 2, 32, 32, 32, 12},       {33554432, 4, 32, 32, 32, 12},   {67108864, 8, 32, 32, 32, 12},
    {134217728, 8, 32, 32, 64, 16},      {268435456, 16, 32, 32, 64, 16}, {536870912, 32, 63, 32, 128, 16},
    {1073741824, 64, 63, 32, 128, 16},   {2147483648, 128, 63, 64, 128, 16},
};
// clang-format on

constexpr std::uint32_t kFormatRootEntries = 512;
constexpr std::uint32_t kFormatRootSectors = kFormatRootEntries * 32 / kCardSectorBytes;

struct Layout {
    std::uint32_t fatSectors = 0, partitionStart = 0, systemSectors = 0, clusters = 0;
};

std::uint32_t FatSectorsFor(std::uint64_t entries, std::uint32_t bits)
{
    return static_cast<std::uint32_t>((entries * bits + 4095) / 4096);
}

// The system area placed so that the data area starts on a boundary unit, the FAT sized to the
// clusters that remain (settled by repeating, at most a few rounds).
std::optional<Layout> LayOut(std::uint32_t total, std::uint32_t perCluster, std::uint32_t boundary, std::uint32_t bits)
{
    Layout l;
    l.fatSectors = FatSectorsFor(total / perCluster, bits);
    for (int round = 0; round < 16; ++round) {
        l.systemSectors = 1 + 2 * l.fatSectors + kFormatRootSectors;
        l.partitionStart = boundary * (l.systemSectors / boundary + 1) - l.systemSectors;
        if (l.partitionStart != boundary)
            l.partitionStart += boundary;
        if (std::uint64_t{l.partitionStart} + l.systemSectors + perCluster > total)
            return std::nullopt;
        l.clusters = (total - l.partitionStart - l.systemSectors) / perCluster;
        const std::uint32_t settled = FatSectorsFor(std::uint64_t{l.clusters} + 2, bits);
        if (settled <= l.fatSectors)
            return l;  // a FAT one sector larger than needed is harmless
        l.fatSectors = settled;
    }
    return std::nullopt;
}

void PutChs(std::uint8_t* p, std::uint32_t head, std::uint32_t sector, std::uint32_t cylinder)
{
    cylinder = std::min<std::uint32_t>(cylinder, 1023);
    p[0] = static_cast<std::uint8_t>(head);
    p[1] = static_cast<std::uint8_t>((sector & 63) | ((cylinder >> 8) << 6));
    p[2] = static_cast<std::uint8_t>(cylinder);
}

}  // namespace

std::uint16_t Crc16Xmodem(const std::uint8_t* data, std::size_t n)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::optional<std::array<std::uint8_t, 16>> CsdForSectors(std::uint32_t sectors)
{
    if (sectors == 0 || sectors > kSectorCardMaxSectors)
        return std::nullopt;
    const std::uint64_t bytes = std::uint64_t{sectors} * kCardSectorBytes;
    for (std::uint32_t blockLength = 9; blockLength <= 10; ++blockLength) {
        for (std::uint32_t multiplier = 0; multiplier <= 7; ++multiplier) {
            const std::uint64_t unit = std::uint64_t{1} << (multiplier + 2 + blockLength);
            if (bytes % unit != 0 || bytes / unit > 4096)
                continue;
            Register r{};
            SetBits(r, 96, 8, 0x32);                                           // TRAN_SPEED: 25 MHz
            SetBits(r, 84, 12, 0x5F5);                                         // CCC: the command classes of an SD card
            SetBits(r, 80, 4, blockLength);                                    // READ_BL_LEN
            SetBits(r, 79, 1, 1);                                              // READ_BL_PARTIAL
            SetBits(r, 62, 12, static_cast<std::uint32_t>(bytes / unit - 1));  // C_SIZE
            SetBits(r, 47, 3, multiplier);                                     // C_SIZE_MULT
            SetBits(r, 46, 1, 1);                                              // ERASE_BLK_EN
            SetBits(r, 39, 7, 0x7F);                                           // SECTOR_SIZE
            SetBits(r, 26, 3, 2);                                              // R2W_FACTOR
            SetBits(r, 22, 4, blockLength);                                    // WRITE_BL_LEN
            SetBits(r, 0, 1, 1);                                               // the register's end bit
            std::array<std::uint8_t, 16> out{};
            for (int i = 0; i < 4; ++i)
                PutLe32(&out[4 * i], r[i]);
            return out;
        }
    }
    return std::nullopt;
}

// ---- the card -------------------------------------------------------------------------------------

SimSectorCard::SimSectorCard(std::uint32_t sectors)
    : sectors_(sectors), chunks_((std::size_t{sectors} + kChunkSectors - 1) / kChunkSectors)
{}

std::uint8_t* SimSectorCard::ChunkFor(std::uint32_t sector)
{
    auto& chunk = chunks_[sector / kChunkSectors];
    if (chunk.empty())
        chunk.assign(std::size_t{kChunkSectors} * kCardSectorBytes, 0);
    return chunk.data();
}

bool SimSectorCard::Read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) const
{
    if (first > sectors_ || count > sectors_ - first)
        return false;
    for (std::uint32_t s = first; s < first + count; ++s, out += kCardSectorBytes) {
        const auto& chunk = chunks_[s / kChunkSectors];
        if (chunk.empty())
            std::memset(out, 0, kCardSectorBytes);
        else
            std::memcpy(out, chunk.data() + std::size_t{s % kChunkSectors} * kCardSectorBytes, kCardSectorBytes);
    }
    return true;
}

bool SimSectorCard::Write(std::uint32_t first, std::uint32_t count, const std::uint8_t* data)
{
    if (first > sectors_ || count > sectors_ - first)
        return false;
    for (std::uint32_t s = first; s < first + count; ++s, data += kCardSectorBytes)
        std::memcpy(ChunkFor(s) + std::size_t{s % kChunkSectors} * kCardSectorBytes, data, kCardSectorBytes);
    dirty_ = true;
    return true;
}

bool SimSectorCard::Erase(std::uint32_t first, std::uint32_t count)
{
    if (first > sectors_ || count > sectors_ - first)
        return false;
    for (std::uint32_t s = first; s < first + count; ++s) {
        auto& chunk = chunks_[s / kChunkSectors];
        if (!chunk.empty())
            std::memset(chunk.data() + std::size_t{s % kChunkSectors} * kCardSectorBytes, 0, kCardSectorBytes);
    }
    dirty_ = true;
    return true;
}

bool SimSectorCard::WriteImage(const std::filesystem::path& file) const
{
    ImageHeader header{};
    std::memcpy(header.magic, kImageMagic, sizeof header.magic);
    header.version = kImageVersion;
    header.sectors = sectors_;
    header.chunkSectors = kChunkSectors;
    for (const auto& chunk : chunks_)
        if (!chunk.empty())
            ++header.recordCount;

    return WriteFileReplacing(file, [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(&header), sizeof header);
        for (std::uint32_t c = 0; c < chunks_.size() && out; ++c) {
            if (chunks_[c].empty())
                continue;
            const ImageRecord record{c, 0};
            out.write(reinterpret_cast<const char*>(&record), sizeof record);
            out.write(reinterpret_cast<const char*>(chunks_[c].data()),
                      static_cast<std::streamsize>(chunks_[c].size()));
        }
        return true;
    });
}

std::unique_ptr<SimSectorCard> SimSectorCard::ReadImage(const std::filesystem::path& file, std::uint32_t sectors)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return nullptr;
    ImageHeader header{};
    if (!in.read(reinterpret_cast<char*>(&header), sizeof header))
        return nullptr;
    auto card = std::make_unique<SimSectorCard>(sectors);
    if (std::memcmp(header.magic, kImageMagic, sizeof header.magic) != 0 || header.version != kImageVersion ||
        header.sectors != sectors || header.chunkSectors != kChunkSectors || header.recordCount > card->chunks_.size())
        return nullptr;
    const std::size_t chunkBytes = std::size_t{kChunkSectors} * kCardSectorBytes;
    for (std::uint32_t i = 0; i < header.recordCount; ++i) {
        ImageRecord record{};
        if (!in.read(reinterpret_cast<char*>(&record), sizeof record))
            return nullptr;
        if (record.chunk >= card->chunks_.size() || record.reserved != 0 || !card->chunks_[record.chunk].empty())
            return nullptr;
        auto& chunk = card->chunks_[record.chunk];
        chunk.resize(chunkBytes);
        if (!in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunkBytes)))
            return nullptr;
    }
    if (in.peek() != std::ifstream::traits_type::eof())
        return nullptr;  // trailing bytes: not our image
    card->dirty_ = false;
    return card;
}

// ---- the volume on the card -----------------------------------------------------------------------

std::uint32_t VolumeClusterSectors(const SimSectorCard& card)
{
    std::uint8_t sector[kCardSectorBytes];
    if (!card.Read(0, 1, sector) || sector[510] != 0x55 || sector[511] != 0xAA)
        return 0;
    const std::uint32_t start = GetLe32(&sector[446 + 8]);
    if (!card.Read(start, 1, sector) || sector[510] != 0x55 || sector[511] != 0xAA)
        return 0;
    return sector[13] >= 1 && sector[13] <= kCardMaxRunSectors ? sector[13] : 0;
}

std::optional<std::vector<std::uint8_t>> FormattedSectorCardHead(std::uint32_t sectors)
{
    const std::uint64_t capacity = std::uint64_t{sectors} * kCardSectorBytes;
    const FormatRow* row = &kFormatRows[std::size(kFormatRows) - 1];
    for (const auto& r : kFormatRows)
        if (r.capacityLimit >= capacity) {
            row = &r;
            break;
        }
    // The table's cluster size and FAT width, unless the cluster count says otherwise: every FAT reader
    // takes the width from the count, so the two must agree.
    std::optional<Layout> layout;
    std::uint32_t perCluster = row->sectorsPerCluster, bits = row->fatBits;
    for (std::uint32_t s = row->sectorsPerCluster; s <= kCardMaxRunSectors && !layout; s *= 2) {
        for (std::uint32_t b : {row->fatBits, 28 - row->fatBits}) {
            auto l = LayOut(sectors, s, row->boundary, b);
            if (l && l->clusters >= 1 &&
                (b == 12 ? l->clusters <= 4084 : l->clusters >= 4085 && l->clusters <= 65524)) {
                layout = l;
                perCluster = s;
                bits = b;
                break;
            }
        }
    }
    if (!layout)
        return std::nullopt;

    const Layout& l = *layout;
    const std::uint32_t volumeSectors = sectors - l.partitionStart;
    std::vector<std::uint8_t> head(std::size_t{l.partitionStart + l.systemSectors} * kCardSectorBytes, 0);

    std::uint8_t* mbr = head.data();
    std::uint8_t* entry = mbr + 446;
    entry[0] = 0x80;
    const std::uint32_t track = l.partitionStart / row->sectorsPerTrack;
    PutChs(entry + 1, track % row->heads, l.partitionStart % row->sectorsPerTrack + 1, track / row->heads);
    entry[4] = volumeSectors < 32680 ? 0x01 : volumeSectors >= 65536 ? 0x06 : 0x04;
    const std::uint32_t cylinders = sectors / row->sectorsPerTrack / row->heads;
    PutChs(entry + 5, row->heads - 1, row->sectorsPerTrack, cylinders ? cylinders - 1 : 0);
    PutLe32(entry + 8, l.partitionStart);
    PutLe32(entry + 12, volumeSectors);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;

    std::uint8_t* boot = head.data() + std::size_t{l.partitionStart} * kCardSectorBytes;
    const std::uint8_t jump[3] = {0xEB, 0x3C, 0x90};
    std::memcpy(boot, jump, 3);
    std::memcpy(boot + 3, "MSDOS5.0", 8);
    PutLe16(boot + 11, kCardSectorBytes);
    boot[13] = static_cast<std::uint8_t>(perCluster);
    PutLe16(boot + 14, 1);
    boot[16] = 2;
    PutLe16(boot + 17, kFormatRootEntries);
    boot[21] = 0xF8;
    PutLe16(boot + 22, static_cast<std::uint16_t>(l.fatSectors));
    PutLe16(boot + 24, static_cast<std::uint16_t>(row->sectorsPerTrack));
    PutLe16(boot + 26, static_cast<std::uint16_t>(row->heads));
    PutLe32(boot + 28, l.partitionStart);
    PutLe32(boot + 32, volumeSectors);
    boot[36] = 0x80;
    boot[38] = 0x29;
    PutLe32(boot + 39, 0x4B574550);
    std::memcpy(boot + 43, "NO NAME    ", 11);
    std::memcpy(boot + 54, bits == 16 ? "FAT16   " : "FAT12   ", 8);
    boot[510] = 0x55;
    boot[511] = 0xAA;

    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        std::uint8_t* fat = boot + std::size_t{1 + copy * l.fatSectors} * kCardSectorBytes;
        fat[0] = 0xF8;
        fat[1] = fat[2] = 0xFF;
        if (bits == 16)
            fat[3] = 0xFF;
    }
    return head;
}

}  // namespace sim
