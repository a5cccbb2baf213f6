// The player's three driver pipes and every exchange with the player over them.
//
// Every operation that talks to the player is one bracket: Open, any number of senders, Close on
// every path out. Brackets nest: an Open by the thread that holds the bracket only counts, and the
// matching Close ends the bracket when the count returns to zero. Both storages share the pipes, and
// several programs may drive one player, so the transport lock is held from Open to Close: a lock of
// this process (other threads wait) and a lock named after the player's interface path (other
// processes wait). A sender outside a bracket takes both for its own exchange.
// A sender that fails closes all three pipes but keeps the bracket; the next sender reopens the
// pipe it needs.
//
// What a process keeps in memory of a storage (volumes, folders, block state) is good only while no
// other process has changed that storage. Each player has a count of changes per storage in a section
// shared by every process (named like the lock): a bracket or sender that sent a write or erase raises
// the count of its storage before it lets the lock go, and a process that finds a count other than
// the one it last took in reloads what it holds of that storage before it acts on it.
//
// Every pipe read and write waits at most TransferWait() (kTransferWaitMs unless set); a transfer that does not complete by then
// is cancelled and fails. Senders answer kTransportOk or kTransportFailed unless noted; the storage
// engine turns a failed transfer into its USB error.
#pragma once

#include "device/transport/command_block.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace engine {

enum TransportStatus : int {
    kTransportOk = 0,
    kTransportFailed = 1,
};

// The longest wait for one pipe read or write; the player answers every transfer within
// milliseconds, so a transfer still pending after this has lost its player.
inline constexpr DWORD kTransferWaitMs = 30000;
// The longest wait for a pipe instance to become free when the player's pipe is between instances.
inline constexpr DWORD kPipeOpenWaitMs = 10000;

// When set, this environment variable holds the interface path of a simulated player, used in
// place of the driver enumeration. It is read at every enumeration.
inline constexpr char kSimulatedPlayerVariable[] = "KWEP_SIMULATED_PLAYER";

// Storages whose changes are counted: internal memory and the card.
inline constexpr std::uint32_t kInternalChanges = 0;
inline constexpr std::uint32_t kCardChanges = 1;

// The name of the lock that spans processes for the player at `interfacePath`: the path without
// backslashes (a backslash in a kernel object name names a namespace) and without case; a path too
// long for an object name is cut and a hash of the whole path appended.
std::string TransportLockName(const char* interfacePath);

// The name of the section of the player's change counts (two 32-bit counts: internal memory, the
// card), named like its lock.
std::string ChangeCountsName(const char* interfacePath);

class DevicePipes {
public:
    enum PipeIndex : int { kPipeUnused = 0, kPipeOut = 1, kPipeIn = 2 };
    static constexpr std::size_t kPathBufferSize = 512;

    DevicePipes();
    ~DevicePipes();
    DevicePipes(const DevicePipes&) = delete;
    DevicePipes& operator=(const DevicePipes&) = delete;

    // Bracket. Open takes the transport lock and opens PIPE02, PIPE00, PIPE01; a pipe that does not
    // open stays invalid and its first transfer fails. Inside this thread's bracket Open only nests.
    // Close ends the bracket when the outermost Open (or Hold) ends: all three closed, lock released.
    // A Close by a thread that holds no bracket closes the pipes under the lock.
    void Open();
    void Close();
    // A bracket that opens at its first exchange: Hold nests like Open but takes neither the lock nor
    // the pipes, Need opens the bracket if this thread holds one that is not open yet (and does
    // nothing otherwise), Release ends what Hold began. An operation that fails its checks before it
    // talks to the player thus opens nothing.
    void Hold();
    void Need();
    void Release();
    // A bracket that takes the transport lock now and opens each pipe at its first transfer (ended by
    // Close): held around work that decides from what the process keeps in memory, which costs no
    // exchange while that is current.
    void Lock();
    bool IsOpen(PipeIndex index) const;

    // The longest wait for one pipe read or write; tests shorten it to see a stalled player fail quickly.
    DWORD TransferWait() const { return transferWaitMs_; }
    void SetTransferWait(DWORD milliseconds) { transferWaitMs_ = milliseconds; }
    // Whether another process changed the storage (0 internal memory, any other value the card) since
    // this process last took its changes in; always true when the changes cannot be counted. Only an
    // answer taken inside a bracket lasts until the bracket ends.
    bool ChangedElsewhere(std::uint32_t storage);
    // Inside a bracket: what this process keeps of the storage has been read again, so the changes
    // made elsewhere up to now are taken in.
    void AcceptChanges(std::uint32_t storage);

    // True when the driver interface opens (it is closed again).
    bool IsPresent();
    // kProbeAttached when the driver interface opens, kProbeNoPlayer (the engine's USB error) when not.
    enum ProbeResult : int { kProbeAttached = 0, kProbeNoPlayer = 4 };
    ProbeResult Probe();

    TransportStatus SendCommand(std::uint8_t opcode, std::uint8_t p1 = 0, std::uint8_t p2 = 0, std::uint8_t p3 = 0,
                                std::uint16_t value = 0);

