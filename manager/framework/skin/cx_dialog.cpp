#include "manager/framework/skin/cx_dialog.h"

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

// Sorts the lines by their image position, ascending; equal positions keep their order.
void SortLines(CxArray<CxSkinGridLine>& lines, bool vertical)
{
    auto key = [vertical](const CxSkinGridLine& line) {
        return vertical ? line.skinX : line.skinY;
    };
    for (int i = 1; i < lines.GetCount(); ++i) {
        for (int j = i; j > 0 && key(lines.GetAt(j - 1)) > key(lines.GetAt(j)); --j) {
            const CxSkinGridLine swap = lines.GetAt(j);
            lines.ElementAt(j) = lines.GetAt(j - 1);
            lines.ElementAt(j - 1) = swap;
        }
    }
}

// The image is selected into a DC of its own for the copies.
class SelectedBitmap {
public:
    explicit SelectedBitmap(HBITMAP bitmap) : m_dc(CreateCompatibleDC(nullptr))
    {
        if (m_dc != nullptr)
            m_old = SelectObject(m_dc, bitmap);
    }
    ~SelectedBitmap()
    {
        if (m_dc == nullptr)
            return;
        if (m_old != nullptr && m_old != HGDI_ERROR)
            SelectObject(m_dc, m_old);
        DeleteDC(m_dc);
    }
    SelectedBitmap(const SelectedBitmap&) = delete;
    SelectedBitmap& operator=(const SelectedBitmap&) = delete;
    HDC Get() const { return (m_old != nullptr && m_old != HGDI_ERROR) ? m_dc : nullptr; }

private:
    HDC m_dc;
    HGDIOBJ m_old = nullptr;
};

// Draws the stretched image into the target DC, which holds a section of the target size.
HRESULT DrawStretched(HDC target, HBITMAP image, const CxArray<CxSkinGridLine>& vertical,
                      const CxArray<CxSkinGridLine>& horizontal, SIZE imageSize, SIZE targetSize)
{
    SelectedBitmap source(image);
    if (source.Get() == nullptr)
        return E_FAIL;
    HDC src = source.Get();
    CxArray<CxStretchCell> cells(16);
    CxStretchCells(vertical, horizontal, imageSize, targetSize, cells);
    const int columns = vertical.GetCount() + 1;
    if (cells.GetCount() != columns * (horizontal.GetCount() + 1))
        return E_OUTOFMEMORY;
    BOOL ok = TRUE;
    for (int i = 0; i < cells.GetCount(); ++i) {
        const CxStretchCell& c = cells.GetAt(i);
        if (c.sw > 0 && c.sh > 0)
            ok &= BitBlt(target, c.tx, c.ty, c.sw, c.sh, src, c.sx, c.sy, SRCCOPY);
    }
    // Wider cells repeat the source cell's last column: once over the whole height when the image is as
    // tall as the target, else row by row.
    const bool sameHeight = imageSize.cy == targetSize.cy;
    for (int i = 0; i < (sameHeight ? columns : cells.GetCount()); ++i) {
        const CxStretchCell& c = cells.GetAt(i);
        if (c.sw <= 0 || c.tw <= c.sw)
            continue;
        for (int x = c.tx + c.sw; x < c.tx + c.tw; ++x) {
            ok &= sameHeight ? BitBlt(target, x, 0, 1, imageSize.cy, src, c.sx + c.sw - 1, 0, SRCCOPY)
                             : BitBlt(target, x, c.ty, 1, c.sh, src, c.sx + c.sw - 1, c.sy, SRCCOPY);
        }
    }
    // Taller cells then repeat their own last row as it now stands (widened), so the corners grow too:
    // once over the whole width when the image is as wide as the target, else cell by cell.
    const bool sameWidth = imageSize.cx == targetSize.cx;
    for (int i = 0; i < cells.GetCount(); i += sameWidth ? columns : 1) {
        const CxStretchCell& c = cells.GetAt(i);
        if (c.sh <= 0 || c.th <= c.sh)
            continue;
        const int left = sameWidth ? 0 : c.tx;
        const int width = sameWidth ? imageSize.cx : c.tw;
        for (int y = c.ty + c.sh; y < c.ty + c.th; ++y)
            ok &= BitBlt(target, left, y, width, 1, target, left, c.ty + c.sh - 1, SRCCOPY);
    }
    return ok ? S_OK : E_FAIL;
}

