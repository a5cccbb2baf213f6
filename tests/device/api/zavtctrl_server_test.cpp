// ZAVTCTRL.dll as a client sees it: its exports and class factories, its type library read back through
// ITypeLib/ITypeInfo, registration by regsvr32 checked in an export of the registry, and the control
// created by ProgID and driven through its dual interface.
#include "platform/atl/atlbase.h"
#include "resources/zavtctrl.h"
#include "tests/device/api/zavtctrl_typelib_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

#ifdef _WIN64
using ZavtAddressForTest = hyper;
#else
using ZavtAddressForTest = long;
#endif

// The DLL under test, as Windows names it.
std::wstring DllPath()
{
    std::string unix = KWEP_ZAVTCTRL_PATH;
    std::wstring path = L"Z:";
    for (char c : unix)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

GUID Guid(const wchar_t* text)
{
    GUID g{};
    EXPECT_EQ(S_OK, CLSIDFromString(const_cast<LPOLESTR>(text), &g)) << text;
    return g;
}

class ComApartment {
public:
    ComApartment() { hr_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment()
    {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }

private:
    HRESULT hr_;
};

// Runs a program of the Wine prefix and gives its exit code (-1 when it could not start).
long RunProgram(const std::wstring& commandLine)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<long>(code);
}

// ---- the exports and class factories ----

class Library {
public:
    explicit Library(const std::wstring& path) : h_(LoadLibraryW(path.c_str())) {}
    ~Library()
    {
        if (h_)
            FreeLibrary(h_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    HMODULE get() const { return h_; }
    FARPROC Ordinal(WORD n) const { return GetProcAddress(h_, MAKEINTRESOURCEA(n)); }

private:
    HMODULE h_;
};

using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

TEST(ZavtctrlExports, OrdinalsOneToFourAreTheFourEntryPoints)
{
    Library lib(DllPath());
    ASSERT_NE(nullptr, lib.get());
    const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
    for (WORD n = 1; n <= 4; ++n) {
        FARPROC byOrdinal = lib.Ordinal(n);
        ASSERT_NE(nullptr, byOrdinal) << n;
        EXPECT_EQ(GetProcAddress(lib.get(), names[n - 1]), byOrdinal) << names[n - 1];
    }
}

TEST(ZavtctrlExports, ClassFactoriesAreKeptAndRefuseAggregation)
{
    ComApartment com;
    Library lib(DllPath());
    ASSERT_NE(nullptr, lib.get());
    auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(lib.Ordinal(1)));
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(lib.Ordinal(2)));
    ASSERT_TRUE(canUnload && getClassObject);
    EXPECT_EQ(S_OK, canUnload());

    for (const CoclassRow& row : kCoclasses) {
        SCOPED_TRACE(row.name);
        CComPtr<IClassFactory> first, second;
        ASSERT_EQ(S_OK, getClassObject(Guid(row.clsid), IID_IClassFactory, reinterpret_cast<void**>(&first)));
        ASSERT_EQ(S_OK, getClassObject(Guid(row.clsid), IID_IClassFactory, reinterpret_cast<void**>(&second)));
        EXPECT_EQ(first.get(), second.get());

        CComPtr<IUnknown> outer;
        ASSERT_EQ(S_OK, first->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&outer)));
        IUnknown* inner = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(CLASS_E_NOAGGREGATION, first->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
        EXPECT_EQ(nullptr, inner);

        // Every object offers error information for its own dual interface alone.
        CComPtr<ISupportErrorInfo> sei;
        ASSERT_EQ(S_OK, outer.QueryInterface(&sei));
        EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IDispatch));
        EXPECT_EQ(S_FALSE, canUnload()) << "an object is alive";
        outer.Release();
        sei.Release();
        EXPECT_EQ(S_OK, canUnload());

        EXPECT_EQ(S_OK, first->LockServer(TRUE));
        EXPECT_EQ(S_FALSE, canUnload()) << "the server is locked";
        EXPECT_EQ(S_OK, first->LockServer(FALSE));
        EXPECT_EQ(S_OK, canUnload());
    }

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID_IDispatch, IID_IClassFactory, &none));
    EXPECT_EQ(nullptr, none);
}

