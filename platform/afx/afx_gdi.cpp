#include "platform/afx/afx_gdi.h"

BOOL CGdiObject::Attach(HGDIOBJ hObject)
{
    if (m_hObject != nullptr || hObject == nullptr)
        return FALSE;
    m_hObject = hObject;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach()
{
    HGDIOBJ hObject = m_hObject;
    m_hObject = nullptr;
    return hObject;
}

BOOL CGdiObject::DeleteObject()
{
    if (m_hObject == nullptr)
        return FALSE;
    const BOOL deleted = ::DeleteObject(Detach());
    return deleted;
}

BOOL CPalette::CreatePalette(const LOGPALETTE* lpLogPalette)
{
    if (m_hObject != nullptr || lpLogPalette == nullptr)
        return FALSE;
    return Attach(::CreatePalette(lpLogPalette));
}

UINT CPalette::GetEntryCount() const
{
    if (m_hObject == nullptr)
        return 0;
    return ::GetPaletteEntries(static_cast<HPALETTE>(m_hObject), 0, 0, nullptr);
}

int CBitmap::GetBitmap(BITMAP* pBitMap) const
{
    if (m_hObject == nullptr || pBitMap == nullptr)
        return 0;
    return ::GetObjectW(m_hObject, sizeof(BITMAP), pBitMap);
}

BOOL CImageList::Create(int cx, int cy, UINT nFlags, int nInitial, int nGrow)
{
    if (m_hImageList != nullptr)
        return FALSE;
    m_hImageList = ImageList_Create(cx, cy, nFlags, nInitial, nGrow);
    return m_hImageList != nullptr;
}

int CImageList::Add(HBITMAP hbmImage, COLORREF crMask)
{
    if (m_hImageList == nullptr || hbmImage == nullptr)
        return -1;
    return ImageList_AddMasked(m_hImageList, hbmImage, crMask);
}

int CImageList::GetImageCount() const
{
    return m_hImageList != nullptr ? ImageList_GetImageCount(m_hImageList) : 0;
}

BOOL CImageList::Draw(HDC hdc, int nImage, POINT pt, UINT nStyle) const
{
    if (m_hImageList == nullptr)
        return FALSE;
    return ImageList_Draw(m_hImageList, nImage, hdc, pt.x, pt.y, nStyle);
}

BOOL CImageList::DeleteImageList()
{
    if (m_hImageList == nullptr)
        return FALSE;
    const BOOL destroyed = ImageList_Destroy(m_hImageList);
    m_hImageList = nullptr;
    return destroyed;
}
