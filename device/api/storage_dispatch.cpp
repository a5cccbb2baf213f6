#include "device/api/storage_dispatch.h"

#include "device/fs/card/card_volume.h"
#include "device/fs/card/external_folder.h"
#include "device/fs/file_stream.h"
#include "device/fs/internal/internal_folder.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"
#include "platform/win/ansi_text.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace engine {

namespace {

constexpr std::uint8_t kFolderAttribute = 0x10;
constexpr std::uint8_t kLongNameAttribute = 0x0F;

// A name or path in the ANSI code page for the flat store and the card volume.
class AnsiText {
public:
    explicit AnsiText(const wchar_t* text)
    {
        if (text == nullptr)
            return;
        ok_ = text[0] == 0 || WideToAnsi(text, buffer_, sizeof buffer_) != 0;
    }
    bool ok() const { return ok_; }
    const char* c_str() const { return buffer_; }

private:
    char buffer_[1024] = {};
    bool ok_ = false;
};

bool IsCard(std::uint32_t storage)
{
    return storage != 0;
}

// Position of the entry with that first cluster among the used entries of a root directory; -1 when
// the id is not there.
std::int32_t RootOrdinal(const FatDirSlot* slots, std::uint32_t count, std::uint32_t recordId)
{
    std::int32_t ordinal = 0;
    for (std::uint32_t i = 0; i < count && slots[i].raw[0] != 0; ++i) {
        if (slots[i].entry.attributes == kLongNameAttribute)
            continue;
        if (slots[i].entry.firstCluster == recordId)
            return ordinal;
        ++ordinal;
    }
    return -1;
}

}  // namespace

StorageScheme CurrentStorageScheme()
{
    if (Engine.FolderSchemeOn == 0)
        return StorageScheme::Legacy;
    if (Engine.FolderDepthLimit == -1)
        return StorageScheme::FolderObjects;
    return Engine.FolderDepthLimit == 1 ? StorageScheme::OneFolderLevel : StorageScheme::Legacy;
}

StorageDispatch::StorageDispatch(PlayerDevice& device) : device_(device) {}

StorageDispatch::~StorageDispatch() = default;

FatFolder* StorageDispatch::CurrentFolder(std::uint32_t storage)
{
    return IsCard(storage) ? external_.get() : internal_.get();
}

FileStream* StorageDispatch::Stream(std::uint32_t storage)
{
    return IsCard(storage) ? externalStream_ : internalStream_;
}

void StorageDispatch::DropFolders()
{
    internalStream_ = externalStream_ = nullptr;
    internal_.reset();
    external_.reset();
}

void StorageDispatch::ReloadFolder(std::uint32_t storage)
{
    if (const FatFolder* folder = CurrentFolder(storage))
        SelectFolder(storage, folder->RootFlag() ? 0 : folder->FolderId());
}

// ---- walks ----

std::int32_t StorageDispatch::FindFirstInternal(DirRecord* record)
{
    DirRecord scratch;
    DirRecord& r = record ? *record : scratch;
    switch (CurrentStorageScheme()) {
    case StorageScheme::FolderObjects:
        return internal_ ? internal_->FindFirst(&r) : -1;
    case StorageScheme::Legacy:
        return device_.LegacyFindFirst(r);
    case StorageScheme::OneFolderLevel:
        break;
    }
    // Only the records of the current folder: the folder word is the entry's high cluster field.
    for (std::int32_t s = device_.LegacyFindFirst(r); s == 0; s = device_.LegacyFindNext(r)) {
        if (r.firstClusterHigh == Engine.LegacyFolderId)
            return 0;
    }
    return -1;
}

std::int32_t StorageDispatch::FindNextInternal(DirRecord* record)
{
    DirRecord scratch;
    DirRecord& r = record ? *record : scratch;
    switch (CurrentStorageScheme()) {
    case StorageScheme::FolderObjects:
        return internal_ ? internal_->FindNext(&r) : -1;
    case StorageScheme::Legacy:
        return device_.LegacyFindNext(r);
    case StorageScheme::OneFolderLevel:
        break;
    }
    std::int32_t s = device_.LegacyFindNext(r);
    for (; s == 0; s = device_.LegacyFindNext(r)) {
        if (r.firstClusterHigh == Engine.LegacyFolderId)
            return 0;
    }
    return s;
}

