// Shared by the card folder object's source files only.
#pragma once

namespace engine {

// The closing progress notice (counts no step).
void CardProgressEnd();

}  // namespace engine
