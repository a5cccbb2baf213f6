// File helpers of the simulated player's folder. Internal to sim/.
#pragma once

#include <filesystem>

namespace sim {

// Moves a finished temporary file over its target in one step, so a player folder never holds a
// half-written file; the temporary file is removed when the move fails.
bool ReplaceFileWith(const std::filesystem::path& temp, const std::filesystem::path& target);

}  // namespace sim
