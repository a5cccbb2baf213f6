// The memory card's FAT12/FAT16 volume: partition 1 of the card's master boot record, with the whole FAT
// and the root directory held in memory. A NAND-type card is reached page by page through its block
// translation (one cluster per erase block); an MMC/SD card through 512-byte sector commands.
//
// Everything read from a card is untrusted: the boot sector is checked before any of its values is used,
// and every FAT chain is checked wherever it is followed.
#pragma once

#include "device/flash/card_translation.h"
#include "device/flash/nand_chip.h"
#include "device/transport/command_block.h"
#include "device/fs/card/card_medium.h"
#include "device/fs/dir_record.h"
#include "device/fs/fat_entry.h"
#include "device/fs/engine_status.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace engine {

inline constexpr std::uint32_t kCardRootSlots = 256;       // the root the card's file operations use
inline constexpr std::uint32_t kCardMaxRootEntries = 512;  // what the root buffer holds
inline constexpr std::size_t kCardRootBufferBytes = kCardMaxRootEntries * 32;
inline constexpr std::uint32_t kFat12MaxClusters = 4084;  // more clusters make a FAT16 volume
inline constexpr std::uint32_t kFat16MaxClusters = 65524;
inline constexpr std::uint16_t kFatBadCluster = 0xFFF7;

// Partition entry 1 of a master boot record.
struct CardPartition {
    std::uint8_t chs[7] = {};  // start head, start sector, start cylinder, type, end head, end sector, end cylinder
    std::uint32_t start = 0;
    std::uint32_t sectors = 0;
};

// Reads partition entry 1 of sector 0. kStatusOk, or kStatusMbrError without the 0x55 0xAA signature. The CHS
// bytes are kept as they stand.
EngineStatus ParseCardMbr(const std::uint8_t* sector, CardPartition& out);

// What a mount takes from a boot sector.
struct CardBootFields {
    std::uint8_t sectorsPerCluster = 0;
    std::uint16_t reservedSectors = 0;
    std::uint16_t rootEntries = 0;
    std::uint16_t sectorsPerFat = 0;
    std::uint16_t sectorsPerTrack = 0;
    std::uint16_t heads = 0;
    std::uint32_t totalSectors = 0;
    std::uint32_t rootSectors = 0;
    std::uint32_t clusterCount = 0;
    std::uint8_t fatType = 0;  // 12 or 16, from the cluster count
};

// Checks and reads a boot sector: signature, 512-byte sectors, two FATs, at least one reserved sector, a
// FAT of at least one sector, a root of a multiple of 16 entries and at most 512, a non-zero cluster size,
// a volume larger than its system area, and a FAT that indexes every cluster. The total comes from bytes
// 19..20, else 32..35, else the partition's count. kStatusOk or kStatusPartitionError.
EngineStatus ParseCardBootSector(const std::uint8_t* sector, std::uint32_t partitionSectors, CardBootFields& out);

// FAT entry n of a FAT buffer (12 bits masked on FAT12); 0xFFFFFFFF when the entry lies outside the buffer.
std::uint32_t ReadFatEntry(const std::uint8_t* fat, std::size_t fatBytes, std::uint8_t fatType, std::uint32_t n);
// Writes entry n (masked to the entry's width); false when it lies outside the buffer.
bool WriteFatEntry(std::uint8_t* fat, std::size_t fatBytes, std::uint8_t fatType, std::uint32_t n, std::uint32_t value);
// 0xFF8..0xFFF (FAT12) or 0xFFF8..0xFFFF (FAT16).
bool IsEndOfChain(std::uint32_t value, std::uint8_t fatType);
inline std::uint32_t EndOfChainMark(std::uint8_t fatType)
{
    return fatType == 12 ? 0xFFF : 0xFFFF;
}

// One step along a chain: Next with `next` set, End at an end mark, Broken for anything else (free, a
// reserved value, a bad mark, a cluster past the volume). Loop comes only from ChainWalker: the next
// cluster is one the walk has passed already.
enum class ChainStep { Next, End, Broken, Loop };
ChainStep FollowChain(std::uint32_t value, std::uint8_t fatType, std::uint32_t maxCluster, std::uint32_t& next);

// The boot sector of a NAND-type card's volume (MS-DOS 5 style, 256 root entries, no extended fields).
void BuildNandBootSector(std::uint8_t* boot, std::uint32_t sectorsPerBlock, std::uint32_t partitionStart,
                         std::uint32_t volumeSectors, std::uint16_t sectorsPerFat, std::uint32_t sectorsPerTrack,
                         std::uint32_t heads, std::uint8_t fatType);

