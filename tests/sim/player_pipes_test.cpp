// The simulated player reached as the transport reaches it: CreateFileA on the interface path and its
// pipes, WriteFile and ReadFile; in this process (TestPlayer) and as playersim.exe.
#include "sim/sim_files.h"
#include "sim/sim_nand.h"
#include "tests/sim/sim_blocks.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

using namespace simtest;

namespace {

HANDLE OpenPath(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// The three pipes of one host operation, opened in the transport's order and closed at the end.
struct Pipes {
    HANDLE pipe02, out, in;
    explicit Pipes(const std::string& interfacePath)
        : pipe02(OpenPath(interfacePath + "\\PIPE02")),
          out(OpenPath(interfacePath + "\\PIPE00")),
          in(OpenPath(interfacePath + "\\PIPE01"))
    {}
    ~Pipes()
    {
        for (HANDLE h : {pipe02, out, in})
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
    }
    bool Open() const
    {
        return pipe02 != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && in != INVALID_HANDLE_VALUE;
    }
    bool Write(const Bytes& data) const
    {
        DWORD n = 0;
        return WriteFile(out, data.data(), static_cast<DWORD>(data.size()), &n, nullptr) && n == data.size();
    }
    // Bytes a read of `size` bytes got; -1 when the read failed.
    long Read(Bytes& data, std::size_t size) const
    {
        data.assign(size, 0);
        DWORD n = 0;
        if (!ReadFile(in, data.data(), static_cast<DWORD>(size), &n, nullptr))
            return -1;
        data.resize(n);
        return static_cast<long>(n);
    }
};

std::string Id(const Bytes& info)
{
    return std::string(info.begin(), info.begin() + 12).c_str();
}

}  // namespace

TEST(SimPipes, TestPlayerServesThroughNamedPipes)
{
    sim::TestPlayer player(9);  // TN510: one (0xEC, 0x79) chip, 1024 rows of 32-sector blocks
    ASSERT_TRUE(player.Ok());
    char value[256] = {};
    ASSERT_GT(GetEnvironmentVariableA(sim::kPlayerPathVariable, value, sizeof value), 0u);
    EXPECT_EQ(std::string(value), player.InterfacePath());

    // The presence check opens and closes the interface itself.
    HANDLE device = OpenPath(player.InterfacePath());
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    CloseHandle(device);

    Bytes data;
    {
        Pipes pipes(player.InterfacePath());
        ASSERT_TRUE(pipes.Open());
        ASSERT_TRUE(pipes.Write(Signed(0x01)));
        ASSERT_EQ(pipes.Read(data, 64), 64);
        EXPECT_EQ(Id(data), "TN510");

        // A page goes in, and one erase block comes back in one read of 32 units.
        ASSERT_TRUE(pipes.Write(OwnBlock(0x03, 0, 600, 1, 1024)));
        ASSERT_TRUE(pipes.Write(Unit(0x5A, 0xAA)));
        ASSERT_TRUE(pipes.Write(NandCommand(0x02, 0, 600, 0, 1024)));
        ASSERT_EQ(pipes.Read(data, 18432), 18432);
        EXPECT_EQ(data[576], 0x5A);
        EXPECT_EQ(data[576 + 512], 0xAA);
        EXPECT_EQ(data[0], 0xFF);

        // A refused read comes up short instead of leaving the host waiting.
        ASSERT_TRUE(pipes.Write(Signed(0x06, 0x80, 0, 0, 0)));
        EXPECT_EQ(pipes.Read(data, 576), 0);
        ASSERT_TRUE(pipes.Write(Signed(0x01)));
        ASSERT_EQ(pipes.Read(data, 64), 64);
        EXPECT_EQ(Id(data), "TN510");
    }
    EXPECT_EQ(player.Player().PeekPage(0, 600, 1)[0], 0x5A);
    const auto counters = player.Player().Counters();
    EXPECT_EQ(counters.commandBlocks, 4u);
    EXPECT_EQ(counters.rejected, 1u);
    const auto wire = player.Server().Counters();
    EXPECT_EQ(wire.hostWrites, 6u);
    EXPECT_EQ(wire.bytesIn, 64u + 18432u + 0u + 64u);
}

// A block read of 18 KB, a block erase and a refused page read through the pipes, as the host makes them.
TEST(SimPipes, RunCostAndReset)
{
    sim::TestPlayer player(9);  // TN510: one (0xEC, 0x79) chip
    ASSERT_TRUE(player.Ok());
    {
        Pipes pipes(player.InterfacePath());
        ASSERT_TRUE(pipes.Open());
        Bytes data;
        ASSERT_TRUE(pipes.Write(NandCommand(0x02, 0, 600, 0, 1024)));
        ASSERT_EQ(pipes.Read(data, 18432), 18432);
        ASSERT_TRUE(pipes.Write(NandCommand(0x04, 0, 600, 0, 1024)));
        ASSERT_EQ(pipes.Read(data, 64), 64);
        ASSERT_TRUE(pipes.Write(Signed(0x06, 0x80)));
        ASSERT_EQ(pipes.Read(data, 576), 0);  // an empty transfer still takes a packet
    }
    sim::RunCost cost = player.Cost();
    EXPECT_EQ(cost.wire.hostWrites, 3u);
    EXPECT_EQ(cost.wire.hostReads, 3u);
    EXPECT_EQ(cost.wire.bytesOut, 3u * 64);
    EXPECT_EQ(cost.wire.bytesIn, 18432u + 64u);
    EXPECT_EQ(cost.wire.packetsOut, 3u);
    EXPECT_EQ(cost.wire.packetsIn, 288u + 1u + 1u);
    EXPECT_EQ(cost.nand.commandBlocks, 2u);
    EXPECT_EQ(cost.nand.pageReads, 32u);
    EXPECT_EQ(cost.nand.blockErases, 1u);
    // 293 packets at 19 per millisecond, 32 page reads and one erase: 15421.0526... + 800 + 2000 us.
    EXPECT_EQ(cost.Time().usbPackets, 293u);
    EXPECT_EQ(cost.Time().nandMicroseconds, 2800u);
    EXPECT_NEAR(cost.Microseconds(), 18221.0526, 0.0001);

    player.ResetCost();
    cost = player.Cost();
    EXPECT_EQ(cost.wire.hostWrites + cost.wire.hostReads + cost.wire.bytesOut + cost.wire.bytesIn, 0u);
    EXPECT_EQ(cost.wire.packetsOut + cost.wire.packetsIn, 0u);
    EXPECT_EQ(cost.nand.commandBlocks + cost.nand.pageReads + cost.nand.blockErases + cost.nand.rejected, 0u);
    EXPECT_EQ(cost.Microseconds(), 0.0);

    {  // counting goes on from zero
        Pipes pipes(player.InterfacePath());
        Bytes data;
        ASSERT_TRUE(pipes.Write(Signed(0x01)));
        ASSERT_EQ(pipes.Read(data, 64), 64);
    }
    cost = player.Cost();
    EXPECT_EQ(cost.wire.hostWrites, 1u);
    EXPECT_EQ(cost.nand.commandBlocks, 1u);
    EXPECT_EQ(cost.Time().usbPackets, 2u);
    EXPECT_EQ(cost.Time().nandMicroseconds, 0u);
}

namespace {

// playersim.exe beside this build's tests.
std::wstring PlayersimPath()
{
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::filesystem::path dir = std::filesystem::path(std::wstring(self, n)).parent_path();
    return (dir / KWEP_PLAYERSIM_RELATIVE).lexically_normal().wstring();
}

// playersim.exe with its standard input and output on pipes of ours.
class Playersim {
public:
    explicit Playersim(const std::wstring& arguments, const std::wstring& program = PlayersimPath())
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        if (!CreatePipe(&childIn, &input_, &inherit, 0) || !CreatePipe(&output_, &childOut, &inherit, 0))
            return;
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW start{};
        start.cb = sizeof start;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = childIn;
        start.hStdOutput = childOut;
        start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::wstring command = L"\"" + program + L"\" " + arguments;
        PROCESS_INFORMATION info{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &info)) {
            process_ = info.hProcess;
            CloseHandle(info.hThread);
        }
        CloseHandle(childIn);
        CloseHandle(childOut);
    }
    ~Playersim()
    {
        CloseInput();
        if (process_) {
            if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0)
                TerminateProcess(process_, 99);
            CloseHandle(process_);
        }
        if (output_)
            CloseHandle(output_);
    }
    bool Started() const { return process_ != nullptr; }
    // The first line of its standard output.
    std::string Line()
    {
        std::string line;
        char c;
        DWORD n;
        while (ReadFile(output_, &c, 1, &n, nullptr) && n == 1 && c != '\n')
            line += c;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
    bool Write(const std::string& text)
    {
        DWORD n = 0;
        return WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) && n == text.size();
    }
    // One command line on its standard input: its answer line.
    std::string Command(const std::string& line) { return Write(line + "\n") ? Line() : "(not written)"; }
    void CloseInput()
    {
        if (input_)
            CloseHandle(input_);
        input_ = nullptr;
    }
    // The exit code once it has ended; -1 when it does not end within the time.
    long Exit(DWORD milliseconds = 20000)
    {
        DWORD code = 0;
        if (!process_ || WaitForSingleObject(process_, milliseconds) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process_, &code))
            return -1;
        return static_cast<long>(code);
    }

