// Dual interfaces dispatched through the type library, error information, enumerators, connection
// points and read-only collections of our ATL-like layer.
#pragma once

#include "platform/atl/atlbase.h"

#include <ocidl.h>
#include <olectl.h>

#include <vector>

// ---- dual interfaces ------------------------------------------------------------------------------

// IDispatch of the dual interface Itf, answered by the module's type library (its ITypeInfo is loaded
// once and cached by the module).
template <class T, class Itf>
class IDispatchImpl : public Itf {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT itinfo, LCID, ITypeInfo** pptinfo) override
    {
        if (!pptinfo)
            return E_POINTER;
        *pptinfo = nullptr;
        if (itinfo != 0)
            return DISP_E_BADINDEX;
        return _Module.GetTypeInfo(__uuidof(Itf), pptinfo);
    }
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        CComPtr<ITypeInfo> info;
        HRESULT hr = _Module.GetTypeInfo(__uuidof(Itf), &info);
        if (FAILED(hr))
            return hr;
        return DispGetIDsOfNames(info, names, count, ids);
    }
    STDMETHOD(Invoke)
    (DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
     UINT* argErr) override
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        CComPtr<ITypeInfo> info;
        HRESULT hr = _Module.GetTypeInfo(__uuidof(Itf), &info);
        if (FAILED(hr))
            return hr;
        return info->Invoke(static_cast<Itf*>(static_cast<T*>(this)), id, flags, params, result, excepInfo, argErr);
    }
};

// ---- error information ------------------------------------------------------------------------------

// Error information is offered for the one interface given.
template <class Itf>
class ISupportErrorInfoImpl : public ISupportErrorInfo {
public:
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override { return riid == __uuidof(Itf) ? S_OK : S_FALSE; }
};

// ---- enumerators ------------------------------------------------------------------------------------

// Copy policies of the enumerators: how an element is handed out and freed.
struct _CopyVariant {
    static HRESULT copy(VARIANT* to, const VARIANT* from)
    {
        VariantInit(to);
        return VariantCopy(to, const_cast<VARIANT*>(from));
    }
    static void init(VARIANT* p) { VariantInit(p); }
    static void destroy(VARIANT* p) { VariantClear(p); }
};
struct _CopyConnectData {
    static HRESULT copy(CONNECTDATA* to, const CONNECTDATA* from)
    {
        *to = *from;
        if (to->pUnk)
            to->pUnk->AddRef();
        return S_OK;
    }
    static void init(CONNECTDATA* p) { *p = CONNECTDATA{}; }
    static void destroy(CONNECTDATA* p)
    {
        if (p->pUnk)
            p->pUnk->Release();
        *p = CONNECTDATA{};
    }
};
template <class Itf>
struct _CopyInterface {
    static HRESULT copy(Itf** to, Itf* const* from)
    {
        *to = *from;
        if (*to)
            (*to)->AddRef();
        return S_OK;
    }
    static void init(Itf** p) { *p = nullptr; }
    static void destroy(Itf** p)
    {
        if (*p)
            (*p)->Release();
        *p = nullptr;
    }
};

// A snapshot enumerator: owns copies of the elements it walks (Clone shares nothing with the original).
template <class Base, const IID* piid, class T, class Copy>
class CComEnum : public Base, public CComObjectRootEx {
public:
    BEGIN_COM_MAP(CComEnum)
    COM_INTERFACE_ENTRY_IID(*piid, Base)
    END_COM_MAP()

    ~CComEnum()
    {
        for (T& t : items_)
            Copy::destroy(&t);
    }

