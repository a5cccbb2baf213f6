// Power cuts during the internal folder objects' download, delete, folder creation, move and rename.
// One run of each operation records internal memory after every host message that programmed or
// erased it; each state a cut can leave goes back onto the chip, the player is identified, the root and
// the folders are loaded again, and the store is checked: the files the operation does not touch read
// back whole, and what the blocks and entries say is printed per window of cuts.
//
// A folder's directory block is rewritten in place (erased, then programmed): a cut between the two
// leaves that folder without its directory, and the entries it held are lost (the root's: the root no
// longer loads). The store's format has no second copy that could cover that window; the test holds
// it to exactly that one state per rewrite, and to the folder being rewritten.
#include "tests/device/fs/internal/internal_fixture.h"
#include "tests/support/power_cut.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

using namespace engine;
using namespace internaltest;
using test_support::CutDevice;

namespace {

// One 8 MiB chip of 16-sector blocks: 1024 blocks of 8 KiB.
constexpr std::uint32_t kRows = 64;
constexpr std::uint32_t kSectorsPerBlock = 16;

sim::PlayerConfig SmallPlayer()
{
    sim::PlayerConfig config = sim::DefaultConfig(9);
    for (std::size_t i = 1; i < config.nandIds.size(); ++i)
        config.nandIds[i] = {0, 0};
    config.nandIds[0] = {0xEC, 0xE6};
    return config;
}

std::unique_ptr<InternalFolder> Root()
{
    return std::make_unique<InternalFolder>(Engine.InternalRootEntries, 1, 1, 1);
}
std::unique_ptr<InternalFolder> Folder(std::uint32_t id)
{
    return std::make_unique<InternalFolder>(Engine.InternalFolderEntries, id, 1, 0);
}

std::string Narrow(const std::wstring& w)
{
    return std::string(w.begin(), w.end());
}

struct Outcome {
    bool identified = false;
    std::map<std::uint32_t, bool> directoryThere;  // by folder: the chip holds its directory block
    std::map<std::uint32_t, bool> loads;           // by folder: its object loads
    bool keep1Whole = false;                       // the untouched files read back byte for byte
    bool keep2Whole = false;
    std::string findings;  // what blocks and entries say, "" when whole
    std::string effect;    // "before" or "after": the operation's own entry
};

class InternalPowerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        lp = std::make_unique<LegacyPlayer>(SmallPlayer());
        ASSERT_TRUE(lp->Ready());
        cut =
            std::make_unique<test_support::CutServer>(lp->Sim(), test_support::ChipPagesMedium(lp->Sim(), {0}, kRows));
        ASSERT_TRUE(cut->Start());
        device = &cut->Device();
        ASSERT_EQ(lp->Identify(), kStatusOk);
        // A fresh medium has no root directory: it gets an empty one.
        auto root = Root();
        ASSERT_EQ(root->Load(), kStatusFolderError);
        LegacyStore.freeBlockCount = LegacyCountFreeBlocks();
        ASSERT_EQ(root->WriteNewDirectory(), kStatusOk);
        ASSERT_EQ(root->Load(), kStatusOk);
        blockBytes = root->GetBlockBytes();
        ASSERT_EQ(blockBytes, kSectorsPerBlock * 512);

