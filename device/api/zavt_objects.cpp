// The COM classes of ZAVTCTRL.
#include "device/api/zavt_objects.h"

#include <iterator>
#include <type_traits>

namespace {

// Process-wide values: plain, without locks (a client sets the build number before its first call).
volatile long g_specialBuildNumber = 0;
CZAVTControl* volatile g_currentControl = nullptr;

// E_NOTIMPL with every out-parameter cleared, so a caller never reads a stale value.
template <class T>
HRESULT NeedsDevice(T* out)
{
    if (out) {
        if constexpr (std::is_pointer_v<T>)
            *out = nullptr;
        else
            *out = T{};
    }
    return ZavtNeedsDevice();
}

// A raw address handed in by a client: null is refused in every build.
HRESULT CheckAddress(ZavtUAddress address)
{
    return address == 0 ? E_INVALIDARG : S_OK;
}

}  // namespace

long ZavtGetSpecialBuildNumber()
{
    return g_specialBuildNumber;
}

void ZavtSetSpecialBuildNumber(long value)
{
    g_specialBuildNumber = value;
}

HRESULT ZavtNeedsDevice()
{
    SetErrorInfo(0, nullptr);
    return E_NOTIMPL;
}

CZAVTControl* ZavtCurrentControl()
{
    return g_currentControl;
}

// ---- the control ----

CZAVTControl::CZAVTControl()
{
    g_currentControl = this;
    if (FAILED(CoCreateGuid(&sessionGuid_)))
        sessionGuid_ = GUID{};
}

CZAVTControl::~CZAVTControl()
{
    InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_currentControl), nullptr, this);
}

STDMETHODIMP CZAVTControl::get_Devices(IZAVTDeviceCollection** pVal)
{
    if (pVal)
        *pVal = nullptr;
    // No device context is connected yet: the failure of its creation, as every client sees it.
    return Error(IDS_ERR_DEVICE_INIT, E_NOTIMPL);
}

STDMETHODIMP CZAVTControl::DeleteFile(long, ZAVTStorageType, BSTR)
{
    return E_NOTIMPL;
}

STDMETHODIMP CZAVTControl::get_SpecialBuildNumber(long* pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = ZavtGetSpecialBuildNumber();
    return S_OK;
}

STDMETHODIMP CZAVTControl::put_SpecialBuildNumber(long newVal)
{
    ZavtSetSpecialBuildNumber(newVal);
    return S_OK;
}

STDMETHODIMP CZAVTControl::GetSessionID(ZavtAddress lpcSessionID)
{
    if (FAILED(CheckAddress(static_cast<ZavtUAddress>(lpcSessionID))))
        return E_INVALIDARG;
    return ZavtNeedsDevice();
}

STDMETHODIMP CZAVTControl::GetClassInfo(ITypeInfo** ppTI)
{
    return _Module.GetTypeInfo(CLSID_ZAVTControl, ppTI);
}

STDMETHODIMP CZAVTControl::GetGUID(DWORD kind, GUID* pGUID)
{
    if (!pGUID)
        return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *pGUID = GUID{};
        return E_INVALIDARG;
    }
    *pGUID = DIID__IZAVTControlEvents;
    return S_OK;
}