    // Copies [begin, end) into the enumerator.
    HRESULT Init(const T* begin, const T* end)
    {
        try {
            items_.reserve(static_cast<size_t>(end - begin));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        for (const T* p = begin; p != end; ++p) {
            T t;
            Copy::init(&t);
            HRESULT hr = Copy::copy(&t, p);
            if (FAILED(hr))
                return hr;
            items_.push_back(t);
        }
        return S_OK;
    }

    STDMETHOD(Next)(ULONG celt, T* out, ULONG* fetched) override
    {
        if (fetched)
            *fetched = 0;
        if (!out || (celt > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        while (n < celt && pos_ < items_.size()) {
            HRESULT hr = Copy::copy(&out[n], &items_[pos_]);
            if (FAILED(hr)) {
                for (ULONG i = 0; i < n; ++i)
                    Copy::destroy(&out[i]);
                return hr;
            }
            ++n;
            ++pos_;
        }
        if (fetched)
            *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG celt) override
    {
        size_t left = items_.size() - pos_;
        if (celt > left) {
            pos_ = items_.size();
            return S_FALSE;
        }
        pos_ += celt;
        return S_OK;
    }
    STDMETHOD(Reset)() override
    {
        pos_ = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(Base** pp) override
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        CComObject<CComEnum>* e = nullptr;
        HRESULT hr = CComObject<CComEnum>::CreateInstance(&e);
        if (FAILED(hr))
            return hr;
        e->AddRef();
        hr = e->Init(items_.data(), items_.data() + items_.size());
        if (SUCCEEDED(hr)) {
            e->pos_ = pos_;
            *pp = e;
            return S_OK;
        }
        e->Release();
        return hr;
    }

    // Makes an enumerator over [begin, end) and hands out its interface.
    static HRESULT Create(const T* begin, const T* end, Base** pp)
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        CComObject<CComEnum>* e = nullptr;
        HRESULT hr = CComObject<CComEnum>::CreateInstance(&e);
        if (FAILED(hr))
            return hr;
        e->AddRef();
        hr = e->Init(begin, end);
        if (SUCCEEDED(hr)) {
            *pp = e;
            return S_OK;
        }
        e->Release();
        return hr;
    }

private:
    std::vector<T> items_;
    size_t pos_ = 0;
};

using CComEnumVariant = CComEnum<IEnumVARIANT, &IID_IEnumVARIANT, VARIANT, _CopyVariant>;
using CComEnumConnections = CComEnum<IEnumConnections, &IID_IEnumConnections, CONNECTDATA, _CopyConnectData>;
using CComEnumConnectionPoints =
    CComEnum<IEnumConnectionPoints, &IID_IEnumConnectionPoints, IConnectionPoint*, _CopyInterface<IConnectionPoint>>;

// ---- connection points ------------------------------------------------------------------------------

// A lock held for one scope.
class CComCritSecLock {
public:
    explicit CComCritSecLock(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~CComCritSecLock() { LeaveCriticalSection(&cs_); }
    CComCritSecLock(const CComCritSecLock&) = delete;
    CComCritSecLock& operator=(const CComCritSecLock&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

// The sink list of one outgoing interface. Events may be fired from any thread: the list is locked
// while it changes, and firing walks a snapshot so a sink may unadvise from inside its event.
class CComSinkList {
public:
    CComSinkList() { InitializeCriticalSection(&cs_); }
    ~CComSinkList();
    CComSinkList(const CComSinkList&) = delete;
    CComSinkList& operator=(const CComSinkList&) = delete;

    // Adds a sink (a reference is taken); the cookie is never 0.
    HRESULT Add(IUnknown* sink, DWORD* cookie);
    HRESULT Remove(DWORD cookie);
    // The sinks in the order they were advised, each with a reference the caller releases.
    std::vector<CONNECTDATA> Snapshot();
    size_t Count();

private:
    CRITICAL_SECTION cs_;
    std::vector<CONNECTDATA> sinks_;
    DWORD nextCookie_ = 1;
};

// Calls IDispatch::Invoke (DISPATCH_METHOD, LCID user default) on every sink in advise order with the
// arguments (already in reverse order, the last argument first); a sink's failure does not stop the
// loop. Returns the last sink's result, S_OK when there is none.
HRESULT AtlFireDispatch(CComSinkList& sinks, DISPID id, VARIANT* args, UINT count);

// The connection point of the outgoing interface *piid, a part of the object T that holds it (T derives
// from IConnectionPointContainerImpl<T>): it counts its references on T. A sink is asked for *piid,
// then for IDispatch (script sinks answer only to that), so a dispinterface point stores IDispatch
// pointers.
template <class T, const IID* piid>
class IConnectionPointImpl {
public:
    IConnectionPointImpl() : point_(static_cast<T*>(this)) {}

    IConnectionPoint* GetConnectionPoint() { return &point_; }
    CComSinkList& Sinks() { return point_.sinks; }

private:
    class Point : public IConnectionPoint {
    public:
        explicit Point(T* owner) : owner_(owner) {}
        STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
        {
            if (!ppv)
                return E_POINTER;
            *ppv = nullptr;
            if (iid == IID_IConnectionPoint || iid == IID_IUnknown) {
                *ppv = static_cast<IConnectionPoint*>(this);
                AddRef();
                return S_OK;
            }
            return E_NOINTERFACE;
        }
        STDMETHOD_(ULONG, AddRef)() override { return Container()->AddRef(); }
        STDMETHOD_(ULONG, Release)() override { return Container()->Release(); }
        STDMETHOD(GetConnectionInterface)(IID* iid) override
        {
            if (!iid)
                return E_POINTER;
            *iid = *piid;
            return S_OK;
        }
        STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** pp) override
        {
            if (!pp)
                return E_POINTER;
            *pp = Container();
            (*pp)->AddRef();
            return S_OK;
        }
        STDMETHOD(Advise)(IUnknown* sink, DWORD* cookie) override
        {
            if (cookie)
                *cookie = 0;
            if (!sink || !cookie)
                return E_POINTER;
            CComPtr<IUnknown> p;
            if (FAILED(sink->QueryInterface(*piid, reinterpret_cast<void**>(&p))) &&
                FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&p))))
                return CONNECT_E_CANNOTCONNECT;
            return sinks.Add(p, cookie);
        }
        STDMETHOD(Unadvise)(DWORD cookie) override { return sinks.Remove(cookie); }
        STDMETHOD(EnumConnections)(IEnumConnections** pp) override
        {
            if (!pp)
                return E_POINTER;
            *pp = nullptr;
            std::vector<CONNECTDATA> list = sinks.Snapshot();
            HRESULT hr = CComEnumConnections::Create(list.data(), list.data() + list.size(), pp);
            for (CONNECTDATA& c : list)
                _CopyConnectData::destroy(&c);
            return hr;
        }

        CComSinkList sinks;

    private:
        IConnectionPointContainer* Container() { return static_cast<IConnectionPointContainer*>(owner_); }
        T* owner_;
    };
    Point point_;
};

// The connection-point container of T: the map lists the points (each a base of T).
#define BEGIN_CONNECTION_POINT_MAP(x)                                            \
    IConnectionPoint* _FindConnectionPoint(REFIID iid, size_t index, IID* found) \
    {                                                                            \
        size_t atlIndex = 0;                                                     \
        (void)iid;
#define CONNECTION_POINT_ENTRY(iid_, cp)                           \
    if ((found && iid == iid_) || (!found && atlIndex == index)) { \
        if (found)                                                 \
            *found = iid_;                                         \
        return static_cast<cp*>(this)->GetConnectionPoint();       \
    }                                                              \
    ++atlIndex;
#define END_CONNECTION_POINT_MAP() \
    return nullptr;                \
    }

template <class T>
class IConnectionPointContainerImpl : public IConnectionPointContainer {
public:
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** pp) override
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::vector<IConnectionPoint*> points;
        for (size_t i = 0;; ++i) {
            IConnectionPoint* cp = static_cast<T*>(this)->_FindConnectionPoint(GUID_NULL, i, nullptr);
            if (!cp)
                break;
            points.push_back(cp);
        }
        return CComEnumConnectionPoints::Create(points.data(), points.data() + points.size(), pp);
    }
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** pp) override
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        IID found;
        IConnectionPoint* cp = static_cast<T*>(this)->_FindConnectionPoint(riid, 0, &found);
        if (!cp)
            return CONNECT_E_NOCONNECTION;
        cp->AddRef();
        *pp = cp;
        return S_OK;
    }
};

