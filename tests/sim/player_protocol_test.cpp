// The simulated player driven through HostWrite: chips, commands, replies and refusals.
#include "tests/sim/sim_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

using namespace simtest;
using sim::Message;
using sim::SimulatedPlayer;

namespace {

bool AllBytes(const Message& m, std::uint8_t v)
{
    return std::all_of(m.begin(), m.end(), [v](std::uint8_t b) { return b == v; });
}

std::unique_ptr<SimulatedPlayer> Player(const sim::PlayerConfig& config)
{
    auto p = SimulatedPlayer::CreateInMemory(config);
    EXPECT_NE(p, nullptr);
    return p;
}

struct GeometryCase {
    std::uint8_t maker, device;
    std::uint32_t rows, sectorsPerBlock;  // rows 0: the player knows no such chip
};

}  // namespace

TEST(SimGeometry, ChipsByIdAnswerWithTheirGeometry)
{
    // clang-format off
    const GeometryCase cases[] = {
        {0xEC, 0xE6, 64, 16},   {0x98, 0x73, 128, 32},  {0x45, 0x75, 256, 32},   {0xEC, 0x76, 512, 32},
        {0xEC, 0x79, 1024, 32}, {0xEC, 0xF1, 1024, 256}, {0x98, 0xDA, 2048, 256}, {0x45, 0xDC, 4096, 256},
        {0xEC, 0x99, 0, 0},     {0x20, 0x75, 0, 0},      {0x00, 0x00, 0, 0},      {0xFF, 0xFF, 0, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int{c.maker} << "/" << int{c.device});
        auto p = Player(OneChip(c.maker, c.device));
        auto spares = Send(*p, Signed(0x07, 0x01));
        if (c.rows == 0) {
            // No chip: the spare read is refused with one empty reply, so the host's read fails.
            EXPECT_EQ(Sizes(spares), std::vector<std::size_t>{0});
            EXPECT_EQ(p->Counters().rejected, 1u);
            continue;
        }
        // One 16-byte record per erase block, in 64-byte messages, all erased on a fresh chip.
        const std::size_t records = c.rows * (256 / c.sectorsPerBlock);
        ASSERT_EQ(spares.size(), records * 16 / 64);
        EXPECT_TRUE(std::all_of(spares.begin(), spares.end(),
                                [](const Message& m) { return m.size() == 64 && AllBytes(m, 0xFF); }));

        // A block read sends one erase block from the addressed sector, at most 32 units per message.
        auto block = Send(*p, NandCommand(0x02, 0, c.rows - 1, 0, c.rows));
        const std::vector<std::size_t> expected(c.sectorsPerBlock <= 32 ? 1 : c.sectorsPerBlock / 32,
                                                (c.sectorsPerBlock <= 32 ? c.sectorsPerBlock : 32) * 576);
        EXPECT_EQ(Sizes(block), expected);

        // The row's high byte is 0xFF below 512 rows and the real high byte from 512 rows up.
        Bytes wrongHigh = NandCommand(0x06, 0, 0, 0, c.rows);
        wrongHigh[5] = c.rows < 512 ? 0x00 : 0xFF;
        EXPECT_EQ(Sizes(Send(*p, wrongHigh)), std::vector<std::size_t>{0});
        if (c.rows != 256) {  // a 256-row chip has no row beyond it that the small form can carry
            EXPECT_EQ(Sizes(Send(*p, NandCommand(0x06, 0, c.rows, 0, c.rows))), std::vector<std::size_t>{0});
        }
        EXPECT_EQ(p->Counters().rejected, c.rows != 256 ? 2u : 1u);
    }
}

