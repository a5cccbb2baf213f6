// The MMC/SD card's volume against the simulated player: volumes made by mkfs.fat and filled by mtools
// are mounted, listed and read cluster by cluster exactly; changes written back through the volume's
// flush are clean for fsck.fat and read back by mtools, also after a failed write; hostile master boot
// records and boot sectors are refused.
#include "tests/device/fs/card/card_fixture.h"

#include "device/fs/engine_status.h"

#include <gtest/gtest.h>

#include <functional>

using namespace engine;
using namespace cardtest;

namespace {

struct SectorCase {
    const char* name;
    std::uint32_t cardSectors;
    std::uint32_t partitionStart;
    const char* mkfs;  // options of mkfs.fat
    std::uint8_t fatType;
};

class SectorCardTest : public ::testing::TestWithParam<SectorCase> {
protected:
    void SetUp() override
    {
        for (const char* tool : {"mkfs.fat", "fsck.fat", "mcopy", "mdir", "mdel"})
            ASSERT_TRUE(test_support::HostHasProgram(tool)) << tool;
        ASSERT_TRUE(player.Ok());
        ASSERT_TRUE(player.Player().InsertSectorCard(GetParam().cardSectors, false));
    }
    void TearDown() override { player.Server().ClearFault(); }

    std::uint32_t Identify()
    {
        DeviceInfoBlock info;
        return device.Initialize(info);
    }

    // A card whose partition 1 was made by mkfs.fat and filled by mcopy.
    Bytes MakeCard(const std::map<std::string, Bytes>& files, const char* deletedName = nullptr)
    {
        const SectorCase& c = GetParam();
        std::uint32_t partSectors = c.cardSectors - c.partitionStart;
        std::string part = temp.UnixFile("made.img");
        ShellResult made =
            RunShell("rm -f " + ShellQuote(part) + "; mkfs.fat -C " + c.mkfs + " -h " +
                     std::to_string(c.partitionStart) + " " + ShellQuote(part) + " " + std::to_string(partSectors / 2));
        EXPECT_TRUE(made.finished && made.exitCode == 0) << made.out << made.err;
        auto copy = [&](const std::string& name, const Bytes& content) {
            WriteFile(temp.File("in.bin"), content);
            ShellResult r = RunShell("MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 mcopy -i " + ShellQuote(part) + " " +
                                     ShellQuote(temp.UnixFile("in.bin")) + " " + ShellQuote("::/" + name));
            EXPECT_TRUE(r.finished && r.exitCode == 0) << name << r.out << r.err;
        };
        if (deletedName) {
            copy(deletedName, RandomBytes(5000, 99));
        }
        for (const auto& [name, content] : files)
            copy(name, content);
        if (deletedName) {
            ShellResult r = RunShell("MTOOLS_SKIP_CHECK=1 mdel -i " + ShellQuote(part) + " " +
                                     ShellQuote(std::string("::/") + deletedName));
            EXPECT_TRUE(r.finished && r.exitCode == 0) << r.out << r.err;
        }
        Bytes partition = ReadFile(temp.File("made.img"));
        Bytes card(std::size_t{c.cardSectors} * 512, 0);
        std::uint8_t* e = card.data() + 446;
        e[1] = 1;
        e[2] = 1;
        e[4] = c.fatType == 12 ? 0x01 : 0x06;
        e[5] = 0xFE;
        e[6] = 0xFF;
        e[7] = 0xFF;
        for (int i = 0; i < 4; ++i) {
            e[8 + i] = static_cast<std::uint8_t>(c.partitionStart >> (8 * i));
            e[12 + i] = static_cast<std::uint8_t>(partSectors >> (8 * i));
        }
        card[510] = 0x55;
        card[511] = 0xAA;
        std::copy(partition.begin(), partition.end(), card.begin() + std::size_t{c.partitionStart} * 512);
        return card;
    }

    // A file's bytes read through its chain, one cluster per multi-sector read.
    Bytes ReadThroughChain(std::uint16_t first, std::uint32_t size)
    {
        ScopedPipes bracket(PlayerPipes);
        const std::uint32_t spc = CardVolume.card.sectorsPerBlock;
        Bytes out, cluster(std::size_t{spc} * 512);
        std::uint32_t c = first;
        while (c != 0 && out.size() < size) {
            if (CardVolume.ReadSectors(CardVolume.DataLocation() + (c - 2) * spc, cluster.data()) != 0) {
                ADD_FAILURE() << "read of cluster " << c;
                break;
            }
            out.insert(out.end(), cluster.begin(), cluster.end());
            std::uint32_t next = 0;
            if (FollowChain(CardVolume.GetFatEntry(c), CardVolume.FatType(), CardVolume.MaxCluster(), next) !=
                ChainStep::Next)
                break;
            c = next;
        }
        if (out.size() > size)
            out.resize(size);
        return out;
    }

