// The device object of ZAVTCTRL.
#include "device/api/zavt_device.h"

#include "device/api/device_context.h"
#include "device/api/zavt_context.h"
#include "device/api/zavt_control.h"
#include "device/api/zavt_storage.h"
#include "platform/win/file_util.h"

#include <memory>
#include <string>

namespace {

std::wstring LoadText(UINT id)
{
    wchar_t text[256] = {};
    LoadStringW(_Module.GetResourceInstance(), id, text, static_cast<int>(std::size(text)));
    return text;
}

std::wstring Widen(const char* text)
{
    std::wstring out;
    for (; text && *text; ++text)
        out += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return out;
}

// "KWEP" and the player's model-id text; the bare text when `bare`.
std::wstring DeviceName(const DeviceContext& context, bool bare)
{
    const std::wstring id = Widen(context.GetModelIdText());
    return bare ? id : LoadText(IDS_DEVICE_PREFIX) + L" " + id;
}

bool BareNameBuild()
{
    const long build = ZavtGetSpecialBuildNumber();
    return build == 3 || build == 4;
}

}  // namespace

HRESULT ZavtMakeDeviceCollection(IZAVTDeviceCollection** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context) {
        try {
            context = std::make_shared<DeviceContext>();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        context->SetInitializationNotice([](bool start) {
            ZavtWithCurrentControl([start](CZAVTControl& control) {
                if (start)
                    control.FireInitializationStart();
                else
                    control.FireInitializationEnd();
            });
        });
        DeviceContext::Publish(context);
        const HRESULT hr = context->Init();
        if (FAILED(hr))
            return hr;
    }

    CComObject<CZAVTDeviceCollection>* collection = nullptr;
    HRESULT hr = CComObject<CZAVTDeviceCollection>::CreateInstance(&collection);
    if (FAILED(hr))
        return hr;
    CComPtr<IZAVTDeviceCollection> held;
    hr = collection->QueryInterface(IID_IZAVTDeviceCollection, reinterpret_cast<void**>(&held));
    if (FAILED(hr)) {
        delete collection;
        return hr;
    }
    hr = context->Refresh();
    if (FAILED(hr))
        return hr;
    if (context->IsReady()) {
        CComObject<CZAVTDevice>* device = nullptr;
        hr = CComObject<CZAVTDevice>::CreateInstance(&device);
        if (FAILED(hr))
            return hr;
        CComPtr<IZAVTDevice> deviceItf;
        hr = device->QueryInterface(IID_IZAVTDevice, reinterpret_cast<void**>(&deviceItf));
        if (FAILED(hr)) {
            delete device;
            return hr;
        }
        const std::wstring version = Widen(context->GetFirmwareVersion());
        hr = device->Init(DeviceName(*context, false).c_str(), 0, static_cast<ZAVTDeviceModelType>(context->GetModel()),
                          version.c_str());
        if (SUCCEEDED(hr))
            hr = collection->Add(deviceItf);
        if (FAILED(hr))
            return hr;
    }
    *out = held.Detach();
    return S_OK;
}

HRESULT CZAVTDevice::Init(const wchar_t* name, long index, ZAVTDeviceModelType model, const wchar_t* firmwareVersion)
{
    CComBSTR newName(name), newVersion(firmwareVersion);
    if ((name && !newName.get()) || (firmwareVersion && !newVersion.get()))
        return E_OUTOFMEMORY;
    name_ = std::move(newName);
    firmwareVersion_ = std::move(newVersion);
    deviceIndex_ = index;
    model_ = model;
    return S_OK;
}

bool CZAVTDevice::HasFreeSpace(bool external, unsigned long long size, bool refresh)
{
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    return context && ZavtFits(*context, external ? 1 : 0, size, refresh);
}