SIZE BitmapSize(HBITMAP bitmap)
{
    BITMAP info{};
    if (bitmap == nullptr || GetObjectW(bitmap, sizeof(info), &info) == 0)
        return SIZE{0, 0};
    return SIZE{info.bmWidth, info.bmHeight};
}

}  // namespace

// ---- Stretching ----

void CxStretchCells(const CxArray<CxSkinGridLine>& vertical, const CxArray<CxSkinGridLine>& horizontal, SIZE image,
                    SIZE target, CxArray<CxStretchCell>& cells)
{
    cells.RemoveAll();
    const int columns = vertical.GetCount() + 1;
    const int rows = horizontal.GetCount() + 1;
    // Edges of the cells: 0, the lines, the size.
    auto edge = [](const CxArray<CxSkinGridLine>& lines, int i, bool vertical, bool skin, int size) {
        if (i == 0)
            return 0;
        if (i > lines.GetCount())
            return size;
        const CxSkinGridLine& line = lines.GetAt(i - 1);
        return vertical ? (skin ? line.skinX : line.x) : (skin ? line.skinY : line.y);
    };
    for (int r = 0; r < rows; ++r) {
        const int sy = edge(horizontal, r, false, true, image.cy);
        const int ty = edge(horizontal, r, false, false, target.cy);
        const int sh = edge(horizontal, r + 1, false, true, image.cy) - sy;
        const int th = edge(horizontal, r + 1, false, false, target.cy) - ty;
        for (int c = 0; c < columns; ++c) {
            const int sx = edge(vertical, c, true, true, image.cx);
            const int tx = edge(vertical, c, true, false, target.cx);
            const CxStretchCell cell{sx, sy, edge(vertical, c + 1, true, true, image.cx) - sx,   sh,
                                     tx, ty, edge(vertical, c + 1, true, false, target.cx) - tx, th};
            if (!cells.Add(cell))
                return;
        }
    }
}

HRESULT CxStretchFrameImage(HBITMAP image, const CxArray<CxSkinGridLine>& vertical,
                            const CxArray<CxSkinGridLine>& horizontal, SIZE target, HWND hWnd, HBITMAP* stretched)
{
    if (stretched == nullptr)
        return E_POINTER;
    *stretched = nullptr;
    const SIZE imageSize = BitmapSize(image);
    if (imageSize.cx <= 0 || imageSize.cy <= 0 || target.cx <= 0 || target.cy <= 0)
        return E_INVALIDARG;
    CxMemDC dc(hWnd);
    HRESULT hr = dc.CreateDIB(target, 32, RGB(0, 0, 0));
    if (SUCCEEDED(hr))
        hr = DrawStretched(dc.GetSafeHdc(), image, vertical, horizontal, imageSize, target);
    if (FAILED(hr))
        return hr;
    GdiFlush();
    *stretched = dc.DetachBitmap();
    return S_OK;
}

int CxSpreadOffset(int delta, int n, int k)
{
    if (n <= 0 || k <= 0)
        return 0;
    const int q = delta / n;
    const int r = delta % n;
    const int extra = k < std::abs(r) ? k : std::abs(r);
    return k * q + (r < 0 ? -extra : extra);
}

// ---- CxDialog ----

CxDialog::CxDialog()
{
    Construct();
}

CxDialog::CxDialog(UINT nIDTemplate, CWnd* pParentWnd) : CxSkinDlg(nIDTemplate, pParentWnd)
{
    Construct();
}

CxDialog::CxDialog(LPCWSTR lpszTemplateName, CWnd* pParentWnd) : CxSkinDlg(lpszTemplateName, pParentWnd)
{
    Construct();
}

void CxDialog::Construct()
{
    // The region comes with the skin's frame image, not on WM_CREATE.
    m_flagsLow &= ~CXFL_APPLYSHAPEONCREATE;
}

CxDialog::~CxDialog()
{
    m_vertical.RemoveAll();
    m_horizontal.RemoveAll();
    if (m_hStretchRegion != nullptr)
        DeleteObject(m_hStretchRegion);
}

void CxDialog::ResetFrame()
{
    Invalidate();
    m_vertical.RemoveAll();
    m_horizontal.RemoveAll();
    m_grip = CxSkinGrip{0, -100, -100};
    m_captionButtons[0] = m_captionButtons[1] = CxSkinPosition{};
    m_flagsHigh &= ~CXFH_BKGNDSTALE;
    if (m_hStretchRegion != nullptr) {
        DeleteObject(m_hStretchRegion);
        m_hStretchRegion = nullptr;
    }
}

