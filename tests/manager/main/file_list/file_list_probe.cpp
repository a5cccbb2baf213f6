// Reads a file list of another process through the list's own messages, as another program sees it:
// a cell's text (LVM_GETITEMTEXTW) and its label rectangle (LVM_GETSUBITEMRECT), with the item record,
// the text buffer and the rectangle placed in the list's process (Wine does not carry them across), and
// the place, visibility and position of the list's progress bar.
//
// file_list_probe.exe LIST ROW COLUMN BAR OUTPUT   (LIST: the list's handle in decimal; BAR: the bar's id)
// OUTPUT: "text [T]" (the cell's text between brackets, blanks kept, ASCII), "cell L T R B" and
// "bar L T R B" in screen coordinates, "visible 0|1", "pos N". Exit code 0 when every step could be taken.
#include "tests/support/remote_memory.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using test_support::ReadRemote;
using test_support::RemoteBlock;
using test_support::WriteRemote;

constexpr int kTextChars = 260;

std::string Rect(const RECT& r)
{
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 6)
        return 2;
    HWND list = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(argv[1], nullptr, 10)));
    const int row = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    const int column = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    const int barId = static_cast<int>(std::wcstol(argv[4], nullptr, 10));
    FILE* out = _wfopen(argv[5], L"w");
    if (out == nullptr)
        return 3;
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr) {
        std::fclose(out);
        return 4;
    }
    int code = 0;
    {
        // The item record and its text buffer in one block of the list's process.
        RemoteBlock block(process, sizeof(LVITEMW) + (kTextChars + 1) * sizeof(wchar_t) + sizeof(RECT));
        BYTE* remoteItem = block.Get();
        auto* remoteText = reinterpret_cast<wchar_t*>(remoteItem + sizeof(LVITEMW));
        BYTE* remoteRect = remoteItem + sizeof(LVITEMW) + (kTextChars + 1) * sizeof(wchar_t);
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = remoteText;
        item.cchTextMax = kTextChars;
        wchar_t text[kTextChars + 1] = {};
        const bool textRead =
            remoteItem != nullptr && WriteRemote(process, remoteItem, &item, sizeof(item)) &&
            WriteRemote(process, remoteText, text, sizeof(text)) &&
            SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remoteItem)) >= 0 &&
            ReadRemote(process, remoteText, text, sizeof(text));
        if (textRead) {
            text[kTextChars] = 0;
            std::string ascii;
            for (const wchar_t* c = text; *c != 0; ++c)
                ascii += (*c >= 0x20 && *c < 0x7F) ? static_cast<char>(*c) : '?';
            std::fprintf(out, "text [%s]\n", ascii.c_str());
        } else {
            code = 5;
        }
        RECT cell{};
        cell.top = column;
        cell.left = LVIR_LABEL;
        if (remoteRect != nullptr && WriteRemote(process, remoteRect, &cell, sizeof(cell)) &&
            SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remoteRect)) !=
                0 &&
            ReadRemote(process, remoteRect, &cell, sizeof(cell))) {
            MapWindowPoints(list, HWND_DESKTOP, reinterpret_cast<POINT*>(&cell), 2);
            std::fprintf(out, "cell %s\n", Rect(cell).c_str());
        } else {
            code = 6;
        }
    }
    HWND bar = GetDlgItem(list, barId);
    if (bar != nullptr) {
        RECT place{};
        GetWindowRect(bar, &place);
        std::fprintf(out, "bar %s\nvisible %d\npos %d\n", Rect(place).c_str(), IsWindowVisible(bar) ? 1 : 0,
                     static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)));
    } else {
        code = 7;
    }
    CloseHandle(process);
    std::fclose(out);
    return code;
}
