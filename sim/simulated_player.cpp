#include "simulated_player.h"

#include "sim_files.h"
#include "sim_nand.h"

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
constexpr std::size_t kUnitBytes = 576;            // 512 data + 16 spare + 48 zero
constexpr std::size_t kUnitsPerTransfer = 32;
constexpr std::size_t kChipPageBytes = 2112;       // large page: 2048 data + four 16-byte spares
constexpr std::size_t kLargeWriteMax = 8 * kChipPageBytes;
constexpr std::size_t kTransferMax = kUnitsPerTransfer * kUnitBytes;
constexpr int kPositions = 8;
constexpr char kTrailer[5] = {'w', 'e', 'x', 'o', 'l'};

constexpr std::uint8_t kStatusDone = 0xC0;    // ready, not write-protected
constexpr std::uint8_t kStatusFailed = 0xC1;  // the same with the fail bit

constexpr char kConfigName[] = "player.cfg";
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
};

// Opcodes the player knows to have a reply phase but does not serve (further commands of the
// firmware, and the card's sector reads until the card is simulated): refused with an empty reply.
bool RefusedWithReply(std::uint8_t op) {
    return op == 0x05 || op == 0xCD || op == 0xCE || op == 0xCF || op == 17 || op == 18;
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

const ModelRow& Model(int model) { return kModels[(model >= 1 && model <= 16) ? model : 0]; }

// ---- small helpers ------------------------------------------------------------------------------

bool Printable(std::string_view text, std::size_t maxLength) {
    return text.size() <= maxLength &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

bool AllZero(std::span<const std::uint8_t> bytes, std::size_t from, std::size_t to) {
    return std::all_of(bytes.begin() + from, bytes.begin() + to, [](std::uint8_t v) { return v == 0; });
}

bool HasTrailer(std::span<const std::uint8_t> block) {
    return std::memcmp(block.data() + 59, kTrailer, sizeof kTrailer) == 0;
}

void PutLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool ValidConfig(const PlayerConfig& c) {
    if (!Printable(c.modelId, 12) || !Printable(c.firmware, 4) || !Printable(c.firmwareDate, 8)) return false;
    for (const auto& bad : c.factoryBadBlocks)
        if (bad.position < 0 || bad.position >= kPositions) return false;
    return true;
}

// ---- configuration file -------------------------------------------------------------------------
// player.cfg: one "key=value" per line, '#' starts a comment line. Keys: model, firmware, date,
// nand (eight 4-digit hex pairs, maker first, comma-separated), root, csd (32 hex digits),
// card_write_protect, card_present, card_mountable, media_changed, upgrade_status, and repeatable
// bad=<position>:<block> and audio=<storage>:<record id>:<channels>:<sample rate>:<bit rate>.

std::string Hex(const std::uint8_t* bytes, std::size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

bool ParseHex(std::string_view text, std::uint8_t* out, std::size_t n) {
    if (text.size() != 2 * n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned v = 0;
        auto [p, ec] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, v, 16);
        if (ec != std::errc() || p != text.data() + 2 * i + 2) return false;
        out[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

template <typename T>
bool ParseNumber(std::string_view text, T& out) {
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && p == text.data() + text.size() && !text.empty();
}

bool ParseFlag(std::string_view text, bool& out) {
    if (text != "0" && text != "1") return false;
    out = text == "1";
    return true;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

std::string FormatConfig(const PlayerConfig& c) {
    std::ostringstream out;
    out << "# Simulated player. Chip images: chip<position>.img.\n";
    out << "model=" << c.modelId << "\nfirmware=" << c.firmware << "\ndate=" << c.firmwareDate << "\nnand=";
    for (int i = 0; i < kPositions; ++i) out << (i ? "," : "") << Hex(c.nandIds[i].data(), 2);
    out << "\nroot=" << c.rootEntries << "\ncsd=" << Hex(c.csd.data(), c.csd.size())
        << "\ncard_write_protect=" << int{c.cardWriteProtect} << "\ncard_present=" << int{c.cardPresent}
        << "\ncard_mountable=" << int{c.cardMountable} << "\nmedia_changed=" << int{c.mediaChanged}
        << "\nupgrade_status=" << int{c.upgradeStatus} << "\n";
    for (const auto& bad : c.factoryBadBlocks) out << "bad=" << bad.position << ":" << bad.block << "\n";
    for (const auto& a : c.audioHeaders)
        out << "audio=" << int{a.storage} << ":" << a.recordId << ":" << a.channels << ":" << a.sampleRate << ":"
            << a.bitRate << "\n";
    return out.str();
}

std::optional<PlayerConfig> ParseConfig(std::string_view text) {
    PlayerConfig c;
    bool sawModel = false, sawNand = false;
    for (std::string_view line : Split(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
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
            for (int i = 0; ok && i < kPositions; ++i) ok = ParseHex(pairs[i], c.nandIds[i].data(), 2);
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
        } else if (key == "bad") {
            auto parts = Split(value, ':');
            BlockRef bad;
            ok = parts.size() == 2 && ParseNumber(parts[0], bad.position) && ParseNumber(parts[1], bad.block);
            if (ok) c.factoryBadBlocks.push_back(bad);
        } else if (key == "audio") {
            auto parts = Split(value, ':');
            AudioHeader a;
            ok = parts.size() == 5 && ParseNumber(parts[0], a.storage) && ParseNumber(parts[1], a.recordId) &&
                 ParseNumber(parts[2], a.channels) && ParseNumber(parts[3], a.sampleRate) &&
                 ParseNumber(parts[4], a.bitRate);
            if (ok) c.audioHeaders.push_back(a);
        } else {
            ok = false;
        }
        if (!ok) return std::nullopt;
    }
    if (!sawModel || !sawNand || !ValidConfig(c)) return std::nullopt;
    return c;
}

std::filesystem::path ChipImagePath(const std::filesystem::path& folder, int position) {
    return folder / ("chip" + std::to_string(position) + ".img");
}

}  // namespace

PlayerConfig DefaultConfig(int model) {
    const ModelRow& row = Model(model);
    PlayerConfig c;
    c.modelId = row.id;
    c.firmware = row.firmware;
    c.rootEntries = row.rootEntries;
    for (int i = 0; i < row.chips; ++i) c.nandIds[i] = {row.maker, row.device};
    return c;
}

int ModelChipSlots(int model) { return Model(model).slots; }

// ---- the player ---------------------------------------------------------------------------------

struct SimulatedPlayer::Impl {
    mutable std::mutex lock;
    std::filesystem::path folder;
    PlayerConfig config;
    std::array<std::unique_ptr<SimNandChip>, kPositions> chips;
    std::array<bool, kPositions> imageStale{};  // an image on disk no longer matches the position
    NandCounters counters;

    // A write whose data messages are still to come.
    enum class Phase { Command, PageData, BlockData };
    Phase phase = Phase::Command;
    SimNandChip* writeChip = nullptr;
    std::uint32_t writeSector = 0;
    std::uint64_t writeLeft = 0;
    bool writeLarge = false;

    struct Address {
        SimNandChip* chip;
        std::uint32_t sector;  // row x 256 + sector within the row
    };

    // Brings the chips in line with the configured ids (tests may change them at any time).
    void SyncChips() {
        for (int i = 0; i < kPositions; ++i) {
            const auto [maker, device] = config.nandIds[i];
            auto& chip = chips[i];
            if (chip && chip->Maker() == maker && chip->Device() == device) continue;
            const auto geometry = GeometryForId(maker, device);
            if (!chip && !geometry) continue;
            if (chip.get() == writeChip) AbandonWrite();
            chip = geometry ? std::make_unique<SimNandChip>(maker, device, *geometry) : nullptr;
            imageStale[i] = true;
        }
    }

    SimNandChip* Chip(int position) {
        SyncChips();
        return position >= 0 && position < kPositions ? chips[position].get() : nullptr;
    }

    void AbandonWrite() {
        phase = Phase::Command;
        writeChip = nullptr;
        writeLeft = 0;
    }

    void Refuse(std::vector<Message>& replies, bool hasReply) {
        ++counters.rejected;
        if (hasReply) replies.emplace_back();  // an empty message: the host's read comes up short
    }

    // Decodes mask, sector and row of a NAND command.
    std::optional<Address> Nand(std::span<const std::uint8_t> block) {
        const std::uint8_t mask = block[1];
        if (!std::has_single_bit(mask)) return std::nullopt;
        SimNandChip* chip = chips[std::countr_zero(mask)].get();
        if (!chip) return std::nullopt;
        const std::uint32_t rows = chip->Geometry().rows;
        std::uint32_t row;
        if (rows < 512) {
            if (block[5] != 0xFF) return std::nullopt;
            row = block[4];
        } else {
            row = block[4] | (std::uint32_t{block[5]} << 8);
        }
        if (row >= rows) return std::nullopt;
        return Address{chip, row * kSectorsPerRow + block[3]};
    }

    static Message Unit(const SimNandChip& chip, std::uint32_t sector) {
        Message unit(kUnitBytes, 0);
        const SectorBytes bytes = chip.Read(sector);
        std::copy(bytes.begin(), bytes.end(), unit.begin());
        return unit;
    }

    std::array<std::uint8_t, kBlockBytes> InfoBlock() const {
        std::array<std::uint8_t, kBlockBytes> b{};
        std::copy_n(config.modelId.begin(), std::min<std::size_t>(config.modelId.size(), 12), b.begin());
        std::copy_n(config.firmware.begin(), std::min<std::size_t>(config.firmware.size(), 4), b.begin() + 12);
        std::copy_n(config.firmwareDate.begin(), std::min<std::size_t>(config.firmwareDate.size(), 8), b.begin() + 16);
        const bool nFamily = !config.firmware.empty() && config.firmware[0] == 'N';
        for (int i = 0; i < kPositions; ++i) {
            std::uint16_t word = static_cast<std::uint16_t>(config.nandIds[i][0] | (config.nandIds[i][1] << 8));
            if (nFamily) word = static_cast<std::uint16_t>(~word);
            PutLe16(&b[24 + 2 * i], word);
        }
        std::copy(config.csd.begin(), config.csd.end(), b.begin() + 40);
        b[56] = config.cardWriteProtect ? 1 : 0;
        b[57] = config.mediaChanged ? 1 : 0;
        b[nFamily ? 60 : 58] = config.cardPresent ? 1 : 0;
        b[59] = (config.cardPresent && config.cardMountable) ? 1 : 0;
        PutLe16(&b[61], config.rootEntries);
        return b;
    }

    // Takes one data message of the pending write; false when it does not fit (nothing is taken).
    bool TakeData(std::span<const std::uint8_t> msg) {
        if (phase == Phase::PageData) {
            if (msg.size() != kUnitBytes) return false;
            ++counters.pagePrograms;
            writeChip->Program(writeSector, msg.data(), msg.data() + kSectorDataBytes);
            AbandonWrite();
            return true;
        }
        const std::size_t unit = writeLarge ? kChipPageBytes : kUnitBytes;
        const std::size_t most = writeLarge ? kLargeWriteMax : kTransferMax;
        if (msg.empty() || msg.size() % unit != 0 || msg.size() > most || msg.size() > writeLeft) return false;
        for (std::size_t at = 0; at < msg.size(); at += unit) {
            const std::uint8_t* piece = msg.data() + at;
            if (writeLarge) {
                // Four sectors: their data back to back, then their spares back to back.
                for (std::size_t i = 0; i < 4; ++i)
                    writeChip->Program(writeSector + static_cast<std::uint32_t>(i), piece + i * kSectorDataBytes,
                                       piece + 4 * kSectorDataBytes + i * kSpareBytes);
                writeSector += 4;
                counters.pagePrograms += 4;
            } else {
                writeChip->Program(writeSector++, piece, piece + kSectorDataBytes);
                ++counters.pagePrograms;
            }
        }
        writeLeft -= msg.size();
        if (writeLeft == 0) AbandonWrite();
        return true;
    }

    void Command(std::span<const std::uint8_t> b, std::vector<Message>& replies) {
        const std::uint8_t op = b[0];
        // Blocks from the host's general sender carry the trailer; its own-built blocks end in zeros.
        auto signedFrom = [&](std::size_t from) { return AllZero(b, from, 59) && HasTrailer(b); };
        auto unsignedFrom = [&](std::size_t from) { return AllZero(b, from, kBlockBytes); };

        switch (op) {
        case kInfo: {
            if (!signedFrom(1)) return Refuse(replies, true);
            ++counters.commandBlocks;
            const auto info = InfoBlock();
            replies.emplace_back(info.begin(), info.end());
            config.mediaChanged = false;  // reported: no longer "changed since the last query"
            return;
        }
        case kReadPages:
        case kReadPage: {
            const auto at = Nand(b);
            if (!at || !signedFrom(6)) return Refuse(replies, true);
            ++counters.commandBlocks;
            const std::uint32_t count = op == kReadPage ? 1 : at->chip->Geometry().sectorsPerBlock;
            Message piece;
            for (std::uint32_t i = 0; i < count; ++i) {
                const Message unit = Unit(*at->chip, at->sector + i);
                piece.insert(piece.end(), unit.begin(), unit.end());
                if (piece.size() == kTransferMax || i + 1 == count) replies.push_back(std::move(piece)), piece.clear();
            }
            counters.pageReads += count;
            return;
        }
        case kErase: {
            const auto at = Nand(b);
            if (!at || !signedFrom(6)) return Refuse(replies, true);
            ++counters.commandBlocks;
            ++counters.blockErases;
            const bool done = at->chip->Erase(at->sector / at->chip->Geometry().sectorsPerBlock);
            Message reply(kBlockBytes, 0);
            reply[0] = done ? kStatusDone : kStatusFailed;
            replies.push_back(std::move(reply));
            return;
        }
        case kReadSpare: {
            const std::uint8_t mask = b[1];
            SimNandChip* chip = std::has_single_bit(mask) ? chips[std::countr_zero(mask)].get() : nullptr;
            if (!chip || !signedFrom(2)) return Refuse(replies, true);
            ++counters.commandBlocks;
            const std::uint32_t spb = chip->Geometry().sectorsPerBlock;
            Message piece;
            for (std::uint32_t first = 0; first < chip->SectorCount(); first += spb) {
                const auto spare = chip->Spare(first);
                piece.insert(piece.end(), spare.begin(), spare.end());
                if (piece.size() == kBlockBytes) replies.push_back(std::move(piece)), piece.clear();
            }
            if (!piece.empty()) replies.push_back(std::move(piece));  // no chip of the table leaves any
            return;
        }
        case kWritePage: {
            const auto at = Nand(b);
            if (!at || !unsignedFrom(6)) return Refuse(replies, false);
            ++counters.commandBlocks;
            phase = Phase::PageData;
            writeChip = at->chip;
            writeSector = at->sector;
            return;
        }
        case kBeginWrite:
        case kBeginWriteLarge: {
            const auto at = Nand(b);
            if (!at || !unsignedFrom(10)) return Refuse(replies, false);
            const bool large = op == kBeginWriteLarge;
            const std::uint64_t bytes = (std::uint64_t{b[6]} << 8) | b[7] | (std::uint64_t{b[8]} << 16) |
                                        (std::uint64_t{b[9]} << 24);
            const std::uint64_t perPage = large ? kChipPageBytes / 4 : kUnitBytes;
            const std::uint64_t pages = bytes / perPage;
            if (bytes == 0 || bytes % perPage != 0 || (large && (!at->chip->Geometry().largePage ||
                                                                 pages % 4 != 0 || at->sector % 4 != 0)) ||
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
            if (!signedFrom(1)) return Refuse(replies, false);
            ++counters.commandBlocks;
            if (op == kAckMediaChange) config.mediaChanged = false;
            return;
        case kStatusQuery: {
            if (!signedFrom(1)) return Refuse(replies, true);
            ++counters.commandBlocks;
            Message reply(kBlockBytes, 0);
            reply[0] = config.upgradeStatus;
            replies.push_back(std::move(reply));
            return;
        }
        case kFileHeader: {
            if (!unsignedFrom(4)) return Refuse(replies, true);
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
        default:
            return Refuse(replies, RefusedWithReply(op));
        }
    }

    bool SaveLocked() {
        if (folder.empty() || !ValidConfig(config)) return false;  // Open could not read it back
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        const std::filesystem::path target = folder / kConfigName;
        std::filesystem::path temp = target;
        temp += ".new";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out << FormatConfig(config);
            out.flush();
            if (!out) {
                out.close();
                std::filesystem::remove(temp, ec);
                return false;
            }
        }
        if (!ReplaceFileWith(temp, target)) return false;
        SyncChips();
        for (int i = 0; i < kPositions; ++i) {
            const auto path = ChipImagePath(folder, i);
            if (!chips[i]) {
                if (imageStale[i]) std::filesystem::remove(path, ec);
                if (ec) return false;
                imageStale[i] = false;
                continue;
            }
            if (!chips[i]->Dirty() && !imageStale[i]) continue;
            if (!chips[i]->WriteImage(path)) return false;
            chips[i]->SetDirty(false);
            imageStale[i] = false;
        }
        return true;
    }
};

SimulatedPlayer::SimulatedPlayer() : impl_(std::make_unique<Impl>()) {}
SimulatedPlayer::~SimulatedPlayer() = default;

std::unique_ptr<SimulatedPlayer> SimulatedPlayer::CreateInMemory(const PlayerConfig& config) {
    if (!ValidConfig(config)) return nullptr;
    std::unique_ptr<SimulatedPlayer> player(new SimulatedPlayer());
    Impl& p = *player->impl_;
    p.config = config;
    p.SyncChips();
    for (const auto& bad : config.factoryBadBlocks)
        if (SimNandChip* chip = p.chips[bad.position].get()) chip->MarkBad(bad.block);
    return player;
}

std::unique_ptr<SimulatedPlayer> SimulatedPlayer::Create(const std::filesystem::path& folder,
                                                         const PlayerConfig& config) {
    auto player = CreateInMemory(config);
    if (!player) return nullptr;
    player->impl_->folder = folder;
    player->impl_->imageStale.fill(true);  // drop the images of an earlier player in the folder
    if (!player->Save()) return nullptr;
    return player;
}

std::unique_ptr<SimulatedPlayer> SimulatedPlayer::Open(const std::filesystem::path& folder) {
    const auto configPath = folder / kConfigName;
    std::error_code ec;
    const auto size = std::filesystem::file_size(configPath, ec);
    if (ec || size > kConfigMaxBytes) return nullptr;
    std::string text(static_cast<std::size_t>(size), '\0');
    {
        std::ifstream in(configPath, std::ios::binary);
        if (!in || !in.read(text.data(), static_cast<std::streamsize>(text.size()))) return nullptr;
    }
    auto config = ParseConfig(text);
    if (!config) return nullptr;

    std::unique_ptr<SimulatedPlayer> player(new SimulatedPlayer());
    Impl& p = *player->impl_;
    p.folder = folder;
    p.config = *config;
    for (int i = 0; i < kPositions; ++i) {
        const auto [maker, device] = p.config.nandIds[i];
        if (!GeometryForId(maker, device)) continue;
        const auto path = ChipImagePath(folder, i);
        if (!std::filesystem::exists(path, ec)) continue;  // made erased by SyncChips below
        p.chips[i] = SimNandChip::ReadImage(path, maker, device);
        if (!p.chips[i]) return nullptr;
    }
    p.SyncChips();
    return player;
}

bool SimulatedPlayer::Save() {
    std::lock_guard g(impl_->lock);
    return impl_->SaveLocked();
}

const std::filesystem::path& SimulatedPlayer::Folder() const { return impl_->folder; }

bool SimulatedPlayer::MarkBadBlock(int position, std::uint32_t block) {
    std::lock_guard g(impl_->lock);
    SimNandChip* chip = impl_->Chip(position);
    if (!chip || block >= chip->BlockCount()) return false;
    chip->MarkBad(block);
    return true;
}

bool SimulatedPlayer::FailErase(int position, std::uint32_t block) {
    std::lock_guard g(impl_->lock);
    SimNandChip* chip = impl_->Chip(position);
    if (!chip || block >= chip->BlockCount()) return false;
    chip->SetFlags(block, chip->Flags(block) | kBlockEraseFails);
    return true;
}

bool SimulatedPlayer::FailProgram(int position, std::uint32_t block) {
    std::lock_guard g(impl_->lock);
    SimNandChip* chip = impl_->Chip(position);
    if (!chip || block >= chip->BlockCount()) return false;
    chip->SetFlags(block, chip->Flags(block) | kBlockProgramFails);
    return true;
}

void SimulatedPlayer::ClearFailures() {
    std::lock_guard g(impl_->lock);
    impl_->SyncChips();
    for (auto& chip : impl_->chips) {
        if (!chip) continue;
        for (std::uint32_t b = 0; b < chip->BlockCount(); ++b)
            if (chip->Flags(b) & (kBlockEraseFails | kBlockProgramFails))
                chip->SetFlags(b, chip->Flags(b) & kBlockBad);
    }
}

std::array<std::uint8_t, 528> SimulatedPlayer::PeekPage(int position, std::uint32_t row, std::uint32_t sector) const {
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
                               const std::array<std::uint8_t, 528>& bytes) {
    std::lock_guard g(impl_->lock);
    SimNandChip* chip = impl_->Chip(position);
    if (!chip || row >= chip->Geometry().rows || sector >= kSectorsPerRow) return false;
    chip->Poke(row * kSectorsPerRow + sector, bytes);
    return true;
}

NandCounters SimulatedPlayer::Counters() const {
    std::lock_guard g(impl_->lock);
    return impl_->counters;
}

void SimulatedPlayer::ResetCounters() {
    std::lock_guard g(impl_->lock);
    impl_->counters = {};
}

PlayerConfig SimulatedPlayer::Config() const {
    std::lock_guard g(impl_->lock);
    return impl_->config;
}

void SimulatedPlayer::EditConfig(const std::function<void(PlayerConfig&)>& edit) {
    std::lock_guard g(impl_->lock);
    edit(impl_->config);
    impl_->SyncChips();
}

PlayerConfig& SimulatedPlayer::MutableConfig() { return impl_->config; }

void SimulatedPlayer::HostWrite(std::span<const std::uint8_t> message, std::vector<Message>& replies) {
    std::lock_guard g(impl_->lock);
    Impl& p = *impl_;
    p.SyncChips();
    if (p.phase != Impl::Phase::Command) {
        if (p.TakeData(message)) return;
        // Not data of the pending write: the write is abandoned, and a command block is taken as one.
        ++p.counters.rejected;
        p.AbandonWrite();
        if (message.size() == kBlockBytes) p.Command(message, replies);
        return;
    }
    if (message.size() != kBlockBytes) {
        ++p.counters.rejected;
        return;
    }
    p.Command(message, replies);
}

void SimulatedPlayer::HostClosed() {
    std::lock_guard g(impl_->lock);
    impl_->AbandonWrite();
}

}  // namespace sim
