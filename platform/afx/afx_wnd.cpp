#include "platform/afx/afx_wnd.h"

#include "platform/afx/afx_app.h"

#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

namespace {

// One entry per window routed through AfxWndProc. The object is null when it was detached while the
// window still runs AfxWndProc (someone subclassed over it), so the previous procedure is still known.
struct HandleEntry {
    CWnd* wnd;
    WNDPROC super;
};

std::mutex& MapLock()
{
    static std::mutex lock;
    return lock;
}

std::unordered_map<HWND, HandleEntry>& HandleMap()
{
    static std::unordered_map<HWND, HandleEntry> map;
    return map;
}

bool LookUp(HWND hWnd, HandleEntry* entry)
{
    std::lock_guard<std::mutex> guard(MapLock());
    auto it = HandleMap().find(hWnd);
    if (it == HandleMap().end())
        return false;
    *entry = it->second;
    return true;
}

void SetEntry(HWND hWnd, CWnd* wnd, WNDPROC super)
{
    std::lock_guard<std::mutex> guard(MapLock());
    HandleMap()[hWnd] = HandleEntry{wnd, super};
}

void RemoveEntry(HWND hWnd)
{
    std::lock_guard<std::mutex> guard(MapLock());
    HandleMap().erase(hWnd);
}

struct ThreadState {
    CWnd* pWndInit = nullptr;  // the object waiting for the next window created on this thread
    HHOOK hook = nullptr;
    int hookDepth = 0;
    MSG lastSent{};            // the message being handled, for Default()
    MSG msgCur{};              // the last message pumped
    POINT lastCursor{-1, -1};  // to tell repeated mouse moves from real input
    UINT lastMouseMessage = 0;
};

thread_local ThreadState t_state;

WNDPROC CurrentProc(HWND hWnd)
{
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hWnd, GWLP_WNDPROC));
}

WNDPROC SetProc(HWND hWnd, WNDPROC proc)
{
    return reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

// Messages after which the modal loop starts a new round of idle calls (not timers, paint or a mouse
// move that did not move).
bool IsIdleMessage(const MSG& msg)
{
    ThreadState& ts = t_state;
    if (msg.message == WM_MOUSEMOVE || msg.message == WM_NCMOUSEMOVE) {
        if (msg.pt.x == ts.lastCursor.x && msg.pt.y == ts.lastCursor.y && msg.message == ts.lastMouseMessage)
            return false;
        ts.lastCursor = msg.pt;
        ts.lastMouseMessage = msg.message;
        return true;
    }
    return msg.message != WM_PAINT && msg.message != 0x0118;  // WM_SYSTIMER (caret blink)
}

}  // namespace

// ---- Window procedure ----

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    HandleEntry entry;
    if (!LookUp(hWnd, &entry))
        return DefWindowProcW(hWnd, message, wParam, lParam);
    if (entry.wnd == nullptr) {
        LRESULT result = CallWindowProcW(entry.super, hWnd, message, wParam, lParam);
        if (message == WM_NCDESTROY)
            RemoveEntry(hWnd);
        return result;
    }

    ThreadState& ts = t_state;
    const MSG saved = ts.lastSent;
    ts.lastSent.hwnd = hWnd;
    ts.lastSent.message = message;
    ts.lastSent.wParam = wParam;
    ts.lastSent.lParam = lParam;
    LRESULT result = entry.wnd->WindowProc(message, wParam, lParam);
    ts.lastSent = saved;
    // The object may be gone now (deleted in PostNcDestroy); only the handle is used from here.
    if (message == WM_NCDESTROY)
        CWnd::FinishNcDestroy(hWnd);
    return result;
}

