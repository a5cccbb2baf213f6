// playersim.exe: serves a simulated player from its folder as a process of its own.
#include "sim/factory_format.h"
#include "sim/simulated_player.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace {

constexpr wchar_t kUsage[] =
    L"Usage:\n"
    L"  playersim --create FOLDER --model N [--firmware TEXT] [--blank] [CARD OPTIONS] [--pipe NAME]\n"
    L"  playersim --open FOLDER [CARD OPTIONS] [--pipe NAME]\n"
    L"  playersim --help\n"
    L"\n"
    L"--create makes a new player of model number N (0 = an unknown model id, 1-16 the known models)\n"
    L"in FOLDER, which must not hold a player yet. It comes as a shipped player does: its internal memory\n"
    L"formatted, with its system files, by the device API (ZAVTCTRL.dll beside this program) before it\n"
    L"is served; --blank leaves every chip erased instead (always so for model 0, which the device API\n"
    L"does not know). --firmware replaces the model's default firmware version (at most 4 characters;\n"
    L"a leading N gives the family that sends its NAND ids complemented).\n"
    L"--open serves the player an earlier run left in FOLDER.\n"
    L"--pipe NAME serves the player as \\\\.\\pipe\\NAME (default: a name unique to this process).\n"
    L"\n"
    L"Card options (the card's kind follows the model: models 10, 14 and 16 take MMC/SD cards, the others\n"
    L"NAND-type cards):\n"
    L"  --card nand:MB      a fresh formatted NAND-type card of 8, 16, 32, 64 or 128 MB\n"
    L"  --card sd:MB        a fresh formatted MMC/SD card of 1 to 2048 MB\n"
    L"  --card none         no card in the slot (the card is kept in the folder)\n"
    L"  --write-protect on|off   the card's write-protect switch\n"
    L"  --import-card FILE  writes a raw FAT image onto the card before serving (for a NAND-type card,\n"
    L"                      the logical image: the card's sectors in logical block order)\n"
    L"  --export-card FILE  writes the card as a raw FAT image after serving ends and the player is saved\n"
    L"\n"
    L"The first line on standard output is the interface path; point the transport at it with the\n"
    L"environment variable %hs. The player is served until standard input closes or\n"
    L"Ctrl+C, Ctrl+Break or closing the console; it is then saved to FOLDER. A process that is killed\n"
    L"keeps nothing of what was written since it started.\n"
    L"\n"
    L"While it serves, each line on standard input is a command, answered by one line on standard output\n"
    L"(\"ok: COMMAND\" or \"error: REASON\"):\n"
    L"  unplug | plug       pulls the player's cable out or puts it back\n"
    L"  card out | card in  takes the card out of the slot or pushes it back\n"
    L"  pace MS             every data transfer waits MS milliseconds (0 to %u; 0 = full speed)\n"
    L"Exit codes: 0 saved (and exported), 1 the save or the export failed, 2 bad arguments or the player\n"
    L"could not be made, opened, given its card or served.\n";

HANDLE g_stop = nullptr;   // set to end serving
HANDLE g_saved = nullptr;  // set once the player is saved

// What the commands on standard input act on; cleared under the lock before serving ends, so that the
// reader thread (blocked in its read, never joined) touches nothing that is gone.
struct CommandTarget {
    std::mutex lock;
    sim::WireServer* server = nullptr;
    sim::SimulatedPlayer* player = nullptr;
};
CommandTarget g_target;

std::string RunCommand(const std::string& line)
{
    std::lock_guard g(g_target.lock);
    if (!g_target.server || !g_target.player)
        return "error: not serving";
    if (line == "unplug") {
        g_target.server->Unplug();
    } else if (line == "plug") {
        g_target.server->Plug();
    } else if (line == "card out" || line == "card in") {
        if (!g_target.player->SetCardInserted(line == "card in"))
            return "error: this player has no card";
    } else if (line.rfind("pace ", 0) == 0) {
        const std::string value = line.substr(5);
        char* end = nullptr;
        const unsigned long ms = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || value[0] == '-' || *end != 0 || ms > sim::WireServer::kMaxPaceMs ||
            !g_target.server->SetPace(static_cast<std::uint32_t>(ms)))
            return "error: pace takes milliseconds from 0 to " + std::to_string(sim::WireServer::kMaxPaceMs);
    } else {
        return "error: unknown command \"" + line + "\" (unplug, plug, card out, card in, pace MS)";
    }
    return "ok: " + line;
}

