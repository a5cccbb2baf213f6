#include "bench/bench_common.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace bench {

namespace {

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

bool WriteBytes(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Bytes ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

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

std::uint64_t WritePcFiles(const Workload& w, const fs::path& temp)
{
    std::uint64_t payload = 0;
    for (const PcFile& f : w.files) {
        std::error_code error;
        fs::create_directories(f.Source(temp).parent_path(), error);
        if (!WriteBytes(f.Source(temp), f.content))
            return 0;
        payload += f.content.size();
    }
    return payload;
}

bool CheckUploads(const Workload& w, const fs::path& temp)
{
    for (const PcFile& f : w.files) {
        const Bytes back = ReadBytes(f.Upload(temp));
        const bool same = f.mp3 ? back.size() >= f.content.size() &&
                                      std::equal(f.content.begin(), f.content.end(), back.end() - f.content.size())
                                : back == f.content;
        if (!same) {
            std::fflush(stdout);
            std::fprintf(stderr, "transfer_bench: %ls: %zu bytes sent, %zu came back\n", f.name.c_str(),
                         f.content.size(), back.size());
            return false;
        }
        std::error_code error;
        fs::remove(f.Source(temp), error);
        fs::remove(f.Upload(temp), error);
    }
    return true;
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

bool Fail(const char* client, const char* what, const char* workload, long code)
{
    std::fflush(stdout);
    std::fprintf(stderr, "transfer_bench: %s client: %s failed in \"%s\" (code %ld, 0x%08lX)\n", client, what,
                 workload, code, static_cast<unsigned long>(code));
    return false;
}

void PrintTransferHeading()
{
    std::printf("%-26s %-4s %9s %11s %9s %7s %9s %8s %6s %9s %9s %7s\n", "workload", "dir", "payload", "wire bytes",
                "transfers", "erases", "modelled", "limit", "effic.", "CPU", "bus", "CPU/bus");
    std::printf("%-26s %-4s %9s %11s %9s %7s %9s %8s %6s %9s %9s %7s\n", "", "", "MiB", "", "", "", "s", "s", "",
                "ms/MiB", "ms/MiB", "");
}

void PrintTransferRow(const char* title, const char* direction, const Phase& p)
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

}  // namespace bench
