// The device object's system files in-process, with the server's resources linked into the test: the
// choice of the default CONFIG and UPGRADE resources.
#include "device/api/config_resources.h"
#include "device/fs/pc/file_util.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// ---- the choice of the default resources ----

// One model's row: ids[0] for the default build, build 1 and build 2, then the same with large pages;
// image.dat, csound.mta and the restore flag.
struct ConfigRowCase {
    int model;
    std::uint32_t small[3];
    std::uint32_t large[3];
    std::uint32_t image, sound, flag;
};

constexpr ConfigRowCase kConfigTable[] = {
    {0, {200, 200, 200}, {200, 200, 200}, 0, 0, 0},
    {1, {201, 221, 201}, {201, 221, 201}, 0, 0, 0},
    {2, {202, 222, 202}, {202, 222, 202}, 0, 0, 0},
    {3, {203, 223, 243}, {203, 223, 243}, 0, 0, 0},
    {4, {204, 224, 204}, {263, 264, 263}, 0, 0, 0},
    {5, {205, 205, 205}, {205, 205, 205}, 0, 0, 0},
    {6, {206, 206, 206}, {206, 206, 206}, 0, 0, 0},
    {7, {207, 227, 207}, {207, 227, 207}, 0, 0, 0},
    {8, {208, 228, 248}, {208, 228, 248}, 0, 0, 0},
    {9, {209, 229, 249}, {255, 256, 257}, 0, 0, 1},
    {10, {210, 230, 250}, {258, 259, 260}, 0, 0, 1},
    {11, {211, 231, 211}, {261, 262, 261}, 0, 0, 0},
    {12, {265, 266, 265}, {267, 268, 267}, 400, 402, 1},
    {13, {269, 269, 269}, {270, 270, 270}, 401, 403, 1},
    {14, {280, 280, 280}, {281, 281, 281}, 0, 0, 1},
    {15, {282, 282, 282}, {283, 283, 283}, 0, 0, 0},
    {16, {284, 284, 284}, {285, 285, 285}, 0, 0, 1},
    {17, {200, 200, 200}, {200, 200, 200}, 0, 0, 0},
    {-1, {200, 200, 200}, {200, 200, 200}, 0, 0, 0},
};

// Every build number but exactly 1 and 2 takes the default column.
int BuildColumn(long build)
{
    return build == 1 ? 1 : build == 2 ? 2 : 0;
}

TEST(SelectConfigResources, EveryModelBuildAndPageSize)
{
    for (const ConfigRowCase& row : kConfigTable) {
        for (long build : {0L, 1L, 2L, 3L, 4L, -1L, 257L}) {
            for (bool large : {false, true}) {
                SCOPED_TRACE("model " + std::to_string(row.model) + " build " + std::to_string(build) +
                             (large ? " large pages" : " small pages"));
                const std::uint32_t config = (large ? row.large : row.small)[BuildColumn(build)];
                const ConfigResourceIds ids = SelectConfigResources(row.model, build, large);
                EXPECT_EQ(config, ids[0]);
                EXPECT_EQ(row.image, ids[1]);
                EXPECT_EQ(row.sound, ids[2]);
                EXPECT_EQ(row.flag, ids[3]);
            }
        }
    }
}

TEST(SelectUpgradeResource, LoaderByModelAndPageSize)
{
    // model -> {small pages, large pages}; 0 where the model takes no firmware upgrade.
    const std::map<int, std::pair<std::uint32_t, std::uint32_t>> loaders = {
        {2, {300, 300}},  {8, {301, 301}},  {9, {302, 307}},  {10, {303, 308}}, {11, {304, 309}},
        {12, {310, 311}}, {13, {312, 313}}, {14, {314, 314}}, {15, {316, 316}}, {16, {318, 318}},
    };
    for (int model = -1; model <= 18; ++model) {
        const auto it = loaders.find(model);
        const auto want = it == loaders.end() ? std::pair<std::uint32_t, std::uint32_t>{0, 0} : it->second;
        EXPECT_EQ(want.first, SelectUpgradeResource(model, false)) << "model " << model;
        EXPECT_EQ(want.second, SelectUpgradeResource(model, true)) << "model " << model << " large pages";
    }
}

// The resources of the module: every id a choice can give is there, and no two have the same bytes.
TEST(SystemFileResources, EveryChosenResourceIsPresentAndDistinct)
{
    std::map<std::vector<std::uint8_t>, std::string> seen;
    auto load = [&](std::uint32_t id, const char* type) {
        std::unique_ptr<std::uint8_t[]> data;
        DWORD size = 0;
        ASSERT_TRUE(engine::UtilLoadResourceData(id, type, &data, &size)) << type << " " << id;
        const std::string name = std::string(type) + " " + std::to_string(id);
        const auto [it, added] = seen.emplace(std::vector<std::uint8_t>(data.get(), data.get() + size), name);
        EXPECT_TRUE(added || it->second == name) << name << " has the bytes of " << it->second;
    };
    for (const ConfigRowCase& row : kConfigTable) {
        for (bool large : {false, true}) {
            for (long build : {0L, 1L, 2L}) {
                const ConfigResourceIds ids = SelectConfigResources(row.model, build, large);
                load(ids[0], kConfigResourceType);
                for (int i : {1, 2}) {
                    if (ids[i] != 0)
                        load(ids[i], kConfigResourceType);
                }
            }
            if (const std::uint32_t loader = SelectUpgradeResource(row.model, large))
                load(loader, kUpgradeResourceType);
        }
    }
}

}  // namespace
