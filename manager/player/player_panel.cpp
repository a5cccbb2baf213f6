#include "manager/player/player_panel.h"

#include <commctrl.h>

#include <iterator>

namespace {

// The tooltips: each control's translated text, "prompt\ntip".
constexpr CxControlText kPanelTexts[] = {
    {IDC_PLAYER_PANEL_VOLUME, IDC_PLAYER_PANEL_VOLUME},
    {IDC_PLAYER_PANEL_SHUFFLE, IDC_PLAYER_PANEL_SHUFFLE},
    {IDC_PLAYER_PANEL_MUTE, IDC_PLAYER_PANEL_MUTE},
    {IDC_PLAYER_PANEL_REPEAT, IDC_PLAYER_PANEL_REPEAT},
};

BOOL CALLBACK ApplySkinFileTo(HWND child, LPARAM file)
{
    SendMessageW(child, CXM_APPLYSKINFILE, static_cast<WPARAM>(file), 0);
    return TRUE;
}

bool IsPanelCommand(UINT id)
{
    return id >= IDC_PLAYER_PANEL_SHUFFLE && id <= IDC_PLAYER_PANEL_REPEAT;
}

}  // namespace

CPlayerPanelDlg::CPlayerPanelDlg(CWnd* pParent) : CxDialog(IDD_PLAYER_PANEL, pParent)
{
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
}

// ---- Set-up ----

void CPlayerPanelDlg::DoDataExchange()
{
    // The order in which the controls load their skins.
    struct Member {
        CWnd* control;
        UINT id;
    };
    const Member members[] = {
        {&m_volumeBar, IDC_PLAYER_PANEL_VOLUME},
        {&m_shuffleButton, IDC_PLAYER_PANEL_SHUFFLE},
        {&m_repeatButton, IDC_PLAYER_PANEL_REPEAT},
        {&m_muteButton, IDC_PLAYER_PANEL_MUTE},
    };
    for (const Member& member : members) {
        if (member.control->m_hWnd != nullptr)
            continue;
        if (member.control->SubclassDlgItem(member.id, this))
            member.control->SendMessage(CXM_INITCONTROL);
    }
}

BOOL CPlayerPanelDlg::OnInitDialog()
{
    DoDataExchange();
    CxDialog::OnInitDialog();
    m_volumeBar.SetColours(kVolumeBackground, kVolumeChannel, kVolumeThumb);
    TranslateControls();
    HWND parent = ::GetParent(m_hWnd);
    wchar_t* file = nullptr;
    if (parent != nullptr && ::SendMessageW(parent, CXM_GETSKINFILE, reinterpret_cast<WPARAM>(&file), 0) != 0 &&
        file != nullptr && *file != L'\0')
        EnumChildWindows(m_hWnd, &ApplySkinFileTo, reinterpret_cast<LPARAM>(file));
    CxFree(file);
    return TRUE;
}

// ---- Skin ----

const wchar_t* CPlayerPanelDlg::GetSectionName()
{
    HWND hWnd = GetWnd();
    HWND parent = hWnd != nullptr ? ::GetParent(hWnd) : nullptr;
    if (parent == nullptr)
        return nullptr;
    const wchar_t* section = nullptr;
    ::SendMessageW(parent, CXM_GETSKINSECTION, static_cast<WPARAM>(IDD_PLAYER_PANEL + 2),
                   reinterpret_cast<LPARAM>(&section));
    return section;
}

bool CPlayerPanelDlg::UpdateSection()
{
    const wchar_t* section = GetSectionName();
    if (CxStrCompare(section, m_section, 0) == 0)
        return false;
    // A failed copy keeps the name held before.
    return SUCCEEDED(m_section.Assign(section));
}

HRESULT CPlayerPanelDlg::GetSkinProps(CxSkinPropEntries& list)
{
    UpdateSection();
    // The framework dialog's keys come first, where its reading of the section expects them.
    HRESULT hr = CxDialog::GetSkinProps(list);
    if (FAILED(hr) || m_section.IsEmpty())
        return hr;
    if (!list.Add(CxSkinPropEntry{m_section, L"pos", 1, GetWnd(), CxSkinParsePos}))
        return E_OUTOFMEMORY;
    return CxSkinProps::Build(list);
}

