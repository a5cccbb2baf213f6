// Moving the real pointer in tests.
#pragma once

#include <windows.h>

// Puts the pointer at `at` (screen coordinates) and waits until the system reports it there twice in a
// row. Under X the pointer is warped asynchronously: motion events of an earlier move, read while the
// queue is checked, can still carry Wine's idea of the pointer back for a moment, and on a loaded machine
// that moment is long. False when the display never moves the pointer (bounded, so a display that cannot
// warp fails the caller's check instead of hanging).
inline bool MovePointerTo(POINT at)
{
    const ULONGLONG giveUp = GetTickCount64() + 10000;
    int steady = 0;
    while (steady < 2) {
        SetCursorPos(at.x, at.y);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // lets the display's pending events arrive
        POINT now{};
        GetCursorPos(&now);
        steady = (now.x == at.x && now.y == at.y) ? steady + 1 : 0;
        if (steady < 2 && GetTickCount64() > giveUp)
            return false;
    }
    return true;
}
