// The card's formats as a test reads them, written from the published definitions and not from the
// player's code, so that a misreading on one side shows on the other.
#pragma once

#include "tests/sim/sim_blocks.h"

#include <array>
#include <cstdint>

namespace simtest {

inline std::uint16_t Le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Le32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

// SmartMedia ECC bit by bit: line parity LP(2k+1) over the bits of the bytes whose index has bit k set,
// LP(2k) over the others; column parity CP(2m+1) over the bits whose position has bit m set, CP(2m)
// over the others; all inverted, CP in the top six bits of the third byte.
inline std::array<std::uint8_t, 3> ReferenceEcc(const std::uint8_t* data)
{
    int lp[16] = {}, cp[6] = {};
    for (int i = 0; i < 256; ++i)
        for (int j = 0; j < 8; ++j) {
            if (!((data[i] >> j) & 1))
                continue;
            for (int k = 0; k < 8; ++k)
                lp[2 * k + ((i >> k) & 1)] ^= 1;
            for (int m = 0; m < 3; ++m)
                cp[2 * m + ((j >> m) & 1)] ^= 1;
        }
    std::uint8_t b0 = 0, b1 = 0, b2 = 0;
    for (int k = 0; k < 8; ++k) {
        b0 = static_cast<std::uint8_t>(b0 | (lp[k] << k));
        b1 = static_cast<std::uint8_t>(b1 | (lp[8 + k] << k));
    }
    for (int m = 0; m < 6; ++m)
        b2 = static_cast<std::uint8_t>(b2 | (cp[m] << (m + 2)));
    return {static_cast<std::uint8_t>(~b0), static_cast<std::uint8_t>(~b1), static_cast<std::uint8_t>(~b2)};
}

// The logical block a spare record's first address field names, as the host decodes it.
inline std::uint32_t DecodeField(const std::uint8_t* spare)
{
    return ((spare[6] & 7) * 256 + spare[7]) / 2;
}

// A card command block: command index, sector big-endian at 1-4, for 24 the CRC-16 at 5 (high) and 6.
inline Bytes CardBlock(std::uint8_t command, std::uint32_t sector, std::uint16_t crc = 0)
{
    Bytes b(64, 0);
    b[0] = command;
    b[1] = static_cast<std::uint8_t>(sector >> 24);
    b[2] = static_cast<std::uint8_t>(sector >> 16);
    b[3] = static_cast<std::uint8_t>(sector >> 8);
    b[4] = static_cast<std::uint8_t>(sector);
    b[5] = static_cast<std::uint8_t>(crc >> 8);
    b[6] = static_cast<std::uint8_t>(crc);
    return b;
}

// CRC-16/XMODEM, table-free, as the host's writer computes it.
inline std::uint16_t ReferenceCrc(const Bytes& data)
{
    std::uint32_t crc = 0;
    for (std::uint8_t byte : data)
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 15) & 1) != (((byte >> bit) & 1) != 0);
            crc = ((crc << 1) & 0xFFFF) ^ (top ? 0x1021 : 0);
        }
    return static_cast<std::uint16_t>(crc);
}

}  // namespace simtest
