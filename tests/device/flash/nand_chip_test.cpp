// The chip record: cursor arithmetic, the row as the player takes it, the spare table and its
// tests, checked byte for byte on the wire.
#include "tests/device/transport/recording_wire.h"

#include "device/flash/nand_chip.h"
#include "device/transport/engine_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>

using namespace engine;
using wiretest::Bytes;

namespace {

std::unique_ptr<NandChip> MakeChip(std::uint16_t rows, std::uint16_t sectorsPerBlock)
{
    auto chip = std::make_unique<NandChip>();
    chip->rowCount = rows;
    chip->sectorsPerBlock = sectorsPerBlock;
    chip->chipSelect = 0x04;
    chip->present = 1;
    chip->pipes = &PlayerPipes;
    return chip;
}

Bytes RecordAt(const NandChip& chip, std::size_t row, std::size_t block)
{
    const std::uint8_t* p = chip.spareTable.data() + row * 256 + block * 16;
    return Bytes(p, p + 16);
}

}  // namespace

TEST(NandChipCursorTest, AddressRoundTrip)
{
    auto chip = MakeChip(256, 32);
    chip->SetAddress(3 * 65536 + 64 * 256);
    EXPECT_EQ(chip->row, 3);
    EXPECT_EQ(chip->sector, 64);
    EXPECT_EQ(chip->column, 0);
    EXPECT_EQ(chip->GetAddress(), 3u * 65536 + 64 * 256);
    chip->SetAddress(0x0FFF12AB);
    EXPECT_EQ(chip->GetAddress(), 0x0FFF12ABu);
    chip->Rewind();
    EXPECT_EQ(chip->GetAddress(), 0u);
}

TEST(NandChipCursorTest, AdvanceBlockCarriesIntoTheRow)
{
    struct Case {
        std::uint16_t sectorsPerBlock;
        std::uint8_t sector;
        std::uint16_t row;
        std::uint8_t nextSector;
        std::uint16_t nextRow;
    } cases[] = {
        {32, 0, 5, 32, 5},
        {32, 224, 5, 0, 6},
        {16, 240, 0, 0, 1},
        {256, 0, 7, 0, 8},
        // From a cursor inside a block the step still carries, instead of falling back in the row.
        {32, 240, 2, 16, 3},
        {256, 16, 2, 16, 3},
    };
    for (const Case& c : cases) {
        auto chip = MakeChip(1024, c.sectorsPerBlock);
        chip->row = c.row;
        chip->sector = c.sector;
        chip->AdvanceBlock();
        EXPECT_EQ(chip->sector, c.nextSector) << c.sectorsPerBlock << "/" << int{c.sector};
        EXPECT_EQ(chip->row, c.nextRow) << c.sectorsPerBlock << "/" << int{c.sector};
    }
}

TEST(NandChipRecordTest, CursorBlockTests)
{
    auto Record = [](std::initializer_list<std::pair<int, std::uint8_t>> set, std::uint8_t fill) {
        Bytes r(16, fill);
        for (auto [i, v] : set)
            r[i] = v;
        return r;
    };
    struct Case {
        const char* name;
        Bytes record;
        bool unused, bad, usable;
        // clang-format off
    } cases[] = {
        {"erased", Record({}, 0xFF), true, false, true},
        {"first file block", Record({{0, 0xAA}, {4, 0x01}}, 0xFF), false, false, true},
        {"later file block", Record({{0, 0xEE}, {4, 0x01}, {5, 0x00}}, 0xFF), false, true, true},
        {"bad block", Record({}, 0x00), false, true, false},
        {"byte 5 only", Record({{5, 0xF0}}, 0xFF), false, true, false},
        {"byte 4 only", Record({{4, 0x00}}, 0xFF), false, false, false},
        {"foreign record", Record({{0, 0x12}}, 0xFF), true, false, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        auto chip = MakeChip(256, 32);
        chip->row = 9;
        chip->sector = 96 + 5;  // inside block 3 of row 9
        std::memcpy(chip->spareTable.data() + 9 * 256 + 3 * 16, c.record.data(), 16);
        EXPECT_EQ(chip->IsBlockUnused(), c.unused) << c.name;
        EXPECT_EQ(chip->IsBadBlock(), c.bad) << c.name;
        EXPECT_EQ(chip->CheckSpareRecord(), c.usable) << c.name;
    }
}

TEST(NandChipRecordTest, CursorOutsideTheTableReadsAsUnusable)
{
    auto chip = MakeChip(4096, 32);
    chip->row = 4096;
    EXPECT_EQ(chip->CursorRecord(), nullptr);
    EXPECT_FALSE(chip->IsBlockUnused());
    EXPECT_TRUE(chip->IsBadBlock());
    EXPECT_FALSE(chip->CheckSpareRecord());
    auto absent = std::make_unique<NandChip>();  // no geometry yet
    EXPECT_EQ(absent->CursorRecord(), nullptr);
}

class NandChipWireTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Engine.CurrentModel = PlayerModel::Unknown;
        ASSERT_TRUE(player.Ok());
    }
    void TearDown() override { PlayerPipes.Close(); }

    wiretest::RecordedPlayer player;
};