// Reads commands line by line until standard input ends, then stops serving.
void ReadCommands(HANDLE input)
{
    constexpr std::size_t kLongestLine = 256;  // longer lines are refused whole
    std::string line;
    bool overlong = false;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (c != '\n') {
                if (line.size() < kLongestLine)
                    line += c;
                else
                    overlong = true;
                continue;
            }
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
                line.pop_back();
            if (overlong || !line.empty()) {
                const std::string answer = overlong ? std::string("error: line too long") : RunCommand(line);
                std::printf("%s\n", answer.c_str());
                std::fflush(stdout);
            }
            line.clear();
            overlong = false;
        }
    }
    SetEvent(g_stop);
}

BOOL WINAPI OnConsoleControl(DWORD)
{
    SetEvent(g_stop);
    // Closing the console ends the process when this returns: let the save finish first.
    WaitForSingleObject(g_saved, 30000);
    return TRUE;
}

std::optional<std::string> Ascii(const wchar_t* text)
{
    std::string out;
    for (; *text; ++text) {
        if (*text < 0x20 || *text > 0x7E)
            return std::nullopt;
        out += static_cast<char>(*text);
    }
    return out;
}

int Fail(const wchar_t* message)
{
    std::fwprintf(stderr, L"playersim: %ls\n", message);
    return 2;
}

}  // namespace

// The chips the card sizes of --card nand: stand for.
std::optional<std::uint8_t> NandCardDevice(long megabytes)
{
    switch (megabytes) {
    case 8:
        return 0xE6;
    case 16:
        return 0x73;
    case 32:
        return 0x75;
    case 64:
        return 0x76;
    case 128:
        return 0x79;
    default:
        return std::nullopt;
    }
}

struct CardChoice {
    enum Kind { None, Nand, Sector } kind = None;
    long megabytes = 0;
};

std::optional<CardChoice> ParseCard(const std::wstring& text)
{
    if (text == L"none")
        return CardChoice{};
    const auto colon = text.find(L':');
    if (colon == std::wstring::npos)
        return std::nullopt;
    const std::wstring kind = text.substr(0, colon), size = text.substr(colon + 1);
    wchar_t* end = nullptr;
    const long mb = std::wcstol(size.c_str(), &end, 10);
    if (size.empty() || *end != 0)
        return std::nullopt;
    if (kind == L"nand" && NandCardDevice(mb))
        return CardChoice{CardChoice::Nand, mb};
    if (kind == L"sd" && mb >= 1 && mb <= 2048)
        return CardChoice{CardChoice::Sector, mb};
    return std::nullopt;
}

