// The device context against the simulated player: identification and the refresh's waits and
// notices (the waits recorded, never slept), detach and media change, the busy-lock skip, error
// mapping, name look-up, the facades, the system dump, and the context's lifetime.
#include "device/api/device_context.h"

#include "device/fs/internal/internal_folder.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"
#include "sim/simulated_player.h"
#include "tests/device/api/internal_root.h"
#include "sim/wire_server.h"
#include "tests/support/pc_file_bytes.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

using namespace engine;

namespace {

using test_support::Bytes;
using test_support::ReadFile;
using test_support::WriteFile;

// The system dump passes through the device API's temporary folder: each shard takes one of its own.
[[maybe_unused]] const test_support::PrivateTemp kPrivateTemp;

Bytes Pattern(std::size_t size, std::uint32_t seed)
{
    Bytes b(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

// A context over a simulated player, with its waits and identification notices recorded.
struct Rig {
    explicit Rig(const sim::PlayerConfig& config) : player(config)
    {
        context.SetSleep([this](DWORD ms) { sleeps.push_back(ms); });
        context.SetInitializationNotice([this](bool start) { notices.push_back(start ? "start" : "end"); });
    }
    explicit Rig(int model) : Rig(sim::DefaultConfig(model)) {}

    void Forget()
    {
        sleeps.clear();
        notices.clear();
    }
    std::vector<std::wstring> RootNames(std::uint32_t storage = 0)
    {
        std::vector<std::wstring> names;
        DirRecord r;
        for (std::int32_t s = storage ? context.FindFirstExternal(&r) : context.FindFirstInternal(&r); s == 0;
             s = storage ? context.FindNextExternal(&r) : context.FindNextInternal(&r)) {
            if (context.UsesFolderObjects()) {
                names.emplace_back(reinterpret_cast<const wchar_t*>(r.name));
            } else {
                std::string n(reinterpret_cast<const char*>(r.name));
                names.emplace_back(n.begin(), n.end());
            }
        }
        return names;
    }

    sim::TestPlayer player;
    DeviceContext context;
    std::vector<DWORD> sleeps;
    std::vector<std::string> notices;
    test_support::TempFolder pc;
};

// A folder-object model with one internal chip: its identification reads one chip's spare areas, not seven.
sim::PlayerConfig OneChip(int model)
{
    sim::PlayerConfig config = sim::DefaultConfig(model);
    for (int i = 1; i < sim::ModelChipSlots(model); ++i)
        config.nandIds[i] = {0, 0};
    return config;
}

}  // namespace

TEST(ErrorMapping, EngineCodesToMessages)
{
    const std::pair<std::uint32_t, UINT> rows[] = {
        {0, 788}, {1, 779}, {2, 774},  {3, 780},  {4, 781},  {5, 773},  {6, 782},   {7, 783},
        {8, 784}, {9, 785}, {10, 786}, {11, 787}, {12, 789}, {13, 788}, {255, 788}, {0xFFFFFFFF, 788},
    };
    for (const auto& [code, id] : rows)
        EXPECT_EQ(id, ErrorCodeToMessageId(code)) << code;
}

TEST(DeviceContextIdentity, FirmwareAndDateTexts)
{
    const std::pair<const char*, const char*> rows[] = {
        {"0216", "2.16"}, {"1216", "12.16"}, {"1.05", "1.05"}, {".123", ".123"}, {"123.", "123."}, {"0100", "1.00"},
    };
    for (const auto& [firmware, text] : rows) {
        sim::PlayerConfig config = sim::DefaultConfig(1);
        config.firmware = firmware;
        config.firmwareDate = "20030415";
        Rig rig(config);
        ASSERT_TRUE(rig.player.Ok());
        ASSERT_EQ(S_OK, rig.context.Init()) << firmware;
        EXPECT_STREQ(text, rig.context.GetFirmwareVersion()) << firmware;
        EXPECT_STREQ("2003.04.15", rig.context.GetFirmwareDate());
        EXPECT_STREQ("KWEP-1", rig.context.GetModelIdText());
        EXPECT_EQ(PlayerModel::KWEP_1, rig.context.GetModel());
    }
}

TEST(DeviceContextRefresh, PlugInIdentifiesOnceAndDetachClears)
{
    Rig rig(1);
    ASSERT_TRUE(rig.player.Ok());
    ASSERT_EQ(S_OK, rig.context.Init());
    EXPECT_EQ((std::vector<DWORD>{100}), rig.sleeps);
    EXPECT_EQ((std::vector<std::string>{"start", "end"}), rig.notices);
    EXPECT_TRUE(rig.context.IsReady());
    EXPECT_TRUE(rig.context.IsInternalPresent());
    EXPECT_FALSE(rig.context.IsExternalPresent());
    EXPECT_NE(0u, rig.context.GetInternalTotalBytes());
    EXPECT_NE(0u, rig.context.GetInternalFreeBytes());
    EXPECT_TRUE(rig.context.IsMediaChanged());

    // Nothing changed: no wait, no identification.
    rig.Forget();
    rig.context.ClearMediaChanged();
    EXPECT_EQ(S_OK, rig.context.Refresh());
    EXPECT_TRUE(rig.sleeps.empty());
    EXPECT_TRUE(rig.notices.empty());
    EXPECT_FALSE(rig.context.IsMediaChanged());

    // Detached: not ready, figures and presence cleared, media changed.
    rig.player.Server().Unplug();
    EXPECT_EQ(E_FAIL, rig.context.Refresh());
    EXPECT_FALSE(rig.context.IsReady());
    EXPECT_FALSE(rig.context.IsInternalPresent());
    EXPECT_EQ(0u, rig.context.GetInternalTotalBytes());
    EXPECT_EQ(0u, rig.context.GetInternalFreeBytes());
    EXPECT_TRUE(rig.context.IsMediaChanged());
    EXPECT_TRUE(rig.notices.empty());

    // Plugged in again: identified anew after the short wait.
    rig.player.Server().Plug();
    rig.Forget();
    EXPECT_EQ(S_OK, rig.context.Refresh());
    EXPECT_EQ((std::vector<DWORD>{100}), rig.sleeps);
    EXPECT_EQ((std::vector<std::string>{"start", "end"}), rig.notices);
    EXPECT_TRUE(rig.context.IsInternalPresent());
}

TEST(DeviceContextRefresh, MediaChangeWaits)
{
    struct Row {
        int model;
        bool card;
        std::vector<DWORD> waits;
    };
    const Row rows[] = {
        {1, true, {1000, 5000}},  // NAND-type card present on a model outside the group
        {1, false, {1000}},       // no card
        {10, true, {1000}},       // a group model
        {12, true, {}},           // no media poll at all
    };
    for (const Row& row : rows) {
        sim::PlayerConfig config = sim::DefaultConfig(row.model);
        Rig rig(config);
        ASSERT_TRUE(rig.player.Ok());
        if (row.card) {
            if (row.model == 10)
                ASSERT_TRUE(rig.player.Player().InsertSectorCard(32768));
            else
                ASSERT_TRUE(rig.player.Player().InsertNandCard(0xEC, 0x73));
        }
        ASSERT_EQ(S_OK, rig.context.Init()) << row.model;
        EXPECT_EQ(row.card, rig.context.IsExternalPresent() != 0) << row.model;
        rig.Forget();
        rig.player.Player().EditConfig([](sim::PlayerConfig& c) { c.mediaChanged = true; });
        EXPECT_EQ(S_OK, rig.context.Refresh()) << row.model;
        EXPECT_EQ(row.waits, rig.sleeps) << row.model;
        const std::vector<std::string> identified = {"start", "end"};
        EXPECT_EQ(row.waits.empty() ? std::vector<std::string>{} : identified, rig.notices) << row.model;
        EXPECT_TRUE(rig.context.IsReady());
    }
}

TEST(DeviceContextRefresh, FailedIdentificationLeavesNothingReady)
{
    Rig rig(1);
    ASSERT_TRUE(rig.player.Ok());
    rig.player.Server().InjectFault(sim::FaultKind::Fail, 1);
    EXPECT_EQ(E_FAIL, rig.context.Init());
    EXPECT_EQ((std::vector<std::string>{"start", "end"}), rig.notices);
    EXPECT_FALSE(rig.context.IsReady());
    EXPECT_FALSE(rig.context.IsInternalPresent());
    EXPECT_EQ(0u, rig.context.GetInternalTotalBytes());
    rig.player.Server().ClearFault();
    EXPECT_EQ(S_OK, rig.context.Refresh());
    EXPECT_TRUE(rig.context.IsReady());
}

TEST(DeviceContextRefresh, UnreadableCardLeavesInternalMemoryReady)
{
    Rig rig(1);
    ASSERT_TRUE(rig.player.Ok());
    ASSERT_TRUE(rig.player.Player().InsertNandCard(0xEC, 0x73, false));
    ASSERT_EQ(S_OK, rig.context.Init());
    EXPECT_TRUE(rig.context.IsReady());
    EXPECT_TRUE(rig.context.IsInternalPresent());
    EXPECT_TRUE(rig.context.IsExternalPresent());
    EXPECT_TRUE(rig.context.IsExternalUnformatted());
    EXPECT_EQ(0u, rig.context.GetExternalTotalBytes());
    EXPECT_EQ(0u, rig.context.GetExternalFreeBytes());
}

TEST(DeviceContextRefresh, SkipsBehindAClaimedLock)
{
    Rig rig(1);
    ASSERT_TRUE(rig.player.Ok());
    ASSERT_EQ(S_OK, rig.context.Init());
    rig.player.Server().Unplug();

    // Held and re-entered by this thread: the refresh changes nothing.
    DeviceContext::CardLock().Enter();
    DeviceContext::CardLock().Enter();
    EXPECT_EQ(S_OK, rig.context.Refresh());
    EXPECT_TRUE(rig.context.IsReady());
    DeviceContext::CardLock().Leave();
    DeviceContext::CardLock().Leave();

    // Held once here while another thread waits for it.
    DeviceContext::InternalLock().Enter();
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        CriticalSectionGuard hold(DeviceContext::InternalLock());
        got = true;
    });
    while (DeviceContext::InternalLock().Claims() < 2)
        SwitchToThread();
    EXPECT_EQ(S_OK, rig.context.Refresh());
    EXPECT_TRUE(rig.context.IsReady());
    DeviceContext::InternalLock().Leave();
    waiter.join();
    EXPECT_TRUE(got);

