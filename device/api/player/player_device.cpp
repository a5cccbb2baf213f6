#include "device/api/player/player_device.h"

#include "device/api/player/card_mount.h"
#include "device/fs/engine_status.h"
#include "device/flash/nand_chip.h"
#include "device/fs/card/card_volume.h"
#include "device/flash/nand_geometry.h"
#include "device/transport/byte_order.h"
#include "device/transport/device_pipes.h"

#include <cstring>

namespace engine {

namespace {

struct ModelPrefix {
    std::string_view prefix;
    PlayerModel model;
};

// In model-number order: the first prefix the id text begins with wins.
// clang-format off
constexpr ModelPrefix kModelPrefixes[] = {
    {"KWEP-1", PlayerModel::KWEP_1}, {"KWEP-2", PlayerModel::KWEP_2}, {"KWEP-3", PlayerModel::KWEP_3},
    {"KWEP-4", PlayerModel::KWEP_4}, {"KWEP-5", PlayerModel::KWEP_5}, {"KWEP-6", PlayerModel::KWEP_6},
    {"KWEP07", PlayerModel::KWEP07}, {"KWEP08", PlayerModel::KWEP08}, {"TN510", PlayerModel::TN510},
    {"TN520", PlayerModel::TN520},   {"KWEP 9", PlayerModel::TN520},  {"TN530", PlayerModel::TN530},
    {"TN540", PlayerModel::TN540},   {"TN550", PlayerModel::TN550},   {"BRIX", PlayerModel::BRIX},
    {"SQ-21", PlayerModel::SQ21},    {"SQ-22", PlayerModel::SQ22},
};
// clang-format on

enum class Scheme { Legacy, OneFolderLevel, FolderObjects };

struct ModelRule {
    std::uint32_t chips;
    bool rootFromInfo;  // else 256 entries
    Scheme scheme;
    bool sectorCard;
    bool noMediaPoll;
};

// Indexed by model number; 0 is a model nobody knows.
// clang-format off
constexpr ModelRule kModelRules[17] = {
    {7, false, Scheme::Legacy, false, false},         // unknown
    {4, false, Scheme::Legacy, false, false},         // KWEP-1
    {7, true, Scheme::Legacy, false, false},          // KWEP-2: firmware decides
    {4, false, Scheme::Legacy, false, false},         // KWEP-3
    {7, true, Scheme::Legacy, false, false},          // KWEP-4
    {1, false, Scheme::Legacy, false, false},         // KWEP-5
    {4, false, Scheme::Legacy, false, false},         // KWEP-6
    {7, false, Scheme::Legacy, false, false},         // KWEP07
    {7, true, Scheme::OneFolderLevel, false, false},  // KWEP08
    {7, true, Scheme::FolderObjects, false, false},   // TN510
    {7, true, Scheme::FolderObjects, true, false},    // TN520
    {7, true, Scheme::FolderObjects, false, false},   // TN530
    {7, true, Scheme::FolderObjects, false, true},    // TN540
    {7, true, Scheme::FolderObjects, false, true},    // TN550
    {7, true, Scheme::FolderObjects, true, false},    // BRIX
    {7, true, Scheme::FolderObjects, false, false},   // SQ-21
    {7, true, Scheme::FolderObjects, true, false},    // SQ-22
};
// clang-format on

constexpr std::uint32_t kDefaultRootEntries = 256;
constexpr std::uint32_t kMaxRootEntries = 4096;  // one 128 KB erase block of 32-byte entries

bool OneFolderLevelFirmware(std::string_view firmware)
{
    return firmware == "0216" || firmware >= "1216";
}

bool EarlyTn540Firmware(std::string_view firmware)
{
    return firmware.size() == 4 && firmware.substr(0, 3) == "1.0" && firmware[3] >= '0' && firmware[3] <= '7';
}

}  // namespace

std::uint32_t RootEntriesFromInfo(std::uint16_t count)
{
    // A player that gives no count echoes the command block's bytes there: the signature's third
    // and fourth characters.
    constexpr std::uint16_t kEcho = static_cast<std::uint16_t>(static_cast<std::uint8_t>(kCommandSignature[2]) |
                                                               (static_cast<std::uint8_t>(kCommandSignature[3]) << 8));
    if (count == 0 || count == 0xFFFF || count == kEcho)
        return kDefaultRootEntries;
    // The root directory is read in whole 512-byte sectors inside one erase block.
    if (count % 16 != 0 || count > kMaxRootEntries)
        return kDefaultRootEntries;
    return count;
}

std::uint32_t ReadCsdBits(const std::array<std::uint32_t, 4>& words, unsigned start, unsigned width)
{
    if (width == 0 || width > 32 || start >= 128 || width > 128 - start)
        return 0;
    unsigned k = start % 32;
    unsigned m = 32 - k;
    unsigned index = 3 - start / 32;
    unsigned lowWidth = width < m ? width : m;
    std::uint32_t value = words[index] >> k;
    if (lowWidth < 32)
        value &= (1u << lowWidth) - 1;
    if (width > m) {
        std::uint32_t high = words[index - 1] & ((1u << (width - m)) - 1);
        value |= high << m;
    }
    return value;
}

std::uint16_t NandIdWord(const DeviceInfoBlock& info, std::size_t position)
{
    std::uint16_t id = LoadLe16(info.nandIds + 2 * position);
    // The "N" firmware sends the NAND ids complemented.
    if (info.firmware[0] == 'N' && id != 0 && id != 0xFFFF)
        id = static_cast<std::uint16_t>(~id);
    return id;
}

std::uint32_t CardCapacityFromCsd(const std::uint8_t* csdBytes)
{
    std::array<std::uint32_t, 4> csd;
    for (std::size_t i = 0; i < 4; ++i)
        csd[i] = LoadLe32(csdBytes + 4 * i);
    std::uint32_t readBlockLength = ReadCsdBits(csd, 80, 4);
    std::uint32_t sizeMultiplier = ReadCsdBits(csd, 47, 3);
    std::uint32_t deviceSize = ReadCsdBits(csd, 62, 12);
    // At most 2^36 bytes, so 64 bits never overflow; a card of 4 GB or more reads as 4 GB - 1.
    std::uint64_t capacity = (std::uint64_t{deviceSize} + 1) << (sizeMultiplier + 2 + readBlockLength);
    return capacity > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(capacity);
}

PlayerDevice::PlayerDevice()
{
    for (std::size_t i = 0; i < 7; ++i)
        NandChips[i].pipes = &PlayerPipes;
    CardChip.pipes = &PlayerPipes;
    Engine.FolderSchemeOn = 0;
    Engine.FolderDepthLimit = 0;
    Engine.HeaderQueryAllowed = 0;
    Engine.LegacyFolderId = 0;
    Engine.CurrentModel = PlayerModel::Unknown;
    Engine.ProgressSuppressed = 0;
}

PlayerDevice::~PlayerDevice()
{
    if (legacyFiles_.StreamOpen())
        legacyFiles_.EndStream();
}

void PlayerDevice::IdentifyModel(std::string_view modelId)
{
    Engine.CurrentModel = PlayerModel::Unknown;
    for (const ModelPrefix& p : kModelPrefixes) {
        if (modelId.substr(0, p.prefix.size()) == p.prefix) {
            Engine.CurrentModel = p.model;
            return;
        }
    }
}

void PlayerDevice::ApplyModelScheme(std::uint32_t infoRootEntries)
{
    const ModelRule& rule = kModelRules[static_cast<std::int32_t>(Engine.CurrentModel)];
    std::string_view firmware(firmwareVersion_, 4);
    Scheme scheme = rule.scheme;
    if (Engine.CurrentModel == PlayerModel::KWEP_2 && OneFolderLevelFirmware(firmware))
        scheme = Scheme::OneFolderLevel;

    Engine.ChipCount = rule.chips;
    Engine.InternalRootEntries = rule.rootFromInfo ? infoRootEntries : kDefaultRootEntries;
    Engine.InternalRootSectors = Engine.InternalRootEntries / 16;
    Engine.ExternalRootEntries = 256;
    switch (scheme) {
    case Scheme::Legacy:
        Engine.FolderSchemeOn = 0;
        Engine.FolderDepthLimit = 0;
        Engine.HeaderQueryAllowed = 0;
        break;
    case Scheme::OneFolderLevel:
        Engine.FolderSchemeOn = 1;
        Engine.FolderDepthLimit = 1;
        Engine.HeaderQueryAllowed = 1;
        break;
    case Scheme::FolderObjects:
        Engine.FolderSchemeOn = 1;
        Engine.FolderDepthLimit = -1;
        Engine.HeaderQueryAllowed = 1;
        break;
    }
    bool folderObjects = scheme == Scheme::FolderObjects;
    Engine.InternalFolderEntries = folderObjects ? Engine.InternalRootEntries : 0;
    Engine.ExternalFolderEntries = folderObjects ? 256 : 0;
    if (rule.sectorCard)
        Engine.ModelGroupFlag = 1;
    if (rule.noMediaPoll) {
        Engine.NoMediaPoll = 1;
        Engine.BadBlockByteIgnored = EarlyTn540Firmware(firmware) ? 1 : 0;
    }
}

EngineStatus PlayerDevice::Initialize(DeviceInfoBlock& info)
{
    Engine.CurrentModel = PlayerModel::Unknown;
    Engine.ModelGroupFlag = 0;
    cardUnformatted_ = false;
    Engine.LargePageFlag = 0;
    Engine.LegacyFolderId = 0;
    Engine.ProgressSuppressed = 0;
    Engine.NoMediaPoll = 0;
    Engine.BadBlockByteIgnored = 1;
    Engine.RecordFolderId = -1;
    if (legacyFiles_.StreamOpen())
        legacyFiles_.EndStream();
    LegacyResetState();

    ScopedPipes bracket(PlayerPipes);
    if (PlayerPipes.ReadDeviceInfo(info) != kTransportOk)
        return kStatusUsbError;

    IdentifyModel(std::string_view(info.modelId, strnlen(info.modelId, sizeof info.modelId)));
    std::memcpy(modelId_, info.modelId, sizeof info.modelId);
    modelId_[sizeof info.modelId] = '\0';
    std::memcpy(firmwareVersion_, info.firmware, sizeof info.firmware);
    firmwareVersion_[sizeof info.firmware] = '\0';
    bool nFirmware = info.firmware[0] == 'N';

    std::uint16_t ids[8];
    for (std::size_t i = 0; i < 8; ++i)
        ids[i] = NandIdWord(info, i);

    ApplyModelScheme(RootEntriesFromInfo(LoadLe16(info.rootEntries)));

    Engine.CardBlockCount = 0;
    Engine.InternalBlockCount = 0;
    for (std::size_t i = 0; i < 7; ++i) {
        NandChips[i].present = 0;
        NandChips[i].largePage = 0;
        NandChips[i].spareTable.fill(0);
    }
    CardChip.present = 0;
    CardChip.spareTable.fill(0);

    // Positions below the chip count are internal chips; the next one is the card slot.
    for (std::uint32_t i = 0; i <= Engine.ChipCount; ++i) {
        auto bit = static_cast<std::uint8_t>(1u << i);
        auto maker = static_cast<std::uint8_t>(ids[i]);
        auto device = static_cast<std::uint8_t>(ids[i] >> 8);
        if (i < Engine.ChipCount) {
            std::optional<NandGeometry> g = LookupNandGeometry(maker, device);
            if (!g)
                continue;
            NandChip& chip = NandChips[i];
            chip.rowCount = g->rowCount;
            chip.sectorsPerBlock = g->sectorsPerBlock;
            if (g->largePage) {
                chip.largePage = 1;
                Engine.LargePageFlag = 1;
            }
            chip.chipSelect = bit;
            chip.present = 1;
            Engine.InternalBlockCount += EraseBlocksOf(*g);
            if (chip.LoadSpareTable() != kTransportOk)
                return kStatusUsbError;
        } else {
            std::optional<NandGeometry> g = LookupCardGeometry(maker, device);
            if (!g)
                continue;
            CardChip.rowCount = g->rowCount;
            CardChip.sectorsPerBlock = g->sectorsPerBlock;
            CardChip.chipSelect = bit;
            CardChip.present = 1;
            Engine.CardBlockCount = EraseBlocksOf(*g);
            Engine.CardWriteProtect = info.cardFlags & 1;
            if (const EngineStatus status = MountNandCardVolume(); status != kStatusOk)
                return status;
        }
    }

    if (Engine.ModelGroupFlag) {
        Engine.CardWriteProtect = info.cardFlags & 1;
        Engine.CardPresent = nFirmware ? info.cardPresentN : info.cardPresent;
        Engine.CardCapacityBytes = CardCapacityFromCsd(info.csd);
        if (Engine.CardPresent) {
            if (info.mediaChanged)
                PlayerPipes.AcknowledgeMediaChange();
            if (info.cardMountable)
                MountSectorCardVolume();
            else
                cardUnformatted_ = true;
        }
    }
    return kStatusOk;
}

bool PlayerDevice::UsesFolderObjects() const
{
    return Engine.FolderSchemeOn != 0 && Engine.FolderDepthLimit == -1;
}

std::uint32_t PlayerDevice::GetModelGroupFlag() const
{
    return Engine.ModelGroupFlag;
}

PlayerModel PlayerDevice::GetModel() const
{
    return Engine.CurrentModel;
}

EngineStatus PlayerDevice::ProbeDriver()
{
    return PlayerPipes.Probe() == DevicePipes::kProbeAttached ? kStatusOk : kStatusUsbError;
}

std::uint8_t PlayerDevice::PollMediaChange()
{
    ScopedPipes bracket(PlayerPipes);
    DeviceInfoBlock info{};
    PlayerPipes.ReadDeviceInfo(info);
    if (info.mediaChanged && Engine.ModelGroupFlag)
        PlayerPipes.AcknowledgeMediaChange();
    return info.mediaChanged;
}

EngineStatus PlayerDevice::PrepareFormat()
{
    ScopedPipes bracket(PlayerPipes);
    return PlayerPipes.SendCommand20() == kTransportOk ? kStatusOk : kStatusUsbError;
}

EngineStatus PlayerDevice::QueryFileHeader(std::uint32_t storage, std::uint16_t recordId, std::uint8_t* header)
{
    if (!Engine.HeaderQueryAllowed || !header)
        return kStatusNotSupported;
    std::memset(header, 0, 64);
    ScopedPipes bracket(PlayerPipes);
    if (PlayerPipes.QueryFileHeader(static_cast<std::uint8_t>(storage), recordId, {header, 64}) != kTransportOk)
        return kStatusUsbError;
    return kStatusOk;
}

int PlayerDevice::QueryStatusByte()
{
    ScopedPipes bracket(PlayerPipes);
    return PlayerPipes.QueryStatusA0();
}

void PlayerDevice::CancelOperation()
{
    Engine.CancelRequested.store(1);
}

// ---- Storage sizes ----

namespace {

std::uint32_t Bytes(std::uint64_t units, std::uint32_t sectorsPerUnit)
{
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(units * sectorsPerUnit * 512u, 0xFFFFFFFFu));
}

}  // namespace

