#include "manager/framework/packs/cx_pack_list.h"

#include "manager/framework/windows/cx_platform.h"

#include <cwchar>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace {

class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : m_handle(handle) {}
    ~FindHandle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            FindClose(m_handle);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// Longest path the resolver and the search build, in characters (the wide calls' own limit).
constexpr DWORD kMaxPathChars = 32767;

bool HasWildcard(const wchar_t* text)
{
    return text != nullptr && (std::wcschr(text, L'*') != nullptr || std::wcschr(text, L'?') != nullptr);
}

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The folder part of a path: everything before its last separator; empty when it has none.
HRESULT FolderOf(const wchar_t* path, CxString* folder)
{
    folder->Empty();
    const int length = CxStrLen(path);
    int cut = length;
    while (cut > 0 && !IsSeparator(path[cut - 1]))
        --cut;
    if (cut <= 1)
        return S_FALSE;
    std::wstring text(path, static_cast<size_t>(cut - 1));
    return folder->Assign(text.c_str());
}

// The file name without folder and extension.
std::wstring TitleOf(const wchar_t* path)
{
    std::wstring name = path != nullptr ? path : L"";
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0)
        name.erase(dot);
    return name;
}

HRESULT ExpandEnvironment(const wchar_t* text, std::wstring* out)
{
    std::vector<wchar_t> buffer(1024);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD needed = ExpandEnvironmentStringsW(text, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (needed == 0 || needed > kMaxPathChars)
            return E_FAIL;
        if (needed <= buffer.size()) {
            buffer.back() = L'\0';
            *out = buffer.data();
            return S_OK;
        }
        buffer.resize(needed);
    }
    return E_FAIL;
}

HRESULT FullPath(const std::wstring& path, std::wstring* out)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0 || length > kMaxPathChars)
            return E_FAIL;
        if (length < buffer.size()) {
            *out = std::wstring(buffer.data(), length);
            return S_OK;
        }
        buffer.resize(length + 1);
    }
    return E_FAIL;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// ---- The INI file search ----

struct FolderId {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

bool ReadFolderId(const std::wstring& folder, FolderId* id)
{
    HANDLE handle =
        CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL read = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!read)
        return false;
    *id = FolderId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

struct IniSearch {
    CxArray<CxString>* files;
    std::vector<FolderId> visited;
};

bool EndsInIni(const wchar_t* name)
{
    const wchar_t* dot = std::wcsrchr(name, L'.');
    return dot != nullptr && std::wcscmp(dot, L".INI") == 0;
}

HRESULT SearchFolder(IniSearch& search, const std::wstring& folder, int depth)
{
    if (depth > CX_PACK_MAX_DEPTH)
        return S_FALSE;
    FolderId id{};
    if (ReadFolderId(folder, &id)) {
        for (const FolderId& seen : search.visited) {
            if (seen.volume == id.volume && seen.indexHigh == id.indexHigh && seen.indexLow == id.indexLow)
                return S_FALSE;
        }
        search.visited.push_back(id);
    }
    WIN32_FIND_DATAW data{};
    FindHandle find(FindFirstFileW((folder + L"\\*.*").c_str(), &data));
    if (find.Get() == INVALID_HANDLE_VALUE)
        return S_FALSE;
    do {
        data.cFileName[MAX_PATH - 1] = L'\0';
        const wchar_t* name = data.cFileName;
        if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0)
            continue;
        const std::wstring path = folder + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                continue;
            const HRESULT hr = SearchFolder(search, path, depth + 1);
            if (FAILED(hr))
                return hr;
        } else if (EndsInIni(name)) {
            CxString file;
            if (FAILED(file.Assign(path.c_str())) || !search.files->Add(file))
                return E_OUTOFMEMORY;
        }
    } while (FindNextFileW(find.Get(), &data));
    return S_OK;
}

// ---- Pack files ----

// Whether the file holds a "common" section with at least one key.
bool HasPackSection(const wchar_t* file)
{
    wchar_t names[4] = {};
    return GetPrivateProfileStringW(CX_PACK_SECTION, nullptr, L"", names, 4, file) > 0;
}

