#include "manager/framework/windows/cx_app.h"

#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>
#include <cwctype>

namespace {

std::atomic<UINT> g_instanceMessage{0};

// The "ToolTips" callbacks' context: the masked bits of the application's flags.
struct FlagMaskContext {
    DWORD* low;
    DWORD* high;
    DWORD maskLow;
    DWORD maskHigh;
};

void FreeFlagMaskContext(void* context)
{
    delete static_cast<FlagMaskContext*>(context);
}

HRESULT GetMaskedFlags(CxPersistCall& call)
{
    const auto* c = static_cast<const FlagMaskContext*>(call.context);
    if (c == nullptr)
        return E_INVALIDARG;
    const ULONGLONG value =
        (static_cast<ULONGLONG>(*c->high & c->maskHigh) << 32) | static_cast<ULONGLONG>(*c->low & c->maskLow);
    return call.text.Format(L"%I64x", value);
}

HRESULT SetMaskedFlags(CxPersistCall& call)
{
    const auto* c = static_cast<const FlagMaskContext*>(call.context);
    if (c == nullptr)
        return E_INVALIDARG;
    if (call.text.IsEmpty())
        return S_FALSE;
    // One hexadecimal number and nothing else.
    const wchar_t* text = call.text;
    while (std::iswspace(*text))
        ++text;
    if (!std::iswxdigit(*text))
        return E_INVALIDARG;
    wchar_t* end = nullptr;
    const ULONGLONG value = std::wcstoull(text, &end, 16);
    while (end != nullptr && std::iswspace(*end))
        ++end;
    if (end == nullptr || *end != 0)
        return E_INVALIDARG;
    const auto valueLow = static_cast<DWORD>(value);
    const auto valueHigh = static_cast<DWORD>(value >> 32);
    *c->low = (*c->low & ~c->maskLow) | (valueLow & c->maskLow);
    *c->high = (*c->high & ~c->maskHigh) | (valueHigh & c->maskHigh);
    return S_OK;
}

// The program file's name in lower case, without folder and extension.
HRESULT ProgramTitle(CxString* title)
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return E_ABORT;
    CharLowerBuffW(path, length);
    wchar_t* name = path;
    for (wchar_t* p = path; *p != 0; ++p) {
        if (*p == L'\\' || *p == L'/' || *p == L':')
            name = p + 1;
    }
    wchar_t* dot = std::wcsrchr(name, L'.');
    if (dot != nullptr)
        *dot = 0;
    if (*name == 0)
        return E_ABORT;
    return title->Assign(name);
}

HRESULT ScopePart(int scope, CxString* part)
{
    switch (scope) {
    case 1: {
        HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
        DWORD needed = 0;
        if (GetUserObjectInformationW(desktop, UOI_NAME, nullptr, 0, &needed) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
            return part->Assign(L"Win9x");
        auto* buffer = static_cast<wchar_t*>(CxAlloc(needed + sizeof(wchar_t)));
        if (buffer == nullptr)
            return E_OUTOFMEMORY;
        ZeroMemory(buffer, needed + sizeof(wchar_t));
        const BOOL read = GetUserObjectInformationW(desktop, UOI_NAME, buffer, needed, &needed);
        // Owned from here on (an empty text is freed at once).
        CxString name;
        name.Attach(buffer);
        if (!read)
            return E_UNEXPECTED;
        return part->Assign(name);
    }
    case 2: {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            part->Empty();
            return S_OK;
        }
        DWORD needed = 0;
        TOKEN_STATISTICS statistics{};
        HRESULT hr = S_OK;
        if (GetTokenInformation(token, TokenStatistics, nullptr, 0, &needed) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed > sizeof(statistics))
            hr = E_UNEXPECTED;
        else if (!GetTokenInformation(token, TokenStatistics, &statistics, sizeof(statistics), &needed))
            hr = E_UNEXPECTED;
        CloseHandle(token);
        if (FAILED(hr))
            return hr;
        return part->Format(L"%08X%08X", static_cast<unsigned>(statistics.AuthenticationId.HighPart),
                            static_cast<unsigned>(statistics.AuthenticationId.LowPart));
    }
    case 3: {
        wchar_t domain[256] = {};
        wchar_t user[256] = {};
        DWORD userLength = 256;
        const DWORD domainLength = ExpandEnvironmentStringsW(L"%USERDOMAIN%", domain, 256);
        if (domainLength == 0 || domainLength > 256)
            domain[0] = 0;
        if (!GetUserNameW(user, &userLength))
            user[0] = 0;
        return part->Format(L"%s\\%s", domain, user);
    }
    default:
        return E_INVALIDARG;
    }
}

}  // namespace

CxWinApp* CxGetApp()
{
    return dynamic_cast<CxWinApp*>(AfxGetApp());
}

CxWinApp::CxWinApp() : CWinApp(nullptr) {}

CxWinApp::~CxWinApp()
{
    if (m_instanceMutex != nullptr)
        CloseHandle(m_instanceMutex);
}

UINT CxWinApp::GetInstanceMessage()
{
    return g_instanceMessage.load();
}

