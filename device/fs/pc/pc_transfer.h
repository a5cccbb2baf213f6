// The PC end of every store's whole-file transfers. PcSource is a PC file on its way down to a player:
// it reads the file's status, builds the player's MP3 tag and finds the first audio frame, and hands
// out the stored bytes (the new tag, then the audio) in block-sized pieces. PcSink is a PC file on its
// way up: pieces are written to it, and a file that does not end whole is deleted again. The stores
// keep only their own steps: finding room, writing blocks or clusters, committing and undoing.
//
// Paths are UTF-16 (wide calls on the NT family, the ANSI code page otherwise) or ANSI (the older
// models' store and the card root take ANSI paths from their callers).
#pragma once

#include "device/fs/engine_status.h"
#include "platform/win/file_util.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace engine {

class PcSource {
public:
    PcSource() = default;
    PcSource(const PcSource&) = delete;
    PcSource& operator=(const PcSource&) = delete;

    // Reads the file's status; with mp3, builds the player's tag and moves the audio start to the
    // first frame. Nothing is held open afterwards. kStatusOk; kStatusFileError (no regular file, no
    // frame in an MP3 file); kStatusStorageFull when the stored bytes do not fit in 32 bits.
    EngineStatus Prepare(const wchar_t* path, bool mp3);
    EngineStatus Prepare(const char* ansiPath, bool mp3);

    // Opens the file and seeks to the audio start, for pieces of pieceBytes (not 0). kStatusOk or
    // kStatusFileError.
    EngineStatus Open(std::uint32_t pieceBytes);

    // Bytes the player stores: the new tag and the audio after it.
    std::uint32_t StoredBytes() const { return stored_; }
    std::uint32_t TagBytes() const { return tagBytes_; }
    // Pieces of pieceBytes the stored bytes need (the last one may be short).
    std::uint32_t PieceCount(std::uint32_t pieceBytes) const;
    // Times of the PC file for the new entry; an unknown time is 0.
    std::time_t Created() const { return created_; }
    std::time_t Accessed() const { return accessed_; }
    std::time_t Written() const { return written_; }

    // Fills out with the next piece: min(pieceBytes, bytes left). *got receives its length, 0 at the
    // end. kStatusFileError when the PC file is shorter than it was when prepared, or not open.
    EngineStatus NextPiece(std::uint8_t* out, std::uint32_t* got);
    // Reads exactly `bytes` of the stored bytes (for stores that fill a block in smaller parts).
    EngineStatus Read(std::uint8_t* out, std::uint32_t bytes);
    std::uint64_t Remaining() const { return stored_ - delivered_; }

    // After a piece is on the player: true when a cancel was asked for (no progress step then);
    // otherwise one progress step of pieceBytes is sent and false returned.
    bool PieceStored() const;

    // Closes the PC file (also done by the destructor).
    void Close() { file_.Close(); }

private:
    // The shared part of Prepare, for either kind of path.
    template <typename Char>
    EngineStatus Describe(const Char* path, bool mp3);
    EngineStatus Finish(bool isFile, std::int64_t size, std::int64_t audio, std::uint32_t tagBytes);

    std::wstring widePath_;
    std::string ansiPath_;
    bool ansi_ = false;
    bool prepared_ = false;
    std::unique_ptr<std::uint8_t[]> tag_;
    std::uint32_t tagBytes_ = 0;
    std::int64_t audio_ = 0;
    std::uint32_t stored_ = 0;
    std::uint32_t delivered_ = 0;
    std::uint32_t pieceBytes_ = 0;
    std::time_t created_ = 0;
    std::time_t accessed_ = 0;
    std::time_t written_ = 0;
    HandleOwner file_{nullptr};
};

class PcSink {
public:
    PcSink() = default;
    // A sink not finished deletes its partial file.
    ~PcSink() { Discard(); }
    PcSink(const PcSink&) = delete;
    PcSink& operator=(const PcSink&) = delete;

    // Creates (or truncates) the PC file. kStatusOk, or kStatusFileError when it cannot be made.
    EngineStatus Create(const wchar_t* path);
    EngineStatus Create(const char* ansiPath);

    // Appends the bytes; false on a failed or short write.
    bool Write(const std::uint8_t* data, std::uint32_t bytes);
    // Closes the whole file. kStatusOk, or kStatusFileError when the close fails (a write the disk could
    // not take can show only there); the file is deleted then.
    EngineStatus Finish();
    // Closes and deletes the file (a failed or cancelled upload). Nothing when none is open.
    void Discard();

private:
    std::wstring widePath_;
    std::string ansiPath_;
    bool ansi_ = false;
    bool active_ = false;
    HandleOwner file_{nullptr};
};

}  // namespace engine
