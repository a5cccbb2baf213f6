// The 16-byte spare record of a NAND-type memory card page (SmartMedia layout), its line-and-column
// Hamming ECC and the block-address field that names the logical block within its zone.
//
// Record: 0..3 reserved, 4 data status, 5 block status (0xFF good), 6..7 block-address field, 8..10 ECC of
// page bytes 256..511, 11..12 block-address field again, 13..15 ECC of page bytes 0..255.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

inline constexpr std::size_t kCardPageBytes = 512;
inline constexpr std::size_t kCardEccSpan = 256;
inline constexpr std::uint32_t kCardZoneBlocks = 1000;  // logical blocks of one zone

// Offsets in the spare record.
inline constexpr std::size_t kSpareDataStatus = 4;
inline constexpr std::size_t kSpareBlockStatus = 5;
inline constexpr std::size_t kSpareAddress1 = 6;
inline constexpr std::size_t kSpareEccHigh = 8;  // ECC of bytes 256..511
inline constexpr std::size_t kSpareAddress2 = 11;
inline constexpr std::size_t kSpareEccLow = 13;  // ECC of bytes 0..255

// Three ECC bytes over 256 data bytes: line parity LP7..LP0, LP15..LP8, column parity CP5..CP0 and two
// one bits, each inverted.
void ComputeEcc256(const std::uint8_t* data, std::uint8_t* ecc);

// The 16-bit field of a logical block (taken modulo 1000): 00010, ten bits of block, even parity bit.
std::uint16_t BlockAddressField(std::uint32_t logicalBlock);
// Writes the field into bytes 6..7 and 11..12 of a spare record, high byte first.
void EncodeBlockAddress(std::uint32_t logicalBlock, std::uint8_t* spare);
// The 10-bit block of a field's two bytes; neither the parity nor the fixed bits are checked, so callers
// test for erased (0xFFFF, 1023) and information-structure (0x0000, 0) fields on the raw bytes first.
std::uint32_t DecodeBlockAddress(const std::uint8_t* field);

// The spare record of one 512-byte page of logical block `logicalBlock`: 0xFF status bytes, the block
// address twice and the ECC of both halves.
void BuildCardSpare(const std::uint8_t* page, std::uint32_t logicalBlock, std::uint8_t* spare);

}  // namespace engine
