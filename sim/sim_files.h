// File helpers of the simulated player's folder. Internal to sim/.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>

namespace sim {

// Writes `target` through `write` into a temporary file that is moved over the target in one step, so
// a player folder never holds a half-written file. `write` answers false to give up; the temporary
// file is removed whenever the file is not replaced.
bool WriteFileReplacing(const std::filesystem::path& target, const std::function<bool(std::ostream&)>& write);

}  // namespace sim
