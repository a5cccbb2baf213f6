// Mounting the memory card's volume at identification. The card volume is not part of this build
// yet: both calls leave the card unmounted and report nothing, so identification of internal
// memory goes on. The card volume replaces them.
#pragma once

#include <cstdint>

namespace engine {

std::uint32_t MountNandCardVolume();
void MountSectorCardVolume();

}  // namespace engine