TEST(SimNand, ProgramOnlyClearsBitsAndEraseSetsTheBlockToOnes)
{
    auto p = Player(OneChip(0xEC, 0x75));  // 256 rows, 32-sector blocks
    const std::uint32_t rows = 256;
    auto program = [&](std::uint32_t row, std::uint8_t sector, std::uint8_t data, std::uint8_t spare) {
        EXPECT_TRUE(Send(*p, OwnBlock(0x03, 0, row, sector, rows)).empty());
        EXPECT_TRUE(Send(*p, Unit(data, spare)).empty());
    };
    program(3, 40, 0xF0, 0xAA);
    program(3, 40, 0x3C, 0x0F);
    program(3, 64, 0x12, 0x34);  // the next erase block

    auto unit = Send(*p, NandCommand(0x06, 0, 3, 40, rows));
    ASSERT_EQ(Sizes(unit), std::vector<std::size_t>{576});
    EXPECT_TRUE(std::all_of(unit[0].begin(), unit[0].begin() + 512, [](std::uint8_t b) { return b == 0x30; }));
    EXPECT_TRUE(std::all_of(unit[0].begin() + 512, unit[0].begin() + 528, [](std::uint8_t b) { return b == 0x0A; }));
    EXPECT_TRUE(std::all_of(unit[0].begin() + 528, unit[0].end(), [](std::uint8_t b) { return b == 0x00; }));
    const auto peek = p->PeekPage(0, 3, 40);
    EXPECT_TRUE(std::equal(peek.begin(), peek.end(), unit[0].begin()));
    EXPECT_EQ(p->PeekPage(0, 3, 41)[0], 0xFF);

    // The erase address may point anywhere inside the block.
    auto status = Send(*p, NandCommand(0x04, 0, 3, 45, rows));
    ASSERT_EQ(Sizes(status), std::vector<std::size_t>{64});
    EXPECT_EQ(status[0][0] & 1, 0);
    for (std::uint32_t s = 32; s < 64; ++s)
        EXPECT_EQ(p->PeekPage(0, 3, s)[5], 0xFF) << s;
    EXPECT_EQ(p->PeekPage(0, 3, 40)[527], 0xFF);
    EXPECT_EQ(p->PeekPage(0, 3, 64)[0], 0x12);  // the next block keeps its page

    const auto n = p->Counters();
    EXPECT_EQ(n.pagePrograms, 3u);
    EXPECT_EQ(n.blockErases, 1u);
    EXPECT_EQ(n.pageReads, 1u);
    EXPECT_EQ(n.commandBlocks, 5u);
    EXPECT_EQ(n.rejected, 0u);
}

TEST(SimNand, BadBlocksAndInjectedFailures)
{
    auto config = OneChip(0xEC, 0xE6);  // 64 rows, 16-sector blocks: 16 records per row
    config.factoryBadBlocks = {{0, 5}};
    auto p = Player(config);
    const std::uint32_t rows = 64;
    auto spareOf = [&](std::uint32_t block) {
        auto records = Send(*p, Signed(0x07, 0x01));
        Message all;
        for (auto& r : records)
            all.insert(all.end(), r.begin(), r.end());
        return Message(all.begin() + block * 16, all.begin() + block * 16 + 16);
    };
    auto erase = [&](std::uint32_t block) {
        auto reply = Send(*p, NandCommand(0x04, 0, block / 16, static_cast<std::uint8_t>((block % 16) * 16), rows));
        return reply.size() == 1 && reply[0].size() == 64 ? reply[0][0] : -1;
    };
    auto writePage = [&](std::uint32_t block, std::uint8_t data) {
        Send(*p, OwnBlock(0x03, 0, block / 16, static_cast<std::uint8_t>((block % 16) * 16), rows));
        Send(*p, Unit(data, 0xEE));
    };

    // Factory bad block: byte 5 of its record is not 0xFF, and it cannot be erased.
    EXPECT_NE(spareOf(5)[5], 0xFF);
    EXPECT_EQ(spareOf(4)[5], 0xFF);
    EXPECT_EQ(erase(5) & 1, 1);
    EXPECT_NE(spareOf(5)[5], 0xFF);

    // Grown bad block.
    writePage(20, 0x11);
    ASSERT_TRUE(p->MarkBadBlock(0, 20));
    EXPECT_NE(spareOf(20)[5], 0xFF);
    EXPECT_EQ(spareOf(20)[0], 0xEE);  // the rest of the record stays as written
    EXPECT_EQ(erase(20) & 1, 1);

    // Failing erase: status bit 0, nothing erased.
    writePage(30, 0x22);
    ASSERT_TRUE(p->FailErase(0, 30));
    EXPECT_EQ(erase(30) & 1, 1);
    EXPECT_EQ(p->PeekPage(0, 1, 224)[0], 0x22);

    // Failing program: the block keeps its content.
    ASSERT_TRUE(p->FailProgram(0, 40));
    writePage(40, 0x33);
    EXPECT_EQ(p->PeekPage(0, 2, 128)[0], 0xFF);
    writePage(41, 0x33);
    EXPECT_EQ(p->PeekPage(0, 2, 144)[0], 0x33);

    // Clearing the failures restores erase and program, but a bad block stays bad.
    p->ClearFailures();
    EXPECT_EQ(erase(30), 0xC0);
    EXPECT_EQ(p->PeekPage(0, 1, 224)[0], 0xFF);
    writePage(40, 0x44);
    EXPECT_EQ(p->PeekPage(0, 2, 128)[0], 0x44);
    EXPECT_EQ(erase(20) & 1, 1);

    // No such block or chip.
    EXPECT_FALSE(p->MarkBadBlock(0, 1024));
    EXPECT_FALSE(p->FailErase(1, 0));
    EXPECT_FALSE(p->FailProgram(-1, 0));
}

