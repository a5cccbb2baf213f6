// A device session over the registered device API and a simulated player served in this process: it
// finds the player, reads its identity, figures and capabilities, lists and walks folders into file
// items, and its poll step follows the player through unplug, re-plug, card changes and writes (one
// table of cases against the player's fault injection), run on a worker thread as the manager runs it.
#include "sim/simulated_player.h"
#include "tests/manager/device/session_rig.h"
#include "tests/support/pc_file_bytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using session_rig::PollOnWorker;
using session_rig::RecordingSession;
using session_rig::Text;

[[maybe_unused]] ::testing::Environment* const kRegistration =
    ::testing::AddGlobalTestEnvironment(new session_rig::Registration);
[[maybe_unused]] const test_support::PrivateTemp kPrivateTemp;

constexpr std::uint32_t kFirstCardSectors = 65536;   // 32 MiB
constexpr std::uint32_t kSecondCardSectors = 131072;  // 64 MiB

// Model 10 (MMC/SD cards) with one small internal chip: identification reads every block's spare record.
sim::PlayerConfig SmallPlayer()
{
    sim::PlayerConfig config = sim::DefaultConfig(10);
    for (int i = 1; i < sim::ModelChipSlots(10); ++i)
        config.nandIds[i] = {0, 0};
    config.nandIds[0] = {0xEC, 0xE6};
    return config;
}

// One player and one session for the whole program: identification and the format are the slow part.
class DeviceSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        player_ = new sim::TestPlayer(SmallPlayer());
        ASSERT_TRUE(player_->Ok());
        ASSERT_TRUE(player_->Player().InsertSectorCard(kFirstCardSectors));
        session_ = new RecordingSession;
        ASSERT_EQ(S_OK, session_->Open());
        EXPECT_EQ(S_OK, session_->Open()) << "opening twice changes nothing";
        // The first poll finds the player.
        ASSERT_EQ(1, PollOnWorker(*session_));
        DeviceInfo info;
        ASSERT_EQ(S_OK, session_->GetDeviceInfo(&info));
        ASSERT_EQ(1, info.present);
        // A fresh chip holds no file system yet: the player is given one as it leaves the factory.
        CComPtr<IZAVTStorage> internal = session_->Storage(kStorageInternal);
        ASSERT_TRUE(internal);
        ASSERT_EQ(S_OK, internal->Format());
        PollOnWorker(*session_);
    }
    static void TearDownTestSuite()
    {
        delete session_;
        session_ = nullptr;
        delete player_;
        player_ = nullptr;
        CoUninitialize();
    }
    void SetUp() override
    {
        ASSERT_NE(nullptr, session_);
        session_->seen.clear();
    }

    static DeviceInfo Info()
    {
        DeviceInfo info;
        EXPECT_EQ(S_OK, session_->GetDeviceInfo(&info));
        return info;
    }
    static CComBSTR PcFile(const wchar_t* name, std::size_t size)
    {
        test_support::Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
        test_support::WriteFile(pc_.File(name), bytes);
        return CComBSTR(pc_.File(name).wstring().c_str());
    }
    static std::vector<CFileItem> Listing(int storage)
    {
        std::vector<CFileItem> items;
        EXPECT_EQ(S_OK, session_->GetFolderItems(storage, &items));
        return items;
    }
    static const CFileItem* Find(const std::vector<CFileItem>& items, const wchar_t* name)
    {
        for (const CFileItem& item : items)
            if (Text(item.name) == name)
                return &item;
        return nullptr;
    }

    static inline sim::TestPlayer* player_ = nullptr;
    static inline RecordingSession* session_ = nullptr;
    static inline test_support::TempFolder pc_;
};