// The HRESULT a late-bound call ends with (the method's own, also when it comes as an exception).
HRESULT InvokeResult(IDispatch* disp, DISPID id, VARIANT* args, UINT count)
{
    DISPPARAMS params{args, nullptr, count, 0};
    EXCEPINFO ex{};
    CComVariant result;
    HRESULT hr = disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &ex, nullptr);
    if (hr == DISP_E_EXCEPTION && ex.pfnDeferredFillIn)
        ex.pfnDeferredFillIn(&ex);
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrHelpFile);
    return hr == DISP_E_EXCEPTION ? ex.scode : hr;
}

// A raw address crosses the interface whole: one whose low 32 bits are zero is not taken for null.
TEST(ZavtctrlExports, RawAddressesAreNeverCut)
{
    ComApartment com;
    Library lib(DllPath());
    ASSERT_NE(nullptr, lib.get());
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(lib.Ordinal(2)));
    CComPtr<IClassFactory> cf;
    ASSERT_EQ(S_OK, getClassObject(CLSID_ZAVTFile, IID_IClassFactory, reinterpret_cast<void**>(&cf)));
    CComPtr<IDispatch> file;
    ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&file)));
    cf.Release();
    ASSERT_EQ(S_OK, getClassObject(CLSID_ZAVTControl, IID_IClassFactory, reinterpret_cast<void**>(&cf)));
    CComPtr<IZAVTControl> control;
    ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IZAVTControl, reinterpret_cast<void**>(&control)));

    // Write(lpData, dwSize): arguments last first.
    VARIANT args[2];
    VariantInit(&args[0]);
    args[0].vt = VT_UI4;
    args[0].ulVal = 1;
    VariantInit(&args[1]);
    EXPECT_EQ(E_INVALIDARG, control->GetSessionID(0));
    if (sizeof(void*) == 8) {
        args[1].vt = VT_UI8;
        args[1].ullVal = 0;
        EXPECT_EQ(E_INVALIDARG, InvokeResult(file, 19, args, 2));
        args[1].ullVal = 0x100000000ull;
        // Past the address check, the write finds no device.
        EXPECT_EQ(static_cast<HRESULT>(0x80040301), InvokeResult(file, 19, args, 2));
        EXPECT_EQ(E_NOTIMPL, control->GetSessionID(static_cast<ZavtAddressForTest>(0x100000000ll)));
    } else {
        args[1].vt = VT_UI4;
        args[1].ulVal = 0;
        EXPECT_EQ(E_INVALIDARG, InvokeResult(file, 19, args, 2));
    }
}

