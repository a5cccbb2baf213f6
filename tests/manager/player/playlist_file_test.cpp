// The playlist file: a table of fixture lists read entry by entry and compared with what mpg123's list
// reader names on the host, hostile lists read within bounds, written bytes checked with od, and saves
// that go through a temporary file and leave the old list whole when they fail.
#include "manager/player/playlist_file.h"
#include "platform/win/win_platform.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/pc_file_bytes.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::Bytes;
using test_support::RunningUnderWine;
using test_support::RunShell;
using test_support::ShellQuote;
using test_support::TempFolder;

struct Entry {
    std::wstring path;
    int relative;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& entry)
{
    out << '"';
    for (const wchar_t c : entry.path) {
        if (c >= 0x20 && c < 0x7F)
            out << static_cast<char>(c);
        else
            out << "\\u" << std::hex << static_cast<unsigned>(c) << std::dec;
    }
    return out << "\" relative " << entry.relative;
}

Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

std::vector<Entry> ReadAll(const std::filesystem::path& file, int* opened = nullptr)
{
    std::vector<Entry> entries;
    CPlaylistFile list;
    const int result = list.Open(file.c_str(), 0);
    if (opened != nullptr)
        *opened = result;
    PlaylistEntry entry;
    while (list.ReadEntry(&entry) == 1)
        entries.push_back({entry.path, entry.relative});
    EXPECT_EQ(list.ReadEntry(&entry), 0) << "the end of a list stays the end";
    EXPECT_EQ(list.Close(), 1);
    return entries;
}

// The names of the folder's files.
std::vector<std::wstring> FolderNames(const std::filesystem::path& folder)
{
    std::vector<std::wstring> names;
    for (const auto& item : std::filesystem::directory_iterator(folder))
        names.push_back(item.path().filename().wstring());
    return names;
}

std::wstring FromCp1252(const std::string& text)
{
    if (text.empty())
        return {};
    std::wstring wide(text.size(), L'\0');
    const int n = MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                      static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return wide;
}

// ---- Reading: one table of fixture lists ----

struct ReadCase {
    const char* name;
    std::string bytes;
    std::vector<Entry> entries;
    // mpg123 differs from this reader in two ways: it skips a plain list's "#" lines, which are entries
    // here, and it reads on past an extended list's path line without "#EXTINF:", where the list ends here.
    bool extended;
    bool endsEarly;  // extended: mpg123 names more entries after ours
};

const std::vector<ReadCase>& ReadCases()
{
    static const std::vector<ReadCase> cases = {
        {"crlf", "a.mp3\r\nsub\\b.mp3\r\n", {{L"a.mp3", 1}, {L"sub\\b.mp3", 1}}, false, false},
        {"lf", "a.mp3\nsub\\b.mp3\n", {{L"a.mp3", 1}, {L"sub\\b.mp3", 1}}, false, false},
        {"cr", "a.mp3\rsub\\b.mp3", {{L"a.mp3", 1}, {L"sub\\b.mp3", 1}}, false, false},
        {"blank_lines", "\r\n\r\na.mp3\n\n\r\r\nsub\\b.mp3\n\n", {{L"a.mp3", 1}, {L"sub\\b.mp3", 1}}, false, false},
        {"spaces_kept", " a b.mp3 \n\tc.mp3", {{L" a b.mp3 ", 1}, {L"\tc.mp3", 1}}, false, false},
        {"plain_hash_line", "a.mp3\n#note.mp3\nb.mp3\n", {{L"a.mp3", 1}, {L"#note.mp3", 1}, {L"b.mp3", 1}}, false,
         false},
        {"header_case_sensitive", "#EXTm3u\na.mp3\n", {{L"#EXTm3u", 1}, {L"a.mp3", 1}}, false, false},
        {"relative_forms", "name.mp3\nsub\\dir\\a.mp3\n\\root\\a.mp3\n\\\\srv\\share\\a.mp3\nC:\\abs\\a.mp3\nz:b.mp3\n",
         {{L"name.mp3", 1},
          {L"sub\\dir\\a.mp3", 1},
          {L"\\root\\a.mp3", 1},
          {L"\\\\srv\\share\\a.mp3", 1},
          {L"C:\\abs\\a.mp3", 0},
          {L"z:b.mp3", 0}},
         false, false},
        {"code_page", "caf\xE9.mp3\n\x80uro \xDF.mp3\n", {{L"caf\u00E9.mp3", 1}, {L"\u20ACuro \u00DF.mp3", 1}}, false,
         false},
        {"extended", "#EXTM3U\r\n#EXTINF:123,Artist - Title\r\nC:\\music\\a b.mp3\r\n", {{L"C:\\music\\a b.mp3", 0}},
         true, false},
        {"extended_blank_lines", "#EXTM3U\r\r\n#EXTINF:-1,t\r\n\r\nd:x.mp3\r#EXTINF:5,u\n\\music\\y.mp3\n",
         {{L"d:x.mp3", 0}, {L"\\music\\y.mp3", 1}}, true, false},
        {"extended_path_without_information", "#EXTM3U\n#EXTINF:1,x\na.mp3\nb.mp3\n#EXTINF:2,y\nc.mp3\n",
         {{L"a.mp3", 1}}, true, true},
        {"header_only", "#EXTM3U\r\n", {}, true, false},
        {"information_without_path", "#EXTM3U\n#EXTINF:1,x\n", {}, true, false},
    };
    return cases;
}