        // The files no operation touches (one in the root, one in a folder), the folder, and the file
        // the operations take.
        keep1 = Pattern(2 * blockBytes + 100, 11);
        keep2 = Pattern(blockBytes + 7, 12);
        ASSERT_EQ(root->CreateSubfolder(L"Keep", &keepFolder), kStatusOk);
        ASSERT_EQ(root->DownloadFile(Pc("keep1.bin", keep1).c_str()), kStatusOk);
        auto keep = Folder(keepFolder);
        ASSERT_EQ(keep->Load(), kStatusOk);
        ASSERT_EQ(keep->DownloadFile(Pc("keep2.bin", keep2).c_str()), kStatusOk);
        ASSERT_EQ(root->DownloadFile(Pc("victim.bin", Pattern(3 * blockBytes, 13)).c_str()), kStatusOk);
        victim = IdOf(*root, L"victim.bin");
        newFile = Pc("new.bin", Pattern(3 * blockBytes - 5, 14));
        lp->Sync();
        baseline = device->Take();
    }

    std::wstring Pc(const std::string& name, const Bytes& content)
    {
        WriteFile(temp.File(name), content);
        return temp.File(name).wstring();
    }
    // The folder's object when it loads.
    std::unique_ptr<InternalFolder> Loaded(std::uint32_t id)
    {
        auto f = id == 1 ? Root() : Folder(id);
        return f->Load() == kStatusOk ? std::move(f) : nullptr;
    }
    bool ReadsBack(InternalFolder* folder, const std::wstring& name, const Bytes& content)
    {
        if (!folder || !Has(*folder, name))
            return false;
        const auto out = temp.File("upload.out");
        return folder->UploadFile(IdOf(*folder, name), out.wstring().c_str()) == kStatusOk && ReadFile(out) == content;
    }

    Outcome Check(const Bytes& state, const std::function<bool()>& happened)
    {
        Outcome o;
        o.identified = lp->Identify() == kStatusOk;
        if (!o.identified)
            return o;
        const auto tally = test_support::TallyBlocks(state, kSectorsPerBlock, true);
        auto root = Loaded(1);
        auto keep = Loaded(keepFolder);
        for (const std::uint32_t id : {std::uint32_t{1}, keepFolder}) {
            const auto t = tally.find(id);
            o.directoryThere[id] = t != tally.end() && t->second.directories == 1;
        }
        o.loads[1] = root != nullptr;
        o.loads[keepFolder] = keep != nullptr;
        o.keep1Whole = ReadsBack(root.get(), L"keep1.bin", keep1);
        o.keep2Whole = ReadsBack(keep.get(), L"keep2.bin", keep2);

        // Every entry of every folder that loads, one level below the root and one below Keep.
        std::vector<test_support::StoreEntry> entries;
        std::vector<std::uint32_t> folders;
        auto add = [&](InternalFolder& f) {
            for (const Entry& e : List(f)) {
                // The entries by which a folder names itself and its parent.
                if (e.name.starts_with(L".") || e.id == f.FolderId())
                    continue;
                const bool folder = (e.attributes & kAttrDirectory) != 0;
                entries.push_back({Narrow(e.name), e.id, folder ? 0 : (e.size + blockBytes - 1) / blockBytes, folder});
                if (folder && e.id != keepFolder)
                    folders.push_back(e.id);
            }
        };
        if (root)
            add(*root);
        if (keep)
            add(*keep);
        for (const std::uint32_t id : folders)
            if (auto f = Loaded(id))
                add(*f);
        // A folder whose directory is gone names nothing: its entry is what it held.
        if (!root && keep)
            entries.push_back({"Keep", keepFolder, 0, true});
        o.findings = test_support::StoreFindings(tally, entries, 1);
        o.effect = happened() ? "after" : "before";
        return o;
    }

    // Runs `op` once, then checks every state a cut can leave and prints the windows where the store
    // is not whole. `allowed` says which findings the operation may leave behind.
    void CutEverywhere(const char* name, const std::function<std::uint32_t()>& op,
                       const std::function<bool()>& happened, const std::function<bool(const std::string&)>& allowed)
    {
        device->Put(baseline);
        ASSERT_EQ(lp->Identify(), kStatusOk);
        ASSERT_TRUE(Loaded(1));  // as every session starts: the root sets the free block count
        device->Record(baseline);
        ASSERT_EQ(op(), kStatusOk) << name;
        lp->Sync();  // one message more, which changes nothing
        const std::vector<CutDevice::Change> changes = device->Stop();
        const std::uint64_t total = device->Messages() - 1;
        ASSERT_FALSE(changes.empty()) << name;

        test_support::CutWindows windows;
        std::map<std::uint32_t, bool> wasGone;
        test_support::ReplayCuts(*device, baseline, changes, [&](std::uint64_t first, const Bytes& state) {
            const Outcome o = Check(state, happened);
            ASSERT_TRUE(o.identified) << name << ": a cut before message " << first;
            std::string finding;
            for (const std::uint32_t id : {std::uint32_t{1}, keepFolder}) {
                const bool gone = !o.directoryThere.at(id);
                const char* folder = id == 1 ? "the root" : "Keep";
                // The one state a rewrite of the folder passes through with its block erased: the next
                // change programs it again.
                EXPECT_FALSE(gone && wasGone[id]) << name << ": a cut before message " << first << " leaves " << folder
                                                  << " without a directory twice";
                wasGone[id] = gone;
                if (gone) {
                    // The folder's entries are gone with it: the operation's own cannot be told either way.
                    finding += std::string(finding.empty() ? "" : ", ") + "no directory of " + folder + ", " +
                               (id == 1 ? "the root" : "Keep") + " does not load";
                    continue;
                }
                EXPECT_TRUE(o.loads.at(id))
                    << name << ": a cut before message " << first << " leaves " << folder << " that does not load";
                EXPECT_TRUE(id == 1 ? o.keep1Whole : o.keep2Whole)
                    << name << ": a cut before message " << first << " damages the untouched file in " << folder;
            }
            if (finding.empty()) {
                EXPECT_TRUE(o.findings.empty() || allowed(o.findings))
                    << name << ": a cut before message " << first << " leaves " << o.findings;
                finding = o.findings.empty() ? "clean" : o.findings + " (" + o.effect + ")";
            }
            windows.Add(first, finding);
            if (goOn && o.directoryThere.at(1))
                goOn(first);
        });
        for (const auto& [id, gone] : wasGone)
            EXPECT_FALSE(gone) << name << ": the last state has no directory of folder " << id;
        const std::string text = windows.Text(total);
        std::printf("%s: %llu host messages, %zu changes of the chip\n%s", name, static_cast<unsigned long long>(total),
                    changes.size(), text.empty() ? "  whole at every cut\n" : text.c_str());
    }
    bool InFolder(std::uint32_t folder, const std::wstring& name)
    {
        auto f = Loaded(folder);
        return f && Has(*f, name);
    }

    // Run after the check of every state whose root loads: the store goes on from what the cut left.
    std::function<void(std::uint64_t first)> goOn;

    std::unique_ptr<LegacyPlayer> lp;
    std::unique_ptr<test_support::CutServer> cut;  // declared after the player: it goes first
    CutDevice* device = nullptr;
    test_support::TempFolder temp;
    std::uint32_t blockBytes = 0;
    Bytes baseline;
    std::uint32_t keepFolder = 0;
    std::uint32_t victim = 0;
    Bytes keep1, keep2;
    std::wstring newFile;
};

