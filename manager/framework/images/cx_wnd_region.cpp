#include "manager/framework/images/cx_skin_image.h"

#include "manager/framework/windows/cx_platform.h"

#include <cstring>

namespace {

// The menu bar of a top-level window, in window coordinates: the rows between the frame above the client
// area (caption and border, as the styles give them) and the client area, as wide as the client area;
// false for a window without one.
bool MenuBarRect(HWND hWnd, RECT* bar)
{
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hWnd, GWL_STYLE));
    if ((style & WS_CHILD) || GetMenu(hWnd) == nullptr)
        return false;
    RECT above{0, 0, 0, 0};
    RECT window{};
    RECT client{};
    POINT origin{0, 0};
    if (!AdjustWindowRectEx(&above, style, FALSE, static_cast<DWORD>(GetWindowLongW(hWnd, GWL_EXSTYLE))) ||
        !GetWindowRect(hWnd, &window) || !GetClientRect(hWnd, &client) || !ClientToScreen(hWnd, &origin))
        return false;
    const int left = origin.x - window.left;
    *bar = RECT{left, -above.top, left + client.right, origin.y - window.top};
    return !IsRectEmpty(bar);
}

}  // namespace

void CxWndRegion::OutlineMenuBar(HWND hWnd, const RECT& bar)
{
    HBITMAP background = m_pShape != nullptr ? m_pShape->GetBackground() : nullptr;
    BITMAP info{};
    if (background == nullptr || GetObjectW(background, sizeof(info), &info) == 0 || info.bmHeight <= 0)
        return;
    // The outline's colour: the frame's left edge halfway down.
    CxMemDC memory(hWnd);
    HGDIOBJ old = SelectObject(memory.GetSafeHdc(), background);
    if (old == nullptr || old == HGDI_ERROR)
        return;
    const COLORREF edge = GetPixel(memory.GetSafeHdc(), 0, info.bmHeight / 2);
    SelectObject(memory.GetSafeHdc(), old);
    HDC dc = GetWindowDC(hWnd);
    if (dc == nullptr || edge == CLR_INVALID) {
        if (dc != nullptr)
            ReleaseDC(hWnd, dc);
        return;
    }
    HBRUSH brush = CreateSolidBrush(edge);
    if (brush != nullptr) {
        const RECT lines[] = {{bar.left, bar.top, bar.right, bar.top + 1},
                              {bar.left, bar.top, bar.left + 1, bar.bottom},
                              {bar.right - 1, bar.top, bar.right, bar.bottom}};
        for (const RECT& line : lines)
            FillRect(dc, &line, brush);
        DeleteObject(brush);
    }
    ReleaseDC(hWnd, dc);
}

CxWndRegion::~CxWndRegion()
{
    if (m_hWaitingRegion != nullptr)
        DeleteObject(m_hWaitingRegion);
}

