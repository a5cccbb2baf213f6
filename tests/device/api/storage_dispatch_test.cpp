// The storage dispatch against the simulated player: which store serves each operation on the three
// schemes, the answers where a scheme has no folders, the legacy play index, and a folder object that
// cannot be made.
#include "device/api/storage_dispatch.h"

#include "device/api/player/player_device.h"
#include "device/fs/internal/internal_folder.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/engine_state.h"
#include "sim/simulated_player.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace engine;

namespace {

using Bytes = std::vector<std::uint8_t>;

void WriteFile(const std::filesystem::path& path, std::size_t size, char fill)
{
    std::ofstream out(path, std::ios::binary);
    const std::string bytes(size, fill);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The model's player with one internal chip: a short identification.
sim::PlayerConfig OneChip(int model)
{
    sim::PlayerConfig config = sim::DefaultConfig(model);
    for (int i = 1; i < sim::ModelChipSlots(model); ++i)
        config.nandIds[i] = {0, 0};
    return config;
}

// An identified player and a dispatch over it.
struct Rig {
    explicit Rig(int model, bool internalRoot = false) : player(OneChip(model)), dispatch(device)
    {
        if (!player.Ok() || device.Initialize(info) != kStatusOk)
            return;
        if (internalRoot) {
            InternalFolder root(Engine.InternalRootEntries, 1, 1, 1);
            if (root.Load() != kStatusOk) {
                LegacyStore.freeBlockCount = LegacyCountFreeBlocks();
                if (root.WriteNewDirectory() != kStatusOk)
                    return;
            }
        }
        ok = true;
    }
    std::wstring Pc(const wchar_t* name, std::size_t size, char fill)
    {
        const auto path = pc.File(name);
        WriteFile(path, size, fill);
        return path.wstring();
    }
    // Name and folder word of every record of internal memory's flat store, whatever its folder.
    std::vector<std::pair<std::string, std::uint16_t>> LegacyRecords()
    {
        std::vector<std::pair<std::string, std::uint16_t>> out;
        DirRecord r;
        for (std::int32_t s = device.LegacyFindFirst(r); s == 0; s = device.LegacyFindNext(r))
            out.emplace_back(reinterpret_cast<const char*>(r.name), r.firstClusterHigh);
        return out;
    }

    sim::TestPlayer player;
    PlayerDevice device;
    DeviceInfoBlock info{};
    StorageDispatch dispatch;
    test_support::TempFolder pc;
    bool ok = false;
};

}  // namespace

TEST(StorageDispatchSchemes, FolderAnswersByScheme)
{
    struct Row {
        int model;
        StorageScheme scheme;
        std::uint32_t foldersInt, foldersExt;
        std::int32_t currentExt;  // GetCurrentFolderId on the card
    };
    const Row rows[] = {
        {1, StorageScheme::Legacy, 0, 0, -1},
        {8, StorageScheme::OneFolderLevel, 1, 0, -1},
    };
    for (const Row& row : rows) {
        Rig rig(row.model);
        ASSERT_TRUE(rig.ok) << row.model;
        EXPECT_EQ(row.scheme, CurrentStorageScheme()) << row.model;
        EXPECT_EQ(row.foldersInt, rig.dispatch.SupportsFolders(0)) << row.model;
        EXPECT_EQ(row.foldersExt, rig.dispatch.SupportsFolders(1)) << row.model;
        std::uint32_t id = 99;
        EXPECT_EQ(row.currentExt, rig.dispatch.GetCurrentFolderId(1, &id)) << row.model;
        EXPECT_EQ(0u, id) << "the out id is written on every path";
        id = 99;
        EXPECT_EQ(-1, rig.dispatch.GetCurrentFolderId(7, &id)) << row.model;
        EXPECT_EQ(0u, id);
        EXPECT_EQ(0, rig.dispatch.GetCurrentFolderId(0, &id));
        EXPECT_EQ(0u, id);
        // Selecting a folder on the card changes nothing.
        EXPECT_EQ(kStatusOk, rig.dispatch.SelectFolder(1, 5));
        EXPECT_EQ(0u, Engine.LegacyFolderId);
        // A card folder is refused, and none appears in internal memory instead.
        id = 99;
        EXPECT_EQ(kStatusFolderError, rig.dispatch.CreateFolder(1, L"CARDDIR", &id)) << row.model;
        EXPECT_EQ(0u, id);
        EXPECT_TRUE(rig.LegacyRecords().empty()) << row.model;
        DirRecord r;
        EXPECT_EQ(1, rig.dispatch.FindEntryByName(1, L"CARDDIR", &r));
        EXPECT_EQ(kStatusFolderError, rig.dispatch.DeleteFolder(1, 5));
    }
    {
        Rig rig(1);
        ASSERT_TRUE(rig.ok);
        EXPECT_EQ(kStatusFolderError, rig.dispatch.MoveEntryInside(0, 5, 0, 1));
        EXPECT_EQ(kStatusFolderError, rig.dispatch.MoveEntryInside(1, 5, 0, 1));
    }
}

TEST(StorageDispatchLegacy, PlayIndexOfAMissingIdIsMinusOne)
{
    Rig rig(1);
    ASSERT_TRUE(rig.ok);
    for (const wchar_t* name : {L"A.BIN", L"B.BIN", L"C.BIN"})
        ASSERT_EQ(kStatusOk, rig.dispatch.DownloadFile(0, rig.Pc(name, 100, 'x').c_str()));
    std::vector<std::uint32_t> ids;
    DirRecord r;
    for (std::int32_t s = rig.dispatch.FindFirstInternal(&r); s == 0; s = rig.dispatch.FindNextInternal(&r))
        ids.push_back(r.firstCluster);
    ASSERT_EQ(3u, ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(static_cast<std::int32_t>(i), rig.dispatch.GetPlayIndex(0, ids[i]));
    EXPECT_EQ(-1, rig.dispatch.GetPlayIndex(0, 0x7777));
    // The card's root has no such file either (no card: nothing to count).
    EXPECT_EQ(-1, rig.dispatch.GetPlayIndex(1, ids[0]));
}

TEST(StorageDispatchLegacy, OneFolderLevelWalksAndStreams)
{
    Rig rig(8);
    ASSERT_TRUE(rig.ok);
    std::uint32_t folder = 0;
    ASSERT_EQ(kStatusOk, rig.dispatch.CreateFolder(0, L"DIR", &folder));
    ASSERT_NE(0u, folder);
    ASSERT_EQ(kStatusOk, rig.dispatch.DownloadFile(0, rig.Pc(L"ROOT.BIN", 10, 'r').c_str()));

    // Folders only: the look-up skips files.
    DirRecord r;
    EXPECT_EQ(0, rig.dispatch.FindEntryByName(0, L"DIR", &r));
    EXPECT_EQ(folder, r.firstCluster);
    EXPECT_EQ(-1, rig.dispatch.FindEntryByName(0, L"ROOT.BIN", &r));
    EXPECT_EQ(-1, rig.dispatch.FindEntryByName(0, L"dir", &r)) << "compared case-sensitively";

    // A stream made in the folder lands in it; the walk of the folder shows only its own records.
    ASSERT_EQ(kStatusOk, rig.dispatch.SelectFolder(0, folder));
    std::uint32_t current = 0;
    EXPECT_EQ(0, rig.dispatch.GetCurrentFolderId(0, &current));
    EXPECT_EQ(folder, current);
    ASSERT_EQ(kStatusOk, rig.dispatch.OpenStreamWrite(0, L"IN.BIN"));
    const std::uint8_t data[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(kStatusOk, rig.dispatch.WriteStream(0, data, 5));
    ASSERT_EQ(kStatusOk, rig.dispatch.CloseStream(0));
    std::vector<std::string> inFolder;
    for (std::int32_t s = rig.dispatch.FindFirstInternal(&r); s == 0; s = rig.dispatch.FindNextInternal(&r))
        inFolder.emplace_back(reinterpret_cast<const char*>(r.name));
    EXPECT_EQ((std::vector<std::string>{"IN.BIN"}), inFolder);
    for (const auto& [name, word] : rig.LegacyRecords()) {
        if (name == "IN.BIN") {
            EXPECT_EQ(folder, word);
        }
    }

    std::uint32_t level = 99;
    EXPECT_EQ(kStatusOk, rig.dispatch.ResetFolderLevel(0, &level));
    EXPECT_EQ(folder, level);
    EXPECT_EQ(kStatusOk, rig.dispatch.ResetFolderLevel(1, &level));
    EXPECT_EQ(0u, level);
}

TEST(StorageDispatchFolderObjects, TransfersThroughTheCurrentFolder)
{
    Rig rig(9, true);
    ASSERT_TRUE(rig.ok);
    ASSERT_EQ(StorageScheme::FolderObjects, CurrentStorageScheme());
    EXPECT_EQ(1u, rig.dispatch.SupportsFolders(1));
    // No folder object yet: every operation is refused.
    DirRecord r;
    std::uint32_t id = 99;
    EXPECT_EQ(-1, rig.dispatch.FindFirstInternal(&r));
    EXPECT_EQ(-1, rig.dispatch.GetCurrentFolderId(0, &id));
    EXPECT_EQ(0u, id);
    EXPECT_EQ(kStatusFolderError, rig.dispatch.DownloadFile(0, rig.Pc(L"A.BIN", 10, 'a').c_str()));
    EXPECT_EQ(-1, rig.dispatch.GetPlayIndex(0, 5));

    ASSERT_EQ(kStatusOk, rig.dispatch.SelectFolder(0, 0));
    EXPECT_EQ(0, rig.dispatch.GetCurrentFolderId(0, &id));
    EXPECT_EQ(1u, id) << "a root folder object has id 1";
    const std::wstring src = rig.Pc(L"Song.bin", 40000, 's');
    ASSERT_EQ(kStatusOk, rig.dispatch.DownloadFile(0, src.c_str()));
    ASSERT_EQ(0, rig.dispatch.FindFirstInternal(&r));
    EXPECT_EQ(std::wstring(L"Song.bin"), reinterpret_cast<const wchar_t*>(r.name));
    EXPECT_EQ(0, rig.dispatch.GetPlayIndex(0, r.firstCluster));
    const auto back = rig.pc.File("back.bin");
    ASSERT_EQ(kStatusOk, rig.dispatch.UploadFile(0, r.firstCluster, back.wstring().c_str()));
    EXPECT_EQ(ReadFile(src), ReadFile(back));

    std::uint32_t sub = 0;
    ASSERT_EQ(kStatusOk, rig.dispatch.CreateFolder(0, L"Music", &sub));
    EXPECT_NE(0u, sub);
    EXPECT_EQ(0, rig.dispatch.FindEntryByName(0, L"Music", &r));
    EXPECT_EQ(sub, r.firstCluster);
    EXPECT_EQ(-1, rig.dispatch.FindEntryByName(0, L"Song.bin", &r)) << "files are skipped";
    ASSERT_EQ(kStatusOk, rig.dispatch.SelectFolder(0, sub));
    EXPECT_EQ(0, rig.dispatch.GetCurrentFolderId(0, &id));
    EXPECT_EQ(sub, id);
    for (std::int32_t s = rig.dispatch.FindFirstInternal(&r); s == 0; s = rig.dispatch.FindNextInternal(&r))
        EXPECT_NE(std::wstring(L"Song.bin"), reinterpret_cast<const wchar_t*>(r.name)) << "the root's file in Music";
    EXPECT_EQ(kStatusFolderError, rig.dispatch.DeleteFolder(0, sub));
}

// A folder object that cannot have its entry buffer is not kept: the storage then has no current
// folder, and every operation is refused instead of walking a missing buffer.
TEST(StorageDispatchFolderObjects, FolderWithoutBufferIsDropped)
{
    Rig rig(9, true);
    ASSERT_TRUE(rig.ok);
    ASSERT_EQ(kStatusOk, rig.dispatch.SelectFolder(0, 0));
    {
        test_support::NothrowArrayAllocationFails failing;
        EXPECT_EQ(kStatusStorageFull, rig.dispatch.SelectFolder(0, 0));
    }
    EXPECT_EQ(nullptr, rig.dispatch.CurrentFolder(0));
    DirRecord r;
    std::uint32_t id = 99;
    EXPECT_EQ(-1, rig.dispatch.FindFirstInternal(&r));
    EXPECT_EQ(-1, rig.dispatch.FindNextInternal(&r));
    EXPECT_EQ(-1, rig.dispatch.GetCurrentFolderId(0, &id));
    EXPECT_EQ(kStatusFolderError, rig.dispatch.DownloadFile(0, rig.Pc(L"A.BIN", 10, 'a').c_str()));
    EXPECT_EQ(kStatusFolderError, rig.dispatch.CreateFolder(0, L"X", &id));
    EXPECT_EQ(0u, id);
    EXPECT_EQ(kStatusFolderError, rig.dispatch.OpenStreamWrite(0, L"S.BIN"));
    // A later selection works again.
    ASSERT_EQ(kStatusOk, rig.dispatch.SelectFolder(0, 0));
    EXPECT_NE(nullptr, rig.dispatch.CurrentFolder(0));
}
