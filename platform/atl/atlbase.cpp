// The module: lock count, class-object table, type library and registration.
#include "platform/atl/atlbase.h"

#include <cstdlib>
#include <cwchar>
#include <iterator>

CComModule _Module;

CComModule::~CComModule()
{
    Term();
}

HRESULT CComModule::Init(_ATL_OBJMAP_ENTRY* map, HINSTANCE instance, const GUID* libid)
{
    if (initialised_)
        return S_OK;
    InitializeCriticalSection(&cs_);
    initialised_ = true;
    map_ = map;
    instance_ = instance;
    libid_ = libid;
    DWORD n = GetModuleFileNameW(instance, path_, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        path_[0] = L'\0';
    return S_OK;
}

void CComModule::Term()
{
    if (!initialised_)
        return;
    for (_ATL_OBJMAP_ENTRY* e = map_; e && e->pclsid; ++e) {
        if (e->pCF) {
            e->pCF->Release();
            e->pCF = nullptr;
        }
    }
    for (size_t i = 0; i < infoCount_; ++i)
        infos_[i].info->Release();
    std::free(infos_);
    infos_ = nullptr;
    infoCount_ = infoCapacity_ = 0;
    if (typeLib_) {
        typeLib_->Release();
        typeLib_ = nullptr;
    }
    DeleteCriticalSection(&cs_);
    initialised_ = false;
    map_ = nullptr;
}

LONG CComModule::Lock()
{
    return InterlockedIncrement(&lockCount_);
}

LONG CComModule::Unlock()
{
    return InterlockedDecrement(&lockCount_);
}

HRESULT CComModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!initialised_)
        return CLASS_E_CLASSNOTAVAILABLE;
    for (_ATL_OBJMAP_ENTRY* e = map_; e && e->pclsid; ++e) {
        if (*e->pclsid != clsid)
            continue;
        EnterCriticalSection(&cs_);
        HRESULT hr = S_OK;
        if (!e->pCF) {
            CComObjectNoLock<CComClassFactory>* cf = nullptr;
            hr = CComObjectNoLock<CComClassFactory>::CreateInstance(&cf);
            if (SUCCEEDED(hr)) {
                cf->SetCreator(e->pfnCreateInstance);
                cf->AddRef();
                e->pCF = static_cast<IClassFactory*>(cf);
            }
        }
        if (SUCCEEDED(hr))
            hr = e->pCF->QueryInterface(riid, ppv);
        LeaveCriticalSection(&cs_);
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CComModule::RegisterServer(BOOL registerTypeLib)
{
    for (_ATL_OBJMAP_ENTRY* e = map_; e && e->pclsid; ++e) {
        HRESULT hr = e->pfnUpdateRegistry(TRUE);
        if (FAILED(hr))
            return hr;
    }
    return registerTypeLib ? RegisterTypeLib() : S_OK;
}

HRESULT CComModule::UnregisterServer(BOOL unregisterTypeLib)
{
    HRESULT result = S_OK;
    for (_ATL_OBJMAP_ENTRY* e = map_; e && e->pclsid; ++e) {
        HRESULT hr = e->pfnUpdateRegistry(FALSE);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    if (unregisterTypeLib) {
        HRESULT hr = UnRegisterTypeLib();
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

HRESULT CComModule::UpdateRegistryFromResource(UINT id, BOOL bRegister)
{
    HRSRC res = FindResourceW(instance_, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!res)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    HGLOBAL data = LoadResource(instance_, res);
    DWORD size = SizeofResource(instance_, res);
    const char* text = data ? static_cast<const char*>(LockResource(data)) : nullptr;
    if (!text)
        return HRESULT_FROM_WIN32(GetLastError());
    if (path_[0] == L'\0')
        return E_FAIL;
    // Scripts are stored as ANSI text.
    int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), nullptr, 0);
    auto* script = static_cast<wchar_t*>(std::calloc(static_cast<size_t>(n) + 1, sizeof(wchar_t)));
    if (!script)
        return E_OUTOFMEMORY;
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), script, n);
    RegistrarReplacement module{L"MODULE", path_};
    HRESULT hr = AtlRunRegistryScript(script, bRegister, &module, 1);
    std::free(script);
    return hr;
}

