#include "manager/framework/images/cx_skin_image.h"

#include "manager/framework/skin/cx_skin_file.h"
#include "manager/framework/skin/cx_skin_props.h"
#include "manager/framework/windows/cx_platform.h"

HRESULT CxSkinShape::GetRegion(HRGN* region)
{
    if (region == nullptr)
        return E_POINTER;
    *region = nullptr;
    HRGN held = nullptr;
    HRESULT hr = m_images.GetRegionHandle(m_images.m_state, &held);
    if (FAILED(hr))
        return hr;
    if (held == nullptr)
        return E_FAIL;
    HRGN copy = CreateRectRgn(0, 0, 0, 0);
    if (copy == nullptr)
        return E_OUTOFMEMORY;
    if (CombineRgn(copy, held, nullptr, RGN_COPY) == ERROR) {
        DeleteObject(copy);
        return E_FAIL;
    }
    *region = copy;
    return S_OK;
}

HRESULT CxSkinShape::ApplyImage()
{
    const int wanted = GetWantedState();
    if (wanted == m_images.m_state)
        return S_FALSE;
    const int previous = m_images.m_state;
    m_images.m_state = wanted;
    HRESULT hr = S_OK;
    CxGdiOwner<HRGN> regionCopy;
    CxGdiOwner<HBITMAP> bitmapCopy;
    do {
        if (m_images.GetCount() == 0) {
            hr = E_ABORT;
            break;
        }
        HBITMAP bitmap = nullptr;
        HRGN region = nullptr;
        hr = m_images.GetImage(wanted, &bitmap, TRUE);
        if (SUCCEEDED(hr))
            hr = m_images.GetRegionHandle(wanted, &region);
        if (FAILED(hr))
            break;
        if (region != nullptr && (m_flagsHigh & CXFH_NOREGIONCUT) == 0) {
            *regionCopy.Receive() = CreateRectRgn(0, 0, 0, 0);
            if (regionCopy.Get() == nullptr || CombineRgn(regionCopy.Get(), region, nullptr, RGN_COPY) == ERROR) {
                hr = E_OUTOFMEMORY;
                break;
            }
        }
        CxMemDC dc(GetWnd());
        hr = dc.AttachBitmap(bitmap, -1);
        if (FAILED(hr))
            break;
        *bitmapCopy.Receive() = dc.DetachBitmap();
        hr = ApplyToWindow(bitmapCopy.Release(), regionCopy.Release());
    } while (false);
    if (FAILED(hr))
        m_images.m_state = previous;
    return hr;
}

HRESULT CxSkinShape::ApplyToWindow(HBITMAP bitmap, HRGN region)
{
    CxGdiOwner<HBITMAP> ownedBitmap(bitmap);
    CxGdiOwner<HRGN> ownedRegion(region);
    HWND hWnd = GetWnd();
    BITMAP info{};
    if (hWnd == nullptr || GetObjectW(bitmap, sizeof(info), &info) == 0)
        return E_ABORT;
    if ((m_flagsLow & CXFL_FRAMEIMAGE) == 0) {
        m_flagsLow |= CXFL_FRAMEIMAGE;
        const UINT frameChanged = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED;
        LONG style = GetWindowLongW(hWnd, GWL_STYLE) | WS_CLIPSIBLINGS;
        if ((m_flagsHigh & CXFH_KEEPFRAMESTYLE) == 0)
            style &= ~static_cast<LONG>(WS_CAPTION | WS_THICKFRAME | DS_MODALFRAME);
        SetWindowLongW(hWnd, GWL_STYLE, style);
        SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, frameChanged);
        if ((m_flagsHigh & CXFH_KEEPFRAMESTYLE) == 0) {
            const LONG exStyle =
                GetWindowLongW(hWnd, GWL_EXSTYLE) &
                ~static_cast<LONG>(WS_EX_STATICEDGE | WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE | WS_EX_DLGMODALFRAME);
            SetWindowLongW(hWnd, GWL_EXSTYLE, exStyle);
            SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, frameChanged);
        }
    }
    CxFrameMetrics frame{};
    if (FAILED(CxGetFrameMetrics(hWnd, &frame)))
        return E_ABORT;
    if (ownedRegion.Get() != nullptr)
        OffsetRgn(ownedRegion.Get(), frame.left, frame.top);
    const int width = info.bmWidth + frame.extraWidth;
    const int height = info.bmHeight + frame.extraHeight;

    // The new bitmap goes to the painter unless a paint is running.
    if ((m_flagsLow & CXFL_PAINTINGBKGND) == 0)
        SetBackground(ownedBitmap.Release());
    UINT flags = SWP_NOCOPYBITS | SWP_FRAMECHANGED | SWP_NOACTIVATE | SWP_NOMOVE;
    if (m_hWndInsertAfter == nullptr)
        flags |= SWP_NOZORDER;
    const bool stretch = (m_flagsHigh & CXFH_STRETCH) != 0;
    const bool maximized = stretch && IsZoomed(hWnd);
    if (stretch) {
        SendMessageW(hWnd, CXM_PRESIZE, static_cast<WPARAM>(width), static_cast<LPARAM>(height));
        if (maximized)
            flags |= SWP_NOSIZE;
    }
    if (!SetWindowPos(hWnd, m_hWndInsertAfter, 0, 0, width, height, flags) && IsWindow(hWnd))
        return E_UNEXPECTED;
    if (maximized) {
        RECT client{};
        GetClientRect(hWnd, &client);
        SendMessageW(hWnd, WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(client.right, client.bottom));
    }
    if (ownedRegion.Get() != nullptr)
        SendMessageW(hWnd, CXM_SETREGION, reinterpret_cast<WPARAM>(ownedRegion.Release()), 0);
    if ((m_flagsLow & CXFL_SKINREGION) == 0) {
        m_flagsLow |= CXFL_SKINREGION;
        SendMessageW(hWnd, CXM_FRAMEIMAGESET, 1, 0);
    }
    InvalidateRgn(hWnd, nullptr, TRUE);
    UpdateWindow(hWnd);
    return S_OK;
}

// ---- CxSkinFrame ----

HRESULT CxSkinFrame::GetSkinProps(CxSkinPropEntries& list)
{
    if (!m_section.IsEmpty() && !list.Add(CxSkinPropEntry{m_section, L"img", 1, GetWnd(), CxSkinParseImage}))
        return E_OUTOFMEMORY;
    return CxSkinProps::GetSkinProps(list);
}

HRESULT CxSkinFrame::SetSkinSection(const wchar_t* section)
{
    const HRESULT hr = m_section.Assign(section);
    if (FAILED(hr) || GetSkinRecords().GetCount() == 0)
        return hr;
    CxSkinPropEntries list;
    return GetSkinProps(list);
}

void CxSkinFrame::RegisterSkinProps()
{
    if (GetSkinRecords().GetCount() != 0)
        return;
    CxSkinPropEntries list;
    GetSkinProps(list);
}

HRESULT CxSkinFrame::ApplySkinSection(const wchar_t* skinFile)
{
    Invalidate();
    if (m_section.IsEmpty())
        return S_FALSE;
    RegisterSkinProps();
    void* targets[] = {&GetImageList()};
    // A missing image leaves the list empty, and the apply keeps the window as it is.
    CxIniReadSection(GetSkinRecords(), m_section, skinFile, targets, 1, 0, L"img", GetPackData(GetWnd()));
    return ApplyImage();
}
