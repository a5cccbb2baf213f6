// The file object of ZAVTCTRL.
#include "device/api/zavt_file.h"

#include "device/api/device_context.h"
#include "device/api/zavt_context.h"
#include "device/api/zavt_control.h"
#include "device/fs/engine_status.h"
#include "platform/win/file_util.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace {

// A name from the player that may become the last component of a PC path: it names a file in the
// folder the client chose, never one above or beside it, whatever a damaged or hostile card holds.
bool IsSafePcName(const std::wstring& name)
{
    return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos && name.find(L"..") == std::wstring::npos;
}

// A whole PC path from a client: not empty, no terminator inside, within the platform's limit.
bool IsPcPath(const std::wstring& path)
{
    return !path.empty() && path.size() < MAX_PATH && path.find(L'\0') == std::wstring::npos;
}

std::wstring BstrText(BSTR text)
{
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

// The caller's buffer: the interface carries it as a number.
std::uint8_t* BufferAt(ZavtUAddress address)
{
    return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address));
}

}  // namespace

HRESULT CZAVTFile::Init(const wchar_t* name, const wchar_t* path, const engine::DirRecord& record,
                        const std::uint8_t* header, ZAVTStorageType type, long deviceIndex, IZAVTFolder* parent)
{
    CComBSTR newName(name), newPath(path);
    if ((name && !newName.get()) || (path && !newPath.get()))
        return E_OUTOFMEMORY;
    name_ = std::move(newName);
    path_ = std::move(newPath);
    record_ = record;
    if (header)
        std::memcpy(header_, header, sizeof header_);
    else
        std::memset(header_, 0, sizeof header_);
    type_ = type;
    deviceIndex_ = deviceIndex;
    parent_ = parent;
    return S_OK;
}

void CZAVTFile::FinalRelease()
{
    if (mode_ != fmRead && mode_ != fmWrite)
        return;
    std::shared_ptr<DeviceContext> context = streamContext_.lock();
    if (context && context->OwnsStream(Storage(), this)) {
        context->CloseStream(Storage());
        context->ReleaseStream(Storage(), this);
        // The object is going: the end event carries no file.
        Fire(mode_ == fmRead ? &CZAVTControl::FireUploadFileEnd : &CZAVTControl::FireDownloadFileEnd,
             kZavtOperationNone, false);
    }
    mode_ = fmNormal;
}

void CZAVTFile::Fire(HRESULT (CZAVTControl::*event)(IZAVTFile*), long kind, bool withFile)
{
    CComPtr<IZAVTFile> self;
    if (withFile)
        self = static_cast<IZAVTFile*>(this);
    ZavtWithCurrentControl([&](CZAVTControl& control) {
        (control.*event)(self);
        control.SetOperationKind(kind);
    });
}

STDMETHODIMP CZAVTFile::get_Name(BSTR* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    return name_.CopyTo(pVal);
}

STDMETHODIMP CZAVTFile::put_Name(BSTR newVal)
{
    return ZavtRenameEntry<CZAVTFile>(type_, parent_, Id(), newVal, name_, path_);
}

STDMETHODIMP CZAVTFile::get_Path(BSTR* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    return path_.CopyTo(pVal);
}

STDMETHODIMP CZAVTFile::get_Storage(IZAVTStorage** pVal)
{
    return ZavtGetStorage<CZAVTFile>(type_, deviceIndex_, pVal);
}

STDMETHODIMP CZAVTFile::get_ParentFolder(IZAVTFolder** pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = nullptr;
    HRESULT hr = S_OK;
    if (!ZavtReadyContext<CZAVTFile>(&hr))
        return hr;
    if (!parent_)
        return S_FALSE;
    hr = parent_->QueryInterface(IID_IZAVTFolder, reinterpret_cast<void**>(pVal));
    if (FAILED(hr)) {
        *pVal = nullptr;
        return Error(IDS_ERR_ROOT_FOLDER, hr);
    }
    return S_OK;
}

STDMETHODIMP CZAVTFile::get_Attributes(ZAVTFileAttribute* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = static_cast<ZAVTFileAttribute>(record_.attributes);
    return S_OK;
}

STDMETHODIMP CZAVTFile::put_Attributes(ZAVTFileAttribute)
{
    return E_NOTIMPL;
}

STDMETHODIMP CZAVTFile::get_DateLastModified(DATE* pVal)
{
    return ZavtGetRecordDate<CZAVTFile>(record_, false, pVal);
}

STDMETHODIMP CZAVTFile::get_DateCreated(DATE* pVal)
{
    return ZavtGetRecordDate<CZAVTFile>(record_, true, pVal);
}

