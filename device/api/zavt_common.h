// What the COM classes of ZAVTCTRL share: the interface's raw address type, the process-wide values,
// the answer of a member that still needs the device context, and the collections.
#pragma once

#include "platform/atl/atlcom.h"
#include "platform/atl/atlctl.h"
#include "resources/zavtctrl.h"
#include "resources/zavtctrl_resource.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Raw addresses of the interface ("long" in the 32-bit library, 64 bits wide in the 64-bit one).
#ifdef _WIN64
using ZavtAddress = hyper;
using ZavtUAddress = MIDL_uhyper;
#else
using ZavtAddress = long;
using ZavtUAddress = unsigned long;
#endif

// Process-wide values shared by every object of the server.
long ZavtGetSpecialBuildNumber();
void ZavtSetSpecialBuildNumber(long value);

// ---- the session handshake ----
// The process's session id. Every control construction and every GetSessionID makes a new one, which
// makes the earlier one invalid.
GUID ZavtSessionGuid();
GUID ZavtNewSessionGuid();
// The handshake's cipher: Blowfish in ECB mode under the API's session key, over whole 8-byte blocks
// (false, nothing written, for any other length). `in` and `out` may be the same buffer.
bool ZavtSessionEncrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t length);
bool ZavtSessionDecrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t length);

// A raw address handed in by a client: null is refused in every build.
inline HRESULT ZavtCheckAddress(ZavtUAddress address)
{
    return address == 0 ? E_INVALIDARG : S_OK;
}

// The client's buffer at a raw address it handed in.
inline std::uint8_t* ZavtBuffer(ZavtAddress address)
{
    return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(static_cast<ZavtUAddress>(address)));
}

// A name a client may give a new, renamed or downloaded entry on any store: what a FAT long name allows
// (engine::IsEntryName).
bool ZavtIsEntryName(BSTR name);

// The description of a failure that no message of the server names: the system's text for the HRESULT,
// or "Unspecified error" when the system has none.
std::wstring ZavtFailureText(HRESULT hr);

// Sets the thread's error information of a failure T has no message of its own for, and returns hr.
template <class T>
HRESULT ZavtFail(HRESULT hr)
{
    return T::Error(ZavtFailureText(hr).c_str(), hr);
}

// A late-bound call of a server class T (`invoke` runs it through the type information) whose every
// failure carries a description: a method that set none (a bare HRESULT) gets ZavtFailureText's, with
// T's ProgID as its source; error information left behind by an earlier call is never taken for this
// one's.
template <class T, class Invoke>
HRESULT ZavtDescribedInvoke(EXCEPINFO* excepInfo, Invoke invoke)
{
    SetErrorInfo(0, nullptr);
    const HRESULT hr = invoke();
    if (hr != DISP_E_EXCEPTION || !excepInfo || SysStringLen(excepInfo->bstrDescription) != 0)
        return hr;
    ZavtFail<T>(excepInfo->scode ? excepInfo->scode : E_FAIL);
    // The caller reads the description from the exception record.
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        SysFreeString(excepInfo->bstrDescription);
        SysFreeString(excepInfo->bstrSource);
        excepInfo->bstrDescription = nullptr;
        excepInfo->bstrSource = nullptr;
        info->GetDescription(&excepInfo->bstrDescription);
        info->GetSource(&excepInfo->bstrSource);
    }
    return hr;
}

#define ZAVT_DESCRIBED_INVOKE(Class, Base)                                                                        \
    STDMETHOD(Invoke)                                                                                             \
    (DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS * params, VARIANT * result, EXCEPINFO * excepInfo, \
     UINT * argErr) override                                                                                      \
    {                                                                                                             \
        return ZavtDescribedInvoke<Class>(                                                                        \
            excepInfo, [&] { return Base::Invoke(id, riid, lcid, flags, params, result, excepInfo, argErr); });   \
    }

// The dual interface of a server class, its failures described to late-bound callers.
template <class T, class Itf>
class ZavtDispatchImpl : public IDispatchImpl<T, Itf> {
public:
    using DispatchBase = IDispatchImpl<T, Itf>;
    ZAVT_DESCRIBED_INVOKE(T, DispatchBase)
};

// The path of an entry renamed to `name`: its last component replaced.
std::wstring ZavtRenamedPath(const wchar_t* path, const wchar_t* name);

// A new object of class T held through the interface `iid` (Itf); the object is freed again when that
// interface cannot be had.
template <class T, class Itf>
HRESULT ZavtNewObject(CComObject<T>** object, CComPtr<Itf>& held, const IID& iid)
{
    HRESULT hr = CComObject<T>::CreateInstance(object);
    if (FAILED(hr))
        return hr;
    hr = (*object)->QueryInterface(iid, reinterpret_cast<void**>(&held));
    if (FAILED(hr)) {
        delete *object;
        *object = nullptr;
    }
    return hr;
}

class CZAVTControl;
// The most recently constructed control, or null; events and progress go through it.
CZAVTControl* ZavtCurrentControl();

// ---- collections ----

#define ZAVT_COLLECTION(Class, CollItf, ItemItf, Clsid)                        \
    class Class : public CComObjectRootEx,                                     \
                  public CComCoClass<Class, &Clsid>,                           \
                  public ICollectionOnVectorImpl<Class, CollItf, ItemItf>,     \
                  public ISupportErrorInfoImpl<CollItf> {                      \
    public:                                                                    \
        DECLARE_NO_REGISTRY()                                                  \
        using DispatchBase = ICollectionOnVectorImpl<Class, CollItf, ItemItf>; \
        ZAVT_DESCRIBED_INVOKE(Class, DispatchBase)                             \
        BEGIN_COM_MAP(Class)                                                   \
        COM_INTERFACE_ENTRY(CollItf)                                           \
        COM_INTERFACE_ENTRY2(IDispatch, CollItf)                               \
        COM_INTERFACE_ENTRY(ISupportErrorInfo)                                 \
        END_COM_MAP()                                                          \
    };

ZAVT_COLLECTION(CZAVTDeviceCollection, IZAVTDeviceCollection, IZAVTDevice, CLSID_ZAVTDeviceCollection)
ZAVT_COLLECTION(CZAVTStorageCollection, IZAVTStorageCollection, IZAVTStorage, CLSID_ZAVTStorageCollection)
ZAVT_COLLECTION(CZAVTFolderCollection, IZAVTFolderCollection, IZAVTFolder, CLSID_ZAVTFolderCollection)
ZAVT_COLLECTION(CZAVTFileCollection, IZAVTFileCollection, IZAVTFile, CLSID_ZAVTFileCollection)
