#include "manager/controls/bars/cx_text_bar.h"

#include "manager/controls/bars/cx_bar_drawing.h"
#include "manager/framework/images/cx_memdc.h"
#include "manager/framework/windows/cx_platform.h"

#include <memory>

namespace {

// The width of a text in the DC's font, by the tabbed-text measure with no tab stops.
int MeasureText(HDC dc, const wchar_t* text)
{
    const int length = CxStrLen(text);
    if (length == 0)
        return 0;
    if (CxIsNtPlatform())
        return LOWORD(GetTabbedTextExtentW(dc, text, length, 0, nullptr));
    CxHeapPtr<char> ansi(CxW2ANew(text));
    if (!ansi)
        return 0;
    return LOWORD(GetTabbedTextExtentA(dc, ansi.get(), static_cast<int>(strlen(ansi.get())), 0, nullptr));
}

}  // namespace

CxTextBarCtrl::CxTextBarCtrl() : m_textColor(GetSysColor(COLOR_WINDOWTEXT))
{
    CxWndLink::Attach(&m_hWnd);
    ModifyFlags(0, CXFH_PARENTFONT, 0, 0);
}

CxTextBarCtrl::~CxTextBarCtrl()
{
    if (m_hWnd != nullptr)
        DestroyWindow();
}

BOOL CxTextBarCtrl::Create(HWND parent, const RECT& rect, UINT id, DWORD style)
{
    return CreateEx(0, L"STATIC", L"", style, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                    parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

void CxTextBarCtrl::Repaint()
{
    if (GetWnd() != nullptr)
        InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CxTextBarCtrl::StopScroll()
{
    if (m_timer != 0) {
        if (GetWnd() != nullptr)
            KillTimer(m_hWnd, m_timer);
        m_timer = 0;
    }
    ModifyFlags(0, 0, 0, CXFH_TEXTSCROLLS);
}

HRESULT CxTextBarCtrl::SetText(const wchar_t* text, BOOL scroll)
{
    StopScroll();
    HRESULT hr = m_text.Assign(text);
    if (FAILED(hr))
        return hr;
    m_offset = 0;
    m_textWidth = 0;
    if (scroll) {
        m_format &= ~static_cast<UINT>(DT_VCENTER | DT_END_ELLIPSIS);
        if (GetWnd() == nullptr) {
            ModifyFlags(0, CXFH_SCROLLPENDING, 0, 0);
            return S_FALSE;
        }
        hr = StartScroll();
    }
    Repaint();
    return hr;
}

HRESULT CxTextBarCtrl::SetOverrideText(const wchar_t* text)
{
    const HRESULT hr = m_override.Assign(text);
    Repaint();
    return hr;
}

HRESULT CxTextBarCtrl::StartScroll()
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return E_UNEXPECTED;
    // Measured with the font the text is drawn with.
    HFONT font = GetFont();
    if (font == nullptr)
        font = reinterpret_cast<HFONT>(::SendMessageW(hWnd, WM_GETFONT, 0, 0));
    {
        CxWindowDC screen(hWnd);
        HDC dc = CreateCompatibleDC(screen.Get());
        if (dc == nullptr)
            return E_FAIL;
        {
            CxDcSelection selected(dc, font);
            m_textWidth = MeasureText(dc, GetShownText());
        }
        DeleteDC(dc);
    }
    ModifyFlags(0, CXFH_TEXTSCROLLS, 0, 0);
    if (m_timer != 0)
        return E_FAIL;
    if (m_textWidth == 0)
        return S_FALSE;
    m_timer = SetTimer(hWnd, CX_TEXTBAR_TIMER, CX_TEXTBAR_PERIOD_MS, nullptr);
    return m_timer != 0 ? S_OK : E_OUTOFMEMORY;
}

void CxTextBarCtrl::OnTimerTick()
{
    KillTimer(m_hWnd, CX_TEXTBAR_TIMER);
    m_timer = 0;
    if (!(m_flagsHigh & CXFH_TEXTSCROLLS))
        return;  // a tick left over from a text that no longer scrolls
    m_offset -= CX_TEXTBAR_STEP;
    if (m_offset <= -m_textWidth)
        m_offset = CX_TEXTBAR_GAP;
    Repaint();
    m_timer = SetTimer(m_hWnd, CX_TEXTBAR_TIMER, CX_TEXTBAR_PERIOD_MS, nullptr);
}

HRESULT CxTextBarCtrl::FitFont()
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr || GetFont() == nullptr)
        return E_UNEXPECTED;
    RECT client{};
    GetClientRect(hWnd, &client);
    // A bar of 2 pixels or less has no room for any text: the font stays as it is.
    const int available = client.bottom - client.top - 2;
    if (available <= 0)
        return CX_E_NOTREGISTERED;
    TEXTMETRICW metrics{};
    {
        CxWindowDC dc(hWnd);
        if (dc.Get() == nullptr)
            return E_UNEXPECTED;
        SetMapMode(dc.Get(), MM_TEXT);
        CxDcSelection selected(dc.Get(), GetFont());
        if (!GetTextMetricsW(dc.Get(), &metrics))
            return E_UNEXPECTED;
    }
    if (metrics.tmHeight - metrics.tmInternalLeading <= available)
        return S_OK;
    LOGFONTW logFont{};
    if (GetObjectW(GetFont(), sizeof(logFont), &logFont) != sizeof(logFont))
        return E_INVALIDARG;
    logFont.lfHeight = -available;
    HFONT fitted = CreateFontIndirectW(&logFont);
    if (fitted == nullptr)
        return E_FAIL;
    DeleteObject(m_hFont);
    m_hFont = fitted;
    return S_OK;
}

