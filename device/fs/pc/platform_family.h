// Which family of Windows the process runs on. The NT family gets the wide (W) system calls; the
// Windows 95 family gets the ANSI (A) calls, with every UTF-16 path converted to the ANSI code page.
// One process-wide answer, read by every file helper of the device side.
#pragma once

#include <optional>

namespace engine {

// True on the NT family. Decided from the system version on first use (or by UtilCheckOSVersion),
// unless a test has forced it.
bool IsNtFamily();

// Re-reads the system version and records the family. False, with the answer unchanged, when the
// version cannot be read.
bool DetectNtFamily();

// Tests only: force the answer (false selects the ANSI branch); std::nullopt returns to the system's.
void ForceNtFamilyForTesting(std::optional<bool> ntFamily);

}  // namespace engine
