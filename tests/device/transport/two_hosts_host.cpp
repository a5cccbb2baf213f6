// One host of two_hosts_test: identifies the player named by the environment, meets the other host,
// then downloads the internal files (role "download") or reads the card's files back again and again
// until the download has ended (role "cards"). Role "abandon" ends in the middle of a bracket.
//
//   two_hosts_host ROLE FOLDER READY_EVENT OTHER_READY_EVENT DOWNLOAD_DONE_EVENT
//   two_hosts_host abandon
#include "tests/device/transport/two_hosts.h"

#include "device/api/player/player_device.h"
#include "device/fs/card/card_volume.h"
#include "device/fs/engine_status.h"
#include "device/transport/device_pipes.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

using namespace engine;

namespace {

constexpr DWORD kMeetingWaitMs = 600000;  // a safety net only: the other host is started beside this one
constexpr int kMaxCardRounds = 10000;

std::vector<std::uint8_t> ReadPcFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WritePcFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int Download(PlayerDevice& device, const std::filesystem::path& folder)
{
    for (int i = 0; i < twohosts::kInternalFiles; ++i) {
        const std::filesystem::path file = folder / twohosts::InternalName(i);
        if (!WritePcFile(file, twohosts::InternalContent(i)))
            return twohosts::kHostOperationFailed;
        const std::uint32_t status = device.LegacyDownload(0, file.string().c_str(), 0);
        if (status != kStatusOk) {
            std::fprintf(stderr, "download of %s: status %u\n", file.string().c_str(), status);
            return twohosts::kHostOperationFailed;
        }
    }
    return twohosts::kHostDone;
}

int ReadCards(PlayerDevice& device, const std::filesystem::path& folder, HANDLE downloadDone)
{
    int rounds = 0;
    do {
        std::map<std::string, std::uint16_t> ids;
        DirRecord record;
        for (std::int32_t r = CardVolume.FindFirst(record); r == 0; r = CardVolume.FindNext(record))
            ids[reinterpret_cast<const char*>(record.name)] = record.firstCluster;
        if (ids.size() != twohosts::kCardFiles) {
            std::fprintf(stderr, "round %d: %zu files on the card\n", rounds, ids.size());
            return twohosts::kHostReadBackWrong;
        }
        for (int i = 0; i < twohosts::kCardFiles; ++i) {
            const auto id = ids.find(twohosts::CardName(i));
            if (id == ids.end())
                return twohosts::kHostReadBackWrong;
            const std::filesystem::path out = folder / ("read-" + twohosts::CardName(i));
            const std::uint32_t status = device.LegacyUpload(1, id->second, out.string().c_str());
            if (status != kStatusOk) {
                std::fprintf(stderr, "round %d: upload of %s: status %u\n", rounds, id->first.c_str(), status);
                return twohosts::kHostOperationFailed;
            }
            if (ReadPcFile(out) != twohosts::CardContent(i)) {
                std::fprintf(stderr, "round %d: %s reads back wrong\n", rounds, id->first.c_str());
                return twohosts::kHostReadBackWrong;
            }
        }
        ++rounds;
    } while (WaitForSingleObject(downloadDone, 0) != WAIT_OBJECT_0 && rounds < kMaxCardRounds);
    std::fprintf(stderr, "cards: %d rounds\n", rounds);
    return twohosts::kHostDone;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "abandon") {
        // Ends with its bracket open: the lock is left to the system to give up.
        PlayerPipes.Open();
        DeviceInfoBlock info{};
        const bool read = PlayerPipes.ReadDeviceInfo(info) == kTransportOk;
        TerminateProcess(GetCurrentProcess(), read ? twohosts::kHostDone : twohosts::kHostOperationFailed);
    }
    if (argc != 6)
        return twohosts::kHostBadArguments;
    const std::string role = argv[1];
    const std::filesystem::path folder = argv[2];
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
    HANDLE otherReady = OpenEventA(SYNCHRONIZE, FALSE, argv[4]);
    HANDLE downloadDone = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, argv[5]);
    if (!ready || !otherReady || !downloadDone || (role != "download" && role != "cards"))
        return twohosts::kHostBadArguments;

    PlayerDevice device;
    DeviceInfoBlock info;
    const std::uint32_t identified = device.Initialize(info);
    SetEvent(ready);
    if (identified != kStatusOk || static_cast<int>(device.GetModel()) != twohosts::kModel || !CardVolume.IsMounted()) {
        std::fprintf(stderr, "%s: identification gave status %u, model %d\n", role.c_str(), identified,
                     static_cast<int>(device.GetModel()));
        return twohosts::kHostNotIdentified;
    }
    if (WaitForSingleObject(otherReady, kMeetingWaitMs) != WAIT_OBJECT_0)
        return twohosts::kHostBadArguments;

    if (role == "download") {
        const int result = Download(device, folder);
        SetEvent(downloadDone);
        return result;
    }
    return ReadCards(device, folder, downloadDone);
}
