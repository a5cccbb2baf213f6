// The program entry of a program built on this layer: WinMain hands over to AfxWinMain.
#include "platform/afx/afx_app.h"

namespace {

// The command line after the program name, as WinMain's lpCmdLine has it.
LPWSTR CommandLineTail()
{
    LPWSTR p = GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p != 0 && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p != 0 && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR, int nCmdShow)
{
    return AfxWinMain(hInstance, hPrevInstance, CommandLineTail(), nCmdShow);
}
