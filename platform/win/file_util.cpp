#include "platform/win/file_util.h"

#include "platform/win/ansi_text.h"
#include "platform/win/win_platform.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <string_view>

namespace {

HMODULE OwnModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &module);
    return module;
}

template <typename Char>
const Char* LastComponent(const Char* path)
{
    const Char* name = path;
    for (const Char* p = path; *p; ++p) {
        if (*p == Char('\\') || *p == Char('/'))
            name = p + 1;
    }
    return name;
}

}  // namespace

HRESULT UtilCopyText(std::wstring_view text, wchar_t* buffer, DWORD size)
{
    if (text.size() >= size) {
        if (size > 0) {
            buffer[0] = L'\0';
        }
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
    return S_OK;
}

bool ReadExactly(HANDLE file, std::uint8_t* out, std::uint32_t bytes)
{
    while (bytes > 0) {
        DWORD got = 0;
        if (!ReadFile(file, out, bytes, &got, nullptr) || got == 0 || got > bytes)
            return false;
        out += got;
        bytes -= got;
    }
    return true;
}

bool WriteExactly(HANDLE file, const std::uint8_t* data, std::uint32_t bytes)
{
    while (bytes > 0) {
        DWORD put = 0;
        if (!WriteFile(file, data, bytes, &put, nullptr) || put == 0 || put > bytes)
            return false;
        data += put;
        bytes -= put;
    }
    return true;
}

const wchar_t* NamePart(const wchar_t* path)
{
    return LastComponent(path);
}

const char* NamePart(const char* path)
{
    return LastComponent(path);
}

bool UtilIsDeviceName(const wchar_t* component, std::size_t length)
{
    std::size_t stem = 0;
    while (stem < length && component[stem] != L'.' && component[stem] != L':')
        ++stem;
    while (stem > 0 && component[stem - 1] == L' ')
        --stem;
    auto is = [&](const wchar_t* name) {
        return stem == std::wcslen(name) && _wcsnicmp(component, name, stem) == 0;
    };
    if (is(L"CON") || is(L"PRN") || is(L"AUX") || is(L"NUL"))
        return true;
    return stem == 4 && (_wcsnicmp(component, L"COM", 3) == 0 || _wcsnicmp(component, L"LPT", 3) == 0) &&
           component[3] >= L'1' && component[3] <= L'9';
}

bool UtilPathNamesDevice(const wchar_t* path)
{
    if (!path)
        return false;
    const wchar_t* start = path;
    for (const wchar_t* p = path;; ++p) {
        if (*p == L'\\' || *p == L'/' || *p == 0) {
            if (UtilIsDeviceName(start, static_cast<std::size_t>(p - start)))
                return true;
            if (*p == 0)
                return false;
            start = p + 1;
        }
    }
}

HRESULT UtilCheckOSVersion()
{
    return WinDetectPlatform() ? S_OK : E_FAIL;
}

bool UtilIsUnicodeOS()
{
    return WinIsNtPlatform();
}

bool UtilDeleteFile(const wchar_t* path)
{
    if (path == nullptr) {
        return false;
    }
    if (WinIsNtPlatform()) {
        return DeleteFileW(path);
    }
    const AnsiPath ansi(path);
    return ansi.ok() && DeleteFileA(ansi.c_str());
}

bool UtilDeleteFileForce(const wchar_t* path)
{
    if (path == nullptr) {
        return false;
    }
    const DWORD attributes = UtilGetFileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if (!UtilSetFileAttributes(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        return false;
    }
    return UtilDeleteFile(path);
}

DWORD UtilGetFileAttributes(const wchar_t* path)
{
    if (path == nullptr) {
        return 0;
    }
    if (WinIsNtPlatform()) {
        return GetFileAttributesW(path);
    }
    const AnsiPath ansi(path);
    return ansi.ok() ? GetFileAttributesA(ansi.c_str()) : INVALID_FILE_ATTRIBUTES;
}

bool UtilSetFileAttributes(const wchar_t* path, DWORD attributes)
{
    if (path == nullptr) {
        return false;
    }
    if (WinIsNtPlatform()) {
        return SetFileAttributesW(path, attributes);
    }
    const AnsiPath ansi(path);
    return ansi.ok() && SetFileAttributesA(ansi.c_str(), attributes);
}

bool UtilMoveFile(const wchar_t* from, const wchar_t* to)
{
    if (from == nullptr || to == nullptr) {
        return false;
    }
    if (WinIsNtPlatform()) {
        return MoveFileW(from, to);
    }
    const AnsiPath ansiFrom(from);
    const AnsiPath ansiTo(to);
    return ansiFrom.ok() && ansiTo.ok() && MoveFileA(ansiFrom.c_str(), ansiTo.c_str());
}

bool UtilCopyFile(const wchar_t* from, const wchar_t* to)
{
    if (from == nullptr || to == nullptr) {
        return false;
    }
    if (WinIsNtPlatform()) {
        return CopyFileW(from, to, FALSE);
    }
    const AnsiPath ansiFrom(from);
    const AnsiPath ansiTo(to);
    return ansiFrom.ok() && ansiTo.ok() && CopyFileA(ansiFrom.c_str(), ansiTo.c_str(), FALSE);
}

HANDLE UtilOpenOrCreateFile(const wchar_t* path, bool write)
{
    if (path == nullptr) {
        return nullptr;
    }
    const DWORD access = write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const DWORD share = write ? 0 : FILE_SHARE_READ;
    const DWORD disposition = write ? CREATE_ALWAYS : OPEN_EXISTING;
    if (WinIsNtPlatform()) {
        return CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    const AnsiPath ansi(path);
    if (!ansi.ok()) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(ansi.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool UtilStatFile(const wchar_t* path, UtilStatRecord* record)
{
    if (path == nullptr || record == nullptr) {
        return false;
    }
    UtilStatRecord status{};
    if (WinIsNtPlatform()) {
        if (_wstat64(path, &status) != 0) {
            return false;
        }
    } else {
        const AnsiPath ansi(path);
        if (!ansi.ok() || _stat64(ansi.c_str(), &status) != 0) {
            return false;
        }
    }
    *record = status;
    return true;
}

bool UtilGetFileSize(const wchar_t* path, DWORD* low, DWORD* high)
{
    if (low == nullptr || high == nullptr) {
        return false;
    }
    UtilStatRecord status{};
    if (!UtilStatFile(path, &status)) {
        return false;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    *low = static_cast<DWORD>(size);
    *high = static_cast<DWORD>(size >> 32);
    return true;
}

bool UtilLoadResourceData(UINT id, const char* type, std::unique_ptr<std::uint8_t[]>* data, DWORD* size)
{
    if (type == nullptr || size == nullptr) {
        return false;
    }
    const HMODULE module = OwnModule();
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (found == nullptr) {
        return false;
    }
    const DWORD length = SizeofResource(module, found);
    const HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr || length == 0) {
        return false;
    }
    if (data != nullptr) {
        std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[length]);
        if (!copy) {
            return false;
        }
        std::memcpy(copy.get(), bytes, length);
        *data = std::move(copy);
    }
    *size = length;
    return true;
}

bool UtilWriteResourceToFile(UINT id, const char* type, const wchar_t* path)
{
    std::unique_ptr<std::uint8_t[]> data;
    DWORD size = 0;
    if (path == nullptr || !UtilLoadResourceData(id, type, &data, &size)) {
        return false;
    }
    const HandleOwner file(UtilOpenOrCreateFile(path, true));
    return file.valid() && WriteExactly(file.get(), data.get(), size);
}

HMODULE UtilLoadLibrary(const wchar_t* path)
{
    if (path == nullptr) {
        return nullptr;
    }
    if (WinIsNtPlatform()) {
        return LoadLibraryW(path);
    }
    const AnsiPath ansi(path);
    return ansi.ok() ? LoadLibraryA(ansi.c_str()) : nullptr;
}

bool UtilGetModuleDirPath(HMODULE module, wchar_t* buffer, DWORD size)
{
    if (buffer == nullptr) {
        return false;
    }
    std::wstring path;
    if (WinIsNtPlatform()) {
        wchar_t name[MAX_PATH];
        const DWORD length = GetModuleFileNameW(module, name, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return false;
        }
        path.assign(name, length);
    } else {
        char name[MAX_PATH];
        const DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return false;
        }
        path = AnsiToWide(std::string_view(name, length));
    }
    // Keep the drive and folder: everything up to the last separator.
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        return false;
    }
    path.resize(slash);
    path += L'\\';
    return SUCCEEDED(UtilCopyText(path, buffer, size));
}

bool UtilGetFileExtension(const wchar_t* path, std::wstring* extension)
{
    if (path == nullptr || extension == nullptr) {
        return false;
    }
    const std::wstring_view text(path);
    const std::size_t slash = text.find_last_of(L"\\/:");
    const std::wstring_view last = slash == std::wstring_view::npos ? text : text.substr(slash + 1);
    const std::size_t dot = last.find_last_of(L'.');
    *extension = dot == std::wstring_view::npos ? std::wstring() : std::wstring(last.substr(dot));
    return !extension->empty();
}

bool UtilIsSupportedAudioFile(const wchar_t* name, bool recordingCheck)
{
    std::wstring extension;
    if (!UtilGetFileExtension(name, &extension)) {
        return false;
    }
    const auto is = [&extension](const wchar_t* candidate) {
        return _wcsicmp(extension.c_str(), candidate) == 0;
    };
    if (is(L".mp3")) {
        if (!recordingCheck) {
            return true;
        }
        // The player's own recordings: RADIOn..., MUSICn..., VOICEn...
        const std::wstring_view text(name);
        if (text.size() > 5 && text[5] >= L'0' && text[5] <= L'9') {
            for (const wchar_t* prefix : {L"RADIO", L"MUSIC", L"VOICE"}) {
                if (_wcsnicmp(name, prefix, 5) == 0) {
                    return false;
                }
            }
        }
        return true;
    }
    if (is(L".wma") || is(L".aac") || is(L".asf")) {
        return true;
    }
    if (is(L".wav")) {
        return !recordingCheck;
    }
    return false;
}
