// Power cuts during the card folder object's download, delete and folder creation, on both card kinds.
// The player is served through a device that copies the card just before the k-th message the host
// sends; the operation then runs to its end, the copy goes back onto the card (the card as a cut there
// leaves it), and the player is identified and mounted again. Files the operation does not touch must
// read back whole everywhere; the volume must pass fsck.fat outside the windows printed per operation.
#include "external_fixture.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

using namespace engine;
using namespace exttest;

namespace {

// The card's content: raw pages of a NAND-type card (spare areas and stale copies included), or the
// sectors of a sector card.
struct CardState {
    std::vector<std::array<std::uint8_t, 528>> pages;
    Bytes sectors;
};

constexpr std::uint32_t kSectorsPerRow = 256;

class CutDevice : public sim::WireDevice {
public:
    CutDevice(sim::SimulatedPlayer& player, const CardKindCase& kind) : player_(player), kind_(kind) {}

    CardState Take() const
    {
        CardState s;
        if (kind_.sectors) {
            s.sectors = *player_.ExportCard();
            return s;
        }
        const int position = sim::CardPosition(player_.Config());
        for (std::uint32_t row = 0; row < rows_; ++row)
            for (std::uint32_t sector = 0; sector < kSectorsPerRow; ++sector)
                s.pages.push_back(player_.PeekPage(position, row, sector));
        return s;
    }
    void Put(const CardState& s)
    {
        if (kind_.sectors) {
            player_.ImportCard(s.sectors);
            return;
        }
        const int position = sim::CardPosition(player_.Config());
        for (std::size_t i = 0; i < s.pages.size(); ++i)
            player_.PokePage(position, std::uint32_t(i / kSectorsPerRow), std::uint32_t(i % kSectorsPerRow), s.pages[i]);
    }
    void SetRows(std::uint32_t rows) { rows_ = rows; }
    // Copies the card before host message `k` (1 = the next); 0 only counts.
    void Arm(std::uint64_t k)
    {
        cutAt_ = k;
        writes_ = 0;
        cut_.reset();
    }
    std::uint64_t Writes() const { return writes_; }
    std::optional<CardState>& Cut() { return cut_; }

    void HostWrite(std::span<const std::uint8_t> message, std::vector<sim::Message>& replies) override
    {
        if (++writes_ == cutAt_)
            cut_ = Take();
        player_.HostWrite(message, replies);
    }
    void HostClosed() override { player_.HostClosed(); }

private:
    sim::SimulatedPlayer& player_;
    CardKindCase kind_;
    std::uint32_t rows_ = 0;
    std::uint64_t cutAt_ = 0;
    std::uint64_t writes_ = 0;
    std::optional<CardState> cut_;
};

struct Outcome {
    bool mounted = false;
    bool keptWhole = false;   // the untouched files read back byte for byte
    std::string findings;     // fsck.fat's, "" when clean
    std::string effect;       // "before", "after" or "other": the operation's own entry
};

class ExternalPowerTest : public ::testing::TestWithParam<CardKindCase> {
protected:
    void SetUp() override
    {
        for (const char* tool : {"fsck.fat", "mcopy"})
            ASSERT_TRUE(test_support::HostHasProgram(tool)) << tool;
        ASSERT_TRUE(card.Start());
        device = std::make_unique<CutDevice>(card.Test().Player(), GetParam());
        device->SetRows(GetParam().sectors ? 0 : Engine.CardBlockCount * CardVolume.card.sectorsPerBlock / kSectorsPerRow);
        server = std::make_unique<sim::WireServer>(sim::UniquePipeBaseName("kwep-cut"), *device);
        ASSERT_TRUE(server->Start());
        SetEnvironmentVariableA(sim::kPlayerPathVariable, server->InterfacePath().c_str());
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
    void TearDown() override
    {
        server.reset();  // before the device and the player
        device.reset();
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

    // Runs `op` once per cut point and prints the windows where the card is not whole.
    void CutEverywhere(const char* name, const std::function<std::uint32_t()>& op,
                       const std::function<std::string()>& effect)
    {
        device->Put(baseline);
        ASSERT_EQ(card.Identify(), kStatusOk);
        device->Arm(0);
        ASSERT_EQ(op(), kStatusOk) << name;
        const std::uint64_t total = device->Writes();
        ASSERT_GT(total, 0u);
        const std::uint64_t stride = (total + 24) / 25;

        std::string windows;
        std::string last;
        std::uint64_t from = 0;
        auto close = [&](std::uint64_t to) {
            if (!last.empty() && last != "clean")
                windows += "  messages " + std::to_string(from) + ".." + std::to_string(to) + ": " + last + "\n";
        };
        for (std::uint64_t k = 1; k <= total; k += stride) {
            device->Put(baseline);
            ASSERT_EQ(card.Identify(), kStatusOk);
            device->Arm(k);
            op();
            if (!device->Cut())
                break;  // this run needed fewer messages: the operation was done
            CardState at = std::move(*device->Cut());
            device->Arm(0);
            device->Put(at);
            Outcome o = Check(effect);
            EXPECT_TRUE(o.mounted) << name << ": a cut before message " << k << " leaves a card that does not mount";
            EXPECT_TRUE(o.keptWhole) << name << ": a cut before message " << k << " damages an untouched file";
            std::string kind = o.findings.empty() ? "clean" : "fsck: " + o.findings.substr(0, o.findings.find('\n'));
            kind += " (" + o.effect + ")";
            if (o.findings.empty())
                kind = "clean";
            if (kind != last) {
                close(k - 1);
                last = kind;
                from = k;
            }
        }
        close(total);
        std::printf("%s on the %s: %llu host messages, cut every %llu\n%s", name, GetParam().name,
                    static_cast<unsigned long long>(total), static_cast<unsigned long long>(stride),
                    windows.empty() ? "  whole at every cut\n" : windows.c_str());
        measured += windows;
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
    std::unique_ptr<CutDevice> device;
    std::unique_ptr<sim::WireServer> server;
    CardState baseline;
    std::uint32_t keepFolder = 0;
    std::uint16_t victim = 0;
    Bytes keep1, keep2;
    std::string newFile;
    std::string measured;
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

// A smaller sector card than elsewhere: the card is copied at every cut. The NAND-type card
// ({kCardKinds[0]}) joins once the simulated player's pipes serve every bracket.
const CardKindCase kCutCards[] = {{"SectorCard", 10, 0, 16384}};

INSTANTIATE_TEST_SUITE_P(Cards, ExternalPowerTest, ::testing::ValuesIn(kCutCards),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
