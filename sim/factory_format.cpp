#include "sim/factory_format.h"

#include "platform/atl/atlbase.h"
#include "resources/zavtctrl.h"
#include "sim/wire_server.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>

namespace playersim {

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// "step failed (0x...): the server's description", the description when the failing call left one.
std::wstring Failure(const wchar_t* step, HRESULT hr)
{
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring text = std::wstring(step) + L" failed (" + code + L")";
    CComPtr<IErrorInfo> info;
    CComBSTR description;
    if (GetErrorInfo(0, &info) == S_OK && info && SUCCEEDED(info->GetDescription(&description)) &&
        description.Length() > 0)
        text += L": " + std::wstring(description.get(), description.Length());
    return text;
}

std::filesystem::path BesideThisProgram(const wchar_t* name)
{
    wchar_t self[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH)
        return {};
    return std::filesystem::path(self).parent_path() / name;
}

// COM for this thread while the scope lasts.
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

// The player variable names the served player while the scope lasts.
class PlayerVariable {
public:
    explicit PlayerVariable(const std::string& path) : set_(SetEnvironmentVariableA(sim::kPlayerPathVariable, path.c_str()))
    {
    }
    ~PlayerVariable() { SetEnvironmentVariableA(sim::kPlayerPathVariable, nullptr); }
    PlayerVariable(const PlayerVariable&) = delete;
    PlayerVariable& operator=(const PlayerVariable&) = delete;
    bool Set() const { return set_; }

private:
    bool set_;
};

std::wstring FormatThroughControl(IClassFactory* factory)
{
    // Declared in the order they are reached, so each is released before what it came from.
    CComPtr<IZAVTControl> control;
    HRESULT hr = factory->CreateInstance(nullptr, IID_IZAVTControl, reinterpret_cast<void**>(&control));
    if (FAILED(hr))
        return Failure(L"making the control", hr);
    CComPtr<IZAVTDeviceCollection> devices;
    long count = 0;
    if (FAILED(hr = control->get_Devices(&devices)) || FAILED(hr = devices->get_Count(&count)))
        return Failure(L"finding the player", hr);
    if (count != 1)
        return L"the device API found no player";
    CComPtr<IZAVTDevice> device;
    CComPtr<IZAVTStorageCollection> storages;
    if (FAILED(hr = devices->get_Item(1, &device)) || FAILED(hr = device->get_Storages(&storages)) ||
        FAILED(hr = storages->get_Count(&count)))
        return Failure(L"listing the player's storages", hr);
    for (long i = 1; i <= count; ++i) {
        CComPtr<IZAVTStorage> storage;
        ZAVTStorageType type = ZAVTST_VOID;
        if (FAILED(hr = storages->get_Item(i, &storage)) || FAILED(hr = storage->get_Type(&type)))
            return Failure(L"listing the player's storages", hr);
        if (type == ZAVTST_INT)
            return FAILED(hr = storage->Format()) ? Failure(L"formatting internal memory", hr) : std::wstring();
    }
    return L"the player has no internal memory";
}

}  // namespace

std::wstring FormatInternalMemory(const std::string& interfacePath)
{
    const PlayerVariable variable(interfacePath);
    if (!variable.Set())
        return L"cannot point the device API at the player";
    const ComScope com;
    if (FAILED(com.Result()))
        return Failure(L"starting COM", com.Result());
    const std::filesystem::path server = BesideThisProgram(L"ZAVTCTRL.dll");
    // Kept loaded until the process ends: the server's threads may still be ending after the last release.
    const HMODULE dll = server.empty() ? nullptr : LoadLibraryW(server.c_str());
    const auto getClassObject =
        dll ? reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")))
            : nullptr;
    if (!getClassObject)
        return L"cannot load the device API " + server.wstring() + L" (error " + std::to_wstring(GetLastError()) + L")";
    CComPtr<IClassFactory> factory;
    const HRESULT hr = getClassObject(CLSID_ZAVTControl, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return Failure(L"getting the control's class object", hr);
    return FormatThroughControl(factory);
}

}  // namespace playersim
