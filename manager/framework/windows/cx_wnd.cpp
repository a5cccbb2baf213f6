#include "manager/framework/windows/cx_wnd.h"

#include "manager/framework/windows/cx_string.h"

#include <atomic>
#include <cstdarg>
#include <cwchar>

namespace {

std::atomic<CxTraceHook> g_traceHook{nullptr};

}  // namespace

// ---- Helpers ----

HRESULT CxIsWindow(HWND hWnd)
{
    return hWnd != nullptr && IsWindow(hWnd) ? S_OK : E_INVALIDARG;
}

HRESULT CxPostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (FAILED(CxIsWindow(hWnd)))
        return E_INVALIDARG;
    if (!PostMessageW(hWnd, message, wParam, lParam)) {
        const DWORD error = GetLastError();
        if (FAILED(CxIsWindow(hWnd)) || error == ERROR_INVALID_WINDOW_HANDLE)
            return E_INVALIDARG;
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;  // a full queue, for example
    }
    return S_OK;
}

HRESULT CxSendMessage(BOOL post, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (post)
        return CxPostMessage(hWnd, message, wParam, lParam);
    if (FAILED(CxIsWindow(hWnd)))
        return E_INVALIDARG;
    return SendMessageW(hWnd, message, wParam, lParam) != 0 ? S_OK : S_FALSE;
}

HRESULT CxPostText(HWND hWnd, UINT message, const wchar_t* text, LPARAM lParam)
{
    wchar_t* copy = nullptr;
    HRESULT hr = CxStrDup(&copy, text);
    if (FAILED(hr))
        return hr;
    hr = CxPostMessage(hWnd, message, reinterpret_cast<WPARAM>(copy), lParam);
    if (FAILED(hr))
        CxFree(copy);
    return hr;
}

void CxFreePostedTexts(HWND hWnd)
{
    if (hWnd == nullptr)
        return;
    MSG msg;
    while (PeekMessageW(&msg, hWnd, CXM_SETTEXT, CXM_SETTEXT, PM_REMOVE | PM_NOYIELD))
        CxFree(reinterpret_cast<void*>(msg.wParam));
}

HRESULT CxEndDialog(CWnd* wnd, int result)
{
    auto* dialog = dynamic_cast<CDialog*>(wnd);
    if (dialog == nullptr || FAILED(CxIsWindow(dialog->m_hWnd)))
        return E_INVALIDARG;
    dialog->EndDialog(result);
    return S_OK;
}

// ---- Trace ----

CxTraceHook CxSetTraceHook(CxTraceHook hook)
{
    return g_traceHook.exchange(hook);
}

void CxTrace(const wchar_t* format, ...)
{
    CxTraceHook hook = g_traceHook.load();
    if (hook == nullptr || format == nullptr)
        return;
    wchar_t text[512] = {};
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, 511, format, args);
    va_end(args);
    hook(text);
}

// ---- Component maps ----

CxMapRun CxMapRunFor(DWORD mapId, bool skinComponent)
{
    switch (mapId) {
    case CX_MAPID_CHAIN:
        return CxMapRun::BaseAndOwn;
    case CX_MAPID_OWN:
        return CxMapRun::OwnOnly;
    case CX_MAPID_SKIN:
        return skinComponent ? CxMapRun::OwnOnly : CxMapRun::Nothing;
    default:
        CxTrace(L"Invalid message map ID (%i)\n", static_cast<int>(mapId));
        return CxMapRun::Nothing;
    }
}

// ---- CxWndLink ----

void CxWndLink::ReleaseCapture()
{
    ::ReleaseCapture();
}

HWND CxWndLink::GetWnd() const
{
    if (m_phWnd == nullptr || *m_phWnd == nullptr || !IsWindow(*m_phWnd))
        return nullptr;
    return *m_phWnd;
}

HRESULT CxWndLink::ModifyFlags(DWORD setLow, DWORD setHigh, DWORD clearLow, DWORD clearHigh, DWORD, DWORD notify,
                               DWORD post)
{
    m_flagsLow = (m_flagsLow | setLow) & ~clearLow;
    m_flagsHigh = (m_flagsHigh | setHigh) & ~clearHigh;
    if (!notify)
        return S_OK;
    return CxSendMessage(post, m_phWnd != nullptr ? *m_phWnd : nullptr, CXM_FLAGSCHANGED, 0, 0);
}

BOOL CxWndLink::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT& lResult, DWORD mapId)
{
    // The link has no base map: ids 0 and -1 both run its entries.
    if (CxMapRunFor(mapId) == CxMapRun::Nothing)
        return FALSE;
    BOOL handled = TRUE;
    LRESULT result = 0;
    switch (message) {
    case CXM_GETFLAGS:
        result = OnGetFlags(wParam, handled);
        break;
    case CXM_MODIFYFLAGS:
        result = OnModifyFlags(wParam, handled);
        break;
    case CXM_DRAGWINDOW:
        result = OnDragWindow(wParam, handled);
        break;
    default:
        return FALSE;
    }
    if (handled)
        lResult = result;
    return handled;
}

LRESULT CxWndLink::OnGetFlags(WPARAM wParam, BOOL&)
{
    auto* halves = reinterpret_cast<DWORD*>(wParam);
    if (halves == nullptr)
        return 0;
    halves[0] = m_flagsLow;
    halves[1] = m_flagsHigh;
    return 1;
}

LRESULT CxWndLink::OnModifyFlags(WPARAM wParam, BOOL&)
{
    const auto* p = reinterpret_cast<const CxModifyFlagsParams*>(wParam);
    if (p == nullptr)
        return 0;
    ModifyFlags(p->setLow, p->setHigh, p->clearLow, p->clearHigh, p->reserved, p->notify, p->post);
    return 1;
}

LRESULT CxWndLink::OnDragWindow(WPARAM wParam, BOOL& handled)
{
    auto target = reinterpret_cast<HWND>(wParam);
    if ((m_flagsHigh & CXFH_NODRAG) || FAILED(CxIsWindow(target))) {
        handled = FALSE;
        return 0;
    }
    ReleaseCapture();
    // The system then drags the window as if its caption had been pressed.
    SendMessageW(target, WM_NCLBUTTONDOWN, HTCAPTION, 0);
    return 1;
}

// ---- CxEndDialogLink ----

HRESULT CxEndDialogLink::PostEndDialog(int result)
{
    return CxPostMessage(GetWnd(), CXM_ENDDIALOG, 0, static_cast<LPARAM>(result));
}

BOOL CxEndDialogLink::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                           DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (run == CxMapRun::BaseAndOwn &&
        CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN))
        return TRUE;
    if (message != CXM_ENDDIALOG)
        return FALSE;
    BOOL handled = TRUE;
    const LRESULT result = OnEndDialog(message, wParam, lParam, handled);
    if (handled)
        lResult = result;
    return handled;
}

LRESULT CxEndDialogLink::OnEndDialog(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    try {
        CxEndDialog(CWnd::FromHandlePermanent(GetWnd()), static_cast<int>(lParam));
    } catch (...) {
        // Whatever ending raised stays here: this runs inside a window procedure.
    }
    return 1;
}
