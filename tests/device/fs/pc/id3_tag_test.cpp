// The player's tag for MP3 downloads and the frame-sync search, against fixtures written at test time by
// mutagen (an independent ID3 implementation, run as a Linux program), hostile tags built here, and
// mutagen reading back what we build.
#include "device/fs/pc/id3_tag.h"
#include "platform/win/win_platform.h"
#include "tests/platform/win/unicode_file_names.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;
using test_support::RunningUnderWine;
using test_support::RunShell;
using test_support::ShellQuote;
using test_support::ShellResult;
using test_support::TempFolder;
using test_support::UnixPath;

constexpr char kPython[] = "/usr/bin/python3";
constexpr char kFixtureScript[] = KWEP_ID3_FIXTURE_SCRIPT;

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string Repeat(const std::string& unit, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text += unit;
    }
    return text;
}

// "0123456789" repeated and cut to n characters: every position is recognisable.
std::string Digits(std::size_t n, char first = '0')
{
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        text += static_cast<char>(first + i % 10);
    }
    return text;
}

void WriteBytes(const std::wstring& path, const Bytes& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) {
        ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    fclose(f);
}

Bytes ReadBytes(const std::wstring& path)
{
    Bytes bytes;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr) {
        return bytes;
    }
    std::uint8_t buffer[4096];
    std::size_t got = 0;
    while ((got = fread(buffer, 1, sizeof(buffer), f)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    fclose(f);
    return bytes;
}

// Test-side family override, undone at the end of the scope.
class ScopedFamily {
public:
    explicit ScopedFamily(bool ntFamily) { WinForcePlatform(ntFamily ? WIN_PLATFORM_NT5 : WIN_PLATFORM_WIN98); }
    ~ScopedFamily() { WinClearForcedPlatform(); }
};

// MPEG Layer III frames of silence, in the forms whose sync the search accepts.
struct FrameKind {
    const char* name;
    std::uint8_t second;  // version, layer and CRC bits after the 0xFF
    std::uint8_t third;   // bit rate and sampling rate
    std::size_t length;   // bytes per frame for that bit rate and sampling rate
};

constexpr FrameKind kMpeg1{"MPEG-1 128 kbit/s 44.1 kHz", 0xFB, 0x90, 417};
constexpr FrameKind kFrameKinds[] = {
    kMpeg1,
    {"MPEG-1 with CRC", 0xFA, 0x90, 417},
    {"MPEG-2 64 kbit/s 22.05 kHz", 0xF3, 0x80, 208},
    {"MPEG-2 with CRC", 0xF2, 0x80, 208},
    {"MPEG-2.5 64 kbit/s 11.025 kHz", 0xE3, 0x80, 417},
    {"MPEG-2.5 with CRC", 0xE2, 0x80, 417},
};

Bytes Frames(const FrameKind& kind, int count)
{
    Bytes bytes;
    for (int i = 0; i < count; ++i) {
        Bytes frame(kind.length, 0);
        frame[0] = 0xFF;
        frame[1] = kind.second;
        frame[2] = kind.third;
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// Runs the mutagen fixture script with a manifest; its standard output goes to *out.
::testing::AssertionResult RunFixtureScript(const TempFolder& folder, const std::string& command,
                                            const std::string& manifest, std::string* out)
{
    const std::wstring manifestPath = folder.File(L"manifest-" + Widen(command) + L".txt");
    FILE* f = _wfopen(manifestPath.c_str(), L"wb");
    if (f == nullptr) {
        return ::testing::AssertionFailure() << "cannot write the manifest";
    }
    fwrite(manifest.data(), 1, manifest.size(), f);
    fclose(f);
    const ShellResult result = RunShell(ShellQuote(kPython) + " " + ShellQuote(kFixtureScript) + " " +
                                        ShellQuote(command) + " " + ShellQuote(UnixPath(manifestPath)));
    if (!result.finished || result.exitCode != 0) {
        return ::testing::AssertionFailure() << kPython << " " << kFixtureScript << " " << command << " failed (exit "
                                             << result.exitCode << "); python3-mutagen must be installed.\n"
                                             << result.err;
    }
    *out = result.out;
    return ::testing::AssertionSuccess();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Split(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator)) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == separator) {
        fields.emplace_back();
    }
    return fields;
}

// Checks the layout of a tag built for the player and gives its text.
::testing::AssertionResult DecodePlayerTag(const std::uint8_t* tag, std::uint32_t length, std::wstring* text)
{
    if (tag == nullptr || length < 23 || (length - 23) % 2 != 0) {
        return ::testing::AssertionFailure() << "tag length " << length;
    }
    const std::uint32_t units = (length - 23) / 2;
    if (units == 0 || units > TagRecord::kMaxTextUnits) {
        return ::testing::AssertionFailure() << "text of " << units << " units";
    }
    const std::uint32_t synchsafe = (tag[6] << 21) | (tag[7] << 14) | (tag[8] << 7) | tag[9];
    const std::uint32_t frameSize = (tag[14] << 24) | (tag[15] << 16) | (tag[16] << 8) | tag[17];
    const Bytes head(tag, tag + 23);
    const Bytes expected = {'I', 'D', '3',     3,       0,       0,       tag[6], tag[7], tag[8], tag[9], 'T', 'X',
                            'X', 'X', tag[14], tag[15], tag[16], tag[17], 0,      0,      0x01,   0xFF,   0xFE};
    if (head != expected || synchsafe != length - 10 || frameSize != 2 * units + 3 ||
        (tag[6] | tag[7] | tag[8] | tag[9]) >= 0x80) {
        return ::testing::AssertionFailure() << "malformed header or frame";
    }
    text->clear();
    for (std::uint32_t i = 0; i < units; ++i) {
        text->push_back(static_cast<wchar_t>(tag[23 + 2 * i] | (tag[24 + 2 * i] << 8)));
    }
    return ::testing::AssertionSuccess();
}

struct BuildResult {
    std::uint32_t length = 0;
    std::int64_t offset = -1;
    std::unique_ptr<std::uint8_t[]> tag;
};

BuildResult Build(const std::wstring& path)
{
    BuildResult result;
    TagRecord record;
    result.length = record.BuildTagFromFile(path.c_str(), &result.offset, &result.tag);
    return result;
}

// Under Wine the ANSI code page is pinned to 1252; the expected texts below assume it.
void RequireWesternCodePage()
{
    ASSERT_EQ(GetACP(), 1252u) << "the tests expect the ANSI code page 1252 (pinned by scripts/wine-exec)";
}

// A text as the player's tag carries it: ANSI 1252 characters, so the expected UTF-8 texts below hold
// only characters of that code page.
struct FixtureRow {
    std::string name;
    std::string kind;
    std::string title;
    std::string artist;
    std::string v1Title;
    std::string v1Artist;
    std::optional<std::string> expected;  // no value: no tag is built
    bool offsetAfterV2;                   // the audio offset is the end of the ID3v2 tag (else 0)
};

std::vector<FixtureRow> MutagenRows()
{
    const std::string ydots = Repeat("ÿ", 700) + "Song";
    return {
        {"v2.3 ISO-8859-1", "v23", "Song", "Band", "", "", "Song - Band", true},
        {"v2.3 UTF-16", "v23+utf16", "Café Œuvre", "Bänd", "", "", "Café Œuvre - Bänd", true},
        {"v2.3 UTF-16, text after a second byte-order mark", "v23+utf16", "First|Second", "Band", "", "",
         "Second - Band", true},
        {"v2.3 unsynchronised, 0xFF 0x00 pairs across reads", "v23+utf16+unsync", ydots, "Bändÿ", "", "",
         Repeat("ÿ", 116) + "... - Bändÿ", true},
        {"v2.3 unsynchronised ISO-8859-1", "v23+unsync", "Sÿÿng", "Bÿÿnd", "", "", "Sÿÿng - Bÿÿnd", true},
        {"v2.3 frames win over v1", "v23+v1", "Song", "Band", "Old Title", "Old Artist", "Song - Band", true},
        {"v2.3 title only, artist from v1", "v23+v1", "Song", "", "Old Title", "Old Artist", "Song - Old Artist", true},
        {"v2.3 title only", "v23", "Song", "", "", "", "Song - UNKNOWN ARTIST", true},
        {"v2.3 artist only", "v23", "", "Band", "", "", "UNTITLED - Band", true},
        {"v2.3 with neither text", "v23", "", "", "", "", std::nullopt, true},
        {"v2.3 blank texts", "v23", " \t", "\r\n ", "", "", std::nullopt, true},
        {"v2.3 blanks stripped", "v23", " \tSong\r\n", "Band  ", "", "", "Song - Band", true},
        {"v1 only, padding stripped", "v1", "", "", "Old Title", "Old Artist", "Old Title - Old Artist", false},
        {"v2.4 is not taken, v1 gives the texts", "v24+v1", "New", "Newer", "Old Title", "Old Artist",
         "Old Title - Old Artist", false},
        {"v2.4 without v1 gives no tag", "v24", "New", "Newer", "", "", std::nullopt, false},
        {"v2.2 with v1: the v2.2 frames", "v22+v1", "T22", "A22", "Old Title", "Old Artist", "T22 - A22", false},
        {"v2.2 UTF-16", "v22+utf16+v1", "Tü", "Aü", "Old Title", "Old Artist", "Tü - Aü", false},
        {"v2.2 without artist: v1 not consulted", "v22+v1", "T22", "", "Old Title", "Old Artist",
         "T22 - UNKNOWN ARTIST", false},
        {"v2.2 without v1 gives no tag", "v22", "T22", "A22", "", "", std::nullopt, false},
        {"title 130, artist 10", "v23", Digits(130), "ArtistName", "", "", Digits(111) + "... - ArtistName", true},
        {"joined length 126 kept", "v23", Digits(59), Digits(64, 'A'), "", "", Digits(59) + " - " + Digits(64, 'A'),
         true},
        {"joined length 127 cut", "v23", Digits(59), Digits(65, 'A'), "", "",
         (Digits(59) + " - " + Digits(65, 'A')).substr(0, 124) + "...", true},
        {"title and artist both 60 or more", "v23", Digits(70), Digits(80, 'A'), "", "",
         (Digits(59) + "... - " + Digits(80, 'A')).substr(0, 124) + "...", true},
        {"long title, short artist", "v23", Digits(100), Digits(30, 'A'), "", "",
         Digits(91) + "... - " + Digits(30, 'A'), true},
    };
}

TEST(PlayerTag, SongAndBandGiveTheExact45Bytes)
{
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "needs Wine to run mutagen";
    }
    TempFolder folder;
    const std::wstring path = folder.File(L"song.mp3");
    ASSERT_NO_FATAL_FAILURE(WriteBytes(path, Frames(kMpeg1, 4)));
    std::string out;
    ASSERT_TRUE(RunFixtureScript(folder, "make",
                                 "v23\t" + UnixPath(path) + "\t" + Hex("Song") + "\t" + Hex("Band") + "\t\t\n", &out));

    const BuildResult built = Build(path);
    const Bytes expected = {'I', 'D', '3', 3,   0, 0,   0,    0,    0,   35,  'T', 'X', 'X', 'X', 0,
                            0,   0,   25,  0,   0, 1,   0xFF, 0xFE, 'S', 0,   'o', 0,   'n', 0,   'g',
                            0,   ' ', 0,   '-', 0, ' ', 0,    'B',  0,   'a', 0,   'n', 0,   'd', 0};
    ASSERT_EQ(built.length, 45u);
    EXPECT_EQ(Bytes(built.tag.get(), built.tag.get() + built.length), expected);
    EXPECT_EQ(built.offset, static_cast<std::int64_t>(ReadBytes(path).size() - 4 * kMpeg1.length));
}

