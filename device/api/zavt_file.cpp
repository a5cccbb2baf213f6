// The file object of ZAVTCTRL.
#include "device/api/zavt_file.h"

#include <cstring>

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

STDMETHODIMP CZAVTFile::get_Name(BSTR* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    return name_.CopyTo(pVal);
}
STDMETHODIMP CZAVTFile::put_Name(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_Path(BSTR* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    return path_.CopyTo(pVal);
}
STDMETHODIMP CZAVTFile::get_Storage(IZAVTStorage** pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_ParentFolder(IZAVTFolder** pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = nullptr;
    if (!parent_)
        return S_FALSE;
    const HRESULT hr = parent_->QueryInterface(IID_IZAVTFolder, reinterpret_cast<void**>(pVal));
    if (FAILED(hr))
        *pVal = nullptr;
    return hr;
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
    if (!pVal)
        return E_INVALIDARG;
    *pVal = record_.firstCluster;
    return S_OK;
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
