// What the two host processes of two_hosts_test and the test itself agree on: the files, their
// contents and the roles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace twohosts {

inline constexpr int kModel = 3;                   // an older model: flat internal store and a NAND-type card
inline constexpr std::uint8_t kCardDevice = 0x73;  // a 16 MB card
inline constexpr int kCardFiles = 3;
inline constexpr int kInternalFiles = 6;

// Exit codes of the host program.
inline constexpr int kHostDone = 0;
inline constexpr int kHostBadArguments = 2;
inline constexpr int kHostNotIdentified = 3;
inline constexpr int kHostOperationFailed = 4;
inline constexpr int kHostReadBackWrong = 5;

inline std::string CardName(int i)
{
    return "card" + std::to_string(i) + ".bin";
}
inline std::string InternalName(int i)
{
    return "song" + std::to_string(i) + ".bin";
}

// Sizes that span several blocks and end inside one.
inline std::vector<std::uint8_t> Content(std::uint32_t seed, std::size_t size)
{
    std::vector<std::uint8_t> b(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}
inline std::vector<std::uint8_t> CardContent(int i)
{
    return Content(100 + i, 40000 + 7919 * i);
}
inline std::vector<std::uint8_t> InternalContent(int i)
{
    return Content(200 + i, 60000 + 5003 * i);
}

}  // namespace twohosts