    // Unclaimed: the detach is seen.
    EXPECT_EQ(E_FAIL, rig.context.Refresh());
    EXPECT_FALSE(rig.context.IsReady());
}

TEST(DeviceContextFacades, WithoutDevice)
{
    DeviceContext context;
    DirRecord r;
    std::uint32_t id = 77;
    EXPECT_EQ(4u, context.DeleteFile(0, 5));
    EXPECT_EQ(4u, context.DownloadFile(1, L"C:\\A.MP3"));
    EXPECT_EQ(4, context.FindFirstInternal(&r));
    EXPECT_EQ(4, context.FindFirstExternal(&r));
    EXPECT_EQ(4u, context.CreateFolder(0, L"X", &id));
    EXPECT_EQ(0u, id);
    EXPECT_EQ(-1, context.GetPlayIndex(0, 5));
    EXPECT_EQ(1, context.ResolvePath(0, L"A", &r));
    EXPECT_EQ(E_FAIL, context.Refresh());
    EXPECT_FALSE(context.IsReady());
}

TEST(DeviceContextFacades, LookUpRenameAndMediaChanged)
{
    Rig rig(1);
    ASSERT_TRUE(rig.player.Ok());
    ASSERT_EQ(S_OK, rig.context.Init());
    const Bytes font = Pattern(3000, 1);
    WriteFile(rig.pc.File("Font.fon"), font);
    WriteFile(rig.pc.File("Other.bin"), Pattern(100, 2));

    rig.context.ClearMediaChanged();
    ASSERT_EQ(0u, rig.context.DownloadFile(0, rig.pc.File("Font.fon").wstring().c_str()));
    EXPECT_TRUE(rig.context.IsMediaChanged());
    ASSERT_EQ(0u, rig.context.DownloadFile(0, rig.pc.File("Other.bin").wstring().c_str()));

    DirRecord r;
    ASSERT_EQ(0, rig.context.ResolvePath(0, L"FONT.FON", &r));
    EXPECT_STREQ("Font.fon", reinterpret_cast<const char*>(r.name));
    EXPECT_EQ(font.size(), r.size);
    EXPECT_EQ(1, rig.context.ResolvePath(0, L"FONT.FO", &r));
    EXPECT_EQ(1, rig.context.ResolvePath(2, L"FONT.FON", &r));

    // An upload reads only.
    rig.context.ClearMediaChanged();
    ASSERT_EQ(0u, rig.context.UploadFile(0, r.firstCluster, rig.pc.File("back.fon").wstring().c_str()));
    EXPECT_EQ(font, ReadFile(rig.pc.File("back.fon")));
    EXPECT_FALSE(rig.context.IsMediaChanged());

    // Renaming onto a name in the folder (any case) is refused and renames nothing.
    EXPECT_EQ(12u, rig.context.RenameEntry(0, r.firstCluster, L"other.BIN"));
    EXPECT_EQ((std::vector<std::wstring>{L"Font.fon", L"Other.bin"}), rig.RootNames());
    EXPECT_FALSE(rig.context.IsMediaChanged());
    EXPECT_EQ(0u, rig.context.RenameEntry(0, r.firstCluster, L"New.fon"));
    EXPECT_TRUE(rig.context.IsMediaChanged());
    std::vector<std::wstring> names = rig.RootNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"New.fon", L"Other.bin"}), names);
}

