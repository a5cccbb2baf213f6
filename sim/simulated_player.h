// The simulated player: the firmware's side of the wire protocol over simulated NAND chips.
// It keeps its own reading of the protocol and includes no engine code, so a misreading on one side
// is caught by the other.
//
// How it answers (each reply message is exactly one host read):
//   0x01  the 64-byte device information block built from PlayerConfig; a set media-changed byte is
//         cleared once it has been reported (and by 0xAC)
//   0x02  one erase block of units (sectorsPerBlock x 576 bytes) from the addressed sector, in messages
//         of at most 32 units
//   0x03  takes the next message, one 576-byte unit, and programs the addressed sector
//   0x04  erases the erase block holding the addressed sector; 64-byte reply whose byte 0 is the chip's
//         status: 0xC0 done, 0xC1 failed (bit 0)
//   0x06  one 576-byte unit
//   0x07  the spare of the first sector of every erase block of the chip, row after row, in 64-byte messages
//   0x08  takes the byte count (pages x 576) in messages of at most 18432 bytes, whole units each
//   0x30  large-page chips only: takes pages x 528 bytes in messages of at most 16896 bytes, whole
//         2112-byte chip pages each (2048 data bytes, then the four sectors' 16-byte spares)
//   0x20, 0xAC  no reply; 0xA0, 0xAA  64-byte replies
//   17    one 512-byte sector of the sector card
//   18    one cluster of the sector card (the block carries no count): as many sectors as the boot
//         sector of the card's FAT volume gives per cluster, found the way the host mounts it (sector
//         0, partition entry 1, boot sector byte 13); refused when the card holds no such volume
//   24    takes the next message, one 512-byte sector, and writes it when its CRC-16 (XMODEM) equals
//         bytes 5 (high) and 6 (low) of the block
//   25    takes the next message, any whole number of sectors up to 128, and writes them from the sector
//   38    erases (to zeros) one cluster of the card's FAT volume from the sector, as 18 counts it
// Card blocks carry the sector big-endian in bytes 1-4, nothing else but 24's CRC, and no trailer. Writes
// and erases of a write-protected card change nothing: 24, 25 and 38 are refused, NAND programs leave
// the card chip as it was and its erases report 0x41 (failed, write-protected).
// A unit is 512 data bytes, the 16 spare bytes and 48 zero bytes. NAND commands address one chip by a
// one-bit chip-select mask (parameter 1); the NAND-type card is the chip at the card position (the
// model's chip slot count) and answers only while it is in the slot; the row's high byte must be 0xFF
// on chips of fewer than 512 rows; the column byte is ignored. A block the player refuses (wrong size,
// unknown opcode, bytes that must be zero are not, missing or stray "wexol" trailer, no chip at the
// mask, row beyond the chip, no card, a write-protected card, a sector beyond the card, a 24 whose CRC
// does not match, a data message that does not fit the pending write) changes nothing and counts in
// `rejected`; when its
// opcode has a reply phase the player answers one empty message, which the host reads as a short
// transfer, so a refused read fails instead of waiting forever.
#pragma once

#include "sim/cost_model.h"
#include "sim/wire_server.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

// An erase block of one chip position (block index within the chip).
struct BlockRef {
    int position = 0;
    std::uint32_t block = 0;
};

// One answer to the file-header query (0xAA): the player reports these for (storage, record id).
struct AudioHeader {
    std::uint8_t storage = 0;
    std::uint16_t recordId = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t bitRate = 0;
};

// Everything the 64-byte device information block says, as the player would report it, and the few
// other answers of the player.
struct PlayerConfig {
    std::string modelId;                    // at most 12 printable ASCII characters, e.g. "TN510"
    std::string firmware = "0100";          // at most 4 characters; "N..." sends the NAND ids complemented
    std::string firmwareDate = "20040101";  // at most 8 characters
    // (maker, device) per chip position 0..7; {0, 0} is an empty position. Positions 0..chipCount-1
    // are internal chips, position chipCount is the card slot. A position whose pair the player's
    // geometry table knows holds a chip; changing a pair gives that position a fresh erased chip.
    std::array<std::array<std::uint8_t, 2>, 8> nandIds{};
    std::uint16_t rootEntries = 0;  // bytes 61-62; 0 means "no count given"
    // Sector-card figures (group models), bytes 40-60.
    std::array<std::uint8_t, 16> csd{};  // bytes 40-55 as they go on the wire
    bool cardWriteProtect = false;       // byte 56 bit 0
    bool cardPresent = false;            // byte 58, or byte 60 on "N" firmware: a card is in the slot
    // Byte 59 is set while a card is present and this is set, and for a sector card only when the
    // player finds a FAT volume on it (as 18 does); clear it to report a present card unmountable.
    bool cardMountable = true;
    bool mediaChanged = false;               // byte 57
    std::uint8_t upgradeStatus = 0;          // byte 0 of the reply to 0xA0 (0 = the player accepted the files)
    std::vector<BlockRef> factoryBadBlocks;  // marked bad when the player is created
    std::vector<AudioHeader> audioHeaders;   // 0xAA answers; any other file gets a zero reply
    // The memory card. A NAND-type card is the chip whose pair is at the card position of nandIds;
    // while nandCardOut it is kept but not in the slot (its pair reads as empty, it answers nothing).
    bool nandCardOut = false;
    // An MMC/SD sector card of this many 512-byte sectors (0: none), served while cardPresent; a new
    // count gives a fresh all-zero card. csd is not changed by it (InsertSectorCard sets both).
    std::uint32_t cardSectors = 0;
};

