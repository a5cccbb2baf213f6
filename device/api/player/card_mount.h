// Mounting the memory card's volume at identification, called by the device object once it knows the
// card: the NAND-type card when a card chip answers at the card position, the MMC/SD card on the group
// models when the player reports a mountable card.
#pragma once

#include "device/fs/engine_status.h"

namespace engine {

// The volume's mount result: kStatusOk, kStatusUsbError, kStatusMbrError or kStatusPartitionError.
EngineStatus MountNandCardVolume();
// Mounts the MMC/SD card's volume; a card that does not mount stays unmounted. The mount's result
// (identification does not look at it; a format does).
EngineStatus MountSectorCardVolume();

}  // namespace engine
