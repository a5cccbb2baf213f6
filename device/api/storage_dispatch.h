// Which store serves each storage operation of the device API. Three schemes, chosen at identification
// by model and firmware: folder objects (one current folder object per storage, internal memory and
// card), the flat store of internal memory with the card's own volume, and the flat store with one
// folder level. Not locked by itself: the device context calls it under the storage's lock.
//
// Names and PC paths come in as UTF-16; the flat store and the card volume of the older models work
// in ANSI, so they are converted here (a text the ANSI code page cannot hold is refused, never cut).
// A storage argument of 0 is internal memory; any other value is the card unless a method says
// otherwise.
#pragma once

// windows.h first: DeleteFile is spelled as its macro spells it in every file that sees this class.
#include <windows.h>

#include "device/api/player/player_device.h"
#include "device/fs/dir_record.h"
#include "device/fs/engine_status.h"
#include "device/fs/fat_folder.h"

#include <cstdint>
#include <memory>

namespace engine {

class FileStream;

enum class StorageScheme { Legacy, OneFolderLevel, FolderObjects };

// The scheme the identified player uses (from the engine state).
StorageScheme CurrentStorageScheme();

class StorageDispatch {
public:
    explicit StorageDispatch(PlayerDevice& device);
    ~StorageDispatch();
    StorageDispatch(const StorageDispatch&) = delete;
    StorageDispatch& operator=(const StorageDispatch&) = delete;

    // Walks of the current folder: 0 with the record filled, -1 at the end or without a folder object.
    std::int32_t FindFirstInternal(DirRecord* record);
    std::int32_t FindNextInternal(DirRecord* record);
    std::int32_t FindFirstExternal(DirRecord* record);
    std::int32_t FindNextExternal(DirRecord* record);

    EngineStatus DownloadFile(std::uint32_t storage, const wchar_t* pcPath);
    EngineStatus UploadFile(std::uint32_t storage, std::uint32_t recordId, const wchar_t* pcPath);
    EngineStatus DeleteFile(std::uint32_t storage, std::uint32_t recordId);
    EngineStatus RenameEntry(std::uint32_t storage, std::uint32_t recordId, const wchar_t* newName);
    // *newId is written on every path (0 when no folder was made).
    EngineStatus CreateFolder(std::uint32_t storage, const wchar_t* name, std::uint32_t* newId);
    EngineStatus DeleteFolder(std::uint32_t storage, std::uint32_t folderId);
    // The current folder object is the target; on the flat store with folders the current folder is.
    EngineStatus MoveEntryInside(std::uint32_t storage, std::uint32_t recordId, std::uint32_t sourceFolderId,
                                 std::uint32_t sourceIsRoot);
    // Position of the entry among the visible entries of its folder, or -1 when it is not there.
    std::int32_t GetPlayIndex(std::uint32_t storage, std::uint32_t recordId);
    EngineStatus SetPlayIndex(std::uint32_t storage, std::uint32_t recordId, std::uint32_t newIndex);
    // A folder (attribute exactly 0x10) of that name, compared case-sensitively: 0 with the record
    // copied, -1 when there is none; 1 on the card of the older models, which has no folders.
    std::int32_t FindEntryByName(std::uint32_t storage, const wchar_t* name, DirRecord* record);

    std::uint32_t SupportsFolders(std::uint32_t storage);
    // 0 with *id the current folder (1 for a folder object's root, 0 for the flat store's root), or -1
    // when there is none; *id is written on every path (0 when there is no folder).
    std::int32_t GetCurrentFolderId(std::uint32_t storage, std::uint32_t* id);
    // Makes a folder current (0 = root). Folder objects: kStatusStorageFull when the new object cannot
    // have its entries, else its load's status; the storage has no current folder after a failure.
    EngineStatus SelectFolder(std::uint32_t storage, std::uint32_t folderId);
    EngineStatus ResetFolderLevel(std::uint32_t storage, std::uint32_t* id);

    // The block stream of one file.
    EngineStatus OpenStreamRead(std::uint32_t storage, std::uint32_t recordId);
    EngineStatus OpenStreamWrite(std::uint32_t storage, const wchar_t* name);
    EngineStatus WriteStream(std::uint32_t storage, const std::uint8_t* data, std::uint32_t length);
    EngineStatus ReadStream(std::uint32_t storage, std::uint8_t* buffer, std::uint32_t length, std::uint32_t* read);
    EngineStatus CloseStream(std::uint32_t storage);

    // The storage's current folder object (folder-object models), or null.
    FatFolder* CurrentFolder(std::uint32_t storage);
    // Drops both folder objects (the player is identified anew).
    void DropFolders();
    // Loads the storage's current folder object again (its stream goes with it); a folder that no
    // longer loads leaves the storage without a current folder.
    void ReloadFolder(std::uint32_t storage);

private:
    FileStream* Stream(std::uint32_t storage);

    PlayerDevice& device_;
    std::unique_ptr<FatFolder> internal_;
    std::unique_ptr<FatFolder> external_;
    FileStream* internalStream_ = nullptr;
    FileStream* externalStream_ = nullptr;
};

}  // namespace engine