TEST(SimNand, BlockWritesInBothModes)
{
    // Normal mode on a small-page chip: 32 units in one message of 18432 bytes.
    {
        auto p = Player(OneChip(0xEC, 0x75));
        Bytes units;
        for (int i = 0; i < 32; ++i) {
            Bytes u = Unit(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(0x80 + i));
            units.insert(units.end(), u.begin(), u.end());
        }
        Bytes header = OwnBlock(0x08, 0, 2, 32, 256, 32 * 576);
        EXPECT_EQ(Bytes(header.begin() + 6, header.begin() + 10), (Bytes{0x48, 0x00, 0x00, 0x00}));
        EXPECT_TRUE(Send(*p, header).empty());
        EXPECT_TRUE(Send(*p, units).empty());
        for (int i = 0; i < 32; ++i) {
            const auto page = p->PeekPage(0, 2, 32 + i);
            EXPECT_EQ(page[0], i);
            EXPECT_EQ(page[511], i);
            EXPECT_EQ(page[512], 0x80 + i);
        }
        EXPECT_EQ(p->Counters().pagePrograms, 32u);
        // A large-page write to a small-page chip is refused, and so is its data.
        EXPECT_TRUE(Send(*p, OwnBlock(0x30, 0, 4, 0, 256, 32 * 528)).empty());
        EXPECT_TRUE(Send(*p, RepackLarge(units)).empty());
        EXPECT_EQ(p->PeekPage(0, 4, 0)[0], 0xFF);
        EXPECT_EQ(p->Counters().rejected, 2u);
    }
    // Large-page chip: 256 units repacked into 8 messages of 8 chip pages, and the same block through
    // 0x08 with plain units (as a KWEP-4 host sends it).
    for (const bool repacked : {true, false}) {
        SCOPED_TRACE(repacked ? "0x30" : "0x08");
        auto p = Player(OneChip(0xEC, 0xDA));  // 2048 rows: the row goes as it is
        Bytes units;
        for (int i = 0; i < 256; ++i) {
            Bytes u = Unit(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i));
            u[0] = 0x5A;  // a byte of its own at the start of each sector
            units.insert(units.end(), u.begin(), u.end());
        }
        const std::uint32_t row = 700;
        if (repacked) {
            Bytes header = OwnBlock(0x30, 0, row, 0, 2048, 256 * 528);
            EXPECT_EQ(Bytes(header.begin() + 6, header.begin() + 10), (Bytes{0x10, 0x00, 0x02, 0x00}));
            EXPECT_EQ(header[4], 700 & 0xFF);
            EXPECT_EQ(header[5], 700 >> 8);
            EXPECT_TRUE(Send(*p, header).empty());
            const Bytes pages = RepackLarge(units);
            ASSERT_EQ(pages.size(), 135168u);
            for (std::size_t at = 0; at < pages.size(); at += 16896)
                EXPECT_TRUE(Send(*p, Bytes(pages.begin() + at, pages.begin() + at + 16896)).empty());
        } else {
            EXPECT_TRUE(Send(*p, OwnBlock(0x08, 0, row, 0, 2048, 256 * 576)).empty());
            for (std::size_t at = 0; at < units.size(); at += 18432)
                EXPECT_TRUE(Send(*p, Bytes(units.begin() + at, units.begin() + at + 18432)).empty());
        }
        EXPECT_EQ(p->Counters().rejected, 0u);
        EXPECT_EQ(p->Counters().pagePrograms, 256u);
        auto read = Send(*p, NandCommand(0x02, 0, row, 0, 2048));
        ASSERT_EQ(Sizes(read), std::vector<std::size_t>(8, 18432));
        Bytes back;
        for (auto& m : read)
            back.insert(back.end(), m.begin(), m.end());
        EXPECT_EQ(back, units);
        for (int i : {0, 3, 4, 255}) {
            const auto page = p->PeekPage(0, row, i);
            EXPECT_EQ(page[0], 0x5A);
            EXPECT_EQ(page[1], i);
            EXPECT_EQ(page[512], 255 - i);
        }
    }
}

