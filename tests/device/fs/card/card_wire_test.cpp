// What the NAND-type card's writes send to the player, message by message: the root's file operations
// with the system-area rewrite behind them, the card format and the folder object's cluster writes. The
// player is served through a recorder that notes every message the host writes, and each operation's
// messages are compared with the exchange the card's block translation calls for on a fresh 8 MB card
// (16-sector blocks).
#include "tests/device/fs/card/external_fixture.h"

#include "device/transport/command_block.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace engine;
using namespace exttest;

namespace {

constexpr std::uint32_t kBlockSectors = 16;  // the 8 MB card's erase block

// The block-address field of a spare record: 10 bits of logical block between the fixed bits and the
// parity bit; 0x0000 is the information structure's, 0xFFFF an erased record's. A cleared byte 5 is the
// mark of a retired block.
std::string LogicalOf(const std::uint8_t* spare)
{
    const unsigned field = (spare[6] << 8) | spare[7];
    if (spare[5] != 0xFF)
        return "bad";
    if (field == 0)
        return "cis";
    if (field == 0xFFFF)
        return "none";
    return std::to_string((field >> 1) & 0x3FF);
}

// Notes what the host writes, one word per exchange, and passes every message on to the player:
//   E r.s          erase of the block at row r, sector s (a run of neighbouring blocks: E r.s-r.s)
//   W r.s L n      block write from that sector, every unit carrying logical block n
//   P r.s L n      one page written (neighbouring pages of one logical block: P r.s-r.s L n); L bad is
//                  the mark of a retired block, L cis the information structure
//   R r.s / RB r.s page read / block read;  S  spare records read;  I  device information read
class WireLog : public sim::WireDevice {
public:
    explicit WireLog(sim::WireDevice& player) : player_(player) {}

    void HostWrite(std::span<const std::uint8_t> message, std::vector<sim::Message>& replies) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Note(message);
        }
        player_.HostWrite(message, replies);
    }
    void HostClosed() override { player_.HostClosed(); }

    // The words noted since the last call, without the round trip that ends them (SyncWithPlayer).
    std::vector<std::string> Take()
    {
        SyncWithPlayer();
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        out.swap(words_);
        if (!out.empty() && out.back() == "I")
            out.pop_back();
        return out;
    }

private:
    static std::string Address(const std::uint8_t* block)
    {
        const unsigned row = block[5] == 0xFF ? block[4] : (block[5] << 8 | block[4]);
        return std::to_string(row) + "." + std::to_string(block[3]);
    }
    static unsigned Linear(const std::string& address)
    {
        const std::size_t dot = address.find('.');
        return std::stoul(address.substr(0, dot)) * 256 + std::stoul(address.substr(dot + 1));
    }

    void Note(std::span<const std::uint8_t> m)
    {
        if (pendingBytes_ > 0) {  // data of a block or page write
            for (std::size_t at = 0; at + kUnitBytes <= m.size(); at += kUnitBytes) {
                const std::string logical = LogicalOf(m.data() + at + kUnitDataBytes);
                if (pendingLogical_.empty())
                    pendingLogical_ = logical;
                else if (pendingLogical_ != logical)
                    pendingLogical_ = "mixed";
            }
            pendingBytes_ -= std::min(pendingBytes_, m.size());
            if (pendingBytes_ == 0 && pendingKind_ == "P")
                NoteRun("P", pendingAt_, " L " + pendingLogical_, 1);
            else if (pendingBytes_ == 0)
                words_.push_back(pendingKind_ + " " + pendingAt_ + " L " + pendingLogical_);
            return;
        }
        if (m.size() != sizeof(CommandBlock)) {
            words_.push_back("? " + std::to_string(m.size()));
            return;
        }
        const std::string at = Address(m.data());
        switch (m[0]) {
        case kOpNandEraseBlock:
            NoteRun("E", at, "", kBlockSectors);
            return;
        case kOpNandBlockWrite:
            pendingBytes_ = m[6] << 8 | m[7] | m[8] << 16 | std::size_t{m[9]} << 24;
            pendingKind_ = "W";
            pendingAt_ = at;
            pendingLogical_.clear();
            return;
        case kOpNandWritePage:
            pendingBytes_ = kUnitBytes;
            pendingKind_ = "P";
            pendingAt_ = at;
            pendingLogical_.clear();
            return;
        case kOpNandReadPage:
            words_.push_back("R " + at);
            return;
        case kOpNandReadPages:
            words_.push_back("RB " + at);
            return;
        case kOpNandReadSpare:
            words_.push_back("S");
            return;
        case kOpReadDeviceInfo:
            words_.push_back("I");
            return;
        default:
            words_.push_back("op " + std::to_string(m[0]));
        }
    }
    // Erases of neighbouring blocks, and page writes of neighbouring pages with the same logical block,
    // one after the other, make one word.
    void NoteRun(const std::string& kind, const std::string& at, const std::string& tail, unsigned step)
    {
        if (!words_.empty() && words_.back().rfind(kind + " ", 0) == 0 && words_.back().size() > tail.size() &&
            words_.back().compare(words_.back().size() - tail.size(), tail.size(), tail) == 0) {
            std::string& last = words_.back();
            const std::string range = last.substr(kind.size() + 1, last.size() - tail.size() - kind.size() - 1);
            const std::size_t dash = range.find('-');
            const std::string end = dash == std::string::npos ? range : range.substr(dash + 1);
            if (Linear(at) == Linear(end) + step) {
                last = kind + " " + range.substr(0, dash) + "-" + at + tail;
                return;
            }
        }
        words_.push_back(kind + " " + at + tail);
    }

    sim::WireDevice& player_;
    std::mutex mutex_;
    std::vector<std::string> words_;
    std::size_t pendingBytes_ = 0;
    std::string pendingKind_, pendingAt_, pendingLogical_;
};

