// The folder object of internal memory on the folder-object models. One folder's directory lives in
// one erase block (its spare records carry the folder's id and type 'R'); files are chains of erase
// blocks found by the file id in their spare records, the id being the first-cluster value of the
// file's directory entry. The object is both the folder (its ten operations) and the block stream of
// one file in that folder.
//
// Use: identify the player (PlayerDevice::Initialize) first, so that the chips, their spare tables and
// the entry counts are known. Then make the root with
//     InternalFolder root(Engine.InternalRootEntries, 1, 1, 1);
// and Load it (kStatusFolderError means the medium holds no root directory yet: WriteNewDirectory makes an
// empty one). Loading the root also sets the free block count and the recording folder id. Other
// folders: InternalFolder(Engine.InternalFolderEntries, id, 1, 0), then Load.
//
// Only one storage operation runs at a time (the engine's state is shared). While a write stream of
// any folder object is open, the operations that take new blocks or ids (download, subfolder
// creation, another write stream) are refused with kStatusFileError; everything else may run between
// the stream's calls.
#pragma once

#include "device/fs/engine_status.h"
#include "device/fs/fat_folder.h"
#include "device/fs/file_stream.h"
#include "device/fs/legacy/legacy_store.h"

#include <cstdint>
#include <vector>

namespace engine {

class InternalFolder : public FatFolder, public FileStream {
public:
    // capacity: InternalRootEntries for the root, InternalFolderEntries otherwise; a root always has
    // folder id 1. The capacity is cut to what one erase block of chip 0 holds.
    InternalFolder(std::uint32_t capacity, std::uint32_t folderId, std::uint32_t flagWord, std::uint32_t rootFlag);
    ~InternalFolder() override;

    EngineStatus Load() override;
    EngineStatus WriteNewDirectory() override;
    EngineStatus RewriteDirectory() override;
    EngineStatus CreateSubfolder(const wchar_t* name, std::uint32_t* newId) override;
    EngineStatus RenameEntry(std::uint32_t id, const wchar_t* newName, std::uint32_t innerFlag) override;
    // A folder entry goes with everything below it.
    EngineStatus DeleteFile(std::uint32_t id) override;
    EngineStatus DownloadFile(const wchar_t* pcPath) override;
    EngineStatus UploadFile(std::uint32_t id, const wchar_t* pcPath) override;
    EngineStatus MoveEntry(std::uint32_t sourceFolderId, std::uint32_t sourceRootFlag, std::uint32_t id) override;
    EngineStatus SetPlayIndex(std::uint32_t id, std::uint32_t position) override;

    EngineStatus OpenEntry() override;
    EngineStatus ReadNextBlock() override;
    EngineStatus WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes) override;
    EngineStatus ReadFirstBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out) override;
    EngineStatus CommitEntry() override;
    std::uint32_t GetBlockBytes() override;
    std::uint32_t GetFileSize() override;

    // The recording folder id this object learnt at its Load (roots only), or -1.
    std::int32_t RecordFolderId() const { return recordFolderId_; }

private:
    bool IsRecordingFolder() const;
    bool IsRecordingFolderId(std::uint32_t id) const;
    // Finds this folder's directory block and leaves the cursor on it; false when there is none.
    bool FindDirectoryBlock();
    // Writes the entry buffer into the block at the cursor, which is erased. kStatusOk or kStatusUsbError.
    EngineStatus WriteDirectoryBlock();
    // A new file id that no block carries and no entry of this folder holds.
    EngineStatus AllocateId(std::uint32_t& newId) const;
    // Erases a folder's files and subfolders, then its own directory block. kStatusOk, kStatusFolderError
    // (too deep) or kStatusUsbError.
    EngineStatus EraseTree(std::uint32_t folderId, std::uint32_t depth);
    // Ends an open stream: pipes and buffer released; an unfinished write stream's blocks erased.
    void EndStream(bool eraseWritten);

    std::int32_t recordFolderId_ = -1;
    std::vector<std::uint8_t> units_;  // data and spare of one block
    BlockPosition dirBlock_;           // where Load or WriteNewDirectory found the directory
    bool dirBlockKnown_ = false;

    // Stream state.
    bool streamOpen_ = false;
    bool streamWrite_ = false;
    std::uint32_t streamId_ = 0;
    std::uint8_t typeCode_ = 0;
    std::uint8_t attribute_ = 0;
    std::uint32_t blocksWritten_ = 0;
    std::uint32_t streamFileSize_ = 0;
    BlockPosition current_;
    BlockPosition link_;
    bool linkValid_ = false;
};

}  // namespace engine
