#include "manager/main/panes/pc_tree.h"

#include "manager/controls/combo/cx_file_mask_combo.h"
#include "manager/framework/windows/cx_array.h"
#include "manager/framework/windows/cx_platform.h"
#include "manager/main/panes/pane_images.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace {

constexpr UINT kCellFormat = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
// Characters of an item's text read for drawing and for name matching (4096 bytes).
constexpr int kItemTextChars = 2048;
// The desktop's path: MAX_PATH characters and the terminator (522 bytes).
constexpr size_t kDesktopPathBytes = (MAX_PATH + 1) * sizeof(wchar_t);
// Longest id list taken from the shell: no folder of any depth comes near it.
constexpr size_t kMaxIdListBytes = 0x10000;

// Bytes of an id list without its terminator; false when it is not ended within the bound.
bool IdListBytes(LPCITEMIDLIST list, size_t* bytes)
{
    size_t size = 0;
    if (list != nullptr) {
        const BYTE* at = reinterpret_cast<const BYTE*>(list);
        for (;;) {
            USHORT cb = 0;
            std::memcpy(&cb, at + size, sizeof(cb));
            if (cb == 0)
                break;
            size += cb;
            if (size > kMaxIdListBytes)
                return false;
        }
    }
    *bytes = size;
    return true;
}

// The wide copy of at most `bytes` ANSI characters (up to the first zero).
HRESULT AssignAnsi(CxString* out, const char* text, size_t bytes)
{
    const size_t length = strnlen(text, bytes);
    if (length == 0)
        return E_FAIL;
    const int chars = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    if (chars <= 0)
        return E_FAIL;
    CxHeapPtr<wchar_t> wide(static_cast<wchar_t*>(CxAlloc((static_cast<size_t>(chars) + 1) * sizeof(wchar_t))));
    if (wide.get() == nullptr)
        return E_OUTOFMEMORY;
    if (MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide.get(), chars) != chars)
        return E_FAIL;
    wide.get()[chars] = 0;
    return out->Assign(wide.get());
}

// The sort of a level's children: the shell's own order of their relative lists in the folder.
int CALLBACK CompareChildren(LPARAM first, LPARAM second, LPARAM folderParam)
{
    auto* folder = reinterpret_cast<IShellFolder*>(folderParam);
    const auto* a = reinterpret_cast<const PCTreeItem*>(first);
    const auto* b = reinterpret_cast<const PCTreeItem*>(second);
    if (folder == nullptr || a == nullptr || b == nullptr)
        return 0;
    const HRESULT hr = folder->CompareIDs(0, a->relative, b->relative);
    if (FAILED(hr))
        return 0;
    return static_cast<short>(HRESULT_CODE(hr));
}

HRESULT GetPathCallback(CxPersistCall& call)
{
    auto hWnd = static_cast<HWND>(call.context);
    if (FAILED(CxIsWindow(hWnd)))
        return E_INVALIDARG;
    wchar_t* text = nullptr;
    if (SendMessageW(hWnd, CXM_GETTREEPATH, reinterpret_cast<WPARAM>(&text), 0) == 0)
        return E_FAIL;
    call.text.Attach(text);
    return S_OK;
}

HRESULT SetPathCallback(CxPersistCall& call)
{
    auto hWnd = static_cast<HWND>(call.context);
    if (FAILED(CxIsWindow(hWnd)))
        return E_INVALIDARG;
    SendMessageW(hWnd, CXM_SELECTTREEPATH, reinterpret_cast<WPARAM>(static_cast<const wchar_t*>(call.text)), 0);
    return S_OK;
}

// Calls one COM method and releases the interface at the end of the scope.
template <class T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef()
    {
        if (m_p != nullptr)
            m_p->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* Get() const { return m_p; }
    T** Receive() { return &m_p; }
    void** ReceiveVoid() { return reinterpret_cast<void**>(&m_p); }

private:
    T* m_p = nullptr;
};

}  // namespace

CPCExplorer::CPCExplorer()
{
    CxWndLink::Attach(&m_hWnd);
    if (FAILED(SHGetMalloc(&m_malloc)))
        m_malloc = nullptr;
    ModifyFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS, 0, 0, 0);
}