void CWnd::FinishNcDestroy(HWND hWnd)
{
    // Normally OnNcDestroy has detached the object already. When an override kept WM_NCDESTROY from
    // reaching it, the object is still attached (and so still alive): detach it here.
    HandleEntry entry;
    if (!LookUp(hWnd, &entry))
        return;
    if (entry.wnd != nullptr && entry.wnd->m_hWnd == hWnd)
        entry.wnd->CleanUpAfterNcDestroy();
    RemoveEntry(hWnd);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    LRESULT result = 0;
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam))
            return FALSE;
        result = 1;
    } else if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header == nullptr || header->hwndFrom == nullptr || !OnNotify(wParam, lParam, &result))
            return FALSE;
    } else {
        const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message);
        if (entry == nullptr)
            return FALSE;
        AFX_MSGCALL call;
        call.message = message;
        call.wParam = wParam;
        call.lParam = lParam;
        if (!entry->pfn(this, call))
            return FALSE;
        result = call.result;
    }
    if (pResult != nullptr)
        *pResult = result;
    return TRUE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam)
{
    const UINT nID = LOWORD(wParam);
    int nCode = HIWORD(wParam);
    if (lParam == 0)
        nCode = CN_COMMAND;  // menu item or accelerator
    else if (nID == 0)
        return FALSE;  // a control without an id
    return OnCmdMsg(nID, nCode, nullptr, nullptr);
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* pResult)
{
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    AFX_NOTIFY notify{pResult, header};
    const int nCode = static_cast<int>(MAKELONG(static_cast<WORD>(header->code), WM_NOTIFY));
    return OnCmdMsg(static_cast<UINT>(header->idFrom), nCode, &notify, nullptr);
}

BOOL CWnd::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo)
{
    return CCmdTarget::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper != nullptr)
        return CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    const MSG& msg = t_state.lastSent;
    return DefWindowProc(msg.message, msg.wParam, msg.lParam);
}

void CWnd::PostNcDestroy() {}

void CWnd::OnNcDestroy()
{
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd == this)
        app->OnMainWindowDestroyed();
    Default();
    CleanUpAfterNcDestroy();
}

void CWnd::CleanUpAfterNcDestroy()
{
    // A modal loop still running on this window ends with it instead of waiting for ever.
    m_nFlags &= ~WF_CONTINUEMODAL;
    if (m_pfnSuper != nullptr && CurrentProc(m_hWnd) == &AfxWndProc) {
        SetProc(m_hWnd, m_pfnSuper);
        m_pfnSuper = nullptr;
    }
    Detach();
    PostNcDestroy();
}

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
ON_WM_NCDESTROY()
END_MESSAGE_MAP()

// ---- Attaching ----

