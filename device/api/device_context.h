// The device context: the one gateway through which every COM object of the device API reaches the
// player. It owns the player device object and the storage dispatch, keeps the player's identity texts
// and the figures of both storages, knows whether the player is ready and whether its media changed,
// and serialises every storage operation on the lock of its storage.
//
// Lifetime: the process's current context is held by shared pointers. The control publishes one and
// drops it when it goes; a call or a worker that took the pointer keeps its context alive until it
// ends, while every later call finds none (error 769). The two storage locks belong to the process,
// not to one context: the engine below is one per process, so an old context still finishing a call
// and a new one never drive it at the same time.
#pragma once

// windows.h first: DeleteFile is spelled as its macro spells it in every file that sees this class.
#include <windows.h>

#include "device/api/player/player_device.h"
#include "device/api/storage_dispatch.h"
#include "device/fs/dir_record.h"
#include "device/fs/engine_status.h"
#include "device/transport/engine_state.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// Message string id of an engine result code (1..12); every other value is "Unspecified error".
UINT ErrorCodeToMessageId(std::uint32_t code);

// A recursive lock that knows how many claims it has (holds and re-entries by its owner, and threads
// waiting for it), so a status call can skip its work instead of queuing behind a long transfer.
class DeviceLock {
public:
    DeviceLock();
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    void Enter();
    void Leave();
    long Claims() const { return claims_.load(); }

private:
    CRITICAL_SECTION section_;
    std::atomic<long> claims_{0};
};

