// Track bars: the framework's slider with the mouse, cursor and tooltip behaviour of its buttons, and
// the skinned slider that takes its shape from a skin image and paints its channel and thumb in plain
// colours. While the user holds its thumb, positions set by the program are ignored (a seek bar that a
// player moves ten times a second stays under the user's hand), and the arrow and page keys do nothing.
#pragma once

#include "manager/controls/buttons/cx_skin_button.h"

#include <windows.h>

// The slider: the push button's components and maps over the system's track bar.
class CxTrackBarCtrl : public CxButton {
public:
    CxTrackBarCtrl() = default;
    ~CxTrackBarCtrl() override = default;

    // A child track bar of the parent (dialog controls are subclassed instead).
    BOOL Create(HWND parent, const RECT& rect, UINT id, DWORD style = WS_CHILD | WS_VISIBLE | TBS_HORZ | TBS_NOTICKS);
};

class CxSkinTrackBarCtrl : public CxTrackBarCtrl, public CxSkinImageCtrl {
public:
    // What the slider starts with; owners may set others.
    static constexpr COLORREF kBackground = RGB(2, 0, 0);
    static constexpr COLORREF kChannel = RGB(0x53, 0x53, 0x53);
    static constexpr COLORREF kThumb = RGB(0x88, 0x88, 0x88);

    CxSkinTrackBarCtrl();
    ~CxSkinTrackBarCtrl() override = default;

    // 0 disabled, 3 pressed with the mouse, 2 with the mouse over it (and the capture), 1 otherwise.
    int GetStateIndex() override;
    int GetImageCount() override { return 4; }
    int GetThumbImageCount() const { return 8; }

    void SetColours(COLORREF background, COLORREF channel, COLORREF thumb);
    COLORREF GetBackgroundColour() const { return m_background; }
    COLORREF GetChannelColour() const { return m_channel; }
    COLORREF GetThumbColour() const { return m_thumb; }
    // The images of "thumb", kept for skins; the slider paints its thumb in its colour.
    CxSkinImageList& GetThumbImages() { return m_thumbImages; }

    // Registers "img" (four states), "pos" and "thumb" (eight images) of the section.
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;
    // Reads the three keys afresh, zeroes the offsets and shows the current state's shape.
    HRESULT ApplySkinFile(const wchar_t* skinFile) override;
    // Takes the hand cursor, then loads the skin once.
    HRESULT LoadSkinOnce() override;

    // What WM_PAINT draws: the client area, the channel and the thumb, each in its colour.
    HRESULT Paint(HDC dc);

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

private:
    COLORREF m_background = kBackground;
    COLORREF m_channel = kChannel;
    COLORREF m_thumb = kThumb;
    CxSkinImageList m_thumbImages;
};