// A typical configuration of each model number 0..16 (0, and any other number, = a model id nobody knows).
PlayerConfig DefaultConfig(int model);
// Internal chip slots of a model number: 1, 4 or 7 (the card slot is the position after them).
int ModelChipSlots(int model);

// The card slot of a configuration, from its model id as the host identifies it: the group models
// (model numbers 10, 14 and 16) take an MMC/SD sector card, every other model a NAND-type card at
// chip position CardPosition (= its chip slot count).
enum class CardKind { Nand, Sector };
CardKind CardKindOf(const PlayerConfig& config);
int CardPosition(const PlayerConfig& config);

// What an export of the NAND-type card noticed on the way; a system that writes the card correctly
// leaves every count at zero.
struct CardImageAudit {
    std::uint32_t eccMismatches = 0;    // pages of mapped blocks whose ECC bytes do not match their data
    std::uint32_t malformedFields = 0;  // valid blocks whose address fields are not two equal, well-formed copies
    std::uint32_t duplicateBlocks = 0;  // further valid blocks of a zone claiming a logical block already found
};

struct NandCounters {
    std::uint64_t commandBlocks = 0;       // command blocks accepted
    std::uint64_t pageReads = 0;           // 512-byte sectors sent by 0x02 and 0x06
    std::uint64_t spareReads = 0;          // spare records sent by 0x07 (one chip read each)
    std::uint64_t pagePrograms = 0;        // 512-byte sectors taken by 0x03, 0x08 and 0x30 (failed ones too)
    std::uint64_t blockErases = 0;         // erase commands on a block (failed ones too)
    std::uint64_t rejected = 0;            // blocks and data messages refused (see above)
    std::uint64_t cardSectorsRead = 0;     // sector-card sectors sent by 17 and 18
    std::uint64_t cardSectorsWritten = 0;  // sector-card sectors written by 24 and 25
    std::uint64_t cardSectorsErased = 0;   // sector-card sectors erased by 38
};

// What a run cost the player: the transfers and the chip and card work counted since the last reset
// of both counters, and the device time they would take on the real player (cost_model.h).
struct RunCost {
    WireCounters wire;
    NandCounters nand;
    DeviceTime Time() const
    {
        return {
            wire.packetsOut + wire.packetsIn,
            NandMicroseconds(nand.pageReads + nand.spareReads + nand.cardSectorsRead,
                             nand.pagePrograms + nand.cardSectorsWritten + nand.cardSectorsErased, nand.blockErases)};
    }
    double Microseconds() const { return Time().Microseconds(); }
};

// Thread-safe: one lock inside guards every member function, so tests may call them while the wire
// server's thread calls HostWrite.
class SimulatedPlayer : public WireDevice {
public:
    // A fresh player (every chip erased, factory bad blocks as configured) kept in `folder`, which is
    // made when missing; an earlier player there is replaced. Null when the configuration is invalid
    // or the folder cannot be written.
    static std::unique_ptr<SimulatedPlayer> Create(const std::filesystem::path& folder, const PlayerConfig& config);
    // The same, kept in memory only (Save fails).
    static std::unique_ptr<SimulatedPlayer> CreateInMemory(const PlayerConfig& config);
    // The player kept in `folder` by an earlier run; null when there is none or it cannot be read. A
    // chip whose image file is missing comes back erased; a damaged image fails the open.
    static std::unique_ptr<SimulatedPlayer> Open(const std::filesystem::path& folder);

    // Nothing is saved on destruction: call Save.
    ~SimulatedPlayer() override;

    // Writes the configuration and the chip images changed since the last save back to the folder
    // (each file replaced whole, never left half-written).
    bool Save();
    const std::filesystem::path& Folder() const;

