// The container's side of a hosted control: client site, in-place site and frame, control site and
// ambient properties, in one object per hosted control; the window is followed through a subclass.
#include "platform/atl/atlhost.h"

#include <commctrl.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdlib>
#include <string>

namespace {

// A size in pixels of the screen as HIMETRIC units.
SIZEL ToHimetric(const RECT& rc)
{
    HDC dc = GetDC(nullptr);
    const int dpiX = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 96;
    const int dpiY = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc)
        ReleaseDC(nullptr, dc);
    return SIZEL{MulDiv(rc.right - rc.left, 2540, dpiX > 0 ? dpiX : 96),
                 MulDiv(rc.bottom - rc.top, 2540, dpiY > 0 ? dpiY : 96)};
}

// OLE colours that follow the system's window colours.
constexpr OLE_COLOR kAmbientBackColor = 0x80000000u | COLOR_WINDOW;
constexpr OLE_COLOR kAmbientForeColor = 0x80000000u | COLOR_WINDOWTEXT;

}  // namespace

class CAxHostSite : public CComObjectRootEx,
                    public IOleClientSite,
                    public IOleInPlaceSiteEx,
                    public IOleInPlaceFrame,
                    public IOleControlSite,
                    public IDispatch {
public:
    BEGIN_COM_MAP(CAxHostSite)
    COM_INTERFACE_ENTRY(IOleClientSite)
    COM_INTERFACE_ENTRY(IOleInPlaceSiteEx)
    COM_INTERFACE_ENTRY(IOleInPlaceSite)
    COM_INTERFACE_ENTRY2(IOleWindow, IOleInPlaceSiteEx)
    COM_INTERFACE_ENTRY(IOleInPlaceFrame)
    COM_INTERFACE_ENTRY(IOleInPlaceUIWindow)
    COM_INTERFACE_ENTRY(IOleControlSite)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()

    HRESULT Create(HWND hwnd, LPCOLESTR name);
    // Deactivates, unsites, closes and releases the control and lets the window go; calls arriving later
    // (from a control that kept this site) find no window and no control.
    void Teardown();
    bool HasControl() const { return control_ != nullptr; }
    HRESULT QueryControl(REFIID iid, void** ppv) const
    {
        return control_ ? control_->QueryInterface(iid, ppv) : E_UNEXPECTED;
    }

    // IOleWindow (of the in-place site and of the frame)
    STDMETHOD(GetWindow)(HWND* hwnd) override
    {
        if (!hwnd)
            return E_POINTER;
        *hwnd = hwnd_;
        return hwnd_ ? S_OK : E_FAIL;
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }

    // IOleClientSite
    STDMETHOD(SaveObject)() override { return S_OK; }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker** mk) override
    {
        if (mk)
            *mk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(GetContainer)(IOleContainer** container) override
    {
        if (container)
            *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD(ShowObject)() override { return S_OK; }
    STDMETHOD(OnShowWindow)(BOOL) override { return S_OK; }
    STDMETHOD(RequestNewObjectLayout)() override { return E_NOTIMPL; }

    // IOleInPlaceSite and IOleInPlaceSiteEx
    STDMETHOD(CanInPlaceActivate)() override { return hwnd_ && control_ ? S_OK : S_FALSE; }
    STDMETHOD(OnInPlaceActivate)() override { return OnInPlaceActivateEx(nullptr, 0); }
    STDMETHOD(OnInPlaceActivateEx)(BOOL* noRedraw, DWORD flags) override
    {
        if (noRedraw)
            *noRedraw = FALSE;
        if (!control_)
            return E_UNEXPECTED;
        if (flags & ACTIVATE_WINDOWLESS)
            return E_INVALIDARG;
        CComPtr<IOleInPlaceObject> inPlace;
        HRESULT hr = control_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace));
        if (FAILED(hr))
            return hr;
        inPlace_ = inPlace;
        return S_OK;
    }
    STDMETHOD(OnUIActivate)() override { return control_ ? S_OK : E_UNEXPECTED; }
    STDMETHOD(GetWindowContext)
    (IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override
    {
        if (frame)
            *frame = nullptr;
        if (doc)
            *doc = nullptr;
        if (!frame || !doc || !pos || !clip)
            return E_POINTER;
        if (!hwnd_)
            return E_UNEXPECTED;
        GetClientRect(hwnd_, pos);
        *clip = *pos;
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = GetAncestor(hwnd_, GA_ROOT);
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        *frame = this;
        (*frame)->AddRef();
        return S_OK;
    }
    STDMETHOD(Scroll)(SIZE) override { return E_NOTIMPL; }
    STDMETHOD(OnUIDeactivate)(BOOL) override { return S_OK; }
    STDMETHOD(OnInPlaceDeactivate)() override { return OnInPlaceDeactivateEx(TRUE); }
    STDMETHOD(OnInPlaceDeactivateEx)(BOOL) override
    {
        inPlace_.Release();
        active_.Release();
        return S_OK;
    }
    STDMETHOD(DiscardUndoState)() override { return S_OK; }
    STDMETHOD(DeactivateAndUndo)() override
    {
        CComPtr<IOleInPlaceObject> inPlace = inPlace_;
        return inPlace ? inPlace->UIDeactivate() : S_OK;
    }
    // The control's place is the window's client area, whatever it asks.
    STDMETHOD(OnPosRectChange)(LPCRECT) override { return S_OK; }
    STDMETHOD(RequestUIActivate)() override { return control_ ? S_OK : S_FALSE; }

    // IOleInPlaceUIWindow and IOleInPlaceFrame: no tool space, menus or status line of the host's own.
    STDMETHOD(GetBorder)(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHOD(RequestBorderSpace)(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHOD(SetBorderSpace)(LPCBORDERWIDTHS widths) override { return widths ? OLE_E_INVALIDRECT : S_OK; }
    STDMETHOD(SetActiveObject)(IOleInPlaceActiveObject* active, LPCOLESTR) override
    {
        active_ = control_ ? active : nullptr;
        return S_OK;
    }
    STDMETHOD(InsertMenus)(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHOD(SetMenu)(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHOD(RemoveMenus)(HMENU) override { return E_NOTIMPL; }
    STDMETHOD(SetStatusText)(LPCOLESTR) override { return S_OK; }
    STDMETHOD(EnableModeless)(BOOL) override { return S_OK; }
    STDMETHOD(TranslateAccelerator)(LPMSG, WORD) override { return S_FALSE; }

    // IOleControlSite
    STDMETHOD(OnControlInfoChanged)() override { return S_OK; }
    STDMETHOD(LockInPlaceActive)(BOOL) override { return S_OK; }
    STDMETHOD(GetExtendedControl)(IDispatch** extended) override
    {
        if (!extended)
            return E_POINTER;
        *extended = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(TransformCoords)(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(TranslateAccelerator)(MSG*, DWORD) override { return S_FALSE; }
    STDMETHOD(OnFocus)(BOOL) override { return S_OK; }
    STDMETHOD(ShowPropertyFrame)() override { return E_NOTIMPL; }

    // IDispatch: the ambient properties, read only.
    STDMETHOD(GetTypeInfoCount)(UINT* count) override { return AtlNoTypeInfoCount(count); }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override { return AtlNoTypeInfo(info); }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override
    {
        return AtlNoIDsOfNames(count, ids);
    }
    STDMETHOD(Invoke)
    (DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override;

    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data);

private:
    HRESULT Activate();
    void Resize();
    HRESULT AmbientFont(VARIANT* result) const;
    HRESULT AmbientDisplayName(VARIANT* result) const;

    HWND hwnd_ = nullptr;
    bool subclassed_ = false;
    bool sited_ = false;
    bool tearingDown_ = false;
    CComPtr<IUnknown> control_;
    CComPtr<IOleObject> ole_;
    CComPtr<IOleInPlaceObject> inPlace_;
    CComPtr<IOleInPlaceActiveObject> active_;
};

HRESULT CAxHostSite::Create(HWND hwnd, LPCOLESTR name)
{
    CLSID clsid{};
    HRESULT hr = name[0] == L'{' ? CLSIDFromString(name, &clsid) : CLSIDFromProgID(name, &clsid);
    if (FAILED(hr))
        return hr;
    CComPtr<IUnknown> control;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                          reinterpret_cast<void**>(&control));
    if (FAILED(hr))
        return hr;
    if (!control)
        return E_UNEXPECTED;
    CComPtr<IOleObject> ole;
    if (FAILED(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole))) || !ole)
        return E_NOINTERFACE;
    if (!SetWindowSubclass(hwnd, &SubclassProc, reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this)))
        return E_OUTOFMEMORY;
    hwnd_ = hwnd;
    subclassed_ = true;
    control_ = control;
    ole_ = ole;
    hr = Activate();
    if (FAILED(hr))
        Teardown();
    return hr;
}

HRESULT CAxHostSite::Activate()
{
    // Local references: a control that destroys the window while it is being made tears this site down
    // under our feet.
    CComPtr<IUnknown> control = control_;
    CComPtr<IOleObject> ole = ole_;
    DWORD misc = 0;
    if (FAILED(ole->GetMiscStatus(DVASPECT_CONTENT, &misc)))
        misc = 0;
    auto site = [&]() -> HRESULT {
        HRESULT hr = ole->SetClientSite(this);
        sited_ = SUCCEEDED(hr);
        return hr;
    };
    HRESULT hr = S_OK;
    if ((misc & OLEMISC_SETCLIENTSITEFIRST) && FAILED(hr = site()))
        return hr;
    CComPtr<IPersistStreamInit> init;
    if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&init))) && init) {
        hr = init->InitNew();
        if (FAILED(hr) && hr != E_NOTIMPL)
            return hr;
    }
    if (!(misc & OLEMISC_SETCLIENTSITEFIRST) && FAILED(hr = site()))
        return hr;
    if (!hwnd_)
        return E_ABORT;
    RECT rc{};
    GetClientRect(hwnd_, &rc);
    SIZEL extent = ToHimetric(rc);
    ole->SetExtent(DVASPECT_CONTENT, &extent);  // a control of a fixed size may refuse
    if (misc & OLEMISC_INVISIBLEATRUNTIME)
        return S_OK;
    hr = ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, hwnd_, &rc);
    if (FAILED(hr))
        return hr;
    return control_ ? S_OK : E_ABORT;
}

