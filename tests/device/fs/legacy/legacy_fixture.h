// A simulated player of an older model, identified by a PlayerDevice, with helpers to look at the
// chips from the player's side and to make PC files.
#pragma once

#include "device/api/player/player_device.h"
#include "device/flash/nand_chip.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/engine_state.h"

#include "sim/simulated_player.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace legacytest {

using Bytes = std::vector<std::uint8_t>;
using Page = std::array<std::uint8_t, 528>;

inline Bytes Pattern(std::size_t size, std::uint32_t seed)
{
    Bytes b(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Records the progress messages of the operations.
class ProgressRecorder : public engine::ProgressSink {
public:
    engine::ProgressCounters& Counters() override { return counters_; }
    void FireProgress() override { ++fired; }
    engine::ProgressCounters counters_;
    int fired = 0;
};

// Erase block `block` of a chip as (row, sector).
inline std::pair<std::uint32_t, std::uint32_t> BlockAddress(const engine::NandChip& chip, std::uint32_t block)
{
    if (chip.sectorsPerBlock == 0) {
        ADD_FAILURE() << "no chip there";
        return {0, 0};
    }
    const std::uint32_t perRow = 256u / chip.sectorsPerBlock;
    return {block / perRow, block % perRow * chip.sectorsPerBlock};
}

struct LegacyPlayer {
    explicit LegacyPlayer(const sim::PlayerConfig& config) : player(config)
    {
        engine::LegacyResetState();
        if (player.Ok())
            status = device.Initialize(info);
    }
    // Identifies the player again from a cleared store state, as after a power cut.
    std::uint32_t Identify()
    {
        engine::LegacyResetState();
        engine::DeviceInfoBlock again{};
        return device.Initialize(again);
    }
    explicit LegacyPlayer(int model) : LegacyPlayer(sim::DefaultConfig(model)) {}

    bool Ready() const { return player.Ok() && status == 0; }
    sim::SimulatedPlayer& Sim() { return player.Player(); }

    // A page write takes no reply, so the player may still be working on the last one when an
    // operation returns: one exchange with a reply first.
    void Sync()
    {
        engine::ScopedPipes bracket(engine::PlayerPipes);
        engine::DeviceInfoBlock info{};
        EXPECT_EQ(engine::PlayerPipes.ReadDeviceInfo(info), engine::kTransportOk);
    }
    Page PeekBlockPage(int chip, std::uint32_t block, std::uint32_t page)
    {
        Sync();
        auto [row, sector] = BlockAddress(engine::NandChips[chip], block);
        return Sim().PeekPage(chip, row, sector + page);
    }
    // Spare of the first page of block `block` as the chip holds it.
    Bytes Spare(int chip, std::uint32_t block, std::uint32_t page = 0)
    {
        Page p = PeekBlockPage(chip, block, page);
        return Bytes(p.begin() + 512, p.end());
    }
    // Puts a record on page 0 of a block, as if a file or a foreign writer had left it there.
    void PokeRecord(int chip, std::uint32_t block, const Bytes& record, std::uint8_t fill = 0)
    {
        auto [row, sector] = BlockAddress(engine::NandChips[chip], block);
        Page p{};
        std::fill(p.begin(), p.begin() + 512, fill);
        std::copy(record.begin(), record.end(), p.begin() + 512);
        Sim().PokePage(chip, row, sector, p);
    }

    sim::TestPlayer player;
    engine::PlayerDevice device;
    engine::DeviceInfoBlock info{};
    std::uint32_t status = 0xFFFFFFFF;
};

// The entry set of every used short entry of the loaded root, by name.
inline std::vector<std::string> ListNames(engine::PlayerDevice& device)
{
    std::vector<std::string> names;
    engine::DirRecord record;
    for (std::int32_t r = device.LegacyFindFirst(record); r == 0; r = device.LegacyFindNext(record))
        names.emplace_back(reinterpret_cast<const char*>(record.name));
    return names;
}

inline Bytes FileRecord(std::uint8_t mark, std::uint8_t id, std::uint8_t type = 0)
{
    Bytes r(16, 0xFF);
    r[0] = mark;
    r[1] = id;
    r[2] = 0;
    r[3] = 1;
    r[6] = type;
    r[11] = r[12] = r[13] = 0;
    r[14] = 'P';
    r[15] = 'C';
    return r;
}

}  // namespace legacytest
