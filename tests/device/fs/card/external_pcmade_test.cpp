// Cards formatted and filled on a PC (mkfs.fat, then mmd, mcopy and mdel) on both card kinds: the card's
// folder objects list every folder as mdir lists it, and a download that grows a directory of several
// clusters, a rename, a delete and a play-order change keep every other entry: fsck.fat finds nothing,
// mdir lists the changed tree and mcopy reads every file back byte for byte. A directory with more
// entries than a folder object holds is listed as far as it holds them and refuses every change.
#include "tests/device/fs/card/external_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

using namespace engine;
using namespace exttest;

namespace {

struct PcCase {
    const char* name;
    CardKindCase kind;
    const char* mkfs;  // mkfs.fat's FAT type and, on a sector card, cluster size
};
void PrintTo(const PcCase& c, std::ostream* os)
{
    *os << c.name;
}

// One entry of a folder, in directory order.
struct PcEntry {
    std::string name;
    bool dir = false;
    Bytes content;
};
// Folder path ("" for the root, else "A/B/") -> its entries.
using Tree = std::map<std::string, std::vector<PcEntry>>;

// "name/" for a folder, "name size" for a file: what a listing is compared by.
std::vector<std::string> Lines(const std::vector<PcEntry>& entries, bool sizes)
{
    std::vector<std::string> out;
    for (const PcEntry& e : entries)
        out.push_back(e.dir ? e.name + "/" : sizes ? e.name + " " + std::to_string(e.content.size()) : e.name);
    return out;
}

// Directory slots a name takes: one short entry, and long-name entries of 13 characters each unless the
// name is an upper-case 8.3 name.
std::size_t SlotsFor(const std::string& name)
{
    const std::size_t dot = name.find('.');
    const bool shortName =
        name.size() <= 12 && dot != std::string::npos && dot >= 1 && dot <= 8 && name.size() - dot - 1 <= 3 &&
        std::none_of(name.begin(), name.end(), [](char c) { return c == ' ' || (c >= 'a' && c <= 'z'); });
    return shortName ? 1 : 1 + (name.size() + 12) / 13;
}

// A folder object holds a directory's first 256 slots ("." and ".." first in a subfolder): the
// entries whose short entry lies there.
std::vector<PcEntry> Held(const std::vector<PcEntry>& entries, bool subfolder)
{
    std::vector<PcEntry> out;
    std::size_t slots = subfolder ? 2 : 0;
    for (const PcEntry& e : entries) {
        slots += SlotsFor(e.name);
        if (slots > kCardRootSlots)
            break;
        out.push_back(e);
    }
    return out;
}

class PcMadeCardTest : public ::testing::TestWithParam<PcCase> {
protected:
    void SetUp() override
    {
        for (const char* tool : {"mkfs.fat", "fsck.fat", "mcopy", "mmd", "mdel", "mdir", "mshowfat"})
            ASSERT_TRUE(test_support::HostHasProgram(tool)) << tool;
        // A card formatted by this system gives the partition table; the volume is made anew on the PC,
        // so the player identifies the card only once it holds that.
        const CardKindCase& k = GetParam().kind;
        ASSERT_TRUE(card.Test().Ok());
        ASSERT_TRUE(k.sectors ? card.Test().Player().InsertSectorCard(k.sectors, true)
                              : card.Test().Player().InsertNandCard(0xEC, k.device, true));
    }

    // Runs a shell script of tool commands; fails the test with its output when it fails.
    std::string Shell(const std::string& script)
    {
        ShellResult r = RunShell("export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1; set -e; " + script);
        EXPECT_TRUE(r.finished && r.exitCode == 0) << script << "\n" << r.out << r.err;
        return r.out;
    }