// Fixtures of every ID3 form written by mutagen: the texts, the audio offset, the frame sync found from
// there, and mutagen reading the file as the player gets it (our tag, then the audio from the sync).
TEST(PlayerTag, MutagenFixtures)
{
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "needs Wine to run mutagen";
    }
    ASSERT_NO_FATAL_FAILURE(RequireWesternCodePage());
    TempFolder folder;
    const std::vector<FixtureRow> rows = MutagenRows();
    const Bytes audio = Frames(kMpeg1, 4);
    std::string manifest;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::wstring path = folder.File(L"fixture" + std::to_wstring(i) + L".mp3");
        ASSERT_NO_FATAL_FAILURE(WriteBytes(path, audio));
        manifest += rows[i].kind + "\t" + UnixPath(path) + "\t" + Hex(rows[i].title) + "\t" + Hex(rows[i].artist) +
                    "\t" + Hex(rows[i].v1Title) + "\t" + Hex(rows[i].v1Artist) + "\n";
    }
    std::string out;
    ASSERT_TRUE(RunFixtureScript(folder, "make", manifest, &out));

    std::string checks;
    std::vector<std::size_t> checked;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const FixtureRow& row = rows[i];
        SCOPED_TRACE(row.name);
        const std::wstring path = folder.File(L"fixture" + std::to_wstring(i) + L".mp3");
        const Bytes file = ReadBytes(path);
        const bool hasV1 = row.kind.find("v1") != std::string::npos;
        const auto audioStart = static_cast<std::int64_t>(file.size() - audio.size() - (hasV1 ? 128 : 0));

        const BuildResult built = Build(path);
        EXPECT_EQ(built.offset, row.offsetAfterV2 ? audioStart : 0);
        if (!row.expected) {
            EXPECT_EQ(built.length, 0u);
            EXPECT_TRUE(built.tag == nullptr);
        } else {
            std::wstring text;
            ASSERT_TRUE(DecodePlayerTag(built.tag.get(), built.length, &text));
            EXPECT_EQ(text, Widen(*row.expected));
        }

        std::int64_t sync = built.offset;
        ASSERT_TRUE(FindMp3FrameSync(path.c_str(), &sync));
        EXPECT_EQ(sync, audioStart);

        if (row.expected) {
            const std::wstring player = folder.File(L"player" + std::to_wstring(i) + L".mp3");
            ASSERT_NO_FATAL_FAILURE(WriteBytes(player, Bytes(built.tag.get(), built.tag.get() + built.length) +
                                                           Bytes(file.begin() + sync, file.end())));
            checks += UnixPath(player) + "\n";
            checked.push_back(i);
        }
    }

    ASSERT_TRUE(RunFixtureScript(folder, "check-player", checks, &out));
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), checked.size()) << out;
    for (std::size_t k = 0; k < checked.size(); ++k) {
        const FixtureRow& row = rows[checked[k]];
        SCOPED_TRACE(row.name);
        const std::vector<std::string> fields = Split(lines[k], '\t');
        ASSERT_EQ(fields.size(), 6u) << lines[k];
        EXPECT_EQ(fields[0], "2.3.0");
        EXPECT_EQ(fields[1],
                  std::to_string(TagRecord::TagLength(static_cast<std::uint32_t>(Widen(*row.expected).size()))));
        EXPECT_EQ(fields[2], "TXXX");
        EXPECT_EQ(fields[3], Hex(*row.expected));
        EXPECT_EQ(fields[4], "3") << "MPEG frames right after the tag";
        EXPECT_EQ(fields[5], "0") << "bytes left over after the frame walk";
    }
}

