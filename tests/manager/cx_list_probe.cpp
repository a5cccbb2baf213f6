// A second program for the list tests. It reads a list view or tree view of another process through
// the controls' own messages (none of those it sends carries a pointer, so nothing needs marshalling),
// and finds a popup menu of another process by the system's menu class while the menu is up.
//
//   cx_list_probe list <window> <out>         count and selected rows
//   cx_list_probe tree <window> <out>         count of items
//   cx_list_probe menu <window> <pid> <out>   waits for a shown menu of the process, then writes its
//                                             place and the list's selected rows, and picks the item
//                                             whose mnemonic is 'o'
// <window> is the handle in decimal. Exit code 0 on success; the answers go to <out>, one per line.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

HWND ParseWindow(const wchar_t* text)
{
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::wcstoull(text, nullptr, 10)));
}

std::string SelectedRows(HWND list)
{
    std::string rows;
    const LRESULT count = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
    int at = -1;
    for (LRESULT n = 0; n < count; ++n) {
        at = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(at), MAKELPARAM(LVNI_SELECTED, 0)));
        if (at < 0)
            break;
        rows += " " + std::to_string(at);
    }
    return rows;
}

struct MenuSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindShownMenu(HWND hWnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<MenuSearch*>(lParam);
    wchar_t name[16] = {};
    if (GetClassNameW(hWnd, name, 16) == 0 || std::wcscmp(name, L"#32768") != 0 || !IsWindowVisible(hWnd))
        return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (pid != search->pid)
        return TRUE;
    search->found = hWnd;
    return FALSE;
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 4)
        return 3;
    const std::wstring mode = argv[1];
    HWND window = ParseWindow(argv[2]);
    const wchar_t* outPath = argv[argc - 1];
    std::string out;
    int code = 0;
    if (!IsWindow(window)) {
        out = "window none\n";
        code = 2;
    } else if (mode == L"list") {
        out = "count " + std::to_string(SendMessageW(window, LVM_GETITEMCOUNT, 0, 0)) + "\nselected" +
              SelectedRows(window) + "\n";
    } else if (mode == L"tree") {
        out = "count " + std::to_string(SendMessageW(window, TVM_GETCOUNT, 0, 0)) + "\n";
    } else if (mode == L"menu" && argc == 5) {
        MenuSearch search{static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)), nullptr};
        // Polled with a bound: the menu comes up when the other process has handled the click.
        const ULONGLONG giveUp = GetTickCount64() + 60000;
        while (search.found == nullptr && GetTickCount64() < giveUp) {
            EnumWindows(&FindShownMenu, reinterpret_cast<LPARAM>(&search));
            if (search.found == nullptr)
                Sleep(20);
        }
        if (search.found == nullptr) {
            out = "menu none\n";
            code = 2;
        } else {
            RECT place{};
            GetWindowRect(search.found, &place);
            out = "menu " + std::to_string(place.left) + " " + std::to_string(place.top) + "\nselected" +
                  SelectedRows(window) + "\n";
            PostMessageW(search.found, WM_CHAR, 'o', 0);
        }
    } else {
        return 3;
    }
    FILE* file = _wfopen(outPath, L"wb");
    if (file == nullptr)
        return 4;
    std::fwrite(out.data(), 1, out.size(), file);
    std::fclose(file);
    return code;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return 3;
    const int code = Run(argc, argv);
    LocalFree(argv);
    return code;
}
