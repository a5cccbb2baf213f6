// Reading media files: MPEG frame headers, the stream's frames with Xing, Info (LAME) and junk, ID3 tags of
// every version, WAV chunks, and the bounds of damaged files; the time texts and the volume on samples.
#include "platform/mediaplayer/media_file.h"
#include "platform/mediaplayer/media_playback.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace mediaplayer;
using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
}

void AppendText(Bytes& b, const char* text)
{
    b.insert(b.end(), text, text + std::strlen(text));
}

// A layer III frame of MPEG 1, 128 kbit/s, 44100 Hz, stereo: 417 bytes (418 padded), payload zero.
Bytes Frame(bool padded = false)
{
    Bytes f(padded ? 418 : 417, 0);
    f[0] = 0xFF;
    f[1] = 0xFB;
    f[2] = padded ? 0x92 : 0x90;
    f[3] = 0x00;
    return f;
}

Bytes Frames(int n)
{
    Bytes b;
    for (int i = 0; i < n; ++i)
        Append(b, Frame());
    return b;
}

// The first frame carrying a Xing or Info header (at byte 36) with a frame count, a byte count, and a LAME
// tag with the encoder delay and padding when `lame`.
Bytes VbrFrame(const char* tag, std::uint32_t frames, std::uint32_t bytes, bool lame, int delay = 0, int padding = 0)
{
    Bytes f = Frame();
    std::memcpy(&f[36], tag, 4);
    f[43] = 3;  // frames and bytes
    for (int i = 0; i < 4; ++i) {
        f[44 + i] = static_cast<std::uint8_t>(frames >> (24 - 8 * i));
        f[48 + i] = static_cast<std::uint8_t>(bytes >> (24 - 8 * i));
    }
    if (lame) {
        std::memcpy(&f[52], "LAME3.100", 9);
        f[52 + 9] = 0x00;  // revision 0
        f[52 + 21] = static_cast<std::uint8_t>(delay >> 4);
        f[52 + 22] = static_cast<std::uint8_t>(((delay & 0xF) << 4) | (padding >> 8));
        f[52 + 23] = static_cast<std::uint8_t>(padding & 0xFF);
    }
    return f;
}

Bytes Synchsafe(std::uint32_t n)
{
    return {static_cast<std::uint8_t>((n >> 21) & 0x7F), static_cast<std::uint8_t>((n >> 14) & 0x7F),
            static_cast<std::uint8_t>((n >> 7) & 0x7F), static_cast<std::uint8_t>(n & 0x7F)};
}

// An ID3v2 tag of `major` version with the frames given (already encoded).
Bytes Id3(int major, const Bytes& frames, std::uint8_t flags = 0)
{
    Bytes b = {'I', 'D', '3', static_cast<std::uint8_t>(major), 0, flags};
    Append(b, Synchsafe(static_cast<std::uint32_t>(frames.size())));
    Append(b, frames);
    return b;
}

