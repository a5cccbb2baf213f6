// What the COM objects share over the device context.
#include "device/api/zavt_context.h"

#include "device/api/zavt_control.h"
#include "device/fs/engine_status.h"

ZavtDownloadResult ZavtDownloadReplacing(DeviceContext& context, std::uint32_t storage, const wchar_t* fileName,
                                         const wchar_t* srcPath)
{
    engine::DirRecord existing;
    const int found = context.LookUp(storage, fileName, &existing);
    if (found != 0 && found != -1)
        return ZavtDownloadResult::kFailed;
    if (found == 0) {
        if (existing.attributes & FILE_ATTRIBUTE_DIRECTORY)
            return ZavtDownloadResult::kNameIsFolder;
        if (context.DeleteFile(storage, existing.firstCluster) != engine::kStatusOk)
            return ZavtDownloadResult::kFailed;
    }
    ZavtFireDownloadStart();
    const std::uint32_t status = context.DownloadFile(storage, srcPath);
    ZavtFireDownloadEnd();
    return status == engine::kStatusOk ? ZavtDownloadResult::kDone : ZavtDownloadResult::kFailed;
}
