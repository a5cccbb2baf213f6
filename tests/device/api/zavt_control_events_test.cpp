// The control object in-process: its 15 events as a recording sink sees them (order, DISPIDs, argument
// types and values, thread), the most recent control as the process's current one, and its process-wide
// build number.
#include "device/api/zavt_control.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

namespace {

class RecordingSink : public IDispatch {
public:
    struct Event {
        DISPID id;
        std::vector<VARTYPE> types;  // as given: last argument first
        std::vector<LONG_PTR> values;
        DWORD thread;
    };

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__IZAVTControlEvents) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
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
    STDMETHOD(Invoke)
    (DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* ex, UINT*) override
    {
        EXPECT_EQ(IID_NULL, riid);
        EXPECT_EQ(static_cast<LCID>(LOCALE_USER_DEFAULT), lcid);
        EXPECT_EQ(DISPATCH_METHOD, flags);
        EXPECT_EQ(nullptr, result);
        EXPECT_EQ(nullptr, ex);
        EXPECT_EQ(0u, params->cNamedArgs);
        Event e{id, {}, {}, GetCurrentThreadId()};
        for (UINT i = 0; i < params->cArgs; ++i) {
            const VARIANT& v = params->rgvarg[i];
            e.types.push_back(v.vt);
            e.values.push_back(v.vt == VT_I4 ? v.lVal : reinterpret_cast<LONG_PTR>(v.pdispVal));
        }
        events.push_back(e);
        return answer;
    }

    std::vector<Event> events;
    LONG refs = 1;
    HRESULT answer = S_OK;
};

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(S_OK, CComObject<CZAVTControl>::CreateInstance(&control_));
        control_->AddRef();
    }
    void TearDown() override
    {
        control_->Release();
        CoUninitialize();
    }
    DWORD Advise(IDispatch* sink)
    {
        CComPtr<IConnectionPoint> cp;
        EXPECT_EQ(S_OK, control_->FindConnectionPoint(DIID__IZAVTControlEvents, &cp));
        DWORD cookie = 0;
        EXPECT_EQ(S_OK, cp->Advise(sink, &cookie));
        return cookie;
    }
    void Unadvise(DWORD cookie)
    {
        CComPtr<IConnectionPoint> cp;
        ASSERT_EQ(S_OK, control_->FindConnectionPoint(DIID__IZAVTControlEvents, &cp));
        EXPECT_EQ(S_OK, cp->Unadvise(cookie));
    }
    CComObject<CZAVTControl>* control_ = nullptr;
};

TEST_F(ControlTest, EveryEventReachesTheSinkWithItsDispidAndArguments)
{
    RecordingSink sink;
    DWORD cookie = Advise(&sink);
    // An object argument: the control itself stands in for a file or storage.
    auto* object = static_cast<IDispatch*>(static_cast<IZAVTControl*>(control_));
    auto* file = reinterpret_cast<IZAVTFile*>(object);
    auto* storage = reinterpret_cast<IZAVTStorage*>(object);
    const LONG_PTR obj = reinterpret_cast<LONG_PTR>(object);
    struct Case {
        std::function<HRESULT()> fire;
        DISPID id;
        std::vector<VARTYPE> types;
        std::vector<LONG_PTR> values;
    };
    CZAVTControl* c = control_;
    const std::vector<Case> cases = {
        {[&] { return c->FireDeleteFileStart(file); }, 1, {VT_DISPATCH}, {obj}},
        {[&] { return c->FireDeleteFileEnd(nullptr); }, 2, {VT_DISPATCH}, {0}},
        {[&] { return c->FireDeleteFilePercent(nullptr, 33); }, 3, {VT_I4, VT_DISPATCH}, {33, 0}},
        {[&] { return c->FireFormatStorageStart(storage); }, 4, {VT_DISPATCH}, {obj}},
        {[&] { return c->FireFormatStorageEnd(storage); }, 5, {VT_DISPATCH}, {obj}},
        {[&] { return c->FireFormatStoragePercent(nullptr, 66); }, 6, {VT_I4, VT_DISPATCH}, {66, 0}},
        {[&] { return c->FireUploadFileStart(file); }, 7, {VT_DISPATCH}, {obj}},
        {[&] { return c->FireUploadFileEnd(file); }, 8, {VT_DISPATCH}, {obj}},
        {[&] { return c->FireUploadFilePercent(nullptr, 100); }, 9, {VT_I4, VT_DISPATCH}, {100, 0}},
        {[&] { return c->FireDownloadFileStart(nullptr); }, 10, {VT_DISPATCH}, {0}},
        {[&] { return c->FireDownloadFileEnd(nullptr); }, 11, {VT_DISPATCH}, {0}},
        {[&] { return c->FireDownloadFilePercent(nullptr, 0); }, 12, {VT_I4, VT_DISPATCH}, {0, 0}},
        {[&] { return c->FireInitializationStart(); }, 13, {}, {}},
        {[&] { return c->FireInitializationEnd(); }, 14, {}, {}},
        // HError(errContext, hresErrCode): the code comes first in the reversed list.
        {[&] { return c->FireHError(ECFormat, static_cast<long>(E_ABORT)); },
         15,
         {VT_I4, VT_I4},
         {static_cast<LONG_PTR>(static_cast<long>(E_ABORT)), 1}},
    };
    for (const Case& k : cases)
        EXPECT_EQ(S_OK, k.fire());
    ASSERT_EQ(cases.size(), sink.events.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].id);
        EXPECT_EQ(cases[i].id, sink.events[i].id);
        EXPECT_EQ(cases[i].types, sink.events[i].types);
        EXPECT_EQ(cases[i].values, sink.events[i].values);
        EXPECT_EQ(GetCurrentThreadId(), sink.events[i].thread);
    }
    Unadvise(cookie);
    EXPECT_EQ(1, sink.refs);
}

