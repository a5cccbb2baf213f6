// The text bar: a one-line text painted over the parent's skin background in a skin colour, with a font
// that shrinks to the bar's height, an override text that shows in place of the main one, and a
// marquee that scrolls the text from right to left.
#pragma once

#include "manager/controls/cx_ctrl_layers.h"
#include "manager/controls/cx_skin_ctrl.h"

// The marquee's timer and its period.
constexpr UINT_PTR CX_TEXTBAR_TIMER = 0x2128508;
constexpr UINT CX_TEXTBAR_PERIOD_MS = 100;
// Pixels the text moves each tick, and the gap between the copies of a scrolling text (also where the
// text comes back once it has left the bar).
constexpr int CX_TEXTBAR_STEP = 2;
constexpr int CX_TEXTBAR_GAP = 20;
// The format a bar starts with: DT_VCENTER, DT_SINGLELINE, DT_NOPREFIX, DT_END_ELLIPSIS.
constexpr UINT CX_TEXTBAR_FORMAT = 0x8824;

class CxTextBarCtrl : public CxStaticLayerT<CWnd>, public CxSkinCtrl {
public:
    CxTextBarCtrl();
    ~CxTextBarCtrl() override;

    // A child window of the parent (the framework's own bars; template bars are subclassed).
    BOOL Create(HWND parent, const RECT& rect, UINT id, DWORD style = WS_CHILD | WS_VISIBLE);

    // Stops the marquee, keeps the text as the main text and starts over at offset 0. With scroll the
    // format loses DT_VCENTER and DT_END_ELLIPSIS for good and the marquee starts (before the window
    // exists: when its font is set up at skin load, S_FALSE now). Repaints a live bar.
    HRESULT SetText(const wchar_t* text, BOOL scroll);
    HRESULT SetMainText(const wchar_t* text, BOOL scroll) { return SetText(text, scroll); }
    // Shown in place of the main text while not empty.
    HRESULT SetOverrideText(const wchar_t* text);
    // Takes a copy of the font (null: of the window's own), fits it to the bar's height and repaints.
    virtual HRESULT SetFont(HFONT font);
    // Moves the bar right under the buddy window, by the margins of its skin position ({0, 0, 0, 18}
    // without one). S_FALSE when the bar or the buddy has no window, E_FAIL when the buddy has no parent.
    HRESULT PlaceUnderBuddy();
    void SetBuddy(HWND buddy) { m_hBuddy = buddy; }

    // What WM_PAINT draws: the parent's background (CXM_PAINTBKGND), then the text, once or as marquee
    // copies, into a memory bitmap that is copied to the DC in one piece.
    HRESULT Paint(HDC target);

    const wchar_t* GetShownText() const { return m_override.IsEmpty() ? m_text : m_override; }
    const wchar_t* GetMainText() const { return m_text; }
    UINT GetFormat() const { return m_format; }
    // The DrawText flags the text is drawn with (the owner's option word); repaints a live bar.
    void SetFormat(UINT format)
    {
        m_format = format;
        Repaint();
    }
    int GetScrollOffset() const { return m_offset; }
    int GetTextWidth() const { return m_textWidth; }
    COLORREF GetTextColor() const { return m_textColor; }
    bool IsScrollTimerRunning() const { return m_timer != 0; }

    // Registers "pos" and "frgnd" of the bar's section.
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;
    // Reads "pos" and "frgnd", puts skin colours in force and places the bar (under its buddy with high
    // flag 0x100). Only repaints when the keys cannot be read.
    HRESULT ApplySection(const wchar_t* skinFile) override;
    // Also takes the parent's font (high flag 0x8000), which starts a marquee waiting for the window.
    HRESULT LoadSkinOnce() override;
    int GetPosIndex() override { return 0; }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

private:
    // Measures the shown text and starts the timer: E_FAIL when it runs already, S_FALSE for no width.
    HRESULT StartScroll();
    void StopScroll();
    // Shrinks the control font to the client height less 2 when its characters are taller.
    HRESULT FitFont();
    void OnTimerTick();
    void Repaint();

    CxString m_text;
    CxString m_override;
    UINT m_format = CX_TEXTBAR_FORMAT;
    int m_offset = 0;
    int m_textWidth = 0;
    COLORREF m_textColor;
    HWND m_hBuddy = nullptr;
    UINT_PTR m_timer = 0;
};
