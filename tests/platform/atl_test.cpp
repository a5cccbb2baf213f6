// The ATL-like layer with small test classes of its own: object lifetime and module locks, the class
// factory, dispatch through a type library, error information and registration, connection points and
// collections.
#include "platform/atl/atlcom.h"
#include "tests/platform/atl_test.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kRefusedString = 900;
volatile LONG g_liveCounters = 0;
bool g_failFinalConstruct = false;

class CAtlTestCounter : public CComObjectRootEx,
                        public CComCoClass<CAtlTestCounter, &CLSID_AtlTestCounter>,
                        public IDispatchImpl<CAtlTestCounter, IAtlTestCounter>,
                        public ISupportErrorInfoImpl<IAtlTestCounter>,
                        public IConnectionPointContainerImpl<CAtlTestCounter>,
                        public IConnectionPointImpl<CAtlTestCounter, &DIID__IAtlTestEvents> {
public:
    CAtlTestCounter() { InterlockedIncrement(&g_liveCounters); }
    ~CAtlTestCounter() { InterlockedDecrement(&g_liveCounters); }
    HRESULT FinalConstruct() { return g_failFinalConstruct ? E_OUTOFMEMORY : S_OK; }

    DECLARE_REGISTRY_RESOURCEID(200)
    BEGIN_COM_MAP(CAtlTestCounter)
    COM_INTERFACE_ENTRY(IAtlTestCounter)
    COM_INTERFACE_ENTRY2(IDispatch, IAtlTestCounter)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    END_COM_MAP()
    BEGIN_CONNECTION_POINT_MAP(CAtlTestCounter)
    CONNECTION_POINT_ENTRY(DIID__IAtlTestEvents, Events)
    END_CONNECTION_POINT_MAP()
    using Events = IConnectionPointImpl<CAtlTestCounter, &DIID__IAtlTestEvents>;

    STDMETHOD(get_Value)(long* pVal) override
    {
        if (!pVal)
            return E_POINTER;
        *pVal = value_;
        return S_OK;
    }
    STDMETHOD(put_Value)(long v) override
    {
        value_ = v;
        return S_OK;
    }
    STDMETHOD(Add)(long n, BSTR label, long* sum) override
    {
        if (!sum)
            return E_POINTER;
        value_ += n;
        lastLabel_ = label ? label : L"";
        *sum = value_;
        FirePing(value_);
        return S_OK;
    }
    STDMETHOD(Fail)(long stringId) override { return Error(static_cast<UINT>(stringId)); }

    HRESULT FirePing(long n)
    {
        VARIANT args[2];
        VariantInit(&args[0]);
        args[0].vt = VT_I4;
        args[0].lVal = n;
        VariantInit(&args[1]);
        args[1].vt = VT_DISPATCH;
        args[1].pdispVal = static_cast<IAtlTestCounter*>(this);
        return AtlFireDispatch(Sinks(), 1, args, 2);
    }

    std::wstring lastLabel_;

private:
    long value_ = 0;
};

class CAtlTestItems : public CComObjectRootEx,
                      public CComCoClass<CAtlTestItems, &CLSID_AtlTestItems>,
                      public ICollectionOnVectorImpl<CAtlTestItems, IAtlTestItems, IAtlTestCounter>,
                      public ISupportErrorInfoImpl<IAtlTestItems> {
public:
    DECLARE_NO_REGISTRY()
    BEGIN_COM_MAP(CAtlTestItems)
    COM_INTERFACE_ENTRY(IAtlTestItems)
    COM_INTERFACE_ENTRY2(IDispatch, IAtlTestItems)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()
};

BEGIN_OBJECT_MAP(g_objectMap)
OBJECT_ENTRY(CLSID_AtlTestCounter, CAtlTestCounter)
OBJECT_ENTRY(CLSID_AtlTestItems, CAtlTestItems)
END_OBJECT_MAP()

class AtlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        _Module.Init(g_objectMap, GetModuleHandleW(nullptr), &LIBID_KwepAtlTestLib);
        locks_ = _Module.GetLockCount();
        live_ = g_liveCounters;
    }
    void TearDown() override
    {
        EXPECT_EQ(locks_, _Module.GetLockCount()) << "every object and lock is gone";
        EXPECT_EQ(live_, g_liveCounters);
        CoUninitialize();
    }

    static CComPtr<IAtlTestCounter> NewCounter(long value)
    {
        CComPtr<IAtlTestCounter> c;
        EXPECT_EQ(S_OK, CAtlTestCounter::CreateInstance(nullptr, IID_IAtlTestCounter, reinterpret_cast<void**>(&c)));
        if (c)
            c->put_Value(value);
        return c;
    }

    LONG locks_ = 0;
    LONG live_ = 0;
};

long ValueOf(IUnknown* unk)
{
    CComPtr<IAtlTestCounter> c;
    if (!unk || FAILED(unk->QueryInterface(IID_IAtlTestCounter, reinterpret_cast<void**>(&c))))
        return -999;
    long v = -1;
    c->get_Value(&v);
    return v;
}

ULONG RefCount(IUnknown* p)
{
    p->AddRef();
    return p->Release();
}

// ---- lifetime ----

TEST_F(AtlTest, ObjectCountsItsReferencesAndHoldsTheModule)
{
    CComObject<CAtlTestCounter>* raw = nullptr;
    ASSERT_EQ(S_OK, CComObject<CAtlTestCounter>::CreateInstance(&raw));
    EXPECT_EQ(locks_ + 1, _Module.GetLockCount());
    EXPECT_EQ(1u, raw->AddRef());
    EXPECT_EQ(2u, raw->AddRef());
    EXPECT_EQ(1u, raw->Release());

    // One identity whichever interface it is asked through.
    IUnknown *viaCounter = nullptr, *viaErrorInfo = nullptr;
    CComPtr<ISupportErrorInfo> sei;
    ASSERT_EQ(S_OK, raw->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&sei)));
    ASSERT_EQ(S_OK, raw->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaCounter)));
    ASSERT_EQ(S_OK, sei->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaErrorInfo)));
    EXPECT_EQ(viaCounter, viaErrorInfo);
    viaCounter->Release();
    viaErrorInfo->Release();
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, raw->QueryInterface(IID_IPersist, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(E_POINTER, raw->QueryInterface(IID_IUnknown, nullptr));
    sei.Release();
    EXPECT_EQ(0u, raw->Release());
}

TEST_F(AtlTest, FailedFinalConstructLeavesNothing)
{
    g_failFinalConstruct = true;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_OUTOFMEMORY, CAtlTestCounter::CreateInstance(nullptr, IID_IAtlTestCounter, &p));
    g_failFinalConstruct = false;
    EXPECT_EQ(nullptr, p);
}

// ---- class factory ----

TEST_F(AtlTest, ClassFactoryIsKeptRefusesAggregationAndLocksTheServer)
{
    CComPtr<IClassFactory> cf, again;
    ASSERT_EQ(S_OK, _Module.GetClassObject(CLSID_AtlTestCounter, IID_IClassFactory, reinterpret_cast<void**>(&cf)));
    ASSERT_EQ(S_OK, _Module.GetClassObject(CLSID_AtlTestCounter, IID_IClassFactory, reinterpret_cast<void**>(&again)));
    EXPECT_EQ(cf.get(), again.get());
    EXPECT_EQ(locks_, _Module.GetLockCount()) << "a kept factory does not hold the server";

    CComPtr<IAtlTestCounter> counter;
    ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IAtlTestCounter, reinterpret_cast<void**>(&counter)));
    void* inner = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, cf->CreateInstance(counter, IID_IUnknown, &inner));
    EXPECT_EQ(nullptr, inner);
    LONG live = g_liveCounters;
    inner = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, cf->CreateInstance(nullptr, IID_IPersist, &inner));
    EXPECT_EQ(nullptr, inner);
    EXPECT_EQ(live, g_liveCounters) << "an object whose interface was refused is freed";
    EXPECT_EQ(E_POINTER, cf->CreateInstance(nullptr, IID_IUnknown, nullptr));

    EXPECT_EQ(S_OK, cf->LockServer(TRUE));
    EXPECT_EQ(locks_ + 2, _Module.GetLockCount());
    EXPECT_EQ(S_OK, cf->LockServer(FALSE));

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, _Module.GetClassObject(IID_IPersist, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
}