TEST(SimInfo, BlockOfEveryModel)
{
    struct ModelCase {
        int model;
        const char* id;
        int slots;
    };
    // clang-format off
    const ModelCase models[] = {
        {0, nullptr, 7},   {1, "KWEP-1", 4}, {2, "KWEP-2", 7}, {3, "KWEP-3", 4}, {4, "KWEP-4", 7},  {5, "KWEP-5", 1},
        {6, "KWEP-6", 4},  {7, "KWEP07", 7}, {8, "KWEP08", 7}, {9, "TN510", 7},  {10, "TN520", 7}, {11, "TN530", 7},
        {12, "TN540", 7},  {13, "TN550", 7}, {14, "BRIX", 7},  {15, "SQ-21", 7}, {16, "SQ-22", 7},
    };
    // clang-format on
    const char* prefixes[] = {"KWEP-1", "KWEP-2", "KWEP-3", "KWEP-4", "KWEP-5", "KWEP-6", "KWEP07", "KWEP08", "TN510",
                              "TN520",  "KWEP 9", "TN530",  "TN540",  "TN550",  "BRIX",   "SQ-21",  "SQ-22"};
    for (const auto& m : models) {
        SCOPED_TRACE(m.model);
        const sim::PlayerConfig config = sim::DefaultConfig(m.model);
        EXPECT_EQ(sim::ModelChipSlots(m.model), m.slots);
        auto p = Player(config);
        auto reply = Send(*p, Signed(0x01));
        ASSERT_EQ(Sizes(reply), std::vector<std::size_t>{64});
        const Message& b = reply[0];
        const std::string id(b.begin(), b.begin() + 12);
        if (m.id) {
            EXPECT_EQ(id.rfind(m.id, 0), 0u) << id;
        } else {
            for (const char* prefix : prefixes)
                EXPECT_NE(id.rfind(prefix, 0), 0u) << id;
        }
        EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 16), config.firmware);
        EXPECT_EQ(std::string(b.begin() + 16, b.begin() + 24), config.firmwareDate);
        EXPECT_EQ(b[61] | (b[62] << 8), config.rootEntries);
        // Known chips on internal slots only, at least one; the card slot and beyond are empty.
        const bool nFamily = config.firmware[0] == 'N';
        int chips = 0;
        for (int i = 0; i < 8; ++i) {
            std::uint16_t word = static_cast<std::uint16_t>(b[24 + 2 * i] | (b[25 + 2 * i] << 8));
            if (nFamily && word != 0 && word != 0xFFFF)
                word = static_cast<std::uint16_t>(~word);
            const std::uint8_t maker = word & 0xFF, device = word >> 8;
            const bool known =
                (maker == 0x45 || maker == 0xEC || maker == 0x98) &&
                std::string("\xE6\x73\x75\x76\x79\xF1\xDA\xDC").find(static_cast<char>(device)) != std::string::npos;
            if (i >= m.slots) {
                EXPECT_FALSE(known) << "position " << i;
            }
            chips += known;
        }
        EXPECT_GE(chips, 1);
    }
}