class FatVolume {
public:
    FatVolume();
    virtual ~FatVolume();
    FatVolume(const FatVolume&) = delete;
    FatVolume& operator=(const FatVolume&) = delete;

    // Set before a mount: a write-protected card refuses every change; the sector card's size bounds
    // every sector written (0 for a NAND-type card).
    void SetWriteProtected(bool on) { writeProtected_ = on; }
    bool WriteProtected() const { return writeProtected_; }
    void SetCardSectors(std::uint32_t sectors) { cardSectors_ = sectors; }
    // The card kind the volume works on: set by a mount, or before a format writes a sector card.
    void SetSectorCard(bool on) { sectorCard_ = on; }
    bool IsSectorCard() const { return sectorCard_; }
    // The storage of the card kind in use.
    CardMedium& Medium();

    // ---- NAND-type card (block translation) ----
    // kStatusOk, kStatusUsbError (spare records unreadable), kStatusMbrError (no information structure or
    // no valid master boot record), kStatusPartitionError (no valid boot sector or a layout the card's
    // blocks cannot hold). The card chip's present flag is cleared on any failure.
    virtual EngineStatus MountNandCard();
    // Cursor on the erase block the cluster is to be written to: kCardBlockFound, kCardBlockNone when
    // the zone has no usable block, kCardBlockTransport on a transfer failure.
    CardBlockSearch AllocateBlock(std::uint32_t cluster);
    // Cursor on the erase block holding the cluster: kCardBlockFound, or kCardBlockNone when its zone
    // has none.
    CardBlockSearch SeekCluster(std::uint32_t cluster);
    bool AdvanceToGoodBlock();
    // The logical-block counter of the NAND-type card's format and cluster writes.
    void SetBlockNumber(std::uint32_t n) { blockNumber_ = n; }

    // Formatting a NAND-type card whose blocks were erased, in this order: information structure and
    // master boot record, boot sector, both FATs and the root. Each step leaves the cursor on the page
    // it wrote last; the logical-block counter starts at 0. kStatusOk, kStatusUsbError (a transfer
    // failed), kStatusNoStorage (a card size without a layout), kStatusInvalidCard (no good block left
    // for the system area) or kStatusStorageFull (no memory).
    EngineStatus FormatNandTables();
    EngineStatus FormatNandBootRecords();
    EngineStatus FormatNandFatAndRoot();

    // ---- MMC/SD card ----
    // kStatusOk, kStatusUsbError, kStatusMbrError, kStatusPartitionError or kStatusStorageFull.
    EngineStatus Mount();
    // Reads the root directory's sectors again: kStatusOk or kStatusUsbError.
    EngineStatus LoadRootDirectory();
    // Sector transfers of the MMC/SD card: kTransportOk or kTransportFailed (also for sectors past the
    // card's end, which are never written or erased).
    TransportStatus ReadSector(std::uint32_t sector, std::uint8_t* buffer);
    TransportStatus ReadSectors(std::uint32_t sector, std::uint8_t* buffer);  // one cluster
    TransportStatus WriteSector(std::uint32_t sector, const std::uint8_t* buffer);
    TransportStatus WriteSectors(std::uint32_t sector, const std::uint8_t* buffer);
    TransportStatus EraseSectors(std::uint32_t sector);

    // ---- both kinds ----
    // Writes the FAT and the root back (see CardMedium::Flush).
    EngineStatus Flush(bool rootFirst = false) { return Medium().Flush(rootFirst); }
    // Data clusters and the free ones among them; false when nothing is mounted.
    bool CountFreeClusters(std::uint32_t& total, std::uint32_t& freeCount) const;
    // First free cluster, marked end of chain; 0 when none is left.
    std::uint32_t FindFreeCluster();
    std::int32_t FindFirst(DirRecord& record);
    std::int32_t FindNext(DirRecord& record);
    void SetFatEntry(std::uint32_t cluster, std::uint32_t value);
    std::uint32_t GetFatEntry(std::uint32_t cluster) const;
    bool IsMounted() const { return card.present != 0 && fat_ != nullptr; }
    // Highest data cluster of the volume (clusters run 2 .. MaxCluster()).
    std::uint32_t MaxCluster() const;
    // Clusters 2..MaxCluster whose FAT entry is 0.
    std::uint32_t FreeClusters() const;
    // Root slots the walks and the file operations use.
    std::uint32_t RootSlots() const;
    FatDirSlot* RootSlotsPtr() { return reinterpret_cast<FatDirSlot*>(root_.data()); }
    const std::array<std::uint8_t, kCardRootBufferBytes>& Root() const { return root_; }
    std::uint8_t FatType() const { return boot_.fatType; }
    std::uint32_t ClusterCount() const { return boot_.clusterCount; }
    const CardPartition& Partition() const { return partition_; }
    // First sector of the NAND-type card's data area (cluster 2).
    std::uint32_t DataStartSector() const { return dataStartSector_; }
    // First sector of the sector card's data area (cluster 2).
    std::uint32_t DataLocation() const { return dataLocation_; }
    // Root slot of the record the walk gave last.
    std::uint32_t WalkIndex() const { return walkIndex_; }
    // Drops the volume and clears the card's present flag.
    void Unmount();

