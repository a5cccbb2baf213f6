// The Cx window core: the flag set and window link shared by every component of a framework window,
// the component message-map protocol, the framework window procedure, and the helpers that send and
// post the private messages.
#pragma once

#include "manager/framework/windows/cx_messages.h"
#include "manager/framework/windows/cx_string.h"
#include "platform/afx/afx.h"

// ---- Result codes and helpers ----

// Nothing is registered (for example no entry of a kind a component needs).
constexpr HRESULT CX_E_NOTREGISTERED = static_cast<HRESULT>(0x8000000AL);

// S_OK for a live window, E_INVALIDARG otherwise.
HRESULT CxIsWindow(HWND hWnd);
// Sends to a live window (S_OK for a nonzero answer, S_FALSE for 0), or posts when post is nonzero.
// E_INVALIDARG for a dead window.
HRESULT CxSendMessage(BOOL post, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// E_INVALIDARG for a dead window (also when it died before the post); S_OK once posted.
HRESULT CxPostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Posts a framework heap copy of text (null for a null or empty text) as wParam, with lParam; the
// receiver owns it. When the post fails the copy is freed here.
HRESULT CxPostText(HWND hWnd, UINT message, const wchar_t* text, LPARAM lParam = 0);
// Frees the texts of CXM_SETTEXT messages still waiting for a window that is being destroyed.
void CxFreePostedTexts(HWND hWnd);
// Ends a dialog with the result: E_INVALIDARG unless wnd is a live CDialog.
HRESULT CxEndDialog(CWnd* wnd, int result);

// ---- Diagnostic trace ----

using CxTraceHook = void (*)(const wchar_t* text);
// Formats and hands the text to the trace hook; does nothing without one.
void CxTrace(const wchar_t* format, ...);
// Returns the previous hook.
CxTraceHook CxSetTraceHook(CxTraceHook hook);

// ---- Component maps ----

// Map ids: 0 runs the shared CxWndLink entries first and then the component's own; -1 only the
// component's own (the shared ones were offered already); -2 the own entries of the skin components
// and nothing chained below them. Any other id handles nothing (and is traced).
constexpr DWORD CX_MAPID_CHAIN = 0;
constexpr DWORD CX_MAPID_OWN = static_cast<DWORD>(-1);
constexpr DWORD CX_MAPID_SKIN = static_cast<DWORD>(-2);

enum class CxMapRun { BaseAndOwn, OwnOnly, Nothing };
// What a component runs for a map id; skinComponent tells whether -2 is one of its ids.
CxMapRun CxMapRunFor(DWORD mapId, bool skinComponent = false);

// ---- Flags and link ----

// The 64-bit flag set of a framework window, held once as the innermost virtual base of its components.
class CxWndFlags {
public:
    ULONGLONG Get() const { return (static_cast<ULONGLONG>(m_flagsHigh) << 32) | m_flagsLow; }
    DWORD GetLow() const { return m_flagsLow; }
    DWORD GetHigh() const { return m_flagsHigh; }

protected:
    CxWndFlags() = default;
    ~CxWndFlags() = default;

    DWORD m_flagsLow = 0;
    DWORD m_flagsHigh = 0;
};

// The link of every component to its window's handle member.
class CxWndLink : public virtual CxWndFlags {
public:
    // Releases the mouse capture (the mouse-capture component does more).
    virtual void ReleaseCapture();

    // Links to the window's handle member; every framework window constructor does this.
    void Attach(HWND* phWnd) { m_phWnd = phWnd; }
    // The window when linked and alive, else null.
    HWND GetWnd() const;

    // flags = (flags OR set) AND NOT clear, per half. With notify, CXM_FLAGSCHANGED is sent to the window
    // (posted with post) and its result returned; otherwise S_OK.
    HRESULT ModifyFlags(DWORD setLow, DWORD setHigh, DWORD clearLow, DWORD clearHigh, DWORD reserved = 0,
                        DWORD notify = 0, DWORD post = 0);

    // Answers CXM_GETFLAGS, CXM_MODIFYFLAGS and CXM_DRAGWINDOW for map ids 0 and -1.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxWndLink() = default;
    virtual ~CxWndLink() = default;

private:
    LRESULT OnGetFlags(WPARAM wParam, BOOL& handled);
    LRESULT OnModifyFlags(WPARAM wParam, BOOL& handled);
    LRESULT OnDragWindow(WPARAM wParam, BOOL& handled);

    HWND* m_phWnd = nullptr;
};

// Present in every framework dialog: ends it on CXM_ENDDIALOG.
class CxEndDialogLink : public virtual CxWndLink {
public:
    // Posts CXM_ENDDIALOG (lParam = result) to the own window; E_INVALIDARG when it is gone.
    HRESULT PostEndDialog(int result);

    // Map id 0: the CxWndLink entries, then CXM_ENDDIALOG; -1: CXM_ENDDIALOG only.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxEndDialogLink() = default;
    ~CxEndDialogLink() override = default;

    // Ends the window's dialog with lParam as the result; handled with result 1 even when the window is
    // not a dialog.
    virtual LRESULT OnEndDialog(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
};

// ---- Framework window procedure ----

// The window procedure of every framework window and skinned control over an afx window class: the
// pre-map first (when it handles the message, the afx map and default processing are skipped), then
// the post-map, whose result wins when it handles the message; a class without a post-map
// (kRunsPostMap false) stops after the first step. Nothing is offered after WM_NCDESTROY, after which
// the object may be gone; texts still posted to the dying window are freed, and so is a posted text
// that no handler took (answered 0): it has one owner.
template <class TBase, bool kRunsPostMap = true>
class CxWindowProcT : public TBase {
public:
    using TBase::TBase;

protected:
    // The pre-map, called with map id 0; classes chain the class below and their components.
    virtual BOOL PreMap(HWND, UINT, WPARAM, LPARAM, LRESULT&, DWORD) { return FALSE; }
    // The post-map, called with map id 0 and a fresh result of 0.
    virtual BOOL PostMap(HWND, UINT, WPARAM, LPARAM, LRESULT&, DWORD) { return FALSE; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        HWND hWnd = this->m_hWnd;
        if (message == WM_NCDESTROY)
            CxFreePostedTexts(hWnd);
        LRESULT result = 0;
        if (!PreMap(hWnd, message, wParam, lParam, result, CX_MAPID_CHAIN))
            result = TBase::WindowProc(message, wParam, lParam);
        if (kRunsPostMap && message != WM_NCDESTROY) {
            LRESULT postResult = 0;
            if (PostMap(hWnd, message, wParam, lParam, postResult, CX_MAPID_CHAIN))
                result = postResult;
        }
        if (message == CXM_SETTEXT && result == 0)
            CxFree(reinterpret_cast<void*>(wParam));
        return result;
    }
};
