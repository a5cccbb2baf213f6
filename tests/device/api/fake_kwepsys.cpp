// Font libraries that fail in the ways the device API must answer: built with the size GetFontSize
// gives (KWEP_FAKE_FONT_SIZE) and the result of CopyFontData (KWEP_FAKE_COPY_RESULT); its .def file
// chooses which ordinals are exported.
extern "C" int __cdecl GetFontSize(int)
{
    return KWEP_FAKE_FONT_SIZE;
}

extern "C" int __cdecl CopyFontData(int, char* buffer)
{
    constexpr int size = KWEP_FAKE_FONT_SIZE;
    for (int i = 0; buffer && i < size; ++i)
        buffer[i] = 0x5A;
    return KWEP_FAKE_COPY_RESULT;
}