HRESULT CxDialog::GetSkinProps(CxSkinPropEntries& list)
{
    if (!m_section.IsEmpty()) {
        HWND owner = GetWnd();
        if (!list.Add(CxSkinPropEntry{m_section, L"img", 1, owner, CxSkinParseImage}) ||
            !list.Add(CxSkinPropEntry{m_section, L"grip", 1, owner, CxSkinParseSize}) ||
            !list.Add(CxSkinPropEntry{m_section, L"grid", -1, owner, CxSkinParsePos}) ||
            !list.Add(CxSkinPropEntry{m_section, L"minimize", 1, owner, CxSkinParsePos}) ||
            !list.Add(CxSkinPropEntry{m_section, L"close", 1, owner, CxSkinParsePos}))
            return E_OUTOFMEMORY;
    }
    return CxSkinProps::GetSkinProps(list);
}

HRESULT CxDialog::ApplySkinSection(const wchar_t* skinFile)
{
    ResetFrame();
    if (m_section.IsEmpty())
        return S_FALSE;
    RegisterSkinProps();
    CxSkinSizes grips{1};
    CxSkinPositions grid{4};
    CxSkinPositions minimize{1};
    CxSkinPositions close{1};
    void* targets[] = {&GetImageList(), &grips, &grid, &minimize, &close};
    // A key that is missing or malformed leaves its part unset; the frame image decides the result.
    CxIniReadSection(GetSkinRecords(), m_section, skinFile, targets, 5, 0, nullptr, GetPackData(GetWnd()));
    if (minimize.GetCount() > 0)
        m_captionButtons[0] = minimize.GetAt(0);
    if (close.GetCount() > 0)
        m_captionButtons[1] = close.GetAt(0);
    if (grips.GetCount() > 0 && grips.GetAt(0).set)
        m_grip = CxSkinGrip{1, grips.GetAt(0).cx, grips.GetAt(0).cy};
    if (m_grip.set) {
        m_gripWidth = m_grip.cx;
        m_gripHeight = m_grip.cy;
    }
    if (grid.GetCount() > 0 && grid.GetAt(0).set) {
        for (int i = 0; i < grid.GetCount(); ++i) {
            const CxSkinPosition& entry = grid.GetAt(i);
            if (!entry.set)
                continue;
            const CxSkinGridLine line{entry.x, entry.y, entry.x, entry.y, entry.w, entry.h};
            bool added = true;
            if (entry.x != 0)
                added = m_vertical.Add(line);
            else if (entry.y != 0)
                added = m_horizontal.Add(line);
            if (!added)
                return E_OUTOFMEMORY;
        }
        SortLines(m_vertical, true);
        SortLines(m_horizontal, false);
    }
    return ApplyImage();
}

HRESULT CxDialog::GetFrameDelta(SIZE* delta, const RECT& newRect)
{
    if (delta == nullptr)
        return E_POINTER;
    CxFrameMetrics frame{};
    if (FAILED(CxGetFrameMetrics(GetWnd(), &frame)))
        return E_FAIL;
    SIZE reference{0, 0};
    // The size the lines stand for: the last layout's while it has not been painted (or when asked for),
    // else the painted background's.
    if (m_flagsHigh & (CXFH_SKINFRAMESIZE | CXFH_BKGNDSTALE)) {
        reference = SIZE{Width(m_lastRect) - frame.extraWidth, Height(m_lastRect) - frame.extraHeight};
    } else {
        reference = BitmapSize(GetBackground());
        if (reference.cx == 0 && reference.cy == 0)
            return E_FAIL;
    }
    const SIZE client{Width(newRect) - frame.extraWidth, Height(newRect) - frame.extraHeight};
    if (client.cx == reference.cx && client.cy == reference.cy)
        return S_FALSE;
    *delta = SIZE{client.cx - reference.cx, client.cy - reference.cy};
    return S_OK;
}

