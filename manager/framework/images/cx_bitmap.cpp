#include "manager/framework/images/cx_bitmap.h"

#include <climits>
#include <cstring>
#include <vector>

namespace {

template <class T>
T ReadField(const BYTE* p, size_t offset)
{
    T value;
    std::memcpy(&value, p + offset, sizeof(T));
    return value;
}

// A locked global block, unlocked when it goes.
class LockedDib {
public:
    explicit LockedDib(HGLOBAL handle)
        : m_handle(handle),
          m_data(handle != nullptr ? static_cast<BYTE*>(GlobalLock(handle)) : nullptr),
          m_size(m_data != nullptr ? GlobalSize(handle) : 0)
    {
        m_valid = m_data != nullptr && DibCheckLayout(m_data, m_size, &m_layout);
    }
    ~LockedDib()
    {
        if (m_data != nullptr)
            GlobalUnlock(m_handle);
    }
    LockedDib(const LockedDib&) = delete;
    LockedDib& operator=(const LockedDib&) = delete;

    bool Valid() const { return m_valid; }
    BYTE* Data() const { return m_data; }
    size_t Size() const { return m_size; }
    const DibLayout& Layout() const { return m_layout; }

private:
    HGLOBAL m_handle;
    BYTE* m_data;
    size_t m_size;
    DibLayout m_layout;
    bool m_valid = false;
};

bool IsInfoBitCount(WORD bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

bool DibCheckLayout(const void* dib, size_t size, DibLayout* layout)
{
    if (dib == nullptr || size < sizeof(DWORD) || layout == nullptr)
        return false;
    const BYTE* p = static_cast<const BYTE*>(dib);
    DibLayout found;
    found.headerSize = ReadField<DWORD>(p, 0);
    DWORD usedColors = 0;
    WORD planes = 0;
    if (found.headerSize == sizeof(BITMAPCOREHEADER)) {
        if (size < sizeof(BITMAPCOREHEADER))
            return false;
        const auto core = ReadField<BITMAPCOREHEADER>(p, 0);
        found.coreHeader = true;
        found.width = core.bcWidth;
        found.height = core.bcHeight;
        found.bitCount = core.bcBitCount;
        planes = core.bcPlanes;
        if (found.bitCount != 1 && found.bitCount != 4 && found.bitCount != 8 && found.bitCount != 24)
            return false;
        if (found.height <= 0)
            return false;
    } else if (found.headerSize >= sizeof(BITMAPINFOHEADER)) {
        // Later headers (V4, V5) start with the info header's fields.
        if (size < found.headerSize)
            return false;
        const auto info = ReadField<BITMAPINFOHEADER>(p, 0);
        found.width = info.biWidth;
        found.compression = info.biCompression;
        found.bitCount = info.biBitCount;
        planes = info.biPlanes;
        usedColors = info.biClrUsed;
        if (!IsInfoBitCount(found.bitCount))
            return false;
        if (info.biHeight == 0 || info.biHeight == LONG_MIN)
            return false;
        found.topDown = info.biHeight < 0;
        found.height = found.topDown ? -info.biHeight : info.biHeight;
        switch (found.compression) {
        case BI_RGB:
            break;
        case BI_RLE8:
        case BI_RLE4:
            // Compressed bitmaps are bottom-up, of the matching depth, and say how long they are.
            if (found.topDown || found.bitCount != (found.compression == BI_RLE8 ? 8 : 4) || info.biSizeImage == 0)
                return false;
            found.imageSize = info.biSizeImage;
            break;
        case BI_BITFIELDS:
            if (found.bitCount != 16 && found.bitCount != 32)
                return false;
            if (found.headerSize == sizeof(BITMAPINFOHEADER))
                found.maskSize = 3 * sizeof(DWORD);
            break;
        default:
            return false;
        }
    } else {
        return false;
    }
    if (planes != 1 || found.width <= 0)
        return false;

    const DWORD tableMax = found.bitCount <= 8 ? (1u << found.bitCount) : 256u;
    if (usedColors > tableMax)
        return false;
    if (usedColors != 0)
        found.colorCount = usedColors;
    else
        found.colorCount = found.bitCount <= 8 ? (1u << found.bitCount) : 0;
    found.paletteSize = found.colorCount * (found.coreHeader ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD));

    const unsigned long long bitsOffset =
        static_cast<unsigned long long>(found.headerSize) + found.paletteSize + found.maskSize;
    unsigned long long imageSize = found.imageSize;
    if (imageSize == 0) {
        const unsigned long long stride = (static_cast<unsigned long long>(found.width) * found.bitCount + 31) / 32 * 4;
        imageSize = stride * static_cast<unsigned long long>(found.height);
    }
    if (bitsOffset > size || imageSize > size - bitsOffset)
        return false;
    found.bitsOffset = static_cast<DWORD>(bitsOffset);
    found.imageSize = static_cast<DWORD>(imageSize);
    *layout = found;
    return true;
}

bool DibCheckFileLayout(const BITMAPFILEHEADER& header, const void* dib, size_t size, DibLayout* layout)
{
    DibLayout found;
    if (header.bfType != 0x4D42 || !DibCheckLayout(dib, size, &found))
        return false;
    // An offset into the header or colour table, or one that leaves too few bytes for the pixels, is
    // refused.
    const unsigned long long offset = header.bfOffBits;
    if (offset < kDibFileHeaderSize + static_cast<unsigned long long>(found.bitsOffset) ||
        offset - kDibFileHeaderSize + found.imageSize > size)
        return false;
    *layout = found;
    return true;
}

DWORD DibColorCount(HGLOBAL dib)
{
    LockedDib locked(dib);
    return locked.Valid() ? locked.Layout().colorCount : 0;
}

DWORD DibPaletteSize(HGLOBAL dib)
{
    LockedDib locked(dib);
    return locked.Valid() ? locked.Layout().paletteSize : 0;
}

BYTE* DibFindBits(BYTE* lockedDib, size_t size)
{
    DibLayout layout;
    if (!DibCheckLayout(lockedDib, size, &layout))
        return nullptr;
    return lockedDib + layout.bitsOffset;
}

LONG DibWidth(HGLOBAL dib)
{
    LockedDib locked(dib);
    return locked.Valid() ? locked.Layout().width : 0;
}

LONG DibHeight(HGLOBAL dib)
{
    LockedDib locked(dib);
    return locked.Valid() ? locked.Layout().height : 0;
}

BOOL DibCreatePalette(HGLOBAL dib, CPalette* palette)
{
    if (dib == nullptr || palette == nullptr)
        return FALSE;
    LockedDib locked(dib);
    if (!locked.Valid())
        return FALSE;
    const DibLayout& layout = locked.Layout();
    if (layout.colorCount == 0)
        return FALSE;
    std::vector<BYTE> block(sizeof(LOGPALETTE) + layout.colorCount * sizeof(PALETTEENTRY));
    auto* logPalette = reinterpret_cast<LOGPALETTE*>(block.data());
    logPalette->palVersion = 0x300;
    logPalette->palNumEntries = static_cast<WORD>(layout.colorCount);
    const BYTE* table = locked.Data() + layout.headerSize;
    for (DWORD i = 0; i < layout.colorCount; ++i) {
        PALETTEENTRY& entry = logPalette->palPalEntry[i];
        if (layout.coreHeader) {
            const auto rgb = ReadField<RGBTRIPLE>(table, i * sizeof(RGBTRIPLE));
            entry = {rgb.rgbtRed, rgb.rgbtGreen, rgb.rgbtBlue, 0};
        } else {
            const auto rgb = ReadField<RGBQUAD>(table, i * sizeof(RGBQUAD));
            entry = {rgb.rgbRed, rgb.rgbGreen, rgb.rgbBlue, 0};
        }
    }
    return palette->CreatePalette(logPalette);
}

BOOL DibPaint(HDC hdc, const RECT* destination, HGLOBAL dib, const RECT* source, CPalette* palette)
{
    if (hdc == nullptr || destination == nullptr || source == nullptr || dib == nullptr)
        return FALSE;
    LockedDib locked(dib);
    if (!locked.Valid())
        return FALSE;
    const DibLayout& layout = locked.Layout();
    HPALETTE previous = nullptr;
    if (palette != nullptr && palette->GetSafeHandle() != nullptr) {
        previous = SelectPalette(hdc, *palette, TRUE);
        RealizePalette(hdc);
    }
    SetStretchBltMode(hdc, COLORONCOLOR);
    const auto* info = reinterpret_cast<const BITMAPINFO*>(locked.Data());
    const BYTE* bits = locked.Data() + layout.bitsOffset;
    const int destWidth = destination->right - destination->left;
    const int destHeight = destination->bottom - destination->top;
    const int sourceWidth = source->right - source->left;
    const int sourceHeight = source->bottom - source->top;
    BOOL painted;
    if (destWidth == sourceWidth && destHeight == sourceHeight) {
        // The source's y counts from the first row stored: the bottom row of a bottom-up bitmap.
        const int sourceY = layout.topDown ? source->top : layout.height - source->bottom;
        painted = SetDIBitsToDevice(hdc, destination->left, destination->top, destWidth, destHeight, source->left,
                                    sourceY, 0, static_cast<UINT>(layout.height), bits, info, DIB_RGB_COLORS) != 0;
    } else {
        painted = StretchDIBits(hdc, destination->left, destination->top, destWidth, destHeight, source->left,
                                source->top, sourceWidth, sourceHeight, bits, info, DIB_RGB_COLORS, SRCCOPY) != 0;
    }
    if (previous != nullptr)
        SelectPalette(hdc, previous, TRUE);
    return painted;
}

HGLOBAL DibCopyHandle(HGLOBAL handle)
{
    if (handle == nullptr)
        return nullptr;
    const SIZE_T size = GlobalSize(handle);
    const void* from = GlobalLock(handle);
    if (from == nullptr)
        return nullptr;
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    void* to = copy != nullptr ? GlobalLock(copy) : nullptr;
    if (to != nullptr) {
        std::memcpy(to, from, size);
        GlobalUnlock(copy);
    } else if (copy != nullptr) {
        GlobalFree(copy);
        copy = nullptr;
    }
    GlobalUnlock(handle);
    return copy;
}

BOOL DibSaveToFile(HGLOBAL dib, CFile& file)
{
    if (dib == nullptr)
        return FALSE;
    LockedDib locked(dib);
    if (!locked.Valid() || locked.Layout().coreHeader)
        return FALSE;
    const DibLayout& layout = locked.Layout();
    // Uncompressed images are written at their computed size, which the header then states.
    auto* info = reinterpret_cast<BITMAPINFOHEADER*>(locked.Data());
    info->biSizeImage = layout.imageSize;

    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfSize = kDibFileHeaderSize + layout.bitsOffset + layout.imageSize;
    header.bfOffBits = kDibFileHeaderSize + layout.bitsOffset;
    if (layout.bitsOffset > UINT_MAX - kDibFileHeaderSize - layout.imageSize)
        return FALSE;
    return file.Write(&header, sizeof(header)) && file.Write(locked.Data(), layout.bitsOffset + layout.imageSize);
}

HGLOBAL DibReadFromFile(CFile& file)
{
    BITMAPFILEHEADER header{};
    if (!file.SeekTo(0) || file.Read(&header, sizeof(header)) != sizeof(header) || header.bfType != 0x4D42)
        return nullptr;
    BOOL failed = FALSE;
    const ULONGLONG length = file.GetLength(&failed);
    if (failed || length <= kDibFileHeaderSize || length - kDibFileHeaderSize > UINT_MAX)
        return nullptr;
    const UINT rest = static_cast<UINT>(length - kDibFileHeaderSize);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, rest);
    if (block == nullptr)
        return nullptr;
    auto* data = static_cast<BYTE*>(GlobalLock(block));
    bool ok = data != nullptr && file.Read(data, rest) == rest;
    DibLayout layout;
    ok = ok && DibCheckFileLayout(header, data, rest, &layout);
    // The pixels start where the file header says; a gap behind the colour table is closed so the block
    // is a packed DIB.
    const DWORD offset = header.bfOffBits - kDibFileHeaderSize;
    if (ok && offset > layout.bitsOffset)
        std::memmove(data + layout.bitsOffset, data + offset, layout.imageSize);
    if (data != nullptr)
        GlobalUnlock(block);
    if (!ok) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}