TEST(PlaylistRead, FixturesGiveTheirEntries)
{
    TempFolder folder;
    for (const ReadCase& c : ReadCases()) {
        SCOPED_TRACE(c.name);
        const auto file = folder.File(std::string(c.name) + ".m3u");
        test_support::WriteFile(file, ToBytes(c.bytes));
        int opened = 0;
        EXPECT_EQ(ReadAll(file, &opened), c.entries);
        EXPECT_EQ(opened, 1);
    }
}

// mpg123 names every entry of a list it cannot open ("failed to open file: NAME: ..."), backslashes
// turned into slashes, relative to the list's folder (the working folder here, so no prefix).
std::map<std::string, std::vector<std::wstring>> Mpg123Entries(const TempFolder& folder)
{
    std::string script = "cd " + ShellQuote(test_support::UnixPath(folder.Path())) + " || exit 2\n";
    for (const ReadCase& c : ReadCases())
        script += "printf '@@ %s\\n' " + ShellQuote(c.name) + "; mpg123 -t -@ " + ShellQuote(std::string(c.name) + ".m3u") +
                  " 2>&1 >/dev/null\n";
    const test_support::ShellResult result = RunShell(script);
    EXPECT_TRUE(result.finished) << result.err;
    std::map<std::string, std::vector<std::wstring>> lists;
    std::vector<std::wstring>* current = nullptr;
    const std::string opening = "failed to open file: ";
    const std::string missing = ": No such file or directory";
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("@@ ", 0) == 0) {
            current = &lists[line.substr(3)];
            continue;
        }
        const std::size_t at = line.find(opening);
        if (at == std::string::npos || current == nullptr)
            continue;
        std::string name = line.substr(at + opening.size());
        if (name.size() < missing.size() || name.compare(name.size() - missing.size(), missing.size(), missing) != 0) {
            ADD_FAILURE() << "unexpected mpg123 line: " << line;
            continue;
        }
        name.resize(name.size() - missing.size());
        std::wstring wide = FromCp1252(name);
        for (wchar_t& ch : wide)
            if (ch == L'/')
                ch = L'\\';
        current->push_back(wide);
    }
    return lists;
}

