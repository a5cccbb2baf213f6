// The control in a container of the test's own: sited, activated in place (windowless and in a window of
// its own), drawn into memory device contexts and read back pixel by pixel, quick-activated, persisted
// to a storage and back, and its picture handed out as a metafile.
#include "device/api/zavt_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

const wchar_t kName[] = L"Orvande Player Control";

// A white 32-bit picture in a memory device context, with the default black pen and white brush.
class Picture {
public:
    Picture(int width, int height) : width_(width), height_(height)
    {
        dc_ = CreateCompatibleDC(nullptr);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = width;
        bi.bmiHeader.biHeight = -height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        bitmap_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        std::fill(bits_, bits_ + width * height, 0xFFFFFFu);
    }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
    ~Picture()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    DWORD pixel(int x, int y) const
    {
        GdiFlush();
        return bits_[y * width_ + x] & 0xFFFFFFu;
    }

    // The control's picture in `r`: the frame on its edges, nothing outside, the name centred on the
    // middle of the bounds with its baseline on the middle line.
    void ExpectControl(const RECT& r) const
    {
        const int midX = (r.left + r.right) / 2, midY = (r.top + r.bottom) / 2;
        for (POINT p :
             {POINT{r.left, midY + 3}, POINT{r.right - 1, midY + 3}, POINT{midX, r.top}, POINT{midX, r.bottom - 1}})
            EXPECT_EQ(0u, pixel(p.x, p.y)) << "frame at " << p.x << "," << p.y;
        EXPECT_EQ(0xFFFFFFu, pixel(r.left + 3, r.top + 3)) << "inside the frame";
        if (r.left > 0) {
            EXPECT_EQ(0xFFFFFFu, pixel(r.left - 1, midY)) << "nothing outside the bounds";
        }
        if (r.bottom < height_) {
            EXPECT_EQ(0xFFFFFFu, pixel(midX, r.bottom)) << "nothing outside the bounds";
        }

        int minX = width_, maxX = -1, minY = height_, maxY = -1;
        for (int y = r.top + 1; y < r.bottom - 1; ++y) {
            for (int x = r.left + 1; x < r.right - 1; ++x) {
                if (pixel(x, y) != 0xFFFFFF) {
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                    minY = std::min(minY, y);
                    maxY = std::max(maxY, y);
                }
            }
        }
        SIZE text{};
        GetTextExtentPoint32W(dc_, kName, static_cast<int>(std::size(kName) - 1), &text);
        TEXTMETRICW tm{};
        GetTextMetricsW(dc_, &tm);
        ASSERT_GE(maxX, 0) << "no text drawn";
        EXPECT_NEAR(text.cx, maxX - minX + 1, 3);
        EXPECT_NEAR(midX, (minX + maxX + 1) / 2, 2);
        EXPECT_GE(minY, midY - tm.tmAscent);
        EXPECT_LE(maxY, midY + tm.tmDescent);
        EXPECT_LT(minY, midY);
    }

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    DWORD* bits_ = nullptr;
};