    // Writes a file into the root through the volume's own primitives.
    void WriteFileThroughVolume(const std::string& name, const Bytes& content)
    {
        ScopedPipes bracket(PlayerPipes);
        const std::uint32_t spc = CardVolume.card.sectorsPerBlock;
        const std::size_t cb = std::size_t{spc} * 512;
        std::uint32_t first = 0, previous = 0;
        for (std::size_t at = 0; at < content.size(); at += cb) {
            std::uint32_t c = CardVolume.FindFreeCluster();
            ASSERT_NE(c, 0u);
            Bytes cluster(cb, 0);
            std::copy(content.begin() + at, content.begin() + std::min(content.size(), at + cb), cluster.begin());
            ASSERT_EQ(CardVolume.WriteSectors(CardVolume.DataLocation() + (c - 2) * spc, cluster.data()), 0);
            if (previous)
                CardVolume.SetFatEntry(previous, c);
            else
                first = c;
            previous = c;
        }
        std::uint32_t n = CountLongNameEntries(name.c_str());
        std::int32_t slot = FindFreeEntryRun(n, CardVolume.RootSlotsPtr(), CardVolume.RootSlots());
        ASSERT_GE(slot, 0);
        char shortText[kShortTextBytes];
        ASSERT_EQ(
            MakeShortName(name.c_str(), shortText, sizeof shortText, CardVolume.RootSlotsPtr(), CardVolume.RootSlots()),
            0u);
        ASSERT_EQ(BuildFileEntrySet(static_cast<std::uint32_t>(slot), n, static_cast<std::uint16_t>(first),
                                    name.c_str(), shortText, 0, static_cast<std::uint32_t>(content.size()), 0, 0, 0,
                                    CardVolume.RootSlotsPtr(), CardVolume.RootSlots(), 0),
                  0u);
        CardVolume.RootSlotsPtr()[slot].entry.attributes = 0x20;
    }

    void ExpectCard(const std::map<std::string, Bytes>& files)
    {
        SyncWithPlayer();
        auto card = player.Player().ExportCard();
        ASSERT_TRUE(card);
        CardImage image(temp, *card);
        EXPECT_EQ(image.Fsck(), "");
        std::vector<std::string> names = image.Names();
        std::sort(names.begin(), names.end());
        std::vector<std::string> expected;
        for (const auto& [name, content] : files) {
            expected.push_back(name);
            auto read = image.Read(name);
            ASSERT_TRUE(read) << name;
            EXPECT_TRUE(*read == content) << name;
        }
        EXPECT_EQ(names, expected);
    }

    sim::TestPlayer player{WithoutInternalChips(10)};
    PlayerDevice device;
    test_support::TempFolder temp;
};

}  // namespace

TEST_P(SectorCardTest, ToolsVolumesAreMountedAndReadExactly)
{
    std::map<std::string, Bytes> files = {
        {"SHORT.TXT", RandomBytes(10, 30)},
        {"A long name that needs three pieces.bin", RandomBytes(70000, 31)},
        {"empty file", {}},
        {"mixed Case.Bin", RandomBytes(4096, 32)},
    };
    ASSERT_TRUE(player.Player().ImportCard(MakeCard(files, "deleted first.bin")));
    ASSERT_EQ(Identify(), kStatusOk);
    ASSERT_TRUE(CardVolume.IsMounted());
    EXPECT_TRUE(CardVolume.IsSectorCard());
    EXPECT_EQ(CardVolume.FatType(), GetParam().fatType);
    EXPECT_EQ(CardVolume.Partition().start, GetParam().partitionStart);

    auto listed = Walk();
    ASSERT_EQ(listed.size(), files.size());
    for (const auto& [name, content] : files) {
        ASSERT_TRUE(listed.count(name)) << name;
        EXPECT_EQ(listed[name].size, content.size());
        EXPECT_TRUE(ReadThroughChain(listed[name].id, listed[name].size) == content) << name;
    }
    std::uint32_t total = 0, freeCount = 0;
    ASSERT_TRUE(CardVolume.CountFreeClusters(total, freeCount));
    EXPECT_EQ(total, CardVolume.ClusterCount());
    EXPECT_LT(freeCount, total);
}

