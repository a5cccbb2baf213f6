// The player device object: knows the player in front of it (model, firmware, storage scheme, NAND
// chips, card) and sets the storage engine's state for it. Not locked by itself: the device context
// calls it under its storage locks; only CancelOperation comes from another thread.
#pragma once

#include "device/transport/command_block.h"
#include "device/transport/engine_state.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace engine {

class PlayerDevice {
public:
    PlayerDevice();
    ~PlayerDevice();
    PlayerDevice(const PlayerDevice&) = delete;
    PlayerDevice& operator=(const PlayerDevice&) = delete;

    // Reads the information block (returned to the caller as the player sent it), identifies model
    // and firmware, sets the scheme, scans the chips and the card. Engine status: 0, kStatusUsbError,
    // or the failing card mount's status.
    std::uint32_t Initialize(DeviceInfoBlock& info);
    void IdentifyModel(std::string_view modelId);

    bool UsesFolderObjects() const;
    std::uint32_t GetModelGroupFlag() const;
    PlayerModel GetModel() const;
    // 0 when the player is attached, kStatusUsbError when not.
    std::uint32_t ProbeDriver();
    // The information block's media-changed byte (0 when it cannot be read); a set byte is
    // acknowledged on the sector-card models.
    std::uint8_t PollMediaChange();
    std::uint32_t PrepareFormat();
    // The player's 64-byte audio header of a file; kStatusNotSupported where the scheme has none.
    std::uint32_t QueryFileHeader(std::uint32_t storage, std::uint16_t recordId, std::uint8_t* header);
    // The player's status byte (see DevicePipes::QueryStatusA0).
    int QueryStatusByte();
    void CancelOperation();

    const char* FirmwareVersion() const { return firmwareVersion_; }
    const char* ModelId() const { return modelId_; }
    // A sector card is present but the player cannot mount its volume.
    std::uint32_t CardUnformatted() const { return cardUnformatted_; }

private:
    void ApplyModelScheme(std::uint32_t infoRootEntries);

    char firmwareVersion_[5] = {};
    char modelId_[13] = {};
    std::uint32_t cardUnformatted_ = 0;
};

// A field of the 128-bit CSD register held as four words, w[0] the most significant; 0 for a field
// that does not lie inside the register or is wider than 32 bits.
std::uint32_t ReadCsdBits(const std::array<std::uint32_t, 4>& words, unsigned start, unsigned width);

// Root directory entries from the information block's count.
std::uint32_t RootEntriesFromInfo(std::uint16_t count);

}  // namespace engine
