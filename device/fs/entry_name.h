// The names an entry of any store may take.
#pragma once

#include <cstddef>

namespace engine {

// Longer names are refused before any store sees them: every PC path built from one must fit the
// platform's limit.
inline constexpr std::size_t kMaxEntryNameChars = 259;

// A name a FAT long name allows, so that the PC can open what the player holds and our own copies to the
// PC never refuse it: 1 to kMaxEntryNameChars characters, none of \ / : * ? " < > |, no control
// character (a terminator inside included), not ending in a dot or a space (which also refuses "."
// and "..").
bool IsEntryName(const wchar_t* name, std::size_t length);

}  // namespace engine
