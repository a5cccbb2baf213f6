// The root directory's entry sets, as downloads, renames and system files leave them, copied into
// the root of a FAT12 image made by mkfs.fat and checked by fsck.fat and mdir; and a directory with
// broken long-name runs listed without reading outside its entries.
#include "tests/device/fs/legacy/legacy_fixture.h"

#include "device/fs/engine_status.h"

#include <cstring>
#include <sstream>

using namespace engine;
using namespace legacytest;
using namespace test_support;

namespace {

std::uint16_t Le16(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

TEST(LegacyFatImageTest, RootEntrySetsPassFsckAndShowInMdir)
{
    for (const char* tool : {"mkfs.fat", "fsck.fat", "mdir"})
        ASSERT_TRUE(HostHasProgram(tool)) << tool << " is needed on the host (dosfstools, mtools)";
    LegacyPlayer p(7);
    ASSERT_TRUE(p.Ready());
    TempFolder temp;
    const std::vector<std::string> names = {"A long name with spaces and more.bin", "short.txt", "config.dat",
                                            "Renamed file of some length.wav"};
    for (std::size_t i = 0; i < 3; ++i) {
        WriteFile(temp.File(names[i]), Pattern(100 + i, static_cast<std::uint32_t>(i)));
        ASSERT_EQ(p.device.LegacyDownload(0, temp.File(names[i]).string().c_str(), 0), 0u) << names[i];
    }
    WriteFile(temp.File("before.wav"), Pattern(10, 9));
    ASSERT_EQ(p.device.LegacyDownload(0, temp.File("before.wav").string().c_str(), 0), 0u);
    ASSERT_EQ(p.device.RenameEntry(0, 9, names[3].c_str()), 0u);
    const Bytes small = Pattern(1024, 3);
    ASSERT_EQ(p.device.WriteSystemFile("sysdata.dat", 1024, small.data(), 5), 0u);
    ASSERT_EQ(p.device.WriteFontFile("Player Font.fon", 1024, small.data()), 0u);
    std::vector<std::string> all = names;
    all.push_back("sysdata.dat");
    all.push_back("Player Font.fon");
    ASSERT_EQ(ListNames(p.device), all);
    const std::int32_t config = LegacyFindEntryById(8);
    ASSERT_GE(config, 0);
    EXPECT_EQ(LegacyStore.root[static_cast<std::size_t>(config)].entry.attributes, 6) << "config.dat is a system file";

    const std::string image = temp.UnixFile("root.img");
    const ShellResult made = RunShell("mkfs.fat -C -F 12 -n KWEPTEST -i 1234ABCD " + ShellQuote(image) + " 1440");
    ASSERT_TRUE(made.finished && made.exitCode == 0) << made.out << made.err;
    Bytes img = ReadFile(temp.File("root.img"));
    ASSERT_GE(img.size(), 512u);
    const std::size_t rootOffset = (Le16(img, 14) + std::size_t{img[16]} * Le16(img, 22)) * 512u;
    const std::size_t rootEntries = Le16(img, 17);

    // After the volume label: every slot up to the last used one, as the player holds it; the files
    // become empty files, since their blocks are not in the image.
    std::size_t last = 0;
    for (std::size_t i = 0; i < LegacyStore.root.size(); ++i) {
        if (LegacyStore.root[i].raw[0] != 0)
            last = i;
    }
    ASSERT_LT(last + 2, rootEntries);
    for (std::size_t i = 0; i <= last; ++i) {
        FatDirSlot slot = LegacyStore.root[i];
        if (slot.raw[11] != kAttrLongName) {
            slot.entry.firstCluster = 0;
            slot.entry.firstClusterHigh = 0;
            slot.entry.size = 0;
        }
        std::memcpy(img.data() + rootOffset + (i + 1) * 32, slot.raw, 32);
    }
    WriteFile(temp.File("root.img"), img);

    const ShellResult fsck = RunShell("fsck.fat -n -V " + ShellQuote(image) + " 2>&1");
    ASSERT_TRUE(fsck.finished) << fsck.err;
    EXPECT_EQ(fsck.exitCode, 0) << fsck.out;
    const ShellResult mdir =
        RunShell("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mdir -a -i " + ShellQuote(image) + " :: 2>&1");
    ASSERT_TRUE(mdir.finished && mdir.exitCode == 0) << mdir.out << mdir.err;
    for (const std::string& name : all)
        EXPECT_NE(mdir.out.find(" " + name + "\n"), std::string::npos) << name << "\n" << mdir.out;
    EXPECT_NE(mdir.out.find("SYSDATA  DAT"), std::string::npos) << mdir.out;
    EXPECT_NE(mdir.out.find("FONT     FON"), std::string::npos) << mdir.out;
}

TEST(LegacyFatImageTest, BrokenLongNameRunsStayInsideTheDirectory)
{
    LegacyPlayer p(5);
    ASSERT_TRUE(p.Ready());
    DirRecord record;
    ASSERT_EQ(p.device.LegacyFindFirst(record), -1);
    {
        ScopedPipes bracket(PlayerPipes);
        // 30 long-name pieces without a first piece in front of a short entry, starting at slot 0.
        for (std::uint32_t i = 0; i < 30; ++i) {
            FatDirSlot& s = LegacyStore.root[i];
            std::memset(s.raw, 'a', 32);
            s.raw[0] = static_cast<std::uint8_t>(1 + i % 20);
            s.raw[11] = kAttrLongName;
        }
        FatDirSlot& e = LegacyStore.root[30];
        std::memcpy(e.entry.name, "BROKEN  BIN", 11);
        e.entry.attributes = 0x80;
        e.entry.firstCluster = 6;
        ASSERT_EQ(LegacyWriteBackRoot(), 0u);
    }
    ASSERT_EQ(p.device.LegacyFindFirst(record), 0);
    const std::size_t length = strnlen(reinterpret_cast<const char*>(record.name), sizeof record.name);
    EXPECT_LT(length, sizeof record.name);
    EXPECT_LE(length, 20u * 13u);
    EXPECT_EQ(record.firstCluster, 6);
    EXPECT_EQ(p.device.LegacyFindNext(record), -1);
}
