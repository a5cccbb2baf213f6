// The card as its volume reaches it: the one seam between the FAT volume and the card's storage. A
// NAND-type card holds one cluster per erase block, found through the block-address fields of its spare
// records; an MMC/SD card holds a cluster in consecutive 512-byte sectors. Every call runs within an open
// pipe bracket.
#pragma once

#include "device/fs/engine_status.h"
#include "device/transport/command_block.h"

#include <cstddef>
#include <cstdint>
#include <memory>

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

// One erase block of a NAND-type card as a block write sends it: a 576-byte unit per page, its data
// filled by the caller, its spare record by the medium. Taken before anything is sent, so that no
// block is erased for a write that then finds no memory.
class CardBlockImage {
public:
    explicit CardBlockImage(std::uint32_t pages);
    // False when the units could not be had.
    bool Ok() const { return units_ != nullptr; }
    std::uint32_t Pages() const { return pages_; }
    // Page p's 512 data bytes.
    std::uint8_t* Page(std::uint32_t p) { return units_[p].data; }
    // Every page's data set to `fill`; `bytes` of `data` (at most the pages' bytes) over them from the
    // first page on.
    void Fill(std::uint8_t fill, const std::uint8_t* data = nullptr, std::size_t bytes = 0);

private:
    friend class NandCardMedium;
    std::uint32_t pages_;
    std::unique_ptr<UsbTransferUnit[]> units_;
};

// A NAND-type card through its block translation. Besides the clusters, the one place where the
// card's blocks are programmed and erased: the root's file operations, the system-area rewrite and
// the format go through the operations below. A failed transfer leaves the spare records to be
// reloaded by the next operation.
class NandCardMedium final : public CardMedium {
public:
    explicit NandCardMedium(FatVolume& volume) : volume_(volume) {}
    EngineStatus ReadCluster(std::uint32_t cluster, std::uint8_t* out) override;
    EngineStatus WriteCluster(std::uint32_t cluster, const std::uint8_t* data, std::uint32_t bytes,
                              std::uint8_t fill) override;
    EngineStatus TakeCluster(std::uint32_t& cluster, bool retry) override;
    EngineStatus EraseCluster(std::uint32_t cluster) override;
    EngineStatus Flush(bool rootFirst) override;

    // Programs the erased block at the cursor with `image` (one page per sector of the block), every
    // page with the spare record of logical block `logical`: kStatusOk or kStatusUsbError.
    EngineStatus ProgramBlock(std::uint32_t logical, CardBlockImage& image);
    // Programs the page at the cursor with 512 bytes of `data` and the spare record of logical block
    // `logical`, or with `spare` as given: kStatusOk or kStatusUsbError.
    EngineStatus ProgramPage(std::uint32_t logical, const std::uint8_t* data);
    EngineStatus ProgramPage(const std::uint8_t* data, const std::uint8_t* spare);
    // Erases the block at the cursor; a block that fails to erase is retired, and `erased` tells the
    // two apart: kStatusOk, or kStatusUsbError when a transfer failed.
    EngineStatus EraseBlock(bool& erased);
    EngineStatus EraseBlock();
    // Retires the block at the cursor (its spare record marked bad): kStatusOk or kStatusUsbError.
    EngineStatus RetireBlock();
    // Erases every block from chip address `from` up to row `endRow` that holds block `blockInZone` of
    // its zone, except the one at chip address `keep` (its new copy): kStatusOk or kStatusUsbError.
    EngineStatus EraseCopies(std::uint32_t blockInZone, std::uint32_t from, std::uint32_t endRow, std::uint32_t keep);

private:
    EngineStatus TransferFailed();

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
