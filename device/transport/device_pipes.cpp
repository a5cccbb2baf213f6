#include "device/transport/device_pipes.h"

#include "device/transport/crc16_xmodem.h"
#include "device/transport/engine_state.h"
#include "device/transport/usb_descriptors.h"

#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace engine {

DevicePipes PlayerPipes;

namespace {

// {4C6EDC82-1751-11D3-871E-00105A612537}, the player driver's device interface.
constexpr GUID kDriverInterfaceGuid = {0x4C6EDC82, 0x1751, 0x11D3, {0x87, 0x1E, 0x00, 0x10, 0x5A, 0x61, 0x25, 0x37}};

constexpr DWORD kGetConfigurationDescriptor = 0x220000;
constexpr std::size_t kPipeSuffixLength = 7;  // "\PIPE0x"
constexpr DWORD kMaxInterfaceIndex = 256;     // enumeration errors other than "no more" are skipped, not looped on
constexpr DWORD kMaxDetailBytes = 64 * 1024;
constexpr std::size_t kTransferBytes = kUnitsPerTransfer * kUnitBytes;
constexpr std::size_t kSpareReadBytes = 64;
constexpr std::size_t kReplyBytes = 64;

// The transport lock: a Win32 mutex, recursive for its owner, and given up by the system when its
// owner thread ends without releasing it (a worker stopped by force).
HANDLE TransportMutex()
{
    static HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    return mutex;
}

bool AcquireTransport()
{
    HANDLE m = TransportMutex();
    if (!m)
        return false;
    DWORD r = WaitForSingleObject(m, INFINITE);
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

void ReleaseTransport()
{
    if (HANDLE m = TransportMutex())
        ReleaseMutex(m);
}

// Holds the transport lock for one sender, so that a sender outside a bracket cannot cut into
// another thread's bracket; inside this thread's bracket it only nests.
class SenderLock {
public:
    SenderLock() : held_(AcquireTransport()) {}
    ~SenderLock()
    {
        if (held_)
            ReleaseTransport();
    }
    SenderLock(const SenderLock&) = delete;
    SenderLock& operator=(const SenderLock&) = delete;
    bool Held() const { return held_; }

private:
    bool held_;
};

HANDLE OpenPath(const char* path)
{
    // A named pipe may be between instances for a moment; a device path never answers "busy".
    for (int attempt = 0;; ++attempt) {
        HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE || attempt == 4 || GetLastError() != ERROR_PIPE_BUSY)
            return h;
        WaitNamedPipeA(path, 2000);
    }
}

}  // namespace

DevicePipes::DevicePipes() : pipes_{INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE}, path_{} {}

DevicePipes::~DevicePipes()
{
    CloseAll();
}

bool DevicePipes::StorePath(const char* path, std::size_t length)
{
    // Room must be left for the pipe name that OpenPipe appends.
    if (length == 0 || length + kPipeSuffixLength + 1 > sizeof path_)
        return false;
    std::memcpy(path_, path, length);
    path_[length] = '\0';
    return true;
}

HANDLE DevicePipes::OpenFirstInterface(const GUID& guid)
{
    path_[0] = '\0';
    char simulated[kPathBufferSize];
    DWORD length = GetEnvironmentVariableA(kSimulatedPlayerVariable, simulated, sizeof simulated);
    if (length > 0) {
        if (length >= sizeof simulated || !StorePath(simulated, length))
            return INVALID_HANDLE_VALUE;
        return OpenPath(path_);
    }

    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    HANDLE found = INVALID_HANDLE_VALUE;
    for (DWORD index = 0; index < kMaxInterfaceIndex; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS)
                break;
            continue;
        }
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
        constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        if (required <= kPathOffset || required > kMaxDetailBytes)
            continue;
        std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[required]());
        if (!buffer)
            continue;
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.get());
        // The fixed header of the ANSI record: 5 bytes on 32-bit Windows, 8 on 64-bit.
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr))
            continue;
        std::size_t room = required - kPathOffset;
        std::size_t pathLength = strnlen(detail->DevicePath, room);
        if (pathLength == room || !StorePath(detail->DevicePath, pathLength))
            continue;
        found = OpenPath(path_);
        if (found != INVALID_HANDLE_VALUE)
            break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

HANDLE DevicePipes::OpenDriver()
{
    return OpenFirstInterface(kDriverInterfaceGuid);
}

