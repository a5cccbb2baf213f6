// The flat block store of internal memory on the models without folder objects: every file is a run of
// whole erase blocks tagged in their spare records, and one root directory of 32-byte entries lives in
// an erase block of its own. The block format, the walkers, the free-block search and the id
// allocation are shared with the internal folder objects of the newer models.
//
// The pipes: an operation of the store holds a bracket that opens at its first exchange with the
// player (ScopedPipes::kOpenAtFirstExchange; every function here that talks to the player calls
// PlayerPipes.Need()). An operation that fails its checks before any exchange opens nothing.
#pragma once

#include "device/fs/dir_record.h"
#include "device/fs/engine_status.h"
#include "device/fs/fat_entry.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace engine {

// Walker results.
enum WalkResult : int {
    kWalkFound = 0,
    kWalkEnd = 24,     // file walkers: no further block on any chip
    kWalkNoFree = -1,  // free-block walker: no further erased block
};

inline constexpr std::uint8_t kFileStartMark = 0xAA;
inline constexpr std::uint8_t kFileBlockMark = 0xEE;
inline constexpr std::uint32_t kRootFileId = 1;
inline constexpr std::uint32_t kFontFileId = 4;
inline constexpr std::uint32_t kFirstFreeFileId = 6;  // 0..5 are never given to new files

// Type codes of spare byte 6.
inline constexpr std::uint8_t kTypeOther = 0;
inline constexpr std::uint8_t kTypeMp3 = 1;
inline constexpr std::uint8_t kTypeWma = 2;
inline constexpr std::uint8_t kTypeAac = 3;
inline constexpr std::uint8_t kTypeFont = 'F';
inline constexpr std::uint8_t kTypeWav = 'V';
inline constexpr std::uint8_t kTypeMemo = 'M';
inline constexpr std::uint8_t kTypeConfig = 'C';
inline constexpr std::uint8_t kTypeKey = 'K';
inline constexpr std::uint8_t kTypeRoot = 'R';

// Where the next block of a file lies; all 0xFF in the last block.
struct BlockLink {
    std::uint8_t chipSelect = 0xFF;
    std::uint16_t row = 0xFFFF;
    std::uint8_t sector = 0xFF;
};

// A block position: chip index and cursor.
struct BlockPosition {
    std::uint32_t chip = 0;
    std::uint16_t row = 0;
    std::uint8_t sector = 0;
};

// Engine-wide state of the store, beside the engine state of identification.
struct LegacyStoreState {
    std::vector<FatDirSlot> root;  // the working copy of the root directory; empty until loaded
    std::uint32_t rootLoaded = 0;
    std::uint32_t rootDirty = 0;  // the last write-back failed: the chip may hold no directory
    BlockPosition rootBlock;      // where the root directory block lies
    // Walk state of LegacyFindFirst/LegacyFindNext.
    std::uint32_t walkCounted = 0;
    std::uint32_t walkReturned = 0;
    std::int32_t walkIndex = -1;
    // Walker outputs: the block the last walker step stopped at; the id allocation returns its id here.
    std::uint32_t walkerId = 0;
    std::uint8_t walkerType = 0;
    std::uint32_t usedBlocksPassed = 0;
    // Erased blocks of internal memory; counted when the root is loaded, lowered for every block
    // written and raised for every block erased.
    std::uint32_t freeBlockCount = 0;
};

extern LegacyStoreState LegacyStore;

// Forgets the loaded root and the counts: a new player (or a format) follows.
void LegacyResetState();

// Chip slots the walkers visit: the model's internal chip count, never the card slot.
std::uint32_t LegacyChipLimit();
// Ids the blocks can carry: 16 bits on the folder-object models, else the 8 bits of spare byte 1.
std::uint32_t LegacyIdLimit();

// Walkers, from the cursor of CurrentChip on, across chips (each new chip rewound, absent ones skipped).
WalkResult LegacyNextFileStart();
WalkResult LegacyNextFileBlock();
WalkResult LegacyNextFreeBlock();
// One block on from the cursor of CurrentChip (the walkers carry it into the next chip).
void LegacyAdvanceBlock();
BlockPosition LegacyCursor();
void LegacySetCursor(const BlockPosition& position);
// The id a block record carries.
std::uint32_t LegacyBlockId(const std::uint8_t* record);