CPCExplorer::~CPCExplorer()
{
    // The window goes first: it saves the selected folder and hands every item's record back while this
    // object can still free them.
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
    if (m_desktop != nullptr)
        m_desktop->Release();
    if (m_malloc != nullptr)
        m_malloc->Release();
}

BOOL CPCExplorer::InitTree()
{
    if (m_hWnd == nullptr)
        return TRUE;
    const SIZE icon = PaneSmallIconSize(m_images);
    if (m_expanderImages.m_hImageList == nullptr &&
        m_expanderImages.Create(icon.cx, icon.cy, ILC_COLOR32 | ILC_MASK, 2, 1)) {
        CxString program;
        if (SUCCEEDED(CxReadModulePath(&program))) {
            for (const int group : {PC_TREE_ICON_CLOSED, PC_TREE_ICON_OPEN}) {
                CxString location;
                HICON loaded = nullptr;
                if (SUCCEEDED(location.Format(L"%s?%d", static_cast<const wchar_t*>(program), -group)) &&
                    SUCCEEDED(CxLoadSmallIcon(location, &loaded))) {
                    ImageList_AddIcon(m_expanderImages.m_hImageList, loaded);
                    DestroyIcon(loaded);
                }
            }
        }
        ::SendMessageW(m_hWnd, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(m_expanderImages.m_hImageList));
    }
    // One level's indent is where the expander glyph of the level is drawn, so that the tree's own hit
    // test of its button falls on the glyph.
    ::SendMessageW(m_hWnd, TVM_SETINDENT, static_cast<WPARAM>(icon.cx + 3), 0);
    ::SendMessageW(m_hWnd, TVM_SETBKCOLOR, 0, static_cast<LPARAM>(m_colours.Back(0).color));
    Restore();
    // Without a stored value that could be applied the tree is still built.
    if (GetRootItem() == nullptr)
        SelectPath(nullptr);
    return TRUE;
}

// ---- Items ----

