// The manager's playlists as M3U text files: the only code that knows the file format.
//
// Read: text in the system's ANSI code page; lines are split at any run of CR and LF bytes (so blank
// lines do not count) and end for good at a NUL byte; nothing else is trimmed. A first line beginning
// with "#EXTM3U" makes an extended list, in which every entry is an "#EXTINF:" line followed by its path
// line; the first line of any other form ends the list. In a plain list every line is an entry.
// Written: one line per entry in the ANSI code page, ended by a single LF; no header, so a saved list is
// a plain list. Characters the code page lacks become its replacement character.
//
// A save never harms the list it replaces: Open for writing writes into a new temporary file beside the
// target, and only Close puts it in the target's place, and only when every write went through. After a
// failed WriteEntry (callers stop and Close), Close removes the temporary file, leaves the old list as it
// was and returns 0. An object destroyed while still open for writing does the same: leaving without a
// successful Close never saves.
//
// Each object keeps its own reading position, so a nested list can be read while another one is open.
// Not thread-safe; one object belongs to one thread at a time.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct PlaylistEntry {
    std::wstring path;          // as the list holds it
    std::int32_t relative = 0;  // 1 when the path has no drive part: the caller puts Folder() in front
};

class CPlaylistFile {
public:
    CPlaylistFile() = default;
    // Frees what is left; a write that was not closed is abandoned (the old list stays).
    ~CPlaylistFile();
    CPlaylistFile(const CPlaylistFile&) = delete;
    CPlaylistFile& operator=(const CPlaylistFile&) = delete;

    // mode 0: reads the whole file now (closing it at once); fails for a missing or empty file, or one
    // of 4 GiB or more. Any other mode: prepares a save to `path` (see above); fails when the target is
    // a folder or read-only, or the temporary file cannot be made beside it. 1 on success, 0 on failure
    // (the object is then closed again). Fails also while the object is open: Close it first.
    int Open(const wchar_t* path, int mode);

    // 1 with `entry` filled by the next entry; 0 at the end of the list, for a null entry, on a
    // conversion that cannot be allocated, or when the object is not open for reading.
    int ReadEntry(PlaylistEntry* entry);

    // 1 when the line for entry.path (up to a NUL in it) was written whole; 0 when the object is not open
    // for writing, after an earlier failed write, or when the line could not be made or written.
    int WriteEntry(const PlaylistEntry& entry);

    // Reading: frees the text. Writing: replaces the target with the written list when every write
    // succeeded, otherwise removes the temporary file. 0 only when a save was pending and did not reach
    // the target (the old list is then untouched); 1 otherwise, also when there was nothing to close.
    int Close();

    // Drive and folder of the path given to the last successful Open, ending in its separator (empty
    // when the path names none, or before any Open).
    const std::wstring& Folder() const { return folder_; }

private:
    // The bounds of the next line in text_, or false at the end of the text.
    bool NextLine(std::size_t* start, std::size_t* length);
    void Abandon();

    std::wstring folder_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    int mode_ = 0;
    bool extended_ = false;
    std::unique_ptr<char[]> text_;  // the whole file and a NUL (reading)
    std::size_t textSize_ = 0;      // bytes before the NUL
    std::size_t position_ = 0;      // where the next line is looked for
    bool firstLine_ = true;
    bool open_ = false;
    bool writeFailed_ = false;
    std::wstring target_;     // the list a save replaces
    std::wstring temporary_;  // the file a save writes into
};
