// The dispatch event sink's connection and the conversion of event arguments.
#include "platform/atl/atldispsink.h"

namespace {

bool IsObject(VARTYPE vt)
{
    return vt == VT_DISPATCH || vt == VT_UNKNOWN;
}

}  // namespace

HRESULT AtlSinkConvertArgument(const VARIANT& in, VARTYPE want, VARIANT* out)
{
    if (!out)
        return E_POINTER;
    VARIANT plain;
    VariantInit(&plain);
    // A by-reference argument is taken by value; its pointers come from the source and are checked by
    // the copy.
    const VARIANT* from = &in;
    if (in.vt == (VT_BYREF | VT_VARIANT)) {
        if (!in.pvarVal)
            return DISP_E_TYPEMISMATCH;
        from = in.pvarVal;
    }
    if ((from->vt & VT_BYREF) && !from->byref)
        return DISP_E_TYPEMISMATCH;
    HRESULT hr = VariantCopyInd(&plain, const_cast<VARIANT*>(from));
    if (FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
    if (want == VT_VARIANT || plain.vt == want) {
        *out = plain;
        return S_OK;
    }
    // A number is never read from an object's default value, nor an object made from a number.
    if (IsObject(want) != IsObject(plain.vt)) {
        VariantClear(&plain);
        return DISP_E_TYPEMISMATCH;
    }
    hr = VariantChangeType(out, &plain, 0, want);
    VariantClear(&plain);
    if (FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
    return S_OK;
}

// What the source holds: an IDispatch answering for the event interface that hands each event to the
// owner's route until it is cut off.
class CDispEventForwarder : public CComObjectRootEx, public IDispatch {
public:
    BEGIN_COM_MAP(CDispEventForwarder)
    COM_INTERFACE_ENTRY(IDispatch)
    if (iid == iid_) {
        *ppv = static_cast<IDispatch*>(this);
        InternalAddRef();
        return S_OK;
    }
    END_COM_MAP()

    void Connect(void* owner, const IID& iid, CDispEventSinkBase::Route route)
    {
        owner_ = owner;
        iid_ = iid;
        route_ = route;
    }
    void CutOff() { owner_ = nullptr; }

    STDMETHOD(GetTypeInfoCount)(UINT* count) override { return AtlNoTypeInfoCount(count); }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override { return AtlNoTypeInfo(info); }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override
    {
        return AtlNoIDsOfNames(count, ids);
    }
    STDMETHOD(Invoke)
    (DISPID id, REFIID riid, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT* argErr) override
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        if (!owner_)
            return S_OK;
        // The owner may unadvise from inside its handler; this object lives until the call returns.
        CComPtr<IDispatch> guard(this);
        return route_(owner_, id, params, argErr);
    }

private:
    void* owner_ = nullptr;
    IID iid_{};
    CDispEventSinkBase::Route route_ = nullptr;
};

CDispEventSinkBase::~CDispEventSinkBase()
{
    DispEventUnadvise();
}

HRESULT CDispEventSinkBase::DispEventAdvise(IUnknown* source)
{
    if (!source)
        return E_POINTER;
    if (forwarder_)
        return E_UNEXPECTED;
    CComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr))
        return hr;
    CComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(iid_, &point);
    if (FAILED(hr))
        return hr;
    if (!point)
        return E_UNEXPECTED;
    // Events do not keep a server in memory: the forwarder holds no module lock.
    CComObjectNoLock<CDispEventForwarder>* forwarder = nullptr;
    hr = CComObjectNoLock<CDispEventForwarder>::CreateInstance(&forwarder);
    if (FAILED(hr))
        return hr;
    forwarder->AddRef();
    forwarder->Connect(owner_, iid_, route_);
    DWORD cookie = 0;
    hr = point->Advise(static_cast<IDispatch*>(forwarder), &cookie);
    if (FAILED(hr)) {
        forwarder->CutOff();
        forwarder->Release();
        return hr;
    }
    forwarder_ = forwarder;
    point_ = point.Detach();
    cookie_ = cookie;
    return S_OK;
}

HRESULT CDispEventSinkBase::DispEventUnadvise()
{
    if (!forwarder_)
        return S_FALSE;
    CDispEventForwarder* forwarder = std::exchange(forwarder_, nullptr);
    IConnectionPoint* point = std::exchange(point_, nullptr);
    forwarder->CutOff();
    HRESULT hr = point->Unadvise(std::exchange(cookie_, 0));
    point->Release();
    static_cast<IDispatch*>(forwarder)->Release();
    return hr;
}
