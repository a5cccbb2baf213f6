#include "manager/device/device_session.h"

#include "manager/device/device_event_sink.h"

#include <ocidl.h>

#include <memory>
#include <utility>

namespace {

// The refresh guard held for one scope: Refresh and RefreshFolder never run at once, and the counter is
// lowered on every way out.
class RefreshGuard {
public:
    explicit RefreshGuard(volatile LONG& counter) : counter_(counter), first_(InterlockedIncrement(&counter_) == 1) {}
    ~RefreshGuard() { InterlockedDecrement(&counter_); }
    RefreshGuard(const RefreshGuard&) = delete;
    RefreshGuard& operator=(const RefreshGuard&) = delete;
    bool First() const { return first_; }

private:
    volatile LONG& counter_;
    bool first_;
};

// Appends without letting an allocation failure leave the session as an exception.
bool Append(std::vector<CFileItem>* items, CFileItem&& item)
{
    try {
        items->push_back(std::move(item));
        return true;
    } catch (...) {
        return false;
    }
}

HRESULT FindEventsPoint(IZAVTControl* control, IConnectionPoint** point)
{
    CComPtr<IConnectionPointContainer> container;
    HRESULT hr = control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr))
        return hr;
    if (!container)
        return E_NOINTERFACE;
    return container->FindConnectionPoint(DIID__IZAVTControlEvents, point);
}

// The storage's figures, read unsigned as the device API's 32-bit longs carry them.
HRESULT ReadFigure(IZAVTStorage* storage, HRESULT (STDMETHODCALLTYPE IZAVTStorage::*get)(long*), std::uint32_t* out)
{
    long value = 0;
    const HRESULT hr = (storage->*get)(&value);
    *out = SUCCEEDED(hr) ? static_cast<std::uint32_t>(value) : 0;
    return hr;
}

}  // namespace

CDeviceSession::CDeviceSession()
{
    InitializeCriticalSection(&lock_);
}

CDeviceSession::~CDeviceSession()
{
    Close();
    ReleasePointers(true);
    DeleteCriticalSection(&lock_);
}

bool CDeviceSession::IsOpened() const
{
    return opened_ != 0;
}

HRESULT CDeviceSession::Open()
{
    InterlockedExchange(&refreshCounter_, 0);
    SetOperationKind(kOperationIdle);
    if (opened_)
        return S_OK;
    HRESULT hr = S_OK;
    if (!Control()) {
        CLSID clsid{};
        CComPtr<IZAVTControl> control;
        hr = CLSIDFromProgID(L"ZAVTCTRL.ZAVTControl", &clsid);
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IZAVTControl, reinterpret_cast<void**>(&control));
        if (SUCCEEDED(hr) && !control)
            hr = E_NOINTERFACE;
        DeviceEventSink* sink = nullptr;
        if (SUCCEEDED(hr)) {
            sink = DeviceEventSink::Create(this);
            if (!sink)
                hr = E_OUTOFMEMORY;
        }
        CComPtr<IConnectionPoint> point;
        DWORD cookie = 0;
        if (SUCCEEDED(hr))
            hr = FindEventsPoint(control, &point);
        if (SUCCEEDED(hr))
            hr = point->Advise(static_cast<IDispatch*>(sink), &cookie);
        if (SUCCEEDED(hr))
            hr = control->put_SpecialBuildNumber(0);
        if (SUCCEEDED(hr)) {
            Lock hold(lock_);
            control_ = control;
            sink_ = sink;
            sinkCookie_ = cookie;
        } else {
            if (cookie)
                point->Unadvise(cookie);
            if (sink) {
                sink->Detach();
                sink->Release();
            }
        }
    }
    InterlockedExchange(&opened_, SUCCEEDED(hr) ? 1 : 0);
    return hr;
}