// Tags built here with sizes and flags that no well-behaved writer produces.
namespace hostile {

Bytes Synchsafe(std::uint32_t n)
{
    return {static_cast<std::uint8_t>((n >> 21) & 0x7F), static_cast<std::uint8_t>((n >> 14) & 0x7F),
            static_cast<std::uint8_t>((n >> 7) & 0x7F), static_cast<std::uint8_t>(n & 0x7F)};
}

Bytes BigEndian(std::uint32_t n)
{
    return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n)};
}

Bytes Frame(const char* id, const Bytes& body, std::uint8_t flags = 0, std::optional<std::uint32_t> size = {})
{
    return Text(std::string(id, 4)) + BigEndian(size.value_or(static_cast<std::uint32_t>(body.size()))) +
           Bytes{0, flags} + body;
}

Bytes Latin1(const std::string& text)
{
    return Bytes{0} + Text(text);
}

// An ID3v2.3 tag around the frames; the size in the header may be overridden.
Bytes Tag(const Bytes& frames, std::optional<std::uint32_t> size = {}, std::uint8_t major = 3)
{
    return Bytes{'I', 'D', '3', major, 0, 0} + Synchsafe(size.value_or(static_cast<std::uint32_t>(frames.size()))) +
           frames;
}

Bytes V1(const std::string& title, const std::string& artist, std::uint8_t padding = 0)
{
    Bytes v1(128, padding);
    v1[0] = 'T';
    v1[1] = 'A';
    v1[2] = 'G';
    std::copy(title.begin(), title.end(), v1.begin() + 3);
    std::copy(artist.begin(), artist.end(), v1.begin() + 33);
    return v1;
}

