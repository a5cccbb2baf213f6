// Control hosting and the dispatch event sink, with a small windowed control of the test's own built on
// the layer's control pieces and served by the test's module: siting, in-place activation in the host
// window and its size, ambient properties, events and their arguments, advise and unadvise, teardown
// order and failed creations.
#include "platform/atl/atlctl.h"
#include "platform/atl/atldispsink.h"
#include "platform/atl/atlhost.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// {5B0C3C10-7E0A-4F7B-9E51-2A1D6C0B0101} and on.
const CLSID CLSID_HostTestControl = {0x5B0C3C10, 0x7E0A, 0x4F7B, {0x9E, 0x51, 0x2A, 0x1D, 0x6C, 0x0B, 0x01, 0x01}};
const CLSID CLSID_HostTestPlain = {0x5B0C3C10, 0x7E0A, 0x4F7B, {0x9E, 0x51, 0x2A, 0x1D, 0x6C, 0x0B, 0x01, 0x02}};
const IID DIID_HostTestEvents = {0x5B0C3C10, 0x7E0A, 0x4F7B, {0x9E, 0x51, 0x2A, 0x1D, 0x6C, 0x0B, 0x01, 0x03}};
const IID IID_IHostTestControl = {0x5B0C3C10, 0x7E0A, 0x4F7B, {0x9E, 0x51, 0x2A, 0x1D, 0x6C, 0x0B, 0x01, 0x04}};
const wchar_t kControlClsid[] = L"{5B0C3C10-7E0A-4F7B-9E51-2A1D6C0B0101}";
const wchar_t kPlainClsid[] = L"{5B0C3C10-7E0A-4F7B-9E51-2A1D6C0B0102}";
const wchar_t kUnknownClsid[] = L"{5B0C3C10-7E0A-4F7B-9E51-2A1D6C0B01FF}";
const wchar_t kControlProgId[] = L"Kwep.AtlHostTestControl";

// What the test control did, in order, and how many of the test's objects live.
std::vector<std::string> g_calls;
LONG g_liveObjects = 0;
bool g_failActivation = false;

// The ambient properties the control asked its site for, and the answers.
struct AmbientAnswer {
    DISPID id;
    HRESULT hr;
    CComVariant value;
};
std::vector<AmbientAnswer> g_ambients;
const DISPID kAskedAmbients[] = {DISPID_AMBIENT_USERMODE,  DISPID_AMBIENT_DISPLAYNAME, DISPID_AMBIENT_BACKCOLOR,
                                 DISPID_AMBIENT_FORECOLOR, DISPID_AMBIENT_FONT,        DISPID_AMBIENT_LOCALEID};

// The test's handle on its control, reached through the host's QueryControl.
struct IHostTestControl : IUnknown {
    // Raises an event on every advised sink; the arguments last first, as an event passes them.
    virtual HRESULT STDMETHODCALLTYPE Fire(DISPID id, VARIANT* args, UINT count) = 0;
    virtual size_t STDMETHODCALLTYPE SinkCount() = 0;
    // The sink advised first, as the control holds it.
    virtual HRESULT STDMETHODCALLTYPE FirstSink(IDispatch** sink) = 0;
};

constexpr DWORD kMiscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                              OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;