// ---- dispatch ----

TEST_F(AtlTest, DispatchByNameAndDispidThroughTheTypeLibrary)
{
    CComPtr<IAtlTestCounter> counter = NewCounter(5);
    CComPtr<IDispatch> disp;
    ASSERT_EQ(S_OK, counter.QueryInterface(&disp));

    UINT n = 0;
    EXPECT_EQ(S_OK, disp->GetTypeInfoCount(&n));
    EXPECT_EQ(1u, n);
    CComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, disp->GetTypeInfo(0, 0, &info));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(IID_IAtlTestCounter, attr->guid);
    info->ReleaseTypeAttr(attr);
    ITypeInfo* bad = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(DISP_E_BADINDEX, disp->GetTypeInfo(1, 0, &bad));
    EXPECT_EQ(nullptr, bad);

    struct NameCase {
        const wchar_t* name;
        HRESULT hr;
        DISPID id;
    } names[] = {{L"Value", S_OK, 1}, {L"add", S_OK, 2}, {L"Fail", S_OK, 3}, {L"Nope", DISP_E_UNKNOWNNAME, -1}};
    for (const NameCase& c : names) {
        DISPID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(c.name);
        EXPECT_EQ(c.hr, disp->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) << c.name;
        EXPECT_EQ(c.id, id) << c.name;
    }
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"Value");
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, disp->GetIDsOfNames(IID_IDispatch, &name, 1, 0, &id));

    // Put, get, and a method with arguments (given last first) and a result.
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = 40;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&arg, &named, 1, 1};
    ASSERT_EQ(S_OK, disp->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr));
    CComVariant result;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(S_OK, disp->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    EXPECT_EQ(VT_I4, result.vt);
    EXPECT_EQ(40, result.lVal);

    CComVariant args[2];
    args[0] = CComVariant(L"late");
    args[1] = CComVariant(2L);
    DISPPARAMS call{args, nullptr, 2, 0};
    CComVariant sum;
    ASSERT_EQ(S_OK, disp->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &call, &sum, nullptr, nullptr));
    EXPECT_EQ(42, sum.lVal);
    long v = 0;
    counter->get_Value(&v);
    EXPECT_EQ(42, v);

    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              disp->Invoke(1, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, disp->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &none, &sum, nullptr, nullptr));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, disp->Invoke(77, IID_NULL, 0, DISPATCH_METHOD, &none, &sum, nullptr, nullptr));
}

// ---- error information and registration ----

