// The PC folder tree with real windows and Wine's shell: a host window stands in for the main window (it
// names the tree's skin section, hands out the built-in skin, forwards custom drawing and records the
// folders the tree reports). The folders are made by the Linux shell (make_tree_fixture.sh) and checked
// with tools that share no code with the tree: `find -L` for the folders a level must show, `winepath -w`
// for the paths reported, a second program reading the tree's items from outside, Wine's `reg` for the
// value a separate program (pc_tree_host) leaves behind, and the X display's own pixels.
#include "manager/framework/skin/cx_skin_file.h"
#include "manager/main/panes/pane_images.h"
#include "manager/main/panes/pc_tree.h"
#include "tests/manager/registry_tool.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/message_pump.h"
#include "tests/support/host_process.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::PumpUntil;
void Pump()
{
    test_support::PumpMessages();
}

using test_support::ShellQuote;
using test_support::TempFolder;

const wchar_t kTestKey[] = L"software\\KwepTest\\PcTreeTest";
const wchar_t kHostKey[] = L"software\\KwepTest\\PcTreeHost";
const char kHostKeyTool[] = "HKCU\\software\\KwepTest\\PcTreeHost";

std::string Narrow(const std::wstring& text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes) - 1);
    return out;
}

std::wstring Widen(const std::string& text)
{
    const int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (chars <= 1)
        return {};
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), chars);
    out.resize(static_cast<size_t>(chars) - 1);
    return out;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return Lower(a) == Lower(b);
}

// ---- The shell, asked directly ----

// The parsing name of a special folder.
std::wstring SpecialParsingName(int csidl)
{
    IShellFolder* desktop = nullptr;
    LPITEMIDLIST id = nullptr;
    std::wstring name;
    if (SUCCEEDED(SHGetDesktopFolder(&desktop)) && SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, &id))) {
        STRRET ret{};
        wchar_t text[1024] = {};
        if (SUCCEEDED(desktop->GetDisplayNameOf(id, SHGDN_FORPARSING, &ret)) &&
            SUCCEEDED(StrRetToBufW(&ret, id, text, 1024)))
            name = text;
    }
    CoTaskMemFree(id);
    if (desktop != nullptr)
        desktop->Release();
    return name;
}

// The levels of a drive path below "My Computer": the drive's root, then one per folder.
std::vector<std::wstring> PathLevels(const std::wstring& path)
{
    std::vector<std::wstring> levels;
    if (path.size() < 3)
        return levels;
    std::wstring running = path.substr(0, 3);
    levels.push_back(running);
    std::wstringstream rest(path.substr(3));
    std::wstring part;
    while (std::getline(rest, part, L'\\')) {
        if (part.empty())
            continue;
        if (running.back() != L'\\')
            running += L'\\';
        running += part;
        levels.push_back(running);
    }
    return levels;
}

// A drive path as the tree writes it: "My Computer" and the drive whole, each folder as what follows
// the level above.
std::wstring PersistedPath(const std::wstring& path)
{
    const std::vector<std::wstring> levels = PathLevels(path);
    std::wstring text = SpecialParsingName(CSIDL_DRIVES) + L"\n";
    for (size_t i = 0; i < levels.size(); ++i) {
        text += L"|";
        text += i == 0 ? levels[i] + L"\n" : levels[i].substr(levels[i - 1].size());
    }
    return text;
}

// The same path with every level's whole name.
std::wstring WholeNamesPath(const std::wstring& path)
{
    std::wstring text = SpecialParsingName(CSIDL_DRIVES) + L"\n";
    for (const std::wstring& level : PathLevels(path))
        text += L"|" + level + L"\n";
    return text;
}

// ---- The stand-in for the main window ----

struct Watched {
    HTREEITEM item;
    bool hasPath;
    std::wstring path;
};

struct Host {
    HWND hWnd = nullptr;
    std::vector<Watched> watched;
};

Host*& CurrentHost()
{
    static Host* host = nullptr;
    return host;
}

constexpr COLORREF kFace = RGB(236, 240, 245);

