// The player device object: knows the player in front of it (model, firmware, storage scheme, NAND
// chips, card) and sets the storage engine's state for it. Not locked by itself: the device context
// calls it under its storage locks; only CancelOperation comes from another thread.
//
// On the models without folder objects it also keeps internal memory's flat store: the file and
// folder operations below, and the block stream of that store (its FileStream base). While a stream
// of the store is open, every other operation of the store is refused with kStatusFileError: the
// stream holds the pipes, a reserved directory slot and blocks that no entry refers to yet.
//
// DeleteFile is spelled as Win32's macro spells it wherever <windows.h> is seen, which this header
// includes, so every user sees the same name.
#pragma once

#include "device/fs/dir_record.h"
#include "device/fs/file_stream.h"
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
    // Sizes in bytes of both storages (saturated at 4 GiB - 1); a card that cannot be counted reads as
    // 0 and 0, an unformatted sector card as its capacity and 0. Sets the store's free block count. 0.
    std::uint32_t QueryStorageSizes(std::uint32_t& internalTotal, std::uint32_t& internalFree,
                                    std::uint32_t& externalTotal, std::uint32_t& externalFree);

    // Formatting. The MMC/SD card (quick: the data area is left as it is): 0, kStatusNoStorage,
    // kStatusWriteProtected, kStatusInvalidCard (a capacity too small for a volume), kStatusUsbError,
    // or the failing mount's status. The NAND-type card: 0, kStatusNoStorage (no card, or it left the
    // slot), kStatusWriteProtected, kStatusUsbError, kStatusInvalidCard (no good blocks for the system
    // area), or the failing mount's status. Internal memory (every chip erased, an empty root written):
    // 0, kStatusFileError (a stream of the store is open), kStatusStorageFull (no chip 0, no erased
    // block left) or kStatusUsbError.
    std::uint32_t FormatSectorCard(std::uint32_t quick);
    std::uint32_t FormatNandCard();
    std::uint32_t EraseInternal();

    // Internal memory's flat store (storage 0; a non-zero storage is the card's). Names and paths are
    // ANSI. Engine status codes unless said otherwise.
    // 0, 4, or -1 when the directory holds no further entry; 2 while a stream is open.
    std::int32_t LegacyFindFirst(DirRecord& record);
    std::int32_t LegacyFindNext(DirRecord& record);
    std::uint32_t LegacyDownload(std::uint32_t storage, const char* pcPath, std::uint32_t folderId);
    std::uint32_t LegacyUpload(std::uint32_t storage, std::uint32_t fileId, const char* pcPath);
    std::uint32_t DeleteFile(std::uint32_t storage, std::uint32_t fileId);
    std::uint32_t DeleteFolder(std::uint32_t storage, std::uint32_t folderId);
    std::uint32_t CreateFolder(const char* name, std::uint32_t* newId);
    std::uint32_t MoveEntry(std::uint32_t storage, std::uint32_t fileId, std::uint32_t folderId);
    std::uint32_t RenameEntry(std::uint32_t storage, std::uint32_t fileId, const char* newName);
    // Puts the file's entry set at the new index, counted over the used entries.
    std::uint32_t SetPlayIndex(std::uint32_t storage, std::uint32_t fileId, std::uint32_t newIndex);

    // System files in the internal root directory, as runs of physically consecutive blocks.
    std::uint32_t WriteFontFile(const char* name, std::uint32_t size, const std::uint8_t* data);
    std::uint32_t WriteSystemFile(const char* name, std::uint32_t size, const std::uint8_t* data, std::uint32_t fileId);

    // The folder that files made through the stream go into (0 = root), and the stream's storage.
    void SetNewFileFolderId(std::uint32_t folderId) { newFileFolderId_ = folderId; }
    void SetStreamStorage(std::uint32_t storage) { streamStorage_ = storage; }
    bool LegacyStreamOpen() const { return legacyStream_.open != 0; }

    // The flat store's block stream.
    std::uint32_t OpenEntry() override;
    std::uint32_t ReadNextBlock() override;
    std::uint32_t WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes) override;
    std::uint32_t ReadFirstBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out) override;
    std::uint32_t CommitEntry() override;
    std::uint32_t GetBlockBytes() override;
    std::uint32_t GetFileSize() override;

    const char* FirmwareVersion() const { return firmwareVersion_; }
    const char* ModelId() const { return modelId_; }
    // A sector card is present but the player cannot mount its volume.
    std::uint32_t CardUnformatted() const { return cardUnformatted_; }

private:
    void ApplyModelScheme(std::uint32_t infoRootEntries);

    // Within an open bracket: the file's blocks and its entry set, then the directory written back.
    std::uint32_t DeleteFileLocked(std::uint32_t fileId);
    std::uint32_t WriteRunFile(const char* name, std::uint32_t size, const std::uint8_t* data, std::uint32_t fileId,
                               bool font);
    // Ends the stream after a failure or at its commit: pipes closed, buffer freed.
    void EndLegacyStream();
    // Where a folder-object model's root folder object would learn of an entry added to the
    // internal root directory behind its back (system files).
    void InternalRootChanged();

    struct LegacyStream {
        std::uint32_t open = 0;  // the stream holds the pipes
        std::uint32_t write = 0;
        std::vector<std::uint8_t> units;  // sectors-per-block units of 576 bytes
        std::uint32_t times[3] = {};
        std::uint32_t fileId = 0;
        std::uint8_t typeCode = 0;
        std::uint16_t recordBlockCount = 0;
        std::uint32_t blocksWritten = 0;
        std::uint32_t fileSize = 0;
        BlockPosition current;
        BlockPosition link;
        std::uint32_t linkValid = 0;
        std::uint32_t slot = 0;  // first slot of the reserved entry set
        std::uint32_t entryCount = 0;
        std::uint8_t attribute = 0;
        char shortName[260] = {};
        char ansiName[260] = {};
    };

    char firmwareVersion_[5] = {};
    char modelId_[13] = {};
    std::uint32_t cardUnformatted_ = 0;
    LegacyStream legacyStream_;
    std::uint32_t newFileFolderId_ = 0;
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
