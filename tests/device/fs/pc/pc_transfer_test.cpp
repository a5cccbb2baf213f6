// The PC end of whole-file transfers: what a PcSource hands out (the player's tag, then the audio from
// the first frame), its failures, cancel and progress; and a PcSink that keeps only whole files. Both
// path kinds (UTF-16 and ANSI) run through the same cases.
#include "device/fs/pc/pc_transfer.h"

#include "device/transport/engine_state.h"
#include "platform/win/file_util.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::wstring TempFolder()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    std::wstring folder(temp, length);
    folder += L"kwep_pc_transfer_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\";
}

std::string Ansi(const std::wstring& wide)
{
    return std::string(wide.begin(), wide.end());  // the test's paths are ASCII
}

void WriteBytes(const std::wstring& path, const Bytes& bytes)
{
    const HandleOwner file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.valid());
    ASSERT_TRUE(WriteExactly(file.get(), bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Bytes ReadAll(const std::wstring& path)
{
    Bytes bytes;
    const HandleOwner file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid())
        return bytes;
    std::uint8_t buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    return bytes;
}

Bytes Pattern(std::size_t size, std::uint8_t seed)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

// An ID3v2.3 tag with one TIT2 frame (ISO-8859-1 text).
Bytes Id3Title(const std::string& title)
{
    const std::uint32_t frameBody = 1 + static_cast<std::uint32_t>(title.size());
    const std::uint32_t tagBody = 10 + frameBody;
    Bytes tag = {'I', 'D', '3', 3, 0, 0};
    for (int shift : {21, 14, 7, 0})
        tag.push_back(static_cast<std::uint8_t>((tagBody >> shift) & 0x7F));
    tag.insert(tag.end(), {'T', 'I', 'T', '2'});
    for (int shift : {24, 16, 8, 0})
        tag.push_back(static_cast<std::uint8_t>(frameBody >> shift));
    tag.insert(tag.end(), {0, 0, 0});
    tag.insert(tag.end(), title.begin(), title.end());
    return tag;
}

// Audio that starts with an MPEG-1 Layer III frame sync.
Bytes Audio(std::size_t size)
{
    Bytes audio = Pattern(size, 3);
    audio[0] = 0xFF;
    audio[1] = 0xFB;
    return audio;
}

Bytes Join(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Counts progress notices.
class CountingSink : public ProgressSink {
public:
    CountingSink() { SetProgressSink(this); }
    ~CountingSink() { SetProgressSink(nullptr); }
    ProgressCounters& Counters() override { return counters; }
    void FireProgress() override { ++fired; }
    ProgressCounters counters;
    int fired = 0;
};

class PcTransfer : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        folder_ = TempFolder();
        Engine.CancelRequested.store(0);
    }
    void TearDown() override { Engine.CancelRequested.store(0); }

    bool AnsiPaths() const { return GetParam(); }
    std::wstring Path(const wchar_t* name) const { return folder_ + name; }

    EngineStatus Prepare(PcSource& source, const std::wstring& path, bool mp3)
    {
        ansiHeld_ = Ansi(path);
        return AnsiPaths() ? source.Prepare(ansiHeld_.c_str(), mp3) : source.Prepare(path.c_str(), mp3);
    }
    EngineStatus Create(PcSink& sink, const std::wstring& path)
    {
        ansiHeld_ = Ansi(path);
        return AnsiPaths() ? sink.Create(ansiHeld_.c_str()) : sink.Create(path.c_str());
    }

    // Every stored byte, piece by piece.
    Bytes Drain(PcSource& source, std::uint32_t pieceBytes, std::uint32_t* pieces)
    {
        Bytes all;
        Bytes piece(pieceBytes);
        *pieces = 0;
        while (source.Remaining() > 0) {
            std::uint32_t got = 0;
            if (source.NextPiece(piece.data(), &got) != kStatusOk || got == 0)
                break;
            all.insert(all.end(), piece.begin(), piece.begin() + got);
            ++*pieces;
        }
        return all;
    }

    std::wstring folder_;
    std::string ansiHeld_;
};

