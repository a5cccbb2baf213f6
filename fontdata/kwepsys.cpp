// Kwepsys.dll: the entry point and the two exports. The library keeps no state and only reads the image.
#include "fontdata/kwepsys.h"

#include <windows.h>

#include <cstring>

// The image, assembled into the read-only data from the generated file (font_image.S). The assembler
// name is fixed, so the 32-bit build does not look for an underscored symbol.
extern "C" const char g_fontImage[fontdata::kFontImageSize] asm("kwep_font_image");

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" int __cdecl CopyFontData(int /*fontType*/, char* buffer)
{
    // A null buffer would crash the caller's process; 0 is the result the caller reports as a failed load.
    if (buffer == nullptr)
        return 0;
    std::memcpy(buffer, g_fontImage, fontdata::kFontImageSize);
    return 1;
}

extern "C" int __cdecl GetFontSize(int /*fontType*/)
{
    return fontdata::kFontImageSize;
}
