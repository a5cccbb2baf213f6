// The COM classes of ZAVTCTRL: the control, the device, storage, folder and file objects and their
// collections. What each member does on the player is reached through the device context; members that
// need it answer E_NOTIMPL until it is connected.
#pragma once

#include "platform/atl/atlcom.h"
#include "platform/atl/atlctl.h"
#include "resources/zavtctrl.h"
#include "resources/zavtctrl_resource.h"

#include <cstdint>

// Raw addresses of the interface ("long" in the 32-bit library, 64 bits wide in the 64-bit one).
#ifdef _WIN64
using ZavtAddress = hyper;
using ZavtUAddress = MIDL_uhyper;
#else
using ZavtAddress = long;
using ZavtUAddress = unsigned long;
#endif

// Process-wide values shared by every object of the server.
long ZavtGetSpecialBuildNumber();
void ZavtSetSpecialBuildNumber(long value);

// Clears the thread's error information and answers E_NOTIMPL: the member needs the device context.
HRESULT ZavtNeedsDevice();

class CZAVTControl;
// The most recently constructed control, or null; events and progress go through it.
CZAVTControl* ZavtCurrentControl();

// ---- collections ----

#define ZAVT_COLLECTION(Class, CollItf, ItemItf, Clsid)                    \
    class Class : public CComObjectRootEx,                                 \
                  public CComCoClass<Class, &Clsid>,                       \
                  public ICollectionOnVectorImpl<Class, CollItf, ItemItf>, \
                  public ISupportErrorInfoImpl<CollItf> {                  \
    public:                                                                \
        DECLARE_NO_REGISTRY()                                              \
        BEGIN_COM_MAP(Class)                                               \
        COM_INTERFACE_ENTRY(CollItf)                                       \
        COM_INTERFACE_ENTRY2(IDispatch, CollItf)                           \
        COM_INTERFACE_ENTRY(ISupportErrorInfo)                             \
        END_COM_MAP()                                                      \
    };

ZAVT_COLLECTION(CZAVTDeviceCollection, IZAVTDeviceCollection, IZAVTDevice, CLSID_ZAVTDeviceCollection)
ZAVT_COLLECTION(CZAVTStorageCollection, IZAVTStorageCollection, IZAVTStorage, CLSID_ZAVTStorageCollection)
ZAVT_COLLECTION(CZAVTFolderCollection, IZAVTFolderCollection, IZAVTFolder, CLSID_ZAVTFolderCollection)
ZAVT_COLLECTION(CZAVTFileCollection, IZAVTFileCollection, IZAVTFile, CLSID_ZAVTFileCollection)

// ---- the control ----

// Recompose on resize, can't link inside, inside-out, activate when visible, invisible at run time, set
// client site first.
constexpr DWORD kZavtControlMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                         OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INVISIBLEATRUNTIME |
                                         OLEMISC_SETCLIENTSITEFIRST;
static_assert(kZavtControlMiscStatus == 132497);

class CZAVTControl : public CComObjectRootEx,
                     public CComCoClass<CZAVTControl, &CLSID_ZAVTControl>,
                     public IDispatchImpl<CZAVTControl, IZAVTControl>,
                     public ISupportErrorInfoImpl<IZAVTControl>,
                     public IConnectionPointContainerImpl<CZAVTControl>,
                     public IConnectionPointImpl<CZAVTControl, &DIID__IZAVTControlEvents>,
                     public IProvideClassInfo2,
                     public CComControlBase,
                     public IViewObjectExImpl<CZAVTControl>,
                     public IOleObjectImpl<CZAVTControl, kZavtControlMiscStatus>,
                     public IOleControlImpl<CZAVTControl>,
                     public IPersistStreamInitImpl<CZAVTControl> {
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

    const GUID& SessionGuid() const { return sessionGuid_; }

    // The control shows its frame and its name, centred.
    HRESULT OnDraw(ATL_DRAWINFO& di);

private:
    HRESULT FireObject(DISPID id, IDispatch* object, const long* number = nullptr);
    GUID sessionGuid_{};
};