STDMETHODIMP CZAVTDevice::get_Name(BSTR* pVal)
{
    if (!pVal)
        return S_OK;
    *pVal = nullptr;
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context)
        return Error(IDS_ERR_NO_DEVICE);
    CComBSTR name(DeviceName(*context, BareNameBuild()).c_str());
    if (!name.get())
        return E_OUTOFMEMORY;
    name_ = std::move(name);
    return name_.CopyTo(pVal);
}

STDMETHODIMP CZAVTDevice::get_Storages(IZAVTStorageCollection** pVal)
{
    if (!pVal)
        return S_OK;
    *pVal = nullptr;
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTDevice>(&hr);
    if (!context)
        return hr;

    CComObject<CZAVTStorageCollection>* collection = nullptr;
    hr = CComObject<CZAVTStorageCollection>::CreateInstance(&collection);
    if (FAILED(hr))
        return Error(IDS_ERR_STORAGE_INIT, hr);
    CComPtr<IZAVTStorageCollection> held;
    hr = collection->QueryInterface(IID_IZAVTStorageCollection, reinterpret_cast<void**>(&held));
    if (FAILED(hr)) {
        delete collection;
        return Error(IDS_ERR_STORAGE_INIT, hr);
    }
    for (int type = 0; type < 2; ++type) {
        const bool present = type == 0 ? context->IsInternalPresent() : context->IsExternalPresent();
        if (!present)
            continue;
        CComObject<CZAVTStorage>* storage = nullptr;
        hr = CComObject<CZAVTStorage>::CreateInstance(&storage);
        if (FAILED(hr))
            break;
        CComPtr<IZAVTStorage> storageItf;
        hr = storage->QueryInterface(IID_IZAVTStorage, reinterpret_cast<void**>(&storageItf));
        if (FAILED(hr)) {
            delete storage;
            break;
        }
        const std::wstring name = LoadText(type == 0 ? IDS_INTERNAL_MEMORY : IDS_EXTERNAL_CARD);
        hr = storage->Init(name.c_str(), static_cast<ZAVTStorageType>(type), deviceIndex_);
        if (SUCCEEDED(hr))
            hr = collection->Add(storageItf);
        if (FAILED(hr))
            break;
    }
    // A collection is handed out whole or not at all.
    if (FAILED(hr))
        return Error(IDS_ERR_STORAGE_INIT, hr);
    *pVal = held.Detach();
    return S_OK;
}

STDMETHODIMP CZAVTDevice::get_DeviceID(long* pVal)
{
    if (pVal)
        *pVal = deviceIndex_;
    return S_OK;
}

STDMETHODIMP CZAVTDevice::Download(ZAVTStorageType stStorage, BSTR srcPath, BSTR dstPath)
{
    if (stStorage != ZAVTST_INT && stStorage != ZAVTST_EXT)
        return ZavtFail<CZAVTDevice>(E_INVALIDARG);
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTDevice>(&hr);
    if (!context)
        return hr;
    return ZavtDownloadByPath<CZAVTDevice>(*context, stStorage == ZAVTST_EXT ? 1 : 0, srcPath, dstPath);
}