HRESULT CxTextBarCtrl::SetFont(HFONT font)
{
    HRESULT hr = CreateFont(font);
    if (FAILED(hr))
        return hr;
    hr = FitFont();
    Repaint();
    return hr;
}

HRESULT CxTextBarCtrl::PlaceUnderBuddy()
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr || m_hBuddy == nullptr || !IsWindow(m_hBuddy))
        return S_FALSE;
    HWND buddyParent = GetParent(m_hBuddy);
    if (buddyParent == nullptr)
        return E_FAIL;
    RECT buddy{};
    GetWindowRect(m_hBuddy, &buddy);
    MapWindowPoints(HWND_DESKTOP, buddyParent, reinterpret_cast<POINT*>(&buddy), 2);
    CxSkinPosition margins{0, 0, 0, 18, TRUE};
    if (GetPositions().GetCount() > 0 && GetPositions().ElementAt(0).set)
        margins = GetPositions().ElementAt(0);
    const int x = buddy.left + margins.x;
    const int y = buddy.bottom + 1 + margins.y;
    const int w = (buddy.right - buddy.left) + margins.w;
    const int h = margins.h;
    return ::SetWindowPos(hWnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOCOPYBITS) ? S_OK : E_UNEXPECTED;
}

HRESULT CxTextBarCtrl::Paint(HDC target)
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr || target == nullptr)
        return E_INVALIDARG;
    RECT client{};
    GetClientRect(hWnd, &client);
    const SIZE size{client.right, client.bottom};
    if (size.cx <= 0 || size.cy <= 0)
        return S_FALSE;
    CxMemDC memory(hWnd);
    // Where the parent paints no skin background (no skin yet), the bar shows the system's face, on
    // which the system's text colour reads.
    HRESULT hr = memory.CreateDIB(size, 32, GetSysColor(COLOR_3DFACE));
    if (FAILED(hr))
        return hr;
    HDC dc = memory.GetSafeHdc();
    HWND parent = GetParent(hWnd);
    if (parent != nullptr) {
        RECT where{};
        GetWindowRect(hWnd, &where);
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&where), 2);
        int part[4] = {where.left, where.top, size.cx, size.cy};
        ::SendMessageW(parent, CXM_PAINTBKGND, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(part));
    }
    const wchar_t* text = GetShownText();
    if (CxStrLen(text) != 0) {
        CxDcSelection selected(dc, GetFont());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, m_textColor);
        const bool scrolling = (m_flagsHigh & CXFH_TEXTSCROLLS) != 0;
        const int step = m_textWidth + CX_TEXTBAR_GAP;
        for (int left = m_offset; left < size.cx; left += step) {
            RECT rect{left, -1, size.cx, size.cy};
            CxDrawTextLine(dc, text, rect, m_format | DT_NOPREFIX);
            if (!scrolling || step <= 0)
                break;
        }
    }
    return BitBlt(target, 0, 0, size.cx, size.cy, dc, 0, 0, SRCCOPY) ? S_OK : E_FAIL;
}

