// A dispatch event sink: receives the events of one outgoing dispinterface of a source object and calls
// member handlers of its owner, found by DISPID in the owner's sink map. Each handler's parameter types
// say how the event's arguments are converted; an event with the wrong count or types of arguments is
// refused before any handler runs.
//
//   class CPlayerWindow {
//       CDispEventSink<CPlayerWindow> sink_{this, DIID_PlayerEvents};
//       HRESULT OnPlayStateChange(long state);
//       BEGIN_SINK_MAP(CPlayerWindow)
//       SINK_ENTRY(5101, OnPlayStateChange)
//       END_SINK_MAP()
//   };
//   sink_.DispEventAdvise(player);   ...   sink_.DispEventUnadvise();
#pragma once

#include "platform/atl/atlbase.h"

#include <ocidl.h>

#include <cstddef>
#include <iterator>
#include <type_traits>
#include <utility>

// ---- arguments --------------------------------------------------------------------------------------

// Converts one event argument (by reference or by value) into `out` (empty on entry) as the type
// `want`; VT_VARIANT takes the argument as it is. Numbers, booleans and strings convert among
// themselves, objects only to objects; anything else is DISP_E_TYPEMISMATCH.
HRESULT AtlSinkConvertArgument(const VARIANT& in, VARTYPE want, VARIANT* out);

// The handler parameter types a sink map accepts, with their variant types.
template <class A>
struct AtlSinkArg;
template <>
struct AtlSinkArg<long> {
    static constexpr VARTYPE vt = VT_I4;
    static long Get(const VARIANT& v) { return v.lVal; }
};
template <>
struct AtlSinkArg<double> {
    static constexpr VARTYPE vt = VT_R8;
    static double Get(const VARIANT& v) { return v.dblVal; }
};
// VARIANT_BOOL is a short: a handler's short parameter is a boolean.
template <>
struct AtlSinkArg<VARIANT_BOOL> {
    static constexpr VARTYPE vt = VT_BOOL;
    static VARIANT_BOOL Get(const VARIANT& v) { return v.boolVal; }
};
// Borrowed for the call: a handler that keeps the string copies it.
template <>
struct AtlSinkArg<BSTR> {
    static constexpr VARTYPE vt = VT_BSTR;
    static BSTR Get(const VARIANT& v) { return v.bstrVal; }
};
// Borrowed for the call (possibly null): a handler that keeps the object takes a reference.
template <>
struct AtlSinkArg<IDispatch*> {
    static constexpr VARTYPE vt = VT_DISPATCH;
    static IDispatch* Get(const VARIANT& v) { return v.pdispVal; }
};
template <>
struct AtlSinkArg<IUnknown*> {
    static constexpr VARTYPE vt = VT_UNKNOWN;
    static IUnknown* Get(const VARIANT& v) { return v.punkVal; }
};
template <>
struct AtlSinkArg<VARIANT> {
    static constexpr VARTYPE vt = VT_VARIANT;
    static const VARIANT& Get(const VARIANT& v) { return v; }
};

// The call of one handler F (HRESULT T::F(args...)): converts the arguments, which an event passes last
// first, and calls F only when every one converted.
template <auto F>
struct AtlSinkCall;
template <class T, class... A, HRESULT (T::*F)(A...)>
struct AtlSinkCall<F> {
    static HRESULT Invoke(T* owner, DISPPARAMS* params, UINT* argErr)
    {
        constexpr UINT n = sizeof...(A);
        const UINT count = params ? params->cArgs : 0;
        if (params && params->cNamedArgs)
            return DISP_E_NONAMEDARGS;
        if (count != n)
            return DISP_E_BADPARAMCOUNT;
        CComVariant args[n + 1];
        if constexpr (n > 0) {
            if (!params->rgvarg)
                return E_INVALIDARG;
            constexpr VARTYPE types[] = {AtlSinkArg<std::remove_cvref_t<A>>::vt...};
            for (UINT i = 0; i < n; ++i) {
                HRESULT hr = AtlSinkConvertArgument(params->rgvarg[n - 1 - i], types[i], &args[i]);
                if (FAILED(hr)) {
                    if (argErr)
                        *argErr = n - 1 - i;
                    return hr;
                }
            }
        }
        return Call(owner, args, std::index_sequence_for<A...>{});
    }

private:
    template <size_t... I>
    static HRESULT Call(T* owner, CComVariant* args, std::index_sequence<I...>)
    {
        return (owner->*F)(AtlSinkArg<std::remove_cvref_t<A>>::Get(args[I])...);
    }
};