// A v2.2 frame: 3-byte id, 3-byte size, body.
Bytes Frame22(const char* id, const Bytes& body, std::optional<std::uint32_t> size = {})
{
    const std::uint32_t n = size.value_or(static_cast<std::uint32_t>(body.size()));
    return Text(std::string(id, 3)) +
           Bytes{static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)} +
           body;
}

struct Row {
    std::string name;
    Bytes file;
    std::optional<std::string> expected;
    std::int64_t offset;
};

std::vector<Row> Rows()
{
    const Bytes audio = Frames(kMpeg1, 2);
    const Bytes oldV1 = V1("Old", "OldA");
    const Bytes band = Frame("TPE1", Latin1("Band"));
    std::vector<Row> rows;
    auto add = [&rows](std::string name, Bytes file, std::optional<std::string> expected, std::int64_t offset) {
        rows.push_back({std::move(name), std::move(file), std::move(expected), offset});
    };

    Bytes frames = Frame("TIT2", {}) + band;
    add("title frame of size 0: the v1 title", Tag(frames) + audio + oldV1, "Old - Band", 10 + frames.size());

    frames = Frame("TIT2", Latin1("Song"), 0, 0xFFFFFFFFu) + band;
    add("frame size past the tag ends the walk", Tag(frames) + audio + oldV1, "Old - OldA", 10 + frames.size());

    frames = band + Frame("TIT2", Latin1("Song"), 0, 6);
    add("last frame one byte past the tag", Tag(frames) + audio + oldV1, "Old - Band", 10 + frames.size());

    frames = Frame("TIT2", {0x05}, 0x20) + band;
    add("grouped frame too short for its group byte", Tag(frames) + audio + oldV1, "Old - Band", 10 + frames.size());

    frames = Frame("TIT2", Bytes{0x07} + Latin1("Song"), 0x20) + band;
    add("group byte skipped", Tag(frames) + audio + oldV1, "Song - Band", 10 + frames.size());

    frames = Frame("TIT2", Latin1("Song"), 0x80) + band;
    add("compressed frame: the v1 title", Tag(frames) + audio + oldV1, "Old - Band", 10 + frames.size());

    frames = Frame("TIT2", Latin1("Song"), 0x40) + band;
    add("encrypted frame: the v1 title", Tag(frames) + audio + oldV1, "Old - Band", 10 + frames.size());

    frames = Frame("TIT2", Bytes{0x01, 0xFE, 0xFF, 0, 'S', 0, 'o'}) + band;
    add("big-endian UTF-16: the v1 title", Tag(frames) + audio + oldV1, "Old - Band", 10 + frames.size());

    frames = Frame("TIT2", Bytes{0x03, 'S', 'o', 'n', 'g'}) + band;
    add("UTF-8 encoding: the v1 title", Tag(frames) + audio + oldV1, "Old - Band", 10 + frames.size());

    frames = band + Frame("TIT2", Bytes{0x01, 0xFF, 0xFE, 'S', 0, 'o', 0, 'n'});
    add("UTF-16 of odd length, unterminated, at the end of the tag", Tag(frames) + audio, "So - Band",
        10 + frames.size());

    frames = band + Frame("TIT2", Latin1("Song"));
    add("text running to the end of the file", Tag(frames), "Song - Band", 10 + frames.size());

    frames = Bytes(20, 0) + Frame("TIT2", Latin1("Song")) + band;
    add("padding ends the walk", Tag(frames) + audio + oldV1, "Old - OldA", 10 + frames.size());

    frames = Frame("TIT2", Latin1("Song")) + band;
    add("tag longer than the file, with v1", Tag(frames, 5000) + audio + oldV1, "Old - OldA", 0);
    add("tag longer than the file, without v1", Tag(frames, 5000) + audio, std::nullopt, 0);
    add("tag reaching into the v1 tag",
        Tag(frames, static_cast<std::uint32_t>(frames.size() + 100)) + Bytes(10, 0) + oldV1, "Old - OldA", 0);
    add("v2.4 tag is not taken", Tag(frames, {}, 4) + audio, std::nullopt, 0);

    add("empty file", {}, std::nullopt, 0);
    add("three bytes TAG", Text("TAG"), std::nullopt, 0);
    add("a header alone with the largest size", Bytes{'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}, std::nullopt, 0);
    add("127 bytes starting with TAG", Text("TAG") + Bytes(124, 'x'), std::nullopt, 0);
    add("a v1 tag and nothing else", oldV1, "Old - OldA", 0);
    add("v1 fields padded with spaces", audio + V1("Old Title", "Old Artist", ' '), "Old Title - Old Artist", 0);
    add("byte 3 is 2 but no ID3 header: v1 texts", Text("XYZ") + Bytes{2} + Bytes(60, 0) + audio + oldV1, "Old - OldA",
        0);

    const Bytes header22 = {'I', 'D', '3', 2, 0, 0, 0, 0, 0x20, 0};
    // The title's text starts 51 bytes before the end of the 2048 bytes searched and runs on far past it.
    Bytes window = header22 + Frame22("TP1", Latin1("Art"));
    window.resize(1990, 0);
    window = window + Frame22("TT2", Latin1(std::string(3000, 'x')), 0xFFFFFF) + oldV1;
    add("v2.2 frame size past the read window", window, std::string(51, 'x') + " - Art", 0);
    add("v2.2 frame of size 0", header22 + Frame22("TT2", {}, 0) + Frame22("TP1", Latin1("Art")) + oldV1,
        "UNTITLED - Art", 0);
    Bytes late = header22 + Frame22("TP1", Latin1("Art"));
    late.resize(2043, 0);
    late = late + Frame22("TT2", Latin1("Late")) + Bytes(1000, 0) + oldV1;
    add("v2.2 title id in the last bytes of the window", late, "UNTITLED - Art", 0);
    return rows;
}

}  // namespace hostile

TEST(PlayerTag, HostileTags)
{
    ASSERT_NO_FATAL_FAILURE(RequireWesternCodePage());
    TempFolder folder;
    for (const hostile::Row& row : hostile::Rows()) {
        SCOPED_TRACE(row.name);
        const std::wstring path = folder.File(L"hostile.mp3");
        ASSERT_NO_FATAL_FAILURE(WriteBytes(path, row.file));
        const BuildResult built = Build(path);
        EXPECT_EQ(built.offset, row.offset);
        if (!row.expected) {
            EXPECT_EQ(built.length, 0u);
            continue;
        }
        std::wstring text;
        ASSERT_TRUE(DecodePlayerTag(built.tag.get(), built.length, &text));
        EXPECT_EQ(text, Widen(*row.expected));
    }
}

// Damaged copies of real tags: whatever the bytes, the result is no tag or a well-formed one, and the
// audio offset lies inside the file.
TEST(PlayerTag, DamagedTagsGiveNoTagOrAWellFormedOne)
{
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "needs Wine to run mutagen";
    }
    TempFolder folder;
    const char* kinds[] = {"v23+utf16+unsync+v1", "v23+v1", "v22+v1"};
    std::string manifest;
    for (int i = 0; i < 3; ++i) {
        const std::wstring path = folder.File(L"source" + std::to_wstring(i) + L".mp3");
        ASSERT_NO_FATAL_FAILURE(WriteBytes(path, Frames(kMpeg1, 1)));
        manifest += std::string(kinds[i]) + "\t" + UnixPath(path) + "\t" + Hex("Title ÿ") + "\t" + Hex("Artist") +
                    "\t" + Hex("Old") + "\t" + Hex("OldA") + "\n";
    }
    std::string out;
    ASSERT_TRUE(RunFixtureScript(folder, "make", manifest, &out));

    std::mt19937 random(20240601);
    const std::wstring path = folder.File(L"damaged.mp3");
    for (int i = 0; i < 3; ++i) {
        const Bytes source = ReadBytes(folder.File(L"source" + std::to_wstring(i) + L".mp3"));
        ASSERT_GT(source.size(), 200u);
        for (int round = 0; round < 300; ++round) {
            Bytes damaged = source;
            if (round % 4 == 3) {
                damaged.resize(random() % damaged.size());
            } else {
                const int changes = 1 + static_cast<int>(random() % 4);
                for (int c = 0; c < changes; ++c) {
                    // Mostly the header and frame headers, sometimes anywhere.
                    const std::size_t limit =
                        round % 2 == 0 ? std::min<std::size_t>(40, damaged.size()) : damaged.size();
                    damaged[random() % limit] = static_cast<std::uint8_t>(round % 3 == 0 ? 0xFF : random());
                }
            }
            ASSERT_NO_FATAL_FAILURE(WriteBytes(path, damaged));
            const BuildResult built = Build(path);
            SCOPED_TRACE("source " + std::to_string(i) + ", round " + std::to_string(round));
            EXPECT_GE(built.offset, 0);
            EXPECT_LE(built.offset, static_cast<std::int64_t>(damaged.size()));
            if (built.length != 0) {
                std::wstring text;
                EXPECT_TRUE(DecodePlayerTag(built.tag.get(), built.length, &text));
            }
        }
    }
}