CWnd::~CWnd()
{
    if (m_hWnd != nullptr) {
        // Destroy the window without routing its last messages to an object half gone.
        HWND hWnd = m_pfnSuper != nullptr ? UnsubclassWindow() : Detach();
        if (hWnd != nullptr)
            ::DestroyWindow(hWnd);
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    HandleEntry entry;
    if (hWnd == nullptr || !LookUp(hWnd, &entry))
        return nullptr;
    return entry.wnd;
}

BOOL CWnd::Attach(HWND hWndNew)
{
    if (hWndNew == nullptr || m_hWnd != nullptr)
        return FALSE;
    std::lock_guard<std::mutex> guard(MapLock());
    auto it = HandleMap().find(hWndNew);
    if (it != HandleMap().end() && it->second.wnd != nullptr)
        return FALSE;  // another object owns it
    if (it != HandleMap().end()) {
        // Still routed through AfxWndProc from an earlier object: take over its previous procedure.
        m_pfnSuper = it->second.super;
        it->second.wnd = this;
    } else {
        HandleMap()[hWndNew] = HandleEntry{this, nullptr};
    }
    m_hWnd = hWndNew;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND hWnd = m_hWnd;
    if (hWnd == nullptr)
        return nullptr;
    if (m_pfnSuper != nullptr)
        SetEntry(hWnd, nullptr, m_pfnSuper);  // messages still come through AfxWndProc
    else
        RemoveEntry(hWnd);
    m_pfnSuper = nullptr;
    m_hWnd = nullptr;
    return hWnd;
}

BOOL CWnd::AttachSubclassed(HWND hWnd)
{
    if (!Attach(hWnd))
        return FALSE;
    if (m_pfnSuper == nullptr) {
        WNDPROC old = SetProc(hWnd, &AfxWndProc);
        if (old == nullptr || old == &AfxWndProc) {
            Detach();  // could not subclass (or the window had no entry though it runs AfxWndProc)
            return FALSE;
        }
        m_pfnSuper = old;
        SetEntry(hWnd, this, old);
    }
    return TRUE;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (hWnd == nullptr || !IsWindow(hWnd))
        return FALSE;
    return AttachSubclassed(hWnd);
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    if (pParent == nullptr || pParent->m_hWnd == nullptr)
        return FALSE;
    HWND hWndControl = GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
    return hWndControl != nullptr && SubclassWindow(hWndControl);
}

HWND CWnd::UnsubclassWindow()
{
    HWND hWnd = m_hWnd;
    if (hWnd == nullptr)
        return nullptr;
    if (m_pfnSuper != nullptr && CurrentProc(hWnd) == &AfxWndProc) {
        SetProc(hWnd, m_pfnSuper);
        m_pfnSuper = nullptr;
    }
    return Detach();
}

// ---- Creation ----

LRESULT CALLBACK CWnd::CbtFilterHook(int code, WPARAM wParam, LPARAM lParam)
{
    ThreadState& ts = t_state;
    if (code == HCBT_CREATEWND && ts.pWndInit != nullptr) {
        auto hWnd = reinterpret_cast<HWND>(wParam);
        // The input method window that the system may create on the way is not ours.
        wchar_t className[8] = {};
        const bool imeWindow = (GetClassLongPtrW(hWnd, GCL_STYLE) & CS_IME) != 0 ||
                               (GetClassNameW(hWnd, className, 8) > 0 && lstrcmpiW(className, L"IME") == 0);
        if (!imeWindow) {
            CWnd* wnd = ts.pWndInit;
            ts.pWndInit = nullptr;
            wnd->AttachSubclassed(hWnd);
        }
    }
    return CallNextHookEx(ts.hook, code, wParam, lParam);
}

void CWnd::HookWindowCreate(CWnd* pWnd)
{
    ThreadState& ts = t_state;
    if (ts.hookDepth++ == 0)
        ts.hook = SetWindowsHookExW(WH_CBT, &CWnd::CbtFilterHook, nullptr, GetCurrentThreadId());
    ts.pWndInit = pWnd;
}

bool CWnd::UnhookWindowCreate()
{
    ThreadState& ts = t_state;
    if (--ts.hookDepth == 0 && ts.hook != nullptr) {
        UnhookWindowsHookEx(ts.hook);
        ts.hook = nullptr;
    }
    const bool hooked = ts.pWndInit == nullptr;
    ts.pWndInit = nullptr;
    return hooked;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, int x, int y,
                    int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam)
{
    if (m_hWnd != nullptr)
        return FALSE;
    HookWindowCreate(this);
    HWND hWnd = CreateWindowExW(dwExStyle, lpszClassName, lpszWindowName, dwStyle, x, y, nWidth, nHeight, hWndParent,
                                nIDorHMenu, AfxGetInstanceHandle(), lpParam);
    UnhookWindowCreate();
    // A window that failed in WM_NCCREATE or WM_CREATE was destroyed and detached on the way; one that
    // could not be attached is not left behind.
    if (hWnd != nullptr && m_hWnd != hWnd) {
        ::DestroyWindow(hWnd);
        return FALSE;
    }
    return hWnd != nullptr;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                    CWnd* pParentWnd, UINT nID, LPVOID lpParam)
{
    return CreateEx(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), lpParam);
}

BOOL CWnd::Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                  UINT nID)
{
    return CreateEx(0, lpszClassName, lpszWindowName, dwStyle | WS_CHILD, rect, pParentWnd, nID);
}

BOOL CWnd::DestroyWindow()
{
    if (m_hWnd == nullptr)
        return FALSE;
    return ::DestroyWindow(m_hWnd);
}

LPCWSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon)
{
    static std::mutex lock;
    static std::set<std::wstring> names;
    wchar_t name[96];
    wsprintfW(name, L"KwepAfx:%p:%x:%p:%p:%p", static_cast<void*>(AfxGetInstanceHandle()), nClassStyle,
              static_cast<void*>(hCursor), static_cast<void*>(hbrBackground), static_cast<void*>(hIcon));

    std::lock_guard<std::mutex> guard(lock);
    auto it = names.find(name);
    if (it != names.end())
        return it->c_str();
    WNDCLASSW wc{};
    wc.style = nClassStyle;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = AfxGetInstanceHandle();
    wc.hCursor = hCursor;
    wc.hbrBackground = hbrBackground;
    wc.hIcon = hIcon;
    wc.lpszClassName = name;
    if (RegisterClassW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    return names.insert(name).first->c_str();
}

// ---- Thin wrappers ----

DWORD CWnd::GetStyle() const
{
    return static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_STYLE));
}
DWORD CWnd::GetExStyle() const
{
    return static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE));
}
int CWnd::GetDlgCtrlID() const
{
    return ::GetDlgCtrlID(m_hWnd);
}
BOOL CWnd::ShowWindow(int nCmdShow)
{
    return ::ShowWindow(m_hWnd, nCmdShow);
}
void CWnd::UpdateWindow()
{
    ::UpdateWindow(m_hWnd);
}
BOOL CWnd::IsWindowVisible() const
{
    return ::IsWindowVisible(m_hWnd);
}
BOOL CWnd::EnableWindow(BOOL bEnable)
{
    return ::EnableWindow(m_hWnd, bEnable);
}
BOOL CWnd::SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
{
    return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags);
}
LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

