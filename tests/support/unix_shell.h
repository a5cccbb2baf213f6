// Runs programs of the host (fsck.fat, mtools, openssl, python3, ...) from a test that runs as a
// Windows program under Wine. Wine starts a Unix executable given by its Unix path through
// CreateProcess, but does not wait for it or pass its exit code or output back, so the script runs in
// /bin/sh with its output and exit code written to files; the test polls for the exit-code file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace test_support {

struct ShellResult {
    bool finished = false;  // false: could not be started or did not end within the time-out
    int exitCode = -1;
    std::string out;  // standard output, as written (UTF-8 for most tools)
    std::string err;  // standard error, or why the script did not finish
};

// Runs `script` with /bin/sh on the host, standard input empty and the usual system folders on PATH.
// Quote every argument with ShellQuote.
ShellResult RunShell(const std::string& script, std::uint32_t timeoutMs = 120000);

// True when the process runs under Wine, so that host programs can be started.
bool RunningUnderWine();

// The host path, in UTF-8, of a Windows path (Wine maps drives to host folders); empty when there is none.
std::string UnixPath(const std::filesystem::path& windowsPath);

// Quotes a string for /bin/sh.
std::string ShellQuote(const std::string& text);

// True when the host has the named program on PATH.
bool HostHasProgram(const std::string& name);

// A window captured from the X display: what the measuring script printed, its lines "KIND NAME N ..."
// kept by NAME.
struct WindowCapture {
    bool ok = false;
    std::string error;  // why not, when not ok
    std::map<std::string, std::vector<int>> values;
};
// Captures the visible window titled exactly `title` with xwd into `folder`/`name`.xwd and has the
// Python script `measure` turn it into `folder`/`name`.png and answer the queries (each one argument,
// already quoted for the shell where it needs it).
WindowCapture CaptureWindow(const std::string& title, const std::string& folder, const std::string& name,
                            const std::string& measure, const std::vector<std::string>& queries);

// Removes `path` with everything in it, never through a link (sim::RemoveTree); under Wine what that
// leaves (links, and the folders that hold them) goes by the host's `rm -rf`, which never follows a link
// either. False when anything is left.
bool RemoveTree(const std::filesystem::path& path);

// A fresh folder under the Windows temporary path, removed with everything in it at the end (RemoveTree).
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path File(const std::filesystem::path& name) const { return path_ / name; }
    std::string UnixFile(const std::filesystem::path& name) const { return UnixPath(File(name)); }

private:
    std::filesystem::path path_;
};

// Gives the process a temporary folder of its own while it lives (TMP and TEMP point into it), so the
// device API's temporary files (the system dump, Config.dat, ...) never meet those of another test
// program, or another shard, running in the same Wine prefix.
class PrivateTemp {
public:
    PrivateTemp();
    ~PrivateTemp();
    PrivateTemp(const PrivateTemp&) = delete;
    PrivateTemp& operator=(const PrivateTemp&) = delete;

private:
    TempFolder folder_;
    std::wstring tmp_, temp_;
};

}  // namespace test_support
