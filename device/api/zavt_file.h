// The file object of ZAVTCTRL.
#pragma once

#include "device/api/zavt_common.h"
#include "device/fs/dir_record.h"

#include <cstdint>

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

    // Binds the object to one file: its name and path, its directory record (all zero for a file not
    // yet written), its 64-byte audio header block, its storage and device, and its folder.
    HRESULT Init(const wchar_t* name, const wchar_t* path, const engine::DirRecord& record, const std::uint8_t* header,
                 ZAVTStorageType type, long deviceIndex, IZAVTFolder* parent);

private:
    CComBSTR name_;
    CComBSTR path_;
    engine::DirRecord record_{};
    std::uint8_t header_[64] = {};
    ZAVTStorageType type_ = ZAVTST_VOID;
    long deviceIndex_ = -1;
    CComPtr<IZAVTFolder> parent_;
};
