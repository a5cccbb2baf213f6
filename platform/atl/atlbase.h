// Our small stand-in for the ATL pieces a COM server is built from: the module (lock count, class-object
// table, registration), reference-counted objects with an interface map, class factories, and the
// smart owners for interface pointers, BSTRs and VARIANTs. Knows nothing of the server built on it.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <new>
#include <utility>

// ---- owners -------------------------------------------------------------------------------------

template <class T>
class CComPtr {
public:
    CComPtr() = default;
    CComPtr(T* p) : p_(p)
    {
        if (p_)
            p_->AddRef();
    }
    CComPtr(const CComPtr& o) : CComPtr(o.p_) {}
    CComPtr(CComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~CComPtr() { Release(); }
    CComPtr& operator=(const CComPtr& o)
    {
        CComPtr(o).Swap(*this);
        return *this;
    }
    CComPtr& operator=(CComPtr&& o) noexcept
    {
        CComPtr(std::move(o)).Swap(*this);
        return *this;
    }
    CComPtr& operator=(T* p)
    {
        CComPtr(p).Swap(*this);
        return *this;
    }
    void Release()
    {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    void Swap(CComPtr& o) noexcept { std::swap(p_, o.p_); }
    // Takes over a reference the caller owns.
    void Attach(T* p)
    {
        Release();
        p_ = p;
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    T** operator&()
    {
        Release();
        return &p_;
    }
    T* operator->() const { return p_; }
    operator T*() const { return p_; }
    T* get() const { return p_; }
    template <class Q>
    HRESULT QueryInterface(Q** pp) const
    {
        return p_ ? p_->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp)) : E_POINTER;
    }
    HRESULT CoCreateInstance(REFCLSID clsid, DWORD context = CLSCTX_ALL)
    {
        Release();
        return ::CoCreateInstance(clsid, nullptr, context, __uuidof(T), reinterpret_cast<void**>(&p_));
    }

private:
    T* p_ = nullptr;
};

class CComBSTR {
public:
    CComBSTR() = default;
    explicit CComBSTR(const wchar_t* s) : s_(s ? SysAllocString(s) : nullptr) {}
    CComBSTR(const CComBSTR& o) : s_(o.s_ ? SysAllocStringLen(o.s_, SysStringLen(o.s_)) : nullptr) {}
    CComBSTR(CComBSTR&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    ~CComBSTR() { SysFreeString(s_); }
    CComBSTR& operator=(CComBSTR o) noexcept
    {
        std::swap(s_, o.s_);
        return *this;
    }
    BSTR* operator&()
    {
        SysFreeString(std::exchange(s_, nullptr));
        return &s_;
    }
    operator BSTR() const { return s_; }
    BSTR get() const { return s_; }
    UINT Length() const { return SysStringLen(s_); }
    // Hands the string to an out-parameter; E_OUTOFMEMORY when a copy cannot be made.
    HRESULT CopyTo(BSTR* out) const
    {
        if (!out)
            return E_POINTER;
        *out = s_ ? SysAllocStringLen(s_, SysStringLen(s_)) : nullptr;
        return (s_ && !*out) ? E_OUTOFMEMORY : S_OK;
    }
    BSTR Detach() { return std::exchange(s_, nullptr); }
    void Attach(BSTR s)
    {
        SysFreeString(s_);
        s_ = s;
    }

private:
    BSTR s_ = nullptr;
};

class CComVariant : public VARIANT {
public:
    CComVariant() { VariantInit(this); }
    CComVariant(const CComVariant& o)
    {
        VariantInit(this);
        VariantCopy(this, const_cast<CComVariant*>(&o));
    }
    explicit CComVariant(long v)
    {
        VariantInit(this);
        vt = VT_I4;
        lVal = v;
    }
    explicit CComVariant(const wchar_t* s)
    {
        VariantInit(this);
        vt = VT_BSTR;
        bstrVal = SysAllocString(s);
    }
    explicit CComVariant(IDispatch* p)
    {
        VariantInit(this);
        vt = VT_DISPATCH;
        pdispVal = p;
        if (p)
            p->AddRef();
    }
    ~CComVariant() { VariantClear(this); }
    CComVariant& operator=(const CComVariant& o)
    {
        if (this != &o)
            VariantCopy(this, const_cast<CComVariant*>(&o));
        return *this;
    }
    void Clear() { VariantClear(this); }
};

// ---- module ---------------------------------------------------------------------------------------

// One entry of the class-object table.
struct _ATL_OBJMAP_ENTRY {
    const CLSID* pclsid;
    HRESULT(WINAPI* pfnUpdateRegistry)(BOOL bRegister);
    HRESULT(WINAPI* pfnCreateInstance)(IUnknown* outer, REFIID riid, void** ppv);
    IUnknown* pCF;  // the class factory, made on first request and kept until Term
};

#define BEGIN_OBJECT_MAP(x) static _ATL_OBJMAP_ENTRY x[] = {
#define OBJECT_ENTRY(clsid, class) {&clsid, &class ::UpdateRegistry, &class ::CreateInstance, nullptr},
#define END_OBJECT_MAP()                   \
    {                                      \
        nullptr, nullptr, nullptr, nullptr \
    }                                      \
    }                                      \
    ;

class CComModule {
public:
    CComModule() = default;
    CComModule(const CComModule&) = delete;
    CComModule& operator=(const CComModule&) = delete;
    ~CComModule();