TEST_P(SectorCardTest, FlushWritesOnlyChangedSectorsAndSurvivesFailures)
{
    std::map<std::string, Bytes> files = {{"kept.bin", RandomBytes(3000, 40)}};
    ASSERT_TRUE(player.Player().ImportCard(MakeCard(files)));
    ASSERT_EQ(Identify(), kStatusOk);
    ASSERT_TRUE(CardVolume.IsMounted());

    // One FAT entry: one sector to each FAT copy, nothing to the root.
    std::uint32_t c = 0;
    {
        ScopedPipes bracket(PlayerPipes);
        c = CardVolume.FindFreeCluster();
        ASSERT_NE(c, 0u);
        player.Player().ResetCounters();
        ASSERT_EQ(CardVolume.Flush(), kStatusOk);
        SyncWithPlayer();
        EXPECT_EQ(player.Player().Counters().cardSectorsWritten, 2u);
        CardVolume.SetFatEntry(c, 0);
        ASSERT_EQ(CardVolume.Flush(), kStatusOk);
        ASSERT_EQ(CardVolume.Flush(), kStatusOk);  // nothing left to write
    }
    SyncWithPlayer();
    EXPECT_EQ(player.Player().Counters().cardSectorsWritten, 4u);
    ExpectCard(files);

    // A file written through the volume; the first flush fails part-way and a second one completes it.
    Bytes added = RandomBytes(3 * CardVolume.card.sectorsPerBlock * 512 + 11, 41);
    WriteFileThroughVolume("written by the volume.bin", added);
    files["written by the volume.bin"] = added;
    for (std::uint64_t nth : {1u, 3u}) {
        player.Server().InjectFault(sim::FaultKind::Fail, nth);
        ScopedPipes bracket(PlayerPipes);
        EXPECT_EQ(CardVolume.Flush(), kStatusUsbError) << nth;
        player.Server().ClearFault();
    }
    {
        ScopedPipes bracket(PlayerPipes);
        ASSERT_EQ(CardVolume.Flush(), kStatusOk);
    }
    ExpectCard(files);
    ASSERT_EQ(Identify(), kStatusOk);
    EXPECT_TRUE(ReadThroughChain(Walk()["written by the volume.bin"].id, static_cast<std::uint32_t>(added.size())) ==
                added);
}

TEST_P(SectorCardTest, HostileMbrAndBootSectorsAreRefused)
{
    Bytes good = MakeCard({{"a.bin", RandomBytes(100, 50)}});
    const std::size_t boot = std::size_t{GetParam().partitionStart} * 512;
    struct Case {
        const char* what;
        std::uint32_t status;
        std::function<void(Bytes&)> spoil;
    };
    // clang-format off
    const Case cases[] = {
        {"no MBR signature", kStatusMbrError, [](Bytes& c) { c[511] = 0; }},
        {"partition past the card", kStatusPartitionError, [](Bytes& c) { c[457] = 0x7F; }},
        {"no boot signature", kStatusPartitionError, [&](Bytes& c) { c[boot + 510] = 0; }},
        {"root of 65535 entries", kStatusPartitionError, [&](Bytes& c) { c[boot + 17] = 0xFF, c[boot + 18] = 0xFF; }},
        {"one FAT", kStatusPartitionError, [&](Bytes& c) { c[boot + 16] = 1; }},
        {"0 sectors per cluster", kStatusPartitionError, [&](Bytes& c) { c[boot + 13] = 0; }},
        {"FAT of 0 sectors", kStatusPartitionError, [&](Bytes& c) { c[boot + 22] = 0, c[boot + 23] = 0; }},
        {"FAT too small", kStatusPartitionError, [&](Bytes& c) { c[boot + 22] = 1, c[boot + 23] = 0; }},
        {"no reserved sector", kStatusPartitionError, [&](Bytes& c) { c[boot + 14] = 0, c[boot + 15] = 0; }},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes image = good;
        c.spoil(image);
        ASSERT_TRUE(player.Player().ImportCard(image));
        // Identification goes on without the card's volume.
        EXPECT_EQ(Identify(), kStatusOk);
        EXPECT_FALSE(CardVolume.IsMounted());
        ScopedPipes bracket(PlayerPipes);
        EXPECT_EQ(CardVolume.Mount(), c.status);
        EXPECT_FALSE(CardVolume.IsMounted());
        DirRecord r;
        EXPECT_EQ(CardVolume.FindFirst(r), -1);
    }
    ASSERT_TRUE(player.Player().ImportCard(good));
    ASSERT_EQ(Identify(), kStatusOk);
    EXPECT_TRUE(CardVolume.IsMounted());
}

INSTANTIATE_TEST_SUITE_P(Cards, SectorCardTest,
                         ::testing::Values(SectorCase{"Fat12", 32768, 32, "-F 12 -s 16", 12},
                                           SectorCase{"Fat16", 131072, 63, "-F 16 -s 4", 16}),
                         [](const auto& info) { return std::string(info.param.name); });
