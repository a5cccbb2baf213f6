// Power cuts during the card folder object's download, delete and folder creation, on both card kinds.
// The player is served through a device that records the card after every host message that
// programmed or erased it, so one run of an operation gives every state a cut can leave: a cut before
// message k leaves the card as the last change before k made it. Each state goes back onto the card,
// the player is identified and mounted again, and the card is checked: files the operation does not
// touch must read back whole everywhere, and fsck.fat may find no more than clusters that no entry
// names or a second FAT not yet written, in the windows printed per operation.
#include "tests/device/fs/card/external_fixture.h"
#include "tests/support/power_cut.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

using namespace engine;
using namespace exttest;

namespace {

constexpr std::uint32_t kSectorsPerRow = 256;

using test_support::CutDevice;

// The card's content as units back to back: raw pages of a NAND-type card (spare areas and stale
// copies included), or the sectors of a sector card.
test_support::CutMedium CardMedium(sim::SimulatedPlayer& player, const CardKindCase& kind, std::uint32_t rows)
{
    if (kind.sectors != 0)
        return test_support::SectorCardMedium(player);
    return test_support::ChipPagesMedium(player, {sim::CardPosition(player.Config())}, rows);
}

// What fsck.fat may find after a cut: clusters taken but named by no entry, or the second FAT not yet
// written. Anything else (an entry on free clusters, a damaged chain or directory) is damage.
bool OnlyLeaks(const std::string& findings)
{
    std::istringstream in(findings);
    for (std::string line; std::getline(in, line);) {
        if (!(line.rfind("Reclaimed ", 0) == 0 || line == "FATs differ but appear to be intact." ||
              line == "  Using first FAT."))
            return false;
    }
    return true;
}

struct Outcome {
    bool mounted = false;
    bool keptWhole = false;  // the untouched files read back byte for byte
    std::string findings;    // fsck.fat's, "" when clean
    std::string effect;      // "before" or "after": the operation's own entry
};

class ExternalPowerTest : public ::testing::TestWithParam<CardKindCase> {
protected:
    void SetUp() override
    {
        for (const char* tool : {"fsck.fat", "mcopy"})
            ASSERT_TRUE(test_support::HostHasProgram(tool)) << tool;
        ASSERT_TRUE(card.Start());
        const std::uint32_t rows =
            GetParam().sectors ? 0 : Engine.CardBlockCount * CardVolume.card.sectorsPerBlock / kSectorsPerRow;
        cut = std::make_unique<test_support::CutServer>(card.Test().Player(),
                                                        CardMedium(card.Test().Player(), GetParam(), rows));
        ASSERT_TRUE(cut->Start());
        device = &cut->Device();
        server = &cut->Server();
        ASSERT_EQ(card.Identify(), kStatusOk);

        // The files no operation touches, a folder, and the file the delete takes.
        const std::uint32_t cb = card.ClusterBytes();
        auto root = card.Open(0);
        ASSERT_TRUE(root);
        ASSERT_EQ(root->CreateSubfolder(L"Keep", &keepFolder), kStatusOk);
        keep1 = RandomBytes(2 * cb + 100, 11);
        keep2 = RandomBytes(cb + 7, 12);
        ASSERT_EQ(card.Open(0)->DownloadFile(Wide(card.PcFile("keep1.bin", keep1)).c_str()), kStatusOk);
        ASSERT_EQ(card.Open(keepFolder)->DownloadFile(Wide(card.PcFile("keep2.bin", keep2)).c_str()), kStatusOk);
        ASSERT_EQ(card.Open(0)->DownloadFile(Wide(card.PcFile("victim.bin", RandomBytes(3 * cb, 13))).c_str()),
                  kStatusOk);
        for (const Entry& e : List(*card.Open(0)))
            if (e.name == "victim.bin")
                victim = e.id;
        newFile = card.PcFile("new.bin", RandomBytes(3 * cb - 5, 14));
        SyncWithPlayer();
        baseline = device->Take();
    }

    Outcome Check(const std::function<std::string()>& effect)
    {
        Outcome o;
        o.mounted = card.Identify() == kStatusOk && CardVolume.IsMounted();
        if (!o.mounted)
            return o;
        o.effect = effect();
        auto image = card.Export();
        CardImage part(card.Temp(), *image);
        o.findings = WithoutSelfEntries(part.Fsck());
        auto a = part.Read("keep1.bin");
        auto b = part.Read("Keep/keep2.bin");
        o.keptWhole = a && *a == keep1 && b && *b == keep2;
        return o;
    }

