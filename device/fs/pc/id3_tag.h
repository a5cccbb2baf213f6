// The tag a downloaded MP3 file gets on the player, and the start of its audio.
//
// The player does not get the PC file's own tag. TagRecord reads the title and artist from the PC
// file's ID3 tags (v2.3 frames, v2.2 frames, or the v1 tag at the end), and builds a small ID3v2.3 tag
// holding one UTF-16 TXXX frame with "title - artist". FindMp3FrameSync then moves the audio start to
// the first MPEG Layer III frame. Every size found in a PC file is untrusted: reads stay inside the
// file, the tag and the buffers whatever the sizes say.
#pragma once

#include <cstdint>
#include <memory>

namespace engine {

class TagRecord {
public:
    TagRecord();
    ~TagRecord();
    TagRecord(const TagRecord&) = delete;
    TagRecord& operator=(const TagRecord&) = delete;

    // Returns the length of the player's tag, or 0 when none is to be written (file not opened, no tag
    // found, or neither title nor artist). On a non-zero result *tag holds the bytes. *audioOffset is
    // the first byte after the file's accepted ID3v2 tag, 0 without one; it is set even when the result
    // is 0. The wide form opens a UTF-16 path with the wide call on the NT family.
    std::uint32_t BuildTagFromFile(const wchar_t* path, std::int64_t* audioOffset,
                                   std::unique_ptr<std::uint8_t[]>* tag);
    std::uint32_t BuildTagFromFile(const char* ansiPath, std::int64_t* audioOffset,
                                   std::unique_ptr<std::uint8_t[]>* tag);

    // The tag size (without the 10 header bytes) from a 10-byte ID3v2 header, or 0 when the header is
    // not accepted: "ID3", major version exactly 3, revision below 255, four size bytes below 128. The
    // flags byte is not examined.
    static std::uint32_t ParseId3v2Header(const std::uint8_t* header);

    // The length of the player's tag for a text of `units` UTF-16 units: 23 + 2 * units.
    static constexpr std::uint32_t TagLength(std::uint32_t units) { return 23 + 2 * units; }
    // The joined text never exceeds this many UTF-16 units, so the tag never exceeds 277 bytes.
    static constexpr std::uint32_t kMaxTextUnits = 127;

private:
    std::uint32_t Build(std::int64_t* audioOffset, std::unique_ptr<std::uint8_t[]>* tag);
    bool LocateTags();
    void ReadText(const char* id, char* out);
    bool ReadV23Text(const char* id, char* out);
    void ReadV22Text(const char* id, char* out);
    void ReadV1Text(const char* id, char* out);
    void Close();

    int fd_ = -1;
    std::int64_t fileLength_ = 0;
    std::uint8_t header_[10] = {};
    std::uint32_t headerBytes_ = 0;
    std::uint32_t v2Size_ = 0;  // accepted ID3v2 tag that fits in the file, else 0
    bool hasV1_ = false;
    std::uint8_t v1_[128] = {};
};

// Moves *offset to the first MPEG Layer III frame sync at or after it: 0xFF followed by 0xFB, 0xFA
// (MPEG-1), 0xF3, 0xF2 (MPEG-2), 0xE3 or 0xE2 (MPEG-2.5), with four bytes of the file at that place.
// False, offset unchanged, when the file cannot be opened or its end comes first.
bool FindMp3FrameSync(const wchar_t* path, std::int64_t* offset);
bool FindMp3FrameSync(const char* ansiPath, std::int64_t* offset);

}  // namespace engine
