// The framework's owning UTF-16 string, the wide-string helpers beside it, and the framework heap
// that texts handed between windows come from.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <memory>

// ---- Framework heap ----
// Texts and conversions that change owner (CxString buffers, CxStrDup copies, posted texts) are
// framework heap blocks; whoever owns one frees it with CxFree.
void* CxAlloc(size_t bytes);  // null on failure
void CxFree(void* block);     // null is ignored
// Blocks allocated and not yet freed, process-wide (ownership checks).
long CxAllocCount();
// Owns a framework heap block (texts, conversions, buffers) and frees it on every path.
struct CxFreeDeleter {
    void operator()(void* block) const { CxFree(block); }
};
template <class T>
using CxHeapPtr = std::unique_ptr<T, CxFreeDeleter>;

// ---- Wide-string helpers ----

// A new copy of text, or null for a null or empty text (S_OK); E_OUTOFMEMORY with null.
HRESULT CxStrDup(wchar_t** out, const wchar_t* text);
// Characters of text; 0 for null.
int CxStrLen(const wchar_t* text);
// Position of what in text: the whole of what (substring nonzero) or its first character.
// E_INVALIDARG for an empty text or a null what, E_FAIL when absent.
HRESULT CxStrFind(const wchar_t* text, const wchar_t* what, int* position, BOOL substring);
// An empty (null or "") text sorts first, two empties are equal; otherwise by mode: 0 exact, 1 case
// insensitive, 2 locale collation, 3 case-insensitive locale collation. -1, 0 or 1; INT_MAX for
// another mode (or when the system cannot compare).
int CxStrCompare(const wchar_t* a, const wchar_t* b, int mode);
// A new text holding the part before (before nonzero) or after the first character; the whole text
// when it does not occur. Null for an empty result or out of memory.
wchar_t* CxStrSplitAt(const wchar_t* text, BOOL before, wchar_t character);

// ---- CxString ----

class CxString {
public:
    CxString() = default;
    CxString(const wchar_t* text);  // a copy; the empty string when out of memory
    CxString(const CxString& other);
    CxString(CxString&& other) noexcept;
    ~CxString();
    CxString& operator=(const CxString& other);
    CxString& operator=(CxString&& other) noexcept;

    // The text, or null for the empty string.
    operator const wchar_t*() const { return m_text; }

    void Empty();
    // Replaces the text by a copy; E_OUTOFMEMORY leaves it as it was.
    HRESULT Assign(const wchar_t* text);
    // Takes over a framework heap buffer (null empties).
    void Attach(wchar_t* buffer);
    // Hands the buffer to the caller, who frees it with CxFree; the string is left empty.
    wchar_t* Detach();
    // printf-style wide formatting (%s takes a wide text); at most 16383 characters are kept. An empty
    // or null format gives the empty string. E_OUTOFMEMORY leaves the text as it was.
    HRESULT Format(const wchar_t* format, ...);
    HRESULT FormatV(const wchar_t* format, va_list args);

    bool IsEmpty() const { return m_text == nullptr; }
    int GetLength() const { return CxStrLen(m_text); }
    // The buffer pointer's address, for functions that fill a text through an out-parameter; the string
    // is emptied first so that an overwritten buffer is not lost.
    wchar_t** GetAddress()
    {
        Empty();
        return &m_text;
    }
    // CxStrFind with a substring search.
    HRESULT Find(const wchar_t* what, int* position) const;

    // Longest text Format keeps.
    static constexpr int kMaxFormatLength = 16383;

private:
    wchar_t* m_text = nullptr;
};

// Comparing through the pointer conversion would compare addresses: use CxStrCompare.
bool operator==(const CxString&, const CxString&) = delete;
bool operator==(const CxString&, const wchar_t*) = delete;
bool operator==(const wchar_t*, const CxString&) = delete;
