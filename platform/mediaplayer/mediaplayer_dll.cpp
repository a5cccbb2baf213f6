// KwepMediaPlayer.dll's entry point, its four exports and its one class.
#include "platform/mediaplayer/media_player_control.h"

namespace {

BEGIN_OBJECT_MAP(g_objectMap)
OBJECT_ENTRY(mediaplayer::kClsidMediaPlayer, mediaplayer::CMediaPlayerControl)
END_OBJECT_MAP()

// The library id of the type library in resource 1.
constexpr GUID kLibid = {0x02CC0308, 0x7746, 0x48C7, {0x84, 0xBE, 0xC7, 0x0F, 0x26, 0xB0, 0xD7, 0x5F}};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        _Module.Init(g_objectMap, instance, &kLibid);
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

// The type library stays unregistered: the control reads it from its own file, and registering it would
// take over the interface keys of the system's player.
STDAPI DllRegisterServer()
{
    return _Module.RegisterServer(FALSE);
}

STDAPI DllUnregisterServer()
{
    return _Module.UnregisterServer(FALSE);
}