int DevicePipes::IsPresent()
{
    HANDLE h = OpenDriver();
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(h);
    return 1;
}

HANDLE DevicePipes::OpenPipe(const char* name)
{
    if (!IsPresent())
        return INVALID_HANDLE_VALUE;
    char path[kPathBufferSize];
    std::size_t base = strnlen(path_, sizeof path_);
    std::size_t nameLength = std::strlen(name);
    if (base + 1 + nameLength + 1 > sizeof path)
        return INVALID_HANDLE_VALUE;
    std::memcpy(path, path_, base);
    path[base] = '\\';
    std::memcpy(path + base + 1, name, nameLength + 1);
    return OpenPath(path);
}

int DevicePipes::Probe()
{
    SenderLock lock;
    if (!lock.Held())
        return kProbeNoPlayer;
    HANDLE h = OpenDriver();
    if (h == INVALID_HANDLE_VALUE)
        return kProbeNoPlayer;
    std::uint8_t descriptor[256] = {};
    DWORD returned = 0;
    if (DeviceIoControl(h, kGetConfigurationDescriptor, nullptr, 0, descriptor, sizeof descriptor, &returned,
                        nullptr)) {
        // Nothing of the configuration is kept; the walk only has to be safe.
        WalkConfigurationDescriptor(descriptor, std::min<std::size_t>(returned, sizeof descriptor));
    }
    CloseHandle(h);
    return kProbeAttached;
}

void DevicePipes::Open()
{
    DWORD self = GetCurrentThreadId();
    if (bracketOwner_.load() != self) {
        if (!AcquireTransport())
            return;  // no lock, no pipes: every transfer of this bracket fails
        bracketOwner_.store(self);
    }
    CloseAll();
    pipes_[kPipeUnused] = OpenPipe("PIPE02");
    pipes_[kPipeOut] = OpenPipe("PIPE00");
    pipes_[kPipeIn] = OpenPipe("PIPE01");
}

void DevicePipes::Close()
{
    DWORD self = GetCurrentThreadId();
    if (bracketOwner_.load() == self) {
        CloseAll();
        bracketOwner_.store(0);
        ReleaseTransport();
        return;
    }
    // Not this thread's bracket: never close the pipes under another thread's feet.
    SenderLock lock;
    if (lock.Held())
        CloseAll();
}

bool DevicePipes::IsOpen(PipeIndex index) const
{
    return pipes_[index] != INVALID_HANDLE_VALUE;
}

void DevicePipes::CloseAll()
{
    for (HANDLE& h : pipes_) {
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            h = INVALID_HANDLE_VALUE;
        }
    }
}

int DevicePipes::WriteOut(const void* data, std::size_t size)
{
    if (pipes_[kPipeOut] == INVALID_HANDLE_VALUE)
        pipes_[kPipeOut] = OpenPipe("PIPE00");
    DWORD written = 0;
    if (size > MAXDWORD || !WriteFile(pipes_[kPipeOut], data, static_cast<DWORD>(size), &written, nullptr) ||
        written != size) {
        CloseAll();
        return kTransportFailed;
    }
    return kTransportOk;
}

int DevicePipes::ReadIn(void* data, std::size_t size)
{
    if (pipes_[kPipeIn] == INVALID_HANDLE_VALUE)
        pipes_[kPipeIn] = OpenPipe("PIPE01");
    DWORD read = 0;
    if (size > MAXDWORD || !ReadFile(pipes_[kPipeIn], data, static_cast<DWORD>(size), &read, nullptr) || read != size) {
        CloseAll();
        return kTransportFailed;
    }
    return kTransportOk;
}

int DevicePipes::SendBlock(const void* block)
{
    return WriteOut(block, sizeof(CommandBlock));
}

int DevicePipes::SendCommand(std::uint8_t opcode, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3,
                             std::uint16_t value)
{
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CommandBlock block = BuildCommand(opcode, p1, p2, p3, value);
    return SendBlock(&block);
}

int DevicePipes::SendAndRead64(std::uint8_t opcode, std::span<std::uint8_t> out)
{
    SenderLock lock;
    int result = kTransportFailed;
    if (lock.Held()) {
        CommandBlock block = BuildCommand(opcode, 0, 0, 0, 0);
        if (SendBlock(&block) == kTransportOk)
            result = ReadIn(out.data(), out.size());
    }
    if (result != kTransportOk)
        std::memset(out.data(), 0, out.size());
    return result;
}

