#include "manager/framework/windows/cx_basedlg.h"

#include "manager/framework/windows/cx_app.h"

#include <cstdlib>

namespace {

int Width(const RECT& r)
{
    return r.right - r.left;
}

int Height(const RECT& r)
{
    return r.bottom - r.top;
}

// One edge's step of the anchored layout: the pair for a growing (positive) or shrinking delta, its
// move factor remapped for the left and top edges, applied with the delta's size.
void Step(const CxAnchor& anchor, int growIndex, int shrinkIndex, int delta, int& position, int& size)
{
    if (delta == 0)
        return;
    const int index = delta > 0 ? growIndex : shrinkIndex;
    int move = anchor.factors[index][0];
    const int resize = anchor.factors[index][1];
    if (index == 0 || index == 2) {
        if (move == 0)
            move = 1;
        else if (move == -1)
            move = 0;
    } else if (index == 1 || index == 3) {
        if (move == 0)
            move = -1;
        else if (move == 1)
            move = 0;
    }
    const int magnitude = std::abs(delta);
    position += move * magnitude;
    size += resize * magnitude;
}

struct Change {
    int dx = 0;
    int dy = 0;
    int dw = 0;
    int dh = 0;
};

Change ChangeFor(const CxAnchor& anchor, UINT edges, int dW, int dH)
{
    Change c;
    if (edges & CX_EDGE_LEFT)
        Step(anchor, 0, 1, dW, c.dx, c.dw);
    if (edges & CX_EDGE_TOP)
        Step(anchor, 2, 3, dH, c.dy, c.dh);
    if (edges & CX_EDGE_RIGHT)
        Step(anchor, 5, 4, dW, c.dx, c.dw);
    if (edges & CX_EDGE_BOTTOM)
        Step(anchor, 7, 6, dH, c.dy, c.dh);
    return c;
}

}  // namespace

// ---- Construction ----

CxBaseDlg::CxBaseDlg()
{
    Construct();
}

CxBaseDlg::CxBaseDlg(UINT nIDTemplate, CWnd* pParentWnd) : CxWindowProcT<CDialog>(nIDTemplate, pParentWnd)
{
    Construct();
}

CxBaseDlg::CxBaseDlg(LPCWSTR lpszTemplateName, CWnd* pParentWnd) : CxWindowProcT<CDialog>(lpszTemplateName, pParentWnd)
{
    Construct();
}

void CxBaseDlg::Construct()
{
    CxWndLink::Attach(&m_hWnd);
    m_gripWidth = GetSystemMetrics(SM_CXVSCROLL);
    m_gripHeight = GetSystemMetrics(SM_CYHSCROLL);
    ModifyFlags(CXFL_KEEPENABLED, 0, 0, 0);
}

CxBaseDlg::~CxBaseDlg()
{
    if (m_hAccel != nullptr)
        DestroyAccelerators();
}

HRESULT CxBaseDlg::DestroyAccelerators()
{
    if (m_hAccel == nullptr)
        return E_INVALIDARG;
    const BOOL destroyed = DestroyAcceleratorTable(m_hAccel);
    m_hAccel = nullptr;
    return destroyed ? S_OK : E_FAIL;
}

// ---- Messages ----

BOOL CxBaseDlg::PreTranslateMessage(MSG* pMsg)
{
    if (m_hAccel != nullptr && m_hWnd != nullptr && TranslateAcceleratorW(m_hWnd, m_hAccel, pMsg))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

BOOL CxBaseDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (m_hIcon != nullptr)
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    if (m_flagsHigh & CXFH_STRETCH) {
        GetWindowRect(m_hWnd, &m_baseRect);
        m_minWidth = Width(m_baseRect);
        m_minHeight = Height(m_baseRect);
        m_layoutInitialised = TRUE;
    }
    if (!(m_flagsLow & CXFL_SKINLOADED)) {
        ModifyFlags(CXFL_SKINLOADED, 0, 0, 0);
        SendMessage(CXM_INITSKIN);
    }
    Restore();
    if (m_toolTip.m_hWnd == nullptr && m_toolTip.Create(this, TTS_ALWAYSTIP)) {
        CxWinApp* app = CxGetApp();
        m_toolTip.Activate(app == nullptr || !(app->GetFlagsLow() & CXFL_NOTOOLTIPS));
    }
    return TRUE;
}

