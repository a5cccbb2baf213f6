// The progress bar that paints itself: a one-pixel frame, a bar filled with a gradient (or one colour)
// and a text centred over it, in the skin's colours or the system's. The bar is drawn in a memory
// bitmap and copied in one piece, with msimg32's AlphaBlend and GradientFill when the system has them.
#pragma once

#include "manager/controls/cx_ctrl_layers.h"
#include "manager/controls/cx_skin_ctrl.h"

#include <windows.h>

// The optional drawing functions of msimg32; null when the system lacks one.
using CxAlphaBlendFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
using CxGradientFillFunction = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);
struct CxMsimg32Functions {
    CxAlphaBlendFunction alphaBlend;
    CxGradientFillFunction gradientFill;
};
// The system's functions, looked up once per process (the library then stays loaded).
const CxMsimg32Functions& CxSystemMsimg32Functions();

// High Cx flags of the progress bar.
constexpr DWORD CXFH_PROGRESS_NOMOVE = 0x00000100;    // a skin only repaints: the owner places the bar
constexpr DWORD CXFH_PROGRESS_BITBLT = 0x00000200;    // copied with BitBlt, not AlphaBlend
constexpr DWORD CXFH_PROGRESS_SOLID = 0x00000400;     // the bar in the first status colour, no gradient
constexpr DWORD CXFH_PROGRESS_NOMARGIN = 0x00001000;  // bar and text use the whole client area
// 0x800 (CXFH_SKINCOLOURS): the skin's colours are in force; system colour changes are ignored.

// The bar's inner margin on every side, without CXFH_PROGRESS_NOMARGIN.
constexpr int CX_PROGRESS_MARGIN = 2;

// The bar's length in pixels for a position in [lower, upper] over an inner length: the percent of
// the range reached (whole percents), that percent of the inner length rounded half up, never below 0
// nor above the inner length. An empty or reversed range gives 0.
int CxProgressBarLength(int position, int lower, int upper, int innerLength);

class CxProgressBarCtrl : public CxStaticLayerT<CWnd>, public CxSkinCtrl {
public:
    // The colour records, in the order of the skin keys "frgnd", "bkgnd", "status" (two), "frame".
    enum Colour { kText, kBackground, kStatusStart, kStatusEnd, kFrame, kColourCount };

    CxProgressBarCtrl();
    ~CxProgressBarCtrl() override;

    // A child progress control of the parent (dialog controls are subclassed instead).
    BOOL Create(HWND parent, const RECT& rect, UINT id, DWORD style = WS_CHILD | WS_VISIBLE);

    // The text drawn centred over the bar (empty: none); repaints a live bar.
    HRESULT SetText(const wchar_t* text);
    const wchar_t* GetText() const { return m_text; }

    // The drawing functions the bar uses; null gives the system's. Read at the first paint, which
    // fixes the copy and fill flags for good.
    void SetGraphicsFunctions(const CxMsimg32Functions* functions) { m_graphics = functions; }

    CxSkinColor GetColour(Colour which) const { return m_colours[which]; }
    const BLENDFUNCTION& GetBlend() const { return m_blend; }

    // What WM_PAINT draws: background, frame, bar and text into a memory bitmap, copied to the DC at
    // (0, 0). S_FALSE for an empty client area.
    HRESULT Paint(HDC target);

    // Registers "pos", "frgnd", "bkgnd", "status" (two colours) and "frame" of the bar's section.
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;
    // Reads the five keys, puts the skin's colours in force (system ones where the skin sets none) and
    // places the bar, or only repaints it when the keys cannot all be read or the owner places it.
    HRESULT ApplySection(const wchar_t* skinFile) override;
    // Takes the parent's font first (high flag 0x8000).
    HRESULT LoadSkinOnce() override;
    int GetPosIndex() override { return 0; }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

private:
    // Every record (forced) or the unset ones get the system's colour.
    void SetSystemColours(bool forced);
    // Once, while neither is set: the copy and fill flags from the functions that are there.
    void FixGraphicsFlags();
    const CxMsimg32Functions& Graphics() const;
    void FillBar(HDC dc, const RECT& bar, bool vertical) const;
    void Repaint(bool now);

    CxString m_text;
    CxSkinColor m_colours[kColourCount];
    BLENDFUNCTION m_blend{AC_SRC_OVER, 0, 255, 0};
    const CxMsimg32Functions* m_graphics = nullptr;
};
