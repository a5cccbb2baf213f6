// The framework's push button and the mouse components of the skinned controls: the capture held while
// the mouse is over a control, the hover timer that notices a mouse that left without a move, the hover
// text posted to the parent, and the press map every pressable control runs after its own handling.
#pragma once

#include "manager/controls/cx_ctrl_layers.h"
#include "manager/framework/skin/cx_components.h"

// The hover test's timer and its period.
constexpr UINT_PTR CX_HOVER_TIMER = 0x2128507;
constexpr UINT CX_HOVER_PERIOD_MS = 100;

// The mouse capture of a control while the mouse is over it (low flag 0x10).
class CxMouseCapture : public virtual CxWndLink {
public:
    // E_FAIL when held already. SetCapture when asked, flag 0x10 set (announced with notify), then
    // OnCaptureChanged(TRUE).
    HRESULT Capture(BOOL notify, BOOL setCapture);
    // Clears the mouse press (0x40000) first, silently; E_FAIL when 0x10 is clear. Otherwise gives the
    // capture back when asked and the window holds it, clears 0x10 (announced with notify), then
    // OnCaptureChanged(FALSE).
    HRESULT Release(BOOL notify, BOOL releaseCapture);
    // Capture while the mouse is over the control, else Release.
    HRESULT Track(BOOL notify, BOOL capture);
    // Release without announcement, giving the capture back.
    void ReleaseCapture() override;

    // The press map (after the control's own handling, never replacing its result): a release of the
    // left button with press tracking, focus loss and cancel mode release; activation tracks; an enable
    // change tracks too, and announces CXM_FLAGSCHANGED when that changed nothing, so that an image
    // follows the enabled state.
    BOOL ProcessPressMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    CxMouseCapture() = default;
    ~CxMouseCapture() override = default;

    virtual void OnCaptureChanged(BOOL captured);
    // Announcements follow the applied skin (low flag 0x20).
    BOOL Announces() const { return (m_flagsLow & CXFL_SKINREGION) != 0; }
};

// Follows the mouse over the control: captures it while over, presses on a left-button press (with
// press tracking), and a 100 ms timer that releases once the mouse is gone.
class CxMouseHover : public virtual CxMouseCapture {
public:
    // E_ACCESSDENIED while one runs or without a window; E_OUTOFMEMORY when the timer cannot be set.
    HRESULT StartTimer();
    UINT_PTR GetTimer() const { return m_hoverTimer; }

    // Map ids 0 (the link's entries first) and -1. Only its own timer tick is handled.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxMouseHover() = default;
    ~CxMouseHover() override = default;

private:
    void StopTimer(HWND hWnd);

    UINT_PTR m_hoverTimer = 0;
};

// Posts the control's tooltip text to its parent while the mouse is over it, and a null text when it
// leaves.
class CxHoverText : public virtual CxToolTipText, public virtual CxMouseCapture {
public:
    // To the parent, or to the control itself without one; lParam is the tooltip flags.
    virtual HRESULT ShowHoverText(BOOL show);

protected:
    CxHoverText() = default;
    ~CxHoverText() override = default;

    void OnCaptureChanged(BOOL captured) override;
};

// The framework's push button: the hand cursor, hover and press tracking, tooltip and hover texts, and
// its share of the parent's region.
class CxButton : public CxButtonLayerT<CWnd>,
                 public virtual CxCursor,
                 public virtual CxChildRegion,
                 public virtual CxMouseHover,
                 public virtual CxHoverText {
public:
    CxButton();
    ~CxButton() override;

    // A child button of the parent (class "button").
    BOOL Create(HWND parent, const RECT& rect, UINT id, DWORD style = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                const wchar_t* text = L"");

protected:
    // WM_CREATE and CXM_INITCONTROL take the hand cursor (and go on); then the hover, tooltip, cursor
    // and child-region maps.
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;
    // The press map.
    BOOL PostMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

    // What the button family does when its skin loads: takes the hand cursor.
    virtual HRESULT LoadButtonSkin();
};
