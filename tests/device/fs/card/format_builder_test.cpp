// The parameters of a new sector-card volume: the capacity table's edges as a table of cases, a sweep
// over every row that holds the layout to what the mount and the FAT rules demand, and the builder's
// records read by fsck.fat, minfo and sfdisk from a sparse card image.
#include "device/fs/card/card_volume.h"
#include "device/fs/card/format_builder.h"
#include "device/fs/engine_status.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace engine;
using test_support::RunShell;
using test_support::ShellQuote;
using test_support::ShellResult;

namespace {

std::uint32_t Le32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

struct BuilderCase {
    const char* name;
    std::uint32_t capacity;
    bool accepted;
    std::uint32_t heads, sectorsPerTrack, sectorsPerCluster;
    std::uint32_t fatBits, partitionStart, fatSectors, clusters, volumeSectors;
    std::uint8_t type;
};

// Worked by hand from the row, the FAT rules and the partition-start rule (data area on a boundary).
const BuilderCase kBuilderCases[] = {
    // T 4096, root 32, F 1, Y 35: P = 48 - 35 + 16 = 29, cluster bound 253.
    {"TwoMiB", 2097152, true, 2, 16, 16, 12, 29, 1, 252, 4067, 0x01},
    // More than 65535 sectors but FAT12: the type goes by the sector count.
    {"FortyEightMiB", 50331648, true, 8, 32, 32, 12, 45, 9, 3069, 98259, 0x06},
    // 4085 clusters as FAT12, 4084 as FAT16: FAT12 ending after cluster 4084.
    {"JustUnder64MiB", 66977792, true, 8, 32, 32, 12, 39, 12, 4084, 130745, 0x06},
    // The row says FAT12, but 4093 clusters make it FAT16.
    {"Exactly64MiB", 67108864, true, 8, 32, 32, 16, 63, 16, 4092, 131009, 0x06},
    {"64MiBAndOneByte", 67108865, true, 8, 32, 32, 16, 127, 16, 4090, 130945, 0x06},
    // The largest FAT16 volume of 64-sector clusters.
    {"TwoGiB", 2147483648u, true, 128, 63, 64, 16, 223, 256, 65524, 4194081, 0x06},
    {"ThreeGiB", 3221225472u, true, 128, 63, 64, 16, 223, 256, 65524, 4194081, 0x06},
    {"Largest", 0xFFFFFFFFu, true, 128, 63, 64, 16, 223, 256, 65524, 4194081, 0x06},
    // System area and one cluster: 64 + 16 sectors.
    {"SmallestVolume", 40960, true, 2, 16, 16, 12, 29, 1, 1, 51, 0x01},
    {"OneSectorTooSmall", 40448, false, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {"Empty", 0, false, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};

class BuilderTableTest : public ::testing::TestWithParam<BuilderCase> {};

TEST_P(BuilderTableTest, Parameters)
{
    const BuilderCase& c = GetParam();
    FatFormatBuilder b;
    ASSERT_EQ(b.ComputeParameters(c.capacity, 512), c.accepted);
    if (!c.accepted)
        return;
    EXPECT_EQ(b.heads, c.heads);
    EXPECT_EQ(b.sectorsPerTrack, c.sectorsPerTrack);
    EXPECT_EQ(b.sectorsPerCluster, c.sectorsPerCluster);
    EXPECT_EQ(b.fatBits, c.fatBits);
    EXPECT_EQ(b.partitionStart, c.partitionStart);
    EXPECT_EQ(b.fatSectors, c.fatSectors);
    EXPECT_EQ(b.rootSectors, 32u);
    EXPECT_EQ(b.ClusterCount(), c.clusters);
    EXPECT_EQ(b.VolumeSectors(), c.volumeSectors);
    const std::uint8_t* e = b.PartitionEntry();
    EXPECT_EQ(e[0], 0x80);
    EXPECT_EQ(e[4], c.type);
    EXPECT_EQ(Le32(e + 8), c.partitionStart);
    EXPECT_EQ(Le32(e + 12), c.volumeSectors);
    const std::uint8_t* boot = b.BootSector();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(boot + 54), 8), c.fatBits == 16 ? "FAT16   " : "FAT12   ");
}

INSTANTIATE_TEST_SUITE_P(Capacities, BuilderTableTest, ::testing::ValuesIn(kBuilderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FormatBuilder, RowsBySelection)
{
    EXPECT_EQ(&SelectFormatGeometry(2097152), &kFormatGeometry[0]);
    EXPECT_EQ(&SelectFormatGeometry(2097153), &kFormatGeometry[1]);
    EXPECT_EQ(&SelectFormatGeometry(67108864), &kFormatGeometry[5]);
    EXPECT_EQ(&SelectFormatGeometry(67108865), &kFormatGeometry[6]);
    EXPECT_EQ(&SelectFormatGeometry(2147483649u), &kFormatGeometry[10]);
    EXPECT_EQ(&SelectFormatGeometry(0), &kFormatGeometry[0]);
}

// Every field of the boot sector and the master boot record of the worked 2 MiB example.
TEST(FormatBuilder, RecordsOfTheWorkedExample)
{
    FatFormatBuilder b;
    ASSERT_TRUE(b.ComputeParameters(2097152, 512));
    EXPECT_EQ(b.totalSectors, 4096u);
    EXPECT_EQ(b.systemSectors, 35u);
    EXPECT_EQ(b.clusterBound, 253u);
    EXPECT_EQ(b.cylinders, 128u);
    const std::uint8_t expectedBoot[62] = {
        0xE9, 0x00, 0x00, 'K',  'W',  'E',  'P',  'C',  'T',  'R',  'L',  0x00, 0x02, 16,  0x01, 0x00,
        2,    0x00, 0x02, 0x00, 0x00, 0xF8, 0x01, 0x00, 16,   0x00, 2,    0x00, 29,   0,   0,    0,
        0xE3, 0x0F, 0,    0,    0x80, 0x00, 0x29, 0xD4, 0xC3, 0xB2, 0xA1, 'K',  'W',  'E', 'P',  ' ',
        'V',  'O',  'L',  'U',  'M',  'E',  'F',  'A',  'T',  '1',  '2',  ' ',  ' ',  ' ',
    };
    EXPECT_EQ(std::memcmp(b.BootSector(), expectedBoot, sizeof expectedBoot), 0);
    for (std::size_t i = sizeof expectedBoot; i < 510; ++i)
        ASSERT_EQ(b.BootSector()[i], 0) << i;
    EXPECT_EQ(b.BootSector()[510], 0x55);
    EXPECT_EQ(b.BootSector()[511], 0xAA);
    // Start 29: track 1 (head 1, cylinder 0), sector 29 mod 16 + 1 = 14; end: head 1, sector 16,
    // cylinder 127.
    const std::uint8_t expectedEntry[16] = {0x80, 1, 14, 0, 0x01, 1, 16, 127, 29, 0, 0, 0, 0xE3, 0x0F, 0, 0};
    EXPECT_EQ(std::memcmp(b.PartitionEntry(), expectedEntry, 16), 0);
    // The other entries are empty and the record is signed; the boot code is never empty.
    for (std::size_t i = 462; i < 510; ++i)
        ASSERT_EQ(b.mbr[i], 0) << i;
    EXPECT_EQ(b.mbr[510], 0x55);
    EXPECT_EQ(b.mbr[511], 0xAA);
    EXPECT_NE(b.mbr[0], 0);
}

// A partition start that ends a track: the CHS start is the track's last sector (sectors count from
// 1), never a sector 0 on the next head.
TEST(FormatBuilder, StartAtTheEndOfATrack)
{
    FatFormatBuilder b;
    ASSERT_TRUE(b.ComputeParameters(476160000, 512));
    ASSERT_EQ(b.sectorsPerTrack, 63u);
    ASSERT_EQ(b.partitionStart, 251u);
    ASSERT_EQ((b.partitionStart + 1) % b.sectorsPerTrack, 0u);
    const std::uint8_t* e = b.PartitionEntry();
    EXPECT_EQ(e[1], 3);   // head: track 3
    EXPECT_EQ(e[2], 63);  // sector 63, cylinder bits 8-9 zero
    EXPECT_EQ(e[3], 0);
}

// Every row, its edges and steps across it: the layout is one the mount accepts, the FAT type agrees
// with the cluster count, the FAT indexes every cluster, the data area starts on a boundary, and the
// partition lies on the card with the type its sector count gives.
TEST(FormatBuilder, EveryCapacityGivesASoundVolume)
{
    std::vector<std::uint32_t> capacities = {40960, 0xFFFFFFFFu};
    for (const FormatGeometry& row : kFormatGeometry) {
        for (std::int64_t d : {-1048576, -65536, -2048, -512, 0, 1, 512, 2048, 65536, 1048576}) {
            std::int64_t c = std::int64_t{row.capacityLimit} + d;
            if (c >= 40960 && c <= 0xFFFFFFFFll)
                capacities.push_back(static_cast<std::uint32_t>(c));
        }
    }
    for (std::uint64_t c = 65536; c <= 2147483648u; c = c * 41 / 40 + 2048)
        capacities.push_back(static_cast<std::uint32_t>(c));
    for (std::uint32_t c = 66846720; c <= 67108864; c += 2048)  // the last 256 KiB of the FAT12 row
        capacities.push_back(c);

    for (std::uint32_t capacity : capacities) {
        SCOPED_TRACE(capacity);
        FatFormatBuilder b;
        ASSERT_TRUE(b.ComputeParameters(capacity, 512));
        const FormatGeometry& row = SelectFormatGeometry(capacity);
        ASSERT_EQ(b.sectorsPerCluster, row.sectorsPerCluster);
        ASSERT_EQ(b.heads, row.heads);
        ASSERT_LE(b.totalSectors, std::min(capacity, kMaxFormatBytes) / 512);
        ASSERT_GE(b.partitionStart, 1u);
        ASSERT_EQ((b.partitionStart + b.systemSectors) % row.boundaryUnit, 0u);

        CardBootFields f;
        ASSERT_EQ(ParseCardBootSector(b.BootSector(), b.VolumeSectors(), f), kStatusOk);
        ASSERT_EQ(f.fatType, b.fatBits);
        ASSERT_EQ(f.clusterCount, b.ClusterCount());
        ASSERT_GE(f.clusterCount, 1u);
        ASSERT_EQ(f.totalSectors, b.VolumeSectors());

        const std::uint8_t* e = b.PartitionEntry();
        ASSERT_EQ(e[4], b.VolumeSectors() < 32680 ? 0x01 : b.VolumeSectors() < 65536 ? 0x04 : 0x06);
        ASSERT_EQ(Le32(e + 8), b.partitionStart);
        ASSERT_EQ(Le32(e + 12), b.VolumeSectors());
        // The CHS start names the partition's first sector.
        std::uint32_t sector = e[2] & 63, cylinder = e[3] | ((e[2] & 0xC0) << 2);
        ASSERT_GE(sector, 1u);
        ASSERT_EQ((cylinder * b.heads + e[1]) * b.sectorsPerTrack + sector - 1, b.partitionStart);
    }
}

// The builder's records as PC tools read them, on a sparse card image holding the master boot record,
// the boot sector and both FATs.
class BuilderToolsTest : public ::testing::TestWithParam<BuilderCase> {};

TEST_P(BuilderToolsTest, ToolsAgree)
{
    const BuilderCase& c = GetParam();
    if (!c.accepted)
        GTEST_SKIP() << "refused";
    for (const char* tool : {"fsck.fat", "minfo", "sfdisk", "truncate"})
        ASSERT_TRUE(test_support::HostHasProgram(tool)) << tool;
    FatFormatBuilder b;
    ASSERT_TRUE(b.ComputeParameters(c.capacity, 512));
    test_support::TempFolder temp;
    {
        std::vector<std::uint8_t> head(std::size_t{b.partitionStart + 1 + 2 * b.fatSectors} * 512, 0);
        std::memcpy(head.data(), b.mbr.data(), 512);
        std::memcpy(head.data() + std::size_t{b.partitionStart} * 512, b.BootSector(), 512);
        for (std::uint32_t copy = 0; copy < 2; ++copy) {
            std::uint8_t* fat = head.data() + (std::size_t{b.partitionStart} + 1 + copy * b.fatSectors) * 512;
            fat[0] = 0xF8;
            fat[1] = fat[2] = 0xFF;
            if (b.fatBits == 16)
                fat[3] = 0xFF;
        }
        std::ofstream(temp.File("card.img"), std::ios::binary)
            .write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    }
    const std::string card = temp.UnixFile("card.img"), part = temp.UnixFile("part.img");
    ShellResult made = RunShell("truncate -s " + std::to_string(std::uint64_t{b.totalSectors} * 512) + " " +
                                ShellQuote(card) + " && dd if=" + ShellQuote(card) + " of=" + ShellQuote(part) +
                                " bs=512 skip=" + std::to_string(b.partitionStart) + " count=" +
                                std::to_string(1 + 2 * b.fatSectors + b.rootSectors) + " status=none && truncate -s " +
                                std::to_string(std::uint64_t{b.VolumeSectors()} * 512) + " " + ShellQuote(part));
    ASSERT_TRUE(made.finished && made.exitCode == 0) << made.err;

    ShellResult fsck = RunShell("fsck.fat -n -v " + ShellQuote(part) + " 2>&1");
    ASSERT_TRUE(fsck.finished);
    EXPECT_LE(fsck.exitCode, 1) << fsck.out;
    for (const std::string& line :
         {std::to_string(b.ClusterCount()) + " data clusters",
          std::string("2 FATs, ") + std::to_string(b.fatBits) + " bit entries",
          std::to_string(b.sectorsPerTrack) + " sectors/track, " + std::to_string(b.heads) + " heads",
          std::to_string(b.partitionStart) + " hidden sectors", std::string("System ID \"KWEPCTRL\""),
          " 0/" + std::to_string(b.ClusterCount()) + " clusters"})
        EXPECT_NE(fsck.out.find(line), std::string::npos) << line << "\n" << fsck.out;
    // The only remark: the label lives in the boot sector alone, as the card's format writes it.
    for (const char* bad : {"orrect", "ad cluster", "differ", "nvalid", "FAT size", "too"})
        EXPECT_EQ(fsck.out.find(bad), std::string::npos) << bad << "\n" << fsck.out;

    ShellResult info = RunShell("MTOOLS_SKIP_CHECK=1 minfo -i " + ShellQuote(part) + " :: 2>&1");
    ASSERT_TRUE(info.finished && info.exitCode == 0) << info.out;
    for (const std::string& line :
         {std::string("banner:\"KWEPCTRL\""), std::string("serial number: A1B2C3D4"),
          std::string("disk label=\"KWEP VOLUME\""),
          std::string("disk type=\"FAT") + std::to_string(b.fatBits) + "   \"",
          "hidden sectors: " + std::to_string(b.partitionStart), "heads: " + std::to_string(b.heads),
          "sectors per track: " + std::to_string(b.sectorsPerTrack),
          "cluster size: " + std::to_string(b.sectorsPerCluster) + " sectors",
          "big size: " + std::to_string(b.VolumeSectors()) + " sectors"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;

    ShellResult table = RunShell("sfdisk -d " + ShellQuote(card) + " 2>&1");
    ASSERT_TRUE(table.finished && table.exitCode == 0) << table.out;
    char expected[128];
    std::snprintf(expected, sizeof expected, "start=%12u, size=%12u, type=%x, bootable", b.partitionStart,
                  b.VolumeSectors(), c.type);
    EXPECT_NE(table.out.find(expected), std::string::npos) << expected << "\n" << table.out;
}

INSTANTIATE_TEST_SUITE_P(Capacities, BuilderToolsTest, ::testing::ValuesIn(kBuilderCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
