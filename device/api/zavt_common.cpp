// What the COM classes of ZAVTCTRL share.
#include "device/api/zavt_common.h"

namespace {

// Plain, without a lock: a client sets the build number before its first call.
volatile long g_specialBuildNumber = 0;

}  // namespace

long ZavtGetSpecialBuildNumber()
{
    return g_specialBuildNumber;
}

void ZavtSetSpecialBuildNumber(long value)
{
    g_specialBuildNumber = value;
}

HRESULT ZavtNeedsDevice()
{
    SetErrorInfo(0, nullptr);
    return E_NOTIMPL;
}