EngineStatus PlayerDevice::ReloadStorage(std::uint32_t storage)
{
    if (storage == 0) {
        for (std::uint32_t i = 0; i < LegacyChipLimit(); ++i) {
            if (NandChips[i].present && NandChips[i].LoadSpareTable() != kTransportOk)
                return kStatusUsbError;
        }
        LegacyStore.root.clear();
        LegacyStore.rootLoaded = 0;
        LegacyStore.freeBlockCount = LegacyCountFreeBlocks();
        return kStatusOk;
    }
    if (Engine.ModelGroupFlag ? !Engine.CardPresent : Engine.CardBlockCount == 0)
        return kStatusOk;
    // A volume that no longer mounts is left unmounted, so nothing acts on the old copy; only a failed
    // transfer leaves the reload to be tried again.
    EngineStatus status = kStatusOk;
    if (Engine.ModelGroupFlag) {
        status = MountSectorCardVolume();
        cardUnformatted_ = status != kStatusOk && status != kStatusUsbError;
    } else {
        CardChip.present = 1;
        status = MountNandCardVolume();
    }
    return status == kStatusUsbError ? kStatusUsbError : kStatusOk;
}

EngineStatus PlayerDevice::QueryStorageSizes(std::uint32_t& internalTotal, std::uint32_t& internalFree,
                                             std::uint32_t& externalTotal, std::uint32_t& externalFree)
{
    // The spare tables loaded at identification know every erased block; no transfer is needed.
    const std::uint32_t chipSectors = LegacyChipZeroPresent() ? NandChips[0].sectorsPerBlock : 0;
    LegacyStore.freeBlockCount = LegacyCountFreeBlocks();
    internalTotal = Bytes(Engine.InternalBlockCount, chipSectors);
    internalFree = Bytes(LegacyStore.freeBlockCount, chipSectors);

    externalTotal = externalFree = 0;
    const std::uint32_t cardSectors = CardVolume.card.sectorsPerBlock;
    if (!Engine.ModelGroupFlag) {
        std::uint32_t clusters = 0, freeClusters = 0;
        if (CardVolume.CountFreeClusters(clusters, freeClusters)) {
            externalTotal = Bytes(Engine.CardBlockCount, cardSectors);
            externalFree = Bytes(freeClusters, cardSectors);
        }
    } else if (cardUnformatted_) {
        externalTotal = Engine.CardCapacityBytes;
    } else {
        std::uint32_t clusters = 0, freeClusters = 0;
        if (CardVolume.CountFreeClusters(clusters, freeClusters)) {
            externalTotal = Bytes(clusters, cardSectors);
            externalFree = Bytes(freeClusters, cardSectors);
        }
    }
    return kStatusOk;
}