class CHostTestControl : public CComObjectRootEx,
                         public CComCoClass<CHostTestControl, &CLSID_HostTestControl>,
                         public IHostTestControl,
                         public IConnectionPointContainerImpl<CHostTestControl>,
                         public IConnectionPointImpl<CHostTestControl, &DIID_HostTestEvents>,
                         public CComControlBase,
                         public IViewObjectExImpl<CHostTestControl>,
                         public IOleObjectImpl<CHostTestControl, kMiscStatus>,
                         public IPersistStreamInitImpl<CHostTestControl>,
                         public IOleInPlaceObjectWindowlessImpl<CHostTestControl>,
                         public IOleInPlaceActiveObjectImpl<CHostTestControl> {
public:
    CHostTestControl() { InterlockedIncrement(&g_liveObjects); }
    ~CHostTestControl() { InterlockedDecrement(&g_liveObjects); }

    DECLARE_NO_REGISTRY()
    BEGIN_COM_MAP(CHostTestControl)
    COM_INTERFACE_ENTRY(IOleObject)
    COM_INTERFACE_ENTRY_IID(IID_IHostTestControl, IHostTestControl)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    COM_INTERFACE_ENTRY(IViewObjectEx)
    COM_INTERFACE_ENTRY2(IViewObject2, IViewObjectEx)
    COM_INTERFACE_ENTRY2(IViewObject, IViewObjectEx)
    COM_INTERFACE_ENTRY(IPersistStreamInit)
    COM_INTERFACE_ENTRY2(IPersist, IPersistStreamInit)
    COM_INTERFACE_ENTRY(IOleInPlaceObjectWindowless)
    COM_INTERFACE_ENTRY2(IOleInPlaceObject, IOleInPlaceObjectWindowless)
    COM_INTERFACE_ENTRY2(IOleWindow, IOleInPlaceObjectWindowless)
    COM_INTERFACE_ENTRY(IOleInPlaceActiveObject)
    END_COM_MAP()
    BEGIN_CONNECTION_POINT_MAP(CHostTestControl)
    CONNECTION_POINT_ENTRY(DIID_HostTestEvents, Events)
    END_CONNECTION_POINT_MAP()
    using Events = IConnectionPointImpl<CHostTestControl, &DIID_HostTestEvents>;

    HRESULT OnDraw(ATL_DRAWINFO& di)
    {
        const RECT rc{di.prcBounds->left, di.prcBounds->top, di.prcBounds->right, di.prcBounds->bottom};
        FillRect(di.hdcDraw, &rc, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
        return S_OK;
    }

    // The steps a host takes, recorded; a sited control asks for its ambient properties at once.
    STDMETHOD(SetClientSite)(IOleClientSite* site) override
    {
        g_calls.push_back(site ? "SetClientSite" : "SetClientSite null");
        HRESULT hr = IOleObjectImpl::SetClientSite(site);
        CComPtr<IDispatch> ambients;
        if (site && SUCCEEDED(site->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambients)))) {
            for (DISPID id : kAskedAmbients) {
                AmbientAnswer answer{id, S_OK, {}};
                DISPPARAMS none{};
                answer.hr = ambients->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                             &answer.value, nullptr, nullptr);
                g_ambients.push_back(answer);
            }
        }
        return hr;
    }
    STDMETHOD(InitNew)() override
    {
        g_calls.push_back("InitNew");
        return IPersistStreamInitImpl::InitNew();
    }
    STDMETHOD(DoVerb)(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent, LPCRECT rc) override
    {
        g_calls.push_back("DoVerb");
        if (g_failActivation)
            return E_FAIL;
        return IOleObjectImpl::DoVerb(verb, msg, site, index, parent, rc);
    }
    STDMETHOD(Close)(DWORD option) override
    {
        g_calls.push_back("Close");
        return IOleObjectImpl::Close(option);
    }
    STDMETHOD(InPlaceDeactivate)() override
    {
        g_calls.push_back("InPlaceDeactivate");
        return IOleInPlaceObjectWindowlessImpl::InPlaceDeactivate();
    }

    // IHostTestControl
    STDMETHOD(Fire)(DISPID id, VARIANT* args, UINT count) override { return AtlFireDispatch(Sinks(), id, args, count); }
    STDMETHOD_(size_t, SinkCount)() override { return Sinks().Count(); }
    STDMETHOD(FirstSink)(IDispatch** sink) override
    {
        *sink = nullptr;
        std::vector<CONNECTDATA> list = Sinks().Snapshot();
        if (!list.empty())
            list.front().pUnk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(sink));
        for (CONNECTDATA& c : list)
            c.pUnk->Release();
        return *sink ? S_OK : E_FAIL;
    }
};

// An object that is no control.
class CHostTestPlain : public CComObjectRootEx, public CComCoClass<CHostTestPlain, &CLSID_HostTestPlain>, public IPersist {
public:
    CHostTestPlain() { InterlockedIncrement(&g_liveObjects); }
    ~CHostTestPlain() { InterlockedDecrement(&g_liveObjects); }
    DECLARE_NO_REGISTRY()
    BEGIN_COM_MAP(CHostTestPlain)
    COM_INTERFACE_ENTRY(IPersist)
    END_COM_MAP()
    STDMETHOD(GetClassID)(CLSID* clsid) override
    {
        *clsid = CLSID_HostTestPlain;
        return S_OK;
    }
};

BEGIN_OBJECT_MAP(g_objectMap)
OBJECT_ENTRY(CLSID_HostTestControl, CHostTestControl)
OBJECT_ENTRY(CLSID_HostTestPlain, CHostTestPlain)
END_OBJECT_MAP()

// The owner of an event sink, with handlers of the shapes a player's events have, and one for the
// remaining argument types.
class EventOwner {
public:
    HRESULT OnOpenStateChange(long state) { return Got("open " + std::to_string(state)); }
    HRESULT OnPlayStateChange(long state) { return Got("play " + std::to_string(state)); }
    HRESULT OnPositionChange(double from, double to)
    {
        char text[64];
        snprintf(text, sizeof text, "position %g %g", from, to);
        return Got(text);
    }
    HRESULT OnError()
    {
        if (unadviseInHandler)
            sink.DispEventUnadvise();
        return Got("error");
    }
    HRESULT OnMediaChange(IDispatch* item)
    {
        lastItem = item;
        return Got(item ? "media" : "media null");
    }
    HRESULT OnNamed(BSTR name, VARIANT_BOOL flag, const VARIANT& any)
    {
        return Got("named " + std::to_string(SysStringLen(name)) + " " + std::to_string(flag) + " vt" +
                   std::to_string(any.vt));
    }

