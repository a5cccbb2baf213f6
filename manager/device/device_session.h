// The manager's client of the device API: the one control object, its 15 events, the player and its two
// memories, the cached DeviceInfo, the current folder of each memory listed into CFileItem records, and
// the kind of long operation that is running. The main dialog derives from it and handles the events.
#pragma once

#include "manager/device/device_info.h"
#include "manager/device/file_item.h"
#include "platform/atl/atlbase.h"
#include "resources/zavtctrl.h"

#include <windows.h>

#include <cstdint>
#include <vector>

class DeviceEventSink;

// Operation kinds; anything but idle makes the session busy.
enum DeviceOperationKind : std::int32_t {
    kOperationIdle = 0,
    kOperationFormat = 1,
    kOperationFontDownload = 2,
    kOperationFontErase = 3,
    kOperationDownload = 4,
    kOperationUpload = 5,
    kOperationErase = 6,
    kOperationFirmwareUpgrade = 7,
    kOperationNewFolderName = 8,
};

// Storage indexes of the session: internal memory and the card.
constexpr int kStorageInternal = 0;
constexpr int kStorageCard = 1;

class CDeviceSession {
public:
    CDeviceSession();
    CDeviceSession(const CDeviceSession&) = delete;
    CDeviceSession& operator=(const CDeviceSession&) = delete;
    virtual ~CDeviceSession();

    // Creates the control in-process by its ProgID and connects the event sink. Events raised on another
    // thread than this one are posted to it and handled there.
    HRESULT Open();
    HRESULT Close();
    HRESULT Connect();
    HRESULT ReadDeviceProperties();
    HRESULT RefreshStorageFigures();
    // The device poll step: 1 when something changed, 0 when nothing changed or nothing was done,
    // negative on failure.
    HRESULT Refresh();
    HRESULT GetDeviceInfo(DeviceInfo* info) const;

    HRESULT OpenFolder(IZAVTFolder* folder);
    HRESULT ListCurrentFolder(int storage);
    // Appends one record per subfolder, then one per file.
    HRESULT ReadFolderItems(IZAVTFolder* folder, std::vector<CFileItem>* items);
    HRESULT GoToParentFolder(int storage);
    HRESULT GoToRootFolder(int storage);
    HRESULT RefreshFolder(int storage);
    HRESULT GetFolderItems(int storage, std::vector<CFileItem>* items) const;

    void SetOperationKind(std::int32_t kind);
    std::int32_t GetOperationKind() const;
    bool IsBusy() const;
    bool IsOpened() const;

    // The interface pointers the rest of the manager reaches the player through (null when not known).
    CComPtr<IZAVTControl> Control() const;
    CComPtr<IZAVTDevice> Device() const;
    CComPtr<IZAVTStorage> Storage(int storage) const;
    CComPtr<IZAVTFolder> CurrentFolder(int storage) const;

    // The events, in DISPID order 1-15, on the thread that opened the session.
    virtual HRESULT DeleteFileStart(IZAVTFile* file) = 0;
    virtual HRESULT DeleteFileEnd(IZAVTFile* file) = 0;
    virtual HRESULT DeleteFilePercent(IZAVTFile* file, long percent) = 0;
    virtual HRESULT FormatStorageStart(IZAVTStorage* storage) = 0;
    virtual HRESULT FormatStorageEnd(IZAVTStorage* storage) = 0;
    virtual HRESULT FormatStoragePercent(IZAVTStorage* storage, long percent) = 0;
    virtual HRESULT UploadFileStart(IZAVTFile* file) = 0;
    virtual HRESULT UploadFileEnd(IZAVTFile* file) = 0;
    virtual HRESULT UploadFilePercent(IZAVTFile* file, long percent) = 0;
    virtual HRESULT DownloadFileStart(IZAVTFile* file) = 0;
    virtual HRESULT DownloadFileEnd(IZAVTFile* file) = 0;
    virtual HRESULT DownloadFilePercent(IZAVTFile* file, long percent) = 0;
    virtual HRESULT InitializationStart() = 0;
    virtual HRESULT InitializationEnd() = 0;
    virtual HRESULT HError(long errorContext, long errorCode) = 0;

private:
    friend class DeviceEventSink;

    // A lock on the critical section for one scope.
    class Lock {
    public:
        explicit Lock(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
        ~Lock() { LeaveCriticalSection(&cs_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        CRITICAL_SECTION& cs_;
    };

    DeviceInfo Snapshot() const;
    void Commit(const DeviceInfo& info);
    HRESULT ReadStorage(IZAVTStorage* storage, bool card, DeviceInfo& info);
    HRESULT ReadProperties(IZAVTDevice* device, DeviceInfo& info);
    std::vector<CFileItem>* Items(int storage);
    CComPtr<IZAVTFolder>* FolderSlot(int storage);
    void ReleasePointers(bool all);

    mutable CRITICAL_SECTION lock_;  // the pointers, DeviceInfo and the listings
    DeviceEventSink* sink_ = nullptr;
    DWORD sinkCookie_ = 0;
    CComPtr<IZAVTControl> control_;
    CComPtr<IZAVTDevice> device_;
    CComPtr<IZAVTStorage> internal_;
    CComPtr<IZAVTStorage> card_;
    CComPtr<IZAVTFolder> internalFolder_;
    CComPtr<IZAVTFolder> cardFolder_;
    DeviceInfo info_;
    std::vector<CFileItem> internalItems_;
    std::vector<CFileItem> cardItems_;
    volatile LONG opened_ = 0;
    volatile LONG busy_ = 0;
    volatile LONG kind_ = kOperationIdle;
    volatile LONG refreshCounter_ = 0;
};
