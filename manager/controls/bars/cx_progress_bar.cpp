#include "manager/controls/bars/cx_progress_bar.h"

#include "manager/controls/bars/cx_bar_drawing.h"
#include "manager/framework/images/cx_memdc.h"
#include "manager/framework/windows/cx_platform.h"

#include <commctrl.h>

namespace {

constexpr UINT kTextFormat = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;

template <class Function>
Function Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The system colour a record takes when the skin sets none.
COLORREF SystemColour(int which)
{
    switch (which) {
    case CxProgressBarCtrl::kText:
        return GetSysColor(COLOR_WINDOWTEXT);
    case CxProgressBarCtrl::kStatusStart:
        // Gradient captions came with Windows 98 and 2000.
        return GetSysColor((CxGetPlatform() & 2) ? COLOR_GRADIENTINACTIVECAPTION : COLOR_INACTIVECAPTION);
    case CxProgressBarCtrl::kStatusEnd:
        return GetSysColor(COLOR_ACTIVECAPTION);
    default:
        return GetSysColor(COLOR_WINDOW);
    }
}

// The element of a parsed colour key, unset when the key gave fewer.
CxSkinColor Parsed(CxSkinColors& colours, int index)
{
    return colours.IsValidIndex(index) ? colours.ElementAt(index) : CxSkinColor{RGB(255, 255, 255), FALSE};
}

TRIVERTEX Vertex(LONG x, LONG y, COLORREF colour)
{
    return TRIVERTEX{x, y, static_cast<COLOR16>(GetRValue(colour) << 8), static_cast<COLOR16>(GetGValue(colour) << 8),
                     static_cast<COLOR16>(GetBValue(colour) << 8), 0};
}

}  // namespace

const CxMsimg32Functions& CxSystemMsimg32Functions()
{
    static const CxMsimg32Functions functions = [] {
        CxMsimg32Functions found{nullptr, nullptr};
        HMODULE module = CxIsNtPlatform() ? LoadLibraryW(L"msimg32.dll") : LoadLibraryA("msimg32.dll");
        if (module != nullptr) {
            found.alphaBlend = Resolve<CxAlphaBlendFunction>(module, "AlphaBlend");
            found.gradientFill = Resolve<CxGradientFillFunction>(module, "GradientFill");
        }
        return found;
    }();
    return functions;
}

int CxProgressBarLength(int position, int lower, int upper, int innerLength)
{
    const long long range = static_cast<long long>(upper) - lower;
    const long long reached = static_cast<long long>(position) - lower;
    if (innerLength <= 0 || range <= 0 || reached <= 0)
        return 0;
    // Past the upper bound the bar is full; capping the percent keeps the product in range.
    long long percent = reached * 100 / range;
    if (percent > 100)
        percent = 100;
    const long long product = percent * innerLength;
    long long length = product / 100;
    if (product % 100 >= 50)
        ++length;
    return static_cast<int>(length < innerLength ? length : innerLength);
}

CxProgressBarCtrl::CxProgressBarCtrl()
{
    CxWndLink::Attach(&m_hWnd);
    ModifyFlags(0, CXFH_PARENTFONT, 0, 0);
    for (CxSkinColor& colour : m_colours)
        colour = CxSkinColor{RGB(255, 255, 255), FALSE};
    SetSystemColours(false);
}

CxProgressBarCtrl::~CxProgressBarCtrl()
{
    if (m_hWnd != nullptr)
        DestroyWindow();
}

