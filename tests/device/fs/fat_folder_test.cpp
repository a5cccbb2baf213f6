// The folder object's walk, free-run search, new-folder entries, reorder, removal and copy.
#include "tests/support/allocation_failure.h"
#include "tests/device/fs/memory_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace engine;
using test_support::MemoryFolder;
using Walked = std::vector<std::pair<std::wstring, std::uint16_t>>;

std::vector<std::uint8_t> Bytes(const MemoryFolder& folder)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(folder.Entries());
    return std::vector<std::uint8_t>(p, p + folder.Capacity() * 32);
}

void SetLongEntry(FatDirSlot& slot, std::uint8_t sequence, wchar_t fill)
{
    std::memset(slot.raw, 0, 32);
    FatLongEntry& e = slot.longEntry;
    e.sequence = sequence;
    e.attributes = kAttrLongName;
    for (auto& c : e.chars1)
        c = std::uint16_t(fill);
    for (auto& c : e.chars2)
        c = std::uint16_t(fill);
    for (auto& c : e.chars3)
        c = std::uint16_t(fill);
}

void SetShortEntry(FatDirSlot& slot, const char* name11, std::uint16_t id)
{
    std::memset(slot.raw, 0, 32);
    std::memcpy(slot.raw, name11, 11);
    slot.entry.attributes = 0x20;
    slot.entry.firstCluster = id;
}

TEST(FsFatFolder, ConstructionAndRootId)
{
    MemoryFolder folder(16, 42, 0);
    EXPECT_EQ(folder.FolderId(), 42u);
    EXPECT_EQ(folder.RootFlag(), 0u);
    ASSERT_EQ(folder.Capacity(), 16u);
    for (std::uint8_t b : Bytes(folder))
        ASSERT_EQ(b, 0);
    MemoryFolder root(16, 42, 1);
    EXPECT_EQ(root.FolderId(), 1u);

    // Without buffers every operation finds nothing and writes nothing.
    for (std::uint32_t capacity : {0u, 16u}) {
        SCOPED_TRACE(capacity);
        std::unique_ptr<MemoryFolder> empty;
        if (capacity == 0) {
            empty = std::make_unique<MemoryFolder>(0);
        } else {
            test_support::NothrowArrayAllocationFails failing;
            empty = std::make_unique<MemoryFolder>(capacity);
        }
        EXPECT_EQ(empty->Capacity(), 0u);
        EXPECT_EQ(empty->Entries(), nullptr);
        DirRecord record;
        EXPECT_EQ(empty->FindFirst(&record), -1);
        EXPECT_EQ(empty->FindNext(&record), -1);
        EXPECT_EQ(empty->FindFreeRun(1), -1);
        EXPECT_EQ(empty->AddEntry(L"x.mp3", 9), "");
        EXPECT_EQ(empty->MoveToPosition(0, 0), kStatusFolderError);
        EXPECT_EQ(empty->RemoveEntrySetById(0), kStatusFolderError);
        EXPECT_EQ(empty->GetEntryOrdinal(0), -1);
        empty->InitDirectory(5, 0, 0, L"name");
    }
}

TEST(FsFatFolder, WalkReturnsWhatWasWritten)
{
    const std::wstring names[] = {
        L"song.mp3",
        L"Readme",
        L"Thirteen1.mp3",
        std::wstring(22, L'n') + L".mp3",
        L"\u00dcn\u00efc\u00f8d\u00e9 \u2013 \u2603 \u4e2d\u6587.mp3",
        std::wstring(251, L'z') + L".mp3",
        L"a.b.c.mp3",
    };
    MemoryFolder folder(64);
    Walked expected;
    std::uint16_t id = 100;
    for (const std::wstring& name : names) {
        ASSERT_NE(folder.AddEntry(name, id), "") << std::string(name.begin(), name.end());
        expected.emplace_back(name, id++);
    }
    EXPECT_EQ(folder.Walk(), expected);

    // The same through the store's own round trip.
    ASSERT_EQ(folder.RewriteDirectory(), 0u);
    MemoryFolder reloaded(64);
    reloaded.stored = folder.stored;
    ASSERT_EQ(reloaded.Load(), 0u);
    EXPECT_EQ(reloaded.Walk(), expected);
}

