// The player device object: knows the player in front of it (model, firmware, storage scheme, NAND
// chips, card) and sets the storage engine's state for it. Not locked by itself: the device context
// calls it under its storage locks; only CancelOperation comes from another thread.
//
// On the models without folder objects it hands the file and folder operations below to internal
// memory's flat store (LegacyFiles) or to the card, and its FileStream base drives the flat store's
// block stream. While a stream of the store is open, every other operation of the store is refused
// with kStatusFileError.
//
// DeleteFile is spelled as Win32's macro spells it wherever <windows.h> is seen, which this header
// includes, so every user sees the same name.
#pragma once

#include "device/fs/dir_record.h"
#include "device/fs/file_stream.h"
#include "device/fs/engine_status.h"
#include "device/fs/legacy/legacy_files.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/command_block.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace engine {

class PlayerDevice : public FileStream {
public:
    PlayerDevice();
    ~PlayerDevice() override;
    PlayerDevice(const PlayerDevice&) = delete;
    PlayerDevice& operator=(const PlayerDevice&) = delete;

    // Reads the information block (returned to the caller as the player sent it), identifies model
    // and firmware, sets the scheme, scans the chips and the card. kStatusOk, kStatusUsbError, or the
    // failing card mount's status.
    EngineStatus Initialize(DeviceInfoBlock& info);
    void IdentifyModel(std::string_view modelId);

    bool UsesFolderObjects() const;
    std::uint32_t GetModelGroupFlag() const;
    PlayerModel GetModel() const;
    // kStatusOk when the player is attached, kStatusUsbError when not.
    EngineStatus ProbeDriver();
    // The information block's media-changed byte (0 when it cannot be read); a set byte is
    // acknowledged on the sector-card models.
    std::uint8_t PollMediaChange();
    EngineStatus PrepareFormat();
    // The player's 64-byte audio header of a file; kStatusNotSupported where the scheme has none.
    EngineStatus QueryFileHeader(std::uint32_t storage, std::uint16_t recordId, std::uint8_t* header);
    // The player's status byte (see DevicePipes::QueryStatusA0).
    int QueryStatusByte();
    void CancelOperation();
    // Sizes in bytes of both storages (saturated at 4 GiB - 1); a card that cannot be counted reads as
    // 0 and 0, an unformatted sector card as its capacity and 0. Sets the store's free block count.
    // kStatusOk.
    EngineStatus QueryStorageSizes(std::uint32_t& internalTotal, std::uint32_t& internalFree,
                                   std::uint32_t& externalTotal, std::uint32_t& externalFree);

    // Reads again what the engine keeps of a storage that another process changed: internal memory's
    // spare records and free blocks (the flat store's root is read again at its next use), or the
    // card's volume (with a NAND-type card's spare records; a volume that no longer mounts stays
    // unmounted). Called inside a bracket. kStatusOk, or kStatusUsbError when a transfer failed.
    EngineStatus ReloadStorage(std::uint32_t storage);

    // Formatting. The MMC/SD card (quick: the data area is left as it is): kStatusOk, kStatusNoStorage,
    // kStatusWriteProtected, kStatusInvalidCard (a capacity too small for a volume), kStatusUsbError,
    // or the failing mount's status. The NAND-type card: kStatusOk, kStatusNoStorage (no card, or it left the
    // slot), kStatusWriteProtected, kStatusUsbError, kStatusInvalidCard (no good blocks for the system
    // area), or the failing mount's status. Internal memory (every chip erased, an empty root written):
    // kStatusOk, kStatusFileError (a stream of the store is open), kStatusStorageFull (no chip 0, no erased
    // block left) or kStatusUsbError.
    EngineStatus FormatSectorCard(std::uint32_t quick);
    EngineStatus FormatNandCard();
    EngineStatus EraseInternal();

    // Internal memory's flat store (storage 0; a non-zero storage is the card's). Names and paths are
    // ANSI. Statuses as LegacyFiles gives them.
    // kStatusOk, kStatusUsbError, or -1 when the directory holds no further entry; kStatusFileError
    // while a stream is open.
    std::int32_t LegacyFindFirst(DirRecord& record);
    std::int32_t LegacyFindNext(DirRecord& record);
    EngineStatus LegacyDownload(std::uint32_t storage, const char* pcPath, std::uint32_t folderId);
    EngineStatus LegacyUpload(std::uint32_t storage, std::uint32_t fileId, const char* pcPath);
    EngineStatus DeleteFile(std::uint32_t storage, std::uint32_t fileId);
    EngineStatus DeleteFolder(std::uint32_t storage, std::uint32_t folderId);
    EngineStatus CreateFolder(const char* name, std::uint32_t* newId);
    EngineStatus MoveEntry(std::uint32_t storage, std::uint32_t fileId, std::uint32_t folderId);
    EngineStatus RenameEntry(std::uint32_t storage, std::uint32_t fileId, const char* newName);
    // Puts the file's entry set at the new index, counted over the used entries.
    EngineStatus SetPlayIndex(std::uint32_t storage, std::uint32_t fileId, std::uint32_t newIndex);

    // System files in the internal root directory, as runs of physically consecutive blocks.
    EngineStatus WriteFontFile(const char* name, std::uint32_t size, const std::uint8_t* data);
    EngineStatus WriteSystemFile(const char* name, std::uint32_t size, const std::uint8_t* data, std::uint32_t fileId);

    // The folder that files made through the stream go into (0 = root), and the stream's storage.
    void SetNewFileFolderId(std::uint32_t folderId) { legacyFiles_.SetNewFileFolderId(folderId); }
    void SetStreamStorage(std::uint32_t storage) { streamStorage_ = storage; }
    bool LegacyStreamOpen() const { return legacyFiles_.StreamOpen(); }

    // The flat store's block stream.
    EngineStatus OpenEntry() override;
    EngineStatus ReadNextBlock() override;
    EngineStatus WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes) override;
    EngineStatus ReadFirstBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out) override;
    EngineStatus CommitEntry() override;
    std::uint32_t GetBlockBytes() override;
    std::uint32_t GetFileSize() override;

    const char* FirmwareVersion() const { return firmwareVersion_; }
    const char* ModelId() const { return modelId_; }
    // A sector card is present but the player cannot mount its volume.
    bool CardUnformatted() const { return cardUnformatted_; }

private:
    void ApplyModelScheme(std::uint32_t infoRootEntries);

    char firmwareVersion_[5] = {};
    char modelId_[13] = {};
    bool cardUnformatted_ = false;
    LegacyFiles legacyFiles_;
    std::uint32_t streamStorage_ = 0;
};

// A field of the 128-bit CSD register held as four words, w[0] the most significant; 0 for a field
// that does not lie inside the register or is wider than 32 bits.
std::uint32_t ReadCsdBits(const std::array<std::uint32_t, 4>& words, unsigned start, unsigned width);

// The NAND id word of chip position 0..7 (low byte maker, high byte device) as the player means it.
std::uint16_t NandIdWord(const DeviceInfoBlock& info, std::size_t position);
// The sector card's capacity in bytes from the information block's CSD bytes (40-55).
std::uint32_t CardCapacityFromCsd(const std::uint8_t* csdBytes);

// Root directory entries from the information block's count.
std::uint32_t RootEntriesFromInfo(std::uint16_t count);

}  // namespace engine
