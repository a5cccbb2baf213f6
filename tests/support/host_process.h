// A second Windows program started by a test (a host that drives the simulated player beside the
// test), which inherits the test's environment and so reaches the same player. It is ended by force
// when the test leaves before it has ended.
#pragma once

#include <windows.h>

#include <string>

namespace test_support {

// The Windows path of a program of the build tree given by its Unix path (as CMake names it).
inline std::wstring BuildTreeProgram(const std::string& unixPath)
{
    std::string path = unixPath;
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return std::wstring(path.begin(), path.end());
}

class HostProcess {
public:
    HostProcess(const std::wstring& program, const std::wstring& arguments)
    {
        std::wstring command = L"\"" + program + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            process_ = info.hProcess;
            CloseHandle(info.hThread);
        }
    }
    ~HostProcess()
    {
        if (!process_)
            return;
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0)
            TerminateProcess(process_, 1);
        CloseHandle(process_);
    }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    HANDLE Handle() const { return process_; }
    // The exit code once the process has ended, or STILL_ACTIVE.
    DWORD Wait(DWORD milliseconds) const
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_, &code);
        return code;
    }

private:
    HANDLE process_ = nullptr;
};

}  // namespace test_support