private:
    HANDLE input_ = nullptr, output_ = nullptr, process_ = nullptr;
};

}  // namespace

TEST(SimPipes, PlayersimServesAFolderAndSavesItWhenInputCloses)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / sim::UniquePipeBaseName("kwep-playersim");
    // Wine gives the first process of a fresh wineserver the same id every time: a run that failed
    // half-way may have left this folder behind.
    sim::RemoveTree(folder);
    const std::string pipe = sim::UniquePipeBaseName("kwep-playersim-pipe");
    Bytes data;
    {
        Playersim server(L"--create \"" + folder.wstring() + L"\" --model 3 --blank --pipe " +
                         std::wstring(pipe.begin(), pipe.end()));
        ASSERT_TRUE(server.Started());
        const std::string path = server.Line();
        EXPECT_EQ(path, "\\\\.\\pipe\\" + pipe);
        {
            Pipes pipes(path);
            ASSERT_TRUE(pipes.Open());
            ASSERT_TRUE(pipes.Write(Signed(0x01)));
            ASSERT_EQ(pipes.Read(data, 64), 64);
            EXPECT_EQ(Id(data), "KWEP-3");
            ASSERT_TRUE(pipes.Write(OwnBlock(0x03, 1, 9, 17, 128)));  // second (0xEC, 0x73) chip
            ASSERT_TRUE(pipes.Write(Unit(0x3C, 0xEE)));
        }
        server.CloseInput();
        EXPECT_EQ(server.Exit(), 0);
    }
    {
        Playersim server(L"--open \"" + folder.wstring() + L"\"");
        ASSERT_TRUE(server.Started());
        Pipes pipes(server.Line());
        ASSERT_TRUE(pipes.Open());
        ASSERT_TRUE(pipes.Write(NandCommand(0x06, 1, 9, 17, 128)));
        ASSERT_EQ(pipes.Read(data, 576), 576);
        EXPECT_EQ(data[0], 0x3C);
        EXPECT_EQ(data[512], 0xEE);
    }
    {
        Playersim refused(L"--create \"" + folder.wstring() + L"\" --model 3");  // already a player there
        ASSERT_TRUE(refused.Started());
        EXPECT_EQ(refused.Exit(), 2);
    }
    sim::RemoveTree(folder);
}

