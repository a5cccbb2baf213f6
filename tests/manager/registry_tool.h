// Reads and plants registry values with Wine's own `reg` tool started from the host, so what the
// framework writes is checked by a program that shares none of its code.
#pragma once

#include "tests/support/unix_shell.h"

#include <windows.h>

#include <string>

namespace registry_tool {

inline std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c);
    return out;
}

// `wine64 reg ...` with the given arguments (each one quoted); the finished result.
inline test_support::ShellResult Reg(const std::string& arguments)
{
    return test_support::RunShell("WINEDEBUG=-all /usr/lib/wine/wine64 reg " + arguments);
}

// The data column of a value as `reg query` prints it; "<missing>" when the value is not there and
// "<failed>" when the tool could not run.
inline std::string Query(const std::string& key, const std::string& value)
{
    const test_support::ShellResult r =
        Reg("query " + test_support::ShellQuote(key) + " /v " + test_support::ShellQuote(value));
    if (!r.finished)
        return "<failed>";
    if (r.exitCode != 0)
        return "<missing>";
    // "    Name    REG_SZ    data"
    size_t at = r.out.find(value + "    ");
    if (at == std::string::npos)
        return "<missing>";
    at = r.out.find("REG_", at);
    if (at == std::string::npos)
        return "<missing>";
    at = r.out.find("    ", at);
    if (at == std::string::npos)
        return "";  // an empty string value prints no data column
    at += 4;
    const size_t end = r.out.find_first_of("\r\n", at);
    return r.out.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// Plants a value of the given type (REG_SZ, REG_DWORD, REG_BINARY, ...); true when `reg add` succeeded.
inline bool Add(const std::string& key, const std::string& value, const std::string& type, const std::string& data)
{
    const test_support::ShellResult r =
        Reg("add " + test_support::ShellQuote(key) + " /v " + test_support::ShellQuote(value) + " /t " + type + " /d " +
            test_support::ShellQuote(data) + " /f");
    return r.finished && r.exitCode == 0;
}

// Removes a key with everything below it (in process: this is set-up, not a check).
inline void DeleteTree(HKEY root, const wchar_t* path)
{
    RegDeleteTreeW(root, path);
    RegDeleteKeyW(root, path);
}

}  // namespace registry_tool
