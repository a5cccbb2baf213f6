#include "device/flash/nand_geometry.h"

namespace engine {

namespace {

struct GeometryRow {
    std::uint8_t device;
    NandGeometry geometry;
};

// clang-format off
constexpr GeometryRow kGeometry[] = {
    {0xE6, {64, 16, 0}},     // 8 MB
    {0x73, {128, 32, 0}},    // 16 MB
    {0x75, {256, 32, 0}},    // 32 MB
    {0x76, {512, 32, 0}},    // 64 MB
    {0x79, {1024, 32, 0}},   // 128 MB
    {0xF1, {1024, 256, 1}},  // 128 MB, large pages
    {0xDA, {2048, 256, 1}},  // 256 MB, large pages
    {0xDC, {4096, 256, 1}},  // 512 MB, large pages
};
// clang-format on

bool KnownMaker(std::uint8_t maker)
{
    return maker == 0x45 || maker == 0xEC || maker == 0x98;
}

}  // namespace

std::optional<NandGeometry> LookupNandGeometry(std::uint8_t maker, std::uint8_t device)
{
    if (!KnownMaker(maker))
        return std::nullopt;
    for (const GeometryRow& row : kGeometry) {
        if (row.device == device)
            return row.geometry;
    }
    return std::nullopt;
}

std::optional<NandGeometry> LookupCardGeometry(std::uint8_t maker, std::uint8_t device)
{
    std::optional<NandGeometry> g = LookupNandGeometry(maker, device);
    if (!g || (g->sectorsPerBlock != 16 && g->sectorsPerBlock != 32))
        return std::nullopt;
    g->largePage = 0;
    return g;
}

}  // namespace engine
