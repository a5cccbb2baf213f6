// Reads an extended combo box of another process through the control's own messages and writes what
// it found to a file: CB_GETCOUNT, then CBEM_GETITEMW for each item with the item record and its text
// buffer placed in the combo's process (Wine does not carry these across processes), and the text the
// item data points to.
//
// combo_reader.exe WINDOW OUTPUT   (WINDOW: the combo's handle in decimal)
// OUTPUT: "count N", then per item "item I ok OK image M selected S data D text T mask K" (D 1 when the
// item has data; T and K as the control and the data hold them, ASCII, "-" for none). Exit code 0 when
// every step could be taken.
#include "tests/support/remote_memory.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using test_support::RemoteBlock;

constexpr int kTextChars = 260;

std::string Ascii(const wchar_t* text)
{
    std::string out;
    for (; *text != 0; ++text)
        out += (*text >= 0x21 && *text < 0x7F) ? static_cast<char>(*text) : '?';
    return out.empty() ? "-" : out;
}

// The text at a remote address, read in pieces up to its terminator (at most kTextChars characters).
std::string RemoteText(HANDLE process, const wchar_t* address)
{
    if (address == nullptr)
        return "-";
    wchar_t text[kTextChars + 1] = {};
    for (int i = 0; i < kTextChars; ++i) {
        SIZE_T read = 0;
        if (!ReadProcessMemory(process, address + i, &text[i], sizeof(wchar_t), &read) || read != sizeof(wchar_t))
            return "<unreadable>";
        if (text[i] == 0)
            break;
    }
    return Ascii(text);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    HWND combo = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(argv[1], nullptr, 10)));
    FILE* out = _wfopen(argv[2], L"w");
    if (out == nullptr)
        return 3;
    DWORD processId = 0;
    GetWindowThreadProcessId(combo, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr) {
        std::fclose(out);
        return 4;
    }
    int status = 0;
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    std::fprintf(out, "count %d\n", static_cast<int>(count));
    {
        RemoteBlock block(process, sizeof(COMBOBOXEXITEMW) + kTextChars * sizeof(wchar_t));
        if (block.Get() == nullptr)
            status = 5;
        auto* remoteText = reinterpret_cast<wchar_t*>(block.Get() + sizeof(COMBOBOXEXITEMW));
        for (LRESULT i = 0; status == 0 && i < count; ++i) {
            COMBOBOXEXITEMW item{};
            item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
            item.iItem = static_cast<INT_PTR>(i);
            item.pszText = remoteText;
            item.cchTextMax = kTextChars;
            const wchar_t empty = 0;
            SIZE_T moved = 0;
            if (!WriteProcessMemory(process, block.Get(), &item, sizeof(item), &moved) ||
                !WriteProcessMemory(process, remoteText, &empty, sizeof(empty), &moved)) {
                status = 6;
                break;
            }
            const LRESULT ok = SendMessageW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(block.Get()));
            COMBOBOXEXITEMW back{};
            if (!ReadProcessMemory(process, block.Get(), &back, sizeof(back), &moved) || moved != sizeof(back)) {
                status = 7;
                break;
            }
            std::fprintf(out, "item %d ok %d image %d selected %d data %d text %s mask %s\n", static_cast<int>(i),
                         ok != 0 ? 1 : 0, back.iImage, back.iSelectedImage, back.lParam != 0 ? 1 : 0,
                         RemoteText(process, remoteText).c_str(),
                         RemoteText(process, reinterpret_cast<const wchar_t*>(back.lParam)).c_str());
        }
    }
    CloseHandle(process);
    std::fclose(out);
    return status;
}
