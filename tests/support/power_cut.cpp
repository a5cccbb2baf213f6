#include "tests/support/power_cut.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <set>

namespace test_support {

namespace {

constexpr std::uint32_t kSectorsPerRow = 256;
constexpr std::size_t kPageBytes = 528;

}  // namespace

bool CutServer::Start()
{
    if (!server_.Start())
        return false;
    SetEnvironmentVariableA(sim::kPlayerPathVariable, server_.InterfacePath().c_str());
    return true;
}

CutMedium ChipPagesMedium(sim::SimulatedPlayer& player, std::vector<int> positions, std::uint32_t rows)
{
    CutMedium m;
    m.unitBytes = kPageBytes;
    m.take = [&player, positions, rows] {
        CutBytes s;
        s.reserve(positions.size() * rows * kSectorsPerRow * kPageBytes);
        for (const int position : positions)
            for (std::uint32_t row = 0; row < rows; ++row)
                for (std::uint32_t sector = 0; sector < kSectorsPerRow; ++sector) {
                    const auto page = player.PeekPage(position, row, sector);
                    s.insert(s.end(), page.begin(), page.end());
                }
        return s;
    };
    m.put = [&player, positions, rows](const CutBytes& s) {
        const std::size_t perChip = std::size_t{rows} * kSectorsPerRow;
        std::array<std::uint8_t, kPageBytes> page;
        for (std::size_t i = 0; i * kPageBytes < s.size() && i / perChip < positions.size(); ++i) {
            std::copy_n(s.begin() + i * kPageBytes, kPageBytes, page.begin());
            const std::size_t inChip = i % perChip;
            player.PokePage(positions[i / perChip], std::uint32_t(inChip / kSectorsPerRow),
                            std::uint32_t(inChip % kSectorsPerRow), page);
        }
    };
    return m;
}

CutMedium SectorCardMedium(sim::SimulatedPlayer& player)
{
    CutMedium m;
    m.unitBytes = 512;
    m.take = [&player] {
        return player.ExportCard().value_or(CutBytes{});
    };
    m.put = [&player](const CutBytes& s) {
        player.ImportCard(s);
    };
    return m;
}

void CutDevice::Record(CutBytes from)
{
    last_ = std::move(from);
    changes_.clear();
    messages_ = 0;
    work_ = Work();
    recording_ = true;
}

std::vector<CutDevice::Change> CutDevice::Stop()
{
    recording_ = false;
    last_.clear();
    return std::move(changes_);
}

void CutDevice::HostWrite(std::span<const std::uint8_t> message, std::vector<sim::Message>& replies)
{
    player_.HostWrite(message, replies);
    if (!recording_)
        return;
    ++messages_;
    const std::uint64_t work = Work();
    if (work == work_)
        return;
    work_ = work;
    CutBytes now = Take();
    Change c{messages_, {}};
    const std::size_t unit = UnitBytes();
    for (std::size_t at = 0; at + unit <= now.size() && at + unit <= last_.size(); at += unit)
        if (!std::equal(now.begin() + at, now.begin() + at + unit, last_.begin() + at))
            c.units.emplace_back(std::uint32_t(at / unit), CutBytes(now.begin() + at, now.begin() + at + unit));
    if (!c.units.empty())
        changes_.push_back(std::move(c));
    last_ = std::move(now);
}

std::uint64_t CutDevice::Work() const
{
    const sim::NandCounters c = player_.Counters();
    return c.pagePrograms + c.blockErases + c.cardSectorsWritten + c.cardSectorsErased;
}

void ReplayCuts(CutDevice& device, const CutBytes& baseline, const std::vector<CutDevice::Change>& changes,
                const std::function<void(std::uint64_t first, const CutBytes& state)>& check)
{
    CutBytes state = baseline;
    const std::size_t unit = device.UnitBytes();
    for (const CutDevice::Change& change : changes) {
        for (const auto& [index, bytes] : change.units)
            std::copy(bytes.begin(), bytes.end(), state.begin() + std::size_t{index} * unit);
        device.Put(state);
        check(change.after + 1, state);
    }
}

void CutWindows::Add(std::uint64_t first, const std::string& finding)
{
    if (runs_.empty() || runs_.back().second != finding)
        runs_.emplace_back(first, finding);
}

std::string CutWindows::Text(std::uint64_t total) const
{
    std::string text;
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        const std::uint64_t to = i + 1 < runs_.size() ? runs_[i + 1].first - 1 : total;
        if (runs_[i].second != "clean")
            text += "  messages " + std::to_string(runs_[i].first) + ".." + std::to_string(to) + ": " +
                    runs_[i].second + "\n";
    }
    return text;
}

std::map<std::uint32_t, BlockTally> TallyBlocks(const CutBytes& pages, std::uint32_t sectorsPerBlock, bool wideIds)
{
    std::map<std::uint32_t, BlockTally> tally;
    const std::size_t blockBytes = std::size_t{sectorsPerBlock} * kPageBytes;
    for (std::size_t at = 0; sectorsPerBlock != 0 && at + blockBytes <= pages.size(); at += blockBytes) {
        const std::uint8_t* r = pages.data() + at + 512;
        if (r[0] != 0xAA && r[0] != 0xEE)
            continue;
        const bool pc = r[14] == 'P' && r[15] == 'C';
        const std::uint32_t id = wideIds && !pc ? std::uint32_t(r[14] | r[15] << 8) : r[1];
        BlockTally& t = tally[id];
        if (r[0] == 0xEE)
            ++t.continuation;
        else if (r[6] == 'R')
            ++t.directories;
        else
            ++t.starts;
    }
    return tally;
}

std::string StoreFindings(const std::map<std::uint32_t, BlockTally>& tally, const std::vector<StoreEntry>& entries,
                          std::uint32_t rootId)
{
    std::vector<std::string> found;
    std::set<std::uint32_t> named{rootId};
    std::map<std::uint32_t, int> namings;
    for (const StoreEntry& e : entries) {
        named.insert(e.id);
        if (++namings[e.id] == 2)
            found.push_back(e.name + " named twice");
        const auto t = tally.find(e.id);
        const BlockTally none;
        const BlockTally& b = t == tally.end() ? none : t->second;
        if (e.directory && b.directories == 0)
            found.push_back(e.name + " without its directory");
        if (!e.directory && e.blocks != 0 && (b.starts == 0 || b.starts + b.continuation < e.blocks))
            found.push_back(e.name + " without its blocks");
    }
    std::uint32_t lost = 0;
    for (const auto& [id, t] : tally)
        if (!named.contains(id))
            lost += t.starts + t.continuation + t.directories;
    if (lost != 0)
        found.push_back(std::to_string(lost) + (lost == 1 ? " lost block" : " lost blocks"));
    std::sort(found.begin(), found.end());
    std::string text;
    for (const std::string& f : found)
        text += (text.empty() ? "" : ", ") + f;
    return text;
}

}  // namespace test_support