HRESULT CZAVTControl::OnDraw(ATL_DRAWINFO& di)
{
    const RECTL& rc = *di.prcBounds;
    Rectangle(di.hdcDraw, rc.left, rc.top, rc.right, rc.bottom);
    SetTextAlign(di.hdcDraw, TA_CENTER | TA_BASELINE);
    static const wchar_t kText[] = L"Orvande Player Control";
    TextOutW(di.hdcDraw, (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2, kText,
             static_cast<int>(std::size(kText) - 1));
    return S_OK;
}

HRESULT CZAVTControl::FireObject(DISPID id, IDispatch* object, const long* number)
{
    // Arguments in reverse order: the number (when there is one) comes first.
    VARIANT args[2];
    UINT count = 0;
    if (number) {
        VariantInit(&args[count]);
        args[count].vt = VT_I4;
        args[count].lVal = *number;
        ++count;
    }
    VariantInit(&args[count]);
    args[count].vt = VT_DISPATCH;
    args[count].pdispVal = object;
    ++count;
    return AtlFireDispatch(Sinks(), id, args, count);
}

HRESULT CZAVTControl::FireHError(long errContext, long hresErrCode)
{
    VARIANT args[2];
    VariantInit(&args[0]);
    args[0].vt = VT_I4;
    args[0].lVal = hresErrCode;
    VariantInit(&args[1]);
    args[1].vt = VT_I4;
    args[1].lVal = errContext;
    return AtlFireDispatch(Sinks(), 15, args, 2);
}

// ---- the device ----

STDMETHODIMP CZAVTDevice::get_Name(BSTR* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_Storages(IZAVTStorageCollection** pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_DeviceID(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::Download(ZAVTStorageType, BSTR, BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::Upload(ZAVTStorageType, BSTR, BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::ForceUpdate()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::DownloadFont(ZAVTFontType, BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::DownloadFontAsync(ZAVTFontType, BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::EraseFont()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::EraseFontAsync()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::CancelOperation()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::FirmwareUpgrade(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::get_Model(ZAVTDeviceModelType* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_SupportFirmwareUpgrade(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_FirmwareVersion(BSTR* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_SupportFMRadio(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::DownloadConfig(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::UploadConfig(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::get_FontPresent(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::DownloadMemo(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::UploadMemo(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::get_SectorsPerClusterInternal(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_DeviceUniqueID(BSTR* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::put_DeviceUniqueID(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::get_FirmwareDate(BSTR* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::DownloadImage(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::UploadImage(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTDevice::get_SupportImages(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTDevice::get_DiagnosticInfo(BSTR* pVal)
{
    return NeedsDevice(pVal);
}

#define ZAVT_ADDRESS_MEMBER(Name)                                     \
    STDMETHODIMP CZAVTDevice::Name(ZavtAddress address)               \
    {                                                                 \
        if (FAILED(CheckAddress(static_cast<ZavtUAddress>(address)))) \
            return E_INVALIDARG;                                      \
        return ZavtNeedsDevice();                                     \
    }
ZAVT_ADDRESS_MEMBER(GetPersonalID)
ZAVT_ADDRESS_MEMBER(PutPersonalID)
ZAVT_ADDRESS_MEMBER(PutMarkID)
ZAVT_ADDRESS_MEMBER(GetMarkID)
ZAVT_ADDRESS_MEMBER(PutSN)
ZAVT_ADDRESS_MEMBER(GetSN)

// ---- storage ----

STDMETHODIMP CZAVTStorage::get_Name(BSTR* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::get_ParentDeviceID(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::get_Type(ZAVTStorageType* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::get_TotalSize(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::get_FreeSize(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::get_RootFolder(IZAVTFolder** pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::Download(BSTR, BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTStorage::Format()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTStorage::Initialize()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTStorage::FormatAsync()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTStorage::CancelOperation()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTStorage::get_Unformatted(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTStorage::get_ReadOnly(long* pVal)
{
    return NeedsDevice(pVal);
}

// ---- folder ----

STDMETHODIMP CZAVTFolder::get_Name(BSTR* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::put_Name(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::get_Path(BSTR* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_Storage(IZAVTStorage** pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_ParentFolder(IZAVTFolder** pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_IsRootFolder(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_SubFolders(IZAVTFolderCollection** pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_Files(IZAVTFileCollection** pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_Size(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_Attributes(ZAVTFileAttribute* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::put_Attributes(ZAVTFileAttribute)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::get_DateLastModified(DATE* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_DateCreated(DATE* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::get_SupportsFolders(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::Delete()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::get_PlayIndex(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::put_PlayIndex(long)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::CreateSubfolder(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::Download(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::get_FileSystemID(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFolder::MoveFolderInside(IZAVTFolder*)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::MoveFileInside(IZAVTFile*)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFolder::CreateNewFile(BSTR, IZAVTFile** pNewFile)
{
    return NeedsDevice(pNewFile);
}

// ---- file ----

STDMETHODIMP CZAVTFile::get_Name(BSTR* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::put_Name(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_Path(BSTR* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_Storage(IZAVTStorage** pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_ParentFolder(IZAVTFolder** pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_Attributes(ZAVTFileAttribute* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::put_Attributes(ZAVTFileAttribute)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_DateLastModified(DATE* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_Size(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::Delete()
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_DateCreated(DATE* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::Upload(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_PlayIndex(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::put_PlayIndex(long)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_Channels(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_SampleRate(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::get_Bitrate(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::UploadTo(BSTR)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::get_FileSystemID(long* pVal)
{
    return NeedsDevice(pVal);
}
STDMETHODIMP CZAVTFile::OpenFile(ZAVTFileMode)
{
    return ZavtNeedsDevice();
}
STDMETHODIMP CZAVTFile::CloseFile()
{
    return ZavtNeedsDevice();
}

STDMETHODIMP CZAVTFile::Write(ZavtUAddress lpData, ULONG)
{
    if (FAILED(CheckAddress(lpData)))
        return E_INVALIDARG;
    return ZavtNeedsDevice();
}

STDMETHODIMP CZAVTFile::Read(ZavtUAddress lpData, ULONG, ULONG* pdwSizeRead)
{
    if (pdwSizeRead)
        *pdwSizeRead = 0;
    if (FAILED(CheckAddress(lpData)))
        return E_INVALIDARG;
    return ZavtNeedsDevice();
}
