#include "manager/main/app/kwep_manager_app.h"

#include "manager/framework/windows/cx_msgbox.h"
#include "manager/framework/windows/cx_platform.h"
#include "manager/main/language/text_lookup.h"
#include "manager/main/main_dlg.h"
#include "platform/atl/atlbase.h"
#include "platform/win/file_util.h"

#include <shellapi.h>
#include <shlwapi.h>

namespace {

// {20E8109F-E81D-43BD-BB77-7450F58942AB}
constexpr GUID kAppGuid = {0x20e8109f, 0xe81d, 0x43bd, {0xbb, 0x77, 0x74, 0x50, 0xf5, 0x89, 0x42, 0xab}};

constexpr const wchar_t* kCaption = L"KWEP Manager 2";

// No translation table is loaded when this is shown.
constexpr const wchar_t* kPlayerInUseText =
    L"Another copy of KWEP Manager or program that uses KWEP\nis being executed. Please close all programs that "
    L"use KWEP player and start again.";

template <class Function>
Function Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class WaitCursor {
public:
    WaitCursor() : m_previous(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(m_previous); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR m_previous;
};

class Locked {
public:
    explicit Locked(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    ~Locked() { LeaveCriticalSection(&m_lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CRITICAL_SECTION& m_lock;
};

}  // namespace

HMODULE CxLoadLibrary(LPCWSTR fileName)
{
    return UtilLoadLibrary(fileName);
}

HRESULT CxFreeLibrary(HMODULE& module)
{
    if (module == nullptr)
        return E_INVALIDARG;
    const BOOL freed = FreeLibrary(module);
    module = nullptr;
    return freed ? S_OK : E_UNEXPECTED;
}

DWORD GetDllVersionPacked(LPCWSTR dllName)
{
    HMODULE module = CxLoadLibrary(dllName);
    if (module == nullptr)
        return 0;
    DWORD packed = 0;
    const auto getVersion = Resolve<DLLGETVERSIONPROC>(module, "DllGetVersion");
    if (getVersion != nullptr) {
        DLLVERSIONINFO info{};
        info.cbSize = sizeof info;
        if (SUCCEEDED(getVersion(&info)))
            packed = ((info.dwMajorVersion & 0xFFFF) << 16) | (info.dwMinorVersion & 0xFFFF);
    }
    CxFreeLibrary(module);
    return packed;
}

CKwepManagerApp* KwepGetApp()
{
    return dynamic_cast<CKwepManagerApp*>(AfxGetApp());
}

CKwepManagerApp::CKwepManagerApp() : m_shellExecute(&ShellExecuteW)
{
    InitializeCriticalSection(&m_lookupLock);
    LoadMsimg32Functions();
}

CKwepManagerApp::~CKwepManagerApp()
{
    if (m_msimg32 != nullptr)
        FreeMsimg32();
    if (m_playerMutex != nullptr)
        CloseHandle(m_playerMutex);
    DeleteCriticalSection(&m_lookupLock);
}

BEGIN_MESSAGE_MAP(CKwepManagerApp, CxWinApp)
ON_COMMAND(ID_KWEP_VISIT_WEB_SITE, OnVisitWebSite)
ON_COMMAND(ID_KWEP_APP_EXIT, OnAppExit)
END_MESSAGE_MAP()

// ---- Start-up and shut-down ----

void CKwepManagerApp::InitComModule()
{
    m_oleInitialised = SUCCEEDED(OleInitialize(nullptr));
    _Module.Init(nullptr, m_hInstance != nullptr ? m_hInstance : GetModuleHandleW(nullptr));
    WinDetectPlatform();
}

void CKwepManagerApp::TermComModule()
{
    _Module.Term();
    if (m_playerMutex != nullptr) {
        CloseHandle(m_playerMutex);
        m_playerMutex = nullptr;
    }
    if (m_oleInitialised) {
        OleUninitialize();
        m_oleInitialised = false;
    }
}

BOOL CKwepManagerApp::InitInstance()
{
    InitComModule();
    if (!CxWinApp::InitInstance())
        return FALSE;
    if (!CheckSingleInstance())
        return FALSE;
    CKwepManagerDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}

int CKwepManagerApp::ExitInstance()
{
    TermComModule();
    return CxWinApp::ExitInstance();
}

BOOL CKwepManagerApp::CheckSingleInstance()
{
    // Created in one step: opening first and creating after would let two programs starting together
    // both pass.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, KWEP_PLAYER_MUTEX);
    const DWORD error = GetLastError();
    if (mutex == nullptr || error == ERROR_ALREADY_EXISTS) {
        if (mutex != nullptr)
            CloseHandle(mutex);
        MessageBoxW(nullptr, kPlayerInUseText, kCaption, MB_ICONERROR);
        return FALSE;
    }
    if (m_playerMutex != nullptr)
        CloseHandle(m_playerMutex);
    m_playerMutex = mutex;
    return TRUE;
}

const GUID* CKwepManagerApp::GetAppGuid()
{
    return &kAppGuid;
}

int CKwepManagerApp::GetInstanceScope()
{
    return 0;
}

void CKwepManagerApp::InitRegistry()
{
    SetRegistryKey(L"Orvande");
    m_pszProfileName = kCaption;
}

// ---- Texts ----

BOOL CKwepManagerApp::GetString(CxString& text, UINT id)
{
    text.Empty();
    if (m_textLookup.load() == nullptr)
        return FALSE;
    CTextLookup* lookup = nullptr;
    {
        Locked locked(m_lookupLock);
        lookup = m_textLookup.load();
        if (lookup == nullptr)
            return FALSE;
        ++m_lookupCalls;
    }
    const BOOL found = lookup->LookupTranslation(text, id);
    {
        Locked locked(m_lookupLock);
        if (--m_lookupCalls == 0)
            WakeAllConditionVariable(&m_lookupIdle);
    }
    if (!found)
        text.Empty();
    return found;
}

void CKwepManagerApp::RegisterTextLookup(CTextLookup* lookup)
{
    m_textLookup.store(lookup);
}

void CKwepManagerApp::UnregisterTextLookup(CTextLookup* lookup)
{
    Locked locked(m_lookupLock);
    CTextLookup* expected = lookup;
    if (lookup == nullptr || !m_textLookup.compare_exchange_strong(expected, nullptr))
        return;
    // New calls see no lookup now; the owner may destroy it once the calls inside it have left.
    while (m_lookupCalls > 0)
        SleepConditionVariableCS(&m_lookupIdle, &m_lookupLock, INFINITE);
}

int CKwepManagerApp::ShowMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD extra)
{
    return ExtMessageBox(owner, text, caption != nullptr && *caption != 0 ? caption : kCaption, style, extra);
}

void CKwepManagerApp::TranslateDialogItems(HWND dialog, const UINT* ids, int count)
{
    if (dialog == nullptr || !IsWindow(dialog) || ids == nullptr)
        return;
    for (int i = 0; i < count; ++i) {
        HWND window = i == 0 ? dialog : GetDlgItem(dialog, static_cast<int>(ids[i]));
        if (window == nullptr)
            continue;
        CxString text;
        if (GetString(text, ids[i]) && !text.IsEmpty())
            SetWindowTextW(window, text);
    }
}

void CKwepManagerApp::OnVisitWebSite()
{
    WaitCursor wait;
    CxString address;
    if (!GetString(address, IDS_KWEP_WEB_ADDRESS) || address.IsEmpty() || m_shellExecute == nullptr)
        return;
    m_shellExecute(nullptr, nullptr, address, nullptr, nullptr, SW_HIDE);
}

void CKwepManagerApp::OnAppExit()
{
    if (m_pMainWnd != nullptr && m_pMainWnd->m_hWnd != nullptr)
        SendMessageW(m_pMainWnd->m_hWnd, WM_CLOSE, 0, 0);
}

// ---- msimg32 ----

HRESULT CKwepManagerApp::LoadMsimg32Functions()
{
    return LoadMsimg32Functions(L"msimg32.dll");
}

HRESULT CKwepManagerApp::LoadMsimg32Functions(LPCWSTR fileName)
{
    if (m_msimg32 != nullptr)
        return S_FALSE;
    m_msimg32 = CxLoadLibrary(fileName);
    if (m_msimg32 == nullptr)
        return E_ACCESSDENIED;
    const auto alphaBlend = Resolve<KwepAlphaBlendFunction>(m_msimg32, "AlphaBlend");
    const auto gradientFill = Resolve<KwepGradientFillFunction>(m_msimg32, "GradientFill");
    if (alphaBlend == nullptr || gradientFill == nullptr)
        return E_NOTIMPL;
    KwepTransparentBltFunction transparentBlt = nullptr;
    if (CxIsNtPlatform()) {
        transparentBlt = Resolve<KwepTransparentBltFunction>(m_msimg32, "TransparentBlt");
        if (transparentBlt == nullptr)
            return E_NOTIMPL;
    }
    m_alphaBlend = alphaBlend;
    m_gradientFill = gradientFill;
    m_transparentBlt = transparentBlt;
    return S_OK;
}

HRESULT CKwepManagerApp::FreeMsimg32()
{
    // The functions go with the library.
    m_alphaBlend = nullptr;
    m_gradientFill = nullptr;
    m_transparentBlt = nullptr;
    return CxFreeLibrary(m_msimg32);
}

// ---- Common controls ----

void CKwepManagerApp::CheckCommonControlsVersion(HWND mainDlg)
{
    CheckCommonControlsVersion(mainDlg, CxGetPlatform(), &GetDllVersionPacked);
}

UINT CKwepManagerApp::CheckCommonControlsVersion(HWND mainDlg, DWORD platform, VersionGetter getVersion)
{
    UINT textId = 0;
    if ((platform & (0x80000000 | 0x2)) == 0)
        textId = IDS_KWEP_OLD_PLATFORM;
    else if (getVersion != nullptr && getVersion(L"comctl32.dll") < KWEP_MIN_COMCTL_VERSION)
        textId = IDS_KWEP_COMCTL_VERSION;
    if (textId == 0)
        return 0;
    CxString text;
    if (!GetString(text, textId) || text.IsEmpty())
        return 0;
    ShowMessageBox(mainDlg, text, nullptr, MB_ICONEXCLAMATION);
    return textId;
}
