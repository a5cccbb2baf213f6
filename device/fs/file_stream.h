// The block stream through which one file on the player is read or written piece by piece. The base
// turns the caller's chunks into whole-block writes and reads; each store supplies the seven operations
// that touch the medium.
#pragma once

#include "device/fs/engine_status.h"

#include <cstdint>
#include <memory>
#include <string>

namespace engine {

class FileStream {
public:
    FileStream() = default;
    virtual ~FileStream();
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Store operations, each returning an engine status unless said otherwise.
    // Read mode: find the entry with the record id and stand on its first block. Write mode: prepare a
    // new entry named by the stream's name and stand on its first free block.
    virtual EngineStatus OpenEntry() = 0;
    // Move to the next block of the file (read) or the next block to be written (write).
    virtual EngineStatus ReadNextBlock() = 0;
    // Write one whole block at the current position.
    virtual EngineStatus WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes) = 0;
    // Read the block at the current position.
    virtual EngineStatus ReadFirstBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out) = 0;
    // End the transfer; in write mode write the directory entry (size = transferred bytes).
    virtual EngineStatus CommitEntry() = 0;
    virtual std::uint32_t GetBlockBytes() = 0;  // bytes per block of the store
    virtual std::uint32_t GetFileSize() = 0;    // size of the open entry

    // A fresh block buffer of `size` bytes with the stream state cleared: kStatusOk, or kStatusStorageFull
    // when the size is 0 or the buffer could not be allocated (the stream then has no buffer).
    EngineStatus Reset(std::uint32_t size);
    // Frees the block buffer and clears the stream state.
    void Release();

    // Opens the entry with that record id for reading and reads its first block: kStatusOk, the status
    // of a failed open (the stream stays closed), kStatusStorageFull when no block buffer could be had,
    // or the status of the first block read.
    EngineStatus OpenRead(std::uint32_t recordId);
    // Opens a new entry for writing: kStatusOk, the status of a failed open (the stream stays closed),
    // or kStatusStorageFull when no block buffer could be had.
    EngineStatus Create(const wchar_t* name);
    // kStatusOk; kStatusFileError when not open for writing; else the first failing store status.
    EngineStatus Write(const std::uint8_t* data, std::uint32_t length);
    // kStatusOk with *count bytes copied; kStatusFileError when not open for reading or count is null;
    // else the first failing store status.
    EngineStatus Read(std::uint8_t* destination, std::uint32_t length, std::uint32_t* count);
    // Writes the last block (write mode) and commits the entry: kStatusOk, kStatusFileError when not
    // open, or the status of a failed last block or commit. The stream is closed afterwards in every
    // case.
    EngineStatus Close();

protected:
    std::unique_ptr<std::uint8_t[]> blockBuffer_;
    std::uint32_t blockBytes_ = 0;
    std::uint32_t fileSize_ = 0;
    std::uint32_t open_ = 0;
    std::uint32_t writeMode_ = 0;
    std::uint32_t position_ = 0;     // valid (write) or consumed (read) bytes of the block buffer
    std::uint32_t transferred_ = 0;  // bytes written to or read from the stream so far
    std::uint32_t recordId_ = 0;
    std::wstring name_;            // the long name of a stream made by Create
    std::uint32_t lastBlock_ = 0;  // set just before the final WriteBlock so the store ends the chain
};

}  // namespace engine