class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(DeviceLock& lock) : lock_(lock) { lock_.Enter(); }
    ~CriticalSectionGuard() { lock_.Leave(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    DeviceLock& lock_;
};

// The system dump file of internal memory's root and its fields.
inline constexpr std::uint32_t kSystemDumpBytes = 1024;
inline constexpr std::uint32_t kSystemDumpMagic = 0xA55AA55A;
inline constexpr std::uint32_t kDumpPersonalIdOffset = 4;
inline constexpr std::uint32_t kDumpPersonalIdBytes = 8;
inline constexpr std::uint32_t kDumpMarkIdOffset = 12;
inline constexpr std::uint32_t kDumpMarkIdBytes = 32;
inline constexpr std::uint32_t kDumpSerialOffset = 44;
inline constexpr std::uint32_t kDumpSerialBytes = 32;
inline constexpr wchar_t kSystemDumpName[] = L"sysdum0.du0";

class DeviceContext {
public:
    using SleepFunction = std::function<void(DWORD milliseconds)>;
    // Fires the control's InitializationStart (true) or InitializationEnd (false), when there is one.
    using InitializationNotice = std::function<void(bool start)>;

    DeviceContext();
    ~DeviceContext();
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;

    // The process's current context (null when there is none), and its replacement.
    static std::shared_ptr<DeviceContext> Current();
    static void Publish(std::shared_ptr<DeviceContext> context);
    static void Discard();

    // The waits of the refresh (100 ms after plug-in, 1000 and 5000 ms after a media change).
    void SetSleep(SleepFunction sleep);
    void SetInitializationNotice(InitializationNotice notice);

    HRESULT Init();
    HRESULT Refresh();
    HRESULT Close();
    int IsReady() const { return ready_; }
    int IsAttached();
    HRESULT ReadDeviceInfo();

    engine::PlayerModel GetModel() const { return model_; }
    const char* GetModelIdText() const { return modelId_; }
    const char* GetFirmwareVersion() const { return firmwareVersion_; }
    const char* GetFirmwareDate() const { return firmwareDate_; }
    // Some internal chip has large pages.
    bool HasLargePages() const { return engine::Engine.LargePageFlag != 0; }
    bool UsesFolderObjects();
    int IsMediaChanged() const { return mediaChanged_.load(); }
    void ClearMediaChanged() { mediaChanged_.store(0); }
    static const wchar_t* GetDiagnosticInfo() { return L"No information"; }

    int IsInternalPresent();
    int IsExternalPresent();
    int IsInternalUnformatted();
    int IsExternalUnformatted();
    int IsInternalReadOnly();
    int IsExternalReadOnly();
    std::uint32_t GetInternalTotalBytes();
    std::uint32_t GetInternalFreeBytes();
    std::uint32_t GetExternalTotalBytes();
    std::uint32_t GetExternalFreeBytes();

    static void GetWriteDate(const engine::DirRecord& record, int* year, int* month, int* day);
    static void GetCreationDate(const engine::DirRecord& record, int* year, int* month, int* day);

    // Looks a name up, without regard to case, in the current folder of storage 0 or 1: 0 with the
    // record filled, 1 when it is not there (or for any other storage).
    int ResolvePath(std::uint32_t storage, const wchar_t* name, engine::DirRecord* record);
    // The same look-up with the walk's answer: 0 found, -1 the folder's end, another value the walk's
    // failure.
    int LookUp(std::uint32_t storage, const wchar_t* name, engine::DirRecord* record);
    // Asks the running operation to stop; takes no lock.
    void CancelOperation();

    // The system dump: kStatusOk, or kStatusUsbError (nothing read, or nothing written). A missing file
    // reads as all zero.
    engine::EngineStatus ReadSystemDump();
    // Writes the block as it stands. The old file goes only once its bytes are known, and when the new
    // one cannot be written the old one is put back.
    engine::EngineStatus WriteSystemDump();
    // Reads the dump, changes one field and writes it back, so the other fields stay as the player
    // holds them; nothing is written when the read fails.
    engine::EngineStatus UpdateSystemDump(std::uint32_t offset, const std::uint8_t* data, std::uint32_t size);
    const std::array<std::uint8_t, kSystemDumpBytes>& SystemDump() const { return dump_; }

    // Facades: each takes the lock of its storage (the card's for any non-zero storage), answers
    // kStatusUsbError without a device or when the engine throws, and calls the dispatch. Those that
    // change a storage set the media-changed flag.
    std::int32_t FindFirstInternal(engine::DirRecord* record);
    std::int32_t FindNextInternal(engine::DirRecord* record);
    std::int32_t FindFirstExternal(engine::DirRecord* record);
    std::int32_t FindNextExternal(engine::DirRecord* record);
    engine::EngineStatus DeleteFile(std::uint32_t storage, std::uint32_t id);
    engine::EngineStatus DownloadFile(std::uint32_t storage, const wchar_t* path);
    engine::EngineStatus UploadFile(std::uint32_t storage, std::uint32_t id, const wchar_t* path);
    // False also without a device.
    bool SupportsFolders(std::uint32_t storage);
    std::int32_t GetCurrentFolderId(std::uint32_t storage, std::uint32_t* id);
    engine::EngineStatus SelectFolder(std::uint32_t storage, std::uint32_t id);
    engine::EngineStatus CreateFolder(std::uint32_t storage, const wchar_t* name, std::uint32_t* id);
    engine::EngineStatus SetPlayIndex(std::uint32_t storage, std::uint32_t id, std::uint32_t index);
    // -1 (not kStatusUsbError) without a device.
    std::int32_t GetPlayIndex(std::uint32_t storage, std::uint32_t id);
    engine::EngineStatus DeleteFolder(std::uint32_t storage, std::uint32_t id);
    engine::EngineStatus MoveEntryInside(std::uint32_t storage, std::uint32_t id, std::uint32_t sourceFolderId,
                                         std::uint32_t sourceIsRoot);
    engine::EngineStatus LegacyDownload(std::uint32_t storage, const char* path, std::uint32_t folderId);
    std::int32_t FindEntryByName(std::uint32_t storage, const wchar_t* name, engine::DirRecord* record);
    // kStatusNameExists without renaming when the new name is in the folder already.
    engine::EngineStatus RenameEntry(std::uint32_t storage, std::uint32_t id, const wchar_t* name);
    engine::EngineStatus WriteSystemFile(std::uint32_t storage, const char* path, std::uint32_t size,
                                         const std::uint8_t* data, std::uint32_t fileId);
    engine::EngineStatus WriteFontFile(std::uint32_t storage, const char* path, std::uint32_t size,
                                       const std::uint8_t* data);
    engine::EngineStatus QueryFileHeader(std::uint32_t storage, std::uint32_t id, std::uint8_t* header);
    int QueryStatusByte();
    engine::EngineStatus OpenStreamRead(std::uint32_t storage, std::uint32_t id);
    engine::EngineStatus OpenStreamWrite(std::uint32_t storage, const wchar_t* name);
    engine::EngineStatus WriteStream(std::uint32_t storage, const std::uint8_t* data, std::uint32_t length);
    engine::EngineStatus ReadStream(std::uint32_t storage, std::uint8_t* buffer, std::uint32_t length,
                                    std::uint32_t* read);
    engine::EngineStatus CloseStream(std::uint32_t storage);

    // ---- system files (device_context_system.cpp) ----
    // Makes the root folder of internal memory current (on the flat store: folder id 0).
    engine::EngineStatus SelectInternalRoot();
    // Removes the file of this name from the current folder of internal memory when it is there: kStatusOk
    // when it is gone or was never there; kStatusNameExists for a folder of that name, which is left alone;
    // else the look-up's or the delete's failure.
    engine::EngineStatus RemoveInternalFile(const wchar_t* name);
    // Writes a 1024-byte system file of an id (`data`, or all zero bytes when null) into the root of
    // internal memory, named "sysdum<id>.du<id>" after its temporary PC file; kStatusFileError when that PC
    // file cannot be made, else the write's code.
    engine::EngineStatus WriteDumpSystemFile(std::uint32_t fileId, const std::uint8_t* data = nullptr);

    // ---- format ----
    // Formats a storage under its lock: the card (1) by the engine's format of its kind, internal memory
    // (0) with the player's system files read before the erase and written back after it. kStatusOk, or
    // the code of the failing step (kStatusUsbError for any other storage, without a device, or when the
    // engine throws).
    // Every attempt that got the lock sets the media-changed flag.
    engine::EngineStatus Format(std::uint32_t storage);

    // The process's storage locks.
    static DeviceLock& InternalLock();
    static DeviceLock& CardLock();

    // ---- stream owners (device_context_stream.cpp) ----
    // A storage's open stream belongs to the object that opened it: only that owner reads, writes and
    // closes it, and no second one opens until it is given up. The stores without folder objects keep
    // one stream for both storages, so there a claim on either storage holds both.
    // True when the claim is taken; false while a stream is claimed (by any owner, this one too).
    bool ClaimStream(std::uint32_t storage, const void* owner);
    bool OwnsStream(std::uint32_t storage, const void* owner);
    // Gives the claim up; nothing when the owner holds none on the storage.
    void ReleaseStream(std::uint32_t storage, const void* owner);

private:
    static DeviceLock& LockFor(std::uint32_t storage) { return storage != 0 ? CardLock() : InternalLock(); }
    // The call's result under the storage's lock; kStatusUsbError as that result's type without a device
    // or when the engine throws.
    template <class Call>
    auto Facade(std::uint32_t storage, bool changesMedia, Call call) -> decltype(call());
    // A walk of the current folder (`failure` without a device): the transport is taken only to reload
    // what another process changed.
    template <class Call>
    std::int32_t Walk(std::uint32_t storage, std::int32_t failure, Call call);
    // Called with the storage's lock and the transport held: when another process changed the storage,
    // reloads what the engine keeps of it (volume, block state, the flat store's root) and the current
    // folder object. False when that cannot be read again: nothing may then act on the old copy.
    bool TakeInChanges(std::uint32_t storage);
    void ClearFigures();
    void Notice(bool start);
    // A root folder object holds its own copy of the directory: after a system file was written behind
    // its back it is loaded again.
    void ReloadInternalRoot();
    // The internal format proper, called with the internal lock held.
    engine::EngineStatus FormatInternal();

    std::unique_ptr<engine::PlayerDevice> device_;
    std::unique_ptr<engine::StorageDispatch> dispatch_;
    char modelId_[260] = {};
    char firmwareVersion_[32] = {};
    engine::PlayerModel model_ = engine::PlayerModel::Unknown;
    char firmwareDate_[32] = {};
    int internalPresent_ = 0;
    int externalPresent_ = 0;
    int internalUnformatted_ = 0;
    int externalUnformatted_ = 0;
    int cardWriteProtected_ = 0;
    std::uint32_t internalTotal_ = 0;
    std::uint32_t internalFree_ = 0;
    std::uint32_t externalTotal_ = 0;
    std::uint32_t externalFree_ = 0;
    int ready_ = 0;
    std::atomic<int> mediaChanged_{0};
    std::array<std::uint8_t, kSystemDumpBytes> dump_{};
    SleepFunction sleep_;
    InitializationNotice notice_;
    // The owner of each storage's stream (internal memory, card), null when none is claimed.
    std::array<const void*, 2> streamOwners_{};
};