    // The table is borrowed for the life of the module; the type library is resource 1 of the instance.
    HRESULT Init(_ATL_OBJMAP_ENTRY* map, HINSTANCE instance, const GUID* libid = nullptr);
    // Releases the class factories and the cached type information.
    void Term();

    LONG Lock();
    LONG Unlock();
    LONG GetLockCount() const { return lockCount_; }
    HINSTANCE GetModuleInstance() const { return instance_; }
    HINSTANCE GetResourceInstance() const { return instance_; }
    const GUID* GetLibID() const { return libid_; }

    // DllGetClassObject: the factory of a CLSID in the table; CLASS_E_CLASSNOTAVAILABLE otherwise.
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
    // Runs every registration step in table order (stopping at the first failure), then the type library.
    HRESULT RegisterServer(BOOL registerTypeLib = TRUE);
    // Runs every registration step in removal mode, then unregisters the type library.
    HRESULT UnregisterServer(BOOL unregisterTypeLib = TRUE);
    // Runs a REGISTRY resource of the module with %MODULE% set to the module's full path.
    HRESULT UpdateRegistryFromResource(UINT id, BOOL bRegister);
    HRESULT RegisterTypeLib();
    HRESULT UnRegisterTypeLib();

    // The type information of one interface or coclass of the module's own type library, loaded once
    // and cached (AddRef'd for the caller).
    HRESULT GetTypeInfo(REFGUID guid, ITypeInfo** ppTI);
    HRESULT GetTypeLib(ITypeLib** ppTL);
    // Full path of the module; empty when unknown.
    const wchar_t* GetModulePath() const { return path_; }

private:
    _ATL_OBJMAP_ENTRY* map_ = nullptr;
    HINSTANCE instance_ = nullptr;
    const GUID* libid_ = nullptr;
    volatile LONG lockCount_ = 0;
    CRITICAL_SECTION cs_{};
    bool initialised_ = false;
    wchar_t path_[MAX_PATH + 1] = {};
    ITypeLib* typeLib_ = nullptr;
    struct CachedInfo {
        GUID guid;
        ITypeInfo* info;
    };
    CachedInfo* infos_ = nullptr;
    size_t infoCount_ = 0;
    size_t infoCapacity_ = 0;
};

// The module of this binary (one per DLL or program).
extern CComModule _Module;

// ---- objects --------------------------------------------------------------------------------------

// Reference count and construction hooks shared by every object; interlocked so that objects may be
// touched from worker threads.
class CComObjectRootEx {
public:
    CComObjectRootEx() = default;
    CComObjectRootEx(const CComObjectRootEx&) = delete;
    CComObjectRootEx& operator=(const CComObjectRootEx&) = delete;
    ULONG InternalAddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_dwRef)); }
    ULONG InternalRelease() { return static_cast<ULONG>(InterlockedDecrement(&m_dwRef)); }
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}

protected:
    volatile LONG m_dwRef = 0;
};

// The interface map: the first entry's interface is the object's IUnknown identity.
#define BEGIN_COM_MAP(x)                                    \
public:                                                     \
    HRESULT _InternalQueryInterface(REFIID iid, void** ppv) \
    {                                                       \
        if (!ppv)                                           \
            return E_POINTER;                               \
        *ppv = nullptr;                                     \
        bool atlFirst = true;                               \
        (void)atlFirst;
#define COM_INTERFACE_ENTRY_IID(iid_, itf)                  \
    if (iid == iid_ || (atlFirst && iid == IID_IUnknown)) { \
        *ppv = static_cast<itf*>(this);                     \
        InternalAddRef();                                   \
        return S_OK;                                        \
    }                                                       \
    atlFirst = false;
#define COM_INTERFACE_ENTRY(itf) COM_INTERFACE_ENTRY_IID(__uuidof(itf), itf)
// An interface reached through one of several bases that derive from it (IDispatch of a dual).
#define COM_INTERFACE_ENTRY2(itf, via)                               \
    if (iid == __uuidof(itf) || (atlFirst && iid == IID_IUnknown)) { \
        *ppv = static_cast<itf*>(static_cast<via*>(this));           \
        InternalAddRef();                                            \
        return S_OK;                                                 \
    }                                                                \
    atlFirst = false;
#define END_COM_MAP()     \
    return E_NOINTERFACE; \
    }

