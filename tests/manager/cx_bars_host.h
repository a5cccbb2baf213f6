// The window the bar tests put their controls on: it names the controls' skin sections and its skin
// file, hands out its font, records the notifications it gets and, like the main window when the seek
// bar is let go and nothing plays, can set a track bar back to 0 on NM_RELEASEDCAPTURE. Also the waits
// and the captures of the X display the tests share.
#pragma once

#include "manager/framework/images/cx_image_list.h"
#include "manager/framework/images/cx_image_load.h"
#include "manager/framework/windows/cx_messages.h"
#include "manager/framework/windows/cx_string.h"
#include "tests/manager/cx_test_pixels.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace cx_bars_test {

struct Host {
    std::wstring skinFile;
    std::map<int, const wchar_t*> sections;
    HFONT font = nullptr;
    // NM_RELEASEDCAPTURE from a track bar: the position the bar read then, and whether to set it to 0.
    std::vector<LRESULT> releasedAt;
    bool resetOnRelease = false;
    COLORREF colour = RGB(0, 160, 0);
    HWND hWnd = nullptr;
};

inline Host*& CurrentHost()
{
    static Host* host = nullptr;
    return host;
}

inline LRESULT CALLBACK HostProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Host* host = CurrentHost();
    if (host == nullptr)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    switch (message) {
    case CXM_GETSKINSECTION: {
        auto found = host->sections.find(static_cast<int>(wParam) - 2);
        if (found != host->sections.end() && lParam != 0)
            *reinterpret_cast<const wchar_t**>(lParam) = found->second;
        return 1;
    }
    case CXM_GETSKINFILE:
        if (host->skinFile.empty())
            return 0;
        return SUCCEEDED(CxStrDup(reinterpret_cast<wchar_t**>(wParam), host->skinFile.c_str())) ? 1 : 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(host->font);
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header != nullptr && header->code == static_cast<UINT>(NM_RELEASEDCAPTURE)) {
            host->releasedAt.push_back(SendMessageW(header->hwndFrom, TBM_GETPOS, 0, 0));
            if (host->resetOnRelease)
                SendMessageW(header->hwndFrom, TBM_SETPOS, TRUE, 0);
        }
        return 0;
    }
    case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(hWnd, &client);
        HBRUSH brush = CreateSolidBrush(host->colour);
        FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
        DeleteObject(brush);
        return TRUE;
    }
    case CXM_SETTEXT:
        CxFree(reinterpret_cast<void*>(wParam));
        return 1;
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

// A plain popup in the host's colour (so that a capture of it starts at its client area), shown at x, y.
inline HWND CreateHostWindow(Host& host, const wchar_t* title, int x, int y, int width, int height)
{
    static const wchar_t* cls =
        RegisterTestWindowClass(L"KwepBarsHost", HostProc, nullptr, LoadCursorW(nullptr, IDC_ARROW));
    CurrentHost() = &host;
    host.hWnd = CreateWindowExW(0, cls, title, WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, x, y, width, height, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    return host.hWnd;
}

inline void DestroyHostWindow(Host& host)
{
    if (host.hWnd != nullptr)
        DestroyWindow(host.hWnd);
    host.hWnd = nullptr;
    CurrentHost() = nullptr;
}

inline void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Dispatches messages until the condition holds; false when it still does not after a generous bound
// (the condition is an event the test caused, never a time).
inline bool PumpUntil(const std::function<bool()>& condition)
{
    const ULONGLONG giveUp = GetTickCount64() + 20000;
    while (!condition()) {
        if (GetTickCount64() > giveUp)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        Pump();
    }
    return true;
}

// Everything drawn, and the drawing handed to the display.
inline void Settle(HWND hWnd)
{
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
    Pump();
    SendMessageW(hWnd, WM_NULL, 0, 0);
}

// The image of a state as the built-in skin's resource holds it.
inline cx_test::Pixels BuiltInImage(HWND window, UINT id)
{
    HBITMAP bitmap = nullptr;
    EXPECT_EQ(CxLoadSkinImage(CX_IMAGE_RESOURCE, nullptr, id, L"IMG", window, nullptr, &bitmap), S_OK) << id;
    cx_test::Pixels pixels = cx_test::ReadBitmap(bitmap);
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    return pixels;
}

// The pixels of an image list's entry (empty when it has none).
inline cx_test::Pixels ListImage(const CxSkinImageList& list, int index)
{
    HBITMAP bitmap = nullptr;
    if (FAILED(list.GetImage(index, &bitmap, TRUE)))
        return cx_test::Pixels();
    return cx_test::ReadBitmap(bitmap);
}

// A press or release of the left button, as the user makes it.
inline void LeftButton(bool down)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &input, sizeof(input));
}

// A move of the mouse to a point of the screen, as the user makes it.
inline void MouseTo(POINT at)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(at.x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
    input.mi.dy = MulDiv(at.y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof(input));
}

// Where a control's client area lies in its top-level window: x, y, width, height.
inline std::vector<int> ClientPlace(HWND control)
{
    RECT client{};
    GetClientRect(control, &client);
    POINT origin{0, 0};
    MapWindowPoints(control, GetAncestor(control, GA_ROOT), &origin, 1);
    return {origin.x, origin.y, client.right, client.bottom};
}

// Dumps the top-level window of that title from the X display into artefacts/<name>.xwd (and .png),
// and measures it with bars_capture.py in the mode, with the arguments after the file names. The lines
// printed, as {first word, numbers}; empty (and a failure) when the capture or the script failed.
inline std::multimap<std::string, std::vector<int>> CaptureAndMeasure(const std::string& name, const std::string& title,
                                                                      const std::string& mode,
                                                                      const std::vector<std::string>& arguments)
{
    using test_support::ShellQuote;
    std::multimap<std::string, std::vector<int>> measured;
    const std::filesystem::path folder = cx_test::ArtefactFolder();
    const std::string xwd = test_support::UnixPath(folder / (name + ".xwd"));
    const std::string png = test_support::UnixPath(folder / (name + ".png"));
    std::string script = "id=$(xdotool search --onlyvisible --name " + ShellQuote("^" + title + "$") +
                         " | head -n1) && test -n \"$id\" && xwd -silent -id \"$id\" -out " + ShellQuote(xwd) +
                         " && /usr/bin/python3 " + ShellQuote(KWEP_BARS_CAPTURE_SCRIPT) + " " + mode + " " +
                         ShellQuote(xwd) + " " + ShellQuote(png);
    for (const std::string& argument : arguments)
        script += " " + ShellQuote(argument);
    const test_support::ShellResult r = test_support::RunShell(script);
    if (!r.finished || r.exitCode != 0) {
        ADD_FAILURE() << "capture of " << name << " failed: " << r.err;
        return measured;
    }
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        std::vector<int> numbers;
        int n = 0;
        while (words >> n)
            numbers.push_back(n);
        if (!key.empty())
            measured.emplace(key, numbers);
    }
    return measured;
}

}  // namespace cx_bars_test