    BEGIN_SINK_MAP(EventOwner)
    SINK_ENTRY(5001, OnOpenStateChange)
    SINK_ENTRY(5101, OnPlayStateChange)
    SINK_ENTRY(5202, OnPositionChange)
    SINK_ENTRY(5501, OnError)
    SINK_ENTRY(5802, OnMediaChange)
    SINK_ENTRY(7, OnNamed)
    END_SINK_MAP()

    CDispEventSink<EventOwner> sink{this, DIID_HostTestEvents};
    std::vector<std::string> got;
    HRESULT result = S_OK;
    bool unadviseInHandler = false;
    CComPtr<IDispatch> lastItem;

private:
    HRESULT Got(std::string what)
    {
        got.push_back(std::move(what));
        return result;
    }
};

// An object with a number for its default value, which Automation's conversion would read.
class ValueObject : public IDispatch {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch)
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    STDMETHOD(GetTypeInfoCount)(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        ++reads;
        if (id != DISPID_VALUE || !result)
            return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_I4;
        result->lVal = 7;
        return S_OK;
    }
    LONG refs = 1;
    int reads = 0;
};

// Variants of the event arguments.
CComVariant I4(long v)
{
    return CComVariant(v);
}
CComVariant Typed(VARTYPE vt, LONGLONG bits)
{
    CComVariant v;
    v.vt = vt;
    v.llVal = bits;
    return v;
}
CComVariant R8(double d)
{
    CComVariant v;
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
}
CComVariant Str(const wchar_t* s)
{
    return CComVariant(s);
}
CComVariant Disp(IDispatch* p)
{
    if (p)
        return CComVariant(p);
    return Typed(VT_DISPATCH, 0);
}

// Fires through the control with the arguments in their natural order.
HRESULT Fire(IHostTestControl* control, DISPID id, std::vector<CComVariant> args)
{
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    return control->Fire(id, reversed.data(), static_cast<UINT>(reversed.size()));
}

RECT PlacedIn(HWND child, HWND parent)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class AtlHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        _Module.Init(g_objectMap, GetModuleHandleW(nullptr));
        for (const CLSID* clsid : {&CLSID_HostTestControl, &CLSID_HostTestPlain}) {
            CComPtr<IClassFactory> factory;
            ASSERT_EQ(S_OK, _Module.GetClassObject(*clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
            DWORD cookie = 0;
            ASSERT_EQ(S_OK, CoRegisterClassObject(*clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie));
            cookies_.push_back(cookie);
        }
        frame_ = CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW, 0, 0, 500, 300, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, frame_);
        window_ = NewHostWindow();
        ASSERT_NE(nullptr, window_);
        g_calls.clear();
        g_ambients.clear();
        g_failActivation = false;
    }
    void TearDown() override
    {
        DestroyWindow(frame_);
        for (DWORD cookie : cookies_)
            CoRevokeClassObject(cookie);
        g_ambients.clear();
        EXPECT_EQ(0, g_liveObjects) << "every object the test made is gone";
        EXPECT_EQ(0, _Module.GetLockCount()) << "the module could unload";
        _Module.Term();
        OleUninitialize();
    }

    HWND NewHostWindow()
    {
        return CreateWindowExW(0, L"STATIC", L"Player display", WS_CHILD | WS_VISIBLE, 10, 20, 200, 100, frame_,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    static CComPtr<IHostTestControl> TestControl(const CAxWindow& host)
    {
        CComPtr<IHostTestControl> control;
        EXPECT_EQ(S_OK, host.QueryControl(IID_IHostTestControl, reinterpret_cast<void**>(&control)));
        return control;
    }
    static HWND ControlWindow(const CAxWindow& host)
    {
        CComPtr<IOleInPlaceObject> inPlace;
        HWND hwnd = nullptr;
        if (SUCCEEDED(host.QueryControl(&inPlace)))
            inPlace->GetWindow(&hwnd);
        return hwnd;
    }

    HWND frame_ = nullptr;
    HWND window_ = nullptr;
    std::vector<DWORD> cookies_;
};

// The face the system gives a font (a face that is not installed is replaced).
std::wstring RealisedFace(HFONT font)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    DeleteDC(dc);
    return face;
}