// Whether any sector of internal memory (the chip at position 0) holds something other than erased bytes.
bool InternalMemoryWritten(const std::filesystem::path& folder)
{
    const std::unique_ptr<sim::SimulatedPlayer> player = sim::SimulatedPlayer::Open(folder);
    if (!player)
        return false;
    const auto id = player->Config().nandIds[0];
    const std::optional<sim::NandGeometry> geometry = sim::GeometryForId(id[0], id[1]);
    if (!geometry)
        return false;
    for (std::uint32_t row = 0; row < geometry->rows; ++row) {
        for (std::uint32_t sector = 0; sector < sim::kSectorsPerRow; ++sector) {
            const auto page = player->PeekPage(0, row, sector);
            if (std::any_of(page.begin(), page.end(), [](std::uint8_t b) { return b != 0xFF; }))
                return true;
        }
    }
    return false;
}

// A new player comes formatted by the device API beside playersim, or erased with --blank; without the
// device API a player cannot be made formatted, and the folder is left without one.
TEST(SimPipes, PlayersimFormatsANewPlayerUnlessBlank)
{
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() / sim::UniquePipeBaseName("kwep-playersim-factory");
    sim::RemoveTree(base);  // left behind by a failed run of a process with this id
    std::filesystem::create_directories(base / "alone");
    const std::filesystem::path alone = base / "alone" / "playersim.exe";
    ASSERT_TRUE(CopyFileW(PlayersimPath().c_str(), alone.c_str(), FALSE));

    struct Case {
        const wchar_t* name;
        const wchar_t* options;
        std::wstring program;
        long exit;
        bool player;   // a player is left in the folder
        bool written;  // and its internal memory holds the format's writes
    };
    const Case cases[] = {
        {L"formatted", L"--model 9", PlayersimPath(), 0, true, true},
        {L"flat store", L"--model 8", PlayersimPath(), 0, true, true},
        {L"blank", L"--model 9 --blank", PlayersimPath(), 0, true, false},
        {L"unknown model", L"--model 0", PlayersimPath(), 0, true, false},
        {L"no device API", L"--model 9", alone.wstring(), 2, false, false},
        {L"no device API, blank", L"--model 9 --blank", alone.wstring(), 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::filesystem::path(c.name).string());
        const std::filesystem::path folder = base / c.name;
        {
            Playersim server(L"--create \"" + folder.wstring() + L"\" " + c.options, c.program);
            ASSERT_TRUE(server.Started());
            if (c.exit == 0) {
                EXPECT_EQ(server.Line().rfind("\\\\.\\pipe\\", 0), 0u);
                server.CloseInput();
            }
            EXPECT_EQ(server.Exit(120000), c.exit);
        }
        EXPECT_EQ(std::filesystem::exists(folder / "player.cfg"), c.player);
        if (c.player) {
            EXPECT_EQ(InternalMemoryWritten(folder), c.written);
        }
    }
    sim::RemoveTree(base);
}