// The control drawn into a memory device context, as a container draws it.
TEST(ZavtctrlControl, DrawsItsFrameAndItsNameCentred)
{
    ComApartment com;
    Library lib(DllPath());
    ASSERT_NE(nullptr, lib.get());
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(lib.Ordinal(2)));
    CComPtr<IClassFactory> cf;
    ASSERT_EQ(S_OK, getClassObject(CLSID_ZAVTControl, IID_IClassFactory, reinterpret_cast<void**>(&cf)));
    CComPtr<IViewObject> view;
    ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IViewObject, reinterpret_cast<void**>(&view)));
    CComPtr<IViewObject2> view2;
    ASSERT_EQ(S_OK, view.QueryInterface(&view2));
    SIZEL extent{};
    EXPECT_EQ(S_OK, view2->GetExtent(DVASPECT_CONTENT, -1, nullptr, &extent));
    EXPECT_GT(extent.cx, 0);

    const int width = 240, height = 80;
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(nullptr, dc);
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(nullptr, bitmap);
    HGDIOBJ old = SelectObject(dc, bitmap);
    PatBlt(dc, 0, 0, width, height, WHITENESS);
    const RECTL bounds{10, 10, 230, 70};
    EXPECT_EQ(E_INVALIDARG,
              view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, nullptr, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0));
    GdiFlush();
    auto pixel = [&](int x, int y) {
        return static_cast<const DWORD*>(bits)[y * width + x] & 0xFFFFFF;
    };
    // The frame in the default black pen, the inside in the default white brush.
    for (POINT p : {POINT{10, 40}, POINT{229, 40}, POINT{120, 10}, POINT{120, 69}})
        EXPECT_EQ(0u, pixel(p.x, p.y)) << p.x << "," << p.y;
    EXPECT_EQ(0xFFFFFFu, pixel(20, 15));
    EXPECT_EQ(0xFFFFFFu, pixel(5, 5)) << "nothing outside the bounds";

    // The text: as wide as the name in the context's font, centred on x = 120, on the baseline y = 40.
    int minX = width, maxX = -1, minY = height, maxY = -1;
    for (int y = 11; y < 69; ++y) {
        for (int x = 11; x < 229; ++x) {
            if (pixel(x, y) != 0xFFFFFF) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    }
    SIZE text{};
    const wchar_t name[] = L"Orvande Player Control";
    GetTextExtentPoint32W(dc, name, static_cast<int>(std::size(name) - 1), &text);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    ASSERT_GE(maxX, 0) << "no text drawn";
    EXPECT_NEAR(text.cx, maxX - minX + 1, 3);
    EXPECT_NEAR(120, (minX + maxX + 1) / 2, 2);
    EXPECT_GE(minY, 40 - tm.tmAscent);
    EXPECT_LE(maxY, 40 + tm.tmDescent);
    EXPECT_LT(minY, 40);

    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

// The smallest container site: it only counts the references the control holds.
class CountingSite : public IOleClientSite {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
            *ppv = static_cast<IOleClientSite*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++refs); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(--refs); }
    STDMETHOD(SaveObject)() override { return S_OK; }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker** mk) override
    {
        *mk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(GetContainer)(IOleContainer** c) override
    {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD(ShowObject)() override { return S_OK; }
    STDMETHOD(OnShowWindow)(BOOL) override { return S_OK; }
    STDMETHOD(RequestNewObjectLayout)() override { return E_NOTIMPL; }
    long refs = 1;
};

TEST(ZavtctrlControl, IsSitedAndPersistsItsExtent)
{
    ComApartment com;
    Library lib(DllPath());
    ASSERT_NE(nullptr, lib.get());
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(lib.Ordinal(2)));
    CComPtr<IClassFactory> cf;
    ASSERT_EQ(S_OK, getClassObject(CLSID_ZAVTControl, IID_IClassFactory, reinterpret_cast<void**>(&cf)));
    CComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(&ole)));

    DWORD misc = 0;
    EXPECT_EQ(S_OK, ole->GetMiscStatus(DVASPECT_CONTENT, &misc));
    EXPECT_EQ(132497u, misc);
    CountingSite site;
    ASSERT_EQ(S_OK, ole->SetClientSite(&site));
    EXPECT_EQ(2, site.refs);
    CComPtr<IOleClientSite> got;
    EXPECT_EQ(S_OK, ole->GetClientSite(&got));
    EXPECT_EQ(static_cast<IOleClientSite*>(&site), got.get());
    got.Release();
    ASSERT_EQ(S_OK, ole->SetClientSite(nullptr));
    EXPECT_EQ(1, site.refs) << "the site is let go";
    CLSID clsid{};
    EXPECT_EQ(S_OK, ole->GetUserClassID(&clsid));
    EXPECT_EQ(CLSID_ZAVTControl, clsid);
    CComPtr<IOleControl> control;
    ASSERT_EQ(S_OK, ole.QueryInterface(&control));
    CONTROLINFO info{};
    info.cb = sizeof info;
    EXPECT_EQ(S_OK, control->GetControlInfo(&info));

    // A changed extent makes the control dirty; saving and loading carry it to another control.
    SIZEL extent{1000, 500};
    ASSERT_EQ(S_OK, ole->SetExtent(DVASPECT_CONTENT, &extent));
    CComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(S_OK, ole.QueryInterface(&persist));
    EXPECT_EQ(S_OK, persist->IsDirty());
    CComPtr<IStream> stream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ASSERT_EQ(S_OK, persist->Save(stream, TRUE));
    EXPECT_EQ(S_FALSE, persist->IsDirty());
    ULARGE_INTEGER max{};
    EXPECT_EQ(S_OK, persist->GetSizeMax(&max));
    ULARGE_INTEGER end{};
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_CUR, &end);
    EXPECT_EQ(max.QuadPart, end.QuadPart);

    CComPtr<IPersistStreamInit> other;
    ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IPersistStreamInit, reinterpret_cast<void**>(&other)));
    EXPECT_EQ(S_OK, other->InitNew());
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(S_OK, other->Load(stream));
    CComPtr<IOleObject> otherOle;
    ASSERT_EQ(S_OK, other.QueryInterface(&otherOle));
    SIZEL loaded{};
    EXPECT_EQ(S_OK, otherOle->GetExtent(DVASPECT_CONTENT, &loaded));
    EXPECT_EQ(1000, loaded.cx);
    EXPECT_EQ(500, loaded.cy);

    // A short stream is refused and changes nothing.
    CComPtr<IStream> shortStream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &shortStream));
    DWORD version = 0x0300;
    shortStream->Write(&version, sizeof version, nullptr);
    shortStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    CComPtr<IPersistStreamInit> third;
    ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, IID_IPersistStreamInit, reinterpret_cast<void**>(&third)));
    EXPECT_EQ(E_FAIL, third->Load(shortStream));
    CComPtr<IOleObject> thirdOle;
    ASSERT_EQ(S_OK, third.QueryInterface(&thirdOle));
    EXPECT_EQ(S_OK, thirdOle->GetExtent(DVASPECT_CONTENT, &loaded));
    EXPECT_EQ(2 * 2540, loaded.cx);
}

