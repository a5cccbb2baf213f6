// Kwepsys.dll: the player's built-in font image and the two exports that hand it out. Callers load the
// library at run time and bind the exports by ordinal; the ordinals below are the interface.
//
// The image here is a stand-in of the real font's size, made at build time by make_font_image.py:
// 523,272 little-endian 32-bit words, word k being
//     x = k * 0x9E3779B1 + 0x4B574550;  x ^= x >> 16;  x *= 0x85EBCA6B;  x ^= x >> 13;
//     x *= 0xC2B2AE35;  x ^= x >> 16;   (all mod 2^32)
#pragma once

namespace fontdata {

// The size in bytes of the font image (0x1FF020).
inline constexpr int kFontImageSize = 2093088;

inline constexpr unsigned short kCopyFontDataOrdinal = 1;
inline constexpr unsigned short kGetFontSizeOrdinal = 2;

// CopyFontData(fontType, buffer): copies the whole image into `buffer` (at least GetFontSize bytes) and
// gives 1; gives 0 for a null buffer. fontType is ignored.
using CopyFontDataProc = int(__cdecl*)(int fontType, char* buffer);
// GetFontSize(fontType): the image's size whatever fontType is.
using GetFontSizeProc = int(__cdecl*)(int fontType);

}  // namespace fontdata