// One entry of a sink map.
template <class T>
struct AtlSinkEntry {
    DISPID dispid;
    HRESULT (*invoke)(T* owner, DISPPARAMS* params, UINT* argErr);
};

// The sink map of T: its handlers by DISPID (ordinary member functions returning HRESULT).
#define BEGIN_SINK_MAP(x)                                            \
    static const AtlSinkEntry<x>* _GetSinkMap(size_t* count)         \
    {                                                                \
        using AtlSinkClass = x;                                      \
        static const AtlSinkEntry<x> atlSinkMap[] = {
#define SINK_ENTRY(dispid, fn) {dispid, &AtlSinkCall<&AtlSinkClass::fn>::Invoke},
#define END_SINK_MAP()               \
    }                                \
    ;                                \
    *count = std::size(atlSinkMap);  \
    return atlSinkMap;               \
    }

// ---- the sink ---------------------------------------------------------------------------------------

class CDispEventForwarder;

// The connection, independent of the owner's type. The source holds a small forwarding object, not the
// owner: after DispEventUnadvise (or the owner's end) it is cut off from the owner, so an event that
// still arrives, from a source that kept it or fires late, is ignored.
class CDispEventSinkBase {
public:
    using Route = HRESULT (*)(void* owner, DISPID id, DISPPARAMS* params, UINT* argErr);

    CDispEventSinkBase(void* owner, const IID& iid, Route route) : owner_(owner), iid_(iid), route_(route) {}
    CDispEventSinkBase(const CDispEventSinkBase&) = delete;
    CDispEventSinkBase& operator=(const CDispEventSinkBase&) = delete;
    // Unadvises a connection still open.
    ~CDispEventSinkBase();

    // Connects to the source's connection point of the event interface. One source at a time: while
    // connected, another advise is E_UNEXPECTED and the connection stays as it was. On failure nothing
    // is kept.
    HRESULT DispEventAdvise(IUnknown* source);
    // Ends the connection: no event reaches the owner after it, even when the source's Unadvise fails
    // (its result is returned). S_FALSE when not connected.
    HRESULT DispEventUnadvise();
    bool IsAdvised() const { return forwarder_ != nullptr; }
    const IID& GetEventIID() const { return iid_; }

private:
    void* owner_;
    IID iid_;
    Route route_;
    CDispEventForwarder* forwarder_ = nullptr;
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
};

// The sink of owner T for the dispinterface `iid`, routed through T's sink map. Events of DISPIDs that
// the map does not name are accepted and ignored (S_OK); a handler's result is the result of the event.
template <class T>
class CDispEventSink : public CDispEventSinkBase {
public:
    CDispEventSink(T* owner, const IID& iid) : CDispEventSinkBase(owner, iid, &RouteToMap) {}

private:
    static HRESULT RouteToMap(void* owner, DISPID id, DISPPARAMS* params, UINT* argErr)
    {
        size_t count = 0;
        const AtlSinkEntry<T>* map = T::_GetSinkMap(&count);
        for (size_t i = 0; i < count; ++i) {
            if (map[i].dispid == id)
                return map[i].invoke(static_cast<T*>(owner), params, argErr);
        }
        return S_OK;
    }
};