TEST(PlaylistRead, EntriesMatchMpg123)
{
    if (!RunningUnderWine() || !test_support::HostHasProgram("mpg123"))
        GTEST_SKIP() << "mpg123 runs on the host only";
    TempFolder folder;
    for (const ReadCase& c : ReadCases())
        test_support::WriteFile(folder.File(std::string(c.name) + ".m3u"), ToBytes(c.bytes));
    const auto lists = Mpg123Entries(folder);
    ASSERT_EQ(lists.size(), ReadCases().size());
    for (const ReadCase& c : ReadCases()) {
        SCOPED_TRACE(c.name);
        const auto found = lists.find(c.name);
        ASSERT_NE(found, lists.end());
        const std::vector<std::wstring>& theirs = found->second;
        std::vector<std::wstring> ours;
        for (const Entry& entry : ReadAll(folder.File(std::string(c.name) + ".m3u")))
            ours.push_back(entry.path);
        if (!c.extended) {
            std::vector<std::wstring> kept;
            for (const std::wstring& path : ours)
                if (path.empty() || path[0] != L'#')
                    kept.push_back(path);
            EXPECT_EQ(kept, theirs);
        } else {
            ASSERT_LE(ours.size(), theirs.size());
            EXPECT_EQ(ours, std::vector<std::wstring>(theirs.begin(), theirs.begin() + ours.size()));
            EXPECT_EQ(theirs.size() > ours.size(), c.endsEarly);
        }
    }
}

TEST(PlaylistRead, OpenFailures)
{
    TempFolder folder;
    CPlaylistFile list;
    PlaylistEntry entry;
    EXPECT_EQ(list.Open(folder.File("missing.m3u").c_str(), 0), 0);
    EXPECT_EQ(list.ReadEntry(&entry), 0);
    test_support::WriteFile(folder.File("empty.m3u"), {});
    EXPECT_EQ(list.Open(folder.File("empty.m3u").c_str(), 0), 0);
    EXPECT_EQ(list.Open(folder.Path().c_str(), 0), 0);
    EXPECT_EQ(list.Open(nullptr, 0), 0);
    test_support::WriteFile(folder.File("one.m3u"), ToBytes("a.mp3\n"));
    {
        test_support::NothrowArrayAllocationFails failing;
        EXPECT_EQ(list.Open(folder.File("one.m3u").c_str(), 0), 0);
    }
    EXPECT_EQ(list.ReadEntry(&entry), 0);
    // A file another program holds without sharing cannot be read.
    const HANDLE held = CreateFileW(folder.File("one.m3u").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(list.Open(folder.File("one.m3u").c_str(), 0), 0);
    CloseHandle(held);
    ASSERT_EQ(list.Open(folder.File("one.m3u").c_str(), 0), 1);
    EXPECT_EQ(list.Open(folder.File("one.m3u").c_str(), 0), 0) << "already open";
    EXPECT_EQ(list.ReadEntry(nullptr), 0);
    EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"x.mp3", 1}), 0) << "opened for reading";
    ASSERT_EQ(list.ReadEntry(&entry), 1);
    EXPECT_EQ(entry.path, L"a.mp3");
    EXPECT_EQ(list.Close(), 1);
    EXPECT_EQ(list.Close(), 1);
    EXPECT_EQ(list.ReadEntry(&entry), 0) << "closed";
    EXPECT_EQ(Bytes(test_support::ReadFile(folder.File("one.m3u"))), ToBytes("a.mp3\n")) << "reading changes nothing";
}

TEST(PlaylistRead, FolderOfTheList)
{
    TempFolder folder;
    test_support::WriteFile(folder.File("list.m3u"), ToBytes("a.mp3\n"));
    CPlaylistFile list;
    EXPECT_EQ(list.Folder(), L"");
    const std::wstring path = folder.File("list.m3u").wstring();
    ASSERT_EQ(list.Open(path.c_str(), 0), 1);
    EXPECT_EQ(list.Folder(), path.substr(0, path.size() - std::wstring(L"list.m3u").size()));
    EXPECT_EQ(list.Folder().back(), L'\\');
    list.Close();
}

