// The Windows platform family that decides between the Unicode (W) and the ANSI (A) system calls: one
// process-wide answer, computed once from the system's version, or forced by a test.
#pragma once

#include <windows.h>

constexpr DWORD WIN_PLATFORM_OTHER = 0;
constexpr DWORD WIN_PLATFORM_WIN95 = 1;         // Windows 95
constexpr DWORD WIN_PLATFORM_WIN98 = 2;         // Windows 98 and Me
constexpr DWORD WIN_PLATFORM_NT4 = 0x80000001;  // NT family up to version 4
constexpr DWORD WIN_PLATFORM_NT5 = 0x80000002;  // NT 5 and later

// The code of a Windows version (the platform id, major and minor version of GetVersionEx).
DWORD WinPlatformFromVersion(DWORD platformId, DWORD majorVersion, DWORD minorVersion);
// The process's platform code, read from the system's version on first use (or the forced one).
DWORD WinGetPlatform();
// Re-reads the system's version and records the code. False, with the code unchanged, when the version
// cannot be read.
bool WinDetectPlatform();
// NT family (negative code): the Unicode system calls; otherwise the ANSI ones after conversion.
inline bool WinIsNtPlatform()
{
    return (WinGetPlatform() & 0x80000000) != 0;
}
// Makes WinGetPlatform answer code, process-wide, until cleared (tests of the ANSI branches).
void WinForcePlatform(DWORD code);
void WinClearForcedPlatform();
