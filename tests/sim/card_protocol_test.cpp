// The memory card slot driven through HostWrite: the MMC/SD sector card's commands, CRC, write
// protection, presence, media change and CSD; the NAND-type card at the card position.
#include "tests/sim/card_reference.h"
#include "sim/sim_sector_card.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace simtest;
using sim::Message;
using sim::SimulatedPlayer;

namespace {

constexpr std::uint32_t kCardSectors = 4096;  // 2 MiB: FAT12 with 16 sectors per cluster when formatted

std::unique_ptr<SimulatedPlayer> SectorCardPlayer(bool formatted = true, int model = 10)
{
    auto p = SimulatedPlayer::CreateInMemory(sim::DefaultConfig(model));
    EXPECT_NE(p, nullptr);
    EXPECT_TRUE(p->InsertSectorCard(kCardSectors, formatted));
    return p;
}

Bytes Pattern(std::size_t sectors, std::uint8_t seed)
{
    Bytes data(sectors * 512);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(seed + i * 13 + i / 512);
    return data;
}

Bytes ReadSector(SimulatedPlayer& p, std::uint32_t sector)
{
    auto reply = Send(p, CardBlock(17, sector));
    return reply.size() == 1 ? reply[0] : Bytes{};
}

void WriteSector(SimulatedPlayer& p, std::uint32_t sector, const Bytes& data)
{
    EXPECT_TRUE(Send(p, CardBlock(24, sector, ReferenceCrc(data))).empty());
    EXPECT_TRUE(Send(p, data).empty());
}

Message Info(SimulatedPlayer& p)
{
    return Send(p, Signed(0x01)).at(0);
}

}  // namespace

TEST(SimSectorCard, SectorAndClusterTransfers)
{
    auto p = SectorCardPlayer();
    const Bytes mbr = ReadSector(*p, 0);
    ASSERT_EQ(mbr.size(), 512u);
    EXPECT_EQ(mbr[510], 0x55);
    EXPECT_EQ(mbr[511], 0xAA);
    const std::uint32_t perCluster = ReadSector(*p, Le32(&mbr[454])).at(13);
    ASSERT_EQ(perCluster, 16u);

    // 25 takes as many sectors as its data message holds; 18 sends one cluster in one message.
    const Bytes three = Pattern(3, 0x11);
    EXPECT_TRUE(Send(*p, CardBlock(25, 100)).empty());
    EXPECT_TRUE(Send(*p, three).empty());
    auto cluster = Send(*p, CardBlock(18, 100));
    ASSERT_EQ(Sizes(cluster), std::vector<std::size_t>{perCluster * 512});
    EXPECT_TRUE(std::equal(three.begin(), three.end(), cluster[0].begin()));
    EXPECT_TRUE(std::all_of(cluster[0].begin() + 3 * 512, cluster[0].end(), [](std::uint8_t b) { return b == 0; }));

    // The largest run, 128 sectors, up to the card's last sector.
    const Bytes run = Pattern(128, 0x5A);
    Send(*p, CardBlock(25, kCardSectors - 128));
    Send(*p, run);
    EXPECT_EQ(ReadSector(*p, kCardSectors - 1), Bytes(run.end() - 512, run.end()));

    // 38 erases one cluster from its sector, to zeros.
    const Bytes twenty = Pattern(20, 0x77);
    Send(*p, CardBlock(25, 200));
    Send(*p, twenty);
    EXPECT_TRUE(Send(*p, CardBlock(38, 200)).empty());
    EXPECT_EQ(ReadSector(*p, 215), Bytes(512, 0));
    EXPECT_EQ(ReadSector(*p, 216), Bytes(twenty.begin() + 16 * 512, twenty.begin() + 17 * 512));

    const auto n = p->Counters();
    EXPECT_EQ(n.cardSectorsWritten, 3u + 128 + 20);
    EXPECT_EQ(n.cardSectorsErased, 16u);
    EXPECT_EQ(n.cardSectorsRead, 2u + 16 + 3);
    EXPECT_EQ(n.rejected, 0u);
}