// ---- the type library ----

std::wstring Text(BSTR b)
{
    return b ? std::wstring(b, SysStringLen(b)) : std::wstring();
}

struct Doc {
    std::wstring name, help;
};

Doc Documentation(ITypeInfo* info, MEMBERID id)
{
    CComBSTR name, help;
    EXPECT_EQ(S_OK, info->GetDocumentation(id, &name, &help, nullptr, nullptr));
    return {Text(name), Text(help)};
}

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, &lib_)); }
    CComPtr<ITypeLib> lib_;
};

TEST_F(TypeLibrary, LibraryAttributes)
{
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, lib_->GetLibAttr(&attr));
    EXPECT_EQ(Guid(L"{CC874B14-03E7-470B-B8AD-FD7F1F5A5355}"), attr->guid);
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(1033u, attr->lcid);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
    lib_->ReleaseTLibAttr(attr);
    CComBSTR name, help;
    ASSERT_EQ(S_OK, lib_->GetDocumentation(-1, &name, &help, nullptr, nullptr));
    EXPECT_EQ(L"ZAVTCTRLLib", Text(name));
    EXPECT_EQ(L"Orvande Portable Player Control 1.0 Type Library", Text(help));
}

// Checks the functions of a type (own members only) against a table, in order.
void ExpectMembers(ITypeInfo* info, const Member* members, size_t count, unsigned firstFunc)
{
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    unsigned funcs = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    ASSERT_EQ(count, funcs - firstFunc);
    for (size_t i = 0; i < count; ++i) {
        FUNCDESC* fd = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(static_cast<UINT>(firstFunc + i), &fd));
        SCOPED_TRACE(members[i].name);
        EXPECT_EQ(members[i].dispid, fd->memid);
        EXPECT_EQ(members[i].kind, fd->invkind);
        Doc doc = Documentation(info, fd->memid);
        EXPECT_EQ(members[i].name, doc.name);
        EXPECT_EQ(members[i].help, doc.help);
        info->ReleaseFuncDesc(fd);
    }
}

TEST_F(TypeLibrary, DualInterfacesHaveTheirMembersInOrder)
{
    for (const InterfaceRow& row : kInterfaces) {
        SCOPED_TRACE(row.name);
        CComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(Guid(row.iid), &info));
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
        info->ReleaseTypeAttr(attr);
        Doc doc = Documentation(info, MEMBERID_NIL);
        EXPECT_EQ(row.name, doc.name);
        EXPECT_EQ(row.help, doc.help);

        // The vtable side: the members follow IDispatch's.
        HREFTYPE ref = 0;
        ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
        CComPtr<ITypeInfo> vtable;
        ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, &vtable));
        ASSERT_EQ(S_OK, vtable->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
        EXPECT_EQ(static_cast<WORD>(7 * sizeof(void*) + row.count * sizeof(void*)), attr->cbSizeVft);
        vtable->ReleaseTypeAttr(attr);
        ExpectMembers(vtable, row.members, row.count, 0);
    }
}

TEST_F(TypeLibrary, ControlEventsAreADispinterface)
{
    CComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(Guid(L"{AE68950A-F521-49A4-AD59-588717774CC0}"), &info));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
    unsigned funcs = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    Doc doc = Documentation(info, MEMBERID_NIL);
    EXPECT_EQ(L"_IZAVTControlEvents", doc.name);
    EXPECT_EQ(L"_IZAVTControlEvents Interface", doc.help);
    size_t count = std::size(kControlEventsMembers);
    ASSERT_GE(funcs, count);
    ExpectMembers(info, kControlEventsMembers, count, static_cast<unsigned>(funcs - count));

    CComPtr<ITypeInfo> device;
    ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(Guid(L"{C7480CAD-C39F-4DD4-A720-B11971F564DD}"), &device));
    EXPECT_EQ(L"_IZAVTDeviceEvents Interface", Documentation(device, MEMBERID_NIL).help);
}

