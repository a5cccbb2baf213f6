// What a run of the simulated player costs: the device time the cost model gives its counters (the
// counters of a run through the pipes are tested with the pipes).
#include "tests/sim/card_reference.h"
#include "tests/sim/sim_blocks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace simtest;

TEST(SimCost, PacketsPerTransfer)
{
    const struct {
        std::uint64_t bytes, packets;
    } cases[] = {{0, 1}, {1, 1}, {64, 1}, {65, 2}, {576, 9}, {18432, 288}, {18433, 289}};
    for (const auto& c : cases)
        EXPECT_EQ(sim::UsbPackets(c.bytes), c.packets) << c.bytes << " bytes";
}

// Chip and card busy time of each kind of command, counted by the player itself.
TEST(SimCost, ChipTimePerCommand)
{
    Bytes twoUnits = Unit(0x11, 0x22);
    const Bytes second = Unit(0x33, 0x44);
    twoUnits.insert(twoUnits.end(), second.begin(), second.end());
    const Bytes twoSectors(1024, 0x5A);
    struct Case {
        const char* name;
        bool sectorCard;  // a group model with a formatted 2 MiB card (16 sectors per cluster), else one
                          // (0xEC, 0x79) chip: 1024 rows of 32-sector blocks
        std::vector<Bytes> messages;
        std::uint64_t microseconds;
    };
    // clang-format off
    const Case cases[] = {
        {"page read", false, {NandCommand(0x06, 0, 5, 3, 1024)}, 25},
        {"block read", false, {NandCommand(0x02, 0, 5, 0, 1024)}, 32 * 25},
        {"page program", false, {OwnBlock(0x03, 0, 5, 1, 1024), Unit(0x5A, 0xA5)}, 200},
        {"block write of two units", false, {OwnBlock(0x08, 0, 5, 0, 1024, 2 * 576), twoUnits}, 2 * 200},
        {"block erase", false, {NandCommand(0x04, 0, 5, 0, 1024)}, 2000},
        {"spare read: one record per block", false, {Signed(0x07, 0x01)}, 1024 * 8 * 25},
        {"refused read", false, {Signed(0x06, 0x80)}, 0},
        {"device information", false, {Signed(0x01)}, 0},
        {"card sector read", true, {CardBlock(17, 100)}, 25},
        {"card cluster read", true, {CardBlock(18, 100)}, 16 * 25},
        {"card write of two sectors", true, {CardBlock(25, 100), twoSectors}, 2 * 200},
        {"card cluster erase", true, {CardBlock(38, 100)}, 16 * 200},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto p = sim::SimulatedPlayer::CreateInMemory(c.sectorCard ? sim::DefaultConfig(10) : OneChip(0xEC, 0x79));
        ASSERT_NE(p, nullptr);
        if (c.sectorCard) {
            ASSERT_TRUE(p->InsertSectorCard(4096));
        }
        for (const Bytes& m : c.messages)
            Send(*p, m);
        const sim::RunCost cost{{}, p->Counters()};
        EXPECT_EQ(cost.Time().nandMicroseconds, c.microseconds);
        EXPECT_EQ(cost.Time().usbPackets, 0u);
    }
}

TEST(SimCost, ModelFiguresArePrinted)
{
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    sim::PrintCostModel(f, "# ");
    std::string text(4096, '\0');
    std::rewind(f);
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    for (const char* figure : {"# bus: ", "64-byte packets", "19 packets per 1000 us", "1216000 bytes/s",
                               "# nand: ", "page read 25 us", "page program 200 us", "block erase 2000 us"})
        EXPECT_NE(text.find(figure), std::string::npos) << figure;
}
