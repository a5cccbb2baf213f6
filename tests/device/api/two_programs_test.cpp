// Two programs writing to one player, each through its own device context: what one keeps in memory
// of a storage (the card's volume, loaded folders, internal memory's free blocks, the flat store's
// root) must not outlive a change the other made. A program that listed a folder before another one
// downloaded into it, and one racing another, lose nothing: every file of both reads back whole, the
// free space counts exactly the files, and the card passes fsck.fat.
#include "tests/device/api/two_programs.h"

#include "device/api/device_context.h"
#include "device/fs/card/card_volume.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/engine_state.h"
#include "sim/simulated_player.h"
#include "tests/device/api/internal_root.h"
#include "tests/device/fs/card/external_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/pc_file_bytes.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

using namespace engine;

namespace {

// Each shard, and each host it starts, has a temporary folder of its own.
[[maybe_unused]] const test_support::PrivateTemp kPrivateTemp;

constexpr DWORD kHostRunLimitMs = 600000;  // a safety net only: the hosts end by themselves
constexpr wchar_t kFolderName[] = L"Music";

struct StoreCase {
    const char* name;
    int model;
    std::uint32_t storage;   // 0 internal memory, 1 the card
    bool inFolder;           // into a subfolder of the root, else into the root
    std::uint8_t nandCard;   // a NAND-type card of this device code (maker 0xEC), or none
    std::uint32_t sdSectors; // an MMC/SD card of this many sectors, or none
};

void PrintTo(const StoreCase& c, std::ostream* out)
{
    *out << c.name;
}

const StoreCase kStores[] = {
    {"FlatStore", 3, 0, false, 0, 0},
    {"CardRootOfFlatStoreModel", 3, 1, false, 0x73, 0},
    {"NandCardFolder", 9, 1, true, 0xE6, 0},
    {"SdCardFolder", 10, 1, true, 0, 65536},
    {"InternalFolderObjects", 9, 0, true, 0, 0},
};

// Every identification, and every reload of internal memory, reads the spare records of every block of
// every internal chip: the cases on internal memory have one small chip (8 MiB), the card's none.
sim::PlayerConfig Config(const StoreCase& c)
{
    sim::PlayerConfig config = sim::DefaultConfig(c.model);
    for (int i = 0; i < sim::CardPosition(config); ++i)
        config.nandIds[i] = {0, 0};
    if (c.storage == 0)
        config.nandIds[0] = {0xEC, 0xE6};
    return config;
}

std::wstring Widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

class Event {
public:
    explicit Event(const std::string& name) : name_(name), h_(CreateEventA(nullptr, TRUE, FALSE, name.c_str())) {}
    ~Event()
    {
        if (h_)
            CloseHandle(h_);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    bool Ok() const { return h_ != nullptr; }
    HANDLE Handle() const { return h_; }
    std::wstring Name() const { return Widen(name_); }
    void Set() const { SetEvent(h_); }

private:
    std::string name_;
    HANDLE h_;
};

class Host : public test_support::HostProcess {
public:
    Host(const StoreCase& c, const std::string& tag, int count, const std::wstring& ready, const std::wstring& go)
        : HostProcess(test_support::BuildTreeProgram(KWEP_TWO_PROGRAMS_HOST_PATH),
                      std::to_wstring(c.storage) + L" " + (c.inFolder ? std::wstring(kFolderName) : L"-") + L" " +
                          Widen(tag) + L" " + std::to_wstring(count) + L" " + ready + L" " + go)
    {}
    // True once the host has set its event; false when it ended first.
    bool WaitReady(const Event& ready) const
    {
        const HANDLE both[] = {ready.Handle(), Handle()};
        return WaitForMultipleObjects(2, both, FALSE, kHostRunLimitMs) == WAIT_OBJECT_0;
    }
};

class TwoProgramsTest : public ::testing::TestWithParam<StoreCase> {
protected:
    void SetUp() override
    {
        const StoreCase& c = GetParam();
        ASSERT_TRUE(player.Ok());
        if (c.nandCard) {
            ASSERT_TRUE(player.Player().InsertNandCard(0xEC, c.nandCard, true));
        }
        if (c.sdSectors) {
            ASSERT_TRUE(player.Player().InsertSectorCard(c.sdSectors, true));
        }
        if (c.storage == 0 && c.model >= 9) {
            ASSERT_TRUE(MakeInternalRoot());
        }
        context.SetSleep([](DWORD) {});
        ASSERT_EQ(context.Init(), S_OK);
        if (c.inFolder) {
            ASSERT_EQ(context.SelectFolder(c.storage, 0), kStatusOk);
            ASSERT_EQ(context.CreateFolder(c.storage, kFolderName, &folderId), kStatusOk);
        }
        // The listing makes the flat store's root when there is none yet.
        EXPECT_TRUE(Files().empty());
        ASSERT_EQ(context.Refresh(), S_OK);
        freeBefore = FreeBytes();
        folderClustersBefore = FolderClusters();
    }

    std::uint32_t FreeBytes()
    {
        return GetParam().storage ? context.GetExternalFreeBytes() : context.GetInternalFreeBytes();
    }
    // The bytes a file takes: whole clusters of the card, whole blocks of internal memory.
    std::uint32_t Unit() const
    {
        return GetParam().storage ? CardVolume.card.sectorsPerBlock * 512u : LegacyBlockBytes();
    }
    // Clusters of the card folder's directory (it grows as entries come).
    std::size_t FolderClusters() const
    {
        std::vector<std::uint32_t> chain;
        if (GetParam().storage == 0 || !GetParam().inFolder || ListChain(CardVolume, folderId, UINT32_MAX, chain) != kStatusOk)
            return 0;
        return chain.size();
    }

