// The window classes of the manager's test programs.
#pragma once

#include <windows.h>

// Registers a window class of this program and answers its name (registering a name twice leaves the
// first class): no background brush or cursor unless given.
inline const wchar_t* RegisterTestWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background = nullptr,
                                              HCURSOR cursor = nullptr)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = cursor;
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    RegisterClassW(&wc);
    return name;
}
