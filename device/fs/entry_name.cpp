// The names an entry of any store may take.
#include "device/fs/entry_name.h"

#include <cwchar>

namespace engine {

bool IsEntryName(const wchar_t* name, std::size_t length)
{
    if (!name || length == 0 || length > kMaxEntryNameChars)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        const wchar_t c = name[i];
        if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c))
            return false;
    }
    return name[length - 1] != L'.' && name[length - 1] != L' ';
}

}  // namespace engine
