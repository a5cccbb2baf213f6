// Conversions between UTF-16 and the system's ANSI code page (CP_ACP), shared by the file helpers and
// the tag reader. Internal to the device-side utility library.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace engine {

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
    std::array<char, 2 * MAX_PATH + 2> buffer_{};
    bool ok_ = false;
};

// Converts `text` to ANSI into `out` (outSize bytes, terminator included), cut at a character boundary
// when it does not fit. Returns the length written; 0 for empty text or outSize 0.
std::size_t WideToAnsi(std::wstring_view text, char* out, std::size_t outSize);

// ANSI text to UTF-16; empty when the conversion fails.
std::wstring AnsiToWide(std::string_view text);

}  // namespace engine
