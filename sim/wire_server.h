// The simulated player's end of the wire: Win32 named pipes that stand where the USB driver's
// interface and its three pipes stand, so the host's transport runs its real CreateFileA, ReadFile
// and WriteFile calls against them.
//
// Names served, for a base name B:
//   \\.\pipe\B           the "device interface" (opened and closed by the host's presence checks)
//   \\.\pipe\B\PIPE02    opened and closed with the others, carries nothing
//   \\.\pipe\B\PIPE00    bulk OUT: command blocks and data from the host
//   \\.\pipe\B\PIPE01    bulk IN: replies, one pipe message per host read
//
// Pipes are created with zero buffer quota, so a host write completes only when the simulator has
// taken it, and a reply completes only when the host has read it; a transfer therefore fails or
// succeeds exactly where the fault plan says.
//
// The server may find the pipes of an operation the host has already closed still connected beside
// the next operation's pipes. It therefore takes commands from whichever OUT connection the host
// writes on (a write on a new one ends the previous operation: its unread replies are withdrawn and
// the device hears HostClosed), and sends replies on the newest IN connection whose host is still there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace sim {

// The environment variable that points the host's transport at a simulated player: its value is the
// interface path (\\.\pipe\B). Without it the transport enumerates the real driver.
inline constexpr char kPlayerPathVariable[] = "KWEP_SIMULATED_PLAYER";

using Message = std::vector<std::uint8_t>;

// What stands behind the pipes. Called on the server's thread only.
class WireDevice {
public:
    virtual ~WireDevice() = default;
    // One message the host wrote on the OUT pipe. The device appends the messages the host will read
    // from the IN pipe in answer, each exactly as long as the host's read of it.
    virtual void HostWrite(std::span<const std::uint8_t> message, std::vector<Message>& replies) = 0;
    // The host closed its OUT pipe (end of an operation, or after a failure): drop any exchange that
    // was half done, such as a block write still waiting for its data.
    virtual void HostClosed() = 0;
};

struct WireCounters {
    std::uint64_t hostWrites = 0;  // messages taken from the OUT pipe
    std::uint64_t hostReads = 0;   // messages delivered on the IN pipe
    std::uint64_t bytesOut = 0;    // host to player
    std::uint64_t bytesIn = 0;     // player to host
    std::uint64_t packetsOut = 0;  // USB packets the host writes would take (cost_model.h)
    std::uint64_t packetsIn = 0;   // USB packets the replies would take
    std::uint64_t failedTransfers = 0;
};

enum class FaultKind {
    Fail,     // the transfer fails: the player drops both data pipes (the host's read or write errors)
    Shorten,  // a reply transfer moves fewer bytes than the host asked; on a host write it acts as Fail
};

class WireServer {
public:
    // Serves \\.\pipe\<baseName> and its three pipes for `device`, which must outlive the server.
    WireServer(std::string baseName, WireDevice& device);
    ~WireServer();
    WireServer(const WireServer&) = delete;
    WireServer& operator=(const WireServer&) = delete;

    // Starts serving on a thread of its own; false when the pipes cannot be created.
    bool Start();
    // Stops serving and closes every pipe; idempotent.
    void Stop();

    // \\.\pipe\<baseName>, the value for kPlayerPathVariable.
    std::string InterfacePath() const;

    // Fault plan: the `nth` transfer from now (1 = the next one, counting host writes and host reads
    // alike) fails or is shortened to `bytes`. One pending fault at a time; a new one replaces it.
    void InjectFault(FaultKind kind, std::uint64_t nth, std::size_t bytes = 0);
    void ClearFault();

    // Unplug: every pipe is dropped and no name is served until Plug.
    void Unplug();
    void Plug();
    bool Plugged() const;

    // Pace: every data transfer (a host write or a reply longer than a command block) waits this long on
    // the server's thread before it is answered, so that a person can watch a transfer; 0 turns it off.
    // At most kMaxPaceMs, well inside the host's wait for a transfer.
    static constexpr std::uint32_t kMaxPaceMs = 2000;
    bool SetPace(std::uint32_t milliseconds);

    // Transfers the host has completed since the start or the last ResetCounters.
    WireCounters Counters() const;
    void ResetCounters();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Unique base names for servers started by one process (tests start many).
std::string UniquePipeBaseName(const char* prefix);

}  // namespace sim
