// playersim.exe: serves a simulated player from its folder as a process of its own.
#include "simulated_player.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <thread>

namespace {

constexpr wchar_t kUsage[] =
    L"Usage:\n"
    L"  playersim --create FOLDER --model N [--firmware TEXT] [--pipe NAME]\n"
    L"  playersim --open FOLDER [--pipe NAME]\n"
    L"  playersim --help\n"
    L"\n"
    L"--create makes a fresh player of model number N (0 = an unknown model id, 1-16 the known models)\n"
    L"in FOLDER, which must not hold a player yet; --firmware replaces the model's default firmware\n"
    L"version (at most 4 characters; a leading N gives the family that sends its NAND ids complemented).\n"
    L"--open serves the player an earlier run left in FOLDER.\n"
    L"--pipe NAME serves the player as \\\\.\\pipe\\NAME (default: a name unique to this process).\n"
    L"\n"
    L"The first line on standard output is the interface path; point the transport at it with the\n"
    L"environment variable %hs. The player is served until standard input closes or\n"
    L"Ctrl+C, Ctrl+Break or closing the console; it is then saved to FOLDER. A process that is killed\n"
    L"keeps nothing of what was written since it started.\n"
    L"Exit codes: 0 saved, 1 the save failed, 2 bad arguments or the player could not be made, opened\n"
    L"or served.\n";

HANDLE g_stop = nullptr;   // set to end serving
HANDLE g_saved = nullptr;  // set once the player is saved

BOOL WINAPI OnConsoleControl(DWORD) {
    SetEvent(g_stop);
    // Closing the console ends the process when this returns: let the save finish first.
    WaitForSingleObject(g_saved, 30000);
    return TRUE;
}

std::optional<std::string> Ascii(const wchar_t* text) {
    std::string out;
    for (; *text; ++text) {
        if (*text < 0x20 || *text > 0x7E) return std::nullopt;
        out += static_cast<char>(*text);
    }
    return out;
}

int Fail(const wchar_t* message) {
    std::fwprintf(stderr, L"playersim: %ls\n", message);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring createFolder, openFolder;
    std::optional<int> model;
    std::optional<std::string> firmware, pipe;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const wchar_t* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            std::wprintf(kUsage, sim::kPlayerPathVariable);
            return 0;
        }
        if (!value) return Fail((L"missing value after " + arg).c_str());
        ++i;
        if (arg == L"--create") {
            createFolder = value;
        } else if (arg == L"--open") {
            openFolder = value;
        } else if (arg == L"--model") {
            wchar_t* end = nullptr;
            const long n = std::wcstol(value, &end, 10);
            if (*value == 0 || *end != 0 || n < 0 || n > 16) return Fail(L"--model takes a number from 0 to 16");
            model = static_cast<int>(n);
        } else if (arg == L"--firmware") {
            firmware = Ascii(value);
            if (!firmware || firmware->size() > 4) return Fail(L"--firmware takes at most 4 ASCII characters");
        } else if (arg == L"--pipe") {
            pipe = Ascii(value);
            if (!pipe || pipe->empty() || pipe->find('\\') != std::string::npos)
                return Fail(L"--pipe takes a name of ASCII characters without backslashes");
        } else {
            return Fail((L"unknown option " + arg + L" (see --help)").c_str());
        }
    }
    if (createFolder.empty() == openFolder.empty()) return Fail(L"give one of --create and --open (see --help)");

    std::unique_ptr<sim::SimulatedPlayer> player;
    if (!createFolder.empty()) {
        if (!model) return Fail(L"--create needs --model");
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::path(createFolder) / "player.cfg", ec))
            return Fail(L"the folder already holds a player (use --open)");
        sim::PlayerConfig config = sim::DefaultConfig(*model);
        if (firmware) config.firmware = *firmware;
        player = sim::SimulatedPlayer::Create(createFolder, config);
        if (!player) return Fail(L"cannot create the player folder");
    } else {
        if (model || firmware) return Fail(L"--model and --firmware go with --create only");
        player = sim::SimulatedPlayer::Open(openFolder);
        if (!player) return Fail(L"no readable player in the folder");
    }

    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_saved = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_stop || !g_saved) return Fail(L"cannot create events");

    sim::WireServer server(pipe ? *pipe : sim::UniquePipeBaseName("playersim"), *player);
    if (!server.Start()) return Fail(L"cannot create the pipes");
    std::printf("%s\n", server.InterfacePath().c_str());
    std::fflush(stdout);
    const auto config = player->Config();
    std::fprintf(stderr, "playersim: serving \"%s\" firmware \"%s\"\n", config.modelId.c_str(), config.firmware.c_str());

    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    // Standard input is watched on a thread of its own; its end (or an error) stops the player.
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input && input != INVALID_HANDLE_VALUE) {
        std::thread([input] {
            char buffer[256];
            DWORD got = 0;
            while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            }
            SetEvent(g_stop);
        }).detach();
    }
    WaitForSingleObject(g_stop, INFINITE);

    server.Stop();
    const bool saved = player->Save();
    SetEvent(g_saved);
    if (!saved) std::fprintf(stderr, "playersim: the player could not be saved\n");
    return saved ? 0 : 1;
}