SIZEL Himetric(LONG cx, LONG cy)
{
    HDC dc = GetDC(nullptr);
    SIZEL s{MulDiv(cx, 2540, GetDeviceCaps(dc, LOGPIXELSX)), MulDiv(cy, 2540, GetDeviceCaps(dc, LOGPIXELSY))};
    ReleaseDC(nullptr, dc);
    return s;
}

// ---- siting and in-place activation ----

TEST_F(AtlHostTest, SitesTheControlAndActivatesItInPlaceInTheWindowAtItsSize)
{
    CAxWindow host;
    host.Attach(window_);
    ASSERT_EQ(S_OK, host.CreateControl(kControlClsid));
    EXPECT_TRUE(host.HasControl());
    EXPECT_EQ((std::vector<std::string>{"SetClientSite", "InitNew", "DoVerb"}), g_calls)
        << "sited before its initialisation, as the control asks";

    // One site for the client, the in-place activation and the control; not windowless.
    CComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, host.QueryControl(&ole));
    CComPtr<IOleClientSite> site;
    ASSERT_EQ(S_OK, ole->GetClientSite(&site));
    ASSERT_NE(nullptr, site.get());
    CComPtr<IOleInPlaceSite> inPlaceSite;
    ASSERT_EQ(S_OK, site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlaceSite)));
    CComPtr<IOleControlSite> controlSite;
    EXPECT_EQ(S_OK, site->QueryInterface(IID_IOleControlSite, reinterpret_cast<void**>(&controlSite)));
    CComPtr<IUnknown> windowless;
    EXPECT_EQ(E_NOINTERFACE, site->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&windowless)));
    HWND siteWindow = nullptr;
    EXPECT_EQ(S_OK, inPlaceSite->GetWindow(&siteWindow));
    EXPECT_EQ(window_, siteWindow);

    // The frame is the top-level window; the control's place is the whole client area.
    CComPtr<IOleInPlaceFrame> frame;
    CComPtr<IOleInPlaceUIWindow> doc;
    RECT pos{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    ASSERT_EQ(S_OK, inPlaceSite->GetWindowContext(&frame, &doc, &pos, &clip, &info));
    EXPECT_NE(nullptr, frame.get());
    EXPECT_EQ(frame_, info.hwndFrame);
    const RECT whole{0, 0, 200, 100};
    EXPECT_TRUE(EqualRect(&whole, &pos));

    // A window of its own, a child of the host window, that follows the window's size.
    HWND control = ControlWindow(host);
    ASSERT_TRUE(IsWindow(control));
    EXPECT_EQ(window_, GetParent(control));
    RECT at = PlacedIn(control, window_);
    EXPECT_TRUE(EqualRect(&whole, &at));
    ASSERT_TRUE(SetWindowPos(window_, nullptr, 0, 0, 320, 150, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    at = PlacedIn(control, window_);
    const RECT grown{0, 0, 320, 150};
    EXPECT_TRUE(EqualRect(&grown, &at));
    SIZEL extent{};
    EXPECT_EQ(S_OK, ole->GetExtent(DVASPECT_CONTENT, &extent));
    EXPECT_EQ(Himetric(320, 150).cx, extent.cx);
    EXPECT_EQ(Himetric(320, 150).cy, extent.cy);

    // The identity the host hands out is the control's.
    CComPtr<IUnknown> viaHost, viaControl;
    ASSERT_EQ(S_OK, host.QueryControl(&viaHost));
    ASSERT_EQ(S_OK, ole->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaControl)));
    EXPECT_EQ(viaControl.get(), viaHost.get());
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, host.QueryControl(IID_IDataObject, &none));
    EXPECT_EQ(nullptr, none);
}

TEST_F(AtlHostTest, MakesTheControlByItsProgId)
{
    HKEY key = nullptr;
    const std::wstring path = std::wstring(kControlProgId) + L"\\CLSID";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                             nullptr));
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kControlClsid), sizeof kControlClsid);
    RegCloseKey(key);
    {
        CAxWindow host(window_);
        EXPECT_EQ(S_OK, host.CreateControl(kControlProgId));
        CComPtr<IPersist> persist;
        ASSERT_EQ(S_OK, host.QueryControl(&persist));
        CLSID clsid{};
        EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
        EXPECT_EQ(CLSID_HostTestControl, clsid);
    }
    RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, kControlProgId);
}

// ---- ambient properties ----

