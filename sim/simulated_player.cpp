#include "sim/simulated_player.h"

#include "sim/sim_bytes.h"
#include "sim/sim_files.h"
#include "sim/sim_nand.h"
#include "sim/sim_nand_card.h"
#include "sim/sim_sector_card.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>

namespace sim {
namespace {

constexpr std::size_t kBlockBytes = 64;
constexpr std::size_t kUnitBytes = 576;  // 512 data + 16 spare + 48 zero
constexpr std::size_t kUnitsPerTransfer = 32;
constexpr std::size_t kChipPageBytes = 2112;  // large page: 2048 data + four 16-byte spares
constexpr std::size_t kLargeWriteMax = 8 * kChipPageBytes;
constexpr std::size_t kTransferMax = kUnitsPerTransfer * kUnitBytes;
constexpr int kPositions = 8;
constexpr char kTrailer[5] = {'w', 'e', 'x', 'o', 'l'};

constexpr std::uint8_t kStatusDone = 0xC0;       // ready, not write-protected
constexpr std::uint8_t kStatusFailed = 0xC1;     // the same with the fail bit
constexpr std::uint8_t kStatusProtected = 0x41;  // ready, write-protected, failed

constexpr char kConfigName[] = "player.cfg";
constexpr char kCardImageName[] = "card.img";
constexpr std::uintmax_t kConfigMaxBytes = 1 << 20;

enum Opcode : std::uint8_t {
    kInfo = 0x01,
    kReadPages = 0x02,
    kWritePage = 0x03,
    kErase = 0x04,
    kReadPage = 0x06,
    kReadSpare = 0x07,
    kBeginWrite = 0x08,
    kPrepareFormat = 0x20,
    kBeginWriteLarge = 0x30,
    kStatusQuery = 0xA0,
    kFileHeader = 0xAA,
    kAckMediaChange = 0xAC,
    // Sector-card commands, numbered as the card's own commands.
    kCardReadSector = 17,
    kCardReadCluster = 18,
    kCardWriteSector = 24,
    kCardWriteSectors = 25,
    kCardErase = 38,
};

// Opcodes with a reply phase that the player does not serve (further commands of the firmware): refused
// with an empty reply, as a refused card read is.
bool RefusedWithReply(std::uint8_t op)
{
    return op == 0x05 || op == 0xCD || op == 0xCE || op == 0xCF || op == kCardReadSector || op == kCardReadCluster;
}

// ---- the models ---------------------------------------------------------------------------------

struct ModelRow {
    const char* id;
    int slots;
    std::uint8_t maker, device;
    int chips;
    std::uint16_t rootEntries;
    const char* firmware;
};

// Chips are chosen small enough that identification (which reads every spare record over the wire)
// stays quick, and so that every geometry, maker and root-count form occurs somewhere.
// clang-format off
constexpr ModelRow kModels[17] = {
    {"QX-900", 7, 0xEC, 0x75, 1, 0, "0100"},       // a model id nobody knows
    {"KWEP-1", 4, 0xEC, 0xE6, 2, 0, "0100"},
    {"KWEP-2", 7, 0x98, 0x73, 2, 0, "0216"},
    {"KWEP-3", 4, 0xEC, 0x73, 2, 0, "0100"},
    {"KWEP-4", 7, 0xEC, 0xF1, 1, 0xFFFF, "0100"},
    {"KWEP-5", 1, 0xEC, 0x75, 1, 0, "0100"},
    {"KWEP-6", 4, 0x45, 0x75, 2, 0, "0100"},
    {"KWEP07", 7, 0xEC, 0x76, 1, 0, "0100"},
    {"KWEP08", 7, 0x98, 0x75, 2, 256, "0100"},
    {"TN510", 7, 0xEC, 0x79, 1, 512, "0100"},
    {"TN520", 7, 0xEC, 0xF1, 2, 512, "0100"},
    {"TN530", 7, 0xEC, 0xDA, 1, 1024, "0100"},
    {"TN540", 7, 0xEC, 0xDA, 1, 512, "1.05"},
    {"TN550", 7, 0x98, 0xDC, 1, 512, "1.10"},
    {"BRIX", 7, 0x98, 0xDA, 2, 512, "0100"},
    {"SQ-21", 7, 0xEC, 0xF1, 1, 0x6F78, "0100"},  // echoes the command block's "xo": no count
    {"SQ-22", 7, 0xEC, 0xDA, 1, 512, "N120"},     // the firmware family that complements the ids
};
// clang-format on

const ModelRow& Model(int model)
{
    return kModels[(model >= 1 && model <= 16) ? model : 0];
}

// The model number the host gives a model id: the first prefix it begins with, in model order.
int ModelNumberOf(std::string_view modelId)
{
    for (int m = 1; m <= 16; ++m)
        if (modelId.starts_with(kModels[m].id) || (m == 10 && modelId.starts_with("KWEP 9")))
            return m;
    return 0;
}

// ---- small helpers ------------------------------------------------------------------------------

bool Printable(std::string_view text, std::size_t maxLength)
{
    return text.size() <= maxLength &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

bool AllZero(std::span<const std::uint8_t> bytes, std::size_t from, std::size_t to)
{
    return std::all_of(bytes.begin() + from, bytes.begin() + to, [](std::uint8_t v) { return v == 0; });
}

bool HasTrailer(std::span<const std::uint8_t> block)
{
    return std::memcmp(block.data() + 59, kTrailer, sizeof kTrailer) == 0;
}

bool ValidConfig(const PlayerConfig& c)
{
    if (!Printable(c.modelId, 12) || !Printable(c.firmware, 4) || !Printable(c.firmwareDate, 8))
        return false;
    for (const auto& bad : c.factoryBadBlocks)
        if (bad.position < 0 || bad.position >= kPositions)
            return false;
    return c.cardSectors <= kSectorCardMaxSectors;
}

// ---- configuration file -------------------------------------------------------------------------
// player.cfg: one "key=value" per line, '#' starts a comment line. Keys: model, firmware, date,
// nand (eight 4-digit hex pairs, maker first, comma-separated), root, csd (32 hex digits),
// card_write_protect, card_present, card_mountable, media_changed, upgrade_status, nand_card_out,
// card_sectors (the sector card's image: card.img), and repeatable
// bad=<position>:<block> and audio=<storage>:<record id>:<channels>:<sample rate>:<bit rate>.

std::string Hex(const std::uint8_t* bytes, std::size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

bool ParseHex(std::string_view text, std::uint8_t* out, std::size_t n)
{
    if (text.size() != 2 * n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned v = 0;
        auto [p, ec] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, v, 16);
        if (ec != std::errc() || p != text.data() + 2 * i + 2)
            return false;
        out[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

template <typename T>
bool ParseNumber(std::string_view text, T& out)
{
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && p == text.data() + text.size() && !text.empty();
}

bool ParseFlag(std::string_view text, bool& out)
{
    if (text != "0" && text != "1")
        return false;
    out = text == "1";
    return true;
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

std::string FormatConfig(const PlayerConfig& c)
{
    std::ostringstream out;
    out << "# Simulated player. Chip images: chip<position>.img.\n";
    out << "model=" << c.modelId << "\nfirmware=" << c.firmware << "\ndate=" << c.firmwareDate << "\nnand=";
    for (int i = 0; i < kPositions; ++i)
        out << (i ? "," : "") << Hex(c.nandIds[i].data(), 2);
    out << "\nroot=" << c.rootEntries << "\ncsd=" << Hex(c.csd.data(), c.csd.size())
        << "\ncard_write_protect=" << int{c.cardWriteProtect} << "\ncard_present=" << int{c.cardPresent}
        << "\ncard_mountable=" << int{c.cardMountable} << "\nmedia_changed=" << int{c.mediaChanged}
        << "\nupgrade_status=" << int{c.upgradeStatus} << "\nnand_card_out=" << int{c.nandCardOut}
        << "\ncard_sectors=" << c.cardSectors << "\n";
    for (const auto& bad : c.factoryBadBlocks)
        out << "bad=" << bad.position << ":" << bad.block << "\n";
    for (const auto& a : c.audioHeaders)
        out << "audio=" << int{a.storage} << ":" << a.recordId << ":" << a.channels << ":" << a.sampleRate << ":"
            << a.bitRate << "\n";
    return out.str();
}

std::optional<PlayerConfig> ParseConfig(std::string_view text)
{
    PlayerConfig c;
    bool sawModel = false, sawNand = false;
    for (std::string_view line : Split(text, '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos)
            return std::nullopt;
        const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        bool ok = true;
        if (key == "model") {
            c.modelId = value;
            sawModel = true;
        } else if (key == "firmware") {
            c.firmware = value;
        } else if (key == "date") {
            c.firmwareDate = value;
        } else if (key == "nand") {
            auto pairs = Split(value, ',');
            ok = pairs.size() == kPositions;
            for (int i = 0; ok && i < kPositions; ++i)
                ok = ParseHex(pairs[i], c.nandIds[i].data(), 2);
            sawNand = true;
        } else if (key == "root") {
            ok = ParseNumber(value, c.rootEntries);
        } else if (key == "csd") {
            ok = ParseHex(value, c.csd.data(), c.csd.size());
        } else if (key == "card_write_protect") {
            ok = ParseFlag(value, c.cardWriteProtect);
        } else if (key == "card_present") {
            ok = ParseFlag(value, c.cardPresent);
        } else if (key == "card_mountable") {
            ok = ParseFlag(value, c.cardMountable);
        } else if (key == "media_changed") {
            ok = ParseFlag(value, c.mediaChanged);
        } else if (key == "upgrade_status") {
            ok = ParseNumber(value, c.upgradeStatus);
        } else if (key == "nand_card_out") {
            ok = ParseFlag(value, c.nandCardOut);
        } else if (key == "card_sectors") {
            ok = ParseNumber(value, c.cardSectors);
        } else if (key == "bad") {
            auto parts = Split(value, ':');
            BlockRef bad;
            ok = parts.size() == 2 && ParseNumber(parts[0], bad.position) && ParseNumber(parts[1], bad.block);
            if (ok)
                c.factoryBadBlocks.push_back(bad);
        } else if (key == "audio") {
            auto parts = Split(value, ':');
            AudioHeader a;
            ok = parts.size() == 5 && ParseNumber(parts[0], a.storage) && ParseNumber(parts[1], a.recordId) &&
                 ParseNumber(parts[2], a.channels) && ParseNumber(parts[3], a.sampleRate) &&
                 ParseNumber(parts[4], a.bitRate);
            if (ok)
                c.audioHeaders.push_back(a);
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    if (!sawModel || !sawNand || !ValidConfig(c))
        return std::nullopt;
    return c;
}

std::filesystem::path ChipImagePath(const std::filesystem::path& folder, int position)
{
    return folder / ("chip" + std::to_string(position) + ".img");
}

}  // namespace

PlayerConfig DefaultConfig(int model)
{
    const ModelRow& row = Model(model);
    PlayerConfig c;
    c.modelId = row.id;
    c.firmware = row.firmware;
    c.rootEntries = row.rootEntries;
    for (int i = 0; i < row.chips; ++i)
        c.nandIds[i] = {row.maker, row.device};
    return c;
}

int ModelChipSlots(int model)
{
    return Model(model).slots;
}

CardKind CardKindOf(const PlayerConfig& config)
{
    const int m = ModelNumberOf(config.modelId);
    return m == 10 || m == 14 || m == 16 ? CardKind::Sector : CardKind::Nand;
}

int CardPosition(const PlayerConfig& config)
{
    return Model(ModelNumberOf(config.modelId)).slots;
}

// ---- the player ---------------------------------------------------------------------------------

struct SimulatedPlayer::Impl {
    mutable std::mutex lock;
    std::filesystem::path folder;
    PlayerConfig config;
    std::array<std::unique_ptr<SimNandChip>, kPositions> chips;
    std::array<bool, kPositions> imageStale{};  // an image on disk no longer matches the position
    std::unique_ptr<SimSectorCard> sectorCard;
    bool cardImageStale = false;  // card.img no longer matches the sector card
    NandCounters counters;

    // A write whose data messages are still to come.
    enum class Phase { Command, PageData, BlockData, CardData };
    Phase phase = Phase::Command;
    SimNandChip* writeChip = nullptr;
    std::uint32_t writeSector = 0;
    std::uint64_t writeLeft = 0;
    bool writeLarge = false;
    bool cardWriteSingle = false;  // 24: exactly one sector, guarded by cardWriteCrc
    std::uint16_t cardWriteCrc = 0;

    struct Address {
        SimNandChip* chip;
        std::uint32_t sector;  // row x 256 + sector within the row
    };

    // Brings the chips in line with the configured ids (tests may change them at any time).
    void SyncChips()
    {
        for (int i = 0; i < kPositions; ++i) {
            const auto [maker, device] = config.nandIds[i];
            auto& chip = chips[i];
            if (chip && chip->Maker() == maker && chip->Device() == device)
                continue;
            const auto geometry = GeometryForId(maker, device);
            if (!chip && !geometry)
                continue;
            if (chip.get() == writeChip)
                AbandonWrite();
            chip = geometry ? std::make_unique<SimNandChip>(maker, device, *geometry) : nullptr;
            imageStale[i] = true;
        }
        if (sectorCard && sectorCard->Sectors() == config.cardSectors)
            return;
        if (!sectorCard && config.cardSectors == 0)
            return;
        if (phase == Phase::CardData)
            AbandonWrite();
        sectorCard = config.cardSectors ? std::make_unique<SimSectorCard>(config.cardSectors) : nullptr;
        cardImageStale = true;
    }

    // ---- the card slot ----

    int CardSlot() const { return CardPosition(config); }
    bool SectorKind() const { return CardKindOf(config) == CardKind::Sector; }

    // The chip that answers at a position: the NAND-type card only while it is in the slot.
    SimNandChip* Served(int position)
    {
        if (position < 0 || position >= kPositions)
            return nullptr;
        if (position == CardSlot() && config.nandCardOut)
            return nullptr;
        return chips[position].get();
    }

    bool CardChipProtected(const SimNandChip* chip) const
    {
        const int slot = CardSlot();
        return config.cardWriteProtect && slot < kPositions && chip && chip == chips[slot].get();
    }

    SimSectorCard* ServedSectorCard() { return config.cardPresent ? sectorCard.get() : nullptr; }

    // The NAND-type card of the slot, in it or pulled out.
    SimNandChip* NandCard()
    {
        const int slot = CardSlot();
        return !SectorKind() && slot < kPositions ? chips[slot].get() : nullptr;
    }

    SimNandChip* Chip(int position)
    {
        SyncChips();
        return position >= 0 && position < kPositions ? chips[position].get() : nullptr;
    }

    void AbandonWrite()
    {
        phase = Phase::Command;
        writeChip = nullptr;
        writeLeft = 0;
        cardWriteSingle = false;
    }

    void Refuse(std::vector<Message>& replies, bool hasReply)
    {
        ++counters.rejected;
        if (hasReply)
            replies.emplace_back();  // an empty message: the host's read comes up short
    }

    // Decodes mask, sector and row of a NAND command.
    std::optional<Address> Nand(std::span<const std::uint8_t> block)
    {
        const std::uint8_t mask = block[1];
        if (!std::has_single_bit(mask))
            return std::nullopt;
        SimNandChip* chip = Served(std::countr_zero(mask));
        if (!chip)
            return std::nullopt;
        const std::uint32_t rows = chip->Geometry().rows;
        std::uint32_t row;
        if (rows < 512) {
            if (block[5] != 0xFF)
                return std::nullopt;
            row = block[4];
        } else {
            row = block[4] | (std::uint32_t{block[5]} << 8);
        }
        if (row >= rows)
            return std::nullopt;
        return Address{chip, row * kSectorsPerRow + block[3]};
    }

    static Message Unit(const SimNandChip& chip, std::uint32_t sector)
    {
        Message unit(kUnitBytes, 0);
        const SectorBytes bytes = chip.Read(sector);
        std::copy(bytes.begin(), bytes.end(), unit.begin());
        return unit;
    }

    std::array<std::uint8_t, kBlockBytes> InfoBlock()
    {
        std::array<std::uint8_t, kBlockBytes> b{};
        std::copy_n(config.modelId.begin(), std::min<std::size_t>(config.modelId.size(), 12), b.begin());
        std::copy_n(config.firmware.begin(), std::min<std::size_t>(config.firmware.size(), 4), b.begin() + 12);
        std::copy_n(config.firmwareDate.begin(), std::min<std::size_t>(config.firmwareDate.size(), 8), b.begin() + 16);
        const bool nFamily = !config.firmware.empty() && config.firmware[0] == 'N';
        for (int i = 0; i < kPositions; ++i) {
            std::uint16_t word = static_cast<std::uint16_t>(config.nandIds[i][0] | (config.nandIds[i][1] << 8));
            if (i == CardSlot() && config.nandCardOut)
                word = 0;
            if (nFamily)
                word = static_cast<std::uint16_t>(~word);
            PutLe16(&b[24 + 2 * i], word);
        }
        std::copy(config.csd.begin(), config.csd.end(), b.begin() + 40);
        b[56] = config.cardWriteProtect ? 1 : 0;
        b[57] = config.mediaChanged ? 1 : 0;
        b[nFamily ? 60 : 58] = config.cardPresent ? 1 : 0;
        // The player mounts a sector card itself; it reports one it cannot mount as unformatted.
        const bool mountable = !SectorKind() || (sectorCard && VolumeClusterSectors(*sectorCard) != 0);
        b[59] = (config.cardPresent && config.cardMountable && mountable) ? 1 : 0;
        PutLe16(&b[61], config.rootEntries);
        return b;
    }

    // Takes one data message of the pending write; false when it does not fit (nothing is taken).
    bool TakeData(std::span<const std::uint8_t> msg)
    {
        if (phase == Phase::CardData)
            return TakeCardData(msg);
        const int slot = CardSlot();
        if (config.nandCardOut && slot < kPositions && writeChip == chips[slot].get())
            return false;  // pulled out
        const bool writable = !CardChipProtected(writeChip);
        if (phase == Phase::PageData) {
            if (msg.size() != kUnitBytes)
                return false;
            ++counters.pagePrograms;
            if (writable)
                writeChip->Program(writeSector, msg.data(), msg.data() + kSectorDataBytes);
            AbandonWrite();
            return true;
        }
        const std::size_t unit = writeLarge ? kChipPageBytes : kUnitBytes;
        const std::size_t most = writeLarge ? kLargeWriteMax : kTransferMax;
        if (msg.empty() || msg.size() % unit != 0 || msg.size() > most || msg.size() > writeLeft)
            return false;
        for (std::size_t at = 0; at < msg.size(); at += unit) {
            const std::uint8_t* piece = msg.data() + at;
            if (writeLarge) {
                // Four sectors: their data back to back, then their spares back to back.
                for (std::size_t i = 0; i < 4 && writable; ++i)
                    writeChip->Program(writeSector + static_cast<std::uint32_t>(i), piece + i * kSectorDataBytes,
                                       piece + 4 * kSectorDataBytes + i * kSpareBytes);
                writeSector += 4;
                counters.pagePrograms += 4;
            } else {
                if (writable)
                    writeChip->Program(writeSector, piece, piece + kSectorDataBytes);
                ++writeSector;
                ++counters.pagePrograms;
            }
        }
        writeLeft -= msg.size();
        if (writeLeft == 0)
            AbandonWrite();
        return true;
    }

    // The data message of 24 (one sector under its CRC) or 25 (its length gives the count).
    bool TakeCardData(std::span<const std::uint8_t> msg)
    {
        SimSectorCard* card = ServedSectorCard();
        const std::size_t count = msg.size() / kCardSectorBytes;
        if (!card || config.cardWriteProtect || msg.empty() || msg.size() % kCardSectorBytes != 0 ||
            count > (cardWriteSingle ? 1 : kCardMaxRunSectors))
            return false;
        if (cardWriteSingle && Crc16Xmodem(msg.data(), msg.size()) != cardWriteCrc)
            return false;
        if (!card->Write(writeSector, static_cast<std::uint32_t>(count), msg.data()))
            return false;
        counters.cardSectorsWritten += count;
        AbandonWrite();
        return true;
    }

    void CardCommand(std::span<const std::uint8_t> b, std::vector<Message>& replies)
    {
        const std::uint8_t op = b[0];
        const bool hasReply = op == kCardReadSector || op == kCardReadCluster;
        const std::uint32_t sector = GetBe32(&b[1]);
        SimSectorCard* card = ServedSectorCard();
        if (!card || !AllZero(b, op == kCardWriteSector ? 7 : 5, kBlockBytes) || sector >= card->Sectors())
            return Refuse(replies, hasReply);
        switch (op) {
        case kCardReadSector:
        case kCardReadCluster: {
            const std::uint32_t count = op == kCardReadSector ? 1 : VolumeClusterSectors(*card);
            Message data(std::size_t{count} * kCardSectorBytes);
            if (count == 0 || !card->Read(sector, count, data.data()))
                return Refuse(replies, true);
            ++counters.commandBlocks;
            counters.cardSectorsRead += count;
            replies.push_back(std::move(data));
            return;
        }
        case kCardWriteSector:
        case kCardWriteSectors:
            if (config.cardWriteProtect)
                return Refuse(replies, false);
            ++counters.commandBlocks;
            phase = Phase::CardData;
            writeSector = sector;
            cardWriteSingle = op == kCardWriteSector;
            cardWriteCrc = static_cast<std::uint16_t>((b[5] << 8) | b[6]);
            return;
        default: {  // kCardErase
            const std::uint32_t count = VolumeClusterSectors(*card);
            if (config.cardWriteProtect || count == 0 || !card->Erase(sector, count))
                return Refuse(replies, false);
            ++counters.commandBlocks;
            counters.cardSectorsErased += count;
            return;
        }
        }
    }

    void Command(std::span<const std::uint8_t> b, std::vector<Message>& replies)
    {
        const std::uint8_t op = b[0];
        // Blocks from the host's general sender carry the trailer; its own-built blocks end in zeros.
        auto signedFrom = [&](std::size_t from) {
            return AllZero(b, from, 59) && HasTrailer(b);
        };
        auto unsignedFrom = [&](std::size_t from) {
            return AllZero(b, from, kBlockBytes);
        };

        switch (op) {
        case kInfo: {
            if (!signedFrom(1))
                return Refuse(replies, true);
            ++counters.commandBlocks;
            const auto info = InfoBlock();
            replies.emplace_back(info.begin(), info.end());
            config.mediaChanged = false;  // reported: no longer "changed since the last query"
            return;
        }
        case kReadPages:
        case kReadPage: {
            const auto at = Nand(b);
            if (!at || !signedFrom(6))
                return Refuse(replies, true);
            ++counters.commandBlocks;
            const std::uint32_t count = op == kReadPage ? 1 : at->chip->Geometry().sectorsPerBlock;
            Message piece;
            for (std::uint32_t i = 0; i < count; ++i) {
                const Message unit = Unit(*at->chip, at->sector + i);
                piece.insert(piece.end(), unit.begin(), unit.end());
                if (piece.size() == kTransferMax || i + 1 == count)
                    replies.push_back(std::move(piece)), piece.clear();
            }
            counters.pageReads += count;
            return;
        }
        case kErase: {
            const auto at = Nand(b);
            if (!at || !signedFrom(6))
                return Refuse(replies, true);
            ++counters.commandBlocks;
            ++counters.blockErases;
            const bool locked = CardChipProtected(at->chip);
            const bool done = !locked && at->chip->Erase(at->sector / at->chip->Geometry().sectorsPerBlock);
            Message reply(kBlockBytes, 0);
            reply[0] = locked ? kStatusProtected : done ? kStatusDone : kStatusFailed;
            replies.push_back(std::move(reply));
            return;
        }
        case kReadSpare: {
            const std::uint8_t mask = b[1];
            SimNandChip* chip = std::has_single_bit(mask) ? Served(std::countr_zero(mask)) : nullptr;
            if (!chip || !signedFrom(2))
                return Refuse(replies, true);
            ++counters.commandBlocks;
            const std::uint32_t spb = chip->Geometry().sectorsPerBlock;
            Message piece;
            for (std::uint32_t first = 0; first < chip->SectorCount(); first += spb) {
                const auto spare = chip->Spare(first);
                ++counters.spareReads;
                piece.insert(piece.end(), spare.begin(), spare.end());
                if (piece.size() == kBlockBytes)
                    replies.push_back(std::move(piece)), piece.clear();
            }
            if (!piece.empty())
                replies.push_back(std::move(piece));  // no chip of the table leaves any
            return;
        }
        case kWritePage: {
            const auto at = Nand(b);
            if (!at || !unsignedFrom(6))
                return Refuse(replies, false);
            ++counters.commandBlocks;
            phase = Phase::PageData;
            writeChip = at->chip;
            writeSector = at->sector;
            return;
        }
        case kBeginWrite:
        case kBeginWriteLarge: {
            const auto at = Nand(b);
            if (!at || !unsignedFrom(10))
                return Refuse(replies, false);
            const bool large = op == kBeginWriteLarge;
            const std::uint64_t bytes =
                (std::uint64_t{b[6]} << 8) | b[7] | (std::uint64_t{b[8]} << 16) | (std::uint64_t{b[9]} << 24);
            const std::uint64_t perPage = large ? kChipPageBytes / 4 : kUnitBytes;
            const std::uint64_t pages = bytes / perPage;
            if (bytes == 0 || bytes % perPage != 0 ||
                (large && (!at->chip->Geometry().largePage || pages % 4 != 0 || at->sector % 4 != 0)) ||
                at->sector + pages > at->chip->SectorCount())
                return Refuse(replies, false);
            ++counters.commandBlocks;
            phase = Phase::BlockData;
            writeChip = at->chip;
            writeSector = at->sector;
            writeLeft = bytes;
            writeLarge = large;
            return;
        }
        case kPrepareFormat:
        case kAckMediaChange:
            if (!signedFrom(1))
                return Refuse(replies, false);
            ++counters.commandBlocks;
            if (op == kAckMediaChange)
                config.mediaChanged = false;
            return;
        case kStatusQuery: {
            if (!signedFrom(1))
                return Refuse(replies, true);
            ++counters.commandBlocks;
            Message reply(kBlockBytes, 0);
            reply[0] = config.upgradeStatus;
            replies.push_back(std::move(reply));
            return;
        }
        case kFileHeader: {
            if (!unsignedFrom(4))
                return Refuse(replies, true);
            ++counters.commandBlocks;
            const std::uint16_t id = static_cast<std::uint16_t>(b[2] | (b[3] << 8));
            Message reply(kBlockBytes, 0);
            for (const auto& a : config.audioHeaders)
                if (a.storage == b[1] && a.recordId == id) {
                    PutLe16(&reply[0], a.channels);
                    PutLe32(&reply[2], a.sampleRate);
                    PutLe32(&reply[6], a.bitRate);
                    break;
                }
            replies.push_back(std::move(reply));
            return;
        }
        case kCardReadSector:
        case kCardReadCluster:
        case kCardWriteSector:
        case kCardWriteSectors:
        case kCardErase:
            return CardCommand(b, replies);
        default:
            return Refuse(replies, RefusedWithReply(op));
        }
    }

    bool SaveLocked()
    {
        if (folder.empty() || !ValidConfig(config))
            return false;  // Open could not read it back
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (!WriteFileReplacing(folder / kConfigName, [&](std::ostream& out) {
                out << FormatConfig(config);
                return true;
            }))
            return false;
        SyncChips();
        for (int i = 0; i < kPositions; ++i) {
            const auto path = ChipImagePath(folder, i);
            if (!chips[i]) {
                if (imageStale[i])
                    std::filesystem::remove(path, ec);
                if (ec)
                    return false;
                imageStale[i] = false;
                continue;
            }
            if (!chips[i]->Dirty() && !imageStale[i])
                continue;
            if (!chips[i]->WriteImage(path))
                return false;
            chips[i]->SetDirty(false);
            imageStale[i] = false;
        }
        const auto cardPath = folder / kCardImageName;
        if (!sectorCard) {
            if (cardImageStale)
                std::filesystem::remove(cardPath, ec);
            if (ec)
                return false;
        } else if (sectorCard->Dirty() || cardImageStale) {
            if (!sectorCard->WriteImage(cardPath))
                return false;
            sectorCard->SetDirty(false);
        }
        cardImageStale = false;
        return true;
    }

    // ---- the card's raw FAT image ----

    // Card sectors of the image file, or of the NAND-type card's logical image.
    std::optional<std::uint64_t> CardImageSectors()
    {
        if (SectorKind())
            return sectorCard ? std::optional<std::uint64_t>(sectorCard->Sectors()) : std::nullopt;
        SimNandChip* chip = NandCard();
        const auto layout = chip ? CardLayout(chip->Geometry()) : std::nullopt;
        return layout ? std::optional<std::uint64_t>(layout->LogicalSectors()) : std::nullopt;
    }

    // The card changed behind the host's back: a write to it that waits for its data is dropped.
    void CardReplaced()
    {
        const int slot = CardSlot();
        if (phase == Phase::CardData || (writeChip && slot < kPositions && writeChip == chips[slot].get()))
            AbandonWrite();
        config.mediaChanged = true;
    }

    bool ImportLocked(std::span<const std::uint8_t> image)
    {
        SyncChips();
        const auto sectors = CardImageSectors();
        if (!sectors || image.size() % kCardSectorBytes != 0 || image.size() / kCardSectorBytes > *sectors)
            return false;
        if (SectorKind()) {
            const std::uint32_t used = static_cast<std::uint32_t>(image.size() / kCardSectorBytes);
            sectorCard->Write(0, used, image.data());
            sectorCard->Erase(used, sectorCard->Sectors() - used);
        } else if (!ImportCardImage(*NandCard(), image)) {
            return false;
        }
        CardReplaced();
        return true;
    }
};

SimulatedPlayer::SimulatedPlayer() : impl_(std::make_unique<Impl>()) {}
SimulatedPlayer::~SimulatedPlayer() = default;

std::unique_ptr<SimulatedPlayer> SimulatedPlayer::CreateInMemory(const PlayerConfig& config)
{
    if (!ValidConfig(config))
        return nullptr;
    std::unique_ptr<SimulatedPlayer> player(new SimulatedPlayer());
    Impl& p = *player->impl_;
    p.config = config;
    p.SyncChips();
    for (const auto& bad : config.factoryBadBlocks)
        if (SimNandChip* chip = p.chips[bad.position].get())
            chip->MarkBad(bad.block);
    return player;
}

std::unique_ptr<SimulatedPlayer> SimulatedPlayer::Create(const std::filesystem::path& folder,
                                                         const PlayerConfig& config)
{
    auto player = CreateInMemory(config);
    if (!player)
        return nullptr;
    player->impl_->folder = folder;
    player->impl_->imageStale.fill(true);  // drop the images of an earlier player in the folder
    player->impl_->cardImageStale = true;
    if (!player->Save())
        return nullptr;
    return player;
}

std::unique_ptr<SimulatedPlayer> SimulatedPlayer::Open(const std::filesystem::path& folder)
{
    const auto configPath = folder / kConfigName;
    std::error_code ec;
    const auto size = std::filesystem::file_size(configPath, ec);
    if (ec || size > kConfigMaxBytes)
        return nullptr;
    std::string text(static_cast<std::size_t>(size), '\0');
    {
        std::ifstream in(configPath, std::ios::binary);
        if (!in || !in.read(text.data(), static_cast<std::streamsize>(text.size())))
            return nullptr;
    }
    auto config = ParseConfig(text);
    if (!config)
        return nullptr;

    std::unique_ptr<SimulatedPlayer> player(new SimulatedPlayer());
    Impl& p = *player->impl_;
    p.folder = folder;
    p.config = *config;
    for (int i = 0; i < kPositions; ++i) {
        const auto [maker, device] = p.config.nandIds[i];
        if (!GeometryForId(maker, device))
            continue;
        const auto path = ChipImagePath(folder, i);
        if (!std::filesystem::exists(path, ec))
            continue;  // made erased by SyncChips below
        p.chips[i] = SimNandChip::ReadImage(path, maker, device);
        if (!p.chips[i])
            return nullptr;
    }
    if (p.config.cardSectors && std::filesystem::exists(folder / kCardImageName, ec)) {
        p.sectorCard = SimSectorCard::ReadImage(folder / kCardImageName, p.config.cardSectors);
        if (!p.sectorCard)
            return nullptr;
    }
    p.SyncChips();
    return player;
}

bool SimulatedPlayer::Save()
{
    std::lock_guard g(impl_->lock);
    return impl_->SaveLocked();
}

const std::filesystem::path& SimulatedPlayer::Folder() const
{
    return impl_->folder;
}

bool SimulatedPlayer::MarkBadBlock(int position, std::uint32_t block)
{
    std::lock_guard g(impl_->lock);
    SimNandChip* chip = impl_->Chip(position);
    if (!chip || block >= chip->BlockCount())
        return false;
    chip->MarkBad(block);
    return true;
}

bool SimulatedPlayer::FailErase(int position, std::uint32_t block)
{
    std::lock_guard g(impl_->lock);
    SimNandChip* chip = impl_->Chip(position);
    if (!chip || block >= chip->BlockCount())
        return false;
    chip->SetFlags(block, chip->Flags(block) | kBlockEraseFails);
    return true;
}

bool SimulatedPlayer::FailProgram(int position, std::uint32_t block)
{
    std::lock_guard g(impl_->lock);
    SimNandChip* chip = impl_->Chip(position);
    if (!chip || block >= chip->BlockCount())
        return false;
    chip->SetFlags(block, chip->Flags(block) | kBlockProgramFails);
    return true;
}

void SimulatedPlayer::ClearFailures()
{
    std::lock_guard g(impl_->lock);
    impl_->SyncChips();
    for (auto& chip : impl_->chips) {
        if (!chip)
            continue;
        for (std::uint32_t b = 0; b < chip->BlockCount(); ++b)
            if (chip->Flags(b) & (kBlockEraseFails | kBlockProgramFails))
                chip->SetFlags(b, chip->Flags(b) & kBlockBad);
    }
}

std::array<std::uint8_t, 528> SimulatedPlayer::PeekPage(int position, std::uint32_t row, std::uint32_t sector) const
{
    std::lock_guard g(impl_->lock);
    const SimNandChip* chip = impl_->Chip(position);
    if (!chip || row >= chip->Geometry().rows || sector >= kSectorsPerRow) {
        std::array<std::uint8_t, 528> erased;
        erased.fill(0xFF);
        return erased;
    }
    return chip->Read(row * kSectorsPerRow + sector);
}

bool SimulatedPlayer::PokePage(int position, std::uint32_t row, std::uint32_t sector,
                               const std::array<std::uint8_t, 528>& bytes)
{
    std::lock_guard g(impl_->lock);
    SimNandChip* chip = impl_->Chip(position);
    if (!chip || row >= chip->Geometry().rows || sector >= kSectorsPerRow)
        return false;
    chip->Poke(row * kSectorsPerRow + sector, bytes);
    return true;
}

bool SimulatedPlayer::InsertNandCard(std::uint8_t maker, std::uint8_t device, bool formatted)
{
    std::lock_guard g(impl_->lock);
    Impl& p = *impl_;
    p.SyncChips();
    const int slot = p.CardSlot();
    const auto geometry = GeometryForId(maker, device);
    const auto layout = geometry ? CardLayout(*geometry) : std::nullopt;
    if (p.SectorKind() || slot >= kPositions || !layout)
        return false;
    if (p.phase != Impl::Phase::Command && p.writeChip == p.chips[slot].get())
        p.AbandonWrite();
    p.config.nandIds[slot] = {maker, device};
    p.chips[slot] = std::make_unique<SimNandChip>(maker, device, *geometry);
    p.imageStale[slot] = true;
    if (formatted && !ImportCardImage(*p.chips[slot], FormattedNandCardHead(*layout)))
        return false;
    p.config.nandCardOut = false;
    p.config.cardPresent = true;
    p.CardReplaced();
    return true;
}

bool SimulatedPlayer::InsertSectorCard(std::uint32_t sectors, bool formatted)
{
    std::lock_guard g(impl_->lock);
    Impl& p = *impl_;
    p.SyncChips();
    const auto csd = CsdForSectors(sectors);
    const auto head = formatted ? FormattedSectorCardHead(sectors) : std::nullopt;
    if (!p.SectorKind() || !csd || (formatted && !head))
        return false;
    p.config.cardSectors = sectors;
    p.sectorCard = std::make_unique<SimSectorCard>(sectors);
    p.cardImageStale = true;
    if (head)
        p.sectorCard->Write(0, static_cast<std::uint32_t>(head->size() / kCardSectorBytes), head->data());
    p.config.csd = *csd;
    p.config.cardPresent = true;
    p.CardReplaced();
    return true;
}

bool SimulatedPlayer::SetCardInserted(bool inserted)
{
    std::lock_guard g(impl_->lock);
    Impl& p = *impl_;
    p.SyncChips();
    const bool sector = p.SectorKind();
    if (sector ? !p.sectorCard : !p.NandCard())
        return false;
    const bool now = sector ? p.config.cardPresent : !p.config.nandCardOut;
    p.config.cardPresent = inserted;
    if (!sector)
        p.config.nandCardOut = !inserted;
    if (now != inserted)
        p.CardReplaced();
    return true;
}

std::optional<std::vector<std::uint8_t>> SimulatedPlayer::ExportCard(CardImageAudit* audit) const
{
    std::lock_guard g(impl_->lock);
    Impl& p = *impl_;
    p.SyncChips();
    if (!p.SectorKind()) {
        SimNandChip* chip = p.NandCard();
        return chip ? ExportCardImage(*chip, audit) : std::nullopt;
    }
    if (!p.sectorCard)
        return std::nullopt;
    std::vector<std::uint8_t> image(std::size_t{p.sectorCard->Sectors()} * kCardSectorBytes);
    p.sectorCard->Read(0, p.sectorCard->Sectors(), image.data());
    if (audit)
        *audit = {};
    return image;
}

bool SimulatedPlayer::ImportCard(std::span<const std::uint8_t> image)
{
    std::lock_guard g(impl_->lock);
    return impl_->ImportLocked(image);
}

bool SimulatedPlayer::ExportCardFile(const std::filesystem::path& file, CardImageAudit* audit) const
{
    return WriteFileReplacing(file, [&](std::ostream& out) {
        std::unique_lock g(impl_->lock);
        Impl& p = *impl_;
        p.SyncChips();
        if (p.SectorKind() && p.sectorCard) {
            // Piece by piece: a sector card may be far larger than the memory one wants to spend on it.
            if (audit)
                *audit = {};
            std::vector<std::uint8_t> piece(std::size_t{kCardMaxRunSectors} * kCardSectorBytes);
            const std::uint32_t total = p.sectorCard->Sectors();
            for (std::uint32_t at = 0; at < total && out; at += kCardMaxRunSectors) {
                const std::uint32_t n = std::min(kCardMaxRunSectors, total - at);
                p.sectorCard->Read(at, n, piece.data());
                out.write(reinterpret_cast<const char*>(piece.data()),
                          static_cast<std::streamsize>(std::size_t{n} * kCardSectorBytes));
            }
            return true;
        }
        g.unlock();
        const auto image = ExportCard(audit);
        if (!image)
            return false;
        out.write(reinterpret_cast<const char*>(image->data()), static_cast<std::streamsize>(image->size()));
        return true;
    });
}

bool SimulatedPlayer::ImportCardFile(const std::filesystem::path& file)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec)
        return false;
    std::lock_guard g(impl_->lock);
    Impl& p = *impl_;
    p.SyncChips();
    const auto sectors = p.CardImageSectors();
    if (!sectors || size % kCardSectorBytes != 0 || size / kCardSectorBytes > *sectors)
        return false;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    if (p.SectorKind()) {
        // Piece by piece into a fresh card that replaces the old one once the whole file is read, so a
        // short read leaves the card as it was.
        auto fresh = std::make_unique<SimSectorCard>(p.sectorCard->Sectors());
        std::vector<std::uint8_t> piece(std::size_t{kCardMaxRunSectors} * kCardSectorBytes);
        const std::uint32_t used = static_cast<std::uint32_t>(size / kCardSectorBytes);
        for (std::uint32_t at = 0; at < used; at += kCardMaxRunSectors) {
            const std::uint32_t n = std::min(kCardMaxRunSectors, used - at);
            if (!in.read(reinterpret_cast<char*>(piece.data()),
                         static_cast<std::streamsize>(std::size_t{n} * kCardSectorBytes)))
                return false;
            fresh->Write(at, n, piece.data());
        }
        p.sectorCard = std::move(fresh);
        p.cardImageStale = true;
        p.CardReplaced();
        return true;
    }
    std::vector<std::uint8_t> image(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size())))
        return false;
    return p.ImportLocked(image);
}

NandCounters SimulatedPlayer::Counters() const
{
    std::lock_guard g(impl_->lock);
    return impl_->counters;
}

void SimulatedPlayer::ResetCounters()
{
    std::lock_guard g(impl_->lock);
    impl_->counters = {};
}

PlayerConfig SimulatedPlayer::Config() const
{
    std::lock_guard g(impl_->lock);
    return impl_->config;
}

void SimulatedPlayer::EditConfig(const std::function<void(PlayerConfig&)>& edit)
{
    std::lock_guard g(impl_->lock);
    edit(impl_->config);
    impl_->SyncChips();
}

PlayerConfig& SimulatedPlayer::MutableConfig()
{
    return impl_->config;
}

void SimulatedPlayer::HostWrite(std::span<const std::uint8_t> message, std::vector<Message>& replies)
{
    std::lock_guard g(impl_->lock);
    Impl& p = *impl_;
    p.SyncChips();
    if (p.phase != Impl::Phase::Command) {
        if (p.TakeData(message))
            return;
        // Not data of the pending write: the write is abandoned, and a command block is taken as one.
        ++p.counters.rejected;
        p.AbandonWrite();
        if (message.size() == kBlockBytes)
            p.Command(message, replies);
        return;
    }
    if (message.size() != kBlockBytes) {
        ++p.counters.rejected;
        return;
    }
    p.Command(message, replies);
}

void SimulatedPlayer::HostClosed()
{
    std::lock_guard g(impl_->lock);
    impl_->AbandonWrite();
}

}  // namespace sim
