// FAT short and long-name directory entries as this system builds and reads them: short names with a
// numeric tail, the long-name checksum, dates and times, and the entry-set builders shared by the
// folder objects, the card volume and the legacy store.
#pragma once

#include "device/fs/dir_record.h"
#include "device/fs/engine_status.h"
#include "platform/win/ansi_text.h"

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace engine {

#pragma pack(push, 1)
struct FatShortEntry {
    std::uint8_t name[8];  // upper case, space padded; first byte 0 free, 0xE5 deleted, 0x05 = 0xE5
    std::uint8_t extension[3];
    std::uint8_t attributes;
    std::uint8_t reserved;      // kept from the slot by the builders
    std::uint8_t createTenths;  // only bit 7 is written: the creation second is odd
    std::uint16_t createTime;
    std::uint16_t createDate;
    std::uint16_t accessDate;
    std::uint16_t firstClusterHigh;
    std::uint16_t writeTime;
    std::uint16_t writeDate;
    std::uint16_t firstCluster;  // the record id
    std::uint32_t size;
};

struct FatLongEntry {
    std::uint8_t sequence;  // 1 next to the short entry, counting up; 0x40 added on the last piece
    std::uint16_t chars1[5];
    std::uint8_t attributes;  // 0x0F
    std::uint8_t type;        // 0
    std::uint8_t checksum;    // of the short entry's 11 name bytes
    std::uint16_t chars2[6];
    std::uint16_t firstCluster;  // 0
    std::uint16_t chars3[2];
};

// One 32-byte slot of a directory, read as whichever entry its attribute byte says it is.
union FatDirSlot {
    std::uint8_t raw[32];
    FatShortEntry entry;
    FatLongEntry longEntry;
};
#pragma pack(pop)

static_assert(sizeof(FatShortEntry) == 32);
static_assert(sizeof(FatLongEntry) == 32);
static_assert(sizeof(FatDirSlot) == 32);
static_assert(offsetof(FatShortEntry, attributes) == 11);
static_assert(offsetof(FatShortEntry, createTime) == 14);
static_assert(offsetof(FatShortEntry, firstClusterHigh) == 20);
static_assert(offsetof(FatShortEntry, firstCluster) == 26);
static_assert(offsetof(FatShortEntry, size) == 28);
static_assert(offsetof(FatLongEntry, chars2) == 14);
static_assert(offsetof(FatLongEntry, chars3) == 28);

inline constexpr std::uint8_t kAttrLongName = 0x0F;
inline constexpr std::uint8_t kAttrDirectory = 0x10;
inline constexpr std::uint8_t kAttrFolderSelf = 0x1A;  // a new folder's own name entry
inline constexpr std::uint8_t kAttrSystemFile = 0x06;  // type codes 'C', 'F', 'K'
inline constexpr std::uint8_t kAttrPlayerFile = 0x80;  // every other file
inline constexpr std::uint8_t kSlotFree = 0x00;
inline constexpr std::uint8_t kSlotDeleted = 0xE5;
inline constexpr std::uint8_t kSlotE5Escape = 0x05;  // a name whose first byte really is 0xE5
inline constexpr std::uint8_t kLastLongEntry = 0x40;
inline constexpr std::uint32_t kLongEntryChars = 13;
inline constexpr std::uint32_t kMaxLongNameChars = 255;
inline constexpr std::uint32_t kMaxLongEntries = 20;  // 255 characters in pieces of 13
inline constexpr std::uint32_t kShortTextBytes = 13;  // "NAME0123.EXT" and its NUL

// FAT date and time of a broken-down local time, little-endian into a 2-byte field. A null time or a
// year outside 1980..2107 is clamped to the nearest end of the range.
void EncodeFatDate(std::uint8_t* field, const std::tm* local);
void EncodeFatTime(std::uint8_t* field, const std::tm* local);
// Local time of t for a FAT entry: a failed conversion or a year before 1980 gives 1980-01-01 00:00:00,
// a year after 2107 gives 2107-12-31 23:59:58.
std::tm FatLocalTime(std::time_t t);

// Creation date and time (with the odd-second bit), last access date, write date and time.
void StoreEntryTimes(FatShortEntry& entry, std::time_t created, std::time_t accessed, std::time_t written);

std::uint8_t ShortNameChecksum(const std::uint8_t* name11);
int IsValidShortNameChar(std::uint8_t c);
std::uint8_t FileAttributeForTypeCode(std::uint8_t typeCode);

// Slots needed by a name (the part after the last backslash): 2 up to 13 characters, else one long
// entry per 13 characters plus the short entry. 0 for a name of more than 255 characters, which no
// free-run search can satisfy.
std::uint32_t EntryCountForWideName(const wchar_t* name);
std::uint32_t CountLongNameEntries(const char* ansiName);

// Index of the last slot of the first run of `count` free (0 or 0xE5) slots among entryCount, or -1.
std::int32_t FindFreeEntryRun(std::uint32_t count, const FatDirSlot* entries, std::uint32_t entryCount);

// The short name of an ANSI name as text NAME.EXT, with a numeric tail ~0..~9, then ~10..~99 on a
// shorter base, that no slot of the array holds yet. kStatusOk, or kStatusFolderError when every tail
// is taken, the name cannot be read or the output (at least kShortTextBytes) is too small.
EngineStatus MakeShortName(const char* ansiName, char* out, std::uint32_t outSize, const FatDirSlot* entries,
                           std::uint32_t entryCount);

// The builders below write a short entry at `index` and count - 1 long-name entries before it. They
// return kStatusOk, or kStatusFolderError without writing anything when the set does not fit the array
// (index, count) or the long name has more than 255 characters.
EngineStatus WriteEntrySetAt(FatDirSlot* entries, std::uint32_t entryCount, std::uint32_t index, std::uint32_t count,
                             std::uint16_t firstCluster, std::uint16_t highCluster, const wchar_t* longName,
                             const char* shortText, std::uint8_t attributes, std::uint32_t size, std::time_t created,
                             std::time_t accessed, std::time_t written);
EngineStatus WriteRenamedEntrySetAt(FatDirSlot* entries, std::uint32_t entryCount, std::uint32_t index,
                                    std::uint32_t count, const wchar_t* longName, const char* shortText,
                                    const FatDirSlot& oldEntry);

// ANSI builders of the card volume and the legacy store; the long name goes through the ANSI code page.
EngineStatus BuildFileEntrySet(std::uint32_t index, std::uint32_t count, std::uint16_t firstCluster,
                               const char* ansiLongName, const char* shortText, std::uint8_t typeCode,
                               std::uint32_t size, std::time_t created, std::time_t accessed, std::time_t written,
                               FatDirSlot* entries, std::uint32_t entryCount, std::uint16_t highCluster);
EngineStatus BuildFolderEntrySet(std::uint32_t index, std::uint32_t count, std::uint16_t firstCluster,
                                 const char* ansiLongName, const char* shortText, FatDirSlot* entries,
                                 std::uint32_t entryCount);
EngineStatus BuildRenamedEntrySet(std::uint32_t index, std::uint32_t count, const char* ansiLongName,
                                  const char* shortText, const FatDirSlot& oldEntry, FatDirSlot* entries,
                                  std::uint32_t entryCount);

// First slot of the entry set whose short entry is at shortSlot: back over the consecutive long-name
// slots in front of it, up to and including the one marked last (0x40), at most 20 of them.
// The short entry's fields from the attribute byte on, as a directory record carries them.
void CopyEntryFieldsToRecord(const FatShortEntry& entry, DirRecord& record);

std::uint32_t EntrySetStart(const FatDirSlot* entries, std::uint32_t shortSlot);

// Play order of a flat directory: the entry set whose short entry has first cluster `id` goes to index
// `newIndex` among the used entries (first byte not 0, not a long-name slot), every other set keeping
// its order; the sets are packed from slot 0 and slots that belong to no set are dropped. true when
// moved; false (nothing changed) when no entry has that id, the index lies past the last entry or no
// memory is left.
bool MoveEntrySetToIndex(FatDirSlot* entries, std::uint32_t entryCount, std::uint32_t id, std::uint32_t newIndex);

// The name an entry set shows: its long name, or NAME.EXT built from the short entry. out holds at
// least kMaxLongEntries * 13 + 1 characters.
void ReadEntrySetName(const FatDirSlot* entries, std::uint32_t setStart, std::uint32_t shortSlot, wchar_t* out,
                      std::uint32_t outChars);

}  // namespace engine