BOOL CxBaseDlg::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    switch (message) {
    case WM_SIZING:
        if (m_flagsHigh & CXFH_STRETCH) {
            static const UINT kEdges[] = {0,
                                          CX_EDGE_LEFT,
                                          CX_EDGE_RIGHT,
                                          CX_EDGE_TOP,
                                          CX_EDGE_TOP | CX_EDGE_LEFT,
                                          CX_EDGE_TOP | CX_EDGE_RIGHT,
                                          CX_EDGE_BOTTOM,
                                          CX_EDGE_BOTTOM | CX_EDGE_LEFT,
                                          CX_EDGE_BOTTOM | CX_EDGE_RIGHT};
            if (wParam < WMSZ_LEFT || wParam > WMSZ_BOTTOMRIGHT || lParam == 0)
                break;
            if (m_layoutInitialised)
                RepositionControls(kEdges[wParam], m_baseRect, *reinterpret_cast<RECT*>(lParam));
            lResult = TRUE;
            return TRUE;
        }
        break;
    case WM_SIZE:
        if (m_flagsHigh & CXFH_STRETCH) {
            UINT edges;
            if (wParam == SIZE_RESTORED)
                edges = CX_EDGES_RESTORED;
            else if (wParam == SIZE_MAXIMIZED)
                edges = CX_EDGES_MAXIMIZED;
            else
                break;
            if (!IsIconic(hWnd) && m_layoutInitialised) {
                RECT current{};
                GetWindowRect(hWnd, &current);
                RepositionControls(edges, m_baseRect, current);
            }
            if (m_drawGrip) {
                const RECT grip = GripRect();
                InvalidateRect(hWnd, &grip, TRUE);
            }
            lResult = 0;
            return TRUE;
        }
        break;
    case CXM_ENABLETOOLTIPS:
        m_toolTip.Activate(static_cast<BOOL>(wParam));
        lResult = 1;
        return TRUE;
    default:
        break;
    }
    if (CxEndDialogLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN))
        return TRUE;
    return CxPersistWnd::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN);
}

RECT CxBaseDlg::GripRect() const
{
    RECT client{};
    GetClientRect(m_hWnd, &client);
    return RECT{client.right - m_gripWidth, client.bottom - m_gripHeight, client.right, client.bottom};
}