void CAxHostSite::Teardown()
{
    if (tearingDown_)
        return;
    tearingDown_ = true;
    CComPtr<IOleClientSite> guard(this);
    if (CComPtr<IOleInPlaceObject> inPlace = inPlace_)
        inPlace->InPlaceDeactivate();
    inPlace_.Release();
    active_.Release();
    if (CComPtr<IOleObject> ole = ole_) {
        if (sited_)
            ole->SetClientSite(nullptr);
        sited_ = false;
        ole->Close(OLECLOSE_NOSAVE);
    }
    ole_.Release();
    control_.Release();
    if (subclassed_)
        RemoveWindowSubclass(hwnd_, &SubclassProc, reinterpret_cast<UINT_PTR>(this));
    subclassed_ = false;
    hwnd_ = nullptr;
    tearingDown_ = false;
}

void CAxHostSite::Resize()
{
    if (!hwnd_ || tearingDown_)
        return;
    CComPtr<IOleObject> ole = ole_;
    CComPtr<IOleInPlaceObject> inPlace = inPlace_;
    RECT rc{};
    GetClientRect(hwnd_, &rc);
    if (ole) {
        SIZEL extent = ToHimetric(rc);
        ole->SetExtent(DVASPECT_CONTENT, &extent);
    }
    if (inPlace)
        inPlace->SetObjectRects(&rc, &rc);
}

