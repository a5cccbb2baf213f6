// GDI object, palette and image-list wrappers of our MFC-like layer, and the OLE picture pointer the
// image loaders hand out. Each wrapper owns its handle and deletes it when it is destroyed.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <olectl.h>

// A GDI object handle, deleted with DeleteObject.
class CGdiObject {
public:
    CGdiObject() = default;
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ m_hObject = nullptr;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }

    // Takes over a handle; FALSE (and nothing taken) when one is already held or the handle is null.
    BOOL Attach(HGDIOBJ hObject);
    // Gives the handle up without deleting it.
    HGDIOBJ Detach();
    // Deletes the held object; FALSE when none is held.
    BOOL DeleteObject();
};

class CPalette : public CGdiObject {
public:
    operator HPALETTE() const { return static_cast<HPALETTE>(m_hObject); }
    // FALSE when a palette is already held or the system refuses the colours.
    BOOL CreatePalette(const LOGPALETTE* lpLogPalette);
    UINT GetEntryCount() const;
};

class CBitmap : public CGdiObject {
public:
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
    int GetBitmap(BITMAP* pBitMap) const;
};

class CRgn : public CGdiObject {
public:
    operator HRGN() const { return static_cast<HRGN>(m_hObject); }
};

// An image list of the common controls, destroyed with the object.
class CImageList {
public:
    CImageList() = default;
    ~CImageList() { DeleteImageList(); }
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    HIMAGELIST m_hImageList = nullptr;
    operator HIMAGELIST() const { return m_hImageList; }

    BOOL Create(int cx, int cy, UINT nFlags, int nInitial, int nGrow);
    // Adds a bitmap (copied by the list); the index of its first image, -1 on failure.
    int Add(HBITMAP hbmImage, COLORREF crMask);
    int GetImageCount() const;
    BOOL Draw(HDC hdc, int nImage, POINT pt, UINT nStyle) const;
    BOOL DeleteImageList();
};

// An owning COM pointer to an OLE picture.
class CPicturePtr {
public:
    CPicturePtr() = default;
    ~CPicturePtr() { Release(); }
    CPicturePtr(const CPicturePtr&) = delete;
    CPicturePtr& operator=(const CPicturePtr&) = delete;

    IPicture* Get() const { return m_p; }
    IPicture* operator->() const { return m_p; }
    // Releases any held picture and gives the address to fill.
    IPicture** Receive()
    {
        Release();
        return &m_p;
    }
    void Release()
    {
        if (m_p != nullptr)
            m_p->Release();
        m_p = nullptr;
    }

private:
    IPicture* m_p = nullptr;
};
