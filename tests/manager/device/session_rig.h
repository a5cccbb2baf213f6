// What the device session's tests share: the device API registered in the Wine prefix for the test
// program (the session makes the control by its ProgID, as the manager does), a session that records
// its events, and the device poll run on a worker thread as the manager runs it.
#pragma once

#include "manager/device/device_session.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace session_rig {

inline std::wstring Text(BSTR s)
{
    return s ? std::wstring(s, SysStringLen(s)) : std::wstring();
}

inline std::wstring WindowsPath(const char* unix)
{
    std::wstring path = L"Z:";
    for (const char* c = unix; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

inline std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a program of the prefix to its end with its output in `output`; its exit code, or -1 when it
// could not be started.
inline long RunProgram(const std::wstring& commandLine, const std::filesystem::path& output)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return -1;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    const BOOL started =
        CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    CloseHandle(out);
    if (!started)
        return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<long>(code);
}

// The device API registered for this test program, unregistered at its end.
class Registration : public ::testing::Environment {
public:
    void SetUp() override
    {
        const long code = RunProgram(L"regsvr32.exe /s \"" + WindowsPath(KWEP_ZAVTCTRL_PATH) + L"\"", temp_.File("reg.txt"));
        ASSERT_EQ(0, code) << "regsvr32: " << ReadText(temp_.File("reg.txt"));
    }
    void TearDown() override
    {
        const long code =
            RunProgram(L"regsvr32.exe /s /u \"" + WindowsPath(KWEP_ZAVTCTRL_PATH) + L"\"", temp_.File("unreg.txt"));
        EXPECT_EQ(0, code) << "regsvr32 /u";
    }

private:
    test_support::TempFolder temp_;
};

// A session that records the events it handles and the thread they reached it on.
class RecordingSession : public CDeviceSession {
public:
    ~RecordingSession() override { Close(); }

    struct Seen {
        int id;
        DWORD thread;
    };
    std::vector<Seen> seen;

    std::vector<int> Ids() const
    {
        std::vector<int> ids;
        for (const Seen& s : seen)
            ids.push_back(s.id);
        return ids;
    }
    HRESULT Note(int id)
    {
        seen.push_back({id, GetCurrentThreadId()});
        return S_OK;
    }
    HRESULT DeleteFileStart(IZAVTFile*) override { return Note(1); }
    HRESULT DeleteFileEnd(IZAVTFile*) override { return Note(2); }
    HRESULT DeleteFilePercent(IZAVTFile*, long) override { return Note(3); }
    HRESULT FormatStorageStart(IZAVTStorage*) override { return Note(4); }
    HRESULT FormatStorageEnd(IZAVTStorage*) override { return Note(5); }
    HRESULT FormatStoragePercent(IZAVTStorage*, long) override { return Note(6); }
    HRESULT UploadFileStart(IZAVTFile*) override { return Note(7); }
    HRESULT UploadFileEnd(IZAVTFile*) override { return Note(8); }
    HRESULT UploadFilePercent(IZAVTFile*, long) override { return Note(9); }
    HRESULT DownloadFileStart(IZAVTFile*) override { return Note(10); }
    HRESULT DownloadFileEnd(IZAVTFile*) override { return Note(11); }
    HRESULT DownloadFilePercent(IZAVTFile*, long) override { return Note(12); }
    HRESULT InitializationStart() override { return Note(13); }
    HRESULT InitializationEnd() override { return Note(14); }
    HRESULT HError(long, long) override { return Note(15); }
};

// The device poll step on a worker thread of its own, as the manager's poll runner makes it; then the
// events it posted are handled on this thread.
inline HRESULT PollOnWorker(CDeviceSession& session)
{
    HRESULT result = E_UNEXPECTED;
    std::thread worker([&] {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        result = session.Refresh();
        if (SUCCEEDED(com))
            CoUninitialize();
    });
    worker.join();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    return result;
}

}  // namespace session_rig