    // Reloads the card's spare records when an earlier operation failed a transfer: the host copy is
    // changed before erases and block writes are sent, so after a failure it may not match the card.
    EngineStatus RefreshSpareRecords();
    // Called by card operations whose transfer failed, so the next one reloads the spare records.
    void MarkSpareRecordsStale() { spareRecordsStale_ = true; }

    // ---- file operations in the root of a NAND-type card ----
    // kStatusOk (also when cancelled: nothing stays), kStatusWriteProtected, kStatusNoStorage,
    // kStatusFolderError (no room or name in the root), kStatusFileError, kStatusStorageFull,
    // kStatusUsbError.
    EngineStatus DownloadFileNandCard(const char* path);
    // kStatusOk, kStatusNoStorage, kStatusFileError (no such file, a chain that does not carry the size
    // or comes back on itself, the PC file), kStatusStorageFull, kStatusUsbError.
    EngineStatus UploadFile(std::uint16_t recordId, const char* path);
    // kStatusOk, kStatusWriteProtected, kStatusNoStorage, kStatusFileError (no such file, a chain that
    // comes back on itself), kStatusStorageFull, kStatusUsbError.
    EngineStatus DeleteFile(std::uint16_t recordId);
    // kStatusOk, kStatusWriteProtected, kStatusNoStorage, kStatusFileError, kStatusFolderError,
    // kStatusUsbError.
    EngineStatus Rename(std::uint16_t recordId, const char* newName);
    // Play order: the entry goes to that index among the root's entries. kStatusOk, kStatusFileError (no
    // such entry or index, or no memory), kStatusNoStorage, kStatusWriteProtected, or the status of the
    // system-area rewrite (the root is then restored).
    EngineStatus SetPlayIndex(std::uint16_t recordId, std::uint32_t newIndex);

    NandChip& card;  // the card chip record (not the volume's own state); its present flag is the mounted flag

private:
    friend class NandCardMedium;
    friend class SectorCardMedium;
    friend class VolumeSnapshot;

    void ReleaseVolume();  // drops the FAT and root, keeps the present flag
    std::int32_t WalkFrom(std::uint32_t first, DirRecord& record);
    // Root slot of the short entry of the file `recordId` names (the first entry with that first cluster);
    // -1 when there is none or it is a folder or the volume label.
    int FindFileRecord(std::uint16_t recordId) const;
    void RemoveEntrySet(std::uint32_t start, std::uint32_t shortSlot);
    // Cursor on the block holding system-area logical block n (searched from the card's first block).
    CardBlockSearch SeekSystemBlock(std::uint32_t n);
    std::uint32_t NandLocation(std::uint32_t logicalSector) const;
    std::uint32_t LogicalBlockOf(std::uint32_t cluster) const;
    // At the end of a block the system area goes on in the next good block; writes the page after the
    // one written last.
    EngineStatus WriteFollowingPage(const std::uint8_t* data);
    // The format's next block of the system area: the first good block of zone 0 from the cursor on,
    // erased (blocks that fail to erase are retired): kStatusOk, kStatusInvalidCard or kStatusUsbError.
    EngineStatus TakeGoodBlock();

    // Writes boot sector, both FAT copies and the root directory back: kStatusOk, kStatusUsbError when a
    // transfer or a needed block fails. New copies are written before the old ones are erased, so the
    // card mounts whole whenever the rewrite is cut short. A block's new copy takes over when its old one
    // is erased: from the boot sector on, so that clusters are taken before the root names them, or with
    // `rootFirst` from the root back, so that the root lets go of clusters before they are freed.
    EngineStatus FlushNandSystemArea(bool rootFirst);
    // Writes the changed FAT and root sectors: kStatusOk, or kStatusUsbError (the next flush then writes
    // every sector again, since the card may hold either copy of the one that failed). With `rootFirst`
    // the root's sectors go first, with the FAT as the card holds it, so a cut between leaves lost
    // clusters rather than an entry on free ones.
    EngineStatus FlushFatSectorCard(bool rootFirst);
    EngineStatus ReadMbr();
    EngineStatus ReadBootSector();
    EngineStatus LoadFat();