HTREEITEM CPCExplorer::TreeItem(HTREEITEM item, UINT relation) const
{
    if (m_hWnd == nullptr)
        return nullptr;
    return reinterpret_cast<HTREEITEM>(
        ::SendMessageW(m_hWnd, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

PCTreeItem* CPCExplorer::ItemData(HTREEITEM item) const
{
    if (m_hWnd == nullptr || item == nullptr)
        return nullptr;
    TVITEMW data{};
    data.mask = TVIF_PARAM | TVIF_HANDLE;
    data.hItem = item;
    if (::SendMessageW(m_hWnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data)) == 0)
        return nullptr;
    return reinterpret_cast<PCTreeItem*>(data.lParam);
}

void CPCExplorer::FreeShellMemory(void* block) const
{
    if (block == nullptr)
        return;
    if (m_malloc != nullptr)
        m_malloc->Free(block);
    else
        CoTaskMemFree(block);
}

LPITEMIDLIST CPCExplorer::JoinIdLists(LPCITEMIDLIST first, LPCITEMIDLIST second) const
{
    size_t firstBytes = 0;
    size_t secondBytes = 0;
    if (m_malloc == nullptr || !IdListBytes(first, &firstBytes) || !IdListBytes(second, &secondBytes))
        return nullptr;
    const size_t total = firstBytes + secondBytes + 2;
    auto* joined = static_cast<BYTE*>(m_malloc->Alloc(total));
    if (joined == nullptr)
        return nullptr;
    if (firstBytes != 0)
        std::memcpy(joined, first, firstBytes);
    if (secondBytes != 0)
        std::memcpy(joined + firstBytes, second, secondBytes);
    joined[total - 2] = 0;
    joined[total - 1] = 0;
    return reinterpret_cast<LPITEMIDLIST>(joined);
}

void CPCExplorer::DeleteItemData(LPARAM data)
{
    auto* record = reinterpret_cast<PCTreeItem*>(data);
    if (record == nullptr)
        return;
    if (record->absolute != record->relative)
        FreeShellMemory(record->absolute);
    FreeShellMemory(record->relative);
    if (record->folder != nullptr)
        record->folder->Release();
    delete record;
}

HRESULT CPCExplorer::GetDisplayName(IShellFolder* folder, LPCITEMIDLIST id, CxString* out, DWORD flags) const
{
    if (out == nullptr)
        return E_INVALIDARG;
    out->Empty();
    if (folder == nullptr)
        return E_FAIL;
    STRRET name{};
    if (FAILED(folder->GetDisplayNameOf(id, flags, &name)))
        return E_FAIL;
    HRESULT hr = E_FAIL;
    switch (name.uType) {
    case STRRET_WSTR:
        // The shell hands the text over: it is freed here, whatever it held.
        if (name.pOleStr != nullptr) {
            if (name.pOleStr[0] != 0)
                hr = out->Assign(name.pOleStr);
            FreeShellMemory(name.pOleStr);
        }
        break;
    case STRRET_OFFSET: {
        // The text lies inside the list's first item: read no further than that item.
        const auto* item = reinterpret_cast<const BYTE*>(id);
        USHORT cb = 0;
        if (item != nullptr)
            std::memcpy(&cb, item, sizeof(cb));
        if (item != nullptr && name.uOffset >= sizeof(USHORT) && name.uOffset < cb)
            hr = AssignAnsi(out, reinterpret_cast<const char*>(item + name.uOffset), cb - name.uOffset);
        break;
    }
    case STRRET_CSTR:
        hr = AssignAnsi(out, name.cStr, sizeof(name.cStr));
        break;
    default:
        return E_UNEXPECTED;
    }
    if (SUCCEEDED(hr) && out->IsEmpty())
        hr = E_FAIL;
    return hr;
}

HRESULT CPCExplorer::ParsingName(HTREEITEM item, CxString& out) const
{
    const PCTreeItem* data = ItemData(item);
    if (data == nullptr) {
        out.Empty();
        return E_FAIL;
    }
    return GetDisplayName(data->folder, data->relative, &out, SHGDN_FORPARSING);
}

HRESULT CPCExplorer::BuildRoot()
{
    if (m_hWnd == nullptr)
        return E_FAIL;
    ::SendMessageW(m_hWnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    if (m_desktop == nullptr && FAILED(SHGetDesktopFolder(&m_desktop)))
        m_desktop = nullptr;
    if (m_desktop == nullptr || m_malloc == nullptr)
        return S_FALSE;
    LPITEMIDLIST desktop = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(m_hWnd, CSIDL_DESKTOP, &desktop)) || desktop == nullptr)
        return S_FALSE;
    SHFILEINFOW closed{};
    SHGetFileInfoW(reinterpret_cast<LPCWSTR>(desktop), 0, &closed, sizeof(closed),
                   SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_SMALLICON);
    SHFILEINFOW open{};
    SHGetFileInfoW(reinterpret_cast<LPCWSTR>(desktop), 0, &open, sizeof(open),
                   SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_SMALLICON | SHGFI_OPENICON | SHGFI_DISPLAYNAME |
                       SHGFI_ATTRIBUTES);
    auto* record = new (std::nothrow) PCTreeItem{m_desktop, desktop, nullptr, 0, 0};
    if (record == nullptr) {
        FreeShellMemory(desktop);
        return E_OUTOFMEMORY;
    }
    m_desktop->AddRef();
    open.szDisplayName[MAX_PATH - 1] = 0;
    TVINSERTSTRUCTW insert{};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = open.szDisplayName;
    insert.item.iImage = closed.iIcon;
    insert.item.iSelectedImage = open.iIcon;
    insert.item.lParam = reinterpret_cast<LPARAM>(record);
    insert.item.cChildren = (open.dwAttributes & SFGAO_HASSUBFOLDER) ? 1 : 0;
    auto root = reinterpret_cast<HTREEITEM>(::SendMessageW(m_hWnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (root == nullptr) {
        DeleteItemData(reinterpret_cast<LPARAM>(record));
        return E_FAIL;
    }
    FillChildren(root, nullptr);
    return S_OK;
}

HTREEITEM CPCExplorer::FillChildren(HTREEITEM item, const wchar_t* select)
{
    const PCTreeItem* parent = ItemData(item);
    if (parent == nullptr || m_malloc == nullptr)
        return nullptr;
    const bool isRoot = TreeItem(item, TVGN_PARENT) == nullptr;
    ComRef<IShellFolder> folder;
    if (isRoot) {
        if (m_desktop == nullptr)
            return nullptr;
        m_desktop->AddRef();
        *folder.Receive() = m_desktop;
    } else if (parent->folder == nullptr ||
               FAILED(parent->folder->BindToObject(parent->relative, nullptr, IID_IShellFolder, folder.ReceiveVoid())) ||
               folder.Get() == nullptr) {
        return nullptr;
    }
    ComRef<IEnumIDList> enumerator;
    if (FAILED(folder.Get()->EnumObjects(m_hWnd, SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN, enumerator.Receive())) ||
        enumerator.Get() == nullptr) {
        TVITEMW none{};
        none.mask = TVIF_CHILDREN | TVIF_HANDLE;
        none.hItem = item;
        ::SendMessageW(m_hWnd, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&none));
        return nullptr;
    }

    ::SendMessageW(m_hWnd, WM_SETREDRAW, FALSE, 0);
    HTREEITEM selected = nullptr;
    for (;;) {
        LPITEMIDLIST id = nullptr;
        ULONG fetched = 0;
        if (enumerator.Get()->Next(1, &id, &fetched) != S_OK || fetched != 1 || id == nullptr) {
            FreeShellMemory(id);
            break;
        }
        CxString name;
        if (FAILED(GetDisplayName(folder.Get(), id, &name, SHGDN_INFOLDER))) {
            FreeShellMemory(id);
            break;
        }
        auto* record = new (std::nothrow) PCTreeItem{folder.Get(), id, nullptr, PCTREE_PLACEHOLDER, 0};
        if (record == nullptr) {
            FreeShellMemory(id);
            break;
        }
        folder.Get()->AddRef();
        // A child of the root gets a copy of its relative list: the two are freed apart.
        record->absolute = JoinIdLists(isRoot ? nullptr : parent->absolute, id);
        if (record->absolute == nullptr) {
            DeleteItemData(reinterpret_cast<LPARAM>(record));
            break;
        }
        SHFILEINFOW closed{};
        SHGetFileInfoW(reinterpret_cast<LPCWSTR>(record->absolute), 0, &closed, sizeof(closed),
                       SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_SMALLICON);
        SHFILEINFOW open{};
        SHGetFileInfoW(reinterpret_cast<LPCWSTR>(record->absolute), 0, &open, sizeof(open),
                       SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_SMALLICON | SHGFI_OPENICON);
        TVINSERTSTRUCTW insert{};
        insert.hParent = item;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_CHILDREN;
        insert.item.pszText = const_cast<wchar_t*>(static_cast<const wchar_t*>(name));
        insert.item.iImage = closed.iIcon;
        insert.item.iSelectedImage = open.iIcon;
        insert.item.lParam = reinterpret_cast<LPARAM>(record);
        insert.item.cChildren = 1;
        auto child = reinterpret_cast<HTREEITEM>(::SendMessageW(m_hWnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
        if (child == nullptr) {
            DeleteItemData(reinterpret_cast<LPARAM>(record));
            break;
        }
        // Every folder shows an expander until it is opened.
        TVINSERTSTRUCTW placeholder{};
        placeholder.hParent = child;
        placeholder.hInsertAfter = TVI_LAST;
        placeholder.item.mask = TVIF_TEXT;
        placeholder.item.pszText = const_cast<wchar_t*>(L"");
        ::SendMessageW(m_hWnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&placeholder));
        if (selected == nullptr && select != nullptr && *select != 0 && CxStrCompare(name, select, 1) == 0) {
            selected = child;
            ::SendMessageW(m_hWnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(child));
        }
    }

    TVITEMW count{};
    count.mask = TVIF_CHILDREN | TVIF_HANDLE;
    count.hItem = item;
    count.cChildren = TreeItem(item, TVGN_CHILD) != nullptr ? 1 : 0;
    ::SendMessageW(m_hWnd, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&count));
    TVSORTCB sort{};
    sort.hParent = item;
    sort.lpfnCompare = &CompareChildren;
    sort.lParam = reinterpret_cast<LPARAM>(folder.Get());
    ::SendMessageW(m_hWnd, TVM_SORTCHILDRENCB, 0, reinterpret_cast<LPARAM>(&sort));
    ::SendMessageW(m_hWnd, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    return selected;
}

void CPCExplorer::DeleteChildren(HTREEITEM item)
{
    if (m_hWnd == nullptr || item == nullptr)
        return;
    // Each pass deletes the first child with everything below it.
    for (HTREEITEM child = TreeItem(item, TVGN_CHILD); child != nullptr; child = TreeItem(item, TVGN_CHILD)) {
        if (::SendMessageW(m_hWnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(child)) == 0)
            break;
    }
}

int CPCExplorer::ReloadItem(HTREEITEM item)
{
    if (ItemData(item) == nullptr)
        return 0;
    DeleteChildren(item);
    FillChildren(item, nullptr);
    return 1;
}

void CPCExplorer::ExpandItem(HTREEITEM item)
{
    if (ItemData(item) == nullptr)
        return;
    if (!(m_flagsHigh & CXFH_TREEEXPANDING)) {
        DeleteChildren(item);
        FillChildren(item, nullptr);
    }
    PCTreeItem* data = ItemData(item);
    if (data != nullptr)
        data->flags &= ~PCTREE_PLACEHOLDER;
}

HTREEITEM CPCExplorer::FindChildByName(HTREEITEM item, const wchar_t* name) const
{
    if (item == nullptr || name == nullptr)
        return nullptr;
    for (HTREEITEM child = TreeItem(item, TVGN_CHILD); child != nullptr; child = TreeItem(child, TVGN_NEXT)) {
        wchar_t text[kItemTextChars] = {};
        TVITEMW data{};
        data.mask = TVIF_TEXT | TVIF_HANDLE;
        data.hItem = child;
        data.pszText = text;
        data.cchTextMax = kItemTextChars;
        if (::SendMessageW(m_hWnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data)) == 0)
            continue;
        text[kItemTextChars - 1] = 0;
        if (CxStrCompare(text, name, 1) == 0)
            return child;
    }
    return nullptr;
}

// ---- The selected folder ----

void CPCExplorer::GetSelectedFolder(IShellFolder** out) const
{
    if (out == nullptr)
        return;
    *out = nullptr;
    const HTREEITEM item = TreeItem(nullptr, TVGN_CARET);
    const PCTreeItem* data = ItemData(item);
    if (data == nullptr)
        return;
    if (TreeItem(item, TVGN_PARENT) != nullptr) {
        if (data->folder == nullptr ||
            FAILED(data->folder->BindToObject(data->relative, nullptr, IID_IShellFolder, reinterpret_cast<void**>(out))))
            *out = nullptr;
    } else if (m_desktop != nullptr) {
        m_desktop->AddRef();
        *out = m_desktop;
    }
}

HRESULT CPCExplorer::GetSelectedFolderPath(CxString& out, BOOL fileSystem) const
{
    out.Empty();
    const HTREEITEM item = TreeItem(nullptr, TVGN_CARET);
    const PCTreeItem* data = ItemData(item);
    if (data == nullptr)
        return E_FAIL;
    CxString path;
    if (TreeItem(item, TVGN_PARENT) != nullptr) {
        const HRESULT hr = GetDisplayName(data->folder, data->relative, &path, SHGDN_FORPARSING);
        if (FAILED(hr))
            return hr;
    } else {
        CxHeapPtr<wchar_t> buffer(static_cast<wchar_t*>(CxAlloc(kDesktopPathBytes)));
        if (buffer.get() == nullptr)
            return E_OUTOFMEMORY;
        buffer.get()[0] = 0;
        if (!SHGetPathFromIDListW(data->relative, buffer.get()))
            return E_FAIL;
        buffer.get()[MAX_PATH] = 0;
        if (FAILED(path.Assign(buffer.get())))
            return E_OUTOFMEMORY;
    }
    if (fileSystem) {
        const wchar_t* text = path;
        const int length = path.GetLength();
        if (length == 0)
            return E_FAIL;
        if (length > 2) {
            const bool network = (text[0] == L'\\' && text[1] == L'\\') || (text[0] == L'/' && text[1] == L'/');
            const bool drive = text[1] == L':' && (text[2] == L'\\' || text[2] == L'/');
            if (!network && !drive)
                return E_FAIL;
        }
    }
    out = path;
    return S_OK;
}

// ---- The persisted path ----

HRESULT CPCExplorer::JoinPersistLevels(const CxString* names, int count, CxString& out)
{
    out.Empty();
    if (count <= 0)
        return S_OK;
    if (names == nullptr)
        return E_INVALIDARG;
    try {
        std::wstring text;
        for (int i = 0; i < count; ++i) {
            const wchar_t* name = names[i].IsEmpty() ? L"" : static_cast<const wchar_t*>(names[i]);
            if (i > 0)
                text += L'|';
            // Only a level that begins with the name above it is written as what follows that name: a
            // match further inside would cut the path.
            const wchar_t* above = i > 0 && !names[i - 1].IsEmpty() ? static_cast<const wchar_t*>(names[i - 1]) : L"";
            const size_t aboveLength = std::wcslen(above);
            if (aboveLength != 0 && std::wcsncmp(name, above, aboveLength) == 0) {
                text += name + aboveLength;
            } else {
                text += name;
                text += L'\n';
            }
        }
        return out.Assign(text.c_str());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

const wchar_t* CPCExplorer::NextPersistLevel(const wchar_t* text, std::wstring& name)
{
    if (text == nullptr) {
        name.clear();
        return nullptr;
    }
    const wchar_t* end = std::wcschr(text, L'|');
    const wchar_t* last = end != nullptr ? end : text + std::wcslen(text);
    const wchar_t* feed = text;
    while (feed != last && *feed != L'\n')
        ++feed;
    try {
        if (feed != last)
            name.assign(text, feed);
        else
            name.append(text, last);
    } catch (const std::bad_alloc&) {
        // An empty name matches no folder: the walk ends here.
        name.clear();
        return nullptr;
    }
    return end != nullptr ? end + 1 : nullptr;
}

HRESULT CPCExplorer::GetPersistPath(CxString& out) const
{
    out.Empty();
    CxArray<CxString> upward;
    for (HTREEITEM item = TreeItem(nullptr, TVGN_CARET); item != nullptr; item = TreeItem(item, TVGN_PARENT)) {
        if (TreeItem(item, TVGN_PARENT) == nullptr)
            break;  // the desktop itself is not written
        CxString name;
        if (FAILED(ParsingName(item, name)))
            return E_FAIL;
        if (!upward.Add(name))
            return E_OUTOFMEMORY;
    }
    const int count = upward.GetCount();
    if (count == 0)
        return S_OK;
    CxArray<CxString> levels;
    for (int i = count - 1; i >= 0; --i) {
        if (!levels.Add(upward.GetAt(i)))
            return E_OUTOFMEMORY;
    }
    return JoinPersistLevels(&levels.ElementAt(0), count, out);
}

void CPCExplorer::SelectPath(const wchar_t* path)
{
    if (m_hWnd == nullptr)
        return;
    if (GetRootItem() == nullptr)
        BuildRoot();
    const HTREEITEM root = GetRootItem();
    if (root == nullptr)
        return;
    CxArray<HTREEITEM> opened;
    if (!opened.Add(root))
        return;
    bool anyLevel = false;
    std::wstring name;
    HTREEITEM level = TreeItem(root, TVGN_CHILD);
    for (const wchar_t* at = path != nullptr && *path != 0 ? path : nullptr; at != nullptr;) {
        at = NextPersistLevel(at, name);
        if (name.empty())
            break;
        anyLevel = true;
        HTREEITEM match = nullptr;
        for (HTREEITEM child = level; child != nullptr; child = TreeItem(child, TVGN_NEXT)) {
            CxString parsing;
            if (SUCCEEDED(ParsingName(child, parsing)) && CxStrCompare(parsing, name.c_str(), 1) == 0) {
                match = child;
                break;
            }
        }
        if (match == nullptr || !opened.Add(match))
            break;
        ExpandItem(match);
        level = TreeItem(match, TVGN_CHILD);
    }
    // The items are opened already: their expansion must not read them again.
    ModifyFlags(0, CXFH_TREEEXPANDING, 0, 0);
    for (int i = 0; i < opened.GetCount(); ++i)
        ::SendMessageW(m_hWnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(opened.GetAt(i)));
    ModifyFlags(0, 0, 0, CXFH_TREEEXPANDING);
    if (anyLevel)
        ::SendMessageW(m_hWnd, TVM_SELECTITEM, TVGN_CARET,
                       reinterpret_cast<LPARAM>(opened.GetAt(opened.GetCount() - 1)));
}

HRESULT CPCExplorer::GetPersistProps(CxPersistEntries& list)
{
    HWND hWnd = GetWnd();
    if (hWnd != nullptr &&
        !list.Add(CxPersistEntry{NameFromId(L"Path."), L"%s", 1, nullptr, &GetPathCallback, hWnd, nullptr,
                                 &SetPathCallback, hWnd, nullptr}))
        return E_OUTOFMEMORY;
    return CxPersistProps::GetPersistProps(list);
}

// ---- Skin ----

HRESULT CPCExplorer::GetSkinProps(CxSkinPropEntries& list)
{
    return CPaneColours::GetSkinProps(*this, list);
}

HRESULT CPCExplorer::ApplySection(const wchar_t* skinFile)
{
    return m_colours.ApplySection(*this, skinFile, TVM_SETBKCOLOR);
}

// ---- Cell drawing ----

int CPCExplorer::ColourState(HTREEITEM item) const
{
    if (item == nullptr || item != TreeItem(nullptr, TVGN_CARET))
        return 0;
    return (m_flagsLow & CXFL_CLASSSTATE) ? 2 : 1;
}

LRESULT CPCExplorer::OnCustomDraw(NMTVCUSTOMDRAW* draw)
{
    if (draw == nullptr)
        return 0;
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        DrawCell(draw);
        return CDRF_SKIPDEFAULT;
    default:
        return 0;
    }
}

void CPCExplorer::DrawCell(NMTVCUSTOMDRAW* draw)
{
    HWND tree = m_hWnd;
    HDC dc = draw->nmcd.hdc;
    auto item = reinterpret_cast<HTREEITEM>(draw->nmcd.dwItemSpec);
    if (tree == nullptr || dc == nullptr || item == nullptr)
        return;
    RECT line{};
    RECT label{};
    // The rectangle's first bytes name the item asked for.
    std::memcpy(&line, &item, sizeof(item));
    std::memcpy(&label, &item, sizeof(item));
    if (::SendMessageW(tree, TVM_GETITEMRECT, FALSE, reinterpret_cast<LPARAM>(&line)) == 0 ||
        ::SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&label)) == 0)
        return;
    wchar_t text[kItemTextChars] = {};
    TVITEMW data{};
    data.mask = TVIF_TEXT | TVIF_STATE | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_HANDLE;
    data.hItem = item;
    data.stateMask = TVIS_EXPANDED | TVIS_SELECTED;
    data.pszText = text;
    data.cchTextMax = kItemTextChars;
    if (::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data)) == 0)
        return;
    text[kItemTextChars - 1] = 0;

    const SIZE icon = PaneSmallIconSize(m_images);
    const int step = icon.cx + 3;
    // Levels are counted from 1 when the root has its own button column, so the desktop's glyph shows.
    const int level = draw->iLevel + ((::GetWindowLongW(tree, GWL_STYLE) & TVS_LINESATROOT) ? 1 : 0);
    RECT cell = line;
    cell.left = line.left - ::GetScrollPos(tree, SB_HORZ) + level * step;
    cell.right = label.right;
    // The tree lays its text out nearer the icon than the cell draws it: the cell keeps the text's width.
    const LONG textLeft = cell.left + icon.cx + 6;
    if (textLeft > label.left)
        cell.right += textLeft - label.left;

    const int state = ColourState(item);
    const bool expanded = (data.state & TVIS_EXPANDED) != 0;
    const int image = (state != 0 || expanded) ? data.iSelectedImage : data.iImage;
    HIMAGELIST system = m_images != nullptr ? m_images->SystemSmallImageList() : nullptr;
    const bool hasIcon = system != nullptr && image >= 0 && image < ImageList_GetImageCount(system);

    RECT fill = cell;
    if (hasIcon)
        fill.left += icon.cx + 4;
    m_colours.FillBack(dc, fill, state);
    const int iconTop = cell.top + ((cell.bottom - cell.top) - icon.cy) / 2;
    if (hasIcon) {
        HICON itemIcon = ImageList_GetIcon(system, image, ILD_NORMAL);
        if (itemIcon != nullptr) {
            DrawIconEx(dc, cell.left, iconTop, itemIcon, icon.cx, icon.cy, 0, nullptr, DI_NORMAL);
            DestroyIcon(itemIcon);
        }
    }
    const int glyph = expanded ? 1 : 0;
    if (data.cChildren > 0 && m_expanderImages.m_hImageList != nullptr &&
        glyph < ImageList_GetImageCount(m_expanderImages.m_hImageList))
        ImageList_Draw(m_expanderImages.m_hImageList, glyph, dc, cell.left - step, iconTop, ILD_TRANSPARENT);
    RECT where = cell;
    where.left += hasIcon ? icon.cx + 6 : 2;
    m_colours.DrawLabel(dc, where, text, state, kCellFormat);
}