TEST(SimSectorCard, SingleSectorWritesAreCheckedByTheirCrc)
{
    const Bytes data = Pattern(1, 0x42);
    const std::uint16_t crc = ReferenceCrc(data);
    ASSERT_NE(crc, 0);
    struct CrcCase {
        const char* what;
        std::uint16_t sent;
        bool lands;
    };
    // clang-format off
    const CrcCase cases[] = {
        {"right CRC", crc, true},
        {"high byte wrong", static_cast<std::uint16_t>(crc ^ 0x0100), false},
        {"low byte wrong", static_cast<std::uint16_t>(crc ^ 0x0001), false},
        {"top bit wrong", static_cast<std::uint16_t>(crc ^ 0x8000), false},
        {"no CRC", 0, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = SectorCardPlayer();
        EXPECT_TRUE(Send(*p, CardBlock(24, 300, c.sent)).empty());
        EXPECT_TRUE(Send(*p, data).empty());
        EXPECT_EQ(ReadSector(*p, 300), c.lands ? data : Bytes(512, 0));
        EXPECT_EQ(p->Counters().rejected, c.lands ? 0u : 1u);
        EXPECT_EQ(p->Counters().cardSectorsWritten, c.lands ? 1u : 0u);
    }
    // A sector of zeros goes with CRC 0, and 24 takes exactly one sector.
    auto p = SectorCardPlayer();
    WriteSector(*p, 301, Bytes(512, 0));
    EXPECT_EQ(p->Counters().rejected, 0u);
    Send(*p, CardBlock(24, 302, ReferenceCrc(data)));
    Bytes two = data;
    two.insert(two.end(), data.begin(), data.end());
    Send(*p, two);
    EXPECT_EQ(ReadSector(*p, 302), Bytes(512, 0));
    EXPECT_EQ(p->Counters().rejected, 1u);
}

TEST(SimSectorCard, RefusedBlocksChangeNothing)
{
    auto withByte = [](Bytes b, std::size_t at, std::uint8_t v) {
        b[at] = v;
        return b;
    };
    auto signedBlock = [](Bytes b) {
        std::memcpy(&b[59], "wexol", 5);
        return b;
    };
    struct RefusalCase {
        const char* what;
        Bytes block;
        Bytes data;       // sent after the block when not empty
        bool emptyReply;  // a refused read answers one empty message
        std::uint64_t rejected;
    };
    const Bytes sector = Pattern(1, 9);
    // clang-format off
    const RefusalCase cases[] = {
        {"read with a stray byte", withByte(CardBlock(17, 0), 7, 1), {}, true, 1},
        {"read with CRC bytes", withByte(CardBlock(17, 0), 6, 1), {}, true, 1},
        {"read with the trailer", signedBlock(CardBlock(17, 0)), {}, true, 1},
        {"read past the card", CardBlock(17, kCardSectors), {}, true, 1},
        {"cluster read past the card", CardBlock(18, kCardSectors - 8), {}, true, 1},
        {"write past the card", CardBlock(25, kCardSectors - 1), Pattern(2, 1), false, 1},
        {"write of part of a sector", CardBlock(25, 0), Bytes(511, 1), false, 1},
        {"write of 129 sectors", CardBlock(25, 0), Pattern(129, 1), false, 1},
        {"run write with CRC bytes", withByte(CardBlock(25, 0), 5, 1), sector, false, 2},
        {"erase past the card", CardBlock(38, kCardSectors - 8), {}, false, 1},
        {"sector in the high byte", CardBlock(17, 0x01000000), {}, true, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = SectorCardPlayer();
        const auto before = p->ExportCard();
        auto replies = Send(*p, c.block);
        if (!c.data.empty()) {
            auto more = Send(*p, c.data);
            replies.insert(replies.end(), more.begin(), more.end());
        }
        EXPECT_EQ(Sizes(replies), c.emptyReply ? std::vector<std::size_t>{0} : std::vector<std::size_t>{});
        EXPECT_EQ(p->Counters().rejected, c.rejected);
        EXPECT_EQ(p->ExportCard(), before);
    }
    // A card without a volume: nothing tells the cluster size, so 18 and 38 are refused; 17 and 24 work.
    auto blank = SectorCardPlayer(false);
    EXPECT_EQ(Sizes(Send(*blank, CardBlock(18, 0))), std::vector<std::size_t>{0});
    Send(*blank, CardBlock(38, 0));
    EXPECT_EQ(blank->Counters().rejected, 2u);
    WriteSector(*blank, 7, sector);
    EXPECT_EQ(ReadSector(*blank, 7), sector);
}

TEST(SimSectorCard, WriteProtectSwitch)
{
    auto p = SectorCardPlayer();
    WriteSector(*p, 400, Pattern(1, 1));
    p->EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = true; });
    EXPECT_EQ(Info(*p)[56] & 1, 1);
    const auto before = p->ExportCard();
    WriteSector(*p, 400, Pattern(1, 2));
    Send(*p, CardBlock(25, 400));
    Send(*p, Pattern(4, 3));
    Send(*p, CardBlock(38, 400));
    EXPECT_EQ(p->ExportCard(), before);
    EXPECT_EQ(p->Counters().rejected, 5u);  // three blocks and the two data messages after them
    // Reads go on.
    EXPECT_EQ(ReadSector(*p, 400), Pattern(1, 1));
    EXPECT_EQ(Sizes(Send(*p, CardBlock(18, 400))), std::vector<std::size_t>{16 * 512});

    p->EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = false; });
    EXPECT_EQ(Info(*p)[56] & 1, 0);
    WriteSector(*p, 400, Pattern(1, 2));
    EXPECT_EQ(ReadSector(*p, 400), Pattern(1, 2));
}

