// Raw FAT images in and out of the simulated card: the NAND-type card's physical layout as a host finds
// it (CIS, retired block 0, zones, block-address fields, ECC), what the export notices, the sector
// card's image, persistence of both cards, and images made and checked by mkfs.fat, mtools and
// fsck.fat run on the Linux host.
#include "tests/sim/card_reference.h"
#include "sim/sim_nand_card.h"
#include "sim/sim_sector_card.h"

#include <gtest/gtest.h>
#include "tests/support/unix_shell.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <string>

using namespace simtest;
using sim::SimulatedPlayer;
using test_support::TempFolder;

namespace {

constexpr int kCardPosition = 4;  // model 1 has four chip slots

Bytes RandomImage(std::size_t sectors, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes image(sectors * 512);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(random());
    return image;
}

Bytes ReadFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path& file, const Bytes& bytes)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::unique_ptr<SimulatedPlayer> NandCardPlayer(std::uint8_t device, bool formatted)
{
    auto p = SimulatedPlayer::CreateInMemory(sim::DefaultConfig(1));
    EXPECT_NE(p, nullptr);
    EXPECT_TRUE(p->InsertNandCard(0xEC, device, formatted));
    return p;
}

// The NAND-type card as a host sees it over the wire: the spare record of every block, block reads.
struct HostCardView {
    SimulatedPlayer& player;
    std::uint32_t rows, sectorsPerBlock;
    Bytes records;  // 16 bytes per erase block

    HostCardView(SimulatedPlayer& p, std::uint32_t rowCount, std::uint32_t spb)
        : player(p), rows(rowCount), sectorsPerBlock(spb)
    {
        for (auto& m : Send(p, Signed(0x07, 1u << kCardPosition)))
            records.insert(records.end(), m.begin(), m.end());
    }
    std::uint32_t Blocks() const { return rows * (256 / sectorsPerBlock); }
    const std::uint8_t* Record(std::uint32_t block) const { return &records[block * 16]; }
    bool Valid(std::uint32_t block) const { return Record(block)[4] == 0xFF && Record(block)[5] == 0xFF; }
    // The first valid block of the zone whose first address field names logical block `l` of the zone.
    std::optional<std::uint32_t> Find(std::uint32_t zone, std::uint32_t l) const
    {
        for (std::uint32_t b = zone * 1024; b < std::min(Blocks(), (zone + 1) * 1024); ++b) {
            const std::uint8_t* r = Record(b);
            if (!Valid(b) || (r[6] == 0xFF && r[7] == 0xFF) || (r[6] == 0 && r[7] == 0))
                continue;
            if (DecodeField(r) == l)
                return b;
        }
        return std::nullopt;
    }
    // Every unit (512 data bytes, 16 spare bytes, 48 zeros) of a block, through 0x02.
    Bytes Units(std::uint32_t block) const
    {
        const std::uint32_t first = block * sectorsPerBlock;
        Bytes units;
        const Bytes read = NandCommand(0x02, kCardPosition, first / 256, static_cast<std::uint8_t>(first % 256), rows);
        for (auto& m : Send(player, read))
            units.insert(units.end(), m.begin(), m.end());
        return units;
    }
};

// A master boot record with partition entry 1 only.
Bytes MasterBootRecord(std::uint32_t start, std::uint32_t sectors, std::uint8_t type)
{
    Bytes mbr(512, 0);
    mbr[446] = 0x80;
    mbr[450] = type;
    for (int i = 0; i < 4; ++i) {
        mbr[454 + i] = static_cast<std::uint8_t>(start >> (8 * i));
        mbr[458 + i] = static_cast<std::uint8_t>(sectors >> (8 * i));
    }
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    return mbr;
}

std::string Host(const std::filesystem::path& path)
{
    return test_support::ShellQuote(test_support::UnixPath(path));
}

