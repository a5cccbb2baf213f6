// The storage object of ZAVTCTRL: internal memory or the card of one device.
#pragma once

#include "device/api/zavt_common.h"

#include <memory>

class DeviceContext;

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

    // Whether a file of `size` bytes fits the storage's free bytes (read after a refresh when asked).
    bool HasFreeSpace(unsigned long long size, bool refresh);

private:
    enum class Figures { Total, Free, Unformatted, ReadOnly };
    HRESULT Figure(long* pVal, Figures which);
    // The context of a call that needs a ready player: null (and *hr the error 769) when there is none.

    CComBSTR name_;
    ZAVTStorageType type_ = ZAVTST_VOID;
    long deviceIndex_ = -1;
};
