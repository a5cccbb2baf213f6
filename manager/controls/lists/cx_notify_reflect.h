// Notifications a control sends its parent, handed back to the control first (what a control class
// handles of its own notifications, such as the deletion of its items, it handles wherever it is
// placed). The parent is subclassed through comctl32's subclass chain, once per control; a
// notification the control does not handle goes on to the parent unchanged.
#pragma once

#include "platform/afx/afx.h"

// Sent to the control by its parent's subclass: wParam 0, lParam the CxReflectedNotify record; the
// answer is nonzero when the control handled the notification (its result is then in the record).
constexpr UINT WM_CXREFLECTNOTIFY = 0xBC00 + WM_NOTIFY;

struct CxReflectedNotify {
    NMHDR* header;
    LRESULT result;
};

// The subclass of one control's parent. It holds no pointer to the control object: the reflected
// notification reaches the control by message, so an object gone before its window is never called.
class CxNotifyReflector {
public:
    CxNotifyReflector() = default;
    ~CxNotifyReflector() { Stop(); }
    CxNotifyReflector(const CxNotifyReflector&) = delete;
    CxNotifyReflector& operator=(const CxNotifyReflector&) = delete;
    // Takes over the other's subclass.
    CxNotifyReflector(CxNotifyReflector&& other) noexcept;

    // Subclasses the parent of a child control once (a parent on another thread is left alone).
    void Start(HWND control);
    // Removes the subclass from the parent it was put on.
    void Stop();
    bool IsActive() const { return m_parent != nullptr; }

private:
    static LRESULT CALLBACK ParentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR refData);

    HWND m_control = nullptr;
    HWND m_parent = nullptr;
};

// A control window whose own notifications come back to OnNotifyReflect before the parent sees them.
class CxNotifyReflectWnd : public CWnd {
public:
    CxNotifyReflectWnd() = default;
    ~CxNotifyReflectWnd() override = default;

protected:
    // TRUE when the control handled its notification, with the result for the parent's answer in
    // *pResult; FALSE lets the parent have it.
    virtual BOOL OnNotifyReflect(NMHDR* header, LRESULT* pResult);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    CxNotifyReflector m_reflector;
};
