// The storage, folder and file objects of ZAVTCTRL.
#include "device/api/zavt_objects.h"

// ---- storage ----

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

// ---- folder ----

STDMETHODIMP CZAVTFolder::get_Name(BSTR* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::put_Name(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::get_Path(BSTR* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_Storage(IZAVTStorage** pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_ParentFolder(IZAVTFolder** pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_IsRootFolder(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_SubFolders(IZAVTFolderCollection** pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_Files(IZAVTFileCollection** pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_Size(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_Attributes(ZAVTFileAttribute* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::put_Attributes(ZAVTFileAttribute)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::get_DateLastModified(DATE* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_DateCreated(DATE* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_SupportsFolders(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::Delete()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::get_PlayIndex(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::put_PlayIndex(long)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::CreateSubfolder(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::Download(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::get_FileSystemID(long* pVal)
{
    return ZavtNeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::MoveFolderInside(IZAVTFolder*)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::MoveFileInside(IZAVTFile*)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::CreateNewFile(BSTR, IZAVTFile** pNewFile)
{
    return ZavtNeedsDevice(pNewFile);
}

// ---- file ----

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