bool KeyExists(HKEY root, const wchar_t* path)
{
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

std::wstring StringValue(HKEY root, const wchar_t* path, const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegGetValueW(root, path, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return buffer;
}

TEST_F(AtlTest, ErrorRaisesTheStringUnderTheRegisteredProgId)
{
    // The counter's script (with the module's path) registers its ProgID; the collection has none.
    ASSERT_EQ(S_OK, _Module.RegisterServer(FALSE));
    const wchar_t* clsidKey = L"CLSID\\{5B0C3C10-7E0A-4F7B-9E51-2A1D6C0B0005}";
    EXPECT_EQ(_Module.GetModulePath(),
              StringValue(HKEY_CLASSES_ROOT, (std::wstring(clsidKey) + L"\\InprocServer32").c_str(), nullptr));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{5B0C3C10-7E0A-4F7B-9E51-2A1D6C0B0006}"));

    CComPtr<IAtlTestCounter> counter = NewCounter(0);
    CComPtr<ISupportErrorInfo> sei;
    ASSERT_EQ(S_OK, counter.QueryInterface(&sei));
    EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IAtlTestCounter));
    EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IDispatch));

    EXPECT_EQ(static_cast<HRESULT>(0x80040000 + kRefusedString), counter->Fail(kRefusedString));
    CComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
    CComBSTR description, source;
    GUID guid{};
    info->GetDescription(&description);
    info->GetSource(&source);
    info->GetGUID(&guid);
    EXPECT_STREQ(L"The counter refused.", description.get());
    EXPECT_STREQ(L"Kwep.AtlTestCounter.1", source.get());
    EXPECT_EQ(GUID_NULL, guid);

    // With a cause, the cause is returned and the description stays the string's.
    EXPECT_EQ(E_ACCESSDENIED, CAtlTestCounter::Error(kRefusedString, E_ACCESSDENIED));

    // A late-bound caller gets the same information as an exception.
    CComPtr<IDispatch> disp;
    ASSERT_EQ(S_OK, counter.QueryInterface(&disp));
    CComVariant arg(static_cast<long>(kRefusedString));
    DISPPARAMS params{&arg, nullptr, 1, 0};
    EXCEPINFO ex{};
    HRESULT hr = disp->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &ex, nullptr);
    EXPECT_TRUE(hr == DISP_E_EXCEPTION || hr == static_cast<HRESULT>(0x80040000 + kRefusedString)) << std::hex << hr;
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrHelpFile);

    ASSERT_EQ(S_OK, _Module.UnregisterServer(FALSE));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsidKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Kwep.AtlTestCounter.1"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
}

const wchar_t* const kBase = L"Software\\KwepAtlRegistrarTest";

TEST_F(AtlTest, RegistrarWritesAndRemovesWhatTheScriptSays)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
    // Stale content under a ForceRemove key goes at registration.
    HKEY k = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KwepAtlRegistrarTest\\Forced\\Stale", 0,
                                             nullptr, 0, KEY_WRITE, nullptr, &k, nullptr));
    RegCloseKey(k);
    const wchar_t* script =
        L"HKCU\n{\n NoRemove Software\n {\n  NoRemove KwepAtlRegistrarTest\n  {\n"
        L"   Plain = s 'it''s %MODULE%'\n   {\n    val Number = d '4660'\n    val 'Named value' = s '100%%'\n"
        L"    'Sub key' = s 'x'\n   }\n"
        L"   ForceRemove Forced = s 'forced'\n   {\n    Inner\n   }\n"
        L"   Shared\n   {\n    Mine = s 'mine'\n   }\n  }\n }\n}\n";
    RegistrarReplacement module{L"MODULE", L"C:\\path\\x.dll"};
    ASSERT_EQ(S_OK, AtlRunRegistryScript(script, TRUE, &module, 1));

    const std::wstring base = kBase;
    EXPECT_EQ(L"it's C:\\path\\x.dll", StringValue(HKEY_CURRENT_USER, (base + L"\\Plain").c_str(), nullptr));
    DWORD number = 0, size = sizeof number;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, (base + L"\\Plain").c_str(), L"Number", RRF_RT_REG_DWORD,
                                          nullptr, &number, &size));
    EXPECT_EQ(4660u, number);
    EXPECT_EQ(L"100%", StringValue(HKEY_CURRENT_USER, (base + L"\\Plain").c_str(), L"Named value"));
    EXPECT_EQ(L"x", StringValue(HKEY_CURRENT_USER, (base + L"\\Plain\\Sub key").c_str(), nullptr));
    EXPECT_EQ(L"forced", StringValue(HKEY_CURRENT_USER, (base + L"\\Forced").c_str(), nullptr));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, (base + L"\\Forced\\Inner").c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, (base + L"\\Forced\\Stale").c_str()));

    // Someone else's key inside a plain key keeps that key at removal.
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (base + L"\\Shared\\Theirs").c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, &k, nullptr));
    RegCloseKey(k);
    ASSERT_EQ(S_OK, AtlRunRegistryScript(script, FALSE, &module, 1));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kBase)) << "NoRemove stays";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, (base + L"\\Plain").c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, (base + L"\\Forced").c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, (base + L"\\Shared\\Mine").c_str()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, (base + L"\\Shared\\Theirs").c_str()));
    RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
    RegDeleteKeyW(HKEY_CURRENT_USER, kBase);
}

