// What the real player would spend on the work the simulated player counts: bus time on USB 1.1 full
// speed and busy time of small-block NAND chips. Every figure of the model is here, so a benchmark
// states exactly what its modelled times assume.
//
// Bus: bulk transfers in 64-byte packets, at most 19 packets in a 1 ms frame (1,216,000 bytes/s).
// A transfer of n bytes takes ceil(n / 64) packets, an empty one still one packet. Packets of
// consecutive transfers run back to back (a transfer may begin in the frame where the last one ended),
// so the bus time of a run is its packet count / 19 ms; the packet count is the exact figure.
// Chips: one page read, program or erase at a time, never overlapping the bus; card sectors cost what
// NAND pages cost (a sector read as a page read, a sector written or erased to zeros as a program).
#pragma once

#include <cstdint>
#include <cstdio>

namespace sim {

inline constexpr std::uint64_t kUsbPacketBytes = 64;
inline constexpr std::uint64_t kUsbPacketsPerFrame = 19;
inline constexpr std::uint64_t kUsbFrameMicroseconds = 1000;
inline constexpr std::uint64_t kUsbMostBytesPerSecond =
    kUsbPacketBytes * kUsbPacketsPerFrame * (1000000 / kUsbFrameMicroseconds);
static_assert(kUsbMostBytesPerSecond == 1216000);

inline constexpr std::uint64_t kPageReadMicroseconds = 25;
inline constexpr std::uint64_t kPageProgramMicroseconds = 200;
inline constexpr std::uint64_t kBlockEraseMicroseconds = 2000;

// Packets one transfer of `bytes` takes on the bus.
constexpr std::uint64_t UsbPackets(std::uint64_t bytes)
{
    return bytes == 0 ? 1 : (bytes + kUsbPacketBytes - 1) / kUsbPacketBytes;
}

// The modelled device time of a run.
struct DeviceTime {
    std::uint64_t usbPackets = 0;        // both ways
    std::uint64_t nandMicroseconds = 0;  // chip and card busy time
    double UsbMicroseconds() const
    {
        return static_cast<double>(usbPackets) * static_cast<double>(kUsbFrameMicroseconds) /
               static_cast<double>(kUsbPacketsPerFrame);
    }
    double Microseconds() const { return UsbMicroseconds() + static_cast<double>(nandMicroseconds); }
};

// Chip busy time of the given operation counts.
constexpr std::uint64_t NandMicroseconds(std::uint64_t pageReads, std::uint64_t pagePrograms, std::uint64_t blockErases)
{
    return pageReads * kPageReadMicroseconds + pagePrograms * kPageProgramMicroseconds +
           blockErases * kBlockEraseMicroseconds;
}

// Writes the model's figures, one per line, each line starting with `prefix` (e.g. "# ").
void PrintCostModel(std::FILE* to, const char* prefix = "");

}  // namespace sim