// Each object keeps its own position: a nested list is read while the outer one is open.
TEST(PlaylistRead, NestedListsKeepTheirPlaces)
{
    TempFolder folder;
    test_support::WriteFile(folder.File("outer.m3u"), ToBytes("o1.mp3\ninner.m3u\no2.mp3\n"));
    test_support::WriteFile(folder.File("inner.m3u"), ToBytes("#EXTM3U\n#EXTINF:1,a\ni1.mp3\n#EXTINF:2,b\ni2.mp3\n"));
    std::vector<std::wstring> order;
    CPlaylistFile outer;
    ASSERT_EQ(outer.Open(folder.File("outer.m3u").c_str(), 0), 1);
    PlaylistEntry entry;
    while (outer.ReadEntry(&entry) == 1) {
        if (entry.path.ends_with(L".m3u")) {
            CPlaylistFile inner;
            ASSERT_EQ(inner.Open((outer.Folder() + entry.path).c_str(), 0), 1);
            PlaylistEntry nested;
            while (inner.ReadEntry(&nested) == 1)
                order.push_back(nested.path);
            continue;
        }
        order.push_back(entry.path);
    }
    EXPECT_EQ(order, (std::vector<std::wstring>{L"o1.mp3", L"i1.mp3", L"i2.mp3", L"o2.mp3"}));
}

// Hostile lists are read within bounds, each checked against a plain reading of the same bytes.
TEST(PlaylistRead, HostileListsStayInBounds)
{
    TempFolder folder;
    const std::string big(1 << 20, 'a');
    test_support::WriteFile(folder.File("long.m3u"), ToBytes(big + "\r\nb.mp3"));
    std::vector<Entry> entries = ReadAll(folder.File("long.m3u"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, std::wstring(big.size(), L'a'));
    EXPECT_EQ(entries[1].path, L"b.mp3");

    // The text ends at its first NUL byte.
    test_support::WriteFile(folder.File("zero.m3u"), ToBytes(std::string("a.mp3\nb\0c.mp3\nd.mp3\n", 20)));
    EXPECT_EQ(ReadAll(folder.File("zero.m3u")), (std::vector<Entry>{{L"a.mp3", 1}, {L"b", 1}}));
    test_support::WriteFile(folder.File("zero_first.m3u"), ToBytes(std::string("\0a.mp3\n", 7)));
    int opened = 0;
    EXPECT_TRUE(ReadAll(folder.File("zero_first.m3u"), &opened).empty());
    EXPECT_EQ(opened, 1);

    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += "C:\\m\\e" + std::to_string(i) + ".mp3\r\n";
    test_support::WriteFile(folder.File("many.m3u"), ToBytes(many));
    entries = ReadAll(folder.File("many.m3u"));
    ASSERT_EQ(entries.size(), 100000u);
    EXPECT_EQ(entries.front(), (Entry{L"C:\\m\\e0.mp3", 0}));
    EXPECT_EQ(entries.back(), (Entry{L"C:\\m\\e99999.mp3", 0}));

    // Bytes of every value but NUL, among them the code page's holes (0x81, 0x8D, 0x8F, 0x90, 0x9D) and
    // lead bytes of the double-byte code pages before line ends.
    std::string noise;
    std::uint32_t state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        const auto byte = static_cast<char>(1 + (state >> 16) % 255);
        noise += byte;
        if (i % 997 == 0)
            noise += "\x81\n\x8D\r\x90";
    }
    test_support::WriteFile(folder.File("noise.m3u"), ToBytes(noise));
    std::vector<std::wstring> expected;
    for (std::size_t at = 0; at < noise.size();) {
        const std::size_t end = std::min(noise.find_first_of("\r\n", at), noise.size());
        if (end > at)
            expected.push_back(FromCp1252(noise.substr(at, end - at)));
        at = end + 1;
    }
    ASSERT_EQ(GetACP(), 1252u) << "the suite pins the ANSI code page";
    entries = ReadAll(folder.File("noise.m3u"));
    ASSERT_EQ(entries.size(), expected.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        ASSERT_EQ(entries[i].path, expected[i]) << "entry " << i;
}

// ---- Writing ----

// The file's bytes as od prints them on the host, so the check does not rest on our own reading.
Bytes BytesByOd(const TempFolder& folder, const char* name)
{
    const test_support::ShellResult result = RunShell("od -An -v -tx1 " + ShellQuote(folder.UnixFile(name)));
    EXPECT_TRUE(result.finished && result.exitCode == 0) << result.err;
    Bytes bytes;
    std::istringstream in(result.out);
    for (std::string hex; in >> hex;)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
    return bytes;
}

class PlaylistWrite : public ::testing::TestWithParam<DWORD> {
protected:
    void SetUp() override { WinForcePlatform(GetParam()); }
    void TearDown() override { WinClearForcedPlatform(); }

    // Writes the paths as a list; the results of each write and of Close.
    static std::vector<int> Save(const std::filesystem::path& file, const std::vector<std::wstring>& paths)
    {
        std::vector<int> results;
        CPlaylistFile list;
        results.push_back(list.Open(file.c_str(), 1));
        for (const std::wstring& path : paths)
            results.push_back(list.WriteEntry(PlaylistEntry{path, 0}));
        results.push_back(list.Close());
        return results;
    }
};

TEST_P(PlaylistWrite, LinesEndInLfWithoutHeaderInCodePage1252)
{
    ASSERT_EQ(GetACP(), 1252u) << "the suite pins the ANSI code page";
    struct Case {
        const char* name;
        std::vector<std::wstring> paths;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"two.m3u", {L"C:\\music\\a b.mp3", L"sub\\c.mp3"}, "C:\\music\\a b.mp3\nsub\\c.mp3\n"},
        {"code_page.m3u", {L"caf\u00E9 \u00DF \u20AC.mp3"}, "caf\xE9 \xDF \x80.mp3\n"},
        // Cyrillic, CJK and a character outside the basic plane have no place in code page 1252.
        {"replaced.m3u", {L"\u0416\u4E2D\U0001F3B5.mp3"}, "????.mp3\n"},
        {"empty_path.m3u", {L"", L"a.mp3"}, "\na.mp3\n"},
        {"none.m3u", {}, ""},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int> results = Save(folder.File(c.name), c.paths);
        EXPECT_EQ(results, std::vector<int>(c.paths.size() + 2, 1));
        EXPECT_EQ(test_support::ReadFile(folder.File(c.name)), ToBytes(c.bytes));
        if (RunningUnderWine()) {
            EXPECT_EQ(BytesByOd(folder, c.name), ToBytes(c.bytes));
        }
    }
    EXPECT_EQ(FolderNames(folder.Path()).size(), cases.size()) << "no temporary file is left";
}

