// Reads the children of one item of a tree view in another process, as another program sees the tree:
// the items through TVM_GETNEXTITEM, each one's text and child count through TVM_GETITEMW with the item
// record and its text buffer placed in the tree's process (Wine does not carry them across).
//
// pc_tree_probe.exe TREE ITEM OUTPUT   (TREE and ITEM: handles in decimal; ITEM 0: the caret item)
// OUTPUT, UTF-8: "item H" (the item read), then "child H N NAME" for each child in the tree's order (N: the
// child count the item shows). Exit code 0 when every step could be taken.
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

constexpr int kTextChars = 1024;

std::string Utf8(const wchar_t* text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes) - 1);
    return out;
}

HTREEITEM Next(HWND tree, HTREEITEM item, UINT relation)
{
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 2;
    HWND tree = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(argv[1], nullptr, 10)));
    auto item = reinterpret_cast<HTREEITEM>(static_cast<INT_PTR>(std::wcstoll(argv[2], nullptr, 10)));
    FILE* out = _wfopen(argv[3], L"wb");
    if (out == nullptr)
        return 3;
    if (item == nullptr)
        item = Next(tree, nullptr, TVGN_CARET);
    DWORD processId = 0;
    GetWindowThreadProcessId(tree, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr || item == nullptr) {
        std::fclose(out);
        return 4;
    }
    std::fprintf(out, "item %lld\n", static_cast<long long>(reinterpret_cast<INT_PTR>(item)));
    int code = 0;
    {
        // The item record and its text buffer in one block of the tree's process.
        RemoteBlock block(process, sizeof(TVITEMW) + (kTextChars + 1) * sizeof(wchar_t));
        BYTE* remoteItem = block.Get();
        auto* remoteText = reinterpret_cast<wchar_t*>(remoteItem + sizeof(TVITEMW));
        // The walk ends at the last child; the bound only guards against a tree that changes meanwhile.
        int walked = 0;
        for (HTREEITEM child = Next(tree, item, TVGN_CHILD); child != nullptr && code == 0 && walked < 100000;
             child = Next(tree, child, TVGN_NEXT), ++walked) {
            TVITEMW record{};
            record.mask = TVIF_TEXT | TVIF_CHILDREN | TVIF_HANDLE;
            record.hItem = child;
            record.pszText = remoteText;
            record.cchTextMax = kTextChars;
            wchar_t text[kTextChars + 1] = {};
            if (remoteItem == nullptr || !WriteRemote(process, remoteItem, &record, sizeof(record)) ||
                !WriteRemote(process, remoteText, text, sizeof(text)) ||
                SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remoteItem)) == 0 ||
                !ReadRemote(process, remoteItem, &record, sizeof(record)) ||
                !ReadRemote(process, remoteText, text, sizeof(text))) {
                code = 5;
                break;
            }
            text[kTextChars] = 0;
            std::fprintf(out, "child %lld %d %s\n", static_cast<long long>(reinterpret_cast<INT_PTR>(child)),
                         record.cChildren, Utf8(text).c_str());
        }
    }
    CloseHandle(process);
    std::fclose(out);
    return code;
}