TEST(PlayerTag, ParseId3v2Header)
{
    struct Case {
        const char* name;
        Bytes header;
        std::uint32_t size;
    };
    // clang-format off
    const Case cases[] = {
        {"version 3", {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1}, 257},
        {"flags are not examined", {'I', 'D', '3', 3, 0, 0xFF, 0, 0, 2, 1}, 257},
        {"revision 254", {'I', 'D', '3', 3, 254, 0, 0, 0, 0, 9}, 9},
        {"largest size", {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}, 0x0FFFFFFF},
        {"all size bits in place", {'I', 'D', '3', 3, 0, 0, 0x01, 0x02, 0x03, 0x04}, (1u << 21) | (2u << 14) | (3u << 7) | 4u},
        {"size 0", {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0}, 0},
        {"version 4", {'I', 'D', '3', 4, 0, 0, 0, 0, 2, 1}, 0},
        {"version 2", {'I', 'D', '3', 2, 0, 0, 0, 0, 2, 1}, 0},
        {"revision 255", {'I', 'D', '3', 3, 255, 0, 0, 0, 2, 1}, 0},
        {"size byte 6 with bit 7", {'I', 'D', '3', 3, 0, 0, 0x80, 0, 2, 1}, 0},
        {"size byte 9 with bit 7", {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 0x81}, 0},
        {"not ID3", {'I', 'D', '2', 3, 0, 0, 0, 0, 2, 1}, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TagRecord::ParseId3v2Header(c.header.data()), c.size);
    }
}