BOOL CxProgressBarCtrl::Create(HWND parent, const RECT& rect, UINT id, DWORD style)
{
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    return CreateEx(0, PROGRESS_CLASSW, L"", style, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

void CxProgressBarCtrl::Repaint(bool now)
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return;
    InvalidateRect(hWnd, nullptr, FALSE);
    if (now)
        ::UpdateWindow(hWnd);
}

HRESULT CxProgressBarCtrl::SetText(const wchar_t* text)
{
    const HRESULT hr = m_text.Assign(text);
    Repaint(false);
    return hr;
}

void CxProgressBarCtrl::SetSystemColours(bool forced)
{
    for (int i = 0; i < kColourCount; ++i) {
        if (forced || !m_colours[i].set)
            m_colours[i] = CxSkinColor{SystemColour(i), FALSE};
    }
}

const CxMsimg32Functions& CxProgressBarCtrl::Graphics() const
{
    return m_graphics != nullptr ? *m_graphics : CxSystemMsimg32Functions();
}

void CxProgressBarCtrl::FixGraphicsFlags()
{
    if (m_flagsHigh & (CXFH_PROGRESS_BITBLT | CXFH_PROGRESS_SOLID))
        return;
    const CxMsimg32Functions& graphics = Graphics();
    DWORD set = 0;
    if (graphics.alphaBlend == nullptr)
        set |= CXFH_PROGRESS_BITBLT;
    if (graphics.gradientFill == nullptr)
        set |= CXFH_PROGRESS_SOLID;
    ModifyFlags(0, set, 0, 0);
}

void CxProgressBarCtrl::FillBar(HDC dc, const RECT& bar, bool vertical) const
{
    const COLORREF start = m_colours[kStatusStart].color;
    const CxGradientFillFunction gradientFill = Graphics().gradientFill;
    if (!(m_flagsHigh & CXFH_PROGRESS_SOLID) && gradientFill != nullptr) {
        // The first colour at the bar's start: its left end, or its bottom when it grows upwards.
        const COLORREF end = m_colours[kStatusEnd].color;
        TRIVERTEX vertices[2] = {Vertex(bar.left, bar.top, vertical ? end : start),
                                 Vertex(bar.right, bar.bottom, vertical ? start : end)};
        GRADIENT_RECT rect{0, 1};
        if (gradientFill(dc, vertices, 2, &rect, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H))
            return;
    }
    HBRUSH brush = CreateSolidBrush(start);
    if (brush == nullptr)
        return;
    FillRect(dc, &bar, brush);
    DeleteObject(brush);
}

HRESULT CxProgressBarCtrl::Paint(HDC target)
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr || target == nullptr)
        return E_INVALIDARG;
    FixGraphicsFlags();
    RECT client{};
    GetClientRect(hWnd, &client);
    const SIZE size{client.right, client.bottom};
    if (size.cx <= 0 || size.cy <= 0)
        return S_FALSE;
    CxMemDC memory(hWnd);
    HRESULT hr = memory.CreateDIB(size, 32, m_colours[kBackground].color);
    if (FAILED(hr))
        return hr;
    HDC dc = memory.GetSafeHdc();

    const int margin = (m_flagsHigh & CXFH_PROGRESS_NOMARGIN) ? 0 : CX_PROGRESS_MARGIN;
    const RECT inner{margin, margin, size.cx - margin, size.cy - margin};
    const bool vertical = (GetWindowLongW(hWnd, GWL_STYLE) & PBS_VERTICAL) != 0;
    PBRANGE range{};
    ::SendMessageW(hWnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const int position = static_cast<int>(::SendMessageW(hWnd, PBM_GETPOS, 0, 0));
    const int length = CxProgressBarLength(position, range.iLow, range.iHigh,
                                           vertical ? inner.bottom - inner.top : inner.right - inner.left);

    HPEN pen = CreatePen(PS_SOLID, 1, m_colours[kFrame].color);
    if (pen != nullptr) {
        {
            CxDcSelection selected(dc, pen);
            const POINT outline[5] = {{0, 0}, {size.cx - 1, 0}, {size.cx - 1, size.cy - 1}, {0, size.cy - 1}, {0, 0}};
            Polyline(dc, outline, 5);
        }
        DeleteObject(pen);
    }
    if (length > 0) {
        const RECT bar = vertical ? RECT{inner.left, inner.bottom - length, inner.right, inner.bottom}
                                  : RECT{inner.left, inner.top, inner.left + length, inner.bottom};
        FillBar(dc, bar, vertical);
    }
    if (!m_text.IsEmpty()) {
        CxDcSelection selected(dc, GetFont());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, m_colours[kText].color);
        RECT where{inner.left, -1, inner.right, size.cy};
        CxDrawTextLine(dc, m_text, where, kTextFormat);
    }

    const CxAlphaBlendFunction alphaBlend = Graphics().alphaBlend;
    BOOL copied = FALSE;
    if (!(m_flagsHigh & CXFH_PROGRESS_BITBLT) && alphaBlend != nullptr)
        copied = alphaBlend(target, 0, 0, size.cx, size.cy, dc, 0, 0, size.cx, size.cy, m_blend);
    if (!copied)
        copied = BitBlt(target, 0, 0, size.cx, size.cy, dc, 0, 0, SRCCOPY);
    return copied ? S_OK : E_FAIL;
}