// ---- The flat store of internal memory, or the card ----

std::int32_t PlayerDevice::LegacyFindFirst(DirRecord& record)
{
    return legacyFiles_.FindFirst(record);
}

std::int32_t PlayerDevice::LegacyFindNext(DirRecord& record)
{
    return legacyFiles_.FindNext(record);
}

EngineStatus PlayerDevice::LegacyDownload(std::uint32_t storage, const char* pcPath, std::uint32_t folderId)
{
    if (legacyFiles_.StreamOpen())
        return kStatusFileError;
    if (storage != 0)  // the card keeps its files in the root of its own volume
        return pcPath ? CardVolume.DownloadFileNandCard(pcPath) : kStatusFileError;
    return legacyFiles_.Download(pcPath, folderId);
}

EngineStatus PlayerDevice::LegacyUpload(std::uint32_t storage, std::uint32_t fileId, const char* pcPath)
{
    if (legacyFiles_.StreamOpen())
        return kStatusFileError;
    if (storage != 0)
        return pcPath && fileId <= 0xFFFF ? CardVolume.UploadFile(static_cast<std::uint16_t>(fileId), pcPath)
                                          : kStatusFileError;
    return legacyFiles_.Upload(fileId, pcPath);
}

EngineStatus PlayerDevice::DeleteFile(std::uint32_t storage, std::uint32_t fileId)
{
    if (storage != 0)
        return kStatusNoStorage;  // the card volume takes these once it exists
    return legacyFiles_.DeleteFile(fileId);
}