HRESULT CDeviceSession::Close()
{
    if (!opened_)
        return S_OK;
    InterlockedExchange(&opened_, 0);
    CComPtr<IZAVTControl> control;
    DeviceEventSink* sink = nullptr;
    DWORD cookie = 0;
    {
        Lock hold(lock_);
        info_ = DeviceInfo();  // the texts are freed with the old record
        internal_.Release();
        card_.Release();
        control = std::move(control_);
        sink = std::exchange(sink_, nullptr);
        cookie = std::exchange(sinkCookie_, 0);
    }
    if (control && cookie) {
        CComPtr<IConnectionPoint> point;
        if (SUCCEEDED(FindEventsPoint(control, &point)) && point)
            point->Unadvise(cookie);
    }
    if (sink) {
        sink->Detach();
        sink->Release();
    }
    control.Release();
    SetOperationKind(kOperationIdle);
    return S_OK;
}

DeviceInfo CDeviceSession::Snapshot() const
{
    Lock hold(lock_);
    return info_;
}

void CDeviceSession::Commit(const DeviceInfo& info)
{
    DeviceInfo copy(info);
    Lock hold(lock_);
    std::swap(info_, copy);
}

HRESULT CDeviceSession::GetDeviceInfo(DeviceInfo* info) const
{
    if (!info)
        return E_INVALIDARG;
    DeviceInfo copy = Snapshot();
    std::swap(*info, copy);
    return S_OK;
}

void CDeviceSession::ReleasePointers(bool all)
{
    CComPtr<IZAVTDevice> device;
    CComPtr<IZAVTFolder> internalFolder, cardFolder;
    std::vector<CFileItem> internalItems, cardItems;
    {
        Lock hold(lock_);
        internal_.Release();
        card_.Release();
        if (all) {
            device = std::move(device_);
            internalFolder = std::move(internalFolder_);
            cardFolder = std::move(cardFolder_);
            internalItems.swap(internalItems_);
            cardItems.swap(cardItems_);
        }
    }
    // Released outside the lock: a release may reach into the device API.
}

CComPtr<IZAVTControl> CDeviceSession::Control() const
{
    Lock hold(lock_);
    return control_;
}

CComPtr<IZAVTDevice> CDeviceSession::Device() const
{
    Lock hold(lock_);
    return device_;
}

CComPtr<IZAVTStorage> CDeviceSession::Storage(int storage) const
{
    Lock hold(lock_);
    return storage == kStorageInternal ? internal_ : storage == kStorageCard ? card_ : CComPtr<IZAVTStorage>();
}

CComPtr<IZAVTFolder> CDeviceSession::CurrentFolder(int storage) const
{
    Lock hold(lock_);
    return storage == kStorageInternal ? internalFolder_ : storage == kStorageCard ? cardFolder_ : CComPtr<IZAVTFolder>();
}

HRESULT CDeviceSession::ReadProperties(IZAVTDevice* device, DeviceInfo& info)
{
    HRESULT hr = S_OK;
    info.model = 0;
    ZAVTDeviceModelType model = Model_Unknown;
    if (FAILED(hr = device->get_Model(&model)))
        return hr;
    info.model = static_cast<std::int32_t>(model);
    CComBSTR name, version, date;
    if (FAILED(hr = device->get_Name(&name)))
        return hr;
    info.name = std::move(name);
    if (FAILED(hr = device->get_FirmwareVersion(&version)))
        return hr;
    info.firmwareVersion = std::move(version);
    if (FAILED(hr = device->get_FirmwareDate(&date)))
        return hr;
    info.firmwareDate = std::move(date);
    info.supportsFirmwareUpgrade = 0;
    long value = 0;
    if (FAILED(hr = device->get_SupportFirmwareUpgrade(&value)))
        return hr;
    info.supportsFirmwareUpgrade = value;
    if (FAILED(hr = device->get_SupportFMRadio(&value)))
        return hr;
    info.supportsFMRadio = value;
    if (FAILED(hr = device->get_SectorsPerClusterInternal(&value)))
        return hr;
    info.sectorsPerCluster = value;
    info.SetModelCapabilities(info.model);
    return S_OK;
}

HRESULT CDeviceSession::ReadDeviceProperties()
{
    CComPtr<IZAVTDevice> device = Device();
    if (!opened_ || !device)
        return S_OK;
    DeviceInfo info = Snapshot();
    const HRESULT hr = ReadProperties(device, info);
    Commit(info);
    return hr;
}

