// What two_programs_test and its host program agree on: the host's arguments, its exit codes, and the
// names and contents of the files each host downloads.
//
//   two_programs_host STORAGE FOLDER TAG COUNT READY_EVENT GO_EVENT
//
// The host identifies the player named by the environment through a device context, makes FOLDER
// ("-" for the root) of STORAGE (0 internal memory, 1 the card) its current folder and lists it, sets
// READY_EVENT, waits for GO_EVENT ("-" for either: none), then downloads COUNT files named after TAG.
#pragma once

#include "tests/device/transport/two_hosts.h"

#include <cstdint>
#include <string>
#include <vector>

namespace twoprograms {

inline constexpr int kHostDone = 0;
inline constexpr int kHostBadArguments = 2;
inline constexpr int kHostNotIdentified = 3;
inline constexpr int kHostNoFolder = 4;
inline constexpr int kHostDownloadFailed = 5;

// File i of a host: the first one large (several blocks, ending inside one), the others small.
inline std::string FileName(const std::string& tag, int i)
{
    return tag + std::to_string(i) + ".bin";
}
inline std::size_t FileSize(int i)
{
    return i == 0 ? 150000 : 2500 + 97 * static_cast<std::size_t>(i);
}
inline std::vector<std::uint8_t> FileContent(const std::string& tag, int i)
{
    std::uint32_t seed = static_cast<std::uint32_t>(i);
    for (char c : tag)
        seed = seed * 31 + static_cast<std::uint8_t>(c);
    return twohosts::Content(seed, FileSize(i));
}

}  // namespace twoprograms