// A container's site, in-place site and frame in one object, recording what the control asks of it.
// Windowless: it offers the windowless site and lets the control be windowless; else it offers only the
// plain in-place site and a window to be the control's parent.
class Container : public IOleClientSite, public IOleInPlaceSiteWindowless, public IOleInPlaceFrame {
public:
    Container(bool windowless, HWND window) : windowless_(windowless), window_(window) {}

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *ppv = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleInPlaceSite || iid == IID_IOleWindow)
            *ppv = static_cast<IOleInPlaceSite*>(this);
        else if (windowless_ && (iid == IID_IOleInPlaceSiteEx || iid == IID_IOleInPlaceSiteWindowless))
            *ppv = static_cast<IOleInPlaceSiteWindowless*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }

    // IOleClientSite
    STDMETHOD(SaveObject)() override { return S_OK; }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker** mk) override
    {
        *mk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(GetContainer)(IOleContainer** c) override
    {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD(ShowObject)() override { return S_OK; }
    STDMETHOD(OnShowWindow)(BOOL) override { return S_OK; }
    STDMETHOD(RequestNewObjectLayout)() override { return E_NOTIMPL; }

    // IOleWindow (of the site and of the frame)
    STDMETHOD(GetWindow)(HWND* hwnd) override
    {
        calls.push_back("GetWindow");
        *hwnd = window_;
        return window_ ? S_OK : E_FAIL;
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHOD(CanInPlaceActivate)() override
    {
        calls.push_back("CanInPlaceActivate");
        return S_OK;
    }
    STDMETHOD(OnInPlaceActivate)() override
    {
        calls.push_back("OnInPlaceActivate");
        return S_OK;
    }
    STDMETHOD(OnUIActivate)() override
    {
        calls.push_back("OnUIActivate");
        return S_OK;
    }
    STDMETHOD(GetWindowContext)
    (IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override
    {
        calls.push_back("GetWindowContext");
        *frame = this;
        AddRef();
        *doc = nullptr;
        *pos = rect;
        *clip = rect;
        EXPECT_EQ(sizeof(OLEINPLACEFRAMEINFO), info->cb);
        info->fMDIApp = FALSE;
        info->hwndFrame = window_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHOD(Scroll)(SIZE) override { return E_NOTIMPL; }
    STDMETHOD(OnUIDeactivate)(BOOL) override
    {
        calls.push_back("OnUIDeactivate");
        return S_OK;
    }
    STDMETHOD(OnInPlaceDeactivate)() override
    {
        calls.push_back("OnInPlaceDeactivate");
        return S_OK;
    }
    STDMETHOD(DiscardUndoState)() override { return S_OK; }
    STDMETHOD(DeactivateAndUndo)() override { return S_OK; }
    STDMETHOD(OnPosRectChange)(LPCRECT) override { return S_OK; }

    // IOleInPlaceSiteEx
    STDMETHOD(OnInPlaceActivateEx)(BOOL* noRedraw, DWORD flags) override
    {
        calls.push_back(flags & ACTIVATE_WINDOWLESS ? "OnInPlaceActivateEx windowless" : "OnInPlaceActivateEx");
        if (noRedraw)
            *noRedraw = FALSE;
        return S_OK;
    }
    STDMETHOD(OnInPlaceDeactivateEx)(BOOL) override
    {
        calls.push_back("OnInPlaceDeactivateEx");
        return S_OK;
    }
    STDMETHOD(RequestUIActivate)() override { return S_OK; }

    // IOleInPlaceSiteWindowless
    STDMETHOD(CanWindowlessActivate)() override
    {
        calls.push_back("CanWindowlessActivate");
        return S_OK;
    }
    STDMETHOD(GetCapture)() override { return S_FALSE; }
    STDMETHOD(SetCapture)(BOOL) override { return S_OK; }
    STDMETHOD(GetFocus)() override { return S_FALSE; }
    STDMETHOD(SetFocus)(BOOL) override { return S_OK; }
    STDMETHOD(GetDC)(LPCRECT, DWORD, HDC* dc) override
    {
        *dc = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(ReleaseDC)(HDC) override { return E_NOTIMPL; }
    STDMETHOD(InvalidateRect)(LPCRECT, BOOL) override { return S_OK; }
    STDMETHOD(InvalidateRgn)(HRGN, BOOL) override { return S_OK; }
    STDMETHOD(ScrollRect)(INT, INT, LPCRECT, LPCRECT) override { return E_NOTIMPL; }
    STDMETHOD(AdjustRect)(LPRECT) override { return S_OK; }
    STDMETHOD(OnDefWindowMessage)(UINT, WPARAM, LPARAM, LRESULT* result) override
    {
        *result = 0;
        return S_OK;
    }

    // IOleInPlaceUIWindow and IOleInPlaceFrame
    STDMETHOD(GetBorder)(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHOD(RequestBorderSpace)(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHOD(SetBorderSpace)(LPCBORDERWIDTHS) override { return OLE_E_INVALIDRECT; }
    STDMETHOD(SetActiveObject)(IOleInPlaceActiveObject* active, LPCOLESTR) override
    {
        calls.push_back(active ? "SetActiveObject" : "SetActiveObject none");
        if (active)
            active->AddRef();
        if (active_)
            active_->Release();
        active_ = active;
        return S_OK;
    }
    STDMETHOD(InsertMenus)(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHOD(SetMenu)(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHOD(RemoveMenus)(HMENU) override { return E_NOTIMPL; }
    STDMETHOD(SetStatusText)(LPCOLESTR) override { return S_OK; }
    STDMETHOD(EnableModeless)(BOOL) override { return S_OK; }
    STDMETHOD(TranslateAccelerator)(LPMSG, WORD) override { return S_FALSE; }

    IOleInPlaceActiveObject* active() const { return active_; }

    LONG refs = 1;
    RECT rect{20, 10, 300, 110};
    std::vector<std::string> calls;

private:
    bool windowless_;
    HWND window_;
    IOleInPlaceActiveObject* active_ = nullptr;
};

// An event sink that counts what reaches it.
class CountingSink : public IDispatch {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != DIID__IZAVTControlEvents)
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
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        ids.push_back(id);
        return S_OK;
    }
    LONG refs = 1;
    std::vector<DISPID> ids;
};

// A view and data advise sink that only counts its references.
class CountingAdviseSink : public IAdviseSink {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (iid != IID_IUnknown && iid != IID_IAdviseSink)
            return E_NOINTERFACE;
        *ppv = static_cast<IAdviseSink*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    STDMETHOD_(void, OnDataChange)(FORMATETC*, STGMEDIUM*) override {}
    STDMETHOD_(void, OnViewChange)(DWORD, LONG) override {}
    STDMETHOD_(void, OnRename)(IMoniker*) override {}
    STDMETHOD_(void, OnSave)() override {}
    STDMETHOD_(void, OnClose)() override {}
    LONG refs = 1;
};

class ControlOleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_EQ(S_OK, CComObject<CZAVTControl>::CreateInstance(&control_));
        control_->AddRef();
    }
    void TearDown() override
    {
        control_->Release();
        OleUninitialize();
    }
    template <class Q>
    CComPtr<Q> Get() const
    {
        CComPtr<Q> q;
        EXPECT_EQ(S_OK, static_cast<IOleObject*>(control_)->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(&q)));
        return q;
    }
    CComObject<CZAVTControl>* control_ = nullptr;
};

TEST_F(ControlOleTest, EveryInterfaceAContainerNeedsIsReachedWithOneIdentity)
{
    CComPtr<IUnknown> self = Get<IUnknown>();
    const IID iids[] = {IID_IOleObject,
                        IID_IOleInPlaceObject,
                        IID_IOleInPlaceObjectWindowless,
                        IID_IOleWindow,
                        IID_IOleInPlaceActiveObject,
                        IID_IQuickActivate,
                        IID_IPersistStorage,
                        IID_IPersistStreamInit,
                        IID_IDataObject,
                        IID_ISpecifyPropertyPages,
                        IID_IViewObjectEx,
                        IID_IOleControl};
    for (const IID& iid : iids) {
        CComPtr<IUnknown> itf;
        ASSERT_EQ(S_OK, self->QueryInterface(iid, reinterpret_cast<void**>(&itf)));
        CComPtr<IUnknown> back;
        ASSERT_EQ(S_OK, itf->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)));
        EXPECT_EQ(self.get(), back.get());
    }
}

TEST_F(ControlOleTest, WindowlessInPlaceActivationAndTheContainersDrawing)
{
    Container site(true, nullptr);
    CComPtr<IOleObject> ole = Get<IOleObject>();
    ASSERT_EQ(S_OK, ole->SetClientSite(&site));
    EXPECT_EQ(S_OK, ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, &site.rect));
    EXPECT_EQ((std::vector<std::string>{"CanInPlaceActivate", "CanWindowlessActivate", "OnInPlaceActivateEx windowless",
                                        "GetWindowContext"}),
              site.calls);
    CComPtr<IOleInPlaceObjectWindowless> inplace = Get<IOleInPlaceObjectWindowless>();
    HWND hwnd = reinterpret_cast<HWND>(1);
    EXPECT_EQ(E_FAIL, inplace->GetWindow(&hwnd)) << "windowless";
    EXPECT_EQ(nullptr, hwnd);
    LRESULT result = 1;
    EXPECT_EQ(S_FALSE, inplace->OnWindowMessage(WM_LBUTTONDOWN, 0, 0, &result));

    // The container draws the windowless control where it placed it.
    {
        Picture picture(320, 130);
        const RECTL bounds{site.rect.left, site.rect.top, site.rect.right, site.rect.bottom};
        EXPECT_EQ(S_OK, Get<IViewObject>()->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, picture.dc(), &bounds,
                                                 nullptr, nullptr, 0));
        picture.ExpectControl(site.rect);
    }

    // UI activation makes it the frame's active object; deactivation undoes both steps in order.
    site.calls.clear();
    EXPECT_EQ(S_OK, ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, nullptr, &site.rect));
    EXPECT_EQ((std::vector<std::string>{"OnUIActivate", "GetWindowContext", "SetActiveObject"}), site.calls);
    EXPECT_EQ(Get<IOleInPlaceActiveObject>().get(), site.active());
    EXPECT_EQ(S_FALSE, site.active()->TranslateAccelerator(nullptr));
    site.calls.clear();
    EXPECT_EQ(S_OK, inplace->InPlaceDeactivate());
    EXPECT_EQ((std::vector<std::string>{"GetWindowContext", "SetActiveObject none", "OnUIDeactivate",
                                        "OnInPlaceDeactivateEx"}),
              site.calls);
    EXPECT_EQ(nullptr, site.active());
    site.calls.clear();
    EXPECT_EQ(S_OK, inplace->InPlaceDeactivate());
    EXPECT_TRUE(site.calls.empty()) << "an inactive control has nothing to undo";

    inplace.Release();
    ASSERT_EQ(S_OK, ole->SetClientSite(nullptr));
    EXPECT_EQ(1, site.refs) << "every reference to the site is given back";
}

