// A client of the built ZAVTCTRL.dll, loaded by path and reached through its class factory, with a
// simulated player served in this process: it writes the player's default system files and copies back
// what reached the player, for check_system_files.py to compare with the DLL's resources.
// Usage: system_files_client DLL MODEL BUILD OUT_FOLDER FIRMWARE_FILE [font]
// Writes OUT_FOLDER\config.dat, and image.dat, player.rom and upgrade.axf where the model has them, and
// Font.fon with "font". Prints each step; exit code 1 on any failure.
#include "tests/device/api/zavt_rig.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int failures = 0;

void Step(const char* what, HRESULT hr)
{
    std::printf("%s %s (0x%08lX)\n", SUCCEEDED(hr) ? "ok  " : "FAIL", what, static_cast<unsigned long>(hr));
    if (FAILED(hr))
        ++failures;
}

// Copies a file of the internal root to the output folder.
void Fetch(IZAVTDevice* device, const std::wstring& out, const wchar_t* name)
{
    const std::wstring dst = out + L"\\" + name;
    DeleteFileW(dst.c_str());
    const std::string what = "upload " + std::string(name, name + wcslen(name));
    Step(what.c_str(), device->Upload(ZAVTST_INT, CComBSTR(name), CComBSTR(dst.c_str())));
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: system_files_client DLL MODEL BUILD OUT_FOLDER FIRMWARE_FILE [font]\n");
        return 2;
    }
    const int model = _wtoi(argv[2]);
    const long build = _wtol(argv[3]);
    const std::wstring out = argv[4];
    const bool font = argc > 6 && std::wstring(argv[6]) == L"font";

    // The device API's temporary folder goes into the output folder, away from other programs' files.
    if (!SetEnvironmentVariableW(L"TMP", out.c_str()) || !SetEnvironmentVariableW(L"TEMP", out.c_str())) {
        std::printf("FAIL the temporary path\n");
        return 1;
    }
    sim::TestPlayer player(sim::DefaultConfig(model));
    if (!player.Ok() || (model >= 9 && !MakeInternalRoot())) {
        std::printf("FAIL the simulated player\n");
        return 1;
    }
    const HMODULE dll = LoadLibraryW(argv[1]);
    if (!dll) {
        std::printf("FAIL LoadLibrary %lu\n", GetLastError());
        return 1;
    }
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllGetClassObject")));
    CComPtr<IClassFactory> factory;
    CComPtr<IZAVTControl> control;
    CComPtr<IZAVTDeviceCollection> devices;
    CComPtr<IZAVTDevice> device;
    HRESULT hr = getClassObject ? getClassObject(CLSID_ZAVTControl, IID_IClassFactory, reinterpret_cast<void**>(&factory))
                                : E_NOINTERFACE;
    if (SUCCEEDED(hr))
        hr = factory->CreateInstance(nullptr, IID_IZAVTControl, reinterpret_cast<void**>(&control));
    if (SUCCEEDED(hr))
        hr = control->put_SpecialBuildNumber(build);
    if (SUCCEEDED(hr))
        hr = control->get_Devices(&devices);
    if (SUCCEEDED(hr))
        hr = devices->get_Item(1, &device);
    Step("the player's device object", hr);
    if (FAILED(hr))
        return 1;

    Step("DownloadConfig", device->DownloadConfig(nullptr));
    Fetch(device, out, L"config.dat");
    long images = 0;
    device->get_SupportImages(&images);
    if (images) {
        Step("DownloadImage", device->DownloadImage(nullptr));
        Fetch(device, out, L"image.dat");
    }
    long upgrade = 0;
    device->get_SupportFirmwareUpgrade(&upgrade);
    if (upgrade) {
        Step("FirmwareUpgrade", device->FirmwareUpgrade(CComBSTR(argv[5])));
        Fetch(device, out, L"player.rom");
        Fetch(device, out, L"upgrade.axf");
    }
    if (font) {
        Step("DownloadFont", device->DownloadFont(FontUNIKWEP, nullptr));
        Fetch(device, out, L"Font.fon");
    }
    device.Release();
    devices.Release();
    control.Release();
    factory.Release();
    return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    const int rc = Run(argc, argv);
    CoUninitialize();
    return rc;
}