TEST(FsFatFolder, RecordTakesTheShortEntryFieldsAndZeroesTheNameArea)
{
    MemoryFolder folder(4);
    FatDirSlot& slot = folder.Entries()[1];
    std::memcpy(slot.raw, "SONG    MP3", 11);
    for (int i = 11; i < 32; ++i)
        slot.raw[i] = std::uint8_t(0x40 + i);  // distinct bytes 11..31

    DirRecord record;
    std::memset(&record, 0xCC, sizeof record);
    ASSERT_EQ(folder.FindFirst(&record), 0);
    const auto* r = reinterpret_cast<const std::uint8_t*>(&record);
    // The name "SONG.MP3" in UTF-16, then zeros to the end of the area.
    const std::wstring name = MemoryFolder::RecordName(record);
    EXPECT_EQ(name, L"SONG.MP3");
    for (std::size_t i = name.size() * 2; i < 1024; ++i)
        ASSERT_EQ(r[i], 0) << "name byte " << i;
    // Entry bytes 11..19 at 1024..1032, 20..25 at 1034..1039, 26..27 at 1040, 28..31 at 1044.
    for (int i = 11; i <= 19; ++i)
        EXPECT_EQ(r[1024 + i - 11], 0x40 + i) << "entry byte " << i;
    for (int i = 20; i <= 27; ++i)
        EXPECT_EQ(r[1034 + i - 20], 0x40 + i) << "entry byte " << i;
    for (int i = 28; i <= 31; ++i)
        EXPECT_EQ(r[1044 + i - 28], 0x40 + i) << "entry byte " << i;
    EXPECT_EQ(r[1033], 0xCC);
    EXPECT_EQ(r[1042], 0xCC);
    EXPECT_EQ(r[1043], 0xCC);
    EXPECT_EQ(record.firstCluster, 0x5B5A);
}

TEST(FsFatFolder, WalkSkipsFreeAndLongSlotsButCountsDeletedEntries)
{
    MemoryFolder folder(10);
    DirRecord record;
    EXPECT_EQ(folder.FindFirst(&record), -1);

    FatDirSlot* s = folder.Entries();
    SetLongEntry(s[0], 0x41, L'a');
    SetShortEntry(s[1], "AAAAAA~0   ", 11);
    SetShortEntry(s[3],
                  "\xE5"
                  "ELETED TXT",
                  12);               // slot 2 stays free
    SetLongEntry(s[4], 0x01, L'o');  // a long entry followed by nothing
    SetShortEntry(s[6], "PLAIN   TXT", 13);
    SetShortEntry(s[7], "README     ", 14);
    SetShortEntry(s[8], "LABEL      ", 15);
    s[8].entry.attributes = 0x08;

    const Walked walked = folder.Walk();
    const Walked expected = {
        {std::wstring(13, L'a'), 11},
        {L"\u00e5"
         L"ELETED.TXT",
         12},
        {L"PLAIN.TXT", 13},
        {L"README.   ", 14},  // the dot is always written, the blank extension kept
        {L"LABEL.   ", 15},
    };
    EXPECT_EQ(walked, expected);

    // The walk ends when the counted entries are returned.
    ASSERT_EQ(folder.FindFirst(&record), 0);
    for (int i = 1; i < 5; ++i)
        ASSERT_EQ(folder.FindNext(&record), 0);
    EXPECT_EQ(folder.FindNext(&record), -1);
    EXPECT_EQ(folder.FindNext(&record), -1);
}

TEST(FsFatFolder, BrokenLongNameChainsStayInBounds)
{
    // Thirty long entries without the last-piece mark: the name stops at twenty pieces.
    MemoryFolder folder(40);
    for (int i = 0; i < 30; ++i)
        SetLongEntry(folder.Entries()[i], std::uint8_t(30 - i), L'x');
    SetShortEntry(folder.Entries()[30], "BROKEN  TXT", 31);
    DirRecord record;
    ASSERT_EQ(folder.FindFirst(&record), 0);
    EXPECT_EQ(MemoryFolder::RecordName(record), std::wstring(260, L'x'));

    // A chain without the mark that starts at slot 0.
    MemoryFolder atStart(4);
    SetLongEntry(atStart.Entries()[0], 0x02, L'y');
    SetShortEntry(atStart.Entries()[1], "Y       TXT", 2);
    ASSERT_EQ(atStart.FindFirst(&record), 0);
    EXPECT_EQ(MemoryFolder::RecordName(record), std::wstring(13, L'y'));
    std::uint32_t first = 99, count = 0;
    ASSERT_EQ(atStart.FindEntrySetByPosition(0, &first, &count), kStatusOk);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(count, 2u);
}

