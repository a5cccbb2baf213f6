#include "device/api/player/card_mount.h"

#include "device/fs/card/card_volume.h"
#include "device/transport/engine_state.h"

namespace engine {

EngineStatus MountNandCardVolume()
{
    CardVolume.SetWriteProtected(Engine.CardWriteProtect != 0);
    CardVolume.SetCardSectors(0);
    return CardVolume.MountNandCard();
}

EngineStatus MountSectorCardVolume()
{
    CardVolume.SetWriteProtected(Engine.CardWriteProtect != 0);
    CardVolume.SetCardSectors(Engine.CardCapacityBytes / kCardSectorBytes);
    return CardVolume.Mount();
}

}  // namespace engine
