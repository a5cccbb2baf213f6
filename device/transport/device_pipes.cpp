#include "device/transport/device_pipes.h"

#include "device/transport/crc16_xmodem.h"
#include "device/transport/engine_state.h"
#include "device/transport/usb_descriptors.h"

#include <setupapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>
#include <cstdio>

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

constexpr char kTransportLockPrefix[] = "kwep-transport-";
constexpr char kChangeCountsPrefix[] = "kwep-changes-";
constexpr std::size_t kLockNameChars = 200;  // object names take MAX_PATH characters at most
constexpr std::size_t kKeptPlayerLocks = 8;  // unused named-lock handles kept for the next bracket
constexpr DWORD kInstancePollMs = 1;         // between looks for a pipe instance not yet made

// The first level of the transport lock: this process's threads, and the shared state of the pipes
// (the pipes, the interface path, the named-lock handles). Recursive for its owner, and given up by
// the system when its owner thread ends without releasing it (a worker stopped by force).
HANDLE ProcessMutex()
{
    static HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    return mutex;
}

// A mutex abandoned by a thread or a process that ended while it held it is taken all the same:
// the player's state is the engine's to check, and a dead host must not block the next one.
bool Take(HANDLE mutex)
{
    if (!mutex)
        return false;
    DWORD r = WaitForSingleObject(mutex, INFINITE);
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

// The player's change counts (see the header), in a section shared by every process.
struct ChangeCounts {
    volatile LONG count[2];
};

// The second level: the named mutex of the player, shared with every other process that drives it.
// Handles stay open while a holder of this process uses them; a few unused ones are kept. Beside it,
// the change counts and those this process last took in; without the section every storage counts
// as changed elsewhere. Used under PlayerLocksGuard.

struct PlayerLock {
    std::string name;
    HANDLE handle;
    std::uint32_t users;
    HANDLE section = nullptr;
    ChangeCounts* counts = nullptr;
    std::array<LONG, 2> seen{};
};

void CloseSection(PlayerLock& l)
{
    if (l.counts)
        UnmapViewOfFile(const_cast<ChangeCounts*>(l.counts));
    if (l.section)
        CloseHandle(l.section);
    l.counts = nullptr;
    l.section = nullptr;
}

// The counts' section is named like the player lock.
std::string CountsNameOf(const std::string& lockName)
{
    return kChangeCountsPrefix + lockName.substr(sizeof kTransportLockPrefix - 1);
}

// The section is made zeroed by the first process that names it.
void OpenSection(PlayerLock& l)
{
    const std::string name = CountsNameOf(l.name);
    l.section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(ChangeCounts), name.c_str());
    if (!l.section)
        return;
    l.counts = static_cast<ChangeCounts*>(MapViewOfFile(l.section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ChangeCounts)));
    if (!l.counts) {
        CloseSection(l);
        return;
    }
    for (std::size_t s = 0; s < l.seen.size(); ++s)
        l.seen[s] = l.counts->count[s];
}

std::vector<PlayerLock>& PlayerLocks()
{
    static std::vector<PlayerLock> locks;
    return locks;
}

// Guards the list of named-lock handles and their change counts, so that a look at the counts does not
// wait for another thread's bracket; taken inside ProcessMutex, never around a wait for the player lock.
std::mutex& PlayerLocksGuard()
{
    static std::mutex guard;
    return guard;
}

// The name of the player lock taken last: the player whose changes the process looks at.
std::string& LastPlayerLockName()
{
    static std::string name;
    return name;
}

