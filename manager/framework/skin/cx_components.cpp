#include "manager/framework/skin/cx_components.h"

#include "manager/framework/windows/cx_app.h"
#include "manager/framework/windows/cx_platform.h"

#include <atomic>

namespace {

BOOL DestroyCursorBySystem(HCURSOR cursor)
{
    return DestroyCursor(cursor);
}

std::atomic<CxDestroyCursorHook> g_destroyCursor{DestroyCursorBySystem};

constexpr WORD kHandCursorId = 32649;

// The window's region (a copy), or its window rectangle in window coordinates when it has none or an
// empty one. Null when out of resources.
HRGN WindowShape(HWND hWnd)
{
    RECT window{};
    GetWindowRect(hWnd, &window);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    if (region == nullptr)
        return nullptr;
    const int kind = GetWindowRgn(hWnd, region);
    if (kind == ERROR || kind == NULLREGION) {
        if (!SetRectRgn(region, 0, 0, window.right - window.left, window.bottom - window.top)) {
            DeleteObject(region);
            return nullptr;
        }
    }
    return region;
}

}  // namespace

// ---- Helpers ----

HRESULT CxGetFrameMetrics(HWND hWnd, CxFrameMetrics* metrics)
{
    if (metrics == nullptr || FAILED(CxIsWindow(hWnd)))
        return E_INVALIDARG;
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hWnd, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(hWnd, GWL_EXSTYLE));
    // A child's "menu" is its id.
    const BOOL menu = !(style & WS_CHILD) && GetMenu(hWnd) != nullptr;
    RECT frame{0, 0, 0, 0};
    if (!AdjustWindowRectEx(&frame, style, menu, exStyle))
        return E_FAIL;
    *metrics = CxFrameMetrics{-frame.left, -frame.top, frame.right - frame.left, frame.bottom - frame.top};
    return S_OK;
}

BOOL CxIsPointOver(HWND hWnd, POINT screen)
{
    if (FAILED(CxIsWindow(hWnd)))
        return FALSE;
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hWnd, GWL_STYLE));
    HWND parent = GetParent(hWnd);
    if (!(style & WS_POPUP) && parent != nullptr && IsWindow(parent)) {
        RECT client{};
        GetClientRect(parent, &client);
        POINT inParent = screen;
        ScreenToClient(parent, &inParent);
        if (!PtInRect(&client, inParent))
            return FALSE;
    }
    RECT window{};
    GetWindowRect(hWnd, &window);
    HRGN shape = WindowShape(hWnd);
    if (shape == nullptr)
        return FALSE;
    const BOOL over = PtInRegion(shape, screen.x - window.left, screen.y - window.top);
    DeleteObject(shape);
    return over;
}

BOOL CxIsMouseOver(HWND hWnd)
{
    POINT cursor{};
    if (!GetCursorPos(&cursor))
        return FALSE;
    return CxIsPointOver(hWnd, cursor);
}

HRESULT CxPostHoverText(CxWndLink* component, HWND window, const wchar_t* text, LPARAM lParam)
{
    if (component == nullptr || component->GetWnd() == nullptr || !(component->GetLow() & CXFL_HASTOOLTIP))
        return E_ACCESSDENIED;
    return CxPostText(window, CXM_SETTEXT, text, lParam);
}

// ---- CxChildRegion ----

BOOL CxChildRegion::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                         DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (run == CxMapRun::BaseAndOwn && CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    if (message != CXM_ADDCHILDREGION)
        return FALSE;
    lResult = OnAddChildRegion(hWnd, reinterpret_cast<HRGN*>(wParam), static_cast<int>(lParam));
    return TRUE;
}

LRESULT CxChildRegion::OnAddChildRegion(HWND hWnd, HRGN* record, int mode)
{
    if (record == nullptr)
        return 0;
    HWND parent = GetParent(hWnd);
    if (parent == nullptr || !IsWindow(parent))
        return 1;
    // A record without a region starts from the parent's own shape; if anything fails after that, the
    // region started here goes again.
    HRGN started = nullptr;
    if (*record == nullptr) {
        started = WindowShape(parent);
        if (started == nullptr)
            return 1;
        *record = started;
    }
    auto undo = [&] {
        if (started != nullptr) {
            DeleteObject(started);
            *record = nullptr;
        }
    };
    if (!(GetWindowLongW(hWnd, GWL_STYLE) & WS_VISIBLE))
        return 1;
    HRGN shape = WindowShape(hWnd);
    if (shape == nullptr) {
        undo();
        return 1;
    }
    RECT box{};
    if (GetRgnBox(shape, &box) == NULLREGION) {
        DeleteObject(shape);
        return 1;
    }
    // The child's place in the parent's window coordinates: its window rectangle in the parent's client
    // area, plus where that client area lies in the parent's window.
    RECT window{};
    GetWindowRect(hWnd, &window);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&window), 2);
    CxFrameMetrics frame{};
    if (FAILED(CxGetFrameMetrics(parent, &frame)) ||
        OffsetRgn(shape, window.left + frame.left, window.top + frame.top) == ERROR ||
        CombineRgn(*record, *record, shape, mode) == ERROR) {
        DeleteObject(shape);
        undo();
        return 1;
    }
    DeleteObject(shape);
    return 1;
}

