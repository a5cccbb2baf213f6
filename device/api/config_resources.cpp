// The device API's default system files by model, build variant and NAND page size.
#include "device/api/config_resources.h"

namespace {

// ids[0] by build column (default, build 1, build 2), small pages then large pages, and the rest.
struct ConfigRow {
    std::uint32_t config[3];
    std::uint32_t largePageConfig[3];
    std::uint32_t image;
    std::uint32_t sound;
    std::uint32_t restoreFlag;
};

// Rows of models 1..16.
constexpr ConfigRow kConfigRows[16] = {
    {{201, 221, 201}, {201, 221, 201}, 0, 0, 0},
    {{202, 222, 202}, {202, 222, 202}, 0, 0, 0},
    {{203, 223, 243}, {203, 223, 243}, 0, 0, 0},
    {{204, 224, 204}, {263, 264, 263}, 0, 0, 0},
    {{205, 205, 205}, {205, 205, 205}, 0, 0, 0},
    {{206, 206, 206}, {206, 206, 206}, 0, 0, 0},
    {{207, 227, 207}, {207, 227, 207}, 0, 0, 0},
    {{208, 228, 248}, {208, 228, 248}, 0, 0, 0},
    {{209, 229, 249}, {255, 256, 257}, 0, 0, 1},
    {{210, 230, 250}, {258, 259, 260}, 0, 0, 1},
    {{211, 231, 211}, {261, 262, 261}, 0, 0, 0},
    {{265, 266, 265}, {267, 268, 267}, 400, 402, 1},
    {{269, 269, 269}, {270, 270, 270}, 401, 403, 1},
    {{280, 280, 280}, {281, 281, 281}, 0, 0, 1},
    {{282, 282, 282}, {283, 283, 283}, 0, 0, 0},
    {{284, 284, 284}, {285, 285, 285}, 0, 0, 1},
};

constexpr std::uint32_t kGenericConfig = 200;

}  // namespace

ConfigResourceIds SelectConfigResources(int model, long specialBuildNumber, bool largePages)
{
    if (model < 1 || model > 16)
        return {kGenericConfig, 0, 0, 0};
    const ConfigRow& row = kConfigRows[model - 1];
    const int column = specialBuildNumber == 1 ? 1 : specialBuildNumber == 2 ? 2 : 0;
    return {largePages ? row.largePageConfig[column] : row.config[column], row.image, row.sound, row.restoreFlag};
}

std::uint32_t SelectUpgradeResource(int model, bool largePages)
{
    switch (model) {
    case 2:
        return 300;
    case 8:
        return 301;
    case 9:
        return largePages ? 307 : 302;
    case 10:
        return largePages ? 308 : 303;
    case 11:
        return largePages ? 309 : 304;
    case 12:
        return largePages ? 311 : 310;
    case 13:
        return largePages ? 313 : 312;
    case 14:
        return 314;
    case 15:
        return 316;
    case 16:
        return 318;
    default:
        return 0;
    }
}
