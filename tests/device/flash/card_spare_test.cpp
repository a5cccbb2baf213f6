// Spare records of the NAND-type card: the ECC against the fixed examples and against a bit-by-bit
// reading of the line-and-column parity code, and the block-address field both ways.
#include "device/flash/card_spare.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

using namespace engine;

namespace {

// The code as published: every data bit i*8+j (byte i, bit j) enters line parity LP(2k + bit k of i)
// for k = 0..7 and column parity CP(2m + bit m of j) for m = 0..2; the bytes are the inverted
// LP7..LP0, LP15..LP8 and CP5..CP0 followed by two one bits.
std::array<std::uint8_t, 3> ReferenceEcc(const std::uint8_t* data)
{
    int lp[16] = {};
    int cp[6] = {};
    for (int i = 0; i < 256; ++i) {
        for (int j = 0; j < 8; ++j) {
            int bit = (data[i] >> j) & 1;
            for (int k = 0; k < 8; ++k)
                lp[2 * k + ((i >> k) & 1)] ^= bit;
            for (int m = 0; m < 3; ++m)
                cp[2 * m + ((j >> m) & 1)] ^= bit;
        }
    }
    int b0 = 0, b1 = 0, b2 = 0;
    for (int k = 0; k < 8; ++k) {
        b0 |= lp[k] << k;
        b1 |= lp[k + 8] << k;
    }
    for (int m = 0; m < 6; ++m)
        b2 |= cp[m] << (m + 2);
    return {static_cast<std::uint8_t>(~b0), static_cast<std::uint8_t>(~b1), static_cast<std::uint8_t>(~b2)};
}

std::array<std::uint8_t, 3> Ecc(const std::uint8_t* data)
{
    std::array<std::uint8_t, 3> out{};
    ComputeEcc256(data, out.data());
    return out;
}

}  // namespace

TEST(CardEcc, FixedExamples)
{
    std::array<std::uint8_t, 256> data{};
    EXPECT_EQ(Ecc(data.data()), (std::array<std::uint8_t, 3>{0xFF, 0xFF, 0xFF}));
    data.fill(0xFF);
    EXPECT_EQ(Ecc(data.data()), (std::array<std::uint8_t, 3>{0xFF, 0xFF, 0xFF}));
    data.fill(0);
    data[255] = 0x01;
    EXPECT_EQ(Ecc(data.data()), (std::array<std::uint8_t, 3>{0x55, 0x55, 0xAB}));
}

TEST(CardEcc, AgreesWithBitwiseReferenceOnRandomBuffers)
{
    std::mt19937 rng(0xC0FFEE);
    std::array<std::uint8_t, 256> data{};
    for (int round = 0; round < 2000; ++round) {
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        // Sparse buffers too: single bits move exactly one line and one column parity per half.
        if (round % 4 == 0) {
            data.fill(0);
            data[rng() % 256] = static_cast<std::uint8_t>(1u << (rng() % 8));
        }
        auto got = Ecc(data.data());
        ASSERT_EQ(got, ReferenceEcc(data.data())) << "round " << round;
        ASSERT_EQ(got[2] & 3, 3);
    }
}

TEST(CardSpare, BlockAddressFieldBothWays)
{
    struct Case {
        std::uint32_t logical;
        std::uint16_t field;
        std::uint32_t decoded;
    };
    const Case cases[] = {
        {0, 0x1001, 0},     {1, 0x1002, 1},    {2, 0x1004, 2},      {3, 0x1007, 3},
        {999, 0x17CF, 999}, {1000, 0x1001, 0}, {1999, 0x17CF, 999}, {2500, 0x13E9, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logical);
        EXPECT_EQ(BlockAddressField(c.logical), c.field);
        EXPECT_EQ(__builtin_popcount(c.field) % 2, 0);
        std::uint8_t spare[16];
        std::memset(spare, 0xAB, sizeof spare);
        EncodeBlockAddress(c.logical, spare);
        const std::uint8_t expect[16] = {0xAB,
                                         0xAB,
                                         0xAB,
                                         0xAB,
                                         0xAB,
                                         0xAB,
                                         static_cast<std::uint8_t>(c.field >> 8),
                                         static_cast<std::uint8_t>(c.field),
                                         0xAB,
                                         0xAB,
                                         0xAB,
                                         static_cast<std::uint8_t>(c.field >> 8),
                                         static_cast<std::uint8_t>(c.field),
                                         0xAB,
                                         0xAB,
                                         0xAB};
        EXPECT_EQ(0, std::memcmp(spare, expect, 16));
        EXPECT_EQ(DecodeBlockAddress(spare + 6), c.decoded);
    }
    // Raw fields decode without checks: erased and information-structure fields.
    const std::uint8_t erased[2] = {0xFF, 0xFF}, zero[2] = {0, 0}, one[2] = {0x10, 0x02}, last[2] = {0x17, 0xCF};
    EXPECT_EQ(DecodeBlockAddress(erased), 1023u);
    EXPECT_EQ(DecodeBlockAddress(zero), 0u);
    EXPECT_EQ(DecodeBlockAddress(one), 1u);
    EXPECT_EQ(DecodeBlockAddress(last), 999u);
}

TEST(CardSpare, PageRecordLayout)
{
    std::array<std::uint8_t, 512> page{};
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    std::uint8_t spare[16];
    std::memset(spare, 0, sizeof spare);
    BuildCardSpare(page.data(), 1001, spare);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(spare[i], 0xFF) << i;
    EXPECT_EQ(spare[6], 0x10);
    EXPECT_EQ(spare[7], 0x02);
    EXPECT_EQ(spare[11], 0x10);
    EXPECT_EQ(spare[12], 0x02);
    auto low = ReferenceEcc(page.data()), high = ReferenceEcc(page.data() + 256);
    EXPECT_EQ(0, std::memcmp(spare + 13, low.data(), 3));
    EXPECT_EQ(0, std::memcmp(spare + 8, high.data(), 3));
    EXPECT_NE(low, high);
}
