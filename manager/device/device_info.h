// The cached identity and figures of the player, copied out of the device session for its readers.
#pragma once

#include "platform/atl/atlbase.h"

#include <cstdint>

struct DeviceInfo {
    std::int32_t present = 0;
    std::int32_t storageCount = 0;
    std::int32_t internalReady = 0;
    std::int32_t cardReady = 0;
    std::int32_t internalUnformatted = 0;
    std::int32_t cardUnformatted = 0;
    std::int32_t cardReadOnly = 0;
    std::int32_t supportsFirmwareUpgrade = 0;
    std::int32_t model = 0;
    CComBSTR name;
    CComBSTR firmwareVersion;
    CComBSTR firmwareDate;
    std::int32_t supportsFMRadio = 0;
    // Bytes as the device API's 32-bit figures give them, read unsigned; sums of them are taken in 64 bits.
    std::uint32_t internalTotal = 0;
    std::uint32_t internalFree = 0;
    std::uint32_t internalUsed = 0;
    std::uint32_t cardTotal = 0;
    std::uint32_t cardFree = 0;
    std::uint32_t cardUsed = 0;
    std::int32_t SupportsLogo = 0;
    std::int32_t SupportsFMStations = 0;
    std::int32_t SupportsFolders = 0;
    std::int32_t SupportsFont = 0;
    std::int32_t SupportsMemo = 0;
    std::int32_t SupportsImage = 0;
    std::int32_t sectorsPerCluster = 0;

    bool IsInternalReady() const { return present && internalReady && !internalUnformatted; }
    void ClearInternal();
    // The write-protect flag stays: it belongs to the card in the slot, not to its figures.
    void ClearCard();
    // The six capabilities by model number; every other number has none.
    void SetModelCapabilities(long model);
    // Name, firmware version and date, gone with the player.
    void ClearTexts();
};

// Used bytes of a storage: the total less the free, never below zero.
inline std::uint32_t DeviceUsedBytes(std::uint32_t total, std::uint32_t free)
{
    return free >= total ? 0 : total - free;
}
