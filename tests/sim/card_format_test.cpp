// The card's bytes as the player makes them: NAND-card ECC and block-address fields, the sector card's
// CRC-16 and CSD, and the system areas of freshly formatted cards; each checked against a reading
// written here from the published definitions, not from the player's code.
#include "tests/sim/card_reference.h"
#include "sim/sim_nand_card.h"
#include "sim/sim_sector_card.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace simtest;

namespace {

// A CSD field as a host reads the information block: bytes 40-55 are four little-endian words, the
// most significant first. Rebuilt here into the register's own big-endian byte order first.
std::uint32_t CsdField(const std::array<std::uint8_t, 16>& wire, int start, int width)
{
    std::uint8_t reg[16];
    for (int word = 0; word < 4; ++word)
        for (int j = 0; j < 4; ++j)
            reg[4 * word + 3 - j] = wire[4 * word + j];
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        const int bit = start + i;
        value = (value << 1) | ((reg[15 - bit / 8] >> (bit % 8)) & 1);
    }
    return value;
}

}  // namespace

TEST(SimCardEcc, WorkedExamplesAndRandomPages)
{
    struct EccCase {
        const char* what;
        Bytes data;
        std::array<std::uint8_t, 3> ecc;
    };
    Bytes oneAtEnd(256, 0x00);
    oneAtEnd[255] = 0x01;
    // clang-format off
    const EccCase cases[] = {
        {"all ones", Bytes(256, 0xFF), {0xFF, 0xFF, 0xFF}},
        {"all zeros", Bytes(256, 0x00), {0xFF, 0xFF, 0xFF}},
        {"one bit in the last byte", oneAtEnd, {0x55, 0x55, 0xAB}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(sim::Ecc256(c.data.data()), c.ecc);
        EXPECT_EQ(ReferenceEcc(c.data.data()), c.ecc);
    }
    std::mt19937 random(6);
    Bytes page(256);
    for (int round = 0; round < 500; ++round) {
        for (auto& b : page)
            b = static_cast<std::uint8_t>(random());
        if (round % 5 == 0) {  // a single bit set: every parity bit of its line and column shows
            std::fill(page.begin(), page.end(), 0);
            page[random() % 256] = static_cast<std::uint8_t>(1u << (random() % 8));
        }
        const auto ecc = sim::Ecc256(page.data());
        ASSERT_EQ(ecc, ReferenceEcc(page.data())) << "round " << round;
        EXPECT_EQ(ecc[2] & 3, 3);
    }
}

TEST(SimCardEcc, SpareRecordOfAPage)
{
    Bytes page(512);
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const auto spare = sim::CardSpare(1001, page.data());
    const auto first = ReferenceEcc(page.data()), second = ReferenceEcc(page.data() + 256);
    const Bytes expected = {0xFF,      0xFF,      0xFF,      0xFF, 0xFF, 0xFF,     0x10,     0x02,
                            second[0], second[1], second[2], 0x10, 0x02, first[0], first[1], first[2]};
    EXPECT_EQ(Bytes(spare.begin(), spare.end()), expected);
}

TEST(SimCardEcc, BlockAddressFields)
{
    struct FieldCase {
        std::uint32_t block;
        std::uint16_t field;
    };
    const FieldCase encode[] = {{0, 0x1001},   {1, 0x1002},    {2, 0x1004},   {3, 0x1007},
                                {999, 0x17CF}, {1000, 0x1001}, {1999, 0x17CF}};
    for (const auto& c : encode) {
        EXPECT_EQ(sim::BlockAddressField(c.block), c.field) << c.block;
        EXPECT_EQ(sim::ParseBlockAddressField(c.field), c.block % 1000) << c.block;
    }
    // Refused: wrong parity, wrong fixed bits, the erased and CIS fields, a number past the zone.
    for (std::uint16_t bad : {0x1003, 0x1000, 0x3001, 0x0001, 0xFFFF, 0x0000, 0x17D1})
        EXPECT_FALSE(sim::ParseBlockAddressField(bad)) << std::hex << bad;
}

TEST(SimSectorCardBytes, Crc16CheckValues)
{
    const std::string text = "123456789";
    EXPECT_EQ(sim::Crc16Xmodem(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0x31C3);
    EXPECT_EQ(sim::Crc16Xmodem(Bytes(512, 0x00).data(), 512), 0x0000);
    EXPECT_EQ(sim::Crc16Xmodem(Bytes(512, 0xFF).data(), 512), 0x7FA1);
}

TEST(SimSectorCardBytes, CsdTellsTheCapacity)
{
    for (std::uint32_t sectors : {4u, 2048u, 4096u, 16000u, 30720u, 131072u, 245760u, 1048576u, 2097152u, 4194304u}) {
        SCOPED_TRACE(sectors);
        const auto csd = sim::CsdForSectors(sectors);
        ASSERT_TRUE(csd);
        const std::uint32_t readBlLen = CsdField(*csd, 80, 4), multiplier = CsdField(*csd, 47, 3);
        const std::uint32_t cSize = CsdField(*csd, 62, 12);
        // (C_SIZE + 1) x 2^(C_SIZE_MULT + 2) x 2^READ_BL_LEN, in the 32 bits the host computes it in.
        const std::uint64_t capacity = std::uint64_t{cSize + 1} << (multiplier + 2 + readBlLen);
        EXPECT_EQ(capacity, std::uint64_t{sectors} * 512);
        EXPECT_LE(capacity, 0x80000000u);
        EXPECT_TRUE(readBlLen == 9 || readBlLen == 10);
        EXPECT_EQ(CsdField(*csd, 126, 2), 0u);  // CSD version 1.0
        EXPECT_EQ(CsdField(*csd, 0, 1), 1u);    // the register's end bit
        EXPECT_EQ(CsdField(*csd, 22, 4), readBlLen);
    }
    // Sizes no version 1.0 CSD gives exactly.
    for (std::uint32_t sectors : {0u, 3u, 4098u, 16388u, 250000u, 4194308u, 8388608u})
        EXPECT_FALSE(sim::CsdForSectors(sectors)) << sectors;
}

TEST(SimCardFormat, FreshNandCardSystemArea)
{
    struct NandCase {
        std::uint8_t device;
        std::uint32_t dataStart, start, sectors, fatSectors;
        const char* fatType;
    };
    const NandCase cases[] = {
        {0xE6, 48, 25, 15975, 3, "FAT12"},   {0x73, 64, 41, 31959, 3, "FAT12"},    {0x75, 64, 35, 63965, 6, "FAT12"},
        {0x76, 96, 55, 127945, 12, "FAT12"}, {0x79, 128, 47, 255953, 32, "FAT16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int{c.device});
        const auto geometry = sim::GeometryForId(0xEC, c.device);
        ASSERT_TRUE(geometry);
        const auto layout = sim::CardLayout(*geometry);
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->dataStart, c.dataStart);
        EXPECT_EQ(c.start + c.sectors, layout->LogicalSectors());  // the partition fills the logical card
        const Bytes head = sim::FormattedNandCardHead(*layout);
        ASSERT_EQ(head.size(), c.dataStart * 512u);
        const std::uint8_t* entry = &head[446];
        EXPECT_EQ(entry[0], 0x80);
        EXPECT_EQ(Le32(entry + 8), c.start);
        EXPECT_EQ(Le32(entry + 12), c.sectors);
        // The start address agrees with the card's geometry, as the mount checks it.
        EXPECT_EQ((entry[3] * layout->heads + entry[1]) * layout->sectorsPerTrack + entry[2] - 1, c.start);
        EXPECT_EQ(head[510], 0x55);
        EXPECT_EQ(head[511], 0xAA);
        EXPECT_EQ(head[512], 0xFF);
        const std::uint8_t* boot = &head[c.start * 512];
        EXPECT_EQ(boot[0], 0xE9);
        EXPECT_EQ(std::string(boot + 3, boot + 11), "MSDOS5.0");
        EXPECT_EQ(boot[13], layout->sectorsPerBlock);
        EXPECT_EQ(Le16(boot + 14), 1);
        EXPECT_EQ(boot[16], 2);
        EXPECT_EQ(Le16(boot + 17), 256);
        EXPECT_EQ(Le16(boot + 22), c.fatSectors);
        EXPECT_EQ(Le32(boot + 28), c.start);
        EXPECT_EQ(c.sectors < 65536 ? Le16(boot + 19) : Le32(boot + 32), c.sectors);
        EXPECT_EQ(std::string(boot + 54, boot + 59), c.fatType);
        // Boot sector, two FATs and 16 root sectors end exactly where cluster 2 begins.
        EXPECT_EQ(c.start + 1 + 2 * c.fatSectors + 16, c.dataStart);
        for (std::uint32_t fat : {c.start + 1, c.start + 1 + c.fatSectors}) {
            EXPECT_EQ(head[fat * 512], 0xF8);
            EXPECT_EQ(head[fat * 512 + 3], std::string(c.fatType) == "FAT16" ? 0xFF : 0x00);
        }
    }
    // The slot takes no chip of 256-sector blocks.
    EXPECT_FALSE(sim::CardLayout(*sim::GeometryForId(0xEC, 0xF1)));
    EXPECT_FALSE(sim::CardLayout(*sim::GeometryForId(0xEC, 0xDA)));
}

TEST(SimCardFormat, FreshSectorCardSystemArea)
{
    // 2 MiB: FAT12, 16 sectors per cluster, one FAT sector, the partition at 29 so that the data area
    // starts at 64, a boundary of the card.
    const auto head = sim::FormattedSectorCardHead(4096);
    ASSERT_TRUE(head);
    ASSERT_EQ(head->size(), 64u * 512);
    EXPECT_EQ(Le32(&(*head)[454]), 29u);
    EXPECT_EQ(Le32(&(*head)[458]), 4096u - 29);
    EXPECT_EQ((*head)[450], 0x01);
    const std::uint8_t* boot = head->data() + 29 * 512;
    EXPECT_EQ(boot[13], 16);
    EXPECT_EQ(Le16(boot + 22), 1);
    EXPECT_EQ(Le16(boot + 17), 512);
    EXPECT_EQ(std::string(boot + 54, boot + 62), "FAT12   ");
    EXPECT_EQ(boot[510], 0x55);

    // Whatever the size, the FAT width agrees with the cluster count (the count decides it for every
    // reader) and the FAT holds every cluster.
    for (std::uint32_t sectors : {2048u, 16384u, 65536u, 131072u, 131076u, 1048576u, 4194304u}) {
        SCOPED_TRACE(sectors);
        const auto h = sim::FormattedSectorCardHead(sectors);
        ASSERT_TRUE(h);
        const std::uint32_t start = Le32(&(*h)[454]);
        const std::uint8_t* b = h->data() + std::size_t{start} * 512;
        const std::uint32_t perCluster = b[13], fatSectors = Le16(b + 22), total = Le32(b + 32);
        EXPECT_EQ(start + total, sectors);
        const std::uint32_t clusters = (total - 1 - 2 * fatSectors - 32) / perCluster;
        const bool fat16 = std::string(b + 54, b + 59) == "FAT16";
        EXPECT_EQ(fat16, clusters >= 4085);
        EXPECT_LE(clusters, 65524u);
        EXPECT_GE(fatSectors * 512 * 8 / (fat16 ? 16 : 12), clusters + 2);
        EXPECT_EQ(h->size(), (start + 1 + 2 * fatSectors + 32) * 512u);
    }
    EXPECT_FALSE(sim::FormattedSectorCardHead(40));  // no room for a volume
}
