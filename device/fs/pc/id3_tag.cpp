#include "device/fs/pc/id3_tag.h"

#include "platform/win/ansi_text.h"
#include "platform/win/win_platform.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace engine {

namespace {

// Every text read from a tag lands in a buffer of this size, terminator included.
constexpr std::size_t kTextSize = 2048;
// A v2.2 tag is searched in the first bytes of the file only.
constexpr std::size_t kV22Window = 2048;
constexpr std::size_t kV22SearchPositions = 2046;
// At most this much of the wanted v2.3 frame is read: enough for a full text buffer behind the
// encoding byte, a group byte and a description.
constexpr std::size_t kFrameBodyLimit = 2 * kTextSize + 8;
constexpr std::size_t kV1Size = 128;

static_assert(TagRecord::TagLength(TagRecord::kMaxTextUnits) == 277, "the player's tag never exceeds 277 bytes");

int OpenForReading(const char* ansiPath)
{
    return ansiPath != nullptr ? _open(ansiPath, _O_RDONLY | _O_BINARY) : -1;
}

// UTF-16 paths open through the wide call on the NT family, so names outside the ANSI code page work.
int OpenForReading(const wchar_t* path)
{
    if (path == nullptr) {
        return -1;
    }
    if (WinIsNtPlatform()) {
        return _wopen(path, _O_RDONLY | _O_BINARY);
    }
    const AnsiPath ansi(path);
    return ansi.ok() ? OpenForReading(ansi.c_str()) : -1;
}

std::int64_t FileLength(int fd)
{
    return _lseeki64(fd, 0, SEEK_END);
}

// Reads up to `size` bytes at `position`; returns how many were read (0 on any failure).
std::size_t ReadAt(int fd, std::int64_t position, void* buffer, std::size_t size)
{
    if (position < 0 || _lseeki64(fd, position, SEEK_SET) != position) {
        return 0;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t step = std::min<std::size_t>(size - done, 1u << 20);
        const int got = _read(fd, out + done, static_cast<unsigned>(step));
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

class FdOwner {
public:
    explicit FdOwner(int fd) : fd_(fd) {}
    FdOwner(const FdOwner&) = delete;
    FdOwner& operator=(const FdOwner&) = delete;
    ~FdOwner()
    {
        if (fd_ >= 0) {
            _close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

std::uint32_t BigEndian32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint32_t BigEndian24(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

// The frame bytes of an ID3v2 tag, read in 512-byte steps, with the unsynchronisation undone when the
// tag's header says so (every 0xFF 0x00 pair gives 0xFF). Never reads past the end of the tag.
class TagStream {
public:
    TagStream(int fd, std::int64_t begin, std::int64_t end, bool unsync)
        : fd_(fd), next_(begin), end_(end), unsync_(unsync)
    {}

    // Reads up to n bytes; fewer at the end of the tag.
    std::size_t Read(std::uint8_t* out, std::size_t n)
    {
        std::size_t done = 0;
        while (done < n && NextByte(out[done])) {
            ++done;
        }
        return done;
    }

    // Skips n bytes; false when the tag ends first.
    bool Skip(std::uint64_t n)
    {
        if (n > RawLeft()) {
            return false;
        }
        if (!unsync_) {
            const std::size_t inChunk = length_ - position_;
            if (n <= inChunk) {
                position_ += static_cast<std::size_t>(n);
            } else {
                position_ = length_;
                next_ += static_cast<std::int64_t>(n - inChunk);
            }
            return true;
        }
        std::uint8_t b = 0;
        for (std::uint64_t i = 0; i < n; ++i) {
            if (!NextByte(b)) {
                return false;
            }
        }
        return true;
    }

    // Bytes of the file not yet consumed inside the tag: no frame can be longer.
    std::uint64_t RawLeft() const { return static_cast<std::uint64_t>(end_ - next_) + (length_ - position_); }

private:
    bool NextByte(std::uint8_t& b)
    {
        for (;;) {
            if (position_ == length_ && !Fill()) {
                return false;
            }
            b = chunk_[position_++];
            if (unsync_ && afterFF_ && b == 0x00) {
                afterFF_ = false;
                continue;
            }
            afterFF_ = b == 0xFF;
            return true;
        }
    }

    bool Fill()
    {
        if (next_ >= end_) {
            return false;
        }
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(sizeof(chunk_), end_ - next_));
        const std::size_t got = ReadAt(fd_, next_, chunk_, want);
        if (got == 0) {
            return false;
        }
        next_ += static_cast<std::int64_t>(got);
        length_ = got;
        position_ = 0;
        return true;
    }

    int fd_;
    std::int64_t next_;  // file position of the next chunk
    std::int64_t end_;
    bool unsync_;
    bool afterFF_ = false;
    std::uint8_t chunk_[512] = {};
    std::size_t length_ = 0;
    std::size_t position_ = 0;
};

// UTF-16LE bytes (up to the first zero unit) converted to ANSI into out, through a buffer of their own.
void Utf16ToAnsi(const std::uint8_t* bytes, std::size_t size, char* out, std::size_t outSize)
{
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == L'\0') {
            break;
        }
        text.push_back(unit);
    }
    // A text longer than the buffer is cut at a character boundary: units go from its end until the
    // rest converts.
    while (!text.empty() && WideToAnsi(text.c_str(), out, static_cast<std::uint32_t>(outSize)) == 0)
        text.pop_back();
    if (text.empty() && outSize > 0)
        out[0] = '\0';
}

// A text read from a tag as the player's tag uses it: UTF-16 (marked little-endian) converted to ANSI,
// then tabs, line ends and spaces stripped from both ends.
std::string CleanText(const char* buffer)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer);
    std::string text;
    if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
        char converted[kTextSize];
        Utf16ToAnsi(bytes + 2, kTextSize - 2, converted, sizeof(converted));
        text = converted;
    } else {
        text.assign(buffer, strnlen(buffer, kTextSize));
    }
    constexpr std::string_view blanks = "\t\r\n ";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// "title - artist", cut to 127 units with "..." where it is longer than 126.
std::wstring JoinTitleArtist(const std::wstring& title, const std::wstring& artist)
{
    const std::wstring separator = L" - ";
    const std::size_t t = title.size();
    const std::size_t a = artist.size();
    const std::size_t length = t + separator.size() + a;
    if (length <= 126) {
        return title + separator + artist;
    }
    if (t < 60) {
        return (title + separator + artist).substr(0, 124) + L"...";
    }
    if (a >= 60) {
        return (title.substr(0, 59) + L"..." + separator + artist).substr(0, 124) + L"...";
    }
    // The artist is short: keep all of it and shorten the title to make 127.
    std::wstring shortTitle = title.substr(0, t - (length - 127));
    shortTitle.replace(shortTitle.size() - 3, 3, L"...");
    return shortTitle + separator + artist;
}

struct V1Field {
    const char* id;
    std::size_t offset;
    std::size_t size;
};

// The v1 tag's fields, asked for by the v2.3 frame ids.
constexpr V1Field kV1Fields[] = {
    {"TIT2", 3, 30}, {"TPE1", 33, 30}, {"TALB", 63, 30}, {"TYER", 93, 4}, {"COMM", 97, 30},
};

}  // namespace

TagRecord::TagRecord() = default;

TagRecord::~TagRecord()
{
    Close();
}

void TagRecord::Close()
{
    if (fd_ >= 0) {
        _close(fd_);
        fd_ = -1;
    }
}

std::uint32_t TagRecord::ParseId3v2Header(const std::uint8_t* header)
{
    if (header == nullptr || std::memcmp(header, "ID3", 3) != 0 || header[3] != 3 || header[4] == 0xFF) {
        return 0;
    }
    std::uint32_t size = 0;
    for (int i = 6; i < 10; ++i) {
        if (header[i] >= 0x80) {
            return 0;
        }
        size = (size << 7) | header[i];
    }
    return size;
}

std::uint32_t TagRecord::BuildTagFromFile(const wchar_t* path, std::int64_t* audioOffset,
                                          std::unique_ptr<std::uint8_t[]>* tag)
{
    Close();
    fd_ = OpenForReading(path);
    return Build(audioOffset, tag);
}

std::uint32_t TagRecord::BuildTagFromFile(const char* ansiPath, std::int64_t* audioOffset,
                                          std::unique_ptr<std::uint8_t[]>* tag)
{
    Close();
    fd_ = OpenForReading(ansiPath);
    return Build(audioOffset, tag);
}

bool TagRecord::LocateTags()
{
    fileLength_ = FileLength(fd_);
    hasV1_ = false;
    v2Size_ = 0;
    headerBytes_ = 0;
    std::memset(header_, 0, sizeof(header_));
    if (fileLength_ < 0) {
        return false;
    }
    std::int64_t left = fileLength_;
    if (fileLength_ >= static_cast<std::int64_t>(kV1Size) &&
        ReadAt(fd_, fileLength_ - kV1Size, v1_, kV1Size) == kV1Size && std::memcmp(v1_, "TAG", 3) == 0) {
        hasV1_ = true;
        left -= kV1Size;
    }
    headerBytes_ = static_cast<std::uint32_t>(ReadAt(fd_, 0, header_, sizeof(header_)));
    if (headerBytes_ == sizeof(header_)) {
        const std::uint32_t size = ParseId3v2Header(header_);
        // A tag said to be longer than the file is no tag.
        if (size != 0 && std::int64_t{size} + 10 <= left) {
            v2Size_ = size;
        }
    }
    return hasV1_ || v2Size_ != 0;
}

void TagRecord::ReadText(const char* id, char* out)
{
    out[0] = '\0';
    const bool v22 = headerBytes_ >= 4 && std::memcmp(header_, "ID3", 3) == 0 && header_[3] == 2;
    if (v22) {
        // The v1 tag is not consulted for a v2.2 file.
        ReadV22Text(id, out);
        return;
    }
    if (v2Size_ != 0 && ReadV23Text(id, out)) {
        return;
    }
    out[0] = '\0';
    if (hasV1_) {
        ReadV1Text(id, out);
    }
}

void TagRecord::ReadV22Text(const char* id, char* out)
{
    std::uint8_t window[kV22Window];
    const std::size_t got = ReadAt(fd_, 0, window, sizeof(window));
    // A frame header is the 3-byte id and a 3-byte size; the encoding byte follows.
    for (std::size_t p = 0; p < kV22SearchPositions && p + 6 <= got; ++p) {
        if (std::memcmp(window + p, id, 3) != 0) {
            continue;
        }
        const std::uint32_t size = BigEndian24(window + p + 3);
        const std::size_t start = p + 7;
        if (size == 0 || start >= got) {
            return;
        }
        const std::size_t length = std::min({std::size_t{size} - 1, got - start, kTextSize - 1});
        std::memcpy(out, window + start, length);
        out[length] = '\0';
        return;
    }
}

bool TagRecord::ReadV23Text(const char* id, char* out)
{
    TagStream stream(fd_, 10, 10 + std::int64_t{v2Size_}, (header_[5] & 0x80) != 0);
    for (;;) {
        std::uint8_t frame[10];
        if (stream.Read(frame, sizeof(frame)) < sizeof(frame)) {
            return false;
        }
        if (BigEndian32(frame) == 0) {
            return false;  // padding
        }
        const std::uint32_t size = BigEndian32(frame + 4);
        if (size > stream.RawLeft()) {
            return false;  // runs past the tag
        }
        if (std::memcmp(frame, id, 4) != 0) {
            if (!stream.Skip(size)) {
                return false;
            }
            continue;
        }
        // The first frame with the wanted id decides: used, or the v1 tag instead.
        const std::uint8_t flags = frame[9];
        if (frame[0] != 'T' || (flags & 0xC0) != 0) {
            return false;  // not a text frame, compressed or encrypted
        }
        const std::size_t group = (flags & 0x20) != 0 ? 1 : 0;
        if (size < group + 1) {
            return false;
        }
        const std::size_t want = std::min<std::size_t>(size, kFrameBodyLimit);
        std::unique_ptr<std::uint8_t[]> body(new (std::nothrow) std::uint8_t[want]);
        if (!body || stream.Read(body.get(), want) != want) {
            return false;
        }
        const std::uint8_t* text = body.get() + group;
        const std::size_t length = want - group;
        if (text[0] == 0x00) {
            const std::size_t n = std::min(length - 1, kTextSize - 1);
            std::memcpy(out, text + 1, n);
            out[n] = '\0';
            return true;
        }
        if (text[0] == 0x01 && length >= 3 && text[1] == 0xFF && text[2] == 0xFE) {
            // A second byte-order mark ends a description that precedes the text.
            std::size_t start = 3;
            for (std::size_t p = 3; p + 1 < length; p += 2) {
                if (text[p] == 0xFF && text[p + 1] == 0xFE) {
                    start = p + 2;
                    break;
                }
            }
            Utf16ToAnsi(text + start, length - start, out, kTextSize);
            return true;
        }
        return false;  // other encodings, big-endian text
    }
}

void TagRecord::ReadV1Text(const char* id, char* out)
{
    for (const V1Field& field : kV1Fields) {
        if (std::memcmp(field.id, id, 4) == 0) {
            std::memcpy(out, v1_ + field.offset, field.size);
            out[field.size] = '\0';
            return;
        }
    }
}

std::uint32_t TagRecord::Build(std::int64_t* audioOffset, std::unique_ptr<std::uint8_t[]>* tag)
{
    if (audioOffset != nullptr) {
        *audioOffset = 0;
    }
    if (tag != nullptr) {
        tag->reset();
    }
    if (fd_ < 0 || audioOffset == nullptr || tag == nullptr) {
        Close();
        return 0;
    }
    if (!LocateTags()) {
        Close();
        return 0;
    }
    *audioOffset = v2Size_ != 0 ? 10 + std::int64_t{v2Size_} : 0;

    const bool v22 = headerBytes_ >= 4 && std::memcmp(header_, "ID3", 3) == 0 && header_[3] == 2;
    std::unique_ptr<char[]> title(new (std::nothrow) char[kTextSize]());
    std::unique_ptr<char[]> artist(new (std::nothrow) char[kTextSize]());
    if (!title || !artist) {
        Close();
        return 0;
    }
    ReadText(v22 ? "TT2" : "TIT2", title.get());
    ReadText(v22 ? "TP1" : "TPE1", artist.get());
    Close();

    std::string titleText = CleanText(title.get());
    std::string artistText = CleanText(artist.get());
    if (titleText.empty() && artistText.empty()) {
        return 0;
    }
    if (titleText.empty()) {
        titleText = "UNTITLED";
    }
    if (artistText.empty()) {
        artistText = "UNKNOWN ARTIST";
    }
    const std::wstring text = JoinTitleArtist(AnsiToWide(titleText), AnsiToWide(artistText));
    if (text.empty() || text.size() > kMaxTextUnits) {
        return 0;
    }

    const auto units = static_cast<std::uint32_t>(text.size());
    const std::uint32_t length = TagLength(units);
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[length]());
    if (!bytes) {
        return 0;
    }
    std::uint8_t* p = bytes.get();
    const std::uint32_t tagSize = length - 10;
    const std::uint8_t header[10] = {'I',
                                     'D',
                                     '3',
                                     3,
                                     0,
                                     0,
                                     static_cast<std::uint8_t>((tagSize >> 21) & 0x7F),
                                     static_cast<std::uint8_t>((tagSize >> 14) & 0x7F),
                                     static_cast<std::uint8_t>((tagSize >> 7) & 0x7F),
                                     static_cast<std::uint8_t>(tagSize & 0x7F)};
    std::memcpy(p, header, sizeof(header));
    const std::uint32_t frameSize = 2 * units + 3;
    const std::uint8_t frame[13] = {'T',
                                    'X',
                                    'X',
                                    'X',
                                    static_cast<std::uint8_t>(frameSize >> 24),
                                    static_cast<std::uint8_t>(frameSize >> 16),
                                    static_cast<std::uint8_t>(frameSize >> 8),
                                    static_cast<std::uint8_t>(frameSize),
                                    0,
                                    0,
                                    0x01,
                                    0xFF,
                                    0xFE};
    std::memcpy(p + 10, frame, sizeof(frame));
    for (std::uint32_t i = 0; i < units; ++i) {
        p[23 + 2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
        p[24 + 2 * i] = static_cast<std::uint8_t>(text[i] >> 8);
    }
    *tag = std::move(bytes);
    return length;
}

namespace {

bool SearchFrameSync(int fd, std::int64_t* offset)
{
    if (fd < 0 || offset == nullptr || *offset < 0) {
        return false;
    }
    constexpr std::size_t kChunk = 64 * 1024;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kChunk]);
    if (!buffer) {
        return false;
    }
    std::int64_t position = *offset;
    for (;;) {
        const std::size_t got = ReadAt(fd, position, buffer.get(), kChunk);
        // A sync counts only with the four bytes of a frame header behind it.
        if (got < 4) {
            return false;
        }
        const std::uint8_t* b = buffer.get();
        for (std::size_t i = 0; i + 4 <= got; ++i) {
            if (b[i] != 0xFF) {
                continue;
            }
            switch (b[i + 1]) {
            case 0xFB:
            case 0xFA:
            case 0xF3:
            case 0xF2:
            case 0xE3:
            case 0xE2:
                *offset = position + static_cast<std::int64_t>(i);
                return true;
            default:
                break;
            }
        }
        if (got < kChunk) {
            return false;
        }
        // The last three positions had no four bytes; look at them again in the next chunk.
        position += static_cast<std::int64_t>(got - 3);
    }
}

}  // namespace

bool FindMp3FrameSync(const wchar_t* path, std::int64_t* offset)
{
    const FdOwner file(OpenForReading(path));
    return SearchFrameSync(file.get(), offset);
}

bool FindMp3FrameSync(const char* ansiPath, std::int64_t* offset)
{
    const FdOwner file(OpenForReading(ansiPath));
    return SearchFrameSync(file.get(), offset);
}

}  // namespace engine
