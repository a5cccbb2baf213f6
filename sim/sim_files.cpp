#include "sim/sim_files.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace sim {

bool WriteFileReplacing(const std::filesystem::path& target, const std::function<bool(std::ostream&)>& write)
{
    std::filesystem::path temp = target;
    temp += ".new";
    bool ok;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        ok = write(out);
        out.flush();
        ok = ok && static_cast<bool>(out);
    }
    if (ok && MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temp.c_str());
    return false;
}

namespace {

struct FolderId {
    DWORD volume, indexHigh, indexLow;
    bool operator==(const FolderId&) const = default;
};

bool ReadFolderId(const std::wstring& folder, FolderId& id)
{
    const HANDLE handle =
        CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL read = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!read)
        return false;
    id = FolderId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

bool DeletePlainFile(const std::wstring& file, DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(file.c_str()) != FALSE;
}

// `entered`: the folders from the top down to this one's parent.
bool RemoveFolder(const std::wstring& folder, std::vector<FolderId>& entered)
{
    FolderId id{};
    const bool known = ReadFolderId(folder, id);
    if (known) {
        if (std::find(entered.begin(), entered.end(), id) != entered.end())
            return false;
        entered.push_back(id);
    }
    bool removed = true;
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            data.cFileName[MAX_PATH - 1] = L'\0';
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                removed = false;
            else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removed = RemoveFolder(path, entered) && removed;
            else
                removed = DeletePlainFile(path, data.dwFileAttributes) && removed;
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    if (known)
        entered.pop_back();
    return removed && RemoveDirectoryW(folder.c_str());
}

}  // namespace

bool RemoveTree(const std::filesystem::path& path)
{
    const std::wstring top = path.wstring();
    const DWORD attributes = GetFileAttributesW(top.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return false;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeletePlainFile(top, attributes);
    std::vector<FolderId> entered;
    return RemoveFolder(top, entered);
}

}  // namespace sim
