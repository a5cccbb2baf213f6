#include "device/fs/pc/ansi_text.h"

#include <climits>
#include <string>

namespace engine {

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

std::size_t WideToAnsi(std::wstring_view text, char* out, std::size_t outSize)
{
    if (outSize == 0) {
        return 0;
    }
    out[0] = '\0';
    // Each UTF-16 unit gives at least one byte, so no more than outSize - 1 units can fit.
    std::size_t units = text.size() < outSize - 1 ? text.size() : outSize - 1;
    if (units > INT_MAX) {
        units = INT_MAX;
    }
    while (units > 0) {
        const int needed =
            WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(units), nullptr, 0, nullptr, nullptr);
        if (needed <= 0) {
            return 0;
        }
        if (static_cast<std::size_t>(needed) <= outSize - 1) {
            WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(units), out, needed, nullptr, nullptr);
            out[needed] = '\0';
            return static_cast<std::size_t>(needed);
        }
        // Double-byte characters: drop units until the bytes fit.
        const std::size_t over = static_cast<std::size_t>(needed) - (outSize - 1);
        units = units > over ? units - (over + 1) / 2 : 0;
    }
    return 0;
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

}  // namespace engine