TEST(FrameSync, Search)
{
    TempFolder folder;
    const Bytes junk = Text("no sync bytes here at all");
    struct Case {
        std::string name;
        Bytes file;
        std::int64_t start;
        std::optional<std::int64_t> found;
    };
    std::vector<Case> cases;
    for (const FrameKind& kind : kFrameKinds) {
        cases.push_back({std::string(kind.name) + " after junk", junk + Frames(kind, 3), 0,
                         static_cast<std::int64_t>(junk.size())});
    }
    cases.push_back({"sync right at the offset", Frames(kFrameKinds[2], 2), 0, 0});
    cases.push_back({"0xFF 0xFF 0xFB moves the offset by one", Bytes{0xFF} + Frames(kMpeg1, 2), 0, 1});
    cases.push_back({"other second bytes are passed over",
                     Bytes{0xFF, 0xFD, 0xFF, 0xF0, 0xFF, 0xE0, 0xFF, 0xF7, 0xFF, 0x00} + Frames(kMpeg1, 2), 0, 10});
    cases.push_back({"the search starts at the offset", Frames(kMpeg1, 3), 5, 417});
    cases.push_back({"sync in the last three bytes", junk + Bytes{0xFF, 0xFB, 0x90}, 0, std::nullopt});
    cases.push_back(
        {"exactly four bytes left", junk + Bytes{0xFF, 0xFB, 0x90, 0x00}, 0, static_cast<std::int64_t>(junk.size())});
    cases.push_back({"offset past the end", Frames(kMpeg1, 1), 5000, std::nullopt});
    cases.push_back({"no sync at all", junk, 0, std::nullopt});
    cases.push_back({"sync at the start of the second read", Bytes(65536, 0) + Frames(kMpeg1, 1), 0, 65536});
    cases.push_back({"sync whose header spans two reads", Bytes(65534, 0) + Frames(kMpeg1, 1), 0, 65534});
    cases.push_back({"sync byte ending the first read", Bytes(65535, 0) + Frames(kMpeg1, 1), 0, 65535});

    std::string checks;
    std::vector<std::wstring> kept;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::wstring path = folder.File(L"sync" + std::to_wstring(i) + L".mp3");
        ASSERT_NO_FATAL_FAILURE(WriteBytes(path, c.file));
        std::int64_t offset = c.start;
        EXPECT_EQ(FindMp3FrameSync(path.c_str(), &offset), c.found.has_value());
        EXPECT_EQ(offset, c.found.value_or(c.start));
        if (c.found && RunningUnderWine()) {
            checks += UnixPath(path) + "\t" + std::to_string(offset) + "\n";
            kept.push_back(path);
        }
    }

    std::int64_t offset = 7;
    EXPECT_FALSE(FindMp3FrameSync(folder.File(L"missing.mp3").c_str(), &offset));
    EXPECT_EQ(offset, 7);

    if (!RunningUnderWine()) {
        return;
    }
    // mutagen must find a whole MPEG frame where the search landed (and the next ones after it).
    std::string out;
    ASSERT_TRUE(RunFixtureScript(folder, "check-frames", checks, &out));
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), kept.size()) << out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_NE(lines[i], "0") << "no valid MPEG frame at the sync found in " << i;
    }
}

