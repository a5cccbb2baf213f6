// The device object of ZAVTCTRL.
#include "device/api/zavt_device.h"

STDMETHODIMP CZAVTDevice::get_Name(BSTR* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_Storages(IZAVTStorageCollection** pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_DeviceID(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::Download(ZAVTStorageType, BSTR, BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::Upload(ZAVTStorageType, BSTR, BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::ForceUpdate()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::DownloadFont(ZAVTFontType, BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::DownloadFontAsync(ZAVTFontType, BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::EraseFont()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::EraseFontAsync()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::CancelOperation()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::FirmwareUpgrade(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::get_Model(ZAVTDeviceModelType* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_SupportFirmwareUpgrade(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_FirmwareVersion(BSTR* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_SupportFMRadio(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::DownloadConfig(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::UploadConfig(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::get_FontPresent(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::DownloadMemo(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::UploadMemo(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::get_SectorsPerClusterInternal(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_DeviceUniqueID(BSTR* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::put_DeviceUniqueID(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::get_FirmwareDate(BSTR* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::DownloadImage(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::UploadImage(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::get_SupportImages(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_DiagnosticInfo(BSTR* pVal)
{
    return ZavtNeedsDevice(pVal);
}

#define ZAVT_ADDRESS_MEMBER(Name)                                         \
    STDMETHODIMP CZAVTDevice::Name(ZavtAddress address)                   \
    {                                                                     \
        if (FAILED(ZavtCheckAddress(static_cast<ZavtUAddress>(address)))) \
            return E_INVALIDARG;                                          \
        return ZavtNeedsDevice();                                         \
    }
ZAVT_ADDRESS_MEMBER(GetPersonalID)
ZAVT_ADDRESS_MEMBER(PutPersonalID)
ZAVT_ADDRESS_MEMBER(PutMarkID)
ZAVT_ADDRESS_MEMBER(GetMarkID)
ZAVT_ADDRESS_MEMBER(PutSN)
ZAVT_ADDRESS_MEMBER(GetSN)
