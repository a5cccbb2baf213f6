// The shaped, skinned dialog: the window takes its size, outline and background from the frame image
// ("img") of its skin section; stretch lines ("grid") let the frame grow with the window by repeating
// pixel columns and rows of the image, and "grip" gives the size grip.
#pragma once

#include "manager/framework/skin/cx_skin_dlg.h"

// One stretch line: where it lies in the image, where it lies now, and whether it moves with the first
// (left or top) edge and with the second (right or bottom) edge.
struct CxSkinGridLine {
    int skinX;
    int skinY;
    int x;
    int y;
    int a;
    int b;
};
static_assert(sizeof(CxSkinGridLine) == 6 * sizeof(int), "six signed 32-bit integers");

// The grip of the frame: {set, width, height}; {0, -100, -100} is none.
struct CxSkinGrip {
    int set;
    int cx;
    int cy;
};

// Layout flags beyond the edges: spread the change over the stretch lines.
constexpr UINT CX_EDGES_SPREAD = 0x30;

// Where one cell of the frame image goes: source cells lie between the lines' image positions, target
// cells between their current positions; the first starts at 0, the last ends at the size.
struct CxStretchCell {
    int sx, sy, sw, sh;  // in the image
    int tx, ty, tw, th;  // in the target
};

// The cells (rows outer, columns inner) of an image of the given size stretched to the target size.
void CxStretchCells(const CxArray<CxSkinGridLine>& vertical, const CxArray<CxSkinGridLine>& horizontal, SIZE image,
                    SIZE target, CxArray<CxStretchCell>& cells);
// Draws the image stretched on its lines into a new 32-bit DIB section of the target size: every cell is
// copied, a cell wider than its source repeats the source's last pixel column, and then a cell taller
// than its source repeats its own last pixel row (so the corners grow too).
HRESULT CxStretchFrameImage(HBITMAP image, const CxArray<CxSkinGridLine>& vertical,
                            const CxArray<CxSkinGridLine>& horizontal, SIZE target, HWND hWnd, HBITMAP* stretched);
// The offset of each of n lines when delta is spread over them: q + r is added at the first lines and q
// at the rest, so that the last line lands exactly on delta (q and r the quotient and remainder of delta
// by n, with the sign of delta).
int CxSpreadOffset(int delta, int n, int k);

class CxDialog : public CxSkinDlg {
public:
    CxDialog();
    CxDialog(UINT nIDTemplate, CWnd* pParentWnd);
    CxDialog(LPCWSTR lpszTemplateName, CWnd* pParentWnd);
    ~CxDialog() override;

    // "img" (the frame image, one part), "grip" (one), "grid" (at least one), and the caption buttons
    // "minimize" and "close" (one each: x, y, w, h, with x counted leftwards from the frame's right edge)
    // of the dialog's section (SetSkinSection), then the base keys.
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;
    // Reads the frame image, the grip and the stretch lines from the skin file and applies the image.
    HRESULT ApplySkinSection(const wchar_t* skinFile) override;
    // The change of the client size against the size the lines stand for: S_OK with the delta, 1 when
    // nothing changes, E_FAIL when the frame cannot be measured.
    HRESULT GetFrameDelta(SIZE* delta, const RECT& newRect);
    // The base layout, then the stretch lines moved by the frame delta (never closer to each other than
    // in the image; the rectangle grows instead).
    HRESULT RepositionControls(UINT edges, RECT& base, RECT& newRect) override;
    // Hook for the panes of a subclass after the lines moved; a failure keeps the background as it is.
    virtual HRESULT OnStretchLayout(UINT edges, const RECT& newRect);
    // The painter: rebuilds the background when the layout changed, then paints it.
    virtual HRESULT OnPaintBackground(HDC hdc);
    HRESULT Paint(HDC hdc) override { return OnPaintBackground(hdc); }
    // The stretched outline once the background was rebuilt, else the frame image's.
    HRESULT GetRegion(HRGN* region) override;

    CxSkinImageList& GetImageTarget() { return GetImageList(); }
    const CxArray<CxSkinGridLine>& GetVerticalLines() const { return m_vertical; }
    const CxArray<CxSkinGridLine>& GetHorizontalLines() const { return m_horizontal; }
    const CxSkinGrip& GetGrip() const { return m_grip; }
    SIZE GetRequestedFrameSize() const { return m_requested; }
    // The system command of the frame's caption button under a client point (SC_MINIMIZE, SC_CLOSE), or
    // 0 when there is none: a press there sends it instead of dragging the window.
    UINT CaptionButtonAt(POINT client) const;

protected:
    // Map id 0: CXM_PRESIZE and CXM_REPOSITION, the skin dialog's map, the skin-file messages (WM_CREATE
    // takes the owner's skin file), and CXM_FLAGSCHANGED (the frame image again, a no-op when the state
    // did not change).
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

private:
    void Construct();
    void ResetFrame();
    // Moves the lines of one direction; returns how far the far edge had to grow.
    int MoveLines(CxArray<CxSkinGridLine>& lines, bool vertical, UINT edges, int delta);
    HRESULT RebuildBackground();

    CxArray<CxSkinGridLine> m_vertical{4};
    CxArray<CxSkinGridLine> m_horizontal{4};
    CxSkinGrip m_grip{0, -100, -100};
    CxSkinPosition m_captionButtons[2]{};  // minimize, close
    SIZE m_requested{0, 0};
    UINT m_lastEdges = 0;
    SIZE m_lastClient{0, 0};
    RECT m_lastRect{};
    // The stretched outline of the rebuilt background (the system's window region is set from a copy).
    HRGN m_hStretchRegion = nullptr;
};
