#include "manager/framework/images/cx_skin_image.h"

// ---- Window components ----

CxSkinImage::~CxSkinImage()
{
    if (m_hImage != nullptr)
        DeleteObject(m_hImage);
}

void CxSkinImage::SetImageBitmap(HBITMAP bitmap)
{
    if (m_hImage != nullptr && m_hImage != bitmap)
        DeleteObject(m_hImage);
    m_hImage = bitmap;
}

CxSkinBkImage::CxSkinBkImage(bool applyOnCreate)
{
    if (applyOnCreate)
        m_flagsLow |= CXFL_APPLYSHAPEONCREATE;
}

CxSkinBkImage::~CxSkinBkImage()
{
    if (m_hBackground != nullptr)
        DeleteObject(m_hBackground);
}

HRESULT CxSkinBkImage::GetRegion(HRGN*)
{
    return E_NOTIMPL;
}

HRESULT CxSkinBkImage::SetBackground(HBITMAP bitmap)
{
    if (m_flagsLow & CXFL_PAINTINGBKGND) {
        if (bitmap != nullptr && bitmap != m_hBackground)
            DeleteObject(bitmap);
        return E_ACCESSDENIED;
    }
    m_flagsLow |= CXFL_BKGNDBLOCKED;
    if (m_hBackground != nullptr && m_hBackground != bitmap)
        DeleteObject(m_hBackground);
    m_hBackground = bitmap;
    m_flagsLow &= ~CXFL_BKGNDBLOCKED;
    return S_OK;
}

HRESULT CxSkinBkImage::Paint(HDC hdc)
{
    BITMAP info{};
    if (m_hBackground == nullptr || GetObjectW(m_hBackground, sizeof(info), &info) == 0)
        return E_FAIL;
    HWND hWnd = GetWnd();
    HDC target = hdc != nullptr ? hdc : GetDC(hWnd);
    if (target == nullptr)
        return E_FAIL;
    HRESULT hr = S_OK;
    {
        CxMemDC dc(hWnd);
        HGDIOBJ old = dc.GetSafeHdc() != nullptr ? SelectObject(dc.GetSafeHdc(), m_hBackground) : nullptr;
        if (old == nullptr || old == HGDI_ERROR) {
            hr = E_FAIL;
        } else {
            // The target's own clip region is put back afterwards.
            HRGN previousClip = CreateRectRgn(0, 0, 0, 0);
            const bool hadClip = previousClip != nullptr && GetClipRgn(target, previousClip) == 1;
            HRGN clip = nullptr;
            if (SUCCEEDED(GetRegion(&clip)) && clip != nullptr) {
                ExtSelectClipRgn(target, clip, RGN_AND);
                DeleteObject(clip);
            }
            m_flagsLow |= CXFL_PAINTINGBKGND;
            if (!BitBlt(target, 0, 0, info.bmWidth, info.bmHeight, dc.GetSafeHdc(), 0, 0, SRCCOPY))
                hr = E_FAIL;
            m_flagsLow &= ~CXFL_PAINTINGBKGND;
            SelectClipRgn(target, hadClip ? previousClip : nullptr);
            if (previousClip != nullptr)
                DeleteObject(previousClip);
            SelectObject(dc.GetSafeHdc(), old);
        }
    }
    if (hdc == nullptr)
        ReleaseDC(hWnd, target);
    return hr;
}
