#include "manager/framework/images/cx_image_region.h"

#include "manager/framework/windows/cx_platform.h"

#include <cstring>
#include <vector>

HRESULT CxRunRectsFromPixels(const DWORD* pixels, int width, int height, CxRunRects* runs)
{
    if (pixels == nullptr || width <= 0 || height <= 0 || runs == nullptr)
        return E_INVALIDARG;
    // The last stored row is the image's top row; its first pixel is the key.
    const size_t total = static_cast<size_t>(width) * static_cast<size_t>(height);
    const DWORD key = pixels[total - width];
    auto close = [runs](RECT& run, bool& open) {
        if (!open)
            return true;
        open = false;
        if (!runs->rects.Add(run))
            return false;
        RECT& b = runs->bound;
        b.left = run.left < b.left ? run.left : b.left;
        b.top = run.top < b.top ? run.top : b.top;
        b.right = run.right > b.right ? run.right : b.right;
        b.bottom = run.bottom > b.bottom ? run.bottom : b.bottom;
        return true;
    };
    size_t i = total;
    for (int y = 0; y < height; ++y) {
        RECT run{};
        bool open = false;
        for (int x = width - 1; x >= 0; --x) {
            const DWORD pixel = pixels[--i];
            if (pixel != key) {
                if (!open)
                    run = RECT{x, y, x + 1, y + 1};
                open = true;
                run.left = x;
            } else if (!close(run, open)) {
                return E_OUTOFMEMORY;
            }
        }
        if (!close(run, open))
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CxCreateRegionFromRects(const CxRunRects& runs, HRGN* region)
{
    if (region == nullptr)
        return E_POINTER;
    *region = nullptr;
    const int count = runs.rects.GetCount();
    if (count == 0)
        return E_INVALIDARG;
    std::vector<BYTE> block;
    CxGdiOwner<HRGN> result;
    for (int first = 0; first < count; first += kCxRegionChunk) {
        const int k = count - first < kCxRegionChunk ? count - first : kCxRegionChunk;
        try {
            block.assign(sizeof(RGNDATAHEADER) + sizeof(RECT) * static_cast<size_t>(k), 0);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        auto* data = reinterpret_cast<RGNDATA*>(block.data());
        data->rdh.dwSize = sizeof(RGNDATAHEADER);
        data->rdh.iType = RDH_RECTANGLES;
        data->rdh.nCount = static_cast<DWORD>(k);
        data->rdh.nRgnSize = static_cast<DWORD>(sizeof(RECT) * k);
        data->rdh.rcBound = runs.bound;
        for (int j = 0; j < k; ++j)
            std::memcpy(data->Buffer + sizeof(RECT) * j, &runs.rects.GetAt(first + j), sizeof(RECT));
        HRGN chunk = ExtCreateRegion(nullptr, static_cast<DWORD>(block.size()), data);
        if (result.Get() == nullptr) {
            if (chunk == nullptr)
                return E_ABORT;
            *result.Receive() = chunk;
            continue;
        }
        if (chunk == nullptr)
            return E_OUTOFMEMORY;
        const int combined = CombineRgn(result.Get(), result.Get(), chunk, RGN_OR);
        DeleteObject(chunk);
        if (combined == ERROR || combined == NULLREGION)
            return E_ABORT;
    }
    *region = result.Release();
    return S_OK;
}

HRESULT CxRegionFromDibSection(const CxMemDC& dc, HRGN* region)
{
    const DIBSECTION& section = dc.GetDibSection();
    if (dc.GetBits() == nullptr || section.dsBm.bmBitsPixel != 32)
        return E_INVALIDARG;
    CxRunRects runs;
    const HRESULT hr = CxRunRectsFromPixels(static_cast<const DWORD*>(dc.GetBits()), section.dsBm.bmWidth,
                                            section.dsBm.bmHeight, &runs);
    if (FAILED(hr))
        return hr;
    return CxCreateRegionFromRects(runs, region);
}
