// What the media player learns from a file before it plays it: the kind of audio (MPEG audio layer III or
// PCM WAV), where its audio lies, its length, bit rate, title and author. Every read of the file is
// bounded by its size; a file that cannot be played gives an error code and a text for the user.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mediaplayer {

// Errors of opening and playing, as the control reports them in its error items.
constexpr HRESULT kErrFileOpen = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0301);
constexpr HRESULT kErrEmptyFile = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0302);
constexpr HRESULT kErrUnsupported = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0303);
constexpr HRESULT kErrBadTag = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0304);
constexpr HRESULT kErrTruncated = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0305);
constexpr HRESULT kErrBadWave = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0306);
constexpr HRESULT kErrNoDecoder = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0307);
constexpr HRESULT kErrDecode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0308);
constexpr HRESULT kErrNoOutput = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0309);
constexpr HRESULT kErrOutput = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x030A);
constexpr HRESULT kErrTooLarge = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x030B);

// The largest file opened: its bytes and frame table stay within what a 32-bit process can hold.
constexpr std::uint64_t kMaxMediaFileSize = 1024ull * 1024 * 1024;

// One MPEG audio frame header, decoded.
struct MpegHeader {
    int version = 0;  // 10 = MPEG 1, 20 = MPEG 2, 25 = MPEG 2.5
    int layer = 0;    // 1, 2 or 3
    int bitrate = 0;  // bits per second
    int sampleRate = 0;
    int channels = 0;
    int mode = 0;  // 3 = mono
    bool padding = false;
    int bitrateIndex = 0;
    std::uint32_t frameLength = 0;      // bytes, header included
    std::uint32_t samplesPerFrame = 0;  // per channel
};

// Decodes the four bytes at `p` as a frame header; false when they are not one (free-format frames are
// not accepted: their length is not in the header).
bool ParseMpegHeader(const std::uint8_t* p, MpegHeader* header);

struct MediaFrame {
    std::uint32_t offset;
    std::uint32_t length;
};

struct MediaInfo {
    enum class Kind { kMp3, kWave } kind = Kind::kMp3;
    // The PCM the file gives: for WAV its own format, for MP3 the decoder's output (16-bit).
    WAVEFORMATEX pcm{};
    // MP3: the first audio frame's header and every audio frame (the Xing or Info frame excluded).
    MpegHeader mpeg;
    std::vector<MediaFrame> frames;
    // WAV: the PCM data.
    std::uint64_t dataOffset = 0;
    std::uint64_t dataBytes = 0;

    double duration = 0;      // seconds
    long bitrate = 0;         // bits per second
    std::wstring title;       // empty when the file names none
    std::wstring author;
};

// The result of opening a file: S_OK and the information, or an error code with its text.
struct MediaOpenResult {
    HRESULT hr = E_FAIL;
    std::wstring message;
};

// Reads what the player needs from the bytes of a whole file.
MediaOpenResult ParseMediaBytes(const std::uint8_t* data, std::size_t size, MediaInfo* info);

// The bytes of a whole file, read into memory when it is opened: no handle stays open on it while it
// plays, so other programs may rename, rewrite or delete it meanwhile.
class MediaFileBytes {
public:
    MediaOpenResult Open(const wchar_t* path);
    void Close();
    const std::uint8_t* Data() const { return data_.get(); }
    std::size_t Size() const { return size_; }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
};

// "mm:ss", or "h:mm:ss" from an hour on; negative values count as 0.
std::wstring FormatMediaTime(double seconds);

}  // namespace mediaplayer
