// What the COM classes of ZAVTCTRL share: the interface's raw address type, the process-wide values,
// the answer of a member that still needs the device context, and the collections.
#pragma once

#include "platform/atl/atlcom.h"
#include "platform/atl/atlctl.h"
#include "resources/zavtctrl.h"
#include "resources/zavtctrl_resource.h"

#include <cstdint>
#include <string>
#include <type_traits>

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

// Clears the thread's error information and answers E_NOTIMPL: the member needs the device context.
HRESULT ZavtNeedsDevice();

// The same, with the out-parameter cleared, so a caller never reads a stale value.
template <class T>
HRESULT ZavtNeedsDevice(T* out)
{
    if (out) {
        if constexpr (std::is_pointer_v<T>)
            *out = nullptr;
        else
            *out = T{};
    }
    return ZavtNeedsDevice();
}

// A raw address handed in by a client: null is refused in every build.
inline HRESULT ZavtCheckAddress(ZavtUAddress address)
{
    return address == 0 ? E_INVALIDARG : S_OK;
}

// A name a client may give a new or renamed entry: not empty, one component, no terminator inside,
// neither "." nor "..".
bool ZavtIsEntryName(BSTR name);

// The path of an entry renamed to `name`: its last component replaced.
std::wstring ZavtRenamedPath(const wchar_t* path, const wchar_t* name);

class CZAVTControl;
// The most recently constructed control, or null; events and progress go through it.
CZAVTControl* ZavtCurrentControl();

// ---- collections ----

#define ZAVT_COLLECTION(Class, CollItf, ItemItf, Clsid)                    \
    class Class : public CComObjectRootEx,                                 \
                  public CComCoClass<Class, &Clsid>,                       \
                  public ICollectionOnVectorImpl<Class, CollItf, ItemItf>, \
                  public ISupportErrorInfoImpl<CollItf> {                  \
    public:                                                                \
        DECLARE_NO_REGISTRY()                                              \
        BEGIN_COM_MAP(Class)                                               \
        COM_INTERFACE_ENTRY(CollItf)                                       \
        COM_INTERFACE_ENTRY2(IDispatch, CollItf)                           \
        COM_INTERFACE_ENTRY(ISupportErrorInfo)                             \
        END_COM_MAP()                                                      \
    };

ZAVT_COLLECTION(CZAVTDeviceCollection, IZAVTDeviceCollection, IZAVTDevice, CLSID_ZAVTDeviceCollection)
ZAVT_COLLECTION(CZAVTStorageCollection, IZAVTStorageCollection, IZAVTStorage, CLSID_ZAVTStorageCollection)
ZAVT_COLLECTION(CZAVTFolderCollection, IZAVTFolderCollection, IZAVTFolder, CLSID_ZAVTFolderCollection)
ZAVT_COLLECTION(CZAVTFileCollection, IZAVTFileCollection, IZAVTFile, CLSID_ZAVTFileCollection)
