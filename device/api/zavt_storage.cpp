// The storage object of ZAVTCTRL: internal memory or the card of one device.
#include "device/api/zavt_storage.h"

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
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::get_FreeSize(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::get_RootFolder(IZAVTFolder** pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::Download(BSTR, BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTStorage::Format()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTStorage::Initialize()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTStorage::FormatAsync()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTStorage::CancelOperation()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTStorage::get_Unformatted(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::get_ReadOnly(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