TEST_F(AtlHostTest, AnswersTheAmbientPropertiesTheControlAsksFor)
{
    HFONT font = CreateFontW(-16, 0, 0, 0, FW_BOLD, TRUE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"DejaVu Sans Mono");
    ASSERT_NE(nullptr, font);
    ASSERT_NE(RealisedFace(font), RealisedFace(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT))))
        << "the window's font is told from the default one";
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    {
        CAxWindow host(window_);
        ASSERT_EQ(S_OK, host.CreateControl(kControlClsid));
    }
    ASSERT_EQ(std::size(kAskedAmbients), g_ambients.size());
    HDC dc = GetDC(nullptr);
    const LONGLONG twelvePoints = MulDiv(16, 720000, GetDeviceCaps(dc, LOGPIXELSY));
    ReleaseDC(nullptr, dc);

    for (const AmbientAnswer& a : g_ambients) {
        SCOPED_TRACE(a.id);
        switch (a.id) {
        case DISPID_AMBIENT_USERMODE:
            EXPECT_EQ(S_OK, a.hr);
            EXPECT_EQ(VT_BOOL, a.value.vt);
            EXPECT_EQ(VARIANT_TRUE, a.value.boolVal);
            break;
        case DISPID_AMBIENT_DISPLAYNAME:
            EXPECT_EQ(S_OK, a.hr);
            ASSERT_EQ(VT_BSTR, a.value.vt);
            EXPECT_STREQ(L"Player display", a.value.bstrVal);
            break;
        case DISPID_AMBIENT_BACKCOLOR:
        case DISPID_AMBIENT_FORECOLOR:
            EXPECT_EQ(S_OK, a.hr);
            ASSERT_EQ(VT_I4, a.value.vt);
            EXPECT_EQ(0x80000000u | (a.id == DISPID_AMBIENT_BACKCOLOR ? COLOR_WINDOW : COLOR_WINDOWTEXT),
                      static_cast<OLE_COLOR>(a.value.lVal));
            break;
        case DISPID_AMBIENT_FONT: {
            EXPECT_EQ(S_OK, a.hr);
            ASSERT_EQ(VT_DISPATCH, a.value.vt);
            CComPtr<IFont> f;
            ASSERT_EQ(S_OK, a.value.pdispVal->QueryInterface(IID_IFont, reinterpret_cast<void**>(&f)));
            CComBSTR name;
            EXPECT_EQ(S_OK, f->get_Name(&name));
            EXPECT_EQ(RealisedFace(font), std::wstring(name.get()));
            CY size{};
            EXPECT_EQ(S_OK, f->get_Size(&size));
            EXPECT_NEAR(twelvePoints, size.int64, 100);
            BOOL bold = FALSE, italic = FALSE;
            f->get_Bold(&bold);
            f->get_Italic(&italic);
            EXPECT_TRUE(bold);
            EXPECT_TRUE(italic);
            break;
        }
        default:
            EXPECT_EQ(DISP_E_MEMBERNOTFOUND, a.hr) << "a property the host does not know";
            EXPECT_EQ(VT_EMPTY, a.value.vt);
        }
    }
    SendMessageW(window_, WM_SETFONT, 0, FALSE);
    DeleteObject(font);

    // Read only, and asked for the default interface; a window with no font of its own gives the GUI font.
    CAxWindow host(window_);
    ASSERT_EQ(S_OK, host.CreateControl(kControlClsid));
    CComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, host.QueryControl(&ole));
    CComPtr<IOleClientSite> site;
    ASSERT_EQ(S_OK, ole->GetClientSite(&site));
    CComPtr<IDispatch> ambients;
    ASSERT_EQ(S_OK, site->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambients)));
    CComVariant value = I4(0);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    DISPPARAMS none{};
    CComVariant out;
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              ambients->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, ambients->Invoke(DISPID_AMBIENT_USERMODE, IID_IDispatch, 0,
                                                        DISPATCH_PROPERTYGET, &none, &out, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, ambients->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr,
                                          nullptr, nullptr));
    ASSERT_EQ(S_OK, ambients->Invoke(DISPID_AMBIENT_FONT, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &out, nullptr,
                                     nullptr));
    ASSERT_EQ(VT_DISPATCH, out.vt);
    CComPtr<IFont> f;
    ASSERT_EQ(S_OK, out.pdispVal->QueryInterface(IID_IFont, reinterpret_cast<void**>(&f)));
    CComBSTR name;
    f->get_Name(&name);
    EXPECT_EQ(RealisedFace(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT))), std::wstring(name.get()));
}

// ---- events ----

