// The benchmark's program: the engine client's rows (the engine's internal folder objects linked in),
// the COM client's rows (com_bench.cpp) beside them, what the object model added, and the plug-in rows.
// Every upload is checked against what was downloaded, so a figure never comes from a broken transfer.
#include "bench/bench_common.h"

#include "device/api/player/player_device.h"
#include "device/fs/engine_status.h"
#include "device/fs/internal/internal_folder.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/engine_state.h"
#include "sim/sim_files.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace bench {

namespace {

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

// Identifies the player and reads its storage sizes, as the host does before any file operation.
std::uint32_t Identify()
{
    engine::LegacyResetState();
    engine::PlayerDevice device;
    engine::DeviceInfoBlock info{};
    if (const std::uint32_t status = device.Initialize(info))
        return status;
    std::uint32_t sizes[4] = {};
    return device.QueryStorageSizes(sizes[0], sizes[1], sizes[2], sizes[3]);
}

}  // namespace

std::uint32_t WriteInternalRoot()
{
    if (const std::uint32_t status = Identify())
        return status;
    Folders folders;
    return folders.Start();
}

bool RunEngineWorkload(Workload& w, const fs::path& temp, Run& run)
{
    auto fail = [&](const char* what, std::uint32_t status) { return Fail("engine", what, w.title, status); };
    sim::TestPlayer player(kModel);
    if (!player.Ok())
        return fail("starting the simulated player", 0);
    if (const std::uint32_t status = Identify())
        return fail("identification", status);
    Folders folders;
    if (const std::uint32_t status = folders.Start())
        return fail("loading the root", status);
    for (const std::wstring& name : w.folders) {
        if (const std::uint32_t status = folders.Create(name))
            return fail("creating a folder", status);
    }
    const std::uint64_t payload = WritePcFiles(w, temp);
    if (payload == 0)
        return fail("writing a PC file", 0);

    run.down.payload = run.up.payload = payload;
    std::uint32_t status = 0;
    const bool downloaded = MeasurePhase(player, run.down, [&] {
        for (PcFile& f : w.files) {
            if ((status = folders.Of(f.folder)->DownloadFile(f.Source(temp).wstring().c_str())) != 0)
                return false;
        }
        return true;
    });
    if (!downloaded)
        return fail("a download", status);

    for (PcFile& f : w.files) {
        if ((f.id = IdOf(*folders.Of(f.folder), f.name)) == 0)
            return fail("finding a downloaded file", 0);
    }

    const bool uploaded = MeasurePhase(player, run.up, [&] {
        for (PcFile& f : w.files) {
            if ((status = folders.Of(f.folder)->UploadFile(f.id, f.Upload(temp).wstring().c_str())) != 0)
                return false;
        }
        return true;
    });
    if (!uploaded)
        return fail("an upload", status);
    return CheckUploads(w, temp) || fail("comparing an upload with its download", 0);
}

}  // namespace bench

namespace {

// What the COM client's phase added to the engine's: modelled time, wire bytes, transfers and erases.
void PrintDifference(const char* title, const char* direction, const bench::Phase& engine, const bench::Phase& com)
{
    const double e = engine.cost.Time().Microseconds() / 1e6;
    const double c = com.cost.Time().Microseconds() / 1e6;
    auto delta = [](std::uint64_t a, std::uint64_t b) { return static_cast<long long>(b) - static_cast<long long>(a); };
    std::printf("%-26s %-4s %9.3f %9.3f %+8.2f%% %+11lld %+9lld %+7lld\n", title, direction, e, c, 100.0 * (c - e) / e,
                delta(engine.cost.wire.bytesOut + engine.cost.wire.bytesIn, com.cost.wire.bytesOut + com.cost.wire.bytesIn),
                delta(engine.cost.wire.hostWrites + engine.cost.wire.hostReads,
                      com.cost.wire.hostWrites + com.cost.wire.hostReads),
                delta(engine.cost.nand.blockErases, com.cost.nand.blockErases));
}

}  // namespace

int wmain()
{
    using namespace bench;
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
        "# limit = payload at the bus rate; efficiency = limit / modelled; CPU = the client's thread "
        "under Wine.\n");
    struct Client {
        const char* heading;
        bool (*run)(Workload&, const fs::path&, Run&);
        std::vector<Run> runs;
        std::vector<bool> done;
    };
    Client clients[] = {
        {"# Engine client: the engine's internal folder objects, linked into this program.\n", RunEngineWorkload, {}, {}},
        {"# COM client: ZAVTCTRL.dll in this process (its class object, no registration): the control, its\n"
         "# device, the internal storage and its folder objects.\n",
         RunComWorkload, {}, {}},
    };
    std::vector<Workload> workloads = Workloads();
    bool ok = true;
    for (Client& client : clients) {
        std::printf("\n%s", client.heading);
        if (client.run == RunComWorkload && !LoadServer()) {
            sim::RemoveTree(temp);
            return 1;
        }
        PrintTransferHeading();
        client.runs.resize(workloads.size());
        client.done.resize(workloads.size());
        for (std::size_t i = 0; i < workloads.size(); ++i) {
            client.done[i] = client.run(workloads[i], temp, client.runs[i]);
            if (client.done[i]) {
                PrintTransferRow(workloads[i].title, "down", client.runs[i].down);
                PrintTransferRow(workloads[i].title, "up", client.runs[i].up);
            }
            std::fflush(stdout);
            ok = ok && client.done[i];
        }
    }
    const Client& engine = clients[0];
    const Client& com = clients[1];

    std::printf("\n# What the COM client added to the engine client's phase.\n");
    std::printf("%-26s %-4s %9s %9s %9s %11s %9s %7s\n", "workload", "dir", "engine", "COM", "modelled", "wire bytes",
                "transfers", "erases");
    std::printf("%-26s %-4s %9s %9s %9s %11s %9s %7s\n", "", "", "s", "s", "", "", "", "");
    for (std::size_t i = 0; i < workloads.size(); ++i) {
        if (!engine.done[i] || !com.done[i])
            continue;
        PrintDifference(workloads[i].title, "down", engine.runs[i].down, com.runs[i].down);
        PrintDifference(workloads[i].title, "up", engine.runs[i].up, com.runs[i].up);
    }
    std::fflush(stdout);

    ok = RunPlugInRows() && ok;
    sim::RemoveTree(temp);
    return ok ? 0 : 1;
}