TEST_F(TypeLibrary, CoclassesInTableOrder)
{
    for (const CoclassRow& row : kCoclasses) {
        SCOPED_TRACE(row.name);
        CComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(Guid(row.clsid), &info));
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_COCLASS, attr->typekind);
        EXPECT_EQ(row.creatable, (attr->wTypeFlags & TYPEFLAG_FCANCREATE) != 0);
        info->ReleaseTypeAttr(attr);
        Doc doc = Documentation(info, MEMBERID_NIL);
        EXPECT_EQ(row.name, doc.name);
        EXPECT_EQ(row.help, doc.help);
    }
}

TEST_F(TypeLibrary, EnumsHaveTheirValues)
{
    for (const EnumRow& row : kEnums) {
        SCOPED_TRACE(row.name);
        CComPtr<ITypeInfo> info;
        for (UINT i = 0; i < lib_->GetTypeInfoCount() && !info; ++i) {
            CComBSTR name;
            TYPEKIND kind;
            if (SUCCEEDED(lib_->GetTypeInfoType(i, &kind)) && kind == TKIND_ENUM &&
                SUCCEEDED(lib_->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr)) &&
                Text(name) == row.name)
                lib_->GetTypeInfo(i, &info);
        }
        ASSERT_TRUE(info);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        ASSERT_EQ(row.count, attr->cVars);
        info->ReleaseTypeAttr(attr);
        for (size_t i = 0; i < row.count; ++i) {
            VARDESC* vd = nullptr;
            ASSERT_EQ(S_OK, info->GetVarDesc(static_cast<UINT>(i), &vd));
            EXPECT_EQ(row.values[i].name, Documentation(info, vd->memid).name);
            ASSERT_EQ(VAR_CONST, vd->varkind);
            VARIANT v;
            VariantInit(&v);
            ASSERT_EQ(S_OK, VariantChangeType(&v, vd->lpvarValue, 0, VT_I4));
            EXPECT_EQ(row.values[i].value, v.lVal) << row.values[i].name;
            info->ReleaseVarDesc(vd);
        }
    }
}

// Raw addresses are 32-bit in the 32-bit library and pointer-wide in the 64-bit one.
TEST_F(TypeLibrary, RawAddressesArePointerWide)
{
    struct Case {
        const wchar_t* itf;
        const wchar_t* method;
        VARTYPE vt32, vt64;
    } cases[] = {
        {L"{6402902D-FA80-43EA-8A8E-96B43C4B8A9D}", L"GetSessionID", VT_I4, VT_I8},
        {L"{3C1A0ED5-94B2-41C8-8E37-A30A3A5F6C8F}", L"GetPersonalID", VT_I4, VT_I8},
        {L"{3C1A0ED5-94B2-41C8-8E37-A30A3A5F6C8F}", L"PutPersonalID", VT_I4, VT_I8},
        {L"{3C1A0ED5-94B2-41C8-8E37-A30A3A5F6C8F}", L"PutMarkID", VT_I4, VT_I8},
        {L"{3C1A0ED5-94B2-41C8-8E37-A30A3A5F6C8F}", L"GetMarkID", VT_I4, VT_I8},
        {L"{3C1A0ED5-94B2-41C8-8E37-A30A3A5F6C8F}", L"PutSN", VT_I4, VT_I8},
        {L"{3C1A0ED5-94B2-41C8-8E37-A30A3A5F6C8F}", L"GetSN", VT_I4, VT_I8},
        {L"{40030A09-F436-40E5-A8FD-A9B162496305}", L"Write", VT_UI4, VT_UI8},
        {L"{40030A09-F436-40E5-A8FD-A9B162496305}", L"Read", VT_UI4, VT_UI8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        CComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(Guid(c.itf), &info));
        MEMBERID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(c.method);
        ASSERT_EQ(S_OK, info->GetIDsOfNames(&name, 1, &id));
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        UINT funcs = attr->cFuncs;
        info->ReleaseTypeAttr(attr);
        bool seen = false;
        for (UINT i = 0; i < funcs; ++i) {
            FUNCDESC* fd = nullptr;
            ASSERT_EQ(S_OK, info->GetFuncDesc(i, &fd));
            if (fd->memid == id) {
                seen = true;
                ASSERT_GE(fd->cParams, 1);
                EXPECT_EQ(sizeof(void*) == 8 ? c.vt64 : c.vt32, fd->lprgelemdescParam[0].tdesc.vt);
            }
            info->ReleaseFuncDesc(fd);
        }
        EXPECT_TRUE(seen);
    }
}

