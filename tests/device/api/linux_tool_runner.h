// Runs a Linux program (such as /usr/bin/python3 with mutagen) from a test that runs under Wine, so
// that fixtures can be made and results checked by independent tools at test time.
//
// Under Wine 8, CreateProcess on a Unix executable starts it as a native process, but gives back no
// process handle to wait on, and the program's standard output does not reach a Windows pipe. So the
// program runs inside /bin/sh with its output sent to files in a fresh folder; the shell's last step
// renames a status file into place, and the caller polls for it.
#pragma once

#include <string>
#include <vector>

struct LinuxToolResult {
    bool finished = false;  // the program ran and its exit status was collected
    int exitCode = -1;
    std::string out;        // standard output, as the program wrote it (UTF-8 for most tools)
    std::string err;        // standard error, or why the program could not be run
};

// True when the process runs under Wine (Linux programs can then be started).
bool RunningUnderWine();

// The Unix path of a Windows path, in UTF-8; empty when not under Wine or when it has none.
std::string UnixPath(const std::wstring& windowsPath);

// Runs argv[0] (a Unix path) with the other arguments (UTF-8), standard input empty, and waits up to
// timeoutMs for it to end.
LinuxToolResult RunLinuxTool(const std::vector<std::string>& argv, unsigned timeoutMs = 120000);
