#include "manager/main/panes/pane_colours.h"

#include "manager/framework/skin/cx_skin_file.h"

namespace {

CxSkinColor Parsed(CxSkinColors& colours, int index)
{
    return colours.IsValidIndex(index) ? colours.ElementAt(index) : CxSkinColor{RGB(255, 255, 255), FALSE};
}

}  // namespace

CPaneColours::CPaneColours()
{
    for (int state = 0; state < kStateCount; ++state) {
        m_text[state] = CxSkinColor{RGB(255, 255, 255), FALSE};
        m_back[state] = CxSkinColor{RGB(255, 255, 255), FALSE};
    }
    SetSystemColours();
}

void CPaneColours::SetSystemColours()
{
    static constexpr int kBackground[kStateCount] = {COLOR_WINDOW, COLOR_INACTIVECAPTION, COLOR_ACTIVECAPTION};
    for (int state = 0; state < kStateCount; ++state) {
        if (!m_text[state].set)
            m_text[state] = CxSkinColor{GetSysColor(COLOR_WINDOWTEXT), FALSE};
        if (!m_back[state].set)
            m_back[state] = CxSkinColor{GetSysColor(kBackground[state]), FALSE};
    }
}

HRESULT CPaneColours::GetSkinProps(CxSkinCtrl& pane, CxSkinPropEntries& list)
{
    const wchar_t* section = pane.GetSectionName();
    if (section != nullptr && *section != L'\0') {
        HWND owner = pane.GetWnd();
        if (!list.Add(CxSkinPropEntry{section, L"pos", 1, owner, CxSkinParsePos}) ||
            !list.Add(CxSkinPropEntry{section, L"frgnd", kStateCount, owner, CxSkinParseColor}) ||
            !list.Add(CxSkinPropEntry{section, L"bkgnd", kStateCount, owner, CxSkinParseColor}))
            return E_OUTOFMEMORY;
    }
    return pane.CxSkinProps::GetSkinProps(list);
}

HRESULT CPaneColours::ApplySection(CxSkinCtrl& pane, const wchar_t* skinFile, UINT setBackColour)
{
    pane.ForgetPositions();
    const wchar_t* section = pane.GetSectionName();
    if (section == nullptr || *section == L'\0')
        return S_FALSE;
    if (pane.GetSkinRecords().GetCount() == 0) {
        CxSkinPropEntries list;
        const HRESULT registered = pane.GetSkinProps(list);
        if (FAILED(registered))
            return registered;
    }
    CxSkinColors text, background;
    void* targets[] = {&pane.GetPositions(), &text, &background};
    HWND hWnd = pane.GetWnd();
    const HRESULT hr =
        CxIniReadSection(pane.GetSkinRecords(), section, skinFile, targets, 3, 0, nullptr, pane.GetPackData(hWnd));
    pane.ZeroOffsets();
    pane.ModifyFlags(0, CXFH_SKINCOLOURS, 0, 0);
    for (int state = 0; state < kStateCount; ++state) {
        m_text[state] = Parsed(text, state);
        m_back[state] = Parsed(background, state);
    }
    SetSystemColours();
    if (hWnd != nullptr) {
        ::SendMessageW(hWnd, setBackColour, 0, static_cast<LPARAM>(m_back[0].color));
        ::InvalidateRect(hWnd, nullptr, TRUE);
    }
    // Without a "pos" the pane stays where its owner put it.
    if (FAILED(hr) || pane.GetPositions().GetCount() == 0 || !pane.GetPositions().ElementAt(0).set)
        return hr;
    return pane.Apply(TRUE);
}

void CPaneColours::FillBack(HDC dc, const RECT& where, int state) const
{
    if (where.right <= where.left)
        return;
    HBRUSH brush = CreateSolidBrush(m_back[state].color);
    if (brush != nullptr) {
        FillRect(dc, &where, brush);
        DeleteObject(brush);
    }
}

void CPaneColours::DrawLabel(HDC dc, RECT where, const wchar_t* text, int state, UINT format) const
{
    if (text == nullptr || text[0] == L'\0')
        return;
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = SetTextColor(dc, m_text[state].color);
    DrawTextExW(dc, const_cast<wchar_t*>(text), -1, &where, format, nullptr);
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
}
