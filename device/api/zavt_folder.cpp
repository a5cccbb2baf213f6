// The folder object of ZAVTCTRL.
#include "device/api/zavt_folder.h"

#include "device/api/device_context.h"
#include "device/api/zavt_context.h"
#include "device/api/zavt_control.h"
#include "device/api/zavt_file.h"
#include "device/api/zavt_storage.h"
#include "device/fs/engine_status.h"
#include "platform/win/file_util.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace {

// Parent chains are walked at most this deep; a deeper chain is taken for a cycle.
constexpr int kMaxFolderDepth = 4096;

void FireEvent(void (*fire)(CZAVTControl&))
{
    ZavtWithCurrentControl([fire](CZAVTControl& control) { fire(control); });
}

// What a move needs of the entry that moves.
struct MoveSource {
    CComPtr<IZAVTFolder> parent;
    CComPtr<IZAVTStorage> storage;  // its parent's
    CComBSTR name;
    long id = 0;
};

// S_OK with the entry's parent, storage, name and id; E_INVALIDARG for a root (it has no place to move
// from) and for a file not yet written (it has no entry to move); else the failing getter's result.
template <class Entry>
HRESULT ReadMoveSource(Entry* entry, MoveSource* source)
{
    if (!entry)
        return E_INVALIDARG;
    HRESULT hr = entry->get_ParentFolder(&source->parent);
    if (FAILED(hr))
        return hr;
    if (hr != S_OK || !source->parent)
        return E_INVALIDARG;
    hr = source->parent->get_Storage(&source->storage);
    if (FAILED(hr))
        return hr;
    if (!source->storage)
        return E_INVALIDARG;
    hr = entry->get_Name(&source->name);
    if (SUCCEEDED(hr))
        hr = entry->get_FileSystemID(&source->id);
    if (FAILED(hr))
        return hr;
    return source->id == 0 ? E_INVALIDARG : S_OK;
}

}  // namespace

HRESULT CZAVTFolder::Init(const wchar_t* name, const wchar_t* path, long root, const engine::DirRecord& record,
                          ZAVTStorageType type, long deviceIndex, IZAVTFolder* parent)
{
    CComBSTR newName(name), newPath(path);
    if ((name && !newName.get()) || (path && !newPath.get()))
        return E_OUTOFMEMORY;
    name_ = std::move(newName);
    path_ = std::move(newPath);
    root_ = root;
    record_ = record;
    type_ = type;
    deviceIndex_ = deviceIndex;
    parent_ = parent;
    return S_OK;
}

STDMETHODIMP CZAVTFolder::get_Name(BSTR* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    return name_.CopyTo(pVal);
}

STDMETHODIMP CZAVTFolder::put_Name(BSTR newVal)
{
    return ZavtRenameEntry<CZAVTFolder>(type_, Parent(), FolderId(), newVal, name_, path_);
}

STDMETHODIMP CZAVTFolder::get_Path(BSTR* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    return path_.CopyTo(pVal);
}

STDMETHODIMP CZAVTFolder::get_Storage(IZAVTStorage** pVal)
{
    return ZavtGetStorage<CZAVTFolder>(type_, deviceIndex_, pVal);
}

STDMETHODIMP CZAVTFolder::get_ParentFolder(IZAVTFolder** pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = nullptr;
    HRESULT hr = S_OK;
    if (!ZavtReadyContext<CZAVTFolder>(&hr))
        return hr;
    if (root_ || !parent_)
        return S_FALSE;
    hr = parent_->QueryInterface(IID_IZAVTFolder, reinterpret_cast<void**>(pVal));
    if (FAILED(hr)) {
        *pVal = nullptr;
        return Error(IDS_ERR_ROOT_FOLDER, hr);
    }
    return S_OK;
}

STDMETHODIMP CZAVTFolder::get_IsRootFolder(long* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = root_;
    return S_OK;
}

