// Power cuts during the flat store's download, delete, folder creation, move and rename. One run of
// each operation records internal memory after every host message that programmed or erased it; each
// state a cut can leave goes back onto the chip, the player is identified and the root loaded again,
// and the store is checked: the files the operation does not touch read back whole, and what the
// blocks and entries say is printed per window of cuts.
//
// The root directory is rewritten in place: its block erased, then programmed page by page. A cut
// between the erase and the first page leaves no root directory (the next load makes an empty one,
// and every file is lost); a cut before a later page leaves the entries of the pages not yet
// programmed out. The store's format has no second copy that could cover those windows; the test
// holds them to exactly the states where the untouched file's page is not programmed.
#include "tests/device/fs/legacy/legacy_fixture.h"
#include "tests/support/power_cut.h"

#include "device/fs/engine_status.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

using namespace engine;
using namespace legacytest;
using test_support::CutDevice;

namespace {

// One 8 MiB chip of 16-sector blocks (1024 blocks of 8 KiB) and a root of two pages, on a model that
// takes the root's size from the player.
constexpr std::uint32_t kRows = 64;
constexpr std::uint16_t kRootEntries = 32;
constexpr std::uint32_t kSectorsPerBlock = 16;
constexpr std::uint32_t kSlotsPerPage = 16;
constexpr std::size_t kPageBytes = 528;
const std::string kKeep2 = "keep2 " + std::string(180, 'k') + ".bin";

// Pages of the root block the chip holds programmed (0 without a root block).
std::uint32_t RootPages(const Bytes& state)
{
    const std::size_t blockBytes = kSectorsPerBlock * kPageBytes;
    for (std::size_t at = 0; at + blockBytes <= state.size(); at += blockBytes) {
        const std::uint8_t* r = state.data() + at + 512;
        if (r[0] != kFileStartMark || r[1] != kRootFileId || r[6] != kTypeRoot)
            continue;
        std::uint32_t pages = 0;
        for (std::uint32_t page = 0; page < kSectorsPerBlock; ++page) {
            const std::uint8_t* spare = state.data() + at + page * kPageBytes + 512;
            if (std::all_of(spare, spare + 16, [](std::uint8_t b) { return b == 0xFF; }))
                break;
            ++pages;
        }
        return pages;
    }
    return 0;
}

sim::PlayerConfig SmallPlayer()
{
    sim::PlayerConfig config = sim::DefaultConfig(4);
    config.rootEntries = kRootEntries;
    for (std::size_t i = 1; i < config.nandIds.size(); ++i)
        config.nandIds[i] = {0, 0};
    config.nandIds[0] = {0xEC, 0xE6};
    return config;
}

struct Outcome {
    bool identified = false;
    bool keep1Whole = false;  // the untouched files are listed and read back byte for byte
    bool keep2Whole = false;
    std::string findings;  // what blocks and entries say, "" when whole
    std::string effect;    // "before" or "after": the operation's own entry
};

class LegacyPowerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        p = std::make_unique<LegacyPlayer>(SmallPlayer());
        ASSERT_TRUE(p->Ready());
        cut = std::make_unique<test_support::CutServer>(p->Sim(), test_support::ChipPagesMedium(p->Sim(), {0}, kRows));
        ASSERT_TRUE(cut->Start());
        device = &cut->Device();
        ASSERT_EQ(p->Identify(), kStatusOk);
        blockBytes = p->device.GetBlockBytes();
        ASSERT_EQ(blockBytes, kSectorsPerBlock * 512);
        ASSERT_EQ(Engine.InternalRootEntries, kRootEntries);