HRESULT CComModule::GetTypeLib(ITypeLib** ppTL)
{
    if (!ppTL)
        return E_POINTER;
    *ppTL = nullptr;
    if (!initialised_ || path_[0] == L'\0')
        return E_UNEXPECTED;
    EnterCriticalSection(&cs_);
    HRESULT hr = S_OK;
    if (!typeLib_)
        hr = LoadTypeLibEx(path_, REGKIND_NONE, &typeLib_);
    if (SUCCEEDED(hr)) {
        typeLib_->AddRef();
        *ppTL = typeLib_;
    }
    LeaveCriticalSection(&cs_);
    return hr;
}

HRESULT CComModule::GetTypeInfo(REFGUID guid, ITypeInfo** ppTI)
{
    if (!ppTI)
        return E_POINTER;
    *ppTI = nullptr;
    ITypeLib* lib = nullptr;
    HRESULT hr = GetTypeLib(&lib);
    if (FAILED(hr))
        return hr;
    EnterCriticalSection(&cs_);
    for (size_t i = 0; i < infoCount_; ++i) {
        if (infos_[i].guid == guid) {
            *ppTI = infos_[i].info;
            (*ppTI)->AddRef();
            LeaveCriticalSection(&cs_);
            lib->Release();
            return S_OK;
        }
    }
    ITypeInfo* info = nullptr;
    hr = lib->GetTypeInfoOfGuid(guid, &info);
    if (SUCCEEDED(hr) && infoCount_ == infoCapacity_) {
        size_t capacity = infoCapacity_ ? infoCapacity_ * 2 : 8;
        auto* grown = static_cast<CachedInfo*>(std::realloc(infos_, capacity * sizeof(CachedInfo)));
        if (grown) {
            infos_ = grown;
            infoCapacity_ = capacity;
        }
    }
    if (SUCCEEDED(hr) && infoCount_ < infoCapacity_) {
        info->AddRef();
        infos_[infoCount_++] = CachedInfo{guid, info};
    }
    LeaveCriticalSection(&cs_);
    lib->Release();
    if (SUCCEEDED(hr))
        *ppTI = info;
    return hr;
}

HRESULT CComModule::RegisterTypeLib()
{
    ITypeLib* lib = nullptr;
    HRESULT hr = GetTypeLib(&lib);
    if (FAILED(hr))
        return hr;
    hr = ::RegisterTypeLib(lib, path_, nullptr);
    lib->Release();
    return hr;
}

HRESULT CComModule::UnRegisterTypeLib()
{
    ITypeLib* lib = nullptr;
    HRESULT hr = GetTypeLib(&lib);
    if (FAILED(hr))
        return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (SUCCEEDED(hr)) {
        hr = ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
        lib->ReleaseTLibAttr(attr);
    }
    lib->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE CComClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // One instance per call, never a part of another object.
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!creator_)
        return E_UNEXPECTED;
    return creator_(nullptr, riid, ppv);
}

HRESULT STDMETHODCALLTYPE CComClassFactory::LockServer(BOOL lock)
{
    if (lock)
        _Module.Lock();
    else
        _Module.Unlock();
    return S_OK;
}

HRESULT AtlSetErrorInfo(const CLSID& clsid, const wchar_t* description, const IID& iid, HRESULT hr)
{
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(iid);
        create->SetDescription(const_cast<LPOLESTR>(description ? description : L""));
        LPOLESTR progId = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId)) && progId) {
            create->SetSource(progId);
            CoTaskMemFree(progId);
        }
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return hr;
}

HRESULT AtlReportError(const CLSID& clsid, UINT stringId, const IID& iid, HRESULT hr)
{
    wchar_t text[1024] = {};
    // LoadString leaves text empty when the module has no such string.
    LoadStringW(_Module.GetResourceInstance(), stringId, text, static_cast<int>(std::size(text)));
    return AtlSetErrorInfo(clsid, text, iid, hr ? hr : MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, stringId));
}
