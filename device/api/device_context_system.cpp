// The device context's system files: the internal root, the removal of a system file and the blank
// system files of the dump's size.
#include "device/api/device_context.h"

#include "device/fs/pc/device_file_util.h"
#include "platform/win/ansi_text.h"
#include "platform/win/file_util.h"

#include <array>
#include <cwchar>

using engine::DirRecord;
using engine::EngineStatus;
using engine::kStatusFileError;
using engine::kStatusNameExists;
using engine::kStatusOk;

EngineStatus DeviceContext::SelectInternalRoot()
{
    return SelectFolder(0, 0);
}

EngineStatus DeviceContext::RemoveInternalFile(const wchar_t* name)
{
    DirRecord record;
    const int found = LookUp(0, name, &record);
    if (found == -1)
        return kStatusOk;
    if (found != 0)
        return static_cast<EngineStatus>(found);
    if (record.attributes & FILE_ATTRIBUTE_DIRECTORY)
        return kStatusNameExists;
    return DeleteFile(0, record.firstCluster);
}

EngineStatus DeviceContext::WriteDumpSystemFile(std::uint32_t fileId, const std::uint8_t* data)
{
    if (fileId > 9)
        return kStatusFileError;
    wchar_t name[16] = {};
    std::swprintf(name, std::size(name), L"sysdum%u.du%u", fileId, fileId);
    // The PC file only lends its name: the player's file takes the last component of the path.
    wchar_t temp[MAX_PATH] = {};
    if (FAILED(engine::UtilMakeTempFilePath(MAX_PATH, temp, name)))
        return kStatusFileError;
    // A missing file is what a first run finds: only the new file's write decides.
    UtilDeleteFileForce(temp);
    if (!engine::UtilWriteBlankBlockFile(temp))
        return kStatusFileError;
    const AnsiPath ansiTemp(temp);
    if (!ansiTemp.ok())
        return kStatusFileError;
    static const std::array<std::uint8_t, kSystemDumpBytes> zeros{};
    return WriteSystemFile(0, ansiTemp.c_str(), kSystemDumpBytes, data ? data : zeros.data(), fileId);
}
