// Reading a media file: ID3 tags, MPEG audio frames with their Xing, Info or VBRI frame, and RIFF WAVE.
#include "platform/mediaplayer/media_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <new>

namespace mediaplayer {

namespace {

// A bounded view of bytes: every read checks the range first.
struct Bytes {
    const std::uint8_t* p;
    std::size_t size;

    bool Has(std::size_t offset, std::size_t count) const { return offset <= size && count <= size - offset; }
    std::uint32_t Be32(std::size_t o) const
    {
        return (std::uint32_t{p[o]} << 24) | (std::uint32_t{p[o + 1]} << 16) | (std::uint32_t{p[o + 2]} << 8) | p[o + 3];
    }
    std::uint32_t Le32(std::size_t o) const
    {
        return (std::uint32_t{p[o + 3]} << 24) | (std::uint32_t{p[o + 2]} << 16) | (std::uint32_t{p[o + 1]} << 8) | p[o];
    }
    std::uint16_t Le16(std::size_t o) const { return static_cast<std::uint16_t>(p[o] | (p[o + 1] << 8)); }
    bool Is(std::size_t o, const char* tag, std::size_t n) const { return Has(o, n) && std::memcmp(p + o, tag, n) == 0; }
};

MediaOpenResult Fail(HRESULT hr, const wchar_t* text)
{
    return MediaOpenResult{hr, text};
}

// A synchsafe integer (7 bits a byte); false when a byte has its high bit set.
bool Synchsafe(const std::uint8_t* p, std::uint32_t* value)
{
    if ((p[0] | p[1] | p[2] | p[3]) & 0x80)
        return false;
    *value = (std::uint32_t{p[0]} << 21) | (std::uint32_t{p[1]} << 14) | (std::uint32_t{p[2]} << 7) | p[3];
    return true;
}

// The longest tag text kept.
constexpr std::size_t kMaxTagText = 4096;

std::wstring Latin1(const std::uint8_t* p, std::size_t n)
{
    std::wstring s;
    for (std::size_t i = 0; i < n && p[i] && s.size() < kMaxTagText; ++i)
        s += static_cast<wchar_t>(p[i]);
    return s;
}

std::wstring Utf16(const std::uint8_t* p, std::size_t n, bool bigEndian)
{
    std::wstring s;
    for (std::size_t i = 0; i + 1 < n && s.size() < kMaxTagText; i += 2) {
        const wchar_t c = bigEndian ? static_cast<wchar_t>((p[i] << 8) | p[i + 1]) : static_cast<wchar_t>(p[i] | (p[i + 1] << 8));
        if (c == 0)
            break;
        s += c;
    }
    return s;
}

std::wstring Utf8(const std::uint8_t* p, std::size_t n)
{
    const std::size_t len = std::find(p, p + n, std::uint8_t{0}) - p;
    if (len == 0)
        return {};
    const int bytes = static_cast<int>(std::min(len, kMaxTagText * 4));
    const int chars = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(p), bytes, nullptr, 0);
    if (chars <= 0)
        return {};
    std::wstring s(static_cast<std::size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(p), bytes, s.data(), chars);
    if (s.size() > kMaxTagText)
        s.resize(kMaxTagText);
    return s;
}

// The first string of a text frame's data (encoding byte first).
std::wstring TextFrame(const std::uint8_t* p, std::size_t n)
{
    if (n < 1)
        return {};
    const std::uint8_t encoding = p[0];
    ++p;
    --n;
    switch (encoding) {
    case 0:
        return Latin1(p, n);
    case 1:
        if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF)
            return Utf16(p + 2, n - 2, true);
        if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE)
            return Utf16(p + 2, n - 2, false);
        return Utf16(p, n, false);
    case 2:
        return Utf16(p, n, true);
    case 3:
        return Utf8(p, n);
    default:
        return {};
    }
}

// Undoes the unsynchronisation scheme (FF 00 -> FF).
std::vector<std::uint8_t> Resync(const std::uint8_t* p, std::size_t n)
{
    std::vector<std::uint8_t> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(p[i]);
        if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0x00)
            ++i;
    }
    return out;
}