namespace {

// One listing: the folder's subfolders or its files, each bound as a child of `parent`.
template <class Collection, class CollItf, class Child, class ChildItf>
HRESULT ListChildren(CZAVTFolder* self, DeviceContext& context, bool folders, std::uint32_t storage,
                     const std::wstring& path, ZAVTStorageType type, long deviceIndex, IZAVTFolder* parent,
                     Collection* collection, const IID& childIid)
{
    (void)self;
    const bool wide = context.UsesFolderObjects();
    engine::DirRecord record{};
    for (std::int32_t s = storage == 0 ? context.FindFirstInternal(&record) : context.FindFirstExternal(&record);
         s == 0; s = storage == 0 ? context.FindNextInternal(&record) : context.FindNextExternal(&record)) {
        const std::uint8_t a = record.attributes;
        const std::wstring name = ZavtRecordName(record, wide);
        bool take = false;
        if (folders)
            take = a == FILE_ATTRIBUTE_DIRECTORY && !(wide && !name.empty() && name[0] == L'.');
        else if (storage == 0)
            take = (a & 0x80) || (a & FILE_ATTRIBUTE_ARCHIVE);
        else
            take = !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) ||
                   (a & FILE_ATTRIBUTE_ARCHIVE);
        if (take && !name.empty()) {
            const std::wstring childPath = path + (path == L"\\" ? L"" : L"\\") + name;
            CComObject<Child>* child = nullptr;
            CComPtr<ChildItf> held;
            HRESULT hr = ZavtNewObject(&child, held, childIid);
            if (FAILED(hr))
                return hr;
            if constexpr (std::is_same_v<Child, CZAVTFolder>) {
                hr = child->Init(name.c_str(), childPath.c_str(), 0, record, type, deviceIndex, parent);
            } else {
                const std::uint8_t header[64] = {};
                hr = child->Init(name.c_str(), childPath.c_str(), record, header, type, deviceIndex, parent);
            }
            if (SUCCEEDED(hr))
                hr = collection->Add(held);
            if (FAILED(hr))
                return hr;
        }
        std::memset(&record, 0, sizeof record);
    }
    return S_OK;
}

}  // namespace

template <class Collection, class CollItf, class Child, class ChildItf>
HRESULT CZAVTFolder::Listing(bool folders, CollItf** out, const IID& collectionIid, const IID& childIid)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTFolder>(&hr);
    if (!context)
        return hr;
    CComObject<Collection>* collection = nullptr;
    CComPtr<CollItf> held;
    hr = ZavtNewObject(&collection, held, collectionIid);
    if (FAILED(hr))
        return Error(IDS_ERR_FILE_OBJECT, hr);
    const bool supportsFolders = context->SupportsFolders(Storage());
    if (supportsFolders && !ZavtSelectFolder(*context, Storage(), FolderId()))
        return Error(IDS_ERR_FILE_OBJECT, E_FAIL);
    if (supportsFolders || !folders) {
        CComPtr<IZAVTFolder> self(static_cast<IZAVTFolder*>(this));
        hr = ListChildren<Collection, CollItf, Child, ChildItf>(this, *context, folders, Storage(),
                                                                path_.get() ? path_.get() : L"", type_, deviceIndex_,
                                                                self, collection, childIid);
        if (FAILED(hr))
            return Error(IDS_ERR_FILE_OBJECT, hr);
    }
    *out = held.Detach();
    return S_OK;
}

STDMETHODIMP CZAVTFolder::get_SubFolders(IZAVTFolderCollection** pVal)
{
    return Listing<CZAVTFolderCollection, IZAVTFolderCollection, CZAVTFolder, IZAVTFolder>(
        true, pVal, IID_IZAVTFolderCollection, IID_IZAVTFolder);
}

STDMETHODIMP CZAVTFolder::get_Files(IZAVTFileCollection** pVal)
{
    return Listing<CZAVTFileCollection, IZAVTFileCollection, CZAVTFile, IZAVTFile>(false, pVal, IID_IZAVTFileCollection,
                                                                                   IID_IZAVTFile);
}

STDMETHODIMP CZAVTFolder::get_Size(long* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = 0;
    return S_OK;
}
STDMETHODIMP CZAVTFolder::get_Attributes(ZAVTFileAttribute* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = Directory;
    return S_OK;
}
STDMETHODIMP CZAVTFolder::put_Attributes(ZAVTFileAttribute)
{
    return S_OK;
}

STDMETHODIMP CZAVTFolder::get_DateLastModified(DATE* pVal)
{
    return ZavtGetRecordDate<CZAVTFolder>(record_, false, pVal);
}
STDMETHODIMP CZAVTFolder::get_DateCreated(DATE* pVal)
{
    return ZavtGetRecordDate<CZAVTFolder>(record_, true, pVal);
}

STDMETHODIMP CZAVTFolder::get_SupportsFolders(long* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = 0;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTFolder>(&hr);
    if (!context)
        return hr;
    *pVal = context->SupportsFolders(Storage()) ? 1 : 0;
    return S_OK;
}

