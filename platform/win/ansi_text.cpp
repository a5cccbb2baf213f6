#include "platform/win/ansi_text.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <string>

AnsiPath::AnsiPath(const wchar_t* path)
{
    if (path == nullptr) {
        return;
    }
    const int written =
        WideCharToMultiByte(CP_ACP, 0, path, -1, buffer_.data(), static_cast<int>(buffer_.size()), nullptr, nullptr);
    ok_ = written > 0;
    if (!ok_) {
        buffer_[0] = '\0';
    }
}

std::uint32_t AnsiToWide(const char* text, wchar_t* out, std::uint32_t outChars)
{
    if (out == nullptr || outChars == 0)
        return 0;
    out[0] = L'\0';
    if (text == nullptr)
        return 0;
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, out, int(std::min<std::uint32_t>(outChars, INT_MAX)));
    if (n <= 0) {
        out[0] = L'\0';
        return 0;
    }
    return std::uint32_t(n - 1);
}

std::uint32_t WideToAnsi(const wchar_t* text, char* out, std::uint32_t outBytes)
{
    if (out == nullptr || outBytes == 0)
        return 0;
    out[0] = '\0';
    if (text == nullptr)
        return 0;
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, out, int(std::min<std::uint32_t>(outBytes, INT_MAX)),
                                      nullptr, nullptr);
    if (n <= 0) {
        out[0] = '\0';
        return 0;
    }
    return std::uint32_t(n - 1);
}

std::wstring AnsiToWide(std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring result(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text.data(), length, result.data(), needed) != needed) {
        return {};
    }
    return result;
}