// What the context keeps of a storage costs nothing on the wire while no other process changed that
// storage (its own writes included); a change elsewhere, told by the player's shared counts as another
// process tells it, costs one reload of that storage only, and is recorded as a change for the next poll.
TEST(DeviceContextChanges, OnlyAChangeElsewhereCostsAReload)
{
    Rig rig(1);
    ASSERT_TRUE(rig.player.Ok());
    ASSERT_EQ(S_OK, rig.context.Init());
    WriteFile(rig.pc.File("One.bin"), Pattern(3000, 1));
    ASSERT_EQ(0u, rig.context.DownloadFile(0, rig.pc.File("One.bin").wstring().c_str()));
    // The flat store's listing reads its root from the player every time; its play order does not.
    DirRecord one;
    ASSERT_EQ(0, rig.context.ResolvePath(0, L"One.bin", &one));
    WriteFile(rig.pc.File("Two.bin"), Pattern(100, 2));
    ASSERT_EQ(0u, rig.context.DownloadFile(0, rig.pc.File("Two.bin").wstring().c_str()));

    HANDLE section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, ChangeCountsName(rig.player.InterfacePath().c_str()).c_str());
    ASSERT_NE(section, nullptr);
    auto* counts = static_cast<volatile LONG*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 2 * sizeof(LONG)));
    ASSERT_NE(counts, nullptr);
    const auto packets = [&] {
        const sim::RunCost cost = rig.player.Cost();
        return cost.wire.packetsOut + cost.wire.packetsIn;
    };
    struct Step {
        const char* what;
        int storageChanged;  // the count raised before the listing, or -1
        bool reloads;
    };
    const Step steps[] = {
        {"after its own write", -1, false},
        {"after a change of internal memory elsewhere", 0, true},
        {"once reloaded", -1, false},
        {"after a change of the card elsewhere", 1, false},
    };
    rig.context.ClearMediaChanged();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.storageChanged >= 0)
            InterlockedIncrement(&counts[step.storageChanged]);
        rig.player.ResetCost();
        EXPECT_EQ(0, rig.context.GetPlayIndex(0, one.firstCluster));
        std::uint32_t id = 0;
        EXPECT_EQ(0, rig.context.GetCurrentFolderId(0, &id));
        EXPECT_EQ(step.reloads, packets() != 0);
        // A poll (ForceUpdate) tells its client of the other program's write as of one of its own.
        EXPECT_EQ(step.reloads, rig.context.IsMediaChanged() != 0);
        rig.context.ClearMediaChanged();
    }
    UnmapViewOfFile(const_cast<LONG*>(counts));
    CloseHandle(section);
}

