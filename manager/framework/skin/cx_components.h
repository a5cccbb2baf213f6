// The small components every skinned control and skinned dialog is made of: the child region, the
// cursor, the tooltip text and its messages, the plain window component, and the helpers that post
// hover texts and measure a window's frame.
#pragma once

#include "manager/framework/windows/cx_string.h"
#include "manager/framework/windows/cx_wnd.h"

// ---- Helpers ----

// Where the client area lies within the window and how much the frame adds to the client size.
struct CxFrameMetrics {
    int left;
    int top;
    int extraWidth;
    int extraHeight;
};
// From AdjustWindowRectEx with the window's style, extended style and menu. E_INVALIDARG for a dead
// window or no out, E_FAIL when the system cannot compute it.
HRESULT CxGetFrameMetrics(HWND hWnd, CxFrameMetrics* metrics);

// Whether a screen point lies over the control: inside its parent's client area (for a child window)
// and inside its window region, or its window rectangle when it has no region or an empty one.
BOOL CxIsPointOver(HWND hWnd, POINT screen);
// The same for the mouse where it is now.
BOOL CxIsMouseOver(HWND hWnd);

// Posts CXM_SETTEXT to window with a framework heap copy of text (null stays null) and lParam; the
// receiver owns the copy. E_ACCESSDENIED when the component's window is gone or has no tooltip text
// (low flag 0x8); a failed post frees the copy here.
HRESULT CxPostHoverText(CxWndLink* component, HWND window, const wchar_t* text, LPARAM lParam);

// ---- Components ----

// Adds the window's visible region to its parent's on CXM_ADDCHILDREGION (wParam: HRGN* holding the
// region to combine into, null to start from the parent's own; lParam: the combine mode).
class CxChildRegion : public virtual CxWndLink {
public:
    // Map ids 0 (the link's entries first) and -1.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxChildRegion() = default;
    ~CxChildRegion() override = default;

    LRESULT OnAddChildRegion(HWND hWnd, HRGN* record, int mode);
};

// Holds the control's cursor and sets it while the mouse is over the control.
class CxCursor : public virtual CxWndLink {
public:
    // Takes the cursor (the caller's variable is cleared; the cursor is destroyed when replaced or with
    // the component) and applies it. E_INVALIDARG when required and null.
    HRESULT SetCursor(HCURSOR& cursor, BOOL required);
    // Sets the held cursor when the mouse is over the control; E_FAIL otherwise.
    HRESULT Apply();
    // The hand cursor: the program's own cursor 32649 on Windows 95, the system's otherwise. It is shared
    // and never destroyed.
    HRESULT UseHandCursor();
    HCURSOR GetCursor() const { return m_hCursor; }

    // WM_SETCURSOR, for map ids 0 (the link's entries first) and -1.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxCursor() = default;
    ~CxCursor() override;

private:
    HRESULT Take(HCURSOR& cursor, BOOL required, bool shared);
    void Release();

    HCURSOR m_hCursor = nullptr;
    bool m_shared = false;
};

// How cursors the component owns are destroyed; tests count them. Returns the previous hook.
using CxDestroyCursorHook = BOOL (*)(HCURSOR cursor);
CxDestroyCursorHook CxSetDestroyCursorHook(CxDestroyCursorHook hook);

// The window's tooltip text and its flags.
class CxToolTipString : public virtual CxWndLink {
public:
    // Keeps a copy. E_OUTOFMEMORY keeps the old text.
    HRESULT Set(const wchar_t* text, int flags);
    const wchar_t* GetToolTip() const { return m_toolTip; }
    int GetToolTipFlags() const { return m_toolTipFlags; }

protected:
    CxToolTipString() = default;
    ~CxToolTipString() override = default;

    CxString m_toolTip;
    int m_toolTipFlags = 0;
};

// A dialog item's tooltip: the control, the string id of its translated text, and the tooltip flags.
struct CxDlgItemTip {
    UINT controlId;
    UINT textId;
    int flags;
};

// Stores the text of CXM_SETTOOLTIP, and takes the texts posted with CXM_SETTEXT.
class CxToolTipText : public virtual CxToolTipString {
public:
    // For each item of the dialog that exists: the translated text up to its first line break is handed
    // to the control (low flag 0x8 through CXM_MODIFYFLAGS, then CXM_SETTOOLTIP). An item without a
    // text or whose control does not answer is skipped alone.
    virtual void SetDlgItemTips(const CxDlgItemTip* table, int count);

    // CXM_SETTOOLTIP (result 1) and CXM_SETTEXT (the text is freed, result 1: taken), for map ids 0 (the
    // link's entries first) and -1.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxToolTipText() = default;
    ~CxToolTipText() override = default;
};

// A component with nothing of its own: the window link of a bundle.
class CxWndComponent : public virtual CxWndLink {
protected:
    CxWndComponent() = default;
    ~CxWndComponent() override = default;
};
