#include "manager/framework/windows/cx_persist.h"

#include "manager/framework/windows/cx_platform.h"

#include <cwchar>
#include <cwctype>

namespace {

// Closes a registry key when it goes.
class RegKey {
public:
    RegKey() = default;
    ~RegKey()
    {
        if (m_key != nullptr)
            RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* Address() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

constexpr REGSAM kKeyAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;

LONG CreateKey(HKEY parent, const wchar_t* component, HKEY* key)
{
    const wchar_t* name = component != nullptr ? component : L"";
    if (CxIsNtPlatform())
        return RegCreateKeyExW(parent, name, 0, nullptr, 0, kKeyAccess, nullptr, key, nullptr);
    CxHeapPtr<char> ansi(CxW2ANew(name));
    if (ansi.get() == nullptr)
        return ERROR_OUTOFMEMORY;
    return RegCreateKeyExA(parent, ansi.get(), 0, nullptr, 0, kKeyAccess, nullptr, key, nullptr);
}

// Opens an existing key for reading only: a query creates nothing and needs no write access.
LONG OpenKeyToRead(HKEY parent, const wchar_t* component, HKEY* key)
{
    const wchar_t* name = component != nullptr ? component : L"";
    if (CxIsNtPlatform())
        return RegOpenKeyExW(parent, name, 0, KEY_READ, key);
    CxHeapPtr<char> ansi(CxW2ANew(name));
    if (ansi.get() == nullptr)
        return ERROR_OUTOFMEMORY;
    return RegOpenKeyExA(parent, ansi.get(), 0, KEY_READ, key);
}

// Reads a string value into a terminated framework heap text; false when there is none to read.
bool ReadStringValue(HKEY key, const wchar_t* name, CxString* value)
{
    const bool wide = CxIsNtPlatform();
    CxHeapPtr<char> ansiName(wide ? nullptr : CxW2ANew(name != nullptr ? name : L""));
    if (!wide && ansiName.get() == nullptr)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    LONG error = wide ? RegQueryValueExW(key, name, nullptr, &type, nullptr, &size)
                      : RegQueryValueExA(key, ansiName.get(), nullptr, &type, nullptr, &size);
    // Only string values are taken: anything else may hold no terminator at all.
    if (error != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    const DWORD unit = wide ? sizeof(wchar_t) : 1;
    if (size > (CX_MAX_PERSIST_TEXT + 1) * unit)
        return false;
    // Room for the value and a terminator of our own, whatever the stored data ends with.
    const DWORD room = size + 2 * sizeof(wchar_t);
    CxHeapPtr<BYTE> data(static_cast<BYTE*>(CxAlloc(room)));
    if (data.get() == nullptr)
        return false;
    ZeroMemory(data.get(), room);
    DWORD read = size;
    error = wide ? RegQueryValueExW(key, name, nullptr, &type, data.get(), &read)
                 : RegQueryValueExA(key, ansiName.get(), nullptr, &type, data.get(), &read);
    if (error != ERROR_SUCCESS || read > size || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    if (wide) {
        reinterpret_cast<wchar_t*>(data.get())[read / sizeof(wchar_t)] = 0;
        return SUCCEEDED(value->Assign(reinterpret_cast<const wchar_t*>(data.get())));
    }
    data.get()[read] = 0;
    CxHeapPtr<wchar_t> converted(CxA2WNew(reinterpret_cast<const char*>(data.get())));
    if (converted.get() == nullptr)
        return false;
    return SUCCEEDED(value->Assign(converted.get()));
}

bool IsBlank(const wchar_t* text)
{
    for (; text != nullptr && *text != 0; ++text) {
        if (!std::iswspace(*text))
            return false;
    }
    return true;
}

}  // namespace

HRESULT CxKeyPathAdd(CxKeyPath& path, const wchar_t* component)
{
    CxString copy;
    if (FAILED(copy.Assign(component)))
        return E_OUTOFMEMORY;
    return path.Add(copy) ? S_OK : E_OUTOFMEMORY;
}

// ---- Registry helpers ----

namespace {

// Walks the path's components with `open`, closing the keys on the way; the last one is the caller's.
template <typename Open>
HRESULT WalkKeyPath(HKEY root, const CxKeyPath& path, HKEY* key, Open open)
{
    if (key == nullptr)
        return E_INVALIDARG;
    *key = nullptr;
    if (path.GetCount() == 0)
        return E_INVALIDARG;
    HKEY current = root;
    for (int i = 0; i < path.GetCount(); ++i) {
        HKEY next = nullptr;
        const LONG error = open(current, path.GetAt(i), &next);
        if (current != root)
            RegCloseKey(current);
        if (error != ERROR_SUCCESS)
            return error == ERROR_OUTOFMEMORY || error == ERROR_NOT_ENOUGH_MEMORY ? E_OUTOFMEMORY : E_ABORT;
        current = next;
    }
    *key = current;
    return S_OK;
}

}  // namespace

HRESULT CxRegOpenKeyPath(HKEY root, const CxKeyPath& path, HKEY* key)
{
    return WalkKeyPath(root, path, key, CreateKey);
}

HRESULT CxRegQueryValue(HKEY root, const CxKeyPath& path, const wchar_t* name, const wchar_t* defaultText,
                        CxString* value)
{
    if (value == nullptr)
        return E_INVALIDARG;
    RegKey key;
    if (SUCCEEDED(WalkKeyPath(root, path, key.Address(), OpenKeyToRead)) && ReadStringValue(key.Get(), name, value))
        return S_OK;
    return SUCCEEDED(value->Assign(defaultText)) ? S_FALSE : E_OUTOFMEMORY;
}

HRESULT CxRegSetValue(HKEY root, const CxKeyPath& path, const wchar_t* name, const wchar_t* text)
{
    RegKey key;
    const HRESULT hr = CxRegOpenKeyPath(root, path, key.Address());
    if (FAILED(hr))
        return hr == E_INVALIDARG ? hr : E_ACCESSDENIED;
    LONG error;
    if (CxIsNtPlatform()) {
        if (text == nullptr || *text == 0) {
            error = RegDeleteValueW(key.Get(), name);
            return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? S_OK : E_ACCESSDENIED;
        }
        const DWORD bytes = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
        error = RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
        return error == ERROR_SUCCESS ? S_OK : E_ACCESSDENIED;
    }
    CxHeapPtr<char> ansiName(CxW2ANew(name != nullptr ? name : L""));
    if (ansiName.get() == nullptr)
        return E_ACCESSDENIED;
    if (text == nullptr || *text == 0) {
        error = RegDeleteValueA(key.Get(), ansiName.get());
        return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? S_OK : E_ACCESSDENIED;
    }
    CxHeapPtr<char> ansiText(CxW2ANew(text));
    if (ansiText.get() == nullptr)
        return E_ACCESSDENIED;
    const DWORD bytes = static_cast<DWORD>(std::strlen(ansiText.get()) + 1);
    error = RegSetValueExA(key.Get(), ansiName.get(), 0, REG_SZ, reinterpret_cast<const BYTE*>(ansiText.get()), bytes);
    return error == ERROR_SUCCESS ? S_OK : E_ACCESSDENIED;
}

// ---- CxPersistProps ----

CxPersistProps::~CxPersistProps()
{
    ClearRecords();
}

void CxPersistProps::ClearRecords()
{
    // Contexts the list owns are freed once each, also when the get and set contexts are one record.
    for (int i = 0; i < m_records.GetCount(); ++i) {
        CxPersistRecord& record = m_records.ElementAt(i);
        if (record.freeContext == nullptr)
            continue;
        if (record.getContext != nullptr)
            record.freeContext(record.getContext);
        if (record.setContext != nullptr && record.setContext != record.getContext)
            record.freeContext(record.setContext);
        record.getContext = record.setContext = nullptr;
    }
    m_records.RemoveAll();
}

HRESULT CxPersistProps::GetPersistProps(CxPersistEntries& list)
{
    return Build(list);
}

HRESULT CxPersistProps::CanLoad(BOOL allowed)
{
    return allowed ? S_OK : E_ACCESSDENIED;
}

HKEY CxPersistProps::GetRootKey()
{
    return HKEY_CURRENT_USER;
}

HRESULT CxPersistProps::Build(const CxPersistEntries& list)
{
    HRESULT hr = S_OK;
    ClearRecords();
    m_path.RemoveAll();
    m_root = GetRootKey();
    const HRESULT pathResult = GetPersistKeyPath(m_path);
    for (int i = 0; i < list.GetCount(); ++i) {
        const CxPersistEntry& entry = list.GetAt(i);
        if (entry.name == nullptr)
            break;
        CxPersistRecord record;
        record.valueCount = entry.valueCount;
        record.get = entry.get;
        record.getContext = entry.getContext;
        record.set = entry.set;
        record.setContext = entry.setContext;
        record.freeContext = entry.freeContext;
        const bool copied = SUCCEEDED(record.name.Assign(entry.name)) &&
                            SUCCEEDED(record.format.Assign(entry.format)) &&
                            SUCCEEDED(record.saveText.Assign(entry.saveText)) &&
                            SUCCEEDED(record.loadDefault.Assign(entry.loadDefault));
        if (!copied || !m_records.Add(record)) {
            // The record was not stored: its owned contexts go now.
            if (entry.freeContext != nullptr) {
                if (entry.getContext != nullptr)
                    entry.freeContext(entry.getContext);
                if (entry.setContext != nullptr && entry.setContext != entry.getContext)
                    entry.freeContext(entry.setContext);
            }
            hr = E_OUTOFMEMORY;
        }
    }
    return FAILED(pathResult) ? pathResult : hr;
}

HRESULT CxPersistProps::Save()
{
    if (!(m_flagsLow & CXFL_CANSAVEPROPS))
        return E_ACCESSDENIED;
    HRESULT last = S_OK;
    for (int i = 0; i < m_records.GetCount(); ++i) {
        CxPersistRecord& record = m_records.ElementAt(i);
        record.value = record.saveText;
        if (record.get != nullptr) {
            CxPersistCall call{record.value, record.format, record.valueCount, record.getContext, &m_path, record.name};
            if (FAILED(record.get(call))) {
                // Nothing known to write: what is stored stays.
                last = E_FAIL;
                continue;
            }
            record.value = call.text;
        }
        const HRESULT hr = CxRegSetValue(m_root, m_path, record.name, record.value);
        if (FAILED(hr))
            last = hr;
    }
    return last;
}

HRESULT CxPersistProps::Load()
{
    if (FAILED(CanLoad((m_flagsLow & CXFL_CANLOADPROPS) != 0)))
        return E_ACCESSDENIED;
    HRESULT last = S_OK;
    for (int i = 0; i < m_records.GetCount(); ++i) {
        CxPersistRecord& record = m_records.ElementAt(i);
        const HRESULT read = CxRegQueryValue(m_root, m_path, record.name, record.loadDefault, &record.value);
        if (FAILED(read)) {
            last = read;
            continue;
        }
        if (record.set == nullptr)
            continue;
        CxPersistCall call{record.value, record.format, record.valueCount, record.setContext, &m_path, record.name};
        if (FAILED(record.set(call)))
            last = E_ACCESSDENIED;
    }
    return last;
}

HRESULT CxPersistProps::Restore()
{
    CxPersistEntries list;
    const HRESULT built = GetPersistProps(list);
    const HRESULT loaded = Load();
    return FAILED(loaded) ? loaded : built;
}

// ---- CxPersistWnd ----

BOOL CxPersistWnd::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                        DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (run == CxMapRun::BaseAndOwn &&
        CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN))
        return TRUE;
    switch (message) {
    case CXM_SAVEPROPS:
        Save();
        lResult = 1;
        return TRUE;
    case CXM_LOADPROPS:
        Load();
        lResult = 1;
        return TRUE;
    case CXM_GETROOTKEY:
        lResult = reinterpret_cast<LRESULT>(GetRootKey());
        return TRUE;
    case CXM_GETPERSISTKEYPATH: {
        auto* path = reinterpret_cast<CxKeyPath*>(wParam);
        lResult = path != nullptr && SUCCEEDED(GetPersistKeyPath(*path)) ? 1 : 0;
        return TRUE;
    }
    default:
        return FALSE;
    }
}

// ---- CxPersistChild ----

HKEY CxPersistChild::GetRootKey()
{
    HWND parent = GetParent(GetWnd());
    if (FAILED(CxIsWindow(parent)))
        return CxPersistProps::GetRootKey();
    return reinterpret_cast<HKEY>(SendMessageW(parent, CXM_GETROOTKEY, 0, 0));
}

HRESULT CxPersistChild::GetPersistKeyPath(CxKeyPath& path)
{
    HWND parent = GetParent(GetWnd());
    if (FAILED(CxIsWindow(parent)))
        return E_INVALIDARG;
    return SendMessageW(parent, CXM_GETPERSISTKEYPATH, reinterpret_cast<WPARAM>(&path), 0) != 0 ? S_OK : E_FAIL;
}

// ---- Window placement ----

CxPersistEntry CxPlacementEntry(HWND hWnd)
{
    return CxPersistEntry{L"Placement", L"%d,%d,%d,%d,%d,%d", 6,    nullptr, &CxPlacementGet, hWnd,
                          nullptr,      &CxPlacementSet,      hWnd, nullptr};
}

HRESULT CxPlacementGet(CxPersistCall& call)
{
    auto hWnd = static_cast<HWND>(call.context);
    if (FAILED(CxIsWindow(hWnd)))
        return E_INVALIDARG;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (!GetWindowPlacement(hWnd, &placement))
        return E_ABORT;
    const RECT& r = placement.rcNormalPosition;
    return call.text.Format(L"%d,%d,%d,%d,%d,%d", static_cast<int>(r.left), static_cast<int>(r.top),
                            static_cast<int>(r.right), static_cast<int>(r.bottom), static_cast<int>(placement.showCmd),
                            static_cast<int>(placement.flags));
}

HRESULT CxPlacementSet(CxPersistCall& call)
{
    auto hWnd = static_cast<HWND>(call.context);
    if (FAILED(CxIsWindow(hWnd)))
        return E_INVALIDARG;
    DWORD flags[2] = {0, 0};
    if (SendMessageW(hWnd, CXM_GETFLAGS, reinterpret_cast<WPARAM>(flags), 0) == 0)
        return E_NOTIMPL;
    const DWORD low = flags[0];
    const DWORD high = flags[1];

    if (!(low & CXFL_RESTOREPLACEMENT)) {
        if (high & CXFH_SELFPLACEMENT)
            SendMessageW(hWnd, CXM_APPLYPLACEMENT, SW_SHOW, 0);
        return S_OK;
    }

    if (!call.text.IsEmpty()) {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof(placement);
        if (!GetWindowPlacement(hWnd, &placement))
            return E_ABORT;
        int v[6] = {};
        int consumed = -1;
        // Exactly six numbers and nothing after them.
        const int fields =
            swscanf(call.text, L"%d,%d,%d,%d,%d,%d%n", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &consumed);
        if (fields != 6 || consumed < 0 || !IsBlank(static_cast<const wchar_t*>(call.text) + consumed))
            return E_INVALIDARG;
        // A stored show command that would hide the window (or means nothing) and an empty or inverted
        // rectangle are not taken: the window is shown normally where it is.
        int show = v[4];
        if (show != SW_SHOWNORMAL && show != SW_SHOWMINIMIZED && show != SW_SHOWMAXIMIZED)
            show = SW_SHOWNORMAL;
        if (v[2] > v[0] && v[3] > v[1]) {
            placement.rcNormalPosition = RECT{v[0], v[1], v[2], v[3]};
        } else {
            show = SW_SHOWNORMAL;
        }
        placement.showCmd = static_cast<UINT>(show);
        placement.flags = static_cast<UINT>(v[5]);
        if (high & CXFH_SELFPLACEMENT) {
            SendMessageW(hWnd, CXM_APPLYPLACEMENT, static_cast<WPARAM>(show), reinterpret_cast<LPARAM>(&placement));
            return S_OK;
        }
        if ((high & CXFH_STRETCH) && show != SW_SHOWNORMAL) {
            ShowWindow(hWnd, show);
            return S_OK;
        }
        return SetWindowPlacement(hWnd, &placement) ? S_OK : E_FAIL;
    }

    if (!(high & CXFH_FITWORKAREA))
        return S_FALSE;
    if (high & CXFH_SELFPLACEMENT)
        SendMessageW(hWnd, CXM_APPLYPLACEMENT, SW_SHOW, 0);
    RECT work{};
    RECT window{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) || !GetWindowRect(hWnd, &window))
        return E_ABORT;
    const int limit = MulDiv(9, work.bottom - work.top, 10);
    if (window.bottom - window.top >= limit)
        return S_FALSE;
    return SetWindowPos(hWnd, nullptr, window.left, 0, window.right - window.left, limit, SWP_NOZORDER) ? S_OK : E_FAIL;
}
