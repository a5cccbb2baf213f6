// Drawing of a control through the view interfaces: a container (or a test) hands the control a device
// context and bounds, and the control's OnDraw paints into it.
#pragma once

#include "platform/atl/atlcom.h"

// What OnDraw is given: the device context and the bounds to draw in.
struct ATL_DRAWINFO {
    UINT cbSize;
    DWORD dwDrawAspect;
    LONG lindex;
    DVTARGETDEVICE* ptd;
    HDC hicTargetDev;
    HDC hdcDraw;
    LPCRECTL prcBounds;
    LPCRECTL prcWBounds;
};

// The state a control shares among its interfaces: its extent in HIMETRIC units (two inches square until
// a container sets another), its client site, whether it changed since it was last saved, and its
// in-place state (the site it is active in, windowless or in a child window of its own, and where).
class CComControlBase {
public:
    CComControlBase() = default;
    CComControlBase(const CComControlBase&) = delete;
    CComControlBase& operator=(const CComControlBase&) = delete;
    ~CComControlBase()
    {
        if (m_hWnd)
            DestroyWindow(m_hWnd);
        if (m_spInPlaceSite)
            m_spInPlaceSite->Release();
        if (m_spClientSite)
            m_spClientSite->Release();
    }

    SIZEL m_sizeExtent{2 * 2540, 2 * 2540};
    IOleClientSite* m_spClientSite = nullptr;
    bool m_bRequiresSave = false;

    IOleInPlaceSite* m_spInPlaceSite = nullptr;
    bool m_bInPlaceActive = false;
    bool m_bUIActive = false;
    bool m_bWndLess = false;
    HWND m_hWnd = nullptr;
    RECT m_rcPos{};
};

// The child window of a control active in place in a site without windowless support; it paints
// through the control's OnDraw. T is the control, reached through the window's user data.
template <class T>
class CComControlWindow {
public:
    static HWND Create(T* control, HWND parent, const RECT& pos)
    {
        static const ATOM atom = Register();
        if (!atom)
            return nullptr;
        return CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(atom)), L"",
                               WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, pos.left, pos.top, pos.right - pos.left,
                               pos.bottom - pos.top, parent, nullptr, Module(), control);
    }

private:
    // The module that holds this code (the server's DLL, or a test's program).
    static HINSTANCE Module()
    {
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&Proc), &module);
        return module;
    }
    static ATOM Register()
    {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = Proc;
        wc.hInstance = Module();
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        // One class per control type and process: the address of this function tells them apart.
        wchar_t name[64];
        wsprintfW(name, L"AtlControlWindow:%p", reinterpret_cast<void*>(&Proc));
        wc.lpszClassName = name;
        return RegisterClassExW(&wc);
    }
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        }
        T* t = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if ((msg == WM_PAINT || msg == WM_PRINTCLIENT) && t) {
            PAINTSTRUCT ps;
            HDC dc = msg == WM_PAINT ? BeginPaint(hwnd, &ps) : reinterpret_cast<HDC>(wp);
            RECT rc;
            GetClientRect(hwnd, &rc);
            const RECTL bounds{rc.left, rc.top, rc.right, rc.bottom};
            ATL_DRAWINFO di{sizeof(ATL_DRAWINFO), DVASPECT_CONTENT, -1, nullptr, nullptr, dc, &bounds, nullptr};
            t->OnDraw(di);
            if (msg == WM_PAINT)
                EndPaint(hwnd, &ps);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
};

template <class T>
void AtlSetActiveObject(T* t, IOleInPlaceActiveObject* active);
template <class T>
HRESULT AtlInPlaceDeactivate(T* t);