HANDLE TakePlayerLock(const char* path)
{
    std::vector<PlayerLock>& locks = PlayerLocks();
    HANDLE h = nullptr;
    try {
        std::string name = TransportLockName(path);
        std::lock_guard<std::mutex> guard(PlayerLocksGuard());
        auto found = std::find_if(locks.begin(), locks.end(), [&](const PlayerLock& l) { return l.name == name; });
        if (found == locks.end()) {
            if (locks.size() >= kKeptPlayerLocks) {
                std::erase_if(locks, [](PlayerLock& l) {
                    if (l.users != 0)
                        return false;
                    CloseHandle(l.handle);
                    CloseSection(l);
                    return true;
                });
            }
            h = CreateMutexA(nullptr, FALSE, name.c_str());
            if (!h)
                return nullptr;
            locks.push_back({std::move(name), h, 0});
            found = locks.end() - 1;
        }
        if (!found->counts)
            OpenSection(*found);
        LastPlayerLockName() = found->name;
        ++found->users;
        h = found->handle;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (Take(h))
        return h;
    std::lock_guard<std::mutex> guard(PlayerLocksGuard());
    for (PlayerLock& l : locks) {
        if (l.handle == h && l.users != 0)
            --l.users;
    }
    return nullptr;
}

// The entry of the player locked last, or null. Used under PlayerLocksGuard.
PlayerLock* LastPlayerLock()
{
    std::vector<PlayerLock>& locks = PlayerLocks();
    const std::string& name = LastPlayerLockName();
    auto found = std::find_if(locks.begin(), locks.end(), [&](const PlayerLock& l) { return l.name == name; });
    return found == locks.end() ? nullptr : &*found;
}

// Raises the count of every storage in `written` (cleared) before the lock goes. A process that was
// current stays current; one that had not yet taken in another's change stays behind.
void GivePlayerLock(HANDLE h, std::uint32_t& written)
{
    std::unique_lock<std::mutex> guard(PlayerLocksGuard());
    for (PlayerLock& l : PlayerLocks()) {
        if (l.handle != h)
            continue;
        for (std::size_t s = 0; s < l.seen.size() && l.counts; ++s) {
            if ((written & (1u << s)) == 0)
                continue;
            const LONG now = InterlockedIncrement(&l.counts->count[s]);
            if (l.seen[s] == now - 1)
                l.seen[s] = now;
        }
        if (l.users != 0)
            --l.users;
    }
    written = 0;
    guard.unlock();
    ReleaseMutex(h);
}

bool IsNamedPipePath(const char* path)
{
    return _strnicmp(path, "\\\\.\\pipe\\", 9) == 0;
}

// Opens the interface or one of its pipes. A named pipe can be between instances for a moment:
// every instance taken ("busy"), or, for a pipe of an interface that is there, the next instance
// not made yet ("not found"). A careful client waits for an instance then, within kPipeOpenWaitMs.
HANDLE OpenPath(const char* path, DWORD flags, bool waitForInstance)
{
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, flags, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            return h;
        const DWORD error = GetLastError();
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kPipeOpenWaitMs || !IsNamedPipePath(path))
            return INVALID_HANDLE_VALUE;
        if (error == ERROR_PIPE_BUSY)
            WaitNamedPipeA(path, kPipeOpenWaitMs - elapsed);
        else if (error == ERROR_FILE_NOT_FOUND && waitForInstance)
            Sleep(kInstancePollMs);
        else
            return INVALID_HANDLE_VALUE;
    }
}

// Pending Holds of this thread whose bracket has not opened yet.
thread_local std::uint32_t t_pendingHolds = 0;

}  // namespace

std::string TransportLockName(const char* interfacePath)
{
    std::string name = kTransportLockPrefix;
    const std::size_t length = strnlen(interfacePath, DevicePipes::kPathBufferSize);
    std::uint64_t hash = 14695981039346656037u;  // FNV-1a over the path as the name gives it
    for (std::size_t i = 0; i < length; ++i) {
        char c = interfacePath[i];
        if (c == '\\')
            c = '#';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211u;
        name += c;
    }
    if (name.size() > kLockNameChars) {
        char tail[24];
        std::snprintf(tail, sizeof tail, "#%016llx", static_cast<unsigned long long>(hash));
        name.resize(kLockNameChars - std::strlen(tail));
        name += tail;
    }
    return name;
}

