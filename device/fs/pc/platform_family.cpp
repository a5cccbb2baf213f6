#include "device/fs/pc/platform_family.h"

#include <windows.h>

#include <atomic>

namespace engine {

namespace {

// -1: not decided yet; 0: Windows 95 family; 1: NT family.
std::atomic<int> g_detected{-1};
std::atomic<int> g_forced{-1};

}  // namespace

bool DetectNtFamily()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) {
        return false;
    }
    g_detected.store(info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0);
    return true;
}

bool IsNtFamily()
{
    const int forced = g_forced.load();
    if (forced >= 0) {
        return forced == 1;
    }
    if (g_detected.load() < 0 && !DetectNtFamily()) {
        // No version to go by: the ANSI calls exist on both families.
        return false;
    }
    return g_detected.load() == 1;
}

void ForceNtFamilyForTesting(std::optional<bool> ntFamily)
{
    g_forced.store(ntFamily ? (*ntFamily ? 1 : 0) : -1);
}

}  // namespace engine
