// The storage, folder and file objects of ZAVTCTRL.
#pragma once

#include "device/api/zavt_common.h"

class CZAVTStorage : public CComObjectRootEx,
                     public CComCoClass<CZAVTStorage, &CLSID_ZAVTStorage>,
                     public IDispatchImpl<CZAVTStorage, IZAVTStorage>,
                     public ISupportErrorInfoImpl<IZAVTStorage> {
public:
    DECLARE_REGISTRY_RESOURCEID(IDR_ZAVTSTORAGE)
    BEGIN_COM_MAP(CZAVTStorage)
    COM_INTERFACE_ENTRY(IZAVTStorage)
    COM_INTERFACE_ENTRY2(IDispatch, IZAVTStorage)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    STDMETHOD(get_Name)(BSTR* pVal) override;
    STDMETHOD(get_ParentDeviceID)(long* pVal) override;
    STDMETHOD(get_Type)(ZAVTStorageType* pVal) override;
    STDMETHOD(get_TotalSize)(long* pVal) override;
    STDMETHOD(get_FreeSize)(long* pVal) override;
    STDMETHOD(get_RootFolder)(IZAVTFolder** pVal) override;
    STDMETHOD(Download)(BSTR srcPath, BSTR dstPath) override;
    STDMETHOD(Format)() override;
    STDMETHOD(Initialize)() override;
    STDMETHOD(FormatAsync)() override;
    STDMETHOD(CancelOperation)() override;
    STDMETHOD(get_Unformatted)(long* pVal) override;
    STDMETHOD(get_ReadOnly)(long* pVal) override;

    // The storage's name, its type (internal memory or card) and the index of its device.
    HRESULT Init(const wchar_t* name, ZAVTStorageType type, long deviceIndex);

private:
    CComBSTR name_;
    ZAVTStorageType type_ = ZAVTST_VOID;
    long deviceIndex_ = -1;
};

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

class CZAVTFile : public CComObjectRootEx,
                  public CComCoClass<CZAVTFile, &CLSID_ZAVTFile>,
                  public IDispatchImpl<CZAVTFile, IZAVTFile>,
                  public ISupportErrorInfoImpl<IZAVTFile> {
public:
    DECLARE_REGISTRY_RESOURCEID(IDR_ZAVTFILE)
    BEGIN_COM_MAP(CZAVTFile)
    COM_INTERFACE_ENTRY(IZAVTFile)
    COM_INTERFACE_ENTRY2(IDispatch, IZAVTFile)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    STDMETHOD(get_Name)(BSTR* pVal) override;
    STDMETHOD(put_Name)(BSTR newVal) override;
    STDMETHOD(get_Path)(BSTR* pVal) override;
    STDMETHOD(get_Storage)(IZAVTStorage** pVal) override;
    STDMETHOD(get_ParentFolder)(IZAVTFolder** pVal) override;
    STDMETHOD(get_Attributes)(ZAVTFileAttribute* pVal) override;
    STDMETHOD(put_Attributes)(ZAVTFileAttribute newVal) override;
    STDMETHOD(get_DateLastModified)(DATE* pVal) override;
    STDMETHOD(get_Size)(long* pVal) override;
    STDMETHOD(Delete)() override;
    STDMETHOD(get_DateCreated)(DATE* pVal) override;
    STDMETHOD(Upload)(BSTR dstPath) override;
    STDMETHOD(get_PlayIndex)(long* pVal) override;
    STDMETHOD(put_PlayIndex)(long newVal) override;
    STDMETHOD(get_Channels)(long* pVal) override;
    STDMETHOD(get_SampleRate)(long* pVal) override;
    STDMETHOD(get_Bitrate)(long* pVal) override;
    STDMETHOD(UploadTo)(BSTR dstFullPath) override;
    STDMETHOD(get_FileSystemID)(long* pVal) override;
    STDMETHOD(OpenFile)(ZAVTFileMode fmMode) override;
    STDMETHOD(CloseFile)() override;
    STDMETHOD(Write)(ZavtUAddress lpData, ULONG dwSize) override;
    STDMETHOD(Read)(ZavtUAddress lpData, ULONG dwSize, ULONG* pdwSizeRead) override;
};