TEST(SimSectorCard, PresenceMediaChangeAndMountable)
{
    auto p = SimulatedPlayer::CreateInMemory(sim::DefaultConfig(10));
    ASSERT_NE(p, nullptr);
    Message b = Info(*p);
    EXPECT_EQ(b[57], 0);
    EXPECT_EQ(b[58], 0);
    EXPECT_EQ(b[59], 0);
    EXPECT_EQ(Sizes(Send(*p, CardBlock(17, 0))), std::vector<std::size_t>{0});
    EXPECT_FALSE(p->SetCardInserted(true));  // no card to push in

    // Insertion: present, changed (reported once), mountable; the CSD tells the size.
    ASSERT_TRUE(p->InsertSectorCard(kCardSectors));
    b = Info(*p);
    EXPECT_EQ(b[57], 1);
    EXPECT_EQ(b[58], 1);
    EXPECT_EQ(b[59], 1);
    const auto csd = *sim::CsdForSectors(kCardSectors);
    EXPECT_TRUE(std::equal(csd.begin(), csd.end(), b.begin() + 40));
    EXPECT_EQ(Info(*p)[57], 0);
    WriteSector(*p, 500, Pattern(1, 5));

    // Removal: absent, changed until acknowledged, every card command refused; the card keeps its data.
    ASSERT_TRUE(p->SetCardInserted(false));
    p->ResetCounters();
    EXPECT_TRUE(Send(*p, Signed(0xAC)).empty());
    b = Info(*p);
    EXPECT_EQ(b[57], 0);
    EXPECT_EQ(b[58], 0);
    EXPECT_EQ(b[59], 0);
    EXPECT_EQ(Sizes(Send(*p, CardBlock(17, 500))), std::vector<std::size_t>{0});
    EXPECT_EQ(Sizes(Send(*p, CardBlock(18, 500))), std::vector<std::size_t>{0});
    Send(*p, CardBlock(24, 500, ReferenceCrc(Pattern(1, 6))));
    Send(*p, Pattern(1, 6));
    EXPECT_EQ(p->Counters().rejected, 4u);
    ASSERT_TRUE(p->SetCardInserted(false));  // already out: no new change
    EXPECT_EQ(Info(*p)[57], 0);
    ASSERT_TRUE(p->SetCardInserted(true));
    EXPECT_EQ(Info(*p)[57], 1);
    EXPECT_EQ(ReadSector(*p, 500), Pattern(1, 5));

    // Mountable follows the volume the player finds: a blank card is reported unformatted until one
    // is written, and the switch in the configuration forces "not mountable".
    ASSERT_TRUE(p->InsertSectorCard(kCardSectors, false));
    EXPECT_EQ(Info(*p)[59], 0);
    const auto head = *sim::FormattedSectorCardHead(kCardSectors);
    for (std::uint32_t s : {0u, Le32(&head[454])})
        WriteSector(*p, s, Bytes(head.begin() + s * 512, head.begin() + s * 512 + 512));
    EXPECT_EQ(Info(*p)[59], 1);
    p->EditConfig([](sim::PlayerConfig& c) { c.cardMountable = false; });
    EXPECT_EQ(Info(*p)[59], 0);

    // "N" firmware reports presence in byte 60.
    auto n = SectorCardPlayer(true, 16);
    b = Info(*n);
    EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 13), "N");
    EXPECT_EQ(b[58], 0);
    EXPECT_EQ(b[60], 1);
}