    // The whole tree as mdir lists it (names only, folders with a trailing '/').
    std::map<std::string, std::vector<std::string>> MdirTree(const std::string& image)
    {
        std::map<std::string, std::vector<std::string>> tree{{"", {}}};
        const std::string out = Shell("mdir -/ -b -i " + ShellQuote(image) + " ::/");
        std::size_t at = 0;
        while (at < out.size()) {
            std::size_t nl = out.find('\n', at);
            std::string line = out.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
            at = nl == std::string::npos ? out.size() : nl + 1;
            if (line.rfind("::/", 0) != 0)
                continue;
            std::string path = line.substr(3);
            const bool dir = !path.empty() && path.back() == '/';
            std::string bare = dir ? path.substr(0, path.size() - 1) : path;
            const std::size_t slash = bare.rfind('/');
            const std::string parent = slash == std::string::npos ? "" : bare.substr(0, slash + 1);
            tree[parent].push_back(bare.substr(parent.size()) + (dir ? "/" : ""));
            if (dir)
                tree[path];
        }
        return tree;
    }

    // The number of clusters in the chain of a file or folder, as mshowfat reads it ("<3> <14-17>").
    std::uint32_t ChainClusters(const std::string& image, const std::string& path)
    {
        const std::string out = Shell("mshowfat -i " + ShellQuote(image) + " " + ShellQuote("::/" + path));
        std::uint32_t clusters = 0;
        for (std::size_t at = out.find('<'); at != std::string::npos; at = out.find('<', at + 1)) {
            const std::size_t end = out.find('>', at);
            const std::string range = out.substr(at + 1, end - at - 1);
            const std::size_t dash = range.find('-');
            clusters += dash == std::string::npos
                            ? 1
                            : std::uint32_t(std::stoul(range.substr(dash + 1)) - std::stoul(range.substr(0, dash)) + 1);
        }
        return clusters;
    }

    // Every folder through the card's folder objects, from the root down: path -> entries without "."
    // and "..", and the folder ids.
    std::map<std::string, std::vector<Entry>> EngineTree(std::map<std::string, std::uint32_t>* ids = nullptr)
    {
        std::map<std::string, std::vector<Entry>> tree;
        std::vector<std::pair<std::string, std::uint32_t>> pending{{"", 0}};
        while (!pending.empty() && tree.size() < 16) {
            auto [path, id] = pending.back();
            pending.pop_back();
            auto folder = card.Open(id);
            if (!folder)
                return tree;
            std::vector<Entry>& out = tree[path];
            const auto entries = List(*folder);
            for (std::size_t i = 0; i < entries.size(); ++i) {
                const Entry& e = entries[i];
                // A subfolder's "." and ".." come first.
                if (id != 0 && i < 2 && e.name.rfind('.', 0) == 0 && (e.attributes & kAttrDirectory))
                    continue;
                out.push_back(e);
                if (e.attributes & kAttrDirectory)
                    pending.push_back({path + e.name + "/", e.id});
            }
            if (ids)
                (*ids)[path] = id;
        }
        return tree;
    }

    // A change through the object of folder `id`, loaded afresh.
    std::uint32_t Change(std::uint32_t id, const std::function<std::uint32_t(ExternalFolder&)>& change)
    {
        auto folder = card.Open(id);
        return folder ? change(*folder) : kStatusUsbError;
    }

    static std::vector<std::string> EngineLines(const std::vector<Entry>& entries)
    {
        std::vector<std::string> out;
        for (const Entry& e : entries)
            out.push_back((e.attributes & kAttrDirectory) ? e.name + "/" : e.name + " " + std::to_string(e.size));
        return out;
    }

    CardPlayer card{GetParam().kind};
};

std::uint16_t IdOf(const std::vector<Entry>& entries, const std::string& name)
{
    for (const Entry& e : entries)
        if (e.name == name)
            return e.id;
    ADD_FAILURE() << name << " not listed";
    return 0;
}

}  // namespace