TEST_F(ControlTest, SinksAreCalledInAdviseOrderAndAFailureStopsNone)
{
    RecordingSink first, second;
    DWORD c1 = Advise(&first);
    DWORD c2 = Advise(&second);
    first.answer = E_FAIL;
    EXPECT_EQ(S_OK, control_->FireInitializationStart()) << "the last sink's answer";
    second.answer = E_UNEXPECTED;
    EXPECT_EQ(E_UNEXPECTED, control_->FireInitializationEnd());
    EXPECT_EQ(2u, first.events.size());
    EXPECT_EQ(2u, second.events.size());

    // From a worker thread, the sinks are called on that thread.
    DWORD worker = 0;
    std::thread t([&] {
        worker = GetCurrentThreadId();
        control_->FireDownloadFilePercent(nullptr, 50);
    });
    t.join();
    ASSERT_EQ(3u, second.events.size());
    EXPECT_EQ(worker, second.events[2].thread);
    EXPECT_NE(GetCurrentThreadId(), worker);

    Unadvise(c1);
    Unadvise(c2);
    EXPECT_EQ(S_OK, control_->FireInitializationStart()) << "no sink: S_OK";
}

TEST_F(ControlTest, EngineProgressRaisesThePercentEventOfTheOperationKind)
{
    RecordingSink sink;
    DWORD cookie = Advise(&sink);
    struct Case {
        long kind;
        DISPID id;  // 0: no event
    };
    const Case cases[] = {
        {kZavtOperationNone, 0},
        {kZavtOperationDownload, 12},
        {kZavtOperationUpload, 9},
        {kZavtOperationFormat, 6},
        {kZavtOperationDelete, 3},
        {5, 0},
        {-1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(c.id, ZavtPercentEventOf(c.kind));
        sink.events.clear();
        EXPECT_EQ(S_OK, control_->SetOperationKind(c.kind));
        EXPECT_EQ(c.kind, control_->OperationKind());
        // Three steps and the closing notice, as an operation of the engine reports them.
        engine::NotifyProgress(engine::kProgressBegin, 3);
        for (int i = 0; i < 3; ++i)
            engine::NotifyProgress(engine::kProgressStep, 1);
        engine::NotifyProgressEnd();
        if (c.id == 0) {
            EXPECT_TRUE(sink.events.empty());
            continue;
        }
        ASSERT_EQ(4u, sink.events.size());
        const long percents[] = {0, 33, 66, 100};
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(c.id, sink.events[i].id);
            EXPECT_EQ((std::vector<VARTYPE>{VT_I4, VT_DISPATCH}), sink.events[i].types);
            EXPECT_EQ((std::vector<LONG_PTR>{percents[i], 0}), sink.events[i].values);
        }
    }
    EXPECT_EQ(S_OK, control_->SetOperationKind(kZavtOperationNone));

    // Only the current control receives the engine's progress; a freed one never does.
    CComObject<CZAVTControl>* second = nullptr;
    ASSERT_EQ(S_OK, CComObject<CZAVTControl>::CreateInstance(&second));
    second->AddRef();
    EXPECT_EQ(static_cast<engine::ProgressSink*>(second), engine::GetProgressSink());
    second->Release();
    EXPECT_EQ(nullptr, engine::GetProgressSink());
    Unadvise(cookie);
}

TEST_F(ControlTest, TheMostRecentControlIsCurrentUntilItGoes)
{
    EXPECT_EQ(static_cast<CZAVTControl*>(control_), ZavtCurrentControl());
    // Every construction makes a new session id for the process.
    const GUID firstSession = ZavtSessionGuid();
    CComObject<CZAVTControl>* second = nullptr;
    ASSERT_EQ(S_OK, CComObject<CZAVTControl>::CreateInstance(&second));
    second->AddRef();
    EXPECT_EQ(static_cast<CZAVTControl*>(second), ZavtCurrentControl());
    const GUID secondSession = ZavtSessionGuid();
    EXPECT_NE(0, memcmp(&secondSession, &firstSession, sizeof(GUID)));
    EXPECT_NE(GUID_NULL, secondSession);

    // The build number is one value for the whole process.
    EXPECT_EQ(S_OK, second->put_SpecialBuildNumber(3));
    long value = 0;
    EXPECT_EQ(S_OK, control_->get_SpecialBuildNumber(&value));
    EXPECT_EQ(3, value);
    EXPECT_EQ(S_OK, control_->put_SpecialBuildNumber(0));

    second->Release();
    EXPECT_EQ(nullptr, ZavtCurrentControl()) << "a freed control is never used";

    // Freeing a control that is not the current one leaves the current one alone.
    ASSERT_EQ(S_OK, CComObject<CZAVTControl>::CreateInstance(&second));
    second->AddRef();
    CComObject<CZAVTControl>* third = nullptr;
    ASSERT_EQ(S_OK, CComObject<CZAVTControl>::CreateInstance(&third));
    third->AddRef();
    second->Release();
    EXPECT_EQ(static_cast<CZAVTControl*>(third), ZavtCurrentControl());
    third->Release();
}

}  // namespace