TEST(FsFatFolder, FreeRunSearch)
{
    struct Case {
        const char* layout;  // U used, . free, d deleted (0xE5)
        std::uint32_t count;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"....", 2, 1}, {"U.U..", 2, 4}, {"UdU.d", 2, 4}, {"U.U.U", 2, -1},
        {"dddd", 4, 3}, {"dddd", 5, -1}, {"UUU.", 1, 3},  {"U..", 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.layout) + " run " + std::to_string(c.count));
        MemoryFolder folder(std::uint32_t(std::strlen(c.layout)));
        for (std::uint32_t i = 0; c.layout[i]; ++i) {
            if (c.layout[i] == 'U')
                SetShortEntry(folder.Entries()[i], "USED       ", std::uint16_t(i + 2));
            else if (c.layout[i] == 'd')
                SetShortEntry(folder.Entries()[i],
                              "\xE5"
                              "SED       ",
                              std::uint16_t(i + 2));
        }
        EXPECT_EQ(folder.FindFreeRun(c.count), c.expected);
    }
}

TEST(FsFatFolder, NewFolderEntries)
{
    const std::tm when{31, 20, 10, 15, 5, 121, 0, 0, -1};  // 2021-06-15 10:20:31
    std::tm local = when;
    const std::time_t t = std::mktime(&local);
    const std::uint16_t date = ((2021 - 1980) << 9) | (6 << 5) | 15;
    const std::uint16_t time = (10 << 11) | (20 << 5) | 15;

    MemoryFolder folder(16, 55, 0);
    folder.InitDirectory(55, 3, t, L"Album Folder");
    const FatDirSlot* s = folder.Entries();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s[0].raw), 11), ".          ");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s[1].raw), 11), "..         ");
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(s[i].entry.attributes, 0x10);
        EXPECT_EQ(s[i].entry.createDate, date);
        EXPECT_EQ(s[i].entry.createTime, time);
        EXPECT_EQ(s[i].entry.createTenths, 0x80);
        EXPECT_EQ(s[i].entry.accessDate, date);
        EXPECT_EQ(s[i].entry.writeDate, date);
        EXPECT_EQ(s[i].entry.writeTime, time);
        EXPECT_EQ(s[i].entry.firstClusterHigh, 0);
        EXPECT_EQ(s[i].entry.size, 0u);
    }
    EXPECT_EQ(s[0].entry.firstCluster, 55);
    EXPECT_EQ(s[1].entry.firstCluster, 3);
    // The folder's own name entry after them.
    EXPECT_EQ(s[2].raw[11], kAttrLongName);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s[3].raw), 11), "ALBUMF~0   ");
    EXPECT_EQ(s[3].entry.attributes, 0x1A);
    EXPECT_EQ(s[3].entry.firstCluster, 55);
    EXPECT_EQ(s[3].entry.writeDate, date);
    const Walked walked = folder.Walk();
    ASSERT_EQ(walked.size(), 3u);
    EXPECT_EQ(walked[0].second, 55);
    EXPECT_EQ(walked[1].second, 3);
    EXPECT_EQ(walked[2], std::make_pair(std::wstring(L"Album Folder"), std::uint16_t(55)));

    // Without a name, or without room for it, only the two entries.
    MemoryFolder unnamed(16, 56, 0);
    unnamed.InitDirectory(56, 0, t, nullptr);
    MemoryFolder full(3, 57, 0);
    full.InitDirectory(57, 0, t, L"Album Folder");
    for (MemoryFolder* f : {&unnamed, &full}) {
        EXPECT_EQ(f->Walk().size(), 2u);
        for (std::uint32_t i = 2; i < f->Capacity(); ++i)
            EXPECT_EQ(f->Entries()[i].raw[0], 0);
    }
}

