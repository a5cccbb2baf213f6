#include "unix_tool_runner.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace test_support {

namespace {

std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string UnixPath(const std::filesystem::path& windowsPath)
{
    using ToUnix = char*(__cdecl*)(const wchar_t*);
    static const auto toUnix =
        reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr)
        return {};
    char* unix = toUnix(std::filesystem::absolute(windowsPath).wstring().c_str());
    if (unix == nullptr)
        return {};
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

TempFolder::TempFolder()
{
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, base);
    std::filesystem::path root = n ? std::filesystem::path(base) : std::filesystem::current_path();
    for (;;) {
        path_ = root / ("kwep-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
        std::error_code error;
        if (std::filesystem::create_directories(path_, error))
            break;
    }
}

TempFolder::~TempFolder()
{
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

UnixCommandResult RunUnixShell(const std::string& script, std::uint32_t timeoutMs)
{
    UnixCommandResult result;
    TempFolder work;
    const std::string output = work.UnixFile("output");
    const std::string code = work.UnixFile("exit-code");
    const std::string wrapper = work.UnixFile("run.sh");
    if (output.empty() || code.empty() || wrapper.empty()) {
        result.output = "no host path for the work folder (not running under Wine?)";
        return result;
    }
    {
        std::ofstream out(work.File("run.sh"), std::ios::binary);
        out << "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin; export PATH\n"
            << "( " << script << "\n) >" << ShellQuote(output) << " 2>&1 </dev/null\n"
            << "echo $? >" << ShellQuote(code + ".tmp") << " && mv " << ShellQuote(code + ".tmp") << ' '
            << ShellQuote(code) << '\n';
    }

    // Wine runs a Unix executable given by its Unix path.
    std::wstring commandLine = L"/bin/sh \"" + std::filesystem::path(wrapper).wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        result.output = "CreateProcess of /bin/sh failed: " + std::to_string(GetLastError());
        return result;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    const std::filesystem::path codeFile = work.File("exit-code");
    while (GetFileAttributesW(codeFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() > deadline) {
            result.output = "timed out: " + script;
            return result;
        }
        Sleep(10);
    }
    result.finished = true;
    result.exitCode = std::atoi(ReadWholeFile(codeFile).c_str());
    result.output = ReadWholeFile(work.File("output"));
    return result;
}

bool HostHasProgram(const std::string& name)
{
    const UnixCommandResult r = RunUnixShell("command -v " + ShellQuote(name));
    return r.finished && r.exitCode == 0;
}

}  // namespace test_support
