// What the COM classes of ZAVTCTRL share.
#include "device/api/zavt_common.h"

#include "device/transport/engine_state.h"

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
