// Skin images and window regions: the window components that hold a window's image, paint its
// background, shape it by the current state's image and share its region with parent and children.
// Below them: decoding (cx_image_load.h), key-colour regions (cx_image_region.h), the per-state image
// list (cx_image_list.h) and the image key's parser (cx_image_spec.h).
#pragma once

#include "manager/framework/images/cx_image_list.h"
#include "manager/framework/images/cx_image_load.h"
#include "manager/framework/images/cx_image_region.h"
#include "manager/framework/images/cx_image_spec.h"
#include "manager/framework/images/cx_memdc.h"
#include "manager/framework/skin/cx_components.h"
#include "manager/framework/skin/cx_skin_props.h"
#include "manager/framework/windows/cx_string.h"
#include "manager/framework/windows/cx_wnd.h"

// ---- Window components ----

// Holds one bitmap of its window.
class CxSkinImage : public virtual CxChildRegion {
public:
    HBITMAP GetImageBitmap() const { return m_hImage; }
    // Takes over the bitmap (the previous one is deleted).
    void SetImageBitmap(HBITMAP bitmap);

protected:
    CxSkinImage() = default;
    ~CxSkinImage() override;

    HBITMAP m_hImage = nullptr;
};

// Paints the window's background bitmap.
class CxSkinBkImage : public virtual CxChildRegion {
public:
    // The region the paint is clipped to (a new copy); none by default.
    virtual HRESULT GetRegion(HRGN* region);
    // Copies the background to (0, 0) of the DC (null: the window's DC). E_FAIL without a bitmap.
    virtual HRESULT Paint(HDC hdc);

    HBITMAP GetBackground() const { return m_hBackground; }
    // Takes over the bitmap. While a painter draws (L:0x200) the bitmap is not replaced and the new
    // one is deleted (E_ACCESSDENIED).
    HRESULT SetBackground(HBITMAP bitmap);

protected:
    // applyOnCreate: WM_CREATE sends CXM_APPLYSHAPE (dialogs).
    explicit CxSkinBkImage(bool applyOnCreate = false);
    ~CxSkinBkImage() override;

    HBITMAP m_hBackground = nullptr;
};

// The shaping component: the image list of an "img" key, and the apply that sizes the window to the
// current state's image, cuts its region and repaints.
class CxSkinShape : public CxSkinBkImage, public CxSkinImage {
public:
    // A new copy of the current state's region.
    HRESULT GetRegion(HRGN* region) override;
    // S_FALSE when the wanted state is already applied.
    virtual HRESULT ApplyImage();
    // The state the window wants shown; the first by default.
    virtual int GetWantedState() { return 0; }

    CxSkinImageList& GetImageList() { return m_images; }
    // State -1 and the list emptied: the next apply always applies.
    void Invalidate() { m_images.Reset(); }

protected:
    explicit CxSkinShape(bool applyOnCreate = false) : CxSkinBkImage(applyOnCreate) {}
    ~CxSkinShape() override = default;

    // Puts the copies on the window (takes them over in every case).
    HRESULT ApplyToWindow(HBITMAP bitmap, HRGN region);

    CxSkinImageList m_images;
    HWND m_hWndInsertAfter = nullptr;
};

// The region component's map (the child region's entries first) and the region's set operation of a
// skinned window.
class CxWndRegion : public virtual CxChildRegion {
public:
    // The shape whose apply 0x811 runs and whose background CXM_PAINTBKGND copies.
    void BindShape(CxSkinShape* shape) { m_pShape = shape; }

    // Sets the window's region (taken over in every case): refused while no region may be cut
    // (H:0x20), kept waiting while the window is minimised, else shared with the children and the
    // parent and set.
    HRESULT SetRegion(HRGN region, HWND leaveOut);

    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxWndRegion() = default;
    ~CxWndRegion() override;

private:
    HRESULT ShareWithParent(HWND hWnd, HRGN region);
    // Draws the frame's outline colour along the top and sides of a shaped window's menu bar.
    void OutlineMenuBar(HWND hWnd, const RECT& bar);

    CxSkinShape* m_pShape = nullptr;
    HRGN m_hWaitingRegion = nullptr;
};

// The frame bundle: a window's frame image from the "img" key of its skin section, its region and its
// painter. On its own (a panel's) it applies a section in three steps: the image list is reset, "img"
// is read, and the image is applied; the skinned dialog adds its grid and grip.
class CxSkinFrame : public CxSkinShape, public CxWndRegion, public virtual CxSkinProps {
public:
    // The section the keys are read from; empty registers none. Keys registered already are registered
    // again for the new section.
    HRESULT SetSkinSection(const wchar_t* section);
    const wchar_t* GetSkinSection() const { return m_section; }

    // "img" of the section (one part), then the base keys.
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;
    // S_FALSE without a section; otherwise the result of applying the image.
    virtual HRESULT ApplySkinSection(const wchar_t* skinFile);

protected:
    CxSkinFrame() { BindShape(this); }
    ~CxSkinFrame() override = default;

    // Registers the keys when none are registered yet.
    void RegisterSkinProps();

    CxString m_section;
};