STDMETHODIMP CZAVTFile::get_Size(long* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = static_cast<long>(record_.size);
    return S_OK;
}

STDMETHODIMP CZAVTFile::get_FileSystemID(long* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = static_cast<long>(Id());
    return S_OK;
}

STDMETHODIMP CZAVTFile::Delete()
{
    // Id 0 names no entry of this file: the store would act on whichever entry has it.
    if (!Bound() || Id() == 0)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtEntryContext<CZAVTFile>(Storage(), parent_, &hr);
    if (!context)
        return hr;
    Fire(&CZAVTControl::FireDeleteFileStart, kZavtOperationDelete);
    const engine::EngineStatus code = context->DeleteFile(Storage(), Id());
    Fire(&CZAVTControl::FireDeleteFileEnd, kZavtOperationNone);
    return ZavtStatusResult<CZAVTFile>(code);
}

STDMETHODIMP CZAVTFile::Upload(BSTR dstPath)
{
    if (!dstPath)
        return E_INVALIDARG;
    return CopyToPc(dstPath, true);
}

STDMETHODIMP CZAVTFile::UploadTo(BSTR dstFullPath)
{
    return CopyToPc(dstFullPath, false);
}

HRESULT CZAVTFile::CopyToPc(BSTR path, bool intoFolder)
{
    if (!Bound() || Id() == 0)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTFile>(&hr);
    if (!context)
        return hr;
    std::wstring target = BstrText(path);
    if (intoFolder) {
        // The PC file bears the record's name, also after a rename through Name.
        const std::wstring name = ZavtRecordName(record_, context->UsesFolderObjects());
        if (!IsSafePcName(name))
            return Error(IDS_ERR_FILE_NOT_FOUND, HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
        target += L"\\" + name;
    }
    // A path the platform cannot name is one the engine could not open; one that names a device is no
    // file at all.
    if (!IsPcPath(target))
        return Error(IDS_ERR_FILE_NOT_FOUND);
    if (UtilPathNamesDevice(target.c_str()))
        return Error(IDS_ERR_FILE_NOT_FOUND, HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
    // The parent is made current before UploadFileStart, so a failed selection leaves no start without
    // its end and no operation kind behind.
    hr = ZavtSelectParent<CZAVTFile>(*context, Storage(), parent_);
    if (FAILED(hr))
        return hr;
    Fire(&CZAVTControl::FireUploadFileStart, kZavtOperationUpload);
    const engine::EngineStatus code = context->UploadFile(Storage(), Id(), target.c_str());
    Fire(&CZAVTControl::FireUploadFileEnd, kZavtOperationNone);
    return ZavtStatusResult<CZAVTFile>(code);
}

STDMETHODIMP CZAVTFile::get_PlayIndex(long* pVal)
{
    return ZavtGetPlayIndex<CZAVTFile>(Storage(), parent_, Bound() ? Id() : 0, pVal);
}

STDMETHODIMP CZAVTFile::put_PlayIndex(long newVal)
{
    return ZavtPutPlayIndex<CZAVTFile>(Storage(), parent_, Bound() ? Id() : 0, newVal);
}

HRESULT CZAVTFile::AudioField(long* pVal, std::size_t offset, std::size_t bytes)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = 0;
    if (!headerRead_) {
        std::shared_ptr<DeviceContext> context = DeviceContext::Current();
        if (!context)
            return Error(IDS_ERR_NO_DEVICE);
        // Asked once per object, answered or not; a file without an entry has no header to ask for.
        std::memset(header_, 0, sizeof header_);
        if (Bound() && Id() != 0 && context->QueryFileHeader(Storage(), Id(), header_) != engine::kStatusOk)
            std::memset(header_, 0, sizeof header_);
        headerRead_ = true;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        value |= static_cast<std::uint32_t>(header_[offset + i]) << (8 * i);
    *pVal = static_cast<long>(value);
    return S_OK;
}

STDMETHODIMP CZAVTFile::get_Channels(long* pVal)
{
    return AudioField(pVal, 0, 2);
}

STDMETHODIMP CZAVTFile::get_SampleRate(long* pVal)
{
    return AudioField(pVal, 2, 4);
}

STDMETHODIMP CZAVTFile::get_Bitrate(long* pVal)
{
    return AudioField(pVal, 6, 4);
}

// ---- streams ----

STDMETHODIMP CZAVTFile::OpenFile(ZAVTFileMode fmMode)
{
    if (!Bound())
        return E_INVALIDARG;
    if (fmMode == fmAppend)
        return E_NOTIMPL;
    if (fmMode != fmRead && fmMode != fmWrite)
        return E_INVALIDARG;
    // A file not yet written has nothing to read (id 0 would open another entry).
    if (fmMode == fmRead && Id() == 0)
        return E_INVALIDARG;
    // This object's stream is open already.
    if (mode_ != fmNormal)
        return E_ACCESSDENIED;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTFile>(&hr);
    if (!context)
        return hr;
    // The store keeps one stream per storage: a second open would take over the first one's.
    if (!context->ClaimStream(Storage(), this))
        return E_ACCESSDENIED;
    hr = ZavtSelectParent<CZAVTFile>(*context, Storage(), parent_);
    if (SUCCEEDED(hr) && fmMode == fmWrite) {
        // The store would make a second entry of a name the folder holds.
        engine::DirRecord existing;
        const int found = context->LookUp(Storage(), name_.get() ? name_.get() : L"", &existing);
        if (found == 0)
            hr = Error(IDS_ERR_NAME_EXISTS);
        else if (found != -1)
            hr = Error(ErrorCodeToMessageId(static_cast<std::uint32_t>(found)));
    }
    if (FAILED(hr)) {
        context->ReleaseStream(Storage(), this);
        return hr;
    }
    engine::EngineStatus code = engine::kStatusOk;
    if (fmMode == fmRead) {
        Fire(&CZAVTControl::FireUploadFileStart, kZavtOperationUpload);
        code = context->OpenStreamRead(Storage(), Id());
    } else {
        Fire(&CZAVTControl::FireDownloadFileStart, kZavtOperationDownload);
        code = context->OpenStreamWrite(Storage(), name_.get());
    }
    // Open even when the store failed: CloseFile ends what was started.
    mode_ = fmMode;
    streamContext_ = context;
    return ZavtStatusResult<CZAVTFile>(code);
}

HRESULT CZAVTFile::StreamContext(ZAVTFileMode mode, std::shared_ptr<DeviceContext>* context)
{
    *context = DeviceContext::Current();
    if (!*context)
        return Error(IDS_ERR_NO_DEVICE);
    if (!Bound())
        return E_INVALIDARG;
    const bool open = mode_ == fmRead || mode_ == fmWrite;
    if (!open || (mode != fmNormal && mode_ != mode))
        return E_INVALIDARG;
    // The stream lives in the context it was opened in, and only while this object holds its claim.
    if (streamContext_.lock() != *context || !(*context)->OwnsStream(Storage(), this))
        return E_INVALIDARG;
    return S_OK;
}

STDMETHODIMP CZAVTFile::CloseFile()
{
    std::shared_ptr<DeviceContext> context;
    const HRESULT hr = StreamContext(fmNormal, &context);
    if (FAILED(hr)) {
        // The stream went with the context it was opened in: nothing is left to close.
        if (context && mode_ != fmNormal && streamContext_.lock() != context) {
            mode_ = fmNormal;
            streamContext_.reset();
        }
        return hr;
    }
    const engine::EngineStatus code = context->CloseStream(Storage());
    context->ReleaseStream(Storage(), this);
    Fire(mode_ == fmRead ? &CZAVTControl::FireUploadFileEnd : &CZAVTControl::FireDownloadFileEnd, kZavtOperationNone);
    mode_ = fmNormal;
    streamContext_.reset();
    return ZavtStatusResult<CZAVTFile>(code);
}

STDMETHODIMP CZAVTFile::Write(ZavtUAddress lpData, ULONG dwSize)
{
    if (FAILED(ZavtCheckAddress(lpData)))
        return E_INVALIDARG;
    std::shared_ptr<DeviceContext> context;
    const HRESULT hr = StreamContext(fmWrite, &context);
    if (FAILED(hr))
        return hr;
    const engine::EngineStatus code = context->WriteStream(Storage(), BufferAt(lpData), dwSize);
    return ZavtStatusResult<CZAVTFile>(code);
}

STDMETHODIMP CZAVTFile::Read(ZavtUAddress lpData, ULONG dwSize, ULONG* pdwSizeRead)
{
    if (pdwSizeRead)
        *pdwSizeRead = 0;
    if (FAILED(ZavtCheckAddress(lpData)) || !pdwSizeRead)
        return E_INVALIDARG;
    std::shared_ptr<DeviceContext> context;
    const HRESULT hr = StreamContext(fmRead, &context);
    if (FAILED(hr))
        return hr;
    std::uint32_t count = 0;
    const engine::EngineStatus code = context->ReadStream(Storage(), BufferAt(lpData), dwSize, &count);
    *pdwSizeRead = count;
    return ZavtStatusResult<CZAVTFile>(code);
}
