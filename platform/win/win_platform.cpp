#include "platform/win/win_platform.h"

#include <atomic>

namespace {

std::atomic<bool> g_forced{false};
std::atomic<DWORD> g_forcedCode{0};
// Not a platform code: the version has not been read yet.
constexpr DWORD kUndecided = 0xFFFFFFFF;
std::atomic<DWORD> g_detected{kUndecided};

}  // namespace

DWORD WinPlatformFromVersion(DWORD platformId, DWORD majorVersion, DWORD minorVersion)
{
    if (platformId == VER_PLATFORM_WIN32_NT)
        return majorVersion <= 4 ? WIN_PLATFORM_NT4 : WIN_PLATFORM_NT5;
    if (platformId == VER_PLATFORM_WIN32_WINDOWS)  // 4.0 is 95, 4.10 is 98, 4.90 is Me
        return majorVersion == 4 && minorVersion < 10 ? WIN_PLATFORM_WIN95 : WIN_PLATFORM_WIN98;
    return WIN_PLATFORM_OTHER;
}

bool WinDetectPlatform()
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(&info))
        return false;
    g_detected.store(WinPlatformFromVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion));
    return true;
}

DWORD WinGetPlatform()
{
    if (g_forced.load())
        return g_forcedCode.load();
    // No version to go by: the ANSI calls exist on both families.
    if (g_detected.load() == kUndecided && !WinDetectPlatform())
        return WIN_PLATFORM_OTHER;
    return g_detected.load();
}

void WinForcePlatform(DWORD code)
{
    g_forcedCode.store(code);
    g_forced.store(true);
}

void WinClearForcedPlatform()
{
    g_forced.store(false);
}