// Reads one storage's figures into the record: sizes, ready and present, the flags.
HRESULT CDeviceSession::ReadStorage(IZAVTStorage* storage, bool card, DeviceInfo& info)
{
    if (!storage) {
        card ? info.ClearCard() : info.ClearInternal();
        return S_OK;
    }
    std::uint32_t total = 0, free = 0;
    long unformatted = 0, readOnly = 0;
    HRESULT hr = S_OK;
    if (FAILED(hr = ReadFigure(storage, &IZAVTStorage::get_FreeSize, &free)) ||
        FAILED(hr = ReadFigure(storage, &IZAVTStorage::get_TotalSize, &total)) ||
        (card && FAILED(hr = storage->get_ReadOnly(&readOnly))) || FAILED(hr = storage->get_Unformatted(&unformatted)))
        return hr;
    if (card) {
        info.cardFree = free;
        info.cardTotal = total;
        info.cardUsed = DeviceUsedBytes(total, free);
        info.cardReady = 1;
        info.cardReadOnly = readOnly;
        info.cardUnformatted = unformatted;
    } else {
        info.internalFree = free;
        info.internalTotal = total;
        info.internalUsed = DeviceUsedBytes(total, free);
        info.internalReady = 1;
        info.internalUnformatted = unformatted;
    }
    info.present = 1;
    return S_OK;
}

HRESULT CDeviceSession::Connect()
{
    CComPtr<IZAVTControl> control = Control();
    if (!opened_ || !control)
        return E_NOINTERFACE;
    DeviceInfo info = Snapshot();
    HRESULT hr = S_OK;
    CComPtr<IZAVTDevice> device = Device();
    if (!device) {
        CComPtr<IZAVTDeviceCollection> devices;
        if (SUCCEEDED(hr = control->get_Devices(&devices)) && devices &&
            SUCCEEDED(hr = devices->get_Item(1, &device)) && device) {
            {
                Lock hold(lock_);
                device_ = device;
            }
            info.present = 1;
            hr = ReadProperties(device, info);
        } else if (SUCCEEDED(hr)) {
            hr = E_POINTER;
        }
    }
    CComPtr<IZAVTStorage> internal, card;
    if (SUCCEEDED(hr)) {
        {
            Lock hold(lock_);
            internal_.Release();
            card_.Release();
        }
        info.present = info.storageCount = 0;
        info.internalReady = info.cardReady = info.cardReadOnly = 0;
        info.internalUnformatted = info.cardUnformatted = 0;
        info.internalTotal = info.internalFree = info.internalUsed = 0;
        info.cardTotal = info.cardFree = info.cardUsed = 0;

        CComPtr<IZAVTStorageCollection> storages;
        long count = 0;
        if (SUCCEEDED(hr = device->get_Storages(&storages)) && storages && SUCCEEDED(hr = storages->get_Count(&count))) {
            info.storageCount = count;
            if (count == 1 || count == 2) {
                if (count == 2 && SUCCEEDED(hr = storages->get_Item(2, &card)))
                    hr = ReadStorage(card, true, info);
                if (SUCCEEDED(hr) && SUCCEEDED(hr = storages->get_Item(1, &internal)))
                    hr = ReadStorage(internal, false, info);
            }
        } else if (SUCCEEDED(hr)) {
            hr = E_POINTER;
        }
    }
    if (FAILED(hr)) {
        info.present = info.storageCount = 0;
        info.internalReady = info.cardReady = 0;
        info.internalUnformatted = info.cardUnformatted = info.cardReadOnly = 0;
        info.ClearInternal();
        info.ClearCard();
        // Without a player its name and firmware are gone too.
        info.ClearTexts();
    } else {
        Lock hold(lock_);
        internal_ = internal;
        card_ = card;
    }
    Commit(info);
    return hr;
}