std::string ChangeCountsName(const char* interfacePath)
{
    return CountsNameOf(TransportLockName(interfacePath));
}

// Holds the transport lock for one sender, so that a sender outside a bracket cannot cut into
// another thread's or another process's bracket; inside this thread's bracket it holds nothing more.
class TransportLock {
public:
    explicit TransportLock(DevicePipes& pipes) : pipes_(pipes)
    {
        if (pipes.bracketOwner_.load() == GetCurrentThreadId()) {
            held_ = true;
            return;
        }
        if (!Take(ProcessMutex()))
            return;
        processHeld_ = true;
        HANDLE driver = pipes.OpenDriver();  // finds the interface path the lock is named after
        if (driver != INVALID_HANDLE_VALUE)
            CloseHandle(driver);
        playerLock_ = TakePlayerLock(pipes.path_);
        held_ = playerLock_ != nullptr;
    }
    ~TransportLock()
    {
        if (playerLock_)
            GivePlayerLock(playerLock_, pipes_.written_);
        if (processHeld_)
            ReleaseMutex(ProcessMutex());
    }
    TransportLock(const TransportLock&) = delete;
    TransportLock& operator=(const TransportLock&) = delete;
    bool Held() const { return held_; }

private:
    DevicePipes& pipes_;
    bool held_ = false;
    bool processHeld_ = false;
    HANDLE playerLock_ = nullptr;
};

DevicePipes::DevicePipes()
    : pipes_{INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE},
      transferEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      path_{}
{}

