// The storage object of ZAVTCTRL: internal memory or the card of one device.
#pragma once

#include "platform/win/pending_operation.h"
#include "device/api/zavt_common.h"

#include <atomic>
#include <memory>

class DeviceContext;

class CZAVTStorage : public CComObjectRootEx,
                     public CComCoClass<CZAVTStorage, &CLSID_ZAVTStorage>,
                     public ZavtDispatchImpl<CZAVTStorage, IZAVTStorage>,
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

    // The three callbacks of FormatAsync's pending operation; the context is the storage object.
    static HRESULT FormatWork(void* context);
    static HRESULT FormatCancel(void* context);
    static HRESULT FormatDone(void* context);

private:
    enum class Figures { Total, Free, Unformatted, ReadOnly };
    HRESULT Figure(long* pVal, Figures which);
    // FormatStorageStart (true) or FormatStorageEnd with this storage (HError before it for a failed
    // asynchronous format), and the operation kind that goes with it, on the current control.
    void FireFormatEvent(bool start, HRESULT asyncFailure = S_OK);
    // The context of an operation on the storage: null with *hr E_INVALIDARG for a storage of another
    // type, or the error 769 without a ready player.
    std::shared_ptr<DeviceContext> OperationContext(HRESULT* hr);
    // The storage as the device context numbers them: 0 internal memory, 1 the card.
    std::uint32_t StorageIndex() const { return type_ == ZAVTST_EXT ? 1 : 0; }

    CComBSTR name_;
    ZAVTStorageType type_ = ZAVTST_VOID;
    long deviceIndex_ = -1;
    // Set from FormatAsync's start until its end event has gone out: a second start meanwhile is refused.
    std::atomic<bool> formatPending_{false};
    // While the worker's format runs, a cancel of the operation reaches the engine.
    std::atomic<bool> formatWorking_{false};
    HRESULT asyncResult_ = S_OK;
    // Last: it is stopped first when the object goes.
    CPendingOperation pending_;
};