// From chip 0: the first file-start block with the id (cursor left on it). true when found.
bool LegacyFindFileStart(std::uint32_t id);

// Erased blocks of the present internal chips.
std::uint32_t LegacyCountFreeBlocks();

// Type code of a name (extension first, then the short-name overrides).
std::uint8_t LegacyTypeCode(const char* ansiName, const char* shortText);

// The 16-byte record of a file block and of the root directory block.
void BuildFileBlockRecord(std::uint8_t* record, bool firstPage, std::uint32_t id, std::uint16_t blockCount,
                          std::uint8_t typeCode, const BlockLink& link);
void BuildRootBlockRecord(std::uint8_t* record);

// Writes one erase block at the cursor of CurrentChip: each page takes 512 bytes from data (zero past
// dataBytes) and the record (byte 0 = 0xAA only for the first page when firstBlock). Lowers the free
// count when the block was free. kStatusOk or kStatusUsbError.
EngineStatus LegacyWriteFileBlock(std::vector<std::uint8_t>& units, const std::uint8_t* data, std::uint32_t dataBytes,
                                  bool firstBlock, std::uint32_t id, std::uint16_t blockCount, std::uint8_t typeCode,
                                  const BlockLink& link);

// Loads the root directory from its block, or makes an empty one at the first free block when the
// store has none. kStatusOk, kStatusStorageFull (chip 0 absent, no free block, no memory) or
// kStatusUsbError.
EngineStatus LegacyLoadRoot();
// Loads the root unless it is loaded. The same statuses.
EngineStatus LegacyEnsureRoot();
// Erases the root block and writes the buffer into it. kStatusOk or kStatusUsbError.
EngineStatus LegacyWriteBackRoot();

std::uint32_t LegacyRootEntryCount();
bool LegacyIsUsedEntry(const FatDirSlot& slot);
// Index of the used entry with that first cluster; -1 when none. folders: -1 any, 0 files only,
// 1 folders only.
std::int32_t LegacyFindEntryById(std::uint32_t id, int folders = -1);
// Removes the entry set whose short entry is at index: later entries move up, the end is zeroed.
void LegacyRemoveEntrySet(std::uint32_t shortIndex);
// Fills a record from the short entry at index (name from its long-name run, else 8.3).
void LegacyFillRecord(std::uint32_t shortIndex, DirRecord& record);

// Erases files no root entry refers to (raising the free count) and gives the smallest free id from
// 6 in newId. kStatusOk, kStatusStorageFull (no id left, no memory) or kStatusUsbError. On the
// folder-object models it erases nothing.
EngineStatus LegacyPurgeUnreferenced(std::uint32_t& newId);
// Smallest id that no file-start block carries and that is not among alsoUsed (ids held by entries
// that have no blocks). kStatusOk, kStatusFolderError (none) or kStatusStorageFull (no memory).
EngineStatus LegacyFindUnusedId(std::uint32_t& newId, const std::vector<std::uint32_t>* alsoUsed = nullptr);

// Chip 0 is there with a known geometry, and the bytes of one of its erase blocks (0 without it).
bool LegacyChipZeroPresent();
std::uint32_t LegacyBlockBytes();
// The link that points a block record at the block at p.
BlockLink LegacyLinkTo(const BlockPosition& p);
// Erases the block at the cursor of CurrentChip. kStatusOk, or kStatusUsbError when the transfer or
// the erase failed.
EngineStatus LegacyEraseAtCursor();

// Erases the file-start block and every later continuation block with it; each erase
// raises the free count and, with progress, sends a progress step. kStatusOk, or kStatusUsbError on a
// failed erase.
EngineStatus LegacyEraseFileBlocks(std::uint32_t id, bool progress = true);

// Progress of the store's transfers: a step of one block's bytes.
void LegacyProgressStep();

// Hands the `size` bytes of file `id` to `sink` block by block: its start block, then its continuation
// blocks in scan order. After every block the cancel flag is looked at (set before the last block:
// `cancelled`, and no step for that block), else a progress step is sent. kStatusOk;
// kStatusFolderError when the file has no start block; kStatusFileError when the sink fails or the
// blocks end before the size; kStatusStorageFull without memory; kStatusUsbError on a failed read.
EngineStatus LegacyReadFile(std::uint32_t id, std::uint32_t size,
                            const std::function<bool(const std::uint8_t*, std::uint32_t)>& sink, bool& cancelled);

}  // namespace engine
