// The registrar: parses a registration script and writes or removes what it describes.
//
//   HKCR { NoRemove CLSID { ForceRemove {guid} = s 'text' { InprocServer32 = s '%MODULE%'
//          { val ThreadingModel = s 'Apartment' } } } }
//
// Tokens are separated by white space; a quoted token ('...', '' for a quote) is never a brace or '='.
#include "platform/atl/atlbase.h"

#include <cwchar>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Token {
    std::wstring text;
    bool quoted = false;
    bool Is(const wchar_t* s) const { return !quoted && _wcsicmp(text.c_str(), s) == 0; }
};

struct Value {
    std::wstring name;  // empty: the key's default value
    wchar_t type = 0;   // 's' or 'd'
    std::wstring data;
};

enum class Flag { Normal, NoRemove, ForceRemove, Delete };

struct Key {
    std::wstring name;
    Flag flag = Flag::Normal;
    bool hasDefault = false;
    Value defaultValue;
    std::vector<Value> values;
    std::vector<Key> subkeys;
};

struct Root {
    HKEY hkey;
    std::vector<Key> keys;
};

class Parser {
public:
    Parser(const wchar_t* text, const RegistrarReplacement* reps, size_t count) : p_(text), reps_(reps), count_(count)
    {}

    bool ParseScript(std::vector<Root>& roots)
    {
        Token t;
        while (Next(t)) {
            Root root{RootKey(t), {}};
            if (!root.hkey || !Expect(L"{") || !ParseBody(root.keys, nullptr))
                return false;
            roots.push_back(std::move(root));
        }
        return ok_;
    }

private:
    static HKEY RootKey(const Token& t)
    {
        if (t.Is(L"HKCR") || t.Is(L"HKEY_CLASSES_ROOT"))
            return HKEY_CLASSES_ROOT;
        if (t.Is(L"HKCU") || t.Is(L"HKEY_CURRENT_USER"))
            return HKEY_CURRENT_USER;
        if (t.Is(L"HKLM") || t.Is(L"HKEY_LOCAL_MACHINE"))
            return HKEY_LOCAL_MACHINE;
        return nullptr;
    }

    // Keys and values up to the closing brace.
    bool ParseBody(std::vector<Key>& keys, std::vector<Value>* values)
    {
        Token t;
        while (Next(t)) {
            if (t.Is(L"}"))
                return true;
            if (t.Is(L"val")) {
                Value v;
                Token name;
                if (!values || !Next(name) || !Expect(L"=") || !ParseValue(v))
                    return false;
                v.name = name.text;
                values->push_back(std::move(v));
                continue;
            }
            Key key;
            if (t.Is(L"NoRemove"))
                key.flag = Flag::NoRemove;
            else if (t.Is(L"ForceRemove"))
                key.flag = Flag::ForceRemove;
            else if (t.Is(L"Delete"))
                key.flag = Flag::Delete;
            if (key.flag != Flag::Normal && !Next(t))
                return false;
            if (!t.quoted && (t.text == L"{" || t.text == L"}" || t.text == L"="))
                return false;
            key.name = t.text;
            const wchar_t* mark = p_;
            Token after;
            bool more = Next(after);
            if (more && after.Is(L"=")) {
                if (!ParseValue(key.defaultValue))
                    return false;
                key.hasDefault = true;
                mark = p_;
                more = Next(after);
            }
            if (more && after.Is(L"{")) {
                if (!ParseBody(key.subkeys, &key.values))
                    return false;
            } else {
                p_ = mark;  // not ours: the next key or the closing brace
            }
            keys.push_back(std::move(key));
        }
        return false;  // no closing brace
    }

    bool ParseValue(Value& v)
    {
        Token type, data;
        if (!Next(type) || !Next(data) || type.quoted)
            return false;
        if (type.Is(L"s"))
            v.type = L's';
        else if (type.Is(L"d"))
            v.type = L'd';
        else
            return false;
        v.data = data.text;
        return true;
    }

    bool Expect(const wchar_t* s)
    {
        Token t;
        return Next(t) && t.Is(s);
    }

    bool Next(Token& t)
    {
        t = Token{};
        while (*p_ && std::iswspace(*p_))
            ++p_;
        if (!*p_)
            return false;
        std::wstring raw;
        if (*p_ == L'\'') {
            t.quoted = true;
            ++p_;
            for (;;) {
                if (!*p_) {
                    ok_ = false;
                    return false;
                }
                if (*p_ == L'\'') {
                    if (p_[1] != L'\'')
                        break;
                    ++p_;
                }
                raw += *p_++;
            }
            ++p_;
        } else {
            while (*p_ && !std::iswspace(*p_))
                raw += *p_++;
        }
        if (!Replace(raw, t.text)) {
            ok_ = false;
            return false;
        }
        return true;
    }