// Three entry sets with free and deleted-long-name slots between them: A (2 slots), B (3), C (2).
class FsFatFolderSets : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(folder.WriteEntrySet(1, 2, 201, L"Alpha.mp3", "ALPHA.MP3", 0x80, 1, 0, 0, 0), 0u);
        ASSERT_EQ(folder.WriteEntrySet(5, 3, 202, L"Bravo song number.mp3", "BRAVOS~0.MP3", 0x80, 2, 0, 0, 0), 0u);
        SetLongEntry(folder.Entries()[7], 0xE5, L'q');  // a deleted long entry between sets
        ASSERT_EQ(folder.WriteEntrySet(10, 2, 203, L"Charlie.mp3", "CHARLIE.MP3", 0x80, 3, 0, 0, 0), 0u);
    }

    Walked Names() { return folder.Walk(); }

    MemoryFolder folder{14};
    const std::pair<std::wstring, std::uint16_t> a{L"Alpha.mp3", 201};
    const std::pair<std::wstring, std::uint16_t> b{L"Bravo song number.mp3", 202};
    const std::pair<std::wstring, std::uint16_t> c{L"Charlie.mp3", 203};
};

TEST_F(FsFatFolderSets, MoveToPosition)
{
    struct Case {
        std::int32_t from, to;
        EngineStatus result;
        std::vector<int> order;  // 0 = A, 1 = B, 2 = C
    };
    constexpr EngineStatus ok = kStatusOk, refused = kStatusFolderError;
    const Case cases[] = {
        {2, 0, ok, {2, 0, 1}}, {0, 2, ok, {1, 2, 0}},      {0, 1, ok, {1, 0, 2}},      {2, 1, ok, {0, 2, 1}},
        {1, 1, ok, {0, 1, 2}}, {3, 0, refused, {0, 1, 2}}, {0, 3, refused, {0, 1, 2}}, {-1, 0, refused, {0, 1, 2}},
    };
    const auto original = Bytes(folder);
    const std::pair<std::wstring, std::uint16_t> sets[] = {a, b, c};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.from) + " -> " + std::to_string(k.to));
        std::memcpy(folder.Entries(), original.data(), original.size());
        EXPECT_EQ(folder.MoveToPosition(k.from, k.to), k.result);
        if (k.from == k.to || k.result != kStatusOk) {
            EXPECT_EQ(Bytes(folder), original);
            continue;
        }
        Walked expected;
        for (int i : k.order)
            expected.push_back(sets[i]);
        EXPECT_EQ(Names(), expected);
        // Packed from slot 0; nothing after the seven slots of the three sets.
        for (std::uint32_t i = 0; i < 7; ++i)
            EXPECT_NE(folder.Entries()[i].raw[0], 0) << "slot " << i;
        for (std::uint32_t i = 7; i < folder.Capacity(); ++i)
            EXPECT_EQ(folder.Entries()[i].raw[0], 0) << "slot " << i;
    }
}

TEST_F(FsFatFolderSets, PositionsAndOrdinals)
{
    struct Case {
        std::int32_t position;
        bool found;
        std::uint32_t first, count;
    };
    for (const Case k :
         {Case{0, true, 0, 2}, Case{1, true, 3, 3}, Case{2, true, 9, 2}, Case{3, false, 0, 0}, Case{-1, false, 0, 0}}) {
        SCOPED_TRACE(k.position);
        std::uint32_t first = 0, count = 0;
        EXPECT_EQ(folder.FindEntrySetByPosition(k.position, &first, &count), k.found ? kStatusOk : kStatusFolderError);
        if (k.found) {
            EXPECT_EQ(first, k.first);
            EXPECT_EQ(count, k.count);
        }
    }
    EXPECT_EQ(folder.GetEntryOrdinal(201), 0);
    EXPECT_EQ(folder.GetEntryOrdinal(203), 2);
    EXPECT_EQ(folder.GetEntryOrdinal(999), -1);
    // A deleted entry keeps its place in the order.
    folder.Entries()[5].raw[0] = 0xE5;
    EXPECT_EQ(folder.GetEntryOrdinal(203), 2);
}

