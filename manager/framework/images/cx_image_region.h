// Key-colour regions: the window region of an image is every pixel but those of the key colour (the
// image's top-left pixel), built from one rectangle per horizontal run.
#pragma once

#include "manager/framework/images/cx_memdc.h"
#include "manager/framework/windows/cx_array.h"

#include <windows.h>

#include <climits>

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