// A player of `model` with a fresh formatted 8 MB card, served through the recorder and identified.
class WirePlayer {
public:
    explicit WirePlayer(int model)
        : player_(sim::SimulatedPlayer::CreateInMemory(WithoutInternalChips(model))),
          log_(*player_),
          server_(sim::UniquePipeBaseName("kwep-wire"), log_)
    {
        char previous[1024];
        const DWORD n = GetEnvironmentVariableA(sim::kPlayerPathVariable, previous, sizeof previous);
        if (n > 0 && n < sizeof previous)
            previous_ = std::string(previous, n);
        SetPath(server_.InterfacePath());
    }
    ~WirePlayer()
    {
        server_.Stop();
        SetPath(previous_);
    }
    bool Start()
    {
        DeviceInfoBlock info;
        return server_.Start() && player_->InsertNandCard(0xEC, 0xE6, true) && device_.Initialize(info) == kStatusOk &&
               CardVolume.IsMounted();
    }
    WireLog& Log() { return log_; }
    // Erases of the card's block `block` fail from now on.
    bool FailErase(std::uint32_t block) { return player_->FailErase(sim::CardPosition(player_->Config()), block); }
    PlayerDevice& Device() { return device_; }
    std::string PcFile(const std::string& name, std::size_t size)
    {
        WriteFile(temp_.File(name), RandomBytes(size, static_cast<unsigned>(size)));
        return temp_.File(name).string();
    }

private:
    static void SetPath(const std::optional<std::string>& value)
    {
        SetEnvironmentVariableA(sim::kPlayerPathVariable, value ? value->c_str() : nullptr);
        _putenv_s(sim::kPlayerPathVariable, value ? value->c_str() : "");
    }

    std::unique_ptr<sim::SimulatedPlayer> player_;
    WireLog log_;
    sim::WireServer server_;
    std::optional<std::string> previous_;
    PlayerDevice device_;
    test_support::TempFolder temp_;
};

constexpr std::size_t kClusterBytes = kBlockSectors * 512;

struct WireCase {
    const char* name;
    int model;  // 1: files in the card's root; 9: folder objects on the card
    // Runs the operation (set-up first, then Log().Take() to drop the set-up's messages); its status.
    std::function<EngineStatus(WirePlayer&)> run;
    std::vector<std::string> expected;
};

// The root download of a file of two clusters and a half, for the operations that change it.
EngineStatus DownloadInRoot(WirePlayer& p)
{
    return CardVolume.DownloadFileNandCard(p.PcFile("A.BIN", kClusterBytes * 5 / 2).c_str());
}

// `op` on the file of that download (the download's messages dropped).
EngineStatus AfterRootDownload(WirePlayer& p, const std::function<EngineStatus(std::uint16_t)>& op)
{
    if (DownloadInRoot(p) != kStatusOk)
        return kStatusUsbError;
    p.Log().Take();
    return op(Walk().at("A.BIN").id);
}

void PrintTo(const WireCase& c, std::ostream* out)
{
    *out << c.name;
}

class CardWireTest : public ::testing::TestWithParam<WireCase> {};

TEST_P(CardWireTest, SendsTheExchangeTheBlockTranslationCallsFor)
{
    WirePlayer player(GetParam().model);
    ASSERT_TRUE(player.Start());
    player.Log().Take();
    EXPECT_EQ(GetParam().run(player), kStatusOk);
    EXPECT_EQ(player.Log().Take(), GetParam().expected);
}