std::int32_t StorageDispatch::FindFirstExternal(DirRecord* record)
{
    DirRecord scratch;
    DirRecord& r = record ? *record : scratch;
    if (CurrentStorageScheme() == StorageScheme::FolderObjects)
        return external_ ? external_->FindFirst(&r) : -1;
    return CardVolume.FindFirst(r);
}

std::int32_t StorageDispatch::FindNextExternal(DirRecord* record)
{
    DirRecord scratch;
    DirRecord& r = record ? *record : scratch;
    if (CurrentStorageScheme() == StorageScheme::FolderObjects)
        return external_ ? external_->FindNext(&r) : -1;
    return CardVolume.FindNext(r);
}

// ---- transfers and edits ----

EngineStatus StorageDispatch::DownloadFile(std::uint32_t storage, const wchar_t* pcPath)
{
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FatFolder* folder = CurrentFolder(storage);
        return folder ? folder->DownloadFile(pcPath) : kStatusFolderError;
    }
    const AnsiText path(pcPath);
    if (!path.ok())
        return kStatusFileError;
    return device_.LegacyDownload(storage, path.c_str(), Engine.FolderSchemeOn ? Engine.LegacyFolderId : 0);
}

EngineStatus StorageDispatch::UploadFile(std::uint32_t storage, std::uint32_t recordId, const wchar_t* pcPath)
{
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FatFolder* folder = CurrentFolder(storage);
        return folder ? folder->UploadFile(recordId, pcPath) : kStatusFolderError;
    }
    const AnsiText path(pcPath);
    if (!path.ok())
        return kStatusFileError;
    return device_.LegacyUpload(storage, recordId, path.c_str());
}

EngineStatus StorageDispatch::DeleteFile(std::uint32_t storage, std::uint32_t recordId)
{
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FatFolder* folder = CurrentFolder(storage);
        return folder ? folder->DeleteFile(recordId) : kStatusFolderError;
    }
    if (!IsCard(storage))
        return device_.DeleteFile(0, recordId);
    if (recordId > 0xFFFF)
        return kStatusFileError;
    return CardVolume.DeleteFile(static_cast<std::uint16_t>(recordId));
}

EngineStatus StorageDispatch::RenameEntry(std::uint32_t storage, std::uint32_t recordId, const wchar_t* newName)
{
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FatFolder* folder = CurrentFolder(storage);
        return folder ? folder->RenameEntry(recordId, newName, 0) : kStatusFolderError;
    }
    const AnsiText name(newName);
    if (!name.ok() || name.c_str()[0] == 0)
        return kStatusFolderError;
    if (!IsCard(storage))
        return device_.RenameEntry(0, recordId, name.c_str());
    if (recordId > 0xFFFF)
        return kStatusFileError;
    return CardVolume.Rename(static_cast<std::uint16_t>(recordId), name.c_str());
}

EngineStatus StorageDispatch::CreateFolder(std::uint32_t storage, const wchar_t* name, std::uint32_t* newId)
{
    if (newId)
        *newId = 0;
    std::uint32_t id = 0;
    EngineStatus status = kStatusFolderError;
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FatFolder* folder = CurrentFolder(storage);
        if (folder)
            status = folder->CreateSubfolder(name, &id);
    } else if (!IsCard(storage)) {
        // The card of the older models has no folders: a request for it never makes one in internal memory.
        const AnsiText text(name);
        if (text.ok() && text.c_str()[0] != 0)
            status = device_.CreateFolder(text.c_str(), &id);
    }
    if (status == kStatusOk && newId)
        *newId = id;
    return status;
}

EngineStatus StorageDispatch::DeleteFolder(std::uint32_t storage, std::uint32_t folderId)
{
    // Folder objects delete a folder as an entry of its parent (DeleteFile); the card of the older
    // models has none.
    if (CurrentStorageScheme() == StorageScheme::FolderObjects || IsCard(storage))
        return kStatusFolderError;
    return device_.DeleteFolder(0, folderId);
}

