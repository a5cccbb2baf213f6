#include "linux_tool_runner.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>

namespace {

using UnixFileNameFn = char*(CDECL*)(LPCWSTR);

UnixFileNameFn UnixFileNameFunction()
{
    static const auto fn = reinterpret_cast<UnixFileNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    return fn;
}

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// Quoted for the shell: inside single quotes only the quote itself needs care.
std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

bool ReadWholeFile(const std::wstring& path, std::string* content)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    content->clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        content->append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& content)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                    written == content.size();
    CloseHandle(file);
    return ok;
}

}  // namespace

bool RunningUnderWine()
{
    return UnixFileNameFunction() != nullptr;
}

std::string UnixPath(const std::wstring& windowsPath)
{
    const UnixFileNameFn fn = UnixFileNameFunction();
    if (fn == nullptr) {
        return {};
    }
    char* unixPath = fn(windowsPath.c_str());
    if (unixPath == nullptr) {
        return {};
    }
    std::string result(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

LinuxToolResult RunLinuxTool(const std::vector<std::string>& argv, unsigned timeoutMs)
{
    LinuxToolResult result;
    if (!RunningUnderWine() || argv.empty()) {
        result.err = "not running under Wine, or no program given";
        return result;
    }

    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, temp) == 0) {
        result.err = "no temporary folder";
        return result;
    }
    const std::wstring folder = std::wstring(temp) + L"kwep-linux-tool-" + std::to_wstring(GetCurrentProcessId()) +
                                L"-" + std::to_wstring(counter++);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring script = folder + L"\\job.sh";
    const std::wstring out = folder + L"\\out";
    const std::wstring err = folder + L"\\err";
    const std::wstring status = folder + L"\\status";
    const std::string unixFolder = UnixPath(folder);
    const std::string unixScript = UnixPath(script);
    if (unixFolder.empty() || unixScript.empty()) {
        result.err = "no Unix path for the temporary folder";
        return result;
    }

    std::string command;
    for (const std::string& arg : argv) {
        command += ShellQuote(arg) + " ";
    }
    const std::string body = command + "</dev/null >" + ShellQuote(unixFolder + "/out") + " 2>" +
                             ShellQuote(unixFolder + "/err") + "\n" + "echo $? >" +
                             ShellQuote(unixFolder + "/status.tmp") + "\n" + "mv " +
                             ShellQuote(unixFolder + "/status.tmp") + " " + ShellQuote(unixFolder + "/status") + "\n";
    if (!WriteWholeFile(script, body)) {
        result.err = "cannot write the job script";
        return result;
    }

    std::wstring commandLine = L"/bin/sh \"" + Utf8ToWide(unixScript) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        result.err = "CreateProcess failed with error " + std::to_string(GetLastError());
        return result;
    }
    // Wine hands back no handles for a Unix process; close any that a later Wine might give.
    if (process.hThread != nullptr) {
        CloseHandle(process.hThread);
    }
    if (process.hProcess != nullptr) {
        CloseHandle(process.hProcess);
    }

    const ULONGLONG start = GetTickCount64();
    std::string statusText;
    while (!ReadWholeFile(status, &statusText)) {
        if (GetTickCount64() - start > timeoutMs) {
            result.err = "timed out after " + std::to_string(timeoutMs) + " ms";
            return result;
        }
        Sleep(10);
    }
    result.finished = true;
    result.exitCode = std::atoi(statusText.c_str());
    ReadWholeFile(out, &result.out);
    ReadWholeFile(err, &result.err);
    for (const std::wstring& file : {script, out, err, status}) {
        DeleteFileW(file.c_str());
    }
    RemoveDirectoryW(folder.c_str());
    return result;
}
