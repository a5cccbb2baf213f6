// A simulated player kept in a folder: create, save, open again, and folders that cannot be opened.
#include "sim/sim_files.h"
#include "tests/sim/sim_blocks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using namespace simtest;
using sim::SimulatedPlayer;

namespace {

// A fresh folder under the temporary path, removed at the end of the test.
class TempFolder {
public:
    TempFolder() : path_(std::filesystem::temp_directory_path() / sim::UniquePipeBaseName("kwep-simstore")) {}
    ~TempFolder()
    {
        sim::RemoveTree(path_);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string ReadText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const std::filesystem::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

void ProgramPage(SimulatedPlayer& p, int position, std::uint32_t row, std::uint8_t sector, std::uint32_t rows,
                 std::uint8_t data, std::uint8_t spare)
{
    Send(p, OwnBlock(0x03, position, row, sector, rows));
    Send(p, Unit(data, spare));
}

}  // namespace

TEST(SimStore, SaveAndOpenKeepEverything)
{
    TempFolder folder;
    sim::PlayerConfig config = sim::DefaultConfig(10);  // two (0xEC, 0xF1) chips
    config.nandIds[1] = {0x98, 0x75};
    config.firmware = "N7.1";
    config.firmwareDate = "20051231";
    config.rootEntries = 1024;
    config.csd[0] = 0x26;
    config.csd[15] = 0xC5;
    config.cardPresent = true;
    config.cardMountable = false;
    config.cardWriteProtect = true;
    config.upgradeStatus = 3;
    config.factoryBadBlocks = {{0, 7}};
    config.audioHeaders = {{0, 9, 2, 48000, 192000}};
    {
        auto p = SimulatedPlayer::Create(folder.path(), config);
        ASSERT_NE(p, nullptr);
        ProgramPage(*p, 0, 1000, 0, 1024, 0x21, 0xAA);
        ProgramPage(*p, 1, 255, 255, 256, 0x43, 0xEE);
        ASSERT_TRUE(p->MarkBadBlock(1, 100));
        ASSERT_TRUE(p->FailErase(0, 3));
        ASSERT_TRUE(p->Save());
    }
    auto p = SimulatedPlayer::Open(folder.path());
    ASSERT_NE(p, nullptr);
    const sim::PlayerConfig c = p->Config();
    EXPECT_EQ(c.modelId, config.modelId);
    EXPECT_EQ(c.firmware, config.firmware);
    EXPECT_EQ(c.firmwareDate, config.firmwareDate);
    EXPECT_EQ(c.nandIds, config.nandIds);
    EXPECT_EQ(c.rootEntries, config.rootEntries);
    EXPECT_EQ(c.csd, config.csd);
    EXPECT_EQ(c.cardPresent, config.cardPresent);
    EXPECT_EQ(c.cardMountable, config.cardMountable);
    EXPECT_EQ(c.cardWriteProtect, config.cardWriteProtect);
    EXPECT_EQ(c.upgradeStatus, config.upgradeStatus);
    ASSERT_EQ(c.factoryBadBlocks.size(), 1u);
    EXPECT_EQ(c.factoryBadBlocks[0].block, 7u);
    ASSERT_EQ(c.audioHeaders.size(), 1u);
    EXPECT_EQ(c.audioHeaders[0].bitRate, 192000u);

    EXPECT_EQ(p->PeekPage(0, 1000, 0)[0], 0x21);
    EXPECT_EQ(p->PeekPage(0, 1000, 0)[512], 0xAA);
    EXPECT_EQ(p->PeekPage(0, 1000, 1)[0], 0xFF);
    EXPECT_EQ(p->PeekPage(1, 255, 255)[0], 0x43);
    EXPECT_NE(p->PeekPage(0, 7, 0)[517], 0xFF);     // factory bad block
    EXPECT_NE(p->PeekPage(1, 12, 128)[517], 0xFF);  // grown bad block 100 = row 12, sector 128
    // The faults came back with the images.
    EXPECT_EQ(Send(*p, NandCommand(0x04, 0, 3, 0, 1024)).at(0)[0] & 1, 1);
    EXPECT_EQ(Send(*p, NandCommand(0x04, 1, 12, 128, 256)).at(0)[0] & 1, 1);
    EXPECT_EQ(Send(*p, NandCommand(0x04, 0, 4, 0, 1024)).at(0)[0] & 1, 0);

    // Changes after the open are saved too, and a position that lost its chip loses its image.
    ProgramPage(*p, 0, 2, 0, 1024, 0x00, 0x00);
    p->EditConfig([](sim::PlayerConfig& c) { c.nandIds[1] = {0, 0}; });
    ASSERT_TRUE(p->Save());
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "chip1.img"));
    auto again = SimulatedPlayer::Open(folder.path());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->PeekPage(0, 2, 0)[0], 0x00);
    EXPECT_EQ(again->PeekPage(0, 1000, 0)[0], 0x21);
}

