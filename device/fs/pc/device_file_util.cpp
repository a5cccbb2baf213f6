#include "device/fs/pc/device_file_util.h"

#include "platform/win/ansi_text.h"
#include "platform/win/file_util.h"
#include "platform/win/win_platform.h"

#include <cstdint>
#include <string>

namespace engine {

namespace {

// The folder of the device side's temporary files under the system temporary path.
constexpr wchar_t kTempFolderName[] = L"ZAVTCTRL";

HRESULT MakeTempFilePathWide(DWORD size, wchar_t* buffer, const wchar_t* name)
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
        return E_FAIL;
    }
    std::wstring path(temp, length);
    path += kTempFolderName;
    // An existing folder is fine; any other failure shows when the file is made.
    CreateDirectoryW(path.c_str(), nullptr);
    path += L'\\';
    path += name;
    return UtilCopyText(path, buffer, size);
}

HRESULT MakeTempFilePathAnsi(DWORD size, wchar_t* buffer, const wchar_t* name)
{
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        return E_FAIL;
    }
    const AnsiPath ansiName(name);
    if (!ansiName.ok()) {
        return E_FAIL;
    }
    std::string path(temp, length);
    for (const wchar_t* c = kTempFolderName; *c != L'\0'; ++c) {
        path += static_cast<char>(*c);
    }
    CreateDirectoryA(path.c_str(), nullptr);
    path += '\\';
    path += ansiName.c_str();
    // The A calls take no longer path.
    if (path.size() >= MAX_PATH) {
        if (size > 0) {
            buffer[0] = L'\0';
        }
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    return UtilCopyText(AnsiToWide(path), buffer, size);
}

}  // namespace

HRESULT UtilMakeTempFilePath(DWORD size, wchar_t* buffer, const wchar_t* name)
{
    if (buffer == nullptr || name == nullptr) {
        return E_INVALIDARG;
    }
    return WinIsNtPlatform() ? MakeTempFilePathWide(size, buffer, name) : MakeTempFilePathAnsi(size, buffer, name);
}

bool UtilWriteBlankBlockFile(const wchar_t* path)
{
    const HandleOwner file(UtilOpenOrCreateFile(path, true));
    if (!file.valid()) {
        return false;
    }
    std::uint8_t block[1024];
    for (std::uint8_t& b : block) {
        b = 0xFF;
    }
    return WriteExactly(file.get(), block, sizeof(block));
}

const wchar_t* RecordFolderName(long specialBuildNumber)
{
    switch (specialBuildNumber) {
    case 3:
        return L"BRIX Record";
    case 4:
        return L"VOICE RECORD";
    default:
        return L"KWEP RECORD";
    }
}

}  // namespace engine
