// playersim.exe run from a test: it serves one player until its standard input closes, then saves the
// player (and exports the card when asked to) and ends.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace test_support {

// Closes a handle on every path.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~OwnedHandle() { Close(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE get() const { return h_; }
    HANDLE* put()
    {
        Close();
        return &h_;
    }
    void Close()
    {
        if (h_ && h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
        h_ = nullptr;
    }

private:
    HANDLE h_ = nullptr;
};

// A new file a child writes its standard output or error to. Every run gets a file of its own: a
// process that inherited the handle of an earlier run's file (Wine's console host) may still hold it.
inline HANDLE InheritableFile(const std::filesystem::path& path)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class ServedPlayer {
public:
    // program: playersim.exe's Windows path; errors: the file its standard error goes to (empty: the
    // test's own).
    ServedPlayer(std::wstring program, std::filesystem::path errors = {})
        : program_(std::move(program)), errors_(std::move(errors))
    {}
    ~ServedPlayer()
    {
        if (process_.get()) {
            input_.Close();
            WaitForSingleObject(process_.get(), INFINITE);
        }
    }
    ServedPlayer(const ServedPlayer&) = delete;
    ServedPlayer& operator=(const ServedPlayer&) = delete;

    // Starts it with the arguments and reads the interface path it serves (its first line; empty on
    // failure).
    std::string Start(const std::wstring& arguments)
    {
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        OwnedHandle inRead, outWrite, err(errors_.empty() ? nullptr : InheritableFile(errors_));
        if (!CreatePipe(inRead.put(), input_.put(), &sa, 0) || !CreatePipe(output_.put(), outWrite.put(), &sa, 0) ||
            (!errors_.empty() && !err.get()))
            return {};
        SetHandleInformation(input_.get(), HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_.get(), HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = inRead.get();
        si.hStdOutput = outWrite.get();
        si.hStdError = errors_.empty() ? GetStdHandle(STD_ERROR_HANDLE) : err.get();
        PROCESS_INFORMATION pi{};
        std::wstring cmd = L"\"" + program_ + L"\" " + arguments;
        if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
            return {};
        *process_.put() = pi.hProcess;
        CloseHandle(pi.hThread);
        outWrite.Close();
        std::string line;
        char c = 0;
        DWORD got = 0;
        while (::ReadFile(output_.get(), &c, 1, &got, nullptr) && got == 1 && c != '\n')
            line += c;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }

    // Ends serving: the exit code (0: saved and exported), and what it wrote to its error file when asked.
    long Stop(std::string* errors = nullptr)
    {
        input_.Close();
        char buffer[256];
        DWORD got = 0;
        while (::ReadFile(output_.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        }
        WaitForSingleObject(process_.get(), INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        process_.Close();
        if (errors != nullptr && !errors_.empty()) {
            std::ifstream in(errors_, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            *errors = text.str();
        }
        return static_cast<long>(code);
    }

private:
    std::wstring program_;
    std::filesystem::path errors_;
    OwnedHandle process_, input_, output_;
};

}  // namespace test_support
