// The device object of ZAVTCTRL: one connected player.
#pragma once

#include "platform/win/pending_operation.h"
#include "device/api/zavt_common.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class DeviceContext;

class CZAVTDevice : public CComObjectRootEx,
                    public CComCoClass<CZAVTDevice, &CLSID_ZAVTDevice>,
                    public ZavtDispatchImpl<CZAVTDevice, IZAVTDevice>,
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

    // Name, index, model and firmware version as the control's device collection found them.
    HRESULT Init(const wchar_t* name, long index, ZAVTDeviceModelType model, const wchar_t* firmwareVersion);
    // Whether `size` bytes fit into the free space of the card (external) or of internal memory;
    // false without a context, or when `refresh` is set and the refresh fails.
    bool HasFreeSpace(bool external, unsigned long long size, bool refresh);

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

    // ---- system files (zavt_device_system.cpp) ----
    // The asynchronous font operations' runner, for owners that wait for its worker.
    const CPendingOperation& PendingOperation() const { return pending_; }
    // The result of the last asynchronous font operation (S_OK while none has failed).
    HRESULT AsyncResult() const { return asyncResult_.load(); }

private:
    // A font image between its loading and the end of its write.
    struct FontImage {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::uint32_t size = 0;
    };
    static HRESULT LoadFontImage(ZAVTFontType tFont, BSTR srcPath, FontImage* image);
    // What DownloadFont and DownloadFontAsync do before the write: the arguments and the ready context
    // (*ready) checked, the image loaded, the root of internal memory current, the room checked, the old
    // font and blank dump gone.
    HRESULT PrepareFontWrite(ZAVTFontType tFont, BSTR srcPath, std::shared_ptr<DeviceContext>* ready,
                             FontImage* image);
    // Writes a system file of the internal root from srcPath under `playerName`, replacing the one there.
    // An empty srcPath takes the player's default, the CONFIG resource at `defaultIndex` of its
    // SelectConfigResources choice, or is refused (E_INVALIDARG) when defaultIndex is negative.
    HRESULT DownloadRootFile(const wchar_t* playerName, BSTR srcPath, int defaultIndex);
    HRESULT UploadRootFile(const wchar_t* playerName, BSTR dstPath);
    HRESULT StartPending(PendingCallback work, PendingCallback done);
    static HRESULT DownloadFontWork(void* self);
    static HRESULT DownloadFontDone(void* self);
    static HRESULT EraseFontWork(void* self);
    static HRESULT EraseFontDone(void* self);
    // The end of an asynchronous font operation on its worker: HError for a failed result, the End
    // event, the kind reset, and the object's hold released.
    HRESULT EndPending(long errorContext);
    static HRESULT OperationCancel(void* self);

    CPendingOperation pending_;
    // Held only while no worker runs, or by the running download's worker.
    FontImage fontImage_;
    std::atomic<HRESULT> asyncResult_{S_OK};
    // One start of an asynchronous operation at a time.
    std::mutex asyncStart_;

private:
    HRESULT ContextText(const char* (DeviceContext::*get)() const, CComBSTR& cache, BSTR* out);
    CComBSTR name_;
    CComBSTR firmwareVersion_;
    CComBSTR firmwareDate_;
    long deviceIndex_ = -1;
    ZAVTDeviceModelType model_ = static_cast<ZAVTDeviceModelType>(0);
};

// The control's device collection: the context made and initialised when there is none, then refreshed;
// one device while the player is ready, none while a transfer keeps the refresh from running. *out is
// null on every failure.
HRESULT ZavtMakeDeviceCollection(IZAVTDeviceCollection** out);

// The folder the font library is loaded from; by default the device API's own. Tests name another one
// (std::nullopt brings the default back).
void ZavtForceFontLibraryFolderForTesting(std::optional<std::wstring> folder);
