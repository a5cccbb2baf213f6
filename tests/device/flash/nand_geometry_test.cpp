// The chip table by (maker, device) id, in an internal position and in the card slot.
#include "device/flash/nand_geometry.h"

#include <gtest/gtest.h>

using namespace engine;

namespace {

struct Expect {
    bool present;
    std::uint16_t rows, sectorsPerBlock;
    std::uint32_t largePage, blocks;
};

}  // namespace

TEST(NandGeometryTest, InternalAndCardPositions)
{
    constexpr Expect kAbsent{false, 0, 0, 0, 0};
    struct Case {
        std::uint8_t maker, device;
        Expect internal, card;
    } cases[] = {
        {0xEC, 0xE6, {true, 64, 16, 0, 1024}, {true, 64, 16, 0, 1024}},
        {0x98, 0x73, {true, 128, 32, 0, 1024}, {true, 128, 32, 0, 1024}},
        {0x45, 0x75, {true, 256, 32, 0, 2048}, {true, 256, 32, 0, 2048}},
        {0xEC, 0x76, {true, 512, 32, 0, 4096}, {true, 512, 32, 0, 4096}},
        {0xEC, 0x79, {true, 1024, 32, 0, 8192}, {true, 1024, 32, 0, 8192}},
        // Large-page chips: internal only; the card code is made for 16- and 32-sector blocks.
        {0xEC, 0xF1, {true, 1024, 256, 1, 1024}, kAbsent},
        {0x98, 0xDA, {true, 2048, 256, 1, 2048}, kAbsent},
        {0x45, 0xDC, {true, 4096, 256, 1, 4096}, kAbsent},
        // Unknown device or maker.
        {0xEC, 0x99, kAbsent, kAbsent},
        {0x2C, 0x75, kAbsent, kAbsent},
        {0x00, 0x00, kAbsent, kAbsent},
        {0xFF, 0xFF, kAbsent, kAbsent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int{c.maker} << "/" << int{c.device});
        for (bool card : {false, true}) {
            const Expect& e = card ? c.card : c.internal;
            std::optional<NandGeometry> g =
                card ? LookupCardGeometry(c.maker, c.device) : LookupNandGeometry(c.maker, c.device);
            ASSERT_EQ(g.has_value(), e.present) << (card ? "card" : "internal");
            if (!g)
                continue;
            EXPECT_EQ(g->rowCount, e.rows);
            EXPECT_EQ(g->sectorsPerBlock, e.sectorsPerBlock);
            EXPECT_EQ(g->largePage, e.largePage);
            EXPECT_EQ(EraseBlocksOf(*g), e.blocks);
        }
    }
}