TEST_F(DeviceSessionTest, ReadsTheIdentityFiguresAndCapabilities)
{
    const DeviceInfo info = Info();
    EXPECT_EQ(1, info.present);
    EXPECT_EQ(2, info.storageCount);
    EXPECT_EQ(1, info.internalReady);
    EXPECT_EQ(1, info.cardReady);
    EXPECT_EQ(0, info.internalUnformatted);
    EXPECT_EQ(0, info.cardUnformatted);
    EXPECT_EQ(0, info.cardReadOnly);
    EXPECT_EQ(10, info.model);
    EXPECT_FALSE(Text(info.name).empty());
    EXPECT_FALSE(Text(info.firmwareVersion).empty());
    EXPECT_FALSE(Text(info.firmwareDate).empty());
    EXPECT_EQ(1, info.supportsFirmwareUpgrade);
    EXPECT_EQ(1, info.supportsFMRadio);
    EXPECT_TRUE(info.sectorsPerCluster == 32 || info.sectorsPerCluster == 256) << info.sectorsPerCluster;
    EXPECT_EQ(1, info.SupportsLogo);
    EXPECT_EQ(1, info.SupportsFMStations);
    EXPECT_EQ(1, info.SupportsFolders);
    EXPECT_EQ(1, info.SupportsFont);
    EXPECT_EQ(0, info.SupportsMemo);
    EXPECT_EQ(0, info.SupportsImage);
    EXPECT_TRUE(info.IsInternalReady());
    EXPECT_GT(info.internalTotal, 0u);
    EXPECT_EQ(info.internalTotal - info.internalFree, info.internalUsed);
    EXPECT_GT(info.cardTotal, 0u);
    EXPECT_LE(info.cardTotal, kFirstCardSectors * 512u);
    EXPECT_EQ(info.cardTotal - info.cardFree, info.cardUsed);

    // A reader's copy owns its texts: the old ones of the record it fills are replaced.
    DeviceInfo copy;
    copy.name = CComBSTR(L"old");
    ASSERT_EQ(S_OK, session_->GetDeviceInfo(&copy));
    EXPECT_EQ(Text(info.name), Text(copy.name));
    EXPECT_NE(info.name.get(), copy.name.get());
}

TEST_F(DeviceSessionTest, ListsSubfoldersBeforeFilesAndWalksFolders)
{
    CComPtr<IZAVTStorage> card = session_->Storage(kStorageCard);
    ASSERT_TRUE(card);
    CComPtr<IZAVTFolder> root, alpha, beta;
    ASSERT_EQ(S_OK, card->get_RootFolder(&root));
    ASSERT_EQ(S_OK, root->Download(PcFile(L"ROOTFILE.BIN", 3000)));
    ASSERT_EQ(S_OK, root->CreateSubfolder(CComBSTR(L"ALPHA")));
    ASSERT_EQ(S_OK, root->CreateSubfolder(CComBSTR(L"OMEGA")));

    ASSERT_EQ(S_OK, session_->GoToRootFolder(kStorageCard));
    std::vector<CFileItem> items = Listing(kStorageCard);
    ASSERT_GE(items.size(), 3u);
    const CFileItem* alphaItem = Find(items, L"ALPHA");
    ASSERT_NE(nullptr, alphaItem);
    ASSERT_TRUE(alphaItem->folder);
    ASSERT_EQ(S_OK, alphaItem->folder->CreateSubfolder(CComBSTR(L"BETA")));
    ASSERT_EQ(S_OK, alphaItem->folder->Download(PcFile(L"INNER.BIN", 700)));
    alpha = alphaItem->folder;

    // Listed afresh: every folder first, then every file; sizes and the has-subfolders flag.
    ASSERT_EQ(S_OK, session_->RefreshFolder(kStorageCard));
    items = Listing(kStorageCard);
    bool filesBegun = false;
    for (const CFileItem& item : items) {
        if (item.kind == kFileItemFile)
            filesBegun = true;
        EXPECT_FALSE(filesBegun && item.kind == kFileItemFolder) << "folder after a file: " << Text(item.name).size();
        EXPECT_EQ(item.kind == kFileItemFolder, item.folder != nullptr);
        EXPECT_EQ(item.kind == kFileItemFile, item.file != nullptr);
        EXPECT_FALSE(Text(item.path).empty());
    }
    const CFileItem* a = Find(items, L"ALPHA");
    const CFileItem* o = Find(items, L"OMEGA");
    const CFileItem* f = Find(items, L"ROOTFILE.BIN");
    ASSERT_TRUE(a && o && f);
    EXPECT_EQ(1, a->hasSubfolders);
    EXPECT_EQ(0, o->hasSubfolders);
    EXPECT_EQ(3000u, f->information.size);
    long folderSize = -1;
    ASSERT_EQ(S_OK, a->folder->get_Size(&folderSize));
    EXPECT_EQ(static_cast<std::uint32_t>(folderSize), a->information.size);

    // A copy of a player item holds a reference of its own.
    {
        IZAVTFile* object = f->file;
        object->AddRef();
        const ULONG before = object->Release();
        CFileItem copy(*f);
        object->AddRef();
        EXPECT_EQ(before + 1, object->Release());
        CFileItem assigned;
        assigned = copy;
        object->AddRef();
        EXPECT_EQ(before + 2, object->Release());
    }

    // Into ALPHA and back: its parent is the root.
    ASSERT_EQ(S_OK, session_->OpenFolder(alpha));
    items = Listing(kStorageCard);
    ASSERT_EQ(2u, items.size());
    EXPECT_EQ(L"BETA", Text(items[0].name));
    EXPECT_EQ(L"INNER.BIN", Text(items[1].name));
    EXPECT_EQ(1, session_->GoToParentFolder(kStorageCard));
    items = Listing(kStorageCard);
    EXPECT_NE(nullptr, Find(items, L"ALPHA"));
    // At the root already: 1, and nothing is listed again.
    EXPECT_EQ(1, session_->GoToParentFolder(kStorageCard));

    // Into BETA: its parent ALPHA is no root.
    ASSERT_EQ(S_OK, session_->OpenFolder(alpha));
    items = Listing(kStorageCard);
    ASSERT_EQ(S_OK, session_->OpenFolder(items[0].folder));
    EXPECT_TRUE(Listing(kStorageCard).empty());
    EXPECT_EQ(S_OK, session_->GoToParentFolder(kStorageCard));
    EXPECT_EQ(2u, Listing(kStorageCard).size());
    EXPECT_EQ(S_OK, session_->GoToRootFolder(kStorageCard));

    // Internal memory has its own current folder.
    ASSERT_EQ(S_OK, session_->GoToRootFolder(kStorageInternal));
    items = Listing(kStorageInternal);
    EXPECT_FALSE(items.empty());
    EXPECT_EQ(nullptr, Find(items, L"ALPHA"));
}

