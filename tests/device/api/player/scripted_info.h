// A device information block built byte by byte, as a player would send it, and a responder that
// answers the identification exchange with it (spare records all erased).
#pragma once

#include "tests/device/transport/recording_wire.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace playertest {

struct InfoBytes {
    std::array<std::uint8_t, 64> bytes{};

    InfoBytes(const std::string& model, const std::string& firmware)
    {
        std::memcpy(bytes.data(), model.data(), std::min<std::size_t>(model.size(), 12));
        std::memcpy(bytes.data() + 12, firmware.data(), std::min<std::size_t>(firmware.size(), 4));
        std::memcpy(bytes.data() + 16, "20040101", 8);
    }
    // The id word of a chip position exactly as it goes on the wire: low byte first.
    InfoBytes& Word(int position, std::uint16_t word)
    {
        bytes[24 + 2 * position] = static_cast<std::uint8_t>(word);
        bytes[25 + 2 * position] = static_cast<std::uint8_t>(word >> 8);
        return *this;
    }
    InfoBytes& Chip(int position, std::uint8_t maker, std::uint8_t device)
    {
        return Word(position, static_cast<std::uint16_t>(maker | (device << 8)));
    }
    InfoBytes& Root(std::uint16_t count)
    {
        bytes[61] = static_cast<std::uint8_t>(count);
        bytes[62] = static_cast<std::uint8_t>(count >> 8);
        return *this;
    }
    InfoBytes& Byte(std::size_t offset, std::uint8_t value)
    {
        bytes.at(offset) = value;
        return *this;
    }
};

// Answers 0x01 with the block, 0x07 with more erased records than any chip has (the host reads
// what it needs; the rest is dropped at its next command), 0xA0/0xAA with 64 zero bytes, and refuses
// card sector reads with an empty reply.
inline wiretest::Responder Identification(const InfoBytes& info)
{
    return [block = info.bytes](std::span<const std::uint8_t> m, std::vector<sim::Message>& out) {
        if (m.size() != 64)
            return;
        switch (m[0]) {
        case 0x01:
            out.emplace_back(block.begin(), block.end());
            break;
        case 0x07:
            for (int i = 0; i < 4096; ++i)
                out.emplace_back(64, 0xFF);
            break;
        case 0xA0:
        case 0xAA:
            out.emplace_back(64, 0);
            break;
        case 17:
        case 18:
            out.emplace_back();
            break;  // no card image here: the sector read fails, the mount with it
        default:
            break;
        }
    };
}

}  // namespace playertest