TEST_F(NandChipWireTest, RowOnTheWire)
{
    struct Case {
        std::uint16_t rows, row;
        std::uint8_t low, high;
        // clang-format off
    } cases[] = {
        {256, 5, 0x05, 0xFF},    // fewer than 512 rows: high byte 0xFF
        {64, 63, 0x3F, 0xFF},
        {512, 5, 0x05, 0x00},
        {4096, 0x0ABC, 0xBC, 0x0A},
    };
    // clang-format on
    player.device.SetResponder(
        [](std::span<const std::uint8_t>, std::vector<sim::Message>& out) { out.emplace_back(576, 0); });
    for (const Case& c : cases) {
        auto chip = MakeChip(c.rows, 32);
        chip->row = c.row;
        chip->sector = 0x21;
        chip->column = 0x07;
        player.device.ClearMessages();
        PlayerPipes.Open();
        std::uint8_t data[512], spare[16];
        EXPECT_EQ(chip->ReadPage(data, spare), 0);
        PlayerPipes.Close();
        std::vector<Bytes> m = player.device.WaitForMessages(1);
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0], wiretest::Block({{0, 0x06}, {1, 0x04}, {2, 0x07}, {3, 0x21}, {4, c.low}, {5, c.high}}, true))
            << c.rows << " rows, row " << c.row;
    }
}

// The host copy of the spare records follows every write, erase and bad-block mark.
TEST_F(NandChipWireTest, SpareTableFollowsTheOperations)
{
    const Bytes spare = {0xAA, 0x07, 0, 1, 0x11, 0x22, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Bytes before(16, 0x5A);
    Bytes units(32 * 576, 0x00);
    std::memcpy(units.data() + 512, spare.data(), 16);
    struct Fault {
        sim::FaultKind kind;
        std::uint64_t nth;
    };
    struct Case {
        const char* name;
        std::uint8_t sector;  // within row 3; 32-sector blocks
        std::optional<Fault> fault;
        std::function<int(NandChip&)> operation;
        int result;
        Bytes record;  // of the block under the cursor afterwards
    } cases[] = {
        {"page write at a block's first sector", 64, std::nullopt,
         [&](NandChip& c) { return c.WritePage(Bytes(512, 1), spare); }, 0, spare},
        {"page write inside a block", 65, std::nullopt, [&](NandChip& c) { return c.WritePage(Bytes(512, 1), spare); },
         0, before},
        {"failed page write", 64, Fault{sim::FaultKind::Fail, 2},
         [&](NandChip& c) { return c.WritePage(Bytes(512, 1), spare); }, 1, before},
        {"block write", 64, std::nullopt,
         [&](NandChip& c) {
             int header = c.BeginWrite();
             int data = c.WriteData(units);
             return header | data | c.EndWrite();
         },
         0, spare},
        {"failed block write still caches", 64, Fault{sim::FaultKind::Fail, 1},
         [&](NandChip& c) { return c.WriteData(units); }, 1, spare},
        {"erase", 64, std::nullopt,
         [](NandChip& c) {
             std::uint8_t status = 0xFF;
             return c.EraseBlock(status) | (status & 1);
         },
         0, Bytes(16, 0xFF)},
        {"failed erase transfer", 64, Fault{sim::FaultKind::Fail, 1},
         [](NandChip& c) {
             std::uint8_t status = 0;
             return c.EraseBlock(status);
         },
         1, Bytes(16, 0xFF)},
        {"bad-block mark", 70, std::nullopt,
         [](NandChip& c) {
             c.MarkBadBlock();
             return 0;
         },
         0, Bytes(16, 0x00)},
    };
    player.device.SetResponder([](std::span<const std::uint8_t> m, std::vector<sim::Message>& out) {
        if (m.size() == 64 && m[0] == 0x04)
            out.emplace_back(64, 0xC0);  // erase done
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto chip = MakeChip(256, 32);
        chip->row = 3;
        chip->sector = c.sector;
        std::uint8_t* record = chip->CursorRecord();
        ASSERT_NE(record, nullptr);
        std::memcpy(record, before.data(), 16);
        player.device.ClearMessages();
        PlayerPipes.Open();
        if (c.fault)
            player.server.InjectFault(c.fault->kind, c.fault->nth);
        EXPECT_EQ(c.operation(*chip), c.result);
        PlayerPipes.Close();
        player.server.ClearFault();
        EXPECT_EQ(RecordAt(*chip, 3, c.sector / 32), c.record);
    }
}

TEST_F(NandChipWireTest, BadBlockMarkProgramsAZeroUnit)
{
    auto chip = MakeChip(512, 32);
    chip->row = 0x0102;
    chip->sector = 32;
    PlayerPipes.Open();
    chip->MarkBadBlock();
    PlayerPipes.Close();
    std::vector<Bytes> m = player.device.WaitForMessages(2);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], wiretest::Block({{0, 0x03}, {1, 0x04}, {3, 32}, {4, 0x02}, {5, 0x01}}, false));
    EXPECT_EQ(m[1], Bytes(576, 0));
}