        // The files no operation touches (one in the root, one in a folder), the folder, and the file
        // the operations take.
        keep1 = Pattern(2 * blockBytes + 100, 11);
        keep2 = Pattern(blockBytes + 7, 12);
        ASSERT_EQ(p->device.CreateFolder("Keep", &keepFolder), kStatusOk);
        ASSERT_EQ(p->device.LegacyDownload(0, Pc("keep1.bin", keep1).c_str(), 0), kStatusOk);
        ASSERT_EQ(p->device.LegacyDownload(0, Pc(kKeep2, keep2).c_str(), keepFolder), kStatusOk);
        ASSERT_EQ(p->device.LegacyDownload(0, Pc("victim.bin", Pattern(3 * blockBytes, 13)).c_str(), 0), kStatusOk);
        victim = Find("victim.bin")->firstCluster;
        // keep2's long name puts its short entry on the root's second page.
        keep1Slot = std::uint32_t(LegacyFindEntryById(Find("keep1.bin")->firstCluster));
        keep2Slot = std::uint32_t(LegacyFindEntryById(Find(kKeep2)->firstCluster));
        ASSERT_LT(keep1Slot, kSlotsPerPage);
        ASSERT_GE(keep2Slot, kSlotsPerPage);
        newFile = Pc("new.bin", Pattern(3 * blockBytes - 5, 14));
        p->Sync();
        baseline = device->Take();
    }

    std::string Pc(const std::string& name, const Bytes& content)
    {
        WriteFile(temp.File(name), content);
        return temp.File(name).string();
    }
    std::vector<DirRecord> Listing()
    {
        std::vector<DirRecord> out;
        DirRecord r;
        for (std::int32_t k = p->device.LegacyFindFirst(r); k == 0; k = p->device.LegacyFindNext(r))
            out.push_back(r);
        return out;
    }
    std::optional<DirRecord> Find(const std::string& name)
    {
        for (const DirRecord& r : Listing())
            if (name == reinterpret_cast<const char*>(r.name))
                return r;
        return std::nullopt;
    }
    bool ReadsBack(const std::string& name, std::uint16_t folder, const Bytes& content)
    {
        const auto r = Find(name);
        if (!r || r->firstClusterHigh != folder)
            return false;
        const auto out = temp.File("upload.out");
        return p->device.LegacyUpload(0, r->firstCluster, out.string().c_str()) == kStatusOk &&
               ReadFile(out) == content;
    }

    Outcome Check(const Bytes& state, const std::function<bool()>& happened)
    {
        Outcome o;
        o.identified = p->Identify() == kStatusOk;
        if (!o.identified)
            return o;
        const auto tally = test_support::TallyBlocks(state, kSectorsPerBlock, false);
        // With no root block the load makes an empty one: nothing is listed.
        std::vector<test_support::StoreEntry> entries;
        for (const DirRecord& r : Listing()) {
            const bool folder = (r.attributes & kAttrDirectory) != 0;
            entries.push_back({reinterpret_cast<const char*>(r.name), r.firstCluster,
                               folder ? 0 : (r.size + blockBytes - 1) / blockBytes, false});
        }
        o.findings = test_support::StoreFindings(tally, entries, kRootFileId);
        o.keep1Whole = ReadsBack("keep1.bin", 0, keep1);
        o.keep2Whole = ReadsBack(kKeep2, std::uint16_t(keepFolder), keep2);
        o.effect = happened() ? "after" : "before";
        return o;
    }

    // Runs `op` once, then checks every state a cut can leave and prints the windows where the store
    // is not whole. `allowed` says which findings the operation may leave behind.
    void CutEverywhere(const char* name, const std::function<std::uint32_t()>& op,
                       const std::function<bool()>& happened, const std::function<bool(const std::string&)>& allowed)
    {
        device->Put(baseline);
        ASSERT_EQ(p->Identify(), kStatusOk);
        device->Record(baseline);
        ASSERT_EQ(op(), kStatusOk) << name;
        p->Sync();  // one message more, which changes nothing
        const std::vector<CutDevice::Change> changes = device->Stop();
        const std::uint64_t total = device->Messages() - 1;
        ASSERT_FALSE(changes.empty()) << name;

        test_support::CutWindows windows;
        bool rootWasGone = false;
        test_support::ReplayCuts(*device, baseline, changes, [&](std::uint64_t first, const Bytes& state) {
            const Outcome o = Check(state, happened);
            EXPECT_TRUE(o.identified) << name << ": a cut before message " << first;
            // The root block is erased and then programmed from its first page on: an entry is there
            // once its page is. No root at all is the one state between the erase and the first page.
            const std::uint32_t pages = RootPages(state);
            EXPECT_FALSE(rootWasGone && pages == 0)
                << name << ": a cut before message " << first << " leaves no root past the rewrite's first page";
            rootWasGone = pages == 0;
            const bool keep1There = keep1Slot < pages * kSlotsPerPage;
            const bool keep2There = keep2Slot < pages * kSlotsPerPage;
            if (keep1There) {
                EXPECT_TRUE(o.keep1Whole) << name << ": a cut before message " << first << " damages keep1.bin";
            }
            if (keep2There) {
                EXPECT_TRUE(o.keep2Whole) << name << ": a cut before message " << first << " damages keep2";
            }
            std::string finding;
            if (pages == 0) {
                finding = "no root directory, every file lost";
            } else if (!keep2There) {
                finding = "root partly programmed, the entries of its later pages lost";
            } else {
                EXPECT_TRUE(o.findings.empty() || allowed(o.findings))
                    << name << ": a cut before message " << first << " leaves " << o.findings;
                finding = o.findings.empty() ? "clean" : o.findings;
            }
            // With no root the operation's own entry cannot be told either way.
            if (finding != "clean" && pages != 0)
                finding += " (" + o.effect + ")";
            windows.Add(first, finding);
            if (goOn && keep2There)
                goOn(first);
        });
        EXPECT_FALSE(rootWasGone) << name << ": the last state has no root";
        const std::string text = windows.Text(total);
        std::printf("%s: %llu host messages, %zu changes of the chip\n%s", name, static_cast<unsigned long long>(total),
                    changes.size(), text.empty() ? "  whole at every cut\n" : text.c_str());
    }

    // Run after the check of every state outside the root's windows: the store goes on from what the
    // cut left.
    std::function<void(std::uint64_t first)> goOn;

    std::unique_ptr<LegacyPlayer> p;
    std::unique_ptr<test_support::CutServer> cut;  // declared after the player: it goes first
    CutDevice* device = nullptr;
    test_support::TempFolder temp;
    std::uint32_t blockBytes = 0;
    Bytes baseline;
    std::uint32_t keepFolder = 0;
    std::uint32_t victim = 0;
    std::uint32_t keep1Slot = 0;
    std::uint32_t keep2Slot = 0;
    Bytes keep1, keep2;
    std::string newFile;
};