// One text frame of ID3v2.3 (plain size) or v2.4 (synchsafe size); data = encoding byte + text.
Bytes TextFrame(int major, const char* id, const Bytes& data)
{
    Bytes b(id, id + 4);
    if (major == 4) {
        Append(b, Synchsafe(static_cast<std::uint32_t>(data.size())));
    } else {
        const auto n = static_cast<std::uint32_t>(data.size());
        Append(b, {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                   static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    }
    Append(b, {0, 0});
    Append(b, data);
    return b;
}

Bytes Latin1(const char* text)
{
    Bytes b = {0};
    AppendText(b, text);
    return b;
}

Bytes Wave(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint32_t dataSize,
           std::size_t dataPresent)
{
    Bytes b;
    AppendText(b, "RIFF");
    Append(b, {0, 0, 0, 0});
    AppendText(b, "WAVEfmt ");
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    const std::uint32_t avg = rate * align;
    Append(b, {16, 0, 0, 0, static_cast<std::uint8_t>(tag), static_cast<std::uint8_t>(tag >> 8),
               static_cast<std::uint8_t>(channels), 0});
    for (std::uint32_t v : {rate, avg})
        Append(b, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
                   static_cast<std::uint8_t>(v >> 24)});
    Append(b, {static_cast<std::uint8_t>(align), 0, static_cast<std::uint8_t>(bits), 0});
    AppendText(b, "data");
    Append(b, {static_cast<std::uint8_t>(dataSize), static_cast<std::uint8_t>(dataSize >> 8),
               static_cast<std::uint8_t>(dataSize >> 16), static_cast<std::uint8_t>(dataSize >> 24)});
    b.resize(b.size() + dataPresent, 0x11);
    return b;
}

TEST(MediaFile, FrameHeadersDecodeEveryVersionAndRefuseReservedFields)
{
    struct Case {
        Bytes bytes;
        bool valid;
        int version = 0, layer = 0, bitrate = 0, rate = 0, channels = 0;
        std::uint32_t length = 0, samples = 0;
    };
    const Case cases[] = {
        {{0xFF, 0xFB, 0x90, 0x00}, true, 10, 3, 128000, 44100, 2, 417, 1152},
        {{0xFF, 0xFB, 0x92, 0x00}, true, 10, 3, 128000, 44100, 2, 418, 1152},
        {{0xFF, 0xF3, 0x48, 0xC0}, true, 20, 3, 32000, 16000, 1, 144, 576},
        {{0xFF, 0xE3, 0x18, 0xC4}, true, 25, 3, 8000, 8000, 1, 72, 576},
        {{0xFF, 0xFD, 0x90, 0x00}, true, 10, 2, 160000, 44100, 2, 522, 1152},
        {{0xFF, 0xEB, 0x90, 0x00}, false},  // reserved version
        {{0xFF, 0xF9, 0x90, 0x00}, false},  // reserved layer
        {{0xFF, 0xFB, 0xF0, 0x00}, false},  // bit rate index 15
        {{0xFF, 0xFB, 0x00, 0x00}, false},  // free format
        {{0xFF, 0xFB, 0x9C, 0x00}, false},  // reserved sample rate
        {{0xFF, 0x7B, 0x90, 0x00}, false},  // no sync
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.bytes));
        MpegHeader h;
        ASSERT_EQ(k.valid, ParseMpegHeader(k.bytes.data(), &h));
        if (!k.valid)
            continue;
        EXPECT_EQ(k.version, h.version);
        EXPECT_EQ(k.layer, h.layer);
        EXPECT_EQ(k.bitrate, h.bitrate);
        EXPECT_EQ(k.rate, h.sampleRate);
        EXPECT_EQ(k.channels, h.channels);
        EXPECT_EQ(k.length, h.frameLength);
        EXPECT_EQ(k.samples, h.samplesPerFrame);
    }
}

