#include "sim_files.h"

#include <windows.h>

namespace sim {

bool ReplaceFileWith(const std::filesystem::path& temp, const std::filesystem::path& target) {
    if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileW(temp.c_str());
    return false;
}

}  // namespace sim
