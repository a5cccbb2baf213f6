// What the COM objects share over the device context: the context of a call that needs a ready player,
// a download by path into the storage's current folder, and what the folder and file objects do alike
// to the entry they stand for (its folder made current, rename, play index, dates, storage object).
#pragma once

#include "device/api/device_context.h"
#include "device/api/zavt_common.h"
#include "device/fs/entry_name.h"
#include "platform/win/file_util.h"
#include "resources/zavtctrl_resource.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>

// The context of a call that needs a ready player: null (and *hr the error 769 through T's error
// information) when there is none, its refresh fails or the player is not ready.
template <class T>
std::shared_ptr<DeviceContext> ZavtReadyContext(HRESULT* hr)
{
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context || FAILED(context->Refresh()) || !context->IsReady()) {
        *hr = T::Error(IDS_ERR_NO_DEVICE);
        return nullptr;
    }
    *hr = S_OK;
    return context;
}

// An engine result as a call's result: S_OK, or the error of the code's message through T's error
// information, with the message's own HRESULT or, when given, `failure`.
template <class T>
HRESULT ZavtStatusResult(engine::EngineStatus status, HRESULT failure = 0)
{
    return status == engine::kStatusOk ? S_OK : T::Error(ErrorCodeToMessageId(status), failure);
}

// Asks the running operation of the current context to stop; error 769 (through T's error information)
// when there is no context.
template <class T>
HRESULT ZavtCancelOperation()
{
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context)
        return T::Error(IDS_ERR_NO_DEVICE);
    context->CancelOperation();
    return S_OK;
}

// Whether `size` bytes fit the free bytes of storage 0 (internal memory) or the card, read after a
// refresh of the context when asked; false when that refresh fails.
bool ZavtFits(DeviceContext& context, std::uint32_t storage, unsigned long long size, bool refresh);

enum class ZavtDownloadResult { kDone, kFailed, kNameIsFolder, kBadName, kNameIsFile };

// Makes the folder a download by path goes into current, from its destination path: the names of the
// path's folder part or, when it has none, its last component as the one folder, each looked up
// (without regard to case) and made when absent. A leading separator starts at the root, and so does a
// destination that names no folder ("" or "\"); otherwise the first name is looked up in the current
// folder. A store without folders selects nothing. kBadName for a name no entry may carry or a path
// past the platform's limit, kNameIsFile when a file holds a folder's name, kFailed when a folder
// cannot be made or selected; kDone once the target is current.
// *status is the failing engine call's code (kStatusFolderError for a name of the other kind).
ZavtDownloadResult ZavtSelectDestination(DeviceContext& context, std::uint32_t storage, BSTR dstPath,
                                         engine::EngineStatus* status);

// Downloads a PC file into the storage's current folder under the given name, replacing a file of that
// name (a folder of that name is never taken for it), with the control's DownloadFile events around it.
// A failed look-up fails the download: downloading then could give the folder a second entry of the name.
// *status is the failing engine call's code.
ZavtDownloadResult ZavtDownloadReplacing(DeviceContext& context, std::uint32_t storage, const wchar_t* fileName,
                                         const wchar_t* srcPath, engine::EngineStatus* status);

// A download step's result as a call's result, through T's error information: S_OK; E_INVALIDARG for
// a bad name; error 789 (name exists) with E_FAIL when an entry of the other kind holds the name; E_FAIL
// with the message of the failing engine call's code for any other failure.
template <class T>
HRESULT ZavtDownloadStepResult(ZavtDownloadResult result, engine::EngineStatus status)
{
    switch (result) {
    case ZavtDownloadResult::kDone:
        return S_OK;
    case ZavtDownloadResult::kBadName:
        return ZavtFail<T>(E_INVALIDARG);
    case ZavtDownloadResult::kNameIsFolder:
    case ZavtDownloadResult::kNameIsFile:
        return T::Error(IDS_ERR_NAME_EXISTS, E_FAIL);
    default:
        return T::Error(ErrorCodeToMessageId(status), E_FAIL);
    }
}