int CxDialog::MoveLines(CxArray<CxSkinGridLine>& lines, bool vertical, UINT edges, int delta)
{
    const int n = lines.GetCount();
    const bool spread = (edges & CX_EDGES_SPREAD) != 0 && n > 1;
    const UINT first = vertical ? CX_EDGE_LEFT : CX_EDGE_TOP;
    const UINT second = vertical ? CX_EDGE_RIGHT : CX_EDGE_BOTTOM;
    int offset = spread ? 0 : delta;
    int grown = 0;
    int previous = 0;
    int previousSkin = 0;
    for (int k = 0; k < n; ++k) {
        CxSkinGridLine& line = lines.ElementAt(k);
        if (spread)
            offset += CxSpreadOffset(delta, n, k + 1) - CxSpreadOffset(delta, n, k);
        int& current = vertical ? line.x : line.y;
        const int skin = vertical ? line.skinX : line.skinY;
        if (((edges & first) && line.a) || ((edges & second) && line.b))
            current += offset;
        // Never closer to the line before (or the near edge) than in the image: the window grows instead.
        const int shortfall = (skin - previousSkin) - (current - previous);
        if (shortfall > 0) {
            offset += shortfall;
            grown += shortfall;
            current += shortfall;
        }
        previous = current;
        previousSkin = skin;
    }
    return grown;
}

HRESULT CxDialog::RepositionControls(UINT edges, RECT& base, RECT& newRect)
{
    const HRESULT hr = CxSkinDlg::RepositionControls(edges, base, newRect);
    if (m_vertical.GetCount() == 0 && m_horizontal.GetCount() == 0)
        return hr;
    SIZE delta{0, 0};
    if (GetFrameDelta(&delta, newRect) != S_OK)
        return hr;
    CxFrameMetrics frame{};
    CxGetFrameMetrics(GetWnd(), &frame);
    m_lastEdges = edges;
    m_lastClient = SIZE{Width(newRect) - frame.extraWidth, Height(newRect) - frame.extraHeight};
    if (edges & (CX_EDGE_LEFT | CX_EDGE_RIGHT))
        newRect.right += MoveLines(m_vertical, true, edges, delta.cx);
    if (edges & (CX_EDGE_TOP | CX_EDGE_BOTTOM))
        newRect.bottom += MoveLines(m_horizontal, false, edges, delta.cy);
    if (SUCCEEDED(OnStretchLayout(edges, newRect)) && !(m_flagsHigh & CXFH_SKINFRAMESIZE)) {
        m_flagsHigh |= CXFH_BKGNDSTALE;
        if (HWND hWnd = GetWnd())
            InvalidateRect(hWnd, nullptr, TRUE);
    }
    m_lastRect = newRect;
    return hr;
}

HRESULT CxDialog::OnStretchLayout(UINT, const RECT&)
{
    return S_OK;
}

HRESULT CxDialog::RebuildBackground()
{
    HWND hWnd = GetWnd();
    HBITMAP image = nullptr;
    HRESULT hr = m_images.GetImage(m_images.m_state, &image, TRUE);
    if (FAILED(hr))
        return hr;
    RECT client{};
    if (hWnd == nullptr || !GetClientRect(hWnd, &client))
        return E_FAIL;
    const SIZE imageSize = BitmapSize(image);
    const SIZE target{client.right, client.bottom};
    if (imageSize.cx <= 0 || target.cx <= 0 || target.cy <= 0)
        return E_INVALIDARG;
    CxMemDC dc(hWnd);
    hr = dc.CreateDIB(target, 32, RGB(0, 0, 0));
    if (SUCCEEDED(hr))
        hr = DrawStretched(dc.GetSafeHdc(), image, m_vertical, m_horizontal, imageSize, target);
    if (FAILED(hr))
        return hr;
    GdiFlush();
    // A shaped frame keeps its outline: the region is cut again from the stretched image.
    HRGN imageRegion = nullptr;
    CxGdiOwner<HRGN> outline;
    if (SUCCEEDED(m_images.GetRegionHandle(m_images.m_state, &imageRegion)) && imageRegion != nullptr &&
        !(m_flagsHigh & CXFH_NOREGIONCUT)) {
        hr = CxRegionFromDibSection(dc, outline.Receive());
        if (FAILED(hr))
            return hr;
    }
    hr = SetBackground(dc.DetachBitmap());
    if (FAILED(hr) || outline.Get() == nullptr)
        return hr;
    CxGdiOwner<HRGN> windowRegion(CreateRectRgn(0, 0, 0, 0));
    CxFrameMetrics frame{};
    if (windowRegion.Get() == nullptr || CombineRgn(windowRegion.Get(), outline.Get(), nullptr, RGN_COPY) == ERROR ||
        FAILED(CxGetFrameMetrics(hWnd, &frame)))
        return E_OUTOFMEMORY;
    OffsetRgn(windowRegion.Get(), frame.left, frame.top);
    if (m_hStretchRegion != nullptr)
        DeleteObject(m_hStretchRegion);
    m_hStretchRegion = outline.Release();
    return SetRegion(windowRegion.Release(), nullptr);
}