TEST_F(AtlTest, RegistrarRefusesBrokenScriptsAndWritesNothing)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
    RegDeleteKeyW(HKEY_CURRENT_USER, kBase);
    const wchar_t* scripts[] = {
        L"HKCU { Software { KwepAtlRegistrarTest { A = s 'x' } }",              // brace missing
        L"HKCU { Software { KwepAtlRegistrarTest { A = s '%NOPE%' } } }",       // unknown replacement
        L"HKXX { Software { KwepAtlRegistrarTest { A = s 'x' } } }",            // unknown root
        L"HKCU { Software { KwepAtlRegistrarTest { A = q 'x' } } }",            // unknown value type
        L"HKCU { Software { KwepAtlRegistrarTest { A = s 'unterminated } } }",  // open quote
        L"HKCU { Software { KwepAtlRegistrarTest { { } } } }",                  // brace for a name
    };
    RegistrarReplacement module{L"MODULE", L"m"};
    for (const wchar_t* s : scripts) {
        EXPECT_TRUE(FAILED(AtlRunRegistryScript(s, TRUE, &module, 1))) << s;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kBase)) << s;
    }
    EXPECT_EQ(E_POINTER, AtlRunRegistryScript(nullptr, TRUE, nullptr, 0));
}

// ---- connection points ----

// A sink that records every event: DISPID, arguments and thread.
class RecordingSink : public IDispatch {
public:
    struct Event {
        DISPID id;
        std::vector<CComVariant> args;  // as given: last argument first
        DWORD thread;
    };

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__IAtlTestEvents) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
    STDMETHOD(GetTypeInfoCount)(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)
    (DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        EXPECT_EQ(IID_NULL, riid);
        EXPECT_EQ(DISPATCH_METHOD, flags);
        Event e{id, {}, GetCurrentThreadId()};
        for (UINT i = 0; i < params->cArgs; ++i) {
            CComVariant v;
            VariantCopy(&v, &params->rgvarg[i]);
            e.args.push_back(v);
        }
        events.push_back(e);
        if (unadviseFrom && cookie) {
            unadviseFrom->Unadvise(cookie);
            cookie = 0;
        }
        return result;
    }

    std::vector<Event> events;
    LONG refs_ = 1;  // owned by the test
    HRESULT result = S_OK;
    IConnectionPoint* unadviseFrom = nullptr;
    DWORD cookie = 0;
};

