// Device-independent bitmaps held as packed DIBs (header, colour table, pixel bits) in movable global
// memory: reading one from a ".bmp" file, writing one, painting it, its palette and its copy.
//
// A bitmap file is untrusted: every function checks the packed DIB against its block first (header
// kind, bit count, colour count, compression, dimensions, and that header, colour table, masks and
// pixels all lie in the block) and refuses anything else, so no function reads past the block.
#pragma once

#include "platform/afx/afx.h"

#include <cstddef>
#include <cstdint>

// What the checks found in a packed DIB.
struct DibLayout {
    DWORD headerSize = 0;  // 12 (core header), 40 or a later info header (108, 124)
    bool coreHeader = false;
    LONG width = 0;
    LONG height = 0;  // rows, positive also for a top-down DIB
    bool topDown = false;
    WORD bitCount = 0;
    DWORD compression = BI_RGB;
    DWORD colorCount = 0;   // entries of the colour table
    DWORD paletteSize = 0;  // bytes of the colour table
    DWORD maskSize = 0;     // bytes of the bit-field masks behind a 40-byte header
    DWORD bitsOffset = 0;   // from the start of the block
    DWORD imageSize = 0;    // bytes of pixel data
};

// Checks a packed DIB of size bytes; false for anything the functions below refuse.
bool DibCheckLayout(const void* dib, size_t size, DibLayout* layout);
// Checks a ".bmp" file: the file header's "BM", the packed DIB of size bytes behind it, and that the
// file header's pixel offset lies behind the colour table with every pixel byte inside the file.
bool DibCheckFileLayout(const BITMAPFILEHEADER& header, const void* dib, size_t size, DibLayout* layout);

// The colour table's entries: a nonzero used-colour count of an info header, else 2, 16 or 256 by the
// bit count (0 otherwise). 0 for a null or refused DIB.
DWORD DibColorCount(HGLOBAL dib);
// Bytes of the colour table: 4 per colour after an info header, 3 after a core header.
DWORD DibPaletteSize(HGLOBAL dib);
// The pixel bits inside the locked block (header + colour table + masks); null for a refused DIB.
// The block must stay locked while the pointer is used.
BYTE* DibFindBits(BYTE* lockedDib, size_t size);
LONG DibWidth(HGLOBAL dib);
// Rows of the bitmap (positive for top-down bitmaps too).
LONG DibHeight(HGLOBAL dib);

// A palette of the colour table; FALSE for a null or refused DIB, one without a colour table, or when
// the palette object refuses it.
BOOL DibCreatePalette(HGLOBAL dib, CPalette* palette);
// Paints the source rectangle of the DIB into the destination rectangle (stretched when the sizes
// differ); FALSE for a null DC or a null or refused DIB.
BOOL DibPaint(HDC hdc, const RECT* destination, HGLOBAL dib, const RECT* source, CPalette* palette);
// A new movable block holding a copy; null for a null handle or out of memory.
HGLOBAL DibCopyHandle(HGLOBAL handle);
// Writes the file header and the packed DIB; FALSE for a null or refused DIB, a core header, or a
// failed write. The image size of the header is set to the size written.
BOOL DibSaveToFile(HGLOBAL dib, CFile& file);
// The packed DIB of a ".bmp" file (without the file header) in a new movable block; null when the file
// is not "BM", is short, or holds a DIB the checks refuse.
HGLOBAL DibReadFromFile(CFile& file);

// The file header's size.
constexpr DWORD kDibFileHeaderSize = 14;
static_assert(sizeof(BITMAPFILEHEADER) == kDibFileHeaderSize, "packed file header");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "info header");
static_assert(sizeof(BITMAPCOREHEADER) == 12, "core header");