struct PackRead {
    HWND owner;
    CxPackEntry* entry;
};

HRESULT ReadPackSection(const CxResolvedFile& file)
{
    auto* read = static_cast<PackRead*>(file.context);
    if (!HasPackSection(file.path))
        return E_FAIL;
    CxSkinPropEntries list;
    HRESULT hr = CxAppendPackKeys(list, read->owner);
    if (FAILED(hr))
        return hr;
    CxSkinPropRecords records;
    for (int i = 0; i < list.GetCount(); ++i) {
        const CxSkinPropEntry& e = list.ElementAt(i);
        CxSkinPropRecord record;
        if (FAILED(record.section.Assign(e.section)) || FAILED(record.key.Assign(e.key)))
            return E_OUTOFMEMORY;
        record.count = e.count;
        record.owner = e.owner;
        record.parser = e.parser;
        if (!records.Add(record))
            return E_OUTOFMEMORY;
    }
    void* targets[CX_PACKKEY_COUNT];
    for (int k = 0; k < CX_PACKKEY_COUNT; ++k)
        targets[k] = &read->entry->keys[k];
    hr = CxIniReadSection(records, CX_PACK_SECTION, file.path, targets, CX_PACKKEY_COUNT, 0, nullptr);
    return FAILED(hr) ? hr : S_OK;
}

// A 32-bit bitmap of the small-icon size on the button face with the icon drawn on it; null without one.
HBITMAP CheckMarkFromIcon(const wchar_t* location)
{
    if (CxStrLen(location) == 0)
        return nullptr;
    const int cx = GetSystemMetrics(SM_CXSMICON);
    const int cy = GetSystemMetrics(SM_CYSMICON);
    HICON icon = nullptr;
    CxResourceSpec spec;
    const HRESULT parsed = CxParseResourceSpec(location, &spec);
    if (parsed == S_OK) {
        HMODULE module = CxFindSpecModule(spec.module);  // never loads a module
        if (module != nullptr)
            icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(spec.id), IMAGE_ICON, cx, cy, 0));
    } else if (parsed == S_FALSE) {
        icon = static_cast<HICON>(LoadImageW(nullptr, location, IMAGE_ICON, cx, cy, LR_LOADFROMFILE));
    }
    if (icon == nullptr)
        return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = cx;
    info.bmiHeader.biHeight = cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = bitmap != nullptr ? CreateCompatibleDC(nullptr) : nullptr;
    if (dc != nullptr) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        RECT all{0, 0, cx, cy};
        FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
        DrawIconEx(dc, 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL);
        SelectObject(dc, old);
        DeleteDC(dc);
    } else if (bitmap != nullptr) {
        DeleteObject(bitmap);
        bitmap = nullptr;
    }
    DestroyIcon(icon);
    return bitmap;
}

bool MenuHasItem(HMENU menu, UINT id)
{
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_ID;
    return GetMenuItemInfoW(menu, id, FALSE, &info) != FALSE;
}

bool OddPlatform()
{
    return (CxGetPlatform() & 1) != 0;
}

HRESULT InsertPackItem(HMENU menu, UINT anchorId, UINT id, const wchar_t* text, HBITMAP unchecked, HBITMAP checked)
{
    CxHeapPtr<char> ansi(CxW2ANew(text != nullptr ? text : L""));
    if (!ansi)
        return E_OUTOFMEMORY;
    MENUITEMINFOA item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STATE | MIIM_ID | MIIM_CHECKMARKS;
    if (OddPlatform()) {
        item.fMask |= MIIM_TYPE;
    } else {
        item.fMask |= MIIM_STRING | MIIM_FTYPE;
    }
    item.fType = MFT_STRING | MFT_RADIOCHECK;
    item.fState = MFS_UNCHECKED;
    item.wID = id;
    item.hbmpUnchecked = unchecked;
    item.hbmpChecked = checked;
    item.dwTypeData = ansi.get();
    return InsertMenuItemA(menu, anchorId, FALSE, &item) ? S_OK : E_FAIL;
}

}  // namespace

// ---- Pack entries ----

