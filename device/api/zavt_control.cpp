// The ActiveX control of ZAVTCTRL.
#include "device/api/zavt_control.h"

#include "device/api/device_context.h"
#include "device/api/zavt_device.h"

#include <iterator>
#include <mutex>

namespace {

CZAVTControl* volatile g_currentControl = nullptr;

// Held while an event goes through the current control, and while a control comes or goes, so no
// event reaches a control that is being freed.
std::recursive_mutex& CurrentControlMutex()
{
    static std::recursive_mutex m;
    return m;
}

}  // namespace

CZAVTControl* ZavtCurrentControl()
{
    return g_currentControl;
}

bool ZavtWithCurrentControl(const std::function<void(CZAVTControl&)>& use)
{
    std::lock_guard<std::recursive_mutex> hold(CurrentControlMutex());
    CZAVTControl* control = g_currentControl;
    if (!control)
        return false;
    use(*control);
    return true;
}

void ZavtFireDownloadStart()
{
    ZavtWithCurrentControl([](CZAVTControl& control) {
        control.FireDownloadFileStart(nullptr);
        control.SetOperationKind(kZavtOperationDownload);
    });
}

void ZavtFireDownloadEnd()
{
    ZavtWithCurrentControl([](CZAVTControl& control) {
        control.FireDownloadFileEnd(nullptr);
        control.SetOperationKind(kZavtOperationNone);
    });
}

DISPID ZavtPercentEventOf(long kind)
{
    switch (kind) {
    case kZavtOperationDownload:
        return 12;  // DownloadFilePercent
    case kZavtOperationUpload:
        return 9;  // UploadFilePercent
    case kZavtOperationFormat:
        return 6;  // FormatStoragePercent
    case kZavtOperationDelete:
        return 3;  // DeleteFilePercent
    default:
        return 0;
    }
}

CZAVTControl::CZAVTControl()
{
    {
        std::lock_guard<std::recursive_mutex> hold(CurrentControlMutex());
        g_currentControl = this;
    }
    engine::SetProgressSink(this);
    ZavtNewSessionGuid();
}

CZAVTControl::~CZAVTControl()
{
    {
        std::lock_guard<std::recursive_mutex> hold(CurrentControlMutex());
        InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_currentControl), nullptr, this);
    }
    engine::ReleaseProgressSink(this);
    // The process's device context goes with any control; calls still running keep theirs to the end.
    DeviceContext::Discard();
}

void CZAVTControl::FireProgress()
{
    const DISPID id = ZavtPercentEventOf(operationKind_.load());
    if (id == 0)
        return;
    const long percent = static_cast<long>(progress_.percent);
    FireObject(id, nullptr, &percent);
}

HRESULT CZAVTControl::SetOperationKind(long kind)
{
    operationKind_ = kind;
    return S_OK;
}

STDMETHODIMP CZAVTControl::get_Devices(IZAVTDeviceCollection** pVal)
{
    if (pVal)
        *pVal = nullptr;
    const HRESULT hr = ZavtMakeDeviceCollection(pVal);
    return FAILED(hr) ? Error(IDS_ERR_DEVICE_INIT, hr) : hr;
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
    if (FAILED(ZavtCheckAddress(static_cast<ZavtUAddress>(lpcSessionID))))
        return E_INVALIDARG;
    // A new session: the one an earlier call or control made is no longer taken.
    const GUID session = ZavtNewSessionGuid();
    if (!ZavtSessionEncrypt(reinterpret_cast<const std::uint8_t*>(&session), ZavtBuffer(lpcSessionID), sizeof session))
        return E_FAIL;
    return S_OK;
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
