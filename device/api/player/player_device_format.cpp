// Formatting the card (either kind) and erasing internal memory.
//
// A format never trusts what identification saw: it asks the player whether the card is still in the
// slot and writable before it starts, and after a failed transfer whether the card left the slot or
// was locked meanwhile, so absence (5) and write protection (8) are told apart from a USB error (4).
// Every write is checked and the new volume is mounted before success is reported.
#include "device/api/player/player_device.h"

#include "device/api/player/card_mount.h"
#include "device/flash/card_translation.h"
#include "device/flash/nand_chip.h"
#include "device/flash/nand_geometry.h"
#include "device/fs/card/card_volume.h"
#include "device/fs/card/format_builder.h"
#include "device/fs/engine_status.h"
#include "device/fs/legacy/legacy_store.h"
#include "device/transport/device_pipes.h"
#include "device/transport/engine_state.h"

namespace engine {

namespace {

struct CardSlot {
    bool present = false;
    bool writeProtected = false;
    std::uint32_t capacityBytes = 0;  // sector card
};

// The card slot as the player reports it now, within the caller's bracket. A NAND-type card counts as
// present only while it is the card identification found (same geometry).
bool ReadCardSlot(CardSlot& slot)
{
    DeviceInfoBlock info{};
    if (PlayerPipes.ReadDeviceInfo(info) != kTransportOk)
        return false;
    slot.writeProtected = (info.cardFlags & 1) != 0;
    if (Engine.ModelGroupFlag) {
        slot.present = (info.firmware[0] == 'N' ? info.cardPresentN : info.cardPresent) != 0;
        slot.capacityBytes = CardCapacityFromCsd(info.csd);
    } else if (Engine.ChipCount < 8) {
        std::uint16_t id = NandIdWord(info, Engine.ChipCount);
        std::optional<NandGeometry> g =
            LookupCardGeometry(static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8));
        slot.present = g && g->rowCount == CardChip.rowCount && g->sectorsPerBlock == CardChip.sectorsPerBlock;
    }
    return true;
}

// What a failed transfer means: the card left the slot (kStatusNoStorage), was locked
// (kStatusWriteProtected), or the USB failed (kStatusUsbError).
EngineStatus CardFailure(EngineStatus status)
{
    if (status != kStatusUsbError)
        return status;
    CardSlot slot;
    if (!ReadCardSlot(slot))
        return kStatusUsbError;
    if (!slot.present)
        return kStatusNoStorage;
    return slot.writeProtected ? kStatusWriteProtected : kStatusUsbError;
}

}  // namespace

EngineStatus PlayerDevice::FormatSectorCard(std::uint32_t quick)
{
    if (!Engine.ModelGroupFlag || !Engine.CardPresent) {
        NotifyProgressEnd();
        return kStatusNoStorage;
    }
    if (Engine.CardWriteProtect) {
        NotifyProgressEnd();
        return kStatusWriteProtected;
    }
    ScopedPipes bracket(PlayerPipes);
    CardSlot slot;
    if (!ReadCardSlot(slot)) {
        NotifyProgressEnd();
        return kStatusUsbError;
    }
    if (!slot.present || slot.writeProtected) {
        NotifyProgressEnd();
        Engine.CardPresent = slot.present ? 1 : 0;
        Engine.CardWriteProtect = slot.writeProtected ? 1 : 0;
        if (!slot.present)
            CardVolume.Unmount();
        return slot.present ? kStatusWriteProtected : kStatusNoStorage;
    }
    // The card in the slot now, which may not be the one identification measured.
    Engine.CardCapacityBytes = slot.capacityBytes;

    FatFormatBuilder builder;
    if (!builder.ComputeParameters(Engine.CardCapacityBytes, kCardMaxRootEntries)) {
        NotifyProgressEnd();
        return kStatusInvalidCard;
    }
    const std::uint32_t p = builder.partitionStart;
    const std::uint32_t f = builder.fatSectors;
    const std::uint32_t spc = builder.sectorsPerCluster;
    const std::uint32_t dataStart = p + builder.systemSectors;
    const std::uint32_t clusters = builder.ClusterCount();
    std::uint32_t total = p + 2 * f + builder.rootSectors + 1;
    if (!quick)
        total += clusters;

    // From the first write on, the old volume in memory no longer describes the card.
    CardVolume.Unmount();
    CardVolume.SetSectorCard(true);
    CardVolume.SetWriteProtected(false);
    CardVolume.SetCardSectors(Engine.CardCapacityBytes / kCardSectorBytes);
    cardUnformatted_ = true;
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(total));
    EngineStatus status = kStatusOk;
    const std::uint8_t zero[kCardSectorBytes] = {};
    std::uint8_t fatHead[kCardSectorBytes] = {0xF8, 0xFF, 0xFF, 0x00};
    if (builder.fatBits == 16)
        fatHead[3] = 0xFF;
    // Sector 0, the sectors before the partition, the boot sector, both FATs and the root, in order.
    for (std::uint32_t sector = 0; sector < dataStart && status == kStatusOk; ++sector) {
        const std::uint8_t* data = zero;
        if (sector == 0)
            data = builder.mbr.data();
        else if (sector == p)
            data = builder.BootSector();
        else if (sector == p + 1 || sector == p + 1 + f)
            data = fatHead;
        if (CardVolume.WriteSector(sector, data) != kTransportOk)
            status = kStatusUsbError;
        else
            NotifyProgress(kProgressStep, 1);
    }
    // A full format also erases the data area, cluster by cluster.
    CardVolume.card.sectorsPerBlock = static_cast<std::uint16_t>(spc);
    for (std::uint32_t c = 0; !quick && c < clusters && status == kStatusOk; ++c) {
        if (CardVolume.EraseSectors(dataStart + c * spc) != kTransportOk)
            status = kStatusUsbError;
        else
            NotifyProgress(kProgressStep, 1);
    }
    if (status == kStatusOk)
        status = MountSectorCardVolume();
    NotifyProgressEnd();
    if (status == kStatusOk) {
        cardUnformatted_ = false;
        return kStatusOk;
    }
    status = CardFailure(status);
    if (status == kStatusWriteProtected)
        Engine.CardWriteProtect = 1;
    if (status == kStatusNoStorage) {
        Engine.CardPresent = 0;
        cardUnformatted_ = false;
        CardVolume.Unmount();
    } else {
        // The volume in memory as the card now is.
        cardUnformatted_ = MountSectorCardVolume() != kStatusOk;
    }
    return status;
}

