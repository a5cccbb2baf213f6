// Shared by the NAND-type card format tests: a player of a model with a NAND-type card slot, identified
// by the device object, and the exported card checked for well-formed spare records and by fsck.fat.
#pragma once

#include "tests/device/fs/card/card_fixture.h"

#include "device/fs/engine_status.h"

#include <gtest/gtest.h>

namespace cardtest {

class NandFormatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(player.Ok());
        engine::SetProgressSink(&progress);
    }
    void TearDown() override
    {
        engine::SetProgressSink(nullptr);
        player.Server().ClearFault();
    }
    std::uint32_t Identify()
    {
        engine::DeviceInfoBlock info;
        return device.Initialize(info);
    }
    int Position() { return sim::CardPosition(player.Player().Config()); }
    std::uint32_t Download(const std::string& name, const Bytes& content)
    {
        WriteFile(temp.File(name), content);
        return engine::CardVolume.DownloadFileNandCard(temp.File(name).string().c_str());
    }
    // The exported card: every page's spare well formed, one copy of each block, clean for fsck.fat.
    Bytes CleanCard()
    {
        SyncWithPlayer();
        sim::CardImageAudit audit;
        auto card = player.Player().ExportCard(&audit);
        EXPECT_TRUE(card);
        if (!card)
            return {};
        EXPECT_EQ(audit.eccMismatches, 0u);
        EXPECT_EQ(audit.malformedFields, 0u);
        EXPECT_EQ(audit.duplicateBlocks, 0u);
        CardImage image(temp, *card);
        EXPECT_EQ(image.Fsck(), "");
        return *card;
    }

    sim::TestPlayer player{WithoutInternalChips(1)};
    engine::PlayerDevice device;
    test_support::TempFolder temp;
    ProgressRecorder progress;
};

}  // namespace cardtest
