#include "manager/main/language/ini_text.h"

#include "manager/framework/skin/cx_skin_file.h"

#include <cwchar>
#include <cstring>

namespace {

// Owns a file handle.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    ~FileHandle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

HRESULT LastError()
{
    const DWORD error = GetLastError();
    return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The wide text of the bytes: a line feed first, carriage returns made line feeds, a terminator.
HRESULT Convert(const char* bytes, DWORD size, CIniText* text)
{
    int wide = 0;
    if (size != 0) {
        wide = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), nullptr, 0);
        if (wide <= 0)
            return LastError();
    }
    const size_t length = static_cast<size_t>(wide) + 1;
    auto* buffer = static_cast<wchar_t*>(CxAlloc((length + 1) * sizeof(wchar_t)));
    if (buffer == nullptr)
        return E_OUTOFMEMORY;
    buffer[0] = L'\n';
    if (wide != 0 && MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), buffer + 1, wide) != wide) {
        const HRESULT hr = LastError();
        CxFree(buffer);
        return hr;
    }
    buffer[length] = L'\0';
    for (size_t i = 0; i < length; ++i) {
        if (buffer[i] == L'\r')
            buffer[i] = L'\n';
    }
    text->Attach(buffer, length);
    return S_OK;
}

HRESULT LoadResourceText(const CxResourceSpec& spec, CIniText* text)
{
    CxGlobalOwner memory;
    DWORD size = 0;
    HRESULT hr = CxLoadResourceToGlobal(spec, memory.Receive(), &size);
    if (FAILED(hr))
        return hr;
    if (size > kIniMaxFileBytes)
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    const auto* bytes = static_cast<const char*>(GlobalLock(memory.Get()));
    if (bytes == nullptr)
        return E_ACCESSDENIED;
    hr = Convert(bytes, size, text);
    GlobalUnlock(memory.Get());
    return hr;
}

HRESULT LoadFileText(const wchar_t* path, CIniText* text)
{
    FileHandle file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE)
        return LastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size))
        return LastError();
    if (size.QuadPart > static_cast<LONGLONG>(kIniMaxFileBytes))
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    const auto bytes = static_cast<DWORD>(size.QuadPart);
    CxHeapPtr<char> buffer(static_cast<char*>(CxAlloc(bytes != 0 ? bytes : 1)));
    if (!buffer)
        return E_OUTOFMEMORY;
    DWORD read = 0;
    if (bytes != 0 && !ReadFile(file.Get(), buffer.get(), bytes, &read, nullptr))
        return LastError();
    return Convert(buffer.get(), read, text);  // a file that shrank meanwhile gives what was read
}

HRESULT FindValue(std::wstring_view section, const std::wstring& pattern, CxString* value)
{
    if (value == nullptr)
        return E_INVALIDARG;
    value->Empty();
    const size_t at = section.find(pattern);
    if (at == std::wstring_view::npos)
        return E_FAIL;
    const size_t start = at + pattern.size();
    size_t end = section.find(L'\n', start);
    if (end == std::wstring_view::npos)
        end = section.size();
    if (end == start || end - start > kIniMaxValueChars)
        return E_FAIL;
    return IniUnescape(section.substr(start, end - start), value);
}

bool HasEscape(std::wstring_view value)
{
    for (size_t i = 0; i + 1 < value.size(); ++i) {
        if (value[i] == L'\\' && (value[i + 1] == L'n' || value[i + 1] == L't'))
            return true;
    }
    return false;
}

}  // namespace

HRESULT IniLoadText(const wchar_t* location, CIniText* text)
{
    if (text == nullptr)
        return E_INVALIDARG;
    text->Attach(nullptr, 0);
    if (CxStrLen(location) == 0)
        return E_UNEXPECTED;
    CxResourceSpec spec;
    const HRESULT parsed = CxParseResourceSpec(location, &spec);
    if (FAILED(parsed))
        return parsed;
    return parsed == S_OK ? LoadResourceText(spec, text) : LoadFileText(location, text);
}

HRESULT IniFindSection(std::wstring_view text, const wchar_t* section, std::wstring_view* body)
{
    if (body == nullptr || CxStrLen(section) == 0)
        return E_INVALIDARG;
    *body = {};
    const std::wstring pattern = std::wstring(L"\n[") + section + L"]";
    const size_t at = text.find(pattern);
    if (at == std::wstring_view::npos)
        return E_FAIL;
    const size_t start = at + pattern.size();
    size_t end = text.find(L"\n[", start);
    if (end == std::wstring_view::npos)
        end = text.size();
    *body = text.substr(start, end - start);
    return S_OK;
}

HRESULT IniFindKey(std::wstring_view section, UINT key, CxString* value)
{
    return FindValue(section, L"\n" + std::to_wstring(key & 0xFFFFu) + L"=", value);
}

HRESULT IniFindKey(std::wstring_view section, const wchar_t* key, CxString* value)
{
    if (CxStrLen(key) == 0) {
        if (value != nullptr)
            value->Empty();
        return E_INVALIDARG;
    }
    return FindValue(section, std::wstring(L"\n") + key + L"=", value);
}

HRESULT IniUnescape(std::wstring_view value, CxString* out)
{
    if (out == nullptr)
        return E_INVALIDARG;
    out->Empty();
    if (value.empty())
        return S_OK;
    auto* buffer = static_cast<wchar_t*>(CxAlloc((value.size() + 1) * sizeof(wchar_t)));
    if (buffer == nullptr)
        return E_OUTOFMEMORY;
    size_t n = 0;
    if (!HasEscape(value)) {
        std::memcpy(buffer, value.data(), value.size() * sizeof(wchar_t));
        n = value.size();
    } else {
        for (size_t i = 0; i < value.size(); ++i) {
            wchar_t c = value[i];
            if (c == L'\\' && i + 1 < value.size()) {
                c = value[++i];
                if (c == L'n')
                    c = L'\n';
                else if (c == L't')
                    c = L'\t';
            }
            buffer[n++] = c;
        }
    }
    buffer[n] = L'\0';
    out->Attach(buffer);
    return S_OK;
}