TEST(SimStore, CreateReplacesAnEarlierPlayer)
{
    TempFolder folder;
    {
        auto p = SimulatedPlayer::Create(folder.path(), sim::DefaultConfig(1));  // two (0xEC, 0xE6) chips
        ASSERT_NE(p, nullptr);
        ProgramPage(*p, 1, 5, 0, 64, 0x00, 0x00);
        ASSERT_TRUE(p->Save());
        ASSERT_TRUE(std::filesystem::exists(folder.path() / "chip1.img"));
    }
    auto p = SimulatedPlayer::Create(folder.path(), sim::DefaultConfig(5));  // one chip
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "chip1.img"));
    auto opened = SimulatedPlayer::Open(folder.path());
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->Config().modelId, "KWEP-5");
}

TEST(SimStore, FoldersThatCannotBeOpened)
{
    struct DamageCase {
        const char* what;
        void (*damage)(const std::filesystem::path& folder);
        bool opens;
    };
    const DamageCase cases[] = {
        {"no configuration", [](const std::filesystem::path& f) { std::filesystem::remove(f / "player.cfg"); }, false},
        {"unknown key",
         [](const std::filesystem::path& f) {
             WriteText(f / "player.cfg", ReadText(f / "player.cfg") + "colour=red\n");
         },
         false},
        {"model id too long",
         [](const std::filesystem::path& f) {
             WriteText(f / "player.cfg", ReadText(f / "player.cfg") + "model=ABCDEFGHIJKLM\n");
         },
         false},
        {"bad number",
         [](const std::filesystem::path& f) {
             WriteText(f / "player.cfg", ReadText(f / "player.cfg") + "root=65536\n");
         },
         false},
        {"truncated image",
         [](const std::filesystem::path& f) {
             std::filesystem::resize_file(f / "chip0.img", std::filesystem::file_size(f / "chip0.img") - 1);
         },
         false},
        {"image with bytes after its records",
         [](const std::filesystem::path& f) {
             std::ofstream(f / "chip0.img", std::ios::binary | std::ios::app) << 'x';
         },
         false},
        {"image of another chip",
         [](const std::filesystem::path& f) {
             std::filesystem::remove(f / "chip1.img");
             std::filesystem::copy_file(f / "chip0.img", f / "chip1.img");
         },
         false},
        {"missing image: the chip comes back erased",
         [](const std::filesystem::path& f) { std::filesystem::remove(f / "chip0.img"); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        sim::PlayerConfig config = OneChip(0xEC, 0xE6);
        config.nandIds[1] = {0xEC, 0x73};
        {
            auto p = SimulatedPlayer::Create(folder.path(), config);
            ASSERT_NE(p, nullptr);
            ProgramPage(*p, 0, 1, 0, 64, 0x00, 0x00);
            ASSERT_TRUE(p->Save());
        }
        c.damage(folder.path());
        auto p = SimulatedPlayer::Open(folder.path());
        EXPECT_EQ(p != nullptr, c.opens);
        if (p) {
            EXPECT_EQ(p->PeekPage(0, 1, 0)[0], 0xFF);
        }
    }
    EXPECT_EQ(SimulatedPlayer::Open(std::filesystem::temp_directory_path() / "kwep-no-such-player"), nullptr);
}

TEST(SimStore, InvalidConfigurationsAreRefused)
{
    sim::PlayerConfig longId = sim::DefaultConfig(9);
    longId.modelId = "ABCDEFGHIJKLM";
    sim::PlayerConfig lineBreak = sim::DefaultConfig(9);
    lineBreak.firmware = "1\n2";
    sim::PlayerConfig badPosition = sim::DefaultConfig(9);
    badPosition.factoryBadBlocks = {{8, 0}};
    for (const auto* c : {&longId, &lineBreak, &badPosition})
        EXPECT_EQ(SimulatedPlayer::CreateInMemory(*c), nullptr);
    EXPECT_NE(SimulatedPlayer::CreateInMemory(sim::DefaultConfig(9)), nullptr);
}
