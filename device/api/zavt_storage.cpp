// The storage object of ZAVTCTRL: internal memory or the card of one device.
#include "device/api/zavt_storage.h"

#include "device/api/device_context.h"
#include "device/api/zavt_context.h"
#include "device/api/zavt_control.h"
#include "device/api/zavt_folder.h"
#include "device/fs/engine_status.h"
#include "platform/win/file_util.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace {

// A size in bytes as the interface's long carries it: never negative. A storage of 2 GiB or more (an
// MMC/SD card, or a size register that says 4 GiB) reads as the largest long, 2 GiB less one byte;
// what is below that is exact.
long SizeAsLong(std::uint32_t bytes)
{
    return static_cast<long>(std::min<std::uint32_t>(bytes, LONG_MAX));
}

}  // namespace

HRESULT CZAVTStorage::Init(const wchar_t* name, ZAVTStorageType type, long deviceIndex)
{
    CComBSTR copy(name);
    if (name && !copy.get())
        return E_OUTOFMEMORY;
    name_ = std::move(copy);
    type_ = type;
    deviceIndex_ = deviceIndex;
    return S_OK;
}

HRESULT CZAVTStorage::Figure(long* pVal, Figures which)
{
    if (!pVal)
        return S_OK;
    *pVal = 0;
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context || type_ == ZAVTST_VOID)
        return Error(IDS_ERR_STORAGE_INIT);
    if (FAILED(context->Refresh()) || !context->IsReady())
        return Error(IDS_ERR_NO_DEVICE);
    const bool internal = type_ == ZAVTST_INT;
    if (!internal && type_ != ZAVTST_EXT)
        return S_OK;
    switch (which) {
    case Figures::Total:
        *pVal = SizeAsLong(internal ? context->GetInternalTotalBytes() : context->GetExternalTotalBytes());
        break;
    case Figures::Free:
        *pVal = SizeAsLong(internal ? context->GetInternalFreeBytes() : context->GetExternalFreeBytes());
        break;
    case Figures::Unformatted:
        *pVal = internal ? context->IsInternalUnformatted() : context->IsExternalUnformatted();
        break;
    case Figures::ReadOnly:
        *pVal = internal ? context->IsInternalReadOnly() : context->IsExternalReadOnly();
        break;
    }
    return S_OK;
}

STDMETHODIMP CZAVTStorage::get_Name(BSTR* pVal)
{
    if (!pVal)
        return S_OK;
    return name_.CopyTo(pVal);
}
STDMETHODIMP CZAVTStorage::get_ParentDeviceID(long* pVal)
{
    if (pVal)
        *pVal = deviceIndex_;
    return S_OK;
}
STDMETHODIMP CZAVTStorage::get_Type(ZAVTStorageType* pVal)
{
    if (pVal)
        *pVal = type_;
    return S_OK;
}
STDMETHODIMP CZAVTStorage::get_TotalSize(long* pVal)
{
    return Figure(pVal, Figures::Total);
}
STDMETHODIMP CZAVTStorage::get_FreeSize(long* pVal)
{
    return Figure(pVal, Figures::Free);
}
STDMETHODIMP CZAVTStorage::get_Unformatted(long* pVal)
{
    return Figure(pVal, Figures::Unformatted);
}
STDMETHODIMP CZAVTStorage::get_ReadOnly(long* pVal)
{
    return Figure(pVal, Figures::ReadOnly);
}

STDMETHODIMP CZAVTStorage::get_RootFolder(IZAVTFolder** pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = nullptr;
    HRESULT hr = S_OK;
    if (!ZavtReadyContext<CZAVTStorage>(&hr))
        return hr;
    CComObject<CZAVTFolder>* folder = nullptr;
    hr = CComObject<CZAVTFolder>::CreateInstance(&folder);
    if (FAILED(hr))
        return Error(IDS_ERR_ROOT_FOLDER, hr);
    CComPtr<IZAVTFolder> held;
    hr = folder->QueryInterface(IID_IZAVTFolder, reinterpret_cast<void**>(&held));
    if (FAILED(hr)) {
        delete folder;
        return Error(IDS_ERR_ROOT_FOLDER, hr);
    }
    const engine::DirRecord none{};
    hr = folder->Init(L"\\", L"\\", 1, none, type_, deviceIndex_, nullptr);
    if (FAILED(hr))
        return Error(IDS_ERR_ROOT_FOLDER, hr);
    *pVal = held.Detach();
    return S_OK;
}

STDMETHODIMP CZAVTStorage::Download(BSTR srcPath, BSTR dstPath)
{
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = OperationContext(&hr);
    if (!context)
        return hr;
    return ZavtDownloadByPath<CZAVTStorage>(*context, StorageIndex(), srcPath, dstPath);
}