// Names outside the ANSI code page open through the wide call on the NT family; on the Windows 95
// family only ANSI names can be opened.
TEST(PlayerTag, PathsInsideAndOutsideTheAnsiCodePage)
{
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "needs Wine to run mutagen";
    }
    ASSERT_NO_FATAL_FAILURE(RequireWesternCodePage());
    TempFolder folder;
    ASSERT_TRUE(CanCreateFilesNamedBeyondAscii(folder.Path()));
    const std::wstring greek = folder.File(L"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.mp3");
    const std::wstring western = folder.File(L"Caf\u00e9.mp3");
    std::string manifest;
    for (const std::wstring* path : {&greek, &western}) {
        ASSERT_NO_FATAL_FAILURE(WriteBytes(*path, Frames(kMpeg1, 2)));
        manifest += "v23\t" + UnixPath(*path) + "\t" + Hex("Song") + "\t" + Hex("Band") + "\t\t\n";
    }
    std::string out;
    ASSERT_TRUE(RunFixtureScript(folder, "make", manifest, &out));
    const auto audioStart = static_cast<std::int64_t>(ReadBytes(greek).size() - 2 * kMpeg1.length);

    {
        const ScopedFamily nt(true);
        const BuildResult built = Build(greek);
        EXPECT_EQ(built.length, 45u);
        std::int64_t offset = built.offset;
        EXPECT_TRUE(FindMp3FrameSync(greek.c_str(), &offset));
        EXPECT_EQ(offset, audioStart);
    }
    {
        const ScopedFamily windows95(false);
        EXPECT_EQ(Build(greek).length, 0u);
        std::int64_t offset = 0;
        EXPECT_FALSE(FindMp3FrameSync(greek.c_str(), &offset));

        const BuildResult built = Build(western);
        EXPECT_EQ(built.length, 45u);
        EXPECT_EQ(built.offset, audioStart);
    }

    // The ANSI form, as the flat store's downloads call it.
    const std::string ansiWestern(western.begin(), western.end());  // every character is below 256
    std::int64_t offset = -1;
    std::unique_ptr<std::uint8_t[]> tag;
    TagRecord record;
    EXPECT_EQ(record.BuildTagFromFile(ansiWestern.c_str(), &offset, &tag), 45u);
    EXPECT_EQ(offset, audioStart);
    EXPECT_TRUE(FindMp3FrameSync(ansiWestern.c_str(), &offset));
    EXPECT_EQ(offset, audioStart);
}

}  // namespace
