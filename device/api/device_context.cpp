#include "device/api/device_context.h"

#include "device/fs/pc/device_file_util.h"
#include "device/transport/command_block.h"
#include "device/transport/device_pipes.h"
#include "platform/win/ansi_text.h"
#include "platform/win/file_util.h"
#include "resources/zavtctrl_resource.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

using namespace engine;

UINT ErrorCodeToMessageId(std::uint32_t code)
{
    static constexpr struct {
        EngineStatus status;
        UINT message;
    } kMessages[] = {
        {kStatusFolderError, IDS_ERR_FOLDER},          {kStatusFileError, IDS_ERR_FILE_NOT_FOUND},
        {kStatusStorageFull, IDS_ERR_STORAGE_FULL},    {kStatusUsbError, IDS_ERR_USB},
        {kStatusNoStorage, IDS_ERR_STORAGE_NOT_FOUND}, {kStatusMbrError, IDS_ERR_MBR},
        {kStatusPartitionError, IDS_ERR_PARTITION},    {kStatusWriteProtected, IDS_ERR_WRITE_PROTECTED},
        {kStatusNotSupported, IDS_ERR_NOT_SUPPORTED},  {kStatusInvalidCard, IDS_ERR_INVALID_CARD},
        {kStatusRecordFolder, IDS_ERR_RECORD_FOLDER},  {kStatusNameExists, IDS_ERR_NAME_EXISTS},
    };
    for (const auto& row : kMessages) {
        if (row.status == code)
            return row.message;
    }
    return IDS_ERR_UNSPECIFIED;
}

// ---- locks ----

DeviceLock::DeviceLock()
{
    InitializeCriticalSection(&section_);
}

DeviceLock::~DeviceLock()
{
    DeleteCriticalSection(&section_);
}

void DeviceLock::Enter()
{
    claims_.fetch_add(1);
    EnterCriticalSection(&section_);
}

void DeviceLock::Leave()
{
    LeaveCriticalSection(&section_);
    claims_.fetch_sub(1);
}

// Never destroyed: a context still held when the process ends takes them in its own destructor.
DeviceLock& DeviceContext::InternalLock()
{
    static DeviceLock* lock = new DeviceLock;
    return *lock;
}

DeviceLock& DeviceContext::CardLock()
{
    static DeviceLock* lock = new DeviceLock;
    return *lock;
}

// ---- the process's current context ----

namespace {

std::mutex g_currentMutex;
std::shared_ptr<DeviceContext> g_current;

}  // namespace

std::shared_ptr<DeviceContext> DeviceContext::Current()
{
    std::lock_guard<std::mutex> hold(g_currentMutex);
    return g_current;
}

void DeviceContext::Publish(std::shared_ptr<DeviceContext> context)
{
    std::shared_ptr<DeviceContext> old;
    {
        std::lock_guard<std::mutex> hold(g_currentMutex);
        old = std::move(g_current);
        g_current = std::move(context);
    }
    // The old context, when nothing else holds it, goes here, outside the pointer's lock.
}

void DeviceContext::Discard()
{
    Publish(nullptr);
}

// ---- life ----

DeviceContext::DeviceContext() : sleep_([](DWORD ms) { Sleep(ms); }) {}

DeviceContext::~DeviceContext()
{
    Close();
}

void DeviceContext::SetSleep(SleepFunction sleep)
{
    sleep_ = std::move(sleep);
}

void DeviceContext::SetInitializationNotice(InitializationNotice notice)
{
    notice_ = std::move(notice);
}

void DeviceContext::Notice(bool start)
{
    if (notice_)
        notice_(start);
}

void DeviceContext::ClearFigures()
{
    internalTotal_ = internalFree_ = externalTotal_ = externalFree_ = 0;
}