TEST_P(PcMadeCardTest, FoldersMadeByPcToolsKeepEveryEntry)
{
    const PcCase& c = GetParam();
    auto formatted = card.Test().Player().ExportCard();
    ASSERT_TRUE(formatted);
    Bytes image = *formatted;
    CardImage part(card.Temp(), image);
    const std::uint8_t* boot = image.data() + std::size_t{Le32(image.data() + 454)} * 512;
    // The partition the card came with is formatted again by mkfs.fat. A NAND-type card mounts only the
    // layout its block map fixes: one cluster per erase block, one reserved sector, a root of 256
    // entries and nothing aligned in between.
    std::string mkfs = std::string("mkfs.fat ") + c.mkfs + " -h " + std::to_string(Le32(image.data() + 454));
    if (c.kind.sectors == 0)
        mkfs += " -s " + std::to_string(boot[13]) + " -R 1 -r 256 -a -g " + std::to_string(boot[26]) + "/" +
                std::to_string(boot[24]);
    Shell(mkfs + " " + ShellQuote(part.Path()) + " >/dev/null");
    Bytes made = ReadFile(card.Temp().File("part.img"));
    ASSERT_GE(made.size(), 512u);
    if (c.kind.sectors == 0) {
        ASSERT_EQ(made[22] | (made[23] << 8), boot[22] | (boot[23] << 8)) << "FAT size differs from the card's";
    }
    const std::uint32_t cb = std::uint32_t{made[13]} * 512;

    // The PC's tree: a few folders, and one folder with so many entries that its directory spans several
    // clusters where they are small, its last cluster filled to the end, and deleted entries in between.
    Tree tree;
    tree[""] = {{"Music", true, {}},
                {"Big folder", true, {}},
                {"Long folder", true, {}},
                {"README.TXT", false, RandomBytes(700, 1)},
                {"Liner notes of the album.txt", false, RandomBytes(cb + 5, 2)}};
    tree["Music/"] = {{"Albums", true, {}}, {"Intro.mp3", false, RandomBytes(2 * cb, 3)}};
    tree["Music/Albums/"] = {{"A track from an album.mp3", false, RandomBytes(3 * cb / 2, 4)}};
    std::vector<PcEntry>& big = tree["Big folder/"];
    unsigned seed = 10;
    const std::size_t sizes[] = {300, 0, cb, 2 * cb + 1, cb / 2, 3 * cb - 7};
    for (int i = 1; i <= 24; ++i) {
        std::string name =
            i % 3 == 0 ? "T" + std::to_string(100 + i) + ".MP3"
                       : "Track " + std::to_string(100 + i) + (i % 2 ? " with a rather long name.mp3" : " live.mp3");
        big.push_back({name, false, RandomBytes(i == 2 ? 0 : sizes[i % 6] + i, seed++)});
    }
    // Deleted entries in between: five slots, fewer than the download below needs, so that it has to
    // extend the chain the PC left.
    const std::vector<std::string> gone = {big[4].name, big[17].name};
    std::size_t slots = 2;
    for (const PcEntry& e : big)
        slots += SlotsFor(e.name);
    const std::size_t perCluster = cb / 32;
    for (int pad = 0; perCluster <= 64 && slots % perCluster != 0; ++pad, ++slots)
        big.push_back({"PAD" + std::to_string(10 + pad) + ".BIN", false, RandomBytes(50 + pad, seed++)});
    ASSERT_LE(slots, 200u);
    // More slots than a folder object holds: 70 entries of 4 slots.
    std::vector<PcEntry>& longer = tree["Long folder/"];
    for (int i = 10; i < 80; ++i)
        longer.push_back(
            {"Song number " + std::to_string(i) + " of a long album.mp3", false, RandomBytes(40 + i, seed++)});

    std::string script;
    const std::string img = ShellQuote(part.Path());
    for (const std::string folder : {"Music", "Big folder", "Long folder", "Music/Albums"})
        script += "mmd -i " + img + " " + ShellQuote("::/" + folder) + "; ";
    int n = 0;
    for (const auto& [path, entries] : tree) {
        for (const PcEntry& e : entries) {
            if (e.dir)
                continue;
            const std::string file = "in" + std::to_string(n++);
            WriteFile(card.Temp().File(file), e.content);
            script += "mcopy -i " + img + " " + ShellQuote(card.Temp().UnixFile(file)) + " " +
                      ShellQuote("::/" + path + e.name) + "; ";
        }
    }
    for (const std::string& name : gone)
        script += "mdel -i " + img + " " + ShellQuote("::/Big folder/" + name) + "; ";
    Shell(script);
    for (const std::string& name : gone)
        big.erase(std::find_if(big.begin(), big.end(), [&](const PcEntry& e) { return e.name == name; }));

    auto pcListing = MdirTree(part.Path());
    for (const auto& [path, entries] : tree)
        ASSERT_EQ(pcListing[path], Lines(entries, false)) << "the tools made another tree in '" << path << "'";
    const std::uint32_t bigClusters = ChainClusters(part.Path(), "Big folder");
    if (perCluster <= 64) {
        ASSERT_GE(bigClusters, 2u);
    }

    made = ReadFile(card.Temp().File("part.img"));
    if (c.kind.sectors == 0)
        made[0] = 0xE9;  // the NAND-type card's mount takes only this jump
    WriteFile(card.Temp().File("part.img"), made);
    part.StoreInto(image);
    ASSERT_TRUE(card.Test().Player().ImportCard(image));
    ASSERT_EQ(card.Identify(), kStatusOk);

    // Every folder lists as mdir lists it, with the sizes of the files copied.
    std::map<std::string, std::uint32_t> ids;
    auto listed = EngineTree(&ids);
    ASSERT_EQ(listed.size(), tree.size());
    for (const auto& [path, entries] : tree) {
        const std::vector<PcEntry> held = Held(entries, !path.empty());
        EXPECT_EQ(EngineLines(listed[path]), Lines(held, true)) << "folder '" << path << "'";
        std::vector<std::string> names;
        for (const Entry& e : listed[path])
            names.push_back((e.attributes & kAttrDirectory) ? e.name + "/" : e.name);
        pcListing[path].resize(std::min(pcListing[path].size(), held.size()));
        EXPECT_EQ(names, pcListing[path]) << "folder '" << path << "'";
    }
    ASSERT_LT(listed["Long folder/"].size(), longer.size());
    ASSERT_FALSE(HasFailure());

    // Files the PC wrote read back through the folder objects.
    const std::vector<std::pair<std::string, std::string>> uploads = {
        {"Music/Albums/", "A track from an album.mp3"}, {"Big folder/", big[2].name}, {"Long folder/", longer[7].name}};
    for (const auto& [path, name] : uploads) {
        auto folder = card.Open(ids[path]);
        ASSERT_TRUE(folder);
        const std::string out = card.Temp().File("up.bin").string();
        ASSERT_EQ(folder->UploadFile(IdOf(listed[path], name), Wide(out).c_str()), kStatusOk) << name;
        const PcEntry& expected =
            *std::find_if(tree[path].begin(), tree[path].end(), [&](const PcEntry& e) { return e.name == name; });
        EXPECT_TRUE(ReadFile(out) == expected.content) << name;
    }

    // Changes in the big folder: a download whose name needs more slots than the deleted entries
    // leave (so it goes past the last entry, into a new cluster where clusters are small), a rename,
    // a delete, a play-order change.
    auto folder = card.Open(ids["Big folder/"]);
    ASSERT_TRUE(folder);
    const PcEntry added{"Downloaded by the player, with a name long enough for six slots.dat", false,
                        RandomBytes(2 * cb + 123, 99)};
    ASSERT_EQ(folder->DownloadFile(Wide(card.PcFile(added.name, added.content)).c_str()), kStatusOk);
    big.push_back(added);

    const std::string renamedFrom = big[5].name;
    const std::string renamedTo = "Renamed on the player to a longer name.mp3";
    ASSERT_EQ(folder->RenameEntry(IdOf(List(*folder), renamedFrom), Wide(renamedTo).c_str(), 0), kStatusOk);
    PcEntry renamed = big[5];
    renamed.name = renamedTo;
    big.erase(big.begin() + 5);
    big.push_back(renamed);

    const std::string deleted = big[7].name;
    ASSERT_GT(big[7].content.size(), 0u);
    ASSERT_EQ(folder->DeleteFile(IdOf(List(*folder), deleted)), kStatusOk);
    big.erase(big.begin() + 7);

    // The download goes first in play order ("." and ".." keep positions 0 and 1).
    ASSERT_EQ(folder->SetPlayIndex(IdOf(List(*folder), added.name), 2), kStatusOk);
    auto download = std::find_if(big.begin(), big.end(), [&](const PcEntry& e) { return e.name == added.name; });
    std::rotate(big.begin(), download, download + 1);

    // The long folder refuses every change: rewriting the slots a folder object holds would cut off
    // the entries past them.
    const std::uint32_t longId = ids["Long folder/"];
    const auto& held = listed["Long folder/"];
    struct Refusal {
        const char* what;
        std::function<std::uint32_t()> change;
    } refusals[] = {
        {"a delete",
         [&] {
             return Change(longId, [&](ExternalFolder& f) { return f.DeleteFile(held[10].id); });
         }},
        {"a rename",
         [&] {
             return Change(longId, [&](ExternalFolder& f) { return f.RenameEntry(held[11].id, L"Short.mp3", 0); });
         }},
        {"a play-order change",
         [&] {
             return Change(longId, [&](ExternalFolder& f) { return f.SetPlayIndex(held[12].id, 2); });
         }},
        {"a download",
         [&] {
             const std::wstring pc = Wide(card.PcFile("new.dat", {1, 2, 3}));
             return Change(longId, [&](ExternalFolder& f) { return f.DownloadFile(pc.c_str()); });
         }},
        {"a move out of it",
         [&] {
             return Change(ids["Music/"], [&](ExternalFolder& f) { return f.MoveEntry(longId, 0, held[13].id); });
         }},
        {"deleting the folder",
         [&] {
             return Change(0, [&](ExternalFolder& f) { return f.DeleteFile(longId); });
         }},
    };
    for (const Refusal& r : refusals)
        EXPECT_EQ(r.change(), kStatusFolderError) << r.what;

    // As the card holds it after a fresh mount.
    ASSERT_EQ(card.Identify(), kStatusOk);
    listed = EngineTree();
    for (const auto& [path, entries] : tree)
        EXPECT_EQ(EngineLines(listed[path]), Lines(Held(entries, !path.empty()), true))
            << "folder '" << path << "' after the changes";

    // And as PCs read it: a clean volume, every entry listed, every file's bytes.
    sim::CardImageAudit audit;
    auto exported = card.Export(&audit);
    ASSERT_TRUE(exported);
    EXPECT_EQ(audit.eccMismatches, 0u);
    CardImage after(card.Temp(), *exported);
    EXPECT_EQ(WithoutSelfEntries(after.Fsck()), "");
    auto pcAfter = MdirTree(after.Path());
    for (const auto& [path, entries] : tree)
        EXPECT_EQ(pcAfter[path], Lines(entries, false)) << "folder '" << path << "' as mdir lists it";
    const std::uint32_t grown = ChainClusters(after.Path(), "Big folder");
    if (perCluster <= 64)
        EXPECT_EQ(grown, bigClusters + 1) << "the download did not extend the directory";
    else
        EXPECT_EQ(grown, bigClusters);

    Shell("rm -rf " + ShellQuote(card.Temp().UnixFile("back")) + "; mkdir " + ShellQuote(card.Temp().UnixFile("back")) +
          "; mcopy -s -n -i " + ShellQuote(after.Path()) + " '::/*' " + ShellQuote(card.Temp().UnixFile("back")));
    for (const auto& [path, entries] : tree) {
        for (const PcEntry& e : entries) {
            if (e.dir)
                continue;
            EXPECT_TRUE(ReadFile(card.Temp().File("back") / std::filesystem::path(path + e.name)) == e.content)
                << path + e.name;
        }
    }
}

namespace {

// clang-format off
const PcCase kPcCases[] = {
    {"NandFat12", {"NandCard", 9, 0xE6, 0}, "-F 12"},
    {"NandFat16", {"NandCard", 9, 0x79, 0}, "-F 16"},
    {"SectorFat12", {"SectorCard", 10, 0, 8192}, "-F 12 -s 2"},
    {"SectorFat16", {"SectorCard", 10, 0, 65536}, "-F 16 -s 1"},
};
// clang-format on

}  // namespace

INSTANTIATE_TEST_SUITE_P(Cards, PcMadeCardTest, ::testing::ValuesIn(kPcCases),
                         [](const auto& info) { return std::string(info.param.name); });
