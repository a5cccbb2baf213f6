// Image controls and the skinned button. An image control shows one image of its skin key "img" per
// state, centred on the point of its "pos" key, with the window region cut from the image. The skinned
// button is owner-drawn once its image is applied, and since owner-drawn buttons keep no check state it
// keeps the check state itself: check boxes, three-state boxes and radio groups work as before.
#pragma once

#include "manager/controls/buttons/cx_button.h"
#include "manager/framework/images/cx_skin_image.h"

// The skin bundle of an image control: the section from the parent, the state images, the centre point,
// the layout's offsets and the background painter.
class CxSkinImageCtrl : public virtual CxWndComponent,
                        public virtual CxSkinProps,
                        public virtual CxSkinRefRect,
                        public CxSkinShape {
public:
    // The state the control is in now; its image is shown.
    virtual int GetStateIndex() = 0;
    // How many state images "img" holds.
    virtual int GetImageCount() = 0;

    // The section the parent names for the control (CXM_GETSKINSECTION with the id + 2); null for none.
    virtual const wchar_t* GetSectionName();
    // Registers "img" and "pos" of the control's section (none without a section), then builds.
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;
    // Once per window (low flag 0x20000): registers the keys and applies the parent's skin file unless
    // a skin region is applied already. S_FALSE when done before.
    virtual HRESULT LoadSkinOnce();
    // Reads the images and the point of the section again from the file, zeroes the offsets and shows
    // the current state. S_FALSE without a section.
    virtual HRESULT ApplySkinFile(const wchar_t* skinFile);
    // Moves the control so that the image of the current state is centred on the point, and shows that
    // image when the state changed. A state without an image keeps the image shown before.
    HRESULT UpdateLook();
    // The top-left corner that centres the image of the image list's current state (or the client
    // area, without one) on the point, offsets added. E_ABORT without a point, E_FAIL for an unset one.
    HRESULT GetPos(POINT* topLeft);
    // Paints the background image into the DC unless painting is suppressed (low flags 0x100000,
    // 0x400) or there is none: S_FALSE then.
    HRESULT PaintGuarded(HDC hdc);

    int GetWantedState() override { return GetStateIndex(); }
    CxSkinSizes& GetPoints() { return m_points; }

    // The image-control skin map: map ids 0 (the link's entries first), -1, and -2 (without the region
    // and offset entries).
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxSkinImageCtrl() = default;
    ~CxSkinImageCtrl() override = default;

private:
    HRESULT ApplyPos();

    CxSkinSizes m_points{1};
};

// A button drawn entirely from skin images: eight states (disabled, normal, mouse over, pressed; each
// unchecked and checked), its place from "pos" and its shape from the image.
class CxSkinButton : public CxButton, public CxSkinImageCtrl {
public:
    CxSkinButton();
    ~CxSkinButton() override = default;

    // 0-3 unchecked, 4-7 checked or indeterminate: disabled, normal, mouse over, pressed. Pressed wins
    // over mouse over; a disabled button shows 0 or 4 whatever its flags.
    int GetStateIndex() override;
    int GetImageCount() override { return 8; }
    // Takes the hand cursor, loads the skin once and asks the parent whether Enter and Space click
    // (CXM_DISABLEKEYCLICK with the control id; nonzero: they do not, high flag 0x8).
    HRESULT LoadSkinOnce() override;

    int GetKeptStyle() const { return m_keptStyle; }
    int GetKeptCheck() const { return m_keptCheck; }

protected:
    // The check-state map (the image-control skin map, the owner-draw switch, the keys, the check
    // emulation), then the push button's.
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;
    HRESULT LoadButtonSkin() override { return LoadSkinOnce(); }

    // A click: the check state advances by the kept button type.
    void Click();
    // Keeps one member of the radio group checked when this button's check changes to check.
    HRESULT UpdateRadioGroup(int check);
    // CXM_FRAMEIMAGESET: owner-drawn while an image is applied (wParam 1), the button's own type back
    // when it is removed (0).
    void SwitchOwnerDraw(BOOL imageSet);

private:
    BOOL CheckStateMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    BOOL KeyMap(HWND hWnd, UINT message, WPARAM wParam, LRESULT& lResult);

    int m_keptStyle = 0;
    int m_keptCheck = 0;
    // The type the button had before it was made owner-drawn.
    int m_typeBeforeOwnerDraw = BS_PUSHBUTTON;
};

// The button's own style before it was made owner-drawn (0 when it was never switched).
inline int CxGetButtonStyle(HWND button)
{
    return static_cast<int>(SendMessageW(button, CXM_GETBUTTONSTYLE, 0, 0));
}