LRESULT CxBaseDlg::OnEraseBkgnd(WPARAM wParam, LPARAM)
{
    const LRESULT result = Default();
    if (m_drawGrip && !IsZoomed(m_hWnd)) {
        RECT grip = GripRect();
        DrawFrameControl(reinterpret_cast<HDC>(wParam), &grip, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
    }
    return result;
}

LRESULT CxBaseDlg::OnPaint(WPARAM, LPARAM)
{
    if (!IsIconic(m_hWnd)) {
        // The dialog's own client area only: validating the whole window would also validate its children
        // when it does not clip them, and they would never paint.
        RedrawWindow(m_hWnd, nullptr, nullptr, RDW_VALIDATE | RDW_NOCHILDREN);
        return 0;
    }
    if (m_hIcon == nullptr)
        return Default();
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(m_hWnd, &client);
    const int x = (Width(client) - (GetSystemMetrics(SM_CXICON) + 1)) / 2;
    const int y = (Height(client) - (GetSystemMetrics(SM_CYICON) + 1)) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return 0;
}

LRESULT CxBaseDlg::OnKickIdle(WPARAM, LPARAM)
{
    UpdateCommandUI();
    return 0;
}

LRESULT CxBaseDlg::OnNcHitTest(WPARAM, LPARAM lParam)
{
    if (m_gripHitTest) {
        POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ScreenToClient(m_hWnd, &point);
        const RECT grip = GripRect();
        if (point.x >= 0 && point.y >= 0 && PtInRect(&grip, point))
            return HTBOTTOMRIGHT;
    }
    return Default();
}

LRESULT CxBaseDlg::OnGetMinMaxInfo(WPARAM, LPARAM lParam)
{
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    if ((m_flagsHigh & CXFH_STRETCH) && m_layoutInitialised && info != nullptr) {
        info->ptMinTrackSize.x = m_minWidth;
        info->ptMinTrackSize.y = m_minHeight;
    }
    return 0;
}

LRESULT CxBaseDlg::OnQueryDragIcon(WPARAM, LPARAM)
{
    if (m_hIcon != nullptr)
        return reinterpret_cast<LRESULT>(m_hIcon);
    return Default();
}

LRESULT CxBaseDlg::OnLButtonDown(WPARAM, LPARAM)
{
    if (!(m_flagsLow & CXFL_CLICKENDS) || (GetKeyState(VK_SHIFT) & 0x8000))
        PostMessage(CXM_DRAGWINDOW, reinterpret_cast<WPARAM>(m_hWnd), 0);
    else
        PostMessage(CXM_ENDDIALOG, 0, 1);
    return 0;
}

LRESULT CxBaseDlg::OnDestroy(WPARAM, LPARAM)
{
    Save();
    if (m_hAccel != nullptr)
        DestroyAccelerators();
    return Default();
}

BEGIN_MESSAGE_MAP(CxBaseDlg, CDialog)
ON_MESSAGE(WM_ERASEBKGND, OnEraseBkgnd)
ON_MESSAGE(WM_PAINT, OnPaint)
ON_MESSAGE(WM_KICKIDLE, OnKickIdle)
ON_MESSAGE(WM_NCHITTEST, OnNcHitTest)
ON_MESSAGE(WM_GETMINMAXINFO, OnGetMinMaxInfo)
ON_MESSAGE(WM_QUERYDRAGICON, OnQueryDragIcon)
ON_MESSAGE(WM_LBUTTONDOWN, OnLButtonDown)
ON_MESSAGE(WM_DESTROY, OnDestroy)
END_MESSAGE_MAP()

// ---- Tooltips and command UI ----

void CxBaseDlg::TranslateControls(const CxControlText* table, int count)
{
    CxWinApp* app = CxGetApp();
    if (table == nullptr || app == nullptr || m_toolTip.m_hWnd == nullptr)
        return;
    for (int i = 0; i < count; ++i) {
        HWND control = GetDlgItem(m_hWnd, static_cast<int>(table[i].controlId));
        if (control == nullptr)
            continue;
        CxString text;
        if (!app->GetString(text, table[i].stringId) || text.IsEmpty())
            continue;
        const wchar_t* whole = text;
        const wchar_t* tip = wcschr(whole, L'\n');
        tip = tip != nullptr ? tip + 1 : whole;
        if (m_toolTip.HasTool(control))
            m_toolTip.UpdateTipText(tip, control);
        else
            m_toolTip.AddTool(control, tip, TTF_SUBCLASS);
    }
}

void CxBaseDlg::UpdateCommandUI()
{
    UpdateDialogControls(this, !(m_flagsLow & CXFL_KEEPENABLED));
}

// ---- Anchored layout ----

HRESULT CxBaseDlg::SetAnchors(const CxAnchor* table, int count, BOOL drawGrip, BOOL gripHitTest)
{
    HRESULT hr = S_OK;
    for (int i = 0; table != nullptr && i < count; ++i) {
        HWND control = GetDlgItem(m_hWnd, table[i].id);
        if (control == nullptr)
            continue;
        RECT r{};
        GetWindowRect(control, &r);
        AnchorEntry entry{table[i], Width(r), Height(r)};
        if (!m_anchors.Add(entry))
            hr = E_OUTOFMEMORY;
    }
    m_drawGrip = drawGrip;
    m_gripHitTest = gripHitTest;
    if (m_hWnd != nullptr && !IsIconic(m_hWnd) && m_layoutInitialised) {
        RECT current{};
        GetWindowRect(m_hWnd, &current);
        RepositionControls(CX_EDGES_RESTORED, m_baseRect, current);
    }
    return hr;
}

HRESULT CxBaseDlg::RepositionControls(UINT edges, RECT& base, RECT& newRect)
{
    const int count = m_anchors.GetCount();
    if (count == 0)
        return CX_E_NOTREGISTERED;
    int dW = Width(newRect) - Width(base);
    int dH = Height(newRect) - Height(base);

    // The minimum-size clamp first, so that every child is laid out with the same deltas: a change that
    // would make an anchored control smaller than its registered size is dropped, and the window is held
    // at the base size in that direction (on the side being dragged).
    bool clampWidth = false;
    bool clampHeight = false;
    for (int i = 0; i < count; ++i) {
        const AnchorEntry& entry = m_anchors.GetAt(i);
        HWND control = GetDlgItem(m_hWnd, entry.anchor.id);
        if (control == nullptr)
            continue;
        RECT r{};
        GetWindowRect(control, &r);
        const Change c = ChangeFor(entry.anchor, edges, dW, dH);
        if (c.dw != 0 && Width(r) + c.dw < entry.width)
            clampWidth = true;
        if (c.dh != 0 && Height(r) + c.dh < entry.height)
            clampHeight = true;
    }
    if (clampWidth) {
        if ((edges & CX_EDGE_LEFT) && !(edges & CX_EDGE_RIGHT))
            newRect.left = newRect.right - Width(base);
        else
            newRect.right = newRect.left + Width(base);
        dW = 0;
    }
    if (clampHeight) {
        if ((edges & CX_EDGE_TOP) && !(edges & CX_EDGE_BOTTOM))
            newRect.top = newRect.bottom - Height(base);
        else
            newRect.bottom = newRect.top + Height(base);
        dH = 0;
    }

    HDWP positions = BeginDeferWindowPos(count);
    for (int i = 0; i < count; ++i) {
        const AnchorEntry& entry = m_anchors.GetAt(i);
        HWND control = GetDlgItem(m_hWnd, entry.anchor.id);
        if (control == nullptr)
            continue;
        const Change c = ChangeFor(entry.anchor, edges, dW, dH);
        UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        if (c.dx == 0 && c.dy == 0)
            flags |= SWP_NOMOVE;
        if (c.dw == 0 && c.dh == 0)
            flags |= SWP_NOSIZE;
        if ((flags & SWP_NOMOVE) && (flags & SWP_NOSIZE))
            continue;
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        if (positions != nullptr)
            positions = DeferWindowPos(positions, control, nullptr, r.left + c.dx, r.top + c.dy, Width(r) + c.dw,
                                       Height(r) + c.dh, flags);
        else
            ::SetWindowPos(control, nullptr, r.left + c.dx, r.top + c.dy, Width(r) + c.dw, Height(r) + c.dh, flags);
    }
    if (positions != nullptr)
        EndDeferWindowPos(positions);
    // The next layout measures from here.
    base = newRect;
    return S_OK;
}

// ---- Persisted properties ----

HRESULT CxBaseDlg::GetPersistKeyPath(CxKeyPath& path)
{
    CxWinApp* app = CxGetApp();
    if (app == nullptr)
        return E_UNEXPECTED;
    HRESULT hr = app->GetPersistKeyPath(path);
    if (FAILED(hr))
        return hr;
    CxString component;
    hr = component.Format(L"d_%08x", GetTemplateId());
    if (FAILED(hr))
        return hr;
    return CxKeyPathAdd(path, component);
}

HRESULT CxBaseDlg::GetPersistProps(CxPersistEntries& list)
{
    if (!list.Add(CxPlacementEntry(m_hWnd)))
        return E_OUTOFMEMORY;
    return CxPersistProps::GetPersistProps(list);
}