int DevicePipes::ReadDeviceInfo(DeviceInfoBlock& out)
{
    return SendAndRead64(kOpReadDeviceInfo, {reinterpret_cast<std::uint8_t*>(&out), sizeof out});
}

int DevicePipes::NandReadPages(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                               std::span<std::uint8_t> out, std::uint32_t count)
{
    if (count > out.size() / kUnitBytes)
        return kTransportFailed;
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CommandBlock block = BuildCommand(kOpNandReadPages, mask, column, sector, row);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    std::size_t total = std::size_t{count} * kUnitBytes;
    for (std::size_t done = 0; done < total;) {
        std::size_t piece = std::min(total - done, kTransferBytes);
        if (ReadIn(out.data() + done, piece) != kTransportOk)
            return kTransportFailed;
        done += piece;
    }
    return kTransportOk;
}

int DevicePipes::NandWritePage(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                               const UsbTransferUnit& unit)
{
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CommandBlock block = BuildNandPageWrite(mask, column, sector, row);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    return WriteOut(&unit, sizeof unit);
}

int DevicePipes::NandEraseBlock(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                                std::uint8_t& status)
{
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CommandBlock block = BuildCommand(kOpNandEraseBlock, mask, column, sector, row);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    std::uint8_t reply[kReplyBytes];
    if (ReadIn(reply, sizeof reply) != kTransportOk)
        return kTransportFailed;
    status = reply[0];
    return kTransportOk;
}

int DevicePipes::NandReadPage(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                              UsbTransferUnit& out)
{
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CommandBlock block = BuildCommand(kOpNandReadPage, mask, column, sector, row);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    return ReadIn(&out, sizeof out);
}

int DevicePipes::NandReadSpare(std::uint8_t mask, std::span<std::uint8_t> out, std::uint32_t recordsPerRow,
                               std::uint32_t rows)
{
    std::uint64_t total = std::uint64_t{recordsPerRow} * rows * kUnitSpareBytes;
    if (total > out.size())
        return kTransportFailed;
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CommandBlock block = BuildCommand(kOpNandReadSpare, mask, 0, 0, 0);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    for (std::size_t done = 0; done < total;) {
        std::size_t piece = std::min<std::size_t>(static_cast<std::size_t>(total) - done, kSpareReadBytes);
        if (ReadIn(out.data() + done, piece) != kTransportOk)
            return kTransportFailed;
        done += piece;
    }
    return kTransportOk;
}

namespace {
// The first model's firmware takes no repacked large pages.
bool UseLargePages(std::uint32_t largePage)
{
    return largePage != 0 && Engine.CurrentModel != PlayerModel::KWEP_4;
}
}  // namespace

int DevicePipes::NandBeginWrite(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row,
                                std::uint32_t pages, std::uint32_t largePage)
{
    bool large = UseLargePages(largePage);
    std::uint64_t bytes = std::uint64_t{pages} * (large ? kLargePageBytes / kLargePageUnits : kUnitBytes);
    if (bytes > 0xFFFFFFFFu)
        return kTransportFailed;
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CommandBlock block = BuildBlockWriteHeader(large ? kOpNandLargePageWrite : kOpNandBlockWrite, mask, column, sector,
                                               row, static_cast<std::uint32_t>(bytes));
    return SendBlock(&block);
}

