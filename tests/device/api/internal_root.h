// A fresh folder-object player has no internal root until a format: the tests write an empty one, as
// a format would, so that a device context finds a root to load.
#pragma once

#include "device/api/player/player_device.h"
#include "device/fs/internal/internal_folder.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/engine_state.h"

inline bool MakeInternalRoot()
{
    engine::PlayerDevice device;
    engine::DeviceInfoBlock info{};
    if (device.Initialize(info) != engine::kStatusOk)
        return false;
    engine::InternalFolder root(engine::Engine.InternalRootEntries, 1, 1, 1);
    if (root.Load() == engine::kStatusOk)
        return true;
    engine::LegacyStore.freeBlockCount = engine::LegacyCountFreeBlocks();
    return root.WriteNewDirectory() == engine::kStatusOk && root.Load() == engine::kStatusOk;
}
