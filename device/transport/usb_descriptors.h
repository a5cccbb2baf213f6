// Walk of the USB configuration descriptor that the driver hands back on a probe. The bytes come
// from the device, so the walk is bounded by the bytes returned and by each descriptor's length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

struct DescriptorWalk {
    std::uint32_t configurations = 0;
    std::uint32_t interfaces = 0;
    std::uint32_t endpoints = 0;
    bool wellFormed = false;  // every descriptor lay whole inside the bytes and had a length of 2 or more
};

DescriptorWalk WalkConfigurationDescriptor(const std::uint8_t* bytes, std::size_t size);

}  // namespace engine
