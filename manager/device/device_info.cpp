#include "manager/device/device_info.h"

void DeviceInfo::ClearInternal()
{
    internalTotal = internalFree = internalUsed = 0;
    internalReady = 0;
    internalUnformatted = 0;
}

void DeviceInfo::ClearCard()
{
    cardTotal = cardFree = cardUsed = 0;
    cardReady = 0;
    cardUnformatted = 0;
}

void DeviceInfo::ClearTexts()
{
    name = CComBSTR();
    firmwareVersion = CComBSTR();
    firmwareDate = CComBSTR();
}

void DeviceInfo::SetModelCapabilities(long model)
{
    struct Flags {
        std::int32_t logo, fmStations, folders, font, memo, image;
    };
    Flags f{};
    switch (model) {
    case 1:
        f = {1, 0, 0, 1, 1, 0};
        break;
    case 2:
    case 8:
        f = {1, 0, 1, 1, 1, 0};
        break;
    case 4:
    case 7:
        f = {1, 0, 0, 1, 0, 0};
        break;
    case 9:
    case 10:
    case 14:
    case 16:
        f = {1, 1, 1, 1, 0, 0};
        break;
    case 11:
    case 15:
        f = {0, 1, 1, 0, 0, 0};
        break;
    case 12:
    case 13:
        f = {1, 1, 1, 1, 0, 1};
        break;
    default:  // 3, 0, 5, 6 and any other value
        break;
    }
    SupportsLogo = f.logo;
    SupportsFMStations = f.fmStations;
    SupportsFolders = f.folders;
    SupportsFont = f.font;
    SupportsMemo = f.memo;
    SupportsImage = f.image;
}