// The player sends the records packed, row after row; the table keeps each at row x 256 + block x 16.
TEST_F(NandChipWireTest, LoadSpareTableUnpacksTheRecords)
{
    struct Case {
        std::uint16_t rows, sectorsPerBlock;
    } cases[] = {{64, 16}, {256, 32}, {1024, 256}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << " rows of " << c.sectorsPerBlock);
        std::size_t perRow = 256 / c.sectorsPerBlock;
        Bytes packed(c.rows * perRow * 16);
        for (std::size_t r = 0; r < c.rows; ++r)
            for (std::size_t j = 0; j < perRow; ++j) {
                std::uint8_t* rec = packed.data() + (r * perRow + j) * 16;
                rec[0] = static_cast<std::uint8_t>(r);
                rec[1] = static_cast<std::uint8_t>(r >> 8);
                rec[2] = static_cast<std::uint8_t>(j);
                std::memset(rec + 3, 0xA5, 13);
            }
        player.device.SetResponder([&packed](std::span<const std::uint8_t>, std::vector<sim::Message>& out) {
            for (std::size_t at = 0; at < packed.size(); at += 64)
                out.emplace_back(packed.begin() + at, packed.begin() + at + 64);
        });
        auto chip = MakeChip(c.rows, c.sectorsPerBlock);
        chip->spareTable.fill(0x33);
        chip->row = 7;
        chip->sector = 16;
        PlayerPipes.Open();
        ASSERT_EQ(chip->LoadSpareTable(), 0);
        PlayerPipes.Close();
        EXPECT_EQ(chip->GetAddress(), 0u);  // the load rewinds
        bool allMapped = true;
        for (std::size_t r = 0; r < c.rows && allMapped; ++r)
            for (std::size_t j = 0; j < perRow; ++j)
                allMapped = allMapped && RecordAt(*chip, r, j) == Bytes(packed.begin() + (r * perRow + j) * 16,
                                                                        packed.begin() + (r * perRow + j + 1) * 16);
        EXPECT_TRUE(allMapped);
        // Nothing of what the table held before survives: slots of a row beyond its blocks, and rows
        // beyond the chip, read as retired blocks.
        if (perRow < 16) {
            EXPECT_EQ(chip->spareTable[perRow * 16], 0);
        }
        EXPECT_EQ(chip->spareTable[std::size_t{c.rows} * 256], 0);
        EXPECT_EQ(chip->spareTable.back(), 0);
    }
}

TEST_F(NandChipWireTest, LoadSpareTableFailure)
{
    player.device.SetResponder([](std::span<const std::uint8_t>, std::vector<sim::Message>& out) {
        for (int i = 0; i < 256; ++i)
            out.emplace_back(64, 0x00);
    });
    auto chip = MakeChip(64, 16);
    PlayerPipes.Open();
    player.server.InjectFault(sim::FaultKind::Shorten, 5, 32);
    EXPECT_EQ(chip->LoadSpareTable(), 1);
    EXPECT_FALSE(PlayerPipes.IsOpen(DevicePipes::kPipeOut));
    PlayerPipes.Close();
    player.server.ClearFault();
    // Without pipes there is nothing to load from.
    auto orphan = MakeChip(64, 16);
    orphan->pipes = nullptr;
    EXPECT_EQ(orphan->LoadSpareTable(), 1);
}
