// The folder object of the memory card on the folder-object models: one folder of the card's FAT
// volume (CardVolume), its ten folder operations and its block stream. A NAND-type card holds one
// cluster per erase block, found through the block-address field of its spare records; an MMC/SD card
// holds a cluster in consecutive 512-byte sectors.
//
// A subfolder's directory is the first clusters of its chain that hold the folder's entries; the rest
// of a longer chain (directories made on a PC) is kept as it stands. A directory with entries past
// the folder's entries is only read (changes give kStatusFolderError): rewriting it would cut those
// off. Every chain taken from the card is checked before it is followed (a chain that comes back on
// itself gives kStatusFileError), and every operation that changes the card checks that the card is
// there and not write-protected.
#pragma once

#include "device/fs/fat_folder.h"
#include "device/fs/engine_status.h"
#include "device/fs/file_stream.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

namespace engine {

class ChainWalker;
class ScopedPipes;

class ExternalFolder : public FatFolder, public FileStream {
public:
    // Root flag 1: the card's root directory, held in the volume's root buffer. Root flag 0: the
    // subfolder whose directory starts at cluster `folderId`.
    ExternalFolder(std::uint32_t capacity, std::uint32_t folderId, std::uint32_t flagWord, std::uint32_t rootFlag);
    ~ExternalFolder() override;

    EngineStatus Load() override;
    EngineStatus WriteNewDirectory() override;
    EngineStatus RewriteDirectory() override;
    EngineStatus CreateSubfolder(const wchar_t* name, std::uint32_t* newId) override;
    EngineStatus RenameEntry(std::uint32_t id, const wchar_t* newName, std::uint32_t innerFlag) override;
    // A folder goes with everything below it.
    EngineStatus DeleteFile(std::uint32_t id) override;
    EngineStatus DownloadFile(const wchar_t* pcPath) override;
    EngineStatus UploadFile(std::uint32_t id, const wchar_t* pcPath) override;
    EngineStatus MoveEntry(std::uint32_t sourceFolderId, std::uint32_t sourceRootFlag, std::uint32_t id) override;
    EngineStatus SetPlayIndex(std::uint32_t id, std::uint32_t position) override;

    EngineStatus OpenEntry() override;
    EngineStatus ReadNextBlock() override;
    EngineStatus WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes) override;
    EngineStatus ReadFirstBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out) override;
    EngineStatus CommitEntry() override;
    std::uint32_t GetBlockBytes() override;
    std::uint32_t GetFileSize() override;

private:
    // A copy of the folder's entries taken before an operation changes them, put back when it fails.
    class EntriesUndo {
    public:
        explicit EntriesUndo(ExternalFolder& folder);
        // False when the copy could not be had.
        bool Ok() const { return copy_ != nullptr; }
        void Restore();

    private:
        ExternalFolder& folder_;
        std::unique_ptr<FatDirSlot[]> copy_;
    };

    // kStatusOk when the card can be changed; kStatusWriteProtected or kStatusNoStorage.
    static EngineStatus CheckWritable();
    // The player takes an MMC/SD card (else a NAND-type card).
    static bool SectorCardModel();
    static std::uint32_t ClusterBytes();

    // Frees the clusters of the chains from `firsts` in the FAT (in memory) and lists them; each walk
    // stops at the first value that is not a link, or at a cluster freed already (chains that share
    // clusters). kStatusFileError, with nothing freed, when a chain comes back to a cluster it passed;
    // kStatusStorageFull without memory.
    static EngineStatus UnlinkChains(const std::vector<std::uint32_t>& firsts, std::vector<std::uint32_t>& freed);
    // Gives back clusters taken by an operation that did not finish (with `erase`, their blocks too).
    static void ReleaseTaken(const std::vector<std::uint32_t>& taken, bool erase);

    // Writes this folder's directory where it lies (subfolder: cluster by cluster along its chain,
    // growing it when the entries need more room); the root goes into the volume's root buffer.
    EngineStatus StoreDirectory(bool fresh);
    // `freeing`: the operation frees clusters (see FatVolume::FlushNandSystemArea).
    static EngineStatus FlushVolume(bool freeing = false);
    // Writes what an operation changed: the directory, then the FAT (and the root) of the volume.
    // `freeing` writes the directory first, so the card never holds an entry for freed clusters.
    EngineStatus Commit(bool freeing);
    // After a failed operation has put the entries and the volume back in memory: writes them to the
    // card again, since part of the change may have reached it. A card that fails again stays as the
    // failure left it.
    void WriteBack();
    // Whether a live entry of this folder (other than slot `except`) has the entry's short name.
    bool ShortNameTaken(const FatDirSlot& entry, std::uint32_t except = UINT32_MAX) const;
    // Reads a subfolder's parent id from its ".." entry; -1 when it cannot be read (`status` then says
    // why, unless the folder has no ".." entry).
    static std::int64_t ReadParentId(std::uint32_t folder, EngineStatus& status);
    // The first clusters of folder `folder` and of everything below it (bounded depth, each folder once).
    static EngineStatus CollectTree(std::uint32_t folder, std::uint32_t depth, std::vector<std::uint32_t>& folders,
                                    std::vector<std::uint32_t>& chains);

    // Ends the stream's bracket; with `release` also frees its buffer and gives back the clusters of
    // a write stream that was never committed.
    void EndStream(bool release);
    // A write stream that failed part-way gives back what it took: status returned as given.
    EngineStatus FailStream(EngineStatus status);

    // Stream state.
    std::unique_ptr<std::uint8_t[]> clusterBuffer_;
    std::uint32_t streamSize_ = 0;
    std::uint32_t firstCluster_ = 0;
    std::uint32_t currentCluster_ = 0;
    std::uint16_t blockCount_ = 0;
    std::uint32_t readSize_ = 0;
    std::uint32_t entrySlot_ = 0;
    std::uint32_t entryCount_ = 0;
    std::uint8_t attribute_ = 0;
    char shortName_[260] = {};
    std::vector<std::uint32_t> taken_;  // clusters a write stream took so far
    std::unique_ptr<ScopedPipes> streamBracket_;
    std::unique_ptr<ChainWalker> streamWalk_;  // the read stream's way along the file's chain
    bool streamFailed_ = false;
    // The directory holds entries past those loaded (made on a PC): none of them is written.
    bool longer_ = false;
};

}  // namespace engine
