// Pixels read back from bitmaps, 24-bit BMP files written for skins, and the folder where windowed tests
// keep their captures.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace cx_test {

// A 24-bit bottom-up BMP of width x height pixels, coloured 0x00RRGGBB by their place (top row first);
// the folders on the way are made.
inline void WriteBmp24(const std::filesystem::path& path, int width, int height,
                       const std::function<uint32_t(int, int)>& colourAt)
{
    const int stride = (width * 3 + 3) & ~3;
    const uint32_t bitsSize = static_cast<uint32_t>(stride * height);
    std::string bytes(14 + 40 + bitsSize, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>(v >> (8 * i));
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, static_cast<uint32_t>(bytes.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    bytes[26] = 1;
    bytes[28] = 24;
    put32(34, bitsSize);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = colourAt(x, height - 1 - y);
            const size_t at = 54 + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
            bytes[at] = static_cast<char>(c);
            bytes[at + 1] = static_cast<char>(c >> 8);
            bytes[at + 2] = static_cast<char>(c >> 16);
        }
    }
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

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