TEST_F(InternalPowerTest, CutsDuringEveryOperation)
{
    // The new file's blocks go first: a cut before its folder names it leaves them unnamed.
    CutEverywhere(
        "download into a folder", [&] { return Loaded(keepFolder)->DownloadFile(newFile.c_str()); },
        [&] { return InFolder(keepFolder, L"new.bin"); },
        [](const std::string& f) { return f == "1 lost block" || f == "2 lost blocks" || f == "3 lost blocks"; });
    // The blocks go first, then the entry: a cut in between leaves the entry without its blocks. The
    // delete done again frees every block the id had, so the next file to take the id is whole.
    const std::wstring fresh = Pc("fresh.bin", Pattern(3 * blockBytes, 15));
    goOn = [&](std::uint64_t first) {
        auto root = Loaded(1);
        ASSERT_TRUE(root);
        if (Has(*root, L"victim.bin")) {
            EXPECT_EQ(root->DeleteFile(victim), kStatusOk) << "again, after a cut before message " << first;
        }
        ASSERT_EQ(root->DownloadFile(fresh.c_str()), kStatusOk) << first;
        EXPECT_EQ(IdOf(*root, L"fresh.bin"), victim) << "the freed id goes to the next file";
        EXPECT_TRUE(ReadsBack(root.get(), L"fresh.bin", Pattern(3 * blockBytes, 15)))
            << "a new file after a cut before message " << first << " of the delete";
    };
    CutEverywhere(
        "delete in the root", [&] { return Loaded(1)->DeleteFile(victim); },
        [&] { return !InFolder(1, L"victim.bin"); },
        [](const std::string& f) { return f == "victim.bin without its blocks"; });
    goOn = nullptr;
    // The new directory first: a cut before its parent names it leaves that block unnamed.
    CutEverywhere(
        "folder creation in a folder",
        [&] {
            std::uint32_t id = 0;
            return Loaded(keepFolder)->CreateSubfolder(L"Fresh", &id);
        },
        [&] { return InFolder(keepFolder, L"Fresh"); }, [](const std::string& f) { return f == "1 lost block"; });
    // The target first: a cut before the source is written leaves the entry in both folders.
    CutEverywhere(
        "move from the root into a folder", [&] { return Loaded(keepFolder)->MoveEntry(1, 1, victim); },
        [&] { return InFolder(keepFolder, L"victim.bin"); },
        [](const std::string& f) { return f == "victim.bin named twice"; });
    CutEverywhere(
        "rename in the root", [&] { return Loaded(1)->RenameEntry(victim, L"renamed.bin", 0); },
        [&] { return InFolder(1, L"renamed.bin"); }, [](const std::string&) { return false; });
}

}  // namespace