// ---- collections --------------------------------------------------------------------------------------

// A read-only list of interface pointers behind the collection interface CollItf (Count, 1-based Item,
// _NewEnum). The collection holds a reference on each element until it is destroyed.
template <class T, class CollItf, class ItemItf>
class ICollectionOnVectorImpl : public IDispatchImpl<T, CollItf> {
public:
    ~ICollectionOnVectorImpl()
    {
        for (ItemItf* p : items_)
            p->Release();
    }

    // Appends an element (a reference is taken).
    HRESULT Add(ItemItf* item)
    {
        if (!item)
            return E_POINTER;
        try {
            items_.push_back(item);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        item->AddRef();
        return S_OK;
    }

    STDMETHOD(get_Count)(long* pnCount) override
    {
        if (!pnCount)
            return E_POINTER;
        *pnCount = static_cast<long>(items_.size());
        return S_OK;
    }
    // n of 1 or less is the first element; beyond Count (or on an empty list) E_FAIL.
    STDMETHOD(get_Item)(long n, ItemItf** ppItem) override
    {
        if (!ppItem)
            return E_POINTER;
        *ppItem = nullptr;
        if (items_.empty() || (n > 0 && static_cast<unsigned long>(n) > items_.size()))
            return E_FAIL;
        size_t index = n <= 1 ? 0 : static_cast<size_t>(n - 1);
        *ppItem = items_[index];
        (*ppItem)->AddRef();
        return S_OK;
    }
    STDMETHOD(get__NewEnum)(IUnknown** ppEnum) override
    {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = nullptr;
        std::vector<VARIANT> list;
        try {
            list.resize(items_.size());
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        HRESULT hr = S_OK;
        for (size_t i = 0; i < items_.size(); ++i) {
            VariantInit(&list[i]);
            IDispatch* d = nullptr;
            hr = items_[i]->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
            if (FAILED(hr))
                break;
            list[i].vt = VT_DISPATCH;
            list[i].pdispVal = d;
        }
        IEnumVARIANT* e = nullptr;
        if (SUCCEEDED(hr))
            hr = CComEnumVariant::Create(list.data(), list.data() + list.size(), &e);
        for (VARIANT& v : list)
            VariantClear(&v);
        if (SUCCEEDED(hr))
            *ppEnum = e;
        return hr;
    }

    size_t Size() const { return items_.size(); }

private:
    std::vector<ItemItf*> items_;
};
