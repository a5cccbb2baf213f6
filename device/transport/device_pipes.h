// The player's three driver pipes and every exchange with the player over them.
//
// Every operation that talks to the player is one bracket: Open, any number of senders, Close on
// every path out. Both storages share the pipes, so one process-wide transport lock is held from
// Open to Close: a second bracket (another storage, another thread) waits until the first ends.
// A sender that fails closes all three pipes but keeps the bracket; the next sender reopens the
// pipe it needs.
//
// Senders answer kTransportOk (0) or kTransportFailed (1), unless noted; the storage engine turns a
// failed transfer into its USB error.
#pragma once

#include "device/transport/command_block.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace engine {

inline constexpr int kTransportOk = 0;
inline constexpr int kTransportFailed = 1;

// When set, this environment variable holds the interface path of a simulated player, used in
// place of the driver enumeration. It is read at every enumeration.
inline constexpr char kSimulatedPlayerVariable[] = "KWEP_SIMULATED_PLAYER";

class DevicePipes {
public:
    enum PipeIndex : int { kPipeUnused = 0, kPipeOut = 1, kPipeIn = 2 };
    static constexpr std::size_t kPathBufferSize = 512;

    DevicePipes();
    ~DevicePipes();
    DevicePipes(const DevicePipes&) = delete;
    DevicePipes& operator=(const DevicePipes&) = delete;

    // Bracket. Open takes the transport lock (unless this thread's bracket is already open) and
    // opens PIPE02, PIPE00, PIPE01; a pipe that does not open stays invalid and its first transfer
    // fails. Close closes all three and ends the bracket.
    void Open();
    void Close();
    bool IsOpen(PipeIndex index) const;

    // 1 when the driver interface opens (it is closed again), else 0.
    int IsPresent();
    // kProbeAttached when the driver interface opens, kProbeNoPlayer (the engine's USB error) when not.
    static constexpr int kProbeAttached = 0;
    static constexpr int kProbeNoPlayer = 4;
    int Probe();

    int SendCommand(std::uint8_t opcode, std::uint8_t p1 = 0, std::uint8_t p2 = 0, std::uint8_t p3 = 0,
                    std::uint16_t value = 0);

    // The buffer is zeroed when the reply cannot be had.
    int ReadDeviceInfo(DeviceInfoBlock& out);

    // NAND commands address the chip by chip-select mask, column, sector within the row and row.
    int NandReadPages(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                      std::span<std::uint8_t> out, std::uint32_t count);
    int NandWritePage(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                      const UsbTransferUnit& unit);
    // An erase the player reports as failed is not a transport failure: 0 with status bit 0 set.
    int NandEraseBlock(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                       std::uint8_t& status);
    int NandReadPage(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                     UsbTransferUnit& out);
    int NandReadSpare(std::uint8_t mask, std::span<std::uint8_t> out, std::uint32_t recordsPerRow, std::uint32_t rows);
    // Block write: header, the units of the block, end.
    int NandBeginWrite(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                       std::uint32_t pages, std::uint32_t largePage);
    int NandWriteData(std::span<const std::uint8_t> units, std::uint32_t largePage);
    int NandEndWrite();

    int CardReadSector(std::uint32_t sector, std::span<std::uint8_t> out);
    int CardReadSectors(std::uint32_t sector, std::span<std::uint8_t> out, std::uint32_t count);
    int CardWriteSector(std::uint32_t sector, std::span<const std::uint8_t> data);
    int CardWriteSectors(std::uint32_t sector, std::span<const std::uint8_t> data, std::uint32_t count);
    int CardErase(std::uint32_t sector);

    int SendCommand20();
    // Byte 0 of the player's status reply; 1 when the block cannot be sent, 10 when the reply
    // cannot be read.
    static constexpr int kStatusUnreadable = 10;
    int QueryStatusA0();
    // The 64-byte audio header reply; zeroed when it cannot be had.
    int QueryFileHeader(std::uint8_t storage, std::uint16_t recordId, std::span<std::uint8_t> out);
    int AcknowledgeMediaChange();

private:
    HANDLE OpenFirstInterface(const GUID& guid);
    HANDLE OpenDriver();
    HANDLE OpenPipe(const char* name);
    bool StorePath(const char* path, std::size_t length);
    void CloseAll();
    int WriteOut(const void* data, std::size_t size);
    int ReadIn(void* data, std::size_t size);
    int SendBlock(const void* block);
    int SendAndRead64(std::uint8_t opcode, std::span<std::uint8_t> out);
    int CardRead(std::uint8_t command, std::uint32_t sector, std::span<std::uint8_t> out, std::uint32_t count);
    int CardWrite(std::uint8_t command, std::uint32_t sector, std::span<const std::uint8_t> data, std::uint32_t count,
                  std::uint16_t crc);

    HANDLE pipes_[3];
    char path_[kPathBufferSize];
    std::atomic<DWORD> bracketOwner_{0};
};

// The one set of pipes of the process.
extern DevicePipes PlayerPipes;

// Open..Close bracket for one scope.
class ScopedPipes {
public:
    explicit ScopedPipes(DevicePipes& pipes) : pipes_(pipes) { pipes_.Open(); }
    ~ScopedPipes() { pipes_.Close(); }
    ScopedPipes(const ScopedPipes&) = delete;
    ScopedPipes& operator=(const ScopedPipes&) = delete;

private:
    DevicePipes& pipes_;
};

}  // namespace engine
