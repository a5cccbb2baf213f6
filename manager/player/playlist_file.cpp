#include "manager/player/playlist_file.h"

#include "platform/win/ansi_text.h"
#include "platform/win/file_util.h"
#include "platform/win/win_platform.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <string_view>

namespace {

constexpr char kExtendedHeader[] = "#EXTM3U";
constexpr char kEntryInformation[] = "#EXTINF:";

bool StartsWith(const char* line, std::size_t length, std::string_view prefix)
{
    return length >= prefix.size() && std::memcmp(line, prefix.data(), prefix.size()) == 0;
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

bool HasDrive(const std::wstring& path)
{
    return path.size() >= 2 && path[1] == L':';
}

// Drive and folder of a path, ending in its last separator; only the drive ("C:") when it has no
// separator.
std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator != std::wstring::npos)
        return path.substr(0, separator + 1);
    return HasDrive(path) ? path.substr(0, 2) : std::wstring();
}

// A folder or a read-only file in the target's place is never replaced.
bool Replaceable(DWORD attributes)
{
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

// A name beside the target that no file has yet: "<target>.<process id>-<n>.tmp". Only this process
// makes names with its id, so the check before the create cannot race another program.
bool CreateTemporaryBeside(const std::wstring& target, std::wstring* name, HANDLE* handle)
{
    const DWORD process = GetCurrentProcessId();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate =
            target + L"." + std::to_wstring(process) + L"-" + std::to_wstring(attempt) + L".tmp";
        if (UtilGetFileAttributes(candidate.c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        const HANDLE created = UtilOpenOrCreateFile(candidate.c_str(), true);
        if (created == nullptr || created == INVALID_HANDLE_VALUE)
            return false;
        *name = std::move(candidate);
        *handle = created;
        return true;
    }
    return false;
}

// Puts the written list in the target's place. The NT family replaces it in one step. The Windows 95
// family cannot: it deletes the old list first, and when the move then fails, *keepTemporary says the
// temporary file holds the only whole copy.
bool PutInPlace(const std::wstring& temporary, const std::wstring& target, bool* keepTemporary)
{
    *keepTemporary = false;
    // Checked again: the list may have become read-only since Open, and not every system refuses it.
    const DWORD attributes = UtilGetFileAttributes(target.c_str());
    if (!Replaceable(attributes))
        return false;
    if (WinIsNtPlatform())
        return MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (attributes != INVALID_FILE_ATTRIBUTES && !UtilDeleteFile(target.c_str()))
        return false;
    if (UtilMoveFile(temporary.c_str(), target.c_str()))
        return true;
    *keepTemporary = UtilGetFileAttributes(target.c_str()) == INVALID_FILE_ATTRIBUTES;
    return false;
}

}  // namespace

CPlaylistFile::~CPlaylistFile()
{
    Abandon();
}

int CPlaylistFile::Open(const wchar_t* path, int mode)
{
    if (open_ || path == nullptr || path[0] == L'\0')
        return 0;
    try {
        mode_ = mode;
        extended_ = false;
        firstLine_ = true;
        position_ = 0;
        writeFailed_ = false;
        if (mode == 0) {
            DWORD low = 0;
            DWORD high = 0;
            if (!UtilGetFileSize(path, &low, &high) || high != 0 || low == 0)
                return 0;
            if constexpr (sizeof(std::size_t) == sizeof(DWORD)) {
                if (low == MAXDWORD)  // no room for the NUL
                    return 0;
            }
            std::unique_ptr<char[]> text(new (std::nothrow) char[std::size_t{low} + 1]);
            if (!text)
                return 0;
            HandleOwner file(UtilOpenOrCreateFile(path, false));
            if (!file.valid() || !ReadExactly(file.get(), reinterpret_cast<std::uint8_t*>(text.get()), low))
                return 0;
            text[low] = '\0';
            // The text ends at its first NUL byte.
            textSize_ = std::strlen(text.get());
            text_ = std::move(text);
        } else {
            std::wstring target(path);
            if (!Replaceable(UtilGetFileAttributes(path)))
                return 0;
            if (!CreateTemporaryBeside(target, &temporary_, &handle_))
                return 0;
            target_ = std::move(target);
        }
        folder_ = FolderOf(path);
        open_ = true;
        return 1;
    } catch (const std::bad_alloc&) {
        Abandon();
        return 0;
    }
}

bool CPlaylistFile::NextLine(std::size_t* start, std::size_t* length)
{
    const char* text = text_.get();
    std::size_t at = position_;
    while (at < textSize_ && IsLineEnd(text[at]))
        ++at;
    if (at >= textSize_) {
        position_ = textSize_;
        return false;
    }
    std::size_t end = at;
    while (end < textSize_ && !IsLineEnd(text[end])) {
        // A lead byte takes the next byte with it, unless that one ends the line (a broken character).
        const bool pair = end + 1 < textSize_ && !IsLineEnd(text[end + 1]) &&
                          IsDBCSLeadByte(static_cast<BYTE>(text[end]));
        end += pair ? 2 : 1;
    }
    *start = at;
    *length = end - at;
    position_ = end;
    return true;
}

int CPlaylistFile::ReadEntry(PlaylistEntry* entry)
{
    if (!open_ || mode_ != 0 || entry == nullptr || !text_)
        return 0;
    std::size_t start = 0;
    std::size_t length = 0;
    if (firstLine_) {
        firstLine_ = false;
        if (!NextLine(&start, &length))
            return 0;
        extended_ = StartsWith(text_.get() + start, length, kExtendedHeader);
        if (extended_ && !NextLine(&start, &length))
            return 0;
    } else if (!NextLine(&start, &length)) {
        return 0;
    }
    if (extended_) {
        if (!StartsWith(text_.get() + start, length, kEntryInformation)) {
            position_ = textSize_;  // the list ends at a path line without its information line
            return 0;
        }
        if (!NextLine(&start, &length))
            return 0;
    }
    try {
        std::wstring path = AnsiToWide(std::string_view(text_.get() + start, length));
        entry->relative = HasDrive(path) ? 0 : 1;
        entry->path = std::move(path);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

int CPlaylistFile::WriteEntry(const PlaylistEntry& entry)
{
    if (!open_ || mode_ == 0 || writeFailed_)
        return 0;
    // A failed write spoils the save: Close will not put it in place.
    writeFailed_ = true;
    const wchar_t* path = entry.path.c_str();
    const std::size_t chars = std::wcslen(path);
    if (chars > INT_MAX)
        return 0;
    int bytes = 0;
    if (chars > 0) {
        bytes = WideCharToMultiByte(CP_ACP, 0, path, static_cast<int>(chars), nullptr, 0, nullptr, nullptr);
        if (bytes <= 0)
            return 0;
    }
    std::unique_ptr<char[]> line(new (std::nothrow) char[static_cast<std::size_t>(bytes) + 1]);
    if (!line)
        return 0;
    if (chars > 0 &&
        WideCharToMultiByte(CP_ACP, 0, path, static_cast<int>(chars), line.get(), bytes, nullptr, nullptr) != bytes)
        return 0;
    line[static_cast<std::size_t>(bytes)] = '\n';
    if (!WriteExactly(handle_, reinterpret_cast<const std::uint8_t*>(line.get()), static_cast<std::uint32_t>(bytes) + 1))
        return 0;
    writeFailed_ = false;
    return 1;
}

int CPlaylistFile::Close()
{
    if (!open_)
        return 1;
    if (mode_ == 0) {
        Abandon();
        return 1;
    }
    bool saved = !writeFailed_ && FlushFileBuffers(handle_) != FALSE;
    saved = CloseHandle(handle_) != FALSE && saved;
    handle_ = INVALID_HANDLE_VALUE;
    bool keepTemporary = false;
    saved = saved && PutInPlace(temporary_, target_, &keepTemporary);
    if (saved || keepTemporary)
        temporary_.clear();
    Abandon();
    return saved ? 1 : 0;
}

void CPlaylistFile::Abandon()
{
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    if (!temporary_.empty()) {
        UtilDeleteFile(temporary_.c_str());
        temporary_.clear();
    }
    target_.clear();
    text_.reset();
    textSize_ = 0;
    position_ = 0;
    writeFailed_ = false;
    open_ = false;
}
