// What the benchmark's two clients share: the workloads (PC files of known bytes), the figures a phase
// gathers and the rows they are printed in. The engine client (transfer_bench.cpp) and the COM client
// (com_bench.cpp) run the same workloads against a fresh simulated player each.
#pragma once

#include "sim/cost_model.h"
#include "sim/simulated_player.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A folder-object model with small (32-sector) blocks, the figures the cost model is made for.
inline constexpr int kModel = 9;
inline constexpr double kMiB = 1024.0 * 1024.0;

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

// The workloads, files grouped by folder in folder order.
std::vector<Workload> Workloads();

// The workload's PC files written under `temp`; its payload in bytes, 0 on failure.
std::uint64_t WritePcFiles(const Workload& w, const fs::path& temp);
// Every upload compared with what was downloaded (an MP3 comes back as the player's tag followed by the
// audio); the PC files are removed. False, with the file named on stderr, at the first difference.
bool CheckUploads(const Workload& w, const fs::path& temp);

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds();

struct Phase {
    sim::RunCost cost;
    double cpuSeconds = 0;
    std::uint64_t payload = 0;
};

// The phases of one workload's run: its downloads and its uploads.
struct Run {
    Phase down;
    Phase up;
};

// Runs one phase's work against the player and keeps what it cost the player (from a reset of its
// counters) and the calling thread's CPU time. The work's own answer: false when it failed.
template <class Work>
bool MeasurePhase(sim::TestPlayer& player, Phase& phase, Work&& work)
{
    player.ResetCost();
    const double cpu = ThreadCpuSeconds();
    const bool done = work();
    phase.cpuSeconds = ThreadCpuSeconds() - cpu;
    phase.cost = player.Cost();
    return done;
}

// Reports a failed step of a workload on stderr; false.
bool Fail(const char* client, const char* what, const char* workload, long code);

// The transfer table: its heading and one row per phase.
void PrintTransferHeading();
void PrintTransferRow(const char* title, const char* direction, const Phase& p);

// The engine client: the workload through the internal folder objects of the engine.
bool RunEngineWorkload(Workload& w, const fs::path& temp, Run& run);
// Writes an empty internal root on the player served to this process, through the engine: both clients
// start from the same root (a format through the object model would also write the system files and
// the recording folder). An engine code, 0 when the root is there.
std::uint32_t WriteInternalRoot();
// The COM client: the workload through ZAVTCTRL.dll's object model, in process.
bool RunComWorkload(Workload& w, const fs::path& temp, Run& run);
// The COM client's plug-in rows: identification, mount and the root's listing of each card kind and size.
bool RunPlugInRows();
// Loads ZAVTCTRL.dll; false (with the reason on stderr) when it cannot be loaded.
bool LoadServer();

}  // namespace bench
