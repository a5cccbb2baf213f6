// Several hosts on one player: two host processes at once (one downloads to internal memory while the
// other reads the card's files back again and again), a host that died inside its bracket, and a
// player that stops answering. The transport lock spans processes and every transfer is bounded, so
// every host finishes, and every file reads back afterwards.
#include "tests/device/transport/two_hosts.h"

#include "device/api/player/player_device.h"
#include "device/fs/card/card_volume.h"
#include "device/fs/engine_status.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/device_pipes.h"
#include "sim/simulated_player.h"
#include "tests/device/transport/recording_wire.h"
#include "tests/support/host_process.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

using namespace engine;

namespace {

// A safety net only: the hosts end by themselves, every transfer of theirs being bounded.
constexpr DWORD kHostRunLimitMs = 600000;

std::wstring Widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

// One host process of the build tree's host program.
class HostProcess : public test_support::HostProcess {
public:
    explicit HostProcess(const std::wstring& arguments)
        : test_support::HostProcess(test_support::BuildTreeProgram(KWEP_TWO_HOSTS_HOST_PATH), arguments)
    {}
};

struct OwnedHandle {
    HANDLE h = nullptr;
    ~OwnedHandle()
    {
        if (h)
            CloseHandle(h);
    }
};

std::vector<std::uint8_t> ReadPcFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WritePcFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::map<std::string, std::uint16_t> InternalIds(PlayerDevice& device)
{
    std::map<std::string, std::uint16_t> ids;
    DirRecord r;
    for (std::int32_t s = device.LegacyFindFirst(r); s == 0; s = device.LegacyFindNext(r))
        ids[reinterpret_cast<const char*>(r.name)] = r.firstCluster;
    return ids;
}

std::map<std::string, std::uint16_t> CardIds()
{
    std::map<std::string, std::uint16_t> ids;
    DirRecord r;
    for (std::int32_t s = CardVolume.FindFirst(r); s == 0; s = CardVolume.FindNext(r))
        ids[reinterpret_cast<const char*>(r.name)] = r.firstCluster;
    return ids;
}

}  // namespace

TEST(TwoHostsTest, DownloadRacingCardReadsFromAnotherProcess)
{
    sim::TestPlayer player(twohosts::kModel);
    ASSERT_TRUE(player.Ok());
    ASSERT_TRUE(player.Player().InsertNandCard(0xEC, twohosts::kCardDevice));
    test_support::TempFolder temp;

    // The card's files, put there by this process before the hosts start.
    PlayerDevice device;
    DeviceInfoBlock info;
    LegacyResetState();
    ASSERT_EQ(device.Initialize(info), kStatusOk);
    for (int i = 0; i < twohosts::kCardFiles; ++i) {
        const std::filesystem::path file = temp.File(twohosts::CardName(i));
        WritePcFile(file, twohosts::CardContent(i));
        ASSERT_EQ(device.LegacyDownload(1, file.string().c_str(), 0), kStatusOk) << i;
    }
    // One internal file too, so that internal memory has its directory before the count below.
    const std::filesystem::path first = temp.File("first.bin");
    WritePcFile(first, twohosts::Content(1, 1000));
    ASSERT_EQ(device.LegacyDownload(0, first.string().c_str(), 0), kStatusOk);
    const std::uint32_t blockBytes = device.GetBlockBytes();
    ASSERT_NE(blockBytes, 0u);
    const std::uint32_t freeBefore = LegacyCountFreeBlocks();

    const std::string tag = "kwep-two-hosts-" + std::to_string(GetCurrentProcessId()) + "-";
    const std::string names[] = {tag + "download-ready", tag + "cards-ready", tag + "download-done"};
    OwnedHandle events[3];
    for (int i = 0; i < 3; ++i) {
        events[i].h = CreateEventA(nullptr, TRUE, FALSE, names[i].c_str());
        ASSERT_NE(events[i].h, nullptr);
    }
    const std::filesystem::path downloadFolder = temp.File("download"), cardsFolder = temp.File("cards");
    std::filesystem::create_directory(downloadFolder);
    std::filesystem::create_directory(cardsFolder);
    const auto arguments = [&](const char* role, const std::filesystem::path& folder, int own, int other) {
        return Widen(role) + L" \"" + folder.wstring() + L"\" " + Widen(names[own]) + L" " + Widen(names[other]) +
               L" " + Widen(names[2]);
    };
    HostProcess downloader(arguments("download", downloadFolder, 0, 1));
    HostProcess reader(arguments("cards", cardsFolder, 1, 0));
    ASSERT_TRUE(downloader.Started());
    ASSERT_TRUE(reader.Started());
    const DWORD downloaded = downloader.Wait(kHostRunLimitMs);
    SetEvent(events[2].h);  // the reader stops even when the downloader ended early
    const DWORD read = reader.Wait(kHostRunLimitMs);
    EXPECT_EQ(downloaded, static_cast<DWORD>(twohosts::kHostDone));
    EXPECT_EQ(read, static_cast<DWORD>(twohosts::kHostDone));

    // Every file reads back, in a session that starts afresh, and internal memory holds exactly the
    // blocks of the downloaded files.
    LegacyResetState();
    ASSERT_EQ(device.Initialize(info), kStatusOk);
    const auto internal = InternalIds(device);
    EXPECT_EQ(internal.size(), static_cast<std::size_t>(twohosts::kInternalFiles) + 1);
    EXPECT_TRUE(internal.count("first.bin"));
    std::uint32_t blocks = 0;
    for (int i = 0; i < twohosts::kInternalFiles; ++i) {
        SCOPED_TRACE(twohosts::InternalName(i));
        const auto id = internal.find(twohosts::InternalName(i));
        ASSERT_NE(id, internal.end());
        const std::filesystem::path out = temp.File("back-" + twohosts::InternalName(i));
        ASSERT_EQ(device.LegacyUpload(0, id->second, out.string().c_str()), kStatusOk);
        const auto expected = twohosts::InternalContent(i);
        EXPECT_TRUE(ReadPcFile(out) == expected);
        blocks += static_cast<std::uint32_t>((expected.size() + blockBytes - 1) / blockBytes);
    }
    EXPECT_EQ(LegacyCountFreeBlocks(), freeBefore - blocks);
    const auto card = CardIds();
    EXPECT_EQ(card.size(), static_cast<std::size_t>(twohosts::kCardFiles));
    for (int i = 0; i < twohosts::kCardFiles; ++i) {
        SCOPED_TRACE(twohosts::CardName(i));
        const auto id = card.find(twohosts::CardName(i));
        ASSERT_NE(id, card.end());
        const std::filesystem::path out = temp.File("back-" + twohosts::CardName(i));
        ASSERT_EQ(device.LegacyUpload(1, id->second, out.string().c_str()), kStatusOk);
        EXPECT_TRUE(ReadPcFile(out) == twohosts::CardContent(i));
    }
}

