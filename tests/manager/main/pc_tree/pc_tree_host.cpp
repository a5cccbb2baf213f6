// A program with the PC folder tree on a window standing in for the main window, whose key is
// HKCU\software\KwepTest\PcTreeHost: it restores the tree from the registry as the manager does at start,
// writes what it shows, and closes, which saves the selected folder. The test plants and reads the value
// with Wine's reg tool around it.
//
// pc_tree_host.exe OUTPUT
// OUTPUT, UTF-8: "selected P" (the selected folder's file-system path; "<none>" when nothing is selected,
// "<namespace>" for a folder without one), "root 0|1" (the desktop item is the one selected),
// "expanded 0|1" (the desktop item is open), "children N" (the desktop's folders shown),
// "reported N" (the selection changes the parent was told of). Exit code 0 when the tree was built.
#include "manager/main/panes/pc_tree.h"

#include <objbase.h>

#include <cstdio>
#include <string>

namespace {

int& Reported()
{
    static int count = 0;
    return count;
}

LRESULT CALLBACK HostProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case CXM_GETROOTKEY:
        return reinterpret_cast<LRESULT>(HKEY_CURRENT_USER);
    case CXM_GETPERSISTKEYPATH: {
        auto* path = reinterpret_cast<CxKeyPath*>(wParam);
        if (path == nullptr)
            return 0;
        for (const wchar_t* part : {L"software", L"KwepTest", L"PcTreeHost"})
            if (FAILED(CxKeyPathAdd(*path, part)))
                return 0;
        return 1;
    }
    case WM_WATCH_PC_FOLDER:
        ++Reported();
        return 0;
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

std::string Utf8(const wchar_t* text)
{
    if (text == nullptr)
        return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes) - 1);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 3;
    WNDCLASSW wc{};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KwepPcTreeHost";
    RegisterClassW(&wc);
    HWND host = CreateWindowExW(0, wc.lpszClassName, L"KwepPcTreeHost", WS_OVERLAPPEDWINDOW, 0, 0, 300, 400, nullptr,
                                nullptr, wc.hInstance, nullptr);
    int code = 4;
    {
        CPCExplorer tree;
        if (host != nullptr &&
            tree.Create(host, RECT{0, 0, 280, 380}, IDC_PC_TREE,
                        WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS)) {
            tree.InitTree();
            HWND hWnd = tree.m_hWnd;
            const HTREEITEM root = tree.GetRootItem();
            const auto caret =
                reinterpret_cast<HTREEITEM>(SendMessageW(hWnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
            std::string selected = "<none>";
            if (caret != nullptr) {
                CxString path;
                selected = SUCCEEDED(tree.GetSelectedFolderPath(path, TRUE)) ? Utf8(path) : "<namespace>";
            }
            int children = 0;
            for (auto child = reinterpret_cast<HTREEITEM>(
                     SendMessageW(hWnd, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)));
                 child != nullptr; child = reinterpret_cast<HTREEITEM>(SendMessageW(
                                       hWnd, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child))))
                ++children;
            const bool expanded =
                root != nullptr && (SendMessageW(hWnd, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(root),
                                                 TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
            FILE* out = _wfopen(argv[1], L"wb");
            if (out != nullptr) {
                std::fprintf(out, "selected %s\nroot %d\nexpanded %d\nchildren %d\nreported %d\n", selected.c_str(),
                             caret != nullptr && caret == root ? 1 : 0, expanded ? 1 : 0, children, Reported());
                std::fclose(out);
                code = root != nullptr ? 0 : 5;
            }
        }
        // Closing the window saves the selected folder.
        if (host != nullptr)
            DestroyWindow(host);
    }
    CoUninitialize();
    return code;
}