// Runs a script on the Linux host; its output and errors together for the failure messages.
struct HostRun {
    bool ok;
    std::string out, all;
};
HostRun RunHost(const std::string& script)
{
    const auto r = test_support::RunShell(script);
    return {r.finished && r.exitCode == 0, r.out, r.out + r.err};
}

// fsck.fat -n on the volume file that follows, failing on any finding but one: fsck.fat 4.2 takes a boot
// sector without the extended signature (the NAND-type card's, as the system's own card format writes
// it) to hold an empty, invalid label, which says nothing about the volume.
const std::string kFsckVolume =
    "fsck_volume() { out=$(fsck.fat -n \"$1\"); status=$?; echo \"$out\"; [ $status -le 1 ] || return 1; "
    "! echo \"$out\" | grep -v -e '^fsck.fat ' -e \"^Label '' stored in boot sector is not valid.\" "
    "-e '^  Auto-removing label from boot sector.' -e '^Leaving filesystem unchanged.' -e '^$' -e ': [0-9]* files, '; "
    "}; "
    "fsck_volume ";

}  // namespace

TEST(SimCardImage, NandCardLayoutAsTheHostFindsIt)
{
    // A 32 MB card: two zones of 1024 blocks. The image fills it: 2000 logical blocks of 32 sectors.
    auto p = NandCardPlayer(0x75, false);
    const Bytes image = RandomImage(64000, 1);
    ASSERT_TRUE(p->ImportCard(image));
    HostCardView card(*p, 256, 32);
    ASSERT_EQ(card.records.size(), 2048u * 16);

    // Block 0 retired, the CIS in block 1 (fields zero, the 110 bytes at 0 and 256 of its first two pages).
    EXPECT_TRUE(std::all_of(card.Record(0), card.Record(0) + 16, [](std::uint8_t b) { return b == 0; }));
    const std::uint8_t* cis = card.Record(1);
    EXPECT_TRUE(card.Valid(1));
    EXPECT_EQ(Bytes({cis[6], cis[7], cis[11], cis[12]}), Bytes(4, 0));
    const Bytes cisUnits = card.Units(1);
    for (std::size_t page : {0, 1})
        for (std::size_t at : {0, 256}) {
            const auto& table = sim::kCardInformationStructure;
            EXPECT_TRUE(std::equal(table.begin(), table.end(), cisUnits.begin() + page * 576 + at))
                << page << "/" << at;
        }

    // Every logical block in its zone, both address copies, every page's data and both ECCs.
    for (std::uint32_t logical = 0; logical < 2000; ++logical) {
        const auto block = card.Find(logical / 1000, logical % 1000);
        ASSERT_TRUE(block) << logical;
        EXPECT_EQ(*block / 1024, logical / 1000);
        const Bytes units = card.Units(*block);
        ASSERT_EQ(units.size(), 32u * 576);
        for (std::uint32_t s = 0; s < 32; ++s) {
            const std::uint8_t* unit = &units[s * 576];
            const std::uint8_t* spare = unit + 512;
            ASSERT_TRUE(std::equal(unit, unit + 512, image.begin() + (std::size_t{logical} * 32 + s) * 512)) << logical;
            EXPECT_EQ(DecodeField(spare), logical % 1000);
            EXPECT_TRUE(spare[6] == spare[11] && spare[7] == spare[12]);
            EXPECT_TRUE(std::all_of(spare, spare + 6, [](std::uint8_t b) { return b == 0xFF; }));
            const auto first = ReferenceEcc(unit), second = ReferenceEcc(unit + 256);
            ASSERT_TRUE(std::equal(first.begin(), first.end(), spare + 13)) << logical << "/" << s;
            ASSERT_TRUE(std::equal(second.begin(), second.end(), spare + 8)) << logical << "/" << s;
        }
    }
    // Logical block 1000 is block 0 of zone 1, address field 0x1001.
    EXPECT_EQ(Bytes(card.Record(*card.Find(1, 0)) + 6, card.Record(*card.Find(1, 0)) + 8), Bytes({0x10, 0x01}));

    sim::CardImageAudit audit{1, 1, 1};
    EXPECT_EQ(p->ExportCard(&audit), image);
    EXPECT_EQ(audit.eccMismatches + audit.malformedFields + audit.duplicateBlocks, 0u);
}