HRESULT CxWndRegion::SetRegion(HRGN region, HWND leaveOut)
{
    CxGdiOwner<HRGN> owned(region);
    if (m_flagsHigh & CXFH_NOREGIONCUT)
        return E_ACCESSDENIED;
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return E_INVALIDARG;
    if (IsIconic(hWnd)) {
        if (m_hWaitingRegion != nullptr)
            DeleteObject(m_hWaitingRegion);
        m_hWaitingRegion = owned.Release();
        m_flagsLow |= CXFL_REGIONPENDING;
        return S_OK;
    }
    if (owned.Get() != nullptr) {
        // The children's message carries a record holding the region they combine into.
        HRGN record = owned.Get();
        for (HWND child = GetWindow(hWnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            if (child != leaveOut)
                SendMessageW(child, CXM_ADDCHILDREGION, reinterpret_cast<WPARAM>(&record), RGN_OR);
        }
        HWND parent = GetParent(hWnd);
        if (parent != nullptr && IsWindow(parent) && (GetWindowLongW(hWnd, GWL_STYLE) & WS_POPUP) == 0) {
            const HRESULT hr = ShareWithParent(hWnd, owned.Get());
            if (FAILED(hr))
                return hr;
        }
    }
    // The frame image covers the client area; a menu bar above it stays part of the window, shown and
    // reachable by the mouse.
    RECT bar{};
    if (owned.Get() != nullptr && MenuBarRect(hWnd, &bar)) {
        CxGdiOwner<HRGN> strip(CreateRectRgnIndirect(&bar));
        if (strip.Get() == nullptr || CombineRgn(owned.Get(), owned.Get(), strip.Get(), RGN_OR) == ERROR)
            return E_OUTOFMEMORY;
    }
    if (!SetWindowRgn(hWnd, owned.Get(), TRUE))
        return E_UNEXPECTED;
    owned.Release();  // the system's now
    return S_OK;
}

HRESULT CxWndRegion::ShareWithParent(HWND hWnd, HRGN region)
{
    HWND parent = GetParent(hWnd);
    CxGdiOwner<HRGN> parentRegion;
    if (!SendMessageW(parent, CXM_GETREGION, reinterpret_cast<WPARAM>(parentRegion.Receive()), 1) ||
        parentRegion.Get() == nullptr) {
        *parentRegion.Receive() = CreateRectRgn(0, 0, 0, 0);
        if (parentRegion.Get() == nullptr)
            return E_UNEXPECTED;
        const int kind = GetWindowRgn(parent, parentRegion.Get());
        if (kind == ERROR)
            return E_ABORT;
    }
    CxGdiOwner<HRGN> own(CreateRectRgn(0, 0, 0, 0));
    if (own.Get() == nullptr || CombineRgn(own.Get(), region, nullptr, RGN_COPY) == ERROR)
        return E_UNEXPECTED;
    RECT window{}, parentWindow{};
    GetWindowRect(hWnd, &window);
    GetWindowRect(parent, &parentWindow);
    OffsetRgn(own.Get(), window.left - parentWindow.left, window.top - parentWindow.top);
    if (CombineRgn(parentRegion.Get(), parentRegion.Get(), own.Get(), RGN_OR) == ERROR)
        return E_UNEXPECTED;
    SendMessageW(parent, CXM_SETREGION, reinterpret_cast<WPARAM>(parentRegion.Release()),
                 reinterpret_cast<LPARAM>(hWnd));
    return S_OK;
}

BOOL CxWndRegion::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                       DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (CxChildRegion::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    switch (message) {
    case WM_SETFOCUS:
        if (m_flagsLow & CXFL_REGIONPENDING) {
            m_flagsLow &= ~CXFL_REGIONPENDING;
            HRGN waiting = m_hWaitingRegion;
            m_hWaitingRegion = nullptr;
            SetRegion(waiting, nullptr);
        }
        return FALSE;
    case CXM_SETREGION:
        if (wParam == 0) {
            lResult = FALSE;
            return TRUE;
        }
        SetRegion(reinterpret_cast<HRGN>(wParam), reinterpret_cast<HWND>(lParam));
        lResult = TRUE;
        return TRUE;
    case WM_SYSCOMMAND:
        if ((m_flagsLow & CXFL_SKINREGION) && ((wParam & 0xFFF0) == SC_SIZE || (wParam & 0xFFF0) == SC_MOVE)) {
            BOOL full = TRUE;
            SystemParametersInfoW(SPI_GETDRAGFULLWINDOWS, 0, &full, 0);
            if (!full) {
                SystemParametersInfoW(SPI_SETDRAGFULLWINDOWS, TRUE, nullptr, 0);
                m_flagsLow |= CXFL_FULLDRAGSWITCHED;
            }
        }
        return FALSE;
    case WM_EXITSIZEMOVE:
        if (m_flagsLow & CXFL_FULLDRAGSWITCHED) {
            SystemParametersInfoW(SPI_SETDRAGFULLWINDOWS, FALSE, nullptr, 0);
            m_flagsLow &= ~CXFL_FULLDRAGSWITCHED;
        }
        return FALSE;
    case WM_CREATE:
        if (m_flagsLow & CXFL_APPLYSHAPEONCREATE)
            SendMessageW(hWnd, CXM_APPLYSHAPE, 0, 0);
        return FALSE;
    case WM_NCPAINT: {
        if ((m_flagsHigh & CXFH_SYSTEMNCPAINT) || (m_flagsLow & CXFL_SKINREGION) == 0)
            return FALSE;
        // A shaped window has no frame to paint, only its menu bar if it has one: the system paints the
        // bar, and the frame's outline goes on around it.
        lResult = 0;
        RECT bar{};
        if (MenuBarRect(hWnd, &bar)) {
            lResult = DefWindowProcW(hWnd, WM_NCPAINT, wParam, lParam);
            OutlineMenuBar(hWnd, bar);
        }
        return TRUE;
    }
    case CXM_APPLYSHAPE:
        lResult = (m_pShape == nullptr || FAILED(m_pShape->ApplyImage())) ? 2 : 1;
        return TRUE;
    case CXM_GETREGION: {
        auto* out = reinterpret_cast<HRGN*>(wParam);
        lResult = FALSE;
        if (out != nullptr && m_pShape != nullptr && SUCCEEDED(m_pShape->GetRegion(out))) {
            if (lParam != 0) {
                CxFrameMetrics frame{};
                if (SUCCEEDED(CxGetFrameMetrics(hWnd, &frame)))
                    OffsetRgn(*out, frame.left, frame.top);
            }
            lResult = TRUE;
        }
        return TRUE;
    }
    case CXM_PAINTBKGND: {
        lResult = FALSE;
        HDC target = reinterpret_cast<HDC>(wParam);
        HBITMAP background = m_pShape != nullptr ? m_pShape->GetBackground() : nullptr;
        BITMAP info{};
        if (target == nullptr || background == nullptr || GetObjectW(background, sizeof(info), &info) == 0)
            return TRUE;
        int part[4] = {0, 0, info.bmWidth, info.bmHeight};
        if (lParam != 0)
            std::memcpy(part, reinterpret_cast<const int*>(lParam), sizeof(part));
        CxMemDC dc(hWnd);
        HGDIOBJ old = SelectObject(dc.GetSafeHdc(), background);
        if (old != nullptr && old != HGDI_ERROR) {
            lResult = BitBlt(target, 0, 0, part[2], part[3], dc.GetSafeHdc(), part[0], part[1], SRCCOPY);
            SelectObject(dc.GetSafeHdc(), old);
        }
        return TRUE;
    }
    default:
        return FALSE;
    }
}