HRESULT DeviceContext::Init()
{
    CriticalSectionGuard internal(InternalLock());
    CriticalSectionGuard card(CardLock());
    if (ready_ && (internalPresent_ || externalPresent_))
        return E_UNEXPECTED;
    std::memset(modelId_, 0, sizeof modelId_);
    model_ = PlayerModel::Unknown;
    dump_.fill(0);
    dispatch_.reset();
    device_.reset(new (std::nothrow) PlayerDevice());
    if (!device_)
        return E_OUTOFMEMORY;
    dispatch_.reset(new (std::nothrow) StorageDispatch(*device_));
    if (!dispatch_) {
        device_.reset();
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = Refresh();
    return hr < 0 ? hr : S_OK;
}

HRESULT DeviceContext::Close()
{
    CriticalSectionGuard internal(InternalLock());
    CriticalSectionGuard card(CardLock());
    dispatch_.reset();
    device_.reset();
    internalPresent_ = externalPresent_ = 0;
    ready_ = 0;
    return S_OK;
}

int DeviceContext::IsAttached()
{
    if (!device_)
        return 0;
    try {
        return device_->ProbeDriver() != kStatusUsbError;
    } catch (...) {
        return 0;
    }
}

bool DeviceContext::UsesFolderObjects()
{
    return device_ && device_->UsesFolderObjects();
}

HRESULT DeviceContext::Refresh()
{
    // A lock held and re-entered, or held while another thread waits: a transfer is running, and a
    // status call does not queue up behind it.
    if (InternalLock().Claims() > 1 || CardLock().Claims() > 1)
        return S_OK;
    CriticalSectionGuard internal(InternalLock());
    CriticalSectionGuard card(CardLock());
    if (!device_) {
        ClearFigures();
        internalPresent_ = externalPresent_ = 0;
        ready_ = 0;
        return E_FAIL;
    }
    HRESULT hr = S_OK;
    try {
        const int attached = IsAttached();
        if (!attached) {
            if (ready_) {
                internalPresent_ = externalPresent_ = 0;
                ClearFigures();
                mediaChanged_.store(1);
                if (dispatch_)
                    dispatch_->DropFolders();
            }
            ready_ = 0;
        } else if (!ready_) {
            sleep_(100);
            ready_ = SUCCEEDED(ReadDeviceInfo()) ? 1 : 0;
        }
        hr = ready_ ? S_OK : E_FAIL;

        if (ready_ && !Engine.NoMediaPoll && device_->PollMediaChange() != 0) {
            mediaChanged_.store(1);
            sleep_(1000);
            if (externalPresent_ && !device_->GetModelGroupFlag())
                sleep_(5000);
            if (FAILED(ReadDeviceInfo())) {
                ready_ = 0;
                hr = E_FAIL;
            }
        }
        if (ready_) {
            // The sizes are counted from what is held of each storage.
            ScopedPipes transport(PlayerPipes, ScopedPipes::kLockNow);
            if (!TakeInChanges(0) || !TakeInChanges(1))
                hr = E_FAIL;
            else if (device_->QueryStorageSizes(internalTotal_, internalFree_, externalTotal_, externalFree_) != kStatusOk)
                hr = E_FAIL;
            if (device_->CardUnformatted())
                externalUnformatted_ = 1;
        }
    } catch (...) {
        ready_ = 0;
        hr = E_FAIL;
    }
    if (FAILED(hr)) {
        internalPresent_ = externalPresent_ = 0;
        ready_ = 0;
        ClearFigures();
    } else {
        internalPresent_ = internalTotal_ != 0 || internalUnformatted_;
        externalPresent_ = externalTotal_ != 0 || externalUnformatted_;
    }
    return hr;
}

HRESULT DeviceContext::ReadDeviceInfo()
{
    CriticalSectionGuard internal(InternalLock());
    CriticalSectionGuard card(CardLock());
    if (!device_)
        return E_FAIL;
    dump_.fill(0);
    Notice(true);
    mediaChanged_.store(1);
    internalUnformatted_ = externalUnformatted_ = 0;
    if (dispatch_)
        dispatch_->DropFolders();

    DeviceInfoBlock info{};
    EngineStatus status = kStatusUsbError;
    try {
        // Everything is read afresh: the changes of other processes up to now are in it.
        ScopedPipes transport(PlayerPipes, ScopedPipes::kLockNow);
        status = device_->Initialize(info);
        if (status == kStatusOk) {
            PlayerPipes.AcceptChanges(0);
            PlayerPipes.AcceptChanges(1);
        }
    } catch (...) {
        status = kStatusUsbError;
    }
    if (status == kStatusMbrError || status == kStatusPartitionError) {
        // The card is there but its volume cannot be read: reported unformatted, internal memory works.
        externalPresent_ = 1;
        externalTotal_ = externalFree_ = 0;
        externalUnformatted_ = 1;
    } else if (status != kStatusOk) {
        internalPresent_ = externalPresent_ = 0;
        ClearFigures();
        ready_ = 0;
        Notice(false);
        return E_FAIL;
    }

    std::snprintf(modelId_, sizeof modelId_, "%c%c%c%c%c%c%c%c%c%c%c%c", info.modelId[0], info.modelId[1],
                  info.modelId[2], info.modelId[3], info.modelId[4], info.modelId[5], info.modelId[6], info.modelId[7],
                  info.modelId[8], info.modelId[9], info.modelId[10], info.modelId[11]);
    const char* c = info.firmware;
    if (c[0] != '.' && c[1] != '.' && c[2] != '.') {
        if (c[3] == '.')
            std::snprintf(firmwareVersion_, sizeof firmwareVersion_, "%c%c%c%c", c[0], c[1], c[2], c[3]);
        else if (c[0] != '0')
            std::snprintf(firmwareVersion_, sizeof firmwareVersion_, "%c%c.%c%c", c[0], c[1], c[2], c[3]);
        else
            std::snprintf(firmwareVersion_, sizeof firmwareVersion_, "%c.%c%c", c[1], c[2], c[3]);
    } else {
        std::snprintf(firmwareVersion_, sizeof firmwareVersion_, "%c%c%c%c", c[0], c[1], c[2], c[3]);
    }
    const char* d = info.firmwareDate;
    std::snprintf(firmwareDate_, sizeof firmwareDate_, "%c%c%c%c.%c%c.%c%c", d[0], d[1], d[2], d[3], d[4], d[5], d[6],
                  d[7]);
    cardWriteProtected_ = (info.cardFlags & 1) != 0;
    model_ = device_->GetModel();
    ready_ = 1;

    // The folder-object models start in the root of each storage; a root that does not load leaves
    // that storage without a current folder.
    if (dispatch_ && device_->UsesFolderObjects()) {
        try {
            dispatch_->SelectFolder(0, 0);
            if (Engine.CardPresent && !externalUnformatted_)
                dispatch_->SelectFolder(1, 0);
        } catch (...) {
        }
    }
    Notice(false);
    return S_OK;
}

// ---- figures ----

int DeviceContext::IsInternalPresent()
{
    CriticalSectionGuard hold(InternalLock());
    return internalPresent_ && ready_;
}

int DeviceContext::IsExternalPresent()
{
    CriticalSectionGuard hold(CardLock());
    return externalPresent_ && ready_;
}

int DeviceContext::IsInternalUnformatted()
{
    CriticalSectionGuard hold(InternalLock());
    return internalUnformatted_ && ready_;
}

int DeviceContext::IsExternalUnformatted()
{
    CriticalSectionGuard hold(CardLock());
    return externalUnformatted_ && ready_;
}

int DeviceContext::IsInternalReadOnly()
{
    CriticalSectionGuard hold(InternalLock());
    return 0;
}

int DeviceContext::IsExternalReadOnly()
{
    CriticalSectionGuard hold(CardLock());
    return cardWriteProtected_;
}

std::uint32_t DeviceContext::GetInternalTotalBytes()
{
    CriticalSectionGuard hold(InternalLock());
    return ready_ ? internalTotal_ : 0;
}

std::uint32_t DeviceContext::GetInternalFreeBytes()
{
    CriticalSectionGuard hold(InternalLock());
    return ready_ ? internalFree_ : 0;
}

std::uint32_t DeviceContext::GetExternalTotalBytes()
{
    CriticalSectionGuard hold(CardLock());
    return ready_ ? externalTotal_ : 0;
}

std::uint32_t DeviceContext::GetExternalFreeBytes()
{
    CriticalSectionGuard hold(CardLock());
    return ready_ ? externalFree_ : 0;
}

namespace {

void UnpackDate(std::uint16_t word, int* year, int* month, int* day)
{
    if (day)
        *day = word & 0x1F;
    if (month)
        *month = (word >> 5) & 0x0F;
    if (year)
        *year = (word >> 9) + 1980;
}

}  // namespace

void DeviceContext::GetWriteDate(const DirRecord& record, int* year, int* month, int* day)
{
    UnpackDate(record.writeDate, year, month, day);
}

void DeviceContext::GetCreationDate(const DirRecord& record, int* year, int* month, int* day)
{
    UnpackDate(record.createDate, year, month, day);
}

// ---- look-up and cancel ----

int DeviceContext::ResolvePath(std::uint32_t storage, const wchar_t* name, DirRecord* record)
{
    return LookUp(storage, name, record) == 0 ? 0 : 1;
}

int DeviceContext::LookUp(std::uint32_t storage, const wchar_t* name, DirRecord* record)
{
    if ((storage != 0 && storage != 1) || name == nullptr)
        return -1;
    CriticalSectionGuard hold(LockFor(storage));
    if (!device_)
        return kStatusUsbError;
    const bool wide = UsesFolderObjects();
    char ansiName[1024] = {};
    if (!wide && name[0] != 0 && WideToAnsi(name, ansiName, sizeof ansiName) == 0)
        return -1;
    DirRecord r;
    std::memset(&r, 0, sizeof r);
    std::int32_t s = storage == 0 ? FindFirstInternal(&r) : FindFirstExternal(&r);
    while (s == 0) {
        bool match = false;
        if (wide) {
            wchar_t entry[sizeof r.name / sizeof(wchar_t)];
            std::memcpy(entry, r.name, sizeof entry);
            entry[std::size(entry) - 1] = 0;
            match = lstrcmpiW(entry, name) == 0;
        } else {
            r.name[sizeof r.name - 1] = 0;
            match = lstrcmpiA(reinterpret_cast<const char*>(r.name), ansiName) == 0;
        }
        if (match) {
            if (record)
                *record = r;
            return 0;
        }
        std::memset(&r, 0, sizeof r);
        s = storage == 0 ? FindNextInternal(&r) : FindNextExternal(&r);
    }
    // The end of the folder, or the walk's failure.
    return s;
}

void DeviceContext::CancelOperation()
{
    try {
        if (device_)
            device_->CancelOperation();
    } catch (...) {
    }
}

// ---- system dump ----

namespace {

// Reads a PC file of exactly the dump's size.
bool ReadDumpFile(const wchar_t* path, std::uint8_t* out)
{
    HandleOwner file(UtilOpenOrCreateFile(path, false));
    if (!file.valid())
        return false;
    if (!ReadExactly(file.get(), out, kSystemDumpBytes))
        return false;
    // A longer file is not a dump of this layout.
    std::uint8_t extra = 0;
    DWORD got = 0;
    return ReadFile(file.get(), &extra, 1, &got, nullptr) && got == 0;
}

bool WriteDumpFile(const wchar_t* path, const std::uint8_t* data)
{
    HandleOwner file(UtilOpenOrCreateFile(path, true));
    if (!file.valid())
        return false;
    if (!WriteExactly(file.get(), data, kSystemDumpBytes))
        return false;
    return file.Close();
}

}  // namespace

EngineStatus DeviceContext::ReadSystemDump()
{
    dump_.fill(0);
    wchar_t temp[MAX_PATH] = {};
    if (FAILED(UtilMakeTempFilePath(MAX_PATH, temp, kSystemDumpName)))
        return kStatusUsbError;
    // Only a walk that reached the folder's end means there is no dump: a failed walk is no answer.
    DirRecord record;
    const int found = LookUp(0, kSystemDumpName, &record);
    if (found == -1)
        return kStatusOk;
    if (found != 0)
        return kStatusUsbError;
    UtilDeleteFile(temp);
    if (UploadFile(0, record.firstCluster, temp) != kStatusOk)
        return kStatusUsbError;
    std::array<std::uint8_t, kSystemDumpBytes> bytes{};
    if (!ReadDumpFile(temp, bytes.data()))
        return kStatusUsbError;
    dump_ = bytes;
    return kStatusOk;
}

EngineStatus DeviceContext::WriteSystemDump()
{
    const std::uint32_t magic = kSystemDumpMagic;
    std::memcpy(dump_.data(), &magic, sizeof magic);
    wchar_t temp[MAX_PATH] = {};
    if (FAILED(UtilMakeTempFilePath(MAX_PATH, temp, kSystemDumpName)) || !WriteDumpFile(temp, dump_.data()))
        return kStatusUsbError;
    const AnsiPath ansiTemp(temp);
    if (!ansiTemp.ok())
        return kStatusUsbError;
    if (UsesFolderObjects() && SelectFolder(0, 0) != kStatusOk)
        return kStatusUsbError;

    // The old file's bytes are kept before it goes, so a failed write can put it back.
    DirRecord record;
    const int lookUp = LookUp(0, kSystemDumpName, &record);
    if (lookUp != 0 && lookUp != -1)
        return kStatusUsbError;
    const bool found = lookUp == 0;
    std::array<std::uint8_t, kSystemDumpBytes> previous{};
    if (found) {
        wchar_t old[MAX_PATH] = {};
        if (FAILED(UtilMakeTempFilePath(MAX_PATH, old, L"sysdum0.old")))
            return kStatusUsbError;
        UtilDeleteFile(old);
        const bool kept = UploadFile(0, record.firstCluster, old) == kStatusOk && ReadDumpFile(old, previous.data());
        UtilDeleteFile(old);
        if (!kept)
            return kStatusUsbError;
    }
    if ((!found || DeleteFile(0, record.firstCluster) == kStatusOk) &&
        WriteSystemFile(0, ansiTemp.c_str(), kSystemDumpBytes, dump_.data(), 0) == kStatusOk)
        return kStatusOk;

    // The delete or the write failed part-way: whatever is left under the name goes, and the old
    // bytes are written again.
    if (found) {
        DirRecord left;
        if (LookUp(0, kSystemDumpName, &left) == 0)
            DeleteFile(0, left.firstCluster);
        WriteSystemFile(0, ansiTemp.c_str(), kSystemDumpBytes, previous.data(), 0);
    }
    return kStatusUsbError;
}

EngineStatus DeviceContext::UpdateSystemDump(std::uint32_t offset, const std::uint8_t* data, std::uint32_t size)
{
    if (data == nullptr || offset > kSystemDumpBytes || size > kSystemDumpBytes - offset)
        return kStatusUsbError;
    if (UsesFolderObjects() && SelectFolder(0, 0) != kStatusOk)
        return kStatusUsbError;
    if (ReadSystemDump() != kStatusOk)
        return kStatusUsbError;
    std::memcpy(dump_.data() + offset, data, size);
    return WriteSystemDump();
}

// ---- facades ----

bool DeviceContext::TakeInChanges(std::uint32_t storage)
{
    if (!ready_ || !PlayerPipes.ChangedElsewhere(storage))
        return true;
    if (device_->ReloadStorage(storage) != kStatusOk)
        return false;
    dispatch_->ReloadFolder(storage);
    PlayerPipes.AcceptChanges(storage);
    // Another program wrote to the storage: to this process's clients that is a change like its own.
    mediaChanged_.store(1);
    return true;
}

// Every call holds the transport from the look at the change counts to its end, so no other process
// changes the storage between what the call reads of it and what it writes.
template <class Call>
auto DeviceContext::Facade(std::uint32_t storage, bool changesMedia, Call call) -> decltype(call())
{
    using Result = decltype(call());
    CriticalSectionGuard hold(LockFor(storage));
    if (!device_ || !dispatch_)
        return static_cast<Result>(kStatusUsbError);
    ScopedPipes transport(PlayerPipes, ScopedPipes::kLockNow);
    try {
        if (!TakeInChanges(storage))
            return static_cast<Result>(kStatusUsbError);
        const Result result = call();
        if (changesMedia)
            mediaChanged_.store(1);
        return result;
    } catch (...) {
        if (changesMedia)
            mediaChanged_.store(1);
        return static_cast<Result>(kStatusUsbError);
    }
}

// A walk only reads what is held, so it takes the transport only when that must be read again.
template <class Call>
std::int32_t DeviceContext::Walk(std::uint32_t storage, std::int32_t failure, Call call)
{
    CriticalSectionGuard hold(LockFor(storage));
    if (!device_ || !dispatch_)
        return failure;
    try {
        if (PlayerPipes.ChangedElsewhere(storage)) {
            ScopedPipes transport(PlayerPipes, ScopedPipes::kLockNow);
            if (!TakeInChanges(storage))
                return failure;
        }
        return call();
    } catch (...) {
        return failure;
    }
}

std::int32_t DeviceContext::FindFirstInternal(DirRecord* record)
{
    return Walk(0, kStatusUsbError, [&] { return dispatch_->FindFirstInternal(record); });
}

std::int32_t DeviceContext::FindNextInternal(DirRecord* record)
{
    return Walk(0, kStatusUsbError, [&] { return dispatch_->FindNextInternal(record); });
}

std::int32_t DeviceContext::FindFirstExternal(DirRecord* record)
{
    return Walk(1, kStatusUsbError, [&] { return dispatch_->FindFirstExternal(record); });
}

std::int32_t DeviceContext::FindNextExternal(DirRecord* record)
{
    return Walk(1, kStatusUsbError, [&] { return dispatch_->FindNextExternal(record); });
}

EngineStatus DeviceContext::DeleteFile(std::uint32_t storage, std::uint32_t id)
{
    return Facade(storage, true, [&] { return dispatch_->DeleteFile(storage, id); });
}

EngineStatus DeviceContext::DownloadFile(std::uint32_t storage, const wchar_t* path)
{
    return Facade(storage, true, [&] { return dispatch_->DownloadFile(storage, path); });
}

EngineStatus DeviceContext::UploadFile(std::uint32_t storage, std::uint32_t id, const wchar_t* path)
{
    return Facade(storage, false, [&] { return dispatch_->UploadFile(storage, id, path); });
}

bool DeviceContext::SupportsFolders(std::uint32_t storage)
{
    CriticalSectionGuard hold(LockFor(storage));
    if (!device_ || !dispatch_)
        return false;
    try {
        return dispatch_->SupportsFolders(storage) != 0;
    } catch (...) {
        return false;
    }
}

std::int32_t DeviceContext::GetCurrentFolderId(std::uint32_t storage, std::uint32_t* id)
{
    if (id)
        *id = 0;
    return Facade(storage, false, [&] { return dispatch_->GetCurrentFolderId(storage, id); });
}

EngineStatus DeviceContext::SelectFolder(std::uint32_t storage, std::uint32_t id)
{
    return Facade(storage, false, [&] { return dispatch_->SelectFolder(storage, id); });
}

EngineStatus DeviceContext::CreateFolder(std::uint32_t storage, const wchar_t* name, std::uint32_t* id)
{
    if (id)
        *id = 0;
    return Facade(storage, true, [&] { return dispatch_->CreateFolder(storage, name, id); });
}

EngineStatus DeviceContext::SetPlayIndex(std::uint32_t storage, std::uint32_t id, std::uint32_t index)
{
    return Facade(storage, false, [&] { return dispatch_->SetPlayIndex(storage, id, index); });
}

std::int32_t DeviceContext::GetPlayIndex(std::uint32_t storage, std::uint32_t id)
{
    return Walk(storage, -1, [&] { return dispatch_->GetPlayIndex(storage, id); });
}

EngineStatus DeviceContext::DeleteFolder(std::uint32_t storage, std::uint32_t id)
{
    return Facade(storage, true, [&] { return dispatch_->DeleteFolder(storage, id); });
}

EngineStatus DeviceContext::MoveEntryInside(std::uint32_t storage, std::uint32_t id, std::uint32_t sourceFolderId,
                                            std::uint32_t sourceIsRoot)
{
    return Facade(storage, true, [&] { return dispatch_->MoveEntryInside(storage, id, sourceFolderId, sourceIsRoot); });
}

EngineStatus DeviceContext::LegacyDownload(std::uint32_t storage, const char* path, std::uint32_t folderId)
{
    return Facade(storage, true, [&] { return device_->LegacyDownload(storage, path, folderId); });
}

std::int32_t DeviceContext::FindEntryByName(std::uint32_t storage, const wchar_t* name, DirRecord* record)
{
    return Facade(storage, false, [&] { return dispatch_->FindEntryByName(storage, name, record); });
}

EngineStatus DeviceContext::RenameEntry(std::uint32_t storage, std::uint32_t id, const wchar_t* name)
{
    CriticalSectionGuard hold(LockFor(storage));
    // No other process makes the name between the look-up and the rename.
    ScopedPipes transport(PlayerPipes, ScopedPipes::kLockNow);
    if (ResolvePath(storage, name, nullptr) == 0)
        return kStatusNameExists;
    return Facade(storage, true, [&] { return dispatch_->RenameEntry(storage, id, name); });
}

void DeviceContext::ReloadInternalRoot()
{
    FatFolder* folder = dispatch_ ? dispatch_->CurrentFolder(0) : nullptr;
    if (folder && folder->RootFlag() && device_->UsesFolderObjects())
        dispatch_->SelectFolder(0, 0);
}

EngineStatus DeviceContext::WriteSystemFile(std::uint32_t storage, const char* path, std::uint32_t size,
                                            const std::uint8_t* data, std::uint32_t fileId)
{
    return Facade(storage, false, [&] {
        const EngineStatus status = device_->WriteSystemFile(path, size, data, fileId);
        ReloadInternalRoot();
        return status;
    });
}

EngineStatus DeviceContext::WriteFontFile(std::uint32_t storage, const char* path, std::uint32_t size,
                                          const std::uint8_t* data)
{
    return Facade(storage, true, [&] {
        const EngineStatus status = device_->WriteFontFile(path, size, data);
        ReloadInternalRoot();
        return status;
    });
}

EngineStatus DeviceContext::QueryFileHeader(std::uint32_t storage, std::uint32_t id, std::uint8_t* header)
{
    if (id > 0xFFFF)
        return kStatusFileError;
    return Facade(storage, false,
                  [&] { return device_->QueryFileHeader(storage, static_cast<std::uint16_t>(id), header); });
}

int DeviceContext::QueryStatusByte()
{
    return Facade(0, false, [&] { return device_->QueryStatusByte(); });
}

EngineStatus DeviceContext::OpenStreamRead(std::uint32_t storage, std::uint32_t id)
{
    return Facade(storage, false, [&] { return dispatch_->OpenStreamRead(storage, id); });
}

EngineStatus DeviceContext::OpenStreamWrite(std::uint32_t storage, const wchar_t* name)
{
    return Facade(storage, false, [&] { return dispatch_->OpenStreamWrite(storage, name); });
}

EngineStatus DeviceContext::WriteStream(std::uint32_t storage, const std::uint8_t* data, std::uint32_t length)
{
    return Facade(storage, false, [&] { return dispatch_->WriteStream(storage, data, length); });
}

EngineStatus DeviceContext::ReadStream(std::uint32_t storage, std::uint8_t* buffer, std::uint32_t length,
                                       std::uint32_t* read)
{
    if (read)
        *read = 0;
    return Facade(storage, false, [&] { return dispatch_->ReadStream(storage, buffer, length, read); });
}

EngineStatus DeviceContext::CloseStream(std::uint32_t storage)
{
    return Facade(storage, true, [&] { return dispatch_->CloseStream(storage); });
}
