#include "manager/framework/skin/cx_skin_file.h"

#include "manager/framework/windows/cx_platform.h"
#include "platform/win/temp_file_path.h"

#include <objbase.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>

namespace {

class FileOwner {
public:
    explicit FileOwner(HANDLE file) : m_file(file) {}
    ~FileOwner()
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
    }
    FileOwner(const FileOwner&) = delete;
    FileOwner& operator=(const FileOwner&) = delete;
    HANDLE Get() const { return m_file; }
    void Close()
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_file;
};

// A CxString holding n characters from begin.
HRESULT AssignRange(CxString& out, const wchar_t* begin, size_t n)
{
    out.Empty();
    if (n == 0)
        return S_OK;
    if (n > SIZE_MAX / sizeof(wchar_t) - 1)
        return E_OUTOFMEMORY;
    auto* buffer = static_cast<wchar_t*>(CxAlloc((n + 1) * sizeof(wchar_t)));
    if (buffer == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(buffer, begin, n * sizeof(wchar_t));
    buffer[n] = L'\0';
    out.Attach(buffer);
    return S_OK;
}

HRESULT AddPart(CxArray<CxString>& parts, const wchar_t* begin, size_t n)
{
    CxString part;
    const HRESULT hr = AssignRange(part, begin, n);
    if (FAILED(hr))
        return hr;
    return parts.Add(part) ? S_OK : E_OUTOFMEMORY;
}

bool AllDigits(const wchar_t* text)
{
    if (text == nullptr || *text == L'\0')
        return false;
    for (; *text != L'\0'; ++text) {
        if (*text < L'0' || *text > L'9')
            return false;
    }
    return true;
}

// A decimal number of at most 0xFFFF (resource ids and numeric types are 16-bit).
bool ParseWord(const wchar_t* text, WORD* value)
{
    if (!AllDigits(text))
        return false;
    unsigned long n = 0;
    for (; *text != L'\0'; ++text) {
        n = n * 10 + static_cast<unsigned long>(*text - L'0');
        if (n > 0xFFFF)
            return false;
    }
    *value = static_cast<WORD>(n);
    return true;
}

HANDLE CreateFileByPlatform(const wchar_t* path, DWORD access, DWORD share, DWORD disposition)
{
    if (CxIsNtPlatform())
        return CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    CxHeapPtr<char> ansi(CxW2ANew(path));
    if (!ansi)
        return INVALID_HANDLE_VALUE;
    return CreateFileA(ansi.get(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void DeleteFileByPlatform(const wchar_t* path)
{
    if (CxIsNtPlatform()) {
        DeleteFileW(path);
        return;
    }
    CxHeapPtr<char> ansi(CxW2ANew(path));
    if (ansi)
        DeleteFileA(ansi.get());
}

HRSRC FindResourceByPlatform(HMODULE module, const CxResourceSpec& spec)
{
    if (CxIsNtPlatform())
        return FindResourceW(module, MAKEINTRESOURCEW(spec.id), spec.Type());
    if (spec.typeId != 0)
        return FindResourceA(module, MAKEINTRESOURCEA(spec.id), MAKEINTRESOURCEA(spec.typeId));
    CxHeapPtr<char> type(CxW2ANew(spec.typeName));
    if (!type)
        return nullptr;
    return FindResourceA(module, MAKEINTRESOURCEA(spec.id), type.get());
}

}  // namespace

HRESULT CxStrSplit(const wchar_t* text, const wchar_t* delimiter, CxArray<CxString>& parts, int maxParts)
{
    parts.RemoveAll();
    const size_t delimiterLength = delimiter != nullptr ? wcslen(delimiter) : 0;
    if (maxParts < 1 || text == nullptr || *text == L'\0' || delimiterLength == 0) {
        CxString whole;
        if (FAILED(whole.Assign(text)))
            return E_OUTOFMEMORY;
        return parts.Add(whole) ? S_FALSE : E_OUTOFMEMORY;
    }
    const wchar_t* position = text;
    for (int i = 0; i < maxParts; ++i) {
        const wchar_t* found = wcsstr(position, delimiter);
        const size_t n = found != nullptr ? static_cast<size_t>(found - position) : wcslen(position);
        const HRESULT hr = AddPart(parts, position, n);
        if (FAILED(hr))
            return hr;
        if (found == nullptr)
            break;
        position = found + delimiterLength;
    }
    return S_OK;
}

HRESULT CxArraySetMinCount(CxArray<CxString>& array, int n)
{
    if (n < 0)
        n = 1;
    while (array.GetCount() < n) {
        if (!array.Add(CxString()))
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

// ---- Location specs ----

HRESULT CxParseResourceSpec(const wchar_t* spec, CxResourceSpec* out)
{
    if (out == nullptr)
        return E_INVALIDARG;
    *out = CxResourceSpec();
    const wchar_t* mark = spec != nullptr ? wcschr(spec, L'?') : nullptr;
    if (mark == nullptr || mark[1] == L'\0')
        return S_FALSE;
    HRESULT hr = AssignRange(out->module, spec, static_cast<size_t>(mark - spec));
    if (FAILED(hr))
        return hr;
    // "id[,type[,options]]": the id ends at the first comma, the type at the next.
    const wchar_t* idText = mark + 1;
    const wchar_t* idEnd = wcschr(idText, L',');
    CxString idField;
    hr = AssignRange(idField, idText, idEnd != nullptr ? static_cast<size_t>(idEnd - idText) : wcslen(idText));
    if (FAILED(hr))
        return hr;
    WORD id = 0;
    if (!ParseWord(idField, &id))
        return E_UNEXPECTED;
    out->id = id;
    if (idEnd == nullptr)
        return S_OK;
    const wchar_t* typeText = idEnd + 1;
    const wchar_t* typeEnd = wcschr(typeText, L',');
    CxString type;
    if (typeEnd != nullptr) {
        hr = AssignRange(type, typeText, static_cast<size_t>(typeEnd - typeText));
        if (SUCCEEDED(hr))
            hr = out->options.Assign(typeEnd + 1);
    } else {
        hr = type.Assign(typeText);
    }
    if (FAILED(hr))
        return hr;
    if (AllDigits(type)) {
        WORD typeId = 0;
        if (!ParseWord(type, &typeId) || typeId == 0)
            return E_UNEXPECTED;
        out->typeId = typeId;
    } else {
        out->typeName = std::move(type);
    }
    return S_OK;
}

HMODULE CxFindSpecModule(const wchar_t* module)
{
    if (module == nullptr || *module == L'\0')
        return GetModuleHandleW(nullptr);
    if (CxIsNtPlatform())
        return GetModuleHandleW(module);
    CxHeapPtr<char> ansi(CxW2ANew(module));
    return ansi ? GetModuleHandleA(ansi.get()) : nullptr;
}

HRESULT CxLoadResourceToGlobal(const CxResourceSpec& spec, HGLOBAL* memory, DWORD* size)
{
    if (memory == nullptr)
        return E_INVALIDARG;
    *memory = nullptr;
    if (size != nullptr)
        *size = 0;
    if (!spec.HasType())
        return E_INVALIDARG;
    HMODULE module = CxFindSpecModule(spec.module);
    if (module == nullptr)
        return E_INVALIDARG;
    HRSRC resource = FindResourceByPlatform(module, spec);
    if (resource == nullptr)
        return E_INVALIDARG;
    const DWORD bytes = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr && bytes != 0)
        return E_INVALIDARG;
    CxGlobalOwner copy(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes != 0 ? bytes : 1));
    if (copy.Get() == nullptr)
        return E_OUTOFMEMORY;
    void* target = GlobalLock(copy.Get());
    if (target == nullptr)
        return E_OUTOFMEMORY;
    if (bytes != 0)
        std::memcpy(target, data, bytes);
    GlobalUnlock(copy.Get());
    *memory = copy.Release();
    if (size != nullptr)
        *size = bytes;
    return S_OK;
}

HRESULT CxWriteGlobalToFile(const wchar_t* path, HGLOBAL memory, DWORD size, BOOL flush)
{
    if (path == nullptr || *path == L'\0' || memory == nullptr || size > GlobalSize(memory))
        return E_INVALIDARG;
    FileOwner file(CreateFileByPlatform(path, GENERIC_WRITE, 0, CREATE_ALWAYS));
    if (file.Get() == INVALID_HANDLE_VALUE)
        return E_ACCESSDENIED;
    const void* data = GlobalLock(memory);
    if (data == nullptr) {
        file.Close();
        DeleteFileByPlatform(path);
        return E_ACCESSDENIED;
    }
    DWORD written = 0;
    const BOOL wrote = WriteFile(file.Get(), data, size, &written, nullptr);
    GlobalUnlock(memory);
    if (!wrote || written != size) {
        file.Close();
        DeleteFileByPlatform(path);
        return E_ABORT;
    }
    if (flush)
        FlushFileBuffers(file.Get());
    return S_OK;
}

HRESULT CxMakeTempFileName(CxString* path)
{
    if (path == nullptr)
        return E_INVALIDARG;
    path->Empty();
    GUID guid{};
    HRESULT hr = CoCreateGuid(&guid);
    if (FAILED(hr))
        return hr;
    std::uint32_t tail[2];
    static_assert(sizeof(tail) == sizeof(guid.Data4), "the last eight bytes as two 32-bit numbers");
    std::memcpy(tail, guid.Data4, sizeof(tail));  // little-endian, as the platform stores them
    wchar_t name[64];
    swprintf(name, 64, L"TMP%08X%04X%04X%08X%08X", static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
             static_cast<unsigned>(guid.Data3), static_cast<unsigned>(tail[0]), static_cast<unsigned>(tail[1]));
    wchar_t full[MAX_PATH];
    hr = UtilGetTempFilePath(MAX_PATH, full, name);
    if (FAILED(hr))
        return hr;
    return path->Assign(full);
}

HRESULT CxResolveLocation(CxString& spec, HGLOBAL* memory, DWORD* size)
{
    CxResourceSpec resource;
    HRESULT hr = CxParseResourceSpec(spec, &resource);
    if (hr == S_FALSE)
        return E_FAIL;  // a plain path: read as it is
    if (FAILED(hr))
        return hr;
    HGLOBAL loaded = nullptr;
    DWORD bytes = 0;
    hr = CxLoadResourceToGlobal(resource, &loaded, &bytes);
    if (FAILED(hr))
        return hr;
    CxGlobalOwner copy(loaded);
    if (memory != nullptr) {
        *memory = copy.Release();
        if (size != nullptr)
            *size = bytes;
        return S_OK;
    }
    CxString temp;
    hr = CxMakeTempFileName(&temp);
    if (FAILED(hr))
        return hr;
    hr = CxWriteGlobalToFile(temp, copy.Get(), bytes, FALSE);
    if (FAILED(hr))
        return hr;
    spec = std::move(temp);
    if (size != nullptr)
        *size = bytes;
    return S_OK;
}

HRESULT CxWithResolvedFile(const wchar_t* spec, CxResolvedFileCallback callback, void* context)
{
    if (callback == nullptr)
        return E_INVALIDARG;
    CxString path;
    if (FAILED(path.Assign(spec)))
        return E_OUTOFMEMORY;
    const HRESULT resolved = CxResolveLocation(path, nullptr, nullptr);
    if (FAILED(resolved) && resolved != E_FAIL)
        return resolved;
    const bool temporary = resolved == S_OK;
    if (path.IsEmpty())
        return E_UNEXPECTED;
    // The copy goes however the callback ends.
    struct TempRemover {
        const wchar_t* path;
        ~TempRemover()
        {
            if (path != nullptr)
                DeleteFileByPlatform(path);
        }
    } remover{temporary ? static_cast<const wchar_t*>(path) : nullptr};
    CxResolvedFile file{path, temporary ? spec : nullptr, context};
    return callback(file);
}

bool CxIsRelativeFilePath(const wchar_t* spec)
{
    if (spec == nullptr || *spec == L'\0')
        return false;
    const wchar_t* mark = wcschr(spec, L'?');
    if (mark != nullptr && mark[1] != L'\0')
        return false;  // a resource spec
    if (spec[0] == L'\\' || spec[0] == L'/')
        return false;  // rooted, or a server share
    if (spec[1] == L':')
        return false;  // a drive
    return true;
}

HRESULT CxPrefixPackFolder(CxString& spec, const wchar_t* folder)
{
    if (folder == nullptr || *folder == L'\0' || !CxIsRelativeFilePath(spec))
        return S_FALSE;
    const size_t folderLength = wcslen(folder);
    const bool separator = folder[folderLength - 1] != L'\\' && folder[folderLength - 1] != L'/';
    CxString joined;
    HRESULT hr = separator ? joined.Format(L"%s\\%s", folder, static_cast<const wchar_t*>(spec))
                           : joined.Format(L"%s%s", folder, static_cast<const wchar_t*>(spec));
    if (FAILED(hr))
        return hr;
    if (joined.GetLength() != static_cast<int>(folderLength) + (separator ? 1 : 0) + spec.GetLength())
        return E_OUTOFMEMORY;  // longer than a formatted text may be
    spec = std::move(joined);
    return S_OK;
}

// ---- INI reading ----

HRESULT CxIniReadString(const wchar_t* file, const wchar_t* section, const wchar_t* key, CxString* value)
{
    if (file == nullptr || section == nullptr || key == nullptr || value == nullptr)
        return E_INVALIDARG;
    value->Empty();
    if (CxIsNtPlatform()) {
        CxHeapPtr<wchar_t> buffer(static_cast<wchar_t*>(CxAlloc(CX_INI_VALUE_CHARS * sizeof(wchar_t))));
        if (!buffer)
            return E_OUTOFMEMORY;
        GetPrivateProfileStringW(section, key, L"", buffer.get(), CX_INI_VALUE_CHARS, file);
        buffer.get()[CX_INI_VALUE_CHARS - 1] = L'\0';
        return value->Assign(buffer.get());
    }
    constexpr DWORD kBytes = 2 * CX_INI_VALUE_CHARS;
    CxHeapPtr<char> buffer(static_cast<char*>(CxAlloc(kBytes)));
    CxHeapPtr<char> ansiFile(CxW2ANew(file));
    CxHeapPtr<char> ansiSection(CxW2ANew(section));
    CxHeapPtr<char> ansiKey(CxW2ANew(key));
    if (!buffer || !ansiFile || (*section != L'\0' && !ansiSection) || (*key != L'\0' && !ansiKey))
        return E_OUTOFMEMORY;
    GetPrivateProfileStringA(ansiSection ? ansiSection.get() : "", ansiKey ? ansiKey.get() : "", "", buffer.get(),
                             kBytes, ansiFile.get());
    buffer.get()[kBytes - 1] = '\0';
    if (buffer.get()[0] == '\0')
        return S_OK;
    CxHeapPtr<wchar_t> wide(CxA2WNew(buffer.get()));
    if (!wide)
        return E_OUTOFMEMORY;
    return value->Assign(wide.get());
}
