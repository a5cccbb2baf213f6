// Identification through players served by playersim.exe, each in a process of its own.
#include "tests/device/transport/recording_wire.h"

#include "device/api/player/player_device.h"
#include "device/transport/engine_state.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using namespace engine;

namespace {

// The build tree's path of playersim.exe, as Wine sees it.
std::wstring PlayersimPath()
{
    std::string path = KWEP_PLAYERSIM_PATH;
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    std::wstring wide(path.begin(), path.end());
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    return wide;
}

class PlayersimProcess {
public:
    PlayersimProcess(int model, const std::wstring& folder)
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        if (!CreatePipe(&childIn, &input_, &inherit, 0) || !CreatePipe(&output_, &childOut, &inherit, 0))
            return;
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        std::wstring command =
            L"\"" + PlayersimPath() + L"\" --create \"" + folder + L"\" --blank --model " + std::to_wstring(model);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION process{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
            process_ = process.hProcess;
            CloseHandle(process.hThread);
        }
        CloseHandle(childIn);
        CloseHandle(childOut);
    }

    ~PlayersimProcess()
    {
        Stop();
        if (output_)
            CloseHandle(output_);
        if (process_)
            CloseHandle(process_);
    }

    // The first line playersim prints: the interface path it serves.
    std::string InterfacePath()
    {
        std::string line;
        char c;
        DWORD got = 0;
        while (process_ && line.size() < 1024 && ReadFile(output_, &c, 1, &got, nullptr) && got == 1 && c != '\n')
            line += c;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }

    // Closing its standard input ends playersim, which then saves the player: the exit code.
    DWORD Stop()
    {
        if (input_) {
            CloseHandle(input_);
            input_ = nullptr;
        }
        DWORD code = 0xFFFFFFFF;
        if (process_ && WaitForSingleObject(process_, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_, &code);
        return code;
    }

private:
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
    HANDLE process_ = nullptr;
};

}  // namespace

TEST(PlayersimProcessTest, EveryModelIdentified)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    std::vector<std::wstring> folders;
    std::vector<std::unique_ptr<PlayersimProcess>> players;
    for (int model = 0; model <= 16; ++model) {
        folders.push_back(std::wstring(temp) + L"kwep-playersim-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(model));
        players.push_back(std::make_unique<PlayersimProcess>(model, folders.back()));
    }
    for (int model = 0; model <= 16; ++model) {
        SCOPED_TRACE(model);
        std::string path = players[model]->InterfacePath();
        ASSERT_EQ(path.rfind("\\\\.\\pipe\\", 0), 0u) << '"' << path << '"';
        wiretest::ScopedPlayerPath variable(path);
        PlayerDevice device;
        EXPECT_EQ(device.ProbeDriver(), 0u);
        DeviceInfoBlock info;
        ASSERT_EQ(device.Initialize(info), 0u);
        EXPECT_EQ(static_cast<int>(device.GetModel()), model);
        EXPECT_GT(Engine.InternalBlockCount, 0u);
    }
    for (int model = 0; model <= 16; ++model) {
        EXPECT_EQ(players[model]->Stop(), 0u) << "playersim for model " << model << " did not save";
        players[model].reset();
        // playersim's folder: its configuration and chip images.
        WIN32_FIND_DATAW found;
        std::wstring pattern = folders[model] + L"\\*";
        HANDLE find = FindFirstFileW(pattern.c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileW((folders[model] + L"\\" + found.cFileName).c_str());
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        RemoveDirectoryW(folders[model].c_str());
    }
}
