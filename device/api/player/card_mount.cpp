#include "device/api/player/card_mount.h"
#include "device/fs/engine_status.h"

namespace engine {


std::uint32_t MountNandCardVolume()
{
    return kStatusOk;
}

void MountSectorCardVolume() {}

}  // namespace engine