// The line buffer follows the converted path: long paths are written whole and read back.
TEST_P(PlaylistWrite, LongPathsAreWrittenWhole)
{
    TempFolder folder;
    const std::vector<std::wstring> paths = {std::wstring(300, L'\u00E9') + L".mp3", L"C:\\" + std::wstring(100000, L'x'),
                                             L"last.mp3"};
    EXPECT_EQ(Save(folder.File("long.m3u"), paths), std::vector<int>(paths.size() + 2, 1));
    const std::vector<Entry> entries = ReadAll(folder.File("long.m3u"));
    ASSERT_EQ(entries.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(entries[i].path, paths[i]);
    EXPECT_EQ(test_support::ReadFile(folder.File("long.m3u")).size(), 305u + 100004u + 9u);
}

// Until Close the old list stays as it was, and the new one goes beside it.
TEST_P(PlaylistWrite, CloseReplacesTheListWhole)
{
    TempFolder folder;
    const auto file = folder.File("list.m3u");
    test_support::WriteFile(file, ToBytes("old.mp3\n"));
    CPlaylistFile list;
    ASSERT_EQ(list.Open(file.c_str(), 1), 1);
    EXPECT_EQ(list.ReadEntry(nullptr), 0);
    PlaylistEntry read;
    EXPECT_EQ(list.ReadEntry(&read), 0) << "opened for writing";
    EXPECT_EQ(list.Open(file.c_str(), 1), 0) << "already open";
    EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"new1.mp3", 0}), 1);
    EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"new2.mp3", 0}), 1);
    EXPECT_EQ(test_support::ReadFile(file), ToBytes("old.mp3\n"));
    EXPECT_EQ(FolderNames(folder.Path()).size(), 2u);
    EXPECT_EQ(list.Close(), 1);
    EXPECT_EQ(test_support::ReadFile(file), ToBytes("new1.mp3\nnew2.mp3\n"));
    EXPECT_EQ(FolderNames(folder.Path()), std::vector<std::wstring>{L"list.m3u"});
    EXPECT_EQ(list.Close(), 1);
    EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"late.mp3", 0}), 0) << "closed";
    // A list that did not exist is made.
    EXPECT_EQ(Save(folder.File("fresh.m3u"), {L"a.mp3"}), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(test_support::ReadFile(folder.File("fresh.m3u")), ToBytes("a.mp3\n"));
}