TEST(SimCardImage, FreshFormattedNandCard)
{
    auto p = NandCardPlayer(0x73, true);  // 16 MB: 32-sector blocks, cluster 2 at sector 64
    const auto layout = sim::CardLayout(*sim::GeometryForId(0xEC, 0x73));
    const Bytes head = sim::FormattedNandCardHead(*layout);
    sim::CardImageAudit audit;
    const auto image = p->ExportCard(&audit);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->size(), 32000u * 512);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), image->begin()));
    EXPECT_TRUE(std::all_of(image->begin() + head.size(), image->end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(audit.eccMismatches, 0u);
    // The system area only: logical blocks 0 and 1 right after the CIS, every other block erased.
    HostCardView card(*p, 128, 32);
    EXPECT_EQ(card.Find(0, 0), 2u);
    EXPECT_EQ(card.Find(0, 1), 3u);
    for (std::uint32_t b = 4; b < 1024; ++b)
        ASSERT_TRUE(std::all_of(card.Record(b), card.Record(b) + 16, [](std::uint8_t v) { return v == 0xFF; })) << b;
}

TEST(SimCardImage, ImportSkipsUnusableBlocks)
{
    const Bytes image = RandomImage(32000, 2);  // fills a 16 MB card
    {
        auto p = NandCardPlayer(0x73, false);
        ASSERT_TRUE(p->MarkBadBlock(kCardPosition, 1));
        ASSERT_TRUE(p->MarkBadBlock(kCardPosition, 3));
        ASSERT_TRUE(p->FailErase(kCardPosition, 5));
        ASSERT_TRUE(p->FailProgram(kCardPosition, 6));
        ASSERT_TRUE(p->ImportCard(image));
        HostCardView card(*p, 128, 32);
        EXPECT_EQ(card.Record(2)[6], 0x00);  // the CIS moved past the bad block 1
        EXPECT_EQ(card.Find(0, 0), 4u);
        EXPECT_EQ(card.Find(0, 1), 7u);
        EXPECT_EQ(card.Find(0, 999), 1005u);
        EXPECT_EQ(p->ExportCard(), image);
    }
    // Too few usable blocks in the zone: refused, the card untouched.
    auto p = NandCardPlayer(0x73, true);
    for (std::uint32_t b = 100; b < 123; ++b)
        ASSERT_TRUE(p->MarkBadBlock(kCardPosition, b));
    const auto before = p->ExportCard();
    const auto page = p->PeekPage(kCardPosition, 0, 64);
    EXPECT_FALSE(p->ImportCard(image));
    EXPECT_EQ(p->ExportCard(), before);
    EXPECT_EQ(p->PeekPage(kCardPosition, 0, 64), page);
    // Images that do not fit.
    EXPECT_FALSE(p->ImportCard(RandomImage(32001, 3)));
    EXPECT_FALSE(p->ImportCard(Bytes(511, 0)));
}

TEST(SimCardImage, ExportNoticesWhatIsWrongOnTheCard)
{
    const Bytes image = RandomImage(16000, 4);  // fills an 8 MB card (16-sector blocks)
    struct AuditCase {
        const char* what;
        void (*spoil)(SimulatedPlayer&, std::uint32_t block);  // given the physical block of logical block 10
        sim::CardImageAudit expected;
        const char* block10;  // what the export makes of logical block 10: "image", "changed" or "erased"
    };
    const AuditCase cases[] = {
        {"a data bit flipped",
         [](SimulatedPlayer& p, std::uint32_t block) {
             auto page = p.PeekPage(kCardPosition, block / 16, (block % 16) * 16 + 3);
             page[100] ^= 0x04;
             p.PokePage(kCardPosition, block / 16, (block % 16) * 16 + 3, page);
         },
         {1, 0, 0},
         "changed"},
        {"second address copy differs",
         [](SimulatedPlayer& p, std::uint32_t block) {
             auto page = p.PeekPage(kCardPosition, block / 16, (block % 16) * 16);
             page[512 + 12] ^= 0x06;
             p.PokePage(kCardPosition, block / 16, (block % 16) * 16, page);
         },
         {0, 1, 0},
         "erased"},
        {"a second block claims it",
         [](SimulatedPlayer& p, std::uint32_t block) {
             for (std::uint32_t s = 0; s < 16; ++s) {  // copied into block 1020, erased, later in the zone
                 auto page = p.PeekPage(kCardPosition, block / 16, (block % 16) * 16 + s);
                 page[0] ^= 0xFF;
                 p.PokePage(kCardPosition, 1020 / 16, (1020 % 16) * 16 + s, page);
             }
         },
         {0, 0, 1},
         "image"},  // the first block found is the one read; the copy is passed over
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = NandCardPlayer(0xE6, false);
        ASSERT_TRUE(p->ImportCard(image));
        const auto block = HostCardView(*p, 64, 16).Find(0, 10);
        ASSERT_TRUE(block);
        c.spoil(*p, *block);
        sim::CardImageAudit audit;
        const auto out = p->ExportCard(&audit);
        ASSERT_TRUE(out);
        EXPECT_EQ(audit.eccMismatches, c.expected.eccMismatches);
        EXPECT_EQ(audit.malformedFields, c.expected.malformedFields);
        EXPECT_EQ(audit.duplicateBlocks, c.expected.duplicateBlocks);
        const Bytes block10(out->begin() + 10 * 16 * 512, out->begin() + 11 * 16 * 512);
        const Bytes original(image.begin() + 10 * 16 * 512, image.begin() + 11 * 16 * 512);
        const std::string seen = block10 == original                ? "image"
                                 : block10 == Bytes(16 * 512, 0xFF) ? "erased"
                                                                    : "changed";
        EXPECT_EQ(seen, c.block10);
        EXPECT_TRUE(std::equal(out->begin() + 11 * 16 * 512, out->end(), image.begin() + 11 * 16 * 512));
    }
}

TEST(SimCardImage, SectorCardImage)
{
    auto p = SimulatedPlayer::CreateInMemory(sim::DefaultConfig(14));
    ASSERT_TRUE(p->InsertSectorCard(4096));
    Send(*p, Signed(0x01));
    const Bytes image = RandomImage(100, 5);
    ASSERT_TRUE(p->ImportCard(image));
    EXPECT_EQ(Send(*p, Signed(0x01)).at(0)[57], 1);  // the card changed behind the host's back
    const auto out = p->ExportCard();
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 4096u * 512);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), out->begin()));
    EXPECT_TRUE(std::all_of(out->begin() + image.size(), out->end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_FALSE(p->ImportCard(RandomImage(4097, 6)));
    EXPECT_FALSE(p->ImportCard(Bytes(1000, 0)));
    EXPECT_EQ(p->ExportCard(), out);

    TempFolder folder;
    ASSERT_TRUE(p->ExportCardFile(folder.File("card.raw")));
    EXPECT_EQ(ReadFile(folder.File("card.raw")), *out);
    WriteFile(folder.File("other.raw"), RandomImage(4096, 7));
    ASSERT_TRUE(p->ImportCardFile(folder.File("other.raw")));
    EXPECT_EQ(p->ExportCard(), ReadFile(folder.File("other.raw")));
    WriteFile(folder.File("big.raw"), Bytes(4097 * 512, 1));
    EXPECT_FALSE(p->ImportCardFile(folder.File("big.raw")));
    EXPECT_FALSE(p->ImportCardFile(folder.File("missing.raw")));
    EXPECT_EQ(p->ExportCard(), ReadFile(folder.File("other.raw")));

    // No card, no image.
    auto none = SimulatedPlayer::CreateInMemory(sim::DefaultConfig(14));
    EXPECT_FALSE(none->ExportCard());
    EXPECT_FALSE(none->ImportCard(image));
    EXPECT_FALSE(none->ExportCardFile(folder.File("none.raw")));
    EXPECT_FALSE(std::filesystem::exists(folder.File("none.raw")));
}

TEST(SimCardImage, CardsAreKeptInThePlayerFolder)
{
    TempFolder folder;
    const Bytes sectorImage = RandomImage(300, 8);
    {
        auto p = SimulatedPlayer::Create(folder.File("sd"), sim::DefaultConfig(10));
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(p->InsertSectorCard(8192, false));
        ASSERT_TRUE(p->ImportCard(sectorImage));
        ASSERT_TRUE(p->SetCardInserted(false));
        ASSERT_TRUE(p->Save());
    }
    {
        auto p = SimulatedPlayer::Open(folder.File("sd"));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->Config().cardSectors, 8192u);
        EXPECT_FALSE(p->Config().cardPresent);
        EXPECT_EQ(p->Config().csd, *sim::CsdForSectors(8192));
        const auto out = p->ExportCard();
        ASSERT_TRUE(out);
        EXPECT_TRUE(std::equal(sectorImage.begin(), sectorImage.end(), out->begin()));
        // A card image that was cut short is not a card: the player does not open.
        ASSERT_TRUE(p->SetCardInserted(true));
        ASSERT_TRUE(p->Save());
    }
    std::filesystem::resize_file(folder.File("sd") / "card.img", 1000);
    EXPECT_EQ(SimulatedPlayer::Open(folder.File("sd")), nullptr);

    const Bytes nandImage = RandomImage(5000, 9);
    {
        auto p = SimulatedPlayer::Create(folder.File("nand"), sim::DefaultConfig(1));
        ASSERT_TRUE(p->InsertNandCard(0xEC, 0x73, false));
        ASSERT_TRUE(p->ImportCard(nandImage));
        ASSERT_TRUE(p->SetCardInserted(false));
        ASSERT_TRUE(p->Save());
    }
    auto p = SimulatedPlayer::Open(folder.File("nand"));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->Config().nandCardOut);
    EXPECT_EQ(Send(*p, Signed(0x01)).at(0)[24 + 2 * kCardPosition], 0);
    const auto out = p->ExportCard();
    ASSERT_TRUE(out);
    EXPECT_TRUE(std::equal(nandImage.begin(), nandImage.end(), out->begin()));
    // A fresh player in the same folder leaves no card image behind.
    ASSERT_NE(SimulatedPlayer::Create(folder.File("sd"), sim::DefaultConfig(10)), nullptr);
    EXPECT_FALSE(std::filesystem::exists(folder.File("sd") / "card.img"));
}