LRESULT CALLBACK HostProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Host* host = CurrentHost();
    if (host == nullptr)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    switch (message) {
    case CXM_GETSKINSECTION:
        if (lParam != 0)
            *reinterpret_cast<const wchar_t**>(lParam) = wParam == IDC_PC_TREE + 2 ? L"pc.tree" : nullptr;
        return 1;
    case CXM_GETSKINFILE:
        return SUCCEEDED(CxStrDup(reinterpret_cast<wchar_t**>(wParam), CX_BUILTIN_SKIN_SPEC)) ? 1 : 0;
    case CXM_GETROOTKEY:
        return reinterpret_cast<LRESULT>(HKEY_CURRENT_USER);
    case CXM_GETPERSISTKEYPATH: {
        auto* path = reinterpret_cast<CxKeyPath*>(wParam);
        if (path == nullptr)
            return 0;
        for (const wchar_t* part : {L"software", L"KwepTest", L"PcTreeTest"})
            CxKeyPathAdd(*path, part);
        return 1;
    }
    case WM_WATCH_PC_FOLDER: {
        const auto* path = reinterpret_cast<const wchar_t*>(lParam);
        host->watched.push_back(Watched{reinterpret_cast<HTREEITEM>(wParam), path != nullptr, path ? path : L""});
        return 0;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        // As the main window does: the tree draws its own items.
        if (header != nullptr && header->code == static_cast<UINT>(NM_CUSTOMDRAW))
            return SendMessageW(header->hwndFrom, CXM_CUSTOMDRAW, static_cast<WPARAM>(lParam), 0);
        return 0;
    }
    case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(hWnd, &client);
        HBRUSH brush = CreateSolidBrush(kFace);
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

// The tree on its host, built as the main window builds it (InitTree restores from a key emptied first).
class TreePane {
public:
    explicit TreePane(const wchar_t* title = L"KwepPcTree")
    {
        m_com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        registry_tool::DeleteTree(HKEY_CURRENT_USER, kTestKey);
        static const wchar_t* cls =
            RegisterTestWindowClass(L"KwepPcTreeTestHost", HostProc, nullptr, LoadCursorW(nullptr, IDC_ARROW));
        CurrentHost() = &host;
        host.hWnd = CreateWindowExW(0, cls, title, WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 380, 520, nullptr,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
        tree = std::make_unique<CPCExplorer>();
        tree->SetPaneImages(&images);
        tree->Create(host.hWnd, RECT{10, 10, 370, 510}, IDC_PC_TREE,
                     WS_CHILD | WS_VISIBLE | WS_BORDER | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS);
        tree->InitTree();
    }
    ~TreePane()
    {
        tree.reset();
        if (host.hWnd != nullptr)
            DestroyWindow(host.hWnd);
        CurrentHost() = nullptr;
        if (m_com)
            CoUninitialize();
    }
    TreePane(const TreePane&) = delete;
    TreePane& operator=(const TreePane&) = delete;

    HWND Tree() const { return tree->m_hWnd; }
    HTREEITEM Next(HTREEITEM item, UINT relation) const
    {
        return reinterpret_cast<HTREEITEM>(
            SendMessageW(Tree(), TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    }
    HTREEITEM Caret() const { return Next(nullptr, TVGN_CARET); }
    std::wstring Text(HTREEITEM item) const
    {
        wchar_t text[1024] = {};
        TVITEMW data{};
        data.mask = TVIF_TEXT | TVIF_HANDLE;
        data.hItem = item;
        data.pszText = text;
        data.cchTextMax = 1024;
        SendMessageW(Tree(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
        return text;
    }
    int ChildCount(HTREEITEM item) const
    {
        TVITEMW data{};
        data.mask = TVIF_CHILDREN | TVIF_HANDLE;
        data.hItem = item;
        SendMessageW(Tree(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
        return data.cChildren;
    }
    bool Expanded(HTREEITEM item) const
    {
        return (SendMessageW(Tree(), TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED) &
                TVIS_EXPANDED) != 0;
    }
    std::vector<HTREEITEM> Children(HTREEITEM item) const
    {
        std::vector<HTREEITEM> children;
        for (HTREEITEM child = Next(item, TVGN_CHILD); child != nullptr; child = Next(child, TVGN_NEXT))
            children.push_back(child);
        return children;
    }
    // The file-system path of the selected folder, or "<none>" / "<namespace>".
    std::wstring SelectedPath() const
    {
        if (Caret() == nullptr)
            return L"<none>";
        CxString path;
        return SUCCEEDED(tree->GetSelectedFolderPath(path, TRUE)) ? std::wstring(path) : L"<namespace>";
    }
    void Select(const std::wstring& persisted)
    {
        SendMessageW(Tree(), CXM_SELECTTREEPATH, reinterpret_cast<WPARAM>(persisted.c_str()), 0);
    }

    Host host;
    CPaneImages images;
    std::unique_ptr<CPCExplorer> tree;

private:
    bool m_com = false;
};

// The fixture folders in a fresh temporary folder: the Windows path of their root and its Unix path.
struct Fixture {
    TempFolder folder;
    std::wstring root;
    std::string unixRoot;
    bool made = false;

    Fixture()
    {
        const std::filesystem::path tree = folder.File("tree");
        unixRoot = folder.UnixFile("tree");
        const test_support::ShellResult r =
            test_support::RunShell("/bin/sh " + ShellQuote(KWEP_PC_TREE_FIXTURE_SCRIPT) + " " + ShellQuote(unixRoot));
        made = r.finished && r.exitCode == 0;
        EXPECT_TRUE(made) << r.err;
        wchar_t full[2048] = {};
        const DWORD n = GetLongPathNameW(tree.wstring().c_str(), full, 2048);
        root = n > 0 && n < 2048 ? std::wstring(full) : tree.wstring();
    }
    std::wstring Path(const std::wstring& below) const { return root + L"\\" + below; }
};

// `find -L DIR -mindepth 1 -maxdepth 1 -type d`: the folders a level must show, by name, sorted.
std::vector<std::string> FoldersByFind(const std::string& unixDir)
{
    const test_support::ShellResult r =
        test_support::RunShell("find -L " + ShellQuote(unixDir) +
                               " -mindepth 1 -maxdepth 1 -type d -printf '%f\\n' 2>/dev/null | LC_ALL=C sort");
    std::vector<std::string> names;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty())
            names.push_back(line);
    return names;
}

// `winepath -w` of each Unix path, in order.
std::vector<std::wstring> WinePaths(const std::vector<std::string>& unixPaths)
{
    std::string script = "WINEDEBUG=-all /usr/lib/wine/wine64 winepath.exe -w";
    for (const std::string& p : unixPaths)
        script += " " + ShellQuote(p);
    const test_support::ShellResult r = test_support::RunShell(script);
    std::vector<std::wstring> paths;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        if (!line.empty())
            paths.push_back(Widen(line));
    }
    return paths;
}

// The children of an item as a second program reads them: {name, child count} in the tree's order.
struct ProbedChild {
    std::string name;
    int children;
};

std::vector<ProbedChild> ProbeChildren(HWND tree, HTREEITEM item, const TempFolder& folder, DWORD* code)
{
    std::vector<ProbedChild> children;
    *code = STILL_ACTIVE;
    const std::filesystem::path out = folder.File("probe.txt");
    std::filesystem::remove(out);
    test_support::HostProcess probe(test_support::BuildTreeProgram(KWEP_PC_TREE_PROBE),
                                    std::to_wstring(reinterpret_cast<UINT_PTR>(tree)) + L" " +
                                        std::to_wstring(reinterpret_cast<UINT_PTR>(item)) + L" \"" + out.wstring() +
                                        L"\"");
    if (!probe.Started())
        return children;
    // The probe's messages are answered while this thread waits.
    if (!PumpUntil([&] { return WaitForSingleObject(probe.Handle(), 0) == WAIT_OBJECT_0; }))
        return children;
    GetExitCodeProcess(probe.Handle(), code);
    std::ifstream in(out, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("child ", 0) != 0)
            continue;
        std::istringstream words(line.substr(6));
        long long handle = 0;
        ProbedChild child{};
        words >> handle >> child.children;
        words.get();
        std::getline(words, child.name);
        children.push_back(child);
    }
    return children;
}

std::vector<std::string> Names(const std::vector<ProbedChild>& children)
{
    std::vector<std::string> names;
    for (const ProbedChild& c : children)
        names.push_back(c.name);
    return names;
}

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

// The names of a folder's children in the shell's own order (CompareIDs over the names' id lists).
std::vector<std::string> ShellOrder(const std::wstring& folderPath, const std::vector<std::string>& names)
{
    std::vector<std::string> order;
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop)))
        return order;
    LPITEMIDLIST folderId = nullptr;
    IShellFolder* folder = nullptr;
    std::wstring parse = folderPath;
    if (SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, parse.data(), nullptr, &folderId, nullptr)) &&
        SUCCEEDED(desktop->BindToObject(folderId, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder)))) {
        std::vector<std::pair<LPITEMIDLIST, std::string>> ids;
        for (const std::string& name : names) {
            std::wstring wide = Widen(name);
            LPITEMIDLIST id = nullptr;
            if (SUCCEEDED(folder->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &id, nullptr)))
                ids.emplace_back(id, name);
        }
        std::stable_sort(ids.begin(), ids.end(), [&](const auto& a, const auto& b) {
            const HRESULT hr = folder->CompareIDs(0, a.first, b.first);
            return SUCCEEDED(hr) && static_cast<short>(HRESULT_CODE(hr)) < 0;
        });
        for (auto& [id, name] : ids) {
            order.push_back(name);
            CoTaskMemFree(id);
        }
        folder->Release();
    }
    CoTaskMemFree(folderId);
    desktop->Release();
    return order;
}