TEST_F(AtlHostTest, EventsReachTheirHandlersWithConvertedArgumentsOrAreRefused)
{
    CAxWindow host(window_);
    ASSERT_EQ(S_OK, host.CreateControl(kControlClsid));
    CComPtr<IHostTestControl> control = TestControl(host);
    ASSERT_NE(nullptr, control.get());
    EventOwner owner;
    ASSERT_EQ(S_OK, owner.sink.DispEventAdvise(control));
    EXPECT_TRUE(owner.sink.IsAdvised());

    CComPtr<IDispatch> item;
    {
        FONTDESC desc{};
        desc.cbSizeofstruct = sizeof desc;
        desc.lpstrName = const_cast<LPOLESTR>(L"Tahoma");
        desc.cySize.int64 = 80000;
        desc.sWeight = FW_NORMAL;
        ASSERT_EQ(S_OK, OleCreateFontIndirect(&desc, IID_IDispatch, reinterpret_cast<void**>(&item)));
    }
    ValueObject valued;
    long byRef = 9;
    const struct {
        DISPID id;
        std::vector<CComVariant> args;
        HRESULT expected;
        const char* handled;  // what the handler saw; null: it was not called
    } cases[] = {
        {5001, {I4(3)}, S_OK, "open 3"},
        {5101, {I4(8)}, S_OK, "play 8"},
        {5101, {Typed(VT_I2, 1)}, S_OK, "play 1"},
        {5101, {Typed(VT_BYREF | VT_I4, reinterpret_cast<LONG_PTR>(&byRef))}, S_OK, "play 9"},
        {5202, {R8(1.5), R8(2.25)}, S_OK, "position 1.5 2.25"},
        {5202, {I4(1), R8(2)}, S_OK, "position 1 2"},
        {5501, {}, S_OK, "error"},
        {5802, {Disp(item)}, S_OK, "media"},
        {5802, {Disp(nullptr)}, S_OK, "media null"},
        {7, {Str(L"abc"), Typed(VT_BOOL, static_cast<unsigned short>(VARIANT_TRUE)), R8(4)}, S_OK, "named 3 -1 vt5"},
        {7, {Typed(VT_BSTR, 0), Typed(VT_BOOL, 0), CComVariant()}, S_OK, "named 0 0 vt0"},
        {4242, {I4(1)}, S_OK, nullptr},  // an event without a handler is accepted and ignored
        {5202, {R8(1)}, DISP_E_BADPARAMCOUNT, nullptr},
        {5501, {I4(1)}, DISP_E_BADPARAMCOUNT, nullptr},
        {5101, {}, DISP_E_BADPARAMCOUNT, nullptr},
        {5101, {Str(L"abc")}, DISP_E_TYPEMISMATCH, nullptr},
        {5101, {Typed(VT_NULL, 0)}, DISP_E_TYPEMISMATCH, nullptr},
        {5101, {Disp(&valued)}, DISP_E_TYPEMISMATCH, nullptr},  // no number is read from an object
        {5101, {Typed(VT_BYREF | VT_I4, 0)}, DISP_E_TYPEMISMATCH, nullptr},
        {5101, {Typed(VT_BYREF | VT_VARIANT, 0)}, DISP_E_TYPEMISMATCH, nullptr},
        {5802, {I4(5)}, DISP_E_TYPEMISMATCH, nullptr},
        {5202, {R8(1), Str(L"x")}, DISP_E_TYPEMISMATCH, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "event " << c.id << " with " << c.args.size() << " arguments");
        owner.got.clear();
        owner.lastItem.Release();
        EXPECT_EQ(c.expected, Fire(control, c.id, c.args));
        if (c.handled)
            EXPECT_EQ(std::vector<std::string>{c.handled}, owner.got);
        else
            EXPECT_TRUE(owner.got.empty()) << owner.got.front();
    }
    EXPECT_EQ(0, valued.reads) << "no object is asked for its value";
    owner.lastItem.Release();
    ASSERT_EQ(S_OK, Fire(control, 5802, {Disp(item)}));
    EXPECT_EQ(item.get(), owner.lastItem.get()) << "the object itself reaches the handler";
    owner.lastItem.Release();

    // A handler's result is the event's.
    owner.result = E_FAIL;
    EXPECT_EQ(E_FAIL, Fire(control, 5101, {I4(1)}));
    owner.result = S_OK;

    // Straight to the sink: the argument at fault is named; named arguments and interfaces are refused.
    CComPtr<IDispatch> sink;
    ASSERT_EQ(S_OK, control->FirstSink(&sink));
    CComVariant args[2] = {Str(L"x"), R8(1)};  // last first: 1.0, "x"
    DISPPARAMS params{args, nullptr, 2, 0};
    UINT argErr = 99;
    owner.got.clear();
    EXPECT_EQ(DISP_E_TYPEMISMATCH, sink->Invoke(5202, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &argErr));
    EXPECT_EQ(0u, argErr) << "the second argument, first in the array";
    DISPID named = 1;
    DISPPARAMS withNames{args, &named, 2, 1};
    EXPECT_EQ(DISP_E_NONAMEDARGS, sink->Invoke(5202, IID_NULL, 0, DISPATCH_METHOD, &withNames, nullptr, nullptr, nullptr));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              sink->Invoke(5501, IID_IDispatch, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ(S_OK, sink->Invoke(5501, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr))
        << "no parameters at all is no arguments";
    EXPECT_EQ(std::vector<std::string>{"error"}, owner.got);
    CComPtr<IUnknown> asEvents;
    EXPECT_EQ(S_OK, sink->QueryInterface(DIID_HostTestEvents, reinterpret_cast<void**>(&asEvents)));
    EXPECT_EQ(S_OK, owner.sink.DispEventUnadvise());
}

TEST_F(AtlHostTest, AdviseAndUnadviseHoldInEveryOrderAndLateEventsAreIgnored)
{
    CAxWindow host(window_);
    ASSERT_EQ(S_OK, host.CreateControl(kControlClsid));
    CComPtr<IHostTestControl> control = TestControl(host);
    ASSERT_NE(nullptr, control.get());
    EventOwner owner;

    EXPECT_EQ(S_FALSE, owner.sink.DispEventUnadvise()) << "nothing to undo";
    EXPECT_EQ(E_POINTER, owner.sink.DispEventAdvise(nullptr));
    {
        CComPtr<IUnknown> plain;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_HostTestPlain, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         reinterpret_cast<void**>(&plain)));
        EXPECT_EQ(E_NOINTERFACE, owner.sink.DispEventAdvise(plain)) << "no connection points";
        CDispEventSink<EventOwner> other(&owner, IID_IPersist);
        EXPECT_EQ(CONNECT_E_NOCONNECTION, other.DispEventAdvise(control)) << "not an event interface of the control";
        EXPECT_FALSE(other.IsAdvised());
    }
    EXPECT_FALSE(owner.sink.IsAdvised());
    EXPECT_EQ(0u, control->SinkCount());

    // A second advise keeps the first connection: each event arrives once.
    ASSERT_EQ(S_OK, owner.sink.DispEventAdvise(control));
    EXPECT_EQ(E_UNEXPECTED, owner.sink.DispEventAdvise(control));
    EXPECT_EQ(1u, control->SinkCount());
    EXPECT_EQ(S_OK, Fire(control, 5101, {I4(3)}));
    EXPECT_EQ(std::vector<std::string>{"play 3"}, owner.got);

    // After unadvise nothing reaches the owner, even through a sink the source kept.
    CComPtr<IDispatch> kept;
    ASSERT_EQ(S_OK, control->FirstSink(&kept));
    EXPECT_EQ(S_OK, owner.sink.DispEventUnadvise());
    EXPECT_FALSE(owner.sink.IsAdvised());
    EXPECT_EQ(0u, control->SinkCount());
    EXPECT_EQ(S_FALSE, owner.sink.DispEventUnadvise());
    CComVariant state = I4(5);
    DISPPARAMS params{&state, nullptr, 1, 0};
    owner.got.clear();
    EXPECT_EQ(S_OK, kept->Invoke(5101, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_TRUE(owner.got.empty());

    // Advised again, events arrive again; the old connection's sink stays cut off.
    ASSERT_EQ(S_OK, owner.sink.DispEventAdvise(control));
    EXPECT_EQ(S_OK, Fire(control, 5101, {I4(6)}));
    EXPECT_EQ(S_OK, kept->Invoke(5101, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::vector<std::string>{"play 6"}, owner.got);

    // A handler may unadvise from inside its event.
    owner.unadviseInHandler = true;
    owner.got.clear();
    EXPECT_EQ(S_OK, Fire(control, 5501, {}));
    EXPECT_FALSE(owner.sink.IsAdvised());
    EXPECT_EQ(0u, control->SinkCount());
    EXPECT_EQ(S_OK, Fire(control, 5501, {}));
    EXPECT_EQ(std::vector<std::string>{"error"}, owner.got);

    // An owner that goes while advised takes its connection with it.
    {
        EventOwner brief;
        ASSERT_EQ(S_OK, brief.sink.DispEventAdvise(control));
        EXPECT_EQ(1u, control->SinkCount());
    }
    EXPECT_EQ(0u, control->SinkCount());
    kept.Release();
}

// ---- teardown ----

TEST_F(AtlHostTest, TearsTheControlDownInOrderWhenTheHostOrItsWindowGoes)
{
    for (const bool windowFirst : {false, true}) {
        SCOPED_TRACE(windowFirst ? "the window is destroyed" : "the hosting object is destroyed");
        HWND window = NewHostWindow();
        ASSERT_NE(nullptr, window);
        auto host = std::make_unique<CAxWindow>(window);
        ASSERT_EQ(S_OK, host->CreateControl(kControlClsid));
        HWND control = ControlWindow(*host);
        ASSERT_TRUE(IsWindow(control));
        EventOwner owner;
        CComPtr<IOleClientSite> site;
        {
            CComPtr<IHostTestControl> events = TestControl(*host);
            ASSERT_EQ(S_OK, owner.sink.DispEventAdvise(events));
            CComPtr<IOleObject> ole;
            ASSERT_EQ(S_OK, host->QueryControl(&ole));
            ASSERT_EQ(S_OK, ole->GetClientSite(&site));
        }
        EXPECT_EQ(1, g_liveObjects);
        g_calls.clear();

        if (windowFirst)
            DestroyWindow(window);
        else
            host.reset();
        EXPECT_EQ((std::vector<std::string>{"InPlaceDeactivate", "SetClientSite null", "Close"}), g_calls);
        EXPECT_FALSE(IsWindow(control));
        EXPECT_EQ(!windowFirst, IsWindow(window) != FALSE) << "the window belongs to its owner";
        EXPECT_EQ(1, g_liveObjects) << "the sink's connection still holds the control";
        EXPECT_EQ(S_OK, owner.sink.DispEventUnadvise());
        EXPECT_EQ(0, g_liveObjects);
        EXPECT_EQ(0, _Module.GetLockCount()) << "the module could unload";

        // A late call on the site finds nothing; the hosting object has nothing left to do.
        CComPtr<IOleInPlaceSite> inPlaceSite;
        ASSERT_EQ(S_OK, site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlaceSite)));
        HWND hwnd = reinterpret_cast<HWND>(1);
        EXPECT_EQ(E_FAIL, inPlaceSite->GetWindow(&hwnd));
        EXPECT_EQ(nullptr, hwnd);
        EXPECT_EQ(S_FALSE, inPlaceSite->CanInPlaceActivate());
        EXPECT_EQ(E_UNEXPECTED, inPlaceSite->OnInPlaceActivate());
        inPlaceSite.Release();
        site.Release();
        if (host) {
            EXPECT_FALSE(host->HasControl());
            CComPtr<IUnknown> none;
            EXPECT_EQ(E_UNEXPECTED, host->QueryControl(&none));
            g_calls.clear();
            host.reset();
            EXPECT_TRUE(g_calls.empty());
        }
        if (IsWindow(window))
            DestroyWindow(window);
    }
}

