// ZAVTCTRL.dll's entry point, its four exports and the class-object table.
#include "device/api/zavt_control.h"
#include "device/api/zavt_device.h"
#include "device/api/zavt_file.h"
#include "device/api/zavt_folder.h"
#include "device/api/zavt_storage.h"
#include "platform/win/file_util.h"

namespace {

// The class-object table, in registration order.
BEGIN_OBJECT_MAP(g_objectMap)
OBJECT_ENTRY(CLSID_ZAVTControl, CZAVTControl)
OBJECT_ENTRY(CLSID_ZAVTDevice, CZAVTDevice)
OBJECT_ENTRY(CLSID_ZAVTDeviceCollection, CZAVTDeviceCollection)
OBJECT_ENTRY(CLSID_ZAVTFile, CZAVTFile)
OBJECT_ENTRY(CLSID_ZAVTFileCollection, CZAVTFileCollection)
OBJECT_ENTRY(CLSID_ZAVTFolder, CZAVTFolder)
OBJECT_ENTRY(CLSID_ZAVTFolderCollection, CZAVTFolderCollection)
OBJECT_ENTRY(CLSID_ZAVTStorage, CZAVTStorage)
OBJECT_ENTRY(CLSID_ZAVTStorageCollection, CZAVTStorageCollection)
END_OBJECT_MAP()

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    // The choice between the wide and the ANSI file calls is made again on every call.
    UtilCheckOSVersion();
    if (reason == DLL_PROCESS_ATTACH) {
        _Module.Init(g_objectMap, instance, &LIBID_ZAVTCTRLLib);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        _Module.Term();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return _Module.GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return _Module.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer()
{
    return _Module.RegisterServer(TRUE);
}

STDAPI DllUnregisterServer()
{
    return _Module.UnregisterServer(TRUE);
}
