#include "manager/controls/combo/cx_file_mask_combo.h"

#include "manager/framework/windows/cx_platform.h"

#include <olectl.h>
#include <shellapi.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>

namespace {

// Registry texts longer than this are no icon location.
constexpr DWORD kMaxRegisteredChars = 16383;
// Longest name of a registry key.
constexpr int kMaxKeyChars = 255;
// Growing environment values are read again at most this often.
constexpr int kExpandAttempts = 4;

constexpr const wchar_t* kDefaultIconLocation = L"shell32.dll,0";

// Closes a registry key when it goes.
class ReadKey {
public:
    ReadKey() = default;
    ~ReadKey()
    {
        if (m_key != nullptr)
            RegCloseKey(m_key);
    }
    ReadKey(const ReadKey&) = delete;
    ReadKey& operator=(const ReadKey&) = delete;
    HKEY* Address() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

// The default value of a key below HKEY_CLASSES_ROOT, opened for reading only (a look-up never makes
// keys). S_OK with the text; S_FALSE with an empty text when the key or a string value is missing, or
// the value is too long to be a location; E_OUTOFMEMORY.
HRESULT ReadClassDefault(const wchar_t* subkey, CxString* value)
{
    value->Empty();
    const bool wide = CxIsNtPlatform();
    ReadKey key;
    LONG error;
    if (wide) {
        error = RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey, 0, KEY_QUERY_VALUE, key.Address());
    } else {
        CxHeapPtr<char> ansi(CxW2ANew(subkey));
        if (!ansi)
            return E_OUTOFMEMORY;
        error = RegOpenKeyExA(HKEY_CLASSES_ROOT, ansi.get(), 0, KEY_QUERY_VALUE, key.Address());
    }
    if (error != ERROR_SUCCESS)
        return S_FALSE;
    DWORD type = 0;
    DWORD size = 0;
    error = wide ? RegQueryValueExW(key.Get(), nullptr, nullptr, &type, nullptr, &size)
                 : RegQueryValueExA(key.Get(), nullptr, nullptr, &type, nullptr, &size);
    if (error != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return S_FALSE;
    const DWORD unit = wide ? sizeof(wchar_t) : 1;
    if (size > (kMaxRegisteredChars + 1) * unit)
        return S_FALSE;
    // Room for a terminator of our own, whatever the stored data ends with.
    const DWORD room = size + sizeof(wchar_t);
    CxHeapPtr<BYTE> data(static_cast<BYTE*>(CxAlloc(room)));
    if (!data)
        return E_OUTOFMEMORY;
    std::memset(data.get(), 0, room);
    DWORD read = size;
    error = wide ? RegQueryValueExW(key.Get(), nullptr, nullptr, &type, data.get(), &read)
                 : RegQueryValueExA(key.Get(), nullptr, nullptr, &type, data.get(), &read);
    if (error != ERROR_SUCCESS || read > size || (type != REG_SZ && type != REG_EXPAND_SZ))
        return S_FALSE;
    if (wide)
        return value->Assign(reinterpret_cast<const wchar_t*>(data.get()));
    CxHeapPtr<wchar_t> converted(CxA2WNew(reinterpret_cast<const char*>(data.get())));
    if (!converted)
        return E_OUTOFMEMORY;
    return value->Assign(converted.get());
}

// The text with its environment variables expanded; E_UNEXPECTED when the system cannot expand it.
HRESULT ExpandVariables(const wchar_t* text, CxString* expanded)
{
    if (CxIsNtPlatform()) {
        DWORD room = ExpandEnvironmentStringsW(text, nullptr, 0);
        for (int attempt = 0; attempt < kExpandAttempts && room != 0; ++attempt) {
            if (room > kMaxRegisteredChars + 1)
                return E_UNEXPECTED;
            CxHeapPtr<wchar_t> buffer(static_cast<wchar_t*>(CxAlloc(room * sizeof(wchar_t))));
            if (!buffer)
                return E_OUTOFMEMORY;
            const DWORD needed = ExpandEnvironmentStringsW(text, buffer.get(), room);
            if (needed != 0 && needed <= room) {
                buffer.get()[room - 1] = 0;
                return expanded->Assign(buffer.get());
            }
            room = needed;  // a variable grew in between
        }
        return E_UNEXPECTED;
    }
    CxHeapPtr<char> ansi(CxW2ANew(text));
    if (!ansi)
        return E_OUTOFMEMORY;
    DWORD room = ExpandEnvironmentStringsA(ansi.get(), nullptr, 0);
    for (int attempt = 0; attempt < kExpandAttempts && room != 0; ++attempt) {
        if (room > 2 * (kMaxRegisteredChars + 1))
            return E_UNEXPECTED;
        CxHeapPtr<char> buffer(static_cast<char*>(CxAlloc(room)));
        if (!buffer)
            return E_OUTOFMEMORY;
        const DWORD needed = ExpandEnvironmentStringsA(ansi.get(), buffer.get(), room);
        if (needed != 0 && needed <= room) {
            buffer.get()[room - 1] = 0;
            CxHeapPtr<wchar_t> wide(CxA2WNew(buffer.get()));
            if (!wide)
                return E_OUTOFMEMORY;
            return expanded->Assign(wide.get());
        }
        room = needed;
    }
    return E_UNEXPECTED;
}

// A heap copy of the first length characters of text.
wchar_t* CopyPart(const wchar_t* text, size_t length)
{
    auto* part = static_cast<wchar_t*>(CxAlloc((length + 1) * sizeof(wchar_t)));
    if (part == nullptr)
        return nullptr;
    std::wmemcpy(part, text, length);
    part[length] = 0;
    return part;
}

// The icon index after the "?": a decimal number with an optional sign (a negative one names an icon
// resource id), blanks around it allowed.
bool ParseIconIndex(const wchar_t* text, int* index)
{
    wchar_t* end = nullptr;
    errno = 0;
    const long value = std::wcstol(text, &end, 10);
    if (end == text || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return false;
    while (*end == L' ' || *end == L'\t')
        ++end;
    if (*end != 0)
        return false;
    *index = static_cast<int>(value);
    return true;
}

// The module of a location: a folder (ending in "\") gets the program's own file name.
HRESULT IconModulePath(const wchar_t* location, size_t length, CxString* module)
{
    CxHeapPtr<wchar_t> part(CopyPart(location, length));
    if (!part)
        return E_OUTOFMEMORY;
    if (length == 0 || part.get()[length - 1] != L'\\') {
        module->Attach(part.release());
        return S_OK;
    }
    CxString program;
    const HRESULT hr = CxGetModuleFolder(&program);
    if (FAILED(hr))
        return hr;
    const wchar_t* slash = std::wcsrchr(program, L'\\');
    const wchar_t* name = slash != nullptr ? slash + 1 : static_cast<const wchar_t*>(program);
    return module->Format(L"%s%s", part.get(), name);
}

}  // namespace

HRESULT CxFileMaskIconLocation(const wchar_t* mask, CxString* location)
{
    if (location == nullptr)
        return E_INVALIDARG;
    location->Empty();
    const wchar_t* extension = mask != nullptr ? std::wcsrchr(mask, L'.') : nullptr;
    if (extension == nullptr)
        return E_INVALIDARG;
    CxString found;
    if (std::wcscmp(extension, L".*") != 0) {
        CxString type;
        HRESULT hr = ReadClassDefault(extension, &type);
        if (FAILED(hr))
            return hr;
        if (!type.IsEmpty() && type.GetLength() <= kMaxKeyChars) {
            CxString iconKey;
            hr = iconKey.Format(L"%s\\DefaultIcon", static_cast<const wchar_t*>(type));
            if (FAILED(hr))
                return hr;
            hr = ReadClassDefault(iconKey, &found);
            if (FAILED(hr))
                return hr;
        }
    }
    CxString expanded;
    HRESULT hr = found.IsEmpty() ? expanded.Assign(kDefaultIconLocation) : ExpandVariables(found, &expanded);
    if (FAILED(hr))
        return hr;
    // The registry separates file and index with a comma, the framework's locations with "?".
    wchar_t* text = expanded.Detach();
    wchar_t* comma = text != nullptr ? std::wcsrchr(text, L',') : nullptr;
    if (comma != nullptr)
        *comma = L'?';
    location->Attach(text);
    return S_OK;
}

HRESULT CxLoadSmallIcon(const wchar_t* location, HICON* icon)
{
    if (icon == nullptr)
        return E_INVALIDARG;
    *icon = nullptr;
    if (CxStrLen(location) == 0)
        return E_INVALIDARG;
    const bool wide = CxIsNtPlatform();
    const int cx = GetSystemMetrics(SM_CXSMICON);
    const int cy = GetSystemMetrics(SM_CYSMICON);
    const wchar_t* mark = std::wcsrchr(location, L'?');
    if (mark == nullptr) {
        HANDLE image;
        if (wide) {
            image = LoadImageW(nullptr, location, IMAGE_ICON, cx, cy, LR_LOADFROMFILE);
        } else {
            CxHeapPtr<char> ansi(CxW2ANew(location));
            if (!ansi)
                return E_OUTOFMEMORY;
            image = LoadImageA(nullptr, ansi.get(), IMAGE_ICON, cx, cy, LR_LOADFROMFILE);
        }
        *icon = static_cast<HICON>(image);
        return image != nullptr ? S_OK : E_ACCESSDENIED;
    }
    int index = 0;
    if (!ParseIconIndex(mark + 1, &index))
        return E_INVALIDARG;
    CxString module;
    const HRESULT hr = IconModulePath(location, static_cast<size_t>(mark - location), &module);
    if (FAILED(hr))
        return hr;
    if (module.IsEmpty())
        return E_INVALIDARG;
    HICON small = nullptr;
    UINT extracted;
    if (wide) {
        extracted = ExtractIconExW(module, index, nullptr, &small, 1);
    } else {
        CxHeapPtr<char> ansi(CxW2ANew(module));
        if (!ansi)
            return E_OUTOFMEMORY;
        extracted = ExtractIconExA(ansi.get(), index, nullptr, &small, 1);
    }
    if (extracted == UINT_MAX) {
        if (small != nullptr)
            DestroyIcon(small);
        return E_UNEXPECTED;
    }
    if (small == nullptr)
        return E_ACCESSDENIED;
    *icon = small;
    return S_OK;
}

// ---- CxFileMaskComboBox ----

CxFileMaskComboBox::CxFileMaskComboBox() = default;

CxFileMaskComboBox::~CxFileMaskComboBox()
{
    // While this class's maps still run, so that the mask copies go with the items.
    if (m_hWnd != nullptr)
        DestroyWindow();
}

LRESULT CxFileMaskComboBox::InsertFilter(int index, const wchar_t* text, int image, wchar_t* maskCopy, bool withData)
{
    UINT mask = 0;
    if (CxStrLen(text) != 0)
        mask |= CBEIF_TEXT;
    if (image >= 0)
        mask |= CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
    if (withData)
        mask |= CBEIF_LPARAM;
    if (CxIsNtPlatform()) {
        COMBOBOXEXITEMW item{};
        item.mask = mask;
        item.iItem = index;
        item.pszText = const_cast<wchar_t*>(text);
        item.iImage = image;
        item.iSelectedImage = image;
        item.lParam = reinterpret_cast<LPARAM>(maskCopy);
        return ::SendMessageW(m_hWnd, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    CxHeapPtr<char> ansi;
    if (mask & CBEIF_TEXT) {
        ansi.reset(CxW2ANew(text));
        if (!ansi)
            return -1;
    }
    COMBOBOXEXITEMA item{};
    item.mask = mask;
    item.iItem = index;
    item.pszText = ansi.get();
    item.iImage = image;
    item.iSelectedImage = image;
    item.lParam = reinterpret_cast<LPARAM>(maskCopy);
    return ::SendMessageA(m_hWnd, CBEM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

HRESULT CxFileMaskComboBox::SetFilters(const CxArray<CxFileMaskFilter>& filters)
{
    const int count = filters.GetCount();
    if (count == 0)
        return E_INVALIDARG;
    if (GetWnd() == nullptr)
        return E_ACCESSDENIED;
    if (m_imageList.m_hImageList == nullptr &&
        !m_imageList.Create(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), ILC_MASK | ILC_COLOR32, count,
                            count))
        return E_OUTOFMEMORY;
    CxArray<int> images(count);
    HRESULT result = S_OK;
    for (int i = 0; i < count; ++i) {
        int image = -1;
        CxString location;
        HICON icon = nullptr;
        if (SUCCEEDED(CxFileMaskIconLocation(filters.GetAt(i).mask, &location)) &&
            SUCCEEDED(CxLoadSmallIcon(location, &icon))) {
            image = ImageList_AddIcon(m_imageList.m_hImageList, icon);
            DestroyIcon(icon);
        }
        if (image < 0)
            result = S_FALSE;
        if (!images.Add(image))
            return E_OUTOFMEMORY;  // nothing inserted yet; the icons stay in the list for a later call
    }
    ::SendMessageW(m_hWnd, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_imageList.m_hImageList));
    for (int i = 0; i < count; ++i) {
        const CxFileMaskFilter& filter = filters.GetAt(i);
        wchar_t* copy = nullptr;
        const bool copied = SUCCEEDED(CxStrDup(&copy, filter.mask));
        if (!copied)
            result = S_FALSE;
        if (InsertFilter(i, filter.text, images.GetAt(i), copy, copied) == -1) {
            CxFree(copy);  // no item took it
            result = S_FALSE;
        }
    }
    return result;
}

HRESULT CxFileMaskComboBox::FreeItemData(int index)
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return E_UNEXPECTED;
    const LRESULT data = ::SendMessageW(hWnd, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    if (data == CB_ERR)
        return E_UNEXPECTED;
    if (data != 0) {
        // Cleared first: a deletion notice that follows finds nothing left to free.
        ::SendMessageW(hWnd, CB_SETITEMDATA, static_cast<WPARAM>(index), 0);
        CxFree(reinterpret_cast<void*>(data));
    }
    return S_OK;
}

void CxFileMaskComboBox::FreeAllItemData()
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return;
    const LRESULT count = ::SendMessageW(hWnd, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        FreeItemData(static_cast<int>(i));
}

LRESULT CxFileMaskComboBox::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND hWnd = m_hWnd;
    LRESULT result = CxSkinComboBox::WindowProc(message, wParam, lParam);
    if (message != WM_NCDESTROY) {
        LRESULT postResult = 0;
        if (PostMap(hWnd, message, wParam, lParam, postResult, CX_MAPID_CHAIN))
            result = postResult;
    }
    return result;
}

BOOL CxFileMaskComboBox::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    switch (message) {
    case CB_DELETESTRING:
        FreeItemData(static_cast<int>(wParam));
        break;  // the control deletes the item
    case CB_RESETCONTENT:
    case WM_DESTROY:
        // Freed here rather than left to deletion notices, which only a reflecting parent passes on.
        FreeAllItemData();
        break;
    case OCM_NOTIFY: {
        const auto* notice = reinterpret_cast<const NMCOMBOBOXEXW*>(lParam);
        if (notice == nullptr || notice->hdr.hwndFrom != hWnd || notice->hdr.code != static_cast<UINT>(CBEN_DELETEITEM))
            break;
        if ((notice->ceItem.mask & CBEIF_LPARAM) && notice->ceItem.lParam != 0)
            CxFree(reinterpret_cast<void*>(notice->ceItem.lParam));
        lResult = 0;
        return TRUE;
    }
    default:
        break;
    }
    return CxSkinComboBox::PreMap(hWnd, message, wParam, lParam, lResult, mapId);
}

BOOL CxFileMaskComboBox::PostMap(HWND hWnd, UINT message, WPARAM, LPARAM, LRESULT&, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN || message != CB_SETCURSEL || m_reportingSelection)
        return FALSE;
    HWND parent = GetParent(hWnd);
    if (parent == nullptr)
        return FALSE;
    m_reportingSelection = true;
    ::SendMessageW(parent, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hWnd), CBN_SELCHANGE), reinterpret_cast<LPARAM>(hWnd));
    m_reportingSelection = false;
    return FALSE;  // the control's result stands
}