TEST(SimInfo, FirmwareFamilyCardBytesAndRootCount)
{
    auto config = OneChip(0xEC, 0xE6);
    config.nandIds[2] = {0x98, 0xDA};
    config.rootEntries = 512;
    config.csd = {0x00, 0x26, 0x00, 0x32, 0x5F, 0x59, 0x83, 0xC8, 0xBE, 0xFB, 0xCF, 0xFF, 0x92, 0x40, 0x40, 0xC5};
    config.cardPresent = true;
    config.cardMountable = false;
    config.cardWriteProtect = true;
    auto p = Player(config);

    auto b = Send(*p, Signed(0x01))[0];
    EXPECT_EQ(Bytes(b.begin() + 24, b.begin() + 30), (Bytes{0xEC, 0xE6, 0x00, 0x00, 0x98, 0xDA}));
    EXPECT_EQ(Bytes(b.begin() + 40, b.begin() + 56), Bytes(config.csd.begin(), config.csd.end()));
    EXPECT_EQ(b[56] & 1, 1);
    EXPECT_EQ(b[58], 1);  // present, read from byte 58 on this firmware
    EXPECT_EQ(b[59], 0);  // not mountable
    EXPECT_EQ(b[60], 0);
    EXPECT_EQ(b[61], 0x00);
    EXPECT_EQ(b[62], 0x02);

    // "N" firmware: every id word arrives complemented (an empty one as 0xFFFF), card presence in byte 60.
    p->EditConfig([](sim::PlayerConfig& c) {
        c.firmware = "N100";
        c.rootEntries = 0x6F78;
    });
    b = Send(*p, Signed(0x01))[0];
    EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 16), "N100");
    EXPECT_EQ(b[24] | (b[25] << 8), 0x1913);  // (0xEC, 0xE6) complemented
    EXPECT_EQ(b[26] | (b[27] << 8), 0xFFFF);
    EXPECT_EQ(b[28] | (b[29] << 8), 0x2567);  // (0x98, 0xDA) complemented
    EXPECT_EQ(b[58], 0);
    EXPECT_EQ(b[60], 1);
    EXPECT_EQ(b[61], 'x');
    EXPECT_EQ(b[62], 'o');
    EXPECT_EQ(b[63], 0);

    // Media change: reported once by the query, or until acknowledged.
    p->EditConfig([](sim::PlayerConfig& c) { c.mediaChanged = true; });
    EXPECT_EQ(Send(*p, Signed(0x01))[0][57], 1);
    EXPECT_EQ(Send(*p, Signed(0x01))[0][57], 0);
    p->EditConfig([](sim::PlayerConfig& c) { c.mediaChanged = true; });
    EXPECT_TRUE(Send(*p, Signed(0xAC)).empty());
    EXPECT_EQ(Send(*p, Signed(0x01))[0][57], 0);
}

TEST(SimProtocol, StatusFileHeaderAndCommandsWithoutReply)
{
    auto config = OneChip(0xEC, 0xE6);
    config.upgradeStatus = 7;
    config.audioHeaders = {{1, 0x1234, 2, 44100, 128000}};
    auto p = Player(config);

    auto status = Send(*p, Signed(0xA0));
    ASSERT_EQ(Sizes(status), std::vector<std::size_t>{64});
    EXPECT_EQ(status[0][0], 7);

    Bytes query(64, 0);
    query[0] = 0xAA;
    query[1] = 1;
    query[2] = 0x34;
    query[3] = 0x12;
    auto header = Send(*p, query);
    ASSERT_EQ(Sizes(header), std::vector<std::size_t>{64});
    EXPECT_EQ(Bytes(header[0].begin(), header[0].begin() + 10),
              (Bytes{0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x00, 0xF4, 0x01, 0x00}));
    EXPECT_TRUE(AllBytes(Message(header[0].begin() + 10, header[0].end()), 0));
    query[1] = 0;  // the same id on the other storage: no such file
    EXPECT_TRUE(AllBytes(Send(*p, query).at(0), 0));

    EXPECT_TRUE(Send(*p, Signed(0x20)).empty());
    EXPECT_TRUE(Send(*p, Signed(0xAC)).empty());
    EXPECT_EQ(p->Counters().commandBlocks, 5u);
    EXPECT_EQ(p->Counters().rejected, 0u);
}

