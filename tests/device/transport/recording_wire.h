// A wire device for exchange-level tests: it records every message the host writes and answers
// each with what the test's responder gives, served through the simulated player's pipe server.
#pragma once

#include "sim/wire_server.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace wiretest {

using Bytes = std::vector<std::uint8_t>;
// Answers one host message by appending the messages the host will read.
using Responder = std::function<void(std::span<const std::uint8_t> message, std::vector<sim::Message>& replies)>;

class RecordingDevice : public sim::WireDevice {
public:
    void SetResponder(Responder responder);
    std::vector<Bytes> Messages() const;
    // The messages once `count` have arrived, or what arrived within the time limit. A host write
    // returns as soon as the server has taken it, a moment before it is recorded.
    std::vector<Bytes> WaitForMessages(std::size_t count, int milliseconds = 5000) const;
    void ClearMessages();
    int HostCloses() const;

    void HostWrite(std::span<const std::uint8_t> message, std::vector<sim::Message>& replies) override;
    void HostClosed() override;

private:
    mutable std::mutex lock_;
    mutable std::condition_variable arrived_;
    Responder responder_;
    std::vector<Bytes> messages_;
    int closes_ = 0;
};

// A recording device served on a pipe of its own, with the transport pointed at it until destruction.
class RecordedPlayer {
public:
    RecordedPlayer();
    ~RecordedPlayer();
    RecordedPlayer(const RecordedPlayer&) = delete;
    RecordedPlayer& operator=(const RecordedPlayer&) = delete;

    bool Ok() const { return started_; }
    RecordingDevice device;
    sim::WireServer server;

private:
    bool started_ = false;
    std::optional<std::string> previous_;
};

// Sets the player path variable for one scope (nullopt removes it) and restores it afterwards.
class ScopedPlayerPath {
public:
    explicit ScopedPlayerPath(const std::optional<std::string>& value);
    ~ScopedPlayerPath();
    ScopedPlayerPath(const ScopedPlayerPath&) = delete;
    ScopedPlayerPath& operator=(const ScopedPlayerPath&) = delete;

private:
    std::optional<std::string> previous_;
};

// Replies of the given sizes, each filled with `fill`.
void AppendReplies(std::vector<sim::Message>& replies, std::initializer_list<std::size_t> sizes, std::uint8_t fill = 0);

// 64 zero bytes with the given bytes set, and the "wexol" trailer when `signature`.
Bytes Block(std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes, bool signature);

}  // namespace wiretest