// Reads the title and author frames of one ID3v2 tag body (the bytes after its 10-byte header).
void ReadId3Frames(int major, std::uint8_t flags, const std::uint8_t* body, std::size_t size, MediaInfo* info)
{
    std::vector<std::uint8_t> resynced;
    if ((flags & 0x80) && major < 4) {
        resynced = Resync(body, size);
        body = resynced.data();
        size = resynced.size();
    }
    Bytes b{body, size};
    std::size_t pos = 0;
    if (flags & 0x40) {
        if (!b.Has(0, 4))
            return;
        if (major == 3) {
            pos = 4 + static_cast<std::size_t>(b.Be32(0));
        } else if (major == 4) {
            std::uint32_t ext = 0;
            if (!Synchsafe(body, &ext))
                return;
            pos = ext;
        }
    }
    const std::size_t headerSize = major == 2 ? 6 : 10;
    while (b.Has(pos, headerSize)) {
        const std::uint8_t* h = body + pos;
        if (h[0] == 0)
            break;  // padding
        std::uint32_t frameSize = 0;
        std::uint8_t formatFlags = 0;
        char id[5] = {};
        if (major == 2) {
            std::memcpy(id, h, 3);
            frameSize = (std::uint32_t{h[3]} << 16) | (std::uint32_t{h[4]} << 8) | h[5];
        } else {
            std::memcpy(id, h, 4);
            if (major == 4) {
                if (!Synchsafe(h + 4, &frameSize))
                    break;
            } else {
                frameSize = b.Be32(pos + 4);
            }
            formatFlags = h[9];
        }
        pos += headerSize;
        if (!b.Has(pos, frameSize))
            break;
        const std::uint8_t* data = body + pos;
        std::size_t dataSize = frameSize;
        pos += frameSize;

        const bool title = std::strcmp(id, "TIT2") == 0 || std::strcmp(id, "TT2") == 0;
        const bool author = std::strcmp(id, "TPE1") == 0 || std::strcmp(id, "TP1") == 0;
        if (!title && !author)
            continue;
        std::vector<std::uint8_t> frameBytes;
        if (major == 3) {
            if (formatFlags & 0xC0)
                continue;  // compressed or encrypted
            if (formatFlags & 0x20) {
                if (dataSize < 1)
                    continue;
                ++data;
                --dataSize;
            }
        } else if (major == 4) {
            if (formatFlags & 0x0C)
                continue;  // compressed or encrypted
            if (formatFlags & 0x40) {
                if (dataSize < 1)
                    continue;
                ++data;
                --dataSize;
            }
            if (formatFlags & 0x01) {
                if (dataSize < 4)
                    continue;
                data += 4;
                dataSize -= 4;
            }
            if ((formatFlags & 0x02) || (flags & 0x80)) {
                frameBytes = Resync(data, dataSize);
                data = frameBytes.data();
                dataSize = frameBytes.size();
            }
        }
        std::wstring text = TextFrame(data, dataSize);
        if (title && info->title.empty())
            info->title = std::move(text);
        else if (author && info->author.empty())
            info->author = std::move(text);
    }
}

std::wstring TrimmedLatin1(const std::uint8_t* p, std::size_t n)
{
    std::wstring s = Latin1(p, n);
    while (!s.empty() && s.back() == L' ')
        s.pop_back();
    return s;
}

