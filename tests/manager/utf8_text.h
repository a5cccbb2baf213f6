// UTF-8 copies of wide texts, for the report files the test programs write.
#pragma once

#include <windows.h>

#include <string>

inline std::string Utf8(const wchar_t* text)
{
    if (text == nullptr || *text == L'\0')
        return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return std::string();
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}