// In-place activation of a control T (a CComControlBase whose IOleInPlaceActiveObject is reached through
// QueryInterface): windowless where the site allows it, else in a child window of the site's window;
// verb OLEIVERB_UIACTIVATE also makes it the UI-active object of the site's frame and document.
template <class T>
HRESULT AtlInPlaceActivate(T* t, LONG verb)
{
    if (!t->m_spClientSite)
        return E_UNEXPECTED;
    if (!t->m_bInPlaceActive) {
        IOleInPlaceSiteWindowless* wl = nullptr;
        IOleInPlaceSiteEx* ex = nullptr;
        IOleInPlaceSite* site = nullptr;
        if (SUCCEEDED(t->m_spClientSite->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&wl))))
            site = wl;
        else if (SUCCEEDED(t->m_spClientSite->QueryInterface(IID_IOleInPlaceSiteEx, reinterpret_cast<void**>(&ex))))
            site = ex;
        else if (FAILED(t->m_spClientSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))))
            return E_FAIL;
        if (site->CanInPlaceActivate() != S_OK) {
            site->Release();
            return E_FAIL;
        }
        const bool windowless = wl && wl->CanWindowlessActivate() == S_OK;
        BOOL noRedraw = FALSE;
        HRESULT hr = wl   ? wl->OnInPlaceActivateEx(&noRedraw, windowless ? ACTIVATE_WINDOWLESS : 0)
                     : ex ? ex->OnInPlaceActivateEx(&noRedraw, 0)
                          : site->OnInPlaceActivate();
        if (FAILED(hr)) {
            site->Release();
            return hr;
        }
        t->m_spInPlaceSite = site;
        t->m_bInPlaceActive = true;
        t->m_bWndLess = windowless;

        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* doc = nullptr;
        RECT clip{};
        OLEINPLACEFRAMEINFO info{};
        info.cb = sizeof info;
        hr = site->GetWindowContext(&frame, &doc, &t->m_rcPos, &clip, &info);
        if (frame)
            frame->Release();
        if (doc)
            doc->Release();
        HWND parent = nullptr;
        if (SUCCEEDED(hr) && !windowless && SUCCEEDED(site->GetWindow(&parent)))
            t->m_hWnd = CComControlWindow<T>::Create(t, parent, t->m_rcPos);
        if (FAILED(hr) || (!windowless && !t->m_hWnd)) {
            AtlInPlaceDeactivate(t);
            return FAILED(hr) ? hr : E_FAIL;
        }
    }
    if (verb == OLEIVERB_UIACTIVATE && !t->m_bUIActive) {
        HRESULT hr = t->m_spInPlaceSite->OnUIActivate();
        if (FAILED(hr))
            return hr;
        t->m_bUIActive = true;
        IOleInPlaceActiveObject* active = nullptr;
        static_cast<IOleObject*>(t)->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active));
        AtlSetActiveObject(t, active);
        if (active)
            active->Release();
    }
    return S_OK;
}

