#include "manager/controls/buttons/cx_button.h"

// ---- CxMouseCapture ----

HRESULT CxMouseCapture::Capture(BOOL notify, BOOL setCapture)
{
    if (m_flagsLow & CXFL_CAPTURED)
        return E_FAIL;
    HWND hWnd = GetWnd();
    if (setCapture && hWnd != nullptr)
        SetCapture(hWnd);
    ModifyFlags(CXFL_CAPTURED, 0, 0, 0, 0, notify);
    OnCaptureChanged(TRUE);
    return S_OK;
}

HRESULT CxMouseCapture::Release(BOOL notify, BOOL releaseCapture)
{
    m_flagsLow &= ~CXFL_MOUSEPRESSED;
    if (!(m_flagsLow & CXFL_CAPTURED))
        return E_FAIL;
    HWND hWnd = GetWnd();
    // Only a capture this window holds is given back; another window's stays.
    if (releaseCapture && hWnd != nullptr && GetCapture() == hWnd)
        ::ReleaseCapture();
    ModifyFlags(0, 0, CXFL_CAPTURED, 0, 0, notify);
    OnCaptureChanged(FALSE);
    return S_OK;
}

HRESULT CxMouseCapture::Track(BOOL notify, BOOL capture)
{
    HWND hWnd = GetWnd();
    if (hWnd != nullptr && CxIsMouseOver(hWnd))
        return Capture(notify, capture);
    return Release(notify, capture);
}

void CxMouseCapture::ReleaseCapture()
{
    Release(FALSE, TRUE);
}

void CxMouseCapture::OnCaptureChanged(BOOL)
{
}

BOOL CxMouseCapture::ProcessPressMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_LBUTTONUP:
        if (m_flagsLow & CXFL_PRESSABLE)
            Release(Announces(), TRUE);
        break;
    case WM_KILLFOCUS:
    case WM_CANCELMODE:
        Release(Announces(), TRUE);
        break;
    case WM_NCACTIVATE:
        if (wParam)
            Track(Announces(), TRUE);
        else
            Release(Announces(), TRUE);
        break;
    case WM_ENABLE: {
        const HRESULT hr = wParam ? Track(Announces(), TRUE) : Release(Announces(), TRUE);
        if (FAILED(hr) && IsWindow(hWnd))
            SendMessageW(hWnd, CXM_FLAGSCHANGED, 0, 0);
        break;
    }
    default:
        break;
    }
    return FALSE;
}

// ---- CxMouseHover ----

HRESULT CxMouseHover::StartTimer()
{
    HWND hWnd = GetWnd();
    if (m_hoverTimer != 0 || hWnd == nullptr)
        return E_ACCESSDENIED;
    m_hoverTimer = SetTimer(hWnd, CX_HOVER_TIMER, CX_HOVER_PERIOD_MS, nullptr);
    return m_hoverTimer != 0 ? S_OK : E_OUTOFMEMORY;
}

void CxMouseHover::StopTimer(HWND hWnd)
{
    if (m_hoverTimer != 0 && IsWindow(hWnd))
        KillTimer(hWnd, m_hoverTimer);
    m_hoverTimer = 0;
}

BOOL CxMouseHover::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                        DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (run == CxMapRun::BaseAndOwn && CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    switch (message) {
    case WM_MOUSEMOVE:
        if (wParam & MK_LBUTTON) {
            if (m_hoverTimer != 0) {
                StopTimer(hWnd);
                m_flagsLow &= ~CXFL_HOVER;
            }
        } else {
            Track(Announces(), TRUE);
            if (!(m_flagsLow & CXFL_HOVER)) {
                m_flagsLow |= CXFL_HOVER;
                StartTimer();
            }
        }
        return FALSE;
    case WM_TIMER:
        if (wParam != CX_HOVER_TIMER)
            return FALSE;
        StopTimer(hWnd);
        if (CxIsMouseOver(hWnd)) {
            Capture(Announces(), TRUE);
            StartTimer();
        } else {
            Release(Announces(), TRUE);
            m_flagsLow &= ~CXFL_HOVER;
        }
        lResult = 0;
        return TRUE;
    case WM_LBUTTONDOWN:
        if (m_flagsLow & CXFL_PRESSABLE) {
            Capture(FALSE, TRUE);
            ModifyFlags(CXFL_MOUSEPRESSED, 0, 0, 0, 0, Announces());
        }
        return FALSE;
    case WM_DESTROY:
        if (m_flagsLow & CXFL_HOVER)
            StopTimer(hWnd);
        return FALSE;
    default:
        return FALSE;
    }
}

// ---- CxHoverText ----

HRESULT CxHoverText::ShowHoverText(BOOL show)
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return E_ACCESSDENIED;
    HWND parent = GetParent(hWnd);
    return CxPostHoverText(this, parent != nullptr ? parent : hWnd, show ? GetToolTip() : nullptr,
                           static_cast<LPARAM>(GetToolTipFlags()));
}

void CxHoverText::OnCaptureChanged(BOOL captured)
{
    ShowHoverText(captured);
}

// ---- CxButton ----

CxButton::CxButton()
{
    CxWndLink::Attach(&m_hWnd);
}

CxButton::~CxButton()
{
    if (m_hWnd != nullptr)
        DestroyWindow();
}

BOOL CxButton::Create(HWND parent, const RECT& rect, UINT id, DWORD style, const wchar_t* text)
{
    return CreateEx(0, L"button", text, style, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                    parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

HRESULT CxButton::LoadButtonSkin()
{
    return UseHandCursor();
}

BOOL CxButton::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    if (message == WM_CREATE || message == CXM_INITCONTROL)
        CxButton::LoadButtonSkin();
    if (message == CXM_INITCONTROL) {
        lResult = 1;
        return TRUE;
    }
    if (CxMouseHover::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN))
        return TRUE;
    if (CxToolTipText::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN))
        return TRUE;
    if (CxCursor::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN))
        return TRUE;
    return CxChildRegion::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN);
}

BOOL CxButton::PostMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT&, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    return ProcessPressMessage(hWnd, message, wParam, lParam);
}
