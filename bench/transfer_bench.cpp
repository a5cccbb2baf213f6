// What downloads and uploads through the internal folder objects cost: wire bytes, transfers, chip work
// and the modelled device time of a simulated folder-object player, beside the engine's own CPU time.
// Every upload is checked against what was downloaded, so a figure never comes from a broken transfer.
#include "device/api/player/player_device.h"
#include "device/fs/engine_status.h"
#include "device/fs/internal/internal_folder.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/engine_state.h"

#include "sim/cost_model.h"
#include "sim/simulated_player.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A folder-object model with small (32-sector) blocks, the figures the cost model is made for.
constexpr int kModel = 9;
constexpr double kMiB = 1024.0 * 1024.0;

Bytes Noise(std::size_t size, std::uint32_t seed)
{
    Bytes b(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

// MPEG-1 layer III frames of 417 bytes (128 kbit/s, 44.1 kHz), so the tag is followed by real audio.
Bytes Mp3(std::size_t size)
{
    Bytes b = Noise(size, 99);
    for (std::size_t at = 0; at + 4 <= size; at += 417) {
        b[at] = 0xFF;
        b[at + 1] = 0xFB;
        b[at + 2] = 0x90;
        b[at + 3] = 0x00;
    }
    return b;
}

bool WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double ThreadCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    auto value = [](const FILETIME& t) {
        return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

struct PcFile {
    std::wstring folder;  // empty: the root
    std::wstring name;
    Bytes content;
    bool mp3 = false;
    std::uint32_t id = 0;
    // Where the file lies on the PC (under the name it gets on the player), and where its upload goes.
    fs::path Source(const fs::path& temp) const { return temp / (L"pc-" + folder) / name; }
    fs::path Upload(const fs::path& temp) const { return temp / (L"pc-" + folder) / (name + L".up"); }
};

struct Workload {
    const char* title;
    std::vector<std::wstring> folders;
    std::vector<PcFile> files;
};

std::vector<Workload> Workloads()
{
    std::vector<Workload> all;
    all.push_back({"1 x 16 MiB MP3", {}, {{L"", L"song.mp3", Mp3(16u << 20), true}}});

    Workload ten{"10 x 1 MiB", {}, {}};
    for (int i = 0; i < 10; ++i)
        ten.files.push_back({L"", L"file" + std::to_wstring(i) + L".bin", Noise(1u << 20, i + 1)});
    all.push_back(std::move(ten));

    Workload small{"200 x 4 KiB", {}, {}};
    for (int i = 0; i < 200; ++i)
        small.files.push_back({L"", L"small" + std::to_wstring(i) + L".bin", Noise(4096, i + 100)});
    all.push_back(std::move(small));

    Workload tree{"20 folders x 10 x 32 KiB", {}, {}};
    for (int f = 0; f < 20; ++f) {
        const std::wstring folder = L"folder" + std::to_wstring(f);
        tree.folders.push_back(folder);
        for (int i = 0; i < 10; ++i)
            tree.files.push_back({folder, L"track" + std::to_wstring(i) + L".bin", Noise(32768, f * 10 + i + 500)});
    }
    all.push_back(std::move(tree));
    return all;
}

struct Phase {
    sim::RunCost cost;
    double cpuSeconds = 0;
    std::uint64_t payload = 0;
};

void PrintRow(const char* title, const char* direction, const Phase& p)
{
    const sim::DeviceTime time = p.cost.Time();
    const double modelled = time.Microseconds() / 1e6;
    const double limit = static_cast<double>(p.payload) / static_cast<double>(sim::kUsbMostBytesPerSecond);
    const double mib = static_cast<double>(p.payload) / kMiB;
    const double busMsPerMiB = time.UsbMicroseconds() / 1e3 / mib;
    const double cpuMsPerMiB = p.cpuSeconds * 1e3 / mib;
    std::printf("%-26s %-4s %9.2f %11llu %9llu %7llu %9.3f %8.3f %6.3f %9.2f %9.1f %6.2f%%\n", title, direction, mib,
                static_cast<unsigned long long>(p.cost.wire.bytesOut + p.cost.wire.bytesIn),
                static_cast<unsigned long long>(p.cost.wire.hostWrites + p.cost.wire.hostReads),
                static_cast<unsigned long long>(p.cost.nand.blockErases), modelled, limit, limit / modelled,
                cpuMsPerMiB, busMsPerMiB, 100.0 * cpuMsPerMiB / busMsPerMiB);
}

// The folder object of a file's folder: the root, or one of the workload's folders by name.
class Folders {
public:
    std::uint32_t Start()
    {
        root_ = std::make_unique<engine::InternalFolder>(engine::Engine.InternalRootEntries, 1, 1, 1);
        std::uint32_t status = root_->Load();
        if (status == engine::kStatusFolderError && (status = root_->WriteNewDirectory()) == engine::kStatusOk)
            status = root_->Load();
        return status;
    }
    std::uint32_t Create(const std::wstring& name)
    {
        std::uint32_t id = 0;
        if (const std::uint32_t status = root_->CreateSubfolder(name.c_str(), &id))
            return status;
        auto folder = std::make_unique<engine::InternalFolder>(engine::Engine.InternalFolderEntries, id, 1, 0);
        if (const std::uint32_t status = folder->Load())
            return status;
        byName_.emplace_back(name, std::move(folder));
        return engine::kStatusOk;
    }
    engine::InternalFolder* Of(const std::wstring& name)
    {
        if (name.empty())
            return root_.get();
        for (auto& [n, f] : byName_) {
            if (n == name)
                return f.get();
        }
        return nullptr;
    }

private:
    std::unique_ptr<engine::InternalFolder> root_;
    std::vector<std::pair<std::wstring, std::unique_ptr<engine::InternalFolder>>> byName_;
};

// The id of the entry with that name in a folder, 0 when none.
std::uint32_t IdOf(engine::InternalFolder& folder, const std::wstring& name)
{
    engine::DirRecord record;
    for (std::int32_t r = folder.FindFirst(&record); r == 0; r = folder.FindNext(&record)) {
        if (name == reinterpret_cast<const wchar_t*>(record.name))
            return record.firstCluster;
    }
    return 0;
}

bool Fail(const char* what, const Workload& w, std::uint32_t status)
{
    std::fflush(stdout);
    std::fprintf(stderr, "transfer_bench: %s failed in \"%s\" (status %u)\n", what, w.title, status);
    return false;
}

bool RunWorkload(Workload& w, const fs::path& temp)
{
    sim::TestPlayer player(kModel);
    engine::LegacyResetState();
    engine::PlayerDevice device;
    engine::DeviceInfoBlock info{};
    if (!player.Ok())
        return Fail("starting the simulated player", w, 0);
    if (const std::uint32_t status = device.Initialize(info))
        return Fail("identification", w, status);
    std::uint32_t sizes[4] = {};
    if (const std::uint32_t status = device.QueryStorageSizes(sizes[0], sizes[1], sizes[2], sizes[3]))
        return Fail("reading the storage sizes", w, status);
    Folders folders;
    if (const std::uint32_t status = folders.Start())
        return Fail("loading the root", w, status);
    for (const std::wstring& name : w.folders) {
        if (const std::uint32_t status = folders.Create(name))
            return Fail("creating a folder", w, status);
    }

    std::uint64_t payload = 0;
    for (std::size_t i = 0; i < w.files.size(); ++i) {
        std::error_code error;
        fs::create_directories(w.files[i].Source(temp).parent_path(), error);
        if (!WriteFile(w.files[i].Source(temp), w.files[i].content))
            return Fail("writing a PC file", w, 0);
        payload += w.files[i].content.size();
    }

    Phase down;
    down.payload = payload;
    player.ResetCost();
    double cpu = ThreadCpuSeconds();
    for (PcFile& f : w.files) {
        if (const std::uint32_t status = folders.Of(f.folder)->DownloadFile(f.Source(temp).wstring().c_str()))
            return Fail("a download", w, status);
    }
    down.cpuSeconds = ThreadCpuSeconds() - cpu;
    down.cost = player.Cost();

    for (PcFile& f : w.files) {
        if ((f.id = IdOf(*folders.Of(f.folder), f.name)) == 0)
            return Fail("finding a downloaded file", w, 0);
    }

    Phase up;
    up.payload = payload;
    player.ResetCost();
    cpu = ThreadCpuSeconds();
    for (PcFile& f : w.files) {
        if (const std::uint32_t status = folders.Of(f.folder)->UploadFile(f.id, f.Upload(temp).wstring().c_str()))
            return Fail("an upload", w, status);
    }
    up.cpuSeconds = ThreadCpuSeconds() - cpu;
    up.cost = player.Cost();

    for (const PcFile& f : w.files) {
        const Bytes back = ReadFile(f.Upload(temp));
        // An MP3 comes back as the player's tag followed by the audio.
        const bool same = f.mp3 ? back.size() >= f.content.size() &&
                                      std::equal(f.content.begin(), f.content.end(), back.end() - f.content.size())
                                : back == f.content;
        if (!same) {
            std::fprintf(stderr, "transfer_bench: %ls: %zu bytes sent, %zu came back\n", f.name.c_str(),
                         f.content.size(), back.size());
            return Fail("comparing an upload with its download", w, 0);
        }
        fs::remove(f.Source(temp));
        fs::remove(f.Upload(temp));
    }
    PrintRow(w.title, "down", down);
    PrintRow(w.title, "up", up);
    std::fflush(stdout);
    return true;
}

}  // namespace

int wmain()
{
    wchar_t base[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) {
        std::fprintf(stderr, "transfer_bench: no temporary folder\n");
        return 1;
    }
    const fs::path temp = fs::path(base) / (L"kwep-bench-" + std::to_wstring(GetCurrentProcessId()));
    std::error_code error;
    fs::create_directories(temp, error);
    if (error) {
        std::fprintf(stderr, "transfer_bench: cannot make %ls\n", temp.c_str());
        return 1;
    }

    std::printf("# Transfer benchmark: simulated model %d, internal memory, through the internal folder objects.\n",
                kModel);
    sim::PrintCostModel(stdout, "# ");
    std::printf(
        "# limit = payload at the bus rate; efficiency = limit / modelled; CPU = the engine's thread "
        "under Wine.\n");
    std::printf("%-26s %-4s %9s %11s %9s %7s %9s %8s %6s %9s %9s %7s\n", "workload", "dir", "payload", "wire bytes",
                "transfers", "erases", "modelled", "limit", "effic.", "CPU", "bus", "CPU/bus");
    std::printf("%-26s %-4s %9s %11s %9s %7s %9s %8s %6s %9s %9s %7s\n", "", "", "MiB", "", "", "", "s", "s", "",
                "ms/MiB", "ms/MiB", "");

    bool ok = true;
    for (Workload& w : Workloads())
        ok = RunWorkload(w, temp) && ok;
    fs::remove_all(temp, error);
    return ok ? 0 : 1;
}
