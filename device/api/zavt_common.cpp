// What the COM classes of ZAVTCTRL share.
#include "device/api/zavt_common.h"

#include "device/transport/engine_state.h"

#include <cwchar>

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

HRESULT ZavtNeedsDevice()
{
    SetErrorInfo(0, nullptr);
    return E_NOTIMPL;
}

bool ZavtIsEntryName(BSTR name)
{
    const UINT length = SysStringLen(name);
    if (!name || length == 0 || length >= MAX_PATH)
        return false;
    for (UINT i = 0; i < length; ++i) {
        if (name[i] == L'\\' || name[i] == L'/' || name[i] == 0)
            return false;
    }
    return std::wcscmp(name, L".") != 0 && std::wcscmp(name, L"..") != 0;
}

std::wstring ZavtRenamedPath(const wchar_t* path, const wchar_t* name)
{
    const std::wstring old(path ? path : L"");
    const std::size_t split = old.find_last_of(L'\\');
    return (split == std::wstring::npos ? std::wstring() : old.substr(0, split + 1)) + (name ? name : L"");
}