HRESULT CPlayerPanelDlg::ApplySkinSection(const wchar_t* skinFile)
{
    // When the parent names another section now, its keys are registered anew.
    if (UpdateSection()) {
        CxSkinPropEntries list;
        GetSkinProps(list);
    }
    if (m_skinApplied)
        ZeroOffsets();
    m_skinApplied = true;
    const HRESULT hr = CxDialog::ApplySkinSection(skinFile);
    ForgetPositions();
    if (m_section.IsEmpty())
        return hr;
    void* targets[] = {&GetPositions()};
    if (SUCCEEDED(CxIniReadSection(GetSkinRecords(), m_section, skinFile, targets, 1, 0, L"pos", GetPackData(GetWnd()))) &&
        GetPositions().GetCount() > 0)
        CxSkinPos::Apply(FALSE);
    return hr;
}

// ---- Tooltips ----

void CPlayerPanelDlg::TranslateControls()
{
    TranslateControls(kPanelTexts, static_cast<int>(std::size(kPanelTexts)));
}

// ---- Commands ----

CPlayerPanelOwner* CPlayerPanelDlg::GetOwner() const
{
    HWND parent = m_hWnd != nullptr ? ::GetParent(m_hWnd) : nullptr;
    if (parent == nullptr || !::IsWindow(parent))
        return nullptr;
    return dynamic_cast<CPlayerPanelOwner*>(CWnd::FromHandlePermanent(parent));
}

BOOL CPlayerPanelDlg::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo)
{
    if (IsPanelCommand(nID) && (nCode == CN_COMMAND || nCode == CN_UPDATE_COMMAND_UI)) {
        // The panel takes these ids in every case, so they never travel on to its owner a second time.
        if (pHandlerInfo != nullptr)
            return TRUE;
        if (CPlayerPanelOwner* owner = GetOwner()) {
            if (nCode == CN_COMMAND)
                owner->OnPlayerCommand(nID);
            else if (pExtra != nullptr)
                owner->OnUpdatePlayerCommand(static_cast<CCmdUI*>(pExtra));
        }
        return TRUE;
    }
    return CxDialog::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

// ---- Messages ----

BOOL CPlayerPanelDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg != nullptr && pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE) {
        // The dialog manager would make Escape a Cancel of the panel, or of the main window above it.
        HWND focus = ::GetFocus();
        if (focus != nullptr && m_hWnd != nullptr && ::IsChild(m_hWnd, focus)) {
            const LRESULT code =
                ::SendMessageW(focus, WM_GETDLGCODE, pMsg->wParam, reinterpret_cast<LPARAM>(pMsg));
            if (code & (DLGC_WANTALLKEYS | DLGC_WANTCHARS))
                ::SendMessageW(focus, pMsg->message, pMsg->wParam, pMsg->lParam);
        }
        return TRUE;
    }
    return CxDialog::PreTranslateMessage(pMsg);
}

BOOL CPlayerPanelDlg::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    switch (message) {
    case WM_CREATE:
        if (!(m_flagsLow & CXFL_SKINLOADED)) {
            ModifyFlags(CXFL_SKINLOADED, 0, 0, 0);
            CxSkinPropEntries list;
            GetSkinProps(list);
        }
        break;  // the framework dialog applies the parent's skin file, and WM_CREATE goes on
    case CXM_GETSKINSECTION: {
        // The main window names the sections of the panel's children.
        HWND parent = ::GetParent(hWnd);
        lResult = parent != nullptr ? ::SendMessageW(parent, message, wParam, lParam) : 0;
        return TRUE;
    }
    case CXM_TRANSLATE:
        TranslateControls();
        lResult = 1;
        return TRUE;
    case WM_LBUTTONDOWN: {
        // The user drags the main window by the panel.
        HWND parent = ::GetParent(hWnd);
        if (parent != nullptr)
            CxPostMessage(parent, CXM_DRAGWINDOW, reinterpret_cast<WPARAM>(parent), 0);
        lResult = 0;
        return TRUE;
    }
    default:
        break;
    }
    return CxDialog::PreMap(hWnd, message, wParam, lParam, lResult, mapId);
}
