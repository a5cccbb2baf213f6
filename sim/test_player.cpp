#include "sim/sim_files.h"
#include "sim/simulated_player.h"

#include <windows.h>

#include <cstdlib>
#include <optional>

namespace sim {

struct TestPlayer::Impl {
    std::filesystem::path folder;
    std::unique_ptr<SimulatedPlayer> player;
    std::unique_ptr<WireServer> server;
    std::optional<std::string> previousPath;  // the variable's value before this player
    bool ok = false;
};

namespace {

std::optional<std::string> ReadVariable(const char* name)
{
    char buffer[1024];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer)
        return std::nullopt;
    return std::string(buffer, n);
}

// Both the process environment and the C runtime's copy, so getenv and GetEnvironmentVariable agree.
void SetVariable(const char* name, const std::optional<std::string>& value)
{
    SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
    _putenv_s(name, value ? value->c_str() : "");
}

}  // namespace

TestPlayer::TestPlayer(const PlayerConfig& config) : impl_(std::make_unique<Impl>())
{
    Impl& p = *impl_;
    const std::string name = UniquePipeBaseName("kwep-player");
    std::error_code ec;
    const auto temp = std::filesystem::temp_directory_path(ec);
    if (!ec) {
        p.folder = temp / name;
        p.player = SimulatedPlayer::Create(p.folder, config);
    }
    p.ok = p.player != nullptr;
    if (!p.player)
        p.player = SimulatedPlayer::CreateInMemory(config);
    if (!p.player)
        p.player = SimulatedPlayer::CreateInMemory(DefaultConfig(0));  // invalid configuration
    p.server = std::make_unique<WireServer>(name, *p.player);
    p.ok = p.server->Start() && p.ok;
    p.previousPath = ReadVariable(kPlayerPathVariable);
    SetVariable(kPlayerPathVariable, p.server->InterfacePath());
}

TestPlayer::~TestPlayer()
{
    impl_->server->Stop();
    SetVariable(kPlayerPathVariable, impl_->previousPath);
    if (!impl_->folder.empty()) {
        RemoveTree(impl_->folder);
    }
}

bool TestPlayer::Ok() const
{
    return impl_->ok;
}
SimulatedPlayer& TestPlayer::Player()
{
    return *impl_->player;
}
WireServer& TestPlayer::Server()
{
    return *impl_->server;
}
const std::filesystem::path& TestPlayer::Folder() const
{
    return impl_->folder;
}
std::string TestPlayer::InterfacePath() const
{
    return impl_->server->InterfacePath();
}

RunCost TestPlayer::Cost()
{
    return {impl_->server->Counters(), impl_->player->Counters()};
}

void TestPlayer::ResetCost()
{
    impl_->server->ResetCounters();
    impl_->player->ResetCounters();
}

}  // namespace sim