TEST(DeviceContextFacades, ResolvePathStaysInTheCurrentFolder)
{
    Rig rig(OneChip(9));
    ASSERT_TRUE(rig.player.Ok());
    ASSERT_TRUE(MakeInternalRoot());
    ASSERT_EQ(S_OK, rig.context.Init());
    ASSERT_TRUE(rig.context.UsesFolderObjects());
    WriteFile(rig.pc.File("Deep.mp3x"), Pattern(500, 3));
    std::uint32_t sub = 0;
    ASSERT_EQ(0u, rig.context.CreateFolder(0, L"Sub", &sub));
    ASSERT_NE(0u, sub);
    ASSERT_EQ(0u, rig.context.SelectFolder(0, sub));
    ASSERT_EQ(0u, rig.context.DownloadFile(0, rig.pc.File("Deep.mp3x").wstring().c_str()));
    DirRecord r;
    EXPECT_EQ(0, rig.context.ResolvePath(0, L"DEEP.MP3X", &r));
    EXPECT_EQ(std::wstring(L"Deep.mp3x"), reinterpret_cast<const wchar_t*>(r.name));
    ASSERT_EQ(0u, rig.context.SelectFolder(0, 0));
    EXPECT_EQ(1, rig.context.ResolvePath(0, L"Deep.mp3x", &r));
    EXPECT_EQ(0, rig.context.ResolvePath(0, L"SUB", &r));
}