// The poll step against the player's changes, one after the other: what Refresh answers and what the
// session then holds.
TEST_F(DeviceSessionTest, ThePollFollowsThePlayerThroughUnplugCardChangesAndWrites)
{
    struct Case {
        const char* name;
        std::function<void()> change;
        HRESULT result;
        int present;
        int storages;
        std::uint32_t cardBytesAtMost;  // 0: no card figures
        bool identified;                // the player's identity was read again (events 13, 14 posted)
    };
    CComPtr<IZAVTFolder> internalRoot;
    ASSERT_EQ(S_OK, session_->Storage(kStorageInternal)->get_RootFolder(&internalRoot));
    std::uint32_t freeBefore = 0;
    const Case cases[] = {
        {"nothing changed", [] {}, 0, 1, 2, kFirstCardSectors * 512u, false},
        {"a file written",
         [&] {
             freeBefore = Info().internalFree;
             ASSERT_EQ(S_OK, internalRoot->Download(PcFile(L"WRITTEN.BIN", 50000)));
         },
         1, 1, 2, kFirstCardSectors * 512u, false},
        {"nothing changed after the write", [] {}, 0, 1, 2, kFirstCardSectors * 512u, false},
        {"a file deleted",
         [&] {
             ASSERT_EQ(S_OK, session_->RefreshFolder(kStorageInternal));
             const std::vector<CFileItem> items = Listing(kStorageInternal);
             const CFileItem* written = Find(items, L"WRITTEN.BIN");
             ASSERT_NE(nullptr, written);
             ASSERT_EQ(S_OK, written->file->Delete());
         },
         1, 1, 2, kFirstCardSectors * 512u, false},
        {"card pulled out", [] { ASSERT_TRUE(player_->Player().SetCardInserted(false)); }, 1, 1, 1, 0, true},
        {"card pushed back", [] { ASSERT_TRUE(player_->Player().SetCardInserted(true)); }, 1, 1, 2,
         kFirstCardSectors * 512u, true},
        {"another card", [] { ASSERT_TRUE(player_->Player().InsertSectorCard(kSecondCardSectors)); }, 1, 1, 2,
         kSecondCardSectors * 512u, true},
        {"unplugged", [] { player_->Server().Unplug(); }, 1, 0, 0, 0, false},
        {"still unplugged", [] {}, 0, 0, 0, 0, false},
        {"plugged in again", [] { player_->Server().Plug(); }, 1, 1, 2, kSecondCardSectors * 512u, true},
        // Finding the player again went round the device's change record: its identification is reported
        // by the next poll, once.
        {"the identification heard once more", [] {}, 1, 1, 2, kSecondCardSectors * 512u, false},
        {"nothing changed at the end", [] {}, 0, 1, 2, kSecondCardSectors * 512u, false},
    };
    PollOnWorker(*session_);  // what the earlier tests changed
    std::uint32_t cardBefore = Info().cardTotal;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.change();
        session_->seen.clear();
        EXPECT_EQ(c.result, PollOnWorker(*session_));
        const DeviceInfo info = Info();
        EXPECT_EQ(c.present, info.present);
        EXPECT_EQ(c.storages, info.storageCount);
        EXPECT_EQ(c.present, info.internalReady);
        EXPECT_EQ(c.cardBytesAtMost != 0, info.cardReady != 0);
        if (c.cardBytesAtMost) {
            EXPECT_GT(info.cardTotal, c.cardBytesAtMost / 2);
            EXPECT_LE(info.cardTotal, c.cardBytesAtMost);
        } else {
            EXPECT_EQ(0u, info.cardTotal);
            EXPECT_EQ(0u, info.cardFree);
        }
        // Name and firmware go with the player and come back with it.
        EXPECT_EQ(c.present != 0, !Text(info.name).empty());
        EXPECT_EQ(c.present != 0, !Text(info.firmwareVersion).empty());
        if (!c.present) {
            EXPECT_EQ(0u, info.internalTotal);
        }
        if (c.identified) {
            // Raised on the poll's worker, handled here.
            const std::vector<int> ids = session_->Ids();
            ASSERT_GE(ids.size(), 2u);
            EXPECT_EQ(13, ids.front());
            EXPECT_EQ(14, ids.back());
            for (const auto& seen : session_->seen)
                EXPECT_EQ(GetCurrentThreadId(), seen.thread);
        }
        if (std::string(c.name) == "a file written") {
            EXPECT_LT(info.internalFree, freeBefore);
        } else if (std::string(c.name) == "a file deleted") {
            EXPECT_EQ(freeBefore, info.internalFree);
        } else if (std::string(c.name) == "another card") {
            EXPECT_GT(info.cardTotal, cardBefore);
        }
    }

    // A busy session's poll does nothing, and the next one after it still works.
    ASSERT_TRUE(player_->Player().SetCardInserted(false));
    session_->SetOperationKind(kOperationDownload);
    EXPECT_EQ(0, PollOnWorker(*session_));
    EXPECT_EQ(2, Info().storageCount);
    session_->SetOperationKind(kOperationIdle);
    EXPECT_EQ(1, PollOnWorker(*session_));
    EXPECT_EQ(1, Info().storageCount);
    ASSERT_TRUE(player_->Player().SetCardInserted(true));
    EXPECT_EQ(1, PollOnWorker(*session_));
    EXPECT_EQ(2, Info().storageCount);
}

TEST_F(DeviceSessionTest, CloseFreesTheRecordAndDisconnectsTheEvents)
{
    ASSERT_EQ(S_OK, session_->Close());
    EXPECT_FALSE(session_->IsOpened());
    const DeviceInfo info = Info();
    EXPECT_EQ(0, info.present);
    EXPECT_EQ(nullptr, info.name.get());
    EXPECT_EQ(nullptr, info.firmwareDate.get());
    EXPECT_EQ(0u, info.internalTotal);
    EXPECT_FALSE(session_->Control());
    EXPECT_FALSE(session_->Storage(kStorageInternal));
    EXPECT_EQ(E_NOINTERFACE, session_->Connect());
    EXPECT_EQ(S_OK, session_->Close());
}

}  // namespace