HRESULT CDeviceSession::RefreshStorageFigures()
{
    if (!opened_ || !Control())
        return E_NOINTERFACE;
    DeviceInfo info = Snapshot();
    HRESULT hr = S_OK;
    if (!info.present) {
        info.ClearInternal();
        info.ClearCard();
    } else if (info.storageCount == 1 || info.storageCount == 2) {
        if (info.storageCount == 2)
            hr = ReadStorage(Storage(kStorageCard), true, info);
        if (SUCCEEDED(hr))
            hr = ReadStorage(Storage(kStorageInternal), false, info);
        if (FAILED(hr)) {
            info.ClearInternal();
            info.ClearCard();
            info.present = 0;
            info.storageCount = 0;
            info.ClearTexts();
        }
    } else {
        info.internalReady = info.cardReady = 0;
    }
    Commit(info);
    return hr;
}

HRESULT CDeviceSession::Refresh()
{
    RefreshGuard guard(refreshCounter_);
    if (!guard.First() || IsBusy())
        return 0;
    HRESULT result = 0;
    CComPtr<IZAVTDevice> device = Device();
    if (!device) {
        if (FAILED(Connect()))
            return 0;
        result = 1;
    } else if (!Snapshot().present) {
        if (FAILED(Connect()))
            return 0;
        const HRESULT hr = ReadDeviceProperties();
        if (FAILED(hr))
            return hr;
        result = 1;
    } else {
        const HRESULT hr = device->ForceUpdate();
        if (FAILED(hr) || hr == S_FALSE) {
            Connect();
            return 1;
        }
        return 0;
    }
    const HRESULT hr = RefreshStorageFigures();
    return FAILED(hr) ? hr : result;
}

std::vector<CFileItem>* CDeviceSession::Items(int storage)
{
    return storage == kStorageInternal ? &internalItems_ : storage == kStorageCard ? &cardItems_ : nullptr;
}

CComPtr<IZAVTFolder>* CDeviceSession::FolderSlot(int storage)
{
    return storage == kStorageInternal ? std::addressof(internalFolder_) : storage == kStorageCard ? std::addressof(cardFolder_) : nullptr;
}