TEST(SimSectorCard, OnlyGroupModelsTakeSectorCards)
{
    for (int model = 0; model <= 16; ++model) {
        SCOPED_TRACE(model);
        auto p = SimulatedPlayer::CreateInMemory(sim::DefaultConfig(model));
        const bool group = model == 10 || model == 14 || model == 16;
        EXPECT_EQ(sim::CardKindOf(p->Config()) == sim::CardKind::Sector, group);
        EXPECT_EQ(p->InsertSectorCard(kCardSectors), group);
        EXPECT_EQ(p->InsertNandCard(0xEC, 0x73), !group);
    }
    auto p = SectorCardPlayer();
    EXPECT_FALSE(p->InsertSectorCard(4098));     // no CSD tells that size
    EXPECT_FALSE(p->InsertSectorCard(8388608));  // 4 GiB
    EXPECT_FALSE(p->InsertSectorCard(40));       // too small for a volume
    EXPECT_TRUE(p->InsertSectorCard(40, false));
}

TEST(SimNandCard, TheChipAtTheCardPosition)
{
    struct PositionCase {
        int model;
        int position;
    };
    for (const auto& c : {PositionCase{1, 4}, PositionCase{5, 1}, PositionCase{9, 7}, PositionCase{0, 7}}) {
        SCOPED_TRACE(c.model);
        auto p = SimulatedPlayer::CreateInMemory(sim::DefaultConfig(c.model));
        EXPECT_EQ(sim::CardPosition(p->Config()), c.position);
        ASSERT_TRUE(p->InsertNandCard(0x98, 0xE6));
        Message b = Info(*p);
        EXPECT_EQ(b[24 + 2 * c.position], 0x98);
        EXPECT_EQ(b[25 + 2 * c.position], 0xE6);
        EXPECT_EQ(b[57], 1);
        // Served with the position's chip-select bit: its spare records, one per 16-sector block.
        auto spares = Send(*p, Signed(0x07, static_cast<std::uint8_t>(1u << c.position)));
        EXPECT_EQ(spares.size(), 64u * 16 * 16 / 64);
    }
    // Only cards of 16- or 32-sector blocks.
    auto p = SimulatedPlayer::CreateInMemory(sim::DefaultConfig(1));
    EXPECT_FALSE(p->InsertNandCard(0xEC, 0xF1));
    EXPECT_FALSE(p->InsertNandCard(0xEC, 0x99));
}