// The creatable object: Base with its IUnknown. kLockModule: it holds a module lock while it lives (the
// class factories, which the module itself keeps, do not).
template <class Base, bool kLockModule>
class CComObjectT final : public Base {
public:
    CComObjectT()
    {
        if (kLockModule)
            _Module.Lock();
    }
    ~CComObjectT()
    {
        this->FinalRelease();
        if (kLockModule)
            _Module.Unlock();
    }
    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override
    {
        ULONG left = this->InternalRelease();
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override { return this->_InternalQueryInterface(iid, ppv); }

    // A new object with no reference yet (the caller's first QueryInterface or AddRef takes one).
    static HRESULT CreateInstance(CComObjectT** pp)
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        auto* p = new (std::nothrow) CComObjectT();
        if (!p)
            return E_OUTOFMEMORY;
        // FinalConstruct runs with a guard reference, so an interface it hands out cannot free the object.
        p->InternalAddRef();
        HRESULT hr = p->FinalConstruct();
        p->InternalRelease();
        if (FAILED(hr)) {
            delete p;
            return hr;
        }
        *pp = p;
        return S_OK;
    }
};

template <class Base>
using CComObject = CComObjectT<Base, true>;
template <class Base>
using CComObjectNoLock = CComObjectT<Base, false>;

// The class factory of one class of the table.
class CComClassFactory : public IClassFactory, public CComObjectRootEx {
public:
    using Creator = HRESULT(WINAPI*)(IUnknown* outer, REFIID riid, void** ppv);
    void SetCreator(Creator creator) { creator_ = creator; }

    BEGIN_COM_MAP(CComClassFactory)
    COM_INTERFACE_ENTRY(IClassFactory)
    END_COM_MAP()

    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHOD(LockServer)(BOOL lock) override;

private:
    Creator creator_ = nullptr;
};

HRESULT AtlSetErrorInfo(const CLSID& clsid, const wchar_t* description, const IID& iid, HRESULT hr);
HRESULT AtlReportError(const CLSID& clsid, UINT stringId, const IID& iid, HRESULT hr);

#define DECLARE_REGISTRY_RESOURCEID(id)                           \
    static HRESULT WINAPI UpdateRegistry(BOOL bRegister)          \
    {                                                             \
        return _Module.UpdateRegistryFromResource(id, bRegister); \
    }
#define DECLARE_NO_REGISTRY()                                \
    static HRESULT WINAPI UpdateRegistry(BOOL /*bRegister*/) \
    {                                                        \
        return S_OK;                                         \
    }

// The class side of a coclass: creation through the class factory (no aggregation) and errors raised
// with the class's ProgID as their source.
template <class T, const CLSID* pclsid>
class CComCoClass {
public:
    static const CLSID& WINAPI GetObjectCLSID() { return *pclsid; }

    static HRESULT WINAPI CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        CComObject<T>* p = nullptr;
        HRESULT hr = CComObject<T>::CreateInstance(&p);
        if (FAILED(hr))
            return hr;
        p->AddRef();
        hr = p->QueryInterface(riid, ppv);
        p->Release();
        return hr;
    }

    // Sets the thread's error information (description = string `id` of the module) and returns hr,
    // or 0x80040000 + id when hr is 0.
    static HRESULT WINAPI Error(UINT id, HRESULT hr = 0) { return AtlReportError(*pclsid, id, GUID_NULL, hr); }
    static HRESULT WINAPI Error(const wchar_t* text, HRESULT hr = 0)
    {
        return AtlSetErrorInfo(*pclsid, text, GUID_NULL, hr ? hr : E_FAIL);
    }
};

// The registrar: runs a registration script. Keys are written on registration; on removal, NoRemove keys
// stay (their sub-keys are still walked), ForceRemove keys go with all they hold, and other keys go once
// nothing but what the script wrote is left in them. `%NAME%` is replaced by the value of NAME.
struct RegistrarReplacement {
    const wchar_t* name;
    const wchar_t* value;
};
HRESULT AtlRunRegistryScript(const wchar_t* script, BOOL bRegister, const RegistrarReplacement* replacements,
                             size_t count);

// IDispatch of an object that has no type information (event sinks, a container's ambient properties):
// the three members every such object answers alike.
inline HRESULT AtlNoTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}
inline HRESULT AtlNoTypeInfo(ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return DISP_E_BADINDEX;
}
inline HRESULT AtlNoIDsOfNames(UINT count, DISPID* ids)
{
    if (ids) {
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
    }
    return DISP_E_UNKNOWNNAME;
}
