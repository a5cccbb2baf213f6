// Shared by the card volume's tests: a simulated player with a card, identification through the device
// object, and the card's exported FAT volume checked by fsck.fat and read by mtools on the host.
#pragma once

#include "device/api/player/player_device.h"
#include "device/fs/card/card_volume.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"
#include "sim/simulated_player.h"
#include "tests/support/pc_file_bytes.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace cardtest {

using Bytes = std::vector<std::uint8_t>;
using test_support::RunShell;
using test_support::ShellQuote;
using test_support::ShellResult;

inline Bytes RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(size);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

using test_support::ReadFile;
using test_support::WriteFile;

inline std::uint32_t Le32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

// A model's configuration with its internal chips left out: every identification reads their spare
// areas whole, and the card's tests never use internal memory. The card keeps its slot.
inline sim::PlayerConfig WithoutInternalChips(int model)
{
    sim::PlayerConfig config = sim::DefaultConfig(model);
    for (int i = 0; i < sim::CardPosition(config); ++i)
        config.nandIds[i] = {0, 0};
    return config;
}

// Records progress and can ask for a cancel once `cancelAfter` steps were counted.
class ProgressRecorder : public engine::ProgressSink {
public:
    engine::ProgressCounters& Counters() override { return counters; }
    void FireProgress() override
    {
        ++fired;
        if (cancelAfter && counters.done >= cancelAfter)
            engine::Engine.CancelRequested = 1;
    }
    engine::ProgressCounters counters;
    int fired = 0;
    std::uint32_t cancelAfter = 0;
};

// The card's partition 1 as a file of its own, for fsck.fat and mtools.
class CardImage {
public:
    CardImage(const test_support::TempFolder& folder, const Bytes& card) : folder_(folder)
    {
        start_ = Le32(card.data() + 454);
        std::uint32_t sectors = Le32(card.data() + 458);
        std::size_t end = std::min<std::size_t>(card.size(), (std::size_t{start_} + sectors) * 512);
        Bytes part(card.begin() + std::size_t{start_} * 512, card.begin() + end);
        WriteFile(folder.File("part.img"), part);
        path_ = folder.UnixFile("part.img");
    }
    const std::string& Path() const { return path_; }

    // fsck.fat's output when it finds anything, else empty.
    std::string Fsck() const
    {
        ShellResult r = RunShell("fsck.fat -n " + ShellQuote(path_) + " 2>&1");
        if (!r.finished)
            return "fsck.fat did not run: " + r.err;
        if (r.exitCode > 1)
            return r.out;
        // Every finding but one: fsck.fat takes a boot sector without the extended signature (the NAND-type
        // card's, as the system's card format writes it) to hold an empty, invalid label.
        std::string findings;
        std::size_t at = 0;
        while (at < r.out.size()) {
            std::size_t nl = r.out.find('\n', at);
            std::string line = r.out.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
            bool routine = line.empty() || line.rfind("fsck.fat ", 0) == 0 ||
                           line == "Label '' stored in boot sector is not valid." ||
                           line == "  Auto-removing label from boot sector." ||
                           line == "Leaving filesystem unchanged." || line.find(" files, ") != std::string::npos;
            if (!routine)
                findings += line + "\n";
            if (nl == std::string::npos)
                break;
            at = nl + 1;
        }
        return findings;
    }
    // The file's bytes as mcopy reads them; nothing when mcopy fails.
    std::optional<Bytes> Read(const std::string& name) const
    {
        std::string out = folder_.UnixFile("mcopy.out");
        ShellResult r = RunShell("rm -f " + ShellQuote(out) + "; LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mcopy -n -i " +
                                 ShellQuote(path_) + " " + ShellQuote("::/" + name) + " " + ShellQuote(out));
        if (!r.finished || r.exitCode != 0)
            return std::nullopt;
        return ReadFile(folder_.File("mcopy.out"));
    }
    // mdir's bare listing (long names where there are any), one name per line.
    std::vector<std::string> Names() const
    {
        ShellResult r = RunShell("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mdir -b -i " + ShellQuote(path_) + " ::/");
        std::vector<std::string> names;
        std::size_t at = 0;
        while (at < r.out.size()) {
            std::size_t nl = r.out.find('\n', at);
            std::string line = r.out.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
            if (line.rfind("::/", 0) == 0)
                names.push_back(line.substr(3));
            if (nl == std::string::npos)
                break;
            at = nl + 1;
        }
        return names;
    }
    // Runs an mtools command line on the image (for images made by the tools).
    bool Tool(const std::string& command) const
    {
        ShellResult r = RunShell("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 " + command);
        EXPECT_TRUE(r.finished && r.exitCode == 0) << command << "\n" << r.out << r.err;
        return r.finished && r.exitCode == 0;
    }
    // The partition's bytes after the tools changed them, put back into a whole card image.
    void StoreInto(Bytes& card) const
    {
        Bytes part = ReadFile(folder_.File("part.img"));
        std::copy(part.begin(), part.end(), card.begin() + std::size_t{start_} * 512);
    }

private:
    const test_support::TempFolder& folder_;
    std::string path_;
    std::uint32_t start_ = 0;
};

// A write completes once the player has taken the message, not once it has acted on it: a round trip
// makes sure the player is done before a test looks at its chips.
inline void SyncWithPlayer()
{
    engine::ScopedPipes bracket(engine::PlayerPipes);
    engine::DeviceInfoBlock info;
    engine::PlayerPipes.ReadDeviceInfo(info);
}

// The root as the volume's walk lists it: name -> (record id, size).
struct Listed {
    std::uint16_t id;
    std::uint32_t size;
    std::uint8_t attributes;
};
inline std::map<std::string, Listed> Walk()
{
    std::map<std::string, Listed> out;
    engine::DirRecord r;
    for (std::int32_t k = engine::CardVolume.FindFirst(r); k == 0; k = engine::CardVolume.FindNext(r))
        out[reinterpret_cast<const char*>(r.name)] = {r.firstCluster, r.size, r.attributes};
    return out;
}

}  // namespace cardtest