STDMETHODIMP CZAVTFolder::Delete()
{
    // A root is no entry: id 0 would name another one (on the flat store the system dump).
    if (root_)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTFolder>(&hr);
    if (!context)
        return hr;
    FireEvent([](CZAVTControl& control) { control.FireDeleteFileStart(nullptr); });
    engine::EngineStatus code = engine::kStatusOk;
    if (!context->UsesFolderObjects()) {
        code = context->DeleteFolder(Storage(), FolderId());
    } else {
        if (parent_) {
            long parentId = 0;
            if (FAILED(parent_->get_FileSystemID(&parentId)) ||
                context->SelectFolder(Storage(), static_cast<std::uint32_t>(parentId)) != engine::kStatusOk)
                return Error(IDS_ERR_FOLDER);
        }
        code = context->DeleteFile(Storage(), FolderId());
    }
    FireEvent([](CZAVTControl& control) { control.FireDeleteFileEnd(nullptr); });
    return ZavtStatusResult<CZAVTFolder>(code);
}

STDMETHODIMP CZAVTFolder::get_PlayIndex(long* pVal)
{
    return ZavtGetPlayIndex<CZAVTFolder>(Storage(), Parent(), FolderId(), pVal);
}

STDMETHODIMP CZAVTFolder::put_PlayIndex(long newVal)
{
    return ZavtPutPlayIndex<CZAVTFolder>(Storage(), Parent(), FolderId(), newVal);
}

STDMETHODIMP CZAVTFolder::CreateSubfolder(BSTR SubfolderName)
{
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTFolder>(&hr);
    if (!context)
        return hr;
    if (!ZavtIsEntryName(SubfolderName))
        return ZavtFail<CZAVTFolder>(E_INVALIDARG);
    const int model = static_cast<int>(context->GetModel());
    if (((model == 2 || model == 8) && !root_) || !context->SupportsFolders(Storage()))
        return Error(IDS_ERR_FOLDER);
    if (!ZavtSelectFolder(*context, Storage(), FolderId()))
        return Error(IDS_ERR_FOLDER);
    // The store would make a second entry of a name the folder holds.
    engine::DirRecord existing;
    if (context->ResolvePath(Storage(), SubfolderName, &existing) == 0)
        return Error(IDS_ERR_NAME_EXISTS);
    std::uint32_t id = 0;
    const engine::EngineStatus code = context->CreateFolder(Storage(), SubfolderName, &id);
    return ZavtStatusResult<CZAVTFolder>(code);
}

