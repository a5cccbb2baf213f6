// Command blocks and units as the host sends them, built here from the wire layout (not from the
// player's code), for the simulated player's tests.
#pragma once

#include "sim/simulated_player.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

// A block of the host's general sender: opcode, parameters, 16-bit value, "wexol" at 59..63.
inline Bytes Signed(std::uint8_t op, std::uint8_t p1 = 0, std::uint8_t p2 = 0, std::uint8_t p3 = 0,
                    std::uint16_t value = 0)
{
    Bytes b(64, 0);
    b[0] = op;
    b[1] = p1;
    b[2] = p2;
    b[3] = p3;
    b[4] = static_cast<std::uint8_t>(value);
    b[5] = static_cast<std::uint8_t>(value >> 8);
    std::memcpy(&b[59], "wexol", 5);
    return b;
}

// The row as the host sends it: high byte 0xFF on chips of fewer than 512 rows.
inline std::uint16_t WireRow(std::uint32_t row, std::uint32_t chipRows)
{
    return static_cast<std::uint16_t>(chipRows < 512 ? (0xFF00 | (row & 0xFF)) : row);
}

inline Bytes NandCommand(std::uint8_t op, int position, std::uint32_t row, std::uint8_t sector, std::uint32_t chipRows)
{
    return Signed(op, static_cast<std::uint8_t>(1u << position), 0, sector, WireRow(row, chipRows));
}

// Page write (0x03) and block-write header (0x08 / 0x30): built by the host itself, no trailer.
inline Bytes OwnBlock(std::uint8_t op, int position, std::uint32_t row, std::uint8_t sector, std::uint32_t chipRows,
                      std::uint32_t byteCount = 0)
{
    Bytes b(64, 0);
    const std::uint16_t wireRow = WireRow(row, chipRows);
    b[0] = op;
    b[1] = static_cast<std::uint8_t>(1u << position);
    b[3] = sector;
    b[4] = static_cast<std::uint8_t>(wireRow);
    b[5] = static_cast<std::uint8_t>(wireRow >> 8);
    b[6] = static_cast<std::uint8_t>(byteCount >> 8);
    b[7] = static_cast<std::uint8_t>(byteCount);
    b[8] = static_cast<std::uint8_t>(byteCount >> 16);
    b[9] = static_cast<std::uint8_t>(byteCount >> 24);
    return b;
}

// A 576-byte unit: 512 data bytes, 16 spare bytes, 48 zero bytes.
inline Bytes Unit(std::uint8_t dataByte, std::uint8_t spareByte)
{
    Bytes u(576, 0);
    std::memset(u.data(), dataByte, 512);
    std::memset(u.data() + 512, spareByte, 16);
    return u;
}

// Units i = 0..n-1 repacked into 2112-byte chip pages as a large-page host sends them.
inline Bytes RepackLarge(const Bytes& units)
{
    const std::size_t n = units.size() / 576;
    Bytes out(n / 4 * 2112, 0);
    for (std::size_t i = 0; i < n; ++i) {
        std::memcpy(&out[(i / 4) * 2112 + (i % 4) * 512], &units[i * 576], 512);
        std::memcpy(&out[(i / 4) * 2112 + 2048 + (i % 4) * 16], &units[i * 576 + 512], 16);
    }
    return out;
}

inline std::vector<sim::Message> Send(sim::SimulatedPlayer& player, const Bytes& message)
{
    std::vector<sim::Message> replies;
    player.HostWrite(message, replies);
    return replies;
}

inline std::vector<std::size_t> Sizes(const std::vector<sim::Message>& replies)
{
    std::vector<std::size_t> sizes;
    for (const auto& r : replies)
        sizes.push_back(r.size());
    return sizes;
}

inline sim::PlayerConfig OneChip(std::uint8_t maker, std::uint8_t device)
{
    sim::PlayerConfig c = sim::DefaultConfig(0);
    c.nandIds = {};
    c.nandIds[0] = {maker, device};
    return c;
}

}  // namespace simtest
