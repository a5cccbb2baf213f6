// The Windows platform family that decides between the Unicode and the ANSI system calls, the
// conversions between the two encodings, and the fatal stop on a programming error.
#pragma once

#include "manager/framework/windows/cx_string.h"
#include "platform/win/win_platform.h"

#include <windows.h>

#include <mutex>

// ---- Platform code ----
// The decision is the one platform/win makes for everything built on it.

constexpr DWORD CX_PLATFORM_OTHER = WIN_PLATFORM_OTHER;
constexpr DWORD CX_PLATFORM_WIN95 = WIN_PLATFORM_WIN95;
constexpr DWORD CX_PLATFORM_WIN98 = WIN_PLATFORM_WIN98;
constexpr DWORD CX_PLATFORM_NT4 = WIN_PLATFORM_NT4;
constexpr DWORD CX_PLATFORM_NT5 = WIN_PLATFORM_NT5;

inline DWORD CxPlatformFromVersion(DWORD platformId, DWORD majorVersion, DWORD minorVersion)
{
    return WinPlatformFromVersion(platformId, majorVersion, minorVersion);
}
inline DWORD CxGetPlatform()
{
    return WinGetPlatform();
}
inline bool CxIsNtPlatform()
{
    return WinIsNtPlatform();
}
inline void CxForcePlatform(DWORD code)
{
    WinForcePlatform(code);
}
inline void CxClearForcedPlatform()
{
    WinClearForcedPlatform();
}

// ---- Conversions with the ANSI code page ----

// Bytes that the ANSI copy of text needs, terminator included; 0 for null.
int CxW2ALength(const wchar_t* text);
// An ANSI copy of text in a framework heap buffer of the given bytes (computed when -1). Null for a
// null text, a zero size, a size too small for the whole text, or out of memory.
char* CxW2ANew(const wchar_t* text, int bytes = -1);
// The wide copy of an ANSI text, in a buffer of the given characters (computed when -1); null as above.
wchar_t* CxA2WNew(const char* text, int characters = -1);

// ---- The program's path ----

// The full path of the program file: 1024 characters through the wide call on the NT family, 1024 bytes
// through the ANSI call otherwise (then converted). E_UNEXPECTED when it cannot be read or does not fit
// (a cut path is no path), E_OUTOFMEMORY.
HRESULT CxReadModulePath(CxString* path);

// A text read at the first Copy only and kept with the result of that reading, a failure included.
class CxKeptReading {
public:
    using Reader = HRESULT (*)(CxString* text);
    explicit CxKeptReading(Reader reader) : m_reader(reader) {}
    CxKeptReading(const CxKeptReading&) = delete;
    CxKeptReading& operator=(const CxKeptReading&) = delete;

    // The kept text; the kept failure (with out emptied), or E_OUTOFMEMORY when the copy cannot be made.
    HRESULT Copy(CxString* out);

private:
    std::once_flag m_once;
    Reader m_reader;
    HRESULT m_result = E_UNEXPECTED;
    CxString m_text;
};

// The program's path (CxReadModulePath), read once per process; E_INVALIDARG for a null out.
HRESULT CxGetModuleFolder(CxString* path);

// ---- Fatal stop ----

// The message of an index outside an array: index, then last valid index.
const wchar_t* CxRangeErrorFormat();
// Formats the message, shows it in an error box and ends the process at once.
[[noreturn]] void CxFatalError(const wchar_t* format, ...);
// Receives the message in place of the box (the process still ends when the hook returns, so a test
// hook leaves by throwing). Returns the previous hook.
using CxFatalErrorHook = void (*)(const wchar_t* message);
CxFatalErrorHook CxSetFatalErrorHook(CxFatalErrorHook hook);
