#include "tests/device/transport/recording_wire.h"

#include <windows.h>

#include <chrono>
#include <cstring>

namespace wiretest {

namespace {

std::optional<std::string> ReadVariable()
{
    char buffer[1024];
    DWORD n = GetEnvironmentVariableA(sim::kPlayerPathVariable, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer)
        return std::nullopt;
    return std::string(buffer, n);
}

void WriteVariable(const std::optional<std::string>& value)
{
    SetEnvironmentVariableA(sim::kPlayerPathVariable, value ? value->c_str() : nullptr);
}

}  // namespace

void RecordingDevice::SetResponder(Responder responder)
{
    std::lock_guard g(lock_);
    responder_ = std::move(responder);
}

std::vector<Bytes> RecordingDevice::Messages() const
{
    std::lock_guard g(lock_);
    return messages_;
}

std::vector<Bytes> RecordingDevice::WaitForMessages(std::size_t count, int milliseconds) const
{
    std::unique_lock g(lock_);
    arrived_.wait_for(g, std::chrono::milliseconds(milliseconds), [&] { return messages_.size() >= count; });
    return messages_;
}

void RecordingDevice::ClearMessages()
{
    std::lock_guard g(lock_);
    messages_.clear();
}

int RecordingDevice::HostCloses() const
{
    std::lock_guard g(lock_);
    return closes_;
}

void RecordingDevice::HostWrite(std::span<const std::uint8_t> message, std::vector<sim::Message>& replies)
{
    std::lock_guard g(lock_);
    messages_.emplace_back(message.begin(), message.end());
    arrived_.notify_all();
    if (responder_)
        responder_(message, replies);
}

void RecordingDevice::HostClosed()
{
    std::lock_guard g(lock_);
    ++closes_;
}

RecordedPlayer::RecordedPlayer() : server(sim::UniquePipeBaseName("kwep-recorded"), device)
{
    started_ = server.Start();
    previous_ = ReadVariable();
    WriteVariable(server.InterfacePath());
}

RecordedPlayer::~RecordedPlayer()
{
    server.Stop();
    WriteVariable(previous_);
}

ScopedPlayerPath::ScopedPlayerPath(const std::optional<std::string>& value) : previous_(ReadVariable())
{
    WriteVariable(value);
}

ScopedPlayerPath::~ScopedPlayerPath()
{
    WriteVariable(previous_);
}

void AppendReplies(std::vector<sim::Message>& replies, std::initializer_list<std::size_t> sizes, std::uint8_t fill)
{
    for (std::size_t size : sizes)
        replies.emplace_back(size, fill);
}

Bytes Block(std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes, bool signature)
{
    Bytes block(64, 0);
    for (auto [offset, value] : bytes)
        block.at(offset) = value;
    if (signature)
        std::memcpy(block.data() + 59, "wexol", 5);
    return block;
}

}  // namespace wiretest
