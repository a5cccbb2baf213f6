// Skin images and window regions: the loader that turns one image specification of a skin into a
// bitmap (and, when asked, a window region cut out by the image's key colour), the per-state image
// list, the background painter, the shaping component and the region component's message map.
#pragma once

#include "manager/framework/cx_array.h"
#include "manager/framework/cx_components.h"
#include "manager/framework/cx_memdc.h"
#include "manager/framework/cx_skin_props.h"
#include "manager/framework/cx_string.h"
#include "manager/framework/cx_wnd.h"

#include <climits>

// ---- Image options ----

// "/cut": cut the window region out of the image by its key colour.
constexpr ULONGLONG CX_IMAGEOPT_CUT = 1;

// Finds the options in the last of at most three ","-separated parts of the spec; with strip the spec
// is cut at its last "," when any was found. S_OK when options were found, S_FALSE when none.
HRESULT CxParseImageOptions(CxString& spec, ULONGLONG* options, BOOL strip);

// ---- Decoding ----

constexpr int CX_IMAGE_FILE = 1;
constexpr int CX_IMAGE_RESOURCE = 2;

// Reads a whole file into new movable memory: E_ACCESSDENIED when it cannot be opened, E_FAIL when its
// size cannot be read, E_OUTOFMEMORY, E_ABORT for a short read.
HRESULT CxReadFileToGlobal(const wchar_t* path, HGLOBAL* memory, DWORD* size, DWORD access, DWORD share,
                           DWORD disposition);
// Decodes an image (BMP, GIF, JPEG, icon) held in memory through OLE's picture loader; the memory
// stays the caller's. E_INVALIDARG for a null handle or no bytes.
HRESULT CxLoadPicture(HGLOBAL memory, DWORD size, IPicture** picture);
HRESULT CxLoadPictureFromFile(const wchar_t* path, IPicture** picture);
// A resource of a loaded module (null or empty name: the program); modules are never loaded for it.
// A bitmap resource (type 2) is stored without its file header, which is put in front for decoding.
HRESULT CxLoadPictureFromResource(const wchar_t* module, UINT id, const wchar_t* type, IPicture** picture);

// Decodes the image of a file (source 1, name = path) or a module resource (source 2, name = module)
// into a 32-bit DIB section compatible with the window; with a region out-parameter the key-colour
// region is cut too. On any failure nothing is handed out.
HRESULT CxLoadSkinImage(int source, const wchar_t* name, UINT id, const wchar_t* type, HWND hWnd, HRGN* region,
                        HBITMAP* bitmap);

// ---- Key-colour regions ----

// One rectangle per horizontal run of non-key pixels, and their bounding rectangle.
struct CxRunRects {
    CxArray<RECT> rects{4096};
    RECT bound{INT_MAX, INT_MAX, 0, 0};
};
// Runs of a bottom-up 32-bit pixel buffer whose key colour is the image's top-left pixel, the image's
// top row first, each row right to left. E_INVALIDARG for a null buffer or an empty size.
HRESULT CxRunRectsFromPixels(const DWORD* pixels, int width, int height, CxRunRects* runs);
// Rectangles handed to the system at once when a region is built.
constexpr int kCxRegionChunk = 4096;
// The region of the rectangles, built in chunks combined with RGN_OR. E_INVALIDARG for no rectangles.
HRESULT CxCreateRegionFromRects(const CxRunRects& runs, HRGN* region);
// The key-colour region of a 32-bit DIB section; E_INVALIDARG when every pixel is the key.
HRESULT CxRegionFromDibSection(const CxMemDC& dc, HRGN* region);

// ---- The image list of one skin key ----

struct CxSkinImageEntry {
    HBITMAP bitmap;
    HRGN region;
};

// Bitmaps and regions of a key's states; owns and deletes both. The state index is -1 after a reset.
class CxSkinImageList {
public:
    CxSkinImageList() = default;
    ~CxSkinImageList() { Reset(); }
    CxSkinImageList(const CxSkinImageList&) = delete;
    CxSkinImageList& operator=(const CxSkinImageList&) = delete;

    void Reset();
    // Takes over both handles (either may be null); on failure they are deleted here.
    HRESULT Add(HBITMAP bitmap, HRGN region);
    HRESULT RemoveLast();
    void SetGrowBy(int n) { m_entries.SetGrowBy(n); }
    int GetCount() const { return m_entries.GetCount(); }
    // The state's bitmap, still owned by the list. E_INVALIDARG out of range; E_FAIL for a missing
    // bitmap when it must exist.
    HRESULT GetImage(int index, HBITMAP* bitmap, BOOL mustExist) const;
    // The state's region, still owned by the list (null when it has none).
    HRESULT GetRegionHandle(int index, HRGN* region) const;

    int m_state = -1;

private:
    CxArray<CxSkinImageEntry> m_entries;
};

// ---- The image key's value parser ----

// The record {key 2 ("path"), element, pack id, selector} of CXM_GETPACKTEXT.
struct CxPackTextRequest {
    int key;
    int element;
    int packId;
    int selector;
};
constexpr int CX_PACKTEXT_PATH = 2;
constexpr int CX_PACK_CURRENT = 1;
constexpr int CX_PACK_BUILTIN = 2;

// Reads the text of a key from a skin file (a path or a resource location) into value.
using CxSkinValueReader = HRESULT (*)(const wchar_t* file, const wchar_t* section, const wchar_t* key, CxString* value);

// What the skin reader hands the parser of an image key.
struct CxSkinImageReader {
    HWND owner = nullptr;           // the window the images are for; asked for pack paths and fallbacks
    const wchar_t* file = nullptr;  // the skin file being read
    const wchar_t* section = nullptr;
    const wchar_t* key = nullptr;
    int valueCount = 1;              // -1: as many as the value has, at least one
    const wchar_t* value = nullptr;  // the key's text
    CxSkinImageList* target = nullptr;
    int packId = 0;
    int packSelector = CX_PACK_CURRENT;
    // Reads the built-in skin's value for the fallback; null reads the file or resource the owner names.
    CxSkinValueReader readValue = nullptr;
};

// Loads every "|"-separated part of the value into the target list (padded with empty parts up to the
// count); a part that fails falls back to the same part of the built-in skin. The last failure, else S_OK.
HRESULT CxSkinParseImageList(CxSkinImageReader* reader);
// The same as the skin reader's parser of "img" and "thumb" (target: a CxSkinImageList); the file compared
// with the built-in skin is the spec given for a temporary copy.
HRESULT CxSkinParseImage(const CxSkinValue& value);
// Loads one spec and appends its entry (empty on failure).
HRESULT CxLoadImageSpec(CxSkinImageReader* reader, const wchar_t* spec);

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
