#include "manager/framework/images/cx_memdc.h"

#include "manager/framework/windows/cx_platform.h"

#include <new>

CxMemDC::CxMemDC(HWND hWnd) : m_hWnd(IsWindow(hWnd) ? hWnd : nullptr)
{
    HDC windowDC = ::GetDC(m_hWnd);
    m_hDC = CreateCompatibleDC(windowDC);
    ::ReleaseDC(m_hWnd, windowDC);
}

CxMemDC::~CxMemDC()
{
    ReleaseBitmap();
    if (m_hDC != nullptr)
        DeleteDC(m_hDC);
}

void CxMemDC::ReleaseBitmap()
{
    HBITMAP bitmap = DetachBitmap();
    if (bitmap != nullptr)
        DeleteObject(bitmap);
}

HBITMAP CxMemDC::DetachBitmap()
{
    if (m_hOldBitmap != nullptr && m_hDC != nullptr)
        SelectObject(m_hDC, m_hOldBitmap);
    m_hOldBitmap = nullptr;
    delete m_pHeader;
    m_pHeader = nullptr;
    m_headerSize = 0;
    m_pBits = nullptr;
    m_dibSection = {};
    HBITMAP bitmap = m_hBitmap;
    m_hBitmap = nullptr;
    return bitmap;
}

HRESULT CxMemDC::CreateDIB(SIZE size, int bitCount, COLORREF fill)
{
    if (bitCount != 16 && bitCount != 24 && bitCount != 32)
        return E_INVALIDARG;
    if (m_hDC == nullptr || size.cx <= 0 || size.cy <= 0)
        return E_INVALIDARG;
    ReleaseBitmap();
    m_pHeader = new (std::nothrow) BITMAPINFOHEADER{};
    if (m_pHeader == nullptr)
        return E_OUTOFMEMORY;
    m_headerSize = sizeof(BITMAPINFOHEADER);
    m_pHeader->biSize = sizeof(BITMAPINFOHEADER);
    m_pHeader->biWidth = size.cx;
    m_pHeader->biHeight = size.cy;  // bottom-up
    m_pHeader->biPlanes = 1;
    m_pHeader->biBitCount = static_cast<WORD>(bitCount);
    m_pHeader->biCompression = BI_RGB;
    HDC windowDC = ::GetDC(m_hWnd);
    m_hBitmap =
        CreateDIBSection(windowDC, reinterpret_cast<BITMAPINFO*>(m_pHeader), DIB_RGB_COLORS, &m_pBits, nullptr, 0);
    ::ReleaseDC(m_hWnd, windowDC);
    if (m_hBitmap == nullptr) {
        DetachBitmap();
        return E_FAIL;
    }
    m_hOldBitmap = SelectObject(m_hDC, m_hBitmap);
    if (m_hOldBitmap == nullptr || m_hOldBitmap == HGDI_ERROR) {
        m_hOldBitmap = nullptr;
        ReleaseBitmap();
        return E_UNEXPECTED;
    }
    GetObjectW(m_hBitmap, sizeof(m_dibSection), &m_dibSection);
    const RECT all{0, 0, size.cx, size.cy};
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(m_hDC, &all, brush);
    DeleteObject(brush);
    GdiFlush();
    return S_OK;
}

HRESULT CxMemDC::AttachBitmap(HBITMAP hBitmap, int bitCount)
{
    BITMAP info{};
    if (hBitmap == nullptr || GetObjectW(hBitmap, sizeof(info), &info) == 0)
        return E_INVALIDARG;
    if (bitCount == -1)
        bitCount = info.bmBitsPixel;
    HRESULT hr = CreateDIB(SIZE{info.bmWidth, info.bmHeight}, bitCount, RGB(0, 0, 0));
    if (FAILED(hr))
        return hr;
    HDC source = CreateCompatibleDC(m_hDC);
    if (source == nullptr)
        return E_FAIL;
    HGDIOBJ old = SelectObject(source, hBitmap);
    const BOOL copied = BitBlt(m_hDC, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
    GdiFlush();
    return copied ? S_OK : E_FAIL;
}

HRESULT CxMemDC::AttachPicture(IPicture* picture, int bitCount)
{
    if (picture == nullptr)
        return E_INVALIDARG;
    OLE_HANDLE handle = 0;
    HRESULT hr = picture->get_Handle(&handle);
    if (FAILED(hr))
        return hr;
    hr = AttachBitmap(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)), bitCount);
    if (FAILED(hr) || CxIsNtPlatform())
        return hr;
    // The Windows 95 family leaves garbage in the unused byte, which would spoil key-colour compares.
    if (m_dibSection.dsBm.bmBitsPixel != 32 || m_pBits == nullptr)
        return S_FALSE;
    auto* pixel = static_cast<DWORD*>(m_pBits);
    const size_t count = static_cast<size_t>(m_dibSection.dsBm.bmWidth) * m_dibSection.dsBm.bmHeight;
    for (size_t i = 0; i < count; ++i)
        pixel[i] &= 0x00FFFFFF;
    return S_OK;
}