// ---- Messages ----

BOOL CPCExplorer::OnNotifyReflect(NMHDR* header, LRESULT* pResult)
{
    switch (header->code) {
    case static_cast<UINT>(NM_DBLCLK):
    case static_cast<UINT>(NM_RETURN):
        // The tree goes on with its own handling (a double click also toggles the item).
        ExpandItem(TreeItem(nullptr, TVGN_CARET));
        return FALSE;
    case static_cast<UINT>(TVN_ITEMEXPANDEDW):
    case static_cast<UINT>(TVN_ITEMEXPANDEDA):
        // Both records hold the item at the same place.
        ExpandItem(reinterpret_cast<const NMTREEVIEWW*>(header)->itemNew.hItem);
        *pResult = 0;
        return TRUE;
    case static_cast<UINT>(TVN_SELCHANGEDW):
    case static_cast<UINT>(TVN_SELCHANGEDA): {
        const HTREEITEM item = reinterpret_cast<const NMTREEVIEWW*>(header)->itemNew.hItem;
        if (item != nullptr) {
            CxString path;
            const bool fileSystem = SUCCEEDED(GetSelectedFolderPath(path, TRUE));
            ::SendMessageW(::GetParent(m_hWnd), WM_WATCH_PC_FOLDER, reinterpret_cast<WPARAM>(item),
                           fileSystem ? reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(path)) : 0);
        }
        *pResult = 0;
        return TRUE;
    }
    default:
        return CxTreeViewCtrl::OnNotifyReflect(header, pResult);
    }
}