// ---- the device ----

class CZAVTDevice : public CComObjectRootEx,
                    public CComCoClass<CZAVTDevice, &CLSID_ZAVTDevice>,
                    public IDispatchImpl<CZAVTDevice, IZAVTDevice>,
                    public ISupportErrorInfoImpl<IZAVTDevice>,
                    public IConnectionPointContainerImpl<CZAVTDevice>,
                    public IConnectionPointImpl<CZAVTDevice, &DIID__IZAVTDeviceEvents> {
public:
    DECLARE_REGISTRY_RESOURCEID(IDR_ZAVTDEVICE)
    BEGIN_COM_MAP(CZAVTDevice)
    COM_INTERFACE_ENTRY(IZAVTDevice)
    COM_INTERFACE_ENTRY2(IDispatch, IZAVTDevice)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    END_COM_MAP()
    BEGIN_CONNECTION_POINT_MAP(CZAVTDevice)
    CONNECTION_POINT_ENTRY(DIID__IZAVTDeviceEvents, DeviceEventsProxy)
    END_CONNECTION_POINT_MAP()
    using DeviceEventsProxy = IConnectionPointImpl<CZAVTDevice, &DIID__IZAVTDeviceEvents>;

    STDMETHOD(get_Name)(BSTR* pVal) override;
    STDMETHOD(get_Storages)(IZAVTStorageCollection** pVal) override;
    STDMETHOD(get_DeviceID)(long* pVal) override;
    STDMETHOD(Download)(ZAVTStorageType stStorage, BSTR srcPath, BSTR dstPath) override;
    STDMETHOD(Upload)(ZAVTStorageType stStorage, BSTR srcPath, BSTR dstPath) override;
    STDMETHOD(ForceUpdate)() override;
    STDMETHOD(DownloadFont)(ZAVTFontType tFont, BSTR srcPath) override;
    STDMETHOD(DownloadFontAsync)(ZAVTFontType tFont, BSTR srcPath) override;
    STDMETHOD(EraseFont)() override;
    STDMETHOD(EraseFontAsync)() override;
    STDMETHOD(CancelOperation)() override;
    STDMETHOD(FirmwareUpgrade)(BSTR srcPath) override;
    STDMETHOD(get_Model)(ZAVTDeviceModelType* pVal) override;
    STDMETHOD(get_SupportFirmwareUpgrade)(long* pVal) override;
    STDMETHOD(get_FirmwareVersion)(BSTR* pVal) override;
    STDMETHOD(get_SupportFMRadio)(long* pVal) override;
    STDMETHOD(DownloadConfig)(BSTR srcPath) override;
    STDMETHOD(UploadConfig)(BSTR dstPath) override;
    STDMETHOD(get_FontPresent)(long* pVal) override;
    STDMETHOD(DownloadMemo)(BSTR srcPath) override;
    STDMETHOD(UploadMemo)(BSTR dstPath) override;
    STDMETHOD(get_SectorsPerClusterInternal)(long* pVal) override;
    STDMETHOD(get_DeviceUniqueID)(BSTR* pVal) override;
    STDMETHOD(put_DeviceUniqueID)(BSTR newVal) override;
    STDMETHOD(GetPersonalID)(ZavtAddress lpcID) override;
    STDMETHOD(PutPersonalID)(ZavtAddress lpcID) override;
    STDMETHOD(get_FirmwareDate)(BSTR* pVal) override;
    STDMETHOD(DownloadImage)(BSTR srcPath) override;
    STDMETHOD(UploadImage)(BSTR dstPath) override;
    STDMETHOD(get_SupportImages)(long* pVal) override;
    STDMETHOD(get_DiagnosticInfo)(BSTR* pVal) override;
    STDMETHOD(PutMarkID)(ZavtAddress lpcMarkID) override;
    STDMETHOD(GetMarkID)(ZavtAddress lpcMarkID) override;
    STDMETHOD(PutSN)(ZavtAddress lpcSN) override;
    STDMETHOD(GetSN)(ZavtAddress lpcSN) override;
};

// ---- storage, folder, file ----

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
