#include "device/flash/card_spare.h"

#include <cstring>

namespace engine {

namespace {

unsigned Parity8(unsigned v)
{
    v ^= v >> 4;
    v ^= v >> 2;
    v ^= v >> 1;
    return v & 1;
}

}  // namespace

void ComputeEcc256(const std::uint8_t* data, std::uint8_t* ecc)
{
    // lp[k][b]: parity of the bytes whose index bit k equals b.
    unsigned lp[8][2] = {};
    unsigned column = 0;
    for (unsigned i = 0; i < kCardEccSpan; ++i) {
        column ^= data[i];
        if (!Parity8(data[i]))
            continue;
        for (unsigned k = 0; k < 8; ++k)
            lp[k][(i >> k) & 1] ^= 1;
    }
    unsigned low = 0;   // LP7..LP0
    unsigned high = 0;  // LP15..LP8
    for (unsigned k = 0; k < 4; ++k) {
        low |= lp[k][0] << (2 * k);
        low |= lp[k][1] << (2 * k + 1);
        high |= lp[k + 4][0] << (2 * k);
        high |= lp[k + 4][1] << (2 * k + 1);
    }
    auto c = [column](unsigned bit) {
        return (column >> bit) & 1;
    };
    unsigned cp0 = c(0) ^ c(2) ^ c(4) ^ c(6);
    unsigned cp1 = c(1) ^ c(3) ^ c(5) ^ c(7);
    unsigned cp2 = c(0) ^ c(1) ^ c(4) ^ c(5);
    unsigned cp3 = c(2) ^ c(3) ^ c(6) ^ c(7);
    unsigned cp4 = c(0) ^ c(1) ^ c(2) ^ c(3);
    unsigned cp5 = c(4) ^ c(5) ^ c(6) ^ c(7);
    unsigned cp = cp5 << 7 | cp4 << 6 | cp3 << 5 | cp2 << 4 | cp1 << 3 | cp0 << 2;
    ecc[0] = static_cast<std::uint8_t>(~low);
    ecc[1] = static_cast<std::uint8_t>(~high);
    ecc[2] = static_cast<std::uint8_t>(~cp);
}

std::uint16_t BlockAddressField(std::uint32_t logicalBlock)
{
    unsigned field = 0x1000 + 2 * (logicalBlock % kCardZoneBlocks);
    unsigned ones = Parity8(field & 0xFF) ^ Parity8(field >> 8);
    return static_cast<std::uint16_t>(field | ones);
}

void EncodeBlockAddress(std::uint32_t logicalBlock, std::uint8_t* spare)
{
    std::uint16_t field = BlockAddressField(logicalBlock);
    spare[kSpareAddress1] = spare[kSpareAddress2] = static_cast<std::uint8_t>(field >> 8);
    spare[kSpareAddress1 + 1] = spare[kSpareAddress2 + 1] = static_cast<std::uint8_t>(field);
}

std::uint32_t DecodeBlockAddress(const std::uint8_t* field)
{
    return ((std::uint32_t{field[0]} & 7) * 256 + field[1]) / 2;
}

void BuildCardSpare(const std::uint8_t* page, std::uint32_t logicalBlock, std::uint8_t* spare)
{
    std::memset(spare, 0xFF, 6);
    EncodeBlockAddress(logicalBlock, spare);
    ComputeEcc256(page, spare + kSpareEccLow);
    ComputeEcc256(page + kCardEccSpan, spare + kSpareEccHigh);
}

}  // namespace engine
