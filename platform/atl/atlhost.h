// Control hosting: an ActiveX control made by its CLSID string or ProgID, sited in an existing window
// and active in place over that window's client area (in a child window of its own; windowless
// activation is not offered).
#pragma once

#include "platform/atl/atlbase.h"

class CAxHostSite;

// The hosting window object. Attached to a window of the calling thread, it makes the control, is its
// client site, in-place site, frame and control site, answers its ambient properties (user mode, display
// name = the window's text, the system's window colours, font = the window's font), keeps it sized to
// the window's client area, and hands out its interfaces.
//
// The control is torn down (in-place deactivation, SetClientSite(null), Close, release) when another
// control is made, on DestroyControl, when this object is destroyed, when the window is destroyed, and
// when a creation fails part way. The window itself belongs to its owner.
class CAxWindow {
public:
    CAxWindow() = default;
    explicit CAxWindow(HWND hwnd) : hwnd_(hwnd) {}
    CAxWindow(const CAxWindow&) = delete;
    CAxWindow& operator=(const CAxWindow&) = delete;
    ~CAxWindow();

    // Hosts in `hwnd` from now on; a control hosted in another window is torn down first.
    void Attach(HWND hwnd);
    HWND GetHWND() const { return hwnd_; }
    operator HWND() const { return hwnd_; }

    // Makes, sites and activates the control: `name` is a CLSID string ("{...}") or a ProgID. A control
    // already hosted is torn down first. Fails with the failure of the CLSID string or ProgID, of the
    // creation, E_NOINTERFACE for an object that is no control (no IOleObject), or the control's own
    // failure while sited, initialised or activated; E_UNEXPECTED without a window, RPC_E_WRONG_THREAD
    // from a thread other than the window's. A failure leaves no control and nothing held.
    HRESULT CreateControl(LPCOLESTR name);
    // The hosted control's interface `iid`; E_UNEXPECTED when no control is hosted.
    HRESULT QueryControl(REFIID iid, void** ppv) const;
    template <class Q>
    HRESULT QueryControl(Q** pp) const
    {
        return QueryControl(__uuidof(Q), reinterpret_cast<void**>(pp));
    }
    bool HasControl() const;
    void DestroyControl();

private:
    HWND hwnd_ = nullptr;
    CAxHostSite* site_ = nullptr;
};
