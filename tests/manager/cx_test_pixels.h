// Pixels read back from bitmaps, and the folder where windowed tests keep their captures.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace cx_test {

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> rgb;  // 0x00RRGGBB, top row first
    uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

// The bitmap's pixels through GetDIBits; empty for no bitmap.
inline Pixels ReadBitmap(HBITMAP bitmap)
{
    Pixels p;
    BITMAP info{};
    if (bitmap == nullptr || GetObjectW(bitmap, sizeof(info), &info) == 0)
        return p;
    p.width = info.bmWidth;
    p.height = info.bmHeight;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = p.width;
    bi.bmiHeader.biHeight = -p.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    p.rgb.resize(static_cast<size_t>(p.width) * p.height);
    HDC dc = CreateCompatibleDC(nullptr);
    GetDIBits(dc, bitmap, 0, p.height, p.rgb.data(), &bi, DIB_RGB_COLORS);
    DeleteDC(dc);
    for (uint32_t& v : p.rgb)
        v &= 0xFFFFFF;
    return p;
}

// The artefacts folder beside the test program (made when missing).
inline std::filesystem::path ArtefactFolder()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path folder = std::filesystem::path(self).parent_path() / "artefacts";
    std::filesystem::create_directories(folder);
    return folder;
}

}  // namespace cx_test
