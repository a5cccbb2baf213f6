#include "device/api/player/card_mount.h"

#include "device/fs/card/card_volume.h"
#include "device/transport/engine_state.h"

namespace engine {

EngineStatus MountNandCardVolume()
{
    CardVolume.writeProtected = Engine.CardWriteProtect;
    CardVolume.cardSectors = 0;
    return AsStatus(CardVolume.MountNandCard());
}

EngineStatus MountSectorCardVolume()
{
    CardVolume.writeProtected = Engine.CardWriteProtect;
    CardVolume.cardSectors = Engine.CardCapacityBytes / kCardSectorBytes;
    return AsStatus(CardVolume.Mount());
}

}  // namespace engine