// Commands on playersim's standard input act on the player while it serves.
TEST(SimPipes, PlayersimTakesCommandsWhileServing)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / sim::UniquePipeBaseName("kwep-playersim-commands");
    sim::RemoveTree(folder);  // left behind by a failed run of a process with this id
    Playersim server(L"--create \"" + folder.wstring() + L"\" --model 10 --blank --card sd:2");
    ASSERT_TRUE(server.Started());
    const std::string path = server.Line();
    // The information block: the card's presence (byte 58) as the host sees it now.
    auto cardPresent = [&path]() -> int {
        Pipes pipes(path);
        Bytes info;
        if (!pipes.Open() || !pipes.Write(Signed(0x01)) || pipes.Read(info, 64) != 64)
            return -1;
        return info[58];
    };
    ASSERT_EQ(cardPresent(), 1);

    struct Step {
        const char* command;
        const char* answer;
        int card;  // -1: the player cannot be reached
    };
    const Step steps[] = {
        {"card out", "ok: card out", 0},
        {"card in", "ok: card in", 1},
        {"unplug", "ok: unplug", -1},
        {"plug", "ok: plug", 1},
        {"pace 5", "ok: pace 5", 1},
        {"pace 0", "ok: pace 0", 1},
        {"pace 99999", "error: pace takes milliseconds from 0 to 2000", 1},
        {"pace -1", "error: pace takes milliseconds from 0 to 2000", 1},
        {"eject", "error: unknown command \"eject\" (unplug, plug, card out, card in, pace MS)", 1},
        {"card in\r", "ok: card in", 1},  // a line ended by CR LF
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        EXPECT_EQ(server.Command(step.command), step.answer);
        EXPECT_EQ(cardPresent(), step.card);
    }
    // Blank lines get no answer: the next answer is the next command's.
    ASSERT_TRUE(server.Write("\n  \r\n"));
    EXPECT_EQ(server.Command("card out"), "ok: card out");
    // A paced data transfer arrives whole, and no sooner than the pace (a lower bound holds however
    // loaded the machine is).
    ASSERT_EQ(server.Command("card in"), "ok: card in");
    EXPECT_EQ(server.Command("pace 50"), "ok: pace 50");
    {
        Pipes pipes(path);
        ASSERT_TRUE(pipes.Open());
        Bytes read(64, 0), cluster;
        read[0] = 18;
        read[4] = 100;
        const ULONGLONG start = GetTickCount64();
        ASSERT_TRUE(pipes.Write(read));
        EXPECT_EQ(pipes.Read(cluster, 16 * 512), 16 * 512);
        EXPECT_GE(GetTickCount64() - start, 40u);  // the tick's own grain allowed for
    }
    server.CloseInput();
    EXPECT_EQ(server.Exit(), 0);
    sim::RemoveTree(folder);
}

