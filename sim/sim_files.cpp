#include "sim/sim_files.h"

#include <windows.h>

#include <fstream>

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

}  // namespace sim