HRESULT CDeviceSession::ReadFolderItems(IZAVTFolder* folder, std::vector<CFileItem>* items)
{
    if (!folder || !items)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    CComPtr<IZAVTFolderCollection> folders;
    long count = 0;
    if (FAILED(hr = folder->get_SubFolders(&folders)))
        return hr;
    if (!folders)
        return E_POINTER;
    if (FAILED(hr = folders->get_Count(&count)))
        return hr;
    for (long n = 1; n <= count; ++n) {
        CFileItem item;
        item.kind = kFileItemFolder;
        long size = 0, inner = 0;
        CComPtr<IZAVTFolderCollection> below;
        if (FAILED(hr = folders->get_Item(n, &item.folder)))
            return hr;
        if (!item.folder)
            return E_POINTER;
        if (FAILED(hr = item.folder->get_Size(&size)) || FAILED(hr = item.folder->get_Name(&item.name)) ||
            FAILED(hr = item.folder->get_Path(&item.path)) || FAILED(hr = item.folder->get_SubFolders(&below)))
            return hr;
        if (!below)
            return E_POINTER;
        if (FAILED(hr = below->get_Count(&inner)))
            return hr;
        item.information.size = static_cast<std::uint32_t>(size);
        item.hasSubfolders = inner != 0;
        if (!Append(items, std::move(item)))
            return E_OUTOFMEMORY;
    }
    CComPtr<IZAVTFileCollection> files;
    if (FAILED(hr = folder->get_Files(&files)))
        return hr;
    if (!files)
        return E_POINTER;
    if (FAILED(hr = files->get_Count(&count)))
        return hr;
    for (long n = 1; n <= count; ++n) {
        CFileItem item;
        item.kind = kFileItemFile;
        long size = 0;
        if (FAILED(hr = files->get_Item(n, &item.file)))
            return hr;
        if (!item.file)
            return E_POINTER;
        if (FAILED(hr = item.file->get_Size(&size)) || FAILED(hr = item.file->get_Name(&item.name)) ||
            FAILED(hr = item.file->get_Path(&item.path)))
            return hr;
        item.information.size = static_cast<std::uint32_t>(size);
        if (!Append(items, std::move(item)))
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CDeviceSession::ListCurrentFolder(int storage)
{
    if (!Items(storage))
        return E_INVALIDARG;
    CComPtr<IZAVTFolder> folder = CurrentFolder(storage);
    if (!folder)
        return E_UNEXPECTED;
    std::vector<CFileItem> items;
    const HRESULT hr = ReadFolderItems(folder, &items);
    std::vector<CFileItem> old;
    {
        Lock hold(lock_);
        old.swap(*Items(storage));
        Items(storage)->swap(items);
    }
    return hr;
}

HRESULT CDeviceSession::OpenFolder(IZAVTFolder* folder)
{
    if (!folder)
        return E_INVALIDARG;
    CComPtr<IZAVTStorage> storage;
    HRESULT hr = folder->get_Storage(&storage);
    if (FAILED(hr))
        return hr;
    ZAVTStorageType type = ZAVTST_VOID;
    if (!storage || FAILED(storage->get_Type(&type)) || (type != ZAVTST_INT && type != ZAVTST_EXT))
        return E_UNEXPECTED;
    const int index = type == ZAVTST_INT ? kStorageInternal : kStorageCard;
    {
        Lock hold(lock_);
        *FolderSlot(index) = folder;
    }
    return ListCurrentFolder(index);
}

HRESULT CDeviceSession::GoToParentFolder(int storage)
{
    if (!Items(storage))
        return E_INVALIDARG;
    CComPtr<IZAVTFolder> folder = CurrentFolder(storage);
    if (!folder)
        return E_UNEXPECTED;
    long root = 0;
    HRESULT hr = folder->get_IsRootFolder(&root);
    if (FAILED(hr))
        return hr;
    if (root)
        return 1;
    CComPtr<IZAVTFolder> parent;
    if (FAILED(hr = folder->get_ParentFolder(&parent)))
        return hr;
    if (!parent)
        return E_POINTER;
    {
        Lock hold(lock_);
        *FolderSlot(storage) = parent;
    }
    if (FAILED(hr = ListCurrentFolder(storage)))
        return hr;
    if (FAILED(hr = parent->get_IsRootFolder(&root)))
        return hr;
    return root ? 1 : hr;
}

HRESULT CDeviceSession::GoToRootFolder(int storage)
{
    if (!Items(storage))
        return E_INVALIDARG;
    CComPtr<IZAVTStorage> object = Storage(storage);
    if (!object)
        return S_OK;
    CComPtr<IZAVTFolder> root;
    HRESULT hr = object->get_RootFolder(&root);
    if (FAILED(hr))
        return hr;
    if (!root)
        return E_POINTER;
    {
        Lock hold(lock_);
        *FolderSlot(storage) = root;
    }
    return ListCurrentFolder(storage);
}

HRESULT CDeviceSession::RefreshFolder(int storage)
{
    if (!Items(storage))
        return E_INVALIDARG;
    RefreshGuard guard(refreshCounter_);
    if (!guard.First())
        return 0;
    HRESULT hr = RefreshStorageFigures();
    if (FAILED(hr))
        return hr;
    if (!CurrentFolder(storage)) {
        CComPtr<IZAVTStorage> object = Storage(storage);
        if (!object)
            return E_UNEXPECTED;
        CComPtr<IZAVTFolder> root;
        if (FAILED(hr = object->get_RootFolder(&root)))
            return hr;
        if (!root)
            return E_POINTER;
        Lock hold(lock_);
        *FolderSlot(storage) = root;
    }
    return ListCurrentFolder(storage);
}

HRESULT CDeviceSession::GetFolderItems(int storage, std::vector<CFileItem>* items) const
{
    if (!items || (storage != kStorageInternal && storage != kStorageCard))
        return E_INVALIDARG;
    Lock hold(lock_);
    const std::vector<CFileItem>& source = storage == kStorageInternal ? internalItems_ : cardItems_;
    try {
        items->insert(items->end(), source.begin(), source.end());
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void CDeviceSession::SetOperationKind(std::int32_t kind)
{
    InterlockedExchange(&kind_, kind);
    InterlockedExchange(&busy_, kind != kOperationIdle ? 1 : 0);
}

std::int32_t CDeviceSession::GetOperationKind() const
{
    return kind_;
}

bool CDeviceSession::IsBusy() const
{
    return busy_ != 0;
}
