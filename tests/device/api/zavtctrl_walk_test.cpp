// The object model walked by a script: zavtctrl_walk.vbs under cscript drives the registered server
// step by step against playersim.exe, on internal memory and on each card kind. The player is served
// anew for every step and saved in between; after each card step its card image is exported, fsck.fat
// must find nothing to repair, and mdir must list exactly the entries the script expects, with the
// write dates the object model gave for them.
#include "sim/simulated_player.h"
#include "tests/device/fs/card/external_fixture.h"
#include "tests/support/served_player.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::InheritableFile;
using test_support::RunShell;
using test_support::ShellQuote;
using test_support::TempFolder;

std::wstring WindowsPath(const char* unix)
{
    std::wstring path = L"Z:";
    for (const char* c = unix; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

std::wstring Quoted(const std::filesystem::path& path)
{
    return L"\"" + path.wstring() + L"\"";
}

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// How a program ran: started, and its exit code (else the error that kept it from starting).
struct RunResult {
    bool started = false;
    DWORD code = 0;
};

// Runs a program of the prefix to its end with its output in `output`.
RunResult Run(const std::wstring& commandLine, const std::filesystem::path& output)
{
    test_support::OwnedHandle out(InheritableFile(output));
    if (!out.get())
        return {false, GetLastError()};
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out.get();
    si.hStdError = out.get();
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
        return {false, GetLastError()};
    test_support::OwnedHandle process(pi.hProcess), thread(pi.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    RunResult result{true, 0};
    GetExitCodeProcess(process.get(), &result.code);
    return result;
}

// The server registered for the scripts of this program, unregistered at the end.
class Registration : public ::testing::Environment {
public:
    void SetUp() override
    {
        const RunResult r = Run(L"regsvr32.exe /s \"" + WindowsPath(KWEP_ZAVTCTRL_PATH) + L"\"", temp_.File("register.txt"));
        ASSERT_TRUE(r.started && r.code == 0) << "regsvr32: " << r.code << " " << ReadText(temp_.File("register.txt"));
    }
    void TearDown() override
    {
        const RunResult r =
            Run(L"regsvr32.exe /s /u \"" + WindowsPath(KWEP_ZAVTCTRL_PATH) + L"\"", temp_.File("unregister.txt"));
        EXPECT_TRUE(r.started && r.code == 0) << "regsvr32 /u: " << r.code;
    }

private:
    TempFolder temp_;
};

// What mdir lists below the root: path (names joined by '\') -> size in bytes or "DIR", and date.
struct Listed {
    std::string size;
    std::string date;
};

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// `rootFolders` gets the root's folders in the order mdir lists them (the directory's order).
std::map<std::string, Listed> MdirListing(const std::string& listing, std::vector<std::string>* rootFolders)
{
    // "NAME     EXT       SIZE yyyy-mm-dd  hh:mm  long name", SIZE being <DIR> for a folder.
    static const std::regex entry(
        R"(^(.{8}) (.{3}) +(<DIR>|[0-9][0-9 ]*) +([0-9]{4}-[0-9]{2}-[0-9]{2}) +[0-9]+:[0-9]+ ?(.*)$)");
    static const std::regex folder(R"(^Directory for ::/(.*)$)");
    std::map<std::string, Listed> out;
    std::istringstream in(listing);
    std::string line, prefix;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, m, folder)) {
            prefix = m[1].str();
            for (char& c : prefix)
                c = c == '/' ? '\\' : c;
            if (!prefix.empty())
                prefix += '\\';
        } else if (std::regex_match(line, m, entry)) {
            std::string name = Trim(m[5].str());
            if (name.empty())
                name = Trim(m[1].str()) + (Trim(m[2].str()).empty() ? "" : "." + Trim(m[2].str()));
            if (name == "." || name == "..")
                continue;
            std::string size;
            for (const char c : m[3].str())
                if (c != ' ')
                    size += c;
            out[prefix + name] = {size == "<DIR>" ? "DIR" : size, m[4].str()};
            if (prefix.empty() && size == "<DIR>")
                rootFolders->push_back(name);
        }
    }
    return out;
}