// ---- Message loops ----

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

BOOL AfxWalkPreTranslateTree(HWND hWndStop, MSG* pMsg)
{
    for (HWND hWnd = pMsg->hwnd; hWnd != nullptr; hWnd = GetParent(hWnd)) {
        CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
        if (wnd != nullptr && wnd->PreTranslateMessage(pMsg))
            return TRUE;
        if (hWnd == hWndStop)
            break;
    }
    return FALSE;
}

const MSG* AfxGetCurrentMessage()
{
    return &t_state.msgCur;
}

BOOL AfxPumpMessage()
{
    MSG& msg = t_state.msgCur;
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0)
        return FALSE;
    if (got == -1)
        return TRUE;
    CWinApp* app = AfxGetApp();
    const BOOL filtered = app != nullptr ? app->PreTranslateMessage(&msg) : AfxWalkPreTranslateTree(nullptr, &msg);
    if (!filtered) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return TRUE;
}

BOOL CWnd::ContinueModal()
{
    return (m_nFlags & WF_CONTINUEMODAL) != 0;
}

void CWnd::EndModalLoop(int nResult)
{
    m_nModalResult = nResult;
    if (m_nFlags & WF_CONTINUEMODAL) {
        m_nFlags &= ~WF_CONTINUEMODAL;
        PostMessage(WM_NULL);  // wakes the loop if it waits for a message
    }
}

int CWnd::RunModalLoop(DWORD dwFlags)
{
    bool idle = true;
    LONG idleCount = 0;
    bool showOnIdle = (dwFlags & MLF_SHOWONIDLE) && !(GetStyle() & WS_VISIBLE);
    HWND hWndParent = GetParent(m_hWnd);
    m_nFlags |= WF_MODALLOOP | WF_CONTINUEMODAL;
    MSG peeked;

    for (;;) {
        // Idle: while nothing waits, show the window once and kick the idle processing.
        while (idle && !PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE)) {
            if (showOnIdle) {
                ShowWindow(SW_SHOWNORMAL);
                UpdateWindow();
                showOnIdle = false;
            }
            if (!(dwFlags & MLF_NOIDLEMSG) && hWndParent != nullptr && idleCount == 0)
                ::SendMessageW(hWndParent, WM_ENTERIDLE, MSGF_DIALOGBOX, reinterpret_cast<LPARAM>(m_hWnd));
            if ((dwFlags & MLF_NOKICKIDLE) || !SendMessage(WM_KICKIDLE, MSGF_DIALOGBOX, idleCount++))
                idle = false;
            if (!ContinueModal())
                goto ExitModal;
        }

        // Work: pump what waits.
        do {
            if (!AfxPumpMessage()) {
                PostQuitMessage(static_cast<int>(t_state.msgCur.wParam));
                m_nFlags &= ~(WF_MODALLOOP | WF_CONTINUEMODAL);
                m_nModalResult = -1;
                return -1;
            }
            const MSG& msg = t_state.msgCur;
            if (showOnIdle && (msg.message == 0x0118 || msg.message == WM_SYSKEYDOWN)) {
                ShowWindow(SW_SHOWNORMAL);
                UpdateWindow();
                showOnIdle = false;
            }
            if (!ContinueModal())
                goto ExitModal;
            if (IsIdleMessage(msg)) {
                idle = true;
                idleCount = 0;
            }
        } while (PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE));
    }

ExitModal:
    m_nFlags &= ~(WF_MODALLOOP | WF_CONTINUEMODAL);
    return m_nModalResult;
}