BOOL CPCExplorer::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    switch (message) {
    case WM_DESTROY:
        // The items are still there: the selected folder is saved before they go.
        Save();
        return FALSE;
    case CXM_GETTREEPATH: {
        auto* out = reinterpret_cast<wchar_t**>(wParam);
        lResult = 0;
        if (out != nullptr) {
            *out = nullptr;
            CxString path;
            if (SUCCEEDED(GetPersistPath(path)) && SUCCEEDED(CxStrDup(out, path)))
                lResult = 1;
        }
        return TRUE;
    }
    case CXM_SELECTTREEPATH:
        SelectPath(reinterpret_cast<const wchar_t*>(wParam));
        lResult = 1;
        return TRUE;
    case CXM_CUSTOMDRAW:
        lResult = OnCustomDraw(reinterpret_cast<NMTVCUSTOMDRAW*>(wParam));
        return TRUE;
    case WM_SETFOCUS:
        ModifyFlags(CXFL_CLASSSTATE, 0, 0, 0);
        return FALSE;
    case WM_KILLFOCUS:
        ModifyFlags(0, 0, CXFL_CLASSSTATE, 0);
        return FALSE;
    default:
        break;
    }
    if (CxStaticLayerT<CxTreeViewCtrl, false>::PreMap(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    if (CxSkinCtrl::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN))
        return TRUE;
    return CxPersistWnd::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN);
}