// What a run of the script reported.
struct ScriptRun {
    std::vector<std::string> failures;
    std::map<std::string, std::string> expected;  // path -> size or "DIR"
    std::map<std::string, std::string> dates;     // path -> yyyy-mm-dd
    std::vector<std::string> rootFolders;         // in the object model's order
    std::map<std::string, std::uint16_t> ids;     // path -> record id
    std::map<std::string, std::string> audio;     // path -> "channels|sample rate|bit rate"
    bool done = false;
};

ScriptRun RunScript(const std::string& step, int storage, const std::filesystem::path& pc,
                    const std::filesystem::path& output)
{
    const std::wstring cmd = L"cscript.exe //nologo \"" + WindowsPath(KWEP_WALK_SCRIPT) + L"\" " +
                             std::wstring(step.begin(), step.end()) + L" " + std::to_wstring(storage) + L" " +
                             Quoted(pc);
    const RunResult result = Run(cmd, output);
    const std::string text = ReadText(output);
    std::cout << text;
    ScriptRun run;
    if (!result.started || result.code > 1) {
        std::ostringstream why;
        why << (result.started ? "cscript ended with 0x" : "cscript did not start: error 0x") << std::hex << result.code;
        run.failures.push_back(why.str());
        return run;
    }
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto bar = line.find('|');
        if (line.rfind("FAIL", 0) == 0)
            run.failures.push_back(line);
        else if (line.rfind("expect ", 0) == 0 && bar != std::string::npos)
            run.expected[line.substr(7, bar - 7)] = line.substr(bar + 1);
        else if (line.rfind("date ", 0) == 0 && bar != std::string::npos)
            run.dates[line.substr(5, bar - 5)] = line.substr(bar + 1);
        else if (line.rfind("id ", 0) == 0 && bar != std::string::npos)
            run.ids[line.substr(3, bar - 3)] = static_cast<std::uint16_t>(std::stoul(line.substr(bar + 1)));
        else if (line.rfind("audio ", 0) == 0 && bar != std::string::npos)
            run.audio[line.substr(6, bar - 6)] = line.substr(bar + 1);
        else if (line.rfind("order ", 0) == 0)
            run.rootFolders.push_back(line.substr(6));
        else if (line == "done")
            run.done = true;
    }
    return run;
}

struct WalkCase {
    const char* name;
    int model;
    const wchar_t* card;  // playersim's card option
    int storage;          // 0 internal memory, 1 the card
    std::vector<std::string> steps;
};

// Internal memory of the flat-store model with one folder level and of a folder-object model (formatted
// once more first, as a script may); a NAND-type card on a folder-object model; an MMC/SD card on a
// group model. Small cards keep the steps quick.
const WalkCase kCases[] = {
    {"InternalFlatStore", 8, L"--card none", 0, {"build", "change", "files", "remove", "format"}},
    {"InternalFolderObjects", 9, L"--card none", 0, {"format", "build", "change", "files", "remove"}},
    {"NandCard", 9, L"--card nand:8", 1, {"build", "change", "files", "remove", "format"}},
    {"SdCard", 10, L"--card sd:16", 1, {"build", "change", "files", "remove", "format"}},
};

// The audio header the player is given for the n-th file, and as the script prints it.
sim::AudioHeader AudioFor(int storage, std::uint16_t id, std::size_t n)
{
    sim::AudioHeader a;
    a.storage = static_cast<std::uint8_t>(storage);
    a.recordId = id;
    a.channels = static_cast<std::uint16_t>(1 + n % 2);
    a.sampleRate = n % 2 ? 44100 : 22050;
    a.bitRate = static_cast<std::uint32_t>(64000 + 32000 * n);
    return a;
}

std::string AudioText(const sim::AudioHeader& a)
{
    return std::to_string(a.channels) + "|" + std::to_string(a.sampleRate) + "|" + std::to_string(a.bitRate);
}

class ZavtctrlWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(ZavtctrlWalk, EveryStepLeavesWhatTheScriptExpects)
{
    const WalkCase& c = GetParam();
    TempFolder temp;
    const std::filesystem::path player = temp.File("player"), image = temp.File("card.img"), pc = temp.File("pc");
    std::filesystem::create_directories(pc);
    const bool card = c.storage == 1;
    const std::wstring pipe = L"kwep-walk-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::wstring(c.name, c.name + std::strlen(c.name));