    // Name and id of every file in the folder, listed through this test's own context.
    std::map<std::string, std::uint32_t> Files()
    {
        const StoreCase& c = GetParam();
        std::map<std::string, std::uint32_t> files;
        if (context.UsesFolderObjects()) {
            EXPECT_EQ(context.SelectFolder(c.storage, c.inFolder ? folderId : 0), kStatusOk);
        }
        DirRecord r;
        for (std::int32_t s = c.storage ? context.FindFirstExternal(&r) : context.FindFirstInternal(&r); s == 0;
             s = c.storage ? context.FindNextExternal(&r) : context.FindNextInternal(&r)) {
            if (r.attributes & 0x10)
                continue;
            std::string name;
            if (context.UsesFolderObjects()) {
                for (const wchar_t* w = reinterpret_cast<const wchar_t*>(r.name); *w; ++w)
                    name += static_cast<char>(*w);
            } else {
                name = reinterpret_cast<const char*>(r.name);
            }
            files[name] = r.firstCluster;
        }
        return files;
    }

    // Every file of both hosts is there and reads back whole, and the free space counts them exactly.
    // The player is identified afresh first, so that what is checked is what the hosts left on it.
    void ExpectWhole(const std::map<std::string, int>& hosts)
    {
        ASSERT_EQ(context.Close(), S_OK);
        ASSERT_EQ(context.Init(), S_OK);
        const auto files = Files();
        std::size_t expectedCount = 0;
        std::uint64_t used = 0;
        for (const auto& [tag, count] : hosts) {
            for (int i = 0; i < count; ++i, ++expectedCount) {
                const std::string name = twoprograms::FileName(tag, i);
                SCOPED_TRACE(name);
                const auto file = files.find(name);
                ASSERT_NE(file, files.end());
                const std::filesystem::path back = pc.File("back-" + name);
                ASSERT_EQ(context.UploadFile(GetParam().storage, file->second, back.wstring().c_str()), kStatusOk);
                EXPECT_TRUE(test_support::ReadFile(back) == twoprograms::FileContent(tag, i));
                used += (twoprograms::FileSize(i) + Unit() - 1) / Unit() * Unit();
            }
        }
        EXPECT_EQ(files.size(), expectedCount);
        ASSERT_EQ(context.Refresh(), S_OK);
        used += (FolderClusters() - folderClustersBefore) * std::uint64_t{Unit()};
        EXPECT_EQ(std::uint64_t{freeBefore} - FreeBytes(), used);
        if (GetParam().storage != 0)
            ExpectCardClean();
    }

    // fsck.fat finds nothing but what the player's own format and folders always give it.
    void ExpectCardClean()
    {
        const auto image = player.Player().ExportCard();
        ASSERT_TRUE(image);
        const cardtest::CardImage part(pc, *image);
        EXPECT_EQ(exttest::WithoutBootSectorLabel(exttest::WithoutSelfEntries(part.Fsck())), "");
    }

    std::string Tag(const char* role) const { return "kwep-two-programs-" + std::to_string(GetCurrentProcessId()) + "-" + role; }

    sim::TestPlayer player{Config(GetParam())};
    DeviceContext context;
    test_support::TempFolder pc;
    std::uint32_t folderId = 0;
    std::uint32_t freeBefore = 0;
    std::size_t folderClustersBefore = 0;
};

// A lists its folder and waits; B downloads a file and ends; A downloads another.
TEST_P(TwoProgramsTest, ProgramThatListedBeforeAnotherWroteLosesNothing)
{
    const Event readyA(Tag("ready-a")), goA(Tag("go-a"));
    ASSERT_TRUE(readyA.Ok() && goA.Ok());
    Host a(GetParam(), "a", 1, readyA.Name(), goA.Name());
    ASSERT_TRUE(a.Started());
    ASSERT_TRUE(a.WaitReady(readyA)) << "exit " << a.Wait(0);
    Host b(GetParam(), "b", 1, L"-", L"-");
    ASSERT_TRUE(b.Started());
    ASSERT_EQ(b.Wait(kHostRunLimitMs), static_cast<DWORD>(twoprograms::kHostDone));
    goA.Set();
    ASSERT_EQ(a.Wait(kHostRunLimitMs), static_cast<DWORD>(twoprograms::kHostDone));
    ExpectWhole({{"a", 1}, {"b", 1}});
}

// Both download a large file and then small ones at the same time.
TEST_P(TwoProgramsTest, RacingBatchesLoseNothing)
{
    constexpr int kFiles = 6;
    const Event readyA(Tag("ready-a")), readyB(Tag("ready-b")), go(Tag("go"));
    ASSERT_TRUE(readyA.Ok() && readyB.Ok() && go.Ok());
    Host a(GetParam(), "a", kFiles, readyA.Name(), go.Name());
    Host b(GetParam(), "b", kFiles, readyB.Name(), go.Name());
    ASSERT_TRUE(a.Started() && b.Started());
    ASSERT_TRUE(a.WaitReady(readyA)) << "exit " << a.Wait(0);
    ASSERT_TRUE(b.WaitReady(readyB)) << "exit " << b.Wait(0);
    go.Set();
    EXPECT_EQ(a.Wait(kHostRunLimitMs), static_cast<DWORD>(twoprograms::kHostDone));
    EXPECT_EQ(b.Wait(kHostRunLimitMs), static_cast<DWORD>(twoprograms::kHostDone));
    ExpectWhole({{"a", kFiles}, {"b", kFiles}});
}

INSTANTIATE_TEST_SUITE_P(Stores, TwoProgramsTest, ::testing::ValuesIn(kStores),
                         [](const ::testing::TestParamInfo<StoreCase>& info) { return std::string(info.param.name); });

}  // namespace