TEST(SimPipes, PlayersimCardOptions)
{
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() / sim::UniquePipeBaseName("kwep-playersim-card");
    sim::RemoveTree(base);  // left behind by a failed run of a process with this id
    std::filesystem::create_directories(base);
    auto quoted = [](const std::filesystem::path& p) {
        return L"\"" + p.wstring() + L"\"";
    };
    auto readFile = [](const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    };
    const auto sd = base / "sd", nand = base / "nand";
    {
        // A formatted 2 MB sector card: present, changed, mountable; one cluster in one read.
        Playersim server(L"--create " + quoted(sd) + L" --model 10 --blank --card sd:2 --export-card " +
                         quoted(base / "sd.img"));
        ASSERT_TRUE(server.Started());
        {
            Pipes pipes(server.Line());
            ASSERT_TRUE(pipes.Open());
            Bytes info;
            ASSERT_TRUE(pipes.Write(Signed(0x01)));
            ASSERT_EQ(pipes.Read(info, 64), 64);
            EXPECT_EQ(Bytes(info.begin() + 57, info.begin() + 60), Bytes({1, 1, 1}));
            Bytes read(64, 0);
            read[0] = 18;
            read[4] = 100;
            ASSERT_TRUE(pipes.Write(read));
            Bytes cluster;
            EXPECT_EQ(pipes.Read(cluster, 16 * 512), 16 * 512);
        }
        server.CloseInput();
        EXPECT_EQ(server.Exit(), 0);
    }
    const Bytes exported = readFile(base / "sd.img");
    ASSERT_EQ(exported.size(), 4096u * 512);
    EXPECT_EQ(exported[510], 0x55);
    EXPECT_EQ(exported[511], 0xAA);

    // An image in, the same image out.
    Bytes image(4096 * 512);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 31 + i / 512);
    std::ofstream(base / "in.img", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    {
        Playersim server(L"--open " + quoted(sd) + L" --import-card " + quoted(base / "in.img") + L" --export-card " +
                         quoted(base / "out.img"));
        ASSERT_TRUE(server.Started());
        server.CloseInput();
        EXPECT_EQ(server.Exit(), 0);
    }
    EXPECT_EQ(readFile(base / "out.img"), image);

    {
        // A formatted 8 MB NAND-type card at position 4 of a four-slot model, write-protected.
        Playersim server(L"--create " + quoted(nand) + L" --model 1 --blank --card nand:8 --write-protect on --export-card " +
                         quoted(base / "nand.img"));
        ASSERT_TRUE(server.Started());
        {
            Pipes pipes(server.Line());
            ASSERT_TRUE(pipes.Open());
            Bytes info;
            ASSERT_TRUE(pipes.Write(Signed(0x01)));
            ASSERT_EQ(pipes.Read(info, 64), 64);
            EXPECT_EQ(info[56] & 1, 1);
            EXPECT_EQ(Bytes(info.begin() + 32, info.begin() + 34), Bytes({0xEC, 0xE6}));
        }
        server.CloseInput();
        EXPECT_EQ(server.Exit(), 0);
    }
    const Bytes nandImage = readFile(base / "nand.img");
    ASSERT_EQ(nandImage.size(), 16000u * 512);
    EXPECT_EQ(nandImage[25 * 512], 0xE9);  // the boot sector at the partition start of an 8 MB card

    // Refused: a card of the other kind, an image larger than the card.
    for (const std::wstring& arguments : {L"--create " + quoted(base / "wrong") + L" --model 1 --card sd:2",
                                          L"--open " + quoted(sd) + L" --import-card " + quoted(base / "nand.img"),
                                          L"--open " + quoted(sd) + L" --card nand:5"}) {
        Playersim refused(arguments);
        ASSERT_TRUE(refused.Started());
        EXPECT_EQ(refused.Exit(), 2);
    }
    sim::RemoveTree(base);
}
