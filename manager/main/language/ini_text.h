// The language files' own INI reading: the whole file as one wide text, sections found as "\n[name]",
// keys as "\n<number>=" or "\n<name>=", and the value's two escapes. Blanks are part of keys and values,
// and the first of two equal keys wins. Packs are untrusted: files, values and walks are bounded.
#pragma once

#include "manager/framework/windows/cx_string.h"

#include <windows.h>

#include <string_view>

// Largest language file read (bytes); a bigger one is refused.
constexpr DWORD kIniMaxFileBytes = 4u << 20;
// Longest value taken (characters, before unescaping); a longer one counts as missing.
constexpr size_t kIniMaxValueChars = 16383;

// A language file's text: a line feed first, every carriage return made a line feed, zero-terminated.
class CIniText {
public:
    CIniText() = default;
    CIniText(const CIniText&) = delete;
    CIniText& operator=(const CIniText&) = delete;

    std::wstring_view View() const { return {m_text.get() != nullptr ? m_text.get() : L"", m_length}; }
    // Takes over a framework heap buffer of length characters plus the terminator.
    void Attach(wchar_t* text, size_t length)
    {
        m_text.reset(text);
        m_length = text != nullptr ? length : 0;
    }

private:
    CxHeapPtr<wchar_t> m_text;
    size_t m_length = 0;
};

// Reads a location: a resource location ("<module>?<id>,<type>") of a module already loaded, else a file
// (read access, shared read, existing only), converted from the system code page. E_UNEXPECTED for an
// empty location, E_ACCESSDENIED when the resource cannot be locked, E_OUTOFMEMORY, the file's failure,
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) beyond kIniMaxFileBytes.
HRESULT IniLoadText(const wchar_t* location, CIniText* text);
// The body of the section: from after "\n[name]" to the next "\n[" or the end. E_FAIL when absent,
// E_INVALIDARG for an empty name.
HRESULT IniFindSection(std::wstring_view text, const wchar_t* section, std::wstring_view* body);
// The unescaped value of a numeric key (its low 16 bits, "\n%lu=") or a named key ("\n%s="), up to the
// next line feed. E_FAIL when the key is absent, its value empty or longer than kIniMaxValueChars.
HRESULT IniFindKey(std::wstring_view section, UINT key, CxString* value);
HRESULT IniFindKey(std::wstring_view section, const wchar_t* key, CxString* value);
// "\n" -> line feed, "\t" -> tab, and then a backslash before any other character is dropped; a value
// holding neither escape is kept exactly, backslashes included.
HRESULT IniUnescape(std::wstring_view value, CxString* out);