EngineStatus StorageDispatch::MoveEntryInside(std::uint32_t storage, std::uint32_t recordId,
                                              std::uint32_t sourceFolderId, std::uint32_t sourceIsRoot)
{
    switch (CurrentStorageScheme()) {
    case StorageScheme::FolderObjects: {
        FatFolder* folder = CurrentFolder(storage);
        return folder ? folder->MoveEntry(sourceFolderId, sourceIsRoot, recordId) : kStatusFolderError;
    }
    case StorageScheme::OneFolderLevel:
        return device_.MoveEntry(storage, recordId, Engine.LegacyFolderId);
    case StorageScheme::Legacy:
        break;
    }
    return kStatusFolderError;
}

std::int32_t StorageDispatch::GetPlayIndex(std::uint32_t storage, std::uint32_t recordId)
{
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FatFolder* folder = CurrentFolder(storage);
        return folder ? folder->GetEntryOrdinal(recordId) : -1;
    }
    if (IsCard(storage)) {
        if (!CardVolume.IsMounted())
            return -1;
        return RootOrdinal(CardVolume.RootSlotsPtr(), CardVolume.RootSlots(), recordId);
    }
    ScopedPipes bracket(PlayerPipes, ScopedPipes::kOpenAtFirstExchange);
    if (!LegacyChipZeroPresent() || LegacyEnsureRoot() != kStatusOk)
        return -1;
    const std::uint32_t count = static_cast<std::uint32_t>(LegacyStore.root.size());
    return RootOrdinal(LegacyStore.root.data(), count, recordId);
}

EngineStatus StorageDispatch::SetPlayIndex(std::uint32_t storage, std::uint32_t recordId, std::uint32_t newIndex)
{
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FatFolder* folder = CurrentFolder(storage);
        return folder ? folder->SetPlayIndex(recordId, newIndex) : kStatusFolderError;
    }
    return device_.SetPlayIndex(IsCard(storage) ? 1 : 0, recordId, newIndex);
}

std::int32_t StorageDispatch::FindEntryByName(std::uint32_t storage, const wchar_t* name, DirRecord* record)
{
    if (name == nullptr)
        return -1;
    DirRecord r;
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FatFolder* folder = CurrentFolder(storage);
        if (!folder)
            return -1;
        for (std::int32_t s = folder->FindFirst(&r); s == 0; s = folder->FindNext(&r)) {
            wchar_t entryName[sizeof r.name / sizeof(wchar_t)];
            std::memcpy(entryName, r.name, sizeof entryName);
            entryName[std::size(entryName) - 1] = 0;
            if (r.attributes == kFolderAttribute && std::wcscmp(entryName, name) == 0) {
                if (record)
                    *record = r;
                return 0;
            }
        }
        return -1;
    }
    if (IsCard(storage))
        return 1;
    const AnsiText text(name);
    if (!text.ok())
        return -1;
    // Every record of the store, whichever folder it lies in.
    for (std::int32_t s = device_.LegacyFindFirst(r); s == 0; s = device_.LegacyFindNext(r)) {
        r.name[sizeof r.name - 1] = 0;
        if (r.attributes == kFolderAttribute && std::strcmp(reinterpret_cast<const char*>(r.name), text.c_str()) == 0) {
            if (record)
                *record = r;
            return 0;
        }
    }
    return -1;
}

// ---- folder state ----

std::uint32_t StorageDispatch::SupportsFolders(std::uint32_t storage)
{
    switch (CurrentStorageScheme()) {
    case StorageScheme::FolderObjects:
        return 1;
    case StorageScheme::OneFolderLevel:
        return IsCard(storage) ? 0 : 1;
    case StorageScheme::Legacy:
        break;
    }
    return 0;
}

