// The folder object of ZAVTCTRL.
#include "device/api/zavt_folder.h"

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