TEST_P(PcTransfer, PlainFilesComeWholeInPiecesWithTheirTimes)
{
    struct Case {
        std::size_t size;
        std::uint32_t pieceBytes;
    };
    for (const Case c : {Case{0, 512}, Case{1, 512}, Case{512, 512}, Case{513, 512}, Case{5000, 1024}}) {
        const std::wstring path = Path(L"plain.bin");
        const Bytes content = Pattern(c.size, 9);
        WriteBytes(path, content);
        PcSource source;
        ASSERT_EQ(Prepare(source, path, false), kStatusOk) << c.size;
        EXPECT_EQ(source.StoredBytes(), c.size);
        EXPECT_EQ(source.TagBytes(), 0u);
        EXPECT_NE(source.Written(), 0);
        const std::uint32_t expectedPieces = static_cast<std::uint32_t>((c.size + c.pieceBytes - 1) / c.pieceBytes);
        EXPECT_EQ(source.PieceCount(c.pieceBytes), expectedPieces);
        ASSERT_EQ(source.Open(c.pieceBytes), kStatusOk);
        std::uint32_t pieces = 0;
        EXPECT_EQ(Drain(source, c.pieceBytes, &pieces), content) << c.size;
        EXPECT_EQ(pieces, expectedPieces);
        std::uint32_t got = 7;
        EXPECT_EQ(source.NextPiece(nullptr, &got), kStatusOk);  // the end: an empty piece
        EXPECT_EQ(got, 0u);
    }
}

TEST_P(PcTransfer, Mp3FilesGetThePlayersTagAndLoseTheirOwn)
{
    const Bytes audio = Audio(3000);
    struct Case {
        const char* what;
        Bytes file;
        bool tagged;
    };
    const Case cases[] = {
        {"own tag then audio", Join(Id3Title("Song"), audio), true},
        {"junk before the first frame", Join(Bytes{1, 2, 3, 4, 5}, audio), false},
        {"audio alone", audio, false},
    };
    for (const Case& c : cases) {
        const std::wstring path = Path(L"song.mp3");
        WriteBytes(path, c.file);
        PcSource source;
        ASSERT_EQ(Prepare(source, path, true), kStatusOk) << c.what;
        EXPECT_EQ(source.TagBytes() != 0, c.tagged) << c.what;
        EXPECT_EQ(source.StoredBytes(), source.TagBytes() + audio.size()) << c.what;
        ASSERT_EQ(source.Open(512), kStatusOk);
        std::uint32_t pieces = 0;
        const Bytes stored = Drain(source, 512, &pieces);
        ASSERT_EQ(stored.size(), source.StoredBytes()) << c.what;
        // The player's tag, then the audio from its first frame, byte for byte.
        EXPECT_TRUE(Bytes(stored.begin() + source.TagBytes(), stored.end()) == audio) << c.what;
        if (c.tagged) {
            EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 3), (Bytes{'I', 'D', '3'})) << c.what;
        }
    }
}

TEST_P(PcTransfer, FilesThatCannotBeSentAreRefused)
{
    PcSource source;
    EXPECT_EQ(Prepare(source, Path(L"missing.bin"), false), kStatusFileError);
    EXPECT_EQ(Prepare(source, folder_.substr(0, folder_.size() - 1), false), kStatusFileError);  // a folder
    WriteBytes(Path(L"nosync.mp3"), Bytes(2000, 0x11));  // no frame sync anywhere
    EXPECT_EQ(Prepare(source, Path(L"nosync.mp3"), true), kStatusFileError);
    // Not prepared: nothing opens and nothing is read.
    EXPECT_EQ(source.Open(512), kStatusFileError);
    std::uint8_t byte = 0;
    EXPECT_EQ(source.Read(&byte, 1), kStatusFileError);
    // The same bytes under a name that is not MP3 go as they are.
    EXPECT_EQ(Prepare(source, Path(L"nosync.mp3"), false), kStatusOk);
    EXPECT_EQ(source.Open(0), kStatusFileError);
}