    std::map<std::string, std::string> audio;  // what the player was given, by path
    ScriptRun last;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const std::string& step = c.steps[i];
        SCOPED_TRACE("step " + step);
        test_support::ServedPlayer sim(WindowsPath(KWEP_PLAYERSIM_PATH), temp.File("playersim-" + step + ".txt"));
        std::wstring arguments = i == 0 ? L"--create " + Quoted(player) + L" --model " + std::to_wstring(c.model) +
                                              L" " + c.card
                                        : L"--open " + Quoted(player);
        arguments += L" --pipe " + pipe;
        if (card)
            arguments += L" --export-card " + Quoted(image);
        if (step == "files") {
            // Every file gets an audio header of its own from the player, given while it is not served.
            std::unique_ptr<sim::SimulatedPlayer> saved = sim::SimulatedPlayer::Open(player);
            ASSERT_TRUE(saved);
            std::size_t n = 0;
            saved->EditConfig([&](sim::PlayerConfig& config) {
                for (const auto& [file, id] : last.ids) {
                    config.audioHeaders.push_back(AudioFor(c.storage, id, n++));
                    audio[file] = AudioText(config.audioHeaders.back());
                }
            });
            ASSERT_TRUE(saved->Save());
        }
        const std::string path = sim.Start(arguments);
        ASSERT_FALSE(path.empty()) << "playersim did not serve";
        SetEnvironmentVariableA("KWEP_SIMULATED_PLAYER", path.c_str());

        const ScriptRun run = RunScript(step, c.storage, pc, temp.File("script-" + step + ".txt"));
        std::string errors;
        EXPECT_EQ(0, sim.Stop(&errors)) << "playersim: " << errors;
        EXPECT_EQ(std::string::npos, errors.find("noticed")) << errors;
        for (const std::string& failure : run.failures)
            ADD_FAILURE() << failure;
        ASSERT_TRUE(run.done) << "the script stopped before the end of the step";
        EXPECT_TRUE(step == "format" || !run.expected.empty()) << "only a format leaves the storage empty";
        if (step == "files") {
            // A file keeps its record id through a rename, and with it its audio header.
            std::map<std::string, std::string> given;
            for (const auto& [file, id] : run.ids) {
                for (const auto& [before, beforeId] : last.ids) {
                    if (beforeId == id)
                        given[file] = audio[before];
                }
            }
            EXPECT_FALSE(given.empty());
            EXPECT_EQ(given, run.audio) << "the audio headers the player was given, against the file objects'";
        }
        last = run;
        if (!card)
            continue;

        const test_support::Bytes exported = test_support::ReadFile(image);
        ASSERT_GE(exported.size(), 512u) << "no card image";
        const cardtest::CardImage part(temp, exported);
        EXPECT_EQ("", exttest::WithoutBootSectorLabel(exttest::WithoutSelfEntries(part.Fsck())));
        // mdir -/ finds nothing to list in an empty root; the root alone is listed then.
        const test_support::ShellResult mdir = RunShell("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mdir " +
                                                        std::string(run.expected.empty() ? "" : "-/ ") + "-i " +
                                                        ShellQuote(part.Path()) + " ::/");
        ASSERT_TRUE(mdir.finished && mdir.exitCode == 0) << mdir.out << mdir.err;
        std::vector<std::string> rootFolders;
        const std::map<std::string, Listed> listed = MdirListing(mdir.out, &rootFolders);
        std::map<std::string, std::string> sizes;
        for (const auto& [name, entry] : listed)
            sizes[name] = entry.size;
        EXPECT_EQ(run.expected, sizes) << "mdir:\n" << mdir.out;
        EXPECT_EQ(run.rootFolders, rootFolders) << "the root's folders in play order";
        for (const auto& [name, date] : run.dates) {
            const auto it = listed.find(name);
            ASSERT_NE(listed.end(), it) << name;
            EXPECT_EQ(it->second.date, date) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Storages, ZavtctrlWalk, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

// Registered once for every case; gtest owns the environment.
::testing::Environment* const kRegistration = ::testing::AddGlobalTestEnvironment(new Registration);

}  // namespace
