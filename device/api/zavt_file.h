// The file object of ZAVTCTRL.
#pragma once

#include "device/api/zavt_common.h"
#include "device/fs/dir_record.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class DeviceContext;
class CZAVTControl;

class CZAVTFile : public CComObjectRootEx,
                  public CComCoClass<CZAVTFile, &CLSID_ZAVTFile>,
                  public ZavtDispatchImpl<CZAVTFile, IZAVTFile>,
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

    // A stream still open when the last reference goes is closed, so the store never keeps it.
    void FinalRelease();

private:
    bool Bound() const { return type_ == ZAVTST_INT || type_ == ZAVTST_EXT; }
    std::uint32_t Storage() const { return type_ == ZAVTST_EXT ? 1 : 0; }
    // The record id; 0 for a file not yet written, which names no entry of the store.
    std::uint32_t Id() const { return record_.firstCluster; }
    // Fires a file event of the control with this file (null while the object goes) and sets the
    // operation kind that turns the engine's progress into the matching Percent event.
    void Fire(HRESULT (CZAVTControl::*event)(IZAVTFile*), long kind, bool withFile = true);
    // The copy to a PC file: `path` itself, or the record's name in folder `path`.
    HRESULT CopyToPc(BSTR path, bool intoFolder);
    // The field of the audio header at `offset`, `bytes` wide; the player is asked once per object.
    HRESULT AudioField(long* pVal, std::size_t offset, std::size_t bytes);
    // The context of a stream call: S_OK when this object owns the open stream of the mode.
    HRESULT StreamContext(ZAVTFileMode mode, std::shared_ptr<DeviceContext>* context);

    CComBSTR name_;
    CComBSTR path_;
    engine::DirRecord record_{};
    std::uint8_t header_[64] = {};
    bool headerRead_ = false;
    ZAVTStorageType type_ = ZAVTST_VOID;
    long deviceIndex_ = -1;
    CComPtr<IZAVTFolder> parent_;
    long mode_ = fmNormal;
    // The context the stream was opened in: its claim belongs there.
    std::weak_ptr<DeviceContext> streamContext_;
};
