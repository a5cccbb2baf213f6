// What the COM classes of ZAVTCTRL share.
#include "device/api/zavt_common.h"

#include "device/fs/entry_name.h"
#include "device/transport/engine_state.h"

#include <cwchar>
#include <iterator>

// The engine's copy is the one value: the player's recording folder is named by it too. Plain, without a
// lock: a client sets the build number before its first call.
long ZavtGetSpecialBuildNumber()
{
    return engine::Engine.SpecialBuildNumber;
}

void ZavtSetSpecialBuildNumber(long value)
{
    engine::Engine.SpecialBuildNumber = static_cast<std::int32_t>(value);
}

bool ZavtIsEntryName(BSTR name)
{
    return engine::IsEntryName(name, SysStringLen(name));
}

std::wstring ZavtFailureText(HRESULT hr)
{
    wchar_t text[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(hr), 0, text, static_cast<DWORD>(std::size(text)), nullptr);
    // A failure of a system call, as HRESULT_FROM_WIN32 wraps it, has its text under the call's code.
    if (length == 0 && HRESULT_FACILITY(hr) == FACILITY_WIN32)
        length =
            FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(HRESULT_CODE(hr)), 0, text, static_cast<DWORD>(std::size(text)), nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' '))
        --length;
    if (length > 0)
        return std::wstring(text, length);
    wchar_t fallback[256] = {};
    LoadStringW(_Module.GetResourceInstance(), IDS_ERR_UNSPECIFIED, fallback, static_cast<int>(std::size(fallback)));
    return fallback;
}

std::wstring ZavtRenamedPath(const wchar_t* path, const wchar_t* name)
{
    const std::wstring old(path ? path : L"");
    const std::size_t split = old.find_last_of(L'\\');
    return (split == std::wstring::npos ? std::wstring() : old.substr(0, split + 1)) + (name ? name : L"");
}