    // Hardware faults, by chip position and erase block index within the chip; false when there is no
    // such block. Failures stay until cleared and are kept in the chip images.
    bool MarkBadBlock(int position, std::uint32_t block);  // grown bad block: byte 5 cleared, erases fail
    bool FailErase(int position, std::uint32_t block);     // erase reports status bit 0, changes nothing
    bool FailProgram(int position, std::uint32_t block);   // programs leave the block unchanged
    void ClearFailures();                                  // undoes FailErase and FailProgram everywhere

    // Raw look at a sector: 512 data bytes followed by the 16 spare bytes (0xFF where there is no chip).
    std::array<std::uint8_t, 528> PeekPage(int position, std::uint32_t row, std::uint32_t sector) const;
    // Stores a sector exactly as given, bypassing the chip rules (test set-up); false without such sector.
    bool PokePage(int position, std::uint32_t row, std::uint32_t sector, const std::array<std::uint8_t, 528>& bytes);

    // ---- the memory card (of the kind CardKindOf gives) ----
    // Puts a fresh NAND-type card of chip (maker, device) in the slot: formatted with the FAT volume the
    // system's own card format lays out, or left erased. Only chips of 16- or 32-sector blocks and 64 to
    // 1024 rows; false on a group model or for another chip.
    bool InsertNandCard(std::uint8_t maker, std::uint8_t device, bool formatted = true);
    // Puts a fresh sector card of `sectors` 512-byte sectors in the slot, with a CSD that tells its size:
    // formatted with one FAT volume, or left all zero. False on a model that takes NAND-type cards, or
    // for a size the CSD cannot express exactly (up to 2 GiB, whole multiples of 4 sectors).
    bool InsertSectorCard(std::uint32_t sectors, bool formatted = true);
    // Pulls the card out of the slot or pushes it back; it keeps its content. The media-change byte is
    // set when the state changes. False when there is no card.
    bool SetCardInserted(bool inserted);
    // The card as a raw FAT image, whether it is in the slot or not: the sector card's sectors as they
    // stand; for the NAND-type card the logical image rebuilt through the block-address map (see
    // sim_nand_card.h), with what was noticed on the way in `audit`. Nothing without a card.
    std::optional<std::vector<std::uint8_t>> ExportCard(CardImageAudit* audit = nullptr) const;
    // Writes a raw FAT image (whole sectors, at most the card's size) onto the card: the sector card
    // holds it from sector 0 and zeros after it; the NAND-type card is rewritten with CIS, spare records
    // and ECC (sim_nand_card.h). Sets the media-change byte. False, with the card unchanged, without a
    // card or when the image does not fit.
    bool ImportCard(std::span<const std::uint8_t> image);
    // The same through files (a sector card is copied piece by piece).
    bool ExportCardFile(const std::filesystem::path& file, CardImageAudit* audit = nullptr) const;
    bool ImportCardFile(const std::filesystem::path& file);

    NandCounters Counters() const;
    void ResetCounters();
    PlayerConfig Config() const;  // a copy
    // Changes the configuration under the lock (safe while the server runs).
    void EditConfig(const std::function<void(PlayerConfig&)>& edit);
    // Direct access for tests that change media-change or card bytes between operations: only while no
    // exchange is under way (prefer EditConfig).
    PlayerConfig& MutableConfig();

    // WireDevice
    void HostWrite(std::span<const std::uint8_t> message, std::vector<Message>& replies) override;
    void HostClosed() override;

private:
    SimulatedPlayer();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A simulated player served in this process for one test: a fresh folder under the temporary path, a
// wire server on a unique pipe name, and kPlayerPathVariable pointing at it until destruction. The
// destructor stops the server, restores the variable and deletes the folder without saving (call
// Player().Save() and SimulatedPlayer::Open on Folder() to test persistence before that).
class TestPlayer {
public:
    explicit TestPlayer(const PlayerConfig& config);
    explicit TestPlayer(int model) : TestPlayer(DefaultConfig(model)) {}
    ~TestPlayer();
    TestPlayer(const TestPlayer&) = delete;
    TestPlayer& operator=(const TestPlayer&) = delete;

    // False when the folder could not be made or the server did not start (the player then lives in
    // memory only, or is not reachable through the pipes).
    bool Ok() const;
    SimulatedPlayer& Player();
    WireServer& Server();
    const std::filesystem::path& Folder() const;
    std::string InterfacePath() const;

    // The server's and the player's counters together, and a reset of both.
    RunCost Cost();
    void ResetCost();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
