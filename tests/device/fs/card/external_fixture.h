// Shared by the card folder object's tests: a folder-object player with either card kind, folder
// objects loaded from the card, listings, and the exported card checked by fsck.fat and mtools.
#pragma once

#include "tests/device/fs/card/card_fixture.h"

#include "device/fs/card/external_folder.h"
#include "device/fs/engine_status.h"

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace exttest {

using namespace cardtest;

struct CardKindCase {
    const char* name;
    int model;              // 9 takes a NAND-type card, 10 a sector card
    std::uint8_t device;    // NAND-type card chip (maker 0xEC)
    std::uint32_t sectors;  // sector card size
};

inline std::string Narrow(const std::wstring& w)
{
    return std::string(w.begin(), w.end());
}
inline std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

// One visible entry of a folder as the walk gives it.
struct Entry {
    std::string name;
    std::uint16_t id = 0;
    std::uint32_t size = 0;
    std::uint8_t attributes = 0;
    bool operator==(const Entry&) const = default;
};

inline std::vector<Entry> List(engine::ExternalFolder& folder)
{
    std::vector<Entry> out;
    engine::DirRecord r;
    for (std::int32_t k = folder.FindFirst(&r); k == 0; k = folder.FindNext(&r)) {
        const auto* w = reinterpret_cast<const wchar_t*>(r.name);
        out.push_back({Narrow(w), r.firstCluster, r.size, r.attributes});
    }
    return out;
}

class CardPlayer {
public:
    explicit CardPlayer(const CardKindCase& c) : case_(c), player_(WithoutInternalChips(c.model)) {}

    // Inserts a fresh formatted card and identifies the player.
    bool Start()
    {
        if (!player_.Ok())
            return false;
        bool inserted = case_.sectors ? player_.Player().InsertSectorCard(case_.sectors, true)
                                      : player_.Player().InsertNandCard(0xEC, case_.device, true);
        return inserted && Identify() == engine::kStatusOk && engine::CardVolume.IsMounted();
    }
    std::uint32_t Identify()
    {
        engine::DeviceInfoBlock info;
        return device_.Initialize(info);
    }
    // A quick format of a sector card; a NAND-type card is always erased whole.
    std::uint32_t Format() { return case_.sectors ? device_.FormatSectorCard(1) : device_.FormatNandCard(); }
    // The folder's object, loaded from the card (0 = the root).
    std::unique_ptr<engine::ExternalFolder> Open(std::uint32_t id)
    {
        auto f = std::make_unique<engine::ExternalFolder>(256, id, 1, id == 0 ? 1 : 0);
        const std::uint32_t status = f->Load();
        EXPECT_EQ(status, engine::kStatusOk) << "load of folder " << id;
        return status == engine::kStatusOk ? std::move(f) : nullptr;
    }
    std::uint32_t ClusterBytes() const { return engine::CardVolume.card.sectorsPerBlock * 512u; }
    std::string PcFile(const std::string& name, const Bytes& content)
    {
        WriteFile(temp_.File(name), content);
        return temp_.File(name).string();
    }
    std::optional<Bytes> Export(sim::CardImageAudit* audit = nullptr)
    {
        SyncWithPlayer();
        return player_.Player().ExportCard(audit);
    }
    sim::TestPlayer& Test() { return player_; }
    test_support::TempFolder& Temp() { return temp_; }
    const CardKindCase& Case() const { return case_; }

private:
    CardKindCase case_;
    sim::TestPlayer player_;
    engine::PlayerDevice device_;
    test_support::TempFolder temp_;
};

// fsck.fat drops the entry by which a folder names itself inside its own directory (a directory
// entry pointing at its own cluster); the player keeps that entry, so that finding alone is expected.
inline std::string WithoutSelfEntries(const std::string& findings)
{
    std::string out, line, previous;
    std::istringstream in(findings);
    std::vector<std::string> lines;
    while (std::getline(in, line))
        lines.push_back(line);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (i + 1 < lines.size() && lines[i + 1] == " Start does point to containing directory. Deleting entry.") {
            // "/a/b/b": the last name repeats the folder's own.
            std::size_t last = l.rfind('/');
            std::size_t before = last == std::string::npos || last == 0 ? std::string::npos : l.rfind('/', last - 1);
            if (before != std::string::npos && l.substr(before + 1, last - before - 1) == l.substr(last + 1)) {
                ++i;
                continue;
            }
        }
        out += l + "\n";
    }
    return out;
}

// A sector card formatted by the player carries its label ("KWEP VOLUME") in the boot sector only, as
// the player's format writes it; fsck.fat notes that the root holds no label entry.
inline std::string WithoutBootSectorLabel(const std::string& findings)
{
    const std::string note = "Label in boot sector is 'KWEP VOLUME', but there is no volume label in root directory.\n";
    std::string out = findings;
    if (const std::size_t at = out.find(note); at != std::string::npos)
        out.erase(at, note.size());
    return out;
}

inline const CardKindCase kCardKinds[] = {
    {"NandCard", 9, 0xE6, 0},      // 8 MB, FAT12, 16-sector clusters
    {"SectorCard", 10, 0, 65536},  // 32 MB
};

}  // namespace exttest