HRESULT CxDialog::OnPaintBackground(HDC hdc)
{
    HRESULT hr = S_OK;
    if ((m_flagsHigh & CXFH_STRETCH) && (m_flagsHigh & CXFH_BKGNDSTALE)) {
        HWND hWnd = GetWnd();
        RECT client{};
        if (hWnd != nullptr && GetClientRect(hWnd, &client) &&
            (client.right != m_lastClient.cx || client.bottom != m_lastClient.cy) && (m_lastEdges & CX_EDGES_SPREAD)) {
            // A size the layout has not seen yet: laid out against the last one first.
            RECT window{};
            GetWindowRect(hWnd, &window);
            m_flagsHigh |= CXFH_SKINFRAMESIZE;
            RepositionControls(m_lastEdges, m_baseRect, window);
            m_flagsHigh &= ~CXFH_SKINFRAMESIZE;
        }
        m_flagsHigh &= ~CXFH_BKGNDSTALE;
        hr = RebuildBackground();
    }
    if (SUCCEEDED(hr) && !(m_flagsHigh & (CXFH_SKINFRAMESIZE | CXFH_SELFPLACEMENT | CXFH_BKGNDSTALE)))
        hr = CxSkinBkImage::Paint(hdc);
    return hr;
}

HRESULT CxDialog::GetRegion(HRGN* region)
{
    if (m_hStretchRegion == nullptr)
        return CxSkinDlg::GetRegion(region);
    if (region == nullptr)
        return E_POINTER;
    *region = CreateRectRgn(0, 0, 0, 0);
    if (*region == nullptr)
        return E_OUTOFMEMORY;
    if (CombineRgn(*region, m_hStretchRegion, nullptr, RGN_COPY) == ERROR) {
        DeleteObject(*region);
        *region = nullptr;
        return E_FAIL;
    }
    return S_OK;
}

BOOL CxDialog::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    switch (message) {
    case CXM_PRESIZE:
        m_requested = SIZE{static_cast<LONG>(wParam), static_cast<LONG>(lParam)};
        lResult = 0;
        return TRUE;
    case CXM_REPOSITION:
        if (wParam != 0)
            RepositionControls(CX_EDGES_RESTORED, m_baseRect, *reinterpret_cast<RECT*>(wParam));
        lResult = 0;
        return TRUE;
    default:
        break;
    }
    if (CxSkinDlg::PreMap(hWnd, message, wParam, lParam, lResult, mapId) ||
        SkinFileMessage(message, wParam, lParam, lResult, [this](const wchar_t* file) { ApplySkinSection(file); }))
        return TRUE;
    switch (message) {
    case WM_CREATE:
        // A dialog made while a skin is in use takes it from its owner; WM_CREATE goes on.
        CxApplyParentSkinFile(hWnd);
        return FALSE;
    case CXM_FLAGSCHANGED:
        ApplyImage();
        lResult = 1;
        return TRUE;
    case WM_LBUTTONDOWN: {
        // A press on a caption button of the frame is that button's system command, not a drag.
        const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const UINT command = CaptionButtonAt(point);
        if (command == 0)
            return FALSE;
        ::PostMessageW(hWnd, WM_SYSCOMMAND, command, 0);
        lResult = 0;
        return TRUE;
    }
    default:
        return FALSE;
    }
}

UINT CxDialog::CaptionButtonAt(POINT client) const
{
    HWND hWnd = GetWnd();
    RECT area{};
    if (hWnd == nullptr || !GetClientRect(hWnd, &area))
        return 0;
    static constexpr UINT kCommands[] = {SC_MINIMIZE, SC_CLOSE};
    for (int i = 0; i < 2; ++i) {
        const CxSkinPosition& box = m_captionButtons[i];
        if (!box.set || box.w <= 0 || box.h <= 0)
            continue;
        // The box's x counts from the client's right edge, so it follows the frame as that grows.
        const RECT rect{area.right - box.x, box.y, area.right - box.x + box.w, box.y + box.h};
        if (PtInRect(&rect, client))
            return kCommands[i];
    }
    return 0;
}