constexpr int kBitrates[2][3][15] = {
    // MPEG 1: layers I, II, III
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    // MPEG 2 and 2.5
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
constexpr int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

bool SameStream(const MpegHeader& a, const MpegHeader& b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate && a.channels == b.channels;
}

// A header at `pos` of the same stream as `first` whose frame ends within `end`.
bool MatchingFrame(Bytes b, std::size_t pos, std::size_t end, const MpegHeader& first, MpegHeader* h)
{
    return pos + 4 <= end && ParseMpegHeader(b.p + pos, h) && SameStream(first, *h);
}

// A frame at `pos` that the next three frames follow (or that the audio ends after): the start of the
// stream, unlikely to be a chance pattern in other data.
bool ConfirmedStart(Bytes b, std::size_t pos, std::size_t end, MpegHeader* header)
{
    if (pos + 4 > end || !ParseMpegHeader(b.p + pos, header) || pos + header->frameLength > end)
        return false;
    std::size_t next = pos + header->frameLength;
    for (int i = 0; i < 3; ++i) {
        if (next == end)
            return true;
        MpegHeader h;
        if (!MatchingFrame(b, next, end, *header, &h) || next + h.frameLength > end)
            return false;
        next += h.frameLength;
    }
    return true;
}

// The Xing, Info or VBRI frame's figures, when the first frame is one.
struct VbrFrame {
    bool present = false;
    bool vbri = false;
    long frames = -1;
    long bytes = -1;
    int lameDelay = 0;
    int lamePadding = 0;
    bool lame = false;
};

int XingOffset(const MpegHeader& h)
{
    if (h.version == 10)
        return h.mode != 3 ? 36 : 21;
    return h.mode != 3 ? 21 : 13;
}

// The LAME version string "LAMEm.nn..." from 3.90 on carries the encoder delay and padding.
bool LameTag(Bytes b, std::size_t pos, std::size_t end, VbrFrame* vbr)
{
    if (!b.Has(pos, 36) || pos + 36 > end)
        return false;
    if (!b.Is(pos, "LAME", 4) && !b.Is(pos, "L3.99", 5))
        return false;
    std::size_t i = pos + (b.Is(pos, "LAME", 4) ? 4 : 1);
    if (b.p[i] < '0' || b.p[i] > '9')
        return false;
    const int major = b.p[i] - '0';
    ++i;
    if (i < pos + 9 && b.p[i] == '.')
        ++i;
    int minor = 0;
    int digits = 0;
    while (i < pos + 9 && b.p[i] >= '0' && b.p[i] <= '9' && digits < 3) {
        minor = minor * 10 + (b.p[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0 || major < 3 || (major == 3 && minor < 90))
        return false;
    if ((b.p[pos + 9] >> 4) != 0)
        return false;  // unknown revision of the tag
    const std::size_t d = pos + 21;
    vbr->lameDelay = (b.p[d] << 4) | (b.p[d + 1] >> 4);
    vbr->lamePadding = ((b.p[d + 1] & 0x0F) << 8) | b.p[d + 2];
    vbr->lame = true;
    return true;
}

VbrFrame ReadVbrFrame(Bytes b, std::size_t frame, const MpegHeader& h)
{
    VbrFrame vbr;
    const std::size_t end = frame + h.frameLength;
    std::size_t pos = frame + static_cast<std::size_t>(XingOffset(h));
    if (pos + 8 <= end && (b.Is(pos, "Xing", 4) || b.Is(pos, "Info", 4))) {
        const std::uint32_t flags = b.Be32(pos + 4);
        pos += 8;
        const auto field = [&](std::uint32_t bit, std::size_t size, long* out) {
            if (!(flags & bit))
                return true;
            if (pos + size > end)
                return false;
            if (out)
                *out = static_cast<long>(std::min<std::uint32_t>(b.Be32(pos), 0x7FFFFFFF));
            pos += size;
            return true;
        };
        if (!field(1, 4, &vbr.frames) || !field(2, 4, &vbr.bytes) || !field(4, 100, nullptr) || !field(8, 4, nullptr))
            return VbrFrame{};
        vbr.present = true;
        LameTag(b, pos, end, &vbr);
        return vbr;
    }
    pos = frame + 36;
    if (pos + 18 <= end && b.Is(pos, "VBRI", 4)) {
        vbr.present = true;
        vbr.vbri = true;
        vbr.bytes = static_cast<long>(std::min<std::uint32_t>(b.Be32(pos + 10), 0x7FFFFFFF));
        vbr.frames = static_cast<long>(std::min<std::uint32_t>(b.Be32(pos + 14), 0x7FFFFFFF));
    }
    return vbr;
}

MediaOpenResult ParseMp3(Bytes b, std::size_t audioStart, std::size_t audioEnd, MediaInfo* info)
{
    // The stream starts at the first frame that other frames follow.
    std::size_t first = audioStart;
    MpegHeader header;
    while (first + 4 <= audioEnd && !ConfirmedStart(b, first, audioEnd, &header))
        ++first;
    if (first + 4 > audioEnd)
        return Fail(kErrUnsupported, L"The file is neither MP3 (MPEG audio layer III) nor PCM WAV audio.");
    if (header.layer != 3)
        return Fail(kErrUnsupported, L"The file is MPEG audio of layer I or II; only layer III (MP3) is played.");

    const VbrFrame vbr = ReadVbrFrame(b, first, header);
    const MpegHeader firstHeader = header;
    std::size_t pos = first;
    if (vbr.present)
        pos += header.frameLength;  // not audio: never handed to the decoder

    info->frames.clear();
    bool sameBitrate = true;
    std::uint64_t audioBytes = 0;
    bool truncated = false;
    while (pos + 4 <= audioEnd) {
        MpegHeader h;
        if (MatchingFrame(b, pos, audioEnd, firstHeader, &h)) {
            if (pos + h.frameLength > audioEnd) {
                truncated = true;
                break;
            }
            if (info->frames.empty())
                header = h;
            else if (h.bitrateIndex != header.bitrateIndex)
                sameBitrate = false;
            info->frames.push_back(MediaFrame{static_cast<std::uint32_t>(pos), h.frameLength});
            audioBytes += h.frameLength;
            pos += h.frameLength;
            continue;
        }
        // Something other than a frame: go on at the next frame that another follows, or end here.
        std::size_t next = pos + 1;
        MpegHeader n;
        while (next + 4 <= audioEnd) {
            if (MatchingFrame(b, next, audioEnd, firstHeader, &n) && next + n.frameLength <= audioEnd) {
                MpegHeader after;
                const std::size_t following = next + n.frameLength;
                if (following == audioEnd || MatchingFrame(b, following, audioEnd, firstHeader, &after))
                    break;
            }
            ++next;
        }
        if (next + 4 > audioEnd)
            break;
        pos = next;
    }
    if (truncated || (vbr.frames > 0 && info->frames.size() < static_cast<std::size_t>(vbr.frames)))
        return Fail(kErrTruncated, L"The file is truncated: its last MP3 frames are missing.");
    if (info->frames.empty())
        return Fail(kErrUnsupported, L"The file holds no MP3 audio frames.");

    info->kind = MediaInfo::Kind::kMp3;
    info->mpeg = header;
    info->pcm = WAVEFORMATEX{};
    info->pcm.wFormatTag = WAVE_FORMAT_PCM;
    info->pcm.nChannels = static_cast<WORD>(header.channels);
    info->pcm.nSamplesPerSec = static_cast<DWORD>(header.sampleRate);
    info->pcm.wBitsPerSample = 16;
    info->pcm.nBlockAlign = static_cast<WORD>(header.channels * 2);
    info->pcm.nAvgBytesPerSec = info->pcm.nSamplesPerSec * info->pcm.nBlockAlign;

    const double rate = header.sampleRate;
    const double spf = header.samplesPerFrame;
    if (vbr.present && vbr.frames >= 0) {
        // The VBR frame's figures; its own header's bit rate when it gives no byte count.
        double samples = spf * static_cast<double>(vbr.frames);
        info->bitrate = firstHeader.bitrate;
        if (vbr.vbri) {
            info->duration = samples / rate;
            if (info->duration > 0 && vbr.bytes >= 0)
                info->bitrate = static_cast<long>(static_cast<double>(vbr.bytes) * 8 / info->duration);
        } else {
            if (vbr.bytes >= 0 && samples > 0) {
                const double bytes = std::max(0.0, static_cast<double>(vbr.bytes) - firstHeader.frameLength);
                info->bitrate = static_cast<long>(std::nearbyint(bytes * 8 * rate / samples));
            }
            if (vbr.lame)
                samples -= vbr.lameDelay + vbr.lamePadding;
            info->duration = std::max(0.0, samples) / rate;
        }
    } else {
        const double samples = spf * static_cast<double>(info->frames.size());
        info->duration = samples / rate;
        info->bitrate = sameBitrate ? header.bitrate
                                    : static_cast<long>(std::nearbyint(static_cast<double>(audioBytes) * 8 * rate / samples));
    }
    return MediaOpenResult{S_OK, {}};
}

MediaOpenResult ParseWave(Bytes b, MediaInfo* info)
{
    static const GUID kPcmSubformat = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    bool haveFormat = false;
    bool haveData = false;
    WAVEFORMATEX format{};
    std::size_t pos = 12;
    while (b.Has(pos, 8) && !(haveFormat && haveData)) {
        const std::uint32_t size = b.Le32(pos + 4);
        const std::size_t body = pos + 8;
        if (b.Is(pos, "fmt ", 4) && !haveFormat) {
            if (size < 16 || !b.Has(body, 16))
                return Fail(kErrBadWave, L"The WAV file's format chunk is damaged.");
            WORD tag = b.Le16(body);
            if (tag == 0xFFFE) {
                GUID sub{};
                if (size < 40 || !b.Has(body, 40))
                    return Fail(kErrBadWave, L"The WAV file's format chunk is damaged.");
                std::memcpy(&sub, b.p + body + 24, sizeof sub);
                if (sub == kPcmSubformat)
                    tag = WAVE_FORMAT_PCM;
            }
            format.wFormatTag = tag;
            format.nChannels = b.Le16(body + 2);
            format.nSamplesPerSec = b.Le32(body + 4);
            format.nAvgBytesPerSec = b.Le32(body + 8);
            format.nBlockAlign = b.Le16(body + 12);
            format.wBitsPerSample = b.Le16(body + 14);
            haveFormat = true;
        } else if (b.Is(pos, "data", 4) && haveFormat) {
            info->dataOffset = body;
            info->dataBytes = std::min<std::uint64_t>(size, b.Has(body, 0) ? b.size - body : 0);
            haveData = true;
        }
        if (size > b.size - std::min(b.size, body))
            break;
        pos = body + size + (size & 1);
    }
    if (!haveFormat || !haveData)
        return Fail(kErrBadWave, L"The WAV file has no format or no data chunk.");
    if (format.wFormatTag != WAVE_FORMAT_PCM)
        return Fail(kErrUnsupported, L"The WAV file is not PCM audio; only PCM WAV files are played.");
    if ((format.wBitsPerSample != 8 && format.wBitsPerSample != 16) || format.nChannels < 1 || format.nChannels > 2 ||
        format.nSamplesPerSec < 1000 || format.nSamplesPerSec > 192000 ||
        format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8)
        return Fail(kErrUnsupported, L"The WAV file's PCM format is not played: only 8- or 16-bit mono or stereo is.");
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.cbSize = 0;
    info->kind = MediaInfo::Kind::kWave;
    info->pcm = format;
    info->dataBytes -= info->dataBytes % format.nBlockAlign;
    info->duration = static_cast<double>(info->dataBytes / format.nBlockAlign) / format.nSamplesPerSec;
    info->bitrate = static_cast<long>(format.nAvgBytesPerSec) * 8;
    return MediaOpenResult{S_OK, {}};
}

}  // namespace

MediaOpenResult ParseMediaBytesOrThrow(const std::uint8_t* data, std::size_t size, MediaInfo* info);

bool ParseMpegHeader(const std::uint8_t* p, MpegHeader* header)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    MpegHeader h;
    h.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    h.layer = 4 - layerBits;
    h.bitrateIndex = bitrateIndex;
    h.bitrate = kBitrates[h.version == 10 ? 0 : 1][h.layer - 1][bitrateIndex] * 1000;
    h.sampleRate = kRates[h.version == 10 ? 0 : h.version == 20 ? 1 : 2][rateIndex];
    h.padding = (p[2] >> 1) & 1;
    h.mode = p[3] >> 6;
    h.channels = h.mode == 3 ? 1 : 2;
    if (h.layer == 1) {
        h.samplesPerFrame = 384;
        h.frameLength = static_cast<std::uint32_t>((12 * h.bitrate / h.sampleRate + (h.padding ? 1 : 0)) * 4);
    } else {
        h.samplesPerFrame = (h.layer == 3 && h.version != 10) ? 576 : 1152;
        const int perByte = static_cast<int>(h.samplesPerFrame) / 8;
        h.frameLength = static_cast<std::uint32_t>(perByte * h.bitrate / h.sampleRate + (h.padding ? 1 : 0));
    }
    if (h.frameLength < 4)
        return false;
    *header = h;
    return true;
}

MediaOpenResult ParseMediaBytes(const std::uint8_t* data, std::size_t size, MediaInfo* info)
{
    // The frame table and the tag texts grow with the file: running out of memory is a failure to open.
    try {
        return ParseMediaBytesOrThrow(data, size, info);
    } catch (const std::bad_alloc&) {
        *info = MediaInfo{};
        return Fail(E_OUTOFMEMORY, L"Not enough memory to open the file.");
    }
}

MediaOpenResult ParseMediaBytesOrThrow(const std::uint8_t* data, std::size_t size, MediaInfo* info)
{
    *info = MediaInfo{};
    if (size == 0)
        return Fail(kErrEmptyFile, L"The file is empty.");
    Bytes b{data, size};
    if (b.Is(0, "RIFF", 4) && b.Is(8, "WAVE", 4))
        return ParseWave(b, info);

    // ID3v2 tags (one after another, as some writers leave them).
    std::size_t audioStart = 0;
    for (int tags = 0; tags < 16 && b.Is(audioStart, "ID3", 3); ++tags) {
        if (!b.Has(audioStart, 10))
            return Fail(kErrBadTag, L"The file's ID3v2 tag is damaged: the file ends inside its header.");
        const std::uint8_t* h = data + audioStart;
        std::uint32_t tagSize = 0;
        if (!Synchsafe(h + 6, &tagSize))
            return Fail(kErrBadTag, L"The file's ID3v2 tag is damaged: its size is not valid.");
        const int major = h[3];
        const std::uint8_t flags = h[5];
        const std::uint64_t total = 10ull + tagSize + ((major == 4 && (flags & 0x10)) ? 10 : 0);
        if (total > size - audioStart)
            return Fail(kErrBadTag, L"The file's ID3v2 tag claims to be larger than the file.");
        if (major >= 2 && major <= 4)
            ReadId3Frames(major, flags, h + 10, tagSize, info);
        audioStart += static_cast<std::size_t>(total);
    }
    std::size_t audioEnd = size;
    if (size - audioStart >= 128 && b.Is(size - 128, "TAG", 3)) {
        audioEnd = size - 128;
        if (info->title.empty())
            info->title = TrimmedLatin1(data + audioEnd + 3, 30);
        if (info->author.empty())
            info->author = TrimmedLatin1(data + audioEnd + 33, 30);
    }
    std::wstring title = std::move(info->title);
    std::wstring author = std::move(info->author);
    MediaOpenResult r = ParseMp3(b, audioStart, audioEnd, info);
    info->title = std::move(title);
    info->author = std::move(author);
    return r;
}

MediaOpenResult MediaFileBytes::Open(const wchar_t* path)
{
    Close();
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(kErrFileOpen, L"The file cannot be opened: it does not exist or cannot be read.");
    LARGE_INTEGER size{};
    MediaOpenResult r{S_OK, {}};
    if (!GetFileSizeEx(file, &size))
        r = Fail(kErrFileOpen, L"The file cannot be opened: its size cannot be read.");
    else if (size.QuadPart == 0)
        r = Fail(kErrEmptyFile, L"The file is empty.");
    else if (static_cast<std::uint64_t>(size.QuadPart) > kMaxMediaFileSize)
        r = Fail(kErrTooLarge, L"The file is too large to be played (more than 1 GB).");
    if (SUCCEEDED(r.hr)) {
        const auto total = static_cast<std::size_t>(size.QuadPart);
        data_.reset(new (std::nothrow) std::uint8_t[total]);
        if (!data_)
            r = Fail(E_OUTOFMEMORY, L"Not enough memory to open the file.");
        // Read in pieces; a file that shrank meanwhile is read as far as it goes.
        std::size_t done = 0;
        while (SUCCEEDED(r.hr) && done < total) {
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(total - done, 1u << 24));
            DWORD got = 0;
            if (!ReadFile(file, data_.get() + done, piece, &got, nullptr)) {
                r = Fail(kErrFileOpen, L"The file cannot be read.");
                break;
            }
            if (got == 0)
                break;
            done += got;
        }
        size_ = done;
        if (SUCCEEDED(r.hr) && size_ == 0)
            r = Fail(kErrEmptyFile, L"The file is empty.");
    }
    CloseHandle(file);
    if (FAILED(r.hr))
        Close();
    return r;
}

void MediaFileBytes::Close()
{
    data_.reset();
    size_ = 0;
}

std::wstring FormatMediaTime(double seconds)
{
    if (!(seconds > 0))
        seconds = 0;
    if (seconds > 359999999.0)
        seconds = 359999999.0;
    const long long total = static_cast<long long>(seconds);
    wchar_t text[32];
    if (total >= 3600)
        swprintf(text, 32, L"%lld:%02lld:%02lld", total / 3600, (total / 60) % 60, total % 60);
    else
        swprintf(text, 32, L"%02lld:%02lld", total / 60, total % 60);
    return text;
}

}  // namespace mediaplayer