LRESULT CALLBACK CAxHostSite::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data)
{
    auto* site = reinterpret_cast<CAxHostSite*>(data);
    switch (msg) {
    case WM_SIZE:
        site->Resize();
        break;
    case WM_DESTROY: {
        // Before the control's own window, a child of this one, goes; the owner may drop the hosting
        // object from its own handler of the message.
        CComPtr<IOleClientSite> guard(site);
        site->Teardown();
        return DefSubclassProc(hwnd, msg, wp, lp);
    }
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

STDMETHODIMP CAxHostSite::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                 UINT*)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (!(flags & DISPATCH_PROPERTYGET))
        return DISP_E_MEMBERNOTFOUND;
    switch (id) {
    case DISPID_AMBIENT_USERMODE:
    case DISPID_AMBIENT_BACKCOLOR:
    case DISPID_AMBIENT_FORECOLOR:
    case DISPID_AMBIENT_DISPLAYNAME:
    case DISPID_AMBIENT_FONT:
        break;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (!result)
        return E_POINTER;
    VariantInit(result);
    switch (id) {
    case DISPID_AMBIENT_USERMODE:
        result->vt = VT_BOOL;
        result->boolVal = VARIANT_TRUE;
        return S_OK;
    case DISPID_AMBIENT_BACKCOLOR:
    case DISPID_AMBIENT_FORECOLOR:
        // OLE_COLOR as VT_I4, as controls read it; system colour references keep their high bit.
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(id == DISPID_AMBIENT_BACKCOLOR ? kAmbientBackColor : kAmbientForeColor);
        return S_OK;
    case DISPID_AMBIENT_DISPLAYNAME:
        return AmbientDisplayName(result);
    default:
        return AmbientFont(result);
    }
}

HRESULT CAxHostSite::AmbientDisplayName(VARIANT* result) const
{
    std::wstring text;
    if (hwnd_) {
        const int length = GetWindowTextLengthW(hwnd_);
        if (length > 0) {
            try {
                text.resize(static_cast<size_t>(length) + 1);
            } catch (...) {
                return E_OUTOFMEMORY;
            }
            const int got = GetWindowTextW(hwnd_, text.data(), length + 1);
            text.resize(got > 0 ? static_cast<size_t>(got) : 0);
        }
    }
    BSTR name = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!name)
        return E_OUTOFMEMORY;
    result->vt = VT_BSTR;
    result->bstrVal = name;
    return S_OK;
}