HRESULT CxWinApp::MakeExclusionName(const GUID* guid, int scope, CxString* name)
{
    if (name == nullptr)
        return E_INVALIDARG;
    name->Empty();
    if (guid == nullptr)
        return E_ABORT;
    if (scope < 0 || scope > 3)
        return E_INVALIDARG;
    CxString title;
    HRESULT hr = ProgramTitle(&title);
    if (FAILED(hr))
        return hr;
    DWORD data4Low = 0;
    DWORD data4High = 0;
    std::memcpy(&data4Low, &guid->Data4[0], 4);
    std::memcpy(&data4High, &guid->Data4[4], 4);
    CxString text;
    hr = text.Format(L"%s-%08X-%04X-%04X-%08X%08X", static_cast<const wchar_t*>(title),
                     static_cast<unsigned>(guid->Data1), guid->Data2, guid->Data3, static_cast<unsigned>(data4Low),
                     static_cast<unsigned>(data4High));
    if (FAILED(hr) || text.IsEmpty())
        return FAILED(hr) ? hr : E_ABORT;
    if (scope != 0) {
        CxString part;
        hr = ScopePart(scope, &part);
        if (FAILED(hr))
            return hr;
        CxString whole;
        hr = whole.Format(L"%s-%s", static_cast<const wchar_t*>(text),
                          part.IsEmpty() ? L"" : static_cast<const wchar_t*>(part));
        if (FAILED(hr))
            return hr;
        text = whole;
    }
    // A backslash would be read as a namespace separator of the kernel object name.
    wchar_t* buffer = text.Detach();
    for (wchar_t* p = buffer; p != nullptr && *p != 0; ++p) {
        if (*p == L'\\')
            *p = L'/';
    }
    name->Attach(buffer);
    return name->IsEmpty() ? E_ABORT : S_OK;
}

BOOL CALLBACK CxWinApp::FindInstanceWindowProc(HWND hWnd, LPARAM lParam)
{
    const UINT message = GetInstanceMessage();
    DWORD_PTR answer = 0;
    if (message != 0 && SendMessageTimeoutW(hWnd, message, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 200, &answer) != 0 &&
        answer == message) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CxWinApp::CheckSingleInstance(const GUID* guid, int scope)
{
    CxString name;
    if (FAILED(MakeExclusionName(guid, scope, &name)) || name.IsEmpty())
        return FALSE;
    char* ansi = CxW2ANew(name);
    if (ansi == nullptr)
        return FALSE;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, ansi);
    const DWORD error = GetLastError();
    CxFree(ansi);
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
        if (mutex != nullptr)
            CloseHandle(mutex);
        HWND other = nullptr;
        EnumWindows(&CxWinApp::FindInstanceWindowProc, reinterpret_cast<LPARAM>(&other));
        if (other != nullptr) {
            SetForegroundWindow(other);
            if (IsIconic(other))
                ShowWindow(other, SW_RESTORE);
        }
        return FALSE;
    }
    // Held for the life of the application; the system releases it when the process ends.
    if (mutex != nullptr) {
        if (m_instanceMutex != nullptr)
            CloseHandle(m_instanceMutex);
        m_instanceMutex = mutex;
    }
    return TRUE;
}

BOOL CxWinApp::InitInstance()
{
    InitRegistry();
    CxString name;
    if (FAILED(MakeExclusionName(GetAppGuid(), 0, &name)))
        return FALSE;
    char* ansi = CxW2ANew(name);
    if (ansi == nullptr)
        return FALSE;
    const UINT message = RegisterWindowMessageA(ansi);
    CxFree(ansi);
    if (message == 0)
        return FALSE;
    g_instanceMessage.store(message);
    if (!CheckSingleInstance(GetAppGuid(), GetInstanceScope()))
        return FALSE;
    m_flagsLow |= CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS;
    Restore();
    AfxEnableControlContainer();
    Enable3dControlsStatic();
    return TRUE;
}

int CxWinApp::ExitInstance()
{
    Save();
    return CWinApp::ExitInstance();
}

HRESULT CxWinApp::GetPersistKeyPath(CxKeyPath& path)
{
    const wchar_t* components[] = {L"software", m_pszRegistryKey != nullptr ? m_pszRegistryKey : L"",
                                   m_pszProfileName != nullptr ? m_pszProfileName : L""};
    for (const wchar_t* component : components) {
        const HRESULT hr = CxKeyPathAdd(path, component);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT CxWinApp::GetPersistProps(CxPersistEntries& list)
{
    auto* context = new (std::nothrow) FlagMaskContext{&m_flagsLow, &m_flagsHigh, CXFL_NOTOOLTIPS, 0};
    if (context == nullptr)
        return E_OUTOFMEMORY;
    const CxPersistEntry entry{
        L"ToolTips",         L"%I64x", 1, nullptr, &GetMaskedFlags, context, nullptr, &SetMaskedFlags, context,
        &FreeFlagMaskContext};
    if (!list.Add(entry)) {
        delete context;
        return E_OUTOFMEMORY;
    }
    return CxPersistProps::GetPersistProps(list);
}
