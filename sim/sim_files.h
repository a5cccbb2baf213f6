// File helpers of the simulated player's folder; RemoveTree also serves the tests and the benchmark.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>

namespace sim {

// Writes `target` through `write` into a temporary file that is moved over the target in one step, so
// a player folder never holds a half-written file. `write` answers false to give up; the temporary
// file is removed whenever the file is not replaced.
bool WriteFileReplacing(const std::filesystem::path& target, const std::function<bool(std::ostream&)>& write);

// Removes `path` and, for a folder, everything below it, never through a link: a folder marked as a
// reparse point is neither entered nor removed, nor is a folder already entered on the way down (a
// way back up that no mark gives away). Wine marks a symbolic link to a folder as a reparse point but
// removes a link's target in its place, so links are left, with the folders that hold them, for the
// caller (the host's `rm` removes them safely). A file link carries no mark under Wine, and deleting
// it deletes its target. True when nothing is left (or nothing was there).
bool RemoveTree(const std::filesystem::path& path);

}  // namespace sim
