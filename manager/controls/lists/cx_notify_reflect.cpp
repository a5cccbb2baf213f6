#include "manager/controls/lists/cx_notify_reflect.h"

#include <utility>

CxNotifyReflector::CxNotifyReflector(CxNotifyReflector&& other) noexcept
    : m_control(std::exchange(other.m_control, nullptr)), m_parent(std::exchange(other.m_parent, nullptr))
{
}

void CxNotifyReflector::Start(HWND control)
{
    if (m_parent != nullptr || control == nullptr || (GetWindowLongPtrW(control, GWL_STYLE) & WS_CHILD) == 0)
        return;
    HWND parent = GetParent(control);
    if (parent == nullptr || GetWindowThreadProcessId(parent, nullptr) != GetCurrentThreadId())
        return;
    if (!SetWindowSubclass(parent, &ParentProc, reinterpret_cast<UINT_PTR>(control), 0))
        return;
    m_control = control;
    m_parent = parent;
}

void CxNotifyReflector::Stop()
{
    if (m_parent == nullptr)
        return;
    if (IsWindow(m_parent))
        RemoveWindowSubclass(m_parent, &ParentProc, reinterpret_cast<UINT_PTR>(m_control));
    m_parent = nullptr;
    m_control = nullptr;
}

LRESULT CALLBACK CxNotifyReflector::ParentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                               DWORD_PTR)
{
    HWND control = reinterpret_cast<HWND>(id);
    if (message == WM_NOTIFY && lParam != 0) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == control && IsWindow(control)) {
            CxReflectedNotify record{header, 0};
            if (SendMessageW(control, WM_CXREFLECTNOTIFY, 0, reinterpret_cast<LPARAM>(&record)) != 0)
                return record.result;
        }
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hWnd, &ParentProc, id);
    }
    return DefSubclassProc(hWnd, message, wParam, lParam);
}

BOOL CxNotifyReflectWnd::OnNotifyReflect(NMHDR*, LRESULT*)
{
    return FALSE;
}

LRESULT CxNotifyReflectWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CXREFLECTNOTIFY) {
        auto* record = reinterpret_cast<CxReflectedNotify*>(lParam);
        if (record == nullptr || record->header == nullptr)
            return 0;
        return OnNotifyReflect(record->header, &record->result) ? 1 : 0;
    }
    if (message != WM_NCDESTROY) {
        // Every deletion starts with a message to the control itself, so the parent is subclassed
        // before the first notification that matters, also for a window subclassed after its creation.
        m_reflector.Start(m_hWnd);
        return CWnd::WindowProc(message, wParam, lParam);
    }
    // The control's last notifications (its items going with it) still come back; the object may be
    // gone after the default processing, so the subclass is removed through a local owner.
    CxNotifyReflector reflector(std::move(m_reflector));
    const LRESULT result = CWnd::WindowProc(message, wParam, lParam);
    reflector.Stop();
    return result;
}