TEST(SimProtocol, RefusedMessagesChangeNothing)
{
    struct RefusalCase {
        const char* what;
        Bytes message;
        bool emptyReply;  // a command with a reply phase is answered by one empty message
    };
    const std::uint32_t rows = 64;  // chip 0: (0xEC, 0xE6)
    auto withByte = [](Bytes b, std::size_t at, std::uint8_t v) {
        b[at] = v;
        return b;
    };
    // clang-format off
    const RefusalCase cases[] = {
        {"empty message", {}, false},
        {"63-byte block", Bytes(63, 0x01), false},
        {"65-byte block", withByte(Bytes(65, 0), 0, 0x01), false},
        {"unknown opcode", Signed(0x55), false},
        {"opcode without service", Signed(0x05), true},
        {"info without trailer", withByte(Signed(0x01), 63, 0), true},
        {"info with a stray byte", withByte(Signed(0x01), 30, 1), true},
        {"two chip-select bits", Signed(0x02, 0x03, 0, 0, 0xFF00), true},
        {"no chip-select bit", Signed(0x02, 0x00, 0, 0, 0xFF00), true},
        {"empty chip position", Signed(0x06, 0x02, 0, 0, 0xFF00), true},
        {"row high byte 0 on a small chip", Signed(0x06, 0x01, 0, 0, 0x0000), true},
        {"row beyond the chip", NandCommand(0x04, 0, 64, 0, rows), true},
        {"spare read with a row", Signed(0x07, 0x01, 0, 0, 0xFF00), true},
        {"page write with trailer", withByte(OwnBlock(0x03, 0, 0, 0, rows), 59, 'w'), false},
        {"block write of part of a unit", OwnBlock(0x08, 0, 0, 0, rows, 16 * 576 + 1), false},
        {"block write beyond the chip", OwnBlock(0x08, 0, 63, 240, rows, 17 * 576), false},
        {"block write of 4 GB", OwnBlock(0x08, 0, 0, 0, rows, 0xFFFFFFFF), false},
        {"block write of nothing", OwnBlock(0x08, 0, 0, 0, rows, 0), false},
        {"unit without a write", Unit(0x00, 0x00), false},
        {"card sector read", withByte(Bytes(64, 0), 0, 17), true},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = Player(OneChip(0xEC, 0xE6));
        auto replies = Send(*p, c.message);
        EXPECT_EQ(Sizes(replies), c.emptyReply ? std::vector<std::size_t>{0} : std::vector<std::size_t>{});
        EXPECT_EQ(p->Counters().rejected, 1u);
        EXPECT_EQ(p->Counters().commandBlocks, 0u);
        // Nothing was written, and a unit sent now finds no write waiting for it.
        Send(*p, Unit(0x00, 0x00));
        EXPECT_EQ(p->Counters().rejected, 2u);
        EXPECT_EQ(p->PeekPage(0, 0, 0)[0], 0xFF);
        EXPECT_EQ(Sizes(Send(*p, Signed(0x01))), std::vector<std::size_t>{64});
    }
}

TEST(SimProtocol, AnUnfinishedWriteIsAbandoned)
{
    const std::uint32_t rows = 64;
    // A command block where the unit of a page write belongs: the write is dropped, the command served.
    {
        auto p = Player(OneChip(0xEC, 0xE6));
        Send(*p, OwnBlock(0x03, 0, 0, 0, rows));
        EXPECT_EQ(Sizes(Send(*p, Signed(0x01))), std::vector<std::size_t>{64});
        Send(*p, Unit(0x00, 0x00));
        EXPECT_EQ(p->PeekPage(0, 0, 0)[0], 0xFF);
        EXPECT_EQ(p->Counters().rejected, 2u);
    }
    // The host closes its pipe in the middle of a block write: the rest of the data finds no write.
    {
        auto p = Player(OneChip(0xEC, 0x75));
        Send(*p, OwnBlock(0x08, 0, 0, 0, 256, 32 * 576));
        Bytes half;
        for (int i = 0; i < 16; ++i) {
            Bytes u = Unit(0x00, 0x00);
            half.insert(half.end(), u.begin(), u.end());
        }
        Send(*p, half);
        p->HostClosed();
        Send(*p, half);
        EXPECT_EQ(p->PeekPage(0, 0, 15)[0], 0x00);
        EXPECT_EQ(p->PeekPage(0, 0, 16)[0], 0xFF);
        EXPECT_EQ(p->Counters().pagePrograms, 16u);
        EXPECT_EQ(p->Counters().rejected, 1u);
    }
    // A data message larger than one transfer is refused and ends the write.
    {
        auto p = Player(OneChip(0xEC, 0x75));
        Send(*p, OwnBlock(0x08, 0, 0, 0, 256, 32 * 576));
        Send(*p, Bytes(33 * 576, 0x00));
        EXPECT_EQ(p->PeekPage(0, 0, 0)[0], 0xFF);
        EXPECT_EQ(p->Counters().rejected, 1u);
    }
}

