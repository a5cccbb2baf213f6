#include "device/api/player/card_mount.h"

#include "device/fs/card/card_volume.h"
#include "device/transport/engine_state.h"

namespace engine {

std::uint32_t MountNandCardVolume()
{
    CardVolume.writeProtected = Engine.CardWriteProtect;
    CardVolume.cardSectors = 0;
    return CardVolume.MountNandCard();
}

std::uint32_t MountSectorCardVolume()
{
    CardVolume.writeProtected = Engine.CardWriteProtect;
    CardVolume.cardSectors = Engine.CardCapacityBytes / kCardSectorBytes;
    return CardVolume.Mount();
}

}  // namespace engine
