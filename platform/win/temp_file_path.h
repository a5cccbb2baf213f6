// The manager's temporary files: a path under its own folder of the system temporary folder.
#pragma once

#include <windows.h>

// The string that names the manager's folder under the system temporary folder, and the name used when
// the program carries no such string.
constexpr UINT IDS_UTIL_TEMP_FOLDER = 62263;
constexpr const wchar_t* kUtilTempFolderDefault = L"KwepManager2";

// Writes "<temporary folder>\<manager folder>\<name>" into buffer, which holds length characters with
// the terminator; the manager folder is created when missing. E_INVALIDARG for a null buffer or name,
// E_FAIL when the temporary folder cannot be read or the folder cannot be made,
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when the path does not fit (the buffer is then left
// empty). Wide system calls on the NT family, ANSI ones otherwise.
HRESULT UtilGetTempFilePath(DWORD length, wchar_t* buffer, const wchar_t* name);