const wchar_t* CxPackEntry::Text(int key, int index) const
{
    if (key < 0 || key >= CX_PACKKEY_COUNT || !keys[key].IsValidIndex(index))
        return nullptr;
    return keys[key].ElementAt(index);
}

HRESULT CxPackEntries::Add(CxPackEntry* entry)
{
    if (entry == nullptr)
        return E_INVALIDARG;
    if (!m_entries.Add(entry)) {
        delete entry;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void CxPackEntries::Swap(int i, int j)
{
    std::swap(m_entries.ElementAt(i), m_entries.ElementAt(j));
}

void CxPackEntries::RemoveAll()
{
    for (int i = 0; i < m_entries.GetCount(); ++i)
        delete m_entries.ElementAt(i);
    m_entries.RemoveAll();
}

HRESULT CxAppendPackKeys(CxSkinPropEntries& list, HWND owner)
{
    static const struct {
        const wchar_t* key;
        int count;
    } kKeys[CX_PACKKEY_COUNT] = {{L"name", 1}, {L"dscr", 1}, {L"path", 1}, {L"icon", 2}};
    for (const auto& k : kKeys) {
        if (!list.Add(CxSkinPropEntry{CX_PACK_SECTION, k.key, k.count, owner, &CxSkinParseText}))
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CxResolvePackPath(const wchar_t* value, const wchar_t* base, BOOL mustBeFolder, CxString* out)
{
    if (out == nullptr)
        return E_INVALIDARG;
    out->Empty();
    std::wstring path;
    if (CxStrLen(value) == 0) {
        if (CxStrLen(base) == 0)
            return S_FALSE;
        path = base;
    } else {
        HRESULT hr = ExpandEnvironment(value, &path);
        if (FAILED(hr))
            return S_FALSE;
        CxResourceSpec spec;
        if (CxParseResourceSpec(path.c_str(), &spec) != S_FALSE)
            return mustBeFolder ? S_FALSE : out->Assign(path.c_str());  // a resource is no folder
        if (CxIsRelativeFilePath(path.c_str())) {
            if (CxStrLen(base) == 0)
                return S_FALSE;
            path = std::wstring(base) + L"\\" + path;
        }
    }
    std::wstring full;
    if (FAILED(FullPath(path, &full)))
        return S_FALSE;
    while (!full.empty() && IsSeparator(full.back()))
        full.pop_back();
    if (full.empty() || (mustBeFolder && !IsFolder(full)))
        return S_FALSE;
    return out->Assign(full.c_str());
}

HRESULT CxReadPackEntry(HWND owner, const wchar_t* iniFile, CxPackEntry* entry)
{
    if (entry == nullptr || CxStrLen(iniFile) == 0)
        return E_INVALIDARG;
    if (FAILED(CxIsWindow(owner)))
        return E_INVALIDARG;
    for (CxSkinTexts& key : entry->keys)
        key.RemoveAll();
    PackRead read{owner, entry};
    HRESULT hr = CxWithResolvedFile(iniFile, ReadPackSection, &read);
    if (FAILED(hr))
        return hr;
    for (int k = 0; k < CX_PACKKEY_COUNT; ++k) {
        hr = CxArraySetMinCount(entry->keys[k], k == CX_PACKKEY_PATH || k == CX_PACKKEY_ICON ? 2 : 1);
        if (FAILED(hr))
            return hr;
    }
    // The pack's identity: the file's full path, or the resource location as given.
    CxString identity;
    CxString folder;
    CxResourceSpec spec;
    if (CxParseResourceSpec(iniFile, &spec) == S_FALSE) {
        std::wstring full;
        hr = FullPath(iniFile, &full);
        if (FAILED(hr))
            return hr;
        hr = identity.Assign(full.c_str());
        if (SUCCEEDED(hr))
            hr = FolderOf(identity, &folder);
    } else {
        hr = identity.Assign(iniFile);
    }
    if (FAILED(hr))
        return hr;
    CxSkinTexts& path = entry->keys[CX_PACKKEY_PATH];
    CxString resolved;
    hr = CxResolvePackPath(path.ElementAt(0), folder, TRUE, &resolved);
    if (FAILED(hr))
        return hr;
    if (!path.SetAt(0, resolved) || !path.SetAt(1, identity))
        return E_OUTOFMEMORY;
    CxSkinTexts& icons = entry->keys[CX_PACKKEY_ICON];
    for (int i = 0; i < 2; ++i) {
        if (CxStrLen(icons.ElementAt(i)) == 0)
            continue;
        hr = CxResolvePackPath(icons.ElementAt(i), folder, FALSE, &resolved);
        if (FAILED(hr))
            return hr;
        if (!icons.SetAt(i, resolved))
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

// ---- Folders, files and menus ----

HRESULT CxGetPackFolder(CxString* folder, BOOL skins)
{
    if (folder == nullptr)
        return E_INVALIDARG;
    folder->Empty();
    std::vector<wchar_t> path(MAX_PATH + 1);
    DWORD length = 0;
    for (;;) {
        length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return HRESULT_FROM_WIN32(GetLastError());
        if (length < path.size())
            break;
        if (path.size() >= kMaxPathChars)
            return E_FAIL;
        path.resize(path.size() * 2);
    }
    std::wstring text(path.data(), length);
    const size_t slash = text.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return E_FAIL;
    text.erase(slash);
    text += skins ? L"\\SKINS" : L"\\LANGUAGES";
    return folder->Assign(text.c_str());
}

HRESULT CxEnumIniFiles(const wchar_t* folder, CxArray<CxString>& files)
{
    if (CxStrLen(folder) == 0)
        return E_INVALIDARG;
    std::wstring root = folder;
    while (root.size() > 1 && IsSeparator(root.back()))
        root.pop_back();
    IniSearch search{&files, {}};
    const HRESULT hr = SearchFolder(search, root, 0);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CxAppendPackMenu(HMENU menu, CxPackEntries& packs, UINT anchorId, int pinned, UINT firstId, UINT separatorId)
{
    if (menu == nullptr || !IsMenu(menu))
        return E_INVALIDARG;
    if (!MenuHasItem(menu, anchorId))
        return E_FAIL;
    if (packs.GetCount() == 0)
        return S_FALSE;
    const int count = packs.GetCount() < CX_MAX_PACKS ? packs.GetCount() : CX_MAX_PACKS;
    for (int i = 0; i < count; ++i) {
        CxPackEntry& pack = packs.ElementAt(i);
        if (CxStrLen(pack.Name()) != 0)
            continue;
        CxString title(TitleOf(pack.IniPath()).c_str());
        if (!pack.keys[CX_PACKKEY_NAME].IsValidIndex(0) ? !pack.keys[CX_PACKKEY_NAME].Add(title)
                                                        : !pack.keys[CX_PACKKEY_NAME].SetAt(0, title))
            return E_OUTOFMEMORY;
    }
    for (int i = 0; i < count; ++i) {
        for (int j = i + 1; j < count; ++j) {
            if (i == pinned || j == pinned)
                continue;
            if (CxStrCompare(packs.ElementAt(i).Name(), packs.ElementAt(j).Name(), 0) > 0)
                packs.Swap(i, j);
        }
    }
    HRESULT result = S_OK;
    for (int i = 0; i < count; ++i) {
        CxPackEntry& pack = packs.ElementAt(i);
        pack.id = static_cast<int>(firstId) + i;
        HBITMAP unchecked = CheckMarkFromIcon(pack.Text(CX_PACKKEY_ICON, 0));
        HBITMAP checked = CheckMarkFromIcon(pack.Text(CX_PACKKEY_ICON, 1));
        if (FAILED(InsertPackItem(menu, anchorId, static_cast<UINT>(pack.id), pack.Name(), unchecked, checked))) {
            if (unchecked != nullptr)
                DeleteObject(unchecked);
            if (checked != nullptr)
                DeleteObject(checked);
            result = S_FALSE;
        }
    }
    for (int i = count; i < packs.GetCount(); ++i)
        packs.ElementAt(i).id = -1;
    MENUITEMINFOW separator{};
    separator.cbSize = sizeof(separator);
    separator.fMask = MIIM_FTYPE | MIIM_ID;
    separator.fType = MFT_SEPARATOR;
    separator.wID = separatorId;
    if (!InsertMenuItemW(menu, anchorId, FALSE, &separator))
        result = S_FALSE;
    return result;
}

void CxRemovePackMenu(HMENU menu, UINT firstId, UINT lastId, UINT separatorId)
{
    if (menu == nullptr || !IsMenu(menu))
        return;
    for (UINT id = firstId; id <= lastId; ++id) {
        MENUITEMINFOW item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_CHECKMARKS;
        if (!GetMenuItemInfoW(menu, id, FALSE, &item))
            continue;
        DeleteMenu(menu, id, MF_BYCOMMAND);
        if (item.hbmpChecked != nullptr)
            DeleteObject(item.hbmpChecked);
        if (item.hbmpUnchecked != nullptr)
            DeleteObject(item.hbmpUnchecked);
    }
    DeleteMenu(menu, separatorId, MF_BYCOMMAND);
}

// ---- CxPackList ----

HRESULT CxPackList::HasFiles(const wchar_t* pattern, DWORD mask)
{
    if (CxStrLen(pattern) == 0)
        return E_NOTIMPL;
    WIN32_FIND_DATAW data{};
    FindHandle find(FindFirstFileW(pattern, &data));
    if (find.Get() == INVALID_HANDLE_VALUE)
        return E_NOTIMPL;
    do {
        DWORD attributes = data.dwFileAttributes;
        if (attributes == 0)
            attributes = FILE_ATTRIBUTE_NORMAL;  // a plain file, as the system reports one
        if (attributes & mask)
            return S_OK;
    } while (FindNextFileW(find.Get(), &data));
    return E_NOTIMPL;
}

int CxPackList::FindByText(const CxPackEntries& packs, const wchar_t* iniPath)
{
    if (CxStrLen(iniPath) == 0)
        return -1;
    for (int i = 0; i < packs.GetCount(); ++i) {
        if (CxStrCompare(packs.ElementAt(i).IniPath(), iniPath, 1) == 0)
            return packs.ElementAt(i).id;
    }
    return -1;
}

wchar_t* CxPackList::GetTextById(const CxPackEntries& packs, int id)
{
    if (id == -1)
        return nullptr;
    for (int i = 0; i < packs.GetCount(); ++i) {
        if (packs.ElementAt(i).id != id)
            continue;
        wchar_t* copy = nullptr;
        CxStrDup(&copy, packs.ElementAt(i).IniPath());
        return copy;
    }
    return nullptr;
}

HRESULT CxPackList::ValidateSkinFile(CxString& file)
{
    const bool wasBuiltIn = !file.IsEmpty() && CxStrCompare(file, m_builtInFile, 1) == 0;
    const bool passed = !file.IsEmpty() && !HasWildcard(file) &&
                        HasFiles(file, ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)) == S_OK &&
                        !IsFolder(static_cast<const wchar_t*>(file));
    if (!passed || !wasBuiltIn)
        ModifyFlags(0, 0, CXFL_RESTOREPLACEMENT, 0);
    if (passed)
        return S_OK;
    if (m_builtInFile.IsEmpty())
        return E_FAIL;
    return file.Assign(m_builtInFile);
}

BOOL CxPackList::AllowBuiltInFallback(const wchar_t* section, const wchar_t*)
{
    return CxStrLen(section) != 0;
}

int CxPackList::GetPinnedPosition()
{
    return (m_flagsLow & CXFL_PINSECONDPACK) ? m_secondPack : -1;
}

HRESULT CxPackList::Rebuild(BOOL scan)
{
    m_packs.RemoveAll();
    HWND wnd = GetWnd();
    if (wnd == nullptr)
        return E_UNEXPECTED;
    CxArray<CxString> files(8);
    if (scan) {
        CxString folder;
        HRESULT hr = CxGetPackFolder(&folder, TRUE);
        if (SUCCEEDED(hr))
            hr = CxEnumIniFiles(folder, files);
        if (hr == E_OUTOFMEMORY)
            return hr;
    }
    SendMessageW(wnd, CXM_PACKLISTBUILT, reinterpret_cast<WPARAM>(&files), 0);
    for (int i = 0; i < files.GetCount(); ++i) {
        auto* entry = new (std::nothrow) CxPackEntry;
        if (entry == nullptr)
            return E_OUTOFMEMORY;
        if (FAILED(CxReadPackEntry(wnd, files.ElementAt(i), entry))) {
            delete entry;
            continue;
        }
        const HRESULT hr = m_packs.Add(entry);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

void CxPackList::UpdateCurrentId()
{
    m_currentId = m_skinFile.IsEmpty() ? -1 : FindByText(m_packs, m_skinFile);
}

HRESULT CxPackList::BuildPackMenu(HMENU menu, int pinned)
{
    HRESULT hr = Rebuild(TRUE);
    if (menu != nullptr && IsMenu(menu) && MenuHasItem(menu, CX_ID_PACK_ANCHOR))
        CxRemovePackMenu(menu, CX_ID_PACK_FIRST, CX_ID_PACK_LAST, CX_ID_PACK_SEPARATOR);
    if (pinned == -1)
        pinned = GetPinnedPosition();
    const HRESULT inserted =
        CxAppendPackMenu(menu, m_packs, CX_ID_PACK_ANCHOR, pinned, CX_ID_PACK_FIRST, CX_ID_PACK_SEPARATOR);
    UpdateCurrentId();
    if (FAILED(hr))
        return hr;
    return inserted;
}

HRESULT CxPackList::ApplySelectedSkin(const wchar_t* text, int packId)
{
    CxString file;
    if (CxStrLen(text) == 0 && packId != -1)
        file.Attach(GetTextById(m_packs, packId));
    else if (FAILED(file.Assign(text)))
        return E_OUTOFMEMORY;
    HRESULT hr = ValidateSkinFile(file);
    if (FAILED(hr))
        return hr;
    m_skinFile = file;
    UpdateCurrentId();
    HWND wnd = GetWnd();
    if (file.IsEmpty() || wnd == nullptr)
        return S_OK;
    // What every window's reader would ask this one goes down with the file, taken once. The local
    // copies stay valid whatever a receiver does with the current skin file or the packs.
    CxString currentFolder;
    CxString secondFolder;
    CxString packFile;
    const bool copied = SUCCEEDED(GetPackText({CX_PACKTEXT_PATH, 0, -1, CX_PACK_CURRENT}, &currentFolder)) &&
                        SUCCEEDED(GetPackText({CX_PACKTEXT_PATH, 0, -1, CX_PACK_BUILTIN}, &secondFolder)) &&
                        SUCCEEDED(packFile.Assign(m_builtInFile));
    CxSkinPackData pack;
    pack.owner = wnd;
    pack.currentFolder = currentFolder;
    pack.secondFolder = secondFolder;
    pack.packFile = packFile;
    pack.allowFallback = &CxPackList::AllowFallbackFor;
    pack.context = this;
    struct Broadcast {
        const wchar_t* file;
        const CxSkinPackData* pack;
        static BOOL CALLBACK Send(HWND child, LPARAM lParam)
        {
            const auto* broadcast = reinterpret_cast<const Broadcast*>(lParam);
            SendMessageW(child, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(broadcast->file),
                         reinterpret_cast<LPARAM>(broadcast->pack));
            return TRUE;
        }
    } broadcast{file, copied ? &pack : nullptr};  // without the copies every window asks as before
    EnumChildWindows(wnd, &Broadcast::Send, reinterpret_cast<LPARAM>(&broadcast));
    if (IsWindow(wnd))
        SendMessageW(wnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(static_cast<const wchar_t*>(file)),
                     reinterpret_cast<LPARAM>(broadcast.pack));
    return S_OK;
}

void CxPackList::OnPackListBuilt(CxArray<CxString>* files)
{
    if (files == nullptr || m_builtInFile.IsEmpty())
        return;
    if (!files->Add(m_builtInFile))
        return;
    const int last = files->GetCount() - 1;
    if (last > 0) {
        CxString first = files->ElementAt(0);
        files->SetAt(0, files->ElementAt(last));
        files->SetAt(last, first);
    }
}

HRESULT CxPackList::GetPackText(const CxPackTextRequest& request, CxString* text) const
{
    text->Empty();
    int id = request.packId;
    if (request.selector == CX_PACK_CURRENT)
        id = m_currentId;
    else if (request.selector == CX_PACK_BUILTIN)
        id = m_secondPack;
    if (id == -1)
        return S_FALSE;
    for (int i = 0; i < m_packs.GetCount(); ++i) {
        const CxPackEntry& pack = m_packs.ElementAt(i);
        if (pack.id == id)
            return text->Assign(pack.Text(request.key, request.element));
    }
    return S_FALSE;
}

LRESULT CxPackList::OnGetPackText(const CxPackTextRequest* request, CxString* text)
{
    if (text == nullptr)
        return 1;
    text->Empty();
    if (request != nullptr)
        GetPackText(*request, text);
    return 1;
}

BOOL CxPackList::AllowFallbackFor(void* context, const wchar_t* section, const wchar_t* key)
{
    return static_cast<CxPackList*>(context)->AllowBuiltInFallback(section, key);
}

BOOL CxPackList::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                      DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (run == CxMapRun::BaseAndOwn && CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    switch (message) {
    case CXM_BUILDPACKMENU:
        BuildPackMenu(reinterpret_cast<HMENU>(wParam), static_cast<int>(lParam));
        lResult = 0;
        return TRUE;
    case CXM_APPLYSELECTEDSKIN:
        ApplySelectedSkin(reinterpret_cast<const wchar_t*>(wParam), static_cast<int>(lParam));
        lResult = 0;
        return TRUE;
    case CXM_GETSKINFILE:
        if (wParam == 0)
            return FALSE;
        CxStrDup(reinterpret_cast<wchar_t**>(wParam), m_skinFile);
        lResult = 1;
        return TRUE;
    case CXM_GETPACKTEXT:
        lResult =
            OnGetPackText(reinterpret_cast<const CxPackTextRequest*>(wParam), reinterpret_cast<CxString*>(lParam));
        return TRUE;
    case CXM_PACKLISTBUILT:
        OnPackListBuilt(reinterpret_cast<CxArray<CxString>*>(wParam));
        lResult = 0;
        return TRUE;
    case CXM_ASKOWNER:
        lResult =
            AllowBuiltInFallback(reinterpret_cast<const wchar_t*>(wParam), reinterpret_cast<const wchar_t*>(lParam));
        return TRUE;
    case CXM_GETPACKFILE:
        if (wParam == 0)
            return FALSE;
        reinterpret_cast<CxString*>(wParam)->Assign(m_builtInFile);
        lResult = 1;
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- The persisted skin ----

CxPersistEntry CxPackList::SkinEntry(HWND hWnd)
{
    return CxPersistEntry{L"Skin", L"%s",  1, nullptr, &CxPackList::SkinGet, hWnd, nullptr, &CxPackList::SkinSet,
                          hWnd,    nullptr};
}

HRESULT CxPackList::SkinGet(CxPersistCall& call)
{
    auto hWnd = static_cast<HWND>(call.context);
    if (FAILED(CxIsWindow(hWnd)))
        return E_INVALIDARG;
    wchar_t* text = nullptr;
    if (SendMessageW(hWnd, CXM_GETSKINFILE, reinterpret_cast<WPARAM>(&text), 0) == 0) {
        CxFree(text);
        return E_NOTIMPL;
    }
    if (CxStrLen(text) != 0)
        call.text.Attach(text);
    else
        CxFree(text);
    return S_OK;
}

HRESULT CxPackList::SkinSet(CxPersistCall& call)
{
    auto hWnd = static_cast<HWND>(call.context);
    if (FAILED(CxIsWindow(hWnd)))
        return E_INVALIDARG;
    SendMessageW(hWnd, CXM_APPLYSELECTEDSKIN, reinterpret_cast<WPARAM>(static_cast<const wchar_t*>(call.text)), 0);
    return S_OK;
}
