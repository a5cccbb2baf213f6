#include "manager/framework/windows/cx_string.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cwchar>

namespace {

std::atomic<long> g_allocCount{0};

int Sign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

}  // namespace

void* CxAlloc(size_t bytes)
{
    void* block = std::malloc(bytes != 0 ? bytes : 1);
    if (block != nullptr)
        ++g_allocCount;
    return block;
}

void CxFree(void* block)
{
    if (block == nullptr)
        return;
    --g_allocCount;
    std::free(block);
}

long CxAllocCount()
{
    return g_allocCount.load();
}

HRESULT CxStrDup(wchar_t** out, const wchar_t* text)
{
    if (out == nullptr)
        return E_INVALIDARG;
    *out = nullptr;
    if (text == nullptr || *text == 0)
        return S_OK;
    const size_t length = std::wcslen(text);
    auto* copy = static_cast<wchar_t*>(CxAlloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr)
        return E_OUTOFMEMORY;
    std::wmemcpy(copy, text, length + 1);
    *out = copy;
    return S_OK;
}

int CxStrLen(const wchar_t* text)
{
    if (text == nullptr)
        return 0;
    const size_t length = std::wcslen(text);
    return length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

HRESULT CxStrFind(const wchar_t* text, const wchar_t* what, int* position, BOOL substring)
{
    if (text == nullptr || *text == 0 || what == nullptr)
        return E_INVALIDARG;
    const wchar_t* found = substring ? std::wcsstr(text, what) : nullptr;
    if (!substring) {
        // Only the text's own characters: a search for the terminator finds nothing.
        for (const wchar_t* p = text; *p != 0; ++p) {
            if (*p == *what) {
                found = p;
                break;
            }
        }
    }
    if (found == nullptr)
        return E_FAIL;
    if (position != nullptr)
        *position = static_cast<int>(found - text);
    return S_OK;
}

int CxStrCompare(const wchar_t* a, const wchar_t* b, int mode)
{
    const bool aEmpty = a == nullptr || *a == 0;
    const bool bEmpty = b == nullptr || *b == 0;
    if (aEmpty || bEmpty)
        return aEmpty == bEmpty ? 0 : (aEmpty ? -1 : 1);
    switch (mode) {
    case 0:
        return Sign(std::wcscmp(a, b));
    case 1:
        return Sign(_wcsicmp(a, b));
    case 2:
    case 3: {
        const int result = CompareStringW(LOCALE_USER_DEFAULT, mode == 3 ? NORM_IGNORECASE : 0, a, -1, b, -1);
        return result == 0 ? INT_MAX : result - CSTR_EQUAL;
    }
    default:
        return INT_MAX;
    }
}

wchar_t* CxStrSplitAt(const wchar_t* text, BOOL before, wchar_t character)
{
    if (text == nullptr)
        return nullptr;
    const wchar_t* at = std::wcschr(text, character);
    if (character == 0)
        at = nullptr;
    const wchar_t* begin = text;
    size_t length = std::wcslen(text);
    if (at != nullptr) {
        if (before) {
            length = static_cast<size_t>(at - text);
        } else {
            begin = at + 1;
            length = std::wcslen(begin);
        }
    }
    if (length == 0)
        return nullptr;
    auto* part = static_cast<wchar_t*>(CxAlloc((length + 1) * sizeof(wchar_t)));
    if (part == nullptr)
        return nullptr;
    std::wmemcpy(part, begin, length);
    part[length] = 0;
    return part;
}

// ---- CxString ----

CxString::CxString(const wchar_t* text)
{
    CxStrDup(&m_text, text);
}

CxString::CxString(const CxString& other)
{
    CxStrDup(&m_text, other.m_text);
}

CxString::CxString(CxString&& other) noexcept : m_text(other.m_text)
{
    other.m_text = nullptr;
}

CxString::~CxString()
{
    CxFree(m_text);
}

CxString& CxString::operator=(const CxString& other)
{
    Assign(other.m_text);
    return *this;
}

CxString& CxString::operator=(CxString&& other) noexcept
{
    if (this != &other) {
        CxFree(m_text);
        m_text = other.m_text;
        other.m_text = nullptr;
    }
    return *this;
}

void CxString::Empty()
{
    CxFree(m_text);
    m_text = nullptr;
}

HRESULT CxString::Assign(const wchar_t* text)
{
    // Copy first: the text may be this string's own buffer.
    wchar_t* copy = nullptr;
    const HRESULT hr = CxStrDup(&copy, text);
    if (FAILED(hr))
        return hr;
    CxFree(m_text);
    m_text = copy;
    return S_OK;
}

void CxString::Attach(wchar_t* buffer)
{
    if (buffer == m_text)
        return;
    CxFree(m_text);
    m_text = buffer;
    if (m_text != nullptr && *m_text == 0) {
        CxFree(m_text);  // the empty string is null
        m_text = nullptr;
    }
}

wchar_t* CxString::Detach()
{
    wchar_t* buffer = m_text;
    m_text = nullptr;
    return buffer;
}

HRESULT CxString::Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const HRESULT hr = FormatV(format, args);
    va_end(args);
    return hr;
}

HRESULT CxString::FormatV(const wchar_t* format, va_list args)
{
    if (format == nullptr || *format == 0) {
        Empty();
        return S_OK;
    }
    auto* buffer = static_cast<wchar_t*>(CxAlloc((kMaxFormatLength + 1) * sizeof(wchar_t)));
    if (buffer == nullptr)
        return E_OUTOFMEMORY;
    // The run-time's own wide formatter, where %s is a wide text; it does not terminate a cut result.
    _vsnwprintf(buffer, kMaxFormatLength, format, args);
    buffer[kMaxFormatLength] = 0;
    const HRESULT hr = Assign(buffer);
    CxFree(buffer);
    return hr;
}

HRESULT CxString::Find(const wchar_t* what, int* position) const
{
    return CxStrFind(m_text, what, position, TRUE);
}
