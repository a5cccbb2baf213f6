// The folder object of ZAVTCTRL.
#pragma once

#include "device/api/zavt_common.h"

class CZAVTFolder : public CComObjectRootEx,
                    public CComCoClass<CZAVTFolder, &CLSID_ZAVTFolder>,
                    public IDispatchImpl<CZAVTFolder, IZAVTFolder>,
                    public ISupportErrorInfoImpl<IZAVTFolder> {
public:
    DECLARE_REGISTRY_RESOURCEID(IDR_ZAVTFOLDER)
    BEGIN_COM_MAP(CZAVTFolder)
    COM_INTERFACE_ENTRY(IZAVTFolder)
    COM_INTERFACE_ENTRY2(IDispatch, IZAVTFolder)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    STDMETHOD(get_Name)(BSTR* pVal) override;
    STDMETHOD(put_Name)(BSTR newVal) override;
    STDMETHOD(get_Path)(BSTR* pVal) override;
    STDMETHOD(get_Storage)(IZAVTStorage** pVal) override;
    STDMETHOD(get_ParentFolder)(IZAVTFolder** pVal) override;
    STDMETHOD(get_IsRootFolder)(long* pVal) override;
    STDMETHOD(get_SubFolders)(IZAVTFolderCollection** pVal) override;
    STDMETHOD(get_Files)(IZAVTFileCollection** pVal) override;
    STDMETHOD(get_Size)(long* pVal) override;
    STDMETHOD(get_Attributes)(ZAVTFileAttribute* pVal) override;
    STDMETHOD(put_Attributes)(ZAVTFileAttribute newVal) override;
    STDMETHOD(get_DateLastModified)(DATE* pVal) override;
    STDMETHOD(get_DateCreated)(DATE* pVal) override;
    STDMETHOD(get_SupportsFolders)(long* pVal) override;
    STDMETHOD(Delete)() override;
    STDMETHOD(get_PlayIndex)(long* pVal) override;
    STDMETHOD(put_PlayIndex)(long newVal) override;
    STDMETHOD(CreateSubfolder)(BSTR SubfolderName) override;
    STDMETHOD(Download)(BSTR srcPath) override;
    STDMETHOD(get_FileSystemID)(long* pVal) override;
    STDMETHOD(MoveFolderInside)(IZAVTFolder* pVal) override;
    STDMETHOD(MoveFileInside)(IZAVTFile* pVal) override;
    STDMETHOD(CreateNewFile)(BSTR FileName, IZAVTFile** pNewFile) override;
};
