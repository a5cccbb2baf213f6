#include "manager/controls/cx_skin_ctrl.h"

HRESULT CxSkinCtrl::LoadSkinOnce()
{
    if (m_flagsLow & CXFL_SKINLOADED)
        return S_FALSE;
    ModifyFlags(CXFL_SKINLOADED, 0, 0, 0);
    CxSkinPropEntries list;
    return GetSkinProps(list);
}

const wchar_t* CxSkinCtrl::GetSectionName()
{
    HWND hWnd = GetWnd();
    HWND parent = hWnd != nullptr ? GetParent(hWnd) : nullptr;
    if (parent == nullptr)
        return nullptr;
    const wchar_t* section = nullptr;
    SendMessageW(parent, CXM_GETSKINSECTION, static_cast<WPARAM>(GetDlgCtrlID(hWnd) + 2),
                 reinterpret_cast<LPARAM>(&section));
    return section;
}

const wchar_t* CxSkinCtrl::SectionFromCtrlId(WPARAM)
{
    return nullptr;
}

HRESULT CxSkinCtrl::GetSkinProps(CxSkinPropEntries& list)
{
    const wchar_t* section = GetSectionName();
    if (section != nullptr && *section != L'\0') {
        if (!list.Add(CxSkinPropEntry{section, L"pos", 1, GetWnd(), CxSkinParsePos}))
            return E_OUTOFMEMORY;
    }
    return CxSkinProps::GetSkinProps(list);
}

HRESULT CxSkinCtrl::ApplySection(const wchar_t* skinFile)
{
    ForgetPositions();
    const wchar_t* section = GetSectionName();
    if (section == nullptr || *section == L'\0')
        return S_FALSE;  // the control keeps its template look
    void* targets[] = {&GetPositions()};
    const HRESULT hr =
        CxIniReadSection(GetSkinRecords(), section, skinFile, targets, 1, 0, nullptr, GetPackData(GetWnd()));
    ZeroOffsets();
    if (FAILED(hr))
        return hr;
    return Apply(TRUE);
}

BOOL CxSkinCtrl::SkinFileMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    if (SkinFileMessage(message, wParam, lParam, lResult, [this](const wchar_t* file) { ApplySection(file); }))
        return TRUE;
    switch (message) {
    case WM_CREATE:
        // The parent's skin file is applied at once; WM_CREATE itself goes on.
        CxApplyParentSkinFile(hWnd);
        return FALSE;
    case CXM_GETSKINSECTION:
        if (lParam != 0)
            *reinterpret_cast<const wchar_t**>(lParam) = SectionFromCtrlId(wParam);
        lResult = lParam != 0;
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL CxSkinCtrl::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                      DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId, true);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (run == CxMapRun::BaseAndOwn && CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    const bool full = mapId != CX_MAPID_SKIN;
    switch (message) {
    case WM_CREATE:
        LoadSkinOnce();
        break;  // goes on to the skin-file entry and stays unhandled
    case CXM_INITCONTROL:
        LoadSkinOnce();
        lResult = 1;
        return TRUE;
    case CXM_ADDOFFSETS:
        if (!full)
            return FALSE;
        AddOffsets(reinterpret_cast<const POINT*>(wParam), reinterpret_cast<const SIZE*>(lParam));
        lResult = 1;
        return TRUE;
    default:
        break;
    }
    if (SkinFileMap(hWnd, message, wParam, lParam, lResult))
        return TRUE;
    if (full && CxChildRegion::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN))
        return TRUE;
    if (message == CXM_FLAGSCHANGED) {
        Apply(FALSE);
        lResult = 1;
        return TRUE;
    }
    return FALSE;
}