// ---- Display names in every form the shell may give them ----

// Records the blocks freed through the task allocator while it is registered, and the blocks allocated
// meanwhile that are still there.
class FreeSpy : public IMallocSpy {
public:
    std::set<void*> freed;
    std::set<void*> live;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IMallocSpy) {
            *out = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override { return request; }
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override
    {
        if (actual != nullptr)
            live.insert(actual);
        return actual;
    }
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override
    {
        freed.insert(request);
        live.erase(request);
        return request;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) override
    {
        live.erase(request);
        *newRequest = request;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override
    {
        if (actual != nullptr)
            live.insert(actual);
        return actual;
    }
    void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

// One spy for the process: a spy still holding blocks when it is revoked stays registered until they go,
// so it must outlive the test that registered it.
FreeSpy& TheSpy()
{
    static FreeSpy spy;
    spy.freed.clear();
    spy.live.clear();
    return spy;
}

// A folder whose only answer is a display name in the form it is given.
class NameFolder : public IShellFolder {
public:
    STRRET answer{};
    HRESULT result = S_OK;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IShellFolder) {
            *out = static_cast<IShellFolder*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND, LPBC, LPOLESTR, ULONG*, LPITEMIDLIST*, ULONG*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnumObjects(HWND, SHCONTF, IEnumIDList**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(LPCITEMIDLIST, LPBC, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToStorage(LPCITEMIDLIST, LPBC, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM, LPCITEMIDLIST, LPCITEMIDLIST) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT, LPCITEMIDLIST*, SFGAOF*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND, UINT, LPCITEMIDLIST*, REFIID, UINT*, void**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayNameOf(LPCITEMIDLIST, SHGDNF, STRRET* name) override
    {
        *name = answer;
        return result;
    }
    HRESULT STDMETHODCALLTYPE SetNameOf(HWND, LPCITEMIDLIST, LPCOLESTR, SHGDNF, LPITEMIDLIST*) override
    {
        return E_NOTIMPL;
    }
};

TEST(PcTree, DisplayNamesInEveryFormAndTheShellsTextsFreed)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    CPCExplorer tree;
    NameFolder folder;
    // An id list of one item whose bytes after its size hold "inside" (for a name given by offset) and,
    // for the over-long offsets, an item that ends before the text would.
    BYTE list[64] = {};
    const char inside[] = "inside";
    list[0] = static_cast<BYTE>(2 + 4 + sizeof(inside));
    std::memcpy(list + 6, inside, sizeof(inside));
    const auto* id = reinterpret_cast<LPCITEMIDLIST>(list);

    enum Kind { kWide, kOffset, kAnsi, kOther, kShellFails };
    struct Case {
        const char* name;
        Kind kind;
        const wchar_t* wide;  // the wide text, or the ANSI one widened
        UINT offset;
        HRESULT result;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"wide", kWide, L"Folder name", 0, S_OK, L"Folder name"},
        {"wide and empty", kWide, L"", 0, E_FAIL, L""},
        {"wide, longer than any path", kWide, nullptr, 0, S_OK, nullptr},
        {"ANSI in the list", kOffset, nullptr, 6, S_OK, L"inside"},
        {"ANSI offset past the item", kOffset, nullptr, 40, E_FAIL, L""},
        {"ANSI offset on the item's size", kOffset, nullptr, 0, E_FAIL, L""},
        {"ANSI in place", kAnsi, L"ansi name", 0, S_OK, L"ansi name"},
        {"ANSI in place, empty", kAnsi, L"", 0, E_FAIL, L""},
        {"a form not known", kOther, nullptr, 0, E_UNEXPECTED, L""},
        {"the shell fails", kShellFails, nullptr, 0, E_FAIL, L""},
    };
    const std::wstring longName(5000, L'n');
    FreeSpy& spy = TheSpy();
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.result = c.kind == kShellFails ? E_FAIL : S_OK;
        folder.answer = STRRET{};
        const std::wstring given = c.wide != nullptr ? c.wide : longName;
        wchar_t* handed = nullptr;
        switch (c.kind) {
        case kWide:
            handed = static_cast<wchar_t*>(CoTaskMemAlloc((given.size() + 1) * sizeof(wchar_t)));
            ASSERT_NE(handed, nullptr);
            std::copy(given.c_str(), given.c_str() + given.size() + 1, handed);
            folder.answer.uType = STRRET_WSTR;
            folder.answer.pOleStr = handed;
            break;
        case kOffset:
            folder.answer.uType = STRRET_OFFSET;
            folder.answer.uOffset = c.offset;
            break;
        case kAnsi:
            folder.answer.uType = STRRET_CSTR;
            for (size_t i = 0; i < given.size(); ++i)
                folder.answer.cStr[i] = static_cast<char>(given[i]);
            break;
        case kOther:
            folder.answer.uType = 7;
            break;
        case kShellFails:
            break;
        }
        CxString out;
        EXPECT_EQ(tree.GetDisplayName(&folder, id, &out, SHGDN_NORMAL), c.result);
        const std::wstring expected = c.text != nullptr ? c.text : longName;
        EXPECT_EQ(std::wstring(out.IsEmpty() ? L"" : static_cast<const wchar_t*>(out)), expected);
        if (handed != nullptr) {
            EXPECT_EQ(spy.freed.count(handed), 1u) << "the shell's text was not freed";
        }
    }
    EXPECT_EQ(tree.GetDisplayName(&folder, id, nullptr, SHGDN_NORMAL), E_INVALIDARG);
    EXPECT_EQ(CoRevokeMallocSpy(), S_OK);
    CoUninitialize();
}

// ---- The persisted text, level by level ----

std::vector<std::wstring> ReadLevels(const wchar_t* text)
{
    std::vector<std::wstring> levels;
    std::wstring name;
    for (const wchar_t* at = text != nullptr && *text != 0 ? text : nullptr; at != nullptr;) {
        at = CPCExplorer::NextPersistLevel(at, name);
        levels.push_back(name);
    }
    return levels;
}

TEST(PcTree, PersistedLevelsJoinAndReadBack)
{
    const std::wstring deep(3000, L'd');
    struct Case {
        const char* name;
        std::vector<std::wstring> levels;
        std::wstring text;
    };
    const Case cases[] = {
        {"drive folders",
         {L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", L"C:\\", L"C:\\users", L"C:\\users\\me"},
         L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\n|C:\\\n|users|\\me"},
        // The level above occurs inside this one but does not begin it: written whole, never cut there.
        {"a name inside, not at the start", {L"ab", L"X:\\ab\\c"}, L"ab\n|X:\\ab\\c\n"},
        {"unrelated levels", {L"C:\\one", L"D:\\two"}, L"C:\\one\n|D:\\two\n"},
        {"one level", {L"C:\\"}, L"C:\\\n"},
        {"levels longer than any fixed buffer",
         {L"C:\\", L"C:\\" + deep, L"C:\\" + deep + L"\\" + deep},
         L"C:\\\n|" + deep + L"|\\" + deep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<CxString> names(c.levels.size());
        for (size_t i = 0; i < c.levels.size(); ++i)
            ASSERT_EQ(names[i].Assign(c.levels[i].c_str()), S_OK);
        CxString text;
        ASSERT_EQ(CPCExplorer::JoinPersistLevels(names.data(), static_cast<int>(names.size()), text), S_OK);
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(text)), c.text);
        EXPECT_EQ(ReadLevels(text), c.levels);
    }
    // Texts that were never written by the tree: separators alone, continuations without a whole name,
    // what follows a line feed.
    struct Read {
        const wchar_t* text;
        std::vector<std::wstring> levels;
    };
    const Read reads[] = {
        {L"", {}},
        {L"|||", {L"", L"", L"", L""}},
        {L"a|b|c", {L"a", L"ab", L"abc"}},
        {L"a\nignored|b", {L"a", L"ab"}},
        {L"a|\n|b", {L"a", L"", L"b"}},
    };
    for (const Read& r : reads)
        EXPECT_EQ(ReadLevels(r.text), r.levels) << Narrow(r.text);
    CxString empty;
    EXPECT_EQ(CPCExplorer::JoinPersistLevels(nullptr, 0, empty), S_OK);
    EXPECT_TRUE(empty.IsEmpty());
}

// ---- Over the fixture folders ----

TEST(PcTree, FixtureFoldersAsFindAndWinepathSeeThem)
{
    Fixture fixture;
    ASSERT_TRUE(fixture.made);
    // The fixture holds what it should: hidden folders (by attribute and by a dot), a link to a folder.
    for (const wchar_t* hidden : {L"Hidden Folder", L".dotted"}) {
        const DWORD attributes = GetFileAttributesW(fixture.Path(hidden).c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << Narrow(hidden);
        EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << Narrow(hidden);
    }
    const std::vector<std::string> found = FoldersByFind(fixture.unixRoot);
    ASSERT_GE(found.size(), 9u);
    ASSERT_NE(std::find(found.begin(), found.end(), "Zulu link"), found.end());

    TreePane pane;
    pane.Select(PersistedPath(fixture.root));
    const HTREEITEM dir = pane.Caret();
    ASSERT_NE(dir, nullptr);
    EXPECT_TRUE(SameName(pane.SelectedPath(), fixture.root)) << Narrow(pane.SelectedPath());
    EXPECT_TRUE(pane.Expanded(dir));
    ASSERT_FALSE(pane.host.watched.empty());
    EXPECT_EQ(pane.host.watched.back().item, dir);
    EXPECT_TRUE(SameName(pane.host.watched.back().path, fixture.root));
    // What the tree writes for the folder: each level after the drive as what follows the one above.
    CxString persisted;
    ASSERT_EQ(pane.tree->GetPersistPath(persisted), S_OK);
    EXPECT_TRUE(SameName(std::wstring(persisted), PersistedPath(fixture.root))) << Narrow(std::wstring(persisted));

    // The folders shown, read by another program: those find sees (hidden ones, the loop), files never,
    // in the shell's order, each with an expander until it is opened.
    DWORD code = 0;
    std::vector<ProbedChild> shown = ProbeChildren(pane.Tree(), dir, fixture.folder, &code);
    ASSERT_EQ(code, 0u);
    EXPECT_EQ(Sorted(Names(shown)), found);
    EXPECT_EQ(Names(shown), ShellOrder(fixture.root, found));
    for (const ProbedChild& c : shown)
        EXPECT_EQ(c.children, 1) << c.name;

    // The path each folder reports when selected is winepath's for its Unix folder.
    std::vector<std::string> unixPaths;
    for (const ProbedChild& c : shown)
        unixPaths.push_back(fixture.unixRoot + "/" + c.name);
    const std::vector<std::wstring> expected = WinePaths(unixPaths);
    ASSERT_EQ(expected.size(), shown.size());
    const std::vector<HTREEITEM> items = pane.Children(dir);
    ASSERT_EQ(items.size(), shown.size());
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(shown[i].name);
        pane.host.watched.clear();
        SendMessageW(pane.Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(items[i]));
        ASSERT_EQ(pane.host.watched.size(), 1u);
        EXPECT_EQ(pane.host.watched[0].item, items[i]);
        EXPECT_TRUE(pane.host.watched[0].hasPath);
        EXPECT_TRUE(SameName(pane.host.watched[0].path, expected[i])) << Narrow(pane.host.watched[0].path);
    }

    // Opened, a folder without subfolders loses its expander; one with subfolders keeps it.
    const HTREEITEM alpha = pane.tree->FindChildByName(dir, L"ALPHA");
    const HTREEITEM gamma = pane.tree->FindChildByName(dir, L"gamma");
    ASSERT_NE(alpha, nullptr);
    ASSERT_NE(gamma, nullptr);
    for (HTREEITEM item : {alpha, gamma})
        SendMessageW(pane.Tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    EXPECT_EQ(pane.ChildCount(alpha), 0);
    EXPECT_TRUE(pane.Children(alpha).empty());
    EXPECT_EQ(pane.ChildCount(gamma), 1);
    shown = ProbeChildren(pane.Tree(), gamma, fixture.folder, &code);
    ASSERT_EQ(code, 0u);
    EXPECT_EQ(Sorted(Names(shown)), FoldersByFind(fixture.unixRoot + "/Gamma"));
    // Return on a selected folder reads it as opening it does (Zulu has no subfolders).
    const HTREEITEM zulu = pane.tree->FindChildByName(dir, L"Zulu");
    ASSERT_NE(zulu, nullptr);
    EXPECT_EQ(pane.ChildCount(zulu), 1);
    SendMessageW(pane.Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(zulu));
    SendMessageW(pane.Tree(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(pane.ChildCount(zulu), 0);
    // The link in Gamma back to the root is a loop: opened, it shows the root's folders again, one level
    // at a time.
    const HTREEITEM up = pane.tree->FindChildByName(gamma, L"up");
    ASSERT_NE(up, nullptr);
    SendMessageW(pane.Tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(up));
    shown = ProbeChildren(pane.Tree(), up, fixture.folder, &code);
    ASSERT_EQ(code, 0u);
    EXPECT_EQ(Sorted(Names(shown)), found);
    for (const ProbedChild& c : shown)
        EXPECT_EQ(c.children, 1) << c.name;

    // A folder made after the level was read shows once the level is closed and opened again.
    const test_support::ShellResult made = test_support::RunShell("mkdir " + ShellQuote(fixture.unixRoot + "/Later"));
    ASSERT_TRUE(made.finished && made.exitCode == 0);
    shown = ProbeChildren(pane.Tree(), dir, fixture.folder, &code);
    const std::vector<std::string> before = Names(shown);
    EXPECT_EQ(std::count(before.begin(), before.end(), "Later"), 0);
    // As the user does it: the folder selected, closed and opened with the arrow keys.
    SendMessageW(pane.Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(dir));
    SendMessageW(pane.Tree(), WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_FALSE(pane.Expanded(dir));
    SendMessageW(pane.Tree(), WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_TRUE(pane.Expanded(dir));
    shown = ProbeChildren(pane.Tree(), dir, fixture.folder, &code);
    ASSERT_EQ(code, 0u);
    const std::vector<std::string> after = Names(shown);
    EXPECT_EQ(Sorted(after), FoldersByFind(fixture.unixRoot));
    EXPECT_EQ(std::count(after.begin(), after.end(), "Later"), 1);
}

TEST(PcTree, DesktopReportsItsPathANamespaceFolderNone)
{
    TreePane pane;
    const HTREEITEM root = pane.tree->GetRootItem();
    ASSERT_NE(root, nullptr);
    // Nothing is selected on a first start, and the desktop's folders are shown.
    EXPECT_EQ(pane.Caret(), nullptr);
    EXPECT_TRUE(pane.Expanded(root));
    EXPECT_TRUE(pane.host.watched.empty());
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE));
    SendMessageW(pane.Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root));
    ASSERT_EQ(pane.host.watched.size(), 1u);
    EXPECT_TRUE(pane.host.watched[0].hasPath);
    EXPECT_TRUE(SameName(pane.host.watched[0].path, desktop)) << Narrow(pane.host.watched[0].path);

    // "My Computer" has a parsing name but no file-system path.
    const std::wstring computer = SpecialParsingName(CSIDL_DRIVES);
    HTREEITEM namespaceItem = nullptr;
    for (HTREEITEM child : pane.Children(root)) {
        SendMessageW(pane.Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(child));
        CxString parsing;
        if (SUCCEEDED(pane.tree->GetSelectedFolderPath(parsing, FALSE)) && SameName(std::wstring(parsing), computer)) {
            namespaceItem = child;
            break;
        }
    }
    ASSERT_NE(namespaceItem, nullptr);
    ASSERT_FALSE(pane.host.watched.empty());
    EXPECT_EQ(pane.host.watched.back().item, namespaceItem);
    EXPECT_FALSE(pane.host.watched.back().hasPath);
    CxString path;
    EXPECT_EQ(pane.tree->GetSelectedFolderPath(path, TRUE), E_FAIL);
    EXPECT_TRUE(path.IsEmpty());
    // Its folder object is the one its drives come from.
    IShellFolder* folder = nullptr;
    pane.tree->GetSelectedFolder(&folder);
    ASSERT_NE(folder, nullptr);
    folder->Release();
}

TEST(PcTree, ReadingALevelAgainLeavesNothingBehind)
{
    Fixture fixture;
    ASSERT_TRUE(fixture.made);
    TreePane pane;
    pane.Select(PersistedPath(fixture.root));
    const HTREEITEM dir = pane.Caret();
    ASSERT_NE(dir, nullptr);
    const size_t shown = pane.Children(dir).size();
    ASSERT_GE(shown, 10u);
    // Every item's records and the shell's names go with the items they were read for: reading the level
    // again and again leaves less behind than one reading holds (a cache of the shell may keep a little).
    FreeSpy& spy = TheSpy();
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
    EXPECT_EQ(pane.tree->ReloadItem(dir), 1);
    const size_t afterOne = spy.live.size();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pane.tree->ReloadItem(dir), 1);
    const size_t afterSix = spy.live.size();
    EXPECT_EQ(pane.Children(dir).size(), shown);
    // Deleting the items frees what they held.
    SendMessageW(pane.Tree(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(dir));
    const size_t afterDelete = spy.live.size();
    // Refused while a block made under the spy is still there (the spy then goes when the block does).
    const HRESULT revoked = CoRevokeMallocSpy();
    EXPECT_TRUE(revoked == S_OK || revoked == E_ACCESSDENIED) << revoked;
    EXPECT_LT(afterSix - std::min(afterSix, afterOne), shown) << afterOne << " " << afterSix;
    EXPECT_LT(afterDelete, shown) << afterDelete;
    EXPECT_EQ(pane.tree->ReloadItem(nullptr), 0);
}

TEST(PcTree, PersistedPathsOpenTheDeepestFolderThatExists)
{
    Fixture fixture;
    ASSERT_TRUE(fixture.made);
    const std::wstring inner = fixture.Path(L"Gamma\\inner");
    struct Case {
        const char* name;
        std::wstring text;
        std::wstring selected;  // "<none>", "<desktop>" or the folder
    };
    const Case cases[] = {
        {"as written", PersistedPath(inner), inner},
        {"whole names in lower case", Lower(WholeNamesPath(inner)), inner},
        {"in upper case", Upper(PersistedPath(inner)), inner},
        {"the deepest folder removed", PersistedPath(fixture.Path(L"Gamma\\inner\\gone\\further")), inner},
        {"empty", L"", L"<none>"},
        {"separators only", L"||||||||", L"<none>"},
        {"a top level that is not there", L"::{00000000-0000-0000-0000-000000000000}\n|C:\\\n", L"<desktop>"},
        {"a level longer than any path", L"C:\\" + std::wstring(20000, L'x') + L"\n|y", L"<desktop>"},
    };
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TreePane pane;
        pane.Select(c.text);
        const HTREEITEM root = pane.tree->GetRootItem();
        ASSERT_NE(root, nullptr);
        EXPECT_TRUE(pane.Expanded(root));
        EXPECT_FALSE(pane.Children(root).empty());
        const std::wstring expected = c.selected == L"<desktop>" ? std::wstring(desktop) : c.selected;
        EXPECT_TRUE(SameName(pane.SelectedPath(), expected)) << Narrow(pane.SelectedPath());
        if (c.selected == L"<none>") {
            EXPECT_TRUE(pane.host.watched.empty());
            continue;
        }
        if (c.selected == L"<desktop>") {
            EXPECT_EQ(pane.Caret(), root);
        }
        // The parent was told, with the folder's path.
        ASSERT_FALSE(pane.host.watched.empty());
        EXPECT_EQ(pane.host.watched.back().item, pane.Caret());
        EXPECT_TRUE(SameName(pane.host.watched.back().path, expected));
        // Every folder on the way is open.
        for (HTREEITEM item = pane.Caret(); item != nullptr && item != root; item = pane.Next(item, TVGN_PARENT))
            EXPECT_TRUE(pane.Expanded(item)) << Narrow(pane.Text(item));
    }
}

// ---- Across runs of a program, in the registry ----

struct HostAnswers {
    DWORD code = STILL_ACTIVE;
    std::map<std::string, std::string> lines;
};

HostAnswers RunHost(const TempFolder& folder)
{
    HostAnswers answers;
    const std::filesystem::path out = folder.File("host.txt");
    std::filesystem::remove(out);
    test_support::HostProcess host(test_support::BuildTreeProgram(KWEP_PC_TREE_HOST), L"\"" + out.wstring() + L"\"");
    if (!host.Started())
        return answers;
    answers.code = host.Wait(120000);
    std::ifstream in(out, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        answers.lines[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    return answers;
}

// The value as `reg query` prints it, line feeds inside it kept; "<missing>" when there is none.
std::string QueryPath()
{
    const test_support::ShellResult r = registry_tool::Reg("query " + ShellQuote(kHostKeyTool) + " /v Path.4000");
    if (!r.finished || r.exitCode != 0)
        return "<missing>";
    const std::string head = "Path.4000    REG_SZ    ";
    const size_t at = r.out.find(head);
    if (at == std::string::npos)
        return "<missing>";
    std::string value = r.out.substr(at + head.size());
    // The tool ends its listing with a blank line.
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    std::string plain;
    for (size_t i = 0; i < value.size(); ++i)
        if (!(value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n'))
            plain += value[i];
    return plain;
}

TEST(PcTree, SelectedFolderKeptInTheRegistryAcrossRuns)
{
    Fixture fixture;
    ASSERT_TRUE(fixture.made);
    registry_tool::DeleteTree(HKEY_CURRENT_USER, kHostKey);
    const std::wstring inner = fixture.Path(L"Gamma\\inner");
    struct Case {
        const char* name;
        std::string planted;    // empty: nothing planted
        std::wstring selected;  // what the program shows
        std::string left;       // the value it leaves
    };
    const std::string innerPath = Narrow(PersistedPath(inner));
    const Case cases[] = {
        // Written with whole names, the value is restored and written back the tree's way.
        {"whole names", Narrow(WholeNamesPath(inner)), inner, innerPath},
        {"the same value read back", "", inner, innerPath},
        {"a folder since deleted", Narrow(WholeNamesPath(fixture.Path(L"Gamma\\inner\\deep"))), inner, innerPath},
        {"separators only", "|||||||||||", L"<none>", "<missing>"},
        // Longer than the longest value read: the program starts as on a first run.
        {"over-long", std::string(17000, 'z') + "|" + innerPath, L"<none>", "<missing>"},
    };
    ASSERT_TRUE(registry_tool::Reg("add " + ShellQuote(kHostKeyTool) + " /f").exitCode == 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.name == std::string("a folder since deleted")) {
            const test_support::ShellResult removed =
                test_support::RunShell("rm -r " + ShellQuote(fixture.unixRoot + "/Gamma/inner/deep"));
            ASSERT_TRUE(removed.finished && removed.exitCode == 0);
        }
        if (!c.planted.empty()) {
            ASSERT_TRUE(registry_tool::Add(kHostKeyTool, "Path.4000", "REG_SZ", c.planted));
        }
        const HostAnswers a = RunHost(fixture.folder);
        ASSERT_EQ(a.code, 0u);
        EXPECT_TRUE(SameName(Widen(a.lines.at("selected")), c.selected)) << a.lines.at("selected");
        EXPECT_EQ(a.lines.at("expanded"), "1");
        EXPECT_NE(a.lines.at("children"), "0");
        EXPECT_EQ(a.lines.at("reported"), c.selected == L"<none>" ? "0" : "1");
        const std::string left = QueryPath();
        EXPECT_TRUE(SameName(Widen(left), Widen(c.left))) << left;
    }
    registry_tool::DeleteTree(HKEY_CURRENT_USER, kHostKey);
}

// ---- On the X display ----

std::string Rgb(COLORREF c)
{
    return std::to_string(GetRValue(c)) + " " + std::to_string(GetGValue(c)) + " " + std::to_string(GetBValue(c));
}

// A rectangle of the tree's client area in the host's client coordinates, as "x y w h".
std::string InHost(HWND tree, RECT r)
{
    MapWindowPoints(tree, GetParent(tree), reinterpret_cast<POINT*>(&r), 2);
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + " " +
           std::to_string(r.bottom - r.top);
}

RECT ItemRect(HWND tree, HTREEITEM item, BOOL textOnly)
{
    RECT r{};
    std::memcpy(&r, &item, sizeof(item));
    SendMessageW(tree, TVM_GETITEMRECT, static_cast<WPARAM>(textOnly), reinterpret_cast<LPARAM>(&r));
    return r;
}

TEST(PcTree, TreeOnTheDisplay)
{
    ASSERT_TRUE(test_support::HostHasProgram("xwd"));
    ASSERT_TRUE(test_support::HostHasProgram("xdotool"));
    Fixture fixture;
    ASSERT_TRUE(fixture.made);
    TreePane pane(L"KwepPcTreeCapture");
    HWND tree = pane.Tree();
    pane.Select(PersistedPath(fixture.root));
    const HTREEITEM dir = pane.Caret();
    ASSERT_NE(dir, nullptr);
    const HTREEITEM alpha = pane.tree->FindChildByName(dir, L"Alpha");
    const HTREEITEM gamma = pane.tree->FindChildByName(dir, L"Gamma");
    const HTREEITEM beta = pane.tree->FindChildByName(dir, L"beta");
    ASSERT_TRUE(alpha != nullptr && gamma != nullptr && beta != nullptr);
    // Alpha opened (it has no subfolders: no glyph), Gamma open (the open glyph), beta closed, unopened.
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(alpha));
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(gamma));
    const HTREEITEM selected = pane.tree->FindChildByName(gamma, L"inner");
    ASSERT_NE(selected, nullptr);
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(selected));
    SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(beta));
    SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(selected));
    SetForegroundWindow(pane.host.hWnd);
    SetFocus(tree);
    ASSERT_EQ(GetFocus(), tree);
    ASSERT_NE(pane.tree->GetLow() & CXFL_CLASSSTATE, 0u);
    ASSERT_NE(pane.images.SystemSmallImageList(), nullptr);
    ASSERT_EQ(ImageList_GetImageCount(pane.tree->GetExpanderImages()), 2);
    RedrawWindow(pane.host.hWnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
    Pump();

    const SIZE icon = pane.images.SmallIconSize();
    const int step = icon.cx + 3;
    // The cell of an item: from its level's indent to the end of its text.
    auto cell = [&](HTREEITEM item, int level) {
        RECT line = ItemRect(tree, item, FALSE);
        const RECT text = ItemRect(tree, item, TRUE);
        line.left += level * step;
        line.right = text.right + std::max(0L, line.left + icon.cx + 6 - text.left);
        return line;
    };
    auto glyph = [&](HTREEITEM item, int level) {
        const RECT c = cell(item, level);
        const int top = c.top + ((c.bottom - c.top) - icon.cy) / 2;
        return RECT{c.left - step, top, c.left - step + icon.cx, top + icon.cy};
    };
    auto textPart = [&](HTREEITEM item, int level) {
        RECT c = cell(item, level);
        c.left += icon.cx + 6;
        return c;
    };
    int dirLevel = 0;
    for (HTREEITEM item = dir; pane.Next(item, TVGN_PARENT) != nullptr; item = pane.Next(item, TVGN_PARENT))
        ++dirLevel;
    ++dirLevel;  // the root has a button column of its own
    ASSERT_EQ(GetScrollPos(tree, SB_HORZ), 0);
    RECT client{};
    GetClientRect(tree, &client);
    const RECT last = ItemRect(tree, pane.Next(nullptr, TVGN_LASTVISIBLE), FALSE);
    std::vector<std::string> queries;
    auto add = [&](const std::string& q) {
        queries.push_back(q);
    };
    if (client.bottom - last.bottom > 8)
        add("mode empty " + InHost(tree, RECT{client.left + 2, last.bottom + 2, client.right - 2, client.bottom - 2}));
    RECT selectedFill = cell(selected, dirLevel + 2);
    selectedFill.left += icon.cx + 4;
    add("mode selected " + InHost(tree, selectedFill));
    add("near selectedtext " + InHost(tree, textPart(selected, dirLevel + 2)) + " " +
        Rgb(pane.tree->GetTextColour(2).color) + " 40");
    add("near betatext " + InHost(tree, textPart(beta, dirLevel + 1)) + " " + Rgb(pane.tree->GetTextColour(0).color) +
        " 40");
    const COLORREF back = pane.tree->GetBackColour(0).color;
    for (const auto& [name, item] :
         {std::pair<std::string, HTREEITEM>{"alpha", alpha}, {"beta", beta}, {"gamma", gamma}})
        add("near glyph" + name + " " + InHost(tree, glyph(item, dirLevel + 1)) + " " + Rgb(back) + " 0");
    add("diff glyphs " + [&] {
        const std::string b = InHost(tree, glyph(beta, dirLevel + 1));
        const std::string g = InHost(tree, glyph(gamma, dirLevel + 1));
        std::istringstream bs(b), gs(g);
        int bx, by, gx, gy, w, h;
        bs >> bx >> by >> w >> h;
        gs >> gx >> gy;
        return std::to_string(bx) + " " + std::to_string(by) + " " + std::to_string(gx) + " " + std::to_string(gy) +
               " " + std::to_string(w) + " " + std::to_string(h);
    }());

    const test_support::WindowCapture capture =
        test_support::CaptureWindow("KwepPcTreeCapture", KWEP_ARTEFACT_DIR, "pc_tree", KWEP_CAPTURE_SCRIPT, queries);
    ASSERT_TRUE(capture.ok) << capture.error;
    std::map<std::string, std::vector<int>> m = capture.values;
    auto expectMode = [&](const char* name, COLORREF colour) {
        ASSERT_EQ(m[name].size(), 4u) << name;
        EXPECT_EQ(RGB(m[name][0], m[name][1], m[name][2]), colour)
            << name << " " << m[name][0] << "," << m[name][1] << "," << m[name][2];
        EXPECT_GE(m[name][3], 60) << name;
    };
    if (m.count("empty"))
        expectMode("empty", back);
    expectMode("selected", pane.tree->GetBackColour(2).color);
    EXPECT_GT(m["selectedtext"].at(0), 0);
    EXPECT_GT(m["betatext"].at(0), 0);
    // The glyph box of an item without subfolders is background only; the others carry a glyph, and the
    // open one differs from the closed one.
    const int box = icon.cx * icon.cy;
    EXPECT_EQ(m["glyphalpha"].at(0), box);
    EXPECT_LT(m["glyphbeta"].at(0), box);
    EXPECT_LT(m["glyphgamma"].at(0), box);
    EXPECT_GT(m["glyphs"].at(0), 0);
}

}  // namespace
