// Power cuts replayed from one run of an operation. The simulated player is served through a device
// that copies the medium after every host message that programmed or erased something, so one run
// gives every state a cut can leave: a cut before message k leaves the medium as the last change
// before k made it. Each state then goes back onto the medium for the test to identify the player
// again and look at what is left.
#pragma once

#include "sim/simulated_player.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

using CutBytes = std::vector<std::uint8_t>;

// A medium as units back to back, and how to copy it out of the player and back in.
struct CutMedium {
    std::size_t unitBytes = 0;
    std::function<CutBytes()> take;
    std::function<void(const CutBytes&)> put;
};

// Raw pages (512 data bytes and the 16 spare bytes, stale copies included) of the chips at the
// positions, `rows` rows of 256 sectors each.
CutMedium ChipPagesMedium(sim::SimulatedPlayer& player, std::vector<int> positions, std::uint32_t rows);
// The sectors of the sector card.
CutMedium SectorCardMedium(sim::SimulatedPlayer& player);

class CutDevice : public sim::WireDevice {
public:
    // Units one recorded change replaced, each with its new bytes.
    struct Change {
        std::uint64_t after = 0;  // the host message that made it (1 = the first recorded)
        std::vector<std::pair<std::uint32_t, CutBytes>> units;
    };

    CutDevice(sim::SimulatedPlayer& player, CutMedium medium) : player_(player), medium_(std::move(medium)) {}

    std::size_t UnitBytes() const { return medium_.unitBytes; }
    CutBytes Take() const { return medium_.take(); }
    void Put(const CutBytes& state) { medium_.put(state); }
    // From now on the medium is recorded after every message that changed it; `from` is the medium now.
    void Record(CutBytes from);
    std::vector<Change> Stop();
    std::uint64_t Messages() const { return messages_; }

    void HostWrite(std::span<const std::uint8_t> message, std::vector<sim::Message>& replies) override;
    void HostClosed() override { player_.HostClosed(); }

private:
    // Programs and erases the player has done so far.
    std::uint64_t Work() const;

    sim::SimulatedPlayer& player_;
    CutMedium medium_;
    std::atomic<bool> recording_{false};
    std::uint64_t messages_ = 0;
    std::uint64_t work_ = 0;
    CutBytes last_;
    std::vector<Change> changes_;
};

// A CutDevice over a medium of the player, served on a pipe of its own to which Start points the
// engine's transport. The server stops before the device goes.
class CutServer {
public:
    CutServer(sim::SimulatedPlayer& player, CutMedium medium)
        : device_(player, std::move(medium)), server_(sim::UniquePipeBaseName("kwep-cut"), device_)
    {}
    CutServer(const CutServer&) = delete;
    CutServer& operator=(const CutServer&) = delete;
    // False when the pipes could not be made.
    bool Start();
    CutDevice& Device() { return device_; }
    sim::WireServer& Server() { return server_; }

private:
    CutDevice device_;
    sim::WireServer server_;
};

// Puts every state the changes lead through onto the medium, one after the other from `baseline`,
// and calls `check` with the first host message a cut before which leaves that state (a cut before
// any later message up to the next change leaves the same).
void ReplayCuts(CutDevice& device, const CutBytes& baseline, const std::vector<CutDevice::Change>& changes,
                const std::function<void(std::uint64_t first, const CutBytes& state)>& check);

// The findings of consecutive cuts gathered into windows, printed as "  messages a..b: finding"
// lines; cuts found "clean" print nothing.
class CutWindows {
public:
    void Add(std::uint64_t first, const std::string& finding);
    // The windows once the last cut is in; `total` is the operation's message count.
    std::string Text(std::uint64_t total) const;

private:
    std::vector<std::pair<std::uint64_t, std::string>> runs_;
};

// ---- What a cut leaves in a block store of internal memory ----

// The blocks of one id, counted from the spare record of each block's first page.
struct BlockTally {
    std::uint32_t starts = 0;  // file-start blocks that are not directories
    std::uint32_t continuation = 0;
    std::uint32_t directories = 0;  // directory blocks (type 'R')
};

// Every block of the chip pages (as ChipPagesMedium takes them), by the id its record carries: the
// 16-bit id of bytes 14-15 when `wideIds` and the record is not a host-written 'PC' one, else byte 1.
std::map<std::uint32_t, BlockTally> TallyBlocks(const CutBytes& pages, std::uint32_t sectorsPerBlock, bool wideIds);

// An entry a folder of the store names.
struct StoreEntry {
    std::string name;
    std::uint32_t id = 0;
    std::uint32_t blocks = 0;  // the blocks its size needs (files)
    bool directory = false;    // a folder with a directory block of its own
};

// What the tally and the entries found say, sorted, "" when whole: "<n> lost blocks" (blocks whose id
// no entry names; `rootId` is the root directory's), "<name> without its blocks" (an entry whose
// file-start block is gone or whose blocks are fewer than its size needs), "<name> without its
// directory", "<name> named twice" (one id in two entries).
std::string StoreFindings(const std::map<std::uint32_t, BlockTally>& tally, const std::vector<StoreEntry>& entries,
                          std::uint32_t rootId);

}  // namespace test_support
