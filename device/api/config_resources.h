// The device API's default system files: which of its CONFIG and UPGRADE resources serves a player, by
// model, build variant and NAND page size.
#pragma once

#include <array>
#include <cstdint>

// Resource type names, as the module's resource script spells them.
inline constexpr char kConfigResourceType[] = "CONFIG";
inline constexpr char kUpgradeResourceType[] = "UPGRADE";

// The resources of one player: [0] the configuration image (config.dat), [1] image.dat and [2] csound.mta
// (0: the model has none) and [3] a flag for the internal format's restore.
using ConfigResourceIds = std::array<std::uint32_t, 4>;

// Build 1 and build 2 are SpecialBuildNumber exactly 1 or 2; every other value takes the default.
// largePages: the player has large-page NAND chips. Models 0 and above 16 take the generic image 200.
ConfigResourceIds SelectConfigResources(int model, long specialBuildNumber, bool largePages);

// The firmware loader written as upgrade.axf; 0 for a model that takes no firmware upgrade.
std::uint32_t SelectUpgradeResource(int model, bool largePages);
