#include "device/transport/usb_descriptors.h"

#include "device/transport/byte_order.h"

namespace engine {

namespace {
constexpr std::uint8_t kConfigurationType = 2;
constexpr std::uint8_t kInterfaceType = 4;
constexpr std::uint8_t kEndpointType = 5;
}  // namespace

DescriptorWalk WalkConfigurationDescriptor(const std::uint8_t* bytes, std::size_t size)
{
    DescriptorWalk walk;
    if (!bytes)
        return walk;
    std::size_t end = size;
    // A configuration descriptor states the length of the whole set; never walk past it.
    if (size >= 4 && bytes[1] == kConfigurationType && LoadLe16(bytes + 2) < end)
        end = LoadLe16(bytes + 2);
    std::size_t offset = 0;
    while (offset < end) {
        if (end - offset < 2)
            return walk;
        std::uint8_t length = bytes[offset];
        if (length < 2 || length > end - offset)
            return walk;
        switch (bytes[offset + 1]) {
        case kConfigurationType:
            ++walk.configurations;
            break;
        case kInterfaceType:
            ++walk.interfaces;
            break;
        case kEndpointType:
            ++walk.endpoints;
            break;
        default:
            break;
        }
        offset += length;
    }
    walk.wellFormed = end > 0;
    return walk;
}

}  // namespace engine
