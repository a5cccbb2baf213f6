// Short names, slot counts, entry-set layout, dates and the ANSI builders.
#include "device/fs/entry_name.h"
#include "device/fs/fat_entry.h"
#include "tests/device/fs/memory_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace engine;
using test_support::MemoryFolder;

std::string StoredName(const FatDirSlot& slot)
{
    return std::string(reinterpret_cast<const char*>(slot.raw), 11);
}

std::wstring LongPiece(const FatLongEntry& e)
{
    const std::uint16_t chars[13] = {e.chars1[0], e.chars1[1], e.chars1[2], e.chars1[3], e.chars1[4],
                                     e.chars2[0], e.chars2[1], e.chars2[2], e.chars2[3], e.chars2[4],
                                     e.chars2[5], e.chars3[0], e.chars3[1]};
    return std::wstring(chars, chars + 13);
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

std::uint16_t Date(int year, int month, int day)
{
    return std::uint16_t(((year - 1980) << 9) | (month << 5) | day);
}

std::uint16_t Time(int hour, int minute, int second)
{
    return std::uint16_t((hour << 11) | (minute << 5) | (second / 2));
}

std::uint16_t TodayFatDate()
{
    const std::tm now = FatLocalTime(std::time(nullptr));
    return Date(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
}

// The names an entry may take on every store: what FAT long names allow, every refused character on
// its own and inside a name, and the ends a name may not have.
TEST(FsEntryName, WhatFatLongNamesAllow)
{
    struct Case {
        std::wstring name;
        bool allowed;
    };
    std::vector<Case> cases = {
        {L"A", true},
        {L"Song.mp3", true},
        {L"Talks and lectures", true},
        {L".hidden", true},
        {L"a.b.c", true},
        {L" leading blank", true},
        {L"\u00e9t\u00e9 \u4e2d", true},
        {L"x+y,z;w=v[1]", true},
        {L"", false},
        {L".", false},
        {L"..", false},
        {L"NAME.", false},
        {L"NAME ", false},
        {L"NAME. ", false},
        {std::wstring(kMaxEntryNameChars, L'x'), true},
        {std::wstring(kMaxEntryNameChars + 1, L'x'), false},
    };
    for (wchar_t c : std::wstring(L"\\/:*?\"<>|"))
        cases.push_back({std::wstring(L"A") + c + L"B", false});
    for (wchar_t c = 1; c < 0x20; ++c)
        cases.push_back({std::wstring(L"A") + c + L"B", false});
    cases.push_back({std::wstring(L"A\0B", 3), false});
    for (const Case& c : cases) {
        std::string shown;
        for (wchar_t ch : c.name)
            shown += ch >= 0x20 && ch < 0x7F ? static_cast<char>(ch) : '?';
        EXPECT_EQ(c.allowed, IsEntryName(c.name.c_str(), c.name.size())) << shown << " (" << c.name.size() << ")";
    }
    EXPECT_FALSE(IsEntryName(nullptr, 0));
}

TEST(FsFatEntry, SlotCountForNames)
{
    struct Case {
        std::wstring name;
        std::uint32_t slots;
    };
    // clang-format off
    const Case cases[] = {
        {L"", 2},
        {L"a", 2},
        {std::wstring(12, L'x'), 2},
        {std::wstring(13, L'x'), 2},   // fills its one long-name entry, no NUL
        {std::wstring(14, L'x'), 3},
        {std::wstring(26, L'x'), 3},
        {std::wstring(27, L'x'), 4},
        {std::wstring(255, L'x'), 21},
        {std::wstring(256, L'x'), 0},  // refused: no free run is ever found for it
        {L"C:\\Music\\Album\\" + std::wstring(20, L'x'), 3},
        {std::wstring(300, L'p') + L"\\song.mp3", 2},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.name.size()) + " characters");
        EXPECT_EQ(EntryCountForWideName(c.name.c_str()), c.slots);
        MemoryFolder folder(4);
        EXPECT_EQ(folder.EntryCountForName(c.name.c_str()), c.slots);
        const std::string ansi(c.name.begin(), c.name.end());
        EXPECT_EQ(CountLongNameEntries(ansi.c_str()), c.slots);
    }
    EXPECT_EQ(EntryCountForWideName(nullptr), 0u);
    EXPECT_EQ(CountLongNameEntries(nullptr), 0u);
    MemoryFolder folder(4);
    EXPECT_EQ(folder.FindFreeRun(0), -1);
}

