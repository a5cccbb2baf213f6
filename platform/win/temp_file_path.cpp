#include "platform/win/temp_file_path.h"

#include "platform/win/win_platform.h"

#include <cwchar>

namespace {

// The ANSI copy of a path, which the ANSI calls take in at most MAX_PATH bytes. False when it does not fit.
bool AnsiPath(const wchar_t* path, char (&ansi)[MAX_PATH])
{
    return WideCharToMultiByte(CP_ACP, 0, path, -1, ansi, MAX_PATH, nullptr, nullptr) > 0;
}

// The manager folder's name: the program's string, else the default.
void TempFolderName(wchar_t (&name)[MAX_PATH])
{
    if (LoadStringW(GetModuleHandleW(nullptr), IDS_UTIL_TEMP_FOLDER, name, MAX_PATH) <= 0)
        wcscpy(name, kUtilTempFolderDefault);
}

// The temporary folder (with its trailing backslash) as wide text: the system is asked with the wide or
// the ANSI call. Empty on failure.
bool SystemTempFolder(wchar_t (&folder)[MAX_PATH + 1])
{
    folder[0] = L'\0';
    if (WinIsNtPlatform()) {
        const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
        return n != 0 && n <= MAX_PATH;
    }
    char ansi[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(MAX_PATH + 1, ansi);
    if (n == 0 || n > MAX_PATH)
        return false;
    return MultiByteToWideChar(CP_ACP, 0, ansi, -1, folder, MAX_PATH + 1) > 0;
}

bool FolderExists(const wchar_t* path)
{
    DWORD attributes;
    if (WinIsNtPlatform()) {
        attributes = GetFileAttributesW(path);
    } else {
        char ansi[MAX_PATH];
        if (!AnsiPath(path, ansi))
            return false;
        attributes = GetFileAttributesA(ansi);
    }
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFolder(const wchar_t* path)
{
    if (FolderExists(path))
        return true;
    BOOL made;
    if (WinIsNtPlatform()) {
        made = CreateDirectoryW(path, nullptr);
    } else {
        char ansi[MAX_PATH];
        made = AnsiPath(path, ansi) && CreateDirectoryA(ansi, nullptr);
    }
    // Another process may have made it in between.
    return made || FolderExists(path);
}

}  // namespace

HRESULT UtilGetTempFilePath(DWORD length, wchar_t* buffer, const wchar_t* name)
{
    if (buffer == nullptr || name == nullptr)
        return E_INVALIDARG;
    if (length > 0)
        buffer[0] = L'\0';
    wchar_t folder[MAX_PATH + 1];
    if (!SystemTempFolder(folder))
        return E_FAIL;
    wchar_t folderName[MAX_PATH];
    TempFolderName(folderName);

    // The whole path is measured before anything is written: the buffer's length is the caller's.
    const size_t folderLength = wcslen(folder);
    const bool needsSeparator = folderLength > 0 && folder[folderLength - 1] != L'\\';
    const size_t total = folderLength + (needsSeparator ? 1 : 0) + wcslen(folderName) + 1 + wcslen(name);
    if (total + 1 > length)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    // The ANSI calls take at most MAX_PATH bytes of path.
    if (!WinIsNtPlatform() && total + 1 > MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    wcscpy(buffer, folder);
    if (needsSeparator)
        wcscat(buffer, L"\\");
    wcscat(buffer, folderName);
    if (!MakeFolder(buffer)) {
        buffer[0] = L'\0';
        return E_FAIL;
    }
    wcscat(buffer, L"\\");
    wcscat(buffer, name);
    return S_OK;
}
