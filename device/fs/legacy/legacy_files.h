// The file operations of internal memory's flat store on the models without folder objects: listing,
// download and upload, delete, folders, rename, play order, the system files written as runs of
// consecutive blocks, and the store's block stream. Names and paths are ANSI.
//
// While a stream of the store is open, every other operation is refused with kStatusFileError: the
// stream holds the pipes, a reserved directory slot and blocks that no entry refers to yet.
//
// DeleteFile is spelled as Win32's macro spells it wherever <windows.h> is seen, so every user sees the
// same name.
#pragma once

#include "device/fs/dir_record.h"
#include "device/fs/engine_status.h"
#include "device/fs/legacy/legacy_store.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

class LegacyFiles {
public:
    LegacyFiles() = default;
    LegacyFiles(const LegacyFiles&) = delete;
    LegacyFiles& operator=(const LegacyFiles&) = delete;

    // kStatusOk, kStatusUsbError, or -1 when the directory holds no further entry; kStatusFileError
    // while a stream is open.
    std::int32_t FindFirst(DirRecord& record);
    std::int32_t FindNext(DirRecord& record);

    // A PC file into the root (entry in folder folderId): kStatusOk, kStatusFileError (stream open, no
    // such PC file, no frame in an MP3 file, the PC file shrank), kStatusFolderError (no room or short
    // name in the root), kStatusStorageFull or kStatusUsbError. A cancelled download leaves nothing.
    EngineStatus Download(const char* pcPath, std::uint32_t folderId);
    // A file to a PC file: kStatusOk (also when cancelled; the PC file is then removed),
    // kStatusFileError, kStatusStorageFull or kStatusUsbError. A failed upload leaves no PC file.
    EngineStatus Upload(std::uint32_t fileId, const char* pcPath);
    EngineStatus DeleteFile(std::uint32_t fileId);
    EngineStatus DeleteFolder(std::uint32_t folderId);
    EngineStatus CreateFolder(const char* name, std::uint32_t* newId);
    EngineStatus MoveEntry(std::uint32_t fileId, std::uint32_t folderId);
    EngineStatus RenameEntry(std::uint32_t fileId, const char* newName);
    // Puts the file's entry set at the new index, counted over the used entries.
    EngineStatus SetPlayIndex(std::uint32_t fileId, std::uint32_t newIndex);

    // System files in the root directory, as runs of physically consecutive blocks.
    EngineStatus WriteFontFile(const char* name, std::uint32_t size, const std::uint8_t* data);
    EngineStatus WriteSystemFile(const char* name, std::uint32_t size, const std::uint8_t* data, std::uint32_t fileId);

    // The folder that files made through the stream go into (0 = root).
    void SetNewFileFolderId(std::uint32_t folderId) { newFileFolderId_ = folderId; }
    bool StreamOpen() const { return stream_.open != 0; }

    // The block stream, driven by a FileStream that hands in its state. OpenStream opens the file with
    // the id (read) or reserves a new entry of that UTF-16 name (write).
    EngineStatus OpenStream(bool write, std::uint32_t recordId, const std::wstring& name);
    EngineStatus NextBlock();
    // lastBlock: no block follows, so the chain ends here.
    EngineStatus WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes, bool lastBlock);
    EngineStatus ReadBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out);
    // Ends the stream; in write mode the entry is made with `transferred` bytes.
    EngineStatus CommitStream(std::uint32_t transferred);
    std::uint32_t BlockBytes() const;
    std::uint32_t FileSize() const { return stream_.fileSize; }
    // Ends an open stream (pipes closed, buffer freed).
    void EndStream();
    // Ends an open stream and clears its state, as a new stream starts.
    void ResetStream();

private:
    // Within an open bracket: the file's blocks and its entry set, then the directory written back.
    EngineStatus DeleteFileLocked(std::uint32_t fileId);
    EngineStatus WriteRunFile(const char* name, std::uint32_t size, const std::uint8_t* data, std::uint32_t fileId,
                              bool font);
    // Where a folder-object model's root folder object would learn of an entry added to the
    // internal root directory behind its back (system files).
    void InternalRootChanged();

    struct Stream {
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

    Stream stream_;
    std::uint32_t newFileFolderId_ = 0;
};

}  // namespace engine
