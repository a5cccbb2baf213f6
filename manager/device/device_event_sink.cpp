#include "manager/device/device_event_sink.h"

#include "manager/device/device_session.h"

#include <memory>
#include <new>

namespace {

constexpr wchar_t kSinkWindowClass[] = L"KwepDeviceEventSink";

// An argument as a long: VT_I4 and the other integer forms an automation caller may pass.
bool ArgumentLong(const VARIANT& v, long* out)
{
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantChangeType(&copy, const_cast<VARIANT*>(&v), 0, VT_I4)))
        return false;
    *out = copy.lVal;
    return true;
}

// An object argument (null allowed) as the interface the event declares.
template <class T>
bool ArgumentObject(const VARIANT& v, CComPtr<T>* out)
{
    IUnknown* unknown = nullptr;
    if (v.vt == VT_DISPATCH)
        unknown = v.pdispVal;
    else if (v.vt == VT_UNKNOWN)
        unknown = v.punkVal;
    else if (v.vt != VT_EMPTY && v.vt != VT_NULL)
        return false;
    if (!unknown)
        return true;
    return SUCCEEDED(unknown->QueryInterface(__uuidof(T), reinterpret_cast<void**>(&*out)));
}

}  // namespace

DeviceEventSink* DeviceEventSink::Create(CDeviceSession* session)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kSinkWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    auto* sink = new (std::nothrow) DeviceEventSink;
    if (!sink)
        return nullptr;
    InitializeCriticalSection(&sink->lock_);
    sink->thread_ = GetCurrentThreadId();
    sink->window_ =
        CreateWindowExW(0, kSinkWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (!sink->window_) {
        sink->Release();
        return nullptr;
    }
    SetWindowLongPtrW(sink->window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(sink));
    sink->session_ = session;
    return sink;
}

DeviceEventSink::~DeviceEventSink()
{
    DeleteCriticalSection(&lock_);
}

void DeviceEventSink::Detach()
{
    EnterCriticalSection(&lock_);
    session_ = nullptr;
    LeaveCriticalSection(&lock_);
    // Nothing is posted once the session is cleared: what is queued now is all there will be.
    DiscardQueued();
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
        window_ = nullptr;
    }
}

void DeviceEventSink::DiscardQueued()
{
    MSG msg;
    while (window_ && PeekMessageW(&msg, window_, WM_DEVICE_EVENT, WM_DEVICE_EVENT, PM_REMOVE))
        delete reinterpret_cast<Event*>(msg.lParam);
}

STDMETHODIMP DeviceEventSink::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IZAVTControlEvents) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) DeviceEventSink::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) DeviceEventSink::Release()
{
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

STDMETHODIMP DeviceEventSink::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP DeviceEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP DeviceEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

STDMETHODIMP DeviceEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT* argError)
{
    if (result)
        VariantInit(result);
    if (id < 1 || id > 15)
        return DISP_E_MEMBERNOTFOUND;
    // The object events (1-12) carry the object first, then the percent; HError carries two longs.
    const bool hasObject = id <= 12;
    const bool hasPercent = hasObject && id % 3 == 0;
    const UINT expected = id == 15 ? 2u : (hasObject ? (hasPercent ? 2u : 1u) : 0u);
    if (!params || params->cArgs != expected || (expected && !params->rgvarg))
        return DISP_E_BADPARAMCOUNT;
    if (params->cNamedArgs != 0)
        return DISP_E_NONAMEDARGS;
    // Arguments come last first.
    auto arg = [&](UINT n) -> const VARIANT& { return params->rgvarg[expected - 1 - n]; };
    auto event = std::unique_ptr<Event>(new (std::nothrow) Event);
    if (!event)
        return E_OUTOFMEMORY;
    event->id = id;
    bool ok = true;
    if (hasObject) {
        ok = (id >= 4 && id <= 6) ? ArgumentObject(arg(0), std::addressof(event->storage)) : ArgumentObject(arg(0), std::addressof(event->file));
        if (ok && hasPercent)
            ok = ArgumentLong(arg(1), &event->first);
    } else if (id == 15) {
        ok = ArgumentLong(arg(0), &event->first) && ArgumentLong(arg(1), &event->second);
    }
    if (!ok) {
        if (argError)
            *argError = 0;
        return DISP_E_TYPEMISMATCH;
    }

    if (GetCurrentThreadId() == thread_)
        return session_ ? Deliver(*event) : S_OK;
    EnterCriticalSection(&lock_);
    HRESULT hr = S_OK;
    if (session_ && window_) {
        if (PostMessageW(window_, WM_DEVICE_EVENT, 0, reinterpret_cast<LPARAM>(event.get())))
            event.release();
        else
            hr = HRESULT_FROM_WIN32(GetLastError());
    }
    LeaveCriticalSection(&lock_);
    return hr;
}

HRESULT DeviceEventSink::Deliver(const Event& e)
{
    CDeviceSession* s = session_;
    switch (e.id) {
    case 1:
        return s->DeleteFileStart(e.file);
    case 2:
        return s->DeleteFileEnd(e.file);
    case 3:
        return s->DeleteFilePercent(e.file, e.first);
    case 4:
        return s->FormatStorageStart(e.storage);
    case 5:
        return s->FormatStorageEnd(e.storage);
    case 6:
        return s->FormatStoragePercent(e.storage, e.first);
    case 7:
        return s->UploadFileStart(e.file);
    case 8:
        return s->UploadFileEnd(e.file);
    case 9:
        return s->UploadFilePercent(e.file, e.first);
    case 10:
        return s->DownloadFileStart(e.file);
    case 11:
        return s->DownloadFileEnd(e.file);
    case 12:
        return s->DownloadFilePercent(e.file, e.first);
    case 13:
        return s->InitializationStart();
    case 14:
        return s->InitializationEnd();
    case 15:
        return s->HError(e.first, e.second);
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

LRESULT CALLBACK DeviceEventSink::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg != WM_DEVICE_EVENT)
        return DefWindowProcW(hwnd, msg, wp, lp);
    std::unique_ptr<Event> event(reinterpret_cast<Event*>(lp));
    auto* sink = reinterpret_cast<DeviceEventSink*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (sink && event && sink->session_) {
        // The handler may release the session's last hold on the sink.
        sink->AddRef();
        sink->Deliver(*event);
        sink->Release();
    }
    return 0;
}