// ZavtDownloadReplacing as a call's result (ZavtDownloadStepResult).
template <class T>
HRESULT ZavtDownloadReplacingResult(DeviceContext& context, std::uint32_t storage, const wchar_t* fileName,
                                    const wchar_t* srcPath)
{
    engine::EngineStatus status = engine::kStatusOk;
    return ZavtDownloadStepResult<T>(ZavtDownloadReplacing(context, storage, fileName, srcPath, &status), status);
}

// A download by path (the device's and the storage's): the size checked against the storage's free
// bytes, the destination made current, then the file downloaded there as ZavtDownloadReplacing does.
// E_FAIL when the source's size cannot be read, E_OUTOFMEMORY when it does not fit, else as
// ZavtDownloadStepResult; every failure described through T's error information.
template <class T>
HRESULT ZavtDownloadByPath(DeviceContext& context, std::uint32_t storage, BSTR srcPath, BSTR dstPath)
{
    if (!srcPath || SysStringLen(srcPath) >= MAX_PATH)
        return ZavtFail<T>(E_INVALIDARG);
    DWORD low = 0, high = 0;
    if (!UtilGetFileSize(srcPath, &low, &high))
        return T::Error(IDS_ERR_FILE_NOT_FOUND, E_FAIL);
    if (!ZavtFits(context, storage, (static_cast<unsigned long long>(high) << 32) | low, true))
        return T::Error(IDS_ERR_STORAGE_FULL, E_OUTOFMEMORY);
    const wchar_t* fileName = NamePart(srcPath);
    if (!fileName || !engine::IsEntryName(fileName, std::wcslen(fileName)))
        return ZavtFail<T>(E_INVALIDARG);
    engine::EngineStatus status = engine::kStatusOk;
    ZavtDownloadResult result = ZavtSelectDestination(context, storage, dstPath, &status);
    if (result == ZavtDownloadResult::kDone)
        result = ZavtDownloadReplacing(context, storage, fileName, srcPath, &status);
    return ZavtDownloadStepResult<T>(result, status);
}

// ---- entries: what the folder and file objects do alike ----

// The record's name, bounded by its area: UTF-16 on the folder-object models, ANSI elsewhere.
std::wstring ZavtRecordName(const engine::DirRecord& record, bool wide);

// The record's write (or creation) date at 00:00:00; 0 for a zero or impossible date, which the
// system conversion would carry into another month.
DATE ZavtRecordDate(const engine::DirRecord& record, bool created);

// Makes folder `id` (0 the root) the storage's current folder, unless it is already.
bool ZavtSelectFolder(DeviceContext& context, std::uint32_t storage, std::uint32_t id);

// Makes an entry's folder current on the folder-object models (the other stores work in their current
// folder; an entry without a folder, a root, needs none): S_OK; E_FAIL when the folder's id cannot be
// read; error 779 through T's error information when the folder cannot be made current.
template <class T>
HRESULT ZavtSelectParent(DeviceContext& context, std::uint32_t storage, IZAVTFolder* parent)
{
    if (!context.UsesFolderObjects() || !parent)
        return S_OK;
    long parentId = 0;
    if (FAILED(parent->get_FileSystemID(&parentId)))
        return E_FAIL;
    if (!ZavtSelectFolder(context, storage, static_cast<std::uint32_t>(parentId)))
        return T::Error(IDS_ERR_FOLDER);
    return S_OK;
}

// The context of a call on an entry, with the entry's folder made current: null, with *hr the error of
// ZavtReadyContext or ZavtSelectParent, when either fails.
template <class T>
std::shared_ptr<DeviceContext> ZavtEntryContext(std::uint32_t storage, IZAVTFolder* parent, HRESULT* hr)
{
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<T>(hr);
    if (!context)
        return nullptr;
    *hr = ZavtSelectParent<T>(*context, storage, parent);
    return FAILED(*hr) ? nullptr : context;
}

