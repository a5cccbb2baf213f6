// The skinned dialog with menus: a status text bar that shows hover and menu prompt texts, the line
// under the menu bar, and menu items enabled and checked by the dialog's command handlers.
#pragma once

#include "manager/controls/bars/cx_menu_border.h"
#include "manager/controls/bars/cx_text_bar.h"
#include "manager/framework/skin/cx_dialog.h"

// The prompt shown when a menu closes.
constexpr UINT CX_IDS_IDLEMESSAGE = 0xE001;

// The string id of the prompt of a highlighted menu item (WM_MENUSELECT's id and flags); 0 for none.
// System commands map to 0xEF00 + (id - 0xF000) / 16; a closing menu (flags 0xFFFF) gives the idle
// prompt unless high flag 0x40000 is set; pop-ups and separators give none.
UINT CxMenuPromptId(UINT id, UINT flags, DWORD highFlags);

// The command UI of one menu item, by its position in its menu.
class CxMenuCmdUI : public CCmdUI {
public:
    CxMenuCmdUI(HMENU menu, UINT index) : m_hMenu(menu), m_nIndex(index) {}
    void Enable(BOOL bOn = TRUE) override;
    void SetCheck(int nCheck = 1) override;

private:
    HMENU m_hMenu;
    UINT m_nIndex;
};

// Sets the check mark when the element is a menu item, then the enabled state.
void CxUpdateCmdUI(CCmdUI* ui, BOOL enable, BOOL check);

// ---- Helpers of child windows ----

// The window's font (WM_GETFONT, else the stock system font) as a LOGFONTA, cleared first.
// E_UNEXPECTED with no font at all, E_ACCESSDENIED when the font cannot be read.
HRESULT CxGetWindowFont(HWND hWnd, LOGFONTA* font);
// A new font from the LOGFONTA, or from the window's font without one. E_FAIL when it cannot be made.
HRESULT CxCreateFont(HWND hWnd, HFONT* font, const LOGFONTA* logFont);

// Sends the skin and pack queries of a child window (CXM_GETSKINFILE, CXM_GETPACKTEXT, CXM_ASKOWNER,
// CXM_GETPACKFILE) on to its parent, whose answer is the answer.
class CxSkinQueryForwarder : public virtual CxWndLink {
public:
    // Map ids 0 (the link's entries first) and -1; -2 forwards without the link's entries.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxSkinQueryForwarder() = default;
    ~CxSkinQueryForwarder() override = default;
};

class CxDialogEx : public CxDialog, public CxToolTipText {
public:
    CxDialogEx() { m_pStatusBar = &m_textBar; }
    CxDialogEx(UINT nIDTemplate, CWnd* pParentWnd) : CxDialog(nIDTemplate, pParentWnd) { m_pStatusBar = &m_textBar; }
    CxDialogEx(LPCWSTR lpszTemplateName, CWnd* pParentWnd) : CxDialog(lpszTemplateName, pParentWnd)
    {
        m_pStatusBar = &m_textBar;
    }
    ~CxDialogEx() override = default;

    // The base dialog's set-up, then the menu border (shown unless a skin region shapes the dialog).
    BOOL OnInitDialog() override;

    CxTextBarCtrl& GetTextBar() { return m_textBar; }
    CxMenuBorder& GetMenuBorder() { return m_menuBorder; }
    // The bar hover and prompt texts go to: the dialog's own unless a subclass points elsewhere.
    CxTextBarCtrl* GetStatusBar() const { return m_pStatusBar; }
    void SetStatusBar(CxTextBarCtrl* bar) { m_pStatusBar = bar; }

protected:
    // Map id 0: the skinned dialog's map, then CXM_SETTEXT (taken: shown in the status bar and freed,
    // answer 1), CXM_FRAMEIMAGESET (hides the border while a frame image shapes the dialog), the menu
    // prompt of WM_MENUSELECT (the message goes on) and the tooltip text map.
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;
    // After the default handling of WM_INITMENUPOPUP: every item of a popup that is not the system menu
    // is offered to the update handlers; an item without a handler is disabled.
    BOOL PostMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

    // Posts the prompt of the item to the dialog itself (no prompt: a null text).
    void OnMenuSelect(UINT id, UINT flags);
    void OnInitMenuPopup(HMENU popup, BOOL systemMenu);

    // Destroyed in reverse: the border first, then the bar, then the dialog.
    CxTextBarCtrl m_textBar;
    CxMenuBorder m_menuBorder;
    CxTextBarCtrl* m_pStatusBar = nullptr;
};
