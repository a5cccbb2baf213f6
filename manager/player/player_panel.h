// The player panel: the small skinned child dialog of the main window that holds the media player's own
// controls (the volume bar and the Shuffle, Mute and Repeat toggles) and, as a further child, the player's
// display. It decides nothing about playback: its buttons' commands and their update-UI requests go to the
// main window, its children's skin sections are the main window's names, and a press on its background
// drags the main window.
#pragma once

#include "manager/controls/bars/cx_track_bar.h"
#include "manager/controls/buttons/cx_skin_button.h"
#include "manager/framework/skin/cx_dialog.h"

// The panel's template and its controls (the template lies in resources/manager/player_panel.rc).
constexpr UINT IDD_PLAYER_PANEL = 380;
constexpr UINT IDC_PLAYER_PANEL_VOLUME = 4231;
constexpr UINT IDC_PLAYER_PANEL_SHUFFLE = 4232;
constexpr UINT IDC_PLAYER_PANEL_MUTE = 4233;
constexpr UINT IDC_PLAYER_PANEL_REPEAT = 4234;
// The media player's window, which the main window creates inside the panel.
constexpr UINT IDC_PLAYER_PANEL_DISPLAY = 4235;

// What the main window does for the panel: the same handlers its own player commands (the Mute menu
// entry among them) and their update-UI requests use. The panel finds it as its parent window.
class CPlayerPanelOwner {
public:
    // A click on Shuffle, Mute or Repeat, with the button's id.
    virtual void OnPlayerCommand(UINT id) = 0;
    // The idle update of one of those buttons (its id in ui->m_nID).
    virtual void OnUpdatePlayerCommand(CCmdUI* ui) = 0;

protected:
    ~CPlayerPanelOwner() = default;
};

class CPlayerPanelDlg : public CxDialog, public virtual CxSkinPos {
public:
    // The template's track bar needs the common controls' bar classes, which this registers.
    explicit CPlayerPanelDlg(CWnd* pParent);
    ~CPlayerPanelDlg() override = default;

    // Escape never closes the panel: its key-down goes to a focused child that wants every key or the
    // characters, and is consumed either way. Everything else goes to the framework's translation.
    BOOL PreTranslateMessage(MSG* pMsg) override;
    // The members subclassed onto their controls, the framework dialog's set-up, the volume bar's colours,
    // the tooltips, and the parent's skin file applied to every window below the panel.
    BOOL OnInitDialog() override;
    // Shuffle, Mute and Repeat (4232-4234) and their update-UI requests go to the owner; nothing happens
    // without one.
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;

    // The framework dialog's keys ("img", "grip", "grid", ...) of the panel's section, then "pos".
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;
    // The framework dialog's reading of the section, then the panel's place from "pos"; the offsets a
    // layout added are kept by the first application only.
    HRESULT ApplySkinSection(const wchar_t* skinFile) override;
    // The tooltips of the four controls from their translated texts.
    using CxDialog::TranslateControls;
    void TranslateControls();
    int GetPosIndex() override { return 0; }

    // The section the parent names for the panel (CXM_GETSKINSECTION with the template id + 2); null for
    // none. The parent keeps the text.
    const wchar_t* GetSectionName();
    // The window that owns the panel's commands: its parent when that is a live window that takes them.
    CPlayerPanelOwner* GetOwner() const;

    CxSkinTrackBarCtrl& GetVolumeBar() { return m_volumeBar; }
    CxSkinButton& GetShuffleButton() { return m_shuffleButton; }
    CxSkinButton& GetRepeatButton() { return m_repeatButton; }
    CxSkinButton& GetMuteButton() { return m_muteButton; }

    // The volume bar's colours: background, channel and thumb.
    static constexpr COLORREF kVolumeBackground = 0xD1593D;
    static constexpr COLORREF kVolumeChannel = 0x80FFFF;
    static constexpr COLORREF kVolumeThumb = 0x535353;

protected:
    // Map id 0: WM_CREATE loads the skin keys once; the children's section requests go to the parent;
    // a new language re-sets the tooltips; a press on the background drags the parent; then the
    // framework dialog's map.
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

private:
    // Subclasses each member whose window does not exist yet onto its control and lets it load its skin.
    void DoDataExchange();
    // Takes the parent's name for the panel's section; true when it changed.
    bool UpdateSection();

    CxSkinTrackBarCtrl m_volumeBar;
    CxSkinButton m_shuffleButton;
    CxSkinButton m_repeatButton;
    CxSkinButton m_muteButton;
    // Set once a skin file was applied: later applications start from no offsets.
    bool m_skinApplied = false;
};