// ---- registration ----

using RegistryDump = std::set<std::wstring>;  // "[key]" and "[key] name=value" lines

// Exports one key (with everything below it) by Wine's reg.exe and reads the export back; false when
// the key does not exist.
bool ExportKey(const std::wstring& key, RegistryDump& dump)
{
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"reg", 0, file);
    long rc = RunProgram(L"reg.exe export \"" + key + L"\" \"" + file + L"\" /y");
    if (rc != 0) {
        DeleteFileW(file);
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    DeleteFileW(file);
    std::wstring text;
    size_t start = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF ? 2 : 0;
    for (size_t i = start; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    std::wistringstream lines(text);
    std::wstring line, current;
    auto unescape = [](const std::wstring& s) {
        std::wstring out;
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] == L'\\' && i + 1 < s.size())
                ++i;
            out += s[i];
        }
        return out;
    };
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        if (line.size() > 2 && line.front() == L'[') {
            current = line;
            dump.insert(current);
        } else if (!line.empty() && (line[0] == L'@' || line[0] == L'"')) {
            size_t eq = line[0] == L'@' ? 1 : line.find(L"\"=") + 1;
            std::wstring name = line[0] == L'@' ? L"@" : unescape(line.substr(1, eq - 2));
            std::wstring value = line.substr(eq + 1);
            if (value.size() >= 2 && value.front() == L'"')
                value = unescape(value.substr(1, value.size() - 2));
            dump.insert(current + L" " + name + L"=" + value);
        }
    }
    return true;
}

struct RegisteredClass {
    const wchar_t* name;  // ZAVTControl
    const wchar_t* clsid;
    const wchar_t* description;
    bool control;
};
const RegisteredClass kRegistered[] = {
    {L"ZAVTControl", L"{995FDB19-0DB5-4590-9F5E-AC34C9243E58}", L"Orvande Player Control", true},
    {L"ZAVTDevice", L"{26F8C687-74DB-44E1-94CC-DFC8C96E5201}", L"ZAVTDevice Class", false},
    {L"ZAVTFile", L"{ADCE2391-7EF1-4098-820B-ECDD3F880FF0}", L"ZAVTFile Class", false},
    {L"ZAVTFolder", L"{A383EDE3-7103-4E4B-9579-45F1E2E494A2}", L"ZAVTFolder Class", false},
    {L"ZAVTStorage", L"{D7A2B323-9A5B-4C56-B63D-DD96DDA9B549}", L"ZAVTStorage Class", false},
};
const wchar_t* const kCollectionClsids[] = {
    L"{676DA5AA-8A46-4497-B0C6-A0CAE9FF133F}",
    L"{319A0171-F957-4336-B85D-B99C8C70027E}",
    L"{FAFD21F6-B1C6-471A-997F-ECA00E52B485}",
    L"{5E93031E-0D1B-49B9-AC8A-C97FF03848A3}",
};