    // The buffer is zeroed when the reply cannot be had.
    TransportStatus ReadDeviceInfo(DeviceInfoBlock& out);

    // NAND commands address the chip by chip-select mask, column, sector within the row and row.
    TransportStatus NandReadPages(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                                  std::span<std::uint8_t> out, std::uint32_t count);
    TransportStatus NandWritePage(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                                  const UsbTransferUnit& unit);
    // An erase the player reports as failed is not a transport failure: kTransportOk with status bit 0 set.
    TransportStatus NandEraseBlock(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                                   std::uint8_t& status);
    TransportStatus NandReadPage(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                                 UsbTransferUnit& out);
    TransportStatus NandReadSpare(std::uint8_t mask, std::span<std::uint8_t> out, std::uint32_t recordsPerRow,
                                  std::uint32_t rows);
    // Block write: header, the units of the block, end.
    TransportStatus NandBeginWrite(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                                   std::uint32_t pages, std::uint32_t largePage);
    TransportStatus NandWriteData(std::span<const std::uint8_t> units, std::uint32_t largePage);
    TransportStatus NandEndWrite();

    TransportStatus CardReadSector(std::uint32_t sector, std::span<std::uint8_t> out);
    TransportStatus CardReadSectors(std::uint32_t sector, std::span<std::uint8_t> out, std::uint32_t count);
    TransportStatus CardWriteSector(std::uint32_t sector, std::span<const std::uint8_t> data);
    TransportStatus CardWriteSectors(std::uint32_t sector, std::span<const std::uint8_t> data, std::uint32_t count);
    TransportStatus CardErase(std::uint32_t sector);

    TransportStatus SendCommand20();
    // Byte 0 of the player's status reply; kTransportFailed when the block cannot be sent,
    // kStatusUnreadable when the reply cannot be read.
    static constexpr int kStatusUnreadable = 10;
    int QueryStatusA0();
    // The 64-byte audio header reply; zeroed when it cannot be had.
    TransportStatus QueryFileHeader(std::uint8_t storage, std::uint16_t recordId, std::span<std::uint8_t> out);
    TransportStatus AcknowledgeMediaChange();

private:
    friend class TransportLock;

    HANDLE OpenFirstInterface(const GUID& guid);
    HANDLE OpenDriver();
    HANDLE OpenPipe(const char* name);
    bool StorePath(const char* path, std::size_t length);
    // Takes both locks for this thread's new bracket and opens the pipes unless `lockOnly`.
    void BeginBracket(std::uint32_t depth, bool lockOnly = false);
    // A write or erase of the storage was sent (or begun) under the lock held now.
    void NoteWrite(std::uint32_t storage) { written_ |= 1u << (storage != 0 ? kCardChanges : kInternalChanges); }
    // The storage of a NAND command's chip-select mask: the chip after the internal ones is the card.
    void NoteNandWrite(std::uint8_t mask);
    void CloseAll();
    TransportStatus WriteOut(const void* data, std::size_t size);
    TransportStatus ReadIn(void* data, std::size_t size);
    // One overlapped transfer on `pipe`, waited for at most TransferWait().
    TransportStatus Transfer(PipeIndex pipe, void* data, std::size_t size, bool write);
    TransportStatus SendBlock(const void* block);
    TransportStatus SendAndRead64(std::uint8_t opcode, std::span<std::uint8_t> out);
    TransportStatus CardRead(std::uint8_t command, std::uint32_t sector, std::span<std::uint8_t> out,
                             std::uint32_t count);
    TransportStatus CardWrite(std::uint8_t command, std::uint32_t sector, std::span<const std::uint8_t> data,
                              std::uint32_t count, std::uint16_t crc);

    HANDLE pipes_[3];
    HANDLE transferEvent_;  // signals the end of this bracket's overlapped transfers
    char path_[kPathBufferSize];
    std::atomic<DWORD> bracketOwner_{0};
    std::uint32_t depth_ = 0;      // Opens and Holds of the owner not yet ended
    HANDLE playerLock_ = nullptr;  // the named lock the bracket holds
    std::atomic<DWORD> transferWaitMs_{kTransferWaitMs};
    std::uint32_t written_ = 0;    // storages written under the lock held now, one bit each
};

// The one set of pipes of the process.
extern DevicePipes PlayerPipes;

// The bracket for one scope, opened at once or at the scope's first exchange (DevicePipes::Need).
class ScopedPipes {
public:
    enum Opening { kOpenNow, kOpenAtFirstExchange, kLockNow };
    explicit ScopedPipes(DevicePipes& pipes, Opening opening = kOpenNow) : pipes_(pipes), opening_(opening)
    {
        if (opening_ == kOpenNow)
            pipes_.Open();
        else if (opening_ == kLockNow)
            pipes_.Lock();
        else
            pipes_.Hold();
    }
    ~ScopedPipes()
    {
        if (opening_ == kOpenAtFirstExchange)
            pipes_.Release();
        else
            pipes_.Close();
    }
    ScopedPipes(const ScopedPipes&) = delete;
    ScopedPipes& operator=(const ScopedPipes&) = delete;

private:
    DevicePipes& pipes_;
    Opening opening_;
};

}  // namespace engine
