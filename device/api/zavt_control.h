// The ActiveX control of ZAVTCTRL: the client's entry point, its events and its drawing.
#pragma once

#include "device/api/zavt_common.h"
#include "device/transport/engine_state.h"

#include <atomic>

#include <functional>

// Recompose on resize, can't link inside, inside-out, activate when visible, invisible at run time, set
// client site first.
constexpr DWORD kZavtControlMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                         OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INVISIBLEATRUNTIME |
                                         OLEMISC_SETCLIENTSITEFIRST;
static_assert(kZavtControlMiscStatus == 132497);

// Which Percent event the engine's progress raises while an operation of a kind runs.
enum ZavtOperationKind : long {
    kZavtOperationNone = 0,
    kZavtOperationDownload = 1,
    kZavtOperationUpload = 2,
    kZavtOperationFormat = 3,
    kZavtOperationDelete = 4,
};
// The DISPID of the Percent event of a kind; 0 (no event) for none and for unknown kinds.
DISPID ZavtPercentEventOf(long kind);

class CZAVTControl : public CComObjectRootEx,
                     public CComCoClass<CZAVTControl, &CLSID_ZAVTControl>,
                     public ZavtDispatchImpl<CZAVTControl, IZAVTControl>,
                     public ISupportErrorInfoImpl<IZAVTControl>,
                     public IConnectionPointContainerImpl<CZAVTControl>,
                     public IConnectionPointImpl<CZAVTControl, &DIID__IZAVTControlEvents>,
                     public IProvideClassInfo2,
                     public CComControlBase,
                     public IViewObjectExImpl<CZAVTControl>,
                     public IOleObjectImpl<CZAVTControl, kZavtControlMiscStatus>,
                     public IOleControlImpl<CZAVTControl>,
                     public IPersistStreamInitImpl<CZAVTControl>,
                     public IOleInPlaceObjectWindowlessImpl<CZAVTControl>,
                     public IOleInPlaceActiveObjectImpl<CZAVTControl>,
                     public IQuickActivateImpl<CZAVTControl>,
                     public IPersistStorageImpl<CZAVTControl>,
                     public IDataObjectImpl<CZAVTControl>,
                     public ISpecifyPropertyPagesImpl<CZAVTControl>,
                     public engine::ProgressSink {
public:
    CZAVTControl();
    ~CZAVTControl();

    DECLARE_REGISTRY_RESOURCEID(IDR_ZAVTCONTROL)
    BEGIN_COM_MAP(CZAVTControl)
    COM_INTERFACE_ENTRY(IZAVTControl)
    COM_INTERFACE_ENTRY2(IDispatch, IZAVTControl)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    COM_INTERFACE_ENTRY2(IProvideClassInfo, IProvideClassInfo2)
    COM_INTERFACE_ENTRY(IViewObjectEx)
    COM_INTERFACE_ENTRY2(IViewObject2, IViewObjectEx)
    COM_INTERFACE_ENTRY2(IViewObject, IViewObjectEx)
    COM_INTERFACE_ENTRY(IOleObject)
    COM_INTERFACE_ENTRY(IOleControl)
    COM_INTERFACE_ENTRY(IPersistStreamInit)
    COM_INTERFACE_ENTRY2(IPersist, IPersistStreamInit)
    COM_INTERFACE_ENTRY(IOleInPlaceObjectWindowless)
    COM_INTERFACE_ENTRY2(IOleInPlaceObject, IOleInPlaceObjectWindowless)
    COM_INTERFACE_ENTRY2(IOleWindow, IOleInPlaceObjectWindowless)
    COM_INTERFACE_ENTRY(IOleInPlaceActiveObject)
    COM_INTERFACE_ENTRY(IQuickActivate)
    COM_INTERFACE_ENTRY(IPersistStorage)
    COM_INTERFACE_ENTRY(IDataObject)
    COM_INTERFACE_ENTRY(ISpecifyPropertyPages)
    END_COM_MAP()
    BEGIN_CONNECTION_POINT_MAP(CZAVTControl)
    CONNECTION_POINT_ENTRY(DIID__IZAVTControlEvents, ControlEventsProxy)
    END_CONNECTION_POINT_MAP()

    using ControlEventsProxy = IConnectionPointImpl<CZAVTControl, &DIID__IZAVTControlEvents>;

    // IZAVTControl
    STDMETHOD(get_Devices)(IZAVTDeviceCollection** pVal) override;
    STDMETHOD(DeleteFile)(long dwDeviceID, ZAVTStorageType stStorageID, BSTR sFilePath) override;
    STDMETHOD(get_SpecialBuildNumber)(long* pVal) override;
    STDMETHOD(put_SpecialBuildNumber)(long newVal) override;
    STDMETHOD(GetSessionID)(ZavtAddress lpcSessionID) override;

    // IProvideClassInfo2
    STDMETHOD(GetClassInfo)(ITypeInfo** ppTI) override;
    STDMETHOD(GetGUID)(DWORD kind, GUID* pGUID) override;

    // The events of _IZAVTControlEvents, fired synchronously on the calling thread to every advised sink.
    HRESULT FireDeleteFileStart(IZAVTFile* file) { return FireObject(1, file); }
    HRESULT FireDeleteFileEnd(IZAVTFile* file) { return FireObject(2, file); }
    HRESULT FireDeleteFilePercent(IZAVTFile* file, long percent) { return FireObject(3, file, &percent); }
    HRESULT FireFormatStorageStart(IZAVTStorage* storage) { return FireObject(4, storage); }
    HRESULT FireFormatStorageEnd(IZAVTStorage* storage) { return FireObject(5, storage); }
    HRESULT FireFormatStoragePercent(IZAVTStorage* storage, long percent) { return FireObject(6, storage, &percent); }
    HRESULT FireUploadFileStart(IZAVTFile* file) { return FireObject(7, file); }
    HRESULT FireUploadFileEnd(IZAVTFile* file) { return FireObject(8, file); }
    HRESULT FireUploadFilePercent(IZAVTFile* file, long percent) { return FireObject(9, file, &percent); }
    HRESULT FireDownloadFileStart(IZAVTFile* file) { return FireObject(10, file); }
    HRESULT FireDownloadFileEnd(IZAVTFile* file) { return FireObject(11, file); }
    HRESULT FireDownloadFilePercent(IZAVTFile* file, long percent) { return FireObject(12, file, &percent); }
    HRESULT FireInitializationStart() { return AtlFireDispatch(Sinks(), 13, nullptr, 0); }
    HRESULT FireInitializationEnd() { return AtlFireDispatch(Sinks(), 14, nullptr, 0); }
    HRESULT FireHError(long errContext, long hresErrCode);

    // The engine's progress, kept here while this is the current control.
    engine::ProgressCounters& Counters() override { return progress_; }
    // Fires the Percent event of the running operation's kind with the current percent (nothing while no
    // operation kind is set), with a null object.
    void FireProgress() override;
    // Set by an operation right after its Start event, back to none right after its End event.
    HRESULT SetOperationKind(long kind);
    long OperationKind() const { return operationKind_.load(); }

    // The control shows its frame and its name, centred.
    HRESULT OnDraw(ATL_DRAWINFO& di);

private:
    HRESULT FireObject(DISPID id, IDispatch* object, const long* number = nullptr);
    engine::ProgressCounters progress_;
    std::atomic<long> operationKind_{kZavtOperationNone};
};

// Runs `use` on the current control, which cannot be freed meanwhile; false when there is none.
bool ZavtWithCurrentControl(const std::function<void(CZAVTControl&)>& use);
// A PC file's download to the player by path begins or ends: DownloadFileStart or DownloadFileEnd (with no
// file object) on the current control, and the operation kind that turns the engine's progress into
// DownloadFilePercent set or cleared.
void ZavtFireDownloadStart();
void ZavtFireDownloadEnd();