// Everything the registration scripts of one class write.
RegistryDump Expected(const RegisteredClass& c, const std::wstring& module)
{
    const std::wstring root = L"HKEY_CLASSES_ROOT\\";
    const std::wstring prog = std::wstring(L"ZAVTCTRL.") + c.name;
    const std::wstring desc = c.description;
    const std::wstring clsid = c.clsid;
    const std::wstring key = L"[" + root + L"CLSID\\" + clsid;
    RegistryDump d = {
        L"[" + root + prog + L".1]",
        L"[" + root + prog + L".1] @=" + desc,
        L"[" + root + prog + L".1\\CLSID]",
        L"[" + root + prog + L".1\\CLSID] @=" + clsid,
        L"[" + root + prog + L"]",
        L"[" + root + prog + L"] @=" + desc,
        L"[" + root + prog + L"\\CLSID]",
        L"[" + root + prog + L"\\CLSID] @=" + clsid,
        L"[" + root + prog + L"\\CurVer]",
        L"[" + root + prog + L"\\CurVer] @=" + prog + L".1",
        key + L"]",
        key + L"] @=" + desc,
        key + L"\\ProgID]",
        key + L"\\ProgID] @=" + prog + L".1",
        key + L"\\VersionIndependentProgID]",
        key + L"\\VersionIndependentProgID] @=" + prog,
        key + L"\\Programmable]",
        key + L"\\InprocServer32]",
        key + L"\\InprocServer32] @=" + module,
        key + L"\\InprocServer32] ThreadingModel=Apartment",
        key + L"\\TypeLib]",
        key + L"\\TypeLib] @={CC874B14-03E7-470B-B8AD-FD7F1F5A5355}",
    };
    if (c.control) {
        d.insert({
            key + L"\\Control]",
            key + L"\\Insertable]",
            key + L"\\ToolboxBitmap32]",
            key + L"\\ToolboxBitmap32] @=" + module + L", 101",
            key + L"\\MiscStatus]",
            key + L"\\MiscStatus] @=0",
            key + L"\\MiscStatus\\1]",
            key + L"\\MiscStatus\\1] @=132497",
            key + L"\\Version]",
            key + L"\\Version] @=1.0",
        });
    }
    return d;
}

std::wstring Joined(const RegistryDump& d)
{
    std::wstring s;
    for (const std::wstring& line : d)
        s += line + L"\n";
    return s;
}

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w)
        s += c < 128 ? static_cast<char>(c) : '?';
    return s;
}