// Renames entry `id` of the storage (0 names no entry, and a root has none) in its folder, and keeps
// the object's name and path true. The same name is no change; the store's codes come back as their
// messages through T's error information (a name the folder holds already: 789).
template <class T>
HRESULT ZavtRenameEntry(ZAVTStorageType type, IZAVTFolder* parent, std::uint32_t id, BSTR newName, CComBSTR& name,
                        CComBSTR& path)
{
    const UINT length = SysStringLen(newName);
    if (length == name.Length() && (length == 0 || std::wmemcmp(newName, name.get(), length) == 0))
        return S_OK;
    if (type != ZAVTST_INT && type != ZAVTST_EXT)
        return E_INVALIDARG;
    if (id == 0 || !ZavtIsEntryName(newName))
        return ZavtFail<T>(E_INVALIDARG);
    const std::uint32_t storage = type == ZAVTST_EXT ? 1 : 0;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtEntryContext<T>(storage, parent, &hr);
    if (!context)
        return hr;
    hr = ZavtStatusResult<T>(context->RenameEntry(storage, id, newName));
    if (FAILED(hr))
        return hr;
    CComBSTR renamed(newName), renamedPath(ZavtRenamedPath(path.get(), newName).c_str());
    if (!renamed.get() || !renamedPath.get())
        return E_OUTOFMEMORY;
    name = std::move(renamed);
    path = std::move(renamedPath);
    return S_OK;
}

// Entry `id`'s place in its folder's play order (0 names no entry): *out -1 until it is known; error
// 779 through T's error information when the store has no place for it.
template <class T>
HRESULT ZavtGetPlayIndex(std::uint32_t storage, IZAVTFolder* parent, std::uint32_t id, long* out)
{
    if (!out)
        return E_INVALIDARG;
    *out = -1;
    if (id == 0)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtEntryContext<T>(storage, parent, &hr);
    if (!context)
        return hr;
    const std::int32_t index = context->GetPlayIndex(storage, id);
    if (index == -1)
        return T::Error(IDS_ERR_FOLDER);
    *out = index;
    return S_OK;
}

template <class T>
HRESULT ZavtPutPlayIndex(std::uint32_t storage, IZAVTFolder* parent, std::uint32_t id, long index)
{
    if (id == 0)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtEntryContext<T>(storage, parent, &hr);
    if (!context)
        return hr;
    if (context->SetPlayIndex(storage, id, static_cast<std::uint32_t>(index)) != 0)
        return T::Error(IDS_ERR_FOLDER);
    return S_OK;
}

// A date getter of an entry: E_INVALIDARG for a null out; error 769 through T's error information
// without a context; else S_OK with the record's date (0 for none).
template <class T>
HRESULT ZavtGetRecordDate(const engine::DirRecord& record, bool created, DATE* out)
{
    if (!out)
        return E_INVALIDARG;
    *out = 0;
    if (!DeviceContext::Current())
        return T::Error(IDS_ERR_NO_DEVICE);
    *out = ZavtRecordDate(record, created);
    return S_OK;
}

// A new storage object bound to the storage: S_OK; E_FAIL when the player is not ready or the storage
// is not there; else the failing creation's result.
HRESULT ZavtNewStorage(DeviceContext& context, ZAVTStorageType type, long deviceIndex, IZAVTStorage** out);

// The Storage getter of an entry: error 769 through T's error information without a context, 770 when
// the storage object cannot be had.
template <class T>
HRESULT ZavtGetStorage(ZAVTStorageType type, long deviceIndex, IZAVTStorage** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context)
        return T::Error(IDS_ERR_NO_DEVICE);
    const HRESULT hr = ZavtNewStorage(*context, type, deviceIndex, out);
    return FAILED(hr) ? T::Error(IDS_ERR_STORAGE_INIT, hr) : S_OK;
}