HRESULT CxProgressBarCtrl::GetSkinProps(CxSkinPropEntries& list)
{
    const wchar_t* section = GetSectionName();
    if (section != nullptr && *section != L'\0') {
        HWND owner = GetWnd();
        if (!list.Add(CxSkinPropEntry{section, L"pos", 1, owner, CxSkinParsePos}) ||
            !list.Add(CxSkinPropEntry{section, L"frgnd", 1, owner, CxSkinParseColor}) ||
            !list.Add(CxSkinPropEntry{section, L"bkgnd", 1, owner, CxSkinParseColor}) ||
            !list.Add(CxSkinPropEntry{section, L"status", 2, owner, CxSkinParseColor}) ||
            !list.Add(CxSkinPropEntry{section, L"frame", 1, owner, CxSkinParseColor}))
            return E_OUTOFMEMORY;
    }
    return CxSkinProps::GetSkinProps(list);
}

HRESULT CxProgressBarCtrl::ApplySection(const wchar_t* skinFile)
{
    ForgetPositions();
    const wchar_t* section = GetSectionName();
    if (section == nullptr || *section == L'\0')
        return S_FALSE;  // the bar keeps its template look
    if (GetSkinRecords().GetCount() == 0) {
        CxSkinPropEntries list;
        const HRESULT registered = GetSkinProps(list);
        if (FAILED(registered))
            return registered;
    }
    CxSkinColors text, background, status, frame;
    void* targets[] = {&GetPositions(), &text, &background, &status, &frame};
    const HRESULT hr = CxIniReadSection(GetSkinRecords(), section, skinFile, targets, 5, 0, nullptr);
    ZeroOffsets();
    ModifyFlags(0, CXFH_SKINCOLOURS, 0, 0);
    m_colours[kText] = Parsed(text, 0);
    m_colours[kBackground] = Parsed(background, 0);
    m_colours[kStatusStart] = Parsed(status, 0);
    m_colours[kStatusEnd] = Parsed(status, 1);
    m_colours[kFrame] = Parsed(frame, 0);
    SetSystemColours(false);
    HRESULT placed = hr;
    if (SUCCEEDED(hr) && !(m_flagsHigh & CXFH_PROGRESS_NOMOVE))
        placed = Apply(TRUE);
    // A move repaints only when the bar was elsewhere; new colours must show in any case.
    Repaint(true);
    return placed;
}

HRESULT CxProgressBarCtrl::LoadSkinOnce()
{
    if (m_flagsLow & CXFL_SKINLOADED)
        return S_FALSE;
    HWND hWnd = GetWnd();
    if (hWnd != nullptr && (m_flagsHigh & CXFH_PARENTFONT))
        CreateFont(CxParentFont(hWnd));
    return CxSkinCtrl::LoadSkinOnce();
}

BOOL CxProgressBarCtrl::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
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
            SetSystemColours(true);
            Repaint(true);
        }
        break;
    case WM_PAINT:
        CxPaintUpdate(hWnd, [this](HDC dc) { Paint(dc); });
        lResult = 0;
        return TRUE;
    default:
        break;
    }
    if (CxStaticLayerT<CWnd>::PreMap(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    return CxSkinCtrl::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN);
}