    // Runs `op` once, then checks every state a cut can leave and prints the windows where the card is
    // not whole: a cut before message k (1 = the operation's first) leaves the last change before k.
    void CutEverywhere(const char* name, const std::function<std::uint32_t()>& op,
                       const std::function<std::string()>& effect)
    {
        device->Put(baseline);
        ASSERT_EQ(card.Identify(), kStatusOk);
        device->Record(baseline);
        ASSERT_EQ(op(), kStatusOk) << name;
        SyncWithPlayer();  // one message more, which changes nothing
        const std::vector<CutDevice::Change> changes = device->Stop();
        const std::uint64_t total = device->Messages() - 1;
        ASSERT_FALSE(changes.empty()) << name;

        test_support::CutWindows windows;
        test_support::ReplayCuts(*device, baseline, changes, [&](std::uint64_t first, const Bytes&) {
            // Cuts before messages first .. the next change's message; past the last one the
            // operation is whole.
            Outcome o = Check(effect);
            EXPECT_TRUE(o.mounted) << name << ": a cut before message " << first
                                   << " leaves a card that does not mount";
            EXPECT_TRUE(o.keptWhole) << name << ": a cut before message " << first << " damages an untouched file";
            EXPECT_TRUE(OnlyLeaks(o.findings)) << name << ": a cut before message " << first << " leaves\n"
                                               << o.findings;
            std::string kind = "clean";
            if (!o.findings.empty()) {
                kind = "fsck:";
                std::istringstream in(o.findings);
                for (std::string line; std::getline(in, line);)
                    if (line.rfind("  ", 0) != 0)
                        kind += " " + line;
                kind += " (" + o.effect + ")";
            }
            windows.Add(first, kind);
        });
        const std::string text = windows.Text(total);
        std::printf("%s on the %s: %llu host messages, %zu changes of the card\n%s", name, GetParam().name,
                    static_cast<unsigned long long>(total), changes.size(),
                    text.empty() ? "  whole at every cut\n" : text.c_str());
    }
    std::string EffectOf(std::uint32_t folder, const std::string& entry)
    {
        auto f = card.Open(folder);
        if (!f)
            return "unreadable folder";
        for (const Entry& e : List(*f))
            if (e.name == entry)
                return "after";
        return "before";
    }

    CardPlayer card{GetParam()};
    std::unique_ptr<test_support::CutServer> cut;  // declared after the player: it goes first
    CutDevice* device = nullptr;
    sim::WireServer* server = nullptr;
    Bytes baseline;
    std::uint32_t keepFolder = 0;
    std::uint16_t victim = 0;
    Bytes keep1, keep2;
    std::string newFile;
};

TEST_P(ExternalPowerTest, CutsDuringDownloadDeleteAndFolderCreation)
{
    CutEverywhere(
        "download into a folder", [&] { return card.Open(keepFolder)->DownloadFile(Wide(newFile).c_str()); },
        [&] { return EffectOf(keepFolder, "new.bin"); });
    CutEverywhere(
        "delete in the root", [&] { return card.Open(0)->DeleteFile(victim); },
        [&] { return EffectOf(0, "victim.bin") == "after" ? std::string("before") : std::string("after"); });
    CutEverywhere(
        "folder creation in a folder",
        [&] {
            std::uint32_t id = 0;
            return card.Open(keepFolder)->CreateSubfolder(L"Fresh", &id);
        },
        [&] { return EffectOf(keepFolder, "Fresh"); });
}

// A transfer that fails anywhere in a delete from the root leaves a card that mounts, with the file
// either still there or gone and nothing else lost: the failed operation writes back what it had.
TEST_P(ExternalPowerTest, FailedTransfersDuringARootDeleteLeaveTheCardWhole)
{
    auto transfers = [&] {
        auto c = server->Counters();
        return c.hostWrites + c.hostReads;
    };
    auto gone = [&] {
        for (const Entry& e : List(*card.Open(0)))
            if (e.name == "victim.bin")
                return false;
        return true;
    };
    auto root = card.Open(0);
    ASSERT_TRUE(root);
    std::uint64_t total = transfers();
    ASSERT_EQ(root->DeleteFile(victim), kStatusOk);
    total = transfers() - total;
    ASSERT_GT(total, 4u);
    for (std::uint64_t k = 1; k <= total; ++k) {
        device->Put(baseline);
        ASSERT_EQ(card.Identify(), kStatusOk);
        root = card.Open(0);
        ASSERT_TRUE(root);
        server->InjectFault(sim::FaultKind::Fail, k);
        const std::uint32_t status = root->DeleteFile(victim);
        server->ClearFault();
        const Outcome o = Check([&] { return gone() ? std::string("after") : std::string("before"); });
        // The blocks of a deleted file are erased once the entry is gone; a failure there is not the
        // delete's.
        EXPECT_TRUE(status == kStatusUsbError || (status == kStatusOk && o.effect == "after"))
            << "transfer " << k << " of " << total << ": " << status << ", " << o.effect;
        EXPECT_TRUE(o.mounted) << "transfer " << k;
        EXPECT_TRUE(o.keptWhole) << "transfer " << k;
        EXPECT_TRUE(OnlyLeaks(o.findings)) << "transfer " << k << ":\n" << o.findings;
    }
}

// A smaller sector card than elsewhere: the card is copied after every change.
const CardKindCase kCutCards[] = {kCardKinds[0], {"SectorCard", 10, 0, 16384}};

INSTANTIATE_TEST_SUITE_P(Cards, ExternalPowerTest, ::testing::ValuesIn(kCutCards),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
