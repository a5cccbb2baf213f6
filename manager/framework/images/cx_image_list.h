// The image list of one skin key: a bitmap and a region per state of the window.
#pragma once

#include "manager/framework/windows/cx_array.h"

#include <windows.h>

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
