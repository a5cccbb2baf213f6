// CRC-16 that the card checks on single-sector writes (ITU-T V.41 as XMODEM uses it).
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// Polynomial 0x1021, initial value 0, most significant bit first, no reflection, no final XOR.
std::uint16_t Crc16Xmodem(const std::uint8_t* data, std::size_t size);

}  // namespace engine