EngineStatus PlayerDevice::FormatNandCard()
{
    NandChip& card = CardVolume.card;
    if (Engine.ModelGroupFlag || !card.present || card.sectorsPerBlock == 0 || !LookupCardLayout(card.rowCount)) {
        NotifyProgressEnd();
        return kStatusNoStorage;
    }
    if (Engine.CardWriteProtect || CardVolume.WriteProtected()) {
        NotifyProgressEnd();
        return kStatusWriteProtected;
    }
    ScopedPipes bracket(PlayerPipes);
    CardSlot slot;
    if (!ReadCardSlot(slot)) {
        NotifyProgressEnd();
        return kStatusUsbError;
    }
    if (!slot.present || slot.writeProtected) {
        NotifyProgressEnd();
        if (!slot.present) {
            CardVolume.Unmount();
            return kStatusNoStorage;
        }
        Engine.CardWriteProtect = 1;
        CardVolume.SetWriteProtected(true);
        return kStatusWriteProtected;
    }
    // The erase pass goes by the card's own records as they are now.
    if (card.LoadSpareTable() != kTransportOk) {
        NotifyProgressEnd();
        return CardFailure(kStatusUsbError);
    }

    // A failure from here on leaves the volume in memory as the card now is (most likely not mounted).
    auto failed = [&](EngineStatus status) {
        NotifyProgressEnd();
        status = CardFailure(status);
        if (status == kStatusNoStorage)
            CardVolume.Unmount();
        else
            CardVolume.MountNandCard();
        return status;
    };
    card.Rewind();
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(Engine.CardBlockCount));
    while (card.row < card.rowCount) {
        if (card.IsBlockUnused()) {
            std::uint8_t status = 0;
            if (card.EraseBlock(status) != kTransportOk)
                return failed(kStatusUsbError);
            if ((status & 1) && !RetireCardBlock(card))
                return failed(kStatusUsbError);
        }
        card.AdvanceBlock();
        NotifyProgress(kProgressStep, 1);
    }
    NotifyProgressEnd();

    CardVolume.SetBlockNumber(0);
    EngineStatus status = CardVolume.FormatNandTables();
    if (status == kStatusOk)
        status = CardVolume.FormatNandBootRecords();
    if (status == kStatusOk)
        status = CardVolume.FormatNandFatAndRoot();
    // The mount reads the new system area back and sets up the volume from it.
    if (status == kStatusOk)
        status = MountNandCardVolume();
    if (status != kStatusOk)
        return failed(status);
    return kStatusOk;
}

EngineStatus PlayerDevice::EraseInternal()
{
    if (legacyFiles_.StreamOpen())
        return kStatusFileError;
    if (Engine.ChipCount == 0 || !NandChips[0].present)
        return kStatusStorageFull;
    ScopedPipes bracket(PlayerPipes);
    const std::uint32_t chips = LegacyChipLimit();
    NotifyProgress(kProgressBegin, static_cast<std::int32_t>(Engine.InternalBlockCount));
    for (std::uint32_t i = 0; i < chips; ++i) {
        NandChip& chip = NandChips[i];
        if (!chip.present || chip.sectorsPerBlock == 0)
            continue;
        Engine.CurrentChip = i;
        chip.Rewind();
        while (chip.row < chip.rowCount) {
            bool usable = Engine.BadBlockByteIgnored ? chip.CheckSpareRecord() : !chip.IsBadBlock();
            if (usable) {
                std::uint8_t status = 0;
                if (chip.EraseBlock(status) != kTransportOk || ((status & 1) && !RetireCardBlock(chip))) {
                    NotifyProgressEnd();
                    LegacyResetState();
                    return kStatusUsbError;
                }
            }
            chip.AdvanceBlock();
            NotifyProgress(kProgressStep, 1);
        }
    }
    NotifyProgressEnd();
    // Everything the store knew is gone; loading the root on a store that has none writes the empty
    // root record into the first erased block from chip 0 on (kStatusStorageFull when there is none,
    // kStatusUsbError when a page of it cannot be written).
    LegacyResetState();
    Engine.CurrentChip = 0;
    NandChips[0].Rewind();
    const EngineStatus status = LegacyLoadRoot();
    if (status != kStatusOk)
        LegacyResetState();
    return status;
}

}  // namespace engine