HRESULT CAxHostSite::AmbientFont(VARIANT* result) const
{
    HFONT font = hwnd_ ? reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0)) : nullptr;
    if (!font)
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW lf{};
    if (!font || GetObjectW(font, sizeof lf, &lf) != static_cast<int>(sizeof lf))
        return E_FAIL;
    HDC dc = GetDC(hwnd_);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc)
        ReleaseDC(hwnd_, dc);
    FONTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.lpstrName = lf.lfFaceName;
    // Points in units of 1/10000; a height of 0 (the default) as 8 points.
    const int height = std::abs(lf.lfHeight);
    desc.cySize.int64 = height ? MulDiv(height, 720000, dpi > 0 ? dpi : 96) : 80000;
    desc.sWeight = static_cast<SHORT>(lf.lfWeight);
    desc.sCharset = lf.lfCharSet;
    desc.fItalic = lf.lfItalic != 0;
    desc.fUnderline = lf.lfUnderline != 0;
    desc.fStrikethrough = lf.lfStrikeOut != 0;
    IFontDisp* disp = nullptr;
    HRESULT hr = OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(&disp));
    if (FAILED(hr))
        return hr;
    if (!disp)
        return E_FAIL;
    result->vt = VT_DISPATCH;
    result->pdispVal = disp;
    return S_OK;
}

// ---- the hosting window object ------------------------------------------------------------------------

CAxWindow::~CAxWindow()
{
    DestroyControl();
}

void CAxWindow::Attach(HWND hwnd)
{
    if (hwnd != hwnd_)
        DestroyControl();
    hwnd_ = hwnd;
}

HRESULT CAxWindow::CreateControl(LPCOLESTR name)
{
    if (!name)
        return E_POINTER;
    if (!hwnd_ || !IsWindow(hwnd_))
        return E_UNEXPECTED;
    if (GetWindowThreadProcessId(hwnd_, nullptr) != GetCurrentThreadId())
        return RPC_E_WRONG_THREAD;
    DestroyControl();
    // The site counts no module lock: it belongs to the program that hosts, whatever module it is in.
    CComObjectNoLock<CAxHostSite>* site = nullptr;
    HRESULT hr = CComObjectNoLock<CAxHostSite>::CreateInstance(&site);
    if (FAILED(hr))
        return hr;
    site->AddRef();
    hr = site->Create(hwnd_, name);
    if (FAILED(hr)) {
        site->Release();
        return hr;
    }
    site_ = site;
    return S_OK;
}

HRESULT CAxWindow::QueryControl(REFIID iid, void** ppv) const
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    return site_ ? site_->QueryControl(iid, ppv) : E_UNEXPECTED;
}

bool CAxWindow::HasControl() const
{
    return site_ && site_->HasControl();
}

void CAxWindow::DestroyControl()
{
    if (CAxHostSite* site = std::exchange(site_, nullptr)) {
        site->Teardown();
        static_cast<IOleClientSite*>(site)->Release();
    }
}