STDMETHODIMP CZAVTDevice::Upload(ZAVTStorageType stStorage, BSTR srcPath, BSTR dstPath)
{
    if (stStorage != ZAVTST_INT && stStorage != ZAVTST_EXT)
        return ZavtFail<CZAVTDevice>(E_INVALIDARG);
    HRESULT hr = S_OK;
    std::shared_ptr<DeviceContext> context = ZavtReadyContext<CZAVTDevice>(&hr);
    if (!context)
        return hr;
    const std::uint32_t storage = stStorage == ZAVTST_EXT ? 1 : 0;
    const wchar_t* fileName = srcPath ? NamePart(srcPath) : nullptr;
    engine::DirRecord record;
    if (!fileName || !*fileName || context->ResolvePath(storage, fileName, &record) != 0)
        return Error(IDS_ERR_FILE_NOT_FOUND);
    if (!dstPath || !*dstPath)
        return ZavtFail<CZAVTDevice>(E_INVALIDARG);
    // A path that names a device is no file at all: what the player holds never goes there.
    if (UtilPathNamesDevice(dstPath))
        return Error(IDS_ERR_FILE_NOT_FOUND, HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
    UtilDeleteFile(dstPath);
    // Any code but success is a failure, whatever its sign.
    return ZavtStatusResult<CZAVTDevice>(context->UploadFile(storage, record.firstCluster, dstPath), E_FAIL);
}

STDMETHODIMP CZAVTDevice::ForceUpdate()
{
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context)
        return Error(IDS_ERR_NO_DEVICE);
    HRESULT hr = context->Refresh();
    if (SUCCEEDED(hr)) {
        model_ = static_cast<ZAVTDeviceModelType>(context->GetModel());
        CComBSTR name(DeviceName(*context, false).c_str());
        CComBSTR version(Widen(context->GetFirmwareVersion()).c_str());
        if (name.get())
            name_ = std::move(name);
        if (version.get())
            firmwareVersion_ = std::move(version);
        if (context->IsMediaChanged())
            hr = S_FALSE;
    } else {
        SetErrorInfo(0, nullptr);
    }
    context->ClearMediaChanged();
    return hr;
}
STDMETHODIMP CZAVTDevice::CancelOperation()
{
    return ZavtCancelOperation<CZAVTDevice>();
}
STDMETHODIMP CZAVTDevice::get_Model(ZAVTDeviceModelType* pVal)
{
    if (pVal)
        *pVal = static_cast<ZAVTDeviceModelType>(0);
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context)
        return Error(IDS_ERR_NO_DEVICE);
    model_ = static_cast<ZAVTDeviceModelType>(context->GetModel());
    if (pVal)
        *pVal = model_;
    return S_OK;
}
STDMETHODIMP CZAVTDevice::get_SupportFirmwareUpgrade(long* pVal)
{
    const int m = static_cast<int>(model_);
    if (pVal)
        *pVal = (m == 2 || (m >= 8 && m <= 16)) ? 1 : 0;
    return S_OK;
}
// A text of the current context, kept as the object's last known value and copied out.
HRESULT CZAVTDevice::ContextText(const char* (DeviceContext::*get)() const, CComBSTR& cache, BSTR* out)
{
    if (!out)
        return S_OK;
    *out = nullptr;
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context)
        return Error(IDS_ERR_NO_DEVICE);
    CComBSTR text(Widen(((*context).*get)()).c_str());
    if (!text.get())
        return E_OUTOFMEMORY;
    cache = std::move(text);
    return cache.CopyTo(out);
}

STDMETHODIMP CZAVTDevice::get_FirmwareVersion(BSTR* pVal)
{
    return ContextText(&DeviceContext::GetFirmwareVersion, firmwareVersion_, pVal);
}
STDMETHODIMP CZAVTDevice::get_SupportFMRadio(long* pVal)
{
    const int m = static_cast<int>(model_);
    if (pVal)
        *pVal = (m >= 9 && m <= 16) ? 1 : 0;
    return S_OK;
}
STDMETHODIMP CZAVTDevice::get_SectorsPerClusterInternal(long* pVal)
{
    if (pVal)
        *pVal = engine::Engine.LargePageFlag ? 256 : 32;
    return S_OK;
}
STDMETHODIMP CZAVTDevice::get_FirmwareDate(BSTR* pVal)
{
    return ContextText(&DeviceContext::GetFirmwareDate, firmwareDate_, pVal);
}
STDMETHODIMP CZAVTDevice::get_DiagnosticInfo(BSTR* pVal)
{
    if (!pVal)
        return S_OK;
    *pVal = nullptr;
    if (!DeviceContext::Current())
        return Error(IDS_ERR_NO_DEVICE);
    *pVal = SysAllocString(DeviceContext::GetDiagnosticInfo());
    return *pVal ? S_OK : E_OUTOFMEMORY;
}