TEST(SimProtocol, RandomMessagesDoNotUpsetThePlayer)
{
    auto config = OneChip(0xEC, 0xE6);
    config.nandIds[1] = {0xEC, 0xF1};
    auto p = Player(config);
    std::mt19937 random(12345);
    const std::uint8_t opcodes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x11,
                                    0x12, 0x18, 0x20, 0x30, 0xA0, 0xAA, 0xAC, 0xCD, 0xFF};
    const std::size_t sizes[] = {0, 1, 64, 64, 64, 64, 576, 2112, 16896, 18432, 18433};
    std::uint64_t replyBytes = 0;
    for (int i = 0; i < 20000; ++i) {
        Bytes m(sizes[random() % std::size(sizes)]);
        for (auto& b : m)
            b = static_cast<std::uint8_t>(random());
        if (m.size() == 64 && random() % 2) {
            // A plausible block: right opcode and layout, any of its fields possibly off.
            std::fill(m.begin(), m.end(), 0);
            m[0] = opcodes[random() % std::size(opcodes)];
            if (m[0] != 0x01 && m[0] != 0x20 && m[0] != 0xA0 && m[0] != 0xAC) {
                m[1] = static_cast<std::uint8_t>(1u << (random() % 3));
                m[3] = static_cast<std::uint8_t>(random());
                m[4] = static_cast<std::uint8_t>(random() % 80);
                m[5] = random() % 4 ? 0xFF : 0x00;
            }
            if (m[0] == 0x08 || m[0] == 0x30) {
                const std::uint32_t bytes = (random() % 40) * (m[0] == 0x08 ? 576 : 528);
                m[6] = static_cast<std::uint8_t>(bytes >> 8);
                m[7] = static_cast<std::uint8_t>(bytes);
                m[8] = static_cast<std::uint8_t>(bytes >> 16);
            }
            const bool ownBlock = m[0] == 0x03 || m[0] == 0x08 || m[0] == 0x30 || m[0] == 0xAA;
            if ((random() % 4 == 0) == ownBlock)
                std::memcpy(&m[59], "wexol", 5);
        }
        for (auto& r : Send(*p, m))
            replyBytes += r.size();
        if (m.size() == 64 && (m[0] == 0x03 || m[0] == 0x08 || m[0] == 0x30) && random() % 4) {
            // Data of a plausible size for the write just begun.
            const std::size_t unit = m[0] == 0x30 ? 2112 : 576;
            Bytes data((m[0] == 0x03 ? 1 : 1 + random() % (m[0] == 0x30 ? 8 : 32)) * unit);
            for (auto& b : data)
                b = static_cast<std::uint8_t>(random());
            for (auto& r : Send(*p, data))
                replyBytes += r.size();
        }
        if (random() % 50 == 0)
            p->HostClosed();
    }
    const auto n = p->Counters();
    EXPECT_GT(n.rejected, 0u);
    EXPECT_GT(n.commandBlocks, 0u);
    EXPECT_GT(replyBytes, 0u);
    p->HostClosed();
    auto info = Send(*p, Signed(0x01));
    ASSERT_EQ(Sizes(info), std::vector<std::size_t>{64});
    EXPECT_EQ(std::string(info[0].begin() + 12, info[0].begin() + 16), config.firmware);
}
