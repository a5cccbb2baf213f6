// Conversions between UTF-16 and the system's ANSI code page (CP_ACP), for the file helpers and the
// programs built on the platform layer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A UTF-16 path in the ANSI code page, for one A call. The A calls take at most MAX_PATH characters,
// so a fixed buffer serves (two bytes a character covers the double-byte code pages); a path that does
// not fit is refused rather than cut, and ok() is false.
class AnsiPath {
public:
    explicit AnsiPath(const wchar_t* path);
    AnsiPath(const AnsiPath&) = delete;
    AnsiPath& operator=(const AnsiPath&) = delete;

    bool ok() const { return ok_; }
    const char* c_str() const { return buffer_.data(); }

private:
    static constexpr std::size_t kMaxPath = 260;  // MAX_PATH
    std::array<char, 2 * kMaxPath + 2> buffer_{};
    bool ok_ = false;
};

// System ANSI code page conversions. Both write at most outSize units including the NUL and return the
// length without the NUL; 0 on failure, a text that does not fit included (the output is then empty).
std::uint32_t AnsiToWide(const char* text, wchar_t* out, std::uint32_t outChars);
std::uint32_t WideToAnsi(const wchar_t* text, char* out, std::uint32_t outBytes);

// ANSI text to UTF-16; empty when the conversion fails.
std::wstring AnsiToWide(std::string_view text);