TEST(SimCardImage, ImagesOfTheHostsFatTools)
{
    const HostRun probe = RunHost("command -v mkfs.fat fsck.fat mcopy mdir");
    ASSERT_TRUE(probe.ok) << "mkfs.fat, fsck.fat and mtools are needed: " << probe.all;
    TempFolder folder;
    WriteFile(folder.File("small.txt"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    WriteFile(folder.File("large.bin"), RandomImage(70, 10));  // several clusters

    struct FatCase {
        const char* what;
        int model;
        std::uint32_t cardSectors;  // sector card; 0 for the 16 MB NAND-type card
        std::uint32_t start, fatBits, perCluster;
        const char* geometry;
    };
    const FatCase cases[] = {
        {"NAND-type card, FAT12", 1, 0, 41, 12, 32, "4/16"},
        {"sector card, FAT16", 10, 65536, 63, 16, 4, "8/32"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = SimulatedPlayer::CreateInMemory(sim::DefaultConfig(c.model));
        ASSERT_TRUE(c.cardSectors ? p->InsertSectorCard(c.cardSectors, false) : p->InsertNandCard(0xEC, 0x73, false));
        const std::uint32_t total = c.cardSectors ? c.cardSectors : 32000;
        Bytes blank(std::size_t{total} * 512, 0);
        const Bytes mbr = MasterBootRecord(c.start, total - c.start, c.fatBits == 16 ? 0x06 : 0x01);
        std::copy(mbr.begin(), mbr.end(), blank.begin());
        WriteFile(folder.File("made.img"), blank);
        const std::string img = Host(folder.File("made.img")), at = "@@" + std::to_string(c.start * 512);
        const HostRun made =
            RunHost("mkfs.fat --invariant -a --offset " + std::to_string(c.start) + " -h " + std::to_string(c.start) +
                    " -F " + std::to_string(c.fatBits) + " -s " + std::to_string(c.perCluster) +
                    " -r 256 -R 1 -f 2 -g " + c.geometry + " " + img + " && mcopy -i " + img + at + " " +
                    Host(folder.File("small.txt")) + " ::SMALL.TXT && mcopy -i " + img + at + " " +
                    Host(folder.File("large.bin")) + " '::A rather long name.bin' && mcopy -i " + img + at + " " +
                    Host(folder.File("small.txt")) + " ::GONE.TXT && mdel -i " + img + at + " ::GONE.TXT");
        ASSERT_TRUE(made.ok) << made.all;

        ASSERT_TRUE(p->ImportCardFile(folder.File("made.img")));
        sim::CardImageAudit audit;
        ASSERT_TRUE(p->ExportCardFile(folder.File("back.img"), &audit));
        EXPECT_EQ(ReadFile(folder.File("back.img")), ReadFile(folder.File("made.img")));
        EXPECT_EQ(audit.eccMismatches + audit.malformedFields + audit.duplicateBlocks, 0u);

        const std::string back = Host(folder.File("back.img")) + at;
        const HostRun read = RunHost("mtype -i " + back + " ::SMALL.TXT && mdir -i " + back + " ::");
        ASSERT_TRUE(read.ok) << read.all;
        EXPECT_EQ(read.out.rfind("hello\n", 0), 0u) << read.all;
        EXPECT_NE(read.out.find("A rather long name.bin"), std::string::npos) << read.all;
        EXPECT_EQ(read.out.find("GONE"), std::string::npos) << read.all;
        if (c.cardSectors) {
            // The player reads the cluster size off the volume mkfs.fat made.
            EXPECT_EQ(Send(*p, Signed(0x01)).at(0)[59], 1);
            EXPECT_EQ(Sizes(Send(*p, CardBlock(18, 1000))), std::vector<std::size_t>{c.perCluster * 512});
        }
    }
}

TEST(SimCardImage, FreshFormattedCardsPassTheHostsFsck)
{
    struct FreshCase {
        int model;
        std::uint8_t device;        // NAND-type card
        std::uint32_t cardSectors;  // sector card
    };
    const FreshCase cases[] = {{1, 0xE6, 0},  {1, 0x73, 0},   {1, 0x75, 0},    {1, 0x76, 0},   {1, 0x79, 0},
                               {10, 0, 2048}, {10, 0, 65536}, {10, 0, 131072}, {10, 0, 262144}};
    TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int{c.device} << std::dec << " " << c.cardSectors);
        auto p = SimulatedPlayer::CreateInMemory(sim::DefaultConfig(c.model));
        ASSERT_TRUE(c.device ? p->InsertNandCard(0xEC, c.device) : p->InsertSectorCard(c.cardSectors));
        const auto image = p->ExportCard();
        ASSERT_TRUE(image);
        const std::uint32_t start = Le32(&(*image)[454]);
        WriteFile(folder.File("volume.img"), Bytes(image->begin() + std::size_t{start} * 512, image->end()));
        const std::string volume = Host(folder.File("volume.img"));
        const HostRun check =
            RunHost(kFsckVolume + volume + " && minfo -i " + volume + " :: && mdir -i " + volume + " ::");
        EXPECT_TRUE(check.ok) << check.all;
        EXPECT_NE(check.out.find(" 0 files, 0/"), std::string::npos) << check.all;
    }
}