TEST_P(PcTransfer, AFileThatShrankAfterPreparingFailsItsRead)
{
    const std::wstring path = Path(L"shrinks.bin");
    WriteBytes(path, Pattern(2048, 1));
    PcSource source;
    ASSERT_EQ(Prepare(source, path, false), kStatusOk);
    WriteBytes(path, Pattern(1000, 1));
    ASSERT_EQ(source.Open(512), kStatusOk);
    Bytes piece(512);
    std::uint32_t got = 0;
    EXPECT_EQ(source.NextPiece(piece.data(), &got), kStatusOk);
    EXPECT_EQ(source.NextPiece(piece.data(), &got), kStatusFileError);
    EXPECT_EQ(got, 0u);
}

TEST_P(PcTransfer, StoredPiecesSendProgressUntilCancelled)
{
    const std::wstring path = Path(L"progress.bin");
    WriteBytes(path, Pattern(100, 1));
    PcSource source;
    ASSERT_EQ(Prepare(source, path, false), kStatusOk);
    ASSERT_EQ(source.Open(10), kStatusOk);
    CountingSink progress;
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(source.PieceCount(10)));
    EXPECT_FALSE(source.PieceStored());
    EXPECT_FALSE(source.PieceStored());
    EXPECT_EQ(progress.counters.done, 2u);
    EXPECT_EQ(progress.counters.percent, 20u);
    Engine.CancelRequested.store(1);
    EXPECT_TRUE(source.PieceStored());
    EXPECT_EQ(progress.counters.done, 2u);  // no step for a cancelled piece
}

TEST_P(PcTransfer, ASinkKeepsOnlyWholeFiles)
{
    const Bytes content = Pattern(3000, 5);
    const std::wstring path = Path(L"up.bin");
    {
        PcSink sink;
        ASSERT_EQ(Create(sink, path), kStatusOk);
        EXPECT_TRUE(sink.Write(content.data(), 1000));
        EXPECT_TRUE(sink.Write(content.data() + 1000, 2000));
        EXPECT_TRUE(sink.Write(content.data(), 0));
        EXPECT_EQ(sink.Finish(), kStatusOk);
        EXPECT_FALSE(sink.Write(content.data(), 1));  // finished: nothing more goes in
    }
    EXPECT_EQ(ReadAll(path), content);

    // Discarded (a failure or a cancel) and abandoned sinks leave no file behind.
    for (const bool discard : {true, false}) {
        const std::wstring partial = Path(discard ? L"discarded.bin" : L"abandoned.bin");
        {
            PcSink sink;
            ASSERT_EQ(Create(sink, partial), kStatusOk);
            EXPECT_TRUE(sink.Write(content.data(), 100));
            EXPECT_TRUE(Exists(partial));
            if (discard)
                sink.Discard();
        }
        EXPECT_FALSE(Exists(partial)) << discard;
    }

    // A path that cannot be made.
    PcSink sink;
    EXPECT_EQ(Create(sink, Path(L"no-such-folder\\x.bin")), kStatusFileError);
    EXPECT_FALSE(sink.Write(content.data(), 1));
    EXPECT_EQ(sink.Finish(), kStatusFileError);
}

INSTANTIATE_TEST_SUITE_P(Paths, PcTransfer, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Ansi" : "Wide"; });

TEST(PcFileHelpers, NamePartTakesTheLastComponent)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* name;
    };
    for (const Case c : {Case{L"C:\\music\\a.mp3", L"a.mp3"}, Case{L"a.mp3", L"a.mp3"}, Case{L"C:/x/b.wma", L"b.wma"},
                         Case{L"C:\\dir\\", L""}, Case{L"", L""}}) {
        EXPECT_STREQ(NamePart(c.path), c.name) << c.path;
        const std::string ansi = Ansi(c.path);
        EXPECT_EQ(std::string(NamePart(ansi.c_str())), Ansi(c.name)) << ansi;
    }
}

}  // namespace