    NandCardMedium nandMedium_{*this};
    SectorCardMedium sectorMedium_{*this};
    CardBootFields boot_;  // of the mounted volume
    CardPartition partition_;
    std::uint32_t dataStartSector_ = 0;
    std::unique_ptr<std::uint8_t[]> fat_;
    std::unique_ptr<std::uint8_t[]> fatShadow_;  // the sector card's FAT as last written
    std::size_t fatBytes_ = 0;
    std::uint32_t mbrLocation_ = 0;
    std::uint32_t bootLocation_ = 0;
    std::uint32_t fat1Location_ = 0, fat2Location_ = 0, rootLocation_ = 0, dataLocation_ = 0;
    std::uint32_t rootLogicalBlock_ = 0;
    std::uint32_t walkCount_ = 0, walkReturned_ = 0, walkIndex_ = 0;
    std::array<std::uint8_t, kCardRootBufferBytes> root_{};
    std::array<std::uint8_t, kCardRootBufferBytes> rootShadow_{};
    std::array<std::uint8_t, kCardRootBufferBytes> rootBackup_{};
    std::array<std::uint8_t, kCardSectorBytes> bootSector_{};
    bool writeProtected_ = false;
    std::uint32_t blockNumber_ = 0;
    std::uint32_t cardSectors_ = 0;
    bool sectorCard_ = false;                            // the volume lives on an MMC/SD card
    std::array<std::uint32_t, 8> systemBlockAddress_{};  // chip address of system-area block n
    bool spareRecordsStale_ = false;
    bool shadowUnsure_ = false;  // a sector-card flush failed part-way
};

// The one volume of the memory card.
extern FatVolume CardVolume;

// Follows one FAT chain of the volume and remembers every cluster it passed (a bitmap over the volume's
// clusters), so that a chain that comes back on itself (to its first cluster, a cluster naming itself,
// any cycle) ends the walk with Loop the moment it does, before a cluster is used twice.
class ChainWalker {
public:
    explicit ChainWalker(const FatVolume& volume);
    ChainWalker(const ChainWalker&) = delete;
    ChainWalker& operator=(const ChainWalker&) = delete;
    // False when the bitmap could not be had.
    bool Ok() const { return visited_ != nullptr; }
    // Forgets the clusters passed so far and stands on `first`.
    void Start(std::uint32_t first);
    // To the next cluster along the chain (Cluster() then names it): Next, End, Broken, or Loop.
    ChainStep Advance();
    // Counts a cluster that a walk reached by other means as passed: false when it was passed already or
    // is no data cluster.
    bool Mark(std::uint32_t cluster);
    std::uint32_t Cluster() const { return cluster_; }

private:
    std::size_t Words() const;

    const FatVolume& volume_;
    std::uint32_t max_ = 0;  // the volume's highest data cluster when the walker was made
    std::unique_ptr<std::uint64_t[]> visited_;
    std::uint32_t cluster_ = 0;
};

// The clusters of the chain from `first`, in order: at most `limit` of them, ending at the chain's end
// mark or after a cluster whose value is no link (that cluster is listed; a first cluster outside the
// volume gives an empty list). kStatusOk; kStatusFileError when the chain comes back to a cluster it
// passed; kStatusStorageFull without memory. Nothing is changed.
EngineStatus ListChain(const FatVolume& volume, std::uint32_t first, std::uint32_t limit,
                       std::vector<std::uint32_t>& out);

// Copies of the FAT and the root taken before an operation changes them, put back when it fails so
// that no half-done change reaches the card with a later write.
class VolumeSnapshot {
public:
    explicit VolumeSnapshot(FatVolume& v) : volume_(v), fat_(new (std::nothrow) std::uint8_t[v.fatBytes_])
    {
        if (fat_ && v.fat_)
            std::memcpy(fat_.get(), v.fat_.get(), v.fatBytes_);
        root_ = v.root_;
    }
    bool Ok() const { return fat_ != nullptr; }
    void Restore()
    {
        if (fat_ && volume_.fat_)
            std::memcpy(volume_.fat_.get(), fat_.get(), volume_.fatBytes_);
        volume_.root_ = root_;
    }

private:
    FatVolume& volume_;
    std::unique_ptr<std::uint8_t[]> fat_;
    std::array<std::uint8_t, kCardRootBufferBytes> root_;
};

}  // namespace engine
