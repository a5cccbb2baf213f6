// The message loop of window tests: this thread's messages handled until a condition holds.
#pragma once

#include <windows.h>

#include <functional>

namespace test_support {

// Handles every message waiting for this thread.
inline void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Handles this thread's messages with `pump` until done() holds; false when a generous bound (a safety
// net for a test that would hang, never a wait for the machine) passes first.
inline bool PumpUntil(const std::function<bool()>& done, const std::function<void()>& pump = PumpMessages)
{
    const ULONGLONG giveUp = GetTickCount64() + 60000;
    while (!done()) {
        if (GetTickCount64() > giveUp)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        pump();
    }
    return true;
}

}  // namespace test_support