// A host process that ends inside its bracket leaves the lock abandoned; the next host takes it.
TEST(TwoHostsTest, HostThatDiedInItsBracketDoesNotBlockTheNext)
{
    sim::TestPlayer player(twohosts::kModel);
    ASSERT_TRUE(player.Ok());
    HostProcess dead(L"abandon");
    ASSERT_TRUE(dead.Started());
    ASSERT_EQ(dead.Wait(kHostRunLimitMs), static_cast<DWORD>(twohosts::kHostDone));
    PlayerDevice device;
    DeviceInfoBlock info;
    LegacyResetState();
    EXPECT_EQ(device.Initialize(info), kStatusOk);
    EXPECT_EQ(static_cast<int>(device.GetModel()), twohosts::kModel);
}

// The transport's wait for one transfer, shortened for one test and put back after it.
class ShortTransferWait {
public:
    explicit ShortTransferWait(DWORD milliseconds) : saved_(PlayerPipes.TransferWait())
    {
        PlayerPipes.SetTransferWait(milliseconds);
    }
    ~ShortTransferWait() { PlayerPipes.SetTransferWait(saved_); }
    ShortTransferWait(const ShortTransferWait&) = delete;
    ShortTransferWait& operator=(const ShortTransferWait&) = delete;

private:
    DWORD saved_;
};

// A player that takes a command and never answers: the host's read ends as a failed transfer once the
// transport's bounded wait is over (not before), the pipes are closed, and the next exchange is served.
TEST(StalledPlayerTest, ReadThatGetsNoReplyFails)
{
    EXPECT_EQ(PlayerPipes.TransferWait(), kTransferWaitMs);
    constexpr DWORD kWaitMs = 400;
    ShortTransferWait shortWait(kWaitMs);
    wiretest::RecordedPlayer player;
    ASSERT_TRUE(player.Ok());
    player.device.SetResponder([](std::span<const std::uint8_t> m, std::vector<sim::Message>& out) {
        if (m.size() == 64 && m[0] != kOpReadDeviceInfo)
            out.emplace_back(64, 0x5A);
    });
    ScopedPipes bracket(PlayerPipes);
    DeviceInfoBlock info;
    std::memset(&info, 0xCC, sizeof info);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(PlayerPipes.ReadDeviceInfo(info), kTransportFailed);
    // The tick counter moves in steps of up to 16 ms.
    EXPECT_GE(GetTickCount64() - start + 16, kWaitMs) << "the read failed without waiting for the player";
    EXPECT_FALSE(PlayerPipes.IsOpen(DevicePipes::kPipeOut));
    EXPECT_FALSE(PlayerPipes.IsOpen(DevicePipes::kPipeIn));
    EXPECT_EQ(info.modelId[0], 0);
    EXPECT_EQ(PlayerPipes.QueryStatusA0(), 0x5A);
}
