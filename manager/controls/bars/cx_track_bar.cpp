#include "manager/controls/bars/cx_track_bar.h"

#include "manager/controls/bars/cx_bar_drawing.h"

#include <commctrl.h>

namespace {

// Page up, page down, end, home and the four arrows: the keys that would move the thumb.
bool IsMovingKey(WPARAM key)
{
    return key >= VK_PRIOR && key <= VK_DOWN;
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    if (brush == nullptr)
        return;
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

}  // namespace

// ---- CxTrackBarCtrl ----

BOOL CxTrackBarCtrl::Create(HWND parent, const RECT& rect, UINT id, DWORD style)
{
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    return CreateEx(0, TRACKBAR_CLASSW, L"", style, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

// ---- CxSkinTrackBarCtrl ----

CxSkinTrackBarCtrl::CxSkinTrackBarCtrl()
{
    m_flagsLow |= CXFL_PRESSABLE;
}

int CxSkinTrackBarCtrl::GetStateIndex()
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return 1;
    if (!IsWindowEnabled(hWnd))
        return 0;
    if (m_flagsLow & CXFL_MOUSEPRESSED)
        return 3;
    if (m_flagsLow & CXFL_CAPTURED)
        return 2;
    return 1;
}

void CxSkinTrackBarCtrl::SetColours(COLORREF background, COLORREF channel, COLORREF thumb)
{
    m_background = background;
    m_channel = channel;
    m_thumb = thumb;
    if (HWND hWnd = GetWnd())
        InvalidateRect(hWnd, nullptr, FALSE);
}

HRESULT CxSkinTrackBarCtrl::GetSkinProps(CxSkinPropEntries& list)
{
    const wchar_t* section = GetSectionName();
    if (section != nullptr && *section != L'\0') {
        HWND owner = GetWnd();
        if (!list.Add(CxSkinPropEntry{section, L"img", GetImageCount(), owner, CxSkinParseImage}) ||
            !list.Add(CxSkinPropEntry{section, L"pos", 1, owner, CxSkinParseSize}) ||
            !list.Add(CxSkinPropEntry{section, L"thumb", GetThumbImageCount(), owner, CxSkinParseImage}))
            return E_OUTOFMEMORY;
    }
    return CxSkinProps::GetSkinProps(list);
}

HRESULT CxSkinTrackBarCtrl::ApplySkinFile(const wchar_t* skinFile)
{
    // Every key is read again: the images, the point and the thumb images start empty.
    Invalidate();
    GetPoints().RemoveAll();
    m_thumbImages.Reset();
    const wchar_t* section = GetSectionName();
    if (section == nullptr || *section == L'\0')
        return S_FALSE;  // the slider keeps its template look
    if (GetSkinRecords().GetCount() == 0) {
        CxSkinPropEntries list;
        const HRESULT hr = GetSkinProps(list);
        if (FAILED(hr))
            return hr;
    }
    void* targets[] = {&GetImageList(), &GetPoints(), &m_thumbImages};
    const HRESULT hr = CxIniReadSection(GetSkinRecords(), section, skinFile, targets, 3, 0, nullptr);
    ZeroOffsets();
    const HRESULT shown = UpdateLook();
    return FAILED(hr) ? hr : shown;
}

HRESULT CxSkinTrackBarCtrl::LoadSkinOnce()
{
    UseHandCursor();
    return CxSkinImageCtrl::LoadSkinOnce();
}

HRESULT CxSkinTrackBarCtrl::Paint(HDC dc)
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr || dc == nullptr)
        return E_INVALIDARG;
    RECT client{};
    GetClientRect(hWnd, &client);
    RECT channel{};
    RECT thumb{};
    ::SendMessageW(hWnd, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    ::SendMessageW(hWnd, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    FillSolid(dc, client, m_background);
    FillSolid(dc, channel, m_channel);
    FillSolid(dc, thumb, m_thumb);
    return S_OK;
}

BOOL CxSkinTrackBarCtrl::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    switch (message) {
    case TBM_SETPOS:
        if (!(m_flagsLow & CXFL_MOUSEPRESSED))
            break;
        lResult = TRUE;
        return TRUE;
    case WM_CAPTURECHANGED:
        // The system's slider gives its capture back before it tells the owner that the thumb was let
        // go (NM_RELEASEDCAPTURE), and the owner may set the position there: the press ends here.
        if (reinterpret_cast<HWND>(lParam) != hWnd && (m_flagsLow & CXFL_MOUSEPRESSED))
            CxMouseCapture::Release(Announces(), FALSE);
        break;
    case WM_KEYDOWN:
    case WM_KEYUP:
        if (!IsMovingKey(wParam))
            break;
        lResult = 0;
        return TRUE;
    case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(hWnd, &client);
        FillSolid(reinterpret_cast<HDC>(wParam), client, kBackground);
        lResult = TRUE;
        return TRUE;
    }
    case WM_PAINT:
        CxPaintUpdate(hWnd, [this](HDC dc) { Paint(dc); });
        lResult = 0;
        return TRUE;
    default:
        break;
    }
    if (CxSkinImageCtrl::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN))
        return TRUE;
    return CxTrackBarCtrl::PreMap(hWnd, message, wParam, lParam, lResult, mapId);
}
