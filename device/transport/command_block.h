// The records that cross the wire to the player: the 64-byte command block that starts every
// exchange, the card command block, the 576-byte NAND transfer unit and the device information block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// Opcodes of the player's command blocks.
enum : std::uint8_t {
    kOpReadDeviceInfo = 0x01,
    kOpNandReadPages = 0x02,
    kOpNandWritePage = 0x03,
    kOpNandEraseBlock = 0x04,
    kOpNandReadPage = 0x06,
    kOpNandReadSpare = 0x07,
    kOpNandBlockWrite = 0x08,
    kOpPrepareFormat = 0x20,
    kOpNandLargePageWrite = 0x30,
    kOpQueryStatus = 0xA0,
    kOpQueryFileHeader = 0xAA,
    kOpAcknowledgeMediaChange = 0xAC,
};

// MMC/SD command indexes sent in card command blocks.
enum : std::uint8_t {
    kCardReadSingle = 17,
    kCardReadMultiple = 18,
    kCardWriteSingle = 24,
    kCardWriteMultiple = 25,
    kCardErase = 38,
};

inline constexpr char kCommandSignature[5] = {'w', 'e', 'x', 'o', 'l'};

struct CommandBlock {
    std::uint8_t opcode;
    std::uint8_t param1;    // NAND: chip-select mask
    std::uint8_t param2;    // NAND: column
    std::uint8_t param3;    // NAND: sector within the row
    std::uint8_t valueLow;  // NAND: row
    std::uint8_t valueHigh;
    std::uint8_t byteCount[4];  // block writes only: bits 8-15, 0-7, 16-23, 24-31
    std::uint8_t reserved[49];
    std::uint8_t signature[5];
};
static_assert(sizeof(CommandBlock) == 64);
static_assert(offsetof(CommandBlock, byteCount) == 6);
static_assert(offsetof(CommandBlock, signature) == 59);

struct CardCommandBlock {
    std::uint8_t command;      // MMC/SD command index
    std::uint8_t argument[4];  // sector number, big-endian
    std::uint8_t crc[2];       // single-sector write only: CRC-16 of the data, big-endian
    std::uint8_t reserved[57];
};
static_assert(sizeof(CardCommandBlock) == 64);

inline constexpr std::size_t kUnitDataBytes = 512;
inline constexpr std::size_t kUnitSpareBytes = 16;
inline constexpr std::size_t kUnitBytes = 576;
inline constexpr std::size_t kUnitsPerTransfer = 32;
inline constexpr std::size_t kLargePageBytes = 2112;
inline constexpr std::size_t kLargePageUnits = 4;
inline constexpr std::size_t kCardSectorBytes = 512;

// One NAND page as it crosses the wire.
struct UsbTransferUnit {
    std::uint8_t data[kUnitDataBytes];
    std::uint8_t spare[kUnitSpareBytes];
    std::uint8_t padding[48];
};
static_assert(sizeof(UsbTransferUnit) == kUnitBytes);

// The player's 64-byte answer to opcode 0x01.
struct DeviceInfoBlock {
    char modelId[12];          // ASCII, not terminated
    char firmware[4];          // ASCII, e.g. "0216"
    char firmwareDate[8];      // ASCII digits YYYYMMDD
    std::uint8_t nandIds[16];  // per chip position i: maker at 2i, device at 2i + 1
    std::uint8_t csd[16];      // sector card CSD, four little-endian words, most significant first
    std::uint8_t cardFlags;    // bit 0: card write-protected
    std::uint8_t mediaChanged;
    std::uint8_t cardPresent;  // read unless the firmware starts with "N"
    std::uint8_t cardMountable;
    std::uint8_t cardPresentN;    // read when the firmware starts with "N"
    std::uint8_t rootEntries[2];  // little-endian
    std::uint8_t unused;
};
static_assert(sizeof(DeviceInfoBlock) == 64);
static_assert(offsetof(DeviceInfoBlock, nandIds) == 24);
static_assert(offsetof(DeviceInfoBlock, csd) == 40);
static_assert(offsetof(DeviceInfoBlock, cardFlags) == 56);
static_assert(offsetof(DeviceInfoBlock, rootEntries) == 61);

// The block of the general sender: opcode, three parameters, a 16-bit value and the signature.
CommandBlock BuildCommand(std::uint8_t opcode, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3, std::uint16_t value);

// Blocks that carry no signature.
CommandBlock BuildNandPageWrite(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row);
CommandBlock BuildBlockWriteHeader(std::uint8_t opcode, std::uint8_t mask, std::uint8_t column, std::uint8_t sector,
                                   std::uint16_t row, std::uint32_t byteCount);
CommandBlock BuildFileHeaderQuery(std::uint8_t storage, std::uint16_t recordId);
CardCommandBlock BuildCardCommand(std::uint8_t command, std::uint32_t sector, std::uint16_t crc = 0);

}  // namespace engine