// Tells the site's frame and document which object is UI-active (null: none).
template <class T>
void AtlSetActiveObject(T* t, IOleInPlaceActiveObject* active)
{
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* doc = nullptr;
    RECT pos{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    if (FAILED(t->m_spInPlaceSite->GetWindowContext(&frame, &doc, &pos, &clip, &info)))
        return;
    if (frame) {
        frame->SetActiveObject(active, nullptr);
        frame->Release();
    }
    if (doc) {
        doc->SetActiveObject(active, nullptr);
        doc->Release();
    }
}

template <class T>
HRESULT AtlUIDeactivate(T* t)
{
    if (!t->m_bInPlaceActive || !t->m_bUIActive)
        return S_OK;
    t->m_bUIActive = false;
    AtlSetActiveObject(t, nullptr);
    t->m_spInPlaceSite->OnUIDeactivate(FALSE);
    return S_OK;
}

template <class T>
HRESULT AtlInPlaceDeactivate(T* t)
{
    if (!t->m_bInPlaceActive)
        return S_OK;
    AtlUIDeactivate(t);
    t->m_bInPlaceActive = false;
    if (t->m_hWnd) {
        DestroyWindow(t->m_hWnd);
        t->m_hWnd = nullptr;
    }
    IOleInPlaceSite* site = t->m_spInPlaceSite;
    t->m_spInPlaceSite = nullptr;
    IOleInPlaceSiteEx* ex = nullptr;
    if (SUCCEEDED(site->QueryInterface(IID_IOleInPlaceSiteEx, reinterpret_cast<void**>(&ex)))) {
        ex->OnInPlaceDeactivateEx(TRUE);
        ex->Release();
    } else {
        site->OnInPlaceDeactivate();
    }
    site->Release();
    t->m_bWndLess = false;
    return S_OK;
}

// IViewObjectEx (with IViewObject2 and IViewObject) of a control T (a CComControlBase) that has
// HRESULT OnDraw(ATL_DRAWINFO&).
template <class T>
class IViewObjectExImpl : public IViewObjectEx {
public:
    ~IViewObjectExImpl()
    {
        if (adviseSink_)
            adviseSink_->Release();
    }

    STDMETHOD(Draw)
    (DWORD aspect, LONG lindex, void*, DVTARGETDEVICE* ptd, HDC hdcTargetDev, HDC hdcDraw, LPCRECTL bounds,
     LPCRECTL wbounds, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override
    {
        if (!hdcDraw || !bounds)
            return E_INVALIDARG;
        if (aspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        ATL_DRAWINFO di{sizeof(ATL_DRAWINFO), aspect, lindex, ptd, hdcTargetDev, hdcDraw, bounds, wbounds};
        return static_cast<T*>(this)->OnDraw(di);
    }
    STDMETHOD(GetColorSet)(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) override
    {
        if (colors)
            *colors = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(Freeze)(DWORD, LONG, void*, DWORD* freeze) override
    {
        if (freeze)
            *freeze = 0;
        return E_NOTIMPL;
    }
    STDMETHOD(Unfreeze)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(SetAdvise)(DWORD aspects, DWORD advf, IAdviseSink* sink) override
    {
        if (sink)
            sink->AddRef();
        if (adviseSink_)
            adviseSink_->Release();
        adviseSink_ = sink;
        adviseAspects_ = aspects;
        adviseFlags_ = advf;
        return S_OK;
    }
    STDMETHOD(GetAdvise)(DWORD* aspects, DWORD* advf, IAdviseSink** sink) override
    {
        if (aspects)
            *aspects = adviseAspects_;
        if (advf)
            *advf = adviseFlags_;
        if (sink) {
            *sink = adviseSink_;
            if (adviseSink_)
                adviseSink_->AddRef();
        }
        return S_OK;
    }
    STDMETHOD(GetExtent)(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override
    {
        if (!size)
            return E_POINTER;
        if (aspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        *size = static_cast<T*>(this)->m_sizeExtent;
        return S_OK;
    }
    STDMETHOD(GetRect)(DWORD, LPRECTL rect) override
    {
        if (rect)
            *rect = RECTL{};
        return E_NOTIMPL;
    }
    STDMETHOD(GetViewStatus)(DWORD* status) override
    {
        if (!status)
            return E_POINTER;
        *status = VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE;
        return S_OK;
    }
    STDMETHOD(QueryHitPoint)(DWORD aspect, LPCRECT bounds, POINT pt, LONG, DWORD* result) override
    {
        if (!bounds || !result)
            return E_POINTER;
        if (aspect != DVASPECT_CONTENT)
            return E_FAIL;
        *result = PtInRect(bounds, pt) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
        return S_OK;
    }
    STDMETHOD(QueryHitRect)(DWORD aspect, LPCRECT bounds, LPCRECT loc, LONG, DWORD* result) override
    {
        if (!bounds || !loc || !result)
            return E_POINTER;
        if (aspect != DVASPECT_CONTENT)
            return E_FAIL;
        RECT overlap;
        *result = IntersectRect(&overlap, bounds, loc) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
        return S_OK;
    }
    STDMETHOD(GetNaturalExtent)(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL size) override
    {
        if (size)
            *size = SIZEL{};
        return E_NOTIMPL;
    }

private:
    IAdviseSink* adviseSink_ = nullptr;
    DWORD adviseAspects_ = 0;
    DWORD adviseFlags_ = 0;
};

// IOleObject of a control T (a CComControlBase with GetObjectCLSID). Sited by its container; the
// misc-status bits are kMiscStatus for the content aspect. No verbs of its own beyond showing itself.
template <class T, DWORD kMiscStatus>
class IOleObjectImpl : public IOleObject {
public:
    STDMETHOD(SetClientSite)(IOleClientSite* site) override
    {
        T* t = static_cast<T*>(this);
        if (!site)
            AtlInPlaceDeactivate(t);
        if (site)
            site->AddRef();
        if (t->m_spClientSite)
            t->m_spClientSite->Release();
        t->m_spClientSite = site;
        return S_OK;
    }
    STDMETHOD(GetClientSite)(IOleClientSite** site) override
    {
        if (!site)
            return E_POINTER;
        *site = static_cast<T*>(this)->m_spClientSite;
        if (*site)
            (*site)->AddRef();
        return S_OK;
    }
    STDMETHOD(SetHostNames)(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHOD(Close)(DWORD) override { return AtlInPlaceDeactivate(static_cast<T*>(this)); }
    STDMETHOD(SetMoniker)(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker** mk) override
    {
        if (mk)
            *mk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(InitFromData)(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(GetClipboardData)(DWORD, IDataObject** data) override
    {
        if (data)
            *data = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(DoVerb)(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        T* t = static_cast<T*>(this);
        switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE:
            return AtlInPlaceActivate(t, verb);
        case OLEIVERB_HIDE:
            AtlUIDeactivate(t);
            if (t->m_hWnd)
                ShowWindow(t->m_hWnd, SW_HIDE);
            return S_OK;
        default:
            return OLEOBJ_S_INVALIDVERB;
        }
    }
    STDMETHOD(EnumVerbs)(IEnumOLEVERB** verbs) override
    {
        if (verbs)
            *verbs = nullptr;
        return OLEOBJ_E_NOVERBS;
    }
    STDMETHOD(Update)() override { return S_OK; }
    STDMETHOD(IsUpToDate)() override { return S_OK; }
    STDMETHOD(GetUserClassID)(CLSID* clsid) override
    {
        if (!clsid)
            return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }
    STDMETHOD(GetUserType)(DWORD form, LPOLESTR* name) override
    {
        return OleRegGetUserType(T::GetObjectCLSID(), form, name);
    }
    STDMETHOD(SetExtent)(DWORD aspect, SIZEL* size) override
    {
        if (aspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        if (!size)
            return E_POINTER;
        T* t = static_cast<T*>(this);
        if (size->cx != t->m_sizeExtent.cx || size->cy != t->m_sizeExtent.cy)
            t->m_bRequiresSave = true;
        t->m_sizeExtent = *size;
        return S_OK;
    }
    STDMETHOD(GetExtent)(DWORD aspect, SIZEL* size) override
    {
        if (aspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        if (!size)
            return E_POINTER;
        *size = static_cast<T*>(this)->m_sizeExtent;
        return S_OK;
    }
    STDMETHOD(Advise)(IAdviseSink*, DWORD* connection) override
    {
        if (connection)
            *connection = 0;
        return E_NOTIMPL;
    }
    STDMETHOD(Unadvise)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(EnumAdvise)(IEnumSTATDATA** e) override
    {
        if (e)
            *e = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(GetMiscStatus)(DWORD aspect, DWORD* status) override
    {
        if (!status)
            return E_POINTER;
        *status = aspect == DVASPECT_CONTENT ? kMiscStatus : 0;
        return S_OK;
    }
    STDMETHOD(SetColorScheme)(LOGPALETTE*) override { return E_NOTIMPL; }
};

// IOleControl: no mnemonics, ambient changes need nothing.
template <class T>
class IOleControlImpl : public IOleControl {
public:
    STDMETHOD(GetControlInfo)(CONTROLINFO* info) override
    {
        if (!info)
            return E_POINTER;
        info->hAccel = nullptr;
        info->cAccel = 0;
        info->dwFlags = 0;
        return S_OK;
    }
    STDMETHOD(OnMnemonic)(MSG*) override { return E_NOTIMPL; }
    STDMETHOD(OnAmbientPropertyChange)(DISPID) override { return S_OK; }
    STDMETHOD(FreezeEvents)(BOOL) override { return S_OK; }
};

// IPersistStreamInit of a control T (a CComControlBase with GetObjectCLSID): what it persists is its
// extent, after a version word.
template <class T>
class IPersistStreamInitImpl : public IPersistStreamInit {
public:
    static constexpr DWORD kVersion = 0x0300;

    STDMETHOD(GetClassID)(CLSID* clsid) override
    {
        if (!clsid)
            return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }
    STDMETHOD(IsDirty)() override { return static_cast<T*>(this)->m_bRequiresSave ? S_OK : S_FALSE; }
    STDMETHOD(Load)(LPSTREAM stream) override
    {
        if (!stream)
            return E_POINTER;
        struct {
            DWORD version;
            SIZEL extent;
        } data{};
        ULONG read = 0;
        HRESULT hr = stream->Read(&data, sizeof data, &read);
        if (FAILED(hr))
            return hr;
        if (read != sizeof data || data.version > kVersion || data.extent.cx < 0 || data.extent.cy < 0)
            return E_FAIL;
        T* t = static_cast<T*>(this);
        t->m_sizeExtent = data.extent;
        t->m_bRequiresSave = false;
        return S_OK;
    }
    STDMETHOD(Save)(LPSTREAM stream, BOOL clearDirty) override
    {
        if (!stream)
            return E_POINTER;
        T* t = static_cast<T*>(this);
        struct {
            DWORD version;
            SIZEL extent;
        } data{kVersion, t->m_sizeExtent};
        ULONG written = 0;
        HRESULT hr = stream->Write(&data, sizeof data, &written);
        if (FAILED(hr))
            return hr;
        if (written != sizeof data)
            return STG_E_MEDIUMFULL;
        if (clearDirty)
            t->m_bRequiresSave = false;
        return S_OK;
    }
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* size) override
    {
        if (!size)
            return E_POINTER;
        size->QuadPart = sizeof(DWORD) + sizeof(SIZEL);
        return S_OK;
    }
    STDMETHOD(InitNew)() override
    {
        static_cast<T*>(this)->m_bRequiresSave = false;
        return S_OK;
    }
};

// IOleInPlaceObjectWindowless (with IOleInPlaceObject and IOleWindow) of a control T: deactivation, its
// position, and the messages of a windowless control (it handles none: it only draws).
template <class T>
class IOleInPlaceObjectWindowlessImpl : public IOleInPlaceObjectWindowless {
public:
    STDMETHOD(GetWindow)(HWND* hwnd) override
    {
        if (!hwnd)
            return E_POINTER;
        *hwnd = static_cast<T*>(this)->m_hWnd;
        return *hwnd ? S_OK : E_FAIL;
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(InPlaceDeactivate)() override { return AtlInPlaceDeactivate(static_cast<T*>(this)); }
    STDMETHOD(UIDeactivate)() override { return AtlUIDeactivate(static_cast<T*>(this)); }
    STDMETHOD(SetObjectRects)(LPCRECT pos, LPCRECT) override
    {
        if (!pos)
            return E_POINTER;
        T* t = static_cast<T*>(this);
        t->m_rcPos = *pos;
        if (t->m_hWnd)
            SetWindowPos(t->m_hWnd, nullptr, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        return S_OK;
    }
    STDMETHOD(ReactivateAndUndo)() override { return E_NOTIMPL; }
    STDMETHOD(OnWindowMessage)(UINT, WPARAM, LPARAM, LRESULT* result) override
    {
        if (result)
            *result = 0;
        return S_FALSE;
    }
    STDMETHOD(GetDropTarget)(IDropTarget** target) override
    {
        if (!target)
            return E_POINTER;
        *target = nullptr;
        return E_NOTIMPL;
    }
};

// IOleInPlaceActiveObject of a control T: no accelerators, no frame tools of its own.
template <class T>
class IOleInPlaceActiveObjectImpl : public IOleInPlaceActiveObject {
public:
    STDMETHOD(GetWindow)(HWND* hwnd) override
    {
        if (!hwnd)
            return E_POINTER;
        *hwnd = static_cast<T*>(this)->m_hWnd;
        return *hwnd ? S_OK : E_FAIL;
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(TranslateAccelerator)(LPMSG) override { return S_FALSE; }
    STDMETHOD(OnFrameWindowActivate)(BOOL) override { return S_OK; }
    STDMETHOD(OnDocWindowActivate)(BOOL) override { return S_OK; }
    STDMETHOD(ResizeBorder)(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHOD(EnableModeless)(BOOL) override { return S_OK; }
};

// IQuickActivate of a control T: sites it, advises the container's view sink and its event sink (on the
// control's default source interface, named by IProvideClassInfo2) in one call, and answers the
// control's misc and view status.
template <class T>
class IQuickActivateImpl : public IQuickActivate {
public:
    STDMETHOD(QuickActivate)(QACONTAINER* container, QACONTROL* control) override
    {
        if (!container || !control)
            return E_POINTER;
        if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL))
            return E_INVALIDARG;
        T* t = static_cast<T*>(this);
        const ULONG size = control->cbSize;
        *control = QACONTROL{};
        control->cbSize = size;
        HRESULT hr = static_cast<IOleObject*>(t)->SetClientSite(container->pClientSite);
        if (FAILED(hr))
            return hr;
        if (container->pAdviseSink)
            static_cast<IViewObjectEx*>(t)->SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
        if (container->pUnkEventSink) {
            CComPtr<IProvideClassInfo2> info;
            CComPtr<IConnectionPointContainer> cpc;
            CComPtr<IConnectionPoint> cp;
            IID source{};
            IUnknown* self = static_cast<IOleObject*>(t);
            if (SUCCEEDED(self->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info))) &&
                SUCCEEDED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source)) &&
                SUCCEEDED(self->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc))) &&
                SUCCEEDED(cpc->FindConnectionPoint(source, &cp))) {
                hr = cp->Advise(container->pUnkEventSink, &control->dwEventCookie);
                if (FAILED(hr))
                    return hr;
            }
        }
        static_cast<IOleObject*>(t)->GetMiscStatus(DVASPECT_CONTENT, &control->dwMiscStatus);
        static_cast<IViewObjectEx*>(t)->GetViewStatus(&control->dwViewStatus);
        return S_OK;
    }
    STDMETHOD(SetContentExtent)(LPSIZEL size) override
    {
        if (!size)
            return E_POINTER;
        return static_cast<IOleObject*>(static_cast<T*>(this))->SetExtent(DVASPECT_CONTENT, size);
    }
    STDMETHOD(GetContentExtent)(LPSIZEL size) override
    {
        if (!size)
            return E_POINTER;
        *size = static_cast<T*>(this)->m_sizeExtent;
        return S_OK;
    }
};

// IPersistStorage of a control T that has IPersistStreamInit: its state is the stream "Contents" of the
// container's storage.
template <class T>
class IPersistStorageImpl : public IPersistStorage {
public:
    STDMETHOD(GetClassID)(CLSID* clsid) override
    {
        if (!clsid)
            return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }
    STDMETHOD(IsDirty)() override { return static_cast<T*>(this)->m_bRequiresSave ? S_OK : S_FALSE; }
    STDMETHOD(InitNew)(IStorage* storage) override
    {
        if (!storage)
            return E_POINTER;
        return Stream()->InitNew();
    }
    STDMETHOD(Load)(IStorage* storage) override
    {
        if (!storage)
            return E_POINTER;
        CComPtr<IStream> stream;
        HRESULT hr = storage->OpenStream(kStreamName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
        if (FAILED(hr))
            return hr;
        return Stream()->Load(stream);
    }
    STDMETHOD(Save)(IStorage* storage, BOOL sameAsLoad) override
    {
        if (!storage)
            return E_POINTER;
        CComPtr<IStream> stream;
        HRESULT hr = storage->CreateStream(kStreamName, STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0, &stream);
        if (FAILED(hr))
            return hr;
        return Stream()->Save(stream, sameAsLoad);
    }
    STDMETHOD(SaveCompleted)(IStorage*) override { return S_OK; }
    STDMETHOD(HandsOffStorage)() override { return S_OK; }

private:
    static constexpr const wchar_t* kStreamName = L"Contents";
    IPersistStreamInit* Stream() { return static_cast<IPersistStreamInit*>(static_cast<T*>(this)); }
};

// IDataObject of a control T: its picture as an enhanced metafile drawn by OnDraw, and data advise
// connections kept by OLE's advise holder.
template <class T>
class IDataObjectImpl : public IDataObject {
public:
    ~IDataObjectImpl()
    {
        if (adviseHolder_)
            adviseHolder_->Release();
    }

    STDMETHOD(GetData)(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (!format || !medium)
            return E_POINTER;
        *medium = STGMEDIUM{};
        HRESULT hr = QueryGetData(format);
        if (hr != S_OK)
            return hr;
        T* t = static_cast<T*>(this);
        // The picture's frame in HIMETRIC units, its drawing in the screen's pixels.
        const SIZEL extent = t->m_sizeExtent;
        HDC screen = GetDC(nullptr);
        const LONG cx = MulDiv(extent.cx, GetDeviceCaps(screen, LOGPIXELSX), 2540);
        const LONG cy = MulDiv(extent.cy, GetDeviceCaps(screen, LOGPIXELSY), 2540);
        const RECT frame{0, 0, extent.cx, extent.cy};
        HDC dc = CreateEnhMetaFileW(screen, nullptr, &frame, nullptr);
        ReleaseDC(nullptr, screen);
        if (!dc)
            return E_OUTOFMEMORY;
        const RECTL bounds{0, 0, cx, cy};
        ATL_DRAWINFO di{sizeof(ATL_DRAWINFO), DVASPECT_CONTENT, -1, nullptr, nullptr, dc, &bounds, nullptr};
        hr = t->OnDraw(di);
        HENHMETAFILE emf = CloseEnhMetaFile(dc);
        if (!emf)
            return E_OUTOFMEMORY;
        if (FAILED(hr)) {
            DeleteEnhMetaFile(emf);
            return hr;
        }
        medium->tymed = TYMED_ENHMF;
        medium->hEnhMetaFile = emf;
        return S_OK;
    }
    STDMETHOD(GetDataHere)(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHOD(QueryGetData)(FORMATETC* format) override
    {
        if (!format)
            return E_POINTER;
        if (format->cfFormat != CF_ENHMETAFILE || !(format->tymed & TYMED_ENHMF))
            return DV_E_FORMATETC;
        if (format->dwAspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        return S_OK;
    }
    STDMETHOD(GetCanonicalFormatEtc)(FORMATETC*, FORMATETC* out) override
    {
        if (!out)
            return E_POINTER;
        out->ptd = nullptr;
        return DATA_S_SAMEFORMATETC;
    }
    STDMETHOD(SetData)(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHOD(EnumFormatEtc)(DWORD, IEnumFORMATETC** e) override
    {
        if (!e)
            return E_POINTER;
        *e = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(DAdvise)(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) override
    {
        if (!connection)
            return E_POINTER;
        *connection = 0;
        if (!adviseHolder_) {
            HRESULT hr = CreateDataAdviseHolder(&adviseHolder_);
            if (FAILED(hr))
                return hr;
        }
        return adviseHolder_->Advise(this, format, advf, sink, connection);
    }
    STDMETHOD(DUnadvise)(DWORD connection) override
    {
        return adviseHolder_ ? adviseHolder_->Unadvise(connection) : OLE_E_NOCONNECTION;
    }
    STDMETHOD(EnumDAdvise)(IEnumSTATDATA** e) override
    {
        if (!e)
            return E_POINTER;
        *e = nullptr;
        return adviseHolder_ ? adviseHolder_->EnumAdvise(e) : OLE_E_ADVISENOTSUPPORTED;
    }

private:
    IDataAdviseHolder* adviseHolder_ = nullptr;
};

// ISpecifyPropertyPages of a control with no property pages.
template <class T>
class ISpecifyPropertyPagesImpl : public ISpecifyPropertyPages {
public:
    STDMETHOD(GetPages)(CAUUID* pages) override
    {
        if (!pages)
            return E_POINTER;
        pages->cElems = 0;
        pages->pElems = nullptr;
        return S_OK;
    }
};