bool Only(const std::string& findings, const std::string& allowed)
{
    return findings == allowed;
}

TEST_F(LegacyPowerTest, CutsDuringEveryOperation)
{
    // The new file's blocks go first: a cut before the root names it leaves them unnamed (the next
    // download's purge takes them back).
    CutEverywhere(
        "download into a folder", [&] { return p->device.LegacyDownload(0, newFile.c_str(), keepFolder); },
        [&] { return Find("new.bin").has_value(); },
        [&](const std::string& f) { return f == "1 lost block" || f == "2 lost blocks" || f == "3 lost blocks"; });
    // The blocks go first, then the entry: a cut in between leaves the entry without its blocks. The
    // delete done again frees every block the id had, so the next file to take the id is whole.
    const std::string fresh = Pc("fresh.bin", Pattern(3 * blockBytes, 15));
    goOn = [&](std::uint64_t first) {
        if (Find("victim.bin")) {
            EXPECT_EQ(p->device.DeleteFile(0, victim), kStatusOk) << "again, after a cut before message " << first;
        }
        ASSERT_EQ(p->device.LegacyDownload(0, fresh.c_str(), 0), kStatusOk) << first;
        const auto r = Find("fresh.bin");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->firstCluster, victim) << "the freed id goes to the next file";
        EXPECT_TRUE(ReadsBack("fresh.bin", 0, Pattern(3 * blockBytes, 15)))
            << "a new file after a cut before message " << first << " of the delete";
    };
    CutEverywhere(
        "delete in the root", [&] { return p->device.DeleteFile(0, victim); },
        [&] { return !Find("victim.bin").has_value(); },
        [&](const std::string& f) { return Only(f, "victim.bin without its blocks"); });
    goOn = nullptr;
    CutEverywhere(
        "folder creation",
        [&] {
            std::uint32_t id = 0;
            return p->device.CreateFolder("Fresh", &id);
        },
        [&] { return Find("Fresh").has_value(); }, [](const std::string&) { return false; });
    CutEverywhere(
        "move into a folder", [&] { return p->device.MoveEntry(0, victim, keepFolder); },
        [&] {
            const auto r = Find("victim.bin");
            return r && r->firstClusterHigh == keepFolder;
        },
        [](const std::string&) { return false; });
    CutEverywhere(
        "rename", [&] { return p->device.RenameEntry(0, victim, "renamed.bin"); },
        [&] { return Find("renamed.bin").has_value(); }, [](const std::string&) { return false; });
}

}  // namespace