TEST_F(AtlTest, ConnectionPointAdvisesFiresAndUnadvises)
{
    CComPtr<IAtlTestCounter> counter = NewCounter(0);
    CComPtr<IConnectionPointContainer> cpc;
    ASSERT_EQ(S_OK, counter.QueryInterface(&cpc));
    CComPtr<IConnectionPoint> cp;
    ASSERT_EQ(S_OK, cpc->FindConnectionPoint(DIID__IAtlTestEvents, &cp));
    IID iid{};
    EXPECT_EQ(S_OK, cp->GetConnectionInterface(&iid));
    EXPECT_EQ(DIID__IAtlTestEvents, iid);
    CComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(S_OK, cp->GetConnectionPointContainer(&back));
    EXPECT_EQ(cpc.get(), back.get());
    IConnectionPoint* missing = reinterpret_cast<IConnectionPoint*>(1);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, cpc->FindConnectionPoint(IID_IDispatch, &missing));
    EXPECT_EQ(nullptr, missing);
    CComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, cpc->EnumConnectionPoints(&points));
    IConnectionPoint* found[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, found, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(cp.get(), found[0]);
    found[0]->Release();

    RecordingSink first, second;
    DWORD c1 = 0, c2 = 0;
    ASSERT_EQ(S_OK, cp->Advise(&first, &c1));
    ASSERT_EQ(S_OK, cp->Advise(&second, &c2));
    EXPECT_NE(c1, c2);
    EXPECT_EQ(2, first.refs_) << "the point holds the sink";
    second.result = E_FAIL;  // a failing sink does not stop the others
    long sum = 0;
    ASSERT_EQ(S_OK, counter->Add(3, nullptr, &sum));
    ASSERT_EQ(1u, first.events.size());
    ASSERT_EQ(1u, second.events.size());
    const RecordingSink::Event& e = first.events[0];
    EXPECT_EQ(1, e.id);
    ASSERT_EQ(2u, e.args.size());
    EXPECT_EQ(VT_I4, e.args[0].vt);
    EXPECT_EQ(3, e.args[0].lVal);
    EXPECT_EQ(VT_DISPATCH, e.args[1].vt);
    EXPECT_EQ(3, ValueOf(e.args[1].pdispVal));

    CComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, cp->EnumConnections(&connections));
    CONNECTDATA cd[3] = {};
    EXPECT_EQ(S_FALSE, connections->Next(3, cd, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(c1, cd[0].dwCookie);
    EXPECT_EQ(c2, cd[1].dwCookie);
    cd[0].pUnk->Release();
    cd[1].pUnk->Release();
    connections.Release();

    EXPECT_EQ(S_OK, cp->Unadvise(c1));
    EXPECT_EQ(1, first.refs_);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, cp->Unadvise(c1));
    ASSERT_EQ(S_OK, counter->Add(1, nullptr, &sum));
    EXPECT_EQ(1u, first.events.size());
    EXPECT_EQ(2u, second.events.size());

    // Events fire on the thread that runs the operation.
    DWORD workerId = 0;
    std::thread worker([&] {
        workerId = GetCurrentThreadId();
        long s = 0;
        counter->Add(1, nullptr, &s);
    });
    worker.join();
    EXPECT_NE(GetCurrentThreadId(), workerId);
    ASSERT_EQ(3u, second.events.size());
    EXPECT_EQ(workerId, second.events[2].thread);

    // A sink may unadvise itself from inside its event.
    second.unadviseFrom = cp;
    second.cookie = c2;
    ASSERT_EQ(S_OK, counter->Add(1, nullptr, &sum));
    ASSERT_EQ(S_OK, counter->Add(1, nullptr, &sum));
    EXPECT_EQ(4u, second.events.size());
    EXPECT_EQ(1, second.refs_);

    DWORD c = 7;
    EXPECT_EQ(E_POINTER, cp->Advise(nullptr, &c));
    EXPECT_EQ(0u, c);
    CComPtr<IAtlTestItems> notASink;
    ASSERT_EQ(S_OK, CAtlTestItems::CreateInstance(nullptr, IID_IAtlTestItems, reinterpret_cast<void**>(&notASink)));
    // The collection answers to IDispatch, so only an object without it is refused.
    CComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, _Module.GetClassObject(CLSID_AtlTestItems, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, cp->Advise(factory, &c));
}

// ---- collections ----