STDMETHODIMP CZAVTFolder::Download(BSTR srcPath)
{
    if (type_ != ZAVTST_INT && type_ != ZAVTST_EXT)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTFolder>(&hr);
    if (!context)
        return hr;
    if (!srcPath || SysStringLen(srcPath) >= MAX_PATH)
        return ZavtFail<CZAVTFolder>(E_INVALIDARG);
    DWORD low = 0, high = 0;
    if (!UtilGetFileSize(srcPath, &low, &high))
        return Error(IDS_ERR_FILE_NOT_FOUND, E_FAIL);
    const unsigned long long size = (static_cast<unsigned long long>(high) << 32) | low;
    if (!ZavtFits(*context, Storage(), size, true))
        return Error(IDS_ERR_STORAGE_FULL);
    const wchar_t* fileName = NamePart(srcPath);
    if (!fileName || !engine::IsEntryName(fileName, std::wcslen(fileName)))
        return ZavtFail<CZAVTFolder>(E_INVALIDARG);
    if (context->SupportsFolders(Storage()) && !ZavtSelectFolder(*context, Storage(), FolderId()))
        return Error(IDS_ERR_FOLDER);

    // A failed look-up is no answer: downloading then could give the folder a second entry of the name.
    engine::DirRecord existing;
    const int found = context->LookUp(Storage(), fileName, &existing);
    if (found != 0 && found != -1)
        return Error(IDS_ERR_FOLDER);
    if (found == 0 && (existing.attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Error(IDS_ERR_NAME_EXISTS);

    ZavtFireDownloadStart();
    engine::EngineStatus code = engine::kStatusOk;
    if (found == 0)
        code = context->DeleteFile(Storage(), existing.firstCluster);
    if (code == engine::kStatusOk)
        code = context->DownloadFile(Storage(), srcPath);
    ZavtFireDownloadEnd();
    return ZavtStatusResult<CZAVTFolder>(code);
}

STDMETHODIMP CZAVTFolder::get_FileSystemID(long* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = static_cast<long>(FolderId());
    return S_OK;
}

HRESULT CZAVTFolder::IsAtOrBelow(std::uint32_t id, bool* below)
{
    *below = false;
    if (!root_ && FolderId() == id) {
        *below = true;
        return S_OK;
    }
    CComPtr<IZAVTFolder> folder = parent_;
    for (int depth = 0; folder; ++depth) {
        if (depth >= kMaxFolderDepth) {
            *below = true;
            return S_OK;
        }
        long root = 0, folderId = 0;
        HRESULT hr = folder->get_IsRootFolder(&root);
        if (FAILED(hr))
            return hr;
        if (root)
            return S_OK;
        hr = folder->get_FileSystemID(&folderId);
        if (FAILED(hr))
            return hr;
        if (static_cast<std::uint32_t>(folderId) == id) {
            *below = true;
            return S_OK;
        }
        CComPtr<IZAVTFolder> next;
        hr = folder->get_ParentFolder(&next);
        if (FAILED(hr))
            return hr;
        folder = next;
    }
    return S_OK;
}

// Checks shared by both moves: the moved entry has a parent folder on this folder's storage.
HRESULT CZAVTFolder::MoveInside(IDispatch*, IZAVTFolder* sourceParent, IZAVTStorage* sourceStorage, const wchar_t* name,
                                std::uint32_t movedId, bool isFolder)
{
    ZAVTStorageType type = ZAVTST_VOID;
    long device = -1;
    HRESULT hr = sourceStorage->get_Type(&type);
    if (SUCCEEDED(hr))
        hr = sourceStorage->get_ParentDeviceID(&device);
    if (FAILED(hr))
        return hr;
    const ZAVTStorageType own = type_ == ZAVTST_INT ? ZAVTST_INT : ZAVTST_EXT;
    if (type != own || device != deviceIndex_)
        return E_INVALIDARG;
    if (isFolder) {
        bool below = false;
        hr = IsAtOrBelow(movedId, &below);
        if (FAILED(hr))
            return hr;
        if (below)
            return E_INVALIDARG;
    }
    hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTFolder>(&hr);
    if (!context)
        return hr;
    if (context->SupportsFolders(Storage()) && !ZavtSelectFolder(*context, Storage(), FolderId()))
        return Error(IDS_ERR_FOLDER);
    engine::DirRecord record;
    if (context->ResolvePath(Storage(), name, &record) == 0)
        return Error(IDS_ERR_NAME_EXISTS);
    long parentId = 0, parentRoot = 0;
    hr = sourceParent->get_FileSystemID(&parentId);
    if (SUCCEEDED(hr))
        hr = sourceParent->get_IsRootFolder(&parentRoot);
    if (FAILED(hr))
        return hr;
    const engine::EngineStatus code =
        context->MoveEntryInside(Storage(), movedId, static_cast<std::uint32_t>(parentId), parentRoot ? 1 : 0);
    return ZavtStatusResult<CZAVTFolder>(code);
}

STDMETHODIMP CZAVTFolder::MoveFolderInside(IZAVTFolder* pVal)
{
    MoveSource source;
    const HRESULT hr = ReadMoveSource(pVal, &source);
    if (hr != S_OK)
        return hr;
    return MoveInside(pVal, source.parent, source.storage, source.name.get() ? source.name.get() : L"",
                      static_cast<std::uint32_t>(source.id), true);
}

STDMETHODIMP CZAVTFolder::MoveFileInside(IZAVTFile* pVal)
{
    MoveSource source;
    const HRESULT hr = ReadMoveSource(pVal, &source);
    if (hr != S_OK)
        return hr;
    return MoveInside(pVal, source.parent, source.storage, source.name.get() ? source.name.get() : L"",
                      static_cast<std::uint32_t>(source.id), false);
}

STDMETHODIMP CZAVTFolder::CreateNewFile(BSTR FileName, IZAVTFile** pNewFile)
{
    if (!pNewFile)
        return E_INVALIDARG;
    *pNewFile = nullptr;
    if (!ZavtIsEntryName(FileName))
        return ZavtFail<CZAVTFolder>(E_INVALIDARG);
    CComObject<CZAVTFile>* file = nullptr;
    CComPtr<IZAVTFile> held;
    HRESULT hr = ZavtNewObject(&file, held, IID_IZAVTFile);
    if (FAILED(hr))
        return Error(IDS_ERR_FILE_OBJECT, hr);
    const std::wstring base(path_.get() ? path_.get() : L"");
    const std::wstring path = base + (root_ ? L"" : L"\\") + FileName;
    CComPtr<IZAVTFolder> self(static_cast<IZAVTFolder*>(this));
    const engine::DirRecord none{};
    const std::uint8_t header[64] = {};
    hr = file->Init(FileName, path.c_str(), none, header, type_, deviceIndex_, self);
    if (FAILED(hr))
        return Error(IDS_ERR_FILE_OBJECT, hr);
    *pNewFile = held.Detach();
    return S_OK;
}