EngineStatus PlayerDevice::DeleteFolder(std::uint32_t storage, std::uint32_t folderId)
{
    if (storage != 0)
        return kStatusFolderError;
    return legacyFiles_.DeleteFolder(folderId);
}

EngineStatus PlayerDevice::CreateFolder(const char* name, std::uint32_t* newId)
{
    return legacyFiles_.CreateFolder(name, newId);
}

EngineStatus PlayerDevice::MoveEntry(std::uint32_t storage, std::uint32_t fileId, std::uint32_t folderId)
{
    if (storage != 0)
        return kStatusFolderError;
    return legacyFiles_.MoveEntry(fileId, folderId);
}

EngineStatus PlayerDevice::RenameEntry(std::uint32_t storage, std::uint32_t fileId, const char* newName)
{
    if (storage != 0)
        return kStatusNoStorage;  // the card volume takes these once it exists
    return legacyFiles_.RenameEntry(fileId, newName);
}

EngineStatus PlayerDevice::SetPlayIndex(std::uint32_t storage, std::uint32_t fileId, std::uint32_t newIndex)
{
    if (storage == 1)
        return fileId <= 0xFFFF ? CardVolume.SetPlayIndex(static_cast<std::uint16_t>(fileId), newIndex)
                                : kStatusFileError;
    if (storage != 0)
        return kStatusNoStorage;
    return legacyFiles_.SetPlayIndex(fileId, newIndex);
}