TEST_F(AtlTest, CollectionWalkedByItemAndNewEnum)
{
    CComObject<CAtlTestItems>* raw = nullptr;
    ASSERT_EQ(S_OK, CComObject<CAtlTestItems>::CreateInstance(&raw));
    CComPtr<IAtlTestItems> items(raw);
    CComPtr<IAtlTestCounter> a = NewCounter(10), b = NewCounter(20), c = NewCounter(30);
    for (IAtlTestCounter* p : {a.get(), b.get(), c.get()})
        ASSERT_EQ(S_OK, raw->Add(p));
    EXPECT_EQ(2u, RefCount(a)) << "the collection holds each element";

    long count = 0;
    EXPECT_EQ(S_OK, items->get_Count(&count));
    EXPECT_EQ(3, count);
    struct ItemCase {
        long n;
        HRESULT hr;
        long value;
    } cases[] = {{-5, S_OK, 10}, {0, S_OK, 10}, {1, S_OK, 10}, {2, S_OK, 20}, {3, S_OK, 30}, {4, E_FAIL, -999}};
    for (const ItemCase& k : cases) {
        CComPtr<IAtlTestCounter> item;
        EXPECT_EQ(k.hr, items->get_Item(k.n, &item)) << k.n;
        EXPECT_EQ(k.value, ValueOf(item)) << k.n;
    }
    EXPECT_EQ(E_POINTER, items->get_Item(1, nullptr));
    EXPECT_EQ(E_POINTER, items->get_Count(nullptr));
    EXPECT_EQ(E_POINTER, items->get__NewEnum(nullptr));

    CComPtr<IUnknown> unk;
    ASSERT_EQ(S_OK, items->get__NewEnum(&unk));
    CComPtr<IEnumVARIANT> e;
    ASSERT_EQ(S_OK, unk.QueryInterface(&e));
    std::vector<long> seen;
    for (;;) {
        CComVariant v;
        ULONG fetched = 0;
        if (e->Next(1, &v, &fetched) != S_OK)
            break;
        EXPECT_EQ(VT_DISPATCH, v.vt);
        seen.push_back(ValueOf(v.pdispVal));
    }
    EXPECT_EQ((std::vector<long>{10, 20, 30}), seen);
    EXPECT_EQ(S_OK, e->Reset());
    EXPECT_EQ(S_OK, e->Skip(1));
    CComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(S_OK, e->Clone(&clone));
    VARIANT many[4];
    for (VARIANT& v : many)
        VariantInit(&v);
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, clone->Next(4, many, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(20, ValueOf(many[0].pdispVal));
    EXPECT_EQ(30, ValueOf(many[1].pdispVal));
    for (VARIANT& v : many)
        VariantClear(&v);
    EXPECT_EQ(S_FALSE, e->Skip(5));
    EXPECT_EQ(E_POINTER, e->Next(2, many, nullptr));

    // Late bound: Item is the default member, _NewEnum the enumeration member.
    CComPtr<IDispatch> disp;
    ASSERT_EQ(S_OK, items.QueryInterface(&disp));
    CComVariant index(2L);
    DISPPARAMS one{&index, nullptr, 1, 0};
    CComVariant result;
    ASSERT_EQ(S_OK, disp->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &one, &result, nullptr, nullptr));
    ASSERT_EQ(VT_DISPATCH, result.vt);
    EXPECT_EQ(20, ValueOf(result.pdispVal));
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    CComVariant en;
    ASSERT_EQ(S_OK, disp->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &en, nullptr, nullptr));
    EXPECT_EQ(VT_UNKNOWN, en.vt);
    en.Clear();
    result.Clear();

    e.Release();
    clone.Release();
    unk.Release();
    disp.Release();
    items.Release();
    EXPECT_EQ(1u, RefCount(a)) << "elements are released with the collection";
}

TEST_F(AtlTest, EmptyCollectionHasNoItem)
{
    CComPtr<IAtlTestItems> items;
    ASSERT_EQ(S_OK, CAtlTestItems::CreateInstance(nullptr, IID_IAtlTestItems, reinterpret_cast<void**>(&items)));
    for (long n : {0L, 1L, 2L}) {
        IAtlTestCounter* item = reinterpret_cast<IAtlTestCounter*>(1);
        EXPECT_EQ(E_FAIL, items->get_Item(n, &item));
        EXPECT_EQ(nullptr, item);
    }
    CComPtr<IUnknown> unk;
    ASSERT_EQ(S_OK, items->get__NewEnum(&unk));
    CComPtr<IEnumVARIANT> e;
    ASSERT_EQ(S_OK, unk.QueryInterface(&e));
    CComVariant v;
    ULONG fetched = 9;
    EXPECT_EQ(S_FALSE, e->Next(1, &v, &fetched));
    EXPECT_EQ(0u, fetched);
}

}  // namespace