TEST(FsFatEntry, ShortNamesInAnEmptyFolder)
{
    struct Case {
        std::wstring name;
        std::string shortText;
    };
    // clang-format off
    const Case cases[] = {
        {L"song.mp3", "SONG.MP3"},
        {L"My Favourite Song.mp3", "MYFAVO~0.MP3"},
        {L"a.b.c.mp3", "ABC~0.MP3"},        // inner dots dropped
        {L"Readme", "README~0"},            // no extension, more than four characters
        {L".hidden", "HIDDEN~0"},           // a leading dot separates nothing
        {L"abc", "ABC"},
        {L"abcd", "ABCD"},
        {L"abcde", "ABCDE~0"},
        {L"12345678.txt", "12345678.TXT"},
        {L"123456789.txt", "123456~0.TXT"},
        {L"song.mpeg", "SONG~0.MPE"},
        {L"x.y", "X.Y"},
        {L"[1] (live).mp3", "1LIVE~0.MP3"},
        {L"file.tar.gz", "FILETA~0.GZ"},
        {L"Ab~1.txt", "AB~1.TXT"},
        {L"\u00e5bc.txt", "\xE5" "BC.TXT"},  // only a-z are upper-cased
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
        MemoryFolder folder(8);
        char out[kShortTextBytes];
        EXPECT_EQ(folder.MakeShortName(c.name.c_str(), out, sizeof out), 0u);
        EXPECT_EQ(std::string(out), c.shortText);

        char ansi[64];
        ASSERT_NE(WideToAnsi(c.name.c_str(), ansi, sizeof ansi), 0u);
        std::vector<FatDirSlot> slots(8);
        EXPECT_EQ(MakeShortName(ansi, out, sizeof out, slots.data(), std::uint32_t(slots.size())), 0u);
        EXPECT_EQ(std::string(out), c.shortText);
    }
}

TEST(FsFatEntry, EveryRefusedCharacterIsDroppedAndMakesTheNameLossy)
{
    const std::string refused = " {+,;=[].()&^\\/:*?\"<>|}";
    ASSERT_EQ(refused.size(), 23u);
    int refusedCount = 0;
    for (int c = 0; c < 256; ++c)
        refusedCount += IsValidShortNameChar(std::uint8_t(c)) ? 0 : 1;
    EXPECT_EQ(refusedCount, 23);

    for (char c : refused) {
        SCOPED_TRACE(std::string("character ") + c);
        EXPECT_EQ(IsValidShortNameChar(std::uint8_t(c)), 0);
        const std::string name = std::string("a") + c + "b.txt";
        char out[kShortTextBytes];
        std::vector<FatDirSlot> slots(4);
        ASSERT_EQ(MakeShortName(name.c_str(), out, sizeof out, slots.data(), 4), 0u);
        EXPECT_EQ(std::string(out), "AB~0.TXT");
    }
}

TEST(FsFatEntry, ShortNameRefusesSmallOutputAndNullName)
{
    std::vector<FatDirSlot> slots(4);
    char out[kShortTextBytes] = "unchanged";
    EXPECT_EQ(MakeShortName("song.mp3", out, kShortTextBytes - 1, slots.data(), 4), 1u);
    EXPECT_EQ(MakeShortName(nullptr, out, sizeof out, slots.data(), 4), 1u);
    EXPECT_EQ(MakeShortName("song.mp3", nullptr, 64, slots.data(), 4), 1u);
}

