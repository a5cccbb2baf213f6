// The file object of ZAVTCTRL.
#include "device/api/zavt_file.h"

STDMETHODIMP CZAVTFile::get_Name(BSTR* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::put_Name(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_Path(BSTR* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_Storage(IZAVTStorage** pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_ParentFolder(IZAVTFolder** pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_Attributes(ZAVTFileAttribute* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::put_Attributes(ZAVTFileAttribute)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_DateLastModified(DATE* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_Size(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::Delete()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_DateCreated(DATE* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::Upload(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_PlayIndex(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::put_PlayIndex(long)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_Channels(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_SampleRate(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_Bitrate(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::UploadTo(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_FileSystemID(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::OpenFile(ZAVTFileMode)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::CloseFile()
{
    return ZavtNeedsDevice();
}

STDMETHODIMP CZAVTFile::Write(ZavtUAddress lpData, ULONG)
{
    if (FAILED(ZavtCheckAddress(lpData)))
        return E_INVALIDARG;
    return ZavtNeedsDevice();
}

STDMETHODIMP CZAVTFile::Read(ZavtUAddress lpData, ULONG, ULONG* pdwSizeRead)
{
    if (pdwSizeRead)
        *pdwSizeRead = 0;
    if (FAILED(ZavtCheckAddress(lpData)))
        return E_INVALIDARG;
    return ZavtNeedsDevice();
}
