// Which object owns each storage's open stream.
#include "device/api/device_context.h"

#include <mutex>

namespace {

// Claims are short and never wait for the player, so one lock serves every context.
std::mutex g_streamOwnersMutex;

std::size_t SlotOf(std::uint32_t storage)
{
    return storage != 0 ? 1 : 0;
}

}  // namespace

bool DeviceContext::ClaimStream(std::uint32_t storage, const void* owner)
{
    if (owner == nullptr)
        return false;
    const bool shared = !UsesFolderObjects();
    std::lock_guard<std::mutex> hold(g_streamOwnersMutex);
    const std::size_t slot = SlotOf(storage);
    if (streamOwners_[slot] != nullptr || (shared && streamOwners_[1 - slot] != nullptr))
        return false;
    streamOwners_[slot] = owner;
    return true;
}

bool DeviceContext::OwnsStream(std::uint32_t storage, const void* owner)
{
    std::lock_guard<std::mutex> hold(g_streamOwnersMutex);
    return owner != nullptr && streamOwners_[SlotOf(storage)] == owner;
}

void DeviceContext::ReleaseStream(std::uint32_t storage, const void* owner)
{
    std::lock_guard<std::mutex> hold(g_streamOwnersMutex);
    const std::size_t slot = SlotOf(storage);
    if (owner != nullptr && streamOwners_[slot] == owner)
        streamOwners_[slot] = nullptr;
}