TEST(MediaFile, Mp3StreamsGiveFramesLengthBitrateAndTags)
{
    const double frame = 1152.0 / 44100;
    Bytes withJunk = Frames(4);
    Append(withJunk, Bytes(37, 0x55));
    Append(withJunk, Frames(6));
    Bytes v1 = Frames(10);
    Bytes v1tag(128, 0);
    std::memcpy(&v1tag[0], "TAG", 3);
    std::memcpy(&v1tag[3], "Old title  ", 11);
    std::memcpy(&v1tag[33], "Old artist", 10);
    Append(v1, v1tag);
    Bytes xing = VbrFrame("Xing", 10, 11 * 417, false);
    Append(xing, Frames(10));
    Bytes info = VbrFrame("Info", 10, 11 * 417, true, 576, 1000);
    Append(info, Frames(10));
    // A VBRI frame (at byte 36): its frame and byte counts.
    Bytes vbri = Frame();
    std::memcpy(&vbri[36], "VBRI", 4);
    const std::uint32_t vbriBytes = 10 * 417, vbriFrames = 10;
    for (int i = 0; i < 4; ++i) {
        vbri[46 + i] = static_cast<std::uint8_t>(vbriBytes >> (24 - 8 * i));
        vbri[50 + i] = static_cast<std::uint8_t>(vbriFrames >> (24 - 8 * i));
    }
    Append(vbri, Frames(10));
    // Tags: v2.3 with a Latin-1 title and a UTF-16 author, v2.4 UTF-8, v2.2 three-letter frames.
    Bytes v23 = Id3(3, [] {
        Bytes f = TextFrame(3, "TIT2", Latin1("Caf\xe9"));
        Append(f, TextFrame(3, "TPE1", {1, 0xFF, 0xFE, 'A', 0, 0xE9, 0, 0, 0}));
        Append(f, Bytes(20, 0));  // padding
        return f;
    }());
    Append(v23, Frames(10));
    Bytes v24 = Id3(4, [] {
        Bytes f = TextFrame(4, "TPE1", {3, 'B', 0xC3, 0xBC, 'r'});
        Append(f, TextFrame(4, "TIT2", {3, 0xE2, 0x98, 0x83}));
        return f;
    }());
    Append(v24, Frames(10));
    Bytes v22 = Id3(2, {'T', 'T', '2', 0, 0, 4, 0, 'O', 'n', 'e', 'T', 'P', '1', 0, 0, 4, 0, 'T', 'w', 'o'});
    Append(v22, Frames(10));
    // A frame whose size runs past its tag ends the tag's walk; the audio still plays.
    Bytes badFrame = Id3(3, TextFrame(3, "TIT2", Latin1("x")));
    badFrame[10 + 7] = 0x7F;
    Append(badFrame, Frames(10));

    struct Case {
        const char* name;
        const Bytes* bytes;
        size_t frames;
        double duration;
        long bitrate;
        const wchar_t* title;
        const wchar_t* author;
    };
    const Bytes plain = Frames(10);
    const Case cases[] = {
        {"plain", &plain, 10, 10 * frame, 128000, L"", L""},
        {"junk between frames", &withJunk, 10, 10 * frame, 128000, L"", L""},
        {"ID3v1", &v1, 10, 10 * frame, 128000, L"Old title", L"Old artist"},
        {"Xing", &xing, 10, 10 * frame, static_cast<long>(std::nearbyint(10 * 417 * 8 * 44100.0 / (10 * 1152))), L"", L""},
        {"Info with LAME delay and padding", &info, 10, (10 * 1152 - 1576) / 44100.0,
         static_cast<long>(std::nearbyint(10 * 417 * 8 * 44100.0 / (10 * 1152))), L"", L""},
        {"VBRI", &vbri, 10, 10 * frame, static_cast<long>(10 * 417 * 8 / (10 * frame)), L"", L""},
        {"ID3v2.3", &v23, 10, 10 * frame, 128000, L"Caf\u00e9", L"A\u00e9"},
        {"ID3v2.4", &v24, 10, 10 * frame, 128000, L"\u2603", L"B\u00fcr"},
        {"ID3v2.2", &v22, 10, 10 * frame, 128000, L"One", L"Two"},
        {"tag frame past its tag", &badFrame, 10, 10 * frame, 128000, L"", L""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        MediaInfo info;
        const MediaOpenResult r = ParseMediaBytes(k.bytes->data(), k.bytes->size(), &info);
        ASSERT_EQ(S_OK, r.hr) << std::string(r.message.begin(), r.message.end());
        EXPECT_EQ(MediaInfo::Kind::kMp3, info.kind);
        EXPECT_EQ(k.frames, info.frames.size());
        EXPECT_NEAR(k.duration, info.duration, 1e-9);
        EXPECT_EQ(k.bitrate, info.bitrate);
        EXPECT_EQ(std::wstring(k.title), info.title);
        EXPECT_EQ(std::wstring(k.author), info.author);
        EXPECT_EQ(44100u, info.pcm.nSamplesPerSec);
        EXPECT_EQ(2, info.pcm.nChannels);
        EXPECT_EQ(16, info.pcm.wBitsPerSample);
        for (const MediaFrame& f : info.frames) {
            ASSERT_LE(f.offset + f.length, k.bytes->size());
            EXPECT_EQ(0xFF, (*k.bytes)[f.offset]);
            EXPECT_EQ(0x90, (*k.bytes)[f.offset + 2]);  // never the VBR frame
            EXPECT_EQ(0, (*k.bytes)[f.offset + 36]);
        }
    }
}

TEST(MediaFile, DamagedFilesAreRefusedWithTheirReason)
{
    Bytes cut = Frames(10);
    cut.resize(cut.size() - 100);
    Bytes missingFrames = VbrFrame("Info", 12, 13 * 417, true);
    Append(missingFrames, Frames(10));
    Bytes hugeTag = {'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    Append(hugeTag, Frames(10));
    Bytes badSize = {'I', 'D', '3', 3, 0, 0, 0x00, 0x80, 0x00, 0x00};
    Append(badSize, Frames(10));
    Bytes headerCut = {'I', 'D', '3', 3, 0};
    Bytes layer2;
    for (int i = 0; i < 10; ++i) {
        Bytes f(522, 0);
        f[0] = 0xFF;
        f[1] = 0xFD;
        f[2] = 0x90;
        Append(layer2, f);
    }
    const Bytes zeros(5000, 0);
    Bytes oneSync = zeros;
    oneSync[100] = 0xFF;
    oneSync[101] = 0xFB;
    oneSync[102] = 0x90;
    const Bytes floatWave = Wave(3, 1, 8000, 32, 16, 16);
    const Bytes bits24 = Wave(1, 2, 44100, 24, 600, 600);
    Bytes noData = Wave(1, 2, 44100, 16, 0, 0);
    noData.resize(noData.size() - 8);
    Bytes shortFmt = Wave(1, 2, 44100, 16, 8, 8);
    shortFmt[16] = 8;
    struct Case {
        const char* name;
        Bytes bytes;
        HRESULT hr;
    };
    const Case cases[] = {
        {"empty", {}, kErrEmptyFile},
        {"last frame cut", cut, kErrTruncated},
        {"fewer frames than the Info frame counts", missingFrames, kErrTruncated},
        {"ID3 size beyond the file", hugeTag, kErrBadTag},
        {"ID3 size not synchsafe", badSize, kErrBadTag},
        {"file ends in the ID3 header", headerCut, kErrBadTag},
        {"layer II", layer2, kErrUnsupported},
        {"zeros", zeros, kErrUnsupported},
        {"a lone frame header", oneSync, kErrUnsupported},
        {"float WAV", floatWave, kErrUnsupported},
        {"24-bit WAV", bits24, kErrUnsupported},
        {"WAV without data", noData, kErrBadWave},
        {"WAV format chunk too short", shortFmt, kErrBadWave},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        MediaInfo info;
        const MediaOpenResult r = ParseMediaBytes(k.bytes.data(), k.bytes.size(), &info);
        EXPECT_EQ(k.hr, r.hr);
        EXPECT_FALSE(r.message.empty());
    }
}

TEST(MediaFile, WavGivesItsFormatAndOnlyTheDataTheFileHolds)
{
    struct Case {
        const char* name;
        Bytes bytes;
        std::uint64_t dataBytes;
        double duration;
        long bitrate;
    };
    const Case cases[] = {
        {"16-bit stereo", Wave(1, 2, 44100, 16, 44100 * 4, 44100 * 4), 44100 * 4, 1.0, 1411200},
        {"8-bit mono", Wave(1, 1, 22050, 8, 11025, 11025), 11025, 0.5, 176400},
        {"data size beyond the file", Wave(1, 2, 44100, 16, 0x7FFFFFF0, 4410 * 4 + 3), 4410 * 4, 0.1, 1411200},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        MediaInfo info;
        ASSERT_EQ(S_OK, ParseMediaBytes(k.bytes.data(), k.bytes.size(), &info).hr);
        EXPECT_EQ(MediaInfo::Kind::kWave, info.kind);
        EXPECT_EQ(44u, info.dataOffset);
        EXPECT_EQ(k.dataBytes, info.dataBytes);
        EXPECT_NEAR(k.duration, info.duration, 1e-9);
        EXPECT_EQ(k.bitrate, info.bitrate);
    }
}

TEST(MediaFile, TimeTexts)
{
    const std::pair<double, const wchar_t*> cases[] = {
        {0, L"00:00"},   {59.9, L"00:59"},      {61, L"01:01"},      {599.5, L"09:59"},
        {3600, L"1:00:00"}, {3725, L"1:02:05"}, {-5, L"00:00"},      {std::nan(""), L"00:00"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(std::wstring(text), FormatMediaTime(seconds)) << seconds;
}

TEST(MediaFile, VolumeActsOnSamples)
{
    const auto run16 = [](int volume, bool mute) {
        Bytes b = {0xE8, 0x03, 0x18, 0xFC, 0xFF, 0x7F, 0x00, 0x80};  // 1000, -1000, 32767, -32768
        ApplyVolume(b.data(), b.size(), 16, volume, mute);
        return b;
    };
    EXPECT_EQ((Bytes{0xE8, 0x03, 0x18, 0xFC, 0xFF, 0x7F, 0x00, 0x80}), run16(100, false));
    EXPECT_EQ((Bytes{0xF4, 0x01, 0x0C, 0xFE, 0xFF, 0x3F, 0x00, 0xC0}), run16(50, false));  // 500 -500 16383 -16384
    EXPECT_EQ(Bytes(8, 0), run16(100, true));
    EXPECT_EQ(Bytes(8, 0), run16(0, false));
    Bytes b8 = {200, 0, 128};
    ApplyVolume(b8.data(), b8.size(), 8, 50, false);
    EXPECT_EQ((Bytes{164, 64, 128}), b8);
    ApplyVolume(b8.data(), b8.size(), 8, 100, true);
    EXPECT_EQ((Bytes{128, 128, 128}), b8);
}

}  // namespace