TEST(DeviceContextDump, AbsentReadsAsZero)
{
    Rig rig(1);
    ASSERT_TRUE(rig.player.Ok());
    ASSERT_EQ(S_OK, rig.context.Init());
    EXPECT_EQ(0u, rig.context.ReadSystemDump());
    for (std::uint8_t b : rig.context.SystemDump())
        ASSERT_EQ(0, b);
}

// A field written through the context keeps the others as the player holds them, on both kinds of
// internal memory.
TEST(DeviceContextDump, FieldUpdatesKeepTheOtherFields)
{
    for (int model : {1, 9}) {
        Rig rig(OneChip(model));
        ASSERT_TRUE(rig.player.Ok());
        if (model == 9) {
            ASSERT_TRUE(MakeInternalRoot());
        }
        ASSERT_EQ(S_OK, rig.context.Init());
        const Bytes personal = Pattern(kDumpPersonalIdBytes, 10);
        const Bytes serial = Pattern(kDumpSerialBytes, 11);
        ASSERT_EQ(0u, rig.context.UpdateSystemDump(kDumpPersonalIdOffset, personal.data(), kDumpPersonalIdBytes));
        ASSERT_EQ(0u, rig.context.UpdateSystemDump(kDumpSerialOffset, serial.data(), kDumpSerialBytes));

        // What the player holds, read by a fresh identification.
        ASSERT_EQ(S_OK, rig.context.ReadDeviceInfo());
        for (std::uint8_t b : rig.context.SystemDump())
            ASSERT_EQ(0, b);
        ASSERT_EQ(0u, rig.context.ReadSystemDump()) << model;
        const auto& dump = rig.context.SystemDump();
        EXPECT_EQ(0x5A, dump[0]);
        EXPECT_EQ(0xA5, dump[1]);
        EXPECT_EQ(0x5A, dump[2]);
        EXPECT_EQ(0xA5, dump[3]);
        EXPECT_TRUE(std::equal(personal.begin(), personal.end(), dump.begin() + kDumpPersonalIdOffset)) << model;
        EXPECT_TRUE(std::equal(serial.begin(), serial.end(), dump.begin() + kDumpSerialOffset)) << model;
        DirRecord r;
        ASSERT_EQ(0, rig.context.ResolvePath(0, L"SYSDUM0.DU0", &r));
        EXPECT_EQ(kSystemDumpBytes, r.size);
        // One dump file, not one per write.
        int dumps = 0;
        for (const std::wstring& name : rig.RootNames())
            dumps += name == L"sysdum0.du0";
        EXPECT_EQ(1, dumps) << model;
    }
}