TEST_F(AtlHostTest, AFailedCreationSaysWhyAndLeavesNothing)
{
    const struct {
        const wchar_t* name;
        bool failActivation;
        HRESULT expected;
        std::vector<std::string> calls;
    } cases[] = {
        {L"{not a CLSID}", false, CO_E_CLASSSTRING, {}},
        {L"", false, CO_E_CLASSSTRING, {}},
        {L"Kwep.NoSuchControl", false, CO_E_CLASSSTRING, {}},
        {kUnknownClsid, false, REGDB_E_CLASSNOTREG, {}},
        {kPlainClsid, false, E_NOINTERFACE, {}},
        {kControlClsid, true, E_FAIL, {"SetClientSite", "InitNew", "DoVerb", "SetClientSite null", "Close"}},
    };
    CAxWindow host(window_);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "\"" << std::string(c.name, c.name + wcslen(c.name)) << "\"");
        g_calls.clear();
        g_failActivation = c.failActivation;
        EXPECT_EQ(c.expected, host.CreateControl(c.name));
        g_failActivation = false;
        EXPECT_EQ(c.calls, g_calls);
        EXPECT_FALSE(host.HasControl());
        CComPtr<IUnknown> none;
        EXPECT_EQ(E_UNEXPECTED, host.QueryControl(&none));
        EXPECT_EQ(nullptr, GetWindow(window_, GW_CHILD)) << "no control window is left";
        EXPECT_EQ(0, g_liveObjects);
        EXPECT_EQ(0, _Module.GetLockCount());
    }

    // The same host then makes a control, and a second creation replaces it.
    ASSERT_EQ(S_OK, host.CreateControl(kControlClsid));
    g_calls.clear();
    ASSERT_EQ(S_OK, host.CreateControl(kControlClsid));
    EXPECT_EQ((std::vector<std::string>{"InPlaceDeactivate", "SetClientSite null", "Close", "SetClientSite", "InitNew",
                                        "DoVerb"}),
              g_calls);
    EXPECT_EQ(1, g_liveObjects);
    host.DestroyControl();

    // No window, no name, or another thread than the window's.
    CAxWindow unattached;
    EXPECT_EQ(E_UNEXPECTED, unattached.CreateControl(kControlClsid));
    EXPECT_EQ(E_POINTER, host.CreateControl(nullptr));
    HRESULT fromThread = S_OK;
    std::thread([&] { fromThread = host.CreateControl(kControlClsid); }).join();
    EXPECT_EQ(RPC_E_WRONG_THREAD, fromThread);
    EXPECT_EQ(0, g_liveObjects);
}

}  // namespace
