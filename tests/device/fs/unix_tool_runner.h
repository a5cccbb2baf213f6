// Runs Linux tools of the host (fsck.fat, mtools, openssl, ...) from a test that runs as a Windows
// program under Wine. Wine starts a Unix executable given by its Unix path through CreateProcess, but
// does not wait for it or pass its exit code back, so the command runs in a wrapper script that writes
// its output and exit code to files; the test waits for the exit-code file.
//
// Not specific to the fs tests: meant to move to a shared test support folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace test_support {

struct UnixCommandResult {
    bool finished = false;   // false: could not be started or did not end within the time-out
    int exitCode = -1;
    std::string output;      // stdout and stderr together
};

// Runs `script` with /bin/sh on the host, with the usual system folders on PATH.
UnixCommandResult RunUnixShell(const std::string& script, std::uint32_t timeoutMs = 60000);

// The host path of a Windows path (Wine maps drives to host folders); empty when there is none.
std::string UnixPath(const std::filesystem::path& windowsPath);

// Quotes a string for /bin/sh.
std::string ShellQuote(const std::string& text);

// True when the host has the named program on PATH.
bool HostHasProgram(const std::string& name);

// A fresh folder under the Windows temporary path, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path File(const std::string& name) const { return path_ / name; }
    std::string UnixFile(const std::string& name) const { return UnixPath(File(name)); }

private:
    std::filesystem::path path_;
};

}  // namespace test_support
