// Entry sets written by the folder code into a FAT12 image made by mkfs.fat, then checked by the
// host's fsck.fat and listed and read by mtools.
#include "device/fs/fat_entry.h"
#include "tests/device/fs/memory_folder.h"
#include "tests/support/unix_shell.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace engine;
using namespace test_support;

std::string Utf8(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A FAT12 floppy image in memory, with the boot sector's figures.
class FatImage {
public:
    bool Load(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (bytes.size() < 512)
            return false;
        bytesPerSector = Le16(11);
        sectorsPerCluster = bytes[13];
        reservedSectors = Le16(14);
        fatCount = bytes[16];
        rootEntries = Le16(17);
        sectorsPerFat = Le16(22);
        return bytesPerSector == 512 && sectorsPerCluster != 0 && fatCount != 0;
    }

    void Save(const std::filesystem::path& path) const
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    std::size_t RootOffset() const { return std::size_t(reservedSectors + fatCount * sectorsPerFat) * bytesPerSector; }
    std::size_t ClusterBytes() const { return std::size_t(sectorsPerCluster) * bytesPerSector; }
    std::size_t ClusterOffset(std::uint16_t cluster) const
    {
        return RootOffset() + std::size_t(rootEntries) * 32 + std::size_t(cluster - 2) * ClusterBytes();
    }

    // One FAT12 entry, in every copy of the FAT.
    void SetFat(std::uint16_t cluster, std::uint16_t value)
    {
        for (std::uint32_t copy = 0; copy < fatCount; ++copy) {
            std::uint8_t* fat = bytes.data() + std::size_t(reservedSectors + copy * sectorsPerFat) * bytesPerSector;
            std::uint8_t* p = fat + cluster + cluster / 2;
            if (cluster % 2 == 0) {
                p[0] = std::uint8_t(value);
                p[1] = std::uint8_t((p[1] & 0xF0) | ((value >> 8) & 0x0F));
            } else {
                p[0] = std::uint8_t((p[0] & 0x0F) | ((value & 0x0F) << 4));
                p[1] = std::uint8_t(value >> 4);
            }
        }
    }

    std::vector<std::uint8_t> bytes;
    std::uint32_t bytesPerSector = 0, sectorsPerCluster = 0, reservedSectors = 0, fatCount = 0, rootEntries = 0,
                  sectorsPerFat = 0;

private:
    std::uint16_t Le16(std::size_t at) const { return std::uint16_t(bytes[at] | (bytes[at + 1] << 8)); }
};

struct ImageFile {
    std::wstring name;
    std::string shortName;  // as mdir shows it ("NAME     EXT"); empty when it holds non-ASCII bytes
};

class FsFatImage : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"mkfs.fat", "fsck.fat", "mdir", "mcopy"})
            ASSERT_TRUE(HostHasProgram(tool)) << tool << " is needed on the host (dosfstools, mtools)";
        image = folder.UnixFile("card.img");
        const ShellResult made = RunShell("mkfs.fat -C -F 12 -n KWEPTEST -i 1234ABCD " + ShellQuote(image) + " 1440");
        ASSERT_TRUE(made.finished && made.exitCode == 0) << made.out << made.err;
        ASSERT_TRUE(fat.Load(folder.File("card.img")));
        ASSERT_EQ(fat.rootEntries, 224u);
        root = std::make_unique<MemoryFolder>(fat.rootEntries, 0, 1);
        LoadRoot(*root);
    }

    void LoadRoot(MemoryFolder& target)
    {
        target.stored.assign(fat.bytes.begin() + std::ptrdiff_t(fat.RootOffset()),
                             fat.bytes.begin() + std::ptrdiff_t(fat.RootOffset() + fat.rootEntries * 32));
        ASSERT_EQ(target.Load(), 0u);
    }

    // One cluster of content for a file, its FAT entry marked as the end of the chain.
    std::uint16_t AllocateFile(const std::string& content)
    {
        const std::uint16_t cluster = nextCluster++;
        fat.SetFat(cluster, 0xFFF);
        std::copy(content.begin(), content.end(), fat.bytes.begin() + std::ptrdiff_t(fat.ClusterOffset(cluster)));
        return cluster;
    }

    static std::string Content(const std::wstring& name) { return "content of " + Utf8(name) + "\n"; }

    void AddFile(MemoryFolder& target, const std::wstring& name, const std::string& shortName,
                 std::uint8_t attributes = kAttrPlayerFile)
    {
        const std::string content = Content(name);
        const std::uint16_t cluster = AllocateFile(content);
        ASSERT_NE(target.AddEntry(name, cluster, std::uint32_t(content.size()), attributes, fileTime), "")
            << Utf8(name);
        expected.emplace_back(name, cluster);
        files.push_back({name, shortName});
    }

    // Everything the folder code writes: long and short names, tails, the 0xE5 escape, a system file
    // through the ANSI builders, and two folders with "." and "..".
    void WriteEntries(bool folderNameEntry)
    {
        expected.emplace_back(L"KWEPTEST.   ", 0);  // the volume label mkfs.fat wrote
        AddFile(*root, L"song.mp3", "SONG     MP3");
        AddFile(*root, L"My Favourite Song.mp3", "MYFAVO~0 MP3");
        AddFile(*root, L"a.b.c.mp3", "ABC~0    MP3");
        AddFile(*root, L"a+b+c.mp3", "ABC~1    MP3");
        AddFile(*root, L"Readme", "README~0    ");
        AddFile(*root, L"abc", "ABC         ");
        AddFile(*root, L"\u00e5ngstr\u00f6m song.mp3", "");
        AddFile(*root, L"Thirteen1.mp3", "THIRTE~0 MP3");
        AddFile(*root, L"abcdefghijklmnopqrstuv.mp3", "ABCDEF~0 MP3");
        AddFile(*root, std::wstring(251, L'L') + L".mp3", "LLLLLL~0 MP3");
        AddFile(*root, L"Gr\u00fc\u00dfe \u2013 \u4e2d\u6587.mp3", "");
        for (int i = 1; i <= 12; ++i) {
            wchar_t name[32];
            swprintf(name, 32, L"Track Number %02d.mp3", i);
            const std::string tail = i <= 10 ? "TRACKN~" + std::to_string(i - 1) : "TRACK~" + std::to_string(i - 1);
            AddFile(*root, name, tail + std::string(9 - tail.size(), ' ') + "MP3");
        }

        // A system file through the ANSI twins and builder.
        {
            const char* name = "CONFIG.DAT";
            const std::string content = Content(L"CONFIG.DAT");
            const std::uint16_t cluster = AllocateFile(content);
            const std::uint32_t count = CountLongNameEntries(name);
            const std::int32_t slot = FindFreeEntryRun(count, root->Entries(), root->Capacity());
            char shortText[kShortTextBytes];
            ASSERT_GE(slot, 0);
            ASSERT_EQ(MakeShortName(name, shortText, sizeof shortText, root->Entries(), root->Capacity()), 0u);
            ASSERT_EQ(BuildFileEntrySet(std::uint32_t(slot), count, cluster, name, shortText, 'C',
                                        std::uint32_t(content.size()), fileTime, fileTime, fileTime, root->Entries(),
                                        root->Capacity(), 0),
                      0u);
            expected.emplace_back(L"CONFIG.DAT", cluster);
            files.push_back({L"CONFIG.DAT", "CONFIG   DAT"});
        }

        // A folder with its own name entry and a file in it, made the folder objects' way.
        {
            const std::uint16_t cluster = nextCluster++;
            fat.SetFat(cluster, 0xFFF);
            ASSERT_NE(root->AddEntry(L"Album Folder", cluster, 0, kAttrDirectory, fileTime), "");
            expected.emplace_back(L"Album Folder", cluster);
            files.push_back({L"Album Folder", "ALBUMF~0    "});
            MemoryFolder album(std::uint32_t(fat.ClusterBytes() / 32), cluster, 0);
            album.InitDirectory(cluster, 0, fileTime, folderNameEntry ? L"Album Folder" : nullptr);
            AddFile(album, L"inner track.mp3", "INNERT~0 MP3");
            expected.pop_back();  // listed inside the folder, not in the root
            files.pop_back();
            std::memcpy(fat.bytes.data() + fat.ClusterOffset(cluster), album.Entries(), fat.ClusterBytes());
        }

        // An empty folder through the ANSI folder builder.
        {
            const std::uint16_t cluster = nextCluster++;
            fat.SetFat(cluster, 0xFFF);
            const std::uint32_t count = CountLongNameEntries("Empty Folder");
            const std::int32_t slot = FindFreeEntryRun(count, root->Entries(), root->Capacity());
            char shortText[kShortTextBytes];
            ASSERT_GE(slot, 0);
            ASSERT_EQ(MakeShortName("Empty Folder", shortText, sizeof shortText, root->Entries(), root->Capacity()),
                      0u);
            ASSERT_EQ(BuildFolderEntrySet(std::uint32_t(slot), count, cluster, "Empty Folder", shortText,
                                          root->Entries(), root->Capacity()),
                      0u);
            expected.emplace_back(L"Empty Folder", cluster);
            files.push_back({L"Empty Folder", "EMPTYF~0    "});
            MemoryFolder empty(std::uint32_t(fat.ClusterBytes() / 32), cluster, 0);
            empty.InitDirectory(cluster, 0, fileTime, nullptr);
            std::memcpy(fat.bytes.data() + fat.ClusterOffset(cluster), empty.Entries(), fat.ClusterBytes());
        }
        SaveRoot();
    }

    void SaveRoot()
    {
        ASSERT_EQ(root->RewriteDirectory(), 0u);
        std::copy(root->stored.begin(), root->stored.end(), fat.bytes.begin() + std::ptrdiff_t(fat.RootOffset()));
        fat.Save(folder.File("card.img"));
    }

    // fsck.fat reports exactly the given findings, or nothing at all.
    void ExpectFsckFindings(const std::vector<std::string>& findings)
    {
        // Its messages on both streams, in the order written.
        const ShellResult fsck = RunShell("fsck.fat -n -V " + ShellQuote(image) + " 2>&1");
        ASSERT_TRUE(fsck.finished) << fsck.err;
        EXPECT_EQ(fsck.exitCode, findings.empty() ? 0 : 1) << fsck.out;
        std::vector<std::string> reported;
        for (const std::string& line : Lines(fsck.out)) {
            const bool routine = line.empty() || line.rfind("fsck.fat ", 0) == 0 || line.rfind("Starting ", 0) == 0 ||
                                 line == "Leaving filesystem unchanged." || line.find(" files, ") != std::string::npos;
            if (!routine)
                reported.push_back(line);
        }
        EXPECT_EQ(reported, findings) << fsck.out;
    }

    std::string Mdir(const std::string& path)
    {
        const ShellResult mdir = RunShell("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mdir -a -i " + ShellQuote(image) + " " +
                                          ShellQuote("::" + path) + " 2>&1");
        EXPECT_TRUE(mdir.finished && mdir.exitCode == 0) << mdir.out << mdir.err;
        return mdir.out;
    }

    // Every listed line that carries a long name (the longest that ends the line), in directory order.
    static std::vector<std::string> ListedLongNames(const std::string& listing, const std::vector<ImageFile>& files)
    {
        std::vector<std::string> names;
        for (const std::string& line : Lines(listing)) {
            std::string best;
            for (const ImageFile& f : files) {
                const std::string name = Utf8(f.name);
                if (name.size() > best.size() && line.size() > name.size() &&
                    line.compare(line.size() - name.size(), name.size(), name) == 0 &&
                    line[line.size() - name.size() - 1] == ' ')
                    best = name;
            }
            if (!best.empty())
                names.push_back(best);
        }
        return names;
    }

    TempFolder folder;
    std::string image;
    FatImage fat;
    std::unique_ptr<MemoryFolder> root;
    std::uint16_t nextCluster = 2;
    std::time_t fileTime = [] {
        std::tm t{30, 20, 10, 15, 5, 121, 0, 0, -1};  // 2021-06-15 10:20:30 local
        return std::mktime(&t);
    }();
    std::vector<std::pair<std::wstring, std::uint16_t>> expected;  // the root's entries in order
    std::vector<ImageFile> files;
};

