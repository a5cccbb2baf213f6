#include "manager/framework/images/cx_image_list.h"

void CxSkinImageList::Reset()
{
    for (int i = 0; i < m_entries.GetCount(); ++i) {
        const CxSkinImageEntry& entry = m_entries.GetAt(i);
        if (entry.bitmap != nullptr)
            DeleteObject(entry.bitmap);
        if (entry.region != nullptr)
            DeleteObject(entry.region);
    }
    m_entries.RemoveAll();
    m_state = -1;
}

HRESULT CxSkinImageList::Add(HBITMAP bitmap, HRGN region)
{
    if (m_entries.Add(CxSkinImageEntry{bitmap, region}))
        return S_OK;
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    if (region != nullptr)
        DeleteObject(region);
    return E_OUTOFMEMORY;
}

HRESULT CxSkinImageList::RemoveLast()
{
    const int last = m_entries.GetCount() - 1;
    if (last < 0)
        return E_UNEXPECTED;
    const CxSkinImageEntry entry = m_entries.GetAt(last);
    if (!m_entries.SetSize(last))
        return E_UNEXPECTED;
    if (entry.bitmap != nullptr)
        DeleteObject(entry.bitmap);
    if (entry.region != nullptr)
        DeleteObject(entry.region);
    return S_OK;
}

HRESULT CxSkinImageList::GetImage(int index, HBITMAP* bitmap, BOOL mustExist) const
{
    if (bitmap == nullptr || !m_entries.IsValidIndex(index))
        return E_INVALIDARG;
    *bitmap = m_entries.GetAt(index).bitmap;
    return (*bitmap == nullptr && mustExist) ? E_FAIL : S_OK;
}

HRESULT CxSkinImageList::GetRegionHandle(int index, HRGN* region) const
{
    if (region == nullptr || !m_entries.IsValidIndex(index))
        return E_INVALIDARG;
    *region = m_entries.GetAt(index).region;
    return S_OK;
}