// ---- CxCursor ----

CxDestroyCursorHook CxSetDestroyCursorHook(CxDestroyCursorHook hook)
{
    return g_destroyCursor.exchange(hook != nullptr ? hook : DestroyCursorBySystem);
}

CxCursor::~CxCursor()
{
    Release();
}

void CxCursor::Release()
{
    // A shared cursor belongs to the system (or to the module's resources): it is only let go.
    if (m_hCursor != nullptr && !m_shared)
        g_destroyCursor.load()(m_hCursor);
    m_hCursor = nullptr;
    m_shared = false;
}

HRESULT CxCursor::Take(HCURSOR& cursor, BOOL required, bool shared)
{
    if (required && cursor == nullptr)
        return E_INVALIDARG;
    if (cursor != m_hCursor)
        Release();
    m_hCursor = cursor;
    m_shared = shared;
    cursor = nullptr;
    Apply();
    return S_OK;
}

HRESULT CxCursor::SetCursor(HCURSOR& cursor, BOOL required)
{
    return Take(cursor, required, false);
}

HRESULT CxCursor::Apply()
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr || !CxIsMouseOver(hWnd))
        return E_FAIL;
    ::SetCursor(m_hCursor);
    return S_OK;
}

HRESULT CxCursor::UseHandCursor()
{
    HCURSOR hand = CxGetPlatform() == CX_PLATFORM_WIN95
                       ? LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kHandCursorId))
                       : LoadCursorW(nullptr, MAKEINTRESOURCEW(kHandCursorId));
    return Take(hand, TRUE, true);
}

BOOL CxCursor::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                    DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (run == CxMapRun::BaseAndOwn && CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    if (message != WM_SETCURSOR || m_hCursor == nullptr || !CxIsMouseOver(hWnd))
        return FALSE;
    ::SetCursor(m_hCursor);
    lResult = TRUE;
    return TRUE;
}

// ---- Tooltip text ----

HRESULT CxToolTipString::Set(const wchar_t* text, int flags)
{
    const HRESULT hr = m_toolTip.Assign(text);
    if (FAILED(hr))
        return hr;
    m_toolTipFlags = flags;
    return S_OK;
}

void CxToolTipText::SetDlgItemTips(const CxDlgItemTip* table, int count)
{
    HWND dialog = GetWnd();
    CxWinApp* app = CxGetApp();
    if (dialog == nullptr || table == nullptr || app == nullptr)
        return;
    for (int i = 0; i < count; ++i) {
        HWND control = GetDlgItem(dialog, static_cast<int>(table[i].controlId));
        if (control == nullptr)
            continue;
        CxString text;
        if (!app->GetString(text, table[i].textId) || text.IsEmpty())
            continue;
        int lineBreak = 0;
        if (SUCCEEDED(text.Find(L"\n", &lineBreak))) {
            CxString before;
            wchar_t* cut = CxStrSplitAt(text, TRUE, L'\n');
            before.Attach(cut);
            if (before.IsEmpty())
                continue;
            text = std::move(before);
        }
        CxModifyFlagsParams params{CXFL_HASTOOLTIP, 0, 0, 0, 0, 0, 0};
        if (SendMessageW(control, CXM_MODIFYFLAGS, reinterpret_cast<WPARAM>(&params), 0) == 0)
            continue;
        SendMessageW(control, CXM_SETTOOLTIP, reinterpret_cast<WPARAM>(static_cast<const wchar_t*>(text)),
                     static_cast<LPARAM>(table[i].flags));
    }
}

BOOL CxToolTipText::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                         DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (run == CxMapRun::BaseAndOwn && CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    switch (message) {
    case CXM_SETTOOLTIP:
        Set(reinterpret_cast<const wchar_t*>(wParam), static_cast<int>(lParam));
        lResult = 1;
        return TRUE;
    case CXM_SETTEXT:
        // Taken: the answer 1 tells the window procedure not to free it again.
        CxFree(reinterpret_cast<void*>(wParam));
        lResult = 1;
        return TRUE;
    default:
        return FALSE;
    }
}