TEST(FsHostShell, ReportsExitCodeAndOutput)
{
    const ShellResult r = RunShell("echo out; echo err >&2; exit 3");
    ASSERT_TRUE(r.finished) << r.err;
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "out\n");
    EXPECT_EQ(r.err, "err\n");
    TempFolder folder;
    EXPECT_EQ(UnixPath(folder.File("x")).rfind('/', 0), 0u);
}

// A new folder holds its own name in an entry with attribute 0x1A whose first cluster is the folder
// itself. That is how the player's folders are made; fsck.fat takes the entry for a directory that
// points at its container and would delete it, leaving its long name orphaned. Nothing else is reported.
const std::vector<std::string> kFolderNameEntryFindings = {
    "/Album Folder/Album Folder",
    " Start does point to containing directory. Deleting entry.",
    "Orphaned long file name part \"Album Folder\"",
    "  Auto-deleting.",
};

template <typename T>
void MoveElement(std::vector<T>& v, std::size_t from, std::size_t to)
{
    T moved = v[from];
    v.erase(v.begin() + std::ptrdiff_t(from));
    v.insert(v.begin() + std::ptrdiff_t(to), moved);
}

TEST_F(FsFatImage, EntrySetsPassFsckAndShowInMdir)
{
    WriteEntries(true);
    ExpectFsckFindings(kFolderNameEntryFindings);

    // Every long name with its short name on one line of the listing, in slot order.
    const std::string listing = Mdir("/");
    std::vector<std::string> inOrder;
    for (const ImageFile& f : files)
        inOrder.push_back(Utf8(f.name));
    EXPECT_EQ(ListedLongNames(listing, files), inOrder) << listing;
    for (const ImageFile& f : files) {
        if (f.shortName.empty())
            continue;
        bool found = false;
        for (const std::string& line : Lines(listing))
            found = found || (line.rfind(f.shortName, 0) == 0 && line.find(Utf8(f.name)) != std::string::npos);
        EXPECT_TRUE(found) << f.shortName << " / " << Utf8(f.name) << "\n" << listing;
    }
    EXPECT_NE(listing.find("2021-06-15  10:20"), std::string::npos) << listing;

    // Inside the folder: ".", ".." and the file.
    const std::string inner = Mdir("/Album Folder");
    EXPECT_NE(inner.find("inner track.mp3"), std::string::npos) << inner;
    const auto innerLines = Lines(inner);
    EXPECT_TRUE(std::any_of(innerLines.begin(), innerLines.end(), [](const std::string& l) {
        return l.rfind(".            <DIR>", 0) == 0;
    })) << inner;
    EXPECT_TRUE(std::any_of(innerLines.begin(), innerLines.end(), [](const std::string& l) {
        return l.rfind("..           <DIR>", 0) == 0;
    })) << inner;

    // The first cluster is what a PC reads as the file's data.
    for (const std::wstring& name : {std::wstring(L"song.mp3"), std::wstring(L"\u00e5ngstr\u00f6m song.mp3"),
                                     std::wstring(L"Album Folder/inner track.mp3")}) {
        const std::string out = folder.UnixFile("copy.bin");
        const ShellResult copy = RunShell("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mcopy -n -o -i " + ShellQuote(image) +
                                          " " + ShellQuote("::/" + Utf8(name)) + " " + ShellQuote(out));
        ASSERT_TRUE(copy.finished && copy.exitCode == 0) << copy.out << copy.err;
        std::ifstream in(folder.File("copy.bin"), std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::wstring leaf = name.substr(name.find_last_of(L'/') + 1);
        EXPECT_EQ(content, Content(leaf));
    }

    // The first byte 0xE5 went to the image as 0x05.
    bool escaped = false;
    for (std::uint32_t i = 0; i < root->Capacity(); ++i)
        escaped = escaped || (root->Entries()[i].raw[0] == 0x05 && root->Entries()[i].raw[11] != kAttrLongName);
    EXPECT_TRUE(escaped);

    // Read back from the image, the walk gives every name and id as written.
    MemoryFolder reread(fat.rootEntries, 0, 1);
    LoadRoot(reread);
    EXPECT_EQ(reread.Walk(), expected);
}

// Without the folder's own name entry the volume is clean, also after removing and reordering.
TEST_F(FsFatImage, RemoveAndReorderKeepTheVolumeClean)
{
    WriteEntries(false);
    ExpectFsckFindings({});

    // Take out a file (its entry set and its cluster), move the last entry to the front and then the
    // third to the seventh place. Positions count the volume label; the listing does not show it.
    const std::uint16_t removedId = expected[3].second;
    ASSERT_EQ(files[2].name, L"a.b.c.mp3");
    ASSERT_EQ(root->RemoveEntrySetById(removedId), kStatusOk);
    fat.SetFat(removedId, 0);
    expected.erase(expected.begin() + 3);
    files.erase(files.begin() + 2);

    ASSERT_EQ(root->MoveToPosition(std::int32_t(expected.size()) - 1, 0), kStatusOk);
    MoveElement(expected, expected.size() - 1, 0);
    MoveElement(files, files.size() - 1, 0);
    ASSERT_EQ(root->MoveToPosition(2, 6), kStatusOk);
    MoveElement(expected, 2, 6);
    MoveElement(files, 1, 5);
    SaveRoot();

    ExpectFsckFindings({});
    const std::string listing = Mdir("/");
    std::vector<std::string> inOrder;
    for (const ImageFile& f : files)
        inOrder.push_back(Utf8(f.name));
    EXPECT_EQ(ListedLongNames(listing, files), inOrder) << listing;
    EXPECT_EQ(listing.find("a.b.c.mp3"), std::string::npos) << listing;

    MemoryFolder reread(fat.rootEntries, 0, 1);
    LoadRoot(reread);
    EXPECT_EQ(reread.Walk(), expected);
}

}  // namespace
