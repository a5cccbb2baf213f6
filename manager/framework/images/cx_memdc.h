// A memory device context compatible with a window's, holding one DIB section: the skin images are
// decoded into it, cut into regions from its pixels, and painted from it.
#pragma once

#include "platform/afx/afx.h"

// Deletes a GDI object (bitmap, region) unless released.
template <class H>
class CxGdiOwner {
public:
    explicit CxGdiOwner(H h = nullptr) : m_h(h) {}
    ~CxGdiOwner()
    {
        if (m_h != nullptr)
            DeleteObject(m_h);
    }
    CxGdiOwner(const CxGdiOwner&) = delete;
    CxGdiOwner& operator=(const CxGdiOwner&) = delete;
    H Get() const { return m_h; }
    H* Receive() { return &m_h; }
    H Release()
    {
        H h = m_h;
        m_h = nullptr;
        return h;
    }

private:
    H m_h;
};

class CxMemDC {
public:
    // A memory DC compatible with the window's DC; a dead window means the screen.
    explicit CxMemDC(HWND hWnd);
    ~CxMemDC();
    CxMemDC(const CxMemDC&) = delete;
    CxMemDC& operator=(const CxMemDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    HBITMAP GetBitmap() const { return m_hBitmap; }
    // The held section's pixels (bottom-up rows), or null.
    void* GetBits() const { return m_pBits; }
    const DIBSECTION& GetDibSection() const { return m_dibSection; }

    // A new bottom-up DIB section of 16, 24 or 32 bits (E_INVALIDARG otherwise) filled with the colour,
    // selected into the DC; a bitmap held before is deleted.
    HRESULT CreateDIB(SIZE size, int bitCount, COLORREF fill);
    // A section of the bitmap's size and the bit count (-1: the bitmap's own) holding a copy of it.
    HRESULT AttachBitmap(HBITMAP hBitmap, int bitCount);
    // The picture's bitmap copied into a section; on the Windows 95 family the unused top byte of each
    // pixel of a 32-bit section is cleared (S_FALSE for another depth).
    HRESULT AttachPicture(IPicture* picture, int bitCount = 32);
    // Gives the held section up (the caller deletes it); the DC gets its first bitmap back.
    HBITMAP DetachBitmap();

private:
    void ReleaseBitmap();

    HWND m_hWnd = nullptr;
    HDC m_hDC = nullptr;
    HBITMAP m_hBitmap = nullptr;
    HGDIOBJ m_hOldBitmap = nullptr;
    BITMAPINFOHEADER* m_pHeader = nullptr;
    DWORD m_headerSize = 0;
    void* m_pBits = nullptr;
    DIBSECTION m_dibSection{};
};