TEST_F(FsFatFolderSets, RemoveEntrySet)
{
    EXPECT_EQ(folder.RemoveEntrySetById(999), kStatusFolderError);
    EXPECT_EQ(Names(), (Walked{a, b, c}));

    ASSERT_EQ(folder.RemoveEntrySetById(202), kStatusOk);
    EXPECT_EQ(Names(), (Walked{a, c}));
    for (std::uint32_t i = folder.Capacity() - 3; i < folder.Capacity(); ++i)
        EXPECT_EQ(folder.Entries()[i].raw[0], 0);
    EXPECT_EQ(folder.RemoveEntrySetById(202), kStatusFolderError);
}

TEST(FsFatFolder, RemoveAtTheEndOfAFullFolderZeroesTheLastSlots)
{
    MemoryFolder folder(7);
    ASSERT_NE(folder.AddEntry(L"one.mp3", 31), "");
    ASSERT_NE(folder.AddEntry(L"two.mp3", 32), "");
    ASSERT_NE(folder.AddEntry(L"the third one.mp3", 33), "");
    ASSERT_EQ(folder.FindFreeRun(1), -1);
    ASSERT_EQ(folder.RemoveEntrySetById(33), kStatusOk);
    for (std::uint32_t i = 4; i < 7; ++i) {
        for (std::uint8_t byte : folder.Entries()[i].raw)
            ASSERT_EQ(byte, 0) << "slot " << i;
    }
    EXPECT_EQ(folder.Walk(), (Walked{{L"one.mp3", 31}, {L"two.mp3", 32}}));
}

// A set whose long-name chain lost its last-piece mark, right after a file whose short name starts
// with a letter (bit 0x40 set): removing it must not reach into the other file.
TEST(FsFatFolder, RemoveWalksBackOnlyOverItsOwnLongEntries)
{
    MemoryFolder folder(6);
    ASSERT_EQ(folder.WriteEntrySet(1, 2, 41, L"alpha.txt", "ALPHA.TXT", 0x80, 0, 0, 0, 0), 0u);
    SetLongEntry(folder.Entries()[2], 0x01, L'b');
    SetShortEntry(folder.Entries()[3], "BBBBBB~0TXT", 42);
    SetShortEntry(folder.Entries()[4], "CHARLIE TXT", 43);

    ASSERT_EQ(folder.RemoveEntrySetById(42), kStatusOk);
    EXPECT_EQ(folder.Walk(), (Walked{{L"alpha.txt", 41}, {L"CHARLIE.TXT", 43}}));
    EXPECT_EQ(folder.Entries()[4].raw[0], 0);
    EXPECT_EQ(folder.Entries()[5].raw[0], 0);
}

TEST_F(FsFatFolderSets, CopyEntrySet)
{
    std::uint32_t count = 99;
    std::unique_ptr<FatDirSlot[]> copy;
    ASSERT_EQ(folder.CopyEntrySetById(202, &count, &copy), kStatusOk);
    ASSERT_EQ(count, 3u);
    ASSERT_TRUE(copy);
    EXPECT_EQ(std::memcmp(copy.get(), &folder.Entries()[3], 3 * 32), 0);

    std::unique_ptr<FatDirSlot[]> none;
    EXPECT_EQ(folder.CopyEntrySetById(999, &count, &none), kStatusOk);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(none);

    test_support::NothrowArrayAllocationFails failing;
    std::unique_ptr<FatDirSlot[]> failed;
    EXPECT_EQ(folder.CopyEntrySetById(203, &count, &failed), kStatusStorageFull);
    EXPECT_FALSE(failed);
}

TEST(FsFatFolder, LookupByIdSkipsDotsFreeAndDeletedSlots)
{
    MemoryFolder folder(8);
    folder.InitDirectory(40, 0, 1700000000, nullptr);  // ".." carries id 0, like an empty file
    SetShortEntry(folder.Entries()[2], "GONE    MP3", 0);
    folder.Entries()[2].raw[0] = kSlotDeleted;
    SetShortEntry(folder.Entries()[4], "EMPTY   TXT", 0);
    SetShortEntry(folder.Entries()[5], "SONG    MP3", 40);

    EXPECT_EQ(folder.FindEntryById(0), 4);
    EXPECT_EQ(folder.FindEntryById(40), 5);  // not "."
    EXPECT_EQ(folder.FindEntryById(40, 6), -1);
    EXPECT_EQ(folder.FindEntryById(41), -1);
}