EngineStatus PlayerDevice::WriteFontFile(const char* name, std::uint32_t size, const std::uint8_t* data)
{
    return legacyFiles_.WriteFontFile(name, size, data);
}

EngineStatus PlayerDevice::WriteSystemFile(const char* name, std::uint32_t size, const std::uint8_t* data,
                                           std::uint32_t fileId)
{
    return legacyFiles_.WriteSystemFile(name, size, data, fileId);
}

// ---- The flat store's block stream ----

EngineStatus PlayerDevice::OpenEntry()
{
    legacyFiles_.ResetStream();
    if (streamStorage_ != 0)
        return kStatusFileError;  // the card volume's streams are its own
    return legacyFiles_.OpenStream(writeMode_ != 0, recordId_, name_);
}

EngineStatus PlayerDevice::ReadNextBlock()
{
    return legacyFiles_.NextBlock();
}

EngineStatus PlayerDevice::WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes)
{
    return legacyFiles_.WriteBlock(buffer, bytes, lastBlock_ != 0);
}

EngineStatus PlayerDevice::ReadFirstBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t* out)
{
    return legacyFiles_.ReadBlock(buffer, bytes, out);
}

EngineStatus PlayerDevice::CommitEntry()
{
    return legacyFiles_.CommitStream(transferred_);
}

std::uint32_t PlayerDevice::GetBlockBytes()
{
    return legacyFiles_.BlockBytes();
}

std::uint32_t PlayerDevice::GetFileSize()
{
    return legacyFiles_.FileSize();
}

}  // namespace engine
