// Formatting a storage of the player. The erase of internal memory takes the player's own system files
// with everything else, so what must survive (the identity dump, model 7's FM configuration) is read
// before anything is erased, and nothing is erased when it cannot be read; the system files, the
// configuration image and the recording folder are written back afterwards.
#include "device/api/device_context.h"

#include "device/api/config_resources.h"
#include "device/fs/pc/device_file_util.h"
#include "device/transport/engine_state.h"
#include "platform/win/ansi_text.h"
#include "platform/win/file_util.h"

#include <new>
#include <vector>

using namespace engine;

namespace {

constexpr wchar_t kFmConfigName[] = L"FMCONFIG.DAT";
// The FM configuration is a small settings file: a larger file is refused before the erase rather
// than taken into memory whole.
constexpr std::uint32_t kMaxFmConfigBytes = 1024 * 1024;

// The player's progress is not the client's while the dump is read: no Percent event comes of it.
class QuietProgress {
public:
    QuietProgress() { Engine.ProgressSuppressed = 1; }
    ~QuietProgress() { Engine.ProgressSuppressed = 0; }
    QuietProgress(const QuietProgress&) = delete;
    QuietProgress& operator=(const QuietProgress&) = delete;
};

// The temporary PC file of a player file, removed first so nothing of an earlier run is read back.
bool FreshTempPath(const wchar_t* name, wchar_t (&path)[MAX_PATH])
{
    if (FAILED(UtilMakeTempFilePath(MAX_PATH, path, name)))
        return false;
    UtilDeleteFileForce(path);
    return UtilGetFileAttributes(path) == INVALID_FILE_ATTRIBUTES;
}

// A whole PC file of at most `limit` bytes.
bool ReadWholeFile(const wchar_t* path, std::uint32_t limit, std::vector<std::uint8_t>* out)
{
    DWORD low = 0, high = 0;
    if (!UtilGetFileSize(path, &low, &high) || high != 0 || low > limit)
        return false;
    HandleOwner file(UtilOpenOrCreateFile(path, false));
    if (!file.valid())
        return false;
    try {
        out->assign(low, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return low == 0 || ReadExactly(file.get(), out->data(), low);
}

// Writes a CONFIG resource of the module into the temporary PC file of a player file: kStatusOk,
// kStatusUsbError without a temporary path, `missing` when the resource cannot be written.
EngineStatus StageResource(const wchar_t* name, std::uint32_t resource, EngineStatus missing, wchar_t (&path)[MAX_PATH])
{
    if (FAILED(UtilMakeTempFilePath(MAX_PATH, path, name)))
        return kStatusUsbError;
    UtilDeleteFileForce(path);
    return UtilWriteResourceToFile(resource, kConfigResourceType, path) ? kStatusOk : missing;
}

}  // namespace

EngineStatus DeviceContext::Format(std::uint32_t storage)
{
    CriticalSectionGuard hold(LockFor(storage));
    EngineStatus code = kStatusUsbError;
    try {
        if (device_ && dispatch_ && storage == 0) {
            code = FormatInternal();
        } else if (device_ && dispatch_ && storage == 1) {
            if (device_->GetModelGroupFlag()) {
                code = device_->FormatSectorCard(1);
                device_->PrepareFormat();
                // The engine mounts the card again after a failure: the flag tells what the card now is.
                externalUnformatted_ = device_->CardUnformatted() ? 1 : 0;
            } else {
                code = device_->FormatNandCard();
                if (code == kStatusOk)
                    externalUnformatted_ = 0;
            }
            // The card's folder object described the old volume: its root is loaded again (or none is
            // kept when the new volume does not load).
            if (device_->UsesFolderObjects())
                dispatch_->SelectFolder(1, 0);
        }
    } catch (...) {
        code = kStatusUsbError;
    }
    mediaChanged_.store(1);
    return code;
}

EngineStatus DeviceContext::FormatInternal()
{
    const PlayerModel model = device_->GetModel();
    const bool folderObjects = device_->UsesFolderObjects();

    // The system files are the root's: it is made current before they are looked up. A root that does
    // not load is no root (an unformatted player has no system files); a failed transfer is no answer.
    if (SelectFolder(0, 0) == kStatusUsbError)
        return kStatusUsbError;

    // Model 7's FM configuration, taken into memory whole. The temporary copy goes first, so a copy
    // from an earlier format (perhaps of another player) is never written to this one.
    wchar_t fmPath[MAX_PATH] = {};
    std::vector<std::uint8_t> fmConfig;
    bool hasFmConfig = false;
    if (model == PlayerModel::KWEP07) {
        if (!FreshTempPath(kFmConfigName, fmPath))
            return kStatusUsbError;
        DirRecord record;
        const int found = LookUp(0, kFmConfigName, &record);
        if (found == 0) {
            if (UploadFile(0, record.firstCluster, fmPath) != kStatusOk ||
                !ReadWholeFile(fmPath, kMaxFmConfigBytes, &fmConfig))
                return kStatusUsbError;
            hasFmConfig = true;
        } else if (found != -1) {
            return kStatusUsbError;
        }
    }

    // The identity dump: an absent file reads as zeros, a failed read stops the format here.
    EngineStatus dumpRead = kStatusUsbError;
    {
        const QuietProgress quiet;
        dumpRead = ReadSystemDump();
    }
    if (dumpRead != kStatusOk)
        return kStatusUsbError;

    if (device_->EraseInternal() != kStatusOk)
        return kStatusUsbError;
    // The folder object held the erased root: the new, empty one takes its place.
    if (folderObjects)
        SelectFolder(0, 0);
    std::uint32_t internalTotal = 0, internalFree = 0, externalTotal = 0, externalFree = 0;
    if (device_->QueryStorageSizes(internalTotal, internalFree, externalTotal, externalFree) != kStatusOk)
        return kStatusStorageFull;

    // Model 7's FM configuration goes back from memory, through its temporary PC file (the player file
    // takes its name).
    auto writeFmConfig = [&] {
        const AnsiPath ansi(fmPath);
        return ansi.ok() && WriteSystemFile(0, ansi.c_str(), static_cast<std::uint32_t>(fmConfig.size()),
                                            fmConfig.data(), 5) == kStatusOk;
    };
    auto writeDumpFile = [&](std::uint32_t index, const std::uint8_t* data) {
        return WriteDumpSystemFile(index, data) == kStatusOk;
    };
    // Id 1 is the root directory's own block id: a file under it would go with the root at its first
    // delete, and the engine refuses it. The other dump files keep their ids.
    for (std::uint32_t index : {0u, 2u, 3u}) {
        if (!writeDumpFile(index, index == 0 ? dump_.data() : nullptr))
            return kStatusUsbError;
    }
    // Id 5: model 7's FM configuration as the player had it. A model-7 player that had none gets none
    // back, the state it worked in before; every other model gets a zero block.
    if (model == PlayerModel::KWEP07) {
        if (hasFmConfig && !writeFmConfig())
            return kStatusUsbError;
    } else if (!writeDumpFile(5, nullptr)) {
        return kStatusUsbError;
    }
    // Id 4 last: the font's id, which the font download takes over later.
    if (!writeDumpFile(4, nullptr))
        return kStatusUsbError;

    // The configuration image and, on the models that show pictures, the image and the sound file, from
    // the module's own resources.
    const ConfigResourceIds resources =
        SelectConfigResources(static_cast<int>(model), Engine.SpecialBuildNumber, HasLargePages());
    wchar_t configPath[MAX_PATH] = {};
    if (const EngineStatus code = StageResource(L"Config.dat", resources[0], kStatusFileError, configPath))
        return code;
    if (folderObjects) {
        SelectFolder(0, 0);
        if (resources[3]) {
            std::uint32_t id = 0;
            CreateFolder(0, RecordFolderName(Engine.SpecialBuildNumber), &id);
        }
    }
    if (const EngineStatus code = DownloadFile(0, configPath))
        return code;

    if (model == PlayerModel::TN540 || model == PlayerModel::TN550) {
        struct Extra {
            const wchar_t* name;
            std::uint32_t resource;
        };
        for (const Extra extra : {Extra{L"image.dat", resources[1]}, Extra{L"csound.mta", resources[2]}}) {
            wchar_t path[MAX_PATH] = {};
            if (const EngineStatus code = StageResource(extra.name, extra.resource, kStatusUsbError, path))
                return code;
            if (const EngineStatus code = DownloadFile(0, path))
                return code;
        }
    }
    return kStatusOk;
}