HRESULT CxTextBarCtrl::GetSkinProps(CxSkinPropEntries& list)
{
    const wchar_t* section = GetSectionName();
    if (section != nullptr && *section != L'\0') {
        if (!list.Add(CxSkinPropEntry{section, L"pos", 1, GetWnd(), CxSkinParsePos}) ||
            !list.Add(CxSkinPropEntry{section, L"frgnd", 1, GetWnd(), CxSkinParseColor}))
            return E_OUTOFMEMORY;
    }
    return CxSkinProps::GetSkinProps(list);
}

HRESULT CxTextBarCtrl::ApplySection(const wchar_t* skinFile)
{
    ForgetPositions();
    const wchar_t* section = GetSectionName();
    if (section == nullptr || *section == L'\0')
        return S_FALSE;  // the bar keeps its template look
    CxSkinColors colours;
    void* targets[] = {&GetPositions(), &colours};
    const HRESULT hr =
        CxIniReadSection(GetSkinRecords(), section, skinFile, targets, 2, 0, nullptr, GetPackData(GetWnd()));
    ZeroOffsets();
    ModifyFlags(0, CXFH_SKINCOLOURS, 0, 0);
    const bool coloured = colours.GetCount() > 0 && colours.ElementAt(0).set;
    m_textColor = coloured ? colours.ElementAt(0).color : GetSysColor(COLOR_WINDOWTEXT);
    HRESULT placed = hr;
    if (SUCCEEDED(hr))
        placed = (m_flagsHigh & CXFH_UNDERBUDDY) ? PlaceUnderBuddy() : Apply(TRUE);
    Repaint();
    return placed;
}

HRESULT CxTextBarCtrl::LoadSkinOnce()
{
    if (m_flagsLow & CXFL_SKINLOADED)
        return S_FALSE;
    HWND hWnd = GetWnd();
    if (hWnd != nullptr && (m_flagsHigh & CXFH_PARENTFONT)) {
        SetFont(CxParentFont(hWnd));
        if (m_flagsHigh & CXFH_SCROLLPENDING) {
            ModifyFlags(0, 0, 0, CXFH_SCROLLPENDING);
            StartScroll();
        }
    }
    return CxSkinCtrl::LoadSkinOnce();
}

BOOL CxTextBarCtrl::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    switch (message) {
    case WM_ERASEBKGND:
        lResult = TRUE;
        return TRUE;
    case WM_NCPAINT:
        lResult = 0;
        return TRUE;
    case WM_SYSCOLORCHANGE:
        if (!(m_flagsHigh & CXFH_SKINCOLOURS)) {
            m_textColor = GetSysColor(COLOR_WINDOWTEXT);
            Repaint();
        }
        break;
    case WM_PAINT:
        CxPaintUpdate(hWnd, [this](HDC dc) { Paint(dc); });
        lResult = 0;
        return TRUE;
    case WM_TIMER:
        if (wParam != CX_TEXTBAR_TIMER)
            break;
        OnTimerTick();
        lResult = 0;
        return TRUE;
    case WM_DESTROY:
        StopScroll();
        break;
    default:
        break;
    }
    if (CxStaticLayerT<CWnd>::PreMap(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    return CxSkinCtrl::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN);
}