TEST_F(FsFatFolderSets, RenameMovesTheSetOrRestoresTheEntriesExactly)
{
    FatDirSlot old{};
    ASSERT_EQ(folder.RenameEntrySet(202, L"B.mp3", &old), 0u);
    EXPECT_EQ(old.entry.firstCluster, 202);
    EXPECT_EQ(std::memcmp(old.raw, "BRAVOS~0MP3", 11), 0);
    // The three-slot set is gone and later slots moved up; the new two-slot set takes the first free run.
    EXPECT_EQ(Names(), (Walked{a, {L"B.mp3", 202}, c}));
    EXPECT_EQ(folder.FindEntryById(202), 3);

    const auto before = Bytes(folder);
    const std::wstring tooLong(300, L'x');
    EXPECT_EQ(folder.RenameEntrySet(201, tooLong.c_str(), nullptr), 1u);
    EXPECT_EQ(folder.RenameEntrySet(999, L"x.mp3", nullptr), 1u);
    const std::wstring fills(12 * 13, L'y');  // 13 slots: no room in 14 with the others
    EXPECT_EQ(folder.RenameEntrySet(203, fills.c_str(), nullptr), 1u);
    EXPECT_EQ(Bytes(folder), before);
}

TEST_F(FsFatFolderSets, ReorderById)
{
    EXPECT_EQ(folder.ReorderEntry(203, 0), 0u);
    EXPECT_EQ(Names(), (Walked{c, a, b}));
    EXPECT_EQ(folder.ReorderEntry(203, 3), 1u);
    EXPECT_EQ(folder.ReorderEntry(999, 0), 1u);
    EXPECT_EQ(folder.ReorderEntry(201, 0x80000000u), 1u);
    EXPECT_EQ(Names(), (Walked{c, a, b}));
}

TEST_F(FsFatFolderSets, CopyIntoAnotherFolder)
{
    MemoryFolder target(4);
    ASSERT_EQ(target.CopyEntrySetFrom(folder, 202), 0u);
    EXPECT_EQ(target.Walk(), (Walked{b}));
    EXPECT_EQ(target.CopyEntrySetFrom(folder, 202), 1u);  // one slot left
    EXPECT_EQ(target.CopyEntrySetFrom(folder, 999), 1u);
    test_support::NothrowArrayAllocationFails failing;
    EXPECT_EQ(target.CopyEntrySetFrom(folder, 201), 3u);
}

TEST(FsFatFolder, ParentAndSubtree)
{
    // Folders 10 (in the root) > 20 > 30, kept as id -> parent; 99 reads as unreadable.
    const std::map<std::uint32_t, std::int64_t> parents{{10, 0}, {20, 10}, {30, 20}, {99, -1}};
    const auto parentOf = [&](std::uint32_t id) {
        const auto it = parents.find(id);
        return it == parents.end() ? std::int64_t(-1) : it->second;
    };
    MemoryFolder thirty(8, 30);
    thirty.InitDirectory(30, 20, 1700000000, nullptr);
    EXPECT_EQ(thirty.ParentId(), 20);
    EXPECT_TRUE(thirty.LiesWithin(30, parentOf));
    EXPECT_TRUE(thirty.LiesWithin(20, parentOf));
    EXPECT_TRUE(thirty.LiesWithin(10, parentOf));
    EXPECT_FALSE(thirty.LiesWithin(11, parentOf));

    ASSERT_TRUE(thirty.SetParentId(99));
    EXPECT_TRUE(thirty.LiesWithin(11, parentOf));  // unknown parent: refuse

    MemoryFolder loop(8, 50);
    loop.InitDirectory(50, 50, 1700000000, nullptr);
    EXPECT_TRUE(loop.LiesWithin(11, [](std::uint32_t) { return std::int64_t(50); }));

    MemoryFolder root(8, 1, 1);
    EXPECT_FALSE(root.LiesWithin(10, parentOf));
    EXPECT_EQ(root.ParentId(), -1);
    EXPECT_FALSE(root.SetParentId(3));
}

}  // namespace