TEST_F(ControlOleTest, WindowedInPlaceActivationPaintsInAWindowOfItsOwn)
{
    HWND parent = CreateWindowExW(0, L"STATIC", L"container", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, parent);
    Container site(false, parent);
    CComPtr<IOleObject> ole = Get<IOleObject>();
    ASSERT_EQ(S_OK, ole->SetClientSite(&site));
    EXPECT_EQ(S_OK, ole->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, parent, &site.rect));
    EXPECT_EQ((std::vector<std::string>{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindowContext", "GetWindow"}),
              site.calls);

    CComPtr<IOleWindow> window = Get<IOleWindow>();
    HWND hwnd = nullptr;
    ASSERT_EQ(S_OK, window->GetWindow(&hwnd));
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(parent, GetParent(hwnd));
    auto placed = [&] {
        RECT r;
        GetWindowRect(hwnd, &r);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    RECT at = placed();
    EXPECT_TRUE(EqualRect(&site.rect, &at));
    const RECT moved{5, 15, 245, 95};
    EXPECT_EQ(S_OK, Get<IOleInPlaceObject>()->SetObjectRects(&moved, &moved));
    at = placed();
    EXPECT_TRUE(EqualRect(&moved, &at));

    // The window paints the control's picture over its client area.
    {
        Picture picture(260, 100);
        SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(picture.dc()), PRF_CLIENT);
        picture.ExpectControl(RECT{0, 0, moved.right - moved.left, moved.bottom - moved.top});
    }

    site.calls.clear();
    EXPECT_EQ(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_EQ((std::vector<std::string>{"OnInPlaceDeactivate"}), site.calls);
    EXPECT_FALSE(IsWindow(hwnd)) << "deactivation destroys the window";
    EXPECT_EQ(E_FAIL, window->GetWindow(&hwnd));
    ASSERT_EQ(S_OK, ole->SetClientSite(nullptr));
    EXPECT_EQ(1, site.refs);
    DestroyWindow(parent);
}

TEST_F(ControlOleTest, QuickActivationSitesAdvisesAndAnswersTheStatus)
{
    Container site(true, nullptr);
    CountingSink sink;
    CComPtr<IQuickActivate> quick = Get<IQuickActivate>();
    QACONTAINER container{};
    container.cbSize = sizeof container;
    container.pClientSite = &site;
    container.pUnkEventSink = &sink;
    QACONTROL answer{};
    answer.cbSize = sizeof answer;
    ASSERT_EQ(S_OK, quick->QuickActivate(&container, &answer));
    EXPECT_EQ(sizeof answer, answer.cbSize);
    EXPECT_EQ(kZavtControlMiscStatus, answer.dwMiscStatus);
    EXPECT_EQ(static_cast<DWORD>(VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE), answer.dwViewStatus);
    EXPECT_NE(0u, answer.dwEventCookie);
    CComPtr<IOleClientSite> got;
    EXPECT_EQ(S_OK, Get<IOleObject>()->GetClientSite(&got));
    EXPECT_EQ(static_cast<IOleClientSite*>(&site), got.get());
    got.Release();
    EXPECT_EQ(S_OK, control_->FireInitializationStart());
    EXPECT_EQ(std::vector<DISPID>{13}, sink.ids) << "the event sink was advised";

    SIZEL extent{1234, 567};
    EXPECT_EQ(S_OK, quick->SetContentExtent(&extent));
    SIZEL back{};
    EXPECT_EQ(S_OK, quick->GetContentExtent(&back));
    EXPECT_EQ(1234, back.cx);
    EXPECT_EQ(567, back.cy);
    EXPECT_EQ(S_OK, Get<IOleObject>()->GetExtent(DVASPECT_CONTENT, &back));
    EXPECT_EQ(1234, back.cx);

    // A container that gives too small a structure is refused, and nothing is changed.
    QACONTAINER small = container;
    small.cbSize = sizeof small - 4;
    EXPECT_EQ(E_INVALIDARG, quick->QuickActivate(&small, &answer));
    EXPECT_EQ(E_POINTER, quick->QuickActivate(&container, nullptr));

    CComPtr<IConnectionPoint> cp;
    ASSERT_EQ(S_OK, control_->FindConnectionPoint(DIID__IZAVTControlEvents, &cp));
    EXPECT_EQ(S_OK, cp->Unadvise(answer.dwEventCookie));
    EXPECT_EQ(1, sink.refs);
    EXPECT_EQ(S_OK, Get<IOleObject>()->SetClientSite(nullptr));
    EXPECT_EQ(1, site.refs);
}

TEST_F(ControlOleTest, PersistsToAStorageAndBack)
{
    CComPtr<IStorage> storage;
    ASSERT_EQ(S_OK,
              StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0,
                               &storage));
    CComPtr<IPersistStorage> persist = Get<IPersistStorage>();
    CLSID clsid{};
    EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_EQ(CLSID_ZAVTControl, clsid);
    EXPECT_EQ(S_OK, persist->InitNew(storage));
    EXPECT_EQ(S_FALSE, persist->IsDirty());
    EXPECT_EQ(STG_E_FILENOTFOUND, persist->Load(storage)) << "nothing saved yet";

    SIZEL extent{4321, 765};
    ASSERT_EQ(S_OK, Get<IOleObject>()->SetExtent(DVASPECT_CONTENT, &extent));
    EXPECT_EQ(S_OK, persist->IsDirty());
    ASSERT_EQ(S_OK, persist->Save(storage, TRUE));
    EXPECT_EQ(S_OK, persist->SaveCompleted(nullptr));
    EXPECT_EQ(S_FALSE, persist->IsDirty());

    CComObject<CZAVTControl>* other = nullptr;
    ASSERT_EQ(S_OK, CComObject<CZAVTControl>::CreateInstance(&other));
    other->AddRef();
    CComPtr<IPersistStorage> otherPersist;
    ASSERT_EQ(S_OK, static_cast<IOleObject*>(other)->QueryInterface(IID_IPersistStorage,
                                                                    reinterpret_cast<void**>(&otherPersist)));
    ASSERT_EQ(S_OK, otherPersist->Load(storage));
    SIZEL loaded{};
    EXPECT_EQ(S_OK, static_cast<IOleObject*>(other)->GetExtent(DVASPECT_CONTENT, &loaded));
    EXPECT_EQ(4321, loaded.cx);
    EXPECT_EQ(765, loaded.cy);
    EXPECT_EQ(S_FALSE, otherPersist->IsDirty());

    // A stream cut short is refused and changes nothing.
    {
        CComPtr<IStream> stream;
        ASSERT_EQ(S_OK,
                  storage->CreateStream(L"Contents", STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0, &stream));
        const DWORD version = 0x0300;
        ASSERT_EQ(S_OK, stream->Write(&version, sizeof version, nullptr));
    }
    EXPECT_EQ(E_FAIL, otherPersist->Load(storage));
    EXPECT_EQ(S_OK, static_cast<IOleObject*>(other)->GetExtent(DVASPECT_CONTENT, &loaded));
    EXPECT_EQ(4321, loaded.cx);
    EXPECT_EQ(E_POINTER, otherPersist->Save(nullptr, TRUE));
    otherPersist.Release();
    other->Release();
}

TEST_F(ControlOleTest, HandsOutItsPictureAsAMetafileAndHasNoPropertyPages)
{
    CComPtr<IDataObject> data = Get<IDataObject>();
    FORMATETC emf{CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
    FORMATETC text{CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(S_OK, data->QueryGetData(&emf));
    EXPECT_EQ(DV_E_FORMATETC, data->QueryGetData(&text));
    STGMEDIUM medium{};
    EXPECT_EQ(DV_E_FORMATETC, data->GetData(&text, &medium));
    ASSERT_EQ(S_OK, data->GetData(&emf, &medium));
    ASSERT_EQ(static_cast<DWORD>(TYMED_ENHMF), medium.tymed);
    ASSERT_NE(nullptr, medium.hEnhMetaFile);

    // The metafile holds the frame and the name.
    struct Found {
        bool rectangle = false;
        std::wstring text;
    } found;
    EnumEnhMetaFile(
        nullptr, medium.hEnhMetaFile,
        [](HDC, HANDLETABLE*, const ENHMETARECORD* r, int, LPARAM p) -> int {
            auto* f = reinterpret_cast<Found*>(p);
            if (r->iType == EMR_RECTANGLE)
                f->rectangle = true;
            if (r->iType == EMR_EXTTEXTOUTW) {
                auto* t = reinterpret_cast<const EMREXTTEXTOUTW*>(r);
                const auto* chars =
                    reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(r) + t->emrtext.offString);
                f->text.assign(chars, t->emrtext.nChars);
            }
            return 1;
        },
        &found, nullptr);
    EXPECT_TRUE(found.rectangle);
    EXPECT_EQ(std::wstring(kName), found.text);
    ReleaseStgMedium(&medium);

    // Data advise connections come and go; each holds the sink while it lasts.
    CountingAdviseSink sink;
    DWORD connection = 0;
    ASSERT_EQ(S_OK, data->DAdvise(&emf, 0, &sink, &connection));
    EXPECT_NE(0u, connection);
    EXPECT_LT(1, sink.refs);
    CComPtr<IEnumSTATDATA> connections;
    ASSERT_EQ(S_OK, data->EnumDAdvise(&connections));
    STATDATA stat{};
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, connections->Next(1, &stat, &fetched));
    EXPECT_EQ(connection, stat.dwConnection);
    if (stat.pAdvSink)
        stat.pAdvSink->Release();
    connections.Release();
    EXPECT_EQ(S_OK, data->DUnadvise(connection));
    EXPECT_EQ(OLE_E_NOCONNECTION, data->DUnadvise(connection));
    EXPECT_EQ(1, sink.refs);

    CComPtr<ISpecifyPropertyPages> pages = Get<ISpecifyPropertyPages>();
    CAUUID uuids{5, reinterpret_cast<GUID*>(1)};
    EXPECT_EQ(S_OK, pages->GetPages(&uuids));
    EXPECT_EQ(0u, uuids.cElems);
    EXPECT_EQ(nullptr, uuids.pElems);
}

}  // namespace
