#include "tests/support/unix_shell.h"

#include "sim/sim_files.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace test_support {

namespace {

using UnixFileNameFn = char*(__cdecl*)(const wchar_t*);

// Wine's own export; absent on Windows.
UnixFileNameFn UnixFileNameFunction()
{
    static const auto fn = reinterpret_cast<UnixFileNameFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    return fn;
}

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

bool RunningUnderWine()
{
    return UnixFileNameFunction() != nullptr;
}

std::string UnixPath(const std::filesystem::path& windowsPath)
{
    const UnixFileNameFn toUnix = UnixFileNameFunction();
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
    for (const char c : text) {
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
    const std::filesystem::path root = n ? std::filesystem::path(base) : std::filesystem::current_path();
    for (;;) {
        path_ = root / ("kwep-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
        std::error_code error;
        // A name left by an earlier run is skipped; any other failure shows when the test writes its files.
        if (std::filesystem::create_directories(path_, error) || error)
            break;
    }
}

TempFolder::~TempFolder()
{
    RemoveTree(path_);
}

namespace {

std::wstring EnvironmentValue(const wchar_t* name)
{
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    return n > 0 && n <= MAX_PATH ? std::wstring(value, n) : std::wstring();
}

}  // namespace

PrivateTemp::PrivateTemp() : tmp_(EnvironmentValue(L"TMP")), temp_(EnvironmentValue(L"TEMP"))
{
    SetEnvironmentVariableW(L"TMP", folder_.Path().c_str());
    SetEnvironmentVariableW(L"TEMP", folder_.Path().c_str());
}

PrivateTemp::~PrivateTemp()
{
    SetEnvironmentVariableW(L"TMP", tmp_.empty() ? nullptr : tmp_.c_str());
    SetEnvironmentVariableW(L"TEMP", temp_.empty() ? nullptr : temp_.c_str());
}

ShellResult RunShell(const std::string& script, std::uint32_t timeoutMs)
{
    ShellResult result;
    TempFolder work;
    const std::string out = work.UnixFile("out");
    const std::string err = work.UnixFile("err");
    const std::string code = work.UnixFile("exit-code");
    const std::string wrapper = work.UnixFile("run.sh");
    if (out.empty() || err.empty() || code.empty() || wrapper.empty()) {
        result.err = "no host path for the work folder (not running under Wine?)";
        return result;
    }
    {
        std::ofstream file(work.File("run.sh"), std::ios::binary);
        file << "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin; export PATH\n"
             << "( " << script << "\n) >" << ShellQuote(out) << " 2>" << ShellQuote(err) << " </dev/null\n"
             << "echo $? >" << ShellQuote(code + ".tmp") << " && mv " << ShellQuote(code + ".tmp") << ' '
             << ShellQuote(code) << '\n';
        if (!file.flush()) {
            result.err = "cannot write the wrapper script";
            return result;
        }
    }

    std::wstring commandLine = L"/bin/sh \"" + Utf8ToWide(wrapper) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        result.err = "CreateProcess of /bin/sh failed: " + std::to_string(GetLastError());
        return result;
    }
    // Wine hands back no usable handles for a Unix process; close any that a later Wine might give.
    if (process.hThread != nullptr)
        CloseHandle(process.hThread);
    if (process.hProcess != nullptr)
        CloseHandle(process.hProcess);

    const ULONGLONG start = GetTickCount64();
    const std::filesystem::path codeFile = work.File("exit-code");
    while (GetFileAttributesW(codeFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() - start > timeoutMs) {
            result.err = "timed out after " + std::to_string(timeoutMs) + " ms: " + script;
            return result;
        }
        Sleep(10);
    }
    result.finished = true;
    result.exitCode = std::atoi(ReadWholeFile(codeFile).c_str());
    result.out = ReadWholeFile(work.File("out"));
    result.err = ReadWholeFile(work.File("err"));
    return result;
}

bool RemoveTree(const std::filesystem::path& path)
{
    if (sim::RemoveTree(path))
        return true;
    // What is left is links, or names Wine cannot remove (a dangling link): the host's rm removes them
    // without following any. Not again for the shell's own work folder, should that be left too.
    static thread_local bool removingOnHost = false;
    const std::string unix = UnixPath(path);
    if (removingOnHost || unix.empty())
        return false;
    removingOnHost = true;
    const ShellResult removed = RunShell("rm -rf -- " + ShellQuote(unix));
    removingOnHost = false;
    return removed.finished && removed.exitCode == 0;
}

bool HostHasProgram(const std::string& name)
{
    const ShellResult r = RunShell("command -v " + ShellQuote(name));
    return r.finished && r.exitCode == 0;
}

WindowCapture CaptureWindow(const std::string& title, const std::string& folder, const std::string& name,
                            const std::string& measure, const std::vector<std::string>& queries)
{
    const std::string xwd = folder + "/" + name + ".xwd";
    std::string script = "mkdir -p " + ShellQuote(folder) + " && id=$(xdotool search --onlyvisible --name " +
                         ShellQuote("^" + title + "$") + " | head -n1) && test -n \"$id\" && xwd -silent -id \"$id\" -out " +
                         ShellQuote(xwd) + " && /usr/bin/python3 " + ShellQuote(measure) + " " + ShellQuote(xwd) + " " +
                         ShellQuote(folder + "/" + name + ".png");
    for (const std::string& q : queries)
        script += " " + q;
    WindowCapture capture;
    const ShellResult r = RunShell(script);
    if (!r.finished || r.exitCode != 0) {
        capture.error = r.err.empty() ? "the capture failed" : r.err;
        return capture;
    }
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind, key;
        words >> kind >> key;
        std::vector<int>& numbers = capture.values[key];
        int n = 0;
        while (words >> n)
            numbers.push_back(n);
    }
    capture.ok = true;
    return capture;
}

}  // namespace test_support
