// The manager's application object: start-up and shut-down around the modal main dialog, and the
// services every window of the manager uses (translated texts, the message box, translated dialog items,
// msimg32's optional drawing functions, the common controls' version check).
#pragma once

#include "manager/framework/windows/cx_app.h"

#include <windows.h>

#include <atomic>

class CTextLookup;

// Text ids the application uses.
constexpr UINT IDS_KWEP_COMCTL_VERSION = 33800;   // comctl32 older than 4.72
constexpr UINT IDS_KWEP_OLD_PLATFORM = 33801;     // Windows 95
constexpr UINT IDS_KWEP_WEB_ADDRESS = 62624;      // the maker's web address
constexpr UINT ID_KWEP_VISIT_WEB_SITE = 32772;    // menu "Visit Orvande's Web Site"
constexpr UINT ID_KWEP_APP_EXIT = 57665;          // menu Exit

// The lowest comctl32 version the manager works with: 4.72, as GetDllVersionPacked packs it.
constexpr DWORD KWEP_MIN_COMCTL_VERSION = 0x00040048;

// The name of the mutex that every program driving the player holds while it runs.
constexpr const wchar_t* KWEP_PLAYER_MUTEX = L"USB_managerDlgG";

// msimg32's functions.
using KwepAlphaBlendFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
using KwepGradientFillFunction = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);
using KwepTransparentBltFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, UINT);

// Loads a library: null for a null name; the wide call on the NT family, the ANSI one otherwise.
HMODULE CxLoadLibrary(LPCWSTR fileName);
// Frees a held library and clears the handle: E_INVALIDARG when none is held, E_UNEXPECTED when
// FreeLibrary fails, else S_OK.
HRESULT CxFreeLibrary(HMODULE& module);
// The DLL's version as major << 16 | minor, from its DllGetVersion; 0 when the DLL, the export or the
// call fails.
DWORD GetDllVersionPacked(LPCWSTR dllName);

class CKwepManagerApp : public CxWinApp {
public:
    // Loads msimg32's functions.
    CKwepManagerApp();
    // Frees msimg32.
    ~CKwepManagerApp() override;

    // COM, the framework's start step, the player mutex, then the main dialog run modally. Always FALSE:
    // the dialog's loop is the program's only one.
    BOOL InitInstance() override;
    // Ends the COM module, releases the player mutex, saves the application's properties.
    int ExitInstance() override;
    const GUID* GetAppGuid() override;
    int GetInstanceScope() override;
    // Registry key "Orvande", profile "KWEP Manager 2".
    void InitRegistry() override;
    // Empties the text; the answer of the registered text lookup, FALSE while none is registered. Safe
    // on any thread.
    BOOL GetString(CxString& text, UINT id) override;

    // The lookup GetString asks, registered by the main window for its life. Unregistering clears it
    // only when it is the one registered, and returns once no call into it is in flight.
    void RegisterTextLookup(CTextLookup* lookup);
    void UnregisterTextLookup(CTextLookup* lookup);

    // The framework's message box; a null or empty caption becomes "KWEP Manager 2". Returns the button
    // id (IDYES, IDNO, IDCANCEL, 12 Yes to All, 13 No to All, ...).
    int ShowMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD extra = 0);
    // ids[0] is the text id of the dialog's caption; every further id is a child control's id and its
    // text id. A window that exists takes its text when one is found and not empty.
    void TranslateDialogItems(HWND dialog, const UINT* ids, int count);

    // The player mutex: FALSE, after the fixed error box, when another program holds it; otherwise it is
    // created and held for the life of the process.
    BOOL CheckSingleInstance();

    // Loads msimg32 once (S_FALSE when loaded already): E_ACCESSDENIED when the library is missing,
    // E_NOTIMPL when a function is missing (the functions stay null), S_OK otherwise.
    HRESULT LoadMsimg32Functions();
    // The same from another library file (tests).
    HRESULT LoadMsimg32Functions(LPCWSTR fileName);
    // Frees the held library; the functions become null.
    HRESULT FreeMsimg32();
    KwepAlphaBlendFunction GetAlphaBlend() const { return m_alphaBlend; }
    KwepGradientFillFunction GetGradientFill() const { return m_gradientFill; }
    KwepTransparentBltFunction GetTransparentBlt() const { return m_transparentBlt; }

    // Warns (owned by the main dialog) when the system is Windows 95 (33801), or else when comctl32 is
    // older than 4.72 (33800). Start-up goes on either way.
    void CheckCommonControlsVersion(HWND mainDlg);
    // The same with the platform code and the version getter given; the text id shown, or 0.
    using VersionGetter = DWORD (*)(LPCWSTR dllName);
    UINT CheckCommonControlsVersion(HWND mainDlg, DWORD platform, VersionGetter getVersion);

    // The shell's execute call, replaceable by tests.
    using ShellExecuteFunction = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    void SetShellExecute(ShellExecuteFunction function) { m_shellExecute = function; }

protected:
    // Command 32772: the maker's web address to the shell, under a wait cursor.
    void OnVisitWebSite();
    // Command 57665: WM_CLOSE to the main window.
    void OnAppExit();

    DECLARE_MESSAGE_MAP()

private:
    void InitComModule();
    void TermComModule();

    HANDLE m_playerMutex = nullptr;
    bool m_oleInitialised = false;

    // The registered lookup and the calls inside it: UnregisterTextLookup clears the pointer, then waits
    // on the condition until no call is left inside. Callers never wait for a lookup in flight.
    std::atomic<CTextLookup*> m_textLookup{nullptr};
    CRITICAL_SECTION m_lookupLock;
    CONDITION_VARIABLE m_lookupIdle = CONDITION_VARIABLE_INIT;
    int m_lookupCalls = 0;

    HMODULE m_msimg32 = nullptr;
    KwepAlphaBlendFunction m_alphaBlend = nullptr;
    KwepGradientFillFunction m_gradientFill = nullptr;
    KwepTransparentBltFunction m_transparentBlt = nullptr;

    ShellExecuteFunction m_shellExecute;
};

// The application object, or null when the process's application is another.
CKwepManagerApp* KwepGetApp();
