// The card as its volume reaches it: the one seam between the FAT volume and the card's storage. A
// NAND-type card holds one cluster per erase block, found through the block-address fields of its spare
// records; an MMC/SD card holds a cluster in consecutive 512-byte sectors. Every call runs within an open
// pipe bracket.
#pragma once

#include "device/fs/engine_status.h"

#include <cstdint>

namespace engine {

class FatVolume;

class CardMedium {
public:
    virtual ~CardMedium() = default;

    // Reads one data cluster into `out` (a cluster's bytes): kStatusOk or kStatusUsbError.
    virtual EngineStatus ReadCluster(std::uint32_t cluster, std::uint8_t* out) = 0;
    // Writes `bytes` (at most one cluster) to a data cluster, the rest filled with `fill`: kStatusOk,
    // kStatusUsbError or kStatusStorageFull (no memory, or no block for it).
    virtual EngineStatus WriteCluster(std::uint32_t cluster, const std::uint8_t* data, std::uint32_t bytes,
                                      std::uint8_t fill) = 0;
    // A free cluster, marked end of chain at once, with the storage to write it: kStatusOk,
    // kStatusStorageFull or kStatusUsbError. With `retry` a cluster whose storage cannot be had is marked
    // bad and the next one tried; without, the search ends there.
    virtual EngineStatus TakeCluster(std::uint32_t& cluster, bool retry) = 0;
    // Lets go of the storage of a cluster that is free in the FAT (a NAND-type card erases its block):
    // kStatusOk or kStatusUsbError.
    virtual EngineStatus EraseCluster(std::uint32_t cluster) = 0;
    // Writes the FAT and the root directory back: kStatusOk, kStatusUsbError, kStatusNoStorage (nothing
    // mounted) or kStatusStorageFull (no memory). `rootFirst`: the operation frees clusters, so the root
    // lets go of them before the FAT does.
    virtual EngineStatus Flush(bool rootFirst) = 0;
};

// A NAND-type card through its block translation.
class NandCardMedium final : public CardMedium {
public:
    explicit NandCardMedium(FatVolume& volume) : volume_(volume) {}
    EngineStatus ReadCluster(std::uint32_t cluster, std::uint8_t* out) override;
    EngineStatus WriteCluster(std::uint32_t cluster, const std::uint8_t* data, std::uint32_t bytes,
                              std::uint8_t fill) override;
    EngineStatus TakeCluster(std::uint32_t& cluster, bool retry) override;
    EngineStatus EraseCluster(std::uint32_t cluster) override;
    EngineStatus Flush(bool rootFirst) override;

private:
    FatVolume& volume_;
};

// An MMC/SD card through sector commands.
class SectorCardMedium final : public CardMedium {
public:
    explicit SectorCardMedium(FatVolume& volume) : volume_(volume) {}
    EngineStatus ReadCluster(std::uint32_t cluster, std::uint8_t* out) override;
    EngineStatus WriteCluster(std::uint32_t cluster, const std::uint8_t* data, std::uint32_t bytes,
                              std::uint8_t fill) override;
    EngineStatus TakeCluster(std::uint32_t& cluster, bool retry) override;
    EngineStatus EraseCluster(std::uint32_t cluster) override;
    EngineStatus Flush(bool rootFirst) override;

private:
    FatVolume& volume_;
};

}  // namespace engine
