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
// a container sets another), its client site and whether it changed since it was last saved.
class CComControlBase {
public:
    CComControlBase() = default;
    CComControlBase(const CComControlBase&) = delete;
    CComControlBase& operator=(const CComControlBase&) = delete;
    ~CComControlBase()
    {
        if (m_spClientSite)
            m_spClientSite->Release();
    }

    SIZEL m_sizeExtent{2 * 2540, 2 * 2540};
    IOleClientSite* m_spClientSite = nullptr;
    bool m_bRequiresSave = false;
};

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
    STDMETHOD(Close)(DWORD) override { return S_OK; }
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
        switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE:
        case OLEIVERB_HIDE:
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