// Blocks of the fresh card: 0 retired, the information structure in 0.16, logical blocks 0, 1 and 2 (the
// master boot record; the boot sector, FATs and root) in 0.32, 0.48 and 0.64, the first erased block in
// 0.80. Cluster c is logical block c + 1.
const WireCase kWireCases[] = {
    // Each cluster into the zone's first erased block; the system area's new copies after the old ones,
    // and the old ones erased only then.
    {"RootDownload",
     1,
     [](WirePlayer& p) { return DownloadInRoot(p); },
     {"W 0.80 L 3", "W 0.96 L 4", "W 0.112 L 5", "W 0.128 L 1", "W 0.144 L 2", "E 0.48-0.64"}},
    {"RootDelete",
     1,
     [](WirePlayer& p) { return AfterRootDownload(p, [](std::uint16_t id) { return CardVolume.DeleteFile(id); }); },
     {"E 0.80-0.112", "W 0.160 L 1", "W 0.176 L 2", "E 0.128-0.144"}},
    // A block that fails to erase is retired and the delete goes on.
    {"RootDeleteRetiringABlock",
     1,
     [](WirePlayer& p) {
         return AfterRootDownload(
             p, [&p](std::uint16_t id) { return p.FailErase(6) ? CardVolume.DeleteFile(id) : kStatusUsbError; });
     },
     {"E 0.80-0.96", "P 0.96 L bad", "E 0.112", "W 0.160 L 1", "W 0.176 L 2", "E 0.128-0.144"}},
    {"RootRename",
     1,
     [](WirePlayer& p) {
         return AfterRootDownload(p, [](std::uint16_t id) { return CardVolume.Rename(id, "B.BIN"); });
     },
     {"W 0.160 L 1", "W 0.176 L 2", "E 0.128-0.144"}},
    // The erase of every unused block, block 0 retired, then page by page: the information structure
    // twice, the system area as logical blocks 0 to 2, each block erased before its first page; then the
    // mount reads it back.
    {"Format",
     1,
     [](WirePlayer& p) { return p.Device().FormatNandCard(); },
     {"I", "S", "E 0.16-63.240", "E 0.0", "P 0.0 L bad", "E 0.16", "P 0.16-0.17 L cis", "E 0.32", "P 0.32-0.47 L 0",
      "E 0.48", "P 0.48-0.63 L 1", "E 0.64", "P 0.64-0.79 L 2", "S", "R 0.16", "R 0.32", "RB 0.48", "RB 0.64"}},
    // A block that fails to erase is retired by the erase pass, and the system area passes over it.
    {"FormatRetiringABlock",
     1,
     [](WirePlayer& p) { return p.FailErase(3) ? p.Device().FormatNandCard() : kStatusUsbError; },
     {"I",
      "S",
      "E 0.16-0.48",
      "P 0.48 L bad",
      "E 0.64-63.240",
      "E 0.0",
      "P 0.0 L bad",
      "E 0.16",
      "P 0.16-0.17 L cis",
      "E 0.32",
      "P 0.32-0.47 L 0",
      "E 0.64",
      "P 0.64-0.79 L 1",
      "E 0.80",
      "P 0.80-0.95 L 2",
      "S",
      "R 0.16",
      "R 0.32",
      "RB 0.64",
      "RB 0.80"}},
    // The folder object's cluster writes: a new cluster into an erased block; a rewritten one (the
    // subfolder's directory) into an erased block first, its old copy erased after.
    {"FolderDownload",
     9,
     [](WirePlayer& p) {
         ExternalFolder root(256, 0, 1, 1);
         if (root.Load() != kStatusOk)
             return kStatusUsbError;
         p.Log().Take();
         return root.DownloadFile(Wide(p.PcFile("A.BIN", kClusterBytes * 5 / 2)).c_str());
     },
     {"W 0.80 L 3", "W 0.96 L 4", "W 0.112 L 5", "W 0.128 L 1", "W 0.144 L 2", "E 0.48-0.64"}},
    {"SubfolderDownload",
     9,
     [](WirePlayer& p) {
         ExternalFolder root(256, 0, 1, 1);
         std::uint32_t id = 0;
         if (root.Load() != kStatusOk || root.CreateSubfolder(L"SUB", &id) != kStatusOk)
             return kStatusUsbError;
         ExternalFolder sub(256, id, 1, 0);
         if (sub.Load() != kStatusOk)
             return kStatusUsbError;
         p.Log().Take();
         return sub.DownloadFile(Wide(p.PcFile("A.BIN", kClusterBytes / 2)).c_str());
     },
     {"W 0.64 L 4", "W 0.128 L 1", "W 0.144 L 2", "E 0.96-0.112", "W 0.96 L 3", "E 0.80"}},
};

INSTANTIATE_TEST_SUITE_P(Operations, CardWireTest, ::testing::ValuesIn(kWireCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