// A transfer that fails anywhere in a dump write leaves the player with its dump: the old one or the
// new one, whole.
TEST(DeviceContextDump, FailedWriteKeepsADump)
{
    // One small chip: each look by a later session is a short identification.
    sim::PlayerConfig config = sim::DefaultConfig(5);
    config.nandIds[0] = {0xEC, 0xE6};
    Rig rig(config);
    ASSERT_TRUE(rig.player.Ok());
    ASSERT_EQ(S_OK, rig.context.Init());
    Bytes current = Pattern(kDumpSerialBytes, 20);
    const Bytes personal = Pattern(kDumpPersonalIdBytes, 21);
    ASSERT_EQ(0u, rig.context.UpdateSystemDump(kDumpPersonalIdOffset, personal.data(), kDumpPersonalIdBytes));
    ASSERT_EQ(0u, rig.context.UpdateSystemDump(kDumpSerialOffset, current.data(), kDumpSerialBytes));

    bool completed = false;
    int failures = 0;
    for (std::uint64_t nth = 1; nth < 400 && !completed; ++nth) {
        const Bytes next = Pattern(kDumpSerialBytes, static_cast<std::uint32_t>(100 + nth));
        rig.player.Server().InjectFault(sim::FaultKind::Fail, nth);
        const std::uint32_t status = rig.context.UpdateSystemDump(kDumpSerialOffset, next.data(), kDumpSerialBytes);
        rig.player.Server().ClearFault();
        completed = status == 0;
        failures += completed ? 0 : 1;

        // Seen as a later session sees it.
        ASSERT_EQ(S_OK, rig.context.ReadDeviceInfo()) << nth;
        DirRecord r;
        ASSERT_EQ(0, rig.context.ResolvePath(0, kSystemDumpName, &r)) << "no dump after a failure at transfer " << nth;
        ASSERT_EQ(0u, rig.context.ReadSystemDump()) << nth;
        const auto& dump = rig.context.SystemDump();
        const bool isNew = std::equal(next.begin(), next.end(), dump.begin() + kDumpSerialOffset);
        const bool isOld = std::equal(current.begin(), current.end(), dump.begin() + kDumpSerialOffset);
        ASSERT_TRUE(isNew || isOld) << nth;
        ASSERT_TRUE(std::equal(personal.begin(), personal.end(), dump.begin() + kDumpPersonalIdOffset))
            << "another field lost at transfer " << nth;
        if (completed) {
            EXPECT_TRUE(isNew) << nth;
        }
        if (isNew)
            current = next;
    }
    EXPECT_TRUE(completed);
    EXPECT_GT(failures, 5) << "the faults reached the dump writes";
    std::printf("a dump update failed at %d of its transfers\n", failures);
}

TEST(DeviceContextLifetime, HeldContextOutlivesItsDiscard)
{
    auto context = std::make_shared<DeviceContext>();
    std::weak_ptr<DeviceContext> watch = context;
    DeviceContext::Publish(context);
    std::shared_ptr<DeviceContext> call = DeviceContext::Current();  // as a running call holds it
    context.reset();
    ASSERT_EQ(call, DeviceContext::Current());
    DeviceContext::Discard();
    EXPECT_EQ(nullptr, DeviceContext::Current());
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(4u, call->DeleteFile(0, 1));  // still usable by the call that holds it
    call.reset();
    EXPECT_TRUE(watch.expired());
}