// Adding the same base again and again: ~0..~9, then two digits on a base cut to five, then refusal;
// every name stays in legal characters and distinct.
TEST(FsFatEntry, NumericTailStaysLegalAndEnds)
{
    struct Case {
        const char* what;
        std::wstring (*name)(int);
        std::string oneDigitBase;
        std::string twoDigitBase;
    };
    const Case cases[] = {
        {"long base", [](int i) { return L"Track Number " + std::to_wstring(i) + L".mp3"; }, "TRACKN", "TRACK"},
        // Names that differ only in dropped characters; a base of two is not cut.
        {"short base", [](int i) { return L"x" + std::wstring(std::size_t(i) + 1, L' ') + L"y.mp3"; }, "XY", "XY"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryFolder folder(1024);
        std::set<std::string> seen;
        for (int i = 0; i < 100; ++i) {
            const std::string expected = (i < 10 ? c.oneDigitBase : c.twoDigitBase) + "~" + std::to_string(i) + ".MP3";
            ASSERT_EQ(folder.AddEntry(c.name(i), std::uint16_t(10 + i)), expected) << "entry " << i;
            EXPECT_TRUE(seen.insert(expected).second);
        }
        char out[kShortTextBytes];
        EXPECT_EQ(folder.MakeShortName(c.name(100).c_str(), out, sizeof out), 1u);
        EXPECT_EQ(folder.AddEntry(c.name(100), 200), "");

        std::size_t shortEntries = 0;
        for (std::uint32_t i = 0; i < folder.Capacity(); ++i) {
            const FatDirSlot& slot = folder.Entries()[i];
            if (slot.raw[0] == 0 || slot.raw[11] == kAttrLongName)
                continue;
            ++shortEntries;
            for (int b = 0; b < 11; ++b) {
                if (slot.raw[b] != ' ') {
                    EXPECT_TRUE(IsValidShortNameChar(slot.raw[b])) << "slot " << i << " byte " << b;
                }
            }
        }
        EXPECT_EQ(shortEntries, 100u);
        const auto walked = folder.Walk();
        ASSERT_EQ(walked.size(), 100u);
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(walked[std::size_t(i)].first, c.name(i));
    }
}

TEST(FsFatEntry, TailComparesOnlyTheSlotsItIsGiven)
{
    std::vector<FatDirSlot> slots(4);
    ASSERT_EQ(BuildFileEntrySet(3, 1, 9, "x", "ABC~0.MP3", 1, 0, 0, 0, 0, slots.data(), 4, 0), 0u);
    char out[kShortTextBytes];
    ASSERT_EQ(MakeShortName("a.b.c.mp3", out, sizeof out, slots.data(), 3), 0u);
    EXPECT_STREQ(out, "ABC~0.MP3");
    ASSERT_EQ(MakeShortName("a.b.c.mp3", out, sizeof out, slots.data(), 4), 0u);
    EXPECT_STREQ(out, "ABC~1.MP3");
    EXPECT_EQ(FindFreeEntryRun(1, slots.data(), 3), 0);
    EXPECT_EQ(FindFreeEntryRun(4, slots.data(), 4), -1);
    EXPECT_EQ(FindFreeEntryRun(3, slots.data(), 4), 2);
}

TEST(FsFatEntry, EntrySetLayout)
{
    MemoryFolder folder(8);
    std::memset(folder.Entries(), 0xAB, 8 * sizeof(FatDirSlot));
    const std::time_t created = LocalTime(2024, 3, 5, 13, 45, 31);
    const std::time_t accessed = LocalTime(2023, 12, 31, 0, 0, 0);
    const std::time_t written = LocalTime(2010, 7, 4, 8, 9, 10);
    ASSERT_EQ(folder.WriteEntrySet(5, 3, 0x1234, L"My Favourite Song.mp3", "MYFAVO~0.MP3", kAttrPlayerFile, 123456,
                                   created, accessed, written),
              0u);

    const FatShortEntry& e = folder.Entries()[5].entry;
    EXPECT_EQ(StoredName(folder.Entries()[5]), "MYFAVO~0MP3");
    EXPECT_EQ(e.attributes, 0x80);
    EXPECT_EQ(e.reserved, 0xAB);             // kept from the slot
    EXPECT_EQ(e.createTenths, 0xAB | 0x80);  // odd second; the other bits kept
    EXPECT_EQ(e.createTime, Time(13, 45, 31));
    EXPECT_EQ(e.createDate, Date(2024, 3, 5));
    EXPECT_EQ(e.accessDate, Date(2023, 12, 31));
    EXPECT_EQ(e.firstClusterHigh, 0);
    EXPECT_EQ(e.writeTime, Time(8, 9, 10));
    EXPECT_EQ(e.writeDate, Date(2010, 7, 4));
    EXPECT_EQ(e.firstCluster, 0x1234);
    EXPECT_EQ(e.size, 123456u);
    EXPECT_EQ(ShortNameChecksum(folder.Entries()[5].raw), 0x13);

    const FatLongEntry& first = folder.Entries()[4].longEntry;
    EXPECT_EQ(first.sequence, 0x01);
    EXPECT_EQ(first.attributes, 0x0F);
    EXPECT_EQ(first.type, 0);
    EXPECT_EQ(first.checksum, 0x13);
    EXPECT_EQ(first.firstCluster, 0);
    EXPECT_EQ(LongPiece(first), L"My Favourite ");

    const FatLongEntry& last = folder.Entries()[3].longEntry;
    EXPECT_EQ(last.sequence, 0x42);
    EXPECT_EQ(last.checksum, 0x13);
    EXPECT_EQ(LongPiece(last), std::wstring(L"Song.mp3") + L'\0' + std::wstring(4, L'\xFFFF'));

    for (int slot : {0, 1, 2, 6, 7}) {
        for (std::uint8_t b : folder.Entries()[slot].raw)
            ASSERT_EQ(b, 0xAB) << "slot " << slot << " was written";
    }

    // Bit 7 follows the creation second; the other bits are left as they were.
    ASSERT_EQ(folder.WriteEntrySet(5, 1, 1, nullptr, "A.B", 0x80, 0, LocalTime(2024, 3, 5, 13, 45, 30), 0, 0), 0u);
    EXPECT_EQ(folder.Entries()[5].entry.createTenths, 0x2B);
    ASSERT_EQ(folder.WriteEntrySet(5, 1, 1, nullptr, "A.B", 0x80, 0, LocalTime(2024, 3, 5, 13, 45, 59), 0, 0), 0u);
    EXPECT_EQ(folder.Entries()[5].entry.createTenths, 0xAB);
}

TEST(FsFatEntry, NamesThatFillTheirLastPieceHaveNoNul)
{
    for (std::size_t length : {std::size_t(13), std::size_t(26)}) {
        SCOPED_TRACE(length);
        MemoryFolder folder(8);
        const std::wstring name = std::wstring(length - 4, L'n') + L".mp3";
        const std::uint32_t count = folder.EntryCountForName(name.c_str());
        ASSERT_EQ(count, length / 13 + 1);
        ASSERT_EQ(folder.WriteEntrySet(count - 1, count, 5, name.c_str(), "NNNNNN~0.MP3", 0x80, 0, 0, 0, 0), 0u);
        std::wstring joined;
        for (std::uint32_t k = 0; k + 1 < count; ++k)
            joined += LongPiece(folder.Entries()[count - 2 - k].longEntry);
        EXPECT_EQ(joined, name);
        EXPECT_EQ(folder.Entries()[0].longEntry.sequence, 0x40 | (count - 1));
    }
}

TEST(FsFatEntry, LongNamesOver255CharactersAreRefused)
{
    MemoryFolder folder(64);
    const std::wstring longest = std::wstring(251, L'n') + L".mp3";
    const std::wstring tooLong = std::wstring(252, L'n') + L".mp3";
    EXPECT_EQ(folder.AddEntry(tooLong, 9), "");
    for (std::uint32_t i = 0; i < folder.Capacity(); ++i)
        ASSERT_EQ(folder.Entries()[i].raw[0], 0) << "slot " << i << " written";

    // Even with a slot count and short name supplied, nothing is written.
    EXPECT_EQ(folder.WriteEntrySet(30, 21, 9, tooLong.c_str(), "NNNNNN~0.MP3", 0x80, 0, 0, 0, 0), 1u);
    const std::string ansiTooLong(tooLong.begin(), tooLong.end());
    std::vector<FatDirSlot> slots(64);
    EXPECT_EQ(BuildFileEntrySet(30, 21, 9, ansiTooLong.c_str(), "N.MP3", 1, 0, 0, 0, 0, slots.data(), 64, 0), 1u);
    EXPECT_EQ(BuildFolderEntrySet(30, 21, 9, ansiTooLong.c_str(), "N", slots.data(), 64), 1u);
    EXPECT_EQ(BuildRenamedEntrySet(30, 21, ansiTooLong.c_str(), "N", slots[0], slots.data(), 64), 1u);
    // A set that would not fit the array.
    EXPECT_EQ(folder.WriteEntrySet(3, 5, 9, L"x", "X", 0x80, 0, 0, 0, 0), 1u);
    EXPECT_EQ(folder.WriteEntrySet(64, 2, 9, L"x", "X", 0x80, 0, 0, 0, 0), 1u);
    EXPECT_EQ(folder.WriteEntrySet(40, 23, 9, L"x", "X", 0x80, 0, 0, 0, 0), 1u);
    for (std::uint32_t i = 0; i < folder.Capacity(); ++i)
        ASSERT_EQ(folder.Entries()[i].raw[0], 0) << "slot " << i << " written";
    for (const FatDirSlot& slot : slots)
        ASSERT_EQ(slot.raw[0], 0);

    ASSERT_EQ(folder.AddEntry(longest, 9), "NNNNNN~0.MP3");
    EXPECT_EQ(folder.FindFreeRun(64 - 21 + 1), -1);
    const auto walked = folder.Walk();
    ASSERT_EQ(walked.size(), 1u);
    EXPECT_EQ(walked[0].first, longest);
}

TEST(FsFatEntry, FirstByteE5IsStoredAs05AndReadBack)
{
    MemoryFolder folder(8);
    ASSERT_EQ(folder.AddEntry(L"\u00e5ngstr\u00f6m song.mp3", 21), "\xE5NGSTR~0.MP3");
    EXPECT_EQ(folder.Entries()[2].raw[0], 0x05);
    EXPECT_EQ(ShortNameChecksum(folder.Entries()[2].raw), folder.Entries()[1].longEntry.checksum);
    // Not free: the next run starts after it.
    EXPECT_EQ(folder.FindFreeRun(1), 3);
    // The tail search sees the stored name.
    ASSERT_EQ(folder.AddEntry(L"\u00e5ngstr\u00f6m tune.mp3", 22), "\xE5NGSTR~1.MP3");

    // Without a long name the short name reads back with its real first byte.
    ASSERT_EQ(folder.WriteEntrySet(6, 1, 23, nullptr,
                                   "\xE5"
                                   "BC.TXT",
                                   0x80, 0, 0, 0, 0),
              0u);
    EXPECT_EQ(folder.Entries()[6].raw[0], 0x05);
    const auto walked = folder.Walk();
    ASSERT_EQ(walked.size(), 3u);
    EXPECT_EQ(walked[0].first, L"\u00e5ngstr\u00f6m song.mp3");
    EXPECT_EQ(walked[2].first, L"\u00e5BC.TXT");
}

TEST(FsFatEntry, DatesAndTimesAreClamped)
{
    struct Case {
        const char* what;
        bool null;
        int year, month, day, hour, minute, second;
        std::uint16_t date, time;
    };
    // clang-format off
    const Case cases[] = {
        {"ordinary", false, 2024, 3, 5, 13, 45, 31, Date(2024, 3, 5), Time(13, 45, 31)},
        {"first day", false, 1980, 1, 1, 0, 0, 0, 0x0021, 0},
        {"last day", false, 2107, 12, 31, 23, 59, 59, 0xFF9F, Time(23, 59, 59)},
        {"before 1980", false, 1979, 12, 31, 23, 59, 59, 0x0021, 0},
        {"1970", false, 1970, 1, 1, 0, 0, 0, 0x0021, 0},
        {"after 2107", false, 2108, 1, 1, 0, 0, 0, 0xFF9F, Time(23, 59, 58)},
        {"no time", true, 0, 0, 0, 0, 0, 0, 0x0021, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::tm t{};
        t.tm_year = c.year - 1900;
        t.tm_mon = c.month - 1;
        t.tm_mday = c.day;
        t.tm_hour = c.hour;
        t.tm_min = c.minute;
        t.tm_sec = c.second;
        std::uint8_t field[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        EncodeFatDate(field, c.null ? nullptr : &t);
        EXPECT_EQ(field[0] | (field[1] << 8), c.date);
        EXPECT_EQ(field[2], 0xEE);
        EncodeFatTime(field, c.null ? nullptr : &t);
        EXPECT_EQ(field[0] | (field[1] << 8), c.time);
    }

    // From time_t: a failed conversion and the ends of the range.
    struct TimeCase {
        const char* what;
        std::time_t t;
        int year, month, day, hour, minute, second;
    };
    // clang-format off
    const TimeCase times[] = {
        {"-1 (conversion fails)", std::time_t(-1), 1980, 1, 1, 0, 0, 0},
        {"0 (1970)", std::time_t(0), 1980, 1, 1, 0, 0, 0},
        {"year 2200", LocalTime(2200, 6, 1, 12, 0, 0), 2107, 12, 31, 23, 59, 58},
        {"ordinary", LocalTime(2024, 3, 5, 13, 45, 31), 2024, 3, 5, 13, 45, 31},
    };
    // clang-format on
    for (const TimeCase& c : times) {
        SCOPED_TRACE(c.what);
        const std::tm t = FatLocalTime(c.t);
        EXPECT_EQ(t.tm_year + 1900, c.year);
        EXPECT_EQ(t.tm_mon + 1, c.month);
        EXPECT_EQ(t.tm_mday, c.day);
        EXPECT_EQ(t.tm_hour, c.hour);
        EXPECT_EQ(t.tm_min, c.minute);
        EXPECT_EQ(t.tm_sec, c.second);
    }

    // An entry written with a time of -1 holds the first FAT day.
    MemoryFolder folder(4);
    ASSERT_EQ(folder.WriteEntrySet(1, 2, 9, L"x.mp3", "X.MP3", 0x80, 0, -1, -1, -1), 0u);
    EXPECT_EQ(folder.Entries()[1].entry.createDate, 0x0021);
    EXPECT_EQ(folder.Entries()[1].entry.writeDate, 0x0021);
    EXPECT_EQ(folder.Entries()[1].entry.createTime, 0);
}

TEST(FsFatEntry, CodePageConversionsStayInTheirBuffers)
{
    wchar_t wide[8];
    std::fill(std::begin(wide), std::end(wide), L'#');
    EXPECT_EQ(AnsiToWide("abc", wide, 4), 3u);
    EXPECT_EQ(std::wstring(wide), L"abc");
    std::fill(std::begin(wide), std::end(wide), L'#');
    EXPECT_EQ(AnsiToWide("abcd", wide, 4), 0u);
    EXPECT_EQ(wide[0], L'\0');
    EXPECT_EQ(wide[4], L'#');
    EXPECT_EQ(AnsiToWide("\xE5", wide, 8), 1u);
    EXPECT_EQ(wide[0], L'\u00e5');
    EXPECT_EQ(AnsiToWide("x", nullptr, 8), 0u);

    char ansi[8];
    std::fill(std::begin(ansi), std::end(ansi), '#');
    EXPECT_EQ(WideToAnsi(L"\u00e5bc", ansi, 4), 3u);
    EXPECT_EQ(std::string(ansi),
              "\xE5"
              "bc");
    std::fill(std::begin(ansi), std::end(ansi), '#');
    EXPECT_EQ(WideToAnsi(L"abcd", ansi, 4), 0u);
    EXPECT_EQ(ansi[0], '\0');
    EXPECT_EQ(ansi[4], '#');
    EXPECT_EQ(WideToAnsi(L"", ansi, 1), 0u);
    EXPECT_EQ(WideToAnsi(L"x", ansi, 0), 0u);
}

TEST(FsFatEntry, AnsiFileBuilderAttributesAndHighCluster)
{
    struct Case {
        std::uint8_t typeCode;
        std::uint8_t attributes;
    };
    for (const Case c :
         {Case{'C', 0x06}, Case{'F', 0x06}, Case{'K', 0x06}, Case{'c', 0x80}, Case{1, 0x80}, Case{0, 0x80}}) {
        SCOPED_TRACE(int(c.typeCode));
        MemoryFolder folder(4);
        ASSERT_EQ(BuildFileEntrySet(2, 2, 0x0042, "Caf\xE9.dat", "CAF\xC9.DAT", c.typeCode, 77,
                                    LocalTime(2020, 2, 29, 1, 2, 3), 0, 0, folder.Entries(), 4, 0x5678),
                  0u);
        const FatShortEntry& e = folder.Entries()[2].entry;
        EXPECT_EQ(e.attributes, c.attributes);
        EXPECT_EQ(e.firstClusterHigh, 0x5678);
        EXPECT_EQ(e.firstCluster, 0x0042);
        EXPECT_EQ(e.size, 77u);
        EXPECT_EQ(e.createDate, Date(2020, 2, 29));
        const auto walked = folder.Walk();
        ASSERT_EQ(walked.size(), 1u);
        EXPECT_EQ(walked[0].first, L"Caf\u00e9.dat");
    }
}

TEST(FsFatEntry, AnsiFolderBuilderClearsTheSlotAndUsesNow)
{
    std::vector<FatDirSlot> slots(6);
    std::memset(slots.data(), 0xAB, slots.size() * sizeof(FatDirSlot));
    const std::uint16_t before = TodayFatDate();
    ASSERT_EQ(BuildFolderEntrySet(3, 2, 40, "Album", "ALBUM", slots.data(), 6), 0u);
    const std::uint16_t after = TodayFatDate();
    const FatShortEntry& e = slots[3].entry;
    EXPECT_EQ(StoredName(slots[3]), "ALBUM      ");
    EXPECT_EQ(e.attributes, 0x10);
    EXPECT_EQ(e.reserved, 0);
    EXPECT_EQ(e.createTenths & 0x7F, 0);
    EXPECT_EQ(e.size, 0u);
    EXPECT_EQ(e.firstClusterHigh, 0);
    EXPECT_EQ(e.firstCluster, 40);
    EXPECT_TRUE(e.writeDate == before || e.writeDate == after);
    EXPECT_EQ(e.createDate, e.writeDate);
    EXPECT_EQ(slots[2].longEntry.sequence, 0x41);
    EXPECT_EQ(slots[2].longEntry.checksum, ShortNameChecksum(slots[3].raw));
    EXPECT_EQ(slots[1].raw[0], 0xAB);
}

TEST(FsFatEntry, RenameKeepsTheEntryAndTakesNewNameAndTimes)
{
    const std::time_t created = LocalTime(2001, 9, 8, 7, 6, 5);
    const std::time_t old = LocalTime(2002, 1, 2, 3, 4, 6);
    std::vector<FatDirSlot> slots(8);
    ASSERT_EQ(BuildFileEntrySet(1, 2, 300, "old.mp3", "OLD.MP3", 'K', 4096, created, old, old, slots.data(), 8, 7), 0u);
    slots[1].entry.reserved = 0x18;
    const FatDirSlot oldEntry = slots[1];

    const std::uint16_t before = TodayFatDate();
    ASSERT_EQ(BuildRenamedEntrySet(5, 3, "A new and longer name.mp3", "ANEWAN~0.MP3", oldEntry, slots.data(), 8), 0u);
    MemoryFolder folder(8);
    ASSERT_EQ(folder.WriteRenamedEntrySet(5, 3, L"A new and longer name.mp3", "ANEWAN~0.MP3", oldEntry), 0u);
    const std::uint16_t after = TodayFatDate();

    const FatDirSlot* const sets[] = {slots.data(), folder.Entries()};
    for (const FatDirSlot* set : sets) {
        const FatShortEntry& e = set[5].entry;
        EXPECT_EQ(StoredName(set[5]), "ANEWAN~0MP3");
        EXPECT_EQ(e.attributes, 0x06);
        EXPECT_EQ(e.reserved, 0x18);
        EXPECT_EQ(e.createDate, Date(2001, 9, 8));
        EXPECT_EQ(e.createTime, Time(7, 6, 5));
        EXPECT_EQ(e.createTenths & 0x80, 0x80);
        EXPECT_EQ(e.firstCluster, 300);
        EXPECT_EQ(e.firstClusterHigh, 7);
        EXPECT_EQ(e.size, 4096u);
        EXPECT_TRUE(e.writeDate == before || e.writeDate == after);
        EXPECT_EQ(e.accessDate, e.writeDate);
        EXPECT_EQ(set[4].longEntry.checksum, ShortNameChecksum(set[5].raw));
        EXPECT_EQ(set[3].longEntry.sequence, 0x42);
    }
    EXPECT_EQ(folder.Walk().at(0).first, L"A new and longer name.mp3");
}

TEST(FsFatEntry, ChecksumOfKnownNames)
{
    struct Case {
        const char* name11;
        std::uint8_t sum;
    };
    for (const Case c : {Case{"SONG    MP3", 0x6F}, Case{"README~0   ", 0x6E}, Case{"FOO     BAR", 0x53}}) {
        EXPECT_EQ(ShortNameChecksum(reinterpret_cast<const std::uint8_t*>(c.name11)), c.sum) << c.name11;
    }
}

}  // namespace