std::shared_ptr<DeviceContext> CZAVTStorage::OperationContext(HRESULT* hr)
{
    if (type_ != ZAVTST_INT && type_ != ZAVTST_EXT) {
        *hr = E_INVALIDARG;
        return nullptr;
    }
    return ZavtReadyContext<CZAVTStorage>(hr);
}

void CZAVTStorage::FireFormatEvent(bool start, HRESULT asyncFailure)
{
    CComPtr<IZAVTStorage> self;
    if (FAILED(static_cast<IZAVTStorage*>(this)->QueryInterface(IID_IZAVTStorage, reinterpret_cast<void**>(&self))))
        self.Release();
    ZavtWithCurrentControl([&](CZAVTControl& control) {
        if (start) {
            if (self)
                control.FireFormatStorageStart(self);
            control.SetOperationKind(kZavtOperationFormat);
            return;
        }
        // The kind goes first: an operation the client starts on the end event keeps its own.
        control.SetOperationKind(kZavtOperationNone);
        if (self) {
            if (FAILED(asyncFailure))
                control.FireHError(ECFormat, asyncFailure);
            control.FireFormatStorageEnd(self);
        }
    });
}

STDMETHODIMP CZAVTStorage::Format()
{
    // A running FormatAsync owns the asynchronous result until its end.
    if (!formatPending_.load())
        asyncResult_ = S_OK;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = OperationContext(&hr);
    if (!context)
        return hr;
    const std::uint32_t storage = StorageIndex();
    FireFormatEvent(true);
    const engine::EngineStatus code = context->Format(storage);
    FireFormatEvent(false);
    context->SelectFolder(storage, 0);
    return ZavtStatusResult<CZAVTStorage>(code);
}

STDMETHODIMP CZAVTStorage::Initialize()
{
    return Format();
}

STDMETHODIMP CZAVTStorage::FormatAsync()
{
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = OperationContext(&hr);
    if (!context)
        return hr;
    const int present = type_ == ZAVTST_INT ? context->IsInternalPresent() : context->IsExternalPresent();
    if (!present)
        return Error(IDS_ERR_NO_DEVICE);
    // One format at a time: a second start would take the running worker's fields from under it.
    bool idle = false;
    if (!formatPending_.compare_exchange_strong(idle, true))
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    asyncResult_ = S_OK;
    // The previous worker is past its end event; its thread only has to return.
    if (HANDLE previous = pending_.ThreadHandle())
        WaitForSingleObject(previous, INFINITE);

    FireFormatEvent(true);
    // The worker holds the object until its done callback has fired the end event.
    static_cast<IZAVTStorage*>(this)->AddRef();
    hr = pending_.Start(this, FormatWork, FormatCancel, FormatDone);
    if (FAILED(hr)) {
        FireFormatEvent(false);
        formatPending_ = false;
        static_cast<IZAVTStorage*>(this)->Release();
    }
    return hr;
}

HRESULT CZAVTStorage::FormatWork(void* context)
{
    auto* self = static_cast<CZAVTStorage*>(context);
    if (!self)
        return E_FAIL;
    self->asyncResult_ = S_OK;
    std::shared_ptr<DeviceContext> device = DeviceContext::Current();
    if (!device) {
        self->asyncResult_ = Error(IDS_ERR_NO_DEVICE);
        return self->asyncResult_;
    }
    const std::uint32_t storage = self->StorageIndex();
    self->formatWorking_ = true;
    const engine::EngineStatus code = device->Format(storage);
    self->formatWorking_ = false;
    self->asyncResult_ = ZavtStatusResult<CZAVTStorage>(code);
    device->SelectFolder(storage, 0);
    return self->asyncResult_;
}

HRESULT CZAVTStorage::FormatCancel(void* context)
{
    auto* self = static_cast<CZAVTStorage*>(context);
    if (!self)
        return E_FAIL;
    if (self->formatWorking_.load()) {
        if (std::shared_ptr<DeviceContext> device = DeviceContext::Current())
            device->CancelOperation();
    }
    return S_OK;
}

HRESULT CZAVTStorage::FormatDone(void* context)
{
    auto* self = static_cast<CZAVTStorage*>(context);
    if (!self)
        return E_FAIL;
    self->FireFormatEvent(false, self->asyncResult_);
    self->formatPending_ = false;
    // The worker's reference: the object may go with it.
    static_cast<IZAVTStorage*>(self)->Release();
    return S_OK;
}

STDMETHODIMP CZAVTStorage::CancelOperation()
{
    return ZavtCancelOperation<CZAVTStorage>();
}