std::int32_t StorageDispatch::GetCurrentFolderId(std::uint32_t storage, std::uint32_t* id)
{
    if (id)
        *id = 0;
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FatFolder* folder = CurrentFolder(storage);
        if (!folder || !id)
            return -1;
        *id = folder->FolderId();
        return 0;
    }
    // The card of the older models has no folders, so no current one.
    if (IsCard(storage))
        return -1;
    if (id)
        *id = Engine.LegacyFolderId;
    return 0;
}

EngineStatus StorageDispatch::SelectFolder(std::uint32_t storage, std::uint32_t folderId)
{
    if (CurrentStorageScheme() != StorageScheme::FolderObjects) {
        if (!IsCard(storage))
            Engine.LegacyFolderId = folderId;
        return kStatusOk;
    }
    const bool card = IsCard(storage);
    std::unique_ptr<FatFolder>& slot = card ? external_ : internal_;
    FileStream*& stream = card ? externalStream_ : internalStream_;
    stream = nullptr;
    slot.reset();

    const bool root = folderId == 0;
    const std::uint32_t capacity = card ? (root ? Engine.ExternalRootEntries : Engine.ExternalFolderEntries)
                                        : (root ? Engine.InternalRootEntries : Engine.InternalFolderEntries);
    const std::uint32_t id = root ? 1 : folderId;
    FileStream* newStream = nullptr;
    std::unique_ptr<FatFolder> folder;
    if (card) {
        auto* f = new (std::nothrow) ExternalFolder(capacity, id, 1, root ? 1 : 0);
        folder.reset(f);
        newStream = f;
    } else {
        auto* f = new (std::nothrow) InternalFolder(capacity, id, 1, root ? 1 : 0);
        folder.reset(f);
        newStream = f;
    }
    // A folder object without its entry buffer is never installed: every later call would walk it.
    if (!folder || folder->Capacity() == 0 || folder->Entries() == nullptr)
        return kStatusStorageFull;
    const EngineStatus status = folder->Load();
    // Nor is one whose directory did not load: its empty entries would be written over the folder's.
    if (status != kStatusOk)
        return status;
    slot = std::move(folder);
    stream = newStream;
    return kStatusOk;
}

EngineStatus StorageDispatch::ResetFolderLevel(std::uint32_t storage, std::uint32_t* id)
{
    if (id)
        *id = 0;
    if (!IsCard(storage) && id)
        *id = Engine.LegacyFolderId;
    return kStatusOk;
}

// ---- streams ----

EngineStatus StorageDispatch::OpenStreamRead(std::uint32_t storage, std::uint32_t recordId)
{
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FileStream* stream = Stream(storage);
        return stream ? stream->OpenRead(recordId) : kStatusFolderError;
    }
    device_.SetStreamStorage(storage);
    return device_.OpenRead(recordId);
}

EngineStatus StorageDispatch::OpenStreamWrite(std::uint32_t storage, const wchar_t* name)
{
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FileStream* stream = Stream(storage);
        return stream ? stream->Create(name) : kStatusFolderError;
    }
    device_.SetStreamStorage(storage);
    device_.SetNewFileFolderId(Engine.FolderSchemeOn ? Engine.LegacyFolderId : 0);
    return device_.Create(name);
}

EngineStatus StorageDispatch::WriteStream(std::uint32_t storage, const std::uint8_t* data, std::uint32_t length)
{
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FileStream* stream = Stream(storage);
        return stream ? stream->Write(data, length) : kStatusFolderError;
    }
    device_.SetStreamStorage(storage);
    return device_.Write(data, length);
}

EngineStatus StorageDispatch::ReadStream(std::uint32_t storage, std::uint8_t* buffer, std::uint32_t length,
                                         std::uint32_t* read)
{
    if (read)
        *read = 0;
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FileStream* stream = Stream(storage);
        return stream ? stream->Read(buffer, length, read) : kStatusFolderError;
    }
    device_.SetStreamStorage(storage);
    return device_.Read(buffer, length, read);
}

EngineStatus StorageDispatch::CloseStream(std::uint32_t storage)
{
    if (CurrentStorageScheme() == StorageScheme::FolderObjects) {
        FileStream* stream = Stream(storage);
        return stream ? stream->Close() : kStatusFolderError;
    }
    return device_.Close();
}

}  // namespace engine
