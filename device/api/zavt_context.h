// What the COM objects share over the device context: the context of a call that needs a ready player,
// and a download by path into the storage's current folder.
#pragma once

#include "device/api/device_context.h"
#include "resources/zavtctrl_resource.h"

#include <windows.h>

#include <cstdint>
#include <memory>

// The context of a call that needs a ready player: null (and *hr the error 769 through T's error
// information) when there is none, its refresh fails or the player is not ready.
template <class T>
std::shared_ptr<DeviceContext> ZavtReadyContext(HRESULT* hr)
{
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context || FAILED(context->Refresh()) || !context->IsReady()) {
        *hr = T::Error(IDS_ERR_NO_DEVICE);
        return nullptr;
    }
    *hr = S_OK;
    return context;
}

// Asks the running operation of the current context to stop; error 769 (through T's error information)
// when there is no context.
template <class T>
HRESULT ZavtCancelOperation()
{
    std::shared_ptr<DeviceContext> context = DeviceContext::Current();
    if (!context)
        return T::Error(IDS_ERR_NO_DEVICE);
    context->CancelOperation();
    return S_OK;
}

enum class ZavtDownloadResult { kDone, kFailed, kNameIsFolder };

// Downloads a PC file into the storage's current folder under the given name, replacing a file of that
// name (a folder of that name is never taken for it), with the control's DownloadFile events around it.
// A failed look-up fails the download: downloading then could give the folder a second entry of the name.
ZavtDownloadResult ZavtDownloadReplacing(DeviceContext& context, std::uint32_t storage, const wchar_t* fileName,
                                         const wchar_t* srcPath);

// ZavtDownloadReplacing as a call's result: S_OK, error 789 (name exists, through T's error information)
// when a folder holds the name, E_FAIL for any other failure.
template <class T>
HRESULT ZavtDownloadReplacingResult(DeviceContext& context, std::uint32_t storage, const wchar_t* fileName,
                                    const wchar_t* srcPath)
{
    switch (ZavtDownloadReplacing(context, storage, fileName, srcPath)) {
    case ZavtDownloadResult::kDone:
        return S_OK;
    case ZavtDownloadResult::kNameIsFolder:
        return T::Error(IDS_ERR_NAME_EXISTS, E_FAIL);
    default:
        return E_FAIL;
    }
}