// Registration, the registered server used by a client, then unregistration: one test, because the
// other steps need the server registered and the registry is the Wine prefix's own.
TEST(ZavtctrlRegistration, RegisterUseAndUnregister)
{
    const std::wstring module = DllPath();
    ASSERT_EQ(0, RunProgram(L"regsvr32.exe /s \"" + module + L"\""));

    for (const RegisteredClass& c : kRegistered) {
        SCOPED_TRACE(Narrow(c.name));
        RegistryDump got;
        const std::wstring prog = std::wstring(L"HKCR\\ZAVTCTRL.") + c.name;
        ASSERT_TRUE(ExportKey(prog + L".1", got));
        ASSERT_TRUE(ExportKey(prog, got));
        ASSERT_TRUE(ExportKey(std::wstring(L"HKCR\\CLSID\\") + c.clsid, got));
        EXPECT_EQ(Narrow(Joined(Expected(c, module))), Narrow(Joined(got)));
    }
    for (const wchar_t* clsid : kCollectionClsids) {
        RegistryDump none;
        EXPECT_FALSE(ExportKey(std::wstring(L"HKCR\\CLSID\\") + clsid, none)) << Narrow(clsid);
    }
    RegistryDump typelib;
    ASSERT_TRUE(ExportKey(L"HKCR\\TypeLib\\{CC874B14-03E7-470B-B8AD-FD7F1F5A5355}", typelib));
    const std::wstring tl = L"[HKEY_CLASSES_ROOT\\TypeLib\\{CC874B14-03E7-470B-B8AD-FD7F1F5A5355}\\1.0";
    EXPECT_TRUE(typelib.count(tl + L"] @=Orvande Portable Player Control 1.0 Type Library")) << Narrow(Joined(typelib));
    EXPECT_TRUE(typelib.count(tl + (sizeof(void*) == 8 ? L"\\409\\win64] @=" : L"\\409\\win32] @=") + module))
        << Narrow(Joined(typelib));

    {
        ComApartment com;
        // Both ProgIDs name the control's class.
        for (const wchar_t* progId : {L"ZAVTCTRL.ZAVTControl", L"ZAVTCTRL.ZAVTControl.1"}) {
            CLSID clsid{};
            EXPECT_EQ(S_OK, CLSIDFromProgID(progId, &clsid));
            EXPECT_EQ(CLSID_ZAVTControl, clsid);
        }
        CLSID clsid{};
        ASSERT_EQ(S_OK, CLSIDFromProgID(L"ZAVTCTRL.ZAVTControl", &clsid));
        CComPtr<IZAVTControl> control;
        ASSERT_EQ(S_OK, control.CoCreateInstance(clsid, CLSCTX_INPROC_SERVER));

        // Late binding: every member by name gives its DISPID.
        CComPtr<IDispatch> disp;
        ASSERT_EQ(S_OK, control.QueryInterface(&disp));
        for (const Member& m : kZAVTControlMembers) {
            DISPID id = 0;
            LPOLESTR name = const_cast<LPOLESTR>(m.name);
            EXPECT_EQ(S_OK, disp->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
            EXPECT_EQ(m.dispid, id) << Narrow(m.name);
        }
        // SpecialBuildNumber through IDispatch, read back through the vtable.
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_I4;
        arg.lVal = 2;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS put{&arg, &named, 1, 1};
        ASSERT_EQ(S_OK, disp->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr,
                                     nullptr));
        long value = -1;
        EXPECT_EQ(S_OK, control->get_SpecialBuildNumber(&value));
        EXPECT_EQ(2, value);
        EXPECT_EQ(E_INVALIDARG, control->get_SpecialBuildNumber(nullptr));
        EXPECT_EQ(S_OK, control->put_SpecialBuildNumber(0));

        // Devices fails with string 768, raised under the control's ProgID.
        IZAVTDeviceCollection* devices = reinterpret_cast<IZAVTDeviceCollection*>(1);
        HRESULT hr = control->get_Devices(&devices);
        EXPECT_TRUE(FAILED(hr));
        EXPECT_EQ(nullptr, devices);
        CComPtr<IErrorInfo> info;
        ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
        CComBSTR description, source;
        info->GetDescription(&description);
        info->GetSource(&source);
        EXPECT_EQ(L"Device Initialization failed. Possible not connected.", Text(description));
        EXPECT_EQ(L"ZAVTCTRL.ZAVTControl.1", Text(source));

        CComPtr<ISupportErrorInfo> sei;
        ASSERT_EQ(S_OK, control.QueryInterface(&sei));
        EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IZAVTControl));
        EXPECT_EQ(E_NOTIMPL, control->DeleteFile(0, ZAVTST_INT, nullptr));
        EXPECT_EQ(E_INVALIDARG, control->GetSessionID(0));

        // The event source is offered as the default source interface.
        CComPtr<IConnectionPointContainer> cpc;
        ASSERT_EQ(S_OK, control.QueryInterface(&cpc));
        CComPtr<IConnectionPoint> cp;
        EXPECT_EQ(S_OK, cpc->FindConnectionPoint(DIID__IZAVTControlEvents, &cp));
        CComPtr<IProvideClassInfo2> pci;
        ASSERT_EQ(S_OK, control.QueryInterface(&pci));
        GUID source_iid{};
        EXPECT_EQ(S_OK, pci->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source_iid));
        EXPECT_EQ(DIID__IZAVTControlEvents, source_iid);

        // The registered objects other than the control are creatable; the collections are not.
        CComPtr<IZAVTDevice> device;
        EXPECT_EQ(S_OK, device.CoCreateInstance(CLSID_ZAVTDevice, CLSCTX_INPROC_SERVER));
        CComPtr<IZAVTDeviceCollection> collection;
        EXPECT_EQ(REGDB_E_CLASSNOTREG, collection.CoCreateInstance(CLSID_ZAVTDeviceCollection, CLSCTX_INPROC_SERVER));
        // A null raw address is refused before anything else.
        EXPECT_EQ(E_INVALIDARG, device->GetSN(0));
    }

    ASSERT_EQ(0, RunProgram(L"regsvr32.exe /s /u \"" + module + L"\""));
    for (const RegisteredClass& c : kRegistered) {
        RegistryDump left;
        const std::wstring prog = std::wstring(L"HKCR\\ZAVTCTRL.") + c.name;
        EXPECT_FALSE(ExportKey(prog + L".1", left)) << Narrow(Joined(left));
        EXPECT_FALSE(ExportKey(prog, left)) << Narrow(Joined(left));
        EXPECT_FALSE(ExportKey(std::wstring(L"HKCR\\CLSID\\") + c.clsid, left)) << Narrow(Joined(left));
    }
    RegistryDump left;
    EXPECT_FALSE(ExportKey(L"HKCR\\TypeLib\\{CC874B14-03E7-470B-B8AD-FD7F1F5A5355}\\1.0", left))
        << Narrow(Joined(left));
    for (const InterfaceRow& row : kInterfaces)
        EXPECT_FALSE(ExportKey(std::wstring(L"HKCR\\Interface\\") + row.iid, left)) << Narrow(row.name);
    EXPECT_TRUE(ExportKey(L"HKCR\\Interface\\{00020400-0000-0000-C000-000000000046}", left))
        << "unregistration leaves IDispatch's registration alone";
}

}  // namespace