DevicePipes::~DevicePipes()
{
    CloseAll();
    if (transferEvent_)
        CloseHandle(transferEvent_);
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
        return OpenPath(path_, 0, false);
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
        found = OpenPath(path_, 0, false);
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

bool DevicePipes::IsPresent()
{
    HANDLE h = OpenDriver();
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
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
    return OpenPath(path, FILE_FLAG_OVERLAPPED, true);
}

DevicePipes::ProbeResult DevicePipes::Probe()
{
    TransportLock lock(*this);
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

void DevicePipes::BeginBracket(std::uint32_t depth, bool lockOnly)
{
    if (!Take(ProcessMutex()))
        return;  // no lock, no pipes: every transfer of this bracket fails
    CloseAll();
    HANDLE driver = OpenDriver();  // finds the interface path the lock is named after
    if (driver != INVALID_HANDLE_VALUE)
        CloseHandle(driver);
    playerLock_ = TakePlayerLock(path_);
    if (!playerLock_) {
        ReleaseMutex(ProcessMutex());
        return;
    }
    bracketOwner_.store(GetCurrentThreadId());
    depth_ = depth;
    t_pendingHolds = 0;
    written_ = 0;
    if (lockOnly)
        return;
    pipes_[kPipeUnused] = OpenPipe("PIPE02");
    pipes_[kPipeOut] = OpenPipe("PIPE00");
    pipes_[kPipeIn] = OpenPipe("PIPE01");
}

void DevicePipes::Open()
{
    if (bracketOwner_.load() == GetCurrentThreadId()) {
        ++depth_;
        return;
    }
    BeginBracket(t_pendingHolds + 1);
}

void DevicePipes::Close()
{
    if (bracketOwner_.load() == GetCurrentThreadId()) {
        if (--depth_ != 0)
            return;
        CloseAll();
        bracketOwner_.store(0);
        HANDLE playerLock = playerLock_;
        playerLock_ = nullptr;
        GivePlayerLock(playerLock, written_);
        ReleaseMutex(ProcessMutex());
        return;
    }
    // Not this thread's bracket: never close the pipes under another thread's feet.
    TransportLock lock(*this);
    if (lock.Held())
        CloseAll();
}

void DevicePipes::Hold()
{
    if (bracketOwner_.load() == GetCurrentThreadId())
        ++depth_;
    else
        ++t_pendingHolds;
}

void DevicePipes::Need()
{
    if (bracketOwner_.load() != GetCurrentThreadId() && t_pendingHolds != 0)
        BeginBracket(t_pendingHolds);
}

void DevicePipes::Release()
{
    if (bracketOwner_.load() == GetCurrentThreadId())
        Close();
    else if (t_pendingHolds != 0)
        --t_pendingHolds;
}

void DevicePipes::Lock()
{
    if (bracketOwner_.load() == GetCurrentThreadId()) {
        ++depth_;
        return;
    }
    BeginBracket(t_pendingHolds + 1, true);
}

bool DevicePipes::ChangedElsewhere(std::uint32_t storage)
{
    const std::uint32_t s = storage != 0 ? kCardChanges : kInternalChanges;
    std::lock_guard<std::mutex> guard(PlayerLocksGuard());
    const PlayerLock* l = LastPlayerLock();
    // No lock was ever taken for this player: nothing of it can have been read yet.
    return l && (!l->counts || l->counts->count[s] != l->seen[s]);
}

void DevicePipes::AcceptChanges(std::uint32_t storage)
{
    const std::uint32_t s = storage != 0 ? kCardChanges : kInternalChanges;
    if (bracketOwner_.load() != GetCurrentThreadId())
        return;
    std::lock_guard<std::mutex> guard(PlayerLocksGuard());
    if (PlayerLock* l = LastPlayerLock(); l && l->counts)
        l->seen[s] = l->counts->count[s];
}

void DevicePipes::NoteNandWrite(std::uint8_t mask)
{
    NoteWrite((mask >> std::min<std::uint32_t>(Engine.ChipCount, 7)) != 0 ? kCardChanges : kInternalChanges);
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

TransportStatus DevicePipes::Transfer(PipeIndex index, void* data, std::size_t size, bool write)
{
    HANDLE pipe = pipes_[index];
    if (pipe == INVALID_HANDLE_VALUE || size > MAXDWORD || !transferEvent_) {
        CloseAll();
        return kTransportFailed;
    }
    // Starting the transfer resets the event.
    OVERLAPPED op{};
    op.hEvent = transferEvent_;
    const DWORD bytes = static_cast<DWORD>(size);
    BOOL ok = write ? WriteFile(pipe, data, bytes, nullptr, &op) : ReadFile(pipe, data, bytes, nullptr, &op);
    DWORD moved = 0;
    if (ok || GetLastError() == ERROR_IO_PENDING) {
        // A player that stops answering must not hold the host for ever: the transfer is cancelled
        // and waited for, so the buffer is free again when this returns.
        if (!ok && WaitForSingleObject(transferEvent_, transferWaitMs_) != WAIT_OBJECT_0)
            CancelIoEx(pipe, &op);
        ok = GetOverlappedResult(pipe, &op, &moved, TRUE);
    }
    if (!ok || moved != size) {
        CloseAll();
        return kTransportFailed;
    }
    return kTransportOk;
}

TransportStatus DevicePipes::WriteOut(const void* data, std::size_t size)
{
    if (pipes_[kPipeOut] == INVALID_HANDLE_VALUE)
        pipes_[kPipeOut] = OpenPipe("PIPE00");
    return Transfer(kPipeOut, const_cast<void*>(data), size, true);
}

TransportStatus DevicePipes::ReadIn(void* data, std::size_t size)
{
    if (pipes_[kPipeIn] == INVALID_HANDLE_VALUE)
        pipes_[kPipeIn] = OpenPipe("PIPE01");
    return Transfer(kPipeIn, data, size, false);
}

TransportStatus DevicePipes::SendBlock(const void* block)
{
    return WriteOut(block, sizeof(CommandBlock));
}

TransportStatus DevicePipes::SendCommand(std::uint8_t opcode, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3,
                                         std::uint16_t value)
{
    TransportLock lock(*this);
    if (!lock.Held())
        return kTransportFailed;
    CommandBlock block = BuildCommand(opcode, p1, p2, p3, value);
    return SendBlock(&block);
}

TransportStatus DevicePipes::SendAndRead64(std::uint8_t opcode, std::span<std::uint8_t> out)
{
    TransportLock lock(*this);
    TransportStatus result = kTransportFailed;
    if (lock.Held()) {
        CommandBlock block = BuildCommand(opcode, 0, 0, 0, 0);
        if (SendBlock(&block) == kTransportOk)
            result = ReadIn(out.data(), out.size());
    }
    if (result != kTransportOk)
        std::memset(out.data(), 0, out.size());
    return result;
}

TransportStatus DevicePipes::ReadDeviceInfo(DeviceInfoBlock& out)
{
    return SendAndRead64(kOpReadDeviceInfo, {reinterpret_cast<std::uint8_t*>(&out), sizeof out});
}

TransportStatus DevicePipes::NandReadPages(std::uint8_t mask, std::uint8_t column, std::uint8_t sector,
                                           std::uint16_t row, std::span<std::uint8_t> out, std::uint32_t count)
{
    if (count > out.size() / kUnitBytes)
        return kTransportFailed;
    TransportLock lock(*this);
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

TransportStatus DevicePipes::NandWritePage(std::uint8_t mask, std::uint8_t column, std::uint8_t sector,
                                           std::uint16_t row, const UsbTransferUnit& unit)
{
    TransportLock lock(*this);
    if (!lock.Held())
        return kTransportFailed;
    NoteNandWrite(mask);
    CommandBlock block = BuildNandPageWrite(mask, column, sector, row);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    return WriteOut(&unit, sizeof unit);
}

TransportStatus DevicePipes::NandEraseBlock(std::uint8_t mask, std::uint8_t column, std::uint8_t sector,
                                            std::uint16_t row, std::uint8_t& status)
{
    TransportLock lock(*this);
    if (!lock.Held())
        return kTransportFailed;
    NoteNandWrite(mask);
    CommandBlock block = BuildCommand(kOpNandEraseBlock, mask, column, sector, row);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    std::uint8_t reply[kReplyBytes];
    if (ReadIn(reply, sizeof reply) != kTransportOk)
        return kTransportFailed;
    status = reply[0];
    return kTransportOk;
}

TransportStatus DevicePipes::NandReadPage(std::uint8_t mask, std::uint8_t column, std::uint8_t sector,
                                          std::uint16_t row, UsbTransferUnit& out)
{
    TransportLock lock(*this);
    if (!lock.Held())
        return kTransportFailed;
    CommandBlock block = BuildCommand(kOpNandReadPage, mask, column, sector, row);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    return ReadIn(&out, sizeof out);
}

TransportStatus DevicePipes::NandReadSpare(std::uint8_t mask, std::span<std::uint8_t> out, std::uint32_t recordsPerRow,
                                           std::uint32_t rows)
{
    std::uint64_t total = std::uint64_t{recordsPerRow} * rows * kUnitSpareBytes;
    if (total > out.size())
        return kTransportFailed;
    TransportLock lock(*this);
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

TransportStatus DevicePipes::NandBeginWrite(std::uint8_t mask, std::uint8_t column, std::uint8_t sector,
                                            std::uint16_t row, std::uint32_t pages, std::uint32_t largePage)
{
    bool large = UseLargePages(largePage);
    std::uint64_t bytes = std::uint64_t{pages} * (large ? kLargePageBytes / kLargePageUnits : kUnitBytes);
    if (bytes > 0xFFFFFFFFu)
        return kTransportFailed;
    TransportLock lock(*this);
    if (!lock.Held())
        return kTransportFailed;
    NoteNandWrite(mask);
    CommandBlock block = BuildBlockWriteHeader(large ? kOpNandLargePageWrite : kOpNandBlockWrite, mask, column, sector,
                                               row, static_cast<std::uint32_t>(bytes));
    return SendBlock(&block);
}

TransportStatus DevicePipes::NandWriteData(std::span<const std::uint8_t> units, std::uint32_t largePage)
{
    TransportLock lock(*this);
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

TransportStatus DevicePipes::NandEndWrite()
{
    return kTransportOk;
}

TransportStatus DevicePipes::CardRead(std::uint8_t command, std::uint32_t sector, std::span<std::uint8_t> out,
                                      std::uint32_t count)
{
    if (count > out.size() / kCardSectorBytes)
        return kTransportFailed;
    TransportLock lock(*this);
    if (!lock.Held())
        return kTransportFailed;
    CardCommandBlock block = BuildCardCommand(command, sector);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    return ReadIn(out.data(), std::size_t{count} * kCardSectorBytes);
}

TransportStatus DevicePipes::CardWrite(std::uint8_t command, std::uint32_t sector, std::span<const std::uint8_t> data,
                                       std::uint32_t count, std::uint16_t crc)
{
    if (count > data.size() / kCardSectorBytes)
        return kTransportFailed;
    TransportLock lock(*this);
    if (!lock.Held())
        return kTransportFailed;
    NoteWrite(kCardChanges);
    CardCommandBlock block = BuildCardCommand(command, sector, crc);
    if (SendBlock(&block) != kTransportOk)
        return kTransportFailed;
    return WriteOut(data.data(), std::size_t{count} * kCardSectorBytes);
}

TransportStatus DevicePipes::CardReadSector(std::uint32_t sector, std::span<std::uint8_t> out)
{
    return CardRead(kCardReadSingle, sector, out, 1);
}

TransportStatus DevicePipes::CardReadSectors(std::uint32_t sector, std::span<std::uint8_t> out, std::uint32_t count)
{
    return CardRead(kCardReadMultiple, sector, out, count);
}

TransportStatus DevicePipes::CardWriteSector(std::uint32_t sector, std::span<const std::uint8_t> data)
{
    if (data.size() < kCardSectorBytes)
        return kTransportFailed;
    return CardWrite(kCardWriteSingle, sector, data, 1, Crc16Xmodem(data.data(), kCardSectorBytes));
}

TransportStatus DevicePipes::CardWriteSectors(std::uint32_t sector, std::span<const std::uint8_t> data,
                                              std::uint32_t count)
{
    return CardWrite(kCardWriteMultiple, sector, data, count, 0);
}

TransportStatus DevicePipes::CardErase(std::uint32_t sector)
{
    TransportLock lock(*this);
    if (!lock.Held())
        return kTransportFailed;
    NoteWrite(kCardChanges);
    CardCommandBlock block = BuildCardCommand(kCardErase, sector);
    return SendBlock(&block);
}

TransportStatus DevicePipes::SendCommand20()
{
    return SendCommand(kOpPrepareFormat);
}

int DevicePipes::QueryStatusA0()
{
    TransportLock lock(*this);
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

TransportStatus DevicePipes::QueryFileHeader(std::uint8_t storage, std::uint16_t recordId, std::span<std::uint8_t> out)
{
    if (out.size() < kReplyBytes)
        return kTransportFailed;
    out = out.first(kReplyBytes);
    TransportLock lock(*this);
    TransportStatus result = kTransportFailed;
    if (lock.Held()) {
        CommandBlock block = BuildFileHeaderQuery(storage, recordId);
        if (SendBlock(&block) == kTransportOk)
            result = ReadIn(out.data(), out.size());
    }
    if (result != kTransportOk)
        std::memset(out.data(), 0, out.size());
    return result;
}

TransportStatus DevicePipes::AcknowledgeMediaChange()
{
    return SendCommand(kOpAcknowledgeMediaChange);
}

}  // namespace engine