int DevicePipes::NandWriteData(std::span<const std::uint8_t> units, std::uint32_t largePage)
{
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    if (!UseLargePages(largePage)) {
        for (std::size_t done = 0; done < units.size();) {
            std::size_t piece = std::min(units.size() - done, kTransferBytes);
            if (WriteOut(units.data() + done, piece) != kTransportOk)
                return kTransportFailed;
            done += piece;
        }
        return kTransportOk;
    }

    // Four units make one 2112-byte chip page: their data back to back, then their spare records.
    // Only whole pages can be repacked; anything else would drop spare records, so it is refused
    // (and the half-begun block write is ended by closing the pipes).
    constexpr std::size_t kPageInput = kLargePageUnits * kUnitBytes;
    if (units.size() % kPageInput != 0) {
        CloseAll();
        return kTransportFailed;
    }
    constexpr std::size_t kStagingBytes = kUnitsPerTransfer / kLargePageUnits * kLargePageBytes;
    std::unique_ptr<std::uint8_t[]> staging(new (std::nothrow) std::uint8_t[kStagingBytes]);
    if (!staging) {
        CloseAll();
        return kTransportFailed;
    }
    for (std::size_t done = 0; done < units.size();) {
        std::size_t chunk = std::min(units.size() - done, kTransferBytes);
        std::size_t count = chunk / kUnitBytes;
        std::memset(staging.get(), 0, kStagingBytes);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* unit = units.data() + done + i * kUnitBytes;
            std::uint8_t* page = staging.get() + (i / kLargePageUnits) * kLargePageBytes;
            std::size_t slot = i % kLargePageUnits;
            std::memcpy(page + slot * kUnitDataBytes, unit, kUnitDataBytes);
            std::memcpy(page + kLargePageUnits * kUnitDataBytes + slot * kUnitSpareBytes, unit + kUnitDataBytes,
                        kUnitSpareBytes);
        }
        if (WriteOut(staging.get(), count / kLargePageUnits * kLargePageBytes) != kTransportOk)
            return kTransportFailed;
        done += chunk;
    }
    return kTransportOk;
}

int DevicePipes::NandEndWrite()
{
    return kTransportOk;
}

int DevicePipes::CardRead(std::uint8_t command, std::uint32_t sector, std::span<std::uint8_t> out, std::uint32_t count)
{
    if (count > out.size() / kCardSectorBytes)
        return kTransportFailed;
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CardCommandBlock block = BuildCardCommand(command, sector);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    return ReadIn(out.data(), std::size_t{count} * kCardSectorBytes);
}

int DevicePipes::CardWrite(std::uint8_t command, std::uint32_t sector, std::span<const std::uint8_t> data,
                           std::uint32_t count, std::uint16_t crc)
{
    if (count > data.size() / kCardSectorBytes)
        return kTransportFailed;
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CardCommandBlock block = BuildCardCommand(command, sector, crc);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    return WriteOut(data.data(), std::size_t{count} * kCardSectorBytes);
}

int DevicePipes::CardReadSector(std::uint32_t sector, std::span<std::uint8_t> out)
{
    return CardRead(kCardReadSingle, sector, out, 1);
}

int DevicePipes::CardReadSectors(std::uint32_t sector, std::span<std::uint8_t> out, std::uint32_t count)
{
    return CardRead(kCardReadMultiple, sector, out, count);
}

int DevicePipes::CardWriteSector(std::uint32_t sector, std::span<const std::uint8_t> data)
{
    if (data.size() < kCardSectorBytes)
        return kTransportFailed;
    return CardWrite(kCardWriteSingle, sector, data, 1, Crc16Xmodem(data.data(), kCardSectorBytes));
}

int DevicePipes::CardWriteSectors(std::uint32_t sector, std::span<const std::uint8_t> data, std::uint32_t count)
{
    return CardWrite(kCardWriteMultiple, sector, data, count, 0);
}

int DevicePipes::CardErase(std::uint32_t sector)
{
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CardCommandBlock block = BuildCardCommand(kCardErase, sector);
    return SendBlock(&block);
}

int DevicePipes::SendCommand20()
{
    return SendCommand(kOpPrepareFormat);
}

int DevicePipes::QueryStatusA0()
{
    SenderLock lock;
    if (!lock.Held())
        return kTransportFailed;
    CommandBlock block = BuildCommand(kOpQueryStatus, 0, 0, 0, 0);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    std::uint8_t reply[kReplyBytes];
    if (ReadIn(reply, sizeof reply) != kTransportOk)
        return kStatusUnreadable;
    return reply[0];
}

int DevicePipes::QueryFileHeader(std::uint8_t storage, std::uint16_t recordId, std::span<std::uint8_t> out)
{
    if (out.size() < kReplyBytes)
        return kTransportFailed;
    out = out.first(kReplyBytes);
    SenderLock lock;
    int result = kTransportFailed;
    if (lock.Held()) {
        CommandBlock block = BuildFileHeaderQuery(storage, recordId);
        if (SendBlock(&block) == kTransportOk)
            result = ReadIn(out.data(), out.size());
    }
    if (result != kTransportOk)
        std::memset(out.data(), 0, out.size());
    return result;
}

int DevicePipes::AcknowledgeMediaChange()
{
    return SendCommand(kOpAcknowledgeMediaChange);
}

}  // namespace engine