TEST(SimNandCard, RemovalKeepsTheCard)
{
    for (const char* firmware : {"0100", "N100"}) {
        SCOPED_TRACE(firmware);
        auto config = sim::DefaultConfig(1);  // four chip slots: the card is position 4
        config.firmware = firmware;
        auto p = SimulatedPlayer::CreateInMemory(config);
        ASSERT_TRUE(p->InsertNandCard(0xEC, 0x73, false));
        Send(*p, OwnBlock(0x03, 4, 3, 0, 128));
        Send(*p, Unit(0x3C, 0xEE));
        Info(*p);

        ASSERT_TRUE(p->SetCardInserted(false));
        Message b = Info(*p);
        const std::uint16_t word = static_cast<std::uint16_t>(b[32] | (b[33] << 8));
        EXPECT_EQ(word, firmware[0] == 'N' ? 0xFFFF : 0x0000);
        const std::size_t presence = firmware[0] == 'N' ? 60 : 58;
        EXPECT_EQ(b[57], 1);
        EXPECT_EQ(b[presence], 0);
        p->ResetCounters();
        EXPECT_EQ(Sizes(Send(*p, NandCommand(0x06, 4, 3, 0, 128))), std::vector<std::size_t>{0});
        EXPECT_EQ(Sizes(Send(*p, Signed(0x07, 0x10))), std::vector<std::size_t>{0});
        Send(*p, OwnBlock(0x03, 4, 3, 1, 128));
        Send(*p, Unit(0x00, 0x00));
        EXPECT_EQ(p->Counters().rejected, 4u);  // two reads, the write and its unit

        ASSERT_TRUE(p->SetCardInserted(true));
        b = Info(*p);
        EXPECT_EQ(b[57], 1);
        EXPECT_EQ(b[presence], 1);
        auto unit = Send(*p, NandCommand(0x06, 4, 3, 0, 128));
        ASSERT_EQ(Sizes(unit), std::vector<std::size_t>{576});
        EXPECT_EQ(unit[0][0], 0x3C);
        EXPECT_EQ(p->PeekPage(4, 3, 1)[0], 0xFF);
    }
}

TEST(SimNandCard, WriteProtectLeavesTheCardAlone)
{
    auto config = sim::DefaultConfig(1);  // internal (0xEC, 0xE6) chips at 0 and 1, the card at 4
    auto p = SimulatedPlayer::CreateInMemory(config);
    ASSERT_TRUE(p->InsertNandCard(0xEC, 0x73, false));
    Send(*p, OwnBlock(0x03, 4, 0, 32, 128));
    Send(*p, Unit(0x11, 0x22));
    p->EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = true; });
    EXPECT_EQ(Info(*p)[56] & 1, 1);

    auto erase = [&](int position, std::uint32_t rows) {
        auto reply = Send(*p, NandCommand(0x04, position, 0, 32, rows));
        return reply.size() == 1 ? reply[0][0] : -1;
    };
    EXPECT_EQ(erase(4, 128), 0x41);  // failed, write-protected
    EXPECT_EQ(p->PeekPage(4, 0, 32)[0], 0x11);
    Send(*p, OwnBlock(0x03, 4, 0, 64, 128));
    Send(*p, Unit(0x00, 0x00));
    Send(*p, OwnBlock(0x08, 4, 0, 96, 128, 32 * 576));
    Send(*p, Bytes(32 * 576, 0x00));
    EXPECT_EQ(p->PeekPage(4, 0, 64)[0], 0xFF);
    EXPECT_EQ(p->PeekPage(4, 0, 96)[0], 0xFF);
    EXPECT_EQ(p->PeekPage(4, 0, 127)[512], 0xFF);
    // Internal chips are not the card: the switch does not touch them.
    Send(*p, OwnBlock(0x03, 0, 0, 32, 64));
    Send(*p, Unit(0x55, 0x66));
    EXPECT_EQ(p->PeekPage(0, 0, 32)[0], 0x55);
    EXPECT_EQ(erase(0, 64), 0xC0);

    p->EditConfig([](sim::PlayerConfig& c) { c.cardWriteProtect = false; });
    EXPECT_EQ(erase(4, 128), 0xC0);
    EXPECT_EQ(p->PeekPage(4, 0, 32)[0], 0xFF);
}