int wmain(int argc, wchar_t** argv)
{
    std::wstring createFolder, openFolder, importCard, exportCard;
    std::optional<int> model;
    std::optional<std::string> firmware, pipe;
    std::optional<CardChoice> card;
    std::optional<bool> writeProtect;
    bool blank = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const wchar_t* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            std::wprintf(kUsage, sim::kPlayerPathVariable, sim::WireServer::kMaxPaceMs);
            return 0;
        }
        if (arg == L"--blank") {
            blank = true;
            continue;
        }
        if (!value)
            return Fail((L"missing value after " + arg).c_str());
        ++i;
        if (arg == L"--create") {
            createFolder = value;
        } else if (arg == L"--open") {
            openFolder = value;
        } else if (arg == L"--model") {
            wchar_t* end = nullptr;
            const long n = std::wcstol(value, &end, 10);
            if (*value == 0 || *end != 0 || n < 0 || n > 16)
                return Fail(L"--model takes a number from 0 to 16");
            model = static_cast<int>(n);
        } else if (arg == L"--firmware") {
            firmware = Ascii(value);
            if (!firmware || firmware->size() > 4)
                return Fail(L"--firmware takes at most 4 ASCII characters");
        } else if (arg == L"--card") {
            card = ParseCard(value);
            if (!card)
                return Fail(L"--card takes nand:8|16|32|64|128, sd:1..2048 or none");
        } else if (arg == L"--write-protect") {
            if (std::wstring(value) != L"on" && std::wstring(value) != L"off")
                return Fail(L"--write-protect takes on or off");
            writeProtect = std::wstring(value) == L"on";
        } else if (arg == L"--import-card") {
            importCard = value;
        } else if (arg == L"--export-card") {
            exportCard = value;
        } else if (arg == L"--pipe") {
            pipe = Ascii(value);
            if (!pipe || pipe->empty() || pipe->find('\\') != std::string::npos)
                return Fail(L"--pipe takes a name of ASCII characters without backslashes");
        } else {
            return Fail((L"unknown option " + arg + L" (see --help)").c_str());
        }
    }
    if (createFolder.empty() == openFolder.empty())
        return Fail(L"give one of --create and --open (see --help)");

    std::unique_ptr<sim::SimulatedPlayer> player;
    if (!createFolder.empty()) {
        if (!model)
            return Fail(L"--create needs --model");
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::path(createFolder) / "player.cfg", ec))
            return Fail(L"the folder already holds a player (use --open)");
        sim::PlayerConfig config = sim::DefaultConfig(*model);
        if (firmware)
            config.firmware = *firmware;
        player = sim::SimulatedPlayer::Create(createFolder, config);
        if (!player)
            return Fail(L"cannot create the player folder");
    } else {
        if (model || firmware || blank)
            return Fail(L"--model, --firmware and --blank go with --create only");
        player = sim::SimulatedPlayer::Open(openFolder);
        if (!player)
            return Fail(L"no readable player in the folder");
    }
    if (card) {
        const bool sectorModel = sim::CardKindOf(player->Config()) == sim::CardKind::Sector;
        if (card->kind != CardChoice::None && sectorModel != (card->kind == CardChoice::Sector))
            return Fail(L"this model takes the other kind of card (sd on models 10, 14 and 16, nand on the others)");
        bool ok = true;
        if (card->kind == CardChoice::Nand)
            ok = player->InsertNandCard(0xEC, *NandCardDevice(card->megabytes));
        else if (card->kind == CardChoice::Sector)
            ok = player->InsertSectorCard(static_cast<std::uint32_t>(card->megabytes) * 2048);
        else
            player->SetCardInserted(false);  // no card at all is fine too
        if (!ok)
            return Fail(L"cannot make the card");
    }
    if (writeProtect)
        player->EditConfig([&](sim::PlayerConfig& c) { c.cardWriteProtect = *writeProtect; });
    if (!importCard.empty() && !player->ImportCardFile(importCard))
        return Fail(L"cannot import the card image (no card, an unreadable file, or larger than the card)");
    if (!createFolder.empty() && !blank && *model != 0) {
        // Served on a pipe of its own for the format, so no client meets a player half made.
        sim::WireServer factory(sim::UniquePipeBaseName("playersim-factory"), *player);
        const std::wstring failure = factory.Start() ? playersim::FormatInternalMemory(factory.InterfacePath())
                                                     : std::wstring(L"cannot create the pipes");
        factory.Stop();
        if (!failure.empty()) {
            // The folder is left without a player rather than with one that was never formatted.
            std::error_code ignored;
            std::filesystem::remove(std::filesystem::path(createFolder) / "player.cfg", ignored);
            return Fail((L"cannot format the new player's internal memory: " + failure +
                         L" (--blank makes a player without)").c_str());
        }
        if (!player->Save())
            return Fail(L"cannot save the formatted player");
    }

    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_saved = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_stop || !g_saved)
        return Fail(L"cannot create events");

    sim::WireServer server(pipe ? *pipe : sim::UniquePipeBaseName("playersim"), *player);
    if (!server.Start())
        return Fail(L"cannot create the pipes");
    std::printf("%s\n", server.InterfacePath().c_str());
    std::fflush(stdout);
    const auto config = player->Config();
    std::fprintf(stderr, "playersim: serving \"%s\" firmware \"%s\"\n", config.modelId.c_str(),
                 config.firmware.c_str());

    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    {
        std::lock_guard g(g_target.lock);
        g_target.server = &server;
        g_target.player = player.get();
    }
    // Commands come on standard input, read on a thread of its own; its end (or an error) stops the player.
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input && input != INVALID_HANDLE_VALUE)
        std::thread(ReadCommands, input).detach();
    WaitForSingleObject(g_stop, INFINITE);
    {
        std::lock_guard g(g_target.lock);
        g_target.server = nullptr;
        g_target.player = nullptr;
    }

    server.Stop();
    const bool saved = player->Save();
    bool exported = true;
    if (!exportCard.empty()) {
        sim::CardImageAudit audit;
        exported = player->ExportCardFile(exportCard, &audit);
        if (!exported)
            std::fprintf(stderr, "playersim: the card could not be exported\n");
        if (audit.eccMismatches || audit.malformedFields || audit.duplicateBlocks)
            std::fprintf(stderr,
                         "playersim: card export noticed %u ECC mismatches, %u malformed address fields, "
                         "%u duplicate blocks\n",
                         audit.eccMismatches, audit.malformedFields, audit.duplicateBlocks);
    }
    SetEvent(g_saved);
    if (!saved)
        std::fprintf(stderr, "playersim: the player could not be saved\n");
    return saved && exported ? 0 : 1;
}
