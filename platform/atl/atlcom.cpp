// The sink list of a connection point and event firing.
#include "platform/atl/atlcom.h"

CComSinkList::~CComSinkList()
{
    for (CONNECTDATA& c : sinks_)
        c.pUnk->Release();
    DeleteCriticalSection(&cs_);
}

HRESULT CComSinkList::Add(IUnknown* sink, DWORD* cookie)
{
    if (!sink || !cookie)
        return E_POINTER;
    CComCritSecLock lock(cs_);
    try {
        sinks_.push_back(CONNECTDATA{sink, nextCookie_});
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    sink->AddRef();
    *cookie = nextCookie_++;
    if (nextCookie_ == 0)
        nextCookie_ = 1;
    return S_OK;
}

HRESULT CComSinkList::Remove(DWORD cookie)
{
    IUnknown* sink = nullptr;
    {
        CComCritSecLock lock(cs_);
        for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
            if (it->dwCookie == cookie) {
                sink = it->pUnk;
                sinks_.erase(it);
                break;
            }
        }
    }
    if (!sink)
        return CONNECT_E_NOCONNECTION;
    // Released outside the lock: the sink's destructor may call back into us.
    sink->Release();
    return S_OK;
}

std::vector<CONNECTDATA> CComSinkList::Snapshot()
{
    CComCritSecLock lock(cs_);
    std::vector<CONNECTDATA> copy;
    try {
        copy = sinks_;
    } catch (...) {
        return {};
    }
    for (CONNECTDATA& c : copy)
        c.pUnk->AddRef();
    return copy;
}

size_t CComSinkList::Count()
{
    CComCritSecLock lock(cs_);
    return sinks_.size();
}

HRESULT AtlFireDispatch(CComSinkList& sinks, DISPID id, VARIANT* args, UINT count)
{
    std::vector<CONNECTDATA> list = sinks.Snapshot();
    HRESULT hr = S_OK;
    for (CONNECTDATA& c : list) {
        auto* sink = static_cast<IDispatch*>(c.pUnk);
        DISPPARAMS params{args, nullptr, count, 0};
        hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
    for (CONNECTDATA& c : list)
        c.pUnk->Release();
    return hr;
}