    bool Replace(const std::wstring& raw, std::wstring& out) const
    {
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != L'%') {
                out += raw[i];
                continue;
            }
            size_t end = raw.find(L'%', i + 1);
            if (end == std::wstring::npos)
                return false;
            if (end == i + 1) {
                out += L'%';
            } else {
                std::wstring name = raw.substr(i + 1, end - i - 1);
                size_t k = 0;
                while (k < count_ && _wcsicmp(reps_[k].name, name.c_str()) != 0)
                    ++k;
                if (k == count_)
                    return false;
                out += reps_[k].value;
            }
            i = end;
        }
        return true;
    }

    const wchar_t* p_;
    const RegistrarReplacement* reps_;
    size_t count_;
    bool ok_ = true;
};

HRESULT Win32(LONG rc)
{
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

HRESULT SetValue(HKEY key, const Value& v)
{
    const wchar_t* name = v.name.empty() ? nullptr : v.name.c_str();
    if (v.type == L'd') {
        wchar_t* end = nullptr;
        DWORD d = static_cast<DWORD>(std::wcstoul(v.data.c_str(), &end, 0));
        if (end == v.data.c_str() || *end)
            return E_INVALIDARG;
        return Win32(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), sizeof d));
    }
    return Win32(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.data.c_str()),
                                static_cast<DWORD>((v.data.size() + 1) * sizeof(wchar_t))));
}

HRESULT DeleteTree(HKEY parent, const std::wstring& name)
{
    LONG rc = RegDeleteTreeW(parent, name.c_str());
    if (rc == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (rc == ERROR_SUCCESS)
        rc = RegDeleteKeyW(parent, name.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? S_OK : Win32(rc);
}

class KeyOwner {
public:
    KeyOwner() = default;
    KeyOwner(const KeyOwner&) = delete;
    KeyOwner& operator=(const KeyOwner&) = delete;
    ~KeyOwner()
    {
        if (h)
            RegCloseKey(h);
    }
    HKEY h = nullptr;
};

HRESULT Register(HKEY parent, const Key& key)
{
    if (key.flag == Flag::Delete)
        return DeleteTree(parent, key.name);
    if (key.flag == Flag::ForceRemove) {
        HRESULT hr = DeleteTree(parent, key.name);
        if (FAILED(hr))
            return hr;
    }
    KeyOwner k;
    HRESULT hr = Win32(RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_READ | KEY_WRITE, nullptr, &k.h, nullptr));
    if (SUCCEEDED(hr) && key.hasDefault)
        hr = SetValue(k.h, key.defaultValue);
    for (size_t i = 0; SUCCEEDED(hr) && i < key.values.size(); ++i)
        hr = SetValue(k.h, key.values[i]);
    for (size_t i = 0; SUCCEEDED(hr) && i < key.subkeys.size(); ++i)
        hr = Register(k.h, key.subkeys[i]);
    return hr;
}

HRESULT Unregister(HKEY parent, const Key& key)
{
    if (key.flag == Flag::Delete)
        return S_OK;
    if (key.flag == Flag::ForceRemove)
        return DeleteTree(parent, key.name);
    KeyOwner k;
    LONG rc = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, &k.h);
    if (rc == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (rc != ERROR_SUCCESS)
        return Win32(rc);
    HRESULT result = S_OK;
    for (const Key& sub : key.subkeys) {
        HRESULT hr = Unregister(k.h, sub);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    for (const Value& v : key.values) {
        rc = RegDeleteValueW(k.h, v.name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
            result = Win32(rc);
    }
    if (key.flag == Flag::NoRemove)
        return result;
    // A key that still holds keys the script did not write stays.
    DWORD subkeys = 0;
    rc = RegQueryInfoKeyW(k.h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr);
    RegCloseKey(k.h);
    k.h = nullptr;
    if (rc == ERROR_SUCCESS && subkeys == 0) {
        rc = RegDeleteKeyW(parent, key.name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
            result = Win32(rc);
    }
    return result;
}

}  // namespace

HRESULT AtlRunRegistryScript(const wchar_t* script, BOOL bRegister, const RegistrarReplacement* replacements,
                             size_t count)
{
    if (!script)
        return E_POINTER;
    std::vector<Root> roots;
    try {
        Parser parser(script, replacements, count);
        if (!parser.ParseScript(roots))
            return DISP_E_EXCEPTION;
        HRESULT result = S_OK;
        for (const Root& root : roots) {
            for (const Key& key : root.keys) {
                HRESULT hr = bRegister ? Register(root.hkey, key) : Unregister(root.hkey, key);
                if (FAILED(hr)) {
                    if (bRegister)
                        return hr;
                    if (SUCCEEDED(result))
                        result = hr;
                }
            }
        }
        return result;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