// Every way a save can fail leaves the old list untouched and no temporary file behind.
TEST_P(PlaylistWrite, FailedSavesKeepTheOldList)
{
    TempFolder folder;
    const auto file = folder.File("list.m3u");
    const Bytes old = ToBytes("old1.mp3\nold2.mp3\n");
    const auto check = [&](const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(test_support::ReadFile(file), old);
        EXPECT_EQ(FolderNames(folder.Path()), std::vector<std::wstring>{L"list.m3u"});
    };
    test_support::WriteFile(file, old);

    {
        CPlaylistFile list;
        ASSERT_EQ(list.Open(file.c_str(), 1), 1);
        EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"new.mp3", 0}), 1);
    }
    check("destroyed without Close");

    {
        CPlaylistFile list;
        ASSERT_EQ(list.Open(file.c_str(), 1), 1);
        EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"new.mp3", 0}), 1);
        {
            test_support::NothrowArrayAllocationFails failing;
            EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"second.mp3", 0}), 0);
        }
        EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"third.mp3", 0}), 0) << "the save is spoilt";
        EXPECT_EQ(list.Close(), 0);
        EXPECT_EQ(list.Close(), 1) << "nothing left to close";
    }
    check("a failed write, then Close");

    {
        CPlaylistFile list;
        ASSERT_EQ(list.Open(file.c_str(), 1), 1);
        EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"new.mp3", 0}), 1);
        // The list cannot be replaced any more when Close comes.
        ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(list.Close(), 0);
        ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL));
    }
    check("a list made read-only before Close");

    {
        CPlaylistFile list;
        ASSERT_EQ(list.Open(file.c_str(), 1), 1);
        EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"new.mp3", 0}), 1);
        // Another program holds the list open, sharing nothing.
        const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(list.Close(), 0);
        CloseHandle(held);
    }
    check("a list held open by another program");

    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        CPlaylistFile list;
        EXPECT_EQ(list.Open(file.c_str(), 1), 0);
        EXPECT_EQ(list.WriteEntry(PlaylistEntry{L"new.mp3", 0}), 0);
        EXPECT_EQ(list.Close(), 1);
    }
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL));
    check("a read-only list");

    ASSERT_TRUE(CreateDirectoryW(folder.File("sub").c_str(), nullptr));
    CPlaylistFile list;
    EXPECT_EQ(list.Open(folder.File("sub").c_str(), 1), 0) << "a folder";
    EXPECT_EQ(list.Open(folder.File("none\\list.m3u").c_str(), 1), 0) << "a missing folder";
    ASSERT_TRUE(RemoveDirectoryW(folder.File("sub").c_str()));
    check("a folder as target");
}

INSTANTIATE_TEST_SUITE_P(Platforms, PlaylistWrite, ::testing::Values(WIN_PLATFORM_NT5, WIN_PLATFORM_WIN98),
                         [](const ::testing::TestParamInfo<DWORD>& info) {
                             return info.param == WIN_PLATFORM_NT5 ? std::string("Wide") : std::string("Ansi");
                         });

}  // namespace
